#include "gl/ImageRows.h"

#include "boundary/Debug_Trace.h"
#include "gl/StimulusImage.h"

#include <png.h>
// jpeglib.h needs FILE and size_t declared first.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace qv {

namespace {

// libjpeg keeps a progressive image's coefficients whole; nothing spills to
// disk, so a larger need fails instead of growing without end.
constexpr long kJpegMemoryLimit = 256L << 20;
// Text and other ancillary PNG chunks the decoder may buffer.
constexpr png_alloc_size_t kPngChunkLimit = 8u << 20;

// Failure texts outlive the decoder that wrote them.
thread_local char lastFailure[JMSG_LENGTH_MAX];

const char* keepFailure(const char* text)
{
    snprintf(lastFailure, sizeof lastFailure, "%s", text);
    return lastFailure;
}

// ---- PNG ----
// libpng reports errors by longjmp: the functions below hold no object with a
// destructor, and the structures are released in one place by the caller.

struct PngFailure {
    char message[128];
};

void pngError(png_structp png, png_const_charp message)
{
    auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
    snprintf(failure->message, sizeof failure->message, "%s", message != nullptr ? message : "libpng error");
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) { }

bool pngRows(png_structp png, png_infop info, FILE* file, const ImageHeader& header, RgbaRowSink& sink,
             unsigned char** whole)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_set_user_limits(png, header.width, header.height);
    png_set_chunk_malloc_max(png, kPngChunkLimit);
    png_read_info(png, info);
    if (png_get_image_width(png, info) != header.width || png_get_image_height(png, info) != header.height)
        png_error(png, "size differs from the header read");
    // 8-bit RGBA whatever the file holds: palettes and low depths expanded,
    // transparency to alpha, 16 bits cut to the high byte, grey to RGB.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    const bool interlaced = png_set_interlace_handling(png) > 1;
    png_read_update_info(png, info);
    const png_size_t rowBytes = png_size_t(header.width) * 4;
    if (png_get_rowbytes(png, info) != rowBytes)
        png_error(png, "unexpected row size after expansion");
    if (interlaced) {
        // Adam7 passes revisit every row: the image is held whole, so only
        // within the single-texture pixel limit.
        if (uint64_t(header.width) * header.height > kMaxStimulusPixels)
            png_error(png, "interlaced PNG too large to hold whole");
        *whole = static_cast<unsigned char*>(malloc(rowBytes * header.height));
        if (*whole == nullptr)
            png_error(png, "no memory for an interlaced PNG");
        for (int pass = png_set_interlace_handling(png); pass > 0; --pass)
            for (uint32_t y = 0; y < header.height; ++y)
                png_read_row(png, *whole + rowBytes * y, nullptr);
        for (uint32_t y = 0; y < header.height; ++y) {
            memcpy(sink.row(y), *whole + rowBytes * y, rowBytes);
            if (!sink.rowDone(y))
                png_error(png, "rows not taken");
        }
        return true;
    }
    for (uint32_t y = 0; y < header.height; ++y) {
        png_read_row(png, sink.row(y), nullptr);
        if (!sink.rowDone(y))
            png_error(png, "rows not taken");
    }
    return true;
}

const char* decodePng(FILE* file, const ImageHeader& header, RgbaRowSink& sink)
{
    PngFailure failure;
    failure.message[0] = '\0';
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, pngError, pngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    unsigned char* whole = nullptr; // an interlaced image, held whole
    const bool ok = info != nullptr && pngRows(png, info, file, header, sink, &whole);
    png_destroy_read_struct(png != nullptr ? &png : nullptr, info != nullptr ? &info : nullptr, nullptr);
    free(whole);
    if (ok)
        return nullptr;
    return keepFailure(failure.message[0] != '\0' ? failure.message : "cannot start libpng");
}

// ---- JPEG ----

