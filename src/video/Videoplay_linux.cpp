// Clip textures, drawing, and the JNI exports of VideoClip and VideoPlay
// (quorvex.viewer.AnimationView).
#include "video/Videoplay.h"

#include "boundary/Debug_Trace.h"
#include "boundary/JniSupport.h"
#include "gl/GlLoader.h"
#include "gl/PixelStore.h"
#include "gl/SavedBindings.h"
#include "gl/TextureManager.h"
#include "video/VideoRes.h"
#include "video/mpgloader.h"

#include <GL/glu.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Without a current context any GL call would crash the JVM.
bool glReady(const char* what)
{
    if (qv::hasCurrentGlContext())
        return true;
    debug_trace(" %s: no current GL context \n", what);
    return false;
}

// Grows the clip's staging image and texture store to hold a w x h frame;
// a smaller frame keeps the larger store.
bool reserveStore(VideoRes& clip, int w, int h, int bpp)
{
    const int localpw = getPower2(w);
    const int localph = getPower2(h);
    if (clip.m_pw < localpw || clip.m_ph < localph || clip.m_bpp < bpp) {
        free(clip.m_mBuff);
        clip.m_mBuff = nullptr;
        if (clip.m_mTex != 0) {
            glDeleteTextures(1, &clip.m_mTex);
            glFinish();
            clip.m_mTex = 0;
        }
        clip.m_pw = std::max(clip.m_pw, localpw);
        clip.m_ph = std::max(clip.m_ph, localph);
        clip.m_bpp = bpp;
        clip.m_mixedLayouts = false;
    }
    if (clip.m_mTex == 0) {
        glGenTextures(1, &clip.m_mTex);
        clip.initTexture = 1;
    }
    if (clip.m_mBuff == nullptr) {
        // Zeroed once, so the border beyond the frame never samples stale memory.
        clip.m_mBuff = static_cast<unsigned char*>(calloc(static_cast<size_t>(clip.m_pw) * clip.m_ph, bpp));
        clip.initTexture = 1;
    }
    clip.m_rw = static_cast<float>(w) / static_cast<float>(clip.m_pw);
    clip.m_rh = static_cast<float>(h) / static_cast<float>(clip.m_ph);
    return clip.m_mBuff != nullptr;
}

// One level, repeating; the filters stay GL's defaults. Texture parameters
// belong to the texture, so they are set once, when its storage is defined.
void setTextureParameters()
{
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
}

void reportUploadError()
{
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR)
        return;
    videoSay(" get warning %s \n", reinterpret_cast<const char*>(gluErrorString(error)));
    if (error == GL_OUT_OF_MEMORY) {
        if (TextureManager* manager = TextureManager::getInstance())
            manager->onlyUnloadTextures();
        glFinish();
    }
}

} // namespace

void updates(int w, int h, unsigned char* buffer, int bpp, void* res)
{
    if (res == nullptr || buffer == nullptr || (bpp != 3 && bpp != 4) || w < 1 || h < 1)
        return;
    VideoRes& clip = *static_cast<VideoRes*>(res);
    if (!reserveStore(clip, w, h, bpp)) {
        debug_trace(" no memory for a %d x %d movie texture \n", clip.m_pw, clip.m_ph);
        return;
    }
    // The staging image always holds what the texture's rows read: every frame
    // goes into its top left, rows m_pw pixels apart in the frame's layout.
    const size_t row = static_cast<size_t>(w) * bpp;
    const size_t stride = static_cast<size_t>(clip.m_pw) * bpp;
    for (int y = 0; y < h; ++y)
        memcpy(clip.m_mBuff + y * stride, buffer + y * row, row);
    if (bpp != clip.m_bpp)
        clip.m_mixedLayouts = true;

    const GLenum format = bpp == 3 ? GL_BGR : GL_BGRA;
    const qv::SavedTexture callerTexture(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, clip.m_mTex);
    ScopedUnpackState unpack(1); // staging rows are tightly packed, 3 bytes per pixel included
    if (clip.initTexture != 0) {
        setTextureParameters();
        glTexImage2D(GL_TEXTURE_2D, 0, bpp, clip.m_pw, clip.m_ph, 0, format, GL_UNSIGNED_BYTE, clip.m_mBuff);
        clip.initTexture = 0;
    } else {
        // Beyond the frame's w columns the staging bytes were sent already and
        // read the same, unless the store has seen another layout: then the
        // rows the frame covers go whole, as they read in this one.
        const int columns = clip.m_mixedLayouts ? clip.m_pw : w;
        glPixelStorei(GL_UNPACK_ROW_LENGTH, clip.m_pw);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, columns, h, format, GL_UNSIGNED_BYTE, clip.m_mBuff);
    }
    reportUploadError();
}

