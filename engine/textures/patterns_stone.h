// Four procedural patterns of the registry, each on an algorithm of its own: "Caustic Rock"
// (a stack of gradient-noise ripples whose domain is carried along the noise's own slope, so
// that light-like lines gather in pools), "Penrose Tiles" (a rhombus Penrose tiling found by
// repeated inflation of one root rhombus, with bevelled tiles), "Flat Rock" (soft-edged plates
// from weighted feature points at three scales) and "Trabecular" (a view down into a
// three-dimensional lattice of bone struts, found by marching a ray through jittered points).
// All rest at the mid level 0.5; all but "Penrose Tiles" repeat across the tile's edges.
//
// The makers return a pattern without values; the registry's factory sets `repeats` and
// resets the values (procedural_registry.h), which is how callers should make them.
//
// "Caustic Rock" and "Trabecular" are the expensive ones: about 11 noise layers per ripple
// per sample, and a ray march of tens to hundreds of steps per sample.
#pragma once

#include "engine/textures/procedural_texture.h"

#include <cstdint>
#include <memory>

namespace grainforge::mesh::procedural {

std::unique_ptr<ProceduralTexture> MakeCausticRockTexture();
std::unique_ptr<ProceduralTexture> MakePenroseTilesTexture();
std::unique_ptr<ProceduralTexture> MakeFlatRockTexture();
std::unique_ptr<ProceduralTexture> MakeTrabecularTexture();

// ---- Building blocks (pure functions, any thread) ----------------------------------------------

// Finds the tile of a rhombus Penrose tiling that holds (x, y), by inflating the root thick
// rhombus (acute corner at the origin, long diagonal from (0, 0) to (1.618034, 0), side 1)
// `levels` times. Returns the tile kind: 0 and 1 are the two mirror halves of a thick
// rhombus, 2 and 3 of a thin one. On return (x, y) is the point in the found tile's own
// frame, where the tile's half lies above the x axis with side 1: a thick half between
// (0, 0), (1.618034, 0) and (0.809017, 0.58778524), a thin half between (0, 0),
// (0.618034, 0) and (0.309017, 0.95105654).
std::int32_t SubdividePenroseRhombi(float& x, float& y, std::int32_t levels);

// Soft plates: the values of the feature points of the 5 x 5 cells about (x, y), one point per
// cell, averaged with weights that fall to 0 one cell away along each axis, raised to the
// power `sharpness` (higher gives flatter plates and crisper creases). 0..2. Repeats every
// `period` cells; a period below 1 hashes every cell as cell (0, 0).
float FlatRockPlates(float x, float y, std::int32_t period, std::int32_t sharpness, std::uint32_t seed);

// Value noise in three dimensions, 0..1: smoothstep blends of lattice hashes, repeating every
// `period` cells in x and y (not in z).
float TrabecularValueNoise3(float x, float y, float z, std::int32_t period, std::uint32_t seed);

}  // namespace grainforge::mesh::procedural
