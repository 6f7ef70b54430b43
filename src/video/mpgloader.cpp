#include "video/mpgloader.h"

#include "boundary/Debug_Trace.h"
#include "video/LoaderSupport.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Takes one entry point by name; false when the library lacks it.
template <class F>
bool bind(void* library, const char* name, F& target)
{
    target = reinterpret_cast<F>(dlsym(library, name));
    if (target == nullptr)
        debug_trace(" libMpgLoader.so lacks %s \n", name);
    return target != nullptr;
}

} // namespace

MpgLoader::MpgLoader()
{
    m_Handler = openLoaderLibrary("libMpgLoader.so");
    if (m_Handler == nullptr) {
        debug_trace(" loading libMpgLoader.so failed: %s \n", dlerror());
        _valid = false;
        return;
    }
    _valid = bind(m_Handler, "getVideoInfo", getVideoInfo) && bind(m_Handler, "getAudioInfo", getAudioInfo) &&
             bind(m_Handler, "getNextFrameBuffer", getNextFrameBuffer) &&
             bind(m_Handler, "hasMoreFrame", hasMoreFrame) && bind(m_Handler, "openFile", openFile) &&
             bind(m_Handler, "createMpgLoader", createMpgLoader) &&
             bind(m_Handler, "deleteMpgLoader", deleteMpgLoader);
    if (_valid) {
        m_loader = createMpgLoader();
        _valid = m_loader != nullptr;
    }
    if (!_valid) {
        // Nothing of an invalid loader is ever called again.
        dlclose(m_Handler);
        m_Handler = nullptr;
    }
}

MpgLoader::~MpgLoader()
{
    if (!_valid)
        return;
    deleteMpgLoader(m_loader);
    free(buffer);
    dlclose(m_Handler);
}

int MpgLoader::OpenVideo(char* filename)
{
    if (!_valid || !acceptableVideoPath(filename))
        return -1;
    const int ret = openFile(m_loader, filename);
    if (ret < 0)
        return ret;
    getVideoInfo(m_loader, &w, &h, &bpp, &fps);
    if (!plausibleFrameSize(w, h)) {
        debug_trace(" mpeg frame size %d x %d refused \n", w, h);
        return -1;
    }
    free(buffer);
    buffer = static_cast<unsigned char*>(malloc(static_cast<size_t>(w) * static_cast<size_t>(h) * 4));
    if (buffer == nullptr)
        return -1;
    snprintf(m_filename, sizeof m_filename, "%s", filename);
    m_prevFrameNo = -1;
    m_fresh = false;
    return ret;
}

int MpgLoader::GetNextFrame(int frameNo)
{
    m_fresh = false;
    if (!_valid || buffer == nullptr)
        return -1;
    if (m_prevFrameNo != -1 && m_prevFrameNo == frameNo)
        return 2;
    const int ret = getNextFrameBuffer(m_loader, buffer, frameNo);
    if (ret >= 0) {
        m_prevFrameNo = frameNo;
        m_fresh = true;
    }
    return ret == 0 ? m_prevFrameNo : ret;
}
