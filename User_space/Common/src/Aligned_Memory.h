#pragma once

#include <cstddef>
#include <cstdlib>

#if defined(_WIN32)
#include <malloc.h>
#endif

// Aligned heap blocks for buffers the device writes into. The Windows C runtime has no
// aligned_alloc; its own aligned allocation needs its own release call.
namespace Selvan::MURA {

inline void* aligned_allocate(std::size_t alignment, std::size_t size) {
#if defined(_WIN32)
    return _aligned_malloc(size, alignment);
#else
    return std::aligned_alloc(alignment, size);
#endif
}

inline void aligned_release(void* block) {
#if defined(_WIN32)
    _aligned_free(block);
#else
    std::free(block);
#endif
}

} // namespace Selvan::MURA
