// quorvex-encoder alone, started as the library starts it (argv[0] = output path) and fed
// through /tmp/fifoChannel: what only the program shows. The picture is proven end to end from Java.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

const char* kPipe = "/tmp/fifoChannel";
void nap(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Child {
    pid_t pid = -1;
    int err = -1; // read end of the child's stderr
};

// The shipped program, or the sanitized copy when QV_ENCODER names it; env: "NAME=value". SIGALRM
// ends it if it runs past the deadline.
Child startEncoder(const std::vector<std::string>& args, const char* env = nullptr, unsigned seconds = 60)
{
    int fds[2];
    Child child;
    if (pipe2(fds, O_CLOEXEC) != 0)
        return child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(fds[1], 2);
        if (env != nullptr)
            putenv(const_cast<char*>(env));
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        alarm(seconds);
        const char* path = getenv("QV_ENCODER");
        execv(path != nullptr && *path ? path : QV_ENCODER_PATH, argv.data());
        _exit(127);
    }
    close(fds[1]);
    child.err = fds[0];
    return child;
}

// Exit status (128 + signal when killed) and stderr.
std::pair<int, std::string> finish(Child& child)
{
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(child.err, buf, sizeof buf)) > 0;)
        text.append(buf, size_t(n));
    close(child.err);
    int status = 0;
    EXPECT_EQ(waitpid(child.pid, &status, 0), child.pid);
    EXPECT_FALSE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) << "past the deadline";
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text};
}

// The library's side: a fresh FIFO, opened once the encoder reads it.
int openPipeForWriting()
{
    unlink(kPipe);
    if (mkfifo(kPipe, 0600) != 0)
        return -1;
    for (int tries = 0; tries < 1000; ++tries, nap(10)) {
        const int fd = open(kPipe, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 && fcntl(fd, F_SETFL, 0) == 0)
            return fd;
    }
    return -1;
}

// A private folder for one case, removed whatever the outcome.
struct TempDir {
    char path[23] = "/tmp/qv-encoder-XXXXXX";
    const bool made = mkdtemp(path) != nullptr;
    ~TempDir() { EXPECT_EQ(std::system((std::string("rm -rf '") + path + "'").c_str()), 0); }
};

// ffprobe's "codec,frames" of the movie's first video stream.
std::string probeCodecAndFrames(const std::string& movie)
{
    const std::string command = std::string(QV_FFPROBE) + " -v error -count_frames -select_streams v:0" +
                                " -show_entries stream=codec_name,nb_read_frames -of csv=p=0 '" + movie + "'";
    FILE* p = popen(command.c_str(), "r");
    std::string out(256, '\0');
    out.resize(p != nullptr ? fread(&out[0], 1, out.size(), p) : 0);
    return p == nullptr || pclose(p) == 0 ? out : "ffprobe failed: " + out;
}

// extra: bytes of a partial frame after the last whole one; sigterm: stopped once every frame is read.
struct Movie {
    const char *name, *extension, *codec;
    int frames, extra;
    bool sigterm;
};

class EncoderMovie : public ::testing::TestWithParam<Movie> { };

TEST_P(EncoderMovie, HoldsTheFedFramesInItsContainersCodec)
{
    const Movie& m = GetParam();
    signal(SIGPIPE, SIG_IGN);
    TempDir tmp;
    ASSERT_TRUE(tmp.made);
    const std::string movie = tmp.path + std::string("/movie") + m.extension;
    const std::vector<char> frame(64 * 48 * 4, 100);
    Child child = startEncoder({movie, "64", "48", "25", "4"});
    ASSERT_GT(child.pid, 0);
    const int fd = openPipeForWriting();
    ASSERT_GE(fd, 0) << finish(child).second;
    for (int i = 0; i < m.frames; ++i)
        ASSERT_EQ(write(fd, frame.data(), frame.size()), ssize_t(frame.size()));
    ASSERT_EQ(write(fd, frame.data(), size_t(m.extra)), ssize_t(m.extra));
    if (m.sigterm) { // blocked in read with the pipe open, as the library's SIGTERM finds a stuck encoder
        for (int queued = 1, n = 0; n < 2000 && queued > 0 && ioctl(fd, FIONREAD, &queued) == 0; ++n)
            nap(5);
        nap(100);
        kill(child.pid, SIGTERM);
    } else {
        close(fd); // end of stream
    }
    auto [status, err] = finish(child);
    if (m.sigterm)
        close(fd);
    unlink(kPipe);
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(err.find("partial last frame") != std::string::npos, m.extra > 0) << err;
    EXPECT_EQ(probeCodecAndFrames(movie), m.codec + ("," + std::to_string(m.frames) + "\n"));
}

