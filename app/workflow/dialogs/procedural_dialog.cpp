#include "app/workflow/dialogs/procedural_dialog.h"
#include "app/workflow/dialogs/settings_dialog_math.h"
#include "app/shell/wx_prompter.h"

#include "app/document/preset_files.h"
#include "app/shell/kit/access_keys.h"
#include "app/shell/kit/dialog_fit.h"
#include "app/shell/kit/dialog_numbers.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/refusal_note.h"
#include "app/workflow/help/help_pages.h"
#include "app/workflow/help/markdown_text_ctrl.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dcbuffer.h>
#include <wx/image.h>
#include <wx/msgdlg.h>
#include <wx/odcombo.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace grainforge::app {

namespace procedural = mesh::procedural;

namespace {

constexpr int kPresetItemHeight = 44;

std::string ToUtf8(const std::wstring& text) { return wxString(text).utf8_string(); }

// The list entry as the library listed it, for the document's preset operations.
PresetFileEntry ListedPreset(const PresetEntry& entry) {
  return {ToUtf8(entry.name), entry.origin, entry.file, entry.thumbnailFile, entry.userFile};
}

// A grey picture as a bitmap scaled to `size` pixels a side.
wxBitmap GreyBitmap(const std::vector<std::uint32_t>& pixels, int side, int size) {
  if (side <= 0 || size <= 0 || pixels.size() != static_cast<std::size_t>(side) * static_cast<std::size_t>(side))
    return wxBitmap();
  wxImage image(side, side, false);
  unsigned char* rgb = image.GetData();
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const auto g = static_cast<unsigned char>(pixels[i] & 0xFF);
    rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = g;
  }
  if (size != side) image.Rescale(size, size, wxIMAGE_QUALITY_BOX_AVERAGE);
  return wxBitmap(image);
}

}  // namespace

// The preview square: the tiles scaled into the largest square of the control, framed.
class CPreviewPicture final : public wxWindow {
public:
  CPreviewPicture(wxWindow* parent, wxSize size) : wxWindow(parent, kIdPreview, wxDefaultPosition, size) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetMinSize(size);
    Bind(wxEVT_PAINT, [this](wxPaintEvent&) { Paint(); });
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) { Refresh(false); event.Skip(); });
  }
  void SetPicture(const ProceduralPreview* preview) {
    preview_ = preview;
    Refresh(false);
  }

private:
  void Paint() {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
    dc.Clear();
    if (preview_ == nullptr || preview_->pixels.empty()) return;
    const int s = std::min(size.x, size.y);
    const wxPoint at((size.x - s) / 2, (size.y - s) / 2);
    dc.DrawBitmap(GreyBitmap(preview_->pixels, preview_->side, s), at);
    dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW)));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(at, wxSize(s, s));
  }
  const ProceduralPreview* preview_ = nullptr;
};

// The preset list: thumbnails, factory presets on a warm colour, a line above the first of the
// user's own.
class CPresetCombo final : public wxOwnerDrawnComboBox {
public:
  CPresetCombo(wxWindow* parent, const std::vector<PresetEntry>& entries, const std::size_t& firstUserOnly)
      : wxOwnerDrawnComboBox(parent, kIdPresetCombo, wxEmptyString, wxDefaultPosition, wxDefaultSize, 0, nullptr,
                             wxCB_READONLY),
        entries_(entries),
        firstUserOnly_(firstUserOnly) {}

  const PresetEntry* EntryOf(int item) const {
    if (item <= 0) return nullptr;
    const auto index = static_cast<std::size_t>(item - 1);
    return index < entries_.size() ? &entries_[index] : nullptr;
  }

protected:
  wxCoord OnMeasureItem(size_t) const override { return kPresetItemHeight; }
  wxCoord OnMeasureItemWidth(size_t) const override { return -1; }

