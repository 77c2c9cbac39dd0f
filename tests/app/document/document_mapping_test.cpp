#include "tests/app/document/document_fixture.h"

#include <gtest/gtest.h>

namespace grainforge::test {
namespace {

// The cube spans 20 mm on every axis; give it a 40 mm z so the exchanged sizes can be told apart.
TEST(DocumentMappingTest, PlaneFitTurnsTowardsItsAxis)
{
    const struct {
        int axis;
        mesh::Vec3 rotation;
        bool xzExchanged;
    } cases[] = {{0, {0, 90, 0}, true}, {1, {-90, 0, 0}, false}, {2, {0, 0, 0}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.axis);
        DocumentFixture f;
        app::CGrainforgeDoc& doc = f.WithCube();
        for (mesh::MeshVertex& v : doc.loadedPart.vertices)
            v.position.z *= 2.0f;
        doc.loadedPart.ComputeBounds();
        doc.RebuildWorkingPart();
        doc.projection.type = mesh::ProjectionKind::Plane;
        doc.projection.planeAxis = c.axis;
        doc.FitMappingToModel();
        const mesh::CageFrame& cage = doc.projection.cage;
        EXPECT_EQ(cage.rotationDegrees, c.rotation);
        if (c.xzExchanged) {
            EXPECT_GT(cage.size.x, 40.0f);  // the box's z
            EXPECT_LT(cage.size.z, 40.0f);
        } else if (c.axis == 1) {
            EXPECT_GT(cage.size.y, 40.0f);
        } else {
            EXPECT_GT(cage.size.z, 40.0f);
        }
    }
}

// Mapping > Fit to Model says so when the cage already fits (just loaded, a second fit), and
// otherwise fits the cage and brings the preview up to date without that message.
TEST(DocumentMappingTest, FitToModelSaysWhenTheCageAlreadyFits)
{
    const std::pair<std::wstring, int> fits{L"The cage already fits the part, so Fit to Model changed nothing.", 0};
    for (const float moved : {0.0f, 5.0f, 1e-4f}) {
        DocumentFixture f;
        app::CGrainforgeDoc& doc = f.WithCube();
        const float fitted = doc.projection.cage.center.x;
        doc.projection.cage.center.x += moved;
        f.host.information.clear();
        const std::size_t hints = f.host.hints.size();
        EXPECT_EQ(doc.OnMappingFitToModel(), moved != 0.0f) << moved;
        EXPECT_EQ(doc.projection.cage.center.x, fitted);
        EXPECT_EQ(f.host.information.empty(), moved != 0.0f) << moved;
        EXPECT_EQ(f.host.hints.size() > hints, moved != 0.0f) << "the preview follows only a change";
        EXPECT_FALSE(doc.OnMappingFitToModel());
        EXPECT_EQ(f.host.information.back(), fits);
    }
}

// Zooming a side to 30 times its start stops at 20, to a hundredth at 0.05; with all sides
// being placed, the cylinder moves only its switched-on wall and caps.
TEST(DocumentMappingTest, SideDragsClampZoomAndFollowTheKind)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    const struct {
        float factor;
        float zoom;
    } zooms[] = {{30.0f, 20.0f}, {0.01f, 0.05f}, {2.0f, 2.0f}};
    for (const auto& z : zooms) {
        std::copy(std::begin(doc.projection.layers), std::end(doc.projection.layers), doc.dragBaseLayers);
        for (mesh::ProjectionLayer& l : doc.dragBaseLayers)
            l.zoom = 1.0f;
        mesh::ProjectionLayer dragged = doc.dragBaseLayers[0];
        dragged.zoom = z.factor;
        doc.SetSidePlacement(0, dragged);
        EXPECT_EQ(doc.projection.layers[0].zoom, z.zoom) << z.factor;
    }

    doc.projection.type = mesh::ProjectionKind::Cylinder;
    doc.projection.cylinderSideEnabled = 1;
    doc.projection.cylinderTopCapEnabled = 1;
    doc.projection.cylinderBottomCapEnabled = 0;
    doc.projection.activeLayer = -1;
    for (mesh::ProjectionLayer& l : doc.dragBaseLayers)
        l = mesh::ProjectionLayer{};
    std::copy(std::begin(doc.dragBaseLayers), std::end(doc.dragBaseLayers), doc.projection.layers);
    mesh::ProjectionLayer moved;
    moved.originMillimetres[0] = 3.0f;
    doc.SetSidePlacement(0, moved);
    for (int side = 0; side < 6; ++side)
        EXPECT_EQ(doc.projection.layers[side].originMillimetres[0], side == 0 || side == 4 ? 3.0f : 0.0f) << side;
}

TEST(DocumentMappingTest, DuplicateAndDeleteKeepTheSelection)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    mesh::MaskVolume box;
    box.size = {10.0f, 2.0f, 2.0f};
    box.center = {1.0f, 0.0f, 0.0f};
    box.name = "slot";
    doc.maskVolumes.push_back(box);
    doc.UpdatePreview();

    EXPECT_EQ(doc.DuplicateMaskVolume(0), 1);
    EXPECT_EQ(doc.DuplicateMaskVolume(5), -1);
    ASSERT_EQ(doc.maskVolumes.size(), 2u);
    EXPECT_EQ(doc.maskVolumes[1].name, "slot copy");
    EXPECT_EQ(doc.maskVolumes[1].center.x, 12.0f);
    EXPECT_EQ(doc.selectedMask, 1);

    doc.DeleteMaskVolume(1);  // the selected last one: the one before it is selected
    EXPECT_EQ(doc.selectedMask, 0);
    doc.DeleteMaskVolume(0);
    EXPECT_EQ(doc.selectedMask, -1);
    EXPECT_TRUE(doc.maskVolumes.empty());
}

// Setting what every side already has is no change: no refresh, no undo step.
TEST(DocumentMappingTest, UnchangedEditsRefreshNothing)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    doc.maskVolumes.push_back(mesh::MaskVolume{});
    doc.UpdatePreview();
    f.host.hints.clear();
    const std::size_t steps = doc.undoStack.size();
    doc.SetSurfacesMode(2);  // Both: the default of every side
    doc.UpdateMaskVolume(0, doc.maskVolumes[0]);
    doc.UpdateMaskVolume(3, mesh::MaskVolume{});
    EXPECT_TRUE(f.host.hints.empty());
    EXPECT_EQ(doc.undoStack.size(), steps);
    doc.SetSurfacesMode(0);
    EXPECT_EQ(f.host.hints.size(), 1u);
    EXPECT_EQ(doc.undoStack.size(), steps + 1);
}

}  // namespace
}  // namespace grainforge::test
