#pragma once

// A prompter for tests: it answers each question from a script, in order, and records what was
// asked. A question beyond the script is answered "Cancel" (or no file) and counted, so a test
// can tell that something asked more than it expected.

#include <deque>
#include <filesystem>
#include <optional>
#include <variant>
#include <vector>

#include "app/shell/prompter.h"

namespace grainforge::app {

class ScriptedPrompter : public IPrompter {
public:
  // The next message box is answered with answer.
  void ExpectMessage(MessageAnswer answer) { script_.emplace_back(answer); }
  // The next file dialog returns path (empty: the user cancelled).
  void ExpectFile(std::optional<std::filesystem::path> path) { script_.emplace_back(std::move(path)); }

  MessageAnswer ShowMessage(const MessagePrompt& prompt) override {
    messages_.push_back(prompt);
    if (!script_.empty() && std::holds_alternative<MessageAnswer>(script_.front())) {
      const MessageAnswer answer = std::get<MessageAnswer>(script_.front());
      script_.pop_front();
      return answer;
    }
    ++unexpected_;
    return MessageAnswer::Cancel;
  }
  std::optional<std::filesystem::path> AskOpenFile(const FilePrompt& prompt) override {
    return NextFile(prompt);
  }
  std::optional<std::filesystem::path> AskSaveFile(const FilePrompt& prompt) override {
    return NextFile(prompt);
  }

  const std::vector<MessagePrompt>& Messages() const { return messages_; }
  const std::vector<FilePrompt>& FilePrompts() const { return filePrompts_; }
  // Questions that found no matching answer in the script.
  int UnexpectedQuestions() const { return unexpected_; }
  // Answers the script still holds.
  std::size_t AnswersLeft() const { return script_.size(); }

private:
  using Answer = std::variant<MessageAnswer, std::optional<std::filesystem::path>>;

  std::optional<std::filesystem::path> NextFile(const FilePrompt& prompt) {
    filePrompts_.push_back(prompt);
    if (!script_.empty() && std::holds_alternative<std::optional<std::filesystem::path>>(script_.front())) {
      auto path = std::get<std::optional<std::filesystem::path>>(script_.front());
      script_.pop_front();
      return path;
    }
    ++unexpected_;
    return std::nullopt;
  }

  std::deque<Answer> script_;
  std::vector<MessagePrompt> messages_;
  std::vector<FilePrompt> filePrompts_;
  int unexpected_ = 0;
};

}  // namespace grainforge::app
