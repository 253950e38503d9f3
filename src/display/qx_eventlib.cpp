// The "event" command library: its commands, constants, opener and close,
// InstallEventHandler and the input-state commands.
#include <cctype>
#include <cstring>
#include <strings.h>

#include "core/commands/qx_args.h"
#include "core/commands/qx_cmdcall.h"
#include "core/commands/qx_commands.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "core/runtime/qx_lists.h"
#include "display/qx_adapter.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_eventqueue.h"
#include "display/qx_events.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_joystick.h"
#include "platform/qx_sync.h"
#include "platform/qx_systimers.h"
#include "platform/qx_text.h"
#include "platform/x11/x11_display.h"

double qxEventStartTime;

extern "C" {
int qxCmdSetInterval(lua_State *L);
int qxCmdSetTimeout(lua_State *L);
int qxCmdClearInterval(lua_State *L);
int qxCmdClearTimeout(lua_State *L);
int qxCmdChangeInterval(lua_State *L);
int qxCmdCreatePort(lua_State *L);
int qxCmdSendMessage(lua_State *L);
int qxCmdCreateButton(lua_State *L);
int qxCmdModifyButton(lua_State *L);
int qxCmdRemoveButton(lua_State *L);
int qxCmdCreateKeyDown(lua_State *L);
int qxCmdModifyKeyDown(lua_State *L);
int qxCmdRemoveKeyDown(lua_State *L);
int qxCmdEnableEvent(lua_State *L);
int qxCmdDisableEvent(lua_State *L);
int qxCmdClearEvents(lua_State *L);
int qxCmdGetEventCode(lua_State *L);
int qxCmdWhileMouseOn(lua_State *L);
int qxCmdBreakWhileMouseOn(lua_State *L);
int qxEventStepReset(void);
int qxCmdMakeButton(lua_State *L);
int qxCmdDeleteButton(lua_State *L);
int qxCmdEnableButton(lua_State *L);
int qxCmdDisableButton(lua_State *L);
int qxCmdDumpButtons(lua_State *L);
}

