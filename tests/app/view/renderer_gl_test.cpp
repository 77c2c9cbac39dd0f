// The renderer on a real OpenGL 3.3 core context (Mesa's llvmpipe on EGL, no display): pixels
// read back from the offscreen framebuffer, and the upload faults a driver can cause.
#include "app/view/renderer/gl_renderer.h"
#include "platform/gl/headless_gl_surface.h"

#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace grainforge::gl {
namespace {

using mesh::TriangleMesh;

constexpr int kSize = 128;

struct Rgb {
    int r, g, b;
};

class RendererGl : public ::testing::Test {
protected:
    void SetUp() override { Open({}); }

    void Open(GlRendererOptions options)
    {
        renderer.reset();
        std::string error;
        surface = HeadlessGlSurface::Create(kSize, kSize, error);
        ASSERT_NE(surface, nullptr) << error;
        renderer = std::make_unique<GlRenderer>(std::move(options));
        ASSERT_TRUE(renderer->Initialise(surface.get())) << renderer->LastError();
        renderer->view.width = kSize;
        renderer->view.height = kSize;
    }

    Rgb Pixel(int x, int y)
    {
        if (pixels.empty())
            pixels = surface->ReadRgba();
        const std::size_t at = (static_cast<std::size_t>(y) * kSize + static_cast<std::size_t>(x)) * 4;
        return Rgb{pixels[at], pixels[at + 1], pixels[at + 2]};
    }

    void Draw()
    {
        renderer->DrawFrame();
        pixels.clear();
    }

    // The pixel (x right, y down) a world point lands on.
    std::pair<int, int> PixelOf(Vec3 p) const
    {
        const Matrix4 m = ViewProjectionMatrix(renderer->CameraState(), renderer->Bounds(), kSize, kSize,
                                               renderer->view.orthographic != 0);
        const float x = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12];
        const float y = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13];
        const float w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
        return {static_cast<int>(std::floor((x / w + 1.0f) * 0.5f * kSize)),
                static_cast<int>(std::floor((1.0f - y / w) * 0.5f * kSize))};
    }

    // Where the ray through a pixel centre meets the plane z = height.
    Vec3 WorldAtPixel(int x, int y, float height) const
    {
        ViewRay ray;
        EXPECT_TRUE(renderer->ScreenRay(static_cast<float>(x), static_cast<float>(y), ray));
        const float t = (height - ray.origin.z) / ray.direction.z;
        return ray.origin + ray.direction * t;
    }

    // Straight down on the 20 mm cube (top face z = 10), x to the right and y up the image.
    void LookDownOnCube(const RenderAttributes* attributes, const TriangleMesh* cube = nullptr)
    {
        ASSERT_TRUE(renderer->UploadMesh(cube != nullptr ? *cube : mesh::MakeTestCube(20.0f), attributes, true))
            << renderer->LastError();
        renderer->SetViewAngles(-90.0f, 89.5f);
        renderer->view.shadingMode = 1;  // the face normal (0, 0, 1) lights the top evenly
    }

    std::unique_ptr<HeadlessGlSurface> surface;
    std::unique_ptr<GlRenderer> renderer;
    std::vector<std::uint8_t> pixels;
};

int Channel(float value)
{
    return static_cast<int>(std::lround(value * 255.0f));
}

void ExpectColour(Rgb actual, Vec3 expected, int tolerance, const char* what)
{
    EXPECT_NEAR(actual.r, Channel(expected.x), tolerance) << what;
    EXPECT_NEAR(actual.g, Channel(expected.y), tolerance) << what;
    EXPECT_NEAR(actual.b, Channel(expected.z), tolerance) << what;
}

// Lighting of a face with normal +z: 0.28 + 0.72 |n . -L|.
float TopFaceIntensity()
{
    const Vec3 light = mesh::Normalized(Vec3{0.45f, 0.8f, 0.35f});
    return 0.28f + 0.72f * light.z;
}

