// The player's own window icon (see the header).
#include "platform/x11/x11_builtinicon.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t builtInSizes[] = {16, 24, 32, 48, 256};

void drawBuiltInIcon(uint32_t *px, uint32_t size)
{
    // A blue disc with a light rim, antialiased over one pixel. Only what
    // needs it is computed: along the left half of
    // an upper row the squared distance to the centre only falls, so the
    // plain outside, rim and inside are runs, filled with their mirror
    // images in the right half; only the pixels near the rim's two edges
    // take a root. Each row is then copied to its mirror row below (the
    // offsets from the centre are exact halves, so the images are
    // identical). The squared bounds carry a margin for rounding.
    const double c = size / 2.0, r = size / 2.0 - 0.5;
    const uint32_t half = (size + 1) / 2;
    const double rimEdge = r * 0.8, solid = rimEdge * rimEdge * (1 - 1e-9),
                 clear = (r + 0.5) * (r + 0.5) * (1 + 1e-9),
                 rimInner = rimEdge * rimEdge * (1 + 1e-9), rimOuter = (r - 0.5) * (r - 0.5) * (1 - 1e-9);
    const bool solidInside = rimEdge < r - 0.5;
    constexpr uint32_t outside = 0xA0C8FFu, inside = 0xFF2050C0u, rim = 0xFFA0C8FFu;
    for (uint32_t y = 0; y < half; y++) {
        uint32_t *row = px + size_t(y) * size;
        const double dy = y + 0.5 - c, dy2 = dy * dy;
        auto dist2 = [&](uint32_t x) {
            const double dx = x + 0.5 - c;
            return dx * dx + dy2;
        };
        uint32_t x = 0;
        while (x < half && dist2(x) > clear)
            x++;
        std::fill(row, row + x, outside);
        std::fill(row + size - x, row + size, outside);
        for (; x < half; x++) {
            const double d2 = dist2(x);
            if (solidInside && d2 < solid)
                break;
            uint32_t v = rim;
            if (!(d2 > rimInner && d2 < rimOuter)) {
                const double d = std::sqrt(d2);
                const double cover = d <= r - 0.5 ? 1.0 : d >= r + 0.5 ? 0.0 : r + 0.5 - d;
                v = uint32_t(cover * 255 + 0.5) << 24 | (d > rimEdge ? outside : inside & 0xFFFFFFu);
            }
            row[x] = row[size - 1 - x] = v;
        }
        if (x < size - x)
            std::fill(row + x, row + size - x, inside);
        if (size - 1 - y != y)
            std::memcpy(px + size_t(size - 1 - y) * size, row, size_t(size) * 4);
    }
}

} // namespace

void x11WriteBuiltInIcons(uint8_t *records)
{
    uint64_t at = 0;
    for (uint32_t size : builtInSizes) {
        const uint32_t header[2] = {size, size};
        std::memcpy(records + at, header, 8);
        drawBuiltInIcon(reinterpret_cast<uint32_t *>(records + at + 8), size);
        at += 8 + uint64_t(size) * size * 4;
    }
}