namespace {

struct KeyRow {
    const char *name;
    uint32_t code;
};

const KeyRow keyRows[QX_KEYROWS] = {
    {"TAB", 272}, {"RETURN", 274}, {"ENTER", 273}, {"SPACE", 276}, {"ESC", 275}, {"UP", 256},
    {"DOWN", 257}, {"RIGHT", 258}, {"LEFT", 259}, {"HELP", 260}, {"BACKSPACE", 271},
    {"DEL", 277}, {"F1", 261}, {"F2", 262}, {"F3", 263}, {"F4", 264}, {"F5", 265}, {"F6", 266},
    {"F7", 267}, {"F8", 268}, {"F9", 269}, {"F10", 270}, {"F11", 278}, {"F12", 279},
    {"F13", 287}, {"F14", 288}, {"F15", 289}, {"F16", 290}, {"INSERT", 280}, {"HOME", 281},
    {"END", 282}, {"PAGEUP", 283}, {"PAGEDOWN", 284}, {"PRINT", 285}, {"PAUSE", 286},
    {"NP0", 291}, {"NP1", 292}, {"NP2", 293}, {"NP3", 294}, {"NP4", 295}, {"NP5", 296},
    {"NP6", 297}, {"NP7", 298}, {"NP8", 299}, {"NP9", 300}, {"NPMUL", 301}, {"NPADD", 302},
    {"NPSUB", 303}, {"NPDEC", 304}, {"NPDIV", 305}, {"LSHIFT", 306}, {"RSHIFT", 307},
    {"LALT", 308}, {"RALT", 309}, {"LCOMMAND", 310}, {"RCOMMAND", 311}, {"LCONTROL", 312},
    {"RCONTROL", 313},
};

// #MOD bits of the modifier codes 306 to 313.
const uint32_t modifierBits[8] = {1, 2, 4, 8, 64, 128, 16, 32};

bool flagArg(lua_State *L, int narg)
{
    if (lua_gettop(L) < narg || lua_isnil(L, narg))
        return false;
    if (lua_type(L, narg) == LUA_TNUMBER)
        return lua_tonumber(L, narg) != 0;
    return lua_toboolean(L, narg) != 0;
}

int pushNumber(lua_State *L, double v)
{
    lua_pushnumber(L, v);
    return 1;
}

// 1 when the key named by argument 1 is held on the display; -code on a
// bad name.
int keyHeld(lua_State *L, qxDisplay *d, int raw)
{
    const char *name = luaL_checkstring(L, 1);
    const uint8_t *keys = d ? d->input.keys : nullptr;
    size_t offset = raw ? (size_t)QX_RAWKEY_BASE : 0;
    if (!strcasecmp(name, "any")) {
        for (size_t i = 0; keys && i < QX_RAWKEY_BASE; i++)
            if (keys[offset + i])
                return 1;
        return 0;
    }
    uint32_t code = qxKeyNameToCode(name);
    if (!code)
        return -ERR_WRONGUSAGE;
    if (!d || code >= QX_RAWKEY_BASE)
        return 0;
    if (!raw && code >= QX_KEY_LSHIFT && code <= QX_KEY_RCONTROL) {
        // The display's qualifiers, an adapter's included.
        const uint32_t bits = 0x80000000u | 0x10000u << (code - QX_KEY_LSHIFT);
        return (qxDispQualifiers(d) & bits) == bits ? 1 : 0;
    }
    return keys[offset + code] ? 1 : 0;
}

// Waits for events until done() says so; then the queue is emptied.
template <typename Done> int waitUntil(lua_State *L, Done done)
{
    while (!done()) {
        int out = 0, error = 0;
        if (int e = qxWaitEvents(L, 1, 0, &out))
            return e;
        if (qxPollEvents(L, 2, 0, &error))
            return error ? error : ERR_USERABORT;
    }
    return 0;
}

uint32_t *buttonFlag(qxDisplay *d, int which)
{
    return which == 0 ? &d->input.leftButton : which == 1 ? &d->input.rightButton
                                                          : &d->input.middleButton;
}

// A press of this kind waiting in the runtime queue for the display. A
// click can be pressed and released within one poll, so the held flags
// alone may never show it.
bool queuedPress(qxDisplay *d, uint32_t type, uint32_t code)
{
    bool found = false;
    if (qxLockEventQueue() != 0)
        return false;
    for (qxQueuedEvent *n = qxEventQueue; n && !found; n = n->next) {
        if (n->display != d || n->type != type)
            continue;
        if (type == 1 || type == 2 || type == 16)
            found = n->param3 != 0;
        else
            found = n->param1 != 0 && (code == 0 || n->param3 == code);
    }
    qxUnlockEventQueue();
    return found;
}

// Waits until the state is held (or a press is queued), then until it is
// released; the queue is emptied afterwards.
template <typename Held> int waitPressRelease(lua_State *L, qxDisplay *d, uint32_t type, uint32_t code, Held held)
{
    if (int r = waitUntil(L, [&] { return qxCurrentDisplay != d || held() || queuedPress(d, type, code); }))
        return r;
    if (int r = waitUntil(L, [&] { return qxCurrentDisplay != d || !held(); }))
        return r;
    qxFlushEvents(L, 0xFFFFFFFFu, 1);
    return 0;
}

int waitMouse(lua_State *L, int which)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d)
        return ERR_WRONGUSAGE;
    const uint32_t types[3] = {1, 2, 16};
    return waitPressRelease(L, d, types[which], 0, [&] { return *buttonFlag(d, which) != 0; });
}

int whileMouse(lua_State *L, int which)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d)
        return 0;
    return waitUntil(L, [&] { return qxCurrentDisplay != d || *buttonFlag(d, which) == 0; });
}

int isMouse(lua_State *L, int which)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    return pushNumber(L, d && *buttonFlag(d, which) ? 1 : 0);
}

int mouseAxis(lua_State *L, int axis)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d)
        return pushNumber(L, 0);
    int x = 0, y = 0;
    qxDispMousePos(d, &x, &y);
    const int pos = axis ? y : x;
    double scale = axis ? d->scaleY : d->scaleX;
    if (!(scale > 0))
        scale = 1.0;
    return pushNumber(L, (int)((pos - (axis ? d->marginTop : d->marginLeft)) / scale));
}

