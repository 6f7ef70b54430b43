// The size an image file declares, read from its header by hand before any
// decoder sees the file, and the bound that size must keep given the file's
// own size. Only formats whose header is read here are accepted; everything
// else (EXR, XBM, XPM, ...) is refused before a decoder runs.
#pragma once

#include <cstdint>
#include <cstdio>

namespace qv {

enum class ImageKind { Unknown, Png, Jpeg, Bmp, Gif, Tiff };

struct ImageHeader {
    ImageKind kind = ImageKind::Unknown;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0; // as stored: PNG channels x depth, BMP bit count, TIFF samples x bits
    uint32_t compression = 0;  // BMP biCompression, TIFF Compression tag
    uint32_t components = 0;   // JPEG colour components
    bool interlaced = false;   // PNG Adam7
};

const char* imageKindName(ImageKind kind);

// Reads the header from the start of `file` and rewinds it. Null when the
// header was read, else why the file is refused.
const char* readImageHeader(FILE* file, ImageHeader& header);

// Null when `fileBytes` of data can hold the declared size (each format's
// largest honest expansion) and the image has at most `maxPixels` pixels,
// else why not.
const char* checkDeclaredSize(const ImageHeader& header, uint64_t fileBytes, uint64_t maxPixels);

// Both of the above, for a file whose size is known.
const char* probeImage(FILE* file, uint64_t fileBytes, uint64_t maxPixels, ImageHeader& header);

} // namespace qv
