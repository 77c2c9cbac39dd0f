#include "engine/textures/height_map.h"

#include "engine/mesh/parallel_loop.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
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

// A settings record whose tile is exactly one millimetre per pixel of a width x height image.
TextureSettings OnePixelPerMillimetre(int width, int height)
{
    TextureSettings settings;
    settings.lockAspect = false;
    settings.widthMillimetres = static_cast<float>(width);
    settings.heightMillimetres = static_cast<float>(height);
    return settings;
}

// The box pass written plainly, one line at a time, to check the blocked parallel one.
void ReferenceBoxPass(std::vector<float>& image, int width, int height, bool alongRows, int radius, int wrap)
{
    const int lines = alongRows ? height : width;
    const int n = alongRows ? width : height;
    std::vector<float> out(image.size());
    auto at = [&](int line, int position) -> float& {
        const int p = static_cast<int>(WrapPosition(position, n, wrap));
        return alongRows ? image[line * width + p] : image[p * width + line];
    };
    for (int line = 0; line < lines; ++line) {
        double sum = 0.0;
        for (int p = -radius; p <= radius; ++p)
            sum += at(line, p);
        const double scale = 1.0 / static_cast<double>(2 * radius + 1);
        for (int i = 0; i < n; ++i) {
            (alongRows ? out[line * width + i] : out[i * width + line]) = static_cast<float>(sum * scale);
            sum = sum - at(line, i - radius);
            sum = sum + at(line, i + radius + 1);
        }
    }
    image = out;
}

TEST(HeightMap, MismatchedImageEmptiesTheMap)
{
    HeightMap map;
    map.SetImage(4, 4, std::vector<float>(16, 0.5f));
    map.hasMidValue = true;
    map.SetImage(3, 2, std::vector<float>(5, 0.5f));
    EXPECT_EQ(map.width, 0);
    EXPECT_EQ(map.sourceWidth, 0);
    EXPECT_TRUE(map.source.empty());
    EXPECT_TRUE(map.blurred.empty());
    EXPECT_FALSE(map.hasMidValue);
    EXPECT_EQ(map.SampleBilinearWrapped(0.3f, 0.3f), 0.0f);
    map.SetImage(0, 5, {});
    EXPECT_EQ(map.SampleBilinearWrapped(0.3f, 0.3f), 0.0f);
    EXPECT_EQ(map.LevelledPercentile(0.5f), 0.0f);
}

TEST(HeightMap, LockAspectFollowsTheWorkingImage)
{
    HeightMap map;
    map.settings.widthMillimetres = 30.0f;
    map.SetImage(200, 100, std::vector<float>(20000, 0.5f));
    EXPECT_EQ(map.settings.heightMillimetres, 15.0f);

    // After a cross-fade the working image is 160 x 80, still 2:1; unlocked, nothing moves.
    TextureSettings settings = map.settings;
    settings.seamlessMethod = "Cross-fade";
    settings.widthMillimetres = 50.0f;
    map.ApplySettings(settings);
    EXPECT_EQ(map.width, 160);
    EXPECT_EQ(map.height, 80);
    EXPECT_EQ(map.settings.heightMillimetres, 25.0f);
    settings = map.settings;
    settings.lockAspect = false;
    settings.widthMillimetres = 10.0f;
    map.ApplySettings(settings);
    EXPECT_EQ(map.settings.heightMillimetres, 25.0f);
}

TEST(HeightMap, SeamlessStepRunsTheNamedMethodWithItsText)
{
    HeightMap map;
    map.settings.seamlessMethod = "Cross-fade";
    map.settings.seamlessParameters = "percent=10\n";
    map.SetImage(100, 50, RandomImage(100, 50, 2));
    EXPECT_EQ(map.width, 90);
    EXPECT_EQ(map.height, 45);
    EXPECT_EQ(map.sourceWidth, 100);
    EXPECT_EQ(map.seamless.size(), 90u * 45u);
    EXPECT_EQ(map.seamlessReport.methodName, "Cross-fade");

    TextureSettings settings = map.settings;
    settings.seamlessMethod = "cross-fade";  // not one of the four: the image as loaded
    map.ApplySettings(settings);
    EXPECT_EQ(map.width, 100);
    EXPECT_EQ(map.seamless, map.source);
    EXPECT_TRUE(map.seamlessReport.methodName.empty());
}

