// The event step: visits the event sources in a fixed order, turns one
// event at a time into the script's message table and calls its handler.
// Polling and waiting for the whole player live here too.
#include <cstdlib>
#include <cstring>

#include "core/commands/qx_args.h"
#include "core/commands/qx_cmdcall.h"
#include "core/commands/qx_commands.h"
#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "core/vm/qx_vmregs.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "display/qx_displaylibs.h"
#include "display/qx_adapter.h"
#include "display/qx_eventqueue.h"
#include "display/qx_events.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/qx_systimers.h"
#include "platform/qx_text.h"
#include "platform/qx_threadevents.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_wakepipe.h"
#include "platform/x11/x11_display.h"

extern "C" {
qxHandlerRef qxObjectHandlers[QX_OBJECT_SLOTS];

const char *const qxDisplayEventNames[QX_HANDLER_SLOTS] = {
    "onkeydown", "onkeyup", "onmousemove", "closewindow", "movewindow", "sizewindow",
    "activewindow", "inactivewindow", "hidewindow", "showwindow", "onmousedown", "onmouseup",
    "onrightmousedown", "onrightmouseup", "onwheeldown", "onwheelup", "modeswitch", "ondropfile",
    "clipboardchange", "onmidmousedown", "onmidmouseup", "orientationchange", "showkeyboard",
    "hidekeyboard", "hotkey", "trayicon", "ontouch", "onapplicationmessage", "onmenuselect",
    "ondockyclick", "vanillakey", "onrawkeydown", "onrawkeyup", "onaccelerometer", "ongyroscope",
};

const char *const qxObjectEventNames[QX_OBJECT_SLOTS] = {
    "onsampleloop", "onsampleend", "onmusicend", "onarexx", "onconnect", "ondisconnect",
    "onreceivedata", "onreceiveudpdata", "onvideoend", "onusermessage", "fillmusicbuffer",
    "runfinished", "directorychanged",
};
}

qxEventSourceHooks qxEventSources;

namespace {

// Message kinds of the runner.
enum : uint32_t {
    MSG_BUTTON = 1, MSG_KEY = 2, MSG_PLAIN = 3, MSG_SIZE = 4, MSG_MOVE = 5, MSG_INTERVAL = 6, MSG_TIMEOUT = 7,
    MSG_MOUSEMOVE = 8, MSG_OBJECT = 9, MSG_MODESWITCH = 12, MSG_DROPFILE = 13, MSG_CONNECT = 14, MSG_FILLMUSIC = 20, MSG_CUSTOM = 21, MSG_RUNFINISHED = 25,
    MSG_DIRECTORY = 26,
};

// The event record the mapper fills and the runner reads.
struct qxEventMsg {
    qxDisplay *display;
    uint32_t kind;
    uint32_t function, userData;
    qxObjectRef id;
    uint32_t hasId;
    uint32_t qualifiers;
    uint32_t param1, param2, param3;
    char action[64];
    char key[32];
    uint32_t time, starts, sampleEvent;
    uint32_t samples;
    uint64_t count;
    qxObjectRef client;
    uint32_t runUserData;
    double seconds;
    qxCustomEvent *custom;
    void *data;
    qxBGPicButton *button;
};

// Where the mapper stopped.
struct StepState {
    uint32_t resume;
    qxSysTimer *timerPos;
    int timerWalking;
    // A mouse button event the display's slot has served; the buttons of
    // its BGPic get it on the next step.
    qxEventCopy pendingButton;
    int hasPendingButton;
};

StepState *state;
double lastSweep;
// The program and arguments of the RunFinished under work.
char runProgram[4096], runArguments[4096];

enum : uint32_t {
    SRC_MUSIC = 0, SRC_TIMERS, SRC_THREAD, SRC_MOUSEMOVE, SRC_NETWORK, SRC_MESSAGES, SRC_QUEUE,
    SRC_HOVER, SRC_COUNT,
};

bool displayListed(const qxDisplay *display)
{
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next))
        if (d == display)
            return true;
    return false;
}

qxObjectRef displayRef(const qxDisplay *d)
{
    return qxObjectRef{d->header.id, d->header.automatic};
}

void setOptRef(lua_State *L, const char *key, uint32_t ref)
{
    lua_pushstring(L, key);
    lua_rawgeti(L, LUA_REGISTRYINDEX, (int)ref);
    lua_settable(L, -3);
}

