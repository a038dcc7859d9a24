#pragma once

// Debian's readerwriterqueue, the lock-free single-producer single-consumer queue, as every
// unit of the project includes it.
//
// The queue publishes an element with a release fence and a relaxed store, and takes it with a
// relaxed load and an acquire fence. ThreadSanitizer does not see fences, so the queue's header
// tells it of each one through the sanitizer's annotations, but only where the compiler has
// __has_feature, which GCC 12 lacks: under GCC's -fsanitize=thread (__SANITIZE_THREAD__) the
// annotations are given here, or every hand-over would be reported as a data race.
#if defined(__SANITIZE_THREAD__) && !defined(AE_TSAN_ANNOTATE_RELEASE)
extern "C" void AnnotateHappensBefore(const char* file, int line, void* address);
extern "C" void AnnotateHappensAfter(const char* file, int line, void* address);
namespace moodycamel {
inline int ae_tsan_global;
}
#define AE_TSAN_ANNOTATE_RELEASE()                                                                           \
    AnnotateHappensBefore(__FILE__, __LINE__, (void*)(&::moodycamel::ae_tsan_global))
#define AE_TSAN_ANNOTATE_ACQUIRE()                                                                           \
    AnnotateHappensAfter(__FILE__, __LINE__, (void*)(&::moodycamel::ae_tsan_global))
#endif

#include <readerwriterqueue/readerwriterqueue.h>
