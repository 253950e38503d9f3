// The socket layer: BSD sockets with a time-out record, the program's own
// result convention and the texts of every network error.
#pragma once
#include <cstddef>
#include <cstdint>
#include <sys/socket.h>

struct lua_State;

// Results besides 0 and a positive errno.
enum : int {
    QX_SOCK_TIMEOUT = -1,
    QX_SOCK_CLOSED = -2,
    QX_SOCK_HOSTFAIL = -3,
};

enum : int { QX_SOCK_BUFSIZE = 8192 };

// Waits in seconds; a negative value means no limit.
struct qxTimeout {
    double block;
    double total;
    double start;
};

struct qxSocket;
typedef int (*qxSockSendFn)(qxSocket *s, const void *bytes, size_t length, size_t *sent, qxTimeout *t);
typedef int (*qxSockRecvFn)(qxSocket *s, void *buffer, size_t length, size_t *received, qxTimeout *t);
typedef const char *(*qxSockErrorFn)(int code);

struct qxTransport {
    qxSocket *context;
    qxSockSendFn send;
    qxSockRecvFn recv;
    qxSockErrorFn errorText;
};

struct qxRecvBuffer {
    size_t first; // read position
    size_t last;  // end position
    uint8_t data[QX_SOCK_BUFSIZE];
    qxTransport *transport;
    qxTimeout *timeout;
};

struct qxSocket {
    int fd; // -1: none
    qxTransport transport;
    qxRecvBuffer buffer;
    qxTimeout timeout;
    double lastActivity;
    uint32_t family; // 0, AF_INET or AF_INET6
};

extern "C" {
// Seconds of a monotonic clock.
double qxNetNow(void);
// What is left to wait of a record; negative: no limit.
double qxTimeoutRemaining(const qxTimeout *t, double now);

int qxSocketInit(void);
int qxSocketClose(void);
// A new record without descriptor, no time limit, the inbuilt transport.
void qxSocketSetup(qxSocket *s);
int qxSocketCreate(qxSocket *s, int family, int type, int protocol);
void qxSocketDestroy(qxSocket *s);
int qxSocketSetBlocking(qxSocket *s);
int qxSocketSetNonBlocking(qxSocket *s);
int qxSocketBind(qxSocket *s, const sockaddr *address, socklen_t length);
int qxSocketListen(qxSocket *s, int backlog);
// Non-blocking connect that keeps polling the runtime's events; *status is
// the poll's error when the poll ended it. timeoutMs 0: no limit.
int qxSocketConnectPolled(lua_State *L, qxSocket *s, const sockaddr *address, socklen_t length,
                          int64_t timeoutMs, int *status);
int qxSocketAccept(qxSocket *s, int *fd, sockaddr *address, socklen_t *length, qxTimeout *t);
int qxSocketSend(qxSocket *s, const void *bytes, size_t length, size_t *sent, qxTimeout *t);
int qxSocketSendTo(qxSocket *s, const void *bytes, size_t length, size_t *sent, const sockaddr *address,
                   socklen_t addressLength, qxTimeout *t);
int qxSocketRecv(qxSocket *s, void *buffer, size_t length, size_t *received, qxTimeout *t);
int qxSocketRecvFrom(qxSocket *s, void *buffer, size_t length, size_t *received, sockaddr *address,
                     socklen_t *addressLength, qxTimeout *t);
int qxSocketPeek(qxSocket *s, qxTimeout *t, int datagram);
// what: 1 read, 2 write, 3 both.
int qxSocketWait(qxSocket *s, int what, qxTimeout *t);

struct hostent;
int qxHostByName(const char *name, hostent **entry);
int qxHostByAddr(const void *address, socklen_t length, hostent **entry);

const char *qxSocketErrorText(int code);
const char *qxHostErrorText(int code);
const char *qxResolverErrorText(int code);
// The first non-loopback interface's hardware address; text unchanged when
// none qualifies.
void qxGetMACAddress(char *text, size_t size);
}
