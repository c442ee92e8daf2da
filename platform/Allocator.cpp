#include "Allocator.h"

#include <cstdint>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace Allocator {

void KeepFreedMemory() {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

void AdviseLargeBuffer(void* data, size_t bytes, bool filledWhole) {
    constexpr uintptr_t Huge = uintptr_t(2) << 20;
    if (bytes < 2 * Huge) return;
    const uintptr_t begin = (uintptr_t(data) + Huge - 1) & ~(Huge - 1);
    const uintptr_t end = (uintptr_t(data) + bytes) & ~(Huge - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    if (!filledWhole) return;
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    const uintptr_t first = uintptr_t(data) & ~(page - 1);
    const uintptr_t last = (uintptr_t(data) + bytes + page - 1) & ~(page - 1);
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
}

} // namespace Allocator
