#include "app/Canvas.h"

#include "gl/TextureManager.h"

#include <algorithm>

namespace qvr {

bool readInputs(const Options& o, int width, int height, std::vector<Recording>& recordings,
                std::vector<Aoi>& aois, std::string& error)
{
    ReadOptions read;
    read.format = o.format;
    read.source = o.source;
    read.minConfidence = o.minConfidence;
    read.width = width;
    read.height = height;
    for (const std::string& path : o.data) {
        recordings.emplace_back();
        if (!readRecording(path, read, recordings.back(), error))
            return false;
        if (recordings.back().skippedRows > 0)
            std::fprintf(stderr, "quorvex-render: %s: %zu rows skipped\n", path.c_str(),
                         recordings.back().skippedRows);
    }
    if (!o.aoiFile.empty() && !readAois(o.aoiFile, aois, error))
        return false;
    return true;
}

double heatWeight(const Options& o, const Recording& r, const Sample& s)
{
    const bool byDuration =
        o.weight == Weight::Duration || (o.weight == Weight::Auto && r.source == Source::Fixations);
    if (!byDuration)
        return 1.0;
    // A fixation without a duration still counts, as the shortest one would.
    return s.durationMs > 0 ? s.durationMs : 1.0;
}

Canvas::Canvas(const Options& options, int width, int height)
    : m_options(options), m_width(width), m_height(height)
{
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, height, 0, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

bool Canvas::prepare(const std::vector<Recording>& recordings, std::vector<Aoi> aois, std::string& error)
{
    if (m_options.layers.heatmap) {
        m_heat = HeatLayer::create(m_width, m_height, m_options.sigma);
        if (m_heat == nullptr) {
            error = "the heat map's GPU programs cannot be built on this GL";
            return false;
        }
    }
    const Layers& l = m_options.layers;
    if (l.fixations || l.scanpath || l.numbers || l.aoi) {
        std::vector<Sample> fixations;
        if (!recordings.empty() && recordings[0].source == Source::Fixations)
            fixations = recordings[0].samples;
        m_overlay = std::make_unique<Overlay>(m_width, m_height, std::move(fixations), std::move(aois));
    }
    return true;
}

bool Canvas::useStimulus(const std::string& path, std::string& error)
{
    TextureManager* textures = TextureManager::getInstance();
    TexDetail* detail = textures != nullptr ? textures->LoadTexture(path.c_str(), false) : nullptr;
    if (detail == nullptr || detail->id == 0) {
        error = path + ": the image cannot be decoded";
        return false;
    }
    const std::string name = path;
    m_drawBase = [name, this]() {
        TextureManager::getInstance()->drawPlainTexture(name.c_str(), 0, 0, static_cast<float>(m_width),
                                                        static_cast<float>(m_height), false);
    };
    return true;
}

void Canvas::addHeat(const Recording& r, bool normalised)
{
    if (m_heat == nullptr)
        return;
    double total = 0.0;
    if (normalised) {
        for (const Sample& s : r.samples)
            if (m_heat->contains(s.x, s.y))
                total += heatWeight(m_options, r, s);
    }
    const double factor = normalised && total > 0 ? 1.0 / total : 1.0;
    for (const Sample& s : r.samples) {
        m_heat->add(s.x, s.y, heatWeight(m_options, r, s) * factor);
        ++m_points;
    }
}

void Canvas::addHeatSample(const Recording& r, const Sample& s)
{
    if (m_heat != nullptr)
        m_heat->add(s.x, s.y, heatWeight(m_options, r, s));
    ++m_points;
}

void Canvas::drawBase()
{
    if (m_drawBase) {
        m_drawBase();
        return;
    }
    glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void Canvas::draw(long shownFixations)
{
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawBase();
    if (m_heat != nullptr) {
        m_heat->draw();
        if (m_options.alpha < 1.0) {
            // Heat at opacity A: the base again over it at 1 - A.
            glEnable(GL_BLEND);
            glBlendColor(0, 0, 0, static_cast<float>(1.0 - m_options.alpha));
            glBlendFunc(GL_CONSTANT_ALPHA, GL_ONE_MINUS_CONSTANT_ALPHA);
            if (m_drawBase) {
                m_drawBase();
            } else {
                glColor4f(0.5f, 0.5f, 0.5f, 1.0f);
                glRectf(0, 0, static_cast<float>(m_width), static_cast<float>(m_height));
            }
            glDisable(GL_BLEND);
        }
    }
    if (m_overlay != nullptr)
        m_overlay->draw(m_options, shownFixations);
}

} // namespace qvr