// The message table of a record, on the stack top.
void pushMessage(lua_State *L, const qxEventMsg &m)
{
    lua_newtable(L);
    qxSetFieldStr(L, "action", m.action);
    switch (m.kind) {
    case MSG_BUTTON: {
        const qxBGPicButton *b = m.button;
        qxSetFieldID(L, "id", b->identifier);
        qxLayerButtonView v{b->x1, b->y1, b->x2 - b->x1 + 1, b->y2 - b->y1 + 1, 0, 0, ""};
        const bool onLayer = b->type == 1 && qxLayerButtonHook.view && m.display &&
                             qxLayerButtonHook.view(m.display->bgpic, b->layer, &v);
        qxSetFieldInt(L, "x", v.left);
        qxSetFieldInt(L, "y", v.top);
        qxSetFieldInt(L, "width", v.width);
        qxSetFieldInt(L, "height", v.height);
        if (onLayer) {
            qxSetFieldInt(L, "layer", v.index);
            qxSetFieldStr(L, "layername", v.name);
        }
        qxSetFieldInt(L, "mousedown", (int)b->leftDown);
        qxSetFieldInt(L, "rightmousedown", (int)b->rightDown);
        qxSetFieldInt(L, "midmousedown", (int)b->midDown);
        qxSetFieldID(L, "display", m.id);
        break;
    }
    case MSG_KEY:
        qxSetFieldStr(L, "key", m.key);
        qxSetFieldID(L, "id", m.id);
        if (!std::strcmp(m.action, "OnRawKeyDown") || !std::strcmp(m.action, "OnRawKeyUp"))
            qxSetFieldUInt(L, "modifiers", m.display ? qxModifierBits(m.display) : 0);
        break;
    case MSG_SIZE: {
        double f = m.display && m.display->systemScaleFactor > 0 ? m.display->systemScaleFactor : 1.0;
        qxSetFieldInt(L, "width", m.display ? (int)(m.display->width / f) : 0);
        qxSetFieldInt(L, "height", m.display ? (int)(m.display->height / f) : 0);
        qxSetFieldID(L, "id", m.id);
        break;
    }
    case MSG_MOVE:
        qxSetFieldInt(L, "x", m.display ? m.display->x : 0);
        qxSetFieldInt(L, "y", m.display ? m.display->y : 0);
        qxSetFieldID(L, "id", m.id);
        break;
    case MSG_MOUSEMOVE:
        qxSetFieldInt(L, "x", (int32_t)m.param1);
        qxSetFieldInt(L, "y", (int32_t)m.param2);
        qxSetFieldID(L, "id", m.id);
        break;
    case MSG_OBJECT:
        qxSetFieldID(L, "id", m.id);
        if (m.sampleEvent) {
            qxSetFieldUInt(L, "time", m.time);
            qxSetFieldUInt(L, "starts", m.starts);
        }
        break;
    case MSG_MODESWITCH:
        qxSetFieldInt(L, "mode", m.display && m.display->fullScreen ? 2 : 1);
        qxSetFieldInt(L, "width", m.display ? m.display->width : 0);
        qxSetFieldInt(L, "height", m.display ? m.display->height : 0);
        qxSetFieldID(L, "id", m.id);
        break;
    case MSG_DROPFILE: {
        qxSetFieldID(L, "id", m.id);
        qxSetFieldInt(L, "x", (int32_t)m.param1);
        qxSetFieldInt(L, "y", (int32_t)m.param2);
        // The payload: NUL-terminated names, ended by an empty one.
        lua_pushstring(L, "dropfiles");
        lua_newtable(L);
        int n = 0;
        for (const char *name = static_cast<const char *>(m.data); name && *name; name += std::strlen(name) + 1) {
            lua_pushnumber(L, n++);
            lua_pushstring(L, name);
            lua_settable(L, -3);
        }
        lua_settable(L, -3);
        qxSetFieldInt(L, "numdropfiles", n);
        break;
    }
    case MSG_RUNFINISHED:
        qxSetFieldStr(L, "program", runProgram);
        qxSetFieldStr(L, "args", runArguments);
        if (m.runUserData != QX_NO_REF)
            setOptRef(L, "runuserdata", m.runUserData);
        break;
    case MSG_CONNECT:
        qxSetFieldID(L, "serverid", m.id);
        qxSetFieldID(L, "clientid", m.client);
        break;
    case MSG_FILLMUSIC:
        qxSetFieldID(L, "id", m.id);
        qxSetFieldUInt(L, "samples", m.samples);
        qxSetFieldNum(L, "count", (double)m.count);
        break;
    case MSG_CUSTOM:
        if (m.custom && m.custom->funcs.fields)
            m.custom->funcs.fields(L, m.data);
        break;
    default:
        qxSetFieldID(L, "id", m.id);
        break;
    }
    if (m.userData != QX_NO_REF)
        setOptRef(L, "userdata", m.userData);
    double when = m.seconds > 0 ? m.seconds : qxGetSeconds();
    qxSetFieldNum(L, "timestamp", when - qxEventStartTime);
}

// Calls the record's handler; leaves its results above base unless quiet.
int runCallback(lua_State *L, const qxEventMsg &m, int quiet, int base, int *nresults)
{
    *nresults = 0;
    int nargs = 1;
    if (m.custom && m.custom->kind == 1) {
        // The plug-in pushes what to call and its arguments.
        int n = m.custom->funcs.push(L, m.data);
        if (n < 0 || lua_gettop(L) < base + 1 + n) {
            lua_settop(L, base);
            return n < 0 ? -n : ERR_WRONGUSAGE;
        }
        nargs = n;
    } else {
        lua_rawgeti(L, LUA_REGISTRYINDEX, (int)m.function);
        if (!lua_isfunction(L, -1)) {
            lua_settop(L, base);
            return 0;
        }
        pushMessage(L, m);
    }
    // The nesting is a count: 1 enters a callback, 0 leaves one.
    qxSetTag(QX_TAG_CALLBACKNEST, 1);
    bool music = m.kind == MSG_FILLMUSIC && qxEventSources.setInMusicCallback;
    if (music)
        qxEventSources.setInMusicCallback(1);
    int status = lua_pcall(L, nargs, quiet ? 0 : LUA_MULTRET, 0);
    if (music)
        qxEventSources.setInMusicCallback(0);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    if (m.custom && m.custom->kind == 1 && m.custom->funcs.afterCall)
        m.custom->funcs.afterCall(L, m.data);
    if (status) {
        lua_settop(L, base);
        return status;
    }
    if (!quiet)
        *nresults = lua_gettop(L) - base;
    if (qxQuitRequested)
        return ERR_USERABORT;
    return 0;
}

