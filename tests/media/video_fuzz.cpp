// The video player's open, packet loop, frame decoding and sound collection
// on arbitrary CDXL bytes, without threads.
#include <vector>

#include "../objects/formats/fuzzpic.h"
#include "media/qx_video.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    uint32_t frame = data[0] & 15;
    fuzzpic::MemoryFile m(data + 1, size - 1);
    qxVideo *v = nullptr;
    if (qxVideoOpen(m.name.tag, "", &v) != 0) return 0;
    std::vector<int16_t> sound;
    v->soundOut = &sound;
    for (int n = 0; n < 64 && qxVideoDecodeNext(v) == 0; ++n) fuzzpic::touch(v->slot, uint64_t(v->slotPitch) * v->height);
    v->soundOut = nullptr;
    if (qxVideoDecodeFrame(v, frame, 1, 15) == 0) fuzzpic::touch(v->slot, uint64_t(v->slotPitch) * v->height);
    qxVideoClose(v);
    return 0;
}
