#pragma once

// Number fields that keep a typed text they refused, to be mended, outside a dialog: the Relief
// section's and the mask panel's. A dialog refuses at its OK (CheckNumberFields); these have
// no OK, so the work that reads the stored values in their place (Process, Save Project) asks
// every such window of the main window first, and does not run while one refuses.

#include <string>
#include <vector>

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
  // The refusal of each enabled field that holds a text it refused, as TakeTypedEntries would
  // give it, without taking anything; none by default.
  [[nodiscard]] virtual std::vector<std::wstring> HeldRefusals() const { return {}; }
  // The workflow step whose section holds these fields; -1 outside the workflow.
  [[nodiscard]] virtual int FieldsStep() const { return -1; }
  // Brings the field that refused into sight, gives it the focus with its text selected and
  // says `message` as the window says its refusals.
  virtual void SayRefusedEntry(const std::wstring& message) = 0;
};

// Asks every ITypedEntryFields window at or under `top`, in window order, to take its entries.
// When one refuses, the first that did says its refusal followed by `consequence` (a blank
// line between), and the answer is false.
[[nodiscard]] bool TakeTypedEntriesUnder(wxWindow* top, const std::wstring& consequence);

// A refused text held at or under a window, with the step of the section that holds it.
struct HeldEntryRefusal {
  std::wstring text;
  int step = -1;
};

// The refused texts every ITypedEntryFields window at or under `top` holds, in window order.
[[nodiscard]] std::vector<HeldEntryRefusal> HeldRefusalsUnder(wxWindow* top);

}  // namespace grainforge::app
