// Random contours, points and thicknesses through the mask rasteriser on
// small masks: integer polygons and lines near the int32 limits. Under ASan no byte outside a mask may be touched.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "draw/vector/qx_mask.h"

namespace {

struct Reader {
    const uint8_t *p;
    size_t n;
    uint32_t u8() { return n ? (--n, *p++) : 0; }
    uint32_t u32() { return u8() | u8() << 8 | u8() << 16 | u8() << 24; }
    int32_t coord() { return (u8() & 3) ? int32_t(u8() % 120) - 40 : int32_t(u32()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader r{data, size};
    int32_t w = int32_t(1 + r.u8() % 48), h = int32_t(1 + r.u8() % 48);
    QxMaskImage *m = nullptr;
    uint8_t *px = nullptr;
    int32_t stride = 0;
    qxMaskCreate(w, h, &m, &px, &stride);
    if (!m) return 0;
    while (r.n) {
        switch (r.u8() % 2) {
        case 0: {
            std::vector<QxMaskPoint> pts(r.u8() % 10);
            for (auto &p : pts) p = {r.coord(), r.coord()};
            int32_t thickness = int32_t(r.u8() % 260) - 2;
            qxMaskFillPolygon(m, pts.data(), int32_t(pts.size()), r.u8() & 1, thickness);
            break;
        }
        default: {
            int32_t x1 = r.coord(), y1 = r.coord(), x2 = r.coord(), y2 = r.coord();
            qxMaskDraw(m, x1, y1, x2, y2, r.u8() & 1, int32_t(r.u8() % 260) - 2);
            break;
        }
        }
    }
    qxMaskFree(m);
    return 0;
}
