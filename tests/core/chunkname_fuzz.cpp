// Feeds arbitrary text to the chunk-name parser, the base-name and
// resolution helpers and the memory-descriptor check, then reads the parsed
// range of a small file of its own: nothing may read outside a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "core/files/qx_chunkname.h"
#include "core/files/qx_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte picks output capacities, the rest is the name.
    size_t small = size ? data[0] % 24 : 0;
    std::vector<char> text(data + (size ? 1 : 0), data + size);
    text.push_back('\0');
    const char *name = text.data();

    uint32_t offset = 0, length = 0;
    qxMemRecord *block = nullptr;
    char inner[1024], container[1024], extension[1024];
    int ok = qxParseChunkName(name, &offset, &length, inner, sizeof inner, container, sizeof container,
                              extension, sizeof extension, &block);
    std::vector<char> a(small ? small : 1), b(small ? small : 1), c(small ? small : 1);
    qxParseChunkName(name, &offset, &length, a.data(), small, b.data(), small, c.data(), small, &block);
    qxParseChunkName(name, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, nullptr);

    // What parses must build back to a name that parses the same way.
    if (ok && !std::strchr(inner, '?') && std::strncmp(name, ":::chunkS", 9) != 0) {
        char rebuilt[4096];
        if (qxMakeChunkName(inner, rebuilt, sizeof rebuilt, offset, length, 0, container)) {
            uint32_t o2 = 0, l2 = 0;
            char i2[1024], c2[1024];
            if (!qxParseChunkName(rebuilt, &o2, &l2, i2, sizeof i2, c2, sizeof c2, nullptr, 0, nullptr) ||
                o2 != offset || l2 != length || std::strcmp(i2, inner) != 0 || std::strcmp(c2, container) != 0)
                __builtin_trap();
        }
    }

    char base[64];
    qxChunkNameBaseName(name, base, small ? small : 1);
    qxChunkBaseName(name);
    qxIsChunkName(name);
    qxReadMemoryName(name, nullptr, nullptr);
    int isFont = 0;
    qxResolveFileName(nullptr, name, small & 1, &isFont);

    // Read the parsed range of a small file of ours (never a container the
    // input names: that could be a device that blocks).
    static const char *fuzzFile = [] {
        static char path[] = "/tmp/qxchunkfuzz.XXXXXX";
        int fd = mkstemp(path);
        if (fd >= 0) {
            const char bytes[] = "0123456789abcdefghijklmnopqrstuvwxyz";
            (void)!write(fd, bytes, sizeof bytes);
            close(fd);
            std::atexit([] { unlink(path); });
        }
        return path;
    }();
    char own[4096];
    if (ok && std::strncmp(name, ":::chunkS", 9) != 0 &&
        qxMakeChunkName(inner, own, sizeof own, offset, length, 0, fuzzFile)) {
        if (qxFileHandle *h = qxOpen(own, QX_OPEN_READ, "inbuilt")) {
            char buf[64];
            qxRead(h, buf, sizeof buf);
            qxSeek(h, -5, 0);
            qxGetC(h);
            qxReadBE32(h);
            qxClose(h);
        }
    }
    return 0;
}
