// Three procedural patterns of the registry with a grain or a direction to them: "Leather"
// (rounded grains parted by recessed creases, with wavy edges and fine roughness),
// "Stripes" (parallel waves, vertical, horizontal or diagonal, that may wander and be
// sharpened into steps) and "Wood Pores" (long pores cut into a surface along the grain,
// clustered and broken up by a coarser noise). All three repeat across the tile's edges
// and rest at the mid level 0.5.
//
// The makers return a pattern without values; the registry's factory sets `repeats` and
// resets the values (procedural_registry.h), which is how callers should make them.
#pragma once

#include "engine/textures/procedural_texture.h"

#include <memory>

namespace grainforge::mesh::procedural {

std::unique_ptr<ProceduralTexture> MakeLeatherTexture();
std::unique_ptr<ProceduralTexture> MakeStripesTexture();
std::unique_ptr<ProceduralTexture> MakeWoodPoresTexture();

}  // namespace grainforge::mesh::procedural