void keyName(uint32_t type, uint32_t code, char *out)
{
    if (type == 29) {
        qxKeyCodeName(code, QX_KEYROW_TAB, QX_KEYROWS, out);
        return;
    }
    if (code == 273 || code == 274) {
        std::strcpy(out, "\n");
        return;
    }
    if (code == 272) {
        std::strcpy(out, "        ");
        return;
    }
    if (code == 276) {
        std::strcpy(out, " ");
        return;
    }
    qxKeyCodeName(code, QX_KEYROW_ESC, QX_KEYROWS, out);
}

struct SlotRow {
    uint32_t type;
    int slotDown, slotUp; // slotUp -1: one slot
    const char *down, *up;
    uint32_t kind;
};

const SlotRow slotRows[] = {
    {1, 10, 11, "OnMouseDown", "OnMouseUp", MSG_PLAIN},
    {2, 12, 13, "OnRightMouseDown", "OnRightMouseUp", MSG_PLAIN},
    {16, 19, 20, "OnMidMouseDown", "OnMidMouseUp", MSG_PLAIN},
    {11, 15, -1, "OnWheelUp", nullptr, MSG_PLAIN},
    {12, 14, -1, "OnWheelDown", nullptr, MSG_PLAIN},
    {3, 0, 1, "OnKeyDown", "OnKeyUp", MSG_KEY},
    {29, 31, 32, "OnRawKeyDown", "OnRawKeyUp", MSG_KEY},
    {28, 30, -1, "VanillaKey", nullptr, MSG_KEY},
    {4, 4, -1, "MoveWindow", nullptr, MSG_MOVE},
    {5, 5, -1, "SizeWindow", nullptr, MSG_SIZE},
    {6, 7, -1, "InactiveWindow", nullptr, MSG_PLAIN},
    {7, 3, -1, "CloseWindow", nullptr, MSG_PLAIN},
    {8, 6, -1, "ActiveWindow", nullptr, MSG_PLAIN},
    {9, 8, -1, "HideWindow", nullptr, MSG_PLAIN},
    {10, 9, -1, "ShowWindow", nullptr, MSG_PLAIN},
    {13, 16, -1, "ModeSwitch", nullptr, MSG_MODESWITCH},
    {14, 17, -1, "OnDropFile", nullptr, MSG_DROPFILE},
    {15, 18, -1, "ClipboardChange", nullptr, MSG_PLAIN},
    {18, 22, -1, "ShowKeyboard", nullptr, MSG_PLAIN},
    {19, 23, -1, "HideKeyboard", nullptr, MSG_PLAIN},
    {20, 24, -1, "Hotkey", nullptr, MSG_PLAIN},
    {21, 25, -1, "TrayIcon", nullptr, MSG_PLAIN},
    {27, 29, -1, "OnDockyClick", nullptr, MSG_PLAIN},
};

void freePayload(uint32_t type, void *payload)
{
    if (!payload)
        return;
    if (type >= QX_FIRST_CUSTOM_EVENT && qxFreeCustomEventData)
        qxFreeCustomEventData(type, payload);
    else
        std::free(payload);
}

bool mapCustom(qxCustomEvent *c, void *data, qxEventMsg &m)
{
    if (!c || (c->kind != 1 && c->slot.function == QX_NO_REF))
        return false;
    m.kind = MSG_CUSTOM;
    m.custom = c;
    m.data = data;
    m.function = c->slot.function;
    m.userData = c->slot.userData;
    std::strncpy(m.action, c->name, sizeof m.action - 1);
    return true;
}

// Fills the record for a queued event; false when nobody handles it.
bool mapQueued(const qxEventCopy &e, qxEventMsg &m)
{
    if (e.type >= QX_FIRST_CUSTOM_EVENT)
        return mapCustom(qxCustomEventOfCode(e.type), e.payload, m);
    qxDisplay *d = e.display;
    if (!d || !displayListed(d))
        return false;
    for (const SlotRow &row : slotRows) {
        if (row.type != e.type)
            continue;
        bool pressed = true;
        if (row.type == 1 || row.type == 2 || row.type == 16)
            pressed = e.param3 != 0;
        else if (row.type == 3 || row.type == 29)
            pressed = e.pressed != 0;
        int slot = pressed || row.slotUp < 0 ? row.slotDown : row.slotUp;
        if (d->handlers[slot].function == QX_NO_REF)
            return false;
        m.display = d;
        m.kind = row.kind;
        m.function = d->handlers[slot].function;
        m.userData = d->handlers[slot].userData;
        m.id = displayRef(d);
        m.seconds = e.seconds;
        std::strcpy(m.action, pressed || !row.up ? row.down : row.up);
        m.param1 = e.param1, m.param2 = e.param2;
        if (row.type == 3 || row.type == 29)
            keyName(e.type, e.key, m.key);
        else if (row.type == 28)
            qxKeyCodeName(e.key, QX_KEYROWS, QX_KEYROWS, m.key);
        return true;
    }
    return false;
}

