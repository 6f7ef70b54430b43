// Scene-video timings against baselines measured in the same run:
//  - playback of a 1280 x 720 H.264 clip of 600 frames in order through
//    loadNextFrame + drawVideoTexture (each loader path) against FFmpeg
//    decoding the same clip (the ffmpeg program with two threads, and
//    libavcodec alone in this process);
//  - random access: mean loadNextFrame time for random frame numbers against
//    seeking to a key frame and decoding one group of pictures with
//    libavcodec, and against the sequential loader for the same requests;
//  - resident memory growth over 1,000 open/load/close cycles.
// Before timing, a pixel-identity check: the clip's texture after a sequence of
// frames of different sizes must equal, texel for texel, what the plain upload
// (the frame copied into the zeroed staging image, the staging rows sent whole)
// makes of the same sequence. Any difference fails the program.
// `bench_video [runs] [playback]`: with "playback", only the check and the
// playback section (ffmpeg program, ffmpegloader, GL alone) run.
// The library's own diagnostic lines are sent to /dev/null while timing.
#include "boundary/Debug_Trace.h"
#include "boundary/HandleRegistry.h"
#include "gl/GlLoader.h"
#include "support/GlContext.h"
#include "support/VideoClips.h"
#include "video/VideoRes.h"
#include "video/Videoplay.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <jni.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <utility>
#include <string>
#include <vector>

extern char** environ;

extern "C" {
JNIEXPORT jint JNICALL Java_quorvex_viewer_AnimationView_VideoClip_loadNextFrame(JNIEnv*, jclass, jlong,
                                                                                 jint);
JNIEXPORT void JNICALL Java_quorvex_viewer_AnimationView_VideoClip_drawVideoTexture(JNIEnv*, jclass, jlong,
                                                                                    jint, jint, jint, jint,
                                                                                    jint, jint, jint, jint);
}

namespace {

constexpr int kWidth = 1280, kHeight = 720, kFrames = 600;
constexpr int kRandomRequests = 120;
constexpr int kSequentialRequests = 12; // each may decode up to the whole clip
constexpr int kCycles = 1000;

using Clock = std::chrono::steady_clock;

double secondsOf(const std::function<void()>& work)
{
    const auto t0 = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The library prints to standard output; keep it out of the timings and the report.
class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }

private:
    int saved_;
};

jlong openClip(const std::string& path, const char* loader)
{
    QuietStdout quiet;
    return qv::registerHandle(qv::openClip(strdup(path.c_str()), loader));
}

void releaseClip(jlong clip)
{
    QuietStdout quiet;
    auto* res = reinterpret_cast<VideoRes*>(clip);
    qv::forgetHandle(res);
    qv::releaseClip(res);
}

// Seconds spent loading (decode, convert, upload) and drawing, summed over calls.
struct Split {
    double load = 0, draw = 0;
};

int loadAndDraw(jlong clip, int frame, Split* split = nullptr)
{
    const auto t0 = Clock::now();
    const int got = Java_quorvex_viewer_AnimationView_VideoClip_loadNextFrame(nullptr, nullptr, clip, frame);
    glFinish(); // the upload is done when GL has taken the pixels
    const auto t1 = Clock::now();
    Java_quorvex_viewer_AnimationView_VideoClip_drawVideoTexture(nullptr, nullptr, clip, 0, 0, kWidth,
                                                                 kHeight, 0, 0, kWidth, kHeight);
    glFinish(); // as the canvas's buffer swap would
    if (split) {
        split->load += std::chrono::duration<double>(t1 - t0).count();
        split->draw += std::chrono::duration<double>(Clock::now() - t1).count();
    }
    return got;
}

// The frame number the canvas shows (read back bottom row first).
int shownNumber()
{
    std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
    return qvtest::frameNumberFromPixels(pixels.data(), kWidth, kHeight, kWidth * 4, true);
}

// ---- baselines: FFmpeg without us ----

