// The caller's bindings and settings that a drawing object changes for its own
// work, saved at the start of a scope and put back at its end: the canvas keeps
// what it had, whether that was 0 (nothing bound) or one of its own objects.
#pragma once

#include <GL/glew.h>

#include <initializer_list>

namespace qv {

inline GLenum bindingQueryOf(GLenum target)
{
    switch (target) {
    case GL_TEXTURE_1D: return GL_TEXTURE_BINDING_1D;
    case GL_TEXTURE_2D: return GL_TEXTURE_BINDING_2D;
    case GL_TEXTURE_RECTANGLE: return GL_TEXTURE_BINDING_RECTANGLE;
    case GL_ARRAY_BUFFER: return GL_ARRAY_BUFFER_BINDING;
    case GL_ELEMENT_ARRAY_BUFFER: return GL_ELEMENT_ARRAY_BUFFER_BINDING;
    case GL_PIXEL_PACK_BUFFER: return GL_PIXEL_PACK_BUFFER_BINDING;
    case GL_PIXEL_UNPACK_BUFFER: return GL_PIXEL_UNPACK_BUFFER_BINDING;
    default: return 0;
    }
}

inline GLuint boundTo(GLenum target)
{
    GLint name = 0;
    glGetIntegerv(bindingQueryOf(target), &name);
    return static_cast<GLuint>(name);
}

// The texture bound to `target` on the active unit.
class SavedTexture {
public:
    explicit SavedTexture(GLenum target) : target_(target), name_(boundTo(target)) { }
    ~SavedTexture() { glBindTexture(target_, name_); }
    SavedTexture(const SavedTexture&) = delete;
    SavedTexture& operator=(const SavedTexture&) = delete;

private:
    GLenum target_;
    GLuint name_;
};

// Textures of the given targets on units 0 .. units-1, and the active unit.
class SavedTextures {
public:
    SavedTextures(std::initializer_list<GLenum> targets, int units) : units_(units < kUnits ? units : kUnits)
    {
        glGetIntegerv(GL_ACTIVE_TEXTURE, &active_);
        for (GLenum t : targets)
            if (targets_ < kTargets)
                target_[targets_++] = t;
        for (int u = 0; u < units_; ++u) {
            glActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + u));
            for (int t = 0; t < targets_; ++t)
                name_[u][t] = boundTo(target_[t]);
        }
        glActiveTexture(static_cast<GLenum>(active_));
    }
    ~SavedTextures()
    {
        for (int u = 0; u < units_; ++u) {
            glActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + u));
            for (int t = 0; t < targets_; ++t)
                glBindTexture(target_[t], name_[u][t]);
        }
        glActiveTexture(static_cast<GLenum>(active_));
    }
    SavedTextures(const SavedTextures&) = delete;
    SavedTextures& operator=(const SavedTextures&) = delete;

private:
    static constexpr int kUnits = 4, kTargets = 3;
    GLint active_ = GL_TEXTURE0;
    int units_ = 0, targets_ = 0;
    GLenum target_[kTargets] = {};
    GLuint name_[kUnits][kTargets] = {};
};

// Buffer objects bound to the given targets.
class SavedBuffers {
public:
    SavedBuffers(std::initializer_list<GLenum> targets)
    {
        for (GLenum t : targets)
            if (count_ < kTargets) {
                target_[count_] = t;
                name_[count_++] = boundTo(t);
            }
    }
    ~SavedBuffers()
    {
        for (int i = 0; i < count_; ++i)
            glBindBuffer(target_[i], name_[i]);
    }
    SavedBuffers(const SavedBuffers&) = delete;
    SavedBuffers& operator=(const SavedBuffers&) = delete;

private:
    static constexpr int kTargets = 4;
    int count_ = 0;
    GLenum target_[kTargets] = {};
    GLuint name_[kTargets] = {};
};

// The draw and read frame buffers and the render buffer binding.
class SavedFrameBuffers {
public:
    SavedFrameBuffers()
    {
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw_);
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read_);
        glGetIntegerv(GL_RENDERBUFFER_BINDING, &render_);
    }
    ~SavedFrameBuffers()
    {
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(draw_));
        glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read_));
        glBindRenderbuffer(GL_RENDERBUFFER, static_cast<GLuint>(render_));
    }
    SavedFrameBuffers(const SavedFrameBuffers&) = delete;
    SavedFrameBuffers& operator=(const SavedFrameBuffers&) = delete;

private:
    GLint draw_ = 0, read_ = 0, render_ = 0;
};

// The program in use.
class SavedProgram {
public:
    SavedProgram() { glGetIntegerv(GL_CURRENT_PROGRAM, &program_); }
    ~SavedProgram() { glUseProgram(static_cast<GLuint>(program_)); }
    SavedProgram(const SavedProgram&) = delete;
    SavedProgram& operator=(const SavedProgram&) = delete;

private:
    GLint program_ = 0;
};

// Capabilities switched by glEnable / glDisable.
class SavedCapabilities {
public:
    SavedCapabilities(std::initializer_list<GLenum> caps)
    {
        for (GLenum c : caps)
            if (count_ < kCaps) {
                cap_[count_] = c;
                on_[count_++] = glIsEnabled(c);
            }
    }
    ~SavedCapabilities()
    {
        for (int i = 0; i < count_; ++i)
            on_[i] ? glEnable(cap_[i]) : glDisable(cap_[i]);
    }
    SavedCapabilities(const SavedCapabilities&) = delete;
    SavedCapabilities& operator=(const SavedCapabilities&) = delete;

private:
    static constexpr int kCaps = 6;
    int count_ = 0;
    GLenum cap_[kCaps] = {};
    GLboolean on_[kCaps] = {};
};

// The viewport and scissor box, the clear colour and the matrix mode: the
// settings a pass into a frame buffer of its own size replaces.
class SavedPassSettings {
public:
    SavedPassSettings()
    {
        glGetIntegerv(GL_VIEWPORT, viewport_);
        glGetIntegerv(GL_SCISSOR_BOX, scissor_);
        glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_);
        glGetIntegerv(GL_MATRIX_MODE, &matrixMode_);
    }
    ~SavedPassSettings()
    {
        glViewport(viewport_[0], viewport_[1], viewport_[2], viewport_[3]);
        glScissor(scissor_[0], scissor_[1], scissor_[2], scissor_[3]);
        glClearColor(clear_[0], clear_[1], clear_[2], clear_[3]);
        glMatrixMode(static_cast<GLenum>(matrixMode_));
    }
    SavedPassSettings(const SavedPassSettings&) = delete;
    SavedPassSettings& operator=(const SavedPassSettings&) = delete;

private:
    GLint viewport_[4] = {}, scissor_[4] = {}, matrixMode_ = GL_MODELVIEW;
    GLfloat clear_[4] = {};
};

} // namespace qv
