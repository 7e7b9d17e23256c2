#include "step_list.h"

#include <QJsonDocument>
#include <utility>

#include "test_steps.h"

namespace ostrel {
namespace {

constexpr const char* kSettingKeys[] = {"name", "timeout_ms", "retries", "wait_ms", "on_fail"};

}  // namespace

void StepList::Assign(std::vector<TestStep> steps, std::vector<std::vector<uint8_t>> payloads,
                      int32_t repeat) {
  steps_ = std::move(steps);
  payloads_ = std::move(payloads);
  payloads_.resize(steps_.size());
  repeat_ = repeat;
  Changed();
}

std::string StepList::Read(const TestStep& request, const std::vector<uint8_t>& payload,
                           const QJsonObject& settings, std::size_t index, TestStep& step) const {
  // Our own writer's text is JSON; the reader then sees what a saved file would hold.
  QJsonObject object =
      QJsonDocument::fromJson(QByteArray::fromStdString(TestStepText(request, payload))).object();
  for (const char* key : kSettingKeys) object.remove(QLatin1String(key));
  for (auto it = settings.begin(); it != settings.end(); ++it) object.insert(it.key(), it.value());
  step = {};
  return ReadTestStep(object, "steps[" + std::to_string(index) + "]", ".", step);
}

std::string StepList::Add(const TestStep& request, const std::vector<uint8_t>& payload,
                          const QJsonObject& settings) {
  TestStep step;
  if (std::string error = Read(request, payload, settings, steps_.size(), step); !error.empty())
    return error;
  payloads_.push_back(step.payload.bytes);
  steps_.push_back(std::move(step));
  Changed();
  return "";
}

std::string StepList::Change(std::size_t index, const QJsonObject& settings) {
  if (index >= steps_.size()) return "";
  TestStep step;
  if (std::string error = Read(steps_[index], payloads_[index], settings, index, step);
      !error.empty())
    return error;
  steps_[index] = std::move(step);
  Changed();
  return "";
}

void StepList::Remove(std::size_t index) {
  if (index >= steps_.size()) return;
  steps_.erase(steps_.begin() + static_cast<std::ptrdiff_t>(index));
  payloads_.erase(payloads_.begin() + static_cast<std::ptrdiff_t>(index));
  Changed();
}

bool StepList::Move(std::size_t index, bool up) {
  if (index >= steps_.size() || (up ? index == 0 : index + 1 >= steps_.size())) return false;
  const std::size_t other = up ? index - 1 : index + 1;
  std::swap(steps_[index], steps_[other]);
  std::swap(payloads_[index], payloads_[other]);
  Changed();
  return true;
}

void StepList::Changed() {
  if (listener_) listener_();
}

}  // namespace ostrel
