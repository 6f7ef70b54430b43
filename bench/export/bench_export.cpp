// Movie export throughput: frames drawn and exported per second through the
// library's stream (StreamStub: read-back, pipe, quorvex-encoder), against the
// same encoder fed the same frames from a file, and against the raw pipe
// limit (the same bytes written to a reader that throws them away). All in
// one run, on one GL context, the measurements of a size alternating.
//
// bench_export [frames at 1280x720] [frames at 1920x1080] [repetitions]
#include "export/StreamStub.h"
#include "support/GlContext.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

const char* kPipe = "/tmp/fifoChannel";
constexpr int kRate = 30;
constexpr int kPipeBytes = 1 << 20;

double seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A stimulus-like page: a photo-like gradient area and rows of dark word
// blocks on a light ground, drawn as one texture.
GLuint makeStimulus()
{
    const int n = 1024;
    std::vector<unsigned char> px(size_t(n) * n * 4);
    unsigned seed = 12345;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            unsigned char* p = &px[(size_t(y) * n + x) * 4];
            if (y < n / 3) {
                p[0] = static_cast<unsigned char>(128 + 100 * std::sin(x * 0.013 + y * 0.007));
                p[1] = static_cast<unsigned char>(128 + 90 * std::cos(y * 0.021));
                p[2] = static_cast<unsigned char>(128 + 80 * std::sin((x + y) * 0.005));
            } else {
                p[0] = p[1] = p[2] = 235;
            }
            p[3] = 255;
        }
    for (int row = n / 3 + 20; row < n - 30; row += 28) {
        for (int x = 30; x < n - 60;) {
            seed = seed * 1103515245u + 12345u;
            int word = 20 + int(seed >> 16) % 70;
            for (int y = row; y < row + 14; ++y)
                for (int xx = x; xx < std::min(x + word, n - 30); ++xx) {
                    unsigned char* p = &px[(size_t(y) * n + xx) * 4];
                    p[0] = p[1] = p[2] = 40;
                }
            x += word + 12;
        }
    }
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, n, n, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    return tex;
}

// Frame i of a playback: the page scrolled slowly, and fixation circles
// moving over it, as the viewer's canvas would draw them.
void drawFrame(GLuint stimulus, int i, int w, int h)
{
    qvtest::canvasProjection(w, h);
    glClearColor(0.1f, 0.1f, 0.1f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, stimulus);
    const float scroll = float(i % 200) * 0.001f;
    glColor3f(1, 1, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, scroll), glVertex2f(0, 0);
    glTexCoord2f(1, scroll), glVertex2f(float(w), 0);
    glTexCoord2f(1, scroll + 0.8f), glVertex2f(float(w), float(h));
    glTexCoord2f(0, scroll + 0.8f), glVertex2f(0, float(h));
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    for (int c = 0; c < 30; ++c) {
        const float cx = float(std::fmod(c * 97.0 + i * (3.0 + c % 5), double(w)));
        const float cy = float(std::fmod(c * 53.0 + i * (2.0 + c % 3), double(h)));
        const float r = 12.0f + float(c % 6) * 6.0f;
        glColor4f(0.2f + 0.1f * float(c % 8), 0.9f - 0.1f * float(c % 7), 0.3f, 0.55f);
        glBegin(GL_TRIANGLE_FAN);
        glVertex2f(cx, cy);
        for (int s = 0; s <= 24; ++s)
            glVertex2f(cx + r * std::cos(s * 6.2831853f / 24), cy + r * std::sin(s * 6.2831853f / 24));
        glEnd();
    }
    glDisable(GL_BLEND);
}

// The same frames as the export sends: read back bottom-up BGRA, into a file.
bool writeFrameFile(const std::string& path, GLuint stimulus, int w, int h, int frames)
{
    std::ofstream out(path, std::ios::binary);
    std::vector<unsigned char> px(size_t(w) * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (int i = 0; i < frames; ++i) {
        drawFrame(stimulus, i, w, h);
        glReadBuffer(GL_FRONT);
        glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, px.data());
        out.write(reinterpret_cast<const char*>(px.data()), std::streamsize(px.size()));
    }
    return bool(out);
}

// The encoder's stderr goes to a file for the run so that its summary line
// ("... in T s, F frames/s") can be read back.
class StderrToFile {
public:
    explicit StderrToFile(const std::string& path) : path_(path)
    {
        fflush(stderr);
        saved_ = dup(2);
        int f = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(f, 2);
        close(f);
    }
    ~StderrToFile()
    {
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
    }
    // Frames per second the encoder reports over its whole run, 0 if none.
    double encoderFps() const
    {
        std::ifstream in(path_);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t at = text.rfind(" frames/s");
        const size_t comma = text.rfind(", ", at);
        return at == std::string::npos || comma == std::string::npos ? 0.0
                                                                     : std::atof(text.c_str() + comma + 2);
    }

private:
    std::string path_;
    int saved_ = -1;
};

