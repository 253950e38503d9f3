#include "platform/qx_memory.h"

#include <cerrno>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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

namespace {
// Where the system gives 2 MB pages on request (transparent huge pages in
// "madvise" mode), the heap asks for them: a script's big tables and a
// picture's buffers then take one fault per 2 MB instead of 512 and far
// fewer TLB misses when walked. The heap's new top is advised when it has
// grown (it grows by the top pad at least, so most of it is untouched
// then), and so is every block large enough to be mapped on its own.
constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
constexpr size_t kMapThreshold = size_t(32) << 20;
std::atomic<bool> hugePages{false};
std::atomic<uintptr_t> heapAdvised{0};

// Advises whole pages only where they cover a mapping exactly: a mapping
// split by the advice could no longer grow by remapping.
void adviseRange(uintptr_t from, uintptr_t to)
{
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    from &= ~(page - 1);
    if (to - from >= kHugePage && madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE) != 0 &&
        errno == EINVAL)
        hugePages.store(false, std::memory_order_relaxed); // not offered by this kernel
}

void adviseHeap()
{
    const auto top = reinterpret_cast<uintptr_t>(sbrk(0));
    uintptr_t seen = heapAdvised.load(std::memory_order_relaxed);
    if (top == seen)
        return;
    if (heapAdvised.compare_exchange_strong(seen, top, std::memory_order_relaxed) && top > seen)
        adviseRange(seen, top);
}

// A mapped block's mapping starts on the page of its header and ends
// where its usable size does.
inline void *advised(void *block, size_t size)
{
    if (block && hugePages.load(std::memory_order_relaxed)) {
        if (size >= kMapThreshold)
            adviseRange(reinterpret_cast<uintptr_t>(block) - 2 * sizeof(size_t),
                        reinterpret_cast<uintptr_t>(block) + malloc_usable_size(block));
        else
            adviseHeap();
    }
    return block;
}
} // namespace

extern "C" void *qxAlloc(size_t size, int zero)
{
    if (size == 0)
        return nullptr;
    if (qxAllocFailNow()) {
        errno = ENOMEM; // as a failing malloc leaves it
        return nullptr;
    }
    return advised(zero ? std::calloc(size, 1) : std::malloc(size), size);
}

extern "C" void qxFree(void *block) { std::free(block); }

extern "C" void *qxRealloc(void *block, size_t size)
{
    if (size == 0 || qxAllocFailNow()) {
        errno = ENOMEM;
        return nullptr;
    }
    // A block that leaves the heap for a mapping of its own is moved here,
    // so that the copy lands in advised pages.
    if (block && size >= kMapThreshold && hugePages.load(std::memory_order_relaxed)) {
        const size_t old = malloc_usable_size(block);
        if (old < kMapThreshold) {
            void *moved = advised(std::malloc(size), size);
            if (!moved)
                return nullptr;
            std::memcpy(moved, block, old < size ? old : size);
            std::free(block);
            return moved;
        }
    }
    return advised(std::realloc(block, size), size);
}

extern "C" void qxTuneHeap(void)
{
    // Picture-sized buffers (8 MB for a 1080p frame) come and go with every
    // load, often two at a time (decoded pixels and bitmap). Kept in the
    // heap they are reused; mapped, they are unmapped at each free and
    // faulted in again. 32 MB is the largest threshold glibc takes.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    // The heap grows by at least 32 MB of address space (pages are only
    // made when touched), so that nearly all of each growth is still
    // untouched when it is advised.
    mallopt(M_TOP_PAD, 32 << 20);
    heapAdvised.store(reinterpret_cast<uintptr_t>(sbrk(0)), std::memory_order_relaxed);
    hugePages.store(true, std::memory_order_relaxed);
}
