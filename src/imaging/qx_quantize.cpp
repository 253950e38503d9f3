// Colour quantiser: exact palette, else median cut (population-first box
// selection, weighted axes) with a lazily filled inverse map.
#include "imaging/qx_quantize.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imaging/qx_pixelformat.h"

namespace {

constexpr int kR = 32, kG = 64, kB = 32;
constexpr uint32_t kNone = 0xFFFFFFFF;

inline int cellIndex(int r, int g, int b) { return (r * kG + g) * kB + b; }

// The raw value of the exact pass: a 4-byte pixel's colour bytes only,
// which byte-swapped and RGBA layouts keep in the upper three.
inline uint32_t rawAt(const uint8_t *p, uint32_t bpp, uint32_t layout)
{
    if (bpp == 3) return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    if (bpp == 4) {
        uint32_t w;
        std::memcpy(&w, p, 4);
        return w & (layout == QX_PIXFMT_BGRA32 || layout == QX_PIXFMT_RGBA32 ? 0xFFFFFF00u : 0x00FFFFFFu);
    }
    uint16_t w;
    std::memcpy(&w, p, 2);
    return w;
}

// One row as 0xRRGGBB by the layout.
void rowColours(const uint8_t *row, uint32_t layout, uint32_t bpp, int32_t width, uint32_t *out)
{
    if (layout == QX_PIXFMT_ARGB32) {
        const auto *w = reinterpret_cast<const uint32_t *>(row);
        for (int32_t x = 0; x < width; ++x) {
            uint32_t v;
            std::memcpy(&v, w + x, 4);
            out[x] = v & 0xFFFFFF;
        }
        return;
    }
    if (bpp == 3) {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t *p = row + 3 * x;
            out[x] = layout == QX_PIXFMT_BGR24 ? uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]
                                               : uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
        return;
    }
    for (int32_t x = 0; x < width; ++x) {
        uint32_t v = 0;
        std::memcpy(&v, row + size_t(x) * bpp, bpp);
        out[x] = qxPixelToColor(v, layout, 0);
    }
}

bool validRequest(const qxQuantizeRequest *q)
{
    if (!q->pixels || !q->indices || !q->palette || !q->count || *q->count < 1) return false;
    if (q->layout > QX_PIXFMT_ABGR32 || qxBytesPerPixel(q->layout) != q->bytesPerPixel) return false;
    if (q->width < 1 || q->height < 1 || q->pitch < q->width) return false;
    return true;
}

bool exactPalette(qxQuantizeRequest *q, int limit)
{
    const auto *base = static_cast<const uint8_t *>(q->pixels);
    const size_t rowBytes = size_t(q->pitch) * q->bytesPerPixel;
    uint32_t values[256];
    int n = 0;
    int last = -1;
    for (int32_t y = 0; y < q->height; ++y) {
        const uint8_t *row = base + rowBytes * y;
        for (int32_t x = 0; x < q->width; ++x) {
            uint32_t v = rawAt(row + size_t(x) * q->bytesPerPixel, q->bytesPerPixel, q->layout);
            if (last >= 0 && values[last] == v) continue;
            int i = 0;
            while (i < n && values[i] != v) ++i;
            if (i == n) {
                if (n >= limit) return false;
                values[n++] = v;
            }
            last = i;
        }
    }
    last = -1;
    for (int32_t y = 0; y < q->height; ++y) {
        const uint8_t *row = base + rowBytes * y;
        uint8_t *out = q->indices + size_t(q->width) * y;
        for (int32_t x = 0; x < q->width; ++x) {
            uint32_t v = rawAt(row + size_t(x) * q->bytesPerPixel, q->bytesPerPixel, q->layout);
            if (last < 0 || values[last] != v) {
                int i = 0;
                while (values[i] != v) ++i;
                last = i;
            }
            out[x] = uint8_t(last);
        }
    }
    q->transparentIndex = -1;
    for (int i = 0; i < n; ++i) {
        uint32_t c = q->bytesPerPixel == 3 && q->layout == QX_PIXFMT_RGB24 ? values[i]
                     : q->bytesPerPixel == 3 ? (values[i] & 0xFF) << 16 | (values[i] & 0xFF00) | values[i] >> 16
                                             : qxPixelToColor(values[i], q->layout, 0);
        q->palette[i] = c;
        if (q->transparentIndex < 0 && c == q->transparent) q->transparentIndex = i;
    }
    *q->count = n + (q->reserve ? 1 : 0);
    if (q->reserve) q->palette[n] = 0;
    q->done = 1;
    return true;
}

