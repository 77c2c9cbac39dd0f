#include "app/shell/kit/typed_entries.h"

#include <wx/window.h>

namespace grainforge::app {
namespace {

struct Refusal {
  ITypedEntryFields* fields = nullptr;
  std::wstring text;
};

// Every window takes its entries, also after one refused: a text typed elsewhere and taken is
// no worse for a refusal in another field.
void TakeUnder(wxWindow* window, Refusal& first) {
  if (auto* fields = dynamic_cast<ITypedEntryFields*>(window)) {
    std::wstring refusal = fields->TakeTypedEntries();
    if (!refusal.empty() && first.fields == nullptr) first = {fields, std::move(refusal)};
  }
  for (wxWindow* child : window->GetChildren()) TakeUnder(child, first);
}

void HeldUnder(wxWindow* window, std::vector<HeldEntryRefusal>& held) {
  if (const auto* fields = dynamic_cast<const ITypedEntryFields*>(window))
    for (std::wstring& text : fields->HeldRefusals()) held.push_back({std::move(text), fields->FieldsStep()});
  for (wxWindow* child : window->GetChildren()) HeldUnder(child, held);
}

}  // namespace

std::vector<HeldEntryRefusal> HeldRefusalsUnder(wxWindow* top) {
  std::vector<HeldEntryRefusal> held;
  if (top != nullptr) HeldUnder(top, held);
  return held;
}

bool TakeTypedEntriesUnder(wxWindow* top, const std::wstring& consequence) {
  if (top == nullptr) return true;
  Refusal first;
  TakeUnder(top, first);
  if (first.fields == nullptr) return true;
  first.fields->SayRefusedEntry(first.text + L"\n\n" + consequence);
  return false;
}

}  // namespace grainforge::app
