// The library's one GL loader: GLEW's entry points are loaded once per GL
// context, not at every object that needs them, and exports can ask first
// whether any context is current (without one, GL calls crash the JVM).
// A context is the viewer's GLX one or a headless EGL one; per-context state
// keys on whichever of the two is current.
#pragma once

#include <GL/glew.h>

namespace qv {

// The calling thread's current GL context, GLX first, then EGL; null when
// neither API has one current.
const void* currentGlContext();

// True when the calling thread has a GL context current.
bool hasCurrentGlContext();

// Loads GLEW's entry points for the current context the first time it is seen.
// Returns GLEW_OK, or GLEW's error code (GLEW_ERROR_NO_GL_VERSION when no
// context is current; nothing is remembered then).
GLenum loadGlEntryPoints();

// loadGlEntryPoints for an object that needs the entry points: a failure is
// logged as " failed init glew %s " with GLEW's text, and the object goes on.
// True when they are loaded.
bool loadGlEntryPointsOrLog();

} // namespace qv
