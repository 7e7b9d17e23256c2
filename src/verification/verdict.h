#pragma once
// The verdict of one send cycle with an expectation, and its texts.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrel {

enum class Verdict {
  kMatch,        // 一致: the answer fits the pattern, the length rule and every field
  kMismatch,     // 不一致: it does not
  kWrongSource,  // 送信元不一致: it came from a sender "from" does not allow
  kNoAnswer,     // 応答なし: no answer after all the transmissions
  kNotSent,      // 未送信: nothing was sent
};
inline constexpr std::size_t kVerdictCount = 5;
inline constexpr std::array<Verdict, kVerdictCount> kAllVerdicts = {
    Verdict::kMatch, Verdict::kMismatch, Verdict::kWrongSource, Verdict::kNoAnswer,
    Verdict::kNotSent};

// The most differing offsets a verdict keeps.
inline constexpr std::size_t kReportedOffsets = 16;

// "一致", "不一致", "送信元不一致", "応答なし", "未送信".
const char* VerdictText(Verdict verdict);
// "match", "mismatch", "wrong-source", "no-answer", "not-sent".
const char* VerdictJsonName(Verdict verdict);

struct Judgement {
  Verdict verdict = Verdict::kNotSent;
  // For kMismatch: the offsets of the first differing bytes, ascending, at most
  // kReportedOffsets; empty otherwise.
  std::vector<std::size_t> mismatch_at;
};

// The log line of a verdict: "判定:一致", "判定:不一致(0004,0005)" (each offset in four
// upper-case hex digits), "判定:送信元不一致", "判定:応答なし", "判定:未送信".
std::string VerdictLogLine(const Judgement& judgement);

// How many cycles ended with each verdict, since the start or the last Reset.
class VerdictCounter {
 public:
  void Add(Verdict verdict) { ++counts_[static_cast<std::size_t>(verdict)]; }
  uint64_t Count(Verdict verdict) const { return counts_[static_cast<std::size_t>(verdict)]; }
  uint64_t Total() const;
  void Reset() { counts_ = {}; }

 private:
  std::array<uint64_t, kVerdictCount> counts_{};
};

}  // namespace ostrel
