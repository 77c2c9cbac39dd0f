#include "tests/app/workflow/information_pane_probe.h"

#include "app/shell/info_pane.h"
#include "app/shell/main_frame.h"

namespace grainforge::app {

InformationPaneState ReadInformationPane(const CMainFrame& frame) {
  const CRightPaneDialog& pane = *frame.RightPane()->Dialog();
  return {pane.InfoText(), pane.InfoKind(), pane.InfoBox()->IsShown()};
}

}  // namespace grainforge::app
