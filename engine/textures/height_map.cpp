#include "engine/textures/height_map.h"

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace grainforge::mesh {

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kMinLevelSpan = 0.000001f;
constexpr float kMinAutoLevelSpan = 0.0001f;
constexpr float kAutoLevelLow = 0.01f;
constexpr float kAutoLevelHigh = 0.99f;
constexpr int kBlurRounds = 2;
constexpr std::size_t kPixelsPerBlock = 16384;
constexpr std::size_t kColumnsPerBlock = 256;
// Selection: below this many values nth_element alone is quick enough.
constexpr std::size_t kSelectionNarrowingMinimum = std::size_t{1} << 20;
constexpr std::size_t kSelectionBlock = std::size_t{1} << 20;
constexpr std::size_t kSelectionMaxBlocks = 64;  // bounds the counting tables at 16 MiB
constexpr unsigned kSelectionShift = 16;         // buckets by sign, exponent and 7 mantissa bits
constexpr std::size_t kSelectionBuckets = std::size_t{1} << (32 - kSelectionShift);

struct WrapName {
    std::int32_t value;
    const char* name;
};
constexpr WrapName kWrapNames[] = {
    {static_cast<std::int32_t>(WrapMode::Repeat), "repeat"},
    {static_cast<std::int32_t>(WrapMode::Mirror), "mirror"},
    {static_cast<std::int32_t>(WrapMode::Clamp), "clamp"},
};

// The same addressing on a whole-numbered double, so any finite coordinate is reduced before
// it becomes an integer. For positions within the 64-bit range it agrees with WrapPosition.
std::int64_t WrapCoordinate(double position, std::int64_t count, std::int32_t wrap)
{
    const double n = static_cast<double>(count);
    if (position >= 0.0 && position < n)  // inside the image: every mode reads it as it is
        return static_cast<std::int64_t>(position);
    if (wrap == static_cast<std::int32_t>(WrapMode::Clamp))
        return static_cast<std::int64_t>(std::clamp(position, 0.0, n - 1.0));
    if (wrap == static_cast<std::int32_t>(WrapMode::Mirror)) {
        double m = std::fmod(position, 2.0 * n);
        if (m < 0.0)
            m += 2.0 * n;
        if (m >= n)
            m = 2.0 * n - m - 1.0;
        return static_cast<std::int64_t>(m);
    }
    double m = std::fmod(position, n);
    if (m < 0.0)
        m += n;
    return static_cast<std::int64_t>(m);
}

// Which pixel each position -radius .. count + radius of a line reads, shared by all lines.
std::vector<std::size_t> WrapTable(std::int64_t count, std::int64_t radius, std::int32_t wrap)
{
    std::vector<std::size_t> table(static_cast<std::size_t>(count + 2 * radius + 1));
    for (std::int64_t p = -radius; p <= count + radius; ++p)
        table[static_cast<std::size_t>(p + radius)] = static_cast<std::size_t>(WrapPosition(p, count, wrap));
    return table;
}

// The rounded box radius in pixels, at most the line length: a wider box would only add
// whole copies of the line; 0 means the pass does nothing.
std::int64_t BoxRadius(float radius, std::int64_t length)
{
    if (!(radius >= 0.5f))
        return 0;
    const double rounded = std::round(static_cast<double>(radius));
    return static_cast<std::int64_t>(std::min(rounded, static_cast<double>(length)));
}

// One box pass along every row: a running sum of the 2R + 1 pixels around each position,
// dropping the pixel at i - R and taking the one at i + R + 1 as it moves on. The sum is kept
// in double: in float its rounding errors pile up along a row of thousands of pixels. `in`
// may be `out`: each row is then read from a copy of its own, so the pass takes a row of
// memory rather than an image.
void BoxBlurRows(const float* in, float* out, std::size_t width, std::size_t height, std::int64_t radius,
                 std::int32_t wrap)
{
    const std::vector<std::size_t> table = WrapTable(static_cast<std::int64_t>(width), radius, wrap);
    const std::size_t window = static_cast<std::size_t>(2 * radius + 1);
    const double scale = 1.0 / static_cast<double>(window);
    const std::size_t rowsPerBlock = std::max<std::size_t>(1, kPixelsPerBlock / width);
    const bool inPlace = in == out;
    ParallelForBlocks(height, rowsPerBlock, [&](std::size_t begin, std::size_t end) {
        std::vector<float> line(inPlace ? width : 0);
        for (std::size_t y = begin; y < end; ++y) {
            const float* row = in + y * width;
            if (inPlace) {
                std::copy(row, row + width, line.begin());
                row = line.data();
            }
            float* target = out + y * width;
            double sum = 0.0;
            for (std::size_t k = 0; k < window; ++k)
                sum += row[table[k]];
            for (std::size_t i = 0; i < width; ++i) {
                target[i] = static_cast<float>(sum * scale);
                sum = sum - row[table[i]];
                sum = sum + row[table[i + window]];
            }
        }
    });
}

// The same along every column; columns go in blocks, walked row by row for the cache, each
// column keeping its own running sum so the arithmetic is the column-wise pass's. In place,
// a block's columns are read from a copy of their own.
void BoxBlurColumns(const float* in, float* out, std::size_t width, std::size_t height, std::int64_t radius,
                    std::int32_t wrap)
{
    const std::vector<std::size_t> table = WrapTable(static_cast<std::int64_t>(height), radius, wrap);
    const std::size_t window = static_cast<std::size_t>(2 * radius + 1);
    const double scale = 1.0 / static_cast<double>(window);
    const bool inPlace = in == out;
    ParallelForBlocks(width, kColumnsPerBlock, [&](std::size_t begin, std::size_t end) {
        const std::size_t columns = end - begin;
        const float* source = in + begin;
        std::size_t stride = width;
        std::vector<float> copy;
        if (inPlace) {
            copy.resize(columns * height);
            for (std::size_t r = 0; r < height; ++r)
                std::copy(in + r * width + begin, in + r * width + end, copy.begin() + static_cast<std::ptrdiff_t>(r * columns));
            source = copy.data();
            stride = columns;
        }
        std::vector<double> sums(columns, 0.0);
        for (std::size_t k = 0; k < window; ++k) {
            const float* row = source + table[k] * stride;
            for (std::size_t c = 0; c < columns; ++c)
                sums[c] += row[c];
        }
        for (std::size_t i = 0; i < height; ++i) {
            const float* leaving = source + table[i] * stride;
            const float* entering = source + table[i + window] * stride;
            float* target = out + i * width + begin;
            for (std::size_t c = 0; c < columns; ++c) {
                target[c] = static_cast<float>(sums[c] * scale);
                sums[c] = sums[c] - leaving[c];
                sums[c] = sums[c] + entering[c];
            }
        }
    });
}

// An unsigned key that orders like the float (negative zero just below positive zero), with
// every NaN above every number.
std::uint32_t OrderedKey(float value)
{
    if (std::isnan(value))
        return 0xFFFFFFFFu;
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    return (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
}

// The k-th smallest of a short list, NaN counted above every number: on a copy, numbers
// partitioned from NaN (which would break nth_element's ordering), then nth_element.
float SelectByCopy(const std::vector<float>& values, std::size_t k)
{
    std::vector<float> copy = values;
    const auto numbers = std::partition(copy.begin(), copy.end(), [](float v) { return !std::isnan(v); });
    if (k >= static_cast<std::size_t>(numbers - copy.begin()))
        return std::numeric_limits<float>::quiet_NaN();
    std::nth_element(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(k), numbers);
    return copy[k];
}

// The k-th smallest of a long list without copying it: a parallel count of the values by the
// top bits of their key finds the one bucket that holds rank k, and only that bucket's values
// are gathered and put through nth_element. Finds the value a selection over the whole list
// finds.
float SelectByBuckets(const std::vector<float>& values, std::size_t k)
{
    const std::size_t block = std::max(kSelectionBlock, values.size() / kSelectionMaxBlocks + 1);
    const std::size_t blocks = (values.size() + block - 1) / block;
    std::vector<std::uint32_t> counts(blocks * kSelectionBuckets, 0);
    ParallelFor(blocks, [&](std::size_t b) {
        std::uint32_t* histogram = counts.data() + b * kSelectionBuckets;
        const std::size_t end = std::min(values.size(), (b + 1) * block);
        for (std::size_t i = b * block; i < end; ++i)
            ++histogram[OrderedKey(values[i]) >> kSelectionShift];
    }, 1);

    std::size_t below = 0;
    std::uint32_t bucket = 0;
    for (;; ++bucket) {
        std::size_t inBucket = 0;
        for (std::size_t b = 0; b < blocks; ++b)
            inBucket += counts[b * kSelectionBuckets + bucket];
        if (below + inBucket > k)
            break;
        below += inBucket;
    }
    if (bucket == (0xFFFFFFFFu >> kSelectionShift))
        return std::numeric_limits<float>::quiet_NaN();

    // The bucket's values, gathered block by block into their own slots.
    std::vector<std::size_t> start(blocks + 1, 0);
    for (std::size_t b = 0; b < blocks; ++b)
        start[b + 1] = start[b] + counts[b * kSelectionBuckets + bucket];
    std::vector<float> chosen(start[blocks]);
    ParallelFor(blocks, [&](std::size_t b) {
        std::size_t at = start[b];
        const std::size_t end = std::min(values.size(), (b + 1) * block);
        for (std::size_t i = b * block; i < end; ++i) {
            if ((OrderedKey(values[i]) >> kSelectionShift) == bucket)
                chosen[at++] = values[i];
        }
    }, 1);
    const std::size_t rank = k - below;
    std::nth_element(chosen.begin(), chosen.begin() + static_cast<std::ptrdiff_t>(rank), chosen.end());
    return chosen[rank];
}

// Percentile without taking a copy of a long list.
float PercentileOf(const std::vector<float>& values, float fraction)
{
    if (values.empty())
        return 0.0f;
    const float p = fraction > 0.0f ? std::min(fraction, 1.0f) : 0.0f;  // NaN counts as 0
    const std::size_t last = values.size() - 1;
    const std::size_t k = std::min(
        static_cast<std::size_t>(static_cast<double>(last) * static_cast<double>(p) + 0.5), last);
    return values.size() < kSelectionNarrowingMinimum ? SelectByCopy(values, k) : SelectByBuckets(values, k);
}

}  // namespace

std::int64_t WrapPosition(std::int64_t position, std::int64_t count, std::int32_t wrap)
{
    if (wrap == static_cast<std::int32_t>(WrapMode::Clamp))
        return std::clamp<std::int64_t>(position, 0, count - 1);
    if (wrap == static_cast<std::int32_t>(WrapMode::Mirror)) {
        std::int64_t m = position % (2 * count);
        if (m < 0)
            m += 2 * count;
        return m >= count ? 2 * count - m - 1 : m;
    }
    const std::int64_t m = position % count;
    return m < 0 ? m + count : m;
}

TileCoordinates PlacementToTile(const TilePlacement& placement, float x, float y)
{
    x -= placement.offsetX;
    y -= placement.offsetY;
    if (placement.rotationDegrees != 0.0f) {
        const float a = placement.rotationDegrees * kPi / 180.0f;
        const float c = std::cos(a);
        const float s = std::sin(a);
        const float turnedX = c * x + s * y;
        const float turnedY = c * y - s * x;
        x = turnedX;
        y = turnedY;
    }
    const float tileWidth = placement.width == 0.0f ? 1.0f : placement.width;
    const float tileHeight = placement.height == 0.0f ? 1.0f : placement.height;
    return TileCoordinates{x / tileWidth, y / tileHeight};
}

TileCoordinates TextureSettings::ToTile(float x, float y) const
{
    const TilePlacement placement{offsetMillimetres[0], offsetMillimetres[1], rotationDegrees,
                                  widthMillimetres, heightMillimetres};
    return PlacementToTile(placement, x, y);
}

// ---- Pixel images ------------------------------------------------------------------------

PixelImage::PixelImage(std::vector<float> pixels)
    : pixels_(pixels.empty() ? nullptr : std::make_shared<std::vector<float>>(std::move(pixels)))
{
}

const std::vector<float>& PixelImage::Empty() noexcept
{
    static const std::vector<float> empty;
    return empty;
}

std::vector<float>& PixelImage::Mutable()
{
    if (!pixels_) {
        pixels_ = std::make_shared<std::vector<float>>();
    } else if (pixels_.use_count() != 1) {
        pixels_ = std::make_shared<std::vector<float>>(*pixels_);
    } else {
        // The last other owner may have let go on another thread: its reads come before the
        // writes that follow.
        std::atomic_thread_fence(std::memory_order_acquire);
    }
    return *pixels_;
}

// ---- Building the images -----------------------------------------------------------------

namespace {

// With the aspect locked, the tile's height follows its width at the working image's aspect.
void ApplyLockAspect(TextureSettings& settings, std::int32_t width, std::int32_t height)
{
    if (!settings.lockAspect || width <= 0 || height <= 0)
        return;
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    if (aspect > 0.0f)
        settings.heightMillimetres = settings.widthMillimetres / aspect;
}

}  // namespace

void HeightMap::SetImage(std::int32_t imageWidth, std::int32_t imageHeight, std::vector<float> pixels)
{
    hasMidValue = false;
    if (imageWidth < 1 || imageHeight < 1 ||
        pixels.size() != static_cast<std::uint64_t>(imageWidth) * static_cast<std::uint64_t>(imageHeight)) {
        width = height = sourceWidth = sourceHeight = 0;
        source.clear();
        seamless.clear();
        blurred.clear();
        return;
    }
    sourceWidth = imageWidth;
    sourceHeight = imageHeight;
    source = std::move(pixels);
    ApplySeamless();
    ApplyLockAspect(settings, width, height);
    AutoLevels();
    Blur();
}

void HeightMap::ApplySettings(const TextureSettings& newSettings)
{
    const TextureSettings old = settings;
    settings = newSettings;
    const bool seamlessChanged = settings.seamlessMethod != old.seamlessMethod ||
                                 settings.seamlessParameters != old.seamlessParameters;
    if (seamlessChanged)
        ApplySeamless();
    ApplyLockAspect(settings, width, height);
    AutoLevels();
    if (seamlessChanged || settings.blurMillimetres != old.blurMillimetres ||
        settings.widthMillimetres != old.widthMillimetres ||
        settings.heightMillimetres != old.heightMillimetres || settings.wrap != old.wrap)
        Blur();
}

void HeightMap::ApplySeamless()
{
    seamlessReport = seamless::SeamlessReport();
    if (source.empty()) {
        seamless.clear();
        width = height = 0;
        return;
    }
    const std::unique_ptr<seamless::Method> method = seamless::CreateSeamlessMethod(settings.seamlessMethod);
    if (method && method->ChangesImage()) {
        procedural::ParametersFromText(*method, settings.seamlessParameters);
        std::vector<float> result =
            method->Apply(source.Values(), sourceWidth, sourceHeight, width, height, &seamlessReport);
        // A method that leaves the pixels as they were ("Mirror" flips tiles only as they are
        // sampled) shares the source's rather than keep a second copy of them.
        const bool same = result.size() == source.size() &&
                          std::memcmp(result.data(), source.data(), result.size() * sizeof(float)) == 0;
        if (same)
            seamless = source;
        else
            seamless = std::move(result);
        return;
    }
    seamless = source;
    width = sourceWidth;
    height = sourceHeight;
}

void HeightMap::AutoLevels()
{
    if (!settings.autoLevels || width < 1 || height < 1 || seamless.empty())
        return;
    const float low = PercentileOf(seamless, kAutoLevelLow);
    const float high = PercentileOf(seamless, kAutoLevelHigh);
    if (high - low >= kMinAutoLevelSpan) {
        settings.blackLevel = low;
        settings.whiteLevel = high;
    }
}

void HeightMap::Blur()
{
    blurred = seamless;
    const float radius = std::max(std::max(0.0f, filterMillimetres), settings.blurMillimetres);
    if (width <= 0 || height <= 0 || seamless.empty() || !(radius > 0.0f))
        return;
    const float perMillimetreX =
        settings.widthMillimetres > 0.0f ? static_cast<float>(width) / settings.widthMillimetres : 0.0f;
    const float perMillimetreY =
        settings.heightMillimetres > 0.0f ? static_cast<float>(height) / settings.heightMillimetres : 0.0f;
    const float radiusX = radius * perMillimetreX;
    const float radiusY = radius * perMillimetreY;
    if (!(radiusX > 0.0f) && !(radiusY > 0.0f))
        return;

    const std::size_t columns = static_cast<std::size_t>(width);
    const std::size_t rows = static_cast<std::size_t>(height);
    const std::int64_t boxX = BoxRadius(radiusX, width);
    const std::int64_t boxY = BoxRadius(radiusY, height);
    // The first pass reads the seamless image and writes the blurred one; the later passes
    // blur that in place, a line at a time, so the blur takes one image beside the seamless
    // one. Until a pass ran, the blurred image stays the seamless one.
    std::vector<float> result;
    const auto pass = [&](bool alongRows, std::int64_t box) {
        const float* in = result.empty() ? seamless.data() : result.data();
        if (result.empty())
            result.resize(seamless.size());
        if (alongRows)
            BoxBlurRows(in, result.data(), columns, rows, box, settings.wrap);
        else
            BoxBlurColumns(in, result.data(), columns, rows, box, settings.wrap);
    };
    for (int round = 0; round < kBlurRounds; ++round) {
        if (boxX > 0)
            pass(true, boxX);
        if (boxY > 0)
            pass(false, boxY);
    }
    if (!result.empty())
        blurred = std::move(result);
}

// ---- Levels and sampling -----------------------------------------------------------------

float HeightMap::LevelValue(float value) const
{
    const float black = settings.blackLevel;
    const float white = settings.whiteLevel;
    float t;
    if (std::fabs(white - black) > kMinLevelSpan)
        t = (value - black) / (white - black);
    else
        t = value >= white ? 1.0f : 0.0f;
    t = t > 0.0f ? std::min(t, 1.0f) : 0.0f;  // NaN lands on 0
    if (settings.gamma > 0.0f && settings.gamma != 1.0f)
        t = std::pow(t, settings.gamma);
    const float out = settings.outputBlackLevel + (settings.outputWhiteLevel - settings.outputBlackLevel) * t;
    return settings.invert ? 1.0f - out : out;
}

float HeightMap::LevelledPercentile(float fraction) const
{
    const std::vector<float>& image = blurred.Values();
    std::vector<float> levelled(image.size());
    ParallelForBlocks(image.size(), kPixelsPerBlock, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i)
            levelled[i] = LevelValue(image[i]);
    });
    return PercentileOf(levelled, fraction);
}

