// Clean parts a million millimetres out, where a float step is 0.0625 mm, through every road
// that welds or collapses by a tolerance taken from the part (Repair, the Save STL check's
// rounds, the pipeline's cleanup): each must come back whole and outward, as it does at the
// origin.
#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/repair_driver.h"
#include "engine/mesh/repair_job.h"
#include "engine/mesh/test_shapes.h"
#include "engine/mesh/welding.h"
#include "engine/pipeline/pipeline_stages.h"

#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

namespace grainforge::mesh {
namespace {

// Signed volume about the first vertex, in long double: the test's own measure, independent of
// the code's.
long double VolumeAboutAVertex(const TriangleMesh& mesh)
{
    const Vec3 r = mesh.vertices.at(0).position;
    long double sum = 0.0L;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        long double p[3][3];
        for (int k = 0; k < 3; ++k) {
            const Vec3 v = mesh.vertices[mesh.indices[3 * t + k]].position;
            p[k][0] = static_cast<long double>(v.x) - r.x;
            p[k][1] = static_cast<long double>(v.y) - r.y;
            p[k][2] = static_cast<long double>(v.z) - r.z;
        }
        sum += p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1]) - p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0])
            + p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]);
    }
    return sum / 6.0L;
}

// A 2 mm block whose top is a grid at 0.125 mm (two float steps at 1e6 mm) with a relief of
// one and two float steps of 1e6: detail a weld of a few float steps there would erase.
TriangleMesh DetailedBlock()
{
    TriangleMesh block = test::MakeGridTopBox(16, 2.0f);
    for (std::size_t v = 0; v + 4 < block.vertices.size(); ++v)
        block.vertices[v].position.z += 0.0625f * static_cast<float>((v * 7) % 3);
    block.ComputeBounds();
    return block;
}

TriangleMesh Sphere() { return test::MakeBumpySphere(10.0f, 0.0f, 24, 48); }
TriangleMesh Cylinder() { return MakeTestCylinder(10.0f, 20.0f); }

TEST(FarPart, RepairSaveCheckAndCleanupKeepEveryTriangleOutward)
{
    const Vec3 far{1.0e6f, 1.0e6f, 0.0f};
    const struct {
        const char* name;
        std::function<TriangleMesh()> make;
        Vec3 offset;
    } rows[] = {
        {"sphere at the origin", Sphere, {}},
        {"sphere at 1e6 mm", Sphere, far},
        {"cylinder at the origin", Cylinder, {}},
        {"cylinder at 1e6 mm", Cylinder, far},
        {"detailed block at the origin", DetailedBlock, {}},
        {"detailed block at 1e6 mm", DetailedBlock, far},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TriangleMesh part = test::Translated(row.make(), row.offset);
        part.ComputeVertexNormals();
        const std::size_t triangles = part.TriangleCount();
        // The part is clean as it stands where it is.
        const ValidationReport clean = ValidateMesh(part, ValidationOptions{});
        ASSERT_EQ(std::tuple(clean.edgeCounts.boundary, clean.edgeCounts.nonManifold, clean.degenerateTriangleCount,
                      clean.duplicateTriangleCount, clean.orientable),
            std::tuple(0u, 0u, 0u, 0u, true));
        ASSERT_GT(VolumeAboutAVertex(part), 0.0L);
        // Validation finds it outward, with nothing to reverse.
        EXPECT_FALSE(clean.insideOut);
        EXPECT_TRUE(clean.reversedTriangles.empty());
        EXPECT_GT(clean.signedVolume, 0.0f);
        EXPECT_EQ(clean.verdict, Verdict::Good) << FormatValidationReport(clean);

        // Mesh > Repair: nothing to mend, the part given back as it came.
        TriangleMesh repaired = part;
        const RepairForPrintReport repair = RepairForPrint(repaired, {});
        EXPECT_FALSE(repair.repaired) << FormatRepairSummary(repair);
        EXPECT_EQ(repaired.TriangleCount(), triangles);
        EXPECT_GT(VolumeAboutAVertex(repaired), 0.0L);

        // The Save STL check's round: cleanup at the part's automatic tolerance, the fixes, the
        // slicer's read-back. Every triangle is written and reads back closed.
        TriangleMesh saved = part;
        const ExportCleanupReport cleanup = CleanupForExport(saved, AutomaticWeldToleranceOf(saved), {});
        EXPECT_EQ(FormatExportCleanupReport(cleanup), "nothing to clean up");
        saved.ComputeBounds();
        static_cast<void>(RepairMesh(saved, RepairOptions{}, {}, CountBodies(saved)));
        const ReadBackCounts read = ReadBackAsSlicer(saved);
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(std::tuple(read.trianglesWritten, read.trianglesRead, read.openEdges, read.overSharedEdges),
            std::tuple(std::uint64_t{triangles}, std::uint64_t{triangles}, 0u, 0u));
        EXPECT_GT(VolumeAboutAVertex(saved), 0.0L);

        // The pipeline's cleanup, with every stage off.
        PipelineStages stages;
        stages.InstallSource(part);
        PipelineSettings settings;
        stages.InvalidateStages(settings);
        ASSERT_TRUE(stages.Run({}));
        EXPECT_EQ(stages.result.TriangleCount(), triangles);
        EXPECT_EQ(stages.report.cleanupReport.verticesMerged, 0u);
        EXPECT_FALSE(stages.report.validated && stages.report.validation.insideOut);
    }
}

}  // namespace
}  // namespace grainforge::mesh
