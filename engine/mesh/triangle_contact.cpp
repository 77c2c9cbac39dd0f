#include "engine/mesh/triangle_contact.h"

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace grainforge::mesh {
namespace {

constexpr double kOrient2dFilterBound = 1e-15;  // Shewchuk's bound is 3.3e-16

// Exact sign of the orientation of a, b, c seen along axis `dropped`: the three points
// flattened into a plane of constant height, against a point one unit above a.
int Orient2d(const Point3& a, const Point3& b, const Point3& c, int dropped)
{
    const int u = (dropped + 1) % 3;
    const int v = (dropped + 2) % 3;
    // The turn in floating point decides when it clears its rounding bound (Shewchuk's for the
    // two products and their difference, about three rounding units of their sum, taken with
    // room to spare): flat fans ask many of these, and only turns near zero need the lift.
    const double left = (b[u] - a[u]) * (c[v] - a[v]);
    const double right = (b[v] - a[v]) * (c[u] - a[u]);
    const double turn = left - right;
    const double bound = kOrient2dFilterBound * (std::fabs(left) + std::fabs(right));
    if (turn > bound)
        return 1;
    if (turn < -bound)
        return -1;
    return Orient3d({a[u], a[v], 0.0}, {b[u], b[v], 0.0}, {c[u], c[v], 0.0}, {a[u], a[v], 1.0});
}

// The axis along which the triangle is seen with the most area (it keeps an area there unless
// the corners are collinear), or -1 when they are collinear.
int DropForArea(const Point3& a, const Point3& b, const Point3& c)
{
    const double e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    const double n[3] = {std::fabs(e1[1] * e2[2] - e1[2] * e2[1]), std::fabs(e1[2] * e2[0] - e1[0] * e2[2]),
        std::fabs(e1[0] * e2[1] - e1[1] * e2[0])};
    int first = n[0] >= n[1] ? (n[0] >= n[2] ? 0 : 2) : (n[1] >= n[2] ? 1 : 2);
    if (Orient2d(a, b, c, first) != 0)
        return first;
    for (int dropped = 0; dropped < 3; ++dropped)
        if (dropped != first && Orient2d(a, b, c, dropped) != 0)
            return dropped;
    return -1;
}


bool BoxesMeet(const ContactTriangle& a, const ContactTriangle& b)
{
    for (int axis = 0; axis < 3; ++axis)
        if (a.high[axis] < b.low[axis] || b.high[axis] < a.low[axis])
            return false;
    return true;
}

double Norm(double x, double y, double z) { return std::sqrt(x * x + y * y + z * z); }

// Closed coplanar triangles are apart exactly when an edge line of one has the whole other
// strictly outside (a separating line of two convex shapes can be laid along an edge).
bool CoplanarTrianglesMeet(const ContactTriangle& a, const ContactTriangle& b, int dropped)
{
    const auto separatedByAnEdgeOf = [dropped](const ContactTriangle& x, const ContactTriangle& y) {
        const int turn = Orient2d(x.point[0], x.point[1], x.point[2], dropped);
        for (int e = 0; e < 3; ++e) {
            bool allOutside = true;
            for (const Point3& r : y.point)
                allOutside = allOutside && Orient2d(x.point[e], x.point[(e + 1) % 3], r, dropped) * turn < 0;
            if (allOutside)
                return true;
        }
        return false;
    };
    return !separatedByAnEdgeOf(a, b) && !separatedByAnEdgeOf(b, a);
}

// Coplanar triangles s-a1-a2 and s-b1-b2 meet beyond s when their angular spans at s overlap:
// a bounding ray of one lies in the closed span of the other (each span under half a turn).
bool CoplanarFansMeet(const Point3& s, std::array<Point3, 2> a, std::array<Point3, 2> b, int dropped)
{
    if (Orient2d(s, a[0], a[1], dropped) < 0)
        std::swap(a[0], a[1]);
    if (Orient2d(s, b[0], b[1], dropped) < 0)
        std::swap(b[0], b[1]);
    const auto inSpan = [&](const std::array<Point3, 2>& span, const Point3& ray) {
        return Orient2d(s, span[0], ray, dropped) >= 0 && Orient2d(s, ray, span[1], dropped) >= 0;
    };
    return inSpan(a, b[0]) || inSpan(a, b[1]) || inSpan(b, a[0]) || inSpan(b, a[1]);
}

// The axis along which a triangle is seen with the most area, read off its stored normal.
int ViewAxis(const ContactTriangle& t)
{
    const double n[3] = {std::fabs(t.normal[0]), std::fabs(t.normal[1]), std::fabs(t.normal[2])};
    return n[0] >= n[1] ? (n[0] >= n[2] ? 0 : 2) : (n[1] >= n[2] ? 1 : 2);
}

// Whether the two triangles, both seen with area along `dropped`, look strictly apart there
// (an edge line of one has the other wholly outside). A point both held would be seen in
// both, so they do not meet. Near-flat neighbourhoods leave the plane tests undecided and the
// exact predicates slow, while seen from above the pair is plainly apart.
bool ApartSeenAlong(const ContactTriangle& a, const ContactTriangle& b, int dropped)
{
    const int turnA = Orient2d(a.point[0], a.point[1], a.point[2], dropped);
    const int turnB = Orient2d(b.point[0], b.point[1], b.point[2], dropped);
    if (turnA == 0 || turnB == 0)
        return false;
    const auto separatedByAnEdgeOf = [dropped](const ContactTriangle& x, int turn, const ContactTriangle& y) {
        for (int e = 0; e < 3; ++e) {
            bool allOutside = true;
            for (int k = 0; k < 3 && allOutside; ++k)
                allOutside = Orient2d(x.point[e], x.point[(e + 1) % 3], y.point[k], dropped) * turn < 0;
            if (allOutside)
                return true;
        }
        return false;
    };
    return separatedByAnEdgeOf(a, turnA, b) || separatedByAnEdgeOf(b, turnB, a);
}

// The side of a's plane on which a point lies, from the stored normal when the rounding of
// that product cannot change its sign (the bound is a thousand times the worst rounding of
// differences, cross and dot products in double; compared squared, which spares a root on
// the test's most frequent path), else exactly.
int SideOf(const ContactTriangle& a, const Point3& q)
{
    const double dx = q[0] - a.point[0][0];
    const double dy = q[1] - a.point[0][1];
    const double dz = q[2] - a.point[0][2];
    const double side = a.normal[0] * dx + a.normal[1] * dy + a.normal[2] * dz;
    const double bound = 1e-12 * a.edgeProduct;
    if (side * side > bound * bound * (dx * dx + dy * dy + dz * dz))
        return side > 0.0 ? 1 : -1;
    return Orient3d(a.point[0], a.point[1], a.point[2], q);
}

// The sides of one triangle's corners of another's plane (SideOf), each worked out when first
// asked: a pair's tests ask for most of them more than once. Corners the two share lie on the
// plane.
class CornerSides {
public:
    CornerSides(const ContactTriangle& plane, const ContactTriangle& corners, const int* shared, int sharedCount)
        : plane_(plane), corners_(corners)
    {
        for (int k = 0; k < sharedCount; ++k)
            side_[shared[k]] = 0;
    }

    int operator()(int k)
    {
        if (side_[k] == kUnknown)
            side_[k] = SideOf(plane_, corners_.point[k]);
        return side_[k];
    }

    // Whether the corners at the given positions all lie strictly on one side.
    bool StrictlyOnOneSide(const int* which, int count)
    {
        const int first = (*this)(which[0]);
        if (first == 0)
            return false;
        for (int k = 1; k < count; ++k)
            if ((*this)(which[k]) != first)
                return false;
        return true;
    }

    bool AllOnPlane() { return (*this)(0) == 0 && (*this)(1) == 0 && (*this)(2) == 0; }

    // Whether no two corners lie strictly on opposite sides.
    bool NoneOnOppositeSides()
    {
        const int product01 = (*this)(0) * (*this)(1);
        return product01 >= 0 && (*this)(0) * (*this)(2) >= 0 && (*this)(1) * (*this)(2) >= 0;
    }

    // Writes the positions of the corners on the plane to `which`; returns how many there are.
    int OnPlane(int* which)
    {
        int count = 0;
        for (int k = 0; k < 3; ++k)
            if ((*this)(k) == 0)
                which[count++] = k;
        return count;
    }

private:
    static constexpr int kUnknown = 2;
    const ContactTriangle& plane_;
    const ContactTriangle& corners_;
    int side_[3] = {kUnknown, kUnknown, kUnknown};
};

// Whether the closed segment p-q meets the closed triangle t, given the sides of p and q of t's
// plane: SegmentCrossesTriangle without working those out again.
bool CrossesWithSides(int sideP, int sideQ, const Point3& p, const Point3& q, const ContactTriangle& t)
{
    if (sideP == sideQ)
        return false;
    bool positive = false;
    bool negative = false;
    for (int e = 0; e < 3; ++e) {
        const int o = Orient3d(p, q, t.point[e], t.point[(e + 1) % 3]);
        positive = positive || o > 0;
        negative = negative || o < 0;
    }
    return positive != negative;
}

// An axis along which the two distinct points differ.
int AxisApart(const Point3& p, const Point3& q) { return p[0] != q[0] ? 0 : (p[1] != q[1] ? 1 : 2); }

// Where triangles in two different planes each touch the other's plane without crossing it,
// they meet only on the line the planes share: in the corners of each that lie on the other's
// plane (one, or two spanning an edge). Whether those two hulls meet, read off by comparing
// coordinates along an axis on which the line advances. `sharedA` and `sharedB` are the
// positions of a corner both have, or -1, and only a meeting beyond it counts. Both triangles
// have area and at most two corners of each lie on the other's plane.
bool MeetOnSharedLine(const ContactTriangle& a, const int* onA, int countA, int sharedA, const ContactTriangle& b,
                      const int* onB, int countB, int sharedB)
{
    if (sharedA >= 0) {
        // Both hulls hold the shared corner s: they meet beyond it when both run on from s
        // the same way along the line.
        if (countA < 2 || countB < 2)
            return false;
        const Point3& s = a.point[sharedA];
        const Point3& p = a.point[onA[0] == sharedA ? onA[1] : onA[0]];
        const Point3& q = b.point[onB[0] == sharedB ? onB[1] : onB[0]];
        const int axis = AxisApart(p, s);
        return (p[axis] > s[axis]) == (q[axis] > s[axis]);
    }
    if (countA == 1 && countB == 1)
        return a.point[onA[0]] == b.point[onB[0]];
    const int axis = countA == 2 ? AxisApart(a.point[onA[0]], a.point[onA[1]]) : AxisApart(b.point[onB[0]], b.point[onB[1]]);
    const auto low = [axis](const ContactTriangle& t, const int* on, int count) {
        return count == 1 ? t.point[on[0]][axis] : std::min(t.point[on[0]][axis], t.point[on[1]][axis]);
    };
    const auto high = [axis](const ContactTriangle& t, const int* on, int count) {
        return count == 1 ? t.point[on[0]][axis] : std::max(t.point[on[0]][axis], t.point[on[1]][axis]);
    };
    return low(a, onA, countA) <= high(b, onB, countB) && low(b, onB, countB) <= high(a, onA, countA);
}

// For triangles in different planes (neither has all its corners on the other's plane) that
// share at most one corner: when neither crosses the other's plane, the meeting on the planes'
// line decides; 0 and 1 answer, -1 leaves the pair to the edge tests.
int MeetWithoutCrossing(const ContactTriangle& a, CornerSides& sidesOfA, int sharedA, const ContactTriangle& b,
                        CornerSides& sidesOfB, int sharedB)
{
    if (!sidesOfA.NoneOnOppositeSides() || !sidesOfB.NoneOnOppositeSides())
        return -1;
    int onA[3];
    int onB[3];
    const int countA = sidesOfA.OnPlane(onA);
    const int countB = sidesOfB.OnPlane(onB);
    // Three corners of a triangle without area lie on any plane through its line.
    if (countA > 2 || countB > 2)
        return -1;
    return MeetOnSharedLine(a, onA, countA, sharedA, b, onB, countB, sharedB) ? 1 : 0;
}

}  // namespace

void PrepareContact(ContactTriangle& t)
{
    const Point3& p0 = t.point[0];
    const double e1[3] = {t.point[1][0] - p0[0], t.point[1][1] - p0[1], t.point[1][2] - p0[2]};
    const double e2[3] = {t.point[2][0] - p0[0], t.point[2][1] - p0[1], t.point[2][2] - p0[2]};
    t.normal = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    t.edgeProduct = Norm(e1[0], e1[1], e1[2]) * Norm(e2[0], e2[1], e2[2]);
    for (int axis = 0; axis < 3; ++axis) {
        t.low[axis] = std::min({t.point[0][axis], t.point[1][axis], t.point[2][axis]});
        t.high[axis] = std::max({t.point[0][axis], t.point[1][axis], t.point[2][axis]});
    }
}

bool PointsCollinear(const Point3& a, const Point3& b, const Point3& c) { return DropForArea(a, b, c) < 0; }

bool TrianglesMeetBeyondSharedVertices(const ContactTriangle& a, const ContactTriangle& b)
{
    int sharedA[3];
    int sharedB[3];
    int shared = 0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            if (a.index[i] == b.index[j]) {
                sharedA[shared] = i;
                sharedB[shared] = j;
                ++shared;
            }
        }
    }
    if (shared == 3)
        return true;
    if (shared == 0 && (!BoxesMeet(a, b) || ApartSeenAlong(a, b, ViewAxis(a))))
        return false;
    // Sides of b's corners of a's plane, and of a's corners of b's plane.
    CornerSides sidesOfB(a, b, sharedB, shared);
    CornerSides sidesOfA(b, a, sharedA, shared);
    if (shared == 0) {
        static constexpr int kAll[3] = {0, 1, 2};
        if (sidesOfB.StrictlyOnOneSide(kAll, 3) || sidesOfA.StrictlyOnOneSide(kAll, 3))
            return false;
        if (sidesOfB.AllOnPlane()) {
            const int dropped = DropForArea(a.point[0], a.point[1], a.point[2]);
            return dropped >= 0 && CoplanarTrianglesMeet(a, b, dropped);
        }
        if (const int meet = MeetWithoutCrossing(a, sidesOfA, -1, b, sidesOfB, -1); meet >= 0)
            return meet == 1;
        // Each edge of one against the other, on the points as given.
        for (int i = 0; i < 3; ++i) {
            const int next = (i + 1) % 3;
            if (CrossesWithSides(sidesOfA(i), sidesOfA(next), a.point[i], a.point[next], b)
                || CrossesWithSides(sidesOfB(i), sidesOfB(next), b.point[i], b.point[next], a))
                return true;
        }
        return false;
    }
    if (shared == 1) {
        const int i = sharedA[0];
        const int j = sharedB[0];
        const int otherA[2] = {(i + 1) % 3, (i + 2) % 3};
        const int otherB[2] = {(j + 1) % 3, (j + 2) % 3};
        if (sidesOfB.StrictlyOnOneSide(otherB, 2) || sidesOfA.StrictlyOnOneSide(otherA, 2))
            return false;
        if (sidesOfB.AllOnPlane()) {
            const int dropped = DropForArea(a.point[0], a.point[1], a.point[2]);
            return dropped >= 0 && CoplanarFansMeet(a.point[i], {a.point[otherA[0]], a.point[otherA[1]]},
                {b.point[otherB[0]], b.point[otherB[1]]}, dropped);
        }
        if (const int meet = MeetWithoutCrossing(a, sidesOfA, i, b, sidesOfB, j); meet >= 0)
            return meet == 1;
        // The planes meet in a line through the shared vertex; the triangles overlap on it
        // beyond that vertex exactly when the edge opposite it in one meets the other.
        return CrossesWithSides(sidesOfA(otherA[0]), sidesOfA(otherA[1]), a.point[otherA[0]], a.point[otherA[1]], b)
            || CrossesWithSides(sidesOfB(otherB[0]), sidesOfB(otherB[1]), b.point[otherB[0]], b.point[otherB[1]], a);
    }
    // One shared edge: triangles in different planes meet only on it.
    const int apexA = 3 - sharedA[0] - sharedA[1];
    const int apexB = 3 - sharedB[0] - sharedB[1];
    if (SideOf(a, b.point[apexB]) != 0)
        return false;
    const Point3& s0 = a.point[sharedA[0]];
    const Point3& s1 = a.point[sharedA[1]];
    const int dropped = DropForArea(a.point[0], a.point[1], a.point[2]);
    return dropped >= 0 && Orient2d(s0, s1, a.point[apexA], dropped) * Orient2d(s0, s1, b.point[apexB], dropped) > 0;
}

