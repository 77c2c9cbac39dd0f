// Draws a 20 mm test cube with the renderer on a headless OpenGL context and writes one PNG per
// display mode (plain, checkerboard, height map, wireframe, solid and wire, a mask volume), so a
// person can look at what the viewport will show. No display is needed.
//
//   render_shots [folder] [width] [height]     (default /tmp/render-shots, 640 x 480)
#include "app/view/renderer/gl_renderer.h"
#include "platform/gl/headless_gl_surface.h"

#include "engine/mesh/test_shapes.h"

#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using grainforge::gl::GlRenderer;
using grainforge::gl::HeadlessGlSurface;
using grainforge::gl::RenderAttributes;
using grainforge::mesh::TriangleMesh;
using grainforge::mesh::Vec3;

bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgba)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool written = false;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int row = 0; row < height; ++row)
            png_write_row(png, rgba.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(width) * 4);
        png_write_end(png, nullptr);
        written = true;
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return written;
}

// A box projection by the dominant axis of each triangle's normal, so every side of the cube
// gets the texture the right way up.
RenderAttributes BoxProjection(const TriangleMesh& mesh)
{
    RenderAttributes attributes;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3 n = mesh.FaceNormal(t);
        for (std::size_t k = 3 * t; k < 3 * t + 3; ++k) {
            const Vec3 p = mesh.vertices[mesh.indices[k]].position;
            if (std::fabs(n.z) >= std::fabs(n.x) && std::fabs(n.z) >= std::fabs(n.y))
                attributes.cornerProjected.push_back({p.x, p.y});
            else if (std::fabs(n.x) >= std::fabs(n.y))
                attributes.cornerProjected.push_back({p.y, p.z});
            else
                attributes.cornerProjected.push_back({p.x, p.z});
            attributes.cornerMask.push_back(1.0f);
        }
    }
    return attributes;
}

// Concentric rings with a soft bump in each quarter, 128 x 128, repeated every 12 mm.
grainforge::mesh::HeightMap RingsHeightMap()
{
    constexpr int kSide = 128;
    std::vector<float> pixels(static_cast<std::size_t>(kSide) * kSide);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const float u = (static_cast<float>(x) + 0.5f) / kSide - 0.5f;
            const float v = (static_cast<float>(y) + 0.5f) / kSide - 0.5f;
            const float r = std::sqrt(u * u + v * v);
            pixels[static_cast<std::size_t>(y) * kSide + static_cast<std::size_t>(x)] =
                0.5f + 0.5f * std::cos(r * 40.0f) * std::exp(-r * 2.0f);
        }
    }
    grainforge::mesh::HeightMap map;
    map.settings.lockAspect = false;
    map.settings.widthMillimetres = 12.0f;
    map.settings.heightMillimetres = 12.0f;
    map.SetImage(kSide, kSide, std::move(pixels));
    return map;
}

struct Shot {
    const char* name;
    int surfaceMode;
    int shadingMode;
    bool mask;
};

}  // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : "/tmp/render-shots";
    const int width = argc > 2 ? std::max(std::atoi(argv[2]), 16) : 640;
    const int height = argc > 3 ? std::max(std::atoi(argv[3]), 16) : 480;
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);

    std::string error;
    auto surface = HeadlessGlSurface::Create(width, height, error);
    if (surface == nullptr) {
        std::fprintf(stderr, "render_shots: %s\n", error.c_str());
        return 1;
    }
    GlRenderer renderer;
    if (!renderer.Initialise(surface.get())) {
        std::fprintf(stderr, "render_shots: %s\n", renderer.LastError().c_str());
        return 1;
    }
    std::printf("%s\n", renderer.VersionText().c_str());
    renderer.view.width = width;
    renderer.view.height = height;

    const TriangleMesh cube = grainforge::mesh::MakeTestCube(20.0f);
    const RenderAttributes attributes = BoxProjection(cube);
    if (!renderer.UploadMesh(cube, &attributes, true) || !renderer.UploadHeightTexture(RingsHeightMap())) {
        std::fprintf(stderr, "render_shots: %s\n", renderer.LastError().c_str());
        return 1;
    }
    renderer.Orbit(-12.0f, -8.0f);  // a little off the diagonal, so the three sides differ
    renderer.view.showBoundingBox = 0;

    grainforge::mesh::MaskVolume mask;
    mask.shape = grainforge::mesh::MaskShape::Sphere;
    mask.center = Vec3{4.0f, -4.0f, 10.0f};
    mask.size = Vec3{10.0f, 10.0f, 10.0f};
    mask.featherMillimetres = 3.0f;

    // The cube's shared corners carry averaged normals; flat shading shows its faces as faces.
    const Shot shots[] = {{"plain", 0, 1, false},     {"checkerboard", 1, 1, false}, {"height_map", 3, 1, false},
                          {"wireframe", 0, 2, false}, {"solid_and_wire", 0, 3, false}, {"height_map_mask", 3, 1, true},
                          {"plain_smooth", 0, 0, false}};
    for (const Shot& shot : shots) {
        renderer.view.surfaceMode = shot.surfaceMode;
        renderer.view.shadingMode = shot.shadingMode;
        renderer.SetMasks(shot.mask ? std::vector<grainforge::mesh::MaskVolume>{mask}
                                    : std::vector<grainforge::mesh::MaskVolume>{});
        renderer.DrawFrame();
        const std::string path = folder + "/cube_" + shot.name + ".png";
        if (!WritePng(path, width, height, surface->ReadRgba())) {
            std::fprintf(stderr, "render_shots: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s (%.1f ms)\n", path.c_str(), renderer.Statistics().frameMilliseconds);
    }
    return 0;
}
