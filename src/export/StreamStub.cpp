#include "export/StreamStub.h"

#include "boundary/CloseFd.h"
#include "boundary/Debug_Trace.h"
#include "boundary/Utils.h"
#include "gl/PixelStore.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// How long the encoder gets to open the pipe, and how long a write may make
// no progress, before the export gives up rather than hold the viewer.
constexpr int kPipeOpenTimeoutMs = 5000;
constexpr int kWriteStallTimeoutMs = 10000;
constexpr int kPollStepMs = 10;
// A larger pipe means fewer wake-ups per frame; the system may cap it.
constexpr int kPipeBytes = 1 << 20;

long long nowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

pid_t reap(pid_t pid, int* status, int flags)
{
    pid_t r;
    do {
        r = waitpid(pid, status, flags);
    } while (r < 0 && errno == EINTR);
    return r;
}

void logGlError(const char* format)
{
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        debug_trace(format, glErrorName(error));
}

// Where the encoder program is: beside the library when it is named without a
// folder and a file of that name is there, else found on PATH here in the
// parent, so that the child has no searching to do. Fills `out` (256 bytes).
bool resolveEncoder(const std::string& name, char (&out)[256])
{
    std::string chosen;
    struct stat st;
    if (name.find('/') != std::string::npos) {
        chosen = name;
    } else if (!name.empty()) {
        chosen = besideLibrary(name);
        const char* path = getenv("PATH");
        std::string dirs = path != nullptr ? path : "/bin:/usr/bin";
        for (size_t start = 0; chosen.empty() && start <= dirs.size();) {
            size_t end = dirs.find(':', start);
            if (end == std::string::npos)
                end = dirs.size();
            std::string dir = dirs.substr(start, end - start);
            const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
            if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                access(candidate.c_str(), X_OK) == 0)
                chosen = candidate;
            start = end + 1;
        }
    }
    if (chosen.empty()) {
        debug_trace(" encoder %s not found beside the library or on PATH ", name.c_str());
        return false;
    }
    if (chosen.size() >= sizeof out) {
        debug_trace(" encoder path too long (%d bytes) ", static_cast<int>(chosen.size()));
        return false;
    }
    memcpy(out, chosen.c_str(), chosen.size() + 1);
    return true;
}

