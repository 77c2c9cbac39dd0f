#pragma once

// Texture > Seamless: the way a loaded image is made to tile without visible joins. The user
// picks a method and its parameters and sees the image as loaded and after the method, each
// laid 2 x 2, worked out on a reduced copy so that every change previews at once. The dialog
// never changes the image: it returns a method name and a parameter text.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include <wx/dialog.h>

#include "app/workflow/dialogs/dialog_document_edits.h"
#include "engine/textures/seamless_method.h"

class wxChoice;
class wxSlider;
class wxStaticText;
class wxTextCtrl;

namespace grainforge::app {

class CGrainforgeDoc;
class CMarkdownTextCtrl;
class SeamlessPreviewPanel;

class CSeamlessDialog final : public wxDialog {
public:
  static constexpr int kRowCount = 4;
  enum ControlId {
    kMethodId = 1116,
    kDescriptionId = 1117,
    kBeforeId = 1118,
    kAfterId = 1119,
    kStatusId = 1120,
    kRowLabelId = 1121,
    kRowEditId = 1125,
    kRowSliderId = 1129,
    kRowChoiceId = 1133,
    kRefusalId = 1137,  // under the rows: why a typed text was refused
  };

  CSeamlessDialog(wxWindow* parent, const SeamlessDialogInput& input);
  ~CSeamlessDialog() override;

  // The chosen method and its parameters (after OK).
  const std::string& MethodName() const { return methodName_; }
  const std::string& ParameterText() const { return parameterText_; }
  const ReducedImage& PreviewSource() const { return source_; }
  const TiledPreview& Before() const { return before_; }
  const TiledPreview& After() const { return after_; }
  const grainforge::mesh::seamless::Method& Method() const { return *method_; }
  CMarkdownTextCtrl* HelpPane() const { return helpPane_; }

  // What the method list, the rows and the sliders do, callable from tests.
  void ChooseMethod(const std::string& name);
  void ReadParameterRows();
  void MoveSlider(int row, int position);
  // Reads the rows and takes the method's name and parameter text (what OK does).
  void TakeFieldValues();

private:
  struct Row {
    wxStaticText* label = nullptr;
    wxTextCtrl* edit = nullptr;
    wxSlider* slider = nullptr;
    wxChoice* choice = nullptr;
  };

  void SetSeamlessMethod(const std::string& name);
  void ShowMethodRows();
  // Writes the values into the rows, but for refused rows (their texts stay to be mended).
  void ShowParameterValues(const std::array<bool, kRowCount>& keep = {});
  void UpdateSeamlessPreviews();
  void WrapTexts();
  // Says correction_ under the rows, or hides the line when there is none.
  void ShowRefusal();
  // Says the first row's refusal of the texts as they stand, taking nothing.
  void SayTypedRefusal();
  void OnOk(wxCommandEvent& event);

  std::string methodName_;
  std::string openingMethod_;
  std::string openingText_;
  std::string parameterText_;
  std::unique_ptr<grainforge::mesh::seamless::Method> method_;
  ReducedImage source_;
  TiledPreview before_;
  TiledPreview after_;
  wxChoice* methods_ = nullptr;
  wxStaticText* description_ = nullptr;
  wxStaticText* status_ = nullptr;
  wxStaticText* note_ = nullptr;
  wxStaticText* refusal_ = nullptr;
  wxString statusText_;  // the status as said, before wrapping
  SeamlessPreviewPanel* beforePanel_ = nullptr;
  SeamlessPreviewPanel* afterPanel_ = nullptr;
  std::array<Row, kRowCount> rows_{};
  std::wstring correction_;  // why a typed text was refused, said under the rows until the next read
  std::wstring refusalShown_;  // the refusal the line under the rows says
  int refusedRow_ = -1;      // the first row whose text was refused at the last reading
  int textWidth_ = 0;  // the wrapping width of the description, status and note
  CMarkdownTextCtrl* helpPane_ = nullptr;
  bool closing_ = false;  // set while the dialog is destroyed: its rows then read nothing
};

// Runs the dialog on the document's image; on OK applies the chosen method when it differs
// from the stored one. False (and nothing shown) without an image, and after Cancel.
bool ShowSeamlessDialog(wxWindow* parent, CGrainforgeDoc& doc);

}  // namespace grainforge::app