TEST(HeightMap, ChangingOnlyLevelsRebuildsNothing)
{
    HeightMap map;
    map.settings = OnePixelPerMillimetre(16, 16);
    map.settings.blurMillimetres = 2.0f;
    map.settings.seamlessMethod = "Histogram blend";
    map.SetImage(16, 16, RandomImage(16, 16, 3));
    // Marks in the derived images show whether a step ran again.
    map.seamless[0] = -1.0f;
    map.blurred[0] = -2.0f;

    TextureSettings settings = map.settings;
    settings.blackLevel = 0.2f;
    settings.gamma = 2.0f;
    settings.rotationDegrees = 30.0f;
    map.ApplySettings(settings);
    EXPECT_EQ(map.seamless[0], -1.0f);
    EXPECT_EQ(map.blurred[0], -2.0f);

    settings.blurMillimetres = 3.0f;  // the blur reruns from the (marked) seamless image
    map.ApplySettings(settings);
    EXPECT_EQ(map.seamless[0], -1.0f);
    EXPECT_NE(map.blurred[0], -2.0f);

    map.blurred[0] = -2.0f;
    settings.wrap = 2;
    map.ApplySettings(settings);
    EXPECT_NE(map.blurred[0], -2.0f);

    settings.seamlessParameters = "seed=5";  // both rerun
    map.ApplySettings(settings);
    EXPECT_NE(map.seamless[0], -1.0f);
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
    EXPECT_EQ(map.settings.blackLevel, 0.1f);
    EXPECT_EQ(map.settings.whiteLevel, 0.9f);

    std::vector<float> ramp(101);
    for (int i = 0; i <= 100; ++i)
        ramp[i] = static_cast<float>(i) / 100.0f;
    map.SetImage(101, 1, ramp);
    EXPECT_EQ(map.settings.blackLevel, 0.01f);
    EXPECT_EQ(map.settings.whiteLevel, 0.99f);
}

TEST(HeightMap, LevelValueEdgeCases)
{
    HeightMap map;
    TextureSettings& s = map.settings;
    s.outputBlackLevel = 0.2f;
    s.outputWhiteLevel = 0.8f;
    s.blackLevel = s.whiteLevel = 0.5f;
    EXPECT_EQ(map.LevelValue(0.5f), 0.8f);
    EXPECT_EQ(map.LevelValue(0.49f), 0.2f);

    s.blackLevel = 0.0f;
    s.whiteLevel = 1.0f;
    s.outputBlackLevel = 0.0f;
    s.outputWhiteLevel = 1.0f;
    s.gamma = 2.0f;
    EXPECT_EQ(map.LevelValue(0.5f), 0.25f);  // the exponent as stored, not its inverse
    s.gamma = 0.0f;
    EXPECT_EQ(map.LevelValue(0.5f), 0.5f);
    s.gamma = -3.0f;
    EXPECT_EQ(map.LevelValue(0.25f), 0.25f);
    s.gamma = 1.0f;
    EXPECT_EQ(map.LevelValue(1.5f), 1.0f);
    EXPECT_EQ(map.LevelValue(-0.5f), 0.0f);
    EXPECT_EQ(map.LevelValue(kNaN), 0.0f);
    s.invert = true;
    EXPECT_EQ(map.LevelValue(0.25f), 0.75f);
    s.invert = false;
    s.blackLevel = 0.8f;  // black above white turns the image over
    s.whiteLevel = 0.4f;
    EXPECT_FLOAT_EQ(map.LevelValue(0.5f), 0.75f);
}

TEST(WrapPosition, AddressesBeyondTheEdges)
{
    const struct {
        std::int64_t position;
        std::int32_t wrap;
        std::int64_t pixel;
    } cases[] = {
        {-1, 1, 0}, {4, 1, 3}, {5, 1, 2}, {7, 1, 0}, {8, 1, 0}, {-5, 1, 3}, {-9, 1, 0},
        {-1, 0, 3}, {4, 0, 0}, {-8, 0, 0}, {9, 0, 1},
        {-1, 2, 0}, {4, 2, 3}, {-1000, 2, 0},
        {-1, 7, 3}, {-1, -2, 3},  // other values repeat
    };
    for (const auto& c : cases)
        EXPECT_EQ(WrapPosition(c.position, 4, c.wrap), c.pixel) << c.position << " wrap " << c.wrap;
}

