// The outlines are simplified with the method of D. H. Douglas and T. K. Peucker, "Algorithms
// for the reduction of the number of points required to represent a digitized line or its
// caricature", The Canadian Cartographer 10(2), 1973.
#include "engine/pipeline/sliced_preview.h"
#include "engine/mesh/report_text.h"

#include "engine/mesh/fnv_hash.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <utility>

namespace grainforge::mesh {
namespace {

using detail::SliceChain;
using detail::SlicedPreviewLimits;
using detail::SlicePoint;
using detail::SliceSegment;

// Layer i is cut at (i + kCutFraction) layer heights above the part's bottom: just above
// mid-layer, so that a face lying on a layer boundary (the bed, a top a whole number of
// layers high) is never the cutting plane itself.
constexpr double kCutFraction = 0.5137;
constexpr double kKeysPerMillimetre = 10000.0;  // cut points within 0.0001 mm are one point
constexpr float kShortestCut = 1e-6f;           // shorter on both plane axes: no segment
constexpr std::uint64_t kLeastBudget = 1000;
constexpr float kLeastLayerHeight = 0.01f;
constexpr float kLeastLineWidth = 0.05f;
constexpr float kLargestLength = 1000.0f;  // layer height and line width: a metre, past any bed
constexpr double kLeastSkinCell = 0.05;
// Occupancy grids rasterised side by side in the skin pass, in bytes.
constexpr std::uint64_t kSkinBatchBytes = std::uint64_t{64} << 20;
constexpr std::size_t kMaxSkinBatch = 64;
constexpr std::size_t kTriangleGrain = std::size_t{1} << 14;
constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// The layer set-up shared by every step: axes, heights and widths after clamping.
struct LayerFrame {
    int up = 2;
    int u = 0;  // plane axes: u = (up + 1) mod 3, v = (up + 2) mod 3
    int v = 1;
    double z0 = 0.0;     // bottom of the part along the up axis
    double height = 0.2;  // layer height
    std::uint64_t layers = 1;
    float halfWidth = 0.21f;
    float tolerance = 0.0f;
};

struct PartBox {
    Vec3 low;
    Vec3 high;
};

float Along(Vec3 p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

float& SlotOf(Vec3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

// The point with plane coordinates (u, v) at `height` on the up axis.
Vec3 OnAxes(const LayerFrame& frame, float u, float v, float height)
{
    Vec3 p;
    SlotOf(p, frame.u) = u;
    SlotOf(p, frame.v) = v;
    SlotOf(p, frame.up) = height;
    return p;
}

// Output coordinates are computed in double; far out on a part near the float range a skin
// cell's edge could pass it, so they are held at the largest float.
float ToFloatHeld(double value)
{
    constexpr double largest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value, -largest, largest));
}

double CutHeight(const LayerFrame& frame, std::uint64_t layer)
{
    return (static_cast<double>(layer) + kCutFraction) * frame.height + frame.z0;
}

// ---- Checking the input and setting up the layers ----

SlicedPreviewRefusal FindRefusal(const TriangleMesh& mesh, const SlicedPreviewSettings& settings)
{
    if (mesh.indices.empty())
        return SlicedPreviewRefusal::noTriangles;
    if (!mesh.IsConsistent())
        return SlicedPreviewRefusal::inconsistentMesh;
    // The layer lists number triangles in 32 bits.
    if (mesh.TriangleCount() > std::numeric_limits<std::uint32_t>::max())
        return SlicedPreviewRefusal::tooManyCuts;
    if (!HasOnlyFiniteCoordinates(mesh))
        return SlicedPreviewRefusal::nonFiniteCoordinates;
    if (!std::isfinite(settings.layerHeightMillimetres) || !std::isfinite(settings.lineWidthMillimetres)
        || std::isnan(settings.toleranceMillimetres))
        return SlicedPreviewRefusal::nonFiniteSettings;
    return SlicedPreviewRefusal::none;
}

// Box of every vertex, used or not, measured here rather than taken from the mesh: a box that
// is stale or was never computed would put the layers beside the part. Coordinates are finite.
PartBox MeasureBox(const TriangleMesh& mesh)
{
    const std::size_t count = mesh.vertices.size();
    constexpr std::size_t grain = std::size_t{1} << 15;
    std::vector<PartBox> parts((count + grain - 1) / grain);
    ParallelForBlocks(count, grain, [&](std::size_t begin, std::size_t end) {
        PartBox box{mesh.vertices[begin].position, mesh.vertices[begin].position};
        for (std::size_t i = begin + 1; i < end; ++i) {
            const Vec3 p = mesh.vertices[i].position;
            box.low = {std::min(box.low.x, p.x), std::min(box.low.y, p.y), std::min(box.low.z, p.z)};
            box.high = {std::max(box.high.x, p.x), std::max(box.high.y, p.y), std::max(box.high.z, p.z)};
        }
        parts[begin / grain] = box;
    });
    PartBox box = parts.front();
    for (const PartBox& part : parts) {
        box.low = {std::min(box.low.x, part.low.x), std::min(box.low.y, part.low.y), std::min(box.low.z, part.low.z)};
        box.high = {std::max(box.high.x, part.high.x), std::max(box.high.y, part.high.y),
            std::max(box.high.z, part.high.z)};
    }
    return box;
}

// The frame with its layer count left at 0; the count wanted (possibly huge) is returned apart
// so that it is checked against the limit before anything is sized by it.
LayerFrame SetUpLayers(const PartBox& box, const SlicedPreviewSettings& settings, double& wantedLayers)
{
    LayerFrame frame;
    frame.up = std::clamp(settings.upAxis, 0, 2);
    frame.u = (frame.up + 1) % 3;
    frame.v = (frame.up + 2) % 3;
    const float height = std::clamp(settings.layerHeightMillimetres, kLeastLayerHeight, kLargestLength);
    frame.height = height;
    frame.halfWidth = std::clamp(settings.lineWidthMillimetres, kLeastLineWidth, kLargestLength) / 2.0f;
    frame.tolerance = settings.toleranceMillimetres;
    frame.z0 = Along(box.low, frame.up);
    // In float, as the settings are: 10 mm at 0.01 mm are 1000 layers, where the double
    // quotient of the float 0.01 (a little under 0.01) gives 1000.00002 and one layer more.
    // An extent past the float range is infinite and refused as too many layers.
    const float extent = Along(box.high, frame.up) - Along(box.low, frame.up);
    wantedLayers = std::max(1.0, static_cast<double>(std::ceil(extent / height)));
    frame.layers = 0;
    return frame;
}

// ---- Sorting the triangles into layers ----

// Triangles of every layer: those of layer l are triangles[offsets[l] .. offsets[l + 1]),
// in triangle order.
struct LayerLists {
    std::vector<std::uint64_t> offsets;
    std::vector<std::uint32_t> triangles;
};

// The first layer whose cut lies at or above z (the layer count when none does). The estimate
// from the division can be one off after rounding; the cut heights themselves decide, so that
// the layers of a triangle are exactly those whose cut its corners straddle.
std::uint64_t FirstLayerAtOrAbove(const LayerFrame& frame, double z)
{
    const double estimate = std::ceil((z - frame.z0) / frame.height - kCutFraction);
    std::uint64_t layer = 0;
    if (estimate >= static_cast<double>(frame.layers))
        layer = frame.layers;
    else if (estimate > 0.0)
        layer = static_cast<std::uint64_t>(estimate);
    while (layer > 0 && CutHeight(frame, layer - 1) >= z)
        --layer;
    while (layer < frame.layers && CutHeight(frame, layer) < z)
        ++layer;
    return layer;
}

// The layers of every triangle, [first, last): a triangle spanning heights lo..hi belongs to
// the layers whose cut c has lo <= c < hi. Returns the number of triangle and layer pairs.
std::uint64_t FindLayerRanges(const TriangleMesh& mesh, const LayerFrame& frame, std::vector<std::uint32_t>& first,
                              std::vector<std::uint32_t>& last)
{
    first.resize(mesh.TriangleCount());
    last.resize(mesh.TriangleCount());
    std::atomic<std::uint64_t> pairs{0};
    ParallelForBlocks(mesh.TriangleCount(), kTriangleGrain, [&](std::size_t begin, std::size_t end) {
        std::uint64_t blockPairs = 0;
        for (std::size_t t = begin; t < end; ++t) {
            double low = std::numeric_limits<double>::infinity();
            double high = -low;
            for (std::size_t k = 0; k < 3; ++k) {
                const double z = Along(mesh.vertices[mesh.indices[3 * t + k]].position, frame.up);
                low = std::min(low, z);
                high = std::max(high, z);
            }
            first[t] = static_cast<std::uint32_t>(FirstLayerAtOrAbove(frame, low));
            last[t] = static_cast<std::uint32_t>(FirstLayerAtOrAbove(frame, high));
            blockPairs += last[t] - first[t];
        }
        pairs.fetch_add(blockPairs, std::memory_order_relaxed);
    });
    return pairs.load();
}

// A counting sort of the triangles into their layers. Each triangle covers a run of layers,
// so a difference array counts the lists.
LayerLists FillLayerLists(const std::vector<std::uint32_t>& first, const std::vector<std::uint32_t>& last,
                          std::uint64_t layerCount, std::uint64_t pairs)
{
    std::vector<std::uint64_t> change(layerCount + 1, 0);
    for (std::size_t t = 0; t < first.size(); ++t) {
        ++change[first[t]];
        --change[last[t]];  // wraps, and the running sum wraps back
    }
    LayerLists lists;
    lists.offsets.assign(layerCount + 1, 0);
    std::uint64_t running = 0;
    for (std::uint64_t layer = 0; layer < layerCount; ++layer) {
        running += change[layer];
        lists.offsets[layer + 1] = lists.offsets[layer] + running;
    }
    lists.triangles.resize(pairs);
    std::vector<std::uint64_t> cursor(lists.offsets.begin(), lists.offsets.end() - 1);
    for (std::size_t t = 0; t < first.size(); ++t) {
        for (std::uint32_t layer = first[t]; layer < last[t]; ++layer)
            lists.triangles[cursor[layer]++] = static_cast<std::uint32_t>(t);
    }
    return lists;
}

// The triangles of every layer, or false, with the lists empty, when the triangle and layer
// pairs are more than `maxCuts`; they are counted before the lists are sized.
bool SortTrianglesIntoLayers(const TriangleMesh& mesh, const LayerFrame& frame, std::uint64_t maxCuts,
                             LayerLists& lists)
{
    std::vector<std::uint32_t> first;
    std::vector<std::uint32_t> last;
    const std::uint64_t pairs = FindLayerRanges(mesh, frame, first, last);
    if (pairs > maxCuts)
        return false;
    lists = FillLayerLists(first, last, frame.layers, pairs);
    return true;
}

// ---- Cutting a layer ----

// The crossing of edge (a, b) with the plane at height z, interpolated from the edge's lower
// end, so that both triangles on the edge get the same bits and their cuts join.
SlicePoint Crossing(Vec3 a, Vec3 b, const LayerFrame& frame, double z)
{
    if (Along(a, frame.up) > Along(b, frame.up))
        std::swap(a, b);
    const double za = Along(a, frame.up);
    const double t = (z - za) / (static_cast<double>(Along(b, frame.up)) - za);
    const double ua = Along(a, frame.u);
    const double va = Along(a, frame.v);
    return {static_cast<float>(ua + (static_cast<double>(Along(b, frame.u)) - ua) * t),
        static_cast<float>(va + (static_cast<double>(Along(b, frame.v)) - va) * t)};
}

// The cut of triangle t by the plane at height z, with the solid on its left; false when the
// plane misses it. A corner on the plane counts as below, so a closed part's cut is closed.
// The direction comes from the corner order, which is the side the face normal points to
// without the rounding of a nearly flat face's normal.
bool CutTriangle(const TriangleMesh& mesh, std::size_t t, const LayerFrame& frame, double z, SliceSegment& cut)
{
    Vec3 corner[3];
    bool above[3];
    int aboveCount = 0;
    for (std::size_t k = 0; k < 3; ++k) {
        corner[k] = mesh.vertices[mesh.indices[3 * t + k]].position;
        above[k] = static_cast<double>(Along(corner[k], frame.up)) > z;
        aboveCount += above[k] ? 1 : 0;
    }
    if (aboveCount == 0 || aboveCount == 3)
        return false;
    // The corner alone on its side of the plane.
    const bool loneAbove = aboveCount == 1;
    int lone = 0;
    while (above[lone] != loneAbove)
        ++lone;
    const SlicePoint towardNext = Crossing(corner[lone], corner[(lone + 1) % 3], frame, z);
    const SlicePoint fromPrevious = Crossing(corner[(lone + 2) % 3], corner[lone], frame, z);
    cut = loneAbove ? SliceSegment{towardNext, fromPrevious} : SliceSegment{fromPrevious, towardNext};
    return true;
}

bool IsPointLike(const SliceSegment& s)
{
    return std::fabs(s.end.u - s.start.u) < kShortestCut && std::fabs(s.end.v - s.start.v) < kShortestCut;
}

// The cuts of a layer's triangles in triangle order. The outlines drop point-like cuts; the
// skins keep them, as each still carries its share of a row's crossings.
std::vector<SliceSegment> CutLayer(const TriangleMesh& mesh, const LayerFrame& frame, const LayerLists& lists,
                                   std::uint64_t layer, bool keepPointLike)
{
    const double z = CutHeight(frame, layer);
    std::vector<SliceSegment> cuts;
    cuts.reserve(lists.offsets[layer + 1] - lists.offsets[layer]);
    SliceSegment cut;
    for (std::uint64_t i = lists.offsets[layer]; i < lists.offsets[layer + 1]; ++i) {
        if (CutTriangle(mesh, lists.triangles[i], frame, z, cut) && (keepPointLike || !IsPointLike(cut)))
            cuts.push_back(cut);
    }
    return cuts;
}

// ---- Joining cuts into chains ----

struct PointKey {
    std::int64_t u = 0;
    std::int64_t v = 0;
    friend bool operator==(const PointKey&, const PointKey&) = default;
};

std::int64_t Quantised(float value)
{
    // Held inside the 64-bit range; points that far out share keys, which costs joins, not safety.
    const double scaled = std::clamp(static_cast<double>(value) * kKeysPerMillimetre, -9.0e18, 9.0e18);
    return std::llround(scaled);
}

PointKey KeyOf(SlicePoint p) { return {Quantised(p.u), Quantised(p.v)}; }

// FNV-1a, 64 bits, over the key's bytes.
std::uint64_t HashOf(const PointKey& key)
{
    return Fnv1a(Fnv1a(kFnvOffsetBasis, &key.u, sizeof key.u), &key.v, sizeof key.v);
}

// A hash multimap from a start point's key to the segments starting there: open addressing
// over the distinct keys, and the segments of one key linked in segment order.
class StartPointIndex {
public:
    explicit StartPointIndex(const std::vector<PointKey>& startKeys) : next_(startKeys.size(), kNone)
    {
        std::size_t slots = 16;
        while (slots < 2 * startKeys.size())
            slots *= 2;
        keys_.resize(slots);
        head_.assign(slots, kNone);
        tail_.assign(slots, kNone);
        for (std::size_t s = 0; s < startKeys.size(); ++s) {
            const std::size_t slot = SlotOf(startKeys[s]);
            if (head_[slot] == kNone) {
                keys_[slot] = startKeys[s];
                head_[slot] = static_cast<std::uint32_t>(s);
            } else {
                next_[tail_[slot]] = static_cast<std::uint32_t>(s);
            }
            tail_[slot] = static_cast<std::uint32_t>(s);
        }
    }

