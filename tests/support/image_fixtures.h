// Image files for tests, written in memory by the same libraries the decoder reads with
// (libpng, libjpeg, libtiff, giflib) and, for BMP, by hand. Samples are given row-major with
// the top row first, `channels` values per pixel.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace grainforge::test {

using Rgb8 = std::array<std::uint8_t, 3>;

enum class PngColour { Grey, GreyAlpha, Rgb, Rgba, Palette };

struct PngFixture {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    PngColour colour = PngColour::Grey;
    int bitDepth = 8;                     // 1, 2, 4, 8 or 16 as the colour type allows
    std::vector<std::uint16_t> samples{};   // per pixel: 1 to 4 samples, or a palette index
    std::vector<Rgb8> palette{};            // for PngColour::Palette
    bool interlaced = false;
};
std::vector<std::uint8_t> EncodePng(const PngFixture& fixture);

struct JpegFixture {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    int components = 3;                   // 1 grey, 3 RGB, 4 CMYK (stored inverted, as Adobe does)
    std::vector<std::uint8_t> samples{};
    int quality = 95;
    bool progressive = false;
};
std::vector<std::uint8_t> EncodeJpeg(const JpegFixture& fixture);

struct TiffPage {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    int samplesPerPixel = 1;              // 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA
    int bitsPerSample = 8;                // 8, 16 or 32 (float)
    bool floating = false;
    bool separatePlanes = false;
    std::uint32_t tileSize = 0;           // 0 for strips of two rows; else square tiles of this side
    bool deflate = false;
    bool whiteIsZero = false;
    std::vector<double> samples{};          // as stored: 0..255, 0..65535 or float
};
std::vector<std::uint8_t> EncodeTiff(const std::vector<TiffPage>& pages);

struct GifFixture {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    std::vector<Rgb8> palette{};            // a power of two entries, 2 to 256
    std::vector<std::vector<std::uint8_t>> frames{};  // indices, one list per frame
    bool interlaced = false;
};
// Written with a comment record before the first image.
std::vector<std::uint8_t> EncodeGif(const GifFixture& fixture);

struct BmpFixture {
    std::int32_t width = 1;
    std::int32_t height = 1;
    int bitsPerPixel = 24;                // 8 (palette), 24 or 32
    bool runLength = false;               // RLE8, for 8 bits per pixel
    bool topDown = false;
    std::vector<std::uint8_t> samples{};    // 8: indices; 24 and 32: red, green, blue per pixel
    std::vector<Rgb8> palette{};
};
std::vector<std::uint8_t> EncodeBmp(const BmpFixture& fixture);

enum class ImageFormat { Png, Jpeg, Tiff, Gif, Bmp };

// A small image file of the format whose header states the given size (each side at most
// 65535) while its body is that of an 8 x 8 grey image: for sizes too large to write, so any
// decoder that gets past the header finds its pixels cut short.
std::vector<std::uint8_t> EncodeImageStatingSize(ImageFormat format, std::uint32_t width, std::uint32_t height);

// An 8-bit grey PNG of the given size whose every sample is `value`, written row by row so
// that large sizes cost only the (well compressed) file.
std::vector<std::uint8_t> LargeUniformGreyPng(std::uint32_t width, std::uint32_t height, std::uint8_t value);

// A grey PNG of the given size whose every sample is `value`.
// A one-strip 8-bit grey TIFF, written byte by byte, that states the given size and holds 16
// bytes of samples (0x80): for sizes no library would write.
std::vector<std::uint8_t> EncodeTiffStatingSize(std::uint32_t width, std::uint32_t height);

std::vector<std::uint8_t> UniformGreyPng(std::uint32_t width, std::uint32_t height, std::uint16_t value,
                                         int bitDepth = 8);

}  // namespace grainforge::test
