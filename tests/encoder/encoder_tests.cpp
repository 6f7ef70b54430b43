// quorvex-encoder alone: started as the library starts it (argv[0] = output
// path), fed a raw bottom-up BGRA stream from a file through /tmp/fifoChannel,
// and its movie checked with ffprobe and decoded back with ffmpeg.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* kPipe = "/tmp/fifoChannel";

struct Rgb {
    int r, g, b;
};
const Rgb kPalette[] = {{230, 30, 30},  {30, 200, 40},  {30, 40, 220},  {240, 220, 40},
                        {40, 210, 220}, {210, 40, 200}, {245, 245, 245}, {15, 15, 15},
                        {240, 140, 20}, {120, 60, 170}, {128, 128, 128}, {20, 120, 110}};
constexpr int kPaletteSize = sizeof(kPalette) / sizeof(kPalette[0]);

// Frame i: upper half one colour, lower half another, so order and
// orientation both show after decoding.
Rgb upperColour(int i) { return kPalette[i % kPaletteSize]; }
Rgb lowerColour(int i) { return kPalette[(i + 5) % kPaletteSize]; }

// Writes `frames` frames as the library streams them: B G R A, bottom row first.
std::string writeRawFile(const std::string& dir, int w, int h, int frames, size_t extraBytes) {
    std::string path = dir + "/frames.raw";
    std::ofstream out(path, std::ios::binary);
    std::vector<unsigned char> row(size_t(w) * 4);
    for (int i = 0; i < frames; ++i) {
        for (int y = 0; y < h; ++y) {  // y = 0 is the lowest row
            Rgb c = y < h / 2 ? lowerColour(i) : upperColour(i);
            for (int x = 0; x < w; ++x) {
                unsigned char* p = &row[size_t(x) * 4];
                p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 255;
            }
            out.write(reinterpret_cast<const char*>(row.data()), row.size());
        }
    }
    std::vector<char> partial(extraBytes, 7);
    out.write(partial.data(), partial.size());
    return path;
}

// The shipped program, or the sanitized copy when QV_ENCODER names it.
const char* encoderPath() {
    const char* path = getenv("QV_ENCODER");
    return path != nullptr && *path ? path : QV_ENCODER_PATH;
}

struct Child {
    pid_t pid = -1;
    int err = -1;  // read end of the child's stderr
};

