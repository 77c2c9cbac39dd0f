#include "app/workflow/dialogs/remesh_input_dialog.h"

#include "app/shell/kit/dialog_fit.h"
#include "app/shell/kit/dialog_numbers.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/workflow/dialogs/relief_dialog_model.h"
#include "app/workflow/help/help_pages.h"
#include "app/workflow/help/markdown_text_ctrl.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace grainforge::app {

CRemeshInputDialog::CRemeshInputDialog(wxWindow* parent, const mesh::RemeshSettings& settings,
                                       const mesh::TriangleMesh* part)
    : wxDialog(parent, wxID_ANY, wxS("Remesh Input Mesh")), settings_(settings), part_(part) {
  // The refusal is the note's, said as the size is typed (a text written without an event, now):
  // a message box took the focus, and came only at Remesh.
  refuse = [this](const std::wstring&) { SayFieldRefusals({sizeRefusal_}, RefusalWidth()); };
  const int margin = wxDLG_UNIT(this, wxSize(8, 8)).x;
  const int gap = wxDLG_UNIT(this, wxSize(4, 4)).x;
  const int textWidth = wxDLG_UNIT(this, wxSize(234, 0)).x;
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* intro = new wxStaticText(this, wxID_ANY, L"Remeshes the part as loaded, with no relief, and keeps the result as the part.");
  intro->Wrap(textWidth);
  sizer->Add(intro, 0, wxLEFT | wxRIGHT | wxTOP, margin);
  auto* grid = new wxFlexGridSizer(2, gap, 2 * gap);
  grid->Add(new wxStaticText(this, wxID_ANY, L"Triangle size (mm)"), 0, wxALIGN_CENTER_VERTICAL);
  size_ = new wxTextCtrl(this, kIdRemeshInputSize, wxEmptyString, wxDefaultPosition, wxDLG_UNIT(this, wxSize(50, -1)),
                         wxTE_RIGHT);
  grid->Add(size_, 0);
  grid->Add(new wxStaticText(this, wxID_ANY, L"Method"), 0, wxALIGN_CENTER_VERTICAL);
  method_ = new wxChoice(this, kIdRemeshInputMethod);
  method_->Append(L"Isotropic - keeps sharp edges exactly, slow");
  method_->Append(L"Dual contouring - fast");
  method_->SetSelection(settings_.method == mesh::RemeshMethod::isotropic ? 0 : 1);
  grid->Add(method_, 0);
  sizer->Add(grid, 0, wxALL, margin);
  sizeRefusal_ = {CreateRefusalNote(this, kIdRemeshInputRefusal), {{size_, kTriangleSizeRule}}};
  sizer->Add(sizeRefusal_.note, 0, wxLEFT | wxRIGHT | wxBOTTOM, margin);
  estimate_ = new wxStaticText(this, kIdRemeshInputEstimate, wxEmptyString, wxDefaultPosition,
                               wxSize(textWidth, wxDLG_UNIT(this, wxSize(0, 18)).y), wxST_NO_AUTORESIZE);
  sizer->Add(estimate_, 0, wxLEFT | wxRIGHT, margin);
  sizer->AddStretchSpacer();
  auto* buttons = new wxStdDialogButtonSizer();
  buttons->AddButton(new wxButton(this, wxID_OK, wxS("Remesh")));
  buttons->AddButton(new wxButton(this, wxID_CANCEL, wxS("Cancel")));
  buttons->Realize();
  sizer->Add(buttons, 0, wxEXPAND | wxALL, margin);
  SetSizer(sizer);
  SetWindowFloat(size_, settings_.targetEdgeMillimetres);
  UpdateEstimate();
  size_->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
    event.Skip();
    UpdateEstimate();
  });
  SayRefusalsAsTyped(sizeRefusal_, [this] { return RefusalWidth(); });
  method_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { UpdateEstimate(); });
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOk(); }, wxID_OK);
  SetMinClientSize(wxDLG_UNIT(this, wxSize(250, 96)));
  Fit();
  helpPane_ = AttachHelpPane(this, LoadHelpPage("remesh"));
}

void CRemeshInputDialog::UpdateEstimate() {
  const std::wstring typed = size_->GetValue().ToStdWstring();
  // A size the Remesh button would refuse is said in red under the size: no estimate then.
  const bool refused = !NumberFieldRefusalOf(typed, kTriangleSizeRule).empty();
  if (auto text = RemeshInputEstimateText(part_, settings_, method_->GetSelection(), typed))
    SetWrappedLabel(estimate_, refused ? std::wstring() : *text, estimate_->GetMinSize().x);
}

int CRemeshInputDialog::RefusalWidth() const { return estimate_->GetMinSize().x; }

void CRemeshInputDialog::ReadControls() {
  settings_ = ReadRemeshInputFields(settings_, method_->GetSelection(), size_->GetValue().ToStdWstring());
}

bool CRemeshInputDialog::TakeFieldValues() {
  if (!CheckNumberFields({{size_, kTriangleSizeRule}}, refuse)) return false;
  ReadControls();
  return true;
}

void CRemeshInputDialog::OnOk() {
  if (!TakeFieldValues()) return;
  if (IsModal())
    EndModal(wxID_OK);
  else {
    SetReturnCode(wxID_OK);
    Hide();
  }
}

}  // namespace grainforge::app
