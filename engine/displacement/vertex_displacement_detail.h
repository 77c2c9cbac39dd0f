// What the vertex relief and its guards share: the record of one run (the mesh being moved, the
// moves asked for and where every vertex started), the way a guard's round takes moves back,
// and the small readings of the run that the relief, the fold guard, the crossing guard, the
// plain rims and the held-back measure all take. Internal to the vertex displacement and its
// tests; nothing here checks its input, ApplyDisplacement has done that.
#pragma once

#include "engine/displacement/displacement_settings.h"
#include "engine/mesh/triangle_mesh.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace grainforge::mesh::detail {

inline constexpr float kInfinity = std::numeric_limits<float>::infinity();
inline constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// A face normal joins a crease cluster that lies within 10 degrees of it.
inline constexpr float kClusterCosine = 0.98481f;
inline constexpr std::int32_t kMaxCreaseClusters = 3;
// How far inside the base band a coordinate may lie and still count as in it.
inline constexpr float kBandTolerance = 0.000001f;

// How a guard's round takes back the moves of the vertices it works on.
enum class TakeBack : std::uint8_t {
    easeTowardsNeighbours,  // halfway towards the mean offset of the neighbours, never further than its own move
    halve,                  // keeps half of its offset from where it started
    putBack,                // goes back to where it started
};

// One round of a guard: whether its work set takes in the triangles round the corners of what
// it works on, and how the moves of that set are taken back.
struct GuardRound {
    bool widen = false;
    TakeBack takeBack = TakeBack::halve;

    friend bool operator==(const GuardRound&, const GuardRound&) = default;
};

// The share of its offset a vertex keeps under `halve` (one half) or `putBack` (none). A vertex
// put back is still placed at start + offset x 0 rather than at its start: the results are fixed
// to the bit, and a start coordinate of -0 can come back as +0. Not for `easeTowardsNeighbours`,
// whose offset comes from the neighbours.
inline float KeptShare(TakeBack takeBack)
{
    return takeBack == TakeBack::halve ? 0.5f : 0.0f;
}

// What the move did to a vertex; the fold guard eases only the moved ones.
enum VertexState : std::uint8_t { kUntouched = 0, kMoved = 1, kLevelled = 2 };

// An edge with the first two triangles that use it (in triangle order; kNone when missing).
struct EdgeUse {
    EdgeKey key = 0;
    std::uint32_t first = kNone;
    std::uint32_t second = kNone;
};

// Normal clusters of the faces round one vertex.
struct Crease {
    Vec3 sums[kMaxCreaseClusters];
    std::int32_t count = 0;
    std::uint8_t overflow = 0;
};

// The planes a vertex on the rim of faces kept plain moves within: up to two orthonormal
// normals, or none left to move along (`frozen`).
struct PlainRim {
    Vec3 normals[2];
    std::int32_t count = 0;
    bool frozen = false;
    Vec3 start;                   // where the vertex was before the relief
    std::uint32_t firstEdge = 0;  // its far edges in DisplacementRun::rimEdges
    std::uint32_t edgeCount = 0;
};

// The far edge of a plain triangle round a rim vertex that keeps no plane, as the vertex's move
// meets it: the unit direction in the triangle's plane from the vertex towards the edge, and how
// far along it the vertex may go.
struct RimEdge {
    Vec3 towardsEdge;
    float reach = 0.0f;
};

// Everything one run works on; it all goes when the run ends.
struct DisplacementRun {
    DisplacementRun(TriangleMesh& mesh_, const std::vector<float>& weights_, const DisplacementSettings& settings_,
        DisplacementReport& report_)
        : mesh(mesh_), weights(weights_), settings(settings_), report(report_)
    {
    }

    TriangleMesh& mesh;
    const std::vector<float>& weights;
    const DisplacementSettings& settings;
    DisplacementReport& report;
    std::vector<float> heights;
    std::vector<Vec3> faceNormals;
    std::vector<Vec3> centroids;
    std::vector<EdgeUse> edges;            // ascending keys
    std::vector<std::uint32_t> across;     // per triangle three slots: triangles over its edges
    std::vector<std::uint32_t> regions;    // per triangle
    std::uint32_t regionCount = 0;
    VertexAdjacency vertexFaces;           // only its triangle lists are read
    std::shared_ptr<AabbTree> tree;
    std::vector<float> clearance;
    std::vector<float> limit;              // empty when the clearance stage did not run
    std::vector<std::uint8_t> held;        // empty when no wall was held
    std::vector<Vec3> directions;          // mitre directions; empty when the mitre is off
    std::vector<float> scales;
    std::vector<std::uint8_t> states;      // with the fold guard only
    // The check will look at this very mesh: the crossing guard's first search covers all of it
    // and is kept for the check to take over. Otherwise it searches only what moved.
    bool searchForTheCheck = true;
    std::vector<Vec3> start;               // with the fold guard only
    std::vector<std::uint32_t> rimSlots;   // per vertex its slot in `rims`; empty without plain faces
    std::vector<PlainRim> rims;
    std::vector<std::uint32_t> rimTriangles;  // plain triangles a rim corner can lay over a plain one
    std::vector<RimEdge> rimEdges;            // far edges of the rims that keep no plane, rim by rim
};

// Every edge with its first two triangles, and per triangle the triangles across its edges.
// A third triangle on an edge is not recorded, as a hash table of two slots per edge would.
void BuildEdgeUses(DisplacementRun& run);

// The signed move a vertex is asked for: its weight times its height, with the mitre scale.
float AskedMove(const DisplacementRun& run, std::size_t v);

// ---------------------------------------------------------------------------------------------

// Unit vector along a vertex normal; zero for a zero or non-finite one, which does not move.
inline Vec3 UnitNormal(Vec3 normal)
{
    const Vec3 unit = Normalized(normal);
    return IsFinite(unit) ? unit : Vec3{};
}

inline float& AxisSlot(Vec3& v, std::int32_t axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

// A weight that is not a positive number leaves its vertex alone.
inline float WeightOf(const DisplacementRun& run, std::size_t v)
{
    const float weight = run.weights[v];
    return weight > 0.0f && std::isfinite(weight) ? weight : 0.0f;
}

// The flat base as the move reads it: the band and axis resolved, the plane's protected side.
struct BaseGuard {
    explicit BaseGuard(const DisplacementSettings& settings)
        : enabled(settings.base.enabled), protectBelow(settings.base.protectBelow),
          plane(settings.base.planeMillimetres), axis(std::clamp(settings.base.axis, 0, 2))
    {
        const float set = settings.base.bandMillimetres;
        band = set > 0.0f ? set : 2.0f * std::fabs(settings.strengthMillimetres);
    }

    // How far a coordinate lies from the plane, away from the protected side.
    float Above(Vec3 position) const
    {
        const float c = AxisSlot(position, axis);
        return protectBelow ? c - plane : plane - c;
    }

    bool enabled;
    bool protectBelow;
    float plane;
    std::int32_t axis;
    float band = 0.0f;
};

}  // namespace grainforge::mesh::detail
