// Interest-area polygons: outlines inside the caller's primitive, tessellated fills.
// Pixel probes are exact (tolerance 0).
#include "overlay/GLPolygon.h"
#include "support/GlState.h"

#include <cmath>
#include <string>
#include <vector>

using namespace qvtest;

class PolygonTest : public GlTest {
protected:
    void SetUp() override
    {
        GlTest::SetUp();
        glColor4f(1, 1, 1, 1);
    }
};

TEST_F(PolygonTest, FillsCoverExactlyTheirPixels)
{
    // A pentagram drawn point to point: five crossings make five combine vertices.
    std::vector<float> starX, starY;
    for (int k = 0; k < 5; ++k) {
        const double a = -M_PI / 2 + k * 4 * M_PI / 5;
        starX.push_back(static_cast<float>(128 + 100 * std::cos(a)));
        starY.push_back(static_cast<float>(128 + 100 * std::sin(a)));
    }
    const Rgba& in = kWhite;
    const Rgba& out = kBlack;
    const std::vector<Probe> squareProbes = {
        {50, 50, in}, {149, 149, in}, {49, 100, out}, {150, 100, out}, {100, 150, out}};
    // A "U": the notch between x 90..130 below y 100 must stay empty.
    const std::vector<Probe> uProbes = {{60, 180, in},   {160, 180, in},  {110, 60, in},
                                        {110, 150, out}, {110, 199, out}, {95, 120, out}};
    // Centre pentagon (winding 2) and points (winding 1) filled, the gaps between points not.
    const std::vector<Probe> starProbes = {{128, 128, in}, {128, 40, in}, {60, 60, out}, {128, 220, out}};
    const struct {
        const char* what;
        std::vector<float> xs, ys;
        const std::vector<Probe>& probes;
        size_t records;
    } cases[] = {
        {"square", {50, 150, 150, 50}, {50, 50, 150, 150}, squareProbes, 4},
        {"concave", {40, 180, 180, 130, 130, 90, 90, 40}, {40, 40, 200, 200, 100, 100, 200, 200}, uProbes, 8},
        {"star", starX, starY, starProbes, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        glClear(GL_COLOR_BUFFER_BIT);
        ASSERT_TRUE(fillPolygon(c.xs.data(), c.ys.data(), static_cast<int>(c.xs.size())));
        for (const Probe& p : c.probes)
            EXPECT_PIXEL(gl(), p.x, p.y, p.colour, 0);
        EXPECT_EQ(lastFillRecordCount, c.records);
        EXPECT_TRUE(vectors.empty()) << "combine vertices were not freed";
        // The integer form fills the same pixels.
        const std::vector<unsigned char> asFloats = readCanvas(kWidth, kHeight);
        std::vector<int> xi(c.xs.begin(), c.xs.end()), yi(c.ys.begin(), c.ys.end());
        if (std::string(c.what) != "star") {
            glClear(GL_COLOR_BUFFER_BIT);
            ASSERT_TRUE(fillPolygon(xi.data(), yi.data(), static_cast<int>(xi.size())));
            EXPECT_EQ(readCanvas(kWidth, kHeight), asFloats);
        }
    }
}

TEST_F(PolygonTest, OutlineIssuesOneVertexPairPerEdgeInsideTheCallersLines)
{
    const float xs[] = {10, 20, 30};
    const float ys[] = {40, 50, 60};
    const auto fed = [&](int n) {
        std::vector<GLfloat> buffer(4096);
        glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_2D, buffer.data());
        glRenderMode(GL_FEEDBACK);
        glBegin(GL_LINES);
        drawPolygonOutline(xs, ys, n);
        glEnd();
        buffer.resize(glRenderMode(GL_RENDER));
        std::vector<long> out; // vertices of the line tokens, in window coordinates (y flipped)
        for (size_t i = 0; i + 5 <= buffer.size(); i += 5)
            for (size_t k = 1; k < 5; ++k)
                out.push_back(std::lround(buffer[i + k]));
        return out;
    };
    EXPECT_EQ(fed(3), (std::vector<long>{10, 216, 20, 206, 20, 206, 30, 196, 30, 196, 10, 216}));
    EXPECT_EQ(fed(1), (std::vector<long>{10, 216, 10, 216}));

    const int ix[] = {40, 200, 200, 40};
    const int iy[] = {40, 40, 180, 180};
    glTranslatef(0.5f, 0.5f, 0); // pixel centres, so the lines rasterise exactly
    glBegin(GL_LINES);
    drawPolygonOutline(ix, iy, 4);
    glEnd();
    // The closing edge back to vertex 0 is drawn; the inside is not filled.
    expectPixels(
        gl(),
        {{120, 40, kWhite}, {200, 110, kWhite}, {120, 180, kWhite}, {40, 110, kWhite}, {120, 110, kBlack}},
        0);
}
