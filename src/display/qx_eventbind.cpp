// Event bindings: screen areas, keys and window events tied to labels that
// the interpreter calls as a Gosub when a matching event arrives.
#include <cstdio>
#include <initializer_list>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "core/vm/qx_vmregs.h"
#include "display/qx_adapter.h"
#include "display/qx_display.h"
#include "display/qx_eventqueue.h"
#include "display/qx_events.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/x11/x11_display.h"

extern "C" {
qxEventBinding *qxBindings;
uint32_t qxEventCode, qxBoundKeyCode;
uint32_t qxClickAll, qxRightClickAll, qxOverAll, qxKeyDownAll;
}

namespace {

enum : uint32_t {
    BIND_OVER = 1, BIND_CLICK = 2, BIND_KEYDOWN = 3, BIND_RIGHTCLICK = 5, BIND_MOVE = 6,
    BIND_SIZE = 7, BIND_INACTIVE = 8, BIND_ACTIVE = 9, BIND_CLOSE = 10,
};

qxEventBinding *mouseOn; // the ONBUTTONOVER binding the pointer is on

void freeBinding(qxEventBinding *b)
{
    if (b == mouseOn)
        mouseOn = nullptr;
    qxFree(b->key);
    qxFree(b);
}

void removeBindings(uint32_t id, bool keys)
{
    for (qxEventBinding **p = &qxBindings; *p;) {
        qxEventBinding *b = *p;
        bool hit = b->id == id && (keys ? b->kind == BIND_KEYDOWN
                                        : (b->kind == BIND_OVER || b->kind == BIND_CLICK ||
                                           b->kind == BIND_RIGHTCLICK));
        if (hit) {
            *p = b->next;
            freeBinding(b);
        } else {
            p = &b->next;
        }
    }
}

int addBinding(uint32_t kind, uint32_t id, const int32_t area[4], const char *key)
{
    auto *b = static_cast<qxEventBinding *>(qxAlloc(sizeof(qxEventBinding), 1));
    if (!b)
        return ERR_MEM;
    b->kind = kind;
    b->id = id;
    if (area) {
        b->x1 = area[0];
        b->y1 = area[1];
        b->x2 = area[2];
        b->y2 = area[3];
    }
    if (key) {
        // A binding without its key would match nothing sensible: drop it.
        size_t n = std::strlen(key) + 1;
        b->key = static_cast<char *>(qxAlloc(n, 0));
        if (!b->key) {
            qxFree(b);
            return ERR_MEM;
        }
        std::memcpy(b->key, key, n);
    }
    b->enabled = 1;
    qxEventBinding **tail = &qxBindings;
    while (*tail)
        tail = &(*tail)->next;
    *tail = b;
    return 0;
}

void areaArgs(lua_State *L, int32_t area[4])
{
    for (int i = 0; i < 4; i++)
        area[i] = (int32_t)luaL_checknumber(L, 2 + i);
}

uint32_t *switchOf(uint32_t kind)
{
    switch (kind) {
    case 11: return &qxClickAll;
    case 12: return &qxRightClickAll;
    case 13: return &qxOverAll;
    case 14: return &qxKeyDownAll;
    default: return nullptr;
    }
}

int enableEvent(lua_State *L, uint32_t on)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    auto kind = (uint32_t)luaL_checknumber(L, 1);
    auto id = (uint32_t)luaL_checknumber(L, 2);
    if (uint32_t *s = switchOf(kind))
        *s = on;
    if (kind == BIND_CLOSE && qxCurrentDisplay) {
        qxCurrentDisplay->closeHandler = on;
        qxDispCloseHandlerChanged(qxCurrentDisplay);
    }
    for (qxEventBinding *b = qxBindings; b; b = b->next) {
        if (b->kind == kind && b->id == id) {
            b->enabled = on;
            break;
        }
    }
    return 0;
}

// Jumps to the label as a Gosub: -1 when it exists, else 0.
int gosubTo(lua_State *L, const char *label)
{
    int pc = luaL_findlabel(L, label);
    if (pc < 0)
        return 0;
    qxVmLabelOffset = pc - qxVmCallPosition;
    return -1;
}

bool inArea(const qxEventBinding *b, int x, int y)
{
    return x >= b->x1 && x <= b->x2 && y >= b->y1 && y <= b->y2;
}

// The pointer on the display, divided by its scale factors.
void pointerOf(qxDisplay *d, int *x, int *y)
{
    int px = d->input.mouseX, py = d->input.mouseY;
    if (x11DisplayData *xd = x11Data(d); xd && xd->window) {
        px = (int)x11GetAttribute(d, 6);
        py = (int)x11GetAttribute(d, 7);
    }
    double sx = d->scaleX > 0 ? d->scaleX : 1.0, sy = d->scaleY > 0 ? d->scaleY : 1.0;
    *x = (int)((px - d->marginLeft) / sx);
    *y = (int)((py - d->marginTop) / sy);
}

} // namespace

