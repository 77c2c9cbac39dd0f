#pragma once

// The relief and simplify settings dialog: for the whole stack, or cut down to its relief band
// ("Relief Settings") or its simplify band ("Simplify Settings"). It edits a copy of the
// settings; the caller stores Values() back after OK.

#include "app/shell/kit/refusal_note.h"
#include "app/workflow/dialogs/relief_dialog_model.h"

#include <functional>
#include <string>
#include <vector>

#include <wx/dialog.h>

class wxCheckBox;
class wxChoice;
class wxSizer;
class wxStaticText;
class wxTextCtrl;

namespace grainforge::app {

class CMarkdownTextCtrl;

inline constexpr int kIdTriangleSize = 1040;
inline constexpr int kIdEstimate = 1046;
inline constexpr int kIdStrength = 1047;
inline constexpr int kIdMidlevel = 1048;
inline constexpr int kIdDirection = 1049;
inline constexpr int kIdPlanarTolerance = 1052;
inline constexpr int kIdKeepBedFlat = 1055;
inline constexpr int kIdAutomaticMidlevel = 1057;
inline constexpr int kIdMidlevelExplanation = 1204;
inline constexpr int kIdTriangleLimit = 1229;
inline constexpr int kIdDisplayLimit = 1230;
inline constexpr int kIdDetailLevel = 1237;
inline constexpr int kIdDetailExtraHigh = 1238;  // to 1241 "Low"
// Red notes under the fields: a refused size, strength or midlevel; tolerance; detail level.
inline constexpr int kIdReliefRefusal = 1242;
inline constexpr int kIdPlanarRefusal = 1243;
inline constexpr int kIdDetailRefusal = 1244;

enum class ReliefDialogSection : unsigned { stack = 0, relief = 1, simplify = 2 };

class CRemeshSettingsDialog final : public wxDialog {
public:
  CRemeshSettingsDialog(wxWindow* parent, const ReliefDialogValues& values, ReliefDialogSection section,
                        const mesh::TriangleMesh* part, const mesh::HeightMap* heightMap);

  const ReliefDialogValues& Values() const { return values_; }
  // Reads every field into Values() as OK does.
  void ReadControls();
  // What OK does: refuses a number out of its field's range (the dialog stays open, the field
  // has the focus), else reads the fields and closes. True when the fields were taken.
  bool TakeFieldValues();
  // Shows OK's refusal; in red at the fields, where each refusal is said as it is typed, unless
  // replaced (tests record instead).
  std::function<void(const std::wstring&)> refuse;
  CMarkdownTextCtrl* HelpPane() const { return helpPane_; }
  // Whether the control belongs to the relief band (the rest is the simplify band).
  bool InReliefBand(const wxWindow* control) const;

private:
  // Says each note's refusal and the limits' in the estimate, as the fields now hold them.
  void SayFieldRefusals();
  int RefusalWidth() const;
  void EstimateTriangleText();
  void ZeroLevelText();
  void OnOk();

  ReliefDialogValues values_;
  const mesh::TriangleMesh* part_ = nullptr;
  const mesh::HeightMap* heightMap_ = nullptr;
  wxSizer* reliefBand_ = nullptr;
  wxSizer* simplifyBand_ = nullptr;
  wxTextCtrl* size_ = nullptr;
  wxTextCtrl* strength_ = nullptr;
  wxChoice* direction_ = nullptr;
  wxTextCtrl* midlevel_ = nullptr;
  wxCheckBox* automatic_ = nullptr;
  wxCheckBox* keepBedFlat_ = nullptr;
  wxStaticText* explanation_ = nullptr;
  wxTextCtrl* triangleLimit_ = nullptr;
  wxTextCtrl* displayLimit_ = nullptr;
  wxStaticText* estimate_ = nullptr;
  wxTextCtrl* planarTolerance_ = nullptr;
  wxTextCtrl* detailLevel_ = nullptr;
  std::vector<RefusedFieldsNote> notes_;
  CMarkdownTextCtrl* helpPane_ = nullptr;
};

class CGrainforgeDoc;

// Runs the dialog on the document's settings and stores them back after OK when they differ
// (then the preview is refreshed); true when something was stored.
bool EditReliefSettings(wxWindow* parent, CGrainforgeDoc& doc, ReliefDialogSection section);

}  // namespace grainforge::app
