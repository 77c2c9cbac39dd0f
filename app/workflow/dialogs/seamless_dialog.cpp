#include "app/workflow/dialogs/seamless_dialog.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include <wx/choice.h>
#include <wx/dcbuffer.h>
#include <wx/image.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/access_keys.h"
#include "app/shell/kit/dialog_fit.h"
#include "app/shell/kit/refusal_note.h"
#include "app/shell/kit/dialog_numbers.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/workflow/dialogs/dialog_frame.h"

namespace grainforge::app {

namespace mesh = grainforge::mesh;
using mesh::procedural::ParameterKind;
using mesh::procedural::ParameterSpec;

// One of the two previews: the tiled square scaled into the largest square that fits, framed.
class SeamlessPreviewPanel final : public wxWindow {
public:
  SeamlessPreviewPanel(wxWindow* parent, int id, const wxSize& size) : wxWindow(parent, id, wxDefaultPosition, size) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &SeamlessPreviewPanel::OnPaint, this);
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
      Refresh(false);
      event.Skip();
    });
  }

  void SetPreview(const TiledPreview& preview) {
    image_ = wxImage();
    if (preview.side > 0 && !preview.pixels.empty()) {
      image_.Create(preview.side, preview.side, false);
      unsigned char* rgb = image_.GetData();
      for (std::size_t i = 0; i < preview.pixels.size(); ++i) {
        const auto g = static_cast<unsigned char>(preview.pixels[i] & 0xFFu);
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = g;
      }
    }
    Refresh(false);
  }

private:
  void OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
    dc.Clear();
    const wxSize size = GetClientSize();
    const int side = std::min(size.x, size.y) - 2;
    if (!image_.IsOk() || side < 1) return;
    const int left = (size.x - side) / 2;
    const int top = (size.y - side) / 2;
    dc.DrawBitmap(wxBitmap(image_.Scale(side, side, wxIMAGE_QUALITY_BOX_AVERAGE)), left, top);
    dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW), 1));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(left - 1, top - 1, side + 2, side + 2);
  }

  wxImage image_;
};

namespace {

const wxSize kDesignSize(400, 364);
constexpr const char* kJoinNote =
    "The join falls down the middle of each panel and round its edge. Whatever is done here is done to the "
    "image, not to the model: a procedural texture repeats by construction and needs none of it.";

wxString FromUtf8(const std::string& text) { return wxString::FromUTF8(text.c_str()); }

bool IsNumeric(const ParameterSpec& spec) {
  return spec.kind == ParameterKind::Real || spec.kind == ParameterKind::Integer;
}

}  // namespace

