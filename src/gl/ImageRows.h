// Decoding a checked image file row by row into 4-channel RGBA, top row
// first, without holding the whole image: PNG through libpng, JPEG through
// libjpeg-turbo, BMP through FreeImage (whose rows the header check bounds by
// the file's size). No GL here.
#pragma once

#include "gl/ImageHeader.h"

#include <cstdint>
#include <cstdio>

namespace qv {

// Where the rows go.
class RgbaRowSink {
public:
    virtual ~RgbaRowSink() = default;
    // A buffer of width x 4 bytes for image row `y` (counted from the top).
    virtual unsigned char* row(uint32_t y) = 0;
    // Row `y` is filled; false stops the decoding as a failure.
    virtual bool rowDone(uint32_t y) = 0;
};

// Decodes `file`, whose header `probeImage` read and accepted, into `sink`.
// Null when every row was delivered, else why not.
const char* decodeRgbaRows(FILE* file, const ImageHeader& header, RgbaRowSink& sink);

} // namespace qv
