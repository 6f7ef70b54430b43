// Our three loader plug-ins driven directly, for what only they show: the
// table they fill, the codec code, seeking around key frames, the end of a
// clip, and bad files. Playback through the library's exports (every frame
// in order, backwards, at random) is tested with the library.
#include "support/VideoClips.h"
#include "video/KVG_VideoLoader.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <string>
#include <vector>

namespace {

using qvtest::ClipFormat;
using qvtest::ClipSpec;

// The plug-ins sit in the output folder beside the library, ../lib from the test binary.
std::string pluginPath(const char* file) {
    char exe[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
    return dir.substr(0, dir.rfind('/')) + "/../lib/" + file;
}

struct Plugin {
    void* module;
    explicit Plugin(const char* file) : module(dlopen(pluginPath(file).c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Plugin() {
        if (module) dlclose(module);
    }
    template <typename F> F get(const char* name) const { return reinterpret_cast<F>(dlsym(module, name)); }
};

// A general plug-in with its table filled.
struct GeneralLoader {
    Plugin plugin;
    KVG_VideoLoader table{};
    bool filled = false;
    explicit GeneralLoader(const char* file) : plugin(file) {
        auto info = plugin.get<KVG_GetVideoLoaderHandlerInfo>("GetVideoLoaderHandlerInfo");
        filled = info && info(&table) != 0 && table.OpenFile && table.GetFrameInfo && table.CloseFile &&
                 table.GetVideoFileInfo;
    }
    void* open(const std::string& path) { return table.OpenFile(const_cast<char*>(path.c_str()), 1); }
};

struct MpegLoader {
    Plugin plugin{"libMpgLoader.so"};
    MPG_createMpgLoader create = plugin.get<MPG_createMpgLoader>("createMpgLoader");
    MPG_deleteMpgLoader destroy = plugin.get<MPG_deleteMpgLoader>("deleteMpgLoader");
    MPG_openFile openFile = plugin.get<MPG_openFile>("openFile");
    MPG_getVideoInfo videoInfo = plugin.get<MPG_getVideoInfo>("getVideoInfo");
    MPG_getAudioInfo audioInfo = plugin.get<MPG_getAudioInfo>("getAudioInfo");
    MPG_getNextFrameBuffer frame = plugin.get<MPG_getNextFrameBuffer>("getNextFrameBuffer");
    MPG_hasMoreFrame hasMore = plugin.get<MPG_hasMoreFrame>("hasMoreFrame");
    bool complete() const { return create && destroy && openFile && videoInfo && audioInfo && frame && hasMore; }
};

const char* expectedFourcc(ClipFormat format) {
    switch (format) {
    case ClipFormat::H264Mp4: return "avc1";
    case ClipFormat::XvidAvi: return "XVID";
    case ClipFormat::Mpeg2Mpg: return "MPG2"; // a program stream carries no tag: named after the codec
    }
    return "";
}

struct Picture {
    int width, height;
    std::vector<uint8_t> bytes;
    Picture(int w, int h) : width(w), height(h), bytes(static_cast<size_t>(w) * h * 4) {}
    char* data() { return reinterpret_cast<char*>(bytes.data()); }
    int pitch() const { return width * 4; }
    // Top row first: a picture delivered upside down reads as -1.
    int number() const { return qvtest::frameNumberFromPixels(bytes.data(), width, height, pitch(), false); }
};

class VideoLoaderClips : public ::testing::TestWithParam<ClipSpec> {
protected:
    void SetUp() override {
        path_ = qvtest::videoClip(GetParam());
        ASSERT_FALSE(path_.empty()) << "ffmpeg could not make " << qvtest::clipLabel(GetParam());
    }
    std::string path_;
};

TEST_P(VideoLoaderClips, SeekingLoaderDeliversEachAskedFrameAndFailsPastTheEnd) {
    const ClipSpec clip = GetParam();
    GeneralLoader loader("libffmpegloader.so");
    ASSERT_TRUE(loader.filled);
    ASSERT_EQ(loader.table.supportSeekFeature, 1);
    ASSERT_NE(loader.table.GetFrame, nullptr);

    void* file = loader.open(path_);
    ASSERT_NE(file, nullptr);
    char codec[256] = {};
    EXPECT_EQ(loader.table.GetVideoFileInfo(file, codec, nullptr), 1);
    EXPECT_STREQ(codec, expectedFourcc(clip.format));
    int width = 0, height = 0, total = 0;
    ASSERT_EQ(loader.table.GetFrameInfo(file, &width, &height, &total), 1);
    ASSERT_EQ(width, clip.width);
    ASSERT_EQ(height, clip.height);

    // Around a key frame, behind, ahead by more than a group, the last two frames.
    const int key = qvtest::kClipKeyInterval, last = clip.frames - 1;
    Picture picture(width, height);
    for (int n : {last, 0, key - 1, key, key + 1, key + 2, 5, last - 1, 1, last, 2 * key + 3}) {
        int delivered = -7;
        EXPECT_EQ(loader.table.GetFrame(file, picture.data(), picture.pitch(), 32, n, &delivered), n);
        EXPECT_EQ(delivered, n);
        EXPECT_EQ(picture.number(), n) << "asked for frame " << n;
    }
    // Past the end fails, and the clip still delivers afterwards.
    int delivered = -7;
    EXPECT_LT(loader.table.GetFrame(file, picture.data(), picture.pitch(), 32, clip.frames, &delivered), 0);
    EXPECT_LT(loader.table.GetFrame(file, picture.data(), picture.pitch(), 32, clip.frames + 100, &delivered), 0);
    EXPECT_LT(loader.table.GetFrame(file, picture.data(), picture.pitch(), 24, 0, &delivered), 0);
    EXPECT_EQ(delivered, -7);
    EXPECT_EQ(loader.table.GetFrame(file, picture.data(), picture.pitch(), 32, last, &delivered), last);
    EXPECT_EQ(picture.number(), last);
    loader.table.CloseFile(file);
}

TEST_P(VideoLoaderClips, SequentialLoaderDeliversEveryFrameInOrderThenNone) {
    const ClipSpec clip = GetParam();
    GeneralLoader loader("libxvidloader.so");
    ASSERT_TRUE(loader.filled);
    ASSERT_EQ(loader.table.supportSeekFeature, 0);
    ASSERT_TRUE(loader.table.HasMoreBytesToRead && loader.table.ReadData && loader.table.GetNextFrame);

    void* file = loader.open(path_);
    ASSERT_NE(file, nullptr);
    char codec[256] = {};
    EXPECT_EQ(loader.table.GetVideoFileInfo(file, codec, nullptr), 1);
    EXPECT_STREQ(codec, expectedFourcc(clip.format));
    Picture picture(clip.width, clip.height);
    int count = 0;
    while (loader.table.HasMoreBytesToRead(file) && count <= clip.frames) {
        loader.table.ReadData(file);
        int number = -1;
        ASSERT_EQ(loader.table.GetNextFrame(file, picture.data(), picture.pitch(), 32, &number), 1);
        EXPECT_EQ(number, count);
        EXPECT_EQ(picture.number(), count);
        ++count;
    }
    EXPECT_EQ(count, clip.frames);
    int number = -1;
    EXPECT_EQ(loader.table.GetNextFrame(file, picture.data(), picture.pitch(), 32, &number), 0);
    loader.table.CloseFile(file);
}

TEST_P(VideoLoaderClips, MpegLoaderDescribesTheClipAndFillsFramesByNumber) {
    const ClipSpec clip = GetParam();
    MpegLoader mpeg;
    ASSERT_TRUE(mpeg.complete());
    void* loader = mpeg.create();
    ASSERT_NE(loader, nullptr);
    ASSERT_EQ(mpeg.openFile(loader, const_cast<char*>(path_.c_str())), 0);
    int w = 0, h = 0, bpp = 0;
    double fps = 0;
    mpeg.videoInfo(loader, &w, &h, &bpp, &fps);
    EXPECT_EQ(w, clip.width);
    EXPECT_EQ(h, clip.height);
    EXPECT_EQ(bpp, 32);
    EXPECT_DOUBLE_EQ(fps, qvtest::kClipFramesPerSecond);

    Picture picture(w, h);
    const int last = clip.frames - 1;
    for (int n : {2, last, 0}) {
        EXPECT_EQ(mpeg.frame(loader, picture.bytes.data(), n), 0);
        EXPECT_EQ(picture.number(), n);
    }
    EXPECT_EQ(mpeg.hasMore(loader), 1);
    EXPECT_EQ(mpeg.frame(loader, picture.bytes.data(), last), 0);
    EXPECT_EQ(mpeg.hasMore(loader), 0);
    EXPECT_LT(mpeg.frame(loader, picture.bytes.data(), clip.frames), 0);
    mpeg.destroy(loader);
}

std::string clipTestName(const ::testing::TestParamInfo<ClipSpec>& info) {
    std::string name = qvtest::clipLabel(info.param);
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Clips, VideoLoaderClips, ::testing::ValuesIn(qvtest::standardClips()), clipTestName);

// Paths that must not open, in every plug-in; none may hang (a FIFO with no
// writer would block a plain open for ever).
TEST(VideoLoaderFaults, BadPathsFailToOpen) {
    const std::string fifo = qvtest::clipFolder() + "/fifo-" + std::to_string(getpid()) + ".avi";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const ClipSpec mp4{ClipFormat::H264Mp4, 320, 240, 31};
    const std::vector<std::string> badPaths = {
        qvtest::clipFolder() + "/no-such-clip.avi", qvtest::clipFolder(), fifo, qvtest::garbageClip(".avi"),
        qvtest::truncatedClip(mp4, 0.5), // its index (moov) is at the end
        "",
    };
    GeneralLoader seeking("libffmpegloader.so"), sequential("libxvidloader.so");
    MpegLoader mpeg;
    ASSERT_TRUE(seeking.filled && sequential.filled && mpeg.complete());
    void* mpegLoader = mpeg.create();
    for (const std::string& path : badPaths) {
        EXPECT_EQ(seeking.open(path), nullptr) << path;
        EXPECT_EQ(sequential.open(path), nullptr) << path;
        EXPECT_LT(mpeg.openFile(mpegLoader, const_cast<char*>(path.c_str())), 0) << path;
    }
    EXPECT_EQ(seeking.table.OpenFile(nullptr, 1), nullptr);
    EXPECT_LT(mpeg.openFile(mpegLoader, nullptr), 0);
    int w = -1;
    mpeg.videoInfo(mpegLoader, &w, nullptr, nullptr, nullptr);
    EXPECT_EQ(w, 0);
    EXPECT_LT(mpeg.frame(mpegLoader, nullptr, 0), 0);
    mpeg.destroy(mpegLoader);
    unlink(fifo.c_str());
}

// A clip cut in half opens (AVI and program streams need no index), gives
// the frames before the cut and fails cleanly after it.
TEST(VideoLoaderFaults, TruncatedClipEndsAtTheCut) {
    for (ClipFormat format : {ClipFormat::XvidAvi, ClipFormat::Mpeg2Mpg}) {
        const ClipSpec clip{format, 320, 240, 40};
        const std::string path = qvtest::truncatedClip(clip, 0.5);
        ASSERT_FALSE(path.empty());
        GeneralLoader loader("libffmpegloader.so");
        ASSERT_TRUE(loader.filled);
        void* file = loader.open(path);
        ASSERT_NE(file, nullptr) << qvtest::clipLabel(clip);
        Picture picture(clip.width, clip.height);
        int delivered = -1;
        EXPECT_EQ(loader.table.GetFrame(file, picture.data(), picture.pitch(), 32, 3, &delivered), 3);
        EXPECT_EQ(picture.number(), 3);
        EXPECT_LT(loader.table.GetFrame(file, picture.data(), picture.pitch(), 32, clip.frames - 1, &delivered), 0);
        loader.table.CloseFile(file);
    }
}

} // namespace
