#include "support/ScriptedGlErrors.h"

#include <dlfcn.h>

namespace qvtest {
std::deque<GLenum> scriptedGlErrors;
} // namespace qvtest

// The binary exports its symbols, so the library's calls land here too.
extern "C" GLenum glGetError(void)
{
    if (!qvtest::scriptedGlErrors.empty()) {
        const GLenum e = qvtest::scriptedGlErrors.front();
        qvtest::scriptedGlErrors.pop_front();
        return e;
    }
    using Fn = GLenum (*)();
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "glGetError"));
    return real != nullptr ? real() : GL_NO_ERROR;
}
