// Fonts: metrics and pixels against FreeType, kerning, caching, coverage
// and failure handling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "test_support.h"

using namespace ftgl_test;

namespace {

// The library documents light hinting from the outline, rendered as 8-bit
// grey, with the unhinted advance; the reference face is set up the same
// way, independently of the library.
constexpr FT_Int32 kReferenceFlags = FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT;

class ReferenceFace {
public:
    ReferenceFace(const char* path, float size) {
        if (FT_Init_FreeType(&lib_) != 0) return;
        if (FT_New_Face(lib_, path, 0, &face_) != 0) {
            face_ = nullptr;
            return;
        }
        FT_Set_Char_Size(face_, 0, static_cast<FT_F26Dot6>(std::lround(size * 64.0)), 72, 72);
    }
    ~ReferenceFace() {
        if (face_) FT_Done_Face(face_);
        if (lib_) FT_Done_FreeType(lib_);
    }
    ReferenceFace(const ReferenceFace&) = delete;
    ReferenceFace& operator=(const ReferenceFace&) = delete;

    FT_Face face() const { return face_; }

    // Renders one character; returns the slot or null.
    FT_GlyphSlot render(wchar_t c) {
        if (FT_Load_Char(face_, static_cast<FT_ULong>(c), kReferenceFlags) != 0) return nullptr;
        if (FT_Render_Glyph(face_->glyph, FT_RENDER_MODE_NORMAL) != 0) return nullptr;
        return face_->glyph;
    }

    float kerning(wchar_t left, wchar_t right) const {
        FT_Vector k{0, 0};
        FT_Get_Kerning(face_, FT_Get_Char_Index(face_, left), FT_Get_Char_Index(face_, right), FT_KERNING_UNFITTED,
                       &k);
        return static_cast<float>(k.x) / 64.0f;
    }

private:
    FT_Library lib_ = nullptr;
    FT_Face face_ = nullptr;
};

class DejaVuFont : public ::testing::Test {
protected:
    static constexpr float kSize = 23.0f;
    void SetUp() override {
        atlas_.reset(texture_atlas_new(512, 512, 1));
        ASSERT_NE(atlas_, nullptr);
        font_.reset(texture_font_new(atlas_.get(), kDejaVuSans, kSize));
        ASSERT_NE(font_, nullptr);
    }
    AtlasPtr atlas_;
    FontPtr font_;
};

// Writes `bytes` to a fresh temporary file and returns its path.
std::string temp_file_with(const std::string& bytes) {
    char path[] = "/tmp/ftgl_test_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    const bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return ok ? path : std::string();
}

}  // namespace

TEST_F(DejaVuFont, MetricsAndPixelsMatchFreeType) {
    ReferenceFace ref(kDejaVuSans, kSize);
    ASSERT_NE(ref.face(), nullptr);
    bool saw_fractional_advance = false;
    for (const wchar_t* c = L"AVgjQ|%@W.,i\u00e9\u00df\u0416"; *c; ++c) {
        SCOPED_TRACE(static_cast<unsigned>(*c));
        const texture_glyph_t* g = texture_font_get_glyph(font_.get(), *c);
        ASSERT_NE(g, nullptr);
        FT_GlyphSlot slot = ref.render(*c);
        ASSERT_NE(slot, nullptr);

        EXPECT_EQ(g->charcode, *c);
        EXPECT_EQ(g->id, FT_Get_Char_Index(ref.face(), *c));
        EXPECT_EQ(g->width, slot->bitmap.width);
        EXPECT_EQ(g->height, slot->bitmap.rows);
        EXPECT_EQ(g->offset_x, slot->bitmap_left);
        EXPECT_EQ(g->offset_y, slot->bitmap_top);
        EXPECT_FLOAT_EQ(g->advance_x, slot->linearHoriAdvance / 65536.0f);
        EXPECT_FLOAT_EQ(g->advance_y, 0.0f);
        EXPECT_EQ(g->outline_type, 0);
        if (g->advance_x != std::floor(g->advance_x)) saw_fractional_advance = true;

        ASSERT_GT(g->width, 0u);
        const Rect r = rect_of(atlas_.get(), g);
        size_t differing = 0;
        for (size_t y = 0; y < g->height; ++y) {
            const unsigned char* want = slot->bitmap.buffer + static_cast<long>(y) * slot->bitmap.pitch;
            const unsigned char* got = atlas_->data + (r.y + y) * atlas_->width + r.x;
            for (size_t x = 0; x < g->width; ++x)
                if (want[x] != got[x]) ++differing;
        }
        EXPECT_EQ(differing, 0u);
    }
    EXPECT_TRUE(saw_fractional_advance);
}

TEST_F(DejaVuFont, SpaceHasAdvanceButNoBitmap) {
    const size_t used = atlas_->used;
    const texture_glyph_t* space = texture_font_get_glyph(font_.get(), L' ');
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->width, 0u);
    EXPECT_EQ(space->height, 0u);
    EXPECT_GT(space->advance_x, 0.0f);
    EXPECT_EQ(atlas_->used, used);
}