CSeamlessDialog::CSeamlessDialog(wxWindow* parent, const SeamlessDialogInput& input)
    : wxDialog(parent, wxID_ANY, wxS("Seamless")),
      methodName_(input.methodName),
      openingMethod_(input.methodName),
      openingText_(input.parameterText),
      parameterText_(input.parameterText),
      source_(MakeReducedCopy(input.heights, input.width, input.height)) {
  const auto dlu = [this](int x, int y) { return ConvertDialogToPixels(wxSize(x, y)); };
  const int gap = dlu(4, 4).y;
  auto* contents = new wxBoxSizer(wxVERTICAL);

  auto* methodRow = new wxBoxSizer(wxHORIZONTAL);
  methodRow->Add(new wxStaticText(this, wxID_ANY, wxS("Method")), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  methods_ = new wxChoice(this, kMethodId, wxDefaultPosition, wxSize(dlu(120, 12).x, -1));
  methodRow->Add(methods_, 0, wxALIGN_CENTER_VERTICAL);
  contents->Add(methodRow, 0, wxEXPAND);
  textWidth_ = dlu(384, 0).x;
  description_ = new wxStaticText(this, kDescriptionId, wxEmptyString, wxDefaultPosition, dlu(384, 34),
                                  wxST_NO_AUTORESIZE);
  contents->Add(description_, 0, wxEXPAND | wxTOP, gap);

  auto* previews = new wxFlexGridSizer(2, gap, 2 * gap);
  previews->AddGrowableCol(0, 1);
  previews->AddGrowableCol(1, 1);
  previews->AddGrowableRow(1, 1);
  previews->Add(new wxStaticText(this, wxID_ANY, wxS("As loaded, laid 2 x 2")));
  previews->Add(new wxStaticText(this, wxID_ANY, wxS("After the method, laid 2 x 2")));
  // The previews take the width the texts give them; on a narrow screen they get by with less.
  beforePanel_ = new SeamlessPreviewPanel(this, kBeforeId, dlu(120, 150));
  afterPanel_ = new SeamlessPreviewPanel(this, kAfterId, dlu(120, 150));
  previews->Add(beforePanel_, 1, wxEXPAND);
  previews->Add(afterPanel_, 1, wxEXPAND);
  contents->Add(previews, 1, wxEXPAND | wxTOP, gap);
  status_ = new wxStaticText(this, kStatusId, wxEmptyString, wxDefaultPosition, dlu(384, 20), wxST_NO_AUTORESIZE);
  contents->Add(status_, 0, wxEXPAND | wxTOP, gap);

  auto* rowGrid = new wxFlexGridSizer(3, gap, gap);
  rowGrid->AddGrowableCol(2, 1);
  for (int i = 0; i < kRowCount; ++i) {
    Row& row = rows_[static_cast<std::size_t>(i)];
    row.label = new wxStaticText(this, kRowLabelId + i, wxEmptyString, wxDefaultPosition, wxSize(dlu(110, 10).x, -1));
    row.edit = new wxTextCtrl(this, kRowEditId + i, wxEmptyString, wxDefaultPosition, wxSize(dlu(40, 12).x, -1));
    row.slider = new wxSlider(this, kRowSliderId + i, 0, 0, 1000);
    row.choice = new wxChoice(this, kRowChoiceId + i);
    auto* controls = new wxBoxSizer(wxHORIZONTAL);
    controls->Add(row.slider, 1, wxALIGN_CENTER_VERTICAL);
    controls->Add(row.choice, 1, wxALIGN_CENTER_VERTICAL);
    rowGrid->Add(row.label, 0, wxALIGN_CENTER_VERTICAL);
    rowGrid->Add(row.edit, 0, wxALIGN_CENTER_VERTICAL);
    rowGrid->Add(controls, 1, wxEXPAND);
    row.edit->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
      event.Skip();
      if (closing_) return;
      ReadParameterRows();
      UpdateSeamlessPreviews();
    });
    // Said as it is typed; taken as the row is left.
    row.edit->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
      event.Skip();
      if (!closing_) SayTypedRefusal();
    });
    row.choice->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) {
      ReadParameterRows();
      UpdateSeamlessPreviews();
    });
    row.slider->Bind(wxEVT_SLIDER, [this, i](wxCommandEvent& event) { MoveSlider(i, event.GetInt()); });
  }
  contents->Add(rowGrid, 0, wxEXPAND | wxTOP, gap);
  // A refused text is said under the rows in red, as every dialog says one.
  refusal_ = CreateRefusalNote(this, kRefusalId);
  contents->Add(refusal_, 0, wxEXPAND | wxTOP, gap);
  note_ = new wxStaticText(this, wxID_ANY, wxEmptyString);
  SetWrappedLabel(note_, FromUtf8(kJoinNote), textWidth_);
  contents->Add(note_, 0, wxEXPAND | wxTOP, gap);

  const std::vector<std::string> names = mesh::seamless::SeamlessMethodNames();
  for (const std::string& name : names) methods_->Append(FromUtf8(name));
  const auto current = std::find(names.begin(), names.end(), methodName_);
  methods_->SetSelection(current == names.end() ? 0 : static_cast<int>(current - names.begin()));
  methods_->Bind(wxEVT_CHOICE, [this, names](wxCommandEvent&) {
    const int selected = methods_->GetSelection();
    if (selected >= 0 && selected < static_cast<int>(names.size())) ChooseMethod(names[static_cast<std::size_t>(selected)]);
  });
  Bind(wxEVT_BUTTON, &CSeamlessDialog::OnOk, this, wxID_OK);

  SetSeamlessMethod(names[static_cast<std::size_t>(methods_->GetSelection())]);
  ShowMethodRows();
  ShowParameterValues();
  UpdateSeamlessPreviews();
  helpPane_ = FinishSettingsDialog(this, contents, kDesignSize, "seamless");
  // On a narrow screen the contents scroll: the texts wrap to the width they get there, so that
  // they scroll only downwards and none runs past the dialog's edge.
  if (const int overhang = DialogContentsOverhang(this); overhang > 0) {
    textWidth_ = std::max(dlu(120, 0).x, textWidth_ - overhang);
    WrapTexts();
    FitDialogToDisplay(this);
  }
}

// A row losing the focus as the dialog closes would read itself into previews already gone: the
// rows are destroyed here, while the dialog is still whole, and read nothing.
CSeamlessDialog::~CSeamlessDialog() {
  closing_ = true;
  DestroyChildren();
}

