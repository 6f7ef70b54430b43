/*
 * quorvex-encoder: turns the raw frames the viewer streams through the named
 * pipe "/tmp/fifoChannel" into a movie.
 *
 * The viewer starts it with argv[0] = output path (not the program name),
 * argv[1] width, argv[2] height, argv[3] frame rate, argv[4] bytes per pixel
 * ("4"). Frames arrive back to back: width x height x 4 bytes, B G R A,
 * bottom row first, no padding. End of stream or SIGTERM finishes the movie
 * (encoder flushed, trailer written), so a stopped export still plays.
 *
 * This file is the pipe, the signals, the arguments and the progress lines;
 * the encoding itself (container by extension, .mp4/.mkv/.mov H.264 and .avi
 * MPEG-4 part 2, the BGRA to YUV conversion) is qv_encode, shared with the
 * headless renderer.
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
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "contracts/FifoPath.h"
#include "contracts/FrameSide.h"
#include "qv_encode.h"

#include <libavutil/log.h>
#include <libavutil/mem.h>

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

static void fail(const char* fmt, ...)
{
    va_list ap;
    fputs("quorvex-encoder: ", stderr);
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fputc('\n', stderr);
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

/* An integer option from the environment; unset or empty keeps *out. */
static int env_int(const char* name, long lo, long hi, int* out)
{
    const char* v = env_or(name, NULL);
    return v ? parse_int(v, lo, hi, out) : 0;
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

struct job {
    const char* path;
    int width, height, rate, wait_s;
    qv_encode_options options;
};

/* The arguments and the environment; -1 with the reason printed. */
static int read_job(int argc, char** argv, struct job* j)
{
    int bpp, kind;
    if (argc != 5) {
        fail("expected argv[0]=OUTPUT (.mp4 .mkv .mov .avi) and WIDTH HEIGHT RATE 4, got %d arguments",
             argc - 1);
        return -1;
    }
    j->path = argv[0];
    if (!j->path || !*j->path) {
        fail("empty output path");
        return -1;
    }
    if (parse_int(argv[1], 2, QV_MAX_FRAME_SIDE, &j->width) < 0 || j->width % 2) {
        fail("bad width '%s': an even number from 2 to %d", argv[1], QV_MAX_FRAME_SIDE);
        return -1;
    }
    if (parse_int(argv[2], 2, QV_MAX_FRAME_SIDE, &j->height) < 0 || j->height % 2) {
        fail("bad height '%s': an even number from 2 to %d", argv[2], QV_MAX_FRAME_SIDE);
        return -1;
    }
    if (parse_int(argv[3], 1, QV_ENCODE_MAX_RATE, &j->rate) < 0) {
        fail("bad frame rate '%s': a whole number from 1 to %d", argv[3], QV_ENCODE_MAX_RATE);
        return -1;
    }
    if (parse_int(argv[4], 4, 4, &bpp) < 0) {
        fail("bad bytes per pixel '%s': only 4 (BGRA) is streamed", argv[4]);
        return -1;
    }
    j->wait_s = 30;
    if (env_int("QUORVEX_ENCODER_WAIT", 1, 3600, &j->wait_s) < 0) {
        fail("bad QUORVEX_ENCODER_WAIT: seconds from 1 to 3600");
        return -1;
    }
    kind = qv_encode_supported(j->path);
    if (!kind) {
        fail("unsupported output '%s': use .mp4, .mkv, .mov or .avi", j->path);
        return -1;
    }
    /* Only the option of the codec in use is read, so a stale one for the
     * other container does not stop an export. */
    qv_encode_default_options(&j->options);
    j->options.preset = env_or("QUORVEX_ENCODER_PRESET", j->options.preset);
    if (kind == QV_ENCODE_H264 && env_int("QUORVEX_ENCODER_CRF", 0, 51, &j->options.crf) < 0) {
        fail("bad QUORVEX_ENCODER_CRF: a whole number from 0 to 51");
        return -1;
    }
    if (kind == QV_ENCODE_MPEG4 && env_int("QUORVEX_ENCODER_QSCALE", 1, 31, &j->options.qscale) < 0) {
        fail("bad QUORVEX_ENCODER_QSCALE: a whole number from 1 to 31");
        return -1;
    }
    return 0;
}

int main(int argc, char** argv)
{
    struct job job;
    qv_encoder* enc = NULL;
    char err[512];
    uint8_t* raw = NULL;
    size_t frame_bytes, row_bytes;
    int fd = -1, closed, status = 1;
    int64_t frames;
    double start, last_report;
    long got = 0;

    if (read_job(argc, argv, &job) < 0)
        return 1;
    if (install_stop_handler() < 0) {
        fail("cannot install signal handlers: %s", strerror(errno));
        return 1;
    }
    av_log_set_level(AV_LOG_WARNING);
    row_bytes = (size_t)job.width * 4;
    frame_bytes = row_bytes * (size_t)job.height;

    /* Everything that can fail for a reason of our own fails before the
     * viewer starts streaming. */
    raw = av_malloc(frame_bytes);
    if (!raw) {
        fail("out of memory");
        goto end;
    }
    enc = qv_encode_open(job.path, job.width, job.height, job.rate, 1, &job.options, err, sizeof(err));
    if (!enc) {
        fail("%s", err);
        goto end;
    }
    fd = open_pipe(now_seconds() + job.wait_s);
    if (fd < 0)
        goto end;

    start = last_report = now_seconds();
    for (;;) {
        got = read_frame(fd, raw, frame_bytes);
        if (got < 0) {
            fail("reading %s failed: %s", QV_FIFO_PATH, strerror(errno));
            goto end;
        }
        if ((size_t)got < frame_bytes)
            break;
        if (qv_encode_frame(enc, raw, (ptrdiff_t)row_bytes, 1, err, sizeof(err)) < 0) {
            fail("%s", err);
            goto end;
        }
        if (now_seconds() - last_report >= PROGRESS_SECONDS) {
            last_report = now_seconds();
            frames = qv_encode_frames(enc);
            fprintf(stderr, "quorvex-encoder: %lld frames, %.1f frames/s\n", (long long)frames,
                    frames / (last_report - start));
        }
    }
    if (got > 0)
        fprintf(stderr, "quorvex-encoder: dropped a partial last frame (%ld of %zu bytes)\n", got,
                frame_bytes);

    frames = qv_encode_frames(enc);
    closed = qv_encode_close(enc, err, sizeof(err));
    enc = NULL; /* freed whatever the outcome */
    if (closed < 0) {
        fail("%s", err);
        goto end;
    }
    {
        double elapsed = now_seconds() - start;
        fprintf(
            stderr,
            "quorvex-encoder: wrote %lld frames (%.2f s at %d frames/s) of %dx%d to %s in %.2f s, %.1f frames/s%s\n",
            (long long)frames, (double)frames / job.rate, job.rate, job.width, job.height, job.path, elapsed,
            elapsed > 0 ? frames / elapsed : 0.0, stop_requested ? ", stopped by signal" : "");
    }
    status = 0;

end:
    if (fd >= 0)
        close(fd);
    /* After a failure in the middle, what was encoded stays playable; a
     * movie without a single frame is removed. */
    qv_encode_abort(enc);
    av_free(raw);
    return status;
}
