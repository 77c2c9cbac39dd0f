#include "app/shell/kit/access_keys.h"

#include <dlfcn.h>

#include <cwctype>
#include <optional>
#include <vector>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combo.h>
#include <wx/combobox.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/shell/main_menu.h"

namespace grainforge::app {
namespace {

// GTK's call, found in the running process as the style sheet's are (no GTK headers needed):
// without it a label's letter would focus the dialog rather than the field after the label.
using SetMnemonicWidget = void (*)(void* label, void* widget);

void TieLabelToField(wxStaticText* label, wxWindow* field) {
  static const auto set = reinterpret_cast<SetMnemonicWidget>(dlsym(RTLD_DEFAULT, "gtk_label_set_mnemonic_widget"));
  if (set != nullptr && label->GetHandle() != nullptr && field->GetHandle() != nullptr)
    set(label->GetHandle(), field->GetHandle());
}

bool IsField(const wxWindow* window) {
  // A read-only text is a report to read, not a field its neighbour names.
  if (const auto* text = dynamic_cast<const wxTextCtrl*>(window)) return text->IsEditable();
  return dynamic_cast<const wxChoice*>(window) != nullptr ||
         dynamic_cast<const wxComboBox*>(window) != nullptr || dynamic_cast<const wxComboCtrl*>(window) != nullptr ||
         dynamic_cast<const wxSlider*>(window) != nullptr || dynamic_cast<const wxSpinCtrl*>(window) != nullptr ||
         dynamic_cast<const wxSpinCtrlDouble*>(window) != nullptr || dynamic_cast<const wxListBox*>(window) != nullptr;
}

// The windows that show an access key: field labels, check boxes and buttons with a text.
void CollectKeyed(wxWindow* window, std::vector<wxWindow*>& keyed) {
  for (wxWindow* child : window->GetChildren()) {
    if (child->IsTopLevel() || !child->IsShown()) continue;
    const auto* label = dynamic_cast<const wxStaticText*>(child);
    const bool hasText = !child->GetLabel().empty();
    if ((label != nullptr && LabelledField(label) != nullptr) ||
        (hasText && (dynamic_cast<const wxCheckBox*>(child) != nullptr || dynamic_cast<const wxButton*>(child) != nullptr)))
      keyed.push_back(child);
    CollectKeyed(child, keyed);
  }
}

}  // namespace

int ChooseAccessKey(std::wstring_view label, const std::wstring& taken) {
  const auto free = [&](std::size_t i) {
    const auto c = static_cast<wint_t>(label[i]);
    return std::iswalnum(c) && taken.find(static_cast<wchar_t>(std::towlower(c))) == std::wstring::npos;
  };
  for (std::size_t i = 0; i < label.size(); ++i)
    if ((i == 0 || std::iswspace(static_cast<wint_t>(label[i - 1]))) && free(i)) return static_cast<int>(i);
  for (std::size_t i = 0; i < label.size(); ++i)
    if (free(i)) return static_cast<int>(i);
  return -1;
}

namespace {

// The first shown window an item of a sizer holds (its own, or within its nested sizers); null for
// a spacer, a hidden item or an empty sizer.
wxWindow* FirstShownWindow(const wxSizerItem& item) {
  if (!item.IsShown()) return nullptr;
  if (wxWindow* window = item.GetWindow()) return window->IsShown() ? window : nullptr;
  if (const wxSizer* sizer = item.GetSizer())
    for (const wxSizerItem* inner : sizer->GetChildren())
      if (wxWindow* window = FirstShownWindow(*inner)) return window;
  return nullptr;
}

// The field a label names by where it stands in its row: the first shown item after it in its
// sizer, or for the text that ends a row of fields ("mm wide") the item just before it. Empty
// when the label stands in no sizer.
std::optional<wxWindow*> FieldBesideInSizer(const wxStaticText* label) {
  const wxSizer* sizer = label->GetContainingSizer();
  if (sizer == nullptr) return std::nullopt;
  std::vector<wxWindow*> shown;  // the row's shown windows, in the order they stand
  std::size_t at = 0;
  for (const wxSizerItem* item : sizer->GetChildren()) {
    if (item->GetWindow() == label) at = shown.size();
    if (wxWindow* window = FirstShownWindow(*item); window != nullptr && window != label) shown.push_back(window);
  }
  if (at < shown.size()) return IsField(shown[at]) ? shown[at] : nullptr;
  const auto* box = dynamic_cast<const wxBoxSizer*>(sizer);
  const bool endsRow = box != nullptr && box->GetOrientation() == wxHORIZONTAL && at > 0;
  return endsRow && IsField(shown[at - 1]) ? shown[at - 1] : nullptr;
}

}  // namespace

wxWindow* LabelledField(const wxStaticText* label) {
  if (label == nullptr) return nullptr;
  if (const std::optional<wxWindow*> field = FieldBesideInSizer(label)) return *field;
  const wxWindow* parent = label->GetParent();
  if (parent == nullptr) return nullptr;
  const wxWindowList& siblings = parent->GetChildren();
  auto it = siblings.begin();
  while (it != siblings.end() && *it != label) ++it;
  if (it == siblings.end()) return nullptr;
  // Past the controls its row hides (a row shows a field or a list, not both).
  for (++it; it != siblings.end() && !(*it)->IsShown(); ++it) {
  }
  return it != siblings.end() && IsField(*it) ? *it : nullptr;
}

void AssignAccessKeys(wxWindow* window) {
  std::vector<wxWindow*> keyed;
  CollectKeyed(window, keyed);
  std::wstring taken;
  for (const wxWindow* item : keyed)
    if (const wchar_t key = MnemonicOf(item->GetLabel().ToStdWstring()); key != 0) taken += key;
  for (wxWindow* item : keyed) {
    std::wstring text = item->GetLabel().ToStdWstring();
    // A label with an "&" of its own keeps it (a letter, or a written "&&").
    if (text.find(L'&') == std::wstring::npos) {
      const int at = ChooseAccessKey(text, taken);
      if (at < 0) continue;
      taken += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(text[static_cast<std::size_t>(at)])));
      text.insert(static_cast<std::size_t>(at), 1, L'&');
      item->SetLabel(text);
    }
    if (auto* label = dynamic_cast<wxStaticText*>(item))
      if (wxWindow* field = LabelledField(label)) TieLabelToField(label, field);
  }
}

}  // namespace grainforge::app
