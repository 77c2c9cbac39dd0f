#include "app/shell/grainforge_app.h"

#include <cstdlib>

#include <csignal>
#include <cstdint>

#include <dlfcn.h>

#include <wx/cmdline.h>
#include <wx/frame.h>
#include <wx/image.h>

#include "app/document/log_text.h"
#include "app/shell/application_core.h"
#include "app/shell/kit/wx_file_names.h"
#include "app/shell/main_frame.h"

namespace grainforge::app {

namespace {

// GLib's: calls `handler` from the main context whenever `signal` arrived (g_unix_signal_add).
using SignalSourceAdd = unsigned (*)(int signal, int (*handler)(void*), void* data);

int OnSignalSource(void* signal) {
  CGrainforgeApp::OnTerminateSignal(static_cast<int>(reinterpret_cast<std::intptr_t>(signal)));
  return 1;  // keep watching: a second signal during the close is taken up the same way
}

}  // namespace

bool CGrainforgeApp::WatchSignalsInEveryLoop() {
  // Found in the running process, which has GLib loaded under GTK.
  const auto add = reinterpret_cast<SignalSourceAdd>(dlsym(RTLD_DEFAULT, "g_unix_signal_add"));
  if (add == nullptr) return false;
  for (const int signal : {SIGTERM, SIGINT})
    if (add(signal, &OnSignalSource, reinterpret_cast<void*>(static_cast<std::intptr_t>(signal))) == 0) return false;
  return true;
}

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
  // Before start-up, which may ask something (a project's missing part): the signal ends the
  // run then too, once the question is cancelled and the window up. GLib takes the signals in
  // whichever loop runs, a message box's own among them; wx's handler waits for the main loop.
  if (!WatchSignalsInEveryLoop()) {
    SetSignalHandler(SIGTERM, &CGrainforgeApp::OnTerminateSignal);
    SetSignalHandler(SIGINT, &CGrainforgeApp::OnTerminateSignal);
  }
  if (!core_->Start(options)) return false;
  SetTopWindow(core_->Frame());
  return true;
}

// wx calls this from its event loop, not from the signal itself, so windows may be touched.
void CGrainforgeApp::OnTerminateSignal(int) {
  auto* app = dynamic_cast<CGrainforgeApp*>(wxTheApp);
  if (app == nullptr || app->core_ == nullptr) return;
  app->core_->EndOnRequest();
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
