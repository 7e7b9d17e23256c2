#include "respond_command_line.h"

#include <arpa/inet.h>

#include <QCommandLineParser>
#include <QCoreApplication>

namespace ostrel {
namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

RespondCommandLine Failed(const std::string& message) {
  RespondCommandLine result;
  result.text = "ostrel-respond: " + message + "\n";
  return result;
}

// A decimal text without sign or blanks, in lower..upper.
bool Decimal(const QString& text, uint64_t lower, uint64_t upper, uint64_t& out) {
  if (text.isEmpty()) return false;
  for (const QChar ch : text)
    if (ch < QLatin1Char('0') || ch > QLatin1Char('9')) return false;
  bool ok = false;
  out = text.toULongLong(&ok);
  return ok && out >= lower && out <= upper;
}

}  // namespace

RespondCommandLine ParseRespondCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      Q("UDP の要求に、ルールファイルのルールで機器のように応答します（--echo: 受けたデータを"
        "そのまま返す）。要求ごとに 1 行（時刻、送信元、バイト数、ルール、したこと）を出力します。"
        "Ctrl-C で終わります。\n"
        "終了コード: 0 正常 / 2 引数・ルールファイルの誤り / 3 実行時エラー（ポート使用中など）"));
  parser.addHelpOption();
  parser.addVersionOption();
  const auto add = [&parser](const QStringList& names, const char* description,
                             const char* value_name = nullptr) {
    QCommandLineOption option(names, Q(description));
    if (value_name) option.setValueName(QString::fromLatin1(value_name));
    parser.addOption(option);
  };
  add({"address"}, "待ち受ける IPv4 アドレス（既定 127.0.0.1）", "address");
  add({"port"}, "待ち受けるポート番号（1～65535、既定 50000）", "n");
  add({"rules"}, "応答ルールファイル（JSON）", "file");
  add({"echo"}, "受けたデータをそのまま返す");
  add({"json"}, "要求ごとに JSON オブジェクトを 1 行で出力する");
  add({"c", "count"}, "この数の要求を受けたら終わる（既定 0: 止められるまで）", "n");
  add({"seed"}, "drop_percent の乱数の種（既定 1。同じ種なら同じ要求が落ちる）", "n");

  try {
    if (!parser.parse(arguments)) return Failed(parser.errorText().toStdString());
    RespondCommandLine result;
    if (parser.isSet(QStringLiteral("help"))) {
      result.action = RespondCommandLine::Action::kHelp;
      result.text = parser.helpText().toStdString();
      return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
      result.action = RespondCommandLine::Action::kVersion;
      result.text = (QCoreApplication::applicationName() + QLatin1Char(' ') +
                     QCoreApplication::applicationVersion() + QLatin1Char('\n'))
                        .toStdString();
      return result;
    }
    if (!parser.positionalArguments().isEmpty())
      return Failed("余分な引数があります: " + parser.positionalArguments().first().toStdString());
    RespondOptions& o = result.options;
    const auto value = [&parser](const char* name) {
      return parser.value(QString::fromLatin1(name));
    };
    const auto is_set = [&parser](const char* name) {
      return parser.isSet(QString::fromLatin1(name));
    };
    if (is_set("address")) {
      o.address = value("address").toStdString();
      in_addr parsed{};
      if (inet_pton(AF_INET, o.address.c_str(), &parsed) != 1)
        return Failed("--address \"" + o.address +
                      "\": IPv4 アドレス（例: 127.0.0.1）で指定してください。");
    }
    uint64_t number = 0;
    if (is_set("port")) {
      if (!Decimal(value("port"), 1, 65535, number))
        return Failed("--port \"" + value("port").toStdString() +
                      "\": 待ち受けポート番号が不正です。(1～65535)");
      o.port = static_cast<uint16_t>(number);
    }
    if (is_set("count")) {
      if (!Decimal(value("count"), 0, INT64_MAX, number))
        return Failed("--count \"" + value("count").toStdString() +
                      "\": 要求の数が不正です。(0～9223372036854775807)");
      o.count = static_cast<int64_t>(number);
    }
    if (is_set("seed")) {
      if (!Decimal(value("seed"), 0, UINT64_MAX, number))
        return Failed("--seed \"" + value("seed").toStdString() +
                      "\": 乱数の種が不正です。(0～18446744073709551615)");
      o.seed = number;
    }
    o.echo = is_set("echo");
    if (is_set("rules")) {
      if (o.echo) return Failed("--rules と --echo は同時に指定できません。");
      o.rules_file = value("rules").toStdString();
      if (o.rules_file.empty()) return Failed("--rules: ファイル名がありません。");
    } else if (!o.echo) {
      return Failed("応答のしかたを --rules FILE か --echo で指定してください。");
    }
    o.json = is_set("json");
    result.action = RespondCommandLine::Action::kRun;
    return result;
  } catch (const std::exception& error) {
    return Failed(error.what());
  }
}

}  // namespace ostrel
