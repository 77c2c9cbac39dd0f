#pragma once

// Mapping > Settings: corner blending and its sharpness for the box and sphere mappings, the
// resolution of the outer/inner surface test grid, and the whole-tiles option of the cylinder
// and sphere mappings, with the "mapping" help page on the left.

#include <functional>
#include <string>

#include <wx/dialog.h>

#include "app/shell/kit/refusal_note.h"
#include "app/workflow/dialogs/dialog_document_edits.h"

class wxCheckBox;
class wxChoice;
class wxStaticText;
class wxTextCtrl;

namespace grainforge::app {

class CGrainforgeDoc;
class CMarkdownTextCtrl;

class CMappingSettingsDialog final : public wxDialog {
public:
  enum ControlId {
    kBlendId = 1212,
    kSharpnessId = 1213,
    kNoteId = 1214,
    kTestGridId = 1215,
    kWholeTilesId = 1228,
    kRefusalId = 1229,  // a refused sharpness, in red under it
  };

  CMappingSettingsDialog(wxWindow* parent, const MappingDialogValues& values);

  // The values as given, and after OK as chosen.
  const MappingDialogValues& Values() const { return values_; }
  CMarkdownTextCtrl* HelpPane() const { return helpPane_; }

  // Enables the blend controls and writes the note (also on every click of the blend box).
  void UpdateBlendControls();
  // Reads the fields into the values (what OK does before closing); refuses a sharpness out of
  // range instead (the field gets the focus). True when the fields were taken.
  bool TakeFieldValues();
  // Shows OK's refusal; in red under the sharpness, where it is said as it is typed, unless
  // replaced (tests record instead).
  std::function<void(const std::wstring&)> refuse;

private:
  void OnOk(wxCommandEvent& event);
  int RefusalWidth() const;

  MappingDialogValues values_;
  wxCheckBox* blend_ = nullptr;
  wxTextCtrl* sharpness_ = nullptr;
  RefusedFieldsNote sharpnessRefusal_;
  wxStaticText* note_ = nullptr;
  wxChoice* testGrid_ = nullptr;
  wxCheckBox* wholeTiles_ = nullptr;
  CMarkdownTextCtrl* helpPane_ = nullptr;
};

// Runs the dialog on the document's mapping; on OK stores what changed. True after OK.
bool ShowMappingSettingsDialog(wxWindow* parent, CGrainforgeDoc& doc);

}  // namespace grainforge::app
