// How the height map lies on the part. A movable, turnable and scalable box, the cage, carries
// one of four projection kinds: a box (each cage side projects straight along its own axis), a
// plane (one projection along the cage's local z), a cylinder (unrolled around a cage axis,
// with optional caps) and a sphere (the box sides bent into longitude and latitude).
//
// Every stage that needs a texture coordinate maps a surface point and its normal through
// MapThroughProjection into up to three weighted samples, each a side and a (u, v) position in
// millimetres in that side's layer frame; the texture settings then turn millimetres into tile
// coordinates. Each side has its own layer (origin, rotation, zoom, image).
//
// Sides are numbered 0 to 5 as +X, -X, +Y, -Y, +Z, -Z: side s lies on axis s / 2, odd sides
// negative. Cage rotations are Euler angles in degrees applied x first, then y, then z
// (R = Rz Ry Rx); a local point q lies at centre + R q. Lengths are millimetres.
//
// Everything here is a pure function of its arguments; nothing allocates except the JSON
// reader and writer, so the mapping may run from many threads at once.
#pragma once

#include "engine/files/json_settings.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/textures/height_map.h"

#include <cstdint>

namespace grainforge::mesh {

inline constexpr std::int32_t kBoxSideCount = 6;

enum class ProjectionKind : std::int32_t {
    Box = 0,
    Plane = 1,
    Cylinder = 2,
    Sphere = 3,
};

// Which surfaces (outer, inner, or both) a side textures; see ClassifyOuterSurface's mask.
enum class SurfaceSide : std::int32_t {
    Outside = 0,
    Inside = 1,
    Both = 2,
};

// Axis values of planeAxis, cylinderAxis and sphereAxis: 0 x, 1 y, 2 z.

// An oriented box: shared by the projection cage and the mask volumes.
struct CageFrame {
    Vec3 center;                      // world millimetres
    Vec3 rotationDegrees;             // Euler angles about x, y, z
    Vec3 size{1.0f, 1.0f, 1.0f};      // full edge lengths along the local x, y, z
};

// One side's texture layer.
struct ProjectionLayer {
    float originMillimetres[2] = {0.0f, 0.0f};  // layer origin in the side's (u, v) plane
    float rotationDegrees = 0.0f;               // turn of the texture in that plane
    float zoom = 1.0f;                          // 0 or less counts as 1
    std::int32_t image = 0;                     // image index; carried, not interpreted here
};

struct Projection {
    ProjectionKind type = ProjectionKind::Box;
    CageFrame cage;
    // Box and sphere: the side projects. Also the set of layers those kinds use.
    std::uint8_t boxSideEnabled[kBoxSideCount] = {1, 1, 1, 1, 1, 1};
    // Box and sphere: which surfaces each side textures.
    SurfaceSide boxSideSurface[kBoxSideCount] = {SurfaceSide::Both, SurfaceSide::Both,
                                                 SurfaceSide::Both, SurfaceSide::Both,
                                                 SurfaceSide::Both, SurfaceSide::Both};
    std::uint8_t boxBlended = 0;       // blend neighbouring sides by the normal
    float boxBlendSharpness = 4.0f;    // blend exponent; below 0.1 used as 0.1
    std::uint8_t planeTwoSided = 0;    // the plane also textures faces turned away from +z
    std::int32_t planeAxis = 2;        // for the document's fitting; the plane maps along local z
    std::int32_t cylinderAxis = 2;     // cage axis the cylinder runs along
    SurfaceSide cylinderSurface = SurfaceSide::Both;
    float cylinderSeamDegrees = 180.0f;  // angle of the seam around the axis
    std::uint8_t cylinderSideEnabled = 1;
    std::uint8_t cylinderTopCapEnabled = 0;     // the cap facing the positive axis
    std::uint8_t cylinderBottomCapEnabled = 0;  // the cap facing the negative axis
    std::uint8_t cylinderWholeTiles = 1;        // fit a whole number of tiles around the wall
    std::int32_t sphereAxis = 2;                // pole axis
    std::uint8_t sphereWholeTiles = 1;          // fit a whole number of tiles around the equator
    ProjectionLayer layers[kBoxSideCount];
    std::int32_t activeLayer = -1;  // layer being edited: -1 none, 0..5 a side
};

struct ProjectionSample {
    float u = 0.0f;  // millimetres in the side's layer frame once mapping is complete
    float v = 0.0f;
    float weight = 0.0f;
    std::int32_t side = -1;  // -1 when empty
};

// One surface point mapped through the projection. The filled samples come first.
struct ProjectionSamples {
    ProjectionSample samples[3];
    std::int32_t count = 0;         // 0..3
    float coverage = 0.0f;          // share of the surface direction that lands on projecting
                                    // sides and surfaces, 0..1
    std::int32_t dominantSide = -1;  // side of the heaviest sample, -1 when none
};

// A side's frame around an up axis (the sphere's bent sides, the mesh report).
struct SideFrame {
    Vec3 uAxis;
    Vec3 vAxis;
    Vec3 normal;
    std::uint8_t alongUp = 0;  // the side's normal lies along the up axis
    float azimuth = 0.0f;      // radians
};

// A position in a side's (u, v) plane, millimetres.
struct SidePoint {
    float u = 0.0f;
    float v = 0.0f;
};

// How a wrapping side (cylinder wall, sphere equator) is tiled.
struct SideTiling {
    std::uint8_t active = 0;       // the side wraps around and the texture repeats
    std::uint8_t wholeTiles = 0;   // a whole tile count was fitted
    std::int32_t tileCount = 0;    // tiles around after fitting (0 when not fitted)
    float tilesAround = 0.0f;      // tile periods around at the set zoom (0 when not computed)
    float zoom = 1.0f;             // the layer's zoom (1 when 0 or less)
    float fittedZoom = 1.0f;       // zoom that makes the count whole (= zoom when not fitted)
    float setTileMillimetres = 0.0f;     // circumference / tilesAround
    float fittedTileMillimetres = 0.0f;  // circumference / tileCount (= set when not fitted)
};

// "+X", "-X", "+Y", "-Y", "+Z", "-Z"; "?" for any other value.
const char* BoxSideName(std::int32_t side);

// The default record (the default constructor's values).
Projection InitProjection();

// The rotated frame's local x, y and z axes in world coordinates, for Euler angles in degrees
// (x applied first, then y, then z).
struct CageAxes {
    Vec3 x;
    Vec3 y;
    Vec3 z;
};
CageAxes EulerDegreesToMatrix(Vec3 rotationDegrees);

// Rotation only: a local vector in world orientation, and back. A world point p has the local
// coordinates WorldToCage(cage, p - center).
Vec3 CageToWorld(const CageFrame& cage, Vec3 local);
Vec3 WorldToCage(const CageFrame& cage, Vec3 world);

// The eight world corners; bit 0 of the index picks +x, bit 1 +y, bit 2 +z (a clear bit is
// the negative half), so corner 0 is (-, -, -) and corner 7 (+, +, +).
struct CageCornerPoints {
    Vec3 corners[8];
};
CageCornerPoints CageCorners(const CageFrame& cage);

// Half the larger cage size across cylinderAxis.
float CylinderRadius(const Projection& projection);

// The frame of a side around an up axis (0 x, 1 y, anything else z). A side outside 0..5 is
// clamped for its axis; its lowest bit gives the sign.
struct SideFrame SideFrame(std::int32_t side, std::int32_t upAxis);

// Maps a world point with its world normal into up to three weighted samples in the sides'
// layer frames. With `outerMask` (bit s set: the surface is outer for side s; callers pass 255
// or 0), samples on sides whose surface setting refuses that surface are dropped and the rest
// renormalised. A zero normal gives the empty result. Allocates nothing, reads nothing shared.
ProjectionSamples MapThroughProjection(const Projection& projection, Vec3 point, Vec3 normal,
                                       const std::uint8_t* outerMask = nullptr);

// As MapThroughProjection, for a face whose unit normal may lean from its true direction by up
// to `lean` (about the sine of the angle) through where its corners were placed: each component
// of the normal along a cage axis no larger than `lean` counts as 0 before mapping, so a face
// square to a side, to the plane or to the cylinder's wall stays square to it however the part
// is turned. A `lean` of 0 or less, or not a number, maps as MapThroughProjection does.
ProjectionSamples MapFaceThroughProjection(const Projection& projection, Vec3 point, Vec3 faceNormal, float lean,
                                           const std::uint8_t* outerMask = nullptr);

// Whether the projection has a projector switched on: always for the plane, the wall or a cap
// for the cylinder, a side for the box and the sphere. Without one it textures nothing.
bool AnyProjectorOn(const Projection& projection);

// Whether the surface settings let the projection texture an outer (or an inner) face on some
// side it uses: the plane takes every face, the cylinder by its surface setting while its wall
// or a cap is on, the box and sphere by the settings of their enabled sides. Whether a face
// turned that way meets such a side is not asked.
bool TakesSurface(const Projection& projection, bool outer);

// (u, v) of a side moved into its layer frame (origin, rotation, zoom); a side outside 0..5
// uses a neutral layer.
SidePoint SideLayerCoordinates(const Projection& projection, std::int32_t side, SidePoint uv);

// (u, v) of the first heaviest sample; (0, 0) when there is none.
SidePoint StrongestSample(const ProjectionSamples& samples);

// Largest / smallest positive layer zoom over the sides the kind uses; 1 when there is none.
float MaximumLayerZoom(const Projection& projection);
float MinimumLayerZoom(const Projection& projection);

// The tiling of a wrapping side: active for the cylinder wall (side 0) and the sphere's sides
// around its pole when their whole-tile switch is on and the texture repeats; fitted to a
// whole number of tiles unless the texture is turned off the way around.
SideTiling ComputeTileFrame(const Projection& projection, const TextureSettings& settings,
                            std::int32_t side);

// A copy of the projection whose layer zooms make whole tiles around.
Projection BuildTileFrames(const Projection& projection, const TextureSettings& settings);

// Writes the projection's keys into the object node ("type", "cage.center", ...,
// "activeLayer"); an enumeration value outside its table is written as a bare integer.
void WriteProjectionJson(const JsonNode& node, const Projection& projection);

// Reads what WriteProjectionJson writes; a key missing or of the wrong kind keeps the field.
// Enumerations only by name, integers only from JSON integers, arrays of exactly three (cage)
// or two (layer origin) numbers; an activeLayer outside -1..5 becomes -1.
void ReadProjectionJson(const JsonView& view, Projection& projection);

// Field by field; floats by value, so NaN is never equal and 0 equals -0. activeLayer counts.
bool ProjectionEquals(const Projection& a, const Projection& b);
bool OrientedBoxEquals(const CageFrame& a, const CageFrame& b);
bool ProjectionSidesEquals(const ProjectionLayer (&a)[kBoxSideCount],
                           const ProjectionLayer (&b)[kBoxSideCount]);

}  // namespace grainforge::mesh
