// GetAttribute: the properties scripts ask of displays. Other object types
// answer through their own libraries as those land.
#include <cstdint>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_bgpic.h"
#include "display/qx_clipregion.h"
#include "display/qx_pointer.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

constexpr int kTypeDisplay = 21, kTypeClipRegion = 35, kTypePointer = 36, kTypeAsyncDraw = 37, kAttrCount = 60;

int push(lua_State *L, double v)
{
    lua_pushnumber(L, v);
    return 1;
}

int bit(const qxDisplay *d, uint32_t flag)
{
    return (d->flags & flag) ? 1 : 0;
}

// Rows of the display table whose machinery (fonts, pointers, menus,
// monitors, output targets) this library does not reach yet.
bool pendingDisplayRow(int attr)
{
    switch (attr) {
    case 2: case 3: case 4: case 6: case 30: case 31: case 32: case 33: case 34: case 35:
    case 54: case 70: case 71: case 77: case 78: case 79: case 86: case 88: case 89:
    case 94: case 95: case 96: case 97: case 100:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int qxDisplayAttribute(lua_State *L, const qxDisplay *d, int attr)
{
    qxTagItem tag{0, 0};
    switch (attr) {
    case 0:
        return push(L, d->bgpic ? d->bgpic->width : d->width);
    case 1:
        return push(L, d->bgpic ? d->bgpic->height : d->height);
    case 7:
        return push(L, d->x);
    case 8:
        return push(L, d->y);
    case 21:
        return push(L, d->cursorX);
    case 22:
        return push(L, d->cursorY);
    case 24:
        return push(L, d->borderLeft);
    case 25:
        return push(L, d->borderTop);
    case 26:
        return push(L, d->borderWidth - d->borderLeft);
    case 27:
        return push(L, d->borderHeight - d->borderTop);
    case 28:
        return push(L, d->screenWidth);
    case 29:
        return push(L, d->screenHeight);
    case 38:
        if (!d->pointer || d->pointer->orphaned)
            return push(L, -1);
        return qxPushObjectID(L, d->pointer->id);
    case 40:
        return push(L, d->state);
    case 41:
        return push(L, bit(d, QX_DISP_ACTIVE));
    case 42:
        return push(L, d->fullScreen ? 2 : 1);
    case 43:
        // Kept as scripts know it: 1 layer scaling, 2 auto scaling.
        return push(L, d->layerScale ? 1 : d->autoScale ? 2 : 0);
    case 44:
        return push(L, (d->autoScale || d->layerScale) && d->scaledWidth ? d->scaledWidth
                                                                         : (uint32_t)d->width);
    case 45:
        return push(L, (d->autoScale || d->layerScale) && d->scaledHeight ? d->scaledHeight
                                                                          : (uint32_t)d->height);
    case 46:
        return push(L, bit(d, QX_DISP_BORDERLESS));
    case 47:
        return push(L, bit(d, QX_DISP_FIXED));
    case 48:
        return push(L, bit(d, QX_DISP_SIZEABLE));
    case 49:
        return push(L, bit(d, QX_DISP_NOHIDE));
    case 50:
        return push(L, bit(d, QX_DISP_NOMODESWITCH));
    case 51:
        lua_pushstring(L, d->title);
        return 1;
    case 52:
        return push(L, d->cursorLeftMargin);
    case 53:
        return push(L, d->cursorRightMargin);
    case 55:
        return push(L, d->doubleBuffer ? 1 : 0);
    case 56:
        return push(L, 32);
    case 61:
        return push(L, bit(d, QX_DISP_NOCLOSE));
    case 63:
    case 64:
        tag.tag = attr == 63 ? 4 : 6;
        qxGraphicsAttrGetter(&tag);
        return push(L, (double)(uint32_t)tag.data);
    case 67:
        return push(L, d->width);
    case 68:
        return push(L, d->height);
    case 69:
        return push(L, d->layersEnabled ? 1 : 0);
    case 87:
        lua_pushstring(L, "inbuilt");
        return 1;
    case 90:
        lua_pushstring(L, d->xServer);
        return 1;
    case 92:
    case 93:
        return push(L, 0);
    default:
        return pendingDisplayRow(attr) ? -ERR_UNSUPPORTEDFEAT : -ERR_UNKNOWNATTR;
    }
}

extern "C" int qxCmdGetAttribute(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    const int type = (int)luaL_checknumber(L, 1);
    const int attr = (int)luaL_checknumber(L, 3);
    if (type == kTypeDisplay) {
        if (attr == kAttrCount) {
            int n = 0;
            for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next))
                n++;
            return push(L, n);
        }
        qxDisplay *d = qxCurrentDisplay;
        qxObjectRef ref = qxGetObjectIDArg(L, 2);
        if (ref.automatic || ref.number != 0) {
            if (int r = qxFindDisplay(ref, &d))
                return r;
        }
        if (!d)
            return ERR_FINDDISPLAY;
        int r = qxDisplayAttribute(L, d, attr);
        return r < 0 ? -r : r;
    }
    if (type == kTypeClipRegion) {
        if (attr == kAttrCount)
            return push(L, qxClipRegionCount());
        qxClipRegion *r;
        if (int e = qxFindClipRegion(qxGetObjectIDArg(L, 2), &r))
            return e;
        switch (attr) {
        case 0:
            return push(L, r->width);
        case 1:
            return push(L, r->height);
        case 7:
            return push(L, r->x);
        case 8:
            return push(L, r->y);
        default:
            return ERR_UNKNOWNATTR;
        }
    }
    if (type == kTypePointer) {
        if (attr == kAttrCount)
            return push(L, qxPointerCount());
        qxPointer *p;
        if (int e = qxFindPointer(qxGetObjectIDArg(L, 2), &p))
            return e;
        switch (attr) {
        case 0:
            return push(L, p->width);
        case 1:
            return push(L, p->height);
        case 9:
            return push(L, p->kind);
        default:
            return ERR_UNKNOWNATTR;
        }
    }
    if (type == kTypeAsyncDraw) {
        if (attr == kAttrCount)
            return push(L, qxAsyncDrawCount());
        qxAsyncDraw *o;
        if (int e = qxFindAsyncDraw(qxGetObjectIDArg(L, 2), &o))
            return e;
        if (attr == 9)
            return push(L, o->kind);
        if (attr == 11 || attr == 12) {
            const int op = attr == 11 ? QX_ADOP_COUNT : QX_ADOP_CURRENT;
            return push(L, o->method ? (double)o->method(op, nullptr, o->userData) : -1.0);
        }
        return ERR_UNKNOWNATTR;
    }
    return ERR_UNSUPPORTEDFEAT;
}
