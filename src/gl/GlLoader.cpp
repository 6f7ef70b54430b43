#include "gl/GlLoader.h"

#include "boundary/Debug_Trace.h"

#include <EGL/egl.h>
#include <GL/glx.h>

#include <algorithm>
#include <vector>

namespace qv {

namespace {
// Contexts whose entry points are loaded. The viewer makes a handful of
// contexts in its life, so a short list beats any map. A destroyed context
// stays listed; one created later at its address needs no new load, because
// GL entry points are context-independent under GLVND and GLEW keeps them
// process-wide.
std::vector<const void*>& loadedContexts()
{
    static std::vector<const void*> contexts;
    return contexts;
}

// Debian's GLEW is built for GLX: after loading the GL entry points it asks
// for the current GLX display and, under EGL, answers that there is none.
// The GL entry points are loaded by then; only the GLX extension strings
// are missing, and nothing here uses them under EGL.
bool loadedUnderEgl(GLenum result)
{
    return result == GLEW_ERROR_NO_GLX_DISPLAY && glXGetCurrentContext() == nullptr &&
           eglGetCurrentContext() != EGL_NO_CONTEXT;
}

// glewInit probes with queries a core context refuses; the errors are
// GLEW's, not the caller's. Bounded, as a lost context may answer forever.
void drainGlErrors()
{
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) { }
}
} // namespace

const void* currentGlContext()
{
    if (GLXContext glx = glXGetCurrentContext())
        return glx;
    EGLContext egl = eglGetCurrentContext();
    return egl == EGL_NO_CONTEXT ? nullptr : egl;
}

bool hasCurrentGlContext() { return currentGlContext() != nullptr; }

GLenum loadGlEntryPoints()
{
    const void* current = currentGlContext();
    if (current == nullptr)
        return GLEW_ERROR_NO_GL_VERSION; // what glewInit itself answers then
    auto& contexts = loadedContexts();
    if (std::find(contexts.begin(), contexts.end(), current) != contexts.end())
        return GLEW_OK;
    glewExperimental = GL_TRUE; // entry points the driver has but does not advertise
    GLenum result = glewInit();
    drainGlErrors();
    if (loadedUnderEgl(result))
        result = GLEW_OK;
    if (result == GLEW_OK)
        contexts.push_back(current);
    return result;
}

bool loadGlEntryPointsOrLog()
{
    const GLenum result = loadGlEntryPoints();
    if (result != GLEW_OK)
        debug_trace(" failed init glew %s ", reinterpret_cast<const char*>(glewGetErrorString(result)));
    return result == GLEW_OK;
}

} // namespace qv
