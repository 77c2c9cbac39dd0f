#pragma once

// Where the document's view meets the main window. The shell does not link the view: the
// program hands it a factory that makes the view in the centre of the main window, and the
// frame hands the view the few panes it writes (IViewFrame). Without a factory the shell shows
// its placeholder.

#include <functional>
#include <string>
#include <vector>

#include "app/document/command_entry.h"
#include "app/document/document_host.h"

class wxWindow;

namespace grainforge::app {

class CGrainforgeDoc;
class ICommandTarget;
class IProfileStore;

// What the view writes outside its own window. Valid from the view's first update on (the
// frame is still being built while the view is made).
class IViewFrame {
public:
  virtual ~IViewFrame() = default;
  // Status bar panes "Tool" (2) and "Frame" (3).
  virtual void SetToolPaneText(const std::wstring& text) = 0;
  virtual void SetFramePaneText(const std::wstring& text) = 0;
  // Every text the "Tool" pane shows, and the widest the "Frame" pane is expected to show: the
  // panes are made wide enough for them at once, rather than cut them or widen on the way.
  virtual void SetStatusPaneTexts(const std::vector<std::wstring>& toolTexts,
                                  const std::vector<std::wstring>& frameTexts) {
    (void)toolTexts;
    (void)frameTexts;
  }
  // The information pane's report text (the mesh information).
  virtual void SetReportText(const std::wstring& text) = 0;
  // The information box's text as it stands (the view empties it only while it still shows a
  // reduced-copy message).
  virtual std::wstring InformationText() const = 0;
  // Shows and activates the information pane.
  virtual void ShowInformationPane() = 0;
  // Hides the information pane (View > Mesh Information clicked while it is ticked).
  virtual void HideInformationPane() = 0;
  // Whether the information pane is shown (View > Mesh Information is checked while it is).
  [[nodiscard]] virtual bool IsInformationPaneShown() const = 0;
  // Marks a named start-up phase.
  virtual void MarkStartupPhase(const char* name) = 0;
};

struct DocumentViewContext {
  CGrainforgeDoc* document = nullptr;  // never null in the program
  ICommandTarget* commands = nullptr;  // the frame's command routing (Open STL, the mask panel)
  IProfileStore* profile = nullptr;    // the program's profile; may be null
  IViewFrame* frame = nullptr;         // never null; usable from the first update on
};

struct DocumentView {
  wxWindow* window = nullptr;          // a child of the given parent
  IDocumentViews* views = nullptr;     // the document's view channel
  std::function<CommandTable()> commands;  // the View command layer
  // Run once the document has its host, before the main window is shown.
  std::function<void()> initialUpdate;
};

using DocumentViewFactory = std::function<DocumentView(wxWindow* parent, const DocumentViewContext& context)>;

}  // namespace grainforge::app
