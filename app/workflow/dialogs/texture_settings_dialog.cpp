#include "app/workflow/dialogs/texture_settings_dialog.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include <wx/button.h>
#include <wx/utils.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/dialog_numbers.h"
#include "app/shell/kit/number_text.h"
#include "app/workflow/dialogs/dialog_frame.h"
#include "app/workflow/dialogs/levels_control.h"
#include "app/shell/kit/refusal_note.h"
#include "app/workflow/dialogs/seamless_dialog.h"

namespace grainforge::app {
namespace {

const wxSize kDesignSize(236, 278);

}  // namespace

// The fields say a refusal as they lose the focus, which they also do while the dialog's
// windows are destroyed: they are destroyed here, while the dialog still is one, and say nothing.
CTextureSettingsDialog::~CTextureSettingsDialog() {
  closing_ = true;
  levels_->sayNote = nullptr;
  levels_->refuse = nullptr;
  DestroyChildren();
}

CTextureSettingsDialog::CTextureSettingsDialog(wxWindow* parent, TextureDialogInput input)
    : wxDialog(parent, wxID_ANY, wxS("Texture Settings")), input_(std::move(input)) {
  refuse = [this](const std::wstring& text) { SayRefusalNote(refusalAt_, text, RefusalWidth()); };
  const auto dlu = [this](int x, int y) { return ConvertDialogToPixels(wxSize(x, y)); };
  const int gap = dlu(4, 4).y;
  const int fieldWidth = dlu(50, 12).x;
  auto* contents = new wxBoxSizer(wxVERTICAL);

  auto* fields = new wxFlexGridSizer(2, gap, dlu(6, 6).x);
  const auto label = [&](const wchar_t* text) {
    fields->Add(new wxStaticText(this, wxID_ANY, text), 0, wxALIGN_CENTER_VERTICAL);
  };
  label(L"Source");
  fields->Add(new wxStaticText(this, kSourceId, input_.sourceName.empty() ? L"(none loaded)" : input_.sourceName),
              0, wxALIGN_CENTER_VERTICAL);
  label(L"Width (mm)");
  width_ = new wxTextCtrl(this, kWidthId, wxEmptyString, wxDefaultPosition, wxSize(fieldWidth, -1));
  fields->Add(width_);
  label(L"Height (mm)");
  height_ = new wxTextCtrl(this, kHeightId, wxEmptyString, wxDefaultPosition, wxSize(fieldWidth, -1));
  fields->Add(height_);
  fields->AddSpacer(0);
  lockAspect_ = new wxCheckBox(this, kLockAspectId, wxS("Lock aspect ratio"));
  fields->Add(lockAspect_);
  fields->AddSpacer(0);
  tiles_ = new wxCheckBox(this, kTilesId, wxS("Repeats (tiles)"));
  fields->Add(tiles_);
  label(L"Blur (mm)");
  blur_ = new wxTextCtrl(this, kBlurId, wxEmptyString, wxDefaultPosition, wxSize(fieldWidth, -1));
  fields->Add(blur_);
  contents->Add(fields, 0, wxEXPAND);
  fieldsRefusal_ = CreateRefusalNote(this, kFieldsRefusalId);
  contents->Add(fieldsRefusal_, 0, wxTOP, gap);
  refusalAt_ = fieldsRefusal_;
  for (wxTextCtrl* field : {width_, height_, blur_}) {
    field->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
      event.Skip();
      if (!closing_) SayFieldRefusal();
    });
    // Said as it is typed, too.
    field->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
      event.Skip();
      if (!closing_) SayFieldRefusal();
    });
  }

  auto* seamlessRow = new wxBoxSizer(wxHORIZONTAL);
  seamlessLine_ = new wxStaticText(this, kSeamlessLineId, wxEmptyString, wxDefaultPosition, wxSize(-1, dlu(0, 18).y));
  seamlessRow->Add(seamlessLine_, 1, wxALIGN_CENTER_VERTICAL);
  seamlessButton_ = new wxButton(this, kSeamlessButtonId, wxS("Seamless..."));
  seamlessRow->Add(seamlessButton_, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, gap);
  contents->Add(seamlessRow, 0, wxEXPAND | wxTOP, gap);

  auto* adjustments = new wxStaticBoxSizer(wxHORIZONTAL, this, wxS("Adjustments, kept when another texture is chosen"));
  autoLevels_ = new wxCheckBox(adjustments->GetStaticBox(), kAutoLevelsId, wxS("Auto levels"));
  invert_ = new wxCheckBox(adjustments->GetStaticBox(), kInvertId, wxS("Invert"));
  adjustments->Add(autoLevels_, 0, wxALL, gap);
  adjustments->Add(invert_, 0, wxALL, gap);
  contents->Add(adjustments, 0, wxEXPAND | wxTOP, gap);

  auto* levelsGroup = new wxStaticBoxSizer(wxVERTICAL, this, wxS("Levels for this texture"));
  levels_ = new CLevelsControl(levelsGroup->GetStaticBox(), wxDefaultPosition, wxDefaultSize);
  levels_->histogram = input_.levels.histogram;
  levels_->refuse = [this](const std::wstring& text) {
    refusalAt_ = levelsRefusal_;
    if (refuse) refuse(text);
  };
  levelsRefusal_ = CreateRefusalNote(levelsGroup->GetStaticBox(), kLevelsRefusalId);
  // A level's refusal is said as its edit is left (it was kept for OK, and said one at a time).
  levels_->sayNote = [this](const std::wstring& text) {
    if (!closing_) SayRefusalNote(levelsRefusal_, text, RefusalWidth());
  };
  levelsGroup->Add(levels_, 1, wxEXPAND | wxALL, gap);
  levelsGroup->Add(levelsRefusal_, 0, wxLEFT | wxRIGHT, gap);
  levelsGroup->Add(new wxStaticText(levelsGroup->GetStaticBox(), wxID_ANY,
                                    wxS("Back to neutral when another texture or pattern is chosen.")),
                   0, wxALL, gap);
  contents->Add(levelsGroup, 1, wxEXPAND | wxTOP, gap);

  aspectInUse_ = TextureAspectInUse(input_.imageAspect, input_.settings.widthMillimetres,
                                    input_.settings.heightMillimetres);
  ShowTextureSettings();
  height_->Enable(!input_.settings.lockAspect);

  lockAspect_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnLockAspect(); });
  // With the aspect locked the height follows the width as it is typed.
  width_->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
    event.Skip();
    FollowWidth();
  });
  autoLevels_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnAutoLevels(); });
  seamlessButton_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    RequestSeamless();
    if (TakeFieldValues()) EndDialog(wxID_OK);
  });
  Bind(wxEVT_BUTTON, &CTextureSettingsDialog::OnOk, this, wxID_OK);
  helpPane_ = FinishSettingsDialog(this, contents, kDesignSize, "texture");
}

