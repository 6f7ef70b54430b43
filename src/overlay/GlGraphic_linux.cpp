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
int usableVertices(const char* what, const qv::ArrayElements<A>& xs, const qv::ArrayElements<A>& ys,
                   jint nums)
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
    return qv::guard(qv::needsGl, what, jint(0), [&] {
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

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLI(JNIEnv* env, jclass,
                                                                                jintArray xs, jintArray ys,
                                                                                jint nums)
{
    return polygonExport(env, "drawPolygonGLI", xs, ys, nums, false);
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLF(JNIEnv* env, jclass,
                                                                                jfloatArray xs,
                                                                                jfloatArray ys, jint nums)
{
    return polygonExport(env, "drawPolygonGLF", xs, ys, nums, false);
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLPolygon_fillPolygonGLF(JNIEnv* env, jclass,
                                                                                jfloatArray xs,
                                                                                jfloatArray ys, jint nums)
{
    return polygonExport(env, "fillPolygonGLF", xs, ys, nums, true);
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLPolygon_fillPolygonGLI(JNIEnv* env, jclass,
                                                                                jintArray xs, jintArray ys,
                                                                                jint nums)
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
    return qv::guard(qv::needsGl, what, failure, [&] {
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

void drawImage(JNIEnv* env, const char* what, jstring str, jfloat x, jfloat y, jfloat w, jfloat h,
               bool update)
{
    withImageName(env, what, str, 0, [&](TextureManager& manager, char* name) {
        manager.drawPlainTexture(name, x, y, w, h, update);
        return 0;
    });
}

} // namespace

extern "C" {

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLImage_DrawTexture(JNIEnv* env, jclass, jstring str,
                                                                           jfloat x, jfloat y, jfloat w,
                                                                           jfloat h)
{
    drawImage(env, "DrawTexture", str, x, y, w, h, false);
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLImage_DrawTextureWithUpdate(JNIEnv* env, jclass,
                                                                                     jstring str, jfloat x,
                                                                                     jfloat y, jfloat w,
                                                                                     jfloat h)
{
    drawImage(env, "DrawTextureWithUpdate", str, x, y, w, h, true);
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLImage_DrawBlendTexture(JNIEnv* env, jclass,
                                                                                jstring str, jfloat x,
                                                                                jfloat y, jfloat w, jfloat h)
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
    qv::guardVoid(qv::needsGl, "ReleaseAllTexture", [] {
        if (TextureManager* manager = TextureManager::getInstance())
            manager->UnloadAllTextures();
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLImage_DrawWebPageTexture(JNIEnv* env, jclass,
                                                                                  jstring str, jfloat x,
                                                                                  jfloat y, jfloat w,
                                                                                  jfloat h)
{
    withImageName(env, "DrawWebPageTexture", str, 0, [&](TextureManager& manager, char* name) {
        manager.drawWebPageTexture(name, x, y, w, h);
        return 0;
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLImage_clearLargeTexture(JNIEnv*, jclass)
{
    qv::guardVoid(qv::needsGl, "clearLargeTexture", [] {
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
    return qv::guard(qv::needsGl, "intGLCache", jlong(0), [] { return qv::registerHandle(new GLCache()); });
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

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLCacheDrawing_saveBuffer(JNIEnv* env, jclass,
                                                                                 jlong cobj, jstring str)
{
    return qv::withHandle<GLCache>(qv::needsGl, "saveBuffer", cobj, jint(0), [&](GLCache& cache) {
        qv::Utf8 name = qv::utf8(env, str);
        if (!name) {
            debug_trace("saveBuffer: no file name, nothing saved \n");
            return jint(1);
        }
        return static_cast<jint>(cache.saveAsImage(name.get()));
    });
}

} // extern "C"

// ============================================================================
// quorvex.viewer.OverlayView.GLCircle: fixation circles (instanced batches,
// single circles, selection by colour picking).
// ============================================================================
#include "overlay/CircleDataSets.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The circle calls that reach GL (creating the graphic, single circles).
jlong circleCall(const char* what, jlong cobj, void (*body)(CircleDataSets&, const float*), const float* args)
{
    return qv::withHandle<CircleDataSets>(qv::needsGl, what, cobj, jlong(0), [&](CircleDataSets& c) {
        body(c, args);
        return jlong(1);
    });
}

jintArray toJavaInts(JNIEnv* env, const std::vector<int>& values)
{
    jintArray array = env->NewIntArray(static_cast<jsize>(values.size()));
    if (array == nullptr) {
        qv::clearPendingException(env);
        debug_trace("selectCircle: no Java array for %d slots \n", static_cast<int>(values.size()));
        return nullptr;
    }
    if (!values.empty())
        env->SetIntArrayRegion(array, 0, static_cast<jsize>(values.size()), values.data());
    return array;
}

} // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_intGLCirlce(JNIEnv*, jclass, jint w, jint h)
{
    return qv::guard(qv::needsGl, "intGLCirlce", jlong(0), [&] {
        printf(" init circle %d %d \n", w, h);
        fflush(stdout);
        if (w < 1 || h < 1) {
            debug_trace("intGLCirlce: canvas size %d x %d refused \n", w, h);
            return jlong(0);
        }
        return qv::registerHandle(new CircleDataSets(w, h));
    });
}

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_clearCircles(JNIEnv*, jclass, jlong cobj)
{
    return qv::withHandle<CircleDataSets>("clearCircles", cobj, jlong(0), [](CircleDataSets& c) {
        c.clearNodes();
        return jlong(1);
    });
}

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_setShaders(JNIEnv* env, jclass, jlong cobj,
                                                                            jstring shaderfile,
                                                                            jstring shadername)
{
    return qv::withHandle<CircleDataSets>("setShaders", cobj, jlong(0), [&](CircleDataSets& c) {
        const qv::Utf8 file = qv::utf8(env, shaderfile);
        const qv::Utf8 name = qv::utf8(env, shadername);
        if (!file || !name) {
            debug_trace("setShaders: empty shader path or role \n");
            return jlong(0);
        }
        if (std::strlen(file.get()) > 511) {
            debug_trace("setShaders: shader path longer than 511 characters \n");
            return jlong(0);
        }
        c.setShader(file.get(), name.get());
        return jlong(1);
    });
}

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_createGraphic(JNIEnv*, jclass, jlong cobj)
{
    return circleCall(
        "createGraphic", cobj, [](CircleDataSets& c, const float*) { c.createVbo(); }, nullptr);
}

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_fillSingleCircle__JFFFFFFF(
    JNIEnv*, jclass, jlong cobj, jfloat x, jfloat y, jfloat sx, jfloat sy, jfloat r, jfloat g, jfloat b)
{
    const float a[] = {x, y, sx, sy, r, g, b};
    return circleCall(
        "fillSingleCircle", cobj,
        [](CircleDataSets& c, const float* v) {
            c.drawSingleCircle(v[0], v[1], v[2], v[3], v[4], v[5], v[6], 1, 1.3f);
        },
        a);
}

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_fillSingleCircle__JFFFFFFFF(
    JNIEnv*, jclass, jlong cobj, jfloat x, jfloat y, jfloat sx, jfloat sy, jfloat r, jfloat g, jfloat b,
    jfloat alpha)
{
    const float a[] = {x, y, sx, sy, r, g, b, alpha};
    return circleCall(
        "fillSingleCircle", cobj,
        [](CircleDataSets& c, const float* v) {
            c.drawSingleCircle(v[0], v[1], v[2], v[3], v[4], v[5], v[6], 1, v[7]);
        },
        a);
}

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_drawSingleCircle(
    JNIEnv*, jclass, jlong cobj, jfloat x, jfloat y, jfloat sx, jfloat sy, jfloat r, jfloat g, jfloat b,
    jfloat ls, jint mode)
{
    return qv::withHandle<CircleDataSets>(qv::needsGl, "drawSingleCircle", cobj, jlong(0),
                                          [&](CircleDataSets& c) {
                                              c.drawSingleCircle(x, y, sx, sy, r, g, b, mode, ls);
                                              return jlong(1);
                                          });
}

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_addCircle__IIFFFFFF(
    JNIEnv*, jclass, jlong cobj, jint index, jfloat x, jfloat y, jfloat size, jfloat r, jfloat g, jfloat b)
{
    return qv::withHandle<CircleDataSets>("addCircle", cobj, jlong(0), [&](CircleDataSets& c) {
        c.addCircleNode(index, x, y, size, r, g, b);
        return jlong(1);
    });
}

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_addCircle(JNIEnv*, jclass, jlong cobj,
                                                                           jfloat x, jfloat y, jfloat size,
                                                                           jfloat r, jfloat g, jfloat b)
{
    return qv::withHandle<CircleDataSets>("addCircle", cobj, jlong(0), [&](CircleDataSets& c) {
        c.addCircleNode(x, y, size, r, g, b);
        return jlong(1);
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLCircle_updateCircle(JNIEnv*, jclass, jlong cobj,
                                                                             jint id, jfloat x, jfloat y,
                                                                             jfloat size, jfloat r, jfloat g,
                                                                             jfloat b)
{
    qv::withHandleVoid<CircleDataSets>("updateCircle", cobj,
                                       [&](CircleDataSets& c) { c.updateNode(id, x, y, size, r, g, b); });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLCircle_drawCircle(JNIEnv*, jclass, jlong cobj)
{
    qv::withHandleVoid<CircleDataSets>(qv::needsGl, "drawCircle", cobj,
                                       [](CircleDataSets& c) { c.renderVbo(0); });
}

JNIEXPORT jintArray JNICALL Java_quorvex_viewer_OverlayView_GLCircle_selectCircle(JNIEnv* env, jclass,
                                                                                  jlong cobj, jint x, jint y,
                                                                                  jint w, jint h)
{
    return qv::withHandle<CircleDataSets>(
        qv::needsGl, "selectCircle", cobj, jintArray(nullptr), [&](CircleDataSets& c) {
            if (!c.canSelect()) {
                debug_trace("selectCircle: selection cannot run (GL %d, graphic %s) \n", c.version,
                            c.programsReady ? "created" : "not created");
                return jintArray(nullptr);
            }
            c.selectNodes(x, y, w, h);
            return toJavaInts(env, c.found_list);
        });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLCircle_updateWindowSize(JNIEnv*, jclass, jlong cobj,
                                                                                 jint w, jint h)
{
    return qv::withHandle<CircleDataSets>("updateWindowSize", cobj, jint(0), [&](CircleDataSets& c) {
        c.updateWindowSize(w, h);
        return jint(1);
    });
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

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(JNIEnv*, jclass,
                                                                                           jint, jint)
{
    return qv::guard(qv::needsGl, "iniHeatmapBuffer_n", jlong(0), [] {
        auto* hs = new HeatmapScene();
        if (hs->m_init_successful)
            hs->initScene();
        if (hs->m_init_successful)
            return qv::registerHandle(hs);
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
    qv::withHandleVoid<HeatmapScene>(qv::needsGl, "drawHeatmapBuffer_n", hobj,
                                     [](HeatmapScene& hs) { hs.drawHeatMap(); });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapValue_1n(
    JNIEnv*, jclass, jlong hobj, jint c, jint x, jint y, jint w, jint h)
{
    qv::withHandleVoid<HeatmapScene>("updateHeatmapValue_n", hobj,
                                     [&](HeatmapScene& hs) { hs.updateHeatMapValue(c, x, y, w, h); });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n(JNIEnv*, jclass,
                                                                                       jlong hobj)
{
    qv::withHandleVoid<HeatmapScene>(qv::needsGl, "deleteHeatmap_n", hobj, [](HeatmapScene& hs) {
        qv::forgetHandle(&hs);
        delete &hs;
    });
}

} // extern "C"

// ---------------------------------------------------------------------------
// quorvex.viewer.OverlayView.GLFont: text labels from a texture-atlas font.
// A font lives until the process ends; no export destroys one.
// ---------------------------------------------------------------------------

#include "overlay/QX_FTFont.h"

#include <cmath>
#include <cstdio>
#include <memory>

extern "C" {

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLFont_intGLFont(JNIEnv* env, jclass,
                                                                         jstring fontfile, jint size)
{
    return qv::guard(qv::needsGl, "intGLFont", jlong(0), [&] {
        const qv::Utf8 name = qv::utf8(env, fontfile);
        jlong handle = 0;
        if (!QX_FTFont::acceptsName(name.get())) {
            debug_trace("intGLFont: font name is empty or too long \n");
        } else {
            std::unique_ptr<QX_FTFont> font(new QX_FTFont(name.get(), size));
            if (font->init() == 1) {
                handle = qv::registerHandle(font.release());
            } else {
                puts(" font init failed delete it ");
                fflush(NULL);
                debug_trace("intGLFont: no usable font for %s at size %d \n", name.get(), size);
            }
        }
        printf("loading Result %x %lld\n", static_cast<unsigned int>(handle), static_cast<long long>(handle));
        fflush(NULL);
        return handle;
    });
}

JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLFont_setShaders(JNIEnv* env, jclass, jlong fobj,
                                                                          jstring shaderFile,
                                                                          jstring shaderType)
{
    return qv::withHandle<QX_FTFont>("setShaders", fobj, jlong(0), [&](QX_FTFont& font) {
        const qv::Utf8 file = qv::utf8(env, shaderFile);
        const qv::Utf8 type = qv::utf8(env, shaderType);
        if (file == nullptr || type == nullptr) {
            debug_trace("setShaders: empty shader file or type \n");
            return jlong(0);
        }
        font.setShader(file.get(), type.get());
        return jlong(1);
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLFont_loadFont(JNIEnv*, jclass, jlong) { }

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLFont_setFontSizes(JNIEnv*, jclass, jlong fobj,
                                                                           jint size)
{
    qv::withHandleVoid<QX_FTFont>(qv::needsGl, "setFontSizes", fobj,
                                  [&](QX_FTFont& font) { font.setFontSize(size); });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLFont_drawText(JNIEnv* env, jclass, jlong fobj,
                                                                       jfloat x, jfloat y, jstring text,
                                                                       jfloat r, jfloat g, jfloat b)
{
    return qv::withHandle<QX_FTFont>(qv::needsGl, "drawText", fobj, jint(0), [&](QX_FTFont& font) {
        if (text == nullptr) {
            debug_trace("drawText: null text \n");
            return jint(0);
        }
        const qv::Utf8 utf8 = qv::utf8(env, text);
        const jsize length = env->GetStringLength(text);
        // Truncation toward zero of coordinates far outside int is pinned to the range.
        const auto toInt = [](jfloat v) {
            return std::isfinite(v) && std::fabs(v) < 2.0e9f ? static_cast<int>(v) : 0;
        };
        font.drawFont(toInt(x), toInt(y), utf8.get(), length, r, g, b);
        return jint(1);
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLFont_updateText(JNIEnv*, jclass, jlong, jint, jfloat,
                                                                         jfloat, jstring, jfloat, jfloat,
                                                                         jfloat)
{ }

} // extern "C"
