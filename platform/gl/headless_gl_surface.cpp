#include "platform/gl/headless_gl_surface.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>

namespace grainforge::gl {

namespace {

// The display is shared by every surface of the process and never terminated: EGL keeps one
// display per platform, and terminating it under a second live surface would pull its
// context away.
EGLDisplay OpenSurfacelessDisplay(std::string& error)
{
    if (!epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless")) {
        error = "EGL has no surfaceless platform (EGL_MESA_platform_surfaceless).";
        return EGL_NO_DISPLAY;
    }
    EGLDisplay display = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0;
    EGLint minor = 0;
    if (display == EGL_NO_DISPLAY || eglInitialize(display, &major, &minor) != EGL_TRUE) {
        error = "Could not open the surfaceless EGL display.";
        return EGL_NO_DISPLAY;
    }
    return display;
}

EGLContext CreateCoreContext(EGLDisplay display, std::string& error)
{
    if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) {
        error = "EGL cannot bind the desktop OpenGL API.";
        return EGL_NO_CONTEXT;
    }
    // The surfaceless platform offers no window configurations, the default surface type;
    // drawing goes to a framebuffer object, so any configuration (or none) will do.
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                       EGL_NONE};
    EGLConfig config = EGL_NO_CONFIG_KHR;
    EGLint count = 0;
    if (eglChooseConfig(display, configAttributes, &config, 1, &count) != EGL_TRUE || count < 1) {
        if (!epoxy_has_egl_extension(display, "EGL_KHR_no_config_context")) {
            error = "EGL offers no configuration for desktop OpenGL.";
            return EGL_NO_CONTEXT;
        }
        config = EGL_NO_CONFIG_KHR;
    }
    const EGLint contextAttributes[] = {
        EGL_CONTEXT_MAJOR_VERSION, 3,
        EGL_CONTEXT_MINOR_VERSION, 3,
        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
        EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT)
        error = "EGL could not create an OpenGL 3.3 core context.";
    return context;
}

}  // namespace

std::unique_ptr<HeadlessGlSurface> HeadlessGlSurface::Create(int width, int height, std::string& error)
{
    std::unique_ptr<HeadlessGlSurface> surface(new HeadlessGlSurface());
    if (!surface->Open(std::max(width, 1), std::max(height, 1), error))
        return nullptr;
    return surface;
}

bool HeadlessGlSurface::Open(int width, int height, std::string& error)
{
    size_ = GlSurfaceSize{width, height};
    EGLDisplay display = OpenSurfacelessDisplay(error);
    if (display == EGL_NO_DISPLAY)
        return false;
    display_ = display;
    EGLContext context = CreateCoreContext(display, error);
    if (context == EGL_NO_CONTEXT)
        return false;
    context_ = context;
    if (eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) != EGL_TRUE) {
        error = "EGL could not make the surfaceless context current.";
        return false;
    }
    return MakeFramebuffer(error);
}

bool HeadlessGlSurface::MakeFramebuffer(std::string& error)
{
    glGenRenderbuffers(1, &colourBuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, colourBuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, size_.width, size_.height);
    glGenRenderbuffers(1, &depthBuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, size_.width, size_.height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colourBuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depthBuffer_);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        error = "The offscreen framebuffer is incomplete.";
        return false;
    }
    return true;
}

HeadlessGlSurface::~HeadlessGlSurface()
{
    if (context_ == nullptr)
        return;
    if (MakeCurrent()) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        if (framebuffer_ != 0)
            glDeleteFramebuffers(1, &framebuffer_);
        if (colourBuffer_ != 0)
            glDeleteRenderbuffers(1, &colourBuffer_);
        if (depthBuffer_ != 0)
            glDeleteRenderbuffers(1, &depthBuffer_);
    }
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display_, context_);
}

bool HeadlessGlSurface::MakeCurrent()
{
    if (context_ == nullptr || eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) != EGL_TRUE)
        return false;
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    return true;
}

void HeadlessGlSurface::SwapBuffers()
{
    glFinish();
}

std::vector<std::uint8_t> HeadlessGlSurface::ReadRgba()
{
    if (!MakeCurrent())
        return {};
    const std::size_t rowBytes = static_cast<std::size_t>(size_.width) * 4;
    std::vector<std::uint8_t> bottomUp(rowBytes * static_cast<std::size_t>(size_.height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, size_.width, size_.height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    std::vector<std::uint8_t> topDown(bottomUp.size());
    for (int row = 0; row < size_.height; ++row)
        std::memcpy(topDown.data() + static_cast<std::size_t>(row) * rowBytes,
                    bottomUp.data() + static_cast<std::size_t>(size_.height - 1 - row) * rowBytes, rowBytes);
    return topDown;
}

}  // namespace grainforge::gl
