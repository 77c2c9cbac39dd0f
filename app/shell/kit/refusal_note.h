#pragma once

// The one way a typed text is refused: in red, right under the field that holds it, as the
// focus leaves the field and again when OK (or Process) finds it still there; the field keeps
// the text, selected, to be mended. Message boxes took the focus and were said once at a time,
// and a refusal said only at OK came after the eye had left the field.

#include <string>

class wxStaticText;
class wxWindow;

namespace grainforge::app {

// A hidden red note for the parent's sizer, to be placed under a field's row.
[[nodiscard]] wxStaticText* CreateRefusalNote(wxWindow* parent, int id);

// Says `text` in the note, wrapped to `width` pixels and exactly as tall as its lines; an empty
// text hides it. The note's window and the windows up to the first top-level one lay out again
// (a dialog grows to show it, and fits the screen).
void SayRefusalNote(wxStaticText* note, const std::wstring& text, int width);

}  // namespace grainforge::app
