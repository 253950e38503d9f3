// BSD sockets under the program's result convention: 0, -1 time-out,
// -2 closed, else an errno.
#include "net/qx_socket.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

#include "net/qx_netpoll.h"

namespace {

int sockSend(qxSocket *s, const void *b, size_t n, size_t *sent, qxTimeout *t)
{
    return qxSocketSend(s, b, n, sent, t);
}

int sockRecv(qxSocket *s, void *b, size_t n, size_t *got, qxTimeout *t)
{
    return qxSocketRecv(s, b, n, got, t);
}

// The shared retry loop: call() returns the count or -1 with errno set.
template <typename Call>
int ioLoop(qxSocket *s, int waitWhat, qxTimeout *t, bool zeroIsClosed, bool isSend, bool isAccept, Call call,
           size_t *count)
{
    if (count) *count = 0;
    if (!s || s->fd < 0) return QX_SOCK_CLOSED;
    for (;;) {
        ssize_t r = call();
        if (r > 0 || (r == 0 && !zeroIsClosed)) {
            if (count) *count = static_cast<size_t>(r);
            return 0;
        }
        if (r == 0) return QX_SOCK_CLOSED;
        int e = errno;
        if (e == EINTR || (isSend && e == EPROTOTYPE)) continue;
        if (isSend && e == EPIPE) return QX_SOCK_CLOSED;
        if (e == EAGAIN || e == EWOULDBLOCK || (isAccept && e == ECONNABORTED)) {
            if (s->fd >= FD_SETSIZE) return EINVAL;
            if (t && t->block == 0) return QX_SOCK_TIMEOUT;
            int w = qxSocketWait(s, waitWhat, t);
            if (w != 0) return w;
            continue;
        }
        return e;
    }
}

char textBuffer[256];

} // namespace

extern "C" {

double qxNetNow(void)
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double qxTimeoutRemaining(const qxTimeout *t, double now)
{
    double elapsed = now - t->start;
    if (t->block < 0 && t->total < 0) return -1;
    if (t->block < 0) return t->total - elapsed > 0 ? t->total - elapsed : 0;
    if (t->total < 0) return t->block - elapsed > 0 ? t->block - elapsed : 0;
    double left = t->total - elapsed;
    if (left <= 0) return 0;
    return t->block < left ? t->block : left;
}

int qxSocketInit(void)
{
    signal(SIGPIPE, SIG_IGN);
    return 1;
}

int qxSocketClose(void)
{
    return 1;
}

void qxSocketSetup(qxSocket *s)
{
    std::memset(s, 0, sizeof *s);
    s->fd = -1;
    s->transport = {s, sockSend, sockRecv, qxSocketErrorText};
    s->buffer.transport = &s->transport;
    s->buffer.timeout = &s->timeout;
    s->timeout = {-1, -1, qxNetNow()};
    s->lastActivity = qxNetNow();
}

int qxSocketCreate(qxSocket *s, int family, int type, int protocol)
{
    int fd = socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) return errno;
    if (family == AF_INET6) {
        int one = 1;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    }
    s->fd = fd;
    s->family = static_cast<uint32_t>(family);
    return 0;
}

void qxSocketDestroy(qxSocket *s)
{
    if (s->fd >= 0) close(s->fd);
    s->fd = -1;
}

int qxSocketSetBlocking(qxSocket *s)
{
    int flags = fcntl(s->fd, F_GETFL, 0);
    if (flags < 0 || fcntl(s->fd, F_SETFL, flags & ~O_NONBLOCK) < 0) return errno;
    return 0;
}

int qxSocketSetNonBlocking(qxSocket *s)
{
    int flags = fcntl(s->fd, F_GETFL, 0);
    if (flags < 0 || fcntl(s->fd, F_SETFL, flags | O_NONBLOCK) < 0) return errno;
    return 0;
}

int qxSocketBind(qxSocket *s, const sockaddr *address, socklen_t length)
{
    qxSocketSetBlocking(s);
    int r = bind(s->fd, address, length) == 0 ? 0 : errno;
    qxSocketSetNonBlocking(s);
    return r;
}

