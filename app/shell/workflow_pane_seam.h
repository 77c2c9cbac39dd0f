#pragma once

// Where the workflow pane meets the main window. The frame does not know the workflow window's
// classes: it asks a factory for the "Workflow" pane and lays it out on the left at its own
// width. Until the workflow pane is built the program's factory is the placeholder below.
//
// What a factory must give:
// - a CStaticPane created with CStaticPane::Create(parent, kWorkflowPaneId, L"Workflow",
//   L"pane_workflow", {kWorkflowPaneWidth, 0}), as a child of `parent`; the frame puts it in
//   its layout and calls SetDpi on it when the DPI changes;
// - optionally, `reloadTextures`: what Texture > Reload Textures does (the texture section
//   rescans the library); empty leaves the command disabled.
// The pane reads the document on its own timer; it sends commands (Process 32888, Stop 32836,
// the sections' settings) through `context.commands`, or as an EVT_TESSARY_COMMAND event that
// travels up to the frame. The document outlives the pane; the pane must not keep the context's
// pointers past its own destruction.

#include <functional>
#include <memory>

#include "app/document/document_host.h"

#include "app/shell/kit/command_target.h"
#include "app/shell/profile_store.h"
#include "app/shell/static_pane.h"

namespace grainforge::app {

class CGrainforgeDoc;

inline constexpr int kWorkflowPaneId = 133;
inline constexpr int kWorkflowPaneWidth = 340;

struct WorkflowPaneContext {
  CGrainforgeDoc* document = nullptr;   // never null in the program
  ICommandTarget* commands = nullptr;   // the frame's command routing
  IProfileStore* profile = nullptr;     // the program's profile; null keeps nothing
};

struct WorkflowPane {
  CStaticPane* pane = nullptr;
  std::function<void()> reloadTextures;
};

using WorkflowPaneFactory = std::function<WorkflowPane(wxWindow* parent, const WorkflowPaneContext&)>;

// Makes the dialogs the document opens, over the main frame; `detailedLog` tells whether the
// detailed log is on (the export check shows its time only then).
using DocumentDialogsFactory =
    std::function<std::unique_ptr<IDocumentDialogs>(wxWindow* frame, std::function<bool()> detailedLog)>;

// A "Workflow" pane that only says the workflow is not here yet.
WorkflowPane MakePlaceholderWorkflowPane(wxWindow* parent, const WorkflowPaneContext& context);

}  // namespace grainforge::app
