// A loader plug-in for the video tests whose table is chosen by the
// environment variable QV_FAULT_TABLE when GetVideoLoaderHandlerInfo runs:
//   "nulls"     every entry left null (the handler still reports success)
//   "refuse"    the handler reports failure
//   "noframes"  OpenFile and GetFrameInfo, random access without GetFrame
//   "noseq"     OpenFile and GetFrameInfo, sequential without GetNextFrame
//   "minimal"   just enough to open and deliver grey frames by random access;
//               every optional entry (CloseFile, the video tables) is null
// Built without GetVideoLoaderHandlerInfo it stands for a library that is
// not a loader at all.
#include "video/KVG_VideoLoader.h"

#include <cstdlib>
#include <cstring>

namespace {

int token;

void* openFile(char*, int) { return &token; }

int frameInfo(void*, int* w, int* h, int* total)
{
    *w = 64;
    *h = 48;
    *total = 5;
    return 1;
}

int getFrame(void*, char* buffer, int pitch, int, int frameNo, int* delivered)
{
    if (frameNo < 0 || frameNo >= 5)
        return -1;
    memset(buffer, 0x80, static_cast<size_t>(pitch) * 48);
    *delivered = frameNo;
    return 0;
}

} // namespace

#ifndef QV_FAULT_WITHOUT_ENTRY
extern "C" __attribute__((visibility("default"))) int GetVideoLoaderHandlerInfo(KVG_VideoLoader* loader)
{
    const char* table = getenv("QV_FAULT_TABLE");
    const char* mode = table != nullptr ? table : "nulls";
    if (strcmp(mode, "refuse") == 0)
        return 0;
    if (strcmp(mode, "nulls") == 0)
        return 1;
    loader->OpenFile = openFile;
    loader->GetFrameInfo = frameInfo;
    loader->supportSeekFeature = strcmp(mode, "noseq") == 0 ? 0 : 1;
    if (strcmp(mode, "minimal") == 0)
        loader->GetFrame = getFrame;
    return 1;
}
#else
extern "C" __attribute__((visibility("default"))) int NotAVideoLoader() { return 0; }
#endif
