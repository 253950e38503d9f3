// Shared by the picture fuzz targets: the input as a memory file, and a
// picture limit low enough that libFuzzer's malloc cap tests our checks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "core/files/qx_chunkname.h"
#include "core/files/qx_file.h"
#include "objects/formats/qx_picformats.h"

namespace fuzzpic {

struct MemoryFile {
    qxMemoryName name;
    MemoryFile(const uint8_t *data, size_t size)
    {
        qxSetPictureLimit(1u << 22);
        qxMakeMemoryName(&name, data, uint32_t(size));
    }
    qxFileHandle *open() { return qxOpen(name.tag, 1, nullptr); }
};

// Touches every pixel so a reader that hands out unwritten memory shows up
// under MemorySanitizer and a short buffer under AddressSanitizer.
inline uint32_t touch(const uint32_t *pixels, uint64_t count)
{
    uint32_t sum = 0;
    for (uint64_t i = 0; pixels && i < count; ++i) sum += pixels[i];
    return sum;
}

} // namespace fuzzpic
