// The floor under the part: a dark square, a grid whose spacing follows the part's size in
// steps of 1, 2 and 5 times a power of ten, brighter centre lines and three short axis lines
// (x red, y green, z blue) at one corner. Built from the scene bounds; drawn unlit.
#pragma once

#include "app/view/renderer/render_vertex.h"

#include <vector>

namespace grainforge::gl {

struct FloorGridStep {
    float step = 1.0f;   // millimetres between lines
    int lines = 1;       // n: lines -n..n each way, 1..200
    float extent = 1.0f; // E = n x step, the half-extent actually drawn
};

// The spacing for a floor half-extent. A half-extent that is not a finite number is taken as
// that of the empty scene, so the line count stays defined.
FloorGridStep ChooseFloorGridStep(float halfExtent);

struct FloorGridVertices {
    std::vector<RenderVertex> fill;  // two triangles just below the lines
    std::vector<RenderVertex> grid;  // 4 (2n + 1) grid line ends, then 6 axis line ends
    float extent = 0.0f;             // the new floor half-extent
};

// The floor for the bounds' half-extent, height and centre. Bounds with a non-finite floor
// value give the empty scene's floor.
FloorGridVertices BuildFloorGridVertices(const SceneBounds& bounds);

}  // namespace grainforge::gl
