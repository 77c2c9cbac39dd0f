#pragma once

// The program's prompter: wx message boxes and GTK file dialogs over a parent window.

#include "app/shell/prompter.h"

class wxMessageDialog;
class wxWindow;

namespace grainforge::app {

// Gives a message box's buttons their access keys ("_Yes", "_No", "_Cancel", "_OK"), as GTK's
// own dialogs have them. Every Yes / No / Cancel question of the program goes through it.
void SetAccessKeyLabels(wxMessageDialog& dialog);

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
