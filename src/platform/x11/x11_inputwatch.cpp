// The input watch: a thread that waits on the display connections' sockets
// while the script runs and asks the script thread for an event poll when
// the server has sent something. A busy script then looks at X only when
// there is something to read, and its interpreter checks nothing per
// instruction. A slow tick catches events that a round trip of a command
// read into Xlib's queue, where no socket shows them; with a display
// adapter or plug-in poll callbacks, which expect to be polled all the
// time, the tick is fast.
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include "platform/qx_sync.h"
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

namespace {

constexpr int kMaxFds = 8;
constexpr int kSlowTickMs = 5;
constexpr int kFastTickNs = 500000; // the event pump's interval before the watch

pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
// Under the mutex: the sockets to watch, whether a drain has armed the
// watch since it last fired, and whether the thread must end.
int watched[kMaxFds];
int watchedCount;
bool armed;
bool stopping;
bool running;
bool failed; // no thread could be made: not tried again at every drain
pthread_t thread;
int control[2] = {-1, -1}; // wakes the thread's poll when the state changes

std::atomic<int> fired{0};
std::atomic<int> fastTick{0};
// While the script thread waits for events itself, the watch does not
// tick; asleep says that it waits without a time-out.
std::atomic<int> scriptWaits{0};
std::atomic<int> asleep{0};

void requestPoll()
{
    if (qxUpcalls.requestPoll)
        qxUpcalls.requestPoll();
}

void poke()
{
    char c = 0;
    ssize_t n = write(control[1], &c, 1);
    (void)n; // a full pipe already wakes the thread
}

void pokeIfRunning()
{
    pthread_mutex_lock(&mutex);
    if (running)
        poke();
    pthread_mutex_unlock(&mutex);
}

void *watchThread(void *)
{
    pollfd fds[kMaxFds + 1];
    for (;;) {
        int n = 0;
        pthread_mutex_lock(&mutex);
        if (stopping) {
            pthread_mutex_unlock(&mutex);
            break;
        }
        fds[n++] = {control[0], POLLIN, 0};
        if (armed)
            for (int i = 0; i < watchedCount; i++)
                fds[n++] = {watched[i], POLLIN, 0};
        pthread_mutex_unlock(&mutex);
        timespec wait{0, fastTick.load(std::memory_order_relaxed) ? kFastTickNs : kSlowTickMs * 1000000L};
        // Asleep, then the wait looked at again, against the script's end of
        // its wait, then asleep looked at (x11InputWatchScriptWaits): one of
        // the two sees the other.
        const bool still = scriptWaits.load() != 0;
        asleep.store(still);
        int r = still && scriptWaits.load() ? ppoll(fds, (nfds_t)n, nullptr, nullptr)
                                            : ppoll(fds, (nfds_t)n, &wait, nullptr);
        asleep.store(0, std::memory_order_relaxed);
        if (r < 0 && errno != EINTR)
            break;
        if (r == 0) { // the tick
            requestPoll();
            continue;
        }
        if (r < 0)
            continue;
        if (fds[0].revents) {
            char buf[64];
            while (read(control[0], buf, sizeof buf) > 0) {
            }
        }
        bool readable = false;
        for (int i = 1; i < n; i++)
            readable = readable || fds[i].revents != 0;
        if (readable) {
            // Watched again after the script thread has read the socket.
            pthread_mutex_lock(&mutex);
            armed = false;
            pthread_mutex_unlock(&mutex);
            fired.store(1, std::memory_order_release);
            requestPoll();
        }
    }
    return nullptr;
}

bool start()
{
    if (pipe(control) != 0)
        return false;
    for (int fd : control) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    thread = qxCreateThread(watchThread, nullptr, 0);
    if (!thread) {
        close(control[0]);
        close(control[1]);
        control[0] = control[1] = -1;
        return false;
    }
    running = true;
    return true;
}

} // namespace

extern "C" {

int x11ArmInputWatch(void)
{
    int fds[kMaxFds];
    int count = 0;
    for (x11Connection *c = x11Connections; c && count < kMaxFds; c = c->next)
        fds[count++] = (int)c->fd;
    fired.store(0, std::memory_order_relaxed);
    pthread_mutex_lock(&mutex);
    if (!running && (stopping || failed || !start())) {
        failed = !stopping;
        pthread_mutex_unlock(&mutex);
        return 0;
    }
    bool changed = !armed || count != watchedCount;
    for (int i = 0; i < count && !changed; i++)
        changed = fds[i] != watched[i];
    if (changed) {
        for (int i = 0; i < count; i++)
            watched[i] = fds[i];
        watchedCount = count;
        armed = true;
        poke();
    }
    const bool on = running;
    pthread_mutex_unlock(&mutex);
    return on;
}

int x11InputWatchFired(void)
{
    return fired.load(std::memory_order_acquire);
}

void x11SetInputWatchFastTick(int on)
{
    if (fastTick.exchange(on ? 1 : 0, std::memory_order_relaxed) != (on ? 1 : 0))
        pokeIfRunning();
}

void x11InputWatchScriptWaits(int waits)
{
    scriptWaits.store(waits);
    // A watch asleep since the wait began ticks again.
    if (!waits && asleep.load())
        pokeIfRunning();
}

void x11StopInputWatch(void)
{
    pthread_mutex_lock(&mutex);
    stopping = true;
    const bool join = running;
    if (join)
        poke();
    running = false;
    pthread_mutex_unlock(&mutex);
    if (join) {
        pthread_join(thread, nullptr);
        close(control[0]);
        close(control[1]);
        control[0] = control[1] = -1;
    }
    // The sockets it watched are closed: a later arm watches afresh.
    pthread_mutex_lock(&mutex);
    stopping = armed = false;
    watchedCount = 0;
    fired.store(0, std::memory_order_relaxed);
    pthread_mutex_unlock(&mutex);
}

} // extern "C"
