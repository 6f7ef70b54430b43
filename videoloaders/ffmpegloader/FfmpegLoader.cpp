// "ffmpegloader": frame-accurate random access to any video FFmpeg reads.
#include "LoaderEntries.h"
#include "VideoDecoder.h"

namespace {

// Delivers frame `frameNo` (0-based, presentation order); its number, or -1
// when the clip has no such frame. Only 32 bits per pixel (BGRA) are made.
int getFrame(void* handle, char* buffer, int pitch, int bitsPerPixel, int frameNo, int* deliveredFrameNo)
{
    auto* decoder = static_cast<qvloader::VideoDecoder*>(handle);
    if (!decoder || !buffer || bitsPerPixel != 32)
        return -1;
    const int got = decoder->frameAt(frameNo, reinterpret_cast<uint8_t*>(buffer), pitch);
    if (got < 0)
        return -1;
    if (deliveredFrameNo)
        *deliveredFrameNo = got;
    return got;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int GetVideoLoaderHandlerInfo(KVG_VideoLoader* table)
{
    if (!table)
        return 0;
    qvloader::fillFileEntries(table, "ffmpegloader");
    table->GetFrame = getFrame;
    table->supportSeekFeature = 1;
    return 1;
}
