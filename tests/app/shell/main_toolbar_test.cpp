// The main toolbar's items and the icon files beside the program.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/shell/kit/icon_files.h"
#include "app/shell/main_toolbar.h"

namespace grainforge::app {
namespace {

TEST(BuildMainToolbarItems, HasTwentyButtonsInSixGroupsWithDistinctCommands) {
  const auto items = BuildMainToolbarItems();
  ASSERT_EQ(items.size(), 25u);
  std::set<std::uint32_t> commands;
  std::vector<std::size_t> separators;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].kind == ToolbarItemKind::Separator) {
      separators.push_back(i);
      EXPECT_EQ(items[i].separatorSize, 6u);
      continue;
    }
    EXPECT_TRUE(items[i].enabledDefault);
    EXPECT_FALSE(items[i].checkedDefault);
    EXPECT_FALSE(items[i].tooltipTitle.empty());
    EXPECT_FALSE(items[i].tooltipBody.empty());
    commands.insert(items[i].commandId);
  }
  EXPECT_EQ(separators, (std::vector<std::size_t>{3, 5, 11, 17, 23}));
  EXPECT_EQ(commands.size(), 20u);
  EXPECT_EQ(items.front().commandId, 57600u);
  EXPECT_EQ(items.back().commandId, 32856u);
  EXPECT_EQ(items.back().iconName, L"3Dprint_view");
}

TEST(BuildMainToolbarItems, EditMasksIsAnOrdinaryButtonWithItsOwnTexts) {
  const auto items = BuildMainToolbarItems();
  const auto& masks = items[10];
  EXPECT_EQ(masks.commandId, 32904u);
  EXPECT_EQ(masks.iconName, L"sel_mask");
  EXPECT_EQ(masks.tooltipTitle, L"Edit Masks");
  EXPECT_EQ(masks.tooltipBody, L"Move, turn and size the mask volumes, in their own panel.");
  EXPECT_EQ(items[22].tooltipTitle, L"Orthographic (Numpad 5)");
}

// The build copies resources/ beside every program that shows icons; a button whose icon is
// missing would fall back to the placeholder frame.
TEST(BuildMainToolbarItems, EveryIconIsASquarePngBesideTheProgram) {
  for (const ToolbarItem& item : BuildMainToolbarItems()) {
    if (item.kind != ToolbarItemKind::Button) continue;
    const auto image = LoadPngFromFile(ToolbarIconFilePath(ResourcesFolder(), item.iconName));
    ASSERT_TRUE(image.has_value()) << std::string(item.iconName.begin(), item.iconName.end());
    EXPECT_EQ(image->GetWidth(), image->GetHeight());
    EXPECT_TRUE(image->HasAlpha());
  }
}

}  // namespace
}  // namespace grainforge::app