float HeightMap::SampleBilinearWrapped(float u, float v) const
{
    const std::uint64_t count = static_cast<std::uint64_t>(std::max(width, 0)) *
                                static_cast<std::uint64_t>(std::max(height, 0));
    const std::vector<float>& image = blurred.Values();
    if (width < 1 || height < 1 || seamless.empty() || image.size() != count)
        return 0.0f;
    const float x = static_cast<float>(width) * u - 0.5f;
    const float y = static_cast<float>(height) * v - 0.5f;
    if (!std::isfinite(x) || !std::isfinite(y))
        return 0.0f;
    const float x0 = std::floor(x);
    const float y0 = std::floor(y);
    const float fx = x - x0;
    const float fy = y - y0;
    const std::int32_t wrap = settings.wrap;
    const auto c0 = static_cast<std::size_t>(WrapCoordinate(x0, width, wrap));
    const auto c1 = static_cast<std::size_t>(WrapCoordinate(static_cast<double>(x0) + 1.0, width, wrap));
    const std::size_t stride = static_cast<std::size_t>(width);
    const std::size_t r0 = static_cast<std::size_t>(WrapCoordinate(y0, height, wrap)) * stride;
    const std::size_t r1 = static_cast<std::size_t>(WrapCoordinate(static_cast<double>(y0) + 1.0, height, wrap)) * stride;
    const float top = (1.0f - fx) * image[r0 + c0] + fx * image[r0 + c1];
    const float bottom = (1.0f - fx) * image[r1 + c0] + fx * image[r1 + c1];
    return (1.0f - fy) * top + fy * bottom;
}

