#include "GlContext.h"

#include "gl/GlLoader.h"

#include <GL/glx.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qvtest {

namespace {
Display* dpy(void* d) { return static_cast<Display*>(d); }
GLXContext ctx(void* c) { return static_cast<GLXContext>(c); }

pid_t xvfbPid = 0;

void stopXvfb()
{
    if (xvfbPid > 0) {
        kill(xvfbPid, SIGTERM);
        waitpid(xvfbPid, nullptr, 0);
        xvfbPid = 0;
    }
}

// Tests bring their own X server: without a DISPLAY, start a private Xvfb
// (Mesa llvmpipe renders into it) and point DISPLAY at it for this process.
void ensureDisplay()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    const char* current = getenv("DISPLAY");
    if (current != nullptr && current[0] != '\0')
        return;
    int fds[2];
    if (pipe(fds) != 0)
        return;
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM); // never outlive a crashed test
        close(fds[0]);
        char fd[16];
        snprintf(fd, sizeof fd, "%d", fds[1]);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execlp("Xvfb", "Xvfb", "-displayfd", fd, "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return;
    }
    xvfbPid = pid;
    atexit(stopXvfb);
    // Xvfb writes its display number and a newline once it accepts clients.
    FILE* in = fdopen(fds[0], "r");
    int number = -1;
    const bool read = in != nullptr && fscanf(in, "%d", &number) == 1;
    if (in != nullptr)
        fclose(in);
    if (read)
        setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
}
} // namespace

GlContext::GlContext(int width, int height) : width_(width), height_(height)
{
    ensureDisplay();
    // One connection for the whole process: closing it would unload Mesa's
    // driver and leave its allocations without names for the leak checker.
    static Display* shared = XOpenDisplay(nullptr);
    Display* display = shared;
    display_ = display;
    if (display == nullptr) {
        error_ = "cannot open the X display (is Xvfb installed?)";
        return;
    }
    // clang-format off
    const int attribs[] = {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT,
                           GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8,
                           GLX_DEPTH_SIZE, 24, GLX_STENCIL_SIZE, 8, GLX_DOUBLEBUFFER, False, None};
    // clang-format on
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(display, DefaultScreen(display), attribs, &count);
    if (configs == nullptr || count == 0) {
        error_ = "no single-buffered RGBA pbuffer config";
        return;
    }
    const int pbufferAttribs[] = {GLX_PBUFFER_WIDTH, width, GLX_PBUFFER_HEIGHT, height, None};
    pbuffer_ = glXCreatePbuffer(display, configs[0], pbufferAttribs);
    // A legacy context is a compatibility-profile one, as the viewer's canvas gets.
    context_ = glXCreateNewContext(display, configs[0], GLX_RGBA_TYPE, nullptr, True);
    XFree(configs);
    if (context_ == nullptr) {
        error_ = "glXCreateNewContext failed";
        return;
    }
    makeCurrent();
    // The library's own loader, so tests see the entry points the library sees.
    const GLenum err = qv::loadGlEntryPoints();
    if (err != GLEW_OK)
        error_ = std::string("GL entry points: ") + reinterpret_cast<const char*>(glewGetErrorString(err));
    glViewport(0, 0, width, height);
}

GlContext::~GlContext()
{
    if (display_ == nullptr)
        return;
    glXMakeContextCurrent(dpy(display_), None, None, nullptr);
    if (context_ != nullptr)
        glXDestroyContext(dpy(display_), ctx(context_));
    if (pbuffer_ != 0)
        glXDestroyPbuffer(dpy(display_), pbuffer_);
}

void GlContext::makeCurrent() { glXMakeContextCurrent(dpy(display_), pbuffer_, pbuffer_, ctx(context_)); }

void GlContext::canvasProjection() { qvtest::canvasProjection(width_, height_); }

void canvasProjection(int viewW, int viewH, int spaceW, int spaceH)
{
    glViewport(0, 0, viewW, viewH);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, spaceW, spaceH, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

std::vector<uint8_t> readTexture(GLuint texture, int w, int h)
{
    std::vector<uint8_t> pixels(size_t(w) * h * 4);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return pixels;
}

std::vector<uint8_t> readCanvas(int w, int h)
{
    std::vector<uint8_t> pixels(size_t(w) * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

Rgba GlContext::pixel(int x, int y) const
{
    unsigned char p[4] = {0, 0, 0, 0};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, height_ - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return Rgba{p[0], p[1], p[2], p[3]};
}

void GlTest::SetUp()
{
    gl_ = new GlContext(kWidth, kHeight);
    ASSERT_TRUE(gl_->ok()) << gl_->error();
    ASSERT_TRUE(gl_->error().empty()) << gl_->error();
    gl_->canvasProjection();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void GlTest::TearDown()
{
    delete gl_;
    gl_ = nullptr;
}

int GlTest::glMajorVersion() const
{
    const char* v = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    return v != nullptr ? v[0] - '0' : 0;
}

::testing::AssertionResult pixelNear(const Rgba& a, const Rgba& e, int tol)
{
    if (std::abs(a.r - e.r) <= tol && std::abs(a.g - e.g) <= tol && std::abs(a.b - e.b) <= tol &&
        std::abs(a.a - e.a) <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << a.r << ", " << a.g << ", " << a.b << ", " << a.a << ") differs from (" << e.r
           << ", " << e.g << ", " << e.b << ", " << e.a << ") by more than " << tol;
}

} // namespace qvtest
