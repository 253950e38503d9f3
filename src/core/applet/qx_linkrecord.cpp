// The link record: the linker finds it in the executable's data by the
// marker words around it and patches the offset of the appended data.
#include "core/applet/qx_linkrecord.h"

extern "C" {

// volatile keeps the compiler from folding the offset into its users: the
// value on disk is changed after linking.
volatile qxLinkRecordBlock qxLinkBlock = {
    {0xDE, 0xAD, 0xBE, 0xEF, 0xFE, 0xED, 0xF0, 0x0D, 0xBE, 0xEF, 0xF0, 0x0D},
    {"ZephyranePlayer applet link", QX_LINK_NONE},
    {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A},
};

uint32_t qxReadLinkOffset(void)
{
    // The offset is stored big-endian like every number of the appended data.
    const volatile uint8_t *p = qxLinkBlock.record.offset;
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}
}
