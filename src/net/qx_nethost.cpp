// Host names and addresses: resolving, the addresses of network objects,
// the local host and whether the network answers.
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <unistd.h>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "net/qx_net.h"
#include "core/plugins/qx_pluginapi.h"
#include "net/qx_netadapter.h"

namespace {

// The one public web server that IsOnline asks.
constexpr const char *kOnlineHost = "www.debian.org";

enum : int { NETWORKCONNECTION = 99, NETWORKSERVER = 115, NETWORKUDP = 117 };

// The IPv4 host entry of a name or dotted address; 0 or 1410.
int lookupV4(const char *name, hostent **entry)
{
    in_addr address{};
    int r = inet_aton(name, &address) ? qxHostByAddr(&address, sizeof address, entry) : qxHostByName(name, entry);
    if (r == 0 && (*entry)->h_addrtype != AF_INET) r = QX_SOCK_HOSTFAIL;
    return r == 0 ? 0 : qxNetError(qxHostErrorText(r));
}

int resolveAll(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    int r = getaddrinfo(name, nullptr, &hints, &list);
    if (r != 0) return qxNetError(qxResolverErrorText(r));
    lua_newtable(L);
    int i = 0;
    for (addrinfo *a = list; a; a = a->ai_next, i++) {
        char text[1025];
        int e = getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
        if (e != 0) {
            freeaddrinfo(list);
            return qxNetError(qxResolverErrorText(e));
        }
        lua_newtable(L);
        qxSetFieldInt(L, "protocol", qxNetFamilyToProtocol(a->ai_family));
        qxSetFieldStr(L, "address", text);
        lua_rawseti(L, -2, i);
    }
    freeaddrinfo(list);
    return 1;
}

// What an address query asks: the local or the peer end, and which part.
enum Part { ADDRESS, PORT, PROTOCOL };

int addressQuery(lua_State *L, bool peer, Part part)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    int type = luaL_optint(L, 2, NETWORKCONNECTION);
    int list = type == NETWORKCONNECTION ? 0 : type == NETWORKSERVER ? 1 : type == NETWORKUDP ? 2 : -1;
    if (list < 0 || (peer && list == 1)) return ERR_WRONGUSAGE;
    qxNetObjectNode *n = nullptr;
    if (int r = qxNetNodeArg(L, 1, list, &n)) return r;
    if (peer && list == 2 && n->flag != QX_UDPCLIENT) return ERR_WRONGUSAGE;
    qxSocket *s;
    if (list == 0) {
        auto *c = static_cast<qxConnection *>(n->record);
        if (c->adapter) {
            if (part == PROTOCOL) {
                lua_pushnumber(L, QX_IPAUTO);
                return 1;
            }
            char text[1025] = "";
            uint32_t port = 0;
            qxNetInfoRequest req{static_cast<uint32_t>((peer ? 3 : 1) + (part == PORT)), nullptr, 0};
            req.answer = part == PORT ? static_cast<void *>(&port) : static_cast<void *>(text);
            auto info = reinterpret_cast<qxNetInfoFn>(c->adapter->entry[QX_EP_GetConnectionInfo]);
            if (!info) return ERR_UNSUPPORTEDFEAT;
            if (int r = info(c->handle, &req)) return r;
            text[sizeof text - 1] = 0;
            if (part == PORT) lua_pushnumber(L, port);
            else lua_pushstring(L, text);
            return 1;
        }
        s = static_cast<qxSocket *>(c->handle);
    } else {
        s = static_cast<qxSocket *>(n->record);
    }
    if (part == PROTOCOL) {
        lua_pushnumber(L, qxNetFamilyToProtocol(static_cast<int>(s->family)));
        return 1;
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    int r = peer ? getpeername(s->fd, reinterpret_cast<sockaddr *>(&address), &length)
                 : getsockname(s->fd, reinterpret_cast<sockaddr *>(&address), &length);
    if (r != 0) return qxNetError(qxSocketErrorText(errno));
    char host[NI_MAXHOST], service[NI_MAXSERV];
    int e = getnameinfo(reinterpret_cast<sockaddr *>(&address), length, host, sizeof host, service, sizeof service,
                        NI_NUMERICHOST | NI_NUMERICSERV);
    if (e != 0) return qxNetError(gai_strerror(e));
    if (part == PORT) lua_pushnumber(L, std::atoi(service));
    else lua_pushstring(L, host);
    return 1;
}

} // namespace

extern "C" {

int qxCmdResolveHostName(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    return resolveAll(L);
}

int qxCmdToIP(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    const char *name = luaL_checkstring(L, 1);
    int protocol = luaL_optint(L, 2, qxNetDefaultProtocol);
    if (protocol == QX_IPV4) {
        hostent *entry = nullptr;
        if (int r = lookupV4(name, &entry)) return r;
        if (!entry->h_addr_list[0]) return qxNetError(qxHostErrorText(QX_SOCK_HOSTFAIL));
        in_addr address;
        std::memcpy(&address, entry->h_addr_list[0], sizeof address);
        lua_pushstring(L, inet_ntoa(address));
        return 1;
    }
    if (protocol != QX_IPV6) return ERR_WRONGUSAGE;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    int r = getaddrinfo(name, nullptr, &hints, &list);
    if (r != 0) return qxNetError(qxResolverErrorText(r));
    for (addrinfo *a = list; a; a = a->ai_next) {
        if (a->ai_family != AF_INET6) continue;
        char text[1025];
        int e = getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
        freeaddrinfo(list);
        if (e != 0) return qxNetError(qxResolverErrorText(e));
        lua_pushstring(L, text);
        return 1;
    }
    freeaddrinfo(list);
    return qxNetError("cannot resolve hostname");
}

int qxCmdToHostName(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    hostent *entry = nullptr;
    if (int r = lookupV4(luaL_checkstring(L, 1), &entry)) return r;
    lua_pushstring(L, entry->h_name ? entry->h_name : "");
    return 1;
}

int qxCmdGetHostName(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    char name[256];
    if (gethostname(name, sizeof name) != 0) return ERR_HOSTNAME;
    name[sizeof name - 1] = 0;
    lua_pushstring(L, name);
    return 1;
}

int qxCmdGetMACAddress(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    if (int r = qxNetInitSockets()) return r;
    char text[32] = "Unknown";
    qxGetMACAddress(text, sizeof text);
    lua_pushstring(L, text);
    return 1;
}

int qxCmdIsOnline(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxConnection *c = nullptr;
    int online = qxNetInitSockets() == 0 && qxNetOpenConnection(L, kOnlineHost, 80, QX_IPAUTO, nullptr, 0, &c) == 0;
    qxFreeConnection(c);
    qxSetErrorString(nullptr);
    lua_pushnumber(L, online);
    return 1;
}

int qxCmdGetConnectionIP(lua_State *L) { return addressQuery(L, true, ADDRESS); }
int qxCmdGetConnectionPort(lua_State *L) { return addressQuery(L, true, PORT); }
int qxCmdGetConnectionProtocol(lua_State *L) { return addressQuery(L, true, PROTOCOL); }
int qxCmdGetLocalIP(lua_State *L) { return addressQuery(L, false, ADDRESS); }
int qxCmdGetLocalPort(lua_State *L) { return addressQuery(L, false, PORT); }
int qxCmdGetLocalProtocol(lua_State *L) { return addressQuery(L, false, PROTOCOL); }

} // extern "C"
