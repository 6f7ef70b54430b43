// Scene video: clips played through the three loader paths and read back from
// the drawn texture, the texture rules, the loader-name rules and faults.
#include "support/GlContext.h"
#include "support/VideoClips.h"
#include "video/VideoRes.h"
#include "video/Videoplay.h"
#include "video/mpgloader.h"

#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

extern "C" {
JNIEXPORT jint JNICALL Java_quorvex_viewer_AnimationView_VideoClip_loadNextFrame(JNIEnv*, jclass, jlong, jint);
JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoClip_drawVideoTexture(JNIEnv*, jclass, jlong, jint,
                                                                                   jint, jint, jint, jint, jint,
                                                                                   jint, jint);
}

namespace {

using qvtest::ClipFormat;
using qvtest::ClipSpec;

// Standard output captured for one scope (the video side reports there).
// GoogleTest prints failures on standard output too: on failure the capture
// is handed on to standard error.
class Stdout {
public:
    Stdout() { testing::internal::CaptureStdout(); }
    ~Stdout()
    {
        take();
        if (testing::Test::HasFailure())
            fprintf(stderr, "%s", text_.c_str());
    }
    const std::string& take()
    {
        if (!taken_)
            text_ = testing::internal::GetCapturedStdout();
        taken_ = true;
        return text_;
    }

private:
    bool taken_ = false;
    std::string text_;
};

int count(const std::string& text, const std::string& needle)
{
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

char* owned(const std::string& s) { return strdup(s.c_str()); }

// The fault plug-ins are found by soname once loaded by their full path.
void loadFaultPlugins()
{
    static const bool loaded = [] {
        for (const char* name : {"/libqvfault.so", "/libqvnoentry.so"})
            if (dlopen((std::string(QV_VIDEO_TEST_PLUGINS) + name).c_str(), RTLD_NOW | RTLD_GLOBAL) == nullptr)
                return false;
        return true;
    }();
    ASSERT_TRUE(loaded) << dlerror();
}

// The loader each clip format is played through: named, XVID switch, MPEG.
const char* loaderFor(ClipFormat format) { return format == ClipFormat::Mpeg2Mpg ? nullptr : "ffmpegloader"; }

enum class Order { InOrder, Backwards, Random };

std::vector<int> requests(int frames, Order order)
{
    std::vector<int> list(static_cast<size_t>(frames));
    std::iota(list.begin(), list.end(), 0);
    if (order == Order::Backwards)
        std::reverse(list.begin(), list.end());
    if (order == Order::Random)
        std::shuffle(list.begin(), list.end(), std::mt19937(frames));
    return list;
}

class VideoTest : public qvtest::GlTest {
protected:
    // Draws the whole frame over the canvas and reads its number back; -1 = none.
    int drawnFrame(VideoRes* clip)
    {
        glClearColor(0.5f, 0.5f, 0.5f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        qv::drawClip(clip, 0, 0, kWidth, kHeight, 0, 0, clip->getWidth(), clip->getHeight());
        std::vector<uint8_t> pixels(kWidth * kHeight * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
        return qvtest::frameNumberFromPixels(pixels.data(), kWidth, kHeight, kWidth * 4, true);
    }
};

// ---------------------------------------------------------------------------
// Every frame of every clip, in order, backwards and at random, on all three
// loader paths, read back from the drawn texture (which also proves it upright).
class ClipPlayback : public VideoTest, public testing::WithParamInterface<std::tuple<int, Order>> {};

TEST_P(ClipPlayback, ShowsEveryRequestedFrame)
{
    const ClipSpec& spec = qvtest::standardClips()[static_cast<size_t>(std::get<0>(GetParam()))];
    const std::string path = qvtest::videoClip(spec);
    ASSERT_FALSE(path.empty()) << qvtest::clipLabel(spec);
    Stdout out;
    VideoRes* clip = qv::openClip(owned(path), loaderFor(spec.format));
    ASSERT_NE(clip, nullptr) << out.take();
    EXPECT_EQ(clip->getWidth(), spec.width);
    EXPECT_EQ(clip->getHeight(), spec.height);
    switch (spec.format) {
    case ClipFormat::H264Mp4:
        EXPECT_STREQ(clip->loaderdllname, "libffmpegloader.so");
        EXPECT_EQ(clip->loader.supportSeekFeature, 1);
        break;
    case ClipFormat::XvidAvi:
        EXPECT_STREQ(clip->loaderdllname, "libxvidloader.so");
        EXPECT_NE(clip->loader.supportSeekFeature, 1);
        break;
    case ClipFormat::Mpeg2Mpg:
        EXPECT_NE(clip->mpgloader, nullptr);
        break;
    }
    for (int frame : requests(spec.frames, std::get<1>(GetParam()))) {
        ASSERT_EQ(qv::loadClipFrame(*clip, frame), frame) << qvtest::clipLabel(spec);
        ASSERT_EQ(drawnFrame(clip), frame) << qvtest::clipLabel(spec);
    }
    EXPECT_LT(qv::loadClipFrame(*clip, spec.frames), 0) << "past the end";
    EXPECT_LT(qv::loadClipFrame(*clip, spec.frames + 7), 0) << "past the end";
    qv::releaseClip(clip);
    // The XVID switch happened once and the named loader was never tried again.
    if (spec.format == ClipFormat::XvidAvi) {
        EXPECT_EQ(count(out.take(), "begin to load it libffmpegloader.so \n"), 1);
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

std::string caseName(const testing::TestParamInfo<std::tuple<int, Order>>& info)
{
    const ClipSpec& s = qvtest::standardClips()[static_cast<size_t>(std::get<0>(info.param))];
    static const char* orders[] = {"InOrder", "Backwards", "Random"};
    std::string name = std::string(qvtest::clipFormatName(s.format)) + "_" + std::to_string(s.width) + "x" +
                       std::to_string(s.height) + "_" + orders[static_cast<int>(std::get<1>(info.param))];
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Clips, ClipPlayback,
                         testing::Combine(testing::Range(0, static_cast<int>(qvtest::standardClips().size())),
                                          testing::Values(Order::InOrder, Order::Backwards, Order::Random)),
                         caseName);

// ---------------------------------------------------------------------------
// Texture rules, through synthetic frames of four coloured quadrants.
struct Quadrants {
    std::vector<uint8_t> bgra;
    Quadrants(int w, int h, uint32_t tl, uint32_t tr, uint32_t bl, uint32_t br) : bgra(size_t(w) * h * 4)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint32_t c = y < h / 2 ? (x < w / 2 ? tl : tr) : (x < w / 2 ? bl : br);
                memcpy(&bgra[(size_t(y) * w + x) * 4], &c, 4); // 0xAARRGGBB is B, G, R, A in memory
            }
    }
};
constexpr uint32_t kRed = 0xffff0000, kGreen = 0xff00ff00, kBlue = 0xff0000ff, kWhite = 0xffffffff;
const qvtest::Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255}, white{255, 255, 255, 255},
    black{0, 0, 0, 255};

void textureSize(GLuint texture, GLint* w, GLint* h)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, h);
    glBindTexture(GL_TEXTURE_2D, 0);
}

TEST_F(VideoTest, TextureRulesAndDrawing)
{
    VideoRes clip; // 720 x 480, no plug-in
    Stdout out;
    qv::drawClip(&clip, 0, 0, kWidth, kHeight, 0, 0, 720, 480);
    EXPECT_PIXEL(gl(), 128, 128, black, 0) << "nothing is drawn before the first upload";
    EXPECT_EQ(count(out.take(), " failed with texture "), 1);

    Quadrants first(720, 480, kRed, kGreen, kBlue, kWhite);
    const GLuint texture = static_cast<GLuint>(createTextures(720, 480, first.bgra.data(), 4, &clip));
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(texture, clip.m_mTex);
    GLint w = 0, h = 0;
    textureSize(texture, &w, &h);
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 512);
    EXPECT_FLOAT_EQ(clip.m_rw, 0.703125f);
    EXPECT_FLOAT_EQ(clip.m_rh, 0.9375f);

