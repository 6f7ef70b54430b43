#include "gl/glTexture.h"

#include "boundary/Debug_Trace.h"
#include "gl/ImageFile.h"
#include "gl/ImageRows.h"
#include "gl/PixelStore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

int txTexture::tex_size = 0;

namespace {

constexpr int kMaxBandRows = 4096;
// Rows stream through one band, so memory does not bound the image; the
// decode time does: 2^28 pixels (1280 x 209715) is about a minute of decoding.
constexpr uint64_t kMaxTallPixels = 1ull << 28;

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

// The band texture is wider than the image (next multiple of 4 above it);
// 64 bits, as a hostile header may claim a width near 2^31.
uint64_t bandWidth(uint64_t w) { return (w / 4 + 1) * 4; }

bool bandFitsGl(uint32_t w)
{
    GLint rectLimit = 0;
    glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE, &rectLimit);
    return rectLimit > 0 && bandWidth(w) <= static_cast<uint64_t>(rectLimit);
}

} // namespace

// Takes decoded rows, top row first, straight into the staging buffer and
// uploads each band as soon as its last row is in. Bands come from the top
// down here, but are listed bottom first as the splitting of a whole image
// lists them, with the same rows in each.
class txTexture::BandSink : public qv::RgbaRowSink {
public:
    BandSink(txTexture& tex, uint32_t w, uint32_t h) : tex_(tex), w_(w), h_(h)
    {
        nextBand_ = h / static_cast<uint32_t>(tex_size); // bands: this many + 1
        startBand();
    }
    unsigned char* row(uint32_t y) override
    {
        return tex_.temp_img + static_cast<size_t>(y - bandTop_) * stagingRow();
    }
    bool rowDone(uint32_t y) override
    {
        if (y + 1 == bandTop_ + bandRows_)
            finishBand();
        return true;
    }
    // Bands in the order the split of a whole image makes them: bottom first.
    void listBands() { std::reverse(made_.begin(), made_.end()); }
    std::vector<txRect*> made_;

private:
    size_t stagingRow() const { return static_cast<size_t>(bandWidth(w_)) * 4; }
    void startBand()
    {
        // Band i (from the bottom) holds rows [h - i*ts - rows, h - i*ts).
        const uint32_t ts = static_cast<uint32_t>(tex_size);
        const uint32_t below = nextBand_ * ts;
        bandRows_ = std::min(ts, h_ - below);
        bandTop_ = h_ - below - bandRows_;
        if (bandRows_ == 0) // an exact multiple of the band height ends with an empty band
            finishBand();
    }
    void finishBand()
    {
        made_.push_back(tex_.uploadBand(0, static_cast<int>(bandTop_), static_cast<int>(w_),
                                        static_cast<int>(bandRows_)));
        if (nextBand_ == 0)
            return;
        --nextBand_;
        startBand();
    }

    txTexture& tex_;
    uint32_t w_, h_;
    uint32_t nextBand_ = 0;
    uint32_t bandTop_ = 0, bandRows_ = 0;
};

txRect::txRect(float top, float left, float right, float bottom)
    : tl(left, top), rb(right, bottom), gl_texId(0)
{ }

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
    if (!file)
        return;
    qv::ImageHeader header;
    const char* why = qv::probeImage(file.get(), fileSizeOf(file.get()), kMaxTallPixels, header);
    if (why == nullptr && header.kind != qv::ImageKind::Png && header.kind != qv::ImageKind::Jpeg &&
        header.kind != qv::ImageKind::Bmp)
        why = "tall images are PNG, JPEG or BMP";
    if (why == nullptr && !bandFitsGl(header.width))
        why = "wider than a rectangle texture";
    if (why != nullptr) {
        debug_trace("loadFromImage: refuse %s (%s, %u x %u): %s \n", name, qv::imageKindName(header.kind),
                    header.width, header.height, why);
        return;
    }
    img_w = header.width;
    img_h = header.height;
    img_pitch = header.width * 4;
    if (!allocateStaging(header.width))
        return;
    BandSink sink(*this, header.width, header.height);
    why = qv::decodeRgbaRows(file.get(), header, sink);
    sink.listBands();
    m_tex_list = std::move(sink.made_);
    if (why != nullptr) {
        debug_trace("loadFromImage: cannot decode %s (%s) \n", name, why);
        clear_textures();
        return;
    }
    m_scale_x = std::fabs(static_cast<float>(w) / static_cast<float>(header.width));
    m_scale_y = std::fabs(static_cast<float>(h) / static_cast<float>(header.height));
}

bool txTexture::allocateStaging(uint32_t w)
{
    const size_t bytes = static_cast<size_t>(tex_size) * static_cast<size_t>(bandWidth(w)) * 4;
    if (temp_img != nullptr && bytes <= stagingBytes_)
        return true;
    delete[] temp_img;
    temp_img = new (std::nothrow) unsigned char[bytes]();
    stagingBytes_ = temp_img != nullptr ? bytes : 0;
    if (temp_img == nullptr)
        debug_trace("loadFromImage: no memory for a band of %zu bytes \n", bytes);
    return temp_img != nullptr;
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
        if (txRect* band = createGLTexture(source, 0, H - rows, W, rows, B))
            m_tex_list.push_back(band);
        H -= tex_size;
    }
}

txRect* txTexture::createGLTexture(void* data, int x, int y, int w, int h, int bpp)
{
    const size_t stagingRow = static_cast<size_t>(bandWidth(static_cast<uint32_t>(w))) * bpp;
    if (bpp != 4 || !allocateStaging(static_cast<uint32_t>(w)))
        return nullptr;
    const unsigned char* src = static_cast<const unsigned char*>(data);
    unsigned char* dst = temp_img;
    for (int row = 0; row < h; ++row) {
        memset(dst, 0, stagingRow);
        memcpy(dst, src, img_pitch);
        src += img_pitch;
        dst += stagingRow;
    }
    return uploadBand(x, y, w, h);
}

txRect* txTexture::uploadBand(int x, int y, int w, int h)
{
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
    glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGBA,
                 static_cast<GLsizei>(bandWidth(static_cast<uint32_t>(w))), tex_size, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, temp_img);
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
