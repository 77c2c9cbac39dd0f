#pragma once

// The "Workflow" pane as the main frame creates it: the shell's left pane (caption, footer,
// 150 ms refresh timer) with the workflow window inside, driven from the document.
//
//   CLeftPane* pane = CreateWorkflowPane(frame, &document, &profile);
//
// The pane is a child of parent (the frame puts it in its left column; 340 px wide at 96 dpi).
// Every 150 ms it reads the document: the Relief and Simplify switches, each section's status
// dot, the footer's text and button. Header switches change the document's stage switches;
// the gears and the footer's button send command events (EVT_TESSARY_COMMAND, the command id in
// the event's int: 32900, 32821, 32889, 32890, Process 32888, Stop 32836) up the window chain
// to the frame's command routing. The document and the profile must outlive the pane; a null
// document shows "No part loaded".

#include <functional>

#include "app/shell/left_pane.h"
#include "app/shell/profile_store.h"

namespace grainforge::app {

class CFlowWnd;
class CGrainforgeDoc;

// Which bodies the sections get: the built Mapping, Texture, Relief and Simplify bodies, or the
// placeholder body everywhere (for tests of the window and its headers alone).
enum class SectionBodies { Built, Placeholders };

CLeftPane* CreateWorkflowPane(wxWindow* parent, CGrainforgeDoc* document, IProfileStore* profile,
                              SectionBodies bodies = SectionBodies::Built);

// The workflow window inside a pane made by CreateWorkflowPane.
CFlowWnd* WorkflowWindowOf(const CLeftPane& pane);

// Texture > Reload Textures for the frame: the Texture section reads the library again (a
// pane with placeholder bodies has nothing to read). The pane must outlive the function.
std::function<void()> ReloadTexturesOf(CLeftPane* pane, CGrainforgeDoc* document);

}  // namespace grainforge::app
