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

// ===========================================================================
// quorvex.viewer.OverlayView.GLDirectBuffer: gaze heatmaps
// ===========================================================================

#include "heatmap/HeatmapScene.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The records a direct buffer can really hold: Java's size is clamped to the
// buffer's capacity so nothing past its end is read.
jint usableRecords(jlong capacityBytes, jint size)
{
    if (size < 0) {
        debug_trace("updateHeatmapBuffer_n: negative size %d taken as 0 \n", size);
        return 0;
    }
    const jlong available = capacityBytes > 0 ? capacityBytes / HeatmapScene::kRecordBytes : 0;
    if (size > available) {
        debug_trace("updateHeatmapBuffer_n: size %d exceeds the buffer's %lld records \n", size,
                    static_cast<long long>(available));
        return static_cast<jint>(available);
    }
    return size;
}

} // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(JNIEnv*, jclass, jint,
                                                                                         jint)
{
    return qv::guard("iniHeatmapBuffer_n", jlong(0), [] {
        auto* hs = new HeatmapScene();
        if (hs->m_init_successful)
            hs->initScene();
        if (hs->m_init_successful)
            return qv::toHandle(hs);
        puts(" delete hs ");
        fflush(NULL);
        delete hs;
        debug_trace("iniHeatmapBuffer_n: the heatmap programs could not be built \n");
        return jlong(0);
    });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapBuffer_1n(
    JNIEnv* env, jclass, jlong hobj, jobject buffer, jint w, jint h, jint size)
{
    return qv::guard("updateHeatmapBuffer_n", jint(0), [&] {
        void* address = buffer != nullptr ? env->GetDirectBufferAddress(buffer) : nullptr;
        if (address == nullptr) {
            qv::clearPendingException(env);
            debug_trace("updateHeatmapBuffer_n: not a direct buffer \n");
            return jint(0);
        }
        const jlong capacity = env->GetDirectBufferCapacity(buffer);
        int32_t first[2] = {0, 0};
        std::memcpy(first, address, static_cast<size_t>(capacity >= 8 ? 8 : (capacity > 0 ? capacity : 0)));
        printf(" get some value %d %d  \n", first[0], first[1]);
        fflush(NULL);
        const jint records = usableRecords(capacity, size);
        return qv::withHandle<HeatmapScene>("updateHeatmapBuffer_n", hobj, jint(0), [&](HeatmapScene& hs) {
            hs.updateHeatMapImage(address, w, h, records);
            return jint(1);
        });
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_drawHeatmapBuffer_1n(JNIEnv*, jclass,
                                                                                         jlong hobj)
{
    qv::withHandleVoid<HeatmapScene>("drawHeatmapBuffer_n", hobj, [](HeatmapScene& hs) { hs.drawHeatMap(); });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapValue_1n(
    JNIEnv*, jclass, jlong hobj, jint c, jint x, jint y, jint w, jint h)
{
    qv::withHandleVoid<HeatmapScene>("updateHeatmapValue_n", hobj,
                                     [&](HeatmapScene& hs) { hs.updateHeatMapValue(c, x, y, w, h); });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n(JNIEnv*, jclass, jlong hobj)
{
    qv::withHandleVoid<HeatmapScene>("deleteHeatmap_n", hobj, [](HeatmapScene& hs) { delete &hs; });
}

} // extern "C"
