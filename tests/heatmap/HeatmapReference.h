// A CPU model of the heatmap's value chain, written from the behaviour the scene promises rather
// than from its code, and the comparison with it: heat image (bytes) -> vertical
// 127-tap Gaussian with wrap-around, stored in 8 bits -> horizontal 127-tap
// Gaussian that stays inside the image -> v = 9 * 16 * sum -> colour table
// (5 texels, linear filtering, repeat wrap) and alpha clamp(v, 0, 0.8).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace heatref {

constexpr int S = 512;

struct Record { // one 40-byte record of the update buffer
    int32_t x, y, count, unused[7];
};

struct Texel {
    double r, g, b, a; // 0..255, unrounded
};

inline double weight(int i)
{
    const double sigma = 16.0;
    return std::exp(-double(i) * i / (2 * sigma * sigma)) / std::sqrt(2 * M_PI * sigma * sigma);
}

// Colour of the one-dimensional table at coordinate v, 0..255 per channel.
inline std::array<double, 3> tableColour(double v)
{
    static const double table[5][3] = {{0, 255, 0}, {0, 255, 0}, {255, 255, 0}, {255, 255, 0}, {255, 0, 0}};
    const double u = v * 5.0 - 0.5;
    const double i0 = std::floor(u);
    const double f = u - i0;
    const int a = ((int(i0) % 5) + 5) % 5;
    const int b = (a + 1) % 5;
    return {(1 - f) * table[a][0] + f * table[b][0], (1 - f) * table[a][1] + f * table[b][1],
            (1 - f) * table[a][2] + f * table[b][2]};
}

// The finished S x S heatmap (row = heat row), before blending.
inline std::vector<Texel> heatmap(const std::vector<uint8_t>& heat)
{
    double w[64];
    for (int i = 0; i < 64; ++i)
        w[i] = weight(i);
    std::vector<double> first(size_t(S) * S);
    for (int r = 0; r < S; ++r)
        for (int c = 0; c < S; ++c) {
            double sum = 0;
            for (int i = -63; i <= 63; ++i)
                sum += w[std::abs(i)] * heat[size_t(((r + i) % S + S) % S) * S + c] / 255.0;
            // renderTex keeps 8 bits per channel.
            first[size_t(r) * S + c] = std::min(255.0, std::round(sum * 16.0 * 255.0)) / 255.0;
        }
    std::vector<Texel> out(size_t(S) * S);
    for (int r = 0; r < S; ++r)
        for (int c = 0; c < S; ++c) {
            double sum = 0;
            for (int i = -63; i <= 63; ++i)
                if (c + i >= 0 && c + i < S)
                    sum += w[std::abs(i)] * first[size_t(r) * S + c + i];
            const double v = 9.0 * 16.0 * sum;
            const auto rgb = tableColour(v);
            out[size_t(r) * S + c] = Texel{rgb[0], rgb[1], rgb[2], std::clamp(v, 0.0, 0.8) * 255.0};
        }
    return out;
}

// An 8-bit texel of the finished heatmap blended (src alpha, 1 - src alpha) over an opaque background.
inline std::array<double, 3> blended(const Texel& t, const std::array<int, 3>& background)
{
    const double r = std::round(t.r), g = std::round(t.g), b = std::round(t.b), a = std::round(t.a) / 255.0;
    return {r * a + background[0] * (1 - a), g * a + background[1] * (1 - a),
            b * a + background[2] * (1 - a)};
}

// The heat image of cells (x, y, value) in the S x S space.
inline std::vector<uint8_t> heatOf(const std::vector<std::array<int, 3>>& cells)
{
    std::vector<uint8_t> heat(size_t(S) * S, 0);
    for (const auto& c : cells)
        heat[size_t(c[1]) * S + c[0]] = uint8_t(c[2]);
    return heat;
}

// The largest channel difference from the model over rows 0..rows-1, and its texel index: of RGBA
// pixels of the heatmap texture or, given a background, of the canvas (bottom row first) showing it.
inline std::pair<double, int> worstError(const std::vector<uint8_t>& px, const std::vector<Texel>& ref,
                                         int rows = S, const std::array<int, 3>* background = nullptr)
{
    std::pair<double, int> worst{0, 0};
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < S; ++x) {
            const Texel& t = ref[size_t(y) * S + x];
            const uint8_t* p = &px[(size_t(background ? S - 1 - y : y) * S + x) * 4];
            std::array<double, 4> want{t.r, t.g, t.b, t.a};
            if (background != nullptr) {
                const auto b = blended(t, *background);
                want = {b[0], b[1], b[2], double(p[3])}; // the canvas's alpha is not the heatmap's
            }
            for (int k = 0; k < 4; ++k)
                if (std::fabs(p[k] - want[k]) > worst.first)
                    worst = {std::fabs(p[k] - want[k]), y * S + x};
        }
    return worst;
}

} // namespace heatref