float Percentile(std::vector<float> values, float fraction)
{
    return PercentileOf(values, fraction);
}

// ---- JSON --------------------------------------------------------------------------------

void WriteTextureSettingsJson(const JsonNode& node, const TextureSettings& settings)
{
    SetJsonPathFloat(node, "widthMillimetres", settings.widthMillimetres);
    SetJsonPathFloat(node, "heightMillimetres", settings.heightMillimetres);
    SetJsonPathBool(node, "lockAspect", settings.lockAspect);
    SetJsonPathBool(node, "tiles", settings.tiles);
    const auto name = std::find_if(std::begin(kWrapNames), std::end(kWrapNames),
                                   [&](const WrapName& entry) { return entry.value == settings.wrap; });
    if (name != std::end(kWrapNames))
        SetJsonPathString(node, "wrap", name->name);
    else
        SetJsonPathInteger(node, "wrap", settings.wrap);
    SetJsonPathVec2(node, "offsetMillimetres", settings.offsetMillimetres[0], settings.offsetMillimetres[1]);
    SetJsonPathFloat(node, "rotationDegrees", settings.rotationDegrees);
    SetJsonPathFloat(node, "blackLevel", settings.blackLevel);
    SetJsonPathFloat(node, "whiteLevel", settings.whiteLevel);
    SetJsonPathBool(node, "autoLevels", settings.autoLevels);
    SetJsonPathFloat(node, "gamma", settings.gamma);
    SetJsonPathFloat(node, "outputBlackLevel", settings.outputBlackLevel);
    SetJsonPathFloat(node, "outputWhiteLevel", settings.outputWhiteLevel);
    SetJsonPathBool(node, "invert", settings.invert);
    SetJsonPathFloat(node, "blurMillimetres", settings.blurMillimetres);
    SetJsonPathString(node, "seamlessMethod", settings.seamlessMethod);
    SetJsonPathString(node, "seamlessParameters", settings.seamlessParameters);
}

