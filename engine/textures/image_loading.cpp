#include "engine/textures/image_loading.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/textures/image_loading_detail.h"
#include "platform/image_decoder.h"

#include <cmath>
#include <memory>
#include <new>

namespace grainforge::mesh {

namespace {

using platform::ImageChannels;
using platform::ImageDecodeStatus;
using platform::ImageSampleType;

constexpr const char* kOpenFailed =
    "The file could not be opened as an image. It may be missing, in a format this program does not read, or damaged.";
constexpr const char* kNotRegularFile =
    "The file is not a regular file (it is a folder, a pipe or a device), so it was not read as an image.";
constexpr const char* kNoFrame = "The image contains no readable frame.";
constexpr const char* kNoSize = "The image has no size.";
constexpr const char* kTooLarge = "The image is larger than 16384 pixels on a side.";
constexpr const char* kNotConvertible = "The image could not be converted to a form we can read.";
constexpr const char* kPixelsUnreadable = "The image pixels could not be read.";

constexpr const char* kNormalMapWarning =
    "This looks like a normal map (mostly blue, red and green centred). A normal map is the surface's slope, not "
    "its height; it can be converted.";
constexpr const char* kJpegWarning =
    "JPEG is lossy. Its compression adds ripples around edges that become real bumps in the printed surface; PNG "
    "or TIFF keeps the original values.";
constexpr const char* kEightBitWarning =
    "Eight bits per channel gives 256 height steps, which can show as visible terracing in a smooth gradient. A "
    "sixteen-bit image avoids it.";
constexpr const char* kColourWarning = "The image has colour, which was converted to luminance.";

// 1 / 65535 as the float the samples are scaled by.
constexpr float kSampleScale = 1.5259022e-5f;

struct ChannelClass {
    std::int32_t bitsPerChannel = 8;
    bool colour = true;
};

// Bit depth and colour of the file's pixel format. The classes are those of the native
// formats an imaging library reports: grey at 8, 16 or 32 (float) bits is grey; 16-bit RGB,
// RGBA and grey with alpha (which such libraries widen to RGBA) are 16 bits with colour;
// float RGB and RGBA are 32 bits with colour. Every other format (palettes, grey below 8
// bits, 8-bit RGB, CMYK) counts as 8 bits with colour.
ChannelClass ClassifyPixelFormat(const platform::ImagePixelFormat& format)
{
    const bool grey = format.channels == ImageChannels::Grey;
    const bool rgbLike = format.channels == ImageChannels::GreyAlpha || format.channels == ImageChannels::Rgb ||
                         format.channels == ImageChannels::Rgba;
    const bool floating = format.sampleType == ImageSampleType::Float;
    if (floating && format.bitsPerSample == 32 && (grey || rgbLike))
        return {32, rgbLike};
    if (!floating && format.bitsPerSample == 16 && (grey || rgbLike))
        return {16, rgbLike};
    if (!floating && format.bitsPerSample == 8 && grey)
        return {8, false};
    return {8, true};
}

const char* ContainerName(platform::ImageContainer container)
{
    switch (container) {
    case platform::ImageContainer::Png: return "PNG";
    case platform::ImageContainer::Jpeg: return "JPEG";
    case platform::ImageContainer::Tiff: return "TIFF";
    case platform::ImageContainer::Bmp: return "BMP";
    case platform::ImageContainer::Gif: return "GIF";
    }
    return "Image";
}

ImageLoadResult Refuse(ImageLoadResult result, const char* reason)
{
    result.ok = false;
    result.error = reason;
    return result;
}

// Linear value of every 16-bit sample after sRGB decoding.
std::vector<float> MakeSrgbDecodeTable()
{
    std::vector<float> table(65536);
    for (std::size_t s = 0; s < table.size(); ++s) {
        const float c = static_cast<float>(s) * kSampleScale;
        table[s] = c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
    }
    return table;
}

// Heights from the 16-bit RGBA samples: luminance for colour, red for grey.
void ComputeHeights(const std::uint16_t* rgba, const std::vector<float>* decode, bool colour,
                    std::vector<float>& heights)
{
    const auto value = [decode](std::uint16_t sample) {
        return decode != nullptr ? (*decode)[sample] : static_cast<float>(sample) * kSampleScale;
    };
    ParallelFor(heights.size(), [&](std::size_t i) {
        const std::uint16_t* p = rgba + 4 * i;
        const float r = value(p[0]);
        heights[i] = colour ? 0.2126f * r + 0.7152f * value(p[1]) + 0.0722f * value(p[2]) : r;
    }, 1 << 16);
}

// The normal-map test over the (decoded) channels: mostly blue, red and green centred, and
// blue nearly constant. Sums run in pixel order on one thread, so the verdict never depends
// on the thread count.
bool LooksLikeNormalMap(const std::uint16_t* rgba, std::size_t count, const std::vector<float>* decode)
{
    if (count == 0)
        return false;
    const auto value = [decode](std::uint16_t sample) {
        return decode != nullptr ? (*decode)[sample] : static_cast<float>(sample) * kSampleScale;
    };
    double sumR = 0.0;
    double sumG = 0.0;
    double sumB = 0.0;
    double sumBB = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t* p = rgba + 4 * i;
        const double b = value(p[2]);
        sumR += value(p[0]);
        sumG += value(p[1]);
        sumB += b;
        sumBB += b * b;
    }
    const double n = static_cast<double>(count);
    const double meanR = sumR / n;
    const double meanG = sumG / n;
    const double meanB = sumB / n;
    const double blueVariance = sumBB / n - meanB * meanB;
    return meanB > 0.72 && std::fabs(meanR - 0.5) < 0.12 && std::fabs(meanG - 0.5) < 0.12 && blueVariance < 0.02;
}

std::vector<float> RawRgb(const std::uint16_t* rgba, std::size_t count)
{
    std::vector<float> rgb(count * 3);
    ParallelFor(count, [&](std::size_t i) {
        for (int c = 0; c < 3; ++c)
            rgb[3 * i + c] = static_cast<float>(rgba[4 * i + c]) * kSampleScale;
    }, 1 << 16);
    return rgb;
}

void AddWarnings(ImageLoadResult& result)
{
    if (result.looksLikeNormalMap)
        result.warnings.emplace_back(kNormalMapWarning);
    if (result.formatName == "JPEG")
        result.warnings.emplace_back(kJpegWarning);
    if (result.bitsPerChannel <= 8)
        result.warnings.emplace_back(kEightBitWarning);
    if (result.colour)
        result.warnings.emplace_back(kColourWarning);
}

// Steps after a successful read of the pixels: values, heights, the normal-map test and the
// warnings.
void ConvertPixels(const std::uint16_t* rgba, const ImageLoadOptions& options, ImageLoadResult& result)
{
    result.decodedFromSrgb = options.srgbMode == 1 || (options.srgbMode == 2 && result.bitsPerChannel <= 8);
    const std::size_t count = static_cast<std::size_t>(result.width) * static_cast<std::size_t>(result.height);
    const std::vector<float> table = result.decodedFromSrgb ? MakeSrgbDecodeTable() : std::vector<float>{};
    const std::vector<float>* decode = result.decodedFromSrgb ? &table : nullptr;
    result.heights.resize(count);
    ComputeHeights(rgba, decode, result.colour, result.heights);
    if (result.colour && LooksLikeNormalMap(rgba, count, decode)) {
        result.looksLikeNormalMap = true;
        result.normalRgb = RawRgb(rgba, count);
    }
    AddWarnings(result);
}

// The reading steps once the decoder has opened (or failed to open) the file.
ImageLoadResult LoadFromDecoder(platform::ImageDecoder& decoder, ImageDecodeStatus opened,
                                const ImageLoadOptions& options)
{
    ImageLoadResult result;
    if (opened == ImageDecodeStatus::NotReadable)
        return Refuse(std::move(result), kOpenFailed);
    if (opened == ImageDecodeStatus::NotRegularFile)
        return Refuse(std::move(result), kNotRegularFile);
    const platform::ImageHeader& header = decoder.Header();
    result.formatName = ContainerName(header.container);
    if (opened != ImageDecodeStatus::Ok)
        return Refuse(std::move(result), kNoFrame);
    if (header.width == 0 || header.height == 0)
        return Refuse(std::move(result), kNoSize);
    if (header.width > static_cast<std::uint32_t>(kMaxImageSide) || header.height > static_cast<std::uint32_t>(kMaxImageSide))
        return Refuse(std::move(result), kTooLarge);
    const ChannelClass channelClass = ClassifyPixelFormat(header.pixelFormat);
    result.bitsPerChannel = channelClass.bitsPerChannel;
    result.colour = channelClass.colour;
    if (!header.convertible)
        return Refuse(std::move(result), kNotConvertible);

    // Left uninitialised: the decoder writes every sample, and untouched pages cost nothing
    // when a damaged file stops early.
    const std::size_t samples = std::size_t{header.width} * header.height * 4;
    std::unique_ptr<std::uint16_t[]> rgba(new (std::nothrow) std::uint16_t[samples]);
    if (!rgba)
        return Refuse(std::move(result), kPixelsUnreadable);
    const ImageDecodeStatus read = decoder.ReadRgba16({rgba.get(), samples});
    if (read == ImageDecodeStatus::Unconvertible)
        return Refuse(std::move(result), kNotConvertible);
    if (read != ImageDecodeStatus::Ok)
        return Refuse(std::move(result), kPixelsUnreadable);

    result.width = static_cast<std::int32_t>(header.width);
    result.height = static_cast<std::int32_t>(header.height);
    ConvertPixels(rgba.get(), options, result);
    result.ok = true;
    return result;
}

// Out of memory while converting is reported as unreadable pixels, with nothing kept.
template <class Open>
ImageLoadResult ReadGuarded(Open open, const ImageLoadOptions& options)
{
    try {
        platform::ImageDecoder decoder;
        const ImageDecodeStatus opened = open(decoder);
        return LoadFromDecoder(decoder, opened, options);
    } catch (const std::bad_alloc&) {
        return Refuse(ImageLoadResult{}, kPixelsUnreadable);
    }
}

}  // namespace

ImageLoadResult ReadHeightImage(const std::filesystem::path& path, const ImageLoadOptions& options)
{
    return ReadGuarded([&](platform::ImageDecoder& decoder) { return decoder.OpenFile(path); }, options);
}

namespace detail {

ImageLoadResult ReadHeightImageFromMemory(std::span<const std::uint8_t> bytes, const ImageLoadOptions& options)
{
    return ReadGuarded([&](platform::ImageDecoder& decoder) { return decoder.OpenMemory(bytes); }, options);
}

}  // namespace detail

std::string LogHeightMapLoad(const ImageLoadResult& result)
{
    if (!result.ok)
        return "Height map failed to load: " + result.error + "\n";
    std::string text = "Height map: " + result.formatName + " " + std::to_string(result.width) + " x " +
                       std::to_string(result.height) + " pixels, " + std::to_string(result.bitsPerChannel) +
                       " bits per channel\n";
    text += result.colour ? "Source: colour, converted to luminance\n" : "Source: greyscale\n";
    text += result.decodedFromSrgb ? "Values: decoded from sRGB to linear\n" : "Values: taken as linear\n";
    for (const std::string& warning : result.warnings)
        text += "Warning: " + warning + "\n";
    return text;
}

}  // namespace grainforge::mesh
