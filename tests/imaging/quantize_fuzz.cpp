// The quantiser over random planes of every layout, random counts,
// transparent colours, reserve and dithering. Every index must name a
// produced palette entry and nothing outside the plane may be touched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/qx_pixelformat.h"
#include "imaging/qx_quantize.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8) return 0;
    const uint32_t layout = data[0] % 14, bpp = qxBytesPerPixel(layout);
    const int32_t w = 1 + data[1] % 40, h = 1 + data[2] % 40, pitch = w + data[3] % 3;
    int32_t count = int32_t(data[4]) * 2 - 20; // below 1 and above 256 too
    const uint32_t flags = data[5];
    uint32_t transparent = flags & 1 ? 0xFFFFFFFF : uint32_t(data[6]) * 0x010101u;
    data += 8, size -= 8;
    std::vector<uint8_t> plane(size_t(pitch) * h * bpp);
    // Few distinct bytes give planes that often fit the exact palette.
    for (size_t i = 0; i < plane.size(); ++i) plane[i] = size ? (flags & 8 ? data[i % size] & 0xC0 : data[i % size]) : 0;
    std::vector<uint8_t> indices(size_t(w) * h, 0xEE);
    uint32_t palette[256];
    const int32_t asked = count;
    int32_t tIndex = -2;
    uint32_t done = qxQuantizeToPalette(plane.data(), layout, bpp, w, h, pitch, indices.data(), palette, &count,
                                        transparent, (flags >> 1) & 1, (flags >> 2) & 1, &tIndex);
    if (!done) {
        if (count != asked || asked >= 1) abort();
        return 0;
    }
    // One colour plus a reserved or transparent entry is the only way past the count.
    if (count < 1 || count > 256 || count > std::max(asked, 2)) abort();
    for (uint8_t i : indices)
        if (i >= count) abort();
    if (tIndex < -1 || tIndex >= count) abort();
    return 0;
}
