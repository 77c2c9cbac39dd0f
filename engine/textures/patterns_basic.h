// Four procedural patterns of the registry: "Noise" (fractal, uniform or blue noise, read
// plain, as marble bands or as veins), "Wood" (grain lines along or across the board, or end
// grain rings, with figure and fibre), "Bricks" (courses with offset rows, mortar, bevels and
// face roughness) and "Cells" (cobbles, crackle or grooves in three distance metrics). All
// four repeat across the tile's edges and rest at the mid level 0.5.
//
// The makers return a pattern without values; the registry's factory sets `repeats` and
// resets the values (procedural_registry.h), which is how callers should make them.
#pragma once

#include "engine/textures/procedural_texture.h"

#include <memory>

namespace grainforge::mesh::procedural {

std::unique_ptr<ProceduralTexture> MakeNoiseTexture();
std::unique_ptr<ProceduralTexture> MakeWoodTexture();
std::unique_ptr<ProceduralTexture> MakeBricksTexture();
std::unique_ptr<ProceduralTexture> MakeCellsTexture();

}  // namespace grainforge::mesh::procedural
