// The one allocator pair of the player: every record of the portable code
// comes from here, so a plug-in and the host agree on who frees what.
#pragma once
#include <cstddef>

extern "C" {
void *qxAlloc(size_t size, int zero);
void qxFree(void *block);
// Resizes a block from qxAlloc (size > 0); on failure the block stays as it was.
void *qxRealloc(void *block, size_t size);
// Keeps large blocks in the heap between uses; called once at start-up.
void qxTuneHeap(void);
#ifdef QX_ALLOC_INJECTION
// Sanitizer builds: 1 when this allocation is the one QX_FAIL_ALLOC=N names
// (counting every allocation from 1); QX_FAIL_ALLOC=count prints the number
// of allocations at exit instead.
int qxAllocFailNow(void);
#endif
}
#ifndef QX_ALLOC_INJECTION
inline int qxAllocFailNow(void) { return 0; }
#endif

// Checked size arithmetic for allocations: false when the result would overflow.
inline bool qxMulSize(size_t a, size_t b, size_t *out) { return !__builtin_mul_overflow(a, b, out); }
inline bool qxAddSize(size_t a, size_t b, size_t *out) { return !__builtin_add_overflow(a, b, out); }
