#include "engine/textures/height_map.h"

#include "tests/support/json_view_of.h"
#include "tests/support/same_on_one_thread.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <numeric>
#include <random>

namespace grainforge::mesh {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<float> RandomImage(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> image(static_cast<std::size_t>(width) * height);
    for (float& value : image)
        value = unit(random);
    return image;
}

// A map of the image whose tile is one millimetre per pixel.
HeightMap MapOf(int width, int height, std::vector<float> image, float blur = 0.0f, std::int32_t wrap = 0)
{
    HeightMap map;
    map.settings.lockAspect = false;
    map.settings.widthMillimetres = static_cast<float>(width);
    map.settings.heightMillimetres = static_cast<float>(height);
    map.settings.blurMillimetres = blur;
    map.settings.wrap = wrap;
    map.SetImage(width, height, std::move(image));
    return map;
}

TEST(HeightMap, MismatchedImageEmptiesTheMap)
{
    HeightMap map = MapOf(4, 4, std::vector<float>(16, 0.5f));
    map.hasMidValue = true;
    map.SetImage(3, 2, std::vector<float>(5, 0.5f));
    EXPECT_TRUE(map.width == 0 && map.sourceWidth == 0 && map.source.empty() && map.blurred.empty());
    EXPECT_FALSE(map.hasMidValue);
    EXPECT_EQ(map.SampleBilinearWrapped(0.3f, 0.3f) + map.LevelledPercentile(0.5f), 0.0f);
}

TEST(HeightMap, LockAspectFollowsTheWorkingImageAfterTheSeamlessStep)
{
    HeightMap map;  // 30 mm wide
    map.SetImage(200, 100, RandomImage(200, 100, 1));
    EXPECT_EQ(map.settings.heightMillimetres, 15.0f);
    TextureSettings settings = map.settings;
    settings.seamlessMethod = "Cross-fade";  // 160 x 80, still 2:1
    settings.seamlessParameters = "percent=20\n";
    settings.widthMillimetres = 50.0f;
    map.ApplySettings(settings);
    EXPECT_TRUE(map.width == 160 && map.height == 80 && map.sourceWidth == 200) << map.width << " x " << map.height;
    EXPECT_EQ(map.settings.heightMillimetres, 25.0f);
    settings = map.settings;
    settings.lockAspect = false;
    settings.widthMillimetres = 10.0f;
    map.ApplySettings(settings);
    EXPECT_EQ(map.settings.heightMillimetres, 25.0f) << "unlocked, the height stays";
}

TEST(HeightMap, ChangingOnlyLevelsRebuildsNothing)
{
    HeightMap map = MapOf(16, 16, RandomImage(16, 16, 3), 2.0f);
    TextureSettings settings = map.settings;
    settings.seamlessMethod = "Histogram blend";
    map.ApplySettings(settings);
    // Marks in the derived images show whether a step ran again.
    const auto mark = [&] { map.seamless.Mutable()[0] = -1.0f, map.blurred.Mutable()[0] = -2.0f; };
    mark();
    settings.blackLevel = 0.2f;
    settings.gamma = 2.0f;
    settings.rotationDegrees = 30.0f;
    map.ApplySettings(settings);
    EXPECT_TRUE(map.seamless[0] == -1.0f && map.blurred[0] == -2.0f);
    for (const char* change : {"blur", "wrap", "tile"}) {
        mark();
        settings.blurMillimetres += change[0] == 'b' ? 1.0f : 0.0f;
        settings.wrap = change[0] == 'w' ? 2 : settings.wrap;
        settings.widthMillimetres += change[0] == 't' ? 1.0f : 0.0f;
        map.ApplySettings(settings);
        EXPECT_TRUE(map.seamless[0] == -1.0f && map.blurred[0] != -2.0f) << change << " reruns the blur only";
    }
    settings.seamlessParameters = "seed=5";
    map.ApplySettings(settings);
    EXPECT_NE(map.seamless[0], -1.0f) << "new parameters rerun the seamless step";
}

TEST(HeightMap, AutoLevelsNeedASpreadOfTheImage)
{
    HeightMap map;
    map.settings.autoLevels = true;
    map.settings.blackLevel = 0.1f;
    map.settings.whiteLevel = 0.9f;
    std::vector<float> flat(100, 0.5f);
    flat[99] = 0.50005f;  // the 99th percentile is still 0.5
    map.SetImage(10, 10, flat);
    EXPECT_TRUE(map.settings.blackLevel == 0.1f && map.settings.whiteLevel == 0.9f);
    std::vector<float> ramp(101);
    for (int i = 0; i <= 100; ++i)
        ramp[i] = static_cast<float>(i) / 100.0f;
    map.SetImage(101, 1, ramp);
    EXPECT_TRUE(map.settings.blackLevel == 0.01f && map.settings.whiteLevel == 0.99f) << "the 1st and 99th percentiles";
    EXPECT_NEAR(map.LevelledPercentile(0.3f), (0.3f - 0.01f) / 0.98f, 1e-6f) << "the percentile through the levels";
}

TEST(HeightMap, LevelValueEdgeCases)
{
    const struct {
        const char* name; float black, white, gamma, outBlack, outWhite; bool invert; float in, out;
    } cases[] = {
        {"black = white, at it", 0.5f, 0.5f, 1, 0.2f, 0.8f, false, 0.5f, 0.8f},
        {"black = white, below", 0.5f, 0.5f, 1, 0.2f, 0.8f, false, 0.49f, 0.2f},
        {"gamma is the exponent", 0, 1, 2, 0, 1, false, 0.5f, 0.25f},
        {"negative gamma: none", 0, 1, -3, 0, 1, false, 0.25f, 0.25f},
        {"above white", 0, 1, 1, 0, 1, false, 1.5f, 1.0f},
        {"below black", 0, 1, 1, 0, 1, false, -0.5f, 0.0f},
        {"NaN", 0, 1, 1, 0, 1, false, kNaN, 0.0f},
        {"invert", 0, 1, 1, 0, 1, true, 0.25f, 0.75f},
        {"black above white turns over", 0.8f, 0.4f, 1, 0, 1, false, 0.5f, 0.75f},
    };
    for (const auto& c : cases) {
        HeightMap map;
        map.settings.blackLevel = c.black;
        map.settings.whiteLevel = c.white;
        map.settings.gamma = c.gamma;
        map.settings.outputBlackLevel = c.outBlack;
        map.settings.outputWhiteLevel = c.outWhite;
        map.settings.invert = c.invert;
        EXPECT_FLOAT_EQ(map.LevelValue(c.in), c.out) << c.name;
    }
}

TEST(WrapPosition, AddressesBeyondTheEdges)
{
    const struct { std::int64_t position; std::int32_t wrap; std::int64_t pixel; } cases[] = {
        {-1, 1, 0}, {4, 1, 3}, {5, 1, 2}, {7, 1, 0}, {8, 1, 0}, {-5, 1, 3}, {-9, 1, 0}, {-1, 0, 3}, {4, 0, 0},
        {-8, 0, 0}, {9, 0, 1}, {-1, 2, 0}, {4, 2, 3}, {-1000, 2, 0}, {-1, 7, 3}, {-1, -2, 3},  // others repeat
    };
    for (const auto& c : cases)
        EXPECT_EQ(WrapPosition(c.position, 4, c.wrap), c.pixel) << c.position << " wrap " << c.wrap;
}

TEST(HeightMap, SamplingBlendsNeighboursByTheWrapMode)
{
    HeightMap map = MapOf(4, 2, {0.0f, 0.25f, 0.5f, 1.0f, 0.1f, 0.1f, 0.1f, 0.1f});
    const struct { std::int32_t wrap; float u, v, expected; } cases[] = {
        {0, 0.0f, 0.25f, 0.5f},  // u = 0 lies between the last and the first column
        {1, 0.0f, 0.25f, 0.0f},  // mirrored: column 0 meets itself
        {2, 0.0f, 0.25f, 0.0f},     {0, 1.0f, 0.25f, 0.5f},   {0, 0.5f, 0.25f, 0.375f},
        {0, 0.125f, 0.75f, 0.1f},   // row 1 lies at v = 0.75
        {0, -2.875f, 0.25f, 0.0f},  {0, 3.125f, 1.25f, 0.0f},  // whole tiles away either way
    };
    for (const auto& c : cases) {
        map.settings.wrap = c.wrap;
        EXPECT_FLOAT_EQ(map.SampleBilinearWrapped(c.u, c.v), c.expected) << c.wrap << " " << c.u << " " << c.v;
    }
    for (const std::int32_t wrap : {0, 1, 2, 9}) {
        map.settings.wrap = wrap;
        for (const float u : {kNaN, kInf, -kInf})
            EXPECT_EQ(map.SampleBilinearWrapped(u, 0.5f) + map.SampleBilinearWrapped(0.5f, u), 0.0f);
        for (const float u : {1e30f, -1e30f, 3e38f, 16777217.0f, -2147483648.0f}) {
            const float value = map.SampleBilinearWrapped(u, -u);
            EXPECT_TRUE(value >= 0.0f && value <= 1.0f) << u << " wrap " << wrap;
        }
    }
}

TEST(PlacementToTile, RemovesOffsetTurnsAndScales)
{
    const struct { TilePlacement placement; float x, y, u, v; } cases[] = {
        {{1.0f, 2.0f, 0.0f, 10.0f, 4.0f}, 6.0f, 4.0f, 0.5f, 0.5f},
        {{0.0f, 0.0f, 90.0f, 1.0f, 1.0f}, 1.0f, 0.0f, 0.0f, -1.0f},  // the x axis goes to minus y
        {{0.0f, 0.0f, 0.0f, 0.0f, 0.0f}, 3.0f, -2.0f, 3.0f, -2.0f},  // size 0 counts as 1
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(PlacementToTile(c.placement, c.x, c.y).u, c.u, 1e-6f);
        EXPECT_NEAR(PlacementToTile(c.placement, c.x, c.y).v, c.v, 1e-6f);
    }
    TextureSettings settings;
    settings.widthMillimetres = 6.0f;
    settings.heightMillimetres = 12.0f;
    settings.offsetMillimetres[0] = 3.0f;
    EXPECT_TRUE(settings.ToTile(6.0f, 6.0f).u == 0.5f && settings.ToTile(6.0f, 6.0f).v == 0.5f);
}

TEST(HeightMapBlur, RadiusRoundsToWholePixelsAndKeepsTheSum)
{
    // 10 pixels over 5 mm: 0.2 mm is 0.4 px, no blur. Over 10/3 mm, 0.6 px rounds to a 3-wide box.
    std::vector<float> impulse(100, 0.0f);
    impulse[55] = 1.0f;
    HeightMap map = MapOf(10, 10, impulse, 0.2f);
    map.settings.widthMillimetres = map.settings.heightMillimetres = 5.0f;
    map.Blur();
    EXPECT_EQ(map.blurred, impulse);
    map.settings.widthMillimetres = map.settings.heightMillimetres = 10.0f / 3.0f;
    map.Blur();
    // Two rounds of a 3-wide box each way: the centre keeps 1/9.
    EXPECT_NEAR(map.blurred[55], 1.0f / 9.0f, 1e-6f);
    EXPECT_NEAR(map.blurred[54], 2.0f / 27.0f, 1e-6f);
    EXPECT_NEAR(std::accumulate(map.blurred.begin(), map.blurred.end(), 0.0), 1.0, 1e-5);
    EXPECT_EQ(map.seamless, impulse) << "the blur never touches the seamless image";
    // The pipeline's filter radius counts when larger.
    HeightMap filtered = MapOf(8, 8, RandomImage(8, 8, 9));
    filtered.filterMillimetres = 1.0f;
    filtered.Blur();
    EXPECT_NE(filtered.blurred, filtered.seamless);
    // A box as wide as the image (or wider) averages a repeating image to its mean.
    const std::vector<float> image = RandomImage(32, 8, 12);
    const double mean = std::accumulate(image.begin(), image.end(), 0.0) / static_cast<double>(image.size());
    for (const float value : MapOf(32, 8, image, 1e30f).blurred)
        EXPECT_NEAR(value, mean, 0.02);
}

// Corners, edges and the middle of a 37 x 23 image blurred by 4 pixels across and 9 down
// under each wrap mode.
TEST(HeightMapBlur, DoesNotDependOnTheThreadCount)
{
    HeightMap map = MapOf(603, 411, RandomImage(603, 411, 8), 7.0f, 1);
    test::ExpectSameOnOneThread([&] {
        map.Blur();
        return map.blurred;
    });
}

TEST(HeightMap, ExtremeSettingsStaySafe)
{
    const float sizes[] = {0.0f, -1.0f, 1e-30f, 1e30f, kInf, kNaN, 30.0f};
    const float radii[] = {1e30f, kInf, kNaN, -5.0f, 1e-30f, 4.0f};
    const float angles[] = {1e30f, -kInf, kNaN, 45.0f};
    const std::int32_t wraps[] = {-7, 0, 1, 2, 99};
    HeightMap map;
    map.SetImage(24, 16, RandomImage(24, 16, 10));
    for (int k = 0; k < 7 * 6 * 4 * 5; ++k) {
        const float size = sizes[k % 7], radius = radii[k / 7 % 6], angle = angles[k / 42 % 4];
        TextureSettings settings;
        settings.widthMillimetres = settings.heightMillimetres = size;
        settings.lockAspect = size == 30.0f;
        settings.blurMillimetres = settings.offsetMillimetres[0] = map.filterMillimetres = radius;
        settings.rotationDegrees = angle;
        settings.wrap = wraps[k / 168];
        settings.autoLevels = true;
        map.ApplySettings(settings);
        map.Blur();
        for (const float point : {0.0f, 7.5f, -1e20f}) {
            const TileCoordinates tile = map.settings.ToTile(point, point);
            const float value = map.LevelValue(map.SampleBilinearWrapped(tile.u, tile.v));
            ASSERT_TRUE(value >= 0.0f && value <= 1.0f) << size << " " << radius << " " << angle;
        }
        const float percentile = map.LevelledPercentile(0.5f);
        ASSERT_TRUE(percentile >= 0.0f && percentile <= 1.0f) << size << " " << radius << " " << angle;
    }
}

TEST(Percentile, PicksTheRoundedRankWithNaNAboveEveryNumber)
{
    EXPECT_EQ(Percentile({}, 0.5f), 0.0f);
    const std::vector<float> values = {5.0f, 1.0f, 3.0f, 2.0f, 4.0f};
    for (const auto& [fraction, expected] : {std::pair{0.0f, 1.0f}, {0.5f, 3.0f}, {0.62f, 3.0f}, {0.63f, 4.0f},
                                             {1.0f, 5.0f}, {7.0f, 5.0f}, {-1.0f, 1.0f}, {kNaN, 1.0f}})
        EXPECT_EQ(Percentile(values, fraction), expected) << fraction;
    const std::vector<float> withNaN = {kNaN, 2.0f, kNaN, 1.0f, 3.0f};
    EXPECT_TRUE(Percentile(withNaN, 0.0f) == 1.0f && Percentile(withNaN, 0.5f) == 3.0f);
    EXPECT_TRUE(std::isnan(Percentile(withNaN, 1.0f)));
}

TEST(Percentile, LongListsAgreeWithAFullSelection)
{
    // Long enough for the bucketed selection; narrow clusters, repeats, negative values, both
    // zeros, infinities and NaN.
    std::mt19937 random(13);
    std::normal_distribution<float> cluster(0.5f, 1e-4f);
    std::uniform_real_distribution<float> wide(-1e6f, 1e6f);
    std::vector<float> values(1500000), numbers;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t kind = i % 7;
        values[i] = kind == 0 ? wide(random) : kind == 1 ? 0.25f : kind == 2 ? ((i % 2) ? -0.0f : 0.0f)
                  : kind == 3 && i % 1000 == 3 ? kNaN : kind == 4 && i % 5000 == 4 ? -kInf : cluster(random);
        if (!std::isnan(values[i]))
            numbers.push_back(values[i]);
    }
    for (const float fraction : {0.0f, 1e-6f, 0.01f, 0.3f, 0.5f, 0.77f, 0.99f, 0.9985f, 1.0f}) {
        const auto k = static_cast<std::size_t>((values.size() - 1) * static_cast<double>(fraction) + 0.5);
        const float got = Percentile(values, fraction);
        if (k >= numbers.size()) {
            EXPECT_TRUE(std::isnan(got)) << fraction;
            continue;
        }
        std::nth_element(numbers.begin(), numbers.begin() + static_cast<std::ptrdiff_t>(k), numbers.end());
        EXPECT_EQ(got, numbers[k]) << fraction;
    }
}

