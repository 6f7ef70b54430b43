#include "gl/GlLoader.h"

#include "boundary/Debug_Trace.h"

#include <GL/glx.h>

#include <algorithm>
#include <vector>

namespace qv {

namespace {
// Contexts whose entry points are loaded. The viewer makes a handful of
// contexts in its life, so a short list beats any map. A destroyed context
// stays listed; one created later at its address needs no new load, because
// GLX entry points are context-independent and GLEW keeps them process-wide.
std::vector<GLXContext>& loadedContexts()
{
    static std::vector<GLXContext> contexts;
    return contexts;
}

// glewInit probes with queries a core context refuses; the errors are
// GLEW's, not the caller's. Bounded, as a lost context may answer forever.
void drainGlErrors()
{
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) { }
}
} // namespace

bool hasCurrentGlContext() { return glXGetCurrentContext() != nullptr; }

GLenum loadGlEntryPoints()
{
    GLXContext current = glXGetCurrentContext();
    if (current == nullptr)
        return GLEW_ERROR_NO_GL_VERSION; // what glewInit itself answers then
    auto& contexts = loadedContexts();
    if (std::find(contexts.begin(), contexts.end(), current) != contexts.end())
        return GLEW_OK;
    glewExperimental = GL_TRUE; // entry points the driver has but does not advertise
    const GLenum result = glewInit();
    drainGlErrors();
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
