#include "gl/ImageFile.h"

#include "boundary/CloseFd.h"
#include "boundary/Debug_Trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

FilePtr openRegularFile(const char* who, const char* name)
{
    if (name == nullptr || name[0] == '\0') {
        debug_trace("%s: no file name \n", who);
        return nullptr;
    }
    // O_NONBLOCK so that opening a FIFO returns at once; checked on the open
    // descriptor so the file cannot be swapped between check and read.
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        debug_trace("%s: cannot open %s (%s) \n", who, name, strerror(errno));
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        debug_trace("%s: %s is not a regular, non-empty file \n", who, name);
        qv::closeFd(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        debug_trace("%s: cannot read %s \n", who, name);
        qv::closeFd(fd);
        return nullptr;
    }
    return FilePtr(file);
}

uint64_t fileSizeOf(FILE* file)
{
    struct stat st;
    return fstat(fileno(file), &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool existsAsNonRegular(const char* name)
{
    struct stat st;
    return stat(name, &st) == 0 && !S_ISREG(st.st_mode);
}
