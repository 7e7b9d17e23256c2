#include "com_setting.h"

#include <array>
#include <string_view>

#include "common/numeric_text.h"
#include "common/run_time_error.h"
#include "common/text_scan.h"
#include "common/tool_kind.h"
#include "ini_file.h"
#include "validators.h"

namespace ostrel {
namespace {

struct SettingKey {
  std::string_view section;
  std::string_view key;
};

constexpr SettingKey kSrcPortKey{"Port", "UdpSrcPort"};
constexpr SettingKey kDestIPKey{"IPAddress", "IPAddress"};
constexpr SettingKey kDestPortKey{"Port", "UdpDestPort"};
constexpr SettingKey kSendIntervalKey{"Maintenance", "Sendinterval"};
constexpr SettingKey kTimeUnitKey{"Maintenance", "SendIntervalUnit"};

// The four text boxes in the order Apply stores them.
struct TextSetting {
  SettingKey key;
  std::string ComSettingTexts::*text;
};
constexpr std::array<TextSetting, 4> kTextSettings{{
    {kSrcPortKey, &ComSettingTexts::strSrcPort},
    {kDestIPKey, &ComSettingTexts::strDestIP},
    {kDestPortKey, &ComSettingTexts::strDestPort},
    {kSendIntervalKey, &ComSettingTexts::strSendInterval},
}};

std::string Read(const SettingKey& key, const std::string& file) {
  return ReadIni(key.section, key.key, file);
}

// The send period in `intUnit`; an invalid one gives `message`, CR LF and the limits
// of that unit (0～0 for a unit that has none).
std::optional<ComSettingFailure> CheckSendInterval(std::string_view strInterval, int intUnit,
                                                   const char* message) {
  const IntervalLimits limits = SendIntervalLimits(intUnit);
  if (limits.valid && CheckInterval(strInterval, Kiv_UdpSnd, static_cast<int16_t>(intUnit))) {
    return std::nullopt;
  }
  return ComSettingFailure{ComSettingBox::SendInterval, std::string(message) + "\r\n" +
                                                            std::to_string(limits.lower) + "～" +
                                                            std::to_string(limits.upper)};
}

}  // namespace

ComSettingLoad LoadComSetting(const std::string& strIniFile) {
  ComSettingLoad load;
  load.texts.strSrcPort = Read(kSrcPortKey, strIniFile);
  load.texts.strDestIP = Read(kDestIPKey, strIniFile);
  load.texts.strDestPort = Read(kDestPortKey, strIniFile);
  load.texts.strSendInterval = Read(kSendIntervalKey, strIniFile);

  const std::string strUnit = Read(kTimeUnitKey, strIniFile);
  if (!IsNumericText(strUnit)) return load;
  try {
    const int16_t intUnit = TextToInteger(strUnit);
    // The unit box has three items; -1 selects none.
    if (intUnit < -1 || intUnit > 2) {
      load.unit_error = desc::kInvalidPropertyValue;
    } else {
      load.texts.intTimeUnit = intUnit;
    }
  } catch (const RunTimeError& error) {
    load.unit_error = error.Description();
  }
  return load;
}

std::optional<ComSettingFailure> CheckApply(const ComSettingTexts& texts) {
  using namespace com_setting_msg;
  if (!CheckPortNo(texts.strSrcPort)) return ComSettingFailure{ComSettingBox::SrcPort, kBadSrcPort};
  if (!CheckIpAddress(texts.strDestIP)) return ComSettingFailure{ComSettingBox::DestIP, kBadDestIP};
  if (!CheckPortNo(texts.strDestPort)) {
    return ComSettingFailure{ComSettingBox::DestPort, kBadDestPort};
  }
  return CheckSendInterval(texts.strSendInterval, texts.intTimeUnit, kBadSendInterval);
}

bool WriteChanges(const ComSettingTexts& texts, const std::string& strIniFile) {
  bool blnChanged = false;
  const auto store = [&](const SettingKey& key, const std::string& value) {
    if (value == Read(key, strIniFile)) return;
    WriteIni(key.section, key.key, strIniFile, value);
    blnChanged = true;
  };
  for (const TextSetting& setting : kTextSettings) {
    // Leading and trailing spaces removed; tabs are kept, as the operator typed them.
    store(setting.key, std::string(TrimSpaces(texts.*setting.text)));
  }
  store(kTimeUnitKey, std::to_string(texts.intTimeUnit));
  return blnChanged;
}

std::optional<ComSettingFailure> CheckCancel(const std::string& strIniFile) {
  using namespace com_setting_msg;
  if (!CheckIpAddress(Read(kDestIPKey, strIniFile))) {
    return ComSettingFailure{ComSettingBox::DestIP, kSetValidIP};
  }
  if (!CheckPortNo(Read(kSrcPortKey, strIniFile))) {
    return ComSettingFailure{ComSettingBox::SrcPort, kSetValidPort};
  }
  if (!CheckPortNo(Read(kDestPortKey, strIniFile))) {
    return ComSettingFailure{ComSettingBox::DestPort, kSetValidPort};
  }
  const std::string strUnit = Read(kTimeUnitKey, strIniFile);
  const int intUnit = IsNumericText(strUnit) ? TextToInteger(strUnit) : 0;
  return CheckSendInterval(Read(kSendIntervalKey, strIniFile), intUnit, kSetValidSendInterval);
}

}  // namespace ostrel