double ffmpegProgramSeconds(const std::string& path)
{
    const char* argv[] = {"ffmpeg", "-nostdin",   "-v", "error", "-threads", "2",
                          "-i",     path.c_str(), "-f", "null",  "-",        nullptr};
    return secondsOf([&] {
        pid_t pid = 0;
        if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            return;
        int status = 0;
        waitpid(pid, &status, 0);
    });
}

struct PlainDecoder {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int stream = -1;

    explicit PlainDecoder(const std::string& path)
    {
        const AVCodec* decoder = nullptr;
        if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(format, nullptr) < 0 ||
            (stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0)) < 0)
            return;
        codec = avcodec_alloc_context3(decoder);
        if (!codec)
            return;
        codec->thread_count = 2;
        codec->thread_type = FF_THREAD_FRAME;
        if (avcodec_parameters_to_context(codec, format->streams[stream]->codecpar) < 0 ||
            avcodec_open2(codec, decoder, nullptr) < 0)
            avcodec_free_context(&codec);
    }
    ~PlainDecoder()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
    bool ok() const { return codec && packet && frame; }

    // Decodes up to `count` frames from the current position; the number decoded.
    int decode(int count)
    {
        if (!ok())
            return 0;
        int got = 0;
        bool ended = false;
        while (got < count) {
            const int ret = avcodec_receive_frame(codec, frame);
            if (ret == 0) {
                ++got;
                continue;
            }
            if (ret == AVERROR_EOF || ended)
                break;
            if (av_read_frame(format, packet) < 0) {
                ended = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (packet->stream_index == stream)
                avcodec_send_packet(codec, packet); // a refused packet is skipped
            av_packet_unref(packet);
        }
        return got;
    }

    // Seeks to the key frame at `frame` (the clip has one every kClipKeyInterval frames).
    void seekToFrame(int frame)
    {
        if (!ok())
            return;
        const AVStream* st = format->streams[stream];
        const int64_t ts = av_rescale_q(frame, AVRational{1, qvtest::kClipFramesPerSecond}, st->time_base);
        av_seek_frame(format, stream, ts, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(codec);
    }
};

long statusKiB(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, length, field) == 0)
            return std::atol(line.c_str() + length);
    return -1;
}

std::string cpuModel()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 10, "model name") == 0)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

// What the GL side costs without any decoding: the upload the clip does (its
// whole power-of-two texture) and one textured quad over the canvas.
// With `linear`, GL_LINEAR filters instead of GL's defaults (which the clip keeps).
// `uploadW` x `uploadH` is the region sent each time (the whole texture, or the
// frame's region as the clip sends it); `type` the client pixel type.
double bareUploadAndDrawMs(bool linear, int uploadW = 2048, int uploadH = 1024,
                           GLenum type = GL_UNSIGNED_BYTE)
{
    constexpr int kTexW = 2048, kTexH = 1024, kRepeats = 30;
    std::vector<uint8_t> pixels(static_cast<size_t>(kTexW) * kTexH * 4, 128);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    if (linear) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    }
    glTexImage2D(GL_TEXTURE_2D, 0, 4, kTexW, kTexH, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
    glEnable(GL_TEXTURE_2D);
    const double seconds = secondsOf([&] {
        for (int i = 0; i < kRepeats; ++i) {
            pixels[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, uploadW, uploadH, GL_BGRA, type, pixels.data());
            glBegin(GL_QUADS);
            glTexCoord2f(0, 0), glVertex3f(0, 0, -1);
            glTexCoord2f(0.625f, 0), glVertex3f(kWidth, 0, -1);
            glTexCoord2f(0.625f, 0.703125f), glVertex3f(kWidth, kHeight, -1);
            glTexCoord2f(0, 0.703125f), glVertex3f(0, kHeight, -1);
            glEnd();
            glFinish();
        }
    });
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &texture);
    return seconds * 1e3 / kRepeats;
}

