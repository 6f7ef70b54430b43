/*
 * quorvex-encoder: turns the raw frames the viewer streams through the named
 * pipe "/tmp/fifoChannel" into a movie.
 *
 * The viewer starts it with argv[0] = output path (not the program name),
 * argv[1] width, argv[2] height, argv[3] frame rate, argv[4] bytes per pixel
 * ("4"). Frames arrive back to back: width x height x 4 bytes, B G R A,
 * bottom row first, no padding. .mp4, .mkv and .mov get H.264 (libx264,
 * yuv420p); .avi gets MPEG-4 part 2. End of stream or SIGTERM finishes the
 * movie (encoder flushed, trailer written), so a stopped export still plays.
 *
 * Options come from the environment, since the viewer's argument vector is
 * fixed: QUORVEX_ENCODER_PRESET (x264 preset, default "ultrafast"),
 * QUORVEX_ENCODER_CRF (x264 quality 0-51, default 23),
 * QUORVEX_ENCODER_QSCALE (MPEG-4 quantiser 1-31, default 3),
 * QUORVEX_ENCODER_WAIT (seconds to wait for the pipe and its writer,
 * default 30).
 */
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "contracts/FifoPath.h"
#include "contracts/FrameSide.h"

#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>

#define MAX_RATE 1000
/* Frames are big and the default 64 KiB pipe makes the writer wait on every
 * few rows; a larger pipe lets a whole stripe through per wake-up. */
#define PIPE_BYTES (1 << 20)
#define PROGRESS_SECONDS 2.0

static volatile sig_atomic_t stop_requested;
/* SIGTERM and SIGINT stay blocked except inside ppoll(), which lets them in
 * atomically: a stop that comes just before a wait still ends that wait. */
static sigset_t wait_mask;

static void on_stop(int sig)
{
    (void)sig;
    stop_requested = 1;
}

struct container {
    const char* extension;
    const char* format;
    enum AVCodecID codec;
    const char* encoder;
    /* YUV matrix: H.264 carries the tag; AVI cannot, and FFmpeg's decoders
     * then assume BT.601. */
    enum AVColorSpace space;
    int sws_space;
};

static const struct container containers[] = {
    {".mp4", "mp4", AV_CODEC_ID_H264, "libx264", AVCOL_SPC_BT709, SWS_CS_ITU709},
    {".mkv", "matroska", AV_CODEC_ID_H264, "libx264", AVCOL_SPC_BT709, SWS_CS_ITU709},
    {".mov", "mov", AV_CODEC_ID_H264, "libx264", AVCOL_SPC_BT709, SWS_CS_ITU709},
    {".avi", "avi", AV_CODEC_ID_MPEG4, "mpeg4", AVCOL_SPC_SMPTE170M, SWS_CS_ITU601},
};

static void fail(const char* fmt, ...)
{
    va_list ap;
    fputs("quorvex-encoder: ", stderr);
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fputc('\n', stderr);
}

static const char* av_error(int err)
{
    static char text[AV_ERROR_MAX_STRING_SIZE];
    return av_make_error_string(text, sizeof(text), err);
}

