// The HTTP response reader on arbitrary answers, through a memory
// transport; the first byte picks the read size.
#include <cstddef>
#include <cstdint>

#include "memconn.h"
#include "net/qx_httpparse.h"
#include "net/qx_net.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    memconn::Source source;
    source.piece = 1 + data[0] % 64;
    source.bytes.assign(reinterpret_cast<const char *>(data + 1), size - 1);
    memconn::Conn c(&source);
    qxNetTimeoutMs = 1;
    std::string body;
    qxHttpResponse res;
    if (qxHttpReadHeaders(nullptr, &c.conn, res, true, false, "/") == 0) {
        qxNetSink sink{};
        sink.memory = &body;
        uint64_t received = 0;
        qxHttpReadBody(nullptr, &c.conn, res, &sink, &received, nullptr);
    }
    // Memory stays bounded by what arrived.
    if (body.size() > size) __builtin_trap();
    return 0;
}
