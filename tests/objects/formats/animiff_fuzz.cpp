// IFF ANIM reader on arbitrary bytes: open, then frames in an order picked by
// the first byte (forwards, backwards, and jumps that rewind).
#include "fuzzpic.h"
#include "objects/formats/qx_animformats.h"
#include "platform/qx_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    uint8_t pick = data[0];
    fuzzpic::MemoryFile m(data + 1, size - 1);
    uint32_t w = 0, h = 0, frames = 0;
    qxFileHandle *f = m.open();
    if (!f) return 0;
    qxAnimIff *a = qxAnimIffOpen(f, pick & 1, &w, &h, &frames, pick & 2);
    if (!a) return 0;
    uint32_t steps = frames < 64 ? frames : 64;
    for (uint32_t i = 0; i < steps + 2; ++i) {
        uint32_t k = (pick & 4) ? (i * 7 + pick) % (frames + 1) : i;
        uint32_t t = 0;
        uint32_t *px = qxAnimIffGetFrame(a, k, &t);
        fuzzpic::touch(px, uint64_t(w) * h);
        qxFree(px);
        qxAnimIffFrameDelay(a, k);
    }
    qxAnimIffClose(a);
    return 0;
}
