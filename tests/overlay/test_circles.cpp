// Fixation circles: batched instanced drawing, single circles, the GL 2.x
// fallback and selection by colour picking. Pixel probes are exact (tolerance 0)
// unless stated: llvmpipe rasterises these solid primitives deterministically.
#include "overlay/CircleDataSets.h"
#include "support/GlContext.h"
#include "support/SyslogCapture.h"

#include <cstring>
#include <memory>
#include <vector>

using qvtest::Rgba;

namespace {
const Rgba kBlack{0, 0, 0, 255};
const Rgba kRed{255, 0, 0, 255};

int liveTextures()
{
    int n = 0;
    for (GLuint name = 1; name < 256; ++name)
        n += glIsTexture(name) ? 1 : 0;
    return n;
}
} // namespace

class CircleTest : public qvtest::GlTest {
protected:
    void SetUp() override
    {
        qvtest::GlTest::SetUp();
        // The tables are shared by every object: start each test from empty slots.
        std::memset(CircleDataSets::attributeTex, 0, sizeof(float) * 4 * CircleDataSets::kCapacity);
        std::memset(CircleDataSets::attributeTex2, 0, 3 * CircleDataSets::kCapacity);
        circles = std::make_unique<CircleDataSets>(kWidth, kHeight);
    }
    void TearDown() override
    {
        circles.reset();
        qvtest::GlTest::TearDown();
    }
    bool modern() const { return glMajorVersion() > 2; }
    // A red ring of radius 20 round (100, 50): a pixel on it within one pixel
    // of each axis point (smooth lines may land on either neighbour).
    void expectRing(int cx, int cy, int radius, const Rgba& colour)
    {
        const int points[4][2] = {{cx + radius, cy}, {cx - radius, cy}, {cx, cy + radius}, {cx, cy - radius}};
        for (const auto& p : points) {
            bool hit = false;
            for (int d = -1; d <= 1 && !hit; ++d)
                for (int e = -1; e <= 1 && !hit; ++e)
                {
                    // Outlines are drawn with alpha 0.5 (smooth lines scale it by
                    // coverage), so only red, green and blue are compared.
                    const Rgba px = gl().pixel(p[0] + d, p[1] + e);
                    hit = qvtest::pixelNear(px, Rgba{colour.r, colour.g, colour.b, px.a}, 0);
                }
            EXPECT_TRUE(hit) << "no ring pixel near (" << p[0] << ", " << p[1] << ")";
        }
        for (int x : {cx, cx + radius - 4, cx + radius + 4}) {
            const Rgba px = gl().pixel(x, cy);
            EXPECT_TRUE(px.r == 0 && px.g == 0 && px.b == 0) << "at (" << x << ", " << cy << ")";
        }
    }
    void expectDisc(int cx, int cy, int radius, const Rgba& colour)
    {
        EXPECT_PIXEL(gl(), cx, cy, colour, 0);
        EXPECT_PIXEL(gl(), cx + radius - 2, cy, colour, 0);
        EXPECT_PIXEL(gl(), cx - radius + 2, cy, colour, 0);
        EXPECT_PIXEL(gl(), cx, cy + radius - 2, colour, 0);
        EXPECT_PIXEL(gl(), cx, cy - radius + 2, colour, 0);
        EXPECT_PIXEL(gl(), cx + radius + 2, cy, kBlack, 0);
        EXPECT_PIXEL(gl(), cx, cy - radius - 2, kBlack, 0);
        EXPECT_PIXEL(gl(), cx + 15, cy + 15, kBlack, 0); // outside the disc on the diagonal (r 20 -> 21.2)
    }
    std::unique_ptr<CircleDataSets> circles;
};

// ---- Drawing ----

