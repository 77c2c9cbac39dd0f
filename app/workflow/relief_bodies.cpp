#include "app/workflow/relief_bodies.h"

#include "app/shell/kit/refusal_note.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/graphics.h>
#include <wx/textctrl.h>

#include "app/document/grainforge_doc.h"
#include "engine/pipeline/pipeline_stages.h"
#include "engine/pipeline/process_estimate.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/number_text.h"
#include "app/shell/kit/ui_colours.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/shell/kit/ui_scale.h"
#include "app/workflow/browser_controls.h"
#include "app/workflow/flow_wnd.h"

namespace grainforge::app {
namespace {

namespace mesh = grainforge::mesh;

constexpr int kMargin = 8;
constexpr int kGap = 6;
constexpr int kRow = 24;
// Room for the longest label ("Triangle size") and unit ("mm") in the desktop's interface font
// at its usual size, with a few pixels to spare.
constexpr int kLabelWidth = 84;
constexpr int kUnitWidth = 26;
constexpr int kEditWidth = 44;
constexpr int kQuickWidth = 40;
constexpr int kEstimateHeight = 30;
constexpr float kQuickSizes[3] = {0.1f, 0.15f, 0.2f};
constexpr float kQuickStrengths[3] = {0.4f, 0.6f, 1.0f};

bool HasPartOn(const CGrainforgeDoc* doc, bool CGrainforgeDoc::*switchOn) {
  return doc != nullptr && doc->HasPart() && doc->*switchOn;
}

void PaintPane(wxWindow* window, wxDC& dc) {
  const wxSize size = window->GetClientSize();
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWxColour(colours::kPaneBackground)));
  dc.DrawRectangle(0, 0, size.x, size.y);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
}

wxTextCtrl* MakeNumberEdit(wxWindow* parent, int id) {
  return new wxTextCtrl(parent, id, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                        wxTE_RIGHT | wxTE_PROCESS_ENTER);
}

// Enter commits and Escape puts the stored value back; the field keeps the focus either way.
// Leaving the field commits too, without saying again a refusal already said for that text.
// A refusal is said as the text is typed (`sayTyped`), which takes nothing.
void BindEntryKeys(wxTextCtrl* edit, std::function<void(bool sayAgain)> commit, std::function<void()> restore,
                   std::function<void()> sayTyped) {
  edit->Bind(wxEVT_TEXT, [sayTyped](wxCommandEvent& event) {
    event.Skip();
    sayTyped();
  });
  edit->Bind(wxEVT_TEXT_ENTER, [commit](wxCommandEvent&) { commit(true); });
  edit->Bind(wxEVT_KEY_DOWN, [restore](wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE) restore();
    else event.Skip();
  });
  edit->Bind(wxEVT_KILL_FOCUS, [commit](wxFocusEvent& event) {
    event.Skip();
    commit(false);
  });
}

// Lays the workflow column out again after the event that changed a body's height: the column
// asks every body for its height when it lays out.
void RelayoutFlowOf(wxWindow* body) {
  for (wxWindow* w = body->GetParent(); w != nullptr; w = w->GetParent()) {
    if (auto* flow = dynamic_cast<CFlowWnd*>(w)) {
      flow->CallAfter([flow] { flow->RelayoutSections(); });
      break;
    }
  }
}

// A refused entry is said as every field says one: in red right under its row (it took a
// message box, which took the focus). `text` empty takes the note away. The note wraps to
// `width`; its height (0 when hidden) is kept in `height`, and the body and its column are laid
// out again when it changes.
void SayUnderRow(CSectionBody* body, wxStaticText* note, const std::wstring& text, int width, int& height) {
  if (note == nullptr) return;
  const bool same = text.empty() ? !note->IsShown() : note->IsShown() && note->GetLabel().ToStdWstring() == text;
  if (same && (text.empty() || note->GetSize().x == width)) return;
  note->SetFont(GetUiFont(kUiFontSmall, body->Dpi()));
  SayRefusalNote(note, text, std::max(width, 1));
  const int now = text.empty() ? 0 : note->GetMinSize().y;
  if (now == height) {
    body->LayoutChildren();
    return;
  }
  height = now;
  body->LayoutChildren();
  RelayoutFlowOf(body);
}

