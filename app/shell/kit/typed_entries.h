#pragma once

// Number fields that keep a typed text they refused, to be mended, outside a dialog: the Relief
// section's and the mask panel's. A dialog refuses at its OK (CheckNumberFields); these have
// no OK, so the work that reads the stored values in their place (Process, Save Project) asks
// every such window of the main window first, and does not run while one refuses.

#include <string>

class wxWindow;

namespace grainforge::app {

// A window with such fields.
class ITypedEntryFields {
public:
  virtual ~ITypedEntryFields() = default;
  // Takes what each enabled field shows as Enter would, without a word. The refusal of the
  // first field whose text it refuses (the refusal names the field), or empty when every
  // text was taken.
  [[nodiscard]] virtual std::wstring TakeTypedEntries() = 0;
  // Brings the field that refused into sight, gives it the focus with its text selected and
  // says `message` as the window says its refusals.
  virtual void SayRefusedEntry(const std::wstring& message) = 0;
};

// Asks every ITypedEntryFields window at or under `top`, in window order, to take its entries.
// When one refuses, the first that did says its refusal followed by `consequence` (a blank
// line between), and the answer is false.
[[nodiscard]] bool TakeTypedEntriesUnder(wxWindow* top, const std::wstring& consequence);

}  // namespace grainforge::app
