// The OpenGL entry points beyond version 1.1 that the renderer calls, kept in one table that is
// filled through a resolver. The program resolves through libepoxy, which works on GLX and EGL
// alike; tests hand in resolvers of their own to stand for a driver that lacks an entry point
// or runs out of memory, since the real loaders answer every name.
#pragma once

#include <epoxy/gl.h>

#include <functional>
#include <string>

namespace grainforge::gl {

// Finds an entry point by its OpenGL name ("glGenBuffers"); null when the driver has none.
using GlProcResolver = std::function<void*(const char* name)>;

// X(member, function type, OpenGL name, required) for every slot, in slot order. The six timer
// query functions may be missing: frames are then drawn without GPU timing; without
// glGenerateMipmap the view cube's labels are filtered linearly.
#define TESSARY_GL_FUNCTIONS(X)                                                   \
    X(GenQueries, PFNGLGENQUERIESPROC, glGenQueries, false)                       \
    X(DeleteQueries, PFNGLDELETEQUERIESPROC, glDeleteQueries, false)              \
    X(BeginQuery, PFNGLBEGINQUERYPROC, glBeginQuery, false)                       \
    X(EndQuery, PFNGLENDQUERYPROC, glEndQuery, false)                             \
    X(GetQueryObjectuiv, PFNGLGETQUERYOBJECTUIVPROC, glGetQueryObjectuiv, false)  \
    X(GetQueryObjectui64v, PFNGLGETQUERYOBJECTUI64VPROC, glGetQueryObjectui64v, false) \
    X(GenVertexArrays, PFNGLGENVERTEXARRAYSPROC, glGenVertexArrays, true)         \
    X(BindVertexArray, PFNGLBINDVERTEXARRAYPROC, glBindVertexArray, true)         \
    X(DeleteVertexArrays, PFNGLDELETEVERTEXARRAYSPROC, glDeleteVertexArrays, true) \
    X(GenBuffers, PFNGLGENBUFFERSPROC, glGenBuffers, true)                        \
    X(BindBuffer, PFNGLBINDBUFFERPROC, glBindBuffer, true)                        \
    X(BufferData, PFNGLBUFFERDATAPROC, glBufferData, true)                        \
    X(BufferSubData, PFNGLBUFFERSUBDATAPROC, glBufferSubData, true)               \
    X(DeleteBuffers, PFNGLDELETEBUFFERSPROC, glDeleteBuffers, true)               \
    X(EnableVertexAttribArray, PFNGLENABLEVERTEXATTRIBARRAYPROC, glEnableVertexAttribArray, true) \
    X(VertexAttribPointer, PFNGLVERTEXATTRIBPOINTERPROC, glVertexAttribPointer, true) \
    X(CreateShader, PFNGLCREATESHADERPROC, glCreateShader, true)                  \
    X(ShaderSource, PFNGLSHADERSOURCEPROC, glShaderSource, true)                  \
    X(CompileShader, PFNGLCOMPILESHADERPROC, glCompileShader, true)               \
    X(GetShaderiv, PFNGLGETSHADERIVPROC, glGetShaderiv, true)                     \
    X(GetShaderInfoLog, PFNGLGETSHADERINFOLOGPROC, glGetShaderInfoLog, true)      \
    X(DeleteShader, PFNGLDELETESHADERPROC, glDeleteShader, true)                  \
    X(CreateProgram, PFNGLCREATEPROGRAMPROC, glCreateProgram, true)               \
    X(AttachShader, PFNGLATTACHSHADERPROC, glAttachShader, true)                  \
    X(LinkProgram, PFNGLLINKPROGRAMPROC, glLinkProgram, true)                     \
    X(GetProgramiv, PFNGLGETPROGRAMIVPROC, glGetProgramiv, true)                  \
    X(GetProgramInfoLog, PFNGLGETPROGRAMINFOLOGPROC, glGetProgramInfoLog, true)   \
    X(DeleteProgram, PFNGLDELETEPROGRAMPROC, glDeleteProgram, true)               \
    X(UseProgram, PFNGLUSEPROGRAMPROC, glUseProgram, true)                        \
    X(GetUniformLocation, PFNGLGETUNIFORMLOCATIONPROC, glGetUniformLocation, true) \
    X(UniformMatrix4fv, PFNGLUNIFORMMATRIX4FVPROC, glUniformMatrix4fv, true)      \
    X(Uniform3f, PFNGLUNIFORM3FPROC, glUniform3f, true)                           \
    X(Uniform1i, PFNGLUNIFORM1IPROC, glUniform1i, true)                           \
    X(Uniform1f, PFNGLUNIFORM1FPROC, glUniform1f, true)                           \
    X(Uniform2f, PFNGLUNIFORM2FPROC, glUniform2f, true)                           \
    X(ActiveTexture, PFNGLACTIVETEXTUREPROC, glActiveTexture, true)               \
    X(GenerateMipmap, PFNGLGENERATEMIPMAPPROC, glGenerateMipmap, false)           \
    X(GenFramebuffers, PFNGLGENFRAMEBUFFERSPROC, glGenFramebuffers, true)         \
    X(BindFramebuffer, PFNGLBINDFRAMEBUFFERPROC, glBindFramebuffer, true)         \
    X(FramebufferTexture2D, PFNGLFRAMEBUFFERTEXTURE2DPROC, glFramebufferTexture2D, true) \
    X(CheckFramebufferStatus, PFNGLCHECKFRAMEBUFFERSTATUSPROC, glCheckFramebufferStatus, true) \
    X(DeleteFramebuffers, PFNGLDELETEFRAMEBUFFERSPROC, glDeleteFramebuffers, true) \
    X(GetError, PFNGLGETERRORPROC, glGetError, true)

struct GlFunctionTable {
#define TESSARY_GL_MEMBER(member, type, name, required) type member = nullptr;
    TESSARY_GL_FUNCTIONS(TESSARY_GL_MEMBER)
#undef TESSARY_GL_MEMBER

    // True when the four functions of GPU timing are present.
    bool HasTimerQueries() const
    {
        return GenQueries != nullptr && BeginQuery != nullptr && EndQuery != nullptr &&
               GetQueryObjectuiv != nullptr && GetQueryObjectui64v != nullptr;
    }
};

// Resolves through libepoxy's dispatch for whichever context is current when a function is
// called. Answers only the names of the table.
GlProcResolver EpoxyProcResolver();

// One entry point into `slot`; false with "OpenGL driver does not provide <name>." written to
// `errorText` when the resolver answers null.
bool LoadGlFunction(void*& slot, const char* name, const GlProcResolver& resolver, std::string& errorText);

// Fills the table: the first required block, then the optional timer queries (their failures
// ignored), then the rest, stopping at the first missing required entry point. False with the
// text in `lastError` when one is missing. The table is cleared first.
[[nodiscard]] bool LoadGlFunctions(GlFunctionTable& table, const GlProcResolver& resolver, std::string& lastError);

}  // namespace grainforge::gl
