// Boundary fill. The fill nests once per run it discovers in the row above
// or below; the nesting lives on an explicit stack, in the same order, so
// that a large area cannot exhaust the call stack.
#include "imaging/qx_floodfill.h"

#include <new>
#include <vector>

namespace {

struct Frame {
    int32_t y, xl, xr;
    int32_t phase; // 0 scanning the row above, 1 the row below, 2 done
    int32_t i;     // scan position
    bool inRun;
};

template <class T> int floodFill(const qxFloodFillArea *r, int32_t x, int32_t y, uint32_t mask)
{
    if (!r || !r->pixels || r->width < 1 || r->height < 1) return 0;
    auto *base = static_cast<T *>(r->pixels);
    const int64_t right = int64_t(r->left) + r->width, bottom = int64_t(r->top) + r->height;
    // Filled pixels are recognised by their masked value, so a fill colour
    // with bits outside the mask still counts as filled.
    const uint32_t border = r->border & mask, fill = r->fill & mask;
    auto at = [&](int32_t px, int32_t py) -> T & { return base[int64_t(py) * r->pitch + px]; };
    auto isBorder = [&](int32_t px, int32_t py) { return (at(px, py) & mask) == border; };
    auto isOpen = [&](int32_t px, int32_t py) {
        uint32_t p = at(px, py) & mask;
        return p != border && p != fill;
    };
    std::vector<Frame> stack;
    // Runs steps 1-3 at (px, py) and pushes the frame that scans the
    // neighbouring rows.
    auto start = [&](int32_t px, int32_t py) -> bool {
        if (px < r->left || px >= right || py < r->top || py >= bottom || isBorder(px, py)) return true;
        int32_t xl = px, xr = px;
        at(px, py) = T(r->fill);
        while (xl - 1 >= r->left && !isBorder(xl - 1, py)) at(--xl, py) = T(r->fill);
        while (xr + 1 < right && !isBorder(xr + 1, py)) at(++xr, py) = T(r->fill);
        try {
            stack.push_back({py, xl, xr, 0, xl, false});
        } catch (const std::bad_alloc &) {
            return false;
        }
        return true;
    };
    if (!start(x, y)) return 1000;
    while (!stack.empty()) {
        Frame &f = stack.back();
        int32_t row = f.phase == 0 ? f.y - 1 : f.y + 1;
        bool rowExists = f.phase == 0 ? f.y > r->top : f.y < bottom - 1;
        if (f.phase == 2) {
            stack.pop_back();
            continue;
        }
        if (!rowExists || f.i > f.xr) {
            ++f.phase, f.i = f.xl, f.inRun = false;
            continue;
        }
        int32_t i = f.i++;
        bool open = isOpen(i, row);
        bool first = open && !f.inRun;
        f.inRun = open;
        if (first && !start(i, row)) return 1000; // f may move: not used after
    }
    return 0;
}

} // namespace

extern "C" {
int qxFloodFill32(const qxFloodFillArea *record, int32_t x, int32_t y, uint32_t mask)
{
    return floodFill<uint32_t>(record, x, y, mask);
}
int qxFloodFill16(const qxFloodFillArea *record, int32_t x, int32_t y)
{
    return floodFill<uint16_t>(record, x, y, 0xFFFF);
}
}
