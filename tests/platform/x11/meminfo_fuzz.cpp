// Arbitrary text as /proc/meminfo: a number or 0, never a read past the end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/x11/x11_display.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> text(data, data + size); // exact size: ASan sees overreads
    x11ParseFreeMemory(text.data(), text.size());
    return 0;
}
