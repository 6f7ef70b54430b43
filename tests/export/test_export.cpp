// Movie export: frames streamed to a recording stand-in for the encoder
// (ExportStream, one ctest entry holding the fixed pipe path), and the
// shared-memory channel read by a real second process (ExportChannel).
// Read-back is compared exactly (tolerance 0): the pbuffer holds what was cleared.
#include "export/IPCContext.h"
#include "export/StreamStub.h"
#include "support/GlContext.h"
#include "support/SyslogCapture.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bgra = std::array<unsigned char, 4>;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Children of this process that have exited and were never reaped.
int zombieChildren()
{
    int zombies = 0;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc != nullptr ? readdir(proc) : nullptr) {
        const std::string stat = readFile(std::string("/proc/") + entry->d_name + "/stat");
        const size_t close = stat.rfind(')');
        char state = 0;
        int ppid = 0;
        if (close != std::string::npos && sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
            ppid == getpid() && state == 'Z')
            ++zombies;
    }
    if (proc != nullptr)
        closedir(proc);
    return zombies;
}

bool isZombie(pid_t pid)
{
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && stat.size() > close + 2 && stat[close + 2] == 'Z';
}

bool sigpipePending()
{
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

class ExportStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        gl_.reset(new qvtest::GlContext(1024, 640));
        ASSERT_TRUE(gl_->ok()) << gl_->error();
        char dir[] = "/tmp/qvexportXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        unlink(kFifoPath);
        unsetenv("QV_RECORDER_MODE");
        qvtest::clearSyslog();
    }
    void TearDown() override
    {
        unsetenv("QV_RECORDER_MODE");
        std::string rm = "rm -rf " + dir_;
        EXPECT_EQ(system(rm.c_str()), 0);
        gl_.reset();
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::unique_ptr<StreamStub> stub(const std::string& encoder = QV_RECORDING_ENCODER)
    {
        std::unique_ptr<StreamStub> s(new StreamStub());
        s->encoderName = encoder;
        s->initStream(path("movie.raw"), 0, 0, 25);
        return s;
    }
    // A w x h view in `body`, its top 8 rows in `top`.
    void draw(int w, int h, Bgra body, Bgra top)
    {
        glViewport(0, 0, w, h);
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, w, h);
        glClearColor(body[2] / 255.f, body[1] / 255.f, body[0] / 255.f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glScissor(0, h - 8, w, 8);
        glClearColor(top[2] / 255.f, top[1] / 255.f, top[0] / 255.f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
        glFinish();
    }
    int frame(StreamStub& s, int w, int h, Bgra body, Bgra top)
    {
        draw(w, h, body, top);
        return s.streamBuffer(nullptr, w, h, 3);
    }

    std::unique_ptr<qvtest::GlContext> gl_;
    std::string dir_;
};

const Bgra kTop = {250, 250, 250, 255};
const Bgra kSkipped = {0, 0, 255, 255};

struct SizeCase {
    const char* what;
    int firstW, firstH, laterW, laterH;
    int movieW, movieH;
    Bgra first, later;
};

// What the movie holds at (x, y), rows counted from the bottom, for a view
// of w x h drawn in `body` under the top band, fitted into movieW x movieH.
Bgra expectedAt(int x, int y, int w, int h, Bgra body)
{
    if (x >= w || y >= h)
        return Bgra{0, 0, 0, 0}; // padding
    return y >= h - 8 ? kTop : body;
}

} // namespace

