// The clip and playback side of video: uploading frames into a clip's
// power-of-two texture, drawing it, and the operations behind the
// VideoClip/VideoPlay exports (callable without a JVM).
#pragma once

#include <GL/glew.h>

class VideoRes;

// One playback view's drawing properties; nothing reads them.
struct VideoEnv {
    int otime = -1;
    int timexpos = 0;
    int timeypos = 0;
    bool cleared = false;
};

// Uploads a w x h frame of bpp (3 or 4) bytes per pixel into the clip's texture.
void updates(int w, int h, unsigned char* buffer, int bpp, void* res);
// Makes the texture name when there is none, uploads, returns the name; -1 without a clip.
int createTextures(int w, int h, unsigned char* buffer, int bpp, void* res);

namespace qv {

// Opens a clip through the named plug-in, or the MPEG loader when `loader` is
// null. Takes the malloc'ed path; null when the clip cannot be opened.
VideoRes* openClip(char* path, const char* loader);
// Brings frame `frame` into the clip's texture; the loader's result.
int loadClipFrame(VideoRes& clip, int frame);
// Draws the source rectangle (c_x, c_y, c_w, c_h) of the frame into (x, y, w, h).
void drawClip(VideoRes* clip, int x, int y, int w, int h, int c_x, int c_y, int c_w, int c_h);
// Destroys the clip and its texture.
void releaseClip(VideoRes* clip);
// The plug-in's GetVideoTable / SetVideoTable; -2 without the entry.
int clipVideoTable(VideoRes& clip, char* name, bool set);

} // namespace qv
