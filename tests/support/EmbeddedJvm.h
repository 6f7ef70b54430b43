// One Java VM per test binary, so JNI helpers and exports can be driven
// natively with real Java strings and arrays.
#pragma once

#include <jni.h>

namespace qvtest {
JNIEnv* jvmEnv();
} // namespace qvtest
