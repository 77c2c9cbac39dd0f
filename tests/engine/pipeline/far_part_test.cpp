// Clean parts a million millimetres out, where a float step is 0.0625 mm, through every road
// that welds or collapses by a tolerance taken from the part: each comes back whole and
// outward, as at the origin.
#include "engine/displacement/cage_gizmo.h"
#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/repair/repair_driver.h"
#include "engine/repair/repair_job.h"
#include "engine/mesh/test_shapes.h"
#include "engine/repair/tidying.h"
#include "engine/mesh/welding.h"
#include "engine/pipeline/pipeline_stages.h"
#include "engine/textures/procedural_registry.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <limits>
#include <memory>

namespace grainforge::mesh {
namespace {

// Outward with nothing to reverse, and every triangle there.
void ExpectWholeAndOutward(const TriangleMesh& mesh, std::size_t triangles, const char* road)
{
    const ValidationReport check = ValidateMesh(mesh, ValidationOptions{});
    EXPECT_EQ(check.verdict, Verdict::Good) << road << "\n" << FormatValidationReport(check);
    EXPECT_TRUE(check.reversedTriangles.empty()) << road;
    EXPECT_GT(mesh.Volume(), 0.0f) << road;
    EXPECT_EQ(mesh.TriangleCount(), triangles) << road;
}

TEST(FarPart, RepairSaveCheckAndCleanupKeepEveryTriangleOutward)
{
    // A 2 mm block whose top is a grid at two float steps of 1e6 mm, in relief of one float step.
    TriangleMesh block = test::MakeGridTopBox(16, 2.0f);
    for (std::size_t v = 0; v + 4 < block.vertices.size(); ++v)
        block.vertices[v].position.z += 0.0625f * static_cast<float>((v * 7) % 3);
    const TriangleMesh shapes[] = {test::MakeBumpySphere(10.0f, 0.0f, 24, 48), MakeTestCylinder(10.0f, 20.0f), block};
    for (const TriangleMesh& shape : shapes) {
        for (const Vec3 offset : {Vec3{0, 0, 0}, Vec3{1e6f, 1e6f, 0}}) {
            SCOPED_TRACE(std::to_string(shape.TriangleCount()) + " triangles at " + std::to_string(offset.x));
            const TriangleMesh part = test::Translated(shape, offset);
            const std::size_t triangles = part.TriangleCount();
            ExpectWholeAndOutward(part, triangles, "as given");

            TriangleMesh repaired = part;
            EXPECT_FALSE(RepairForPrint(repaired, {}).repaired);
            ExpectWholeAndOutward(repaired, triangles, "Repair");

            // The Save STL check's round: cleanup, fixes, the slicer's read-back.
            TriangleMesh saved = part;
            EXPECT_EQ(FormatExportCleanupReport(CleanupForExport(saved, kAutomaticWeldTolerance, {})),
                "nothing to clean up");
            static_cast<void>(RepairMesh(saved, RepairOptions{}, {}, 1));
            ASSERT_TRUE(ReadBackAsSlicer(saved).ok);
            ExpectWholeAndOutward(saved, triangles, "Save STL check");

            PipelineStages stages;
            stages.InstallSource(part);
            stages.InvalidateStages(PipelineSettings{});
            ASSERT_TRUE(stages.Run({}));
            ExpectWholeAndOutward(stages.result, triangles, "pipeline cleanup");
        }
    }
}

// How far the farthest vertex of `to` lies from every vertex of `from`.
float FarthestMove(const TriangleMesh& from, const TriangleMesh& to)
{
    float farthest = 0.0f;
    for (const MeshVertex& v : to.vertices) {
        float nearest = std::numeric_limits<float>::infinity();
        for (const MeshVertex& u : from.vertices)
            nearest = std::min(nearest, Length(v.position - u.position));
        farthest = std::max(farthest, nearest);
    }
    return farthest;
}

// A piece far away never sets the tolerance of the others: two closed bodies 1e6 and 1e5 mm
// apart, and two boxes sharing an edge (whose copies Repair moves apart by a step taken from
// the tolerance) beside a small cube far out, come through every road that welds or collapses
// with every triangle, and Repair and the Save STL check leave them sound.
TEST(FarPart, AFarPieceLeavesTheOthersWholeOnEveryRoad)
{
    const TriangleMesh farCube = test::Translated(MakeTestCube(5.0f), {1e6f, 1e6f, 0.0f});
    const struct {
        const char* name;
        TriangleMesh part;
    } cases[] = {
        {"sphere and a 5 mm cube 1e6 mm out", test::MakeSphereAndFarCube({1e6f, 1e6f, 0.0f})},
        {"sphere and a 5 mm cube 1e5 mm out", test::MakeSphereAndFarCube({1e5f, 1e5f, 0.0f})},
        {"boxes sharing an edge and a 5 mm cube 1e6 mm out",
            test::Combined(test::MakeWeldedCubePair({10.0f, 10.0f, 0.0f}), farCube)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t triangles = c.part.TriangleCount();
        const bool sound = ValidateMesh(c.part, ValidationOptions{}).verdict == Verdict::Good;

        TriangleMesh repaired = c.part;
        static_cast<void>(RepairForPrint(repaired, {}));
        ExpectWholeAndOutward(repaired, triangles, "Repair");
        // Copies split apart move by a few micrometres at most.
        EXPECT_LE(FarthestMove(c.part, repaired), 0.01f);

        TriangleMesh saved = c.part;
        const ExportCleanupReport cleanup = CleanupForExport(saved, kAutomaticWeldTolerance, {});
        EXPECT_EQ(cleanup.verticesMerged, 0u) << FormatExportCleanupReport(cleanup);
        static_cast<void>(RepairMesh(saved, RepairOptions{}, {}, CountBodies(c.part)));
        ASSERT_TRUE(ReadBackAsSlicer(saved).ok);
        ExpectWholeAndOutward(saved, triangles, "Save STL check");
        EXPECT_LE(FarthestMove(c.part, saved), 0.01f);

        TriangleMesh tidied = c.part;
        EXPECT_EQ(TidyMesh(tidied, TidyOptions{}).verticesMerged, 0u);
        EXPECT_EQ(tidied.TriangleCount(), triangles);

        PipelineStages stages;
        stages.InstallSource(c.part);
        stages.InvalidateStages(PipelineSettings{});
        ASSERT_TRUE(stages.Run({}));
        EXPECT_EQ(stages.result.TriangleCount(), triangles);
        if (sound)
            ExpectWholeAndOutward(stages.result, triangles, "pipeline cleanup");
    }
}

// The solid relief on a cube at the origin and 1,000 mm out, its cage fitted round it as the
// document fits it: the contour keeps its vertices off the cell faces by the float steps where
// each cell lies, so the far cube comes out as the near one (before, the margin followed the
// largest coordinate of the grid, and the far cube kept more triangles after simplify).
TEST(FarPart, ASolidReliefComesOutAlikeNearTheOriginAndAMetreOut)
{
    const std::unique_ptr<procedural::ProceduralTexture> noise = procedural::CreateProceduralTexture("Noise");
    std::uint64_t counts[2] = {0, 0};
    for (int far = 0; far < 2; ++far) {
        const TriangleMesh cube = test::Translated(MakeTestCube(20.0f), {1000.0f * far + 10.0f, 1000.0f * far + 10.0f, 10.0f});
        PipelineSettings settings;
        settings.remeshOn = 1;
        settings.remesh.targetEdgeMillimetres = 0.4f;
        settings.displacementOn = 1;
        settings.displacement.strengthMillimetres = 1.0f;
        settings.displacement.base.enabled = true;
        settings.simplifyOn = 1;
        settings.projection.cage =
            FitCageToBounds(settings.projection.type, {cube.boundsMin, cube.boundsMax, 1}, 0.02f).cage;
        PipelineStages stages;
        stages.InstallSource(cube);
        stages.heightMap.SetImage(64, 64, noise->RenderImage(64, 64));
        stages.InvalidateStages(settings);
        ASSERT_TRUE(stages.Run({})) << stages.report.message;
        counts[far] = stages.result.TriangleCount();
        EXPECT_GT(stages.result.Volume(), 0.0f);
    }
    std::cout << "solid relief: " << counts[0] << " triangles at the origin, " << counts[1] << " a metre out\n";
    EXPECT_LE(std::max(counts[0], counts[1]) - std::min(counts[0], counts[1]), counts[0] / 100)
        << counts[0] << " triangles at the origin, " << counts[1] << " a metre out";
}

// A small piece far from the rest of its part takes a solid relief at the cell its own float steps
// need, while the part keeps the size asked: nothing is refused or coarsened, and the far piece
// carries relief (a plain 1 mm cube has 12 triangles).
TEST(FarPart, APieceFarOutTakesItsReliefAtItsOwnScale)
{
    const std::unique_ptr<procedural::ProceduralTexture> noise = procedural::CreateProceduralTexture("Noise");
    const struct {
        const char* name;
        Vec3 at;
    } cases[] = {{"1 km out", {1.0e6f, 0.0f, 0.0f}}, {"700 m out on two axes", {707110.0f, 707110.0f, 0.0f}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TriangleMesh part =
            test::Combined(test::Translated(MakeTestCube(20.0f), {10.0f, 10.0f, 10.0f}), test::Translated(MakeTestCube(1.0f), c.at));
        PipelineSettings settings;
        settings.remeshOn = 1;
        settings.remesh.targetEdgeMillimetres = 0.3f;
        settings.displacementOn = 1;
        settings.displacement.strengthMillimetres = 0.3f;
        settings.simplifyOn = 0;
        settings.projection.cage =
            FitCageToBounds(settings.projection.type, {part.boundsMin, part.boundsMax, 1}, 0.02f).cage;
        PipelineStages stages;
        stages.InstallSource(part);
        stages.heightMap.SetImage(64, 64, noise->RenderImage(64, 64));
        stages.InvalidateStages(settings);
        ASSERT_TRUE(stages.Run({})) << stages.report.message;
        const ValidationReport check = ValidateMesh(stages.result, ValidationOptions{});
        EXPECT_EQ(check.verdict, Verdict::Good) << FormatValidationReport(check);
        EXPECT_EQ(CountBodies(stages.result), 2u);
        std::size_t farTriangles = 0;
        for (std::size_t t = 0; t < stages.result.TriangleCount(); ++t)
            farTriangles += stages.result.vertices[stages.result.indices[3 * t]].position.x > 1000.0f ? 1 : 0;
        EXPECT_GT(farTriangles, 12u);
        // The near cube keeps the size asked: its faces hold far more than at the far cube's cell.
        EXPECT_GT(stages.result.TriangleCount() - farTriangles, 20000u);
    }
}

}  // namespace
}  // namespace grainforge::mesh
