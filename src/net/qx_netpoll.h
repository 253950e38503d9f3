// The runtime's event poll as the network waits call it.
#pragma once

struct lua_State;

extern "C" {
// Polls the events once; non-zero when the caller must stop, *error then
// holding the code (1003 when the user quits).
typedef int (*qxNetPollFn)(lua_State *L, int *error);
extern qxNetPollFn qxNetPollHook;
int qxNetPoll(lua_State *L, int *error);
// Waits up to ms milliseconds for the descriptor to be readable (what 1),
// writable (2) or either, so that data wakes the loop at once; a descriptor
// of -1 just sleeps.
void qxNetIdle(int fd, int what, int ms);
}
