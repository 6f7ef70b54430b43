#include "app/GlContext.h"

#include "gl/GlLoader.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glx.h>

#include <cstring>
#include <vector>

namespace qvr {

struct OffscreenContext::Platform {
    virtual ~Platform() = default;
};

namespace {

struct EglPlatform : OffscreenContext::Platform {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    ~EglPlatform() override
    {
        if (display == EGL_NO_DISPLAY)
            return;
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context != EGL_NO_CONTEXT)
            eglDestroyContext(display, context);
        eglTerminate(display);
    }
};

struct GlxPlatform : OffscreenContext::Platform {
    Display* display = nullptr;
    GLXPbuffer pbuffer = 0;
    GLXContext context = nullptr;
    ~GlxPlatform() override
    {
        if (display == nullptr)
            return;
        glXMakeContextCurrent(display, None, None, nullptr);
        if (context != nullptr)
            glXDestroyContext(display, context);
        if (pbuffer != 0)
            glXDestroyPbuffer(display, pbuffer);
        XCloseDisplay(display);
    }
};

bool hasExtension(const char* list, const char* name)
{
    const size_t n = std::strlen(name);
    for (const char* p = list; p != nullptr && (p = std::strstr(p, name)) != nullptr; p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0'))
            return true;
    return false;
}

// Mesa's surfaceless platform needs no device node at all; a machine with a
// GPU driver but no Mesa offers its devices instead.
EGLDisplay openEglDisplay()
{
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr)
        return EGL_NO_DISPLAY;
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
            return display;
    }
    auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    if (queryDevices == nullptr || !hasExtension(clientExtensions, "EGL_EXT_platform_device"))
        return EGL_NO_DISPLAY;
    EGLDeviceEXT devices[8];
    EGLint count = 0;
    if (!queryDevices(8, devices, &count))
        return EGL_NO_DISPLAY;
    for (EGLint i = 0; i < count; ++i) {
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
            return display;
    }
    return EGL_NO_DISPLAY;
}

std::unique_ptr<OffscreenContext::Platform> makeEgl(std::string& error)
{
    auto egl = std::make_unique<EglPlatform>();
    egl->display = openEglDisplay();
    if (egl->display == EGL_NO_DISPLAY) {
        error = "no EGL display: neither Mesa's surfaceless platform nor an EGL device is available";
        return nullptr;
    }
    if (!hasExtension(eglQueryString(egl->display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context")) {
        error = "the EGL display cannot make a context current without a surface";
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        error = "the EGL display offers no desktop OpenGL";
        return nullptr;
    }
    // No surface type: the context never gets a surface, only frame buffer objects.
    const EGLint configAttribs[] = {EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    if (!eglChooseConfig(egl->display, configAttribs, &config, 1, &configs) || configs < 1) {
        error = "no EGL configuration renders desktop OpenGL";
        return nullptr;
    }
    // The library draws with the fixed-function pipeline beside its programs.
    const EGLint contextAttribs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                     EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    egl->context = eglCreateContext(egl->display, config, EGL_NO_CONTEXT, contextAttribs);
    if (egl->context == EGL_NO_CONTEXT) {
        error = "cannot create an EGL OpenGL context";
        return nullptr;
    }
    if (!eglMakeCurrent(egl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, egl->context)) {
        error = "cannot make the EGL context current";
        return nullptr;
    }
    return egl;
}

std::unique_ptr<OffscreenContext::Platform> makeGlx(std::string& error)
{
    auto glx = std::make_unique<GlxPlatform>();
    glx->display = XOpenDisplay(nullptr);
    if (glx->display == nullptr) {
        error = "cannot open the X display (is DISPLAY set?)";
        return nullptr;
    }
    const int attribs[] = {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT, None};
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(glx->display, DefaultScreen(glx->display), attribs, &count);
    if (configs == nullptr || count < 1) {
        if (configs != nullptr)
            XFree(configs);
        error = "no GLX frame-buffer configuration with a pixel buffer";
        return nullptr;
    }
    const GLXFBConfig config = configs[0];
    XFree(configs);
    // The frame buffer object carries the picture; the pixel buffer only makes
    // the context current.
    const int pbufferAttribs[] = {GLX_PBUFFER_WIDTH, 1, GLX_PBUFFER_HEIGHT, 1, None};
    glx->pbuffer = glXCreatePbuffer(glx->display, config, pbufferAttribs);
    glx->context = glXCreateNewContext(glx->display, config, GLX_RGBA_TYPE, nullptr, True);
    if (glx->pbuffer == 0 || glx->context == nullptr ||
        !glXMakeContextCurrent(glx->display, glx->pbuffer, glx->pbuffer, glx->context)) {
        error = "cannot create and make current a GLX context";
        return nullptr;
    }
    return glx;
}

} // namespace

std::unique_ptr<OffscreenContext> OffscreenContext::create(GlApi api, int width, int height,
                                                           std::string& error)
{
    std::unique_ptr<OffscreenContext> context(new OffscreenContext());
    context->m_platform = api == GlApi::Egl ? makeEgl(error) : makeGlx(error);
    if (context->m_platform == nullptr)
        return nullptr;
    const GLenum loaded = qv::loadGlEntryPoints();
    if (loaded != GLEW_OK) {
        error = std::string("cannot load the GL entry points: ") +
                reinterpret_cast<const char*>(glewGetErrorString(loaded));
        return nullptr;
    }
    if (!context->makeFrameBuffer(width, height, error))
        return nullptr;
    return context;
}

bool OffscreenContext::makeFrameBuffer(int width, int height, std::string& error)
{
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSide);
    if (width < 1 || height < 1 || width > maxSide || height > maxSide) {
        error = "a picture of " + std::to_string(width) + "x" + std::to_string(height) +
                " does not fit this GL's largest render buffer side " + std::to_string(maxSide);
        return false;
    }
    glGenFramebuffers(1, &m_fbo);
    glGenRenderbuffers(1, &m_colour);
    glGenRenderbuffers(1, &m_depth);
    glBindRenderbuffer(GL_RENDERBUFFER, m_colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, m_depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_colour);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, m_depth);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        error = "the GL cannot draw into a " + std::to_string(width) + "x" + std::to_string(height) +
                " RGBA frame buffer";
        return false;
    }
    glViewport(0, 0, width, height);
    return true;
}

std::string OffscreenContext::renderer() const
{
    const GLubyte* name = glGetString(GL_RENDERER);
    return name != nullptr ? reinterpret_cast<const char*>(name) : "unknown";
}

OffscreenContext::~OffscreenContext()
{
    if (m_fbo != 0) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &m_fbo);
    }
    if (m_colour != 0)
        glDeleteRenderbuffers(1, &m_colour);
    if (m_depth != 0)
        glDeleteRenderbuffers(1, &m_depth);
}

} // namespace qvr
