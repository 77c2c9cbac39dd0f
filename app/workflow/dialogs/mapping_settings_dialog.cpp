#include "app/workflow/dialogs/mapping_settings_dialog.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/shell/kit/dialog_fit.h"
#include "app/shell/kit/dialog_numbers.h"
#include "app/shell/kit/number_text.h"
#include "app/workflow/dialogs/dialog_frame.h"

namespace grainforge::app {
namespace {

const wxSize kDesignSize(220, 196);

std::wstring TestGridText(int cells) { return std::to_wstring(cells) + L" cells across"; }

}  // namespace

CMappingSettingsDialog::CMappingSettingsDialog(wxWindow* parent, const MappingDialogValues& values)
    : wxDialog(parent, wxID_ANY, wxS("Mapping Settings")), values_(values) {
  // The refusal is the note's, said as the sharpness is typed (a text written without an event,
  // now): a message box took the focus, and came only at OK.
  refuse = [this](const std::wstring&) { SayFieldRefusals({sharpnessRefusal_}, RefusalWidth()); };
  const auto dlu = [this](int x, int y) { return ConvertDialogToPixels(wxSize(x, y)); };
  const int gap = dlu(4, 4).y;
  auto* contents = new wxBoxSizer(wxVERTICAL);

  auto* boxGroup = new wxStaticBoxSizer(wxVERTICAL, this, wxS("Box and sphere mapping"));
  wxStaticBox* box = boxGroup->GetStaticBox();
  blend_ = new wxCheckBox(box, kBlendId, wxS("Blend the sides at the corners"));
  boxGroup->Add(blend_, 0, wxALL, gap);
  auto* sharpnessRow = new wxBoxSizer(wxHORIZONTAL);
  sharpnessRow->Add(new wxStaticText(box, wxID_ANY, wxS("Sharpness"), wxDefaultPosition, wxSize(dlu(40, 10).x, -1)),
                    0, wxALIGN_CENTER_VERTICAL | wxLEFT, dlu(12, 0).x);
  sharpness_ = new wxTextCtrl(box, kSharpnessId, wxEmptyString, wxDefaultPosition, wxSize(dlu(32, 12).x, -1));
  sharpnessRow->Add(sharpness_, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, gap);
  boxGroup->Add(sharpnessRow, 0, wxLEFT | wxRIGHT, gap);
  sharpnessRefusal_ = {CreateRefusalNote(box, kRefusalId), {{sharpness_, kBlendSharpnessRule}}};
  boxGroup->Add(sharpnessRefusal_.note, 0, wxLEFT | wxRIGHT | wxTOP, gap);
  note_ = new wxStaticText(box, kNoteId, wxEmptyString, wxDefaultPosition, dlu(190, 20), wxST_NO_AUTORESIZE);
  boxGroup->Add(note_, 0, wxEXPAND | wxALL, gap);
  contents->Add(boxGroup, 0, wxEXPAND);

  auto* gridGroup = new wxStaticBoxSizer(wxHORIZONTAL, this, wxS("Outer and inner surfaces"));
  wxStaticBox* gridBox = gridGroup->GetStaticBox();
  gridGroup->Add(new wxStaticText(gridBox, wxID_ANY, wxS("Test grid"), wxDefaultPosition, wxSize(dlu(52, 10).x, -1)),
                 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
  testGrid_ = new wxChoice(gridBox, kTestGridId, wxDefaultPosition, wxSize(dlu(110, 12).x, -1));
  for (int cells : kTestGridChoices) testGrid_->Append(TestGridText(cells));
  gridGroup->Add(testGrid_, 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
  contents->Add(gridGroup, 0, wxEXPAND | wxTOP, gap);

  auto* roundGroup = new wxStaticBoxSizer(wxVERTICAL, this, wxS("Cylinder and sphere mapping"));
  wholeTiles_ = new wxCheckBox(roundGroup->GetStaticBox(), kWholeTilesId,
                               wxS("Whole tiles around: fit the texture so it meets itself"));
  roundGroup->Add(wholeTiles_, 0, wxALL, gap);
  contents->Add(roundGroup, 0, wxEXPAND | wxTOP, gap);

  blend_->SetValue(values_.blend);
  wholeTiles_->SetValue(values_.wholeTiles);
  SetWindowFloat(sharpness_, values_.sharpness);
  testGrid_->SetSelection(TestGridChoiceIndex(values_.testGridCells));
  UpdateBlendControls();

  blend_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { UpdateBlendControls(); });
  SayRefusalsAsTyped(sharpnessRefusal_, [this] { return RefusalWidth(); });
  Bind(wxEVT_BUTTON, &CMappingSettingsDialog::OnOk, this, wxID_OK);
  helpPane_ = FinishSettingsDialog(this, contents, kDesignSize, "mapping");
}

void CMappingSettingsDialog::UpdateBlendControls() {
  const bool ticked = blend_->GetValue();
  blend_->Enable(values_.blendAvailable);
  sharpness_->Enable(values_.blendAvailable && ticked);
  const wxString note = !values_.blendAvailable ? wxS("Blending belongs to the box and sphere mappings.")
                        : ticked ? wxS("The preview shows a hard seam at the corners; the processed part blends them.")
                                 : wxString();
  SetWrappedLabel(note_, note, ConvertDialogToPixels(wxSize(190, 0)).x);
  // Blending off, the sharpness is not read: its refusal goes, and comes back with it.
  SayFieldRefusals({sharpnessRefusal_}, RefusalWidth());
}

int CMappingSettingsDialog::RefusalWidth() const { return ConvertDialogToPixels(wxSize(190, 0)).x; }

bool CMappingSettingsDialog::TakeFieldValues() {
  if (!CheckNumberFields({{sharpness_, kBlendSharpnessRule}}, refuse)) return false;
  if (values_.blendAvailable) values_.blend = blend_->GetValue();
  values_.wholeTiles = wholeTiles_->GetValue();
  values_.sharpness = ReadBlendSharpness(sharpness_->GetValue().ToStdWstring(), values_.sharpness);
  const int selected = testGrid_->GetSelection();
  if (selected >= 0 && selected < static_cast<int>(std::size(kTestGridChoices)))
    values_.testGridCells = kTestGridChoices[selected];
  return true;
}

void CMappingSettingsDialog::OnOk(wxCommandEvent&) {
  if (TakeFieldValues()) EndDialog(wxID_OK);
}

bool ShowMappingSettingsDialog(wxWindow* parent, CGrainforgeDoc& doc) {
  CMappingSettingsDialog dialog(parent, MappingValuesFromDocument(doc));
  if (dialog.ShowModal() != wxID_OK) return false;
  ApplyMappingValues(doc, dialog.Values());
  return true;
}

}  // namespace grainforge::app