TEST_F(CircleTest, BatchedFilledNodeIsACircleOfItsSize)
{
    if (!modern())
        GTEST_SKIP() << "instanced drawing needs GL above 2.x";
    circles->addCircleNode(100, 50, 20, 1, 0, 0);
    circles->createVbo();
    ASSERT_TRUE(circles->programsReady);
    circles->renderVbo(1);
    expectDisc(100, 50, 20, kRed);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(CircleTest, BatchedOutlineIsARingOfItsSize)
{
    if (!modern())
        GTEST_SKIP();
    circles->addCircleNode(100, 50, 20, 1, 0, 0);
    circles->createVbo();
    circles->renderVbo(0);
    expectRing(100, 50, 20, kRed);
}

TEST_F(CircleTest, SingleCircleMatchesTheBatchedCircle)
{
    circles->drawSingleCircle(100, 50, 10, 10, 1, 0, 0, 1, 1.0f);
    expectDisc(100, 50, 20, kRed);
    glClear(GL_COLOR_BUFFER_BIT);
    circles->drawSingleCircle(100, 50, 10, 10, 1, 0, 0, 0, 1.0f);
    expectRing(100, 50, 20, kRed);
    glClear(GL_COLOR_BUFFER_BIT);
    circles->drawSingleCircle(100, 50, 10, 10, 1, 0, 0, 2, 1.0f);
    EXPECT_FALSE(glIsEnabled(GL_LINE_STIPPLE)); // the dash pattern is not left behind
}

TEST_F(CircleTest, ModeThreeDrawsNothingAndBalancesStacks)
{
    GLint matrices = 0, attributes = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &matrices);
    glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &attributes);
    glColor4f(0.25f, 0.5f, 0.75f, 1.0f);
    circles->drawSingleCircle(100, 50, 10, 10, 1, 0, 0, 3, 1.0f);
    for (int x = 70; x <= 130; x += 5)
        EXPECT_PIXEL(gl(), x, 50, kBlack, 0);
    GLint matricesAfter = 0, attributesAfter = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &matricesAfter);
    glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &attributesAfter);
    EXPECT_EQ(matrices, matricesAfter);
    EXPECT_EQ(attributes, attributesAfter);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[1], 0.5f); // the current colour is the caller's again
}

TEST_F(CircleTest, AppendingAndIndexedAddsAndColourBytes)
{
    circles->addCircleNode(1, 2, 3, 1, 0.5f, 0);
    circles->addCircleNode(1, 2, 3, 0, 0, 0);
    EXPECT_EQ(circles->totalNodes, 2);
    circles->addCircleNode(9, 128, 64, 512, 0, 1, 0.5f);
    EXPECT_EQ(circles->totalNodes, 10);
    const float* slot9 = CircleDataSets::attributeTex + 9 * 4;
    EXPECT_FLOAT_EQ(slot9[0], 0.5f);
    EXPECT_FLOAT_EQ(slot9[1], 0.25f);
    EXPECT_FLOAT_EQ(slot9[2], 0.5f);
    EXPECT_FLOAT_EQ(slot9[3], 1.0f);
    circles->addCircleNode(7, 7, 7, 0.2f, 0.2f, 0.2f);
    EXPECT_EQ(circles->totalNodes, 11);
    EXPECT_FLOAT_EQ(CircleDataSets::attributeTex[10 * 4 + 0], 7.0f / kWidth);
    EXPECT_EQ(CircleDataSets::attributeTex2[0], 255);
    EXPECT_EQ(CircleDataSets::attributeTex2[1], 127);
    EXPECT_EQ(CircleDataSets::attributeTex2[2], 0);
    EXPECT_EQ(CircleDataSets::attributeTex2[9 * 3 + 2], 127);
    circles->updateNode(9, 64, 32, 256, 0, 0, 0);
    EXPECT_FLOAT_EQ(slot9[0], 0.25f);
    EXPECT_EQ(CircleDataSets::attributeTex2[9 * 3 + 1], 255); // colour arguments are not applied
    circles->clearNodes();
    EXPECT_EQ(circles->totalNodes, 0);
}

TEST_F(CircleTest, SlotsOutsideTheTablesAreRefused)
{
    qvtest::clearSyslog();
    circles->addCircleNode(3, 1, 1, 1, 1, 1, 1);
    circles->addCircleNode(CircleDataSets::kCapacity, 1, 1, 1, 1, 1, 1);
    circles->addCircleNode(-1, 1, 1, 1, 1, 1, 1);
    circles->updateNode(-5, 1, 1, 1, 1, 1, 1);
    EXPECT_EQ(circles->totalNodes, 4);
    EXPECT_TRUE(qvtest::syslogContains("slot 1048576 outside"));
    EXPECT_TRUE(qvtest::syslogContains("slot -5 outside"));
    circles->totalNodes = CircleDataSets::kCapacity;
    circles->addCircleNode(1, 1, 1, 1, 1, 1); // appending past the last slot
    EXPECT_EQ(circles->totalNodes, CircleDataSets::kCapacity);
}

TEST_F(CircleTest, WindowSizeScalesCentresNotRadii)
{
    if (!modern())
        GTEST_SKIP();
    circles->addCircleNode(50, 50, 10, 1, 0, 0);
    circles->createVbo();
    circles->updateWindowSize(2 * kWidth, kHeight);
    circles->renderVbo(1);
    EXPECT_PIXEL(gl(), 100, 50, kRed, 0);
    EXPECT_PIXEL(gl(), 108, 50, kRed, 0);
    EXPECT_PIXEL(gl(), 112, 50, kBlack, 0);
    EXPECT_PIXEL(gl(), 50, 50, kBlack, 0);
}

