#include "app/view/view_command_rules.h"

#include "app/view/renderer/camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <tuple>

namespace grainforge::app {
namespace {

TEST(ViewCommandRules, SectionCommandsToggleBackToTheNormalView)
{
    struct Row {
        std::uint32_t current;
        int command;
        std::uint32_t next;
    };
    const Row rows[] = {
        {0, kCmdSectionSliced, 4}, {4, kCmdSectionSliced, 0},  // sliced twice: the normal view again
        {2, kCmdSectionSliced, 4}, {4, kCmdSectionLoaded, 1},  {1, kCmdSectionLoaded, 0},
        {3, kCmdSectionSplit, 2},  {3, kCmdSectionDeviation, 0}, {4, kCmdSectionOff, 0},
        {0, kCmdSectionOff, 0},    {3, 32817, 3},              // not a section command: kept
    };
    for (const Row& row : rows)
        EXPECT_EQ(NextSectionMode(row.current, row.command), row.next) << row.current << " " << row.command;
    EXPECT_EQ(ShadingModeShown(2, 4), 0);  // drawn smooth while sliced
    EXPECT_EQ(ShadingModeShown(2, 3), 2);
}

TEST(ViewCommandRules, CameraPresetTable)
{
    struct Row {
        int command;
        float yaw;
        float pitch;
        bool faceView;
    };
    const Row rows[] = {
        {32774, -135.0f, 45.0f, false}, {32775, -90.0f, 0.0f, true},  {32776, 90.0f, 0.0f, true},
        {32777, 180.0f, 0.0f, true},    {32778, 0.0f, 0.0f, true},    {32779, -90.0f, 89.5f, true},
        {32780, -90.0f, -89.5f, true},
    };
    for (const Row& row : rows) {
        const std::optional<CameraPreset> preset = CameraPresetOfCommand(row.command);
        ASSERT_TRUE(preset) << row.command;
        EXPECT_EQ(preset->yaw, row.yaw) << row.command;
        EXPECT_EQ(preset->pitch, row.pitch) << row.command;
        EXPECT_EQ(preset->faceView, row.faceView) << row.command;
    }
    EXPECT_FALSE(CameraPresetOfCommand(32773));
    EXPECT_FALSE(CameraPresetOfCommand(32781));
    // radius / sin(pi / 8) x 1.15: about 3.005 radii; a view half as wide as tall moves back.
    EXPECT_NEAR(gl::FitCameraDistance(10.0f, 1000, 1000, 1.0f), 30.0507f, 1e-3f);
    EXPECT_NEAR(gl::FitCameraDistance(10.0f, 1600, 1000, 1.0f), 30.0507f, 1e-3f);
    EXPECT_GT(gl::FitCameraDistance(10.0f, 500, 1000, 1.0f), 50.0f);
    // With no cube drawn (a narrow view) the part is not drawn smaller to pass one.
    EXPECT_NEAR(gl::FitCameraDistance(10.0f, 100, 400, 0.0f), gl::FitCameraDistance(10.0f, 0.25f), 1e-4f);
    EXPECT_NEAR(gl::FitClearOfViewCube(10.0f, 100, 400, 0.0f).lift, 0.0f, 0.0f);
}

TEST(ViewCommandRules, ASurfaceChoiceForTheResultSurvivesTheNextSynchronisation)
{
    const TriangleMesh result;
    SurfaceModeMemory memory;
    RememberSurfaceChoice(memory, 2, false, true, &result);
    EXPECT_TRUE(memory.resultChoiceSet);
    EXPECT_FALSE(memory.previewChoiceSet);
    // The refresh after the command finds nothing to change and keeps the choice.
    EXPECT_FALSE(NextSurfaceMode(memory, false, &result, true));
    EXPECT_TRUE(memory.resultChoiceSet);
    // The preview comes and goes: back on the result the choice returns.
    EXPECT_EQ(NextSurfaceMode(memory, true, nullptr, true), std::optional<std::uint32_t>(3u));
    EXPECT_EQ(NextSurfaceMode(memory, false, &result, true), std::optional<std::uint32_t>(2u));

    struct Row {
        std::uint32_t mode;
        bool toolActive;
        bool resultCurrent;
        bool forResult;
    };
    const Row rows[] = {
        {1, false, true, true}, {4, false, true, false},  // outer/inner is always a preview choice
        {1, true, true, false}, {1, false, false, false},
    };
    for (const Row& row : rows) {
        SurfaceModeMemory fresh;
        RememberSurfaceChoice(fresh, row.mode, row.toolActive, row.resultCurrent, &result);
        EXPECT_EQ(fresh.resultChoiceSet, row.forResult) << row.mode;
        EXPECT_EQ(fresh.previewChoiceSet, !row.forResult) << row.mode;
    }
}

// The Surfaces buttons say what applies: the plane takes every face turned towards it, so with
// it they are disabled, unticked and say why, whatever the setting stored.
TEST(ViewCommandRules, SurfacesButtonsShowWhatTheProjectionHonours)
{
    mesh::Projection inner;
    std::fill(std::begin(inner.boxSideSurface), std::end(inner.boxSideSurface), mesh::SurfaceSide::Inside);
    inner.cylinderSurface = mesh::SurfaceSide::Inside;
    mesh::Projection plane = inner;
    plane.type = mesh::ProjectionKind::Plane;
    const std::tuple<mesh::Projection, bool, bool, bool, std::wstring> rows[] = {
        // projection, part, enabled, "Inner Surfaces Only" ticked, tooltip
        {inner, true, true, true, L""}, {inner, false, false, true, L""},
        {plane, true, false, false, kPlaneTakesEverySurfaceTip}};
    for (const auto& [projection, hasPart, enabled, innerTicked, tooltip] : rows) {
        for (const int mode : {0, 1, 2}) {
            const CommandState state = SurfacesCommandState(projection, hasPart, mode);
            EXPECT_EQ(std::tuple(state.enabled, state.checked, state.radio, state.tooltip),
                std::tuple(enabled, innerTicked && mode == 1, true, tooltip));
        }
    }
}

// Only the box and the sphere have sides: under the plane or the cylinder every Sides item is
// greyed and says why, and running one (None, Invert, a side) leaves the box's switches as they
// were, so that choosing the box later does not find them all off.
TEST(ViewCommandRules, SidesItemsWorkOnlyWhereTheProjectionHasSides)
{
    const std::tuple<mesh::ProjectionKind, bool, std::wstring, bool> rows[] = {
        // kind, enabled, tooltip, None switches every side off
        {mesh::ProjectionKind::Box, true, L"", true},
        {mesh::ProjectionKind::Sphere, true, L"", true},
        {mesh::ProjectionKind::Plane, false, kPlaneHasNoSidesTip, false},
        {mesh::ProjectionKind::Cylinder, false, kCylinderHasNoSidesTip, false}};
    for (const auto& [kind, enabled, tooltip, noneActs] : rows) {
        mesh::Projection projection;
        projection.type = kind;
        std::fill(std::begin(projection.boxSideEnabled), std::end(projection.boxSideEnabled), 1);
        for (int id = 32801; id <= 32809; ++id) {
            const CommandState state = SidesCommandState(projection, true, BoxSideOfCommand(id));
            EXPECT_EQ(std::tuple(state.enabled, state.checked, state.tooltip),
                std::tuple(enabled, enabled && id <= 32806, tooltip)) << id;
        }
        EXPECT_EQ(ApplySidesCommand(projection, 32808), noneActs);
        EXPECT_EQ(mesh::AnyProjectorOn(projection), !noneActs);
        EXPECT_EQ(ApplySidesCommand(projection, 32809), noneActs);  // Invert: all back on
        EXPECT_EQ(ApplySidesCommand(projection, 32801), noneActs);
        EXPECT_EQ(projection.boxSideEnabled[0] == 0, noneActs);
        EXPECT_EQ(projection.boxSideEnabled[1], 1);
    }
    EXPECT_FALSE(SidesCommandState(mesh::Projection{}, false, 0).enabled);  // no part
}

TEST(ViewCommandRules, AMaskVolumeIsFittedToThePartAndNamedFreshly)
{
    std::vector<mesh::MaskVolume> existing;
    const mesh::MaskVolume box =
        FittedMaskVolume(mesh::MaskShape::Box, {-10.0f, 0.0f, 0.0f}, {30.0f, 20.0f, 10.0f}, existing);
    EXPECT_EQ(box.name, "Box 1");
    EXPECT_FLOAT_EQ(box.center.x, 10.0f);
    EXPECT_FLOAT_EQ(box.center.y, 10.0f);
    EXPECT_FLOAT_EQ(box.size.x, 16.0f);
    EXPECT_FLOAT_EQ(box.size.y, 8.0f);
    EXPECT_FLOAT_EQ(box.size.z, 4.0f);

    existing.push_back(box);
    existing.back().name = "Cylinder 1";
    const mesh::MaskVolume cylinder =
        FittedMaskVolume(mesh::MaskShape::Cylinder, {-10.0f, 0.0f, 0.0f}, {30.0f, 20.0f, 10.0f}, existing);
    EXPECT_EQ(cylinder.name, "Cylinder 2");
    EXPECT_FLOAT_EQ(cylinder.size.x, 8.0f);  // round across
    EXPECT_FLOAT_EQ(cylinder.size.y, 8.0f);
    EXPECT_FLOAT_EQ(cylinder.size.z, 4.0f);
    const mesh::MaskVolume sphere =
        FittedMaskVolume(mesh::MaskShape::Sphere, {-10.0f, 0.0f, 0.0f}, {30.0f, 20.0f, 10.0f}, existing);
    EXPECT_FLOAT_EQ(sphere.size.x, 4.0f);
    EXPECT_FLOAT_EQ(sphere.size.z, 4.0f);

    // A flat or broken box still gives a small solid at a finite place.
    const float nan = std::nanf("");
    const mesh::MaskVolume flat =
        FittedMaskVolume(mesh::MaskShape::Box, {0.0f, 0.0f, nan}, {10.0f, 10.0f, nan}, existing);
    EXPECT_EQ(flat.size.z, mesh::kMinimumMaskSize);
    EXPECT_EQ(flat.center.z, 0.0f);
    EXPECT_EQ(MaskShapeOfCommand(32903), mesh::MaskShape::Sphere);
    EXPECT_FALSE(MaskShapeOfCommand(32904));
}

}  // namespace
}  // namespace grainforge::app
