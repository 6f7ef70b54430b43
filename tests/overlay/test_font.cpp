// Text labels: glyph-quad layout, drawing and its GL state, font files and sizes, UTF-8 label text.
#include "overlay/QX_FTFont.h"
#include "boundary/Debug_Trace.h"
#include "support/GlState.h"
#include "support/SyslogCapture.h"

#include <texture-font.h>

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>

using namespace qvtest;

namespace {

const char kDejaVu[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// DejaVu Sans (a kern table, Latin-1 and Cyrillic, no CJK), loaded through the primary path.
std::unique_ptr<QX_FTFont> dejaVu(int size)
{
    std::unique_ptr<QX_FTFont> font(new QX_FTFont(const_cast<char*>("NoSuchFont.ttf"), size));
    std::snprintf(font->fontfile, sizeof(font->fontfile), "%s", kDejaVu);
    EXPECT_EQ(font->init(), 1);
    return font;
}

const texture_glyph_t* glyphOf(const QX_FTFont& f, wchar_t c) { return texture_font_get_glyph(f.m_font, c); }

// Lays out text at pen (x, y) in white with alpha 0.25; returns the advanced pen x.
float layout(QX_FTFont& font, const wchar_t* text, float x = 0, float y = 0)
{
    float colour[4] = {1, 1, 1, 0.25f};
    float pen[2] = {x, y};
    font.addText(font.m_font, text, colour, pen);
    return pen[0];
}

} // namespace

class FontTest : public GlTest { };

// Layout rows, DejaVu Sans at 27 px: `text` at pen (x, y) under `upp` units per pixel (y down or up,
// model-view y scale `flip`); quad `probe` against its glyph (x0 = pen + offset_x, box scaled, height
// signed by the model-view, offset_y not applied), its atlas corners and indices, and the pen after.
// After "A" kerning moves the pen by whole unscaled pixels (-1.73 px -> -1); a character without a
// glyph is skipped without advance.
TEST_F(FontTest, LayoutCasesInOneTable)
{
    auto font = dejaVu(27);
    const float advanceA = glyphOf(*font, L'A')->advance_x;
    const auto at = [](float x, double, float) { return x; };
    const auto afterA = [](float x, double upp, float adv) { return x + adv * float(upp) - 1; };
    const struct {
        const wchar_t* text;
        float x, y;
        double upp;
        bool yDown;
        float flip;
        size_t quads, probe;
        float (*pen)(float, double, float); // null: the pen is not checked
    } rows[] = {
        {L"I", 100.6f, 50.7f, 1, true, 1, 1, 0, at},  {L"Label 12", 0, 0, 1, true, 1, 8, 1, nullptr},
        {L"H", 10, 100, 1, false, 1, 1, 0, at},       {L"H", 10, 100, 1, false, -1, 1, 0, at},
        {L"H", 10, 100, 2, true, 1, 1, 0, at},        {L"AV", 20.25f, 0, 1, true, 1, 2, 1, afterA},
        {L"AV", 20.25f, 0, 2, true, 1, 2, 1, afterA}, {L"AV", 20.25f, 0, 0.5, true, 1, 2, 1, afterA},
        {L"I\u4e2d", 0, 0, 1, true, 1, 1, 0, at},     {L"\u4e2dI", 3, 0, 1, true, 1, 1, 0, at},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        const double side = r.upp * kWidth;
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, side, r.yDown ? side : 0, r.yDown ? 0 : side, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glScalef(1, r.flip, 1);
        const float penEnd = layout(*font, r.text, r.x, r.y);
        ASSERT_EQ(font->vertArray.size(), 12 * r.quads);
        EXPECT_EQ(font->textArray.size(), 8 * r.quads);
        EXPECT_EQ(std::vector<float>(font->colorArray.end() - 4, font->colorArray.end()),
                  (std::vector<float>{1, 1, 1, 1}));
        const unsigned k = unsigned(4 * r.probe);
        EXPECT_EQ(std::vector<unsigned>(font->indexArray.begin() + 6 * r.probe,
                                        font->indexArray.begin() + 6 * r.probe + 6),
                  (std::vector<unsigned>{k, k + 1, k + 2, k, k + 2, k + 3}));
        if (r.pen == nullptr)
            continue;
        const std::wstring text(r.text);
        const texture_glyph_t* g =
            glyphOf(*font, text.back() == 0x4e2d ? text.front() : text.back()); // the probe's
        const float pen = r.pen(r.x, r.upp, advanceA), upp = float(r.upp);
        const float* v = font->vertArray.data() + 3 * k;
        const float x0 = float(int(pen + g->offset_x * upp)), y0 = float(int(r.y));
        const float x1 = float(int(x0 + g->width * upp)), y1 = float(int(y0 + g->height * upp * r.flip));
        EXPECT_EQ(std::vector<float>(v, v + 12),
                  (std::vector<float>{x0, y1, 0, x0, y0, 0, x1, y0, 0, x1, y1, 0}));
        const float* t = font->textArray.data() + 2 * k;
        EXPECT_EQ(std::vector<float>(t, t + 8),
                  (std::vector<float>{g->s0, g->t0, g->s0, g->t1, g->s1, g->t1, g->s1, g->t0}));
        EXPECT_FLOAT_EQ(penEnd, pen + g->advance_x * upp);
    }
    glViewport(0, 0, 0, 0); // a degenerate viewport lays out without overflow
    layout(*font, L"AB", 1, 1);
    EXPECT_EQ(font->vertArray.size(), 24u);
}

TEST_F(FontTest, GlyphsFillTheirBoxesInTheRequestedColour)
{
    auto font = dejaVu(40);
    // The caller's own index buffer stays bound: the text's client-array indices must not be read from it.
    GLuint callerIndices = 0;
    glGenBuffers(1, &callerIndices);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, callerIndices);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, 64, nullptr, GL_STATIC_DRAW);
    // "I" is uploaded with the first atlas, é, Ж and ß on demand afterwards; then "I" again, unharmed.
    const std::pair<const char*, wchar_t> samples[] = {
        {"I", L'I'}, {"\xc3\xa9", 0xE9}, {"\xd0\x96", 0x416}, {"\xc3\x9f", 0xDF}, {"I", L'I'}};
    for (const auto& s : samples) {
        glClear(GL_COLOR_BUFFER_BIT);
        font->drawFont(100, 120, const_cast<char*>(s.first), 0, 1.0f, 0.5f, 0.0f);
        const texture_glyph_t* g = glyphOf(*font, s.second);
        ASSERT_NE(g, nullptr);
        const int x0 = 100 + g->offset_x, x1 = x0 + static_cast<int>(g->width);
        const int y0 = 120, y1 = y0 + static_cast<int>(g->height);
        // Some coverage inside the box, none outside it (one pixel margin for filtering).
        EXPECT_GT(redPixels(gl(), x0, y0, x1, y1), int(g->width * g->height) / 6) << s.first;
        EXPECT_EQ(redPixels(gl(), 0, 0, kWidth, kHeight), redPixels(gl(), x0 - 1, y0 - 1, x1 + 1, y1 + 1));
        if (s.second != L'I')
            continue;
        // The bar of "I" covers its box's middle column fully; tolerance 3 for blending rounding.
        const Rgba orange{255, 128, 0, 255};
        expectPixels(gl(), {{(x0 + x1) / 2, (y0 + y1) / 2, orange}, {(x0 + x1) / 2, 122, orange}}, 3);
        EXPECT_GE(redPixels(gl(), x0, y0, x1, y1), (x1 - x0 - 2) * (y1 - y0))
            << "inner columns fully covered";
    }
    // Neither file exists: the reload fails, and without a texture nothing is drawn and nothing touched.
    std::snprintf(font->fontfile, sizeof(font->fontfile), "/nonexistent/a.ttf");
    std::snprintf(font->backup_fontfile, sizeof(font->backup_fontfile), "/nonexistent/b.ttf");
    const GLuint texture = font->m_fontTexture;
    font->setFontSize(20);
    EXPECT_TRUE(syslogContains(" font reload at size 20 failed"));
    EXPECT_FALSE(glIsTexture(texture));
    EXPECT_TRUE(font->m_font == nullptr && font->m_fontTexture == 0u);
    glClear(GL_COLOR_BUFFER_BIT);
    font->drawFont(50, 50, const_cast<char*>("II"), 0, 1, 0, 0);
    EXPECT_EQ(redPixels(gl(), 0, 0, kWidth, kHeight), 0);
    font->setFontSize(30); // stays unloaded
    EXPECT_TRUE(font->fontsize == 20 && font->m_font == nullptr);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(FontTest, FilesComeFromTheFontFolderElseTheMonospacedBackup)
{
    QX_FTFont font(const_cast<char*>("arial.ttf"), 20);
    EXPECT_STREQ(font.fontfile, "/usr/share/fonts/truetype/msttcorefonts/arial.ttf");
    const std::string dir(homedir);
    EXPECT_EQ(std::string(font.backup_fontfile), dir.substr(0, dir.find_last_of('/')) + "/UbuntuMono-R.ttf");
    ASSERT_EQ(font.init(), 1);
    // Ubuntu Mono, not DejaVu: every glyph advances alike; its subset covers Latin-1.
    EXPECT_FLOAT_EQ(glyphOf(font, L'i')->advance_x, glyphOf(font, L'W')->advance_x);
    EXPECT_NE(glyphOf(font, 0xE9), nullptr);
}

