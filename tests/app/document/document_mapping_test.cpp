#include "tests/app/document/document_fixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

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

// A 60 x 20 x 20 part: the cylinder's wall is fitted round the axis it runs along, so its radius
// is half the part's width across that axis (with the 2 % margin), and the cage still holds the
// part. A fit that rounded x and y whatever the axis gave the wall along x a 30.6 mm radius.
TEST(DocumentMappingTest, CylinderFitRoundsAcrossItsAxis)
{
    for (const auto& [axis, radius] : {std::pair{0, 10.2f}, std::pair{1, 30.6f}, std::pair{2, 30.6f}}) {
        SCOPED_TRACE(axis);
        DocumentFixture f;
        app::CGrainforgeDoc& doc = f.WithCube();
        for (mesh::MeshVertex& v : doc.loadedPart.vertices)
            v.position.x *= 3.0f;
        doc.loadedPart.ComputeBounds();
        doc.RebuildWorkingPart();
        doc.projection.type = mesh::ProjectionKind::Cylinder;
        doc.projection.cylinderAxis = axis;
        doc.FitMappingToModel();
        EXPECT_NEAR(mesh::CylinderRadius(doc.projection), radius, 1e-4f);
        const mesh::Vec3 size = doc.projection.cage.size;
        EXPECT_TRUE(size.x >= 60.0f && size.y >= 20.0f && size.z >= 20.0f);
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

// A volume dragged, added, or carried with the part held values the fields show to two decimals
// (10.005 showed as "10.01" while 10.005 was in force and saved), which a project's reader then
// changed. What the program writes is what the fields show; a value no field takes (a volume
// placed far out) and a value the edit left alone stay as they are.
TEST(DocumentMappingTest, MaskValuesWrittenAreWhatTheFieldsShow)
{
    const auto dragged = [](app::CGrainforgeDoc& doc, const mesh::MaskVolume& volume) {
        doc.UpdateMaskVolume(0, volume);
    };
    const auto added = [](app::CGrainforgeDoc& doc, const mesh::MaskVolume& volume) {
        ASSERT_GE(doc.AddMaskVolume(volume), 0);
    };
    const struct {
        const char* name;
        std::function<void(app::CGrainforgeDoc&, const mesh::MaskVolume&)> write;
        std::function<void(mesh::MaskVolume&)> change;
        std::function<float(const mesh::MaskVolume&)> read;
        float stored;
    } cases[] = {
        {"dragged to y 10.005", dragged, [](mesh::MaskVolume& v) { v.center.y = 10.005f; },
            [](const mesh::MaskVolume& v) { return v.center.y; }, 10.01f},
        {"turned by a drag", dragged, [](mesh::MaskVolume& v) { v.rotationDegrees.z = -33.3333f; },
            [](const mesh::MaskVolume& v) { return v.rotationDegrees.z; }, -33.33f},
        {"left alone by a drag", dragged, [](mesh::MaskVolume& v) { v.center.x = 1.5f; },
            [](const mesh::MaskVolume& v) { return v.size.y; }, 4.004f},
        {"dragged far past the fields", dragged, [](mesh::MaskVolume& v) { v.center.x = 123456.789f; },
            [](const mesh::MaskVolume& v) { return v.center.x; }, 123456.789f},
        {"added at a fitted size", added, [](mesh::MaskVolume& v) { v.size.z = 3.14159f; },
            [](const mesh::MaskVolume& v) { return v.size.z; }, 3.14f},
        {"added with a fine feather", added, [](mesh::MaskVolume& v) { v.featherMillimetres = 0.126f; },
            [](const mesh::MaskVolume& v) { return v.featherMillimetres; }, 0.13f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentFixture f;
        app::CGrainforgeDoc& doc = f.WithCube();
        mesh::MaskVolume volume;
        volume.size.y = 4.004f;  // as an earlier version may have kept it
        doc.maskVolumes.push_back(volume);
        c.change(volume);
        c.write(doc, volume);
        EXPECT_EQ(c.read(doc.maskVolumes.back()), c.stored);
    }
}

}  // namespace
}  // namespace grainforge::test
