// Stimulus images through the texture manager: placement, caching, the
// conversions before upload, the budget, per-context caches, tiling of tall
// images into bands, and bad files. Pixel tolerance 1 (solid regions probed
// away from edges that filter).
#include "gl/ImageFixture.h"
#include "gl/glTexture.h"

#include "boundary/Debug_Trace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

using namespace qvtest;

class TextureManagerTest : public ImageTest {
protected:
    std::string quadrantPng(const std::string& name = "q.png")
    {
        const std::string p = path(name);
        EXPECT_TRUE(writeImage(p, FIF_PNG, 64, 64, 24, quadrants(64, 64)));
        return p;
    }
    char* c(const std::string& s) { return const_cast<char*>(s.c_str()); }
};

TEST_F(TextureManagerTest, DrawsUprightInTheRectangleOrAtItsOwnSize)
{
    const std::string p = quadrantPng();
    manager().drawPlainTexture(p.c_str(), 20, 30, 128, 128, false);
    expectPixels(gl(), {{52, 62, kRed}, {116, 62, kGreen}, {52, 126, kBlue}, {116, 126, kWhite}, {19, 100, kBlack},
                        {148, 100, kBlack}, {100, 29, kBlack}, {100, 158, kBlack}}, 1);
    clear();
    manager().drawPlainTexture(p.c_str(), 10, 10, 0, 0, false);
    expectPixels(gl(), {{10, 10, kRed}, {73, 73, kWhite}, {74, 40, kBlack}, {40, 74, kBlack}}, 1);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TextureManagerTest, SecondDrawUsesTheCacheUntilUpdate)
{
    const std::string p = path("c.png");
    ASSERT_TRUE(writeImage(p, FIF_PNG, 16, 16, 24, solid(kRed)));
    const int id = manager().getTexture(c(p));
    EXPECT_NE(id, 0);
    ASSERT_TRUE(writeImage(p, FIF_PNG, 16, 16, 24, solid(kGreen)));
    manager().drawPlainTexture(p.c_str(), 0, 0, 50, 50, false);
    expectPixels(gl(), {{25, 25, kRed}}, 1);
    EXPECT_EQ(manager().getTexture(c(p)), id);
    manager().drawPlainTexture(p.c_str(), 0, 0, 50, 50, true);
    expectPixels(gl(), {{25, 25, kGreen}}, 1);
    EXPECT_EQ(manager().m_texID.size(), 1u);
}

