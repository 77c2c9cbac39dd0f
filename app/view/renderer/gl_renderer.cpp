#include "app/view/renderer/gl_renderer.h"

#include "app/view/renderer/floor_grid.h"
#include "app/view/renderer/main_shader.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstdio>
#include <new>
#include <stdexcept>

namespace grainforge::gl {

namespace {

constexpr char kNoWindowText[] = "Cannot initialize OpenGL without a viewport window.";
constexpr char kNoCoreContextText[] = "The display driver could not create an OpenGL 3.3 Core context.";
constexpr char kOldVersionText[] = "OpenGL 3.3 or newer is required.";
constexpr char kUniformsText[] = "OpenGL shader uniforms could not be located.";
constexpr char kBadMeshText[] = "Cannot upload an empty mesh or a mesh with invalid indices.";
constexpr char kNoUploadContextText[] = "Could not activate the OpenGL context for mesh upload.";
constexpr char kHostMemoryText[] = "Not enough memory to prepare the mesh for display.";
constexpr char kGpuMemoryText[] = "The graphics card has not enough memory for the mesh.";
constexpr std::size_t kInfoLogBytes = 2048;

constexpr Vec3 kClearColour{0.075f, 0.09f, 0.115f};
// The interface's accent (58, 123, 213), 2 px at 96 dpi: the focus outline of the other panes.
constexpr Vec3 kFocusFrameColour{58.0f / 255.0f, 123.0f / 255.0f, 213.0f / 255.0f};
constexpr float kFocusFramePixels = 2.0f;
constexpr Vec3 kLightDirection{-0.45f, -0.8f, -0.35f};
constexpr Vec3 kWireColour{0.98f, 0.72f, 0.12f};
constexpr float kCageAlpha = 0.22f;
constexpr float kRestingFaceAlpha = 0.45f;
constexpr float kMaskAlpha = 0.3f;
constexpr float kFaceOverlayOffset = -1.5f;  // pulls face overlays in front of the part
constexpr double kStatisticsWindowSeconds = 0.5;

std::int64_t NowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string IndexedName(const char* base, std::size_t index)
{
    return std::string(base) + "[" + std::to_string(index) + "]";
}

std::string ErrorCodeText(unsigned error)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", error);
    return text;
}

}  // namespace

GlRenderer::GlRenderer(GlRendererOptions options) : options_(std::move(options))
{
    if (!options_.resolver)
        options_.resolver = EpoxyProcResolver();
}

GlRenderer::~GlRenderer()
{
    Release();
}

// ---- Context and lifetime ----------------------------------------------------------------

bool GlRenderer::Initialise(GlSurface* surface)
{
    Release();
    lastError_.clear();
    versionText_.clear();
    if (surface == nullptr) {
        lastError_ = kNoWindowText;
        return false;
    }
    surface_ = surface;
    const bool made = CreateContext() && LoadGlFunctions(gl_, options_.resolver, lastError_) && BuildMainProgram() &&
                      BuildFloorGrid() && BuildViewCube();
    if (!made) {
        const std::string error = lastError_;
        Release();
        lastError_ = error;
        return false;
    }
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    versionText_ = version != nullptr ? version : "Unknown OpenGL version";
    if (renderer != nullptr)
        versionText_ += std::string(" - ") + renderer;
    ready_ = true;
    return true;
}

bool GlRenderer::CreateContext()
{
    if (!surface_->MakeCurrent()) {
        lastError_ = kNoCoreContextText;
        return false;
    }
    GLint major = 0;
    GLint minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major > 3 || (major == 3 && minor >= 3))
        return true;
    lastError_ = kOldVersionText;
    return false;
}

void GlRenderer::Release()
{
    // A surface that cannot be made current any more has lost its context and the objects with
    // it: the names are only forgotten then, since no OpenGL call may be made without one.
    if (surface_ == nullptr || !surface_->MakeCurrent())
        gl_ = GlFunctionTable{};
    DeleteGlObjects();
    gl_ = GlFunctionTable{};
    surface_ = nullptr;
    ready_ = false;
    keptVertices_.clear();
    main_ = ProgramBuild{};
    variants_ = {};
    active_ = &main_;
    timer_ = FrameTimer{};
}

bool GlRenderer::MakeCurrent()
{
    return ready_ && surface_ != nullptr && surface_->MakeCurrent();
}

void GlRenderer::DeleteGlObjects()
{
    for (GlOverlay* overlay : {&floorFill_, &grid_, &boundingBox_, &normals_, &openEdges_, &nonManifoldEdges_,
                               &problemFaces_, &printCheckLines_, &printCheckFaces_, &cageFaces_, &cageLines_,
                               &cageHighlightedLines_, &restingFaces_, &maskFaces_, &maskLines_, &handleSolids_,
                               &handleLines_})
        DeleteOverlay(*overlay);
    DeleteMeshBuffers();
    // The texture functions are version 1.1 ones outside the table; an empty table means there
    // is no context to call them in.
    if (heightTexture_ != 0 && gl_.GetError != nullptr)
        glDeleteTextures(1, &heightTexture_);
    heightTexture_ = 0;
    for (ProgramBuild* build : {&main_}) {
        if (build->program != 0 && gl_.DeleteProgram != nullptr)
            gl_.DeleteProgram(build->program);
    }
    for (ProgramBuild& build : variants_) {
        if (build.program != 0 && gl_.DeleteProgram != nullptr)
            gl_.DeleteProgram(build.program);
    }
    main_ = ProgramBuild{};
    variants_ = {};
    active_ = &main_;
    if (timer_.queries[0] != 0 && gl_.DeleteQueries != nullptr)
        gl_.DeleteQueries(3, timer_.queries);
    timer_ = FrameTimer{};
    DeleteViewCube();
}

