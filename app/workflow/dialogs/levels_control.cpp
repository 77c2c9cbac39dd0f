#include "app/workflow/dialogs/levels_control.h"

#include <algorithm>
#include <utility>

#include <wx/dcbuffer.h>
#include <wx/settings.h>
#include <wx/textctrl.h>

#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {

wxDEFINE_EVENT(EVT_LEVELS_CHANGED, wxCommandEvent);

namespace {

constexpr int kHandleSize = 12;
constexpr int kRampHeight = 12;

wxRect ToWx(const PixelRect& r) { return wxRect(r.left, r.top, r.Width(), r.Height()); }

// A handle: a triangle pointing up from the bar's bottom, filled or hollow.
void DrawHandle(wxDC& dc, int x, const PixelRect& bar, const wxColour& colour, bool filled, int dpi) {
  const int s = ScaleForDpi(kHandleSize, dpi);
  const int half = (2 * s - 4) / 3;
  const wxPoint points[3] = {{x, bar.bottom - s + 1}, {x - half, bar.bottom - 1}, {x + half, bar.bottom - 1}};
  dc.SetPen(wxPen(colour, 1));
  dc.SetBrush(wxBrush(filled ? colour : *wxWHITE));
  dc.DrawPolygon(3, points);
}

}  // namespace

CLevelsControl::CLevelsControl(wxWindow* parent, const wxPoint& pos, const wxSize& size) {
  Create(parent, kControlId, pos, size, wxCLIP_CHILDREN | wxTAB_TRAVERSAL);
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  dpi_ = GetWindowDpi(parent);
  for (int i = 0; i < kLevelsEditCount; ++i) {
    auto* edit = new wxTextCtrl(this, i + 1, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_CENTRE);
    edit->SetFont(parent != nullptr ? parent->GetFont() : GetFont());
    edit->Bind(wxEVT_KILL_FOCUS, &CLevelsControl::OnEditKillFocus, this);
    edit->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
      event.Skip();
      SayTypedNote();
    });
    edits_[static_cast<std::size_t>(i)] = edit;
  }
  editHeight_ = edits_[0]->GetBestSize().y;
  Bind(wxEVT_PAINT, &CLevelsControl::OnPaint, this);
  Bind(wxEVT_SIZE, &CLevelsControl::OnSize, this);
  Bind(wxEVT_LEFT_DOWN, &CLevelsControl::OnLeftDown, this);
  Bind(wxEVT_MOTION, &CLevelsControl::OnMotion, this);
  Bind(wxEVT_LEFT_UP, &CLevelsControl::OnLeftUp, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &CLevelsControl::OnCaptureLost, this);
  Bind(wxEVT_CHAR_HOOK, &CLevelsControl::OnCharHook, this);
  LayOut();
  UpdateLevelEdits();
}

wxSize CLevelsControl::DoGetBestClientSize() const {
  return wxSize(ScaleForDpi(300, dpi_), LevelsControlHeight(dpi_, editHeight_));
}

bool CLevelsControl::Enable(bool enable) {
  const bool changed = wxNavigationEnabled<wxWindow>::Enable(enable);
  for (wxTextCtrl* edit : edits_) edit->Enable(enable);
  Refresh(false);
  return changed;
}

void CLevelsControl::LayOut() {
  layout_ = LayOutLevels(GetClientSize().x, dpi_, editHeight_);
  for (int i = 0; i < kLevelsEditCount; ++i)
    edits_[static_cast<std::size_t>(i)]->SetSize(ToWx(layout_.edits[static_cast<std::size_t>(i)]));
}

void CLevelsControl::UpdateLevelEdits() {
  const LevelsTexts texts = FormatLevelsTexts(values);
  // ChangeValue sends no text event, so nothing reads these writes back as typing.
  for (int i = 0; i < kLevelsEditCount; ++i)
    edits_[static_cast<std::size_t>(i)]->ChangeValue(texts[static_cast<std::size_t>(i)]);
  refused_ = {};
}