static double now_seconds(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* A whole decimal number in [lo, hi]; anything else is refused. */
static int parse_int(const char* text, long lo, long hi, int* out)
{
    char* end;
    long v;
    if (!text || !*text)
        return -1;
    errno = 0;
    v = strtol(text, &end, 10);
    if (errno || *end || v < lo || v > hi)
        return -1;
    *out = (int)v;
    return 0;
}

static const char* env_or(const char* name, const char* fallback)
{
    const char* v = getenv(name);
    return v && *v ? v : fallback;
}

static const struct container* container_for(const char* path)
{
    const char* dot = strrchr(path, '.');
    size_t i;
    if (!dot || strchr(dot, '/'))
        return NULL;
    for (i = 0; i < sizeof(containers) / sizeof(containers[0]); i++)
        if (!strcasecmp(dot, containers[i].extension))
            return &containers[i];
    return NULL;
}

/* The stop handler only sets a flag; the signals are blocked from here on
 * and delivered only while waiting in ppoll(). */
static int install_stop_handler(void)
{
    struct sigaction sa;
    sigset_t stops;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    if (sigaction(SIGTERM, &sa, NULL) < 0 || sigaction(SIGINT, &sa, NULL) < 0 ||
        sigprocmask(SIG_BLOCK, &stops, &wait_mask) < 0)
        return -1;
    sigdelset(&wait_mask, SIGTERM);
    sigdelset(&wait_mask, SIGINT);
    return 0;
}

/* Waits until fd (or, with fd < 0, only the time-out) is due. 1: readable or
 * hung up; 0: time-out; -1: stopped; -2: error (errno set). */
static int wait_for(int fd, double seconds)
{
    struct pollfd p = {fd, POLLIN, 0};
    struct timespec ts, *timeout = NULL;
    int n;
    if (seconds >= 0) {
        ts.tv_sec = (time_t)seconds;
        ts.tv_nsec = (long)((seconds - (double)ts.tv_sec) * 1e9);
        timeout = &ts;
    }
    for (;;) {
        if (stop_requested)
            return -1;
        n = ppoll(fd >= 0 ? &p : NULL, fd >= 0 ? 1 : 0, timeout, &wait_mask);
        if (n > 0)
            return 1;
        if (n == 0)
            return 0;
        if (errno != EINTR)
            return -2;
    }
}

/* Waits until the pipe exists and a writer has opened it; -1 on stop or
 * time-out (the reason printed). */
static int open_pipe(double deadline)
{
    struct stat st;
    int fd, ready;

    for (;;) {
        /* A stale regular file or link is not our pipe: keep waiting for
         * the viewer to replace it. */
        if (lstat(QV_FIFO_PATH, &st) == 0 && S_ISFIFO(st.st_mode))
            break;
        if (now_seconds() >= deadline) {
            fail("gave up waiting for %s", QV_FIFO_PATH);
            return -1;
        }
        if (wait_for(-1, 0.02) == -1) {
            fail("stopped while waiting for %s", QV_FIFO_PATH);
            return -1;
        }
    }

    /* Opened without waiting; a FIFO read end then polls ready only once a
     * writer has come (data, or its close), which bounds the wait. */
    fd = open(QV_FIFO_PATH, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        fail("cannot open %s: %s", QV_FIFO_PATH, strerror(errno));
        return -1;
    }
    if (fstat(fd, &st) < 0 || !S_ISFIFO(st.st_mode)) {
        fail("%s is not a named pipe", QV_FIFO_PATH);
        close(fd);
        return -1;
    }
    ready = wait_for(fd, deadline > now_seconds() ? deadline - now_seconds() : 0);
    if (ready < 1) {
        if (ready == -1)
            fail("stopped while waiting for a writer on %s", QV_FIFO_PATH);
        else if (ready == 0)
            fail("gave up waiting for a writer on %s", QV_FIFO_PATH);
        else
            fail("cannot wait on %s: %s", QV_FIFO_PATH, strerror(errno));
        close(fd);
        return -1;
    }
    /* Reads block again from here; each is preceded by a wait anyway. Best
     * effort on the size: the default only costs speed. */
    fcntl(fd, F_SETFL, 0);
    fcntl(fd, F_SETPIPE_SZ, PIPE_BYTES);
    return fd;
}

/* Fills buf with one frame. Returns the bytes read: size for a frame, less
 * at end of stream or when stopped; -1 on an error. */
static long read_frame(int fd, uint8_t* buf, size_t size)
{
    size_t got = 0;
    while (got < size) {
        ssize_t n;
        int ready = wait_for(fd, -1);
        if (ready == -1)
            break;
        if (ready < 0)
            return -1;
        n = read(fd, buf + got, size - got);
        if (n > 0)
            got += (size_t)n;
        else if (n == 0)
            break;
        else if (errno != EINTR && errno != EAGAIN)
            return -1;
    }
    return (long)got;
}

/* Sends one frame (NULL flushes) and writes every packet that comes out. */
static int encode(AVCodecContext* c, AVFrame* frame, AVPacket* pkt, AVFormatContext* oc, AVStream* st)
{
    int ret = avcodec_send_frame(c, frame);
    if (ret < 0) {
        fail("cannot send a frame to the encoder: %s", av_error(ret));
        return ret;
    }
    for (;;) {
        ret = avcodec_receive_packet(c, pkt);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0) {
            fail("encoding failed: %s", av_error(ret));
            return ret;
        }
        /* Each frame lasts one tick; the muxers take the movie's duration
         * from the last packet's. */
        if (pkt->duration == 0)
            pkt->duration = 1;
        av_packet_rescale_ts(pkt, c->time_base, st->time_base);
        pkt->stream_index = st->index;
        ret = av_interleaved_write_frame(oc, pkt);
        if (ret < 0) {
            fail("cannot write a packet: %s", av_error(ret));
            return ret;
        }
    }
}

