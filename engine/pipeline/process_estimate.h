// The triangle count a Process run is expected to make, before it runs. The relief section
// shows it and the document refuses a run with it, so the user never sees two different counts
// for the same part and settings.
#pragma once

#include "engine/mesh/triangle_mesh.h"
#include "engine/pipeline/pipeline_records.h"

#include <cstdint>
#include <string>

namespace grainforge::mesh {

// The limits a run's stages hold their need against before any stage runs, in the order the
// stages meet them: the triangle limit, the whole run's memory, the solid relief's field.
enum class ProcessLimit : std::uint8_t {
    none = 0,
    triangles = 1,
    memory = 2,
    reliefMemory = 3,
    // The part, or a piece of it, lies so far out that its coordinates step too coarsely for the
    // triangle size (FindPieceTooFarOut); Process refuses it before the remesh, naming it.
    farOut = 4,
};

struct ProcessEstimate {
    std::uint64_t triangles = 0;       // the count shown and held against the limit
    float cappedCellMillimetres = 0.0f; // the cell the part's size forced, else 0
    std::uint64_t limit = 0;           // the run's triangle limit; 0 means none
    bool overLimit = false;            // a stage of the run has a limit and would be refused
    CostliestPiece costliest;          // where bodies lie apart, the one that makes the most
    bool ownTriangles = false;         // no remesh: the solid relief at the part's own triangles
    // Over the limit: the smallest triangle size found (with Remesh on) at which the run passes
    // every limit (AdviseProcessTriangleSize), as RoundLengthUp writes it; 0 when none was found
    // or the run is not over.
    float advisedTriangleSize = 0.0f;
    // Over the limit: the memory limit the run would still meet at this triangle size with a
    // higher triangle limit (none when a higher limit lets it run).
    ProcessLimit alsoOver = ProcessLimit::none;
};

// How many times the shown count a stage may make before its own limit stops it. The shown
// count is an estimate: a deep relief adds surface (a third more at 3 mm on a 0.3 mm cube), so
// a stage that held its own count against the limit itself would refuse runs the shown count
// let start. Past twice the estimate the count has run away and memory is at stake.
inline constexpr std::uint64_t kStageTriangleHeadroom = 2;

// A remesh estimate as shown: the area rule runs low on curved parts and the relief adds
// surface, so a twelfth more is closer to what Process makes. Saturates instead of wrapping.
[[nodiscard]] std::uint64_t ShownTriangleEstimate(std::uint64_t remeshEstimate);

// True when `count` is over `limit`; a limit of 0 means none. Every comparison of a triangle
// count with the user's triangle limit goes through here.
// Whether the settings ask for the solid relief (any method but moving the vertices): the one
// test the estimate and the run's own refusals make.
[[nodiscard]] bool HasSolidRelief(const PipelineSettings& settings);

[[nodiscard]] bool OverTriangleLimit(std::uint64_t count, std::uint64_t limit);

// The fewest triangles a remesh estimate must come to for the remesh to be trusted with the
// part's surface. Fewer, and the triangle size is about as large as the part: the contour
// remesh then makes nothing at all (a 20 mm sphere at 14 mm, estimated at 19, while 13 mm,
// estimated at 22, makes 32; a 20 mm cube at 40 mm), the isotropic one leaves the part as it
// was. Parts thinner than the size can still lose their surface; the remesh's own count says so.
inline constexpr std::uint64_t kFewestRemeshTriangles = 32;

// True when `estimate` measured the surface (every triangle, a finite area) and comes to
// fewer than kFewestRemeshTriangles. A surface it could not measure (a NaN coordinate) is left
// to the remesh, which names that cause itself.
[[nodiscard]] bool UnderRemeshFloor(const RemeshEstimate& estimate);

// The largest triangle size below the one in `settings` whose remesh estimate on `mesh`
// reaches kFewestRemeshTriangles, as RoundLengthUp writes it; 0 when none is found.
[[nodiscard]] float AdviseCoarsestRemeshSize(const TriangleMesh& mesh, const RemeshSettings& settings);

// The limit a stage holds its own count against, for a run whose shown count is within
// `limit`: kStageTriangleHeadroom times it, saturating; the largest value when `limit` is 0.
[[nodiscard]] std::uint64_t StageTriangleLimit(std::uint64_t limit);

// The cell of a solid relief made without a remesh: the part's own triangle size, never finer
// than 0.05 mm.
[[nodiscard]] float UnremeshedSolidCell(const TriangleMesh& mesh);

// The expected result of `settings` on `source`: the remesh with the run's effective settings
// (the contour remesh under a solid relief), or, without a remesh, the solid relief at the
// part's own triangle size. Over the limit only when such a stage runs and there is a limit:
// then Process refuses before any stage runs, advising the triangle size at which the run
// passes every limit, this one for all pieces of the part together and the memory against
// `available` bytes (0: unknown, only the triangle limit and the relief's fixed parts count).
[[nodiscard]] ProcessEstimate EstimateProcessTriangles(const TriangleMesh& source,
    const PipelineSettings& settings, std::uint64_t available = 0);

// Bytes a whole run holds at its peak per triangle the remesh (or the relief without one) is
// expected to make: the relief's field and mesh, the search trees, the simplify's copies and the
// checks. pipeline_bench's Process/Cube100/0.3mm peaks at 622 MB for the 1.6 million triangles
// shown (some 390 bytes each), Process/Cube100/0.2mm at 1178 MB for 3.5 million (some 340); a
// margin is kept for parts whose relief holds more.
inline constexpr double kRunBytesPerTriangle = 480.0;

// Bytes a run holds per triangle of its relief's input while the solid relief builds its field:
// the part, the remeshed mesh and its two copies (some 24 bytes a triangle each), the search tree
// with its corners (some 72), the heights, weights and flags (some 8). Counted from the records,
// with a margin for the vertices a remesh shares less than half a triangle's worth.
inline constexpr double kReliefHeldBytesPerTriangle = 160.0;

// The memory a Process run is expected to need against what the process may use.
struct ProcessMemory {
    std::uint64_t bytes = 0;      // the whole run's peak: its stages' triangles, or a contour grid
    std::uint64_t available = 0;  // what the process may still take; 0 when unknown
    // The solid relief's field at its peak, and what the relief may give it of `available`
    // (SolidFieldBudget); both 0 without a solid relief.
    std::uint64_t reliefBytes = 0;
    std::uint64_t reliefBudget = 0;
    bool over = false;            // the run's or the relief's need is above what it may use
    bool reliefOver = false;      // of those, the relief's field is what is over
    bool ownTriangles = false;    // no remesh: the relief is made at the part's own triangles
    // Over: the smallest triangle size found (with Remesh on) at which the run passes every
    // limit (AdviseProcessTriangleSize), as RoundLengthUp writes it; 0 when none was found.
    float advisedTriangleSize = 0.0f;
};

// The whole run's memory for `settings` on `source`, held against `available` bytes (0:
// unknown, never over but for a field past its fixed-part guard): every stage after the remesh
// by its triangle count, the contour remesh's grids where they need more, and the solid relief's
// field with what the run holds beside it, where that needs more still; the field against its
// own budget as well (SolidFieldBudget of the same `available` the relief is handed). Over only
// when a stage that grows with the triangle size runs (the remesh or a solid relief); then
// Process refuses before any stage runs, advising the triangle size at which every limit passes.
// A relief whose depth rather than the triangle size fills its field (ReliefDepthFillsTheField)
// is left to the relief, whose refusal names the Strength.
[[nodiscard]] ProcessMemory EstimateProcessMemory(const TriangleMesh& source, const PipelineSettings& settings,
    std::uint64_t available);

// The first limit `settings` on `source` would stop at (none when the run may start), with
// `available` bytes of memory (0: unknown). Every refusal Process makes before its stages run
// asks this, and the advice search asks it of every size it tries.
[[nodiscard]] ProcessLimit FindProcessLimit(const TriangleMesh& source, const PipelineSettings& settings,
    std::uint64_t available);

// The smallest triangle size, with Remesh on, at which FindProcessLimit finds none, searched
// upward from the size in use and as RoundLengthUp writes it, so that the size as the user
// reads and types it passes every limit; 0 when none within a thousandfold is found.
[[nodiscard]] float AdviseProcessTriangleSize(const TriangleMesh& source, const PipelineSettings& settings,
    std::uint64_t available);

// The deepest the relief of `displacement` can reach from the surface (mm): the Strength times
// the farthest a map value (0 to 1) can lie from the midlevel; 0 when that is not a number (the
// relief refuses such settings with its own cause).
[[nodiscard]] float ReliefDepthBound(const DisplacementSettings& displacement);

// True when a relief `depth` mm deep, not the triangle size, is what makes the solid's field
// too large: the field reaches the depth (and a few cells) past the part on every side, and
// at this depth its box holds more than kDeepFieldShare times what a flat relief's would.
inline constexpr double kDeepFieldShare = 8.0;
[[nodiscard]] bool ReliefDepthFillsTheField(const TriangleMesh& part, float cell, float depth);

}  // namespace grainforge::mesh