TEST_F(ExportStream, FramesAreEvenSizedBottomUpBgraAndFittedToTheFirstSize)
{
    const SizeCase cases[] = {
        {"odd view rounded down to even", 1001, 601, 1001, 601, 1000, 600, {10, 40, 200, 255}, {90, 160, 20, 255}},
        {"larger later view cropped", 640, 480, 700, 500, 640, 480, {200, 0, 100, 255}, {0, 120, 60, 255}},
        {"smaller later view padded", 640, 480, 321, 201, 640, 480, {30, 30, 30, 255}, {255, 0, 0, 255}},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.what);
        unlink(path("movie.raw").c_str());
        std::unique_ptr<StreamStub> s = stub();
        EXPECT_EQ(frame(*s, c.firstW, c.firstH, kSkipped, kTop), 0);
        struct stat st;
        EXPECT_EQ(s->encoderProcessid, 0) << "the first request starts nothing";
        EXPECT_NE(lstat(kFifoPath, &st), 0) << "the first request makes no pipe";
        EXPECT_EQ(frame(*s, c.firstW, c.firstH, c.first, kTop), 0);
        EXPECT_GT(s->encoderProcessid, 0);
        EXPECT_EQ(frame(*s, c.laterW, c.laterH, c.later, kTop), 0);
        EXPECT_EQ(s->streamBuffer(nullptr, 0, 0, 0), 0);
        EXPECT_EQ(s->encoderProcessid, 0);

        const std::string expectedArgs = path("movie.raw") + "\n" + std::to_string(c.movieW) + "\n" +
                                         std::to_string(c.movieH) + "\n25\n4\n";
        EXPECT_EQ(readFile(path("movie.raw.argv")), expectedArgs);
        const std::string bytes = readFile(path("movie.raw"));
        const size_t frameBytes = static_cast<size_t>(c.movieW) * c.movieH * 4;
        ASSERT_EQ(bytes.size(), 2 * frameBytes);
        const int xs[] = {0, c.movieW / 2, c.movieW - 1};
        const int ys[] = {0, c.movieH / 2, c.movieH - 1};
        for (int f = 0; f < 2; ++f)
            for (int x : xs)
                for (int y : ys) {
                    const Bgra want = f == 0 ? expectedAt(x, y, c.firstW, c.firstH, c.first)
                                             : expectedAt(x, y, c.laterW, c.laterH, c.later);
                    const char* p = bytes.data() + f * frameBytes + (static_cast<size_t>(y) * c.movieW + x) * 4;
                    const Bgra got = {static_cast<unsigned char>(p[0]), static_cast<unsigned char>(p[1]),
                                      static_cast<unsigned char>(p[2]), static_cast<unsigned char>(p[3])};
                    EXPECT_EQ(got, want) << "frame " << f << " at (" << x << ", " << y << ")";
                }
    }
    EXPECT_TRUE(qvtest::syslogContains("return odd number "));
    EXPECT_TRUE(qvtest::syslogContains(" send to pipe 2400000 "));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ExportStream, StalePipePathIsUnlinkedNeverFollowed)
{
    const std::string victim = path("victim.txt");
    for (bool asLink : {false, true}) {
        SCOPED_TRACE(asLink ? "symbolic link" : "regular file");
        { std::ofstream(victim) << "keep me"; }
        if (asLink)
            ASSERT_EQ(symlink(victim.c_str(), kFifoPath), 0);
        else
            std::ofstream(kFifoPath) << "stale";
        std::unique_ptr<StreamStub> s = stub();
        EXPECT_EQ(frame(*s, 64, 48, kSkipped, kTop), 0);
        EXPECT_EQ(frame(*s, 64, 48, {1, 2, 3, 255}, kTop), 0);
        EXPECT_EQ(s->streamBuffer(nullptr, 0, 0, 0), 0);
        EXPECT_EQ(readFile(victim), "keep me");
        EXPECT_EQ(readFile(path("movie.raw")).size(), 64u * 48 * 4);
        struct stat st;
        EXPECT_NE(lstat(kFifoPath, &st), 0) << "the export's own pipe is removed at close";
    }
    EXPECT_TRUE(qvtest::syslogContains(" removed pipe file /tmp/fifoChannel\n"));
}

TEST_F(ExportStream, ClosingBeforeTheEncoderStartedSignalsNothing)
{
    for (int requests : {0, 1}) {
        std::unique_ptr<StreamStub> s = stub();
        for (int i = 0; i < requests; ++i)
            EXPECT_EQ(frame(*s, 64, 48, kSkipped, kTop), 0);
        testing::internal::CaptureStdout();
        EXPECT_EQ(s->streamBuffer(nullptr, 0, 0, 0), 0);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("TerminateChildProcess 0 \n"), std::string::npos) << out;
        EXPECT_EQ(out.find("return value of kill"), std::string::npos) << out;
        EXPECT_EQ(frame(*s, 64, 48, kSkipped, kTop), -1) << "a closed export sends no more";
    }
}

