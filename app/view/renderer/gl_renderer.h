// The viewport's renderer: one OpenGL 3.3 core program that draws the part, the floor grid and
// every overlay, with the height map previewed per pixel, the camera and the frame statistics.
// It draws on a GlSurface (a window's context in the program, an offscreen EGL context in
// tests), includes no window-system header and is used from the user-interface thread only;
// every operation makes the surface current first.
//
// Operations return false and keep a text in LastError() rather than throw. Nothing is drawn or
// uploaded before a successful Initialise.
#pragma once

#include "app/view/renderer/camera.h"
#include "app/view/renderer/gl_functions.h"
#include "app/view/renderer/main_shader.h"
#include "app/view/renderer/overlay_builders.h"
#include "app/view/renderer/render_vertex.h"
#include "app/view/renderer/scene_uniforms.h"
#include "app/view/renderer/view_cube.h"
#include "platform/gl/gl_surface.h"

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace grainforge::gl {

// Display switches, written directly by the view and the viewport and read by DrawFrame.
struct RenderViewState {
    int width = 1;   // viewport, pixels, at least 1
    int height = 1;
    int surfaceMode = 0;   // 0 plain, 1 checkerboard, 2 projector colours, 3 height map, 4 outer/inner
    float checkerMillimetres = 5.0f;
    int shadingMode = 0;   // 0 smooth, 1 flat, 2 wireframe, 3 solid plus wireframe
    std::uint8_t showNormals = 0;
    std::uint8_t showBoundingBox = 0;
    std::uint8_t showOpenEdges = 0;
    std::uint8_t showNonManifoldEdges = 0;
    std::uint8_t showProblemFaces = 0;
    std::uint8_t showCage = 0;
    std::uint8_t showPrintCheck = 0;
    std::uint8_t orthographic = 0;
    float dpiScale = 1.0f;  // dpi / 96: sizes the view cube
    // The view cube in the top right corner; the viewport turns it on (other users of the
    // renderer, such as the snapshot tool, draw the scene alone).
    std::uint8_t showViewCube = 0;
    // The cube's size where the viewport sets it for its width (smaller in a narrow view, 0
    // while it is not drawn); negative: dpiScale.
    float viewCubeScale = -1.0f;
    // The keyboard focus is in the view: a frame in the accent colour round its edge says so,
    // as the program's other panes show it.
    std::uint8_t showFocusFrame = 0;
    // Width over height, what the camera fit needs to see the scene across as well as up.
    float Aspect() const
    {
        return static_cast<float>(width > 1 ? width : 1) / static_cast<float>(height > 1 ? height : 1);
    }
};

// What the pointer is over on the view cube, as the viewport last saw it.
struct ViewCubeHover {
    CellDirection cell{0, 0, 0};
    bool cellValid = false;
    bool homeHovered = false;
};

// The view cube's label atlas: kViewCubeAtlasBytes bytes of coverage, 160 x 576, rows of
// 64 pixels holding ViewCubeLabelText(0..8) in white on black. A wrong size counts as none.
using ViewCubeLabelPainter = std::function<std::vector<std::uint8_t>()>;

struct FrameStatistics {
    double gpuMilliseconds = 0.0;    // GPU time of the frame three frames back
    double frameMilliseconds = 0.0;  // wall-clock time of the last DrawFrame, swap included
    double framesPerSecond = 0.0;    // over the last window of at least 0.5 s
    bool gpuTimingValid = false;     // false until a GPU time has been read once
};

// A GPU timer query's result in milliseconds, or nothing for a sample no frame can take: a
// query that spanned a resize, a lost context or a stall of the whole system reads seconds or
// hours. A frame that slow is not drawn interactively, so the last good figure stays shown.
inline constexpr double kLongestGpuFrameMilliseconds = 1000.0;
std::optional<double> GpuFrameMilliseconds(std::uint64_t nanoseconds);

// Where the renderer gets its entry points and how much host memory an upload may take.
struct GlRendererOptions {
    GlProcResolver resolver;  // empty: libepoxy
    // Bytes the corner lists of one mesh upload may take (kHostBytesPerCorner a corner); a
    // larger upload fails as out of memory, as an allocation failure does.
    std::uint64_t maxUploadHostBytes = std::numeric_limits<std::uint64_t>::max();
    // Draw with builds of the program specialised to the frame's surface mode, blend and masks
    // (same pixels, far less work on a software rasteriser); off, the general program draws all.
    bool specialisePrograms = true;
    // Draws the view cube's labels (text needs the window system's fonts); empty: no labels.
    ViewCubeLabelPainter viewCubeLabels{};
};

// One vertex array with its buffer and vertex count.
struct GlOverlay {
    unsigned vertexArray = 0;
    unsigned buffer = 0;
    int count = 0;
};

class GlRenderer {
public:
    explicit GlRenderer(GlRendererOptions options = {});
    ~GlRenderer();
    GlRenderer(const GlRenderer&) = delete;
    GlRenderer& operator=(const GlRenderer&) = delete;

    // Releases what there was, then makes the surface current, checks for OpenGL 3.3, loads the
    // entry points, builds the main program and the floor grid. False with LastError() set
    // (and everything released) on any failure.
    [[nodiscard]] bool Initialise(GlSurface* surface);
    // Deletes every OpenGL object and forgets the surface. Safe to call repeatedly.
    void Release();
    bool IsReady() const { return ready_; }
    const std::string& LastError() const { return lastError_; }
    const std::string& VersionText() const { return versionText_; }
    // Makes the surface current; false when not ready or the context cannot be had.
    bool MakeCurrent();

    // ---- Mesh --------------------------------------------------------------------------
    // Replaces the part's buffers. Refuses an empty or inconsistent mesh, and fails when the
    // corner lists cannot be allocated (the previous buffers stay) or the graphics memory runs
    // out (the part is then removed); LastError() says which. Bounds with a non-finite
    // coordinate leave the empty scene's bounds and the camera where it was.
    [[nodiscard]] bool UploadMesh(const mesh::TriangleMesh& mesh, const RenderAttributes* attributes, bool fitCamera);
    // Replaces only the projection buffer; does nothing unless a part of the same index count is
    // uploaded. False on a driver error.
    bool UploadProjection(const mesh::TriangleMesh& mesh, const RenderAttributes* attributes);
    // Removes the part and its overlays, resets the bounds and fits the camera to them.
    void ClearScene();
    int IndexCount() const { return indexCount_; }
    const SceneBounds& Bounds() const { return bounds_; }

    // ---- Overlays ----------------------------------------------------------------------
    // Builds the normals from the vertices kept at the last mesh upload; the caller makes the
    // context current.
    void BuildNormalsOverlay();
    void UploadProblemOverlay(const ProblemOverlayGeometry& geometry);
    void UploadPrintCheckOverlay(const PrintCheckOverlayGeometry& geometry);
    void UploadCageOverlay(const CageOverlayGeometry& geometry);
    void UploadHandleOverlay(const GizmoGeometry& geometry);
    void UploadMaskOverlay(const GizmoGeometry& geometry);
    void UploadRestingFaceOverlay(const std::vector<Vec3>& points, const std::vector<Vec3>& colours);
    void DeleteCageOverlays();

    // ---- Height map, masks and the projection overlay ---------------------------------
    // Uploads the height map's effective samples as a one-channel float texture and keeps its
    // settings. False (and no texture) for an empty map or when the driver refuses.
    [[nodiscard]] bool UploadHeightTexture(const mesh::HeightMap& heightMap);
    bool HasHeightTexture() const { return heightTexture_ != 0; }
    // The volumes that fade the texture: disabled ones are skipped, and only the first 16
    // enabled ones reach the shader (the view keeps the list within that).
    void SetMasks(std::vector<mesh::MaskVolume> masks) { masks_ = std::move(masks); }
    void SetProjectionOverlay(const ProjectionOverlay& overlay) { projectionOverlay_ = overlay; }

    // ---- Frame -------------------------------------------------------------------------
    // Draws the floor, the part and the overlays in their fixed order and swaps. The first
    // frame of a new surface-mode, blend and mask combination compiles its build of the program.
    void DrawFrame();
    const FrameStatistics& Statistics() const { return statistics_; }
    RenderViewState view;

    // ---- Camera ------------------------------------------------------------------------
    Camera& CameraState() { return camera_; }
    const Camera& CameraState() const { return camera_; }
    Vec3 CameraEye() const;
    void Orbit(float dx, float dy);
    void SetViewAngles(float yaw, float pitch);
    void Pan(float dx, float dy);
    void ZoomAt(float notches, Vec3 focus);
    ClipRange ClipRangeNow() const;
    // False when not ready or the viewport has no area.
    bool ScreenRay(float x, float y, ViewRay& ray) const;

    // ---- View cube ---------------------------------------------------------------------
    // The cube's layout for the current width, DPI scale and camera angles.
    ViewCubeLayout ViewCubeLayoutNow() const;
    // The cube's scale now, 0 while it is not drawn: what the fits keep the part clear of.
    float ViewCubeScaleNow() const { return view.viewCubeScale < 0.0f ? view.dpiScale : view.viewCubeScale; }
    ViewCubeHover viewCubeHover;
    // The cube's draw list of the last frame, for checks.
    int ViewCubeVertexCount() const { return viewCubeVertexCount_; }
    // Vertices of the mask outlines uploaded (0 when none are drawn).
    int MaskOutlineVertexCount() const { return maskLines_.count; }
    bool HasViewCube() const { return cubeProgram_ != 0 && cubeArray_ != 0; }

    // Vertex counts of the floor and the overlays, for checks.
    const GlOverlay& FloorGrid() const { return grid_; }
    const GlOverlay& BoundingBoxOverlay() const { return boundingBox_; }
    const GlOverlay& NormalsOverlay() const { return normals_; }
    const GlOverlay& HandleLinesOverlay() const { return handleLines_; }
    const GlOverlay& CageFacesOverlay() const { return cageFaces_; }

private:
    struct MainUniforms {
        int mvp = -1, lightDirection = -1, lit = -1, smooth = -1, overrideColor = -1, useOverride = -1,
            surfaceMode = -1, checkerMillimetres = -1, alpha = -1, heightMap = -1, wrapMode = -1,
            textureSizeMm = -1, textureOffsetMm = -1, textureRotation = -1, blackLevel = -1, whiteLevel = -1,
            gamma = -1, invert = -1;
    };
    // One build of the main program with its kept uniform locations.
    struct ProgramBuild {
        unsigned program = 0;
        MainUniforms uniforms;
        bool failed = false;  // a specialised build that did not compile; the general one stands in
    };
    struct FrameTimer {
        unsigned queries[3] = {0, 0, 0};
        int ring = 0;
        int issued = 0;
        bool open = false;
        std::int64_t windowStart = 0;  // nanoseconds, 0 = none
        int windowFrames = 0;
    };

    bool CreateContext();
    bool BuildMainProgram();
    bool BuildProgram(const std::string& vertex, const std::string& fragment, ProgramBuild& build);
    const ProgramBuild& ProgramFor(MainShaderVariant variant);
    void UseProgram(const ProgramBuild& build, const Matrix4& mvp);
    unsigned CompileShader(unsigned kind, const std::string& text);
    bool BuildFloorGrid();
    bool BuildViewCube();
    void DrawViewCube();
    void DeleteViewCube();
    void DeleteGlObjects();
    void DeleteMeshBuffers();
    void DeleteOverlay(GlOverlay& overlay);
    bool UploadVertexBuffer(GlOverlay& overlay, const std::vector<RenderVertex>& vertices);
    void BindVertexLayout(unsigned projectionBuffer);
    bool UploadMeshBuffers(const RenderCorners& corners);
    void BuildMeshOverlays(const mesh::TriangleMesh& mesh);
    void DrainErrors();
    bool BufferDataChecked(unsigned target, std::int64_t bytes, const void* data, unsigned usage);

    void SetTextureUniforms();
    void SetMaskUniforms();
    void SetBlendUniforms();
    int Uniform(const std::string& name) const;
    void ClearFrame();
    void DrawFocusFrame();
    void UsePlainColours();
    void DrawPart(const ProgramBuild& program, const Matrix4& mvp);
    void DrawMeshOverlays();
    void DrawEditingOverlays();
    void DrawMesh(bool wire);
    void DrawOverlay(const GlOverlay& overlay, unsigned primitive);
    void DrawTranslucent(const GlOverlay& overlay, float alpha);
    void BeginGpuTimer();
    void EndGpuTimer();
    void CountFrame(std::int64_t startNanoseconds);

    GlRendererOptions options_;
    GlSurface* surface_ = nullptr;
    GlFunctionTable gl_;
    bool ready_ = false;
    std::string lastError_;
    std::string versionText_;

    ProgramBuild main_;  // the general program: every path chosen by uniforms
    // Specialised builds by MainShaderVariant::Key, made when a frame first needs one.
    std::array<ProgramBuild, 16> variants_;
    const ProgramBuild* active_ = &main_;  // the build in use while a frame draws

    unsigned meshArray_ = 0;
    unsigned meshBuffer_ = 0;
    unsigned indexBuffer_ = 0;
    unsigned projectionBuffer_ = 0;
    std::int64_t projectionBytes_ = 0;
    int indexCount_ = 0;
    std::vector<mesh::MeshVertex> keptVertices_;

    SceneBounds bounds_;
    Camera camera_;

    GlOverlay floorFill_, grid_;
    GlOverlay boundingBox_, normals_;
    GlOverlay openEdges_, nonManifoldEdges_, problemFaces_;
    GlOverlay printCheckLines_, printCheckFaces_;
    GlOverlay cageFaces_, cageLines_, cageHighlightedLines_;
    GlOverlay restingFaces_;
    GlOverlay maskFaces_, maskLines_;
    GlOverlay handleSolids_, handleLines_;

    unsigned heightTexture_ = 0;
    mesh::TextureSettings textureSettings_;
    std::vector<mesh::MaskVolume> masks_;
    ProjectionOverlay projectionOverlay_;

    FrameTimer timer_;
    FrameStatistics statistics_;

    unsigned cubeProgram_ = 0;
    int cubeViewportUniform_ = -1;
    int cubeLabelsUniform_ = -1;
    unsigned cubeArray_ = 0;
    unsigned cubeBuffer_ = 0;
    unsigned cubeLabels_ = 0;
    int viewCubeVertexCount_ = 0;
};

}  // namespace grainforge::gl
