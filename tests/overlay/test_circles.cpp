// Fixation circles: batched and single drawing, the GL 2.x fallback, selection by colour picking.
// Probes are exact on red, green and blue: llvmpipe rasterises solid primitives deterministically.
#include "boundary/HandleRegistry.h"
#include "overlay/CircleDataSets.h"
#include "support/GlState.h"
#include "support/SyslogCapture.h"

#include <jni.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <tuple>
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
    // Red, green and blue only: smooth lines' alpha is coverage.
    bool rgbAt(int x, int y, const Rgba& c)
    {
        const Rgba px = gl().pixel(x, y);
        return px.r == c.r && px.g == c.g && px.b == c.b;
    }
    // A ring: the colour within a pixel of each axis point (smooth lines land either side), none inside.
    void expectRing(int cx, int cy, int radius, const Rgba& colour)
    {
        const int points[4][2] = {{cx + radius, cy}, {cx - radius, cy}, {cx, cy + radius}, {cx, cy - radius}};
        for (const auto& p : points) {
            int hits = 0;
            for (int d = -1; d <= 1; ++d)
                for (int e = -1; e <= 1; ++e)
                    hits += rgbAt(p[0] + d, p[1] + e, colour);
            EXPECT_GT(hits, 0) << "no ring pixel near (" << p[0] << ", " << p[1] << ")";
        }
        for (int x : {cx, cx + radius - 4, cx + radius + 4})
            EXPECT_TRUE(rgbAt(x, cy, kBlack)) << "at (" << x << ", " << cy << ")";
    }
    // The diagonal probe lies outside the disc (r 20 -> 21.2).
    void expectDisc(int cx, int cy, int r, const Rgba& c)
    {
        const Rgba& bg = kBlack;
        const Probe probes[] = {{cx, cy, c},          {cx + r - 2, cy, c},   {cx - r + 2, cy, c},
                                {cx, cy + r - 2, c},  {cx, cy - r + 2, c},   {cx + r + 2, cy, bg},
                                {cx, cy - r - 2, bg}, {cx + 15, cy + 15, bg}};
        for (const Probe& p : probes)
            EXPECT_PIXEL(gl(), p.x, p.y, p.colour, 0);
    }
    std::unique_ptr<CircleDataSets> circles;
};

