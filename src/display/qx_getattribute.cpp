// GetAttribute: the properties scripts ask of displays, clip regions,
// pointers, async draws, event handlers and timers. Types whose records live
// above this folder answer through qxObjectAttributes.
#include <cstdint>

#include "core/commands/qx_args.h"
#include "core/commands/qx_objreg.h"
#include "core/plugins/qx_plugins.h"
#include "core/vm/lauxlib.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_bgpic.h"
#include "display/qx_clipregion.h"
#include "display/qx_pointer.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_events.h"
#include "display/qx_menu.h"
#include "display/qx_snapshot.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_text.h"
#include "platform/x11/x11_display.h"

qxObjectAttributeFunc qxObjectAttributes[61] = {};
qxObjectRefAttributeFunc qxObjectRefAttributes[61] = {};

namespace {

constexpr int kTypeDisplay = 21, kTypeSprite = 32, kTypeClipRegion = 35, kTypePointer = 36, kTypeAsyncDraw = 37,
              kTypeEventHandler = 40, kTypeMemory = 39, kTypeFile = 44, kTypeDirectory = 45,
              kTypeClient = 54;
constexpr int kAttrDuration = 14, kAttrFunction = 58, kAttrUserData = 59, kAttrCount = 60;

int push(lua_State *L, double v)
{
    lua_pushnumber(L, v);
    return 1;
}

int bit(const qxDisplay *d, uint32_t flag)
{
    return (d->flags & flag) ? 1 : 0;
}

// ATTROUTPUTDEVICE: where the display's drawing goes. Only the current
// display can have a Select target: switching displays ends it.
int outputDevice(lua_State *L, const qxDisplay *d)
{
    uint32_t type = 21, frame = 0;
    qxObjectRef ref{d->header.id, d->header.automatic};
    if (d->doubleBuffer) {
        type = 38;
        ref = {0, nullptr};
    } else if (d == qxCurrentDisplay && d->targetType != 21 && qxCurrentOutput) {
        type = d->targetType;
        // Pixels drawn as a brush's say which object they belong to: a
        // brush, an anim frame, a layer or a BGPic.
        if (type == QX_TYPE_BRUSH && qxCurrentOutput->selectedType) type = qxCurrentOutput->selectedType;
        if (d->targetType == QX_TYPE_BGPIC) {
            ref = {qxCurrentOutput->id, qxCurrentOutput->automatic};
        } else {
            ref = qxCurrentOutput->selectedRef;
            frame = qxCurrentOutput->selectedFrame;
        }
    }
    lua_pushnumber(L, type);
    qxPushObjectID(L, ref);
    lua_pushnumber(L, frame);
    return 3;
}

// The host screen: the mode's size while full screen, else the desktop.
int hostAttribute(lua_State *L, qxDisplay *d, int attr)
{
    int w = 0, h = 0, monitor = 1;
    const int monitors = qxDesktopArea(d, &w, &h, &monitor);
    if (d->mode == QX_WINMODE_FULLSCREEN && d->screenWidth && d->screenHeight)
        w = (int)d->screenWidth, h = (int)d->screenHeight;
    switch (attr) {
    case 2: return push(L, w - d->borderWidth);
    case 3: return push(L, h - d->borderHeight);
    case 28: return push(L, w);
    case 29: return push(L, h);
    case 86: return push(L, monitor);
    default: return push(L, monitors);
    }
}

// A registry reference's value, or the fallback for none.
int pushRef(lua_State *L, uint32_t ref, bool nilWhenNone)
{
    if (ref == QX_NO_REF) {
        if (nilWhenNone)
            lua_pushnil(L);
        else
            lua_pushnumber(L, 0);
    } else {
        lua_rawgeti(L, LUA_REGISTRYINDEX, (int)ref);
    }
    return 1;
}

// The handler slot named by a window, object or custom event name.
const qxHandlerRef *findHandlerSlot(const char *name, bool *known)
{
    static const qxHandlerRef none{QX_NO_REF, QX_NO_REF};
    *known = true;
    for (uint32_t i = 0; i < QX_HANDLER_SLOTS; i++)
        if (!qxStrICmp(name, qxDisplayEventNames[i]))
            return qxCurrentDisplay ? &qxCurrentDisplay->handlers[i] : &none;
    for (uint32_t i = 0; i < QX_OBJECT_SLOTS; i++)
        if (!qxStrICmp(name, qxObjectEventNames[i]))
            return &qxObjectHandlers[i];
    for (qxCustomEvent *e = qxCustomEvents; e; e = e->next)
        if (!qxStrICmp(name, e->name))
            return &e->slot;
    *known = false;
    return nullptr;
}

int eventHandlerAttribute(lua_State *L, int attr)
{
    if (attr == kAttrCount) {
        int n = 0;
        if (qxCurrentDisplay)
            for (const qxHandlerRef &h : qxCurrentDisplay->handlers)
                n += h.function != QX_NO_REF;
        for (const qxHandlerRef &h : qxObjectHandlers)
            n += h.function != QX_NO_REF;
        for (qxCustomEvent *e = qxCustomEvents; e; e = e->next)
            n += e->slot.function != QX_NO_REF;
        return push(L, n);
    }
    const char *name = luaL_checkstring(L, 2);
    bool known;
    const qxHandlerRef *slot = findHandlerSlot(name, &known);
    if (!known) {
        qxSetErrorString(name);
        return ERR_UNKNOWNTAG;
    }
    if (attr == kAttrFunction)
        return pushRef(L, slot->function, true);
    if (attr == kAttrUserData)
        return pushRef(L, slot->userData, false);
    return ERR_UNKNOWNATTR;
}

// The find error of a type answered through the object registry.
int notFound(int type, qxObjectRef ref)
{
    if (ref.automatic)
        return ERR_FINDARRAY;
    qxSetErrorNumber((int)ref.number);
    switch (type) {
    case QX_TYPE_INTERVAL: return ERR_FINDINTERVAL;
    case QX_TYPE_TIMEOUT: return ERR_FINDTIMEOUT;
    case kTypeMemory: return ERR_FINDMEMBLK;
    case kTypeFile: return ERR_FINDFILE;
    case kTypeDirectory: return ERR_FINDDIR;
    case kTypeClient: return ERR_FINDCLIENT;
    case kTypeSprite: return ERR_FINDSPRITE;
    default: return ERR_FINDARRAY;
    }
}

int timerAttribute(lua_State *L, const qxTimer *t, int attr)
{
    switch (attr) {
    case kAttrDuration: return push(L, t->period);
    case kAttrFunction: return pushRef(L, t->function, true);
    case kAttrUserData: return pushRef(L, t->userData, false);
    default: return ERR_UNKNOWNATTR;
    }
}

// A type registered at run time answers through its handler, called as
// (L, object record, attribute); it returns the count of values it pushed
// or an error code.
int customTypeAttribute(lua_State *L, uint32_t type, int attr)
{
    qxObjectRef ref = qxGetObjectIDArg(L, 2);
    qxObjectHeader *h = qxFindObjectData(type, ref);
    if (!h)
        return notFound((int)type, ref);
    const int top = lua_gettop(L);
    const int r = qxCallCustomTypeHandler(L, type, (intptr_t)h, attr);
    if (r >= 1000)
        return r;
    // A handler that claims values it did not push gives a usage error
    // rather than stale stack slots as its answer.
    if (r < 0 || r > lua_gettop(L) - top) {
        lua_settop(L, top);
        return ERR_WRONGUSAGE;
    }
    return r;
}

// Types that answer nothing but ATTRCOUNT.
bool countOnly(int type)
{
    switch (type) {
    case 49: case 51: case 52: case 53: case 55: case 56: case 57: case 60: return true;
    default: return false;
    }
}

} // namespace

