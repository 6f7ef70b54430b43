#include "boundary/Utils.h"

#include "boundary/Debug_Trace.h"
#include "boundary/JniSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string besideLibrary(const std::string& name)
{
    if (homedir == nullptr)
        return std::string();
    std::string beside(homedir);
    beside.replace(beside.rfind('/') + 1, std::string::npos, name);
    struct stat st;
    return stat(beside.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? beside : std::string();
}

const char* const kDocumentOpener = "/usr/bin/xdg-open";

int64_t hashfcn(const char* str)
{
    uint64_t h = 0;
    if (str != nullptr) {
        for (const char* p = str; *p != '\0'; ++p) {
            // Bytes above 0x7F count as negative values, widened with their sign.
            const int64_t c = static_cast<signed char>(*p);
            h = static_cast<uint64_t>(c) + (h << 6) + (h << 16) - h;
        }
    }
    return static_cast<int64_t>(h & 0x7FFFFFFFFFFFFFFFull);
}

namespace {
// The child only execs, so the argument vector lives in process-wide storage.
char documentPath[200];
char openerPath[512];
char* openerArgs[3];
} // namespace

pid_t openDocument(const char* path, const char* opener)
{
    if (path == nullptr || path[0] == '\0') {
        debug_trace("openDocument: no document given \n");
        return -1;
    }
    const size_t length = strlen(path);
    if (length >= sizeof documentPath || strlen(opener) >= sizeof openerPath) {
        debug_trace("openDocument: path of %zu bytes is too long \n", length);
        return -1;
    }
    memcpy(documentPath, path, length + 1);
    strcpy(openerPath, opener);
    openerArgs[0] = openerPath;
    openerArgs[1] = documentPath;
    openerArgs[2] = nullptr;

    // Logged before the fork: the child of a threaded JVM may only do
    // async-signal-safe work, and syslog takes locks another thread may hold.
    debug_trace("openDocument: create process with command %s %s", openerPath, documentPath);
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(openerArgs[0], openerArgs);
        static const char failed[] = "opendocument failed: exec of the opener failed \n";
        ssize_t ignored = write(STDERR_FILENO, failed, sizeof failed - 1);
        (void)ignored;
        // Never return into the JVM's code in the child: that would run a second JVM.
        _exit(127);
    }
    if (pid < 0)
        debug_trace("openDocument: fork failed %s \n", strerror(errno));
    return pid;
}

extern "C" {

JNIEXPORT jstring JNICALL Java_quorvex_viewer_Utils_getExeDir(JNIEnv* env, jclass)
{
    return qv::guard("getExeDir", jstring(nullptr), [&] { return qv::newString(env, homedir); });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_Utils_getPid(JNIEnv*, jclass)
{
    return static_cast<jint>(getpid());
}

JNIEXPORT jboolean JNICALL Java_quorvex_viewer_Utils_isValidPid(JNIEnv*, jclass, jint id)
{
    return id == static_cast<jint>(getpid()) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jstring JNICALL Java_quorvex_viewer_Utils_getDocumentFolder0(JNIEnv* env, jclass)
{
    return qv::guard("getDocumentFolder0", jstring(nullptr), [&] { return qv::newString(env, ""); });
}

JNIEXPORT jstring JNICALL Java_quorvex_viewer_Utils_getOpenGLVersion(JNIEnv* env, jclass)
{
    return qv::guard("getOpenGLVersion", jstring(nullptr), [&] { return qv::newString(env, ""); });
}

JNIEXPORT jboolean JNICALL Java_quorvex_viewer_Utils_hasSuitableOpenglVersion(JNIEnv*, jclass)
{
    return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_quorvex_viewer_Utils_isWriteableImpl(JNIEnv*, jclass, jstring)
{
    return JNI_TRUE;
}

JNIEXPORT jstring JNICALL Java_quorvex_viewer_Utils_getPidPath(JNIEnv* env, jclass, jint)
{
    return qv::guard("getPidPath", jstring(nullptr), [&] { return qv::newString(env, ""); });
}

JNIEXPORT jlong JNICALL Java_quorvex_viewer_Utils_getHashValue(JNIEnv* env, jclass, jstring str)
{
    return qv::guard("getHashValue", jlong(0), [&] {
        if (str == nullptr) {
            debug_trace("getHashValue: null string \n");
            return jlong(0);
        }
        qv::StringUTFChars chars(env, str);
        return static_cast<jlong>(hashfcn(chars.c_str()));
    });
}

JNIEXPORT jboolean JNICALL Java_quorvex_viewer_ViewerProperties_openDocument(JNIEnv* env, jclass, jstring str)
{
    return qv::guard("openDocument", jboolean(JNI_FALSE), [&] {
        qv::StringUTFChars chars(env, str);
        return openDocument(chars.c_str()) > 0 ? JNI_TRUE : JNI_FALSE;
    });
}

} // extern "C"