TEST_F(CircleTest, HiddenNodesAreStillDisplayed)
{
    if (!modern())
        GTEST_SKIP();
    circles->addCircleNode(100, 50, 20, 1, 0, 0);
    circles->createVbo();
    int slot = 0;
    circles->hideNode(&slot, 1);
    EXPECT_FLOAT_EQ(CircleDataSets::attributeTex[3], 0.0f);
    circles->renderVbo(1);
    expectDisc(100, 50, 20, kRed);
}

TEST_F(CircleTest, NothingIsDrawnBeforeCreateGraphic)
{
    if (!modern())
        GTEST_SKIP();
    circles->addCircleNode(100, 50, 20, 1, 0, 0);
    circles->renderVbo(1);
    circles->renderVbo(0);
    EXPECT_PIXEL(gl(), 100, 50, kBlack, 0);
    EXPECT_PIXEL(gl(), 120, 50, kBlack, 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(CircleTest, RepeatedCreateGraphicReleasesThePreviousOnes)
{
    if (!modern())
        GTEST_SKIP();
    circles->createVbo();
    const int textures = liveTextures();
    const GLuint program = circles->m_shader->object();
    circles->createVbo();
    circles->createVbo();
    EXPECT_EQ(liveTextures(), textures);
    EXPECT_TRUE(circles->m_shader->object() == program || !glIsProgram(program));
}

TEST_F(CircleTest, FailedProgramsFallBackToOutlines)
{
    if (!modern())
        GTEST_SKIP();
    qvtest::clearSyslog();
    CircleShaderSources broken = CircleDataSets::embeddedSources();
    broken.pickVertex = "void main() { this does not compile }";
    circles->addCircleNode(100, 50, 20, 1, 0, 0);
    circles->createVbo(broken);
    EXPECT_TRUE(circles->programFailed);
    EXPECT_EQ(circles->m_shader, nullptr);
    EXPECT_TRUE(qvtest::syslogContains("circle programs failed"));
    circles->renderVbo(1); // outline, one by one
    expectRing(100, 50, 20, kRed);
    circles->selectNodes(90, 40, 20, 20);
    EXPECT_TRUE(circles->found_list.empty());
}

class CircleGl21Test : public CircleTest {};

TEST_F(CircleGl21Test, FallbackDrawsOutlinesWhateverTheMode)
{
    if (glMajorVersion() > 2)
        GTEST_SKIP() << "runs under MESA_GL_VERSION_OVERRIDE=2.1";
    EXPECT_EQ(circles->version, 2);
    circles->addCircleNode(100, 50, 20, 1, 0, 0);
    circles->addCircleNode(180, 150, 30, 1, 0, 0);
    circles->createVbo(); // does nothing on GL 2.x
    EXPECT_EQ(circles->m_shader, nullptr);
    circles->updateWindowSize(2 * kWidth, kHeight); // ignored by the fallback
    for (int mode : {0, 1, 2}) {
        glClear(GL_COLOR_BUFFER_BIT);
        circles->renderVbo(mode);
        expectRing(100, 50, 20, kRed);
        expectRing(180, 150, 30, kRed);
    }
    EXPECT_FALSE(circles->canSelect());
}

// ---- Selection ----

class CircleSelectionTest : public CircleTest {
protected:
    void SetUp() override
    {
        CircleTest::SetUp();
        if (!modern())
            GTEST_SKIP() << "selection needs GL above 2.x";
    }
    void build()
    {
        circles->createVbo();
        ASSERT_TRUE(circles->canSelect());
    }
    std::vector<int> colour(int slot) const
    {
        const unsigned char* c = CircleDataSets::attributeTex2 + slot * 3;
        return {c[0], c[1], c[2]};
    }
};

TEST_F(CircleSelectionTest, EmptyWindowEndsAfterOnePass)
{
    circles->addCircleNode(30, 30, 10, 1, 0, 0);
    build();
    circles->selectNodes(150, 150, 20, 20);
    EXPECT_TRUE(circles->found_list.empty());
    EXPECT_EQ(circles->pick_passes, 1);
    EXPECT_EQ(colour(0), (std::vector<int>{255, 0, 0}));
    EXPECT_TRUE(circles->pick_list.empty());
}

TEST_F(CircleSelectionTest, ConcentricCirclesArePeeledOnePerPass)
{
    circles->addCircleNode(100, 100, 10, 1, 0, 0);
    circles->addCircleNode(100, 100, 20, 0, 1, 0);
    circles->addCircleNode(100, 100, 30, 0, 0, 1);
    circles->addCircleNode(200, 200, 10, 1, 1, 1); // elsewhere
    build();
    circles->selectNodes(98, 98, 4, 4);
    EXPECT_EQ(circles->found_list, (std::vector<int>{2, 1, 0})); // topmost (last drawn) first
    EXPECT_EQ(circles->pick_passes, 4);
    EXPECT_EQ(circles->pick_w, 4);
    for (int s = 0; s < 3; ++s) {
        EXPECT_EQ(colour(s), (std::vector<int>{0, 0, 0})) << "slot " << s;
        EXPECT_FLOAT_EQ(CircleDataSets::attributeTex[s * 4 + 3], 1.0f) << "shown again";
    }
    EXPECT_EQ(colour(3), (std::vector<int>{255, 255, 255}));
    // On screen the three are black now; the fourth keeps its colour.
    circles->renderVbo(1);
    glFinish();
    EXPECT_PIXEL(gl(), 100, 100, kBlack, 0);
    EXPECT_PIXEL(gl(), 125, 100, kBlack, 0);
    EXPECT_PIXEL(gl(), 200, 200, (Rgba{255, 255, 255, 255}), 0);
}

TEST_F(CircleSelectionTest, OnlyTheWindowsOwnColumnsAreRead)
{
    // Window 5 wide (frame buffer 8 wide): pixel columns 100..104 are read.
    // Left edge of a size-10 circle lies 9.976 left of its centre.
    circles->addCircleNode(114.2f, 102.5f, 10, 1, 0, 0); // covers column 104 only
    circles->addCircleNode(115.2f, 102.5f, 10, 1, 0, 0); // covers from column 105 on
    build();
    circles->selectNodes(100, 100, 5, 5);
    EXPECT_EQ(circles->found_list, (std::vector<int>{0}));
    EXPECT_EQ(circles->pick_w, 8);
}

TEST_F(CircleSelectionTest, NodeHiddenBeforehandIsNotFoundAndStaysHidden)
{
    circles->addCircleNode(100, 100, 10, 1, 0, 0);
    circles->addCircleNode(100, 100, 20, 0, 1, 0);
    build();
    int hidden = 1;
    circles->hideNode(&hidden, 1);
    circles->selectNodes(98, 98, 4, 4);
    EXPECT_EQ(circles->found_list, (std::vector<int>{0}));
    EXPECT_FLOAT_EQ(CircleDataSets::attributeTex[1 * 4 + 3], 0.0f);
    EXPECT_EQ(colour(1), (std::vector<int>{0, 255, 0}));
}

TEST_F(CircleSelectionTest, PickColoursDecodeExactly)
{
    EXPECT_EQ(circles->colordecoding(0, 0, 1.0f / 255.0f), 1);
    EXPECT_EQ(circles->colordecoding(1.0f / 255.0f, 0, 0), 65536);
    EXPECT_EQ(circles->colordecoding(0, 0, 0), 0);
    // Through the GPU: slot 65535 is the only node under the window.
    circles->addCircleNode(0, 20, 20, 10, 1, 0, 0);
    circles->addCircleNode(65535, 100, 100, 10, 1, 0, 0);
    build();
    circles->selectNodes(95, 95, 10, 10);
    EXPECT_EQ(circles->found_list, (std::vector<int>{65535}));
    circles->selectNodes(15, 15, 10, 10);
    EXPECT_EQ(circles->found_list, (std::vector<int>{0}));
}

TEST_F(CircleSelectionTest, CanvasStateIsTheSameAfterASelection)
{
    circles->addCircleNode(100, 100, 10, 1, 0, 0);
    build();
    glViewport(3, 4, 200, 100);
    glClearColor(0.1f, 0.2f, 0.3f, 0.4f);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(5, 6, 0);
    GLfloat projection[16], modelview[16], clear[4];
    GLint viewport[4], readBuffer, frameBuffer;
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_READ_BUFFER, &readBuffer);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &frameBuffer);

    circles->selectNodes(98, 98, 4, 4);
    ASSERT_EQ(circles->found_list.size(), 1u);

    GLfloat projection2[16], modelview2[16], clear2[4];
    GLint viewport2[4], readBuffer2, frameBuffer2, matrixMode;
    glGetFloatv(GL_PROJECTION_MATRIX, projection2);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview2);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear2);
    glGetIntegerv(GL_VIEWPORT, viewport2);
    glGetIntegerv(GL_READ_BUFFER, &readBuffer2);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &frameBuffer2);
    glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    EXPECT_EQ(0, std::memcmp(projection, projection2, sizeof projection));
    EXPECT_EQ(0, std::memcmp(modelview, modelview2, sizeof modelview));
    EXPECT_EQ(0, std::memcmp(clear, clear2, sizeof clear));
    EXPECT_EQ(0, std::memcmp(viewport, viewport2, sizeof viewport));
    EXPECT_EQ(readBuffer, readBuffer2);
    EXPECT_EQ(frameBuffer, frameBuffer2);
    EXPECT_EQ(matrixMode, GL_MODELVIEW);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    // And the canvas still draws where it did.
    gl().canvasProjection();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    circles->drawSingleCircle(100, 50, 10, 10, 1, 0, 0, 1, 1.0f);
    expectDisc(100, 50, 20, kRed);
}
