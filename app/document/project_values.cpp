#include "app/document/project_values.h"
#include "app/document/log_text.h"

#include <cmath>

namespace grainforge::app {

namespace {

// The sides as the projection's section names its layers.
constexpr const char* kLayerKeys[grainforge::mesh::kBoxSideCount] = {"px", "nx", "py", "ny", "pz", "nz"};

// Collects the numbers in order, each with the key the file holds it under.
class NumberList {
public:
    explicit NumberList(std::vector<ProjectNumber>& numbers) : numbers_(numbers) {}

    // Named by the rule's field.
    template <typename Value>
    ProjectNumber& Add(std::string key, Value& value, const NumberFieldRule& rule, double scale = 1.0,
        double divisor = 1.0)
    {
        return Add(WideToUtf8(rule.name), std::move(key), value, rule, scale, divisor);
    }
    template <typename Value>
    ProjectNumber& Add(std::string name, std::string key, Value& value, const NumberFieldRule& rule,
        double scale = 1.0, double divisor = 1.0)
    {
        numbers_.push_back({std::move(name), &rule, &value, scale, divisor, std::move(key)});
        return numbers_.back();
    }
    // The entries of an array member, named "name[0]", "name[1]", ...
    void AddEach(const std::string& name, const std::string& key, std::initializer_list<float*> values,
        const NumberFieldRule& rule)
    {
        int index = 0;
        for (float* value : values) {
            Add(name + "[" + std::to_string(index) + "]", key, *value, rule).element = index;
            ++index;
        }
    }
    // Named by the key.
    void AddEach(const std::string& key, std::initializer_list<float*> values, const NumberFieldRule& rule)
    {
        AddEach(key, key, values, rule);
    }

private:
    std::vector<ProjectNumber>& numbers_;
};

// A number no field shows, named by its key, which is the rule's name.
template <typename Value>
void AddByKey(NumberList& list, Value& value, const NumberFieldRule& rule)
{
    list.Add(WideToUtf8(rule.name), value, rule);
}

void ListPlacement(grainforge::mesh::Transform3x4& t, NumberList& list)
{
    list.AddEach("part.orientation.rowX", {&t.m00, &t.m01, &t.m02}, kPlacementTurnRule);
    list.AddEach("part.orientation.rowY", {&t.m10, &t.m11, &t.m12}, kPlacementTurnRule);
    list.AddEach("part.orientation.rowZ", {&t.m20, &t.m21, &t.m22}, kPlacementTurnRule);
    list.AddEach("part.orientation.translation", {&t.translation.x, &t.translation.y, &t.translation.z},
        kPlacementMoveRule);
}

void ListShapingSettings(ProjectData& data, NumberList& list)
{
    grainforge::mesh::RemeshSettings& remesh = data.remesh;
    list.Add("remesh.targetEdgeMillimetres", remesh.targetEdgeMillimetres, kTriangleSizeRule);
    AddByKey(list, remesh.rounds, kRemeshRoundsRule);
    AddByKey(list, remesh.featureAngleDegrees, kFeatureAngleRule);
    AddByKey(list, remesh.relaxation, kRelaxationRule);
    AddByKey(list, remesh.dualContouring.sharpness, kContourSharpnessRule);
    AddByKey(list, remesh.dualContouring.disconnectedThreshold, kDisconnectedShareRule);

    grainforge::mesh::DisplacementSettings& relief = data.displacement;
    list.Add("displacement.strengthMillimetres", relief.strengthMillimetres, kStrengthRule);
    list.Add("displacement.midLevel", relief.midLevel, kMidlevelRule);
    AddByKey(list, relief.maximumTiltDegrees, kMaximumTiltRule);
    AddByKey(list, relief.wallThresholdMillimetres, kWallThresholdRule);
    AddByKey(list, relief.base.axis, kBaseAxisRule);
    AddByKey(list, relief.base.planeMillimetres, kBasePlaneRule);
    AddByKey(list, relief.base.bandMillimetres, kBaseBandRule);

    grainforge::mesh::SimplifySettings& simplify = data.simplify;
    list.Add("simplify.planarToleranceMillimetres", simplify.planarToleranceMillimetres, kPlanarToleranceRule);
    AddByKey(list, simplify.relativePlanarTolerance, kRelativePlanarToleranceRule);
    AddByKey(list, simplify.planarAngleDegrees, kPlanarAngleRule);
    AddByKey(list, simplify.minimumTriangleHeightMillimetres, kMinimumTriangleHeightRule);
    AddByKey(list, simplify.maximumValence, kMaximumValenceRule);
    AddByKey(list, simplify.maximumSweeps, kMaximumSweepsRule);
    list.Add("simplify.meshDetailError", simplify.meshDetailError, kDetailLevelRule);

    // The limits are held in millions, as their fields show them, and read on their own.
    list.Add("", data.maximumTriangles, kTriangleLimitRule, 1.0, 1e6).naming = NumberNaming::count;
    list.Add("", data.displayTriangles, kDisplayLimitRule, 1.0, 1e6).naming = NumberNaming::count;
}

void ListTexture(grainforge::mesh::TextureSettings& texture, NumberList& list)
{
    const std::string key = "texture.settings.";
    list.Add(key + "widthMillimetres", texture.widthMillimetres, kStoredTileWidthRule).outside = &kTileWidthRule;
    list.Add(key + "heightMillimetres", texture.heightMillimetres, kStoredTileHeightRule).outside = &kTileHeightRule;
    list.AddEach(WideToUtf8(kTextureOffsetRule.name), key + "offsetMillimetres",
        {&texture.offsetMillimetres[0], &texture.offsetMillimetres[1]}, kTextureOffsetRule);
    AddByKey(list, texture.rotationDegrees, kTextureTurnRule);
    list.Add(key + "blurMillimetres", texture.blurMillimetres, kBlurRule);
    // The levels' edits show whole steps of 255.
    list.Add(key + "blackLevel", texture.blackLevel, kLevelsRules[0], kLevelScale).decimals = 0;
    // Held by what the file's number means, the exponent; named as the gamma edit shows it.
    list.Add(key + "gamma", texture.gamma, kStoredGammaRule).naming = NumberNaming::reciprocal;
    list.Add(key + "whiteLevel", texture.whiteLevel, kLevelsRules[2], kLevelScale).decimals = 0;
    list.Add(key + "outputBlackLevel", texture.outputBlackLevel, kLevelsRules[3], kLevelScale).decimals = 0;
    list.Add(key + "outputWhiteLevel", texture.outputWhiteLevel, kLevelsRules[4], kLevelScale).decimals = 0;
}

void ListProjection(grainforge::mesh::Projection& projection, NumberList& list)
{
    grainforge::mesh::CageFrame& cage = projection.cage;
    list.AddEach(WideToUtf8(kCageCentreRule.name), {&cage.center.x, &cage.center.y, &cage.center.z},
        kCageCentreRule);
    list.AddEach(WideToUtf8(kCageTurnRule.name),
        {&cage.rotationDegrees.x, &cage.rotationDegrees.y, &cage.rotationDegrees.z}, kCageTurnRule);
    list.AddEach(WideToUtf8(kCageSizeRule.name), {&cage.size.x, &cage.size.y, &cage.size.z}, kCageSizeRule);
    list.Add("projection.box.blendSharpness", projection.boxBlendSharpness, kBlendSharpnessRule);
    list.Add("projection.plane.axis", "projection.plane.axis", projection.planeAxis, kProjectionAxisRule);
    list.Add("projection.cylinder.axis", "projection.cylinder.axis", projection.cylinderAxis, kProjectionAxisRule);
    AddByKey(list, projection.cylinderSeamDegrees, kSeamRule);
    list.Add("projection.sphere.axis", "projection.sphere.axis", projection.sphereAxis, kProjectionAxisRule);
    for (std::int32_t side = 0; side < grainforge::mesh::kBoxSideCount; ++side) {
        grainforge::mesh::ProjectionLayer& layer = projection.layers[side];
        const std::string key = std::string("projection.layer.") + kLayerKeys[side] + ".";
        list.AddEach(key + WideToUtf8(kLayerOriginRule.name),
            {&layer.originMillimetres[0], &layer.originMillimetres[1]}, kLayerOriginRule);
        for (const auto& [value, rule] : {std::pair{&layer.rotationDegrees, &kLayerTurnRule},
                 std::pair{&layer.zoom, &kLayerZoomRule}}) {
            const std::string name = key + WideToUtf8(rule->name);
            list.Add(name, name, *value, *rule);
        }
        const std::string image = key + WideToUtf8(kLayerImageRule.name);
        list.Add(image, image, layer.image, kLayerImageRule);
    }
    AddByKey(list, projection.activeLayer, kActiveLayerRule);
}

void ListMasks(std::vector<grainforge::mesh::MaskVolume>& masks, NumberList& list)
{
    // The members of a mask object, in the order of the fields' rules.
    constexpr const char* kMaskKeys[] = {"center", "center", "center", "size", "size", "size",
        "rotationDegrees", "rotationDegrees", "rotationDegrees", "featherMillimetres"};
    static_assert(std::size(kMaskKeys) == std::size(kMaskFieldRules));
    for (std::size_t i = 0; i < masks.size(); ++i) {
        grainforge::mesh::MaskVolume& mask = masks[i];
        const std::string prefix = MaskLabel(i) + ": ";
        float* const values[] = {&mask.center.x, &mask.center.y, &mask.center.z, &mask.size.x, &mask.size.y,
            &mask.size.z, &mask.rotationDegrees.x, &mask.rotationDegrees.y, &mask.rotationDegrees.z,
            &mask.featherMillimetres};
        static_assert(std::size(values) == std::size(kMaskFieldRules));
        for (std::size_t field = 0; field < std::size(values); ++field) {
            ProjectNumber& number = list.Add(prefix + WideToUtf8(kMaskFieldRules[field].name),
                "mask" + std::to_string(i) + "." + kMaskKeys[field], *values[field], kMaskFieldRules[field]);
            if (field < 9)
                number.element = static_cast<int>(field % 3);
            // A volume the program fitted to a part far out, or a large one, lies past the fields'
            // range and is kept as it was placed.
            if (field < 3)
                number.outside = &kPlacedMaskCentreRule;
            else if (field < 6)
                number.outside = &kPlacedMaskSizeRule;
        }
    }
}

void ListExportOptions(ProjectData& data, NumberList& list)
{
    list.Add("exportCleanup.maximumHoleMillimetres", data.exportCleanup.maximumHoleMillimetres, kLargestHoleRule);
    list.Add("exportCleanup.maximumSlitWidthMillimetres", data.exportCleanup.maximumSlitWidthMillimetres,
        kWidestSlitRule);
    AddByKey(list, data.exportFixes.maximumRounds, kFixRoundsRule);
    AddByKey(list, data.exportFixes.maximumMoveMillimetres, kFixMoveRule);
}

}  // namespace

std::string MaskLabel(std::size_t index)
{
    return "Mask " + std::to_string(index + 1);
}

std::vector<ProjectNumber> ListProjectNumbers(ProjectData& data)
{
    std::vector<ProjectNumber> numbers;
    NumberList list(numbers);
    ListPlacement(data.partTransform, list);
    ListShapingSettings(data, list);
    ListTexture(data.textureSettings, list);
    ListProjection(data.projection, list);
    ListMasks(data.masks, list);
    ListExportOptions(data, list);
    return numbers;
}

double ShownValue(const ProjectNumber& number)
{
    return std::visit(
        [&](const auto* value) { return static_cast<double>(*value) * number.scale / number.divisor; }, number.value);
}

double StoredFromShown(const ProjectNumber& number, double shown)
{
    return shown * number.divisor / number.scale;
}

namespace {

// The rule a shown value is held to: the field's own, or for a value past it the rule of
// values placed past the fields (a mask fitted to a part far out).
const NumberFieldRule& RuleHolding(const ProjectNumber& number, double shown)
{
    return number.outside != nullptr && !IsInFieldRange(shown, *number.rule) ? *number.outside : *number.rule;
}

}  // namespace

double HoldProjectNumber(const ProjectNumber& number, double shown, double fallback, bool* nearest)
{
    const NumberFieldRule& rule = RuleHolding(number, shown);
    if (nearest != nullptr)
        *nearest = HasNearestInFieldRange(shown, rule);
    const double held = HoldToFieldRange(shown, rule, fallback);
    if (rule.decimals < 0 || !std::isfinite(held))
        return held;
    // A field showing fewer digits than the file gives would show another value than the one in
    // force and saved: held to what it shows of the value as stored (10.005 as a float shows
    // "10.01").
    double stored = StoredFromShown(number, held);
    if (std::holds_alternative<float*>(number.value))
        stored = static_cast<float>(stored);
    return AsFieldShowsIt(stored * number.scale / number.divisor, rule);
}

bool HoldsAsItStands(const ProjectNumber& number)
{
    const double shown = ShownValue(number);
    const NumberFieldRule& rule = RuleHolding(number, shown);
    if (IsInFieldRange(shown, rule))
        return true;
    // A float at the field's own end, which is no float, is stored as the nearest float.
    const float* const* stored = std::get_if<float*>(&number.value);
    const double held = HoldToFieldRange(shown, rule, std::nan(""));
    return stored != nullptr && std::isfinite(held) && static_cast<float>(StoredFromShown(number, held)) == **stored;
}

bool IsPlacementTurn(const grainforge::mesh::Transform3x4& t)
{
    using grainforge::mesh::Vec3;
    const Vec3 rows[3] = {{t.m00, t.m01, t.m02}, {t.m10, t.m11, t.m12}, {t.m20, t.m21, t.m22}};
    const auto dot = [](const Vec3& a, const Vec3& b) {
        return static_cast<double>(a.x) * b.x + static_cast<double>(a.y) * b.y + static_cast<double>(a.z) * b.z;
    };
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double product = dot(rows[i], rows[j]);
            // A NaN or infinite entry fails here too.
            if (!(std::fabs(product - (i == j ? 1.0 : 0.0)) <= kPlacementTurnTolerance))
                return false;
        }
    const Vec3& x = rows[0];
    const Vec3& y = rows[1];
    const Vec3 cross{x.y * y.z - x.z * y.y, x.z * y.x - x.x * y.z, x.x * y.y - x.y * y.x};
    return dot(cross, rows[2]) > 0.0;
}

}  // namespace grainforge::app
