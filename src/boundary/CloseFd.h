// Closing a descriptor from inside the library. The library exports a plain
// close() of its own (src/video/VideoPlain.cpp, fixed results for the
// viewer), and the static linker binds every close() call made inside the
// library to that one, which closes nothing. Descriptors are closed through
// the system call instead.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

namespace qv {

inline int closeFd(int fd) { return static_cast<int>(syscall(SYS_close, fd)); }

} // namespace qv
