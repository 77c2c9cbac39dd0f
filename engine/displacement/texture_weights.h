// How strongly each part of a mesh receives texture. A corner weighs 1 where a projecting side
// faces the surface squarely, less where sides share it (the box blend, a cylinder's cap and
// wall), and 0 where no side projects, where the surface is of the kind the projection leaves
// out (outer or inner), outside the one rectangle of a texture that does not repeat, or inside
// a mask volume; a mask's feather fades the weight back outside its boundary. The displacement
// scales each vertex's relief by its weight; the simplify and cleanup stages carry the weights
// to their output meshes through vertex and face maps.
//
// Every operation takes any mesh: an inconsistent one (index count not a multiple of three, an
// index out of range) gives the empty weights, which callers read as "unweighted".
#pragma once

#include "engine/displacement/displacement_settings.h"
#include "engine/displacement/mask_volume.h"
#include "engine/displacement/projection.h"
#include "engine/displacement/tile_frame.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace grainforge::mesh {

// Per-corner, per-vertex and per-triangle weights of one mesh. All four vectors empty means
// there are no weights.
struct TextureWeights {
    // One per index, in index order, 0..1. The corners of one vertex are all evaluated at the
    // vertex's position and normal, so they differ only through their triangles' outer-mask
    // bytes.
    std::vector<float> cornerWeights;
    // One per vertex, combined from its corners by the outside rule; 0 for a vertex on no
    // triangle.
    std::vector<float> vertexWeights;
    // One per triangle: 1 when any of its corner weights is above 0.
    std::vector<std::uint8_t> faceTextured;
    // One per triangle: the outer mask the weights were computed with, 255 outer and 0 inner.
    std::vector<std::uint8_t> faceOuterMask;

    // True when the four sizes fit the mesh: a vertex weight per vertex, a corner weight per
    // index, and both byte vectors one per whole triangle (index count / 3).
    bool MatchesMesh(const TriangleMesh& mesh) const;

    friend bool operator==(const TextureWeights&, const TextureWeights&) = default;
};

// Triangle areas, mm2, of the faces a set of flags marks.
struct FlaggedArea {
    std::uint64_t faces = 0;         // flags given
    std::uint64_t flaggedFaces = 0;  // flags other than 0 among the measured triangles
    double totalArea = 0.0;          // area of the measured triangles
    double flaggedArea = 0.0;        // area of those flagged
};

// The weights of `mesh` under `projection`.
// - `outerMask`: one byte per triangle, 255 outer and 0 inner (FaceFlagsToMask of the surface
//   classes); the projection's surface settings select by it. Empty or of another length: every
//   triangle counts as outer.
// - `settings.outsideRule` combines a vertex's corners: any (the largest), all (the smallest)
//   or average (weighted by the areas of the corners' triangles); any other value gives 0.
// - A triangle the projection does not take as a face (ProjectionTakesFace), or one lying on
//   the bed while `settings.base` keeps the bed face flat (FacesOnTheBed), weighs 0 in every
//   corner and is not textured.
// - `tileFrame`: when on, only points inside its rectangle receive texture.
// - `masks`: enabled volumes zero the weight inside and fade it back over their feather.
// - `taken`: one flag per triangle, whether the projection takes it as a face, in place of
//   ProjectionTakesFace (FacesTakenAsThePartsFaces for a remesh of the part); another length is
//   ignored.
// A vertex whose position or normal is not finite weighs 0 in every corner, and a triangle
// whose area is not finite adds nothing to the average rule. No vertices, or an inconsistent
// mesh, give the empty weights. The corners are weighed in parallel over triangles; the result
// does not depend on the thread count. Allocates only the result and one accumulator per vertex.
[[nodiscard]] TextureWeights ComputeTextureWeights(const TriangleMesh& mesh, const Projection& projection,
    std::span<const std::uint8_t> outerMask, const DisplacementSettings& settings,
    const TileFrame& tileFrame, std::span<const MaskVolume> masks = {}, std::span<const std::uint8_t> taken = {});

