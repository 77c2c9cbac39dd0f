#pragma once

// The "Save STL" dialog: the cleanup options and fixes, the running check's progress, the
// coloured headline and the report, with the "export" help page on its left. A thin wx view
// over ExportCheckSession (export_check.h), which holds all of its logic.

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <wx/dialog.h>
#include <wx/timer.h>

#include "app/document/document_host.h"
#include "app/workflow/dialogs/export_check.h"

class wxCheckBox;
class wxGauge;
class wxSizer;
class wxStaticText;
class wxTextCtrl;

namespace grainforge::app {

class CMarkdownTextCtrl;

// Control ids of the dialog.
namespace export_ids {
inline constexpr int kWeld = 1206;
inline constexpr int kFillHoles = 1207;
inline constexpr int kLargestHole = 1208;
inline constexpr int kWidestSlit = 1209;
inline constexpr int kNote = 1210;
inline constexpr int kReport = 1211;
inline constexpr int kSplitNonManifold = 1231;
inline constexpr int kUnfold = 1232;
inline constexpr int kResolveCrossings = 1233;
inline constexpr int kProgressText = 1235;
inline constexpr int kProgressBar = 1236;
inline constexpr int kRemoveCrumbs = 1242;
inline constexpr int kHeadline = 1243;
inline constexpr int kSizeRefusal = 1244;  // a refused gap size, in red under the sizes
}  // namespace export_ids

class CExportDialog final : public wxDialog, private IExportCheckView {
public:
  // The check starts at once. `detailedLog`: the application's switch (shows the check's time).
  CExportDialog(wxWindow* parent, const ExportDialogRequest& request, bool detailedLog);
  ~CExportDialog() override;

  ExportCheckSession& Session() { return *session_; }
  CMarkdownTextCtrl* HelpPane() const { return helpPane_; }
  // The options as the controls show them (a size that is unreadable or out of range keeps the
  // value it had).
  ExportCheckOptions ReadOptions() const;
  // Shows a refusal; in red under the sizes unless replaced (tests record instead).
  std::function<void(const std::wstring&)> refuse;

private:
  // The "Before saving" group: the cleanup switches with their two sizes and the four fixes.
  wxSizer* CreateOptionsBox();
  // Writes the options into the controls; with keepRefusedTexts a size field holding a refused
  // text keeps it.
  void WriteOptions(const ExportCheckOptions& options, bool keepRefusedTexts = false);
  void OnOptionChanged();
  // Says, after the event that read it, that a typed size was out of range and not taken; once
  // for each text refused, and the text is selected again after.
  void SayRefusedSizes();
  int RefusalWidth() const;
  void OnSave();
  void OnMarquee();
  // Wraps the verdict to the report's width as it is now: the dialog narrows to fit a small
  // screen after the verdict may have been wrapped to its designed width.
  void WrapHeadline();

  void ShowProgressText(const std::wstring& text) override;
  void ShowReport(const std::string& utf8Text) override;
  void ShowHeadline(const ExportHeadline& headline) override;
  void ShowChecking(bool checking) override;
  void EnableSave(bool enabled) override;
  void EndWithOk() override;

  wxCheckBox* weld_ = nullptr;
  wxCheckBox* fillHoles_ = nullptr;
  wxTextCtrl* largestHole_ = nullptr;
  wxTextCtrl* widestSlit_ = nullptr;
  wxStaticText* sizeRefusal_ = nullptr;
  wxCheckBox* splitNonManifold_ = nullptr;
  wxCheckBox* unfold_ = nullptr;
  wxCheckBox* resolveCrossings_ = nullptr;
  wxCheckBox* removeCrumbs_ = nullptr;
  wxStaticText* progressText_ = nullptr;
  wxGauge* progressBar_ = nullptr;
  wxStaticText* headline_ = nullptr;
  wxString headlineText_;  // the verdict as said, before wrapping
  int headlineWidth_ = 0;  // the width it was last wrapped to
  wxTextCtrl* report_ = nullptr;
  CMarkdownTextCtrl* helpPane_ = nullptr;
  wxTimer marquee_;
  bool updating_ = false;
  bool closing_ = false;
  // The refused texts of the two sizes already said; none while a size is taken (an empty
  // text is a refused one, which an empty string here kept from ever being said).
  std::array<std::optional<std::wstring>, 2> saidRefusals_;
  std::unique_ptr<ExportCheckSession> session_;
};

// Runs the dialog modally over `parent`; the checked mesh and the options on Save, nothing on
// Cancel. This is the export method of the document's dialogs (IDocumentDialogs::RunExportCheck).
std::optional<ExportDialogResult> RunExportCheckDialog(wxWindow* parent, const ExportDialogRequest& request,
                                                       bool detailedLog);

}  // namespace grainforge::app