TEST_F(ExportStream, EncoderThatCannotRunFailsTheExport)
{
    const std::string notExecutable = path("not-executable");
    { std::ofstream(notExecutable) << "#!/bin/sh\n"; }
    chmod(notExecutable.c_str(), 0644);
    struct Case {
        const char* what;
        std::string encoder;
        const char* mode;
    } cases[] = {
        {"missing", path("no-such-encoder"), nullptr},
        {"not executable", notExecutable, nullptr},
        {"exits without reading", QV_RECORDING_ENCODER, "exit"},
        {"never opens the pipe", QV_RECORDING_ENCODER, "hang"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.mode != nullptr)
            setenv("QV_RECORDER_MODE", c.mode, 1);
        std::unique_ptr<StreamStub> s = stub(c.encoder);
        EXPECT_EQ(frame(*s, 64, 48, kSkipped, kTop), 0);
        EXPECT_NE(frame(*s, 64, 48, kSkipped, kTop), 0);
        EXPECT_EQ(s->encoderProcessid, 0) << "stopped and reaped";
        EXPECT_NE(frame(*s, 64, 48, kSkipped, kTop), 0);
        EXPECT_EQ(s->streamBuffer(nullptr, 0, 0, 0), 0);
        struct stat st;
        EXPECT_NE(lstat(kFifoPath, &st), 0);
        EXPECT_EQ(zombieChildren(), 0);
        unsetenv("QV_RECORDER_MODE");
    }
    EXPECT_TRUE(qvtest::syslogContains(" it failed after creation Permission denied"));
    EXPECT_TRUE(qvtest::syslogContains(" encoder exited before it opened the pipe "));
    EXPECT_TRUE(qvtest::syslogContains(" encoder did not open the pipe within 5000 ms "));
}

TEST_F(ExportStream, EncoderKilledMidExportFailsFramesWithoutSigpipe)
{
    std::unique_ptr<StreamStub> s = stub();
    EXPECT_EQ(frame(*s, 64, 48, kSkipped, kTop), 0);
    EXPECT_EQ(frame(*s, 64, 48, {1, 2, 3, 255}, kTop), 0);
    const pid_t pid = s->encoderProcessid;
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    for (int i = 0; i < 500 && !isZombie(pid); ++i)
        usleep(10000);
    ASSERT_TRUE(isZombie(pid));

    qvtest::clearSyslog();
    EXPECT_NE(frame(*s, 64, 48, {4, 5, 6, 255}, kTop), 0);
    EXPECT_TRUE(qvtest::syslogContains(" send to pipe -1 ")) << "the write met the closed pipe";
    EXPECT_FALSE(sigpipePending());
    EXPECT_NE(frame(*s, 64, 48, {4, 5, 6, 255}, kTop), 0);
    EXPECT_EQ(s->streamBuffer(nullptr, 0, 0, 0), 0);
    EXPECT_EQ(zombieChildren(), 0);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), -1) << "already reaped by the export";
}

// ---------------------------------------------------------------------------

namespace {

// Unique segment names for one test, unlinked when it ends.
struct SegmentNames {
    SegmentNames()
    {
        static int counter = 0;
        const std::string tag = std::to_string(getpid()) + "-" + std::to_string(++counter);
        sync = "/qvtest-sync-" + tag;
        data = "/qvtest-data-" + tag;
    }
    ~SegmentNames()
    {
        shm_unlink(sync.c_str());
        shm_unlink(data.c_str());
    }
    std::string sync, data;
};

off_t segmentBytes(const std::string& name)
{
    const int fd = shm_open(name.c_str(), O_RDONLY, 0);
    struct stat st;
    const off_t size = fd >= 0 && fstat(fd, &st) == 0 ? st.st_size : -1;
    if (fd >= 0)
        close(fd);
    return size;
}

// What the reader process saw.
struct ReaderReport {
    int status; // 0 ok, else the step that failed
    SHARED_MEM_DESC desc;
    int slotNonZero;
};

// The other process: maps both segments by name, waits on the condition
// under the mutex for the first frame, reads the descriptor and the slot.
// Async-signal-safe calls only (the parent may have GL threads).
[[noreturn]] void readerProcess(const SegmentNames& names, int readyFd, int reportFd, size_t slotBytes)
{
    ReaderReport report;
    memset(&report, 0, sizeof report);
    const int syncFd = shm_open(names.sync.c_str(), O_RDWR, 0);
    const int dataFd = shm_open(names.data.c_str(), O_RDWR, 0);
    void* syncMem = mmap(nullptr, sizeof(shared_memory_sync), PROT_READ | PROT_WRITE, MAP_SHARED, syncFd, 0);
    void* dataMem = mmap(nullptr, kFrameDataOffset + slotBytes, PROT_READ | PROT_WRITE, MAP_SHARED, dataFd, 0);
    if (syncMem == MAP_FAILED || dataMem == MAP_FAILED) {
        report.status = 1;
    } else {
        shared_memory_sync* sync = static_cast<shared_memory_sync*>(syncMem);
        const SHARED_MEM_DESC* desc = static_cast<const SHARED_MEM_DESC*>(dataMem);
        pthread_mutex_lock(&sync->mutex);
        const char ready = 'r';
        if (write(readyFd, &ready, 1) != 1)
            report.status = 2;
        timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += 20;
        while (report.status == 0 && desc->frameId == 0)
            if (pthread_cond_timedwait(&sync->condition, &sync->mutex, &deadline) == ETIMEDOUT)
                report.status = 3;
        report.desc = *desc;
        const unsigned char* slot = static_cast<const unsigned char*>(dataMem) + kFrameDataOffset;
        for (size_t i = 0; i < slotBytes; ++i)
            report.slotNonZero += slot[i] != 0;
        pthread_mutex_unlock(&sync->mutex);
    }
    if (write(reportFd, &report, sizeof report) != static_cast<ssize_t>(sizeof report))
        _exit(1);
    _exit(0);
}

} // namespace