void pointerOn(qxDisplay *d, int *x, int *y)
{
    int px = d->input.mouseX, py = d->input.mouseY;
    if (x11DisplayData *xd = x11Data(d); xd && xd->window) {
        px = (int)x11GetAttribute(d, 6);
        py = (int)x11GetAttribute(d, 7);
    }
    *x = px - d->marginLeft;
    *y = py - d->marginTop;
}

// x and y are relative to the display offset. Simple buttons lie in the
// BGPic's pixels; with layer scaling a layer's rectangle is already in the
// window's pixels, so only autoscaling divides the position for it.
bool buttonHit(lua_State *L, const qxDisplay *d, const qxBGPicButton *b, int x, int y)
{
    if (!b->enabled)
        return false;
    const bool divide = b->type != 1 || d->autoScale;
    const double sx = divide && d->scaleX > 0 ? d->scaleX : 1.0, sy = divide && d->scaleY > 0 ? d->scaleY : 1.0;
    x = (int)(x / sx);
    y = (int)(y / sy);
    const qxBGPic *bgpic = d->bgpic;
    if (b->type != 1)
        return x >= b->x1 && x <= b->x2 && y >= b->y1 && y <= b->y2;
    // A layer button is active while its layer shows, or always with no auto hide.
    qxLayerButtonView v;
    if (!qxLayerButtonHook.view || !qxLayerButtonHook.hit || !qxLayerButtonHook.view(bgpic, b->layer, &v))
        return false;
    return (!v.hidden || b->noAutoHide) && qxLayerButtonHook.hit(L, b->layer, x, y, int(b->exact));
}

bool fillButton(qxDisplay *d, qxBGPicButton *b, int slot, qxEventMsg &m)
{
    if (b->callbacks[slot] == QX_NO_REF)
        return false;
    m.display = d;
    m.kind = MSG_BUTTON;
    m.button = b;
    m.function = b->callbacks[slot];
    m.userData = b->userData;
    m.id = displayRef(d);
    std::strcpy(m.action, qxButtonActions[slot]);
    return true;
}

// A mouse button event offered to the buttons of the display's BGPic.
bool offerToButtons(lua_State *L, const qxEventCopy &e, qxEventMsg &m)
{
    qxDisplay *d = e.display;
    int which = e.type == 1 ? 0 : e.type == 2 ? 1 : e.type == 16 ? 2 : -1;
    if (which < 0 || !d || !displayListed(d) || !d->bgpic)
        return false;
    qxBGPicButton *list = qxButtonsOf(d->bgpic);
    int x = (int32_t)e.param1 - d->marginLeft;
    int y = (int32_t)e.param2 - d->marginTop;
    bool pressed = e.param3 != 0;
    auto flagOf = [which](qxBGPicButton *b) -> uint32_t & {
        return which == 0 ? b->leftDown : which == 1 ? b->rightDown : b->midDown;
    };
    for (qxBGPicButton *b = list; b; b = b->next) {
        if (!buttonHit(L, d, b, x, y))
            continue;
        uint32_t &flag = flagOf(b);
        int slot;
        if (pressed) {
            flag = 1;
            slot = 2 + 2 * which;
        } else if (flag) {
            flag = 0;
            slot = 3 + 2 * which;
        } else {
            return false;
        }
        return fillButton(d, b, slot, m); // no function: used up
    }
    if (!pressed)
        for (qxBGPicButton *b = list; b; b = b->next)
            if (b->enabled)
                flagOf(b) = 0;
    return false;
}

// Mouse-over state of buttons: one "OnMouseOut" or "OnMouseOver" per call.
bool buttonHover(lua_State *L, qxEventMsg &m)
{
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next)) {
        qxBGPicButton *list = d->bgpic ? qxButtonsOf(d->bgpic) : nullptr;
        if (!list || d->state != QX_DISPSTATE_OPEN)
            continue;
        int x, y;
        pointerOn(d, &x, &y);
        qxBGPicButton *captured = nullptr, *hit = nullptr;
        for (qxBGPicButton *b = list; b; b = b->next) {
            if (!captured && (b->leftDown || b->rightDown || b->midDown))
                captured = b;
            if (!hit && buttonHit(L, d, b, x, y))
                hit = b;
        }
        for (qxBGPicButton *b = list; b; b = b->next) {
            if (captured && b != captured)
                continue;
            if (b != hit && b->over) {
                b->over = 0;
                if (fillButton(d, b, 1, m))
                    return true;
            }
        }
        if (hit && !hit->over && (!captured || captured == hit)) {
            hit->over = 1;
            if (fillButton(d, hit, 0, m))
                return true;
        }
    }
    return false;
}

