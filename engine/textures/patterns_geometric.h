// Four procedural patterns of the registry drawn from regular figures: "Contours" (contour
// lines, terraces or soft cells cut from a smooth cell field), "Stars" (a lattice of
// star-shaped pyramids, ridged or stepped), "Weave" (threads passing over and under each
// other, plain or twill) and "Truchet" (quarter-circle rings about cell corners, alternating
// or scattered). All four repeat across the tile's edges and rest at the mid level 0.5.
//
// The makers return a pattern without values; the registry's factory sets `repeats` and
// resets the values (procedural_registry.h), which is how callers should make them.
#pragma once

#include "engine/textures/procedural_texture.h"

#include <memory>

namespace grainforge::mesh::procedural {

std::unique_ptr<ProceduralTexture> MakeContoursTexture();
std::unique_ptr<ProceduralTexture> MakeStarsTexture();
std::unique_ptr<ProceduralTexture> MakeWeaveTexture();
std::unique_ptr<ProceduralTexture> MakeTruchetTexture();

// The smooth cell field that "Contours" cuts, at (u, v) in tile units: the square root of a
// blend of two smooth nearest-distance layers, read from the set's "cells", "falloff",
// "randomness" and "seed": 0 or more.
float ContoursField(const ParameterSet& pattern, float u, float v);

// The height of the "Weave" thread family that runs along b, at cross position a (both in
// threads), read from the set's "gap", "round", "float" and "crossing": 0 in the groove
// between two threads, up to 1 where a thread passes over.
float WeaveThread(const ParameterSet& pattern, float a, float b);

}  // namespace grainforge::mesh::procedural
