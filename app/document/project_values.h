// Every number a project holds, each with the range it is held to as the project opens and
// its place in the record: the one list by which the opening holds a project's values, and
// against which a project read is checked. A member with a field takes that field's rule; one
// without takes a rule named by its key (field_ranges.h). The switches and names the reader
// takes only from their fixed lists (shapes, methods, wraps) are not numbers here.
#pragma once

#include "app/document/field_ranges.h"
#include "app/document/project_file.h"

#include "engine/mesh/placement.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace grainforge::app {

// How the opening's warning says a number.
enum class NumberNaming {
    shown,       // as its field shows it, in the rule's unit
    reciprocal,  // as the levels' gamma edit shows it: the reciprocal of the stored exponent
    count,       // as the file holds it, a count of triangles
};

// One number of a project: where it lies in the record and in the file, and the rule it is
// held to.
struct ProjectNumber {
    std::string name;  // as the opening's warning names it: "Triangle size", "remesh.rounds"
    const NumberFieldRule* rule = nullptr;
    std::variant<float*, std::int32_t*, std::uint64_t*> value;
    // The rule holds the stored value times `scale` over `divisor`: a level as 0 to 255, a
    // triangle limit in millions (divided, so that a limit's ends come out exact).
    double scale = 1.0;
    double divisor = 1.0;
    // Where the file holds it: a dotted key (a mask's under "mask" and its place in the list),
    // and its element of the array there, or -1. Empty for a number read on its own.
    std::string key;
    int element = -1;
    // The rule a value outside `rule` is held to instead, when it is another: a stored tile
    // size no zoom brings to a size the tile fields take is held to their range.
    const NumberFieldRule* outside = nullptr;
    NumberNaming naming = NumberNaming::shown;
    int decimals = -1;  // the digits after the point its field shows, or -1 for the shortest text
};

// How the mask panel names the mask volume at `index` of the list: "Mask 1" for the first.
std::string MaskLabel(std::size_t index);

// The numbers of `data`, in the order the warning names them: the placement, remesh,
// relief and simplify settings, the triangle limits, the texture, the projection, each mask
// volume, the export options. Pointers into `data`, valid while it is neither moved nor its
// mask list resized.
std::vector<ProjectNumber> ListProjectNumbers(ProjectData& data);

// The number in its rule's terms, and such a value as it is stored (before rounding to the
// stored type).
double ShownValue(const ProjectNumber& number);
double StoredFromShown(const ProjectNumber& number, double shown);

// `shown` (in the rule's terms) held to the number's rule, or to its `outside` rule when it lies
// outside the first; `fallback` where no value is nearest. Sets `nearest` to whether a value of
// the range was nearest (false when the fallback was taken).
double HoldProjectNumber(const ProjectNumber& number, double shown, double fallback, bool* nearest = nullptr);

// Whether the number lies in the range it is held to as it is stored (its field's, or the
// placed values' for one past the field): holding it would leave it as
// it is (a float at the field's own end, which is no float, counts as in range).
bool HoldsAsItStands(const ProjectNumber& number);

// Whether the placement's linear part is a turn: every entry finite, the rows unit and square
// to each other within kPlacementTurnTolerance, and no mirror. The placements the program
// makes (laid on a face, turned) are all turns; the mask volumes are carried with the part by
// the turn's inverse, which a scale or a mirror would make wrong.
bool IsPlacementTurn(const grainforge::mesh::Transform3x4& placement);

}  // namespace grainforge::app
