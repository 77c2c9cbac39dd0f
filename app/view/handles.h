// The handles of the editing tools (move, turn and resize the cage and the mask volumes; move,
// turn and zoom one side's texture), their drawn geometry, their hit tests against a picking
// ray, the drag arithmetic, and the two scene picks (the cage's box sides and the part). All
// pure functions: the viewport keeps the drag state and talks to the document's view.
//
// Handle ids: 0 none; 1 +X, 2 +Y, 3 +Z, 5 -X, 6 -Y, 7 -Z, 8 a cylinder mask's radius (+X);
// 4 the texture tools' centre disc. The texture tools use 1 and 2 as their U and V arrows and
// 3 as their ring or zoom handle.
#pragma once

#include "app/view/cage_host.h"
#include "app/view/renderer/overlay_builders.h"
#include "engine/displacement/mask_volume.h"
#include "engine/mesh/aabb_tree.h"

#include <vector>

namespace grainforge::app {

using gl::GizmoGeometry;
using mesh::Vec3;

// Hit tolerance of arrows and rings, as a share of the handle size.
inline constexpr float kHandleGrabShare = 0.09f;
// A mask's size never shrinks below this through a drag (millimetres).
using mesh::kMinimumMaskSize;
inline constexpr float kMinimumTextureZoom = 0.05f;
inline constexpr float kMaximumTextureZoom = 20.0f;

Vec3 HandleAxisDirection(const CageFrame& frame, int id);
Vec3 HandleColour(int id);

// Distance from the ray to the segment a-b; `s` receives the segment parameter 0..1.
float RaySegmentDistance(const ViewRay& ray, Vec3 a, Vec3 b, float& s);
// Signed position along `axis` (from `point`) of the axis point nearest the ray; false when the
// axis runs nearly along the ray.
bool AxisDragParameter(const ViewRay& ray, Vec3 point, Vec3 axis, float& t);
// Angle (radians) of the ray's hit on the plane through `centre` with `normal`, measured from
// `reference` about the normal; false when the plane is edge-on, behind the eye, or hit at the
// centre.
bool RingDragAngle(const ViewRay& ray, Vec3 centre, Vec3 normal, Vec3 reference, float& angle);
// The ray's hit on the gizmo's plane in the side's own (u, v) axes, relative to the centre.
bool LayerPlanePoint(const ViewRay& ray, const LayerGizmo& gizmo, float& u, float& v);

int PickFrameHandle(const ViewRay& ray, const CageFrame& frame, int tool, float size);

struct MaskScaleHandle {
    int id = 0;
    Vec3 position;
    Vec3 direction;
};
std::vector<MaskScaleHandle> MaskScaleHandles(const CageFrame& frame, bool isCylinder);
int PickMaskScaleHandle(const ViewRay& ray, const CageFrame& frame, bool isCylinder, float radius);
int PickLayerHandle(const ViewRay& ray, const LayerGizmo& gizmo, int tool, float size);

struct BoxSidePick {
    bool hit = false;
    mesh::RayHit record;
    int side = -1;
};
BoxSidePick PickBoxSide(const ViewRay& ray, const Projection& projection);
// Nearest hit on the mesh with its triangle number; an empty record (triangle -1) for a mesh
// that is empty, inconsistent or without a current box.
mesh::RayHit PickMesh(const ViewRay& ray, const mesh::TriangleMesh& mesh);

void AddHandleCone(GizmoGeometry& geometry, Vec3 tip, Vec3 axis, Vec3 side1, Vec3 side2, float radius, Vec3 colour);
void AddHandleBox(GizmoGeometry& geometry, Vec3 centre, Vec3 x, Vec3 y, Vec3 z, float half, Vec3 colour);
void AddHandleRing(GizmoGeometry& geometry, Vec3 centre, Vec3 a1, Vec3 a2, float radius, Vec3 colour);

GizmoGeometry BuildFrameHandleGizmo(const CageFrame& frame, int tool, int hovered, float size);
GizmoGeometry BuildMaskScaleGizmo(const CageFrame& frame, bool isCylinder, int hovered, float size);
GizmoGeometry BuildLayerGizmo(const LayerGizmo& gizmo, int tool, int hovered, float size);

// Grabbed frame handle at drag start.
struct FrameDragState {
    int handle = 0;
    CageFrame frame;
    float startValue = 0.0f;
    float handleSize = 1.0f;
};

struct LayerDragState {
    int tool = 0;
    int handle = 0;
    LayerGizmo gizmo;
    ProjectionLayer layer;
    float startValue = 0.0f;
    float startPlane[2] = {0.0f, 0.0f};
    float handleSize = 0.0f;
    float lastAngle = 0.0f;  // ring angle of the previous move, unwrapped (radians)
};

// The frame after dragging face `id` from axis parameter t0 to t; with `symmetric` both faces
// move and the centre stays, otherwise the opposite face stays. Sizes never go below `minimum`.
CageFrame ScaleMaskFrame(const CageFrame& start, int id, float t0, float t, bool symmetric, float minimum);
// The side layer for the ray, from the drag's start state. Only a ring drag remembers its last
// angle, so that whole turns add up.
bool ApplyLayerDrag(const ViewRay& ray, LayerDragState& state, ProjectionLayer& layer);

// The side layer record of a side, or the default one for a side outside 0..5.
ProjectionLayer SideLayerOf(const Projection& projection, int side);

// Axis index 0..2 of a frame handle id (1, 5, 8 -> 0; 2, 6 -> 1; 3, 7 -> 2); -1 for others.
int HandleAxisIndex(int id);
// The world axis a frame drag moves along: the rotated local axis, negated for a mask's
// negative faces under the scale tool.
Vec3 FrameDragAxis(const CageFrame& frame, int tool, int id);
// Start value of a frame drag (axis parameter or ring angle); false when it cannot be had.
bool FrameDragStartValue(const ViewRay& ray, const CageFrame& frame, int tool, int id, float& value);
// The frame for the ray, from the drag's start; false when the ray gives nothing.
bool ApplyFrameDrag(const ViewRay& ray, const FrameDragState& state, int tool, bool shift, CageFrame& frame);
// Start state of a layer drag; false when the handle cannot be grabbed there.
bool BeginLayerDrag(const ViewRay& ray, const LayerGizmo& gizmo, const Projection& projection, int tool, int id,
                    float size, LayerDragState& state);

}  // namespace grainforge::app
