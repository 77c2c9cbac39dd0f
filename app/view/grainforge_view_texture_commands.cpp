// The Texture section's switches: Invert, Repeat the tile and Auto levels.
#include "app/view/grainforge_view.h"

#include "app/document/grainforge_doc.h"

namespace grainforge::app {

namespace {

inline constexpr int kCmdInvert = 32825;
inline constexpr int kCmdRepeatTile = 32894;
inline constexpr int kCmdAutoLevels = 32895;

}  // namespace

void CGrainforgeView::AddTextureCommands(CommandTable& table)
{
    table.push_back({kCmdInvert, [this] { OnTextureSwitch(kCmdInvert); }, [this](CommandState& state) {
                         state.enabled = document_.IsHeightMapLoaded();
                         state.checked = document_.heightMap.settings.invert;
                     }});
    table.push_back({kCmdRepeatTile, [this] { OnTextureSwitch(kCmdRepeatTile); }, [this](CommandState& state) {
                         state.enabled = document_.IsHeightMapLoaded();
                         state.checked = document_.heightMap.settings.tiles;
                     }});
    table.push_back({kCmdAutoLevels, [this] { OnTextureSwitch(kCmdAutoLevels); }, [this](CommandState& state) {
                         state.enabled = document_.IsHeightMapLoaded();
                         state.checked = document_.heightMap.settings.autoLevels;
                     }});
}

void CGrainforgeView::OnTextureSwitch(int commandId)
{
    mesh::TextureSettings settings = document_.heightMap.settings;
    switch (commandId) {
    // Invert is a setting of its own: kept for the next texture even without one now.
    case kCmdInvert: settings.invert = !settings.invert; break;
    case kCmdRepeatTile:
        if (!document_.IsHeightMapLoaded())
            return;
        settings.tiles = !settings.tiles;
        break;
    case kCmdAutoLevels:
        if (!document_.IsHeightMapLoaded())
            return;
        settings.autoLevels = !settings.autoLevels;
        break;
    default: return;
    }
    document_.ApplyTextureSettings(settings);
}

}  // namespace grainforge::app
