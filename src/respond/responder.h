#pragma once
// The device side of a conversation: which rule a request fits, and the answer it gets.
// Plain C++, no Qt, no sockets: the program hands in each datagram and sends what comes
// back.
//
// A rule fits a request when its pattern (with its length rule) and its request fields fit,
// exactly as an expected answer is judged, and the request holds every byte the answer
// copies. The first rule that fits decides; a request no rule fits gets the default.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "fields/field_checker.h"
#include "fields/field_definition.h"
#include "fields/field_writer.h"
#include "verification/answer_pattern.h"

namespace ostrel {

// An answer as a rule writes it: its bytes, and which of them copy the request's byte at
// the same offset (a "??" token).
struct AnswerTemplate {
  std::vector<uint8_t> bytes;
  std::vector<bool> copied;  // as long as `bytes`

  // The request must hold this many bytes for every copy: the last copied offset plus 1.
  std::size_t RequestNeeds() const;
};

struct ResponderRule {
  AnswerPattern pattern;
  std::vector<FieldDefinition> request_fields;  // checked in the request (FieldUse::kCheck)
  std::optional<AnswerTemplate> answer;   // none: the rule stays silent
  std::vector<FieldDefinition> answer_fields;   // computed over the answer (FieldUse::kWrite)
  int delay_ms = 0;                       // 0..kMaxDelayMs
  double drop_percent = 0;                // 0..100
};

enum class DefaultAnswer { kSilent, kEcho };

struct ResponderRules {
  DefaultAnswer fallback = DefaultAnswer::kSilent;
  std::vector<ResponderRule> rules;
};

inline constexpr int kMaxDelayMs = 3'600'000;

// The seed used when none is given, so two runs drop the same requests.
inline constexpr uint64_t kDefaultSeed = 1;

enum class ResponseAction {
  kAnswered,  // by a rule's answer
  kEchoed,    // the request itself (--echo, or "default": "echo")
  kSilent,    // a silent rule, or no rule fits and the default is silent
  kDropped,   // a rule's drop share took it
};

struct Response {
  ResponseAction action = ResponseAction::kSilent;
  std::optional<std::size_t> rule;  // the index of the rule that fitted; none: the default
  int delay_ms = 0;                 // answered and echoed only
};

class Responder {
 public:
  // The rules must have been read by ReadRulesFile (or be as it leaves them): patterns
  // parsed, fields checked for their use and fitting the answer's length. Raises
  // std::invalid_argument for fields that do not pass CheckFieldDefinition.
  Responder(ResponderRules rules, uint64_t seed = kDefaultSeed);
  ~Responder();
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;

  // Decides the response to `request` and, when it is answered or echoed, puts the answer's
  // bytes into `answer` (replacing what it held; its capacity is kept for the next call).
  Response Respond(std::span<const uint8_t> request, std::vector<uint8_t>& answer);

  // Whether rule `index` fits `request` (no drop share, no answer).
  bool Fits(std::size_t index, std::span<const uint8_t> request) const;

 private:
  struct Compiled;
  ResponderRules rules_;
  std::vector<std::unique_ptr<Compiled>> compiled_;
  std::mt19937_64 random_;
};

}  // namespace ostrel