  void OnDrawBackground(wxDC& dc, const wxRect& rect, int item, int flags) const override {
    const PresetEntry* entry = EntryOf(item);
    const bool selected = (flags & wxODCB_PAINTING_SELECTED) != 0;
    wxColour fill = selected ? wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)
                    : entry != nullptr && entry->origin == LibraryItemOrigin::FactoryOnly
                        ? wxColour(255, 247, 228)
                        : wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(fill));
    dc.DrawRectangle(rect);
    if (entry != nullptr && static_cast<std::size_t>(item - 1) == firstUserOnly_ && item > 1 &&
        (flags & wxODCB_PAINTING_CONTROL) == 0) {
      dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW)));
      dc.DrawLine(rect.GetLeft(), rect.GetTop(), rect.GetRight() + 1, rect.GetTop());
    }
  }

  void OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const override {
    if (item < 0) return;
    const PresetEntry* entry = EntryOf(item);
    int textLeft = rect.GetLeft() + 6;
    if (entry != nullptr && entry->thumbnailSide > 0) {
      const int size = std::max(1, std::min(rect.GetHeight() - 4, 40));
      const wxPoint at(rect.GetLeft() + 2, rect.GetTop() + (rect.GetHeight() - size) / 2);
      dc.DrawBitmap(GreyBitmap(entry->thumbnail, entry->thumbnailSide, size), at);
      dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW)));
      dc.SetBrush(*wxTRANSPARENT_BRUSH);
      dc.DrawRectangle(at, wxSize(size, size));
      textLeft = at.x + size + 8;
    }
    const bool selected = (flags & wxODCB_PAINTING_SELECTED) != 0;
    dc.SetTextForeground(selected            ? wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHTTEXT)
                         : entry != nullptr ? wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT)
                                            : wxSystemSettings::GetColour(wxSYS_COLOUR_GRAYTEXT));
    const wxString text = entry != nullptr ? wxString(entry->name) : wxString(wxS("Select Preset"));
    const wxRect textRect(textLeft, rect.GetTop(), std::max(1, rect.GetRight() - textLeft), rect.GetHeight());
    dc.DrawLabel(wxControl::Ellipsize(text, dc, wxELLIPSIZE_END, textRect.GetWidth()), textRect,
                 wxALIGN_LEFT | wxALIGN_CENTER_VERTICAL);
  }

private:
  const std::vector<PresetEntry>& entries_;
  const std::size_t& firstUserOnly_;
};

PresetQuestions DialogPresetQuestions() {
  PresetQuestions questions;
  questions.askName = [](wxWindow* parent, const std::wstring& initial) -> std::optional<std::wstring> {
    CPresetNameDialog dialog(parent, initial);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return dialog.Name();
  };
  questions.askYesNo = [](wxWindow* parent, const std::wstring& caption, const std::wstring& text) {
    wxMessageDialog box(parent, text, caption, wxYES_NO | wxICON_QUESTION);
    SetAccessKeyLabels(box);
    return box.ShowModal() == wxID_YES;
  };
  return questions;
}