Child startEncoder(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    int fds[2];
    Child child;
    if (pipe(fds) != 0) return child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(encoderPath(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    child.err = fds[0];
    return child;
}

// Exit status and stderr; the child is killed if it runs past the deadline.
std::pair<int, std::string> finish(Child& child, int seconds = 60) {
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
    while ((n = read(child.err, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
    close(child.err);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text};
}

// The library's side: a fresh FIFO, opened once the encoder reads it.
int openPipeForWriting() {
    unlink(kPipe);
    if (mkfifo(kPipe, 0600) != 0) return -1;
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

bool copyBytes(int from, int to, size_t bytes) {
    while (bytes > 0) {
        ssize_t n = sendfile(to, from, nullptr, bytes);
        if (n <= 0) return false;
        bytes -= size_t(n);
    }
    return true;
}

void waitUntilDrained(int fd) {
    int queued = 1;
    for (int tries = 0; tries < 2000 && queued > 0; ++tries) {
        if (ioctl(fd, FIONREAD, &queued) != 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[1 << 16];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

std::map<std::string, std::string> probe(const std::string& movie) {
    std::istringstream lines(run(std::string(QV_FFPROBE) +
                                 " -v error -count_frames -select_streams v:0 -show_entries "
                                 "stream=codec_name,width,height,r_frame_rate,avg_frame_rate,nb_read_frames:"
                                 "format=duration -of default=nw=1 '" + movie + "'"));
    std::map<std::string, std::string> fields;
    std::string line;
    while (std::getline(lines, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

// A private folder for one case, removed whatever the outcome.
struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/qv-encoder-XXXXXX";
        const char* dir = mkdtemp(pattern);
        path = dir ? dir : "";
    }
    ~TempDir() {
        if (!path.empty()) run("rm -rf '" + path + "'");
    }
};

void expectColour(const unsigned char* p, Rgb want, const std::string& where) {
    const int tolerance = 12;  // lossy YUV 4:2:0 on flat areas
    EXPECT_NEAR(p[0], want.r, tolerance) << where;
    EXPECT_NEAR(p[1], want.g, tolerance) << where;
    EXPECT_NEAR(p[2], want.b, tolerance) << where;
}

struct Movie {
    const char* name;
    const char* extension;
    const char* codec;
    int width, height, rate, frames;
    size_t extraBytes;  // a partial frame after the last whole one
    int stopAfter;      // SIGTERM once this many frames are read; 0 = end of stream
};

void PrintTo(const Movie& m, std::ostream* os) { *os << m.name; }

class EncoderMovie : public ::testing::TestWithParam<Movie> {};

TEST_P(EncoderMovie, ProbesAndDecodesToTheFedFrames) {
    const Movie& m = GetParam();
    signal(SIGPIPE, SIG_IGN);
    TempDir tmp;
    const std::string& dir = tmp.path;
    ASSERT_FALSE(dir.empty());
    std::string raw = writeRawFile(dir, m.width, m.height, m.frames, m.extraBytes);
    std::string movie = dir + "/movie" + m.extension;
    size_t frameBytes = size_t(m.width) * m.height * 4;

    Child child = startEncoder({movie, std::to_string(m.width), std::to_string(m.height),
                                std::to_string(m.rate), "4"}, {});
    ASSERT_GT(child.pid, 0);
    int fd = openPipeForWriting();
    ASSERT_GE(fd, 0) << finish(child).second;
    int in = open(raw.c_str(), O_RDONLY);
    ASSERT_GE(in, 0);
    int expected = m.stopAfter ? m.stopAfter : m.frames;
    if (m.stopAfter) {
        // Stopped while blocked in read with the pipe still open, as the
        // library's SIGTERM finds a stuck encoder.
        ASSERT_TRUE(copyBytes(in, fd, frameBytes * m.stopAfter));
        waitUntilDrained(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(child.pid, SIGTERM);
    } else {
        ASSERT_TRUE(copyBytes(in, fd, frameBytes * m.frames + m.extraBytes));
        close(fd);  // end of stream
        fd = -1;
    }
    auto [status, err] = finish(child);
    if (fd >= 0) close(fd);
    close(in);
    unlink(kPipe);
    ASSERT_EQ(status, 0) << err;
    if (m.extraBytes) {
        EXPECT_NE(err.find("partial last frame"), std::string::npos) << err;
    }

    auto info = probe(movie);
    EXPECT_EQ(info["codec_name"], m.codec);
    EXPECT_EQ(info["width"], std::to_string(m.width));
    EXPECT_EQ(info["height"], std::to_string(m.height));
    EXPECT_EQ(info["r_frame_rate"], std::to_string(m.rate) + "/1");
    EXPECT_EQ(info["avg_frame_rate"], std::to_string(m.rate) + "/1");
    EXPECT_EQ(info["nb_read_frames"], std::to_string(expected));
    EXPECT_NEAR(std::atof(info["duration"].c_str()), double(expected) / m.rate, 0.002);

    std::string rgb = run(std::string(QV_FFMPEG) + " -v error -i '" + movie + "' -f rawvideo -pix_fmt rgb24 -");
    size_t rgbFrame = size_t(m.width) * m.height * 3;
    ASSERT_EQ(rgb.size(), rgbFrame * expected);
    for (int i = 0; i < expected; ++i) {
        auto at = [&](int x, int y) {  // y from the top, as decoded
            return reinterpret_cast<const unsigned char*>(rgb.data()) + i * rgbFrame +
                   (size_t(y) * m.width + x) * 3;
        };
        std::string frame = "frame " + std::to_string(i);
        expectColour(at(m.width / 2, m.height / 4), upperColour(i), frame + " top");
        expectColour(at(m.width / 2, 3 * m.height / 4), lowerColour(i), frame + " bottom");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, EncoderMovie,
    ::testing::Values(Movie{"mp4", ".mp4", "h264", 160, 96, 25, 14, 0, 0},
                      Movie{"avi", ".avi", "mpeg4", 160, 96, 25, 14, 0, 0},
                      Movie{"mkv", ".mkv", "h264", 128, 64, 30, 5, 0, 0},
                      Movie{"mov", ".mov", "h264", 128, 64, 12, 5, 0, 0},
                      Movie{"partialLastFrame", ".mp4", "h264", 96, 64, 10, 6, 1000, 0},
                      Movie{"sigtermMidway", ".mp4", "h264", 160, 96, 25, 40, 0, 12},
                      Movie{"sigtermMidwayAvi", ".avi", "mpeg4", 160, 96, 25, 40, 0, 12}),
    [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
    const char* name;
    std::vector<std::string> args;  // args[0] is the output path
    const char* reason;
    std::map<std::string, std::string> env;
    bool pipeWithoutWriter = false;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class EncoderRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(EncoderRefuses, ExitsNonzeroWithOneLineReason) {
    const Refusal& r = GetParam();
    if (r.env.count("QUORVEX_ENCODER_WAIT")) unlink(kPipe);  // the cases that wait for it
    if (r.pipeWithoutWriter) mkfifo(kPipe, 0600);
    Child child = startEncoder(r.args, r.env);
    ASSERT_GT(child.pid, 0);
    auto [status, err] = finish(child, 20);
    if (r.pipeWithoutWriter) unlink(kPipe);
    EXPECT_NE(status, 0);
    // FFmpeg may add its own lines before; ours is one line, the last.
    auto ours = err.rfind("quorvex-encoder: ");
    ASSERT_NE(ours, std::string::npos) << err;
    EXPECT_NE(err.find(r.reason, ours), std::string::npos) << err;
    EXPECT_EQ(err.find('\n', ours), err.size() - 1) << err;
    EXPECT_EQ(err.find("quorvex-encoder: "), ours) << err;
    struct stat st;
    EXPECT_NE(stat(r.args[0].c_str(), &st), 0) << "no movie may be left behind";
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, EncoderRefuses,
    ::testing::Values(
        Refusal{"tooFewArguments", {"/tmp/qv-enc-bad.mp4", "64", "48", "25"}, "expected argv[0]=OUTPUT", {}},
        Refusal{"oddWidth", {"/tmp/qv-enc-bad.mp4", "65", "48", "25", "4"}, "bad width '65'", {}},
        Refusal{"zeroHeight", {"/tmp/qv-enc-bad.mp4", "64", "0", "25", "4"}, "bad height '0'", {}},
        Refusal{"notANumber", {"/tmp/qv-enc-bad.mp4", "64x", "48", "25", "4"}, "bad width '64x'", {}},
        Refusal{"rateZero", {"/tmp/qv-enc-bad.mp4", "64", "48", "0", "4"}, "bad frame rate '0'", {}},
        Refusal{"threeBytesPerPixel", {"/tmp/qv-enc-bad.mp4", "64", "48", "25", "3"}, "bad bytes per pixel '3'", {}},
        Refusal{"unknownExtension", {"/tmp/qv-enc-bad.webm", "64", "48", "25", "4"}, "unsupported output", {}},
        Refusal{"programNameAsOutput", {"quorvex-encoder", "/tmp/a.mp4", "64", "48", "25"}, "bad width", {}},
        Refusal{"unwritableFolder", {"/nonexistent/dir/out.mp4", "64", "48", "25", "4"}, "cannot open", {}},
        Refusal{"badPreset", {"/tmp/qv-enc-bad.mp4", "64", "48", "25", "4"}, "cannot open encoder",
                {{"QUORVEX_ENCODER_PRESET", "warp"}}},
        Refusal{"noPipeInTime", {"/tmp/qv-enc-bad.mp4", "64", "48", "25", "4"}, "gave up waiting for /tmp/fifoChannel",
                {{"QUORVEX_ENCODER_WAIT", "1"}}},
        Refusal{"noWriterInTime", {"/tmp/qv-enc-bad.mp4", "64", "48", "25", "4"}, "gave up waiting for a writer",
                {{"QUORVEX_ENCODER_WAIT", "1"}}, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
