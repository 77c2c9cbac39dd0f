// Reads the first frame of an image file as 16-bit RGBA samples, over the system's image
// libraries: libpng, libjpeg-turbo, libtiff, giflib, and a small BMP reader of our own. The
// container is found from the file's first bytes, never from its name, so a PNG named ".jpg"
// reads as PNG.
//
// Decoding runs in two steps so that the caller can refuse an image before any pixel memory
// is spent: Open reads the header (size and pixel format), then ReadRows hands the decoded
// rows over one at a time (so a caller that keeps less than 16-bit RGBA never holds the whole
// frame in that form), or ReadRgba16 fills a buffer the caller sized from that header. No crafted file can make a decoder end the process, read or
// write outside its buffers or allocate without bound: library errors come back as a status,
// and the libraries' own allocations are capped. Each decoder keeps its state in its own
// object, so any number of threads may decode at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>

namespace grainforge::platform {

enum class ImageContainer { Png, Jpeg, Tiff, Bmp, Gif };

// How the file stores its colour: the channels of one pixel before any conversion.
enum class ImageChannels {
    Grey,
    GreyAlpha,
    Rgb,
    Rgba,
    Indexed,  // palette indices
    Cmyk,
};

enum class ImageSampleType { UnsignedInteger, Float };

// The file's own pixel format, as facts. Callers that classify formats (bit depth, colour)
// read these; the decoded samples are always 16-bit RGBA whatever they say.
struct ImagePixelFormat {
    // Bits of one stored sample: 1, 2, 4, 8, 16 or 32; for palette images the bits of one
    // index; for BMP's packed 16-bit pixels the nominal 5.
    int bitsPerSample = 8;
    ImageChannels channels = ImageChannels::Rgb;
    ImageSampleType sampleType = ImageSampleType::UnsignedInteger;
};

enum class ImageDecodeStatus {
    Ok,
    NotReadable,       // missing, unreadable, not a format read here, or a damaged header
    NoFrame,           // the container holds no first image (a GIF of extensions only)
    Unconvertible,     // a pixel layout that cannot be turned into 16-bit RGBA
    PixelsUnreadable,  // the pixel data is damaged or cut short
    NotRegularFile,    // a folder, named pipe or device: refused before anything is read
    NotFound,          // nothing is at the path (a name or a folder on the way is missing)
    NotOpened,         // a regular file the system would not open (OpenError says why)
};

// What Open found. Width and height are as the file states them (either may be 0 or far
// larger than any buffer the caller will allow): check them before sizing a buffer.
struct ImageHeader {
    ImageContainer container = ImageContainer::Png;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    ImagePixelFormat pixelFormat;
    // False when the pixel layout cannot be converted (ReadRgba16 would answer Unconvertible).
    bool convertible = false;
};

// Images with more pixels than this (32768 x 32768, an 8 GiB sample buffer) are not decoded:
// no caller could hold the buffer, and below it width x height x 4 cannot wrap.
inline constexpr std::uint64_t kMaxDecodedPixels = std::uint64_t{1} << 30;

// The format of a palette image whose palette has `entryCount` entries, the i-th given by
// entry(i) as {red, green, blue}: grey at 8 bits when every entry is a grey (a grey GIF or palette
// PNG is a greyscale image and is named so), palette indices of `indexBits` otherwise.
template <class Entry>
ImagePixelFormat PalettePixelFormat(int indexBits, std::size_t entryCount, Entry&& entry)
{
    bool grey = entryCount > 0;
    for (std::size_t i = 0; i < entryCount && grey; ++i) {
        const auto [r, g, b] = entry(i);
        grey = r == g && g == b;
    }
    ImagePixelFormat format;
    format.channels = grey ? ImageChannels::Grey : ImageChannels::Indexed;
    format.bitsPerSample = grey ? 8 : indexBits;
    return format;
}

// The number of samples (width x height x 4) ReadRgba16 needs for `header`, or 0 when either
// side is 0 or the image has more than kMaxDecodedPixels pixels. Size buffers with this.
std::size_t RgbaSampleCount(const ImageHeader& header);

// Receives one decoded row: its index (0 is the top row) and its width x 4 samples (red,
// green, blue, alpha), valid only during the call.
using ImageRowSink = std::function<void(std::uint32_t y, std::span<const std::uint16_t> rgba)>;

class FormatDecoder;
class ByteSource;

// One image, opened from a file or from bytes in memory, decoded once.
class [[nodiscard]] ImageDecoder {
public:
    ImageDecoder();
    ~ImageDecoder();
    ImageDecoder(const ImageDecoder&) = delete;
    ImageDecoder& operator=(const ImageDecoder&) = delete;

    // Opens the file and reads the header of its first frame. Ok, NotReadable or NoFrame;
    // NotRegularFile, NotFound or NotOpened when the file itself could not be opened.
    ImageDecodeStatus OpenFile(const std::filesystem::path& path);

    // The system's error (errno) of a file that could not be opened, else 0.
    int OpenError() const { return openError_; }

    // As OpenFile, over bytes that must stay valid while the decoder lives.
    ImageDecodeStatus OpenMemory(std::span<const std::uint8_t> bytes);

    // The header found by a successful Open. After NoFrame only its container is set.
    const ImageHeader& Header() const { return header_; }

    // Decodes the first frame and hands every row to `sink` once, in the order the file stores
    // them: top first for most files, bottom first for most BMPs, in the four interlace passes
    // for an interlaced GIF. Samples as for ReadRgba16. Most layouts keep only a row, a strip or
    // a band of tiles at a time; those that place pixels out of row order (interlaced PNG, TIFF
    // strips in separate planes, run-length BMP) are decoded whole into one buffer first and
    // then handed over top first. Returns Ok, Unconvertible (also for an empty image or one
    // over kMaxDecodedPixels, with nothing read) or PixelsUnreadable, in which case some rows
    // may already have been handed over; may be called once per Open, as may ReadRgba16.
    ImageDecodeStatus ReadRows(const ImageRowSink& sink);

    // Decodes the first frame into `pixels`: width x height pixels, row-major with the top
    // row first, four samples each (red, green, blue, alpha), 8-bit samples scaled by 257,
    // float samples clamped to 0..1 and scaled to 65535. `pixels` must hold exactly
    // RgbaSampleCount(Header()) samples, and the image must not be empty or larger than
    // kMaxDecodedPixels (else Unconvertible, with nothing read). Returns Ok, Unconvertible or
    // PixelsUnreadable; may be called once per Open.
    ImageDecodeStatus ReadRgba16(std::span<std::uint16_t> pixels);

private:
    ImageDecodeStatus Open(std::unique_ptr<ByteSource> source);

    std::unique_ptr<ByteSource> source_;
    std::unique_ptr<FormatDecoder> decoder_;
    ImageHeader header_;
    int openError_ = 0;
    bool pixelsRead_ = false;
};

}  // namespace grainforge::platform
