#include "video/VideoRes.h"

#include "boundary/Debug_Trace.h"
#include "boundary/Utils.h"

#include "video/Videoplay.h"
#include "video/mpgloader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kXvidLoaderFile[] = "libxvidloader.so";

int absolute(int v) { return v < 0 ? -v : v; }

} // namespace

int isLoadableLibrary(char* loaderName)
{
    videoSay("get loader to check %s \n", loaderName);
    if (loaderName == nullptr)
        return 0;
    if (strcmp(loaderName, "vfwloader") == 0 || strcmp(loaderName, "libvfwloader.so") == 0) {
        videoSay(" it is wrong ");
        return 0;
    }
    return 1;
}

VideoRes::VideoRes() = default;

VideoRes::~VideoRes()
{
    if (mpgloader != nullptr)
        delete mpgloader;
    else
        close();
    free(m_mBuff);
    free(fname);
}

void VideoRes::adoptPath(char* path)
{
    if (fname != path)
        free(fname);
    fname = path;
}

void VideoRes::deleteTexture()
{
    if (m_mTex != 0)
        glDeleteTextures(1, &m_mTex);
    m_mTex = 0;
}

int VideoRes::open(char* path, char* loadername)
{
    adoptPath(path);
    if (loadername == nullptr) {
        debug_trace(" no video loader named \n");
        return 0;
    }
    if (strlen(loadername) > static_cast<size_t>(kMaxLoaderName)) {
        debug_trace(" video loader name of %zu bytes refused (at most %d) \n", strlen(loadername),
                    kMaxLoaderName);
        return 0;
    }
    char name[kMaxLoaderName + 1];
    snprintf(name, sizeof name, "%s", loadername);
    if (char* marker = strstr(name, "_user")) {
        memmove(marker, marker + 5, strlen(marker + 5) + 1);
        force_loading = true;
        videoSay(" user choose video loader %s \n", name);
    }
    snprintf(loaderdllname, sizeof loaderdllname, "lib%s.so", name);
    videoSay("add loader name %s ", name);
    return reopen();
}

int VideoRes::reopen()
{
    // The XVID rule switches the plug-in at most once per load.
    int result = loadOnce(false);
    if (result < 0)
        result = loadOnce(true);
    opened = result == 1;
    return result == 1 ? 1 : 0;
}

int VideoRes::loadOnce(bool switchLoad)
{
    close();
    last_frame = 0;
    hasDelivered = false;
    width = 720;
    height = 480;
    videoSay("begin to load it %s \n", loaderdllname);
    if (!isLoadableLibrary(loaderdllname)) {
        videoSay(" failed to load it %s", loaderdllname);
        return 0;
    }
    if (!acceptableVideoPath(fname))
        return 0;
    module = openLoaderLibrary(loaderdllname);
    if (module == nullptr) {
        const char* why = dlerror();
        videoSay(" loading module failed");
        debug_trace(" (%s) \n", why != nullptr ? why : "");
        return 0;
    }
    memset(&loader, 0, sizeof loader);
    auto handlerInfo =
        reinterpret_cast<KVG_GetVideoLoaderHandlerInfo>(dlsym(module, "GetVideoLoaderHandlerInfo"));
    if (handlerInfo == nullptr) {
        unloadModule();
        videoSay("Could not find function GetVideoLoaderHandlerInfo");
        return 0;
    }
    if (handlerInfo(&loader) == 0) {
        unloadModule();
        videoSay("Video Loader Handler failed ");
        return 0;
    }
    const bool seeking = loader.supportSeekFeature == 1;
    const bool framesReachable =
        seeking ? loader.GetFrame != nullptr
                : (loader.GetNextFrame != nullptr && loader.HasMoreBytesToRead != nullptr);
    if (loader.OpenFile == nullptr || loader.GetFrameInfo == nullptr || !framesReachable) {
        unloadModule();
        debug_trace(" video loader %s lacks OpenFile, GetFrameInfo or its frame function \n", loaderdllname);
        return 0;
    }
    dt = loader.OpenFile(fname, 1);
    // The XVID rule; a clip already on the xvid plug-in (a reopen) stays there.
    if (dt != nullptr && strstr(fname, "avi") != nullptr && !switchLoad && !force_loading &&
        loader.GetVideoFileInfo != nullptr && strcmp(loaderdllname, kXvidLoaderFile) != 0) {
        char codec[kCodecNameSize] = {};
        int codecIds[10] = {};
        loader.GetVideoFileInfo(dt, codec, codecIds);
        codec[sizeof codec - 1] = '\0';
        if (strcmp(codec, "XVID") == 0) {
            close();
            snprintf(loaderdllname, sizeof loaderdllname, "lib%s.so", "xvidloader");
            static_assert(sizeof kXvidLoaderFile == sizeof "libxvidloader.so");
            return -1;
        }
    }
    if (dt == nullptr) {
        videoSay("failed to open file %s \n", fname);
        unloadModule();
        return 0;
    }
    int totalFrames = 0;
    if (loader.GetFrameInfo(dt, &width, &height, &totalFrames) == 0) {
        debug_trace(" no frame information for %s \n", fname);
        close();
        return 0;
    }
    if (!openFrameBuffers()) {
        close();
        return 0;
    }
    return 1;
}

