#include "export/IPCContext.h"

#include "boundary/CloseFd.h"
#include "boundary/Debug_Trace.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Opens (creating) a named segment of `bytes` and maps it shared; null on failure.
void* mapSegment(const std::string& name, size_t bytes)
{
    const int fd = shm_open(name.c_str(), O_CREAT | O_RDWR, 0600);
    if (fd < 0) {
        debug_trace(" cannot create shared memory %s name as %s ", strerror(errno), name.c_str());
        return nullptr;
    }
    void* memory = nullptr;
    if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        debug_trace("memory create failed %s  ", strerror(errno));
    } else {
        memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (memory == MAP_FAILED) {
            debug_trace("memory mapping failed. ");
            memory = nullptr;
        }
    }
    // The mapping keeps the segment; the descriptor is not needed any more.
    qv::closeFd(fd);
    return memory;
}

} // namespace

IPCContext::IPCContext(EventDebug* logger) : m_logger(logger) { }

IPCContext::~IPCContext() { freeIPC(); }

bool IPCContext::init(void* /*lpsa*/, std::string mutex_name, std::string shared_mem_name,
                      std::string /*grab_name*/, unsigned bufferSize)
{
    freeIPC();
    m_memDesc.frameId = 0;
    m_memDesc.totalFrame = 0;
    m_memDesc.end_stream = 0;
    shareMem_ptr = nullptr;

    shareMutex = static_cast<shared_memory_sync*>(mapSegment(mutex_name, sizeof(shared_memory_sync)));
    if (shareMutex != nullptr) {
        shareMutex->onlyOnce = -1;
        pthread_condattr_t conditionAttr;
        pthread_condattr_init(&conditionAttr);
        pthread_condattr_setpshared(&conditionAttr, PTHREAD_PROCESS_SHARED);
        pthread_cond_init(&shareMutex->condition, &conditionAttr);
        pthread_condattr_destroy(&conditionAttr);
        pthread_mutexattr_t mutexAttr;
        pthread_mutexattr_init(&mutexAttr);
        pthread_mutexattr_setpshared(&mutexAttr, PTHREAD_PROCESS_SHARED);
        pthread_mutex_init(&shareMutex->mutex, &mutexAttr);
        pthread_mutexattr_destroy(&mutexAttr);
        debug_trace(" create shared mutex");
    }

    const size_t bytes = static_cast<size_t>(bufferSize) << 20;
    shareMem_ptr = mapSegment(shared_mem_name, bytes);
    shareMem_size = shareMem_ptr != nullptr ? bytes : 0;
    m_memDesc.frameId = 0;
    m_isLocked = false;
    return true;
}

bool IPCContext::init(void* /*lpsa*/)
{
    m_memDesc.frameId = 0;
    return true;
}

int IPCContext::lockShareMem()
{
    if (shareMutex == nullptr)
        return EINVAL;
    const int result = pthread_mutex_lock(&shareMutex->mutex);
    m_isLocked = result == 0;
    return result;
}

int IPCContext::unLockShareMem()
{
    if (shareMutex == nullptr)
        return EINVAL;
    const int result = pthread_mutex_unlock(&shareMutex->mutex);
    if (result == 0)
        m_isLocked = false;
    return result;
}

void* IPCContext::getBufferPtr() { return shareMem_ptr; }

int IPCContext::setEvent()
{
    if (shareMutex == nullptr || shareMutex->onlyOnce != -1)
        return -1;
    shareMutex->onlyOnce = 1;
    const int result = pthread_cond_signal(&shareMutex->condition);
    debug_trace(" sende signal with return %d ", result);
    return result;
}

int IPCContext::resetEvent() { return 1; }

void IPCContext::freeIPC()
{
    // The mutex and condition are not destroyed: the other process may
    // still hold or wait on them.
    if (shareMutex != nullptr)
        munmap(shareMutex, sizeof(shared_memory_sync));
    if (shareMem_ptr != nullptr)
        munmap(shareMem_ptr, shareMem_size);
    shareMutex = nullptr;
    shareMem_ptr = nullptr;
    m_memMap = nullptr;
    shareMem_size = 0;
}
