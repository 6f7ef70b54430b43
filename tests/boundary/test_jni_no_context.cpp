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
#include <type_traits>
#include <utility>

namespace {

// Stands in for a live object's handle: never dereferenced when the guard
// holds, and a crash (a test failure) when it does not.
alignas(16) unsigned char fakeObject[1 << 14];
const jlong kHandle = static_cast<jlong>(reinterpret_cast<intptr_t>(fakeObject));

// An export bound to its arguments, answering whether it gave anything but 0. A void export
// answers false: what tells it did nothing is its log line.
template <class F, class... A>
std::function<bool()> answerOf(JNIEnv* env, F exported, A... args)
{
    return [=] {
        if constexpr (std::is_void_v<decltype(exported(env, nullptr, args...))>)
            return exported(env, nullptr, args...), false;
        else
            return bool(exported(env, nullptr, args...));
    };
}

} // namespace

TEST(NoGlContext, ExportsThatNeedGlFailWithALogLine)
{
    ASSERT_FALSE(qv::hasCurrentGlContext());
    EXPECT_EQ(qv::loadGlEntryPoints(), GLenum(GLEW_ERROR_NO_GL_VERSION));
    JNIEnv* env = qvtest::jvmEnv();
    ASSERT_EQ(env->PushLocalFrame(32), 0);
    const auto str = [env](const char* s) { return env->NewStringUTF(s); };
    const jfloat xs[] = {0, 10, 0};
    jfloatArray triangle = env->NewFloatArray(3);
    env->SetFloatArrayRegion(triangle, 0, 3, xs);
    jobjectArray encoder = env->NewObjectArray(1, env->FindClass("java/lang/String"), str("quorvex-encoder"));
    // Each export by its name in its log line.
    const std::pair<const char*, std::function<bool()>> cases[] = {
        {"intGLCirlce", answerOf(env, Java_quorvex_viewer_OverlayView_GLCircle_intGLCirlce, 200, 200)},
        {"createGraphic", answerOf(env, Java_quorvex_viewer_OverlayView_GLCircle_createGraphic, kHandle)},
        {"drawCircle", answerOf(env, Java_quorvex_viewer_OverlayView_GLCircle_drawCircle, kHandle)},
        {"selectCircle",
         answerOf(env, Java_quorvex_viewer_OverlayView_GLCircle_selectCircle, kHandle, 0, 0, 8, 8)},
        {"iniHeatmapBuffer_n",
         answerOf(env, Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n, 512, 512)},
        {"deleteHeatmap_n",
         answerOf(env, Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n, kHandle)},
        {"intGLFont",
         answerOf(env, Java_quorvex_viewer_OverlayView_GLFont_intGLFont, str("DejaVuSans.ttf"), 12)},
        {"drawText",
         answerOf(env, Java_quorvex_viewer_OverlayView_GLFont_drawText, kHandle, 1, 1, str("ab"), 1, 1, 1)},
        {"intGLCache", answerOf(env, Java_quorvex_viewer_OverlayView_GLCacheDrawing_intGLCache)},
        {"saveBuffer", answerOf(env, Java_quorvex_viewer_OverlayView_GLCacheDrawing_saveBuffer, kHandle,
                                str("/tmp/qv-none.png"))},
        {"GetTexture", answerOf(env, Java_quorvex_viewer_OverlayView_GLImage_GetTexture, str("a.png"))},
        {"ReleaseAllTexture", answerOf(env, Java_quorvex_viewer_OverlayView_GLImage_ReleaseAllTexture)},
        {"fillPolygonGLF",
         answerOf(env, Java_quorvex_viewer_OverlayView_GLPolygon_fillPolygonGLF, triangle, triangle, 3)},
        {"initSaveVideo", // no encoder is started
         answerOf(env, Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_initSaveVideo,
                  jobject(nullptr), str("/tmp/qv-no-gl.mp4"), 64, 48, 10, jstring(nullptr), encoder)},
    };
    for (const auto& c : cases) {
        qvtest::clearSyslog();
        EXPECT_FALSE(c.second()) << c.first;
        EXPECT_TRUE(qvtest::syslogContains(std::string(c.first) + ": no current GL context")) << c.first;
        EXPECT_FALSE(env->ExceptionCheck()) << c.first;
    }
    env->PopLocalFrame(nullptr);
}
