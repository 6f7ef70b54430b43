// The heat layer of a render: weights gathered in stimulus pixels, drawn by
// the library's HeatmapScene. The scene blurs a 512 x 512 cell image with a
// Gaussian of 16 cells, so a sigma in pixels fixes the cell size (sigma / 16
// pixels) and a large picture is drawn as overlapping tiles of 512 cells.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class HeatmapScene;

namespace qvr {

class HeatLayer {
public:
    // Null when the scene's programs cannot be built in the current context.
    static std::unique_ptr<HeatLayer> create(int width, int height, double sigmaPx);
    ~HeatLayer();
    HeatLayer(const HeatLayer&) = delete;
    HeatLayer& operator=(const HeatLayer&) = delete;

    // Whether (x, y) in pixels lies on the picture.
    bool contains(double x, double y) const { return x >= 0 && y >= 0 && x < m_width && y < m_height; }
    // Adds `weight` at (x, y) in pixels; points off the picture are dropped.
    void add(double x, double y, double weight);

    // Blends the heat over the current frame buffer of width x height pixels,
    // drawn in y-down pixel matrices. The hottest place comes out red.
    void draw();

    // Cells per side of the scene's image and the rows and columns a tile
    // keeps: the kernel reaches 63 cells, so a tile's outer 63 are context.
    static constexpr int kSceneCells = 512;
    static constexpr int kKernelReach = 63;
    static constexpr int kTileInner = kSceneCells - 2 * kKernelReach;

private:
    HeatLayer() = default;
    // Weights as scene values: scaled so that the blurred peak shows red,
    // then error-diffused to whole numbers so the blur sees the same sums.
    void quantise();
    double blurredPeak() const;
    void drawTile(int tileX, int tileY);

    std::unique_ptr<HeatmapScene> m_scene;
    int m_width = 0, m_height = 0;
    double m_cellsPerPixel = 1.0;
    int m_cols = 0, m_rows = 0;
    std::vector<double> m_weights; // per cell
    std::vector<uint8_t> m_values; // per cell, what the scene gets
    // Bounding box of the cells with weight.
    int m_minCol = 0, m_maxCol = -1, m_minRow = 0, m_maxRow = -1;
};

} // namespace qvr