// Runtime queue: the oldest event that somebody handles. 1 dispatched into
// m, 0 queue empty, or -code.
int takeQueued(lua_State *L, qxEventMsg &m, int *gosub)
{
    if (state->hasPendingButton) {
        state->hasPendingButton = 0;
        if (offerToButtons(L, state->pendingButton, m))
            return 1;
    }
    qxExpireEvents(L);
    for (;;) {
        if (qxLockEventQueue() != 0)
            return 0;
        if (qxBindings) {
            if (qxMatchBindings(L) < 0) { // the mutex is released
                *gosub = 1;
                return 0;
            }
        }
        qxEventCopy e;
        if (!qxPeekEvent(L, 0, &e, 1)) {
            qxUnlockEventQueue();
            return 0;
        }
        qxFlushEvents(L, 0, 0);
        qxUnlockEventQueue();
        if (e.type == 23)
            return -ERR_USERABORT;
        if (e.type == 24) {
            // {function, argument} copied by the host event function.
            void **call = static_cast<void **>(e.payload);
            int r = 0;
            if (call && call[0]) {
                auto f = reinterpret_cast<int (*)(lua_State *, void *, void *)>(call[0]);
                r = f(L, call[1], state);
            }
            std::free(call);
            if (r)
                return -r;
            continue;
        }
        if (e.type == 13 && e.display && qxDisplayAdapterActive() && (e.param1 == 1 || e.param1 == 2) &&
            e.param1 != (e.display->fullScreen ? 2u : 1u)) {
            // The adapter reports a switch it made: the display follows.
            const int w = e.param2 ? (int)e.param2 : e.display->width;
            const int h = e.param3 ? (int)e.param3 : e.display->height;
            qxChangeDisplayMode(L, e.display, (int)e.param1, w, h, -1, nullptr);
        }
        bool handled = mapQueued(e, m);
        if (handled && (m.custom || m.kind == MSG_DROPFILE)) {
            m.data = e.payload; // freed after the call
            return 1;
        }
        freePayload(e.type, e.payload);
        bool mouseButton = e.type == 1 || e.type == 2 || e.type == 16;
        if (handled) {
            if (mouseButton) {
                state->pendingButton = e;
                state->pendingButton.payload = nullptr;
                state->hasPendingButton = 1;
            }
            return 1;
        }
        if (mouseButton && offerToButtons(L, e, m))
            return 1;
    }
}

// Fired timers, one per call; 1 with m filled.
int takeTimer(lua_State *L, qxEventMsg &m, uint32_t *releaseFunction)
{
    for (;;) {
        uint32_t kind;
        qxObjectRef id{};
        qxSysTimer *from = state->timerWalking ? state->timerPos : nullptr;
        if (state->timerWalking && !from) {
            state->timerWalking = 0;
            return 0;
        }
        qxSysTimer *next = qxCollectFiredTimer(from, &kind, &id);
        state->timerWalking = 1;
        state->timerPos = next;
        if (!next)
            state->timerWalking = 0;
        if (kind == QX_SYSTIMER_NONE) {
            if (!next)
                return 0;
            continue;
        }
        qxTimer **list = kind == QX_SYSTIMER_INTERVAL ? &qxIntervals : &qxTimeouts;
        qxTimer *t = *list;
        qxTimer *previous = nullptr;
        while (t && !(t->id == id.number && t->automatic == id.automatic)) {
            previous = t;
            t = t->next;
        }
        if (!t || t->function == QX_NO_REF) {
            if (!next)
                return 0;
            continue;
        }
        m.kind = kind == QX_SYSTIMER_INTERVAL ? MSG_INTERVAL : MSG_TIMEOUT;
        std::strcpy(m.action, kind == QX_SYSTIMER_INTERVAL ? "Interval" : "Timeout");
        m.function = t->function;
        m.userData = t->userData;
        m.id = qxObjectRef{t->id, t->automatic};
        if (kind == QX_SYSTIMER_TIMEOUT) {
            // Gone before its function runs: ClearTimeout inside it finds nothing.
            (previous ? previous->next : *list) = t->next;
            qxFree(t);
            *releaseFunction = 1;
        }
        (void)L;
        return 1;
    }
}

// The FillMusicBuffer message for a music asking for frames; 0 when no
// handler is installed.
int fillMusicMessage(qxEventMsg &m, qxObjectRef id, uint32_t frames, uint64_t fed)
{
    const qxHandlerRef &slot = qxObjectHandlers[QX_OBJ_FILLMUSIC];
    if (slot.function == QX_NO_REF)
        return 0;
    m.kind = MSG_FILLMUSIC;
    std::strcpy(m.action, "FillMusicBuffer");
    m.function = slot.function;
    m.userData = slot.userData;
    m.id = id;
    m.samples = frames;
    m.count = fed;
    return 1;
}

// Script-fed music asking for frames; the request is taken even when no
// handler is set, so that it does not come back at every step.
int takeMusic(qxEventMsg &m)
{
    if (!qxEventSources.findMusicNeedingData)
        return 0;
    qxObjectRef id{};
    uint32_t frames = 0;
    uint64_t fed = 0;
    if (!qxEventSources.findMusicNeedingData(&id, &frames, &fed))
        return 0;
    return fillMusicMessage(m, id, frames, fed);
}

// Datagrams, connects, data and lost peers, each only while its slot is set.
int takeNetwork(qxEventMsg &m)
{
    if (!qxEventSources.pollNetwork)
        return 0;
    static const uint32_t slots[4] = {QX_OBJ_RECEIVEUDP, QX_OBJ_CONNECT, QX_OBJ_RECEIVEDATA,
                                      QX_OBJ_DISCONNECT};
    uint32_t wanted = 0;
    for (uint32_t s : slots)
        if (qxObjectHandlers[s].function != QX_NO_REF)
            wanted |= 1u << s;
    if (!wanted)
        return 0;
    uint32_t slot = 0;
    qxObjectRef id{}, client{};
    if (!qxEventSources.pollNetwork(wanted, &slot, &id, &client) || slot >= QX_OBJECT_SLOTS ||
        !(wanted & (1u << slot)))
        return 0;
    m.kind = slot == QX_OBJ_CONNECT ? MSG_CONNECT : MSG_PLAIN;
    std::strcpy(m.action, slot == QX_OBJ_CONNECT      ? "OnConnect"
                          : slot == QX_OBJ_RECEIVEUDP ? "OnReceiveUDPData"
                          : slot == QX_OBJ_RECEIVEDATA ? "OnReceiveData"
                                                       : "OnDisconnect");
    m.function = qxObjectHandlers[slot].function;
    m.userData = qxObjectHandlers[slot].userData;
    m.id = id;
    m.client = client;
    return 1;
}

