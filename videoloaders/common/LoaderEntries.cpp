#include "LoaderEntries.h"

#include "VideoDecoder.h"
#include "video/KVG_VideoLoader.h"

#include <cstring>

namespace qvloader {
namespace {

const char* gLoaderName = "videoloader";

// The mode is always 1 (read) from the library; there is no other.
void* openFile(char* path, int /*mode*/) { return VideoDecoder::open(path, gLoaderName); }

int getFrameInfo(void* handle, int* width, int* height, int* totalFrames)
{
    auto* decoder = static_cast<VideoDecoder*>(handle);
    if (!decoder || !width || !height)
        return 0;
    *width = decoder->width();
    *height = decoder->height();
    if (totalFrames)
        *totalFrames = decoder->frameCountEstimate();
    return 1;
}

void closeFile(void* handle) { delete static_cast<VideoDecoder*>(handle); }

// `codec` is the library's buffer of kCodecNameSize bytes; the codec ids are not used.
int getVideoFileInfo(void* handle, char* codec, int* /*codecIds*/)
{
    auto* decoder = static_cast<VideoDecoder*>(handle);
    if (!decoder || !codec)
        return 0;
    decoder->fourcc(codec, kCodecNameSize);
    return 1;
}

} // namespace

void fillFileEntries(KVG_VideoLoader* table, const char* loaderName)
{
    gLoaderName = loaderName;
    std::memset(table, 0, sizeof *table);
    table->majorVersion = 1;
    table->minorVersion = 0;
    table->OpenFile = openFile;
    table->GetFrameInfo = getFrameInfo;
    table->CloseFile = closeFile;
    table->GetVideoFileInfo = getVideoFileInfo;
}

} // namespace qvloader
