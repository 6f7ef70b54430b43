// Atlas creation, glyph packing and the dirty-region report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

using namespace ftgl_test;

namespace {

const wchar_t* const kPrintable =
    L" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";

std::vector<const texture_glyph_t*> visible_glyphs(texture_font_t* font, const wchar_t* chars) {
    std::vector<const texture_glyph_t*> out;
    for (const wchar_t* c = chars; *c; ++c) {
        const texture_glyph_t* g = texture_font_get_glyph(font, *c);
        if (g && g->width > 0 && g->height > 0) out.push_back(g);
    }
    return out;
}

}  // namespace

TEST(AtlasNew, RejectsUnusableArguments) {
    EXPECT_EQ(texture_atlas_new(0, 64, 1), nullptr);
    EXPECT_EQ(texture_atlas_new(64, 2, 1), nullptr);
    EXPECT_EQ(texture_atlas_new(64, 64, 0), nullptr);
    EXPECT_EQ(texture_atlas_new(64, 64, 2), nullptr);
    EXPECT_EQ(texture_atlas_new(static_cast<size_t>(-1) / 2, 4, 1), nullptr);  // size overflows
}

TEST(AtlasNew, StartsEmptyAndZeroed) {
    AtlasPtr atlas(texture_atlas_new(64, 32, 3));
    ASSERT_NE(atlas, nullptr);
    EXPECT_EQ(atlas->width, 64u);
    EXPECT_EQ(atlas->height, 32u);
    EXPECT_EQ(atlas->depth, 3u);
    EXPECT_EQ(atlas->used, 0u);
    ASSERT_NE(atlas->data, nullptr);
    const auto bytes = snapshot(atlas.get());
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0; }));
    ASSERT_NE(atlas->nodes, nullptr);
    EXPECT_GE(atlas->nodes->size, 1u);
    size_t x, y, w, h;
    EXPECT_EQ(texture_atlas_take_dirty(atlas.get(), &x, &y, &w, &h), 0);
}

TEST(AtlasNew, NullArgumentsAreHarmless) {
    texture_atlas_delete(nullptr);
    size_t x = 7, y = 7, w = 7, h = 7;
    EXPECT_EQ(texture_atlas_take_dirty(nullptr, &x, &y, &w, &h), 0);
    EXPECT_EQ(x + y + w + h, 0u);
}

// Three sizes share one atlas, as several fonts of one renderer would.
TEST(AtlasPacking, GlyphsNeverOverlapAndKeepAFreeBorder) {
    AtlasPtr atlas(texture_atlas_new(512, 512, 1));
    ASSERT_NE(atlas, nullptr);
    std::vector<FontPtr> fonts;
    std::vector<const texture_glyph_t*> glyphs;
    for (float size : {11.0f, 23.5f, 40.0f}) {
        fonts.emplace_back(texture_font_new(atlas.get(), kDejaVuSans, size));
        ASSERT_NE(fonts.back(), nullptr);
        ASSERT_EQ(texture_font_load_glyphs(fonts.back().get(), kPrintable), 0u) << "size " << size;
        const auto more = visible_glyphs(fonts.back().get(), kPrintable);
        glyphs.insert(glyphs.end(), more.begin(), more.end());
    }
    ASSERT_GT(glyphs.size(), 250u);

    std::vector<Rect> rects;
    size_t area = 0;
    for (const texture_glyph_t* g : glyphs) {
        const Rect r = rect_of(atlas.get(), g);
        // Coordinates must describe exactly the bitmap's texels.
        EXPECT_FLOAT_EQ(g->s1, static_cast<float>(r.x + r.w) / atlas->width);
        EXPECT_FLOAT_EQ(g->t1, static_cast<float>(r.y + r.h) / atlas->height);
        // Never on the outermost row or column.
        EXPECT_GE(r.x, 1u);
        EXPECT_GE(r.y, 1u);
        EXPECT_LE(r.x + r.w, atlas->width - 1);
        EXPECT_LE(r.y + r.h, atlas->height - 1);
        rects.push_back(r);
        area += r.w * r.h;
    }
    for (size_t i = 0; i < rects.size(); ++i) {
        for (size_t j = i + 1; j < rects.size(); ++j) {
            const Rect& a = rects[i];
            const Rect& b = rects[j];
            // Grow a by one texel on every side: b must still be outside it.
            const bool apart = b.x >= a.x + a.w + 1 || a.x >= b.x + b.w + 1 || b.y >= a.y + a.h + 1 ||
                               a.y >= b.y + b.h + 1;
            EXPECT_TRUE(apart) << "glyphs " << i << " and " << j << " touch or overlap";
        }
    }
    // Reserved area includes the gaps, so it exceeds the bitmaps' area.
    EXPECT_GT(atlas->used, area);
    EXPECT_LE(atlas->used, atlas->width * atlas->height);

    // Texels outside every glyph were never written.
    std::vector<bool> covered(atlas->width * atlas->height, false);
    for (const Rect& r : rects)
        for (size_t y = r.y; y < r.y + r.h; ++y)
            for (size_t x = r.x; x < r.x + r.w; ++x) covered[y * atlas->width + x] = true;
    size_t stray = 0;
    for (size_t i = 0; i < covered.size(); ++i)
        if (!covered[i] && atlas->data[i] != 0) ++stray;
    EXPECT_EQ(stray, 0u);
}

