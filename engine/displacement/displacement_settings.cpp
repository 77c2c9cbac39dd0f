#include "engine/displacement/displacement_settings.h"
#include "engine/mesh/report_text.h"

#include <cstdio>
#include <string_view>

namespace grainforge::mesh {

namespace {

// The names of one enumeration, indexed by value.
template <class Enum, std::size_t N>
struct EnumNames {
    const char* names[N];

    const char* NameOf(Enum value) const
    {
        const auto index = static_cast<std::int32_t>(value);
        return index >= 0 && static_cast<std::size_t>(index) < N ? names[index] : nullptr;
    }

    bool Find(std::string_view name, Enum& out) const
    {
        for (std::size_t i = 0; i < N; ++i) {
            if (name == names[i]) {
                out = static_cast<Enum>(i);
                return true;
            }
        }
        return false;
    }
};

constexpr EnumNames<DisplacementMethod, 2> kMethodNames{{"solid", "mesh"}};
constexpr EnumNames<MidLevelMode, 2> kMidLevelModeNames{{"manual", "automatic"}};
constexpr EnumNames<DisplacementDirection, 3> kDirectionNames{{"centred", "outward", "inward"}};
constexpr EnumNames<OutsideRule, 3> kOutsideRuleNames{{"any", "all", "average"}};

template <class Enum, std::size_t N>
void WriteEnum(const JsonNode& node, std::string_view key, const EnumNames<Enum, N>& table, Enum value)
{
    if (const char* name = table.NameOf(value))
        SetJsonPathString(node, key, name);
    else
        SetJsonPathInteger(node, key, static_cast<std::int32_t>(value));
}

template <class Enum, std::size_t N>
void ReadEnum(const JsonView& node, std::string_view key, const EnumNames<Enum, N>& table, Enum& value)
{
    std::string name;
    if (GetJsonPathString(node, key, name))
        table.Find(name, value);
}

std::string Fixed(double value, int decimals) { return FormatFixed(value, decimals); }

}  // namespace

bool DisplacementSettingsEquals(const DisplacementSettings& a, const DisplacementSettings& b)
{
    return a.method == b.method && a.limitToClearance == b.limitToClearance
        && a.mitreCreases == b.mitreCreases && a.preventFolds == b.preventFolds
        && a.maximumTiltDegrees == b.maximumTiltDegrees
        && a.wallThresholdMillimetres == b.wallThresholdMillimetres
        && a.checkThinWalls == b.checkThinWalls && a.holdThinWalls == b.holdThinWalls
        && a.strengthMillimetres == b.strengthMillimetres && a.midLevel == b.midLevel
        && a.midLevelMode == b.midLevelMode && a.direction == b.direction && a.invert == b.invert
        && a.outsideRule == b.outsideRule && a.base.enabled == b.base.enabled
        && a.base.axis == b.base.axis && a.base.protectBelow == b.base.protectBelow
        && a.base.planeMillimetres == b.base.planeMillimetres
        && a.base.bandMillimetres == b.base.bandMillimetres;
}

void DisplacementSettingsToJson(const JsonNode& node, const DisplacementSettings& s)
{
    WriteEnum(node, "method", kMethodNames, s.method);
    SetJsonPathFloat(node, "strengthMillimetres", s.strengthMillimetres);
    SetJsonPathFloat(node, "midLevel", s.midLevel);
    WriteEnum(node, "midLevelMode", kMidLevelModeNames, s.midLevelMode);
    WriteEnum(node, "direction", kDirectionNames, s.direction);
    SetJsonPathBool(node, "invert", s.invert);
    WriteEnum(node, "outsideRule", kOutsideRuleNames, s.outsideRule);
    SetJsonPathBool(node, "limitToClearance", s.limitToClearance);
    SetJsonPathBool(node, "mitreCreases", s.mitreCreases);
    SetJsonPathBool(node, "preventFolds", s.preventFolds);
    SetJsonPathFloat(node, "maximumTiltDegrees", s.maximumTiltDegrees);
    SetJsonPathFloat(node, "wallThresholdMillimetres", s.wallThresholdMillimetres);
    SetJsonPathBool(node, "checkThinWalls", s.checkThinWalls);
    SetJsonPathBool(node, "holdThinWalls", s.holdThinWalls);
    SetJsonPathBool(node, "base.enabled", s.base.enabled);
    SetJsonPathInteger(node, "base.axis", s.base.axis);
    SetJsonPathBool(node, "base.protectBelow", s.base.protectBelow);
    SetJsonPathFloat(node, "base.planeMillimetres", s.base.planeMillimetres);
    SetJsonPathFloat(node, "base.bandMillimetres", s.base.bandMillimetres);
}

void DisplacementSettingsFromJson(const JsonView& node, DisplacementSettings& s)
{
    ReadEnum(node, "method", kMethodNames, s.method);
    GetJsonPathFloat(node, "strengthMillimetres", s.strengthMillimetres);
    GetJsonPathFloat(node, "midLevel", s.midLevel);
    ReadEnum(node, "midLevelMode", kMidLevelModeNames, s.midLevelMode);
    ReadEnum(node, "direction", kDirectionNames, s.direction);
    GetJsonPathBool(node, "invert", s.invert);
    ReadEnum(node, "outsideRule", kOutsideRuleNames, s.outsideRule);
    GetJsonPathBool(node, "limitToClearance", s.limitToClearance);
    GetJsonPathBool(node, "mitreCreases", s.mitreCreases);
    GetJsonPathBool(node, "preventFolds", s.preventFolds);
    GetJsonPathFloat(node, "maximumTiltDegrees", s.maximumTiltDegrees);
    GetJsonPathFloat(node, "wallThresholdMillimetres", s.wallThresholdMillimetres);
    GetJsonPathBool(node, "checkThinWalls", s.checkThinWalls);
    GetJsonPathBool(node, "holdThinWalls", s.holdThinWalls);
    GetJsonPathBool(node, "base.enabled", s.base.enabled);
    GetJsonPathInt32(node, "base.axis", s.base.axis);
    GetJsonPathBool(node, "base.protectBelow", s.base.protectBelow);
    GetJsonPathFloat(node, "base.planeMillimetres", s.base.planeMillimetres);
    GetJsonPathFloat(node, "base.bandMillimetres", s.base.bandMillimetres);
}

std::string FormatDisplacementReport(const DisplacementReport& r)
{
    std::string text = "Displaced " + std::to_string(r.displacedVertices) + " of "
        + std::to_string(r.vertexCount) + " vertices, " + Fixed(r.minimumOffset, 4) + " to "
        + Fixed(r.maximumOffset, 4) + " mm, relief " + Fixed(r.relief, 4) + " mm, mid-level "
        + Fixed(r.midLevel, 4);
    if (r.foldedTriangles != 0) {
        text += "; " + std::to_string(r.foldedTriangles) + " triangles turning over eased in "
            + std::to_string(r.foldRounds) + " " + std::string(PluralWord(r.foldRounds, "round", "rounds")) + " ("
            + std::to_string(r.easedVertices)
            + " vertices, " + std::to_string(r.easedFurther) + " now further than before, "
            + std::to_string(r.easedPastClearance) + " past their clearance), "
            + std::to_string(r.foldedLeft) + " left";
    }
    if (r.crossingPairsMade != 0) {
        text += "; " + std::to_string(r.crossingPairsMade) + " "
            + std::string(PluralWord(r.crossingPairsMade, "crossing", "crossings")) + " the relief made eased in "
            + std::to_string(r.crossingRounds) + " " + std::string(PluralWord(r.crossingRounds, "round", "rounds"))
            + " (" + std::to_string(r.crossingVerticesEased) + " vertices), "
            + std::to_string(r.crossingPairsLeft) + " left";
    }
    if (r.keptLevelAtBase != 0)
        text += "; " + std::to_string(r.keptLevelAtBase) + " kept level at the base";
    if (r.heldAtBasePlane != 0)
        text += "; " + std::to_string(r.heldAtBasePlane) + " held at the base plane";
    if (r.cutByClearance != 0)
        text += "; " + std::to_string(r.cutByClearance) + " cut short by clearance";
    if (!r.stageTimes.empty()) {
        text += "\n    stages:";
        for (const StageTime& stage : r.stageTimes)
            text += " " + stage.name + " " + Fixed(stage.milliseconds, 0) + " ms;";
    }
    if (r.heldForWalls != 0) {
        text += "  " + std::to_string(r.heldForWalls)
            + " vertices not moved inward: the wall under them would have gone below the threshold\n";
    }
    return text;
}

}  // namespace grainforge::mesh
