// Reads the current viewport back through one pixel-pack buffer and saves it
// as an image; the movie exporter's stream builds on the same buffer.
#pragma once

#include <GL/glew.h>

#include <string>

class GLCache {
public:
    GLCache();
    ~GLCache();
    GLCache(const GLCache&) = delete;
    GLCache& operator=(const GLCache&) = delete;

    void beginCache();
    void endCache();
    int getTexture();
    // (Re)creates the pack buffer for a w x h viewport, sized to powers of two.
    void initBuffer(int w, int h);
    int getPower2(int num);
    // Reads the viewport back and saves it under `filename`; always 1.
    int saveAsImage(std::string filename);

    GLuint m_frameBuffer;
    int vw;
    int vh;
};