// ---- Main program --------------------------------------------------------------------------

unsigned GlRenderer::CompileShader(unsigned kind, const std::string& text)
{
    const unsigned shader = gl_.CreateShader(kind);
    const char* source = text.c_str();
    gl_.ShaderSource(shader, 1, &source, nullptr);
    gl_.CompileShader(shader);
    GLint compiled = GL_FALSE;
    gl_.GetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled == GL_TRUE)
        return shader;
    char log[kInfoLogBytes] = {};
    gl_.GetShaderInfoLog(shader, static_cast<GLsizei>(sizeof(log)), nullptr, log);
    lastError_ = std::string("OpenGL shader compilation failed: ") + log;
    gl_.DeleteShader(shader);
    return 0;
}

bool GlRenderer::BuildProgram(const std::string& vertexText, const std::string& fragmentText, ProgramBuild& build)
{
    const unsigned vertex = CompileShader(GL_VERTEX_SHADER, vertexText);
    if (vertex == 0)
        return false;
    const unsigned fragment = CompileShader(GL_FRAGMENT_SHADER, fragmentText);
    if (fragment == 0) {
        gl_.DeleteShader(vertex);
        return false;
    }
    build.program = gl_.CreateProgram();
    gl_.AttachShader(build.program, vertex);
    gl_.AttachShader(build.program, fragment);
    gl_.LinkProgram(build.program);
    gl_.DeleteShader(vertex);
    gl_.DeleteShader(fragment);
    GLint linked = GL_FALSE;
    gl_.GetProgramiv(build.program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        char log[kInfoLogBytes] = {};
        gl_.GetProgramInfoLog(build.program, static_cast<GLsizei>(sizeof(log)), nullptr, log);
        lastError_ = std::string("OpenGL program link failed: ") + log;
        return false;
    }
    MainUniforms& u = build.uniforms;
    const std::pair<int*, const char*> kept[] = {
        {&u.mvp, "uMvp"}, {&u.lightDirection, "uLightDirection"}, {&u.lit, "uLit"}, {&u.smooth, "uSmooth"},
        {&u.overrideColor, "uOverrideColor"}, {&u.useOverride, "uUseOverride"}, {&u.surfaceMode, "uSurfaceMode"},
        {&u.checkerMillimetres, "uCheckerMillimetres"}, {&u.alpha, "uAlpha"}, {&u.heightMap, "uHeightMap"},
        {&u.wrapMode, "uWrapMode"}, {&u.textureSizeMm, "uTextureSizeMm"}, {&u.textureOffsetMm, "uTextureOffsetMm"},
        {&u.textureRotation, "uTextureRotation"}, {&u.blackLevel, "uBlackLevel"}, {&u.whiteLevel, "uWhiteLevel"},
        {&u.gamma, "uGamma"}, {&u.invert, "uInvert"}};
    for (const auto& [location, name] : kept)
        *location = gl_.GetUniformLocation(build.program, name);
    return true;
}

bool GlRenderer::BuildMainProgram()
{
    const MainShaderSources& sources = MainShaderText();
    if (!BuildProgram(std::string(sources.vertex), SpliceFragmentShader(sources), main_))
        return false;
    // The height-map uniforms may be optimised away; the scene's own may not.
    const MainUniforms& u = main_.uniforms;
    for (int location : {u.mvp, u.lightDirection, u.lit, u.smooth, u.overrideColor, u.useOverride, u.surfaceMode,
                         u.checkerMillimetres, u.alpha}) {
        if (location == -1) {
            lastError_ = kUniformsText;
            return false;
        }
    }
    return true;
}

const GlRenderer::ProgramBuild& GlRenderer::ProgramFor(MainShaderVariant variant)
{
    if (!options_.specialisePrograms)
        return main_;
    // Only the checkerboard and the height map read the blend and the masks.
    if (variant.surfaceMode != 1 && variant.surfaceMode != 3)
        variant = MainShaderVariant{};
    ProgramBuild& build = variants_[static_cast<std::size_t>(variant.Key())];
    if (build.program == 0 && !build.failed) {
        const MainShaderSources& sources = MainShaderText();
        const std::string kept = lastError_;
        if (!BuildProgram(SpecialiseShader(std::string(sources.vertex), variant),
                          SpecialiseShader(SpliceFragmentShader(sources), variant), build)) {
            if (build.program != 0)
                gl_.DeleteProgram(build.program);
            build = ProgramBuild{};
            build.failed = true;
        }
        lastError_ = kept;
    }
    return build.failed ? main_ : build;
}

void GlRenderer::UseProgram(const ProgramBuild& build, const Matrix4& mvp)
{
    active_ = &build;
    const MainUniforms& u = build.uniforms;
    gl_.UseProgram(build.program);
    gl_.UniformMatrix4fv(u.mvp, 1, GL_FALSE, mvp.data());
    gl_.Uniform3f(u.lightDirection, kLightDirection.x, kLightDirection.y, kLightDirection.z);
    gl_.Uniform1i(u.smooth, view.shadingMode == 0 ? 1 : 0);
    gl_.Uniform1i(u.surfaceMode, view.surfaceMode);
    gl_.Uniform1f(u.checkerMillimetres, view.checkerMillimetres);
    gl_.Uniform1f(u.alpha, 1.0f);
}

