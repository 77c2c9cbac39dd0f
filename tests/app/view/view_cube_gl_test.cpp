// The view cube drawn on a real OpenGL 3.3 core context (EGL surfaceless): its faces, labels,
// hovered cell and home button land where its layout says, with or without mipmaps.
#include "app/view/renderer/gl_renderer.h"
#include "platform/gl/headless_gl_surface.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace grainforge::gl {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;

struct Rgb {
    int r, g, b;
};

// Full coverage in the middle of every atlas row, so a label quad's centre shows its colour.
std::vector<std::uint8_t> BlockLabels()
{
    std::vector<std::uint8_t> atlas(static_cast<std::size_t>(kViewCubeAtlasBytes), 0);
    for (int y = 0; y < kViewCubeAtlasRowHeight * kViewCubeAtlasRows; ++y) {
        if (y % kViewCubeAtlasRowHeight < 16 || y % kViewCubeAtlasRowHeight >= 48)
            continue;
        for (int x = 40; x < 120; ++x)
            atlas[static_cast<std::size_t>(y * kViewCubeAtlasWidth + x)] = 255;
    }
    return atlas;
}

class ViewCubeGl : public ::testing::Test {
protected:
    void Open(GlRendererOptions options)
    {
        renderer.reset();
        std::string error;
        surface = HeadlessGlSurface::Create(kWidth, kHeight, error);
        ASSERT_NE(surface, nullptr) << error;
        renderer = std::make_unique<GlRenderer>(std::move(options));
        ASSERT_TRUE(renderer->Initialise(surface.get())) << renderer->LastError();
        renderer->view.width = kWidth;
        renderer->view.height = kHeight;
        renderer->view.showViewCube = 1;
    }

    void Draw()
    {
        renderer->DrawFrame();
        pixels = surface->ReadRgba();
    }

    Rgb Pixel(float x, float y) const
    {
        const std::size_t at = (static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)) * 4;
        return Rgb{pixels[at], pixels[at + 1], pixels[at + 2]};
    }

    static ScreenPoint Centre(const ScreenQuad& q)
    {
        return {(q[0].x + q[1].x + q[2].x + q[3].x) / 4.0f, (q[0].y + q[1].y + q[2].y + q[3].y) / 4.0f};
    }

    std::unique_ptr<HeadlessGlSurface> surface;
    std::unique_ptr<GlRenderer> renderer;
    std::vector<std::uint8_t> pixels;
};

TEST_F(ViewCubeGl, FacesLabelsHoverAndHomeButtonLandWhereTheLayoutSays)
{
    GlRendererOptions options;
    options.viewCubeLabels = BlockLabels;
    Open(std::move(options));
    ASSERT_TRUE(renderer->HasViewCube());
    renderer->viewCubeHover.cellValid = true;
    renderer->viewCubeHover.cell = {0, -1, -1};
    Draw();
    EXPECT_GT(renderer->ViewCubeVertexCount(), 0);
    const ViewCubeLayout layout = renderer->ViewCubeLayoutNow();
    ASSERT_EQ(layout.faces.size(), 3u);

    // Label centres are near white (0.93, 0.94, 0.96).
    for (const ViewCubeFace& face : layout.faces) {
        const ScreenPoint c = Centre(face.label);
        const Rgb p = Pixel(c.x, c.y);
        EXPECT_GT(p.r, 200) << face.id;
        EXPECT_GT(p.b, 200) << face.id;
    }
    // The hovered cell (bottom middle of the Front face) is orange.
    int hoveredCells = 0;
    for (const ViewCubeFace& face : layout.faces) {
        for (const ViewCubeCell& cell : face.cells) {
            if (cell.direction != CellDirection{0, -1, -1})
                continue;
            ++hoveredCells;
            const ScreenPoint c = Centre(cell.quad);
            const Rgb p = Pixel(c.x, c.y);
            EXPECT_GT(p.r, p.b + 40) << face.id;
        }
    }
    EXPECT_EQ(hoveredCells, 1);
    // A plain face cell is the grey face fill, bluish rather than orange.
    const ScreenPoint plain = Centre(layout.faces[0].cells[1].quad);
    const Rgb grey = Pixel(plain.x, plain.y);
    EXPECT_LE(grey.r, grey.b);
    EXPECT_GT(grey.r, 40);
    // The home button's corner shows the dark button fill; the house is light.
    const float s = layout.scale;
    const Rgb button = Pixel(layout.squareX + 3.0f * s, layout.squareY + 3.0f * s);
    EXPECT_LT(button.r, 80);
    const Rgb house = Pixel(layout.squareX + 2.0f * s + 22.0f * s * 0.3f, layout.squareY + 2.0f * s + 22.0f * s * 0.55f);
    EXPECT_GT(house.r, 180);
}

TEST_F(ViewCubeGl, WithoutMipmapsTheLabelsStillShowAndWithoutAPainterThereAreNone)
{
    GlRendererOptions options;
    options.viewCubeLabels = BlockLabels;
    options.resolver = [epoxy = EpoxyProcResolver()](const char* name) -> void* {
        return std::strcmp(name, "glGenerateMipmap") == 0 ? nullptr : epoxy(name);
    };
    Open(std::move(options));
    Draw();
    const ViewCubeLayout layout = renderer->ViewCubeLayoutNow();
    const ScreenPoint c = Centre(layout.faces[0].label);
    EXPECT_GT(Pixel(c.x, c.y).r, 200);

    GlRendererOptions plain;
    plain.viewCubeLabels = [] { return std::vector<std::uint8_t>(12, 255); };  // wrong size: ignored
    Open(std::move(plain));
    Draw();
    EXPECT_LT(Pixel(c.x, c.y).r, 200);
}

TEST_F(ViewCubeGl, TheSwitchLeavesTheCubeOutAndTheSceneUntouched)
{
    Open({});
    const ViewCubeLayout layout = renderer->ViewCubeLayoutNow();
    Draw();
    const Rgb with = Pixel(layout.centreX, layout.centreY);
    renderer->view.showViewCube = 0;
    Draw();
    EXPECT_EQ(renderer->ViewCubeVertexCount(), 0);
    const Rgb without = Pixel(layout.centreX, layout.centreY);
    EXPECT_GT(with.r, without.r + 20);
}

}  // namespace
}  // namespace grainforge::gl
