// Heatmap scene on a real GL context: the GPU result against a CPU model of
// the value chain, update semantics, the caller's state, and a failed build
// (the GL objects of a deleted scene are counted in DrawState).
//
// Tolerance: the read-back heatmap and the blended canvas must agree with the
// CPU model within kTol = 3 levels of 255 per channel. The model rounds where
// the GPU stores 8 bits (renderTex, the finished heatmap, the canvas); what is
// left is float accumulation and the driver's texture-filter precision.
#include "heatmap/HeatmapScene.h"
#include "support/GlState.h"
#include "support/SyslogCapture.h"

#include <jni.h>
#include "heatmap/HeatmapReference.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" jlong Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(JNIEnv*, jclass, jint,
                                                                                    jint);

namespace {

constexpr int S = heatref::S;
constexpr double kTol = 3.0;
const std::array<int, 3> kBackground{30, 60, 200};

struct Record {
    int32_t x, y, count, unused[7];
};
static_assert(sizeof(Record) == HeatmapScene::kRecordBytes, "a record is 40 bytes");

// The largest channel difference from the model, and where: of the heatmap
// texture (RGBA), or of canvas rows 0..rows-1 (texture 0) holding the model
// blended over the background (RGB).
std::pair<double, int> worstError(const std::vector<heatref::Texel>& ref, GLuint texture, int rows)
{
    std::vector<uint8_t> px(size_t(S) * S * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (texture != 0) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        glBindTexture(GL_TEXTURE_2D, 0);
    } else {
        glReadPixels(0, 0, S, S, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    }
    std::pair<double, int> worst{0, 0};
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < S; ++x) {
            const heatref::Texel& t = ref[size_t(y) * S + x];
            const auto b = heatref::blended(t, kBackground);
            const uint8_t* p = &px[(size_t(texture != 0 ? y : S - 1 - y) * S + x) * 4];
            const double want[4] = {texture ? t.r : b[0], texture ? t.g : b[1], texture ? t.b : b[2], t.a};
            for (int k = 0; k < (texture != 0 ? 4 : 3); ++k)
                if (std::fabs(p[k] - want[k]) > worst.first)
                    worst = {std::fabs(p[k] - want[k]), y * S + x};
        }
    return worst;
}

class HeatmapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gl_ = std::make_unique<qvtest::GlContext>(S, S);
        ASSERT_TRUE(gl_->ok()) << gl_->error();
        gl_->makeCurrent();
        canvas();
        scene_ = std::make_unique<HeatmapScene>();
        ASSERT_EQ(scene_->m_init_successful, 1);
        scene_->initScene();
        ASSERT_NE(scene_->heatMapImage, nullptr);
        qvtest::clearSyslog();
    }
    void TearDown() override
    {
        scene_.reset();
        gl_.reset();
    }
    // The viewer's canvas over the whole window, cleared to the background.
    void canvas()
    {
        gl_->canvasProjection();
        glClearColor(kBackground[0] / 255.f, kBackground[1] / 255.f, kBackground[2] / 255.f, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    // The model of cells (x, y, value in a S x S space) against the heatmap
    // texture and the canvas rows 0..rows-1.
    void expectModel(const std::vector<std::array<int, 3>>& cells, int rows = S)
    {
        std::vector<uint8_t> heat(size_t(S) * S, 0);
        for (const auto& c : cells)
            heat[size_t(c[1]) * S + c[0]] = uint8_t(c[2]);
        const auto ref = heatref::heatmap(heat);
        for (GLuint texture : {scene_->intermediateTex, 0u}) {
            const auto worst = worstError(ref, texture, texture != 0 ? S : rows);
            EXPECT_LE(worst.first, kTol) << (texture ? "heatmap" : "canvas") << " row " << worst.second / S
                                         << " col " << worst.second % S;
        }
    }
    int nonZeroCells() const
    {
        int n = 0;
        for (int i = 0; i < S * S; ++i)
            n += scene_->heatMapImage[i] != 0;
        return n;
    }

    std::unique_ptr<qvtest::GlContext> gl_;
    std::unique_ptr<HeatmapScene> scene_;
};

} // namespace