TEST(HeightMap, SamplingBlendsNeighboursByTheWrapMode)
{
    HeightMap map;
    map.settings = OnePixelPerMillimetre(4, 2);
    map.SetImage(4, 2, {0.0f, 0.25f, 0.5f, 1.0f, 0.1f, 0.1f, 0.1f, 0.1f});
    // u = 0 lies between the last and the first column.
    const struct {
        std::int32_t wrap;
        float u;
        float v;
        float expected;
    } cases[] = {
        {0, 0.0f, 0.25f, 0.5f},    // half of column 3 and half of column 0
        {1, 0.0f, 0.25f, 0.0f},    // mirrored: column 0 meets itself
        {2, 0.0f, 0.25f, 0.0f},
        {0, 1.0f, 0.25f, 0.5f},
        {0, 0.5f, 0.25f, 0.375f},    // between columns 1 and 2
        {0, 0.125f, 0.75f, 0.1f},    // row 1 lies at v = 0.75
        {0, -2.875f, 0.25f, 0.0f},   // whole tiles away in either direction
        {0, 3.125f, 1.25f, 0.0f},
    };
    for (const auto& c : cases) {
        map.settings.wrap = c.wrap;
        EXPECT_FLOAT_EQ(map.SampleBilinearWrapped(c.u, c.v), c.expected) << c.wrap << " " << c.u << " " << c.v;
    }
}

TEST(HeightMap, NonFiniteOrHugeTileCoordinatesAreSafe)
{
    HeightMap map;
    map.SetImage(5, 3, RandomImage(5, 3, 4));
    for (const std::int32_t wrap : {0, 1, 2, 9}) {
        map.settings.wrap = wrap;
        for (const float u : {kNaN, kInf, -kInf})
            EXPECT_EQ(map.SampleBilinearWrapped(u, 0.5f), 0.0f);
        EXPECT_EQ(map.SampleBilinearWrapped(0.5f, kNaN), 0.0f);
        for (const float u : {1e30f, -1e30f, 3e38f, 16777217.0f, -2147483648.0f}) {
            const float value = map.SampleBilinearWrapped(u, -u);
            EXPECT_GE(value, 0.0f);
            EXPECT_LE(value, 1.0f);
        }
    }
}

TEST(PlacementToTile, RemovesOffsetTurnsAndScales)
{
    const TilePlacement plain{1.0f, 2.0f, 0.0f, 10.0f, 4.0f};
    const TileCoordinates shifted = PlacementToTile(plain, 6.0f, 4.0f);
    EXPECT_EQ(shifted.u, 0.5f);
    EXPECT_EQ(shifted.v, 0.5f);
    // Turned by minus 90 degrees: the x axis goes to minus y.
    const TileCoordinates turned = PlacementToTile({0.0f, 0.0f, 90.0f, 1.0f, 1.0f}, 1.0f, 0.0f);
    EXPECT_NEAR(turned.u, 0.0f, 1e-6f);
    EXPECT_NEAR(turned.v, -1.0f, 1e-6f);
    const TileCoordinates unsized = PlacementToTile({0.0f, 0.0f, 0.0f, 0.0f, 0.0f}, 3.0f, -2.0f);
    EXPECT_EQ(unsized.u, 3.0f);
    EXPECT_EQ(unsized.v, -2.0f);

    TextureSettings settings;
    settings.offsetMillimetres[0] = 3.0f;
    settings.widthMillimetres = 6.0f;
    settings.heightMillimetres = 12.0f;
    const TileCoordinates tile = settings.ToTile(6.0f, 6.0f);
    EXPECT_EQ(tile.u, 0.5f);
    EXPECT_EQ(tile.v, 0.5f);
}

TEST(HeightMapBlur, RadiusRoundsToWholePixels)
{
    // 10 pixels over 5 mm is 2 px/mm: 0.2 mm is 0.4 px, which rounds to no blur. Over 10/3 mm
    // it is 3 px/mm: 0.6 px rounds to a 3-pixel box.
    std::vector<float> impulse(100, 0.0f);
    impulse[55] = 1.0f;
    HeightMap map;
    map.settings.lockAspect = false;
    map.settings.blurMillimetres = 0.2f;
    map.settings.widthMillimetres = map.settings.heightMillimetres = 5.0f;
    map.SetImage(10, 10, impulse);
    EXPECT_EQ(map.blurred, impulse);

    TextureSettings settings = map.settings;
    settings.widthMillimetres = settings.heightMillimetres = 10.0f / 3.0f;
    map.ApplySettings(settings);
    // Two rounds of a 3-wide box in each direction: the centre keeps 1/9 and the sum stays 1.
    EXPECT_NEAR(map.blurred[55], 1.0f / 9.0f, 1e-6f);
    EXPECT_NEAR(map.blurred[54], 2.0f / 27.0f, 1e-6f);
    double sum = 0.0;
    for (const float value : map.blurred)
        sum += value;
    EXPECT_NEAR(sum, 1.0, 1e-5);
    EXPECT_EQ(map.seamless, impulse);  // the blur never touches the seamless image
}

