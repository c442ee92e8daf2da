#pragma once
// Allocator settings of the programs, made once at program start.
namespace Allocator {
// Every archive entry sets up and tears down its own compressor; with the allocator's default
// thresholds each of them goes back to the kernel and faults in again, which costs about a
// third of a run on many small files. Freed memory is kept instead; the ZIP component hands it
// back at the end of each run.
void KeepFreedMemory();
} // namespace Allocator
