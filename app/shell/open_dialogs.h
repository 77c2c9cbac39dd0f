#pragma once

// The modal dialogs open now, as the toolkit enters and leaves them: message boxes, file
// dialogs and the program's own. A dialog lives on the stack of the code that asked, and the
// main window is its parent: the window must not be destroyed under it (its children would be
// freed with it, the dialog among them), and what the first idle pass does must not run inside
// a question asked while the program starts.

class wxDialog;

namespace grainforge::app {

class OpenDialogs {
public:
  // Starts keeping the list, once for the process; later calls do nothing.
  static void Watch();
  // The number of modal dialogs open now, nested ones each counted.
  static int Count();
  // Asks the innermost open dialog to close as its Cancel (or a message box's close button)
  // would; it closes once its code runs on. False when none is open.
  static bool CancelInnermost();
};

}  // namespace grainforge::app
