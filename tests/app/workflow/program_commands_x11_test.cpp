// Every menu item and toolbar button of the main window, and the commands the workflow bodies
// and the mask panel send, walked through the program's command routing (view, document,
// frame, application): each has a handler, and its enabled and checked state is as it should
// be with no part and with a test cube.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <set>

#include "app/document/grainforge_doc.h"
#include "app/shell/application_core.h"
#include "app/shell/command_router.h"
#include "app/shell/main_frame.h"
#include "app/shell/main_menu.h"
#include "app/shell/main_toolbar.h"
#include "app/shell/menu_ids.h"
#include "app/shell/scripted_prompter.h"
#include "app/view/grainforge_view.h"
#include "app/view/view_command_rules.h"
#include "app/workflow/workflow_pane.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wx/wx_test_pump.h"

#include <wx/menu.h>
#include <wx/statusbr.h>

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;

struct Row {
    int id;
    bool enabledEmpty;
    bool checkedEmpty;
    bool enabledPart;
    bool checkedPart;
};

// E enabled, C checked; the first pair without a part, the second with a test cube (no
// texture, never processed, nothing validated as faulty, no mask volume).
constexpr bool E = true;
constexpr bool C = true;
constexpr bool _ = false;

constexpr Row kRows[] = {
    // File
    {57600, E, _, E, _}, {57601, E, _, E, _}, {32885, E, _, E, _}, {32853, E, _, E, _},
    {32910, E, _, E, _}, {32911, E, _, E, _}, {32886, _, _, E, _}, {32912, _, _, E, _},
    {57603, _, _, E, _}, {32781, _, _, E, _}, {57665, E, _, E, _},
    // Edit: a new part starts a new history
    {57643, _, _, _, _}, {57644, _, _, _, _},
    // View: shading (flat by default), surfaces (plain, then the checkerboard preview)
    {32782, E, _, E, _}, {32783, E, C, E, C}, {32784, E, _, E, _}, {32785, E, _, E, _},
    {32811, E, C, E, _}, {32812, E, _, E, C}, {32813, E, _, E, _}, {32820, _, _, _, _}, {32896, E, _, E, _},
    // View > Show
    {32786, _, _, E, _}, {32787, _, _, E, _}, {32792, _, _, _, _}, {32793, _, _, _, _},
    {32794, _, _, _, _}, {32795, _, _, E, _}, {32855, _, _, _, _},
    // Sections, clipping, camera
    {32856, _, _, E, _}, {32844, _, _, E, _}, {32788, E, _, E, _}, {32773, E, _, E, _},
    {32774, E, _, E, _}, {32775, E, _, E, _}, {32776, E, _, E, _}, {32777, E, _, E, _},
    {32778, E, _, E, _}, {32779, E, _, E, _}, {32780, E, _, E, _},
    {32789, _, C, E, C}, {59393, E, C, E, C}, {32915, E, _, E, _},
    // Mapping
    {32799, _, _, E, _}, {32807, _, _, E, _}, {32808, _, _, E, _}, {32809, _, _, E, _},
    {32814, _, _, E, _}, {32815, _, _, E, _}, {32900, E, _, E, _},
    // Masks
    {32901, _, _, E, _}, {32902, _, _, E, _}, {32903, _, _, E, _}, {32904, _, _, E, _},
    // Texture
    {32819, E, _, E, _}, {32893, E, _, E, _}, {32845, _, _, E, _}, {32846, _, _, E, _},
    {32847, _, _, E, _}, {32817, _, C, E, C}, {32810, _, _, E, _}, {32848, _, C, E, C},
    {32849, _, _, E, _}, {32882, _, _, _, _}, {32821, E, _, E, _},
    // Mesh: Process needs a texture; Windows' repair service is not on this system
    {32888, _, _, _, _}, {32836, _, _, _, _}, {32837, _, _, E, _}, {32790, _, _, E, _},
    {32854, _, _, E, _}, {32791, _, _, E, _}, {32913, _, _, _, _}, {32914, _, _, E, _},
    {32917, _, _, E, _}, {32889, E, _, E, _}, {32890, E, _, E, _},
    // Help
    {32916, E, _, E, _}, {57664, E, _, E, _},
    // Toolbar only: Export STL
    {57604, _, _, E, _},
    // Mapping section: kinds (a box), sides (a part's underside, on the bed, is left plain),
    // axis, surfaces (all)
    {32796, _, C, E, C}, {32797, _, _, E, _}, {32798, _, _, E, _}, {32887, _, _, E, _},
    {32801, _, C, E, C}, {32802, _, C, E, C}, {32803, _, C, E, C}, {32804, _, C, E, C},
    {32805, _, C, E, C}, {32806, _, C, E, _},
    {32850, _, _, _, _}, {32851, _, _, _, _}, {32852, _, _, _, _},
    {32919, _, C, E, C}, {32920, _, _, E, _}, {32921, _, _, E, _},
    // Mask panel: no volume to work on
    {32905, _, _, _, _}, {32906, _, _, _, _}, {32907, _, _, _, _}, {32908, _, _, _, _}, {32909, _, _, _, _},
    // Texture section: no height map (a texture repeats unless told not to)
    {32825, _, _, _, _}, {32894, _, C, _, C}, {32895, _, _, _, _},
    // Sections without a menu entry, and the relief section's gear
    {32840, _, C, E, C}, {32841, _, _, E, _}, {32842, _, _, E, _}, {32843, _, _, E, _}, {32832, E, _, E, _},
};

