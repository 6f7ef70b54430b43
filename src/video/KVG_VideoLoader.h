// The binary interface between the library and a video loader plug-in: the
// function table a plug-in fills through GetVideoLoaderHandlerInfo, and the
// seven functions of the MPEG loader. Plug-ins we build include this header,
// so both sides agree on every offset.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef void* (*KVG_OpenFile)(char* path, int mode);
typedef int (*KVG_GetFrameInfo)(void* handle, int* width, int* height, int* totalFrames);
typedef int (*KVG_HasMoreBytesToRead)(void* handle);
typedef int (*KVG_ReadData)(void* handle);
typedef int (*KVG_GetNextFrame)(void* handle, char* buffer, int pitch, int bitsPerPixel, int* frameNo);
typedef void (*KVG_CloseFile)(void* handle);
typedef int (*KVG_SetFrameList)(void* handle, long long* list, int count);
typedef int (*KVG_GetFirstFrame)(void* handle, char* buffer, int pitch, int bitsPerPixel);
typedef int (*KVG_GetFrame)(void* handle, char* buffer, int pitch, int bitsPerPixel, int frameNo,
                            int* deliveredFrameNo);
typedef int (*KVG_GetVideoTable)(void* handle, char* fileName);
typedef int (*KVG_SetVideoTable)(void* handle, char* fileName);
typedef int (*KVG_GetVideoFileInfo)(void* handle, char* codec, int* codecIds);

struct KVG_VideoLoader {
    int16_t majorVersion;
    int16_t minorVersion;
    KVG_OpenFile OpenFile;
    KVG_GetFrameInfo GetFrameInfo;
    KVG_HasMoreBytesToRead HasMoreBytesToRead;
    KVG_ReadData ReadData;
    KVG_GetNextFrame GetNextFrame;
    KVG_CloseFile CloseFile;
    KVG_SetFrameList SetFrameList;
    KVG_GetFirstFrame GetFirstFrame;
    KVG_GetFrame GetFrame;
    int32_t supportSeekFeature;
    KVG_GetVideoTable GetVideoTable;
    KVG_SetVideoTable SetVideoTable;
    KVG_GetVideoFileInfo GetVideoFileInfo;
    int32_t reserved5;
    int32_t reserved6;
};

// Entry point every general plug-in exports; nonzero = the table is filled.
typedef int (*KVG_GetVideoLoaderHandlerInfo)(KVG_VideoLoader* loader);

// The MPEG loader's seven exported functions ("libMpgLoader.so").
typedef void (*MPG_getVideoInfo)(void* loader, int* w, int* h, int* bpp, double* fps);
typedef void (*MPG_getAudioInfo)(void* loader, int*, int*, int*);
typedef int (*MPG_getNextFrameBuffer)(void* loader, void* buffer, int frameNo);
typedef int (*MPG_hasMoreFrame)(void* loader);
typedef int (*MPG_openFile)(void* loader, char* path);
typedef void* (*MPG_createMpgLoader)();
typedef void (*MPG_deleteMpgLoader)(void* loader);

} // extern "C"

// Bytes of the buffer the library passes to GetVideoFileInfo for the codec
// name (a four-character code); a plug-in writes at most this many, NUL included.
constexpr int kCodecNameSize = 256;

// Plug-ins built by others depend on these offsets; never move a field.
static_assert(sizeof(void*) == 8, "the plug-in table is defined for 64-bit pointers");
static_assert(offsetof(KVG_VideoLoader, majorVersion) == 0);
static_assert(offsetof(KVG_VideoLoader, minorVersion) == 2);
static_assert(offsetof(KVG_VideoLoader, OpenFile) == 8);
static_assert(offsetof(KVG_VideoLoader, GetFrameInfo) == 16);
static_assert(offsetof(KVG_VideoLoader, HasMoreBytesToRead) == 24);
static_assert(offsetof(KVG_VideoLoader, ReadData) == 32);
static_assert(offsetof(KVG_VideoLoader, GetNextFrame) == 40);
static_assert(offsetof(KVG_VideoLoader, CloseFile) == 48);
static_assert(offsetof(KVG_VideoLoader, SetFrameList) == 56);
static_assert(offsetof(KVG_VideoLoader, GetFirstFrame) == 64);
static_assert(offsetof(KVG_VideoLoader, GetFrame) == 72);
static_assert(offsetof(KVG_VideoLoader, supportSeekFeature) == 80);
static_assert(offsetof(KVG_VideoLoader, GetVideoTable) == 88);
static_assert(offsetof(KVG_VideoLoader, SetVideoTable) == 96);
static_assert(offsetof(KVG_VideoLoader, GetVideoFileInfo) == 104);
static_assert(offsetof(KVG_VideoLoader, reserved5) == 112);
static_assert(offsetof(KVG_VideoLoader, reserved6) == 116);
static_assert(sizeof(KVG_VideoLoader) == 120, "the plug-in table is exactly 120 bytes");
