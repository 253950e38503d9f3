// FTP replies through a memory transport, and the PASV, SIZE and
// "(N bytes)" parsers on the final line.
#include <cstddef>
#include <cstdint>

#include "memconn.h"
#include "net/qx_httpparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    memconn::Source source;
    source.bytes.assign(reinterpret_cast<const char *>(data), size);
    memconn::Conn c(&source);
    qxNetTimeoutMs = 1;
    std::string last;
    int code = 0;
    qxFtpReadReply(nullptr, &c.conn, &code, last);
    std::string_view whole(reinterpret_cast<const char *>(data), size);
    int port = 0;
    uint64_t n = 0;
    if (qxFtpParsePasv(whole, &port) && (port < 1 || port > 65535)) __builtin_trap();
    qxFtpParseSize(whole, &n);
    qxFtpParseBytes(whole, &n);
    qxFtpParsePasv(last, &port);
    return 0;
}
