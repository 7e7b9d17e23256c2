#pragma once
// The steps of a test file as the operator edits them: a request added as a new last step,
// a step's name, timing and "on_fail" changed, a step removed or moved up or down. A new
// or changed step is written as a file writes it and read back by the file's step reader,
// so a change is refused exactly as that file would be, with the same text (the step named
// by the index it takes), and a refused change leaves the list as it was.

#include <QJsonObject>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "test_file.h"

namespace ostrel {

class StepList {
 public:
  const std::vector<TestStep>& Steps() const { return steps_; }
  // Each step's bytes (a "file" payload as it was loaded).
  const std::vector<std::vector<uint8_t>>& Payloads() const { return payloads_; }
  int32_t Repeat() const { return repeat_; }
  bool Empty() const { return steps_.empty(); }

  // Called after every change that was made.
  void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

  // Takes the steps of a test file (already checked when it was read).
  void Assign(std::vector<TestStep> steps, std::vector<std::vector<uint8_t>> payloads,
              int32_t repeat);

  // `settings` holds what a step has beside its request, as a file writes it: "name",
  // "timeout_ms", "retries", "wait_ms", "on_fail"; a key left out takes its default.
  // Each returns the refusal's text, or "" when the change was made.
  // Adds `request` (its name, fields and expectation; its timing is not used) with the
  // bytes `payload` as the last step.
  std::string Add(const TestStep& request, const std::vector<uint8_t>& payload,
                  const QJsonObject& settings);
  // Gives the step at `index` the name, timing and "on_fail" of `settings`.
  std::string Change(std::size_t index, const QJsonObject& settings);

  // Removes the step at `index` (none beyond the end).
  void Remove(std::size_t index);
  // Moves the step at `index` one place up (towards the first) or down; false when it
  // cannot go that way.
  bool Move(std::size_t index, bool up);

 private:
  // Reads `request` with `settings` as the step at `index`, into `step`.
  std::string Read(const TestStep& request, const std::vector<uint8_t>& payload,
                   const QJsonObject& settings, std::size_t index, TestStep& step) const;
  void Changed();

  std::vector<TestStep> steps_;
  std::vector<std::vector<uint8_t>> payloads_;
  int32_t repeat_ = 1;
  std::function<void()> listener_;
};

}  // namespace ostrel