int createTextures(int w, int h, unsigned char* buffer, int bpp, void* res)
{
    if (res == nullptr)
        return -1;
    VideoRes& clip = *static_cast<VideoRes*>(res);
    if (clip.m_mTex == 0) {
        glGenTextures(1, &clip.m_mTex);
        clip.initTexture = 1;
    }
    updates(w, h, buffer, bpp, res);
    videoSay(" create movie texture with size w %d h %d \n", w, h);
    return static_cast<int>(clip.m_mTex);
}

namespace qv {

VideoRes* openClip(char* path, const char* loader)
{
    VideoRes* clip = new VideoRes();
    if (loader != nullptr) {
        videoSay("loading video %s with loader %s \n", path != nullptr ? path : "(null)", loader);
        // open() copies the name before it edits out a "_user" marker.
        if (clip->open(path, const_cast<char*>(loader)) == 1)
            return clip;
        delete clip;
        return nullptr;
    }
    clip->adoptPath(path);
    clip->mpgloader = new MpgLoader();
    videoSay("Trying mpeg loader ");
    if (!clip->mpgloader->valid()) {
        delete clip->mpgloader;
        clip->mpgloader = nullptr;
        delete clip;
        return nullptr;
    }
    if (clip->mpgloader->OpenVideo(path) < 0) {
        debug_trace(" mpeg loader cannot open %s \n", path != nullptr ? path : "(null)");
        delete clip;
        return nullptr;
    }
    clip->width = clip->mpgloader->w;
    clip->height = clip->mpgloader->h;
    return clip;
}

int loadClipFrame(VideoRes& clip, int frame)
{
    if (MpgLoader* mpg = clip.mpgloader) {
        const int ret = mpg->GetNextFrame(frame);
        // 2 is also "unchanged": only a frame just fetched is uploaded.
        if (ret >= 0 && mpg->freshFrame()) {
            if (clip.m_mTex != 0)
                updates(mpg->w, mpg->h, mpg->buffer, 4, &clip);
            else
                createTextures(mpg->w, mpg->h, mpg->buffer, 4, &clip);
        }
        return ret;
    }
    return clip.loader.supportSeekFeature == 1 ? clip.getVideoFrame(frame) : clip.getVideoData(frame);
}

void drawClip(VideoRes* clip, int x, int y, int w, int h, int c_x, int c_y, int c_w, int c_h)
{
    if (clip == nullptr || clip->m_mTex == 0 || clip->width < 1 || clip->height < 1) {
        videoSay(" failed with texture \n");
        return;
    }
    // The current colour and texture coordinates are ours to change only for the quad.
    glPushAttrib(GL_TEXTURE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, clip->m_mTex);
    glColor3f(1.f, 1.f, 1.f);
    const float width = static_cast<float>(clip->width);
    const float height = static_cast<float>(clip->height);
    const float rx = c_x / width * clip->m_rw;
    const float ry = c_y / height * clip->m_rh;
    const float rw = c_w / width * clip->m_rw;
    const float rh = c_h / height * clip->m_rh;
    // Frame rows arrive top first, so texture row 0 is drawn at the canvas top (y grows down).
    glBegin(GL_QUADS);
    glTexCoord2f(rx + rw, ry);
    glVertex3f(static_cast<float>(x + w), static_cast<float>(y), -1.f);
    glTexCoord2f(rx, ry);
    glVertex3f(static_cast<float>(x), static_cast<float>(y), -1.f);
    glTexCoord2f(rx, ry + rh);
    glVertex3f(static_cast<float>(x), static_cast<float>(y + h), -1.f);
    glTexCoord2f(rx + rw, ry + rh);
    glVertex3f(static_cast<float>(x + w), static_cast<float>(y + h), -1.f);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glPopAttrib();
}

void releaseClip(VideoRes* clip)
{
    if (clip == nullptr)
        return;
    if (clip->m_mTex != 0 && glReady("release"))
        clip->deleteTexture();
    delete clip;
}

int clipVideoTable(VideoRes& clip, char* name, bool set)
{
    if (clip.mpgloader != nullptr || clip.dt == nullptr)
        return -2;
    KVG_GetVideoTable entry = set ? clip.loader.SetVideoTable : clip.loader.GetVideoTable;
    return entry != nullptr ? entry(clip.dt, name) : -2;
}

} // namespace qv

