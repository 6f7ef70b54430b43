#include "app/HeatLayer.h"

#include "heatmap/HeatmapScene.h"

#include <GL/glew.h>

#include <algorithm>
#include <cmath>

namespace qvr {

namespace {

// The scene's colour table reads red at 0.9: its value there is
// 9 x 16 x 16 / 255 times the Gaussian-weighted sum of cell values.
constexpr double kRedSum = 0.9 * 255.0 / (9.0 * 16.0 * 16.0);
// The peak is estimated on cells this many times coarser (sigma 4 there):
// a Gaussian's blurred peak survives block sums to within a few per cent.
constexpr int kCoarse = 4;

void blurLine(const double* in, double* out, int n, int stride, const std::vector<double>& kernel)
{
    const int reach = static_cast<int>(kernel.size()) - 1;
    for (int i = 0; i < n; ++i) {
        double sum = kernel[0] * in[i * stride];
        for (int k = 1; k <= reach; ++k) {
            if (i - k >= 0)
                sum += kernel[k] * in[(i - k) * stride];
            if (i + k < n)
                sum += kernel[k] * in[(i + k) * stride];
        }
        out[i * stride] = sum;
    }
}

} // namespace

std::unique_ptr<HeatLayer> HeatLayer::create(int width, int height, double sigmaPx)
{
    std::unique_ptr<HeatLayer> layer(new HeatLayer());
    layer->m_scene = std::make_unique<HeatmapScene>();
    if (layer->m_scene->m_init_successful != 1)
        return nullptr;
    layer->m_scene->initScene();
    layer->m_width = width;
    layer->m_height = height;
    layer->m_cellsPerPixel = 16.0 / sigmaPx;
    layer->m_cols = std::max(1, static_cast<int>(std::ceil(width * layer->m_cellsPerPixel)));
    layer->m_rows = std::max(1, static_cast<int>(std::ceil(height * layer->m_cellsPerPixel)));
    layer->m_weights.assign(static_cast<size_t>(layer->m_cols) * layer->m_rows, 0.0);
    layer->m_values.assign(layer->m_weights.size(), 0);
    return layer;
}

HeatLayer::~HeatLayer() = default;

void HeatLayer::add(double x, double y, double weight)
{
    if (!contains(x, y) || !(weight > 0) || !std::isfinite(weight))
        return;
    const int col = std::min(m_cols - 1, static_cast<int>(x * m_cellsPerPixel));
    const int row = std::min(m_rows - 1, static_cast<int>(y * m_cellsPerPixel));
    m_weights[static_cast<size_t>(row) * m_cols + col] += weight;
    if (m_maxCol < m_minCol) {
        m_minCol = m_maxCol = col;
        m_minRow = m_maxRow = row;
        return;
    }
    m_minCol = std::min(m_minCol, col);
    m_maxCol = std::max(m_maxCol, col);
    m_minRow = std::min(m_minRow, row);
    m_maxRow = std::max(m_maxRow, row);
}

double HeatLayer::blurredPeak() const
{
    // Block sums of the weighted box, with the kernel's reach around it.
    const int reach = 3 * 16 / kCoarse;
    const int col0 = m_minCol / kCoarse - reach, row0 = m_minRow / kCoarse - reach;
    const int cols = m_maxCol / kCoarse - col0 + reach + 1, rows = m_maxRow / kCoarse - row0 + reach + 1;
    std::vector<double> coarse(static_cast<size_t>(cols) * rows, 0.0), blurred(coarse.size());
    for (int r = m_minRow; r <= m_maxRow; ++r)
        for (int c = m_minCol; c <= m_maxCol; ++c)
            coarse[static_cast<size_t>(r / kCoarse - row0) * cols + (c / kCoarse - col0)] +=
                m_weights[static_cast<size_t>(r) * m_cols + c];
    const double sigma = 16.0 / kCoarse;
    std::vector<double> kernel(reach + 1);
    for (int k = 0; k <= reach; ++k)
        kernel[k] = std::exp(-k * k / (2 * sigma * sigma)) / std::sqrt(2 * M_PI * sigma * sigma);
    for (int r = 0; r < rows; ++r)
        blurLine(&coarse[static_cast<size_t>(r) * cols], &blurred[static_cast<size_t>(r) * cols], cols, 1,
                 kernel);
    for (int c = 0; c < cols; ++c)
        blurLine(&blurred[c], &coarse[c], rows, cols, kernel);
    // Per fine cell: a coarse cell holds kCoarse^2 of them.
    return *std::max_element(coarse.begin(), coarse.end()) / (kCoarse * kCoarse);
}

void HeatLayer::quantise()
{
    std::fill(m_values.begin(), m_values.end(), 0);
    const double peak = blurredPeak();
    if (!(peak > 0))
        return;
    const double scale = kRedSum / peak;
    // Floyd-Steinberg over the weighted box, serpentine; the error of the
    // box's last cells falls outside and is dropped.
    const int cols = m_maxCol - m_minCol + 1;
    std::vector<double> here(cols + 2, 0.0), below(cols + 2, 0.0);
    for (int r = m_minRow; r <= m_maxRow; ++r) {
        const bool rightward = ((r - m_minRow) & 1) == 0;
        for (int i = 0; i < cols; ++i) {
            const int j = rightward ? i : cols - 1 - i;
            const size_t cell = static_cast<size_t>(r) * m_cols + m_minCol + j;
            const double wanted = m_weights[cell] * scale + here[j + 1];
            const double value = std::clamp(std::round(wanted), 0.0, 255.0);
            m_values[cell] = static_cast<uint8_t>(value);
            const double error = wanted - value;
            const int ahead = rightward ? 1 : -1;
            here[j + 1 + ahead] += error * 7 / 16;
            below[j + 1 - ahead] += error * 3 / 16;
            below[j + 1] += error * 5 / 16;
            below[j + 1 + ahead] += error * 1 / 16;
        }
        here.swap(below);
        std::fill(below.begin(), below.end(), 0.0);
    }
}

void HeatLayer::drawTile(int tileX, int tileY)
{
    const int originCol = tileX * kTileInner - kKernelReach;
    const int originRow = tileY * kTileInner - kKernelReach;
    bool any = false;
    for (int y = 0; y < kSceneCells; ++y) {
        const int row = originRow + y;
        if (row < m_minRow || row > m_maxRow)
            continue;
        for (int x = 0; x < kSceneCells; ++x) {
            const int col = originCol + x;
            if (col < m_minCol || col > m_maxCol)
                continue;
            const uint8_t v = m_values[static_cast<size_t>(row) * m_cols + col];
            if (v != 0) {
                m_scene->updateHeatMapValue(v, x, y, kSceneCells, kSceneCells);
                any = true;
            }
        }
    }
    if (!any)
        return;
    const double pixelsPerCell = 1.0 / m_cellsPerPixel;
    const auto px = [&](int cell) { return static_cast<int>(std::lround(cell * pixelsPerCell)); };
    const int x0 = px(tileX * kTileInner), x1 = std::min(m_width, px((tileX + 1) * kTileInner));
    const int y0 = px(tileY * kTileInner), y1 = std::min(m_height, px((tileY + 1) * kTileInner));
    glScissor(x0, m_height - y1, x1 - x0, y1 - y0);
    glPushMatrix();
    glTranslated(originCol * pixelsPerCell, originRow * pixelsPerCell, 0.0);
    glScaled(pixelsPerCell, pixelsPerCell, 1.0);
    m_scene->drawHeatMap();
    glPopMatrix();
}

void HeatLayer::draw()
{
    if (m_maxCol < m_minCol)
        return;
    quantise();
    glEnable(GL_SCISSOR_TEST);
    glMatrixMode(GL_MODELVIEW);
    // A tile shows heat from cells up to the kernel's reach beyond it.
    const auto first = [](int cell) { return std::max(0, cell - kKernelReach) / kTileInner; };
    const auto last = [](int cell, int cells) {
        return std::min(cells - 1, cell + kKernelReach) / kTileInner;
    };
    for (int ty = first(m_minRow); ty <= last(m_maxRow, m_rows); ++ty)
        for (int tx = first(m_minCol); tx <= last(m_maxCol, m_cols); ++tx)
            drawTile(tx, ty);
    glDisable(GL_SCISSOR_TEST);
}

} // namespace qvr
