#pragma once
// How the programs ask the C library to manage memory for pictures.

namespace pictorix {

// Call once at the start of a program, before its threads start. A picture of a few
// megapixels is larger than glibc's threshold for giving an allocation a mapping of
// its own, so each new picture, conversion or turn would be mapped afresh and its
// pages faulted in one at a time, which costs more than decoding it. Served from the
// heap, and with freed memory kept there, the next picture reuses the pages. All
// threads share one heap: a thread's own heap holds at most 64 MiB, so two pictures
// of a worker would not fit and would be mapped and unmapped every time. The workers
// allocate a few large blocks per picture, so they hardly ever wait for each other.
void KeepPictureMemory();

}  // namespace pictorix