CProceduralTextureDialog::CProceduralTextureDialog(wxWindow* parent, procedural::ProceduralTexture& pattern,
                                                   int tilesShown, LibraryRoots roots, PresetQuestions questions)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(pattern.Name()) + wxS(" - Procedural Texture")),
      pattern_(pattern),
      tilesShown_(std::clamp(tilesShown, 1, 3)),
      roots_(std::move(roots)),
      questions_(std::move(questions)) {
  // OK's refusal is the one the note under the rows says as it is typed: a message box took the
  // focus, and came only at OK.
  refuse = [this](const std::wstring& text) { ShowRowRefusal(text); };
  auto* columns = new wxBoxSizer(wxHORIZONTAL);

  // Left: the parameter rows.
  auto* rowSizer = new wxFlexGridSizer(2, wxDLG_UNIT(this, wxSize(4, 2)));
  rowSizer->AddGrowableCol(1, 1);
  const auto& specs = Specs();
  for (int i = 0; i < kProceduralRowCount; ++i) {
    Row& row = rows_[static_cast<std::size_t>(i)];
    const bool has = static_cast<std::size_t>(i) < specs.size();
    const std::string label = has ? specs[static_cast<std::size_t>(i)].label : std::string();
    row.label = new wxStaticText(this, kIdRowLabel + i, wxString::FromUTF8(label));
    row.edit = new wxTextCtrl(this, kIdRowEdit + i, wxEmptyString, wxDefaultPosition, wxDLG_UNIT(this, wxSize(40, -1)),
                              wxTE_RIGHT);
    row.slider = new wxSlider(this, kIdRowSlider + i, 0, 0, 1, wxDefaultPosition, wxDLG_UNIT(this, wxSize(120, -1)));
    row.choice = new wxChoice(this, kIdRowChoice + i);
    row.check = new wxCheckBox(this, kIdRowCheck + i, wxString::FromUTF8(label));
    auto* controls = new wxBoxSizer(wxHORIZONTAL);
    controls->Add(row.edit, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    controls->Add(row.slider, 1, wxALIGN_CENTER_VERTICAL);
    controls->Add(row.choice, 1, wxALIGN_CENTER_VERTICAL);
    controls->Add(row.check, 1, wxALIGN_CENTER_VERTICAL);
    rowSizer->Add(row.label, 0, wxALIGN_CENTER_VERTICAL);
    rowSizer->Add(controls, 1, wxEXPAND);
    const procedural::ParameterKind kind = has ? specs[static_cast<std::size_t>(i)].kind : procedural::ParameterKind::Real;
    const bool numeric = has && (kind == procedural::ParameterKind::Real || kind == procedural::ParameterKind::Integer);
    row.label->Show(has && kind != procedural::ParameterKind::Switch);
    row.edit->Show(numeric);
    row.slider->Show(numeric);
    row.choice->Show(has && kind == procedural::ParameterKind::Choice);
    row.check->Show(has && kind == procedural::ParameterKind::Switch);
    if (numeric) {
      const SliderScale scale = SliderScaleOf(specs[static_cast<std::size_t>(i)]);
      row.slider->SetRange(0, scale.steps);
      row.slider->SetPageSize(scale.page);
      row.slider->SetLineSize(1);
      row.edit->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
        event.Skip();
        if (!closing_) OnRowChanged();
      });
      // Said as it is typed; taken as the row is left.
      row.edit->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
        event.Skip();
        if (!closing_) SayTypedRefusal();
      });
      row.slider->Bind(wxEVT_SLIDER, [this, i](wxCommandEvent&) { OnSlider(i); });
    }
    if (has && kind == procedural::ParameterKind::Choice) {
      for (const std::string& text : specs[static_cast<std::size_t>(i)].choices) row.choice->Append(wxString::FromUTF8(text));
      row.choice->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { OnRowChanged(); });
    }
    row.check->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnRowChanged(); });
  }
  // A refused text is said beside its field, under the rows, where the eye already is.
  auto* left = new wxBoxSizer(wxVERTICAL);
  left->Add(rowSizer, 0, wxEXPAND);
  rowRefusal_ = CreateRefusalNote(this, kIdRowRefusal);
  left->Add(rowRefusal_, 0, wxEXPAND | wxTOP, wxDLG_UNIT(this, wxSize(0, 4)).y);
  columns->Add(left, 1, wxEXPAND | wxALL, wxDLG_UNIT(this, wxSize(7, 7)).x);

  // Right: name, preview, tiles, information, presets.
  auto* right = new wxBoxSizer(wxVERTICAL);
  auto* name = new wxStaticText(this, kIdPatternName, wxString::FromUTF8(pattern_.Name()));
  name->SetFont(name->GetFont().Bold());
  right->Add(name, 0, wxBOTTOM, 4);
  const int previewSide = wxDLG_UNIT(this, wxSize(0, 190)).y;
  picture_ = new CPreviewPicture(this, wxSize(previewSide, previewSide));
  right->Add(picture_, 0, wxBOTTOM, 6);
  auto* showRow = new wxBoxSizer(wxHORIZONTAL);
  showRow->Add(new wxStaticText(this, wxID_ANY, wxS("Show")), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  show_ = new wxChoice(this, kIdShowTiles);
  show_->Append(wxS("One tile"));
  show_->Append(wxS("2 x 2 tiles"));
  show_->Append(wxS("3 x 3 tiles"));
  if (!pattern_.repeats) tilesShown_ = 1;
  show_->SetSelection(tilesShown_ - 1);
  show_->Enable(pattern_.repeats);
  show_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { SetTilesShown(show_->GetSelection() + 1); });
  showRow->Add(show_, 1);
  right->Add(showRow, 0, wxEXPAND | wxBOTTOM, 4);
  information_ = new wxStaticText(this, kIdInformation, wxEmptyString, wxDefaultPosition,
                                  wxSize(previewSide, wxDLG_UNIT(this, wxSize(0, 18)).y), wxST_NO_AUTORESIZE);
  right->Add(information_, 0, wxEXPAND | wxBOTTOM, 4);
  auto* presetRow = new wxBoxSizer(wxHORIZONTAL);
  presetRow->Add(new wxStaticText(this, wxID_ANY, wxS("Preset")), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  presetCombo_ = new CPresetCombo(this, presets_, firstUserOnly_);
  presetCombo_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { OnPresetChosen(); });
  presetRow->Add(presetCombo_, 1, wxALIGN_CENTER_VERTICAL);
  right->Add(presetRow, 0, wxEXPAND | wxBOTTOM, 4);
  auto* presetButtons = new wxBoxSizer(wxHORIZONTAL);
  auto* saveButton = new wxButton(this, kIdSavePreset, wxS("Save Preset..."));
  deleteButton_ = new wxButton(this, kIdDeletePreset, wxS("Delete Preset"));
  saveButton->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { SavePreset(); });
  deleteButton_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    DeletePreset();
    // The button is disabled once its preset is gone; the focus must stay in the dialog, or
    // Escape and the keyboard reach nothing.
    if (!deleteButton_->IsEnabled()) presetCombo_->SetFocus();
  });
  presetButtons->Add(saveButton, 0, wxRIGHT, 6);
  presetButtons->Add(deleteButton_, 0);
  right->Add(presetButtons, 0, wxBOTTOM, 4);
  const int margin = wxDLG_UNIT(this, wxSize(7, 7)).x;
  columns->Add(right, 0, wxEXPAND | wxTOP | wxRIGHT, margin);
  // The buttons under both columns: on a small screen the columns scroll above them.
  auto* page = new wxBoxSizer(wxVERTICAL);
  page->Add(columns, 1, wxEXPAND);
  page->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, margin);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOk(); }, wxID_OK);

  SetSizer(page);
  SetMinClientSize(wxDLG_UNIT(this, wxSize(560 - 190, 334)));
  Fit();

  ShowParameterValues();
  SetInformation(TileabilityText(pattern_.repeats));
  RenderPreview();  // the dialog opens with its preview
  FillPresetList({});
  // A pattern chosen as a preset opens with that preset named.
  presetCombo_->SetSelection(FindPresetWithValues(presets_, pattern_) + 1);
  UpdateDeleteButton();
  helpPane_ = AttachHelpPane(this, ProceduralHelpText(LoadHelpPage("procedural"), pattern_));
  // On a narrow screen the preview and presets go below the rows, so that the contents scroll
  // only downwards.
  if (DialogContentsOverhang(this) > 0) {
    columns->SetOrientation(wxVERTICAL);
    columns->GetItem(right)->SetFlag(wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM);
    columns->GetItem(left)->SetProportion(0);
    FitDialogToDisplay(this);
  }
}