extern "C" {

int qxAddNamedBinding(const char *name, uint32_t id)
{
    static const struct {
        const char *name;
        uint32_t kind;
    } names[] = {{"MOVEWINDOW", BIND_MOVE},         {"SIZEWINDOW", BIND_SIZE},
                 {"INACTIVEWINDOW", BIND_INACTIVE}, {"ACTIVEWINDOW", BIND_ACTIVE},
                 {"CLOSEWINDOW", BIND_CLOSE},       {"ONBUTTONCLICKALL", 11},
                 {"ONBUTTONRIGHTCLICKALL", 12},     {"ONBUTTONOVERALL", 13},
                 {"ONKEYDOWNALL", 14}};
    for (const auto &n : names) {
        if (!name || strcasecmp(name, n.name))
            continue;
        if (int r = addBinding(n.kind, id, nullptr, nullptr))
            return r;
        if (uint32_t *s = switchOf(n.kind))
            *s = 1;
        if (n.kind == BIND_CLOSE && qxCurrentDisplay)
            qxCurrentDisplay->closeHandler = 1;
        return 0;
    }
    return ERR_WRONGUSAGE;
}

void qxFreeBindings(void)
{
    while (qxEventBinding *b = qxBindings) {
        qxBindings = b->next;
        if (b->kind == BIND_CLOSE && qxCurrentDisplay) {
            qxCurrentDisplay->closeHandler = 0;
            qxDispCloseHandlerChanged(qxCurrentDisplay);
        }
        freeBinding(b);
    }
    qxClickAll = qxRightClickAll = qxOverAll = qxKeyDownAll = 0;
    qxEventCode = qxBoundKeyCode = 0;
}

int qxMatchBindings(lua_State *L)
{
    qxEventCopy e;
    for (uint32_t i = 0; qxPeekEvent(L, i, &e, 0); i++) {
        qxDisplay *d = e.display;
        if (!d)
            continue;
        char key[32] = "";
        if (e.type == 3 && e.pressed) {
            if (e.key == 272)
                std::strcpy(key, "TAB");
            else
                qxKeyCodeName(e.key, QX_KEYROW_RETURN, QX_KEYROW_LSHIFT, key);
        }
        double sx = d->scaleX > 0 ? d->scaleX : 1.0, sy = d->scaleY > 0 ? d->scaleY : 1.0;
        int x = (int)(((int32_t)e.param1 - d->marginLeft) / sx);
        int y = (int)(((int32_t)e.param2 - d->marginTop) / sy);
        for (qxEventBinding *b = qxBindings; b; b = b->next) {
            if (!b->enabled)
                continue;
            char label[64];
            label[0] = 0;
            switch (b->kind) {
            case BIND_CLICK:
                if (e.type == 1 && e.param3 && inArea(b, x, y)) {
                    std::snprintf(label, sizeof label, qxClickAll ? "ONBUTTONCLICKALL" : "ONBUTTONCLICK%u", b->id);
                    qxEventCode = b->id;
                }
                break;
            case BIND_RIGHTCLICK:
                if (e.type == 2 && e.param3 && inArea(b, x, y)) {
                    std::snprintf(label, sizeof label,
                                  qxRightClickAll ? "ONBUTTONRIGHTCLICKALL" : "ONBUTTONRIGHTCLICK%u", b->id);
                    qxEventCode = b->id;
                }
                break;
            case BIND_KEYDOWN:
                if (e.type == 3 && e.pressed && b->key && !strcasecmp(b->key, key)) {
                    std::snprintf(label, sizeof label, qxKeyDownAll ? "ONKEYDOWNALL" : "ONKEYDOWN%u", b->id);
                    qxEventCode = b->id;
                    qxBoundKeyCode = e.key;
                }
                break;
            case BIND_MOVE: if (e.type == 4) std::strcpy(label, "MOVEWINDOW"); break;
            case BIND_SIZE: if (e.type == 5) std::strcpy(label, "SIZEWINDOW"); break;
            case BIND_INACTIVE: if (e.type == 6) std::strcpy(label, "INACTIVEWINDOW"); break;
            case BIND_ACTIVE: if (e.type == 8) std::strcpy(label, "ACTIVEWINDOW"); break;
            case BIND_CLOSE: if (e.type == 7) std::strcpy(label, "CLOSEWINDOW"); break;
            default: break;
            }
            if (!label[0] || luaL_findlabel(L, label) < 0)
                continue;
            // Only the matched event goes: older events still reach their handlers.
            qxQueuedEvent *n = qxEventQueue;
            for (uint32_t k = 0; n && k < i; k++)
                n = n->next;
            if (n) {
                if (n->payload) {
                    std::free(n->payload);
                    n->payload = nullptr;
                }
                n->type = 0; // voided: the mapper skips it
            }
            qxUnlockEventQueue();
            return gosubTo(L, label);
        }
    }
    return 0;
}

int qxCmdCreateButton(lua_State *L)
{
    qxCheckArgCount(L, 5, 5, 0, 0);
    auto id = (uint32_t)luaL_checknumber(L, 1);
    int32_t area[4];
    areaArgs(L, area);
    for (uint32_t kind : {BIND_OVER, BIND_CLICK, BIND_RIGHTCLICK})
        if (int r = addBinding(kind, id, area, nullptr))
            return r;
    return 0;
}

int qxCmdModifyButton(lua_State *L)
{
    qxCheckArgCount(L, 5, 5, 0, 0);
    auto id = (uint32_t)luaL_checknumber(L, 1);
    int32_t area[4];
    areaArgs(L, area);
    for (qxEventBinding *b = qxBindings; b; b = b->next) {
        if (b->id == id && (b->kind == BIND_OVER || b->kind == BIND_CLICK || b->kind == BIND_RIGHTCLICK)) {
            b->x1 = area[0];
            b->y1 = area[1];
            b->x2 = area[2];
            b->y2 = area[3];
        }
    }
    return 0;
}

int qxCmdRemoveButton(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    removeBindings((uint32_t)luaL_checknumber(L, 1), false);
    return 0;
}

int qxCmdCreateKeyDown(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    auto id = (uint32_t)luaL_checknumber(L, 1);
    const char *key = luaL_checkstring(L, 2);
    // The applet's declared objects also bind window events and the
    // catch-all switches by their constant's name.
    if (qxGetTag(QX_TAG_STORED) && qxAddNamedBinding(key, id) == 0)
        return 0;
    return addBinding(BIND_KEYDOWN, id, nullptr, key);
}

int qxCmdModifyKeyDown(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    auto id = (uint32_t)luaL_checknumber(L, 1);
    const char *key = luaL_checkstring(L, 2);
    for (qxEventBinding *b = qxBindings; b; b = b->next) {
        if (b->id == id && b->kind == BIND_KEYDOWN) {
            size_t n = std::strlen(key) + 1;
            auto *copy = static_cast<char *>(qxAlloc(n, 0));
            if (!copy)
                return ERR_MEM;
            std::memcpy(copy, key, n);
            qxFree(b->key);
            b->key = copy;
        }
    }
    return 0;
}

int qxCmdRemoveKeyDown(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    removeBindings((uint32_t)luaL_checknumber(L, 1), true);
    return 0;
}

int qxCmdEnableEvent(lua_State *L) { return enableEvent(L, 1); }
int qxCmdDisableEvent(lua_State *L) { return enableEvent(L, 0); }

int qxCmdClearEvents(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxFreeBindings();
    return 0;
}

int qxCmdGetEventCode(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, qxEventCode);
    return 1;
}

