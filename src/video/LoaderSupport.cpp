#include "video/LoaderSupport.h"

#include "boundary/Debug_Trace.h"
#include "boundary/Utils.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

bool plausibleFrameSize(int w, int h) { return w > 0 && h > 0 && w <= kMaxFrameSide && h <= kMaxFrameSide; }

void videoSay(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
}

bool acceptableVideoPath(const char* path)
{
    if (path == nullptr) {
        debug_trace(" no video path given \n");
        return false;
    }
    const size_t length = strlen(path);
    if (length > static_cast<size_t>(kMaxVideoPath)) {
        debug_trace(" video path of %zu bytes refused (at most %d) \n", length, kMaxVideoPath);
        return false;
    }
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        videoSay("failed to open file %s \n", path);
        return false;
    }
    return true;
}

void* openLoaderLibrary(const char* file)
{
    // A plug-in stays mapped after its last dlclose: reopening a clip (every
    // step back in sequential mode) then costs no relocation of FFmpeg, and
    // glibc does not orphan the TLS blocks of each unloaded copy.
    const int flags = RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE;
    // The library's RUNPATH ($ORIGIN) finds its companions, but not when a
    // dlopen interceptor (ASan's) stands between us and the dynamic loader.
    if (strchr(file, '/') == nullptr) {
        const std::string beside = besideLibrary(file);
        if (!beside.empty())
            return dlopen(beside.c_str(), flags);
    }
    return dlopen(file, flags);
}