qxFontQueryHooks qxFontQueries;

extern "C" int qxFontAttribute(lua_State *L, int attr, const void *font)
{
    qxFontFacts f{};
    if (!font || !qxFontQueries.describe)
        return ERR_DEFFONT;
    if (int r = qxFontQueries.describe(font, &f))
        return r;
    switch (attr) {
    case 30: return push(L, f.ascender);
    case 31: return push(L, f.height - f.ascender);
    case 32:
        lua_pushstring(L, f.name ? f.name : "");
        return 1;
    case 33: return push(L, f.size);
    case 34: return push(L, f.scalable ? 1 : 0);
    case 35: return push(L, f.antialias ? 1 : 0);
    default: return ERR_UNKNOWNATTR;
    }
}

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
    case 6:
        return push(L, d->bgpic ? d->bgpic->layers.count : 0);
    case 30: case 31: case 32: case 33: case 34: case 35: {
        const void *font = qxFontQueries.currentFont ? qxFontQueries.currentFont() : nullptr;
        const int r = qxFontAttribute(L, attr, font);
        return r == 1 ? 1 : -r;
    }
    case 54:
        return outputDevice(L, d);
    case 77: // no density classes on a desktop: DENSITY_NONE
        return push(L, 0);
    case 95: {
        auto count = qxLayerQueries.countDisplayedSprites;
        return push(L, count && d->bgpic ? count(d->bgpic) : 0);
    }
    case 4:
        if (!d->bgpic)
            return push(L, -1);
        return qxPushObjectID(L, qxObjectRef{d->bgpic->id, d->bgpic->automatic});
    case 88:
        if (!d->menu)
            return push(L, -1);
        return qxPushObjectID(L, qxObjectRef{d->menu->id, d->menu->automatic});
    case 70:
        return push(L, d->orientation);
    case 71: // no on-screen keyboard on a desktop
        return push(L, 0);
    case 38:
        if (!d->pointer || d->pointer->orphaned)
            return push(L, -1);
        return qxPushObjectID(L, d->pointer->id);
    case 40:
        return push(L, d->state);
    case 41:
        return push(L, d->activation);
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
        lua_pushstring(L, qxDisplayAdapter && qxDisplayAdapter->name ? qxDisplayAdapter->name : "inbuilt");
        return 1;
    case 90:
        lua_pushstring(L, d->xServer);
        return 1;
    case 92:
    case 93:
        return push(L, 0);
    case 2: case 3: case 28: case 29: case 86: case 89:
        return hostAttribute(L, const_cast<qxDisplay *>(d), attr);
    case 78: case 79: {
        int x = 0, y = 0;
        x11GetDPI(&x, &y);
        return push(L, attr == 78 ? x : y);
    }
    case 94:
        for (int i = 0; i < 5; i++)
            lua_pushnumber(L, 0);
        return 5;
    case 96: case 97: case 100: {
        double f = 1;
        qxGetScaleFactor(&f);
        return push(L, f);
    }
    default:
        return -ERR_UNKNOWNATTR;
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
    if (type == kTypeEventHandler)
        return eventHandlerAttribute(L, attr);
    // Layers are counted on the current BGPic by their own handler.
    if (attr == kAttrCount && !(type == QX_TYPE_LAYER && qxObjectRefAttributes[type]))
        return push(L, type < 0 ? 0 : qxCountObjectsOfType((uint32_t)type));
    if (countOnly(type))
        return ERR_UNKNOWNATTR;
    if (type >= (int)QX_FIRST_CUSTOM_TYPE && qxGetCustomTypeName((uint32_t)type))
        return customTypeAttribute(L, (uint32_t)type, attr);
    if (type >= 0 && type < 61 && qxObjectRefAttributes[type]) {
        // A layer may be named by a string; its handler reads the argument.
        const qxObjectRef ref = type == QX_TYPE_LAYER ? qxObjectRef{0, nullptr} : qxGetObjectIDArg(L, 2);
        const int r = qxObjectRefAttributes[type](L, ref, attr);
        return r < 0 ? -r : r;
    }
    const bool timer = type == QX_TYPE_INTERVAL || type == QX_TYPE_TIMEOUT;
    if (timer || (type >= 0 && type < 61 && qxObjectAttributes[type])) {
        qxObjectRef ref = qxGetObjectIDArg(L, 2);
        qxObjectHeader *h = qxFindObjectData((uint32_t)type, ref);
        if (!h)
            return notFound(type, ref);
        if (timer)
            return timerAttribute(L, reinterpret_cast<const qxTimer *>(h), attr);
        int r = qxObjectAttributes[type](L, h, attr);
        return r < 0 ? -r : r;
    }
    // A type without attributes of its own knows none but the count.
    if (type >= 1 && type <= 60) return ERR_UNKNOWNATTR;
    return ERR_UNSUPPORTEDFEAT;
}
