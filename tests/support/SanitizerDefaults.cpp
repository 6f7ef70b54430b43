// Built into the sanitized test binaries only: settings that hold wherever
// the binary runs (ctest, a shell, a debugger).
extern "C" {

// __tls_get_addr is not intercepted: the leak checker's record of the dynamic
// TLS that llvmpipe's JIT (libLLVM) allocates on the main thread is sized by a
// guess that fails on this glibc ("Can't guess glibc version"), and scanning it
// at exit can crash the checker after every test has passed. The library
// keeps no thread-local data, so no root of its own is lost.
const char* __asan_default_options()
{
    return "detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:"
           "intercept_tls_get_addr=0";
}

const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

// Only leaks of the system's GL stack are suppressed, never this library's.
const char* __lsan_default_suppressions()
{
    return
        // Mesa's software rasteriser keeps per-context allocations (feedback
        // and selection buffers among them) that it frees only at driver unload.
        "leak:swrast_dri.so\n"
        // The GLX client library caches per-display data for the process lifetime.
        "leak:libGLX_mesa.so\n"
        // LLVM's JIT behind llvmpipe keeps its compiled shader state.
        "leak:libLLVM-15.so\n";
}

} // extern "C"
