// JNI exports of the overlay classes (quorvex.viewer.OverlayView).
#include "boundary/Debug_Trace.h"
#include "boundary/JniSupport.h"
#include "overlay/GLPolygon.h"

#include <algorithm>

namespace {

// The vertex count that is safe to read from both arrays; logs when Java's
// count does not match what the arrays hold.
template <class A>
int usableVertices(const char* what, const qv::ArrayElements<A>& xs, const qv::ArrayElements<A>& ys, jint nums)
{
    const jsize available = std::min(xs.size(), ys.size());
    if (xs.data() == nullptr || ys.data() == nullptr || nums < 1 || available < 1) {
        debug_trace("%s: no vertices (nums %d, arrays of %d and %d) \n", what, nums,
                    static_cast<int>(xs.size()), static_cast<int>(ys.size()));
        return 0;
    }
    if (nums > available) {
        debug_trace("%s: nums %d exceeds the arrays, using %d \n", what, nums, static_cast<int>(available));
        return available;
    }
    return nums;
}

template <class A>
jint polygonExport(JNIEnv* env, const char* what, A xsArray, A ysArray, jint nums, bool filled)
{
    return qv::guard(what, jint(0), [&] {
        qv::ArrayElements<A> xs(env, xsArray);
        qv::ArrayElements<A> ys(env, ysArray);
        const int n = usableVertices(what, xs, ys, nums);
        if (n < 1)
            return jint(0);
        if (!filled) {
            drawPolygonOutline(xs.data(), ys.data(), n);
            return jint(1);
        }
        return fillPolygon(xs.data(), ys.data(), n) ? jint(1) : jint(0);
    });
}

} // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLI(JNIEnv* env, jclass, jintArray xs,
                                                                               jintArray ys, jint nums)
{
    return polygonExport(env, "drawPolygonGLI", xs, ys, nums, false);
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLF(JNIEnv* env, jclass, jfloatArray xs,
                                                                               jfloatArray ys, jint nums)
{
    return polygonExport(env, "drawPolygonGLF", xs, ys, nums, false);
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLPolygon_fillPolygonGLF(JNIEnv* env, jclass, jfloatArray xs,
                                                                               jfloatArray ys, jint nums)
{
    return polygonExport(env, "fillPolygonGLF", xs, ys, nums, true);
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLPolygon_fillPolygonGLI(JNIEnv* env, jclass, jintArray xs,
                                                                               jintArray ys, jint nums)
{
    return polygonExport(env, "fillPolygonGLI", xs, ys, nums, true);
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLPolygon_drawQuadTexture(JNIEnv*, jclass, jint, jint)
{
    return 1;
}

} // extern "C"
