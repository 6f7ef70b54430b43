// RAII for every JNI resource the exports take, and the guards that keep a
// 0 handle, a missing GL context or a C++ exception from ever reaching the JVM.
#pragma once

#include "boundary/Debug_Trace.h"
#include "boundary/HandleRegistry.h"
#include "gl/GlLoader.h"

#include <jni.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

namespace qv {

// Clears a pending Java exception (logging it); true when there was one.
inline bool clearPendingException(JNIEnv* env)
{
    if (env == nullptr || !env->ExceptionCheck())
        return false;
    env->ExceptionClear();
    debug_trace("jni: cleared a pending Java exception \n");
    return true;
}

// A local reference deleted when it goes out of scope.
template <class T>
class LocalRef {
public:
    LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) { }
    ~LocalRef()
    {
        if (ref_ != nullptr)
            env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

private:
    JNIEnv* env_;
    T ref_;
};

template <class A>
struct ArrayTraits;
#define QV_ARRAY_TRAITS(ArrayType, ElemType, Name)                                                           \
    template <>                                                                                              \
    struct ArrayTraits<ArrayType> {                                                                          \
        using Elem = ElemType;                                                                               \
        static Elem* get(JNIEnv* e, ArrayType a) { return e->Get##Name##ArrayElements(a, nullptr); }         \
        static void release(JNIEnv* e, ArrayType a, Elem* p, jint mode)                                      \
        {                                                                                                    \
            e->Release##Name##ArrayElements(a, p, mode);                                                     \
        }                                                                                                    \
    };
QV_ARRAY_TRAITS(jbyteArray, jbyte, Byte)
QV_ARRAY_TRAITS(jintArray, jint, Int)
QV_ARRAY_TRAITS(jfloatArray, jfloat, Float)
QV_ARRAY_TRAITS(jdoubleArray, jdouble, Double)
QV_ARRAY_TRAITS(jlongArray, jlong, Long)
QV_ARRAY_TRAITS(jshortArray, jshort, Short)
#undef QV_ARRAY_TRAITS

enum class Access { ReadOnly, ReadWrite };

// The elements of a Java primitive array; a null array is empty.
// Read-only access releases with JNI_ABORT so nothing is copied back.
template <class A>
class ArrayElements {
public:
    using Elem = typename ArrayTraits<A>::Elem;

    ArrayElements(JNIEnv* env, A array, Access access = Access::ReadOnly)
        : env_(env), array_(array), access_(access)
    {
        if (env_ == nullptr || array_ == nullptr)
            return;
        size_ = env_->GetArrayLength(array_);
        data_ = ArrayTraits<A>::get(env_, array_);
        if (data_ == nullptr) {
            clearPendingException(env_);
            size_ = 0;
        }
    }
    ~ArrayElements()
    {
        if (data_ != nullptr)
            ArrayTraits<A>::release(env_, array_, data_, access_ == Access::ReadOnly ? JNI_ABORT : 0);
    }
    ArrayElements(const ArrayElements&) = delete;
    ArrayElements& operator=(const ArrayElements&) = delete;

    jsize size() const { return size_; }
    Elem* data() const { return data_; }
    Elem operator[](jsize i) const { return data_[i]; }

private:
    JNIEnv* env_;
    A array_;
    Access access_;
    Elem* data_ = nullptr;
    jsize size_ = 0;
};

// Modified UTF-8 characters of a Java string; null for a null string.
class StringUTFChars {
public:
    StringUTFChars(JNIEnv* env, jstring str) : env_(env), str_(str)
    {
        if (env_ != nullptr && str_ != nullptr) {
            chars_ = env_->GetStringUTFChars(str_, nullptr);
            if (chars_ == nullptr)
                clearPendingException(env_);
        }
    }
    ~StringUTFChars()
    {
        if (chars_ != nullptr)
            env_->ReleaseStringUTFChars(str_, chars_);
    }
    StringUTFChars(const StringUTFChars&) = delete;
    StringUTFChars& operator=(const StringUTFChars&) = delete;
    const char* c_str() const { return chars_; }

private:
    JNIEnv* env_;
    jstring str_;
    const char* chars_ = nullptr;
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
// Standard UTF-8 of a Java string (see jstringToWindowsJ); null when empty.
using Utf8 = std::unique_ptr<char, FreeDeleter>;
inline Utf8 utf8(JNIEnv* env, jstring str) { return Utf8(jstringToWindowsJ(env, str)); }

// Java string from a C string; null for a null pointer.
inline jstring newString(JNIEnv* env, const char* s)
{
    if (s == nullptr)
        return nullptr;
    jstring result = env->NewStringUTF(s);
    if (result == nullptr)
        clearPendingException(env);
    return result;
}

// Runs an export body so that no C++ exception crosses into the JVM.
template <class R, class F>
R guard(const char* what, R failure, F&& body) noexcept
{
    try {
        return std::forward<F>(body)();
    } catch (const std::exception& e) {
        debug_trace("%s failed: %s \n", what, e.what());
    } catch (...) {
        debug_trace("%s failed: unknown error \n", what);
    }
    return failure;
}

template <class F>
void guardVoid(const char* what, F&& body) noexcept
{
    guard(what, 0, [&] {
        std::forward<F>(body)();
        return 0;
    });
}

// Finds a native handle's live object in the handle registry; a 0 handle,
// an unknown one or one of another kind does nothing (logged) and yields the
// export's failure value.
template <class T, class R, class F>
R withHandle(const char* what, jlong handle, R failure, F&& body) noexcept
{
    if (handle == 0) {
        debug_trace("%s: called with a null handle \n", what);
        return failure;
    }
    return guard(what, failure, [&] {
        T* object = lookupHandle<T>(what, handle);
        return object != nullptr ? body(*object) : failure;
    });
}

template <class T, class F>
void withHandleVoid(const char* what, jlong handle, F&& body) noexcept
{
    withHandle<T>(what, handle, 0, [&](T& object) {
        body(object);
        return 0;
    });
}

// Tag for the guards of exports whose work calls GL. Without a current
// context such a call would go through a GL entry point that may never have
// been loaded (a null pointer), so the export logs and fails instead.
struct NeedsGl { };
inline constexpr NeedsGl needsGl{};

inline bool glContextFor(const char* what)
{
    if (hasCurrentGlContext())
        return true;
    debug_trace("%s: no current GL context \n", what);
    return false;
}

template <class R, class F>
R guard(NeedsGl, const char* what, R failure, F&& body) noexcept
{
    return glContextFor(what) ? guard(what, failure, std::forward<F>(body)) : failure;
}

template <class F>
void guardVoid(NeedsGl, const char* what, F&& body) noexcept
{
    if (glContextFor(what))
        guardVoid(what, std::forward<F>(body));
}

// A 0 handle is refused first, then a call without a GL context.
template <class T, class R, class F>
R withHandle(NeedsGl, const char* what, jlong handle, R failure, F&& body) noexcept
{
    if (handle != 0 && !glContextFor(what))
        return failure;
    return withHandle<T>(what, handle, failure, std::forward<F>(body));
}

template <class T, class F>
void withHandleVoid(NeedsGl, const char* what, jlong handle, F&& body) noexcept
{
    if (handle != 0 && !glContextFor(what))
        return;
    withHandleVoid<T>(what, handle, std::forward<F>(body));
}

} // namespace qv
