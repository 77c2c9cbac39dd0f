#include "app/document/document_commands.h"
#include "tests/app/document/document_fixture.h"

#include "engine/displacement/projection.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace grainforge::test {
namespace {

mesh::MaskVolume BoxMask(float x, float width, const char* name)
{
    mesh::MaskVolume mask;
    mask.center = {x, 0.0f, 10.0f};
    mask.size = {width, 4.0f, 4.0f};
    mask.name = name;
    return mask;
}

TEST(DocumentStateTest, NewKeepsNothing)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    f.GiveTexture();
    doc.displacementSettings.holdThinWalls = false;
    doc.displacementSettings.midLevelMode = mesh::MidLevelMode::manual;
    doc.remeshSettings.targetEdgeMillimetres = 3.0f;
    doc.simplifyOn = false;
    doc.maskVolumes.push_back(BoxMask(0, 2, "m"));
    doc.projection.boxBlended = 1;
    doc.UpdatePreview();
    ASSERT_FALSE(doc.undoStack.empty());

    doc.OnNewDocument();
    EXPECT_FALSE(doc.HasPart());
    EXPECT_TRUE(doc.displacementSettings.holdThinWalls);
    EXPECT_EQ(doc.displacementSettings.midLevelMode, mesh::MidLevelMode::automatic);
    EXPECT_FALSE(doc.displacementSettings.base.enabled);
    EXPECT_EQ(doc.remeshSettings.targetEdgeMillimetres, 0.2f);
    EXPECT_TRUE(doc.remeshOn && doc.displacementOn && doc.simplifyOn);
    EXPECT_TRUE(doc.maskVolumes.empty());
    EXPECT_EQ(doc.selectedMask, -1);
    EXPECT_TRUE(mesh::ProjectionEquals(doc.projection, mesh::InitProjection()));
    EXPECT_FALSE(doc.IsHeightMapLoaded());
    EXPECT_EQ(doc.proceduralTexture, nullptr);
    EXPECT_TRUE(doc.undoStack.empty());
    EXPECT_TRUE(doc.redoStack.empty());
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), L"Untitled");
}

TEST(DocumentStateTest, DeleteContentsKeepsSettingsAndTexture)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    f.GiveTexture();
    doc.remeshSettings.targetEdgeMillimetres = 0.7f;
    doc.displacementOn = false;
    doc.projection.boxBlended = 1;
    doc.projection.boxBlendSharpness = 9.0f;
    doc.projection.type = mesh::ProjectionKind::Cylinder;
    doc.maskVolumes.push_back(BoxMask(0, 2, "m"));
    doc.selectedMask = 0;

    doc.DeleteContents();
    EXPECT_FALSE(doc.HasPart());
    EXPECT_EQ(doc.remeshSettings.targetEdgeMillimetres, 0.7f);
    EXPECT_FALSE(doc.displacementOn);
    EXPECT_TRUE(doc.IsHeightMapLoaded());
    EXPECT_EQ(doc.projection.boxBlended, 1);
    EXPECT_EQ(doc.projection.boxBlendSharpness, 9.0f);
    EXPECT_EQ(doc.projection.type, mesh::ProjectionKind::Box);
    EXPECT_TRUE(doc.maskVolumes.empty());
    EXPECT_EQ(doc.selectedMask, -1);
    EXPECT_TRUE(doc.testShapeName.empty());
    EXPECT_EQ(doc.displayMesh, nullptr);
}

// The table the window layer routes: every id once, and the update rules follow the state.
TEST(DocumentStateTest, CommandTableFollowsTheState)
{
    DocumentFixture f;
    app::CommandTable table = f.doc->Commands();
    std::vector<int> ids;
    for (const app::CommandEntry& e : table)
        ids.push_back(e.id);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    const auto state = [&table](int id) {
        app::CommandState s;
        for (const app::CommandEntry& e : table)
            if (e.id == id && e.update)
                e.update(s);
        return s;
    };
    const auto run = [&table](int id) {
        for (const app::CommandEntry& e : table)
            if (e.id == id)
                e.execute();
    };
    EXPECT_FALSE(state(app::kCmdSaveStl).enabled);
    EXPECT_FALSE(state(app::kCmdUndo).enabled);
    EXPECT_TRUE(state(app::kCmdSurfaceGrid256).checked);
    EXPECT_FALSE(state(app::kCmdSurfaceGrid128).checked);

    f.doc->surfaceTestCells = 32;
    run(app::kCmdTestShapeCylinder);
    EXPECT_EQ(f.doc->testShapeName, "cylinder");
    EXPECT_TRUE(state(app::kCmdSaveStl).enabled);
    EXPECT_FALSE(state(app::kCmdProcess).enabled);  // no texture yet
    f.GiveTexture();
    EXPECT_TRUE(state(app::kCmdProcess).enabled);
    run(app::kCmdSurfaceGrid128);
    EXPECT_TRUE(state(app::kCmdSurfaceGrid128).checked);
}

}  // namespace
}  // namespace grainforge::test
