// The height map: the texture as the engine uses it. A grey image of heights (nominally 0 to
// 1), the settings that place it on the part and shape its levels, and the images derived from
// them: the image after the seamless step and that image blurred. Displacement maps a surface
// point in millimetres to tile coordinates (TextureSettings::ToTile), samples the blurred
// image (HeightMap::SampleBilinearWrapped) and passes the sample through the levels
// (HeightMap::LevelValue). The levels are never baked into the stored images.
//
// Any settings values are safe: non-finite or huge sizes, offsets, rotations and radii give
// defined results (a non-finite tile coordinate samples 0; a blur radius beyond the image is
// limited to its size). Nothing here throws except on allocation failure.
#pragma once

#include "engine/files/json_settings.h"
#include "engine/textures/seamless_method.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::mesh {

// How pixels beyond the image edge are addressed; stored in TextureSettings::wrap as an
// integer, where any other value behaves as repeat.
enum class WrapMode : std::int32_t {
    Repeat = 0,
    Mirror = 1,  // every other tile flipped; the edge pixel repeats at the fold
    Clamp = 2,   // the nearest edge pixel
};

struct TileCoordinates {
    float u = 0.0f;  // to the right, 0..1 across one tile
    float v = 0.0f;  // upwards
};

// Where a tile lies on a flat surface.
struct TilePlacement {
    float offsetX = 0.0f;  // tile origin offset, millimetres
    float offsetY = 0.0f;
    float rotationDegrees = 0.0f;
    float width = 30.0f;   // tile size, millimetres; 0 counts as 1
    float height = 30.0f;
};

// Tile coordinates of the point (x, y) in millimetres: the offset removed, turned by minus the
// rotation, divided by the tile size.
TileCoordinates PlacementToTile(const TilePlacement& placement, float x, float y);

// The tile sizes a texture is laid at on a part: below a tenth of a millimetre no printer
// shows the relief, and beyond ten metres every point of a part samples one texel. A stored
// size is the tile before its side's zoom (0.05 to 20), so what a file may hold is wider.
inline constexpr float kSmallestTileMillimetres = 0.1f;
inline constexpr float kLargestTileMillimetres = 10000.0f;
inline constexpr float kSmallestStoredTileMillimetres = kSmallestTileMillimetres / 20.0f;
inline constexpr float kLargestStoredTileMillimetres = kLargestTileMillimetres / 0.05f;

struct TextureSettings {
    float widthMillimetres = 30.0f;   // tile width on the part
    float heightMillimetres = 30.0f;  // tile height; recomputed from the width when lockAspect
    bool lockAspect = true;           // keep the tile at the image's aspect
    bool tiles = true;                // the texture repeats over the surface; the document
                                      // derives `wrap` from it and the seamless method
    std::int32_t wrap = 0;            // a WrapMode value
    float offsetMillimetres[2] = {0.0f, 0.0f};  // tile origin offset (x, y)
    float rotationDegrees = 0.0f;
    float blackLevel = 0.0f;          // input that maps to the bottom of the output range
    float whiteLevel = 1.0f;          // input that maps to the top
    bool autoLevels = false;          // black and white levels from the 1st and 99th percentiles
    float gamma = 1.0f;               // exponent applied to the normalised value (0 or less: none)
    float outputBlackLevel = 0.0f;
    float outputWhiteLevel = 1.0f;
    bool invert = false;              // output becomes 1 - output
    float blurMillimetres = 0.0f;     // blur radius on the part
    std::string seamlessMethod = "Unchanged";  // display name of the seamless method
    std::string seamlessParameters;            // its parameters in the parameter text form

    // PlacementToTile with these settings' offset, rotation and tile size.
    TileCoordinates ToTile(float x, float y) const;
};

// The pixels of one float image, row by row. Copies share the pixels until one of them takes
// new ones, so that copying a height map (an undo snapshot, the pipeline's copy) and an image
// derived as it was given (no seamless step, no blur) take no pixel memory of their own. It
// reads as a constant std::vector<float>. Shared pixels are never written: new pixels are put
// in whole, and Mutable() takes a copy of its own first while they are shared, so a copy may
// be read on another thread while this one changes.
class PixelImage {
public:
    using value_type = float;
    using size_type = std::size_t;
    using const_iterator = std::vector<float>::const_iterator;
    using iterator = const_iterator;

    PixelImage() = default;
    // Takes the pixels over without copying them.
    PixelImage(std::vector<float> pixels);

    [[nodiscard]] const std::vector<float>& Values() const noexcept { return pixels_ ? *pixels_ : Empty(); }
    operator const std::vector<float>&() const noexcept { return Values(); }