TEST(AtlasPacking, FullAtlasRefusesGlyphWithoutChangingAnything) {
    AtlasPtr atlas(texture_atlas_new(32, 32, 1));
    ASSERT_NE(atlas, nullptr);
    FontPtr small(texture_font_new(atlas.get(), kDejaVuSans, 10.0f));
    FontPtr large(texture_font_new(atlas.get(), kDejaVuSans, 64.0f));
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);

    texture_glyph_t* a = texture_font_get_glyph(small.get(), L'a');
    ASSERT_NE(a, nullptr);
    const texture_glyph_t a_before = *a;
    const auto bytes_before = snapshot(atlas.get());
    const size_t used_before = atlas->used;
    std::vector<unsigned char> nodes_before(
        static_cast<unsigned char*>(atlas->nodes->items),
        static_cast<unsigned char*>(atlas->nodes->items) + atlas->nodes->size * atlas->nodes->item_size);
    texture_atlas_take_dirty(atlas.get(), nullptr, nullptr, nullptr, nullptr);

    // A 64-pixel W cannot fit into 32x32 at all.
    EXPECT_EQ(texture_font_get_glyph(large.get(), L'W'), nullptr);
    EXPECT_EQ(texture_font_load_glyphs(large.get(), L"WM"), 2u);

    EXPECT_EQ(snapshot(atlas.get()), bytes_before);
    EXPECT_EQ(atlas->used, used_before);
    ASSERT_EQ(atlas->nodes->size * atlas->nodes->item_size, nodes_before.size());
    EXPECT_EQ(std::memcmp(atlas->nodes->items, nodes_before.data(), nodes_before.size()), 0);
    EXPECT_EQ(std::memcmp(a, &a_before, sizeof a_before), 0);
    EXPECT_EQ(texture_font_get_glyph(small.get(), L'a'), a);
    EXPECT_EQ(texture_atlas_take_dirty(atlas.get(), nullptr, nullptr, nullptr, nullptr), 0);
}

TEST(AtlasPacking, FillingUpCountsMissesAndKeepsEarlierGlyphs) {
    AtlasPtr atlas(texture_atlas_new(48, 48, 1));
    ASSERT_NE(atlas, nullptr);
    FontPtr font(texture_font_new(atlas.get(), kDejaVuSans, 14.0f));
    ASSERT_NE(font, nullptr);

    const size_t missed = texture_font_load_glyphs(font.get(), kPrintable);
    EXPECT_GT(missed, 0u);
    EXPECT_LT(missed, std::wcslen(kPrintable));

    // Retrying the misses neither succeeds nor disturbs what is there.
    const auto before = snapshot(atlas.get());
    EXPECT_EQ(texture_font_load_glyphs(font.get(), kPrintable), missed);
    EXPECT_EQ(snapshot(atlas.get()), before);
}

TEST(AtlasDirty, ReportsBoundingBoxOfNewGlyphsOnce) {
    AtlasPtr atlas(texture_atlas_new(256, 256, 1));
    ASSERT_NE(atlas, nullptr);
    FontPtr font(texture_font_new(atlas.get(), kDejaVuSans, 20.0f));
    ASSERT_NE(font, nullptr);
    ASSERT_EQ(texture_font_load_glyphs(font.get(), L"Hello, world"), 0u);

    size_t x0 = atlas->width, y0 = atlas->height, x1 = 0, y1 = 0;
    for (const texture_glyph_t* g : visible_glyphs(font.get(), L"Hello, world")) {
        const Rect r = rect_of(atlas.get(), g);
        x0 = std::min(x0, r.x);
        y0 = std::min(y0, r.y);
        x1 = std::max(x1, r.x + r.w);
        y1 = std::max(y1, r.y + r.h);
    }
    size_t x, y, w, h;
    ASSERT_EQ(texture_atlas_take_dirty(atlas.get(), &x, &y, &w, &h), 1);
    EXPECT_EQ(x, x0);
    EXPECT_EQ(y, y0);
    EXPECT_EQ(w, x1 - x0);
    EXPECT_EQ(h, y1 - y0);
    EXPECT_EQ(texture_atlas_take_dirty(atlas.get(), &x, &y, &w, &h), 0);

    // A glyph loaded later, as a renderer meets a new character, is reported alone.
    const texture_glyph_t* e = texture_font_get_glyph(font.get(), L'\u00e9');
    ASSERT_NE(e, nullptr);
    const Rect r = rect_of(atlas.get(), e);
    ASSERT_EQ(texture_atlas_take_dirty(atlas.get(), &x, &y, &w, &h), 1);
    EXPECT_EQ(x, r.x);
    EXPECT_EQ(y, r.y);
    EXPECT_EQ(w, r.w);
    EXPECT_EQ(h, r.h);

    // Blank glyphs write nothing.
    ASSERT_NE(texture_font_get_glyph(font.get(), L' '), nullptr);
    ASSERT_NE(texture_font_get_glyph(font.get(), L'\u00a0'), nullptr);
    EXPECT_EQ(texture_atlas_take_dirty(atlas.get(), &x, &y, &w, &h), 0);
}
