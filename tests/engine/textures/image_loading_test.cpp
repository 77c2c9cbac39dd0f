#include "engine/textures/image_loading.h"

#include "engine/textures/image_loading_detail.h"
#include "tests/support/image_fixtures.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <thread>

namespace grainforge::mesh {
namespace {

using test::PngColour;
using test::PngFixture;

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

ImageLoadResult Load(const std::vector<std::uint8_t>& bytes, std::int32_t srgbMode = 0)
{
    return detail::ReadHeightImageFromMemory(bytes, {.srgbMode = srgbMode});
}

std::vector<std::uint8_t> Png(std::uint32_t w, std::uint32_t h, PngColour colour, int depth,
                              std::vector<std::uint16_t> samples)
{
    return test::EncodePng({w, h, colour, depth, std::move(samples)});
}

std::vector<std::uint8_t> FlatRgbPng(std::uint32_t w, std::uint32_t h, std::uint16_t r, std::uint16_t g,
                                     std::uint16_t b)
{
    std::vector<std::uint16_t> samples;
    for (std::uint32_t i = 0; i < w * h; ++i)
        samples.insert(samples.end(), {r, g, b});
    return Png(w, h, PngColour::Rgb, 8, samples);
}

TEST(ReadHeightImage, WhiteEightBitGreyPngGivesOnesAndOnlyTheEightBitWarning)
{
    const ImageLoadResult r = Load(test::UniformGreyPng(4, 3, 255));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.formatName, "PNG");
    EXPECT_EQ(r.width, 4);
    EXPECT_EQ(r.height, 3);
    EXPECT_EQ(r.bitsPerChannel, 8);
    EXPECT_FALSE(r.colour);
    EXPECT_FALSE(r.decodedFromSrgb);
    EXPECT_EQ(r.heights, std::vector<float>(12, 1.0f));
    EXPECT_EQ(r.warnings, std::vector<std::string>{kEightBitWarning});
    EXPECT_FALSE(r.looksLikeNormalMap);
    EXPECT_TRUE(r.normalRgb.empty());
    EXPECT_EQ(LogHeightMapLoad(r), "Height map: PNG 4 x 3 pixels, 8 bits per channel\n"
                                   "Source: greyscale\n"
                                   "Values: taken as linear\n"
                                   "Warning: " + kEightBitWarning + "\n");
}

TEST(ReadHeightImage, HeightIsLuminanceOfColourAndRedOfGrey)
{
    const ImageLoadResult red = Load(FlatRgbPng(1, 1, 255, 0, 0));
    ASSERT_TRUE(red.ok);
    EXPECT_EQ(red.heights[0], 0.2126f);
    const ImageLoadResult mixed = Load(Png(1, 1, PngColour::Rgb, 16, {65535, 32768, 0}));
    ASSERT_TRUE(mixed.ok);
    EXPECT_EQ(mixed.heights[0], 0.2126f * 1.0f + 0.7152f * (32768 * 1.5259022e-5f) + 0.0722f * 0.0f);
    const ImageLoadResult grey = Load(Png(2, 1, PngColour::Grey, 16, {0, 1000}));
    ASSERT_TRUE(grey.ok);
    EXPECT_EQ(grey.heights[1], 1000 * 1.5259022e-5f);
    EXPECT_EQ(grey.heights[0], 0.0f);
}

TEST(ReadHeightImage, SrgbModesDecodeAsAsked)
{
    const std::vector<std::uint8_t> mid16 = Png(1, 1, PngColour::Grey, 16, {32768});
    const std::vector<std::uint8_t> mid8 = Png(1, 1, PngColour::Grey, 8, {128});
    const std::vector<std::uint8_t> dark8 = Png(1, 1, PngColour::Grey, 8, {10});
    const float linear16 = 32768 * 1.5259022e-5f;
    const float linear8 = 128 * 257 * 1.5259022e-5f;
    struct Case {
        const std::vector<std::uint8_t>* file;
        int mode;
        bool decoded;
        float expected;
    };
    const std::vector<Case> cases = {
        {&mid16, 0, false, linear16},
        {&mid16, 1, true, std::pow((linear16 + 0.055f) / 1.055f, 2.4f)},
        {&mid16, 2, false, linear16},
        {&mid8, 0, false, linear8},
        {&mid8, 2, true, std::pow((linear8 + 0.055f) / 1.055f, 2.4f)},
        {&dark8, 2, true, 10 * 257 * 1.5259022e-5f / 12.92f},  // below 0.04045: the linear segment
        {&mid8, 7, false, linear8},
    };
    for (const Case& c : cases) {
        const ImageLoadResult r = Load(*c.file, c.mode);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.decodedFromSrgb, c.decoded) << "mode " << c.mode;
        EXPECT_EQ(r.heights[0], c.expected) << "mode " << c.mode;
    }
    // The documented figure: a mid-grey of 0.5 decodes to about 0.214.
    EXPECT_NEAR(Load(mid16, 1).heights[0], 0.214f, 0.0005f);
    EXPECT_EQ(LogHeightMapLoad(Load(mid8, 1)).find("Values: decoded from sRGB to linear\n") != std::string::npos, true);
}