struct Figures {
    double writer = 0;  // frames per second as the sending side saw them
    double encoder = 0; // frames per second the encoder reports (first byte to trailer)
    double tail = 0;    // seconds from end of stream to the encoder's exit
};

// The library's export: draw, then StreamStub reads the frame back and writes it.
Figures exportThroughLibrary(const std::function<void(int)>& draw, int w, int h, int frames,
                             const std::string& movie, const std::string& log)
{
    Figures f;
    StderrToFile capture(log);
    StreamStub stub;
    stub.encoderName = "quorvex-encoder"; // found beside the library
    stub.setCodec("h264");
    stub.initStream(movie, w, h, kRate);
    int dummy = 0;
    draw(0);
    stub.streamBuffer(&dummy, w, h, 4); // the first request only arms the export
    const double t0 = seconds();
    for (int i = 0; i < frames; ++i) {
        draw(i);
        if (stub.streamBuffer(&dummy, w, h, 4) != 0) {
            std::fprintf(stderr, "export failed at frame %d\n", i);
            return f;
        }
    }
    f.writer = frames / (seconds() - t0);
    stub.streamBuffer(nullptr, 0, 0, 4);
    f.encoder = capture.encoderFps();
    return f;
}

pid_t startEncoder(const std::string& movie, int w, int h, const char* program)
{
    const std::string ws = std::to_string(w), hs = std::to_string(h), rs = std::to_string(kRate);
    pid_t pid = fork();
    if (pid == 0) {
        const char* argv[] = {movie.c_str(), ws.c_str(), hs.c_str(), rs.c_str(), "4", nullptr};
        execv(program, const_cast<char* const*>(argv));
        _exit(127);
    }
    return pid;
}

int openWriter()
{
    for (int tries = 0; tries < 1000; ++tries) {
        int fd = open(kPipe, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            fcntl(fd, F_SETFL, 0);
            fcntl(fd, F_SETPIPE_SZ, kPipeBytes);
            return fd;
        }
        usleep(10000);
    }
    return -1;
}

bool writeAll(int fd, const unsigned char* p, size_t n)
{
    while (n > 0) {
        ssize_t m = write(fd, p, n);
        if (m <= 0)
            return false;
        p += m, n -= size_t(m);
    }
    return true;
}

// Streams `frames` frames from the raw file into an already connected pipe.
double streamFile(int fd, const std::string& raw, size_t frameBytes, int frames)
{
    std::vector<unsigned char> buf(frameBytes);
    int in = open(raw.c_str(), O_RDONLY);
    const double t0 = seconds();
    int sent = 0;
    for (; sent < frames; ++sent)
        if (read(in, buf.data(), frameBytes) != ssize_t(frameBytes) || !writeAll(fd, buf.data(), frameBytes))
            break;
    const double t = seconds() - t0;
    close(in);
    return sent == frames ? frames / t : 0.0;
}

// The same encoder program, started by hand and fed from the file.
Figures encoderFromFile(const std::string& raw, int w, int h, int frames, const std::string& movie,
                        const std::string& log, const char* program)
{
    Figures f;
    StderrToFile capture(log);
    unlink(kPipe);
    pid_t pid = startEncoder(movie, w, h, program);
    mkfifo(kPipe, 0600);
    int fd = openWriter();
    if (fd >= 0) {
        f.writer = streamFile(fd, raw, size_t(w) * h * 4, frames);
        close(fd);
    }
    const double eos = seconds();
    int status = 0;
    waitpid(pid, &status, 0);
    f.tail = seconds() - eos;
    unlink(kPipe);
    f.encoder = capture.encoderFps();
    return f;
}

// The pipe alone: the same bytes to a child that reads and discards them.
double rawPipeLimit(const std::string& raw, int w, int h, int frames)
{
    int fds[2];
    if (pipe(fds) != 0)
        return 0;
    fcntl(fds[1], F_SETPIPE_SZ, kPipeBytes);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[1]);
        static char sink[1 << 20];
        while (read(fds[0], sink, sizeof sink) > 0) { }
        _exit(0);
    }
    close(fds[0]);
    const double fps = streamFile(fds[1], raw, size_t(w) * h * 4, frames);
    close(fds[1]);
    waitpid(pid, nullptr, 0);
    return fps;
}

// Draw (or not) and read back through a pack buffer as the stream does,
// without sending.
double drawAndReadBack(GLuint stimulus, int w, int h, int frames, bool draw = true)
{
    GLuint pbo = 0;
    glGenBuffers(1, &pbo);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, pbo);
    glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(w) * h * 4, nullptr, GL_STREAM_READ);
    unsigned sum = 0;
    const double t0 = seconds();
    drawFrame(stimulus, 0, w, h);
    for (int i = 0; i < frames; ++i) {
        if (draw)
            drawFrame(stimulus, i, w, h);
        glReadBuffer(GL_FRONT);
        glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        const unsigned char* p =
            static_cast<const unsigned char*>(glMapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY));
        if (p != nullptr)
            sum += p[size_t(i) % (size_t(w) * h * 4)];
        glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    }
    const double fps = frames / (seconds() - t0);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glDeleteBuffers(1, &pbo);
    return sum == 0xffffffffu ? 0 : fps;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string cpuModel()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

} // namespace

