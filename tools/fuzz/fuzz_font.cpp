// libFuzzer target: font file bytes, a pixel size and a label text through the
// texture-atlas font library the way QX_FTFont uses it: create the font on an
// atlas, load the 95 printable ASCII glyphs, then decode the label (the
// library's own UTF-8 decoder) and look up each glyph and its kerning as the
// layout does, without GL. Optionally the atlas is deleted first, as a font
// whose atlas is gone must still answer lookups.
//
// Input: [0..1] size in quarter pixels (little endian, 0 = size 0),
//        [2] bit 0: 64 x 64 atlas instead of 512 x 512, bit 1: delete the atlas before the label,
//        [3] label length n (mod 64), [4 .. 4+n) label bytes, the rest the font file.
#include "overlay/QX_FTFont.h"

#include <texture-font.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace {

const wchar_t kPreloaded[] =
    L" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";

// The font bytes as a file FreeType opens by path, like a font on disk.
class MemoryFile {
public:
    MemoryFile(const uint8_t* data, size_t size) : fd_(memfd_create("fuzz-font", MFD_CLOEXEC))
    {
        if (fd_ < 0 || write(fd_, data, size) != static_cast<ssize_t>(size))
            return;
        std::snprintf(path_, sizeof path_, "/proc/self/fd/%d", fd_);
    }
    ~MemoryFile()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    const char* path() const { return path_[0] != '\0' ? path_ : nullptr; }

private:
    int fd_;
    char path_[64] = "";
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const float pixels = static_cast<float>(data[0] | data[1] << 8) / 4.0f;
    const size_t side = (data[2] & 1) != 0 ? 64 : 512;
    const bool dropAtlas = (data[2] & 2) != 0;
    const size_t labelLength = std::min<size_t>(data[3] % 64, size - 4);
    const std::string label(reinterpret_cast<const char*>(data + 4), labelLength);
    const MemoryFile file(data + 4 + labelLength, size - 4 - labelLength);
    if (file.path() == nullptr)
        return 0;

    texture_atlas_t* atlas = texture_atlas_new(side, side, 1);
    texture_font_t* font = texture_font_new(atlas, file.path(), pixels);
    if (font != nullptr) {
        texture_font_load_glyphs(font, kPreloaded);
        size_t x = 0, y = 0, w = 0, h = 0;
        if (texture_atlas_take_dirty(atlas, &x, &y, &w, &h) && (x + w > side || y + h > side))
            __builtin_trap(); // the dirty box must lie inside the atlas
        if (dropAtlas) {
            texture_atlas_delete(atlas);
            atlas = nullptr;
        }
        const std::unique_ptr<wchar_t[]> wide = charToWchar(label);
        float pen = 0;
        for (size_t i = 0; wide[i] != L'\0'; ++i) {
            const texture_glyph_t* glyph = texture_font_get_glyph(font, wide[i]);
            if (glyph == nullptr)
                continue;
            if (i > 0)
                pen += texture_glyph_get_kerning(glyph, wide[i - 1]);
            if (glyph->s0 < 0 || glyph->s1 > 1 || glyph->t0 < 0 || glyph->t1 > 1)
                __builtin_trap(); // atlas coordinates must stay inside the texture
            pen += glyph->advance_x + static_cast<float>(glyph->width + glyph->height + glyph->offset_x);
        }
        texture_font_delete(font);
    }
    texture_atlas_delete(atlas);
    return 0;
}
