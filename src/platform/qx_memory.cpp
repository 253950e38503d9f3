#include "platform/qx_memory.h"

#include <cstdlib>

extern "C" void *qxAlloc(size_t size, int zero)
{
    if (size == 0)
        return nullptr;
    return zero ? std::calloc(size, 1) : std::malloc(size);
}

extern "C" void qxFree(void *block) { std::free(block); }
