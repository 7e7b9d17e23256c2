#include "command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <tuple>

#include "common/numeric_text.h"
#include "common/run_time_error.h"
#include "fields/crc.h"
#include "payload.h"
#include "settings/validators.h"
#include "value_messages.h"

namespace ostrel {
namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

class Parser {
 public:
  explicit Parser(const QStringList& arguments) : arguments_(arguments) {
    parser_.setApplicationDescription(
        Q("設定ファイルの通信設定で送信サイクルを実行します。到達確認（Ping）、送信、応答待ち、"
          "再送を画面版と同じ手順で行い、同じ操作ログに記録します。\n"
          "終了コード: 0 全サイクル（手順があれば全手順）応答あり（期待応答があれば全て一致） / "
          "1 応答なし・到達不能あり / 2 引数・設定・試験ファイルの誤り / 3 実行時エラー / "
          "4 全サイクル（全手順）応答ありで期待応答に一致しない応答あり"));
    parser_.addHelpOption();
    parser_.addVersionOption();
    Add({"settings"}, "設定ファイル（既定: 実行ファイルの隣の Config/Kiv_UdpSendSetting.ini）",
        "file");
    Add({"dest"}, "送信先 IP アドレス", "address");
    Add({"port"}, "送信先ポート番号（0～65535）", "n");
    Add({"src-port"}, "送信元ポート番号（0～65535）", "n");
    Add({"c", "count"},
        "送信サイクル数（既定 1、0 は中断されるまで。手順（steps）のある試験ファイルでは"
        "手順全体を実行する回数）",
        "n");
    Add({"interval"},
        "サイクルの終わりから次のサイクルまでのミリ秒（0～3600000、既定は設定の送信周期）", "ms");
    Add({"timeout"}, "応答タイムアウト（ミリ秒）", "ms");
    Add({"retries"}, "1 サイクルの送信回数（共通のリトライ回数）", "n");
    Add({"ping-retries"}, "1 サイクルの到達確認の回数（Ping リトライ回数）", "n");
    Add({"data"}, "送信データファイル（先頭 2048 バイト）", "file");
    Add({"hex"}, "送信データを 16 進数で（例: \"01 02 FF\"、0x 可）", "bytes");
    Add({"json"}, "サイクルごとと集計を JSON で出力する");
    Add({"q", "quiet"}, "集計だけを出力する");
    Add({"answer-out"}, "最後の応答データをこのファイルに書き出す", "file");
    Add({"pcap"},
        "送受信した全データグラムをこの pcapng ファイルに記録する（Wireshark で開ける。"
        "サイクル・送信回数・往復時間・判定を注記に付ける）",
        "file");
    Add({"test"},
        "試験ファイル（送信データと期待応答。--data・--hex・--expect・--expect-from "
        "はその部分を置き換える。手順（steps）があれば手順を順に実行し、1 手順 1 行で出力する）",
        "file");
    Add({"junit"},
        "試験の結果を JUnit XML（CI サーバーが読む形式）でこのファイルに書き出す（手順ごと、"
        "手順がなければサイクルごとに 1 件）",
        "file");
    Add({"expect"}, "期待応答のパターン（例: \"01 03 04 ?? ?? *\"）", "pattern");
    Add({"expect-from"}, "応答してよい送信元: address（既定）、address-and-port、any", "rule");
    Add({"crc"},
        "送信データ全体の CRC を末尾に加える（MODEL は --list-crc の名前、バイト順は :big（既定）"
        "か :little。例: CRC-16/MODBUS:little）",
        "model[:order]");
    Add({"list-crc"},
        "使える CRC モデルを 1 行に 1 つ表示する（幅・多項式・初期値・反転・最終 XOR・"
        "\"123456789\" のチェック値）");
  }