    // The first segment starting at `key`, or kNone; Next gives the others in order.
    std::uint32_t First(const PointKey& key) const { return head_[SlotOf(key)]; }
    std::uint32_t Next(std::uint32_t segment) const { return next_[segment]; }

private:
    // The slot holding `key`, or the empty slot where it would go.
    std::size_t SlotOf(const PointKey& key) const
    {
        const std::size_t mask = keys_.size() - 1;
        std::size_t slot = static_cast<std::size_t>(HashOf(key)) & mask;
        while (head_[slot] != kNone && !(keys_[slot] == key))
            slot = (slot + 1) & mask;
        return slot;
    }

    std::vector<PointKey> keys_;
    std::vector<std::uint32_t> head_;
    std::vector<std::uint32_t> tail_;
    std::vector<std::uint32_t> next_;
};

// Segments in the order chains start from them: first those that no segment leads into (the
// ends of open cuts, so that an open cut is one chain and not split where the scan met it),
// then all, in segment order; segments used by then are passed over.
std::vector<std::uint32_t> OrderChainStarts(const std::vector<PointKey>& endKeys, const StartPointIndex& index)
{
    const auto count = static_cast<std::uint32_t>(endKeys.size());
    std::vector<std::uint8_t> ledInto(count, 0);
    for (const PointKey& end : endKeys) {
        for (std::uint32_t s = index.First(end); s != kNone; s = index.Next(s))
            ledInto[s] = 1;
    }
    std::vector<std::uint32_t> order;
    order.reserve(2 * std::size_t{count});
    for (std::uint32_t s = 0; s < count; ++s) {
        if (!ledInto[s])
            order.push_back(s);
    }
    for (std::uint32_t s = 0; s < count; ++s)
        order.push_back(s);
    return order;
}

// The chain from segment `first`: it grows while an unused segment starts at its end, taken
// before closing, and closes when only used segments start there and its own first is among them.
SliceChain FollowChain(const std::vector<SliceSegment>& segments, const std::vector<PointKey>& endKeys,
                       const StartPointIndex& index, std::vector<std::uint8_t>& used, std::uint32_t first)
{
    SliceChain chain;
    chain.points = {segments[first].start, segments[first].end};
    used[first] = 1;
    std::uint32_t last = first;
    for (;;) {
        std::uint32_t continuation = kNone;
        bool closing = false;
        for (std::uint32_t s = index.First(endKeys[last]); s != kNone; s = index.Next(s)) {
            if (!used[s]) {
                continuation = s;
                break;
            }
            closing = closing || s == first;
        }
        if (continuation == kNone) {
            if (closing) {
                chain.points.pop_back();  // the first point again
                chain.closed = true;
            }
            return chain;
        }
        used[continuation] = 1;
        chain.points.push_back(segments[continuation].end);
        last = continuation;
    }
}

// ---- Simplifying outlines ----

double DistanceToSegment(SlicePoint p, SlicePoint a, SlicePoint b)
{
    const double du = static_cast<double>(b.u) - a.u;
    const double dv = static_cast<double>(b.v) - a.v;
    const double pu = static_cast<double>(p.u) - a.u;
    const double pv = static_cast<double>(p.v) - a.v;
    const double lengthSquared = du * du + dv * dv;
    const double t = lengthSquared > 0.0 ? std::clamp((pu * du + pv * dv) / lengthSquared, 0.0, 1.0) : 0.0;
    const double eu = pu - du * t;
    const double ev = pv - dv * t;
    return std::sqrt(eu * eu + ev * ev);
}

// Douglas-Peucker with an explicit stack of index ranges: the points to keep.
std::vector<std::uint8_t> MarkKeptPoints(const std::vector<SlicePoint>& points, double tolerance)
{
    std::vector<std::uint8_t> keep(points.size(), 0);
    keep.front() = 1;
    keep.back() = 1;
    std::vector<std::pair<std::size_t, std::size_t>> ranges{{0, points.size() - 1}};
    while (!ranges.empty()) {
        const auto [a, b] = ranges.back();
        ranges.pop_back();
        double farthest = -1.0;
        std::size_t middle = a;
        for (std::size_t i = a + 1; i < b; ++i) {
            const double distance = DistanceToSegment(points[i], points[a], points[b]);
            if (distance > farthest) {
                farthest = distance;
                middle = i;
            }
        }
        if (middle != a && farthest > tolerance) {
            keep[middle] = 1;
            ranges.push_back({a, middle});
            ranges.push_back({middle, b});
        }
    }
    return keep;
}

// Bead segments a simplified chain draws; a closed chain too small to enclose anything is
// emptied and draws none.
std::uint64_t CountBeadSegments(SliceChain& chain)
{
    if (chain.closed && chain.points.size() < 3)
        chain.points.clear();
    if (chain.points.size() < 2)
        return 0;
    return chain.closed ? chain.points.size() : chain.points.size() - 1;
}

// ---- Slicing every layer ----

struct LayerOutlines {
    std::vector<SliceChain> chains;  // simplified, only those that draw
    std::uint64_t cuts = 0;
    std::uint64_t outlines = 0;
    std::uint64_t openChains = 0;
    std::uint64_t beadSegments = 0;
};

LayerOutlines OutlineLayer(const TriangleMesh& mesh, const LayerFrame& frame, const LayerLists& lists,
                           std::uint64_t layer)
{
    const std::vector<SliceSegment> cuts = CutLayer(mesh, frame, lists, layer, false);
    LayerOutlines result;
    result.cuts = cuts.size();
    for (SliceChain& chain : detail::ChainSliceSegments(cuts)) {
        ++(chain.closed ? result.outlines : result.openChains);
        detail::SimplifySliceChain(chain, frame.tolerance);
        const std::uint64_t segments = CountBeadSegments(chain);
        if (segments == 0)
            continue;
        result.beadSegments += segments;
        result.chains.push_back(std::move(chain));
    }
    return result;
}

// Every layer on its own, in parallel; each writes its own slot.
std::vector<LayerOutlines> OutlineLayers(const TriangleMesh& mesh, const LayerFrame& frame, const LayerLists& lists)
{
    std::vector<LayerOutlines> layers(frame.layers);
    ParallelForBlocks(layers.size(), 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t layer = begin; layer < end; ++layer)
            layers[layer] = OutlineLayer(mesh, frame, lists, layer);
    });
    return layers;
}

