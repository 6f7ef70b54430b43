// JNI exports of the overlay classes (quorvex.viewer.OverlayView).
#include "boundary/Debug_Trace.h"
#include "boundary/JniSupport.h"
#include "gl/GLCache.h"
#include "gl/TextureManager.h"
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
// quorvex.viewer.OverlayView.GLImage: stimulus images through the texture
// manager of the caller's current GL context.
// ===========================================================================
namespace {

// Runs `body` on the current context's manager with the file name as UTF-8;
// a null or empty name, or no current context, does nothing.
template <class R, class F>
R withImageName(JNIEnv* env, const char* what, jstring str, R failure, F&& body)
{
    return qv::guard(what, failure, [&] {
        qv::Utf8 name = qv::utf8(env, str);
        if (!name) {
            debug_trace("%s: no file name \n", what);
            return failure;
        }
        TextureManager* manager = TextureManager::getInstance();
        if (manager == nullptr)
            return failure;
        return body(*manager, name.get());
    });
}

void drawImage(JNIEnv* env, const char* what, jstring str, jfloat x, jfloat y, jfloat w, jfloat h, bool update)
{
    withImageName(env, what, str, 0, [&](TextureManager& manager, char* name) {
        manager.drawPlainTexture(name, x, y, w, h, update);
        return 0;
    });
}

} // namespace

extern "C" {

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLImage_DrawTexture(JNIEnv* env, jclass, jstring str, jfloat x,
                                                                          jfloat y, jfloat w, jfloat h)
{
    drawImage(env, "DrawTexture", str, x, y, w, h, false);
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLImage_DrawTextureWithUpdate(JNIEnv* env, jclass, jstring str,
                                                                                    jfloat x, jfloat y, jfloat w,
                                                                                    jfloat h)
{
    drawImage(env, "DrawTextureWithUpdate", str, x, y, w, h, true);
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLImage_DrawBlendTexture(JNIEnv* env, jclass, jstring str,
                                                                               jfloat x, jfloat y, jfloat w, jfloat h)
{
    withImageName(env, "DrawBlendTexture", str, 0, [&](TextureManager& manager, char* name) {
        manager.drawTexture(name, x, y, w, h);
        return 0;
    });
}

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLImage_GetTexture(JNIEnv* env, jclass, jstring str)
{
    return withImageName(env, "GetTexture", str, jlong(0), [&](TextureManager& manager, char* name) {
        return static_cast<jlong>(static_cast<unsigned int>(manager.getTexture(name)));
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLImage_ReleaseAllTexture(JNIEnv*, jclass)
{
    qv::guardVoid("ReleaseAllTexture", [] {
        if (TextureManager* manager = TextureManager::getInstance())
            manager->UnloadAllTextures();
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLImage_DrawWebPageTexture(JNIEnv* env, jclass, jstring str,
                                                                                 jfloat x, jfloat y, jfloat w,
                                                                                 jfloat h)
{
    withImageName(env, "DrawWebPageTexture", str, 0, [&](TextureManager& manager, char* name) {
        manager.drawWebPageTexture(name, x, y, w, h);
        return 0;
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLImage_clearLargeTexture(JNIEnv*, jclass)
{
    qv::guardVoid("clearLargeTexture", [] {
        if (TextureManager* manager = TextureManager::getInstance())
            manager->clearLargeTexture();
    });
}

} // extern "C"

// ===========================================================================
// quorvex.viewer.OverlayView.GLCacheDrawing: read-back of the view into an
// image file through a GLCache handle.
// ===========================================================================
extern "C" {

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCacheDrawing_intGLCache(JNIEnv*, jclass)
{
    return qv::guard("intGLCache", jlong(0), [] { return qv::toHandle(new GLCache()); });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLCacheDrawing_beginCache(JNIEnv*, jclass, jlong cobj)
{
    qv::withHandleVoid<GLCache>("beginCache", cobj, [](GLCache& cache) { cache.beginCache(); });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLCacheDrawing_endCache(JNIEnv*, jclass, jlong cobj)
{
    qv::withHandleVoid<GLCache>("endCache", cobj, [](GLCache& cache) { cache.endCache(); });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLCacheDrawing_getTexture(JNIEnv*, jclass, jlong cobj)
{
    return qv::withHandle<GLCache>("getTexture", cobj, jint(0),
                                   [](GLCache& cache) { return static_cast<jint>(cache.getTexture()); });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLCacheDrawing_saveBuffer(JNIEnv* env, jclass, jlong cobj,
                                                                                jstring str)
{
    return qv::withHandle<GLCache>("saveBuffer", cobj, jint(0), [&](GLCache& cache) {
        qv::Utf8 name = qv::utf8(env, str);
        if (!name) {
            debug_trace("saveBuffer: no file name, nothing saved \n");
            return jint(1);
        }
        return static_cast<jint>(cache.saveAsImage(name.get()));
    });
}

} // extern "C"
