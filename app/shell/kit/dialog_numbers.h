#pragma once

// Numbers in a dialog's edit fields, read and written without the locale (see number_text.h).

class wxWindow;

namespace grainforge::app {

// Writes the value as "%g" would in the "C" locale into the text of the dialog's child with
// that id, without sending a text-changed event. Nothing happens when there is no such child.
void SetDlgItemFloat(wxWindow* dialog, int itemId, double value);

// The number typed into the dialog's child with that id (ParseDialogFloat): defaultValue for a
// missing child, an empty or unreadable text, or a value that is not finite as a float.
float GetDlgItemFloat(wxWindow* dialog, int itemId, float defaultValue);

// The same on the field itself.
void SetWindowFloat(wxWindow* field, double value);
float GetWindowFloat(const wxWindow* field, float defaultValue);

}  // namespace grainforge::app