int quitSetting(lua_State *L, int kind)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    x11SetQuitKey(qxCurrentDisplay, kind, flagArg(L, 1) ? 1 : 0);
    return 0;
}

// Sets or clears one handler slot from the value at index v; 1185 for a
// value that is neither a function, a number nor nil.
int fillSlot(lua_State *L, qxHandlerRef &slot, int v, int userData, int narg, bool *changed)
{
    int type = lua_type(L, v);
    if (type == LUA_TNIL || type == LUA_TNONE)
        return 0;
    if (type != LUA_TFUNCTION && type != LUA_TNUMBER && type != LUA_TBOOLEAN) {
        qxSetErrorNumber(narg);
        return ERR_FUNCEXPECTED;
    }
    if (slot.function != QX_NO_REF)
        luaL_unref(L, LUA_REGISTRYINDEX, (int)slot.function);
    slot.function = QX_NO_REF;
    *changed = true;
    bool set = type == LUA_TFUNCTION;
    if (set) {
        lua_pushvalue(L, v);
        slot.function = (uint32_t)luaL_ref(L, LUA_REGISTRYINDEX);
    }
    if (userData || !set) {
        if (slot.userData != QX_NO_REF)
            luaL_unref(L, LUA_REGISTRYINDEX, (int)slot.userData);
        slot.userData = QX_NO_REF;
        if (userData) {
            lua_pushvalue(L, userData);
            int ref = luaL_ref(L, LUA_REGISTRYINDEX);
            slot.userData = ref >= 0 ? (uint32_t)ref : QX_NO_REF;
        }
    }
    return 0;
}

int fillSlotNamed(lua_State *L, qxHandlerRef &slot, const char *name, int userData, bool *changed)
{
    lua_pushstring(L, name);
    lua_gettable(L, 1);
    int r = fillSlot(L, slot, lua_gettop(L), userData, 1, changed);
    lua_pop(L, 1);
    return r;
}

bool anyNetworkSlot()
{
    for (uint32_t s = QX_OBJ_CONNECT; s <= QX_OBJ_RECEIVEUDP; s++)
        if (qxObjectHandlers[s].function != QX_NO_REF)
            return true;
    return false;
}

// ---- commands ----

int cmdWaitLeftMouse(lua_State *L) { return waitMouse(L, 0); }
int cmdWaitRightMouse(lua_State *L) { return waitMouse(L, 1); }
int cmdWaitMidMouse(lua_State *L) { return waitMouse(L, 2); }

int cmdWaitKeyDown(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    int raw = flagArg(L, 2);
    qxDisplay *d = qxCurrentDisplay;
    int held = keyHeld(L, d, raw);
    if (held < 0)
        return -held;
    if (!d)
        return ERR_WRONGUSAGE;
    const char *name = luaL_checkstring(L, 1);
    uint32_t code = strcasecmp(name, "any") ? qxKeyNameToCode(name) : 0;
    return waitPressRelease(L, d, raw ? 29 : 3, code, [&] { return keyHeld(L, d, raw) == 1; });
}

int cmdIsKeyDown(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    int held = keyHeld(L, qxCurrentDisplay, flagArg(L, 2));
    if (held < 0)
        return -held;
    return pushNumber(L, held);
}

int cmdWhileRightMouseDown(lua_State *L) { return whileMouse(L, 1); }
int cmdWhileMouseDown(lua_State *L) { return whileMouse(L, 0); }

int cmdWhileKeyDown(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    uint32_t code = qxBoundKeyCode;
    if (!d || !code || code >= QX_RAWKEY_BASE)
        return 0;
    return waitUntil(L, [&] { return qxCurrentDisplay != d || !d->input.keys[code]; });
}

int cmdIsLeftMouse(lua_State *L) { return isMouse(L, 0); }
int cmdIsRightMouse(lua_State *L) { return isMouse(L, 1); }
int cmdIsMidMouse(lua_State *L) { return isMouse(L, 2); }

int cmdSetEventTimeout(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    double ms = luaL_checknumber(L, 1);
    if (ms < 0)
        qxEventTimeout = QX_EVENT_TIMEOUT_NEVER;
    else
        qxEventTimeout = ms > 4294967294.0 ? 4294967294u : (uint32_t)ms;
    return 0;
}

