// Pixel transfer state pinned to what the image code's buffers assume, for
// the length of one upload or read-back; the caller's state comes back after.
#pragma once

#include <GL/glew.h>

// Unpack (client memory -> GL): given row alignment, no row length or skips,
// and no pixel-unpack buffer bound, so the pointer is read as client memory.
class ScopedUnpackState {
public:
    explicit ScopedUnpackState(GLint alignment);
    ~ScopedUnpackState();
    ScopedUnpackState(const ScopedUnpackState&) = delete;
    ScopedUnpackState& operator=(const ScopedUnpackState&) = delete;

private:
    GLint alignment_ = 4, rowLength_ = 0, skipRows_ = 0, skipPixels_ = 0, buffer_ = 0;
    bool rebind_ = false; // buffer objects are available
};

// Pack (GL -> buffer): given row alignment, no row length or skips, and no
// pixel-pack buffer bound, so the pointer is written as client memory.
class ScopedPackState {
public:
    explicit ScopedPackState(GLint alignment = 4);
    ~ScopedPackState();
    ScopedPackState(const ScopedPackState&) = delete;
    ScopedPackState& operator=(const ScopedPackState&) = delete;

private:
    GLint alignment_ = 4, rowLength_ = 0, skipRows_ = 0, skipPixels_ = 0, buffer_ = 0;
    bool rebind_ = false; // buffer objects are available
};
