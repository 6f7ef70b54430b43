// movie: every frame of the scene video with the recording up to its time,
// encoded in process by the encoder's own library. Drawing (GL, this thread)
// and encoding (a thread of its own) overlap by one frame.
#include "app/Canvas.h"
#include "app/GlContext.h"
#include "app/Output.h"
#include "app/Progress.h"
#include "app/Render.h"
#include "video/VideoRes.h"
#include "video/Videoplay.h"
#include "video/mpgloader.h"

#include "qv_encode.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace qvr {

namespace {

// What the container says of the video stream: its frame count (0 when it
// does not say, for the progress bar) and its exact frame rate.
struct VideoFacts {
    long frames = 0;
    int rateNum = 0, rateDen = 1;
};

VideoFacts probeVideo(const std::string& path)
{
    VideoFacts facts;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        return facts;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (index >= 0) {
            const AVStream* stream = format->streams[index];
            const AVRational rate =
                stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
            if (rate.num > 0 && rate.den > 0) {
                facts.rateNum = rate.num;
                facts.rateDen = rate.den;
            }
            if (stream->nb_frames > 0)
                facts.frames = static_cast<long>(stream->nb_frames);
            else if (format->duration > 0 && rate.num > 0 && rate.den > 0)
                facts.frames =
                    static_cast<long>(std::llround(format->duration / double(AV_TIME_BASE) * av_q2d(rate)));
        }
    }
    avformat_close_input(&format);
    return facts;
}

// One frame in flight: the drawing thread draws the next frame while the
// encoder thread encodes the last. Serial (the benchmarks' model, asked for by
// QUORVEX_RENDER_SERIAL=1) encodes each frame before the next is drawn.
class EncoderThread {
public:
    EncoderThread(qv_encoder* encoder, int width, bool serial) : m_encoder(encoder), m_width(width)
    {
        m_busy = !serial; // the thread says when it first waits
        if (!serial)
            m_thread = std::thread([this] { run(); });
    }
    ~EncoderThread()
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closing = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    // Hands over a frame (swapped with the caller's buffer); false once encoding failed.
    bool submit(std::vector<uint8_t>& frame)
    {
        if (!m_thread.joinable()) {
            if (m_error.empty())
                m_error = encode(frame);
            return m_error.empty();
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_full || !m_error.empty(); });
        if (!m_error.empty())
            return false;
        m_pending.swap(frame);
        m_full = true;
        m_changed.notify_all();
        return true;
    }
    // Waits until every frame handed over is encoded; the first error, if any.
    std::string drain()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return (!m_full && !m_busy) || !m_error.empty(); });
        return m_error;
    }

private:
    void run()
    {
        std::vector<uint8_t> frame;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_busy = false;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return m_full || m_closing; });
                if (!m_full)
                    return;
                frame.swap(m_pending);
                m_full = false;
                m_busy = true;
                m_changed.notify_all();
            }
            std::string error = encode(frame);
            if (!error.empty()) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_error = std::move(error);
                m_busy = false;
                m_changed.notify_all();
                return;
            }
        }
    }

    // One frame into the movie: empty, or why it failed.
    std::string encode(const std::vector<uint8_t>& frame)
    {
        char why[256] = "";
        const ptrdiff_t stride = static_cast<ptrdiff_t>(m_width) * 4;
        return qv_encode_frame(m_encoder, frame.data(), stride, 1, why, sizeof why) >= 0 ? std::string()
                                                                                         : why;
    }

    qv_encoder* m_encoder;
    int m_width;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<uint8_t> m_pending;
    bool m_full = false, m_busy = false, m_closing = false;
    std::string m_error;
    std::thread m_thread;
};

// Opens the scene video through the MPEG loader plug-in. The plug-in and
// FFmpeg say why a file fails on stderr; that goes to a scratch file, and its
// last line becomes part of the renderer's one line.
VideoRes* openVideo(const std::string& path, bool verbose, std::string& why)
{
    if (verbose)
        return qv::openClip(strdup(path.c_str()), nullptr);
    std::fflush(stderr);
    FILE* scratch = std::tmpfile();
    const int saved = dup(STDERR_FILENO);
    if (scratch == nullptr || saved < 0) {
        if (scratch != nullptr)
            std::fclose(scratch);
        return qv::openClip(strdup(path.c_str()), nullptr);
    }
    dup2(fileno(scratch), STDERR_FILENO);
    const int level = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    VideoRes* clip = qv::openClip(strdup(path.c_str()), nullptr);
    av_log_set_level(level);
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::rewind(scratch);
    char line[512];
    while (std::fgets(line, sizeof line, scratch) != nullptr)
        why = line;
    std::fclose(scratch);
    const size_t colon = why.rfind(": cannot");
    why = colon == std::string::npos ? std::string() : why.substr(colon + 2);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r'))
        why.pop_back();
    return clip;
}

struct ClipCloser {
    void operator()(VideoRes* clip) const { qv::releaseClip(clip); }
};

