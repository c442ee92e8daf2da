#include "Allocator.h"

#include <malloc.h>

namespace Allocator {

void KeepFreedMemory() {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

} // namespace Allocator