// The child between fork and exec: async-signal-safe calls only. Dispositions
// and the mask the JVM thread had must not reach the encoder (an ignored
// SIGTERM could not stop it), nor the JVM's descriptors.
[[noreturn]] void runEncoder(const char* program, char* const argv[], int statusFd)
{
    struct sigaction byDefault;
    memset(&byDefault, 0, sizeof byDefault);
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    const int reset[] = {SIGTERM, SIGINT, SIGPIPE, SIGCHLD, SIGHUP};
    for (int sig : reset)
        sigaction(sig, &byDefault, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    execvp(program, argv);
    const int error = errno;
    ssize_t ignored = write(statusFd, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// SIGPIPE blocked on this thread while it writes to the pipe; one the writes
// raised is consumed before the old mask comes back, so it is never delivered.
class SigpipeBlocked {
public:
    SigpipeBlocked()
    {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
        sigset_t pending;
        sigpending(&pending);
        pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeBlocked()
    {
        sigset_t pending;
        sigpending(&pending);
        if (!pendingBefore_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec zero = {0, 0};
            sigtimedwait(&pipeOnly_, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

private:
    sigset_t pipeOnly_;
    sigset_t previous_;
    bool pendingBefore_ = false;
};

} // namespace

StreamStub::StreamStub()
    : GLCache(), m_ipc(nullptr), m_child_process(false), fd(-1), encoderProcessid(0), first_skip_frame(0)
{
    debug_trace(" stream stub constructor");
    m_ipc = new IPCContext(nullptr);
}

StreamStub::~StreamStub()
{
    // A stub dropped without its close request must not leave the encoder behind.
    if (fd >= 0 || encoderProcessid > 0)
        closeStream();
    delete m_ipc;
}

void StreamStub::setCodec(std::string codec)
{
    codecName = codec;
    debug_trace(" get codec name as %s \n", codecName.c_str());
}

void StreamStub::initStream(std::string saveFileName, int w, int h, int fr)
{
    saveName = saveFileName;
    m_w = w;
    m_h = h;
    m_fr = fr;
    // GLCache's constructor loaded the entry points; an error pending now is reported as the load's.
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        debug_trace(" failed init glew %s ", reinterpret_cast<const char*>(glewGetErrorString(error)));
    else
        debug_trace(" successfully init glew");
}

int StreamStub::getEvenNumber(int input)
{
    if (input % 2 != 0) {
        debug_trace("return odd number ");
        return input - 1;
    }
    debug_trace(" return even number %d ", input);
    return input;
}

int StreamStub::streamBuffer(void* buffer, int w, int h, int bpp)
{
    debug_trace(" begin send real buffer with frameBuffer %d ", static_cast<int>(m_frameBuffer));
    if (isCloseRequest(buffer, w, h)) {
        closeStream();
        return 0;
    }
    if (!acceptsFrames())
        return -1;
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (armOnFirstRequest(viewport))
        return 0;
    debug_trace(" after get view port %d %d ", viewport[2], viewport[3]);
    if (!chooseMovieSize(viewport))
        return failExport();
    if (!ensurePackBuffer(viewport))
        return failExport();
    if (!ensureEncoder())
        return failExport();
    const int sent = sendFrame(viewport);
    debug_trace(" finish stream buffer \n");
    if (sent != 0)
        return failExport();
    return 0;
}

bool StreamStub::isCloseRequest(const void* buffer, int w, int h)
{
    return buffer == nullptr && w == 0 && h == 0;
}

bool StreamStub::acceptsFrames() const
{
    if (m_closed || m_dead) {
        debug_trace(" export closed or its encoder gone, frame not sent ");
        return false;
    }
    return true;
}

// The first frame request of an export only arms it; true when this one did.
bool StreamStub::armOnFirstRequest(const GLint viewport[4])
{
    if (first_skip_frame != 0)
        return false;
    debug_trace(" view port not right %d ", viewport[2]);
    first_skip_frame = 1;
    return true;
}

// The first streamed frame fixes the movie's size (even sides) for the export;
// later frames are fitted to it. False when that size is empty.
bool StreamStub::chooseMovieSize(const GLint viewport[4])
{
    if (m_child_process)
        return true;
    vw = getEvenNumber(viewport[2]);
    debug_trace(" get vw %d", vw);
    vh = getEvenNumber(viewport[3]);
    debug_trace(" after get view port %d %d ", vw, vh);
    if (vw <= 0 || vh <= 0) {
        debug_trace(" no movie of %d x %d, export stopped ", vw, vh);
        return false;
    }
    return true;
}

// The pack buffer holds both this viewport and a movie frame; made once.
bool StreamStub::ensurePackBuffer(const GLint viewport[4])
{
    if (m_frameBuffer != 0)
        return true;
    debug_trace(" init buffer  %d ", viewport[2]);
    initBuffer(std::max<int>(viewport[2], vw), std::max<int>(viewport[3], vh));
    return m_frameBuffer != 0;
}

// The encoder runs from the first real frame on.
bool StreamStub::ensureEncoder()
{
    if (m_child_process)
        return true;
    debug_trace(" init child process ");
    if (!startEncoder())
        return false;
    m_child_process = true;
    return true;
}

// Every failed frame request ends up here: no further frame is sent.
int StreamStub::failExport()
{
    m_dead = true;
    return -1;
}

bool StreamStub::startEncoder()
{
    if (!removeStalePipe())
        return false;
    if (!CreateChildProcess(vw, vh, 4))
        return false;
    if (!create_pipe()) {
        TerminateChildProcess();
        return false;
    }
    return true;
}

// Whatever sits at the pipe's path (an earlier export's FIFO, a file, a
// symbolic link) is unlinked, never followed.
bool StreamStub::removeStalePipe()
{
    struct stat st;
    if (lstat(kFifoPath, &st) != 0)
        return true;
    debug_trace(" removed pipe file %s\n", kFifoPath);
    if (unlink(kFifoPath) != 0 && errno != ENOENT) {
        debug_trace(" cannot remove %s: %s, export refused ", kFifoPath, strerror(errno));
        return false;
    }
    return true;
}

void StreamStub::removeOwnPipe()
{
    struct stat st;
    if (m_pipeInode != 0 && lstat(kFifoPath, &st) == 0 && st.st_dev == m_pipeDevice &&
        st.st_ino == m_pipeInode)
        unlink(kFifoPath);
    m_pipeDevice = 0;
    m_pipeInode = 0;
}

bool StreamStub::CreateChildProcess(int w, int h, int bpp)
{
    char program[256];
    char fileName[1024];
    char width[32], height[32], rate[32], bytes[32];
    if (!resolveEncoder(encoderName, program))
        return false;
    if (saveName.empty() || saveName.size() >= sizeof fileName) {
        debug_trace(" movie path of %d bytes cannot be used ", static_cast<int>(saveName.size()));
        return false;
    }
    memcpy(fileName, saveName.c_str(), saveName.size() + 1);
    snprintf(width, sizeof width, "%d", w);
    snprintf(height, sizeof height, "%d", h);
    snprintf(rate, sizeof rate, "%d", m_fr);
    snprintf(bytes, sizeof bytes, "%d", bpp);
    char* const argv[] = {fileName, width, height, rate, bytes, nullptr};

    // Written here, not in the child: the system log is not async-signal-safe.
    debug_trace(" create process %s with command %s", "", program);
    int status[2];
    if (pipe2(status, O_CLOEXEC) != 0) {
        debug_trace(" cannot start the encoder: %s ", strerror(errno));
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0)
        runEncoder(program, argv, status[1]);
    qv::closeFd(status[1]);
    if (pid < 0) {
        debug_trace(" cannot start the encoder: %s ", strerror(errno));
        qv::closeFd(status[0]);
        return false;
    }
    encoderProcessid = pid;
    // End of file: the exec closed the pipe. An int: the exec's errno.
    int childErrno = 0;
    ssize_t n;
    do {
        n = read(status[0], &childErrno, sizeof childErrno);
    } while (n < 0 && errno == EINTR);
    qv::closeFd(status[0]);
    if (n == static_cast<ssize_t>(sizeof childErrno)) {
        debug_trace(" it failed after creation %s", strerror(childErrno));
        int exitStatus = 0;
        reap(pid, &exitStatus, 0);
        encoderProcessid = 0;
        return false;
    }
    return true;
}

bool StreamStub::create_pipe()
{
    if (mkfifo(kFifoPath, 0600) != 0) {
        debug_trace(" cannot make pipe %s: %s ", kFifoPath, strerror(errno));
        return false;
    }
    // Opening for writing succeeds only once the encoder has the read end:
    // ask again while it lives, for a bounded time.
    const long long deadline = nowMs() + kPipeOpenTimeoutMs;
    int pipeFd = -1;
    for (;;) {
        pipeFd = open(kFifoPath, O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (pipeFd >= 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno != ENXIO) {
            debug_trace(" cannot open pipe %s: %s ", kFifoPath, strerror(errno));
            break;
        }
        if (!isEncoderAlive(0)) {
            debug_trace(" encoder exited before it opened the pipe ");
            break;
        }
        if (nowMs() >= deadline) {
            debug_trace(" encoder did not open the pipe within %d ms ", kPipeOpenTimeoutMs);
            break;
        }
        sleep_ms(kPollStepMs);
    }
    struct stat st;
    if (pipeFd >= 0 && (fstat(pipeFd, &st) != 0 || !S_ISFIFO(st.st_mode) || st.st_uid != geteuid())) {
        debug_trace(" %s is not a pipe of this user, export refused ", kFifoPath);
        qv::closeFd(pipeFd);
        pipeFd = -1;
    }
    if (pipeFd < 0) {
        // Ours only if it is the FIFO mkfifo made (same owner, still a FIFO).
        if (lstat(kFifoPath, &st) == 0 && S_ISFIFO(st.st_mode) && st.st_uid == geteuid()) {
            m_pipeDevice = st.st_dev;
            m_pipeInode = st.st_ino;
            removeOwnPipe();
        }
        return false;
    }
    m_pipeDevice = st.st_dev;
    m_pipeInode = st.st_ino;
    fcntl(pipeFd, F_SETPIPE_SZ, kPipeBytes);
    fd = pipeFd;
    debug_trace(" makefifi %d \n", fd);
    return true;
}

int StreamStub::sendFrame(const GLint viewport[4])
{
    // Frames keep the first frame's size: another viewport is cropped to it
    // (lower left kept) or padded with black, never sent torn.
    const int readW = std::max(0, std::min(viewport[2], vw));
    const int readH = std::max(0, std::min(viewport[3], vh));
    if (readW != vw || readH != vh)
        debug_trace(" view port %d x %d fitted to the movie's %d x %d ", viewport[2], viewport[3], vw, vh);

    // The pack state guard also gives the caller's pack buffer back.
    GLint previousRead = GL_FRONT;
    glGetIntegerv(GL_READ_BUFFER, &previousRead);
    int result = 0;
    {
        ScopedPackState pack;
        glBindBuffer(GL_PIXEL_PACK_BUFFER, m_frameBuffer);
        logGlError(" failed with get copy gl screen 1 in mac %s ");
        glReadBuffer(GL_FRONT);
        logGlError(" failed with get copy gl screen in 2 mac %s ");
        if (readW > 0 && readH > 0)
            glReadPixels(viewport[0], viewport[1], readW, readH, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        logGlError(" failed with get copy gl screen in 3 mac %s ");
        void* mapped = glMapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY);
        if (mapped == nullptr) {
            debug_trace(" src pointer is null in mac");
        } else {
            if (fd >= 0) {
                const unsigned char* pixels = static_cast<const unsigned char*>(mapped);
                if (readW != vw || readH != vh)
                    pixels = fitFrame(pixels, readW, readH);
                if (!writeFrame(pixels, static_cast<size_t>(vw) * vh * 4))
                    result = -1;
            }
            glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
        }
    }
    glReadBuffer(static_cast<GLenum>(previousRead));
    if (result == 0 && !isEncoderAlive(0)) {
        debug_trace(" encoder has exited ");
        result = -1;
    }
    return result;
}

const unsigned char* StreamStub::fitFrame(const unsigned char* pixels, int width, int height)
{
    const size_t row = static_cast<size_t>(vw) * 4;
    m_fitted.assign(row * vh, 0);
    for (int y = 0; y < height; ++y)
        memcpy(&m_fitted[y * row], pixels + static_cast<size_t>(y) * width * 4,
               static_cast<size_t>(width) * 4);
    return m_fitted.data();
}

bool StreamStub::writeFrame(const unsigned char* bytes, size_t size)
{
    SigpipeBlocked blocked;
    size_t done = 0;
    int stalledMs = 0;
    while (done < size) {
        const ssize_t n = write(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            stalledMs = 0;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // The encoder is behind: wait for room while it lives, for a bounded time.
            if (!isEncoderAlive(0) || stalledMs >= kWriteStallTimeoutMs)
                break;
            pollfd room = {fd, POLLOUT, 0};
            if (poll(&room, 1, 100) == 0)
                stalledMs += 100;
            continue;
        }
        debug_trace(" write to pipe failed: %s ", n < 0 ? strerror(errno) : "no progress");
        break;
    }
    debug_trace(" send to pipe %d ", done == size ? static_cast<int>(size) : -1);
    return done == size;
}

void StreamStub::closeStream()
{
    if (fd >= 0)
        qv::closeFd(fd); // end of stream for the encoder
    fd = -1;
    m_child_process = false;
    m_closed = true;
    removeOwnPipe();
    sleep_ms(1000);
    TerminateChildProcess();
    debug_trace(" end child process");
}

void StreamStub::TerminateChildProcess()
{
    const pid_t pid = encoderProcessid;
    printf("TerminateChildProcess %x \n", static_cast<unsigned>(pid));
    if (pid > 0) {
        int rv = kill(pid, SIGTERM);
        if (rv == 0) {
            int status = 0;
            pid_t r = reap(pid, &status, WNOHANG);
            printf("Killed Child status %x %d \n", static_cast<unsigned>(status), static_cast<int>(r));
            fflush(stdout);
            if (r == 0) {
                // Give it two seconds to write its trailer, then kill it.
                for (int waited = 0; waited < 2000 && r == 0; waited += 50) {
                    sleep_ms(50);
                    r = reap(pid, &status, WNOHANG);
                }
                printf("Killed Child status2 %x %d \n", static_cast<unsigned>(status), static_cast<int>(r));
                fflush(stdout);
                if (r == 0) {
                    rv = kill(pid, SIGKILL);
                    reap(pid, &status, 0);
                }
            }
        }
        printf("return value of kill %d \n", rv);
    }
    fflush(stdout);
    encoderProcessid = 0;
}

bool StreamStub::isEncoderAlive(unsigned /*id*/)
{
    if (encoderProcessid <= 0)
        return false;
    int status = 0;
    const pid_t r = reap(encoderProcessid, &status, WNOHANG);
    if (r == 0)
        return true;
    if (r == encoderProcessid)
        debug_trace(" encoder %d exited with status %x ", static_cast<int>(r), static_cast<unsigned>(status));
    // Reaped now, or no child of ours any more: never signal that pid again.
    encoderProcessid = 0;
    return false;
}

// The announced frame has its own even size, worked out here; the stub is left
// without a movie size afterwards, as before any frame was streamed.
void StreamStub::sendDummyBuffer(int w, int h, int bpp)
{
    if (m_ipc == nullptr || m_ipc->getBufferPtr() == nullptr || m_ipc->shareMutex == nullptr) {
        debug_trace(" shared memory not initialised, no dummy buffer ");
        return;
    }
    if (w < 0 || h < 0 || bpp < 1) {
        debug_trace(" no dummy buffer of %d x %d x %d ", w, h, bpp);
        return;
    }
    const int frameW = getEvenNumber(w);
    const int frameH = getEvenNumber(h);
    const size_t slot = kFrameDataOffset + static_cast<size_t>(bpp) * offset * frameW * frameH;
    const size_t end =
        slot +
        (frameH > 0 ? (static_cast<size_t>(frameH) - 1) * frameW * 4 + static_cast<size_t>(frameW) * bpp : 0);
    if (end > m_ipc->bufferBytes()) {
        debug_trace(" dummy buffer of %d x %d does not fit the shared memory ", frameW, frameH);
        vw = vh = 0;
        return;
    }
    std::vector<unsigned char> image(static_cast<size_t>(w) * h * bpp, 0);

    m_ipc->lockShareMem();
    SHARED_MEM_DESC& desc = m_ipc->m_memDesc;
    desc.frameId++;
    desc.width = w != 0 ? static_cast<uint64_t>(frameW) : 0;
    desc.height = h != 0 ? static_cast<uint64_t>(frameH) : 0;
    desc.rowPitch = static_cast<uint64_t>(bpp);
    desc.rate = 1;
    m_ipc->m_memMap = m_ipc->getBufferPtr();
    unsigned char* shared = static_cast<unsigned char*>(m_ipc->m_memMap);
    memcpy(shared, &desc, sizeof desc);
    mapBuffer(shared + slot, image.data(), frameW, frameH, static_cast<int>(desc.rowPitch));
    debug_trace(" send dummy buffer %d with widht %d height %d total %d  \n", static_cast<int>(desc.frameId),
                static_cast<int>(desc.width), static_cast<int>(desc.height),
                static_cast<int>(desc.totalFrame));
    m_ipc->unLockShareMem();
    m_ipc->setEvent();
    debug_trace(" set event ");
    sleep_ms(1000);
    vw = vh = 0; // an announcement leaves the stub without a movie size
}

unsigned StreamStub::mapBuffer(void* dst, void* src, int w, int h, int bpp)
{
    unsigned char* to = static_cast<unsigned char*>(dst);
    const unsigned char* from = static_cast<const unsigned char*>(src);
    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    for (int i = 0; i < h; ++i)
        memcpy(to + static_cast<size_t>(i) * w * 4, from + static_cast<size_t>(h - 1 - i) * rowBytes,
               rowBytes);
    return static_cast<unsigned>(h) * w * bpp;
}

void StreamStub::sleep_ms(int milliseconds)
{
    timespec wait = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) { }
}

bool StreamStub::exists_file(std::string name)
{
    struct stat st;
    return stat(name.c_str(), &st) == 0;
}