namespace {

ContactTriangle ContactOf(const TriangleMesh& mesh, std::size_t t)
{
    ContactTriangle contact;
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t c = mesh.indices[3 * t + k];
        const Vec3 p = mesh.vertices[c].position;
        contact.index[k] = c;
        contact.point[k] = {p.x, p.y, p.z};
    }
    PrepareContact(contact);
    return contact;
}

bool IsFlat(const ContactTriangle& t) { return PointsCollinear(t.point[0], t.point[1], t.point[2]); }

}  // namespace

namespace {

using Pair = std::array<std::uint32_t, 2>;

// Whether a node's box reaches a triangle's.
bool BoxReaches(Vec3 low, Vec3 high, const ContactTriangle& triangle)
{
    return low.x <= triangle.high[0] && triangle.low[0] <= high.x && low.y <= triangle.high[1]
        && triangle.low[1] <= high.y && low.z <= triangle.high[2] && triangle.low[2] <= high.z;
}

// Calls visit(i) for every position i of the tree's order whose leaf box reaches `triangle`.
template <typename Visit>
void VisitReaching(const AabbTree& tree, const ContactTriangle& triangle, std::vector<std::uint32_t>& stack, Visit&& visit)
{
    stack.assign(1, 0);
    while (!stack.empty()) {
        const std::uint32_t at = stack.back();
        const AabbNode& node = tree.nodes[at];
        stack.pop_back();
        if (!BoxReaches(node.boxMin, node.boxMax, triangle))
            continue;
        if (node.count == 0) {
            stack.push_back(node.right);
            stack.push_back(at + 1);
            continue;
        }
        for (std::uint32_t i = node.first; i < node.first + node.count; ++i)
            visit(i);
    }
}

// Which triangles count as changed: all of them, or those flagged.
struct ChangedFlags {
    bool all = true;
    std::span<const std::uint8_t> flags;
    bool operator()(std::size_t t) const { return all || flags[t] != 0; }
};

// Whether the pair of changed triangle t and triangle u is looked at: a pair of changed
// triangles is taken from its lower one.
bool IsSearchedPair(std::uint32_t t, std::uint32_t u, bool uChanged)
{
    return u != t && !(uChanged && u < t);
}

// The search with one tree over the whole mesh, each changed triangle asking it.
void SearchFromChanged(const TriangleMesh& result, const ChangedFlags& isChanged,
                       std::vector<std::vector<Pair>>& perBlock, std::size_t block)
{
    AabbTree tree;
    tree.Build(result);
    if (tree.nodes.empty())
        return;
    ParallelForBlocks(result.TriangleCount(), block, [&](std::size_t begin, std::size_t end) {
        std::vector<Pair>& mine = perBlock[begin / block];
        std::vector<std::uint32_t> stack;
        for (std::size_t t = begin; t < end; ++t) {
            if (!isChanged(t))
                continue;
            const auto t32 = static_cast<std::uint32_t>(t);
            const ContactTriangle triangle = ContactOf(result, t);
            if (IsFlat(triangle)) {
                mine.push_back({t32, t32});
                continue;
            }
            VisitReaching(tree, triangle, stack, [&](std::uint32_t i) {
                const std::uint32_t u = tree.order[i];
                if (!IsSearchedPair(t32, u, isChanged(u)))
                    return;
                const ContactTriangle other = ContactOf(result, u);
                if (!IsFlat(other) && TrianglesMeetBeyondSharedVertices(triangle, other))
                    mine.push_back({std::min(t32, u), std::max(t32, u)});
            });
        }
    });
}

// The same search with a tree over the changed triangles alone, which every triangle asks:
// after a change to a small place, building a tree over the whole mesh cost more than all the
// tests. Each pair is tested with the changed triangle first, as above, so the answer is the same.
void SearchFromAll(const TriangleMesh& result, const std::vector<std::uint32_t>& changedList,
                   const ChangedFlags& isChanged, std::vector<std::vector<Pair>>& perBlock,
                   std::size_t block)
{
    TriangleMesh place;
    std::vector<std::uint32_t> renumbered(result.vertices.size(), std::numeric_limits<std::uint32_t>::max());
    place.indices.reserve(3 * changedList.size());
    std::vector<ContactTriangle> contacts(changedList.size());
    std::vector<std::uint8_t> flat(changedList.size(), 0);
    for (std::size_t i = 0; i < changedList.size(); ++i) {
        const std::uint32_t* c = &result.indices[3 * std::size_t{changedList[i]}];
        for (int k = 0; k < 3; ++k) {
            if (renumbered[c[k]] == std::numeric_limits<std::uint32_t>::max()) {
                renumbered[c[k]] = static_cast<std::uint32_t>(place.vertices.size());
                place.vertices.push_back(result.vertices[c[k]]);
            }
            place.indices.push_back(renumbered[c[k]]);
        }
        contacts[i] = ContactOf(result, changedList[i]);
        flat[i] = IsFlat(contacts[i]) ? 1 : 0;
        if (flat[i] != 0)
            perBlock[changedList[i] / block].push_back({changedList[i], changedList[i]});
    }
    AabbTree tree;
    tree.Build(place);
    if (tree.nodes.empty())
        return;
    // Gathered apart from the flat ones, which were listed before the blocks started.
    std::vector<std::vector<Pair>> found(perBlock.size());
    ParallelForBlocks(result.TriangleCount(), block, [&](std::size_t begin, std::size_t end) {
        std::vector<Pair>& mine = found[begin / block];
        std::vector<std::uint32_t> stack;
        for (std::size_t u = begin; u < end; ++u) {
            const auto u32 = static_cast<std::uint32_t>(u);
            const ContactTriangle other = ContactOf(result, u);
            bool otherFlat = false;
            bool otherKnown = false;
            VisitReaching(tree, other, stack, [&](std::uint32_t at) {
                const std::uint32_t i = tree.order[at];
                const std::uint32_t t = changedList[i];
                if (flat[i] != 0 || !IsSearchedPair(t, u32, isChanged(u)))
                    return;
                if (!otherKnown) {
                    otherFlat = IsFlat(other);
                    otherKnown = true;
                }
                if (!otherFlat && TrianglesMeetBeyondSharedVertices(contacts[i], other))
                    mine.push_back({std::min(t, u32), std::max(t, u32)});
            });
        }
    });
    for (std::size_t b = 0; b < found.size(); ++b)
        perBlock[b].insert(perBlock[b].end(), found[b].begin(), found[b].end());
}

}  // namespace

