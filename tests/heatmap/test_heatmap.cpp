// Heatmap scene: a non-square space, update semantics, a hostile caller state and a failed build
// (model comparisons as in test_heatmap_passes.cpp; GL objects of a deleted scene are in DrawState).
#include "heatmap/HeatmapReference.h"
#include "support/GlState.h"
#include "support/SyslogCapture.h"

#include "quorvex_viewer_OverlayView_GLDirectBuffer.h"

#include <jni.h>

#include <algorithm>

using heatref::Record;
using heatref::S;
using HeatmapTest = heatref::SceneTest;

namespace {
int nonZeroCells(const HeatmapScene& scene)
{
    return S * S - int(std::count(scene.heatMapImage.get(), scene.heatMapImage.get() + S * S, 0));
}
} // namespace

TEST_F(HeatmapTest, NonSquareSpaceFillsTheWideSide)
{
    // w = 1000, h = 500: scale 0.512, the last point lands in row 255, column 511.
    Record records[2] = {{999, 499, 200, {}}, {500, 250, 130, {}}};
    scene_->updateHeatMapImage(records, 1000, 500, 2);
    EXPECT_EQ(nonZeroCells(*scene_), 2);
    // The caller's space over the top half of the window: canvas pixel (x, y) shows texel (x, y).
    qvtest::canvasProjection(S, S / 2, 1000, 500);
    glViewport(0, S / 2, S, S / 2);
    scene_->drawHeatMap();
    // The quad samples only up to t = 0.5: rows 0..255.
    expectModel({{511, 255, 200}, {256, 128, 130}}, S / 2);
    const auto& bg = heatref::kBackground;
    EXPECT_PIXEL(*gl_, 256, S / 2 + 20, (qvtest::Rgba{bg[0], bg[1], bg[2], 255}), 0);
}

TEST_F(HeatmapTest, UpdatesWriteTheLowByteOfTheCountIntoCellsOfTheSpace)
{
    // The second value for a cell wins, modulo 256.
    for (const auto& v :
         {std::make_pair(77, 77), std::make_pair(300, 44), std::make_pair(256, 0), std::make_pair(-1, 255)}) {
        scene_->updateHeatMapValue(v.first, 10, 20, S, S);
        EXPECT_EQ(scene_->heatMapImage[20 * S + 10], v.second) << v.first;
    }
    // A record buffer replaces everything; records outside the space are skipped
    // ((1500, 10) would wrap into row 5 if only the cell index were checked);
    // the later record for a cell wins and fields past the count are not read.
    Record records[7] = {{-1, 5, 50, {}},  {5, -1, 50, {}},    {1000, 5, 50, {}},
                         {5, 500, 50, {}}, {1500, 10, 50, {}}, {0, 0, 0x1234, {}}};
    records[6] = {0, 0, 0x7705, {-1, -1, -1, -1, -1, -1, -1}};
    scene_->updateHeatMapImage(records, 1000, 500, 7);
    EXPECT_EQ(nonZeroCells(*scene_), 1);
    EXPECT_EQ(scene_->heatMapImage[0], 0x05);
    scene_->updateHeatMapValue(70, 2000, 1, 1000, 500);
    scene_->updateHeatMapValue(70, 1, 1, 0, 0);
    EXPECT_EQ(nonZeroCells(*scene_), 1);
    scene_->updateHeatMapImage(records, 640, 480, 0);
    EXPECT_EQ(nonZeroCells(*scene_), 0);
    EXPECT_EQ(scene_->m_heatmapW, 640);
    EXPECT_EQ(scene_->m_heatmapH, 480);
}

// A caller state far from GL's defaults, scissoring, culling and a depth test passing nothing must
// not change the heatmap (that the caller's state comes back is in DrawState).
TEST_F(HeatmapTest, PassesIgnoreTheCallersState)
{
    {
        // The caller's own image in the default 1D texture (name 0) of unit 1,
        // where the colouring pass binds the heat map's colour table.
        const std::vector<unsigned char> black(8 * 4, 0);
        glActiveTexture(GL_TEXTURE1);
        glBindTexture(GL_TEXTURE_1D, 0);
        glTexImage1D(GL_TEXTURE_1D, 0, GL_RGBA, 8, 0, GL_RGBA, GL_UNSIGNED_BYTE, black.data());
        glActiveTexture(GL_TEXTURE0);
        qvtest::CallerState caller;
        caller.apply();
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 8, 8);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_FRONT_AND_BACK);
        glDepthFunc(GL_NEVER);
        glMatrixMode(GL_TEXTURE);
        scene_->updateHeatMapValue(180, 300, 100, S, S);
        scene_->drawHeatMap();
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
    expectModel({{300, 100, 180}}, 0); // the heatmap itself is unaffected
}

TEST(HeatmapBuildFailure, UnbuildableProgramsGiveNoHandleAndLogTheCompiler)
{
    qvtest::GlContext context(64, 64);
    ASSERT_TRUE(context.ok()) << context.error();
    context.makeCurrent();
    qvtest::clearSyslog();
    // A swapped GLEW pointer hands the library broken source: the driver's compiler rejects it for real.
    static PFNGLSHADERSOURCEPROC real = nullptr;
    real = __glewShaderSource;
    __glewShaderSource = [](GLuint shader, GLsizei, const GLchar* const*, const GLint*) {
        const GLchar* text = "#version 120\nvoid main() { this is not glsl }\n";
        real(shader, 1, &text, nullptr);
    };
    const jlong handle =
        Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(nullptr, nullptr, 0, 0);
    __glewShaderSource = real;
    EXPECT_EQ(handle, 0);
    EXPECT_TRUE(qvtest::syslogContains("Compile failure in shader:"));
    EXPECT_TRUE(qvtest::syslogContains("could not be built"));
    EXPECT_EQ(qvtest::liveGlObjects(64), 0);
}
