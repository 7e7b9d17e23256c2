#pragma once
// The values one run of ostrel-send uses: the settings file as the window loads it, with
// the command line's overrides laid over it.

#include <cstdint>
#include <ostream>
#include <string>

#include "command_line.h"
#include "settings/read_setting.h"

namespace ostrel {

class Timer;

// ReadSetting's host in a terminal: each message goes to `err` as a line; the answer
// timer is a Timer of the caller's.
class TerminalSettingHost final : public ReadSettingHost {
 public:
  TerminalSettingHost(std::ostream& err, Timer& tmrRcvAns) : err_(err), tmrRcvAns_(tmrRcvAns) {}
  void ShowCriticalMessage(const std::string& text) override;
  void SetAnswerTimerInterval(int32_t milliseconds) override;
  // True once a message was shown: every message of ReadSetting means the load failed.
  bool Failed() const { return failed_; }

 private:
  std::ostream& err_;
  Timer& tmrRcvAns_;
  bool failed_ = false;
};

// Checks the stored communication values the run uses (those not overridden) with the
// program's validators, as the window's start-up check does, and lays the overrides over
// `settings` (loaded from `file` by ReadSetting). The send period is needed only when
// more than one cycle runs without --interval. Sets `period_ms` to the time between a
// cycle's end and the next one's start. Gives the message about the first unusable
// stored value, or the empty text.
std::string ResolveRunSettings(const std::string& file, const SendOptions& options,
                               MainSettings& settings, int64_t& period_ms);

}  // namespace ostrel
