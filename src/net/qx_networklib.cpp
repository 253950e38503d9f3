// The "network" command library: connections, servers and UDP objects.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <string>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "net/qx_net.h"
#include "net/qx_netlibs.h"
#include "platform/qx_memory.h"

namespace {

enum { CONNECTIONS = 0, SERVERS = 1, UDPS = 2 };

bool listsRegistered = false;


int finishCreate(lua_State *L, int list, uint32_t number, int automatic, void *record)
{
    qxNetObjectNode *n = qxNetAppendNode(list, number, automatic, record);
    if (!n) {
        if (list == CONNECTIONS) {
            qxFreeConnection(static_cast<qxConnection *>(record));
        } else {
            qxSocketDestroy(static_cast<qxSocket *>(record));
            qxFree(record);
        }
        return ERR_MEM;
    }
    if (!automatic) return 0;
    lua_pushlightuserdata(L, n->header.automatic);
    return 1;
}

void closeNumbered(lua_State *L, int list, uint32_t number, int automatic)
{
    if (automatic) return;
    if (qxNetObjectNode *old = qxNetFindNode(list, {number, nullptr})) qxNetCloseNode(L, list, old);
}

int openConnection(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    const char *host = luaL_checkstring(L, 2);
    int port = luaL_checkint(L, 3);
    int protocol = qxNetDefaultProtocol, ssl = 0;
    char adapter[256] = "";
    if (lua_gettop(L) >= 4 && !lua_isnil(L, 4)) {
        luaL_checktable(L, 4);
        qxGetFieldInt(L, 4, "protocol", &protocol, nullptr);
        qxGetFieldInt(L, 4, "ssl", &ssl, nullptr);
        qxGetFieldStr(L, 4, "adapter", adapter, sizeof adapter, nullptr);
    }
    if (port < 1 || port > 65535) return ERR_WRONGUSAGE;
    closeNumbered(L, CONNECTIONS, number, automatic);
    qxConnection *c = nullptr;
    if (int r = qxNetOpenConnection(L, host, port, protocol, adapter, ssl, &c)) return r;
    return finishCreate(L, CONNECTIONS, number, automatic, c);
}

int closeConnection(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxNetObjectNode *n = nullptr;
    if (int r = qxNetNodeArg(L, 1, CONNECTIONS, &n)) return r;
    qxNetCloseNode(L, CONNECTIONS, n);
    return 0;
}

// A socket bound to interface and port (passive resolution); for a stream
// socket also listening. 0 or an error code.
int bindSocket(qxSocket *s, const char *interface, int port, int type, int backlog)
{
    addrinfo hints{};
    hints.ai_family = static_cast<int>(s->family);
    hints.ai_socktype = type;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    char service[16];
    std::snprintf(service, sizeof service, "%d", port);
    addrinfo *list = nullptr;
    int r = getaddrinfo(std::strcmp(interface, "*") == 0 ? nullptr : interface, service, &hints, &list);
    if (r != 0) return qxNetError(qxResolverErrorText(r));
    int last = QX_SOCK_CLOSED;
    for (addrinfo *a = list; a; a = a->ai_next) {
        if (s->fd < 0 || static_cast<int>(s->family) != a->ai_family) {
            qxSocketDestroy(s);
            if ((last = qxSocketCreate(s, a->ai_family, type, 0)) != 0) continue;
            int one = 1;
            setsockopt(s->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            qxSocketSetNonBlocking(s);
        }
        if ((last = qxSocketBind(s, a->ai_addr, a->ai_addrlen)) == 0) break;
    }
    freeaddrinfo(list);
    if (last == 0 && type == SOCK_STREAM) last = qxSocketListen(s, backlog);
    if (last != 0) return qxNetError(qxSocketErrorText(last));
    return 0;
}

qxSocket *newSocket(int protocol, int type, int *error)
{
    auto *s = static_cast<qxSocket *>(qxAlloc(sizeof(qxSocket), 1));
    if (!s) {
        *error = ERR_MEM;
        return nullptr;
    }
    qxSocketSetup(s);
    s->timeout = {0, 0, qxNetNow()};
    int family = protocol == QX_IPV4 ? AF_INET : protocol == QX_IPV6 ? AF_INET6 : 0;
    if (family) {
        if (int e = qxSocketCreate(s, family, type, 0)) {
            qxFree(s);
            *error = qxNetError(qxSocketErrorText(e));
            return nullptr;
        }
        int one = 1;
        setsockopt(s->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        qxSocketSetNonBlocking(s);
    }
    *error = 0;
    return s;
}

void freeSocket(qxSocket *s)
{
    qxSocketDestroy(s);
    qxFree(s);
}

int createServer(lua_State *L)
{
    qxCheckArgCount(L, 1, 5, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    int port = luaL_optint(L, 2, 0);
    std::string interface = luaL_optlstring(L, 3, "*", nullptr);
    int backlog = luaL_optint(L, 4, 32);
    int protocol = luaL_optint(L, 5, qxNetDefaultProtocol);
    if (port < 0 || port > 65535) return ERR_WRONGUSAGE;
    closeNumbered(L, SERVERS, number, automatic);
    if (interface == "*" && protocol != QX_IPAUTO) interface = protocol == QX_IPV6 ? "::" : "0.0.0.0";
    int error = 0;
    qxSocket *s = newSocket(protocol == QX_IPAUTO ? QX_IPAUTO : protocol, SOCK_STREAM, &error);
    if (!s) return error;
    if ((error = bindSocket(s, interface.c_str(), port, SOCK_STREAM, backlog)) != 0) {
        freeSocket(s);
        return error;
    }
    return finishCreate(L, SERVERS, number, automatic, s);
}

int closeServer(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxNetObjectNode *n = nullptr;
    if (int r = qxNetNodeArg(L, 1, SERVERS, &n)) return r;
    qxNetCloseNode(L, SERVERS, n);
    return 0;
}

int createUDPObject(lua_State *L)
{
    qxCheckArgCount(L, 1, 5, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    int port = luaL_optint(L, 2, 0);
    std::string host = luaL_optlstring(L, 3, "*", nullptr);
    int mode = luaL_optint(L, 4, QX_UDPSERVER);
    int protocol = luaL_optint(L, 5, qxNetDefaultProtocol);
    if (port < 0 || port > 65535 || mode < 0 || mode > 2) return ERR_WRONGUSAGE;
    if (mode == QX_UDPCLIENT && (host == "*" || port < 1)) return ERR_WRONGUSAGE;
    closeNumbered(L, UDPS, number, automatic);
    int error = 0;
    qxSocket *s = newSocket(protocol, SOCK_DGRAM, &error);
    if (!s) return error;
    if (mode == QX_UDPCLIENT) {
        addrinfo hints{};
        hints.ai_family = static_cast<int>(s->family);
        hints.ai_socktype = SOCK_DGRAM;
        char service[16];
        std::snprintf(service, sizeof service, "%d", port);
        addrinfo *list = nullptr;
        int r = getaddrinfo(host.c_str(), service, &hints, &list);
        if (r != 0) error = qxNetError(qxResolverErrorText(r));
        int last = QX_SOCK_CLOSED;
        for (addrinfo *a = r == 0 ? list : nullptr; a; a = a->ai_next) {
            if (s->fd < 0 || static_cast<int>(s->family) != a->ai_family) {
                qxSocketDestroy(s);
                if ((last = qxSocketCreate(s, a->ai_family, SOCK_DGRAM, 0)) != 0) continue;
                qxSocketSetNonBlocking(s);
            }
            if ((last = connect(s->fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno) == 0) break;
        }
        if (list) freeaddrinfo(list);
        if (!error && last) error = qxNetError(qxSocketErrorText(last));
    } else if (mode == QX_UDPSERVER) {
        if (host == "*" && protocol != QX_IPAUTO) host = protocol == QX_IPV6 ? "::" : "0.0.0.0";
        error = bindSocket(s, host.c_str(), port, SOCK_DGRAM, 0);
    }
    if (error) {
        freeSocket(s);
        return error;
    }
    int r = finishCreate(L, UDPS, number, automatic, s);
    if (r < 1000) {
        qxNetObjectNode *n = automatic ? static_cast<qxNetObjectNode *>(lua_touserdata(L, -1))
                                       : qxNetFindNode(UDPS, {number, nullptr});
        n->flag = static_cast<uint32_t>(mode);
    }
    return r;
}

int closeUDPObject(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxNetObjectNode *n = nullptr;
    if (int r = qxNetNodeArg(L, 1, UDPS, &n)) return r;
    qxNetCloseNode(L, UDPS, n);
    return 0;
}

int sendData(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    qxNetObjectNode *n = nullptr;
    if (int r = qxNetNodeArg(L, 1, CONNECTIONS, &n)) return r;
    size_t length = 0;
    const char *data = luaL_checklstring(L, 2, &length);
    size_t sent = 0;
    int error = 0;
    qxNetSendAll(L, static_cast<qxConnection *>(n->record), data, length, &sent, &error);
    if (error == ERR_USERABORT) return error;
    lua_pushnumber(L, static_cast<double>(sent));
    return 1;
}

int receiveData(lua_State *L)
{
    qxCheckArgCount(L, 1, 6, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    qxNetObjectNode *n = nullptr;
    if (int r = qxNetNodeArg(L, 1, CONNECTIONS, &n)) return r;
    int mode = luaL_optint(L, 2, QX_RECEIVEALL);
    if (mode < 0 || mode > 2) return ERR_WRONGUSAGE;
    double count = 0;
    int wait = 1, callbackAt = 3;
    if (mode == QX_RECEIVEBYTES) {
        count = luaL_checknumber(L, 3);
        if (!(count >= 1)) return ERR_WRONGUSAGE;
        if (count > 9007199254740992.0) return ERR_MEM;
        callbackAt = 4;
    } else if (mode == QX_RECEIVEALL) {
        wait = luaL_optint(L, 3, 1);
        callbackAt = 4;
    }
    qxNetSink sink{};
    std::string data;
    if (lua_gettop(L) >= callbackAt && !lua_isnil(L, callbackAt)) {
        luaL_checkfunction(L, callbackAt);
        sink.callback = callbackAt;
        if (lua_gettop(L) > callbackAt) sink.userdata = callbackAt + 1;
    } else {
        sink.memory = &data;
        // The script named the size; the peer cannot inflate it.
        if (mode == QX_RECEIVEBYTES) data.reserve(static_cast<size_t>(std::min(count, 16.0 * 1048576)));
    }
    uint64_t got = 0;
    int done = 0;
    int r = qxNetReceive(L, static_cast<qxConnection *>(n->record), mode, static_cast<uint64_t>(count), wait, 0,
                         &sink, &got, &done);
    if (r != 0 && r != ERR_RECVTIMEOUT && r != ERR_RECVCLOSED) return r;
    n->dataNotified = 0;
    lua_pushlstring(L, data.data(), data.size());
    lua_pushnumber(L, static_cast<double>(got));
    lua_pushnumber(L, done);
    return 3;
}

// Numeric resolution of a UDP destination.
int resolveNumeric(const char *host, int port, int family, addrinfo **list)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    char service[16];
    std::snprintf(service, sizeof service, "%d", port);
    int r = getaddrinfo(host, service, &hints, list);
    return r == 0 ? 0 : qxNetError(qxResolverErrorText(r));
}

int sendUDPData(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    qxNetObjectNode *n = nullptr;
    if (int r = qxNetNodeArg(L, 1, UDPS, &n)) return r;
    auto *s = static_cast<qxSocket *>(n->record);
    size_t length = 0;
    const char *data = luaL_checklstring(L, 2, &length);
    if (length == 0) return ERR_WRONGUSAGE;
    size_t sent = 0;
    int r;
    if (n->flag == QX_UDPCLIENT) {
        r = qxSocketSend(s, data, length, &sent, &s->timeout);
    } else {
        const char *host = luaL_checkstring(L, 3);
        int port = luaL_checkint(L, 4);
        if (port < 1 || port > 65535) return ERR_WRONGUSAGE;
        addrinfo *list = nullptr;
        if (int e = resolveNumeric(host, port, static_cast<int>(s->fd < 0 ? 0 : s->family), &list)) return e;
        if (s->fd < 0) {
            for (addrinfo *a = list; a && s->fd < 0; a = a->ai_next) {
                if (qxSocketCreate(s, a->ai_family, SOCK_DGRAM, 0) == 0) qxSocketSetNonBlocking(s);
            }
        }
        r = qxSocketSendTo(s, data, length, &sent, list->ai_addr, list->ai_addrlen, &s->timeout);
        freeaddrinfo(list);
    }
    if (r == QX_SOCK_CLOSED) return qxNetError("connection refused");
    if (r != 0 && r != QX_SOCK_TIMEOUT) return qxNetError(qxSocketErrorText(r));
    lua_pushnumber(L, static_cast<double>(sent));
    return 1;
}

int receiveUDPData(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    qxNetObjectNode *n = nullptr;
    if (int r = qxNetNodeArg(L, 1, UDPS, &n)) return r;
    auto *s = static_cast<qxSocket *>(n->record);
    int maxlen = luaL_optint(L, 2, QX_SOCK_BUFSIZE);
    if (maxlen < 1 || maxlen > QX_SOCK_BUFSIZE) maxlen = QX_SOCK_BUFSIZE;
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    size_t got = 0;
    int r = qxSocketRecvFrom(s, s->buffer.data, static_cast<size_t>(maxlen), &got, reinterpret_cast<sockaddr *>(&from),
                             &fromLength, &s->timeout);
    n->dataNotified = 0;
    if (r == QX_SOCK_TIMEOUT) {
        lua_pushstring(L, "");
        lua_pushstring(L, "");
        lua_pushnumber(L, 0);
        return 3;
    }
    if (r == QX_SOCK_CLOSED) return qxNetError("connection refused");
    if (r != 0) return qxNetError(qxSocketErrorText(r));
    char host[NI_MAXHOST], service[NI_MAXSERV];
    int e = getnameinfo(reinterpret_cast<sockaddr *>(&from), fromLength, host, sizeof host, service, sizeof service,
                        NI_NUMERICHOST | NI_NUMERICSERV);
    if (e != 0) return qxNetError(qxResolverErrorText(e));
    lua_pushlstring(L, reinterpret_cast<const char *>(s->buffer.data), got);
    lua_pushstring(L, host);
    lua_pushnumber(L, std::atoi(service));
    return 3;
}

int setNetworkTimeout(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    double ms = luaL_checknumber(L, 1);
    if (!(ms >= 0)) return ERR_WRONGUSAGE;
    // Beyond a thousand years is the same as for ever.
    qxNetTimeoutMs = ms > 3.2e13 ? 0 : static_cast<int64_t>(ms);
    return 0;
}

int setNetworkProtocol(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxNetDefaultProtocol = luaL_checkint(L, 1);
    return 0;
}

constexpr qxCommandDef networkCommands[] = {
    {"OpenConnection", openConnection},
    {"CloseConnection", closeConnection},
    {"CreateServer", createServer},
    {"CloseServer", closeServer},
    {"SendData", sendData},
    {"ReceiveData", receiveData},
    {"GetConnectionIP", qxCmdGetConnectionIP},
    {"GetConnectionPort", qxCmdGetConnectionPort},
    {"GetHostName", qxCmdGetHostName},
    {"ToIP", qxCmdToIP},
    {"ToHostName", qxCmdToHostName},
    {"DownloadFile", qxCmdDownloadFile},
    {"UploadFile", qxCmdUploadFile},
    {"SetNetworkTimeout", setNetworkTimeout},
    {"GetLocalIP", qxCmdGetLocalIP},
    {"GetLocalPort", qxCmdGetLocalPort},
    {"CreateUDPObject", createUDPObject},
    {"CloseUDPObject", closeUDPObject},
    {"SendUDPData", sendUDPData},
    {"ReceiveUDPData", receiveUDPData},
    {"IsOnline", qxCmdIsOnline},
    {"GetMACAddress", qxCmdGetMACAddress},
    {"GetConnectionProtocol", qxCmdGetConnectionProtocol},
    {"GetLocalProtocol", qxCmdGetLocalProtocol},
    {"SetNetworkProtocol", setNetworkProtocol},
    {"ResolveHostName", qxCmdResolveHostName},
    {nullptr, nullptr},
};

constexpr qxConstantDef networkConstants[] = {
    {"RECEIVEALL", nullptr, 0},        {"RECEIVEBYTES", nullptr, 1},   {"RECEIVELINE", nullptr, 2},
    {"FTPASCII", nullptr, 97},         {"FTPBINARY", nullptr, 105},    {"DOWNLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_STATUS", nullptr, 0}, {"UPLOADFILE_RESPONSE", nullptr, 1}, {"NETWORKCONNECTION", nullptr, 99},
    {"NETWORKSERVER", nullptr, 115},   {"NETWORKUDP", nullptr, 117},   {"RECEIVEDATA_PACKET", nullptr, 0},
    {"IPAUTO", nullptr, 0},            {"IPV4", nullptr, 1},           {"IPV6", nullptr, 2},
    {"IPUNKNOWN", nullptr, 3},         {"UDPSERVER", nullptr, 0},      {"UDPCLIENT", nullptr, 1},
    {"UDPNONE", nullptr, 2},           {nullptr, nullptr, 0},
};

} // namespace

extern "C" int qxOpenNetworkLib(lua_State *L)
{
    // The registry keeps the list heads for the life of the process.
    if (!listsRegistered) {
        listsRegistered = qxRegisterObjectList(&qxNetLists[SERVERS], QX_TYPE_SERVER) == 0 &&
                          qxRegisterObjectList(&qxNetLists[CONNECTIONS], QX_TYPE_CLIENT) == 0 &&
                          qxRegisterObjectList(&qxNetLists[UDPS], QX_TYPE_UDPOBJECT) == 0;
    }
    return qxOpenCommandLibraryOf<networkCommands, networkConstants>(L, "network");
}

extern "C" void qxFreeNetObjects(void)
{
    for (int list = 0; list < 3; list++)
        while (qxNetLists[list]) qxNetCloseNode(nullptr, list, qxNetLists[list]);
    qxSocketClose();
}
