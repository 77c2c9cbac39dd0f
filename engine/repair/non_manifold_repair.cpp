#include "engine/repair/non_manifold_repair.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/welding.h"

namespace grainforge::mesh {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
// How far a split moves a copy of a vertex away from the sheets it leaves: enough that a slicer
// joins them no more, far below anything a printer lays down.
constexpr float kSplitStepMillimetres = 0.002f;
// ... and at least this many weld tolerances, so that no later weld joins them again.
constexpr float kSplitStepTolerances = 10.0f;

// A step that moves a copy of a vertex at `at` by at least `wanted`, and at least two float
// steps of its largest coordinate: far from the origin a shorter step rounds back onto the
// vertex it copies, and the sheets would still touch.
float SeparatingStep(float wanted, Vec3 at)
{
    const float largest = std::max({std::fabs(at.x), std::fabs(at.y), std::fabs(at.z)});
    const float floatStep = std::nextafter(largest, std::numeric_limits<float>::infinity()) - largest;
    return std::isfinite(floatStep) ? std::max(wanted, 2.0f * floatStep) : wanted;
}

// How the neighbours of a triangle see its winding: across each of its edges, the triangles
// that are not copies of it and run the edge the other way (agree) or the same way (disagree).
struct Winding {
    int agreeing = 0;
    int disagreeing = 0;
    [[nodiscard]] bool Agrees() const { return agreeing != 0 && disagreeing == 0; }
    [[nodiscard]] bool Disagrees() const { return disagreeing != 0 && agreeing == 0; }
};

bool RunsEdge(const std::uint32_t* c, std::uint32_t a, std::uint32_t b)
{
    return (c[0] == a && c[1] == b) || (c[1] == a && c[2] == b) || (c[2] == a && c[0] == b);
}

bool HasCorners(const std::uint32_t* c, const std::uint32_t (&sorted)[3])
{
    std::array<std::uint32_t, 3> corners{c[0], c[1], c[2]};
    std::sort(corners.begin(), corners.end());
    return std::equal(corners.begin(), corners.end(), sorted);
}

std::size_t RunLength(const std::vector<EdgeRecord>& table, EdgeKey key)
{
    const auto range = std::equal_range(table.begin(), table.end(), EdgeRecord{key, 0},
        [](const EdgeRecord& a, const EdgeRecord& b) { return a.key < b.key; });
    return static_cast<std::size_t>(range.second - range.first);
}


// The two copies of one facet, wound one way (`up`) and the other (`down`).
struct SkinPair {
    std::uint32_t up;
    std::uint32_t down;
};

// Every facet written in both windings, one pair per copy in each: a facet with two copies one
// way and one the other makes one pair and leaves the spare copy to the duplicate pass.
std::vector<SkinPair> FindOppositePairs(const TriangleMesh& mesh)
{
    const std::size_t triangleCount = mesh.TriangleCount();
    struct Entry {
        std::uint32_t key[3];
        std::uint32_t triangle;
        bool flag;
    };
    std::vector<Entry> entries(triangleCount);
    for (std::size_t t = 0; t < triangleCount; ++t) {
        const std::uint32_t* c = &mesh.indices[3 * t];
        // The rotation with the smallest index first; with a repeated index, the smallest such
        // rotation, so that one triangle never pairs with a rotation of itself.
        std::array<std::uint32_t, 3> best{c[0], c[1], c[2]};
        for (int r = 1; r < 3; ++r) {
            const std::array<std::uint32_t, 3> rotated{c[r], c[(r + 1) % 3], c[(r + 2) % 3]};
            if (rotated < best)
                best = rotated;
        }
        Entry& e = entries[t];
        e.triangle = static_cast<std::uint32_t>(t);
        e.flag = best[1] < best[2];
        e.key[0] = best[0];
        e.key[1] = std::min(best[1], best[2]);
        e.key[2] = std::max(best[1], best[2]);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return std::lexicographical_compare(a.key, a.key + 3, b.key, b.key + 3);
    });
    std::vector<SkinPair> pairs;
    std::vector<std::uint32_t> up, down;
    for (std::size_t i = 0; i < entries.size();) {
        std::size_t j = i + 1;
        while (j < entries.size() && std::equal(entries[j].key, entries[j].key + 3, entries[i].key))
            ++j;
        up.clear();
        down.clear();
        for (std::size_t k = i; k < j; ++k)
            (entries[k].flag ? up : down).push_back(entries[k].triangle);
        for (std::size_t k = 0; k < std::min(up.size(), down.size()); ++k)
            pairs.push_back({up[k], down[k]});
        i = j;
    }
    return pairs;
}

// Chooses, pair by pair, which copies of the doubled facets stay. The part's single faces
// decide first: a copy they agree with stays, and each choice lets the next pair be judged.
// What no single face reaches is a body written double-sided: where its pairs close into a
// body, one copy of each is taken in one consistent winding, and the winding that encloses a
// positive volume is the outside.
class SkinChoice {
public:
    enum class Fate : std::uint8_t { open, keepUp, keepDown, removeBoth, leave };

