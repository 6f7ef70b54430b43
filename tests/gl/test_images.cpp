// Stimulus images through the texture manager: placement, caching, the
// conversions before upload, the budget, per-context caches and bad files.
// Pixel tolerance 1 (solid regions, probed away from edges that filter).
#include "gl/ImageFixture.h"

#include "boundary/Debug_Trace.h"

#include <sys/stat.h>

#include <cstring>
#include <fstream>

using qvtest::Rgba;

namespace {
const Rgba kRed{255, 0, 0, 255};
const Rgba kGreen{0, 255, 0, 255};
const Rgba kBlue{0, 0, 255, 255};
const Rgba kWhite{255, 255, 255, 255};
const Rgba kBlack{0, 0, 0, 255};
} // namespace

class TextureManagerTest : public qvtest::ImageTest {
protected:
    std::string quadrantPng(const std::string& name = "q.png")
    {
        const std::string p = path(name);
        EXPECT_TRUE(qvtest::writeImage(p, FIF_PNG, 64, 64, 24, qvtest::quadrants(64, 64)));
        return p;
    }
};

TEST_F(TextureManagerTest, DrawsUprightInTheRectangle)
{
    const std::string p = quadrantPng();
    manager().drawPlainTexture(p.c_str(), 20, 30, 128, 128, false);
    EXPECT_PIXEL(gl(), 52, 62, kRed, 1);
    EXPECT_PIXEL(gl(), 116, 62, kGreen, 1);
    EXPECT_PIXEL(gl(), 52, 126, kBlue, 1);
    EXPECT_PIXEL(gl(), 116, 126, kWhite, 1);
    EXPECT_PIXEL(gl(), 19, 100, kBlack, 0);
    EXPECT_PIXEL(gl(), 148, 100, kBlack, 0);
    EXPECT_PIXEL(gl(), 100, 29, kBlack, 0);
    EXPECT_PIXEL(gl(), 100, 158, kBlack, 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TextureManagerTest, ZeroSizeDrawsAtTheImagesOwnSize)
{
    const std::string p = quadrantPng();
    manager().drawPlainTexture(p.c_str(), 10, 10, 0, 0, false);
    EXPECT_PIXEL(gl(), 10, 10, kRed, 1);
    EXPECT_PIXEL(gl(), 73, 73, kWhite, 1);
    EXPECT_PIXEL(gl(), 74, 40, kBlack, 0);
    EXPECT_PIXEL(gl(), 40, 74, kBlack, 0);
}

TEST_F(TextureManagerTest, SecondDrawUsesTheCacheUntilUpdate)
{
    const std::string p = path("c.png");
    ASSERT_TRUE(qvtest::writeImage(p, FIF_PNG, 16, 16, 24, qvtest::solid(kRed)));
    manager().drawPlainTexture(p.c_str(), 0, 0, 50, 50, false);
    const int id = manager().getTexture(const_cast<char*>(p.c_str()));
    EXPECT_NE(id, 0);
    ASSERT_TRUE(qvtest::writeImage(p, FIF_PNG, 16, 16, 24, qvtest::solid(kGreen)));
    clear();
    manager().drawPlainTexture(p.c_str(), 0, 0, 50, 50, false);
    EXPECT_PIXEL(gl(), 25, 25, kRed, 1);
    EXPECT_EQ(manager().getTexture(const_cast<char*>(p.c_str())), id);
    clear();
    manager().drawPlainTexture(p.c_str(), 0, 0, 50, 50, true);
    EXPECT_PIXEL(gl(), 25, 25, kGreen, 1);
    EXPECT_EQ(manager().m_texID.size(), 1u);
}

TEST_F(TextureManagerTest, BlendedDrawIsModulatedAndRestoresState)
{
    const std::string p = path("w.png");
    ASSERT_TRUE(qvtest::writeImage(p, FIF_PNG, 8, 8, 24, qvtest::solid(kWhite)));
    glColor4f(1, 0, 0, 1);
    manager().drawTexture(const_cast<char*>(p.c_str()), 0, 0, 100, 100);
    EXPECT_PIXEL(gl(), 50, 50, kRed, 1);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[1], 0.0f); // the white of a plain quad did not leak
    EXPECT_FALSE(glIsEnabled(GL_BLEND));

    // Half-transparent pixels mix with what is there.
    const std::string half = path("half.png");
    ASSERT_TRUE(qvtest::writeImage(half, FIF_PNG, 8, 8, 32, qvtest::solid(Rgba{255, 255, 255, 128})));
    clear();
    glColor4f(0, 1, 0, 1);
    manager().drawTexture(const_cast<char*>(half.c_str()), 0, 0, 100, 100);
    const Rgba mixed = gl().pixel(50, 50); // destination alpha is blended too: not compared
    EXPECT_TRUE(qvtest::pixelNear(mixed, Rgba{0, 128, 0, mixed.a}, 2));
}