void CSeamlessDialog::SetSeamlessMethod(const std::string& name) {
  method_ = mesh::seamless::CreateSeamlessMethod(name);
  method_->ResetToDefaults();
  // Coming back to the opening method brings back the parameters it was opened with.
  if (name == openingMethod_ && !openingText_.empty()) mesh::procedural::ParametersFromText(*method_, openingText_);
  SetWrappedLabel(description_, FromUtf8(method_->Description()), textWidth_);
}

void CSeamlessDialog::WrapTexts() {
  for (wxStaticText* text : {description_, status_}) text->SetMinSize(wxSize(textWidth_, text->GetMinSize().y));
  SetWrappedLabel(description_, FromUtf8(method_->Description()), textWidth_);
  SetWrappedLabel(status_, statusText_, textWidth_);
  SetWrappedLabel(note_, FromUtf8(kJoinNote), textWidth_);
  if (!correction_.empty()) SayRefusalNote(refusal_, correction_, textWidth_);
}

void CSeamlessDialog::ShowRefusal() {
  if (correction_ == refusalShown_) return;
  refusalShown_ = correction_;
  SayRefusalNote(refusal_, correction_, textWidth_);
}

void CSeamlessDialog::ChooseMethod(const std::string& name) {
  const std::vector<std::string> names = mesh::seamless::SeamlessMethodNames();
  const auto found = std::find(names.begin(), names.end(), name);
  if (found == names.end()) return;
  methods_->SetSelection(static_cast<int>(found - names.begin()));
  SetSeamlessMethod(name);
  // Another method's rows: a text refused in the last one's is gone with them.
  correction_.clear();
  refusedRow_ = -1;
  ShowMethodRows();
  ShowParameterValues();
  UpdateSeamlessPreviews();
  // Another method's rows and description: the scrolled contents reach all of them.
  if (IsShown()) FitDialogToDisplay(this);
  else Layout();
}

void CSeamlessDialog::ShowMethodRows() {
  const std::vector<ParameterSpec>& specs = method_->GetParameters();
  for (int i = 0; i < kRowCount; ++i) {
    Row& row = rows_[static_cast<std::size_t>(i)];
    const ParameterSpec* spec = i < static_cast<int>(specs.size()) ? &specs[static_cast<std::size_t>(i)] : nullptr;
    const bool numeric = spec != nullptr && IsNumeric(*spec);
    const bool choice = spec != nullptr && spec->kind == ParameterKind::Choice;
    row.label->Show(spec != nullptr);
    row.label->SetLabel(spec != nullptr ? FromUtf8(spec->label) : wxString());
    row.edit->Show(numeric);
    row.slider->Show(numeric);
    row.choice->Show(choice);
    if (numeric) {
      const int steps = ParameterSliderSteps(*spec);
      row.slider->SetRange(0, steps);
      row.slider->SetPageSize(std::max(1, steps / 10));
      row.slider->SetLineSize(1);
    }
    if (choice) {
      row.choice->Clear();
      for (const std::string& text : spec->choices) row.choice->Append(FromUtf8(text));
    }
  }
  // Another method's rows: their labels get letters of their own (the first rows get theirs
  // with the rest of the dialog).
  if (helpPane_ != nullptr) AssignAccessKeys(this);
  Layout();
}

void CSeamlessDialog::ShowParameterValues(const std::array<bool, kRowCount>& keep) {
  const std::vector<ParameterSpec>& specs = method_->GetParameters();
  for (int i = 0; i < kRowCount && i < static_cast<int>(specs.size()); ++i) {
    if (keep[static_cast<std::size_t>(i)]) continue;
    const ParameterSpec& spec = specs[static_cast<std::size_t>(i)];
    Row& row = rows_[static_cast<std::size_t>(i)];
    const float value = method_->GetValue(spec.key);
    if (spec.kind == ParameterKind::Choice) {
      const long item = std::lroundf(value);
      if (item >= 0 && item < static_cast<long>(row.choice->GetCount())) row.choice->SetSelection(static_cast<int>(item));
    } else if (IsNumeric(spec)) {
      SetWindowFloat(row.edit, value);
      row.slider->SetValue(ParameterSliderPosition(spec, value));
    }
  }
}

