// A frame channel to another process over POSIX shared memory: one small
// segment holds a process-shared mutex and condition, a second one a frame
// descriptor followed by frame slots.
#pragma once

#include <pthread.h>
#include <sys/sem.h>

#include <cstddef>
#include <cstdint>
#include <string>

class EventDebug;

enum BufferFormat : int32_t {
    BufferFormatArgb = 0,
    BufferFormatBgra = 1,
    BufferFormatRgba = 2,
    BufferFormatAbgr = 3,
    BufferFormatRgbg = 4,
};

// The frame descriptor at the start of the data segment; the reader is
// another program, so every field has a fixed width and place.
struct SHARED_MEM_DESC {
    uint64_t width;
    uint64_t height;
    uint64_t rowPitch; // bytes per pixel as written
    uint64_t frameId;
    uint64_t totalFrame;
    uint64_t rate;
    BufferFormat format;
    uint32_t formatPadding;
    uint64_t logLevel;
    uint64_t nb_channel;
    uint64_t sample_fmt;
    uint64_t nb_samples;
    uint64_t data_size;
    uint64_t frameList;
    uint64_t sample_rate;
    uint64_t end_stream;
};
static_assert(sizeof(SHARED_MEM_DESC) == 120, "descriptor is 120 bytes");
static_assert(offsetof(SHARED_MEM_DESC, format) == 48, "format at 48");
static_assert(offsetof(SHARED_MEM_DESC, end_stream) == 112, "end_stream at 112");

// The synchronisation segment.
struct shared_memory_sync {
    pthread_mutex_t mutex;
    pthread_cond_t condition;
    int32_t onlyOnce; // -1 until the condition has been signalled
    int32_t padding;
};
static_assert(sizeof(pthread_mutex_t) == 40 && sizeof(pthread_cond_t) == 48, "glibc x86-64 layout");
static_assert(offsetof(shared_memory_sync, onlyOnce) == 88, "onlyOnce at 88");
static_assert(sizeof(shared_memory_sync) == 96, "sync segment is 96 bytes");

// Frame slot n starts at kFrameDataOffset + n * frame bytes.
constexpr size_t kFrameDataOffset = 960;

union IpcSemArgument {
    int val;
    void* buf;
};

class IPCContext {
public:
    explicit IPCContext(EventDebug* logger);
    ~IPCContext();
    IPCContext(const IPCContext&) = delete;
    IPCContext& operator=(const IPCContext&) = delete;

    // Creates (or opens) both segments; failures are logged and the channel
    // stays unusable (null pointers). Always true.
    bool init(void* lpsa, std::string mutex_name, std::string shared_mem_name, std::string grab_name,
              unsigned bufferSize);
    bool init(void* lpsa);
    int lockShareMem();
    int unLockShareMem();
    void* getBufferPtr();
    // Signals the condition the first time only; -1 afterwards.
    int setEvent();
    int resetEvent();
    // Unmaps this process's view of the segments; the names stay for the
    // other process and whoever chose them.
    void freeIPC();
    // Size of the mapped data segment in bytes, 0 when there is none.
    size_t bufferBytes() const { return shareMem_size; }

    void* m_sharedMem = nullptr;
    void* m_frameGrabbedEvent = nullptr;
    SHARED_MEM_DESC m_memDesc{};
    void* m_hMutex = nullptr;
    void* m_memMap = nullptr;
    EventDebug* m_logger = nullptr;
    bool m_isLocked = false;
    struct sembuf shareMem_Mutex { };
    IpcSemArgument options{};
    int32_t shareMem_id = -1;
    int32_t shareMem_mutexId = -1;
    int32_t shareEvent_id = -1;
    shared_memory_sync* shareMutex = nullptr;
    void* shareMem_ptr = nullptr;

private:
    size_t shareMem_size = 0;
};
