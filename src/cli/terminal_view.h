#pragma once
// The send cycle's view in a terminal: the send grid is the payload given on the command
// line, the receive grid keeps the last datagram shown; indicators, time labels and the
// send button have nothing to show and are ignored.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "transmission/send_cycle.h"

namespace ostrel {

class TerminalView final : public SendCycleView {
 public:
  explicit TerminalView(std::vector<uint8_t> payload) : payload_(std::move(payload)) {}

  bool SendGridRedraw() const override { return true; }  // never being loaded
  std::vector<uint8_t> ReadSendGrid() override { return payload_; }
  void ShowAnswer(const std::vector<uint8_t>& bytes) override { last_answer_ = bytes; }
  void SetSendLed(int16_t) override {}
  void SetRecvLed(int16_t) override {}
  void SetLastSentDateTime(const std::string&) override {}
  void SetLastRecvDateTime(const std::string&) override {}
  std::string SendButtonCaption() const override { return "送信"; }
  void SetSendButtonCaption(const std::string&) override {}

  // The bytes the window's receive grid would show now; nullopt before any answer.
  const std::optional<std::vector<uint8_t>>& LastAnswer() const { return last_answer_; }

  // The send grid's bytes, which computed fields are written into before a transmission.
  const std::vector<uint8_t>& Payload() const { return payload_; }
  void SetPayload(const std::vector<uint8_t>& payload) { payload_ = payload; }

 private:
  std::vector<uint8_t> payload_;
  std::optional<std::vector<uint8_t>> last_answer_;
};

}  // namespace ostrel
