// The MPEG loader plug-in ("libMpgLoader.so"), reached through seven functions
// taken from it by name.
#pragma once

#include "video/KVG_VideoLoader.h"

// The seven entry points, in the order they are looked up.
struct VTableMpgLoader {
    MPG_getVideoInfo getVideoInfo = nullptr;
    MPG_getAudioInfo getAudioInfo = nullptr;
    MPG_getNextFrameBuffer getNextFrameBuffer = nullptr;
    MPG_hasMoreFrame hasMoreFrame = nullptr;
    MPG_openFile openFile = nullptr;
    MPG_createMpgLoader createMpgLoader = nullptr;
    MPG_deleteMpgLoader deleteMpgLoader = nullptr;
};

class MpgLoader : public VTableMpgLoader {
public:
    // Loads the library and creates the plug-in's decoder; check valid().
    MpgLoader();
    ~MpgLoader();
    MpgLoader(const MpgLoader&) = delete;
    MpgLoader& operator=(const MpgLoader&) = delete;

    bool valid() const { return _valid; }
    // Opens the file; negative = failure.
    int OpenVideo(char* filename);
    // Brings frame frameNo into `buffer`; 2 when it is the frame already there
    // (freshFrame() tells that apart from frame number 2), negative = failure.
    int GetNextFrame(int frameNo);
    // Whether the last GetNextFrame put a new frame into `buffer`.
    bool freshFrame() const { return m_fresh; }

    void* m_loader = nullptr;
    char m_filename[1024] = {};
    int m_prevFrameNo = -1;
    void* m_Handler = nullptr;
    bool _valid = true;
    int w = 0;
    int h = 0;
    int bpp = 0;
    double fps = 0;
    unsigned char* buffer = nullptr;

private:
    bool m_fresh = false;
};
