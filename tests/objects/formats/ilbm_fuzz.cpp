// ILBM reader on arbitrary bytes, with the mode flags, one-plane colour and
// a palette override picked by the first byte.
#include "fuzzpic.h"
#include "platform/qx_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    uint8_t pick = data[0];
    fuzzpic::MemoryFile m(data + 1, size - 1);
    static const uint32_t override[4] = {0x112233, 0x445566, 0x778899, 0xFFFFFFFF};
    uint32_t w = 0, h = 0, t = 0, *px = nullptr, *palette = nullptr;
    qxFileHandle *f = m.open();
    if (qxLoadILBM(f, 0, (pick & 8) ? override : nullptr, (pick & 4) ? 0x00FF00 : 0xFFFFFFFF, pick & 1,
                   (pick >> 1) & 1, &t, &w, &h, &px, &palette) == 0)
        fuzzpic::touch(px, uint64_t(w) * h);
    qxFree(px);
    qxFree(palette);
    qxClose(f);
    return 0;
}
