#pragma once
// The results of a test file's steps as a JUnit XML report, the form CI servers read:
//
//   <testsuites name tests failures errors skipped time>
//     <testsuite name="… run 1" tests failures errors skipped time timestamp hostname id>
//       <testcase name="2 read" classname="… run 1.repeat 1" time="0.004">
//         <failure message="不一致 (mismatch) at 4,5" type="mismatch">…</failure>
//         <system-out>sent: 01 03 …&#10;answer: 01 03 …</system-out>
//       </testcase> …
//
// One testsuite per run, one testcase per step carried out in each repetition; a step the
// run never reached in the repetition where it ended is skipped. A verdict other than 一致
// is a failure, a run-time error an error.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "verification/verdict.h"

namespace ostrel {

struct JUnitCase {
  std::string name;
  int32_t repetition = 1;
  double seconds = 0;
  bool skipped = false;
  bool error = false;  // a run-time error ended the step
  Judgement judgement;
  std::vector<uint8_t> sent;
  std::vector<uint8_t> answer;
};

struct JUnitSuite {
  std::string name;
  LocalTime started;
  double seconds = 0;
  std::vector<JUnitCase> cases;
};

// The whole report, for `suites` of the test called `name`; `host` for the hostname.
std::string JUnitXml(const std::string& name, const std::vector<JUnitSuite>& suites,
                     const std::string& host);

// `text` made fit for an XML attribute or text: the five special characters as entities,
// line breaks and tabs as character references, other control characters as blanks.
std::string XmlEscaped(const std::string& text);

}  // namespace ostrel
