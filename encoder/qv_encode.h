/* qv_encode: raw BGRA frames into a movie file, on FFmpeg. The one encoding
 * path of the viewer: quorvex-encoder feeds it frames from the named pipe,
 * the headless renderer feeds it frames it has just read back.
 *
 * .mp4, .mkv and .mov get H.264 (libx264, yuv420p, tagged BT.709); .avi gets
 * MPEG-4 part 2 (converted with BT.601, since AVI cannot carry the tag).
 * Frame i is stamped i in a rate_den/rate_num time base and lasts one tick.
 *
 * Errors come back as a negative AVERROR (or NULL) and one line, without a
 * trailing newline, in the caller's err buffer (err may be NULL). FFmpeg's
 * log level is left to the caller. One encoder is used by one thread at a
 * time; separate encoders are independent. */
#ifndef QV_ENCODE_H
#define QV_ENCODE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QV_ENCODE_MAX_RATE 1000

/* What qv_encode_supported() finds for a file name. */
enum { QV_ENCODE_UNSUPPORTED = 0, QV_ENCODE_H264 = 1, QV_ENCODE_MPEG4 = 2 };

typedef struct qv_encoder qv_encoder;

typedef struct qv_encode_options {
    const char* preset; /* x264 preset, "ultrafast" by default; NULL means the default */
    int crf;            /* x264 constant rate factor 0-51, 23 by default */
    int qscale;         /* MPEG-4 (.avi) quantiser 1-31, 3 by default */
} qv_encode_options;

void qv_encode_default_options(qv_encode_options* o);

/* QV_ENCODE_H264 or QV_ENCODE_MPEG4 when the file name ends in .mp4, .mkv,
 * .mov or .avi (any case; a dot in a folder name does not count), else
 * QV_ENCODE_UNSUPPORTED. */
int qv_encode_supported(const char* path);

/* Creates `path` for frames of width x height (even, 2 to QV_MAX_FRAME_SIDE
 * of contracts/FrameSide.h) at rate_num / rate_den frames/s (a scene video's
 * 30000/1001 as it is; at most QV_ENCODE_MAX_RATE) and
 * writes its header; o NULL means the defaults. NULL on failure, with the
 * reason in err (e.g. "cannot open /x/y.mp4 for writing: No such file or
 * directory"); nothing is left on disk then. */
qv_encoder* qv_encode_open(const char* path, int width, int height, int rate_num, int rate_den,
                           const qv_encode_options* o, char* err, size_t err_size);

/* Encodes one frame of 4-byte B G R A pixels, `stride` bytes from one row's
 * start to the next in memory (at least width x 4); bottom_up != 0 when the
 * first row in memory is the picture's bottom row (as glReadPixels gives).
 * 0, or a negative AVERROR with the reason in err. */
int qv_encode_frame(qv_encoder* e, const uint8_t* bgra, ptrdiff_t stride, int bottom_up, char* err,
                    size_t err_size);

/* Frames encoded so far. */
int64_t qv_encode_frames(const qv_encoder* e);

/* Flushes the encoder, writes the trailer and closes the file; 0 on success.
 * A movie without a frame is removed and is an error ("no frame received,
 * nothing written"). Always frees e; NULL is an error too. */
int qv_encode_close(qv_encoder* e, char* err, size_t err_size);

/* Gives up after a failure: frees e, keeping what was encoded playable (the
 * trailer is written when a frame was), or removing the file when no frame
 * was. NULL does nothing. */
void qv_encode_abort(qv_encoder* e);

#ifdef __cplusplus
}
#endif

#endif