TEST_F(TextureManagerTest, ThirtyTwoBitBmpIsUploadedWithoutItsAlpha)
{
    // Every fourth byte 0: drawn blended, it shows only when uploaded as BGR.
    const std::string p = path("a.bmp");
    ASSERT_TRUE(qvtest::writeImage(p, FIF_BMP, 10, 10, 32, qvtest::solid(Rgba{200, 100, 50, 0})));
    glColor4f(1, 1, 1, 1);
    manager().drawTexture(const_cast<char*>(p.c_str()), 0, 0, 40, 40);
    EXPECT_PIXEL(gl(), 20, 20, (Rgba{200, 100, 50, 255}), 1);
    EXPECT_EQ(totalbyte, 10u * 10u * 3u);
}

TEST_F(TextureManagerTest, EightBitGreyBecomesTwentyFourBits)
{
    const std::string p = path("g.png");
    ASSERT_TRUE(qvtest::writeImage(p, FIF_PNG, 12, 12, 8, qvtest::solid(Rgba{90, 0, 0, 255})));
    manager().drawPlainTexture(p.c_str(), 0, 0, 30, 30, false);
    EXPECT_PIXEL(gl(), 15, 15, (Rgba{90, 90, 90, 255}), 1);
    EXPECT_EQ(totalbyte, 12u * 12u * 3u);
    EXPECT_TRUE(qvtest::syslogContains(" convert with bpp 24 "));
}

TEST_F(TextureManagerTest, BackgroundColourBecomesTransparent)
{
    // Red and blue differ, so only a channel-by-channel match clears it.
    const RGBQUAD bk{60, 10, 200, 0}; // blue, green, red
    const Rgba bkColour{200, 10, 60, 255};
    const std::string p = path("bk.png");
    ASSERT_TRUE(qvtest::writeImage(
        p, FIF_PNG, 20, 20, 24, [&](int x, int) { return x < 10 ? bkColour : Rgba{0, 0, 255, 255}; }, &bk));
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor4f(1, 1, 1, 1);
    manager().drawTexture(const_cast<char*>(p.c_str()), 0, 0, 200, 200);
    EXPECT_TRUE(qvtest::syslogContains("has background"));
    EXPECT_PIXEL(gl(), 40, 100, kGreen, 1);
    EXPECT_PIXEL(gl(), 160, 100, kBlue, 1);
}

TEST_F(TextureManagerTest, BudgetEvictsTheContextsCacheBeforeTheNextLoad)
{
    // 24-bit 2560 x 2560 images are 19660800 bytes each: the eleventh takes
    // the count past 200000 KiB, so the twelfth load starts with an eviction.
    const std::string first = path("big0.bmp");
    ASSERT_TRUE(qvtest::writeImage(first, FIF_BMP, 2560, 2560, 24, qvtest::solid(kBlue)));
    for (int i = 1; i < 12; ++i)
        ASSERT_EQ(link(first.c_str(), path("big" + std::to_string(i) + ".bmp").c_str()), 0);
    for (int i = 0; i < 11; ++i)
        ASSERT_NE(manager().getTexture(const_cast<char*>(path("big" + std::to_string(i) + ".bmp").c_str())), 0);
    EXPECT_EQ(manager().m_texID.size(), 11u);
    EXPECT_EQ(totalbyte, 11u * 19660800u);
    EXPECT_FALSE(qvtest::syslogContains("more than 200 mb vram"));
    ASSERT_NE(manager().getTexture(const_cast<char*>(path("big11.bmp").c_str())), 0);
    EXPECT_TRUE(qvtest::syslogContains("more than 200 mb vram when load texture , delete all textures \n"));
    EXPECT_EQ(manager().m_texID.size(), 1u);
    EXPECT_EQ(manager().m_texID.count(path("big11.bmp")), 1u);
    EXPECT_EQ(totalbyte, 19660800u);
}

TEST_F(TextureManagerTest, BudgetBoundaryIsTwoHundredThousandKiB)
{
    const std::string a = quadrantPng("a.png");
    const std::string b = quadrantPng("b.png");
    const std::string c = quadrantPng("c.png");
    ASSERT_NE(manager().getTexture(const_cast<char*>(a.c_str())), 0);
    totalbyte = 204801023u; // 200000 KiB and 1023 bytes: not yet past
    ASSERT_NE(manager().getTexture(const_cast<char*>(b.c_str())), 0);
    EXPECT_EQ(manager().m_texID.size(), 2u);
    totalbyte = 204801024u;
    ASSERT_NE(manager().getTexture(const_cast<char*>(c.c_str())), 0);
    EXPECT_EQ(manager().m_texID.size(), 1u);
    EXPECT_TRUE(qvtest::syslogContains(" delete texture " + a));
}