// Every mesh vertex projected by its own x and y, fully textured.
RenderAttributes PlanarAttributes(const TriangleMesh& mesh)
{
    RenderAttributes attributes;
    for (const mesh::MeshVertex& v : mesh.vertices) {
        attributes.vertexProjected.push_back({v.position.x, v.position.y});
        attributes.vertexMask.push_back(1.0f);
    }
    return attributes;
}

int CountPixels(const std::vector<std::uint8_t>& rgba, Rgb colour, int tolerance)
{
    int count = 0;
    for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
        if (std::abs(rgba[i] - colour.r) <= tolerance && std::abs(rgba[i + 1] - colour.g) <= tolerance &&
            std::abs(rgba[i + 2] - colour.b) <= tolerance)
            ++count;
    }
    return count;
}

TEST_F(RendererGl, StartsWithAVersionTextAndDrawsTheClearColourInTheCorner)
{
    EXPECT_TRUE(renderer->IsReady());
    EXPECT_NE(renderer->VersionText().find(" - "), std::string::npos) << renderer->VersionText();
    // The empty scene's floor: 11 lines each way and the three axes.
    EXPECT_EQ(renderer->FloorGrid().count, 4 * 11 + 6);
    ASSERT_TRUE(renderer->UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true));
    Draw();
    ExpectColour(Pixel(0, 0), {0.075f, 0.09f, 0.115f}, 1, "top-left corner");
    ExpectColour(Pixel(kSize - 1, 0), {0.075f, 0.09f, 0.115f}, 1, "top-right corner");
    // The cube's centre is drawn in the part's colour, lit.
    const Rgb centre = Pixel(kSize / 2, kSize / 2);
    EXPECT_GT(centre.r, 40);
    EXPECT_GT(centre.b, centre.r);
}

TEST_F(RendererGl, ACheckerCellIsDarkOrLightAtItsProjectedMillimetre)
{
    // Planar projection by the vertices' own (x, y); or none at all and the blended box,
    // whose +Z side maps the top face by the same (x, y). Without vertex normals every corner
    // blends by its face normal, so the top face has the +Z side alone (near the edges the
    // cube's averaged normals would mix in a little of the sides, as they should).
    TriangleMesh cube = mesh::MakeTestCube(20.0f);
    const RenderAttributes planar = PlanarAttributes(cube);
    RenderAttributes maskOnly;
    maskOnly.vertexMask.assign(cube.vertices.size(), 1.0f);
    for (mesh::MeshVertex& vertex : cube.vertices)
        vertex.normal = Vec3{};
    for (bool blend : {false, true}) {
        LookDownOnCube(blend ? &maskOnly : &planar, &cube);
        ProjectionOverlay overlay;
        overlay.blend = blend ? 1 : 0;
        renderer->SetProjectionOverlay(overlay);
        renderer->view.surfaceMode = 1;
        renderer->view.checkerMillimetres = 5.0f;
        Draw();
        const float light = TopFaceIntensity();
        const Vec3 lightCell = Vec3{0.88f, 0.88f, 0.86f} * light;
        const Vec3 darkCell = Vec3{0.20f, 0.21f, 0.24f} * light;
        struct Cell {
            float x, y;
            bool dark;
        };
        // floor(x / 5) + floor(y / 5) odd is dark; negative cells count from -1.
        const Cell cells[] = {{2.5f, 2.5f, false}, {7.5f, 2.5f, true}, {-2.5f, 2.5f, true},
                              {-2.5f, -2.5f, false}, {7.5f, -7.5f, true}, {-7.5f, -7.5f, false}};
        for (const Cell& cell : cells) {
            const auto [px, py] = PixelOf(Vec3{cell.x, cell.y, 10.0f});
            ExpectColour(Pixel(px, py), cell.dark ? darkCell : lightCell, 2,
                         (std::to_string(cell.x) + ", " + std::to_string(cell.y) + (blend ? " blended" : "")).c_str());
        }
    }
}