    // The caller's state around an upload and a draw comes back unchanged.
    GLuint theirs = 0;
    glGenTextures(1, &theirs);
    glBindTexture(GL_TEXTURE_2D, theirs);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 5);
    glColor4f(0.25f, 0.5f, 0.75f, 1.f);
    updates(720, 480, first.bgra.data(), 4, &clip);
    qv::drawClip(&clip, 0, 0, kWidth, kHeight, 0, 0, 720, 480);
    GLint binding = 0, alignment = 0, rowLength = 0;
    GLfloat colour[4] = {};
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &binding);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(binding, static_cast<GLint>(theirs));
    EXPECT_EQ(alignment, 8);
    EXPECT_EQ(rowLength, 5);
    EXPECT_FLOAT_EQ(colour[1], 0.5f);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &theirs);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);

    // Upright in the y-down canvas, each quadrant where the frame has it.
    EXPECT_PIXEL(gl(), 64, 64, red, 2);
    EXPECT_PIXEL(gl(), 192, 64, green, 2);
    EXPECT_PIXEL(gl(), 64, 192, blue, 2);
    EXPECT_PIXEL(gl(), 192, 192, white, 2);

    // A sub-rectangle (the top-right quadrant) into a screen rectangle.
    glClear(GL_COLOR_BUFFER_BIT);
    qv::drawClip(&clip, 16, 32, 64, 48, 360, 0, 360, 240);
    EXPECT_PIXEL(gl(), 48, 56, green, 2);
    EXPECT_PIXEL(gl(), 20, 36, green, 2);
    EXPECT_PIXEL(gl(), 8, 40, black, 0);
    EXPECT_PIXEL(gl(), 48, 90, black, 0);

    // A smaller frame reuses the texture; a larger one recreates it.
    Quadrants smaller(320, 240, kWhite, kBlue, kGreen, kRed);
    updates(320, 240, smaller.bgra.data(), 4, &clip);
    EXPECT_EQ(clip.m_mTex, texture);
    textureSize(clip.m_mTex, &w, &h);
    EXPECT_EQ(w, 1024);
    EXPECT_FLOAT_EQ(clip.m_rw, 320.f / 1024.f);
    clip.width = 320;
    clip.height = 240;
    glClear(GL_COLOR_BUFFER_BIT);
    qv::drawClip(&clip, 0, 0, kWidth, kHeight, 0, 0, 320, 240);
    EXPECT_PIXEL(gl(), 64, 64, white, 2);
    EXPECT_PIXEL(gl(), 192, 192, red, 2);

    Quadrants larger(1100, 600, kBlue, kRed, kWhite, kGreen);
    updates(1100, 600, larger.bgra.data(), 4, &clip);
    textureSize(clip.m_mTex, &w, &h);
    EXPECT_EQ(w, 2048);
    EXPECT_EQ(h, 1024);
    clip.width = 1100;
    clip.height = 600;
    glClear(GL_COLOR_BUFFER_BIT);
    qv::drawClip(&clip, 0, 0, kWidth, kHeight, 0, 0, 1100, 600);
    EXPECT_PIXEL(gl(), 64, 64, blue, 2);
    EXPECT_PIXEL(gl(), 192, 192, green, 2);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    clip.deleteTexture();
}

