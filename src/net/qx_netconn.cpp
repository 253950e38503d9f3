// Connections on the program's own sockets or through network adapter
// plug-ins: opening, sending and receiving with the network time-out.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <strings.h>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/plugins/qx_plugins.h"
#include "core/vm/lauxlib.h"
#include "net/qx_net.h"
#include "net/qx_netadapter.h"
#include "net/qx_netpoll.h"
#include "platform/qx_memory.h"

namespace {

bool initialised = false;

// Resolver results freed on every path.
struct AddrList {
    addrinfo *head = nullptr;
    ~AddrList()
    {
        if (head) freeaddrinfo(head);
    }
};

int familyOf(int protocol)
{
    return protocol == QX_IPV4 ? AF_INET : protocol == QX_IPV6 ? AF_INET6 : 0;
}

int openAdapter(const char *host, int port, const char *list, int ssl, qxConnection *c, bool *tried)
{
    qxSelectAdapters(list, QX_CAP_NETWORKADAPTER);
    bool named = list && *list && strcasecmp(list, "default") != 0;
    for (qxPluginNode *n = qxPluginList; n; n = n->next) {
        if (!n->handle || !(n->capabilities & QX_CAP_NETWORKADAPTER)) continue;
        qxPluginInfo *info = n->handle->info;
        if (!info || info->disabled || !info->entry[QX_EP_OpenConnection]) continue;
        if (!qxLoaderAllowed(list, info->name, 1)) continue;
        if (info->explicitOnly && (!named || !qxLoaderListAdmits(list, info->name))) continue;
        *tried = true;
        uint64_t tags[] = {1, static_cast<uint64_t>(ssl != 0), 2, static_cast<uint64_t>(qxNetTimeoutMs), 0, 0};
        void *h = reinterpret_cast<qxNetOpenConnFn>(info->entry[QX_EP_OpenConnection])(host, port, tags);
        if (!h) continue;
        c->buffer = static_cast<qxAdapterBuffer *>(qxAlloc(sizeof(qxAdapterBuffer), 1));
        if (!c->buffer) {
            reinterpret_cast<qxNetCloseConnFn>(info->entry[QX_EP_CloseConnection])(h);
            return ERR_MEM;
        }
        c->adapter = info;
        c->handle = h;
        return 0;
    }
    return -1;
}

int openInbuilt(lua_State *L, const char *host, int port, int protocol, qxSocket *s)
{
    double start = qxNetNow();
    int family = familyOf(protocol);
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    char service[16];
    std::snprintf(service, sizeof service, "%d", port);
    AddrList list;
    int r = getaddrinfo(host, service, &hints, &list.head);
    if (r != 0) return qxNetError(qxResolverErrorText(r));
    int last = QX_SOCK_CLOSED;
    for (addrinfo *a = list.head; a; a = a->ai_next) {
        if (s->fd < 0 || static_cast<int>(s->family) != a->ai_family) {
            qxSocketDestroy(s);
            if ((last = qxSocketCreate(s, a->ai_family, SOCK_STREAM, 0)) != 0) continue;
            qxSocketSetNonBlocking(s);
        }
        int64_t left = 0;
        if (qxNetTimeoutMs > 0) {
            left = qxNetTimeoutMs - static_cast<int64_t>((qxNetNow() - start) * 1000.0);
            if (left <= 0) {
                last = QX_SOCK_TIMEOUT;
                break;
            }
        }
        int status = 0;
        last = qxSocketConnectPolled(L, s, a->ai_addr, a->ai_addrlen, left, &status);
        if (status) return status;
        if (last == 0) {
            s->timeout = {0, 0, qxNetNow()};
            return 0;
        }
        // A refused address does not end the walk: the next may answer.
        qxSocketDestroy(s);
        if (last == QX_SOCK_TIMEOUT) break;
    }
    return qxNetError(qxSocketErrorText(last));
}

int adapterRecv(qxConnection *c, void *buffer, size_t size, size_t *got)
{
    int count = 0;
    int r = reinterpret_cast<qxNetRecvFn>(c->adapter->entry[QX_EP_ReceiveData])(
        c->handle, buffer, static_cast<int>(size), &count, nullptr);
    *got = count > 0 ? static_cast<size_t>(count) : 0;
    if (r == ERR_RECVTIMEOUT) return QX_SOCK_TIMEOUT;
    if (r == ERR_RECVCLOSED) return QX_SOCK_CLOSED;
    if (r == 0 && *got == 0) return QX_SOCK_TIMEOUT;
    c->error = r;
    return r;
}

// Makes bytes available in the connection's buffer: 0, -1 none yet, -2
// closed, an errno, or an adapter code (c->error).
int fill(qxConnection *c, const uint8_t **data, size_t *avail)
{
    size_t *first, *last;
    uint8_t *bytes;
    if (c->adapter) {
        first = &c->buffer->first;
        last = &c->buffer->last;
        bytes = c->buffer->data;
    } else {
        auto *s = static_cast<qxSocket *>(c->handle);
        first = &s->buffer.first;
        last = &s->buffer.last;
        bytes = s->buffer.data;
    }
    if (*first >= *last) {
        *first = *last = 0;
        size_t got = 0;
        int r;
        if (c->adapter) {
            r = adapterRecv(c, bytes, QX_SOCK_BUFSIZE, &got);
        } else {
            auto *s = static_cast<qxSocket *>(c->handle);
            r = qxSocketRecv(s, bytes, QX_SOCK_BUFSIZE, &got, &s->timeout);
        }
        if (r != 0) return r;
        *last = got;
    }
    *data = bytes + *first;
    *avail = *last - *first;
    return 0;
}

void consume(qxConnection *c, size_t n)
{
    if (c->adapter) c->buffer->first += n;
    else static_cast<qxSocket *>(c->handle)->buffer.first += n;
}

int connFd(qxConnection *c)
{
    return c->adapter ? -1 : static_cast<qxSocket *>(c->handle)->fd;
}

int runProgress(lua_State *L, qxNetProgress *p)
{
    if (!p || !p->function) return 0;
    lua_pushvalue(L, p->function);
    lua_newtable(L);
    qxSetFieldNum(L, "action", p->action);
    qxSetFieldNum(L, "count", static_cast<double>(p->done));
    qxSetFieldNum(L, "total", static_cast<double>(p->total));
    if (p->userdata) {
        lua_pushstring(L, "userdata");
        lua_pushvalue(L, p->userdata);
        lua_settable(L, -3);
    }
    qxSetTag(QX_TAG_CALLBACKNEST, 1);
    int status = lua_pcall(L, 1, 1, 0);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    if (status) return status;
    if (lua_isnumber(L, -1) && lua_tonumber(L, -1) == 1) p->stopped = 1;
    lua_pop(L, 1);
    return 0;
}

int runReceiveCallback(lua_State *L, qxNetSink *sink, const uint8_t *data, size_t n)
{
    lua_pushvalue(L, sink->callback);
    lua_newtable(L);
    qxSetFieldNum(L, "action", 0);
    qxSetFieldNum(L, "size", static_cast<double>(n));
    qxSetFieldNum(L, "total", static_cast<double>(sink->total));
    lua_pushstring(L, "data");
    lua_pushlstring(L, reinterpret_cast<const char *>(data), n);
    lua_settable(L, -3);
    if (sink->userdata) {
        lua_pushstring(L, "userdata");
        lua_pushvalue(L, sink->userdata);
        lua_settable(L, -3);
    }
    qxSetTag(QX_TAG_CALLBACKNEST, 1);
    int status = lua_pcall(L, 1, 1, 0);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    if (status) return status;
    bool stop = lua_isnumber(L, -1) && lua_tonumber(L, -1) == 1;
    lua_pop(L, 1);
    return stop ? ERR_USERABORT : 0;
}

int deliver(lua_State *L, qxNetSink *sink, const uint8_t *data, size_t n)
{
    sink->total += n;
    if (sink->callback) return runReceiveCallback(L, sink, data, n);
    if (sink->file) return qxWrite(sink->file, data, static_cast<int64_t>(n)) == static_cast<int64_t>(n) ? 0 : ERR_WRITE;
    if (sink->memory) {
        try {
            sink->memory->append(reinterpret_cast<const char *>(data), n);
        } catch (...) {
            return ERR_MEM;
        }
    }
    return 0;
}

// Large transfers into memory skip the connection buffer: the socket
// writes straight into the destination, in big pieces. 0 when bytes came,
// 1 when this path does not apply, else the socket's result.
int receiveDirect(lua_State *L, qxConnection *c, int mode, uint64_t count, qxNetSink *sink, uint64_t *got)
{
    constexpr size_t kPiece = 256 * 1024;
    if (c->adapter || !sink->memory || sink->callback || mode == QX_RECEIVELINE) return 1;
    auto *s = static_cast<qxSocket *>(c->handle);
    if (s->buffer.first < s->buffer.last) return 1;
    uint64_t want = mode == QX_RECEIVEBYTES ? count - *got : kPiece;
    if (want < QX_SOCK_BUFSIZE) return 1;
    size_t n = want < kPiece ? static_cast<size_t>(want) : kPiece;
    std::string &m = *sink->memory;
    size_t old = m.size();
    try {
        m.resize(old + n);
    } catch (...) {
        return ERR_MEM;
    }
    size_t received = 0;
    int r = qxSocketRecv(s, m.data() + old, n, &received, &s->timeout);
    m.resize(old + received);
    if (r != 0) return r;
    sink->total += received;
    *got += received;
    if (c->progress) {
        c->progress->done += received;
        if (int e = runProgress(L, c->progress)) return e;
    }
    return 0;
}

} // namespace

