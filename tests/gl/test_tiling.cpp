// Tall images cut into bands of rectangle textures and drawn upright.
// Pixel tolerance 1 (solid stripes probed at texel centres).
#include "gl/ImageFixture.h"
#include "gl/glTexture.h"

#include <algorithm>
#include <cstring>

using qvtest::Rgba;

namespace {
Rgba stripeColour(int row)
{
    const int k = row / 100;
    return Rgba{(k * 37) % 256, (k * 91 + 40) % 256, 255 - (k * 53) % 256, 255};
}

GLint rectTextureLevel(int id, GLenum what)
{
    GLint value = -1;
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, static_cast<GLuint>(id));
    glGetTexLevelParameteriv(GL_TEXTURE_RECTANGLE_ARB, 0, what, &value);
    return value;
}
} // namespace

class TilingTest : public qvtest::ImageTest {};

TEST_F(TilingTest, TenThousandRowsMakeThreeBandsFromTheBottomUp)
{
    const std::string p = path("tall.bmp");
    ASSERT_TRUE(qvtest::writeImage(p, FIF_BMP, 1000, 10000, 24, qvtest::solid(Rgba{1, 2, 3, 255})));
    txTexture tex;
    tex.loadFromImage(const_cast<char*>(p.c_str()), 0, 0, 1000, 10000);
    ASSERT_EQ(txTexture::tex_size, 4096);
    ASSERT_EQ(tex.m_tex_list.size(), 3u);
    const float rows[] = {4096, 4096, 1808};
    const float bottoms[] = {5904, 1808, 0};
    for (size_t i = 0; i < 3; ++i) {
        const txRect& band = *tex.m_tex_list[i];
        EXPECT_FLOAT_EQ(band.tl.y - band.rb.y, rows[i]) << i;
        EXPECT_FLOAT_EQ(band.rb.y, bottoms[i]) << i;
        EXPECT_FLOAT_EQ(band.tl.x, 0) << i;
        EXPECT_FLOAT_EQ(band.rb.x, 1000) << i;
        EXPECT_EQ(rectTextureLevel(band.gl_texId, GL_TEXTURE_WIDTH), 1004) << i;
        EXPECT_EQ(rectTextureLevel(band.gl_texId, GL_TEXTURE_HEIGHT), 4096) << i;
    }
    EXPECT_FLOAT_EQ(tex.m_scale_x, 1.0f);
    EXPECT_FLOAT_EQ(tex.m_scale_y, 1.0f);
}

TEST_F(TilingTest, ExactMultipleEndsWithAnEmptyBand)
{
    const std::string p = path("exact.bmp");
    ASSERT_TRUE(qvtest::writeImage(p, FIF_BMP, 8, 8192, 24, qvtest::solid(Rgba{1, 2, 3, 255})));
    txTexture tex;
    tex.loadFromImage(const_cast<char*>(p.c_str()), 0, 0, 8, 8192);
    ASSERT_EQ(tex.m_tex_list.size(), 3u);
    EXPECT_FLOAT_EQ(tex.m_tex_list[2]->tl.y - tex.m_tex_list[2]->rb.y, 0.0f);
    EXPECT_EQ(rectTextureLevel(tex.m_tex_list[0]->gl_texId, GL_TEXTURE_WIDTH), 12);
}

TEST_F(TilingTest, EveryStripeOfATallImageLandsWhereItBelongs)
{
    const std::string p = path("stripes.bmp");
    const int height = 9000;
    ASSERT_TRUE(qvtest::writeImage(p, FIF_BMP, 64, height, 24, [](int, int y) { return stripeColour(y); }));
    // Rows near the seams of the bands (808 and 4904) as well as every stripe's middle.
    std::vector<int> probeRows = {807, 808, 4903, 4904, 0, height - 1};
    for (int k = 0; k < height / 100; ++k)
        probeRows.push_back(k * 100 + 50);
    for (int row : probeRows) {
        const int shift = std::max(0, row - 128);
        clear();
        manager().drawWebPageTexture(p.c_str(), 10, static_cast<float>(-shift), 64, height);
        EXPECT_PIXEL(gl(), 40, row - shift, stripeColour(row), 1) << "image row " << row;
    }
    EXPECT_EQ(manager().mega_texture_list.size(), 1u);
    EXPECT_STREQ(manager().texture_name, p.c_str());
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TilingTest, LoadTimeScaleHoldsForLaterDraws)
{
    const std::string p = path("rgb.png");
    ASSERT_TRUE(qvtest::writeImage(p, FIF_PNG, 40, 300, 24, [](int, int y) {
        return y < 100 ? Rgba{255, 0, 0, 255} : y < 200 ? Rgba{0, 255, 0, 255} : Rgba{0, 0, 255, 255};
    }));
    manager().drawWebPageTexture(p.c_str(), 10, 5, 80, 150); // x2 wide, /2 tall
    EXPECT_PIXEL(gl(), 85, 30, (Rgba{255, 0, 0, 255}), 1);
    EXPECT_PIXEL(gl(), 85, 130, (Rgba{0, 0, 255, 255}), 1);
    EXPECT_PIXEL(gl(), 95, 30, (Rgba{0, 0, 0, 255}), 0);
    clear();
    manager().drawWebPageTexture(p.c_str(), 100.9f, 0, 40, 300);
    EXPECT_PIXEL(gl(), 175, 75, (Rgba{0, 255, 0, 255}), 1);
    EXPECT_PIXEL(gl(), 175, 160, (Rgba{0, 0, 0, 255}), 0);
    EXPECT_PIXEL(gl(), 185, 75, (Rgba{0, 0, 0, 255}), 0);
    EXPECT_EQ(manager().mega_texture_list.size(), 1u);
}