TEST(ExportChannel, SecondProcessWakesOnceAndReadsTheAnnouncedFrame)
{
    SegmentNames names;
    StreamStub stub;
    ASSERT_TRUE(stub.m_ipc->init(nullptr, names.sync, names.data, "unused", 16));
    EXPECT_EQ(segmentBytes(names.data), 16777216);
    EXPECT_EQ(segmentBytes(names.sync), 96);
    EXPECT_EQ(stub.m_ipc->shareMutex->onlyOnce, -1);
    const size_t slotBytes = 64 * 48 * 4;
    // Stale bytes in the slot, so that the announced (blank) frame shows.
    memset(static_cast<char*>(stub.m_ipc->getBufferPtr()) + kFrameDataOffset, 0xab, slotBytes);

    int ready[2], report[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        readerProcess(names, ready[1], report[1], slotBytes);
    close(ready[1]);
    close(report[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1); // the reader holds the mutex and is about to wait

    qvtest::clearSyslog();
    stub.sendDummyBuffer(65, 49, 4);
    ReaderReport got;
    memset(&got, 0xff, sizeof got);
    EXPECT_EQ(read(report[0], &got, sizeof got), static_cast<ssize_t>(sizeof got));
    int status = -1;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(ready[0]);
    close(report[0]);

    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.desc.frameId, 1u);
    EXPECT_EQ(got.desc.width, 64u);
    EXPECT_EQ(got.desc.height, 48u);
    EXPECT_EQ(got.desc.rowPitch, 4u);
    EXPECT_EQ(got.desc.rate, 1u);
    EXPECT_EQ(got.slotNonZero, 0);
    EXPECT_TRUE(qvtest::syslogContains(" sende signal with return 0 "));
    EXPECT_EQ(stub.m_ipc->setEvent(), -1);
    EXPECT_EQ(stub.m_ipc->setEvent(), -1);
    EXPECT_EQ(stub.m_ipc->resetEvent(), 1);
    EXPECT_EQ(stub.vw, 0);
}

TEST(ExportChannel, MapBufferFlipsRowsAndAnUninitialisedChannelSendsNothing)
{
    StreamStub stub;
    const unsigned char src[2][3][4] = {{{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}},
                                        {{7, 7, 7, 7}, {8, 8, 8, 8}, {9, 9, 9, 9}}};
    unsigned char dst[2][3][4] = {};
    EXPECT_EQ(stub.mapBuffer(dst, const_cast<unsigned char*>(&src[0][0][0]), 3, 2, 4), 24u);
    EXPECT_EQ(memcmp(dst[0], src[1], sizeof dst[0]), 0);
    EXPECT_EQ(memcmp(dst[1], src[0], sizeof dst[1]), 0);

    qvtest::clearSyslog();
    stub.sendDummyBuffer(64, 48, 4);
    EXPECT_TRUE(qvtest::syslogContains(" shared memory not initialised, no dummy buffer "));
    EXPECT_EQ(stub.m_ipc->setEvent(), -1);
    EXPECT_EQ(stub.m_ipc->lockShareMem(), EINVAL);
}
