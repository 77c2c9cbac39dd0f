// The registry of procedural patterns: the 25 display names in the order they are offered,
// and the factory that makes a pattern from its name. The dialog and the preset list ask for
// the names; the document, the project file and the preset files make patterns by name.
#pragma once

#include "engine/textures/procedural_texture.h"

#include <memory>
#include <string>
#include <vector>

namespace grainforge::mesh::procedural {

// A new list of the 25 display names, in registry order ("Noise" first, "Leather" last).
std::vector<std::string> ProceduralTextureNames();

// A new pattern of that name, compared byte for byte (case-sensitive, no trimming), with
// `repeats` set (false only for "Penrose" and "Penrose Tiles") and its values reset to their
// defaults, which also builds its combined table before any thread can render it. Empty for
// a name that is not one of the 25, and for the registered patterns not built into this
// program yet. Never throws except on allocation failure.
[[nodiscard]] std::unique_ptr<ProceduralTexture> CreateProceduralTexture(const std::string& name);

}  // namespace grainforge::mesh::procedural
