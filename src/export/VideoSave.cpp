// JNI exports of quorvex.viewer.AnimationView.VideoPlaybackMovieCreator: one
// movie export at a time, started, fed frame by frame and closed from Java.
#include "boundary/Debug_Trace.h"
#include "boundary/JniSupport.h"
#include "export/StreamStub.h"
#include "gl/GlLoader.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// The export in progress (null when none). `exportRefused` marks an export
// whose start was refused: its frames fail until closeAVI.
StreamStub* ss = nullptr;
bool exportRefused = false;

constexpr jsize kMaxArguments = 20;
constexpr size_t kMaxEncoderPath = 255;
constexpr size_t kMaxMoviePath = 1023;

void setQXSave(JNIEnv* env, jobject obj, jlong handle)
{
    if (env == nullptr || obj == nullptr)
        return;
    qv::LocalRef<jclass> cls(env, env->GetObjectClass(obj));
    const jfieldID field = cls ? env->GetFieldID(cls.get(), "qxvideosave", "J") : nullptr;
    if (field == nullptr) {
        qv::clearPendingException(env);
        debug_trace(" no long field qxvideosave, handle not stored ");
        return;
    }
    env->SetLongField(obj, field, handle);
}

void closeExport()
{
    exportRefused = false;
    if (ss == nullptr)
        return;
    ss->streamBuffer(nullptr, 0, 0, 0);
    qv::forgetHandle(ss);
    delete ss;
    ss = nullptr;
}

// The argument array's strings (element 0 is the encoder); empty when the
// array cannot start an export, with the reason logged.
std::vector<std::string> readArguments(JNIEnv* env, jobjectArray array)
{
    std::vector<std::string> args;
    const jsize count = array != nullptr ? env->GetArrayLength(array) : 0;
    debug_trace(" arg list size %d", static_cast<int>(count));
    if (count < 1 || count > kMaxArguments) {
        debug_trace(" argument list of %d strings refused (1 to %d) ", static_cast<int>(count),
                    static_cast<int>(kMaxArguments));
        return args;
    }
    for (jsize i = 0; i < count; ++i) {
        qv::LocalRef<jobject> element(env, env->GetObjectArrayElement(array, i));
        qv::clearPendingException(env);
        qv::Utf8 text = qv::utf8(env, static_cast<jstring>(element.get()));
        args.emplace_back(text ? text.get() : "");
    }
    if (args[0].empty() || args[0].size() > kMaxEncoderPath) {
        debug_trace(" encoder path of %d bytes refused ", static_cast<int>(args[0].size()));
        args.clear();
    }
    return args;
}

} // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_initSaveVideo(
    JNIEnv* env, jobject obj, jobject comp, jstring file, jint width, jint height, jint framerate,
    jstring codec, jobjectArray array)
{
    return qv::guard("initSaveVideo", jboolean(JNI_FALSE), [&] {
        if (!qv::hasCurrentGlContext()) {
            debug_trace("initSaveVideo: no current GL context, no export ");
            return jboolean(JNI_FALSE);
        }
        // One export at a time: an earlier one is finished properly first.
        closeExport();
        setQXSave(env, obj, 0);
        debug_trace(" load with stream stub");
        const std::vector<std::string> args = readArguments(env, array);
        qv::Utf8 fileName = qv::utf8(env, file);
        qv::Utf8 codecName = qv::utf8(env, codec);
        const size_t fileLength = fileName ? strlen(fileName.get()) : 0;
        if (args.empty() || fileLength == 0 || fileLength > kMaxMoviePath || framerate < 1) {
            debug_trace(" export refused: %s%s%s", args.empty() ? "no usable argument list " : "",
                        fileLength == 0 || fileLength > kMaxMoviePath ? "no usable movie path " : "",
                        framerate < 1 ? "frame rate below 1 " : "");
            exportRefused = true;
            return jboolean(JNI_TRUE);
        }
        debug_trace(" create stub ");
        ss = new StreamStub();
        ss->encoderName = args[0];
        debug_trace(" get encoder with path %s ", ss->encoderName.c_str());
        ss->setCodec(codecName ? codecName.get() : "");
        ss->initStream(fileName.get(), width, height, framerate);
        setQXSave(env, obj, qv::registerHandle(ss));
        return jboolean(JNI_TRUE);
    });
}

JNIEXPORT jint JNICALL Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_saveFrame(JNIEnv*, jobject,
                                                                                             jobject comp,
                                                                                             jint srcw,
                                                                                             jint srch)
{
    return qv::guard("saveFrame", jint(-1), [&] {
        if (ss == nullptr && !exportRefused)
            return jint(0);
        if (ss == nullptr) {
            debug_trace(" export was refused, no frame sent ");
            return jint(-1);
        }
        if (!qv::hasCurrentGlContext()) {
            debug_trace("saveFrame: no current GL context, no frame sent ");
            return jint(-1);
        }
        debug_trace(" begin to send buffer");
        const jint result = ss->streamBuffer(nullptr, srcw, srch, 3);
        if (result != 0)
            debug_trace(" encoder is dead %d ", result);
        return result;
    });
}

JNIEXPORT jboolean JNICALL Java_quorvex_viewer_AnimationView_VideoPlaybackMovieCreator_closeAVI(JNIEnv*,
                                                                                                jobject)
{
    return qv::guard("closeAVI", jboolean(JNI_FALSE), [&] {
        if (ss == nullptr) {
            exportRefused = false;
            return jboolean(JNI_TRUE);
        }
        // The encoder must never outlive the export: without a context the
        // stream is still ended and the child reaped; only the read-back
        // buffer's name stays with its (gone) context.
        if (!qv::hasCurrentGlContext())
            debug_trace("closeAVI: no current GL context, closing the stream without it ");
        debug_trace(" strange close avi send out ");
        closeExport();
        return jboolean(JNI_TRUE);
    });
}

} // extern "C"
