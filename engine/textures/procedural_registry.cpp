#include "engine/textures/procedural_registry.h"

#include "engine/textures/patterns_basic.h"
#include "engine/textures/patterns_geometric.h"
#include "engine/textures/patterns_hex_wood.h"
#include "engine/textures/patterns_machined.h"
#include "engine/textures/patterns_mineral.h"
#include "engine/textures/patterns_organic.h"
#include "engine/textures/patterns_stone.h"

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
    {"Stripes", true, MakeStripesTexture},
    {"Wood Pores", true, MakeWoodPoresTexture},
    {"Penrose", false, MakePenroseTexture},
    {"Rocks", true, MakeRocksTexture},
    {"Copper", true, MakeCopperTexture},
    {"Contours", true, MakeContoursTexture},
    {"Stars", true, MakeStarsTexture},
    {"Weave", true, MakeWeaveTexture},
    {"Truchet", true, MakeTruchetTexture},
    {"Hex Truchet", true, MakeHexTruchetTexture},
    {"Wire Mesh", true, MakeWireMeshTexture},
    {"Timber", true, MakeTimberTexture},
    {"Wood Rings", true, MakeWoodRingsTexture},
    {"Caustic Rock", true, MakeCausticRockTexture},
    {"Penrose Tiles", false, MakePenroseTilesTexture},
    {"Flat Rock", true, MakeFlatRockTexture},
    {"Trabecular", true, MakeTrabecularTexture},
    {"Dots", true, MakeDotsTexture},
    {"Knurl", true, MakeKnurlTexture},
    {"Tread Plate", true, MakeTreadPlateTexture},
    {"Leather", true, MakeLeatherTexture},
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