int qxSkipHover;

int qxHoverBindings(lua_State *L)
{
    qxDisplay *d = qxCurrentDisplay;
    if (qxSkipHover || !d || d->state != QX_DISPSTATE_OPEN || (d->flags & QX_DISP_HIDDEN))
        return 0;
    bool any = false;
    for (qxEventBinding *b = qxBindings; b && !any; b = b->next)
        any = b->kind == BIND_OVER && b->enabled;
    if (!any) {
        mouseOn = nullptr;
        return 0;
    }
    int x, y;
    pointerOf(d, &x, &y);
    qxEventBinding *hit = nullptr;
    for (qxEventBinding *b = qxBindings; b && !hit; b = b->next)
        if (b->kind == BIND_OVER && b->enabled && inArea(b, x, y))
            hit = b;
    // Only entering an area calls its label.
    if (hit == mouseOn)
        return 0;
    mouseOn = hit;
    if (!hit)
        return 0;
    char label[64];
    std::snprintf(label, sizeof label, qxOverAll ? "ONBUTTONOVERALL" : "ONBUTTONOVER%u", hit->id);
    qxEventCode = hit->id;
    return gosubTo(L, label);
}

int qxCmdBreakWhileMouseOn(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    mouseOn = nullptr;
    return 0;
}

int qxCmdWhileMouseOn(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    while (mouseOn && d && qxCurrentDisplay == d) {
        int x, y;
        pointerOf(d, &x, &y);
        if (!inArea(mouseOn, x, y))
            break;
        int handled = 1;
        qxSkipHover = 1;
        int r = qxEventStep(L, 0, 1, 0, &handled);
        qxSkipHover = 0;
        if (r == -1)
            return -2; // the label runs, then WhileMouseOn again
        if (r)
            return r;
        if (handled) {
            int out = 0, error = 0;
            if (int e = qxWaitEvents(L, 1, 0, &out))
                return e;
            if (qxPollEvents(L, 2, 0, &error))
                return error ? error : ERR_USERABORT;
        }
    }
    return 0;
}
}
