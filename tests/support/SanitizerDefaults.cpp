// Built into the sanitized test binaries only: settings that hold wherever
// the binary runs (ctest, a shell, a debugger).
extern "C" {

const char* __asan_default_options()
{
    return "detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1";
}

const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}

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
