#include "app/workflow/dialogs/relief_dialog.h"

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/dialog_fit.h"
#include "app/shell/kit/dialog_numbers.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/refusal_note.h"
#include "app/shell/kit/ui_colours.h"
#include "app/workflow/dialogs/relief_dialog_apply.h"
#include "app/shell/kit/number_text.h"
#include "app/workflow/help/help_pages.h"
#include "app/workflow/help/markdown_text_ctrl.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <array>

namespace grainforge::app {

namespace {

wxStaticText* Heading(wxWindow* parent, const wchar_t* text) {
  auto* heading = new wxStaticText(parent, wxID_ANY, text);
  heading->SetFont(heading->GetFont().Bold());
  return heading;
}

int DirectionIndex(mesh::DisplacementDirection direction) {
  return direction == mesh::DisplacementDirection::outward  ? 1
         : direction == mesh::DisplacementDirection::inward ? 2
                                                            : 0;
}

}  // namespace

CRemeshSettingsDialog::CRemeshSettingsDialog(wxWindow* parent, const ReliefDialogValues& values,
                                             ReliefDialogSection section, const mesh::TriangleMesh* part,
                                             const mesh::HeightMap* heightMap)
    : wxDialog(parent, wxID_ANY, wxS("Relief and Simplify Settings")),
      values_(values),
      part_(part),
      heightMap_(heightMap) {
  // OK's refusal is the one the note at its field says as it is typed (a text written without
  // an event is said now); a message box took the focus, and came only at OK.
  refuse = [this](const std::wstring&) { SayFieldRefusals(); };
  const int gap = wxDLG_UNIT(this, wxSize(4, 4)).x;
  const wxSize field = wxDLG_UNIT(this, wxSize(50, -1));
  const int textWidth = wxDLG_UNIT(this, wxSize(234, 0)).x;
  auto addField = [&](wxFlexGridSizer* grid, const wchar_t* label, int id) {
    grid->Add(new wxStaticText(this, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
    auto* edit = new wxTextCtrl(this, id, wxEmptyString, wxDefaultPosition, field, wxTE_RIGHT);
    grid->Add(edit, 0);
    return edit;
  };

  // Relief band.
  auto* relief = new wxBoxSizer(wxVERTICAL);
  relief->Add(Heading(this, L"Relief"), 0, wxBOTTOM, gap);
  auto* grid = new wxFlexGridSizer(2, gap, 2 * gap);
  size_ = addField(grid, L"Triangle size (mm)", kIdTriangleSize);
  strength_ = addField(grid, L"Strength (mm)", kIdStrength);
  grid->Add(new wxStaticText(this, wxID_ANY, L"Direction"), 0, wxALIGN_CENTER_VERTICAL);
  direction_ = new wxChoice(this, kIdDirection);
  for (const wchar_t* text : {L"Centred", L"Outward only", L"Inward only"}) direction_->Append(text);
  grid->Add(direction_, 0);
  midlevel_ = addField(grid, L"Midlevel", kIdMidlevel);
  relief->Add(grid, 0, wxBOTTOM, gap);
  // A refused text is said in red right under the fields that hold it, as it is typed.
  const auto addNote = [&](wxSizer* band, int id, std::vector<CheckedField> fields) {
    auto* note = CreateRefusalNote(this, id);
    band->Add(note, 0, wxBOTTOM, gap);
    notes_.push_back({note, std::move(fields)});
  };
  addNote(relief, kIdReliefRefusal,
          {{size_, kTriangleSizeRule}, {strength_, kStrengthRule}, {midlevel_, kMidlevelRule}});
  automatic_ = new wxCheckBox(this, kIdAutomaticMidlevel, L"Automatic midlevel, from the texture and the direction");
  relief->Add(automatic_, 0, wxBOTTOM, gap);
  keepBedFlat_ = new wxCheckBox(this, kIdKeepBedFlat, L"Keep the bed face flat");
  relief->Add(keepBedFlat_, 0, wxBOTTOM, gap);
  explanation_ = new wxStaticText(this, kIdMidlevelExplanation, wxEmptyString, wxDefaultPosition,
                                  wxSize(textWidth, wxDLG_UNIT(this, wxSize(0, 26)).y), wxST_NO_AUTORESIZE);
  relief->Add(explanation_, 0, wxBOTTOM, gap);
  auto* limits = new wxFlexGridSizer(2, gap, 2 * gap);
  triangleLimit_ = addField(limits, L"Triangle limit (millions)", kIdTriangleLimit);
  displayLimit_ = addField(limits, L"Display limit (millions)", kIdDisplayLimit);
  triangleLimit_->SetHint(wxS("no limit"));
  displayLimit_->SetHint(wxS("no limit"));
  relief->Add(limits, 0, wxBOTTOM, gap);
  estimate_ = new wxStaticText(this, kIdEstimate, wxEmptyString, wxDefaultPosition,
                               wxSize(textWidth, wxDLG_UNIT(this, wxSize(0, 18)).y), wxST_NO_AUTORESIZE);
  relief->Add(estimate_, 0);

  // Simplify band.
  auto* simplify = new wxBoxSizer(wxVERTICAL);
  simplify->Add(Heading(this, L"Simplify flat areas"), 0, wxBOTTOM, gap);
  auto* planar = new wxFlexGridSizer(2, gap, 2 * gap);
  planarTolerance_ = addField(planar, L"Planar tolerance (mm)", kIdPlanarTolerance);
  simplify->Add(planar, 0, wxBOTTOM, gap);
  addNote(simplify, kIdPlanarRefusal, {{planarTolerance_, kPlanarToleranceRule}});
  auto* planarNote = new wxStaticText(this, wxID_ANY,
      L"How far a vertex may sit off a surface and still count as on it. No vertex is ever moved, so the part "
      L"keeps its dimensions; only flat surfaces that the texture left flat give up triangles.");
  planarNote->Wrap(textWidth);
  simplify->Add(planarNote, 0, wxBOTTOM, 2 * gap);
  simplify->Add(Heading(this, L"Mesh simplify"), 0, wxBOTTOM, gap);
  auto* detail = new wxBoxSizer(wxHORIZONTAL);
  detail->Add(new wxStaticText(this, wxID_ANY, L"Detail level"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 2 * gap);
  detailLevel_ = new wxTextCtrl(this, kIdDetailLevel, wxEmptyString, wxDefaultPosition, field, wxTE_RIGHT);
  detail->Add(detailLevel_, 0, wxRIGHT, gap);
  constexpr std::array<std::pair<const wchar_t*, double>, 4> kPresets{
      {{L"Extra high", 0.001}, {L"High", 0.01}, {L"Medium", 0.1}, {L"Low", 0.5}}};
  for (std::size_t i = 0; i < kPresets.size(); ++i) {
    auto* button = new wxButton(this, kIdDetailExtraHigh + static_cast<int>(i), kPresets[i].first,
                                wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    const double level = kPresets[i].second;
    button->Bind(wxEVT_BUTTON, [this, level](wxCommandEvent&) {
      SetWindowFloat(detailLevel_, level);
      SayFieldRefusals();  // a level chosen mends a refused one
    });
    detail->Add(button, 0, wxRIGHT, gap / 2);
  }
  simplify->Add(detail, 0, wxBOTTOM, gap);
  addNote(simplify, kIdDetailRefusal, {{detailLevel_, kDetailLevelRule}});
  auto* detailNote = new wxStaticText(this, wxID_ANY,
      L"The limit each merge of two vertices may cost, as in a slicer's Simplify: smaller keeps more detail. "
      L"The bed face stays as it is.");
  detailNote->Wrap(textWidth);
  simplify->Add(detailNote, 0);

  auto* sizer = new wxBoxSizer(wxVERTICAL);
  const int margin = wxDLG_UNIT(this, wxSize(8, 8)).x;
  sizer->Add(relief, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin);
  sizer->Add(simplify, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin);
  sizer->AddStretchSpacer();
  sizer->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, margin);
  reliefBand_ = relief;
  simplifyBand_ = simplify;
  SetSizer(sizer);

  // Fill the fields.
  SetWindowFloat(size_, values_.remesh.targetEdgeMillimetres);
  triangleLimit_->ChangeValue(LimitFieldText(values_.triangleLimit));
  displayLimit_->ChangeValue(LimitFieldText(values_.displayLimit));
  SetWindowFloat(planarTolerance_, values_.simplify.planarToleranceMillimetres);
  SetWindowFloat(detailLevel_, values_.simplify.meshDetailError);
  SetWindowFloat(strength_, values_.displacement.strengthMillimetres);
  SetWindowFloat(midlevel_, values_.displacement.midLevel);
  values_.manualMidlevel = values_.displacement.midLevel;
  direction_->SetSelection(DirectionIndex(values_.displacement.direction));
  automatic_->SetValue(values_.displacement.midLevelMode == mesh::MidLevelMode::automatic);
  keepBedFlat_->SetValue(values_.displacement.base.enabled);
  EstimateTriangleText();
  ZeroLevelText();
  for (const RefusedFieldsNote& note : notes_) SayRefusalsAsTyped(note, [this] { return RefusalWidth(); });

  // Skipped on: the note under the size says its refusal too.
  for (wxTextCtrl* field : {size_, triangleLimit_, displayLimit_})
    field->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
      event.Skip();
      EstimateTriangleText();
    });
  automatic_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { ZeroLevelText(); });
  direction_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { ZeroLevelText(); });
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOk(); }, wxID_OK);

  // A cut-down dialog shows one band under its own title.
  const char* page = "stack";
  if (section == ReliefDialogSection::relief) {
    sizer->Hide(simplifyBand_, true);
    SetTitle(wxS("Relief Settings"));
    page = "relief";
  } else if (section == ReliefDialogSection::simplify) {
    sizer->Hide(reliefBand_, true);
    SetTitle(wxS("Simplify Settings"));
    page = "simplify";
  }
  SetMinClientSize(wxDLG_UNIT(this, wxSize(250, 0)));
  Fit();
  // Centred on the parent and fitted to its screen with the help.
  helpPane_ = AttachHelpPane(this, LoadHelpPage(page));
}

