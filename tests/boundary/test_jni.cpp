// The JNI boundary, driven by a real Java VM: string conversion, the RAII
// wrappers, the export guards and the exports' handling of bad input.
#include "boundary/Debug_Trace.h"
#include "boundary/JniSupport.h"
#include "support/EmbeddedJvm.h"
#include "support/GlContext.h"
#include "support/SyslogCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
JNIEXPORT jlong JNICALL Java_quorvex_viewer_Utils_getHashValue(JNIEnv*, jclass, jstring);
JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLF(JNIEnv*, jclass, jfloatArray,
                                                                               jfloatArray, jint);
JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLPolygon_fillPolygonGLI(JNIEnv*, jclass, jintArray,
                                                                               jintArray, jint);
}

namespace {

class Jni : public ::testing::Test {
protected:
    void SetUp() override
    {
        env = qvtest::jvmEnv();
        ASSERT_EQ(env->PushLocalFrame(64), 0);
        qvtest::clearSyslog();
    }
    void TearDown() override
    {
        EXPECT_FALSE(env->ExceptionCheck());
        env->PopLocalFrame(nullptr);
    }
    jstring javaString(const std::u16string& s)
    {
        return env->NewString(reinterpret_cast<const jchar*>(s.data()), static_cast<jsize>(s.size()));
    }
    JNIEnv* env = nullptr;
};

} // namespace

TEST_F(Jni, ConvertsToStandardUtf8)
{
    // Outside the BMP standard UTF-8 has four bytes (modified UTF-8 would have six);
    // U+0000 is a real zero byte; empty and null strings give null.
    const std::pair<std::u16string, std::vector<unsigned char>> cases[] = {
        {u"\u00e9", {0xC3, 0xA9, 0x00}},
        {u"\U0001F600", {0xF0, 0x9F, 0x98, 0x80, 0x00}},
        {std::u16string(u"a\0b", 3), {'a', 0x00, 'b', 0x00}}};
    for (const auto& c : cases) {
        qv::Utf8 s = qv::utf8(env, javaString(c.first));
        ASSERT_NE(s, nullptr);
        const unsigned char* p = reinterpret_cast<const unsigned char*>(s.get());
        EXPECT_EQ(std::vector<unsigned char>(p, p + c.second.size()), c.second);
    }
    EXPECT_EQ(jstringToWindowsJ(env, javaString(u"")), nullptr);
    EXPECT_EQ(jstringToWindowsJ(env, nullptr), nullptr);
    EXPECT_EQ(qv::StringUTFChars(env, nullptr).c_str(), nullptr);
}

TEST_F(Jni, ReadOnlyElementsAreNeverWrittenBack)
{
    const jint values[] = {1, 2, 3};
    jintArray array = env->NewIntArray(3);
    env->SetIntArrayRegion(array, 0, 3, values);
    {
        qv::ArrayElements<jintArray> ro(env, array);
        ASSERT_EQ(ro.size(), 3);
        ro.data()[0] = 99;
    }
    {
        qv::ArrayElements<jintArray> rw(env, array, qv::Access::ReadWrite);
        rw.data()[1] = 42;
    }
    jint back[3];
    env->GetIntArrayRegion(array, 0, 3, back);
    EXPECT_EQ(back[0], 1);
    EXPECT_EQ(back[1], 42);
    qv::ArrayElements<jfloatArray> none(env, nullptr);
    EXPECT_EQ(none.size(), 0);
    EXPECT_EQ(none.data(), nullptr);
}

TEST_F(Jni, GuardsTurnExceptionsAndNullHandlesIntoFailureValues)
{
    EXPECT_EQ(qv::guard("thrower", -1, []() -> int { throw std::runtime_error("boom"); }), -1);
    EXPECT_TRUE(qvtest::syslogContains("thrower failed: boom"));
    bool ran = false;
    EXPECT_EQ(qv::withHandle<VideoEnv>("nohandle", 0, 0, [&](VideoEnv&) { return ran = true, 1; }), 0);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(qvtest::syslogContains("nohandle: called with a null handle"));
}

TEST_F(Jni, HashOfAJavaStringCountsItsBytesAsNegative)
{
    EXPECT_EQ(Java_quorvex_viewer_Utils_getHashValue(env, nullptr, javaString(u"ab")), 6363201);
    EXPECT_EQ(Java_quorvex_viewer_Utils_getHashValue(env, nullptr, javaString(u"\u00e9")), 9223372036850774182LL);
}

TEST_F(Jni, PolygonExportsNeverReadPastTheirArrays)
{
    qvtest::GlContext gl(64, 64);
    ASSERT_TRUE(gl.ok()) << gl.error();
    jfloatArray two = env->NewFloatArray(2);
    EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLF(env, nullptr, two, nullptr, 2), 0);
    EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLF(env, nullptr, two, two, -5), 0);
    EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLPolygon_fillPolygonGLI(env, nullptr, nullptr, nullptr, 3), 0);
    EXPECT_TRUE(qvtest::syslogContains("no vertices"));
    // A count far beyond the arrays reads only what they hold (the sanitized
    // build of this test catches any read past the copied elements).
    EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLF(env, nullptr, two, two, 1000), 1);
    EXPECT_TRUE(qvtest::syslogContains("nums 1000 exceeds the arrays, using 2"));
}