int GlRenderer::Uniform(const std::string& name) const
{
    return gl_.GetUniformLocation(active_->program, name.c_str());
}

// ---- Buffers -------------------------------------------------------------------------------

void GlRenderer::DrainErrors()
{
    // Bounded: a lost context may report an error on every call.
    for (int i = 0; i < 16 && gl_.GetError() != GL_NO_ERROR; ++i) {
    }
}

bool GlRenderer::BufferDataChecked(unsigned target, std::int64_t bytes, const void* data, unsigned usage)
{
    DrainErrors();
    gl_.BufferData(target, static_cast<GLsizeiptr>(bytes), data, usage);
    const unsigned error = gl_.GetError();
    if (error == GL_NO_ERROR)
        return true;
    lastError_ = error == GL_OUT_OF_MEMORY ? std::string(kGpuMemoryText)
                                           : "OpenGL could not store the mesh (error " + ErrorCodeText(error) + ").";
    return false;
}

void GlRenderer::BindVertexLayout(unsigned projectionBuffer)
{
    constexpr GLsizei kStride = sizeof(RenderVertex);
    for (unsigned attribute = 0; attribute < 4; ++attribute) {
        gl_.EnableVertexAttribArray(attribute);
        gl_.VertexAttribPointer(attribute, 3, GL_FLOAT, GL_FALSE, kStride,
                                reinterpret_cast<const void*>(static_cast<std::uintptr_t>(12 * attribute)));
    }
    gl_.EnableVertexAttribArray(4);
    gl_.EnableVertexAttribArray(5);
    if (projectionBuffer == 0) {
        gl_.VertexAttribPointer(4, 2, GL_FLOAT, GL_FALSE, kStride, reinterpret_cast<const void*>(std::uintptr_t{48}));
        gl_.VertexAttribPointer(5, 1, GL_FLOAT, GL_FALSE, kStride, reinterpret_cast<const void*>(std::uintptr_t{56}));
        return;
    }
    constexpr GLsizei kProjectionStride = sizeof(CornerProjection);
    gl_.BindBuffer(GL_ARRAY_BUFFER, projectionBuffer);
    gl_.VertexAttribPointer(4, 2, GL_FLOAT, GL_FALSE, kProjectionStride, nullptr);
    gl_.VertexAttribPointer(5, 1, GL_FLOAT, GL_FALSE, kProjectionStride,
                            reinterpret_cast<const void*>(std::uintptr_t{8}));
}

void GlRenderer::DeleteOverlay(GlOverlay& overlay)
{
    if (overlay.buffer != 0 && gl_.DeleteBuffers != nullptr)
        gl_.DeleteBuffers(1, &overlay.buffer);
    if (overlay.vertexArray != 0 && gl_.DeleteVertexArrays != nullptr)
        gl_.DeleteVertexArrays(1, &overlay.vertexArray);
    overlay = GlOverlay{};
}

bool GlRenderer::UploadVertexBuffer(GlOverlay& overlay, const std::vector<RenderVertex>& vertices)
{
    DeleteOverlay(overlay);
    if (vertices.empty())
        return true;
    if (vertices.size() > static_cast<std::size_t>(INT_MAX))
        return false;
    gl_.GenVertexArrays(1, &overlay.vertexArray);
    gl_.GenBuffers(1, &overlay.buffer);
    gl_.BindVertexArray(overlay.vertexArray);
    gl_.BindBuffer(GL_ARRAY_BUFFER, overlay.buffer);
    const bool stored = BufferDataChecked(GL_ARRAY_BUFFER, static_cast<std::int64_t>(vertices.size() * sizeof(RenderVertex)),
                                          vertices.data(), GL_STATIC_DRAW);
    if (stored)
        BindVertexLayout(0);
    gl_.BindVertexArray(0);
    gl_.BindBuffer(GL_ARRAY_BUFFER, 0);
    if (!stored) {
        // An overlay the driver could not hold is left out rather than drawn from garbage.
        DeleteOverlay(overlay);
        return false;
    }
    overlay.count = static_cast<int>(vertices.size());
    return true;
}

void GlRenderer::DeleteMeshBuffers()
{
    for (unsigned* buffer : {&indexBuffer_, &meshBuffer_, &projectionBuffer_}) {
        if (*buffer != 0 && gl_.DeleteBuffers != nullptr)
            gl_.DeleteBuffers(1, buffer);
        *buffer = 0;
    }
    if (meshArray_ != 0 && gl_.DeleteVertexArrays != nullptr)
        gl_.DeleteVertexArrays(1, &meshArray_);
    meshArray_ = 0;
    projectionBytes_ = 0;
    indexCount_ = 0;
}

