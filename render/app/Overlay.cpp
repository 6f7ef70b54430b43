#include "app/Overlay.h"

#include "app/Options.h"
#include "overlay/CircleDataSets.h"
#include "overlay/GLPolygon.h"
#include "overlay/QX_FTFont.h"

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace qvr {

namespace {

// A fixation's circle grows with its duration: 200 ms is 30 px across.
float circleSize(const Sample& f)
{
    const double d = f.durationMs > 0 ? 16.0 + f.durationMs * 0.07 : 24.0;
    return static_cast<float>(std::clamp(d, 12.0, 96.0));
}

constexpr int kLabelSize = 14;

} // namespace

Overlay::Overlay(int width, int height, std::vector<Sample> fixations, std::vector<Aoi> aois)
    : m_width(width), m_height(height), m_fixations(std::move(fixations)), m_aois(std::move(aois))
{
    m_circles = std::make_unique<CircleDataSets>(width, height);
    const int count = static_cast<int>(std::min<size_t>(m_fixations.size(), CircleDataSets::kCapacity));
    for (int i = 0; i < count; ++i) {
        const Sample& f = m_fixations[static_cast<size_t>(i)];
        m_circles->addCircleNode(static_cast<float>(f.x), static_cast<float>(f.y), circleSize(f), 0.1f, 0.6f,
                                 1.0f);
    }
    m_circles->createVbo();
    // No name: the font next to the library.
    char noName[] = "";
    m_font = std::make_unique<QX_FTFont>(noName, kLabelSize);
    if (m_font->init() != 1)
        m_font.reset();
}

Overlay::~Overlay() = default;

void Overlay::drawAois()
{
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    for (const Aoi& aoi : m_aois) {
        const int n = static_cast<int>(aoi.xs.size());
        glColor4f(1.0f, 0.85f, 0.2f, 0.18f);
        fillPolygon(aoi.xs.data(), aoi.ys.data(), n);
        glColor4f(1.0f, 0.85f, 0.2f, 0.9f);
        glLineWidth(2.0f);
        glBegin(GL_LINES); // the outline gives its edges as vertex pairs
        drawPolygonOutline(aoi.xs.data(), aoi.ys.data(), n);
        glEnd();
        if (!aoi.name.empty())
            drawLabel(aoi.name, aoi.xs[0] + 4, aoi.ys[0] + kLabelSize + 2, 1.0f, 0.85f, 0.2f);
    }
    glLineWidth(1.0f);
    glDisable(GL_BLEND);
}

void Overlay::drawScanpath(long shown)
{
    if (shown < 2)
        return;
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LINE_SMOOTH);
    glLineWidth(2.0f);
    glColor4f(0.1f, 0.6f, 1.0f, 0.8f);
    glBegin(GL_LINE_STRIP);
    for (long i = 0; i < shown; ++i)
        glVertex2d(m_fixations[static_cast<size_t>(i)].x, m_fixations[static_cast<size_t>(i)].y);
    glEnd();
    glLineWidth(1.0f);
    glDisable(GL_LINE_SMOOTH);
    glDisable(GL_BLEND);
}

void Overlay::drawLabel(const std::string& text, double x, double y, float r, float g, float b)
{
    if (m_font == nullptr)
        return;
    // The font lays glyphs out for y-up matrices; the picture's units run y-down.
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, m_width, 0, m_height, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    std::string label = text;
    m_font->drawFont(static_cast<int>(x), static_cast<int>(m_height - y), label.data(), kLabelSize, r, g, b);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

void Overlay::drawNumbers(long shown)
{
    for (long i = 0; i < shown; ++i) {
        const Sample& f = m_fixations[static_cast<size_t>(i)];
        const double half = circleSize(f) / 2;
        drawLabel(std::to_string(i + 1), f.x + half * 0.5, f.y - half * 0.3, 1.0f, 1.0f, 1.0f);
    }
}

void Overlay::draw(const Options& options, long shown)
{
    const long all = static_cast<long>(std::min<size_t>(m_fixations.size(), CircleDataSets::kCapacity));
    shown = shown < 0 ? all : std::min(shown, all);
    if (options.layers.aoi)
        drawAois();
    if (options.layers.scanpath)
        drawScanpath(shown);
    if (options.layers.fixations && shown > 0) {
        m_circles->totalNodes = static_cast<int>(shown);
        glLineWidth(2.0f);
        m_circles->renderVbo(0);
        glLineWidth(1.0f);
    }
    if (options.layers.numbers)
        drawNumbers(shown);
}

void Overlay::drawEye(double x, double y)
{
    m_circles->drawSingleCircle(static_cast<float>(x), static_cast<float>(y), 4.0f, 4.0f, 1.0f, 0.15f, 0.15f,
                                1, 0.85f);
}

} // namespace qvr
