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
#include <cstring>
#include <thread>
#include <vector>

namespace {

const char* kPipe = "/tmp/fifoChannel";

// The shipped program, or the sanitized copy when QV_ENCODER names it.
const char* encoderPath()
{
    const char* path = getenv("QV_ENCODER");
    return path != nullptr && *path ? path : QV_ENCODER_PATH;
}

struct Child {
    pid_t pid = -1;
    int err = -1; // read end of the child's stderr
};

Child startEncoder(const std::vector<std::string>& args, const char* env = nullptr) // env: "NAME=value"
{
    int fds[2];
    Child child;
    if (pipe(fds) != 0)
        return child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        if (env != nullptr)
            putenv(const_cast<char*>(env));
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(encoderPath(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    child.err = fds[0];
    return child;
}

// Exit status and stderr; the child is killed if it runs past the deadline.
std::pair<int, std::string> finish(Child& child, int seconds = 60)
{
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (waitpid(child.pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            ADD_FAILURE() << "encoder did not exit in " << seconds << " s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(child.err, buf, sizeof buf)) > 0)
        text.append(buf, size_t(n));
    close(child.err);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text};
}

// The library's side: a fresh FIFO, opened once the encoder reads it.
int openPipeForWriting()
{
    unlink(kPipe);
    if (mkfifo(kPipe, 0600) != 0)
        return -1;
    for (int tries = 0; tries < 1000; ++tries) {
        int fd = open(kPipe, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            fcntl(fd, F_SETFL, 0);
            return fd;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

void waitUntilDrained(int fd)
{
    int queued = 1;
    for (int tries = 0; tries < 2000 && queued > 0; ++tries) {
        if (ioctl(fd, FIONREAD, &queued) != 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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
    if (p != nullptr)
        pclose(p);
    return out;
}

struct Movie {
    const char* name;
    const char* extension;
    const char* codec;
    int frames;
    size_t extraBytes; // a partial frame after the last whole one
    int stopAfter;     // SIGTERM once this many frames are read; 0 = end of stream
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
    int fd = openPipeForWriting();
    ASSERT_GE(fd, 0) << finish(child).second;
    const int fed = m.stopAfter ? m.stopAfter : m.frames;
    for (int i = 0; i < fed; ++i)
        ASSERT_EQ(write(fd, frame.data(), frame.size()), ssize_t(frame.size()));
    ASSERT_EQ(write(fd, frame.data(), m.extraBytes), ssize_t(m.extraBytes));
    if (m.stopAfter) {
        // Stopped while blocked in read with the pipe still open, as the
        // library's SIGTERM finds a stuck encoder.
        waitUntilDrained(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(child.pid, SIGTERM);
    } else {
        close(fd); // end of stream
        fd = -1;
    }
    auto [status, err] = finish(child);
    if (fd >= 0)
        close(fd);
    unlink(kPipe);
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(err.find("partial last frame") != std::string::npos, m.extraBytes > 0) << err;
    EXPECT_EQ(probeCodecAndFrames(movie), m.codec + ("," + std::to_string(fed) + "\n"));
}

INSTANTIATE_TEST_SUITE_P(Containers, EncoderMovie,
                         ::testing::Values(Movie{"mp4", ".mp4", "h264", 5, 0, 0},
                                           Movie{"avi", ".avi", "mpeg4", 5, 0, 0},
                                           Movie{"mkv", ".mkv", "h264", 5, 0, 0},
                                           Movie{"mov", ".mov", "h264", 5, 0, 0},
                                           Movie{"partialLastFrame", ".mp4", "h264", 6, 1000, 0},
                                           Movie{"sigtermMidway", ".mp4", "h264", 40, 0, 12},
                                           Movie{"sigtermMidwayAvi", ".avi", "mpeg4", 40, 0, 12}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
    const char* name;
    std::vector<std::string> args; // args[0] is the output path
    const char* reason;
    const char* env = nullptr;
    bool pipeWithoutWriter = false;
};

class EncoderRefuses : public ::testing::TestWithParam<Refusal> { };

TEST_P(EncoderRefuses, ExitsNonzeroWithOneLineReason)
{
    const Refusal& r = GetParam();
    if (r.env != nullptr && strstr(r.env, "QUORVEX_ENCODER_WAIT") != nullptr)
        unlink(kPipe); // the cases that wait for it
    if (r.pipeWithoutWriter)
        mkfifo(kPipe, 0600);
    Child child = startEncoder(r.args, r.env);
    ASSERT_GT(child.pid, 0);
    auto [status, err] = finish(child, 20);
    if (r.pipeWithoutWriter)
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
        Refusal{"tooFewArguments", {kBad, "64", "48", "25"}, "expected argv[0]=OUTPUT"},
        Refusal{"oddWidth", {kBad, "65", "48", "25", "4"}, "bad width '65'"},
        Refusal{"oddHeight", {kBad, "64", "47", "25", "4"}, "bad height '47'"},
        Refusal{"zeroHeight", {kBad, "64", "0", "25", "4"}, "bad height '0'"},
        Refusal{"notANumber", {kBad, "64x", "48", "25", "4"}, "bad width '64x'"},
        Refusal{"rateZero", {kBad, "64", "48", "0", "4"}, "bad frame rate '0'"},
        Refusal{"threeBytesPerPixel", {kBad, "64", "48", "25", "3"}, "bad bytes per pixel '3'"},
        Refusal{"unknownExtension", {"/tmp/qv-enc-bad.webm", "64", "48", "25", "4"}, "unsupported output"},
        Refusal{"noExtension", {"/tmp/qv-enc-bad", "64", "48", "25", "4"}, "unsupported output"},
        Refusal{"dotOnlyInTheFolder", {"/tmp/qv-enc.mp4/bad", "64", "48", "25", "4"}, "unsupported output"},
        Refusal{"programNameAsOutput", {"quorvex-encoder", "/tmp/a.mp4", "64", "48", "25"}, "bad width"},
        Refusal{"unwritableFolder", {"/nonexistent/dir/out.mp4", "64", "48", "25", "4"}, "cannot open"},
        Refusal{"badPreset", kGood, "cannot open encoder", "QUORVEX_ENCODER_PRESET=warp"},
        Refusal{"noPipeInTime", kGood, "gave up waiting for /tmp/fifoChannel", "QUORVEX_ENCODER_WAIT=1"},
        Refusal{"noWriterInTime", kGood, "gave up waiting for a writer", "QUORVEX_ENCODER_WAIT=1", true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
