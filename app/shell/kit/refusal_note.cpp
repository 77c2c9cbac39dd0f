#include "app/shell/kit/refusal_note.h"

#include "app/shell/kit/dialog_fit.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/ui_colours.h"

#include <algorithm>

#include <wx/dcclient.h>
#include <wx/dialog.h>
#include <wx/scrolwin.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/weakref.h>

namespace grainforge::app {

namespace {

// A note said under a field at the foot of a dialog's scrolled contents came below the fold: the
// contents scroll down until the note's last line shows, which keeps the field above it in sight.
void ScrollIntoSight(wxDialog* dialog, wxWindow* note) {
  auto* scrolled = dynamic_cast<wxScrolledWindow*>(DialogScrolledContents(dialog));
  if (scrolled == nullptr || !scrolled->IsDescendant(note)) return;
  const wxRect sight(scrolled->GetScreenPosition() + scrolled->GetClientAreaOrigin(), scrolled->GetClientSize());
  const int below = note->GetScreenRect().GetBottom() - sight.GetBottom();
  int unitX = 0;
  int unitY = 0;
  scrolled->GetScrollPixelsPerUnit(&unitX, &unitY);
  if (below > 0 && unitY > 0) scrolled->Scroll(-1, scrolled->GetViewStart().y + (below + unitY - 1) / unitY);
}

}  // namespace

wxStaticText* CreateRefusalNote(wxWindow* parent, int id) {
  auto* note = new wxStaticText(parent, id, wxEmptyString);
  note->SetForegroundColour(ToWxColour(colours::kRefusalText));
  note->Hide();
  return note;
}

void SayRefusalNote(wxStaticText* note, const std::wstring& text, int width) {
  if (note == nullptr) return;
  const bool shown = note->IsShown();
  if (text.empty()) {
    if (!shown) return;
    note->SetLabel(wxEmptyString);
    note->Hide();
  } else {
    note->SetLabel(text);
    note->Wrap(std::max(width, 1));
    // The toolkit's best size of a wrapping label is that of its narrowest layout, a word a
    // line: measured from the lines themselves instead.
    wxClientDC dc(note);
    dc.SetFont(note->GetFont());
    const wxSize lines = dc.GetMultiLineTextExtent(note->GetLabel());
    // Its width is the longest line's as the toolkit lays it (a pixel more than the DC measures).
    note->InvalidateBestSize();
    note->SetMinSize(wxSize(std::max(lines.x, note->GetBestSize().x), lines.y));
    note->Show();
  }
  wxWindow* top = wxGetTopLevelParent(note);
  if (top == nullptr) return;
  top->Layout();
  if (auto* dialog = dynamic_cast<wxDialog*>(top); dialog != nullptr && dialog->IsShown()) {
    // Grown to hold the note where it needs more room, within the screen.
    const wxSize best = dialog->GetBestSize();
    const wxSize now = dialog->GetSize();
    if (best.y > now.y || best.x > now.x) dialog->SetSize(std::max(best.x, now.x), std::max(best.y, now.y));
    FitDialogToDisplay(dialog);
    if (!text.empty()) {
      ScrollIntoSight(dialog, note);
      // Again once the toolkit has given the contents their new size.
      dialog->CallAfter([dialog, weak = wxWeakRef<wxWindow>(note)] {
        if (weak && weak->IsShown()) ScrollIntoSight(dialog, weak.get());
      });
    }
  }
}

std::wstring FirstFieldRefusal(const std::vector<CheckedField>& fields) {
  for (const CheckedField& checked : fields) {
    // A disabled field is not read, and a hidden one (a band the dialog leaves out) holds the
    // stored value: OK takes neither.
    if (checked.field == nullptr || !checked.field->IsEnabled() || !checked.field->IsShown()) continue;
    std::wstring refusal = NumberFieldRefusalOf(checked.field->GetValue().ToStdWstring(), checked.rule);
    if (!refusal.empty()) return refusal;
  }
  return std::wstring();
}

void SayFieldRefusals(const std::vector<RefusedFieldsNote>& notes, int width) {
  for (const RefusedFieldsNote& note : notes) {
    if (note.note == nullptr) continue;
    const std::wstring refusal = FirstFieldRefusal(note.fields);
    // Said again only when it changed: a note said anew lays the dialog out again, at each key.
    std::wstring shown = note.note->IsShown() ? note.note->GetLabel().ToStdWstring() : std::wstring();
    std::replace(shown.begin(), shown.end(), L'\n', L' ');
    if (shown == refusal) continue;
    SayRefusalNote(note.note, refusal, width);
  }
}

void SayRefusalsAsTyped(const RefusedFieldsNote& note, std::function<int()> width) {
  for (const CheckedField& checked : note.fields) {
    if (checked.field == nullptr) continue;
    checked.field->Bind(wxEVT_TEXT, [note, width](wxCommandEvent& event) {
      event.Skip();
      SayFieldRefusals({note}, width ? width() : 0);
    });
  }
}

}  // namespace grainforge::app