// A row losing the focus as the dialog closes would read itself into a preview already gone:
// the rows are destroyed here, while the dialog is still whole, and read nothing.
CProceduralTextureDialog::~CProceduralTextureDialog() {
  closing_ = true;
  DestroyChildren();
}

const std::vector<procedural::ParameterSpec>& CProceduralTextureDialog::Specs() const {
  return pattern_.GetParameters();
}

void CProceduralTextureDialog::ShowParameterValues(const std::array<bool, kProceduralRowCount>& keep) {
  const auto& specs = Specs();
  for (std::size_t i = 0; i < rows_.size() && i < specs.size(); ++i) {
    if (keep[i]) continue;
    const procedural::ParameterSpec& spec = specs[i];
    const float value = pattern_.GetValue(spec.key);
    Row& row = rows_[i];
    switch (spec.kind) {
      case procedural::ParameterKind::Choice: {
        const long item = std::lroundf(value);
        if (item >= 0 && item < static_cast<long>(row.choice->GetCount())) row.choice->SetSelection(static_cast<int>(item));
        break;
      }
      case procedural::ParameterKind::Switch:
        row.check->SetValue(value >= 0.5f);
        break;
      default:
        SetWindowFloat(row.edit, value);
        row.slider->SetValue(SliderPosition(spec, value));
        break;
    }
  }
}

