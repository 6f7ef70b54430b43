// Heatmap cost: the GPU scene (update from records + one draw, and draw only)
// against two CPU baselines measured in the same run: the same accumulation
// and separable 127-tap blur in optimised C++, and per-record kernel stamping
// (97 x 97 Gaussian, +-3 sigma) as common analysis tools do.
#include "heatmap/HeatmapScene.h"
#include "support/GlContext.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
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

float weight(int i)
{
    return float(std::exp(-double(i) * i / 512.0) / std::sqrt(512.0 * M_PI));
}

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
    std::vector<float> in = std::vector<float>(S * S), mid = std::vector<float>(S * S), out = std::vector<float>(S * S);
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
                kernel[(y + R) * (2 * R + 1) + x + R] = weight(std::abs(x)) * weight(std::abs(y)) * 256.f * 9.f;
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
    // The scene's progress lines go to stdout; the figures go to stderr.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        return 1;
    HeatmapScene scene;
    scene.initScene();

    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pos(0, S - 1), count(1, 255);
    std::vector<Record> records(kRecords);
    for (Record& r : records)
        r = Record{pos(rng), pos(rng), count(rng), {}};

    // Warm up: llvmpipe compiles the fragment programs at the first draw.
    scene.updateHeatMapImage(records.data(), S, S, kRecords);
    scene.drawHeatMap();
    glFinish();

    const double gpuUpdateDraw = medianMs(9, [&] {
        glFinish();
        scene.updateHeatMapImage(records.data(), S, S, kRecords);
        scene.drawHeatMap();
        glFinish();
    });
    const double gpuDraw = medianMs(15, [&] {
        glFinish();
        scene.drawHeatMap();
        glFinish();
    });
    CpuSeparable separable;
    const double cpuSeparable = medianMs(9, [&] { separable.run(records); });
    CpuStamping stamping;
    const double cpuStamping = medianMs(3, [&] { stamping.run(records); });

    std::fprintf(stderr, "GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::fprintf(stderr, "records: %d, heat image %d x %d, medians in ms\n", kRecords, S, S);
    std::fprintf(stderr, "GPU update + draw:          %9.2f\n", gpuUpdateDraw);
    std::fprintf(stderr, "GPU draw only:              %9.2f\n", gpuDraw);
    std::fprintf(stderr, "CPU separable 127-tap:      %9.2f  (GPU is %.2fx as fast)\n", cpuSeparable,
                 cpuSeparable / gpuUpdateDraw);
    std::fprintf(stderr, "CPU kernel stamping 97x97:  %9.2f  (GPU is %.1fx as fast)\n", cpuStamping,
                 cpuStamping / gpuUpdateDraw);
    return 0;
}
