#pragma once

// Access keys in dialogs, as GNOME dialogs have them: each field's label, check box and button
// shows an underlined letter of its own, and Alt with that letter moves the focus to the field
// (or presses the button). The letters are chosen when the dialog is built, so labels are
// written without "&" and a label added later gets a letter too.

#include <string>
#include <string_view>

class wxStaticText;
class wxWindow;

namespace grainforge::app {

// The index in label of the letter to underline: the first letter of a word that is not taken
// yet, else any letter or digit not taken; -1 when none is left. taken holds lower-case letters.
int ChooseAccessKey(std::wstring_view label, const std::wstring& taken);

// The field a label names, by where it stands, not by the order the controls were made: the
// control that follows it in its sizer's row when that is one to type in or choose from (text
// field, list, slider), or, for a text that ends a row of a horizontal sizer after a field ("mm
// wide"), that field; null otherwise (a note, a heading). A label in no sizer names the control
// that follows it among its siblings.
wxWindow* LabelledField(const wxStaticText* label);

// Gives every shown field label, check box and button under window a letter no other of them
// has, keeping the letters labels already have (OK's and Cancel's among them), and ties each
// label's letter to its field.
void AssignAccessKeys(wxWindow* window);

}  // namespace grainforge::app