// The clip's upload alone (`updates`, as loadNextFrame calls it) of a
// kWidth x kHeight BGRA frame into its 2048 x 1024 texture, glFinish after each.
double clipUploadMs()
{
    constexpr int kRepeats = 60;
    std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * kHeight * 4, 77);
    VideoRes clip;
    updates(kWidth, kHeight, frame.data(), 4, &clip); // defines the storage
    glFinish();
    const double seconds = secondsOf([&] {
        for (int i = 0; i < kRepeats; ++i) {
            frame[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
            updates(kWidth, kHeight, frame.data(), 4, &clip);
            glFinish();
        }
    });
    clip.deleteTexture();
    return seconds * 1e3 / kRepeats;
}

struct LoaderPath {
    const char* label;
    const char* loader; // null = the MPEG loader
};
const LoaderPath kPaths[] = {{"ffmpegloader (random access)", "ffmpegloader"},
                             {"xvidloader (sequential)", "xvidloader"},
                             {"MPEG loader", nullptr}};

// Loads the clip's frames in order without drawing: decoding, conversion and
// upload only. Frames per second, or 0 when a frame failed.
double loadOnlyFps(const std::string& path, const char* loader)
{
    const jlong clip = openClip(path, loader);
    if (!clip)
        return 0;
    bool allLoaded = true;
    double seconds;
    {
        QuietStdout quiet;
        seconds = secondsOf([&] {
            for (int n = 0; n < kFrames; ++n)
                allLoaded = Java_quorvex_viewer_AnimationView_VideoClip_loadNextFrame(nullptr, nullptr, clip,
                                                                                      n) >= 0 &&
                            allLoaded;
            glFinish();
        });
    }
    releaseClip(clip);
    return allLoaded ? kFrames / seconds : 0;
}

// The plug-in alone, without the library or GL: ffmpegloader's GetFrame in
// order into a BGRA buffer. Frames per second, or 0 when a frame failed.
double pluginOnlyFps(const std::string& path)
{
    void* module = dlopen("libffmpegloader.so", RTLD_NOW | RTLD_LOCAL); // found beside the library
    auto info =
        module ? reinterpret_cast<KVG_GetVideoLoaderHandlerInfo>(dlsym(module, "GetVideoLoaderHandlerInfo"))
               : nullptr;
    KVG_VideoLoader table{};
    if (!info || !info(&table) || !table.OpenFile || !table.GetFrame || !table.CloseFile)
        return 0;
    void* file = table.OpenFile(const_cast<char*>(path.c_str()), 1);
    if (!file)
        return 0;
    std::vector<char> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
    bool allDelivered = true;
    const double seconds = secondsOf([&] {
        for (int n = 0; n < kFrames; ++n) {
            int delivered = -1;
            allDelivered =
                table.GetFrame(file, pixels.data(), kWidth * 4, 32, n, &delivered) == n && allDelivered;
        }
    });
    table.CloseFile(file);
    dlclose(module);
    return allDelivered ? kFrames / seconds : 0;
}

// Plays the clip in order; frames per second, or 0 when a frame failed.
double playbackFps(const std::string& path, const char* loader, int* lastShown, Split* split)
{
    const jlong clip = openClip(path, loader);
    if (!clip)
        return 0;
    bool allShown = true;
    double seconds;
    {
        QuietStdout quiet;
        seconds = secondsOf([&] {
            for (int n = 0; n < kFrames; ++n)
                allShown = loadAndDraw(clip, n, split) >= 0 && allShown;
        });
    }
    *lastShown = shownNumber();
    releaseClip(clip);
    return allShown ? kFrames / seconds : 0;
}

// ---- pixel identity of the clip's texture against the plain upload ----

// The plain upload: the frame copied into the top left of a staging image that
// is zeroed when (re)allocated, then the staging rows the frame covers sent at
// full store width (the whole image when the texture is (re)defined). A
// smaller frame keeps the store; a larger frame or more bytes per pixel make a
// new one.
struct PlainUpload {
    GLuint texture = 0;
    std::vector<uint8_t> staging;
    int pw = 0, ph = 0, bpp = 0;

