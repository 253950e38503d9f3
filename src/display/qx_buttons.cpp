// Buttons of a BGPic: rectangles or layers that call script functions for
// pointer actions. Each BGPic keeps its own list and frees it with itself.
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

// The BGPic that button commands work on: the display's, or the one a
// SelectBGPic chose; none while drawing goes to any other target.
qxBGPic *currentBGPic()
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d || !d->bgpic)
        return nullptr;
    if (d->targetType == QX_TYPE_DISPLAY || d->doubleBuffer)
        return d->bgpic;
    if (!qxCurrentOutput || (d->targetType != QX_TYPE_BGPIC && d->targetType != QX_TYPE_BRUSH))
        return nullptr;
    // Layers mode selects the record itself; otherwise the output record
    // names the selected BGPic (drawn into like a brush).
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        if (b == qxCurrentOutput)
            return d->targetType == QX_TYPE_BGPIC ? b : nullptr;
    if (qxCurrentOutput->selectedType != QX_TYPE_BGPIC)
        return nullptr;
    qxBGPic *b = qxFindBGPicRecord(qxCurrentOutput->selectedRef);
    return b && !b->pendingDeletion ? b : nullptr;
}

qxBGPicButton **findButton(qxBGPic *bgpic, qxObjectRef id)
{
    for (qxBGPicButton **p = &bgpic->buttons; *p; p = &(*p)->next)
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
int buttonArg(lua_State *L, qxBGPicButton ***slot)
{
    qxBGPic *bgpic = currentBGPic();
    if (!bgpic)
        return ERR_BGPICBUTTON;
    qxObjectRef id = qxGetObjectIDArg(L, 1);
    *slot = findButton(bgpic, id);
    return *slot ? 0 : notFound(id);
}

int enableButton(lua_State *L, uint32_t on)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxBGPicButton **slot;
    if (int r = buttonArg(L, &slot))
        return r;
    (*slot)->enabled = on;
    (*slot)->leftDown = (*slot)->rightDown = (*slot)->midDown = 0;
    return 0;
}

} // namespace

extern "C" {

qxBGPicButton *qxButtonsOf(const qxBGPic *bgpic)
{
    return bgpic ? bgpic->buttons : nullptr;
}

void qxFreeButtonList(lua_State *L, qxBGPic *bgpic)
{
    while (qxBGPicButton *b = bgpic->buttons) {
        bgpic->buttons = b->next;
        freeButton(L, b);
    }
}

void qxRebindLayerButton(const qxBGPic *bgpic, const void *from, void *to)
{
    for (qxBGPicButton *b = qxButtonsOf(bgpic); b; b = b->next)
        if (b->type == 1 && b->layer == from)
            b->layer = to;
}

void qxDropLayerButton(lua_State *L, qxBGPic *bgpic, const void *layer)
{
    for (qxBGPicButton **p = &bgpic->buttons; *p;) {
        qxBGPicButton *b = *p;
        if (b->type == 1 && b->layer == layer) {
            *p = b->next;
            freeButton(L, b);
        } else {
            p = &b->next;
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
    if (!automatic) {
        if (qxBGPicButton **old = findButton(bgpic, qxObjectRef{number, nullptr})) {
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
    b->next = bgpic->buttons;
    bgpic->buttons = b;
    if (automatic) {
        qxPushObjectID(L, b->identifier);
        return 1;
    }
    return 0;
}

int qxCmdDeleteButton(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxBGPicButton **slot;
    if (int r = buttonArg(L, &slot))
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
