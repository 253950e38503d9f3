// System library: stop-watch timers (object type 53). They count on the
// monotonic clock, so that a step of the wall clock does not move them.
#include <time.h>

#include <cmath>

#include "core/commands/qx_args.h"
#include "core/commands/qx_objreg.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_systemlib.h"
#include "platform/qx_memory.h"
#include "platform/qx_sync.h"
#include "platform/qx_systimers.h"

namespace {

constexpr uint32_t TYPE_TIMER = 53;
// Longest wait or reset value in milliseconds: what a u32 sleep can take.
constexpr double MS_LIMIT = 4294967295.0;

struct qxStopWatch {
    qxObjectHeader header; // type 53, number, automatic identifier, next, data
    qxTimeVal start;       // when it last started running; 0 while paused
    qxTimeVal accumulated; // counted before the last start
    uint32_t paused;
};

qxStopWatch *timers;

qxTimeVal now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return {static_cast<uint32_t>(ts.tv_sec), static_cast<uint32_t>(ts.tv_nsec / 1000)};
}

int64_t microseconds(const qxTimeVal &t) { return static_cast<int64_t>(t.seconds) * 1000000 + t.microseconds; }

// Milliseconds counted so far.
double elapsed(const qxStopWatch *w) {
    int64_t us = microseconds(w->accumulated);
    if (!w->paused) us += microseconds(now()) - microseconds(w->start);
    return static_cast<double>(us / 1000);
}

void restart(qxStopWatch *w, double ms) {
    w->paused = 0;
    uint64_t whole = static_cast<uint64_t>(ms);
    w->accumulated = {static_cast<uint32_t>(whole / 1000), static_cast<uint32_t>(whole % 1000) * 1000};
    w->start = now();
}

qxStopWatch *find(qxObjectRef ref) {
    for (qxStopWatch *w = timers; w; w = reinterpret_cast<qxStopWatch *>(w->header.next))
        if (w->header.id == ref.number && w->header.automatic == ref.automatic) return w;
    return nullptr;
}

// The timer named by argument 1, or the not-found error.
int timerArg(lua_State *L, qxStopWatch **out) {
    qxObjectRef ref = qxGetObjectIDArg(L, 1);
    *out = find(ref);
    if (*out) return 0;
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(static_cast<int>(ref.number));
    return ERR_FINDTIMER;
}

// A millisecond argument, checked before it becomes an integer.
int msArg(lua_State *L, int narg, double fallback, double *out) {
    double v = lua_isnoneornil(L, narg) ? fallback : luaL_checknumber(L, narg);
    if (!(v >= 0 && v <= MS_LIMIT)) return ERR_WRONGUSAGE;
    *out = std::floor(v);
    return 0;
}

} // namespace

int qxCmdStartTimer(lua_State *L) {
    qxCheckArgCount(L, 1, 2, 0, 0);
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    qxStopWatch *w = automatic ? nullptr : find({number, nullptr});
    if (w) {
        // Restarted in place: its data goes with the old run.
        qxFreeRefList(L, &w->header.data);
    } else {
        w = static_cast<qxStopWatch *>(qxAlloc(sizeof(qxStopWatch), 1));
        if (!w) return ERR_MEM;
        qxStopWatch **tail = &timers;
        while (*tail) tail = reinterpret_cast<qxStopWatch **>(&(*tail)->header.next);
        *tail = w;
    }
    w->header.type = TYPE_TIMER;
    w->header.id = automatic ? 0 : number;
    w->header.automatic = automatic ? w : nullptr;
    restart(w, 0);
    if (!automatic) return 0;
    lua_pushlightuserdata(L, w);
    return 1;
}

int qxCmdStopTimer(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxStopWatch *w;
    if (int r = timerArg(L, &w)) return r;
    qxStopWatch **link = &timers;
    while (*link != w) link = reinterpret_cast<qxStopWatch **>(&(*link)->header.next);
    *link = reinterpret_cast<qxStopWatch *>(w->header.next);
    qxFreeRefList(L, &w->header.data);
    qxFree(w);
    return 0;
}

int qxCmdPauseTimer(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxStopWatch *w;
    if (int r = timerArg(L, &w)) return r;
    if (w->paused) return 0;
    qxTimeVal n = now();
    qxSubTime(&n, &w->start);
    qxAddTime(&w->accumulated, &n);
    w->start = {0, 0};
    w->paused = 1;
    return 0;
}

int qxCmdResumeTimer(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxStopWatch *w;
    if (int r = timerArg(L, &w)) return r;
    if (!w->paused) return 0;
    w->paused = 0;
    w->start = now();
    return 0;
}

int qxCmdResetTimer(lua_State *L) {
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxStopWatch *w;
    if (int r = timerArg(L, &w)) return r;
    double ms;
    if (int r = msArg(L, 2, 0, &ms)) return r;
    restart(w, ms);
    return 0;
}

int qxCmdGetTimer(lua_State *L) {
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxStopWatch *w;
    if (int r = timerArg(L, &w)) return r;
    lua_pushnumber(L, elapsed(w));
    return 1;
}

int qxCmdWaitTimer(lua_State *L) {
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxStopWatch *w;
    if (int r = timerArg(L, &w)) return r;
    double ms;
    if (int r = msArg(L, 2, 0, &ms)) return r;
    bool reset = luaL_optnumber(L, 3, 1) != 0;
    if (w->paused) return ERR_WRONGUSAGE;
    double shown = elapsed(w);
    if (ms > shown) {
        qxObjectRef ref = {w->header.id, w->header.automatic};
        if (int r = qxSleepWithEvents(L, static_cast<uint32_t>(ms - shown))) return r;
        // The events served during the sleep may have stopped this timer.
        w = find(ref);
        if (!w) return 0;
    }
    // Only the count starts again; the script's data stays with the timer.
    if (reset) restart(w, 0);
    return 0;
}

void qxSysFreeTimers(lua_State *L) {
    while (timers) {
        qxStopWatch *w = timers;
        timers = reinterpret_cast<qxStopWatch *>(w->header.next);
        if (L) qxFreeRefList(L, &w->header.data);
        qxFree(w);
    }
}

int qxSysRegisterTimers(void) { return qxRegisterObjectList(&timers, TYPE_TIMER); }