int cmdLeftMouseQuit(lua_State *L) { return quitSetting(L, 9); }
int cmdEscapeQuit(lua_State *L) { return quitSetting(L, 10); }
int cmdCtrlCQuit(lua_State *L) { return quitSetting(L, 8); }

int cmdFreeEventCache(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxFlushEvents(L, 0xFFFFFFFFu, 1);
    return 0;
}

int stepCommand(lua_State *L, int wait)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    int handled = 1;
    int r = qxEventStep(L, wait, 0, 0, &handled);
    if (r)
        return r;
    return 1;
}

int cmdCheckEvent(lua_State *L)
{
    // An adapter's events are only fetched by its own poll.
    if (qxDisplayAdapterActive()) {
        int error = 0;
        if (qxPollEvents(L, 0, 0, &error) && error)
            return error;
    }
    return stepCommand(L, 0);
}
int cmdWaitEvent(lua_State *L) { return stepCommand(L, 1); }

int cmdCheckEvents(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    return qxWaitEventsUntilHandled(L);
}

int cmdBreakEventHandler(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    return qxEventStepReset();
}

int cmdMouseX(lua_State *L) { return mouseAxis(L, 0); }
int cmdMouseY(lua_State *L) { return mouseAxis(L, 1); }

// Plug-ins that take drops for a display learn whether it wants them
// (kind-4 callbacks: adapter handle, ondropfile set, their data).
constexpr uint32_t kOnDropFileSlot = 17;

void dropHandlerChanged(lua_State *L, const qxDisplay *d)
{
    const int on = d->handlers[kOnDropFileSlot].function != QX_NO_REF;
    qxRunCallbacks(L, 4, qxDisplayAdapterActive() ? d->window : nullptr, uintptr_t(on));
}

} // namespace

extern "C" int qxCmdInstallEventHandler(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    luaL_checktable(L, 1);
    int userData = lua_gettop(L) >= 2 ? 2 : 0;
    bool hadNetwork = anyNetworkSlot();
    bool changed = false;
    if (qxDisplay *d = qxCurrentDisplay) {
        const uint32_t dropBefore = d->handlers[kOnDropFileSlot].function;
        for (uint32_t i = 0; i < QX_HANDLER_SLOTS; i++)
            if (int r = fillSlotNamed(L, d->handlers[i], qxDisplayEventNames[i], userData, &changed))
                return r;
        d->closeHandler = d->handlers[QX_SLOT_CLOSEWINDOW].function != QX_NO_REF;
        qxDispCloseHandlerChanged(d);
        if (d->handlers[kOnDropFileSlot].function != dropBefore)
            dropHandlerChanged(L, d);
    }
    for (uint32_t i = 0; i < QX_OBJECT_SLOTS; i++)
        if (int r = fillSlotNamed(L, qxObjectHandlers[i], qxObjectEventNames[i], userData, &changed))
            return r;
    for (qxCustomEvent *e = qxCustomEvents; e; e = e->next) {
        char lower[256];
        size_t n = 0;
        for (; e->name[n] && n < sizeof lower - 1; n++)
            lower[n] = (char)std::tolower((unsigned char)e->name[n]);
        lower[n] = 0;
        if (int r = fillSlotNamed(L, e->slot, lower, userData, &changed))
            return r;
    }
    bool hasNetwork = anyNetworkSlot();
    if (hasNetwork && !hadNetwork) {
        if (int r = qxAddTimerUser(L, QX_TIMER_USER_EVENTS))
            return r;
    } else if (!hasNetwork && hadNetwork) {
        qxRemTimerUser(L, QX_TIMER_USER_EVENTS);
    }
    if (qxEventSources.setFillMusicHandler)
        qxEventSources.setFillMusicHandler(qxObjectHandlers[QX_OBJ_FILLMUSIC].function != QX_NO_REF);
    // Tell the sound library which of its notices are wanted.
    const uint32_t tags[4] = {QX_TAG_ONSAMPLELOOP, QX_TAG_ONSAMPLEEND, QX_TAG_ONMUSICEND, QX_TAG_ONVIDEOEND};
    const uint32_t slots[4] = {QX_OBJ_SAMPLELOOP, QX_OBJ_SAMPLEEND, QX_OBJ_MUSICEND,
                               QX_OBJ_VIDEOEND};
    for (int i = 0; i < 4; i++)
        qxSetTag(tags[i], qxObjectHandlers[slots[i]].function != QX_NO_REF);
    return 0;
}

