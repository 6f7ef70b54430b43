// The recording's marks over the picture: interest areas, scan path,
// fixation circles with their order numbers, and the eye's position, drawn
// through the library's polygon, circle and font code.
#pragma once

#include "app/Aoi.h"
#include "readers/Recording.h"

#include <memory>
#include <string>
#include <vector>

class CircleDataSets;
class QX_FTFont;

namespace qvr {

struct Options;

class Overlay {
public:
    Overlay(int width, int height, std::vector<Sample> fixations, std::vector<Aoi> aois);
    ~Overlay();
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;

    // Draws the layers `options` asks for, with the first `shown` fixations
    // (all of them when shown < 0).
    void draw(const Options& options, long shown = -1);
    // A filled dot where the eye is.
    void drawEye(double x, double y);

private:
    void drawAois();
    void drawScanpath(long shown);
    void drawNumbers(long shown);
    void drawLabel(const std::string& text, double x, double y, float r, float g, float b);

    int m_width, m_height;
    std::vector<Sample> m_fixations;
    std::vector<Aoi> m_aois;
    std::unique_ptr<CircleDataSets> m_circles;
    std::unique_ptr<QX_FTFont> m_font;
};

} // namespace qvr
