// Text labels: layout of glyph quads, drawing and its GL state, font files
// and sizes, glyphs beyond ASCII, and the UTF-8 decoding of label text.
#include "overlay/QX_FTFont.h"
#include "boundary/Debug_Trace.h"
#include "support/GlContext.h"
#include "support/SyslogCapture.h"

#include <texture-font.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

using qvtest::Rgba;

namespace {

const char kDejaVu[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const Rgba kBlack{0, 0, 0, 255};

// A font on DejaVu Sans (it has a kern table, Latin-1 and Cyrillic, no CJK):
// the primary path is pointed at it before loading.
std::unique_ptr<QX_FTFont> dejaVu(int size)
{
    std::unique_ptr<QX_FTFont> font(new QX_FTFont(const_cast<char*>("NoSuchFont.ttf"), size));
    std::snprintf(font->fontfile, sizeof(font->fontfile), "%s", kDejaVu);
    EXPECT_EQ(font->init(), 1);
    return font;
}

// The glyph record the font's own library gives for c.
const texture_glyph_t* glyphOf(const QX_FTFont& font, wchar_t c)
{
    return texture_font_get_glyph(font.m_font, c);
}

struct Layout {
    float penX;
};

// Lays out text at pen (x, y) in opaque white; returns the advanced pen x.
Layout layout(QX_FTFont& font, const wchar_t* text, float x = 0, float y = 0)
{
    float colour[4] = {1, 1, 1, 0.25f};
    float pen[2] = {x, y};
    font.addText(font.m_font, text, colour, pen);
    return Layout{pen[0]};
}

// Pixels in [x0, x1) x [y0, y1) whose red channel exceeds 128.
int redPixels(qvtest::GlContext& gl, int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += gl.pixel(x, y).r > 128 ? 1 : 0;
    return n;
}

GLint attribStackDepth()
{
    GLint depth = 0;
    glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &depth);
    return depth;
}

std::wstring decode(const std::string& bytes)
{
    const std::unique_ptr<wchar_t[]> wide = charToWchar(bytes);
    return std::wstring(wide.get());
}

} // namespace

// ---------------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------------

class FontLayoutTest : public qvtest::GlTest {};

TEST_F(FontLayoutTest, EachGlyphGivesFourVerticesAndTwoTriangles)
{
    auto font = dejaVu(20);
    layout(*font, L"Label 12");
    const size_t n = 8;
    EXPECT_EQ(font->vertArray.size(), 3 * 4 * n);
    EXPECT_EQ(font->indexArray.size(), 6 * n);
    EXPECT_EQ(font->textArray.size(), 2 * 4 * n);
    EXPECT_EQ(font->colorArray.size(), 4 * 4 * n);
    const unsigned int second[] = {4, 5, 6, 4, 6, 7};
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(font->indexArray[6 + k], second[k]) << "index " << k << " of the second glyph";
    // Colour is the caller's rgb with full opacity, whatever alpha was passed.
    EXPECT_FLOAT_EQ(font->colorArray[3], 1.0f);
    EXPECT_FLOAT_EQ(font->colorArray[4 * 4 * n - 1], 1.0f);

    // Every layout starts from empty arrays.
    layout(*font, L"ab");
    EXPECT_EQ(font->vertArray.size(), 3u * 8u);
    EXPECT_EQ(font->indexArray.size(), 12u);
}

