// Printability check. Slices are kept as runs of filled cells per grid row (scanline fill by the
// non-zero winding rule), so supports, islands and regions are found run by run (union-find over
// runs that touch across rows) rather than cell by cell. Distances are chamfer distances
// (G. Borgefors, "Distance transformations in digital images", 1986) computed only inside the
// unsupported regions: a shortest path from the supported cells to an unsupported cell never
// needs to pass through another supported cell, so each region is independent of the rest.
//
// Layers are handled in chunks: the triangles cut by a chunk's layers are listed by one upward
// sweep, the chunk's layers are rasterised in parallel, then analysed in parallel (each against
// the two layers below it), then merged into the report in layer order.
#include "engine/pipeline/printability_check.h"
#include "engine/mesh/report_text.h"

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <new>
#include <queue>
#include <span>
#include <stdexcept>
#include <utility>

namespace grainforge::mesh {

namespace {

using detail::CellRun;

// Cuts lie a little above the middle of each layer: parts are often modelled on round heights,
// and a cut through the middle of a 0.2 mm layer would run exactly along faces at 0.1, 0.3, ...
constexpr double kCutFraction = 0.5137;
constexpr double kMinimumLayerHeight = 0.01;
constexpr double kMinimumLineWidth = 0.05;
constexpr double kCellShareOfLineWidth = 0.25;
// What the cell size aims at, and what the grid as built may reach: the targets plus a tenth
// for the two border columns and rows and the rounding up of the counts.
constexpr double kLayerCellTarget = 4e6;
constexpr double kTotalCellTarget = 2e8;
constexpr double kLayerCellLimit = 4.4e6;
constexpr double kTotalCellLimit = 2.2e8;
constexpr double kCellGrowth = 1.0625;
// Cell keys give columns and rows 20 bits; the grid adds two border cells and one for rounding.
constexpr std::int64_t kKeyFieldSize = std::int64_t{1} << 20;
constexpr double kKeyFieldRoom = static_cast<double>(kKeyFieldSize - 4);
constexpr float kSideStep = 1.0f;
constexpr float kDiagonalStep = 1.4142135f;
constexpr float kFar = std::numeric_limits<float>::infinity();
constexpr double kBridgeSupportedShare = 0.85;
// Sweep pairs before a region counts as a maze and is finished by a shortest-path search; the
// regions of real parts settle in two or three.
constexpr int kMaximumSweepPairs = 32;
constexpr std::size_t kTriangleGrain = 65536;
// A chunk lists at most this many triangle cuts and covers at most this many cells, which bounds
// the memory of its triangle lists and rasters whatever the part.
constexpr std::size_t kChunkCuts = 16'000'000;
constexpr double kChunkCells = 32e6;
constexpr std::int64_t kChunkLayers = 512;

// ----- Settings and grid ------------------------------------------------------------------------

// The settings as used and the grid they give for this part.
struct Plan {
    int up = 2;
    int axisU = 0;  // grid columns
    int axisV = 1;  // grid rows
    double layerHeight = 0.2;
    double lineWidth = 0.42;
    double lowest = 0.0;  // lowest used coordinate on the build axis
    double cell = 0.105;
    double originU = 0.0;
    double originV = 0.0;
    std::int64_t columns = 0;
    std::int64_t rows = 0;
    std::int64_t layers = 0;
    std::int64_t displayStride = 1;
    bool collectDisplay = false;
    std::int32_t discRadius = 0;
    std::vector<std::int32_t> discHalfWidths;  // per row offset dy + discRadius; -1: none
    double minimumCells = 0.0;
    double cantileverCells = 0.0;
    double warningCells = 0.0;
    double bridgeLength = 0.0;
    double downwardCosine = 0.0;

    bool IsShown(std::int64_t layer) const { return collectDisplay && layer % displayStride == 0; }
    double CutHeight(std::int64_t layer) const { return (static_cast<double>(layer) + kCutFraction) * layerHeight; }
};

float FiniteOr(float value, float fallback) { return std::isfinite(value) ? value : fallback; }

// Non-finite floats at their defaults, the axis clamped.
PrintabilitySettings UsableSettings(const PrintabilitySettings& given)
{
    const PrintabilitySettings d;
    PrintabilitySettings s = given;
    s.layerHeight = FiniteOr(s.layerHeight, d.layerHeight);
    s.lineWidth = FiniteOr(s.lineWidth, d.lineWidth);
    s.upAxis = std::clamp(s.upAxis, 0, 2);
    s.cellSize = FiniteOr(s.cellSize, d.cellSize);
    s.overhangAllowance = FiniteOr(s.overhangAllowance, d.overhangAllowance);
    s.minimumArea = FiniteOr(s.minimumArea, d.minimumArea);
    s.bridgeLength = FiniteOr(s.bridgeLength, d.bridgeLength);
    s.cantileverDistance = FiniteOr(s.cantileverDistance, d.cantileverDistance);
    s.warningDistance = FiniteOr(s.warningDistance, d.warningDistance);
    s.overhangAngleDegrees = FiniteOr(s.overhangAngleDegrees, d.overhangAngleDegrees);
    return s;
}

float Coordinate(const Vec3& p, int axis) { return axis == 0 ? p.x : (axis == 1 ? p.y : p.z); }

Vec3 PointOnAxes(const Plan& plan, double u, double v, double cutHeight)
{
    float slots[3];
    slots[plan.axisU] = static_cast<float>(u);
    slots[plan.axisV] = static_cast<float>(v);
    slots[plan.up] = static_cast<float>(plan.lowest + cutHeight);
    return {slots[0], slots[1], slots[2]};
}

// Box of the vertices the triangles use (an unused vertex far away must not widen the grid).
struct PartBox {
    Vec3 low{kFar, kFar, kFar};
    Vec3 high{-kFar, -kFar, -kFar};