// The frame a sample belongs to: Pupil rows carry it, others by time.
long frameOf(const Sample& s, double fps, double timeOffset)
{
    if (s.frame >= 0)
        return s.frame;
    if (!std::isfinite(s.timeS))
        return 0;
    return static_cast<long>(std::floor((s.timeS - timeOffset) * fps));
}

} // namespace

int renderMovie(const Options& o)
{
    std::string error;
    if (!qv_encode_supported(o.output.c_str()))
        return complain(kUsageError, "the output " + o.output + " must end in .mp4 (or .mkv, .mov, .avi)");
    if (!outputWritable(o.output, error))
        return complain(kUsageError, error);
    std::string loaderSays;
    std::unique_ptr<VideoRes, ClipCloser> clip(openVideo(o.video, o.verbose, loaderSays));
    if (clip == nullptr || clip->mpgloader == nullptr)
        return complain(kUsageError, o.video + ": the video loader cannot open it" +
                                         (loaderSays.empty() ? "" : " (" + loaderSays + ")"));
    const int width = clip->width & ~1, height = clip->height & ~1;
    // The container's exact rate, else what the loader says, else 30.
    VideoFacts facts = probeVideo(o.video);
    if (facts.rateNum == 0) {
        const double loaderFps = clip->mpgloader->fps > 0 ? clip->mpgloader->fps : 30.0;
        facts.rateNum = static_cast<int>(std::lround(loaderFps * 1000));
        facts.rateDen = 1000;
    }
    const double fps = static_cast<double>(facts.rateNum) / facts.rateDen;
    if (width < 2 || height < 2)
        return complain(kUsageError, o.video + ": no picture in the video");

    std::vector<Recording> recordings;
    std::vector<Aoi> aois;
    if (!readInputs(o, clip->width, clip->height, recordings, aois, error))
        return complain(kUsageError, error);
    // Samples in the order their frames come, each with its frame.
    Recording& recording = recordings[0];
    std::vector<std::pair<long, Sample>> timed;
    for (const Sample& s : recording.samples)
        timed.emplace_back(frameOf(s, fps, o.timeOffset), s);
    std::stable_sort(timed.begin(), timed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<long> frames;
    for (size_t i = 0; i < timed.size(); ++i) {
        frames.push_back(timed[i].first);
        recording.samples[i] = timed[i].second;
    }

    auto context = OffscreenContext::create(o.useGlx ? GlApi::Glx : GlApi::Egl, width, height, error);
    if (context == nullptr)
        return complain(kRenderFailed, error);
    Canvas canvas(o, width, height);
    if (!canvas.prepare(recordings, std::move(aois), error))
        return complain(kRenderFailed, error);
    VideoRes* video = clip.get();
    canvas.useBase([video] {
        qv::drawClip(video, 0, 0, video->width, video->height, 0, 0, video->width, video->height);
    });

    PendingOutput output(o.output);
    qv_encode_options encodeOptions;
    qv_encode_default_options(&encodeOptions);
    char why[256] = "";
    qv_encoder* encoder = qv_encode_open(output.temporary().c_str(), width, height, facts.rateNum,
                                         facts.rateDen, &encodeOptions, why, sizeof why);
    if (encoder == nullptr)
        return complain(kRenderFailed, why);

    Progress progress("movie", facts.frames);
    std::vector<uint8_t> pixels;
    size_t next = 0; // samples drawn so far
    const Sample* eye = nullptr;
    long eyeFrame = 0;
    // The eye's dot stays up to half a second after its last sample.
    const long eyeFrames = std::max(1L, std::lround(fps / 2));
    long frame = 0;
    {
        EncoderThread encoding(encoder, width, std::getenv("QUORVEX_RENDER_SERIAL") != nullptr);
        for (;; ++frame) {
            const int loaded = qv::loadClipFrame(*clip, static_cast<int>(frame));
            if (loaded < 0 || (frame > 0 && !clip->mpgloader->freshFrame()))
                break;
            for (; next < frames.size() && frames[next] <= frame; ++next) {
                canvas.addHeatSample(recording, recording.samples[next]);
                eye = &recording.samples[next];
                eyeFrame = frames[next];
            }
            canvas.draw(static_cast<long>(next));
            if (eye != nullptr && frame - eyeFrame <= eyeFrames && canvas.overlay() != nullptr)
                canvas.overlay()->drawEye(eye->x, eye->y);
            readFrame(width, height, pixels);
            if (!encoding.submit(pixels))
                break;
            progress.update(frame + 1);
        }
        error = encoding.drain();
    }
    progress.finish(frame);
    if (!error.empty()) {
        qv_encode_abort(encoder);
        return complain(kRenderFailed, error);
    }
    if (qv_encode_close(encoder, why, sizeof why) != 0)
        return complain(kRenderFailed, why);
    if (!output.commit(error))
        return complain(kRenderFailed, error);
    std::fprintf(stderr, "quorvex-render: wrote %s (%ld frames of %dx%d at %d/%d frames/s) with %s\n",
                 o.output.c_str(), frame, width, height, facts.rateNum, facts.rateDen,
                 context->renderer().c_str());
    return kRendered;
}

} // namespace qvr
