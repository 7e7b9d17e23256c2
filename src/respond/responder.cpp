#include "responder.h"

#include <algorithm>

namespace ostrel {

std::size_t AnswerTemplate::RequestNeeds() const {
  for (std::size_t i = copied.size(); i > 0; --i)
    if (copied[i - 1]) return i;
  return 0;
}

// What a rule needs at each request beside its data: its field checker and writer (whose
// counters number the rule's answers), and how long a request its copies need.
struct Responder::Compiled {
  explicit Compiled(const ResponderRule& rule)
      : checker(rule.request_fields),
        writer(rule.answer_fields),
        needs(rule.answer ? rule.answer->RequestNeeds() : 0) {}
  FieldChecker checker;
  FieldWriter writer;
  std::size_t needs;
};

Responder::Responder(ResponderRules rules, uint64_t seed)
    : rules_(std::move(rules)), random_(seed) {
  compiled_.reserve(rules_.rules.size());
  for (const ResponderRule& rule : rules_.rules)
    compiled_.push_back(std::make_unique<Compiled>(rule));
}

Responder::~Responder() = default;

bool Responder::Fits(std::size_t index, std::span<const uint8_t> request) const {
  const ResponderRule& rule = rules_.rules[index];
  const Compiled& compiled = *compiled_[index];
  if (request.size() < compiled.needs || !rule.pattern.Fits(request)) return false;
  return compiled.checker.Empty() || compiled.checker.Check(request).match;
}

Response Responder::Respond(std::span<const uint8_t> request, std::vector<uint8_t>& answer) {
  answer.clear();
  for (std::size_t index = 0; index < rules_.rules.size(); ++index) {
    if (!Fits(index, request)) continue;
    const ResponderRule& rule = rules_.rules[index];
    Response response{ResponseAction::kSilent, index, 0};
    // Drawn only for rules with a share, so adding a share to one rule leaves the draws of
    // the others as they were.
    if (rule.drop_percent > 0 &&
        std::uniform_real_distribution<double>(0.0, 100.0)(random_) < rule.drop_percent) {
      response.action = ResponseAction::kDropped;
      return response;
    }
    if (!rule.answer) return response;
    const AnswerTemplate& shape = *rule.answer;
    answer.assign(shape.bytes.begin(), shape.bytes.end());
    for (std::size_t i = 0; i < answer.size(); ++i)
      if (shape.copied[i]) answer[i] = request[i];
    FieldWriter& writer = compiled_[index]->writer;
    if (!writer.Empty()) {
      writer.StartCycle();
      // The reader checked the layout against the answer's fixed length: this cannot fail.
      if (writer.Write(answer)) {
        answer.clear();
        return response;
      }
    }
    response.action = ResponseAction::kAnswered;
    response.delay_ms = rule.delay_ms;
    return response;
  }
  if (rules_.fallback == DefaultAnswer::kEcho) {
    answer.assign(request.begin(), request.end());
    return {ResponseAction::kEchoed, std::nullopt, 0};
  }
  return {ResponseAction::kSilent, std::nullopt, 0};
}

}  // namespace ostrel
