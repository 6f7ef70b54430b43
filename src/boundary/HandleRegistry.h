// The live native handles: every object handed to Java is recorded with its
// kind when a creating export makes it and forgotten when a destroying export
// deletes it, so a garbage value, a stale handle or a handle of another kind
// is refused with a log line instead of being dereferenced.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>

class CircleDataSets;
class QX_FTFont;
class GLCache;
class HeatmapScene;
class VideoRes;
struct VideoEnv;
class StreamStub;

namespace qv {

enum class HandleKind : std::uint8_t {
    CircleDataSets,
    Font,
    GLCache,
    HeatmapScene,
    VideoRes,
    VideoEnv,
    StreamStub
};

template <class T>
struct HandleKindOf;
template <>
struct HandleKindOf<CircleDataSets> {
    static constexpr HandleKind kind = HandleKind::CircleDataSets;
};
template <>
struct HandleKindOf<QX_FTFont> {
    static constexpr HandleKind kind = HandleKind::Font;
};
template <>
struct HandleKindOf<GLCache> {
    static constexpr HandleKind kind = HandleKind::GLCache;
};
template <>
struct HandleKindOf<HeatmapScene> {
    static constexpr HandleKind kind = HandleKind::HeatmapScene;
};
template <>
struct HandleKindOf<VideoRes> {
    static constexpr HandleKind kind = HandleKind::VideoRes;
};
template <>
struct HandleKindOf<VideoEnv> {
    static constexpr HandleKind kind = HandleKind::VideoEnv;
};
template <>
struct HandleKindOf<StreamStub> {
    static constexpr HandleKind kind = HandleKind::StreamStub;
};

// The class name of a kind, for log lines.
const char* handleKindName(HandleKind kind);

// Every export runs on the one Java thread that owns the GL context, so the
// registry has no lock; a second calling thread would need one.
namespace HandleRegistry {
void add(const void* object, HandleKind kind);
// Forgets the object; false when it was not recorded.
bool remove(const void* object);
// True when the handle is live and of that kind; otherwise logs
// "<what>: unknown handle 0x..." or "<what>: handle 0x... is a <kind>, not a <kind>".
bool check(const char* what, jlong handle, HandleKind kind);
// Number of live handles (for tests).
std::size_t size();
} // namespace HandleRegistry

template <class T>
jlong toHandle(T* object)
{
    return static_cast<jlong>(reinterpret_cast<intptr_t>(object));
}

// Records a newly created object and returns its handle; null gives 0.
template <class T>
jlong registerHandle(T* object)
{
    if (object == nullptr)
        return 0;
    HandleRegistry::add(object, HandleKindOf<T>::kind);
    return toHandle(object);
}

// Forgets an object before its destroying export deletes it.
template <class T>
void forgetHandle(T* object)
{
    HandleRegistry::remove(object);
}

// The live object of a non-zero handle, or null (logged) when the handle is
// unknown or of another kind.
template <class T>
T* lookupHandle(const char* what, jlong handle)
{
    if (!HandleRegistry::check(what, handle, HandleKindOf<T>::kind))
        return nullptr;
    return reinterpret_cast<T*>(static_cast<intptr_t>(handle));
}

} // namespace qv
