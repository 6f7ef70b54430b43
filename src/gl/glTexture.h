// Images taller than a texture may be: decoded row by row (libpng,
// libjpeg-turbo, FreeImage for BMP) straight into horizontal bands, each a
// rectangle texture addressed in pixels; only one band is ever in memory.
#pragma once

#include <GL/glew.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct txPoint {
    txPoint(float x_, float y_) : x(x_), y(y_) { }
    float x;
    float y;
};

// One band, in image pixels with y growing downward.
class txRect {
public:
    txRect(float top, float left, float right, float bottom);
    ~txRect();
    txRect(const txRect&) = delete;
    txRect& operator=(const txRect&) = delete;

    void render(float shift_x, float shift_y, float img_h, float scale_x, float scale_y);

    txPoint tl;
    txPoint rb;
    float tx = 0, ty = 0, tw = 0, th = 0;
    int gl_texId;
};

class txTexture {
public:
    txTexture();
    ~txTexture();
    txTexture(const txTexture&) = delete;
    txTexture& operator=(const txTexture&) = delete;

    void loadFromImage(char* name, int x, int y, int w, int h);
    void create(void* data, int w, int h, int pitch);
    void render(int x, int y, int w, int h);
    void clear_textures();

    // Band height and the most rows a band texture has.
    static int tex_size;

    char file_name[512];
    std::vector<txRect*> m_tex_list;
    unsigned char* temp_img = nullptr;
    unsigned char* img_ptr = nullptr;
    unsigned int img_w = 0, img_h = 0;
    unsigned int img_pitch = 0;
    float m_shift_x = 0, m_shift_y = 0;
    bool upsidedown;
    float m_scale_x = 0, m_scale_y = 0;

private:
    class BandSink;
    void vertical_split();
    txRect* createGLTexture(void* data, int x, int y, int w, int h, int bpp);
    // The band of `h` rows now in `temp_img` as a texture.
    txRect* uploadBand(int x, int y, int w, int h);
    bool allocateStaging(uint32_t w);
    size_t stagingBytes_ = 0;
};