// ---------------------------------------------------------------------------
// Opening refused: failure value and the line on standard output, no crash,
// no hang (a FIFO is never opened).
struct OpenFailure {
    const char* what;
    std::string path;
    std::string loader; // "-" = the MPEG loader
    const char* table;  // QV_FAULT_TABLE for the fault plug-in
    std::vector<std::string> lines;
};

TEST(VideoOpen, RefusedWithALine)
{
    loadFaultPlugins();
    const ClipSpec h264 = qvtest::standardClips()[0];
    const std::string clip = qvtest::videoClip(h264);
    ASSERT_FALSE(clip.empty());
    const std::string fifo = qvtest::clipFolder() + "/fifo-" + std::to_string(getpid()) + ".mp4";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string longPath = "/" + std::string(1023, 'a');
    const std::string name251(251, 'n'), name250(250, 'n');
    const std::vector<OpenFailure> cases = {
        {"missing file", "/nonexistent/clip.mp4", "ffmpegloader", "", {"failed to open file /nonexistent/clip.mp4 \n"}},
        {"missing file, MPEG", "/nonexistent/clip.mpg", "-", "", {"Trying mpeg loader ", "failed to open file"}},
        {"directory", qvtest::clipFolder(), "ffmpegloader", "", {"failed to open file"}},
        {"FIFO", fifo, "ffmpegloader", "", {"failed to open file"}},
        {"FIFO, MPEG", fifo, "-", "", {"failed to open file"}},
        {"corrupt", qvtest::garbageClip(".mp4"), "ffmpegloader", "", {"failed to open file"}},
        {"corrupt, MPEG", qvtest::garbageClip(".mpg"), "-", "", {"mpeg loader cannot open"}},
        {"missing plug-in", clip, "qvnosuchloader", "", {"begin to load it libqvnosuchloader.so \n", " loading module failed"}},
        {"refused loader", clip, "vfwloader", "", {"get loader to check libvfwloader.so \n", " it is wrong ", " failed to load it libvfwloader.so"}},
        {"user choice", clip, "abc_user", "", {" user choose video loader abc \n", "add loader name abc ", "begin to load it libabc.so \n"}},
        {"no handler entry", clip, "qvnoentry", "", {"Could not find function GetVideoLoaderHandlerInfo"}},
        {"handler fails", clip, "qvfault", "refuse", {"Video Loader Handler failed "}},
        {"table of nulls", clip, "qvfault", "nulls", {"lacks OpenFile, GetFrameInfo or its frame function"}},
        {"no GetFrame", clip, "qvfault", "noframes", {"lacks OpenFile, GetFrameInfo or its frame function"}},
        {"no GetNextFrame", clip, "qvfault", "noseq", {"lacks OpenFile, GetFrameInfo or its frame function"}},
        {"path of 1024 bytes", longPath, "ffmpegloader", "", {"video path of 1024 bytes refused"}},
        {"path of 1023 bytes", longPath.substr(1), "ffmpegloader", "", {"failed to open file " + longPath.substr(1)}},
        {"loader name of 251 bytes", clip, name251, "", {"video loader name of 251 bytes refused"}},
        {"loader name of 250 bytes", clip, name250, "", {"begin to load it lib" + name250 + ".so \n", " loading module failed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setenv("QV_FAULT_TABLE", c.table, 1);
        Stdout out;
        VideoRes* opened = qv::openClip(owned(c.path), c.loader == "-" ? nullptr : c.loader.c_str());
        EXPECT_EQ(opened, nullptr);
        qv::releaseClip(opened);
        for (const auto& line : c.lines)
            EXPECT_NE(out.take().find(line), std::string::npos) << "no \"" << line << "\" in:\n" << out.take();
    }
    unsetenv("QV_FAULT_TABLE");
    unlink(fifo.c_str());
}

// ---------------------------------------------------------------------------
// Decoding rules of each path that the playback table cannot show.
TEST_F(VideoTest, LoaderRules)
{
    loadFaultPlugins();
    const auto& clips = qvtest::standardClips();
    const std::string xvid = qvtest::videoClip(clips[1]), mpeg = qvtest::videoClip(clips[2]);
    ASSERT_FALSE(xvid.empty());
    ASSERT_FALSE(mpeg.empty());

    {
        SCOPED_TRACE("a user's choice of loader skips the XVID rule");
        Stdout out;
        VideoRes* clip = qv::openClip(owned(xvid), "ffmpegloader_user");
        ASSERT_NE(clip, nullptr) << out.take();
        EXPECT_STREQ(clip->loaderdllname, "libffmpegloader.so");
        EXPECT_EQ(clip->loader.supportSeekFeature, 1);
        EXPECT_EQ(count(out.take(), "libxvidloader.so"), 0);
        qv::releaseClip(clip);
    }
    {
        SCOPED_TRACE("sequential mode: the frame held, a step back");
        Stdout out;
        VideoRes* clip = qv::openClip(owned(xvid), "ffmpegloader");
        ASSERT_NE(clip, nullptr) << out.take();
        ASSERT_EQ(qv::loadClipFrame(*clip, 20), 20);
        const std::string& before = testing::internal::GetCapturedStdout();
        testing::internal::CaptureStdout();
        EXPECT_EQ(count(before, "begin to load it libxvidloader.so"), 1);
        EXPECT_EQ(qv::loadClipFrame(*clip, 20), 20);
        EXPECT_EQ(qv::loadClipFrame(*clip, 10), 10);
        EXPECT_EQ(drawnFrame(clip), 10);
        const std::string& after = out.take();
        EXPECT_EQ(count(after, " create movie texture"), 1) << "the frame held is not decoded again";
        EXPECT_EQ(count(after, "begin to load it libxvidloader.so"), 1) << "a step back reopens";
        EXPECT_LT(qv::loadClipFrame(*clip, 5000), 0);
        EXPECT_EQ(clip->last_frame, -5000);
        EXPECT_EQ(qv::clipVideoTable(*clip, nullptr, false) == -2, clip->loader.GetVideoTable == nullptr);
        qv::releaseClip(clip);
    }
    {
        SCOPED_TRACE("MPEG: frame number 2 against \"unchanged\"");
        Stdout out;
        VideoRes* clip = qv::openClip(owned(mpeg), nullptr);
        ASSERT_NE(clip, nullptr) << out.take();
        ASSERT_EQ(qv::loadClipFrame(*clip, 5), 5);
        ASSERT_EQ(qv::loadClipFrame(*clip, 2), 2);
        EXPECT_EQ(drawnFrame(clip), 2);
        // Blacken the texture: a repeated request must leave it alone.
        std::vector<uint8_t> zeros(size_t(clip->m_pw) * clip->m_ph * 4, 0);
        glBindTexture(GL_TEXTURE_2D, clip->m_mTex);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, clip->m_pw, clip->m_ph, GL_BGRA, GL_UNSIGNED_BYTE, zeros.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        EXPECT_EQ(qv::loadClipFrame(*clip, 2), 2);
        EXPECT_EQ(drawnFrame(clip), -1) << "nothing uploaded for the frame already shown";
        EXPECT_EQ(qv::clipVideoTable(*clip, nullptr, false), -2);
        EXPECT_EQ(qv::clipVideoTable(*clip, nullptr, true), -2);
        qv::releaseClip(clip);
    }
    {
        SCOPED_TRACE("a plug-in without the optional entries");
        setenv("QV_FAULT_TABLE", "minimal", 1);
        Stdout out;
        VideoRes* clip = qv::openClip(owned(mpeg), "qvfault");
        unsetenv("QV_FAULT_TABLE");
        ASSERT_NE(clip, nullptr) << out.take();
        EXPECT_EQ(qv::loadClipFrame(*clip, 0), 0);
        EXPECT_NE(clip->m_mTex, 0u) << "the first delivery (frame 0) is uploaded";
        EXPECT_LT(qv::loadClipFrame(*clip, 5), 0);
        EXPECT_EQ(qv::clipVideoTable(*clip, nullptr, false), -2);
        EXPECT_EQ(qv::clipVideoTable(*clip, nullptr, true), -2);
        qv::releaseClip(clip); // no CloseFile: skipped
    }
}

// A truncated clip opens or not, but every answer is a right frame or a failure.
TEST_F(VideoTest, TruncatedClipsNeverShowAWrongFrame)
{
    for (const ClipSpec& spec : qvtest::standardClips()) {
        if (spec.width != 720)
            continue;
        SCOPED_TRACE(qvtest::clipLabel(spec));
        const std::string path = qvtest::truncatedClip(spec, 0.5);
        ASSERT_FALSE(path.empty());
        Stdout out;
        VideoRes* clip = qv::openClip(owned(path), loaderFor(spec.format));
        if (clip == nullptr) {
            EXPECT_FALSE(out.take().empty());
            continue;
        }
        int shown = 0;
        for (int frame : requests(spec.frames + 3, Order::Random)) {
            const int result = qv::loadClipFrame(*clip, frame);
            if (result < 0)
                continue;
            EXPECT_EQ(result, frame);
            EXPECT_EQ(drawnFrame(clip), frame);
            ++shown;
        }
        EXPECT_LT(shown, spec.frames) << "half a clip cannot hold every frame";
        qv::releaseClip(clip);
    }
}

// Run under ASan with leak checking, nothing of 1,000 clips may stay behind;
// release deletes each clip's texture.
TEST_F(VideoTest, ThousandOpenCloseCycles)
{
    const auto& clips = qvtest::standardClips();
    const std::string paths[] = {qvtest::videoClip(clips[3]), qvtest::videoClip(clips[4]), qvtest::videoClip(clips[5])};
    Stdout out;
    for (int cycle = 0; cycle < 1000; ++cycle) {
        const ClipSpec& spec = clips[3 + cycle % 3];
        VideoRes* clip = qv::openClip(owned(paths[cycle % 3]), loaderFor(spec.format));
        ASSERT_NE(clip, nullptr) << "cycle " << cycle;
        ASSERT_EQ(qv::loadClipFrame(*clip, 0), 0) << "cycle " << cycle;
        const GLuint texture = clip->m_mTex;
        qv::releaseClip(clip);
        ASSERT_FALSE(glIsTexture(texture)) << "cycle " << cycle;
    }
}

// Without a current context the GL-touching exports refuse, with a line.
TEST_F(VideoTest, ExportsRefuseWithoutAContext)
{
    VideoRes clip;
    Display* display = glXGetCurrentDisplay();
    ASSERT_NE(display, nullptr);
    glXMakeContextCurrent(display, None, None, nullptr);
    Stdout out;
    const jlong handle = static_cast<jlong>(reinterpret_cast<intptr_t>(&clip));
    EXPECT_EQ(Java_quorvex_viewer_AnimationView_VideoClip_loadNextFrame(nullptr, nullptr, handle, 0), -1);
    Java_quorvex_viewer_AnimationView_VideoClip_drawVideoTexture(nullptr, nullptr, handle, 0, 0, 8, 8, 0, 0, 8, 8);
    gl().makeCurrent();
    EXPECT_EQ(count(out.take(), ": no current GL context"), 2);
}

// The library's plain close/pause never stand in for libc's.
TEST(VideoPlainExports, CloseIsOursOnlyByName)
{
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&qv::openClip), &info), 0);
    void* library = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    for (const char* name : {"close", "pause", "play", "stop", "getFrameId"}) {
        void* symbol = dlsym(library, name);
        Dl_info where{};
        ASSERT_NE(symbol, nullptr) << name;
        ASSERT_NE(dladdr(symbol, &where), 0);
        EXPECT_STREQ(where.dli_fname, info.dli_fname) << name;
    }
    reinterpret_cast<void (*)()>(dlsym(library, "close"))(); // does nothing
    EXPECT_EQ(reinterpret_cast<int (*)()>(dlsym(library, "getTimeStamp"))(), 1);
    EXPECT_EQ(reinterpret_cast<int (*)(char*)>(dlsym(library, "openVideoFile"))(nullptr), 0);
    dlclose(library);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(close(fds[1]), 0);
    errno = 0;
    EXPECT_EQ(fcntl(fds[1], F_GETFD), -1) << "the binary's close() reached libc";
    EXPECT_EQ(errno, EBADF);
    close(fds[0]);
}

} // namespace
