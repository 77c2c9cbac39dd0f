#include "app/document/edit_state.h"

#include <algorithm>
#include <unordered_set>

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

bool TransformEquals(const mesh::Transform3x4& a, const mesh::Transform3x4& b)
{
    return a.m00 == b.m00 && a.m01 == b.m01 && a.m02 == b.m02 && a.m10 == b.m10 &&
           a.m11 == b.m11 && a.m12 == b.m12 && a.m20 == b.m20 && a.m21 == b.m21 &&
           a.m22 == b.m22 && a.translation.x == b.translation.x &&
           a.translation.y == b.translation.y && a.translation.z == b.translation.z;
}

// The projection without the parts a drag changes: both get the same cage and layers.
bool ProjectionMainEquals(const mesh::Projection& a, const mesh::Projection& b)
{
    mesh::Projection left = a;
    mesh::Projection right = b;
    right.cage = left.cage = mesh::CageFrame{};
    for (int s = 0; s < mesh::kBoxSideCount; ++s)
        right.layers[s] = left.layers[s] = mesh::ProjectionLayer{};
    return mesh::ProjectionEquals(left, right);
}

}  // namespace

bool TextureSettingsEqual(const mesh::TextureSettings& a, const mesh::TextureSettings& b)
{
    return a.widthMillimetres == b.widthMillimetres && a.heightMillimetres == b.heightMillimetres &&
           a.lockAspect == b.lockAspect && a.tiles == b.tiles && a.wrap == b.wrap &&
           a.offsetMillimetres[0] == b.offsetMillimetres[0] &&
           a.offsetMillimetres[1] == b.offsetMillimetres[1] &&
           a.rotationDegrees == b.rotationDegrees && a.blackLevel == b.blackLevel &&
           a.whiteLevel == b.whiteLevel && a.autoLevels == b.autoLevels && a.gamma == b.gamma &&
           a.outputBlackLevel == b.outputBlackLevel && a.outputWhiteLevel == b.outputWhiteLevel &&
           a.invert == b.invert && a.blurMillimetres == b.blurMillimetres &&
           a.seamlessMethod == b.seamlessMethod && a.seamlessParameters == b.seamlessParameters;
}

bool EditStateMainEquals(const EditState& a, const EditState& b)
{
    return TransformEquals(a.partTransform, b.partTransform) &&
           ProjectionMainEquals(a.projection, b.projection) &&
           mesh::RemeshSettingsEquals(a.remesh, b.remesh) &&
           mesh::DisplacementSettingsEquals(a.displacement, b.displacement) &&
           mesh::SimplifySettingsEquals(a.simplify, b.simplify) && a.remeshOn == b.remeshOn &&
           a.displacementOn == b.displacementOn && a.simplifyOn == b.simplifyOn &&
           a.maximumTriangles == b.maximumTriangles && a.displayTriangles == b.displayTriangles &&
           a.pixelGeneration == b.pixelGeneration &&
           TextureSettingsEqual(a.textureSettings, b.textureSettings) &&
           a.patternName == b.patternName && a.patternParameters == b.patternParameters &&
           mesh::procedural::SameMembersNotRead(a.patternMembersNotRead, b.patternMembersNotRead) &&
           a.presetName == b.presetName && a.imagePath == b.imagePath && a.keptPattern == b.keptPattern;
}

bool EditStateCageEquals(const EditState& a, const EditState& b)
{
    return mesh::OrientedBoxEquals(a.projection.cage, b.projection.cage);
}

bool EditStateSidesEquals(const EditState& a, const EditState& b)
{
    return mesh::ProjectionSidesEquals(a.projection.layers, b.projection.layers);
}

bool EditStateMasksEquals(const EditState& a, const EditState& b)
{
    if (a.masks.size() != b.masks.size())
        return false;
    for (std::size_t i = 0; i < a.masks.size(); ++i)
        if (!mesh::MaskVolumeEquals(a.masks[i], b.masks[i]))
            return false;
    return true;
}

bool EditStateEquals(const EditState& a, const EditState& b)
{
    return EditStateMainEquals(a, b) && EditStateCageEquals(a, b) && EditStateSidesEquals(a, b) &&
           EditStateMasksEquals(a, b);
}

namespace {

// Adds the bytes of the map's images whose pixels are not counted yet.
void CountPixelImages(const mesh::HeightMap& map, std::unordered_set<const void*>& counted, std::uint64_t& bytes)
{
    for (const mesh::PixelImage* image : {&map.source, &map.seamless, &map.blurred})
        if (image->Storage() != nullptr && counted.insert(image->Storage()).second)
            bytes += image->size() * sizeof(float);
}

}  // namespace

std::uint64_t HeightMapBytes(const mesh::HeightMap& map)
{
    std::unordered_set<const void*> counted;
    std::uint64_t bytes = 0;
    CountPixelImages(map, counted, bytes);
    return bytes;
}

std::uint64_t HistoryHeightMapBytes(const std::vector<EditState>& undo,
    const std::vector<EditState>& redo, const EditState& base)
{
    std::unordered_set<const mesh::HeightMap*> maps;
    std::unordered_set<const void*> counted;
    std::uint64_t bytes = 0;
    const auto count = [&](const EditState& state) {
        if (state.heightMap && maps.insert(state.heightMap.get()).second)
            CountPixelImages(*state.heightMap, counted, bytes);
    };
    count(base);
    for (const std::vector<EditState>* stack : {&undo, &redo})
        for (const EditState& state : *stack)
            count(state);
    return bytes;
}

void TrimEditHistory(std::vector<EditState>& undo, std::vector<EditState>& redo,
    const EditState& base, const EditHistoryLimits& limits)
{
    if (undo.size() > limits.maximumSteps)
        undo.erase(undo.begin(), undo.begin() + static_cast<std::ptrdiff_t>(undo.size() - limits.maximumSteps));
    if (redo.size() > limits.maximumSteps)
        redo.erase(redo.begin(), redo.begin() + static_cast<std::ptrdiff_t>(redo.size() - limits.maximumSteps));
    // The redo stack's bottom is the step furthest from the present. The base's own map stays
    // whatever its size, so steps are dropped only while maps other than it break the budget.
    const std::uint64_t budget =
        std::max(limits.maximumHeightMapBytes, base.heightMap ? HeightMapBytes(*base.heightMap) : 0);
    while ((!undo.empty() || !redo.empty()) && HistoryHeightMapBytes(undo, redo, base) > budget) {
        if (!undo.empty())
            undo.erase(undo.begin());
        else
            redo.erase(redo.begin());
    }
}

}  // namespace grainforge::app