bool VideoRes::openFrameBuffers()
{
    if (!plausibleFrameSize(width, height)) {
        debug_trace(" video frame size %d x %d refused \n", width, height);
        return false;
    }
    const size_t bytes = static_cast<size_t>(width) * 4 * static_cast<size_t>(height);
    image_bits = static_cast<unsigned char*>(malloc(bytes));
    image_bits_reverse = static_cast<unsigned char*>(malloc(bytes));
    if (image_bits == nullptr || image_bits_reverse == nullptr) {
        debug_trace(" no memory for %d x %d video frames \n", width, height);
        return false;
    }
    return true;
}

void VideoRes::unloadModule()
{
    if (module != nullptr)
        dlclose(module);
    module = nullptr;
    memset(&loader, 0, sizeof loader);
}

void VideoRes::close()
{
    free(image_bits_reverse);
    free(image_bits);
    image_bits_reverse = nullptr;
    image_bits = nullptr;
    if (dt != nullptr && loader.CloseFile != nullptr)
        loader.CloseFile(dt);
    dt = nullptr;
    unloadModule();
}

void VideoRes::uploadFrame() { createTextures(width, height, image_bits, 4, this); }

int VideoRes::getVideoFrame(int frame)
{
    if (dt == nullptr || image_bits == nullptr || loader.GetFrame == nullptr)
        return -1;
    int delivered = 0;
    const int rv = loader.GetFrame(dt, reinterpret_cast<char*>(image_bits), width * 4, 32, frame, &delivered);
    if (rv < 0)
        return rv;
    if (hasDelivered && absolute(last_frame) == delivered)
        return last_frame;
    last_frame = delivered;
    hasDelivered = true;
    if (delivered != frame)
        return rv;
    if (m_mTex == 0)
        createTextures(width, height, image_bits, 4, this);
    else
        updates(width, height, image_bits, 4, this);
    return delivered;
}

bool VideoRes::decodeNext(int frame, int* decoded)
{
    if (dt == nullptr || image_bits == nullptr || loader.HasMoreBytesToRead == nullptr ||
        loader.GetNextFrame == nullptr || loader.HasMoreBytesToRead(dt) == 0)
        return false;
    if (loader.ReadData != nullptr)
        loader.ReadData(dt);
    char* bits = reinterpret_cast<char*>(image_bits);
    *decoded = 0;
    if (loader.GetNextFrame(dt, bits, width * 4, 32, decoded) != 0)
        return true;
    if (loader.GetNextFrame(dt, bits, width * 4, 32, decoded) != 0)
        return true;
    videoSay("Failed to get first frame %d %d\n", frame, *decoded);
    return false;
}

int VideoRes::getVideoData(int frame)
{
    if (frame < 0)
        return -1;
    // A step backwards starts again from the beginning of the file.
    if (absolute(last_frame) > frame) {
        close();
        if (reopen() == 0)
            return -1;
    }
    // Forward one frame per step until the frame is reached or the data ends.
    for (;;) {
        if (absolute(last_frame) == frame && (hasDelivered || last_frame < 0))
            return last_frame;
        int decoded = 0;
        if (!decodeNext(frame, &decoded)) {
            last_frame = -frame;
            return -1;
        }
        if (hasDelivered && absolute(last_frame) == decoded)
            return last_frame;
        last_frame = decoded;
        hasDelivered = true;
        if (decoded == frame) {
            uploadFrame();
            return decoded;
        }
    }
}