// The weights of `newMesh`, made from the weights of `oldMesh` through the maps `vertexMap`
// (new vertex -> old vertex) and `faceMap` (new triangle -> old triangle). A new vertex takes
// its old vertex's weight; a new triangle takes its old triangle's bytes, and each corner keeps
// its old corner weight where the same old vertex sits in the same corner of the old triangle,
// else takes its vertex's old weight. Map entries are checked: a vertex mapped out of range
// weighs 0; a triangle mapped out of range is not textured, inner (0), and its corners take the
// checked vertex weights. The empty weights come back when a map's length does not fit the new
// mesh, the old weights do not match the old mesh, or either mesh is inconsistent. Parallel.
[[nodiscard]] TextureWeights RemapTextureWeights(const TextureWeights& oldWeights,
    const TriangleMesh& oldMesh, const TriangleMesh& newMesh, std::span<const std::uint32_t> vertexMap,
    std::span<const std::uint32_t> faceMap);

// Whether the projection takes triangle `t` (of a consistent mesh) as a face: its own normal,
// at one of its corners, maps to a sample the surface settings keep for `outerByte`. A face
// square to a plane, or turned to a box side that is off, is not taken, though its corners may
// share a vertex normal with a face that is; a normal leaning no further than the rounding of
// the triangle's corners allows counts as square (MapFaceThroughProjection), so a face square to
// the projection stays so however the part is turned. A triangle without area counts as taken.
[[nodiscard]] bool ProjectionTakesFace(const TriangleMesh& mesh, std::size_t t, const Projection& projection,
    std::uint8_t outerByte);

// One flag per triangle of `mesh`, a remesh of `part`: whether the projection takes it as a
// face, judged as ProjectionTakesFace judges the face of `part` it was made from (the triangle
// of `part` nearest its centroid, within its longest edge, among those facing within 30
// degrees of it; with none, its own). The remesh places a corner on a crease a little off it,
// and the triangles of a face square to the projection round that corner lean towards it by a
// degree or two: judged by the part's face they stay as plain as it. `outerMask` as for
// ComputeTextureWeights. Empty for an inconsistent mesh or part, or a part without triangles.
// Parallel; builds a tree over `part`.
[[nodiscard]] std::vector<std::uint8_t> FacesTakenAsThePartsFaces(const TriangleMesh& mesh, const TriangleMesh& part,
    const Projection& projection, std::span<const std::uint8_t> outerMask);

// Within this distance of the base plane (or a millionth of the plane's coordinate or of the
// part's longest side, when larger) a corner lies on the bed.
inline constexpr float kBedFaceTolerance = 1e-4f;

// One flag per triangle: 1 where the bed face is kept flat (`base.enabled`) and all three
// corners lie on the base plane, so the relief moves nothing there. Empty when the base is not
// protected or the mesh is inconsistent. Parallel.
[[nodiscard]] std::vector<std::uint8_t> FacesOnTheBed(const TriangleMesh& mesh, const BaseProtection& base);

// One flag per triangle: 1 where the relief must leave the face in its plane, because it takes
// no texture (no corner weighs above 0) and is not the bed face kept flat, which the bed hold
// keeps level by itself. A vertex on such a face's rim may still move within the face's plane.
// Empty when the weights do not match the mesh or no triangle is flagged. Parallel.
[[nodiscard]] std::vector<std::uint8_t> FacesKeptPlain(
    const TriangleMesh& mesh, const TextureWeights& weights, const BaseProtection& base);

// Per-triangle surface classes (or any flags) as an outer mask: 255 where the flag is above 0,
// else 0. Degenerate triangles (class 2) thus count as outer.
[[nodiscard]] std::vector<std::uint8_t> FaceFlagsToMask(std::span<const std::uint8_t> flags);

// Areas of the first min(flags, triangles) triangles, each computed in single precision and
// summed in double; a triangle whose area is not finite adds nothing. For an inconsistent mesh
// only `faces` is filled.
[[nodiscard]] FlaggedArea FlaggedAreaShare(const TriangleMesh& mesh, std::span<const std::uint8_t> flags);

// "F of N faces receive texture, V of M vertices will move", followed by ", mean weight 0.00"
// (the mean of the V weights above 0) when V is not 0. Counts are not grouped.
[[nodiscard]] std::string FormatTextureWeights(const TextureWeights& weights);

}  // namespace grainforge::mesh