bool GlRenderer::UploadMeshBuffers(const RenderCorners& corners)
{
    // The old part goes first, so its memory is free for the new one.
    DeleteMeshBuffers();
    const std::size_t count = corners.vertices.size();
    gl_.GenVertexArrays(1, &meshArray_);
    gl_.BindVertexArray(meshArray_);
    gl_.GenBuffers(1, &meshBuffer_);
    gl_.GenBuffers(1, &indexBuffer_);
    gl_.GenBuffers(1, &projectionBuffer_);
    gl_.BindBuffer(GL_ARRAY_BUFFER, meshBuffer_);
    bool stored = BufferDataChecked(GL_ARRAY_BUFFER, static_cast<std::int64_t>(count * sizeof(RenderVertex)),
                                    corners.vertices.data(), GL_STATIC_DRAW);
    if (stored) {
        gl_.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer_);
        stored = BufferDataChecked(GL_ELEMENT_ARRAY_BUFFER, static_cast<std::int64_t>(count * sizeof(std::uint32_t)),
                                   corners.indices.data(), GL_STATIC_DRAW);
    }
    const auto projectionBytes = static_cast<std::int64_t>(count * sizeof(CornerProjection));
    if (stored) {
        gl_.BindBuffer(GL_ARRAY_BUFFER, projectionBuffer_);
        stored = BufferDataChecked(GL_ARRAY_BUFFER, projectionBytes, corners.projection.data(), GL_DYNAMIC_DRAW);
    }
    if (stored) {
        gl_.BindBuffer(GL_ARRAY_BUFFER, meshBuffer_);
        BindVertexLayout(projectionBuffer_);
    }
    gl_.BindVertexArray(0);
    gl_.BindBuffer(GL_ARRAY_BUFFER, 0);
    gl_.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    if (!stored) {
        DeleteMeshBuffers();
        return false;
    }
    projectionBytes_ = projectionBytes;
    indexCount_ = static_cast<int>(count);
    return true;
}

// ---- Mesh upload ---------------------------------------------------------------------------

bool GlRenderer::UploadMesh(const mesh::TriangleMesh& mesh, const RenderAttributes* attributes, bool fitCamera)
{
    if (!ready_ || !IsUploadableMesh(mesh)) {
        lastError_ = kBadMeshText;
        return false;
    }
    if (!surface_->MakeCurrent()) {
        lastError_ = kNoUploadContextText;
        return false;
    }
    RenderCorners corners;
    try {
        const std::uint64_t count = mesh.indices.size();
        // A draw count is a GLsizei; beyond that the part cannot be drawn in one call.
        if (count > static_cast<std::uint64_t>(INT_MAX) ||
            count > options_.maxUploadHostBytes / kHostBytesPerCorner)
            throw std::bad_alloc();
        corners = ExpandCorners(mesh, attributes);
    } catch (const std::bad_alloc&) {
        lastError_ = kHostMemoryText;
        return false;
    } catch (const std::length_error&) {
        lastError_ = kHostMemoryText;
        return false;
    }
    if (!UploadMeshBuffers(corners))
        return false;
    corners = RenderCorners{};  // the host copies go before the overlays are built

    const std::optional<SceneBounds> bounds = ComputeSceneBounds(mesh);
    bounds_ = bounds.value_or(SceneBounds{});
    BuildMeshOverlays(mesh);
    BuildFloorGrid();
    if (fitCamera && bounds.has_value())
        FitCamera(camera_, bounds_, view.width, view.height, ViewCubeScaleNow());
    return true;
}

bool GlRenderer::UploadProjection(const mesh::TriangleMesh& mesh, const RenderAttributes* attributes)
{
    if (!ready_ || projectionBuffer_ == 0 || mesh.indices.size() != static_cast<std::size_t>(indexCount_) ||
        !surface_->MakeCurrent())
        return false;
    std::vector<CornerProjection> records;
    try {
        records = BuildCornerProjection(mesh, attributes);
    } catch (const std::bad_alloc&) {
        lastError_ = kHostMemoryText;
        return false;
    }
    const auto bytes = static_cast<std::int64_t>(records.size() * sizeof(CornerProjection));
    gl_.BindBuffer(GL_ARRAY_BUFFER, projectionBuffer_);
    bool stored = true;
    if (bytes == projectionBytes_) {
        DrainErrors();
        gl_.BufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), records.data());
        stored = gl_.GetError() == GL_NO_ERROR;
    } else {
        stored = BufferDataChecked(GL_ARRAY_BUFFER, bytes, records.data(), GL_DYNAMIC_DRAW);
        if (stored)
            projectionBytes_ = bytes;
    }
    gl_.BindBuffer(GL_ARRAY_BUFFER, 0);
    return stored;
}

void GlRenderer::ClearScene()
{
    if (!MakeCurrent())
        return;
    DeleteMeshBuffers();
    for (GlOverlay* overlay : {&boundingBox_, &normals_, &openEdges_, &nonManifoldEdges_, &problemFaces_,
                               &printCheckLines_, &printCheckFaces_})
        DeleteOverlay(*overlay);
    keptVertices_.clear();
    keptVertices_.shrink_to_fit();
    bounds_ = SceneBounds{};
    BuildFloorGrid();
    FitCamera(camera_, bounds_, view.width, view.height, ViewCubeScaleNow());
}

// ---- Overlays ------------------------------------------------------------------------------

void GlRenderer::BuildMeshOverlays(const mesh::TriangleMesh& mesh)
{
    DeleteOverlay(normals_);
    try {
        // With non-finite bounds the scene is the empty one and there is no box to show.
        if (bounds_.radius > 0.0f && ComputeSceneBounds(mesh).has_value())
            UploadVertexBuffer(boundingBox_, BuildBoxEdgeVertices(bounds_.boxMin, bounds_.boxMax));
        else
            DeleteOverlay(boundingBox_);
        keptVertices_ = mesh.vertices;
        if (view.showNormals)
            BuildNormalsOverlay();
    } catch (const std::bad_alloc&) {
        // The part is already on the card; its helper lines are left out.
        keptVertices_.clear();
        DeleteOverlay(normals_);
    }
}