// Each file is drawn blended over green with the current colour white (or
// plainly): the conversion before upload decides what shows.
TEST_F(TextureManagerTest, ConversionsBeforeUpload)
{
    const RGBQUAD bk{60, 10, 200, 0}; // blue, green, red: only a channel-by-channel match clears it
    const Rgba bkColour{200, 10, 60, 255};
    struct Case {
        const char* name;
        FREE_IMAGE_FORMAT fif;
        int bpp;
        PixelFn px;
        const RGBQUAD* background;
        std::vector<Probe> probes;
        unsigned bytes;
        const char* log;
    } cases[] = {
        // Every fourth byte 0: it shows only when uploaded without its alpha.
        {"a.bmp", FIF_BMP, 32, solid(Rgba{200, 100, 50, 0}), nullptr, {{20, 20, Rgba{200, 100, 50, 255}}}, 10 * 10 * 3, ""},
        {"g.png", FIF_PNG, 8, solid(Rgba{90, 0, 0, 255}), nullptr, {{20, 20, Rgba{90, 90, 90, 255}}}, 10 * 10 * 3,
         " convert with bpp 24 "},
        {"bk.png", FIF_PNG, 24, [&](int x, int) { return x < 5 ? bkColour : kBlue; }, &bk,
         {{10, 50, kGreen}, {80, 50, kBlue}}, 10 * 10 * 4, "has background"},
        {"half.png", FIF_PNG, 32, solid(Rgba{255, 0, 255, 128}), nullptr, {{50, 50, Rgba{128, 127, 128, 255}}}, 10 * 10 * 4, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        manager().UnloadAllTextures();
        clearSyslog();
        ASSERT_TRUE(writeImage(path(k.name), k.fif, 10, 10, k.bpp, k.px, k.background));
        glClearColor(0, 1, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor4f(1, 1, 1, 1);
        const GlState before = GlState::capture();
        manager().drawTexture(c(path(k.name)), 0, 0, 100, 100);
        EXPECT_EQ(GlState::capture().changedFrom(before), "");
        for (const Probe& p : k.probes) {
            const Rgba got = gl().pixel(p.x, p.y); // destination alpha is blended too: not compared
            EXPECT_TRUE(pixelNear(got, Rgba{p.colour.r, p.colour.g, p.colour.b, got.a}, 2)) << p.x << ", " << p.y;
        }
        EXPECT_EQ(totalbyte, k.bytes);
        EXPECT_TRUE(*k.log == 0 || syslogContains(k.log)) << k.log;
    }
    glColor4f(1, 0, 0, 1); // a white image is modulated by the current colour
    ASSERT_TRUE(writeImage(path("w.png"), FIF_PNG, 8, 8, 24, solid(kWhite)));
    manager().drawTexture(c(path("w.png")), 0, 0, 100, 100);
    expectPixels(gl(), {{50, 50, kRed}}, 1);
}

TEST_F(TextureManagerTest, BudgetOfTwoHundredThousandKiBEvictsBeforeTheNextLoad)
{
    const std::string a = quadrantPng("a.png"), b = quadrantPng("b.png"), d = quadrantPng("d.png");
    ASSERT_NE(manager().getTexture(c(a)), 0);
    EXPECT_EQ(totalbyte, 64u * 64u * 3u);
    totalbyte = 204801023u; // 200000 KiB and 1023 bytes: not yet past
    ASSERT_NE(manager().getTexture(c(b)), 0);
    EXPECT_EQ(manager().m_texID.size(), 2u);
    EXPECT_FALSE(syslogContains("more than 200 mb vram"));
    totalbyte = 204801024u;
    ASSERT_NE(manager().getTexture(c(d)), 0);
    EXPECT_EQ(manager().m_texID.size(), 1u);
    EXPECT_EQ(totalbyte, 64u * 64u * 3u);
    EXPECT_TRUE(syslogContains("more than 200 mb vram when load texture , delete all textures \n"));
    EXPECT_TRUE(syslogContains(" delete texture " + a));
}

TEST_F(TextureManagerTest, EachContextKeepsItsOwnCache)
{
    const std::string p = quadrantPng();
    TextureManager* first = &manager();
    ASSERT_NE(first->getTexture(c(p)), 0);
    {
        // Destroying a context leaves none current: switch back after it is gone.
        GlContext other(64, 64);
        ASSERT_TRUE(other.ok()) << other.error();
        other.makeCurrent();
        TextureManager* second = TextureManager::getInstance();
        ASSERT_NE(second, nullptr);
        EXPECT_NE(second, first);
        EXPECT_TRUE(second->m_texID.empty());
        ASSERT_NE(second->getTexture(c(p)), 0);
        second->UnloadAllTextures();
    }
    gl().makeCurrent();
    EXPECT_EQ(TextureManager::getInstance(), first);
    EXPECT_EQ(first->m_texID.count(p), 1u);
    manager().drawPlainTexture(p.c_str(), 0, 0, 64, 64, false);
    EXPECT_PIXEL(gl(), 10, 10, kRed, 1);
}

// Files a viewer meets that it did not make: no entry, no band, no draw.
TEST_F(TextureManagerTest, BadFilesAreRefusedByEveryPath)
{
    const auto bytes = [&](const std::string& name, const std::string& b) {
        std::ofstream(path(name), std::ios::binary) << b;
        return true;
    };
    const auto cut = [&](const std::string& name) { // a real PNG cut short
        return truncate(path(name).c_str(), 60) == 0;
    };
    const std::pair<std::string, bool> files[] = {
        {"notes.xyz", bytes("notes.xyz", "just some text, not an image")},
        {"fake.png", bytes("fake.png", "\x89PNG garbage that is not a PNG")},
        {"empty.png", bytes("empty.png", "")},
        {"cut.png", writeImage(path("cut.png"), FIF_PNG, 64, 64, 24, quadrants(64, 64)) && cut("cut.png")},
        {"missing.png", true},
        {"dir.png", mkdir(path("dir.png").c_str(), 0700) == 0},
        {"pipe.png", mkfifo(path("pipe.png").c_str(), 0600) == 0}, // must not block
        {"huge.bmp", writeHugeBmp(path("huge.bmp"), 1000000)},
        {std::string(600, 'n') + ".png", true}, // longer than a tiled image keeps
    };
    for (const auto& f : files) {
        ASSERT_TRUE(f.second) << f.first;
        const std::string p = path(f.first);
        EXPECT_EQ(manager().LoadTexture(p.c_str(), false), nullptr) << f.first;
        EXPECT_EQ(manager().getTexture(c(p)), 0) << f.first;
        manager().drawPlainTexture(p.c_str(), 0, 0, 100, 100, false);
        manager().drawTexture(c(p), 0, 0, 100, 100);
        manager().drawWebPageTexture(p.c_str(), 0, 0, 100, 100);
    }
    expectPixels(gl(), {{50, 50, kBlack}}, 0);
    EXPECT_TRUE(manager().m_texID.empty());
    for (const txTexture* t : manager().mega_texture_list)
        EXPECT_TRUE(t->m_tex_list.empty());
    for (const char* log : {"is not a regular, non-empty file", "refuse image", "loadFromImage: refuse", "is too long"})
        EXPECT_TRUE(syslogContains(log)) << log;
    EXPECT_EQ(manager().LoadTexture(nullptr, false), nullptr);
    EXPECT_EQ(manager().LoadTexture("", true), nullptr);
    const size_t listed = manager().mega_texture_list.size();
    manager().drawWebPageTexture(nullptr, 0, 0, 10, 10);
    manager().drawWebPageTexture("", 0, 0, 10, 10);
    EXPECT_EQ(manager().mega_texture_list.size(), listed);
}

// ---- Tall images: bands of rectangle textures, cut from the bottom up ----

TEST_F(TextureManagerTest, TallImagesAreCutIntoBandsOfAtMost4096Rows)
{
    struct Case {
        int w, h;
        std::vector<float> rows, bottoms;
        int texWidth;
    } cases[] = {{1000, 10000, {4096, 4096, 1808}, {5904, 1808, 0}, 1004},
                 {8, 8192, {4096, 4096, 0}, {4096, 0, 0}, 12}}; // an exact multiple ends with an empty band
    for (const Case& k : cases) {
        SCOPED_TRACE(k.h);
        const std::string p = path("tall.bmp");
        ASSERT_TRUE(writeImage(p, FIF_BMP, k.w, k.h, 24, solid(Rgba{1, 2, 3, 255})));
        txTexture tex;
        tex.loadFromImage(c(p), 0, 0, k.w, k.h);
        ASSERT_EQ(tex.m_tex_list.size(), k.rows.size());
        for (size_t i = 0; i < k.rows.size(); ++i) {
            const txRect& band = *tex.m_tex_list[i];
            EXPECT_FLOAT_EQ(band.tl.y - band.rb.y, k.rows[i]) << i;
            EXPECT_FLOAT_EQ(band.rb.y, k.bottoms[i]) << i;
            EXPECT_FLOAT_EQ(band.rb.x - band.tl.x, k.w) << i;
            GLint w = -1, h = -1;
            glBindTexture(GL_TEXTURE_RECTANGLE_ARB, static_cast<GLuint>(band.gl_texId));
            glGetTexLevelParameteriv(GL_TEXTURE_RECTANGLE_ARB, 0, GL_TEXTURE_WIDTH, &w);
            glGetTexLevelParameteriv(GL_TEXTURE_RECTANGLE_ARB, 0, GL_TEXTURE_HEIGHT, &h);
            EXPECT_EQ(w, k.texWidth);
            EXPECT_EQ(h, 4096);
        }
    }
}

TEST_F(TextureManagerTest, EveryStripeOfATallImageLandsWhereItBelongs)
{
    const auto stripe = [](int row) {
        const int k = row / 100;
        return Rgba{(k * 37) % 256, (k * 91 + 40) % 256, 255 - (k * 53) % 256, 255};
    };
    const std::string p = path("stripes.bmp");
    const int height = 9000;
    ASSERT_TRUE(writeImage(p, FIF_BMP, 64, height, 24, [&](int, int y) { return stripe(y); }));
    // Rows at the seams of the bands (808 and 4904) as well as every stripe's middle.
    std::vector<int> rows = {807, 808, 4903, 4904, 0, height - 1};
    for (int k = 0; k < height / 100; ++k)
        rows.push_back(k * 100 + 50);
    for (int row : rows) {
        const int shift = std::max(0, row - 128);
        clear();
        manager().drawWebPageTexture(p.c_str(), 10, static_cast<float>(-shift), 64, height);
        EXPECT_PIXEL(gl(), 40, row - shift, stripe(row), 1) << "image row " << row;
    }
    EXPECT_EQ(manager().mega_texture_list.size(), 1u);
    EXPECT_STREQ(manager().texture_name, p.c_str());
}

TEST_F(TextureManagerTest, TallImageScaleIsFixedAtLoadAndClearedWithTheList)
{
    const std::string p = path("rgb.png"), other = path("other.png");
    ASSERT_TRUE(writeImage(p, FIF_PNG, 40, 300, 24, [](int, int y) { return y < 100 ? kRed : y < 200 ? kGreen : kBlue; }));
    ASSERT_TRUE(writeImage(other, FIF_PNG, 8, 8, 24, solid(kGreen)));
    manager().drawWebPageTexture(p.c_str(), 10, 5, 80, 150); // x2 wide, /2 tall
    expectPixels(gl(), {{85, 30, kRed}, {85, 130, kBlue}, {95, 30, kBlack}}, 1);
    clear();
    manager().drawWebPageTexture(p.c_str(), 100.9f, 0, 40, 300);
    expectPixels(gl(), {{175, 75, kGreen}, {175, 160, kBlack}, {185, 75, kBlack}}, 1);
    manager().drawWebPageTexture(other.c_str(), 0, 0, 8, 8);
    manager().drawWebPageTexture(p.c_str(), 0, 0, 8, 8); // already listed: not loaded again
    EXPECT_EQ(manager().mega_texture_list.size(), 2u);
    manager().clearLargeTexture();
    EXPECT_TRUE(manager().mega_texture_list.empty());
    EXPECT_EQ(manager().texture_name[0], '\0');
}
