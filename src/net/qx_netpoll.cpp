// Event polls and idle waits of the network loops.
#include "net/qx_netpoll.h"

#include <poll.h>

#include "core/errors/qx_errors.h"
#include "platform/qx_upcalls.h"

namespace {

int defaultPoll(lua_State *L, int *error)
{
    // The event library's poll, once it is installed.
    *error = qxUpcalls.pollEvents ? qxUpcalls.pollEvents(L, 2) : 0;
    return *error != 0;
}

} // namespace

extern "C" {

qxNetPollFn qxNetPollHook = defaultPoll;

int qxNetPoll(lua_State *L, int *error)
{
    *error = 0;
    return qxNetPollHook ? qxNetPollHook(L, error) : 0;
}

void qxNetIdle(int fd, int what, int ms)
{
    pollfd p{fd, static_cast<short>(((what & 1) ? POLLIN : 0) | ((what & 2) ? POLLOUT : 0)), 0};
    poll(&p, fd >= 0 ? 1 : 0, ms);
}

} // extern "C"
