#include "app/shell/grainforge_app.h"

#include <cstdlib>

#include <csignal>

#include <wx/cmdline.h>
#include <wx/frame.h>
#include <wx/image.h>

#include "app/document/log_text.h"
#include "app/shell/application_core.h"
#include "app/shell/kit/wx_file_names.h"
#include "app/shell/main_frame.h"

namespace grainforge::app {

CGrainforgeApp::CGrainforgeApp() = default;
CGrainforgeApp::~CGrainforgeApp() = default;

bool CGrainforgeApp::OnInit() {
  SetAppName(wxS("Tessary"));
  SetVendorName(wxS("Brookvane"));
  wxInitAllImageHandlers();

  wxCmdLineParser parser(argc, argv);
  parser.AddOption(wxS("l"), wxS("log-file"), wxS("write the output log to this file after start-up and when the program ends"));
  parser.AddSwitch(wxS("h"), wxS("help"), wxS("show this help"), wxCMD_LINE_OPTION_HELP);
  parser.AddParam(wxS("part or project to open"), wxCMD_LINE_VAL_STRING, wxCMD_LINE_PARAM_OPTIONAL);
  if (parser.Parse() != 0) return false;

  StartOptions options;
  options.workflowPane = workflowPane;
  options.documentDialogs = documentDialogs;
  options.documentView = documentView;
  if (parser.GetParamCount() > 0) options.openFile = PathFromWxString(parser.GetParam(0));
  wxString logFile;
  if (parser.Found(wxS("log-file"), &logFile)) options.logFile = PathFromWxString(logFile);

  core_ = std::make_unique<CApplicationCore>();
  if (!core_->Start(options)) return false;
  SetTopWindow(core_->Frame());
  SetSignalHandler(SIGTERM, &CGrainforgeApp::OnTerminateSignal);
  SetSignalHandler(SIGINT, &CGrainforgeApp::OnTerminateSignal);
  return true;
}

// wx calls this from its event loop, not from the signal itself, so windows may be touched.
void CGrainforgeApp::OnTerminateSignal(int) {
  auto* app = dynamic_cast<CGrainforgeApp*>(wxTheApp);
  if (app == nullptr || app->core_ == nullptr || app->core_->Frame() == nullptr) return;
  app->core_->Frame()->Close(true);
}

bool CGrainforgeApp::OnExceptionInMainLoop() {
  std::string what = "an unknown error";
  try {
    throw;
  } catch (const std::exception& error) {
    what = error.what();
  } catch (...) {
    // Nothing more is known of it.
  }
  constexpr int kErrorLevel = 4;
  if (core_ != nullptr && core_->Frame() != nullptr)
    core_->Frame()->Log(L"Something went wrong and was stopped: " + Utf8ToWide(what), kErrorLevel);
  return true;
}

int CGrainforgeApp::OnExit() {
  if (core_ != nullptr) {
    core_->Shutdown();
    // Shutdown waited its 5 s and saved the profile and the log. An export check still running
    // on its detached thread may touch what the static destructors free: end without them.
    if (RunningExportChecks().load() > 0) std::quick_exit(0);
    core_.reset();
  }
  return wxApp::OnExit();
}

}  // namespace grainforge::app
