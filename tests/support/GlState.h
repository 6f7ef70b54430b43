// Probes and a snapshot of the GL state the library must leave as it found
// it, so tests compare states instead of listing glGet calls by hand.
#pragma once

#include "support/GlContext.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace qvtest {

// The caller-visible state the library's draws touch, by name.
class GlState {
public:
    static GlState capture()
    {
        GlState s;
        s.ints("viewport", GL_VIEWPORT, 4);
        s.ints("matrix mode", GL_MATRIX_MODE);
        s.ints("draw framebuffer", GL_DRAW_FRAMEBUFFER_BINDING);
        s.ints("read framebuffer", GL_READ_FRAMEBUFFER_BINDING);
        s.ints("read buffer", GL_READ_BUFFER);
        s.ints("active texture", GL_ACTIVE_TEXTURE);
        s.ints("program", GL_CURRENT_PROGRAM);
        s.ints("texture 2d", GL_TEXTURE_BINDING_2D);
        s.ints("array buffer", GL_ARRAY_BUFFER_BINDING);
        s.ints("blend src", GL_BLEND_SRC_RGB);
        s.ints("depth func", GL_DEPTH_FUNC);
        s.ints("unpack alignment", GL_UNPACK_ALIGNMENT);
        s.ints("unpack row length", GL_UNPACK_ROW_LENGTH);
        s.ints("attrib stack", GL_ATTRIB_STACK_DEPTH);
        s.ints("modelview stack", GL_MODELVIEW_STACK_DEPTH);
        s.floats("clear colour", GL_COLOR_CLEAR_VALUE, 4);
        s.floats("current colour", GL_CURRENT_COLOR, 4);
        s.floats("projection", GL_PROJECTION_MATRIX, 16);
        s.floats("modelview", GL_MODELVIEW_MATRIX, 16);
        for (auto cap : {std::make_pair("blend", GL_BLEND), std::make_pair("depth test", GL_DEPTH_TEST),
                         std::make_pair("scissor test", GL_SCISSOR_TEST), std::make_pair("cull face", GL_CULL_FACE),
                         std::make_pair("texture 2d on", GL_TEXTURE_2D), std::make_pair("line stipple", GL_LINE_STIPPLE)})
            s.fields_.push_back({cap.first, {double(glIsEnabled(cap.second))}});
        return s;
    }
    // Names of the fields that differ from `before`, comma separated ("" when none).
    std::string changedFrom(const GlState& before) const
    {
        std::string out;
        for (size_t i = 0; i < fields_.size(); ++i)
            if (fields_[i].second != before.fields_[i].second)
                out += (out.empty() ? "" : ", ") + fields_[i].first;
        return out;
    }

private:
    void ints(const char* name, GLenum what, int n = 1)
    {
        GLint v[4] = {0, 0, 0, 0};
        glGetIntegerv(what, v);
        fields_.push_back({name, std::vector<double>(v, v + n)});
    }
    void floats(const char* name, GLenum what, int n)
    {
        GLfloat v[16] = {0};
        glGetFloatv(what, v);
        fields_.push_back({name, std::vector<double>(v, v + n)});
    }
    std::vector<std::pair<std::string, std::vector<double>>> fields_;
};

struct Probe {
    int x, y;
    Rgba colour;
};

// Every probe within `tolerance` per channel; failures name the probe.
inline void expectPixels(const GlContext& gl, std::initializer_list<Probe> probes, int tolerance)
{
    for (const Probe& p : probes)
        EXPECT_TRUE(pixelNear(gl.pixel(p.x, p.y), p.colour, tolerance)) << " at (" << p.x << ", " << p.y << ")";
}

// Pixels in [x0, x1) x [y0, y1) whose red channel exceeds 128.
inline int redPixels(const GlContext& gl, int x0, int y0, int x1, int y1)
{
    std::vector<unsigned char> px(size_t(gl.width()) * gl.height() * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, gl.width(), gl.height(), GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    int n = 0;
    x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, gl.width()), y1 = std::min(y1, gl.height());
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += px[(size_t(gl.height() - 1 - y) * gl.width() + x) * 4] > 128 ? 1 : 0;
    return n;
}

// Live GL names of the kinds the library makes, over a low name range.
inline int liveGlObjects(GLuint upTo = 512)
{
    int n = 0;
    for (GLuint name = 1; name < upTo; ++name)
        n += glIsTexture(name) + glIsFramebuffer(name) + glIsRenderbuffer(name) + glIsProgram(name) +
             glIsShader(name);
    return n;
}

const Rgba kBlack{0, 0, 0, 255};
const Rgba kRed{255, 0, 0, 255};
const Rgba kGreen{0, 255, 0, 255};
const Rgba kBlue{0, 0, 255, 255};
const Rgba kWhite{255, 255, 255, 255};

} // namespace qvtest
