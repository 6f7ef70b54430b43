// Reading a stimulus image file with FreeImage for upload as one texture:
// the header is read and bounded first (ImageHeader.h), then FreeImage
// decodes, and the bitmap is brought to a depth GL takes. No GL here.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <cstdio>
#include <memory>

namespace qv {

struct BitmapDeleter {
    void operator()(FIBITMAP* dib) const
    {
        if (dib != nullptr)
            FreeImage_Unload(dib);
    }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

// FreeImage reads through these, from the FILE* given as its handle.
FreeImageIO fileReaderIO();

// The largest image loaded as one texture, in pixels (8192 x 8192): as RGBA it
// is more than the texture cache's whole budget of 200000 KiB.
constexpr uint64_t kMaxStimulusPixels = 1ull << 26;

struct StimulusLimits {
    uint64_t maxPixels = kMaxStimulusPixels;
    uint32_t maxSide = 0; // the GL texture limit; 0: none
};

// The decoded bitmap (24 or 32 bits, or 8-bit grey converted to 24, with the
// background colour made transparent), or null with a log line naming `name`.
// `fif` is the format read.
Bitmap decodeStimulus(FILE* file, uint64_t fileBytes, const char* name, const StimulusLimits& limits,
                      FREE_IMAGE_FORMAT& fif);

} // namespace qv
