/* qv_encode: BGRA frames to H.264 or MPEG-4 movies, after FFmpeg's
 * doc/examples (encode_video, mux): every FFmpeg return checked, one cleanup
 * in release(). */
#include "qv_encode.h"

#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "contracts/FrameSide.h"

#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>

struct container {
    const char* extension;
    const char* format;
    int kind; /* QV_ENCODE_H264 or QV_ENCODE_MPEG4 */
    const char* encoder;
    /* YUV matrix: H.264 carries the tag; AVI cannot, and FFmpeg's decoders
     * then assume BT.601. */
    enum AVColorSpace space;
    int sws_space;
};

static const struct container containers[] = {
    {".mp4", "mp4", QV_ENCODE_H264, "libx264", AVCOL_SPC_BT709, SWS_CS_ITU709},
    {".mkv", "matroska", QV_ENCODE_H264, "libx264", AVCOL_SPC_BT709, SWS_CS_ITU709},
    {".mov", "mov", QV_ENCODE_H264, "libx264", AVCOL_SPC_BT709, SWS_CS_ITU709},
    {".avi", "avi", QV_ENCODE_MPEG4, "mpeg4", AVCOL_SPC_SMPTE170M, SWS_CS_ITU601},
};

struct qv_encoder {
    const struct container* fmt;
    int width, height;
    AVFormatContext* oc;
    AVStream* st;
    AVCodecContext* c;
    AVFrame* frame;
    AVPacket* pkt;
    struct SwsContext* sws;
    int file_open, header_written;
    int64_t frames; /* handed to the encoder */
};

/* Puts one line into the caller's buffer and passes ret through. */
static int __attribute__((format(printf, 4, 5)))
fail(char* err, size_t err_size, int ret, const char* fmt, ...)
{
    va_list ap;
    if (err && err_size) {
        va_start(ap, fmt);
        vsnprintf(err, err_size, fmt, ap);
        va_end(ap);
    }
    return ret;
}

static const struct container* container_for(const char* path)
{
    const char* dot = path ? strrchr(path, '.') : NULL;
    size_t i;
    if (!dot || strchr(dot, '/'))
        return NULL;
    for (i = 0; i < sizeof(containers) / sizeof(containers[0]); i++)
        if (!av_strcasecmp(dot, containers[i].extension))
            return &containers[i];
    return NULL;
}

void qv_encode_default_options(qv_encode_options* o)
{
    o->preset = "ultrafast";
    o->crf = 23;
    o->qscale = 3;
}

int qv_encode_supported(const char* path)
{
    const struct container* fmt = container_for(path);
    return fmt ? fmt->kind : QV_ENCODE_UNSUPPORTED;
}

/* Refuses what FFmpeg would take badly, before anything is made. */
static int check_request(const char* path, int width, int height, int rate_num, int rate_den,
                         const qv_encode_options* o, char* err, size_t err_size)
{
    const int kind = qv_encode_supported(path);
    if (!path || !*path)
        return fail(err, err_size, AVERROR(EINVAL), "empty output path");
    if (!kind)
        return fail(err, err_size, AVERROR(EINVAL), "unsupported output '%s': use .mp4, .mkv, .mov or .avi",
                    path);
    if (width < 2 || width > QV_MAX_FRAME_SIDE || width % 2)
        return fail(err, err_size, AVERROR(EINVAL), "bad width %d: an even number from 2 to %d", width,
                    QV_MAX_FRAME_SIDE);
    if (height < 2 || height > QV_MAX_FRAME_SIDE || height % 2)
        return fail(err, err_size, AVERROR(EINVAL), "bad height %d: an even number from 2 to %d", height,
                    QV_MAX_FRAME_SIDE);
    if (rate_num < 1 || rate_den < 1 || (int64_t)rate_num > (int64_t)QV_ENCODE_MAX_RATE * rate_den)
        return fail(err, err_size, AVERROR(EINVAL), "bad frame rate %d/%d: positive, at most %d frames/s",
                    rate_num, rate_den, QV_ENCODE_MAX_RATE);
    if (kind == QV_ENCODE_H264 && (o->crf < 0 || o->crf > 51))
        return fail(err, err_size, AVERROR(EINVAL), "bad crf %d: a whole number from 0 to 51", o->crf);
    if (kind == QV_ENCODE_MPEG4 && (o->qscale < 1 || o->qscale > 31))
        return fail(err, err_size, AVERROR(EINVAL), "bad qscale %d: a whole number from 1 to 31", o->qscale);
    return 0;
}

