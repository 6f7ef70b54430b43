// Heatmap scene on a real GL context: the GPU result against a CPU model of
// the value chain, update semantics, the caller's state, and the lifecycle.
//
// Tolerance: the read-back heatmap and the blended canvas must agree with the
// CPU model within kTol = 3 levels of 255 per channel. The model rounds where
// the GPU stores 8 bits (renderTex, the finished heatmap, the canvas); what is
// left is float accumulation and the driver's texture-filter precision.
#include "heatmap/HeatmapScene.h"
#include "support/GlContext.h"
#include "support/SyslogCapture.h"

#include <jni.h>
#include "heatmap/HeatmapReference.h"


#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
jlong Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(JNIEnv*, jclass, jint, jint);
void Java_quorvex_viewer_OverlayView_GLDirectBuffer_drawHeatmapBuffer_1n(JNIEnv*, jclass, jlong);
void Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapValue_1n(JNIEnv*, jclass, jlong, jint, jint, jint,
                                                                          jint, jint);
void Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n(JNIEnv*, jclass, jlong);
}

namespace {

constexpr int S = heatref::S;
constexpr double kTol = 3.0;
const std::array<int, 3> kBackground{30, 60, 200};

struct Record {
    int32_t x, y, count, unused[7];
};
static_assert(sizeof(Record) == HeatmapScene::kRecordBytes, "a record is 40 bytes");

// The whole RGBA8 contents of a texture.
std::vector<uint8_t> readTexture(GLuint texture)
{
    std::vector<uint8_t> pixels(size_t(S) * S * 4);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return pixels;
}

// The largest channel difference between the GPU heatmap and the model.
double heatmapError(const std::vector<uint8_t>& gpu, const std::vector<heatref::Texel>& ref, std::string* where)
{
    double worst = 0;
    for (int i = 0; i < S * S; ++i) {
        const double d[4] = {gpu[i * 4] - ref[i].r, gpu[i * 4 + 1] - ref[i].g, gpu[i * 4 + 2] - ref[i].b,
                             gpu[i * 4 + 3] - ref[i].a};
        for (double e : d)
            if (std::fabs(e) > worst) {
                worst = std::fabs(e);
                std::ostringstream s;
                s << "row " << i / S << " col " << i % S << " gpu (" << int(gpu[i * 4]) << "," << int(gpu[i * 4 + 1])
                  << "," << int(gpu[i * 4 + 2]) << "," << int(gpu[i * 4 + 3]) << ") model (" << ref[i].r << ","
                  << ref[i].g << "," << ref[i].b << "," << ref[i].a << ")";
                *where = s.str();
            }
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
    std::vector<uint8_t> heatOf(const std::vector<std::array<int, 3>>& cells)
    {
        std::vector<uint8_t> heat(size_t(S) * S, 0);
        for (const auto& c : cells)
            heat[size_t(c[1]) * S + c[0]] = uint8_t(c[2]);
        return heat;
    }
    // Writes the cells (x, y, value in a S x S space), draws, and checks the
    // read-back heatmap and the blended canvas against the model.
    void expectMatchesModel(const std::vector<std::array<int, 3>>& cells)
    {
        for (const auto& c : cells)
            scene_->updateHeatMapValue(c[2], c[0], c[1], S, S);
        scene_->drawHeatMap();
        const auto ref = heatref::heatmap(heatOf(cells));
        std::string where;
        EXPECT_LE(heatmapError(readTexture(scene_->intermediateTex), ref, &where), kTol) << where;
        expectCanvas(ref, S);
    }
    // Canvas rows 0..rows-1 hold the model blended over the background.
    void expectCanvas(const std::vector<heatref::Texel>& ref, int rows)
    {
        std::vector<uint8_t> px(size_t(S) * S * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, S, S, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        double worst = 0;
        int worstAt = 0;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < S; ++x) {
                const uint8_t* p = &px[(size_t(S - 1 - y) * S + x) * 4];
                const auto e = heatref::blended(ref[size_t(y) * S + x], kBackground);
                for (int k = 0; k < 3; ++k)
                    if (std::fabs(p[k] - e[k]) > worst) {
                        worst = std::fabs(p[k] - e[k]);
                        worstAt = y * S + x;
                    }
            }
        EXPECT_LE(worst, kTol) << "canvas row " << worstAt / S << " col " << worstAt % S;
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

TEST_F(HeatmapTest, SinglePointsOfSeveralCountsMatchTheModel)
{
    // 20 stays under the opacity ceiling, 120 reaches it, 255 wraps the colour table (v > 1).
    for (int count : {20, 120, 255}) {
        SCOPED_TRACE(count);
        canvas();
        expectMatchesModel({{256, 256, count}});
    }
    const auto centre = gl_->pixel(256, 256);
    // Value 255 at the centre: v ~ 1.43 wraps past red back into green.
    EXPECT_GT(centre.g, centre.r);
}

TEST_F(HeatmapTest, OverlappingPointsAddAfterTheBlur)
{
    expectMatchesModel({{240, 200, 90}, {262, 200, 90}});
    // Between the two points the heat is higher than beside either.
    const auto mid = gl_->pixel(251, 200), out = gl_->pixel(215, 200);
    EXPECT_GT(mid.r, out.r);
}

TEST_F(HeatmapTest, PointsNearTheEdgesMatchTheModel)
{
    // Vertically the blur wraps (row 0 bleeds into row 511); horizontally it stops at the edge.
    expectMatchesModel({{0, 0, 200}, {511, 40, 200}, {100, 511, 150}});
    EXPECT_GT(gl_->pixel(0, 511 - 10).a + gl_->pixel(0, 511 - 10).r, 0); // wrapped heat is visible
}

TEST_F(HeatmapTest, NonSquareSpaceFillsTheWideSide)
{
    // w = 1000, h = 500: scale 0.512, the last point lands in row 255, column 511.
    Record records[2] = {{999, 499, 200, {}}, {500, 250, 130, {}}};
    scene_->updateHeatMapImage(records, 1000, 500, 2);
    EXPECT_EQ(scene_->heatMapImage[255 * S + 511], 200);
    EXPECT_EQ(scene_->heatMapImage[128 * S + 256], 130);
    EXPECT_EQ(nonZeroCells(), 2);

    // The caller's space over the top half of the window: canvas pixel (x, y) shows texel (x, y).
    glViewport(0, S / 2, S, S / 2);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1000, 500, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    scene_->drawHeatMap();

    auto heat = std::vector<uint8_t>(size_t(S) * S, 0);
    heat[255 * S + 511] = 200;
    heat[128 * S + 256] = 130;
    const auto ref = heatref::heatmap(heat);
    std::string where;
    EXPECT_LE(heatmapError(readTexture(scene_->intermediateTex), ref, &where), kTol) << where;
    // The quad samples only up to t = 0.5: rows 0..255 of the heatmap.
    expectCanvas(ref, S / 2);
    // Below the caller's space nothing is drawn.
    EXPECT_PIXEL(*gl_, 256, S / 2 + 20, (qvtest::Rgba{kBackground[0], kBackground[1], kBackground[2], 255}), 0);
}

TEST_F(HeatmapTest, SecondValueWinsModulo256)
{
    scene_->updateHeatMapValue(77, 10, 20, S, S);
    scene_->updateHeatMapValue(300, 10, 20, S, S);
    EXPECT_EQ(scene_->heatMapImage[20 * S + 10], 300 % 256);
    scene_->updateHeatMapValue(256, 10, 20, S, S);
    EXPECT_EQ(scene_->heatMapImage[20 * S + 10], 0);
    scene_->updateHeatMapValue(-1, 10, 20, S, S);
    EXPECT_EQ(scene_->heatMapImage[20 * S + 10], 255);
}

TEST_F(HeatmapTest, DrawWithoutUpdateIsFullyTransparent)
{
    scene_->updateHeatMapValue(100, 256, 256, S, S);
    scene_->drawHeatMap();
    ASSERT_GT(gl_->pixel(256, 256).g, kBackground[1] + 40); // the first draw shows the point
    EXPECT_EQ(nonZeroCells(), 0);                          // and consumed it
    canvas();
    scene_->drawHeatMap();
    const auto texels = readTexture(scene_->intermediateTex);
    int visible = 0;
    for (int i = 0; i < S * S; ++i)
        visible += texels[i * 4 + 3] != 0;
    EXPECT_EQ(visible, 0);
    EXPECT_PIXEL(*gl_, 256, 256, (qvtest::Rgba{kBackground[0], kBackground[1], kBackground[2], 255}), 0);
}

TEST_F(HeatmapTest, EmptyRecordBufferClearsAndStoresTheSpace)
{
    scene_->updateHeatMapValue(9, 3, 3, S, S);
    Record none{};
    scene_->updateHeatMapImage(&none, 640, 480, 0);
    EXPECT_EQ(nonZeroCells(), 0);
    EXPECT_EQ(scene_->m_heatmapW, 640);
    EXPECT_EQ(scene_->m_heatmapH, 480);
}

TEST_F(HeatmapTest, RecordsOutsideTheSpaceAreSkipped)
{
    // (1500, 10) would wrap into row 5 if only the cell index were checked.
    Record records[] = {{-1, 5, 50, {}}, {5, -1, 50, {}}, {1000, 5, 50, {}}, {5, 500, 50, {}},
                        {1500, 10, 50, {}}, {0, 0, 60, {}}};
    scene_->updateHeatMapImage(records, 1000, 500, 6);
    EXPECT_EQ(nonZeroCells(), 1);
    EXPECT_EQ(scene_->heatMapImage[0], 60);
    scene_->updateHeatMapValue(70, 2000, 1, 1000, 500);
    scene_->updateHeatMapValue(70, 1, 1, 0, 0);
    EXPECT_EQ(nonZeroCells(), 1);
}

TEST_F(HeatmapTest, LaterRecordForTheSameCellWinsAndUnreadFieldsAreIgnored)
{
    Record records[] = {{10, 10, 0x1234, {}}, {10, 10, 0x7705, {-1, -1, -1, -1, -1, -1, -1}}};
    scene_->updateHeatMapImage(records, S, S, 2);
    EXPECT_EQ(scene_->heatMapImage[10 * S + 10], 0x05);
    EXPECT_EQ(nonZeroCells(), 1);
}

TEST_F(HeatmapTest, PassesIgnoreAndRestoreTheCallersState)
{
    // A caller frame buffer and hostile settings: none may change the heatmap.
    GLuint fbo = 0, colour = 0;
    glGenTextures(1, &colour);
    glBindTexture(GL_TEXTURE_2D, colour);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, S, S, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour, 0);
    glBindTexture(GL_TEXTURE_2D, 0);

    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glClearColor(1, 0, 0, 1);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_NEVER);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 8, 8);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_FRONT_AND_BACK);
    glViewport(3, 5, 100, 70);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 7, 9, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(2, 3, 0);
    glMatrixMode(GL_TEXTURE);
    glActiveTexture(GL_TEXTURE1);
    GLfloat projBefore[16], modelBefore[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projBefore);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelBefore);

    scene_->updateHeatMapValue(180, 300, 100, S, S);
    scene_->drawHeatMap();

    GLint viewport[4], mode = 0, active = 0, bound = 0, read = 0, depthFunc = 0;
    GLfloat clear[4], proj[16], model[16];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    glGetFloatv(GL_PROJECTION_MATRIX, proj);
    glGetFloatv(GL_MODELVIEW_MATRIX, model);
    EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{3, 5, 100, 70}));
    EXPECT_EQ(mode, GL_TEXTURE);
    EXPECT_EQ(active, GL_TEXTURE1);
    EXPECT_EQ(bound, GLint(fbo));
    EXPECT_EQ(read, GLint(fbo));
    EXPECT_EQ(std::vector<GLfloat>(clear, clear + 4), (std::vector<GLfloat>{1, 0, 0, 1}));
    EXPECT_EQ(std::memcmp(proj, projBefore, sizeof proj), 0);
    EXPECT_EQ(std::memcmp(model, modelBefore, sizeof model), 0);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_EQ(depthFunc, GL_NEVER);
    EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    const auto ref = heatref::heatmap(heatOf({{300, 100, 180}}));
    std::string where;
    EXPECT_LE(heatmapError(readTexture(scene_->intermediateTex), ref, &where), kTol) << where;

    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &fbo);
    glDeleteTextures(1, &colour);
}

