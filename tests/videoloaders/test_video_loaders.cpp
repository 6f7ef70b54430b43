// Our loader plug-ins driven directly: codec codes, the MPEG plug-in's description and end of clip,
// null arguments. Frame access on every loader path is tested through the library (tests/video).
#include "support/VideoClips.h"
#include "video/KVG_VideoLoader.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// An entry of a plug-in, loaded for the whole run from the output folder beside the library
// (../lib from the test binary).
template <typename F>
F entry(const char* file, const char* name)
{
    const auto path = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "../lib" / file;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    return reinterpret_cast<F>(module != nullptr ? dlsym(module, name) : nullptr);
}

TEST(VideoLoaderPlugins, CodecCodesMpegDescriptionAndNullArguments)
{
    KVG_VideoLoader seeking{};
    ASSERT_NE(
        entry<KVG_GetVideoLoaderHandlerInfo>("libffmpegloader.so", "GetVideoLoaderHandlerInfo")(&seeking), 0);
    ASSERT_TRUE(seeking.OpenFile && seeking.GetVideoFileInfo && seeking.CloseFile);
    // A program stream carries no tag: it is named after the codec.
    const char* fourcc[] = {"avc1", "XVID", "MPG2"};
    for (size_t i = 3; i < 6; ++i) {
        const qvtest::ClipSpec& spec = qvtest::standardClips()[i];
        std::string path = qvtest::videoClip(spec);
        void* file = seeking.OpenFile(&path[0], 1);
        ASSERT_NE(file, nullptr) << qvtest::clipLabel(spec);
        char codec[256] = {};
        EXPECT_EQ(seeking.GetVideoFileInfo(file, codec, nullptr), 1);
        EXPECT_STREQ(codec, fourcc[int(spec.format)]);
        seeking.CloseFile(file);
    }
    EXPECT_EQ(seeking.OpenFile(nullptr, 1), nullptr);

    const char* mpg = "libMpgLoader.so";
    auto create = entry<MPG_createMpgLoader>(mpg, "createMpgLoader");
    auto destroy = entry<MPG_deleteMpgLoader>(mpg, "deleteMpgLoader");
    auto openFile = entry<MPG_openFile>(mpg, "openFile");
    auto videoInfo = entry<MPG_getVideoInfo>(mpg, "getVideoInfo");
    auto frame = entry<MPG_getNextFrameBuffer>(mpg, "getNextFrameBuffer");
    auto hasMore = entry<MPG_hasMoreFrame>(mpg, "hasMoreFrame");
    ASSERT_TRUE(create && destroy && openFile && videoInfo && frame && hasMore);
    void* mpeg = create();
    EXPECT_LT(openFile(mpeg, nullptr), 0);
    int w = -1, h = -1, bpp = 0;
    double fps = 0;
    videoInfo(mpeg, &w, nullptr, nullptr, nullptr);
    EXPECT_EQ(w, 0) << "no file, no size";
    EXPECT_LT(frame(mpeg, nullptr, 0), 0);
    const qvtest::ClipSpec& spec = qvtest::standardClips()[5]; // MPEG-2
    std::string path = qvtest::videoClip(spec);
    ASSERT_EQ(openFile(mpeg, &path[0]), 0);
    videoInfo(mpeg, &w, &h, &bpp, &fps); // the size is the library's (tests/video)
    EXPECT_EQ(bpp, 32);
    EXPECT_DOUBLE_EQ(fps, qvtest::kClipFramesPerSecond);
    std::vector<uint8_t> picture(size_t(w) * h * 4);
    EXPECT_EQ(frame(mpeg, picture.data(), spec.frames - 2), 0);
    EXPECT_EQ(hasMore(mpeg), 1);
    EXPECT_EQ(frame(mpeg, picture.data(), spec.frames - 1), 0);
    EXPECT_EQ(hasMore(mpeg), 0) << "after the last frame";
    destroy(mpeg);
}

// The sequential plug-in's frame functions refuse each bad argument on its own.
TEST(VideoLoaderPlugins, SequentialEntriesRefuseEachBadArgument)
{
    KVG_VideoLoader xvid{};
    ASSERT_NE(entry<KVG_GetVideoLoaderHandlerInfo>("libxvidloader.so", "GetVideoLoaderHandlerInfo")(&xvid),
              0);
    ASSERT_TRUE(xvid.OpenFile && xvid.GetNextFrame && xvid.HasMoreBytesToRead && xvid.CloseFile);
    const qvtest::ClipSpec& spec = qvtest::standardClips()[0];
    std::string path = qvtest::videoClip(spec);
    void* file = xvid.OpenFile(&path[0], 1);
    ASSERT_NE(file, nullptr);
    std::vector<char> picture(size_t(spec.width) * spec.height * 4);
    const int pitch = spec.width * 4;
    int number = -1;
    EXPECT_EQ(xvid.HasMoreBytesToRead(nullptr), 0);
    const struct {
        const char* what;
        void* handle;
        char* buffer;
        int bitsPerPixel;
        int* frameNo;
    } bad[] = {{"no handle", nullptr, picture.data(), 32, &number},
               {"no buffer", file, nullptr, 32, &number},
               {"24 bits per pixel", file, picture.data(), 24, &number},
               {"no frame number", file, picture.data(), 32, nullptr}};
    for (const auto& b : bad)
        EXPECT_EQ(xvid.GetNextFrame(b.handle, b.buffer, pitch, b.bitsPerPixel, b.frameNo), 0) << b.what;
    EXPECT_EQ(xvid.HasMoreBytesToRead(file), 1);
    EXPECT_NE(xvid.GetNextFrame(file, picture.data(), pitch, 32, &number), 0);
    EXPECT_EQ(number, 0) << "the refusals consumed no frame";
    xvid.CloseFile(file);
}

} // namespace