int main(int argc, char** argv)
{
    const int frames720 = argc > 1 ? std::atoi(argv[1]) : 150;
    const int frames1080 = argc > 2 ? std::atoi(argv[2]) : 90;
    const int reps = argc > 3 ? std::atoi(argv[3]) : 3;
    signal(SIGPIPE, SIG_IGN);

    qvtest::GlContext gl(1920, 1080);
    if (!gl.ok()) {
        std::fprintf(stderr, "no GL context: %s\n", gl.error().c_str());
        return 1;
    }
    gl.makeCurrent();
    const std::string encoder = std::string(QV_ENCODER_PATH);
    const char* preset = getenv("QUORVEX_ENCODER_PRESET");
    std::printf("machine: %ld cores, %s\n", sysconf(_SC_NPROCESSORS_ONLN), cpuModel().c_str());
    std::printf("renderer: %s | %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    std::printf("encoder: %s, .mp4 (libx264 preset %s), %d frames/s, medians of %d\n", encoder.c_str(),
                preset ? preset : "ultrafast (default)", kRate, reps);

    char dirTemplate[] = "/tmp/qv-bench-export-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const GLuint stimulus = makeStimulus();

    const int sizes[2][3] = {{1280, 720, frames720}, {1920, 1080, frames1080}};
    for (const auto& s : sizes) {
        const int w = s[0], h = s[1], n = s[2];
        const std::string raw = dir + "/frames.raw";
        if (!writeFrameFile(raw, stimulus, w, h, n)) {
            std::fprintf(stderr, "cannot write %s\n", raw.c_str());
            return 1;
        }
        std::vector<double> draw, expW, expE, fileW, fileE, pipeFps, tail, readOnly;
        long long movieBytes = 0;
        for (int r = 0; r < reps; ++r) {
            draw.push_back(drawAndReadBack(stimulus, w, h, n));
            auto scene = [&](int i) { drawFrame(stimulus, i, w, h); };
            Figures e = exportThroughLibrary(scene, w, h, n, dir + "/export.mp4", dir + "/export.log");
            expW.push_back(e.writer);
            expE.push_back(e.encoder);
            Figures f = encoderFromFile(raw, w, h, n, dir + "/file.mp4", dir + "/file.log", encoder.c_str());
            fileW.push_back(f.writer);
            fileE.push_back(f.encoder);
            tail.push_back(f.tail);
            struct stat st;
            movieBytes = stat((dir + "/file.mp4").c_str(), &st) == 0 ? st.st_size : 0;
            pipeFps.push_back(rawPipeLimit(raw, w, h, n));
            readOnly.push_back(drawAndReadBack(stimulus, w, h, n, false));
        }
        const double ew = median(expW), ee = median(expE), fw = median(fileW), fe = median(fileE);
        const double dr = median(draw);
        // With no core to spare, drawing and encoding take turns: the best an
        // export can do is one draw plus one encode per frame.
        const double serial = dr > 0 && fe > 0 ? 1.0 / (1.0 / dr + 1.0 / fe) : 0.0;
        std::printf("\n%d x %d, %d frames (%.1f MB each)\n", w, h, n, w * h * 4 / 1e6);
        std::printf("  draw + read back only            %8.1f frames/s\n", dr);
        std::printf("  export (StreamStub -> encoder)   %8.1f frames/s sent, %8.1f encoded\n", ew, ee);
        std::printf("  encoder fed from file            %8.1f frames/s sent, %8.1f encoded\n", fw, fe);
        std::printf("  read back only (frame unchanged) %8.1f frames/s\n", median(readOnly));
        std::printf("  raw pipe, reader discards        %8.1f frames/s\n", median(pipeFps));
        std::printf("  export / file-fed encoder        %8.2f sent, %.2f encoded (target >= 0.9)\n",
                    fw > 0 ? ew / fw : 0.0, fe > 0 ? ee / fe : 0.0);
        std::printf("  draw and encode in turn (model)  %8.1f frames/s; export / model %.2f\n", serial,
                    serial > 0 ? ee / serial : 0.0);
        std::printf("  end of stream to finished movie  %8.2f s (the export allows 3 s)\n", median(tail));
        std::printf("  movie size                       %8.1f kB per frame\n", movieBytes / 1e3 / n);
        unlink(raw.c_str());
    }
    std::string cleanup = "rm -rf '" + dir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