    ~PlainUpload()
    {
        if (texture != 0)
            glDeleteTextures(1, &texture);
    }
    // True when the store was made anew.
    bool upload(int w, int h, const uint8_t* frame, int frameBpp)
    {
        const int localpw = getPower2(w), localph = getPower2(h);
        bool remade = false;
        if (pw < localpw || ph < localph || bpp < frameBpp) {
            if (texture != 0)
                glDeleteTextures(1, &texture);
            texture = 0;
            pw = std::max(pw, localpw);
            ph = std::max(ph, localph);
            bpp = frameBpp;
            staging.assign(static_cast<size_t>(pw) * ph * frameBpp, 0);
            remade = true;
        }
        const bool define = texture == 0;
        if (define)
            glGenTextures(1, &texture);
        const size_t row = static_cast<size_t>(w) * frameBpp, stride = static_cast<size_t>(pw) * frameBpp;
        for (int y = 0; y < h; ++y)
            std::memcpy(staging.data() + y * stride, frame + y * row, row);
        const GLenum format = frameBpp == 3 ? GL_BGR : GL_BGRA;
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        if (define)
            glTexImage2D(GL_TEXTURE_2D, 0, frameBpp, pw, ph, 0, format, GL_UNSIGNED_BYTE, staging.data());
        else
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, pw, h, format, GL_UNSIGNED_BYTE, staging.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        return remade;
    }
};

// Size, internal format and RGBA texels of a texture's only level.
struct TextureImage {
    GLint w = 0, h = 0, internalFormat = 0;
    std::vector<uint8_t> texels;
};

TextureImage readTexture(GLuint texture)
{
    TextureImage image;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &image.w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &image.h);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &image.internalFormat);
    image.texels = qvtest::readTexture(texture, image.w, image.h);
    return image;
}

struct FrameStep {
    int w, h, bpp;
};

// Feeds the same frames (random bytes, alpha included) to a clip's `updates`
// and to the plain upload and compares after every frame: texture size and
// format, every texel, m_rw/m_rh, and whether the texture was made anew.
// Prints the first difference; true when there was none.
bool sameAsPlainUpload(const char* label, const std::vector<FrameStep>& steps)
{
    VideoRes clip;
    PlainUpload plain;
    std::mt19937 random(static_cast<unsigned>(steps.size()) * 7919u);
    bool same = true;
    for (size_t i = 0; i < steps.size() && same; ++i) {
        const FrameStep& step = steps[i];
        std::vector<uint8_t> frame(static_cast<size_t>(step.w) * step.h * step.bpp);
        for (uint8_t& byte : frame)
            byte = static_cast<uint8_t>(random());
        const GLuint before = clip.m_mTex;
        {
            QuietStdout quiet;
            updates(step.w, step.h, frame.data(), step.bpp, &clip);
        }
        const bool remade = plain.upload(step.w, step.h, frame.data(), step.bpp);
        const bool clipRemade = before == 0 || glIsTexture(before) == GL_FALSE || clip.m_mTex != before;
        const TextureImage ours = readTexture(clip.m_mTex), theirs = readTexture(plain.texture);
        const float rw = static_cast<float>(step.w) / static_cast<float>(plain.pw);
        const float rh = static_cast<float>(step.h) / static_cast<float>(plain.ph);
        std::string why;
        if (ours.w != theirs.w || ours.h != theirs.h || ours.internalFormat != theirs.internalFormat)
            why = "texture " + std::to_string(ours.w) + "x" + std::to_string(ours.h) + " format " +
                  std::to_string(ours.internalFormat) + ", plain " + std::to_string(theirs.w) + "x" +
                  std::to_string(theirs.h) + " format " + std::to_string(theirs.internalFormat);
        else if (clip.m_rw != rw || clip.m_rh != rh)
            why = "m_rw/m_rh " + std::to_string(clip.m_rw) + "/" + std::to_string(clip.m_rh);
        else if (clipRemade != remade)
            why = remade ? "texture kept where the plain upload made a new one" : "texture made anew";
        else if (ours.texels != theirs.texels) {
            const auto differ = std::mismatch(ours.texels.begin(), ours.texels.end(), theirs.texels.begin());
            const size_t at = static_cast<size_t>(differ.first - ours.texels.begin()) / 4;
            why = "texel (" + std::to_string(at % static_cast<size_t>(ours.w)) + ", " +
                  std::to_string(at / static_cast<size_t>(ours.w)) + ") differs";
        }
        same = why.empty();
        std::printf("  %s, frame %zu: %dx%d, %d bytes per pixel -> texture %dx%d%s: %s\n", label, i, step.w,
                    step.h, step.bpp, ours.w, ours.h, remade ? " (new)" : "",
                    same ? "identical" : why.c_str());
    }
    {
        QuietStdout quiet;
        clip.deleteTexture();
    }
    return same;
}

