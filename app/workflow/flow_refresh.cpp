#include "app/workflow/flow_refresh.h"

#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"

namespace grainforge::app {
namespace {

bool StepSwitch(const CGrainforgeDoc* document, FlowStep step) {
  switch (step) {
    case FlowStep::Mapping:
    case FlowStep::Texture:
      return true;  // these steps have no switch
    case FlowStep::Relief:
      return document != nullptr && document->displacementOn;
    case FlowStep::Simplify:
      return document != nullptr && document->simplifyOn;
  }
  return false;
}

SectionStatus StepStatus(const CGrainforgeDoc* document, FlowStep step, bool switchOn) {
  if (document == nullptr || !switchOn || !document->HasPart()) return SectionStatus::Inactive;
  const int index = StepIndex(step);
  if (document->StageFromProgressText(index)) return SectionStatus::Running;
  // A projection with every projector switched off, or whose sides and surfaces take no face
  // of the part, maps nothing: the step is not green.
  if (step == FlowStep::Mapping &&
      (!mesh::AnyProjectorOn(document->projection) || document->MappingReachesNoFace()))
    return SectionStatus::Inactive;
  if (document->StepHasPendingChanges(index)) return SectionStatus::Pending;
  return SectionStatus::UpToDate;
}

FooterShown ReadFooter(const CGrainforgeDoc* document) {
  FooterShown footer;
  if (document == nullptr) return footer;
  footer.statusText = document->StatusText();
  if (document->pipeline.IsRunning()) {
    const mesh::PipelineStatus status = document->pipeline.GetStatus();
    footer.state = FooterState::Processing;
    footer.stageText = Utf8ToWide(status.stageText);
    footer.fraction = status.fraction;
    footer.fractionKnown = status.hasFraction;
  } else {
    footer.state = document->NeedsProcessing() ? FooterState::ReadyToProcess
                                               : FooterState::NothingToDo;
  }
  return footer;
}

// Sets a stage switch; rebuilds the preview when it changed.
void SetStageSwitch(CGrainforgeDoc& document, bool& stageSwitch, bool on) {
  if (stageSwitch == on) return;
  stageSwitch = on;
  document.UpdatePreview();
}

}  // namespace

FlowReading ReadFlowState(const CGrainforgeDoc* document) {
  FlowReading reading;
  for (int i = 0; i < kFlowStepCount; ++i) {
    reading.switches[i] = StepSwitch(document, StepAt(i));
    reading.statuses[i] = StepStatus(document, StepAt(i), reading.switches[i]);
  }
  reading.footer = ReadFooter(document);
  return reading;
}

HeaderRefresh PlanHeaderRefresh(FlowStep step, const HeaderShownState& shown, bool switchOn,
                                SectionStatus status) {
  HeaderRefresh plan;
  if (shown.switchOn != switchOn) {
    plan.switchOn = switchOn;
    if (SectionOf(step).hasSwitch) plan.collapse = !switchOn;
  }
  if (shown.status != status) plan.status = status;
  return plan;
}

FlowEventOutcome ApplyFlowEvent(CGrainforgeDoc* document, FlowStep step, FlowEvent event,
                                bool headerSwitch) {
  FlowEventOutcome outcome;
  switch (event) {
    case FlowEvent::Collapse:
      return outcome;  // the workflow window has already opened or closed the section
    case FlowEvent::Settings:
      outcome.command = SectionOf(step).settingsCommand;
      return outcome;
    case FlowEvent::Switch:
      break;
  }
  if (document != nullptr && step == FlowStep::Relief) {
    SetStageSwitch(*document, document->displacementOn, headerSwitch);
    SetStageSwitch(*document, document->remeshOn, headerSwitch);
  } else if (document != nullptr && step == FlowStep::Simplify) {
    SetStageSwitch(*document, document->simplifyOn, headerSwitch);
  }
  outcome.collapse = !headerSwitch;
  outcome.refresh = true;
  return outcome;
}

bool ShouldRewriteEdit(bool focused, std::wstring_view shown, std::wstring_view fresh) {
  return !focused && shown != fresh;
}

}  // namespace grainforge::app
