// The one GL loader and the objects that load through it.
#include "gl/GLCache.h"
#include "gl/GlLoader.h"
#include "overlay/QX_FTFont.h"
#include "support/GlContext.h"
#include "support/SyslogCapture.h"

#include <GL/glx.h>

#include <array>
#include <functional>

namespace {
std::array<void*, 4> entryPoints()
{
    return {reinterpret_cast<void*>(__glewCreateShader), reinterpret_cast<void*>(__glewGenBuffers),
            reinterpret_cast<void*>(__glewBindFramebuffer),
            reinterpret_cast<void*>(__glewDrawElementsInstanced)};
}
} // namespace

// Contexts are remembered by address (no new glewInit for a later context at a dead one's
// address): safe only while GLEW's entry points are the same for every context, GL 2.1 or today's.
TEST(GlLoader, EntryPointsAreTheSameForEveryContextGl21)
{
    std::array<void*, 4> first{};
    for (int round = 0; round < 3; ++round) {
        qvtest::GlContext gl(16, 16); // loads through qv::loadGlEntryPoints
        ASSERT_TRUE(gl.ok() && gl.error().empty()) << gl.error();
        EXPECT_TRUE(qv::hasCurrentGlContext());
        if (round == 0)
            first = entryPoints();
        EXPECT_EQ(entryPoints(), first) << "round " << round;
        const GLuint shader = glCreateShader(GL_VERTEX_SHADER);
        EXPECT_NE(shader, 0u) << "round " << round;
        glDeleteShader(shader);
    }
    EXPECT_FALSE(qv::hasCurrentGlContext());
    EXPECT_EQ(qv::loadGlEntryPoints(), GLenum(GLEW_ERROR_NO_GL_VERSION));
}

// Loading decides by GLEW's own result, which fails here only without a current context;
// these two constructors touch no GL 2+ entry point, so they run safely without one.
TEST(GlLoader, ObjectsLogAFailedLoadWithGlewsText)
{
    if (Display* display = glXGetCurrentDisplay())
        glXMakeCurrent(display, None, nullptr);
    ASSERT_FALSE(qv::hasCurrentGlContext());
    const struct {
        const char* name;
        std::function<void()> construct;
    } objects[] = {
        {"QX_FTFont", [] { QX_FTFont font(const_cast<char*>("a.ttf"), 20); }},
        {"GLCache", [] { GLCache cache; }},
    };
    for (const auto& object : objects) {
        qvtest::clearSyslog();
        object.construct();
        EXPECT_TRUE(qvtest::syslogContains(" failed init glew Missing GL version")) << object.name;
    }
    qvtest::GlContext gl(16, 16);
    ASSERT_TRUE(gl.ok()) << gl.error();
    qvtest::clearSyslog();
    glEnable(0x1234); // a pending GL error is the caller's, not a failed load
    for (const auto& object : objects)
        object.construct();
    EXPECT_FALSE(qvtest::syslogContains(" failed init glew "));
    while (glGetError() != GL_NO_ERROR) { }
}
