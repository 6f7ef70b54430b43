// Exports that need GL, called before any canvas has made a context current.
// Run alone (as ctest runs each test) no context has ever existed in the
// process, so GLEW's entry points are still null and any GL 2+ call would
// crash it. Each export must answer its failure value and log why instead.
#include "gl/GlLoader.h"
#include "support/EmbeddedJvm.h"
#include "support/SyslogCapture.h"

#include "quorvex_viewer_AnimationView_VideoPlaybackMovieCreator.h"
#include "quorvex_viewer_OverlayView_GLCacheDrawing.h"
#include "quorvex_viewer_OverlayView_GLCircle.h"
#include "quorvex_viewer_OverlayView_GLDirectBuffer.h"
#include "quorvex_viewer_OverlayView_GLFont.h"
#include "quorvex_viewer_OverlayView_GLImage.h"
#include "quorvex_viewer_OverlayView_GLPolygon.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <functional>
#include <string>

namespace {

// Stands in for a live object's handle: never dereferenced when the guard
// holds, and a crash (a test failure) when it does not.
alignas(16) unsigned char fakeObject[1 << 14];
const jlong kHandle = static_cast<jlong>(reinterpret_cast<intptr_t>(fakeObject));

struct Case {
    const char* what; // the export's name in its log line
    std::function<jlong(JNIEnv*)> call;
};

jfloatArray triangle(JNIEnv* env)
{
    const jfloat xs[] = {0, 10, 0};
    jfloatArray array = env->NewFloatArray(3);
    env->SetFloatArrayRegion(array, 0, 3, xs);
    return array;
}

// Void exports answer 0 here; what tells they did nothing is the log line.
const Case kCases[] = {
    {"intGLCirlce",
     [](JNIEnv*) {
         return Java_quorvex_viewer_OverlayView_GLCircle_intGLCirlce(nullptr, nullptr, 200, 200);
     }},
    {"createGraphic",
     [](JNIEnv*) {
         return Java_quorvex_viewer_OverlayView_GLCircle_createGraphic(nullptr, nullptr, kHandle);
     }},
    {"drawCircle",
     [](JNIEnv*) {
         Java_quorvex_viewer_OverlayView_GLCircle_drawCircle(nullptr, nullptr, kHandle);
         return jlong(0);
     }},
    {"selectCircle",
     [](JNIEnv* env) {
         return jlong(Java_quorvex_viewer_OverlayView_GLCircle_selectCircle(env, nullptr, kHandle, 0, 0, 8,
                                                                            8) != nullptr);
     }},
    {"iniHeatmapBuffer_n",
     [](JNIEnv*) {
         return Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(nullptr, nullptr, 512,
                                                                                   512);
     }},
    {"deleteHeatmap_n",
     [](JNIEnv*) {
         Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n(nullptr, nullptr, kHandle);
         return jlong(0);
     }},
    {"intGLFont",
     [](JNIEnv* env) {
         return Java_quorvex_viewer_OverlayView_GLFont_intGLFont(env, nullptr,
                                                                 env->NewStringUTF("DejaVuSans.ttf"), 12);
     }},
    {"drawText",
     [](JNIEnv* env) {
         return jlong(Java_quorvex_viewer_OverlayView_GLFont_drawText(env, nullptr, kHandle, 1, 1,
                                                                      env->NewStringUTF("ab"), 1, 1, 1));
     }},
    {"intGLCache",
     [](JNIEnv*) { return Java_quorvex_viewer_OverlayView_GLCacheDrawing_intGLCache(nullptr, nullptr); }},
    {"saveBuffer",
     [](JNIEnv* env) {
         return jlong(Java_quorvex_viewer_OverlayView_GLCacheDrawing_saveBuffer(
             env, nullptr, kHandle, env->NewStringUTF("/tmp/qv-none.png")));
     }},
    {"GetTexture",
     [](JNIEnv* env) {
         return Java_quorvex_viewer_OverlayView_GLImage_GetTexture(env, nullptr, env->NewStringUTF("a.png"));
     }},
    {"ReleaseAllTexture",
     [](JNIEnv*) {
         Java_quorvex_viewer_OverlayView_GLImage_ReleaseAllTexture(nullptr, nullptr);
         return jlong(0);
     }},
    {"fillPolygonGLF",
     [](JNIEnv* env) {
         return jlong(Java_quorvex_viewer_OverlayView_GLPolygon_fillPolygonGLF(env, nullptr, triangle(env),
                                                                               triangle(env), 3));
     }},
    {"initSaveVideo", // no encoder is started
     [](JNIEnv* env) {
         jobjectArray encoder =
             env->NewObjectArray(1, env->FindClass("java/lang/String"), env->NewStringUTF("quorvex-encoder"));
         return jlong(Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_initSaveVideo(
             env, nullptr, nullptr, env->NewStringUTF("/tmp/qv-no-gl.mp4"), 64, 48, 10, nullptr, encoder));
     }},
};

} // namespace

TEST(NoGlContext, ExportsThatNeedGlFailWithALogLine)
{
    ASSERT_FALSE(qv::hasCurrentGlContext());
    EXPECT_EQ(qv::loadGlEntryPoints(), GLenum(GLEW_ERROR_NO_GL_VERSION));
    JNIEnv* env = qvtest::jvmEnv();
    ASSERT_EQ(env->PushLocalFrame(32), 0);
    for (const Case& c : kCases) {
        qvtest::clearSyslog();
        EXPECT_EQ(c.call(env), 0) << c.what;
        EXPECT_TRUE(qvtest::syslogContains(std::string(c.what) + ": no current GL context")) << c.what;
        EXPECT_FALSE(env->ExceptionCheck()) << c.what;
    }
    env->PopLocalFrame(nullptr);
}
