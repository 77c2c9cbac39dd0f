// Three procedural patterns of the registry that look cut, cast or corroded: "Penrose" (an
// aperiodic tiling of kites and darts with grooves, low pyramids and folded corners),
// "Rocks" (stones from four layers of cellular noise with a warp and grain) and "Copper"
// (a pitted, corroded surface from a three-stage domain warp of fractal noise). "Rocks" and
// "Copper" repeat across the tile's edges; "Penrose" never repeats, so one tile of it is
// laid over the whole model. All three rest at the mid level 0.5.
//
// The makers return a pattern without values; the registry's factory sets `repeats` and
// resets the values (procedural_registry.h), which is how callers should make them.
#pragma once

#include "engine/textures/procedural_texture.h"

#include <memory>

namespace grainforge::mesh::procedural {

std::unique_ptr<ProceduralTexture> MakePenroseTexture();
std::unique_ptr<ProceduralTexture> MakeRocksTexture();
std::unique_ptr<ProceduralTexture> MakeCopperTexture();

}  // namespace grainforge::mesh::procedural