TEST(HeightMapBlur, FilterRadiusCountsWhenLarger)
{
    HeightMap map;
    map.settings = OnePixelPerMillimetre(8, 8);
    map.SetImage(8, 8, RandomImage(8, 8, 9));
    EXPECT_EQ(map.blurred, map.seamless);
    map.filterMillimetres = 1.0f;
    map.Blur();
    EXPECT_NE(map.blurred, map.seamless);
}

TEST(HeightMapBlur, MatchesTheLineByLinePassBitForBit)
{
    const int width = 37, height = 23;
    const std::vector<float> image = RandomImage(width, height, 6);
    for (const std::int32_t wrap : {0, 1, 2}) {
        for (const float blur : {1.0f, 4.4f, 19.0f}) {
            HeightMap map;
            map.settings = OnePixelPerMillimetre(width, height);
            map.settings.heightMillimetres = height / 2.0f;  // twice the radius down the columns
            map.settings.wrap = wrap;
            map.settings.blurMillimetres = blur;
            map.SetImage(width, height, image);

            std::vector<float> expected = image;
            const int rx = static_cast<int>(std::round(blur));
            const int ry = std::min(static_cast<int>(std::round(blur * 2.0f)), height);
            for (int round = 0; round < 2; ++round) {
                ReferenceBoxPass(expected, width, height, true, rx, wrap);
                ReferenceBoxPass(expected, width, height, false, ry, wrap);
            }
            EXPECT_EQ(map.blurred, expected) << "wrap " << wrap << " blur " << blur;
        }
    }
}

TEST(HeightMapBlur, DoesNotDependOnTheThreadCount)
{
    HeightMap map;
    map.settings = OnePixelPerMillimetre(603, 411);
    map.settings.blurMillimetres = 7.0f;
    map.settings.wrap = 1;
    map.SetImage(603, 411, RandomImage(603, 411, 8));
    const std::vector<float> parallel = map.blurred;
    {
        ThreadLimit one(1);
        map.Blur();
    }
    EXPECT_EQ(map.blurred, parallel);
}

TEST(HeightMap, ExtremeSettingsStaySafe)
{
    const std::vector<float> image = RandomImage(24, 16, 10);
    const float sizes[] = {0.0f, -1.0f, 1e-30f, 1e30f, kInf, kNaN, 30.0f};
    const float radii[] = {1e30f, kInf, kNaN, -5.0f, 1e-30f, 4.0f};
    const float angles[] = {1e30f, -kInf, kNaN, 45.0f};
    const std::int32_t wraps[] = {-7, 0, 1, 2, 99};
    HeightMap map;
    map.SetImage(24, 16, image);
    for (const float size : sizes) {
        for (const float radius : radii) {
            for (const float angle : angles) {
                for (const std::int32_t wrap : wraps) {
                    TextureSettings settings;
                    settings.widthMillimetres = size;
                    settings.heightMillimetres = size;
                    settings.lockAspect = size == 30.0f;
                    settings.blurMillimetres = radius;
                    settings.rotationDegrees = angle;
                    settings.offsetMillimetres[0] = radius;
                    settings.wrap = wrap;
                    settings.autoLevels = true;
                    map.ApplySettings(settings);
                    map.filterMillimetres = radius;
                    map.Blur();
                    for (const float point : {0.0f, 7.5f, -1e20f}) {
                        const TileCoordinates tile = map.settings.ToTile(point, point);
                        const float value = map.LevelValue(map.SampleBilinearWrapped(tile.u, tile.v));
                        ASSERT_TRUE(value >= 0.0f && value <= 1.0f) << size << " " << radius << " " << angle;
                    }
                    const float percentile = map.LevelledPercentile(0.5f);
                    ASSERT_TRUE(percentile >= 0.0f && percentile <= 1.0f);
                }
            }
        }
    }
}