TEST_F(RendererGl, WireframeDrawsAmberLinesOnlyWhenAsked)
{
    LookDownOnCube(nullptr);
    const Rgb amber{Channel(0.98f), Channel(0.72f), Channel(0.12f)};
    for (int shading : {0, 2, 3}) {
        renderer->view.shadingMode = shading;
        Draw();
        const int count = CountPixels(surface->ReadRgba(), amber, 2);
        if (shading == 0)
            EXPECT_EQ(count, 0);
        else
            EXPECT_GT(count, 4 * 60) << "shading " << shading;  // at least the top face's outline
    }
}

TEST_F(RendererGl, TheTextureFadesInsideAMaskVolume)
{
    const TriangleMesh cube = mesh::MakeTestCube(20.0f);
    const RenderAttributes attributes = PlanarAttributes(cube);
    LookDownOnCube(&attributes);
    mesh::HeightMap white;
    white.SetImage(2, 2, {1.0f, 1.0f, 1.0f, 1.0f});
    ASSERT_TRUE(renderer->UploadHeightTexture(white));
    mesh::MaskVolume mask;
    mask.shape = mesh::MaskShape::Sphere;
    mask.center = Vec3{0.0f, 0.0f, 10.0f};
    mask.size = Vec3{8.0f, 8.0f, 8.0f};
    mask.featherMillimetres = 4.0f;
    renderer->SetMasks({mask});
    renderer->view.surfaceMode = 3;
    Draw();
    const float light = TopFaceIntensity();
    // Inside: the part's colour; 2 mm out: half faded (smoothstep at 0.5); past the feather:
    // the texture's white.
    for (float x : {0.0f, 6.0f, 9.0f, 3.0f}) {
        const auto [px, py] = PixelOf(Vec3{x, 0.0f, 10.0f});
        const Vec3 at = WorldAtPixel(px, py, 10.0f);
        const float keep = MirrorMaskFactor({MakeMaskUniform(mask)}, at);
        const Vec3 expected = (kDefaultPartColour + (Vec3{1, 1, 1} - kDefaultPartColour) * keep) * light;
        ExpectColour(Pixel(px, py), expected, 2, std::to_string(x).c_str());
    }
    const auto [hx, hy] = PixelOf(Vec3{6.0f, 0.0f, 10.0f});
    EXPECT_NEAR(MirrorMaskFactor({MakeMaskUniform(mask)}, WorldAtPixel(hx, hy, 10.0f)), 0.5f, 0.05f);
}

TEST_F(RendererGl, TheShadersHeightMapMatchesTheEngineSampling)
{
    const TriangleMesh cube = mesh::MakeTestCube(20.0f);
    const RenderAttributes attributes = PlanarAttributes(cube);
    LookDownOnCube(&attributes);
    renderer->view.surfaceMode = 3;
    for (std::int32_t wrap : {0, 1, 2}) {
        mesh::HeightMap map;
        map.settings.lockAspect = false;
        map.settings.widthMillimetres = 8.0f;
        map.settings.heightMillimetres = 8.0f;
        map.settings.offsetMillimetres[0] = 1.0f;
        map.settings.rotationDegrees = 20.0f;
        map.settings.gamma = 1.4f;
        map.settings.wrap = wrap;
        std::vector<float> image(16);
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<float>((i * 7) % 16) / 15.0f;
        map.SetImage(4, 4, image);
        ASSERT_TRUE(renderer->UploadHeightTexture(map));
        Draw();
        const float light = TopFaceIntensity();
        // The top face spans -10..10 mm: tiles on both sides of zero, so negative texels too.
        for (float x = -8.5f; x < 9.0f; x += 2.3f) {
            for (float y = -8.0f; y < 9.0f; y += 2.9f) {
                const auto [px, py] = PixelOf(Vec3{x, y, 10.0f});
                const Vec3 at = WorldAtPixel(px, py, 10.0f);
                const mesh::TileCoordinates tile = map.settings.ToTile(at.x, at.y);
                const float height = map.LevelValue(map.SampleBilinearWrapped(tile.u, tile.v));
                const Rgb pixel = Pixel(px, py);
                EXPECT_NEAR(pixel.g, Channel(height * light), 2) << "wrap " << wrap << " at " << x << ", " << y;
            }
        }
    }
}

