// Arbitrary bytes as a dropped text/uri-list in both text modes: a list of
// non-empty names ending in an extra NUL, inside the reported size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/x11/x11_clipboard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> text(data, data + size); // exact size: ASan sees overreads
    for (int latin1 = 0; latin1 < 2; ++latin1) {
        size_t out = 0;
        char *list = x11DecodeUriList(text.data(), text.size(), latin1, &out);
        if (!list)
            continue;
        if (out < 1 || out > size + 2)
            abort();
        size_t i = 0;
        while (list[i]) {
            const size_t n = strnlen(list + i, out - i);
            if (i + n >= out)
                abort();
            i += n + 1;
        }
        if (i != out - 1)
            abort();
        std::free(list);
    }
    return 0;
}