TEST_F(FontLayoutTest, QuadTakesTheGlyphBoxAndAtlasCorners)
{
    auto font = dejaVu(40);
    const texture_glyph_t* g = glyphOf(*font, L'I');
    ASSERT_NE(g, nullptr);
    gl().canvasProjection();
    const Layout after = layout(*font, L"I", 100.6f, 50.7f);
    const int x0 = static_cast<int>(100.6f + g->offset_x);
    const int x1 = x0 + static_cast<int>(g->width);
    const int y0 = 50;
    const int y1 = y0 + static_cast<int>(g->height); // scaley -1: the box grows towards +y
    const float expected[12] = {float(x0), float(y1), 0, float(x0), float(y0), 0,
                                float(x1), float(y0), 0, float(x1), float(y1), 0};
    for (int k = 0; k < 12; ++k)
        EXPECT_FLOAT_EQ(font->vertArray[k], expected[k]) << "position float " << k;
    const float coords[8] = {g->s0, g->t0, g->s0, g->t1, g->s1, g->t1, g->s1, g->t0};
    for (int k = 0; k < 8; ++k)
        EXPECT_FLOAT_EQ(font->textArray[k], coords[k]) << "texture float " << k;
    EXPECT_FLOAT_EQ(after.penX, 100.6f + g->advance_x);
}

TEST_F(FontLayoutTest, PixelProjectionScalesByOneEitherWayUpAndModelViewFlipSetsTheSign)
{
    auto font = dejaVu(30);
    const texture_glyph_t* g = glyphOf(*font, L'I');
    ASSERT_NE(g, nullptr);
    const float h = static_cast<float>(g->height);

    gl().canvasProjection(); // y down
    layout(*font, L"I", 10, 100);
    EXPECT_FLOAT_EQ(font->vertArray[1], 100 + h);
    EXPECT_FLOAT_EQ(font->vertArray[6] - font->vertArray[3], static_cast<float>(g->width));

    glMatrixMode(GL_PROJECTION); // y up
    glLoadIdentity();
    glOrtho(0, kWidth, 0, kHeight, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    layout(*font, L"I", 10, 100);
    EXPECT_FLOAT_EQ(font->vertArray[1], 100 + h);

    glScalef(1, -1, 1);
    layout(*font, L"I", 10, 100);
    EXPECT_FLOAT_EQ(font->vertArray[1], 100 - h);
    EXPECT_FLOAT_EQ(font->vertArray[4], 100); // offset_y is not applied
}

TEST_F(FontLayoutTest, ProjectionOfTwoUnitsPerPixelDoublesBoxAndAdvance)
{
    auto font = dejaVu(30);
    const texture_glyph_t* g = glyphOf(*font, L'H');
    ASSERT_NE(g, nullptr);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 2 * kWidth, 2 * kHeight, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const Layout after = layout(*font, L"H");
    EXPECT_FLOAT_EQ(font->vertArray[6] - font->vertArray[0], static_cast<float>(static_cast<int>(g->width * 2.0f)));
    EXPECT_FLOAT_EQ(font->vertArray[1] - font->vertArray[4], 2.0f * g->height);
    EXPECT_FLOAT_EQ(after.penX, g->advance_x * 2.0f);
}

// DejaVu Sans at 27 px kerns "AV" by -1.73 px: the pen moves back one whole
// pixel, not two, when the projection shows two units per pixel.
TEST_F(FontLayoutTest, KerningMovesThePenByWholeUnscaledPixels)
{
    auto font = dejaVu(27);
    const texture_glyph_t* a = glyphOf(*font, L'A');
    const texture_glyph_t* v = glyphOf(*font, L'V');
    ASSERT_TRUE(a != nullptr && v != nullptr);
    const float k = texture_glyph_get_kerning(v, L'A');
    ASSERT_LT(k, -1.5f);
    ASSERT_GT(k, -2.0f);

    for (double unitsPerPixel : {1.0, 2.0, 0.5}) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, unitsPerPixel * kWidth, unitsPerPixel * kHeight, 0, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        const float start = 20.25f;
        layout(*font, L"AV", start, 0);
        ASSERT_EQ(font->vertArray.size(), 24u);
        const float kernedX0 = font->vertArray[12];
        // The same V laid out alone with the pen where A left it, without kerning.
        layout(*font, L"V", start + a->advance_x * static_cast<float>(unitsPerPixel), 0);
        EXPECT_FLOAT_EQ(kernedX0 - font->vertArray[0], -1.0f) << "at " << unitsPerPixel << " units per pixel";
    }
}