// A refused text stays in its field as typed, selected, until it is mended or Escape puts the
// stored value back (it used to be put back behind the message). It is said when it is new and
// on every Enter; leaving the field again with it says nothing new.
void KeepRefusedText(wxTextCtrl* edit, const std::wstring& typed, const std::wstring& refusal, RefusedEntry& kept,
                     float stored, SayRefusal say, const std::function<void(const std::wstring&)>& refuse) {
  const bool said = kept.text == typed;
  kept.text = typed;
  kept.stored = stored;
  const bool sayNow = say == SayRefusal::always || (say == SayRefusal::whenNew && !said);
  if (sayNow && refuse) refuse(refusal);
  if (wxWindow::FindFocus() == edit) edit->SelectAll();
}

SayRefusal SayFor(bool sayAgain) { return sayAgain ? SayRefusal::always : SayRefusal::whenNew; }

// A field's refusal said for work that did not run: its section is opened and scrolled into
// sight, the field takes the focus with its text selected, then the words come.
void SayInField(wxTextCtrl* edit, const std::wstring& message, const std::function<void(const std::wstring&)>& refuse) {
  for (wxWindow* w = edit->GetParent(); w != nullptr; w = w->GetParent())
    if (auto* flow = dynamic_cast<CFlowWnd*>(w)) {
      flow->BringIntoSight(edit);
      break;
    }
  edit->SetFocus();
  edit->SelectAll();
  if (refuse) refuse(message);
}

void SetFieldText(wxTextCtrl* edit, float value) {
  const wxString text(FormatDialogFloat(value));
  if (edit->GetValue() != text) edit->ChangeValue(text);
}

void Place(wxWindow* window, const PixelRect& r) {
  if (window != nullptr) window->SetSize(r.left, r.top, std::max(r.Width(), 0), std::max(r.Height(), 0));
}

// The three quick buttons of a row, after its unit: at their designed place where the body is
// wide enough, else nearer the unit, then narrower, so that all three stay whole inside the
// body (beside the pane's scroll bar the third was cut at the right edge).
void PlaceQuickButtons(wxButton* const (&buttons)[3], int unitRight, int bodyRight, int designedLeft,
                       int top, int dpi) {
  const auto s = [dpi](int v) { return ScaleForDpi(v, dpi); };
  const int gap = s(kGap) / 2;
  const int room = bodyRight - (unitRight + s(2));
  const int width = std::clamp((room - 2 * gap) / 3, s(24), s(kQuickWidth));
  const int row = 3 * width + 2 * gap;
  const int left = std::max(unitRight + s(2), std::min(designedLeft, bodyRight - row));
  for (int i = 0; i < 3; ++i) {
    const int x = left + i * (width + gap);
    Place(buttons[i], PixelRect{x, top, x + width, top + s(kRow)});
  }
}

void SetControlFont(wxWindow* window, int dpi) {
  if (window != nullptr) window->SetFont(GetUiFont(kUiFontNormal, dpi));
}

}  // namespace

// ---- Remesh ------------------------------------------------------------------------------------

bool CRemeshBody::Build(wxWindow* parent, int id, FlowStep step) {
  if (!CreateSectionBody(this, parent, id, step)) return false;
  edit_ = MakeNumberEdit(this, 1);
  refusalNote_ = CreateRefusalNote(this, wxID_ANY);
  refuse = [this](const std::wstring& text) { ShowRefusal(text); };
  BindEntryKeys(
      edit_, [this](bool sayAgain) { CommitEdit(sayAgain); },
      [this] {
        lastEstimate_.reset();
        refused_ = {};
        ShowRefusal(L"");
        if (document_) SetFieldText(edit_, document_->remeshSettings.targetEdgeMillimetres);
      },
      [this] { ShowRefusal(TriangleSizeEntryRefusal(edit_->GetValue().ToStdWstring())); });
  for (int i = 0; i < 3; ++i) {
    quick_[i] = new wxButton(this, 2 + i, wxString(FormatDialogFloat(kQuickSizes[i])), wxDefaultPosition,
                             wxDefaultSize, wxBU_EXACTFIT);
    const float size = kQuickSizes[i];
    quick_[i]->Bind(wxEVT_BUTTON, [this, size](wxCommandEvent&) { SetTriangleSize(size); });
  }
  SetDpi(Dpi());
  return true;
}

void CRemeshBody::SetDpi(int dpi) {
  CSectionBody::SetDpi(dpi);
  SetControlFont(edit_, dpi);
  for (wxButton* b : quick_) SetControlFont(b, dpi);
  LayoutChildren();
}

int CRemeshBody::GetContentHeight() const {
  const int d = Dpi();
  return ScaleForDpi(kMargin, d) + ScaleForDpi(kRow, d) + ScaleForDpi(kGap, d) + RefusalRoom() +
         std::max(ScaleForDpi(kEstimateHeight, d), estimateHeight_) + ScaleForDpi(kMargin, d);
}

