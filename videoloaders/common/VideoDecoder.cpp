#include "VideoDecoder.h"

#include "contracts/FrameSide.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/common.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

namespace qvloader {
namespace {

// advance() found the first picture after a seek already past the target.
constexpr int kOvershoot = 2;
// FFmpeg's frame threads, as many as it picks for the machine (cores + 1, at
// most 16): besides using the cores, frames in flight keep decoding while the
// caller uploads and draws the last one.
constexpr int kDecodeThreads = 0;
// Without an index, decode forward rather than seek for gaps up to this many frames.
constexpr int kForwardWindow = 24;

struct CodecName {
    AVCodecID id;
    const char* fourcc;
};
// Codes for streams whose container carries no tag (program streams, ...).
constexpr CodecName kCodecNames[] = {
    {AV_CODEC_ID_H264, "H264"},       {AV_CODEC_ID_HEVC, "HEVC"},       {AV_CODEC_ID_MPEG4, "MP4V"},
    {AV_CODEC_ID_MPEG2VIDEO, "MPG2"}, {AV_CODEC_ID_MPEG1VIDEO, "MPG1"}, {AV_CODEC_ID_MJPEG, "MJPG"},
    {AV_CODEC_ID_VP8, "VP80"},        {AV_CODEC_ID_VP9, "VP90"},        {AV_CODEC_ID_AV1, "AV01"},
};

void logError(const char* who, const char* path, const char* what, int err)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    if (err < 0)
        av_strerror(err, text, sizeof text);
    std::fprintf(stderr, "%s: %s: %s %s\n", who, path, what, text);
}

} // namespace

VideoDecoder* VideoDecoder::open(const char* path, const char* who)
{
    if (!path || !*path) {
        std::fprintf(stderr, "%s: no file name\n", who);
        return nullptr;
    }
    // Directories, FIFOs and devices would block or fail deep inside the demuxer.
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        logError(who, path, "is not a readable regular file", 0);
        return nullptr;
    }
    VideoDecoder* decoder = new (std::nothrow) VideoDecoder;
    if (!decoder)
        return nullptr;
    const int ret = decoder->openInput(path);
    if (ret < 0) {
        logError(who, path, "cannot be decoded:", ret);
        delete decoder;
        return nullptr;
    }
    return decoder;
}

VideoDecoder::~VideoDecoder()
{
    sws_freeContext(scaler_);
    av_frame_free(&ahead_);
    av_frame_free(&shown_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
}

// Opens the demuxer and finds the video stream (the same one again on reopening).
int VideoDecoder::openDemuxer(const AVCodec** decoder)
{
    int ret = avformat_open_input(&format_, path_.c_str(), nullptr, nullptr);
    if (ret < 0)
        return ret;
    ret = avformat_find_stream_info(format_, nullptr);
    if (ret < 0)
        return ret;
    ret = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, decoder, 0);
    if (ret < 0)
        return ret;
    if (stream_ >= 0 && ret != stream_)
        return AVERROR_INVALIDDATA;
    stream_ = ret;
    // The demuxer need not hand us audio or data packets.
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (static_cast<int>(i) != stream_)
            format_->streams[i]->discard = AVDISCARD_ALL;
    return 0;
}