TEST_F(FontLayoutTest, MissingGlyphIsSkippedWithoutAdvance)
{
    auto font = dejaVu(20);
    const float alone = layout(*font, L"I").penX;
    const Layout withCjk = layout(*font, L"I\u4e2d");
    EXPECT_FLOAT_EQ(withCjk.penX, alone);
    EXPECT_EQ(font->vertArray.size(), 12u);
    layout(*font, L"\u4e2dI");
    EXPECT_EQ(font->indexArray.size(), 6u);
    EXPECT_EQ(font->indexArray[0], 0u); // the first quad drawn starts at vertex 0
    EXPECT_FLOAT_EQ(font->vertArray[0], static_cast<float>(glyphOf(*font, L'I')->offset_x));
}

TEST_F(FontLayoutTest, DegenerateViewportLaysOutWithoutOverflow)
{
    auto font = dejaVu(20);
    glViewport(0, 0, 0, 0);
    layout(*font, L"AB", 1, 1);
    EXPECT_EQ(font->vertArray.size(), 24u);
    glViewport(0, 0, kWidth, kHeight);
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

class FontDrawTest : public qvtest::GlTest {
protected:
    void SetUp() override
    {
        qvtest::GlTest::SetUp();
        gl().canvasProjection();
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
};

TEST_F(FontDrawTest, EmptyTextLeavesGlStateUntouched)
{
    auto font = dejaVu(30);
    GLuint other = 0;
    glGenTextures(1, &other);
    glBindTexture(GL_TEXTURE_2D, other);
    glEnable(GL_DEPTH_TEST);
    glBlendFunc(GL_ONE, GL_ZERO);
    const GLint depthBefore = attribStackDepth();

    font->drawFont(10, 10, const_cast<char*>(""), 0, 1, 0, 0);
    font->drawFont(10, 10, nullptr, 0, 1, 0, 0);

    GLint bound = 0, src = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetIntegerv(GL_BLEND_SRC_RGB, &src);
    EXPECT_EQ(static_cast<GLuint>(bound), other);
    EXPECT_EQ(src, GL_ONE);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(attribStackDepth(), depthBefore);
    EXPECT_EQ(redPixels(gl(), 0, 0, 64, 64), 0);
    glDeleteTextures(1, &other);
}

TEST_F(FontDrawTest, GlyphCoverageFillsItsBoxInTheRequestedColour)
{
    auto font = dejaVu(40);
    const texture_glyph_t* g = glyphOf(*font, L'I');
    ASSERT_NE(g, nullptr);
    glEnable(GL_DEPTH_TEST);
    const GLint depthBefore = attribStackDepth();

    font->drawFont(100, 120, const_cast<char*>("I"), 0, 1.0f, 0.5f, 0.0f);

    const int x0 = 100 + g->offset_x, x1 = x0 + static_cast<int>(g->width);
    const int y0 = 120, y1 = y0 + static_cast<int>(g->height);
    // The bar of "I" covers its box's middle column fully; tolerance 3 for blending rounding.
    EXPECT_PIXEL(gl(), (x0 + x1) / 2, (y0 + y1) / 2, (Rgba{255, 128, 0, 255}), 3);
    EXPECT_PIXEL(gl(), (x0 + x1) / 2, y0 + 2, (Rgba{255, 128, 0, 255}), 3);
    const int covered = redPixels(gl(), x0, y0, x1, y1);
    EXPECT_GE(covered, (x1 - x0 - 2) * (y1 - y0)) << "inner columns fully covered";
    // Nothing outside the box (one pixel margin for filtering).
    EXPECT_EQ(redPixels(gl(), 0, 0, kWidth, y0 - 1), 0);
    EXPECT_EQ(redPixels(gl(), 0, y1 + 1, kWidth, kHeight), 0);
    EXPECT_EQ(redPixels(gl(), 0, 0, x0 - 1, kHeight), 0);
    EXPECT_EQ(redPixels(gl(), x1 + 1, 0, kWidth, kHeight), 0);

    EXPECT_EQ(attribStackDepth(), depthBefore);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(FontDrawTest, DrawsWithCallersVertexBufferBound)
{
    auto font = dejaVu(40);
    GLuint vbo = 0;
    glGenBuffers(1, &vbo);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, 64, nullptr, GL_STATIC_DRAW);
    font->drawFont(50, 50, const_cast<char*>("II"), 0, 1, 0, 0);
    GLint bound = 0;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), vbo);
    EXPECT_GT(redPixels(gl(), 40, 40, 120, 110), 100);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glDeleteBuffers(1, &vbo);
}

