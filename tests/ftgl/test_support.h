// Shared helpers for the font library tests.
#ifndef FTGL_TEST_SUPPORT_H
#define FTGL_TEST_SUPPORT_H

#include <cstddef>
#include <memory>
#include <vector>

#include "texture-font.h"

namespace ftgl_test {

inline constexpr const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

extern int g_renders; // FreeType renders so far (font_test.cpp counts them)

struct Deleter {
    void operator()(texture_atlas_t* a) const { texture_atlas_delete(a); }
    void operator()(texture_font_t* f) const { texture_font_delete(f); }
};
using AtlasPtr = std::unique_ptr<texture_atlas_t, Deleter>;
using FontPtr = std::unique_ptr<texture_font_t, Deleter>;

// A glyph's bitmap position in the atlas, recovered from its coordinates.
struct Rect {
    size_t x, y, w, h;
};

inline Rect rect_of(const texture_atlas_t* atlas, const texture_glyph_t* g)
{
    // s0 and t0 are exact quotients of small integers, so rounding recovers them.
    return Rect{static_cast<size_t>(g->s0 * atlas->width + 0.5f),
                static_cast<size_t>(g->t0 * atlas->height + 0.5f), g->width, g->height};
}

inline std::vector<unsigned char> snapshot(const texture_atlas_t* atlas)
{
    return std::vector<unsigned char>(atlas->data, atlas->data + atlas->width * atlas->height * atlas->depth);
}

} // namespace ftgl_test

#endif
