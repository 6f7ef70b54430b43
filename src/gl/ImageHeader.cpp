#include "gl/ImageHeader.h"

#include <cstring>

namespace qv {

namespace {

// Largest honest expansion of each coding, in decoded bytes (or pixels) per
// byte of file:
// - deflate (PNG, TIFF 8/32946): 1032 (a 258-byte match in under 2 bits);
// - LZW (GIF, TIFF 5): a code of at most 12 bits yields at most 4096 symbols;
// - PackBits (TIFF 32773): two bytes give at most 128;
// - BMP RLE4/RLE8: two bytes give at most 255 pixels (delta escapes that skip
//   more are not honoured: such files are refused);
// - Huffman-coded JPEG: every 8 x 8 block costs at least one bit (the DC code
//   of a progressive first scan), so 512 pixels per byte.
constexpr uint64_t kDeflateRatio = 1032;
constexpr uint64_t kLzwRatio = 4096 * 8 / 12 + 1;
constexpr uint64_t kPackBitsRatio = 64;
constexpr uint64_t kRlePixelsPerByte = 128;
constexpr uint64_t kJpegPixelsPerByte = 512;

bool readAt(FILE* file, long offset, void* buffer, size_t n)
{
    return fseek(file, offset, SEEK_SET) == 0 && fread(buffer, 1, n, file) == n;
}

uint32_t be16(const unsigned char* p) { return (uint32_t(p[0]) << 8) | p[1]; }
uint32_t be32(const unsigned char* p) { return (be16(p) << 16) | be16(p + 2); }
uint32_t le16(const unsigned char* p) { return (uint32_t(p[1]) << 8) | p[0]; }
uint32_t le32(const unsigned char* p) { return (le16(p + 2) << 16) | le16(p); }

ImageKind sniff(const unsigned char* m, size_t n)
{
    if (n >= 8 && memcmp(m, "\x89PNG\r\n\x1a\n", 8) == 0)
        return ImageKind::Png;
    if (n >= 3 && m[0] == 0xFF && m[1] == 0xD8 && m[2] == 0xFF)
        return ImageKind::Jpeg;
    if (n >= 2 && m[0] == 'B' && m[1] == 'M')
        return ImageKind::Bmp;
    if (n >= 6 && (memcmp(m, "GIF87a", 6) == 0 || memcmp(m, "GIF89a", 6) == 0))
        return ImageKind::Gif;
    if (n >= 4 && (memcmp(m, "II*\0", 4) == 0 || memcmp(m, "MM\0*", 4) == 0))
        return ImageKind::Tiff;
    return ImageKind::Unknown;
}

const char* readPng(FILE* file, ImageHeader& h)
{
    unsigned char b[33];
    if (!readAt(file, 0, b, sizeof b) || be32(b + 8) != 13 || memcmp(b + 12, "IHDR", 4) != 0)
        return "PNG without a header chunk";
    h.width = be32(b + 16);
    h.height = be32(b + 20);
    const uint32_t depth = b[24], colour = b[25];
    uint32_t channels = 0;
    switch (colour) {
    case 0: channels = 1; break;
    case 2: channels = 3; break;
    case 3: channels = 1; break;
    case 4: channels = 2; break;
    case 6: channels = 4; break;
    default: return "PNG of an unknown colour type";
    }
    const bool depthOk = depth == 8 || (depth == 16 && colour != 3) ||
                         ((depth == 1 || depth == 2 || depth == 4) && (colour == 0 || colour == 3));
    if (!depthOk || b[26] != 0 || b[27] != 0 || b[28] > 1)
        return "PNG with an invalid header";
    h.bitsPerPixel = channels * depth;
    h.interlaced = b[28] == 1;
    return nullptr;
}

bool isFrameMarker(unsigned marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

const char* readJpeg(FILE* file, ImageHeader& h)
{
    long pos = 2;
    // Every segment moves on by at least two bytes: the walk ends with the file.
    for (;;) {
        unsigned char m[2];
        if (!readAt(file, pos, m, 2))
            return "JPEG without a frame header";
        if (m[0] != 0xFF)
            return "JPEG with a broken marker";
        const unsigned marker = m[1];
        if (marker == 0xFF) { // fill byte
            pos += 1;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length
            pos += 2;
            continue;
        }
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA)
            return "JPEG without a frame header";
        unsigned char len[2];
        if (!readAt(file, pos + 2, len, 2) || be16(len) < 2)
            return "JPEG with a broken segment";
        if (isFrameMarker(marker)) {
            unsigned char f[6];
            if (be16(len) < 8 || !readAt(file, pos + 4, f, sizeof f))
                return "JPEG with a broken frame header";
            // Baseline, extended and progressive Huffman coding only: the
            // lossless, hierarchical and arithmetic kinds have no size bound.
            if (marker > 0xC2)
                return "JPEG coding not accepted";
            h.height = be16(f + 1);
            h.width = be16(f + 3);
            h.components = f[5];
            h.compression = marker;
            if (h.components != 1 && h.components != 3 && h.components != 4)
                return "JPEG with an unusual number of components";
            return nullptr;
        }
        pos += 2 + static_cast<long>(be16(len));
    }
}

const char* readBmp(FILE* file, ImageHeader& h)
{
    unsigned char b[34];
    if (!readAt(file, 0, b, 18))
        return "BMP cut short";
    const uint32_t infoSize = le32(b + 14);
    if (infoSize == 12) { // OS/2 core header: 16-bit sizes, no compression
        if (!readAt(file, 0, b, 26))
            return "BMP cut short";
        h.width = le16(b + 18);
        h.height = le16(b + 20);
        h.bitsPerPixel = le16(b + 24);
        h.compression = 0;
    } else if (infoSize >= 40 && infoSize <= 124) {
        if (!readAt(file, 0, b, 34))
            return "BMP cut short";
        const int32_t w = static_cast<int32_t>(le32(b + 18));
        const int32_t ht = static_cast<int32_t>(le32(b + 22));
        if (w <= 0 || ht == 0 || ht == INT32_MIN)
            return "BMP with an invalid size";
        h.width = static_cast<uint32_t>(w);
        h.height = static_cast<uint32_t>(ht < 0 ? -ht : ht);
        h.bitsPerPixel = le16(b + 28);
        h.compression = le32(b + 30);
    } else {
        return "BMP with an unknown header";
    }
    const uint32_t bpp = h.bitsPerPixel;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return "BMP with an invalid bit count";
    const uint32_t c = h.compression;
    const bool ok =
        c == 0 || (c == 3 && (bpp == 16 || bpp == 32)) || (c == 1 && bpp == 8) || (c == 2 && bpp == 4);
    return ok ? nullptr : "BMP compression not accepted";
}

const char* readGif(FILE* file, ImageHeader& h)
{
    unsigned char b[13];
    if (!readAt(file, 0, b, sizeof b))
        return "GIF cut short";
    const uint32_t screenW = le16(b + 6), screenH = le16(b + 8);
    long pos = 13;
    if (b[10] & 0x80)
        pos += 3L << ((b[10] & 7) + 1);
    // Extensions are skipped up to the first image: its size is what is decoded.
    for (;;) {
        unsigned char id;
        if (!readAt(file, pos, &id, 1))
            return "GIF without an image";
        if (id == 0x2C) {
            unsigned char d[9];
            if (!readAt(file, pos + 1, d, sizeof d))
                return "GIF cut short";
            const uint32_t w = le16(d + 4), ht = le16(d + 6);
            // Whichever is larger, the screen or the frame, is what may be allocated.
            h.width = w > screenW ? w : screenW;
            h.height = ht > screenH ? ht : screenH;
            h.interlaced = (d[8] & 0x40) != 0;
            h.bitsPerPixel = 8;
            return nullptr;
        }
        if (id != 0x21)
            return "GIF without an image";
        pos += 2;
        for (;;) {
            unsigned char n;
            if (!readAt(file, pos, &n, 1))
                return "GIF cut short";
            pos += 1 + n;
            if (n == 0)
                break;
        }
    }
}

const char* readTiff(FILE* file, ImageHeader& h)
{
    unsigned char b[8];
    if (!readAt(file, 0, b, sizeof b))
        return "TIFF cut short";
    const bool le = b[0] == 'I';
    const auto u16 = [le](const unsigned char* p) { return le ? le16(p) : be16(p); };
    const auto u32 = [le](const unsigned char* p) { return le ? le32(p) : be32(p); };
    const uint32_t ifd = u32(b + 4);
    unsigned char n[2];
    if (ifd > 0x7FFFFFF0u || !readAt(file, static_cast<long>(ifd), n, 2))
        return "TIFF without a directory";
    const uint32_t entries = u16(n);
    uint32_t samples = 1, bits = 1, seen = 0;
    h.compression = 1;
    for (uint32_t i = 0; i < entries; ++i) {
        unsigned char e[12];
        if (!readAt(file, static_cast<long>(ifd) + 2 + 12 * static_cast<long>(i), e, sizeof e))
            return "TIFF cut short";
        const uint32_t tag = u16(e), type = u16(e + 2), count = u32(e + 4);
        // SHORT (3) or LONG (4) values held in the entry itself.
        uint32_t value = type == 3 ? u16(e + 8) : type == 4 ? u32(e + 8) : 0;
        if (tag == 258 && type == 3 && count > 2) { // per-sample depths elsewhere: the first one
            unsigned char v[2];
            if (!readAt(file, static_cast<long>(u32(e + 8)), v, 2))
                return "TIFF cut short";
            value = u16(v);
        }
        const bool sizeTag = tag == 256 || tag == 257 || tag == 258 || tag == 259 || tag == 277;
        // libtiff keeps the first of repeated tags; a repeat is refused so the
        // size read here is surely the one decoded.
        if (sizeTag &&
            ((type != 3 && type != 4) || (count != 1 && tag != 258) || (seen & (1u << (tag - 256)))))
            return "TIFF with an invalid directory";
        if (sizeTag)
            seen |= 1u << (tag - 256);
        switch (tag) {
        case 256: h.width = value; break;
        case 257: h.height = value; break;
        case 258: bits = value; break;
        case 259: h.compression = value; break;
        case 277: samples = value; break;
        default: break;
        }
    }
    if (samples == 0 || samples > 8 || bits == 0 || bits > 64)
        return "TIFF with invalid samples";
    h.bitsPerPixel = samples * bits;
    const uint32_t c = h.compression;
    if (c != 1 && c != 5 && c != 7 && c != 8 && c != 32946 && c != 32773)
        return "TIFF compression not accepted";
    return nullptr;
}

uint64_t rowBytes(const ImageHeader& h) { return (uint64_t(h.width) * h.bitsPerPixel + 7) / 8; }

} // namespace

const char* imageKindName(ImageKind kind)
{
    switch (kind) {
    case ImageKind::Png: return "PNG";
    case ImageKind::Jpeg: return "JPEG";
    case ImageKind::Bmp: return "BMP";
    case ImageKind::Gif: return "GIF";
    case ImageKind::Tiff: return "TIFF";
    case ImageKind::Unknown: break;
    }
    return "unknown";
}

const char* readImageHeader(FILE* file, ImageHeader& header)
{
    header = ImageHeader();
    unsigned char magic[8];
    const size_t n = readAt(file, 0, magic, 1) ? fread(magic + 1, 1, sizeof magic - 1, file) + 1 : 0;
    header.kind = sniff(magic, n);
    const char* why = "format not accepted";
    switch (header.kind) {
    case ImageKind::Png: why = readPng(file, header); break;
    case ImageKind::Jpeg: why = readJpeg(file, header); break;
    case ImageKind::Bmp: why = readBmp(file, header); break;
    case ImageKind::Gif: why = readGif(file, header); break;
    case ImageKind::Tiff: why = readTiff(file, header); break;
    case ImageKind::Unknown: break;
    }
    rewind(file);
    if (why == nullptr && (header.width == 0 || header.height == 0 || header.width > 0x7FFFFFFFu ||
                           header.height > 0x7FFFFFFFu))
        why = "invalid image size";
    return why;
}

const char* checkDeclaredSize(const ImageHeader& h, uint64_t fileBytes, uint64_t maxPixels)
{
    const uint64_t pixels = uint64_t(h.width) * h.height;
    if (pixels > maxPixels)
        return "more pixels than allowed";
    // Stored bytes of the pixels, before any coding.
    const uint64_t raw = h.height * rowBytes(h);
    bool fits = false;
    switch (h.kind) {
    case ImageKind::Png: fits = h.height * (1 + rowBytes(h)) <= kDeflateRatio * fileBytes; break;
    case ImageKind::Jpeg: fits = pixels <= kJpegPixelsPerByte * fileBytes; break;
    case ImageKind::Bmp:
        // Uncompressed rows are padded to 4 bytes and must all be in the file.
        fits = h.compression == 0 || h.compression == 3
                   ? uint64_t(h.height) * ((uint64_t(h.width) * h.bitsPerPixel + 31) / 32 * 4) <= fileBytes
                   : pixels <= kRlePixelsPerByte * fileBytes;
        break;
    case ImageKind::Gif: fits = pixels <= kLzwRatio * fileBytes; break;
    case ImageKind::Tiff:
        switch (h.compression) {
        case 1: fits = raw <= fileBytes; break;
        case 5: fits = raw <= kLzwRatio * fileBytes; break;
        case 7: fits = pixels <= kJpegPixelsPerByte * fileBytes; break;
        case 32773: fits = raw <= kPackBitsRatio * fileBytes; break;
        default: fits = raw <= kDeflateRatio * fileBytes; break;
        }
        break;
    case ImageKind::Unknown: break;
    }
    return fits ? nullptr : "declared size larger than the file can hold";
}

const char* probeImage(FILE* file, uint64_t fileBytes, uint64_t maxPixels, ImageHeader& header)
{
    const char* why = readImageHeader(file, header);
    return why != nullptr ? why : checkDeclaredSize(header, fileBytes, maxPixels);
}

} // namespace qv
