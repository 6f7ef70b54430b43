// The movie creator's exports with no GL context current (a real JVM, no
// GL): nothing starts, nothing touches GL, idle calls answer as idle.
#include "support/EmbeddedJvm.h"
#include "support/SyslogCapture.h"

#include <gtest/gtest.h>

extern "C" {
JNIEXPORT jboolean JNICALL Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_initSaveVideo(
    JNIEnv*, jobject, jobject, jstring, jint, jint, jint, jstring, jobjectArray);
JNIEXPORT jint JNICALL Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_saveFrame(JNIEnv*, jobject,
                                                                                           jobject, jint, jint);
JNIEXPORT jboolean JNICALL Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_closeAVI(JNIEnv*, jobject);
}

TEST(JniExport, WithoutAGlContextNothingStarts)
{
    JNIEnv* env = qvtest::jvmEnv();
    qvtest::clearSyslog();
    jstring encoder = env->NewStringUTF("quorvex-encoder");
    jobjectArray args = env->NewObjectArray(1, env->FindClass("java/lang/String"), encoder);
    EXPECT_EQ(Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_initSaveVideo(
                  env, nullptr, nullptr, env->NewStringUTF("/tmp/qv-no-gl.mp4"), 64, 48, 10, nullptr, args),
              JNI_FALSE);
    EXPECT_TRUE(qvtest::syslogContains("initSaveVideo: no current GL context"));
    EXPECT_EQ(Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_saveFrame(env, nullptr, nullptr, 64, 48), 0);
    EXPECT_EQ(Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_closeAVI(env, nullptr), JNI_TRUE);
    EXPECT_FALSE(env->ExceptionCheck());
}
