#include "boundary/HandleRegistry.h"

#include "boundary/Debug_Trace.h"

#include <unordered_map>

namespace qv {

namespace {

std::unordered_map<const void*, HandleKind>& liveHandles()
{
    // Never destroyed: exports may still run from other static destructors at exit.
    static auto* handles = new std::unordered_map<const void*, HandleKind>();
    return *handles;
}

} // namespace

const char* handleKindName(HandleKind kind)
{
    switch (kind) {
    case HandleKind::CircleDataSets: return "CircleDataSets";
    case HandleKind::Font: return "QX_FTFont";
    case HandleKind::GLCache: return "GLCache";
    case HandleKind::HeatmapScene: return "HeatmapScene";
    case HandleKind::VideoRes: return "VideoRes";
    case HandleKind::VideoEnv: return "VideoEnv";
    case HandleKind::StreamStub: return "StreamStub";
    }
    return "?";
}

namespace HandleRegistry {

void add(const void* object, HandleKind kind) { liveHandles()[object] = kind; }

bool remove(const void* object) { return liveHandles().erase(object) == 1; }

bool check(const char* what, jlong handle, HandleKind kind)
{
    const auto& handles = liveHandles();
    const auto it = handles.find(reinterpret_cast<const void*>(static_cast<intptr_t>(handle)));
    if (it == handles.end()) {
        debug_trace("%s: unknown handle 0x%llx \n", what, static_cast<unsigned long long>(handle));
        return false;
    }
    if (it->second != kind) {
        debug_trace("%s: handle 0x%llx is a %s, not a %s \n", what, static_cast<unsigned long long>(handle),
                    handleKindName(it->second), handleKindName(kind));
        return false;
    }
    return true;
}

std::size_t size() { return liveHandles().size(); }

} // namespace HandleRegistry

} // namespace qv
