#pragma once

// The procedural texture dialog: the pattern's parameters in up to twelve rows, a live preview
// of one, four or nine tiles, the pattern's help with a table of its settings, and its presets
// (choose to load, save under a name, delete). The pattern is edited in place.

#include "app/document/document_host.h"
#include "app/document/user_folders.h"
#include "app/workflow/dialogs/procedural_dialog_model.h"
#include "engine/textures/procedural_texture.h"

#include <wx/dialog.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class wxButton;
class wxCheckBox;
class wxChoice;
class wxSlider;
class wxStaticText;
class wxTextCtrl;

namespace grainforge::app {

class CMarkdownTextCtrl;
class CPresetCombo;
class CPreviewPicture;

// The two questions the preset buttons ask; the program shows dialogs, tests answer directly.
struct PresetQuestions {
  // The name to save under, starting from `initial`; nothing for Cancel.
  std::function<std::optional<std::wstring>(wxWindow* parent, const std::wstring& initial)> askName;
  // Yes (true) or No to a question under a caption.
  std::function<bool(wxWindow* parent, const std::wstring& caption, const std::wstring& text)> askYesNo;
};
// Questions asked through CPresetNameDialog and a message box.
PresetQuestions DialogPresetQuestions();

// Control ids of the dialog.
inline constexpr int kIdRowLabel = 1140;
inline constexpr int kIdRowEdit = 1152;
inline constexpr int kIdRowChoice = 1164;
inline constexpr int kIdRowCheck = 1176;
inline constexpr int kIdRowSlider = 1188;
inline constexpr int kIdPatternName = 1061;
inline constexpr int kIdPreview = 1062;
inline constexpr int kIdShowTiles = 1113;
inline constexpr int kIdInformation = 1114;
inline constexpr int kIdPresetCombo = 1200;
inline constexpr int kIdSavePreset = 1201;
inline constexpr int kIdDeletePreset = 1202;
inline constexpr int kIdPresetName = 1203;
inline constexpr int kIdRowRefusal = 1204;  // under the rows: why a typed text was refused

class CProceduralTextureDialog final : public wxDialog {
public:
  CProceduralTextureDialog(wxWindow* parent, mesh::procedural::ProceduralTexture& pattern, int tilesShown,
                           LibraryRoots roots, PresetQuestions questions = DialogPresetQuestions());
  ~CProceduralTextureDialog() override;

  int TilesShown() const { return tilesShown_; }
  // The preview shown; after a change it is redrawn on the next pass of the event loop.
  const ProceduralPreview& Preview() const { return preview_; }
  // How many previews were drawn since the dialog opened (one per burst of changes).
  int PreviewRenders() const { return previewRenders_; }
  const std::vector<PresetEntry>& Presets() const { return presets_; }
  std::size_t FirstUserOnlyIndex() const { return firstUserOnly_; }
  // The list's selected entry, or null for "Select Preset".
  const PresetEntry* SelectedPreset() const;
  // The combo's items as shown: "Select Preset" first, then the entries' names.
  std::vector<std::wstring> PresetListTexts() const;
  CMarkdownTextCtrl* HelpPane() const { return helpPane_; }

  // What the controls do, callable from tests.
  void ChoosePreset(int entryIndex);  // -1 for "Select Preset"
  // Refused, naming the row, while a row's text is refused.
  void SavePreset();
  void DeletePreset();
  void SetTilesShown(int tiles);
  // Takes every row's text its parameter accepts; a refused text stays in its row, unapplied,
  // and the note under the rows says why. False when a row was refused.
  bool ReadParameterRows();
  // Shows a refusal at OK; in red under the rows, where it is said as it is typed, unless
  // replaced (tests record instead).
  std::function<void(const std::wstring&)> refuse;
  // Hears of each preset loaded into the pattern, to log what it held that was not used (the
  // document's LogPresetWordsNotUsed); may be empty.
  PresetReadNote presetRead;

private:
  struct Row {
    wxStaticText* label = nullptr;
    wxTextCtrl* edit = nullptr;
    wxChoice* choice = nullptr;
    wxCheckBox* check = nullptr;
    wxSlider* slider = nullptr;
  };

  const std::vector<mesh::procedural::ParameterSpec>& Specs() const;
  // Writes the values into the rows, but for rows in `keep` (refused texts stay to be mended).
  void ShowParameterValues(const std::array<bool, kProceduralRowCount>& keep = {});
  void ShowRowRefusal(const std::wstring& text);
  // Says the first row's refusal of the texts as they stand, taking nothing.
  void SayTypedRefusal();
  // Marks the preview stale and asks for one redraw on the next pass, however often it is asked.
  void UpdateProceduralPreview();
  void RenderPreview();
  // Fills the list again and selects the entry whose file has that name (none when empty).
  void FillPresetList(const std::filesystem::path& selectFileName);
  void UpdateDeleteButton();
  void OnRowChanged();
  void OnSlider(int row);
  void OnPresetChosen();
  void OnOk();
  // Whether a row's text is one its parameter refuses (nothing is read into the pattern).
  bool AnyRowRefused() const;
  // Says the first refused row's refusal with its text selected, to be typed again.
  void RefuseAtRow();
  void SetInformation(const std::wstring& text);

  mesh::procedural::ProceduralTexture& pattern_;
  int tilesShown_ = 2;
  ProceduralPreview preview_;
  LibraryRoots roots_;
  PresetQuestions questions_;
  std::vector<PresetEntry> presets_;
  std::size_t firstUserOnly_ = 0;
  CMarkdownTextCtrl* helpPane_ = nullptr;
  std::array<Row, kProceduralRowCount> rows_{};
  CPreviewPicture* picture_ = nullptr;
  wxChoice* show_ = nullptr;
  wxStaticText* information_ = nullptr;
  wxStaticText* rowRefusal_ = nullptr;
  int refusedRow_ = -1;  // the first row whose text was refused at the last reading
  std::wstring refusal_;  // why, as the note under the rows says it
  CPresetCombo* presetCombo_ = nullptr;
  wxButton* deleteButton_ = nullptr;
  bool previewStale_ = false;  // a redraw is asked for and not yet done
  int previewRenders_ = 0;
  bool closing_ = false;  // set while the dialog is destroyed: its rows then read nothing
};

// Asks for a preset name; a blank name keeps it open.
class CPresetNameDialog final : public wxDialog {
public:
  CPresetNameDialog(wxWindow* parent, const std::wstring& name);
  std::wstring Name() const { return name_; }

private:
  void OnOk();
  wxTextCtrl* edit_ = nullptr;
  std::wstring name_;
};

}  // namespace grainforge::app
