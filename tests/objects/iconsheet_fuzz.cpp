// Feeds icon sheets to the sheet reader: the input's first bytes give the
// picture's width, the rest its pixels (a correct marker is put in front
// half the time so that the entry headers are reached). Accepted sheets are
// written back and must read again to the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "objects/qx_icon.h"
#include "platform/qx_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const uint32_t width = 1 + data[0] % 64;
    const bool marked = data[1] & 1;
    data += 2, size -= 2;
    std::vector<uint32_t> pixels(size / 4 + (marked ? 3 : 0));
    if (pixels.empty())
        return 0;
    if (marked)
        pixels[0] = 0x005A4550u, pixels[1] = 0x00485952u, pixels[2] = 0x00414E45u;
    std::memcpy(pixels.data() + (marked ? 3 : 0), data, (size / 4) * 4);
    // Small header values keep the interesting cases reachable.
    for (size_t i = 3; i < pixels.size(); i++)
        if (i % width < 3)
            pixels[i] %= (i % width == 2) ? 8 : 70;
    const uint32_t height = uint32_t(pixels.size() / width);
    if (height == 0)
        return 0;
    qxIconEntry *list = nullptr;
    if (qxParseIconSheet(pixels.data(), width, height, width, &list) != 0)
        return 0;
    uint32_t *sheet = nullptr, w = 0, h = 0;
    if (qxBuildIconSheet(list, &sheet, &w, &h) == 0) {
        qxIconEntry *again = nullptr;
        if (qxParseIconSheet(sheet, w, h, w, &again) != 0)
            std::abort();
        for (const qxIconEntry *a = list, *b = again; a || b; a = a->next, b = b->next)
            if (!a || !b || a->width != b->width || a->height != b->height ||
                std::memcmp(a->normal, b->normal, size_t(a->width) * a->height * 4) != 0)
                std::abort();
        qxFreeIconEntries(again);
        qxFree(sheet);
    }
    qxFreeIconEntries(list);
    return 0;
}
