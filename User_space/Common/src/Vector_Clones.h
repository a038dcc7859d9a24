#pragma once

// The sample loops of the data path vectorize; built for the baseline x86-64 processor they use
// 128-bit registers. Marked with this, a function is also compiled for AVX2 and the loader
// picks the version the processor runs (an indirect function, which needs the GNU C library, so
// Windows builds and other platforms keep the one baseline version). Both versions compute the
// same results: the loops only convert, multiply and compare, with no fused operations.
#if defined(__x86_64__) && defined(__linux__) && defined(__GLIBC__)
#define NP3_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define NP3_VECTOR_CLONES
#endif