TEST_F(FontDrawTest, CharactersBeyondAsciiAreRasterisedAndUploadedOnDemand)
{
    auto font = dejaVu(40);
    font->drawFont(10, 10, const_cast<char*>("I"), 0, 1, 0, 0); // first upload done
    GLint alignment = 0;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 3);

    const char* samples[] = {"\xc3\xa9", "\xd0\x96", "\xc3\x9f"}; // é, Ж, ß
    const wchar_t codes[] = {0xE9, 0x416, 0xDF};
    for (int i = 0; i < 3; ++i) {
        glClear(GL_COLOR_BUFFER_BIT);
        font->drawFont(100, 100, const_cast<char*>(samples[i]), 0, 1, 0, 0);
        const texture_glyph_t* g = glyphOf(*font, codes[i]);
        ASSERT_NE(g, nullptr);
        const int x0 = 100 + g->offset_x, x1 = x0 + static_cast<int>(g->width);
        const int covered = redPixels(gl(), x0, 100, x1, 100 + static_cast<int>(g->height));
        EXPECT_GT(covered, static_cast<int>(g->width * g->height) / 6) << "character " << i;
        EXPECT_EQ(redPixels(gl(), 0, 0, kWidth, 90), 0);
    }
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &alignment);
    EXPECT_EQ(alignment, 3);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(FontDrawTest, FontWithoutTextureDrawsNothing)
{
    auto font = dejaVu(30);
    std::snprintf(font->fontfile, sizeof(font->fontfile), "/nonexistent/a.ttf");
    std::snprintf(font->backup_fontfile, sizeof(font->backup_fontfile), "/nonexistent/b.ttf");
    font->setFontSize(20); // the reload fails: no font, no texture
    EXPECT_EQ(font->m_font, nullptr);
    EXPECT_EQ(font->m_fontTexture, 0u);
    glEnable(GL_DEPTH_TEST);
    font->drawFont(50, 50, const_cast<char*>("II"), 0, 1, 0, 0);
    EXPECT_EQ(redPixels(gl(), 0, 0, kWidth, kHeight), 0);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    font->setFontSize(30); // stays unloaded
    EXPECT_EQ(font->fontsize, 20);
    EXPECT_EQ(font->m_font, nullptr);
}

// ---------------------------------------------------------------------------
// Files, sizes and the object's lifetime
// ---------------------------------------------------------------------------

class FontFileTest : public qvtest::GlTest {};

TEST_F(FontFileTest, PathsComeFromTheFontFolderAndTheLibrarysFolder)
{
    QX_FTFont font(const_cast<char*>("arial.ttf"), 20);
    EXPECT_STREQ(font.fontfile, "/usr/share/fonts/truetype/msttcorefonts/arial.ttf");
    ASSERT_NE(homedir, nullptr);
    std::string dir(homedir);
    dir = dir.substr(0, dir.find_last_of('/'));
    EXPECT_EQ(std::string(font.backup_fontfile), dir + "/UbuntuMono-R.ttf");
    EXPECT_EQ(font.fontsize, 20);
    EXPECT_EQ(font.m_font, nullptr);
    EXPECT_EQ(font.m_fontTexture, 0u);
}

