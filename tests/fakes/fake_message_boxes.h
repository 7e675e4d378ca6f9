// Records the boxes the engine shows and answers questions from a queue.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "common/message_box.h"

class FakeMessageBoxes final : public IMessageBoxes {
 public:
  std::vector<std::string> errors, warnings, questions, informations;
  std::deque<TMsgAnswer> answers;  // empty: every question is answered No

  void ShowError(const std::string& text) override { errors.push_back(text); }
  void ShowWarning(const std::string& text) override { warnings.push_back(text); }
  TMsgAnswer AskYesNo(const std::string& text) override {
    questions.push_back(text);
    if (answers.empty()) return TMsgAnswer::No;
    const TMsgAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  void ShowInformation(const std::string& text) override { informations.push_back(text); }
};