int CRemeshBody::RefusalRoom() const { return refusalHeight_ > 0 ? refusalHeight_ + ScaleForDpi(kGap, Dpi()) : 0; }

void CRemeshBody::ShowRefusal(const std::wstring& text) {
  SayUnderRow(this, refusalNote_, text, GetClientSize().x - ScaleForDpi(kMargin, Dpi()) - label_.right,
              refusalHeight_);
}

void CRemeshBody::MeasureEstimate() {
  const int width = GetClientSize().x - 2 * ScaleForDpi(kMargin, Dpi());
  if (width <= 0) return;
  wxClientDC dc(this);
  dc.SetFont(GetUiFont(kUiFontSmall, Dpi()));
  const int height = DrawWrappedText(dc, estimate_, PixelRect{0, 0, width, 1}, TextAlign::Left, false);
  if (height == estimateHeight_) return;
  estimateHeight_ = height;
  estimateRect_.bottom = estimateRect_.top + std::max(ScaleForDpi(kEstimateHeight, Dpi()), estimateHeight_);
  // The column asks every body for its height when it lays out; after this event, not inside it.
  for (wxWindow* w = GetParent(); w != nullptr; w = w->GetParent()) {
    if (auto* flow = dynamic_cast<CFlowWnd*>(w)) {
      flow->CallAfter([flow] { flow->RelayoutSections(); });
      break;
    }
  }
}

void CRemeshBody::LayoutChildren() {
  const auto s = [this](int v) { return ScaleForDpi(v, Dpi()); };
  const wxSize size = GetClientSize();
  const int y = s(kMargin);
  label_ = PixelRect{s(kMargin), y, s(kMargin) + s(kLabelWidth), y + s(kRow)};
  const PixelRect edit{label_.right, y, label_.right + s(kEditWidth), y + s(kRow)};
  Place(edit_, edit);
  unit_ = PixelRect{edit.right + s(4), y, edit.right + s(4) + s(kUnitWidth), y + s(kRow)};
  PlaceQuickButtons(quick_, unit_.right, size.x - s(kMargin), edit.right + s(40), y, Dpi());
  if (refusalHeight_ > 0)
    Place(refusalNote_, PixelRect{label_.right, y + s(kRow) + s(kGap) / 2, size.x - s(kMargin),
                                  y + s(kRow) + s(kGap) / 2 + refusalHeight_});
  const int top = y + s(kRow) + s(kGap) + RefusalRoom();
  estimateRect_ = PixelRect{s(kMargin), top, size.x - s(kMargin), top + std::max(s(kEstimateHeight), estimateHeight_)};
  MeasureEstimate();
  Refresh(false);
}

void CRemeshBody::UpdateFromDocument(CGrainforgeDoc* document) {
  document_ = document;
  const bool enabled = HasPartOn(document, &CGrainforgeDoc::displacementOn);
  if (enabled != enabled_ || (edit_ != nullptr && edit_->IsEnabled() != enabled)) {
    enabled_ = enabled;
    if (edit_ != nullptr) edit_->Enable(enabled);
    for (wxButton* b : quick_)
      if (b != nullptr) b->Enable(enabled);
    Refresh(false);
  }
  if (document == nullptr || edit_ == nullptr) return;
  const float size = document->remeshSettings.targetEdgeMillimetres;
  // A size set elsewhere (a quick button, undo, another project) replaces a refused text.
  if (!refused_.text.empty() && refused_.stored != size) refused_ = {};
  if (refused_.text.empty()) ShowRefusal(L"");
  if (wxWindow::FindFocus() != edit_ && refused_.text.empty()) SetFieldText(edit_, size);
  const bool hasPart = document->HasPart();
  // The same settings and the same estimate as Process, so the text and a refusal agree.
  const mesh::PipelineSettings settings = document->BuildPipelineSettings();
  const EstimateKey key{hasPart ? document->partGeneration : 0,
                        hasPart,
                        size,
                        static_cast<int>(mesh::EffectiveRemeshSettings(settings).method),
                        settings.remeshOn != 0,
                        settings.displacementOn != 0 && settings.displacement.method != mesh::DisplacementMethod::mesh,
                        settings.maximumTriangles};
  if (lastEstimate_ && key == *lastEstimate_) return;
  lastEstimate_ = key;
  estimate_ = hasPart ? TriangleEstimateText(true, mesh::EstimateProcessTriangles(document->workingPart, settings))
                      : TriangleEstimateText(false, mesh::ProcessEstimate{});
  MeasureEstimate();
  Refresh(false);
}

