#include "platform/image_decoder.h"

#include "tests/support/decoded_image.h"
#include "tests/support/image_fixtures.h"
#include "tests/support/non_regular_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>

namespace grainforge::platform {
namespace {

using test::BmpFixture;
using test::GifFixture;
using test::JpegFixture;
using test::PngColour;
using test::PngFixture;
using test::TiffPage;

using Decoded = test::DecodedImage;
const auto Decode = test::DecodeImage;

std::array<std::uint16_t, 4> Grey16(std::uint16_t v) { return {v, v, v, 65535}; }
std::array<std::uint16_t, 4> Rgb16(std::uint16_t r, std::uint16_t g, std::uint16_t b) { return {r, g, b, 65535}; }

// A 3 x 2 grey ramp and its RGB counterpart, used by several formats.
std::vector<std::uint16_t> GreyRamp8() { return {0, 51, 102, 153, 204, 255}; }
std::vector<std::uint16_t> RgbRamp8() { return {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 40, 50, 60, 70, 80, 90}; }

TEST(ImageDecoder, PngLayoutsDecodeToExactSixteenBitRgba)
{
    const PngFixture grey8{3, 2, PngColour::Grey, 8, GreyRamp8()};
    const PngFixture rgba16{2, 1, PngColour::Rgba, 16, {1, 2, 3, 4, 65535, 40000, 300, 0}};
    PngFixture interlaced{9, 9, PngColour::Grey, 16, {}, {}, true};
    for (int i = 0; i < 81; ++i)
        interlaced.samples.push_back(static_cast<std::uint16_t>(i * 800));
    struct Case {
        const char* name;
        PngFixture fixture;
        ImageChannels channels;
        std::uint32_t x, y;
        std::array<std::uint16_t, 4> pixel;
    };
    const std::vector<Case> cases = {
        {"grey 8", grey8, ImageChannels::Grey, 2, 1, Grey16(255 * 257)},
        {"grey 8, top row", grey8, ImageChannels::Grey, 1, 0, Grey16(51 * 257)},
        {"grey 16", {3, 2, PngColour::Grey, 16, {0, 1, 2, 3, 65534, 65535}}, ImageChannels::Grey, 1, 1, Grey16(65534)},
        {"grey 1", {3, 2, PngColour::Grey, 1, {0, 1, 0, 1, 0, 1}}, ImageChannels::Grey, 2, 1, Grey16(65535)},
        {"rgb 8", {3, 2, PngColour::Rgb, 8, RgbRamp8()}, ImageChannels::Rgb, 2, 1, Rgb16(70 * 257, 80 * 257, 90 * 257)},
        {"palette 4", {3, 2, PngColour::Palette, 4, {0, 1, 2, 2, 1, 3}, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {250, 251, 252}}},
         ImageChannels::Indexed, 2, 1, Rgb16(250 * 257, 251 * 257, 252 * 257)},
        {"rgba 16", rgba16, ImageChannels::Rgba, 0, 0, {1, 2, 3, 4}},
        {"grey alpha 8", {1, 1, PngColour::GreyAlpha, 8, {100, 7}}, ImageChannels::GreyAlpha, 0, 0,
         {100 * 257, 100 * 257, 100 * 257, 7 * 257}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = Decode(test::EncodePng(c.fixture));
        ASSERT_EQ(d.status, ImageDecodeStatus::Ok);
        EXPECT_EQ(d.header.container, ImageContainer::Png);
        EXPECT_EQ(d.header.pixelFormat.channels, c.channels);
        EXPECT_EQ(d.header.pixelFormat.bitsPerSample, c.fixture.bitDepth);
        EXPECT_EQ(d.At(c.x, c.y), c.pixel);
    }
    const Decoded interlacedResult = Decode(test::EncodePng(interlaced));
    for (std::size_t i = 0; i < 81; ++i)
        ASSERT_EQ(interlacedResult.At(i % 9, i / 9), Grey16(static_cast<std::uint16_t>(i * 800))) << i;
}

TEST(ImageDecoder, JpegGreyColourCmykAndProgressiveDecodeCloseToTheirSource)
{
    const auto flat = [](std::uint32_t w, std::uint32_t h, std::vector<std::uint8_t> pixel) {
        std::vector<std::uint8_t> samples;
        for (std::uint32_t i = 0; i < w * h; ++i)
            samples.insert(samples.end(), pixel.begin(), pixel.end());
        return samples;
    };
    struct Case {
        const char* name;
        JpegFixture fixture;
        ImageChannels channels;
        std::array<int, 3> expected;  // 8-bit red, green, blue
    };
    // CMYK is stored inverted (255 = no ink), so (255, 127, 255, 255) is half magenta: red,
    // about half green, blue.
    const std::vector<Case> cases = {
        {"grey", {16, 16, 1, flat(16, 16, {90})}, ImageChannels::Grey, {90, 90, 90}},
        {"colour", {16, 16, 3, flat(16, 16, {200, 100, 50})}, ImageChannels::Rgb, {200, 100, 50}},
        {"progressive, under the scan limit", {24, 8, 3, flat(24, 8, {30, 60, 90}), 90, true}, ImageChannels::Rgb, {30, 60, 90}},
        {"cmyk", {8, 8, 4, flat(8, 8, {255, 127, 255, 255})}, ImageChannels::Cmyk, {255, 127, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = Decode(test::EncodeJpeg(c.fixture));
        ASSERT_EQ(d.status, ImageDecodeStatus::Ok);
        EXPECT_EQ(d.header.container, ImageContainer::Jpeg);
        EXPECT_EQ(d.header.pixelFormat.channels, c.channels);
        EXPECT_EQ(d.header.width, c.fixture.width);
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(d.At(3, 5)[ch] / 257.0, c.expected[ch], 3.0) << "channel " << ch;
        EXPECT_EQ(d.At(3, 5)[3], 65535);
    }
}

// Offset of the first segment with marker `code` (its 0xFF byte), or of the scan when none
// comes before it.
std::size_t JpegSegmentAt(const std::vector<std::uint8_t>& bytes, std::uint8_t code)
{
    std::size_t at = 2;
    while (at + 3 < bytes.size() && bytes[at + 1] != code && bytes[at + 1] != 0xDA)
        at += 2 + (bytes[at + 2] << 8 | bytes[at + 3]);
    return at;
}

// Damaged files stop with the reason for where the damage is; what the readers skip (segments
// longer than the input buffer's remainder, an ancillary PNG chunk failing its check) leaves
// the pixels as they were.
TEST(ImageDecoder, DamagedJpegAndPngFilesGiveTheirReason)
{
    std::vector<std::uint8_t> noise(32 * 32 * 3);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>(i * 7 % 251);
    const std::vector<std::uint8_t> jpeg = test::EncodeJpeg({32, 32, 3, noise});
    const std::size_t sof = JpegSegmentAt(jpeg, 0xC0), sos = JpegSegmentAt(jpeg, 0xDA);
    // The JPEG with `replaced` bytes at `at` replaced by `bytes`.
    const auto jpegWith = [&](std::size_t at, const std::vector<std::uint8_t>& bytes, std::size_t replaced = 0) {
        std::vector<std::uint8_t> changed = jpeg;
        const auto start = changed.begin() + static_cast<std::ptrdiff_t>(at);
        changed.insert(changed.erase(start, start + static_cast<std::ptrdiff_t>(replaced)), bytes.begin(), bytes.end());
        return changed;
    };
    // A segment whose length field says `length`, holding `held` bytes: end-of-image markers, as
    // an embedded thumbnail holds. A reader that loses its place in the segment takes them for
    // the file's end; other bytes it would pass over as stray data.
    const auto segment = [](std::uint8_t code, std::size_t length, std::size_t held) {
        std::vector<std::uint8_t> bytes = {0xFF, code, static_cast<std::uint8_t>(length >> 8),
                                           static_cast<std::uint8_t>(length & 0xFF)};
        for (std::size_t i = 0; i < held; ++i)
            bytes.push_back(i % 2 == 0 ? 0xFF : 0xD9);
        return bytes;
    };
    // The comment spans the end of the reader's 64 KiB input buffer.
    std::vector<std::uint8_t> skipped = segment(0xE1, 40000, 39998), comment = segment(0xFE, 65535, 65533);
    skipped.insert(skipped.end(), comment.begin(), comment.end());

    const std::vector<std::uint8_t> png =
        test::EncodePng({16, 16, PngColour::Grey, 8, {noise.begin(), noise.begin() + 256}});
    const std::vector<std::uint8_t> text = {0, 0, 0, 3, 't', 'E', 'X', 't', 'a', 0, 'b', 1, 2, 3, 4};  // wrong CRC
    std::vector<std::uint8_t> pngText = png, pngPixels = png;
    pngText.insert(pngText.begin() + 33, text.begin(), text.end());  // after the signature and the header chunk
    const std::string chunkType = "IDAT";
    const std::size_t idat = static_cast<std::size_t>(
        std::search(png.begin(), png.end(), chunkType.begin(), chunkType.end()) - png.begin());
    pngPixels[idat + 4 + (png[idat - 2] << 8 | png[idat - 1])] ^= 1;  // the pixel chunk's CRC

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        ImageDecodeStatus status;
        const std::vector<std::uint8_t>* intact;  // for Ok: the file whose pixels come out
    };
    const std::vector<Case> cases = {
        {"jpeg of height 0", jpegWith(sof + 5, {0, 0}, 2), ImageDecodeStatus::NotReadable, nullptr},
        {"jpeg segment running past the end", jpegWith(2, segment(0xFE, 65535, 10)), ImageDecodeStatus::NotReadable,
         nullptr},
        {"jpeg component without its quantisation table", jpegWith(sof + 12, {3}, 1),
         ImageDecodeStatus::PixelsUnreadable, nullptr},
        {"jpeg scan without its Huffman tables", jpegWith(sos + 6, {0x33}, 1), ImageDecodeStatus::PixelsUnreadable,
         nullptr},
        {"jpeg scan ended early by a marker", jpegWith(jpeg.size() - 200, {0xFF, 0xD9}),
         ImageDecodeStatus::PixelsUnreadable, nullptr},
        {"jpeg segments skipped across the buffer's end", jpegWith(2, skipped), ImageDecodeStatus::Ok, &jpeg},
        {"png text chunk failing its CRC", pngText, ImageDecodeStatus::Ok, &png},
        {"png pixel chunk failing its CRC", pngPixels, ImageDecodeStatus::PixelsUnreadable, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = Decode(c.bytes);
        EXPECT_EQ(d.status, c.status);
        if (c.intact != nullptr) {
            EXPECT_EQ(d.pixels, Decode(*c.intact).pixels);
        }
    }
}

TEST(ImageDecoder, TiffSampleTypesLayoutsAndPlanes)
{
    // 4 x 3 pixels; sample (x, y, c) = (10 y + 3 x + c) / 40, scaled per type.
    const auto page = [](int spp, int bits, bool floating, std::uint32_t tileSize = 0, bool separate = false) {
        TiffPage p{.width = 4, .height = 3, .samplesPerPixel = spp, .bitsPerSample = bits, .floating = floating,
                   .separatePlanes = separate, .tileSize = tileSize, .deflate = tileSize > 0 && separate};
        for (std::uint32_t y = 0; y < 3; ++y)
            for (std::uint32_t x = 0; x < 4; ++x)
                for (int c = 0; c < spp; ++c) {
                    const double unit = (10.0 * y + 3.0 * x + c) / 40.0;
                    p.samples.push_back(floating ? unit : bits == 16 ? unit * 65535 : std::round(unit * 255));
                }
        return p;
    };
    const auto expected = [](const TiffPage& p, std::uint32_t x, std::uint32_t y, int c) -> std::uint16_t {
        const double v = p.samples[(std::size_t{y} * p.width + x) * p.samplesPerPixel + (p.samplesPerPixel >= 3 ? c : 0)];
        if (p.floating)
            return static_cast<std::uint16_t>(static_cast<float>(v) * 65535.0f + 0.5f);
        return p.bitsPerSample == 16 ? static_cast<std::uint16_t>(v) : static_cast<std::uint16_t>(v * 257);
    };
    struct Case {
        const char* name;
        TiffPage page;
        ImageChannels channels;
    };
    const std::vector<Case> cases = {
        {"grey 8 strips", page(1, 8, false), ImageChannels::Grey},
        {"grey 16 strips", page(1, 16, false), ImageChannels::Grey},
        {"grey float strips", page(1, 32, true), ImageChannels::Grey},
        {"rgb 8 strips", page(3, 8, false), ImageChannels::Rgb},
        {"rgba 16 strips", page(4, 16, false), ImageChannels::Rgba},
        {"grey alpha 8", page(2, 8, false), ImageChannels::GreyAlpha},
        {"rgb 16 separate planes", page(3, 16, false, 0, true), ImageChannels::Rgb},
        {"rgb float tiles", page(3, 32, true, 16), ImageChannels::Rgb},
        {"rgba 8 separate tiles, deflate", page(4, 8, false, 16, true), ImageChannels::Rgba},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = Decode(test::EncodeTiff({c.page}));
        ASSERT_EQ(d.status, ImageDecodeStatus::Ok);
        EXPECT_EQ(d.header.container, ImageContainer::Tiff);
        EXPECT_EQ(d.header.pixelFormat.channels, c.channels);
        EXPECT_EQ(d.header.pixelFormat.bitsPerSample, c.page.bitsPerSample);
        EXPECT_EQ(d.header.pixelFormat.sampleType,
                  c.page.floating ? ImageSampleType::Float : ImageSampleType::UnsignedInteger);
        for (std::uint32_t y = 0; y < 3; ++y)
            for (std::uint32_t x = 0; x < 4; ++x)
                for (int ch = 0; ch < 3; ++ch)
                    ASSERT_EQ(d.At(x, y)[ch], expected(c.page, x, y, ch)) << x << "," << y << " ch " << ch;
    }
}

TEST(ImageDecoder, TiffFirstPageOnlyWhiteIsZeroAndFloatsClamped)
{
    TiffPage first{.width = 2, .samples = {10, 20}};
    const TiffPage second{.width = 5, .height = 5, .samples = std::vector<double>(25, 200)};
    const Decoded d = Decode(test::EncodeTiff({first, second}));
    ASSERT_EQ(d.status, ImageDecodeStatus::Ok);
    EXPECT_EQ(d.header.width, 2u);
    EXPECT_EQ(d.At(1, 0), Grey16(20 * 257));
    first.whiteIsZero = true;
    EXPECT_EQ(Decode(test::EncodeTiff({first})).At(0, 0), Grey16(65535 - 10 * 257));

    const TiffPage floats{.width = 4, .bitsPerSample = 32, .floating = true, .samples = {-0.5, 2.0, std::nan(""), 0.5}};
    const Decoded clamped = Decode(test::EncodeTiff({floats}));
    ASSERT_EQ(clamped.status, ImageDecodeStatus::Ok);
    EXPECT_EQ(clamped.pixels, (std::vector<std::uint16_t>{0, 0, 0, 65535, 65535, 65535, 65535, 65535, 0, 0, 0, 65535,
                                                          32768, 32768, 32768, 65535}));
}

// The first frame only, straight or interlaced; ten rows go through every interlace pass.
TEST(ImageDecoder, GifReadsTheFirstFrameOnly)
{
    GifFixture f{2, 10, {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {10, 20, 30}}, {{}, std::vector<std::uint8_t>(20, 3)}};
    for (std::uint8_t i = 0; i < 20; ++i)
        f.frames[0].push_back(static_cast<std::uint8_t>((i % 2 + i / 2) % 4));
    const std::array<std::uint16_t, 4> colours[] = {Rgb16(0, 0, 0), Rgb16(65535, 0, 0), Rgb16(0, 65535, 0),
                                                    Rgb16(2570, 5140, 7710)};
    for (bool interlaced : {false, true}) {
        f.interlaced = interlaced;
        const Decoded d = Decode(test::EncodeGif(f));
        ASSERT_EQ(d.status, ImageDecodeStatus::Ok);
        EXPECT_EQ(d.header.container, ImageContainer::Gif);
        EXPECT_EQ(d.header.pixelFormat.channels, ImageChannels::Indexed);
        for (std::uint32_t i = 0; i < 20; ++i)
            EXPECT_EQ(d.At(i % 2, i / 2), colours[(i % 2 + i / 2) % 4]) << interlaced << " pixel " << i;
    }
}

TEST(ImageDecoder, BmpPaletteTrueColourTopDownAndRunLength)
{
    const BmpFixture indexed{.width = 3, .height = 2, .bitsPerPixel = 8, .samples = {0, 1, 2, 2, 2, 1},
                             .palette = {{0, 0, 0}, {255, 128, 1}, {9, 8, 7}}};
    BmpFixture runLength = indexed;
    runLength.runLength = true;
    const std::vector<std::uint16_t> ramp = RgbRamp8();
    const std::vector<std::uint8_t> rgb(ramp.begin(), ramp.end());
    const std::array<std::uint16_t, 4> orange = Rgb16(65535, 128 * 257, 257), last = Rgb16(70 * 257, 80 * 257, 90 * 257);
    const std::pair<BmpFixture, std::array<std::uint16_t, 4>> cases[] = {
        {indexed, orange}, {runLength, orange}, {{.width = 3, .height = 2, .samples = rgb}, last},
        {{.width = 3, .height = 2, .topDown = true, .samples = rgb}, last},
        {{.width = 3, .height = 2, .bitsPerPixel = 32, .samples = rgb}, last}};
    for (const auto& [fixture, lastPixel] : cases) {
        SCOPED_TRACE(testing::Message() << fixture.bitsPerPixel << " bits, top down " << fixture.topDown << ", rle "
                                        << fixture.runLength);
        const Decoded d = Decode(test::EncodeBmp(fixture));
        ASSERT_EQ(d.status, ImageDecodeStatus::Ok);
        EXPECT_EQ(d.header.container, ImageContainer::Bmp);
        EXPECT_EQ(d.At(2, 1), lastPixel);
        EXPECT_EQ(d.At(1, 0), fixture.bitsPerPixel == 8 ? orange : Rgb16(0, 65535, 0));
    }
}

TEST(ImageDecoder, BmpRunLengthFourBitsWithJumpsAndLiterals)
{
    // 4 x 3 image, bottom row first: a run of two pixels (indices 1, 2), a literal of three
    // (3, 1, 2; the last falls off the row), end of line; a jump of (1, 1) to column 1 of the top row; a run of one (2);
    // end of image. The middle row and the top row's first pixel stay black.
    std::vector<std::uint8_t> data = {2, 0x12, 0, 3, 0x31, 0x20, 0, 0, 0, 2, 1, 1, 1, 0x20, 0, 1};
    std::vector<std::uint8_t> bytes = test::EncodeBmp({.width = 4, .height = 3, .bitsPerPixel = 8,
                                                       .samples = std::vector<std::uint8_t>(12, 0),
                                                       .palette = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}}});
    // Rewrite as 4-bit RLE with the same palette (16 entries needed by the header's count).
    bytes[28] = 4;
    bytes[30] = 2;
    const std::uint32_t offset = bytes[10] | bytes[11] << 8;
    bytes.resize(offset);
    bytes.insert(bytes.end(), data.begin(), data.end());
    const Decoded d = Decode(bytes);
    ASSERT_EQ(d.status, ImageDecodeStatus::Ok);
    const std::uint16_t expected[3][4] = {{0, 2, 0, 0}, {0, 0, 0, 0}, {1, 2, 3, 1}};  // top row first
    for (std::uint32_t i = 0; i < 12; ++i)
        EXPECT_EQ(d.At(i % 4, i / 4), Grey16(expected[i / 4][i % 4] * 257)) << i;
}

// The container comes from the content, not the name; pixels are read once, into a buffer of
// the right size.
TEST(ImageDecoder, ContainerFromTheContentAndPixelsReadOnceIntoTheRightSize)
{
    test::TempFolder folder;
    const auto path = folder / "actually a png.jpg";
    test::WriteAllBytes(path, test::UniformGreyPng(3, 3, 7));
    ImageDecoder decoder;
    ASSERT_EQ(decoder.OpenFile(path), ImageDecodeStatus::Ok);
    EXPECT_EQ(decoder.Header().container, ImageContainer::Png);
    std::vector<std::uint16_t> small(35), right(36);
    EXPECT_EQ(decoder.ReadRgba16(small), ImageDecodeStatus::Unconvertible);
    EXPECT_EQ(decoder.ReadRgba16(right), ImageDecodeStatus::Ok);
    EXPECT_EQ(right[0], 7 * 257);
    EXPECT_EQ(decoder.ReadRgba16(right), ImageDecodeStatus::Unconvertible);
}

// A BMP embedding JPEG data is refused in image_loading_test.cpp.
TEST(ImageDecoder, GifWithoutAColourMapIsUnconvertible)
{
    std::vector<std::uint8_t> bytes = test::EncodeGif({.palette = {{0, 0, 0}, {9, 9, 9}}, .frames = {{1}}});
    bytes[10] &= 0x7F;  // no global colour table: drop its flag and its six bytes
    bytes.erase(bytes.begin() + 13, bytes.begin() + 19);
    EXPECT_EQ(Decode(bytes).status, ImageDecodeStatus::Unconvertible);
}

// The sample count is checked in 64 bits against a cap, before any format reader sees the
// buffer: 2147549184 x 2147418114 x 4 wraps to 524288 in 64-bit arithmetic.
TEST(ImageDecoder, SampleCountThatWouldWrapOrExceedTheCapIsRefused)
{
    // Width, height, samples: zero, the largest allowed, just past the cap, wrapping in 64 bits.
    const std::uint64_t cases[][3] = {{3, 2, 24}, {0, 5, 0}, {32768, 32768, std::uint64_t{1} << 32}, {32768, 32769, 0},
                                      {2147549184u, 2147418114u, 0}, {0xFFFFFFFFu, 0xFFFFFFFFu, 0}};
    for (const auto& [width, height, samples] : cases) {
        ImageHeader header;
        std::tie(header.width, header.height) = std::tuple(width, height);
        EXPECT_EQ(RgbaSampleCount(header), samples) << width << " x " << height;
    }

    const std::vector<std::uint8_t> bytes = test::EncodeTiffStatingSize(2147549184u, 2147418114u);
    ImageDecoder decoder;
    ASSERT_EQ(decoder.OpenMemory(bytes), ImageDecodeStatus::Ok);
    ASSERT_EQ(decoder.Header().width, 2147549184u);
    ASSERT_TRUE(decoder.Header().convertible);
    std::vector<std::uint16_t> wrapped(524288, 7);
    EXPECT_EQ(decoder.ReadRgba16(wrapped), ImageDecodeStatus::Unconvertible);
    EXPECT_EQ(std::count(wrapped.begin(), wrapped.end(), 7), 524288);

    const std::vector<std::uint8_t> small = test::EncodeTiffStatingSize(4, 1);
    ASSERT_EQ(decoder.OpenMemory(small), ImageDecodeStatus::Ok);
    std::vector<std::uint16_t> pixels(RgbaSampleCount(decoder.Header()));
    EXPECT_EQ(decoder.ReadRgba16(pixels), ImageDecodeStatus::Ok);
    EXPECT_EQ(pixels[4], 0x80 * 257);
}

// A texture named by a project may be a pipe: opening it the ordinary way would wait forever.
TEST(ImageDecoder, NamedPipeFolderAndDeviceAreRefusedAtOnce)
{
    const test::TempFolder folder;
    for (const test::NonRegularFile& file : test::MakeNonRegularFiles(folder.Path(), "texture.png")) {
        SCOPED_TRACE(file.kind);
        const auto status = test::CallWithin<ImageDecodeStatus>([path = file.path] { return ImageDecoder().OpenFile(path); });
        ASSERT_TRUE(status) << "still waiting";
        EXPECT_EQ(*status, ImageDecodeStatus::NotRegularFile);
    }
}

}  // namespace
}  // namespace grainforge::platform
