#include "platform/qx_memory.h"

#include <malloc.h>

#include <cstdlib>

extern "C" void *qxAlloc(size_t size, int zero)
{
    if (size == 0)
        return nullptr;
    return zero ? std::calloc(size, 1) : std::malloc(size);
}

extern "C" void qxFree(void *block) { std::free(block); }

extern "C" void qxTuneHeap(void)
{
    // Picture-sized buffers (8 MB for a 1080p frame) come and go with every
    // load, often two at a time (decoded pixels and bitmap). Kept in the
    // heap they are reused; mapped, they are unmapped at each free and
    // faulted in again. 32 MB is the largest threshold glibc takes.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
}