void CRemeshBody::SetTriangleSize(float millimetres) {
  if (document_ == nullptr) return;
  refused_ = {};  // a size set replaces a refused text
  mesh::RemeshSettings settings = document_->remeshSettings;
  settings.targetEdgeMillimetres = std::max(millimetres, kSmallestTriangleSize);
  if (!mesh::RemeshSettingsEquals(settings, document_->remeshSettings)) {
    document_->remeshSettings = settings;
    document_->UpdatePreview();
  }
  UpdateFromDocument(document_);
}

void CRemeshBody::CommitEdit(bool sayAgain) { CommitTyped(SayFor(sayAgain)); }

void CRemeshBody::CommitTyped(SayRefusal say) {
  if (document_ == nullptr || edit_ == nullptr) return;
  const std::wstring typed = edit_->GetValue().ToStdWstring();
  const float stored = document_->remeshSettings.targetEdgeMillimetres;
  if (const std::optional<float> size = TriangleSizeFromEntry(typed)) {
    refused_ = {};
    SetTriangleSize(*size);
  } else if (typed != FormatDialogFloat(stored)) {
    KeepRefusedText(edit_, typed, TriangleSizeEntryRefusal(typed), refused_, stored, say, refuse);
    return;
  }
  if (refused_.text.empty()) ShowRefusal(L"");
  SetFieldText(edit_, document_->remeshSettings.targetEdgeMillimetres);
}

std::wstring CRemeshBody::TakeTypedEntries() {
  if (edit_ == nullptr || !edit_->IsEnabled()) return {};
  CommitTyped(SayRefusal::never);
  return refused_.text.empty() ? std::wstring() : TriangleSizeEntryRefusal(refused_.text);
}

std::vector<std::wstring> CRemeshBody::HeldRefusals() const {
  if (edit_ == nullptr || !edit_->IsEnabled() || refused_.text.empty()) return {};
  return {TriangleSizeEntryRefusal(refused_.text)};
}

void CRemeshBody::SayRefusedEntry(const std::wstring& message) { SayInField(edit_, message, refuse); }

void CRemeshBody::PaintBody(wxDC& dc) {
  PaintPane(this, dc);
  dc.SetFont(GetUiFont(kUiFontNormal, Dpi()));
  dc.SetTextForeground(ToWxColour(enabled_ ? colours::kText : colours::kMutedText));
  DrawTextLine(dc, L"Triangle size", label_, TextAlign::Left);
  DrawTextLine(dc, L"mm", unit_, TextAlign::Left);
  dc.SetFont(GetUiFont(kUiFontSmall, Dpi()));
  dc.SetTextForeground(ToWxColour(colours::kMutedText));
  DrawWrappedText(dc, estimate_, estimateRect_, TextAlign::Left);
}

// ---- Displacement ------------------------------------------------------------------------------

bool CDisplacementBody::Build(wxWindow* parent, int id, FlowStep step) {
  if (!CreateSectionBody(this, parent, id, step)) return false;
  edit_ = MakeNumberEdit(this, 5);
  refusalNote_ = CreateRefusalNote(this, wxID_ANY);
  refuse = [this](const std::wstring& text) { ShowRefusal(text); };
  BindEntryKeys(
      edit_, [this](bool sayAgain) { CommitStrength(sayAgain); },
      [this] {
        refused_ = {};
        ShowRefusal(L"");
        if (document_) SetFieldText(edit_, document_->displacementSettings.strengthMillimetres);
      },
      [this] { ShowRefusal(StrengthEntryRefusal(edit_->GetValue().ToStdWstring())); });
  for (int i = 0; i < 3; ++i) {
    quick_[i] = new wxButton(this, 8 + i, wxString(FormatDialogFloat(kQuickStrengths[i])), wxDefaultPosition,
                             wxDefaultSize, wxBU_EXACTFIT);
    const float strength = kQuickStrengths[i];
    quick_[i]->Bind(wxEVT_BUTTON, [this, strength](wxCommandEvent&) { SetStrength(strength); });
  }
  wxArrayString directions;
  directions.Add(wxS("Centred"));
  directions.Add(wxS("Outward only"));
  directions.Add(wxS("Inward only"));
  direction_ = new wxChoice(this, 6, wxDefaultPosition, wxDefaultSize, directions);
  direction_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { OnDirection(); });
  bedFace_ = new wxCheckBox(this, 7, wxS("Keep the bed face flat"));
  bedFace_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnBedFace(); });
  SetDpi(Dpi());
  return true;
}

