// Where the renderer draws: a window's OpenGL context in the program (a wxGLCanvas), an
// offscreen framebuffer on a headless EGL context in tests, tools and benchmarks. The renderer
// asks only for these three things, so it never includes a window-system header.
#pragma once

namespace grainforge::gl {

struct GlSurfaceSize {
    int width = 0;   // pixels
    int height = 0;
};

class GlSurface {
public:
    virtual ~GlSurface() = default;

    // Makes the surface's OpenGL 3.3 core context current on the calling thread, with the
    // surface's framebuffer bound for drawing. False when the context cannot be made current
    // (none made, or lost); the renderer then does nothing or fails with a text.
    virtual bool MakeCurrent() = 0;

    // Shows the frame just drawn (a buffer swap); an offscreen surface finishes the drawing.
    virtual void SwapBuffers() = 0;

    // The drawable size in pixels.
    virtual GlSurfaceSize Size() const = 0;
};

}  // namespace grainforge::gl
