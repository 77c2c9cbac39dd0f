#pragma once

// Numbers in a dialog's edit fields, read and written without the locale (see number_text.h).

#include <functional>
#include <initializer_list>
#include <string>

#include "app/shell/kit/number_text.h"

class wxWindow;
class wxTextCtrl;

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

// A field of a dialog with the range its number must lie in.
struct CheckedField {
  wxTextCtrl* field = nullptr;
  NumberFieldRule rule;
};

// Checks each enabled field's text against its rule (ReadNumberField). At the first text it
// refuses (NumberFieldRefuses: out of range, no number, or empty where that means nothing) the
// refusal is passed to `refuse`, the focus goes to that field with its text
// selected (again once the message has gone), and the answer is false: the dialog stays open with nothing applied.
bool CheckNumberFields(std::initializer_list<CheckedField> fields,
                       const std::function<void(const std::wstring&)>& refuse);

}  // namespace grainforge::app