    SkinChoice(const TriangleMesh& mesh, std::vector<SkinPair> pairs)
        : mesh_(mesh), pairs_(std::move(pairs)), fate_(pairs_.size(), Fate::open),
          pairOf_(mesh.TriangleCount(), kNone), settled_(mesh.TriangleCount(), 1),
          table_(BuildEdgeTable(mesh)), byBody_(pairs_.size(), 0)
    {
        for (std::uint32_t p = 0; p < pairs_.size(); ++p) {
            pairOf_[pairs_[p].up] = p;
            pairOf_[pairs_[p].down] = p;
            settled_[pairs_[p].up] = 0;
            settled_[pairs_[p].down] = 0;
        }
    }

    // A pair whose settled neighbours agree with one copy and disagree with the other keeps
    // that copy; one whose neighbours agree with both (two bodies pressed face to face) goes
    // whole. Each choice settles a copy, and the pairs beside it are judged again.
    void DecideByNeighbours()
    {
        std::vector<std::uint32_t> queue(pairs_.size());
        std::iota(queue.begin(), queue.end(), 0u);
        std::vector<std::uint8_t> queued(pairs_.size(), 1);
        while (!queue.empty()) {
            const std::uint32_t p = queue.back();
            queue.pop_back();
            queued[p] = 0;
            if (fate_[p] != Fate::open)
                continue;
            const Winding a = SettledWinding(pairs_[p].up);
            const Winding b = SettledWinding(pairs_[p].down);
            if (a.Agrees() && b.Disagrees())
                fate_[p] = Fate::keepUp;
            else if (b.Agrees() && a.Disagrees())
                fate_[p] = Fate::keepDown;
            else if (a.Agrees() && b.Agrees())
                fate_[p] = Fate::removeBoth;
            else
                continue;
            if (fate_[p] == Fate::removeBoth)
                continue;
            const std::uint32_t kept = fate_[p] == Fate::keepUp ? pairs_[p].up : pairs_[p].down;
            settled_[kept] = 1;
            ForEachOpenPairBeside(kept, [&](std::uint32_t q) {
                if (!queued[q]) {
                    queued[q] = 1;
                    queue.push_back(q);
                }
            });
        }
    }

    // The pairs no single face reached, taken group by group (pairs joined through edges).
    void DecideByEnclosedBodies()
    {
        std::vector<std::uint8_t> chosenUp(pairs_.size(), 1);
        std::vector<std::uint8_t> grouped(pairs_.size(), 0);
        for (std::uint32_t seed = 0; seed < pairs_.size(); ++seed) {
            if (fate_[seed] != Fate::open || grouped[seed])
                continue;
            const Group group = OrientGroup(seed, chosenUp, grouped);
            const double volume = group.closed ? ChosenVolume(group.pairs, chosenUp) : 0.0;
            for (const std::uint32_t p : group.pairs) {
                if (volume != 0.0 && std::isfinite(volume))
                    fate_[p] = (chosenUp[p] != 0) == (volume > 0.0) ? Fate::keepUp : Fate::keepDown;
                else  // a sheet on a body goes whole; one standing alone stays as it is
                    fate_[p] = group.touchesSingleFaces ? Fate::removeBoth : Fate::leave;
            }
        }
    }

    // Removes the copies not chosen; the pairs that had to be left stay as they are, and the
    // report names their triangles in the result.
    RepeatedFacesReport Apply(TriangleMesh& mesh) const
    {
        RepeatedFacesReport report;
        std::vector<std::uint8_t> removed(mesh.TriangleCount(), 0);
        std::vector<std::uint8_t> left(mesh.TriangleCount(), 0);
        for (std::size_t p = 0; p < pairs_.size(); ++p) {
            switch (fate_[p]) {
            case Fate::keepUp:
            case Fate::keepDown: {
                ++(byBody_[p] ? report.innerCopiesRemoved : report.flippedCopiesRemoved);
                removed[fate_[p] == Fate::keepUp ? pairs_[p].down : pairs_[p].up] = 1;
                break;
            }
            case Fate::removeBoth:
                ++report.doubleSkinnedPairsRemoved;
                removed[pairs_[p].up] = 1;
                removed[pairs_[p].down] = 1;
                break;
            case Fate::leave:
            case Fate::open:
                ++report.pairsLeft;
                left[pairs_[p].up] = 1;
                left[pairs_[p].down] = 1;
                break;
            }
        }
        if (!report.Changed()) {
            for (std::size_t t = 0; t < left.size(); ++t)
                if (left[t])
                    report.leftTriangles.push_back(static_cast<std::uint32_t>(t));
            return report;
        }
        std::vector<std::uint32_t> kept;
        kept.reserve(mesh.indices.size());
        for (std::size_t t = 0; t < removed.size(); ++t) {
            if (removed[t])
                continue;
            if (left[t])
                report.leftTriangles.push_back(static_cast<std::uint32_t>(kept.size() / 3));
            kept.insert(kept.end(), mesh.indices.begin() + 3 * t, mesh.indices.begin() + 3 * t + 3);
        }
        mesh.indices.swap(kept);
        return report;
    }

private:
    struct Group {
        std::vector<std::uint32_t> pairs;
        bool closed = true;               // every edge joins exactly two pairs, wound alike
        bool touchesSingleFaces = false;  // some edge also carries a face written once
    };

