// Atlas creation, glyph packing and the dirty-region report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "test_support.h"

using namespace ftgl_test;

namespace {

const wchar_t* const kPrintable =
    L" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";

std::vector<Rect> visible_rects(const texture_atlas_t* atlas, texture_font_t* font, const wchar_t* chars)
{
    std::vector<Rect> out;
    for (const wchar_t* c = chars; *c; ++c) {
        const texture_glyph_t* g = texture_font_get_glyph(font, *c);
        if (g && g->width > 0 && g->height > 0)
            out.push_back(rect_of(atlas, g));
    }
    return out;
}

} // namespace

TEST(Atlas, CreationRejectsUnusableArgumentsAndStartsEmpty)
{
    const size_t bad[][3] = {
        {0, 64, 1}, {64, 2, 1}, {64, 64, 0}, {64, 64, 2}, {static_cast<size_t>(-1) / 2, 4, 1}};
    for (const auto& b : bad)
        EXPECT_EQ(texture_atlas_new(b[0], b[1], b[2]), nullptr) << b[0] << " " << b[1] << " " << b[2];
    AtlasPtr atlas(texture_atlas_new(64, 32, 3));
    ASSERT_NE(atlas, nullptr);
    EXPECT_EQ(atlas->used, 0u);
    const auto bytes = snapshot(atlas.get());
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0; }));
    size_t x = 7, y = 7, w = 7, h = 7;
    EXPECT_EQ(texture_atlas_take_dirty(atlas.get(), &x, &y, &w, &h), 0);
    texture_atlas_delete(nullptr);
    EXPECT_EQ(texture_atlas_take_dirty(nullptr, &x, &y, &w, &h), 0);
    EXPECT_EQ(x + y + w + h, 0u);
}

// Three sizes share one atlas, as several fonts of one renderer would.
TEST(Atlas, GlyphsNeverOverlapAndKeepAFreeBorder)
{
    AtlasPtr atlas(texture_atlas_new(512, 512, 1));
    std::vector<FontPtr> fonts;
    std::vector<Rect> rects;
    for (float size : {11.0f, 23.5f, 40.0f}) {
        fonts.emplace_back(texture_font_new(atlas.get(), kDejaVuSans, size));
        ASSERT_NE(fonts.back(), nullptr);
        ASSERT_EQ(texture_font_load_glyphs(fonts.back().get(), kPrintable), 0u) << "size " << size;
        const auto more = visible_rects(atlas.get(), fonts.back().get(), kPrintable);
        rects.insert(rects.end(), more.begin(), more.end());
    }
    ASSERT_GT(rects.size(), 250u);
    std::vector<bool> covered(atlas->width * atlas->height, false);
    size_t area = 0;
    for (size_t i = 0; i < rects.size(); ++i) {
        const Rect& a = rects[i];
        // Never on the outermost row or column.
        EXPECT_TRUE(a.x >= 1 && a.y >= 1 && a.x + a.w <= atlas->width - 1 && a.y + a.h <= atlas->height - 1)
            << i;
        for (size_t j = i + 1; j < rects.size(); ++j) {
            const Rect& b = rects[j];
            // Grow a by one texel on every side: b must still be outside it.
            EXPECT_TRUE(b.x >= a.x + a.w + 1 || a.x >= b.x + b.w + 1 || b.y >= a.y + a.h + 1 ||
                        a.y >= b.y + b.h + 1)
                << "glyphs " << i << " and " << j << " touch or overlap";
        }
        for (size_t y = a.y; y < a.y + a.h; ++y)
            for (size_t x = a.x; x < a.x + a.w; ++x)
                covered[y * atlas->width + x] = true;
        area += a.w * a.h;
    }
    // Reserved area includes the gaps; texels outside every glyph were never written.
    EXPECT_GT(atlas->used, area);
    EXPECT_LE(atlas->used, atlas->width * atlas->height);
    size_t stray = 0;
    for (size_t i = 0; i < covered.size(); ++i)
        stray += !covered[i] && atlas->data[i] != 0;
    EXPECT_EQ(stray, 0u);
}

