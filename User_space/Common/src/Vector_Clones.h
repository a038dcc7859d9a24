#pragma once

// The sample loops of the data path vectorize; built for the baseline x86-64 processor they use
// 128-bit registers. Marked with this, a function is also compiled for AVX2 and the loader
// picks the version the processor runs (an indirect function, which needs the GNU C library, so
// Windows builds and other platforms keep the one baseline version). Both versions compute the
// same results: the loops only convert, multiply and compare, with no fused operations.
// ThreadSanitizer's runtime is not up yet when the loader runs the selection, so its builds
// keep one version.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define NP3_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define NP3_THREAD_SANITIZER 1
#endif

#if defined(__x86_64__) && defined(__linux__) && defined(__GLIBC__) && !defined(NP3_THREAD_SANITIZER)
#define NP3_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define NP3_VECTOR_CLONES
#endif
