// Interest-area polygons: outlines inside the caller's primitive, tessellated fills.
#include "overlay/GLPolygon.h"
#include "support/GlContext.h"

#include <cmath>
#include <functional>
#include <vector>

using qvtest::Rgba;

namespace {
const Rgba kWhite{255, 255, 255, 255};
const Rgba kBlack{0, 0, 0, 255};

// The vertices a call issues, as GL's feedback mode reports them.
std::vector<float> feedbackVertices(const std::function<void()>& draw)
{
    std::vector<GLfloat> buffer(4096);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_2D, buffer.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint n = glRenderMode(GL_RENDER);
    std::vector<float> out;
    for (GLint i = 0; i < n;) {
        const GLfloat token = buffer[i++];
        if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) {
            for (int k = 0; k < 4; ++k)
                out.push_back(buffer[i++]);
        } else {
            ADD_FAILURE() << "unexpected feedback token " << token;
            break;
        }
    }
    return out;
}
} // namespace

class PolygonTest : public qvtest::GlTest {
protected:
    void SetUp() override
    {
        qvtest::GlTest::SetUp();
        glColor4f(1, 1, 1, 1);
    }
};

TEST_F(PolygonTest, FilledSquareCoversExactlyItsPixels)
{
    const float xs[] = {50, 150, 150, 50};
    const float ys[] = {50, 50, 150, 150};
    ASSERT_TRUE(fillPolygon(xs, ys, 4));
    EXPECT_PIXEL(gl(), 50, 50, kWhite, 0);
    EXPECT_PIXEL(gl(), 149, 149, kWhite, 0);
    EXPECT_PIXEL(gl(), 100, 100, kWhite, 0);
    EXPECT_PIXEL(gl(), 49, 100, kBlack, 0);
    EXPECT_PIXEL(gl(), 150, 100, kBlack, 0);
    EXPECT_PIXEL(gl(), 100, 150, kBlack, 0);
    EXPECT_TRUE(vectors.empty());
}

TEST_F(PolygonTest, ConcaveNotchStaysEmpty)
{
    // A "U": the notch between x 90..130 above y 140 must not be filled.
    const int xs[] = {40, 180, 180, 130, 130, 90, 90, 40};
    const int ys[] = {40, 40, 200, 200, 100, 100, 200, 200};
    ASSERT_TRUE(fillPolygon(xs, ys, 8));
    EXPECT_PIXEL(gl(), 60, 180, kWhite, 0);
    EXPECT_PIXEL(gl(), 160, 180, kWhite, 0);
    EXPECT_PIXEL(gl(), 110, 60, kWhite, 0);
    EXPECT_PIXEL(gl(), 110, 150, kBlack, 0);
    EXPECT_PIXEL(gl(), 110, 199, kBlack, 0);
    EXPECT_PIXEL(gl(), 95, 120, kBlack, 0);
}

TEST_F(PolygonTest, SelfIntersectingStarFillsAndFreesCombineVertices)
{
    // A pentagram drawn point to point: five crossings make five combine vertices.
    const double kPi = 3.14159265358979323846;
    const float cx = 128, cy = 128, r = 100;
    float xs[5], ys[5];
    for (int k = 0; k < 5; ++k) {
        const double a = -kPi / 2 + k * 4 * kPi / 5;
        xs[k] = static_cast<float>(cx + r * std::cos(a));
        ys[k] = static_cast<float>(cy + r * std::sin(a));
    }
    ASSERT_TRUE(fillPolygon(xs, ys, 5));
    EXPECT_EQ(lastFillRecordCount, 10u);
    EXPECT_TRUE(vectors.empty());
    EXPECT_PIXEL(gl(), 128, 128, kWhite, 0);     // centre pentagon (winding 2)
    EXPECT_PIXEL(gl(), 128, 40, kWhite, 0);      // top point (winding 1)
    EXPECT_PIXEL(gl(), 60, 60, kBlack, 0);       // between the upper points
    EXPECT_PIXEL(gl(), 128, 220, kBlack, 0);     // below the centre, between the lower points
}

TEST_F(PolygonTest, IntegerFillMatchesFloatFill)
{
    const int xi[] = {20, 200, 120, 60};
    const int yi[] = {30, 60, 220, 150};
    const float xf[] = {20, 200, 120, 60};
    const float yf[] = {30, 60, 220, 150};
    ASSERT_TRUE(fillPolygon(xi, yi, 4));
    std::vector<unsigned char> a(kWidth * kHeight * 4), b(kWidth * kHeight * 4);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, a.data());
    glClear(GL_COLOR_BUFFER_BIT);
    ASSERT_TRUE(fillPolygon(xf, yf, 4));
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, b.data());
    EXPECT_EQ(a, b);
    EXPECT_PIXEL(gl(), 110, 100, kWhite, 0);
}

TEST_F(PolygonTest, OutlineIssuesOneVertexPairPerEdge)
{
    const float xs[] = {10, 20, 30};
    const float ys[] = {40, 50, 60};
    const auto three = feedbackVertices([&] {
        glBegin(GL_LINES);
        drawPolygonOutline(xs, ys, 3);
        glEnd();
    });
    // Feedback reports window coordinates: x as given, y flipped by the canvas projection.
    const std::vector<float> expected = {10, 216, 20, 206, 20, 206, 30, 196, 30, 196, 10, 216};
    ASSERT_EQ(three.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(three[i], expected[i], 1e-3) << "value " << i;

    const auto one = feedbackVertices([&] {
        glBegin(GL_LINES);
        drawPolygonOutline(xs, ys, 1);
        glEnd();
    });
    EXPECT_EQ(one, (std::vector<float>{10, 216, 10, 216}));
}

TEST_F(PolygonTest, OutlineInsideCallersLinesDrawsTheClosedOutline)
{
    const int xs[] = {40, 200, 200, 40};
    const int ys[] = {40, 40, 180, 180};
    glTranslatef(0.5f, 0.5f, 0); // pixel centres, so the lines rasterise exactly
    glBegin(GL_LINES);
    drawPolygonOutline(xs, ys, 4);
    glEnd();
    EXPECT_PIXEL(gl(), 120, 40, kWhite, 0);
    EXPECT_PIXEL(gl(), 200, 110, kWhite, 0);
    EXPECT_PIXEL(gl(), 120, 180, kWhite, 0);
    EXPECT_PIXEL(gl(), 40, 110, kWhite, 0);   // the closing edge back to vertex 0
    EXPECT_PIXEL(gl(), 120, 110, kBlack, 0);  // not filled
}
