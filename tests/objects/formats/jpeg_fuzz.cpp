// JPEG reader on arbitrary bytes: from a file and from memory, with the
// orientation taken from the first byte.
#include "fuzzpic.h"
#include "platform/qx_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    uint32_t orientation = data[0] % 10;
    fuzzpic::MemoryFile m(data + 1, size - 1);
    uint32_t w = 0, h = 0, *px = nullptr;
    qxFileHandle *f = m.open();
    if (qxLoadJPEG(f, 0, 0, orientation, &w, &h, &px) == 0) fuzzpic::touch(px, uint64_t(w) * h);
    qxFree(px);
    qxClose(f);
    px = nullptr;
    if (size > 1 && qxLoadJPEG(const_cast<uint8_t *>(data + 1), uint32_t(size - 1), 1, orientation, &w, &h, &px) == 0)
        fuzzpic::touch(px, 0);
    return 0;
}
