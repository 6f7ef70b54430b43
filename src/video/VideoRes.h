// One open scene-video clip: the decoder plug-in it was opened with, the
// frame last delivered, and the GL texture that shows it.
#pragma once

#include "video/KVG_VideoLoader.h"
#include "video/LoaderSupport.h"

#include <GL/glew.h>
#include <jni.h>

class MpgLoader;

// Longest accepted loader name (bytes); "lib%s.so" of it must fit loaderdllname.
constexpr int kMaxLoaderName = 250;

// 1 when the plug-in may be loaded; "vfwloader" (as a name or as its library
// file name) is refused.
int isLoadableLibrary(char* loaderName);

class VideoRes {
public:
    VideoRes();
    virtual ~VideoRes();
    VideoRes(const VideoRes&) = delete;
    VideoRes& operator=(const VideoRes&) = delete;

    // Opens `path` through the plug-in named `loadername`; 1 = open, 0 = failed.
    // The clip takes `path` (malloc'ed) as its own and frees it when destroyed.
    int open(char* path, char* loadername);
    // Loads the plug-in named in loaderdllname and opens fname; 1 or 0.
    int reopen();
    // Closes the file and unloads the plug-in.
    void close();
    // Random access (supportSeekFeature 1) and sequential decoding of frame `frame`.
    int getVideoFrame(int frame);
    int getVideoData(int frame);

    int getWidth() const { return width; }
    int getHeight() const { return height; }
    void setDisplayFrame(jboolean v) { displayFrame = v; }
    // Takes the malloc'ed path as fname without opening it (MPEG clips).
    void adoptPath(char* path);
    // Deletes the clip's GL texture; needs the GL context it was made in.
    void deleteTexture();

    int last_frame = 0;
    char* fname = nullptr;
    // "lib" + the longest accepted name + ".so" + NUL.
    char loaderdllname[kMaxLoaderName + 7] = {};
    bool force_loading = false;
    unsigned char* image_bits = nullptr;
    unsigned char* image_bits_reverse = nullptr;
    void* module = nullptr;
    bool opened = false;
    jboolean displayFrame = 1;
    void* dt = nullptr;
    KVG_VideoLoader loader = {};
    int width = 720;
    int height = 480;
    MpgLoader* mpgloader = nullptr;

    // Whether a frame was delivered since the clip was (re)opened: last_frame
    // is 0 both before anything was shown and when frame 0 is shown.
    bool hasDelivered = false;

    int initTexture = 0;
    GLuint m_mTex = 0;
    unsigned char* m_mBuff = nullptr;
    int m_pw = 0;
    int m_ph = 0;
    float m_rw = 0.f;
    float m_rh = 0.f;
    // Bytes per pixel the staging image was allocated for.
    int m_bpp = 0;
    // Whether a frame of other bytes per pixel than the store's was sent since
    // the store was made: its rows then no longer read as the store's layout.
    bool m_mixedLayouts = false;

private:
    // One load attempt of reopen: 1 open, 0 failed, -1 the XVID rule asks for the switch.
    int loadOnce(bool switchLoad);
    void unloadModule();
    bool openFrameBuffers();
    // Decodes the next frame in sequential mode: 1 = a frame, its number in *decoded.
    bool decodeNext(int frame, int* decoded);
    void uploadFrame();
};
