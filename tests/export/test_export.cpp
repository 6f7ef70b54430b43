// Movie export: frames streamed to a recording stand-in for the encoder (ExportStream holds the
// fixed pipe path), and the shared-memory channel read by a real second process (ExportChannel).
// Read-back is compared exactly: the pbuffer holds exactly what was cleared.
#include "export/StreamStub.h"
#include "support/GlContext.h"
#include "support/GlState.h"
#include "support/Process.h"
#include "support/SyslogCapture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace {
using Bgra = std::array<unsigned char, 4>;
const Bgra kTop = {250, 250, 250, 255}, kSkipped = {0, 0, 255, 255}, kBlank = {0, 0, 0, 0};

using qvtest::readFile;
bool pipePathFree()
{
    struct stat st;
    return lstat(kFifoPath, &st) != 0;
}

class ExportStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(gl_.ok()) << gl_.error();
        char dir[] = "/tmp/qvexportXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        unlink(kFifoPath);
        qvtest::clearSyslog();
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf " + dir_).c_str()), 0); }
    std::string path(const char* name) const { return dir_ + "/" + name; }
    std::unique_ptr<StreamStub> stub(const std::string& encoder = QV_RECORDING_ENCODER)
    {
        std::unique_ptr<StreamStub> s(new StreamStub());
        s->encoderName = encoder;
        s->initStream(path("movie.raw"), 0, 0, 25);
        return s;
    }
    // Draws a w x h view in `body` with its top 8 rows in kTop, and asks for a frame.
    int frame(StreamStub& s, int w, int h, Bgra body = kSkipped)
    {
        glViewport(0, 0, w, h);
        glClearColor(body[2] / 255.f, body[1] / 255.f, body[0] / 255.f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, h - 8, w, 8);
        glClearColor(kTop[2] / 255.f, kTop[1] / 255.f, kTop[0] / 255.f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
        return s.streamBuffer(nullptr, w, h, 3);
    }
    qvtest::GlContext gl_{1024, 640};
    std::string dir_;
};
} // namespace