TEST(ReadHeightImage, BitDepthAndColourFollowTheFilesPixelFormat)
{
    const test::TiffPage floatGrey{.bitsPerSample = 32, .floating = true, .samples = {0.25}};
    const test::TiffPage floatRgb{.samplesPerPixel = 3, .bitsPerSample = 32, .floating = true, .samples = {0.25, 0.5, 0.75}};
    const test::TiffPage grey16{.bitsPerSample = 16, .samples = {300}};
    struct Case {
        const char* name;
        std::vector<std::uint8_t> file;
        std::int32_t bits;
        bool colour;
    };
    const std::vector<Case> cases = {
        {"png grey 8", Png(1, 1, PngColour::Grey, 8, {9}), 8, false},
        {"png grey 16", Png(1, 1, PngColour::Grey, 16, {9}), 16, false},
        {"png grey 4", Png(1, 1, PngColour::Grey, 4, {9}), 8, true},
        {"png grey alpha 8", Png(1, 1, PngColour::GreyAlpha, 8, {9, 9}), 8, true},
        {"png grey alpha 16", Png(1, 1, PngColour::GreyAlpha, 16, {9, 9}), 16, true},
        {"png rgb 8", Png(1, 1, PngColour::Rgb, 8, {1, 2, 3}), 8, true},
        {"png rgb 16", Png(1, 1, PngColour::Rgb, 16, {1, 2, 3}), 16, true},
        {"png rgba 16", Png(1, 1, PngColour::Rgba, 16, {1, 2, 3, 4}), 16, true},
        {"png palette", test::EncodePng({1, 1, PngColour::Palette, 8, {0}, {{1, 2, 3}}}), 8, true},
        {"jpeg grey", test::EncodeJpeg({8, 8, 1, std::vector<std::uint8_t>(64, 50)}), 8, false},
        {"tiff grey 16", test::EncodeTiff({grey16}), 16, false},
        {"tiff float grey", test::EncodeTiff({floatGrey}), 32, false},
        {"tiff float rgb", test::EncodeTiff({floatRgb}), 32, true},
        {"gif", test::EncodeGif({.palette = {{0, 0, 0}, {255, 255, 255}}, .frames = {{1}}}), 8, true},
        {"bmp 24", test::EncodeBmp({.samples = {1, 2, 3}}), 8, true},
    };
    for (const Case& c : cases) {
        const ImageLoadResult r = Load(c.file);
        ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
        EXPECT_EQ(r.bitsPerChannel, c.bits) << c.name;
        EXPECT_EQ(r.colour, c.colour) << c.name;
        const bool eightBitWarned = std::count(r.warnings.begin(), r.warnings.end(), kEightBitWarning) == 1;
        const bool colourWarned = std::count(r.warnings.begin(), r.warnings.end(), kColourWarning) == 1;
        EXPECT_EQ(eightBitWarned, c.bits <= 8) << c.name;
        EXPECT_EQ(colourWarned, c.colour) << c.name;
    }
    const ImageLoadResult tiff = Load(test::EncodeTiff({floatRgb}));
    EXPECT_EQ(tiff.formatName, "TIFF");
    EXPECT_NEAR(tiff.heights[0], 0.2126f * 0.25f + 0.7152f * 0.5f + 0.0722f * 0.75f, 2e-5f);
}

