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
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, double(value), std::chars_format::fixed, kMaskFieldDecimals);
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

static_assert(std::size(kMaskFieldRules) == kMaskFieldCount);

const NumberFieldRule& MaskFieldRule(int field)
{
    return kMaskFieldRules[std::clamp(field, 0, kMaskFieldCount - 1)];
}

MaskFieldRefusal CheckMaskFieldEdits(const MaskFieldTexts& shown, const MaskFieldTexts& typed)
{
    MaskFieldRefusal refusal;
    for (int i = 0; i < kMaskFieldCount; ++i) {
        if (typed[i] == shown[i])
            continue;
        const NumberFieldReading reading = ReadNumberField(typed[i], MaskFieldRule(i));
        if (!NumberFieldRefuses(reading, MaskFieldRule(i)))
            continue;
        refusal.refused[static_cast<std::size_t>(i)] = true;
        if (refusal.field < 0) {
            refusal.field = i;
            refusal.text = reading.refusal.empty() ? NumberFieldRangeText(MaskFieldRule(i)) : reading.refusal;
        }
    }
    return refusal;
}

mesh::MaskVolume ApplyMaskFieldEdits(const mesh::MaskVolume& volume, const MaskFieldTexts& shown,
                                     const MaskFieldTexts& typed, float bedBase)
{
    mesh::MaskVolume edited = volume;
    for (int i = 0; i < kMaskFieldCount; ++i) {
        if (typed[i] == shown[i])
            continue;
        const NumberFieldReading reading = ReadNumberField(typed[i], MaskFieldRule(i));
        if (reading.kind != NumberFieldReading::Kind::accepted)
            continue;
        const float current = MaskFieldValue(volume, i, bedBase);
        const auto value = static_cast<float>(reading.value);
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

std::array<int, 2> MaskListColumnWidths(int room, std::array<int, 2> needs)
{
    const int width = std::max(room, 0);
    // 2 pixels spare, so that the shared columns raise no bar across.
    const std::array<int, 2> shared{width * 62 / 100, width * 38 / 100 - 2};
    if (shared[0] >= needs[0] && shared[1] >= needs[1])
        return shared;
    const int spare = width - 2 - needs[0] - needs[1];
    if (spare <= 0)
        return needs;
    return {needs[0] + spare, needs[1]};
}

}  // namespace grainforge::app