extern "C" {

int qxNetDefaultProtocol = QX_IPV4;
int64_t qxNetTimeoutMs = 10000;

int qxNetInitSockets(void)
{
    if (!initialised) initialised = qxSocketInit() != 0;
    return initialised ? 0 : ERR_OPENSOCKET;
}

int qxNetFamilyToProtocol(int family)
{
    return family == 0 ? QX_IPAUTO : family == AF_INET ? QX_IPV4 : family == AF_INET6 ? QX_IPV6 : QX_IPUNKNOWN;
}

int qxNetError(const char *text)
{
    qxSetErrorString(text);
    return ERR_SOCKET;
}

int qxNetOpenConnection(lua_State *L, const char *host, int port, int protocol, const char *adapterList,
                        int ssl, qxConnection **out)
{
    *out = nullptr;
    auto *c = static_cast<qxConnection *>(qxAlloc(sizeof(qxConnection), 1));
    if (!c) return ERR_MEM;
    bool tried = false;
    int r = openAdapter(host, port, adapterList, ssl, c, &tried);
    if (r == 0) {
        *out = c;
        return 0;
    }
    if (r > 0) {
        qxFree(c);
        return r;
    }
    if (!qxLoaderAllowed(adapterList, "inbuilt", 0)) {
        qxFree(c);
        return qxNetError("connection refused");
    }
    auto *s = static_cast<qxSocket *>(qxAlloc(sizeof(qxSocket), 1));
    if (!s) {
        qxFree(c);
        return ERR_MEM;
    }
    qxSocketSetup(s);
    if (int f = familyOf(protocol)) {
        if (int e = qxSocketCreate(s, f, SOCK_STREAM, 0)) {
            qxFree(s);
            qxFree(c);
            return qxNetError(qxSocketErrorText(e));
        }
        qxSocketSetNonBlocking(s);
    }
    r = openInbuilt(L, host, port, protocol, s);
    if (r != 0) {
        qxSocketDestroy(s);
        qxFree(s);
        qxFree(c);
        return r;
    }
    c->handle = s;
    *out = c;
    return 0;
}

void qxFreeConnection(qxConnection *c)
{
    if (!c) return;
    if (c->adapter) {
        reinterpret_cast<qxNetCloseConnFn>(c->adapter->entry[QX_EP_CloseConnection])(c->handle);
        qxFree(c->buffer);
    } else if (c->handle) {
        qxSocketDestroy(static_cast<qxSocket *>(c->handle));
        qxFree(c->handle);
    }
    qxFree(c);
}

int qxNetSendAll(lua_State *L, qxConnection *c, const void *bytes, size_t length, size_t *sent, int *error)
{
    *sent = 0;
    *error = 0;
    const auto *p = static_cast<const uint8_t *>(bytes);
    double last = qxNetNow();
    while (*sent < length) {
        if (qxNetPoll(L, error)) return *error;
        size_t piece = std::min<size_t>(length - *sent, QX_SOCK_BUFSIZE);
        size_t moved = 0;
        int r;
        if (c->adapter) {
            int count = 0;
            int a = reinterpret_cast<qxNetSendFn>(c->adapter->entry[QX_EP_SendData])(
                c->handle, p + *sent, static_cast<int>(piece), &count, nullptr);
            moved = count > 0 ? static_cast<size_t>(count) : 0;
            if (moved > piece) moved = piece;
            r = a == 0 ? 0 : a == ERR_SENDTIMEOUT ? QX_SOCK_TIMEOUT : a;
            if (r > 0) c->error = a;
        } else {
            auto *s = static_cast<qxSocket *>(c->handle);
            r = qxSocketSend(s, p + *sent, piece, &moved, &s->timeout);
        }
        if (moved > 0) {
            *sent += moved;
            last = qxNetNow();
            if (c->progress) {
                c->progress->done += moved;
                if (int e = runProgress(L, c->progress)) return *error = e;
                if (c->progress->stopped) return 0;
            }
            continue;
        }
        if (r != 0 && r != QX_SOCK_TIMEOUT) return *error = r;
        if (qxNetTimeoutMs > 0 && (qxNetNow() - last) * 1000.0 >= static_cast<double>(qxNetTimeoutMs)) {
            *error = QX_SOCK_TIMEOUT;
            return *error;
        }
        qxNetIdle(connFd(c), 2, 1);
    }
    return 0;
}

int qxNetSendChecked(lua_State *L, qxConnection *c, const void *bytes, size_t length)
{
    size_t sent = 0;
    int error = 0;
    qxNetSendAll(L, c, bytes, length, &sent, &error);
    if (error == ERR_USERABORT) return ERR_USERABORT;
    if (error >= 1000) return error;
    if (c->adapter && c->error) return c->error;
    if (error > 0 || error == QX_SOCK_CLOSED) return qxNetError(qxSocketErrorText(error));
    if (sent < length && !(c->progress && c->progress->stopped)) return ERR_SENDDATA;
    return 0;
}

int qxNetReceive(lua_State *L, qxConnection *c, int mode, uint64_t count, int wait, size_t maxLine,
                 qxNetSink *sink, uint64_t *got, int *done)
{
    *got = 0;
    *done = 0;
    double last = qxNetNow();
    size_t lineBytes = 0;
    for (;;) {
        int pollError = 0;
        if (qxNetPoll(L, &pollError)) return pollError;
        if (int direct = receiveDirect(L, c, mode, count, sink, got); direct != 1) {
            if (direct == 0) {
                last = qxNetNow();
                if (mode == QX_RECEIVEBYTES && *got >= count) {
                    *done = 1;
                    return 0;
                }
                if (c->progress && c->progress->stopped) return 0;
                continue;
            }
            if (direct != QX_SOCK_TIMEOUT && direct != QX_SOCK_CLOSED) return direct;
        }
        const uint8_t *data = nullptr;
        size_t avail = 0;
        int r = fill(c, &data, &avail);
        if (r == 0 && avail > 0) {
            size_t take = avail;
            size_t drop = 0; // bytes consumed but not delivered
            bool finished = false;
            if (mode == QX_RECEIVEBYTES && take > count - *got) take = static_cast<size_t>(count - *got);
            if (mode == QX_RECEIVELINE) {
                const void *lf = std::memchr(data, '\n', avail);
                if (lf) {
                    take = static_cast<size_t>(static_cast<const uint8_t *>(lf) - data);
                    drop = 1;
                    finished = true;
                }
                if (maxLine && lineBytes + take > maxLine) return QX_NET_LINETOOLONG;
                lineBytes += take + drop;
                // Carriage returns are dropped from lines.
                size_t start = 0;
                for (size_t i = 0; i <= take; i++) {
                    if (i == take || data[i] == '\r') {
                        if (i > start) {
                            if (int e = deliver(L, sink, data + start, i - start)) return e;
                            *got += i - start;
                        }
                        start = i + 1;
                    }
                }
                consume(c, take + drop);
            } else {
                if (int e = deliver(L, sink, data, take)) {
                    consume(c, take);
                    return e;
                }
                consume(c, take);
                *got += take;
                if (mode == QX_RECEIVEBYTES && *got >= count) finished = true;
            }
            last = qxNetNow();
            if (c->progress) {
                c->progress->done += take;
                if (int e = runProgress(L, c->progress)) return e;
                if (c->progress->stopped) return 0;
            }
            if (finished) {
                *done = 1;
                return 0;
            }
            continue;
        }
        if (r == QX_SOCK_CLOSED) {
            if (mode == QX_RECEIVEALL && *got > 0) *done = 1;
            return ERR_RECVCLOSED;
        }
        if (r != 0 && r != QX_SOCK_TIMEOUT) {
            if (c->adapter) return r;
            return qxNetError(qxSocketErrorText(r));
        }
        if (!wait) return ERR_RECVTIMEOUT;
        if (qxNetTimeoutMs > 0 && (qxNetNow() - last) * 1000.0 >= static_cast<double>(qxNetTimeoutMs))
            return ERR_RECVTIMEOUT;
        // Data wakes this wait at once; a 1 ms sleep would cost a millisecond a round trip.
        qxNetIdle(connFd(c), 1, 1);
    }
}

} // extern "C"
