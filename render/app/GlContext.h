// The renderer's own GL context and the frame buffer it draws into: EGL
// without a display (Mesa's surfaceless platform, else a GPU's EGL device),
// or GLX on the current display when asked.
#pragma once

#include <GL/glew.h>

#include <memory>
#include <string>

namespace qvr {

enum class GlApi { Egl, Glx };

class OffscreenContext {
public:
    // Makes a compatibility-profile context current and an RGBA8 + depth/stencil
    // frame buffer of width x height bound for drawing and reading; null with
    // `error` set when any step fails.
    static std::unique_ptr<OffscreenContext> create(GlApi api, int width, int height, std::string& error);
    ~OffscreenContext();
    OffscreenContext(const OffscreenContext&) = delete;
    OffscreenContext& operator=(const OffscreenContext&) = delete;

    // The GL renderer's name, for progress lines and benchmarks.
    std::string renderer() const;

    struct Platform;

private:
    OffscreenContext() = default;
    bool makeFrameBuffer(int width, int height, std::string& error);

    std::unique_ptr<Platform> m_platform;
    GLuint m_fbo = 0, m_colour = 0, m_depth = 0;
};

} // namespace qvr