bool CRemeshSettingsDialog::InReliefBand(const wxWindow* control) const {
  return control != nullptr && reliefBand_->GetItem(const_cast<wxWindow*>(control), true) != nullptr;
}

bool EditReliefSettings(wxWindow* parent, CGrainforgeDoc& doc, ReliefDialogSection section) {
  CRemeshSettingsDialog dialog(parent, ReliefDialogValuesOf(doc), section, doc.HasPart() ? &doc.workingPart : nullptr,
                               doc.IsHeightMapLoaded() ? &doc.heightMap : nullptr);
  if (dialog.ShowModal() != wxID_OK) return false;
  return StoreReliefDialogValues(doc, dialog.Values());
}

void CRemeshSettingsDialog::SayFieldRefusals() {
  app::SayFieldRefusals(notes_, RefusalWidth());
  EstimateTriangleText();
}

int CRemeshSettingsDialog::RefusalWidth() const { return estimate_->GetMinSize().x; }

void CRemeshSettingsDialog::EstimateTriangleText() {
  // A limit OK would refuse is said here, under the limits, in red as it is typed. A refused size
  // is said under its own field, and leaves no estimate.
  const std::wstring typedSize = size_->GetValue().ToStdWstring();
  const std::wstring refusal =
      NumberFieldRefusalOf(typedSize, kTriangleSizeRule).empty()
          ? ReliefEstimateRefusal(typedSize, triangleLimit_->GetValue().ToStdWstring(),
                                  displayLimit_->GetValue().ToStdWstring())
          : std::wstring();
  estimate_->SetForegroundColour(refusal.empty() ? wxNullColour : ToWxColour(colours::kRefusalText));
  SetWrappedLabel(estimate_,
                  !refusal.empty() ? refusal
                                   : app::EstimateTriangleText(part_, values_.remesh, size_->GetValue().ToStdWstring(),
                                                               triangleLimit_->GetValue().ToStdWstring(),
                                                               values_.triangleLimit),
                  estimate_->GetMinSize().x);
}