struct Box {
    int r0, r1, g0, g1, b0, b1;
    int64_t volume;
    int64_t colours;
};

struct MedianCut {
    uint16_t *hist; // 32 planes of 64 x 32

    bool emptyR(const Box &b, int r) const
    {
        for (int g = b.g0; g <= b.g1; ++g)
            for (int bl = b.b0; bl <= b.b1; ++bl)
                if (hist[cellIndex(r, g, bl)]) return false;
        return true;
    }
    bool emptyG(const Box &b, int g) const
    {
        for (int r = b.r0; r <= b.r1; ++r)
            for (int bl = b.b0; bl <= b.b1; ++bl)
                if (hist[cellIndex(r, g, bl)]) return false;
        return true;
    }
    bool emptyB(const Box &b, int bl) const
    {
        for (int r = b.r0; r <= b.r1; ++r)
            for (int g = b.g0; g <= b.g1; ++g)
                if (hist[cellIndex(r, g, bl)]) return false;
        return true;
    }
    void shrink(Box &b) const
    {
        while (b.r0 < b.r1 && emptyR(b, b.r0)) ++b.r0;
        while (b.r1 > b.r0 && emptyR(b, b.r1)) --b.r1;
        while (b.g0 < b.g1 && emptyG(b, b.g0)) ++b.g0;
        while (b.g1 > b.g0 && emptyG(b, b.g1)) --b.g1;
        while (b.b0 < b.b1 && emptyB(b, b.b0)) ++b.b0;
        while (b.b1 > b.b0 && emptyB(b, b.b1)) --b.b1;
        int64_t dr = int64_t(b.r1 - b.r0) * 16, dg = int64_t(b.g1 - b.g0) * 12, db = int64_t(b.b1 - b.b0) * 8;
        b.volume = dr * dr + dg * dg + db * db;
        int64_t n = 0;
        for (int r = b.r0; r <= b.r1; ++r)
            for (int g = b.g0; g <= b.g1; ++g)
                for (int bl = b.b0; bl <= b.b1; ++bl) n += hist[cellIndex(r, g, bl)] != 0;
        b.colours = n;
    }
    uint32_t colourOf(const Box &b) const
    {
        uint64_t total = 0, sr = 0, sg = 0, sb = 0;
        for (int r = b.r0; r <= b.r1; ++r)
            for (int g = b.g0; g <= b.g1; ++g)
                for (int bl = b.b0; bl <= b.b1; ++bl) {
                    uint64_t c = hist[cellIndex(r, g, bl)];
                    total += c;
                    sr += c * uint64_t(8 * r + 4);
                    sg += c * uint64_t(4 * g + 2);
                    sb += c * uint64_t(8 * bl + 4);
                }
        if (!total) return 0xFFFFFF;
        return uint32_t((sr + total / 2) / total) << 16 | uint32_t((sg + total / 2) / total) << 8 |
               uint32_t((sb + total / 2) / total);
    }
};

inline int64_t wdist(int dr, int dg, int db)
{
    int64_t r = 2 * dr, g = 3 * dg, b = db;
    return r * r + g * g + b * b;
}

// Fills the 4 x 8 x 4 block holding cell (r, g, b) with palette index + 1.
void fillBlock(uint16_t *hist, int r, int g, int b, const uint8_t *pr, const uint8_t *pg, const uint8_t *pb, int n)
{
    const int r0 = r & ~3, g0 = g & ~7, b0 = b & ~3;
    const int rlo = 8 * r0 + 4, rhi = 8 * (r0 + 3) + 4;
    const int glo = 4 * g0 + 2, ghi = 4 * (g0 + 7) + 2;
    const int blo = 8 * b0 + 4, bhi = 8 * (b0 + 3) + 4;
    auto nearD = [](int c, int lo, int hi) { return c < lo ? lo - c : c > hi ? c - hi : 0; };
    auto farD = [](int c, int lo, int hi) { return std::max(c - lo < 0 ? lo - c : c - lo, hi - c < 0 ? c - hi : hi - c); };
    int64_t minFar = INT64_MAX;
    int64_t nearest[256];
    for (int i = 0; i < n; ++i) {
        nearest[i] = wdist(nearD(pr[i], rlo, rhi), nearD(pg[i], glo, ghi), nearD(pb[i], blo, bhi));
        minFar = std::min(minFar, wdist(farD(pr[i], rlo, rhi), farD(pg[i], glo, ghi), farD(pb[i], blo, bhi)));
    }
    int cand[256];
    int nc = 0;
    for (int i = 0; i < n; ++i)
        if (nearest[i] <= minFar) cand[nc++] = i;
    for (int ir = 0; ir < 4; ++ir)
        for (int ig = 0; ig < 8; ++ig)
            for (int ib = 0; ib < 4; ++ib) {
                const int cr = 8 * (r0 + ir) + 4, cg = 4 * (g0 + ig) + 2, cb = 8 * (b0 + ib) + 4;
                int best = cand[0];
                int64_t bd = INT64_MAX;
                for (int k = 0; k < nc; ++k) {
                    int i = cand[k];
                    int64_t d = wdist(pr[i] - cr, pg[i] - cg, pb[i] - cb);
                    if (d < bd) bd = d, best = i;
                }
                hist[cellIndex(r0 + ir, g0 + ig, b0 + ib)] = uint16_t(best + 1);
            }
}

