// Timings of the stimulus-image paths against baselines measured in the same
// run: each figure is the median of repeated runs, glFinish() around each.
#include "gl/GLCache.h"
#include "gl/ImageFile.h"
#include "gl/ImageRows.h"
#include "gl/TextureManager.h"
#include "gl/glTexture.h"
#include "support/GlContext.h"

#include <FreeImage.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

double medianMs(int runs, const std::function<void()>& setup, const std::function<void()>& timed)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        setup();
        glFinish();
        const auto t0 = std::chrono::steady_clock::now();
        timed();
        glFinish();
        const auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void nothing() { }

struct Pair {
    double a, b;
};

// A and B alternate run by run, so load from other processes on the machine
// falls on both alike.
Pair pairedMs(int runs, const std::function<void()>& setupA, const std::function<void()>& a,
              const std::function<void()>& setupB, const std::function<void()>& b)
{
    std::vector<double> as, bs;
    for (int i = 0; i < runs; ++i) {
        as.push_back(medianMs(1, setupA, a));
        bs.push_back(medianMs(1, setupB, b));
    }
    std::sort(as.begin(), as.end());
    std::sort(bs.begin(), bs.end());
    return Pair{as[as.size() / 2], bs[bs.size() / 2]};
}

// Fills one 24-bit row (B, G, R per pixel) of row y.
using RowFill = std::function<void(BYTE* line, int w, int y)>;

// The stimulus pattern: periodic ramps, which PNG packs into a small file.
void patternRow(BYTE* line, int w, int y)
{
    for (int x = 0; x < w; ++x) {
        line[3 * x + 0] = static_cast<BYTE>((x * 7 + y) & 0xff);
        line[3 * x + 1] = static_cast<BYTE>((y * 3) & 0xff);
        line[3 * x + 2] = static_cast<BYTE>(((x ^ y) * 5) & 0xff);
    }
}

bool writeImage(const std::string& path, FREE_IMAGE_FORMAT fif, int w, int h,
                const RowFill& fill = patternRow)
{
    FIBITMAP* dib = FreeImage_Allocate(w, h, 24);
    if (dib == nullptr)
        return false;
    for (int y = 0; y < h; ++y)
        fill(FreeImage_GetScanLine(dib, y), w, y);
    const bool ok = FreeImage_Save(fif, dib, path.c_str(), 0) != 0;
    FreeImage_Unload(dib);
    return ok;
}

BYTE clampByte(int v) { return static_cast<BYTE>(std::clamp(v, 0, 255)); }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Wall time and the process's CPU time (all threads, llvmpipe's included): on
// a machine shared with other work the wall time stretches with the load, the
// CPU time much less.
void timeBoth(std::vector<double>& wall, std::vector<double>& cpu, const std::function<void()>& timed)
{
    glFinish();
    const double c0 = cpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    timed();
    glFinish();
    wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    cpu.push_back(cpuMs() - c0);
}

// The same row-by-row decode the tall-image load does, into one reused row.
struct OneRow : qv::RgbaRowSink {
    std::vector<unsigned char> buffer;
    unsigned char* row(uint32_t) override { return buffer.data(); }
    bool rowDone(uint32_t) override { return true; }
};
void decodeAlone(const char* path)
{
    FilePtr file = openRegularFile("bench", path);
    qv::ImageHeader header;
    if (!file || qv::probeImage(file.get(), fileSizeOf(file.get()), 1ull << 28, header) != nullptr)
        return;
    OneRow sink;
    sink.buffer.resize(static_cast<size_t>(header.width) * 4);
    qv::decodeRgbaRows(file.get(), header, sink);
}

long fileBytes(const std::string& path)
{
    struct stat st { };
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

void bareQuad(GLuint id, float w, float h)
{
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, id);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0), glVertex2f(0, h);
    glTexCoord2f(1, 0), glVertex2f(w, h);
    glTexCoord2f(1, 1), glVertex2f(w, 0);
    glTexCoord2f(0, 1), glVertex2f(0, 0);
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

void ratio(const char* what, double ms, const char* base, double baseMs)
{
    printf("%-46s %9.3f ms   %-40s %9.3f ms   ratio %.3f\n", what, ms, base, baseMs, ms / baseMs);
}

} // namespace

