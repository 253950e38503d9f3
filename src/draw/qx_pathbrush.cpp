// Vector paths as brushes: a table of entries {x, y, color, id} becomes a
// vector brush whose picture source renders every path again under each
// transform, so a scaled or rotated brush stays sharp.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/vm/lua.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_positions.h"
#include "draw/qx_pathrender.h"
#include "draw/qx_shaperender.h"
#include "draw/qx_vectorpaths.h"
#include "objects/qx_brushimage.h"
#include "objects/qx_picsource.h"
#include "platform/qx_errcodes.h"

namespace {

constexpr uint32_t kPathType = 49;
constexpr double kMaxPixels = double(int64_t(1) << 26);

// One path with its own copies of the items and dash array.
struct Entry {
    double x = 0, y = 0; // the path's origin in the brush
    uint32_t opacity = 255;
    qxShapeLayerData data{};
    std::vector<uint8_t> items;
    std::vector<double> dashes;
};

struct PathBrush {
    lua_State *L = nullptr;
    std::vector<Entry> entries;
    std::vector<uint32_t> canvas; // the last rendering, handed out by getImage
};

bool isPositionConstant(double v) { return v <= -20000 && v >= -110001 && v == std::trunc(v); }

double number(lua_State *L, int table, const char *key, double fallback)
{
    lua_pushstring(L, key);
    lua_gettable(L, table);
    const double v = lua_isnumber(L, -1) ? lua_tonumber(L, -1) : fallback;
    lua_pop(L, 1);
    return std::isfinite(v) ? v : fallback;
}

int readEntry(lua_State *L, int table, Entry &e, double *colour)
{
    if (!lua_istable(L, table)) return ERR_TABEXPECTED;
    e.x = number(L, table, "x", 0), e.y = number(L, table, "y", 0);
    *colour = number(L, table, "color", 0);
    lua_pushstring(L, "id");
    lua_gettable(L, table);
    const qxObjectRef ref = qxGetObjectIDArg(L, lua_gettop(L));
    lua_pop(L, 1);
    if (int r = qxPathSnapshot(ref, &e.data)) return r;
    e.items.assign(e.data.items, e.data.items + e.data.capacity);
    e.data.items = e.items.data();
    if (e.data.vector.dashArray && e.data.vector.dashCount > 0)
        e.dashes.assign(e.data.vector.dashArray, e.data.vector.dashArray + e.data.vector.dashCount);
    e.data.vector.dashArray = e.dashes.empty() ? nullptr : e.dashes.data();
    return 0;
}

// Straight-alpha "over" of one entry's picture onto the canvas.
void compose(std::vector<uint32_t> &canvas, int32_t cw, int32_t ch, const qxShapeImage &im, int32_t w, int32_t h,
             int32_t dx, int32_t dy, uint32_t opacity)
{
    const int32_t x0 = std::max(0, -dx), y0 = std::max(0, -dy);
    const int32_t x1 = std::min(w, cw - dx), y1 = std::min(h, ch - dy);
    for (int32_t y = y0; y < y1; ++y) {
        const uint32_t *src = im.pixels.data() + size_t(y) * size_t(w);
        const uint8_t *sa = im.alpha.empty() ? nullptr : im.alpha.data() + size_t(y) * size_t(w);
        uint32_t *dst = canvas.data() + size_t(y + dy) * size_t(cw) + size_t(dx);
        for (int32_t x = x0; x < x1; ++x) {
            const uint32_t a = ((sa ? sa[x] : 255u) * opacity + 127) / 255;
            if (!a) continue;
            const uint32_t d = dst[x], da = d >> 24, s = src[x];
            const uint32_t oa = a + (da * (255 - a) + 127) / 255;
            auto mix = [&](int shift) {
                const uint32_t sc = (s >> shift) & 255, dc = (d >> shift) & 255;
                return ((sc * a * 255 + dc * da * (255 - a)) / 255 + oa / 2) / oa;
            };
            dst[x] = oa << 24 | mix(16) << 16 | mix(8) << 8 | mix(0);
        }
    }
}

// Renders every entry at the matrix (null: upright) with the brush origin
// moved by (ox, oy) into a w x h ARGB canvas.
int render(PathBrush &b, const double *m, double ox, double oy, int32_t w, int32_t h)
{
    if (w < 1 || h < 1 || double(w) * h > kMaxPixels) return ERR_BITMAP;
    try {
        b.canvas.assign(size_t(w) * size_t(h), 0);
        for (const Entry &e : b.entries) {
            qxShapeImage im;
            int32_t iw = 0, ih = 0;
            double left = 0, top = 0;
            if (int r = qxRenderPathImage(b.L, &e.data, m, &im, &iw, &ih, &left, &top)) return r;
            const double px = m ? m[0] * e.x + m[2] * e.y : e.x, py = m ? m[1] * e.x + m[3] * e.y : e.y;
            const double dx = std::floor(px + ox + left), dy = std::floor(py + oy + top);
            if (std::fabs(dx) > 1e9 || std::fabs(dy) > 1e9) continue;
            compose(b.canvas, w, h, im, iw, ih, int32_t(dx), int32_t(dy), e.opacity);
        }
    } catch (const std::bad_alloc &) {
        return ERR_BITMAP;
    }
    return 0;
}

int sourceRender(void *handle, const double *block, int32_t width, int32_t height, qxImageLoaderRecord *)
{
    return render(*static_cast<PathBrush *>(handle), block, block[4], block[5], width, height) == 0;
}

void *sourceImage(void *handle, qxImageLoaderRecord *info)
{
    auto *b = static_cast<PathBrush *>(handle);
    if (b->canvas.empty()) return nullptr;
    info->hasAlpha = 1, info->alphaChannel = 1, info->scalable = 1, info->pitch = 0;
    return b->canvas.data();
}

void sourceClose(void *handle) { delete static_cast<PathBrush *>(handle); }

// Places the entries: number positions as given, position constants
// within the box of all entries; the box becomes the brush (origin 0, 0).
int layout(PathBrush &b, std::vector<double> &colours, int32_t *width, int32_t *height)
{
    struct Box {
        double left, top;
        int32_t w, h;
    };
    std::vector<Box> boxes(b.entries.size());
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool any = false;
    auto grow = [&](double l, double t, int32_t w, int32_t h) {
        x1 = any ? std::min(x1, l) : l, y1 = any ? std::min(y1, t) : t;
        x2 = any ? std::max(x2, l + w) : l + w, y2 = any ? std::max(y2, t + h) : t + h;
        any = true;
    };
    for (size_t i = 0; i < b.entries.size(); ++i) {
        qxShapeImage im;
        Box &box = boxes[i];
        if (int r = qxRenderPathImage(b.L, &b.entries[i].data, nullptr, &im, &box.w, &box.h, &box.left, &box.top))
            return r;
        const Entry &e = b.entries[i];
        if (!isPositionConstant(e.x) && !isPositionConstant(e.y)) grow(e.x + box.left, e.y + box.top, box.w, box.h);
    }
    for (size_t i = 0; i < b.entries.size(); ++i) {
        Entry &e = b.entries[i];
        const Box &box = boxes[i];
        if (!isPositionConstant(e.x) && !isPositionConstant(e.y)) continue;
        // Against the others' box, or this picture's own size when it is alone.
        const int32_t areaW = any ? int32_t(x2 - x1) : box.w, areaH = any ? int32_t(y2 - y1) : box.h;
        const double ax = any ? x1 : 0, ay = any ? y1 : 0;
        if (isPositionConstant(e.x)) e.x = ax + qxResolvePosX(int(e.x), box.w, std::max(areaW, 1), 0) - box.left;
        if (isPositionConstant(e.y)) e.y = ay + qxResolvePosY(int(e.y), box.h, std::max(areaH, 1), 0) - box.top;
    }
    any = false;
    for (size_t i = 0; i < b.entries.size(); ++i)
        grow(b.entries[i].x + boxes[i].left, b.entries[i].y + boxes[i].top, boxes[i].w, boxes[i].h);
    const double fx = std::floor(x1), fy = std::floor(y1), w = std::ceil(x2) - fx, h = std::ceil(y2) - fy;
    if (!(w >= 1) || !(h >= 1) || w * h > kMaxPixels) return ERR_BITMAP;
    for (size_t i = 0; i < b.entries.size(); ++i) {
        Entry &e = b.entries[i];
        e.x -= fx, e.y -= fy;
        // The colour's alpha byte counts as transparency: 0 is opaque.
        const uint32_t c = uint32_t(int64_t(colours[i]));
        e.opacity = 255 - (c >> 24);
        e.data.colour = c & 0xFFFFFF;
    }
    *width = int32_t(w), *height = int32_t(h);
    return 0;
}

int pathSource(lua_State *L, int tableArg, uint32_t, qxBitMap **bitmap, qxBitMap **alpha, uint32_t *width,
               uint32_t *height, qxPicSource **source)
{
    if (!lua_istable(L, tableArg)) return ERR_TABEXPECTED;
    auto *b = new (std::nothrow) PathBrush;
    if (!b) return ERR_MEM;
    b->L = L;
    std::vector<double> colours;
    int r = 0;
    try {
        for (int i = 0; !r; ++i) {
            lua_rawgeti(L, tableArg, i);
            if (lua_isnil(L, -1)) {
                lua_pop(L, 1);
                break;
            }
            Entry e;
            double colour = 0;
            r = readEntry(L, lua_gettop(L), e, &colour);
            lua_pop(L, 1);
            if (!r) b->entries.push_back(std::move(e)), colours.push_back(colour);
        }
        // The copies moved: point each entry at its own items again.
        for (Entry &e : b->entries) {
            e.data.items = e.items.data();
            e.data.vector.dashArray = e.dashes.empty() ? nullptr : e.dashes.data();
        }
    } catch (const std::bad_alloc &) {
        r = ERR_MEM;
    }
    if (!r && b->entries.empty()) r = ERR_EMPTYTABLE;
    int32_t w = 0, h = 0;
    if (!r) r = layout(*b, colours, &w, &h);
    if (!r) r = render(*b, nullptr, 0, 0, w, h);
    qxBitMap *bm = nullptr, *al = nullptr;
    if (!r) {
        al = qxAlphaFromBuffer(b->canvas.data(), uint32_t(w), uint32_t(h), uint32_t(w));
        r = al ? qxBitMapFromARGB(b->canvas.data(), 0xFFFFFFFFu, w, h, w, 0, 0, nullptr, &bm, nullptr, nullptr)
               : ERR_ALLOCALPHA;
    }
    qxPicSource *s = nullptr;
    if (!r) {
        s = qxPicSourceNewCustom(b, sourceImage, sourceClose, sourceRender, nullptr, uint32_t(w), uint32_t(h), 0);
        if (!s) r = ERR_MEM;
    }
    if (r) {
        qxFreeBitMap(bm);
        qxFreeAlphaBitMap(al);
        delete b;
        return r;
    }
    *bitmap = bm, *alpha = al, *width = uint32_t(w), *height = uint32_t(h), *source = s;
    return 0;
}

} // namespace

void qxLinkPathBrushSource(void) { qxRegisterVectorBrushSource(kPathType, pathSource, QX_BRUSHSOURCE_OWNARG); }
