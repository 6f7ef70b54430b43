#include "gl/PixelStore.h"

ScopedUnpackState::ScopedUnpackState(GLint alignment)
{
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment_);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength_);
    glGetIntegerv(GL_UNPACK_SKIP_ROWS, &skipRows_);
    glGetIntegerv(GL_UNPACK_SKIP_PIXELS, &skipPixels_);
    if (glBindBuffer != nullptr) {
        glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &buffer_);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        rebind_ = true;
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
}

ScopedUnpackState::~ScopedUnpackState()
{
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment_);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength_);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, skipRows_);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, skipPixels_);
    // A saved 0 is given back too: the caller had no buffer bound, and the
    // scope may have bound one of its own since.
    if (rebind_)
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(buffer_));
}

ScopedPackState::ScopedPackState(GLint alignment)
{
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment_);
    glGetIntegerv(GL_PACK_ROW_LENGTH, &rowLength_);
    glGetIntegerv(GL_PACK_SKIP_ROWS, &skipRows_);
    glGetIntegerv(GL_PACK_SKIP_PIXELS, &skipPixels_);
    if (glBindBuffer != nullptr) {
        glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &buffer_);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        rebind_ = true;
    }
    glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
}

ScopedPackState::~ScopedPackState()
{
    glPixelStorei(GL_PACK_ALIGNMENT, alignment_);
    glPixelStorei(GL_PACK_ROW_LENGTH, rowLength_);
    glPixelStorei(GL_PACK_SKIP_ROWS, skipRows_);
    glPixelStorei(GL_PACK_SKIP_PIXELS, skipPixels_);
    // A saved 0 is given back too: the caller had no buffer bound, and the
    // scope may have bound one of its own since.
    if (rebind_)
        glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(buffer_));
}
