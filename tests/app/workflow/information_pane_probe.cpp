// The main window's information pane read in a source of its own: the pane's header and the
// view's do not compile together.
#include "app/shell/info_pane.h"
#include "app/shell/main_frame.h"

#include <wx/textctrl.h>

namespace grainforge::app {

// The text of the coloured box while it is on screen, else empty.
std::wstring ShownInformation(const CMainFrame& frame) {
  const CRightPaneDialog& pane = *frame.RightPane()->Dialog();
  return pane.InfoBox()->IsShown() ? pane.InfoText() : std::wstring();
}

// The report box's text.
std::wstring ShownReport(const CMainFrame& frame) { return frame.RightPane()->Dialog()->ReportText(); }

// Scrolls the report box to its end, for a screenshot of its last section.
void ShowReportEnd(const CMainFrame& frame) {
  wxTextCtrl* report = frame.RightPane()->Dialog()->ReportBox();
  report->ShowPosition(report->GetLastPosition());
}

}  // namespace grainforge::app