void CSeamlessDialog::ReadParameterRows() {
  const std::vector<ParameterSpec>& specs = method_->GetParameters();
  correction_.clear();
  refusedRow_ = -1;
  std::array<bool, kRowCount> refused{};
  for (int i = 0; i < kRowCount && i < static_cast<int>(specs.size()); ++i) {
    const ParameterSpec& spec = specs[static_cast<std::size_t>(i)];
    const Row& row = rows_[static_cast<std::size_t>(i)];
    if (spec.kind == ParameterKind::Choice) {
      if (row.choice->GetSelection() >= 0) method_->SetValue(spec.key, static_cast<float>(row.choice->GetSelection()));
    } else if (IsNumeric(spec)) {
      const std::wstring text = row.edit->GetValue().ToStdWstring();
      if (const std::optional<float> typed = ParameterTypedValue(spec, text)) {
        method_->SetValue(spec.key, *typed);
        continue;
      }
      // Refused: the value stays and the row keeps the text to be mended.
      refused[static_cast<std::size_t>(i)] = true;
      if (refusedRow_ < 0) {
        refusedRow_ = i;
        correction_ = ParameterRefusalText(spec, text);
      }
    }
  }
  ShowParameterValues(refused);
  ShowRefusal();
}

void CSeamlessDialog::SayTypedRefusal() {
  const std::vector<ParameterSpec>& specs = method_->GetParameters();
  correction_.clear();
  for (int i = 0; i < kRowCount && i < static_cast<int>(specs.size()) && correction_.empty(); ++i)
    if (IsNumeric(specs[static_cast<std::size_t>(i)]))
      correction_ = ParameterRefusalText(specs[static_cast<std::size_t>(i)],
                                         rows_[static_cast<std::size_t>(i)].edit->GetValue().ToStdWstring());
  ShowRefusal();
}

void CSeamlessDialog::MoveSlider(int row, int position) {
  const std::vector<ParameterSpec>& specs = method_->GetParameters();
  if (row < 0 || row >= kRowCount || row >= static_cast<int>(specs.size())) return;
  const ParameterSpec& spec = specs[static_cast<std::size_t>(row)];
  if (!IsNumeric(spec)) return;
  method_->SetValue(spec.key, ParameterSliderValue(spec, position));
  SetWindowFloat(rows_[static_cast<std::size_t>(row)].edit, method_->GetValue(spec.key));
  // The slider mends its row's refused text; another row's stays refused.
  if (refusedRow_ >= 0) ReadParameterRows();
  UpdateSeamlessPreviews();
}

void CSeamlessDialog::UpdateSeamlessPreviews() {
  if (source_.heights.empty()) {
    before_ = {};
    after_ = {};
    statusText_ = wxS("No image loaded.");
  } else {
    before_ = MakeTiledPreview(source_.heights, source_.width, source_.height, false);
    std::int32_t width = 0;
    std::int32_t height = 0;
    mesh::seamless::SeamlessReport report;
    const std::vector<float> result = method_->Apply(source_.heights, source_.width, source_.height, width, height, &report);
    after_ = MakeTiledPreview(result, width, height, method_->MirrorsTiles());
    if (!report.methodName.empty())
      statusText_ = FromUtf8(mesh::seamless::SeamlessSummaryText(report)) +
                        wxString::Format(wxS("   (measured on the %d x %d preview; the full image is treated the same way)"),
                                         source_.width, source_.height);
    else
      statusText_ = wxS("The image is used as it was loaded.");
  }
  SetWrappedLabel(status_, statusText_, textWidth_);
  ShowRefusal();
  beforePanel_->SetPreview(before_);
  afterPanel_->SetPreview(after_);
}

void CSeamlessDialog::TakeFieldValues() {
  ReadParameterRows();
  methodName_ = method_->Name();
  parameterText_ = mesh::procedural::ParametersToText(*method_);
}

void CSeamlessDialog::OnOk(wxCommandEvent&) {
  TakeFieldValues();
  // A refused text keeps the dialog open at its field: the method is never taken with a value
  // the user did not see.
  if (refusedRow_ >= 0) {
    UpdateSeamlessPreviews();
    rows_[static_cast<std::size_t>(refusedRow_)].edit->SetFocus();
    rows_[static_cast<std::size_t>(refusedRow_)].edit->SelectAll();
    return;
  }
  EndDialog(wxID_OK);
}

bool ShowSeamlessDialog(wxWindow* parent, CGrainforgeDoc& doc) {
  if (!CanEditSeamless(doc)) return false;
  const SeamlessDialogInput input = SeamlessInputFromDocument(doc);
  CSeamlessDialog dialog(parent, input);
  if (dialog.ShowModal() != wxID_OK) return false;
  ApplySeamlessChoice(doc, dialog.MethodName(), dialog.ParameterText());
  return true;
}

}  // namespace grainforge::app