TEST_F(FontFileTest, MissingPrimaryLoadsTheMonospacedBackup)
{
    QX_FTFont font(const_cast<char*>("NoSuchFont.ttf"), 20);
    ASSERT_EQ(font.init(), 1);
    ASSERT_NE(font.m_font, nullptr);
    EXPECT_NE(font.m_fontTexture, 0u);
    EXPECT_TRUE(glIsTexture(font.m_fontTexture));
    // Ubuntu Mono, not DejaVu: every glyph advances alike.
    EXPECT_FLOAT_EQ(glyphOf(font, L'i')->advance_x, glyphOf(font, L'W')->advance_x);
    // Its latin subset covers Latin-1.
    EXPECT_NE(glyphOf(font, 0xE9), nullptr);
}

TEST_F(FontFileTest, MissingBothFilesFailsAndChangesNothing)
{
    QX_FTFont font(const_cast<char*>("NoSuchFont.ttf"), 20);
    std::snprintf(font.backup_fontfile, sizeof(font.backup_fontfile), "/nonexistent/UbuntuMono-R.ttf");
    EXPECT_EQ(font.init(), -1);
    EXPECT_EQ(font.m_font, nullptr);
    EXPECT_EQ(font.m_fontTexture, 0u);
    EXPECT_EQ(font.m_atlas, nullptr);
}

TEST_F(FontFileTest, FileFreeTypeCannotOpenFailsWithALogLine)
{
    char path[] = "/tmp/qv_font_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "not a font", 10), 10);
    close(fd);
    qvtest::clearSyslog();
    QX_FTFont font(const_cast<char*>("x.ttf"), 20);
    std::snprintf(font.fontfile, sizeof(font.fontfile), "%s", path);
    EXPECT_EQ(font.init(), -1);
    EXPECT_EQ(font.m_font, nullptr);
    EXPECT_EQ(font.m_fontTexture, 0u);
    EXPECT_TRUE(qvtest::syslogContains("could not be opened"));
    unlink(path);
}

TEST_F(FontFileTest, NamesThatCannotBecomePathsAreRefused)
{
    EXPECT_FALSE(QX_FTFont::acceptsName(nullptr));
    EXPECT_FALSE(QX_FTFont::acceptsName(""));
    const std::string longest(511 - std::strlen("/usr/share/fonts/truetype/msttcorefonts/"), 'a');
    EXPECT_TRUE(QX_FTFont::acceptsName(longest.c_str()));
    EXPECT_FALSE(QX_FTFont::acceptsName((longest + "a").c_str()));
    EXPECT_TRUE(QX_FTFont::acceptsName("arial.ttf"));

    // The constructor never overruns: a too-long name leaves an empty path.
    std::string huge(600, 'b');
    QX_FTFont font(&huge[0], 20);
    EXPECT_STREQ(font.fontfile, "");
}

TEST_F(FontFileTest, SizeIsKeptAtCreationAndClampedOnChange)
{
    auto font = dejaVu(60);
    EXPECT_EQ(font->fontsize, 60);
    auto heightAt = [](float size) {
        texture_atlas_t* atlas = texture_atlas_new(512, 512, 1);
        texture_font_t* ref = texture_font_new(atlas, kDejaVu, size);
        const size_t h = texture_font_get_glyph(ref, L'I')->height;
        texture_font_delete(ref);
        texture_atlas_delete(atlas);
        return h;
    };
    EXPECT_EQ(glyphOf(*font, L'I')->height, heightAt(60));

    font->setFontSize(60);
    EXPECT_EQ(font->fontsize, 50);
    EXPECT_EQ(glyphOf(*font, L'I')->height, heightAt(50));
    EXPECT_NE(font->m_fontTexture, 0u);

    font->setFontSize(3);
    EXPECT_EQ(font->fontsize, 8);
    EXPECT_EQ(glyphOf(*font, L'I')->height, heightAt(8));

    const texture_font_t* loaded = font->m_font;
    const GLuint texture = font->m_fontTexture;
    font->setFontSize(5); // clamps to the current 8: nothing happens
    EXPECT_EQ(font->m_font, loaded);
    EXPECT_EQ(font->m_fontTexture, texture);
}