void CDisplacementBody::SetDpi(int dpi) {
  CSectionBody::SetDpi(dpi);
  SetControlFont(edit_, dpi);
  for (wxButton* b : quick_) SetControlFont(b, dpi);
  SetControlFont(direction_, dpi);
  SetControlFont(bedFace_, dpi);
  LayoutChildren();
}

int CDisplacementBody::GetContentHeight() const {
  const int d = Dpi();
  return ScaleForDpi(kMargin, d) + 3 * ScaleForDpi(kRow, d) + 2 * ScaleForDpi(kGap, d) + RefusalRoom() +
         ScaleForDpi(kMargin, d);
}

int CDisplacementBody::RefusalRoom() const {
  return refusalHeight_ > 0 ? refusalHeight_ + ScaleForDpi(kGap, Dpi()) : 0;
}

void CDisplacementBody::ShowRefusal(const std::wstring& text) {
  SayUnderRow(this, refusalNote_, text, GetClientSize().x - ScaleForDpi(kMargin, Dpi()) - strengthLabel_.right,
              refusalHeight_);
}

void CDisplacementBody::LayoutChildren() {
  const auto s = [this](int v) { return ScaleForDpi(v, Dpi()); };
  const wxSize size = GetClientSize();
  const int y1 = s(kMargin);
  const int y2 = y1 + s(kRow) + s(kGap) + RefusalRoom();
  strengthLabel_ = PixelRect{s(kMargin), y1, s(kMargin) + s(kLabelWidth), y1 + s(kRow)};
  if (refusalHeight_ > 0)
    Place(refusalNote_, PixelRect{strengthLabel_.right, y1 + s(kRow) + s(kGap) / 2, size.x - s(kMargin),
                                  y1 + s(kRow) + s(kGap) / 2 + refusalHeight_});
  // Wide enough for the largest strength the field takes, so that no digit scrolls out of view.
  // The entry's padding and border (4 px and 1 px a side in the compact style) and a caret's
  // room; the toolkit's own answer grew with every layout (112 px, then 159 px beside the same
  // text), pushing the quick buttons out of the body.
  const int widest = edit_->GetTextExtent(wxS("100000")).x + s(14);
  const PixelRect edit{strengthLabel_.right, y1, strengthLabel_.right + std::max(s(kEditWidth), widest),
                       y1 + s(kRow)};
  Place(edit_, edit);
  unit_ = PixelRect{edit.right + s(4), y1, edit.right + s(4) + s(kUnitWidth), y1 + s(kRow)};
  PlaceQuickButtons(quick_, unit_.right, size.x - s(kMargin), edit.right + s(40), y1, Dpi());
  directionLabel_ = PixelRect{s(kMargin), y2, s(kMargin) + s(kLabelWidth), y2 + s(kRow)};
  const PixelRect combo{directionLabel_.right, y2, directionLabel_.right + s(130), y2 + s(kRow)};
  Place(direction_, combo);
  diagram_ = PixelRect{combo.right + s(10), y2, size.x - s(kMargin), y2 + 2 * s(kRow) + s(kGap)};
  if (diagram_.Width() < s(64)) diagram_ = PixelRect{};
  const int boxTop = y2 + s(kRow) + s(kGap);
  const int boxRight = diagram_.IsEmpty() ? size.x - s(kMargin) : diagram_.left - s(6);
  Place(bedFace_, PixelRect{s(kMargin), boxTop, boxRight, boxTop + s(kRow)});
  lastStrength_ = -1.0f;
  Refresh(false);
}

