// The library frame: load hook, logging, GL error reporting, power of two,
// string hash and the document opener.
#include "boundary/Debug_Trace.h"
#include "boundary/Utils.h"
#include "support/GlContext.h"
#include "support/SyslogCapture.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <deque>
#include <string>

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM*, void*);

// Scripted GL errors: Mesa keeps a single error flag, so several pending
// errors can only be produced by standing in for glGetError.
static std::deque<GLenum> scriptedErrors;
extern "C" GLenum glGetError(void)
{
    if (!scriptedErrors.empty()) {
        const GLenum e = scriptedErrors.front();
        scriptedErrors.pop_front();
        return e;
    }
    using Fn = GLenum (*)();
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "glGetError"));
    return real != nullptr ? real() : GL_NO_ERROR;
}

TEST(LibraryFrame, OnLoadStatesJniVersionOnePointFour)
{
    EXPECT_EQ(JNI_OnLoad(nullptr, nullptr), 0x00010004);
}

TEST(LibraryFrame, HomedirIsTheLoadedLibraryItself)
{
    ASSERT_NE(homedir, nullptr);
    const std::string path(homedir);
    const std::string base = path.substr(path.find_last_of('/') + 1);
    EXPECT_EQ(base.rfind("libquorvexviewer", 0), 0u) << path;
    struct stat st;
    EXPECT_EQ(stat(homedir, &st), 0) << path;
}

TEST(LibraryFrame, PowerOfTwoRule)
{
    const int cases[][2] = {{1, 1}, {2, 2}, {3, 4}, {256, 256}, {257, 512}, {1000, 1024},
                            {0, 0}, {-1, 0}, {-1000, 0}, {1073741824, 1073741824}, {(1 << 29) + 1, 1 << 30}};
    for (const auto& c : cases)
        EXPECT_EQ(getPower2(c[0]), c[1]) << "getPower2(" << c[0] << ")";
}

class Logging : public ::testing::Test {
protected:
    void SetUp() override
    {
        initSysLog = false;
        qvtest::clearSyslog();
    }
};

TEST_F(Logging, OpensTheLogOnceWithTheViewerIdentity)
{
    debug_trace("first %d", 1);
    debug_trace("second");
    const auto opens = qvtest::openlogCalls();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].ident, "trelvanLog");
    EXPECT_EQ(opens[0].option, 0x0B);
    EXPECT_EQ(opens[0].facility, 136);
    const auto lines = qvtest::syslogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].priority, LOG_WARNING);
    EXPECT_EQ(lines[0].text, "first 1");
    EXPECT_EQ(lines[1].text, "second");
}

TEST_F(Logging, LongMessagesAreCutAndPercentIsLiteral)
{
    const std::string longText(900, 'x');
    debug_trace("%s", longText.c_str());
    debug_trace("%s", "100% sure %d %s");
    const auto lines = qvtest::syslogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, std::string(511, 'x'));
    EXPECT_EQ(lines[1].text, "100% sure %d %s");
}

class GlErrors : public qvtest::GlTest {};

TEST_F(GlErrors, DrainsEveryPendingErrorInOrder)
{
    scriptedErrors = {GL_INVALID_VALUE, GL_OUT_OF_MEMORY, 0x1234};
    testing::internal::CaptureStdout();
    const GLenum result = glCheckError_("somefile.cpp", 42);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(out, "INVALID_VALUE  somefile.cpp 42 \n"
                   "OUT_OF_MEMORY  somefile.cpp 42 \n"
                   "  somefile.cpp 42 \n");
}

TEST_F(GlErrors, ReportsARealDriverErrorThroughTheMacro)
{
    glEnable(0xFFFF); // not an enable cap: GL_INVALID_ENUM
    testing::internal::CaptureStdout();
    const int line = __LINE__ + 1;
    EXPECT_EQ(glCheckError(), static_cast<GLenum>(GL_NO_ERROR));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "INVALID_ENUM  " + std::string(__FILE__) + " " + std::to_string(line) + " \n");
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(StringHash, KnownValues)
{
    EXPECT_EQ(hashfcn(""), 0);
    EXPECT_EQ(hashfcn("a"), 97);
    EXPECT_EQ(hashfcn("ab"), 6363201);
    // "é" is C3 A9: both bytes count as negative (-61, -87); the top bit is cleared.
    EXPECT_EQ(static_cast<uint64_t>(hashfcn("\xC3\xA9")), 9223372036850774182ull);
    EXPECT_GE(hashfcn("a long string that overflows the accumulator many times over"), 0);
}

class DocumentOpener : public ::testing::Test {
protected:
    void SetUp() override { qvtest::clearSyslog(); }
};

TEST_F(DocumentOpener, RefusesPathsThatDoNotFitTheBuffer)
{
    const std::string tooLong(200, 'p');
    EXPECT_EQ(openDocument(tooLong.c_str(), "/bin/true"), -1);
    EXPECT_TRUE(qvtest::syslogContains("too long"));
    EXPECT_EQ(openDocument(nullptr, "/bin/true"), -1);
    EXPECT_EQ(openDocument("", "/bin/true"), -1);
}

TEST_F(DocumentOpener, ChildEndsWhenTheOpenerIsMissing)
{
    const std::string longest(199, 'p');
    const pid_t pid = openDocument(longest.c_str(), "/nonexistent/opener");
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127);
}

TEST_F(DocumentOpener, RunsTheOpenerOnThePath)
{
    char dir[] = "/tmp/qvopenXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string marker = std::string(dir) + "/opened";
    // /usr/bin/touch stands in for the desktop opener: it creates its argument.
    const pid_t pid = openDocument(marker.c_str(), "/usr/bin/touch");
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat st;
    EXPECT_EQ(stat(marker.c_str(), &st), 0);
    unlink(marker.c_str());
    rmdir(dir);
}
