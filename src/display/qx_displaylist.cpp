#include "display/qx_display.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "display/qx_adapter.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_displaycmds.h"
#include "display/qx_eventqueue.h"
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

extern "C" {
qxDisplay *qxDisplays;
qxDisplay *qxCurrentDisplay;
qxMutex *qxDisplayListMutex;
}

namespace {

qxDisplay *next(const qxDisplay *d) { return static_cast<qxDisplay *>(d->header.next); }

qxDisplay *listHead() { return qxDisplays; }

} // namespace

extern "C" {

int qxInitDisplayList(void)
{
    if (!qxDisplayListMutex && !(qxDisplayListMutex = qxCreateMutex()))
        return ERR_SEMAPHORE;
    qxUpcalls.displayList = listHead;
    qxUpcalls.postEvent = qxPostEvent;
    qxUpcalls.displayIsVisible = qxDisplayIsVisible;
    return 0;
}

void qxExitDisplayList(void)
{
    qxDeleteMutex(qxDisplayListMutex);
    qxDisplayListMutex = nullptr;
}

qxDisplay *qxNewDisplayRecord(uint32_t id)
{
    auto *d = static_cast<qxDisplay *>(std::calloc(1, sizeof(qxDisplay)));
    if (!d)
        return nullptr;
    d->header.type = QX_TYPE_DISPLAY;
    d->header.id = id;
    d->targetType = QX_TYPE_DISPLAY;
    std::strcpy(d->title, "Zephyrane");
    for (qxHandlerRef &h : d->handlers)
        h = {QX_NO_REF, QX_NO_REF};
    d->scaleX = d->scaleY = 1.0;
    d->mode = QX_WINMODE_WINDOWED;
    d->width = d->height = 1;
    return d;
}

void qxAppendDisplay(qxDisplay *display)
{
    if (qxDisplayListMutex)
        qxLockMutex(qxDisplayListMutex);
    qxDisplay **tail = &qxDisplays;
    while (*tail)
        tail = reinterpret_cast<qxDisplay **>(&(*tail)->header.next);
    display->header.next = nullptr;
    *tail = display;
    if (qxDisplayListMutex)
        qxUnlockMutex(qxDisplayListMutex);
}

int qxFindDisplay(qxObjectRef ref, qxDisplay **out)
{
    *out = nullptr;
    for (qxDisplay *d = qxDisplays; d; d = next(d)) {
        if (d->header.automatic == ref.automatic && d->header.id == ref.number) {
            *out = d;
            return 0;
        }
    }
    if (ref.automatic)
        return ERR_FINDARRAY;
    qxSetErrorNumber((int)ref.number);
    return ERR_FINDDISPLAY;
}

qxDisplay *qxFindDisplayByHandle(const void *handle)
{
    if (!handle)
        return nullptr;
    for (qxDisplay *d = qxDisplays; d; d = next(d))
        if (d->window == handle)
            return d;
    return nullptr;
}

qxDisplay *qxFindDisplayForBGPic(const qxBGPic *bgpic)
{
    for (qxDisplay *d = qxDisplays; d; d = next(d))
        if (bgpic && d->bgpic == bgpic)
            return d;
    return nullptr;
}

int qxDisplayIsVisible(qxDisplay *display)
{
    if (display->backfill || display->resourceMonitor)
        return 0;
    if (display->fullScreen)
        return 1;
    x11Monitor *monitors = qxDispGetMonitors(display);
    uint32_t mine = qxDisplayMonitorOf(display, monitors);
    x11FreeMonitors(monitors);
    for (qxDisplay *d = qxDisplays; d; d = next(d))
        if (d != display && d->fullScreen && d->state != QX_DISPSTATE_CLOSED &&
            d->monitor == mine)
            return 0;
    return 1;
}

int qxGetDisplayGeometry(qxDisplay *display, int *x, int *y, int *width, int *height)
{
    x11Monitor *monitors = qxDispGetMonitors(display);
    const x11Monitor *m = monitors;
    for (uint32_t i = 0; m && i < display->monitor; i++)
        m = m->next;
    if (!m) {
        x11FreeMonitors(monitors);
        return ERR_GETMONITORINFO;
    }
    *x = (int)m->x;
    *y = (int)m->y;
    *width = (int)m->width;
    *height = (int)m->height;
    x11FreeMonitors(monitors);
    return 0;
}

uint32_t qxMonitorOfRect(const x11Monitor *list, int x, int y, int width, int height)
{
    uint32_t best = 0, i = 0;
    int64_t bestArea = 0;
    for (const x11Monitor *m = list; m; m = m->next, i++) {
        const int64_t w = std::min<int64_t>(int64_t(x) + width, int64_t(m->x) + m->width) -
                          std::max<int64_t>(x, m->x);
        const int64_t h = std::min<int64_t>(int64_t(y) + height, int64_t(m->y) + m->height) -
                          std::max<int64_t>(y, m->y);
        if (w > 0 && h > 0 && w * h > bestArea)
            best = i, bestArea = w * h;
    }
    return best;
}

uint32_t qxDisplayMonitorOf(const qxDisplay *display, const x11Monitor *list)
{
    return qxMonitorOfRect(list, display->x, display->y, display->width + display->borderWidth,
                           display->height + display->borderHeight);
}

void qxDisplayScaleSize(const qxDisplay *display, int *width, int *height, int *scaleWidth,
                        int *scaleHeight)
{
    if (!display->systemScale)
        return;
    for (int *v : {width, height, scaleWidth, scaleHeight})
        if (v && *v >= 1 && *v != 100000 && *v != 200000)
            *v = (int)(*v * display->systemScaleFactor);
}

int qxDisplayHasVideos(qxDisplay *display)
{
    return qxDisplayVideo.videoOnDisplay && qxDisplayVideo.videoOnDisplay(display, 1);
}

void qxDisplaySuspendPointer(qxDisplay *d, int save, int32_t width)
{
    if (!d || !save || d->cursorSuspended) return;
    d->savedCursor[0] = d->cursorX, d->savedCursor[1] = d->cursorY;
    d->savedCursor[2] = d->cursorLeftMargin, d->savedCursor[3] = d->cursorRightMargin;
    d->cursorSuspended = 1;
    d->cursorX = d->cursorY = d->cursorLeftMargin = 0;
    d->cursorRightMargin = width > 0 ? width - 1 : 0;
}

void qxDisplayResetState(qxDisplay *d)
{
    if (!d || !d->cursorSuspended) return;
    d->cursorX = d->savedCursor[0], d->cursorY = d->savedCursor[1];
    d->cursorLeftMargin = d->savedCursor[2], d->cursorRightMargin = d->savedCursor[3];
    d->cursorSuspended = 0;
}

void (*qxFreeDisplayExtras)(qxDisplay *display);
int (*qxEndDisplayRedirect)(lua_State *L, qxDisplay *display, int keepRects);
int (*qxEndDisplayDoubleBuffer)(lua_State *L, qxDisplay *display);
qxBGPic *(*qxKeptDisplayRedirect)(qxDisplay *display);
int (*qxResizeDisplayBackBuffer)(qxDisplay *display);
qxDisplayFillHooks qxDisplayFill;
int (*qxScaleDisplayBGPic)(lua_State *L, qxBGPic *bgpic, int32_t width, int32_t height, int smooth);
void (*qxStopDisplayVideos)(qxDisplay *display);

// Set while the library closes: nothing is refused then.
static bool freeingAll;

int qxFreeDisplay(lua_State *L, qxDisplay *display)
{
    if (display == qxCurrentDisplay)
        return ERR_FREEADISPLAY;
    if (!freeingAll && qxIsAsyncDrawOnDisplay(display))
        return ERR_ADFFREEDISP;
    if (display->satellites)
        return ERR_SATFREEDISP;
    if (!freeingAll && qxDisplayHasVideos(display))
        return ERR_VIDATTACHED;
    if (qxStopDisplayVideos)
        qxStopDisplayVideos(display);
    if (qxHardwareBitMaps.freeDeleted)
        qxHardwareBitMaps.freeDeleted(L, display);
    // An open window goes by the close sequence (its placement remembered,
    // its backfill freed, the desktop's screen mode back).
    if (int r = qxCloseDisplayWindow(L, display); r && !freeingAll)
        return r;
    display->state = QX_DISPSTATE_CLOSED;
    if (qxDisplayListMutex)
        qxLockMutex(qxDisplayListMutex);
    for (qxDisplay **p = &qxDisplays; *p; p = reinterpret_cast<qxDisplay **>(&(*p)->header.next)) {
        if (*p == display) {
            *p = next(display);
            break;
        }
    }
    if (qxDisplayListMutex)
        qxUnlockMutex(qxDisplayListMutex);
    std::free(display->placement);
    std::free(display->backfillDescription);
    if (!qxDisplayAdapterActive())
        x11FreeDisplayData(display);
    for (qxHandlerRef &h : display->handlers) {
        if (L && h.function != QX_NO_REF)
            luaL_unref(L, LUA_REGISTRYINDEX, (int)h.function);
        if (L && h.userData != QX_NO_REF)
            luaL_unref(L, LUA_REGISTRYINDEX, (int)h.userData);
    }
    std::free(display->dirtyRects);
    // The picture a BGPic part with its layers was read from.
    qxFreeBitMap(display->cacheBitMap2);
    if (display->maskPlane)
        qxFreeMaskBitMap(display->maskPlane);
    if (display->alphaPlane)
        qxFreeAlphaBitMap(display->alphaPlane);
    qxFreePendingUpdates(display->pendingUpdates);
    if (display->pendingMutex)
        qxDeleteMutex(static_cast<qxMutex *>(display->pendingMutex));
    if (qxFreeDisplayExtras)
        qxFreeDisplayExtras(display);
    qxForgetEventsOf(display);
    std::free(display);
    return 0;
}

void qxFreeAllDisplays(lua_State *L)
{
    if (qxDisplayListMutex)
        qxLockMutex(qxDisplayListMutex);
    for (qxDisplay *d = qxDisplays; d; d = next(d))
        if (!d->backfill)
            qxCloseDisplayWindow(L, d);
    qxCurrentDisplay = nullptr;
    freeingAll = true;
    while (qxDisplays)
        qxFreeDisplay(L, qxDisplays);
    freeingAll = false;
    if (qxDisplayListMutex)
        qxUnlockMutex(qxDisplayListMutex);
}
}
