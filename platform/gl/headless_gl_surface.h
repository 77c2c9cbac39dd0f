// An OpenGL 3.3 core context with no display at all: Mesa's EGL "surfaceless" platform, drawing
// into a framebuffer object of a fixed size that can be read back. Used by the renderer's
// tests, the snapshot tool and the benchmarks; the program draws on a window instead.
#pragma once

#include "platform/gl/gl_surface.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::gl {

class HeadlessGlSurface final : public GlSurface {
public:
    // A context with a colour (RGBA 8 bits) and depth (24 bits, 8 stencil) framebuffer of the
    // given size (each side at least 1). Null with `error` set when EGL, the surfaceless
    // platform, a 3.3 core context or the framebuffer cannot be had.
    static std::unique_ptr<HeadlessGlSurface> Create(int width, int height, std::string& error);

    ~HeadlessGlSurface() override;
    HeadlessGlSurface(const HeadlessGlSurface&) = delete;
    HeadlessGlSurface& operator=(const HeadlessGlSurface&) = delete;

    bool MakeCurrent() override;
    void SwapBuffers() override;  // glFinish: the frame is complete when this returns
    GlSurfaceSize Size() const override { return size_; }

    // The framebuffer as RGBA bytes, top row first (OpenGL hands rows bottom-up; they are
    // turned here so that callers index pixels like window coordinates). Empty when the
    // context cannot be made current.
    std::vector<std::uint8_t> ReadRgba();

private:
    HeadlessGlSurface() = default;
    bool Open(int width, int height, std::string& error);
    bool MakeFramebuffer(std::string& error);

    void* display_ = nullptr;  // EGLDisplay
    void* context_ = nullptr;  // EGLContext
    unsigned framebuffer_ = 0;
    unsigned colourBuffer_ = 0;
    unsigned depthBuffer_ = 0;
    GlSurfaceSize size_;
};

}  // namespace grainforge::gl
