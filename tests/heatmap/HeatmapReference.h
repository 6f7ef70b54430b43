// A CPU model of the heatmap's value chain, written from the behaviour the scene promises rather
// than from its code, and the comparison with it: heat image (bytes) -> vertical
// 127-tap Gaussian with wrap-around, stored in 8 bits -> horizontal 127-tap
// Gaussian that stays inside the image -> v = 9 * 16 * sum -> colour table
// (5 texels, linear filtering, repeat wrap) and alpha clamp(v, 0, 0.8).
// Tolerance: 3 levels of 255 per channel (float accumulation, filter precision).
#pragma once

#include "heatmap/HeatmapScene.h"
#include "support/GlContext.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace heatref {

constexpr int S = 512;
constexpr double kTol = 3.0;
const std::array<int, 3> kBackground{30, 60, 200};
using Cells = std::vector<std::array<int, 3>>; // x, y, value

struct Record { // one 40-byte record of the update buffer
    int32_t x, y, count, unused[7];
};
static_assert(sizeof(Record) == HeatmapScene::kRecordBytes, "a record is 40 bytes");

struct Texel {
    double r, g, b, a; // 0..255, unrounded
};

// The finished S x S heatmap of cells (row = heat row), before blending.
inline std::vector<Texel> heatmap(const Cells& cells)
{
    std::vector<uint8_t> heat(size_t(S) * S, 0);
    for (const auto& c : cells)
        heat[size_t(c[1]) * S + c[0]] = uint8_t(c[2]);
    double w[64]; // sigma 16
    for (int i = 0; i < 64; ++i)
        w[i] = std::exp(-double(i) * i / (2 * 16.0 * 16.0)) / std::sqrt(2 * M_PI * 16.0 * 16.0);
    std::vector<double> first(size_t(S) * S);
    for (int r = 0; r < S; ++r)
        for (int c = 0; c < S; ++c) {
            double sum = 0;
            for (int i = -63; i <= 63; ++i)
                sum += w[std::abs(i)] * heat[size_t(((r + i) % S + S) % S) * S + c] / 255.0;
            // renderTex keeps 8 bits per channel.
            first[size_t(r) * S + c] = std::min(255.0, std::round(sum * 16.0 * 255.0)) / 255.0;
        }
    static const double table[5][3] = {{0, 255, 0}, {0, 255, 0}, {255, 255, 0}, {255, 255, 0}, {255, 0, 0}};
    std::vector<Texel> out(size_t(S) * S);
    for (int r = 0; r < S; ++r)
        for (int c = 0; c < S; ++c) {
            double sum = 0;
            for (int i = -63; i <= 63; ++i)
                if (c + i >= 0 && c + i < S)
                    sum += w[std::abs(i)] * first[size_t(r) * S + c + i];
            const double v = 9.0 * 16.0 * sum, u = v * 5.0 - 0.5, f = u - std::floor(u);
            const int a = ((int(std::floor(u)) % 5) + 5) % 5, b = (a + 1) % 5;
            const auto mix = [&](int k) { return (1 - f) * table[a][k] + f * table[b][k]; };
            out[size_t(r) * S + c] = Texel{mix(0), mix(1), mix(2), std::clamp(v, 0.0, 0.8) * 255.0};
        }
    return out;
}

// A built scene on an S x S canvas cleared to kBackground.
class SceneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gl_ = std::make_unique<qvtest::GlContext>(S, S);
        ASSERT_TRUE(gl_->ok()) << gl_->error();
        gl_->makeCurrent();
        gl_->canvasProjection();
        glClearColor(kBackground[0] / 255.f, kBackground[1] / 255.f, kBackground[2] / 255.f, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        scene_ = std::make_unique<HeatmapScene>();
        ASSERT_EQ(scene_->m_init_successful, 1);
        scene_->initScene();
        ASSERT_NE(scene_->heatMapImage, nullptr);
    }
    // The model of cells against the heatmap texture, and against canvas rows 0..rows-1 blended
    // (src alpha, 1 - src alpha) from 8 bits over kBackground: the largest channel difference.
    void expectModel(const Cells& cells, int rows = S)
    {
        auto model = models_.find(cells); // repeated images computed once
        if (model == models_.end())
            model = models_.emplace(cells, heatmap(cells)).first;
        const std::vector<uint8_t> texture = qvtest::readTexture(scene_->intermediateTex, S, S);
        const std::vector<uint8_t> canvas = qvtest::readCanvas(S, S); // bottom row first
        for (const bool onCanvas : {false, true}) {
            std::pair<double, int> worst{0, 0};
            for (int y = 0; y < (onCanvas ? rows : S); ++y)
                for (int x = 0; x < S; ++x) {
                    const Texel& t = model->second[size_t(y) * S + x];
                    const uint8_t* p = onCanvas ? &canvas[(size_t(S - 1 - y) * S + x) * 4]
                                                : &texture[(size_t(y) * S + x) * 4];
                    std::array<double, 4> want{t.r, t.g, t.b, t.a};
                    if (onCanvas) { // the canvas's alpha is not the heatmap's
                        const double a = std::round(t.a) / 255.0;
                        for (int k = 0; k < 3; ++k)
                            want[k] = std::round(want[k]) * a + kBackground[k] * (1 - a);
                        want[3] = p[3];
                    }
                    for (int k = 0; k < 4; ++k)
                        if (std::fabs(p[k] - want[k]) > worst.first)
                            worst = {std::fabs(p[k] - want[k]), y * S + x};
                }
            EXPECT_LE(worst.first, kTol) << (onCanvas ? "canvas" : "texture") << " row " << worst.second / S
                                         << " col " << worst.second % S;
        }
    }

    std::unique_ptr<qvtest::GlContext> gl_;
    std::unique_ptr<HeatmapScene> scene_; // destroyed first, while the context lives
    std::map<Cells, std::vector<Texel>> models_;
};

} // namespace heatref
