// The attribute query on a display's work buffer.
#include "platform/qx_hooks.h"
#include "platform/x11/x11_display.h"

extern "C" {

uintptr_t x11BitMapBufferAttr(const qxPlatformBitMap *buffer, int attribute)
{
    if (!buffer)
        return 0;
    switch (attribute) {
    case 21: return buffer->width;
    case 23:
        qxRealiseBitMapFill(buffer);
        return reinterpret_cast<uintptr_t>(buffer->pixels);
    case 13: return buffer->bytesPerPixel ? buffer->bytesPerRow / buffer->bytesPerPixel : 0;
    default: return 0;
    }
}
}
