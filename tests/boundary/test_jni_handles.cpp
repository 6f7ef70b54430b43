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

struct Kind {
    const char* name;                 // the class, as the log names it
    std::function<jlong()> create;    // through its creating export
    const char* probe;                // an export that takes the handle (null: none does)
    std::function<jlong(jlong)> call; // the probe's result
    jlong failure;                    // the probe's failure value
    const char* destroy;              // its destroying export (null: none)
    std::function<void(jlong)> drop;  // destroys through that export
};

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
        {"CircleDataSets",
         [] { return Java_quorvex_viewer_OverlayView_GLCircle_intGLCirlce(nullptr, nullptr, 64, 64); },
         "clearCircles",
         [](jlong h) { return Java_quorvex_viewer_OverlayView_GLCircle_clearCircles(nullptr, nullptr, h); },
         0, nullptr, nullptr},
        {"QX_FTFont",
         [&] { return Java_quorvex_viewer_OverlayView_GLFont_intGLFont(env, nullptr, str("x.ttf"), 12); },
         "setShaders",
         [&](jlong h) {
             return Java_quorvex_viewer_OverlayView_GLFont_setShaders(env, nullptr, h, str("a.vert"),
                                                                      str("vert"));
         },
         0, nullptr, nullptr},
        {"GLCache",
         [] { return Java_quorvex_viewer_OverlayView_GLCacheDrawing_intGLCache(nullptr, nullptr); },
         "saveBuffer", // no file name: a live cache answers 1 and saves nothing
         [&](jlong h) {
             return jlong(
                 Java_quorvex_viewer_OverlayView_GLCacheDrawing_saveBuffer(env, nullptr, h, nullptr));
         },
         0, nullptr, nullptr},
        {"HeatmapScene",
         [] {
             return Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(nullptr, nullptr, 64,
                                                                                       64);
         },
         "updateHeatmapBuffer_n",
         [&](jlong h) {
             return jlong(Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapBuffer_1n(
                 env, nullptr, h, records, 64, 64, 1));
         },
         0, "deleteHeatmap_n",
         [](jlong h) {
             Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n(nullptr, nullptr, h);
         }},
        {"VideoRes",
         [&] {
             setenv("QV_FAULT_TABLE", "minimal", 1);
             const jlong h = Java_quorvex_viewer_AnimationView_VideoClip_initcobj(env, nullptr, str(kPlugin),
                                                                                  str("qvfault"));
             unsetenv("QV_FAULT_TABLE");
             return h;
         },
         "getWidth",
         [](jlong h) {
             return jlong(Java_quorvex_viewer_AnimationView_VideoClip_getWidth(nullptr, nullptr, h));
         },
         0, "release",
         [](jlong h) { Java_quorvex_viewer_AnimationView_VideoClip_release(nullptr, nullptr, h); }},
        {"VideoEnv",
         [] { return Java_quorvex_viewer_AnimationView_VideoPlay_initVideoEnvironment(nullptr, nullptr); },
         nullptr, nullptr, 0, nullptr, nullptr},
        {"StreamStub",
         [&] {
             jobjectArray encoder =
                 env->NewObjectArray(1, env->FindClass("java/lang/String"), str("qv-no-encoder"));
             Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_initSaveVideo(
                 env, creator, nullptr, str("/tmp/qv-handles.mp4"), 64, 48, 10, nullptr, encoder);
             return env->GetLongField(creator, env->GetFieldID(saveClass, "qxvideosave", "J"));
         },
         nullptr, nullptr, 0, "closeAVI",
         [&](jlong) { Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_closeAVI(env, creator); }},
    };

    std::vector<jlong> live;
    for (const Kind& k : kinds) {
        live.push_back(k.create());
        ASSERT_NE(live.back(), 0) << k.name;
    }
    for (size_t i = 0; i < kinds.size(); ++i) {
        const Kind& k = kinds[i];
        if (k.probe == nullptr)
            continue;
        SCOPED_TRACE(k.probe);
        EXPECT_NE(k.call(live[i]), k.failure) << "a live handle works";
        for (jlong garbage : {jlong(12345), jlong(-1)}) {
            qvtest::clearSyslog();
            EXPECT_EQ(k.call(garbage), k.failure);
            EXPECT_TRUE(qvtest::syslogContains(std::string(k.probe) + ": unknown handle " + hex(garbage)));
        }
        for (size_t j = 0; j < kinds.size(); ++j) {
            if (j == i)
                continue;
            qvtest::clearSyslog();
            EXPECT_EQ(k.call(live[j]), k.failure) << kinds[j].name;
            EXPECT_TRUE(qvtest::syslogContains(std::string(k.probe) + ": handle " + hex(live[j]) + " is a " +
                                               kinds[j].name + ", not a " + k.name));
        }
    }
    // Destroyed once, a handle is unknown to every export, its destroyer included.
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (kinds[i].destroy == nullptr)
            continue;
        kinds[i].drop(live[i]);
        const Kind& probe = kinds[i].probe != nullptr ? kinds[i] : kinds[2]; // the stream's base, the cache
        qvtest::clearSyslog();
        EXPECT_EQ(probe.call(live[i]), probe.failure) << kinds[i].name;
        EXPECT_TRUE(qvtest::syslogContains(std::string(probe.probe) + ": unknown handle " + hex(live[i])))
            << kinds[i].name;
        if (kinds[i].probe != nullptr) { // destroyed twice
            kinds[i].drop(live[i]);
            EXPECT_TRUE(
                qvtest::syslogContains(std::string(kinds[i].destroy) + ": unknown handle " + hex(live[i])));
        }
    }
    env->DeleteLocalRef(records);
}