int CLevelsControl::ReadLevelEdits() {
  LevelsTexts texts;
  for (int i = 0; i < kLevelsEditCount; ++i)
    texts[static_cast<std::size_t>(i)] = edits_[static_cast<std::size_t>(i)]->GetValue().ToStdWstring();
  const LevelsValues before = values;
  LevelsReading reading = ReadLevelsEdits(texts, values);
  values = reading.values;
  // A mended text takes its note away with it.
  note_ = std::move(reading.note);
  // Taken texts show in their normal form; a refused one stays as typed.
  const LevelsTexts shown = FormatLevelsTexts(values);
  for (int i = 0; i < kLevelsEditCount; ++i) {
    const auto index = static_cast<std::size_t>(i);
    if (!reading.refused[index] && texts[index] != shown[index]) edits_[index]->ChangeValue(shown[index]);
  }
  refused_ = reading.refused;
  Refresh(false);
  if (sayNote) sayNote(note_);
  if (!(values == before)) Notify();
  return reading.firstRefused;
}

void CLevelsControl::SayTypedNote() {
  if (!sayNote) return;
  LevelsTexts texts;
  for (int i = 0; i < kLevelsEditCount; ++i)
    texts[static_cast<std::size_t>(i)] = edits_[static_cast<std::size_t>(i)]->GetValue().ToStdWstring();
  sayNote(ReadLevelsEdits(texts, values).note);
}

void CLevelsControl::SelectEdit(int index) {
  if (index < 0 || index >= kLevelsEditCount) return;
  wxTextCtrl* edit = edits_[static_cast<std::size_t>(index)];
  edit->SetFocus();
  edit->SelectAll();
}

std::wstring CLevelsControl::TakeNote() { return std::exchange(note_, std::wstring()); }

bool CLevelsControl::HasUnreadTyping() const {
  const LevelsTexts shown = FormatLevelsTexts(values);
  for (int i = 0; i < kLevelsEditCount; ++i) {
    const auto index = static_cast<std::size_t>(i);
    if (edits_[index]->GetValue().ToStdWstring() != shown[index]) return true;
  }
  return false;
}

void CLevelsControl::Notify() {
  wxCommandEvent event(EVT_LEVELS_CHANGED, GetId());
  event.SetEventObject(this);
  ProcessWindowEvent(event);
}

void CLevelsControl::PressAt(int x, int y) {
  if (!IsEnabled()) return;
  dragHandle_ = LevelsHitTest(layout_, values, x, y, dpi_);
  if (dragHandle_ == LevelsHandle::None) return;
  DragTo(x);
}

void CLevelsControl::DragTo(int x) {
  if (dragHandle_ == LevelsHandle::None) return;
  values = DragLevelsHandle(layout_, values, dragHandle_, x);
  // The dragged level's edit shows it; another edit holding a refused text keeps it.
  const LevelsTexts texts = FormatLevelsTexts(values);
  const auto dragged = static_cast<std::size_t>(static_cast<int>(dragHandle_) - 1);
  refused_[dragged] = false;
  for (std::size_t i = 0; i < texts.size(); ++i)
    if (!refused_[i] && edits_[i]->GetValue().ToStdWstring() != texts[i]) edits_[i]->ChangeValue(texts[i]);
  Refresh(false);
}

void CLevelsControl::Release() {
  if (dragHandle_ == LevelsHandle::None) return;
  dragHandle_ = LevelsHandle::None;
  Notify();
}

void CLevelsControl::OnLeftDown(wxMouseEvent& event) {
  PressAt(event.GetX(), event.GetY());
  if (dragHandle_ != LevelsHandle::None && !HasCapture()) CaptureMouse();
}

void CLevelsControl::OnMotion(wxMouseEvent& event) { DragTo(event.GetX()); }

void CLevelsControl::OnLeftUp(wxMouseEvent&) {
  if (HasCapture()) ReleaseMouse();
  Release();
}

void CLevelsControl::OnCaptureLost(wxMouseCaptureLostEvent&) { Release(); }

