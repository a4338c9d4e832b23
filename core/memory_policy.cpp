#include "core/memory_policy.h"

#include <cstdint>
#include <cstdlib>  // defines __GLIBC__ with the C library's first header

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace pictorix {

void KeepPictureMemory() {
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_MAX, 0);  // no block gets a mapping of its own
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#if defined(MADV_HUGEPAGE)
    // The heap grows and stays with room for several large pictures, and that room is
    // offered to the kernel for huge pages: a 2 MiB page faulted in at once instead of
    // 512 small ones, and far fewer TLB misses on every pass over a picture. Untouched
    // room costs address space only.
    constexpr std::size_t kRoom = std::size_t(512) << 20, kHugePage = std::size_t(2) << 20;
    mallopt(M_TOP_PAD, static_cast<int>(kRoom));
    if (void* grow = std::malloc(kHugePage)) {
        const auto begin = (reinterpret_cast<std::uintptr_t>(grow) + kHugePage - 1) / kHugePage * kHugePage;
        const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
        if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
        std::free(grow);
    }
#endif
#endif
}

}  // namespace pictorix
