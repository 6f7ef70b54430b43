// Pictures written and read back with FreeImage at test time: stimulus files for the library and the
// renderer, and the files they save.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvtest {

struct Rgba {
    int r, g, b, a;
};

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
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgba c = px(x, y);
            RGBQUAD q{BYTE(c.b), BYTE(c.g), BYTE(c.r), BYTE(c.a)}; // little-endian order
            if (bpp == 8)
                FreeImage_SetPixelIndex(dib, x, h - 1 - y, &q.rgbRed);
            else
                FreeImage_SetPixelColor(dib, x, h - 1 - y, &q);
        }
    if (background != nullptr)
        FreeImage_SetBackgroundColor(dib, const_cast<RGBQUAD*>(background));
    const bool ok = FreeImage_Save(fif, dib, path.c_str(), flags) != 0;
    FreeImage_Unload(dib);
    return ok;
}

// A saved picture as RGB bytes, top row first, and the file's own bits per pixel; 0 x 0 when unreadable.
struct Picture {
    int width = 0, height = 0, bpp = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

inline Picture readImage(const std::string& path)
{
    Picture p;
    FIBITMAP* raw = FreeImage_Load(FreeImage_GetFIFFromFilename(path.c_str()), path.c_str(), 0);
    FIBITMAP* bmp = raw != nullptr ? FreeImage_ConvertTo24Bits(raw) : nullptr;
    if (bmp == nullptr) {
        FreeImage_Unload(raw);
        return p;
    }
    p.width = static_cast<int>(FreeImage_GetWidth(bmp));
    p.height = static_cast<int>(FreeImage_GetHeight(bmp));
    p.bpp = static_cast<int>(FreeImage_GetBPP(raw));
    for (int y = 0; y < p.height; ++y) {
        const BYTE* row = FreeImage_GetScanLine(bmp, p.height - 1 - y);
        for (int x = 0; x < p.width; ++x)
            for (int c : {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE})
                p.rgb.push_back(row[x * 3 + c]);
    }
    FreeImage_Unload(bmp);
    FreeImage_Unload(raw);
    return p;
}

} // namespace qvtest