TEST(Atlas, FullAtlasRefusesGlyphsWithoutChangingAnything)
{
    AtlasPtr atlas(texture_atlas_new(48, 48, 1));
    FontPtr small(texture_font_new(atlas.get(), kDejaVuSans, 14.0f));
    FontPtr large(texture_font_new(atlas.get(), kDejaVuSans, 64.0f));
    ASSERT_TRUE(small && large);
    // Filling up counts the misses and keeps the glyphs that fitted.
    const size_t missed = texture_font_load_glyphs(small.get(), kPrintable);
    EXPECT_GT(missed, 0u);
    EXPECT_LT(missed, std::wcslen(kPrintable));
    texture_glyph_t* a = texture_font_get_glyph(small.get(), L'!');
    ASSERT_NE(a, nullptr);
    const texture_glyph_t a_before = *a;
    const auto bytes_before = snapshot(atlas.get());
    const size_t used_before = atlas->used;
    const auto* items = static_cast<unsigned char*>(atlas->nodes->items);
    const std::vector<unsigned char> nodes_before(items,
                                                  items + atlas->nodes->size * atlas->nodes->item_size);
    texture_atlas_take_dirty(atlas.get(), nullptr, nullptr, nullptr, nullptr);

    // Nothing more is rendered: a 64-pixel W or M is refused from its outline, and the small
    // font's misses (rendered once, found no room) are remembered.
    g_renders = 0;
    EXPECT_EQ(texture_font_get_glyph(large.get(), L'W'), nullptr);
    EXPECT_EQ(texture_font_load_glyphs(large.get(), L"WM"), 2u);
    EXPECT_EQ(texture_font_load_glyphs(small.get(), kPrintable), missed);
    EXPECT_EQ(g_renders, 0);

    EXPECT_EQ(snapshot(atlas.get()), bytes_before);
    EXPECT_EQ(atlas->used, used_before);
    ASSERT_EQ(atlas->nodes->size * atlas->nodes->item_size, nodes_before.size());
    EXPECT_EQ(std::memcmp(atlas->nodes->items, nodes_before.data(), nodes_before.size()), 0);
    EXPECT_EQ(std::memcmp(a, &a_before, sizeof a_before), 0);
    EXPECT_EQ(texture_atlas_take_dirty(atlas.get(), nullptr, nullptr, nullptr, nullptr), 0);
}

TEST(Atlas, DirtyRegionIsTheBoundingBoxOfNewGlyphsReportedOnce)
{
    AtlasPtr atlas(texture_atlas_new(256, 256, 1));
    FontPtr font(texture_font_new(atlas.get(), kDejaVuSans, 20.0f));
    ASSERT_TRUE(atlas && font);
    ASSERT_EQ(texture_font_load_glyphs(font.get(), L"Hello, world"), 0u);
    Rect box{atlas->width, atlas->height, 0, 0}; // w and h hold x1 and y1 here
    for (const Rect& r : visible_rects(atlas.get(), font.get(), L"Hello, world"))
        box = Rect{std::min(box.x, r.x), std::min(box.y, r.y), std::max(box.w, r.x + r.w),
                   std::max(box.h, r.y + r.h)};
    size_t x, y, w, h;
    ASSERT_EQ(texture_atlas_take_dirty(atlas.get(), &x, &y, &w, &h), 1);
    EXPECT_EQ(std::vector<size_t>({x, y, w, h}),
              std::vector<size_t>({box.x, box.y, box.w - box.x, box.h - box.y}));
    EXPECT_EQ(texture_atlas_take_dirty(atlas.get(), &x, &y, &w, &h), 0);
    // A glyph loaded later, as a renderer meets a new character, is reported alone.
    const Rect e = rect_of(atlas.get(), texture_font_get_glyph(font.get(), L'\u00e9'));
    ASSERT_EQ(texture_atlas_take_dirty(atlas.get(), &x, &y, &w, &h), 1);
    EXPECT_EQ(std::vector<size_t>({x, y, w, h}), std::vector<size_t>({e.x, e.y, e.w, e.h}));
    // Blank glyphs write nothing.
    ASSERT_NE(texture_font_get_glyph(font.get(), L' '), nullptr);
    ASSERT_NE(texture_font_get_glyph(font.get(), L'\u00a0'), nullptr);
    EXPECT_EQ(texture_atlas_take_dirty(atlas.get(), nullptr, nullptr, nullptr, nullptr), 0);
}