TEST_F(HeatmapTest, CallersProgramIsBackAfterTheDraw)
{
    std::unique_ptr<Program> mine(Program::LoadShaderFromString(
        "#version 120\nvoid main() { gl_Position = ftransform(); }\n",
        "#version 120\nvoid main() { gl_FragColor = vec4(1.0); }\n"));
    mine->use();
    scene_->updateHeatMapValue(100, 256, 256, S, S);
    scene_->drawHeatMap();
    EXPECT_TRUE(mine->isInUse());
    glUseProgram(0);
    // The quad itself went through fixed function, not the caller's white program.
    EXPECT_LT(gl_->pixel(256, 256).b, 200);
}

namespace {
// Live GL objects of every kind the scene makes, over the low name range.
int liveGlObjects()
{
    int n = 0;
    for (GLuint name = 1; name < 6000; ++name)
        n += glIsTexture(name) + glIsFramebuffer(name) + glIsRenderbuffer(name) + glIsProgram(name) +
             glIsShader(name);
    return n;
}
} // namespace

TEST_F(HeatmapTest, ThousandScenesLeaveNoGlObjects)
{
    scene_.reset();
    const int before = liveGlObjects();
    for (int i = 0; i < 1000; ++i) {
        const jlong h = Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(nullptr, nullptr, 0, 0);
        ASSERT_NE(h, 0);
        if (i % 250 == 0) { // a few full cycles, so the frame buffers have been rendered into
            Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapValue_1n(nullptr, nullptr, h, 100, 5, 5, S,
                                                                                 S);
            Java_quorvex_viewer_OverlayView_GLDirectBuffer_drawHeatmapBuffer_1n(nullptr, nullptr, h);
        }
        Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n(nullptr, nullptr, h);
    }
    glFinish();
    EXPECT_EQ(liveGlObjects(), before);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(HeatmapTest, ZeroHandleDoesNothing)
{
    Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapValue_1n(nullptr, nullptr, 0, 1, 1, 1, 2, 2);
    Java_quorvex_viewer_OverlayView_GLDirectBuffer_drawHeatmapBuffer_1n(nullptr, nullptr, 0);
    Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n(nullptr, nullptr, 0);
    EXPECT_TRUE(qvtest::syslogContains("drawHeatmapBuffer_n: called with a null handle"));
    EXPECT_TRUE(qvtest::syslogContains("deleteHeatmap_n: called with a null handle"));
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
    const jlong handle = Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(nullptr, nullptr, 0, 0);
    __glewShaderSource = realShaderSource;
    EXPECT_EQ(handle, 0);
    EXPECT_TRUE(qvtest::syslogContains("Compile failure in shader:"));
    EXPECT_TRUE(qvtest::syslogContains("could not be built"));
    int shaders = 0;
    for (GLuint name = 1; name < 64; ++name)
        shaders += glIsShader(name) + glIsProgram(name);
    EXPECT_EQ(shaders, 0);
}