std::vector<std::uint64_t> BeadSegmentsPerLayer(const std::vector<LayerOutlines>& layers)
{
    std::vector<std::uint64_t> segments(layers.size());
    for (std::size_t i = 0; i < layers.size(); ++i)
        segments[i] = layers[i].beadSegments;
    return segments;
}

void AddUpCounts(SlicedPreview& preview, const std::vector<LayerOutlines>& layers)
{
    for (const LayerOutlines& layer : layers) {
        preview.cutsBeforeSimplifying += layer.cuts;
        preview.outlines += layer.outlines;
        preview.openChains += layer.openChains;
    }
}

// ---- Bead strips ----

struct Direction2 {
    float u = 0.0f;
    float v = 0.0f;
};

// Unit normal of segment a-b on its right, outward for an outline with the solid on its left;
// zero for a segment of no length. In double: across a part near the float range the
// difference alone would overflow a float.
Direction2 OutwardNormal(SlicePoint a, SlicePoint b)
{
    const double du = static_cast<double>(b.u) - a.u;
    const double dv = static_cast<double>(b.v) - a.v;
    const double length = std::sqrt(du * du + dv * dv);
    if (length == 0.0)
        return {};
    return {static_cast<float>(dv / length), static_cast<float>(-du / length)};
}

struct Mitre {
    Direction2 direction;
    float factor = 1.0f;
};

