#pragma once

// The frame every settings dialog shares: its contents in a sizer at least as large as the
// dialog's own size in dialog units, OK and Cancel in the platform's order (Escape cancels), and the
// help page in a pane on the left.

#include <string_view>

#include <wx/gdicmn.h>

class wxDialog;
class wxSizer;

namespace grainforge::app {

class CMarkdownTextCtrl;

// Adds OK and Cancel under the contents, sets the dialog's sizer, sizes the client area to the
// given size (dialog units) or the contents' minimum if larger, and attaches the help page.
// Returns the help pane, null when it could not be made.
CMarkdownTextCtrl* FinishSettingsDialog(wxDialog* dialog, wxSizer* contents, wxSize designDialogUnits,
                                        std::string_view helpPage);

}  // namespace grainforge::app
