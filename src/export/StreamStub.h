// One movie export: every rendered frame is read back from the current GL
// context and streamed through a named pipe to an encoder program that runs
// as a child process from the first real frame to the end of the export.
#pragma once

#include "contracts/FifoPath.h"
#include "export/IPCContext.h"
#include "gl/GLCache.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

constexpr const char* kFifoPath = QV_FIFO_PATH;

class StreamStub : public GLCache {
public:
    StreamStub();
    virtual ~StreamStub();
    StreamStub(const StreamStub&) = delete;
    StreamStub& operator=(const StreamStub&) = delete;

    void setCodec(std::string codec);
    void initStream(std::string saveFileName, int w, int h, int fr);
    // Sends the current viewport as the next frame, or closes the export when
    // `buffer` is null and w and h are 0. The first frame request of an
    // export only arms it. 0 when done; nonzero when the frame could not be
    // delivered (encoder not started, gone, or the export already closed).
    int streamBuffer(void* buffer, int w, int h, int bpp);
    int getEvenNumber(int input);
    // Starts the encoder for w x h frames; false (logged) when it cannot run.
    bool CreateChildProcess(int w, int h, int bpp);
    // Makes the pipe and opens its write end once the encoder reads it.
    bool create_pipe();
    // SIGTERM, then SIGKILL after 2 s; the child is always reaped.
    void TerminateChildProcess();
    // True while the encoder runs; reaps it (and forgets its pid) once it has exited.
    bool isEncoderAlive(unsigned id);
    // Announces a blank frame through an initialised shared-memory channel.
    void sendDummyBuffer(int w, int h, int bpp);
    // Copies a w x h image upside down; destination rows are w * 4 bytes apart.
    unsigned mapBuffer(void* dst, void* src, int w, int h, int bpp);
    static void sleep_ms(int milliseconds);
    static bool exists_file(std::string name);

    std::string saveName;
    std::string encoderName;
    std::string codecName;
    IPCContext* m_ipc;
    int m_w = 0;
    int m_h = 0;
    int m_fr = 0;
    bool m_child_process;
    uint32_t offset = 0;
    void* pipe = nullptr;
    int fd;
    uint32_t m_encoderProcessId = 0;
    pid_t encoderProcessid;
    int first_skip_frame;

private:
    // The steps of streamBuffer, in the order it takes them.
    static bool isCloseRequest(const void* buffer, int w, int h);
    bool acceptsFrames() const;
    bool armOnFirstRequest(const GLint viewport[4]);
    bool chooseMovieSize(const GLint viewport[4]);
    bool ensurePackBuffer(const GLint viewport[4]);
    bool ensureEncoder();
    int failExport();

    bool startEncoder();
    bool removeStalePipe();
    void removeOwnPipe();
    int sendFrame(const GLint viewport[4]);
    const unsigned char* fitFrame(const unsigned char* pixels, int width, int height);
    bool writeFrame(const unsigned char* bytes, size_t size);
    void closeStream();

    bool m_dead = false;   // the encoder could not be started or has gone
    bool m_closed = false; // the stream was closed; later frames are refused
    dev_t m_pipeDevice = 0;
    ino_t m_pipeInode = 0;               // the FIFO this export made, removed at close
    std::vector<unsigned char> m_fitted; // frames of another size, cropped or padded
};
