// Opening image files that the viewer did not make: only regular, non-empty
// files are opened, and nothing blocks on a FIFO or device.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

struct FileCloser {
    void operator()(FILE* f) const
    {
        if (f != nullptr)
            fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The file opened for reading, or null (with a log line naming `who`) when it
// cannot be opened or is not a regular file with some content.
FilePtr openRegularFile(const char* who, const char* name);

// Size in bytes of an open file; 0 when it cannot be told.
uint64_t fileSizeOf(FILE* file);

// True when `name` exists and is not a regular file (a directory, FIFO, device).
bool existsAsNonRegular(const char* name);
