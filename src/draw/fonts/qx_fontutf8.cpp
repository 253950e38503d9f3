// UTF-8 decoding shared by the font back-ends.
#include <cstdlib>
#include <cstring>

#include "draw/fonts/qx_font.h"

extern "C" int qxUtf8ToCodePoints(const char *text, size_t length, int utf8, uint32_t *buffer,
                                  size_t bufferBytes, uint32_t **out, size_t *count, int *allocated) {
    *out = nullptr;
    *count = 0;
    *allocated = 0;
    if (!utf8) return QX_ERR_UTF8;
    uint32_t *codes = buffer;
    if (length > SIZE_MAX / 4 || !buffer || length * 4 > bufferBytes) {
        codes = static_cast<uint32_t *>(malloc(length ? length * 4 : 4));
        if (!codes) return QX_ERR_MEMORY;
        *allocated = 1;
    }
    const auto *p = reinterpret_cast<const uint8_t *>(text);
    size_t i = 0, n = 0;
    while (i < length) {
        uint32_t lead = p[i], code, more;
        if (lead < 0x80) { code = lead; more = 0; }
        else if ((lead & 0xE0) == 0xC0) { code = lead & 31; more = 1; }
        else if ((lead & 0xF0) == 0xE0) { code = lead & 15; more = 2; }
        else if ((lead & 0xF8) == 0xF0) { code = lead & 7; more = 3; }
        else if ((lead & 0xFC) == 0xF8) { code = lead & 3; more = 4; }
        else goto fail;
        if (length - i - 1 < more) goto fail;
        for (uint32_t k = 1; k <= more; ++k) {
            uint8_t b = p[i + k];
            if (b < 0x80) goto fail;
            code = (code << 6) | (b & 63);
        }
        codes[n++] = code;
        i += more + 1;
    }
    *out = codes;
    *count = n;
    return 0;
fail:
    if (*allocated) free(codes);
    *allocated = 0;
    return QX_ERR_UTF8;
}
