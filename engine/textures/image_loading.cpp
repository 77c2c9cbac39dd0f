#include "engine/textures/image_loading.h"
#include "engine/mesh/report_text.h"

#include "engine/textures/image_loading_detail.h"
#include "platform/file_system.h"
#include "platform/image_decoder.h"
#include "platform/system_error.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <utility>

namespace grainforge::mesh {

namespace {

using platform::ImageChannels;
using platform::ImageDecodeStatus;
using platform::ImageSampleType;

constexpr const char* kOpenFailed =
    "The file could not be opened as an image. It may be missing, in a format this program does not read, or damaged.";
constexpr const char* kNotRegularFile =
    "The file is not a regular file (it is a folder, a pipe or a device), so it was not read as an image.";
constexpr const char* kNotFound = "The file was not found.";
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
// float RGB and RGBA are 32 bits with colour. Grey below 8 bits (and a palette of greys, which
// the decoders report as grey) is 8-bit grey: it holds no colour to convert. Every other format
// (colour palettes, 8-bit RGB, CMYK) counts as 8 bits with colour.
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
    if (!floating && format.bitsPerSample <= 8 && grey)
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

ImageLoadResult Refuse(ImageLoadResult result, std::string reason)
{
    result.ok = false;
    result.error = std::move(reason);
    result.width = 0;
    result.height = 0;
    result.heights.clear();
    result.looksLikeNormalMap = false;
    result.normalRgb.clear();
    return result;
}

std::string WithThousands(std::uint64_t value)
{
    return FormatCountGrouped(value);
}

std::string TooManyPixelsReason(std::uint32_t width, std::uint32_t height)
{
    const std::string side = WithThousands(kMaxHeightMapSquareSide);
    return "The image is " + WithThousands(width) + " x " + WithThousands(height) +
           " pixels; the largest height map this program uses is " + side + " x " + side + " (" +
           WithThousands(kMaxHeightMapPixels) + " pixels).";
}

// The value of each 16-bit sample: decoded from sRGB through a table, or scaled as it is.
class SampleValues {
public:
    explicit SampleValues(bool decodeSrgb)
    {
        if (!decodeSrgb)
            return;
        table_.resize(65536);
        for (std::size_t s = 0; s < table_.size(); ++s) {
            const float c = static_cast<float>(s) * kSampleScale;
            table_[s] = c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
        }
    }
    float operator()(std::uint16_t sample) const
    {
        return table_.empty() ? static_cast<float>(sample) * kSampleScale : table_[sample];
    }

private:
    std::vector<float> table_;
};

// The header's checks in order, filling the format name, bit depth and colour as far as they
// got; on passing, the size and the sRGB choice too. Returns the reason for a refusal, or an
// empty text when the pixels may be decoded.
std::string CheckHeader(ImageDecodeStatus opened, const platform::ImageDecoder& decoder,
                        const ImageLoadOptions& options, ImageLoadResult& result)
{
    const platform::ImageHeader& header = decoder.Header();
    if (opened == ImageDecodeStatus::NotReadable)
        return kOpenFailed;
    if (opened == ImageDecodeStatus::NotFound)
        return kNotFound;
    if (opened == ImageDecodeStatus::NotOpened)
        return "The file could not be opened: " + platform::SystemErrorText(decoder.OpenError()) + ".";
    if (opened == ImageDecodeStatus::NotRegularFile)
        return kNotRegularFile;
    result.formatName = ContainerName(header.container);
    if (opened != ImageDecodeStatus::Ok)
        return kNoFrame;
    if (header.width == 0 || header.height == 0)
        return kNoSize;
    if (header.width > static_cast<std::uint32_t>(kMaxImageSide) || header.height > static_cast<std::uint32_t>(kMaxImageSide))
        return kTooLarge;
    if (std::uint64_t{header.width} * header.height > kMaxHeightMapPixels)
        return TooManyPixelsReason(header.width, header.height);
    const ChannelClass channelClass = ClassifyPixelFormat(header.pixelFormat);
    result.bitsPerChannel = channelClass.bitsPerChannel;
    result.colour = channelClass.colour;
    if (!header.convertible)
        return kNotConvertible;
    result.width = static_cast<std::int32_t>(header.width);
    result.height = static_cast<std::int32_t>(header.height);
    result.decodedFromSrgb = options.srgbMode == 1 || (options.srgbMode == 2 && result.bitsPerChannel <= 8);
    return {};
}

const char* ReadFailureReason(ImageDecodeStatus status)
{
    return status == ImageDecodeStatus::Unconvertible ? kNotConvertible : kPixelsUnreadable;
}

// Sums of one row's (decoded) channels, for the normal-map test.
struct ChannelSums {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
    double bb = 0.0;
};

// Decodes every row into heights for `takeRow`: luminance for colour, red for grey. With
// `sums`, a colour image's channel sums of each row go to the row's slot.
ImageDecodeStatus DecodeHeightRows(platform::ImageDecoder& decoder, const ImageLoadResult& result,
                                   std::vector<ChannelSums>* sums,
                                   const std::function<void(std::int32_t, std::span<const float>)>& takeRow)
{
    const SampleValues value(result.decodedFromSrgb);
    const auto width = static_cast<std::size_t>(result.width);
    std::vector<float> heights(width);
    return decoder.ReadRows([&](std::uint32_t y, std::span<const std::uint16_t> rgba) {
        ChannelSums row;
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint16_t* p = rgba.data() + 4 * x;
            const float r = value(p[0]);
            if (!result.colour) {
                heights[x] = r;
                continue;
            }
            const float g = value(p[1]);
            const float b = value(p[2]);
            heights[x] = 0.2126f * r + 0.7152f * g + 0.0722f * b;
            row.r += r;
            row.g += g;
            row.b += b;
            row.bb += static_cast<double>(b) * b;
        }
        if (sums != nullptr)
            (*sums)[y] = row;
        takeRow(static_cast<std::int32_t>(y), heights);
    });
}

// The normal-map test over the (decoded) channels: mostly blue, red and green centred, and
// blue nearly constant. The rows' sums are added top to bottom whatever order the file stored
// them in, so the verdict depends on nothing but the pixels.
bool LooksLikeNormalMap(const std::vector<ChannelSums>& rows, std::size_t count)
{
    if (count == 0)
        return false;
    ChannelSums total;
    for (const ChannelSums& row : rows) {
        total.r += row.r;
        total.g += row.g;
        total.b += row.b;
        total.bb += row.bb;
    }
    const double n = static_cast<double>(count);
    const double meanR = total.r / n;
    const double meanG = total.g / n;
    const double meanB = total.b / n;
    const double blueVariance = total.bb / n - meanB * meanB;
    return meanB > 0.72 && std::fabs(meanR - 0.5) < 0.12 && std::fabs(meanG - 0.5) < 0.12 && blueVariance < 0.02;
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

// The first pass: header checks, then the heights and the rows' channel sums. Returns the
// reason for a refusal, or an empty text. The decoder (and whatever its library holds) is gone
// when this returns.
template <class Open>
std::string ReadHeights(const Open& open, const ImageLoadOptions& options, ImageLoadResult& result,
                        std::vector<ChannelSums>& sums)
{
    platform::ImageDecoder decoder;
    const ImageDecodeStatus opened = open(decoder);
    if (std::string reason = CheckHeader(opened, decoder, options, result); !reason.empty())
        return reason;
    const auto width = static_cast<std::size_t>(result.width);
    result.heights.resize(width * static_cast<std::size_t>(result.height));
    sums.resize(result.colour ? static_cast<std::size_t>(result.height) : 0);
    const ImageDecodeStatus read =
        DecodeHeightRows(decoder, result, result.colour ? &sums : nullptr,
                         [&](std::int32_t y, std::span<const float> row) {
                             std::copy(row.begin(), row.end(),
                                       result.heights.begin() + static_cast<std::ptrdiff_t>(y * width));
                         });
    return read == ImageDecodeStatus::Ok ? std::string() : ReadFailureReason(read);
}

// The raw red, green and blue of every pixel, from a second decode of the same file: only an
// image that looks like a normal map needs them, so the first pass holds nothing but heights.
template <class Open>
bool ReadRawRgb(const Open& open, const ImageLoadResult& result, std::vector<float>& rgb)
{
    platform::ImageDecoder decoder;
    const platform::ImageHeader& header = decoder.Header();
    if (open(decoder) != ImageDecodeStatus::Ok || header.width != static_cast<std::uint32_t>(result.width) ||
        header.height != static_cast<std::uint32_t>(result.height))
        return false;  // the file changed between the two reads
    const auto width = static_cast<std::size_t>(result.width);
    rgb.resize(width * static_cast<std::size_t>(result.height) * 3);
    return decoder.ReadRows([&](std::uint32_t y, std::span<const std::uint16_t> rgba) {
               float* out = rgb.data() + std::size_t{y} * width * 3;
               for (std::size_t x = 0; x < width; ++x)
                   for (std::size_t c = 0; c < 3; ++c)
                       out[3 * x + c] = static_cast<float>(rgba[4 * x + c]) * kSampleScale;
           }) == ImageDecodeStatus::Ok;
}

template <class Open>
ImageLoadResult LoadImage(const Open& open, const ImageLoadOptions& options)
{
    ImageLoadResult result;
    std::vector<ChannelSums> sums;
    if (std::string reason = ReadHeights(open, options, result, sums); !reason.empty())
        return Refuse(std::move(result), std::move(reason));
    if (result.colour && LooksLikeNormalMap(sums, result.heights.size())) {
        if (!ReadRawRgb(open, result, result.normalRgb))
            return Refuse(std::move(result), kPixelsUnreadable);
        result.looksLikeNormalMap = true;
    }
    AddWarnings(result);
    result.ok = true;
    return result;
}

template <class Open>
ImageLoadResult LoadImageRows(const Open& open, const ImageLoadOptions& options, const HeightRowSink& sink)
{
    ImageLoadResult result;
    platform::ImageDecoder decoder;
    const ImageDecodeStatus opened = open(decoder);
    if (std::string reason = CheckHeader(opened, decoder, options, result); !reason.empty())
        return Refuse(std::move(result), std::move(reason));
    if (sink.begin)
        sink.begin(result.width, result.height);
    const ImageDecodeStatus read = DecodeHeightRows(decoder, result, nullptr, sink.takeRow);
    if (read != ImageDecodeStatus::Ok)
        return Refuse(std::move(result), ReadFailureReason(read));
    AddWarnings(result);
    result.ok = true;
    return result;
}

// Out of memory while reading is reported as unreadable pixels, with nothing kept.
template <class Load>
ImageLoadResult ReadGuarded(const Load& load)
{
    try {
        return load();
    } catch (const std::bad_alloc&) {
        return Refuse(ImageLoadResult{}, kPixelsUnreadable);
    }
}

// A file refused for being no regular file is named for what it is (the decoder knows only
// that it is not one).
ImageLoadResult NamingTheKind(ImageLoadResult result, const std::filesystem::path& path)
{
    if (!result.ok && result.error == kNotRegularFile)
        result.error = std::string("The file is not a regular file (it is ") + platform::FileKindText(path) +
                       "), so it was not read as an image.";
    return result;
}

}  // namespace

ImageLoadResult ReadHeightImage(const std::filesystem::path& path, const ImageLoadOptions& options)
{
    const auto open = [&](platform::ImageDecoder& decoder) { return decoder.OpenFile(path); };
    return NamingTheKind(ReadGuarded([&] { return LoadImage(open, options); }), path);
}

ImageLoadResult ReadHeightImageRows(const std::filesystem::path& path, const ImageLoadOptions& options,
                                    const HeightRowSink& sink)
{
    const auto open = [&](platform::ImageDecoder& decoder) { return decoder.OpenFile(path); };
    return NamingTheKind(ReadGuarded([&] { return LoadImageRows(open, options, sink); }), path);
}

namespace detail {

ImageLoadResult ReadHeightImageFromMemory(std::span<const std::uint8_t> bytes, const ImageLoadOptions& options)
{
    const auto open = [&](platform::ImageDecoder& decoder) { return decoder.OpenMemory(bytes); };
    return ReadGuarded([&] { return LoadImage(open, options); });
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
