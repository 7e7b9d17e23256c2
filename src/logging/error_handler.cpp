#include "error_handler.h"

#include "common/run_time_error.h"
#include "common/tool_kind.h"
#include "operation_log.h"

namespace ostrel {

void LogErrorText(std::string_view tag, std::string_view description) noexcept {
  try {
    std::string line(description);
    line += '(';
    line += tag;
    line += ')';
    WriteLog(intToolKind, line);
  } catch (...) {
  }
}

void LogError(std::string_view tag, const std::exception& error) noexcept {
  try {
    LogErrorText(tag, DescriptionOf(error));
  } catch (...) {
  }
}

}  // namespace ostrel