void CTextureSettingsDialog::ShowTextureSettings() {
  const grainforge::mesh::TextureSettings& s = input_.settings;
  // The sizes shown are the tile's on the part, as the information pane reports it.
  SetWindowFloat(width_, TileSizeShown(s.widthMillimetres, input_.tileZoom));
  SetWindowFloat(height_, TileSizeShown(s.heightMillimetres, input_.tileZoom));
  shownWidth_ = width_->GetValue().ToStdWstring();
  shownHeight_ = height_->GetValue().ToStdWstring();
  SetWindowFloat(blur_, s.blurMillimetres);
  tiles_->SetValue(s.tiles);
  seamlessLine_->SetLabel(SeamlessLineText(input_.procedural, s.seamlessMethod));
  seamlessButton_->Enable(input_.imagePresent && !input_.procedural);
  lockAspect_->SetValue(s.lockAspect);
  autoLevels_->SetValue(s.autoLevels);
  invert_->SetValue(s.invert);
  SyncLevelsControl();
}

void CTextureSettingsDialog::SyncLevelsControl() {
  const grainforge::mesh::TextureSettings& s = input_.settings;
  const bool automatic = autoLevels_->GetValue();
  LevelsValues shown;
  shown.blackLevel = std::clamp(automatic ? input_.levels.autoBlackLevel : s.blackLevel, 0.0f, 1.0f);
  shown.whiteLevel = std::clamp(automatic ? input_.levels.autoWhiteLevel : s.whiteLevel, 0.0f, 1.0f);
  shown.gamma = s.gamma > 0.0f ? s.gamma : 1.0f;
  shown.outputBlackLevel = std::clamp(s.outputBlackLevel, 0.0f, 1.0f);
  shown.outputWhiteLevel = std::clamp(s.outputWhiteLevel, 0.0f, 1.0f);
  levels_->values = shown;
  levels_->UpdateLevelEdits();
  levels_->Refresh(false);
  // The automatic levels are shown but cannot be dragged.
  levels_->Enable(!automatic);
}

void CTextureSettingsDialog::OnAutoLevels() {
  if (!autoLevels_->GetValue()) {
    input_.settings.blackLevel = 0.0f;
    input_.settings.whiteLevel = 1.0f;
  }
  SyncLevelsControl();
}

void CTextureSettingsDialog::OnLockAspect() {
  const bool locked = lockAspect_->GetValue();
  height_->Enable(!locked);
  if (locked) FollowWidth();
}

void CTextureSettingsDialog::FollowWidth() {
  if (!lockAspect_->GetValue() || !(aspectInUse_ > 0.0f)) return;
  const float width = GetWindowFloat(width_, TileSizeShown(input_.settings.widthMillimetres, input_.tileZoom));
  height_->ChangeValue(FormatDialogFloat(width / aspectInUse_));
}

