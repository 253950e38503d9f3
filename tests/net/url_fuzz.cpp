// URL escaping, parsing, decoding and the join of a redirect's location.
#include <cstddef>
#include <cstdint>

#include "net/qx_httpparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    std::string_view input(reinterpret_cast<const char *>(data + 1), size - 1);
    size_t cut = input.find('\n');
    std::string_view url = input.substr(0, cut);
    std::string_view location = cut == std::string_view::npos ? "" : input.substr(cut + 1);
    std::string escaped;
    if (qxUrlEscape(url, data[0] & 1, escaped) == 0) {
        qxUrlParts parts;
        if (qxUrlParse(escaped, data[0] & 2, parts) == 0) {
            if (parts.port < 1 || parts.port > 65535) __builtin_trap();
            if (parts.user.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) __builtin_trap();
        }
        std::string joined = qxUrlJoin(escaped, location);
        qxUrlParse(joined, false, parts);
    }
    uint64_t n = 0;
    int status = 0;
    qxHttpParseChunkSize(url, &n);
    qxParseDecimal(url, &n);
    qxHttpParseStatus(url, &status);
    return 0;
}
