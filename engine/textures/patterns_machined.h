// Three procedural patterns of the registry, the machined and embossed ones: "Dots" (round
// dots on a square, staggered or hexagonal layout, in four shapes), "Knurl" (diamond,
// straight or square knurling) and "Tread Plate" (the diagonal bars of a checker plate). All
// three repeat across the tile's edges. Their rest level follows "contrast": the floor for
// "Dots" and "Tread Plate", the top for "Knurl", so a relief of these sits on the part's
// surface rather than straddling it.
//
// The makers return a pattern without values; the registry's factory sets `repeats` and
// resets the values (procedural_registry.h), which is how callers should make them.
#pragma once

#include "engine/textures/procedural_texture.h"

#include <cstdint>
#include <memory>

namespace grainforge::mesh::procedural {

std::unique_ptr<ProceduralTexture> MakeDotsTexture();
std::unique_ptr<ProceduralTexture> MakeKnurlTexture();
std::unique_ptr<ProceduralTexture> MakeTreadPlateTexture();

// The distance from (u, v) to the nearest dot centre, in units of the dot spacing, for
// `count` dots across: layout 1 staggered (rows raised to an even number), 2 hexagonal, any
// other square. Pure; any thread.
float DotsDistance(std::int32_t layout, std::int32_t count, float u, float v);

}  // namespace grainforge::mesh::procedural
