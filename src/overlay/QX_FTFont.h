// Text labels drawn from a texture-atlas font: the glyphs of one TrueType file
// at one pixel size live in a single-channel atlas mirrored in one GL texture,
// and each string becomes textured quads drawn from client arrays.
#pragma once

#include <GL/glew.h>

#include <memory>
#include <string>
#include <vector>

struct texture_atlas_t;
struct texture_font_t;

// 1 when stat() reports the path (a directory counts), else 0.
int exist(char* name);

// UTF-8 to a newly allocated, always terminated wide string, whatever the
// process locale. Each invalid sequence (bad lead byte, truncated sequence,
// overlong form, surrogate, beyond U+10FFFF) becomes one U+FFFD.
std::unique_ptr<wchar_t[]> charToWchar(const std::string& text);

class QX_FTFont {
public:
    static constexpr int kPathSize = 512;
    static constexpr int kMinSize = 8;
    static constexpr int kMaxSize = 50;
    // Largest size accepted at creation: up to it every printable ASCII glyph
    // of the fonts we measured (22 DejaVu faces, Ubuntu Mono) fits the 512 x 512
    // atlas; beyond it glyphs start to drop out, and at thousands of pixels
    // FreeType spends seconds to minutes rendering glyphs no atlas can hold.
    static constexpr int kMaxCreateSize = 64;

    // Builds both paths and keeps the size as given up to kMaxCreateSize
    // (larger sizes are clamped to it, logged); the font is loaded by init().
    QX_FTFont(char* name, int size);
    ~QX_FTFont();
    QX_FTFont(const QX_FTFont&) = delete;
    QX_FTFont& operator=(const QX_FTFont&) = delete;

    // Whether a caller's font name can become a primary path (non-empty, fits).
    static bool acceptsName(const char* name);

    // Loads the primary font, else the backup, with its atlas texture: 1, or -1.
    int init();
    // Clamps to 8..50 and reloads a loaded font when the clamped size differs.
    void setFontSize(int size);
    // Records a shader path for the type "vert" or "frag"; text draws without one.
    void setShader(char* file, char* type);
    // Lays out the UTF-8 text with its pen at (x, y) and draws it in (r, g, b).
    void drawFont(int x, int y, char* text, int size, float r, float g, float b);
    // Lays out a wide string into the four arrays; color -> 4 floats, pen -> 2 floats (advanced).
    void addText(void* font, const wchar_t* text, void* color, void* pen);

    char fontfile[kPathSize];
    char backup_fontfile[kPathSize];
    int fontsize;
    char vertShader[kPathSize];
    char fragShader[kPathSize];
    std::vector<float> vertArray;
    std::vector<unsigned int> indexArray;
    std::vector<float> textArray;
    std::vector<float> colorArray;
    texture_font_t* m_font = nullptr;
    GLuint m_fontTexture = 0;
    // Kept for the font's lifetime so glyphs beyond the preloaded ones can be added.
    texture_atlas_t* m_atlas = nullptr;

private:
    void release();
    void uploadNewGlyphs();
};
