#include "gl/GlLoader.h"

#include <GL/glx.h>

#include <algorithm>
#include <vector>

namespace qv {

namespace {
// Contexts whose entry points are loaded. The viewer makes a handful of
// contexts in its life, so a short list beats any map.
std::vector<GLXContext>& loadedContexts()
{
    static std::vector<GLXContext> contexts;
    return contexts;
}
} // namespace

bool hasCurrentGlContext() { return glXGetCurrentContext() != nullptr; }

GLenum loadGlEntryPoints()
{
    GLXContext current = glXGetCurrentContext();
    if (current == nullptr)
        return GLEW_ERROR_NO_GL_VERSION;
    auto& contexts = loadedContexts();
    if (std::find(contexts.begin(), contexts.end(), current) != contexts.end())
        return GLEW_OK;
    glewExperimental = GL_TRUE;
    const GLenum result = glewInit();
    // glewInit can leave GL_INVAL_ENUM behind on core-style queries; callers
    // read glGetError for their own calls, so do not hand them ours.
    while (glGetError() != GL_NO_ERROR) {
    }
    if (result == GLEW_OK)
        contexts.push_back(current);
    return result;
}

} // namespace qv
