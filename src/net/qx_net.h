// Network objects (connections, servers, UDP objects), the transfer
// operations that the HTTP and FTP client shares, and the event polls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/commands/qx_objreg.h"
#include "net/qx_socket.h"

struct lua_State;
struct qxPluginInfo;
struct qxFileHandle;

enum : uint32_t { QX_TYPE_CLIENT = 54, QX_TYPE_SERVER = 55, QX_TYPE_UDPOBJECT = 56 };
enum : int { QX_IPAUTO = 0, QX_IPV4 = 1, QX_IPV6 = 2, QX_IPUNKNOWN = 3 };
enum : int { QX_RECEIVEALL = 0, QX_RECEIVEBYTES = 1, QX_RECEIVELINE = 2 };
enum : uint32_t { QX_UDPSERVER = 0, QX_UDPCLIENT = 1, QX_UDPNONE = 2 };
// Internal result of a line longer than its limit.
enum : int { QX_NET_LINETOOLONG = -10 };

// One node of the three object lists; the header lets the generic object
// commands walk them.
struct qxNetObjectNode {
    qxObjectHeader header;
    void *record; // qxConnection, or qxSocket for servers and UDP objects
    uint32_t dataNotified;
    uint32_t flag; // disconnect-notified (connection) or UDP mode
};

// The receive buffer of an adapter connection.
struct qxAdapterBuffer {
    size_t first;
    size_t last;
    uint8_t data[QX_SOCK_BUFSIZE];
};

// Progress reports of the HTTP and FTP client.
struct qxNetProgress {
    int function; // stack index of the callback, 0: none
    int userdata; // stack index, 0: none
    uint32_t action;
    uint64_t done;
    uint64_t total;
    int stopped; // the callback asked to end the transfer
};

struct qxConnection {
    qxPluginInfo *adapter; // null: the inbuilt transport
    void *handle;          // the adapter's handle or the qxSocket
    qxAdapterBuffer *buffer;
    qxNetProgress *progress;
    int error; // the last adapter error
};

// Where received bytes go.
struct qxNetSink {
    std::string *memory;   // growing buffer (or null)
    qxFileHandle *file;    // or a file
    int callback;          // or ReceiveData's callback (stack index; 0: none)
    int userdata;
    uint64_t total;
};

// The request of an adapter's GetConnectionInfo.
struct qxNetInfoRequest {
    uint32_t what; // 1 local address, 2 local port, 3 peer address, 4 peer port
    void *answer;
    uint32_t zero;
};

extern "C" {
// Module state.
extern int qxNetDefaultProtocol;
extern int64_t qxNetTimeoutMs;
extern qxNetObjectNode *qxNetLists[3]; // connections, servers, UDP objects
// The event library's iteration positions in the three lists.
extern qxNetObjectNode *qxNetIterPos[3];

// 0, or 1411 when the socket interface cannot be set up.
int qxNetInitSockets(void);
int qxNetFamilyToProtocol(int family);

int qxNetOpenConnection(lua_State *L, const char *host, int port, int protocol, const char *adapterList,
                        int ssl, qxConnection **out);
void qxFreeConnection(qxConnection *c);
// Sends all bytes; *error gets 0, 1003, the adapter's code, or a socket result.
int qxNetSendAll(lua_State *L, qxConnection *c, const void *bytes, size_t length, size_t *sent, int *error);
int qxNetSendChecked(lua_State *L, qxConnection *c, const void *bytes, size_t length);
// Receives by mode into sink: count for bytes, wait flag for all, maxLine
// bounds a line (0: none). *got counts the bytes, *done says the count or
// line end came (for all: the peer closed after data). Returns 0, 1422,
// 1423, 1410, 1003, 1000, 1005, QX_NET_LINETOOLONG or a callback's error.
int qxNetReceive(lua_State *L, qxConnection *c, int mode, uint64_t count, int wait, size_t maxLine,
                 qxNetSink *sink, uint64_t *got, int *done);
// 1410 with the text.
int qxNetError(const char *text);

qxNetObjectNode *qxNetFindNode(int list, qxObjectRef ref);
// The node of argument idx: 0, or the list's find error for the command to return.
int qxNetNodeArg(lua_State *L, int idx, int list, qxNetObjectNode **out);
// Unlinks, closes and frees a node, moving the iteration position past it.
void qxNetCloseNode(lua_State *L, int list, qxNetObjectNode *node);
qxNetObjectNode *qxNetAppendNode(int list, uint32_t number, int automatic, void *record);

int qxNetPollReceive(qxNetObjectNode *node);
int qxNetPollDisconnect(qxNetObjectNode *node);
int qxNetPollAccept(qxNetObjectNode *node, void **id);
int qxNetPollUDP(qxNetObjectNode *node);
void qxNetAdapterName(qxObjectRef id, char *buffer, size_t size);

// Commands of the other modules.
int qxCmdDownloadFile(lua_State *L);
int qxCmdUploadFile(lua_State *L);
int qxCmdResolveHostName(lua_State *L);
int qxCmdToIP(lua_State *L);
int qxCmdToHostName(lua_State *L);
int qxCmdGetHostName(lua_State *L);
int qxCmdGetMACAddress(lua_State *L);
int qxCmdIsOnline(lua_State *L);
int qxCmdGetConnectionIP(lua_State *L);
int qxCmdGetConnectionPort(lua_State *L);
int qxCmdGetConnectionProtocol(lua_State *L);
int qxCmdGetLocalIP(lua_State *L);
int qxCmdGetLocalPort(lua_State *L);
int qxCmdGetLocalProtocol(lua_State *L);
}
