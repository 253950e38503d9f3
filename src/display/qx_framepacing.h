// Frame pacing and refresh grouping of the graphics library.
#pragma once
#include <cstdint>

struct lua_State;
struct qxDisplay;
typedef int (*lua_CFunction)(lua_State *L);

extern "C" {
uint32_t qxGetFrameLimit(void);
// Values below 1 set 60.
void qxSetFrameLimit(int64_t fps);
// How long the limiter sleeps after elapsedNs since the last frame: the
// rest of the period (whole microseconds), nothing from a second on.
int64_t qxFrameDelayNs(int64_t elapsedNs, uint32_t fps);
int qxFrameLimit(lua_State *L, qxDisplay *display, int force);
int qxVWaitCurrentDisplay(lua_State *L, int flags);
int qxRefreshWanted(const qxDisplay *display, int force);
int qxBeginRefresh(qxDisplay *display, int force);
int qxEndRefresh(qxDisplay *display);
int qxCmdVWait(lua_State *L);
int qxCmdSetFPSLimit(lua_State *L);
int qxCmdGetFPSLimit(lua_State *L);
int qxCmdBeginRefresh(lua_State *L);
int qxCmdEndRefresh(lua_State *L);
int qxCmdDumpVideoTime(lua_State *L);
}