int qxSocketListen(qxSocket *s, int backlog)
{
    return listen(s->fd, backlog) == 0 ? 0 : errno;
}

int qxSocketWait(qxSocket *s, int what, qxTimeout *t)
{
    if (s->fd < 0) return QX_SOCK_CLOSED;
    if (s->fd >= FD_SETSIZE) return EINVAL;
    for (;;) {
        fd_set rd, wr;
        FD_ZERO(&rd);
        FD_ZERO(&wr);
        if (what & 1) FD_SET(s->fd, &rd);
        if (what & 2) FD_SET(s->fd, &wr);
        double left = t ? qxTimeoutRemaining(t, qxNetNow()) : -1;
        timeval tv{}, *ptv = nullptr;
        if (left >= 0) {
            tv.tv_sec = static_cast<time_t>(left);
            tv.tv_usec = static_cast<suseconds_t>((left - static_cast<double>(tv.tv_sec)) * 1e6);
            ptv = &tv;
        }
        int r = select(s->fd + 1, (what & 1) ? &rd : nullptr, (what & 2) ? &wr : nullptr, nullptr, ptv);
        if (r < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (r == 0) return QX_SOCK_TIMEOUT;
        if (what == 3 && FD_ISSET(s->fd, &rd)) return QX_SOCK_CLOSED;
        return 0;
    }
}

int qxSocketConnectPolled(lua_State *L, qxSocket *s, const sockaddr *address, socklen_t length,
                          int64_t timeoutMs, int *status)
{
    *status = 0;
    if (s->fd < 0) return QX_SOCK_CLOSED;
    if (s->fd >= FD_SETSIZE) return EINVAL;
    for (;;) {
        if (connect(s->fd, address, length) == 0) return 0;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EINPROGRESS) return errno;
        break;
    }
    double start = qxNetNow();
    for (;;) {
        if (qxNetPoll(L, status)) return QX_SOCK_TIMEOUT;
        fd_set rd, wr;
        FD_ZERO(&rd);
        FD_ZERO(&wr);
        FD_SET(s->fd, &rd);
        FD_SET(s->fd, &wr);
        timeval tv{0, 10000};
        int r = select(s->fd + 1, &rd, &wr, nullptr, &tv);
        if (r < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (r == 0) {
            // A limit of 0 waits until the connect ends or the user quits.
            if (timeoutMs > 0 && (qxNetNow() - start) * 1000.0 >= static_cast<double>(timeoutMs))
                return QX_SOCK_TIMEOUT;
            continue;
        }
        // Readability alone says nothing on Linux: the pending error does.
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(s->fd, SOL_SOCKET, SO_ERROR, &error, &len) < 0) return errno;
        return error;
    }
}

int qxSocketAccept(qxSocket *s, int *fd, sockaddr *address, socklen_t *length, qxTimeout *t)
{
    *fd = -1;
    return ioLoop(s, 1, t, false, false, true, [&]() -> ssize_t {
        int r = accept4(s->fd, address, length, SOCK_CLOEXEC);
        if (r >= 0) {
            *fd = r;
            return 1;
        }
        return -1;
    }, nullptr);
}

int qxSocketSend(qxSocket *s, const void *bytes, size_t length, size_t *sent, qxTimeout *t)
{
    return ioLoop(s, 2, t, false, true, false,
                  [&] { return send(s->fd, bytes, length, MSG_NOSIGNAL); }, sent);
}

int qxSocketSendTo(qxSocket *s, const void *bytes, size_t length, size_t *sent, const sockaddr *address,
                   socklen_t addressLength, qxTimeout *t)
{
    return ioLoop(s, 2, t, false, true, false,
                  [&] { return sendto(s->fd, bytes, length, MSG_NOSIGNAL, address, addressLength); }, sent);
}

