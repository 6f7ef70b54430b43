// Images written at test time with FreeImage, and a fixture that leaves the
// context's texture manager empty so no test sees another's cache.
#pragma once

#include "gl/TextureManager.h"
#include "support/GlState.h"
#include "support/SyslogCapture.h"

#include <FreeImage.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

namespace qvtest {

using PixelFn = std::function<Rgba(int x, int y)>; // y counted from the top

// Writes a w x h image of `bpp` bits (8: grey from the red channel) as `fif`.
inline bool writeImage(const std::string& path, FREE_IMAGE_FORMAT fif, int w, int h, int bpp, const PixelFn& px,
                       const RGBQUAD* background = nullptr)
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
    const bool ok = FreeImage_Save(fif, dib, path.c_str(), 0) != 0;
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

// A small valid BMP whose header then claims `side` x `side` pixels.
inline bool writeHugeBmp(const std::string& path, int32_t side)
{
    if (!writeImage(path, FIF_BMP, 4, 4, 24, solid(kRed)))
        return false;
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(18);
    f.write(reinterpret_cast<const char*>(&side), 4);
    f.write(reinterpret_cast<const char*>(&side), 4);
    return f.good();
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
