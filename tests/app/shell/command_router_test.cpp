// The one command table: the view, the document, the frame and the application in that order,
// what menus show for commands, and the window ids the commands get.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/shell/command_router.h"
#include "app/shell/command_routing.h"

namespace grainforge::app {
namespace {

// Records which layer ran a command.
struct Recorder {
  std::vector<std::string> ran;
  CommandEntry Entry(int id, std::string layer) {
    return CommandEntry{id, [this, layer] { ran.push_back(layer); }, nullptr};
  }
};

TEST(CommandRouter, TheFirstLayerInViewDocumentFrameApplicationOrderHandlesACommand) {
  Recorder recorder;
  CommandRouter router;
  router.SetTable(CommandLayer::Application, {recorder.Entry(1, "application"), recorder.Entry(2, "application"),
                                              recorder.Entry(3, "application"), recorder.Entry(4, "application")});
  router.SetTable(CommandLayer::Frame, {recorder.Entry(1, "frame"), recorder.Entry(2, "frame"), recorder.Entry(3, "frame")});
  router.SetTable(CommandLayer::Document, {recorder.Entry(1, "document"), recorder.Entry(2, "document")});
  router.SetTable(CommandLayer::View, {recorder.Entry(1, "view")});
  for (int id = 1; id <= 4; ++id) EXPECT_EQ(router.Execute(id), CommandOutcome::Executed);
  EXPECT_EQ(recorder.ran, (std::vector<std::string>{"view", "document", "frame", "application"}));
}

TEST(CommandRouter, TheFirstUpdateDecidesEvenWhenAnotherLayerExecutes) {
  Recorder recorder;
  CommandRouter router;
  router.SetTable(CommandLayer::View, {CommandEntry{7, nullptr, [](CommandState& s) { s.checked = true; }}});
  router.SetTable(CommandLayer::Document,
                  {CommandEntry{7, nullptr, [](CommandState& s) { s.enabled = false; }}});
  router.SetTable(CommandLayer::Frame, {recorder.Entry(7, "frame")});
  const auto state = router.Query(7);
  ASSERT_TRUE(state.has_value());
  EXPECT_TRUE(state->enabled);
  EXPECT_TRUE(state->checked);
  EXPECT_EQ(router.Execute(7), CommandOutcome::Executed);
  EXPECT_EQ(recorder.ran, std::vector<std::string>{"frame"});
}

TEST(CommandRouter, ADisabledCommandIsNotRunEvenFromAnAccelerator) {
  Recorder recorder;
  CommandRouter router;
  bool enabled = false;
  router.SetTable(CommandLayer::Document,
                  {CommandEntry{32888, [&recorder] { recorder.ran.push_back("process"); },
                                [&enabled](CommandState& s) { s.enabled = enabled; }}});
  EXPECT_EQ(router.Execute(32888), CommandOutcome::Disabled);
  EXPECT_FALSE(router.ExecuteCommand(32888));
  EXPECT_TRUE(recorder.ran.empty());
  enabled = true;
  EXPECT_TRUE(router.ExecuteCommand(32888));
  EXPECT_EQ(recorder.ran.size(), 1u);
}

TEST(CommandRouter, UnknownCommandsAndUpdateOnlyCommandsAreNotRun) {
  CommandRouter router;
  router.SetTable(CommandLayer::Frame, {CommandEntry{183, nullptr, [](CommandState&) {}}});
  EXPECT_EQ(router.Execute(5), CommandOutcome::Unhandled);
  EXPECT_FALSE(router.Query(5).has_value());
  EXPECT_FALSE(router.Knows(5));
  EXPECT_EQ(router.Execute(183), CommandOutcome::Unhandled);
  EXPECT_TRUE(router.Query(183).has_value());
  EXPECT_TRUE(router.Knows(183));
}

TEST(CommandRouter, ExecuteWithoutUpdateIsEnabledAndUnchecked) {
  CommandRouter router;
  router.SetTable(CommandLayer::Application, {CommandEntry{57665, [] {}, nullptr}});
  const auto state = router.QueryCommand(57665);
  ASSERT_TRUE(state.has_value());
  EXPECT_TRUE(state->enabled);
  EXPECT_FALSE(state->checked);
}

TEST(CommandRouter, ACommandMayReplaceTheTableItWasFoundIn) {
  CommandRouter router;
  int runs = 0;
  router.SetTable(CommandLayer::View, {CommandEntry{1, [&] {
                                          ++runs;
                                          router.SetTable(CommandLayer::View, {});
                                        }, nullptr}});
  EXPECT_EQ(router.Execute(1), CommandOutcome::Executed);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(router.Execute(1), CommandOutcome::Unhandled);
}

TEST(MenuStateFor, CommandsNoLayerKnowsAreGreyedAndTextsPassThrough) {
  EXPECT_EQ(MenuStateFor(std::nullopt), (MenuItemState{false, false, L"", L""}));
  CommandState state;
  state.checked = true;
  state.text = L"&Undo Move";
  state.tooltip = L"Why it is greyed.";
  EXPECT_EQ(MenuStateFor(state), (MenuItemState{true, true, L"&Undo Move", L""}));
  // A greyed item's tooltip says why it does nothing.
  state.enabled = false;
  EXPECT_EQ(MenuStateFor(state), (MenuItemState{false, true, L"&Undo Move", L"Why it is greyed."}));
}

TEST(CommandIdMap, GivesEachCommandItsOwnWindowIdWithinWxsRange) {
  CommandIdMap ids;
  const int commands[] = {57600, 32773, 32917, 57665, 183};
  std::vector<int> given;
  for (const int command : commands) {
    const auto id = ids.WindowId(command);
    ASSERT_TRUE(id.has_value());
    EXPECT_GE(*id, 6000) << "wx keeps 4999..5999 for itself";
    EXPECT_LE(*id, 32767);
    for (const int other : given) EXPECT_NE(*id, other);
    given.push_back(*id);
    EXPECT_EQ(ids.CommandId(*id), command);
  }
  EXPECT_EQ(ids.WindowId(57600), given[0]) << "the same command keeps its id";
  EXPECT_FALSE(ids.CommandId(5).has_value());
}

TEST(CommandIdMap, RefusesOnceItsBlockIsUsedUp) {
  CommandIdMap ids;
  const int capacity = CommandIdMap::kLastWindowId - CommandIdMap::kFirstWindowId + 1;
  for (int i = 0; i < capacity; ++i) ASSERT_TRUE(ids.WindowId(100000 + i).has_value());
  EXPECT_FALSE(ids.WindowId(1).has_value());
}

}  // namespace
}  // namespace grainforge::app