void GlRenderer::BuildNormalsOverlay()
{
    // Without a context there is nothing to upload into (the caller made it current otherwise).
    if (!ready_)
        return;
    try {
        UploadVertexBuffer(normals_, BuildNormalVertices(keptVertices_, NormalLength(bounds_.radius)));
    } catch (const std::bad_alloc&) {
        DeleteOverlay(normals_);
    }
}

void GlRenderer::UploadProblemOverlay(const ProblemOverlayGeometry& geometry)
{
    if (!MakeCurrent())
        return;
    UploadVertexBuffer(openEdges_, MakeOverlayVertices(geometry.openEdges, overlay_colour::kOpenEdges));
    UploadVertexBuffer(nonManifoldEdges_,
                       MakeOverlayVertices(geometry.nonManifoldEdges, overlay_colour::kNonManifoldEdges));
    std::vector<RenderVertex> faces = MakeOverlayVertices(geometry.problemFaces, overlay_colour::kProblemFaces);
    AppendOverlayVertices(geometry.secondProblemFaces, overlay_colour::kSecondProblemFaces, faces);
    UploadVertexBuffer(problemFaces_, faces);
}

void GlRenderer::UploadPrintCheckOverlay(const PrintCheckOverlayGeometry& geometry)
{
    if (!MakeCurrent())
        return;
    UploadVertexBuffer(printCheckLines_, MakeOverlayVertices(geometry.lines, overlay_colour::kPrintCheckLines));
    std::vector<RenderVertex> faces = MakeOverlayVertices(geometry.redFaces, overlay_colour::kPrintCheckRed);
    AppendOverlayVertices(geometry.orangeFaces, overlay_colour::kPrintCheckOrange, faces);
    AppendOverlayVertices(geometry.yellowFaces, overlay_colour::kPrintCheckYellow, faces);
    UploadVertexBuffer(printCheckFaces_, faces);
}

void GlRenderer::UploadCageOverlay(const CageOverlayGeometry& geometry)
{
    if (!MakeCurrent())
        return;
    UploadVertexBuffer(cageFaces_,
                       MakeColouredVertices(geometry.faces, geometry.faceColours, overlay_colour::kCageFaceFallback));
    UploadVertexBuffer(cageLines_, MakeOverlayVertices(geometry.lines, overlay_colour::kCageLines));
    UploadVertexBuffer(cageHighlightedLines_,
                       MakeOverlayVertices(geometry.highlightedLines, overlay_colour::kCageHighlightedLines));
}

void GlRenderer::DeleteCageOverlays()
{
    if (!MakeCurrent())
        return;
    DeleteOverlay(cageFaces_);
    DeleteOverlay(cageLines_);
    DeleteOverlay(cageHighlightedLines_);
}

void GlRenderer::UploadHandleOverlay(const GizmoGeometry& geometry)
{
    if (!MakeCurrent())
        return;
    UploadVertexBuffer(handleLines_, MakeColouredVertices(geometry.linePoints, geometry.lineColours));
    UploadVertexBuffer(handleSolids_, MakeColouredVertices(geometry.trianglePoints, geometry.triangleColours));
}

void GlRenderer::UploadMaskOverlay(const GizmoGeometry& geometry)
{
    if (!MakeCurrent())
        return;
    UploadVertexBuffer(maskFaces_, MakeColouredVertices(geometry.trianglePoints, geometry.triangleColours));
    UploadVertexBuffer(maskLines_, MakeColouredVertices(geometry.linePoints, geometry.lineColours));
}

void GlRenderer::UploadRestingFaceOverlay(const std::vector<Vec3>& points, const std::vector<Vec3>& colours)
{
    if (!MakeCurrent())
        return;
    UploadVertexBuffer(restingFaces_, MakeColouredVertices(points, colours, overlay_colour::kRestingFaceFallback));
}

bool GlRenderer::BuildFloorGrid()
{
    const FloorGridVertices floor = BuildFloorGridVertices(bounds_);
    UploadVertexBuffer(floorFill_, floor.fill);
    UploadVertexBuffer(grid_, floor.grid);
    bounds_.floorHalfExtent = floor.extent;
    return true;
}

// ---- Height map and scene uniforms ---------------------------------------------------------

bool GlRenderer::UploadHeightTexture(const mesh::HeightMap& heightMap)
{
    if (!MakeCurrent())
        return false;
    const std::uint64_t texels = static_cast<std::uint64_t>(std::max(heightMap.width, 0)) *
                                 static_cast<std::uint64_t>(std::max(heightMap.height, 0));
    if (heightMap.width < 1 || heightMap.height < 1 || heightMap.blurred.empty() ||
        heightMap.blurred.size() != texels) {
        if (heightTexture_ != 0)
            glDeleteTextures(1, &heightTexture_);
        heightTexture_ = 0;
        return false;
    }
    if (heightTexture_ == 0)
        glGenTextures(1, &heightTexture_);
    glBindTexture(GL_TEXTURE_2D, heightTexture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    DrainErrors();
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R32F, heightMap.width, heightMap.height, 0, GL_RED, GL_FLOAT,
                 heightMap.blurred.data());
    const unsigned error = gl_.GetError();
    glBindTexture(GL_TEXTURE_2D, 0);
    if (error != GL_NO_ERROR) {
        glDeleteTextures(1, &heightTexture_);
        heightTexture_ = 0;
        return false;
    }
    textureSettings_ = heightMap.settings;
    return true;
}

