// The renderer's view cube: its small program, the label texture and the per-frame draw list.
#include "app/view/renderer/gl_renderer.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace grainforge::gl {

namespace {

constexpr std::size_t kCubeInfoLogBytes = 2048;

constexpr char kCubeVertexShader[] = R"(#version 330 core
layout(location = 0) in vec2 inPixel;
layout(location = 1) in vec2 inUv;
layout(location = 2) in vec4 inColor;
uniform vec2 uViewport;
out vec2 vUv;
out vec4 vColor;
void main()
{
    vUv = inUv;
    vColor = inColor;
    gl_Position = vec4(2.0 * inPixel.x / uViewport.x - 1.0, 1.0 - 2.0 * inPixel.y / uViewport.y, 0.0, 1.0);
}
)";

constexpr char kCubeFragmentShader[] = R"(#version 330 core
in vec2 vUv;
in vec4 vColor;
uniform sampler2D uLabels;
out vec4 outColor;
void main()
{
    if (vUv.x < 0.0)
        outColor = vColor;
    else
        outColor = vec4(vColor.rgb, vColor.a * texture(uLabels, vUv).r);
}
)";

}  // namespace

ViewCubeLayout GlRenderer::ViewCubeLayoutNow() const
{
    // No cube, nothing to hit, while the view is too narrow for it.
    const float scale = ViewCubeScaleNow();
    if (!(scale > 0.0f))
        return ViewCubeLayout{};
    return BuildViewCubeLayout(view.width, scale, camera_.yaw, camera_.pitch);
}

bool GlRenderer::BuildViewCube()
{
    const unsigned vertex = CompileShader(GL_VERTEX_SHADER, kCubeVertexShader);
    if (vertex == 0)
        return false;
    const unsigned fragment = CompileShader(GL_FRAGMENT_SHADER, kCubeFragmentShader);
    if (fragment == 0) {
        gl_.DeleteShader(vertex);
        return false;
    }
    cubeProgram_ = gl_.CreateProgram();
    gl_.AttachShader(cubeProgram_, vertex);
    gl_.AttachShader(cubeProgram_, fragment);
    gl_.LinkProgram(cubeProgram_);
    gl_.DeleteShader(vertex);
    gl_.DeleteShader(fragment);
    GLint linked = GL_FALSE;
    gl_.GetProgramiv(cubeProgram_, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        char log[kCubeInfoLogBytes] = {};
        gl_.GetProgramInfoLog(cubeProgram_, static_cast<GLsizei>(sizeof(log)), nullptr, log);
        lastError_ = std::string("OpenGL view cube program link failed: ") + log;
        return false;
    }
    cubeViewportUniform_ = gl_.GetUniformLocation(cubeProgram_, "uViewport");
    cubeLabelsUniform_ = gl_.GetUniformLocation(cubeProgram_, "uLabels");
    gl_.GenVertexArrays(1, &cubeArray_);
    gl_.GenBuffers(1, &cubeBuffer_);
    gl_.BindVertexArray(cubeArray_);
    gl_.BindBuffer(GL_ARRAY_BUFFER, cubeBuffer_);
    constexpr GLsizei kStride = sizeof(CubeVertex);
    gl_.EnableVertexAttribArray(0);
    gl_.VertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, kStride, nullptr);
    gl_.EnableVertexAttribArray(1);
    gl_.VertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, kStride, reinterpret_cast<const void*>(std::uintptr_t{8}));
    gl_.EnableVertexAttribArray(2);
    gl_.VertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, kStride, reinterpret_cast<const void*>(std::uintptr_t{16}));
    gl_.BindVertexArray(0);
    gl_.BindBuffer(GL_ARRAY_BUFFER, 0);

    // Labels are optional: without a painter (or with a wrong-sized atlas) the cube is drawn
    // without its texts rather than not at all.
    std::vector<std::uint8_t> atlas;
    if (options_.viewCubeLabels)
        atlas = options_.viewCubeLabels();
    if (atlas.size() != static_cast<std::size_t>(kViewCubeAtlasBytes))
        atlas.assign(static_cast<std::size_t>(kViewCubeAtlasBytes), 0);
    glGenTextures(1, &cubeLabels_);
    glBindTexture(GL_TEXTURE_2D, cubeLabels_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, kViewCubeAtlasWidth, kViewCubeAtlasRowHeight * kViewCubeAtlasRows, 0, GL_RED,
                 GL_UNSIGNED_BYTE, atlas.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    if (gl_.GenerateMipmap != nullptr) {
        gl_.GenerateMipmap(GL_TEXTURE_2D);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_LOD_BIAS, -0.5f);
    } else {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

void GlRenderer::DeleteViewCube()
{
    if (cubeLabels_ != 0 && gl_.GetError != nullptr)
        glDeleteTextures(1, &cubeLabels_);
    if (cubeBuffer_ != 0 && gl_.DeleteBuffers != nullptr)
        gl_.DeleteBuffers(1, &cubeBuffer_);
    if (cubeArray_ != 0 && gl_.DeleteVertexArrays != nullptr)
        gl_.DeleteVertexArrays(1, &cubeArray_);
    if (cubeProgram_ != 0 && gl_.DeleteProgram != nullptr)
        gl_.DeleteProgram(cubeProgram_);
    cubeLabels_ = cubeBuffer_ = cubeArray_ = cubeProgram_ = 0;
    cubeViewportUniform_ = cubeLabelsUniform_ = -1;
    viewCubeVertexCount_ = 0;
}

void GlRenderer::DrawViewCube()
{
    viewCubeVertexCount_ = 0;
    if (cubeProgram_ == 0 || cubeArray_ == 0 || view.showViewCube == 0 || !(ViewCubeScaleNow() > 0.0f))
        return;
    const std::vector<CubeVertex> list = BuildViewCubeVertices(ViewCubeLayoutNow(), viewCubeHover.cellValid,
                                                               viewCubeHover.cell, viewCubeHover.homeHovered);
    if (list.empty() || list.size() > static_cast<std::size_t>(INT_MAX) / sizeof(CubeVertex))
        return;
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    gl_.UseProgram(cubeProgram_);
    gl_.Uniform2f(cubeViewportUniform_, static_cast<float>(std::max(view.width, 1)),
                  static_cast<float>(std::max(view.height, 1)));
    gl_.ActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, cubeLabels_);
    gl_.Uniform1i(cubeLabelsUniform_, 1);
    gl_.BindVertexArray(cubeArray_);
    gl_.BindBuffer(GL_ARRAY_BUFFER, cubeBuffer_);
    gl_.BufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(list.size() * sizeof(CubeVertex)), list.data(),
                   GL_STREAM_DRAW);
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(list.size()));
    viewCubeVertexCount_ = static_cast<int>(list.size());
    gl_.BindVertexArray(0);
    gl_.BindBuffer(GL_ARRAY_BUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    gl_.ActiveTexture(GL_TEXTURE0);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    gl_.UseProgram(active_->program);
}

}  // namespace grainforge::gl
