#pragma once
// A message box presenter for the window tests: records every box and answers with a
// chosen button instead of waiting for an operator.

#include <string>
#include <vector>

#include "ui/ui_support.h"

namespace ostrel::test {

class FakeMessageBoxes : public MessageBoxPresenter {
 public:
  struct Shown {
    std::string text;
    MsgIcon icon;
    MsgButtons buttons;
  };
  FakeMessageBoxes() { SetMessageBoxPresenter(this); }
  ~FakeMessageBoxes() override { SetMessageBoxPresenter(nullptr); }

  MsgResult Show(QWidget*, const std::string& text, MsgIcon icon, MsgButtons buttons) override {
    shown.push_back({text, icon, buttons});
    return answer;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& s : shown) texts.push_back(s.text);
    return texts;
  }

  std::vector<Shown> shown;
  MsgResult answer = MsgResult::Ok;
};

}  // namespace ostrel::test
