#pragma once

// The window in the centre of the main window until the OpenGL view is part of the program:
// it shows the start hint, or the part's name and size, and stands in for the document's view
// (IDocumentViews). It also carries the view's Stop Processing command, so Escape, the menu and
// the footer can stop a run, and gives Home and F (Reset / Fit) to the command routing only
// while it has the focus, never from a text field.

#include <string>

#include <wx/panel.h>

#include "app/document/command_entry.h"
#include "app/document/document_host.h"

namespace grainforge::app {

class CGrainforgeDoc;
class CommandRouter;

// The one line the centre shows: the start hint without a part, else the part's title and its
// triangle count.
std::wstring ViewPlaceholderText(bool hasPart, const std::wstring& title, std::size_t triangles);

class CViewPlaceholder final : public wxPanel, public IDocumentViews {
public:
  CViewPlaceholder(wxWindow* parent, CGrainforgeDoc& document, CommandRouter& router);

  // The view layer's commands (Stop Processing).
  CommandTable Commands();

  void UpdateAllViews(int hint) override;
  void FocusView() override;
  void ShowInformationPane() override;
  void DocumentStateChanged() override;

  int UpdateCount() const { return updates_; }

private:
  void OnPaint(wxPaintEvent& event);
  void OnKeyDown(wxKeyEvent& event);

  CGrainforgeDoc& document_;
  CommandRouter& router_;
  int updates_ = 0;
};

}  // namespace grainforge::app
