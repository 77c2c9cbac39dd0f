#include "app/workflow/mask_panel_model.h"

#include "app/shell/kit/number_text.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <charconv>
#include <cmath>

namespace grainforge::app {

std::wstring FormatMaskField(float value)
{
    if (!std::isfinite(value))
        return L"0";
    if (std::fabs(value) < 0.005f)
        return L"0";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, double(value), std::chars_format::fixed, 2);
    std::string text(buffer, result.ptr);
    while (!text.empty() && text.back() == '0')
        text.pop_back();
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    if (text == "-0")
        text = "0";
    return std::wstring(text.begin(), text.end());
}

float BedBaseHeight(const mesh::TriangleMesh& part)
{
    if (part.vertices.empty() || part.TriangleCount() == 0 || !part.boundsValid || !std::isfinite(part.boundsMin.z))
        return 0.0f;
    return part.boundsMin.z;
}

float MaskFieldValue(const mesh::MaskVolume& volume, int field, float bedBase)
{
    switch (field) {
    case 0: return volume.center.x;
    case 1: return volume.center.y;
    case 2: return volume.center.z - bedBase;
    case 3: return volume.size.x;
    case 4: return volume.size.y;
    case 5: return volume.size.z;
    case 6: return volume.rotationDegrees.x;
    case 7: return volume.rotationDegrees.y;
    case 8: return volume.rotationDegrees.z;
    case 9: return volume.featherMillimetres;
    default: return 0.0f;
    }
}

MaskFieldTexts MaskFieldTextsOf(const mesh::MaskVolume& volume, float bedBase)
{
    MaskFieldTexts texts;
    for (int i = 0; i < kMaskFieldCount; ++i)
        texts[i] = FormatMaskField(MaskFieldValue(volume, i, bedBase));
    return texts;
}

mesh::MaskVolume ApplyMaskFieldEdits(const mesh::MaskVolume& volume, const MaskFieldTexts& shown,
                                     const MaskFieldTexts& typed, float bedBase)
{
    mesh::MaskVolume edited = volume;
    for (int i = 0; i < kMaskFieldCount; ++i) {
        if (typed[i] == shown[i])
            continue;
        const float current = MaskFieldValue(volume, i, bedBase);
        const float value = ParseDialogFloat(typed[i], current);
        if (value == current)
            continue;
        switch (i) {
        case 0: edited.center.x = value; break;
        case 1: edited.center.y = value; break;
        case 2: edited.center.z = value + bedBase; break;
        case 3: edited.size.x = std::max(value, kMinimumMaskSize); break;
        case 4: edited.size.y = std::max(value, kMinimumMaskSize); break;
        case 5: edited.size.z = std::max(value, kMinimumMaskSize); break;
        case 6: edited.rotationDegrees.x = value; break;
        case 7: edited.rotationDegrees.y = value; break;
        case 8: edited.rotationDegrees.z = value; break;
        case 9: edited.featherMillimetres = std::max(value, 0.0f); break;
        default: break;
        }
    }
    return edited;
}

const wchar_t* MaskShapeName(mesh::MaskShape shape)
{
    switch (shape) {
    case mesh::MaskShape::Box: return L"Box";
    case mesh::MaskShape::Cylinder: return L"Cylinder";
    case mesh::MaskShape::Sphere: return L"Sphere";
    }
    return L"Volume";
}

bool VolumeListNeedsRebuild(const std::vector<mesh::MaskVolume>& shown, const std::vector<mesh::MaskVolume>& volumes)
{
    if (shown.size() != volumes.size())
        return true;
    for (std::size_t i = 0; i < volumes.size(); ++i)
        if (shown[i].name != volumes[i].name || shown[i].shape != volumes[i].shape)
            return true;
    return false;
}

namespace {

bool SavedPlaceUsable(int savedX, int savedY, const std::function<bool(PanelPoint)>& onMonitor)
{
    return savedX != INT_MIN && savedY != INT_MIN && savedX <= INT_MAX - 20 && savedY <= INT_MAX - 10 && onMonitor &&
           onMonitor({savedX + 20, savedY + 10});
}

}  // namespace

PanelPoint MaskPanelOpenPosition(PanelPoint anchor, int savedX, int savedY,
                                 const std::function<bool(PanelPoint)>& onMonitor)
{
    if (SavedPlaceUsable(savedX, savedY, onMonitor))
        return {savedX, savedY};
    return {anchor.x + 12, anchor.y + 12};
}

PanelPoint MaskPanelBesideView(PanelRect view, int width, int height, PanelRect workArea)
{
    // 64-bit sums: the rectangles come from the window system and may be anything.
    const auto wide = [](int v) { return static_cast<std::int64_t>(v); };
    const std::int64_t lowestTop = std::max(wide(workArea.top), workArea.Bottom() - height);
    const auto clampTop = [&](std::int64_t y) {
        return static_cast<int>(std::clamp(std::min(y, lowestTop), wide(INT_MIN), wide(INT_MAX)));
    };
    const int top = clampTop(std::max(wide(view.top) + 12, wide(workArea.top)));
    if (view.Right() + width <= workArea.Right() && view.Right() >= workArea.left)
        return {static_cast<int>(std::clamp(view.Right(), wide(INT_MIN), wide(INT_MAX))), top};
    if (wide(view.left) - width >= workArea.left && view.left <= workArea.Right())
        return {static_cast<int>(wide(view.left) - width), top};
    const std::int64_t x = std::max(workArea.Right() - width, wide(workArea.left));
    const int bottomTop = clampTop(std::max(view.Bottom() - height - 12, wide(workArea.top)));
    return {static_cast<int>(std::clamp(x, wide(INT_MIN), wide(INT_MAX))), bottomTop};
}

PanelPoint MaskPanelPlacement(PanelRect view, int width, int height, PanelRect workArea, int savedX, int savedY,
                              const std::function<bool(PanelPoint)>& onMonitor)
{
    if (SavedPlaceUsable(savedX, savedY, onMonitor))
        return {savedX, savedY};
    return MaskPanelBesideView(view, width, height, workArea);
}

}  // namespace grainforge::app
