#include "core/memory_policy.h"

#include <cstdlib>  // defines __GLIBC__ with the C library's first header

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pictorix {

void KeepPictureMemory() {
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_MAX, 0);  // no block gets a mapping of its own
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

}  // namespace pictorix
