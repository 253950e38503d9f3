// CreatePointer, SetPointer and FreePointer for the standard pointers.
#include "display/qx_pointer.h"

#include <cmath>
#include <cstdlib>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_adapter.h"
#include "display/qx_display.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/x11/x11_display.h"

namespace {

constexpr uint32_t kTypePointer = 36;
constexpr int kFromBrush = 3, kFromSprite = 32, kStandard = 36;
constexpr uint32_t kPlatformPointerSize = 32;

qxPointer *gPointers = nullptr;

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
    double type = luaL_checknumber(L, 2), source = luaL_checknumber(L, 3);
    if (type == kFromBrush || type == kFromSprite)
        return ERR_UNSUPPORTEDFEAT; // image pointers come with brushes and sprites
    if (type != kStandard || !(source == 0 || source == 1))
        return ERR_WRONGUSAGE;
    auto *p = static_cast<qxPointer *>(std::calloc(1, sizeof(qxPointer)));
    if (!p)
        return ERR_MEM;
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
    p->kind = (uint32_t)source;
    p->width = p->height = kPlatformPointerSize;
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