// Offset direction and mitre length at point i: the mean of the two segments' normals, the
// offset lengthened by up to 2 so that the bead keeps its width round a corner.
Mitre MitreAt(const SliceChain& chain, std::size_t i)
{
    const std::vector<SlicePoint>& p = chain.points;
    const std::size_t n = p.size();
    if (!chain.closed && i == 0)
        return {OutwardNormal(p[0], p[1]), 1.0f};
    if (!chain.closed && i == n - 1)
        return {OutwardNormal(p[n - 2], p[n - 1]), 1.0f};
    const Direction2 before = OutwardNormal(p[(i + n - 1) % n], p[i]);
    const Direction2 after = OutwardNormal(p[i], p[(i + 1) % n]);
    const Direction2 sum{before.u + after.u, before.v + after.v};
    const float length = std::sqrt(sum.u * sum.u + sum.v * sum.v);
    if (!(length > 1e-6f))
        return {before, 1.0f};
    const Direction2 m{sum.u / length, sum.v / length};
    return {m, std::min(2.0f, 1.0f / std::max(0.5f, m.u * before.u + m.v * before.v))};
}

// Where the next strip or skin quad is written, and the vertex number it starts at.
struct MeshSlots {
    MeshVertex* vertices = nullptr;
    std::uint32_t* indices = nullptr;
    std::uint32_t* layers = nullptr;
    std::uint32_t firstVertex = 0;
};

struct BeadShape {
    float centre = 0.0f;
    float top = 0.0f;
    float bottom = 0.0f;
    float halfWidth = 0.0f;
    std::uint32_t layer = 0;
};

void AddTriangle(MeshSlots& slots, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t layer)
{
    *slots.indices++ = a;
    *slots.indices++ = b;
    *slots.indices++ = c;
    *slots.layers++ = layer;
}

// A triangular profile along the chain: its outer edge on the outline at mid-height, its top and
// bottom edges half a width inside. Three vertices a point, four triangles a segment.
void WriteBeadStrip(const SliceChain& chain, const LayerFrame& frame, const BeadShape& shape, MeshSlots& slots)
{
    const std::size_t n = chain.points.size();
    const Vec3 up = OnAxes(frame, 0.0f, 0.0f, 1.0f);
    const Vec3 down = OnAxes(frame, 0.0f, 0.0f, -1.0f);
    for (std::size_t i = 0; i < n; ++i) {
        const SlicePoint p = chain.points[i];
        const Mitre mitre = MitreAt(chain, i);
        const float reach = shape.halfWidth * mitre.factor;
        const float innerU = p.u - mitre.direction.u * reach;
        const float innerV = p.v - mitre.direction.v * reach;
        const Vec3 outward = OnAxes(frame, mitre.direction.u, mitre.direction.v, 0.0f);
        *slots.vertices++ = {OnAxes(frame, p.u, p.v, shape.centre), outward};
        *slots.vertices++ = {OnAxes(frame, innerU, innerV, shape.top), up};
        *slots.vertices++ = {OnAxes(frame, innerU, innerV, shape.bottom), down};
    }
    const std::size_t segments = chain.closed ? n : n - 1;
    for (std::size_t i = 0; i < segments; ++i) {
        const std::uint32_t bi = slots.firstVertex + static_cast<std::uint32_t>(3 * i);
        const std::uint32_t bj = slots.firstVertex + static_cast<std::uint32_t>(3 * ((i + 1) % n));
        AddTriangle(slots, bi, bj, bj + 1, shape.layer);
        AddTriangle(slots, bi, bj + 1, bi + 1, shape.layer);
        AddTriangle(slots, bi, bj + 2, bj, shape.layer);
        AddTriangle(slots, bi, bi + 2, bj + 2, shape.layer);
    }
    slots.firstVertex += static_cast<std::uint32_t>(3 * n);
}