struct JpegFailure {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegError(j_common_ptr info)
{
    auto* failure = reinterpret_cast<JpegFailure*>(info->err);
    info->err->format_message(info, failure->message);
    longjmp(failure->jump, 1);
}

[[noreturn]] void jpegFail(JpegFailure* failure, const char* why)
{
    snprintf(failure->message, sizeof failure->message, "%s", why);
    longjmp(failure->jump, 1);
}

void jpegMessage(j_common_ptr info)
{
    char text[JMSG_LENGTH_MAX];
    info->err->format_message(info, text);
    debug_trace("JPEG: %s \n", text);
}

bool jpegRows(jpeg_decompress_struct* info, JpegFailure* failure, FILE* file, const ImageHeader& header,
              RgbaRowSink& sink)
{
    if (setjmp(failure->jump))
        return false;
    jpeg_create_decompress(info);
    info->mem->max_memory_to_use = kJpegMemoryLimit;
    jpeg_stdio_src(info, file);
    jpeg_read_header(info, TRUE);
    if (info->image_width != header.width || info->image_height != header.height)
        jpegFail(failure, "size differs from the header read");
    if (info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK)
        jpegFail(failure, "CMYK JPEG has no RGBA conversion");
    info->out_color_space = JCS_EXT_RGBA;
    info->dct_method = JDCT_ISLOW;
    jpeg_start_decompress(info);
    while (info->output_scanline < info->output_height) {
        const uint32_t y = info->output_scanline;
        JSAMPROW row = sink.row(y);
        if (jpeg_read_scanlines(info, &row, 1) != 1 || !sink.rowDone(y))
            jpegFail(failure, "rows not taken");
    }
    return true;
}

const char* decodeJpeg(FILE* file, const ImageHeader& header, RgbaRowSink& sink)
{
    JpegFailure failure;
    jpeg_decompress_struct info;
    memset(&info, 0, sizeof info);
    info.err = jpeg_std_error(&failure.mgr);
    failure.mgr.error_exit = jpegError;
    failure.mgr.output_message = jpegMessage;
    failure.message[0] = '\0';
    const bool ok = jpegRows(&info, &failure, file, header, sink);
    jpeg_destroy_decompress(&info); // safe on a half-made or never-made decompressor
    if (ok)
        return nullptr;
    return keepFailure(failure.message[0] != '\0' ? failure.message : "libjpeg error");
}

// ---- BMP ----
// Uncompressed rows are all in the file and RLE is bounded per byte, so the
// decoded bitmap is at most a small multiple of the file's size.

const char* decodeBmp(FILE* file, const ImageHeader& header, RgbaRowSink& sink)
{
    FreeImageIO io = fileReaderIO();
    Bitmap dib(FreeImage_LoadFromHandle(FIF_BMP, &io, file, 0));
    if (dib && FreeImage_GetBPP(dib.get()) != 24)
        dib = Bitmap(FreeImage_ConvertTo24Bits(dib.get())); // a BMP's fourth byte is rarely alpha
    if (!dib)
        return "FreeImage cannot read the BMP";
    const uint32_t w = FreeImage_GetWidth(dib.get()), h = FreeImage_GetHeight(dib.get());
    if (w != header.width || h != header.height)
        return "size differs from the header read";
    for (uint32_t y = 0; y < h; ++y) {
        const BYTE* src = FreeImage_GetScanLine(dib.get(), static_cast<int>(h - 1 - y));
        unsigned char* dst = sink.row(y);
        for (uint32_t x = 0; x < w; ++x, src += 3, dst += 4) {
            dst[0] = src[FI_RGBA_RED];
            dst[1] = src[FI_RGBA_GREEN];
            dst[2] = src[FI_RGBA_BLUE];
            dst[3] = 0xFF;
        }
        if (!sink.rowDone(y))
            return "rows not taken";
    }
    return nullptr;
}

} // namespace

const char* decodeRgbaRows(FILE* file, const ImageHeader& header, RgbaRowSink& sink)
{
    rewind(file);
    switch (header.kind) {
    case ImageKind::Png: return decodePng(file, header, sink);
    case ImageKind::Jpeg: return decodeJpeg(file, header, sink);
    case ImageKind::Bmp: return decodeBmp(file, header, sink);
    default: break;
    }
    return "format not decoded row by row";
}

} // namespace qv