std::vector<std::array<std::uint32_t, 2>> ChangedTrianglePairsMeetingOrFlat(const TriangleMesh& result,
                                                                          std::span<const std::uint8_t> changed)
{
    std::vector<Pair> found;
    if (!result.IsConsistent())
        return found;
    const std::size_t count = result.TriangleCount();
    const bool all = changed.size() != count;
    const ChangedFlags isChanged{all, changed};
    // Each block lists what it finds; the lists are joined and sorted, so the answer is the
    // same on any number of threads.
    constexpr std::size_t kBlock = 256;
    std::vector<std::vector<Pair>> perBlock((count + kBlock - 1) / kBlock);
    std::vector<std::uint32_t> changedList;
    for (std::size_t t = 0; !all && t < count; ++t)
        if (changed[t] != 0)
            changedList.push_back(static_cast<std::uint32_t>(t));
    // Below an eighth of the mesh changed, the small tree is the cheaper way round.
    if (!all && changedList.size() < count / 8)
        SearchFromAll(result, changedList, isChanged, perBlock, kBlock);
    else
        SearchFromChanged(result, isChanged, perBlock, kBlock);
    for (const std::vector<Pair>& list : perBlock)
        found.insert(found.end(), list.begin(), list.end());
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

std::vector<std::uint32_t> ChangedTrianglesMeetingOrFlat(const TriangleMesh& result, std::span<const std::uint8_t> changed)
{
    std::vector<std::uint32_t> found;
    for (const std::array<std::uint32_t, 2>& pair : ChangedTrianglePairsMeetingOrFlat(result, changed))
        found.insert(found.end(), pair.begin(), pair.end());
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

}  // namespace grainforge::mesh
