// Buttons of a BGPic: rectangles that call script functions for pointer
// actions. The BGPic record has no list of its own yet, so the lists are
// kept here by BGPic and dropped when their BGPic leaves the BGPic list.
#include <cstdio>
#include <cstring>

#include "core/commands/qx_args.h"
#include "core/files/qx_file.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_positions.h"
#include "display/qx_display.h"
#include "display/qx_events.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

extern "C" {
qxLayerButtonHooks qxLayerButtonHook;
const char *const qxButtonEventNames[QX_BUTTON_SLOTS] = {
    "onmouseover", "onmouseout", "onmousedown", "onmouseup",
    "onrightmousedown", "onrightmouseup", "onmidmousedown", "onmidmouseup",
};
const char *const qxButtonActions[QX_BUTTON_SLOTS] = {
    "OnMouseOver", "OnMouseOut", "OnMouseDown", "OnMouseUp",
    "OnRightMouseDown", "OnRightMouseUp", "OnMidMouseDown", "OnMidMouseUp",
};
}

namespace {

struct ButtonOwner {
    ButtonOwner *next;
    qxBGPic *bgpic;
    qxBGPicButton *buttons;
};

ButtonOwner *owners;

void freeButton(lua_State *L, qxBGPicButton *b)
{
    for (uint32_t ref : b->callbacks)
        if (L && ref != QX_NO_REF)
            luaL_unref(L, LUA_REGISTRYINDEX, (int)ref);
    if (L && b->userData != QX_NO_REF)
        luaL_unref(L, LUA_REGISTRYINDEX, (int)b->userData);
    qxForgetButton(b);
    qxFree(b);
}

bool bgpicListed(const qxBGPic *bgpic)
{
    for (qxBGPic *p = qxBGPics; p; p = p->next)
        if (p == bgpic)
            return true;
    return false;
}

// The owner record of a BGPic; records of BGPics that are gone are dropped.
ButtonOwner *ownerOf(lua_State *L, qxBGPic *bgpic, bool create)
{
    for (ButtonOwner **p = &owners; *p;) {
        ButtonOwner *o = *p;
        if (!bgpicListed(o->bgpic)) {
            *p = o->next;
            while (qxBGPicButton *b = o->buttons) {
                o->buttons = b->next;
                freeButton(L, b);
            }
            qxFree(o);
            continue;
        }
        if (o->bgpic == bgpic)
            return o;
        p = &o->next;
    }
    if (!create || !bgpic)
        return nullptr;
    auto *o = static_cast<ButtonOwner *>(qxAlloc(sizeof(ButtonOwner), 1));
    if (!o)
        return nullptr;
    o->bgpic = bgpic;
    o->next = owners;
    owners = o;
    return o;
}

qxBGPic *currentBGPic()
{
    qxDisplay *d = qxCurrentDisplay;
    return d && d->bgpic && bgpicListed(d->bgpic) ? d->bgpic : nullptr;
}

qxBGPicButton **findButton(ButtonOwner *o, qxObjectRef id)
{
    for (qxBGPicButton **p = &o->buttons; o && *p; p = &(*p)->next)
        if ((*p)->identifier.number == id.number && (*p)->identifier.automatic == id.automatic)
            return p;
    return nullptr;
}

int notFound(qxObjectRef id)
{
    if (id.automatic)
        return ERR_FINDARRAY;
    qxSetErrorNumber((int)id.number);
    return ERR_FINDBUTTON;
}

// The button named by argument 1 on the current BGPic.
int buttonArg(lua_State *L, ButtonOwner **owner, qxBGPicButton ***slot)
{
    qxBGPic *bgpic = currentBGPic();
    if (!bgpic)
        return ERR_BGPICBUTTON;
    qxObjectRef id = qxGetObjectIDArg(L, 1);
    *owner = ownerOf(L, bgpic, false);
    *slot = *owner ? findButton(*owner, id) : nullptr;
    return *slot ? 0 : notFound(id);
}

int enableButton(lua_State *L, uint32_t on)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    ButtonOwner *o;
    qxBGPicButton **slot;
    if (int r = buttonArg(L, &o, &slot))
        return r;
    (*slot)->enabled = on;
    (*slot)->leftDown = (*slot)->rightDown = (*slot)->midDown = 0;
    return 0;
}

} // namespace

