// The instanced filled and pick draws as they were before they became
// GL_TRIANGLES: one GL_TRIANGLE_STRIP over the 129 fan indices. Kept here,
// bench-only, so bench_circles can compare pixels and time in the same run.
#pragma once

#include "overlay/CircleDataSets.h"

// renderVbo(mode) of a set with its programs built (modes 1 filled, 2 pick colours).
void legacyRenderVbo(CircleDataSets& set, int mode);
// postRenderVbo(lookupTex): the peeling pass.
void legacyPostRenderVbo(CircleDataSets& set, GLuint lookupTex);
