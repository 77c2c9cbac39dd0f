#pragma once

#include <string>
#include <vector>

#include <wx/font.h>
#include <wx/panel.h>
#include <wx/scrolwin.h>
#include <wx/textctrl.h>

#include "app/shell/info_pane_layout.h"

namespace grainforge::app {

// The coloured message area under the report: each message in its own band, green, amber or
// red by its kind, wrapped; when they are taller than the box it scrolls (wheel or bar).
class CInfoBox final : public wxScrolledCanvas {
public:
  explicit CInfoBox(wxWindow* parent);
  // Shows the messages from the top; a message that was not there before is scrolled into sight
  // once the box is placed (a save's "Wrote:" under a long warning lay below the box's foot).
  void SetMessages(std::vector<InformationMessage> messages);
  const std::vector<InformationMessage>& Messages() const { return messages_; }
  // Height of the messages laid out in a box of the given width, in this box's font.
  int ContentHeight(int boxWidth) const;
  int LineHeight() const;
  // Puts the box at `rect`, with a scroll bar when the messages are taller than it.
  void Place(const AreaRect& rect);
  // The messages as drawn at the box's present width.
  InfoContent Content() const;

private:
  void OnPaint(wxPaintEvent& event);

  // Scrolls the message `index` into sight (its start, and its end where the box is tall
  // enough), in the layout the box has now.
  void ScrollMessageIntoSight(std::size_t index);

  std::vector<InformationMessage> messages_;
  // The first message the last SetMessages brought that was not shown before, to be scrolled
  // into sight once the box is placed; -1 when none.
  int newMessage_ = -1;
};

// The dialog of the "Information" pane: the report box (fixed-pitch, read-only) and the
// information box below it, shown only while it has text.
class CRightPaneDialog final : public wxPanel {
public:
  explicit CRightPaneDialog(wxWindow* parent);

  // One message of the kind; an empty text empties the box.
  void SetInfoText(const std::wstring& text, int kind);
  // The messages, the gravest first, each in its own colours; none hides the box.
  void SetInfoMessages(const std::vector<InformationMessage>& messages);
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
  void SetInfoMessages(const std::vector<InformationMessage>& messages) { dialog_->SetInfoMessages(messages); }
  void SetReportText(const std::wstring& text) { dialog_->SetReportText(text); }

private:
  CRightPaneDialog* dialog_ = nullptr;
};

}  // namespace grainforge::app
