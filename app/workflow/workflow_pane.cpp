#include "app/workflow/workflow_pane.h"

#include <memory>

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/command_events.h"
#include "app/shell/kit/ui_scale.h"
#include "app/workflow/flow_refresh.h"
#include "app/workflow/flow_wnd.h"
#include "app/workflow/mapping_body.h"
#include "app/workflow/relief_bodies.h"
#include "app/workflow/texture_body.h"

namespace grainforge::app {
namespace {

constexpr int kFlowWindowId = 1;
constexpr int kFirstBodyId = 200;

// The library the Texture section browses: the document's folders when its host names them,
// else this program's and this user's.
LibraryRoots BrowsedLibrary(const CGrainforgeDoc* document) {
  LibraryRoots roots = document != nullptr ? document->LibraryRootsOfHost() : LibraryRoots{};
  return roots.empty() ? FindLibraryRoots() : roots;
}

template <typename Body, typename... Args>
void InstallBody(CFlowWnd& flow, FlowStep step, Args&&... args) {
  auto* body = new Body(std::forward<Args>(args)...);
  if (body->Build(&flow, kFirstBodyId + StepIndex(step), step)) flow.ReplaceBody(step, body);
  else body->Destroy();
}

// The pane's refresh and the workflow window's events, against the one document.
class FlowPaneDriver final : public ILeftPaneDriver {
public:
  FlowPaneDriver(CLeftPane& pane, CFlowWnd& flow, CGrainforgeDoc* document)
      : pane_(pane), flow_(flow), document_(document) {}

  void Refresh(CFooterWnd& footer) override {
    if (document_ != nullptr) document_->ReportOutOfDate();
    const FlowReading reading = ReadFlowState(document_);
    for (int i = 0; i < kFlowStepCount; ++i) RefreshHeader(StepAt(i), reading);
    for (int i = 0; i < kFlowStepCount; ++i) flow_.Body(StepAt(i)).UpdateFromDocument(document_);
    footer.SetShown(reading.footer);
  }

  void SetDpi(int dpi) override { flow_.SetDpi(dpi); }

  void OnFlowEvent(FlowStep step, FlowEvent event) {
    const FlowEventOutcome outcome =
        ApplyFlowEvent(document_, step, event, flow_.Header(step).Model().IsSwitchOn());
    if (outcome.command) {
      wxCommandEvent command = MakeCommandEvent(static_cast<std::uint32_t>(*outcome.command), &flow_);
      flow_.ProcessWindowEvent(command);
    }
    if (outcome.collapse) flow_.SetSectionCollapsed(step, *outcome.collapse);
    if (outcome.refresh) pane_.RefreshNow();
  }

private:
  void RefreshHeader(FlowStep step, const FlowReading& reading) {
    CSectionHeader& header = flow_.Header(step);
    const int i = StepIndex(step);
    const HeaderRefresh plan = PlanHeaderRefresh(
        step, HeaderShownState{header.Model().IsSwitchOn(), header.Model().Status()},
        reading.switches[i], reading.statuses[i]);
    if (plan.switchOn) header.SetSwitch(*plan.switchOn);
    if (plan.collapse) flow_.SetSectionCollapsed(step, *plan.collapse);
    if (plan.status) header.SetStatus(*plan.status);
  }

  CLeftPane& pane_;
  CFlowWnd& flow_;
  CGrainforgeDoc* document_;
};

}  // namespace

CLeftPane* CreateWorkflowPane(wxWindow* parent, CGrainforgeDoc* document, IProfileStore* profile,
                              SectionBodies bodies) {
  auto* pane = new CLeftPane(parent);
  auto* flow = new CFlowWnd(pane->ContentArea(), kFlowWindowId, GetWindowDpi(parent), profile);
  if (bodies == SectionBodies::Built) {
    InstallBody<CMappingBody>(*flow, FlowStep::Mapping, document);
    InstallBody<CTextureBody>(*flow, FlowStep::Texture, document, BrowsedLibrary(document));
    InstallBody<CReliefBody>(*flow, FlowStep::Relief, document);
    InstallBody<CSimplifyBody>(*flow, FlowStep::Simplify, document);
  }
  auto driver = std::make_unique<FlowPaneDriver>(*pane, *flow, document);
  FlowPaneDriver* events = driver.get();
  flow->SetFlowCallback([events](FlowStep step, FlowEvent event) { events->OnFlowEvent(step, event); });
  pane->SetFlowWindow(flow, std::move(driver));
  return pane;
}

CFlowWnd* WorkflowWindowOf(const CLeftPane& pane) {
  return dynamic_cast<CFlowWnd*>(pane.FlowWindow());
}

std::function<void()> ReloadTexturesOf(CLeftPane* pane, CGrainforgeDoc* document) {
  return [pane, document] {
    CFlowWnd* flow = pane != nullptr ? WorkflowWindowOf(*pane) : nullptr;
    if (flow == nullptr) return;
    if (auto* texture = dynamic_cast<CTextureBody*>(&flow->Body(FlowStep::Texture)))
      texture->SetLibrary(BrowsedLibrary(document));
  };
}

}  // namespace grainforge::app
