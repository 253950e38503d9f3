#include "display/qx_satellite.h"

#include <cstdlib>

#include "core/plugins/qx_hosttable.h"
#include "display/qx_adapter.h"
#include "display/qx_display.h"
#include "display/qx_bgpic.h"
#include "display/qx_displaycmds.h"
#include "display/qx_eventqueue.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"
#include "platform/qx_upcalls.h"

extern "C" volatile uint32_t qxQuitRequested;

namespace {

qxDisplay *nextOf(const qxDisplay *d) { return static_cast<qxDisplay *>(d->header.next); }

void lockList()
{
    if (qxDisplayListMutex)
        qxLockMutex(qxDisplayListMutex);
}

void unlockList()
{
    if (qxDisplayListMutex)
        qxUnlockMutex(qxDisplayListMutex);
}

qxDisplay *holderOf(const qxSatellite *s)
{
    for (qxDisplay *d = qxDisplays; d; d = nextOf(d))
        for (qxSatellite *o = d->satellites; o; o = o->next)
            if (o == s)
                return d;
    return nullptr;
}

void drawSize(const qxDisplay *d, uint32_t *w, uint32_t *h)
{
    if ((d->autoScale || d->layerScale) && d->scaledWidth && d->scaledHeight) {
        *w = d->scaledWidth;
        *h = d->scaledHeight;
    } else {
        *w = d->bgpic ? (uint32_t)d->bgpic->width : (uint32_t)d->width;
        *h = d->bgpic ? (uint32_t)d->bgpic->height : (uint32_t)d->height;
    }
}

} // namespace