TEST(HeightMapBlur, RadiusBeyondTheImageIsLimitedToItsSize)
{
    // A box as wide as the image (or wider) averages a repeating image to its mean.
    const std::vector<float> image = RandomImage(32, 8, 12);
    double mean = 0.0;
    for (const float value : image)
        mean += value;
    mean /= static_cast<double>(image.size());
    HeightMap map;
    map.settings = OnePixelPerMillimetre(32, 8);
    map.settings.blurMillimetres = 1e30f;
    map.SetImage(32, 8, image);
    for (const float value : map.blurred)
        EXPECT_NEAR(value, mean, 0.02);
}

TEST(Percentile, PicksTheRoundedRank)
{
    EXPECT_EQ(Percentile({}, 0.5f), 0.0f);
    const std::vector<float> values = {5.0f, 1.0f, 3.0f, 2.0f, 4.0f};
    const struct {
        float fraction;
        float expected;
    } cases[] = {{0.0f, 1.0f}, {0.5f, 3.0f}, {0.62f, 3.0f}, {0.63f, 4.0f}, {1.0f, 5.0f},
                 {7.0f, 5.0f}, {-1.0f, 1.0f}, {kNaN, 1.0f}};
    for (const auto& c : cases)
        EXPECT_EQ(Percentile(values, c.fraction), c.expected) << c.fraction;
    // NaN counts as larger than every number, so it cannot upset the selection.
    const std::vector<float> withNaN = {kNaN, 2.0f, kNaN, 1.0f, 3.0f};
    EXPECT_EQ(Percentile(withNaN, 0.0f), 1.0f);
    EXPECT_EQ(Percentile(withNaN, 0.5f), 3.0f);
    EXPECT_TRUE(std::isnan(Percentile(withNaN, 1.0f)));
}

TEST(Percentile, LongListsAgreeWithAFullSelection)
{
    // Long enough for the bucketed selection; narrow clusters, repeats, negative values, both
    // zeros, infinities and NaN.
    std::mt19937 random(13);
    std::normal_distribution<float> cluster(0.5f, 1e-4f);
    std::uniform_real_distribution<float> wide(-1e6f, 1e6f);
    std::vector<float> values(1500000);
    for (std::size_t i = 0; i < values.size(); ++i) {
        switch (i % 7) {
        case 0: values[i] = wide(random); break;
        case 1: values[i] = 0.25f; break;
        case 2: values[i] = (i % 2) ? -0.0f : 0.0f; break;
        case 3: values[i] = i % 1000 == 3 ? kNaN : cluster(random); break;
        case 4: values[i] = i % 5000 == 4 ? -kInf : cluster(random); break;
        default: values[i] = cluster(random); break;
        }
    }
    std::vector<float> numbers;
    for (const float value : values)
        if (!std::isnan(value))
            numbers.push_back(value);
    for (const float fraction : {0.0f, 1e-6f, 0.01f, 0.3f, 0.5f, 0.77f, 0.99f, 0.9985f, 1.0f}) {
        const std::size_t k = std::min(static_cast<std::size_t>((values.size() - 1) * static_cast<double>(fraction) + 0.5),
                                       values.size() - 1);
        const float got = Percentile(values, fraction);
        if (k >= numbers.size()) {
            EXPECT_TRUE(std::isnan(got)) << fraction;
            continue;
        }
        std::vector<float> copy = numbers;
        std::nth_element(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(k), copy.end());
        EXPECT_EQ(got, copy[k]) << fraction;
    }
}

TEST(HeightMap, LevelledPercentileGoesThroughTheLevels)
{
    std::vector<float> ramp(101);
    for (int i = 0; i <= 100; ++i)
        ramp[i] = static_cast<float>(i) / 100.0f;
    HeightMap map;
    map.SetImage(101, 1, ramp);
    map.settings.invert = true;
    EXPECT_NEAR(map.LevelledPercentile(0.01f), 0.01f, 1e-6f);
    EXPECT_NEAR(map.LevelledPercentile(0.99f), 0.99f, 1e-6f);
    map.settings.invert = false;
    map.settings.blackLevel = 0.5f;
    EXPECT_EQ(map.LevelledPercentile(0.3f), 0.0f);
}

