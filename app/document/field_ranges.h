// The range of every number the user can type into a field: one typed rule per field, used by
// the dialogs and panels, which refuse a typed number outside it, and by the reading of a
// project, which takes the nearest value inside it. So a value the window would never take
// reaches no run, dialog or saved file by way of a file either.
//
// Values here are in the units the field shows (a level from 0 to 255, a limit in millions);
// a reader that stores another unit scales to it. Plain constants: any thread may read them.
#pragma once

#include "engine/displacement/displacement_settings.h"
#include "engine/displacement/mask_volume.h"
#include "engine/repair/repair_driver.h"
#include "engine/remesh/flat_simplify.h"
#include "engine/remesh/remesh_settings.h"
#include "engine/textures/height_map.h"

#include <limits>
#include <string_view>

namespace grainforge::app {

// The range a number field takes, as its refusal names it.
struct NumberFieldRule {
    std::wstring_view name{};       // the field's label without its unit: "Triangle size"
    double minimum = 0.0;
    double maximum = 0.0;
    std::wstring_view unit{};       // "mm", "million"; empty for a plain number
    bool minimumIncluded = true;    // false: the value must lie above the minimum
    std::wstring_view note{};       // a sentence added to the refusal ("Leave it empty for no limit.")
    bool zeroAllowed = false;       // 0 is taken besides the range (a limit's "no limit")
    std::wstring_view tooSmall{};   // the refusal of a number below the range, when it has its own words
    bool positiveOnly = false;      // 0 and below lie nearest to no value the field takes (a gamma)
    bool wholeNumber = false;       // a count: it takes whole numbers only (2.5 would be rounded)
    int decimals = -1;              // the digits after the point the field shows, -1 for any: it
                                    // takes no number it would show otherwise
};

// Whether the field takes `value` as it stands (zeroAllowed's 0 included). The one range test:
// the typed fields, their refusals and the reading of a project all go through it.
bool IsInFieldRange(double value, const NumberFieldRule& rule);

// Whether the field shows `value` as it is: whole for a wholeNumber rule, with no more digits
// after the point than the rule's decimals.
bool IsShownAsItIs(double value, const NumberFieldRule& rule);

// `value` as the field writes it and reads it back: at the rule's decimals (whole for a
// wholeNumber rule); as it is where the rule shows any number of digits or it is not finite.
double AsFieldShowsIt(double value, const NumberFieldRule& rule);

// A range end kept as a float (a pattern's limits), as the number people read and type: the
// shortest decimal that is that float. 0.45f is 0.449999988 as a double, and a typed "0.45"
// compared with that lay outside the range the field itself gave the value.
double ReadableEnd(float end);

// Whether some value of the field's range is nearest to `value`: not for a number that is not
// finite, below an excluded minimum, or 0 and below for positiveOnly.
bool HasNearestInFieldRange(double value, const NumberFieldRule& rule);

// `value` held to the field's range as a typed one is: the nearest end for a number outside,
// `fallback` where no value of the range is nearest (HasNearestInFieldRange).
double HoldToFieldRange(double value, const NumberFieldRule& rule, double fallback);

// ---- The relief, simplify and remesh fields --------------------------------------------------

// Strength is limited as the relief section's own field limits it.
inline constexpr float kMaxReliefStrengthMillimetres = 100000.0f;
// Typed limits are in millions of triangles; 0 (or an empty field) is "no limit".
inline constexpr double kMinLimitMillions = 0.1;
inline constexpr double kMaxLimitMillions = 200.0;

inline constexpr NumberFieldRule kTriangleSizeRule{
    .name = L"Triangle size", .minimum = 0.01, .maximum = 100000.0, .unit = L"mm"};
inline constexpr NumberFieldRule kStrengthRule{
    .name = L"Strength", .minimum = 0.0, .maximum = kMaxReliefStrengthMillimetres, .unit = L"mm"};
inline constexpr NumberFieldRule kMidlevelRule{.name = L"Midlevel", .minimum = 0.0, .maximum = 1.0};
inline constexpr NumberFieldRule kTriangleLimitRule{.name = L"Triangle limit",
                                                    .minimum = kMinLimitMillions,
                                                    .maximum = kMaxLimitMillions,
                                                    .unit = L"million",
                                                    .note = L"Leave it empty, or 0, for no limit.",
                                                    .zeroAllowed = true};
inline constexpr NumberFieldRule kDisplayLimitRule{.name = L"Display limit",
                                                   .minimum = kMinLimitMillions,
                                                   .maximum = kMaxLimitMillions,
                                                   .unit = L"million",
                                                   .note = L"Leave it empty, or 0, for no limit.",
                                                   .zeroAllowed = true};
inline constexpr NumberFieldRule kPlanarToleranceRule{
    .name = L"Planar tolerance", .minimum = 0.000001, .maximum = 1.0, .unit = L"mm"};
inline constexpr NumberFieldRule kDetailLevelRule{.name = L"Detail level", .minimum = 0.00001, .maximum = 10.0};

// ---- The texture, levels and mapping fields --------------------------------------------------

// The tile on the part as a printer can show it (a 1e-30 mm tile blacked out the view), the
// blur within a tile's reach.
inline constexpr double kSmallestTileMillimetres = 0.1;
inline constexpr double kLargestTileMillimetres = 10000.0;
static_assert(static_cast<float>(kSmallestTileMillimetres) == grainforge::mesh::kSmallestTileMillimetres &&
              static_cast<float>(kLargestTileMillimetres) == grainforge::mesh::kLargestTileMillimetres);
inline constexpr double kLargestBlurMillimetres = 100.0;
inline constexpr NumberFieldRule kTileWidthRule{
    .name = L"Width", .minimum = kSmallestTileMillimetres, .maximum = kLargestTileMillimetres, .unit = L"mm"};
inline constexpr NumberFieldRule kTileHeightRule{
    .name = L"Height", .minimum = kSmallestTileMillimetres, .maximum = kLargestTileMillimetres, .unit = L"mm"};
inline constexpr NumberFieldRule kBlurRule{
    .name = L"Blur", .minimum = 0.0, .maximum = kLargestBlurMillimetres, .unit = L"mm"};

// The levels' edits in handle order: black, gamma, white, output black, output white. A level
// shows its stored 0 to 1 as 0 to 255.
inline constexpr double kLevelScale = 255.0;
// The levels show whole steps and the gamma two decimals: they take no number they would show
// otherwise.
inline constexpr NumberFieldRule kLevelsRules[5] = {
    {.name = L"Black", .minimum = 0.0, .maximum = 255.0, .wholeNumber = true},
    {.name = L"Gamma", .minimum = 0.1, .maximum = 9.99, .positiveOnly = true, .decimals = 2},
    {.name = L"White", .minimum = 0.0, .maximum = 255.0, .wholeNumber = true},
    {.name = L"Output black", .minimum = 0.0, .maximum = 255.0, .wholeNumber = true},
    {.name = L"Output white", .minimum = 0.0, .maximum = 255.0, .wholeNumber = true},
};

// The gamma as stored and saved: the exponent, the reciprocal of what the gamma edit shows, so
// its range is the edit's turned over (1/9.99 to 10).
inline constexpr NumberFieldRule kStoredGammaRule{.name = L"Gamma",
    .minimum = 1.0 / kLevelsRules[1].maximum, .maximum = 1.0 / kLevelsRules[1].minimum, .positiveOnly = true};

// The gamma as the edit shows it, from the stored exponent: every text that names a gamma (the
// edit, the log, the opening's warning) gives this one meaning. 1 for an exponent of 0 or below,
// which no gamma stands for.
inline double GammaAsShown(float exponent)
{
    return exponent > 0.0f ? 1.0 / static_cast<double>(exponent) : 1.0;
}

// One step of a level as stored.
inline constexpr float kLevelStep = 1.0f / 255.0f;

// Which level gave way to keep black below white.
enum class LevelsOrder { kept, whiteRaised, blackLowered };

// Black stays at least a step below white, as the levels' fields and handles keep them: white
// rises above black or, where black is at the top and white cannot rise, black gives way.
// Equal or crossed levels leave nothing between them to stretch: the relief would be flat.
inline LevelsOrder HoldLevelsOrder(float& black, float& white)
{
    if (black < white)
        return LevelsOrder::kept;
    white = black + kLevelStep < 1.0f ? black + kLevelStep : 1.0f;
    if (black < white)
        return LevelsOrder::whiteRaised;
    black = white - kLevelStep;
    return LevelsOrder::blackLowered;
}

inline constexpr float kMinBlendSharpness = 1.0f;
inline constexpr float kMaxBlendSharpness = 16.0f;
inline constexpr NumberFieldRule kBlendSharpnessRule{
    .name = L"Sharpness", .minimum = kMinBlendSharpness, .maximum = kMaxBlendSharpness};

// ---- The mask volume's fields ----------------------------------------------------------------

// A centre or size beyond ten metres lies off any printer's bed.
inline constexpr double kLargestMaskMillimetres = 10000.0;

// The fields show two decimals: a number with more would show as another.
inline constexpr int kMaskFieldDecimals = 2;

namespace detail {
constexpr NumberFieldRule MaskCentreRule(const wchar_t* name)
{
    return {.name = name, .minimum = -kLargestMaskMillimetres, .maximum = kLargestMaskMillimetres, .unit = L"mm",
        .decimals = kMaskFieldDecimals};
}
constexpr NumberFieldRule MaskSizeRule(const wchar_t* name)
{
    return {.name = name, .minimum = grainforge::mesh::kMinimumMaskSize, .maximum = kLargestMaskMillimetres,
        .unit = L"mm", .decimals = kMaskFieldDecimals};
}
constexpr NumberFieldRule MaskTurnRule(const wchar_t* name)
{
    return {.name = name, .minimum = -360.0, .maximum = 360.0, .unit = L"degrees", .decimals = kMaskFieldDecimals};
}
}  // namespace detail

// Centre x, y, z; size x, y, z; turn x, y, z; feather.
inline constexpr NumberFieldRule kMaskFieldRules[10] = {
    detail::MaskCentreRule(L"Position X"), detail::MaskCentreRule(L"Position Y"),
    detail::MaskCentreRule(L"Position Z"), detail::MaskSizeRule(L"Size X"),
    detail::MaskSizeRule(L"Size Y"),       detail::MaskSizeRule(L"Size Z"),
    detail::MaskTurnRule(L"Turn X"),       detail::MaskTurnRule(L"Turn Y"),
    detail::MaskTurnRule(L"Turn Z"),
    {.name = L"Feather", .minimum = 0.0, .maximum = kLargestMaskMillimetres, .unit = L"mm",
        .decimals = kMaskFieldDecimals},
};

// The volume with each value its field's range holds as the field shows it (two decimals), as a
// project is read: what the program writes from a drag, a fit or a typed field reopens as it was
// and shows as it is. A value past the field's range (a volume placed far out) is kept as it is,
// and so is each value equal to `before`'s, where given: an edit moves only what it changed.
grainforge::mesh::MaskVolume HeldToMaskFieldDecimals(
    grainforge::mesh::MaskVolume volume, const grainforge::mesh::MaskVolume* before = nullptr);

// ---- The export check's fields ---------------------------------------------------------------

// Named by the words the Save STL dialog shows beside each field ("up to [5] mm across, and
// slits up to [0.5] mm wide"): a refusal that named neither field sent the reader searching.
inline constexpr NumberFieldRule kLargestHoleRule{
    .name = L"The size before \"mm across\"", .minimum = 0.0, .maximum = 1000.0, .unit = L"mm"};
inline constexpr NumberFieldRule kWidestSlitRule{
    .name = L"The size before \"mm wide\"", .minimum = 0.0, .maximum = 1000.0, .unit = L"mm"};

// ---- Values a project holds that no field shows ----------------------------------------------
// Each is named by its key in the project, as the opening's warning names it, and takes the
// range the engine's code can use: past it a run loops for ever, reads a turned-over angle, or
// lays the texture and the part where float arithmetic no longer resolves a millimetre.

// Far past any printer's bed, yet a float there still resolves a hundredth of a millimetre.
inline constexpr double kLargestPlacementMillimetres = 100000.0;
// How far out the program places what it fits to a part: a part is read wherever its file puts
// it, anywhere a float reaches, and the cage fitted to it, the relief's base laid on it, a mask
// volume fitted to it and the placement that lays it down lie as far out and as large. A project
// keeps each of them as it stands, so that it reopens as it was saved; a run refuses a part too
// far out for its triangle size on its own.
inline constexpr double kLargestPlacedMillimetres = std::numeric_limits<float>::max();
// A mask volume's centre and size as a project keeps them where its fields' range ends.
inline constexpr NumberFieldRule kPlacedMaskCentreRule{
    .name = L"Position", .minimum = -kLargestPlacedMillimetres, .maximum = kLargestPlacedMillimetres, .unit = L"mm"};
inline constexpr NumberFieldRule kPlacedMaskSizeRule{.name = L"Size", .minimum = grainforge::mesh::kMinimumMaskSize,
    .maximum = kLargestPlacedMillimetres, .unit = L"mm"};
// An offset of a texture's origin may run past the cage: a fit puts it half a tile out.
inline constexpr double kLargestOffsetMillimetres = 1000000.0;
// Turns made by dragging add up; a hundred whole turns keep a hundredth of a degree, and a
// value held to either end points the same way as none.
inline constexpr double kLargestTurnDegrees = 36000.0;
// A layer's zoom: the stored tile times the zoom is the tile shown, and a fit zooms a tile that
// does not repeat across the whole cage, which lies as large as the program places.
inline constexpr double kSmallestLayerZoom = 1e-6;
inline constexpr double kLargestLayerZoom = kLargestPlacedMillimetres;
// How far a placement's rows may lie from a turn's (unit, square to each other) as a float
// write and read leaves them; no entry of a turn lies further than this outside -1 to 1.
inline constexpr double kPlacementTurnTolerance = 0.001;

inline constexpr NumberFieldRule kRemeshRoundsRule{
    .name = L"remesh.rounds", .minimum = grainforge::mesh::kFewestRemeshRounds, .maximum = 100.0};
inline constexpr NumberFieldRule kFeatureAngleRule{
    .name = L"remesh.featureAngleDegrees", .minimum = 0.0, .maximum = grainforge::mesh::kLargestFeatureAngleDegrees,
    .unit = L"degrees"};
inline constexpr NumberFieldRule kRelaxationRule{
    .name = L"remesh.relaxation", .minimum = 0.0, .maximum = grainforge::mesh::kLargestRelaxation};
// 1 keeps every corner; past 10 the vertex placement no longer changes.
inline constexpr NumberFieldRule kContourSharpnessRule{
    .name = L"remesh.dualContouring.sharpness", .minimum = 0.0, .maximum = 10.0};
inline constexpr NumberFieldRule kDisconnectedShareRule{
    .name = L"remesh.dualContouring.disconnectedThreshold", .minimum = 0.0, .maximum = 1.0};

inline constexpr NumberFieldRule kMaximumTiltRule{.name = L"displacement.maximumTiltDegrees",
    .minimum = grainforge::mesh::kMinimumFoldTiltDegrees, .maximum = grainforge::mesh::kMaximumFoldTiltDegrees,
    .unit = L"degrees"};
inline constexpr NumberFieldRule kWallThresholdRule{
    .name = L"displacement.wallThresholdMillimetres", .minimum = 0.0, .maximum = 1000.0, .unit = L"mm"};
inline constexpr NumberFieldRule kBaseAxisRule{.name = L"displacement.base.axis", .minimum = 0.0, .maximum = 2.0};
inline constexpr NumberFieldRule kBasePlaneRule{.name = L"displacement.base.planeMillimetres",
    .minimum = -kLargestPlacedMillimetres, .maximum = kLargestPlacedMillimetres, .unit = L"mm"};
// 0 is "twice the strength", which any band below it meant too.
inline constexpr NumberFieldRule kBaseBandRule{.name = L"displacement.base.bandMillimetres", .minimum = 0.0,
    .maximum = kLargestPlacementMillimetres, .unit = L"mm"};

inline constexpr NumberFieldRule kRelativePlanarToleranceRule{
    .name = L"simplify.relativePlanarTolerance", .minimum = 0.0, .maximum = 1.0};
inline constexpr NumberFieldRule kPlanarAngleRule{
    .name = L"simplify.planarAngleDegrees", .minimum = 0.0, .maximum = grainforge::mesh::kLargestPlanarAngleDegrees,
    .unit = L"degrees"};
inline constexpr NumberFieldRule kMinimumTriangleHeightRule{
    .name = L"simplify.minimumTriangleHeightMillimetres", .minimum = 0.0, .maximum = 1000.0, .unit = L"mm"};
// Fewer than 3 neighbours make no fan; the shape test's cost grows with the square of it.
inline constexpr NumberFieldRule kMaximumValenceRule{
    .name = L"simplify.maximumValence", .minimum = grainforge::mesh::kFewestKeptValence, .maximum = 1000.0};
inline constexpr NumberFieldRule kMaximumSweepsRule{
    .name = L"simplify.maximumSweeps", .minimum = grainforge::mesh::kFewestSimplifySweeps, .maximum = 10000.0};

inline constexpr NumberFieldRule kFixRoundsRule{
    .name = L"exportFixes.maximumRounds", .minimum = grainforge::mesh::kFewestRepairRounds, .maximum = 1000.0};
inline constexpr NumberFieldRule kFixMoveRule{
    .name = L"exportFixes.maximumMoveMillimetres", .minimum = 0.0, .maximum = 1000.0, .unit = L"mm"};

// The projection's cage as the mask volumes' (a turn past a whole one points as one within it).
inline constexpr NumberFieldRule kCageCentreRule{.name = L"projection.cage.center",
    .minimum = -kLargestPlacedMillimetres, .maximum = kLargestPlacedMillimetres, .unit = L"mm"};
inline constexpr NumberFieldRule kCageTurnRule{
    .name = L"projection.cage.rotationDegrees", .minimum = -360.0, .maximum = 360.0, .unit = L"degrees"};
// A fit never makes a side below a hundredth of a millimetre.
inline constexpr NumberFieldRule kCageSizeRule{
    .name = L"projection.cage.size", .minimum = 0.01, .maximum = kLargestPlacedMillimetres, .unit = L"mm"};
inline constexpr NumberFieldRule kProjectionAxisRule{.name = L"axis", .minimum = 0.0, .maximum = 2.0};
inline constexpr NumberFieldRule kSeamRule{.name = L"projection.cylinder.seamDegrees",
    .minimum = -kLargestTurnDegrees, .maximum = kLargestTurnDegrees, .unit = L"degrees"};
inline constexpr NumberFieldRule kActiveLayerRule{
    .name = L"projection.activeLayer", .minimum = -1.0, .maximum = grainforge::mesh::kBoxSideCount - 1};
// A layer's values, named by the layer's key ("projection.layer.px.zoom"). A fit centres a tile
// that does not repeat on the cage: its origin lies half the zoomed tile out.
inline constexpr NumberFieldRule kLayerOriginRule{.name = L"originMillimetres",
    .minimum = -kLargestPlacedMillimetres, .maximum = kLargestPlacedMillimetres, .unit = L"mm"};
inline constexpr NumberFieldRule kLayerTurnRule{.name = L"rotationDegrees", .minimum = -kLargestTurnDegrees,
    .maximum = kLargestTurnDegrees, .unit = L"degrees"};
// 0 and below count as no zoom at all: the default is nearest.
inline constexpr NumberFieldRule kLayerZoomRule{
    .name = L"zoom", .minimum = kSmallestLayerZoom, .maximum = kLargestLayerZoom, .positiveOnly = true};
// One of the six layers' images.
inline constexpr NumberFieldRule kLayerImageRule{
    .name = L"image", .minimum = 0.0, .maximum = grainforge::mesh::kBoxSideCount - 1};

inline constexpr NumberFieldRule kTextureOffsetRule{.name = L"texture.settings.offsetMillimetres",
    .minimum = -kLargestOffsetMillimetres, .maximum = kLargestOffsetMillimetres, .unit = L"mm"};
inline constexpr NumberFieldRule kTextureTurnRule{.name = L"texture.settings.rotationDegrees",
    .minimum = -kLargestTurnDegrees, .maximum = kLargestTurnDegrees, .unit = L"degrees"};
// The tile as stored, which the zoom brings to a size the tile fields take.
inline constexpr NumberFieldRule kStoredTileWidthRule{.name = L"Tile width",
    .minimum = grainforge::mesh::kSmallestStoredTileMillimetres,
    .maximum = grainforge::mesh::kLargestStoredTileMillimetres, .unit = L"mm"};
inline constexpr NumberFieldRule kStoredTileHeightRule{.name = L"Tile height",
    .minimum = grainforge::mesh::kSmallestStoredTileMillimetres,
    .maximum = grainforge::mesh::kLargestStoredTileMillimetres, .unit = L"mm"};

// The part's placement: a turn (its rows' entries) and a move.
inline constexpr NumberFieldRule kPlacementTurnRule{.name = L"part.orientation",
    .minimum = -1.0 - kPlacementTurnTolerance, .maximum = 1.0 + kPlacementTurnTolerance};
inline constexpr NumberFieldRule kPlacementMoveRule{.name = L"part.orientation.translation",
    .minimum = -kLargestPlacedMillimetres, .maximum = kLargestPlacedMillimetres, .unit = L"mm"};

}  // namespace grainforge::app
