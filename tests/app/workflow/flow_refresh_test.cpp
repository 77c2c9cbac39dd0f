#include "app/workflow/flow_refresh.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "app/document/grainforge_doc.h"
#include "tests/app/document/document_fixture.h"

namespace grainforge::app {
namespace {

using grainforge::test::DocumentFixture;

constexpr SectionStatus kUpToDate = SectionStatus::UpToDate;
constexpr SectionStatus kPending = SectionStatus::Pending;
constexpr SectionStatus kInactive = SectionStatus::Inactive;
constexpr SectionStatus kRunning = SectionStatus::Running;

// A run that sits in its displacement stage at 40 % until it is stopped.
void DisplacingRuns(DocumentFixture& f) {
  f.doc->pipeline.SetRunForTesting([](mesh::PipelineStages&, const mesh::ProgressCallback& progress) {
    while (progress("Displacing the surface", 0.4f))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return false;
  });
}

// Waits (without asserting on time) until the worker has reported its stage.
bool WaitForStage(const CGrainforgeDoc& doc) {
  for (int i = 0; i < 20000; ++i) {
    if (!doc.pipeline.GetStatus().stageText.empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST(FlowRefresh, WithoutADocumentEverythingIsInactive) {
  const FlowReading reading = ReadFlowState(nullptr);
  EXPECT_EQ(reading.switches, (std::array<bool, 4>{true, true, false, false}));
  EXPECT_EQ(reading.statuses, (std::array<SectionStatus, 4>{kInactive, kInactive, kInactive, kInactive}));
  EXPECT_EQ(reading.footer, FooterShown{});
  EXPECT_EQ(reading.footer.statusText, L"No part loaded");
  EXPECT_EQ(reading.footer.state, FooterState::NothingToDo);
}

// The footer and the dots through a part's life: no part, no texture, ready, switched off.
TEST(FlowRefresh, ReadingsBeforeAnyRun) {
  DocumentFixture f;
  FlowReading reading = ReadFlowState(f.doc.get());
  EXPECT_EQ(reading.footer.statusText, L"No part loaded");
  EXPECT_EQ(reading.statuses[2], kInactive);

  f.WithCube();
  reading = ReadFlowState(f.doc.get());
  EXPECT_EQ(reading.footer.statusText, L"Needs a texture");
  EXPECT_EQ(reading.footer.state, FooterState::NothingToDo);

  f.GiveTexture();
  reading = ReadFlowState(f.doc.get());
  EXPECT_EQ(reading.footer.statusText, L"Not processed yet");
  EXPECT_EQ(reading.footer.state, FooterState::ReadyToProcess);
  EXPECT_EQ(reading.switches, (std::array<bool, 4>{true, true, true, true}));
  EXPECT_EQ(reading.statuses, (std::array<SectionStatus, 4>{kPending, kPending, kPending, kPending}));

  f.doc->simplifyOn = false;
  reading = ReadFlowState(f.doc.get());
  EXPECT_FALSE(reading.switches[3]);
  EXPECT_EQ(reading.statuses[3], kInactive);
}

// While the displacement stage runs, only Relief is Running and the footer shows the stage with
// its percentage; after the run everything is up to date and the button has nothing to do.
TEST(FlowRefresh, ReadingsDuringAndAfterARun) {
  DocumentFixture f;
  f.WithCube();
  f.GiveTexture();
  DisplacingRuns(f);
  f.doc->RequestProcess();
  ASSERT_TRUE(WaitForStage(*f.doc));
  FlowReading reading = ReadFlowState(f.doc.get());
  EXPECT_EQ(reading.statuses[2], kRunning);
  EXPECT_NE(reading.statuses[0], kRunning);
  EXPECT_NE(reading.statuses[3], kRunning);
  EXPECT_EQ(reading.footer.state, FooterState::Processing);
  EXPECT_EQ(reading.footer.stageText, L"Displacing the surface");
  EXPECT_TRUE(reading.footer.fractionKnown);
  EXPECT_FLOAT_EQ(reading.footer.fraction, 0.4f);
  EXPECT_EQ(FooterLineText(reading.footer), L"Displacing the surface  40%");
  f.doc->pipeline.Cancel();
  f.PollUntilReported();

  f.FakeRuns();
  f.doc->RequestProcess();
  f.PollUntilReported();
  reading = ReadFlowState(f.doc.get());
  EXPECT_EQ(reading.footer.statusText, L"Up to date");
  EXPECT_EQ(reading.footer.state, FooterState::NothingToDo);
  EXPECT_EQ(reading.statuses, (std::array<SectionStatus, 4>{kUpToDate, kUpToDate, kUpToDate, kUpToDate}));

  // Every side switched off maps nothing: the Mapping dot is not green, run or not.
  std::fill(std::begin(f.doc->projection.boxSideEnabled), std::end(f.doc->projection.boxSideEnabled), 0);
  f.doc->UpdatePreview();
  EXPECT_EQ(ReadFlowState(f.doc.get()).statuses[0], kInactive);
  f.doc->RequestProcess();
  f.PollUntilReported();
  EXPECT_EQ(ReadFlowState(f.doc.get()).statuses[0], kInactive);
}

// A field holding a text it refused, after a run: "Up to date" under a green dot, with Process
// greyed, said nothing. The section holding it is pending, the footer says the refusal and
// Process stays ready, to say why it does not run.
TEST(FlowRefresh, ARefusedTextHeldIsNotUpToDate) {
  const std::wstring size = L"Triangle size must be from 0.01 to 100000 mm.";
  const struct {
    const char* name;
    std::vector<HeldRefusal> held;
    std::array<SectionStatus, 4> statuses;
    std::wstring footer;
    FooterState state;
  } cases[] = {
      {"nothing refused", {}, {kUpToDate, kUpToDate, kUpToDate, kUpToDate}, L"Up to date", FooterState::NothingToDo},
      {"the Relief section's size", {{size, 2}}, {kUpToDate, kUpToDate, kPending, kUpToDate}, size,
       FooterState::ReadyToProcess},
      {"a field outside the sections", {{L"Size X must be a number.", -1}},
       {kUpToDate, kUpToDate, kUpToDate, kUpToDate}, L"Size X must be a number.", FooterState::ReadyToProcess},
      {"two, the first said", {{L"Size X must be a number.", -1}, {size, 2}},
       {kUpToDate, kUpToDate, kPending, kUpToDate}, L"Size X must be a number.", FooterState::ReadyToProcess},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DocumentFixture f;
    f.WithCube();
    f.GiveTexture();
    f.FakeRuns();
    f.doc->RequestProcess();
    f.PollUntilReported();
    f.host.heldRefusals = c.held;
    const FlowReading reading = ReadFlowState(f.doc.get());
    EXPECT_EQ(reading.statuses, c.statuses);
    EXPECT_EQ(reading.footer.statusText, c.footer);
    EXPECT_EQ(reading.footer.state, c.state);
    EXPECT_EQ(f.doc->NeedsProcessing(), !c.held.empty());
  }
}

// A reading equal to what a header shows changes nothing, so the 150 ms tick paints nothing;
// a switch change on an optional step also opens or closes its section.
TEST(FlowRefresh, HeaderChangesOnlyWhatDiffers) {
  const struct {
    FlowStep step;
    HeaderShownState shown;
    bool switchOn;
    SectionStatus status;
    std::optional<bool> newSwitch;
    std::optional<bool> collapse;
    std::optional<SectionStatus> newStatus;
  } cases[] = {
      {FlowStep::Relief, {true, kPending}, true, kPending, {}, {}, {}},
      {FlowStep::Relief, {true, kPending}, false, kInactive, false, true, kInactive},
      {FlowStep::Simplify, {false, kInactive}, true, kPending, true, false, kPending},
      {FlowStep::Relief, {true, kPending}, true, kRunning, {}, {}, kRunning},
      // A step without a switch never opens or closes from the refresh.
      {FlowStep::Texture, {false, kPending}, true, kPending, true, {}, {}},
  };
  for (const auto& c : cases) {
    const HeaderRefresh plan = PlanHeaderRefresh(c.step, c.shown, c.switchOn, c.status);
    EXPECT_EQ(plan.switchOn, c.newSwitch);
    EXPECT_EQ(plan.collapse, c.collapse);
    EXPECT_EQ(plan.status, c.newStatus);
    EXPECT_EQ(plan.ChangesAnything(), c.newSwitch || c.collapse || c.newStatus);
  }
}

// Turning Relief off turns the displacement and remesh stages off, closes the section and
// rebuilds the preview once per changed switch; gears send their step's command.
TEST(FlowRefresh, HeaderEventsChangeTheDocument) {
  DocumentFixture f;
  f.WithCube();
  f.GiveTexture();
  std::size_t hints = f.host.hints.size();
  FlowEventOutcome outcome = ApplyFlowEvent(f.doc.get(), FlowStep::Relief, FlowEvent::Switch, false);
  EXPECT_FALSE(f.doc->displacementOn);
  EXPECT_FALSE(f.doc->remeshOn);
  EXPECT_EQ(f.host.hints.size(), hints + 2);
  EXPECT_EQ(outcome.collapse, true);
  EXPECT_TRUE(outcome.refresh);
  EXPECT_FALSE(outcome.command);

  f.doc->remeshOn = true;  // only displacement differs now
  hints = f.host.hints.size();
  outcome = ApplyFlowEvent(f.doc.get(), FlowStep::Relief, FlowEvent::Switch, true);
  EXPECT_TRUE(f.doc->displacementOn);
  EXPECT_EQ(f.host.hints.size(), hints + 1);
  EXPECT_EQ(outcome.collapse, false);

  outcome = ApplyFlowEvent(f.doc.get(), FlowStep::Simplify, FlowEvent::Switch, false);
  EXPECT_FALSE(f.doc->simplifyOn);

  const int commands[] = {32900, 32821, 32889, 32890};
  for (int i = 0; i < kFlowStepCount; ++i) {
    hints = f.host.hints.size();
    outcome = ApplyFlowEvent(f.doc.get(), StepAt(i), FlowEvent::Settings, true);
    EXPECT_EQ(outcome.command, commands[i]);
    EXPECT_FALSE(outcome.collapse);
    EXPECT_EQ(f.host.hints.size(), hints);
    outcome = ApplyFlowEvent(f.doc.get(), StepAt(i), FlowEvent::Collapse, true);
    EXPECT_FALSE(outcome.command || outcome.collapse || outcome.refresh);
  }
  // Without a document the window side still happens.
  outcome = ApplyFlowEvent(nullptr, FlowStep::Simplify, FlowEvent::Switch, true);
  EXPECT_EQ(outcome.collapse, false);
}

TEST(FlowRefresh, AFocusedEditIsNeverRewritten) {
  const struct {
    bool focused;
    const wchar_t* shown;
    const wchar_t* fresh;
    bool rewrite;
  } cases[] = {
      {false, L"0.5", L"0.5", false},
      {false, L"0.5", L"0.75", true},
      {true, L"0.5", L"0.75", false},
      {true, L"0.", L"0", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ShouldRewriteEdit(c.focused, c.shown, c.fresh), c.rewrite);
}

}  // namespace
}  // namespace grainforge::app