int main(int argc, char** argv)
{
    const char* out_path = argc > 0 ? argv[0] : NULL;
    const struct container* fmt = NULL;
    const AVCodec* codec = NULL;
    AVFormatContext* oc = NULL;
    AVCodecContext* c = NULL;
    AVStream* st = NULL;
    AVFrame* frame = NULL;
    AVPacket* pkt = NULL;
    struct SwsContext* sws = NULL;
    uint8_t* raw = NULL;
    size_t frame_bytes = 0, row_bytes;
    int width, height, rate, bpp, wait_s, quality;
    int fd = -1, header_written = 0, file_open = 0, ret;
    int64_t frames = 0;
    double start, last_report;
    long got = 0;

    if (argc != 5) {
        fail("expected argv[0]=OUTPUT (.mp4 .mkv .mov .avi) and WIDTH HEIGHT RATE 4, got %d arguments",
             argc - 1);
        return 1;
    }
    if (!out_path || !*out_path) {
        fail("empty output path");
        return 1;
    }
    if (parse_int(argv[1], 2, QV_MAX_FRAME_SIDE, &width) < 0 || width % 2) {
        fail("bad width '%s': an even number from 2 to %d", argv[1], QV_MAX_FRAME_SIDE);
        return 1;
    }
    if (parse_int(argv[2], 2, QV_MAX_FRAME_SIDE, &height) < 0 || height % 2) {
        fail("bad height '%s': an even number from 2 to %d", argv[2], QV_MAX_FRAME_SIDE);
        return 1;
    }
    if (parse_int(argv[3], 1, MAX_RATE, &rate) < 0) {
        fail("bad frame rate '%s': a whole number from 1 to %d", argv[3], MAX_RATE);
        return 1;
    }
    if (parse_int(argv[4], 4, 4, &bpp) < 0) {
        fail("bad bytes per pixel '%s': only 4 (BGRA) is streamed", argv[4]);
        return 1;
    }
    if (parse_int(env_or("QUORVEX_ENCODER_WAIT", "30"), 1, 3600, &wait_s) < 0) {
        fail("bad QUORVEX_ENCODER_WAIT: seconds from 1 to 3600");
        return 1;
    }
    fmt = container_for(out_path);
    if (!fmt) {
        fail("unsupported output '%s': use .mp4, .mkv, .mov or .avi", out_path);
        return 1;
    }
    if (install_stop_handler() < 0) {
        fail("cannot install signal handlers: %s", strerror(errno));
        return 1;
    }
    av_log_set_level(AV_LOG_WARNING);
    row_bytes = (size_t)width * 4;
    frame_bytes = row_bytes * (size_t)height;

    /* Everything that can fail for a reason of our own fails before the
     * viewer starts streaming. */
    ret = avformat_alloc_output_context2(&oc, NULL, fmt->format, out_path);
    if (ret < 0) {
        fail("cannot set up %s output: %s", fmt->format, av_error(ret));
        goto end;
    }
    codec = avcodec_find_encoder_by_name(fmt->encoder);
    if (!codec) {
        fail("encoder %s is not available in this FFmpeg", fmt->encoder);
        ret = AVERROR_ENCODER_NOT_FOUND;
        goto end;
    }
    st = avformat_new_stream(oc, NULL);
    c = avcodec_alloc_context3(codec);
    frame = av_frame_alloc();
    pkt = av_packet_alloc();
    raw = av_malloc(frame_bytes);
    if (!st || !c || !frame || !pkt || !raw) {
        fail("out of memory");
        ret = AVERROR(ENOMEM);
        goto end;
    }

    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = (AVRational){1, rate};
    c->framerate = (AVRational){rate, 1};
    c->gop_size = 10 * rate;
    c->thread_count = 0;
    /* The viewer draws sRGB: say so, or players guess the matrix by size. */
    c->colorspace = fmt->space;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    if (fmt->codec == AV_CODEC_ID_H264) {
        if (parse_int(env_or("QUORVEX_ENCODER_CRF", "23"), 0, 51, &quality) < 0) {
            fail("bad QUORVEX_ENCODER_CRF: a whole number from 0 to 51");
            ret = AVERROR(EINVAL);
            goto end;
        }
        ret = av_opt_set(c->priv_data, "preset", env_or("QUORVEX_ENCODER_PRESET", "ultrafast"), 0);
        if (ret >= 0)
            ret = av_opt_set_int(c->priv_data, "crf", quality, 0);
        if (ret < 0) {
            fail("cannot set the x264 options: %s", av_error(ret));
            goto end;
        }
    } else {
        if (parse_int(env_or("QUORVEX_ENCODER_QSCALE", "3"), 1, 31, &quality) < 0) {
            fail("bad QUORVEX_ENCODER_QSCALE: a whole number from 1 to 31");
            ret = AVERROR(EINVAL);
            goto end;
        }
        /* Constant quantiser: the default bit rate would smear a screen. */
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * quality;
    }
    if (oc->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    ret = avcodec_open2(c, codec, NULL);
    if (ret < 0) {
        fail("cannot open encoder %s: %s", fmt->encoder, av_error(ret));
        goto end;
    }
    ret = avcodec_parameters_from_context(st->codecpar, c);
    if (ret < 0) {
        fail("cannot copy the stream parameters: %s", av_error(ret));
        goto end;
    }
    st->time_base = c->time_base;
    st->avg_frame_rate = c->framerate;
    st->r_frame_rate = c->framerate;

    frame->format = c->pix_fmt;
    frame->width = width;
    frame->height = height;
    ret = av_frame_get_buffer(frame, 0);
    if (ret < 0) {
        fail("cannot allocate a picture: %s", av_error(ret));
        goto end;
    }
    sws = sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                         NULL, NULL, NULL);
    if (!sws) {
        fail("cannot set up the BGRA to YUV conversion");
        ret = AVERROR(EINVAL);
        goto end;
    }
    /* Full-range RGB in, limited-range YUV out, by the matrix tagged above. */
    ret = sws_setColorspaceDetails(sws, sws_getCoefficients(fmt->sws_space), 1,
                                   sws_getCoefficients(fmt->sws_space), 0, 0, 1 << 16, 1 << 16);
    if (ret < 0) {
        fail("cannot set the colour conversion");
        ret = AVERROR(EINVAL);
        goto end;
    }

    ret = avio_open(&oc->pb, out_path, AVIO_FLAG_WRITE);
    if (ret < 0) {
        fail("cannot open %s for writing: %s", out_path, av_error(ret));
        goto end;
    }
    file_open = 1;
    ret = avformat_write_header(oc, NULL);
    if (ret < 0) {
        fail("cannot write the %s header: %s", fmt->format, av_error(ret));
        goto end;
    }
    header_written = 1;

    fd = open_pipe(now_seconds() + wait_s);
    if (fd < 0) {
        ret = AVERROR(EIO);
        goto end;
    }

    start = last_report = now_seconds();
    for (;;) {
        const uint8_t* src[4];
        int src_stride[4] = {0};

        got = read_frame(fd, raw, frame_bytes);
        if (got < 0) {
            ret = AVERROR(errno);
            fail("reading %s failed: %s", QV_FIFO_PATH, av_error(ret));
            goto end;
        }
        if ((size_t)got < frame_bytes)
            break;

        ret = av_frame_make_writable(frame);
        if (ret < 0) {
            fail("cannot get a writable picture: %s", av_error(ret));
            goto end;
        }
        /* Rows arrive bottom-up: start at the last row and step backwards. */
        src[0] = raw + frame_bytes - row_bytes;
        src[1] = src[2] = src[3] = NULL;
        src_stride[0] = -(int)row_bytes;
        if (sws_scale(sws, src, src_stride, 0, height, frame->data, frame->linesize) != height) {
            fail("BGRA to YUV conversion failed");
            ret = AVERROR(EINVAL);
            goto end;
        }
        frame->pts = frames++;

        ret = encode(c, frame, pkt, oc, st);
        if (ret < 0)
            goto end;

        if (now_seconds() - last_report >= PROGRESS_SECONDS) {
            last_report = now_seconds();
            fprintf(stderr, "quorvex-encoder: %lld frames, %.1f frames/s\n", (long long)frames,
                    frames / (last_report - start));
        }
    }
    if (got > 0)
        fprintf(stderr, "quorvex-encoder: dropped a partial last frame (%ld of %zu bytes)\n", got,
                frame_bytes);

    ret = encode(c, NULL, pkt, oc, st);
    if (ret < 0)
        goto end;
    if (frames == 0) {
        fail("no frame received, nothing written");
        ret = AVERROR(EIO);
        goto end;
    }
    header_written = 0;
    ret = av_write_trailer(oc);
    if (ret < 0) {
        fail("cannot finish %s: %s", out_path, av_error(ret));
        goto end;
    }
    {
        double elapsed = now_seconds() - start;
        fprintf(
            stderr,
            "quorvex-encoder: wrote %lld frames (%.2f s at %d frames/s) of %dx%d to %s in %.2f s, %.1f frames/s%s\n",
            (long long)frames, (double)frames / rate, rate, width, height, out_path, elapsed,
            elapsed > 0 ? frames / elapsed : 0.0, stop_requested ? ", stopped by signal" : "");
    }

end:
    if (fd >= 0)
        close(fd);
    /* After a failure in the middle, what was encoded stays playable. */
    if (header_written && frames > 0)
        av_write_trailer(oc);
    if (file_open)
        avio_closep(&oc->pb);
    /* A movie without a single frame is no movie. */
    if (file_open && frames == 0)
        unlink(out_path);
    sws_freeContext(sws);
    av_free(raw);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&c);
    avformat_free_context(oc);
    return ret < 0 ? 1 : 0;
}