void ReadTextureSettingsJson(const JsonView& view, TextureSettings& settings)
{
    for (const auto& [key, size] : {std::pair{"widthMillimetres", &settings.widthMillimetres},
                                    std::pair{"heightMillimetres", &settings.heightMillimetres}}) {
        float stored = *size;
        if (GetJsonPathFloat(view, key, stored) && stored >= kSmallestStoredTileMillimetres &&
            stored <= kLargestStoredTileMillimetres)
            *size = stored;
    }
    GetJsonPathBool(view, "lockAspect", settings.lockAspect);
    GetJsonPathBool(view, "tiles", settings.tiles);
    std::string wrapName;
    if (GetJsonPathString(view, "wrap", wrapName)) {
        for (const WrapName& entry : kWrapNames) {
            if (wrapName == entry.name)
                settings.wrap = entry.value;
        }
    }
    GetJsonPathVec2(view, "offsetMillimetres", settings.offsetMillimetres[0], settings.offsetMillimetres[1]);
    GetJsonPathFloat(view, "rotationDegrees", settings.rotationDegrees);
    GetJsonPathFloat(view, "blackLevel", settings.blackLevel);
    GetJsonPathFloat(view, "whiteLevel", settings.whiteLevel);
    GetJsonPathBool(view, "autoLevels", settings.autoLevels);
    GetJsonPathFloat(view, "gamma", settings.gamma);
    GetJsonPathFloat(view, "outputBlackLevel", settings.outputBlackLevel);
    GetJsonPathFloat(view, "outputWhiteLevel", settings.outputWhiteLevel);
    GetJsonPathBool(view, "invert", settings.invert);
    GetJsonPathFloat(view, "blurMillimetres", settings.blurMillimetres);
    GetJsonPathString(view, "seamlessMethod", settings.seamlessMethod);
    GetJsonPathString(view, "seamlessParameters", settings.seamlessParameters);
    settings.seamlessMethod = seamless::CanonicalSeamlessMethodName(settings.seamlessMethod);
}

}  // namespace grainforge::mesh