void CollectMenuIds(const std::vector<MainMenuEntry>& entries, std::set<int>& ids)
{
    for (const MainMenuEntry& entry : entries) {
        switch (entry.kind) {
        case MainMenuEntry::Kind::Submenu: CollectMenuIds(entry.children, ids); break;
        case MainMenuEntry::Kind::Command:
        case MainMenuEntry::Kind::Check: ids.insert(entry.commandId); break;
        // The recent files are the file history's own items; the separators are no commands.
        default: break;
        }
    }
}

std::set<int> MenuAndToolbarIds()
{
    std::set<int> ids;
    CollectMenuIds(MainMenuEntries(), ids);
    for (const ToolbarItem& item : BuildMainToolbarItems())
        if (item.kind == ToolbarItemKind::Button && item.commandId != 0)
            ids.insert(static_cast<int>(item.commandId));
    return ids;
}

TEST(ProgramCommands, EveryMenuItemAndToolbarButtonHasARow)
{
    std::set<int> rows;
    for (const Row& row : kRows)
        EXPECT_TRUE(rows.insert(row.id).second) << "two rows for " << row.id;
    for (const int id : MenuAndToolbarIds())
        EXPECT_EQ(rows.count(id), 1u) << "no row for " << id;
}

TEST(ProgramCommands, EachCommandIsHandledAndShowsItsStateWithoutAndWithAPart)
{
    grainforge::test::TempFolder folder;
    setenv("HOME", folder.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder.Path() / "config").c_str(), 1);
    ScriptedPrompter prompter;
    StartOptions options;
    options.showSplash = false;
    options.prompter = &prompter;
    options.workflowPane = [](wxWindow* parent, const WorkflowPaneContext& context) {
        CLeftPane* pane = CreateWorkflowPane(parent, context.document, context.profile);
        return WorkflowPane{pane, ReloadTexturesOf(pane, context.document)};
    };
    options.documentView = MakeGrainforgeView;
    CApplicationCore core;
    ASSERT_TRUE(core.Start(options));
    CMainFrame& frame = *core.Frame();
    frame.SetSize(40, 40, 1400, 900);
    auto* view = dynamic_cast<CGrainforgeView*>(frame.CentreView());
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return view->RendererReady(); }, 5000ms));
    CommandRouter& router = frame.Routing().Router();

    const auto check = [&](bool withPart) {
        for (const Row& row : kRows) {
            SCOPED_TRACE(std::to_string(row.id) + (withPart ? " with a part" : " without a part"));
            EXPECT_TRUE(router.HasHandler(row.id));
            const std::optional<CommandState> state = router.Query(row.id);
            ASSERT_TRUE(state);
            EXPECT_EQ(state->enabled, withPart ? row.enabledPart : row.enabledEmpty);
            EXPECT_EQ(state->checked, withPart ? row.checkedPart : row.checkedEmpty);
        }
    };
    check(false);
    ASSERT_EQ(router.Execute(menu_ids::kTestCube), CommandOutcome::Executed);
    ASSERT_TRUE(core.Document()->HasPart());
    PumpFor(50ms);
    check(true);
    // Under the plane Mapping > Sides is greyed, and the menu says why in the status bar as it
    // opens; None leaves the box's sides as they were.
    ASSERT_EQ(router.Execute(32797), CommandOutcome::Executed);
    wxMenu* sides = nullptr;
    ASSERT_NE(frame.GetMenuBar()->FindItem(frame.Routing().WindowId(32808), &sides), nullptr);
    wxMenuEvent open(wxEVT_MENU_OPEN, -1, sides);
    frame.ProcessWindowEvent(open);
    EXPECT_FALSE(sides->FindItem(frame.Routing().WindowId(32808))->IsEnabled());
    EXPECT_EQ(frame.GetStatusBar()->GetStatusText(0).ToStdWstring(), kPlaneHasNoSidesTip);
    const mesh::Projection before = core.Document()->projection;
    (void)router.Execute(32808);
    EXPECT_TRUE(std::equal(std::begin(before.boxSideEnabled), std::end(before.boxSideEnabled),
                           std::begin(core.Document()->projection.boxSideEnabled)));
    wxMenuEvent close(wxEVT_MENU_CLOSE, -1, sides);
    frame.ProcessWindowEvent(close);
    // The Texture section reads its library again.
    EXPECT_EQ(router.Execute(menu_ids::kReloadTextures), CommandOutcome::Executed);

    prompter.ExpectMessage(MessageAnswer::No);
    frame.Close();
    PumpUntil([&] { return core.Frame() == nullptr; }, 5000ms);
    PumpFor(50ms);
    core.Shutdown();
}

}  // namespace
}  // namespace grainforge::app