    const std::uint32_t* Corners(std::uint32_t t) const { return &mesh_.indices[3 * std::size_t{t}]; }

    bool IsCopyOf(std::uint32_t n, std::uint32_t t) const
    {
        std::array<std::uint32_t, 3> sorted{Corners(t)[0], Corners(t)[1], Corners(t)[2]};
        std::sort(sorted.begin(), sorted.end());
        const std::uint32_t key[3] = {sorted[0], sorted[1], sorted[2]};
        return HasCorners(Corners(n), key);
    }

    // How the settled faces beside `t` see its winding; copies of `t` itself are no neighbours.
    Winding SettledWinding(std::uint32_t t) const
    {
        Winding winding;
        const std::uint32_t* c = Corners(t);
        for (int e = 0; e < 3; ++e) {
            const std::uint32_t a = c[e], b = c[(e + 1) % 3];
            if (a == b)
                continue;
            for (const std::uint32_t n : TrianglesOnEdge(table_, MakeEdgeKey(a, b))) {
                if (!settled_[n] || IsCopyOf(n, t))
                    continue;
                if (RunsEdge(Corners(n), b, a))
                    ++winding.agreeing;
                else if (RunsEdge(Corners(n), a, b))
                    ++winding.disagreeing;
            }
        }
        return winding;
    }

    template <typename Visit>
    void ForEachOpenPairBeside(std::uint32_t t, Visit&& visit) const
    {
        const std::uint32_t* c = Corners(t);
        for (int e = 0; e < 3; ++e) {
            for (const std::uint32_t n : TrianglesOnEdge(table_, MakeEdgeKey(c[e], c[(e + 1) % 3]))) {
                const std::uint32_t q = pairOf_[n];
                if (q != kNone && fate_[q] == Fate::open && !IsCopyOf(n, t))
                    visit(q);
            }
        }
    }

    // Walks the open pairs joined to `seed`, giving each the copy that runs every shared edge
    // against the copy chosen beside it.
    Group OrientGroup(std::uint32_t seed, std::vector<std::uint8_t>& chosenUp, std::vector<std::uint8_t>& grouped)
    {
        Group group;
        std::vector<std::uint32_t> queue{seed};
        grouped[seed] = 1;
        std::vector<std::uint32_t> beside;
        while (!queue.empty()) {
            const std::uint32_t p = queue.back();
            queue.pop_back();
            group.pairs.push_back(p);
            byBody_[p] = 1;
            const std::uint32_t t = chosenUp[p] ? pairs_[p].up : pairs_[p].down;
            const std::uint32_t* c = Corners(t);
            for (int e = 0; e < 3; ++e) {
                const std::uint32_t a = c[e], b = c[(e + 1) % 3];
                beside.clear();
                for (const std::uint32_t n : TrianglesOnEdge(table_, MakeEdgeKey(a, b))) {
                    if (IsCopyOf(n, t))
                        continue;
                    const std::uint32_t q = pairOf_[n];
                    if (q == kNone || fate_[q] != Fate::open) {
                        group.touchesSingleFaces = group.touchesSingleFaces || settled_[n] != 0;
                        group.closed = false;
                    } else if (std::find(beside.begin(), beside.end(), q) == beside.end()) {
                        beside.push_back(q);
                    }
                }
                if (a == b || beside.size() != 1)
                    group.closed = false;
                for (const std::uint32_t q : beside) {
                    const bool upRunsBack = RunsEdge(Corners(pairs_[q].up), b, a);
                    if (!grouped[q]) {
                        grouped[q] = 1;
                        chosenUp[q] = upRunsBack || beside.size() != 1 ? 1 : 0;
                        queue.push_back(q);
                    } else if (beside.size() == 1 && (chosenUp[q] != 0) != upRunsBack) {
                        group.closed = false;
                    }
                }
            }
        }
        return group;
    }

    double ChosenVolume(const std::vector<std::uint32_t>& group, const std::vector<std::uint8_t>& chosenUp) const
    {
        const Vec3 reference = mesh_.vertices[Corners(pairs_[group.front()].up)[0]].position;
        double sum = 0.0;
        for (const std::uint32_t p : group) {
            const std::uint32_t* c = Corners(chosenUp[p] ? pairs_[p].up : pairs_[p].down);
            sum += TetrahedronVolume6(mesh_.vertices[c[0]].position, mesh_.vertices[c[1]].position,
                                      mesh_.vertices[c[2]].position, reference);
        }
        return sum;
    }

    const TriangleMesh& mesh_;
    std::vector<SkinPair> pairs_;
    std::vector<Fate> fate_;
    std::vector<std::uint32_t> pairOf_;
    std::vector<std::uint8_t> settled_;  // written once and kept, or already chosen to stay
    std::vector<EdgeRecord> table_;
    std::vector<std::uint8_t> byBody_;   // its copy was chosen by the body it closes
};

using TrianglePair = std::pair<std::uint32_t, std::uint32_t>;