void CTextureSettingsDialog::RequestSeamless() { seamlessRequested_ = true; }

void CTextureSettingsDialog::SayFieldRefusal() {
  std::wstring refusal;
  for (const auto& [field, rule] : {std::pair{width_, kTileWidthRule}, std::pair{height_, kTileHeightRule},
                                    std::pair{blur_, kBlurRule}})
    if (refusal.empty() && field->IsEnabled())
      refusal = NumberFieldRefusalOf(field->GetValue().ToStdWstring(), rule);
  SayRefusalNote(fieldsRefusal_, refusal, RefusalWidth());
}

int CTextureSettingsDialog::RefusalWidth() const {
  // The levels' width, which the dialog's column has at least.
  return std::max(levels_ != nullptr ? levels_->GetSize().x : 0, FromDIP(200));
}

bool CTextureSettingsDialog::TakeFieldValues() {
  refusalAt_ = fieldsRefusal_;
  if (!CheckNumberFields({{width_, kTileWidthRule}, {height_, kTileHeightRule}, {blur_, kBlurRule}}, refuse)) {
    seamlessRequested_ = false;
    return false;
  }
  SayRefusalNote(fieldsRefusal_, L"", 0);
  // A level typed and left (or still being typed) is taken now; one refused is said, its text
  // kept and selected, before anything is applied.
  int refusedLevel = -1;
  if (levels_->IsEnabled() && levels_->HasUnreadTyping()) refusedLevel = levels_->ReadLevelEdits();
  if (const std::wstring note = levels_->TakeNote(); !note.empty()) {
    seamlessRequested_ = false;
    refusalAt_ = levelsRefusal_;
    if (refuse) refuse(note);
    levels_->SelectEdit(refusedLevel);
    return false;
  }
  grainforge::mesh::TextureSettings& s = input_.settings;
  s.widthMillimetres = TileSizeTaken(width_->GetValue().ToStdWstring(), shownWidth_, s.widthMillimetres, input_.tileZoom);
  s.heightMillimetres =
      TileSizeTaken(height_->GetValue().ToStdWstring(), shownHeight_, s.heightMillimetres, input_.tileZoom);
  s.blurMillimetres = GetWindowFloat(blur_, s.blurMillimetres);
  s.tiles = tiles_->GetValue();
  // With auto levels on these are the automatic levels the control shows.
  s.blackLevel = levels_->values.blackLevel;
  s.whiteLevel = levels_->values.whiteLevel;
  s.gamma = levels_->values.gamma;
  s.outputBlackLevel = levels_->values.outputBlackLevel;
  s.outputWhiteLevel = levels_->values.outputWhiteLevel;
  s.lockAspect = lockAspect_->GetValue();
  s.autoLevels = autoLevels_->GetValue();
  s.invert = invert_->GetValue();
  SayRefusalNote(levelsRefusal_, L"", 0);
  TextureOkResult checked = CheckTextureSettings(s, aspectInUse_);
  if (!checked.accepted) {
    seamlessRequested_ = false;
    refusalAt_ = fieldsRefusal_;
    if (refuse) refuse(checked.refusal);
    return false;
  }
  s = std::move(checked.settings);
  return true;
}

void CTextureSettingsDialog::OnOk(wxCommandEvent&) {
  if (TakeFieldValues()) EndDialog(wxID_OK);
}

bool ShowTextureSettingsDialog(wxWindow* parent, CGrainforgeDoc& doc) {
  TextureDialogInput input = TextureInputFromDocument(doc);
  for (;;) {
    CTextureSettingsDialog dialog(parent, input);
    if (dialog.ShowModal() != wxID_OK) return false;
    // "Seamless..." asks before anything is applied: its Cancel brings Texture Settings back
    // with the edits as they were left and the document untouched.
    std::optional<std::pair<std::string, std::string>> seamless;
    if (dialog.SeamlessRequested() && CanEditSeamless(doc)) {
      CSeamlessDialog seamlessDialog(parent, SeamlessInputFromDocument(doc));
      if (seamlessDialog.ShowModal() != wxID_OK) {
        input.settings = dialog.Settings();
        continue;
      }
      seamless.emplace(seamlessDialog.MethodName(), seamlessDialog.ParameterText());
    }
    {
      // A new size or blur re-filters a large image and hands it to the pipeline again.
      const wxBusyCursor busy;
      ApplyTextureDialogSettings(doc, dialog.Settings());
    }
    // After the settings, which carry the method as it was when the dialog opened.
    if (seamless) ApplySeamlessChoice(doc, seamless->first, seamless->second);
    return true;
  }
}

}  // namespace grainforge::app
