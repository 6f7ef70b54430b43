// Fonts: metrics and pixels against FreeType, kerning, caching, coverage and failure handling.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "test_support.h"

using namespace ftgl_test;

namespace {

// DejaVu Sans at 23 px, in the library and, as the reference, in FreeType itself.
class DejaVuFont : public ::testing::Test {
protected:
    static constexpr float kSize = 23.0f;
    void SetUp() override
    {
        atlas_.reset(texture_atlas_new(512, 512, 1));
        font_.reset(texture_font_new(atlas_.get(), kDejaVuSans, kSize));
        ASSERT_TRUE(atlas_ && font_);
        ASSERT_EQ(FT_Init_FreeType(&lib_), 0);
        ASSERT_EQ(FT_New_Face(lib_, kDejaVuSans, 0, &face_), 0);
        FT_Set_Char_Size(face_, 0, static_cast<FT_F26Dot6>(std::lround(kSize * 64.0)), 72, 72);
    }
    void TearDown() override { FT_Done_FreeType(lib_); } // frees its faces too
    AtlasPtr atlas_;
    FontPtr font_;
    FT_Library lib_ = nullptr;
    FT_Face face_ = nullptr;
};

std::string temp_file_with(const std::string& bytes)
{
    char path[] = "/tmp/ftgl_test_XXXXXX";
    const int fd = mkstemp(path);
    const bool ok = fd >= 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (fd >= 0)
        close(fd);
    return ok ? path : std::string();
}

} // namespace

TEST_F(DejaVuFont, MetricsAndPixelsMatchFreeType)
{
    bool saw_fractional_advance = false;
    for (const wchar_t* c = L"AVgjQ|%@W.,i\u00e9\u00df\u0416"; *c; ++c) {
        SCOPED_TRACE(static_cast<unsigned>(*c));
        const texture_glyph_t* g = texture_font_get_glyph(font_.get(), *c);
        ASSERT_NE(g, nullptr);
        // The reference as the library documents it: light hinting from the outline, 8-bit grey.
        ASSERT_EQ(FT_Load_Char(face_, static_cast<FT_ULong>(*c), FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT),
                  0);
        ASSERT_EQ(FT_Render_Glyph(face_->glyph, FT_RENDER_MODE_NORMAL), 0);
        const FT_GlyphSlot slot = face_->glyph;
        EXPECT_EQ(g->charcode, *c);
        EXPECT_EQ(g->id, FT_Get_Char_Index(face_, *c));
        EXPECT_EQ(std::vector<long>({long(g->width), long(g->height), g->offset_x, g->offset_y}),
                  std::vector<long>({long(slot->bitmap.width), long(slot->bitmap.rows), slot->bitmap_left,
                                     slot->bitmap_top}));
        EXPECT_FLOAT_EQ(g->advance_x, slot->linearHoriAdvance / 65536.0f);
        EXPECT_FLOAT_EQ(g->advance_y, 0.0f);
        saw_fractional_advance |= g->advance_x != std::floor(g->advance_x);
        const Rect r = rect_of(atlas_.get(), g);
        // Coordinates describe exactly the bitmap's texels.
        EXPECT_FLOAT_EQ(g->s1, static_cast<float>(r.x + r.w) / atlas_->width);
        EXPECT_FLOAT_EQ(g->t1, static_cast<float>(r.y + r.h) / atlas_->height);
        size_t differing = 0;
        for (size_t y = 0; y < g->height; ++y)
            differing += std::memcmp(slot->bitmap.buffer + static_cast<long>(y) * slot->bitmap.pitch,
                                     atlas_->data + (r.y + y) * atlas_->width + r.x, g->width) != 0;
        EXPECT_EQ(differing, 0u) << "rows differ from FreeType's bitmap";
    }
    EXPECT_TRUE(saw_fractional_advance);
    // A space has an advance but no bitmap and takes no room.
    const size_t used = atlas_->used;
    const texture_glyph_t* space = texture_font_get_glyph(font_.get(), L' ');
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->width + space->height, 0u);
    EXPECT_GT(space->advance_x, 0.0f);
    EXPECT_EQ(atlas_->used, used);
}

TEST_F(DejaVuFont, KerningOfEveryLoadedPairMatchesFreeType)
{
    ASSERT_TRUE(FT_HAS_KERNING(face_));
    const auto reference = [this](wchar_t left, wchar_t right) {
        FT_Vector k{0, 0};
        FT_Get_Kerning(face_, FT_Get_Char_Index(face_, left), FT_Get_Char_Index(face_, right),
                       FT_KERNING_UNFITTED, &k);
        return static_cast<float>(k.x) / 64.0f;
    };
    const wchar_t* text = L"AVTaoyY.,LPWr";
    // V before A, and two batches, so pairs span glyphs loaded before and after.
    ASSERT_EQ(texture_font_load_glyphs(font_.get(), L"VTaoA"), 0u);
    ASSERT_EQ(texture_font_load_glyphs(font_.get(), text), 0u);
    size_t nonzero = 0;
    for (const wchar_t* prev = text; *prev; ++prev)
        for (const wchar_t* cur = text; *cur; ++cur) {
            const float want = reference(*prev, *cur);
            EXPECT_FLOAT_EQ(texture_glyph_get_kerning(texture_font_get_glyph(font_.get(), *cur), *prev), want)
                << "pair " << static_cast<char>(*prev) << static_cast<char>(*cur);
            nonzero += want != 0.0f && want != std::trunc(want);
        }
    EXPECT_GT(nonzero, 5u); // the sample must exercise kerning, and fractional kerning
    // A preceding character the font never loaded has no pair.
    EXPECT_EQ(texture_glyph_get_kerning(texture_font_get_glyph(font_.get(), L'V'), L'F'), 0.0f);
    EXPECT_EQ(texture_glyph_get_kerning(nullptr, L'A'), 0.0f);
}