TEST(ReadHeightImage, FlatNormalMapColourIsRecognisedWithItsWarningFirst)
{
    const ImageLoadResult r = Load(FlatRgbPng(4, 4, 128, 128, 255));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.looksLikeNormalMap);
    EXPECT_EQ(r.warnings, (std::vector<std::string>{kNormalMapWarning, kEightBitWarning, kColourWarning}));
    ASSERT_EQ(r.normalRgb.size(), 48u);
    EXPECT_EQ(r.normalRgb[0], 128 * 257 * 1.5259022e-5f);
    EXPECT_EQ(r.normalRgb[2], 1.0f);

    // The normal colour read with sRGB decoding is no longer centred, and the raw values are
    // never decoded.
    EXPECT_FALSE(Load(FlatRgbPng(4, 4, 128, 128, 255), 1).looksLikeNormalMap);

    // The same mean blue (0.8) with blue spread widely (variance 0.04) is not a normal map.
    std::vector<std::uint16_t> samples;
    for (int i = 0; i < 16; ++i)
        samples.insert(samples.end(), {128, 128, static_cast<std::uint16_t>(i % 2 == 0 ? 255 : 153)});
    const ImageLoadResult spread = Load(Png(4, 4, PngColour::Rgb, 8, samples));
    ASSERT_TRUE(spread.ok);
    EXPECT_FALSE(spread.looksLikeNormalMap);
    EXPECT_TRUE(spread.normalRgb.empty());

    // Each bound is strict: red just off centre, and a grey image, are not normal maps.
    EXPECT_FALSE(Load(FlatRgbPng(2, 2, 128 + 31, 128, 255)).looksLikeNormalMap);
    EXPECT_TRUE(Load(FlatRgbPng(2, 2, 128 + 29, 128, 255)).looksLikeNormalMap);
    EXPECT_FALSE(Load(FlatRgbPng(2, 2, 128, 128, 183)).looksLikeNormalMap);  // mean blue 0.7176
    EXPECT_FALSE(Load(test::UniformGreyPng(2, 2, 200)).looksLikeNormalMap);
}

TEST(ReadHeightImage, JpegPhotographWarnsInOrder)
{
    std::vector<std::uint8_t> photo(32 * 32 * 3);
    for (std::size_t i = 0; i < photo.size(); ++i)
        photo[i] = static_cast<std::uint8_t>((i * 37) % 251);
    const ImageLoadResult r = Load(test::EncodeJpeg({32, 32, 3, photo}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.formatName, "JPEG");
    EXPECT_EQ(r.warnings, (std::vector<std::string>{kJpegWarning, kEightBitWarning, kColourWarning}));
    EXPECT_EQ(LogHeightMapLoad(r), "Height map: JPEG 32 x 32 pixels, 8 bits per channel\n"
                                   "Source: colour, converted to luminance\n"
                                   "Values: taken as linear\n"
                                   "Warning: " + kJpegWarning + "\n"
                                   "Warning: " + kEightBitWarning + "\n"
                                   "Warning: " + kColourWarning + "\n");
}

TEST(ReadHeightImage, SixteenThousandThreeHundredEightyFourPixelsIsTheLargestSide)
{
    const ImageLoadResult wide = Load(test::UniformGreyPng(16384, 1, 3));
    ASSERT_TRUE(wide.ok) << wide.error;
    EXPECT_EQ(wide.heights.size(), 16384u);
    for (const auto& size : {std::pair{16385u, 1u}, std::pair{1u, 16385u}}) {
        const ImageLoadResult r = Load(test::UniformGreyPng(size.first, size.second, 3));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, kTooLarge);
        EXPECT_TRUE(r.heights.empty());
        EXPECT_EQ(LogHeightMapLoad(r), "Height map failed to load: " + kTooLarge + "\n");
    }
    // A header claiming 20000 x 20000 with no pixel data behind it is refused on its size,
    // before any pixel memory is taken.
    std::vector<std::uint8_t> bytes = test::EncodeBmp({.width = 20000, .samples = std::vector<std::uint8_t>(3 * 20000)});
    bytes[22] = 0x20;  // height 20000 = 0x4E20
    bytes[23] = 0x4E;
    EXPECT_EQ(Load(bytes).error, kTooLarge);
}

TEST(ReadHeightImage, EachFailureGivesItsReason)
{
    test::TempFolder folder;
    test::WriteAllText(folder / "notes.png", "plain text, not an image");
    EXPECT_EQ(ReadHeightImage(folder / "missing.png", {}).error, kOpenFailed);
    EXPECT_EQ(ReadHeightImage(folder / "notes.png", {}).error, kOpenFailed);
    EXPECT_EQ(ReadHeightImage(folder.Path(), {}).error, kOpenFailed);
    EXPECT_EQ(ReadHeightImage("", {}).error, kOpenFailed);
    EXPECT_TRUE(ReadHeightImage(folder / "missing.png", {}).formatName.empty());

    const ImageLoadResult noFrame = Load(test::EncodeGif({.palette = {{0, 0, 0}, {1, 1, 1}}}));
    EXPECT_EQ(noFrame.error, kNoFrame);
    EXPECT_EQ(noFrame.formatName, "GIF");

    std::vector<std::uint8_t> zeroWidth = test::EncodeBmp({.samples = {1, 2, 3}});
    zeroWidth[18] = 0;
    EXPECT_EQ(Load(zeroWidth).error, kNoSize);
    std::vector<std::uint8_t> embeddedJpeg = test::EncodeBmp({.samples = {1, 2, 3}});
    embeddedJpeg[30] = 4;
    const ImageLoadResult unconvertible = Load(embeddedJpeg);
    EXPECT_EQ(unconvertible.error, kNotConvertible);
    EXPECT_EQ(unconvertible.formatName, "BMP");

    // Cut short in the pixels: the header read, the pixels not.
    std::vector<std::uint8_t> rgb(64 * 64 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<std::uint8_t>(i * 7 % 251);
    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> files = {
        {"png", test::UniformGreyPng(64, 64, 9)},
        {"jpeg", test::EncodeJpeg({64, 64, 3, rgb})},
        {"bmp", test::EncodeBmp({.width = 64, .height = 64, .samples = rgb})},
    };
    for (const auto& [name, bytes] : files) {
        const ImageLoadResult cut = Load({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() * 3 / 4)});
        EXPECT_EQ(cut.error, kPixelsUnreadable) << name;
        EXPECT_TRUE(cut.heights.empty() && cut.width == 0) << name;
    }
}