void GlRenderer::SetTextureUniforms()
{
    const TextureUniforms t = MakeTextureUniforms(textureSettings_);
    const MainUniforms& u = active_->uniforms;
    const auto set1i = [&](int location, int value) {
        if (location != -1)
            gl_.Uniform1i(location, value);
    };
    const auto set1f = [&](int location, float value) {
        if (location != -1)
            gl_.Uniform1f(location, value);
    };
    const auto set2f = [&](int location, const float* value) {
        if (location != -1)
            gl_.Uniform2f(location, value[0], value[1]);
    };
    set1i(u.wrapMode, t.wrapMode);
    set2f(u.textureSizeMm, t.sizeMillimetres);
    set2f(u.textureOffsetMm, t.offsetMillimetres);
    set1f(u.textureRotation, t.rotationRadians);
    set1f(u.blackLevel, t.blackLevel);
    set1f(u.whiteLevel, t.whiteLevel);
    set1f(u.gamma, t.gamma);
    set1f(Uniform("uOutputBlack"), t.outputBlack);
    set1f(Uniform("uOutputWhite"), t.outputWhite);
    set1i(u.invert, t.invert ? 1 : 0);
    set1i(u.heightMap, 0);
    gl_.ActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, heightTexture_);
}

void GlRenderer::SetMaskUniforms()
{
    const int countLocation = Uniform("uMaskCount");
    if (countLocation == -1)
        return;
    std::size_t count = 0;
    for (const mesh::MaskVolume& mask : masks_) {
        if (mask.enabled == 0 || count == kMaxShaderMasks)
            continue;  // a disabled volume masks nothing; the shader holds kMaxShaderMasks
        const MaskUniform m = MakeMaskUniform(mask);
        const auto set3 = [&](const char* base, Vec3 v) {
            const int location = Uniform(IndexedName(base, count));
            if (location != -1)
                gl_.Uniform3f(location, v.x, v.y, v.z);
        };
        const int shape = Uniform(IndexedName("uMaskShape", count));
        if (shape != -1)
            gl_.Uniform1i(shape, m.shape);
        set3("uMaskCenter", m.center);
        set3("uMaskAxisX", m.axisX);
        set3("uMaskAxisY", m.axisY);
        set3("uMaskAxisZ", m.axisZ);
        set3("uMaskHalf", m.half);
        const int feather = Uniform(IndexedName("uMaskFeather", count));
        if (feather != -1)
            gl_.Uniform1f(feather, m.feather);
        ++count;
    }
    gl_.Uniform1i(countLocation, static_cast<int>(count));
}

void GlRenderer::SetBlendUniforms()
{
    const ProjectionOverlay& p = projectionOverlay_;
    const auto set1i = [&](const std::string& name, int value) {
        const int location = Uniform(name);
        if (location != -1)
            gl_.Uniform1i(location, value);
    };
    const auto set1f = [&](const std::string& name, float value) {
        const int location = Uniform(name);
        if (location != -1)
            gl_.Uniform1f(location, value);
    };
    const auto set2f = [&](const std::string& name, float x, float y) {
        const int location = Uniform(name);
        if (location != -1)
            gl_.Uniform2f(location, x, y);
    };
    const auto set3f = [&](const std::string& name, Vec3 v) {
        const int location = Uniform(name);
        if (location != -1)
            gl_.Uniform3f(location, v.x, v.y, v.z);
    };
    set1i("uBlend", p.blend != 0 ? 1 : 0);
    if (p.blend == 0)
        return;
    set1f("uBlendSharpness", p.blendSharpness);
    set3f("uCageCenter", p.cageCenter);
    set3f("uCageAxisX", p.cageAxisX);
    set3f("uCageAxisY", p.cageAxisY);
    set3f("uCageAxisZ", p.cageAxisZ);
    for (std::size_t i = 0; i < 6; ++i) {
        set1i(IndexedName("uSideEnabled", i), p.sideEnabled[i] != 0 ? 1 : 0);
        set2f(IndexedName("uLayerOrigin", i), p.layerOrigin[i][0], p.layerOrigin[i][1]);
        set2f(IndexedName("uLayerTurnZoom", i), p.layerTurn[i], p.layerZoom[i]);
        if (p.sphere != 0) {
            set3f(IndexedName("uFaceU", i), p.faceU[i]);
            set3f(IndexedName("uFaceV", i), p.faceV[i]);
            set3f(IndexedName("uFaceN", i), p.faceN[i]);
            set1f(IndexedName("uFaceTurn", i), p.faceTurn[i]);
        }
    }
    set1i("uSphere", p.sphere != 0 ? 1 : 0);
    set1f("uSphereRadius", p.sphereRadius);
}

// ---- Frame ---------------------------------------------------------------------------------

void GlRenderer::DrawOverlay(const GlOverlay& overlay, unsigned primitive)
{
    if (overlay.vertexArray == 0 || overlay.count <= 0)
        return;
    gl_.BindVertexArray(overlay.vertexArray);
    glDrawArrays(primitive, 0, overlay.count);
}

