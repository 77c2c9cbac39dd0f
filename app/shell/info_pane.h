#pragma once

#include <string>

#include <wx/font.h>
#include <wx/panel.h>
#include <wx/textctrl.h>

#include "app/shell/info_pane_layout.h"

namespace grainforge::app {

// The coloured message area under the report: green, amber or red by kind, wrapped text.
class CInfoBox final : public wxWindow {
public:
  explicit CInfoBox(wxWindow* parent);
  void SetMessage(const std::wstring& text, int kind);
  // Rows the current text takes at the given pane width, in this box's font.
  int CountRows(int paneWidth) const;
  int LineHeight() const;

private:
  void OnPaint(wxPaintEvent& event);

  std::wstring text_;
  int kind_ = kInfoOk;
};

// The dialog of the "Information" pane: the report box (fixed-pitch, read-only) and the
// information box below it, shown only while it has text.
class CRightPaneDialog final : public wxPanel {
public:
  explicit CRightPaneDialog(wxWindow* parent);

  void SetInfoText(const std::wstring& text, int kind);
  void SetReportText(const std::wstring& text);
  void LayoutBoxes(int width, int height);

  const std::wstring& InfoText() const { return infoText_; }
  int InfoKind() const { return infoKind_; }
  const std::wstring& ReportText() const { return reportText_; }
  wxTextCtrl* ReportBox() const { return report_; }
  CInfoBox* InfoBox() const { return info_; }

private:
  void OnSize(wxSizeEvent& event);

  wxTextCtrl* report_ = nullptr;
  CInfoBox* info_ = nullptr;
  wxFont reportFont_;
  std::wstring reportText_;
  std::wstring infoText_;
  int infoKind_ = kInfoOk;
};

// The "Information" pane: hosts the dialog, which fills it.
class CRightPane final : public wxPanel {
public:
  static constexpr int kDesignWidth = 240;

  explicit CRightPane(wxWindow* parent);
  CRightPaneDialog* Dialog() const { return dialog_; }
  void SetInfoText(const std::wstring& text, int kind) { dialog_->SetInfoText(text, kind); }
  void SetReportText(const std::wstring& text) { dialog_->SetReportText(text); }

private:
  CRightPaneDialog* dialog_ = nullptr;
};

}  // namespace grainforge::app
