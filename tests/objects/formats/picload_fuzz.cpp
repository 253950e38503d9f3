// Loading dispatch and header probe on arbitrary bytes: a size-only query
// and a full load with the alpha mode the first byte picks.
#include "fuzzpic.h"
#include "platform/qx_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    int alphaMode = data[0] % 3;
    fuzzpic::MemoryFile m(data + 1, size - 1);
    uint32_t w = 0, h = 0, a = 0, t = 0, format = 0, *palette = nullptr;
    qxLoadPictureAny(m.name.tag, "inbuilt", nullptr, nullptr, 0xFFFFFFFF, alphaMode, nullptr, nullptr, &t, &w, &h,
                     &a, nullptr, &format);
    qxPictureHandle *handle = nullptr;
    if (qxLoadPictureAny(m.name.tag, "inbuilt", nullptr, nullptr, 0xFFFFFFFF, alphaMode, &handle, &palette, &t, &w,
                         &h, &a, nullptr, &format) == 0)
        fuzzpic::touch(handle->pixels, uint64_t(w) * h);
    qxFreePictureHeader(handle);
    qxFree(palette);
    return 0;
}
