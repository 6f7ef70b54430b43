// The record-buffer export against a real Java VM: what it reads of a direct
// buffer is bounded by the buffer, and bad buffers are refused with a log line.
#include "support/EmbeddedJvm.h"
#include "support/SyslogCapture.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <cstdint>

extern "C" JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapBuffer_1n(
    JNIEnv*, jclass, jlong, jobject, jint, jint, jint);

namespace {
jint update(JNIEnv* env, jobject buffer, jint size)
{
    return Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapBuffer_1n(env, nullptr, 0, buffer, 512, 512,
                                                                                 size);
}
} // namespace

TEST(JniHeatmap, SizeIsClampedToTheDirectBuffer)
{
    JNIEnv* env = qvtest::jvmEnv();
    int32_t records[20] = {7, 9, 1};
    jobject buffer = env->NewDirectByteBuffer(records, sizeof records); // two records of 40 bytes
    ASSERT_NE(buffer, nullptr);
    qvtest::clearSyslog();
    EXPECT_EQ(update(env, buffer, 1000), 0); // handle 0
    EXPECT_TRUE(qvtest::syslogContains("size 1000 exceeds the buffer's 2 records"));
    EXPECT_TRUE(qvtest::syslogContains("updateHeatmapBuffer_n: called with a null handle"));
    qvtest::clearSyslog();
    EXPECT_EQ(update(env, buffer, -3), 0);
    EXPECT_TRUE(qvtest::syslogContains("negative size -3 taken as 0"));
    qvtest::clearSyslog();
    EXPECT_EQ(update(env, buffer, 2), 0);
    EXPECT_FALSE(qvtest::syslogContains("exceeds"));
    env->DeleteLocalRef(buffer);
}

TEST(JniHeatmap, NonDirectBuffersAreRefused)
{
    JNIEnv* env = qvtest::jvmEnv();
    jstring notABuffer = env->NewStringUTF("records");
    qvtest::clearSyslog();
    EXPECT_EQ(update(env, notABuffer, 1), 0);
    EXPECT_EQ(update(env, nullptr, 1), 0);
    EXPECT_TRUE(qvtest::syslogContains("updateHeatmapBuffer_n: not a direct buffer"));
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(notABuffer);
}
