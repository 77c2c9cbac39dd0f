#pragma once

// CGrainforgeApp: wx's application object for the program. It reads the command line (a file to
// open, and --log-file), runs the application core and ends it after the main window is gone.
// SIGTERM and SIGINT close the main window as the user would, so a desktop session that ends or
// a terminal's Ctrl+C stops a run and saves the profile.

#include <memory>

#include <wx/app.h>

#include "app/shell/document_view_seam.h"
#include "app/shell/workflow_pane_seam.h"

namespace grainforge::app {

class CApplicationCore;

class CGrainforgeApp : public wxApp {
public:
  CGrainforgeApp();
  ~CGrainforgeApp() override;

  bool OnInit() override;
  int OnExit() override;
  // The last net under every event handler: an exception that reached the event loop is
  // logged as an error and the program goes on, with the user's work as it stands.
  bool OnExceptionInMainLoop() override;

  // SIGTERM or SIGINT, called from the event loop, not from the signal itself, so windows may
  // be touched.
  static void OnTerminateSignal(int signal);

protected:
  // The "Workflow" pane of the program; the program sets it before start-up.
  WorkflowPaneFactory workflowPane;
  // The dialogs the document opens; the program sets it before start-up.
  DocumentDialogsFactory documentDialogs;
  // The document's view; empty: the placeholder.
  DocumentViewFactory documentView;

private:
  // Has GLib watch SIGTERM and SIGINT; false when it cannot (wx's own handler is used then).
  static bool WatchSignalsInEveryLoop();

  std::unique_ptr<CApplicationCore> core_;
};

}  // namespace grainforge::app
