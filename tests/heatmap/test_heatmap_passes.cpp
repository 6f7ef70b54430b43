// Draws in sequence against the CPU model (heatmap texture and canvas): shortcuts, scissored passes
// and the colour table, also under native.gl21's GLSL 1.20 (tolerance in HeatmapReference.h); a
// skipped draw gives exactly the previous pixels.
#include "heatmap/HeatmapReference.h"

#include <vector>

namespace {

using heatref::Cells;

struct Step {
    const char* what;
    bool update; // false: a draw with no update since the previous draw
    Cells cells;
};

const Cells kLowCorner{{5, 10, 150}};

// Each step draws; the second repeats the first's heat image.
const std::vector<Step> kSteps{
    {"a cell near the left edge and row 0: rows wrap to the top", true, kLowCorner},
    {"the same cell again (passes skipped)", true, kLowCorner},
    {"no update: empty", false, {}},
    {"no update again: still empty", false, {}},
    {"a cell near the right edge and row 511: rows wrap to the bottom", true, {{506, 505, 150}}},
    {"rows 5 and 480: the grown rows cover every row", true, {{256, 5, 200}, {256, 480, 200}}},
    {"one middle cell: one span of rows, no wrap", true, {{256, 256, 120}}},
    {"the first cell after other images is drawn anew", true, kLowCorner},
    {"all-zero records: empty", true, {{100, 100, 0}, {200, 300, 0}}},
    {"opposite corners", true, {{0, 0, 200}, {511, 511, 200}}},
    {"under the opacity ceiling", true, {{256, 256, 20}}},
    {"over 1: the colour table wraps", true, {{256, 256, 255}}},
    {"overlapping points add after the blur", true, {{240, 200, 90}, {262, 200, 90}}},
    {"edges: wraps vertically, stops horizontally", true, {{0, 0, 200}, {511, 40, 200}, {100, 511, 150}}},
};

} // namespace

using HeatmapPassesGl21 = heatref::SceneTest;

TEST_F(HeatmapPassesGl21, SequenceMatchesTheModel)
{
    std::vector<uint8_t> previousCanvas;
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.what);
        std::vector<heatref::Record> records;
        for (const auto& c : step.cells)
            records.push_back(heatref::Record{c[0], c[1], c[2], {}});
        if (step.update)
            scene_->updateHeatMapImage(records.data(), heatref::S, heatref::S, int(records.size()));
        glClear(GL_COLOR_BUFFER_BIT);
        scene_->drawHeatMap();
        expectModel(step.cells);
        const auto canvas = qvtest::readCanvas(heatref::S, heatref::S);
        if (&step == &kSteps[1]) {
            EXPECT_TRUE(canvas == previousCanvas) << "a skipped draw shows other pixels";
        }
        previousCanvas = canvas;
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
}