TEST_F(RendererGl, SpecialisedProgramsDrawWhatTheGeneralOneDraws)
{
    // Every texture path at once: blended box sides, a mask with a feather, each surface mode.
    TriangleMesh cube = mesh::MakeTestCube(20.0f);
    RenderAttributes attributes = PlanarAttributes(cube);
    mesh::HeightMap map;
    map.SetImage(3, 2, {0.1f, 0.9f, 0.4f, 0.6f, 0.0f, 1.0f});
    mesh::MaskVolume mask;
    mask.center = Vec3{-10.0f, -10.0f, 10.0f};
    mask.size = Vec3{12.0f, 12.0f, 12.0f};
    mask.featherMillimetres = 3.0f;
    ProjectionOverlay blended;
    blended.blend = 1;
    blended.layerTurn[4] = 0.3f;
    blended.layerZoom[0] = 2.0f;
    std::vector<std::vector<std::uint8_t>> images[2];
    for (bool specialise : {true, false}) {
        GlRendererOptions options;
        options.specialisePrograms = specialise;
        Open(options);
        ASSERT_TRUE(renderer->UploadMesh(cube, &attributes, true));
        ASSERT_TRUE(renderer->UploadHeightTexture(map));
        renderer->SetMasks({mask});
        for (bool blend : {false, true}) {
            renderer->SetProjectionOverlay(blend ? blended : ProjectionOverlay{});
            for (int mode : {0, 1, 2, 3}) {
                renderer->view.surfaceMode = mode;
                Draw();
                images[specialise ? 1 : 0].push_back(surface->ReadRgba());
            }
        }
    }
    ASSERT_EQ(images[0].size(), images[1].size());
    for (std::size_t i = 0; i < images[0].size(); ++i) {
        int differing = 0;
        for (std::size_t b = 0; b < images[0][i].size(); ++b)
            differing += std::abs(images[0][i][b] - images[1][i][b]) > 1 ? 1 : 0;
        EXPECT_EQ(differing, 0) << "scene " << i;
    }
}

TEST_F(RendererGl, AnEmptyHeightMapRemovesTheTexture)
{
    mesh::HeightMap map;
    map.SetImage(2, 2, {0.0f, 1.0f, 1.0f, 0.0f});
    ASSERT_TRUE(renderer->UploadHeightTexture(map));
    EXPECT_TRUE(renderer->HasHeightTexture());
    EXPECT_FALSE(renderer->UploadHeightTexture(mesh::HeightMap{}));
    EXPECT_FALSE(renderer->HasHeightTexture());
    // A size that promises more samples than the map holds is refused, not read past its end.
    ASSERT_TRUE(renderer->UploadHeightTexture(map));
    map.width = 64;
    map.height = 64;
    EXPECT_FALSE(renderer->UploadHeightTexture(map));
    EXPECT_FALSE(renderer->HasHeightTexture());
}

TEST_F(RendererGl, RefusesABrokenMeshAndKeepsWhatWasThere)
{
    ASSERT_TRUE(renderer->UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true));
    TriangleMesh broken = mesh::MakeTestCube(20.0f);
    broken.indices.resize(4);
    EXPECT_FALSE(renderer->UploadMesh(broken, nullptr, true));
    EXPECT_EQ(renderer->LastError(), "Cannot upload an empty mesh or a mesh with invalid indices.");
    EXPECT_EQ(renderer->IndexCount(), 36);
    EXPECT_FALSE(renderer->UploadMesh(TriangleMesh{}, nullptr, true));
    EXPECT_EQ(renderer->IndexCount(), 36);
}

TEST_F(RendererGl, UploadProjectionNeedsTheSameIndexCount)
{
    const TriangleMesh cube = mesh::MakeTestCube(20.0f);
    ASSERT_TRUE(renderer->UploadMesh(cube, nullptr, true));
    const RenderAttributes attributes = PlanarAttributes(cube);
    EXPECT_TRUE(renderer->UploadProjection(cube, &attributes));
    EXPECT_FALSE(renderer->UploadProjection(mesh::MakeTestCylinder(5.0f, 5.0f), &attributes));
}

