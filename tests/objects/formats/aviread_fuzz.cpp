// AVI reader on arbitrary bytes: open, then frames in order or in jumps
// through the index, picked by the first byte.
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
    qxAvi *a = qxAviOpen(f, &w, &h, &frames);
    if (!a) return 0;
    uint32_t steps = frames < 16 ? frames : 16;
    for (uint32_t i = 0; i < steps + 1; ++i) {
        uint32_t k = (pick & 1) ? uint32_t((uint64_t(i) * 5 + pick) % (uint64_t(frames) + 1)) : i;
        uint32_t *px = qxAviGetFrame(a, k);
        fuzzpic::touch(px, uint64_t(w) * h);
        qxFree(px);
    }
    qxAviClose(a);
    return 0;
}
