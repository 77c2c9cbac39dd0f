// How the relief is made from the height map, and what one vertex displacement reports.
// `DisplacementSettings` says which method builds the relief, how strong it is, where the map's
// mid level lies, which way the surface may move, and which guards run (clearance limit,
// mitred creases, fold guard, thin walls held, base protection). The record clamps nothing:
// the operations that read a field say how they limit it. It travels inside the pipeline's
// settings and is stored in the project file as the section "displacement".
//
// `DisplacementReport` is what the vertex displacement returns: counts, offsets, stage times,
// and the clearance data that the wall measurement reuses after the displacement.
#pragma once

#include "engine/mesh/aabb_tree.h"
#include "engine/files/json_settings.h"
#include "engine/remesh/remesh_settings.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::mesh {

struct SelfIntersectionRecord;

enum class DisplacementMethod : std::int32_t {
    solid = 0,  // "solid": build the displaced part as a new closed surface
    mesh = 1,   // "mesh": move the vertices of the part
};

enum class MidLevelMode : std::int32_t {
    manual = 0,     // "manual": DisplacementSettings::midLevel
    automatic = 1,  // "automatic": from the map, by the direction
};

enum class DisplacementDirection : std::int32_t {
    centred = 0,  // "centred": both ways
    outward = 1,  // "outward": only outward
    inward = 2,   // "inward": only inward
};

// How a vertex's weight comes from the weights of its triangle corners.
enum class OutsideRule : std::int32_t {
    any = 0,      // "any": the largest corner weight
    all = 1,      // "all": the smallest
    average = 2,  // "average": the area-weighted mean
};

// A flat base kept level: vertices within the band of the plane do not move along the axis, and
// no vertex crosses the plane into the protected side.
struct BaseProtection {
    bool enabled = false;
    std::int32_t axis = 2;            // 0 x, 1 y, 2 z; used clamped to 0..2
    bool protectBelow = true;         // the protected side has the smaller coordinate
    float planeMillimetres = 0.0f;    // coordinate of the plane on the axis
    float bandMillimetres = 0.0f;     // 0 or less: twice the absolute strength
};

// The fold guard's tilt as it is used: below 10 degrees it would ease back ordinary relief, at
// 180 a triangle turned over counts as upright.
inline constexpr float kMinimumFoldTiltDegrees = 10.0f;
inline constexpr float kMaximumFoldTiltDegrees = 179.0f;

struct DisplacementSettings {
    DisplacementMethod method = DisplacementMethod::solid;
    bool limitToClearance = true;     // limit each move by the clearance to the nearest other surface
    bool mitreCreases = true;         // vertices on creases move along the mitre direction
    bool preventFolds = true;         // the fold guard eases back triangles turned over
    float maximumTiltDegrees = 80.0f; // fold guard's largest tilt; used clamped to 10..179
    float wallThresholdMillimetres = 0.42f;  // thinnest wall inward moves may leave
    bool checkThinWalls = true;       // the pipeline measures the walls after a "mesh" relief
    bool holdThinWalls = false;       // vertices whose inward move would thin a wall stay
    float strengthMillimetres = 1.0f; // relief for a map value one unit from the mid level
    float midLevel = 0.5f;            // map value that does not move, in manual mode
    MidLevelMode midLevelMode = MidLevelMode::manual;
    DisplacementDirection direction = DisplacementDirection::centred;
    bool invert = false;              // negate the relief
    OutsideRule outsideRule = OutsideRule::average;  // read by the texture weights only
    BaseProtection base;
};

struct DisplacementReport {
    std::uint64_t foldedTriangles = 0;    // turned over or folded onto a neighbour when the fold guard started
    std::uint64_t foldedLeft = 0;         // still so when the relief ended, every guard done
    std::int32_t foldRounds = 0;          // easing rounds run
    std::uint64_t easedVertices = 0;      // moved back by the fold guard
    std::uint64_t easedFurther = 0;       // eased, yet further from the start than their own move
    std::uint64_t easedPastClearance = 0; // eased, yet further from the start than their limit
    std::uint64_t crossingPairsMade = 0;  // pairs of triangles the relief made meet
    std::uint64_t crossingPairsLeft = 0;  // of those, still meeting when the crossing guard ended
    std::int32_t crossingRounds = 0;      // crossing guard rounds run
    std::uint64_t crossingVerticesEased = 0;  // moved back by the crossing guard
    std::uint64_t vertexCount = 0;
    std::uint64_t displacedVertices = 0;
    float midLevel = 0.5f;                // mid level used (0.5 when nothing ran)
    float minimumOffset = 0.0f;           // smallest signed move the surface made, never above 0
    float maximumOffset = 0.0f;           // largest signed move, never below 0
    float relief = 0.0f;                  // maximumOffset - minimumOffset
    std::uint64_t keptLevelAtBase = 0;    // moves along the base axis removed in the band
    std::uint64_t heldAtBasePlane = 0;    // stopped at the base plane
    std::uint64_t cutByClearance = 0;     // moves shortened to the clearance limit
    std::uint64_t heldForWalls = 0;       // not moved: the wall under them would thin too far
    // The texture the guards took away: of the vertices asked to move at least
    // kHeldBackFloorShare of the deepest asked move (outside the base band and off plain rims,
    // where the settings keep the surface), those left under half their asked move, and where
    // most of them lie (the middle of those in the eighth of the part's box holding most).
    std::uint64_t texturedVertices = 0;
    std::uint64_t heldBackVertices = 0;
    Vec3 heldBackPlace{};
    float heldBackPlaceShare = 0.0f;      // of the held-back vertices, the share in that place
    std::vector<StageTime> stageTimes;    // first-run order; a repeated name adds up
    // Per vertex: distance to the nearest surface of another smooth region along the vertex's
    // move (infinity where none); empty when the queries did not run or the part is one region.
    std::vector<float> clearance;
    // The tree over the input mesh with smooth-region labels; set together with `clearance`.
    std::shared_ptr<const AabbTree> clearanceTree;
    // The crossing guard's first search, with the mesh it looked at: the check of the result
    // takes it over where the mesh is still the same. Empty when the guard did not search.
    std::shared_ptr<const SelfIntersectionRecord> crossingSearch;
};

// A vertex asked to move less than this share of the deepest asked move is not counted when
// judging how much texture the guards held back: near the map's mid level any change is most
// of a move nobody would see.
inline constexpr float kHeldBackFloorShare = 0.25f;

// True when all nineteen fields are equal (floats by ordinary float equality).
bool DisplacementSettingsEquals(const DisplacementSettings& a, const DisplacementSettings& b);

// Writes the nineteen keys into the object `node`, the "base." ones as a nested object "base".
// Enumerations go by name; a value with no name is written as a bare integer.
void DisplacementSettingsToJson(const JsonNode& node, const DisplacementSettings& settings);

// Reads the same keys into an existing record. A missing key or an unusable value keeps the
// field: enumerations take only their exact names (not numbers), floats any JSON number a float
// holds, switches only JSON booleans, "base.axis" only a JSON integer within 32 bits.
void DisplacementSettingsFromJson(const JsonView& node, DisplacementSettings& settings);

// The paragraph the pipeline report prints: counts, offsets (4 decimals), the fold guard, base
// and clearance counts when any, the stage times, and the vertices held for the walls.
std::string FormatDisplacementReport(const DisplacementReport& report);

}  // namespace grainforge::mesh