int VideoDecoder::openInput(const char* path)
{
    path_ = path;
    const AVCodec* decoder = nullptr;
    int ret = openDemuxer(&decoder);
    if (ret < 0)
        return ret;
    AVStream* stream = format_->streams[stream_];

    codec_ = avcodec_alloc_context3(decoder);
    if (!codec_)
        return AVERROR(ENOMEM);
    ret = avcodec_parameters_to_context(codec_, stream->codecpar);
    if (ret < 0)
        return ret;
    codec_->thread_count = kDecodeThreads;
    codec_->thread_type = FF_THREAD_FRAME;
    codec_->pkt_timebase = stream->time_base;
    ret = avcodec_open2(codec_, decoder, nullptr);
    if (ret < 0)
        return ret;

    width_ = codec_->width;
    height_ = codec_->height;
    if (width_ <= 0 || height_ <= 0 || width_ > QV_MAX_FRAME_SIDE || height_ > QV_MAX_FRAME_SIDE)
        return AVERROR_INVALIDDATA;
    timeBase_ = stream->time_base;
    rate_ = av_guess_frame_rate(format_, stream, nullptr);
    if (rate_.num <= 0 || rate_.den <= 0)
        rate_ = AVRational{25, 1};
    if (timeBase_.num <= 0 || timeBase_.den <= 0)
        return AVERROR_INVALIDDATA;

    packet_ = av_packet_alloc();
    shown_ = av_frame_alloc();
    ahead_ = av_frame_alloc();
    if (!packet_ || !shown_ || !ahead_)
        return AVERROR(ENOMEM);

    // The first frame fixes the time stamp of frame 0 and proves the file decodes.
    ret = advance(0);
    return ret == 1 ? 0 : (ret < 0 ? ret : AVERROR_INVALIDDATA);
}

int VideoDecoder::frameCountEstimate() const
{
    if (!format_)
        return 0;
    const AVStream* stream = format_->streams[stream_];
    if (stream->nb_frames > 0 && stream->nb_frames < INT_MAX)
        return static_cast<int>(stream->nb_frames);
    int64_t frames = 0;
    if (stream->duration > 0)
        frames = av_rescale_q(stream->duration, timeBase_, av_inv_q(rate_));
    else if (format_->duration > 0)
        frames = av_rescale_q(format_->duration, AV_TIME_BASE_Q, av_inv_q(rate_));
    return frames > 0 && frames < INT_MAX ? static_cast<int>(frames) : 0;
}

void VideoDecoder::fourcc(char* text, size_t size) const
{
    if (!text || size == 0)
        return;
    if (!format_) {
        text[0] = 0;
        return;
    }
    const AVCodecParameters* par = format_->streams[stream_]->codecpar;
    char tag[5] = {static_cast<char>(par->codec_tag & 0xff), static_cast<char>((par->codec_tag >> 8) & 0xff),
                   static_cast<char>((par->codec_tag >> 16) & 0xff),
                   static_cast<char>((par->codec_tag >> 24) & 0xff), 0};
    bool printable = par->codec_tag != 0;
    for (int i = 0; i < 4 && printable; ++i)
        printable = std::isprint(static_cast<unsigned char>(tag[i]));
    const char* name = printable ? tag : avcodec_get_name(par->codec_id);
    if (!printable) {
        for (const CodecName& c : kCodecNames)
            if (c.id == par->codec_id)
                name = c.fourcc;
    }
    std::snprintf(text, size, "%s", name);
}

// Reads the next packet of our stream into the decoder; at the end of the
// input, tells the decoder so that it gives out the frames it still holds.
int VideoDecoder::feedDecoder()
{
    for (;;) {
        int ret = av_read_frame(format_, packet_);
        if (ret < 0) {
            // End of file or a read error in a damaged file: either way no more input.
            inputEnded_ = true;
            ret = avcodec_send_packet(codec_, nullptr);
            return ret == AVERROR_EOF ? 0 : ret;
        }
        if (packet_->stream_index != stream_) {
            av_packet_unref(packet_);
            continue;
        }
        ret = avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
        // A damaged packet is skipped; only running out of memory stops decoding.
        if (ret == AVERROR(ENOMEM))
            return ret;
        if (ret == 0)
            return 0;
    }
}

// The next frame out of the decoder: 1 = a frame in `out`, 0 = no more frames.
int VideoDecoder::decodeFrame(AVFrame* out, int* number)
{
    for (;;) {
        int ret = avcodec_receive_frame(codec_, out);
        if (ret == 0) {
            if (needKeyFrame_ && !out->key_frame) {
                // Pictures before the first key frame after a seek lack their references.
                av_frame_unref(out);
                continue;
            }
            needKeyFrame_ = false;
            *number = frameNumber(out);
            return 1;
        }
        if (ret == AVERROR_EOF || (ret == AVERROR(EAGAIN) && inputEnded_)) {
            drained_ = true;
            return 0;
        }
        if (ret != AVERROR(EAGAIN))
            return ret;
        ret = feedDecoder();
        if (ret < 0)
            return ret;
    }
}

