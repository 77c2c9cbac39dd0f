#pragma once

// Every dialog fits the screen it opens on, with its buttons in reach. A dialog is laid out at
// its designed size; on a smaller screen its help pane narrows first, and when the contents
// still need more room than the screen has they move into a scrolled area above the buttons,
// which stay put. Texts wrap to their width and grow the dialog instead of being cut.

class wxDialog;
class wxStaticText;
class wxString;
class wxWindow;

namespace grainforge::app {

struct FitSize {
  int width = 0;
  int height = 0;
};

struct DialogFitPlan {
  FitSize client;          // the dialog's client size
  int paneWidth = 0;       // the width the giving-way pane gets
  bool scroll = false;     // the contents need more room than the screen has: they scroll
};

// wanted: the designed client size; least: the smallest client size the layout takes with the
// pane at paneWidth; frame: what the window's border and title add; area: the screen's work
// area. The pane gives up width down to paneLeast before the contents scroll.
DialogFitPlan PlanDialogFit(FitSize wanted, FitSize least, FitSize frame, FitSize area, int paneWidth,
                            int paneLeast);

// Fits a dialog laid out by a sizer into the work area of the screen under its parent (or under
// the pointer), narrowing givingWay (the help pane, may be null) and scrolling the contents as
// PlanDialogFit says, and places it within that area. Call after the layout is complete; calling
// again after texts changed grows the dialog within the screen. The wheel over a slider or a
// choice without the focus scrolls the contents and leaves its value alone.
void FitDialogToDisplay(wxDialog* dialog, wxWindow* givingWay = nullptr);

// The screen area dialogs fit into instead of the real screen's (tests); an empty rectangle
// goes back to the real screen.
void SetDialogFitArea(int x, int y, int width, int height);

// The scrolled area FitDialogToDisplay made, or null while the dialog fits as it is.
wxWindow* DialogScrolledContents(const wxDialog* dialog);

// How much wider than their area a fitted dialog's scrolled contents are, 0 when they do not
// scroll sideways. A dialog given more than 0 narrows its layout and fits itself again.
int DialogContentsOverhang(const wxDialog* dialog);

// Sets a label wrapped to width and makes the text tall enough for all of its lines; when it
// grew, the dialog it is in fits itself again.
void SetWrappedLabel(wxStaticText* text, const wxString& label, int width);

}  // namespace grainforge::app