std::vector<std::uint64_t> DrawnLayers(std::uint64_t layerCount, std::uint64_t step)
{
    std::vector<std::uint64_t> drawn;
    for (std::uint64_t layer = 0; layer < layerCount; layer += step)
        drawn.push_back(layer);
    return drawn;
}

MeshSlots SlotsAt(SlicedPreview& preview, std::uint64_t vertex, std::uint64_t triangle)
{
    return {preview.mesh.vertices.data() + vertex, preview.mesh.indices.data() + 3 * triangle,
        preview.triangleLayers.data() + triangle, static_cast<std::uint32_t>(vertex)};
}

void GrowMesh(SlicedPreview& preview, std::uint64_t vertices, std::uint64_t triangles)
{
    preview.mesh.vertices.resize(preview.mesh.vertices.size() + vertices);
    preview.mesh.indices.resize(preview.mesh.indices.size() + 3 * triangles);
    preview.triangleLayers.resize(preview.triangleLayers.size() + triangles);
}

// The drawn layers' strips, each layer into its own place in the mesh, in parallel.
void WriteBeads(SlicedPreview& preview, const std::vector<LayerOutlines>& layers, const LayerFrame& frame,
                const std::vector<std::uint64_t>& drawn)
{
    std::vector<std::uint64_t> firstVertex(drawn.size() + 1, 0);
    std::vector<std::uint64_t> firstTriangle(drawn.size() + 1, 0);
    for (std::size_t j = 0; j < drawn.size(); ++j) {
        std::uint64_t points = 0;
        for (const SliceChain& chain : layers[drawn[j]].chains)
            points += chain.points.size();
        firstVertex[j + 1] = firstVertex[j] + 3 * points;
        firstTriangle[j + 1] = firstTriangle[j] + 4 * layers[drawn[j]].beadSegments;
        preview.beadSegments += layers[drawn[j]].beadSegments;
    }
    GrowMesh(preview, firstVertex.back(), firstTriangle.back());
    const double step = static_cast<double>(preview.layerStep);
    const double halfHeight = frame.height * step / 2.0;
    ParallelForBlocks(drawn.size(), 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; ++j) {
            // The bead of layer i stands for the layers i to i + step - 1.
            const double centre = (static_cast<double>(drawn[j]) + step / 2.0) * frame.height + frame.z0;
            const BeadShape shape{static_cast<float>(centre), static_cast<float>(centre + halfHeight),
                static_cast<float>(centre - halfHeight), frame.halfWidth, static_cast<std::uint32_t>(drawn[j])};
            MeshSlots slots = SlotsAt(preview, firstVertex[j], firstTriangle[j]);
            for (const SliceChain& chain : layers[drawn[j]].chains)
                WriteBeadStrip(chain, frame, shape, slots);
        }
    });
    preview.drawnLayerCount = drawn.size();
}

// ---- Skins ----

// A layer's cells are one bit each, rows padded to whole 64-bit words: the skin pass compares
// layers 64 cells at a time.
struct SkinGrid {
    double originU = 0.0;
    double originV = 0.0;
    double cell = kLeastSkinCell;
    std::uint64_t columns = 0;
    std::uint64_t rows = 0;
    std::uint64_t wordsPerRow = 0;
};

using CellWord = std::uint64_t;
constexpr std::uint64_t kCellsPerWord = 64;

// Cells of half the line width (at least 0.05 mm), coarser where the part is so large that a
// layer would pass the grid's limit or all drawn layers together the limit on cell visits.
SkinGrid LaySkinGrid(const PartBox& box, const LayerFrame& frame, std::uint64_t drawnLayers,
                     const SlicedPreviewLimits& limits)
{
    const double extentU = static_cast<double>(Along(box.high, frame.u)) - Along(box.low, frame.u);
    const double extentV = static_cast<double>(Along(box.high, frame.v)) - Along(box.low, frame.v);
    const double perLayer = static_cast<double>(std::max<std::uint64_t>(limits.maxSkinCellsPerLayer, 9));
    const double allLayers = static_cast<double>(std::max(limits.maxSkinCellVisits, 9 * drawnLayers));
    SkinGrid grid;
    grid.cell = std::max(kLeastSkinCell, static_cast<double>(frame.halfWidth));
    for (;;) {
        const double columns = std::ceil(extentU / grid.cell) + 2.0;
        const double rows = std::ceil(extentV / grid.cell) + 2.0;
        const double cells = columns * rows;
        const double over = std::max(cells / perLayer, cells * static_cast<double>(drawnLayers) / allLayers);
        if (over <= 1.0 || (columns <= 3.0 && rows <= 3.0)) {
            grid.columns = static_cast<std::uint64_t>(columns);
            grid.rows = static_cast<std::uint64_t>(rows);
            break;
        }
        grid.cell *= std::max(1.01, std::sqrt(over));
    }
    grid.wordsPerRow = (grid.columns + kCellsPerWord - 1) / kCellsPerWord;
    grid.originU = Along(box.low, frame.u) - grid.cell;
    grid.originV = Along(box.low, frame.v) - grid.cell;
    return grid;
}

// The first row (or column) whose centre lies at or past `offset` from the origin, held in
// [0, count].
std::uint64_t FirstCentreAtOrPast(double offset, double cell, std::uint64_t count)
{
    const double index = std::ceil(offset / cell - 0.5);
    if (!(index > 0.0))
        return 0;
    return index >= static_cast<double>(count) ? count : static_cast<std::uint64_t>(index);
}

struct RowSpan {
    std::uint64_t firstRow = 0;
    std::uint64_t endRow = 0;  // past the last
    std::uint32_t segment = 0;
};

