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

// The caller-visible state the library's draws touch, by name. Capturing
// changes nothing: the active unit is put back after the per-unit reads.
class GlState {
public:
    static constexpr int kUnits = 4;

    static GlState capture()
    {
        GlState s;
        for (auto cap :
             {std::make_pair("blend", GL_BLEND), std::make_pair("depth test", GL_DEPTH_TEST),
              std::make_pair("scissor test", GL_SCISSOR_TEST), std::make_pair("cull face", GL_CULL_FACE),
              std::make_pair("texture 2d on", GL_TEXTURE_2D),
              std::make_pair("texture rect on", GL_TEXTURE_RECTANGLE),
              std::make_pair("line stipple", GL_LINE_STIPPLE), std::make_pair("line smooth", GL_LINE_SMOOTH),
              std::make_pair("vertex array", GL_VERTEX_ARRAY), std::make_pair("colour array", GL_COLOR_ARRAY),
              std::make_pair("tex coord array", GL_TEXTURE_COORD_ARRAY)})
            s.fields_.push_back({cap.first, {double(glIsEnabled(cap.second))}});
        s.ints("blend func", {GL_BLEND_SRC_RGB, GL_BLEND_DST_RGB, GL_BLEND_SRC_ALPHA, GL_BLEND_DST_ALPHA});
        s.ints("blend equation", {GL_BLEND_EQUATION_RGB, GL_BLEND_EQUATION_ALPHA});
        s.ints("depth func", {GL_DEPTH_FUNC});
        s.ints("active texture", {GL_ACTIVE_TEXTURE});
        GLint active = GL_TEXTURE0;
        glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
        for (int unit = 0; unit < kUnits; ++unit) {
            glActiveTexture(GLenum(GL_TEXTURE0 + unit));
            const std::string u = " unit " + std::to_string(unit);
            s.ints("texture 1d" + u, {GL_TEXTURE_BINDING_1D});
            s.ints("texture 2d" + u, {GL_TEXTURE_BINDING_2D});
            s.ints("texture rect" + u, {GL_TEXTURE_BINDING_RECTANGLE});
        }
        glActiveTexture(GLenum(active));
        s.textureParameters();
        s.ints("array buffer", {GL_ARRAY_BUFFER_BINDING});
        s.ints("element buffer", {GL_ELEMENT_ARRAY_BUFFER_BINDING});
        s.ints("pack buffer", {GL_PIXEL_PACK_BUFFER_BINDING});
        s.ints("unpack buffer", {GL_PIXEL_UNPACK_BUFFER_BINDING});
        s.ints("draw framebuffer", {GL_DRAW_FRAMEBUFFER_BINDING});
        s.ints("read framebuffer", {GL_READ_FRAMEBUFFER_BINDING});
        s.ints("renderbuffer", {GL_RENDERBUFFER_BINDING});
        s.ints("read buffer", {GL_READ_BUFFER});
        s.ints("draw buffer", {GL_DRAW_BUFFER});
        s.ints("program", {GL_CURRENT_PROGRAM});
        s.ints("viewport", {GL_VIEWPORT}, 4);
        s.ints("scissor box", {GL_SCISSOR_BOX}, 4);
        s.ints("matrix mode", {GL_MATRIX_MODE});
        s.ints("modelview depth", {GL_MODELVIEW_STACK_DEPTH});
        s.ints("projection depth", {GL_PROJECTION_STACK_DEPTH});
        s.ints("texture matrix depth", {GL_TEXTURE_STACK_DEPTH});
        s.floats("modelview", GL_MODELVIEW_MATRIX, 16);
        s.floats("projection", GL_PROJECTION_MATRIX, 16);
        s.floats("texture matrix", GL_TEXTURE_MATRIX, 16);
        s.ints("attrib stack", {GL_ATTRIB_STACK_DEPTH, GL_CLIENT_ATTRIB_STACK_DEPTH});
        s.ints("pack alignment", {GL_PACK_ALIGNMENT});
        s.ints("pack row length", {GL_PACK_ROW_LENGTH});
        s.ints("pack skip", {GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS});
        s.ints("unpack alignment", {GL_UNPACK_ALIGNMENT});
        s.ints("unpack row length", {GL_UNPACK_ROW_LENGTH});
        s.ints("unpack skip", {GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS});
        s.floats("clear colour", GL_COLOR_CLEAR_VALUE, 4);
        s.floats("current colour", GL_CURRENT_COLOR, 4);
        s.floats("line width", GL_LINE_WIDTH, 1);
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
    // One field of one or more single-value queries, or of one n-value query.
    void ints(const std::string& name, std::initializer_list<GLenum> what, int n = 1)
    {
        std::vector<double> values;
        for (GLenum w : what) {
            GLint v[4] = {0, 0, 0, 0};
            glGetIntegerv(w, v);
            values.insert(values.end(), v, v + n);
        }
        fields_.push_back({name, values});
    }
    void floats(const char* name, GLenum what, int n)
    {
        GLfloat v[16] = {0};
        glGetFloatv(what, v);
        fields_.push_back({name, std::vector<double>(v, v + n)});
    }
    // Filters, wraps and levels of the 2D texture bound on the active unit.
    void textureParameters()
    {
        std::vector<double> values;
        for (GLenum p : {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER, GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T,
                         GL_TEXTURE_BASE_LEVEL, GL_TEXTURE_MAX_LEVEL}) {
            GLint v = 0;
            glGetTexParameteriv(GL_TEXTURE_2D, p, &v);
            values.push_back(v);
        }
        fields_.push_back({"texture 2d parameters", values});
    }
    std::vector<std::pair<std::string, std::vector<double>>> fields_;
};

// A caller whose state is nowhere GL's default: textures on units 0-3, every
// buffer and a frame buffer bound, its own program, pixel store, matrices and
// settings. `apply` sets all of it again, so a draw that resets something to
// its default shows as a change as well as one that leaks its own state.
class CallerState {
public:
    CallerState()
    {
        glGenTextures(3 * GlState::kUnits, &textures_[0][0]);
        glGenBuffers(4, buffers_);
        for (int i = 0; i < 4; ++i) {
            glBindBuffer(kBufferTargets[i], buffers_[i]);
            glBufferData(kBufferTargets[i], 64, nullptr, GL_STATIC_DRAW);
            glBindBuffer(kBufferTargets[i], 0);
        }
        glGenTextures(1, &colour_);
        glBindTexture(GL_TEXTURE_2D, colour_);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 256, 256, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glBindTexture(GL_TEXTURE_2D, 0);
        glGenRenderbuffers(1, &depth_);
        glBindRenderbuffer(GL_RENDERBUFFER, depth_);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, 256, 256);
        glGenFramebuffers(1, &frameBuffer_);
        glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer_);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour_, 0);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        const char* vs = "void main() { gl_Position = ftransform(); }";
        const char* fs = "void main() { gl_FragColor = vec4(1.0); }";
        program_ = glCreateProgram();
        for (auto source : {std::make_pair(GL_VERTEX_SHADER, vs), std::make_pair(GL_FRAGMENT_SHADER, fs)}) {
            const GLuint shader = glCreateShader(source.first);
            glShaderSource(shader, 1, &source.second, nullptr);
            glCompileShader(shader);
            glAttachShader(program_, shader);
            glDeleteShader(shader);
        }
        glLinkProgram(program_);
    }
    ~CallerState()
    {
        glUseProgram(0);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        for (GLenum target : kBufferTargets)
            glBindBuffer(target, 0);
        glDeleteProgram(program_);
        glDeleteFramebuffers(1, &frameBuffer_);
        glDeleteRenderbuffers(1, &depth_);
        glDeleteTextures(1, &colour_);
        glDeleteBuffers(4, buffers_);
        glDeleteTextures(3 * GlState::kUnits, &textures_[0][0]);
        glActiveTexture(GL_TEXTURE0);
        for (GLenum p : {GL_PACK_ROW_LENGTH, GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS, GL_UNPACK_ROW_LENGTH,
                         GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS})
            glPixelStorei(p, 0);
    }
    CallerState(const CallerState&) = delete;
    CallerState& operator=(const CallerState&) = delete;

    // `frameBuffer` false draws into the window (for the read-backs of the view).
    void apply(bool frameBuffer = true) const
    {
        for (int unit = GlState::kUnits - 1; unit >= 0; --unit) {
            glActiveTexture(GLenum(GL_TEXTURE0 + unit));
            glBindTexture(GL_TEXTURE_1D, textures_[unit][0]);
            glBindTexture(GL_TEXTURE_2D, textures_[unit][1]);
            glBindTexture(GL_TEXTURE_RECTANGLE, textures_[unit][2]);
            glDisable(GL_TEXTURE_2D);
            glDisable(GL_TEXTURE_RECTANGLE);
            glMatrixMode(GL_TEXTURE);
            glLoadIdentity();
        }
        glActiveTexture(GL_TEXTURE1);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_MIRRORED_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 1);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 3);
        glScalef(2, 3, 1); // the texture matrix of unit 1
        for (int i = 0; i < 4; ++i)
            glBindBuffer(kBufferTargets[i], buffers_[i]);
        glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer ? frameBuffer_ : 0);
        glBindRenderbuffer(GL_RENDERBUFFER, depth_);
        glReadBuffer(frameBuffer ? GL_COLOR_ATTACHMENT0 : GL_FRONT);
        glDrawBuffer(frameBuffer ? GL_COLOR_ATTACHMENT0 : GL_FRONT);
        glUseProgram(program_);
        for (GLenum cap : {GL_BLEND, GL_DEPTH_TEST, GL_LINE_SMOOTH})
            glEnable(cap);
        for (GLenum cap : {GL_SCISSOR_TEST, GL_CULL_FACE, GL_LINE_STIPPLE})
            glDisable(cap);
        for (GLenum array : {GL_VERTEX_ARRAY, GL_COLOR_ARRAY, GL_TEXTURE_COORD_ARRAY})
            glDisableClientState(array);
        glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE);
        glBlendEquationSeparate(GL_FUNC_ADD, GL_MAX);
        glDepthFunc(GL_LEQUAL);
        glViewport(3, 4, 250, 240);
        glScissor(1, 2, 200, 100);
        glMatrixMode(GL_PROJECTION);
        while (depth(GL_PROJECTION_STACK_DEPTH) > 1)
            glPopMatrix();
        glLoadIdentity();
        glOrtho(0, 256, 256, 0, -1, 1);
        glPushMatrix();
        glMatrixMode(GL_MODELVIEW);
        while (depth(GL_MODELVIEW_STACK_DEPTH) > 1)
            glPopMatrix();
        glLoadIdentity();
        glPushMatrix();
        glTranslatef(1, 2, 0);
        for (auto p : {std::make_pair(GL_PACK_ALIGNMENT, 2), std::make_pair(GL_PACK_ROW_LENGTH, 7),
                       std::make_pair(GL_PACK_SKIP_ROWS, 1), std::make_pair(GL_PACK_SKIP_PIXELS, 2),
                       std::make_pair(GL_UNPACK_ALIGNMENT, 8), std::make_pair(GL_UNPACK_ROW_LENGTH, 5),
                       std::make_pair(GL_UNPACK_SKIP_ROWS, 1), std::make_pair(GL_UNPACK_SKIP_PIXELS, 2)})
            glPixelStorei(p.first, p.second);
        glClearColor(0.1f, 0.2f, 0.3f, 0.4f);
        glColor4f(0.25f, 0.5f, 0.75f, 0.5f);
        glLineWidth(2.0f);
    }

