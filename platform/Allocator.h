#pragma once
#include <cstddef>

// Allocator settings of the programs, made once at program start.
namespace Allocator {
// Every archive entry sets up and tears down its own compressor; with the allocator's default
// thresholds each of them goes back to the kernel and faults in again, which costs about a
// third of a run on many small files. Freed memory is kept instead; the ZIP component hands it
// back at the end of each run.
void KeepFreedMemory();

// A large buffer about to be written (a big file read at start-up): asks the kernel to back it
// with huge pages, as on a virtual machine every first touch of a small page is a costly trap.
// A buffer that will be written from start to end is also mapped in now (a large one on
// several threads), which spares the traps of its small pages at both ends. Small buffers, and a
// kernel that declines, are left as they are.
void AdviseLargeBuffer(void* data, size_t bytes, bool filledWhole = true);
} // namespace Allocator