// The rows whose centres each segment crosses (lowest end included, highest not), sorted by
// their first row.
std::vector<RowSpan> SpanRows(const std::vector<SliceSegment>& cuts, const SkinGrid& grid)
{
    std::vector<RowSpan> spans;
    for (std::uint32_t s = 0; s < cuts.size(); ++s) {
        const float low = std::min(cuts[s].start.v, cuts[s].end.v);
        const float high = std::max(cuts[s].start.v, cuts[s].end.v);
        const RowSpan span{FirstCentreAtOrPast(low - grid.originV, grid.cell, grid.rows),
            FirstCentreAtOrPast(high - grid.originV, grid.cell, grid.rows), s};
        if (span.firstRow < span.endRow)
            spans.push_back(span);
    }
    std::stable_sort(spans.begin(), spans.end(),
        [](const RowSpan& a, const RowSpan& b) { return a.firstRow < b.firstRow; });
    return spans;
}

struct RowCrossing {
    double u = 0.0;
    int winding = 0;
};

// Sets cells [from, to) of a row.
void SetCells(CellWord* row, std::uint64_t from, std::uint64_t to)
{
    for (std::uint64_t c = from; c < to;) {
        const std::uint64_t bit = c % kCellsPerWord;
        const std::uint64_t count = std::min(kCellsPerWord - bit, to - c);
        const CellWord ones = count == kCellsPerWord ? ~CellWord{0} : ((CellWord{1} << count) - 1) << bit;
        row[c / kCellsPerWord] |= ones;
        c += count;
    }
}

// Fills the cells of one row whose centres lie where the winding number of its crossings is
// not 0.
void FillRow(std::vector<RowCrossing>& crossings, const SkinGrid& grid, CellWord* row)
{
    std::sort(crossings.begin(), crossings.end(),
        [](const RowCrossing& a, const RowCrossing& b) { return a.u < b.u; });
    int winding = 0;
    for (std::size_t i = 0; i + 1 < crossings.size(); ++i) {
        winding += crossings[i].winding;
        if (winding == 0)
            continue;
        const std::uint64_t from = FirstCentreAtOrPast(crossings[i].u - grid.originU, grid.cell, grid.columns);
        SetCells(row, from, FirstCentreAtOrPast(crossings[i + 1].u - grid.originU, grid.cell, grid.columns));
    }
}

// Non-zero winding fill of a layer's cut, row by row. Only the segments crossing the current
// row are held, so memory stays with the segments and one row, whatever the part.
std::vector<CellWord> RasteriseLayer(const std::vector<SliceSegment>& cuts, const SkinGrid& grid)
{
    std::vector<CellWord> filled(grid.wordsPerRow * grid.rows, 0);
    const std::vector<RowSpan> spans = SpanRows(cuts, grid);
    std::vector<RowSpan> active;
    std::vector<RowCrossing> crossings;
    std::size_t nextSpan = 0;
    std::uint64_t row = 0;
    while (nextSpan < spans.size() || !active.empty()) {
        if (active.empty())
            row = spans[nextSpan].firstRow;  // past rows no segment crosses
        while (nextSpan < spans.size() && spans[nextSpan].firstRow <= row)
            active.push_back(spans[nextSpan++]);
        const double centre = grid.originV + (static_cast<double>(row) + 0.5) * grid.cell;
        crossings.clear();
        for (const RowSpan& span : active) {
            const SliceSegment& s = cuts[span.segment];
            const double t = (centre - s.start.v) / (static_cast<double>(s.end.v) - s.start.v);
            const double u = s.start.u + (static_cast<double>(s.end.u) - s.start.u) * t;
            crossings.push_back({u, s.end.v > s.start.v ? 1 : -1});
        }
        FillRow(crossings, grid, filled.data() + row * grid.wordsPerRow);
        ++row;
        std::erase_if(active, [&](const RowSpan& span) { return span.endRow <= row; });
    }
    return filled;
}

// One height where skins lie: the bottom of the drawn layer above, the top of the one below.
// Either side may be missing (below the first drawn layer, above the last).
struct SkinLevel {
    const CellWord* below = nullptr;
    const CellWord* above = nullptr;
    std::uint32_t belowLayer = 0;
    std::uint32_t aboveLayer = 0;
    float height = 0.0f;
};

struct SkinRun {
    std::uint64_t row = 0;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

// Calls visit for every maximal run along a row of cells set in `layer` and not in `other`
// (every set cell when there is no other), a word of 64 cells at a time.
template <class Visit>
void ForEachExposedRun(const CellWord* layer, const CellWord* other, const SkinGrid& grid, Visit&& visit)
{
    if (layer == nullptr)
        return;
    for (std::uint64_t r = 0; r < grid.rows; ++r) {
        const std::uint64_t base = r * grid.wordsPerRow;
        bool inRun = false;
        std::uint64_t first = 0;
        for (std::uint64_t w = 0; w < grid.wordsPerRow; ++w) {
            const CellWord exposed = layer[base + w] & ~(other == nullptr ? CellWord{0} : other[base + w]);
            // Alternately the next exposed cell (a run starts) and the next covered one (it ends).
            for (int bit = 0; bit < 64;) {
                const CellWord rest = (inRun ? ~exposed : exposed) & (~CellWord{0} << bit);
                if (rest == 0)
                    break;
                bit = std::countr_zero(rest);
                if (inRun)
                    visit(SkinRun{r, first, w * kCellsPerWord + static_cast<std::uint64_t>(bit) - 1});
                else
                    first = w * kCellsPerWord + static_cast<std::uint64_t>(bit);
                inRun = !inRun;
            }
        }
        // Cells past the last column are never set, so only a row of whole words ends in a run.
        if (inRun)
            visit(SkinRun{r, first, grid.wordsPerRow * kCellsPerWord - 1});
    }
}

std::uint64_t CountSkinRuns(const SkinLevel& level, const SkinGrid& grid)
{
    std::uint64_t runs = 0;
    const auto count = [&](const SkinRun&) { ++runs; };
    ForEachExposedRun(level.above, level.below, grid, count);
    ForEachExposedRun(level.below, level.above, grid, count);
    return runs;
}

// A run as a quad of two triangles facing up or down.
void WriteSkinQuad(const SkinRun& run, const SkinGrid& grid, const LayerFrame& frame, float height, bool facesUp,
                   std::uint32_t layer, MeshSlots& slots)
{
    const float u0 = ToFloatHeld(grid.originU + static_cast<double>(run.first) * grid.cell);
    const float u1 = ToFloatHeld(grid.originU + static_cast<double>(run.last + 1) * grid.cell);
    const float v0 = ToFloatHeld(grid.originV + static_cast<double>(run.row) * grid.cell);
    const float v1 = ToFloatHeld(grid.originV + static_cast<double>(run.row + 1) * grid.cell);
    const Vec3 normal = OnAxes(frame, 0.0f, 0.0f, facesUp ? 1.0f : -1.0f);
    *slots.vertices++ = {OnAxes(frame, u0, v0, height), normal};
    *slots.vertices++ = {OnAxes(frame, u1, v0, height), normal};
    *slots.vertices++ = {OnAxes(frame, u1, v1, height), normal};
    *slots.vertices++ = {OnAxes(frame, u0, v1, height), normal};
    const std::uint32_t b = slots.firstVertex;
    if (facesUp) {
        AddTriangle(slots, b, b + 1, b + 2, layer);
        AddTriangle(slots, b, b + 2, b + 3, layer);
    } else {
        AddTriangle(slots, b, b + 2, b + 1, layer);
        AddTriangle(slots, b, b + 3, b + 2, layer);
    }
    slots.firstVertex += 4;
}

// Bottom skins of the layer above (facing down), then top skins of the layer below (facing up).
void WriteSkinLevel(const SkinLevel& level, const SkinGrid& grid, const LayerFrame& frame, MeshSlots& slots)
{
    ForEachExposedRun(level.above, level.below, grid, [&](const SkinRun& run) {
        WriteSkinQuad(run, grid, frame, level.height, false, level.aboveLayer, slots);
    });
    ForEachExposedRun(level.below, level.above, grid, [&](const SkinRun& run) {
        WriteSkinQuad(run, grid, frame, level.height, true, level.belowLayer, slots);
    });
}

// Writes the levels in order, each into its own place, as far as the skin limit allows;
// false when it stopped there.
bool WriteSkinLevels(SlicedPreview& preview, const std::vector<SkinLevel>& levels, const SkinGrid& grid,
                     const LayerFrame& frame, std::uint64_t maxSkinTriangles)
{
    std::vector<std::uint64_t> runs(levels.size());
    ParallelForBlocks(levels.size(), 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; ++j)
            runs[j] = CountSkinRuns(levels[j], grid);
    });
    std::vector<std::uint64_t> firstRun(levels.size() + 1, 0);
    std::size_t fitting = 0;
    while (fitting < levels.size()
        && preview.skinTriangles + 2 * (firstRun[fitting] + runs[fitting]) <= maxSkinTriangles) {
        firstRun[fitting + 1] = firstRun[fitting] + runs[fitting];
        ++fitting;
    }
    const std::uint64_t vertexBase = preview.mesh.vertices.size();
    const std::uint64_t triangleBase = preview.triangleLayers.size();
    GrowMesh(preview, 4 * firstRun[fitting], 2 * firstRun[fitting]);
    ParallelForBlocks(fitting, 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; ++j) {
            MeshSlots slots = SlotsAt(preview, vertexBase + 4 * firstRun[j], triangleBase + 2 * firstRun[j]);
            WriteSkinLevel(levels[j], grid, frame, slots);
        }
    });
    preview.skinTriangles += 2 * firstRun[fitting];
    return fitting == levels.size();
}

