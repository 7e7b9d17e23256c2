#include "verdict.h"

#include "common/display_text.h"

namespace ostrel {

namespace {

// By Verdict, in its order.
constexpr const char* kTexts[kVerdictCount] = {"一致", "不一致", "送信元不一致", "応答なし",
                                               "未送信"};
constexpr const char* kJsonNames[kVerdictCount] = {"match", "mismatch", "wrong-source", "no-answer",
                                                   "not-sent"};

}  // namespace

const char* VerdictText(Verdict verdict) { return kTexts[static_cast<std::size_t>(verdict)]; }

const char* VerdictJsonName(Verdict verdict) {
  return kJsonNames[static_cast<std::size_t>(verdict)];
}

std::string VerdictLogLine(const Judgement& judgement) {
  std::string line = std::string("判定:") + VerdictText(judgement.verdict);
  if (judgement.verdict != Verdict::kMismatch || judgement.mismatch_at.empty()) return line;
  line += '(';
  for (std::size_t i = 0; i < judgement.mismatch_at.size(); ++i) {
    if (i > 0) line += ',';
    line += HexText4(static_cast<long long>(judgement.mismatch_at[i]));
  }
  return line + ')';
}

uint64_t VerdictCounter::Total() const {
  uint64_t total = 0;
  for (const uint64_t count : counts_) total += count;
  return total;
}

}  // namespace ostrel
