// The JNI boundary, driven by a real Java VM: string conversion, the RAII
// wrappers, the export guards and the exports' handling of bad input.
#include "boundary/Debug_Trace.h"
#include "boundary/JniSupport.h"
#include "overlay/CircleDataSets.h"
#include "support/EmbeddedJvm.h"
#include "support/GlContext.h"
#include "support/SyslogCapture.h"

#include "quorvex_viewer_OverlayView_GLCircle.h"
#include "quorvex_viewer_OverlayView_GLPolygon.h"
#include "quorvex_viewer_Utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

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
    std::vector<jint> back(3);
    env->GetIntArrayRegion(array, 0, 3, back.data());
    EXPECT_EQ(back, (std::vector<jint>{1, 42, 3}));
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

// The hash is tested here only, on Java strings: their UTF-8 bytes count as
// negative ("é" is C3 A9: -61, -87) and the top bit of the sum is cleared.
TEST_F(Jni, HashOfAJavaStringCountsItsBytesAsNegative)
{
    const std::pair<std::u16string, jlong> hashes[] = {
        {u"", 0}, {u"a", 97}, {u"ab", 6363201}, {u"\u00e9", 9223372036850774182LL}};
    for (const auto& h : hashes)
        EXPECT_EQ(Java_quorvex_viewer_Utils_getHashValue(env, nullptr, javaString(h.first)), h.second);
    EXPECT_GE(Java_quorvex_viewer_Utils_getHashValue(env, nullptr, javaString(std::u16string(200, u'z'))), 0);
    EXPECT_EQ(Java_quorvex_viewer_Utils_getHashValue(env, nullptr, nullptr), 0);
}

TEST_F(Jni, PolygonExportsNeverReadPastTheirArrays)
{
    qvtest::GlContext gl(64, 64);
    ASSERT_TRUE(gl.ok()) << gl.error();
    jfloatArray none = env->NewFloatArray(0), two = env->NewFloatArray(2), four = env->NewFloatArray(4);
    jintArray twoInts = env->NewIntArray(2);
    // Either array alone bad or short; a count far beyond the arrays reads only what both
    // hold (the sanitized build of this test catches any read past the copied elements).
    const struct {
        jfloatArray xs, ys;
        jint nums, answer;
        const char* log;
    } cases[] = {{two, nullptr, 2, 0, "no vertices"},
                 {nullptr, two, 2, 0, "no vertices"},
                 {none, none, 3, 0, "no vertices"},
                 {two, two, -5, 0, "no vertices"},
                 {two, two, 1000, 1, "nums 1000 exceeds the arrays, using 2"},
                 {four, two, 3, 1, "nums 3 exceeds the arrays, using 2"},
                 {two, four, 3, 1, "nums 3 exceeds the arrays, using 2"}};
    for (const auto& c : cases) {
        qvtest::clearSyslog();
        EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLPolygon_drawPolygonGLF(env, nullptr, c.xs, c.ys, c.nums),
                  c.answer);
        EXPECT_TRUE(qvtest::syslogContains(c.log)) << c.log;
    }
    for (jintArray ys : {static_cast<jintArray>(nullptr), twoInts})
        EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLPolygon_fillPolygonGLI(env, nullptr, nullptr, ys, 3), 0);
}

// Exports of a handle and a string, or of two strings: each argument alone bad.
TEST_F(Jni, EitherArgumentAloneBadIsRefused)
{
    qvtest::GlContext gl(64, 64);
    ASSERT_TRUE(gl.ok()) << gl.error();
    CircleDataSets circles;
    const jlong c = qv::registerHandle(&circles);
    jstring path = javaString(u"a.vs"), role = javaString(u"vert1"), empty = javaString(u"");
    jstring longPath = javaString(std::u16string(512, u'a')); // one byte past the path buffer's text
    const struct {
        jlong handle;
        jstring file, role;
        jlong answer;
    } shaders[] = {{c, path, role, 1},  {0, path, role, 0},  {c, nullptr, role, 0}, {c, path, nullptr, 0},
                   {c, empty, role, 0}, {c, path, empty, 0}, {c, longPath, role, 0}};
    for (const auto& r : shaders)
        EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLCircle_setShaders(env, nullptr, r.handle, r.file, r.role),
                  r.answer);
    EXPECT_STREQ(circles.m_vertShaderfile, "a.vs");
    for (auto wh : {std::make_pair(8, 0), std::make_pair(0, 8), std::make_pair(8, -1), std::make_pair(-1, 8)})
        EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLCircle_intGLCirlce(env, nullptr, wh.first, wh.second), 0);
}