void CDisplacementBody::UpdateFromDocument(CGrainforgeDoc* document) {
  document_ = document;
  const bool enabled = HasPartOn(document, &CGrainforgeDoc::displacementOn);
  if (edit_ == nullptr) return;
  if (enabled != enabled_ || edit_->IsEnabled() != enabled) {
    enabled_ = enabled;
    edit_->Enable(enabled);
    for (wxButton* b : quick_) b->Enable(enabled);
    direction_->Enable(enabled);
    bedFace_->Enable(enabled);
    Refresh(false);
  }
  if (document == nullptr) return;
  const mesh::DisplacementSettings& settings = document->displacementSettings;
  if (!refused_.text.empty() && refused_.stored != settings.strengthMillimetres) refused_ = {};
  if (refused_.text.empty()) ShowRefusal(L"");
  if (wxWindow::FindFocus() != edit_ && refused_.text.empty()) SetFieldText(edit_, settings.strengthMillimetres);
  const int direction = static_cast<int>(settings.direction);
  if (direction_->GetSelection() != direction && direction >= 0 && direction < 3) direction_->SetSelection(direction);
  if (bedFace_->GetValue() != settings.base.enabled) bedFace_->SetValue(settings.base.enabled);
  if (settings.strengthMillimetres == lastStrength_ && direction == lastDirection_ && enabled == lastEnabled_) return;
  lastStrength_ = settings.strengthMillimetres;
  lastDirection_ = direction;
  lastEnabled_ = enabled;
  if (!diagram_.IsEmpty()) RefreshRect(wxRect(diagram_.left, diagram_.top, diagram_.Width(), diagram_.Height()), false);
}

void CDisplacementBody::SetStrength(float millimetres) {
  refused_ = {};  // a strength set replaces a refused text
  if (document_ == nullptr) return;
  mesh::DisplacementSettings settings = document_->displacementSettings;
  if (settings.strengthMillimetres != millimetres) {
    settings.strengthMillimetres = millimetres;
    if (!mesh::DisplacementSettingsEquals(settings, document_->displacementSettings)) {
      document_->displacementSettings = settings;
      document_->UpdatePreview();
    }
  }
  UpdateFromDocument(document_);
}

void CDisplacementBody::CommitStrength(bool sayAgain) { CommitTyped(SayFor(sayAgain)); }

std::wstring CDisplacementBody::TakeTypedEntries() {
  if (edit_ == nullptr || !edit_->IsEnabled()) return {};
  CommitTyped(SayRefusal::never);
  return refused_.text.empty() ? std::wstring() : StrengthEntryRefusal(refused_.text);
}

std::vector<std::wstring> CDisplacementBody::HeldRefusals() const {
  if (edit_ == nullptr || !edit_->IsEnabled() || refused_.text.empty()) return {};
  return {StrengthEntryRefusal(refused_.text)};
}

void CDisplacementBody::SayRefusedEntry(const std::wstring& message) { SayInField(edit_, message, refuse); }

void CDisplacementBody::CommitTyped(SayRefusal say) {
  if (document_ == nullptr || edit_ == nullptr) return;
  const std::wstring typed = edit_->GetValue().ToStdWstring();
  const float stored = document_->displacementSettings.strengthMillimetres;
  if (const std::optional<float> strength = StrengthFromEntry(typed, stored)) {
    refused_ = {};
    SetStrength(*strength);
  } else if (const std::wstring refusal = StrengthEntryRefusal(typed); !refusal.empty()) {
    if (typed != FormatDialogFloat(stored)) {
      KeepRefusedText(edit_, typed, refusal, refused_, stored, say, refuse);
      return;
    }
    SetFieldText(edit_, stored);
  } else {
    refused_ = {};  // the stored strength typed again
  }
}

void CDisplacementBody::OnDirection() {
  const int selection = direction_->GetSelection();
  if (document_ == nullptr || selection < 0) return;
  mesh::DisplacementSettings settings = document_->displacementSettings;
  settings.direction = static_cast<mesh::DisplacementDirection>(selection);
  if (!mesh::DisplacementSettingsEquals(settings, document_->displacementSettings)) {
    document_->displacementSettings = settings;
    document_->UpdatePreview();
  }
  UpdateFromDocument(document_);
}

void CDisplacementBody::OnBedFace() {
  if (document_ == nullptr) return;
  mesh::DisplacementSettings settings = document_->displacementSettings;
  settings.base.enabled = bedFace_->GetValue();
  if (!mesh::DisplacementSettingsEquals(settings, document_->displacementSettings)) {
    document_->displacementSettings = settings;
    document_->UpdatePreview();
  }
  UpdateFromDocument(document_);
}

StrengthWave StrengthWaveFor(const PixelRect& rect, int direction, int dpi) {
  const double scale = dpi / 96.0;
  StrengthWave w;
  w.x0 = rect.left + 2 * scale;
  w.x1 = rect.right - 56 * scale;
  const double y0 = rect.top + 3 * scale;
  w.baseY = rect.bottom - 2 * scale;
  const double h = w.baseY - y0;
  w.amplitude = 0.42 * h;
  if (direction == 1) {
    w.midY = y0 + 0.62 * h;
    w.topY = w.midY - w.amplitude;
  } else if (direction == 2) {
    w.midY = y0 + 0.3 * h;
    w.topY = w.midY;
  } else {
    w.midY = y0 + 0.5 * h;
    w.topY = w.midY - 0.5 * w.amplitude;
  }
  return w;
}