TEST_F(RendererGl, FitsTheCameraOnlyWhenAsked)
{
    ASSERT_TRUE(renderer->UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true));
    const float fitted = renderer->CameraState().distance;
    EXPECT_NEAR(fitted, 10.0f * std::sqrt(3.0f) / std::sin(kHalfFieldOfView) * 1.15f, 1e-3f);
    ASSERT_TRUE(renderer->UploadMesh(mesh::MakeTestCube(100.0f), nullptr, false));
    EXPECT_EQ(renderer->CameraState().distance, fitted);
    renderer->ClearScene();
    EXPECT_EQ(renderer->IndexCount(), 0);
    EXPECT_EQ(renderer->Bounds().radius, 1.0f);
    EXPECT_NEAR(renderer->CameraState().distance, 1.0f / std::sin(kHalfFieldOfView) * 1.15f, 1e-4f);
}

TEST_F(RendererGl, NonFiniteBoundsKeepTheEmptySceneFloorAndTheCamera)
{
    ASSERT_TRUE(renderer->UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true));
    const Camera before = renderer->CameraState();
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        TriangleMesh cube = mesh::MakeTestCube(20.0f);
        cube.vertices[3].position.z = bad;
        cube.ComputeBounds();
        ASSERT_TRUE(renderer->UploadMesh(cube, nullptr, true)) << renderer->LastError();
        EXPECT_EQ(renderer->Bounds().floorHalfExtent, 5.0f);
        EXPECT_EQ(renderer->Bounds().radius, 1.0f);
        EXPECT_EQ(renderer->FloorGrid().count, 4 * 11 + 6);
        EXPECT_EQ(renderer->CameraState().distance, before.distance);
        EXPECT_EQ(renderer->CameraState().target, before.target);
        EXPECT_EQ(renderer->BoundingBoxOverlay().count, 0);
        Draw();  // draws without asking for anything undefined
    }
}

TEST_F(RendererGl, NormalsSwitchedOnLaterComeFromTheKeptVertices)
{
    const TriangleMesh cube = mesh::MakeTestCube(20.0f);
    ASSERT_TRUE(renderer->UploadMesh(cube, nullptr, true));
    EXPECT_EQ(renderer->NormalsOverlay().count, 0);
    EXPECT_EQ(renderer->BoundingBoxOverlay().count, 24);
    renderer->view.showNormals = 1;
    ASSERT_TRUE(renderer->MakeCurrent());
    renderer->BuildNormalsOverlay();
    EXPECT_EQ(renderer->NormalsOverlay().count, 2 * static_cast<int>(cube.vertices.size()));
}

TEST_F(RendererGl, AnEmptyGizmoRemovesTheHandles)
{
    GizmoGeometry gizmo;
    gizmo.linePoints = {Vec3{0, 0, 0}, Vec3{1, 0, 0}};
    renderer->UploadHandleOverlay(gizmo);
    EXPECT_EQ(renderer->HandleLinesOverlay().count, 2);
    renderer->UploadHandleOverlay(GizmoGeometry{});
    EXPECT_EQ(renderer->HandleLinesOverlay().count, 0);
    Draw();
}

TEST_F(RendererGl, GpuTimingArrivesOnlyAfterThreeFrames)
{
    ASSERT_TRUE(renderer->UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true));
    for (int frame = 0; frame < 3; ++frame) {
        Draw();
        EXPECT_FALSE(renderer->Statistics().gpuTimingValid) << frame;
    }
    for (int frame = 0; frame < 3; ++frame)
        Draw();
    EXPECT_TRUE(renderer->Statistics().gpuTimingValid);
    EXPECT_GT(renderer->Statistics().frameMilliseconds, 0.0);
}

