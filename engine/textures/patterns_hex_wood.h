// Four procedural patterns of the registry and the hexagon lattice two of them share with
// "Dots": "Hex Truchet" (arcs about alternate corners of a hexagon lattice, each hexagon turned
// at random), "Wire Mesh" (hexagonal wire netting whose holes can be bent round), "Timber" (a
// warped board figure with rings, blotches and fibres) and "Wood Rings" (growth rings bent by
// fractal noise, with grain speckle). All four repeat across the tile's edges and rest at the
// mid level 0.5.
//
// The makers return a pattern without values; the registry's factory sets `repeats` and
// resets the values (procedural_registry.h), which is how callers should make them.
#pragma once

#include "engine/textures/procedural_texture.h"

#include <cstdint>
#include <memory>

namespace grainforge::mesh::procedural {

std::unique_ptr<ProceduralTexture> MakeHexTruchetTexture();
std::unique_ptr<ProceduralTexture> MakeWireMeshTexture();
std::unique_ptr<ProceduralTexture> MakeTimberTexture();
std::unique_ptr<ProceduralTexture> MakeWoodRingsTexture();

// ---- Hexagon lattice -------------------------------------------------------------------------

// Centre spacing across a lattice of pointy-topped hexagons of circumradius 1 (sqrt 3); rows
// lie 1.5 apart.
inline constexpr float kHexSpacing = 1.7320508f;

// The nearest hexagon centre to a point.
struct HexCell {
    float dx = 0.0f;  // offset of the point from the centre
    float dy = 0.0f;
    std::int32_t i = 0;  // the centre's indices within its sub-lattice
    std::int32_t j = 0;
    std::int32_t subLattice = 0;  // 0: centres (sqrt3 i, 3 j); 1: centres (sqrt3 (i + 1/2), 3 (j + 1/2))
};

// The nearest centre of the hexagon lattice, found as the nearer of the two interleaved
// rectangular lattices of centres; a point equally near both keeps sub-lattice 0. A pattern
// that scales x by sqrt3 n and y by 3 m gets n hexagons across and 2m rows down per repeat.
// Pure; any thread.
HexCell HexLatticeNearest(float x, float y);

}  // namespace grainforge::mesh::procedural
