// What the main window's information pane shows, for the window tests that run the whole
// program. Read in a source of its own: the pane's header and the view's do not go together in
// one source.
#pragma once

#include <string>

namespace grainforge::app {

class CMainFrame;

struct InformationPaneState {
  std::wstring text;
  int kind = 0;
  bool boxShown = false;  // the coloured box is on screen
};

InformationPaneState ReadInformationPane(const CMainFrame& frame);

}  // namespace grainforge::app
