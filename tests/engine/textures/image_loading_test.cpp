#include "engine/textures/image_loading.h"

#include "engine/textures/image_loading_detail.h"
#include "tests/support/image_fixtures.h"
#include "tests/support/non_regular_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <set>
#include <thread>

// The largest single allocation the calling thread asks for while its record is not -1: how
// a test sees that a refused image took no pixel memory, and that a loaded one took no more
// than its heights at once. The operators stay out of line and paired, so that neither the
// compiler nor the sanitizer sees a malloc freed by delete.
thread_local std::int64_t g_largestAllocation = -1;  // -1: not recording

namespace {
void* RecordAllocation(std::size_t size) noexcept
{
    if (g_largestAllocation >= 0)
        g_largestAllocation = std::max(g_largestAllocation, static_cast<std::int64_t>(size));
    return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

__attribute__((noinline)) void* operator new(std::size_t size)
{
    if (void* p = RecordAllocation(size))
        return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void* operator new[](std::size_t size)
{
    if (void* p = RecordAllocation(size))
        return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return RecordAllocation(size);
}
__attribute__((noinline)) void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return RecordAllocation(size);
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace grainforge::mesh {
namespace {

using test::PngColour;

const std::string kOpenFailed =
    "The file could not be opened as an image. It may be missing, in a format this program does not read, or damaged.";
const std::string kNoFrame = "The image contains no readable frame.";
const std::string kNoSize = "The image has no size.";
const std::string kTooLarge = "The image is larger than 16384 pixels on a side.";
const std::string kNotConvertible = "The image could not be converted to a form we can read.";
const std::string kPixelsUnreadable = "The image pixels could not be read.";
const std::string kNormalMapWarning =
    "This looks like a normal map (mostly blue, red and green centred). A normal map is the surface's slope, not "
    "its height; it can be converted.";
const std::string kJpegWarning =
    "JPEG is lossy. Its compression adds ripples around edges that become real bumps in the printed surface; PNG "
    "or TIFF keeps the original values.";
const std::string kEightBitWarning =
    "Eight bits per channel gives 256 height steps, which can show as visible terracing in a smooth gradient. A "
    "sixteen-bit image avoids it.";
const std::string kColourWarning = "The image has colour, which was converted to luminance.";
constexpr float kSixteenBit = 1.5259022e-5f;  // 1 / 65535

ImageLoadResult Load(const std::vector<std::uint8_t>& bytes, std::int32_t srgbMode = 0)
{
    return detail::ReadHeightImageFromMemory(bytes, {.srgbMode = srgbMode});
}

std::vector<std::uint8_t> Png(std::uint32_t w, std::uint32_t h, PngColour colour, int depth,
                              std::vector<std::uint16_t> samples)
{
    return test::EncodePng({w, h, colour, depth, std::move(samples)});
}

std::vector<std::uint8_t> FlatRgbPng(std::uint32_t side, std::uint16_t r, std::uint16_t g, std::uint16_t b)
{
    std::vector<std::uint16_t> samples;
    for (std::uint32_t i = 0; i < side * side; ++i)
        samples.insert(samples.end(), {r, g, b});
    return Png(side, side, PngColour::Rgb, 8, samples);
}

// Samples that compress badly.
std::vector<std::uint8_t> Noise(std::size_t n)
{
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 37 % 251);
    return bytes;
}

TEST(ReadHeightImage, ResultsAndTheLogAsShown)
{
    const ImageLoadResult grey = Load(test::UniformGreyPng(4, 3, 255));
    ASSERT_TRUE(grey.ok) << grey.error;
    EXPECT_TRUE(grey.width == 4 && grey.height == 3 && !grey.colour && !grey.decodedFromSrgb);
    EXPECT_EQ(grey.heights, std::vector<float>(12, 1.0f));
    EXPECT_TRUE(grey.normalRgb.empty());
    EXPECT_EQ(LogHeightMapLoad(grey), "Height map: PNG 4 x 3 pixels, 8 bits per channel\nSource: greyscale\n"
                                      "Values: taken as linear\nWarning: " + kEightBitWarning + "\n");
    const ImageLoadResult photo = Load(test::EncodeJpeg({32, 32, 3, Noise(32 * 32 * 3)}));
    ASSERT_TRUE(photo.ok);
    EXPECT_EQ(photo.warnings, (std::vector<std::string>{kJpegWarning, kEightBitWarning, kColourWarning}));
    EXPECT_EQ(LogHeightMapLoad(photo), "Height map: JPEG 32 x 32 pixels, 8 bits per channel\n"
                                       "Source: colour, converted to luminance\nValues: taken as linear\n"
                                       "Warning: " + kJpegWarning + "\nWarning: " + kEightBitWarning + "\n"
                                       "Warning: " + kColourWarning + "\n");
    EXPECT_EQ(LogHeightMapLoad(Load(test::UniformGreyPng(9, 16385, 3))),
              "Height map failed to load: " + kTooLarge + "\n");
    const std::string decoded = LogHeightMapLoad(Load(Png(1, 1, PngColour::Grey, 8, {128}), 1));
    EXPECT_NE(decoded.find("Values: decoded from sRGB to linear\n"), std::string::npos);
}

TEST(ReadHeightImage, HeightIsLuminanceOfColourAndTheSrgbModesDecodeAsAsked)
{
    const float linear16 = 32768 * kSixteenBit, linear8 = 128 * 257 * kSixteenBit;
    const auto decoded = [](float v) { return std::pow((v + 0.055f) / 1.055f, 2.4f); };
    const struct {
        const char* name; std::vector<std::uint8_t> file; int mode; bool fromSrgb; float height;
    } cases[] = {
        {"red", FlatRgbPng(1, 255, 0, 0), 0, false, 0.2126f},
        {"rgb 16", Png(1, 1, PngColour::Rgb, 16, {65535, 32768, 0}), 0, false, 0.2126f + 0.7152f * linear16},
        {"16, linear", Png(1, 1, PngColour::Grey, 16, {32768}), 0, false, linear16},
        {"16, sRGB", Png(1, 1, PngColour::Grey, 16, {32768}), 1, true, decoded(linear16)},
        {"16, sRGB for 8 bits", Png(1, 1, PngColour::Grey, 16, {32768}), 2, false, linear16},
        {"8, sRGB for 8 bits", Png(1, 1, PngColour::Grey, 8, {128}), 2, true, decoded(linear8)},
        {"8 dark, linear segment", Png(1, 1, PngColour::Grey, 8, {10}), 2, true, 10 * 257 * kSixteenBit / 12.92f},
        {"8, mode 7", Png(1, 1, PngColour::Grey, 8, {128}), 7, false, linear8},
    };
    for (const auto& c : cases) {
        const ImageLoadResult r = Load(c.file, c.mode);
        ASSERT_TRUE(r.ok) << c.name;
        EXPECT_EQ(r.decodedFromSrgb, c.fromSrgb) << c.name;
        EXPECT_EQ(r.heights[0], c.height) << c.name;
    }
    EXPECT_NEAR(Load(Png(1, 1, PngColour::Grey, 16, {32768}), 1).heights[0], 0.214f, 0.0005f) << "mid-grey to 0.214";
}

TEST(ReadHeightImage, BitDepthAndColourFollowTheFilesPixelFormat)
{
    const test::TiffPage floatGrey{.bitsPerSample = 32, .floating = true, .samples = {0.25}};
    const test::TiffPage floatRgb{
        .samplesPerPixel = 3, .bitsPerSample = 32, .floating = true, .samples = {0.25, 0.5, 0.75}};
    const struct { const char* name; std::vector<std::uint8_t> file; std::int32_t bits; bool colour; } cases[] = {
        {"png grey 8", Png(1, 1, PngColour::Grey, 8, {9}), 8, false},
        {"png grey 16", Png(1, 1, PngColour::Grey, 16, {9}), 16, false},
        {"png grey 4", Png(1, 1, PngColour::Grey, 4, {9}), 8, false},
        {"png grey alpha 8", Png(1, 1, PngColour::GreyAlpha, 8, {9, 9}), 8, true},
        {"png rgb 8", Png(1, 1, PngColour::Rgb, 8, {1, 2, 3}), 8, true},
        {"png rgba 16", Png(1, 1, PngColour::Rgba, 16, {1, 2, 3, 4}), 16, true},
        {"png palette", test::EncodePng({1, 1, PngColour::Palette, 8, {0}, {{1, 2, 3}}}), 8, true},
        // A palette of greys holds no colour: the image is greyscale, whatever stores it.
        {"png palette of greys", test::EncodePng({1, 1, PngColour::Palette, 8, {0}, {{7, 7, 7}, {90, 90, 90}}}), 8,
         false},
        {"jpeg grey", test::EncodeJpeg({8, 8, 1, std::vector<std::uint8_t>(64, 50)}), 8, false},
        {"tiff grey 16", test::EncodeTiff({{.bitsPerSample = 16, .samples = {300}}}), 16, false},
        {"tiff float grey", test::EncodeTiff({floatGrey}), 32, false},
        {"tiff float rgb", test::EncodeTiff({floatRgb}), 32, true},
        {"gif of greys", test::EncodeGif({.palette = {{0, 0, 0}, {255, 255, 255}}, .frames = {{1}}}), 8, false},
        {"gif of colours", test::EncodeGif({.palette = {{0, 0, 0}, {255, 0, 0}}, .frames = {{1}}}), 8, true},
        {"bmp 24", test::EncodeBmp({.samples = {1, 2, 3}}), 8, true},
        {"bmp palette of greys", test::EncodeBmp({.bitsPerPixel = 8, .samples = {1}, .palette = {{0, 0, 0}, {40, 40, 40}}}),
         8, false},
    };
    for (const auto& c : cases) {
        const ImageLoadResult r = Load(c.file);
        ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
        EXPECT_EQ(r.bitsPerChannel, c.bits) << c.name;
        EXPECT_EQ(r.colour, c.colour) << c.name;
        EXPECT_EQ(std::count(r.warnings.begin(), r.warnings.end(), kEightBitWarning), c.bits <= 8 ? 1 : 0) << c.name;
        EXPECT_EQ(std::count(r.warnings.begin(), r.warnings.end(), kColourWarning), c.colour ? 1 : 0) << c.name;
    }
    EXPECT_NEAR(Load(test::EncodeTiff({floatRgb})).heights[0], 0.2126f * 0.25f + 0.7152f * 0.5f + 0.0722f * 0.75f,
                2e-5f);
}

TEST(ReadHeightImage, FlatNormalMapColourIsRecognisedWithItsWarningFirst)
{
    const ImageLoadResult r = Load(FlatRgbPng(4, 128, 128, 255));
    ASSERT_TRUE(r.ok && r.looksLikeNormalMap);
    EXPECT_EQ(r.warnings, (std::vector<std::string>{kNormalMapWarning, kEightBitWarning, kColourWarning}));
    ASSERT_EQ(r.normalRgb.size(), 48u);
    EXPECT_EQ(r.normalRgb[0], 128 * 257 * kSixteenBit) << "the raw values, never decoded";
    EXPECT_EQ(r.normalRgb[2], 1.0f);
    // The same mean blue (0.8) spread widely (variance 0.04) is no normal map.
    std::vector<std::uint16_t> spread;
    for (int i = 0; i < 16; ++i)
        spread.insert(spread.end(), {128, 128, static_cast<std::uint16_t>(i % 2 == 0 ? 255 : 153)});
    const struct { const char* name; std::vector<std::uint8_t> file; int mode; bool normal; } cases[] = {
        {"read as sRGB, no longer centred", FlatRgbPng(4, 128, 128, 255), 1, false},
        {"blue spread widely", Png(4, 4, PngColour::Rgb, 8, spread), 0, false},
        {"red just off centre", FlatRgbPng(2, 128 + 31, 128, 255), 0, false},
        {"red just inside", FlatRgbPng(2, 128 + 29, 128, 255), 0, true},
        {"mean blue 0.7176", FlatRgbPng(2, 128, 128, 183), 0, false},
        {"grey", test::UniformGreyPng(2, 2, 200), 0, false},
    };
    for (const auto& c : cases) {
        const ImageLoadResult loaded = Load(c.file, c.mode);
        EXPECT_EQ(loaded.looksLikeNormalMap, c.normal) << c.name;
        EXPECT_EQ(loaded.normalRgb.empty(), !c.normal) << c.name;
    }
}

TEST(ReadHeightImage, SixteenThousandThreeHundredEightyFourPixelsIsTheLargestSide)
{
    EXPECT_EQ(Load(test::UniformGreyPng(16384, 1, 3)).heights.size(), 16384u);
    for (const auto& [w, h] : {std::pair{16385u, 1u}, {1u, 16385u}}) {
        const ImageLoadResult r = Load(test::UniformGreyPng(w, h, 3));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, kTooLarge);
        EXPECT_TRUE(r.heights.empty());
    }
    // A header claiming 20000 x 20000 with no pixel data behind it is refused on its size,
    // before any pixel memory is taken.
    std::vector<std::uint8_t> bytes =
        test::EncodeBmp({.width = 20000, .samples = std::vector<std::uint8_t>(3 * 20000)});
    bytes[22] = 0x20;  // height 20000 = 0x4E20
    bytes[23] = 0x4E;
    EXPECT_EQ(Load(bytes).error, kTooLarge);
}

// The bytes of the largest single allocation `load` makes on this thread.
template <class Load>
std::int64_t LargestAllocationOf(const Load& load)
{
    g_largestAllocation = 0;
    load();
    const std::int64_t largest = g_largestAllocation;
    g_largestAllocation = -1;
    return largest;
}

// Headers stating more pixels than a height map may have are refused from the header, with
// the size and the limit in the message, before any pixel buffer: the bodies hold 8 x 8
// pixels, so a decoder that went on would fail on its pixels, with another reason.
TEST(ReadHeightImage, HeadersOverThePixelLimitAreRefusedBeforeAnyPixelMemory)
{
    const struct { std::uint32_t width, height; const char* error; } sizes[] = {
        {16384, 16384,
         "The image is 16,384 x 16,384 pixels; the largest height map this program uses is 8,192 x 8,192 "
         "(67,108,864 pixels)."},
        {8193, 8192,
         "The image is 8,193 x 8,192 pixels; the largest height map this program uses is 8,192 x 8,192 "
         "(67,108,864 pixels)."},
        {16384, 4097,
         "The image is 16,384 x 4,097 pixels; the largest height map this program uses is 8,192 x 8,192 "
         "(67,108,864 pixels)."},
    };
    const struct { const char* name; test::ImageFormat format; } formats[] = {
        {"PNG", test::ImageFormat::Png}, {"JPEG", test::ImageFormat::Jpeg}, {"TIFF", test::ImageFormat::Tiff},
        {"GIF", test::ImageFormat::Gif}, {"BMP", test::ImageFormat::Bmp},
    };
    for (const auto& f : formats) {
        for (const auto& size : sizes) {
            SCOPED_TRACE(std::string(f.name) + " " + std::to_string(size.width) + " x " + std::to_string(size.height));
            const std::vector<std::uint8_t> bytes = test::EncodeImageStatingSize(f.format, size.width, size.height);
            ImageLoadResult r;
            const std::int64_t largest = LargestAllocationOf([&] { r = Load(bytes); });
            EXPECT_EQ(r.error, size.error);
            EXPECT_EQ(r.formatName, f.name);
            EXPECT_TRUE(r.heights.empty());
            EXPECT_LT(largest, std::int64_t{1} << 20);
        }
        // Just inside the limit the header passes, and the cut-short body is what fails.
        EXPECT_EQ(Load(test::EncodeImageStatingSize(f.format, 8192, 8192)).error, kPixelsUnreadable) << f.name;
    }
}

// An image of exactly the largest size loads, and its largest single allocation is its
// heights: the decoded rows go straight into them, with no 16-bit RGBA copy of the image.
TEST(ReadHeightImage, ImageAtThePixelLimitLoadsWithoutAWholeSixteenBitCopy)
{
    for (const auto& [w, h] : {std::pair{8192u, 8192u}, {16384u, 4096u}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        const std::vector<std::uint8_t> bytes = test::LargeUniformGreyPng(w, h, 51);
        ImageLoadResult r;
        const std::int64_t largest = LargestAllocationOf([&] { r = Load(bytes); });
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_EQ(r.heights.size(), kMaxHeightMapPixels);
        EXPECT_EQ(largest, static_cast<std::int64_t>(kMaxHeightMapPixels * sizeof(float)));
        EXPECT_EQ(*std::min_element(r.heights.begin(), r.heights.end()), 51.0f * 257.0f * kSixteenBit);
        EXPECT_EQ(*std::max_element(r.heights.begin(), r.heights.end()), 51.0f * 257.0f * kSixteenBit);
    }
}

TEST(ReadHeightImage, EachFailureGivesItsReason)
{
    test::TempFolder folder;
    test::WriteAllText(folder / "notes.png", "plain text, not an image");
    const std::pair<std::filesystem::path, std::string> unopened[] = {
        {folder / "missing.png", "The file was not found."},
        {folder / "no folder" / "a.png", "The file was not found."},
        {folder / "notes.png" / "a.png", "The file was not found."},
        {std::filesystem::path(), "The file was not found."},
        {folder / "notes.png", kOpenFailed},
    };
    for (const auto& [path, reason] : unopened) {
        const ImageLoadResult r = ReadHeightImage(path, {});
        EXPECT_EQ(r.error, reason) << path;
        EXPECT_TRUE(r.formatName.empty()) << path;
    }
    // A folder, a pipe (a texture a project names may be one), a device or a socket is refused
    // at once and named for what it is.
    std::vector<test::NonRegularFile> files = test::MakeNonRegularFiles(folder.Path(), "texture.png");
    ASSERT_TRUE(test::MakeSocketFile(folder / "socket.png"));
    files.push_back({"socket", folder / "socket.png"});
    for (const test::NonRegularFile& file : files) {
        const auto r = test::CallWithin<ImageLoadResult>([path = file.path] { return ReadHeightImage(path, {}); });
        ASSERT_TRUE(r) << file.kind << " still waiting";
        EXPECT_EQ(r->error, "The file is not a regular file (it is a " + file.kind + "), so it was not read as an image.");
    }
    std::vector<std::uint8_t> zeroWidth = test::EncodeBmp({.samples = {1, 2, 3}}), embeddedJpeg = zeroWidth;
    zeroWidth[18] = 0;
    embeddedJpeg[30] = 4;  // compression: JPEG inside a BMP
    const struct { const char* name; std::vector<std::uint8_t> file; std::string error, format; } cases[] = {
        {"gif without frames", test::EncodeGif({.palette = {{0, 0, 0}, {1, 1, 1}}}), kNoFrame, "GIF"},
        {"bmp of width 0", zeroWidth, kNoSize, "BMP"},
        {"jpeg inside bmp", embeddedJpeg, kNotConvertible, "BMP"},
    };
    for (const auto& c : cases) {
        const ImageLoadResult r = Load(c.file);
        EXPECT_EQ(r.error, c.error) << c.name;
        EXPECT_EQ(r.formatName, c.format) << c.name;
    }
}

// Every format cut short at many lengths fails with one of the reasons, holding no pixels;
// cut in the pixels, PNG, JPEG and BMP say the pixels could not be read.
TEST(ReadHeightImage, TruncatedFilesOfEveryFormatGiveAReason)
{
    const std::vector<std::uint8_t> noise = Noise(48 * 40 * 3);
    test::TiffPage tiff{.width = 48, .height = 40, .samplesPerPixel = 3, .bitsPerSample = 16, .separatePlanes = true};
    for (std::uint8_t b : noise)
        tiff.samples.push_back(b * 200.0);
    test::TiffPage tiled = tiff;
    tiled.tileSize = 16;
    tiled.deflate = true;
    tiled.separatePlanes = false;
    test::GifFixture gif{48, 40, {}, {std::vector<std::uint8_t>(noise.begin(), noise.begin() + 48 * 40)}, true};
    for (int i = 0; i < 256; ++i)
        gif.palette.push_back({static_cast<std::uint8_t>(i), 0, 0});
    test::BmpFixture rle{.width = 48, .height = 40, .bitsPerPixel = 8, .runLength = true,
                         .samples = std::vector<std::uint8_t>(48 * 40),
                         .palette = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}}};
    for (std::size_t i = 0; i < rle.samples.size(); ++i)
        rle.samples[i] = static_cast<std::uint8_t>(i / 5 % 4);
    const std::vector<std::uint16_t> noise16(noise.begin(), noise.end());
    const struct { const char* name; std::vector<std::uint8_t> bytes; bool pixelsUnreadable; } files[] = {
        {"png", Png(48, 40, PngColour::Rgb, 8, noise16), true},
        {"png interlaced", test::EncodePng({48, 40, PngColour::Rgb, 8, noise16, {}, true}), false},
        {"jpeg", test::EncodeJpeg({48, 40, 3, noise}), true},
        {"jpeg progressive", test::EncodeJpeg({48, 40, 3, noise, 80, true}), false},
        {"tiff planes", test::EncodeTiff({tiff}), false},
        {"tiff tiles deflate", test::EncodeTiff({tiled}), false},
        {"gif", test::EncodeGif(gif), false},
        {"bmp", test::EncodeBmp({.width = 48, .height = 40, .samples = noise}), true},
        {"bmp rle", test::EncodeBmp(rle), false},
    };
    const std::set<std::string> reasons = {kOpenFailed,  kNoFrame,        kNoSize,
                                           kTooLarge,    kNotConvertible, kPixelsUnreadable};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(Load(f.bytes).ok);
        for (std::size_t length = 0; length < f.bytes.size() * 9 / 10; length += 1 + length / 8) {
            const ImageLoadResult r = Load({f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(length)});
            ASSERT_FALSE(r.ok) << "cut at " << length;
            ASSERT_TRUE(reasons.count(r.error) && r.heights.empty() && r.width == 0) << r.error;
        }
        if (f.pixelsUnreadable) {
            const auto cut = static_cast<std::ptrdiff_t>(f.bytes.size() * 3 / 4);
            EXPECT_EQ(Load({f.bytes.begin(), f.bytes.begin() + cut}).error, kPixelsUnreadable);
        }
    }
}

TEST(ReadHeightImage, ThreadsLoadAtOnceWithTheSameResults)
{
    test::TempFolder folder;
    std::vector<std::uint16_t> samples(200 * 150);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint16_t>(i * 97);
    test::WriteAllBytes(folder / "a.png", Png(200, 150, PngColour::Grey, 16, samples));
    test::WriteAllBytes(folder / "b.jpg", test::EncodeJpeg({150, 100, 3, Noise(150 * 100 * 3)}));
    std::atomic<int> mismatches{0};
    const auto work = [&](const char* name, int mode) {
        const ImageLoadResult expected = ReadHeightImage(folder / name, {.srgbMode = mode});
        for (int i = 0; i < 10; ++i)
            mismatches += !expected.ok || ReadHeightImage(folder / name, {mode}).heights != expected.heights;
    };
    std::thread first(work, "a.png", 0), second(work, "b.jpg", 2);
    first.join();
    second.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace grainforge::mesh
