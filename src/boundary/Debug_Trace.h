// The library frame: where the library lives, logging, GL error reporting,
// Java string conversion and the power-of-two rule shared by every subsystem.
#pragma once

#include <GL/glew.h>
#include <jni.h>

// Full path of this shared object (file name included), set at load time.
extern char* homedir;
// Whether the system log has been opened for this process.
extern bool initSysLog;

// printf-style message into the system log ("trelvanLog", LOG_LOCAL1, LOG_WARNING).
// Messages are cut at 511 characters.
void debug_trace(const char* lpszFormat, ...) __attribute__((format(printf, 1, 2)));

// The library's name of a GL error code ("INVALID_ENUM" ...; "" for a code it
// does not know). Log lines that quote GLU's or GLEW's error text keep theirs.
const char* glErrorName(GLenum code);

// Drains every pending GL error, printing one line per error; always returns GL_NO_ERROR.
GLenum glCheckError_(const char* file, int line);
#define glCheckError() glCheckError_(__FILE__, __LINE__)

// Smallest power of two >= num; 0 for num < 1. Valid for num <= 2^30.
int getPower2(int num);

// A Java string as a malloc'ed, zero-terminated standard UTF-8 string owned by
// the caller (free it); null for a null or empty Java string.
char* jstringToWindowsJ(JNIEnv* env, jstring jstr);