/* The codec context, opened, and the stream's parameters from it. */
static int open_codec(qv_encoder* e, int rate_num, int rate_den, const qv_encode_options* o, char* err,
                      size_t err_size)
{
    const struct container* fmt = e->fmt;
    const AVCodec* codec = avcodec_find_encoder_by_name(fmt->encoder);
    AVCodecContext* c;
    int ret;

    if (!codec)
        return fail(err, err_size, AVERROR_ENCODER_NOT_FOUND, "encoder %s is not available in this FFmpeg",
                    fmt->encoder);
    c = e->c = avcodec_alloc_context3(codec);
    if (!c)
        return fail(err, err_size, AVERROR(ENOMEM), "out of memory");
    c->width = e->width;
    c->height = e->height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = (AVRational){rate_den, rate_num};
    c->framerate = (AVRational){rate_num, rate_den};
    c->gop_size = 10 * ((rate_num + rate_den - 1) / rate_den);
    c->thread_count = 0;
    /* The viewer draws sRGB: say so, or players guess the matrix by size. */
    c->colorspace = fmt->space;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    if (fmt->kind == QV_ENCODE_H264) {
        ret = av_opt_set(c->priv_data, "preset", o->preset ? o->preset : "ultrafast", 0);
        if (ret >= 0)
            ret = av_opt_set_int(c->priv_data, "crf", o->crf, 0);
        if (ret < 0)
            return fail(err, err_size, ret, "cannot set the x264 options: %s", av_err2str(ret));
    } else {
        /* Constant quantiser: the default bit rate would smear a screen. */
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * o->qscale;
    }
    if (e->oc->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    ret = avcodec_open2(c, codec, NULL);
    if (ret < 0)
        return fail(err, err_size, ret, "cannot open encoder %s: %s", fmt->encoder, av_err2str(ret));
    ret = avcodec_parameters_from_context(e->st->codecpar, c);
    if (ret < 0)
        return fail(err, err_size, ret, "cannot copy the stream parameters: %s", av_err2str(ret));
    e->st->time_base = c->time_base;
    e->st->avg_frame_rate = c->framerate;
    e->st->r_frame_rate = c->framerate;
    return 0;
}

/* The YUV picture and the BGRA to YUV conversion into it. */
static int open_picture(qv_encoder* e, char* err, size_t err_size)
{
    const int* coefficients = sws_getCoefficients(e->fmt->sws_space);
    int ret;

    e->frame->format = e->c->pix_fmt;
    e->frame->width = e->width;
    e->frame->height = e->height;
    ret = av_frame_get_buffer(e->frame, 0);
    if (ret < 0)
        return fail(err, err_size, ret, "cannot allocate a picture: %s", av_err2str(ret));
    e->sws = sws_getContext(e->width, e->height, AV_PIX_FMT_BGRA, e->width, e->height, AV_PIX_FMT_YUV420P,
                            SWS_BILINEAR, NULL, NULL, NULL);
    if (!e->sws)
        return fail(err, err_size, AVERROR(EINVAL), "cannot set up the BGRA to YUV conversion");
    /* Full-range RGB in, limited-range YUV out, by the matrix tagged. */
    if (sws_setColorspaceDetails(e->sws, coefficients, 1, coefficients, 0, 0, 1 << 16, 1 << 16) < 0)
        return fail(err, err_size, AVERROR(EINVAL), "cannot set the colour conversion");
    return 0;
}

/* The file itself, last, so that a failure above leaves nothing on disk. */
static int open_file(qv_encoder* e, char* err, size_t err_size)
{
    int ret = avio_open(&e->oc->pb, e->oc->url, AVIO_FLAG_WRITE);
    if (ret < 0)
        return fail(err, err_size, ret, "cannot open %s for writing: %s", e->oc->url, av_err2str(ret));
    e->file_open = 1;
    ret = avformat_write_header(e->oc, NULL);
    if (ret < 0)
        return fail(err, err_size, ret, "cannot write the %s header: %s", e->fmt->format, av_err2str(ret));
    e->header_written = 1;
    return 0;
}

/* Whatever open got to and close did not finish. After a failure in the
 * middle, what was encoded stays playable; a movie without a single frame is
 * no movie. Best effort: a failure here has nobody left to tell. */
static void release(qv_encoder* e)
{
    if (e->header_written && e->frames > 0)
        av_write_trailer(e->oc);
    if (e->file_open) {
        avio_closep(&e->oc->pb);
        if (e->frames == 0)
            remove(e->oc->url);
    }
    sws_freeContext(e->sws);
    av_packet_free(&e->pkt);
    av_frame_free(&e->frame);
    avcodec_free_context(&e->c);
    avformat_free_context(e->oc);
    av_free(e);
}

qv_encoder* qv_encode_open(const char* path, int width, int height, int rate_num, int rate_den,
                           const qv_encode_options* o, char* err, size_t err_size)
{
    qv_encode_options defaults;
    qv_encoder* e;
    int ret;

    if (!o) {
        qv_encode_default_options(&defaults);
        o = &defaults;
    }
    if (check_request(path, width, height, rate_num, rate_den, o, err, err_size) < 0)
        return NULL;
    e = av_mallocz(sizeof(*e));
    if (!e) {
        fail(err, err_size, AVERROR(ENOMEM), "out of memory");
        return NULL;
    }
    e->fmt = container_for(path);
    e->width = width;
    e->height = height;

    ret = avformat_alloc_output_context2(&e->oc, NULL, e->fmt->format, path);
    if (ret < 0)
        fail(err, err_size, ret, "cannot set up %s output: %s", e->fmt->format, av_err2str(ret));
    if (ret >= 0) {
        e->st = avformat_new_stream(e->oc, NULL);
        e->frame = av_frame_alloc();
        e->pkt = av_packet_alloc();
        if (!e->st || !e->frame || !e->pkt)
            ret = fail(err, err_size, AVERROR(ENOMEM), "out of memory");
    }
    if (ret >= 0)
        ret = open_codec(e, rate_num, rate_den, o, err, err_size);
    if (ret >= 0)
        ret = open_picture(e, err, err_size);
    if (ret >= 0)
        ret = open_file(e, err, err_size);
    if (ret < 0) {
        release(e);
        return NULL;
    }
    return e;
}

/* Sends one frame (NULL flushes) and writes every packet that comes out. */
static int encode(qv_encoder* e, const AVFrame* frame, char* err, size_t err_size)
{
    int ret = avcodec_send_frame(e->c, frame);
    if (ret < 0)
        return fail(err, err_size, ret, "cannot send a frame to the encoder: %s", av_err2str(ret));
    for (;;) {
        ret = avcodec_receive_packet(e->c, e->pkt);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0)
            return fail(err, err_size, ret, "encoding failed: %s", av_err2str(ret));
        /* Each frame lasts one tick; the muxers take the movie's duration
         * from the last packet's. */
        if (e->pkt->duration == 0)
            e->pkt->duration = 1;
        av_packet_rescale_ts(e->pkt, e->c->time_base, e->st->time_base);
        e->pkt->stream_index = e->st->index;
        ret = av_interleaved_write_frame(e->oc, e->pkt);
        if (ret < 0)
            return fail(err, err_size, ret, "cannot write a packet: %s", av_err2str(ret));
    }
}