namespace grainforge::app {
namespace {

TEST(SplitAccelerators, BareKeysStayOutOfTheTableSoTextFieldsKeepThem) {
  const std::vector<AcceleratorKey> keys = {
      {wxACCEL_CTRL, 'N', 57600},          {wxACCEL_CTRL | wxACCEL_SHIFT, 'S', 32886},
      {wxACCEL_ALT, WXK_BACK, 57643},      {wxACCEL_NORMAL, WXK_F5, 32888},
      {wxACCEL_SHIFT, WXK_F6, 57681},      {wxACCEL_NORMAL, WXK_HOME, 32773},
      {wxACCEL_NORMAL, 'F', 32773},        {wxACCEL_NORMAL, WXK_ESCAPE, 32836},
      {wxACCEL_SHIFT, WXK_DELETE, 57635},
  };
  const AcceleratorSplit split = SplitAccelerators(keys);
  ASSERT_EQ(split.table.size(), 5u);
  EXPECT_EQ(split.table[3].commandId, 32888);
  ASSERT_EQ(split.bare.size(), 4u);
  EXPECT_EQ(split.bare[0].keyCode, WXK_HOME);
  EXPECT_EQ(split.bare[2].commandId, 32836);
  EXPECT_EQ(split.bare[3].keyCode, WXK_DELETE) << "Shift alone does not make a chord";
}

}  // namespace
}  // namespace grainforge::app
