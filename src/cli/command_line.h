#pragma once
// The command line of ostrel-send: which settings file, which values of it to replace for
// this run, what to send, how often, and how to print. Every value is checked here with
// the program's own validators and ranges, before anything is read, logged or sent.

#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fields/field_definition.h"
#include "verification/answer_pattern.h"
#include "verification/sender_rule.h"

namespace ostrel {

struct SendOptions {
  std::string settings_file;  // empty: Config/Kiv_UdpSendSetting.ini beside the executable

  // Values that replace the settings file's for this run only (the file is never written).
  std::optional<std::string> dest;      // a dotted IPv4 address CheckIpAddress accepts
  std::optional<int32_t> dest_port;     // 0..65535
  std::optional<int32_t> src_port;      // 0..65535
  std::optional<int32_t> timeout_ms;    // UdpAnsTimeOut: any 32-bit value
  std::optional<int16_t> retries;       // CommonSendRetry: any 16-bit value
  std::optional<int16_t> ping_retries;  // PingRetry: any 16-bit value

  int64_t count = 1;                   // cycles; 0 runs until interrupted
  std::optional<int32_t> interval_ms;  // between a cycle's end and the next one's start

  // The payload: the file's first 2048 bytes when `data_file` is set, else `hex_bytes`
  // (empty when --hex was not given), else the test file's.
  std::optional<std::string> data_file;
  std::vector<uint8_t> hex_bytes;
  // Computed fields written into the payload before every transmission, in order: a test
  // file's, then --crc's (a CRC over the whole payload, appended).
  std::vector<FieldDefinition> fields;

  // The test file: its payload and expectation, each part replaced where --data/--hex,
  // --expect or --expect-from is given as well.
  std::optional<std::string> test_file;
  std::optional<AnswerPattern> expect;    // --expect
  std::optional<SenderRule> expect_from;  // --expect-from

  bool json = false;       // one JSON object per cycle and one for the summary
  bool quiet = false;      // the summary only
  std::string answer_out;  // where the last answer's bytes go; empty: nowhere
  std::string pcap;        // the capture file of every datagram; empty: none
  std::string junit_file;  // where the JUnit report of a test file's steps goes; empty: nowhere
};

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kError };
  Action action = Action::kError;
  SendOptions options;
  // The text to print for kHelp (the help, or --list-crc's catalogue) and kVersion, or for kError
  // the message about the first bad argument, beginning "ostrel-send: ".
  std::string text;
};

// Parses `arguments` (the program name first). Never raises.
CommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace ostrel
