#include "Allocator.h"

#include <algorithm>
#include <cstdint>
#include <malloc.h>
#include <sys/mman.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

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
    // Mapping in is mostly the kernel (and on a virtual machine its host) clearing pages, which
    // runs side by side: a large buffer is mapped in on several threads, 4 MiB or more each.
    const auto mapIn = [](uintptr_t from, uintptr_t to) {
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
    };
    const int parts = int(std::min<uintptr_t>(8, (last - first) / (2 * Huge)));
    if (parts < 2) return mapIn(first, last);
    const auto at = [&](int p) {
        return p == parts ? last
                          : std::max(first, (first + (last - first) / parts * p) & ~(Huge - 1));
    };
    std::vector<std::thread> threads;
    int p = 1;
    try {
        for (; p < parts; ++p)
            threads.emplace_back(mapIn, at(p), at(p + 1));
    } catch (const std::system_error&) {
        mapIn(at(p), last); // no more threads to be had
    }
    mapIn(at(0), at(1));
    for (std::thread& t : threads)
        t.join();
}

} // namespace Allocator