void GlRenderer::DrawTranslucent(const GlOverlay& overlay, float alpha)
{
    if (overlay.vertexArray == 0 || overlay.count <= 0)
        return;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDepthMask(GL_FALSE);
    gl_.Uniform1f(active_->uniforms.alpha, alpha);
    DrawOverlay(overlay, GL_TRIANGLES);
    gl_.Uniform1f(active_->uniforms.alpha, 1.0f);
    glDepthMask(GL_TRUE);
    glDisable(GL_BLEND);
}

void GlRenderer::DrawMesh(bool wire)
{
    if (meshArray_ == 0 || indexCount_ == 0)
        return;
    glPolygonMode(GL_FRONT_AND_BACK, wire ? GL_LINE : GL_FILL);
    gl_.Uniform1i(active_->uniforms.lit, wire ? 0 : 1);
    gl_.Uniform1i(active_->uniforms.useOverride, wire ? 1 : 0);
    if (wire)
        gl_.Uniform3f(active_->uniforms.overrideColor, kWireColour.x, kWireColour.y, kWireColour.z);
    gl_.BindVertexArray(meshArray_);
    glDrawElements(GL_TRIANGLES, indexCount_, GL_UNSIGNED_INT, nullptr);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}

std::optional<double> GpuFrameMilliseconds(std::uint64_t nanoseconds)
{
    const double milliseconds = static_cast<double>(nanoseconds) / 1.0e6;
    if (!(milliseconds <= kLongestGpuFrameMilliseconds))
        return std::nullopt;
    return milliseconds;
}

void GlRenderer::BeginGpuTimer()
{
    if (!gl_.HasTimerQueries())
        return;
    if (timer_.queries[0] == 0)
        gl_.GenQueries(3, timer_.queries);
    const unsigned query = timer_.queries[timer_.ring];
    // Only a result that is already there is read, so the frame never waits for the card.
    if (timer_.issued > 2) {
        GLuint available = 0;
        gl_.GetQueryObjectuiv(query, GL_QUERY_RESULT_AVAILABLE, &available);
        if (available != 0) {
            GLuint64 nanoseconds = 0;
            gl_.GetQueryObjectui64v(query, GL_QUERY_RESULT, &nanoseconds);
            if (const std::optional<double> milliseconds = GpuFrameMilliseconds(nanoseconds)) {
                statistics_.gpuMilliseconds = *milliseconds;
                statistics_.gpuTimingValid = true;
            }
        }
    }
    gl_.BeginQuery(GL_TIME_ELAPSED, query);
    timer_.open = true;
}

void GlRenderer::EndGpuTimer()
{
    if (!timer_.open)
        return;
    gl_.EndQuery(GL_TIME_ELAPSED);
    timer_.open = false;
    ++timer_.issued;
    timer_.ring = (timer_.ring + 1) % 3;
}

void GlRenderer::CountFrame(std::int64_t startNanoseconds)
{
    const std::int64_t now = NowNanoseconds();
    statistics_.frameMilliseconds = static_cast<double>(now - startNanoseconds) / 1.0e6;
    ++timer_.windowFrames;
    if (timer_.windowStart == 0)
        timer_.windowStart = now;
    const double seconds = static_cast<double>(now - timer_.windowStart) / 1.0e9;
    if (seconds >= kStatisticsWindowSeconds) {
        statistics_.framesPerSecond = timer_.windowFrames / seconds;
        timer_.windowFrames = 0;
        timer_.windowStart = now;
    }
}

