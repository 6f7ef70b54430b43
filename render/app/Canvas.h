// One picture of a render: the base (stimulus, scene-video frame or a grey
// field), the heat layer and the recording's marks, in y-down pixel units.
#pragma once

#include "app/Aoi.h"
#include "app/HeatLayer.h"
#include "app/Options.h"
#include "app/Overlay.h"
#include "readers/Recording.h"

#include <GL/glew.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qvr {

// Reads every --data file (positions for a width x height picture) and the
// --aoi file; `error` names the file and what was wrong.
bool readInputs(const Options& options, int width, int height, std::vector<Recording>& recordings,
                std::vector<Aoi>& aois, std::string& error);

// What one sample adds to the heat under `options` (0: nothing).
double heatWeight(const Options& options, const Recording& recording, const Sample& sample);

class Canvas {
public:
    Canvas(const Options& options, int width, int height);
    // Builds the layers the options ask for; the marks show the first
    // recording's fixations.
    bool prepare(const std::vector<Recording>& recordings, std::vector<Aoi> aois, std::string& error);
    // The base becomes the stimulus image, through the texture manager.
    bool useStimulus(const std::string& path, std::string& error);
    // The base becomes whatever `drawBase` draws (a video frame).
    void useBase(std::function<void()> drawBase) { m_drawBase = std::move(drawBase); }
    // A recording's heat; `normalised` gives it a total weight of 1.
    void addHeat(const Recording& recording, bool normalised);
    void addHeatSample(const Recording& recording, const Sample& sample);
    // Draws everything into the bound frame buffer; `shownFixations` < 0 shows all.
    void draw(long shownFixations = -1);
    Overlay* overlay() { return m_overlay.get(); }
    size_t pointCount() const { return m_points; }

private:
    void drawBase();

    const Options& m_options;
    int m_width, m_height;
    std::function<void()> m_drawBase;
    std::unique_ptr<HeatLayer> m_heat;
    std::unique_ptr<Overlay> m_overlay;
    size_t m_points = 0;
};

} // namespace qvr
