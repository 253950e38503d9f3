#include "platform/qx_wakepipe.h"
#include "platform/qx_upcalls.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

extern "C" {

int qxWakePipeRead = -1;
int qxWakePipeWrite = -1;

// Raised after every write, so that a poll can tell without a system call
// that the pipe may hold messages. Lock-free, hence usable in a signal
// handler.
static std::atomic<int> wakeSent{0};

int qxCreateWakePipe(void)
{
    if (qxWakePipeRead >= 0)
        return 1;
    int fds[2];
    if (pipe(fds) != 0)
        return 0;
    for (int fd : fds) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC); // external programs must not inherit it
    }
    qxWakePipeRead = fds[0];
    qxWakePipeWrite = fds[1];
    return 1;
}

void qxSendWakeMessage(uint64_t type, uint64_t data)
{
    int fd = qxWakePipeWrite;
    if (fd < 0)
        return;
    int savedErrno = errno; // may run inside a signal handler
    qxWakeMessage message{type, data};
    // 16 bytes are below PIPE_BUF: the write is whole or fails.
    ssize_t written = write(fd, &message, sizeof message);
    (void)written;
    // After the write: a reader that clears the flag and then drains the
    // pipe either reads this message or sees the flag again.
    wakeSent.store(1, std::memory_order_release);
    if (qxUpcalls.requestPoll)
        qxUpcalls.requestPoll();
    errno = savedErrno;
}

int qxWakeMessageSent(void)
{
    return wakeSent.load(std::memory_order_acquire);
}

void qxClearWakeMessageSent(void)
{
    wakeSent.store(0, std::memory_order_release);
}

int qxReadWakeMessage(qxWakeMessage *message)
{
    if (qxWakePipeRead < 0)
        return 0;
    ssize_t n;
    do
        n = read(qxWakePipeRead, message, sizeof *message);
    while (n < 0 && errno == EINTR);
    return n == (ssize_t)sizeof *message;
}

int qxWaitWakePipe(int timeoutMs)
{
    if (qxWakePipeRead < 0)
        return 0;
    // A signal (often the very timer that writes into the pipe) interrupts
    // the wait: wait again for the rest of the time.
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        int left = timeoutMs;
        if (timeoutMs > 0) {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            long spent = (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
            left = spent >= timeoutMs ? 0 : (int)(timeoutMs - spent);
        }
        pollfd p{qxWakePipeRead, POLLIN, 0};
        int r = poll(&p, 1, left);
        if (r > 0)
            return (p.revents & POLLIN) != 0;
        if (r == 0 || errno != EINTR)
            return 0;
    }
}
}