namespace {

int cmdResetKeyStates(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    if (qxDisplay *d = qxCurrentDisplay) {
        std::memset(d->input.keys, 0, sizeof d->input.keys);
        d->input.leftButton = d->input.rightButton = d->input.middleButton = 0;
        if (d->bgpic)
            qxResetButtonStates(d->bgpic);
    }
    return 0;
}

int cmdJoyDir(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    int port = luaL_checkint(L, 1);
    int count = 0;
    joyOpenAll(&count);
    joyPoll();
    int direction = 8;
    uint32_t buttons = 0;
    if (int r = joyGetState(port, &direction, &buttons))
        return r;
    return pushNumber(L, direction);
}

int cmdJoyFire(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    int port = luaL_checkint(L, 1);
    double button = lua_gettop(L) >= 2 ? luaL_checknumber(L, 2) : 1;
    if (button > 32 || button < 0)
        return ERR_WRONGUSAGE;
    int count = 0;
    joyOpenAll(&count);
    joyPoll();
    int direction = 8;
    uint32_t buttons = 0;
    if (int r = joyGetState(port, &direction, &buttons))
        return r;
    int b = (int)button;
    if (b == 0)
        return pushNumber(L, buttons);
    return pushNumber(L, (buttons >> (b - 1)) & 1);
}

int cmdCountJoysticks(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    int count = 0;
    joyOpenAll(&count);
    return pushNumber(L, count);
}

int cmdNothing(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    return 0;
}

constexpr qxCommandDef eventCommands[] = {
    {"WaitLeftMouse", cmdWaitLeftMouse},
    {"WaitRightMouse", cmdWaitRightMouse},
    {"WaitKeyDown", cmdWaitKeyDown},
    {"IsKeyDown", cmdIsKeyDown},
    {"WhileRightMouseDown", cmdWhileRightMouseDown},
    {"WhileMouseDown", cmdWhileMouseDown},
    {"WhileKeyDown", cmdWhileKeyDown},
    {"IsLeftMouse", cmdIsLeftMouse},
    {"IsRightMouse", cmdIsRightMouse},
    {"BreakWhileMouseOn", qxCmdBreakWhileMouseOn},
    {"SetEventTimeout", cmdSetEventTimeout},
    {"GetEventCode", qxCmdGetEventCode},
    {"LeftMouseQuit", cmdLeftMouseQuit},
    {"EscapeQuit", cmdEscapeQuit},
    {"CtrlCQuit", cmdCtrlCQuit},
    {"EnableEvent", qxCmdEnableEvent},
    {"DisableEvent", qxCmdDisableEvent},
    {"RemoveButton", qxCmdRemoveButton},
    {"RemoveKeyDown", qxCmdRemoveKeyDown},
    {"ModifyButton", qxCmdModifyButton},
    {"ModifyKeyDown", qxCmdModifyKeyDown},
    {"WhileMouseOn", qxCmdWhileMouseOn},
    {"CreateButton", qxCmdCreateButton},
    {"CreateKeyDown", qxCmdCreateKeyDown},
    {"FreeEventCache", cmdFreeEventCache},
    {"ClearEvents", qxCmdClearEvents},
    {"CheckEvent", cmdCheckEvent},
    {"WaitEvent", cmdWaitEvent},
    {"MouseX", cmdMouseX},
    {"MouseY", cmdMouseY},
    {"MakeButton", qxCmdMakeButton},
    {"DeleteButton", qxCmdDeleteButton},
    {"DisableButton", qxCmdDisableButton},
    {"EnableButton", qxCmdEnableButton},
    {"InstallEventHandler", qxCmdInstallEventHandler},
    {"SetInterval", qxCmdSetInterval},
    {"SetTimeout", qxCmdSetTimeout},
    {"ClearInterval", qxCmdClearInterval},
    {"ClearTimeout", qxCmdClearTimeout},
    {"ChangeInterval", qxCmdChangeInterval},
    {"DumpButtons", qxCmdDumpButtons},
    {"WaitMidMouse", cmdWaitMidMouse},
    {"IsMidMouse", cmdIsMidMouse},
    {"ResetKeyStates", cmdResetKeyStates},
    {"JoyDir", cmdJoyDir},
    {"JoyFire", cmdJoyFire},
    {"CountJoysticks", cmdCountJoysticks},
    {"BreakEventHandler", cmdBreakEventHandler},
    {"CheckEvents", cmdCheckEvents},
    {"CreatePort", qxCmdCreatePort},
    {"SendMessage", qxCmdSendMessage},
    {"ShowKeyboard", cmdNothing},
    {"HideKeyboard", cmdNothing},
    {nullptr, nullptr},
};

constexpr qxConstantDef eventConstants[] = {
    {"MOVEWINDOW", nullptr, 6},
    {"SIZEWINDOW", nullptr, 7},
    {"INACTIVEWINDOW", nullptr, 8},
    {"ACTIVEWINDOW", nullptr, 9},
    {"CLOSEWINDOW", nullptr, 10},
    {"ONBUTTONCLICKALL", nullptr, 11},
    {"ONBUTTONRIGHTCLICKALL", nullptr, 12},
    {"ONBUTTONOVERALL", nullptr, 13},
    {"ONKEYDOWNALL", nullptr, 14},
    {"JOYUP", nullptr, 0},
    {"JOYUPRIGHT", nullptr, 1},
    {"JOYRIGHT", nullptr, 2},
    {"JOYDOWNRIGHT", nullptr, 3},
    {"JOYDOWN", nullptr, 4},
    {"JOYDOWNLEFT", nullptr, 5},
    {"JOYLEFT", nullptr, 6},
    {"JOYUPLEFT", nullptr, 7},
    {"JOYNODIR", nullptr, 8},
    {"ONBUTTONCLICK", nullptr, 2},
    {"ONBUTTONOVER", nullptr, 1},
    {"ONKEYDOWN", nullptr, 3},
    {"ONBUTTONRIGHTCLICK", nullptr, 5},
    {"SIMPLEBUTTON", nullptr, 0},
    {"LAYERBUTTON", nullptr, 1},
    {"MODLSHIFT", nullptr, 1},
    {"MODRSHIFT", nullptr, 2},
    {"MODLALT", nullptr, 4},
    {"MODRALT", nullptr, 8},
    {"MODLCONTROL", nullptr, 16},
    {"MODRCONTROL", nullptr, 32},
    {"MODLCOMMAND", nullptr, 64},
    {"MODRCOMMAND", nullptr, 128},
    {nullptr, nullptr, 0},
};

} // namespace

