#pragma once

// The program's prompter: wx message boxes and GTK file dialogs over a parent window.

#include "app/shell/prompter.h"

class wxWindow;

namespace grainforge::app {

class WxPrompter : public IPrompter {
public:
  explicit WxPrompter(wxWindow* parent) : parent_(parent) {}

  MessageAnswer ShowMessage(const MessagePrompt& prompt) override;
  std::optional<std::filesystem::path> AskOpenFile(const FilePrompt& prompt) override;
  std::optional<std::filesystem::path> AskSaveFile(const FilePrompt& prompt) override;

private:
  wxWindow* parent_;
};

}  // namespace grainforge::app