std::wstring StrengthDepthText(float strengthMillimetres) {
  const double depth = std::max(static_cast<double>(strengthMillimetres), 0.0);
  if (depth < 1000.0) return FormatDialogFloat(depth) + L" mm";
  return FormatDialogFloat(std::round(depth / 100.0) / 10.0) + L" m";
}

namespace {

void DrawStrengthDiagram(wxDC& dc, const PixelRect& rect, int direction, float strength, bool enabled, int dpi) {
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWxColour(colours::kPaneBackground)));
  dc.DrawRectangle(rect.left, rect.top, rect.Width(), rect.Height());
  std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::CreateFromUnknownDC(dc));
  if (!gc) return;
  gc->SetAntialiasMode(wxANTIALIAS_DEFAULT);
  const unsigned char alpha = enabled ? 255 : 110;
  const auto colour = [alpha](Rgb c) { return wxColour(c.r, c.g, c.b, alpha); };
  const StrengthWave w = StrengthWaveFor(rect, direction < 0 || direction > 2 ? 0 : direction, dpi);
  const double lambda = (w.x1 - w.x0) / 2.5;
  wxGraphicsPath wave = gc->CreatePath();
  for (int i = 0; i <= 64; ++i) {
    const double x = w.x0 + i * (w.x1 - w.x0) / 64.0;
    const double y = (w.topY + w.amplitude) -
                     w.amplitude * (0.5 + 0.5 * std::sin(2 * std::numbers::pi * (x - w.x0) / lambda - std::numbers::pi / 2));
    if (i == 0) wave.MoveToPoint(x, y);
    else wave.AddLineToPoint(x, y);
  }
  wxGraphicsPath area = wave;
  area.AddLineToPoint(w.x1, w.baseY);
  area.AddLineToPoint(w.x0, w.baseY);
  area.CloseSubpath();
  gc->SetPen(*wxTRANSPARENT_PEN);
  gc->SetBrush(wxBrush(colour(colours::kPaleAccent)));
  gc->FillPath(area);
  gc->SetPen(gc->CreatePen(wxGraphicsPenInfo(colour(colours::kText)).Width(1.4)));
  gc->StrokePath(wave);
  gc->SetPen(gc->CreatePen(wxGraphicsPenInfo(colour(colours::kAccent)).Width(1.2).Style(wxPENSTYLE_SHORT_DASH)));
  gc->StrokeLine(w.x0, w.midY, w.x1, w.midY);
  const double scale = dpi / 96.0;
  const double xm = w.x1 + 6 * scale;
  gc->SetPen(gc->CreatePen(wxGraphicsPenInfo(colour(colours::kMutedText)).Width(1.0)));
  gc->StrokeLine(xm, w.topY, xm, w.topY + w.amplitude);
  gc->StrokeLine(xm - 3 * scale, w.topY, xm + 3 * scale, w.topY);
  gc->StrokeLine(xm - 3 * scale, w.topY + w.amplitude, xm + 3 * scale, w.topY + w.amplitude);
  gc.reset();
  dc.SetFont(GetUiFont(kUiFontSmall, dpi));
  dc.SetTextForeground(ToWxColour(enabled ? colours::kText : colours::kMutedText));
  const int centre = static_cast<int>(w.topY + w.amplitude / 2);
  const int label = static_cast<int>(16 * scale);
  const std::wstring text = StrengthDepthText(strength);
  dc.DrawText(wxString(text), static_cast<int>(xm + 5 * scale), centre - label / 2);
}

}  // namespace

void CDisplacementBody::PaintBody(wxDC& dc) {
  PaintPane(this, dc);
  dc.SetFont(GetUiFont(kUiFontNormal, Dpi()));
  dc.SetTextForeground(ToWxColour(enabled_ ? colours::kText : colours::kMutedText));
  DrawTextLine(dc, L"Strength", strengthLabel_, TextAlign::Left);
  DrawTextLine(dc, L"mm", unit_, TextAlign::Left);
  DrawTextLine(dc, L"Direction", directionLabel_, TextAlign::Left);
  if (!diagram_.IsEmpty() && document_ != nullptr)
    DrawStrengthDiagram(dc, diagram_, static_cast<int>(document_->displacementSettings.direction),
                        document_->displacementSettings.strengthMillimetres, enabled_, Dpi());
  else if (!diagram_.IsEmpty())
    DrawStrengthDiagram(dc, diagram_, 0, 1.0f, false, Dpi());
}