float LayerBottom(const LayerFrame& frame, std::uint64_t layer)
{
    return static_cast<float>(static_cast<double>(layer) * frame.height + frame.z0);
}

// Skins where a drawn layer is exposed from below or above, compared with the drawn layer
// next to it. The drawn layers are rasterised in parallel batches of bounded memory; the
// levels between them are written in order.
void AddSkins(SlicedPreview& preview, const TriangleMesh& mesh, const LayerFrame& frame, const LayerLists& lists,
              const PartBox& box, const std::vector<std::uint64_t>& drawn, const SlicedPreviewLimits& limits)
{
    const SkinGrid grid = LaySkinGrid(box, frame, drawn.size(), limits);
    const std::uint64_t layerBytes = grid.wordsPerRow * grid.rows * sizeof(CellWord);
    const auto batch =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(kSkinBatchBytes / layerBytes, 1, kMaxSkinBatch));
    std::vector<CellWord> previous;
    for (std::size_t start = 0; start < drawn.size(); start += batch) {
        const std::size_t count = std::min(batch, drawn.size() - start);
        std::vector<std::vector<CellWord>> filled(count);
        ParallelForBlocks(count, 1, [&](std::size_t begin, std::size_t end) {
            for (std::size_t j = begin; j < end; ++j)
                filled[j] = RasteriseLayer(CutLayer(mesh, frame, lists, drawn[start + j], true), grid);
        });
        std::vector<SkinLevel> levels(count);
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t d = start + j;
            const CellWord* below = j > 0 ? filled[j - 1].data() : previous.empty() ? nullptr : previous.data();
            levels[j] = {below, filled[j].data(), static_cast<std::uint32_t>(d > 0 ? drawn[d - 1] : 0),
                static_cast<std::uint32_t>(drawn[d]), LayerBottom(frame, drawn[d])};
        }
        if (!WriteSkinLevels(preview, levels, grid, frame, limits.maxSkinTriangles)) {
            preview.skinsCut = true;
            return;
        }
        previous = std::move(filled.back());
    }
    const SkinLevel top{previous.data(), nullptr, static_cast<std::uint32_t>(drawn.back()), 0,
        LayerBottom(frame, frame.layers)};
    preview.skinsCut = !WriteSkinLevels(preview, {top}, grid, frame, limits.maxSkinTriangles);
}

SlicedPreview& Refuse(SlicedPreview& preview, SlicedPreviewRefusal refusal)
{
    preview = SlicedPreview{};
    preview.refusal = refusal;
    return preview;
}

std::string Decimal(std::uint64_t value) { return FormatCountGrouped(value); }

std::string WholeMilliseconds(double value)
{
    char buffer[400];  // the widest double in fixed notation
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
    return std::string(buffer, result.ptr);
}

// Only 2 and 3 take their own ending: the step is never 1, and the text keeps the plain
// "th" for every other number (21th, 22th).
const char* OrdinalEnding(std::uint64_t value)
{
    return value == 2 ? "nd" : value == 3 ? "rd" : "th";
}

std::string RefusalText(SlicedPreviewRefusal refusal)
{
    switch (refusal) {
    case SlicedPreviewRefusal::none:
        break;
    case SlicedPreviewRefusal::noTriangles:
        return "the part has no triangles";
    case SlicedPreviewRefusal::inconsistentMesh:
        return "the part's triangle list is broken (an index past the vertices, or a count not a multiple of 3)";
    case SlicedPreviewRefusal::nonFiniteCoordinates:
        return "a vertex coordinate is not a finite number";
    case SlicedPreviewRefusal::nonFiniteSettings:
        return "the layer height, line width or tolerance is not a finite number";
    case SlicedPreviewRefusal::tooManyLayers:
        return "the part needs more than " + Decimal(kSlicedPreviewMaxLayers)
            + " layers; a larger layer height needs fewer";
    case SlicedPreviewRefusal::tooManyCuts:
        return "the layers cut the part's triangles more than " + Decimal(kSlicedPreviewMaxCuts)
            + " times; a larger layer height needs fewer";
    case SlicedPreviewRefusal::layerTooLarge:
        return "one layer's outlines have more than " + Decimal(kSlicedPreviewMaxDrawnSegments) + " segments";
    }
    return "";
}

}  // namespace

