// What the corpus runners (process_corpus, repair_corpus) share: loading a part of the corpus
// (an STL or OFF file, scaled onto the bed or at its own size, or one of the generated test
// shapes) and the measures they print (closed, manifold, signed volume, the largest corner
// move). The comparison tool (tools/compare) copies this source together with a runner into
// older trees, so it keeps to entry points every recent commit has.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace grainforge::tools {

struct Loaded {
    bool ok = false;
    std::string error;
    grainforge::mesh::TriangleMesh mesh;
};

// The shapes of the foreign-shape property test that every recent commit can build, at their
// own sizes: thin, bladed, several bodies, rough, holed, far out, doubled and hollow parts.
const std::map<std::string, std::function<grainforge::mesh::TriangleMesh()>>& GeneratedParts();

// A part of the corpus with its bounds computed: "gen:<name>" at its own size, or an STL or OFF
// file scaled about its low corner so that its largest extent is `sizeMillimetres` and stood on
// z = 0; with `sizeMillimetres` 0 (or less) the file's part as written, unscaled and unmoved.
// Unreadable files come back with ok false and the reader's reason.
[[nodiscard]] Loaded LoadPart(const std::string& name, float sizeMillimetres);

struct Shape {
    bool closed = false;
    bool manifold = false;
    double volume = 0.0;
};

// Summed about the box's centre in double, so that a part far out keeps its digits. The mesh's
// bounds must be computed.
[[nodiscard]] double SignedVolume(const grainforge::mesh::TriangleMesh& mesh);

// Closed: every directed edge has its reverse. Manifold: no directed edge twice and the
// triangles round every vertex one fan. The mesh's bounds must be computed.
[[nodiscard]] Shape MeasureShape(const grainforge::mesh::TriangleMesh& mesh);

// The edges of the mesh's triangles, by vertex index: used by one triangle (open), by more than
// two (non-manifold), or by two that run it the same way (wound against each other); and the
// vertices, of those with none of these edges, round which the triangles close into more than
// one fan (pinched: bodies touching at a corner).
struct EdgeFaults {
    std::uint64_t open = 0;
    std::uint64_t nonManifold = 0;
    std::uint64_t windingConflicts = 0;
    std::uint64_t pinchedVertices = 0;
};
[[nodiscard]] EdgeFaults CountEdgeFaults(const grainforge::mesh::TriangleMesh& mesh);

// The largest distance from a corner of a triangle of `after` to the nearest corner of a
// triangle of `before`, in mm, in double: 0 for fixes that only weld, split, turn, remove or
// fill between corners that were there, the length of the move for a corner that moved.
// -1 when `before` has no triangle and `after` has one.
[[nodiscard]] double LargestCornerMove(const grainforge::mesh::TriangleMesh& before,
    const grainforge::mesh::TriangleMesh& after);

// The bodies of `before` (triangles joined through corners at one position) of which no corner
// lies within a ten-thousandth of the part's box diagonal of a corner of `after`: bodies a fix
// took away, where a count of bodies before and after would also count bodies a weld joined or
// a split parted.
[[nodiscard]] std::uint64_t CountBodiesGone(const grainforge::mesh::TriangleMesh& before,
    const grainforge::mesh::TriangleMesh& after);

// Escapes a text for a JSON string, quotes included.
[[nodiscard]] std::string Quoted(const std::string& text);

}  // namespace grainforge::tools
