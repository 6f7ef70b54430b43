#include "overlay/QX_FTFont.h"

#include "boundary/Debug_Trace.h"
#include "gl/GlLoader.h"
#include "gl/PixelStore.h"
#include "gl/SavedBindings.h"

#include <texture-font.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

const char kFontDirectory[] = "/usr/share/fonts/truetype/msttcorefonts/";
const char kBackupFontName[] = "/UbuntuMono-R.ttf";
const size_t kAtlasSize = 512;
// Printable ASCII, space first, tilde last.
const wchar_t kPreloaded[] =
    L" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";
static_assert(sizeof(kPreloaded) / sizeof(wchar_t) == 96, "95 preloaded characters");

const wchar_t kReplacement = 0xFFFD;

// "dir" + "name" into a path buffer; an empty path (and false) when it would not fit.
bool joinPath(char* out, const char* dir, const char* name)
{
    const int n = std::snprintf(out, QX_FTFont::kPathSize, "%s%s", dir, name);
    if (n < 0 || n >= QX_FTFont::kPathSize) {
        out[0] = '\0';
        return false;
    }
    return true;
}

// The folder of the library's own file, without the trailing separator.
std::string libraryDirectory()
{
    if (homedir == nullptr)
        return std::string();
    const std::string path(homedir);
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

// Float to int toward zero; values no int can hold (a degenerate projection
// gives infinities) are pinned instead of being undefined.
int truncToInt(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (v <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

struct LayoutScale {
    float x, y;
};

// Font pixels to model units from the viewport, the projection's visible
// extent and the model-view's y scale (whose sign decides which way is up).
LayoutScale layoutScale()
{
    GLint viewport[4] = {0, 0, 0, 0};
    GLdouble projection[16] = {0};
    GLdouble modelview[16] = {0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    const double w = 2.0 / projection[0];
    const double h = -2.0 / projection[5];
    LayoutScale s;
    s.x = static_cast<float>(w / viewport[2]);
    s.y = static_cast<float>(h / viewport[3]);
    s.y = static_cast<float>(-std::fabs(s.y) * modelview[5]);
    return s;
}

// Length of a UTF-8 sequence by its lead byte and the range its second byte
// must fall in (which rules out overlong forms, surrogates and > U+10FFFF).
struct Utf8Lead {
    int length;
    unsigned char low, high;
};

Utf8Lead utf8Lead(unsigned char c)
{
    if (c >= 0xC2 && c <= 0xDF)
        return {2, 0x80, 0xBF};
    if (c == 0xE0)
        return {3, 0xA0, 0xBF};
    if (c == 0xED)
        return {3, 0x80, 0x9F};
    if (c >= 0xE1 && c <= 0xEF)
        return {3, 0x80, 0xBF};
    if (c == 0xF0)
        return {4, 0x90, 0xBF};
    if (c >= 0xF1 && c <= 0xF3)
        return {4, 0x80, 0xBF};
    if (c == 0xF4)
        return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

// Decodes one character at s (not at the terminator); advances s past what
// was consumed. An invalid sequence consumes its longest valid prefix (at
// least one byte) and yields U+FFFD.
wchar_t decodeOne(const unsigned char*& s)
{
    const unsigned char lead = *s++;
    if (lead < 0x80)
        return static_cast<wchar_t>(lead);
    const Utf8Lead info = utf8Lead(lead);
    if (info.length == 0)
        return kReplacement;
    unsigned long code = lead & (0xFF >> (info.length + 1));
    for (int k = 1; k < info.length; ++k) {
        const unsigned char c = *s;
        const unsigned char low = k == 1 ? info.low : 0x80;
        const unsigned char high = k == 1 ? info.high : 0xBF;
        if (c < low || c > high)
            return kReplacement;
        code = (code << 6) | (c & 0x3F);
        ++s;
    }
    return static_cast<wchar_t>(code);
}

} // namespace

int exist(char* name)
{
    struct stat info;
    return name != nullptr && stat(name, &info) == 0 ? 1 : 0;
}

std::unique_ptr<wchar_t[]> charToWchar(const std::string& text)
{
    // Never more characters than bytes.
    std::unique_ptr<wchar_t[]> out(new wchar_t[text.size() + 1]);
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.c_str());
    const unsigned char* end = s + text.size();
    size_t n = 0;
    while (s < end)
        out[n++] = decodeOne(s);
    out[n] = L'\0';
    return out;
}

QX_FTFont::QX_FTFont(char* name, int size) : fontsize(size > kMaxCreateSize ? kMaxCreateSize : size)
{
    if (size > kMaxCreateSize)
        debug_trace(" font size %d clamped to %d at creation \n", size, kMaxCreateSize);
    vertShader[0] = '\0';
    fragShader[0] = '\0';
    if (!joinPath(fontfile, kFontDirectory, name != nullptr ? name : ""))
        debug_trace(" font path too long for %.64s \n", name != nullptr ? name : "");
    if (!joinPath(backup_fontfile, libraryDirectory().c_str(), kBackupFontName))
        debug_trace(" backup font path too long \n");
    if (homedir == nullptr)
        backup_fontfile[0] = '\0';

    qv::loadGlEntryPointsOrLog();
    std::printf(" backup font file is %s %s ", backup_fontfile, backup_fontfile);
    std::fflush(NULL);
}

QX_FTFont::~QX_FTFont() { release(); }

void QX_FTFont::release()
{
    if (m_fontTexture != 0)
        glDeleteTextures(1, &m_fontTexture);
    m_fontTexture = 0;
    texture_font_delete(m_font);
    m_font = nullptr;
    texture_atlas_delete(m_atlas);
    m_atlas = nullptr;
}

bool QX_FTFont::acceptsName(const char* name)
{
    return name != nullptr && name[0] != '\0' && std::strlen(kFontDirectory) + std::strlen(name) < kPathSize;
}

int QX_FTFont::init()
{
    char* path = exist(fontfile) ? fontfile : (exist(backup_fontfile) ? backup_fontfile : nullptr);
    if (path == nullptr)
        return -1;
    texture_atlas_t* atlas = texture_atlas_new(kAtlasSize, kAtlasSize, 1);
    if (atlas == nullptr) {
        debug_trace(" font atlas could not be created \n");
        return -1;
    }
    std::printf(" load file %s \n", path);
    std::fflush(NULL);
    texture_font_t* font = texture_font_new(atlas, path, static_cast<float>(fontsize));
    if (font == nullptr) {
        debug_trace(" font file %s could not be opened at size %d \n", path, fontsize);
        texture_atlas_delete(atlas);
        return -1;
    }
    texture_font_load_glyphs(font, kPreloaded);

    GLuint texture = 0;
    const qv::SavedTexture caller(GL_TEXTURE_2D);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    {
        ScopedUnpackState unpack(1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, kAtlasSize, kAtlasSize, 0, GL_ALPHA, GL_UNSIGNED_BYTE,
                     atlas->data);
    }
    // Everything written so far is in the texture now.
    texture_atlas_take_dirty(atlas, nullptr, nullptr, nullptr, nullptr);

    m_atlas = atlas;
    m_font = font;
    m_fontTexture = texture;
    return 1;
}

void QX_FTFont::setFontSize(int size)
{
    const int clamped = size < kMinSize ? kMinSize : (size > kMaxSize ? kMaxSize : size);
    if (m_font == nullptr || clamped == fontsize)
        return;
    release();
    fontsize = clamped;
    if (init() != 1)
        debug_trace(" font reload at size %d failed \n", clamped);
}

void QX_FTFont::setShader(char* file, char* type)
{
    if (file == nullptr || type == nullptr)
        return;
    char* target =
        std::strcmp(type, "vert") == 0 ? vertShader : (std::strcmp(type, "frag") == 0 ? fragShader : nullptr);
    if (target == nullptr)
        return;
    std::snprintf(target, kPathSize, "%s", file);
}

void QX_FTFont::addText(void* font, const wchar_t* text, void* color, void* pen)
{
    vertArray.clear();
    indexArray.clear();
    textArray.clear();
    colorArray.clear();
    auto* f = static_cast<texture_font_t*>(font);
    const float* c = static_cast<const float*>(color);
    float* p = static_cast<float*>(pen);
    if (f == nullptr || text == nullptr || c == nullptr || p == nullptr)
        return;

    const LayoutScale scale = layoutScale();
    for (size_t i = 0; text[i] != L'\0'; ++i) {
        const texture_glyph_t* glyph = texture_font_get_glyph(f, text[i]);
        if (glyph == nullptr)
            continue;
        if (i > 0)
            p[0] += static_cast<float>(truncToInt(texture_glyph_get_kerning(glyph, text[i - 1])));
        const int x0 = truncToInt(p[0] + glyph->offset_x * scale.x);
        const int y0 = truncToInt(p[1]);
        const int x1 = truncToInt(x0 + static_cast<float>(glyph->width) * scale.x);
        const int y1 = truncToInt(y0 - static_cast<float>(glyph->height) * scale.y);

        const unsigned int base = static_cast<unsigned int>(vertArray.size() / 3);
        const float corners[4][2] = {
            {float(x0), float(y1)}, {float(x0), float(y0)}, {float(x1), float(y0)}, {float(x1), float(y1)}};
        const float coords[4][2] = {
            {glyph->s0, glyph->t0}, {glyph->s0, glyph->t1}, {glyph->s1, glyph->t1}, {glyph->s1, glyph->t0}};
        for (int k = 0; k < 4; ++k) {
            vertArray.insert(vertArray.end(), {corners[k][0], corners[k][1], 0.0f});
            textArray.insert(textArray.end(), {coords[k][0], coords[k][1]});
            colorArray.insert(colorArray.end(), {c[0], c[1], c[2], 1.0f});
        }
        indexArray.insert(indexArray.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
        p[0] += glyph->advance_x * scale.x;
    }
}

void QX_FTFont::uploadNewGlyphs()
{
    size_t x = 0, y = 0, w = 0, h = 0;
    if (m_atlas == nullptr || !texture_atlas_take_dirty(m_atlas, &x, &y, &w, &h))
        return;
    ScopedUnpackState unpack(1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(m_atlas->width));
    glTexSubImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(x), static_cast<GLint>(y), static_cast<GLsizei>(w),
                    static_cast<GLsizei>(h), GL_ALPHA, GL_UNSIGNED_BYTE,
                    m_atlas->data + y * m_atlas->width + x);
}

namespace {

// Client-array pointers would be offsets into a bound vertex or index
// buffer: none is bound for the draw, and the caller's come back after.
class ScopedClientArrays {
public:
    ScopedClientArrays()
    {
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    }

private:
    qv::SavedBuffers saved_{GL_ARRAY_BUFFER, GL_ELEMENT_ARRAY_BUFFER};
};

} // namespace

void QX_FTFont::drawFont(int x, int y, char* text, int size, float r, float g, float b)
{
    if (text == nullptr || text[0] == '\0')
        return;
    float pen[2] = {static_cast<float>(x), static_cast<float>(y)};
    if (m_fontTexture == 0)
        return;
    float colour[4] = {r, g, b, 1.0f};
    {
        const std::unique_ptr<wchar_t[]> wide = charToWchar(text);
        addText(m_font, wide.get(), colour, pen);
    }

    glDisable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_TEXTURE_RECTANGLE);
    glBindTexture(GL_TEXTURE_2D, m_fontTexture);
    uploadNewGlyphs();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_TEXTURE_BIT);
    {
        ScopedClientArrays arrays;
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glVertexPointer(3, GL_FLOAT, 0, vertArray.data());
        glTexCoordPointer(2, GL_FLOAT, 0, textArray.data());
        glColorPointer(4, GL_FLOAT, 0, colorArray.data());
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indexArray.size()), GL_UNSIGNED_INT,
                       indexArray.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        glDisableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glDisableClientState(GL_COLOR_ARRAY);
    }
    glPopAttrib();
    glDisable(GL_BLEND);
}