TEST_F(DejaVuFont, KerningOfAVIsNegativeFractionalAndMatchesFreeType) {
    ReferenceFace ref(kDejaVuSans, kSize);
    ASSERT_NE(ref.face(), nullptr);
    ASSERT_TRUE(FT_HAS_KERNING(ref.face()));
    // V first, then A: the pair must still be found from V's side.
    const texture_glyph_t* v = texture_font_get_glyph(font_.get(), L'V');
    ASSERT_NE(v, nullptr);
    ASSERT_NE(texture_font_get_glyph(font_.get(), L'A'), nullptr);

    const float k = texture_glyph_get_kerning(v, L'A');
    EXPECT_LT(k, 0.0f);
    EXPECT_NE(k, std::trunc(k)) << "kerning " << k << " was rounded to whole pixels";
    EXPECT_FLOAT_EQ(k, ref.kerning(L'A', L'V'));
}

TEST_F(DejaVuFont, KerningOfEveryLoadedPairMatchesFreeType) {
    ReferenceFace ref(kDejaVuSans, kSize);
    ASSERT_NE(ref.face(), nullptr);
    const wchar_t* text = L"AVTaoyY.,LPWr";
    // Load in two batches so pairs span glyphs loaded before and after.
    ASSERT_EQ(texture_font_load_glyphs(font_.get(), L"AVTao"), 0u);
    ASSERT_EQ(texture_font_load_glyphs(font_.get(), text), 0u);
    size_t nonzero = 0;
    for (const wchar_t* prev = text; *prev; ++prev) {
        for (const wchar_t* cur = text; *cur; ++cur) {
            const texture_glyph_t* g = texture_font_get_glyph(font_.get(), *cur);
            ASSERT_NE(g, nullptr);
            const float want = ref.kerning(*prev, *cur);
            EXPECT_FLOAT_EQ(texture_glyph_get_kerning(g, *prev), want)
                << "pair " << static_cast<char>(*prev) << static_cast<char>(*cur);
            if (want != 0.0f) ++nonzero;
        }
    }
    EXPECT_GT(nonzero, 5u);  // the sample must actually exercise kerning
    // A preceding character the font never loaded has no pair.
    EXPECT_EQ(texture_glyph_get_kerning(texture_font_get_glyph(font_.get(), L'V'), L'F'), 0.0f);
    EXPECT_EQ(texture_glyph_get_kerning(nullptr, L'A'), 0.0f);
}

TEST_F(DejaVuFont, RepeatedRequestReturnsCachedGlyph) {
    texture_glyph_t* first = texture_font_get_glyph(font_.get(), L'g');
    ASSERT_NE(first, nullptr);
    const size_t used = atlas_->used;
    const auto bytes = snapshot(atlas_.get());
    texture_atlas_take_dirty(atlas_.get(), nullptr, nullptr, nullptr, nullptr);

    EXPECT_EQ(texture_font_get_glyph(font_.get(), L'g'), first);
    EXPECT_EQ(texture_font_load_glyphs(font_.get(), L"ggg"), 0u);
    EXPECT_EQ(atlas_->used, used);
    EXPECT_EQ(snapshot(atlas_.get()), bytes);
    EXPECT_EQ(texture_atlas_take_dirty(atlas_.get(), nullptr, nullptr, nullptr, nullptr), 0);
}

TEST_F(DejaVuFont, LoadsNonAsciiAndRefusesMissingCharacters) {
    for (wchar_t c : {L'\u00e9', L'\u00df', L'\u0416'}) {
        const texture_glyph_t* g = texture_font_get_glyph(font_.get(), c);
        ASSERT_NE(g, nullptr) << static_cast<unsigned>(c);
        EXPECT_GT(g->width, 0u);
        EXPECT_GT(g->advance_x, 0.0f);
    }
    const size_t used = atlas_->used;
    EXPECT_EQ(texture_font_get_glyph(font_.get(), L'\u4e2d'), nullptr);  // CJK, not in DejaVu Sans
    EXPECT_EQ(texture_font_get_glyph(font_.get(), L'\0'), nullptr);
    EXPECT_EQ(atlas_->used, used);
    EXPECT_EQ(texture_font_load_glyphs(font_.get(), L"a\u00e9\u4e2d\u4e2db"), 2u);
}

TEST_F(DejaVuFont, DeletingAtlasFirstKeepsCachedGlyphsOnly) {
    texture_glyph_t* a = texture_font_get_glyph(font_.get(), L'a');
    ASSERT_NE(a, nullptr);
    const texture_glyph_t copy = *a;
    atlas_.reset();  // the font must not write into the freed atlas afterwards

    EXPECT_EQ(texture_font_get_glyph(font_.get(), L'a'), a);
    EXPECT_EQ(std::memcmp(a, &copy, sizeof copy), 0);
    EXPECT_EQ(texture_font_get_glyph(font_.get(), L'b'), nullptr);
    EXPECT_EQ(texture_font_load_glyphs(font_.get(), L"ab"), 1u);
}

