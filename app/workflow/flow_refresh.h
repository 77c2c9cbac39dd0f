#pragma once

// The workflow pane's decisions, apart from its windows: what the 150 ms refresh reads from
// the document (each header's switch and status dot, the footer), what in a header has to
// change for it, and what a header event does to the document. Nothing here draws, so every
// rule is tested without a display.

#include <array>
#include <optional>
#include <string_view>

#include "app/shell/footer_model.h"
#include "app/workflow/flow_types.h"

namespace grainforge::app {

class CGrainforgeDoc;

// Everything the refresh shows, read from the document in one pass.
struct FlowReading {
  std::array<bool, kFlowStepCount> switches{};
  std::array<SectionStatus, kFlowStepCount> statuses{};
  FooterShown footer;
  friend bool operator==(const FlowReading&, const FlowReading&) = default;
};

// Reads the document (null: no document) without changing it. Mapping and Texture are always
// switched on; Relief follows the displacement stage switch and Simplify the simplify switch.
// A step is Inactive when off or with no part, Running while the running stage belongs to it,
// Pending when its settings differ from the shown result's, else UpToDate.
FlowReading ReadFlowState(const CGrainforgeDoc* document);

// What the header shows now.
struct HeaderShownState {
  bool switchOn = true;
  SectionStatus status = SectionStatus::Pending;
};

// What one header needs for a reading: empty fields change nothing.
struct HeaderRefresh {
  std::optional<bool> switchOn;
  // Relief and Simplify open when switched on and close when switched off.
  std::optional<bool> collapse;
  std::optional<SectionStatus> status;
  bool ChangesAnything() const { return switchOn || collapse || status; }
};
HeaderRefresh PlanHeaderRefresh(FlowStep step, const HeaderShownState& shown, bool switchOn,
                                SectionStatus status);

// What follows a header event once the document has been changed.
struct FlowEventOutcome {
  std::optional<int> command;      // to send to the main window
  std::optional<bool> collapse;    // the section's new collapsed state
  bool refresh = false;            // refresh the pane at once
};

// A switch event sets the step's stage switches to the header's switch (Relief: displacement
// and remesh; Simplify: simplify), rebuilding the preview once per switch that changed, and
// opens the section when on, closes it when off. A settings event sends the step's command.
// A collapse event needs nothing more. Without a document only the window side happens.
FlowEventOutcome ApplyFlowEvent(CGrainforgeDoc* document, FlowStep step, FlowEvent event,
                                bool headerSwitch);

// A body's refresh writes a value into an edit field only when it differs from what the field
// shows and the user is not typing in it: a focused field is never rewritten under the caret.
bool ShouldRewriteEdit(bool focused, std::wstring_view shown, std::wstring_view fresh);

}  // namespace grainforge::app
