// Flood fill of a bitmap for FloodFill; kept apart because the fill
// kernel's record shares its name with the BGPic fill record.
#include <algorithm>

#include "display/qx_bitmap.h"
#include "imaging/qx_floodfill.h"
#include "imaging/qx_pixelformat.h"
#include "platform/qx_errcodes.h"

extern "C" int qxFloodFillBitMap(qxBitMap *bitmap, int32_t width, int32_t height, int32_t x, int32_t y,
                                 uint32_t colour, uint32_t border)
{
    qxBitMapLock l;
    if (!bitmap || !qxLockBitMap(bitmap, 0, &l))
        return ERR_LOCKBMAP;
    int r = ERR_LOCKBMAP;
    if (l.bytesPerPixel == 4 || l.bytesPerPixel == 2) {
        qxFloodFillArea rec{l.pixels, std::min<int32_t>(width, int32_t(l.width)), std::min<int32_t>(height, int32_t(l.height)),
                         l.pixelsPerRow, qxColorToPixel(border, l.pixelFormat, 0), qxColorToPixel(colour, l.pixelFormat, 0),
                         0, 0};
        r = l.bytesPerPixel == 4 ? qxFloodFill32(&rec, x, y, 0xFFFFFF) : qxFloodFill16(&rec, x, y);
    }
    qxUnLockBitMap(&l);
    return r;
}
