// The program as "tessary" builds it, with a scripted user: File > Save STL on the part named on
// the command line, the "Save STL" dialog cancelled while its check runs, then the main window
// closed. It says on standard output how far it got, so that export_close_x11_test.cpp can
// time the exit from outside:
//   "closing the dialog" / "dialog closed, checks running: N" / "closing the main window".
#include <cstdio>

#include <wx/app.h>
#include <wx/timer.h>

#include "app/shell/application_core.h"
#include "app/shell/grainforge_app.h"
#include "app/shell/kit/command_events.h"
#include "app/shell/menu_ids.h"
#include "app/view/grainforge_view.h"
#include "app/workflow/dialogs/export_check_dialog.h"
#include "app/workflow/dialogs/wx_document_dialogs.h"
#include "app/workflow/workflow_pane.h"

namespace {

using namespace grainforge::app;

void Say(const char* text, int number = -1) {
  if (number >= 0)
    std::printf("%s%d\n", text, number);
  else
    std::printf("%s\n", text);
  std::fflush(stdout);
}

}  // namespace

// Outside the unnamed namespace: wxIMPLEMENT_APP declares wxGetApp() for it.
class CExportCloseApp final : public CGrainforgeApp {
public:
  CExportCloseApp() {
    workflowPane = [](wxWindow* parent, const WorkflowPaneContext& context) {
      WorkflowPane pane;
      pane.pane = CreateWorkflowPane(parent, context.document, context.profile);
      return pane;
    };
    documentDialogs = [](wxWindow* frame, std::function<bool()> detailedLog) -> std::unique_ptr<IDocumentDialogs> {
      return std::make_unique<WxDocumentDialogs>(frame, std::move(detailedLog));
    };
    documentView = MakeGrainforgeView;
  }

  bool OnInit() override {
    if (!CGrainforgeApp::OnInit()) return false;
    start_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { SaveStl(); });
    watch_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { CancelOnceChecking(); });
    close_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { CloseMainWindow(); });
    start_.StartOnce(100);
    return true;
  }

private:
  // Runs File > Save STL as the menu does; it returns when the modal dialog has gone.
  void SaveStl() {
    wxWindow* frame = GetTopWindow();
    if (frame == nullptr) return;
    watch_.Start(10);
    wxCommandEvent save = MakeCommandEvent(menu_ids::kSaveStl, frame);
    frame->GetEventHandler()->ProcessEvent(save);
    watch_.Stop();
    Say("dialog closed, checks running: ", RunningExportChecks().load());
    close_.Start(50);
  }

  // A click on the window's close box comes with toolkit events that wake wx's idle time, in
  // which the closed window is deleted and the main loop ends; a scripted close wakes it
  // itself, on every tick until the loop has ended.
  void CloseMainWindow() {
    if (!closing_) {
      closing_ = true;
      Say("closing the main window");
      if (wxWindow* frame = GetTopWindow()) frame->Close();
    }
    wxWakeUpIdle();
  }

  // Inside the dialog's modal loop: Cancel as soon as its worker runs.
  void CancelOnceChecking() {
    for (wxWindow* window : wxTopLevelWindows) {
      auto* dialog = dynamic_cast<CExportDialog*>(window);
      if (dialog == nullptr || !dialog->Session().IsChecking() || RunningExportChecks().load() == 0) continue;
      watch_.Stop();
      Say("closing the dialog");
      wxWindow* cancel = dialog->FindWindow(wxID_CANCEL);
      wxCommandEvent click(wxEVT_BUTTON, wxID_CANCEL);
      click.SetEventObject(cancel);
      cancel->GetEventHandler()->ProcessEvent(click);
      return;
    }
  }

  wxTimer start_;
  wxTimer watch_;
  wxTimer close_;
  bool closing_ = false;
};

wxIMPLEMENT_APP(CExportCloseApp);
