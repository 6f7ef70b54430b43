// Images written at test time with FreeImage, and a fixture that leaves the
// context's texture manager empty so no test sees another's cache.
#pragma once

#include "gl/TextureManager.h"
#include "support/GlState.h"
#include "support/SyslogCapture.h"

#include <FreeImage.h>
#include <png.h>
// jpeglib.h needs FILE and size_t declared first.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace qvtest {

using PixelFn = std::function<Rgba(int x, int y)>; // y counted from the top

// Writes a w x h image of `bpp` bits (8: grey from the red channel) as `fif`.
inline bool writeImage(const std::string& path, FREE_IMAGE_FORMAT fif, int w, int h, int bpp,
                       const PixelFn& px, const RGBQUAD* background = nullptr)
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

// Writes a w x h PNG (Adam7-interlaced when asked) or JPEG, by the extension,
// row by row, so a tall page never sits whole in the test's memory. The
// colour of a row is that of x 0.
inline bool writeTallImage(const std::string& path, int w, int h, const PixelFn& px, bool adam7 = false)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    std::vector<unsigned char> row(static_cast<size_t>(w) * 3);
    const auto fillRow = [&](int y) {
        const Rgba c = px(0, y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<unsigned char>(c.r);
            row[3 * x + 1] = static_cast<unsigned char>(c.g);
            row[3 * x + 2] = static_cast<unsigned char>(c.b);
        }
    };
    bool ok = false;
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".png") == 0) {
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png)) == 0) {
            png_init_io(png, f);
            png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB,
                         adam7 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                         PNG_FILTER_TYPE_DEFAULT);
            png_write_info(png, info);
            for (int pass = png_set_interlace_handling(png); pass > 0; --pass) {
                for (int y = 0; y < h; ++y) {
                    fillRow(y);
                    png_write_row(png, row.data());
                }
            }
            png_write_end(png, nullptr);
            ok = true;
        }
        png_destroy_write_struct(&png, &info);
    } else {
        jpeg_compress_struct cinfo;
        jpeg_error_mgr err; // the default handler ends the test process on an error
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        jpeg_stdio_dest(&cinfo, f);
        cinfo.image_width = static_cast<JDIMENSION>(w);
        cinfo.image_height = static_cast<JDIMENSION>(h);
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 95, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        for (int y = 0; y < h; ++y) {
            fillRow(y);
            JSAMPROW r = row.data();
            jpeg_write_scanlines(&cinfo, &r, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        ok = true;
    }
    return fclose(f) == 0 && ok;
}

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

// Sets the peak resident size back to the current one (Linux: clear_refs 5),
// so VmHWM afterwards is the peak of what follows.
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
