// The record-buffer export reads no further than the direct buffer (records on the heap, so ASan
// sees an over-read); a bad handle or a bad buffer, each alone, is refused with a log line.
#include "heatmap/HeatmapScene.h"
#include "support/EmbeddedJvm.h"
#include "support/GlContext.h"
#include "support/SyslogCapture.h"

#include "quorvex_viewer_OverlayView_GLDirectBuffer.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <algorithm>
#include <cstdint>
#include <memory>

TEST(JniHeatmap, SizeIsClampedToTheDirectBufferAndOtherBuffersAreRefused)
{
    JNIEnv* env = qvtest::jvmEnv();
    qvtest::GlContext gl(64, 64);
    ASSERT_TRUE(gl.ok()) << gl.error();
    const jlong scene =
        Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(nullptr, nullptr, 0, 0);
    ASSERT_NE(scene, 0);
    const HeatmapScene& hs = *reinterpret_cast<HeatmapScene*>(scene);
    std::unique_ptr<int32_t[]> records(new int32_t[20]()); // two records of 40 bytes: (7, 9) = 1, (8, 9) = 2
    records[0] = 7, records[1] = 9, records[2] = 1, records[10] = 8, records[11] = 9, records[12] = 2;
    jobject buffer = env->NewDirectByteBuffer(records.get(), 20 * sizeof(int32_t));
    jstring notABuffer = env->NewStringUTF("records");
    const struct {
        jlong handle;
        jobject buffer;
        jint size, answer, cells; // cells: records stored in the heat image
        const char* log;
    } cases[] = {{scene, buffer, 1000, 1, 2, "size 1000 exceeds the buffer's 2 records"},
                 {scene, buffer, -3, 1, 0, "negative size -3 taken as 0"},
                 {0, buffer, 2, 0, 0, "updateHeatmapBuffer_n: called with a null handle"},
                 {scene, notABuffer, 1, 0, 0, "updateHeatmapBuffer_n: not a direct buffer"},
                 {scene, nullptr, 1, 0, 0, "updateHeatmapBuffer_n: not a direct buffer"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.log);
        qvtest::clearSyslog();
        std::fill(hs.heatMapImage.get(), hs.heatMapImage.get() + 512 * 512, 0);
        EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapBuffer_1n(
                      env, nullptr, c.handle, c.buffer, 512, 512, c.size),
                  c.answer);
        EXPECT_TRUE(qvtest::syslogContains(c.log));
        EXPECT_EQ(qvtest::syslogContains("exceeds"), c.size == 1000);
        EXPECT_EQ((hs.heatMapImage[9 * 512 + 7] == 1) + (hs.heatMapImage[9 * 512 + 8] == 2), c.cells);
        EXPECT_FALSE(env->ExceptionCheck());
    }
    Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n(nullptr, nullptr, scene);
    env->DeleteLocalRef(buffer);
    env->DeleteLocalRef(notABuffer);
}
