#include "gl/GLCache.h"

#include "boundary/Debug_Trace.h"
#include "gl/GlLoader.h"
#include "gl/PixelStore.h"
#include "gl/SavedBindings.h"
#include "gl/TextureManager.h"

GLCache::GLCache() : m_frameBuffer(0), vw(0), vh(0) { qv::loadGlEntryPointsOrLog(); }

GLCache::~GLCache()
{
    if (m_frameBuffer != 0 && glDeleteBuffers != nullptr)
        glDeleteBuffers(1, &m_frameBuffer);
    m_frameBuffer = 0;
}

void GLCache::beginCache() { }

void GLCache::endCache() { }

int GLCache::getTexture() { return 0; }

int GLCache::getPower2(int num) { return ::getPower2(num); }

void GLCache::initBuffer(int w, int h)
{
    const int pw = getPower2(w);
    const int ph = getPower2(h);
    if (m_frameBuffer != 0) {
        glDeleteBuffers(1, &m_frameBuffer);
        m_frameBuffer = 0;
    }
    debug_trace(" try to init frame buffer %d %d ", pw, ph);
    if (pw <= 0 || ph <= 0 || glGenBuffers == nullptr) {
        debug_trace(" no frame buffer for %d x %d ", w, h);
        return;
    }
    glGenBuffers(1, &m_frameBuffer);
    if (m_frameBuffer != 0)
        debug_trace(" get frame buffer");
    {
        qv::SavedBuffers caller({GL_PIXEL_PACK_BUFFER});
        glBindBuffer(GL_PIXEL_PACK_BUFFER, m_frameBuffer);
        glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(pw) * ph * 4, nullptr, GL_STREAM_READ);
    }
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        debug_trace(" failed with create frame buffer before copy gl screen %s ",
                    reinterpret_cast<const char*>(glewGetErrorString(error)));
    debug_trace(" finish the frame buffer");
}

int GLCache::saveAsImage(std::string filename)
{
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] != vw && viewport[3] != vh) {
        vw = viewport[2];
        vh = viewport[3];
        initBuffer(vw, vh);
    }
    if (m_frameBuffer == 0)
        return 1;
    if (filename.empty()) {
        debug_trace(" saveAsImage: no file name, nothing saved ");
        return 1;
    }
    GLint callerRead = GL_BACK;
    glGetIntegerv(GL_READ_BUFFER, &callerRead);
    glReadBuffer(GL_BACK);
    GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        debug_trace(" failed with %s ", reinterpret_cast<const char*>(glewGetErrorString(error)));
    debug_trace(" begin to read pixels %d %d %d %d", viewport[0], viewport[1], vw, vh);
    ScopedPackState pack;
    glBindBuffer(GL_PIXEL_PACK_BUFFER, m_frameBuffer);
    glReadPixels(0, 0, vw, vh, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    debug_trace(" begin read back pixel");
    void* pixels = glMapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY);
    debug_trace(" save images %s", filename.c_str());
    if (pixels != nullptr) {
        TextureManager* manager = TextureManager::getInstance();
        if (manager != nullptr)
            manager->saveImage(vw, vh, pixels, filename);
        glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    } else {
        debug_trace(" saveAsImage: cannot map the read-back buffer ");
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glReadBuffer(static_cast<GLenum>(callerRead));
    return 1;
}
