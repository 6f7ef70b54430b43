// What the clip and the MPEG loader share about reaching a decoder plug-in:
// the path and frame-size rules, loading a plug-in library, and the video
// code's standard-output lines.
#pragma once

#include "contracts/FrameSide.h"

// Longest accepted clip path (bytes, without the NUL); the MPEG loader keeps it in 1024 bytes.
constexpr int kMaxVideoPath = 1023;
constexpr int kMaxFrameSide = QV_MAX_FRAME_SIDE;
// True when a w x h frame may be allocated (both sides 1 .. kMaxFrameSide).
bool plausibleFrameSize(int w, int h);

// Prints one of the video code's own standard-output lines and flushes it;
// other diagnostics go to the log (debug_trace).
void videoSay(const char* format, ...) __attribute__((format(printf, 1, 2)));

// True when `path` may be handed to a plug-in: not null, shorter than
// 1024 bytes, and a regular file (a FIFO would block the decoder's open).
bool acceptableVideoPath(const char* path);

// Loads a plug-in library (bind now, global, never unmapped): by file name from the library's
// own folder first, then by the dynamic loader's search.
void* openLoaderLibrary(const char* file);
