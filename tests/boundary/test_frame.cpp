// The library frame: load hook, logging, GL error reporting, power of two,
// and the document opener (the string hash is tested on Java strings in test_jni).
#include "boundary/Debug_Trace.h"
#include "boundary/Utils.h"
#include "support/ScriptedGlErrors.h"
#include "support/GlContext.h"
#include "support/SyslogCapture.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM*, void*);

TEST(LibraryFrame, OnLoadVersionAndPowerOfTwo)
{
    EXPECT_EQ(JNI_OnLoad(nullptr, nullptr), 0x00010004);
    using Size = std::pair<int, int>; // a size and the power of two it rounds up to (0: none below 1)
    for (Size c : {Size{1, 1}, Size{2, 2}, Size{3, 4}, Size{4, 4}, Size{257, 512}, Size{1000, 1024},
                   Size{0, 0}, Size{-1000, 0}, Size{1 << 30, 1 << 30}, Size{(1 << 29) + 1, 1 << 30}})
        EXPECT_EQ(getPower2(c.first), c.second) << "getPower2(" << c.first << ")";
}

TEST(LibraryFrame, LogOpensOnceAsTheViewerAndCutsLongLines)
{
    initSysLog = false;
    qvtest::clearSyslog();
    debug_trace("first %d", 1);
    debug_trace("%s", std::string(900, 'x').c_str());
    debug_trace("%s", "100% sure %d %s");
    const auto opens = qvtest::openlogCalls();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].ident, "trelvanLog");
    EXPECT_EQ(opens[0].option, 0x0B);
    EXPECT_EQ(opens[0].facility, 136);
    const auto lines = qvtest::syslogLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].priority, LOG_WARNING);
    EXPECT_EQ(lines[0].text, "first 1");
    EXPECT_EQ(lines[1].text, std::string(511, 'x'));
    EXPECT_EQ(lines[2].text, "100% sure %d %s");
}

class GlErrors : public qvtest::GlTest { };

TEST_F(GlErrors, DrainsEveryPendingErrorInOrderThenARealOne)
{
    qvtest::scriptedGlErrors = {GL_INVALID_VALUE, GL_OUT_OF_MEMORY, 0x1234};
    testing::internal::CaptureStdout();
    EXPECT_EQ(glCheckError_("somefile.cpp", 42), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "INVALID_VALUE  somefile.cpp 42 \n"
                                                      "OUT_OF_MEMORY  somefile.cpp 42 \n"
                                                      "  somefile.cpp 42 \n");
    glEnable(0xFFFF); // not an enable cap: GL_INVALID_ENUM from the driver
    testing::internal::CaptureStdout();
    const int line = __LINE__ + 1;
    glCheckError();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "INVALID_ENUM  " + std::string(__FILE__) + " " + std::to_string(line) + " \n");
}

TEST(DocumentOpener, RefusesBadPathsAndRunsTheOpener)
{
    qvtest::clearSyslog();
    EXPECT_EQ(openDocument(std::string(200, 'p').c_str(), "/bin/true"), -1);
    EXPECT_TRUE(qvtest::syslogContains("too long"));
    EXPECT_EQ(openDocument(nullptr, "/bin/true"), -1);
    EXPECT_EQ(openDocument("", "/bin/true"), -1);

    char dir[] = "/tmp/qvopenXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    // /usr/bin/touch stands in for the desktop opener; a missing opener ends the child with 127.
    const std::string marker = std::string(dir) + "/" + std::string(199 - std::strlen(dir) - 1, 'o');
    const std::pair<const char*, int> openers[] = {{"/nonexistent/opener", 127}, {"/usr/bin/touch", 0}};
    for (const auto& o : openers) {
        const pid_t pid = openDocument(marker.c_str(), o.first);
        ASSERT_GT(pid, 0) << o.first;
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == o.second) << o.first;
    }
    // Logged by the parent: a child's log line would stay in the child's copy of the capture.
    EXPECT_TRUE(qvtest::syslogContains("openDocument: create process with command /usr/bin/touch " + marker));
    EXPECT_EQ(access(marker.c_str(), F_OK), 0);
    unlink(marker.c_str());
    rmdir(dir);
}
