// A requester adapter's font answer: any text and style flags fill the
// result within its name buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "display/qx_reqdispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint32_t flags = 0;
    if (size >= 4) {
        std::memcpy(&flags, data, 4);
        data += 4, size -= 4;
    }
    std::string text(reinterpret_cast<const char *>(data), size);
    qxFontRequestResult result{};
    qxParseFontAnswer(text.c_str(), flags, &result);
    return result.name[sizeof result.name - 1] == 0 ? 0 : 1;
}
