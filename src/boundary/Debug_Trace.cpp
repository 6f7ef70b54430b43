#include "boundary/Debug_Trace.h"

#include "boundary/JniSupport.h"

#include <dlfcn.h>
#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

char* homedir = nullptr;
bool initSysLog = false;

// Runs when the loader maps the library: remember our own path so that files
// shipped beside the library (fonts, plug-ins, encoder) can be found. Linked
// into a program (the headless renderer), dladdr names the program as it was
// started, maybe without a folder: the kernel's name for it is the file.
__attribute__((constructor)) static void on_load()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&on_load), &info) == 0 || info.dli_fname == nullptr)
        return;
    const bool named = std::strchr(info.dli_fname, '/') != nullptr;
    homedir = named ? strdup(info.dli_fname) : realpath("/proc/self/exe", nullptr);
}

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM*, void*) { return JNI_VERSION_1_4; }

extern "C" JNIEXPORT void JNICALL JNI_OnUnload(JavaVM*, void*) { }

void debug_trace(const char* lpszFormat, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, lpszFormat);
    vsnprintf(buffer, sizeof buffer, lpszFormat, args);
    va_end(args);

    if (!initSysLog) {
        openlog("trelvanLog", LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
        initSysLog = true;
    }
    // The formatted text must not be read as a format a second time.
    syslog(LOG_WARNING, "%s", buffer);
}

const char* glErrorName(GLenum code)
{
    switch (code) {
    case 0x0500: return "INVALID_ENUM";
    case 0x0501: return "INVALID_VALUE";
    case 0x0502: return "INVALID_OPERATION";
    case 0x0503: return "STACK_OVERFLOW";
    case 0x0504: return "STACK_UNDERFLOW";
    case 0x0505: return "OUT_OF_MEMORY";
    case 0x0506: return "INVALID_FRAMEBUFFER_OPERATION";
    default: return "";
    }
}

GLenum glCheckError_(const char* file, int line)
{
    GLenum code;
    // Without a context glGetError keeps failing; bound the loop so a bad
    // caller cannot hang the JVM.
    for (int guard = 0; guard < 64; ++guard) {
        code = glGetError();
        if (code == GL_NO_ERROR)
            return code;
        printf("%s  %s %d \n", glErrorName(code), file, line);
    }
    return GL_NO_ERROR;
}

int getPower2(int num)
{
    // Unsigned arithmetic keeps the bit tricks free of signed overflow; the
    // arithmetic shift of the original rule makes every negative input 0.
    if (num < 1)
        return 0;
    unsigned v = static_cast<unsigned>(num) - 1u;
    v |= v >> 1;
    v |= v >> 2;
    v |= v >> 4;
    v |= v >> 8;
    v |= v >> 16;
    return static_cast<int>(v + 1u);
}

char* jstringToWindowsJ(JNIEnv* env, jstring jstr)
{
    if (env == nullptr || jstr == nullptr)
        return nullptr;
    qv::LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
    if (!stringClass)
        return qv::clearPendingException(env), nullptr;
    qv::LocalRef<jstring> encoding(env, env->NewStringUTF("utf-8"));
    jmethodID getBytes = env->GetMethodID(stringClass.get(), "getBytes", "(Ljava/lang/String;)[B");
    if (!encoding || getBytes == nullptr)
        return qv::clearPendingException(env), nullptr;
    qv::LocalRef<jbyteArray> bytes(
        env, static_cast<jbyteArray>(env->CallObjectMethod(jstr, getBytes, encoding.get())));
    if (qv::clearPendingException(env) || !bytes)
        return nullptr;

    qv::ArrayElements<jbyteArray> elements(env, bytes.get());
    const jsize alen = elements.size();
    if (alen <= 0 || elements.data() == nullptr)
        return nullptr;
    char* result = static_cast<char*>(malloc(static_cast<size_t>(alen) + 1));
    if (result == nullptr)
        return nullptr;
    memcpy(result, elements.data(), static_cast<size_t>(alen));
    result[alen] = '\0';
    return result;
}