int qxSocketRecv(qxSocket *s, void *buffer, size_t length, size_t *received, qxTimeout *t)
{
    return ioLoop(s, 1, t, true, false, false, [&] { return recv(s->fd, buffer, length, 0); }, received);
}

int qxSocketRecvFrom(qxSocket *s, void *buffer, size_t length, size_t *received, sockaddr *address,
                     socklen_t *addressLength, qxTimeout *t)
{
    // An empty datagram is a datagram, not a close.
    return ioLoop(s, 1, t, false, false, false,
                  [&] { return recvfrom(s->fd, buffer, length, 0, address, addressLength); }, received);
}

int qxSocketPeek(qxSocket *s, qxTimeout *t, int datagram)
{
    char byte;
    if (datagram)
        return ioLoop(s, 1, t, false, false, false,
                      [&] { return recvfrom(s->fd, &byte, 1, MSG_PEEK | MSG_TRUNC, nullptr, nullptr); }, nullptr);
    return ioLoop(s, 1, t, true, false, false, [&] { return recv(s->fd, &byte, 1, MSG_PEEK); }, nullptr);
}

int qxHostByName(const char *name, hostent **entry)
{
    *entry = gethostbyname(name);
    if (*entry) return 0;
    if (h_errno) return h_errno;
    return errno ? errno : QX_SOCK_HOSTFAIL;
}

int qxHostByAddr(const void *address, socklen_t length, hostent **entry)
{
    *entry = gethostbyaddr(address, length, AF_INET);
    if (*entry) return 0;
    if (h_errno) return h_errno;
    return errno ? errno : QX_SOCK_HOSTFAIL;
}

const char *qxSocketErrorText(int code)
{
    if (code == QX_SOCK_TIMEOUT) return "timeout";
    if (code == QX_SOCK_CLOSED) return "closed";
    if (code < 1) return "unknown error";
    return strerror(code);
}

const char *qxHostErrorText(int code)
{
    if (code == QX_SOCK_TIMEOUT) return "timeout";
    if (code == QX_SOCK_CLOSED) return "closed";
    if (code < 1) return "unknown error";
    return hstrerror(code);
}

const char *qxResolverErrorText(int code)
{
    switch (code) {
    case 0: return "";
    case EAI_OVERFLOW: return "argument buffer overflow";
    case EAI_SYSTEM:
        std::snprintf(textBuffer, sizeof textBuffer, "%s", strerror(errno));
        return textBuffer;
    case EAI_MEMORY: return "memory allocation failure";
    case EAI_SERVICE: return "service not supported for socket type";
    case EAI_SOCKTYPE: return "ai_socktype not supported";
    case EAI_FAMILY: return "ai_family not supported";
    case EAI_FAIL: return "non-recoverable failure in name resolution";
    case EAI_AGAIN: return "temporary failure in name resolution";
    case EAI_NONAME: return "host or service not provided, or not known";
    case EAI_BADFLAGS: return "invalid value for ai_flags";
    default: return gai_strerror(code);
    }
}

void qxGetMACAddress(char *text, size_t size)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    char buffer[1024];
    ifconf conf{};
    conf.ifc_len = sizeof buffer;
    conf.ifc_buf = buffer;
    if (ioctl(fd, SIOCGIFCONF, &conf) == 0) {
        size_t count = static_cast<size_t>(conf.ifc_len) / sizeof(ifreq);
        for (size_t i = 0; i < count; i++) {
            ifreq req{};
            std::memcpy(&req, buffer + i * sizeof(ifreq), sizeof req);
            if (ioctl(fd, SIOCGIFFLAGS, &req) != 0 || (req.ifr_flags & IFF_LOOPBACK)) continue;
            if (ioctl(fd, SIOCGIFHWADDR, &req) != 0) continue;
            auto *a = reinterpret_cast<unsigned char *>(req.ifr_hwaddr.sa_data);
            std::snprintf(text, size, "%02X:%02X:%02X:%02X:%02X:%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
            break;
        }
    }
    close(fd);
}

} // extern "C"