TEST_F(FontTest, SizeIsKeptAtCreationUpToTheAtlasBoundAndClampedToEightToFiftyOnChange)
{
    const auto heightAt = [](float size) {
        texture_atlas_t* atlas = texture_atlas_new(512, 512, 1);
        texture_font_t* ref = texture_font_new(atlas, kDejaVu, size);
        const size_t h = texture_font_get_glyph(ref, L'I')->height;
        texture_font_delete(ref);
        texture_atlas_delete(atlas);
        return h;
    };
    auto font = dejaVu(60);
    EXPECT_EQ(glyphOf(*font, L'I')->height, heightAt(60));
    for (const auto& c : {std::make_pair(60, 50), std::make_pair(3, 8)}) {
        font->setFontSize(c.first);
        EXPECT_EQ(font->fontsize, c.second);
        EXPECT_EQ(glyphOf(*font, L'I')->height, heightAt(float(c.second)));
    }
    const texture_font_t* loaded = font->m_font;
    font->setFontSize(5); // clamps to the current 8: nothing happens
    EXPECT_EQ(font->m_font, loaded);
    // 20000 px would render for a minute glyphs no atlas can hold.
    clearSyslog();
    auto huge = dejaVu(20000);
    EXPECT_EQ(huge->fontsize, QX_FTFont::kMaxCreateSize);
    EXPECT_EQ(glyphOf(*huge, L'I')->height, heightAt(QX_FTFont::kMaxCreateSize));
    EXPECT_TRUE(syslogContains(" font size 20000 clamped to 64 at creation"));
}

