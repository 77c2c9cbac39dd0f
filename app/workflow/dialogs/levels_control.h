#pragma once

// The levels widget of the texture settings dialog: a histogram of the height map with the
// black, middle and white input handles under it, a grey output ramp with the output black and
// white handles, and five small edit boxes showing the same values. The arithmetic is in
// levels_model.h; this window paints it and turns the mouse and the edits into value changes.
// After a change (a drag released, or an edit confirmed that changed a value) the parent gets
// an EVT_LEVELS_CHANGED command event.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <wx/containr.h>
#include <wx/event.h>
#include <wx/window.h>

#include "app/workflow/dialogs/levels_model.h"

class wxTextCtrl;

namespace grainforge::app {

wxDECLARE_EVENT(EVT_LEVELS_CHANGED, wxCommandEvent);

// A container of its edits, as a panel is: Tab and Shift+Tab reach each of them in the dialog's
// order (a plain window took the focus itself and passed none on).
class CLevelsControl final : public wxNavigationEnabled<wxWindow> {
public:
  static constexpr int kControlId = 1305;

  CLevelsControl(wxWindow* parent, const wxPoint& pos, const wxSize& size);

  // The owner writes the values and the histogram, then calls UpdateLevelEdits and Refresh.
  LevelsValues values;
  std::vector<std::int32_t> histogram;

  // Writes the five edit texts from the values.
  void UpdateLevelEdits();
  // Takes the typed texts into the values; the parent is told when a value changed. A refused
  // text stays in its edit as typed and leaves a note (ReadLevelsEdits): Enter says it at once
  // through `refuse` with the text selected, leaving the edit keeps it for the dialog's OK
  // (TakeNote). Returns the first refused edit, -1 when every text was taken.
  int ReadLevelEdits();
  // Puts the focus in the edit with its text selected, to type it again.
  void SelectEdit(int index);
  std::wstring TakeNote();
  std::function<void(const std::wstring&)> refuse;
  // Told the note each time the edits are read (leaving an edit among them), and as an edit is
  // typed in (the typing is taken only as it is left): a refusal, or empty once every text is
  // taken, to be said at the edits.
  std::function<void(const std::wstring&)> sayNote;
  // Whether an edit holds typing not yet taken (its text is not the value's own). Escape then
  // takes the typing back; with nothing to take back it cancels the dialog as anywhere else.
  bool HasUnreadTyping() const;

  wxTextCtrl* Edit(int index) const { return edits_[static_cast<std::size_t>(index)]; }
  const LevelsLayout& Geometry() const { return layout_; }
  LevelsHandle DragHandle() const { return dragHandle_; }

  // Mouse input as the window gets it (client pixels); tests call these directly.
  void PressAt(int x, int y);
  void DragTo(int x);
  void Release();

  bool Enable(bool enable = true) override;
  wxSize DoGetBestClientSize() const override;

private:
  // Tells sayNote what reading the edits as they stand would refuse, taking nothing.
  void SayTypedNote();
  void LayOut();
  void Notify();
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnMotion(wxMouseEvent& event);
  void OnLeftUp(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);
  void OnCharHook(wxKeyEvent& event);
  void OnEditKillFocus(wxFocusEvent& event);

  std::array<wxTextCtrl*, kLevelsEditCount> edits_{};
  LevelsLayout layout_;
  LevelsHandle dragHandle_ = LevelsHandle::None;
  int dpi_ = 96;
  int editHeight_ = 0;
  std::wstring note_;
  // Edits holding a refused text, kept as typed until it is mended or the values are set anew.
  std::array<bool, kLevelsEditCount> refused_{};
};

}  // namespace grainforge::app