// Union-find over the positions of one vertex fan.
class FanGroups {
public:
    explicit FanGroups(const std::vector<std::uint32_t>& fan) : fan_(fan), parent_(fan.size())
    {
        std::iota(parent_.begin(), parent_.end(), 0u);
        positions_.reserve(fan.size());
        for (std::uint32_t i = 0; i < fan.size(); ++i)
            positions_.push_back({fan[i], i});
        std::sort(positions_.begin(), positions_.end());
    }

    // Position of a triangle in the fan (its first), or kNone.
    std::uint32_t PositionOf(std::uint32_t triangle) const
    {
        const auto it = std::lower_bound(positions_.begin(), positions_.end(), std::pair<std::uint32_t, std::uint32_t>{triangle, 0});
        return it != positions_.end() && it->first == triangle ? it->second : kNone;
    }

    std::uint32_t Root(std::uint32_t i)
    {
        while (parent_[i] != i) {
            parent_[i] = parent_[parent_[i]];
            i = parent_[i];
        }
        return i;
    }

    void JoinTriangles(std::uint32_t t1, std::uint32_t t2)
    {
        const std::uint32_t i = PositionOf(t1), j = PositionOf(t2);
        if (i == kNone || j == kNone)
            return;
        const std::uint32_t a = Root(i), b = Root(j);
        if (a != b)
            parent_[std::max(a, b)] = std::min(a, b);
    }

    // Joins fan triangles that share an edge from x used by exactly two triangles.
    void JoinThroughManifoldEdges(std::uint32_t x, const std::vector<std::uint32_t>& indices,
                                  const std::vector<EdgeRecord>& table)
    {
        for (const std::uint32_t t : fan_) {
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t w = indices[3 * std::size_t{t} + k];
                if (w == x)
                    continue;
                const EdgeKey key = MakeEdgeKey(x, w);
                const std::vector<std::uint32_t> on = TrianglesOnEdge(table, key);
                if (on.size() == 2)
                    JoinTriangles(on[0], on[1]);
            }
        }
    }

    bool SameGroup(std::uint32_t t1, std::uint32_t t2)
    {
        const std::uint32_t i = PositionOf(t1), j = PositionOf(t2);
        return i != kNone && j != kNone && Root(i) == Root(j);
    }

    // Group number of every fan position, groups numbered in order of their first position.
    std::vector<std::uint32_t> Numbered(std::uint32_t& groupCount)
    {
        std::vector<std::uint32_t> numberOfRoot(fan_.size(), kNone), result(fan_.size());
        groupCount = 0;
        for (std::uint32_t i = 0; i < fan_.size(); ++i) {
            const std::uint32_t r = Root(i);
            if (numberOfRoot[r] == kNone)
                numberOfRoot[r] = groupCount++;
            result[i] = numberOfRoot[r];
        }
        return result;
    }

private:
    const std::vector<std::uint32_t>& fan_;
    std::vector<std::uint32_t> parent_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> positions_;  // (triangle, position), sorted
};

std::vector<std::uint32_t> FanOf(const VertexAdjacency& adjacency, std::uint32_t x)
{
    return std::vector<std::uint32_t>(adjacency.triangles.begin() + adjacency.triangleOffsets[x],
                                      adjacency.triangles.begin() + adjacency.triangleOffsets[x + 1]);
}

// The corners other than x of the fan triangles in group g (corners read from `saved`): their
// mean position, summed in double, and the distance from `from` to the nearest of them.
struct GroupCorners {
    Vec3 mean;
    float nearest = std::numeric_limits<float>::infinity();
    std::uint64_t count = 0;
};

GroupCorners GatherGroupCorners(const std::vector<MeshVertex>& vertices, const std::vector<std::uint32_t>& saved,
                                const std::vector<std::uint32_t>& fan, const std::vector<std::uint32_t>& groupOf,
                                std::uint32_t g, std::uint32_t x, Vec3 from)
{
    GroupCorners corners;
    double sx = 0.0, sy = 0.0, sz = 0.0;
    for (std::size_t f = 0; f < fan.size(); ++f) {
        if (groupOf[f] != g)
            continue;
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t w = saved[3 * std::size_t{fan[f]} + k];
            if (w == x)
                continue;
            const Vec3 p = vertices[w].position;
            sx += p.x, sy += p.y, sz += p.z;
            ++corners.count;
            corners.nearest = std::min(corners.nearest, Length(p - from));
        }
    }
    if (corners.count != 0) {
        const auto n = static_cast<double>(corners.count);
        corners.mean = {static_cast<float>(sx / n), static_cast<float>(sy / n), static_cast<float>(sz / n)};
    }
    return corners;
}

struct NonManifoldEdge {
    EdgeKey key = 0;
    std::vector<TrianglePair> chosen;       // the orientation pairing unless outscored
    std::vector<TrianglePair> alternative;  // only for an even number of wings
    bool hasAlternative = false;
};

}  // namespace

std::vector<std::uint32_t> TrianglesOnEdge(const std::vector<EdgeRecord>& table, EdgeKey key)
{
    std::vector<std::uint32_t> result;
    auto it = std::lower_bound(table.begin(), table.end(), key,
        [](const EdgeRecord& r, EdgeKey k) { return r.key < k; });
    for (; it != table.end() && it->key == key; ++it)
        result.push_back(it->triangle);
    return result;
}