void CRemeshSettingsDialog::ZeroLevelText() {
  const bool automatic = automatic_->GetValue();
  const int direction = std::max(0, direction_->GetSelection());
  if (automatic) {
    // The typed value comes back when automatic is off again: only one the field takes.
    if (midlevel_->IsEnabled())
      if (const NumberFieldReading typed = ReadNumberField(midlevel_->GetValue().ToStdWstring(), kMidlevelRule);
          typed.kind == NumberFieldReading::Kind::accepted)
        values_.manualMidlevel = static_cast<float>(typed.value);
    midlevel_->ChangeValue(MidlevelFieldText(AutomaticMidlevel(heightMap_, direction)));
    midlevel_->Enable(false);
  } else if (!midlevel_->IsEnabled()) {
    SetWindowFloat(midlevel_, values_.manualMidlevel);
    midlevel_->Enable(true);
  }
  SetWrappedLabel(explanation_, ZeroLevelExplanation(heightMap_, automatic, direction), explanation_->GetMinSize().x);
  // The midlevel turned automatic is no longer read: its refusal goes, and comes back with it.
  app::SayFieldRefusals(notes_, RefusalWidth());
}

void CRemeshSettingsDialog::ReadControls() {
  ReliefDialogFields fields;
  fields.triangleSize = size_->GetValue().ToStdWstring();
  fields.strength = strength_->GetValue().ToStdWstring();
  fields.midlevel = midlevel_->GetValue().ToStdWstring();
  fields.midlevelEnabled = midlevel_->IsEnabled();
  fields.triangleLimit = triangleLimit_->GetValue().ToStdWstring();
  fields.displayLimit = displayLimit_->GetValue().ToStdWstring();
  fields.planarTolerance = planarTolerance_->GetValue().ToStdWstring();
  fields.detailLevel = detailLevel_->GetValue().ToStdWstring();
  fields.direction = direction_->GetSelection();
  fields.automaticMidlevel = automatic_->GetValue();
  fields.keepBedFlat = keepBedFlat_->GetValue();
  ReadReliefFields(fields, values_);
}

bool CRemeshSettingsDialog::TakeFieldValues() {
  // Only the band on show is checked: the hidden one still holds the stored values.
  const auto shown = [](wxTextCtrl* field) { return field->IsShown() ? field : nullptr; };
  if (!CheckNumberFields({{shown(size_), kTriangleSizeRule},
                          {shown(strength_), kStrengthRule},
                          {shown(midlevel_), kMidlevelRule},
                          {shown(triangleLimit_), kTriangleLimitRule},
                          {shown(displayLimit_), kDisplayLimitRule},
                          {shown(planarTolerance_), kPlanarToleranceRule},
                          {shown(detailLevel_), kDetailLevelRule}},
                         refuse))
    return false;
  ReadControls();
  return true;
}

void CRemeshSettingsDialog::OnOk() {
  if (!TakeFieldValues()) return;
  if (IsModal())
    EndModal(wxID_OK);
  else {
    SetReturnCode(wxID_OK);
    Hide();
  }
}

}  // namespace grainforge::app
