#pragma once

// Texture > Settings: the tile size, repetition, blur, levels and inversion of the current
// texture, with the levels widget and the "texture" help page, and the way into the seamless
// dialog for a loaded image.

#include <functional>
#include <string>

#include <wx/dialog.h>

#include "app/workflow/dialogs/dialog_document_edits.h"

class wxButton;
class wxCheckBox;
class wxStaticText;
class wxTextCtrl;

namespace grainforge::app {

class CGrainforgeDoc;
class CLevelsControl;
class CMarkdownTextCtrl;

class CTextureSettingsDialog final : public wxDialog {
public:
  ~CTextureSettingsDialog() override;
  enum ControlId {
    kWidthId = 1001,
    kHeightId = 1002,
    kLockAspectId = 1003,
    kAutoLevelsId = 1004,
    kSeamlessLineId = 1005,
    kBlurId = 1010,
    kInvertId = 1011,
    kSourceId = 1012,
    kTilesId = 1115,
    kSeamlessButtonId = 1244,
    kFieldsRefusalId = 1245,  // a refused size or blur, in red under those fields
    kLevelsRefusalId = 1246,  // a refused level, in red under the levels
  };

  CTextureSettingsDialog(wxWindow* parent, TextureDialogInput input);

  // The settings as given, and after OK as edited.
  const grainforge::mesh::TextureSettings& Settings() const { return input_.settings; }
  // "Seamless..." closed the dialog: the opener shows the seamless dialog next.
  bool SeamlessRequested() const { return seamlessRequested_; }
  float AspectInUse() const { return aspectInUse_; }
  CLevelsControl* Levels() const { return levels_; }
  CMarkdownTextCtrl* HelpPane() const { return helpPane_; }

  // Shows a refusal at OK; in red under the fields it refuses unless replaced (tests record
  // instead). Leaving a field says its refusal there at once.
  std::function<void(const std::wstring&)> refuse;

  // What OK does: reads the fields, refuses an unusable size or gamma (withdrawing a seamless
  // request and staying open), else keeps the settings. True when accepted.
  bool TakeFieldValues();
  void RequestSeamless();

private:
  // Says the first refusal of the size and blur fields under them, or takes it away.
  void SayFieldRefusal();
  int RefusalWidth() const;
  void ShowTextureSettings();
  void SyncLevelsControl();
  void OnLockAspect();
  void FollowWidth();
  void OnAutoLevels();
  void OnOk(wxCommandEvent& event);

  TextureDialogInput input_;
  float aspectInUse_ = 1.0f;
  bool seamlessRequested_ = false;
  // The size texts as shown: a field still holding its text gives back the stored size exactly.
  std::wstring shownWidth_;
  std::wstring shownHeight_;
  wxTextCtrl* width_ = nullptr;
  wxTextCtrl* height_ = nullptr;
  wxTextCtrl* blur_ = nullptr;
  wxCheckBox* lockAspect_ = nullptr;
  wxCheckBox* tiles_ = nullptr;
  wxCheckBox* autoLevels_ = nullptr;
  wxCheckBox* invert_ = nullptr;
  wxStaticText* seamlessLine_ = nullptr;
  wxButton* seamlessButton_ = nullptr;
  CLevelsControl* levels_ = nullptr;
  wxStaticText* fieldsRefusal_ = nullptr;
  wxStaticText* levelsRefusal_ = nullptr;
  wxStaticText* refusalAt_ = nullptr;  // where `refuse` says what OK found
  CMarkdownTextCtrl* helpPane_ = nullptr;
  bool closing_ = false;  // set while the dialog is destroyed: its fields then say nothing
};

// Runs the dialog on the document's texture; on OK applies the edited settings when they
// differ, then opens the seamless dialog when asked for. True after OK.
bool ShowTextureSettingsDialog(wxWindow* parent, CGrainforgeDoc& doc);

}  // namespace grainforge::app
