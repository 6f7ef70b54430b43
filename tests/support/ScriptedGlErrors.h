// The native test binaries stand in for glGetError: it answers these codes,
// front first, before asking GL. Mesa keeps a single error flag, so several
// pending errors, or an out-of-memory at a chosen call, can only be staged so.
#pragma once

#include <GL/gl.h>

#include <deque>

namespace qvtest {
extern std::deque<GLenum> scriptedGlErrors;
} // namespace qvtest
