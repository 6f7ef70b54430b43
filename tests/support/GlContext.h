// A real GLX context for native GL tests: a single-buffered pbuffer on the
// Xvfb display the test runner started (front and back reads see the drawing).
#pragma once

#include <gtest/gtest.h>

#include <GL/glew.h>

#include "support/Images.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

class GlContext {
public:
    GlContext(int width, int height);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    bool ok() const { return context_ != nullptr; }
    const std::string& error() const { return error_; }
    void makeCurrent();
    // The viewer's canvas projection: pixels, y growing downwards, identity model-view.
    void canvasProjection();
    int width() const { return width_; }
    int height() const { return height_; }

    // Pixel at canvas (x, y), in 0..255 per channel.
    Rgba pixel(int x, int y) const;

private:
    void* display_ = nullptr;
    unsigned long pbuffer_ = 0;
    void* context_ = nullptr;
    int width_, height_;
    std::string error_;
};

// Each test gets a fresh context of its own; GLEW is initialised in it.
class GlTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 256;
    static constexpr int kHeight = 256;
    void SetUp() override;
    void TearDown() override;
    GlContext& gl() { return *gl_; }
    int glMajorVersion() const;

private:
    GlContext* gl_ = nullptr;
};

// Channel-wise comparison with a tolerance (llvmpipe rasterises exactly, but
// blending and filtering round differently across drivers).
::testing::AssertionResult pixelNear(const Rgba& actual, const Rgba& expected, int tolerance);

// The viewer's canvas projection onto a viewport of viewW x viewH: a space of
// spaceW x spaceH pixels, y growing downwards, identity model-view.
void canvasProjection(int viewW, int viewH, int spaceW, int spaceH);
inline void canvasProjection(int w, int h) { canvasProjection(w, h, w, h); }
// RGBA bytes of level 0 of a w x h 2D texture, and of the framebuffer's lower-left w x h.
std::vector<uint8_t> readTexture(GLuint texture, int w, int h);
std::vector<uint8_t> readCanvas(int w, int h);

} // namespace qvtest

#define EXPECT_PIXEL(ctx, x, y, expected, tol)                                                               \
    EXPECT_TRUE(::qvtest::pixelNear((ctx).pixel((x), (y)), (expected), (tol)))                               \
        << " at (" << (x) << ", " << (y) << ")"