namespace detail {

std::vector<SliceChain> ChainSliceSegments(const std::vector<SliceSegment>& segments)
{
    std::vector<PointKey> startKeys(segments.size());
    std::vector<PointKey> endKeys(segments.size());
    for (std::size_t s = 0; s < segments.size(); ++s) {
        startKeys[s] = KeyOf(segments[s].start);
        endKeys[s] = KeyOf(segments[s].end);
    }
    const StartPointIndex index(startKeys);
    std::vector<std::uint8_t> used(segments.size(), 0);
    std::vector<SliceChain> chains;
    for (const std::uint32_t start : OrderChainStarts(endKeys, index)) {
        if (used[start])
            continue;
        SliceChain chain = FollowChain(segments, endKeys, index, used, start);
        if (chain.points.size() >= 2)
            chains.push_back(std::move(chain));
    }
    return chains;
}

void SimplifySliceChain(SliceChain& chain, float tolerance)
{
    if (chain.points.size() < 3 || !(tolerance > 0.0f))
        return;
    std::vector<SlicePoint> points = chain.points;
    if (chain.closed)
        points.push_back(points.front());
    const std::vector<std::uint8_t> keep = MarkKeptPoints(points, tolerance);
    std::vector<SlicePoint> kept;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (keep[i])
            kept.push_back(points[i]);
    }
    if (chain.closed) {
        kept.pop_back();
        // The first point was kept only for being first; drop it when it lies on the way.
        if (kept.size() >= 4 && DistanceToSegment(kept.front(), kept.back(), kept[1]) <= tolerance)
            kept.erase(kept.begin());
    }
    chain.points = std::move(kept);
}

std::uint64_t ChooseLayerStep(const std::vector<std::uint64_t>& segmentsPerLayer, std::uint64_t budget,
                              std::uint64_t maxDrawn)
{
    std::uint64_t total = 0;
    for (const std::uint64_t segments : segmentsPerLayer)
        total += segments;
    const std::uint64_t wanted = std::min(std::max(budget, kLeastBudget), std::max<std::uint64_t>(maxDrawn, 1));
    const std::uint64_t layers = std::max<std::uint64_t>(segmentsPerLayer.size(), 1);
    // Never taller than the part: past the layer count a step draws no fewer layers.
    std::uint64_t step = std::clamp<std::uint64_t>(total / wanted + (total % wanted != 0 ? 1 : 0), 1, layers);
    // A step by the total can still draw too much where the drawn layers are the full ones.
    for (; step <= layers; ++step) {
        std::uint64_t drawn = 0;
        for (std::uint64_t layer = 0; layer < segmentsPerLayer.size(); layer += step)
            drawn += segmentsPerLayer[layer];
        if (drawn <= maxDrawn)
            return step;
    }
    return 0;
}

SlicedPreview& BuildSlicedPreviewWithin(SlicedPreview& preview, const TriangleMesh& mesh,
                                        const SlicedPreviewSettings& settings, const SlicedPreviewLimits& limits)
{
    preview = SlicedPreview{};
    const auto started = std::chrono::steady_clock::now();
    if (const SlicedPreviewRefusal refusal = FindRefusal(mesh, settings); refusal != SlicedPreviewRefusal::none)
        return Refuse(preview, refusal);
    const PartBox box = MeasureBox(mesh);
    double wantedLayers = 0.0;
    LayerFrame frame = SetUpLayers(box, settings, wantedLayers);
    if (wantedLayers > static_cast<double>(limits.maxLayers))
        return Refuse(preview, SlicedPreviewRefusal::tooManyLayers);
    frame.layers = static_cast<std::uint64_t>(wantedLayers);
    preview.layerCount = frame.layers;

    LayerLists lists;
    if (!SortTrianglesIntoLayers(mesh, frame, limits.maxCuts, lists))
        return Refuse(preview, SlicedPreviewRefusal::tooManyCuts);
    const std::vector<LayerOutlines> layers = OutlineLayers(mesh, frame, lists);
    AddUpCounts(preview, layers);

    preview.layerStep = ChooseLayerStep(BeadSegmentsPerLayer(layers), settings.segmentBudget, limits.maxDrawnSegments);
    if (preview.layerStep == 0)
        return Refuse(preview, SlicedPreviewRefusal::layerTooLarge);
    const std::vector<std::uint64_t> drawn = DrawnLayers(frame.layers, preview.layerStep);
    WriteBeads(preview, layers, frame, drawn);
    if (settings.skins)
        AddSkins(preview, mesh, frame, lists, box, drawn, limits);

    preview.mesh.ComputeBounds();
    const auto elapsed = std::chrono::steady_clock::now() - started;
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
    preview.milliseconds = static_cast<double>(nanoseconds) / 1e6;
    return preview;
}

}  // namespace detail

SlicedPreview& BuildSlicedPreview(SlicedPreview& preview, const TriangleMesh& mesh,
                                  const SlicedPreviewSettings& settings)
{
    return detail::BuildSlicedPreviewWithin(preview, mesh, settings, detail::SlicedPreviewLimits{});
}

std::string FormatSlicedPreviewReport(const SlicedPreview& preview)
{
    if (preview.refusal != SlicedPreviewRefusal::none)
        return std::string("Sliced preview: nothing to show: ") + RefusalText(preview.refusal) + "\n";
    std::string text = "Sliced preview: " + Decimal(preview.layerCount) + " layers";
    if (preview.layerStep > 1) {
        text += ", every " + Decimal(preview.layerStep) + OrdinalEnding(preview.layerStep) + " drawn ("
            + Decimal(preview.drawnLayerCount) + ", each as tall as " + Decimal(preview.layerStep) + ")";
    }
    text += "; " + Decimal(preview.outlines) + " outlines";
    if (preview.openChains > 0)
        text += " and " + Decimal(preview.openChains) + " open chains";
    text += ", " + Decimal(preview.beadSegments) + " bead segments (" + Decimal(preview.cutsBeforeSimplifying)
        + " cuts before simplifying), " + Decimal(preview.skinTriangles) + " skin triangles";
    if (preview.skinsCut)
        text += " (the higher layers' skins left out at the size limit)";
    text += ", " + Decimal(preview.mesh.TriangleCount()) + " triangles in all, "
        + WholeMilliseconds(preview.milliseconds) + " ms\n";
    return text;
}

}  // namespace grainforge::mesh