int takeThreadEvent(lua_State *L, qxEventMsg &m)
{
    uint32_t type, a1, a2;
    qxObjectRef id{};
    // Popped always: notices nobody handles must not pile up.
    while (qxPopThreadEvent(&type, &id, &a1, &a2)) {
        int slot;
        const char *action;
        uint32_t kind = MSG_OBJECT;
        switch (type) {
        case QX_THREADEVENT_SAMPLE_END: slot = QX_OBJ_SAMPLEEND; action = "OnSampleEnd"; break;
        case QX_THREADEVENT_SAMPLE_LOOP: slot = QX_OBJ_SAMPLELOOP; action = "OnSampleLoop"; break;
        case QX_THREADEVENT_MUSIC_END: slot = QX_OBJ_MUSICEND; action = "OnMusicEnd"; break;
        case QX_THREADEVENT_VIDEO_END: slot = QX_OBJ_VIDEOEND; action = "OnVideoEnd"; break;
        case QX_THREADEVENT_PROGRAM_END: {
            // The record is freed whether anybody listens or not.
            int userRef = -1;
            if (!qxEventSources.endProgram ||
                !qxEventSources.endProgram(id.automatic, runProgram, sizeof runProgram, runArguments,
                                           sizeof runArguments, &userRef))
                continue;
            if (qxObjectHandlers[QX_OBJ_RUNFINISHED].function == QX_NO_REF) {
                if (userRef >= 0)
                    luaL_unref(L, LUA_REGISTRYINDEX, userRef);
                continue;
            }
            m.kind = MSG_RUNFINISHED;
            std::strcpy(m.action, "RunFinished");
            m.function = qxObjectHandlers[QX_OBJ_RUNFINISHED].function;
            m.userData = qxObjectHandlers[QX_OBJ_RUNFINISHED].userData;
            m.runUserData = userRef >= 0 ? (uint32_t)userRef : QX_NO_REF;
            return 1;
        }
        case QX_THREADEVENT_DIRECTORY:
            slot = QX_OBJ_DIRCHANGED; action = "DirectoryChanged"; kind = MSG_DIRECTORY;
            break;
        default: continue;
        }
        if (qxObjectHandlers[slot].function == QX_NO_REF)
            continue;
        m.kind = kind;
        std::strcpy(m.action, action);
        m.function = qxObjectHandlers[slot].function;
        m.userData = qxObjectHandlers[slot].userData;
        m.id = id;
        m.sampleEvent = type == QX_THREADEVENT_SAMPLE_END || type == QX_THREADEVENT_SAMPLE_LOOP;
        m.time = a1;
        m.starts = a2;
        return 1;
    }
    return 0;
}

int takeMouseMove(qxEventMsg &m)
{
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next)) {
        if (d->handlers[2].function == QX_NO_REF || !d->input.pointerMoved)
            continue;
        d->input.pointerMoved = 0;
        double sx = d->scaleX > 0 ? d->scaleX : 1.0, sy = d->scaleY > 0 ? d->scaleY : 1.0;
        int px = d->input.mouseX, py = d->input.mouseY;
        if (x11DisplayData *xd = x11Data(d); xd && xd->window) {
            // The pump only flags moves; the position is asked for now.
            px = (int)x11GetAttribute(d, 6);
            py = (int)x11GetAttribute(d, 7);
        }
        int x = (int)((px - d->marginLeft) / sx);
        int y = (int)((py - d->marginTop) / sy);
        m.display = d;
        m.kind = MSG_MOUSEMOVE;
        std::strcpy(m.action, "OnMouseMove");
        m.function = d->handlers[2].function;
        m.userData = d->handlers[2].userData;
        m.id = displayRef(d);
        m.param1 = (uint32_t)x;
        m.param2 = (uint32_t)y;
        return 1;
    }
    return 0;
}

// One pass of the mapper over the sources from the resume point. 1 with m
// filled, 0 nothing, or -code; *gosub set when a binding took over.
int mapOne(lua_State *L, qxEventMsg &m, uint32_t *releaseTimer, int *gosub)
{
    uint32_t start = state->resume;
    for (int pass = 0; pass < 2; pass++) {
        for (uint32_t src = pass ? 0 : start; src < (pass ? start : SRC_COUNT); src++) {
            int r = 0;
            switch (src) {
            case SRC_MUSIC: r = takeMusic(m); break;
            case SRC_TIMERS: r = takeTimer(L, m, releaseTimer); break;
            case SRC_THREAD: r = takeThreadEvent(L, m); break;
            case SRC_MOUSEMOVE: r = takeMouseMove(m); break;
            case SRC_NETWORK: r = takeNetwork(m); break;
            case SRC_QUEUE: r = takeQueued(L, m, gosub); break;
            case SRC_HOVER:
                if (buttonHover(L, m))
                    r = 1;
                else if (qxHoverBindings(L) < 0)
                    *gosub = 1;
                break;
            default: break;
            }
            if (*gosub) {
                state->resume = 0;
                return 0;
            }
            if (r) {
                state->resume = src == SRC_TIMERS && state->timerWalking ? src : (src + 1) % SRC_COUNT;
                return r;
            }
        }
        if (start == 0)
            break;
    }
    state->resume = 0;
    return 0;
}

} // namespace

