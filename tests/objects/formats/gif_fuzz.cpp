// GIF reader on arbitrary bytes: open, then frames fetched in an order the
// first byte picks (forwards, backwards, repeated), as anims fetch them.
#include "fuzzpic.h"
#include "platform/qx_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    uint8_t pattern = data[0];
    fuzzpic::MemoryFile m(data + 1, size - 1);
    uint32_t w = 0, h = 0, n = 0, t = 0;
    qxGifReader *r = qxGifOpen(m.open(), &w, &h, &n, 0, pattern & 1, (pattern >> 1) & 1);
    if (!r) return 0;
    int32_t frames[6] = {0, 1, int32_t(n) - 1, 1, int32_t(pattern >> 2) % int32_t(n ? n : 1), -1};
    for (int32_t f : frames) {
        uint32_t *px = qxGifGetFrame(r, f, &t);
        fuzzpic::touch(px, uint64_t(w) * h);
        qxFree(px);
        qxGifFrameDelay(r, f);
    }
    qxGifClose(r);
    return 0;
}
