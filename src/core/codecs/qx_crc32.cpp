#include "core/codecs/qx_crc32.h"

static uint32_t crcTable[256];

extern "C" {

void qxCrc32Init(void)
{
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crcTable[n] = c;
    }
}

uint32_t qxCrc32(const void *data, long length)
{
    if (length < 1)
        return 0;
    if (!crcTable[1])
        qxCrc32Init();
    auto *p = static_cast<const uint8_t *>(data);
    uint32_t c = 0xFFFFFFFFu;
    for (long i = 0; i < length; i++)
        c = crcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}
}