TEST_F(FontFileTest, ShaderPathsAreRecordedByType)
{
    QX_FTFont font(const_cast<char*>("NoSuchFont.ttf"), 20);
    font.setShader(const_cast<char*>("text.vs"), const_cast<char*>("vert"));
    font.setShader(const_cast<char*>("text.fs"), const_cast<char*>("frag"));
    font.setShader(const_cast<char*>("text.gs"), const_cast<char*>("geom"));
    EXPECT_STREQ(font.vertShader, "text.vs");
    EXPECT_STREQ(font.fragShader, "text.fs");
    std::string huge(600, 'c');
    font.setShader(&huge[0], const_cast<char*>("vert"));
    EXPECT_EQ(std::strlen(font.vertShader), 511u);
}

TEST_F(FontFileTest, DeletingReleasesTheTexture)
{
    auto font = dejaVu(20);
    const GLuint texture = font->m_fontTexture;
    ASSERT_TRUE(glIsTexture(texture));
    font.reset();
    EXPECT_FALSE(glIsTexture(texture));
}

// ---------------------------------------------------------------------------
// UTF-8 decoding, independent of the locale
// ---------------------------------------------------------------------------

class Utf8DecodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = std::setlocale(LC_ALL, nullptr);
        std::setlocale(LC_ALL, "C");
    }
    void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }

private:
    std::string saved_;
};

TEST_F(Utf8DecodeTest, ValidSequencesOfEveryLengthDecodeUnderTheCLocale)
{
    EXPECT_EQ(decode("A1 ~"), L"A1 ~");
    EXPECT_EQ(decode("\xc3\xa9\xc3\x9f\xc3\xb6"), std::wstring({0xE9, 0xDF, 0xF6}));
    EXPECT_EQ(decode("\xd0\x96"), std::wstring(1, 0x416));
    EXPECT_EQ(decode("\xe4\xb8\xad"), std::wstring(1, 0x4E2D));
    EXPECT_EQ(decode("\xf0\x9f\x98\x80"), std::wstring(1, 0x1F600));
    EXPECT_EQ(decode("\xf4\x8f\xbf\xbf"), std::wstring(1, 0x10FFFF));
    EXPECT_EQ(decode("\xef\xbf\xbd"), std::wstring(1, 0xFFFD));
    EXPECT_EQ(decode(""), L"");
}

TEST_F(Utf8DecodeTest, InvalidSequencesBecomeReplacementCharacters)
{
    const wchar_t R = 0xFFFD;
    EXPECT_EQ(decode("\x80"), std::wstring(1, R));                          // stray continuation
    EXPECT_EQ(decode("a\xff" "b"), std::wstring({L'a', R, L'b'}));          // never a lead byte
    EXPECT_EQ(decode("\xc3"), std::wstring(1, R));                          // truncated at the end
    EXPECT_EQ(decode("\xe4\xb8" "A"), std::wstring({R, L'A'}));             // truncated in the middle
    EXPECT_EQ(decode("\xc0\xaf"), std::wstring({R, R}));                    // overlong '/'
    EXPECT_EQ(decode("\xe0\x80\xaf"), std::wstring({R, R, R}));             // overlong, three bytes
    EXPECT_EQ(decode("\xed\xa0\x80"), std::wstring({R, R, R}));             // surrogate U+D800
    EXPECT_EQ(decode("\xf4\x90\x80\x80"), std::wstring({R, R, R, R}));      // beyond U+10FFFF
    EXPECT_EQ(decode("\xf5\x80"), std::wstring({R, R}));
}

TEST_F(Utf8DecodeTest, ResultIsTerminatedWithinItsAllocation)
{
    const std::string bytes = "\xc3\xa9z\xe4";
    const std::unique_ptr<wchar_t[]> wide = charToWchar(bytes);
    EXPECT_EQ(wide[0], 0xE9);
    EXPECT_EQ(wide[1], L'z');
    EXPECT_EQ(wide[2], 0xFFFD);
    EXPECT_EQ(wide[3], L'\0');
}
