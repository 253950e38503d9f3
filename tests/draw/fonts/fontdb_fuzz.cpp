// Font database scanning of arbitrary bytes as each kind of font file.
#include <cstring>
#include <initializer_list>

#include "draw/fonts/qx_font.h"

namespace {
struct Memory {
    const uint8_t *data;
    size_t size;
};
int readMemory(void *context, uint64_t offset, void *buffer, size_t n) {
    auto *m = static_cast<Memory *>(context);
    if (offset > m->size || n > m->size - offset) return 0;
    memcpy(buffer, m->data + offset, n);
    return 1;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Memory m = {data, size};
    qxFontSource src = {readMemory, &m};
    for (const char *name : {"a.ttf", "a.ttc", "a.dfont", "a.font"}) qxScanFontSource(name, &src, 0);
    qxFreeFontDb();
    return 0;
}
