#include "platform/Allocator.h"

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void TuneAllocatorForLongRuns() {
#if defined(__GLIBC__)
    // glibc's own starting value; setting it also turns the raising off.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}