RepeatedFacesReport RemoveDoubleSkinnedPairs(TriangleMesh& mesh)
{
    if (!mesh.IsConsistent() || mesh.TriangleCount() > 0xFFFFFFFFull)
        return {};
    std::vector<SkinPair> pairs = FindOppositePairs(mesh);
    if (pairs.empty())
        return {};
    SkinChoice choice(mesh, std::move(pairs));
    choice.DecideByNeighbours();
    choice.DecideByEnclosedBodies();
    return choice.Apply(mesh);
}

RepeatedFacesReport RemoveRepeatedFaces(TriangleMesh& mesh)
{
    // Pairs first: the duplicate pass keeps the first of any corner set whatever its winding,
    // which would pick between a face and its flipped copy by file order.
    RepeatedFacesReport report = RemoveDoubleSkinnedPairs(mesh);
    if (report.pairsLeft == 0)
        report.duplicatesRemoved = RemoveDuplicateTriangles(mesh);
    return report;
}

std::uint64_t CountNonManifoldEdges(const TriangleMesh& mesh)
{
    if (!mesh.IsConsistent())
        return 0;
    const std::vector<EdgeRecord> table = BuildEdgeTable(mesh);
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < table.size();) {
        std::size_t j = i + 1;
        while (j < table.size() && table[j].key == table[i].key)
            ++j;
        if (j - i >= 3)
            ++count;
        i = j;
    }
    return count;
}

namespace {

EdgeKey FirstEnd(EdgeKey key) { return key >> 32; }
EdgeKey SecondEnd(EdgeKey key) { return key & 0xFFFFFFFFu; }

// One triangle on an edge: its angle round the edge and whether it runs forward (its
// normal turns the same way as the angle grows).
struct Wing {
    std::uint32_t triangle;
    float angle;
    bool forward;
};

// The triangles of the table run [begin, end) on edge (a, b), sorted by angle round the
// edge. A triangle with a repeated corner has no third corner and no direction round the
// edge: it takes no part in the pairing.
std::vector<Wing> WingsAroundEdge(const TriangleMesh& mesh, const std::vector<EdgeRecord>& table, std::size_t begin,
                                  std::size_t end, std::uint32_t a, std::uint32_t b)
{
    const Vec3 pa = mesh.vertices[a].position;
    const Vec3 e = Normalized(mesh.vertices[b].position - pa);
    const Vec3 r = std::fabs(e.x) >= 0.9f ? Vec3{0.0f, 1.0f, 0.0f} : Vec3{1.0f, 0.0f, 0.0f};
    const Vec3 u = Normalized(Cross(e, r));
    const Vec3 v = Cross(e, u);
    std::vector<Wing> wings;
    for (std::size_t k = begin; k < end; ++k) {
        const std::uint32_t t = table[k].triangle;
        const std::uint32_t* c = &mesh.indices[3 * std::size_t{t}];
        std::uint32_t third = kNone;
        for (int m = 0; m < 3; ++m) {
            if (c[m] != a && c[m] != b)
                third = c[m];
        }
        if (third == kNone)
            continue;
        const Vec3 toC = mesh.vertices[third].position - pa;
        const Vec3 d = toC - e * Dot(toC, e);
        const Vec3 w = Normalized(d);
        const Vec3 p0 = mesh.vertices[c[0]].position, p1 = mesh.vertices[c[1]].position,
                   p2 = mesh.vertices[c[2]].position;
        wings.push_back({t, std::atan2(Dot(d, v), Dot(d, u)), Dot(Cross(e, w), Cross(p1 - p0, p2 - p0)) > 0.0f});
    }
    std::stable_sort(wings.begin(), wings.end(), [](const Wing& x, const Wing& y) { return x.angle < y.angle; });
    return wings;
}

// Pairs each backward wing with the forward one after it round the edge (the orientation
// pairing); with an even number of wings, also the alternative of neighbours taken in turn.
NonManifoldEdge PairWings(EdgeKey key, const std::vector<Wing>& wings)
{
    NonManifoldEdge edge;
    edge.key = key;
    const std::size_t n = wings.size();
    if (n < 2)
        return edge;
    for (std::size_t w = 0; w < n; ++w) {
        const std::size_t next = (w + 1) % n;
        if (!wings[w].forward && wings[next].forward)
            edge.chosen.push_back({wings[w].triangle, wings[next].triangle});
    }
    if (n % 2 == 0) {
        edge.hasAlternative = true;
        const std::size_t s = !edge.chosen.empty() && edge.chosen[0].first == wings[0].triangle ? 1 : 0;
        for (std::size_t w = s; w < n; w += 2)
            edge.alternative.push_back({wings[w].triangle, wings[(w + 1) % n].triangle});
    }
    return edge;
}

// Every edge of three or more triangles with its pairings; `ends` gets the vertices at their
// ends, sorted and unique.
std::vector<NonManifoldEdge> FindNonManifoldEdges(const TriangleMesh& mesh, const std::vector<EdgeRecord>& table,
                                                  std::vector<std::uint32_t>& ends)
{
    std::vector<NonManifoldEdge> edges;
    for (std::size_t i = 0; i < table.size();) {
        std::size_t j = i + 1;
        while (j < table.size() && table[j].key == table[i].key)
            ++j;
        if (j - i >= 3) {
            const auto a = static_cast<std::uint32_t>(FirstEnd(table[i].key));
            const auto b = static_cast<std::uint32_t>(SecondEnd(table[i].key));
            ends.push_back(a);
            ends.push_back(b);
            edges.push_back(PairWings(table[i].key, WingsAroundEdge(mesh, table, i, j, a, b)));
        }
        i = j;
    }
    std::sort(ends.begin(), ends.end());
    ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
    return edges;
}

// The non-manifold edges (numbers into `edges`) at each vertex of `ends`.
std::vector<std::vector<std::uint32_t>> EdgesAtEnds(const std::vector<NonManifoldEdge>& edges,
                                                    const std::vector<std::uint32_t>& ends)
{
    std::vector<std::vector<std::uint32_t>> edgesAt(ends.size());
    const auto listed = [&](EdgeKey x) {
        return static_cast<std::size_t>(std::lower_bound(ends.begin(), ends.end(), static_cast<std::uint32_t>(x)) -
                                        ends.begin());
    };
    for (std::size_t k = 0; k < edges.size(); ++k) {
        edgesAt[listed(FirstEnd(edges[k].key))].push_back(static_cast<std::uint32_t>(k));
        edgesAt[listed(SecondEnd(edges[k].key))].push_back(static_cast<std::uint32_t>(k));
    }
    return edgesAt;
}

// What the splits read and never change: the mesh as it was before any split.
struct SplitContext {
    const std::vector<EdgeRecord>& table;
    const VertexAdjacency& adjacency;
    const std::vector<std::uint32_t>& saved;  // indices before any split
    const std::vector<float>& tolerances;     // each vertex's weld tolerance before any split
};

// Takes an edge's alternative pairing where more of its pairs are already joined through
// manifold edges round its two ends than of the orientation pairing.
void ChoosePairings(std::vector<NonManifoldEdge>& edges, const SplitContext& context)
{
    for (NonManifoldEdge& edge : edges) {
        if (!edge.hasAlternative)
            continue;
        std::uint64_t chosenScore = 0, alternativeScore = 0;
        for (const EdgeKey end : {FirstEnd(edge.key), SecondEnd(edge.key)}) {
            const auto x = static_cast<std::uint32_t>(end);
            const std::vector<std::uint32_t> fan = FanOf(context.adjacency, x);
            FanGroups groups(fan);
            groups.JoinThroughManifoldEdges(x, context.saved, context.table);
            for (const TrianglePair& p : edge.chosen)
                chosenScore += groups.SameGroup(p.first, p.second) ? 1 : 0;
            for (const TrianglePair& p : edge.alternative)
                alternativeScore += groups.SameGroup(p.first, p.second) ? 1 : 0;
        }
        if (alternativeScore > chosenScore)
            edge.chosen = edge.alternative;
    }
}

// One vertex's fan cut into groups; group 0 keeps the vertex, group g > 0 gets the copy
// firstCopy + g - 1.
struct FanSplit {
    std::uint32_t x = 0;
    const std::vector<std::uint32_t>& fan;
    std::vector<std::uint32_t> groupOf;  // per fan position
    std::uint32_t groupCount = 0;
    std::size_t firstCopy = 0;

