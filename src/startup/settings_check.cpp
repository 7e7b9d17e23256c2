#include "settings_check.h"

#include "common/numeric_text.h"
#include "common/tool_kind.h"
#include "settings/ini_file.h"
#include "settings/validators.h"

namespace ostrel {

bool StoredCommSettingsUsable(const std::string& file) {
  if (!CheckIpAddress(ReadIni("IPAddress", "IPAddress", file))) return false;
  if (!IsNumericText(ReadIni("Port", "UdpSrcPort", file))) return false;
  if (!IsNumericText(ReadIni("Port", "UdpDestPort", file))) return false;
  const std::string interval = ReadIni("Maintenance", "Sendinterval", file);
  if (!IsNumericText(interval)) return false;
  const std::string unit_text = ReadIni("Maintenance", "SendIntervalUnit", file);
  if (!IsNumericText(unit_text)) return false;
  const int16_t unit = TextToInteger(unit_text);
  return CheckInterval(interval, Kiv_UdpSnd, unit);
}

}  // namespace ostrel