bool CProceduralTextureDialog::ReadParameterRows() {
  const auto& specs = Specs();
  std::wstring refusal;
  refusedRow_ = -1;
  std::array<bool, kProceduralRowCount> refused{};
  for (std::size_t i = 0; i < rows_.size() && i < specs.size(); ++i) {
    const procedural::ParameterSpec& spec = specs[i];
    Row& row = rows_[i];
    switch (spec.kind) {
      case procedural::ParameterKind::Choice:
        if (row.choice->GetSelection() != wxNOT_FOUND)
          pattern_.SetValue(spec.key, static_cast<float>(row.choice->GetSelection()));
        break;
      case procedural::ParameterKind::Switch:
        pattern_.SetValue(spec.key, row.check->GetValue() ? 1.0f : 0.0f);
        break;
      default: {
        const std::wstring text = row.edit->GetValue().ToStdWstring();
        if (const std::optional<float> typed = ParameterTypedValue(spec, text)) {
          pattern_.SetValue(spec.key, *typed);
          break;
        }
        refused[i] = true;
        if (refusedRow_ < 0) {
          refusedRow_ = static_cast<int>(i);
          refusal = ParameterRefusalText(spec, text);
        }
        break;
      }
    }
  }
  ShowParameterValues(refused);
  ShowRowRefusal(refusal);
  return refusedRow_ < 0;
}

void CProceduralTextureDialog::ShowRowRefusal(const std::wstring& text) {
  if (refusal_ == text) return;
  refusal_ = text;
  // Wrapped to the rows' width and as tall as its lines: unwrapped, a long note widened the
  // column and pushed the row labels out of sight; at a width of its own it lost its last line.
  const int width = std::max(rowRefusal_->GetParent()->FromDIP(200), rowRefusal_->GetContainingSizer() != nullptr
                                                                           ? rowRefusal_->GetContainingSizer()->GetSize().x
                                                                           : 0);
  SayRefusalNote(rowRefusal_, text, width);
}

void CProceduralTextureDialog::SayTypedRefusal() {
  const auto& specs = Specs();
  std::wstring refusal;
  for (std::size_t i = 0; i < rows_.size() && i < specs.size() && refusal.empty(); ++i)
    if (specs[i].kind == procedural::ParameterKind::Real || specs[i].kind == procedural::ParameterKind::Integer)
      refusal = ParameterRefusalText(specs[i], rows_[i].edit->GetValue().ToStdWstring());
  ShowRowRefusal(refusal);
}

void CProceduralTextureDialog::OnRowChanged() {
  ReadParameterRows();
  UpdateProceduralPreview();
}

void CProceduralTextureDialog::OnSlider(int row) {
  const auto& specs = Specs();
  const auto index = static_cast<std::size_t>(row);
  if (index >= specs.size()) return;
  pattern_.SetValue(specs[index].key, SliderValue(specs[index], rows_[index].slider->GetValue()));
  SetWindowFloat(rows_[index].edit, pattern_.GetValue(specs[index].key));
  // The slider mends its row's refused text; another row's stays refused.
  if (refusedRow_ >= 0) ReadParameterRows();
  UpdateProceduralPreview();
}

void CProceduralTextureDialog::SetTilesShown(int tiles) {
  tilesShown_ = pattern_.repeats ? std::clamp(tiles, 1, 3) : 1;
  show_->SetSelection(tilesShown_ - 1);
  UpdateProceduralPreview();
}

// A slider drag sends an event per step and a preset sets every row: drawing the 512-pixel
// preview for each made the dialog lag behind the hand. One draw, at the values of the moment,
// follows the whole burst. A pending draw dies with the dialog (its queued call goes with it).
void CProceduralTextureDialog::UpdateProceduralPreview() {
  SetInformation(TileabilityText(pattern_.repeats));
  if (previewStale_) return;
  previewStale_ = true;
  CallAfter([this] {
    if (previewStale_ && !closing_) RenderPreview();
  });
}

void CProceduralTextureDialog::RenderPreview() {
  previewStale_ = false;
  preview_ = RenderProceduralPreview(pattern_, tilesShown_);
  ++previewRenders_;
  picture_->SetPicture(&preview_);
}

void CProceduralTextureDialog::SetInformation(const std::wstring& text) {
  information_->SetLabel(text);
  information_->Wrap(information_->GetSize().x);
}

