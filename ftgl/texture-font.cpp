#include <cmath>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include "atlas-internal.h"
#include "texture-font.h"
#include "vector.h"

namespace {

// Light hinting snaps only vertical features, which keeps small labels crisp
// while horizontal shapes stay close to the outline the unhinted advance
// (linearHoriAdvance) describes. Embedded bitmaps are skipped so every glyph
// is 8-bit coverage rendered from its outline.
constexpr FT_Int32 kLoadFlags = FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT;

struct KerningPair {
    wchar_t charcode; // the preceding character
    float kerning;    // pixels
};

void glyph_delete(texture_glyph_t* g)
{
    if (!g)
        return;
    ftgl::vector_delete(g->kerning);
    delete g;
}

} // namespace

struct texture_font_t {
    texture_atlas_t* atlas = nullptr; // null once the atlas was deleted
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    std::unordered_map<wchar_t, texture_glyph_t*> glyphs;
    // Characters the face has but that cannot be placed (too large for the
    // atlas, no room left, FreeType failed): asked for again, they answer
    // null at once instead of being loaded and rendered again.
    std::unordered_set<wchar_t> missing;
};

namespace ftgl {

void font_forget_atlas(texture_font_t* font) { font->atlas = nullptr; }

} // namespace ftgl

namespace {

void add_kerning(texture_glyph_t* glyph, wchar_t preceding, float kerning)
{
    const KerningPair pair{preceding, kerning};
    // Kerning is cosmetic: if memory runs out the pair is simply dropped.
    ftgl::vector_push_back(glyph->kerning, &pair);
}

float pair_kerning(FT_Face face, FT_UInt left, FT_UInt right)
{
    FT_Vector k{0, 0};
    if (FT_Get_Kerning(face, left, right, FT_KERNING_UNFITTED, &k) != 0)
        return 0.0f;
    return static_cast<float>(k.x) / 64.0f;
}

// Records the kerning of the new glyph against every glyph already loaded,
// in both orders, so any pair of loaded glyphs can be looked up.
void update_kerning(texture_font_t* font, texture_glyph_t* added)
{
    if (!FT_HAS_KERNING(font->face))
        return;
    for (const auto& entry : font->glyphs) {
        texture_glyph_t* other = entry.second;
        const float before = pair_kerning(font->face, other->id, added->id); // other, then added
        if (before != 0.0f)
            add_kerning(added, other->charcode, before);
        const float after = pair_kerning(font->face, added->id, other->id); // added, then other
        if (after != 0.0f)
            add_kerning(other, added->charcode, after);
    }
    const float self = pair_kerning(font->face, added->id, added->id);
    if (self != 0.0f)
        add_kerning(added, added->charcode, self);
}

// Whether the outline's bitmap would fit the atlas (inside its 1-texel border),
// judged before rendering: a glyph of a huge size or a hostile font would
// otherwise cost a render of up to 32767 x 32767 pixels only to be refused.
bool outline_fits(const texture_atlas_t* atlas, FT_GlyphSlot slot)
{
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE)
        return true; // rendering decides
    FT_BBox box;
    FT_Outline_Get_CBox(&slot->outline, &box);
    const double w = (static_cast<double>(box.xMax) - static_cast<double>(box.xMin)) / 64.0;
    const double h = (static_cast<double>(box.yMax) - static_cast<double>(box.yMin)) / 64.0;
    // The renderer rounds the box outward by at most one pixel on each side.
    return w + 2.0 <= static_cast<double>(atlas->width) - 2.0 &&
           h + 2.0 <= static_cast<double>(atlas->height) - 2.0;
}

texture_glyph_t* place_glyph(texture_font_t* font, wchar_t charcode, FT_UInt index);

