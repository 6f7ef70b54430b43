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
JNIEXPORT jstring JNICALL Java_quorvex_viewer_Utils_getExeDir(JNIEnv*, jclass);
JNIEXPORT jboolean JNICALL Java_quorvex_viewer_ViewerProperties_openDocument(JNIEnv*, jclass, jstring);
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
    std::vector<unsigned char> bytesOf(const qv::Utf8& s, size_t n)
    {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(s.get());
        return std::vector<unsigned char>(p, p + n);
    }
    JNIEnv* env = nullptr;
};

} // namespace

TEST_F(Jni, ConvertsToStandardUtf8)
{
    qv::Utf8 e = qv::utf8(env, javaString(u"\u00e9"));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(bytesOf(e, 3), (std::vector<unsigned char>{0xC3, 0xA9, 0x00}));

    // Outside the BMP standard UTF-8 has four bytes (modified UTF-8 would have six).
    qv::Utf8 smile = qv::utf8(env, javaString(u"\U0001F600"));
    EXPECT_EQ(bytesOf(smile, 5), (std::vector<unsigned char>{0xF0, 0x9F, 0x98, 0x80, 0x00}));

    // U+0000 is a real zero byte, so the C string ends there.
    qv::Utf8 nul = qv::utf8(env, javaString(std::u16string(u"a\0b", 3)));
    EXPECT_EQ(bytesOf(nul, 4), (std::vector<unsigned char>{'a', 0x00, 'b', 0x00}));
    EXPECT_EQ(strlen(nul.get()), 1u);
}

TEST_F(Jni, EmptyAndNullStringsGiveNull)
{
    EXPECT_EQ(jstringToWindowsJ(env, javaString(u"")), nullptr);
    EXPECT_EQ(jstringToWindowsJ(env, nullptr), nullptr);
    qv::StringUTFChars none(env, nullptr);
    EXPECT_EQ(none.c_str(), nullptr);
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
    struct Object {
        int value = 7;
    };
    EXPECT_EQ(qv::withHandle<Object>("nohandle", 0, 0, [&](Object&) {
                  ran = true;
                  return 1;
              }),
              0);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(qvtest::syslogContains("nohandle: called with a null handle"));

    Object o;
    EXPECT_EQ(qv::withHandle<Object>("handle", qv::toHandle(&o), 0, [](Object& x) { return x.value; }), 7);
}

TEST_F(Jni, UtilityExportsFromJavaStrings)
{
    EXPECT_EQ(Java_quorvex_viewer_Utils_getHashValue(env, nullptr, env->NewStringUTF("ab")), 6363201);
    EXPECT_EQ(Java_quorvex_viewer_Utils_getHashValue(env, nullptr, nullptr), 0);
    jstring dir = Java_quorvex_viewer_Utils_getExeDir(env, nullptr);
    ASSERT_NE(dir, nullptr);
    qv::StringUTFChars chars(env, dir);
    EXPECT_STREQ(chars.c_str(), homedir);

    const std::string longPath(300, 'd');
    EXPECT_EQ(Java_quorvex_viewer_ViewerProperties_openDocument(env, nullptr, env->NewStringUTF(longPath.c_str())),
              JNI_FALSE);
    EXPECT_EQ(Java_quorvex_viewer_ViewerProperties_openDocument(env, nullptr, nullptr), JNI_FALSE);
}

TEST_F(Jni, PolygonExportsNeverReadPastTheirArrays)
{
    qvtest::GlContext gl(64, 64);
    ASSERT_TRUE(gl.ok()) << gl.error();
    jfloatArray two = env->NewFloatArray(2);
    jintArray none = nullptr;
    EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLF(env, nullptr, two, nullptr, 2), 0);
    EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLF(env, nullptr, two, two, -5), 0);
    EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLPolygon_fillPolygonGLI(env, nullptr, none, none, 3), 0);
    EXPECT_TRUE(qvtest::syslogContains("no vertices"));
    // A count far beyond the arrays reads only what they hold (the sanitized
    // build of this test catches any read past the copied elements).
    EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLF(env, nullptr, two, two, 1000), 1);
    EXPECT_TRUE(qvtest::syslogContains("nums 1000 exceeds the arrays, using 2"));
}
