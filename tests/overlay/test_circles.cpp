// Fixation circles: batched and single drawing, the GL 2.x fallback, selection by colour picking.
// Probes are exact on red, green and blue: llvmpipe rasterises solid primitives deterministically.
#include "boundary/HandleRegistry.h"
#include "overlay/CircleDataSets.h"
#include "support/GlState.h"
#include "support/SyslogCapture.h"

#include <jni.h>

#include <algorithm>
#include <cstdint>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

using namespace qvtest;

extern "C" jlong Java_quorvex_viewer_OverlayView_GLCircle_addCircle__IIFFFFFF(JNIEnv*, jclass, jlong, jint,
                                                                              jfloat, jfloat, jfloat, jfloat,
                                                                              jfloat, jfloat);

class CircleTest : public GlTest {
protected:
    void SetUp() override
    {
        GlTest::SetUp();
        // The tables are shared by every object: start each test from empty slots.
        std::memset(CircleDataSets::attributeTex, 0, sizeof(float) * 4 * CircleDataSets::kCapacity);
        std::memset(CircleDataSets::attributeTex2, 0, 3 * CircleDataSets::kCapacity);
        circles = std::make_unique<CircleDataSets>(kWidth, kHeight);
    }
    void TearDown() override
    {
        circles.reset();
        GlTest::TearDown();
    }
    bool modern() const { return glMajorVersion() > 2; }
    // A ring: a pixel of the colour within one pixel of each axis point (smooth
    // lines may land on either neighbour; their alpha is coverage, not compared), none inside.
    void expectRing(int cx, int cy, int radius, const Rgba& colour)
    {
        const int points[4][2] = {{cx + radius, cy}, {cx - radius, cy}, {cx, cy + radius}, {cx, cy - radius}};
        for (const auto& p : points) {
            bool hit = false;
            for (int d = -1; d <= 1; ++d)
                for (int e = -1; e <= 1; ++e) {
                    const Rgba px = gl().pixel(p[0] + d, p[1] + e);
                    hit = hit || pixelNear(px, Rgba{colour.r, colour.g, colour.b, px.a}, 0);
                }
            EXPECT_TRUE(hit) << "no ring pixel near (" << p[0] << ", " << p[1] << ")";
        }
        for (int x : {cx, cx + radius - 4, cx + radius + 4}) {
            const Rgba px = gl().pixel(x, cy);
            EXPECT_TRUE(px.r == 0 && px.g == 0 && px.b == 0) << "at (" << x << ", " << cy << ")";
        }
    }
    void expectDisc(int cx, int cy, int r, const Rgba& colour)
    {
        // The diagonal probe lies outside the disc (r 20 -> 21.2).
        expectPixels(gl(),
                     {{cx, cy, colour},
                      {cx + r - 2, cy, colour},
                      {cx - r + 2, cy, colour},
                      {cx, cy + r - 2, colour},
                      {cx, cy - r + 2, colour},
                      {cx + r + 2, cy, kBlack},
                      {cx, cy - r - 2, kBlack},
                      {cx + 15, cy + 15, kBlack}},
                     0);
    }
    std::unique_ptr<CircleDataSets> circles;
};

// ---- Drawing ----