TEST_F(TilingTest, ClearLargeTextureEmptiesTheList)
{
    const std::string a = path("a.png"), b = path("b.png");
    ASSERT_TRUE(qvtest::writeImage(a, FIF_PNG, 8, 8, 24, qvtest::solid(Rgba{255, 0, 0, 255})));
    ASSERT_TRUE(qvtest::writeImage(b, FIF_PNG, 8, 8, 24, qvtest::solid(Rgba{0, 255, 0, 255})));
    manager().drawWebPageTexture(a.c_str(), 0, 0, 8, 8);
    manager().drawWebPageTexture(b.c_str(), 0, 0, 8, 8);
    manager().drawWebPageTexture(a.c_str(), 0, 0, 8, 8); // already listed: not loaded again
    EXPECT_EQ(manager().mega_texture_list.size(), 2u);
    manager().clearLargeTexture();
    EXPECT_TRUE(manager().mega_texture_list.empty());
    EXPECT_EQ(manager().texture_name[0], '\0');
    clear();
    manager().drawWebPageTexture(b.c_str(), 0, 0, 8, 8);
    EXPECT_PIXEL(gl(), 4, 4, (Rgba{0, 255, 0, 255}), 1);
}

TEST_F(TilingTest, UndecodableOrHostileFilesDrawNothing)
{
    const std::string bad = path("bad.png");
    FILE* f = fopen(bad.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("\x89PNG not really", f);
    fclose(f);
    manager().drawWebPageTexture(bad.c_str(), 0, 0, 100, 100);
    ASSERT_EQ(manager().mega_texture_list.size(), 1u);
    EXPECT_TRUE(manager().mega_texture_list[0]->m_tex_list.empty());
    EXPECT_FLOAT_EQ(manager().mega_texture_list[0]->m_scale_x, 0.0f);

    ASSERT_EQ(mkfifo(path("fifo.png").c_str(), 0600), 0);
    manager().drawWebPageTexture(path("fifo.png").c_str(), 0, 0, 100, 100);

    // A BMP header claiming 100000 x 100000 pixels is refused before decoding.
    const std::string huge = path("huge.bmp");
    ASSERT_TRUE(qvtest::writeImage(huge, FIF_BMP, 4, 4, 24, qvtest::solid(Rgba{255, 0, 0, 255})));
    FILE* h = fopen(huge.c_str(), "r+b");
    ASSERT_NE(h, nullptr);
    const int32_t big = 100000;
    fseek(h, 18, SEEK_SET);
    fwrite(&big, 4, 1, h);
    fwrite(&big, 4, 1, h);
    fclose(h);
    manager().drawWebPageTexture(huge.c_str(), 0, 0, 100, 100);
    EXPECT_TRUE(qvtest::syslogContains("loadFromImage: refuse"));

    // A name longer than a tiled image keeps is refused, not cut short.
    const std::string longName = path(std::string(600, 'n') + ".png");
    manager().drawWebPageTexture(longName.c_str(), 0, 0, 100, 100);
    EXPECT_TRUE(qvtest::syslogContains("is too long"));
    EXPECT_EQ(manager().mega_texture_list.size(), 3u);
    for (const txTexture* t : manager().mega_texture_list)
        EXPECT_TRUE(t->m_tex_list.empty());
    EXPECT_PIXEL(gl(), 50, 50, (Rgba{0, 0, 0, 255}), 0);
}