void GlRenderer::ClearFrame()
{
    glViewport(0, 0, std::max(view.width, 1), std::max(view.height, 1));
    glClearColor(kClearColour.x, kClearColour.y, kClearColour.z, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    if (view.shadingMode == 2) {
        glDisable(GL_CULL_FACE);
    } else {
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
    }
}

void GlRenderer::DrawFocusFrame()
{
    if (view.showFocusFrame == 0)
        return;
    // Four cleared strips: no program or buffer is needed for a frame of solid colour.
    const int w = std::max(view.width, 1);
    const int h = std::max(view.height, 1);
    const int t = std::max(1, static_cast<int>(std::lround(kFocusFramePixels * view.dpiScale)));
    glEnable(GL_SCISSOR_TEST);
    glClearColor(kFocusFrameColour.x, kFocusFrameColour.y, kFocusFrameColour.z, 1.0f);
    for (const auto& [x, y, sw, sh] : {std::array<int, 4>{0, 0, w, t}, std::array<int, 4>{0, h - t, w, t},
                                       std::array<int, 4>{0, 0, t, h}, std::array<int, 4>{w - t, 0, t, h}}) {
        glScissor(x, y, sw, sh);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glDisable(GL_SCISSOR_TEST);
}

void GlRenderer::UsePlainColours()
{
    gl_.Uniform1i(active_->uniforms.lit, 0);
    gl_.Uniform1i(active_->uniforms.useOverride, 0);
    gl_.Uniform1i(active_->uniforms.surfaceMode, 0);
}

// The part in its shading mode, with the texture, masks and blend set on its program.
void GlRenderer::DrawPart(const ProgramBuild& program, const Matrix4& mvp)
{
    UseProgram(program, mvp);
    if (heightTexture_ != 0)
        SetTextureUniforms();
    SetMaskUniforms();
    SetBlendUniforms();
    gl_.Uniform1i(active_->uniforms.surfaceMode, view.surfaceMode);
    if (view.shadingMode == 2) {
        DrawMesh(true);
    } else if (view.shadingMode == 3) {
        // The filled part is pushed back a little so its own edges win the depth test.
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(1.0f, 1.0f);
        DrawMesh(false);
        glDisable(GL_POLYGON_OFFSET_FILL);
        glDisable(GL_CULL_FACE);
        DrawMesh(true);
        glEnable(GL_CULL_FACE);
    } else {
        DrawMesh(false);
    }
}

// Normals, box, validation problems and the print check, in that order.
void GlRenderer::DrawMeshOverlays()
{
    if (view.showNormals)
        DrawOverlay(normals_, GL_LINES);
    if (view.showBoundingBox)
        DrawOverlay(boundingBox_, GL_LINES);

    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(kFaceOverlayOffset, kFaceOverlayOffset);
    if (view.showProblemFaces)
        DrawOverlay(problemFaces_, GL_TRIANGLES);
    if (view.showPrintCheck) {
        glDisable(GL_DEPTH_TEST);
        DrawOverlay(printCheckFaces_, GL_TRIANGLES);
        glEnable(GL_DEPTH_TEST);
    }
    glDisable(GL_POLYGON_OFFSET_FILL);
    glDepthFunc(GL_LEQUAL);
    if (view.showPrintCheck)
        DrawOverlay(printCheckLines_, GL_LINES);
    if (view.showOpenEdges)
        DrawOverlay(openEdges_, GL_LINES);
    if (view.showNonManifoldEdges)
        DrawOverlay(nonManifoldEdges_, GL_LINES);
    glDepthFunc(GL_LESS);
}

// Cage, resting-face candidates, masks and handles: the editing aids over the part.
void GlRenderer::DrawEditingOverlays()
{
    if (view.showCage) {
        DrawTranslucent(cageFaces_, kCageAlpha);
        DrawOverlay(cageLines_, GL_LINES);
        DrawOverlay(cageHighlightedLines_, GL_LINES);
    }
    if (restingFaces_.count > 0) {
        UsePlainColours();
        DrawTranslucent(restingFaces_, kRestingFaceAlpha);
    }
    if (maskFaces_.count > 0 || maskLines_.count > 0) {
        UsePlainColours();
        DrawTranslucent(maskFaces_, kMaskAlpha);
        glDisable(GL_DEPTH_TEST);  // mask lines show through the part
        DrawOverlay(maskLines_, GL_LINES);
        glEnable(GL_DEPTH_TEST);
    }
    if (handleSolids_.count > 0 || handleLines_.count > 0) {
        glDisable(GL_DEPTH_TEST);
        DrawOverlay(handleSolids_, GL_TRIANGLES);
        DrawOverlay(handleLines_, GL_LINES);
        glEnable(GL_DEPTH_TEST);
    }
}

void GlRenderer::DrawFrame()
{
    if (!MakeCurrent())
        return;
    const std::int64_t start = NowNanoseconds();
    BeginGpuTimer();
    ClearFrame();

    const Matrix4 mvp = ViewProjectionMatrix(camera_, bounds_, std::max(view.width, 1), std::max(view.height, 1),
                                             view.orthographic != 0);
    bool masked = false;
    for (const mesh::MaskVolume& mask : masks_)
        masked = masked || mask.enabled != 0;
    const ProgramBuild& plainProgram = ProgramFor(MainShaderVariant{});
    const ProgramBuild& partProgram =
        ProgramFor(MainShaderVariant{view.surfaceMode, projectionOverlay_.blend != 0, masked});

    UseProgram(plainProgram, mvp);
    UsePlainColours();
    DrawOverlay(floorFill_, GL_TRIANGLES);
    DrawOverlay(grid_, GL_LINES);

    DrawPart(partProgram, mvp);

    glDisable(GL_CULL_FACE);
    UseProgram(plainProgram, mvp);
    UsePlainColours();
    DrawMeshOverlays();
    DrawEditingOverlays();
    DrawViewCube();
    DrawFocusFrame();

    gl_.BindVertexArray(0);
    EndGpuTimer();
    surface_->SwapBuffers();
    CountFrame(start);
}

// ---- Camera --------------------------------------------------------------------------------

Vec3 GlRenderer::CameraEye() const
{
    return gl::CameraEye(camera_);
}

void GlRenderer::Orbit(float dx, float dy)
{
    OrbitCamera(camera_, bounds_, dx, dy);
}

void GlRenderer::SetViewAngles(float yaw, float pitch)
{
    SetCameraAngles(camera_, bounds_, yaw, pitch);
}

void GlRenderer::Pan(float dx, float dy)
{
    PanCamera(camera_, view.height, dx, dy);
}

void GlRenderer::ZoomAt(float notches, Vec3 focus)
{
    ZoomCameraAt(camera_, bounds_, notches, focus);
}

ClipRange GlRenderer::ClipRangeNow() const
{
    return ComputeClipRange(camera_, bounds_);
}

bool GlRenderer::ScreenRay(float x, float y, ViewRay& ray) const
{
    if (!ready_)
        return false;
    const std::optional<ViewRay> found = ComputeScreenRay(camera_, view.width, view.height, view.orthographic != 0, x, y);
    if (!found)
        return false;
    ray = *found;
    return true;
}

}  // namespace grainforge::gl
