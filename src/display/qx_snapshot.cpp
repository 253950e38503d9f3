// SaveSnapshot: the window, the display's contents or the desktop to a file.
#include "display/qx_snapshot.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_adapter.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_display.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/x11/x11_display.h"

uint32_t *qxGrabToARGB(const void *grab, uint32_t bytesPerPixel, int width, int height)
{
    if (!grab || width < 1 || height < 1)
        return nullptr;
    size_t n = (size_t)width * (size_t)height;
    auto *out = static_cast<uint32_t *>(std::malloc(n * 4));
    if (!out)
        return nullptr;
    if (bytesPerPixel == 2) {
        const auto *p = static_cast<const uint16_t *>(grab);
        for (size_t i = 0; i < n; i++) {
            uint32_t v = p[i];
            out[i] = 0xFF000000u | ((v >> 11) & 31) << 19 | ((v >> 5) & 63) << 10 | (v & 31) << 3;
        }
    } else {
        const auto *p = static_cast<const uint32_t *>(grab);
        for (size_t i = 0; i < n; i++)
            out[i] = 0xFF000000u | (p[i] & 0xFFFFFF);
    }
    return out;
}

int qxGrabScreenARGB(qxDisplay *d, int x, int y, int w, int h, uint32_t **out)
{
    if (int r = qxAdapterGrabPixels(d, x, y, w, h, out); r >= 0)
        return r;
    uint32_t bpp = 0;
    void *raw = x11GrabScreen(d, x, y, w, h, &bpp);
    if (!raw)
        return ERR_GRABSCREEN;
    *out = qxGrabToARGB(raw, bpp, w, h);
    std::free(raw);
    return *out ? 0 : ERR_MEM;
}

int qxDesktopArea(qxDisplay *d, int *width, int *height, int *monitor)
{
    int64_t w = 0, h = 0;
    int count = 0;
    x11Monitor *monitors = qxDispGetMonitors(d);
    for (const x11Monitor *m = monitors; m; m = m->next) {
        ++count;
        w = std::max<int64_t>(w, std::min<int64_t>(int64_t(m->x) + m->width, 32767));
        h = std::max<int64_t>(h, std::min<int64_t>(int64_t(m->y) + m->height, 32767));
    }
    if (monitor)
        *monitor = (int)qxDisplayMonitorOf(d, monitors) + 1;
    x11FreeMonitors(monitors);
    *width = int(w);
    *height = int(h);
    return count;
}

int qxCmdSaveSnapshot(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    const char *file = luaL_checkstring(L, 1);
    const int type = lua_gettop(L) >= 2 ? (int)luaL_checknumber(L, 2) : 0;
    const int format = lua_gettop(L) >= 3 ? (int)luaL_checknumber(L, 3) : 0;
    qxSaveOptions opts{0, 90, 256, 0};
    qxGetSaveOptions(L, 4, &opts);
    if (type < 0 || type > 2)
        return ERR_WRONGUSAGE;
    qxDisplay *d = qxCurrentDisplay;
    if (!d)
        return ERR_WRONGUSAGE;
    uint32_t *pixels = nullptr;
    int w = 0, h = 0;
    if (type == 0) {
        if (d->state != QX_DISPSTATE_OPEN)
            return ERR_CLOSEDDISPLAY;
        w = d->width + d->borderWidth;
        h = d->height + d->borderHeight;
        // The record keeps the frame's position; the server knows it best.
        int x = d->x, y = d->y;
        if (x11WindowOrigin(d, &x, &y))
            x -= d->borderLeft, y -= d->borderTop;
        if (int r = qxGrabScreenARGB(d, x, y, w, h, &pixels))
            return r;
    } else if (type == 1) {
        // The adapter's double buffer keeps the picture to itself.
        if ((d->doubleBufferState & QX_DBSTATE_ADAPTER) || !d->bgpic || !d->bgpic->bitmap)
            return ERR_WRONGUSAGE;
        w = d->bgpic->width;
        h = d->bgpic->height;
        // Hardware double buffering: the picture composed for the window;
        // otherwise the BGPic's own picture, not a software double
        // buffer's half-flipped one.
        qxBitMap *picture = nullptr;
        if (d->hardwareDoubleBuffer && qxDisplayShownBitmap)
            picture = qxDisplayShownBitmap(d);
        else if (qxDisplayWorkPicture)
            picture = qxDisplayWorkPicture(d);
        if (!picture)
            picture = d->bgpic->bitmap;
        // A display that scales its layers composes at the window's size:
        // the file has the BGPic's, composed anew at that size (shrinking
        // the window's picture would lose thin lines and small layers).
        qxBitMap *resized = nullptr;
        if ((picture->width != uint32_t(w) || picture->height != uint32_t(h)) && !d->hardwareDoubleBuffer &&
            !d->doubleBuffer && qxBitMapDisplay.redraw) {
            resized = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
            if (!resized)
                return ERR_BITMAP;
            qxBitMapDisplay.redraw(L, resized, 0, 0, w, h, 1);
            picture = resized;
        } else if (picture->width != uint32_t(w) || picture->height != uint32_t(h)) {
            if (int r = qxScalePixels(picture, nullptr, nullptr, 0, 0, nullptr, int32_t(picture->width),
                                      int32_t(picture->height), w, h, 0, 0, &resized, nullptr, nullptr))
                return r;
            if (!resized)
                return ERR_MEM;
            picture = resized;
        }
        uint32_t *argb = qxBitMapToARGB(picture, 0, 0, w, h, 0);
        qxFreeBitMap(resized);
        if (!argb)
            return ERR_MEM;
        pixels = argb;
        for (size_t i = 0, n = (size_t)w * h; i < n; i++)
            pixels[i] |= 0xFF000000u;
        int r = qxSaveImageFormat(format, pixels, w, h, file, 0xFFFFFFFFu, &opts);
        qxFree(argb);
        return r;
    } else {
        qxDesktopArea(d, &w, &h, nullptr);
        if (w < 1 || h < 1)
            return ERR_WRONGUSAGE;
        if (int r = qxGrabScreenARGB(d, 0, 0, w, h, &pixels))
            return r;
    }
    int r = qxSaveImageFormat(format, pixels, w, h, file, 0xFFFFFFFFu, &opts);
    std::free(pixels);
    return r;
}