void CLevelsControl::OnCharHook(wxKeyEvent& event) {
  const int key = event.GetKeyCode();
  // The hook's event object is the window the key was typed into (the focus, as a fallback).
  const auto isEdit = [this](const wxObject* window) {
    return std::find(edits_.begin(), edits_.end(), window) != edits_.end();
  };
  const bool inEdit = isEdit(event.GetEventObject()) || isEdit(FindFocus());
  if (inEdit && (key == WXK_RETURN || key == WXK_NUMPAD_ENTER)) {
    // Consumed: Enter confirms the edit instead of closing the dialog.
    const int refusedEdit = ReadLevelEdits();
    if (refuse && !note_.empty()) refuse(TakeNote());
    SelectEdit(refusedEdit);
    return;
  }
  if (inEdit && key == WXK_ESCAPE && HasUnreadTyping()) {
    UpdateLevelEdits();  // consumed: the first Escape takes the typing back, the next cancels
    return;
  }
  event.Skip();
}

void CLevelsControl::OnEditKillFocus(wxFocusEvent& event) {
  ReadLevelEdits();
  event.Skip();
}

void CLevelsControl::OnSize(wxSizeEvent& event) {
  LayOut();
  Refresh(false);
  event.Skip();
}

void CLevelsControl::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const bool enabled = IsEnabled();
  dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
  dc.Clear();

  const PixelRect& h = layout_.histogram;
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(enabled ? wxColour(64, 64, 64) : wxColour(140, 140, 140)));
  dc.DrawRectangle(ToWx(h));
  if (!histogram.empty() && h.Width() > 0) {
    const std::int64_t peak = std::max<std::int64_t>(1, *std::max_element(histogram.begin(), histogram.end()));
    const auto bins = static_cast<std::int64_t>(histogram.size());
    dc.SetPen(wxPen(enabled ? wxColour(220, 220, 220) : wxColour(200, 200, 200), 1));
    for (int x = h.left; x < h.right; ++x) {
      const std::int64_t bin = std::clamp<std::int64_t>((x - h.left) * bins / std::max(h.Width(), 1), 0, bins - 1);
      const std::int64_t count = std::max<std::int64_t>(0, histogram[static_cast<std::size_t>(bin)]);
      const auto height = static_cast<int>(h.Height() * count / peak);
      if (height > 0) dc.DrawLine(x, h.bottom - 1, x, h.bottom - 1 - height);
    }
  }

  const wxColour dark = enabled ? wxColour(40, 40, 40) : wxColour(150, 150, 150);
  const wxColour middle = enabled ? wxColour(128, 128, 128) : wxColour(170, 170, 170);
  DrawHandle(dc, LevelsHandlePosition(layout_, values, LevelsHandle::Black), layout_.inputBar, dark, true, dpi_);
  DrawHandle(dc, LevelsHandlePosition(layout_, values, LevelsHandle::Gamma), layout_.inputBar, middle, true, dpi_);
  DrawHandle(dc, LevelsHandlePosition(layout_, values, LevelsHandle::White), layout_.inputBar, dark, false, dpi_);

  const PixelRect& out = layout_.outputBar;
  const int rampBottom = out.top + ScaleForDpi(kRampHeight, dpi_);
  for (int x = out.left; x < out.right; ++x) {
    int g = (x - out.left) * 255 / std::max(out.Width(), 1);
    if (!enabled) g = g / 2 + 128;
    dc.SetPen(wxPen(wxColour(static_cast<unsigned char>(g), static_cast<unsigned char>(g), static_cast<unsigned char>(g)), 1));
    dc.DrawLine(x, out.top, x, rampBottom);
  }
  dc.SetPen(wxPen(wxColour(210, 215, 222), 1));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.DrawRectangle(out.left, out.top, out.Width(), rampBottom - out.top);
  DrawHandle(dc, LevelsHandlePosition(layout_, values, LevelsHandle::OutputBlack), out, dark, true, dpi_);
  DrawHandle(dc, LevelsHandlePosition(layout_, values, LevelsHandle::OutputWhite), out, dark, false, dpi_);
}

}  // namespace grainforge::app
