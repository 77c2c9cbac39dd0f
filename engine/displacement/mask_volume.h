// Mask volumes: a box, an elliptic cylinder or an ellipsoid placed with the same kind of cage
// as the projection, keeping the part's surface inside it plain. The texture weights read the
// signed distance (zero weight inside and on the boundary, fading back over the feather width
// outside); the document carries the volumes along when the part is turned and stores them;
// the view draws them from the geometry built here.
//
// The cylinder runs along the local z axis with the elliptic cross-section of half-axes
// size.x / 2 and size.y / 2; the sphere is the ellipsoid with half-axes size / 2. Sizes below
// 0.001 mm count as 0.001 mm, so a degenerate volume stays a tiny solid.
#pragma once

#include "engine/displacement/projection.h"
#include "engine/files/json_settings.h"
#include "engine/mesh/placement.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace grainforge::mesh {

// The smallest size (millimetres) a mask volume is given by a drag or a typed value.
inline constexpr float kMinimumMaskSize = 0.5f;

enum class MaskShape : std::int32_t {
    Box = 0,
    Cylinder = 1,
    Sphere = 2,
};

// The starting values are those of a volume made from nothing.
struct MaskVolume {
    MaskShape shape = MaskShape::Box;
    Vec3 center;                    // world millimetres
    Vec3 rotationDegrees;           // Euler angles about x, y, z, as the projection cage's
    Vec3 size{1.0f, 1.0f, 1.0f};    // full extents along the local x, y, z
    float featherMillimetres = 0.0f;  // width of the fade outside the boundary
    std::uint8_t enabled = 1;       // a disabled volume is kept and drawn but masks nothing
    std::string name;               // the user's name, UTF-8
    // The members of the volume's object in a project that no reader takes (a newer version's),
    // as they were: they go wherever this volume goes (a delete, an undo) and are written back
    // with it. Null when there are none. Not compared; a duplicate made by the user does not take them.
    std::shared_ptr<const JsonValue> keptMembers;

    // The centre, rotation and size as a cage, for the cage operations.
    CageFrame Frame() const { return CageFrame{center, rotationDegrees, size}; }
};

// Display geometry handed to the view. Builders append and never clear, so one record can
// collect several volumes.
struct OverlayGeometry {
    std::vector<Vec3> fillPositions;  // three per triangle
    std::vector<Vec3> fillColours;    // one per position
    std::vector<Vec3> linePositions;  // two per segment
    std::vector<Vec3> lineColours;    // one per position
};

// Signed distance in mm from the volume's surface: negative inside, 0 on the boundary,
// positive outside. Exact for boxes, circles and spheres; for ellipses a scaled distance (the
// normalised radius times the smallest half size). A shape value outside the table gives 1.0
// everywhere. Allocates nothing; safe to call from parallel loops.
float MaskSignedDistance(const MaskVolume& mask, Vec3 point);

// How fully the volume masks the point: 1 inside or on the boundary, fading to 0 with a
// smoothstep across the feather outside it; 0 beyond it and for a distance that is NaN.
float MaskFactor(const MaskVolume& mask, Vec3 point);

// The strongest masking of the enabled volumes at the point (0 with none). Both reliefs read
// it: the texture weights take 1 minus it, and the solid relief gives no height to a surface
// point it masks fully.
float MaskingAt(std::span<const MaskVolume> masks, Vec3 point);

// A copy whose centre and rotation follow the rigid transform; the size, feather, switch and
// name are kept (a scale in the transform is not carried into the size). The mask's frame is
// turned as axes and its angles read back so that they give the turned frame, also near a
// quarter turn of the y angle; a transform without a turn keeps the angles as they were.
MaskVolume TransformMask(const MaskVolume& mask, const Transform3x4& transform);

// Appends the volume's triangles (only when enabled) and lines. A shape value outside the
// table draws nothing.
void BuildMaskWireframe(const MaskVolume& mask, bool selected, OverlayGeometry& geometry);

// "shape" (a name, or the bare integer outside the table), "center", "rotationDegrees", "size",
// "featherMillimetres", "enabled", "name".
void WriteMaskVolume(const JsonNode& node, const MaskVolume& mask);

// Reads those keys; each field keeps its value when its key is missing or of the wrong kind.
// "shape" is taken only as one of the three names.
void ReadMaskVolume(const JsonView& view, MaskVolume& mask);

// Every field equal: the cage floats exactly, the feather by value (NaN never equal), the name
// byte for byte.
bool MaskVolumeEquals(const MaskVolume& a, const MaskVolume& b);

}  // namespace grainforge::mesh