TEST_F(RendererGl, InitialiseTwiceAndWithoutASurface)
{
    ASSERT_TRUE(renderer->Initialise(surface.get()));
    EXPECT_TRUE(renderer->UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true));
    EXPECT_FALSE(renderer->Initialise(nullptr));
    EXPECT_EQ(renderer->LastError(), "Cannot initialize OpenGL without a viewport window.");
    EXPECT_FALSE(renderer->IsReady());
    EXPECT_FALSE(renderer->UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true));
    // Released, every operation does nothing rather than call OpenGL without a context.
    renderer->BuildNormalsOverlay();
    renderer->UploadHandleOverlay(GizmoGeometry{{Vec3{}, Vec3{1, 0, 0}}, {}, {}, {}});
    EXPECT_FALSE(renderer->UploadHeightTexture(mesh::HeightMap{}));
    renderer->DrawFrame();
    EXPECT_EQ(renderer->NormalsOverlay().count, 0);
    EXPECT_EQ(renderer->HandleLinesOverlay().count, 0);
}

// ---- Drivers that fail --------------------------------------------------------------------

// A surface whose context can be lost: MakeCurrent then fails, as a window's does when its
// context is gone.
class LosableSurface final : public GlSurface {
public:
    explicit LosableSurface(GlSurface& real) : real_(real) {}
    bool MakeCurrent() override { return !lost && real_.MakeCurrent(); }
    void SwapBuffers() override { real_.SwapBuffers(); }
    GlSurfaceSize Size() const override { return real_.Size(); }
    bool lost = false;

private:
    GlSurface& real_;
};

TEST(RendererGlDriver, ALostContextFailsTheUploadAndDrawsNothing)
{
    std::string error;
    auto surface = HeadlessGlSurface::Create(16, 16, error);
    ASSERT_NE(surface, nullptr) << error;
    LosableSurface losable(*surface);
    losable.lost = true;
    GlRenderer renderer;
    EXPECT_FALSE(renderer.Initialise(&losable));
    EXPECT_EQ(renderer.LastError(), "The display driver could not create an OpenGL 3.3 Core context.");

    losable.lost = false;
    ASSERT_TRUE(renderer.Initialise(&losable)) << renderer.LastError();
    ASSERT_TRUE(renderer.UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true));
    losable.lost = true;
    EXPECT_FALSE(renderer.UploadMesh(mesh::MakeTestSphere(5.0f), nullptr, true));
    EXPECT_EQ(renderer.LastError(), "Could not activate the OpenGL context for mesh upload.");
    EXPECT_EQ(renderer.IndexCount(), 36);
    renderer.DrawFrame();
    renderer.ClearScene();
    EXPECT_EQ(renderer.IndexCount(), 36);  // nothing happens without the context
    renderer.Release();                     // forgets the names without calling OpenGL
    EXPECT_EQ(renderer.IndexCount(), 0);
    EXPECT_FALSE(renderer.IsReady());
}

// A driver that answers null for one name; everything else is the real one.
GlProcResolver Without(std::string missing)
{
    return [missing, real = EpoxyProcResolver()](const char* name) -> void* {
        return missing == name ? nullptr : real(name);
    };
}

TEST(RendererGlDriver, AMissingEntryPointStopsStartUpWithItsName)
{
    std::string error;
    auto surface = HeadlessGlSurface::Create(16, 16, error);
    ASSERT_NE(surface, nullptr) << error;
    for (const char* name : {"glGenVertexArrays", "glCreateProgram", "glGetError"}) {
        GlRenderer renderer(GlRendererOptions{Without(name)});
        EXPECT_FALSE(renderer.Initialise(surface.get()));
        EXPECT_EQ(renderer.LastError(), std::string("OpenGL driver does not provide ") + name + ".");
        EXPECT_FALSE(renderer.IsReady());
    }
}

TEST(RendererGlDriver, WithoutTimerQueriesFramesDrawWithoutGpuTime)
{
    std::string error;
    auto surface = HeadlessGlSurface::Create(16, 16, error);
    ASSERT_NE(surface, nullptr) << error;
    GlRenderer renderer(GlRendererOptions{Without("glGetQueryObjectui64v")});
    ASSERT_TRUE(renderer.Initialise(surface.get())) << renderer.LastError();
    for (int frame = 0; frame < 6; ++frame)
        renderer.DrawFrame();
    EXPECT_FALSE(renderer.Statistics().gpuTimingValid);
}

