// The event library's machinery: polling and waiting, the event step that
// turns queued events, fired timers and thread notices into script
// callbacks, script timers and the input-state helpers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/qx_displayrecord.h"
#include "platform/qx_objectref.h"

typedef struct lua_State lua_State;

enum : uint32_t { QX_OBJECT_SLOTS = 13, QX_TYPE_INTERVAL = 41, QX_TYPE_TIMEOUT = 42 };

// Global handler slots of the object events.
enum : uint32_t {
    QX_OBJ_SAMPLELOOP = 0, QX_OBJ_SAMPLEEND = 1, QX_OBJ_MUSICEND = 2, QX_OBJ_AREXX = 3,
    QX_OBJ_CONNECT = 4, QX_OBJ_DISCONNECT = 5, QX_OBJ_RECEIVEDATA = 6, QX_OBJ_RECEIVEUDP = 7,
    QX_OBJ_VIDEOEND = 8, QX_OBJ_USERMESSAGE = 9, QX_OBJ_FILLMUSIC = 10, QX_OBJ_RUNFINISHED = 11,
    QX_OBJ_DIRCHANGED = 12,
};

// One interval or timeout. The leading fields match qxObjectHeader so that
// the object registry finds timers by identifier.
struct qxTimer {
    uint32_t type; // 41 interval, 42 timeout
    uint32_t id;
    void *automatic;
    qxTimer *next;
    void *data;
    uint32_t function; // registry reference; QX_NO_REF for the system interval
    uint32_t period;
    uint32_t userData;
    void *adapterTimer;
};

// An event binding: a screen area, key or window event tied to a label.
struct qxEventBinding {
    qxEventBinding *next;
    uint32_t kind;
    uint32_t id;
    int32_t x1, y1, x2, y2;
    char *key;
    uint32_t enabled;
};

// Functions a plug-in gives with a custom event; its ABI. Kind 0 uses
// fields (adds fields to the message table on the stack top); kind 1 uses
// push (pushes the function to call and then its arguments, returns the
// number of arguments or a negated error code), afterCall and freeData
// (releases the data of a queued event).
struct qxCustomEventFuncs {
    typedef void (*Fields)(lua_State *L, void *data);
    Fields fields;
    int (*push)(lua_State *L, void *data);
    void (*afterCall)(lua_State *L, void *data);
    void (*freeData)(void *data);
};

struct qxCustomEvent {
    qxCustomEvent *next;
    char *name; // stored behind the record
    uint32_t code;
    uint32_t kind;
    qxHandlerRef slot;
    qxCustomEventFuncs funcs;
    uint32_t abi;
};

enum : uint32_t { QX_BUTTON_SLOTS = 8 };

struct qxBGPic;

// A button of a BGPic (new buttons at the head of its list).
struct qxBGPicButton {
    qxBGPicButton *next;
    qxObjectRef identifier;
    uint32_t type; // 0 simple, 1 layer
    int32_t x1, y1, x2, y2;
    uint32_t enabled;
    uint32_t leftDown, rightDown, midDown;
    uint32_t over;
    uint32_t callbacks[QX_BUTTON_SLOTS]; // onmouseover ... onmidmouseup
    void *layer;
    uint32_t exact, noAutoHide;
    uint32_t userData;
};

// What a layer button asks of the layer engine (filled by the top; null
// entries: there are no layers).
struct qxLayerButtonView {
    int32_t left, top, width, height; // script coordinates
    int32_t index;                    // 1-based position in the layer list
    uint32_t hidden;
    const char *name; // never null
};
struct qxLayerButtonHooks {
    // The layer a MakeButton argument names: 0, 1081, 1369 or 1183.
    int (*layerArg)(lua_State *L, int arg, qxBGPic *bgpic, void **layer);
    // 0 when the layer is not in the BGPic's list.
    int (*view)(const qxBGPic *bgpic, const void *layer, qxLayerButtonView *out);
    // 1 when (x, y) lies on the layer: its rectangle, its clip region and,
    // with exact, a pixel of its picture that is not transparent.
    int (*hit)(lua_State *L, const void *layer, int32_t x, int32_t y, int exact);
};

