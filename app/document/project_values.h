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

// One number of a project: where it lies in the record, and the rule it is held to.
struct ProjectNumber {
    std::string name;  // as the opening's warning names it: "Triangle size", "remesh.rounds"
    const NumberFieldRule* rule = nullptr;
    std::variant<float*, std::int32_t*, std::uint64_t*> value;
    // The field shows the stored value times `scale` over `divisor`: a level as 0 to 255, a
    // triangle limit in millions (divided, so that a limit's ends come out exact).
    double scale = 1.0;
    double divisor = 1.0;
};

// The numbers of `data`, in the order the warning names them: the placement, remesh,
// relief and simplify settings, the triangle limits, the texture, the projection, each mask
// volume, the export options. Pointers into `data`, valid while it is neither moved nor its
// mask list resized.
std::vector<ProjectNumber> ListProjectNumbers(ProjectData& data);

// The number as the field shows it, and a value shown as it is stored (before rounding to the
// stored type).
double ShownValue(const ProjectNumber& number);
double StoredFromShown(const ProjectNumber& number, double shown);

// Whether the number lies in its rule's range as it is stored: holding it would leave it as
// it is (a float at the field's own end, which is no float, counts as in range).
bool HoldsAsItStands(const ProjectNumber& number);

// Whether the placement's linear part is a turn: every entry finite, the rows unit and square
// to each other within kPlacementTurnTolerance, and no mirror. The placements the program
// makes (laid on a face, turned) are all turns; the mask volumes are carried with the part by
// the turn's inverse, which a scale or a mirror would make wrong.
bool IsPlacementTurn(const grainforge::mesh::Transform3x4& placement);

}  // namespace grainforge::app