    [[nodiscard]] std::size_t size() const noexcept { return Values().size(); }
    [[nodiscard]] bool empty() const noexcept { return Values().empty(); }
    [[nodiscard]] const float* data() const noexcept { return Values().data(); }
    [[nodiscard]] const_iterator begin() const noexcept { return Values().begin(); }
    [[nodiscard]] const_iterator end() const noexcept { return Values().end(); }
    const float& operator[](std::size_t i) const noexcept { return Values()[i]; }

    void clear() noexcept { pixels_.reset(); }
    // The pixels to change in place; shared ones are copied first.
    [[nodiscard]] std::vector<float>& Mutable();
    // The pixel memory, to tell images that share it (null when empty).
    [[nodiscard]] const void* Storage() const noexcept { return empty() ? nullptr : pixels_.get(); }

    friend bool operator==(const PixelImage& a, const PixelImage& b) { return a.Values() == b.Values(); }
    friend bool operator==(const PixelImage& a, const std::vector<float>& b) { return a.Values() == b; }

private:
    static const std::vector<float>& Empty() noexcept;

    std::shared_ptr<std::vector<float>> pixels_;
};

class HeightMap {
public:
    // Installs a new source image (row by row, first row first) and rebuilds everything: the
    // seamless step, the lock-aspect tile height, auto levels and the blur. A size below 1 or
    // a pixel count other than width x height empties the map instead.
    void SetImage(std::int32_t imageWidth, std::int32_t imageHeight, std::vector<float> pixels);

    // Takes new settings and reruns only what they affect: the seamless step when the method or
    // its parameter text changed; the blur when the seamless step ran or the blur radius, tile
    // size or wrap changed. Levels alone rebuild nothing.
    void ApplySettings(const TextureSettings& newSettings);

    // The rebuild steps, also run on their own (the pipeline blurs again after changing
    // filterMillimetres). The blur runs its lines in parallel.
    void ApplySeamless();
    void Blur();
    void AutoLevels();

    // A raw value through the levels: normalised between black and white, clamped, raised to
    // gamma, mapped to the output range and inverted when asked.
    float LevelValue(float value) const;
    // The fraction-th percentile of the blurred image after the levels.
    float LevelledPercentile(float fraction) const;

    // A raw bilinear sample of the blurred image at tile coordinates (u, v), pixel centres at
    // half-pixel positions, row 0 at v near 0, addressed by the wrap mode. 0 for an empty map
    // or a non-finite coordinate. Only reads; safe from many threads.
    float SampleBilinearWrapped(float u, float v) const;

    std::int32_t width = 0;         // working image, after the seamless step
    std::int32_t height = 0;
    std::int32_t sourceWidth = 0;   // as given to SetImage
    std::int32_t sourceHeight = 0;
    // The three images share their pixels while they are equal: the seamless image is the
    // source when no seamless step changes it, the blurred one the seamless one without a blur.
    PixelImage source;
    PixelImage seamless;            // width x height
    PixelImage blurred;             // seamless after the blur; what sampling reads
    TextureSettings settings;
    seamless::SeamlessReport seamlessReport;  // what the last seamless step did
    float filterMillimetres = 0.0f; // blur radius the pipeline asks for to drop detail finer
                                    // than its triangles
    std::string sourceName;         // file name of the loaded image, set by the document
    float midValue = 0.0f;          // raw height that stands for the rest level
    bool hasMidValue = false;       // cleared by SetImage
};

// The pixel that `position` along a line of `count` pixels (count at least 1) addresses under
// the wrap mode: repeat takes it modulo count; mirror modulo 2 x count, folded back from count
// on with the edge pixel repeated at the fold; clamp the nearest end. Other modes repeat.
std::int64_t WrapPosition(std::int64_t position, std::int64_t count, std::int32_t wrap);

// The fraction-th smallest value (fraction limited to 0..1): index (n - 1) x fraction + 0.5,
// truncated. 0 for an empty list. NaN values count as larger than every number.
float Percentile(std::vector<float> values, float fraction);

// The settings under the given node, by their field names; "wrap" as "repeat", "mirror" or
// "clamp" (a bare integer for any other value), numbers as the shortest float text.
void WriteTextureSettingsJson(const JsonNode& node, const TextureSettings& settings);
// Reads what WriteTextureSettingsJson writes. A field keeps its value when its member is
// missing or of another type: numbers must be JSON numbers a float can hold, the offset an
// array of exactly two of them, "wrap" one of the three names. The seamless method name is
// made canonical, so an unknown name reads back as "Unchanged". A tile size no zoom brings
// within the tile sizes above (1e-30 mm, say) keeps its value as well.
void ReadTextureSettingsJson(const JsonView& view, TextureSettings& settings);

}  // namespace grainforge::mesh