    void Add(const Vec3& p)
    {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
};

std::size_t BlockCount(std::size_t count, std::size_t grain) { return (count + grain - 1) / grain; }

PartBox MeasureUsedVertices(const TriangleMesh& mesh)
{
    const std::size_t triangles = mesh.TriangleCount();
    std::vector<PartBox> partial(BlockCount(triangles, kTriangleGrain));
    ParallelForBlocks(triangles, kTriangleGrain, [&](std::size_t begin, std::size_t end) {
        PartBox& box = partial[begin / kTriangleGrain];
        for (std::size_t i = 3 * begin; i < 3 * end; ++i)
            box.Add(mesh.vertices[mesh.indices[i]].position);
    });
    PartBox box;
    for (const PartBox& part : partial) {
        box.Add(part.low);
        box.Add(part.high);
    }
    return box;
}

// Grid as built for a cell: within the key fields and the cell limits.
bool GridFits(double cell, double layers, double extentU, double extentV)
{
    const double columns = std::ceil(extentU / cell) + 2.0;
    const double rows = std::ceil(extentV / cell) + 2.0;
    return columns < static_cast<double>(kKeyFieldSize) && rows < static_cast<double>(kKeyFieldSize)
        && columns * rows <= kLayerCellLimit && columns * rows * layers <= kTotalCellLimit;
}

// The given cell or a quarter line width, enlarged so that the grid stays bounded.
double ChooseCellSize(const PrintabilitySettings& s, double lineWidth, double layers, double extentU, double extentV)
{
    double cell = s.cellSize > 0.0f ? static_cast<double>(s.cellSize) : kCellShareOfLineWidth * lineWidth;
    const double widenedU = extentU + 2.0 * cell;
    const double widenedV = extentV + 2.0 * cell;
    cell = std::max({cell, std::sqrt(layers * widenedU * widenedV / kTotalCellTarget),
        std::sqrt(widenedU * widenedV / kLayerCellTarget), extentU / kKeyFieldRoom, extentV / kKeyFieldRoom});
    while (!GridFits(cell, layers, extentU, extentV))
        cell *= kCellGrowth;
    return cell;
}

// Integer offsets (dx, dy) with dx² + dy² <= r², as the largest dx of every row dy.
void BuildAllowanceDisc(double radius, Plan& plan)
{
    plan.discRadius = static_cast<std::int32_t>(std::ceil(radius));
    const double squared = radius * radius;
    plan.discHalfWidths.assign(2 * static_cast<std::size_t>(plan.discRadius) + 1, -1);
    for (std::int32_t dy = -plan.discRadius; dy <= plan.discRadius; ++dy) {
        const double rest = squared - static_cast<double>(dy) * dy;
        if (rest < 0.0)
            continue;
        std::int64_t dx = static_cast<std::int64_t>(std::sqrt(rest));
        while (static_cast<double>(dx + 1) * (dx + 1) <= rest)
            ++dx;
        while (dx > 0 && static_cast<double>(dx) * dx > rest)
            --dx;
        plan.discHalfWidths[static_cast<std::size_t>(dy + plan.discRadius)] = static_cast<std::int32_t>(dx);
    }
}

// The distances of the settings in cells.
void SetCellConstants(const PrintabilitySettings& s, Plan& plan)
{
    const double c = plan.cell;
    const double radius = (std::max(static_cast<double>(s.overhangAllowance), 0.0) * plan.lineWidth + 0.5 * c) / c;
    // Past the grid's span every disc covers the same cells.
    BuildAllowanceDisc(std::min(radius, static_cast<double>(plan.columns + plan.rows)), plan);
    plan.minimumCells = s.minimumArea / (c * c);
    plan.cantileverCells = s.cantileverDistance / c;
    plan.warningCells = s.warningDistance / c;
    plan.bridgeLength = s.bridgeLength;
    plan.downwardCosine = std::cos(static_cast<double>(s.overhangAngleDegrees) * 3.14159265358979323846 / 180.0);
    plan.collectDisplay = s.collectDisplay;
    plan.displayStride = std::max<std::int64_t>(1,
        plan.layers / static_cast<std::int64_t>(std::clamp<std::uint64_t>(s.displayLayers, 1, kMaximumPrintLayers)));
}

// Layers, cell and grid for the part; tooManyLayers when the part is too tall for the keys.
PrintabilityRefusal PlanGrid(const PartBox& box, const PrintabilitySettings& s, Plan& plan)
{
    plan.up = s.upAxis;
    plan.axisU = (plan.up + 1) % 3;
    plan.axisV = (plan.up + 2) % 3;
    plan.layerHeight = std::max(static_cast<double>(s.layerHeight), kMinimumLayerHeight);
    plan.lineWidth = std::max(static_cast<double>(s.lineWidth), kMinimumLineWidth);
    const auto extent = [&](int axis) {
        return static_cast<double>(Coordinate(box.high, axis)) - static_cast<double>(Coordinate(box.low, axis));
    };
    const double layers = std::max(1.0, std::ceil(extent(plan.up) / plan.layerHeight));
    if (layers > static_cast<double>(kMaximumPrintLayers))
        return PrintabilityRefusal::tooManyLayers;
    plan.layers = static_cast<std::int64_t>(layers);
    plan.cell = ChooseCellSize(s, plan.lineWidth, layers, extent(plan.axisU), extent(plan.axisV));
    plan.columns = static_cast<std::int64_t>(std::ceil(extent(plan.axisU) / plan.cell)) + 2;
    plan.rows = static_cast<std::int64_t>(std::ceil(extent(plan.axisV) / plan.cell)) + 2;
    plan.originU = static_cast<double>(Coordinate(box.low, plan.axisU)) - plan.cell;
    plan.originV = static_cast<double>(Coordinate(box.low, plan.axisV)) - plan.cell;
    plan.lowest = Coordinate(box.low, plan.up);
    SetCellConstants(s, plan);
    return PrintabilityRefusal::none;
}

// ----- Faces and layer ranges -------------------------------------------------------------------

struct TrianglePoints {
    double u[3];
    double v[3];
    double height[3];  // above the lowest point
};

TrianglePoints PointsOf(const TriangleMesh& mesh, const Plan& plan, std::size_t triangle)
{
    TrianglePoints t;
    for (int k = 0; k < 3; ++k) {
        const Vec3& p = mesh.vertices[mesh.indices[3 * triangle + static_cast<std::size_t>(k)]].position;
        t.u[k] = Coordinate(p, plan.axisU);
        t.v[k] = Coordinate(p, plan.axisV);
        t.height[k] = static_cast<double>(Coordinate(p, plan.up)) - plan.lowest;
    }
    return t;
}

// Cross product of the edges in (u, v, up) order: its third entry is the up component.
std::array<double, 3> CrossOf(const TrianglePoints& t)
{
    const double a[3] = {t.u[1] - t.u[0], t.v[1] - t.v[0], t.height[1] - t.height[0]};
    const double b[3] = {t.u[2] - t.u[0], t.v[2] - t.v[0], t.height[2] - t.height[0]};
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

struct FaceAreas {
    double surface = 0.0;
    double downward = 0.0;
};

// Surface area, and the area of faces flatter than the overhang angle, facing down, off the bed.
FaceAreas MeasureFaces(const TriangleMesh& mesh, const Plan& plan)
{
    const std::size_t triangles = mesh.TriangleCount();
    std::vector<FaceAreas> partial(BlockCount(triangles, kTriangleGrain));
    ParallelForBlocks(triangles, kTriangleGrain, [&](std::size_t begin, std::size_t end) {
        FaceAreas& sum = partial[begin / kTriangleGrain];
        for (std::size_t t = begin; t < end; ++t) {
            const TrianglePoints p = PointsOf(mesh, plan, t);
            const std::array<double, 3> n = CrossOf(p);
            const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            if (length == 0.0)
                continue;
            sum.surface += 0.5 * length;
            const double top = std::max({p.height[0], p.height[1], p.height[2]});
            if (n[2] / length < -plan.downwardCosine && top > 0.5 * plan.layerHeight)
                sum.downward += 0.5 * length;
        }
    });
    FaceAreas total;
    for (const FaceAreas& part : partial) {
        total.surface += part.surface;
        total.downward += part.downward;
    }
    return total;
}

// First layer cut at or above `height`; `layers` when none.
std::int64_t FirstCutAtOrAbove(const Plan& plan, double height)
{
    const double estimate = std::ceil(height / plan.layerHeight - kCutFraction);
    std::int64_t i = static_cast<std::int64_t>(std::clamp(estimate, 0.0, static_cast<double>(plan.layers)));
    while (i > 0 && plan.CutHeight(i - 1) >= height)
        --i;
    while (i < plan.layers && plan.CutHeight(i) < height)
        ++i;
    return i;
}

// Last layer cut at or below `height`; -1 when none.
std::int64_t LastCutAtOrBelow(const Plan& plan, double height)
{
    const double estimate = std::floor(height / plan.layerHeight - kCutFraction);
    std::int64_t i = static_cast<std::int64_t>(std::clamp(estimate, -1.0, static_cast<double>(plan.layers - 1)));
    while (i + 1 < plan.layers && plan.CutHeight(i + 1) <= height)
        ++i;
    while (i >= 0 && plan.CutHeight(i) > height)
        --i;
    return i;
}

// Layers each triangle is listed in: those whose cut lies within its height range. For the
// display a horizontal triangle is listed in the layer it bounds: a face turned down in the first
// layer above it, one turned up in the last layer below it.
struct TriangleLayers {
    std::vector<std::int32_t> first;  // -1: none
    std::vector<std::int32_t> last;
};

std::pair<std::int64_t, std::int64_t> LayerRangeOf(const Plan& plan, const TrianglePoints& p)
{
    const double low = std::min({p.height[0], p.height[1], p.height[2]});
    const double high = std::max({p.height[0], p.height[1], p.height[2]});
    if (plan.collectDisplay && low == high) {
        const double up = CrossOf(p)[2];
        if (up == 0.0)
            return {-1, -1};
        const std::int64_t layer = up < 0.0 ? std::min(FirstCutAtOrAbove(plan, low), plan.layers - 1)
                                            : std::max<std::int64_t>(LastCutAtOrBelow(plan, low), 0);
        return {layer, layer};
    }
    return {FirstCutAtOrAbove(plan, low), LastCutAtOrBelow(plan, high)};
}

TriangleLayers AssignTrianglesToLayers(const TriangleMesh& mesh, const Plan& plan)
{
    const std::size_t triangles = mesh.TriangleCount();
    TriangleLayers ranges;
    ranges.first.resize(triangles);
    ranges.last.resize(triangles);
    ParallelFor(triangles, [&](std::size_t t) {
        const auto [first, last] = LayerRangeOf(plan, PointsOf(mesh, plan, t));
        const bool cut = first <= last && first >= 0;
        ranges.first[t] = cut ? static_cast<std::int32_t>(first) : -1;
        ranges.last[t] = cut ? static_cast<std::int32_t>(last) : -1;
    }, kTriangleGrain);
    return ranges;
}

// Triangles by their first layer, ascending index within a layer.
struct LayerBuckets {
    std::vector<std::size_t> start;  // layers + 1 offsets
    std::vector<std::uint32_t> triangles;
};

LayerBuckets BucketByFirstLayer(const TriangleLayers& ranges, std::int64_t layers)
{
    LayerBuckets buckets;
    buckets.start.assign(static_cast<std::size_t>(layers) + 1, 0);
    for (const std::int32_t first : ranges.first) {
        if (first >= 0)
            ++buckets.start[static_cast<std::size_t>(first) + 1];
    }
    for (std::size_t i = 1; i < buckets.start.size(); ++i)
        buckets.start[i] += buckets.start[i - 1];
    buckets.triangles.resize(buckets.start.back());
    std::vector<std::size_t> next(buckets.start.begin(), buckets.start.end() - 1);
    for (std::size_t t = 0; t < ranges.first.size(); ++t) {
        if (ranges.first[t] >= 0)
            buckets.triangles[next[static_cast<std::size_t>(ranges.first[t])]++] = static_cast<std::uint32_t>(t);
    }
    return buckets;
}

// Walks the layers upward, keeping the triangles listed in the current one (ordered by first
// layer, then index, so the lists are the same on every run).
class CutSweep {
public:
    CutSweep(const TriangleLayers& ranges, const LayerBuckets& buckets, std::int64_t layers)
        : ranges_(ranges), buckets_(buckets), layers_(layers)
    {
        AddStarting();
    }

    bool Done() const { return layer_ >= layers_; }
    std::int64_t Layer() const { return layer_; }
    const std::vector<std::uint32_t>& Current() const { return active_; }

    void Advance()
    {
        ++layer_;
        if (Done())
            return;
        std::erase_if(active_, [&](std::uint32_t t) { return ranges_.last[t] < layer_; });
        AddStarting();
    }

private:
    void AddStarting()
    {
        const auto at = static_cast<std::size_t>(layer_);
        active_.insert(active_.end(), buckets_.triangles.begin() + static_cast<std::ptrdiff_t>(buckets_.start[at]),
            buckets_.triangles.begin() + static_cast<std::ptrdiff_t>(buckets_.start[at + 1]));
    }

    const TriangleLayers& ranges_;
    const LayerBuckets& buckets_;
    std::int64_t layers_;
    std::int64_t layer_ = 0;
    std::vector<std::uint32_t> active_;
};

// The triangles listed in each layer of one chunk.
struct ChunkCuts {
    std::int64_t begin = 0;
    std::int64_t end = 0;
    std::vector<std::size_t> start;  // end - begin + 1 offsets
    std::vector<std::uint32_t> triangles;

    std::span<const std::uint32_t> Of(std::int64_t layer) const
    {
        const auto at = static_cast<std::size_t>(layer - begin);
        return {triangles.data() + start[at], start[at + 1] - start[at]};
    }
};

ChunkCuts ListChunkCuts(const Plan& plan, CutSweep& sweep)
{
    const double cellsPerLayer = static_cast<double>(plan.columns) * static_cast<double>(plan.rows);
    const auto maximumLayers = static_cast<std::int64_t>(std::clamp(kChunkCells / cellsPerLayer, 1.0,
        static_cast<double>(kChunkLayers)));
    ChunkCuts chunk;
    chunk.begin = sweep.Layer();
    chunk.start.push_back(0);
    while (!sweep.Done() && sweep.Layer() - chunk.begin < maximumLayers) {
        const std::vector<std::uint32_t>& cut = sweep.Current();
        if (sweep.Layer() > chunk.begin && chunk.triangles.size() + cut.size() > kChunkCuts)
            break;
        chunk.triangles.insert(chunk.triangles.end(), cut.begin(), cut.end());
        chunk.start.push_back(chunk.triangles.size());
        sweep.Advance();
    }
    chunk.end = sweep.Layer();
    return chunk;
}

// ----- Rasterising one layer --------------------------------------------------------------------

// Filled cells of one layer, as runs row by row (rows outside [firstRow, firstRow + rowCount)
// are empty). Runs of a row are ascending and never touch.
struct LayerCells {
    std::int64_t firstRow = 0;
    std::vector<std::size_t> rowStart{0};  // rowCount + 1 offsets into runs
    std::vector<CellRun> runs;

    std::span<const CellRun> Row(std::int64_t row) const
    {
        const std::int64_t at = row - firstRow;
        if (at < 0 || at + 1 >= static_cast<std::int64_t>(rowStart.size()))
            return {};
        const auto i = static_cast<std::size_t>(at);
        return {runs.data() + rowStart[i], rowStart[i + 1] - rowStart[i]};
    }
    std::int64_t EndRow() const { return firstRow + static_cast<std::int64_t>(rowStart.size()) - 1; }
};

// The display of a cut triangle: the cell under the midpoint of its cut (or of the triangle,
// when it lies flat in the layer).
struct CutPoint {
    std::uint32_t triangle = 0;
    std::int64_t column = 0;
    std::int64_t row = 0;
};

struct LayerSlice {
    LayerCells cells;
    std::vector<std::array<Vec3, 2>> segments;  // shown layers only
    // Every layer of a check for the display: the places the verdict counts on layers that are
    // not drawn are still coloured on the part.
    std::vector<CutPoint> cutPoints;
};

struct Crossing {
    std::int64_t row = 0;
    double u = 0.0;
    std::int32_t winding = 0;
};

struct Segment {
    double u0, v0, u1, v1;
};

// Crossing of the edge between the below corner b and the above corner a with the cut. Both
// triangles on an edge interpolate from the same end, so they meet at the same point.
std::pair<double, double> EdgeCrossing(const TrianglePoints& p, int b, int a, double cut)
{
    const double t = (cut - p.height[b]) / (p.height[a] - p.height[b]);
    return {p.u[b] + t * (p.u[a] - p.u[b]), p.v[b] + t * (p.v[a] - p.v[b])};
}

// The cut of a triangle, oriented so that the solid lies on its left (seen from above) when the
// triangle faces outward: from the edge entering the lone corner to the edge leaving it when
// that corner is below the cut, the other way when it is above. A corner on the cut counts as
// below. False when the triangle lies on one side.
bool CutTriangle(const TrianglePoints& p, double cut, Segment& segment)
{
    const bool above[3] = {p.height[0] > cut, p.height[1] > cut, p.height[2] > cut};
    const int aboveCount = int{above[0]} + int{above[1]} + int{above[2]};
    if (aboveCount == 0 || aboveCount == 3)
        return false;
    const bool loneAbove = aboveCount == 1;
    int lone = 0;
    while (above[lone] != loneAbove)
        ++lone;
    const int next = (lone + 1) % 3;
    const int previous = (lone + 2) % 3;
    const auto entering = loneAbove ? EdgeCrossing(p, previous, lone, cut) : EdgeCrossing(p, lone, previous, cut);
    const auto leaving = loneAbove ? EdgeCrossing(p, next, lone, cut) : EdgeCrossing(p, lone, next, cut);
    const auto& from = loneAbove ? leaving : entering;
    const auto& to = loneAbove ? entering : leaving;
    segment = {from.first, from.second, to.first, to.second};
    return true;
}

// Where the segment crosses the centre line of each row it spans (half-open in v, so a row
// through a shared end counts once), with +1 going up the rows and -1 going down.
void AddRowCrossings(const Plan& plan, const Segment& s, std::vector<Crossing>& crossings)
{
    if (s.v0 == s.v1)
        return;
    const double low = std::min(s.v0, s.v1);
    const double high = std::max(s.v0, s.v1);
    const auto rowAt = [&](double v) {
        return std::clamp(std::ceil((v - plan.originV) / plan.cell - 0.5), 0.0, static_cast<double>(plan.rows));
    };
    const auto first = static_cast<std::int64_t>(rowAt(low));
    const auto end = static_cast<std::int64_t>(rowAt(high));
    const double slope = (s.u1 - s.u0) / (s.v1 - s.v0);
    const std::int32_t winding = s.v1 > s.v0 ? 1 : -1;
    for (std::int64_t row = first; row < end; ++row) {
        const double v = plan.originV + (static_cast<double>(row) + 0.5) * plan.cell;
        crossings.push_back({row, s.u0 + (v - s.v0) * slope, winding});
    }
}

std::int32_t ColumnAt(const Plan& plan, double u)
{
    const double column = std::ceil((u - plan.originU) / plan.cell - 0.5);
    return static_cast<std::int32_t>(std::clamp(column, 0.0, static_cast<double>(plan.columns)));
}

// Cells whose centres lie between crossings where the running winding is not 0.
LayerCells FillRows(const Plan& plan, std::vector<Crossing>& crossings)
{
    std::sort(crossings.begin(), crossings.end(), [](const Crossing& a, const Crossing& b) {
        return a.row != b.row ? a.row < b.row : (a.u != b.u ? a.u < b.u : a.winding < b.winding);
    });
    LayerCells cells;
    if (crossings.empty())
        return cells;
    cells.firstRow = crossings.front().row;
    cells.rowStart.assign(static_cast<std::size_t>(crossings.back().row - cells.firstRow) + 2, 0);
    std::int32_t winding = 0;
    for (std::size_t k = 0; k < crossings.size(); ++k) {
        const Crossing& at = crossings[k];
        winding += at.winding;
        const bool rowGoesOn = k + 1 < crossings.size() && crossings[k + 1].row == at.row;
        if (rowGoesOn && winding != 0) {
            const std::int32_t begin = ColumnAt(plan, at.u);
            const std::int32_t end = ColumnAt(plan, crossings[k + 1].u);
            const auto row = static_cast<std::int32_t>(at.row);
            if (begin < end && !cells.runs.empty() && cells.runs.back().row == row && begin <= cells.runs.back().end)
                cells.runs.back().end = std::max(cells.runs.back().end, end);
            else if (begin < end)
                cells.runs.push_back({row, begin, end});
        }
        if (!rowGoesOn)
            winding = 0;
        cells.rowStart[static_cast<std::size_t>(at.row - cells.firstRow) + 1] = cells.runs.size();
    }
    for (std::size_t i = 1; i < cells.rowStart.size(); ++i)
        cells.rowStart[i] = std::max(cells.rowStart[i], cells.rowStart[i - 1]);
    return cells;
}

CutPoint CutPointAt(const Plan& plan, std::uint32_t triangle, double u, double v)
{
    return {triangle, static_cast<std::int64_t>(std::floor((u - plan.originU) / plan.cell)),
        static_cast<std::int64_t>(std::floor((v - plan.originV) / plan.cell))};
}

// Cut points of a layer, and its outline when the layer is shown.
void RecordDisplayCut(const Plan& plan, std::uint32_t triangle, const TrianglePoints& p, const Segment* segment,
    double cut, bool shown, LayerSlice& slice)
{
    if (segment == nullptr) {  // a flat triangle listed for the display only
        const double u = (p.u[0] + p.u[1] + p.u[2]) / 3.0;
        const double v = (p.v[0] + p.v[1] + p.v[2]) / 3.0;
        slice.cutPoints.push_back(CutPointAt(plan, triangle, u, v));
        return;
    }
    if (shown)
        slice.segments.push_back({PointOnAxes(plan, segment->u0, segment->v0, cut),
            PointOnAxes(plan, segment->u1, segment->v1, cut)});
    slice.cutPoints.push_back(
        CutPointAt(plan, triangle, 0.5 * (segment->u0 + segment->u1), 0.5 * (segment->v0 + segment->v1)));
}

LayerSlice RasteriseLayer(const TriangleMesh& mesh, const Plan& plan, std::int64_t layer,
    std::span<const std::uint32_t> triangles)
{
    const double cut = plan.CutHeight(layer);
    const bool shown = plan.IsShown(layer);
    LayerSlice slice;
    std::vector<Crossing> crossings;
    for (const std::uint32_t t : triangles) {
        const TrianglePoints p = PointsOf(mesh, plan, t);
        Segment segment{};
        const bool crossed = CutTriangle(p, cut, segment);
        if (crossed)
            AddRowCrossings(plan, segment, crossings);
        const bool flat = p.height[0] == p.height[1] && p.height[1] == p.height[2];
        if (plan.collectDisplay && (crossed || flat))
            RecordDisplayCut(plan, t, p, crossed ? &segment : nullptr, cut, shown, slice);
    }
    slice.cells = FillRows(plan, crossings);
    return slice;
}

// ----- Run sets ---------------------------------------------------------------------------------

// Runs sorted by begin, overlapping or touching ones merged (all in one row).
void MergeIntervals(std::vector<CellRun>& intervals)
{
    std::sort(intervals.begin(), intervals.end(),
        [](const CellRun& a, const CellRun& b) { return a.begin != b.begin ? a.begin < b.begin : a.end < b.end; });
    std::size_t kept = 0;
    for (const CellRun& run : intervals) {
        if (kept > 0 && run.begin <= intervals[kept - 1].end)
            intervals[kept - 1].end = std::max(intervals[kept - 1].end, run.end);
        else
            intervals[kept++] = run;
    }
    intervals.resize(kept);
}

// Runs sorted row-major, touching runs of a row merged.
void MergeRowMajor(std::vector<CellRun>& runs)
{
    std::sort(runs.begin(), runs.end(),
        [](const CellRun& a, const CellRun& b) { return a.row != b.row ? a.row < b.row : a.begin < b.begin; });
    std::size_t kept = 0;
    for (const CellRun& run : runs) {
        if (kept > 0 && runs[kept - 1].row == run.row && run.begin <= runs[kept - 1].end)
            runs[kept - 1].end = std::max(runs[kept - 1].end, run.end);
        else
            runs[kept++] = run;
    }
    runs.resize(kept);
}

// Cells of row `row` within the allowance disc of a filled cell of `layer`.
void CoverByDisc(const Plan& plan, const LayerCells& layer, std::int64_t row, std::vector<CellRun>& cover)
{
    cover.clear();
    const std::int64_t from = std::max<std::int64_t>(-plan.discRadius, layer.firstRow - row);
    const std::int64_t to = std::min<std::int64_t>(plan.discRadius, layer.EndRow() - 1 - row);
    for (std::int64_t dy = from; dy <= to; ++dy) {
        const std::int32_t reach = plan.discHalfWidths[static_cast<std::size_t>(dy + plan.discRadius)];
        if (reach < 0)
            continue;
        for (const CellRun& run : layer.Row(row + dy))
            cover.push_back({static_cast<std::int32_t>(row), run.begin - reach, run.end + reach});
    }
    MergeIntervals(cover);
}

// Splits `run` by the sorted, merged `cover` into the pieces inside and outside it.
void SplitByCover(const CellRun& run, std::span<const CellRun> cover, std::vector<CellRun>& inside,
    std::vector<CellRun>& outside)
{
    std::int32_t at = run.begin;
    for (const CellRun& c : cover) {
        if (c.end <= at)
            continue;
        if (c.begin >= run.end)
            break;
        if (c.begin > at)
            outside.push_back({run.row, at, c.begin});
        const std::int32_t stop = std::min(c.end, run.end);
        inside.push_back({run.row, std::max(at, c.begin), stop});
        at = stop;
    }
    if (at < run.end)
        outside.push_back({run.row, at, run.end});
}

// Labels of the 8-connected groups of row-major runs (runs of a row never touching): each group
// is numbered by the order of its first run.
struct RunGroups {
    std::vector<std::uint32_t> ofRun;
    std::uint32_t count = 0;
};

std::uint32_t FindRoot(std::vector<std::uint32_t>& parent, std::uint32_t i)
{
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

void JoinRowPair(std::span<const CellRun> runs, std::size_t lower, std::size_t lowerEnd, std::size_t upper,
    std::size_t upperEnd, std::vector<std::uint32_t>& parent)
{
    while (lower < lowerEnd && upper < upperEnd) {
        const CellRun& a = runs[lower];
        const CellRun& b = runs[upper];
        if (a.begin <= b.end && b.begin <= a.end) {  // touch, diagonals included
            const std::uint32_t ra = FindRoot(parent, static_cast<std::uint32_t>(lower));
            const std::uint32_t rb = FindRoot(parent, static_cast<std::uint32_t>(upper));
            parent[std::max(ra, rb)] = std::min(ra, rb);
        }
        if (a.end < b.end)
            ++lower;
        else
            ++upper;
    }
}

RunGroups GroupRuns(std::span<const CellRun> runs)
{
    std::vector<std::uint32_t> parent(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i)
        parent[i] = static_cast<std::uint32_t>(i);
    std::size_t previousRow = 0;
    std::size_t rowBegin = 0;
    while (rowBegin < runs.size()) {
        std::size_t rowEnd = rowBegin;
        while (rowEnd < runs.size() && runs[rowEnd].row == runs[rowBegin].row)
            ++rowEnd;
        if (rowBegin > 0 && runs[previousRow].row + 1 == runs[rowBegin].row)
            JoinRowPair(runs, previousRow, rowBegin, rowBegin, rowEnd, parent);
        previousRow = rowBegin;
        rowBegin = rowEnd;
    }
    RunGroups groups;
    groups.ofRun.resize(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const std::uint32_t root = FindRoot(parent, static_cast<std::uint32_t>(i));
        groups.ofRun[i] = root == i ? groups.count++ : groups.ofRun[root];  // roots come first
    }
    return groups;
}

// Runs of `runs` (row-major) in one row.
std::span<const CellRun> RowOf(std::span<const CellRun> runs, std::int64_t row)
{
    const auto low = std::lower_bound(runs.begin(), runs.end(), row,
        [](const CellRun& run, std::int64_t r) { return run.row < r; });
    auto high = low;
    while (high != runs.end() && high->row == row)
        ++high;
    return {low, high};
}

std::int64_t OverlapLength(std::int32_t begin, std::int32_t end, std::span<const CellRun> runs)
{
    std::int64_t length = 0;
    for (const CellRun& run : runs)
        length += std::max(0, std::min(end, run.end) - std::max(begin, run.begin));
    return length;
}

bool IsFilled(const LayerCells& cells, std::int64_t row, std::int64_t column)
{
    for (const CellRun& run : cells.Row(row)) {
        if (column < run.begin)
            return false;
        if (column < run.end)
            return true;
    }
    return false;
}

// ----- Analysing one layer ----------------------------------------------------------------------

// What one layer adds to the report.
struct LayerVerdict {
    std::vector<PrintFinding> featuresInAir;
    std::vector<PrintFinding> farReaches;
    std::vector<PrintFinding> airPlaces;
    std::vector<PrintFinding> shortBridges;
    std::uint64_t overhangCells = 0;
    double longestReachCells = 0.0;
    std::uint64_t cantilevers = 0;
    std::vector<CellRun> supportCells;  // every layer of a check for the display
    std::vector<CellRun> farCells;
    std::vector<CellRun> bridgeCells;
    std::vector<std::uint32_t> supportTriangles;
    std::vector<std::uint32_t> farTriangles;
    std::vector<std::uint32_t> bridgeTriangles;
};

// The filled cells of a layer split by their support, each piece with the run it belongs to.
struct Piece {
    CellRun cells;
    std::uint32_t run = 0;
};

struct CellClasses {
    std::vector<Piece> supported;  // within the disc of a filled cell of the layer below
    std::vector<Piece> near;       // not, but within the disc of one two layers below
    std::vector<Piece> bare;       // neither
};

void AddPieces(const std::vector<CellRun>& runs, std::uint32_t run, std::vector<Piece>& pieces)
{
    for (const CellRun& cells : runs)
        pieces.push_back({cells, run});
}

CellClasses ClassifyCells(const Plan& plan, const LayerCells& cells, const LayerCells& below, const LayerCells* twoBelow)
{
    CellClasses classes;
    std::vector<CellRun> cover;
    std::vector<CellRun> inside;
    std::vector<CellRun> outside;
    std::vector<CellRun> unsupported;
    std::vector<CellRun> twoCover;
    for (std::int64_t row = cells.firstRow; row < cells.EndRow(); ++row) {
        const std::span<const CellRun> runs = cells.Row(row);
        if (runs.empty())
            continue;
        CoverByDisc(plan, below, row, cover);
        if (twoBelow != nullptr)
            CoverByDisc(plan, *twoBelow, row, twoCover);
        for (const CellRun& run : runs) {
            const auto index = static_cast<std::uint32_t>(&run - cells.runs.data());
            inside.clear();
            unsupported.clear();
            SplitByCover(run, cover, inside, unsupported);
            AddPieces(inside, index, classes.supported);
            for (const CellRun& piece : unsupported) {
                inside.clear();
                outside.clear();
                SplitByCover(piece, twoCover, inside, outside);
                AddPieces(inside, index, classes.near);
                AddPieces(outside, index, classes.bare);
            }
        }
    }
    return classes;
}

struct Island {
    std::uint64_t cells = 0;
    std::int64_t columnSum = 0;  // of cell columns, exact
    std::int64_t rowSum = 0;
    bool supported = false;
    bool near = false;
    std::uint64_t unsupportedCells = 0;
    float reach = 0.0f;  // cells
    CellRun farthest;    // the farthest cell, as a run of one
};

struct Islands {
    RunGroups groups;  // of the filled runs
    std::vector<Island> list;

    bool InAir(std::uint32_t island) const { return !list[island].supported && !list[island].near; }
};

Islands FindIslands(const LayerCells& cells, const CellClasses& classes)
{
    Islands islands;
    islands.groups = GroupRuns(cells.runs);
    islands.list.resize(islands.groups.count);
    for (std::size_t i = 0; i < cells.runs.size(); ++i) {
        const CellRun& run = cells.runs[i];
        Island& island = islands.list[islands.groups.ofRun[i]];
        const std::int64_t length = run.end - run.begin;
        island.cells += static_cast<std::uint64_t>(length);
        island.columnSum += (static_cast<std::int64_t>(run.begin) + run.end - 1) * length / 2;
        island.rowSum += static_cast<std::int64_t>(run.row) * length;
    }
    for (const Piece& piece : classes.supported)
        islands.list[islands.groups.ofRun[piece.run]].supported = true;
    for (const Piece& piece : classes.near)
        islands.list[islands.groups.ofRun[piece.run]].near = true;
    return islands;
}

PrintFinding FindingAt(const Plan& plan, std::int64_t layer, double column, double row, double cells, double reach)
{
    const double cut = plan.CutHeight(layer);
    const Vec3 at = PointOnAxes(plan, plan.originU + (column + 0.5) * plan.cell,
        plan.originV + (row + 0.5) * plan.cell, cut);
    return {at.x, at.y, at.z, static_cast<float>(cut), static_cast<float>(cells * plan.cell * plan.cell),
        static_cast<float>(reach * plan.cell), static_cast<std::uint32_t>(layer)};
}

// Islands with nothing below them, not even two layers down.
void ReportFeaturesInAir(const Plan& plan, std::int64_t layer, const LayerCells& cells, const Islands& islands,
    LayerVerdict& verdict)
{
    for (std::uint32_t i = 0; i < islands.list.size(); ++i) {
        if (!islands.InAir(i))
            continue;
        const Island& island = islands.list[i];
        const auto n = static_cast<double>(island.cells);
        verdict.featuresInAir.push_back(FindingAt(plan, layer, static_cast<double>(island.columnSum) / n,
            static_cast<double>(island.rowSum) / n, n, 0.0));
    }
    if (!plan.collectDisplay)
        return;
    for (std::size_t r = 0; r < cells.runs.size(); ++r) {
        if (islands.InAir(islands.groups.ofRun[r]))
            verdict.supportCells.push_back(cells.runs[r]);
    }
}

// The unsupported cells whose distance is measured: all of them in islands that are not in the
// air, except, in an island supported only from two layers down, the cells so supported (they
// are its supports, or every distance in it would be infinite).
struct OpenCells {
    std::vector<CellRun> runs;  // row-major, merged
    std::vector<std::uint32_t> island;
};

OpenCells CollectOpenCells(const CellClasses& classes, const Islands& islands)
{
    std::vector<std::pair<CellRun, std::uint32_t>> pieces;
    for (const Piece& piece : classes.near) {
        const std::uint32_t island = islands.groups.ofRun[piece.run];
        if (islands.list[island].supported)
            pieces.push_back({piece.cells, island});
    }
    for (const Piece& piece : classes.bare) {
        const std::uint32_t island = islands.groups.ofRun[piece.run];
        if (!islands.InAir(island))
            pieces.push_back({piece.cells, island});
    }
    std::sort(pieces.begin(), pieces.end(), [](const auto& a, const auto& b) {
        return a.first.row != b.first.row ? a.first.row < b.first.row : a.first.begin < b.first.begin;
    });
    OpenCells open;
    for (const auto& [cells, island] : pieces) {
        if (!open.runs.empty() && open.runs.back().row == cells.row && open.runs.back().end == cells.begin) {
            open.runs.back().end = cells.end;  // a near piece beside a bare one of the same run
            continue;
        }
        open.runs.push_back(cells);
        open.island.push_back(island);
    }
    return open;
}

// Unsupported regions: 8-connected groups of open runs, each as its runs in row-major order.
struct Regions {
    std::vector<std::vector<CellRun>> runs;
    std::vector<std::uint32_t> island;
};

Regions GroupRegions(const OpenCells& open)
{
    const RunGroups groups = GroupRuns(open.runs);
    Regions regions;
    regions.runs.resize(groups.count);
    regions.island.resize(groups.count);
    for (std::size_t r = 0; r < open.runs.size(); ++r) {
        regions.runs[groups.ofRun[r]].push_back(open.runs[r]);
        regions.island[groups.ofRun[r]] = open.island[r];
    }
    return regions;
}

struct RegionMeasure {
    std::uint64_t cells = 0;
    std::int64_t columnSum = 0;
    std::int64_t rowSum = 0;
    float reach = 0.0f;  // largest distance, cells
    CellRun farthest;    // first cell at that distance, row-major
};

// A window round the region with one cell to spare: filled cells at 0 (the supports next to the
// region; the others are never reached), the region and everything else at infinity.
struct DistanceWindow {
    std::int64_t row0 = 0;
    std::int64_t column0 = 0;
    std::size_t width = 0;
    std::vector<float> distances;
    std::vector<CellRun> open;  // the region in window coordinates

    float At(std::int64_t row, std::int64_t column) const
    {
        return distances[static_cast<std::size_t>(row - row0) * width + static_cast<std::size_t>(column - column0)];
    }
};

DistanceWindow OpenDistanceWindow(const LayerCells& cells, const std::vector<CellRun>& region)
{
    std::int32_t low = region.front().begin;
    std::int32_t high = region.front().end;
    for (const CellRun& run : region) {
        low = std::min(low, run.begin);
        high = std::max(high, run.end);
    }
    DistanceWindow w;
    w.row0 = region.front().row - 1;
    w.column0 = low - 1;
    w.width = static_cast<std::size_t>(high - low) + 2;
    const auto height = static_cast<std::size_t>(region.back().row - region.front().row) + 3;
    w.distances.assign(w.width * height, kFar);
    for (std::int64_t row = w.row0; row < w.row0 + static_cast<std::int64_t>(height); ++row) {
        for (const CellRun& run : cells.Row(row)) {
            const std::int64_t begin = std::max<std::int64_t>(run.begin, w.column0);
            const std::int64_t end = std::min<std::int64_t>(run.end, w.column0 + static_cast<std::int64_t>(w.width));
            for (std::int64_t column = begin; column < end; ++column)
                w.distances[static_cast<std::size_t>(row - w.row0) * w.width + static_cast<std::size_t>(column - w.column0)] = 0.0f;
        }
    }
    for (const CellRun& run : region) {
        const CellRun local{static_cast<std::int32_t>(run.row - w.row0), static_cast<std::int32_t>(run.begin - w.column0),
            static_cast<std::int32_t>(run.end - w.column0)};
        std::fill_n(w.distances.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(local.row) * w.width)
            + local.begin, local.end - local.begin, kFar);
        w.open.push_back(local);
    }
    return w;
}

// Cells, centroid sums and largest distance of a region; its far cells for a shown layer.
RegionMeasure MeasureRegion(const Plan& plan, const LayerCells& cells, const std::vector<CellRun>& region,
    std::vector<CellRun>* farCells)
{
    DistanceWindow window = OpenDistanceWindow(cells, region);
    detail::SweepChamferDistances(window.distances, window.width, window.open, kMaximumSweepPairs);
    RegionMeasure m;
    for (const CellRun& run : region) {
        const std::int64_t length = run.end - run.begin;
        m.cells += static_cast<std::uint64_t>(length);
        m.columnSum += (static_cast<std::int64_t>(run.begin) + run.end - 1) * length / 2;
        m.rowSum += static_cast<std::int64_t>(run.row) * length;
        for (std::int32_t column = run.begin; column < run.end; ++column) {
            const float d = window.At(run.row, column);
            if (d > m.reach || m.farthest.end == 0) {
                m.reach = std::max(m.reach, d);
                m.farthest = {run.row, column, column + 1};
            }
            if (farCells != nullptr && d > plan.cantileverCells)
                farCells->push_back({run.row, column, column + 1});
        }
    }
    return m;
}

std::vector<RegionMeasure> MeasureRegions(const Plan& plan, const LayerCells& cells, const Regions& regions,
    Islands& islands, LayerVerdict& verdict)
{
    std::vector<RegionMeasure> measures;
    measures.reserve(regions.runs.size());
    std::vector<CellRun>* farCells = plan.collectDisplay ? &verdict.farCells : nullptr;
    for (std::size_t r = 0; r < regions.runs.size(); ++r) {
        measures.push_back(MeasureRegion(plan, cells, regions.runs[r], farCells));
        Island& island = islands.list[regions.island[r]];
        island.unsupportedCells += measures.back().cells;
        if (measures.back().reach > island.reach) {
            island.reach = measures.back().reach;
            island.farthest = measures.back().farthest;
        }
    }
    if (farCells != nullptr)
        MergeRowMajor(*farCells);
    return measures;
}

// How far each island reaches past the layer below: far reaches and cantilevers.
void ReportReaches(const Plan& plan, std::int64_t layer, const Islands& islands, LayerVerdict& verdict)
{
    for (std::uint32_t i = 0; i < islands.list.size(); ++i) {
        const Island& island = islands.list[i];
        if (islands.InAir(i))
            continue;
        verdict.longestReachCells = std::max(verdict.longestReachCells, static_cast<double>(island.reach));
        if (island.reach > plan.warningCells) {
            verdict.farReaches.push_back(FindingAt(plan, layer, island.farthest.begin, island.farthest.row,
                static_cast<double>(island.unsupportedCells), island.reach));
        } else if (island.reach > plan.cantileverCells) {
            ++verdict.cantilevers;
        }
    }
}

// Side neighbours of a region that are not in it: supported when filled in this layer, else open
// (empty, or off the grid); the supported ones as cells for grouping into separate supports.
struct Border {
    std::uint64_t supported = 0;
    std::uint64_t open = 0;
    std::vector<CellRun> supports;
};

void AddSideNeighbour(const Plan& plan, const LayerCells& cells, std::int32_t row, std::int64_t column, Border& border)
{
    if (column >= 0 && column < plan.columns && IsFilled(cells, row, column)) {
        ++border.supported;
        border.supports.push_back({row, static_cast<std::int32_t>(column), static_cast<std::int32_t>(column + 1)});
    } else {
        ++border.open;
    }
}

// The cells of [run.begin, run.end) in `row` beside a region run, above or below it.
void AddRowNeighbours(const Plan& plan, const LayerCells& cells, const std::vector<CellRun>& region, const CellRun& run,
    std::int64_t row, Border& border)
{
    const std::int64_t length = run.end - run.begin;
    if (row < 0 || row >= plan.rows) {
        border.open += static_cast<std::uint64_t>(length);
        return;
    }
    const std::span<const CellRun> regionRow = RowOf(region, row);
    std::int64_t supported = 0;
    for (const CellRun& filled : cells.Row(row)) {
        const CellRun part{static_cast<std::int32_t>(row), std::max(filled.begin, run.begin), std::min(filled.end, run.end)};
        if (part.begin >= part.end)
            continue;
        std::vector<CellRun> inside;
        std::vector<CellRun> outside;
        SplitByCover(part, regionRow, inside, outside);
        for (const CellRun& piece : outside) {
            supported += piece.end - piece.begin;
            border.supports.push_back(piece);
        }
    }
    border.supported += static_cast<std::uint64_t>(supported);
    border.open += static_cast<std::uint64_t>(length - supported - OverlapLength(run.begin, run.end, regionRow));
}

Border TraceBorder(const Plan& plan, const LayerCells& cells, const std::vector<CellRun>& region)
{
    Border border;
    for (const CellRun& run : region) {
        AddSideNeighbour(plan, cells, run.row, std::int64_t{run.begin} - 1, border);
        AddSideNeighbour(plan, cells, run.row, run.end, border);
        AddRowNeighbours(plan, cells, region, run, std::int64_t{run.row} - 1, border);
        AddRowNeighbours(plan, cells, region, run, std::int64_t{run.row} + 1, border);
    }
    MergeRowMajor(border.supports);
    return border;
}

// A region between at least two separate supports, or mostly surrounded by support.
bool IsBridgeCandidate(const Border& border)
{
    if (GroupRuns(border.supports).count >= 2)
        return true;
    const std::uint64_t total = border.supported + border.open;
    return total > 0 && static_cast<double>(border.supported) >= kBridgeSupportedShare * static_cast<double>(total);
}

// Every region adds to the overhang area; those large enough are short bridges or places laid
// in the air.
void JudgeRegions(const Plan& plan, std::int64_t layer, const LayerCells& cells, const Regions& regions,
    const std::vector<RegionMeasure>& measures, LayerVerdict& verdict)
{
    const bool marked = plan.collectDisplay;
    for (std::size_t r = 0; r < regions.runs.size(); ++r) {
        const RegionMeasure& m = measures[r];
        verdict.overhangCells += m.cells;
        if (static_cast<double>(m.cells) < plan.minimumCells)
            continue;
        const auto n = static_cast<double>(m.cells);
        const PrintFinding finding = FindingAt(plan, layer, static_cast<double>(m.columnSum) / n,
            static_cast<double>(m.rowSum) / n, n, m.reach);
        const bool shortBridge = IsBridgeCandidate(TraceBorder(plan, cells, regions.runs[r]))
            && 2.0 * static_cast<double>(m.reach) * plan.cell <= plan.bridgeLength;
        (shortBridge ? verdict.shortBridges : verdict.airPlaces).push_back(finding);
        if (marked) {
            std::vector<CellRun>& marks = shortBridge ? verdict.bridgeCells : verdict.supportCells;
            marks.insert(marks.end(), regions.runs[r].begin(), regions.runs[r].end());
        }
    }
}

std::vector<std::uint64_t> KeysOf(std::int64_t layer, const std::vector<CellRun>& runs)
{
    std::vector<std::uint64_t> keys;
    for (const CellRun& run : runs) {
        for (std::int32_t column = run.begin; column < run.end; ++column)
            keys.push_back(PrintCellKey(static_cast<std::uint64_t>(layer), static_cast<std::uint64_t>(run.row),
                static_cast<std::uint64_t>(column)));
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// Each cut triangle goes to the first kind marked next to its cut; one next to a far-reaching
// cell is listed as reaching far also when it needs support, so that a reach the verdict counts
// inside a place laid in the air is never told as none reaching far. The views paint support
// over far, so its colour stays that of support.
void ClassifyCutTriangles(std::int64_t layer, const LayerSlice& slice, LayerVerdict& verdict)
{
    MergeRowMajor(verdict.supportCells);
    MergeRowMajor(verdict.bridgeCells);
    const std::vector<std::uint64_t> support = KeysOf(layer, verdict.supportCells);
    const std::vector<std::uint64_t> far = KeysOf(layer, verdict.farCells);
    const std::vector<std::uint64_t> bridge = KeysOf(layer, verdict.bridgeCells);
    for (const CutPoint& p : slice.cutPoints) {
        const bool needsSupport = IsNearMarkedCell(p.column, p.row, layer, support);
        if (needsSupport)
            verdict.supportTriangles.push_back(p.triangle);
        if (IsNearMarkedCell(p.column, p.row, layer, far))
            verdict.farTriangles.push_back(p.triangle);
        else if (!needsSupport && IsNearMarkedCell(p.column, p.row, layer, bridge))
            verdict.bridgeTriangles.push_back(p.triangle);
    }
}

LayerVerdict AnalyseLayer(const Plan& plan, std::int64_t layer, const LayerSlice& slice, const LayerCells& below,
    const LayerCells* twoBelow)
{
    LayerVerdict verdict;
    const CellClasses classes = ClassifyCells(plan, slice.cells, below, twoBelow);
    Islands islands = FindIslands(slice.cells, classes);
    ReportFeaturesInAir(plan, layer, slice.cells, islands, verdict);
    const Regions regions = GroupRegions(CollectOpenCells(classes, islands));
    const std::vector<RegionMeasure> measures = MeasureRegions(plan, slice.cells, regions, islands, verdict);
    ReportReaches(plan, layer, islands, verdict);
    JudgeRegions(plan, layer, slice.cells, regions, measures, verdict);
    if (plan.collectDisplay)
        ClassifyCutTriangles(layer, slice, verdict);
    return verdict;
}

// ----- Layers in chunks -------------------------------------------------------------------------

struct Totals {
    std::uint64_t overhangCells = 0;
    double longestReachCells = 0.0;
    std::array<std::uint64_t, 3> displayCells{};  // kept of each kind: support, far, bridge
    std::array<std::uint64_t, 3> undrawnCells{};  // ... as keys alone, on the layers not drawn
};

std::vector<LayerSlice> RasteriseChunk(const TriangleMesh& mesh, const Plan& plan, const ChunkCuts& chunk)
{
    std::vector<LayerSlice> slices(static_cast<std::size_t>(chunk.end - chunk.begin));
    ParallelFor(slices.size(), [&](std::size_t i) {
        const std::int64_t layer = chunk.begin + static_cast<std::int64_t>(i);
        slices[i] = RasteriseLayer(mesh, plan, layer, chunk.Of(layer));
    }, 1);
    return slices;
}

// Each layer of the chunk against the two below it (`carried` holds the two layers before the
// chunk, oldest first). Layer 0 lies on the bed and is not analysed.
std::vector<LayerVerdict> AnalyseChunk(const Plan& plan, const ChunkCuts& chunk, const std::vector<LayerSlice>& carried,
    const std::vector<LayerSlice>& slices)
{
    const auto cellsOf = [&](std::int64_t layer) -> const LayerCells& {
        if (layer >= chunk.begin)
            return slices[static_cast<std::size_t>(layer - chunk.begin)].cells;
        return carried[carried.size() - static_cast<std::size_t>(chunk.begin - layer)].cells;
    };
    std::vector<LayerVerdict> verdicts(slices.size());
    ParallelFor(slices.size(), [&](std::size_t i) {
        const std::int64_t layer = chunk.begin + static_cast<std::int64_t>(i);
        if (layer == 0)
            return;
        verdicts[i] = AnalyseLayer(plan, layer, slices[i], cellsOf(layer - 1), layer >= 2 ? &cellsOf(layer - 2) : nullptr);
    }, 1);
    return verdicts;
}

// Two triangles covering the cell at the cut height, facing up.
void AddSquare(const Plan& plan, std::int64_t layer, std::int64_t row, std::int64_t column, std::vector<Vec3>& squares)
{
    const double cut = plan.CutHeight(layer);
    const double u0 = plan.originU + static_cast<double>(column) * plan.cell;
    const double v0 = plan.originV + static_cast<double>(row) * plan.cell;
    const Vec3 a = PointOnAxes(plan, u0, v0, cut);
    const Vec3 b = PointOnAxes(plan, u0 + plan.cell, v0, cut);
    const Vec3 c = PointOnAxes(plan, u0 + plan.cell, v0 + plan.cell, cut);
    const Vec3 d = PointOnAxes(plan, u0, v0 + plan.cell, cut);
    squares.insert(squares.end(), {a, b, c, a, c, d});
}

// The cells' keys, and their squares when `squares` is given (a drawn layer).
void AddMarkedCells(const Plan& plan, std::int64_t layer, const std::vector<CellRun>& runs, std::uint64_t& kept,
    std::vector<Vec3>* squares, std::vector<std::uint64_t>& keys, PrintabilityReport& report)
{
    for (const CellRun& run : runs) {
        for (std::int32_t column = run.begin; column < run.end; ++column) {
            if (kept == kMaximumDisplayCells) {
                ++report.displayCellsOmitted;
                continue;
            }
            ++kept;
            if (squares != nullptr)
                AddSquare(plan, layer, run.row, column, *squares);
            keys.push_back(PrintCellKey(static_cast<std::uint64_t>(layer), static_cast<std::uint64_t>(run.row),
                static_cast<std::uint64_t>(column)));
        }
    }
}

template <typename T>
void Append(std::vector<T>& to, const std::vector<T>& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

// Adds the chunk's layers to the report in layer order.
void MergeChunk(const Plan& plan, const ChunkCuts& chunk, const std::vector<LayerSlice>& slices,
    const std::vector<LayerVerdict>& verdicts, Totals& totals, PrintabilityReport& report)
{
    for (std::size_t i = 0; i < slices.size(); ++i) {
        const std::int64_t layer = chunk.begin + static_cast<std::int64_t>(i);
        const LayerVerdict& v = verdicts[i];
        Append(report.featuresInAir, v.featuresInAir);
        Append(report.farReaches, v.farReaches);
        Append(report.airPlaces, v.airPlaces);
        Append(report.shortBridges, v.shortBridges);
        report.cantileverLayers += v.cantilevers;
        totals.overhangCells += v.overhangCells;
        totals.longestReachCells = std::max(totals.longestReachCells, v.longestReachCells);
        // The triangles of every layer, so that each place counted is coloured somewhere; the
        // outlines and squares of the shown layers only.
        Append(report.supportTriangles, v.supportTriangles);
        Append(report.farTriangles, v.farTriangles);
        Append(report.bridgeTriangles, v.bridgeTriangles);
        // The keys of every layer too: the sliced view colours each of its layers by them.
        if (!plan.IsShown(layer)) {
            AddMarkedCells(plan, layer, v.supportCells, totals.undrawnCells[0], nullptr, report.supportKeys, report);
            AddMarkedCells(plan, layer, v.farCells, totals.undrawnCells[1], nullptr, report.farKeys, report);
            AddMarkedCells(plan, layer, v.bridgeCells, totals.undrawnCells[2], nullptr, report.bridgeKeys, report);
            continue;
        }
        Append(report.contourSegments, slices[i].segments);
        AddMarkedCells(plan, layer, v.supportCells, totals.displayCells[0], &report.supportSquares, report.supportKeys, report);
        AddMarkedCells(plan, layer, v.farCells, totals.displayCells[1], &report.farSquares, report.farKeys, report);
        AddMarkedCells(plan, layer, v.bridgeCells, totals.displayCells[2], &report.bridgeSquares, report.bridgeKeys, report);
    }
}

// The last two rasters, for the next chunk; their display data is merged already.
std::vector<LayerSlice> KeepLastTwo(std::vector<LayerSlice> carried, std::vector<LayerSlice> slices)
{
    for (LayerSlice& slice : slices)
        carried.push_back({std::move(slice.cells), {}, {}});
    if (carried.size() > 2)
        carried.erase(carried.begin(), carried.end() - 2);
    return carried;
}

void CheckLayers(const TriangleMesh& mesh, const Plan& plan, const TriangleLayers& ranges, PrintabilityReport& report)
{
    const LayerBuckets buckets = BucketByFirstLayer(ranges, plan.layers);
    CutSweep sweep(ranges, buckets, plan.layers);
    std::vector<LayerSlice> carried;
    Totals totals;
    while (!sweep.Done()) {
        const ChunkCuts chunk = ListChunkCuts(plan, sweep);
        std::vector<LayerSlice> slices = RasteriseChunk(mesh, plan, chunk);
        const std::vector<LayerVerdict> verdicts = AnalyseChunk(plan, chunk, carried, slices);
        MergeChunk(plan, chunk, slices, verdicts, totals, report);
        carried = KeepLastTwo(std::move(carried), std::move(slices));
    }
    report.overhangArea = static_cast<float>(static_cast<double>(totals.overhangCells) * plan.cell * plan.cell);
    report.longestReach = static_cast<float>(totals.longestReachCells * plan.cell);
}

template <typename T>
void SortUnique(std::vector<T>& values)
{
    ParallelSort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
}

void FinishDisplayLists(PrintabilityReport& report)
{
    SortUnique(report.supportTriangles);
    SortUnique(report.farTriangles);
    SortUnique(report.bridgeTriangles);
    SortUnique(report.supportKeys);
    SortUnique(report.farKeys);
    SortUnique(report.bridgeKeys);
}

// ----- Driver -----------------------------------------------------------------------------------

PrintabilityRefusal FindMeshFault(const TriangleMesh& mesh)
{
    if (mesh.indices.empty())
        return PrintabilityRefusal::noTriangles;
    if (!mesh.IsConsistent())
        return PrintabilityRefusal::inconsistentMesh;
    if (!HasOnlyFiniteCoordinates(mesh))
        return PrintabilityRefusal::nonFiniteCoordinates;
    return PrintabilityRefusal::none;
}

void DescribeGrid(const Plan& plan, PrintabilityReport& report)
{
    report.layers = static_cast<std::uint64_t>(plan.layers);
    report.cellsPerLayer = static_cast<std::uint64_t>(plan.columns) * static_cast<std::uint64_t>(plan.rows);
    report.cellSize = static_cast<float>(plan.cell);
    report.originX = static_cast<float>(plan.originU);
    report.originY = static_cast<float>(plan.originV);
    report.upAxis = plan.up;
}

PrintabilityReport RunCheck(const TriangleMesh& mesh, const PrintabilitySettings& given)
{
    PrintabilityReport report;
    report.refusal = FindMeshFault(mesh);
    if (report.refusal != PrintabilityRefusal::none)
        return report;
    const PrintabilitySettings settings = UsableSettings(given);
    Plan plan;
    report.refusal = PlanGrid(MeasureUsedVertices(mesh), settings, plan);
    if (report.refusal != PrintabilityRefusal::none)
        return report;
    const FaceAreas areas = MeasureFaces(mesh, plan);
    report.surfaceArea = static_cast<float>(areas.surface);
    report.downwardArea = static_cast<float>(areas.downward);
    CheckLayers(mesh, plan, AssignTrianglesToLayers(mesh, plan), report);
    FinishDisplayLists(report);
    DescribeGrid(plan, report);
    report.checked = true;
    return report;
}

// ----- Texts ------------------------------------------------------------------------------------

std::string Fixed(double value, int decimals)
{
    char buffer[400];  // the largest double in fixed notation needs 310 characters
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

std::string Counted(std::size_t count, const char* one, const char* many)
{
    return FormatCountGrouped(count) + std::string(PluralWord(count, one, many));
}

std::string FarAndBridgeClauses(const PrintabilityReport& r)
{
    std::string text;
    if (!r.farReaches.empty())
        text += ", and " + Counted(r.farReaches.size(), " layer reaches", " layers reach") + " far past the layer below";
    if (!r.shortBridges.empty())
        text += "; " + Counted(r.shortBridges.size(), " short bridge", " short bridges") + " to check";
    return text;
}

}  // namespace

// ----- Public functions -------------------------------------------------------------------------

bool PrintabilitySettingsEquals(const PrintabilitySettings& a, const PrintabilitySettings& b)
{
    return a.layerHeight == b.layerHeight && a.lineWidth == b.lineWidth && a.upAxis == b.upAxis
        && a.cellSize == b.cellSize && a.overhangAllowance == b.overhangAllowance && a.minimumArea == b.minimumArea
        && a.bridgeLength == b.bridgeLength && a.cantileverDistance == b.cantileverDistance
        && a.warningDistance == b.warningDistance && a.overhangAngleDegrees == b.overhangAngleDegrees
        && a.collectDisplay == b.collectDisplay && a.displayLayers == b.displayLayers;
}

PrintabilityReport CheckPrintability(const TriangleMesh& mesh, const PrintabilitySettings& settings)
{
    const auto start = std::chrono::steady_clock::now();
    PrintabilityReport report;
    try {
        report = RunCheck(mesh, settings);
    } catch (const std::bad_alloc&) {
        report = PrintabilityReport{};
        report.refusal = PrintabilityRefusal::outOfMemory;
    } catch (const std::length_error&) {  // a vector asked for more than it can hold
        report = PrintabilityReport{};
        report.refusal = PrintabilityRefusal::outOfMemory;
    }
    report.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return report;
}

std::uint64_t PrintCellKey(std::uint64_t layer, std::uint64_t row, std::uint64_t column)
{
    return (layer << 40) | (row << 20) | column;
}

bool IsNearMarkedCell(std::int64_t column, std::int64_t row, std::int64_t layer, const std::vector<std::uint64_t>& keys)
{
    if (layer < 0 || layer >= (std::int64_t{1} << 24))
        return false;
    for (std::int64_t dy = -1; dy <= 1; ++dy) {
        for (std::int64_t dx = -1; dx <= 1; ++dx) {
            const std::int64_t r = row + dy;
            const std::int64_t c = column + dx;
            if (r < 0 || c < 0 || r >= kKeyFieldSize || c >= kKeyFieldSize)
                continue;
            const std::uint64_t key = PrintCellKey(static_cast<std::uint64_t>(layer), static_cast<std::uint64_t>(r),
                static_cast<std::uint64_t>(c));
            if (std::binary_search(keys.begin(), keys.end(), key))
                return true;
        }
    }
    return false;
}

std::string FormatPrintabilitySummary(const PrintabilityReport& r)
{
    if (!r.checked)
        return "not checked";
    const std::string places = Counted(r.airPlaces.size(), " place is", " places are") + " laid in the air";
    if (!r.featuresInAir.empty()) {
        std::string text = Counted(r.featuresInAir.size(), " feature starts", " features start") + " in the air";
        if (!r.airPlaces.empty())
            text += ", " + places;
        return text + ": support needed" + FarAndBridgeClauses(r);
    }
    if (!r.airPlaces.empty())
        return places + ": support needed" + FarAndBridgeClauses(r);
    if (!r.farReaches.empty()) {
        std::string text = Counted(r.farReaches.size(), " layer reaches ", " layers reach up to ")
            + Fixed(r.longestReach, 1) + " mm past the layer below: support recommended";
        if (!r.shortBridges.empty())
            text += "; " + Counted(r.shortBridges.size(), " short bridge", " short bridges") + " to check";
        return text;
    }
    if (r.shortBridges.empty())
        return "prints without support";
    return "prints without support; "
        + Counted(r.shortBridges.size(), " short bridge depends", " short bridges depend") + " on the printer";
}

std::string FormatPrintabilityReport(const PrintabilityReport& r)
{
    if (!r.checked)
        return "Printability: not checked\n";
    std::string text = "Printability: " + FormatPrintabilitySummary(r) + " (" + FormatCountGrouped(r.layers)
        + " layers of " + FormatCountGrouped(r.cellsPerLayer) + " cells of " + Fixed(r.cellSize, 2) + " mm, "
        + Fixed(r.milliseconds, 0) + " ms)\n";
    text += "  longest reach past the layer below " + Fixed(r.longestReach, 2) + " mm";
    if (r.cantileverLayers != 0)
        text += "; " + FormatCountOf(r.cantileverLayers, "layer", "layers")
            + " past the cantilever distance but short of the warning";
    text += "\n  faces flatter than the support threshold, facing down, off the bed: " + Fixed(r.downwardArea, 0)
        + " of " + Fixed(r.surfaceArea, 0) + " mm2 (what the slicer highlights and supports; not a fault)\n";
    if (!r.contourSegments.empty()) {
        text += "  shown: " + FormatCountGrouped(r.supportTriangles.size()) + " triangles needing support, "
            + FormatCountGrouped(r.farTriangles.size()) + " reaching far, " + FormatCountGrouped(r.bridgeTriangles.size())
            + " bridging, " + FormatCountGrouped(r.contourSegments.size()) + " contour lines\n";
    }
    return text;
}

std::string FormatPrintabilityRefusal(PrintabilityRefusal refusal)
{
    switch (refusal) {
    case PrintabilityRefusal::none:
        return "";
    case PrintabilityRefusal::noTriangles:
        return "the mesh has no triangles";
    case PrintabilityRefusal::inconsistentMesh:
        return "the mesh is inconsistent: an index is out of range or the index count is not a multiple of 3";
    case PrintabilityRefusal::nonFiniteCoordinates:
        return "the mesh has a coordinate that is not a finite number";
    case PrintabilityRefusal::tooManyLayers:
        return "the part is more than 1000000 layers tall at this layer height";
    case PrintabilityRefusal::outOfMemory:
        return "the check ran out of memory";
    }
    return "unknown reason " + std::to_string(static_cast<std::int32_t>(refusal));
}

// ----- Chamfer distances ------------------------------------------------------------------------

namespace detail {

namespace {

// One forward sweep (row-major, reading the cells before) and one backward sweep (reading the
// cells after); true when a distance changed.
bool SweepPair(std::vector<float>& d, std::size_t width, const std::vector<CellRun>& open)
{
    bool changed = false;
    const auto relax = [&](std::size_t i, float candidate) {
        if (candidate < d[i]) {
            d[i] = candidate;
            changed = true;
        }
    };
    for (const CellRun& run : open) {
        for (auto c = static_cast<std::size_t>(run.begin); c < static_cast<std::size_t>(run.end); ++c) {
            const std::size_t i = static_cast<std::size_t>(run.row) * width + c;
            relax(i, std::min({d[i - 1] + kSideStep, d[i - width - 1] + kDiagonalStep, d[i - width] + kSideStep,
                d[i - width + 1] + kDiagonalStep}));
        }
    }
    for (auto run = open.rbegin(); run != open.rend(); ++run) {
        for (auto c = static_cast<std::size_t>(run->end); c-- > static_cast<std::size_t>(run->begin);) {
            const std::size_t i = static_cast<std::size_t>(run->row) * width + c;
            relax(i, std::min({d[i + 1] + kSideStep, d[i + width + 1] + kDiagonalStep, d[i + width] + kSideStep,
                d[i + width - 1] + kDiagonalStep}));
        }
    }
    return changed;
}

// Dijkstra's search from every cell with a finite distance (each one the length of a real path),
// relaxing open cells only.
void SettleByShortestPaths(std::vector<float>& d, std::size_t width, const std::vector<CellRun>& open)
{
    std::vector<std::uint8_t> isOpen(d.size(), 0);
    for (const CellRun& run : open)
        std::fill_n(isOpen.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(run.row) * width) + run.begin,
            run.end - run.begin, std::uint8_t{1});
    using Entry = std::pair<float, std::size_t>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
    for (std::size_t i = 0; i < d.size(); ++i) {
        if (d[i] != kFar)
            queue.push({d[i], i});
    }
    const std::size_t height = d.size() / width;
    while (!queue.empty()) {
        const auto [distance, i] = queue.top();
        queue.pop();
        if (distance > d[i])
            continue;
        const std::size_t row = i / width;
        const std::size_t column = i % width;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                if ((dx == 0 && dy == 0) || (row == 0 && dy < 0) || (row + 1 == height && dy > 0)
                    || (column == 0 && dx < 0) || (column + 1 == width && dx > 0))
                    continue;
                const std::size_t j = (row + static_cast<std::size_t>(dy)) * width + column + static_cast<std::size_t>(dx);
                const float candidate = distance + (dx != 0 && dy != 0 ? kDiagonalStep : kSideStep);
                if (isOpen[j] != 0 && candidate < d[j]) {
                    d[j] = candidate;
                    queue.push({candidate, j});
                }
            }
        }
    }
}

}  // namespace

int SweepChamferDistances(std::vector<float>& distances, std::size_t width, const std::vector<CellRun>& open,
    int maximumSweepPairs)
{
    int pairs = 0;
    while (true) {
        if (pairs >= maximumSweepPairs) {
            SettleByShortestPaths(distances, width, open);
            return pairs;
        }
        ++pairs;
        if (!SweepPair(distances, width, open))
            return pairs;
    }
}

}  // namespace detail

}  // namespace grainforge::mesh