JsonView ViewOfText(const std::string& text)
{
    auto document = std::make_shared<JsonValue>(JsonValue::parse(text));
    const JsonValue* value = document.get();
    return JsonView{std::move(document), value};
}

TEST(TextureSettingsJson, WritesEveryFieldInOrder)
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
              R"("invert":false,"blurMillimetres":0.0,"seamlessMethod":"Unchanged","seamlessParameters":"percent=20\n"}})");
    JsonNode other = NewJsonDocument();
    settings.wrap = 7;
    WriteTextureSettingsJson(other, settings);
    EXPECT_EQ((*other.root)["wrap"], 7);
}

TEST(TextureSettingsJson, ReadsBackWhatItWrote)
{
    // Every field off its default.
    const std::string text =
        R"({"widthMillimetres":12.3,"heightMillimetres":4.56,"lockAspect":false,"tiles":false,"wrap":"clamp",)"
        R"("offsetMillimetres":[-0.1,7e-09],"rotationDegrees":33.3,"blackLevel":0.11,"whiteLevel":0.89,)"
        R"("autoLevels":true,"gamma":1.7,"outputBlackLevel":0.2,"outputWhiteLevel":0.7,"invert":true,)"
        R"("blurMillimetres":0.35,"seamlessMethod":"Histogram blend","seamlessParameters":"patches=6\nseed=2\n"})";
    TextureSettings read;
    ReadTextureSettingsJson(ViewOfText(text), read);
    EXPECT_EQ(read.offsetMillimetres[1], 7e-9f);
    EXPECT_EQ(read.wrap, 2);
    JsonNode document = NewJsonDocument();
    WriteTextureSettingsJson(document, read);
    EXPECT_EQ(nlohmann::json::parse(document.root->dump()), nlohmann::json::parse(text));
}

TEST(TextureSettingsJson, DamagedMembersKeepTheirFields)
{
    TextureSettings settings;
    settings.wrap = 1;
    ReadTextureSettingsJson(ViewOfText(R"({
        "widthMillimetres": "40", "heightMillimetres": null, "lockAspect": 0, "wrap": 2,
        "offsetMillimetres": [1, 2, 3], "gamma": 1e39, "blackLevel": 0.25, "whiteLevel": -1e39,
        "seamlessMethod": "histogram blend", "seamlessParameters": 5})"),
                            settings);
    EXPECT_EQ(settings.widthMillimetres, 30.0f);
    EXPECT_EQ(settings.heightMillimetres, 30.0f);
    EXPECT_TRUE(settings.lockAspect);
    EXPECT_EQ(settings.wrap, 1);
    EXPECT_EQ(settings.offsetMillimetres[0], 0.0f);
    EXPECT_EQ(settings.gamma, 1.0f);
    EXPECT_EQ(settings.blackLevel, 0.25f);
    EXPECT_EQ(settings.whiteLevel, 1.0f);
    EXPECT_EQ(settings.seamlessMethod, "Unchanged");
    EXPECT_EQ(settings.seamlessParameters, "");

    ReadTextureSettingsJson(ViewOfText(R"({"wrap": "Clamp", "offsetMillimetres": [1, 2]})"), settings);
    EXPECT_EQ(settings.wrap, 1);  // names compare exactly
    EXPECT_EQ(settings.offsetMillimetres[1], 2.0f);
    ReadTextureSettingsJson(ViewOfText(R"({"wrap": "clamp"})"), settings);
    EXPECT_EQ(settings.wrap, 2);
    ReadTextureSettingsJson(JsonView{}, settings);  // nothing there
    EXPECT_EQ(settings.wrap, 2);
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
    struct Case {
        const char* name;
        std::vector<float> row;
        std::int32_t wrap;
    };
    const Case cases[] = {
        {"constant", std::vector<float>(width, 0.7f), 0},
        {"slow ramp", ramp, 2},
        {"noise", noisy, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeightMap map;
        map.settings = OnePixelPerMillimetre(width, 1);
        map.settings.heightMillimetres = 1e6f;
        map.settings.wrap = c.wrap;
        map.settings.blurMillimetres = static_cast<float>(radius);
        map.SetImage(width, 1, c.row);
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
        float worst = 0.0f;
        for (int i = 0; i < width; ++i)
            worst = std::max(worst, std::fabs(map.blurred[i] - expected[i]));
        EXPECT_LE(worst, 2e-7f);
    }
}

}  // namespace
}  // namespace grainforge::mesh