void CProceduralTextureDialog::FillPresetList(const std::filesystem::path& selectFileName) {
  presetCombo_->Clear();
  presets_ = LoadPresetEntries(roots_, pattern_.Name());
  firstUserOnly_ = SortPresetEntries(presets_);
  presetCombo_->Append(wxS("Select Preset"));
  for (const PresetEntry& entry : presets_) presetCombo_->Append(wxString(entry.name));
  // By file name, not by shown name: two files may show one name ("Stone.gfpreset" and
  // "Stone.GFPRESET"), and the user's version of a factory preset has the factory file's name.
  int found = -1;
  for (std::size_t i = 0; !selectFileName.empty() && i < presets_.size(); ++i)
    if (presets_[i].file.filename() == selectFileName) found = static_cast<int>(i);
  presetCombo_->SetSelection(found + 1);
  UpdateDeleteButton();
}

const PresetEntry* CProceduralTextureDialog::SelectedPreset() const {
  return presetCombo_->EntryOf(presetCombo_->GetSelection());
}

std::vector<std::wstring> CProceduralTextureDialog::PresetListTexts() const {
  std::vector<std::wstring> texts;
  for (unsigned i = 0; i < presetCombo_->GetCount(); ++i) texts.push_back(presetCombo_->GetString(i).ToStdWstring());
  return texts;
}

void CProceduralTextureDialog::UpdateDeleteButton() {
  const PresetEntry* entry = SelectedPreset();
  deleteButton_->Enable(entry != nullptr && entry->userFile);
}

void CProceduralTextureDialog::ChoosePreset(int entryIndex) {
  presetCombo_->SetSelection(entryIndex < 0 ? 0 : entryIndex + 1);
  OnPresetChosen();
}

void CProceduralTextureDialog::OnPresetChosen() {
  UpdateDeleteButton();
  const PresetEntry* entry = SelectedPreset();
  if (entry == nullptr) return;
  const PresetResult result = ReadPreset(entry->file, pattern_);
  if (!result.ok) {
    SetInformation(L"Could not load that preset: " + wxString::FromUTF8(result.error).ToStdWstring() + L".");
    return;
  }
  refusedRow_ = -1;
  ShowRowRefusal({});
  ShowParameterValues();
  UpdateProceduralPreview();
  // What the file holds that this version did not use is named with it, and logged in the
  // words every other load of a preset uses.
  const std::string notUsed = PresetWordsNotUsedText(result, ToUtf8(entry->name));
  if (presetRead) presetRead(result, ToUtf8(entry->name));
  SetInformation(L"Loaded \"" + entry->name + L"\"." +
                 (notUsed.empty() ? std::wstring() : L" " + wxString::FromUTF8(notUsed).ToStdWstring()));
}

void CProceduralTextureDialog::SavePreset() {
  // A preset holds what the rows show: with a row refused it would hold a value the user did
  // not type (the last one taken) under a name that says it was saved.
  if (AnyRowRefused() && !ReadParameterRows()) {
    UpdateProceduralPreview();
    RefuseAtRow();
    return;
  }
  const PresetEntry* selected = SelectedPreset();
  const std::wstring initial = selected != nullptr && selected->userFile ? selected->name : std::wstring();
  if (!questions_.askName) return;
  const std::optional<std::wstring> name = questions_.askName(this, initial);
  if (!name || name->empty()) return;
  const std::optional<PresetFileEntry> chosen =
      selected != nullptr ? std::optional(ListedPreset(*selected)) : std::nullopt;
  const PresetTarget target = ChoosePresetTarget(roots_, pattern_.Name(), ToUtf8(*name), chosen ? &*chosen : nullptr);
  if (target.existing != LibraryItemOrigin::None) {
    // Named as the list shows the preset whose file would be replaced: "Coarse:1" is saved in
    // Coarse_1.gfpreset, and it is "Coarse_1" that would be lost.
    const std::wstring existing = wxString::FromUTF8(target.name).ToStdWstring();
    const bool factory = target.existing == LibraryItemOrigin::FactoryOnly;
    const std::wstring question =
        factory ? L"A factory preset called \"" + existing +
                      L"\" already exists.\n\nSave yours under the same name? Yours will be used instead, and "
                      L"deleting yours brings the factory one back."
                : L"A preset called \"" + existing + L"\" already exists.\n\nReplace it?";
    if (!questions_.askYesNo || !questions_.askYesNo(this, L"Save Preset", question)) return;
  }
  const PresetResult result = SavePresetTo(roots_, pattern_, target);
  if (!result.ok) {
    SetInformation(L"Could not save the preset: " + wxString::FromUTF8(result.error).ToStdWstring() + L".");
    return;
  }
  const std::wstring saved = wxString::FromUTF8(result.storedName).ToStdWstring();
  FillPresetList(target.file.filename());
  SetInformation(result.withoutPicture
                     ? L"Saved \"" + saved + L"\" without its picture: the picture could not be written."
                     : L"Saved \"" + saved + L"\".");
}

