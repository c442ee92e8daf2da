#include "Allocator.h"

#include <cstdint>
#include <malloc.h>
#include <sys/mman.h>

namespace Allocator {

void KeepFreedMemory() {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

void AdviseLargeBuffer(void* data, size_t bytes) {
    constexpr uintptr_t Huge = uintptr_t(2) << 20;
    if (bytes < 2 * Huge) return;
    const uintptr_t begin = (uintptr_t(data) + Huge - 1) & ~(Huge - 1);
    const uintptr_t end = (uintptr_t(data) + bytes) & ~(Huge - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

} // namespace Allocator