int main()
{
    qvtest::GlContext gl(1920, 1080);
    if (!gl.ok()) {
        fprintf(stderr, "no GL context: %s\n", gl.error().c_str());
        return 1;
    }
    gl.canvasProjection();
    printf("GL renderer: %s | GL version: %s\n", glGetString(GL_RENDERER), glGetString(GL_VERSION));
    char dir[] = "/tmp/qvbenchXXXXXX";
    if (mkdtemp(dir) == nullptr)
        return 1;
    const std::string stimulus = std::string(dir) + "/stimulus.png";
    const std::string page = std::string(dir) + "/page.png";
    if (!writeImage(stimulus, FIF_PNG, 1920, 1080) || !writeImage(page, FIF_PNG, 1280, 30000))
        return 1;
    TextureManager* tm = TextureManager::getInstance();
    char* name = const_cast<char*>(stimulus.c_str());

    // 1. Cached draw versus a bare textured quad of the same texture.
    const GLuint id = static_cast<GLuint>(tm->getTexture(name));
    const int frames = 20;
    auto draws = [&](const std::function<void()>& one) {
        return [&, one] {
            for (int i = 0; i < frames; ++i)
                one();
        };
    };
    medianMs(3, nothing, draws([&] { tm->drawPlainTexture(name, 0, 0, 1920, 1080, false); })); // warm-up
    const Pair drawn =
        pairedMs(15, nothing, draws([&] { tm->drawPlainTexture(name, 0, 0, 1920, 1080, false); }), nothing,
                 draws([&] { bareQuad(id, 1920, 1080); }));
    ratio("DrawTexture 1920x1080, cached (per draw)", drawn.a / frames, "bare textured quad",
          drawn.b / frames);

    // 2. First load versus FreeImage's decode of the file alone.
    auto firstLoad = [&] { tm->LoadTexture(name, false); };
    auto evict = [&] { tm->UnloadAllTextures(); };
    const Pair loaded = pairedMs(11, evict, firstLoad, nothing, [&] {
        FIBITMAP* dib = FreeImage_Load(FIF_PNG, stimulus.c_str(), 0);
        FreeImage_Unload(dib);
    });
    const double load = loaded.a;
    ratio("first load 1920x1080 PNG", load, "FreeImage_Load alone", loaded.b);
    // Where the difference goes: the same decode plus a bare upload in the same formats.
    const Pair withUpload = pairedMs(11, evict, firstLoad, nothing, [&] {
        FIBITMAP* dib = FreeImage_Load(FIF_PNG, stimulus.c_str(), 0);
        GLuint t = 0;
        glGenTextures(1, &t);
        glBindTexture(GL_TEXTURE_2D, t);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1920, 1080, 0, GL_BGR, GL_UNSIGNED_BYTE,
                     FreeImage_GetBits(dib));
        glFinish();
        glDeleteTextures(1, &t);
        FreeImage_Unload(dib);
    });
    ratio("first load 1920x1080 PNG", withUpload.a, "FreeImage_Load + bare glTexImage2D", withUpload.b);

    // 3. A 1280 x 30000 page: load (row-by-row decode + bands) against the
    // decode alone, for contents PNG packs very differently (the decode time
    // follows the compressed content, not the pixel count), then the per-frame draw.
    std::mt19937 random(7);
    const struct {
        const char* name;
        RowFill fill;
    } pages[] = {
        {"flat white", [](BYTE* line, int w, int) { std::fill(line, line + 3 * w, BYTE(255)); }},
        {"stimulus pattern", patternRow},
        {"random noise",
         [&](BYTE* line, int w, int) {
             for (int i = 0; i < 3 * w; ++i)
                 line[i] = static_cast<BYTE>(random() >> 24);
         }},
        // Smooth gradients with a little noise, like photographs on a page:
        // PNG keeps about half the bytes, all as Huffman-coded literals.
        {"photo-like",
         [&](BYTE* line, int w, int y) {
             for (int x = 0; x < w; ++x) {
                 const int n = static_cast<int>(random() >> 28) - 8;
                 line[3 * x + 0] =
                     clampByte(128 + static_cast<int>(100 * std::sin(x * 0.01 + y * 0.003)) + n);
                 line[3 * x + 1] = clampByte((y / 8) % 256 + n);
                 line[3 * x + 2] = clampByte(x / 5 + n);
             }
         }},
    };
    // Warm-up: the first bands allocated in a process pay page faults that later
    // loads (whose bands reuse freed memory) do not.
    tm->drawWebPageTexture(page.c_str(), 0, 0, 1280, 30000);
    for (const auto& kind : pages) {
        const std::string path = std::string(dir) + "/page-kind.png";
        if (!writeImage(path, FIF_PNG, 1280, 30000, kind.fill))
            return 1;
        std::vector<double> wall[2], cpu[2];
        for (int i = 0; i < 3; ++i) {
            tm->clearLargeTexture();
            timeBoth(wall[0], cpu[0], [&] { tm->drawWebPageTexture(path.c_str(), 0, 0, 1280, 30000); });
            timeBoth(wall[1], cpu[1], [&] { decodeAlone(path.c_str()); });
        }
        tm->clearLargeTexture();
        const std::string what = std::string("DrawWebPageTexture 1280x30000 load, ") + kind.name;
        ratio(what.c_str(), median(wall[0]), "decode alone", median(wall[1]));
        printf("    PNG of %.1f MB; process CPU time: load %.1f ms, decode alone %.1f ms, ratio %.3f\n",
               fileBytes(path) / 1e6, median(cpu[0]), median(cpu[1]), median(cpu[0]) / median(cpu[1]));
    }
    tm->drawWebPageTexture(page.c_str(), 0, 0, 1280, 30000);
    const double pageDraw =
        medianMs(15, nothing, [&] { tm->drawWebPageTexture(page.c_str(), 0, -5000, 1280, 30000); });
    printf("DrawWebPageTexture 1280x30000: per frame %.3f ms (%zu bands)\n", pageDraw,
           tm->mega_texture_list.empty() ? size_t(0) : tm->mega_texture_list[0]->m_tex_list.size());
    tm->clearLargeTexture();

    // 4. saveBuffer versus glReadPixels into client memory plus the same save.
    GLCache cache;
    std::vector<unsigned char> client(1920 * 1080 * 4);
    for (const char* ext : {"bmp", "png"}) {
        const std::string out = std::string(dir) + "/view." + ext;
        tm->drawPlainTexture(name, 0, 0, 1920, 1080, false);
        cache.saveAsImage(out); // sizes the buffer
        const Pair saved = pairedMs(
            9, nothing, [&] { cache.saveAsImage(out); }, nothing,
            [&] {
                glPixelStorei(GL_PACK_ALIGNMENT, 4);
                glReadPixels(0, 0, 1920, 1080, GL_BGRA, GL_UNSIGNED_BYTE, client.data());
                tm->saveImage(1920, 1080, client.data(), out);
            });
        const std::string what = std::string("saveBuffer 1920x1080 (.") + ext + ")";
        ratio(what.c_str(), saved.a, "glReadPixels to memory + same save", saved.b);
    }
    tm->UnloadAllTextures();
    const std::string rm = std::string("rm -rf ") + dir;
    return std::system(rm.c_str()) == 0 ? 0 : 1;
}
