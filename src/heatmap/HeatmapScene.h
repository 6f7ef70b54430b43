// Gaze heatmap: cells of gaze weight written into a square byte image, blurred
// on the GPU by a separable Gaussian in two render-to-texture passes, coloured
// through a small colour table and blended over the caller's drawing.
#pragma once

#include "gl/Program.h"
#include "heatmap/Scene.h"

#include <GL/glew.h>

#include <memory>

// Where the passes draw: up to two row spans (a span wraps round the top or
// bottom edge) and the columns holding non-zero cells.
struct PassRegion {
    int rowSpans;
    int rowFirst[2], rowLast[2];
    int colFirst, colLast;
};

class HeatmapScene : public Scene {
public:
    // Builds both GPU programs; m_init_successful is 0 when either fails.
    HeatmapScene();
    void initScene() override;
    void update(float t) override { }
    void render() override { }
    void resize(int w, int h) override { }
    // Releases every GL object the scene made and the heat image; needs the
    // scene's GL context current.
    virtual ~HeatmapScene();

    // Sets the cell of (x, y) in a w x h space to the low 8 bits of count.
    void updateHeatMapValue(int count, int x, int y, int w, int h);
    // Clears the heat image, then writes imageSize records of 40 bytes
    // (x, y, count as 32-bit integers, seven more unread); later records win.
    void updateHeatMapImage(const void* image, int w, int h, int imageSize);
    // Uploads, blurs and colours the heat image, then draws it as one quad of
    // w x h units in the caller's matrices; the image is cleared afterwards.
    void drawHeatMap();

    // Bytes of one record of updateHeatMapImage.
    static constexpr int kRecordBytes = 40;

    int m_init_successful = 1;
    GLuint renderFBO = 0;
    GLuint intermediateFBO = 0;
    GLuint renderTex = 0;
    GLuint intermediateTex = 0;
    GLuint heatmapLookupTex = 0;
    GLuint heatmapTextureId = 0;
    std::unique_ptr<Program> file_pass;
    std::unique_ptr<Program> rank_pass;
    // The second pass for columns whose taps all lie inside the image.
    std::unique_ptr<Program> rank_pass_inner;
    int defaultFboSize = 512;
    int m_heatmapW = 0;
    int m_heatmapH = 0;
    std::unique_ptr<unsigned char[]> heatMapImage;
    // Depth storage of renderFBO, kept so it can be released.
    GLuint renderDepth = 0;
    // The heat image heatmapTextureId holds and intermediateTex was made from
    // (all zero from initScene on), and what the colouring pass gives for zero
    // input, RGBA bytes.
    std::unique_ptr<unsigned char[]> passImage;
    GLubyte zeroColour[4] = {0, 0, 0, 0};

private:
    void createColorTable();
    void setupFbo();
    // Uploads passImage, the image the passes blur, into heatmapTextureId.
    void uploadHeatImage();
    // Cell index of (x, y) in a w x h space, or -1 when it lies outside.
    int cellOf(int x, int y, int w, int h) const;
    // The passes' frame: viewport, matrices, and the state they rely on.
    void beginPasses() const;
    void endPasses() const;
    // Draws the pass's quad once per row span of the region, scissored to
    // columns colFirst..colLast (nothing when that is empty).
    void drawRegion(const PassRegion& region, int colFirst, int colLast) const;
    void verticalPass(const PassRegion& region) const;
    void horizontalPass(const PassRegion& region) const;
    // Clears the bound frame buffer to the zero-input colour.
    void clearResult() const;
    // Blurs and colours passImage into intermediateTex where it can be non-zero.
    void runBlurPasses();
    // Measures the zero-input colour and makes intermediateTex the result of an all-zero image.
    void initResult();
    void drawBlurQuad() const;
    void drawResultQuad() const;
};