int VideoDecoder::frameNumber(const AVFrame* frame)
{
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        ts = frame->pts;
    if (ts == AV_NOPTS_VALUE) {
        // No time stamp (AVI's last frame, frames right after a seek in AVI):
        // it follows the frame before, if that one's number is known.
        // Decoding from the start, the first such frame is frame 0.
        if (lastNumber_ < 0 && !fromStart_)
            return -1;
        if (lastNumber_ < INT_MAX - 1)
            ++lastNumber_;
        return lastNumber_;
    }
    if (!haveFirstTimestamp_) {
        firstTimestamp_ = ts;
        haveFirstTimestamp_ = true;
    }
    const int64_t n = av_rescale_q_rnd(av_sat_sub64(ts, firstTimestamp_), timeBase_, av_inv_q(rate_),
                                       static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    lastNumber_ = n < 0 ? -1 : (n >= INT_MAX ? INT_MAX - 1 : static_cast<int>(n));
    return lastNumber_;
}

// Makes sure ahead_ holds the next picture after position_: 1 = it does,
// 0 = the clip has no more, negative = error.
int VideoDecoder::fillAhead()
{
    while (aheadNumber_ < 0) {
        if (drained_)
            return 0;
        int number = -1;
        const int ret = decodeFrame(ahead_, &number);
        if (ret <= 0)
            return ret;
        if (number < 0 || number <= position_) {
            av_frame_unref(ahead_); // a second frame for a number already shown
            continue;
        }
        aheadNumber_ = number;
    }
    return 1;
}

// Decodes forward until shown_ is the picture of frame n (n >= position_):
// 1 = done, 0 = the clip ends before n, kOvershoot = nothing at or before n
// since the last seek, negative = error.
int VideoDecoder::advance(int n)
{
    for (;;) {
        if (position_ == n)
            return 1;
        const int ret = fillAhead();
        if (ret == 0 && position_ < 0)
            return kOvershoot; // nothing numbered since the seek
        if (ret <= 0)
            return ret;
        if (aheadNumber_ <= n) {
            av_frame_unref(shown_);
            av_frame_move_ref(shown_, ahead_);
            position_ = aheadNumber_;
            aheadNumber_ = -1;
            delivered_ = false;
            continue;
        }
        // The next picture is due after n: the current one stands for n too.
        if (position_ < 0)
            return kOvershoot;
        position_ = n;
        delivered_ = false;
        return 1;
    }
}

int64_t VideoDecoder::timestampOf(int n) const
{
    return av_sat_add64(firstTimestamp_, av_rescale_q(n, av_inv_q(rate_), timeBase_));
}

void VideoDecoder::resetDecoding()
{
    avcodec_flush_buffers(codec_);
    av_frame_unref(shown_);
    av_frame_unref(ahead_);
    position_ = -1;
    aheadNumber_ = -1;
    lastNumber_ = -1;
    delivered_ = false;
    inputEnded_ = false;
    drained_ = false;
}

int VideoDecoder::seekDemuxer(int n)
{
    return av_seek_frame(format_, stream_, timestampOf(n), AVSEEK_FLAG_BACKWARD);
}

// Back to frame 0: by time stamp, else by byte 0 (program streams seek by
// time only approximately), else by opening the file again.
int VideoDecoder::rewind(int way)
{
    switch (way) {
    case 0: return av_seek_frame(format_, stream_, firstTimestamp_, AVSEEK_FLAG_BACKWARD);
    case 1:
        if (format_->iformat->flags & AVFMT_NO_BYTE_SEEK)
            return AVERROR(ENOSYS);
        return av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE);
    default: {
        avformat_close_input(&format_);
        const AVCodec* decoder = nullptr;
        const int ret = openDemuxer(&decoder);
        if (ret < 0)
            avformat_close_input(&format_); // the clip is unusable from now on
        return ret;
    }
    }
}