TEST_F(ExportStream, FramesAreEvenSizedBottomUpBgraAndFittedToTheFirstSize)
{
    struct {
        const char* what;
        int stale; // at the pipe path before: 1 a file, 2 a link to a file of the user's
        int firstW, firstH, laterW, laterH, movieW, movieH;
        Bgra first, later;
    } const cases[] = {
        {"odd view rounded down", 0, 1001, 601, 1001, 601, 1000, 600, {10, 40, 200, 255}, {90, 160, 20, 255}},
        {"larger later view cropped", 1, 640, 480, 700, 500, 640, 480, {200, 0, 100, 255}, {0, 120, 60, 255}},
        {"smaller later view padded", 2, 640, 480, 321, 201, 640, 480, {30, 30, 30, 255}, {255, 0, 0, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(path("victim")) << "keep me";
        if (c.stale == 1)
            std::ofstream(kFifoPath) << "stale";
        ASSERT_TRUE(c.stale != 2 || symlink(path("victim").c_str(), kFifoPath) == 0);
        std::unique_ptr<StreamStub> s = stub();
        EXPECT_EQ(frame(*s, c.firstW, c.firstH), 0);
        EXPECT_TRUE(c.stale != 0 || pipePathFree()) << "the first request makes no pipe";
        EXPECT_EQ(frame(*s, c.firstW, c.firstH, c.first), 0);
        EXPECT_EQ(frame(*s, c.laterW, c.laterH, c.later), 0);
        EXPECT_EQ(s->streamBuffer(nullptr, 0, 0, 0), 0);
        EXPECT_TRUE(pipePathFree()) << "a stale path is unlinked, the export's own pipe goes at close";
        EXPECT_EQ(readFile(path("victim")), "keep me") << "never followed";

        EXPECT_EQ(readFile(path("movie.raw.argv")), path("movie.raw") + "\n" + std::to_string(c.movieW) +
                                                        "\n" + std::to_string(c.movieH) + "\n25\n4\n");
        const std::string bytes = readFile(path("movie.raw"));
        const size_t frameBytes = static_cast<size_t>(c.movieW) * c.movieH * 4;
        ASSERT_EQ(bytes.size(), 2 * frameBytes);
        for (int f = 0; f < 2; ++f)
            for (int x : {0, c.movieW / 2, c.movieW - 1})
                for (int y : {0, c.movieH / 2, c.movieH - 1}) { // rows from the bottom
                    const int w = f == 0 ? c.firstW : c.laterW, h = f == 0 ? c.firstH : c.laterH;
                    const Bgra body = f == 0 ? c.first : c.later;
                    const Bgra want = x >= w || y >= h ? kBlank : y >= h - 8 ? kTop : body;
                    const size_t at = f * frameBytes + (size_t(y) * c.movieW + x) * 4;
                    EXPECT_EQ(bytes.substr(at, 4), std::string(want.begin(), want.end()))
                        << f << ": " << x << ", " << y;
                }
    }
    EXPECT_TRUE(qvtest::syslogContains(" send to pipe 2400000 "));
    EXPECT_TRUE(qvtest::syslogContains(" removed pipe file /tmp/fifoChannel\n"));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// saveFrame's read-back and closeAVI from a caller state nowhere GL's default, with the caller's pack
// buffer bound and with none, change nothing and leave no GL object (the pipe keeps it from DrawState).
TEST_F(ExportStream, ReadBackAndCloseLeaveTheCallersState)
{
    qvtest::CallerState caller;
    caller.apply(false); // its textures exist once bound
    const int objects = qvtest::liveGlObjects();
    for (const bool ownPackBuffer : {true, false}) {
        SCOPED_TRACE(ownPackBuffer ? "caller's pack buffer bound" : "no pack buffer bound");
        std::unique_ptr<StreamStub> s = stub();
        for (int call = 0; call < 4; ++call) { // arm, first frame (starts the encoder), a frame, close
            SCOPED_TRACE(call);
            caller.apply(false);
            if (!ownPackBuffer)
                glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
            glReadBuffer(GL_FRONT_LEFT); // the window's front, but not the GL_FRONT the read-back sets
            const qvtest::GlState before = qvtest::GlState::capture();
            EXPECT_EQ(call < 3 ? s->streamBuffer(nullptr, 250, 240, 3) : s->streamBuffer(nullptr, 0, 0, 0),
                      0);
            EXPECT_EQ(qvtest::GlState::capture().changedFrom(before), "");
            EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        }
        EXPECT_EQ(readFile(path("movie.raw")).size(), 2u * 250 * 240 * 4);
        s.reset(); // what closeAVI does after closing: the read-back buffer goes
        EXPECT_EQ(qvtest::liveGlObjects(), objects);
    }
}

// No request, one request, or a view too small for a movie (a side rounded down to 0).
TEST_F(ExportStream, ClosingBeforeTheEncoderStartedSignalsNothing)
{
    const int cases[][3] = {{0, 64, 48}, {1, 64, 48}, {2, 64, 1}, {2, 1, 64}}; // requests, w, h
    for (const auto& [requests, w, h] : cases) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        std::unique_ptr<StreamStub> s = stub();
        for (int i = 0; i < requests; ++i)
            EXPECT_EQ(frame(*s, w, h), -i) << "the second request: no movie";
        qvtest::CapturedStdout out;
        EXPECT_EQ(s->streamBuffer(nullptr, 0, 0, 0), 0);
        EXPECT_EQ(out.take(), "TerminateChildProcess 0 \n");
        EXPECT_EQ(frame(*s, 64, 48), -1) << "a closed export sends no more";
        EXPECT_EQ(readFile(path("movie.raw.argv")), "") << "no encoder was started";
    }
}

TEST_F(ExportStream, EncoderThatCannotRunFailsTheExportAndIsReaped)
{
    std::ofstream(path("not-executable")) << "#!/bin/sh\n";
    // true exits without opening the pipe; sleep (for 64 + 48 + 25 + 4 s) never opens it.
    for (const std::string& encoder :
         {path("missing"), path("not-executable"), std::string("/bin/true"), std::string("/bin/sleep")}) {
        SCOPED_TRACE(encoder);
        std::unique_ptr<StreamStub> s = stub(encoder);
        EXPECT_EQ(frame(*s, 64, 48), 0);
        EXPECT_NE(frame(*s, 64, 48), 0);
        EXPECT_EQ(s->encoderProcessid, 0) << "stopped and reaped";
        EXPECT_NE(frame(*s, 64, 48), 0);
        EXPECT_EQ(s->streamBuffer(nullptr, 0, 0, 0), 0);
        EXPECT_TRUE(pipePathFree());
        EXPECT_TRUE(qvtest::noZombieChild());
    }
    EXPECT_TRUE(qvtest::syslogContains(" it failed after creation No such file or directory"));
    EXPECT_TRUE(qvtest::syslogContains(" it failed after creation Permission denied"));
    EXPECT_TRUE(qvtest::syslogContains(" encoder exited before it opened the pipe "));
    EXPECT_TRUE(qvtest::syslogContains(" encoder did not open the pipe within 5000 ms "));
}

TEST_F(ExportStream, EncoderKilledMidExportFailsFramesWithoutSigpipe)
{
    std::unique_ptr<StreamStub> s = stub();
    EXPECT_EQ(frame(*s, 64, 48), 0);
    EXPECT_EQ(frame(*s, 64, 48), 0);
    const pid_t pid = s->encoderProcessid;
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    siginfo_t info;
    ASSERT_EQ(waitid(P_PID, pid, &info, WEXITED | WNOWAIT), 0); // dead, left for the export to reap

    qvtest::clearSyslog();
    EXPECT_NE(frame(*s, 64, 48), 0);
    EXPECT_TRUE(qvtest::syslogContains(" send to pipe -1 ")) << "the write met the closed pipe";
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    EXPECT_NE(frame(*s, 64, 48), 0);
    EXPECT_EQ(s->streamBuffer(nullptr, 0, 0, 0), 0);
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1) << "reaped by the export";
    EXPECT_TRUE(qvtest::noZombieChild());
}

// The other process waits on the condition under the mutex, then checks the descriptor and the slot.
// Async-signal-safe calls only: the parent may have GL threads.
TEST(ExportChannel, SecondProcessWakesOnceAndReadsTheAnnouncedFrame)
{
    const std::string tag = std::to_string(getpid()), sync = "/qvtest-sync-" + tag,
                      data = "/qvtest-data-" + tag;
    auto stub = std::make_unique<StreamStub>();
    ASSERT_TRUE(stub->m_ipc->init(nullptr, sync, data, "unused", 16));
    // The reader's segments, opened by name here (so they can be unlinked at once).
    const int syncFd = shm_open(sync.c_str(), O_RDWR, 0), dataFd = shm_open(data.c_str(), O_RDWR, 0);
    shm_unlink(sync.c_str());
    shm_unlink(data.c_str());
    const size_t slotBytes = 64 * 48 * 4;
    // Stale bytes in the slot, which the frame overwrites.
    memset(static_cast<char*>(stub->m_ipc->getBufferPtr()) + kFrameDataOffset, 0xab, slotBytes);

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) { // exits 2 without a wake-up, 3 for another descriptor, 4 with stale bytes left
        auto* s = static_cast<shared_memory_sync*>(
            mmap(nullptr, sizeof(shared_memory_sync), PROT_READ | PROT_WRITE, MAP_SHARED, syncFd, 0));
        auto* d = static_cast<unsigned char*>(
            mmap(nullptr, kFrameDataOffset + slotBytes, PROT_READ, MAP_SHARED, dataFd, 0));
        const auto* desc = reinterpret_cast<const SHARED_MEM_DESC*>(d);
        pthread_mutex_lock(&s->mutex);
        if (write(ready[1], "r", 1) != 1)
            _exit(1);
        timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += 20;
        int waited = 0;
        while (waited == 0 && desc->frameId == 0)
            waited = pthread_cond_timedwait(&s->condition, &s->mutex, &deadline);
        // The first frame, even of 65 x 49, 4 bytes per pixel, at rate 1.
        const bool announced = desc->frameId == 1 && desc->width == 64 && desc->height == 48 &&
                               desc->rowPitch == 4 && desc->rate == 1;
        const bool stale = std::any_of(d + kFrameDataOffset, d + kFrameDataOffset + slotBytes,
                                       [](unsigned char b) { return b != 0; });
        pthread_mutex_unlock(&s->mutex);
        _exit(waited != 0 ? 2 : !announced ? 3 : stale ? 4 : 0);
    }
    ASSERT_GT(child, 0);
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1); // the reader holds the mutex until it waits

    qvtest::clearSyslog();
    stub->sendDummyBuffer(65, 49, 4);
    int status = -1;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the reader's status " << status;
    for (int fd : {ready[0], ready[1], syncFd, dataFd})
        close(fd);
    EXPECT_TRUE(qvtest::syslogContains(" sende signal with return 0 "));
    EXPECT_EQ(stub->m_ipc->setEvent(), -1) << "once per frame";
    stub.reset();
    for (const std::string& segment : {sync, data})
        EXPECT_EQ(readFile("/proc/self/maps").find(segment), std::string::npos) << "unmapped at the end";
}

TEST(ExportChannel, MapBufferFlipsRowsAndAnUninitialisedChannelSendsNothing)
{
    StreamStub stub;
    unsigned char src[2][3][4] = {{{1}, {2}, {3}}, {{7}, {8}, {9}}}, dst[2][3][4] = {};
    EXPECT_EQ(stub.mapBuffer(dst, src, 3, 2, 4), 24u);
    EXPECT_EQ(memcmp(dst[0], src[1], sizeof dst[0]), 0);
    EXPECT_EQ(memcmp(dst[1], src[0], sizeof dst[1]), 0);
    stub.sendDummyBuffer(64, 48, 4);
    EXPECT_EQ(stub.m_ipc->setEvent(), -1);
    EXPECT_EQ(stub.m_ipc->lockShareMem(), EINVAL);
}