TEST_F(CircleTest, BatchedAndSingleCirclesAreDiscsOrRingsOfTheirSize)
{
    if (!modern())
        GTEST_SKIP() << "instanced drawing needs GL above 2.x";
    circles->addCircleNode(100, 50, 20, 1, 0, 0);
    circles->createVbo();
    ASSERT_TRUE(circles->programsReady);
    const auto disc = [&] { expectDisc(100, 50, 20, kRed); };
    const auto ring = [&] { expectRing(100, 50, 20, kRed); };
    const auto nothing = [&] { EXPECT_EQ(redPixels(gl(), 0, 0, kWidth, kHeight), 0); };
    const std::tuple<const char*, std::function<void()>, std::function<void()>> cases[] = {
        {"batched filled", [&] { circles->renderVbo(1); }, disc},
        {"batched outline", [&] { circles->renderVbo(0); }, ring},
        {"single filled", [&] { circles->drawSingleCircle(100, 50, 10, 10, 1, 0, 0, 1, 1.0f); }, disc},
        {"single outline", [&] { circles->drawSingleCircle(100, 50, 10, 10, 1, 0, 0, 0, 1.0f); }, ring},
        {"single mode 3", [&] { circles->drawSingleCircle(100, 50, 10, 10, 1, 0, 0, 3, 1.0f); }, nothing},
    };
    for (const auto& [what, draw, expect] : cases) {
        SCOPED_TRACE(what);
        glClear(GL_COLOR_BUFFER_BIT);
        draw();
        expect();
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
    const auto addExport = &Java_quorvex_viewer_OverlayView_GLCircle_addCircle__IIFFFFFF;
    // The update (row 5) keeps the slot's colour.
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
            EXPECT_EQ(addExport(nullptr, nullptr, qv::registerHandle(circles.get()), row.slot, row.x, row.y,
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
    EXPECT_EQ(addExport(nullptr, nullptr, 0, 3, 1, 1, 1, 1, 1, 1), 0); // no such handle
    circles->totalNodes = cap;
    circles->addCircleNode(1, 1, 1, 1, 1, 1); // appending past the last slot
    EXPECT_EQ(circles->totalNodes, cap);
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
    circles->updateWindowSize(2 * kWidth, kHeight);
    circles->renderVbo(1);
    const std::initializer_list<Probe> probes = {{100, 50, kRed},  {108, 50, kRed},  {112, 50, kBlack},
                                                 {50, 50, kBlack}, {200, 150, kRed}, {218, 150, kRed}};
    expectPixels(gl(), probes, 0);
}

// The fallback, on GL 2.x (native.gl21) or when the programs fail to build: outlines one by one
// whatever the mode, at the window size of creation, and no selection.
class CircleGl21Test : public CircleTest { };

TEST_F(CircleGl21Test, FallbackDrawsOutlinesWhateverTheMode)
{
    clearSyslog();
    CircleShaderSources broken = CircleDataSets::embeddedSources();
    broken.pickVertex = "void main() { this does not compile }";
    circles->addCircleNode(100, 50, 20, 1, 0, 0);
    circles->addCircleNode(180, 150, 30, 1, 0, 0);
    circles->createVbo(broken); // does nothing on GL 2.x
    if (modern()) {
        EXPECT_TRUE(circles->programFailed);
        EXPECT_TRUE(syslogContains("circle programs failed"));
    } else {
        EXPECT_EQ(circles->version, 2);
    }
    EXPECT_EQ(circles->m_shader, nullptr);
    circles->updateWindowSize(2 * kWidth, kHeight);
    for (int mode : {0, 1, 2}) {
        glClear(GL_COLOR_BUFFER_BIT);
        circles->renderVbo(mode);
        expectRing(100, 50, 20, kRed);
        expectRing(180, 150, 30, kRed);
    }
    EXPECT_FALSE(circles->canSelect());
    circles->selectNodes(90, 40, 20, 20);
    EXPECT_TRUE(circles->found_list.empty());
}

class CircleSelectionTest : public CircleTest { };

TEST_F(CircleSelectionTest, WindowsFindTheNodesUnderThemTopmostFirst)
{
    if (!modern())
        GTEST_SKIP() << "selection needs GL above 2.x";
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
            const int k = std::count(c.found.begin(), c.found.end(), int(s)) > 0 ? 0 : 255;
            const unsigned char* rgb = CircleDataSets::attributeTex2 + s * 3;
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(rgb[i], int(c.nodes[s][3 + i]) * k) << s;
            EXPECT_FLOAT_EQ(CircleDataSets::attributeTex[s * 4 + 3], int(s) == c.hidden ? 0.0f : 1.0f) << s;
        }
    }
    circles->renderVbo(1); // on screen too
    expectPixels(gl(), {{100, 100, kBlack}, {125, 100, kBlack}, {200, 200, kWhite}}, 0);

    // Pick ids are slot + 1, one byte per channel (blue lowest): slot 65535 is read from red alone.
    EXPECT_EQ(circles->colordecoding(0, 0, 1.0f / 255.0f), 1);
    EXPECT_EQ(circles->colordecoding(0, 1.0f / 255.0f, 0), 256);
    EXPECT_EQ(circles->colordecoding(1.0f / 255.0f, 0, 0), 65536);
    circles->addCircleNode(65535, 30, 200, 10, 1, 0, 0);
    circles->createVbo();
    circles->selectNodes(25, 195, 10, 10);
    EXPECT_EQ(circles->found_list, std::vector<int>{65535});
}