TEST_F(TextureManagerTest, EachContextKeepsItsOwnCache)
{
    const std::string p = quadrantPng();
    TextureManager* first = &manager();
    ASSERT_NE(first->getTexture(const_cast<char*>(p.c_str())), 0);
    {
        // Destroying a context leaves none current: switch back after it is gone.
        qvtest::GlContext other(64, 64);
        ASSERT_TRUE(other.ok()) << other.error();
        other.makeCurrent();
        TextureManager* second = TextureManager::getInstance();
        ASSERT_NE(second, nullptr);
        EXPECT_NE(second, first);
        EXPECT_TRUE(second->m_texID.empty());
        ASSERT_NE(second->getTexture(const_cast<char*>(p.c_str())), 0);
        second->UnloadAllTextures();
    }
    gl().makeCurrent();
    EXPECT_EQ(TextureManager::getInstance(), first);
    EXPECT_EQ(first->m_texID.count(p), 1u);
    manager().drawPlainTexture(p.c_str(), 0, 0, 64, 64, false);
    EXPECT_PIXEL(gl(), 10, 10, kRed, 1);
}

TEST_F(TextureManagerTest, GetPower2FollowsTheSharedRule)
{
    for (int n : {-5, 0, 1, 3, 256, 257, 1000, 1 << 30})
        EXPECT_EQ(manager().getPower2(n), getPower2(n)) << n;
}

// Files a viewer meets that it did not make: every one gives no entry and no draw.
class BadImageTest : public qvtest::ImageTest {
protected:
    void expectRefused(const std::string& p)
    {
        EXPECT_EQ(manager().LoadTexture(p.c_str(), false), nullptr) << p;
        EXPECT_EQ(manager().getTexture(const_cast<char*>(p.c_str())), 0) << p;
        manager().drawPlainTexture(p.c_str(), 0, 0, 100, 100, false);
        manager().drawTexture(const_cast<char*>(p.c_str()), 0, 0, 100, 100);
        EXPECT_PIXEL(gl(), 50, 50, kBlack, 0) << p;
        EXPECT_TRUE(manager().m_texID.empty());
    }
    void writeBytes(const std::string& p, const std::string& bytes)
    {
        std::ofstream(p, std::ios::binary) << bytes;
    }
};

TEST_F(BadImageTest, UnknownFormatAndCorruptContents)
{
    writeBytes(path("notes.xyz"), "just some text, not an image");
    expectRefused(path("notes.xyz"));
    writeBytes(path("fake.png"), "\x89PNG garbage that is not a PNG");
    expectRefused(path("fake.png"));
    writeBytes(path("empty.png"), "");
    expectRefused(path("empty.png"));
    expectRefused(path("missing.png"));
}

TEST_F(BadImageTest, TruncatedFile)
{
    const std::string full = path("full.png");
    ASSERT_TRUE(qvtest::writeImage(full, FIF_PNG, 64, 64, 24, qvtest::quadrants(64, 64)));
    std::ifstream in(full, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    writeBytes(path("cut.png"), bytes.substr(0, 60));
    expectRefused(path("cut.png"));
}

TEST_F(BadImageTest, DirectoryAndFifoDoNotBlock)
{
    ASSERT_EQ(mkdir(path("dir.png").c_str(), 0700), 0);
    expectRefused(path("dir.png"));
    ASSERT_EQ(mkfifo(path("pipe.png").c_str(), 0600), 0);
    expectRefused(path("pipe.png"));
    EXPECT_TRUE(qvtest::syslogContains("is not a regular, non-empty file"));
}

TEST_F(BadImageTest, AbsurdDimensionsAreRefusedFromTheHeader)
{
    // A valid small BMP whose header then claims 1000000 x 1000000 pixels.
    const std::string p = path("huge.bmp");
    ASSERT_TRUE(qvtest::writeImage(p, FIF_BMP, 4, 4, 24, qvtest::solid(kRed)));
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    const int32_t big = 1000000;
    f.seekp(18);
    f.write(reinterpret_cast<const char*>(&big), 4);
    f.write(reinterpret_cast<const char*>(&big), 4);
    f.close();
    expectRefused(p);
    EXPECT_TRUE(qvtest::syslogContains("refuse image"));
}

TEST_F(BadImageTest, NullAndEmptyNames)
{
    EXPECT_EQ(manager().LoadTexture(nullptr, false), nullptr);
    EXPECT_EQ(manager().LoadTexture("", true), nullptr);
    manager().drawWebPageTexture(nullptr, 0, 0, 10, 10);
    manager().drawWebPageTexture("", 0, 0, 10, 10);
    EXPECT_TRUE(manager().mega_texture_list.empty());
}
