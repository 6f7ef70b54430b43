// Built into the sanitized JNI test binary only. The embedded Java VM uses
// SIGSEGV for its own null checks and safepoints, so it keeps that signal,
// and it never frees its heap and code caches before exit, so leak checking
// would report the VM rather than this library (the native GL tests keep it on).
extern "C" {

const char* __asan_default_options()
{
    return "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:abort_on_error=1:strict_string_checks=1";
}

const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

} // extern "C"