// glBufferData that runs out of graphics memory while armed: the driver stores nothing and
// reports GL_OUT_OF_MEMORY at the next glGetError.
bool gBufferDataFails = false;
GLenum gPendingError = GL_NO_ERROR;

void APIENTRY FailingBufferData(GLenum target, GLsizeiptr size, const void* data, GLenum usage)
{
    if (gBufferDataFails) {
        gPendingError = GL_OUT_OF_MEMORY;
        return;
    }
    glBufferData(target, size, data, usage);
}

GLenum APIENTRY PendingGetError()
{
    if (gPendingError != GL_NO_ERROR) {
        const GLenum error = gPendingError;
        gPendingError = GL_NO_ERROR;
        return error;
    }
    return glGetError();
}

GlProcResolver OutOfMemoryDriver()
{
    return [real = EpoxyProcResolver()](const char* name) -> void* {
        const std::string n = name;
        if (n == "glBufferData")
            return reinterpret_cast<void*>(&FailingBufferData);
        if (n == "glGetError")
            return reinterpret_cast<void*>(&PendingGetError);
        return real(name);
    };
}

TEST(RendererGlDriver, GraphicsMemoryRunningOutFailsTheUploadWithAText)
{
    std::string error;
    auto surface = HeadlessGlSurface::Create(16, 16, error);
    ASSERT_NE(surface, nullptr) << error;
    GlRenderer renderer(GlRendererOptions{OutOfMemoryDriver()});
    ASSERT_TRUE(renderer.Initialise(surface.get())) << renderer.LastError();
    ASSERT_TRUE(renderer.UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true));

    gBufferDataFails = true;
    const bool uploaded = renderer.UploadMesh(mesh::MakeTestSphere(10.0f), nullptr, true);
    gBufferDataFails = false;
    EXPECT_FALSE(uploaded);
    EXPECT_EQ(renderer.LastError(), "The graphics card has not enough memory for the mesh.");
    // Nothing half-made is left to draw; the view can now try a reduced copy.
    EXPECT_EQ(renderer.IndexCount(), 0);
    renderer.DrawFrame();
    EXPECT_TRUE(renderer.UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true));
    EXPECT_EQ(renderer.IndexCount(), 36);

    // An overlay the card cannot hold is left out rather than drawn from an empty buffer.
    GizmoGeometry gizmo;
    gizmo.linePoints = {Vec3{0, 0, 0}, Vec3{1, 0, 0}};
    gBufferDataFails = true;
    renderer.UploadHandleOverlay(gizmo);
    gBufferDataFails = false;
    EXPECT_EQ(renderer.HandleLinesOverlay().count, 0);
    EXPECT_EQ(renderer.HandleLinesOverlay().vertexArray, 0u);
}

TEST(RendererGlDriver, HostMemoryRunningOutFailsTheUploadAndKeepsThePreviousPart)
{
    std::string error;
    auto surface = HeadlessGlSurface::Create(16, 16, error);
    ASSERT_NE(surface, nullptr) << error;
    // Room for the cube's 36 corners, not for the sphere's 27,072.
    GlRenderer renderer(GlRendererOptions{{}, 1000 * kHostBytesPerCorner});
    ASSERT_TRUE(renderer.Initialise(surface.get())) << renderer.LastError();
    ASSERT_TRUE(renderer.UploadMesh(mesh::MakeTestCube(20.0f), nullptr, true));
    EXPECT_FALSE(renderer.UploadMesh(mesh::MakeTestSphere(10.0f), nullptr, true));
    EXPECT_EQ(renderer.LastError(), "Not enough memory to prepare the mesh for display.");
    EXPECT_EQ(renderer.IndexCount(), 36);
}

}  // namespace
}  // namespace grainforge::gl
