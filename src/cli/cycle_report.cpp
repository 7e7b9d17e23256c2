#include "cycle_report.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace ostrel {
namespace {

// Milliseconds with three decimals, with a point whatever the locale.
std::string Ms(double value) {
  std::array<char, 64> buffer{};
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                          std::chars_format::fixed, 3);
  return error == std::errc() ? std::string(buffer.data(), end) : std::string("0.000");
}

std::string Percent(double value) {
  std::array<char, 64> buffer{};
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                          std::chars_format::fixed, 2);
  return error == std::errc() ? std::string(buffer.data(), end) : std::string("0.00");
}

// A JSON string: the address is checked, but may hold blanks or tabs the numeric test takes.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (byte < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

template <typename T, typename Show>
std::string Or(const std::optional<T>& value, const char* missing, Show show) {
  return value ? show(*value) : std::string(missing);
}

std::string Count(std::size_t n) { return std::to_string(n); }

// The offsets, decimal, separated by `separator`.
std::string Offsets(const std::vector<std::size_t>& offsets, const char* separator) {
  std::string out;
  for (const std::size_t offset : offsets) out += (out.empty() ? "" : separator) + Count(offset);
  return out;
}

std::string VerdictFields(const std::optional<Judgement>& j) {
  if (!j) return "";
  std::string out = std::string(" verdict=") + VerdictJsonName(j->verdict);
  if (j->verdict == Verdict::kMismatch) out += " mismatch_at=" + Offsets(j->mismatch_at, ",");
  return out;
}

std::string VerdictMembers(const std::optional<Judgement>& j) {
  if (!j) return "";
  std::string out = std::string(",\"verdict\":\"") + VerdictJsonName(j->verdict) + "\"";
  if (j->verdict == Verdict::kMismatch)
    out += ",\"mismatch_at\":[" + Offsets(j->mismatch_at, ",") + "]";
  return out;
}

// The test's name on one line: control characters become blanks.
std::string OneLine(std::string text) {
  for (char& ch : text)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = ' ';
  return text;
}

std::string VerdictsText(const RunSummary& s) {
  if (!s.verdicts) return "";
  std::string out = s.test_name.empty() ? "" : " Test: " + OneLine(s.test_name) + "\n";
  out += " Verdicts:";
  for (const Verdict v : kAllVerdicts)
    out += std::string(v == kAllVerdicts.front() ? " " : " | ") + VerdictJsonName(v) + " " +
           std::to_string(s.verdicts->Count(v));
  return out + "\n";
}

std::string VerdictsJson(const RunSummary& s) {
  if (!s.verdicts) return "";
  std::string out = s.test_name.empty() ? "" : ",\"test\":" + JsonString(s.test_name);
  out += ",\"verdicts\":{";
  for (const Verdict v : kAllVerdicts)
    out += std::string(v == kAllVerdicts.front() ? "\"" : ",\"") + VerdictJsonName(v) +
           "\":" + std::to_string(s.verdicts->Count(v));
  return out + "}";
}

}  // namespace

const char* OutcomeName(CycleOutcome outcome) {
  switch (outcome) {
    case CycleOutcome::kAnswered:
      return "answered";
    case CycleOutcome::kUnanswered:
      return "unanswered";
    case CycleOutcome::kUnreachable:
      return "unreachable";
    case CycleOutcome::kError:
      break;
  }
  return "error";
}

// ---- the summary ----

void RunSummary::Add(const CycleRecord& record) {
  ++cycles;
  transmissions += record.transmissions;
  if (record.outcome == CycleOutcome::kAnswered) ++answered;
  if (record.outcome == CycleOutcome::kError) ++errors;
  if (verdicts && record.judgement) verdicts->Add(record.judgement->verdict);
  if (record.rtt_ms) {
    const double rtt = *record.rtt_ms;
    rtt_min = rtt_count == 0 ? rtt : std::min(rtt_min, rtt);
    rtt_max = rtt_count == 0 ? rtt : std::max(rtt_max, rtt);
    rtt_sum += rtt;
    ++rtt_count;
  }
}

double RunSummary::LostPercent() const {
  return transmissions == 0 ? 0.0 : 100.0 * static_cast<double>(Lost()) / transmissions;
}

int ExitStatus(const RunSummary& s) {
  if (s.errors > 0 || s.lost_log_lines > 0) return kExitRunTimeError;
  if (s.cycles == 0 || s.answered < s.cycles) return kExitNotAnswered;
  if (s.verdicts && s.verdicts->Count(Verdict::kMatch) < s.verdicts->Total())
    return kExitNotAsExpected;
  return kExitAllAnswered;
}

