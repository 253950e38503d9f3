// CreatePointer, SetPointer and FreePointer: the standard pointers and
// pointers made from a brush or a sprite frame.
#include "display/qx_pointer.h"

#include <cmath>
#include <cstdlib>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_adapter.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_display.h"
#include "display/qx_planesources.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

constexpr uint32_t kTypePointer = 36;
constexpr int kFromBrush = 3, kFromSprite = 32, kStandard = 36;
constexpr uint32_t kCustom = 2;

qxPointer *gPointers = nullptr;

// A hot spot argument: -1 (the default) is the centre; others are kept
// inside the image.
int hotSpot(lua_State *L, int arg, uint32_t size)
{
    const double v = luaL_optnumber(L, arg, -1);
    if (v == -1)
        return int(size / 2);
    if (!(v > 0))
        return 0;
    return v >= double(size - 1) ? int(size - 1) : int(v);
}

// The platform pointer made from a brush or a sprite frame, with the mask
// or alpha channel in the alpha byte.
int imagePointer(lua_State *L, int type, qxPointer *p)
{
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    uint32_t w = 0, h = 0;
    const qxObjectRef source = qxGetObjectIDArg(L, 3);
    int hotArg = 4;
    if (type == kFromBrush) {
        if (!qxPlaneSources.brush)
            return ERR_UNSUPPORTEDFEAT;
        if (int r = qxPlaneSources.brush(L, source, &bitmap, &mask, &alpha, &w, &h))
            return r;
    } else {
        if (!qxPlaneSources.sprite)
            return ERR_UNSUPPORTEDFEAT;
        if (int r = qxPlaneSources.sprite(L, source, luaL_optnumber(L, 4, 1), &bitmap, &mask, &alpha, &w, &h))
            return r;
        hotArg = 5;
    }
    if (!bitmap || w < 1 || h < 1 || w > 0x7FFF || h > 0x7FFF)
        return ERR_POINTERIMG;
    const int hotX = hotSpot(L, hotArg, w), hotY = hotSpot(L, hotArg + 1, h);
    qxVideoReadBack hold; // a hardware brush is read back from the adapter
    if (int r = qxReadBackVideo(&bitmap, &hold))
        return r;
    uint32_t *argb = qxBitMapToARGBMasked(bitmap, 0, 0, int32_t(w), int32_t(h), mask, alpha, 0xFFFFFFFFu, 1, 0);
    if (!argb)
        return ERR_MEM;
    int r = qxDispCreatePointer(argb, hotX, hotY, int(w), int(h), &p->handle);
    qxFree(argb);
    if (r)
        return r;
    p->width = w, p->height = h;
    return 0;
}

bool selected(const qxPointer *p)
{
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next))
        if (d->pointer == p)
            return true;
    return false;
}

void release(qxPointer *p)
{
    for (qxPointer **q = &gPointers; *q; q = &(*q)->next)
        if (*q == p) {
            *q = p->next;
            break;
        }
    qxDispFreePointer(p->handle);
    std::free(p);
}

void freeOrphans()
{
    for (qxPointer *p = gPointers, *n; p; p = n) {
        n = p->next;
        if (p->orphaned && !selected(p))
            release(p);
    }
}

} // namespace

int qxFindPointer(qxObjectRef id, qxPointer **out)
{
    *out = nullptr;
    for (qxPointer *p = gPointers; p; p = p->next)
        if (!p->orphaned && p->id.automatic == id.automatic && p->id.number == id.number) {
            *out = p;
            return 0;
        }
    if (id.automatic)
        return ERR_FINDARRAY;
    qxSetErrorNumber((int)id.number);
    return ERR_FINDPOINTER;
}

uint32_t qxPointerCount(void)
{
    uint32_t n = 0;
    for (qxPointer *p = gPointers; p; p = p->next)
        n += p->orphaned ? 0 : 1;
    return n;
}

void qxPointerSize(const qxPointer *p, uint32_t *width, uint32_t *height)
{
    if (p && p->width && p->height) {
        *width = p->width, *height = p->height;
        return;
    }
    *width = uint32_t(qxGetBitMapAttr(nullptr, 11));
    *height = uint32_t(qxGetBitMapAttr(nullptr, 12));
}

void qxFreeAllPointers(void)
{
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next))
        d->pointer = nullptr;
    while (gPointers)
        release(gPointers);
}

int qxCmdCreatePointer(lua_State *L)
{
    qxCheckArgCount(L, 3, 6, 0, 0);
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    const double type = luaL_checknumber(L, 2);
    const bool image = type == kFromBrush || type == kFromSprite;
    const double standard = image ? 0 : luaL_checknumber(L, 3);
    if (!image && (type != kStandard || !(standard == 0 || standard == 1)))
        return ERR_WRONGUSAGE;
    auto *p = static_cast<qxPointer *>(std::calloc(1, sizeof(qxPointer)));
    if (!p)
        return ERR_MEM;
    if (image) {
        if (int r = imagePointer(L, int(type), p)) {
            std::free(p);
            return r;
        }
        p->kind = kCustom;
    } else {
        p->kind = uint32_t(standard);
        qxPointerSize(nullptr, &p->width, &p->height);
    }
    if (!automatic) {
        qxPointer *old;
        if (qxFindPointer({number, nullptr}, &old) == 0) {
            if (selected(old)) {
                old->orphaned = 1;
                old->id.number = 0;
            } else {
                release(old);
            }
        }
        p->id = {number, nullptr};
    } else {
        p->id = {0, p};
    }
    p->type = kTypePointer;
    p->next = gPointers;
    gPointers = p;
    if (automatic)
        return qxPushObjectID(L, p->id);
    return 0;
}

int qxCmdSetPointer(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxPointer *p;
    if (int e = qxFindPointer(qxGetObjectIDArg(L, 1), &p))
        return e;
    qxDisplay *d = qxCurrentDisplay;
    if (!d)
        return ERR_WRONGUSAGE;
    d->pointer = p;
    if (d->state == QX_DISPSTATE_OPEN) {
        qxDispSetPointer(d, p->handle, (int)p->kind);
        if (!d->pointerHidden)
            qxDispShowPointer(d, 1);
    }
    freeOrphans();
    return 0;
}

int qxCmdFreePointer(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxPointer *p;
    if (int e = qxFindPointer(qxGetObjectIDArg(L, 1), &p))
        return e;
    if (selected(p)) {
        p->orphaned = 1;
        p->id.number = 0;
        return 0;
    }
    release(p);
    return 0;
}