extern "C" {
extern qxLayerButtonHooks qxLayerButtonHook;
// The layer code: a layer's button follows the layer that replaces it, and
// goes with a layer that goes.
void qxRebindLayerButton(const qxBGPic *bgpic, const void *from, void *to);
void qxDropLayerButton(lua_State *L, qxBGPic *bgpic, const void *layer);
extern const char *const qxButtonEventNames[QX_BUTTON_SLOTS];
extern const char *const qxButtonActions[QX_BUTTON_SLOTS];
qxBGPicButton *qxButtonsOf(const qxBGPic *bgpic);
// Frees a BGPic's buttons and what they hold in the registry (L may be
// NULL when none holds anything).
void qxFreeButtonList(lua_State *L, qxBGPic *bgpic);
void qxResetButtonStates(const qxBGPic *bgpic);
// The step forgets a button that is deleted.
void qxForgetButton(qxBGPicButton *button);

extern qxCustomEvent *qxCustomEvents;
qxCustomEvent *qxFindCustomEvent(const char *name);
qxCustomEvent *qxCustomEventOfCode(uint32_t code);
void qxInstallCustomEventSlots(void);
void qxFreeCustomEvents(lua_State *L);
// Runs the handler of a custom event at once; 0 or the handler's error.
int qxDispatchCustomEvent(lua_State *L, uint32_t code, void *data);

extern qxHandlerRef qxObjectHandlers[QX_OBJECT_SLOTS];
extern const char *const qxDisplayEventNames[QX_HANDLER_SLOTS];
extern const char *const qxObjectEventNames[QX_OBJECT_SLOTS];
extern qxTimer *qxIntervals, *qxTimeouts;
extern qxEventBinding *qxBindings;

// Returns non-zero when the caller must stop: *error holds the error, or
// 0 when a quit was requested.
int qxPollEvents(lua_State *L, int flags, int unused, int *error);
// Blocks until events may be waiting; 0 or an error code.
int qxWaitEvents(lua_State *L, int mode, int unused, int *out);
// Dispatches at most one callback (waiting for one when wait is set).
// Unless quiet, leaves the result table on the stack. *handled is 1 when
// no callback ran. Returns 0, an error code, or -1 for a binding's Gosub.
int qxEventStep(lua_State *L, int wait, int quiet, int unused, int *handled);
// Runs steps without waiting until one dispatches nothing.
int qxWaitEventsUntilHandled(lua_State *L);
// Starts the event library's state; 0 or 1000.
int qxInitEventState(lua_State *L);
void qxFreeEventState(lua_State *L);
// Fills the platform's up-calls for polling, waiting and the system interval.
void qxInstallEventUpcalls(void);

// Timers.
int qxAddInterval(lua_State *L, qxObjectRef id, uint32_t ms, int noReferences);
int qxClearTimer(lua_State *L, uint32_t type, qxObjectRef id);
void qxFreeAllTimers(lua_State *L);
// Runs a timer's function at once (timer adapter path); a timeout is
// unlinked and freed first. Returns the handler's error.
int qxDispatchTimerNow(lua_State *L, qxTimer *timer);
// Runs the FillMusicBuffer handler at once for a script-fed music asking
// for frames; 0 or the handler's error (0 without a handler).
int qxDispatchFillMusicNow(lua_State *L, qxObjectRef id, uint32_t frames, uint64_t fed);
// System slots 38 and 39; removal restores the stand-ins (library close).
void qxInstallTimerAdapterSlots(lua_State *L);
void qxRemoveTimerAdapter(void);
// The step's walk over fired timers must skip a timer that goes away.
void qxEventStepForgetTimer(uint32_t kind, qxObjectRef id);

// Bindings.
void qxFreeBindings(void);
// Adds the window-event or ALL binding of a preprocessor object by its
// constant name (any case; the ALL kinds also switch on); 0, 1000, or 1055
// for an unknown name.
int qxAddNamedBinding(const char *name, uint32_t id);
// Looks for a binding of the queued events; -1 after it set up a Gosub
// (the queue mutex is then released), else 0. Called with the queue mutex.
int qxMatchBindings(lua_State *L);
// Hover stage: calls the label of the ONBUTTONOVER binding the pointer
// enters; -1 after it set up a Gosub, else 0.
int qxHoverBindings(lua_State *L);
// Key names: 0 when the name has no code.
uint32_t qxKeyNameToCode(const char *name);
// Writes the name of a key code into out (at least 32 bytes); firstRow is
// the row of the key-name table the search starts at, lastRow the row
// after the last one searched.
void qxKeyCodeName(uint32_t code, int firstRow, int lastRow, char *out);
enum { QX_KEYROW_TAB = 0, QX_KEYROW_RETURN = 1, QX_KEYROW_ESC = 4, QX_KEYROW_LSHIFT = 50,
       QX_KEYROWS = 58 };
// The modifier bits (#MOD constants) of the display's held keys.
uint32_t qxModifierBits(const qxDisplay *display);

// Sources of libraries above the display layer; main fills them at link
// time, an empty entry is a source with nothing to give.
struct qxEventSourceHooks {
    // The next script-fed music asking for frames; 1 when found.
    int (*findMusicNeedingData)(qxObjectRef *id, uint32_t *frames, uint64_t *fed);
    // Whether a fillmusicbuffer handler is installed.
    void (*setFillMusicHandler)(int installed);
    // Set while a FillMusicBuffer handler runs.
    void (*setInMusicCallback)(int inside);
    // The next network condition among the wanted ones (bits 1 << QX_OBJ_*
    // of the four network slots); 1 with *slot, *id and, for a connect,
    // *client filled.
    int (*pollNetwork)(uint32_t wanted, uint32_t *slot, qxObjectRef *id, qxObjectRef *client);
    // Ends the Run whose record a program-end notice carries: copies its
    // program and arguments (truncated to the sizes), gives the registry
    // reference of its user data (-1: none) and frees it; 0 when unknown.
    int (*endProgram)(void *record, char *program, size_t programSize, char *arguments,
                      size_t argumentsSize, int *userRef);
};
extern qxEventSourceHooks qxEventSources;

// The last bound key, the event code and the binding the mouse is on.
extern uint32_t qxEventCode, qxBoundKeyCode;
extern uint32_t qxClickAll, qxRightClickAll, qxOverAll, qxKeyDownAll;
}
