// Feeds arbitrary bytes to DecompressFile's unpacker as a packed file, into
// a file and into a small buffer: errors only, no crash, no leak, and no
// output beyond what the buffer holds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/codecs/qx_unpack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string base = "/tmp/qx_decompress_fuzz." + std::to_string(getpid());
    const std::string src = base + ".pk", dst = base + ".out";
    FILE *f = std::fopen(src.c_str(), "wb");
    if (!f) return 0;
    // Most inputs get a valid header so that the inflater itself is reached.
    if (size && data[0] & 1) std::fwrite("QXPK\0\0\0\0", 1, 8, f);
    if (size > 1) std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);

    uint64_t produced = 0, consumed = 0;
    qxUnpackData("QXPK", src.c_str(), dst.c_str(), nullptr, 0, &consumed, nullptr, 0, &produced);
    uint8_t buffer[2048 + 16];
    std::memset(buffer + 2048, 0xA5, 16);
    qxUnpackData("QXPK", src.c_str(), nullptr, nullptr, 0, &consumed, buffer, 2048, &produced);
    for (int i = 0; i < 16; i++)
        if (buffer[2048 + i] != 0xA5) __builtin_trap();
    if (produced > 2048) __builtin_trap();
    unlink(src.c_str());
    unlink(dst.c_str());
    return 0;
}