void CProceduralTextureDialog::DeletePreset() {
  const PresetEntry* selected = SelectedPreset();
  if (selected == nullptr || !selected->userFile) return;
  const PresetEntry entry = *selected;
  const bool overFactory = entry.origin == LibraryItemOrigin::UserOverFactory;
  const std::wstring question = overFactory ? L"Delete your version of \"" + entry.name + L"\"?\n\nThe factory preset comes back."
                                            : L"Delete the preset \"" + entry.name + L"\"?";
  if (!questions_.askYesNo || !questions_.askYesNo(this, L"Delete Preset", question)) return;
  // The entry's own file, never one named again from its shown name.
  if (!app::DeletePreset(roots_, pattern_.Name(), ListedPreset(entry)).ok) {
    SetInformation(L"Could not delete that preset.");
    return;
  }
  FillPresetList(overFactory ? entry.file.filename() : std::filesystem::path());
  SetInformation(overFactory ? L"Deleted yours; the factory preset is back." : L"Deleted.");
}

void CProceduralTextureDialog::OnOk() {
  // A refused text keeps the dialog open, at its field, as every other dialog's OK does: the
  // pattern is never taken with a value the user did not see.
  if (!ReadParameterRows()) {
    UpdateProceduralPreview();
    RefuseAtRow();
    return;
  }
  if (IsModal())
    EndModal(wxID_OK);
  else {
    SetReturnCode(wxID_OK);
    Hide();
  }
}

bool CProceduralTextureDialog::AnyRowRefused() const {
  const auto& specs = Specs();
  for (std::size_t i = 0; i < rows_.size() && i < specs.size(); ++i) {
    const procedural::ParameterSpec& spec = specs[i];
    if (spec.kind == procedural::ParameterKind::Choice || spec.kind == procedural::ParameterKind::Switch) continue;
    if (!ParameterTypedValue(spec, rows_[i].edit->GetValue().ToStdWstring())) return true;
  }
  return false;
}

void CProceduralTextureDialog::RefuseAtRow() {
  if (refusedRow_ < 0) return;
  wxTextCtrl* field = rows_[static_cast<std::size_t>(refusedRow_)].edit;
  field->SetFocus();
  field->SelectAll();
  if (refuse) refuse(refusal_);
  // The message took the focus; the refused text is selected again once it is back, so that
  // what is typed next replaces it rather than joining it.
  field->SetFocus();
  field->SelectAll();
}

CPresetNameDialog::CPresetNameDialog(wxWindow* parent, const std::wstring& name)
    : wxDialog(parent, wxID_ANY, wxS("Save Preset")), name_(name) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new wxStaticText(this, wxID_ANY, wxS("Preset name")), 0, wxLEFT | wxRIGHT | wxTOP, 10);
  edit_ = new wxTextCtrl(this, kIdPresetName, name, wxDefaultPosition, wxDLG_UNIT(this, wxSize(204, -1)));
  sizer->Add(edit_, 0, wxEXPAND | wxALL, 10);
  sizer->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
  SetSizerAndFit(sizer);
  // Without a help pane this dialog takes the access keys and the screen fit by itself.
  AssignAccessKeys(this);
  FitDialogToDisplay(this);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOk(); }, wxID_OK);
  edit_->SetFocus();
  edit_->SelectAll();
  edit_->SetInsertionPointEnd();
  edit_->SelectAll();
}

void CPresetNameDialog::OnOk() {
  wxString text = edit_->GetValue();
  text.Trim(true).Trim(false);
  if (text.empty()) {
    edit_->SetFocus();
    return;
  }
  name_ = text.ToStdWstring();
  EndModal(wxID_OK);
}

}  // namespace grainforge::app