// Label text is UTF-8 whatever the locale; invalid sequences become U+FFFD.
TEST(Utf8Decode, EveryLengthAndEveryKindOfInvalidSequence)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    const wchar_t R = 0xFFFD;
    const std::pair<std::string, std::wstring> cases[] = {
        {"A1 ~", L"A1 ~"},
        {"", L""},
        {"\xc3\xa9\xc3\x9f\xd0\x96", {0xE9, 0xDF, 0x416}},
        {"\xe4\xb8\xad\xef\xbf\xbd", {0x4E2D, 0xFFFD}},
        {"\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf", {0x1F600, 0x10FFFF}},
        {"\x80", {R}},                      // stray continuation
        {"a\xff\x62", {L'a', R, L'b'}},     // never a lead byte
        {"\xc3", {R}},                      // truncated at the end
        {"\xe4\xb8\x41", {R, L'A'}},        // truncated in the middle
        {"\xc0\xaf", {R, R}},               // overlong '/'
        {"\xe0\x80\xaf", {R, R, R}},        // overlong, three bytes
        {"\xed\xa0\x80", {R, R, R}},        // surrogate U+D800
        {"\xf4\x90\x80\x80", {R, R, R, R}}, // beyond U+10FFFF
        {"\xf5\x80", {R, R}},
        {"\xc3\xa9z\xe4", {0xE9, L'z', R}}, // terminated within its allocation
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::wstring(charToWchar(c.first).get()), c.second) << c.first;
    std::setlocale(LC_ALL, saved.c_str());
}
