#include "junit_report.h"

#include <array>
#include <charconv>
#include <cstdio>

#include "common/display_text.h"

namespace ostrel {
namespace {

std::string Seconds(double value) {
  std::array<char, 64> buffer{};
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                          value < 0 ? 0.0 : value, std::chars_format::fixed, 3);
  return error == std::errc() ? std::string(buffer.data(), end) : std::string("0.000");
}

// ISO 8601 without a zone, as the JUnit schema has it: 2026-12-08T13:45:00.
std::string Timestamp(const LocalTime& t) {
  std::array<char, 32> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month,
                t.day, t.hour, t.minute, t.second);
  return buffer.data();
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (const uint8_t byte : bytes) out += (out.empty() ? "" : " ") + HexText2(byte);
  return out.empty() ? "-" : out;
}

std::string Attribute(const char* name, const std::string& value) {
  return std::string(" ") + name + "=\"" + XmlEscaped(value) + "\"";
}

struct Counts {
  std::size_t tests = 0, failures = 0, errors = 0, skipped = 0;
  void Add(const JUnitCase& c) {
    ++tests;
    if (c.skipped)
      ++skipped;
    else if (c.error)
      ++errors;
    else if (c.judgement.verdict != Verdict::kMatch)
      ++failures;
  }
  std::string Attributes() const {
    return Attribute("tests", std::to_string(tests)) +
           Attribute("failures", std::to_string(failures)) +
           Attribute("errors", std::to_string(errors)) +
           Attribute("skipped", std::to_string(skipped));
  }
};

std::string VerdictMessage(const Judgement& j) {
  std::string message =
      std::string(VerdictText(j.verdict)) + " (" + VerdictJsonName(j.verdict) + ")";
  if (j.verdict == Verdict::kMismatch) {
    message += " at";
    for (std::size_t i = 0; i < j.mismatch_at.size(); ++i)
      message += (i ? "," : " ") + std::to_string(j.mismatch_at[i]);
  }
  return message;
}

std::string CaseXml(const JUnitCase& c, const std::string& classname) {
  std::string out = "    <testcase" + Attribute("name", c.name) +
                    Attribute("classname", classname) + Attribute("time", Seconds(c.seconds));
  if (c.skipped)
    return out + ">\n      <skipped" + Attribute("message", "not reached") +
           "/>\n    </testcase>\n";
  out += ">\n";
  const std::string message = VerdictMessage(c.judgement);
  if (c.error)
    out += "      <error" + Attribute("message", "run-time error; " + message) +
           Attribute("type", "error") + "/>\n";
  else if (c.judgement.verdict != Verdict::kMatch)
    out += "      <failure" + Attribute("message", message) +
           Attribute("type", VerdictJsonName(c.judgement.verdict)) + ">" +
           XmlEscaped(VerdictLogLine(c.judgement)) + "</failure>\n";
  out += "      <system-out>" +
         XmlEscaped("sent: " + Hex(c.sent) + "\nanswer: " + Hex(c.answer) + "\n") +
         "</system-out>\n";
  return out + "    </testcase>\n";
}

}  // namespace

std::string XmlEscaped(const std::string& text) {
  std::string out;
  for (const char ch : text) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\t':
        out += "&#9;";
        break;
      default:
        out += static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F ? ' ' : ch;
    }
  }
  return out;
}

std::string JUnitXml(const std::string& name, const std::vector<JUnitSuite>& suites,
                     const std::string& host) {
  Counts total;
  double seconds = 0;
  std::string body;
  for (std::size_t s = 0; s < suites.size(); ++s) {
    const JUnitSuite& suite = suites[s];
    Counts counts;
    std::string cases;
    for (const JUnitCase& c : suite.cases) {
      counts.Add(c);
      total.Add(c);
      cases += CaseXml(c, suite.name + ".repeat " + std::to_string(c.repetition));
    }
    seconds += suite.seconds;
    body += "  <testsuite" + Attribute("name", suite.name) + counts.Attributes() +
            Attribute("time", Seconds(suite.seconds)) +
            Attribute("timestamp", Timestamp(suite.started)) + Attribute("hostname", host) +
            Attribute("id", std::to_string(s)) + ">\n" + cases + "  </testsuite>\n";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" + Attribute("name", name) +
         total.Attributes() + Attribute("time", Seconds(seconds)) + ">\n" + body +
         "</testsuites>\n";
}

}  // namespace ostrel
