#include "platform/qx_memory.h"

#include <cerrno>
#include <malloc.h>

#include <cstdlib>

#ifdef QX_ALLOC_INJECTION
#include <atomic>
#include <cstdio>
#include <cstring>

namespace {
std::atomic<long> allocations{0};

void printCount() { std::fprintf(stderr, "allocations: %ld\n", allocations.load()); }

long target()
{
    // -1: no injection; -2: count only.
    static const long value = [] {
        const char *v = std::getenv("QX_FAIL_ALLOC");
        if (!v || !*v)
            return -1L;
        if (!std::strcmp(v, "count")) {
            std::atexit(printCount);
            return -2L;
        }
        return std::strtol(v, nullptr, 10);
    }();
    return value;
}
} // namespace

extern "C" int qxAllocFailNow(void)
{
    long failAt = target();
    return failAt != -1 && allocations.fetch_add(1) + 1 == failAt;
}
#endif

extern "C" void *qxAlloc(size_t size, int zero)
{
    if (size == 0)
        return nullptr;
    if (qxAllocFailNow()) {
        errno = ENOMEM; // as a failing malloc leaves it
        return nullptr;
    }
    return zero ? std::calloc(size, 1) : std::malloc(size);
}

extern "C" void qxFree(void *block) { std::free(block); }

extern "C" void *qxRealloc(void *block, size_t size)
{
    if (size == 0 || qxAllocFailNow()) {
        errno = ENOMEM;
        return nullptr;
    }
    return std::realloc(block, size);
}

extern "C" void qxTuneHeap(void)
{
    // Picture-sized buffers (8 MB for a 1080p frame) come and go with every
    // load, often two at a time (decoded pixels and bitmap). Kept in the
    // heap they are reused; mapped, they are unmapped at each free and
    // faulted in again. 32 MB is the largest threshold glibc takes.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
}