    std::uint32_t VertexOfGroup(std::uint32_t g) const
    {
        return g == 0 ? x : static_cast<std::uint32_t>(firstCopy + g - 1);
    }
};

// Adds the copies and points each fan triangle's corner at x to its group's vertex.
void ApplySplit(TriangleMesh& mesh, const FanSplit& split, const std::vector<std::uint32_t>& saved)
{
    for (std::uint32_t g = 1; g < split.groupCount; ++g)
        mesh.vertices.push_back(mesh.vertices[split.x]);
    for (std::size_t f = 0; f < split.fan.size(); ++f) {
        for (int k = 0; k < 3; ++k) {
            if (saved[3 * std::size_t{split.fan[f]} + k] == split.x)
                mesh.indices[3 * std::size_t{split.fan[f]} + k] = split.VertexOfGroup(split.groupOf[f]);
        }
    }
}

// Whether each edge at the old corner is now shared by exactly two fan triangles, or by one
// where it was open before.
bool IsSoundSplit(const TriangleMesh& mesh, const FanSplit& split, const SplitContext& context)
{
    std::vector<EdgeKey> fanEdges;
    for (const std::uint32_t t : split.fan) {
        const std::uint32_t* c = &mesh.indices[3 * std::size_t{t}];
        fanEdges.insert(fanEdges.end(), {MakeEdgeKey(c[0], c[1]), MakeEdgeKey(c[1], c[2]), MakeEdgeKey(c[2], c[0])});
    }
    std::sort(fanEdges.begin(), fanEdges.end());
    for (const std::uint32_t t : split.fan) {
        const std::size_t base = 3 * std::size_t{t};
        for (int k = 0; k < 3; ++k) {
            if (context.saved[base + k] != split.x)
                continue;
            for (const int other : {(k + 1) % 3, (k + 2) % 3}) {
                const std::uint32_t w = context.saved[base + other];
                const EdgeKey key = MakeEdgeKey(mesh.indices[base + k], mesh.indices[base + other]);
                const auto range = std::equal_range(fanEdges.begin(), fanEdges.end(), key);
                const auto uses = static_cast<std::size_t>(range.second - range.first);
                const bool wasOpen = w != split.x && RunLength(context.table, MakeEdgeKey(split.x, w)) == 1;
                if (!(uses == 2 || (uses == 1 && wasOpen)))
                    return false;
            }
        }
    }
    return true;
}

// Moves each copy a small step towards the mean of the other corners of its group, so the
// sheets no longer touch.
void MoveCopiesApart(TriangleMesh& mesh, const FanSplit& split, const SplitContext& context)
{
    for (std::uint32_t g = 1; g < split.groupCount; ++g) {
        MeshVertex& copy = mesh.vertices[split.VertexOfGroup(g)];
        const GroupCorners corners =
            GatherGroupCorners(mesh.vertices, context.saved, split.fan, split.groupOf, g, split.x, copy.position);
        if (corners.count == 0)
            continue;
        const Vec3 d = corners.mean - copy.position;
        const float length = Length(d);
        const float step = SeparatingStep(std::max(kSplitStepTolerances * context.tolerances[split.x],
                                                   std::min(0.1f * corners.nearest, kSplitStepMillimetres)),
            copy.position);
        if (length > 0.0f && step > 0.0f)
            copy.position = copy.position + d * (step / length);
    }
}

// Splits x's fan into sheets: first joined through its manifold edges and the chosen pairs
// of its non-manifold edges, else through the manifold edges alone. The first split that is
// sound is kept (copies moved apart); an unsound one is undone. Returns the copies added.
std::uint64_t SplitVertex(TriangleMesh& mesh, std::uint32_t x, const std::vector<std::uint32_t>& edgesAtX,
                          const std::vector<NonManifoldEdge>& edges, const SplitContext& context)
{
    const std::vector<std::uint32_t> fan = FanOf(context.adjacency, x);
    std::vector<std::uint32_t> current(3 * fan.size());
    for (std::size_t f = 0; f < fan.size(); ++f)
        std::copy_n(mesh.indices.begin() + 3 * std::size_t{fan[f]}, 3, current.begin() + 3 * f);
    for (const bool joinPairs : {true, false}) {
        FanGroups groups(fan);
        groups.JoinThroughManifoldEdges(x, context.saved, context.table);
        if (joinPairs) {
            for (const std::uint32_t k : edgesAtX) {
                for (const TrianglePair& p : edges[k].chosen)
                    groups.JoinTriangles(p.first, p.second);
            }
        }
        std::uint32_t groupCount = 0;
        std::vector<std::uint32_t> groupOf = groups.Numbered(groupCount);
        if (groupCount < 2)
            continue;
        if (mesh.vertices.size() + groupCount - 1 > 0xFFFFFFFFull)
            return 0;
        const FanSplit split{x, fan, std::move(groupOf), groupCount, mesh.vertices.size()};
        ApplySplit(mesh, split, context.saved);
        if (IsSoundSplit(mesh, split, context)) {
            MoveCopiesApart(mesh, split, context);
            return split.groupCount - 1;
        }
        for (std::size_t f = 0; f < fan.size(); ++f)
            std::copy_n(current.begin() + 3 * f, 3, mesh.indices.begin() + 3 * std::size_t{fan[f]});
        mesh.vertices.resize(split.firstCopy);
    }
    return 0;
}

}  // namespace

