// The whole program running in a window test: the real workflow pane, view and dialogs, with
// HOME and the profile in the test's own folder and every question answered by a script. It is
// closed and shut down with the object.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdlib.h>

#include "app/document/grainforge_doc.h"
#include "app/shell/application_core.h"
#include "app/shell/main_frame.h"
#include "app/shell/scripted_prompter.h"
#include "app/view/grainforge_view.h"
#include "app/workflow/dialogs/wx_document_dialogs.h"
#include "app/workflow/workflow_pane.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {

class RunningProgram {
public:
  explicit RunningProgram(const std::filesystem::path& home) {
    using namespace std::chrono_literals;
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    StartOptions options;
    options.showSplash = false;
    options.prompter = &prompter;
    options.workflowPane = [](wxWindow* parent, const WorkflowPaneContext& context) {
      return WorkflowPane{CreateWorkflowPane(parent, context.document, context.profile), {}};
    };
    options.documentView = MakeGrainforgeView;
    options.documentDialogs = [](wxWindow* frame, std::function<bool()> detailedLog)
        -> std::unique_ptr<IDocumentDialogs> {
      return std::make_unique<WxDocumentDialogs>(frame, std::move(detailedLog));
    };
    started = core.Start(options);
    if (!started) return;
    core.Frame()->SetSize(40, 40, 1400, 900);
    tessary::test::PumpFor(300ms);
  }

  ~RunningProgram() {
    using namespace std::chrono_literals;
    if (core.Frame() != nullptr) {
      core.Frame()->Close(true);
      tessary::test::PumpUntil([&] { return core.Frame() == nullptr; }, 5000ms);
    }
    tessary::test::PumpFor(50ms);
    core.Shutdown();
  }

  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  CMainFrame& Frame() { return *core.Frame(); }
  CGrainforgeDoc& Document() { return *core.Document(); }

  // A menu or toolbar command as the frame receives it.
  void Command(int id) {
    wxCommandEvent event(wxEVT_MENU, Frame().Routing().WindowId(id));
    Frame().ProcessWindowEvent(event);
  }

  ScriptedPrompter prompter;
  CApplicationCore core;
  bool started = false;
};

}  // namespace grainforge::app
