#include "engine/pipeline/pipeline_records.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace grainforge::mesh {
namespace {

// The defaults of a run, as the pipeline and the document rely on them: every stage off, the
// print check on, and each stage's own record at its own defaults.
TEST(PipelineSettings, DefaultsOfARun)
{
    const PipelineSettings s;
    const struct {
        const char* field;
        double value;
        double expected;
    } rows[] = {
        {"surfaceMode", double(s.surfaceMode), 0},
        {"occupancyCells", double(s.occupancyCells), 256},
        {"tileExtentOn", double(s.tileExtentOn), 0},
        {"tileWidth", s.tileWidth, 0},
        {"tileHeight", s.tileHeight, 0},
        {"remeshOn", double(s.remeshOn), 0},
        {"displacementOn", double(s.displacementOn), 0},
        {"simplifyOn", double(s.simplifyOn), 0},
        {"printCheckOn", double(s.printCheckOn), 1},
        {"wallLineWidth", s.wallLineWidth, 0.42f},
        {"wallThreshold", s.wallThreshold, 0},
        {"wallMinimumInward", s.wallMinimumInward, 0.02f},
        {"maximumTriangles", double(s.maximumTriangles), 18000000},
        {"remesh.method", double(static_cast<int>(s.remesh.method)), 2},
        {"remesh.targetEdgeMillimetres", s.remesh.targetEdgeMillimetres, 0.2f},
        {"remesh.rounds", double(s.remesh.rounds), 5},
        {"displacement.method", double(static_cast<int>(s.displacement.method)), 0},
        {"displacement.outsideRule", double(static_cast<int>(s.displacement.outsideRule)), 2},
        {"simplify.maximumValence", double(s.simplify.maximumValence), 24},
        {"simplify.meshDetailError", s.simplify.meshDetailError, 0.01f},
        {"printability.layerHeight", s.printability.layerHeight, 0.2f},
        {"printability.lineWidth", s.printability.lineWidth, 0.42f},
        {"printability.upAxis", double(s.printability.upAxis), 2},
        {"printability.cellSize", s.printability.cellSize, 0},
        {"printability.overhangAllowance", s.printability.overhangAllowance, 0.5f},
        {"printability.minimumArea", s.printability.minimumArea, 0.18f},
        {"printability.bridgeLength", s.printability.bridgeLength, 10.0f},
        {"printability.cantileverDistance", s.printability.cantileverDistance, 3.0f},
        {"printability.warningDistance", s.printability.warningDistance, 6.0f},
        {"printability.overhangAngleDegrees", s.printability.overhangAngleDegrees, 30.0f},
        {"printability.collectDisplay", double(s.printability.collectDisplay), 0},
        {"printability.displayLayers", double(s.printability.displayLayers), 150},
        {"cleanup.weldCollapsedTriangles", double(s.cleanup.weldCollapsedTriangles), 1},
        {"cleanup.fillHoles", double(s.cleanup.fillHoles), 1},
        {"cleanup.maximumHoleMillimetres", s.cleanup.maximumHoleMillimetres, 5.0f},
        {"cleanup.maximumSlitWidthMillimetres", s.cleanup.maximumSlitWidthMillimetres, 0.5f},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.value, row.expected) << row.field;
    EXPECT_TRUE(s.masks.empty());
    EXPECT_TRUE(ProjectionEquals(s.projection, InitProjection()));
    EXPECT_TRUE(DisplacementSettingsEquals(s.displacement, DisplacementSettings{}));
    EXPECT_TRUE(SimplifySettingsEquals(s.simplify, SimplifySettings{}));
}

TEST(PipelineSettings, OccupancyCellsAreUsedWithinTheGridsLimits)
{
    const std::tuple<std::uint32_t, std::int32_t> cases[] = {{8, 16}, {256, 256}, {5000, 1024}, {0, 16}};
    for (const auto& [cells, used] : cases) {
        PipelineSettings s;
        s.occupancyCells = cells;
        EXPECT_EQ(s.OccupancyResolution(), used) << cells;
    }
}

TEST(PipelineReport, StartsEmptyWithBothPrintChecksUnchecked)
{
    const PipelineReport r;
    EXPECT_EQ(std::tuple(r.sourceTriangles, r.resultTriangles, r.refused, r.message.empty()),
        std::tuple(0u, 0u, 0, true));
    EXPECT_FALSE(r.printability.checked);
    EXPECT_FALSE(r.beforeRelief.checked);
    EXPECT_FALSE(r.walls.measured);
    EXPECT_FALSE(r.solidReport.ok);
    const PipelineStatus status;
    EXPECT_EQ(status.quality, PipelineQuality::full);
    EXPECT_FALSE(status.running || status.hasFraction);
}

}  // namespace
}  // namespace grainforge::mesh
