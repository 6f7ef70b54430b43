#include "EmbeddedJvm.h"

#include <cstdio>
#include <cstdlib>

namespace qvtest {

JNIEnv* jvmEnv()
{
    static JavaVM* vm = nullptr;
    static JNIEnv* env = nullptr;
    if (env == nullptr) {
        JavaVMOption options[2];
        options[0].optionString = const_cast<char*>("-Xcheck:jni");
        options[1].optionString = const_cast<char*>("-Djava.class.path=" QV_JAVA_CLASSES);
        JavaVMInitArgs args{};
        args.version = JNI_VERSION_1_8;
        args.nOptions = 2;
        args.options = options;
        args.ignoreUnrecognized = JNI_FALSE;
        if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) {
            fprintf(stderr, "cannot create the Java VM\n");
            abort();
        }
    }
    return env;
}

} // namespace qvtest
