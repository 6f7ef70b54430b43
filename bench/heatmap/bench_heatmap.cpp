// Heatmap update + draw timed against two CPU baselines: the same
// accumulation and separable 127-tap blur in optimised C++, and per-record
// kernel stamping (97 x 97 Gaussian, +-3 sigma) as common analysis tools do.
// (The draw was measured once against the path it replaced, with read-backs
// compared pixel for pixel; the figures are in the README. Its pixels are the
// tests' business: tests/heatmap.)
#include "BenchMachine.h"
#include "heatmap/HeatmapScene.h"
#include "support/GlContext.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr int S = 512;
constexpr int kRecords = 100000;

struct Record {
    int32_t x, y, count, unused[7];
};

double medianMs(int runs, const std::function<void()>& f)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto a = std::chrono::steady_clock::now();
        f();
        const auto b = std::chrono::steady_clock::now();
        t.push_back(std::chrono::duration<double, std::milli>(b - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

double medianMs(std::vector<double> t)
{
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

float weight(int i) { return float(std::exp(-double(i) * i / 512.0) / std::sqrt(512.0 * M_PI)); }

void colourise(const std::vector<float>& v, std::vector<uint8_t>& rgba)
{
    static const float table[5][3] = {{0, 255, 0}, {0, 255, 0}, {255, 255, 0}, {255, 255, 0}, {255, 0, 0}};
    for (int i = 0; i < S * S; ++i) {
        const float u = v[i] * 5.f - 0.5f;
        const float fl = std::floor(u);
        const float f = u - fl;
        const int a = ((int(fl) % 5) + 5) % 5, b = (a + 1) % 5;
        for (int k = 0; k < 3; ++k)
            rgba[i * 4 + k] = uint8_t((1 - f) * table[a][k] + f * table[b][k]);
        rgba[i * 4 + 3] = uint8_t(std::clamp(v[i], 0.f, 0.8f) * 255.f);
    }
}

// The scene's chain on the CPU: byte image, vertical blur with wrap, horizontal blur inside the image, colour.
struct CpuSeparable {
    std::vector<uint8_t> heat = std::vector<uint8_t>(S * S);
    std::vector<float> in = std::vector<float>(S * S), mid = std::vector<float>(S * S),
                       out = std::vector<float>(S * S);
    std::vector<uint8_t> rgba = std::vector<uint8_t>(S * S * 4);
    float w[64];
    CpuSeparable()
    {
        for (int i = 0; i < 64; ++i)
            w[i] = weight(i) * 16.f;
    }
    void run(const std::vector<Record>& records)
    {
        std::fill(heat.begin(), heat.end(), 0);
        for (const Record& r : records)
            if (r.x >= 0 && r.x < S && r.y >= 0 && r.y < S)
                heat[r.y * S + r.x] = uint8_t(r.count);
        for (int i = 0; i < S * S; ++i)
            in[i] = heat[i] * (1.f / 255.f);
        // Row-wise accumulation keeps the inner loop contiguous and vectorised.
        for (int r = 0; r < S; ++r) {
            float* dst = &mid[r * S];
            const float* src0 = &in[r * S];
            for (int c = 0; c < S; ++c)
                dst[c] = w[0] * src0[c];
            for (int i = 1; i < 64; ++i) {
                const float* up = &in[((r + i) & (S - 1)) * S];
                const float* down = &in[((r - i) & (S - 1)) * S];
                for (int c = 0; c < S; ++c)
                    dst[c] += w[i] * (up[c] + down[c]);
            }
            for (int c = 0; c < S; ++c)
                dst[c] = std::min(dst[c], 1.f);
        }
        for (int r = 0; r < S; ++r) {
            const float* src = &mid[r * S];
            float* dst = &out[r * S];
            for (int c = 0; c < S; ++c)
                dst[c] = w[0] * src[c];
            for (int i = 1; i < 64; ++i) {
                for (int c = 0; c + i < S; ++c)
                    dst[c] += w[i] * src[c + i];
                for (int c = i; c < S; ++c)
                    dst[c] += w[i] * src[c - i];
            }
            for (int c = 0; c < S; ++c)
                dst[c] *= 9.f;
        }
        colourise(out, rgba);
    }
};

// Per-record stamping of a 97 x 97 Gaussian kernel (+-3 sigma) into a float grid.
struct CpuStamping {
    static constexpr int R = 48;
    std::vector<float> kernel = std::vector<float>((2 * R + 1) * (2 * R + 1));
    std::vector<float> grid = std::vector<float>(S * S);
    std::vector<uint8_t> rgba = std::vector<uint8_t>(S * S * 4);
    CpuStamping()
    {
        for (int y = -R; y <= R; ++y)
            for (int x = -R; x <= R; ++x)
                kernel[(y + R) * (2 * R + 1) + x + R] =
                    weight(std::abs(x)) * weight(std::abs(y)) * 256.f * 9.f;
    }
    void run(const std::vector<Record>& records)
    {
        std::fill(grid.begin(), grid.end(), 0.f);
        for (const Record& r : records) {
            const float value = (r.count & 0xff) / 255.f;
            const int y0 = std::max(0, r.y - R), y1 = std::min(S - 1, r.y + R);
            const int x0 = std::max(0, r.x - R), x1 = std::min(S - 1, r.x + R);
            for (int y = y0; y <= y1; ++y) {
                const float* k = &kernel[(y - r.y + R) * (2 * R + 1) + (x0 - r.x + R)];
                float* g = &grid[y * S + x0];
                for (int x = 0; x <= x1 - x0; ++x)
                    g[x] += value * k[x];
            }
        }
        colourise(grid, rgba);
    }
};

// 100,000 records spread over the whole 512 x 512 image.
std::vector<Record> randomRecords(unsigned seed, int n = kRecords)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pos(0, S - 1), count(1, 255);
    std::vector<Record> records(static_cast<size_t>(n));
    for (Record& r : records)
        r = Record{pos(rng), pos(rng), count(rng), {}};
    return records;
}

// A 16:9 recording (1920 x 1080): gaze samples scattered round fixations, which
// cluster in the middle of the screen as they do over a stimulus.
constexpr int kWide = 1920, kHigh = 1080;
std::vector<Record> clusteredRecords(unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> centreX(kWide / 2.f, kWide / 6.f), centreY(kHigh / 2.f, kHigh / 6.f),
        spread(0.f, 25.f);
    std::uniform_int_distribution<int> count(1, 255);
    std::vector<Record> records;
    records.reserve(kRecords);
    while (int(records.size()) < kRecords) {
        const float fx = centreX(rng), fy = centreY(rng);
        for (int k = 0; k < 250 && int(records.size()) < kRecords; ++k) {
            const int x = int(fx + spread(rng)), y = int(fy + spread(rng));
            if (x >= 0 && x < kWide && y >= 0 && y < kHigh)
                records.push_back(Record{x, y, count(rng), {}});
        }
    }
    return records;
}

// The same records in heat-image cells, for the CPU baseline.
std::vector<Record> inCells(const std::vector<Record>& records, int w, int h)
{
    const float scale = float(S) / float(std::max(w, h));
    std::vector<Record> cells(records);
    for (Record& r : cells) {
        r.x = int(float(r.x) * scale);
        r.y = int(float(r.y) * scale);
    }
    return cells;
}

} // namespace

int main()
{
    qvtest::GlContext gl(S, S);
    if (!gl.ok()) {
        std::fprintf(stderr, "no GL context: %s\n", gl.error().c_str());
        return 1;
    }
    gl.makeCurrent();
    gl.canvasProjection();
    // The scenes' progress lines go to stdout; the figures go to stderr.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        return 1;
    HeatmapScene scene;
    scene.initScene();
    if (!scene.m_init_successful) {
        std::fprintf(stderr, "heatmap programs not built\n");
        return 1;
    }
    std::fprintf(stderr, "machine: nproc %ld, %s\n", sysconf(_SC_NPROCESSORS_ONLN),
                 qvbench::cpuModel().c_str());
    std::fprintf(stderr, "GL renderer: %s | %s | GLSL %s\n",
                 reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                 reinterpret_cast<const char*>(glGetString(GL_VERSION)),
                 reinterpret_cast<const char*>(glGetString(GL_SHADING_LANGUAGE_VERSION)));

    std::fprintf(stderr, "zero-input colour measured by the scene: (%d, %d, %d, %d)\n", scene.zeroColour[0],
                 scene.zeroColour[1], scene.zeroColour[2], scene.zeroColour[3]);
    // Frames of update + draw; each case cycles through its record sets.
    struct Case {
        const char* name;
        std::vector<std::vector<Record>> sets;
        int w, h;
    };
    std::vector<Case> cases;
    cases.push_back({"(a) same 100,000 records every frame", {randomRecords(7)}, S, S});
    cases.push_back({"(b) all 100,000 records changed every frame",
                     {randomRecords(21), randomRecords(22), randomRecords(23), randomRecords(24)},
                     S,
                     S});
    cases.push_back({"(c) 16:9 clustered recording, changed every frame",
                     {clusteredRecords(31), clusteredRecords(32), clusteredRecords(33), clusteredRecords(34)},
                     kWide,
                     kHigh});
    std::fprintf(
        stderr,
        "records: %d, heat image %d x %d; update + draw in ms, medians over 4 rounds of runs of each "
        "(16 frames library, 16 CPU; glFinish around each)\n",
        kRecords, S, S);
    std::fprintf(stderr, "%-52s %9s %9s %11s\n", "case", "library", "CPU blur", "lib / CPU");
    CpuSeparable separable;
    for (const Case& c : cases) {
        size_t frame = 0;
        auto frameOf = [&](auto& target) {
            const auto& r = c.sets[frame++ % c.sets.size()];
            glFinish();
            target.updateHeatMapImage(r.data(), c.w, c.h, int(r.size()));
            target.drawHeatMap();
            glFinish();
        };
        frameOf(scene); // warm-up: llvmpipe compiles the programs at their first use
        std::vector<std::vector<Record>> cellSets;
        for (const auto& r : c.sets)
            cellSets.push_back(inCells(r, c.w, c.h));
        // Rounds of short runs of each, so that load from other processes falls
        // on both alike; the first frame of a run is not counted (it pays for
        // the other path's frames before it).
        std::vector<double> lib, cpuTimes;
        auto run = [&](std::vector<double>& into, int frames, const std::function<void()>& f) {
            f();
            for (int i = 0; i < frames; ++i)
                into.push_back(medianMs(1, f));
        };
        for (int round = 0; round < 4; ++round) {
            run(lib, 4, [&] { frameOf(scene); });
            run(cpuTimes, 4, [&] { separable.run(cellSets[frame++ % cellSets.size()]); });
        }
        const double library = medianMs(lib), cpu = medianMs(cpuTimes);
        std::fprintf(stderr, "%-52s %9.2f %9.2f %10.2fx\n", c.name, library, cpu, library / cpu);
    }
    CpuStamping stamping;
    const auto stamped = randomRecords(7);
    const double cpuStamping = medianMs(3, [&] { stamping.run(stamped); });
    std::fprintf(stderr, "CPU kernel stamping 97x97 of the (a) records: %9.2f ms\n", cpuStamping);
    return 0;
}