// The file form: every field in order, "wrap" by name, and every field read back. The JSON
// layer's own tests cover the reading rules.
TEST(TextureSettingsJson, WritesEveryFieldInOrderAndReadsItBack)
{
    JsonNode document = NewJsonDocument();
    TextureSettings settings;
    settings.wrap = 1;
    settings.gamma = 0.7f;
    settings.seamlessParameters = "percent=20\n";
    WriteTextureSettingsJson(document.ObjectChild("settings"), settings);
    EXPECT_EQ(document.root->dump(),
              R"({"settings":{"widthMillimetres":30.0,"heightMillimetres":30.0,"lockAspect":true,"tiles":true,)"
              R"("wrap":"mirror","offsetMillimetres":[0.0,0.0],"rotationDegrees":0.0,"blackLevel":0.0,)"
              R"("whiteLevel":1.0,"autoLevels":false,"gamma":0.7,"outputBlackLevel":0.0,"outputWhiteLevel":1.0,)"
              R"("invert":false,"blurMillimetres":0.0,"seamlessMethod":"Unchanged",)"
              R"("seamlessParameters":"percent=20\n"}})");
    const std::string changed =  // every field off its default
        R"({"widthMillimetres":12.3,"heightMillimetres":4.56,"lockAspect":false,"tiles":false,"wrap":"clamp",)"
        R"("offsetMillimetres":[-0.1,7e-09],"rotationDegrees":33.3,"blackLevel":0.11,"whiteLevel":0.89,)"
        R"("autoLevels":true,"gamma":1.7,"outputBlackLevel":0.2,"outputWhiteLevel":0.7,"invert":true,)"
        R"("blurMillimetres":0.35,"seamlessMethod":"Histogram blend","seamlessParameters":"patches=6\nseed=2\n"})";
    TextureSettings read;
    ReadTextureSettingsJson(test::ViewOf(changed), read);
    JsonNode again = NewJsonDocument();
    WriteTextureSettingsJson(again, read);
    EXPECT_EQ(nlohmann::json::parse(again.root->dump()), nlohmann::json::parse(changed));
    read.wrap = 7;
    WriteTextureSettingsJson(again, read);
    EXPECT_EQ((*again.root)["wrap"], 7) << "another mode as a bare integer";
}

