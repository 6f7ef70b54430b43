// "xvidloader": the same decoding as ffmpegloader, frame after frame
// (the library reopens the file to go backwards).
#include "LoaderEntries.h"
#include "VideoDecoder.h"

namespace {

qvloader::VideoDecoder* decoderOf(void* handle) { return static_cast<qvloader::VideoDecoder*>(handle); }

int hasMoreBytesToRead(void* handle)
{
    return decoderOf(handle) && decoderOf(handle)->hasNextFrame() ? 1 : 0;
}

// Decodes ahead until the next frame is ready; 0 when there is none.
int readData(void* handle) { return hasMoreBytesToRead(handle); }

// The next frame in presentation order and its number; 0 = none left.
int getNextFrame(void* handle, char* buffer, int pitch, int bitsPerPixel, int* frameNo)
{
    if (!decoderOf(handle) || !buffer || !frameNo || bitsPerPixel != 32)
        return 0;
    return decoderOf(handle)->nextFrame(reinterpret_cast<uint8_t*>(buffer), pitch, frameNo);
}

} // namespace

extern "C" __attribute__((visibility("default"))) int GetVideoLoaderHandlerInfo(KVG_VideoLoader* table)
{
    if (!table)
        return 0;
    qvloader::fillFileEntries(table, "xvidloader");
    table->HasMoreBytesToRead = hasMoreBytesToRead;
    table->ReadData = readData;
    table->GetNextFrame = getNextFrame;
    table->supportSeekFeature = 0;
    return 1;
}
