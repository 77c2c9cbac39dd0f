#pragma once

// The one way a typed text is refused: in red, right under the field that holds it, as it is
// typed, as the focus leaves the field and again when OK (or Process) finds it still there; the
// field keeps the text, selected, to be mended. Message boxes took the focus and were said once at a time,
// and a refusal said only at OK came after the eye had left the field.

#include <functional>
#include <string>
#include <vector>

#include "app/shell/kit/dialog_numbers.h"

class wxStaticText;
class wxWindow;

namespace grainforge::app {

// A hidden red note for the parent's sizer, to be placed under a field's row.
[[nodiscard]] wxStaticText* CreateRefusalNote(wxWindow* parent, int id);

// Says `text` in the note, wrapped to `width` pixels and exactly as tall as its lines; an empty
// text hides it. The note's window and the windows up to the first top-level one lay out again
// (a dialog grows to show it, and fits the screen).
void SayRefusalNote(wxStaticText* note, const std::wstring& text, int width);

// The refusal OK would give of the first enabled, shown field whose text its rule refuses
// (NumberFieldRefusalOf, the range text of the field's rule), in the order given; empty when
// every text is taken.
[[nodiscard]] std::wstring FirstFieldRefusal(const std::vector<CheckedField>& fields);

// Fields under one note, which says their first refusal as it is typed.
struct RefusedFieldsNote {
  wxStaticText* note = nullptr;
  std::vector<CheckedField> fields;
};

// Says each note's refusal now, wrapped to `width` pixels (an empty one hides its note).
void SayFieldRefusals(const std::vector<RefusedFieldsNote>& notes, int width);

// Says the note's refusal each time one of its fields' texts changes as it is typed (a text
// written without an event, by ChangeValue, is said by the next SayFieldRefusals). `width`
// gives the wrapping width at that time.
void SayRefusalsAsTyped(const RefusedFieldsNote& note, std::function<int()> width);

}  // namespace grainforge::app
