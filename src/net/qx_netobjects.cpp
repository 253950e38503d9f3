// The three lists of network objects and the event polls over them.
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/plugins/qx_plugins.h"
#include "net/qx_net.h"
#include "platform/qx_memory.h"

extern "C" {

qxNetObjectNode *qxNetLists[3];
qxNetObjectNode *qxNetIterPos[3];

qxNetObjectNode *qxNetFindNode(int list, qxObjectRef ref)
{
    for (qxNetObjectNode *n = qxNetLists[list]; n; n = reinterpret_cast<qxNetObjectNode *>(n->header.next)) {
        if (ref.automatic ? n->header.automatic == ref.automatic : (!n->header.automatic && n->header.id == ref.number))
            return n;
    }
    return nullptr;
}

int qxNetNodeArg(lua_State *L, int idx, int list, qxNetObjectNode **out)
{
    static const int codes[3] = {ERR_FINDCLIENT, ERR_FINDSERVER, ERR_FINDUDPOBJECT};
    qxObjectRef ref = qxGetObjectIDArg(L, idx);
    if ((*out = qxNetFindNode(list, ref))) return 0;
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(static_cast<int>(ref.number));
    return codes[list];
}

qxNetObjectNode *qxNetAppendNode(int list, uint32_t number, int automatic, void *record)
{
    static const uint32_t types[3] = {QX_TYPE_CLIENT, QX_TYPE_SERVER, QX_TYPE_UDPOBJECT};
    auto *node = static_cast<qxNetObjectNode *>(qxAlloc(sizeof(qxNetObjectNode), 1));
    if (!node) return nullptr;
    node->header.type = types[list];
    node->header.id = automatic ? 0 : number;
    node->header.automatic = automatic ? node : nullptr;
    node->record = record;
    qxObjectHeader **tail = reinterpret_cast<qxObjectHeader **>(&qxNetLists[list]);
    while (*tail) tail = &(*tail)->next;
    *tail = &node->header;
    return node;
}

void qxNetCloseNode(lua_State *L, int list, qxNetObjectNode *node)
{
    qxObjectHeader **link = reinterpret_cast<qxObjectHeader **>(&qxNetLists[list]);
    while (*link && *link != &node->header) link = &(*link)->next;
    if (*link) *link = node->header.next;
    if (qxNetIterPos[list] == node) qxNetIterPos[list] = reinterpret_cast<qxNetObjectNode *>(node->header.next);
    if (list == 0) {
        qxFreeConnection(static_cast<qxConnection *>(node->record));
    } else {
        auto *s = static_cast<qxSocket *>(node->record);
        if (s) qxSocketDestroy(s);
        qxFree(s);
    }
    if (L) qxFreeRefList(L, &node->header.data);
    qxFree(node);
}

int qxNetPollReceive(qxNetObjectNode *node)
{
    auto *c = static_cast<qxConnection *>(node->record);
    if (node->dataNotified || c->adapter) return 0;
    auto *s = static_cast<qxSocket *>(c->handle);
    qxTimeout zero{0, 0, qxNetNow()};
    if (s->buffer.first < s->buffer.last || qxSocketPeek(s, &zero, 0) == 0) {
        node->dataNotified = 1;
        return 1;
    }
    return 0;
}

int qxNetPollDisconnect(qxNetObjectNode *node)
{
    auto *c = static_cast<qxConnection *>(node->record);
    if (node->flag || c->adapter) return 0;
    auto *s = static_cast<qxSocket *>(c->handle);
    if (s->buffer.first < s->buffer.last) return 0;
    qxTimeout zero{0, 0, qxNetNow()};
    int r = qxSocketPeek(s, &zero, 0);
    if (r == QX_SOCK_CLOSED || r == ECONNRESET) {
        node->flag = 1;
        return 1;
    }
    return 0;
}

int qxNetPollAccept(qxNetObjectNode *node, void **id)
{
    *id = nullptr;
    auto *server = static_cast<qxSocket *>(node->record);
    qxTimeout zero{0, 0, qxNetNow()};
    int fd = -1;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (qxSocketAccept(server, &fd, reinterpret_cast<sockaddr *>(&address), &length, &zero) != 0 || fd < 0)
        return 0;
    auto *s = static_cast<qxSocket *>(qxAlloc(sizeof(qxSocket), 1));
    auto *c = static_cast<qxConnection *>(qxAlloc(sizeof(qxConnection), 1));
    if (!s || !c) {
        qxFree(s);
        qxFree(c);
        close(fd);
        return 0;
    }
    qxSocketSetup(s);
    s->fd = fd;
    s->family = server->family;
    s->timeout = {0, 0, qxNetNow()};
    qxSocketSetNonBlocking(s);
    c->handle = s;
    qxNetObjectNode *n = qxNetAppendNode(0, 0, 1, c);
    if (!n) {
        qxFreeConnection(c);
        return 0;
    }
    *id = n->header.automatic;
    return 1;
}

int qxNetPollUDP(qxNetObjectNode *node)
{
    auto *s = static_cast<qxSocket *>(node->record);
    if (node->dataNotified || s->fd < 0) return 0;
    qxTimeout zero{0, 0, qxNetNow()};
    if (qxSocketPeek(s, &zero, 1) == 0) {
        node->dataNotified = 1;
        return 1;
    }
    return 0;
}

void qxNetAdapterName(qxObjectRef id, char *buffer, size_t size)
{
    qxNetObjectNode *n = qxNetFindNode(0, id);
    auto *c = n ? static_cast<qxConnection *>(n->record) : nullptr;
    const char *name = c && c->adapter && c->adapter->name ? c->adapter->name : "inbuilt";
    if (size) {
        std::strncpy(buffer, name, size - 1);
        buffer[size - 1] = 0;
    }
}

} // extern "C"
