// CDXL reader on arbitrary bytes: open, read and decode every packet, with
// seeks to times picked by the first bytes.
#include "fuzzpic.h"
#include "objects/formats/qx_animformats.h"
#include "platform/qx_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    uint32_t seekTo = uint32_t(data[0]) * 40;
    fuzzpic::MemoryFile m(data + 2, size - 2);
    qxCdxlVideoInfo info{};
    qxCdxl *d = qxCdxlOpen(m.name.tag, &info);
    if (!d) return 0;
    for (int pass = 0; pass < 2; ++pass) {
        qxCdxlPacket p;
        for (int n = 0; n < 64 && qxCdxlReadPacket(d, &p) == 0; ++n) {
            if (p.kind == 0) {
                qxCdxlFrame f{};
                if (qxCdxlDecodeVideo(d, &p, &f) == 0) fuzzpic::touch(f.pixels, uint64_t(info.width) * info.height);
            } else {
                static int16_t samples[0x20000];
                uint32_t count = 0;
                qxCdxlDecodeAudio(d, &p, samples, 0x20000, &count);
            }
            qxCdxlFreePacket(&p);
        }
        qxCdxlSeek(d, pass ? 0 : seekTo + data[1]);
    }
    qxCdxlClose(d);
    return 0;
}