// ---- printing ----

namespace {

std::string RecordText(const CycleRecord& r) {
  return std::string(OutcomeName(r.outcome)) + " sent=" + std::to_string(r.sent_bytes) +
         " answer=" + Or(r.answer_bytes, "-", Count) +
         " rtt=" + Or(r.rtt_ms, "-", [](double v) { return Ms(v) + "ms"; }) +
         " transmissions=" + std::to_string(r.transmissions) + VerdictFields(r.judgement) + "\n";
}

std::string RecordMembers(const CycleRecord& r) {
  return std::string(",\"outcome\":\"") + OutcomeName(r.outcome) +
         "\",\"transmissions\":" + std::to_string(r.transmissions) +
         ",\"sent_bytes\":" + std::to_string(r.sent_bytes) +
         ",\"answer_bytes\":" + Or(r.answer_bytes, "null", Count) +
         ",\"rtt_ms\":" + Or(r.rtt_ms, "null", Ms) + VerdictMembers(r.judgement) + "}\n";
}

}  // namespace

std::string CycleText(int64_t number, const CycleRecord& r) {
  return "cycle " + std::to_string(number) + ": " + RecordText(r);
}

std::string CycleJson(int64_t number, const CycleRecord& r) {
  return "{\"type\":\"cycle\",\"cycle\":" + std::to_string(number) + RecordMembers(r);
}

std::string StepText(const StepPlace& place, const CycleRecord& r) {
  return "step " + std::to_string(place.step) + " " + JsonString(OneLine(place.name)) + " (run " +
         std::to_string(place.run) + ", repeat " + std::to_string(place.repetition) +
         "): " + RecordText(r);
}

std::string StepJson(const StepPlace& place, const CycleRecord& r) {
  return "{\"type\":\"step\",\"run\":" + std::to_string(place.run) +
         ",\"repeat\":" + std::to_string(place.repetition) +
         ",\"step\":" + std::to_string(place.step) + ",\"name\":" + JsonString(place.name) +
         RecordMembers(r);
}

std::string SummaryText(const RunSummary& s, const Destination& d) {
  const bool rtt = s.rtt_count > 0;
  const auto show = [rtt](double v) { return rtt ? Ms(v) + "ms" : std::string("N/A"); };
  return "Statistics for " + d.address + " port " + std::to_string(d.port) + " from port " +
         std::to_string(d.src_port) + (s.interrupted ? " (interrupted)" : "") + ":\n" +
         " Cycles: " + std::to_string(s.cycles) +
         " | Transmissions: " + std::to_string(s.transmissions) +
         " | Answered: " + std::to_string(s.answered) + " | Lost: " + std::to_string(s.Lost()) +
         " (" + Percent(s.LostPercent()) + "%)\n" + " Max rtt: " + show(s.rtt_max) +
         " | Min rtt: " + show(s.rtt_min) +
         " | Avg rtt: " + show(rtt ? s.rtt_sum / s.rtt_count : 0) + "\n" + VerdictsText(s) +
         (s.lost_log_lines > 0
              ? " Log: " + std::to_string(s.lost_log_lines) + " lines could not be written\n"
              : "");
}

std::string SummaryJson(const RunSummary& s, const Destination& d) {
  const bool rtt = s.rtt_count > 0;
  const auto show = [rtt](double v) { return rtt ? Ms(v) : std::string("null"); };
  return "{\"type\":\"summary\",\"destination\":" + JsonString(d.address) +
         ",\"port\":" + std::to_string(d.port) + ",\"src_port\":" + std::to_string(d.src_port) +
         ",\"cycles\":" + std::to_string(s.cycles) +
         ",\"transmissions\":" + std::to_string(s.transmissions) +
         ",\"answered\":" + std::to_string(s.answered) + ",\"lost\":" + std::to_string(s.Lost()) +
         ",\"lost_percent\":" + Percent(s.LostPercent()) + ",\"rtt_min_ms\":" + show(s.rtt_min) +
         ",\"rtt_avg_ms\":" + show(rtt ? s.rtt_sum / s.rtt_count : 0) +
         ",\"rtt_max_ms\":" + show(s.rtt_max) +
         ",\"interrupted\":" + (s.interrupted ? "true" : "false") +
         ",\"lost_log_lines\":" + std::to_string(s.lost_log_lines) + VerdictsJson(s) + "}\n";
}

}  // namespace ostrel
