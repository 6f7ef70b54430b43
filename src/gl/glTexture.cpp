#include "gl/glTexture.h"

#include "boundary/Debug_Trace.h"
#include "gl/ImageFile.h"
#include "gl/PixelStore.h"

// Only the formats tall stimulus images come in: less decoder to attack.
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC // the decoder stays private to this file
#include <stb/stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

int txTexture::tex_size = 0;

namespace {

constexpr int kMaxBandRows = 4096;
// Decoded RGBA pixels are held whole while splitting: at most 1 GiB.
constexpr unsigned long long kMaxTallPixels = 1ull << 28;

struct TexSizeOnce {
    TexSizeOnce()
    {
        GLint size = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
        txTexture::tex_size = std::min(static_cast<int>(size), kMaxBandRows);
        printf(" only once create max texture as %d  \n", txTexture::tex_size);
        fflush(nullptr);
    }
};

struct StbFree {
    void operator()(unsigned char* p) const { stbi_image_free(p); }
};

// The band texture is wider than the image (next multiple of 4 above it).
int bandWidth(int w) { return (w / 4 + 1) * 4; }

// Header dimensions checked before stb allocates anything.
bool tallImageAcceptable(FILE* file, const char* name)
{
    int w = 0, h = 0, comp = 0;
    const int ok = stbi_info_from_file(file, &w, &h, &comp);
    if (!ok) {
        debug_trace("loadFromImage: cannot decode %s (%s) \n", name, stbi_failure_reason());
        return false;
    }
    GLint rectLimit = 0;
    glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE, &rectLimit);
    const unsigned long long pixels = static_cast<unsigned long long>(w) * static_cast<unsigned long long>(h);
    if (w <= 0 || h <= 0 || bandWidth(w) > rectLimit || pixels > kMaxTallPixels) {
        debug_trace("loadFromImage: refuse %s of %d x %d \n", name, w, h);
        return false;
    }
    return true;
}

} // namespace

txRect::txRect(float top, float left, float right, float bottom) : tl(left, top), rb(right, bottom), gl_texId(0) {}

txRect::~txRect()
{
    if (gl_texId != 0) {
        const GLuint id = static_cast<GLuint>(gl_texId);
        glDeleteTextures(1, &id);
    }
}

void txRect::render(float shift_x, float shift_y, float, float scale_x, float scale_y)
{
    const float w = rb.x - tl.x;
    const float h = std::fabs(tl.y - rb.y);
    const float X0 = tl.x * scale_x + shift_x;
    const float Y0 = rb.y * scale_y + shift_y;
    const float W = w * scale_x;
    const float H = h * scale_y;
    glEnable(GL_TEXTURE_RECTANGLE_ARB);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, static_cast<GLuint>(gl_texId));
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(X0, Y0);
    glTexCoord2f(0, h);
    glVertex2f(X0, Y0 + H);
    glTexCoord2f(w, h);
    glVertex2f(X0 + W, Y0 + H);
    glTexCoord2f(w, 0);
    glVertex2f(X0 + W, Y0);
    glEnd();
    glDisable(GL_TEXTURE_RECTANGLE_ARB);
}

txTexture::txTexture() : upsidedown(true) { file_name[0] = '\0'; }

txTexture::~txTexture()
{
    clear_textures();
    delete[] temp_img;
}

void txTexture::loadFromImage(char* name, int x, int y, int w, int h)
{
    static TexSizeOnce once;
    if (tex_size <= 0) {
        debug_trace("loadFromImage: no texture size from GL \n");
        return;
    }
    if (name == nullptr || strlen(name) >= sizeof file_name) {
        debug_trace("loadFromImage: file name missing or too long \n");
        return;
    }
    snprintf(file_name, sizeof file_name, "%s", name);
    FilePtr file = openRegularFile("loadFromImage", name);
    if (!file || !tallImageAcceptable(file.get(), name))
        return;
    int iw = 0, ih = 0, comp = 0;
    std::unique_ptr<unsigned char, StbFree> pixels(stbi_load_from_file(file.get(), &iw, &ih, &comp, 4));
    if (!pixels) {
        debug_trace("loadFromImage: cannot decode %s (%s) \n", name, stbi_failure_reason());
        return;
    }
    create(pixels.get(), iw, ih, iw * 4);
    img_ptr = nullptr;
    m_scale_x = std::fabs(static_cast<float>(w) / static_cast<float>(iw));
    m_scale_y = std::fabs(static_cast<float>(h) / static_cast<float>(ih));
}

void txTexture::create(void* data, int w, int h, int pitch)
{
    if (w <= 0 || h <= 0 || pitch < 1 || data == nullptr)
        return;
    img_ptr = static_cast<unsigned char*>(data);
    img_w = static_cast<unsigned int>(w);
    img_h = static_cast<unsigned int>(h);
    img_pitch = static_cast<unsigned int>(pitch);
    vertical_split();
}

void txTexture::vertical_split()
{
    int H = static_cast<int>(img_h);
    const int W = static_cast<int>(img_w);
    const int B = static_cast<int>(img_pitch / img_w);
    const int bands = H / tex_size + 1;
    unsigned char* source = img_ptr + static_cast<size_t>(B) * W * H;
    for (int i = 0; i < bands; ++i) {
        const int rows = std::min(H, tex_size);
        source -= static_cast<size_t>(B) * rows * W;
        m_tex_list.push_back(createGLTexture(source, 0, H - rows, W, rows, B));
        H -= tex_size;
    }
}

txRect* txTexture::createGLTexture(void* data, int x, int y, int w, int h, int bpp)
{
    const int S = bandWidth(w);
    const size_t stagingRow = static_cast<size_t>(S) * bpp;
    if (temp_img == nullptr)
        temp_img = new unsigned char[static_cast<size_t>(tex_size) * stagingRow]();
    const unsigned char* src = static_cast<const unsigned char*>(data);
    unsigned char* dst = temp_img;
    for (int row = 0; row < h; ++row) {
        memset(dst, 0, stagingRow);
        memcpy(dst, src, img_pitch);
        src += img_pitch;
        dst += stagingRow;
    }
    auto* rect = new txRect(static_cast<float>(y + h), static_cast<float>(x), static_cast<float>(x + w),
                            static_cast<float>(y));
    GLuint id = 0;
    glGenTextures(1, &id);
    rect->gl_texId = static_cast<int>(id);
    glCheckError_(__FILE__, 155);
    ScopedUnpackState unpack(4);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, id);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGBA, S, tex_size, 0, GL_RGBA, GL_UNSIGNED_BYTE, temp_img);
    glCheckError_(__FILE__, 165);
    return rect;
}

void txTexture::render(int x, int y, int w, int h)
{
    m_shift_x = static_cast<float>(x);
    m_shift_y = static_cast<float>(y);
    for (auto it = m_tex_list.rbegin(); it != m_tex_list.rend(); ++it)
        (*it)->render(m_shift_x, m_shift_y, static_cast<float>(img_h), m_scale_x, m_scale_y);
}

void txTexture::clear_textures()
{
    for (txRect* rect : m_tex_list)
        delete rect;
    m_tex_list.clear();
}
