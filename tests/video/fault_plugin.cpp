// A loader plug-in for the video tests; QV_FAULT_TABLE picks its table when the handler runs:
// "nulls" (every entry null, handler succeeds), "refuse" (handler fails), "noframes" / "noseq"
// (open and info only, random / sequential access), "minimal" (grey frames by random access, every
// optional entry null). Built with QV_FAULT_WITHOUT_ENTRY it has no handler: no loader at all.
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
    if (strcmp(mode, "refuse") == 0 || strcmp(mode, "nulls") == 0)
        return strcmp(mode, "nulls") == 0;
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
