// The heatmap draw's shortcuts against the CPU model: a heat image equal to
// the one the kept result was made from skips the passes, an all-zero one
// clears the result, and the passes are scissored to the rows and columns heat
// can reach (rows wrap round the top and bottom; that the caller's scissor state
// survives is in DrawState). One sequence of draws, each
// checked over the whole finished heatmap; under native.gl21 (GLSL 1.20) the
// same sequence runs through the texture2D sums instead of texelFetch.
//
// Tolerance: kTol = 3 levels of 255 per channel against the model, as in
// test_heatmap.cpp; a skipped draw must give exactly the previous pixels.
#include "heatmap/HeatmapReference.h"
#include "heatmap/HeatmapScene.h"
#include "support/GlContext.h"

#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int S = heatref::S;
constexpr double kTol = 3.0;

struct Record {
    int32_t x, y, count, unused[7];
};

struct Cell {
    int x, y, count;
};

struct Step {
    const char* what;
    bool update; // false: a draw with no update since the previous draw
    std::vector<Cell> cells;
};

const std::vector<Cell> kLowCorner{{5, 10, 150}}; // near the left edge and row 0: rows wrap to the top

// Each step draws; the second repeats the first's heat image.
const std::vector<Step> kSteps{
    {"a cell near the left edge and row 0", true, kLowCorner},
    {"the same cell again (passes skipped)", true, kLowCorner},
    {"no update: empty", false, {}},
    {"no update again: still empty", false, {}},
    {"a cell near the right edge and row 511: rows wrap to the bottom", true, {{506, 505, 150}}},
    {"rows 5 and 480: the grown rows cover every row", true, {{256, 5, 200}, {256, 480, 200}}},
    {"one middle cell: one span of rows, no wrap", true, {{256, 256, 120}}},
    {"the first cell after other images is drawn anew", true, kLowCorner},
    {"all-zero records: empty", true, {{100, 100, 0}, {200, 300, 0}}},
    {"opposite corners", true, {{0, 0, 200}, {511, 511, 200}}},
};

// The largest channel difference from the model, and where.
double worstAgainstModel(const std::vector<uint8_t>& gpu, const std::vector<heatref::Texel>& ref, int* at)
{
    double worst = 0;
    for (int i = 0; i < S * S; ++i) {
        const double d[4] = {gpu[i * 4] - ref[i].r, gpu[i * 4 + 1] - ref[i].g, gpu[i * 4 + 2] - ref[i].b,
                             gpu[i * 4 + 3] - ref[i].a};
        for (double e : d)
            if (std::fabs(e) > worst) {
                worst = std::fabs(e);
                *at = i;
            }
    }
    return worst;
}

void runSequence()
{
    qvtest::GlContext gl(S, S);
    ASSERT_TRUE(gl.ok()) << gl.error();
    gl.makeCurrent();
    gl.canvasProjection();
    HeatmapScene scene;
    ASSERT_EQ(scene.m_init_successful, 1);
    scene.initScene();

    std::map<std::string, std::vector<heatref::Texel>> models; // repeated images computed once
    std::vector<uint8_t> previousCanvas;
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.what);
        std::vector<uint8_t> heat(size_t(S) * S, 0);
        std::vector<Record> records;
        std::string key;
        for (const Cell& c : step.cells) {
            records.push_back(Record{c.x, c.y, c.count, {}});
            heat[size_t(c.y) * S + c.x] = uint8_t(c.count);
            key += std::to_string(c.x) + "," + std::to_string(c.y) + "," + std::to_string(c.count) + ";";
        }
        if (step.update)
            scene.updateHeatMapImage(records.data(), S, S, int(records.size()));
        glClearColor(0.1f, 0.2f, 0.7f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        scene.drawHeatMap();

        auto model = models.find(key);
        if (model == models.end())
            model = models.emplace(key, heatref::heatmap(heat)).first;
        int at = 0;
        EXPECT_LE(worstAgainstModel(qvtest::readTexture(scene.intermediateTex, S, S), model->second, &at),
                  kTol)
            << "row " << at / S << " col " << at % S;
        const auto canvas = qvtest::readCanvas(S, S);
        if (&step == &kSteps[1]) {
            EXPECT_TRUE(canvas == previousCanvas) << "a skipped draw shows other pixels";
        }
        previousCanvas = canvas;

        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
}

} // namespace

TEST(HeatmapPasses, SkipsClearsAndScissorsMatchTheModel) { runSequence(); }

// native.gl21 runs this one with GL 2.1 and GLSL 1.20: no texelFetch there.
TEST(HeatmapPassesGl21, SkipsClearsAndScissorsMatchTheModel)
{
    const char* glsl = std::getenv("MESA_GLSL_VERSION_OVERRIDE");
    if (glsl == nullptr || std::string(glsl) != "120")
        GTEST_SKIP() << "runs under native.gl21 (MESA_GLSL_VERSION_OVERRIDE=120)";
    runSequence();
}