// ---- Simplify ----------------------------------------------------------------------------------

bool CSimplifyBody::Build(wxWindow* parent, int id, FlowStep step) {
  if (!CreateSectionBody(this, parent, id, step)) return false;
  flatAreas_ = new wxCheckBox(this, 11, wxS("Flat areas (exact, nothing moves)"));
  wholeMesh_ = new wxCheckBox(this, 12, wxS("Mesh simplify (detail level)"));
  for (wxCheckBox* box : {flatAreas_, wholeMesh_}) {
    SetControlFont(box, Dpi());
    box->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnBox(); });
  }
  LayoutChildren();
  return true;
}

int CSimplifyBody::GetContentHeight() const {
  const int d = Dpi();
  return ScaleForDpi(kMargin, d) + 2 * ScaleForDpi(kRow, d) + ScaleForDpi(kMargin, d);
}

void CSimplifyBody::LayoutChildren() {
  const auto s = [this](int v) { return ScaleForDpi(v, Dpi()); };
  const int width = GetClientSize().x - 2 * s(kMargin);
  Place(flatAreas_, PixelRect{s(kMargin), s(kMargin), s(kMargin) + width, s(kMargin) + s(kRow)});
  Place(wholeMesh_, PixelRect{s(kMargin), s(kMargin) + s(kRow), s(kMargin) + width, s(kMargin) + 2 * s(kRow)});
  Refresh(false);
}

void CSimplifyBody::UpdateFromDocument(CGrainforgeDoc* document) {
  document_ = document;
  if (flatAreas_ == nullptr) return;
  const bool enabled = HasPartOn(document, &CGrainforgeDoc::simplifyOn);
  if (flatAreas_->IsEnabled() != enabled) {
    flatAreas_->Enable(enabled);
    wholeMesh_->Enable(enabled);
  }
  if (document == nullptr) return;
  if (flatAreas_->GetValue() != document->simplifySettings.flatAreas)
    flatAreas_->SetValue(document->simplifySettings.flatAreas);
  if (wholeMesh_->GetValue() != document->simplifySettings.wholeMesh)
    wholeMesh_->SetValue(document->simplifySettings.wholeMesh);
}

void CSimplifyBody::OnBox() {
  if (document_ == nullptr) return;
  mesh::SimplifySettings settings = document_->simplifySettings;
  settings.flatAreas = flatAreas_->GetValue();
  settings.wholeMesh = wholeMesh_->GetValue();
  if (!mesh::SimplifySettingsEquals(settings, document_->simplifySettings)) {
    document_->simplifySettings = settings;
    document_->UpdatePreview();
  }
  UpdateFromDocument(document_);
}

// ---- Relief ------------------------------------------------------------------------------------

bool CReliefBody::Build(wxWindow* parent, int id, FlowStep step) {
  if (!CreateSectionBody(this, parent, id, step)) return false;
  remesh_ = new CRemeshBody(document_);
  displacement_ = new CDisplacementBody(document_);
  if (!remesh_->Build(this, 1, step) || !displacement_->Build(this, 2, step)) return false;
  remesh_->SetDpi(Dpi());
  displacement_->SetDpi(Dpi());
  LayoutChildren();
  return true;
}

void CReliefBody::SetDpi(int dpi) {
  CSectionBody::SetDpi(dpi);
  if (remesh_ != nullptr) remesh_->SetDpi(dpi);
  if (displacement_ != nullptr) displacement_->SetDpi(dpi);
  LayoutChildren();
}

int CReliefBody::GetContentHeight() const {
  return (remesh_ ? remesh_->GetContentHeight() : 0) + (displacement_ ? displacement_->GetContentHeight() : 0);
}

void CReliefBody::UpdateFromDocument(CGrainforgeDoc* document) {
  document_ = document;
  if (remesh_ != nullptr) remesh_->UpdateFromDocument(document);
  if (displacement_ != nullptr) displacement_->UpdateFromDocument(document);
}

void CReliefBody::LayoutChildren() {
  if (remesh_ == nullptr || displacement_ == nullptr) return;
  const wxSize size = GetClientSize();
  const int top = remesh_->GetContentHeight();
  remesh_->SetSize(0, 0, size.x, top);
  displacement_->SetSize(0, top, size.x, std::max(size.y - top, 0));
}

}  // namespace grainforge::app
