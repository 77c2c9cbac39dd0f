#pragma once

#include "tests/support/shapes.h"

namespace grainforge::test {

// A 20 x 10 x 10 mm block of three overlapping shells, a base and two blocks standing 1 mm into
// it `slot` mm apart: a slot 5 mm deep whose floor's middle lies 5 mm from every other face.
inline mesh::TriangleMesh MakeSlottedBlock(float slot)
{
    const mesh::TriangleMesh base = MakeBox({0.0f, 0.0f, 0.0f}, {20.0f, 10.0f, 5.0f});
    const mesh::TriangleMesh left = MakeBox({0.0f, 0.0f, 4.0f}, {10.0f - slot / 2.0f, 10.0f, 10.0f});
    return Combined(Combined(base, left), MakeBox({10.0f + slot / 2.0f, 0.0f, 4.0f}, {20.0f, 10.0f, 10.0f}));
}

}  // namespace grainforge::test