extern "C" {

int qxPollEvents(lua_State *L, int flags, int, int *error)
{
    *error = 0;
    if (flags & 1) {
        // The line hook runs when the input watch asks for it (every event
        // source does); pollers that expect to run all the time get its
        // fast tick.
        const bool adapter = qxDisplayAdapterActive();
        if (int r = qxRunCallbacks(L, 1, nullptr, 0)) {
            *error = r;
            return 1;
        }
        x11SetInputWatchFastTick(adapter || qxHasCallbacks(1));
        if (adapter) // no pump arms the watch
            qxVmPollOnRequest = x11WatchActive = x11ArmInputWatch();
        // The line hook goes further only when events may be waiting: a
        // busy script then makes no system calls.
        if (!adapter && !x11EventsMayBePending())
            return qxQuitRequested ? 1 : 0;
        double now = qxGetSeconds();
        if ((long)(now - lastSweep) > 9) {
            lastSweep = now;
            qxExpireEvents(L);
        }
    }
    if (int r = qxAdapterHandleEvents(L, flags); r >= 0) {
        // The adapter's quit is no error.
        if (r == ERR_USERABORT)
            qxQuitRequested = 1;
        else if (r)
            *error = r;
        return r || qxQuitRequested ? 1 : 0;
    }
    int err = 0;
    const int stop = x11HandleEvents(L, &err);
    qxVmPollOnRequest = x11WatchActive; // armed by the pump
    if (stop) {
        *error = err == ERR_USERABORT ? 0 : err;
        if (err == ERR_USERABORT)
            qxQuitRequested = 1;
        return 1;
    }
    return qxQuitRequested ? 1 : 0;
}

int qxWaitEvents(lua_State *L, int mode, int, int *out)
{
    if (out)
        *out = 0;
    if (int r = qxAdapterWaitEvents(L, mode); r >= 0)
        return r;
    return x11WaitEvents();
}

int qxEventStep(lua_State *L, int wait, int quiet, int, int *handled)
{
    *handled = 1;
    if (!state)
        return ERR_WRONGUSAGE;
    if (wait && qxGetTag(QX_TAG_CALLBACKNEST))
        return ERR_WRONGUSAGE;
    int base = lua_gettop(L);
    qxEventMsg m;
    for (;;) {
        std::memset(&m, 0, sizeof m);
        m.function = m.userData = QX_NO_REF;
        uint32_t releaseTimer = 0;
        int gosub = 0;
        int r = mapOne(L, m, &releaseTimer, &gosub);
        if (gosub)
            return -1;
        if (r < 0)
            return -r;
        if (r > 0) {
            int nresults = 0;
            int status = runCallback(L, m, quiet, base, &nresults);
            if (m.custom && m.data)
                freePayload(m.custom->code, m.data);
            else if (m.kind == MSG_DROPFILE)
                std::free(m.data);
            if (m.kind == MSG_RUNFINISHED && m.runUserData != QX_NO_REF)
                luaL_unref(L, LUA_REGISTRYINDEX, (int)m.runUserData);
            if (releaseTimer) {
                luaL_unref(L, LUA_REGISTRYINDEX, (int)m.function);
                if (m.userData != QX_NO_REF)
                    luaL_unref(L, LUA_REGISTRYINDEX, (int)m.userData);
            }
            if (status)
                return status;
            *handled = 0;
            if (quiet) {
                lua_settop(L, base);
                return 0;
            }
            lua_newtable(L);
            int t = lua_gettop(L);
            qxSetFieldStr(L, "action", m.action);
            qxSetFieldID(L, "id", m.id);
            qxSetFieldInt(L, "nresults", nresults);
            qxSetFieldInt(L, "triggered", 1);
            if (nresults > 0) {
                lua_pushstring(L, "results");
                lua_newtable(L);
                for (int i = 0; i < nresults; i++) {
                    lua_pushvalue(L, base + 1 + i);
                    lua_rawseti(L, -2, i);
                }
                lua_settable(L, t);
            }
            // Only the table stays.
            if (nresults > 0) {
                lua_replace(L, base + 1);
                lua_settop(L, base + 1);
            }
            return 0;
        }
        if (!wait)
            break;
        int out = 0, error = 0;
        if (int e = qxWaitEvents(L, 1, 0, &out))
            return e;
        if (qxPollEvents(L, 8, 0, &error))
            return error ? error : ERR_USERABORT;
    }
    if (!quiet) {
        lua_newtable(L);
        qxSetFieldStr(L, "action", "");
        qxSetFieldInt(L, "id", 0);
        qxSetFieldInt(L, "nresults", 0);
        qxSetFieldInt(L, "triggered", 0);
    }
    return 0;
}

int qxDispatchCustomEvent(lua_State *L, uint32_t code, void *data)
{
    qxEventMsg m;
    std::memset(&m, 0, sizeof m);
    m.function = m.userData = QX_NO_REF;
    if (!L || !mapCustom(qxCustomEventOfCode(code), data, m))
        return 0;
    int base = lua_gettop(L), nresults = 0;
    int r = runCallback(L, m, 1, base, &nresults);
    lua_settop(L, base);
    return r;
}

int qxDispatchTimerNow(lua_State *L, qxTimer *t)
{
    if (!L || !t || t->function == QX_NO_REF)
        return 0;
    qxEventMsg m;
    std::memset(&m, 0, sizeof m);
    bool timeout = t->type == QX_TYPE_TIMEOUT;
    m.kind = timeout ? MSG_TIMEOUT : MSG_INTERVAL;
    std::strcpy(m.action, timeout ? "Timeout" : "Interval");
    m.function = t->function;
    m.userData = t->userData;
    m.id = qxObjectRef{t->id, t->automatic};
    if (timeout) {
        // Gone before its function runs, as on the platform path.
        for (qxTimer **p = &qxTimeouts; *p; p = &(*p)->next) {
            if (*p == t) {
                *p = t->next;
                break;
            }
        }
        qxFree(t);
    }
    int base = lua_gettop(L), nresults = 0;
    int r = runCallback(L, m, 1, base, &nresults);
    lua_settop(L, base);
    if (timeout) {
        luaL_unref(L, LUA_REGISTRYINDEX, (int)m.function);
        if (m.userData != QX_NO_REF)
            luaL_unref(L, LUA_REGISTRYINDEX, (int)m.userData);
    }
    return r;
}

int qxDispatchFillMusicNow(lua_State *L, qxObjectRef id, uint32_t frames, uint64_t fed)
{
    qxEventMsg m;
    std::memset(&m, 0, sizeof m);
    if (!L || !fillMusicMessage(m, id, frames, fed))
        return 0;
    int base = lua_gettop(L), nresults = 0;
    int r = runCallback(L, m, 1, base, &nresults);
    lua_settop(L, base);
    return r;
}

int qxWaitEventsUntilHandled(lua_State *L)
{
    for (;;) {
        int handled = 1;
        int r = qxEventStep(L, 0, 1, 0, &handled);
        if (r)
            return r;
        if (handled)
            return 0;
    }
}

int qxInitEventState(lua_State *)
{
    for (auto &slot : qxObjectHandlers)
        slot = {QX_NO_REF, QX_NO_REF};
    if (!state) {
        state = static_cast<StepState *>(qxAlloc(sizeof(StepState), 1));
        if (!state)
            return ERR_MEM;
    }
    std::memset(state, 0, sizeof *state);
    lastSweep = qxGetSeconds();
    qxCreateWakePipe();
    return 0;
}

void qxFreeEventState(lua_State *L)
{
    qxFreeCustomEvents(L);
    qxFreeBindings();
    qxFreeAllTimers(L);
    qxRemoveTimerAdapter();
    for (auto &slot : qxObjectHandlers) {
        if (L && slot.function != QX_NO_REF)
            luaL_unref(L, LUA_REGISTRYINDEX, (int)slot.function);
        if (L && slot.userData != QX_NO_REF)
            luaL_unref(L, LUA_REGISTRYINDEX, (int)slot.userData);
        slot = {QX_NO_REF, QX_NO_REF};
    }
    // Script-fed music cannot be made once its handler is gone.
    if (qxEventSources.setFillMusicHandler)
        qxEventSources.setFillMusicHandler(0);
    qxFree(state);
    state = nullptr;
}

void qxForgetButton(qxBGPicButton *)
{
    // The step keeps no button between calls; nothing to clear.
}

void qxEventStepForgetTimer(uint32_t kind, qxObjectRef id)
{
    if (!state || !state->timerWalking || !state->timerPos)
        return;
    qxSysTimer *next = nullptr;
    if (qxFindSysTimer(kind, id, &next) == state->timerPos) {
        state->timerPos = next;
        if (!next)
            state->timerWalking = 0;
    }
}

// BreakEventHandler: forget where the step stood.
int qxEventStepReset(void)
{
    if (state)
        std::memset(state, 0, sizeof *state);
    return 0;
}

static int pollUpcall(lua_State *L, int flags)
{
    int error = 0;
    if (qxPollEvents(L, flags, 0, &error))
        return error ? error : ERR_USERABORT;
    return 0;
}

static int waitUpcall(lua_State *L)
{
    int out = 0;
    return qxWaitEvents(L, 1, 0, &out);
}

static qxObjectRef systemIntervalId;

static int createSystemInterval(lua_State *L, uint32_t ms)
{
    systemIntervalId = qxObjectRef{0, nullptr};
    return qxAddInterval(L, systemIntervalId, ms, 1);
}

static void deleteSystemInterval(lua_State *L)
{
    for (qxTimer *t = qxIntervals; t; t = t->next) {
        if (t->function == QX_NO_REF) {
            qxClearTimer(L, QX_TYPE_INTERVAL, qxObjectRef{t->id, t->automatic});
            return;
        }
    }
}

void qxInstallEventUpcalls(void)
{
    qxUpcalls.pollEvents = pollUpcall;
    qxUpcalls.waitEvents = waitUpcall;
    qxUpcalls.waitEventsUntilHandled = qxWaitEventsUntilHandled;
    qxUpcalls.createSystemInterval = createSystemInterval;
    qxUpcalls.deleteSystemInterval = deleteSystemInterval;
}
}
