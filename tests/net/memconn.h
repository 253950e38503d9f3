// A connection whose peer is a byte string: a network adapter in memory.
#pragma once
#include <algorithm>
#include <cstring>
#include <string>

#include "core/errors/qx_errors.h"
#include "core/plugins/qx_pluginapi.h"
#include "net/qx_net.h"

namespace memconn {

struct Source {
    std::string bytes;
    size_t pos = 0;
    size_t piece = 7; // short reads find boundary faults
};

inline int receive(void *handle, void *buffer, int size, int *count, void *)
{
    auto *s = static_cast<Source *>(handle);
    if (s->pos >= s->bytes.size()) {
        *count = 0;
        return ERR_RECVCLOSED;
    }
    size_t n = std::min({static_cast<size_t>(size), s->piece, s->bytes.size() - s->pos});
    std::memcpy(buffer, s->bytes.data() + s->pos, n);
    s->pos += n;
    *count = static_cast<int>(n);
    return 0;
}

inline int send(void *, const void *, int size, int *count, void *)
{
    *count = size;
    return 0;
}

inline void closeConn(void *) {}

// The adapter record and a connection on source.
struct Conn {
    qxPluginInfo info{};
    qxAdapterBuffer buffer{};
    qxConnection conn{};
    explicit Conn(Source *source)
    {
        info.name = "memory";
        info.entry[QX_EP_ReceiveData] = reinterpret_cast<void *>(receive);
        info.entry[QX_EP_SendData] = reinterpret_cast<void *>(send);
        info.entry[QX_EP_CloseConnection] = reinterpret_cast<void *>(closeConn);
        conn.adapter = &info;
        conn.handle = source;
        conn.buffer = &buffer;
    }
};

} // namespace memconn