std::uint64_t SeparateNonManifoldEdges(TriangleMesh& mesh)
{
    if (!mesh.IsConsistent() || mesh.indices.size() > 0x7FFFFFFFull)
        return 0;
    const std::vector<EdgeRecord> table = BuildEdgeTable(mesh);
    std::vector<std::uint32_t> ends;
    std::vector<NonManifoldEdge> edges = FindNonManifoldEdges(mesh, table, ends);
    if (ends.empty())
        return 0;
    const std::vector<float> tolerances = LocalWeldTolerances(mesh);

    const VertexAdjacency adjacency = BuildVertexAdjacency(mesh);
    const std::vector<std::uint32_t> saved = mesh.indices;
    const SplitContext context{table, adjacency, saved, tolerances};
    ChoosePairings(edges, context);
    const std::vector<std::vector<std::uint32_t>> edgesAt = EdgesAtEnds(edges, ends);
    std::uint64_t added = 0;
    for (std::size_t i = 0; i < ends.size(); ++i)
        added += SplitVertex(mesh, ends[i], edgesAt[i], edges, context);
    if (added != 0)
        mesh.ComputeBounds();  // the copies moved
    return added;
}

std::uint64_t FixNonManifoldEdges(TriangleMesh& mesh, std::vector<std::uint32_t>* faceMap)
{
    if (faceMap != nullptr)
        faceMap->clear();
    const std::uint64_t before = CountNonManifoldEdges(mesh);
    if (before == 0)
        return 0;
    const std::vector<float> tolerances = LocalWeldTolerances(mesh);
    TriangleMesh work = mesh;
    std::vector<std::uint32_t> recorded;
    std::vector<std::uint32_t> keptTriangles;  // input triangle of each triangle of `work`
    {
        const std::vector<EdgeRecord> table = BuildEdgeTable(work);
        std::vector<std::uint8_t> marked(work.TriangleCount(), 0);
        for (std::size_t i = 0; i < table.size();) {
            std::size_t j = i + 1;
            while (j < table.size() && table[j].key == table[i].key)
                ++j;
            if (j - i >= 3) {
                for (std::size_t k = i; k < j; ++k)
                    marked[table[k].triangle] = 1;
                recorded.push_back(static_cast<std::uint32_t>(table[i].key >> 32));
                recorded.push_back(static_cast<std::uint32_t>(table[i].key & 0xFFFFFFFFu));
            }
            i = j;
        }
        std::vector<std::uint32_t> kept;
        for (std::size_t t = 0; t < work.TriangleCount(); ++t) {
            if (!marked[t]) {
                kept.insert(kept.end(), work.indices.begin() + 3 * t, work.indices.begin() + 3 * t + 3);
                keptTriangles.push_back(static_cast<std::uint32_t>(t));
            }
        }
        work.indices.swap(kept);
    }
    std::sort(recorded.begin(), recorded.end());
    recorded.erase(std::unique(recorded.begin(), recorded.end()), recorded.end());

    {
        const VertexAdjacency adjacency = BuildVertexAdjacency(work);
        const std::vector<EdgeRecord> table = BuildEdgeTable(work);
        const std::vector<std::uint32_t> saved = work.indices;
        for (const std::uint32_t x : recorded) {
            const std::vector<std::uint32_t> fan = FanOf(adjacency, x);
            if (fan.size() < 2)
                continue;
            FanGroups groups(fan);
            groups.JoinThroughManifoldEdges(x, saved, table);
            std::uint32_t groupCount = 0;
            const std::vector<std::uint32_t> groupOf = groups.Numbered(groupCount);
            const std::size_t first = work.vertices.size();
            if (first + groupCount > 0xFFFFFFFFull)
                break;
            for (std::uint32_t g = 1; g < groupCount; ++g)
                work.vertices.push_back(work.vertices[x]);
            for (std::size_t f = 0; f < fan.size(); ++f) {
                if (groupOf[f] == 0)
                    continue;
                for (int k = 0; k < 3; ++k) {
                    if (saved[3 * std::size_t{fan[f]} + k] == x)
                        work.indices[3 * std::size_t{fan[f]} + k] = static_cast<std::uint32_t>(first + groupOf[f] - 1);
                }
            }
            for (std::uint32_t g = 1; g < groupCount; ++g) {
                MeshVertex& copy = work.vertices[first + g - 1];
                const GroupCorners corners =
                    GatherGroupCorners(work.vertices, saved, fan, groupOf, g, x, copy.position);
                if (corners.count == 0)
                    continue;
                const Vec3 d = corners.mean - copy.position;
                const float length = Length(d);
                const float step =
                    SeparatingStep(std::min(kSplitStepMillimetres, std::max(0.1f * length, kSplitStepTolerances * tolerances[x])),
                        copy.position);
                if (length > 0.0f)
                    copy.position = copy.position + d * (step / length);
            }
        }
    }

    // The verdict below judges the cleaned mesh; its face map carries triangles back to the input.
    const ExportCleanupReport cleaned =
        CleanupForExport(work, kAutomaticWeldTolerance, ExportCleanupOptions{false, true, 5.0f, 0.5f});
    const std::uint64_t after = CountNonManifoldEdges(work);
    ValidationOptions options;
    options.sliverQualityLimit = 0.001f;
    options.checkSelfIntersections = false;
    options.displacedResult = false;
    options.maximumSelfIntersectionPairs = kSearchPairLimit;
    if (after < before &&
        ValidateMesh(work, options).edgeCounts.boundary <= ValidateMesh(mesh, options).edgeCounts.boundary) {
        if (faceMap != nullptr) {
            faceMap->resize(work.TriangleCount());
            for (std::size_t t = 0; t < faceMap->size(); ++t)
                (*faceMap)[t] = keptTriangles[cleaned.faceMap.empty() ? t : cleaned.faceMap[t]];
        }
        mesh.vertices = std::move(work.vertices);
        mesh.indices = std::move(work.indices);
        mesh.ComputeBounds();
        return after;
    }
    return before;
}

float LargestSplitStep(const TriangleMesh& mesh)
{
    float reach = 0.0f;
    for (const MeshVertex& v : mesh.vertices)
        if (IsFinite(v.position))
            reach = std::max({reach, std::fabs(v.position.x), std::fabs(v.position.y), std::fabs(v.position.z)});
    // The move is made in floats: half again covers its rounding.
    constexpr float kRoundingMargin = 1.5f;
    return kRoundingMargin
        * SeparatingStep(std::max(kSplitStepMillimetres, kSplitStepTolerances * LocalWeldTolerancesBound(mesh)), {reach, 0, 0});
}

}  // namespace grainforge::mesh