extern "C" {

void qxNotifySatellites(qxDisplay *d, uint32_t operation, void *params)
{
    qxNotifySatellitesSplit(d, operation, params, params);
}

void qxNotifySatellitesSplit(qxDisplay *d, uint32_t operation, void *params, void *sourceParams)
{
    lockList();
    for (qxSatellite *s = d->satellites; s; s = s->next)
        s->visited = 0;
    for (;;) {
        qxSatellite *s = d->satellites;
        while (s && (s->visited || (d->redrawingSatellite && s != d->redrawingSatellite)))
            s = s->next;
        if (!s)
            break;
        // Marked and read under the list lock: plug-in threads may detach
        // (and free) satellites, the callback this one too.
        s->visited = 1;
        const qxSatelliteCallback callback = s->kind2 ? nullptr : s->callback;
        void *const userData = s->userData;
        void *const p = s->useSource ? sourceParams : params;
        unlockList();
        if (callback)
            callback(s, operation, p, userData);
        lockList();
    }
    unlockList();
}

qxSatellite *qxAttachSatellite(const qxObjectRef *ref, qxSatelliteCallback callback,
                               void *userData, qxSatelliteTag *tags)
{
    qxDisplay *d = nullptr;
    if (!ref || qxFindDisplay(*ref, &d) || !d->bgpic || d->hardwareDoubleBuffer)
        return nullptr;
    // A satellite draws a plain rectangle: not over a see-through BGPic.
    if (d->bgpic->mask || d->bgpic->alpha || d->bgpic->transparentColour != 0xFFFFFFFFu)
        return nullptr;
    // Not while a video plays straight onto the display.
    if (qxDisplayHasVideos(d))
        return nullptr;
    auto *s = static_cast<qxSatellite *>(std::calloc(1, sizeof(qxSatellite)));
    if (!s)
        return nullptr;
    s->callback = callback;
    s->userData = userData;
    s->display = d;
    for (qxSatelliteTag *t = tags; t && t->tag; t++) {
        uint32_t w, h;
        drawSize(d, &w, &h);
        switch (t->tag) {
        case 1: t->value = w; break;
        case 2: t->value = h; break;
        case 3: s->options = (uint32_t)t->value; break;
        case 4: s->options2 = (uint32_t)t->value; break;
        case 5: s->useSource = t->value != 0; break;
        case 6: t->value = (uintptr_t)d->bgpic->width; break;
        case 7: t->value = (uintptr_t)d->bgpic->height; break;
        }
    }
    lockList();
    qxSatellite **tail = &d->satellites;
    while (*tail)
        tail = &(*tail)->next;
    *tail = s;
    unlockList();
    return s;
}

void qxDetachSatellite(qxSatellite *s)
{
    if (!s)
        return;
    lockList();
    qxDisplay *d = holderOf(s);
    if (d) {
        for (qxSatellite **p = &d->satellites; *p; p = &(*p)->next)
            if (*p == s) {
                *p = s->next;
                break;
            }
        if (d->redrawingSatellite == s)
            d->redrawingSatellite = nullptr;
    }
    unlockList();
    if (d)
        std::free(s);
}

void qxRedrawSatellite(qxSatellite *s)
{
    qxDisplay *d = holderOf(s);
    if (!d)
        return;
    d->redrawingSatellite = s;
    qxRefreshWholeDisplay(d, 2);
    d->redrawingSatellite = nullptr;
}

int qxResizeSatellite(qxSatellite *s, int width, int height, const qxSatelliteTag *tags)
{
    qxDisplay *d = holderOf(s);
    if (!d)
        return ERR_FINDDISPLAY;
    for (const qxSatelliteTag *t = tags; t && t->tag; t++) {
        if (t->tag == 1)
            d->scaledWidth = (uint32_t)t->value;
        else if (t->tag == 2)
            d->scaledHeight = (uint32_t)t->value;
    }
    if (int r = qxDisplayRescale(d, width, height, 100000, 100000))
        return r;
    qxPostEvent(d, 5, 0, 0, 0, nullptr);
    return 0;
}

intptr_t qxSatelliteDisplayAttrs(void *handle, qxSatelliteTag *tags)
{
    qxDisplay *d = nullptr;
    for (const qxSatelliteTag *t = tags; t && t->tag; t++)
        if (t->tag == 10 && t->value)
            d = holderOf(static_cast<qxSatellite *>(handle));
    bool bySatellite = false;
    for (const qxSatelliteTag *t = tags; t && t->tag; t++)
        bySatellite |= t->tag == 10 && t->value;
    if (!bySatellite)
        d = qxFindDisplayByHandle(handle);
    if (!d)
        return -1;
    int known = 0;
    for (qxSatelliteTag *t = tags; t && t->tag; t++) {
        known++;
        switch (t->tag) {
        case 1: t->value = (uintptr_t)d->width; break;
        case 2: t->value = (uintptr_t)d->height; break;
        case 3: t->value = d->bgpic ? (uintptr_t)d->bgpic->width : 0; break;
        case 4: t->value = d->bgpic ? (uintptr_t)d->bgpic->height : 0; break;
        case 5: t->value = qxAdapterDisplayFlags(d); break;
        case 6: t->value = d->scaledWidth; break;
        case 7: t->value = d->scaledHeight; break;
        case 8: t->value = (d->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0; break;
        case 9: t->value = d->handlers[17].function != QX_NO_REF; break;
        case 10: break;
        case 11: {
            double f = d->systemScale ? d->systemScaleFactor : 1.0;
            static_assert(sizeof(double) == sizeof(uintptr_t));
            __builtin_memcpy(&t->value, &f, sizeof f);
            break;
        }
        default: known--;
        }
    }
    return known;
}

int qxRefreshDisplayOfHandle(void *handle)
{
    qxDisplay *d = qxFindDisplayByHandle(handle);
    if (!d)
        return ERR_FINDDISPLAY;
    qxRefreshWholeDisplay(d, 2);
    return 0;
}

void *qxDisplayHandle(qxObjectRef *ref, void *handle)
{
    if (!handle) {
        qxDisplay *d = nullptr;
        return ref && !qxFindDisplay(*ref, &d) ? d->window : nullptr;
    }
    qxDisplay *d = qxFindDisplayByHandle(handle);
    if (!d)
        return nullptr;
    if (ref)
        *ref = {d->header.id, d->header.automatic};
    return handle;
}

int qxSatelliteInput(qxSatellite *s, uint32_t op, const int32_t p[3], void *payload)
{
    if (qxQuitRequested)
        return ERR_USERABORT;
    qxDisplay *d = s ? holderOf(s) : qxDisplays;
    if (!d || !p)
        return 0;
    const int32_t a = p[0], b = p[1], c = p[2];
    if (op <= 4) {
        d->satelliteMouseX = a;
        d->satelliteMouseY = b;
    }
    if (op == 5)
        d->satelliteQualifiers = (uint32_t)c;
    switch (op) {
    case 0:
        d->input.lastTime = qxGetSeconds();
        break;
    case 1: case 2: case 3: {
        uint32_t *button = op == 1 ? &d->input.leftButton
                           : op == 2 ? &d->input.rightButton : &d->input.middleButton;
        *button = (uint32_t)c;
        static const uint32_t events[4] = {0, 1, 2, 16};
        qxPostEvent(d, events[op], (uint32_t)a, (uint32_t)b, (uint32_t)c, nullptr);
        break;
    }
    case 4:
        qxPostEvent(d, c ? 12 : 11, (uint32_t)a, (uint32_t)b, 0, nullptr);
        break;
    case 5:
        // Key code 0 brings only the qualifiers. Codes come from a plug-in:
        // only those inside the table are stored.
        if (!a)
            break;
        if (a > 0 && a < (int32_t)QX_RAWKEY_BASE)
            d->input.keys[a] = (uint8_t)b;
        qxPostEvent(d, 3, (uint32_t)b, (uint32_t)c, (uint32_t)a, nullptr);
        break;
    case 6:
        // The mapper reads a character from the third parameter.
        qxPostEvent(d, 28, 0, 0, (uint32_t)a, nullptr);
        break;
    case 7:
        qxPostEvent(d, 14, (uint32_t)a, (uint32_t)b, 0, payload);
        break;
    case 8:
        if (a >= 0 && a < (int32_t)QX_RAWKEY_BASE)
            d->input.keys[QX_RAWKEY_BASE + a] = (uint8_t)b;
        qxPostEvent(d, 29, (uint32_t)b, 0, (uint32_t)a, nullptr);
        break;
    }
    if (qxUpcalls.wakeEventLoop)
        qxUpcalls.wakeEventLoop();
    return 0;
}

void qxFreeSatellites(qxDisplay *d)
{
    lockList();
    while (qxSatellite *s = d->satellites) {
        d->satellites = s->next;
        std::free(s);
    }
    d->redrawingSatellite = nullptr;
    unlockList();
}
}

extern "C" void qxInstallDisplayHostSlots(qxHostFunc *g)
{
    g[8] = reinterpret_cast<qxHostFunc>(qxAttachSatellite);
    g[9] = reinterpret_cast<qxHostFunc>(qxDetachSatellite);
    g[10] = reinterpret_cast<qxHostFunc>(qxRedrawSatellite);
    g[11] = reinterpret_cast<qxHostFunc>(qxResizeSatellite);
    g[13] = reinterpret_cast<qxHostFunc>(qxInstallDisplayAdapter);
    g[18] = reinterpret_cast<qxHostFunc>(qxSatelliteDisplayAttrs);
    g[19] = reinterpret_cast<qxHostFunc>(qxRefreshDisplayOfHandle);
    g[20] = reinterpret_cast<qxHostFunc>(qxDisplayHandle);
}
