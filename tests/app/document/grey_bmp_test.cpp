#include "app/document/grey_bmp.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <climits>
#include <numeric>

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

void PutU32At(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

// N x N bytes that differ from pixel to pixel, so a swapped row or column shows.
std::vector<std::uint8_t> Ramp(std::int32_t side)
{
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(side) * side);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 7 + i / side);
    return pixels;
}

TEST(WriteGreyBmp, A120PixelThumbnailHasTheExactHeaderAndSize)
{
    test::TempFolder folder;
    ASSERT_TRUE(WriteGreyBmp(folder / "t.bmp", Ramp(120), 120));
    const std::vector<std::uint8_t> bytes = test::ReadAllBytes(folder / "t.bmp");
    ASSERT_EQ(bytes.size(), 43254u);  // 54 + 120 x 360
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 2), "BM");
    const std::pair<std::size_t, std::uint32_t> fields[] = {
        {2, 43254}, {6, 0}, {10, 54}, {14, 40}, {18, 120}, {22, 120}, {30, 0}, {34, 43200},
        {38, 0},    {42, 0}, {46, 0}, {50, 0},
    };
    for (const auto& [offset, value] : fields)
        EXPECT_EQ(U32At(bytes, offset), value) << "offset " << offset;
    EXPECT_EQ(std::tuple(bytes[26], bytes[27], bytes[28], bytes[29]), std::tuple(1, 0, 24, 0));
    EXPECT_EQ(folder.List(), std::vector<std::string>{"t.bmp"});  // no temporary file left
}

TEST(WriteGreyBmp, StoresRowsBottomUpPaddedWithZeros)
{
    // 5 pixels take 15 bytes, padded to 16.
    const std::vector<std::uint8_t> pixels = Ramp(5);
    const std::vector<std::uint8_t> bytes = EncodeGreyBmp(pixels, 5);
    ASSERT_EQ(bytes.size(), 54u + 5 * 16);
    for (int row = 0; row < 5; ++row) {
        const std::size_t stored = 54 + 16 * (4 - row);
        for (int column = 0; column < 5; ++column)
            for (int channel = 0; channel < 3; ++channel)
                EXPECT_EQ(bytes[stored + 3 * column + channel], pixels[row * 5 + column]);
        EXPECT_EQ(bytes[stored + 15], 0);
    }
    const std::optional<GreyImage> read = DecodeGreyBmp(bytes);
    ASSERT_TRUE(read);
    EXPECT_EQ(std::tuple(read->width, read->height, read->pixels), std::tuple(5, 5, pixels));
}

TEST(EncodeGreyBmp, RefusesSidesItCannotWriteOrRead)
{
    test::TempFolder folder;
    EXPECT_TRUE(EncodeGreyBmp(Ramp(2), 0).empty());
    EXPECT_TRUE(EncodeGreyBmp(std::vector<std::uint8_t>(4097u * 4097u), 4097).empty());
    EXPECT_FALSE(WriteGreyBmp(folder / "t.bmp", Ramp(2), 1));  // 4 pixels for 1
    EXPECT_FALSE(WriteGreyBmp(folder / "missing/t.bmp", Ramp(2), 2));
    EXPECT_EQ(folder.List(), std::vector<std::string>{});
}

TEST(ReadGreyBmp, ANegativeHeightReadsTopDownLikeAPositiveOneBottomUp)
{
    const std::vector<std::uint8_t> pixels = Ramp(120);
    const std::vector<std::uint8_t> bottomUp = EncodeGreyBmp(pixels, 120);
    std::vector<std::uint8_t> topDown = bottomUp;
    for (int row = 0; row < 120; ++row)
        std::copy_n(bottomUp.begin() + 54 + 360 * (119 - row), 360, topDown.begin() + 54 + 360 * row);
    PutU32At(topDown, 22, static_cast<std::uint32_t>(-120));

    test::TempFolder folder;
    test::WriteAllBytes(folder / "up.bmp", bottomUp);
    test::WriteAllBytes(folder / "down.bmp", topDown);
    const std::optional<GreyImage> up = ReadGreyBmp(folder / "up.bmp");
    const std::optional<GreyImage> down = ReadGreyBmp(folder / "down.bmp");
    ASSERT_TRUE(up && down);
    EXPECT_EQ(std::tuple(down->width, down->height), std::tuple(120, 120));
    EXPECT_EQ(up->pixels, pixels);
    EXPECT_EQ(down->pixels, pixels);
}

TEST(ReadGreyBmp, RefusesHeadersThatDoNotFitTheFile)
{
    const std::vector<std::uint8_t> good = EncodeGreyBmp(Ramp(4), 4);  // stride 12, 48 pixel bytes
    ASSERT_TRUE(DecodeGreyBmp(good));
    const auto changed = [&](std::size_t offset, std::uint32_t value) {
        std::vector<std::uint8_t> bytes = good;
        PutU32At(bytes, offset, value);
        return bytes;
    };
    const std::pair<const char*, std::vector<std::uint8_t>> cases[] = {
        {"shorter than the header", std::vector<std::uint8_t>(good.begin(), good.begin() + 53)},
        {"no BM mark", changed(0, 0)},
        {"32 bits per pixel", changed(28, 32)},
        {"compressed", changed(30, 1)},
        {"width 4097", changed(18, 4097)},
        {"height 0", changed(22, 0)},
        {"height INT_MIN", changed(22, static_cast<std::uint32_t>(INT_MIN))},
        {"one pixel byte short", std::vector<std::uint8_t>(good.begin(), good.end() - 1)},
        {"rows beyond the end", changed(22, 5)},
    };
    for (const auto& [what, bytes] : cases)
        EXPECT_FALSE(DecodeGreyBmp(bytes)) << what;
}

TEST(ReadGreyBmp, APixelOffsetThatWrapsIn32BitsIsRefused)
{
    // Offset + rows x stride = 2^32: in 32-bit arithmetic that is 0, which any file holds, and
    // the pixels would have been read 4 GiB past the end.
    std::vector<std::uint8_t> bytes = EncodeGreyBmp(std::vector<std::uint8_t>(16, 9), 4);
    PutU32At(bytes, 10, 0xFFFFFFF4u);
    PutU32At(bytes, 22, 1);
    EXPECT_FALSE(DecodeGreyBmp(bytes));
}

TEST(ReadGreyBmp, RefusesFilesItCannotOrNeedNotRead)
{
    test::TempFolder folder;
    EXPECT_FALSE(ReadGreyBmp(folder / "missing.bmp"));
    EXPECT_FALSE(ReadGreyBmp(folder.Path()));
    // A picture at most 4096 pixels a side never needs a file this large; a sparse file is
    // enough to show that nothing is read.
    test::WriteAllBytes(folder / "huge.bmp", EncodeGreyBmp(Ramp(2), 2));
    fs::resize_file(folder / "huge.bmp", kMaxGreyBmpFileBytes + 1);
    EXPECT_FALSE(ReadGreyBmp(folder / "huge.bmp"));
    fs::resize_file(folder / "huge.bmp", kMaxGreyBmpFileBytes);
    EXPECT_TRUE(ReadGreyBmp(folder / "huge.bmp"));  // trailing bytes beyond the pixels are allowed
}

}  // namespace
}  // namespace grainforge::app