// A tile no zoom brings to a printable size (a 1e-30 mm tile was saved, restored and turned the
// view black) keeps the size it had; the widest zoom's ends still read.
TEST(TextureSettingsJson, TileSizesNoZoomCanUseKeepTheirValue)
{
    const std::pair<const char*, float> cases[] = {
        {R"({"widthMillimetres":1e-30})", 30.0f}, {R"({"widthMillimetres":0.0})", 30.0f},
        {R"({"widthMillimetres":-4})", 30.0f},    {R"({"widthMillimetres":1e30})", 30.0f},
        {R"({"widthMillimetres":0.005})", 0.005f}, {R"({"widthMillimetres":200000})", 200000.0f},
    };
    for (const auto& [json, width] : cases) {
        TextureSettings read;
        ReadTextureSettingsJson(test::ViewOf(json), read);
        EXPECT_EQ(read.widthMillimetres, width) << json;
    }
    TextureSettings read;
    ReadTextureSettingsJson(test::ViewOf(R"({"heightMillimetres":1e-20})"), read);
    EXPECT_EQ(read.heightMillimetres, 30.0f);
}

// Rows as long as the largest image: the running sums must not drift along the row. Two rounds
// of a 201-pixel box (the rows only; the tile is so tall that the columns are not blurred),
// checked over the whole row against the average summed afresh at each position, with the
// first round's result held in float as the blur holds it.
TEST(HeightMapBlur, LongRowsStayOnTheExactAverageToTheFarEnd)
{
    const int width = 16384;
    const int radius = 100;
    std::vector<float> ramp(width), noisy = RandomImage(width, 1, 12);
    for (int i = 0; i < width; ++i)
        ramp[i] = 0.25f + 0.5f * static_cast<float>(i) / width;
    const struct { const char* name; std::vector<float> row; std::int32_t wrap; } cases[] = {
        {"constant", std::vector<float>(width, 0.7f), 0}, {"slow ramp", ramp, 2}, {"noise", noisy, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HeightMap map = MapOf(width, 1, c.row, static_cast<float>(radius), c.wrap);
        map.settings.heightMillimetres = 1e6f;
        map.Blur();
        std::vector<float> expected = c.row;
        for (int round = 0; round < 2; ++round) {
            std::vector<float> next(width);
            for (int i = 0; i < width; ++i) {
                double sum = 0.0;
                for (int k = i - radius; k <= i + radius; ++k)
                    sum += expected[static_cast<std::size_t>(WrapPosition(k, width, c.wrap))];
                next[i] = static_cast<float>(sum / (2 * radius + 1));
            }
            expected.swap(next);
        }
        ASSERT_EQ(map.blurred.size(), expected.size());
        for (int i = 0; i < width; ++i)
            ASSERT_NEAR(map.blurred[i], expected[i], 2e-7f) << i;
    }
}

}  // namespace
}  // namespace grainforge::mesh
