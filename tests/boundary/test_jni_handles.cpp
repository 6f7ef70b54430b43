// The live-handle registry at the exports: for every kind of native handle,
// made by its creating export, a garbage value, a handle already destroyed and
// a handle of another kind give the export's failure value and a log line,
// while the live handle still works.
#include "support/EmbeddedJvm.h"
#include "support/GlContext.h"
#include "support/SyslogCapture.h"

#include "quorvex_viewer_AnimationView_VideoClip.h"
#include "quorvex_viewer_AnimationView_VideoPlay.h"
#include "quorvex_viewer_AnimationView_VideoPlaybackMovieCreator.h"
#include "quorvex_viewer_OverlayView_GLCacheDrawing.h"
#include "quorvex_viewer_OverlayView_GLCircle.h"
#include "quorvex_viewer_OverlayView_GLDirectBuffer.h"
#include "quorvex_viewer_OverlayView_GLFont.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <jni.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// The fault plug-in opens any regular file (here itself) as a 64 x 48 clip.
const char kPlugin[] = QV_VIDEO_TEST_PLUGINS "/libqvfault.so";

// Every probe below fails with 0.
struct Kind {
    const char* name;                     // the class, as the log names it
    std::function<jlong()> create;        // through its creating export
    const char* probe;                    // an export that takes the handle (null: none does)
    std::function<jlong(jlong)> call;     // the probe's result
    const char* destroy = nullptr;        // its destroying export (null: none)
    std::function<void(jlong)> drop = {}; // destroys through that export
};

// Exports bound to their arguments, called as Java calls them; `taking` leaves out the handle,
// which follows the JNI pair.
template <class F, class... A>
auto making(JNIEnv* env, F exported, A... args)
{
    return [=] { return exported(env, nullptr, args...); };
}
template <class F, class... A>
auto taking(JNIEnv* env, F exported, A... args)
{
    return [=](jlong h) { return exported(env, nullptr, h, args...); };
}

std::string hex(jlong h)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(h));
    return text;
}

} // namespace

TEST(JniHandles, GarbageDeletedAndWrongKindHandlesFailWithALogLine)
{
    JNIEnv* env = qvtest::jvmEnv();
    qvtest::GlContext gl(64, 64);
    ASSERT_TRUE(gl.ok()) << gl.error();
    gl.makeCurrent();
    ASSERT_NE(dlopen(kPlugin, RTLD_NOW | RTLD_GLOBAL), nullptr);
    int32_t record[10] = {};
    jobject records = env->NewDirectByteBuffer(record, sizeof record);
    // The movie creator itself: the stream's handle is read back from its field, as Java receives it.
    jclass saveClass = env->FindClass("quorvex/viewer/AnimationView/VideoPlaybackMovieCreator");
    ASSERT_NE(saveClass, nullptr);
    jobject creator = env->AllocObject(saveClass);
    const auto str = [env](const char* s) { return env->NewStringUTF(s); };

    const std::vector<Kind> kinds = {
        {"CircleDataSets", making(env, Java_quorvex_viewer_OverlayView_GLCircle_intGLCirlce, 64, 64),
         "clearCircles", taking(env, Java_quorvex_viewer_OverlayView_GLCircle_clearCircles)},
        {"QX_FTFont", making(env, Java_quorvex_viewer_OverlayView_GLFont_intGLFont, str("x.ttf"), 12),
         "setShaders",
         taking(env, Java_quorvex_viewer_OverlayView_GLFont_setShaders, str("a.vert"), str("vert"))},
        // No file name: a live cache answers 1 and saves nothing.
        {"GLCache", making(env, Java_quorvex_viewer_OverlayView_GLCacheDrawing_intGLCache), "saveBuffer",
         taking(env, Java_quorvex_viewer_OverlayView_GLCacheDrawing_saveBuffer, jstring(nullptr))},
        {"HeatmapScene",
         making(env, Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n, 64, 64),
         "updateHeatmapBuffer_n",
         taking(env, Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapBuffer_1n, records, 64, 64,
                1),
         "deleteHeatmap_n", taking(env, Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n)},
        {"VideoRes",
         [&] {
             setenv("QV_FAULT_TABLE", "minimal", 1);
             const jlong h = Java_quorvex_viewer_AnimationView_VideoClip_initcobj(env, nullptr, str(kPlugin),
                                                                                  str("qvfault"));
             unsetenv("QV_FAULT_TABLE");
             return h;
         },
         "getWidth", taking(env, Java_quorvex_viewer_AnimationView_VideoClip_getWidth), "release",
         taking(env, Java_quorvex_viewer_AnimationView_VideoClip_release)},
        {"VideoEnv", making(env, Java_quorvex_viewer_AnimationView_VideoPlay_initVideoEnvironment), nullptr,
         nullptr},
        {"StreamStub",
         [&] {
             jobjectArray encoder =
                 env->NewObjectArray(1, env->FindClass("java/lang/String"), str("qv-no-encoder"));
             Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_initSaveVideo(
                 env, creator, nullptr, str("/tmp/qv-handles.mp4"), 64, 48, 10, nullptr, encoder);
             return env->GetLongField(creator, env->GetFieldID(saveClass, "qxvideosave", "J"));
         },
         nullptr, nullptr, "closeAVI",
         [&](jlong) { Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_closeAVI(env, creator); }},
    };

    std::vector<jlong> live;
    for (const Kind& k : kinds) {
        live.push_back(k.create());
        ASSERT_NE(live.back(), 0) << k.name;
    }
    // A refused handle: the probe's failure value and a log line saying why.
    const auto refused = [](const Kind& k, jlong h, const std::string& why) {
        qvtest::clearSyslog();
        EXPECT_EQ(k.call(h), 0) << why;
        EXPECT_TRUE(qvtest::syslogContains(std::string(k.probe) + ": " + why)) << why;
    };
    for (size_t i = 0; i < kinds.size(); ++i) {
        const Kind& k = kinds[i];
        if (k.probe == nullptr)
            continue;
        SCOPED_TRACE(k.probe);
        EXPECT_NE(k.call(live[i]), 0) << "a live handle works";
        for (jlong garbage : {jlong(12345), jlong(-1)})
            refused(k, garbage, "unknown handle " + hex(garbage));
        for (size_t j = 0; j < kinds.size(); ++j)
            if (j != i)
                refused(k, live[j],
                        "handle " + hex(live[j]) + " is a " + kinds[j].name + ", not a " + k.name);
    }
    // Destroyed once, a handle is unknown to every export, its destroyer included.
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (kinds[i].destroy == nullptr)
            continue;
        kinds[i].drop(live[i]);
        // A stream is probed through its base, the cache.
        refused(kinds[i].probe != nullptr ? kinds[i] : kinds[2], live[i], "unknown handle " + hex(live[i]));
        if (kinds[i].probe != nullptr) { // destroyed twice
            kinds[i].drop(live[i]);
            EXPECT_TRUE(
                qvtest::syslogContains(std::string(kinds[i].destroy) + ": unknown handle " + hex(live[i])));
        }
    }
}
