// Images written at test time with FreeImage, and a fixture that leaves the
// context's texture manager empty so no test sees another's cache.
#pragma once

#include "gl/TextureManager.h"
#include "support/GlState.h"
#include "support/ScriptedGlErrors.h"
#include "support/SyslogCapture.h"

#include <FreeImage.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace qvtest {

using PixelFn = std::function<Rgba(int x, int y)>; // y counted from the top

// Writes a w x h image of `bpp` bits (8: grey from the red channel) as `fif`, with FreeImage's save flags.
inline bool writeImage(const std::string& path, FREE_IMAGE_FORMAT fif, int w, int h, int bpp,
                       const PixelFn& px, const RGBQUAD* background = nullptr, int flags = 0)
{
    FIBITMAP* dib = FreeImage_Allocate(w, h, bpp);
    if (dib == nullptr)
        return false;
    RGBQUAD* pal = bpp == 8 ? FreeImage_GetPalette(dib) : nullptr;
    for (int i = 0; pal != nullptr && i < 256; ++i)
        pal[i].rgbRed = pal[i].rgbGreen = pal[i].rgbBlue = static_cast<BYTE>(i);
    for (int y = 0; y < h; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const Rgba c = px(x, y);
            BYTE* p = line + x * (bpp / 8);
            if (bpp == 8) {
                p[0] = static_cast<BYTE>(c.r);
                continue;
            }
            p[FI_RGBA_RED] = static_cast<BYTE>(c.r);
            p[FI_RGBA_GREEN] = static_cast<BYTE>(c.g);
            p[FI_RGBA_BLUE] = static_cast<BYTE>(c.b);
            if (bpp == 32)
                p[FI_RGBA_ALPHA] = static_cast<BYTE>(c.a);
        }
    }
    if (background != nullptr)
        FreeImage_SetBackgroundColor(dib, const_cast<RGBQUAD*>(background));
    const bool ok = FreeImage_Save(fif, dib, path.c_str(), flags) != 0;
    FreeImage_Unload(dib);
    return ok;
}

inline PixelFn solid(Rgba c)
{
    return [c](int, int) { return c; };
}

// Red, green / blue, white quadrants.
inline PixelFn quadrants(int w, int h)
{
    return [w, h](int x, int y) {
        const bool right = x >= w / 2, bottom = y >= h / 2;
        return bottom ? (right ? kWhite : kBlue) : (right ? kGreen : kRed);
    };
}

// Resident-size bounds are checked in the plain build only: ASan holds freed
// blocks in a quarantine of its own size and adds shadow memory and redzones,
// so a peak measured there is the sanitizer's, not the loader's.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kChecksResidentSize = false;
#else
constexpr bool kChecksResidentSize = true;
#endif

// A field of /proc/self/status in KiB (VmHWM, VmRSS); -1 when missing.
inline long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.compare(0, key.size(), key) == 0)
            return std::atol(line.c_str() + key.size());
    return -1;
}

// VmHWM back to the current size (clear_refs 5): afterwards it is the peak of what follows.
inline bool resetPeakResident()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return clear.good();
}

class ImageTest : public GlTest {
protected:
    void SetUp() override
    {
        GlTest::SetUp();
        char pattern[] = "/tmp/qvimagesXXXXXX";
        const char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        dir_ = made;
        manager_ = TextureManager::getInstance();
        ASSERT_NE(manager_, nullptr);
        manager_->UnloadAllTextures();
        manager_->clearLargeTexture();
        clearSyslog();
    }
    void TearDown() override
    {
        if (manager_ != nullptr) {
            manager_->UnloadAllTextures();
            manager_->clearLargeTexture();
        }
        if (!dir_.empty() && std::system(("rm -rf '" + dir_ + "'").c_str()) != 0)
            ADD_FAILURE() << "cannot remove " << dir_;
        GlTest::TearDown();
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    TextureManager& manager() { return *manager_; }
    void clear()
    {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }

private:
    std::string dir_;
    TextureManager* manager_ = nullptr;
};

} // namespace qvtest