private:
    static GLint depth(GLenum which)
    {
        GLint d = 0;
        glGetIntegerv(which, &d);
        return d;
    }
    static constexpr GLenum kBufferTargets[4] = {GL_ARRAY_BUFFER, GL_ELEMENT_ARRAY_BUFFER,
                                                 GL_PIXEL_PACK_BUFFER, GL_PIXEL_UNPACK_BUFFER};
    GLuint textures_[GlState::kUnits][3] = {};
    GLuint buffers_[4] = {};
    GLuint colour_ = 0, depth_ = 0, frameBuffer_ = 0, program_ = 0;
};

struct Probe {
    int x, y;
    Rgba colour;
};

// Every probe within `tolerance` per channel; failures name the probe.
inline void expectPixels(const GlContext& gl, std::initializer_list<Probe> probes, int tolerance)
{
    for (const Probe& p : probes)
        EXPECT_TRUE(pixelNear(gl.pixel(p.x, p.y), p.colour, tolerance))
            << " at (" << p.x << ", " << p.y << ")";
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
             glIsShader(name) + glIsBuffer(name);
    return n;
}

const Rgba kBlack{0, 0, 0, 255};
const Rgba kRed{255, 0, 0, 255};
const Rgba kGreen{0, 255, 0, 255};
const Rgba kBlue{0, 0, 255, 255};
const Rgba kWhite{255, 255, 255, 255};

} // namespace qvtest