TEST_F(HeatmapTest, GpuResultMatchesTheModel)
{
    // 20 stays under the opacity ceiling, 120 reaches it, 255 wraps the colour
    // table (v > 1); overlapping points add after the blur; vertically the blur
    // wraps (row 0 bleeds into row 511), horizontally it stops at the edge.
    const std::vector<std::vector<std::array<int, 3>>> cases = {
        {{256, 256, 20}},
        {{256, 256, 120}},
        {{256, 256, 255}},
        {{240, 200, 90}, {262, 200, 90}},
        {{0, 0, 200}, {511, 40, 200}, {100, 511, 150}}};
    for (const auto& cells : cases) {
        SCOPED_TRACE(cells.size() * 1000 + cells[0][2]);
        canvas();
        for (const auto& c : cells)
            scene_->updateHeatMapValue(c[2], c[0], c[1], S, S);
        scene_->drawHeatMap();
        expectModel(cells);
    }
}

TEST_F(HeatmapTest, NonSquareSpaceFillsTheWideSide)
{
    // w = 1000, h = 500: scale 0.512, the last point lands in row 255, column 511.
    Record records[2] = {{999, 499, 200, {}}, {500, 250, 130, {}}};
    scene_->updateHeatMapImage(records, 1000, 500, 2);
    EXPECT_EQ(nonZeroCells(), 2);
    // The caller's space over the top half of the window: canvas pixel (x, y) shows texel (x, y).
    glViewport(0, S / 2, S, S / 2);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1000, 500, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    scene_->drawHeatMap();
    expectModel({{511, 255, 200}, {256, 128, 130}},
                S / 2); // the quad samples only up to t = 0.5: rows 0..255
    EXPECT_PIXEL(*gl_, 256, S / 2 + 20, (qvtest::Rgba{kBackground[0], kBackground[1], kBackground[2], 255}),
                 0);
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
    Record records[] = {{-1, 5, 50, {}},
                        {5, -1, 50, {}},
                        {1000, 5, 50, {}},
                        {5, 500, 50, {}},
                        {1500, 10, 50, {}},
                        {0, 0, 0x1234, {}},
                        {0, 0, 0x7705, {-1, -1, -1, -1, -1, -1, -1}}};
    scene_->updateHeatMapImage(records, 1000, 500, 7);
    EXPECT_EQ(nonZeroCells(), 1);
    EXPECT_EQ(scene_->heatMapImage[0], 0x05);
    scene_->updateHeatMapValue(70, 2000, 1, 1000, 500);
    scene_->updateHeatMapValue(70, 1, 1, 0, 0);
    EXPECT_EQ(nonZeroCells(), 1);
    scene_->updateHeatMapImage(records, 640, 480, 0);
    EXPECT_EQ(nonZeroCells(), 0);
    EXPECT_EQ(scene_->m_heatmapW, 640);
    EXPECT_EQ(scene_->m_heatmapH, 480);
}

TEST_F(HeatmapTest, DrawConsumesTheUpdateAndTheNextIsFullyTransparent)
{
    scene_->updateHeatMapValue(100, 256, 256, S, S);
    scene_->drawHeatMap();
    ASSERT_GT(gl_->pixel(256, 256).g, kBackground[1] + 40);
    EXPECT_EQ(nonZeroCells(), 0);
    canvas();
    scene_->drawHeatMap();
    expectModel({}); // fully transparent
}

// A caller state nowhere GL's default (its frame buffer, program, buffers, pixel store), with
// scissoring, culling and a depth test that would pass nothing: none may change the heatmap
// (that the caller's state comes back is in DrawState).
TEST_F(HeatmapTest, PassesIgnoreTheCallersState)
{
    {
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

namespace {

// GLEW keeps its entry points in process-wide pointers; swapping the one for
// glShaderSource hands the library broken source, so the driver's real
// compiler rejects it with a real log.
PFNGLSHADERSOURCEPROC realShaderSource = nullptr;

void GLAPIENTRY brokenShaderSource(GLuint shader, GLsizei, const GLchar* const*, const GLint*)
{
    const GLchar* text = "#version 120\nvoid main() { this is not glsl }\n";
    realShaderSource(shader, 1, &text, nullptr);
}
} // namespace

TEST(HeatmapBuildFailure, UnbuildableProgramsGiveNoHandleAndLogTheCompiler)
{
    qvtest::GlContext context(64, 64);
    ASSERT_TRUE(context.ok()) << context.error();
    context.makeCurrent();
    qvtest::clearSyslog();
    realShaderSource = __glewShaderSource;
    __glewShaderSource = brokenShaderSource;
    const jlong handle =
        Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(nullptr, nullptr, 0, 0);
    __glewShaderSource = realShaderSource;
    EXPECT_EQ(handle, 0);
    EXPECT_TRUE(qvtest::syslogContains("Compile failure in shader:"));
    EXPECT_TRUE(qvtest::syslogContains("could not be built"));
    EXPECT_EQ(qvtest::liveGlObjects(64), 0);
}