bool textureIdentityCheck()
{
    std::printf("-- texture contents against the plain upload (glGetTexImage after each frame) --\n");
    // Smaller frames after larger ones (the store kept), wider-but-lower frames,
    // larger frames (the store remade), odd sizes, 3 and 4 bytes per pixel mixed.
    const std::vector<FrameStep> four = {{720, 480, 4},   {300, 200, 4},  {1000, 500, 4}, {720, 480, 4},
                                         {1, 1, 4},       {1100, 600, 4}, {640, 360, 4},  {1280, 720, 4},
                                         {2000, 1000, 4}, {17, 9, 4},     {33, 1023, 4},  {2048, 1024, 4}};
    const std::vector<FrameStep> mixed = {{640, 360, 4}, {300, 100, 4}, {501, 301, 3}, {250, 350, 3},
                                          {640, 360, 4}, {99, 77, 4},   {700, 400, 3}, {1500, 90, 4},
                                          {1100, 80, 4}, {7, 5, 3}};
    const std::vector<FrameStep> threeFirst = {
        {641, 479, 3}, {320, 240, 3}, {700, 400, 4}, {333, 222, 4}, {701, 401, 3}};
    return sameAsPlainUpload("4 bytes", four) && sameAsPlainUpload("mixed", mixed) &&
           sameAsPlainUpload("3 bytes first", threeFirst);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const bool playbackOnly = argc > 2 && std::strcmp(argv[2], "playback") == 0;
    const std::string clipPath = qvtest::videoClip({qvtest::ClipFormat::H264Mp4, kWidth, kHeight, kFrames});
    const std::string smallClip = qvtest::videoClip({qvtest::ClipFormat::H264Mp4, 720, 480, 60});
    if (clipPath.empty() || smallClip.empty()) {
        std::fprintf(stderr, "ffmpeg could not make the clips\n");
        return 1;
    }
    qvtest::GlContext gl(kWidth, kHeight);
    if (!gl.ok()) {
        std::fprintf(stderr, "no GL context: %s\n", gl.error().c_str());
        return 1;
    }
    gl.makeCurrent();
    if (qv::loadGlEntryPoints() != GLEW_OK) {
        std::fprintf(stderr, "GL entry points could not be loaded\n");
        return 1;
    }
    gl.canvasProjection();
    if (!textureIdentityCheck()) {
        std::fprintf(stderr, "FAILED: the clip's texture differs from the plain upload\n");
        return 1;
    }
    std::printf("== video bench ==\n");
    std::printf("cpu: %s | nproc %ld (shared) | renderer: %s | %s\n", cpuModel().c_str(),
                sysconf(_SC_NPROCESSORS_ONLN), glGetString(GL_RENDERER), glGetString(GL_VERSION));
    std::printf("clip: H.264 (libx264, 2 B-frames, key frame every %d) %dx%d, %d frames at %d fps, %s\n",
                qvtest::kClipKeyInterval, kWidth, kHeight, kFrames, qvtest::kClipFramesPerSecond,
                clipPath.c_str());

    // ---- playback in order; ours and the baselines alternate run by run ----
    std::vector<double> program, plain;
    std::vector<std::vector<double>> ours(std::size(kPaths));
    std::vector<int> shown(std::size(kPaths), -1);
    std::vector<Split> splits(std::size(kPaths));
    std::vector<double> clipUpload, bareGl, bareGlLinear, bareGlFrame, bareGlFrameRev, loadOnly, pluginOnly;
    const size_t pathCount = playbackOnly ? 1 : std::size(kPaths);
    for (int r = 0; r < runs; ++r) {
        program.push_back(kFrames / ffmpegProgramSeconds(clipPath));
        PlainDecoder plainDecoder(clipPath);
        int decoded = 0;
        const double s = secondsOf([&] { decoded = plainDecoder.decode(kFrames + 10); });
        plain.push_back(decoded == kFrames ? kFrames / s : 0);
        for (size_t p = 0; p < pathCount; ++p)
            ours[p].push_back(playbackFps(clipPath, kPaths[p].loader, &shown[p], &splits[p]));
        clipUpload.push_back(clipUploadMs());
        bareGl.push_back(bareUploadAndDrawMs(false));
        bareGlFrame.push_back(bareUploadAndDrawMs(false, kWidth, kHeight));
        bareGlFrameRev.push_back(bareUploadAndDrawMs(false, kWidth, kHeight, GL_UNSIGNED_INT_8_8_8_8_REV));
        if (playbackOnly)
            continue;
        loadOnly.push_back(loadOnlyFps(clipPath, "ffmpegloader"));
        pluginOnly.push_back(pluginOnlyFps(clipPath));
        bareGlLinear.push_back(bareUploadAndDrawMs(true));
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double programFps = median(program), plainFps = median(plain);
    std::printf("\n-- playback in order, %d frames, median of %d runs (frames per second) --\n", kFrames,
                runs);
    std::printf("baseline  ffmpeg -threads 2 -i clip -f null - : %7.1f fps\n", programFps);
    std::printf("baseline  libavcodec alone, 2 frame threads  : %7.1f fps\n", plainFps);
    for (size_t p = 0; p < pathCount; ++p) {
        const double fps = median(ours[p]);
        std::printf("loadNextFrame+drawVideoTexture, %-28s: %7.1f fps  = %.2fx ffmpeg, %.2fx libavcodec "
                    "(last frame read back: %d)\n",
                    kPaths[p].label, fps, fps / programFps, fps / plainFps, shown[p]);
        std::printf("    per frame: loadNextFrame+glFinish %.2f ms, drawVideoTexture+glFinish %.2f ms\n",
                    splits[p].load * 1e3 / (kFrames * runs), splits[p].draw * 1e3 / (kFrames * runs));
    }
    std::printf(
        "the clip's upload alone (updates of a %dx%d BGRA frame into its 2048x1024 texture + glFinish): "
        "%.2f ms per frame\n",
        kWidth, kHeight, median(clipUpload));
    std::printf(
        "GL alone: glTexSubImage2D of the frame's 1280x720 region of the 2048x1024 texture + the same quad + "
        "glFinish: %.2f ms per frame (GL_UNSIGNED_BYTE), %.2f ms (GL_UNSIGNED_INT_8_8_8_8_REV); whole texture "
        "%.2f ms\n",
        median(bareGlFrame), median(bareGlFrameRev), median(bareGl));
    if (playbackOnly)
        return 0;
    std::printf(
        "plug-in alone: ffmpegloader GetFrame in order (decode + BGRA conversion, no library, no GL): %7.1f fps"
        "  = %.2fx ffmpeg, %.2fx libavcodec\n",
        median(pluginOnly), median(pluginOnly) / programFps, median(pluginOnly) / plainFps);
    std::printf(
        "loadNextFrame alone (decode, convert, upload; no draw), ffmpegloader: %7.1f fps  = %.2fx ffmpeg, "
        "%.2fx libavcodec\n",
        median(loadOnly), median(loadOnly) / programFps, median(loadOnly) / plainFps);
    std::printf(
        "GL alone: glTexSubImage2D of a 2048x1024 BGRA image + the same quad + glFinish: %.2f ms per frame "
        "(GL's default filters, as the clip), %.2f ms with GL_LINEAR\n",
        median(bareGl), median(bareGlLinear));

    // ---- random access ----
    std::mt19937 random(20261206);
    std::vector<int> requests(kRandomRequests);
    for (int& n : requests)
        n = static_cast<int>(random() % kFrames);
    const jlong seeking = openClip(clipPath, "ffmpegloader");
    int wrong = 0;
    double seekingSeconds = 0;
    {
        QuietStdout quiet;
        for (int n : requests) {
            seekingSeconds += secondsOf([&] { loadAndDraw(seeking, n); });
            wrong += shownNumber() != n;
        }
    }
    releaseClip(seeking);
    PlainDecoder gop(clipPath);
    double gopSeconds = 0;
    int gopFrames = 0;
    for (int n : requests) {
        gopSeconds += secondsOf([&] {
            gop.seekToFrame(n - n % qvtest::kClipKeyInterval);
            gopFrames += gop.decode(qvtest::kClipKeyInterval);
        });
    }
    const jlong sequential = openClip(clipPath, "xvidloader");
    double sequentialSeconds = 0;
    {
        QuietStdout quiet;
        for (int i = 0; i < kSequentialRequests; ++i)
            sequentialSeconds +=
                secondsOf([&] { loadAndDraw(sequential, requests[static_cast<size_t>(i)]); });
    }
    releaseClip(sequential);
    const double seekingMs = seekingSeconds * 1e3 / kRandomRequests;
    const double gopMs = gopSeconds * 1e3 / kRandomRequests;
    const double sequentialMs = sequentialSeconds * 1e3 / kSequentialRequests;
    std::printf("\n-- random access, %d random frame numbers (seeded), load+draw+glFinish each --\n",
                kRandomRequests);
    std::printf("ffmpegloader loadNextFrame: mean %.2f ms (wrong picture: %d)\n", seekingMs, wrong);
    std::printf(
        "baseline seek + decode one group of pictures (%d frames, libavcodec, %d frames decoded): mean %.2f ms"
        "  -> ratio %.2f\n",
        qvtest::kClipKeyInterval, gopFrames, gopMs, seekingMs / gopMs);
    std::printf(
        "xvidloader (sequential) loadNextFrame, first %d of the same requests: mean %.2f ms  -> %.1fx slower\n",
        kSequentialRequests, sequentialMs, sequentialMs / seekingMs);
    std::printf("ffmpegloader, same first %d requests: mean %.2f ms\n", kSequentialRequests, [&] {
        double s = 0;
        const jlong again = openClip(clipPath, "ffmpegloader");
        {
            QuietStdout quiet;
            for (int i = 0; i < kSequentialRequests; ++i)
                s += secondsOf([&] { loadAndDraw(again, requests[static_cast<size_t>(i)]); });
        }
        releaseClip(again);
        return s * 1e3 / kSequentialRequests;
    }());

    // ---- memory over open/load/close cycles ----
    std::printf(
        "\n-- resident memory (VmRSS) over %d cycles of open, load frame, draw, release (720x480 H.264) --\n",
        kCycles);
    for (const LoaderPath& path : {kPaths[0], kPaths[2]}) {
        auto cycle = [&](int i) {
            const jlong clip = openClip(smallClip, path.loader);
            if (!clip)
                return false;
            {
                QuietStdout quiet;
                loadAndDraw(clip, i % 60);
            }
            releaseClip(clip);
            return true;
        };
        for (int i = 0; i < 20; ++i)
            cycle(i); // warm-up: libraries, GL driver pools
        const long before = statusKiB("VmRSS:"), anonBefore = statusKiB("RssAnon:");
        const size_t heapBefore = mallinfo2().uordblks;
        int failed = 0;
        const double seconds = secondsOf([&] {
            for (int i = 0; i < kCycles; ++i)
                failed += !cycle(i);
        });
        const long after = statusKiB("VmRSS:"), anonAfter = statusKiB("RssAnon:");
        const size_t heapAfter = mallinfo2().uordblks;
        std::printf(
            "%-28s: VmRSS %ld -> %ld KiB, growth %ld KiB; RssAnon %ld -> %ld KiB; malloc in use %+.1f KiB "
            "(%.1f ms per cycle, %d failed)\n",
            path.label, before, after, after - before, anonBefore, anonAfter,
            (static_cast<double>(heapAfter) - static_cast<double>(heapBefore)) / 1024.0,
            seconds * 1e3 / kCycles, failed);
    }
    return 0;
}
