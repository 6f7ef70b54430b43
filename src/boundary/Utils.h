// Process facts, the string hash and the document opener behind the Utils and
// ViewerProperties exports.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// 64-bit string hash (h = c + (h << 6) + (h << 16) - h over signed bytes), top bit cleared.
int64_t hashfcn(const char* str);

// The desktop's opener program.
extern const char* const kDocumentOpener;

// Starts `opener` on `path` in a child process that is not waited for.
// Returns the child's pid, or -1 when the path is refused (null, empty, 200
// bytes or more) or fork fails. The parent logs the command before the fork;
// a child whose exec fails writes one fixed line to stderr and ends with _exit(127).
pid_t openDocument(const char* path, const char* opener = kDocumentOpener);

// Path of the regular file `name` in the library's own folder (plug-ins, the
// encoder), empty when there is none or the library's path is unknown.
std::string besideLibrary(const std::string& name);
