// The indexed circle add, which the JVM cannot bind beside the unmangled
// addCircle, called the way a native caller would. No GL needed: it writes tables only.
#include "boundary/HandleRegistry.h"
#include "overlay/CircleDataSets.h"

#include <gtest/gtest.h>
#include <jni.h>

extern "C" JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_addCircle__IIFFFFFF(
    JNIEnv*, jclass, jlong, jint, jfloat, jfloat, jfloat, jfloat, jfloat, jfloat);

TEST(CircleIndexedAdd, WritesTheSlotAndEndsTheSetThere)
{
    CircleDataSets circles;
    circles.rx = 200;
    circles.ry = 100;
    const jlong handle = qv::registerHandle(&circles);
    const auto add = [](jlong h, jint slot) {
        return Java_quorvex_viewer_OverlayView_GLCircle_addCircle__IIFFFFFF(nullptr, nullptr, h, slot, 100, 50, 512, 1, 0.5f, 0);
    };
    EXPECT_EQ(add(handle, 9), 1);
    EXPECT_EQ(circles.totalNodes, 10);
    const float* slot = CircleDataSets::attributeTex + 9 * 4;
    EXPECT_EQ(std::vector<float>(slot, slot + 3), (std::vector<float>{0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(CircleDataSets::attributeTex2[9 * 3 + 1], 127);
    EXPECT_EQ(add(handle, -1), 1);
    EXPECT_EQ(circles.totalNodes, 10); // refused slot: nothing written
    EXPECT_EQ(add(0, 3), 0);
    qv::forgetHandle(&circles);
}
