// The record-buffer export against a real Java VM: what it reads of a direct
// buffer is bounded by the buffer, and bad buffers are refused with a log line.
#include "support/EmbeddedJvm.h"
#include "support/SyslogCapture.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <cstdint>

extern "C" JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapBuffer_1n(
    JNIEnv*, jclass, jlong, jobject, jint, jint, jint);

TEST(JniHeatmap, SizeIsClampedToTheDirectBufferAndOtherBuffersAreRefused)
{
    JNIEnv* env = qvtest::jvmEnv();
    int32_t records[20] = {7, 9, 1};
    jobject buffer = env->NewDirectByteBuffer(records, sizeof records); // two records of 40 bytes
    jstring notABuffer = env->NewStringUTF("records");
    const struct {
        jobject buffer;
        jint size;
        const char* log;
    } cases[] = {{buffer, 1000, "size 1000 exceeds the buffer's 2 records"}, {buffer, -3, "negative size -3 taken as 0"},
                 {buffer, 2, "updateHeatmapBuffer_n: called with a null handle"},
                 {notABuffer, 1, "updateHeatmapBuffer_n: not a direct buffer"},
                 {nullptr, 1, "updateHeatmapBuffer_n: not a direct buffer"}};
    for (const auto& c : cases) {
        qvtest::clearSyslog();
        // Handle 0: the size is checked before the handle, and 0 is the answer.
        EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapBuffer_1n(env, nullptr, 0, c.buffer, 512,
                                                                                       512, c.size), 0);
        EXPECT_TRUE(qvtest::syslogContains(c.log)) << c.log;
        EXPECT_EQ(qvtest::syslogContains("exceeds"), c.size == 1000);
        EXPECT_FALSE(env->ExceptionCheck());
    }
    env->DeleteLocalRef(buffer);
    env->DeleteLocalRef(notABuffer);
}
