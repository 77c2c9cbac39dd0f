#include "engine/textures/procedural_registry.h"

#include "engine/textures/patterns_basic.h"

#include <array>
#include <string_view>

namespace grainforge::mesh::procedural {

namespace {

using PatternMaker = std::unique_ptr<ProceduralTexture> (*)();

struct RegistryEntry {
    std::string_view name;
    bool repeats;
    PatternMaker make;  // null for a pattern this program does not build yet
};

// Registry order is the order the dialog offers; "Leather" was added last.
constexpr std::array<RegistryEntry, 25> kRegistry = {{
    {"Noise", true, MakeNoiseTexture},
    {"Wood", true, MakeWoodTexture},
    {"Bricks", true, MakeBricksTexture},
    {"Cells", true, MakeCellsTexture},
    {"Stripes", true, nullptr},
    {"Wood Pores", true, nullptr},
    {"Penrose", false, nullptr},
    {"Rocks", true, nullptr},
    {"Copper", true, nullptr},
    {"Contours", true, nullptr},
    {"Stars", true, nullptr},
    {"Weave", true, nullptr},
    {"Truchet", true, nullptr},
    {"Hex Truchet", true, nullptr},
    {"Wire Mesh", true, nullptr},
    {"Timber", true, nullptr},
    {"Wood Rings", true, nullptr},
    {"Caustic Rock", true, nullptr},
    {"Penrose Tiles", false, nullptr},
    {"Flat Rock", true, nullptr},
    {"Trabecular", true, nullptr},
    {"Dots", true, nullptr},
    {"Knurl", true, nullptr},
    {"Tread Plate", true, nullptr},
    {"Leather", true, nullptr},
}};

}  // namespace

std::vector<std::string> ProceduralTextureNames()
{
    std::vector<std::string> names;
    names.reserve(kRegistry.size());
    for (const RegistryEntry& entry : kRegistry)
        names.emplace_back(entry.name);
    return names;
}

std::unique_ptr<ProceduralTexture> CreateProceduralTexture(const std::string& name)
{
    for (const RegistryEntry& entry : kRegistry) {
        if (entry.name != name)
            continue;
        if (entry.make == nullptr)
            return nullptr;
        std::unique_ptr<ProceduralTexture> pattern = entry.make();
        pattern->repeats = entry.repeats;
        pattern->ResetToDefaults();
        return pattern;
    }
    return nullptr;
}

}  // namespace grainforge::mesh::procedural