// Seeks to the key frame at or before n and decodes up to n. Demuxers that
// seek by estimate (program streams), or give no time stamps right after a
// seek (AVI), may leave us past n or unable to number frames; then the seek
// is repeated further back, and finally from the start of the file.
int VideoDecoder::seekTo(int n)
{
    const int second = rate_.num / rate_.den + 1;
    for (int target : {n, n - 2 * second, n - 8 * second}) {
        if (target <= 0)
            break;
        const int ret = seekDemuxer(target);
        resetDecoding(); // whatever the outcome, the demuxer may have moved
        if (ret < 0)
            continue;
        needKeyFrame_ = true;
        fromStart_ = false;
        const int got = advance(n);
        if (got != kOvershoot)
            return got;
    }
    for (int way = 0; way < 3; ++way) {
        const int ret = rewind(way);
        if (!format_)
            return ret; // reopening failed: the file is gone
        resetDecoding();
        if (ret < 0)
            continue;
        needKeyFrame_ = false; // the file's first frames are taken as they come
        fromStart_ = true;
        const int got = advance(n);
        if (got != kOvershoot)
            return got;
    }
    return AVERROR_INVALIDDATA; // even from the start nothing at or before n
}

// Whether a key frame lies after the current position and at or before n,
// i.e. a seek would skip decoding work.
bool VideoDecoder::keyFrameAfterPosition(int n)
{
    AVStream* stream = format_->streams[stream_];
    if (avformat_index_get_entries_count(stream) <= 0)
        return n - position_ > kForwardWindow;
    const AVIndexEntry* key =
        avformat_index_get_entry_from_timestamp(stream, timestampOf(n), AVSEEK_FLAG_BACKWARD);
    if (!key)
        return false;
    const int64_t keyFrame = av_rescale_q_rnd(av_sat_sub64(key->timestamp, firstTimestamp_), timeBase_,
                                              av_inv_q(rate_), AV_ROUND_NEAR_INF);
    return keyFrame > position_;
}

int VideoDecoder::toBgra(const AVFrame* frame, uint8_t* bgra, int pitch)
{
    scaler_ =
        sws_getCachedContext(scaler_, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                             width_, height_, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler_)
        return AVERROR(EINVAL);
    uint8_t* planes[4] = {bgra, nullptr, nullptr, nullptr};
    const int strides[4] = {pitch, 0, 0, 0};
    const int rows = sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, planes, strides);
    return rows > 0 ? 0 : AVERROR(EINVAL);
}

int VideoDecoder::frameAt(int n, uint8_t* bgra, int pitch)
{
    if (!format_ || n < 0 || !bgra || pitch < width_ * 4)
        return -1;
    if (n != position_) {
        int ret;
        if (position_ >= 0 && n > position_ && (n == position_ + 1 || !keyFrameAfterPosition(n)))
            ret = advance(n);
        else
            ret = seekTo(n);
        if (ret != 1)
            return -1;
    }
    if (toBgra(shown_, bgra, pitch) < 0)
        return -1;
    delivered_ = true;
    return n;
}

int VideoDecoder::nextFrame(uint8_t* bgra, int pitch, int* number)
{
    if (!format_ || !bgra || !number || pitch < width_ * 4)
        return 0;
    if (position_ < 0 || delivered_) {
        if (advance(position_ + 1) != 1)
            return 0;
    }
    if (toBgra(shown_, bgra, pitch) < 0)
        return 0;
    delivered_ = true;
    *number = position_;
    return 1;
}

bool VideoDecoder::hasNextFrame()
{
    if (position_ >= 0 && !delivered_)
        return true;
    return format_ && fillAhead() == 1;
}

} // namespace qvloader
