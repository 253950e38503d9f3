// Display-adapter dispatch hooks with no work on X11, and the attribute
// query on a display's work buffer.
#include "platform/qx_hooks.h"
#include "platform/x11/x11_display.h"

extern "C" {

int x11ReturnZero(void) { return 0; }
int x11ReturnZero3(void *, intptr_t, intptr_t) { return 0; }
int x11ReturnOne(void) { return 1; }
void x11NoOp(void) {}
int x11PrepareDisplay(qxDisplay *) { return 0; }

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
