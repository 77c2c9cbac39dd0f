// Engine-side geometry for editing the projection cage: fitting a new cage to a part's bounding
// box, turning the cage about one of its own axes, the outward direction of a side, the frame
// of the side layer being edited, and the display geometry of the cage (side patches tagged
// with their side numbers, edges, 48-segment circles, the cylinder's seam). The view draws and
// hit-tests these outputs; nothing here touches a window.
#pragma once

#include "engine/displacement/projection.h"

#include <cstdint>
#include <vector>

namespace grainforge::mesh {

// A bounding box as the mesh keeps it: corners and the flag that says it is current.
struct CageBounds {
    Vec3 min;
    Vec3 max;
    std::uint8_t valid = 0;
};

// The frame of one side layer. An empty gizmo has valid 0, side -1 and zeros elsewhere.
struct LayerGizmo {
    std::int32_t valid = 0;
    std::int32_t side = -1;
    Vec3 origin;       // world point where the layer's origin sits
    Vec3 layerU;       // the side's u and v axes turned by the layer's rotation
    Vec3 layerV;
    Vec3 normal;
    Vec3 sideU;        // the side's own unit axes
    Vec3 sideV;
    float halfExtentU = 0.0f;  // how far the origin may move from the side's centre along u
    float halfExtentV = 0.0f;
};

// Display geometry of the cage, in world coordinates.
struct CageGizmoGeometry {
    std::vector<Vec3> fillPositions;         // three per triangle
    std::vector<std::uint32_t> fillSides;    // one per triangle: the side it belongs to
    std::vector<Vec3> linePositions;         // two per segment
    std::vector<Vec3> accentLinePositions;   // two per segment: cylinder seam, sphere borders
};

// A new default projection of the given kind whose cage is the box grown by `margin` (a
// fraction; below 0 counts as 0), no thinner than a hundredth of the largest extent (at least
// 0.01 mm); a cylinder gets equal sizes across `cylinderAxis` (0 x, 1 y, anything else z; also
// set in the record), a sphere three equal sizes. Bounds not marked valid give the default cage
// with only the kind and the cylinder axis set.
Projection FitCageToBounds(ProjectionKind kind, const CageBounds& bounds, float margin,
                           std::int32_t cylinderAxis = 2);

// Turns the cage by `radians` about its own local axis (0 x, 1 y, 2 z) and rewrites its Euler
// angles; centre and size stay. An axis outside 0..2 leaves the cage as it was.
void RotateCageAboutAxis(CageFrame& cage, std::int32_t axis, float radians);

// The world unit direction in which a side faces: local +z for a plane, the radial direction
// at `point` for a cylinder's wall (zero on the axis) and the axis for its caps, the side's
// axis for a box or sphere (zero for a side outside 0..5).
Vec3 SideDirection(const Projection& projection, std::int32_t side, Vec3 point);

// The frame of a side's layer and where its origin sits (the side's centre when
// `useLayerOrigin` is false). The origin is clamped to the side. Empty for a side the kind
// does not have.
LayerGizmo BuildLayerGizmo(const Projection& projection, std::int32_t side, bool useLayerOrigin);

// The cage's side patches, edges and accent lines for the projection's kind.
CageGizmoGeometry BuildCageGizmo(const Projection& projection);

// The point of a sphere of `radius` around the cage centre in the direction
// normal + tan(a) u + tan(b) v of the side frame (a cube-sphere patch point).
Vec3 CubeSpherePoint(const CageFrame& cage, float radius, const struct SideFrame& frame, float a,
                     float b);

}  // namespace grainforge::mesh
