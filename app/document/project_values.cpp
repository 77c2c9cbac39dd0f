#include "app/document/project_values.h"
#include "app/document/log_text.h"

#include <cmath>

namespace grainforge::app {

namespace {

// The sides as the projection's section names its layers.
constexpr const char* kLayerKeys[grainforge::mesh::kBoxSideCount] = {"px", "nx", "py", "ny", "pz", "nz"};

// Collects the numbers in order.
class NumberList {
public:
    explicit NumberList(std::vector<ProjectNumber>& numbers) : numbers_(numbers) {}

    template <typename Value>
    void Add(Value& value, const NumberFieldRule& rule, double scale = 1.0, double divisor = 1.0)
    {
        Add(WideToUtf8(rule.name), value, rule, scale, divisor);
    }
    template <typename Value>
    void Add(std::string name, Value& value, const NumberFieldRule& rule, double scale = 1.0, double divisor = 1.0)
    {
        numbers_.push_back({std::move(name), &rule, &value, scale, divisor});
    }
    // "name[0]", "name[1]", ...: the entries of an array member.
    void AddEach(const std::string& name, std::initializer_list<float*> values, const NumberFieldRule& rule)
    {
        int index = 0;
        for (float* value : values)
            Add(name + "[" + std::to_string(index++) + "]", *value, rule);
    }
    void AddEach(std::initializer_list<float*> values, const NumberFieldRule& rule)
    {
        AddEach(WideToUtf8(rule.name), values, rule);
    }

private:
    std::vector<ProjectNumber>& numbers_;
};

void ListPlacement(grainforge::mesh::Transform3x4& t, NumberList& list)
{
    list.AddEach("part.orientation.rowX", {&t.m00, &t.m01, &t.m02}, kPlacementTurnRule);
    list.AddEach("part.orientation.rowY", {&t.m10, &t.m11, &t.m12}, kPlacementTurnRule);
    list.AddEach("part.orientation.rowZ", {&t.m20, &t.m21, &t.m22}, kPlacementTurnRule);
    list.AddEach({&t.translation.x, &t.translation.y, &t.translation.z}, kPlacementMoveRule);
}

void ListShapingSettings(ProjectData& data, NumberList& list)
{
    grainforge::mesh::RemeshSettings& remesh = data.remesh;
    list.Add(remesh.targetEdgeMillimetres, kTriangleSizeRule);
    list.Add(remesh.rounds, kRemeshRoundsRule);
    list.Add(remesh.featureAngleDegrees, kFeatureAngleRule);
    list.Add(remesh.relaxation, kRelaxationRule);
    list.Add(remesh.dualContouring.sharpness, kContourSharpnessRule);
    list.Add(remesh.dualContouring.disconnectedThreshold, kDisconnectedShareRule);

    grainforge::mesh::DisplacementSettings& relief = data.displacement;
    list.Add(relief.strengthMillimetres, kStrengthRule);
    list.Add(relief.midLevel, kMidlevelRule);
    list.Add(relief.maximumTiltDegrees, kMaximumTiltRule);
    list.Add(relief.wallThresholdMillimetres, kWallThresholdRule);
    list.Add(relief.base.axis, kBaseAxisRule);
    list.Add(relief.base.planeMillimetres, kBasePlaneRule);
    list.Add(relief.base.bandMillimetres, kBaseBandRule);

    grainforge::mesh::SimplifySettings& simplify = data.simplify;
    list.Add(simplify.planarToleranceMillimetres, kPlanarToleranceRule);
    list.Add(simplify.relativePlanarTolerance, kRelativePlanarToleranceRule);
    list.Add(simplify.planarAngleDegrees, kPlanarAngleRule);
    list.Add(simplify.minimumTriangleHeightMillimetres, kMinimumTriangleHeightRule);
    list.Add(simplify.maximumValence, kMaximumValenceRule);
    list.Add(simplify.maximumSweeps, kMaximumSweepsRule);
    list.Add(simplify.meshDetailError, kDetailLevelRule);

    // The limits are shown in millions.
    list.Add(data.maximumTriangles, kTriangleLimitRule, 1.0, 1e6);
    list.Add(data.displayTriangles, kDisplayLimitRule, 1.0, 1e6);
}

void ListTexture(grainforge::mesh::TextureSettings& texture, NumberList& list)
{
    list.Add(texture.widthMillimetres, kStoredTileWidthRule);
    list.Add(texture.heightMillimetres, kStoredTileHeightRule);
    list.AddEach({&texture.offsetMillimetres[0], &texture.offsetMillimetres[1]}, kTextureOffsetRule);
    list.Add(texture.rotationDegrees, kTextureTurnRule);
    list.Add(texture.blurMillimetres, kBlurRule);
    list.Add(texture.blackLevel, kLevelsRules[0], kLevelScale);
    list.Add(texture.gamma, kLevelsRules[1]);
    list.Add(texture.whiteLevel, kLevelsRules[2], kLevelScale);
    list.Add(texture.outputBlackLevel, kLevelsRules[3], kLevelScale);
    list.Add(texture.outputWhiteLevel, kLevelsRules[4], kLevelScale);
}

void ListProjection(grainforge::mesh::Projection& projection, NumberList& list)
{
    grainforge::mesh::CageFrame& cage = projection.cage;
    list.AddEach({&cage.center.x, &cage.center.y, &cage.center.z}, kCageCentreRule);
    list.AddEach({&cage.rotationDegrees.x, &cage.rotationDegrees.y, &cage.rotationDegrees.z}, kCageTurnRule);
    list.AddEach({&cage.size.x, &cage.size.y, &cage.size.z}, kCageSizeRule);
    list.Add(projection.boxBlendSharpness, kBlendSharpnessRule);
    list.Add("projection.plane.axis", projection.planeAxis, kProjectionAxisRule);
    list.Add("projection.cylinder.axis", projection.cylinderAxis, kProjectionAxisRule);
    list.Add(projection.cylinderSeamDegrees, kSeamRule);
    list.Add("projection.sphere.axis", projection.sphereAxis, kProjectionAxisRule);
    for (std::int32_t side = 0; side < grainforge::mesh::kBoxSideCount; ++side) {
        grainforge::mesh::ProjectionLayer& layer = projection.layers[side];
        const std::string key = std::string("projection.layer.") + kLayerKeys[side] + ".";
        list.AddEach(key + WideToUtf8(kLayerOriginRule.name),
            {&layer.originMillimetres[0], &layer.originMillimetres[1]}, kLayerOriginRule);
        list.Add(key + WideToUtf8(kLayerTurnRule.name), layer.rotationDegrees, kLayerTurnRule);
        list.Add(key + WideToUtf8(kLayerZoomRule.name), layer.zoom, kLayerZoomRule);
        list.Add(key + WideToUtf8(kLayerImageRule.name), layer.image, kLayerImageRule);
    }
    list.Add(projection.activeLayer, kActiveLayerRule);
}

void ListMasks(std::vector<grainforge::mesh::MaskVolume>& masks, NumberList& list)
{
    for (std::size_t i = 0; i < masks.size(); ++i) {
        grainforge::mesh::MaskVolume& mask = masks[i];
        const std::string prefix = "Mask " + std::to_string(i + 1) + ": ";
        float* const values[] = {&mask.center.x, &mask.center.y, &mask.center.z, &mask.size.x, &mask.size.y,
            &mask.size.z, &mask.rotationDegrees.x, &mask.rotationDegrees.y, &mask.rotationDegrees.z,
            &mask.featherMillimetres};
        static_assert(std::size(values) == std::size(kMaskFieldRules));
        for (std::size_t field = 0; field < std::size(values); ++field)
            list.Add(prefix + WideToUtf8(kMaskFieldRules[field].name), *values[field], kMaskFieldRules[field]);
    }
}

void ListExportOptions(ProjectData& data, NumberList& list)
{
    list.Add(data.exportCleanup.maximumHoleMillimetres, kLargestHoleRule);
    list.Add(data.exportCleanup.maximumSlitWidthMillimetres, kWidestSlitRule);
    list.Add(data.exportFixes.maximumRounds, kFixRoundsRule);
    list.Add(data.exportFixes.maximumMoveMillimetres, kFixMoveRule);
}

}  // namespace

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

bool HoldsAsItStands(const ProjectNumber& number)
{
    const double shown = ShownValue(number);
    if (IsInFieldRange(shown, *number.rule))
        return true;
    // A float at the field's own end, which is no float, is stored as the nearest float.
    const float* const* stored = std::get_if<float*>(&number.value);
    const double held = HoldToFieldRange(shown, *number.rule, std::nan(""));
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
