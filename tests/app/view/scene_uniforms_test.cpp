#include "app/view/renderer/main_shader.h"
#include "app/view/renderer/scene_uniforms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace grainforge::gl {
namespace {

using mesh::HeightMap;
using mesh::MaskShape;
using mesh::MaskVolume;

// A 4 x 4 map with every texel different, laid one tile per 8 mm, not blurred.
HeightMap FourByFour(std::int32_t wrap)
{
    HeightMap map;
    map.settings.lockAspect = false;
    map.settings.widthMillimetres = 8.0f;
    map.settings.heightMillimetres = 8.0f;
    map.settings.wrap = wrap;
    std::vector<float> pixels(16);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<float>((i * 7) % 16) / 15.0f;
    map.SetImage(4, 4, pixels);
    return map;
}

TEST(MirrorWrapTexel, WrapsNegativeIndicesByFlooredModulo)
{
    struct Case {
        int index, mode, expected;
    };
    // On a 4-texel row: mode 0 repeat, 1 mirror (edge texel repeated at the fold), 2 clamp.
    const Case cases[] = {{-1, 0, 3}, {-1, 1, 0}, {-1, 2, 0}, {-5, 0, 3}, {-5, 1, 3}, {-5, 2, 0},
                          {4, 0, 0},  {4, 1, 3},  {4, 2, 3},  {7, 1, 0},  {8, 1, 0},  {-8, 1, 0},
                          {-9, 1, 0}, {-9, 0, 3}, {2, 0, 2},  {2, 1, 2},  {9, 7, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(MirrorWrapTexel(c.index, 4, c.mode), c.expected) << c.index << " mode " << c.mode;
        // The engine's own addressing agrees (any mode outside the table repeats).
        EXPECT_EQ(mesh::WrapPosition(c.index, 4, c.mode), c.expected) << c.index << " mode " << c.mode;
    }
}

TEST(MirrorSampleHeight, MatchesTheEngineSamplingInEveryWrapMode)
{
    for (std::int32_t wrap : {0, 1, 2}) {
        const HeightMap map = FourByFour(wrap);
        ASSERT_EQ(map.blurred.size(), 16u);
        // From two tiles below zero to two above, off the texel grid, so negative indices,
        // folds and clamped edges are all crossed.
        for (float u = -2.03f; u < 2.1f; u += 0.137f) {
            for (float v = -1.91f; v < 2.1f; v += 0.173f) {
                const float engine = map.SampleBilinearWrapped(u, v);
                const float mirror = MirrorSampleHeight(map.blurred, 4, 4, wrap, u, v);
                ASSERT_NEAR(mirror, engine, 2e-6f) << "wrap " << wrap << " at " << u << ", " << v;
            }
        }
    }
}

TEST(MirrorHeightAt, PlacesAndLevelsAsTheEngineDoes)
{
    HeightMap map = FourByFour(1);
    map.settings.offsetMillimetres[0] = -3.0f;
    map.settings.offsetMillimetres[1] = 1.5f;
    map.settings.rotationDegrees = 30.0f;
    map.settings.blackLevel = 0.1f;
    map.settings.whiteLevel = 0.8f;
    map.settings.gamma = 1.7f;
    map.settings.outputBlackLevel = 0.2f;
    map.settings.outputWhiteLevel = 0.9f;
    map.settings.invert = true;
    const TextureUniforms uniforms = MakeTextureUniforms(map.settings);
    EXPECT_NEAR(uniforms.rotationRadians, 30.0f * 3.1415927f / 180.0f, 1e-7f);
    for (float x = -13.0f; x < 13.0f; x += 1.37f) {
        for (float y = -11.0f; y < 11.0f; y += 1.91f) {
            const mesh::TileCoordinates tile = map.settings.ToTile(x, y);
            const std::array<float, 2> normalised = MirrorToNormalized(uniforms, x, y);
            ASSERT_NEAR(normalised[0], tile.u, 1e-6f);
            ASSERT_NEAR(normalised[1], tile.v, 1e-6f);
            const float engine = map.LevelValue(map.SampleBilinearWrapped(tile.u, tile.v));
            ASSERT_NEAR(MirrorHeightAt(uniforms, map.blurred, 4, 4, x, y), engine, 1e-5f) << x << ", " << y;
        }
    }
}

TEST(MirrorLevels, EqualBlackAndWhiteGiveAHardStepAtWhite)
{
    TextureUniforms uniforms;
    uniforms.blackLevel = 0.4f;
    uniforms.whiteLevel = 0.4f;
    EXPECT_EQ(MirrorLevels(uniforms, 0.3999f), 0.0f);
    EXPECT_EQ(MirrorLevels(uniforms, 0.4f), 1.0f);
    // A zero tile size reads as 1 mm.
    uniforms.sizeMillimetres[0] = 0.0f;
    EXPECT_EQ(MirrorToNormalized(uniforms, 3.0f, 0.0f)[0], 3.0f);
}

TEST(MakeMaskUniform, TurnsTheAxesAndKeepsAMinimumSize)
{
    MaskVolume mask;
    mask.size = Vec3{0.0f, 4.0f, 4.0f};
    mask.rotationDegrees = Vec3{0.0f, 0.0f, 90.0f};
    mask.featherMillimetres = 2.5f;
    mask.shape = MaskShape::Cylinder;
    const MaskUniform uniform = MakeMaskUniform(mask);
    EXPECT_EQ(uniform.shape, 1);
    EXPECT_FLOAT_EQ(uniform.half.x, 0.0005f);
    EXPECT_FLOAT_EQ(uniform.half.y, 2.0f);
    EXPECT_NEAR(uniform.axisX.x, 0.0f, 1e-6f);
    EXPECT_NEAR(uniform.axisX.y, 1.0f, 1e-6f);
    EXPECT_NEAR(uniform.axisY.x, -1.0f, 1e-6f);
    EXPECT_FLOAT_EQ(uniform.feather, 2.5f);
}

TEST(MirrorMaskInside, FadesOverTheFeatherAsTheEngineDistanceSays)
{
    // A sphere of half size 2 is 1 mm away at radius 3; a 2 mm feather is then half faded.
    MaskVolume sphere;
    sphere.shape = MaskShape::Sphere;
    sphere.size = Vec3{4.0f, 4.0f, 4.0f};
    sphere.featherMillimetres = 2.0f;
    EXPECT_FLOAT_EQ(MirrorMaskInside(MakeMaskUniform(sphere), Vec3{3.0f, 0.0f, 0.0f}), 0.5f);

    MaskVolume box;
    box.shape = MaskShape::Box;
    box.center = Vec3{1.0f, -2.0f, 0.5f};
    box.rotationDegrees = Vec3{10.0f, 20.0f, 30.0f};
    box.size = Vec3{6.0f, 3.0f, 2.0f};
    box.featherMillimetres = 3.0f;
    MaskVolume cylinder = box;
    cylinder.shape = MaskShape::Cylinder;
    cylinder.size = Vec3{5.0f, 5.0f, 4.0f};  // a round cylinder, where the engine is exact
    for (const MaskVolume* mask : {&sphere, &box, &cylinder}) {
        const MaskUniform uniform = MakeMaskUniform(*mask);
        for (float x = -6.0f; x <= 6.0f; x += 0.7f) {
            for (float z = -5.0f; z <= 5.0f; z += 0.9f) {
                const Vec3 p = mask->center + Vec3{x, 0.3f * x, z};
                const float d = mesh::MaskSignedDistance(*mask, p);
                const float t = d / mask->featherMillimetres;
                const float expected = d <= 0.0f ? 1.0f : d >= mask->featherMillimetres ? 0.0f
                                                                                       : 1.0f - t * t * (3.0f - 2.0f * t);
                ASSERT_NEAR(MirrorMaskInside(uniform, p), expected, 2e-4f)
                    << "shape " << uniform.shape << " at " << x << ", " << z;
            }
        }
    }
}

TEST(MirrorMaskFactor, TheStrongestVolumeWins)
{
    MaskVolume near;
    near.shape = MaskShape::Sphere;
    near.size = Vec3{2.0f, 2.0f, 2.0f};
    MaskVolume far = near;
    far.center = Vec3{50.0f, 0.0f, 0.0f};
    const std::vector<MaskUniform> masks = {MakeMaskUniform(far), MakeMaskUniform(near)};
    EXPECT_EQ(MirrorMaskFactor(masks, Vec3{}), 0.0f);
    EXPECT_EQ(MirrorMaskFactor(masks, Vec3{20.0f, 0.0f, 0.0f}), 1.0f);
    EXPECT_EQ(MirrorMaskFactor({}, Vec3{}), 1.0f);
}

TEST(SpliceFragmentShader, PutsBothSharedBlocksAtTheMarker)
{
    const MainShaderSources& sources = MainShaderText();
    for (std::string_view text : {sources.vertex, sources.fragment, sources.heightBlock, sources.blendBlock})
        EXPECT_EQ(text.front(), '\n');
    EXPECT_EQ(sources.vertex.substr(0, 18), "\n#version 330 core");
    EXPECT_EQ(sources.fragment.substr(0, 18), "\n#version 330 core");
    const std::string spliced = SpliceFragmentShader(sources);
    EXPECT_EQ(spliced.find(kSharedMarker), std::string::npos);
    const std::size_t height = spliced.find(sources.heightBlock);
    ASSERT_NE(height, std::string::npos);
    EXPECT_EQ(spliced.find(sources.blendBlock), height + sources.heightBlock.size());
    EXPECT_EQ(spliced.size(), sources.fragment.size() - kSharedMarker.size() + sources.heightBlock.size() +
                                  sources.blendBlock.size());
    // Only the first marker is replaced.
    const MainShaderSources twice{sources.vertex, "a//@SHARED@b//@SHARED@", "H", "B"};
    EXPECT_EQ(SpliceFragmentShader(twice), "aHBb//@SHARED@");
}

TEST(SpecialiseShader, FixesTheModeRightAfterTheVersionLine)
{
    const std::string text = SpecialiseShader("\n#version 330 core\nvoid main() {}\n", {3, true, false});
    EXPECT_EQ(text,
              "\n#version 330 core\n#define FIXED_SURFACE_MODE 3\n#define FIXED_BLEND true\n"
              "#define FIXED_MASKS false\nvoid main() {}\n");
    // Each combination the frame can ask for has its own slot.
    std::set<int> keys;
    for (int mode : {1, 3})
        for (bool blend : {false, true})
            for (bool masks : {false, true})
                keys.insert(MainShaderVariant{mode, blend, masks}.Key());
    keys.insert(MainShaderVariant{}.Key());
    EXPECT_EQ(keys.size(), 9u);
}

}  // namespace
}  // namespace grainforge::gl