  CommandLine Parse() {
    CommandLine result;
    if (!parser_.parse(arguments_)) return Error(parser_.errorText().toStdString());
    if (parser_.isSet(QStringLiteral("help")) || parser_.isSet(QStringLiteral("help-all"))) {
      result.action = CommandLine::Action::kHelp;
      result.text = parser_.helpText().toStdString();
      return result;
    }
    if (parser_.isSet(QStringLiteral("version"))) {
      result.action = CommandLine::Action::kVersion;
      result.text = (QCoreApplication::applicationName() + QLatin1Char(' ') +
                     QCoreApplication::applicationVersion() + QLatin1Char('\n'))
                        .toStdString();
      return result;
    }
    if (IsSet("list-crc")) {
      result.action = CommandLine::Action::kHelp;
      for (const CrcModel& model : CrcCatalogue()) result.text += FormatCrcModel(model) + "\n";
      return result;
    }
    if (!parser_.positionalArguments().isEmpty())
      return Error("余分な引数があります: " + parser_.positionalArguments().first().toStdString());

    SendOptions& o = result.options;
    if (IsSet("settings")) o.settings_file = Value("settings");
    if (IsSet("dest")) {
      const std::string text = Trimmed("dest");
      if (!CheckIpAddress(text)) return Bad("dest", value_msg::kDestIp);
      o.dest = text;
    }
    if (!Port("port", value_msg::kDestPort, o.dest_port)) return failure_;
    if (!Port("src-port", value_msg::kSrcPort, o.src_port)) return failure_;
    if (IsSet("count")) {
      const auto count = Number("count", value_msg::kCount);
      if (!count) return failure_;
      o.count = *count;
    }
    if (IsSet("interval")) {
      o.interval_ms = Number("interval", value_msg::kInterval);
      if (!o.interval_ms) return failure_;
    }
    if (IsSet("timeout")) {
      o.timeout_ms = Number("timeout", value_msg::kTimeOut);
      if (!o.timeout_ms) return failure_;
    }
    for (auto [name, rule, out] :
         {std::tuple{"retries", &value_msg::kRetries, &o.retries},
          std::tuple{"ping-retries", &value_msg::kPingRetries, &o.ping_retries}}) {
      if (!IsSet(name)) continue;
      const auto value = Number(name, *rule);
      if (!value) return failure_;
      *out = static_cast<int16_t>(*value);
    }

    // The test file and the expected answer.
    if (IsSet("test")) o.test_file = Value("test");
    if (IsSet("expect")) {
      PatternParse pattern = AnswerPattern::Parse(Value("expect"));
      if (!pattern.Ok()) return Error("--expect: " + pattern.error.message);
      o.expect = std::move(pattern.pattern);
    }
    if (IsSet("expect-from")) {
      o.expect_from = SenderRuleFromName(Value("expect-from"));
      if (!o.expect_from)
        return Error("--expect-from \"" + Value("expect-from") +
                     "\": address、address-and-port、any のどれかを指定してください。");
      if (!o.expect && !o.test_file)
        return Error("--expect-from には --expect か --test が要ります。");
    }

    const bool data = IsSet("data"), hex = IsSet("hex");
    if (data && hex) return Error("--data と --hex は同時に指定できません。");
    if (!data && !hex && !o.test_file)
      return Error(
          "送信データを --data FILE か --hex BYTES（または --test FILE）で指定してください。");
    if (data) o.data_file = Value("data");
    if (hex) {
      PayloadResult payload = ParseHexPayload(Value("hex"));
      if (!payload.error.empty()) return Error("--hex: " + payload.error);
      o.hex_bytes = std::move(payload.bytes);
    }
    o.json = IsSet("json");
    o.quiet = IsSet("quiet");
    if (IsSet("answer-out")) {
      o.answer_out = Value("answer-out");
      if (o.answer_out.empty()) return Error("--answer-out: ファイル名がありません。");
    }
    if (IsSet("pcap")) {
      o.pcap = Value("pcap");
      if (o.pcap.empty()) return Error("--pcap: ファイル名がありません。");
    }
    if (IsSet("junit")) {
      o.junit_file = Value("junit");
      if (o.junit_file.empty()) return Error("--junit: ファイル名がありません。");
      if (!o.test_file) return Error("--junit には試験ファイル（--test）が要ります。");
    }
    if (IsSet("crc") && !Crc(o.fields)) return failure_;
    result.action = CommandLine::Action::kRun;
    return result;
  }

 private:
  void Add(const QStringList& names, const char* description, const char* value_name = nullptr) {
    QCommandLineOption option(names, Q(description));
    if (value_name) option.setValueName(QString::fromLatin1(value_name));
    parser_.addOption(option);
  }

  bool IsSet(const char* name) const { return parser_.isSet(QString::fromLatin1(name)); }
  std::string Value(const char* name) const {
    return parser_.value(QString::fromLatin1(name)).toStdString();
  }
  // An override is taken as the settings file would give it: without blanks around it.
  std::string Trimmed(const char* name) const {
    const std::string text = Value(name);
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
  }

  CommandLine Error(const std::string& message) {
    failure_.action = CommandLine::Action::kError;
    failure_.text = "ostrel-send: " + message + "\n";
    return failure_;
  }

  // ostrel-send: --port "65536": 送信先ポート番号が不正です。(0～65535)
  CommandLine Bad(const char* name, const ValueRule& rule) {
    return Error(std::string("--") + name + " \"" + Value(name) + "\": " + RuleMessage(rule));
  }

  bool Port(const char* name, const ValueRule& rule, std::optional<int32_t>& out) {
    if (!IsSet(name)) return true;
    const std::string text = Trimmed(name);
    if (!CheckPortNo(text)) {
      Bad(name, rule);
      return false;
    }
    out = TextToLong(text);
    return true;
  }

  // --crc MODEL[:little|big]: the model's CRC over the whole payload, appended.
  bool Crc(std::vector<FieldDefinition>& fields) {
    const std::string text = Trimmed("crc");
    const std::size_t colon = text.rfind(':');
    FieldDefinition crc;
    crc.at.reset();  // "end"
    if (colon != std::string::npos) {
      const std::optional<ByteOrder> order = ParseByteOrder(text.substr(colon + 1));
      if (!order) {
        Error("--crc \"" + text + "\": バイト順は :big か :little で指定してください。");
        return false;
      }
      crc.order = *order;
    }
    const CrcModel* model = FindCrcModel(text.substr(0, colon));
    if (!model) {
      Error("--crc \"" + text +
            "\": その名前の CRC モデルはありません（--list-crc で一覧を表示します）。");
      return false;
    }
    crc.model = std::string(model->name);
    fields.push_back(std::move(crc));
    return true;
  }

  // A numeric text whose value, rounded as the settings are, lies in the rule's range.
  std::optional<int32_t> Number(const char* name, const ValueRule& rule) {
    const std::string text = Trimmed(name);
    try {
      if (IsNumericText(text)) {
        const int32_t value = TextToLong(text);
        if (value >= rule.lower && value <= rule.upper) return value;
      }
    } catch (const RunTimeError&) {  // beyond 32 bits
    }
    Bad(name, rule);
    return std::nullopt;
  }

  QStringList arguments_;
  QCommandLineParser parser_;
  CommandLine failure_;
};

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  try {
    return Parser(arguments).Parse();
  } catch (const std::exception& error) {
    CommandLine result;
    result.text = std::string("ostrel-send: ") + DescriptionOf(error) + "\n";
    return result;
  }
}

}  // namespace ostrel