extern "C" {

qxBGPicButton *qxButtonsOf(const qxBGPic *bgpic)
{
    for (ButtonOwner *o = owners; o; o = o->next)
        if (o->bgpic == bgpic)
            return bgpicListed(bgpic) ? o->buttons : nullptr;
    return nullptr;
}

void qxFreeAllButtons(lua_State *L)
{
    while (ButtonOwner *o = owners) {
        owners = o->next;
        while (qxBGPicButton *b = o->buttons) {
            o->buttons = b->next;
            freeButton(L, b);
        }
        qxFree(o);
    }
}

void qxRebindLayerButton(const qxBGPic *bgpic, const void *from, void *to)
{
    for (qxBGPicButton *b = qxButtonsOf(bgpic); b; b = b->next)
        if (b->type == 1 && b->layer == from)
            b->layer = to;
}

void qxDropLayerButton(lua_State *L, const qxBGPic *bgpic, const void *layer)
{
    for (ButtonOwner *o = owners; o; o = o->next) {
        if (o->bgpic != bgpic)
            continue;
        for (qxBGPicButton **p = &o->buttons; *p;) {
            qxBGPicButton *b = *p;
            if (b->type == 1 && b->layer == layer) {
                *p = b->next;
                freeButton(L, b);
            } else {
                p = &b->next;
            }
        }
    }
}

void qxResetButtonStates(const qxBGPic *bgpic)
{
    for (qxBGPicButton *b = qxButtonsOf(bgpic); b; b = b->next)
        b->leftDown = b->rightDown = b->midDown = 0;
}

int qxCmdMakeButton(lua_State *L)
{
    qxCheckArgCount(L, 6, 8, 0, 0);
    qxBGPic *bgpic = currentBGPic();
    if (!bgpic)
        return ERR_BGPICBUTTON;
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    int type = luaL_checkint(L, 2);
    if (type != 0 && type != 1)
        return ERR_WRONGUSAGE;
    int x = 0, y = 0, width = 0, height = 0;
    void *layer = nullptr;
    uint32_t exact = 0, noAutoHide = 0;
    const int table = type == 1 ? 6 : 7;
    if (type == 1) {
        if (!qxLayerButtonHook.layerArg)
            return ERR_LAYERRANGE;
        if (int r = qxLayerButtonHook.layerArg(L, 3, bgpic, &layer))
            return r;
        for (qxBGPicButton *b = qxButtonsOf(bgpic); b; b = b->next)
            if (b->type == 1 && b->layer == layer)
                return ERR_WRONGUSAGE;
        auto flag = [L](int i) { return uint32_t(lua_isnumber(L, i) ? lua_tonumber(L, i) != 0 : lua_toboolean(L, i)); };
        exact = flag(4), noAutoHide = flag(5);
    } else {
        width = luaL_checkint(L, 5), height = luaL_checkint(L, 6);
        if (width < 1 || height < 1)
            return ERR_WRONGUSAGE;
        // #CENTER and the other position constants place the area on the BGPic.
        x = qxResolvePosX(luaL_checkint(L, 3), width, bgpic->width, 0.0);
        y = qxResolvePosY(luaL_checkint(L, 4), height, bgpic->height, 0.0);
    }
    luaL_checktable(L, table);
    int any = 0;
    for (const char *name : qxButtonEventNames) {
        lua_pushstring(L, name);
        lua_gettable(L, table);
        int t = lua_type(L, -1);
        lua_pop(L, 1);
        if (t == LUA_TFUNCTION)
            any = 1;
        else if (t != LUA_TNIL) {
            qxSetErrorNumber(table);
            return ERR_FUNCEXPECTED;
        }
    }
    if (!any)
        return ERR_WRONGUSAGE;
    ButtonOwner *o = ownerOf(L, bgpic, true);
    if (!o)
        return ERR_MEM;
    if (!automatic) {
        if (qxBGPicButton **old = findButton(o, qxObjectRef{number, nullptr})) {
            qxBGPicButton *b = *old;
            *old = b->next;
            freeButton(L, b);
        }
    }
    auto *b = static_cast<qxBGPicButton *>(qxAlloc(sizeof(qxBGPicButton), 1));
    if (!b)
        return ERR_MEM;
    b->identifier = automatic ? qxObjectRef{0, b} : qxObjectRef{number, nullptr};
    b->type = uint32_t(type);
    b->layer = layer;
    b->exact = exact;
    b->noAutoHide = noAutoHide;
    b->x1 = x;
    b->y1 = y;
    b->x2 = x + width - 1;
    b->y2 = y + height - 1;
    b->enabled = 1;
    b->userData = QX_NO_REF;
    for (int i = 0; i < (int)QX_BUTTON_SLOTS; i++) {
        lua_pushstring(L, qxButtonEventNames[i]);
        lua_gettable(L, table);
        b->callbacks[i] = lua_isfunction(L, -1) ? (uint32_t)luaL_ref(L, LUA_REGISTRYINDEX) : QX_NO_REF;
        if (b->callbacks[i] == QX_NO_REF)
            lua_pop(L, 1);
    }
    if (lua_gettop(L) >= table + 1) {
        lua_pushvalue(L, table + 1);
        int ref = luaL_ref(L, LUA_REGISTRYINDEX);
        b->userData = ref >= 0 ? (uint32_t)ref : QX_NO_REF;
    }
    b->next = o->buttons;
    o->buttons = b;
    if (automatic) {
        qxPushObjectID(L, b->identifier);
        return 1;
    }
    return 0;
}

int qxCmdDeleteButton(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    ButtonOwner *o;
    qxBGPicButton **slot;
    if (int r = buttonArg(L, &o, &slot))
        return r;
    qxBGPicButton *b = *slot;
    *slot = b->next;
    freeButton(L, b);
    return 0;
}

int qxCmdEnableButton(lua_State *L) { return enableButton(L, 1); }
int qxCmdDisableButton(lua_State *L) { return enableButton(L, 0); }

int qxCmdDumpButtons(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxBGPic *bgpic = currentBGPic();
    if (!bgpic)
        return ERR_BGPICBUTTON;
    int count = 0;
    for (qxBGPicButton *b = qxButtonsOf(bgpic); b; b = b->next)
        count++;
    qxPrintF("BUTTON SYSTEM INFO - BGPIC: %d (%p)\nsizeof(qxBGPicButton): %d\nButtons: %d\n",
             (int)bgpic->id, (void *)bgpic, 120, count);
    int n = 1;
    for (qxBGPicButton *b = qxButtonsOf(bgpic); b; b = b->next, n++)
        qxPrintF("(%d) Type: %d - X1: %d - Y1: %d - X2: %d - Y2: %d\n", n, (int)b->type, b->x1,
                 b->y1, b->x2, b->y2);
    return 0;
}
}