// Loads a glyph; a character the face has that cannot be placed is
// remembered as missing (unless memory ran out, which may pass).
texture_glyph_t* load_glyph(texture_font_t* font, wchar_t charcode)
{
    if (!font->atlas)
        return nullptr;
    const FT_UInt index = FT_Get_Char_Index(font->face, static_cast<FT_ULong>(charcode));
    if (index == 0)
        return nullptr;
    bool out_of_memory = false;
    texture_glyph_t* g = nullptr;
    try {
        g = place_glyph(font, charcode, index);
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    if (!g && !out_of_memory) {
        try {
            font->missing.insert(charcode);
        } catch (const std::bad_alloc&) { }
    }
    return g;
}

texture_glyph_t* place_glyph(texture_font_t* font, wchar_t charcode, FT_UInt index)
{
    texture_atlas_t* atlas = font->atlas;
    FT_Error error = FT_Load_Glyph(font->face, index, kLoadFlags);
    FT_GlyphSlot slot = font->face->glyph;
    if (error == 0 && !outline_fits(atlas, slot))
        return nullptr;
    if (error == 0)
        error = FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL);
    if (error == FT_Err_Out_Of_Memory)
        throw std::bad_alloc();
    if (error != 0)
        return nullptr;

    const FT_Bitmap& bm = slot->bitmap;
    const size_t w = bm.width, h = bm.rows;
    if (w > 0 && h > 0 && bm.pixel_mode != FT_PIXEL_MODE_GRAY)
        return nullptr;

    // Everything that can fail for lack of memory happens before the atlas is
    // touched, so a failure leaves the atlas as it was.
    auto* g = new texture_glyph_t();
    g->kerning = ftgl::vector_new(sizeof(KerningPair));
    if (!g->kerning) {
        glyph_delete(g);
        throw std::bad_alloc();
    }
    try {
        font->glyphs.reserve(font->glyphs.size() + 1);
    } catch (const std::bad_alloc&) {
        glyph_delete(g);
        throw;
    }

    if (w > 0 && h > 0) {
        size_t x = 0, y = 0;
        if (!ftgl::atlas_allocate(atlas, w, h, &x, &y)) {
            glyph_delete(g);
            return nullptr;
        }
        // A negative pitch means rows are stored bottom-up.
        const long pitch = bm.pitch;
        const unsigned char* top = pitch >= 0 ? bm.buffer : bm.buffer + static_cast<long>(h - 1) * -pitch;
        ftgl::atlas_write_gray(atlas, x, y, w, h, top, pitch);
        const float aw = static_cast<float>(atlas->width), ah = static_cast<float>(atlas->height);
        g->s0 = static_cast<float>(x) / aw;
        g->t0 = static_cast<float>(y) / ah;
        g->s1 = static_cast<float>(x + w) / aw;
        g->t1 = static_cast<float>(y + h) / ah;
    }

    g->charcode = charcode;
    g->id = index;
    g->width = w;
    g->height = h;
    g->offset_x = slot->bitmap_left;
    g->offset_y = slot->bitmap_top;
    g->advance_x = static_cast<float>(slot->linearHoriAdvance) / 65536.0f;
    g->advance_y = static_cast<float>(slot->advance.y) / 64.0f;

    update_kerning(font, g);
    font->glyphs.emplace(charcode, g); // cannot throw: room was reserved
    return g;
}

} // namespace

extern "C" {

texture_font_t* texture_font_new(texture_atlas_t* atlas, const char* filename, float size)
{
    if (!atlas || !filename || !(size > 0.0f) || !std::isfinite(size))
        return nullptr;
    if (atlas->depth != 1)
        return nullptr;

    auto* font = new (std::nothrow) texture_font_t();
    if (!font)
        return nullptr;
    const auto char_size = static_cast<FT_F26Dot6>(std::lround(static_cast<double>(size) * 64.0));
    if (char_size <= 0 || FT_Init_FreeType(&font->library) != 0 ||
        FT_New_Face(font->library, filename, 0, &font->face) != 0 ||
        FT_Select_Charmap(font->face, FT_ENCODING_UNICODE) != 0 ||
        FT_Set_Char_Size(font->face, 0, char_size, 72, 72) != 0 || !ftgl::atlas_attach_font(atlas, font)) {
        texture_font_delete(font);
        return nullptr;
    }
    font->atlas = atlas;
    return font;
}

void texture_font_delete(texture_font_t* font)
{
    if (!font)
        return;
    if (font->atlas)
        ftgl::atlas_detach_font(font->atlas, font);
    for (auto& entry : font->glyphs)
        glyph_delete(entry.second);
    if (font->face)
        FT_Done_Face(font->face);
    if (font->library)
        FT_Done_FreeType(font->library);
    delete font;
}

size_t texture_font_load_glyphs(texture_font_t* font, const wchar_t* charcodes)
{
    if (!charcodes)
        return 0;
    size_t missed = 0;
    for (const wchar_t* c = charcodes; *c; ++c) {
        if (!texture_font_get_glyph(font, *c))
            ++missed;
    }
    return missed;
}

texture_glyph_t* texture_font_get_glyph(texture_font_t* font, wchar_t charcode)
{
    if (!font || charcode == 0)
        return nullptr;
    const auto it = font->glyphs.find(charcode);
    if (it != font->glyphs.end())
        return it->second;
    if (font->missing.count(charcode) != 0)
        return nullptr;
    return load_glyph(font, charcode);
}

float texture_glyph_get_kerning(const texture_glyph_t* glyph, wchar_t charcode)
{
    if (!glyph || !glyph->kerning)
        return 0.0f;
    for (size_t i = 0; i < glyph->kerning->size; ++i) {
        const auto* pair = static_cast<const KerningPair*>(ftgl::vector_at(glyph->kerning, i));
        if (pair->charcode == charcode)
            return pair->kerning;
    }
    return 0.0f;
}

} // extern "C"