int qv_encode_frame(qv_encoder* e, const uint8_t* bgra, ptrdiff_t stride, int bottom_up, char* err,
                    size_t err_size)
{
    const uint8_t* src[4] = {NULL, NULL, NULL, NULL};
    int src_stride[4] = {0, 0, 0, 0};
    int ret;

    if (!e || !bgra)
        return fail(err, err_size, AVERROR(EINVAL), "no encoder or no pixels given");
    if (stride < (ptrdiff_t)e->width * 4 || stride > INT_MAX)
        return fail(err, err_size, AVERROR(EINVAL), "bad stride %td: from %d (width x 4) to %d bytes", stride,
                    e->width * 4, INT_MAX);
    ret = av_frame_make_writable(e->frame);
    if (ret < 0)
        return fail(err, err_size, ret, "cannot get a writable picture: %s", av_err2str(ret));
    /* Bottom-up rows: start at the last row in memory and step backwards,
     * no copy and no flip pass. */
    src[0] = bottom_up ? bgra + (ptrdiff_t)(e->height - 1) * stride : bgra;
    src_stride[0] = bottom_up ? -(int)stride : (int)stride;
    if (sws_scale(e->sws, src, src_stride, 0, e->height, e->frame->data, e->frame->linesize) != e->height)
        return fail(err, err_size, AVERROR(EINVAL), "BGRA to YUV conversion failed");
    e->frame->pts = e->frames++;
    return encode(e, e->frame, err, err_size);
}

int64_t qv_encode_frames(const qv_encoder* e) { return e ? e->frames : 0; }

int qv_encode_close(qv_encoder* e, char* err, size_t err_size)
{
    int ret;
    if (!e)
        return fail(err, err_size, AVERROR(EINVAL), "no encoder given");
    ret = encode(e, NULL, err, err_size);
    if (ret >= 0 && e->frames == 0)
        ret = fail(err, err_size, AVERROR(EIO), "no frame received, nothing written");
    if (ret >= 0) {
        e->header_written = 0;
        ret = av_write_trailer(e->oc);
        if (ret >= 0) {
            e->file_open = 0;
            ret = avio_closep(&e->oc->pb);
        }
        if (ret < 0)
            fail(err, err_size, ret, "cannot finish %s: %s", e->oc->url, av_err2str(ret));
    }
    release(e);
    return ret;
}

void qv_encode_abort(qv_encoder* e)
{
    if (e)
        release(e);
}