TEST_F(DejaVuFont, GlyphsAreCachedMissingOnesRefusedAndKeptWhenTheAtlasGoes)
{
    texture_glyph_t* g = texture_font_get_glyph(font_.get(), L'g');
    ASSERT_NE(g, nullptr);
    const size_t used = atlas_->used;
    const auto bytes = snapshot(atlas_.get());
    texture_atlas_take_dirty(atlas_.get(), nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(texture_font_get_glyph(font_.get(), L'g'), g);
    EXPECT_EQ(texture_font_load_glyphs(font_.get(), L"ggg"), 0u);
    EXPECT_EQ(texture_font_get_glyph(font_.get(), L'\u4e2d'), nullptr); // CJK, not in DejaVu Sans
    EXPECT_EQ(texture_font_get_glyph(font_.get(), L'\0'), nullptr);
    EXPECT_EQ(atlas_->used, used);
    EXPECT_EQ(snapshot(atlas_.get()), bytes);
    EXPECT_EQ(texture_atlas_take_dirty(atlas_.get(), nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(texture_font_load_glyphs(font_.get(), L"a\u00e9\u4e2d\u4e2db"), 2u);
    // Deleting the atlas first keeps the cached glyphs only; nothing writes into the freed atlas.
    const texture_glyph_t copy = *g;
    atlas_.reset();
    EXPECT_EQ(texture_font_get_glyph(font_.get(), L'g'), g);
    EXPECT_EQ(std::memcmp(g, &copy, sizeof copy), 0);
    EXPECT_EQ(texture_font_get_glyph(font_.get(), L'c'), nullptr);
    EXPECT_EQ(texture_font_load_glyphs(font_.get(), L"gc"), 1u);
}

// FreeType's renderer, counted: the library binds to this definition first (the binary exports it).
int ftgl_test::g_renders = 0;
extern "C" FT_Error FT_Render_Glyph(FT_GlyphSlot slot, FT_Render_Mode mode)
{
    using Render = FT_Error (*)(FT_GlyphSlot, FT_Render_Mode);
    static const auto real = reinterpret_cast<Render>(dlsym(RTLD_NEXT, "FT_Render_Glyph"));
    ++g_renders;
    return real(slot, mode);
}

TEST(FontNew, BadFilesAndArgumentsGiveNull)
{
    AtlasPtr atlas(texture_atlas_new(128, 128, 1));
    AtlasPtr rgb(texture_atlas_new(128, 128, 3));
    ASSERT_TRUE(atlas && rgb);
    const std::string garbage(4096, '\xa5');
    const std::string junk = temp_file_with(garbage);
    // A TrueType header followed by junk is corrupt too.
    const std::string truncated = temp_file_with(std::string("\x00\x01\x00\x00\x00\x10", 6) + garbage);
    ASSERT_FALSE(junk.empty() || truncated.empty());
    const struct {
        texture_atlas_t* atlas;
        const char* path;
        float size;
    } cases[] = {{atlas.get(), "/nonexistent/font.ttf", 16},
                 {atlas.get(), junk.c_str(), 16},
                 {atlas.get(), truncated.c_str(), 16},
                 {nullptr, kDejaVuSans, 16},
                 {atlas.get(), nullptr, 16},
                 {atlas.get(), kDejaVuSans, 0},
                 {atlas.get(), kDejaVuSans, -3},
                 {atlas.get(), kDejaVuSans, NAN},
                 {rgb.get(), kDejaVuSans, 16}};
    for (const auto& c : cases)
        EXPECT_EQ(texture_font_new(c.atlas, c.path, c.size), nullptr) << c.path << " " << c.size;
    std::remove(junk.c_str());
    std::remove(truncated.c_str());
    EXPECT_EQ(atlas->used, 0u);
    texture_font_delete(nullptr);
    EXPECT_EQ(texture_font_get_glyph(nullptr, L'a'), nullptr);
    EXPECT_EQ(texture_font_load_glyphs(nullptr, L"abc"), 3u);
    FontPtr font(texture_font_new(atlas.get(), kDejaVuSans, 16.0f));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(texture_font_load_glyphs(font.get(), nullptr), 0u);
}