extern "C" {

uint32_t qxKeyNameToCode(const char *name)
{
    if (!name || !*name)
        return 0;
    if (!name[1]) {
        auto c = (unsigned char)name[0];
        return c < 128 && std::isgraph(c) ? c : 0;
    }
    for (const KeyRow &row : keyRows)
        if (!strcasecmp(row.name, name))
            return row.code;
    return 0;
}

void qxKeyCodeName(uint32_t code, int firstRow, int lastRow, char *out)
{
    for (int i = firstRow; i < lastRow && i < QX_KEYROWS; i++) {
        if (keyRows[i].code == code) {
            std::strcpy(out, keyRows[i].name);
            return;
        }
    }
    int n = qxPutChar(out, code); // '?' for what the text mode cannot hold
    out[n > 0 ? n : 0] = 0;
}

uint32_t qxModifierBits(const qxDisplay *d)
{
    uint32_t bits = 0;
    for (uint32_t code = 306; code <= 313; code++)
        if (d->input.keys[code] || d->input.keys[QX_RAWKEY_BASE + code])
            bits |= modifierBits[code - 306];
    return bits;
}

int qxOpenEventLib(lua_State *L)
{
    qxEventStartTime = qxGetSeconds();
    if (int r = qxInitEventState(L))
        return r;
    qxInstallEventUpcalls();
    qxInstallCustomEventSlots();
    qxInstallTimerAdapterSlots(L);
    return qxOpenCommandLibraryOf<eventCommands, eventConstants>(L, "event");
}

void qxFreeEventLib(lua_State *L)
{
    qxFreeEventState(L);
}
}