INSTANTIATE_TEST_SUITE_P(Containers, EncoderMovie,
                         ::testing::Values(Movie{"mp4", ".mp4", "h264", 5, 0, false},
                                           Movie{"avi", ".avi", "mpeg4", 5, 0, false},
                                           Movie{"mkv", ".mkv", "h264", 5, 0, false},
                                           Movie{"mov", ".mov", "h264", 5, 0, false},
                                           Movie{"partialLastFrame", ".mp4", "h264", 6, 1000, false},
                                           Movie{"sigtermMidway", ".mp4", "h264", 12, 0, true},
                                           Movie{"sigtermMidwayAvi", ".avi", "mpeg4", 12, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
    const char *name, *reason;
    std::vector<std::string> args; // args[0] is the output path
    const char* env = nullptr;
    bool pipeWithoutWriter = false;
};

class EncoderRefuses : public ::testing::TestWithParam<Refusal> { };

TEST_P(EncoderRefuses, ExitsNonzeroWithOneLineReason)
{
    const Refusal& r = GetParam();
    unlink(kPipe); // the cases that wait for it find none, or one without a writer
    if (r.pipeWithoutWriter)
        mkfifo(kPipe, 0600);
    Child child = startEncoder(r.args, r.env, 20);
    ASSERT_GT(child.pid, 0);
    auto [status, err] = finish(child);
    unlink(kPipe);
    EXPECT_NE(status, 0);
    // FFmpeg may add its own lines before; ours is one line, the last.
    auto ours = err.rfind("quorvex-encoder: ");
    ASSERT_NE(ours, std::string::npos) << err;
    EXPECT_NE(err.find(r.reason, ours), std::string::npos) << err;
    EXPECT_EQ(err.find('\n', ours), err.size() - 1) << err;
    EXPECT_EQ(err.find("quorvex-encoder: "), ours) << err;
    EXPECT_NE(access(r.args[0].c_str(), F_OK), 0) << "no movie may be left behind";
}

const char* kBad = "/tmp/qv-enc-bad.mp4";
const std::vector<std::string> kGood = {kBad, "64", "48", "25", "4"};
INSTANTIATE_TEST_SUITE_P(
    BadInput, EncoderRefuses,
    ::testing::Values(
        Refusal{"tooFewArguments", "expected argv[0]=OUTPUT", {kBad, "64", "48", "25"}},
        Refusal{"oddWidth", "bad width '65'", {kBad, "65", "48", "25", "4"}},
        Refusal{"oddHeight", "bad height '47'", {kBad, "64", "47", "25", "4"}},
        Refusal{"zeroHeight", "bad height '0'", {kBad, "64", "0", "25", "4"}},
        Refusal{"notANumber", "bad width '64x'", {kBad, "64x", "48", "25", "4"}},
        Refusal{"rateZero", "bad frame rate '0'", {kBad, "64", "48", "0", "4"}},
        Refusal{"threeBytesPerPixel", "bad bytes per pixel '3'", {kBad, "64", "48", "25", "3"}},
        Refusal{"unknownExtension", "unsupported output", {"/tmp/qv-enc-bad.webm", "64", "48", "25", "4"}},
        Refusal{"noExtension", "unsupported output", {"/tmp/qv-enc-bad", "64", "48", "25", "4"}},
        Refusal{"dotOnlyInTheFolder", "unsupported output", {"/tmp/qv-enc.mp4/bad", "64", "48", "25", "4"}},
        Refusal{"programNameAsOutput", "bad width", {"quorvex-encoder", "/tmp/a.mp4", "64", "48", "25"}},
        Refusal{"unwritableFolder", "cannot open", {"/nonexistent/dir/out.mp4", "64", "48", "25", "4"}},
        Refusal{"badPreset", "cannot open encoder", kGood, "QUORVEX_ENCODER_PRESET=warp"},
        Refusal{"noPipeInTime", "gave up waiting for /tmp/fifoChannel", kGood, "QUORVEX_ENCODER_WAIT=1"},
        Refusal{"noWriterInTime", "gave up waiting for a writer", kGood, "QUORVEX_ENCODER_WAIT=1", true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
