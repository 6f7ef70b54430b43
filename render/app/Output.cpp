#include "app/Output.h"

#include <FreeImage.h>
#include <GL/glew.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace qvr {

namespace {

// The temporary file of the render in progress, for the signal handler
// (which may only call async-signal-safe functions).
char pendingPath[4096];

void removePendingAndDie(int sig)
{
    if (pendingPath[0] != '\0')
        unlink(pendingPath);
    signal(sig, SIG_DFL);
    raise(sig);
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

PendingOutput::PendingOutput(const std::string& out) : m_out(out)
{
    const size_t slash = out.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : out.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? out : out.substr(slash + 1);
    // Hidden, unique per process, and ending in OUT's own extension, which
    // picks the container.
    m_temp = folder + ".quorvex-render-" + std::to_string(getpid()) + "-" + name;
    if (m_temp.size() < sizeof(pendingPath)) {
        std::memcpy(pendingPath, m_temp.c_str(), m_temp.size() + 1);
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            std::signal(sig, removePendingAndDie);
    }
}

PendingOutput::~PendingOutput()
{
    if (!m_done)
        unlink(m_temp.c_str());
    pendingPath[0] = '\0';
}

bool PendingOutput::commit(std::string& error)
{
    if (std::rename(m_temp.c_str(), m_out.c_str()) != 0) {
        error = "cannot rename " + m_temp + " to " + m_out + ": " + std::strerror(errno);
        return false;
    }
    m_done = true;
    return true;
}

bool outputWritable(const std::string& out, std::string& error)
{
    const std::string folder = folderOf(out);
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write into " + folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string extensionOf(const std::string& path)
{
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return "";
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

void readFrame(int width, int height, std::vector<uint8_t>& bgra)
{
    bgra.resize(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, bgra.data());
}

bool savePng(const std::string& path, const std::vector<uint8_t>& bgra, int width, int height,
             std::string& error)
{
    // FreeImage's 32-bit pictures are B G R A, bottom row first: as read back.
    FIBITMAP* picture =
        FreeImage_ConvertFromRawBits(const_cast<BYTE*>(bgra.data()), width, height, width * 4, 32,
                                     FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, FALSE);
    FIBITMAP* rgb = picture != nullptr ? FreeImage_ConvertTo24Bits(picture) : nullptr;
    const bool saved = rgb != nullptr && FreeImage_Save(FIF_PNG, rgb, path.c_str(), PNG_Z_BEST_SPEED);
    if (rgb != nullptr)
        FreeImage_Unload(rgb);
    if (picture != nullptr)
        FreeImage_Unload(picture);
    if (!saved)
        error = "cannot write the PNG " + path;
    return saved;
}

} // namespace qvr
