// PNG reader on arbitrary bytes: header-only and full decodes.
#include "fuzzpic.h"
#include "platform/qx_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzpic::MemoryFile m(data, size);
    for (int headerOnly : {1, 0}) {
        qxFileHandle *f = m.open();
        uint32_t w = 0, h = 0, a = 0, *px = nullptr;
        int e = -1;
        qxLoadPNG(f, headerOnly, &w, &h, &px, &a, &e);
        if (e == 0 && !headerOnly) fuzzpic::touch(px, uint64_t(w) * h);
        qxFree(px);
        qxClose(f);
    }
    return 0;
}
