// "libMpgLoader.so": the MPEG loader's seven functions over the shared
// decoder; despite the name it opens any file FFmpeg reads.
#include "VideoDecoder.h"
#include "video/KVG_VideoLoader.h"

extern "C" {
#include <libavutil/rational.h>
}

#include <new>

namespace {

struct MpgPlayer {
    qvloader::VideoDecoder* decoder = nullptr;
};

MpgPlayer* playerOf(void* loader) { return static_cast<MpgPlayer*>(loader); }

} // namespace

#define QV_EXPORT extern "C" __attribute__((visibility("default")))

QV_EXPORT void* createMpgLoader() { return new (std::nothrow) MpgPlayer; }

QV_EXPORT void deleteMpgLoader(void* loader)
{
    if (!loader)
        return;
    delete playerOf(loader)->decoder;
    delete playerOf(loader);
}

// 0 = open; -1 = the file cannot be decoded (the loader then has no file).
QV_EXPORT int openFile(void* loader, char* path)
{
    if (!loader)
        return -1;
    MpgPlayer* player = playerOf(loader);
    delete player->decoder;
    player->decoder = qvloader::VideoDecoder::open(path, "MpgLoader");
    return player->decoder ? 0 : -1;
}

// Frames are always delivered as 32-bit BGRA.
QV_EXPORT void getVideoInfo(void* loader, int* w, int* h, int* bpp, double* fps)
{
    const qvloader::VideoDecoder* decoder = loader ? playerOf(loader)->decoder : nullptr;
    if (w)
        *w = decoder ? decoder->width() : 0;
    if (h)
        *h = decoder ? decoder->height() : 0;
    if (bpp)
        *bpp = 32;
    if (fps)
        *fps = decoder ? av_q2d(decoder->frameRate()) : 0.0;
}

// Video only: no audio channels, rate or sample size.
QV_EXPORT void getAudioInfo(void* /*loader*/, int* channels, int* rate, int* bits)
{
    if (channels)
        *channels = 0;
    if (rate)
        *rate = 0;
    if (bits)
        *bits = 0;
}

// Fills `buffer` (width x height x 4 bytes) with frame frameNo: 0 = done,
// -1 = no such frame. 0 rather than the number, so that the library's
// "unchanged" result 2 is never produced here.
QV_EXPORT int getNextFrameBuffer(void* loader, void* buffer, int frameNo)
{
    qvloader::VideoDecoder* decoder = loader ? playerOf(loader)->decoder : nullptr;
    if (!decoder || !buffer)
        return -1;
    return decoder->frameAt(frameNo, static_cast<uint8_t*>(buffer), decoder->width() * 4) < 0 ? -1 : 0;
}

// 1 while a frame follows the last one delivered.
QV_EXPORT int hasMoreFrame(void* loader)
{
    qvloader::VideoDecoder* decoder = loader ? playerOf(loader)->decoder : nullptr;
    return decoder && decoder->hasNextFrame() ? 1 : 0;
}

// Each export has exactly the type the library looks it up as.
[[maybe_unused]] static constexpr MPG_getVideoInfo kGetVideoInfo = getVideoInfo;
[[maybe_unused]] static constexpr MPG_getAudioInfo kGetAudioInfo = getAudioInfo;
[[maybe_unused]] static constexpr MPG_getNextFrameBuffer kGetNextFrameBuffer = getNextFrameBuffer;
[[maybe_unused]] static constexpr MPG_hasMoreFrame kHasMoreFrame = hasMoreFrame;
[[maybe_unused]] static constexpr MPG_openFile kOpenFile = openFile;
[[maybe_unused]] static constexpr MPG_createMpgLoader kCreateMpgLoader = createMpgLoader;
[[maybe_unused]] static constexpr MPG_deleteMpgLoader kDeleteMpgLoader = deleteMpgLoader;
