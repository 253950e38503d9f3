// Frame pacing (VWait and the frame limiter) and refresh grouping.
#include <time.h>

#include <cerrno>
#include <cstdint>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_adapter.h"
#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "display/qx_framepacing.h"
#include "display/qx_satellite.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_upcalls.h"

namespace {

uint32_t gFrameLimit = 60;

int64_t monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

// Sleeps until the absolute monotonic time, resuming after signals.
void sleepUntil(int64_t deadline)
{
    timespec ts{(time_t)(deadline / 1000000000), (long)(deadline % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

constexpr uint32_t kTypeBrush = 3, kTypeAnim = 4, kTypeBGPic = 1, kTypeMask = 28, kTypeAlpha = 30;

} // namespace

extern "C" uint32_t qxGetFrameLimit(void)
{
    return gFrameLimit;
}

extern "C" void qxSetFrameLimit(int64_t fps)
{
    gFrameLimit = fps < 1 || fps > 0xFFFFFFFFLL ? 60 : (uint32_t)fps;
}

extern "C" int64_t qxFrameDelayNs(int64_t elapsedNs, uint32_t fps)
{
    if (fps == 0 || elapsedNs < 0 || elapsedNs >= 1000000000)
        return 0;
    int64_t period = (int64_t)(1000000 / fps) * 1000;
    return elapsedNs < period ? period - elapsedNs : 0;
}

// The frame time is taken after sleeping, so the next frame's elapsed time
// does not include this sleep; taking the real wake-up time, not the
// deadline, keeps a late wake-up from shortening the next period below the
// limit. The monotonic clock keeps a wall-clock step from stalling the loop.
extern "C" int qxFrameLimit(lua_State *, qxDisplay *display, int force)
{
    if (!display)
        return 0;
    if (!force && display->state != QX_DISPSTATE_OPEN)
        return 0;
    int64_t now = monotonicNs();
    if (display->lastFrameNs) {
        int64_t delay = qxFrameDelayNs(now - display->lastFrameNs, gFrameLimit);
        if (delay > 0) {
            sleepUntil(now + delay);
            now = monotonicNs();
        }
    }
    display->lastFrameNs = now;
    return 0;
}

extern "C" int qxVWaitCurrentDisplay(lua_State *L, int argument)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d)
        return 0;
    if (!qxAdapterVWait(d, (uint32_t)argument))
        qxFrameLimit(L, d, 0);
    if (!d->satellites)
        return 0;
    qxNotifySatellites(d, QX_SATOP_VWAIT, nullptr);
    // Satellites drawing a closed display without an adapter still need
    // the frame pace.
    bool plain = false;
    for (qxSatellite *s = d->satellites; s; s = s->next)
        plain |= s->options == 0;
    if (plain && !qxDisplayAdapterActive() && d->state == QX_DISPSTATE_CLOSED)
        qxFrameLimit(L, d, 1);
    return 0;
}

extern "C" int qxRefreshWanted(const qxDisplay *d, int force)
{
    if (force)
        return 1;
    // A satellite asks through its options word, an adapter through the
    // first flag its OpenDisplay handed back.
    for (const qxSatellite *s = d->satellites; s; s = s->next)
        if (s->options)
            return 1;
    if (d->window && d->adapterFlags[0])
        return 1;
    return (d->autoScale || d->layerScale) && d->scaledWidth && d->scaledHeight;
}

extern "C" int qxBeginRefresh(qxDisplay *d, int force)
{
    if (!d || !qxRefreshWanted(d, force))
        return 0;
    switch (d->targetType) {
    case kTypeBrush:
        if (d->doubleBuffer)
            return ERR_ENDDOUBLEBUFFER;
        return qxCurrentOutput && qxCurrentOutput->selectedType == kTypeAnim ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    case kTypeBGPic:
        return ERR_SELECTBG;
    case kTypeMask:
        return ERR_SELECTMASK;
    case kTypeAlpha:
        return ERR_SELECTALPHACHANNEL;
    default:
        break;
    }
    if (d->refreshMode)
        return ERR_WRONGUSAGE;
    d->refreshMode = 1;
    return 0;
}

extern "C" int qxEndRefresh(qxDisplay *d)
{
    if (!d || !d->refreshMode)
        return 0;
    d->refreshMode = 0;
    return qxRefreshWholeDisplay(d, 0);
}

extern "C" int qxCmdVWait(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    return qxVWaitCurrentDisplay(L, 0);
}

extern "C" int qxCmdSetFPSLimit(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    double v = luaL_checknumber(L, 1);
    qxSetFrameLimit(v >= 1 && v < 4294967296.0 ? (int64_t)v : 0);
    return 0;
}

extern "C" int qxCmdGetFPSLimit(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, gFrameLimit);
    return 1;
}

extern "C" int qxCmdBeginRefresh(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    int force = lua_gettop(L) >= 1 && luaL_checknumber(L, 1) != 0;
    return qxBeginRefresh(qxCurrentDisplay, force);
}

extern "C" int qxCmdEndRefresh(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    return qxEndRefresh(qxCurrentDisplay);
}

// No video recorder exists on this platform.
extern "C" int qxCmdDumpVideoTime(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, -1);
    return 1;
}