TEST_F(CircleTest, BatchedAndSingleCirclesAreDiscsOrRingsOfTheirSize)
{
    if (!modern())
        GTEST_SKIP() << "instanced drawing needs GL above 2.x";
    circles->addCircleNode(100, 50, 20, 1, 0, 0);
    circles->createVbo();
    ASSERT_TRUE(circles->programsReady);
    enum Shape { Nothing, Ring, Disc };
    const struct {
        const char* what;
        std::function<void()> draw;
        Shape shape;
    } cases[] = {
        {"batched filled", [&] { circles->renderVbo(1); }, Disc},
        {"batched outline", [&] { circles->renderVbo(0); }, Ring},
        {"single filled", [&] { circles->drawSingleCircle(100, 50, 10, 10, 1, 0, 0, 1, 1.0f); }, Disc},
        {"single outline", [&] { circles->drawSingleCircle(100, 50, 10, 10, 1, 0, 0, 0, 1.0f); }, Ring},
        {"single mode 3", [&] { circles->drawSingleCircle(100, 50, 10, 10, 1, 0, 0, 3, 1.0f); }, Nothing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        glClear(GL_COLOR_BUFFER_BIT);
        c.draw();
        if (c.shape == Disc)
            expectDisc(100, 50, 20, kRed);
        else if (c.shape == Ring)
            expectRing(100, 50, 20, kRed);
        else
            EXPECT_EQ(redPixels(gl(), 0, 0, kWidth, kHeight), 0);
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// Slot writes in order: the set's end after each and the slot written (x / w, y / h, size / 1024,
// shown flag; colour bytes 255 x component, truncated), or a refused slot's log line. Export: the
// indexed add's JNI export, which the JVM cannot bind beside the unmangled addCircle.
TEST_F(CircleTest, SlotWritesInOneTable)
{
    enum Kind { Append, Indexed, Export, Update, Hide };
    const float q = 1.0f / kWidth;
    const int cap = CircleDataSets::kCapacity;
    // The update (row 6) keeps the slot's colour.
    const struct {
        Kind kind;
        int slot;
        float x, y, size, r, g, b;
        int total;
        std::vector<float> floats; // of `slot`; empty: refused
        std::vector<int> bytes;
        const char* log;
    } rows[] = {
        {Append, 0, 1, 2, 3, 1, 0.5f, 0, 1, {q, 2 * q, 3.0f / 1024, 1}, {255, 127, 0}, nullptr},
        {Append, 1, 1, 2, 3, 0, 0, 0, 2, {q, 2 * q, 3.0f / 1024, 1}, {0, 0, 0}, nullptr},
        {Indexed, 9, 128, 64, 512, 0, 1, 0.5f, 10, {0.5f, 0.25f, 0.5f, 1}, {0, 255, 127}, nullptr},
        {Append, 10, 7, 7, 7, 0.2f, 0.2f, 0.2f, 11, {7 * q, 7 * q, 7.0f / 1024, 1}, {51, 51, 51}, nullptr},
        {Hide, 9, 0, 0, 0, 0, 0, 0, 11, {0.5f, 0.25f, 0.5f, 0}, {0, 255, 127}, nullptr},
        {Update, 9, 64, 32, 256, 1, 1, 1, 11, {0.25f, 0.125f, 0.25f, 1}, {0, 255, 127}, nullptr},
        {Export, 12, 128, 64, 512, 1, 0.5f, 0, 13, {0.5f, 0.25f, 0.5f, 1}, {255, 127, 0}, nullptr},
        {Indexed, cap, 1, 1, 1, 1, 1, 1, 13, {}, {}, "addCircleNode: slot 1048576 outside"},
        {Export, -1, 1, 1, 1, 1, 1, 1, 13, {}, {}, "addCircleNode: slot -1 outside"},
        {Update, -5, 1, 1, 1, 1, 1, 1, 13, {}, {}, "updateNode: slot -5 outside"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.slot);
        clearSyslog();
        switch (row.kind) {
        case Append: circles->addCircleNode(row.x, row.y, row.size, row.r, row.g, row.b); break;
        case Indexed: circles->addCircleNode(row.slot, row.x, row.y, row.size, row.r, row.g, row.b); break;
        case Update: circles->updateNode(row.slot, row.x, row.y, row.size, row.r, row.g, row.b); break;
        case Hide: circles->hideNode(const_cast<int*>(&row.slot), 1); break;
        case Export:
            EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLCircle_addCircle__IIFFFFFF(
                          nullptr, nullptr, qv::registerHandle(circles.get()), row.slot, row.x, row.y,
                          row.size, row.r, row.g, row.b),
                      1);
        }
        EXPECT_EQ(circles->totalNodes, row.total);
        if (row.log != nullptr) {
            EXPECT_TRUE(syslogContains(row.log));
            continue;
        }
        const float* p = CircleDataSets::attributeTex + row.slot * 4;
        const unsigned char* c = CircleDataSets::attributeTex2 + row.slot * 3;
        EXPECT_EQ(std::vector<float>(p, p + 4), row.floats);
        EXPECT_EQ(std::vector<int>(c, c + 3), row.bytes);
    }
    EXPECT_EQ(Java_quorvex_viewer_OverlayView_GLCircle_addCircle__IIFFFFFF(nullptr, nullptr, 0, 3, 1, 1, 1, 1,
                                                                           1, 1),
              0);
    circles->totalNodes = CircleDataSets::kCapacity;
    circles->addCircleNode(1, 1, 1, 1, 1, 1); // appending past the last slot
    EXPECT_EQ(circles->totalNodes, CircleDataSets::kCapacity);
    circles->clearNodes();
    EXPECT_EQ(circles->totalNodes, 0);
}

TEST_F(CircleTest, WindowSizeScalesCentresNotRadiiAndHiddenNodesStillShow)
{
    if (!modern())
        GTEST_SKIP();
    circles->addCircleNode(50, 50, 10, 1, 0, 0);
    circles->addCircleNode(100, 150, 20, 1, 0, 0);
    circles->renderVbo(1); // nothing before createGraphic
    EXPECT_EQ(redPixels(gl(), 0, 0, kWidth, kHeight), 0);
    circles->createVbo();
    const int live = liveGlObjects();
    circles->createVbo(); // a repeated createGraphic releases what the last one made
    EXPECT_EQ(liveGlObjects(), live);
    int slot = 1;
    circles->hideNode(&slot, 1);
    EXPECT_FLOAT_EQ(CircleDataSets::attributeTex[1 * 4 + 3], 0.0f);
    circles->updateWindowSize(2 * kWidth, kHeight);
    circles->renderVbo(1);
    expectPixels(gl(),
                 {{100, 50, kRed},
                  {108, 50, kRed},
                  {112, 50, kBlack},
                  {50, 50, kBlack},
                  {200, 150, kRed},
                  {200 + 18, 150, kRed}},
                 0);
}

TEST_F(CircleTest, FailedProgramsFallBackToOutlines)
{
    if (!modern())
        GTEST_SKIP();
    clearSyslog();
    CircleShaderSources broken = CircleDataSets::embeddedSources();
    broken.pickVertex = "void main() { this does not compile }";
    circles->addCircleNode(100, 50, 20, 1, 0, 0);
    circles->createVbo(broken);
    EXPECT_TRUE(circles->programFailed);
    EXPECT_EQ(circles->m_shader, nullptr);
    EXPECT_TRUE(syslogContains("circle programs failed"));
    circles->renderVbo(1); // outline, one by one
    expectRing(100, 50, 20, kRed);
    circles->selectNodes(90, 40, 20, 20);
    EXPECT_TRUE(circles->found_list.empty());
}

class CircleGl21Test : public CircleTest { };

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
};

TEST_F(CircleSelectionTest, WindowsFindTheNodesUnderThemTopmostFirst)
{
    using Node = std::array<float, 6>; // x, y, size, r, g, b
    // Window 5 wide (frame buffer 8 wide): only columns 100..104 are read; the left edge of a
    // size-10 circle lies 9.976 left of its centre.
    const Node in{114.2f, 102.5f, 10, 1, 0, 0}, out{115.2f, 102.5f, 10, 1, 0, 0};
    const Node r10{100, 100, 10, 1, 0, 0}, g20{100, 100, 20, 0, 1, 0}, b30{100, 100, 30, 0, 0, 1};
    const Node aside{200, 200, 10, 1, 1, 1};
    const struct {
        const char* what;
        std::vector<Node> nodes;
        int hidden; // slot hidden beforehand, or -1
        std::array<int, 4> window;
        std::vector<int> found;
        int passes, pickWidth;
    } cases[] = {
        {"empty window: one pass", {{30, 30, 10, 1, 0, 0}}, -1, {150, 150, 20, 20}, {}, 1, 32},
        {"own columns only", {in, out}, -1, {100, 100, 5, 5}, {0}, 2, 8},
        {"hidden beforehand: not found", {r10, g20}, 1, {98, 98, 4, 4}, {0}, 2, 4},
        {"concentric: one per pass", {r10, g20, b30, aside}, -1, {98, 98, 4, 4}, {2, 1, 0}, 4, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        circles = std::make_unique<CircleDataSets>(kWidth, kHeight);
        for (const auto& n : c.nodes)
            circles->addCircleNode(n[0], n[1], n[2], n[3], n[4], n[5]);
        circles->createVbo();
        ASSERT_TRUE(circles->canSelect());
        int hidden = c.hidden;
        if (hidden >= 0)
            circles->hideNode(&hidden, 1);
        circles->selectNodes(c.window[0], c.window[1], c.window[2], c.window[3]);
        EXPECT_EQ(circles->found_list, c.found);
        EXPECT_EQ(circles->pick_passes, c.passes);
        EXPECT_EQ(circles->pick_w, c.pickWidth);
        // Found nodes turn black and are shown again; the others keep colour and visibility.
        for (size_t s = 0; s < c.nodes.size(); ++s) {
            const bool found = std::count(c.found.begin(), c.found.end(), int(s)) > 0;
            const auto& n = c.nodes[s];
            const std::vector<int> own = {int(n[3] * 255), int(n[4] * 255), int(n[5] * 255)};
            const unsigned char* colour = CircleDataSets::attributeTex2 + s * 3;
            EXPECT_EQ(std::vector<int>(colour, colour + 3), found ? std::vector<int>(3, 0) : own) << s;
            EXPECT_FLOAT_EQ(CircleDataSets::attributeTex[s * 4 + 3], int(s) == c.hidden ? 0.0f : 1.0f) << s;
        }
    }
    circles->renderVbo(1); // on screen too
    expectPixels(gl(), {{100, 100, kBlack}, {125, 100, kBlack}, {200, 200, kWhite}}, 0);
}

TEST_F(CircleSelectionTest, PickColoursDecodeExactly)
{
    EXPECT_EQ(circles->colordecoding(0, 0, 1.0f / 255.0f), 1);
    EXPECT_EQ(circles->colordecoding(0, 1.0f / 255.0f, 0), 256);
    EXPECT_EQ(circles->colordecoding(1.0f / 255.0f, 0, 0), 65536);
    // Through the GPU: slot 65535 is the only node under the window.
    circles->addCircleNode(0, 20, 20, 10, 1, 0, 0);
    circles->addCircleNode(65535, 100, 100, 10, 1, 0, 0);
    circles->createVbo();
    for (const auto& c : {std::make_pair(95, 65535), std::make_pair(15, 0)}) {
        circles->selectNodes(c.first, c.first, 10, 10);
        EXPECT_EQ(circles->found_list, (std::vector<int>{c.second}));
    }
}