TEST(ReadHeightImage, TruncatedAndCorruptFilesOfEveryFormatGiveAReason)
{
    std::vector<std::uint8_t> noise(48 * 40 * 3);
    std::mt19937 random(11);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(random());
    test::TiffPage tiff{.width = 48, .height = 40, .samplesPerPixel = 3, .bitsPerSample = 16, .separatePlanes = true};
    for (std::uint8_t b : noise)
        tiff.samples.push_back(b * 200.0);
    test::TiffPage tiled = tiff;
    tiled.tileSize = 16;
    tiled.deflate = true;
    tiled.separatePlanes = false;
    test::GifFixture gif{48, 40, {}, {std::vector<std::uint8_t>(noise.begin(), noise.begin() + 48 * 40)}, true};
    test::BmpFixture rle{.width = 48, .height = 40, .bitsPerPixel = 8, .runLength = true,
                         .samples = std::vector<std::uint8_t>(48 * 40),
                         .palette = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}}};
    for (int i = 0; i < 256; ++i)
        gif.palette.push_back({static_cast<std::uint8_t>(i), 0, 0});
    for (std::size_t i = 0; i < rle.samples.size(); ++i)
        rle.samples[i] = static_cast<std::uint8_t>(i / 5 % 4);
    const std::vector<std::uint16_t> noise16(noise.begin(), noise.end());
    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> files = {
        {"png", Png(48, 40, PngColour::Rgb, 8, noise16)},
        {"png interlaced", test::EncodePng({48, 40, PngColour::Rgb, 8, noise16, {}, true})},
        {"jpeg", test::EncodeJpeg({48, 40, 3, noise})},
        {"jpeg progressive", test::EncodeJpeg({48, 40, 3, noise, 80, true})},
        {"tiff planes", test::EncodeTiff({tiff})},
        {"tiff tiles deflate", test::EncodeTiff({tiled})},
        {"gif", test::EncodeGif(gif)},
        {"bmp", test::EncodeBmp({.width = 48, .height = 40, .samples = noise})},
        {"bmp rle", test::EncodeBmp(rle)},
    };
    const std::set<std::string> reasons = {kOpenFailed, kNoFrame, kNoSize, kTooLarge, kNotConvertible, kPixelsUnreadable};
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Load(bytes).ok);
        for (std::size_t length = 0; length < bytes.size() * 9 / 10; length += 1 + length / 8) {
            const ImageLoadResult r = Load({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)});
            ASSERT_FALSE(r.ok) << "cut at " << length;
            ASSERT_TRUE(reasons.count(r.error)) << r.error;
            ASSERT_TRUE(r.heights.empty());
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
    std::vector<std::uint8_t> rgb(150 * 100 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<std::uint8_t>(i % 253);
    test::WriteAllBytes(folder / "b.jpg", test::EncodeJpeg({150, 100, 3, rgb}));
    const ImageLoadResult a = ReadHeightImage(folder / "a.png", {});
    const ImageLoadResult b = ReadHeightImage(folder / "b.jpg", {.srgbMode = 2});
    ASSERT_TRUE(a.ok && b.ok);
    std::atomic<int> mismatches{0};
    auto work = [&](const char* name, const ImageLoadResult& expected, int mode) {
        for (int i = 0; i < 10; ++i)
            if (ReadHeightImage(folder / name, {.srgbMode = mode}).heights != expected.heights)
                ++mismatches;
    };
    std::thread first(work, "a.png", std::cref(a), 0);
    std::thread second(work, "b.jpg", std::cref(b), 2);
    first.join();
    second.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace grainforge::mesh
