#include "gl/StimulusImage.h"

#include "boundary/Debug_Trace.h"
#include "gl/ImageHeader.h"

#include <cstring>

namespace qv {

namespace {

// Past the end of the file, reads give zero bytes as well as a short count:
// FreeImage's GIF loader ignores the count, and where a seek past the end
// also fails (a stream, a memory file) it loops for ever on a stale
// sub-block length; a zero length ends it.
unsigned DLL_CALLCONV ioRead(void* buffer, unsigned size, unsigned count, fi_handle handle)
{
    const size_t got = fread(buffer, size, count, static_cast<FILE*>(handle));
    if (got < count)
        memset(static_cast<char*>(buffer) + got * size, 0, (static_cast<size_t>(count) - got) * size);
    return static_cast<unsigned>(got);
}
unsigned DLL_CALLCONV ioWrite(void*, unsigned, unsigned, fi_handle) { return 0; }
int DLL_CALLCONV ioSeek(fi_handle handle, long offset, int origin)
{
    return fseek(static_cast<FILE*>(handle), offset, origin);
}
long DLL_CALLCONV ioTell(fi_handle handle) { return ftell(static_cast<FILE*>(handle)); }

FREE_IMAGE_FORMAT freeImageFormat(ImageKind kind)
{
    switch (kind) {
    case ImageKind::Png: return FIF_PNG;
    case ImageKind::Jpeg: return FIF_JPEG;
    case ImageKind::Bmp: return FIF_BMP;
    case ImageKind::Gif: return FIF_GIF;
    case ImageKind::Tiff: return FIF_TIFF;
    case ImageKind::Unknown: break;
    }
    return FIF_UNKNOWN;
}

// Types beyond 8 bits per channel come down to the standard 24/32-bit kinds.
Bitmap toStandardType(Bitmap dib)
{
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib.get());
    if (type == FIT_BITMAP)
        return dib;
    if (type == FIT_RGBA16 || type == FIT_RGBAF)
        return Bitmap(FreeImage_ConvertTo32Bits(dib.get()));
    if (type == FIT_RGB16 || type == FIT_RGBF)
        return Bitmap(FreeImage_ConvertTo24Bits(dib.get()));
    return Bitmap(FreeImage_ConvertToStandardType(dib.get(), TRUE));
}

// Depths GL cannot take as they are, and 32-bit BMPs (whose fourth byte is
// rarely a real alpha), become 24 bits.
Bitmap toUploadDepth(Bitmap dib, FREE_IMAGE_FORMAT fif)
{
    const unsigned bpp = FreeImage_GetBPP(dib.get());
    if (bpp == 16 || bpp == 8 || bpp < 5 || (bpp == 32 && fif == FIF_BMP)) {
        printf("should be map to here %d \n", static_cast<int>(bpp));
        fflush(nullptr);
        Bitmap converted(FreeImage_ConvertTo24Bits(dib.get()));
        if (converted)
            debug_trace(" convert with bpp %d ", static_cast<int>(FreeImage_GetBPP(converted.get())));
        return converted;
    }
    return dib;
}

// Pixels of the file's background colour become transparent black. Channels
// are compared by name, whatever their order in memory.
Bitmap clearBackground(Bitmap dib)
{
    if (!FreeImage_HasBackgroundColor(dib.get()))
        return dib;
    RGBQUAD bk;
    if (!FreeImage_GetBackgroundColor(dib.get(), &bk))
        return dib;
    debug_trace("has background \n");
    Bitmap rgba(FreeImage_ConvertTo32Bits(dib.get()));
    if (!rgba)
        return rgba;
    const unsigned w = FreeImage_GetWidth(rgba.get());
    const unsigned h = FreeImage_GetHeight(rgba.get());
    for (unsigned row = 0; row < h; ++row) {
        BYTE* p = FreeImage_GetScanLine(rgba.get(), static_cast<int>(row));
        for (unsigned col = 0; col < w; ++col, p += 4) {
            if (p[FI_RGBA_RED] == bk.rgbRed && p[FI_RGBA_GREEN] == bk.rgbGreen &&
                p[FI_RGBA_BLUE] == bk.rgbBlue) {
                p[FI_RGBA_RED] = p[FI_RGBA_GREEN] = p[FI_RGBA_BLUE] = 0;
                p[FI_RGBA_ALPHA] = 0;
            }
        }
    }
    return rgba;
}

} // namespace

FreeImageIO fileReaderIO()
{
    FreeImageIO io;
    io.read_proc = ioRead;
    io.write_proc = ioWrite;
    io.seek_proc = ioSeek;
    io.tell_proc = ioTell;
    return io;
}

Bitmap decodeStimulus(FILE* file, uint64_t fileBytes, const char* name, const StimulusLimits& limits,
                      FREE_IMAGE_FORMAT& fif)
{
    // Only formats whose header is read here get to FreeImage: its own header
    // reads of other formats (EXR, XBM, XPM) spin or read past buffers.
    ImageHeader header;
    const char* why = probeImage(file, fileBytes, limits.maxPixels, header);
    fif = freeImageFormat(header.kind);
    if (why == nullptr && limits.maxSide != 0 &&
        (header.width > limits.maxSide || header.height > limits.maxSide))
        why = "larger than the texture limit";
    if (why != nullptr) {
        debug_trace(" refuse image %s (%s, %u x %u): %s \n", name, imageKindName(header.kind), header.width,
                    header.height, why);
        return nullptr;
    }
    FreeImageIO io = fileReaderIO();
    Bitmap dib(FreeImage_LoadFromHandle(fif, &io, file, 0));
    if (dib &&
        (FreeImage_GetWidth(dib.get()) > header.width || FreeImage_GetHeight(dib.get()) > header.height)) {
        debug_trace(" refuse image %s: decoded larger than its header says \n", name);
        return nullptr;
    }
    if (dib)
        dib = toStandardType(std::move(dib));
    if (!dib) {
        puts(" failed to load the image ");
        fflush(nullptr);
        return nullptr;
    }
    dib = toUploadDepth(std::move(dib), fif);
    if (dib)
        dib = clearBackground(std::move(dib));
    return dib;
}

} // namespace qv
