#include "app/workflow/dialogs/dialog_frame.h"

#include <algorithm>

#include <wx/dialog.h>
#include <wx/sizer.h>

#include "app/workflow/help/help_pages.h"
#include "app/workflow/help/markdown_text_ctrl.h"

namespace grainforge::app {

CMarkdownTextCtrl* FinishSettingsDialog(wxDialog* dialog, wxSizer* contents, wxSize designDialogUnits,
                                        std::string_view helpPage) {
  const int margin = dialog->ConvertDialogToPixels(wxSize(8, 8)).x;
  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(contents, 1, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin);
  // The platform's button order: on GTK Cancel stands left of OK.
  if (wxSizer* buttons = dialog->CreateSeparatedButtonSizer(wxOK | wxCANCEL))
    column->Add(buttons, 0, wxEXPAND | wxALL, margin);
  dialog->SetSizer(column);
  const wxSize design = dialog->ConvertDialogToPixels(designDialogUnits);
  const wxSize least = column->GetMinSize();
  dialog->SetClientSize(std::max(design.x, least.x), std::max(design.y, least.y));
  return AttachHelpPane(dialog, LoadHelpPage(helpPage));
}

}  // namespace grainforge::app
