#include "app/shell/wx_prompter.h"
#include "app/shell/kit/wx_file_names.h"
#include "app/document/log_text.h"

#include <wx/filedlg.h>
#include <wx/msgdlg.h>

namespace grainforge::app {
namespace {

long ButtonStyle(PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::Ok: return wxOK;
    case PromptButtons::OkCancel: return wxOK | wxCANCEL;
    case PromptButtons::YesNo: return wxYES_NO;
    case PromptButtons::YesNoCancel: return wxYES_NO | wxCANCEL;
  }
  return wxOK;
}

long IconStyle(PromptIcon icon) {
  switch (icon) {
    case PromptIcon::Information: return wxICON_INFORMATION;
    case PromptIcon::Warning: return wxICON_WARNING;
    case PromptIcon::Error: return wxICON_ERROR;
    case PromptIcon::Question: return wxICON_QUESTION;
  }
  return wxICON_INFORMATION;
}

MessageAnswer ToAnswer(int result, PromptButtons buttons) {
  switch (result) {
    case wxID_OK: return MessageAnswer::Ok;
    case wxID_YES: return MessageAnswer::Yes;
    case wxID_NO: return MessageAnswer::No;
    default:
      // Closing a Yes/No box without Cancel is a No; anything else is a Cancel.
      return buttons == PromptButtons::YesNo ? MessageAnswer::No : MessageAnswer::Cancel;
  }
}

std::filesystem::path ToPath(const wxString& text) { return PathFromWxString(text); }

// The name to start a file dialog with: as a name, so that one not in UTF-8 is offered by its
// bytes.
wxString DialogFileName(const std::wstring& name) { return WxStringFromPath(PathFromWide(name)); }

}  // namespace

void SetAccessKeyLabels(wxMessageDialog& dialog) {
  // Stated rather than left to the toolkit's stock buttons, which not every GTK build or theme
  // gives an access key: Alt+Y, Alt+N and Alt+C answer as the underlined letters say.
  dialog.SetYesNoCancelLabels(wxS("&Yes"), wxS("&No"), wxS("&Cancel"));
  dialog.SetOKCancelLabels(wxS("&OK"), wxS("&Cancel"));
}

MessageAnswer WxPrompter::ShowMessage(const MessagePrompt& prompt) {
  wxMessageDialog dialog(parent_, WxDisplayText(WithLineBreaksInLongRuns(prompt.text)), WxDisplayText(prompt.caption),
                         ButtonStyle(prompt.buttons) | IconStyle(prompt.icon));
  SetAccessKeyLabels(dialog);
  return ToAnswer(dialog.ShowModal(), prompt.buttons);
}

std::optional<std::filesystem::path> WxPrompter::AskOpenFile(const FilePrompt& prompt) {
  wxFileDialog dialog(parent_, WxDisplayText(prompt.title), WxStringFromPath(prompt.folder),
                      DialogFileName(prompt.fileName), wxString(MakeDialogWildcard(prompt.filters)),
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return std::nullopt;
  return ToPath(dialog.GetPath());
}

std::optional<std::filesystem::path> WxPrompter::AskSaveFile(const FilePrompt& prompt) {
  // With a refusal the replace question is asked here, after it: the toolkit's own would come
  // first and ask about replacing a file that is never to be written.
  const long style = wxFD_SAVE | (prompt.refusal ? 0 : wxFD_OVERWRITE_PROMPT);
  std::filesystem::path folder = prompt.folder;
  wxString name = DialogFileName(prompt.fileName);
  for (;;) {
    wxFileDialog dialog(parent_, WxDisplayText(prompt.title), WxStringFromPath(folder), name,
                        wxString(MakeDialogWildcard(prompt.filters)), style);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    const std::filesystem::path typed = ToPath(dialog.GetPath());
    const int index = dialog.GetFilterIndex();
    const std::filesystem::path path =
        index < 0 || index >= static_cast<int>(prompt.filters.size())
            ? typed
            : WithFilterExtension(typed, prompt.filters[static_cast<std::size_t>(index)]);
    if (prompt.refusal) {
      if (const std::wstring refused = prompt.refusal(path); !refused.empty()) {
        (void)ShowMessage({prompt.title, refused, PromptButtons::Ok, PromptIcon::Error});
        folder = path.parent_path();
        name = WxStringFromPath(path.filename());
        continue;
      }
    }
    // Without a refusal the dialog asked about the name as typed; the name with its extension
    // may exist too.
    std::error_code error;
    if ((prompt.refusal || path != typed) && std::filesystem::exists(path, error)) {
      MessagePrompt replace{prompt.title,
                            PathToDisplay(path.filename()) +
                                L" already exists.\nDo you want to replace it?",
                            PromptButtons::YesNo, PromptIcon::Warning};
      if (ShowMessage(replace) != MessageAnswer::Yes) return std::nullopt;
    }
    return path;
  }
}

}  // namespace grainforge::app