// ===========================================================================
// quorvex.viewer.AnimationView.VideoClip
// ===========================================================================
extern "C" {

JNIEXPORT jlong JNICALL Java_quorvex_viewer_AnimationView_VideoClip_initcobj(JNIEnv* env, jclass,
                                                                             jstring path,
                                                                             jstring loaderdllname)
{
    return qv::guard("initcobj", jlong(0), [&] {
        qv::Utf8 file = qv::utf8(env, path);
        const qv::Utf8 loader = qv::utf8(env, loaderdllname);
        if (!file) {
            debug_trace(" no video path given \n");
            return jlong(0);
        }
        return qv::registerHandle(qv::openClip(file.release(), loader.get()));
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoClip_release(JNIEnv*, jclass, jlong cobj)
{
    videoSay(" delete video handler \n");
    qv::withHandleVoid<VideoRes>("release", cobj, [](VideoRes& clip) {
        qv::forgetHandle(&clip);
        qv::releaseClip(&clip);
    });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_AnimationView_VideoClip_loadNextFrame(JNIEnv*, jclass, jlong cobj,
                                                                                 jint frame)
{
    return qv::withHandle<VideoRes>("loadNextFrame", cobj, jint(-1), [&](VideoRes& clip) {
        if (!glReady("loadNextFrame"))
            return jint(-1);
        return static_cast<jint>(qv::loadClipFrame(clip, frame));
    });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_AnimationView_VideoClip_getWidth(JNIEnv*, jclass, jlong cobj)
{
    return qv::withHandle<VideoRes>("getWidth", cobj, jint(0),
                                    [](VideoRes& clip) { return clip.getWidth(); });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_AnimationView_VideoClip_getHeight(JNIEnv*, jclass, jlong cobj)
{
    return qv::withHandle<VideoRes>("getHeight", cobj, jint(0),
                                    [](VideoRes& clip) { return clip.getHeight(); });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoClip_setDisplayFrame(JNIEnv*, jclass,
                                                                                   jlong cobj, jboolean v)
{
    qv::withHandleVoid<VideoRes>("setDisplayFrame", cobj, [&](VideoRes& clip) {
        if (clip.mpgloader == nullptr)
            clip.setDisplayFrame(v);
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoClip_drawVideoTexture(
    JNIEnv*, jclass, jlong cobj, jint x, jint y, jint w, jint h, jint c_x, jint c_y, jint c_w, jint c_h)
{
    qv::withHandleVoid<VideoRes>("drawVideoTexture", cobj, [&](VideoRes& clip) {
        if (glReady("drawVideoTexture"))
            qv::drawClip(&clip, x, y, w, h, c_x, c_y, c_w, c_h);
    });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_AnimationView_VideoClip_GetVideoTable(JNIEnv* env, jclass,
                                                                                 jlong cobj, jstring filename)
{
    return qv::withHandle<VideoRes>("GetVideoTable", cobj, jint(-2), [&](VideoRes& clip) {
        qv::Utf8 name = qv::utf8(env, filename);
        videoSay(" get file name as %s ", name ? name.get() : "(null)");
        return static_cast<jint>(qv::clipVideoTable(clip, name.get(), false));
    });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_AnimationView_VideoClip_SetVideoTable(JNIEnv* env, jclass,
                                                                                 jlong cobj, jstring filename)
{
    return qv::withHandle<VideoRes>("SetVideoTable", cobj, jint(-2), [&](VideoRes& clip) {
        qv::Utf8 name = qv::utf8(env, filename);
        return static_cast<jint>(qv::clipVideoTable(clip, name.get(), true));
    });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_AnimationView_VideoClip_getVideoTextrueJni(JNIEnv*, jclass)
{
    return 0;
}

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoClip_setVideoSource(JNIEnv*, jclass, jboolean)
{ }

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoClip_drawVideo(JNIEnv*, jclass, jlong, jint,
                                                                             jint, jint, jint, jint)
{ }

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoClip_drawFrameNo(JNIEnv*, jclass, jint, jint,
                                                                               jint, jint, jint)
{ }

// ===========================================================================
// quorvex.viewer.AnimationView.VideoPlay
// ===========================================================================

JNIEXPORT jlong JNICALL Java_quorvex_viewer_AnimationView_VideoPlay_initVideoEnvironment(JNIEnv*, jclass)
{
    return qv::guard("initVideoEnvironment", jlong(0), [] {
        videoSay("init video enviorment ");
        return qv::registerHandle(new VideoEnv());
    });
}

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoPlay_beginPaint(JNIEnv*, jclass, jobject, jlong)
{ }

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoPlay_endPaint(JNIEnv*, jclass, jlong) { }

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoPlay_reclear(JNIEnv*, jclass, jlong) { }

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoPlay_clear(JNIEnv*, jclass, jlong, jint) { }

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoPlay_updateTimeDrawingProperties(JNIEnv*,
                                                                                               jclass, jlong,
                                                                                               jint, jint,
                                                                                               jint)
{ }

JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoPlay_drawOval(JNIEnv*, jclass, jlong, jint,
                                                                            jint, jint, jint, jint, jint)
{ }

} // extern "C"