// Error correction limit: small errors pass, middle ones are halved above
// 16, large ones stop at 32, so a wrong palette does not smear streaks.
struct ErrorLimit {
    int table[511];
    ErrorLimit()
    {
        for (int e = 0; e <= 255; ++e) {
            int v = e < 16 ? e : e < 48 ? 16 + (e - 16) / 2 : 32;
            table[255 + e] = v;
            table[255 - e] = -v;
        }
    }
    int operator()(int e) const { return table[255 + std::clamp(e, -255, 255)]; }
};

bool medianCut(qxQuantizeRequest *q)
{
    const bool hasTransparent = q->transparent != kNone;
    // The extra entry comes out of the colours asked for, as in the exact
    // pass, so the palette never outgrows the caller's count.
    int wanted = std::min(*q->count, 256);
    if (hasTransparent || q->reserve) wanted = std::max(wanted - 1, 1);

    std::unique_ptr<uint16_t[]> histMem(new (std::nothrow) uint16_t[kR * kG * kB]());
    std::unique_ptr<uint32_t[]> rowMem(new (std::nothrow) uint32_t[size_t(q->width)]);
    std::unique_ptr<int[]> errMem(q->dither ? new (std::nothrow) int[size_t(q->width + 2) * 6]() : nullptr);
    if (!histMem || !rowMem || (q->dither && !errMem)) return false;
    uint16_t *hist = histMem.get();
    uint32_t *rgb = rowMem.get();

    const auto *base = static_cast<const uint8_t *>(q->pixels);
    const size_t rowBytes = size_t(q->pitch) * q->bytesPerPixel;
    for (int32_t y = 0; y < q->height; ++y) {
        rowColours(base + rowBytes * y, q->layout, q->bytesPerPixel, q->width, rgb);
        for (int32_t x = 0; x < q->width; ++x) {
            uint32_t c = rgb[x];
            if (c == q->transparent) continue;
            uint16_t &h = hist[cellIndex(int(c >> 19), int((c >> 10) & 63), int((c >> 3) & 31))];
            if (h != 0xFFFF) ++h;
        }
    }

    MedianCut mc{hist};
    std::vector<Box> boxes;
    boxes.reserve(256);
    Box first{0, kR - 1, 0, kG - 1, 0, kB - 1, 0, 0};
    mc.shrink(first);
    boxes.push_back(first);
    while (int(boxes.size()) < wanted) {
        const bool byColours = int(boxes.size()) * 2 <= wanted;
        int pick = -1;
        int64_t best = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].volume <= 0) continue;
            int64_t v = byColours ? boxes[i].colours : boxes[i].volume;
            if (pick < 0 || v > best) pick = int(i), best = v;
        }
        if (pick < 0) break;
        Box &b = boxes[size_t(pick)];
        const int er = (b.r1 - b.r0) * 16, eg = (b.g1 - b.g0) * 12, eb = (b.b1 - b.b0) * 8;
        Box nb = b;
        if (er > eg && er >= eb) {
            int m = (b.r0 + b.r1) / 2;
            b.r1 = m, nb.r0 = m + 1;
        } else if (eb > std::max(er, eg)) {
            int m = (b.b0 + b.b1) / 2;
            b.b1 = m, nb.b0 = m + 1;
        } else {
            int m = (b.g0 + b.g1) / 2;
            b.g1 = m, nb.g0 = m + 1;
        }
        mc.shrink(b);
        mc.shrink(nb);
        boxes.push_back(nb);
    }

    const int n = int(boxes.size());
    uint8_t pr[256], pg[256], pb[256];
    for (int i = 0; i < n; ++i) {
        uint32_t c = mc.colourOf(boxes[size_t(i)]);
        pr[i] = uint8_t(c >> 16), pg[i] = uint8_t(c >> 8), pb[i] = uint8_t(c);
    }
    std::fill(hist, hist + kR * kG * kB, uint16_t(0));

    const uint8_t transparentEntry = uint8_t(n);
    static const ErrorLimit limit;
    int *errA = errMem.get(), *errB = errA ? errA + size_t(q->width + 2) * 3 : nullptr;
    for (int32_t y = 0; y < q->height; ++y) {
        rowColours(base + rowBytes * y, q->layout, q->bytesPerPixel, q->width, rgb);
        uint8_t *out = q->indices + size_t(q->width) * y;
        if (!q->dither) {
            for (int32_t x = 0; x < q->width; ++x) {
                uint32_t c = rgb[x];
                if (c == q->transparent) {
                    out[x] = transparentEntry;
                    continue;
                }
                int r = int(c >> 19), g = int((c >> 10) & 63), b = int((c >> 3) & 31);
                uint16_t &h = hist[cellIndex(r, g, b)];
                if (!h) fillBlock(hist, r, g, b, pr, pg, pb, n);
                out[x] = uint8_t(h - 1);
            }
            continue;
        }
        // errA holds the terms reaching this row, errB collects the next
        // row's; one pixel of margin on each side.
        std::fill(errB, errB + size_t(q->width + 2) * 3, 0);
        const bool forward = (y & 1) == 0;
        const int step = forward ? 1 : -1;
        int32_t x = forward ? 0 : q->width - 1;
        for (int32_t k = 0; k < q->width; ++k, x += step) {
            uint32_t c = rgb[x];
            int *cur = errA + size_t(x + 1) * 3;
            if (c == q->transparent) {
                out[x] = transparentEntry;
                continue;
            }
            int v[3] = {int(c >> 16), int((c >> 8) & 0xFF), int(c & 0xFF)};
            for (int i = 0; i < 3; ++i) v[i] = std::clamp(v[i] + limit((cur[i] + 8) >> 4), 0, 255);
            int r = v[0] >> 3, g = v[1] >> 2, b = v[2] >> 3;
            uint16_t &h = hist[cellIndex(r, g, b)];
            if (!h) fillBlock(hist, r, g, b, pr, pg, pb, n);
            const int idx = h - 1;
            out[x] = uint8_t(idx);
            const int e[3] = {v[0] - pr[idx], v[1] - pg[idx], v[2] - pb[idx]};
            int *ahead = errA + size_t(x + 1 + step) * 3;
            int *below = errB + size_t(x + 1) * 3;
            int *belowBehind = errB + size_t(x + 1 - step) * 3;
            int *belowAhead = errB + size_t(x + 1 + step) * 3;
            for (int i = 0; i < 3; ++i) {
                ahead[i] += 7 * e[i];
                belowBehind[i] += 3 * e[i];
                below[i] += 5 * e[i];
                belowAhead[i] += e[i];
            }
        }
        std::swap(errA, errB);
    }

    for (int i = 0; i < n; ++i) q->palette[i] = uint32_t(pr[i]) << 16 | uint32_t(pg[i]) << 8 | pb[i];
    int total = n;
    if (hasTransparent) q->palette[total++] = q->transparent & 0xFFFFFF;
    else if (q->reserve) q->palette[total++] = 0;
    *q->count = total;
    q->transparentIndex = hasTransparent ? n : -1;
    q->done = 1;
    return true;
}

} // namespace

extern "C" {

void qxQuantize(qxQuantizeRequest *q)
{
    q->done = 0;
    if (!validRequest(q)) return;
    const int wanted = std::min(*q->count, 256);
    const int limit = q->reserve ? wanted - 1 : wanted;
    if (exactPalette(q, limit)) return;
    medianCut(q);
}

uint32_t qxQuantizeToPalette(const void *pixels, uint32_t layout, uint32_t bytesPerPixel, int32_t width,
                             int32_t height, int32_t pitch, uint8_t *indices, uint32_t *palette, int32_t *count,
                             uint32_t transparent, uint32_t reserve, uint32_t dither, int32_t *transparentIndex)
{
    qxQuantizeRequest q{pixels, layout, bytesPerPixel, width, height, pitch, indices, palette, count,
                        transparent, reserve, dither, 0, -1};
    qxQuantize(&q);
    if (q.done && transparentIndex) *transparentIndex = q.transparentIndex;
    return q.done;
}
}