TEST(FontNew, MissingOrCorruptFileGivesNull) {
    AtlasPtr atlas(texture_atlas_new(128, 128, 1));
    ASSERT_NE(atlas, nullptr);
    EXPECT_EQ(texture_font_new(atlas.get(), "/nonexistent/font.ttf", 16.0f), nullptr);

    std::string garbage(4096, '\0');
    unsigned state = 12345;
    for (char& ch : garbage) {
        state = state * 1103515245u + 12345u;
        ch = static_cast<char>(state >> 16);
    }
    const std::string path = temp_file_with(garbage);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(texture_font_new(atlas.get(), path.c_str(), 16.0f), nullptr);
    // A TrueType header followed by junk is corrupt too.
    const std::string truncated = temp_file_with(std::string("\x00\x01\x00\x00\x00\x10", 6) + garbage);
    ASSERT_FALSE(truncated.empty());
    EXPECT_EQ(texture_font_new(atlas.get(), truncated.c_str(), 16.0f), nullptr);
    std::remove(path.c_str());
    std::remove(truncated.c_str());
    EXPECT_EQ(atlas->used, 0u);
}

TEST(FontNew, RejectsInvalidArguments) {
    AtlasPtr atlas(texture_atlas_new(128, 128, 1));
    AtlasPtr rgb(texture_atlas_new(128, 128, 3));
    ASSERT_NE(atlas, nullptr);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(texture_font_new(nullptr, kDejaVuSans, 16.0f), nullptr);
    EXPECT_EQ(texture_font_new(atlas.get(), nullptr, 16.0f), nullptr);
    EXPECT_EQ(texture_font_new(atlas.get(), kDejaVuSans, 0.0f), nullptr);
    EXPECT_EQ(texture_font_new(atlas.get(), kDejaVuSans, -3.0f), nullptr);
    EXPECT_EQ(texture_font_new(atlas.get(), kDejaVuSans, NAN), nullptr);
    EXPECT_EQ(texture_font_new(rgb.get(), kDejaVuSans, 16.0f), nullptr);

    texture_font_delete(nullptr);
    EXPECT_EQ(texture_font_get_glyph(nullptr, L'a'), nullptr);
    EXPECT_EQ(texture_font_load_glyphs(nullptr, L"abc"), 3u);
    FontPtr font(texture_font_new(atlas.get(), kDejaVuSans, 16.0f));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(texture_font_load_glyphs(font.get(), nullptr), 0u);
}

TEST(FontSize, PixelSizeSetsTheEm) {
    // At size S the em is S pixels: a capital H of DejaVu Sans is 0.729 em tall.
    AtlasPtr atlas(texture_atlas_new(256, 256, 1));
    ASSERT_NE(atlas, nullptr);
    FontPtr font(texture_font_new(atlas.get(), kDejaVuSans, 100.0f));
    ASSERT_NE(font, nullptr);
    const texture_glyph_t* h = texture_font_get_glyph(font.get(), L'H');
    ASSERT_NE(h, nullptr);
    EXPECT_NEAR(static_cast<double>(h->height), 72.9, 1.5);
    EXPECT_NEAR(h->advance_x, 75.2f, 0.1f);  // 1540 units of 2048
}

#ifdef FTGL_FALLBACK_FONT
TEST(FallbackFont, IsUbuntuMonoAndCoversPrintableAscii) {
    if (access(FTGL_FALLBACK_FONT, R_OK) != 0) GTEST_SKIP() << FTGL_FALLBACK_FONT << " was not fetched";
    ReferenceFace ref(FTGL_FALLBACK_FONT, 16.0f);
    ASSERT_NE(ref.face(), nullptr);
    EXPECT_STREQ(ref.face()->family_name, "Ubuntu Mono");
    EXPECT_STREQ(ref.face()->style_name, "Regular");

    AtlasPtr atlas(texture_atlas_new(512, 512, 1));
    ASSERT_NE(atlas, nullptr);
    FontPtr font(texture_font_new(atlas.get(), FTGL_FALLBACK_FONT, 16.0f));
    ASSERT_NE(font, nullptr);
    std::wstring ascii;
    for (wchar_t c = 0x20; c <= 0x7e; ++c) ascii += c;
    EXPECT_EQ(texture_font_load_glyphs(font.get(), ascii.c_str()), 0u);
    EXPECT_NE(texture_font_get_glyph(font.get(), L'\u00e9'), nullptr);
    // Monospaced: every printable ASCII glyph advances the same.
    const float advance = texture_font_get_glyph(font.get(), L'M')->advance_x;
    EXPECT_FLOAT_EQ(texture_font_get_glyph(font.get(), L'i')->advance_x, advance);
}
#endif
