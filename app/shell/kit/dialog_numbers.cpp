#include "app/shell/kit/dialog_numbers.h"

#include <string>

#include <wx/textctrl.h>
#include <wx/window.h>

#include "app/shell/kit/number_text.h"

namespace grainforge::app {
namespace {

wxWindow* FindItem(wxWindow* dialog, int itemId) {
  return dialog == nullptr ? nullptr : dialog->FindWindow(itemId);
}

}  // namespace

void SetWindowFloat(wxWindow* field, double value) {
  if (field == nullptr) return;
  const wxString text(FormatDialogFloat(value));
  if (auto* edit = dynamic_cast<wxTextCtrl*>(field)) {
    // ChangeValue sends no text event, so the write is not taken for the user's edit.
    edit->ChangeValue(text);
  } else {
    field->SetLabel(text);
  }
}

float GetWindowFloat(const wxWindow* field, float defaultValue) {
  if (field == nullptr) return defaultValue;
  wxString text;
  if (const auto* edit = dynamic_cast<const wxTextCtrl*>(field)) {
    text = edit->GetValue();
  } else {
    text = field->GetLabel();
  }
  return ParseDialogFloat(text.ToStdWstring(), defaultValue);
}

void SetDlgItemFloat(wxWindow* dialog, int itemId, double value) {
  SetWindowFloat(FindItem(dialog, itemId), value);
}

float GetDlgItemFloat(wxWindow* dialog, int itemId, float defaultValue) {
  return GetWindowFloat(FindItem(dialog, itemId), defaultValue);
}

bool CheckNumberFields(std::initializer_list<CheckedField> fields,
                       const std::function<void(const std::wstring&)>& refuse) {
  for (const CheckedField& checked : fields) {
    if (checked.field == nullptr || !checked.field->IsEnabled()) continue;
    const std::wstring refusal = NumberFieldRefusalOf(checked.field->GetValue().ToStdWstring(), checked.rule);
    if (refusal.empty()) continue;
    checked.field->SetFocus();
    checked.field->SelectAll();
    if (refuse) refuse(refusal);
    // The message took the focus; the text is selected again so that typing replaces it.
    checked.field->SetFocus();
    checked.field->SelectAll();
    return false;
  }
  return true;
}

}  // namespace grainforge::app
