// Scene video: clips on the three loader paths read back from the drawn texture, the texture rules,
// refused opens, the loader rules. GL state and texture frees: tests/boundary/test_draw_state.cpp.
#include "support/GlContext.h"
#include "support/GlState.h"
#include "support/Process.h"
#include "support/SyslogCapture.h"
#include "support/VideoClips.h"
#include "boundary/HandleRegistry.h"
#include "video/VideoRes.h"
#include "video/Videoplay.h"

#include "quorvex_viewer_AnimationView_VideoClip.h"

#include <GL/glx.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>

namespace {

using qvtest::ClipFormat;
using Stdout = qvtest::CapturedStdout;

using Clip = std::unique_ptr<VideoRes, void (*)(VideoRes*)>;
Clip openClip(const std::string& path, const char* loader)
{
    return Clip(qv::openClip(strdup(path.c_str()), loader), qv::releaseClip);
}

// Loaded once by full path, the fault plug-ins are found by soname by the library's dlopen.
void loadFaultPlugins()
{
    for (const char* name : {"/libqvfault.so", "/libqvnoentry.so"})
        ASSERT_NE(dlopen((std::string(QV_VIDEO_TEST_PLUGINS) + name).c_str(), RTLD_NOW | RTLD_GLOBAL),
                  nullptr);
}

// Named loader for H.264, the XVID switch for the .avi, the MPEG loader for MPEG-2.
const char* loaderFor(ClipFormat format) { return format == ClipFormat::Mpeg2Mpg ? nullptr : "ffmpegloader"; }

enum Order { InOrder, Backwards, Random };

class VideoTest : public qvtest::GlTest {
protected:
    // Draws the whole frame over the canvas and reads its number back; -1 = none.
    int drawnFrame(VideoRes& clip)
    {
        glClear(GL_COLOR_BUFFER_BIT);
        qv::drawClip(&clip, 0, 0, kWidth, kHeight, 0, 0, clip.getWidth(), clip.getHeight());
        return qvtest::frameNumberFromPixels(qvtest::readCanvas(kWidth, kHeight).data(), kWidth, kHeight,
                                             kWidth * 4, true);
    }
};

// Every frame in order, backwards and at random, on each loader path (read only when upright).
class ClipPlayback : public VideoTest, public testing::WithParamInterface<std::tuple<int, Order>> { };

TEST_P(ClipPlayback, ShowsEveryRequestedFrame)
{
    const qvtest::ClipSpec& spec = qvtest::standardClips()[size_t(std::get<0>(GetParam()))];
    Stdout out;
    Clip clip = openClip(qvtest::videoClip(spec), loaderFor(spec.format));
    ASSERT_TRUE(clip) << qvtest::clipLabel(spec);
    EXPECT_EQ(clip->getWidth() * 10000 + clip->getHeight(), spec.width * 10000 + spec.height);
    const char* loaderFile[] = {"libffmpegloader.so", "libxvidloader.so", ""}; // by ClipFormat
    EXPECT_STREQ(clip->mpgloader != nullptr ? "" : clip->loaderdllname, loaderFile[int(spec.format)]);
    std::vector<int> frames(size_t(spec.frames));
    std::iota(frames.begin(), frames.end(), 0);
    if (std::get<1>(GetParam()) == Backwards)
        std::reverse(frames.begin(), frames.end());
    if (std::get<1>(GetParam()) == Random)
        std::shuffle(frames.begin(), frames.end(), std::mt19937(spec.frames));
    for (int frame : frames) {
        ASSERT_EQ(qv::loadClipFrame(*clip, frame), frame) << qvtest::clipLabel(spec);
        ASSERT_EQ(drawnFrame(*clip), frame) << qvtest::clipLabel(spec);
    }
    EXPECT_LT(qv::loadClipFrame(*clip, spec.frames), 0) << "past the end";
    // The XVID switch happens once; the named loader is never loaded again.
    EXPECT_EQ(qvtest::countOf(out.take(), "begin to load it libffmpegloader.so \n"),
              spec.format == ClipFormat::Mpeg2Mpg ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Clips, ClipPlayback,
                         testing::Combine(testing::Range(0, int(qvtest::standardClips().size())),
                                          testing::Values(InOrder, Backwards, Random)));

// Synthetic frames of four coloured quadrants, 0xAARRGGBB (B, G, R, A in memory).
std::vector<uint32_t> quadrants(int w, int h, uint32_t tl, uint32_t tr, uint32_t bl, uint32_t br)
{
    std::vector<uint32_t> bgra(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bgra[size_t(y) * w + x] = y < h / 2 ? (x < w / 2 ? tl : tr) : (x < w / 2 ? bl : br);
    return bgra;
}
qvtest::Rgba rgba(uint32_t c) { return {int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255), int(c >> 24)}; }
constexpr uint32_t kRed = 0xffff0000, kGreen = 0xff00ff00, kBlue = 0xff0000ff, kWhite = 0xffffffff;

TEST_F(VideoTest, TextureRulesAndDrawing)
{
    VideoRes clip; // 720 x 480, no plug-in
    Stdout out;
    qv::drawClip(&clip, 0, 0, kWidth, kHeight, 0, 0, 720, 480);
    EXPECT_PIXEL(gl(), 128, 128, qvtest::kBlack, 0) << "nothing is drawn before the first upload";
    EXPECT_EQ(qvtest::countOf(out.take(), " failed with texture "), 1);

    const auto first = quadrants(720, 480, kRed, kGreen, kBlue, kWhite);
    const GLuint texture = GLuint(createTextures(720, 480, (unsigned char*)first.data(), 4, &clip));
    // The top-right quadrant into the screen rectangle (16, 32, 64, 48).
    glClear(GL_COLOR_BUFFER_BIT);
    qv::drawClip(&clip, 16, 32, 64, 48, 360, 0, 360, 240);
    const qvtest::Rgba green = qvtest::kGreen, black = qvtest::kBlack;
    qvtest::expectPixels(gl(), {{20, 36, green}, {76, 76, green}, {12, 40, black}, {48, 84, black}}, 2);

    // A smaller frame reuses the texture, a larger one recreates it; each is drawn upright.
    struct Upload {
        int w, h, texW, texH;
        uint32_t tl, br;
    };
    const Upload uploads[] = {{720, 480, 1024, 512, kRed, kWhite},
                              {320, 240, 1024, 512, kWhite, kRed},
                              {1100, 600, 2048, 1024, kBlue, kGreen}};
    for (const Upload& u : uploads) {
        SCOPED_TRACE(u.w);
        const auto frame = quadrants(u.w, u.h, u.tl, kBlue, kGreen, u.br);
        updates(u.w, u.h, (unsigned char*)frame.data(), 4, &clip);
        GLint size[2] = {};
        glBindTexture(GL_TEXTURE_2D, clip.m_mTex);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &size[0]);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &size[1]);
        glBindTexture(GL_TEXTURE_2D, 0);
        EXPECT_EQ(size[0] * 10000 + size[1], u.texW * 10000 + u.texH);
        EXPECT_FLOAT_EQ(clip.m_rw, float(u.w) / float(u.texW)); // the frame's share of the texture
        EXPECT_FLOAT_EQ(clip.m_rh, float(u.h) / float(u.texH));
        EXPECT_TRUE(u.texW != 1024 || clip.m_mTex == texture);
        clip.width = u.w;
        clip.height = u.h;
        glClear(GL_COLOR_BUFFER_BIT);
        qv::drawClip(&clip, 0, 0, kWidth, kHeight, 0, 0, u.w, u.h);
        qvtest::expectPixels(gl(), {{64, 64, rgba(u.tl)}, {192, 192, rgba(u.br)}}, 2);
    }
    updates(64, 0, (unsigned char*)first.data(), 4, &clip); // refused: the last frame's region stays
    EXPECT_FLOAT_EQ(clip.m_rh, 600 / 1024.f);
    clip.deleteTexture();
}

