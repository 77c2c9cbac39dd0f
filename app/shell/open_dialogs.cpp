#include "app/shell/open_dialogs.h"

#include <dlfcn.h>

#include <algorithm>
#include <vector>

#include <wx/dialog.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>

namespace grainforge::app {
namespace {

// GTK's value for a dialog closed by its window's close button.
constexpr int kGtkResponseDeleteEvent = -4;

class DialogWatch final : public wxModalDialogHook {
public:
  std::vector<wxDialog*> open;

protected:
  int Enter(wxDialog* dialog) override {
    open.push_back(dialog);
    return wxID_NONE;  // shown as asked
  }
  void Exit(wxDialog* dialog) override {
    // The innermost entry of that dialog (a file dialog is entered twice, by its own and by its
    // base class's ShowModal).
    const auto found = std::find(open.rbegin(), open.rend(), dialog);
    if (found != open.rend()) open.erase(std::next(found).base());
  }
};

DialogWatch* watch = nullptr;

}  // namespace

void OpenDialogs::Watch() {
  if (watch != nullptr) return;
  // Lives for the process: the toolkit's list of hooks keeps it to the end.
  watch = new DialogWatch();
  watch->Register();
}

int OpenDialogs::Count() { return watch != nullptr ? static_cast<int>(watch->open.size()) : 0; }

bool OpenDialogs::CancelInnermost() {
  if (watch == nullptr || watch->open.empty()) return false;
  wxDialog* dialog = watch->open.back();
  if (dialog->IsModal()) {
    dialog->EndModal(wxID_CANCEL);
    return true;
  }
  // A GTK message box runs GTK's own loop, which wx's EndModal does not reach: it is answered
  // as its close button answers it. GTK is found in the running process, which wx has loaded.
  using Response = void (*)(void*, int);
  static const auto respond = reinterpret_cast<Response>(dlsym(RTLD_DEFAULT, "gtk_dialog_response"));
  if (dynamic_cast<wxMessageDialog*>(dialog) != nullptr && dialog->GetHandle() != nullptr && respond != nullptr)
    respond(dialog->GetHandle(), kGtkResponseDeleteEvent);
  return true;
}

}  // namespace grainforge::app