// Opening refused: no clip, the line on standard output, no crash, no hang.
TEST(VideoOpen, RefusedWithALine)
{
    loadFaultPlugins();
    const std::string clip = qvtest::videoClip(qvtest::standardClips()[0]);
    const std::string fifo = "/tmp/qv-fifo-" + std::to_string(getpid()) + ".avi";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string longPath = "/" + std::string(1023, 'a'), name250(250, 'n'), lacks = " lacks OpenFile";
    // `line` is the video code's own text on standard output, or ("log:") the library's in the system log.
    struct Case {
        std::string path, loader, line, table = ""; // loader "-": the MPEG loader
    };
    const Case cases[] = {
        {"/nonexistent/clip.mp4", "ffmpegloader", "failed to open file /nonexistent/clip.mp4 \n"},
        {"/nonexistent/clip.mpg", "-", "Trying mpeg loader failed to open file"},
        {"/tmp", "ffmpegloader", "failed to open file"},
        {fifo, "ffmpegloader", "failed to open file"},
        {fifo, "-", "failed to open file"},
        {qvtest::garbageClip(".mp4"), "ffmpegloader", "failed to open file"},
        {qvtest::garbageClip(".mpg"), "-", "log: mpeg loader cannot open"},
        {clip, "qvnosuchloader",
         "begin to load it libqvnosuchloader.so \nget loader to check libqvnosuchloader.so \n loading module failed"},
        {clip, "vfwloader",
         "get loader to check libvfwloader.so \n it is wrong  failed to load it libvfwloader.so"},
        {clip, "abc_user",
         " user choose video loader abc \nadd loader name abc begin to load it libabc.so \n"},
        {clip, "qvnoentry", "Could not find function GetVideoLoaderHandlerInfo"},
        {clip, "qvfault", "Video Loader Handler failed ", "refuse"},
        {clip, "qvfault", "log:" + lacks, "nulls"},
        {clip, "qvfault", "log:" + lacks, "noframes"},
        {clip, "qvfault", "log:" + lacks, "noseq"},
        {longPath, "ffmpegloader", "log: video path of 1024 bytes refused"},
        {longPath.substr(1), "ffmpegloader", "failed to open file " + longPath.substr(1)},
        {clip, name250 + "n", "log: video loader name of 251 bytes refused"},
        {clip, name250, "begin to load it lib" + name250 + ".so \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.loader.substr(0, 20) + " " + c.path.substr(0, 60));
        setenv("QV_FAULT_TABLE", c.table.c_str(), 1);
        Stdout out;
        qvtest::clearSyslog();
        EXPECT_FALSE(openClip(c.path, c.loader == "-" ? nullptr : c.loader.c_str()));
        const bool logged = c.line.compare(0, 4, "log:") == 0;
        EXPECT_TRUE(logged ? qvtest::syslogContains(c.line.substr(4))
                           : out.take().find(c.line) != std::string::npos)
            << c.line << "\nin: " << out.take();
    }
    unsetenv("QV_FAULT_TABLE");
    unlink(fifo.c_str());
}

// Rules of each path that the playback table cannot show.
TEST_F(VideoTest, LoaderRules)
{
    loadFaultPlugins();
    const std::string xvid = qvtest::videoClip(qvtest::standardClips()[1]);
    const std::string mpeg = qvtest::videoClip(qvtest::standardClips()[2]);
    Stdout out;
    {
        Clip user = openClip(xvid, "ffmpegloader_user"); // a user's choice skips the XVID rule
        ASSERT_TRUE(user);
        EXPECT_STREQ(user->loaderdllname, "libffmpegloader.so");
    }
    Clip seq = openClip(xvid, "ffmpegloader");
    ASSERT_TRUE(seq);
    ASSERT_EQ(qv::loadClipFrame(*seq, 20), 20);
    EXPECT_EQ(qv::loadClipFrame(*seq, 20), 20); // the frame held: not decoded again
    EXPECT_EQ(qv::loadClipFrame(*seq, 10), 10); // a step back reopens
    EXPECT_EQ(drawnFrame(*seq), 10);
    EXPECT_LT(qv::loadClipFrame(*seq, 5000), 0);
    EXPECT_EQ(seq->last_frame, -5000);

    Clip mpg = openClip(mpeg, nullptr);
    ASSERT_TRUE(mpg);
    ASSERT_EQ(qv::loadClipFrame(*mpg, 5), 5);
    ASSERT_EQ(qv::loadClipFrame(*mpg, 2), 2); // frame number 2, uploaded
    EXPECT_EQ(drawnFrame(*mpg), 2);
    std::vector<uint8_t> zeros(size_t(mpg->m_pw) * mpg->m_ph * 4, 0);
    glBindTexture(GL_TEXTURE_2D, mpg->m_mTex);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, mpg->m_pw, mpg->m_ph, GL_BGRA, GL_UNSIGNED_BYTE, zeros.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(qv::loadClipFrame(*mpg, 2), 2); // "unchanged": the blackened texture stays black
    EXPECT_EQ(drawnFrame(*mpg), -1);

    setenv("QV_FAULT_TABLE", "minimal", 1); // no CloseFile, no video tables
    Clip minimal = openClip(mpeg, "qvfault");
    unsetenv("QV_FAULT_TABLE");
    ASSERT_TRUE(minimal);
    EXPECT_EQ(qv::loadClipFrame(*minimal, 0), 0);
    EXPECT_NE(minimal->m_mTex, 0u) << "the first delivery, frame 0, is uploaded";
    for (VideoRes* clip : {mpg.get(), minimal.get()})
        EXPECT_EQ(qv::clipVideoTable(*clip, nullptr, false) * 10 + qv::clipVideoTable(*clip, nullptr, true),
                  -22);

    const std::string& text = out.take();
    EXPECT_EQ(qvtest::countOf(text, "begin to load it libxvidloader.so"), 2)
        << "the switch at the second open, the reopen";
    EXPECT_EQ(qvtest::countOf(text, " create movie texture"), 4)
        << "frames 20, 10, 5 and the fault plug-in's 0";
}

// A truncated clip gives the frames before the cut; every answer is the right frame or a failure.
TEST_F(VideoTest, TruncatedClipsNeverShowAWrongFrame)
{
    for (const qvtest::ClipSpec& spec : qvtest::standardClips()) {
        SCOPED_TRACE(qvtest::clipLabel(spec));
        Stdout out;
        Clip clip = openClip(qvtest::truncatedClip(spec, 0.5), loaderFor(spec.format));
        // AVI and program streams need no index (MP4's is at the end).
        if (spec.format != ClipFormat::H264Mp4) {
            ASSERT_TRUE(clip);
            EXPECT_EQ(qv::loadClipFrame(*clip, 3), 3);
        }
        for (int frame = spec.frames + 2; clip && frame >= 0; frame -= 3) {
            const int result = qv::loadClipFrame(*clip, frame);
            if (result >= 0) {
                EXPECT_EQ(result * 1000 + drawnFrame(*clip), frame * 1000 + frame);
            }
        }
    }
}

TEST_F(VideoTest, FrameLoadRefusedWithoutAContext)
{
    VideoRes clip;
    const jlong handle = qv::registerHandle(&clip);
    glXMakeContextCurrent(glXGetCurrentDisplay(), None, None, nullptr);
    qvtest::clearSyslog();
    EXPECT_EQ(Java_quorvex_viewer_AnimationView_VideoClip_loadNextFrame(nullptr, nullptr, handle, 0), -1);
    qv::forgetHandle(&clip);
    gl().makeCurrent();
    EXPECT_TRUE(qvtest::syslogContains(" loadNextFrame: no current GL context"));
}

} // namespace
