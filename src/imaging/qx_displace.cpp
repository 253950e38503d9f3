// Swirl and water ripple with their three output modes.
#include "imaging/qx_displace.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "imaging/qx_areaeffects.h"
#include "imaging/qx_channels.h"
#include "imaging/qx_displacerows.h"

namespace {

constexpr double kTwoPi = 6.28318530717959;

int32_t clampTo(double v, int32_t size)
{
    if (!(v >= 0)) return 0; // negative or NaN
    if (v >= double(size - 1)) return size - 1;
    return int32_t(v);
}

inline bool bitAt(const uint8_t *plane, int32_t bpr, int32_t x, int32_t y)
{
    return plane[int64_t(y) * bpr + (x >> 3)] & (0x80 >> (x & 7));
}

// Positions are made for runs of this many pixels of a row, on the stack.
constexpr int32_t kRun = 256;

// How the blend output reads the pictures: near the pixel itself (the
// processor's own prefetch follows), displaced by many pixels (prefetch
// every few), or scattered across rows (the swirl: by bands of rows).
enum class Reads { near, far, scattered };

// The shared output stage. fast(y, x0, n, ox, oy) places a run of a row and
// may decline; slow(x, y, sx, sy) then places each pixel of it.
template <class P, class Fast, class Slow>
void displace(qxDisplaceRecord *r, int32_t level, Reads reads, Fast fast, Slow slow)
{
    using T = typename P::T;
    int32_t w = r->width, h = r->height;
    if (!r->destination || w < 1 || h < 1) return;
    auto *dst = static_cast<T *>(r->destination);
    alignas(64) int32_t ox[kRun], oy[kRun];
    auto place = [&](int32_t y, int32_t x0, int32_t n) {
        if (!fast(y, x0, n, ox, oy))
            for (int32_t i = 0; i < n; ++i) slow(x0 + i, y, ox[i], oy[i]);
    };
    if (r->sourceAlpha) {
        // Fade mode: the transition road. Without a source the pixels are
        // read from the destination as it is being written.
        const T *src = static_cast<const T *>(r->source ? r->source : r->destination);
        int32_t sp = r->source ? r->sourcePitch : r->destPitch;
        int32_t f = r->reverse ? 255 - level : level;
        f = f < 0 ? 0 : f > 255 ? 255 : f;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x0 = 0; x0 < w; x0 += kRun) {
                const int32_t n = w - x0 < kRun ? w - x0 : kRun;
                place(y, x0, n);
                for (int32_t i = 0; i < n; ++i) {
                    const int32_t x = x0 + i, sx = ox[i], sy = oy[i];
                    uint8_t a = r->sourceAlpha[int64_t(sy) * r->sourceAlphaBytesPerRow + sx];
                    uint8_t *da = r->destAlpha ? r->destAlpha + int64_t(y) * r->destAlphaBytesPerRow + x : nullptr;
                    if (!a) {
                        if (da) *da = 0;
                        continue;
                    }
                    dst[int64_t(y) * r->destPitch + x] = src[int64_t(sy) * sp + sx];
                    if (da) *da = uint8_t(a * f / 255);
                }
            }
        return;
    }
    // Normal mode: read from copies of whatever the destination is also.
    std::unique_ptr<T[]> pixCopy;
    std::unique_ptr<uint8_t[]> maskCopy, alphaCopy;
    const T *src = static_cast<const T *>(r->source);
    int32_t sp = r->sourcePitch;
    if (!src) {
        pixCopy.reset(new (std::nothrow) T[size_t(w) * size_t(h)]);
        if (!pixCopy) return;
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(pixCopy.get() + int64_t(y) * w, dst + int64_t(y) * r->destPitch, size_t(w) * sizeof(T));
        src = pixCopy.get(), sp = w;
    }
    const uint8_t *smask = r->sourceMask;
    int32_t smbpr = r->sourceMaskBytesPerRow;
    if (!smask && r->destMask) {
        size_t n = size_t(r->destMaskBytesPerRow) * size_t(h);
        maskCopy.reset(new (std::nothrow) uint8_t[n]);
        if (!maskCopy) return;
        std::memcpy(maskCopy.get(), r->destMask, n);
        smask = maskCopy.get(), smbpr = r->destMaskBytesPerRow;
    }
    const uint8_t *salpha = nullptr;
    if (r->destAlpha) {
        size_t n = size_t(r->destAlphaBytesPerRow) * size_t(h);
        alphaCopy.reset(new (std::nothrow) uint8_t[n]);
        if (!alphaCopy) return;
        std::memcpy(alphaCopy.get(), r->destAlpha, n);
        salpha = alphaCopy.get();
    }
    const T *blend = static_cast<const T *>(r->blend);
    // Copied out: the pixel stores could alias the record and force a
    // reload of every field per pixel.
    const uint32_t layout = r->layout;
    const int32_t dp = r->destPitch, bp = r->blendPitch;
    // The swirl's second half (p past 360) asks for levels up to 510; the
    // blend stays between the two pictures rather than wrapping channels.
    level = level < 0 ? 0 : level > 255 ? 255 : level;
    // The transitions' road: whole 32-bit words mixed byte by byte, where
    // the pixel offsets fit the row kernel's 32-bit arithmetic. Every
    // 32-bit layout keeps its colour in three bytes and gets 0 in the fourth.
    if constexpr (sizeof(T) == 4) {
        const int64_t last = int64_t(h - 1) * (sp > bp ? sp : bp) + w - 1;
        // The row kernel reads ahead of its writes: no plane may overlap
        // the destination.
        auto apart = [&](const T *a, int32_t pitch) {
            const T *aEnd = a + int64_t(h - 1) * pitch + w, *dEnd = dst + int64_t(h - 1) * dp + w;
            const std::less<const T *> before;
            return !before(dst, aEnd) || !before(a, dEnd);
        };
        if (blend && sp >= 0 && bp >= 0 && dp >= 0 && last <= INT32_MAX && apart(src, sp) && apart(blend, bp)) {
            const uint32_t keep = qxToLayout32(layout, 0x00FFFFFFu);
            const qxDisplaceRows &rows = qxDisplaceRowFunctions();
            // Far and scattered reads: each run's pixels are fetched while
            // the next run's positions are made, and mixed after that.
            // Scattered reads go by bands of rows, a run wide, so that the
            // pages and lines they touch are still at hand for the next row.
            const bool scattered = reads == Reads::scattered;
            const int32_t band = scattered ? 32 : 1, stride = scattered ? 2 : reads == Reads::far ? 4 : 0;
            const uint32_t f = uint32_t(level);
            alignas(64) int32_t so[2][kRun], bo[2][kRun];
            uint32_t *pending = nullptr;
            int32_t pendingN = 0, slot = 0;
            for (int32_t y0 = 0; y0 < h; y0 += band)
                for (int32_t x0 = 0; x0 < w; x0 += kRun)
                    for (int32_t y = y0; y < h && y < y0 + band; ++y) {
                        const int32_t n = w - x0 < kRun ? w - x0 : kRun;
                        uint32_t *out = dst + int64_t(y) * dp + x0;
                        // Rows of a band jump back: the next row's output is
                        // asked for ahead.
                        if (scattered && y + 1 < h)
                            for (int32_t k = 0; k < n; k += 16) __builtin_prefetch(out + dp + k, 1);
                        place(y, x0, n);
                        rows.offsets(ox, oy, n, sp, bp, src, blend, stride, so[slot], bo[slot]);
                        if (!stride) { // near reads arrive in time: mixed at once
                            rows.mix32(src, blend, so[slot], bo[slot], out, n, f, keep);
                            continue;
                        }
                        if (pending) rows.mix32(src, blend, so[slot ^ 1], bo[slot ^ 1], pending, pendingN, f, keep);
                        pending = out, pendingN = n, slot ^= 1;
                    }
            if (pending) rows.mix32(src, blend, so[slot ^ 1], bo[slot ^ 1], pending, pendingN, f, keep);
            return;
        }
    }
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x0 = 0; x0 < w; x0 += kRun) {
            const int32_t n = w - x0 < kRun ? w - x0 : kRun;
            place(y, x0, n);
            for (int32_t i = 0; i < n; ++i) {
                const int32_t x = x0 + i, sx = ox[i], sy = oy[i];
                T c = src[int64_t(sy) * sp + sx];
                T &d = dst[int64_t(y) * dp + x];
                if (blend) {
                    int32_t cr, cg, cb, br, bg, bb;
                    P::get(layout, c, cr, cg, cb);
                    P::get(layout, blend[int64_t(sy) * bp + sx], br, bg, bb);
                    d = P::put(layout, br + (((cr - br) * level) >> 8), bg + (((cg - bg) * level) >> 8),
                               bb + (((cb - bb) * level) >> 8));
                    continue;
                }
                d = c;
                if (r->destMask && smask) {
                    uint8_t *m = r->destMask + int64_t(y) * r->destMaskBytesPerRow + (x >> 3);
                    if (bitAt(smask, smbpr, sx, sy)) *m |= uint8_t(0x80 >> (x & 7));
                    else *m &= uint8_t(~(0x80 >> (x & 7)));
                }
                if (salpha)
                    r->destAlpha[int64_t(y) * r->destAlphaBytesPerRow + x] =
                        salpha[int64_t(sy) * r->destAlphaBytesPerRow + sx];
            }
        }
}

// The displacement factor of a pixel at distance d from the centre.
double rippleFactor(double phase, double d, const qxDisplaceRecord *r)
{
    double a = d / r->wavelength * kTwoPi - phase;
    // Angles many turns out (far pixels, short waves) are brought near the
    // range first, so the loops below stay short: the loops alone cost one
    // pass per turn and per pixel. Near angles take the loops alone.
    if (std::fabs(a) > 16 * kTwoPi) a = std::fmod(a, kTwoPi);
    while (a > kTwoPi) a -= kTwoPi;
    while (a < 0) a += kTwoPi;
    int32_t i = int32_t(a / 0.001);
    if (i >= QX_TRIG_ENTRIES) i = QX_TRIG_ENTRIES - 1;
    double v = 0;
    // No radius (the centre in the top-left corner): no displacement.
    if (r->radius != 0) {
        v = r->amplitude * r->table2[i] * (r->radius - d) / r->radius;
        if (d != 0) v = v * r->wavelength / d;
    }
    return v;
}

// The distance of every pixel from the centre depends only on the size, so
// a run of frames of one size measures it once, in two bytes (the row
// kernels need R below 65535 anyway); kSwirlOutside marks the pixels
// outside the circle. None when memory runs out or R is larger (the caller
// then measures per pixel).
const uint16_t *swirlDistances(int32_t w, int32_t h, double cx, double cy, double R, double sx, double sy)
{
    struct Cache {
        int32_t w = 0, h = 0;
        std::vector<uint16_t> distance;
    };
    thread_local Cache cache;
    if (cache.w == w && cache.h == h && !cache.distance.empty()) return cache.distance.data();
    cache = {};
    if (!(R < kSwirlOutside)) return nullptr;
    try {
        cache.distance.resize(size_t(w) * size_t(h));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    uint16_t *out = cache.distance.data();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double dx = (x - cx) * sx, dy = (y - cy) * sy, d2 = dx * dx + dy * dy;
            *out++ = d2 < R * R ? uint16_t(qxIntSqrt(int64_t(d2))) : kSwirlOutside;
        }
    cache.w = w, cache.h = h;
    return cache.distance.data();
}

template <class P> void swirl(qxDisplaceRecord *r, double p)
{
    if (!r || !std::isfinite(p) || r->width < 1 || r->height < 1) return;
    int32_t level = int32_t(std::fmax(-1e9, std::fmin(1e9, p * 255 / 360)));
    double angle = p > 359 ? 720 - p : p;
    double theta = angle * 0.017453292519943295;
    double cx = r->width / 2.0, cy = r->height / 2.0;
    double R = cx > cy ? cx : cy, sx = 1, sy = 1;
    if (r->width <= r->height) sx = double(r->height) / r->width;
    else sy = double(r->width) / r->height;
    const double *sine = r->table1, *cosine = r->table2;
    bool tables = angle >= 0 && sine && cosine;
    const uint16_t *distance = swirlDistances(r->width, r->height, cx, cy, R, sx, sy);
    const int32_t w = r->width, h = r->height;
    auto rotation = [&](int32_t di, double &s, double &c) {
        double d = di, f = 1 - d / R, phi = theta * f * f;
        if (tables) {
            double k = phi / 0.001;
            int32_t i = k < 0 ? 0 : k >= QX_TRIG_ENTRIES ? QX_TRIG_ENTRIES - 1 : int32_t(k);
            s = sine[i], c = cosine[i];
        } else s = std::sin(phi), c = std::cos(phi);
    };
    // The rotation depends only on the whole distance, below R: one sine
    // and cosine pair per distance and frame instead of one per pixel.
    std::vector<double> turns;
    const double maxRadius = std::ceil(R) + 1;
    if (maxRadius < 65536) {
        try {
            turns.resize(2 * size_t(maxRadius));
            for (size_t di = 0; di < size_t(maxRadius); ++di) rotation(int32_t(di), turns[2 * di], turns[2 * di + 1]);
        } catch (const std::bad_alloc &) {
            turns.clear();
        }
    }
    const int32_t known = int32_t(turns.size() / 2);
    auto slow = [&](int32_t x, int32_t y, int32_t &ox, int32_t &oy) {
        double dx = (x - cx) * sx, dy = (y - cy) * sy;
        int32_t di;
        if (distance) {
            const uint16_t d = distance[int64_t(y) * w + x];
            di = d == kSwirlOutside ? -1 : d;
        } else {
            const double d2 = dx * dx + dy * dy;
            di = d2 < R * R ? qxIntSqrt(int64_t(d2)) : -1;
        }
        if (di < 0) {
            ox = x, oy = y;
            return;
        }
        double s, c;
        if (di < known) s = turns[2 * size_t(di)], c = turns[2 * size_t(di) + 1];
        else rotation(di, s, c);
        // One of the scales is 1, whose division changes nothing.
        const double rx = c * dx - s * dy, ry = s * dx + c * dy;
        ox = clampTo((sx == 1 ? rx : rx / sx) + cx, w);
        oy = clampTo((sy == 1 ? ry : ry / sy) + cy, h);
    };
    // Both scales are 1 on a square picture: either row kernel fits.
    const auto rowFn = qxDisplaceRowFunctions().swirl[sx != 1 ? 1 : 0];
    qxSwirlRow row{nullptr, turns.data(), uint32_t(known), cx, cy, sx, sy, 0, 0, double(w - 1),
                   double(h - 1)};
    auto fast = [&](int32_t y, int32_t x0, int32_t n, int32_t *ox, int32_t *oy) {
        if (!distance || !known) return false;
        row.dist = distance + int64_t(y) * w, row.y = y, row.dy = (y - cy) * sy;
        // The band's next row comes next: its distances are fetched now.
        if (y + 1 < h)
            for (int32_t k = 0; k < n; k += 32) __builtin_prefetch(distance + int64_t(y + 1) * w + x0 + k);
        return rowFn(&row, x0, n, ox, oy);
    };
    displace<P>(r, level, Reads::scattered, fast, slow);
    r->sx = 0, r->sy = 0;
}

template <class P> void ripple(qxDisplaceRecord *r, int32_t frame)
{
    if (!r || !r->distance || !r->table2 || r->width < 1 || r->height < 1) return;
    int32_t frames = r->frames > 0 ? r->frames : 1;
    int32_t level = int32_t(int64_t(frame) * 255 / (2 * int64_t(frames)));
    double phase = r->phase;
    if (frame != -1) {
        phase = frame;
        r->amplitude = frame < frames ? frame * r->amplitudeStep : (2.0 * frames - frame) * r->amplitudeStep;
    }
    if (!std::isfinite(phase) || !std::isfinite(r->amplitude) || !std::isfinite(r->wavelength)) return;
    const int32_t *dist = r->distance;
    // The factor depends only on the distance: one entry per distance and
    // frame, computed as qxRippleSource computes it; distances beyond the
    // corners take the per-pixel path.
    std::vector<double> factor;
    double shift = 0; // the largest displacement in pixels
    const double reach = std::hypot(double(r->width) + std::fabs(double(r->cx)),
                                    double(r->height) + std::fabs(double(r->cy))) + 2;
    if (reach < 65536) {
        try {
            factor.resize(size_t(reach));
        } catch (const std::bad_alloc &) {
        }
        for (size_t k = 0; k < factor.size(); ++k) {
            factor[k] = rippleFactor(phase, double(k), r);
            shift = std::fmax(shift, std::fabs(factor[k]) * double(k));
        }
    }
    const int64_t known = int64_t(factor.size());
    const double *table = factor.data();
    const int32_t w = r->width, h = r->height, cx = r->cx, cy = r->cy;
    auto slow = [&](int32_t x, int32_t y, int32_t &ox, int32_t &oy) {
        const int32_t *d = dist + int64_t(y) * w + x;
        if (*d >= 0 && *d < known) {
            const double v = table[*d];
            ox = clampTo(x + (x - cx) * v, w);
            oy = clampTo(y + (y - cy) * v, h);
            return;
        }
        qxRippleSource(phase, x, y, r, d);
        ox = r->sx, oy = r->sy;
    };
    const auto rowFn = qxDisplaceRowFunctions().ripple;
    qxRippleRow row{nullptr, table, uint32_t(known), double(cx), 0, 0, double(w - 1), double(h - 1)};
    auto fast = [&](int32_t y, int32_t x0, int32_t n, int32_t *ox, int32_t *oy) {
        if (!known) return false;
        row.dist = dist + int64_t(y) * w, row.y = y, row.dy = y - cy;
        return rowFn(&row, x0, n, ox, oy);
    };
    displace<P>(r, level, shift >= 16 ? Reads::far : Reads::near, fast, slow);
}

} // namespace

extern "C" {

void qxSwirlSetup(double *sine, double *cosine)
{
    double x = 0;
    for (int32_t k = 0; k < QX_TRIG_ENTRIES; ++k, x += 0.001) {
        if (sine) sine[k] = k ? std::sin(x) : 0.0;
        if (cosine) cosine[k] = k ? std::cos(x) : 1.0;
    }
}

void qxWaterRippleSetup(int32_t *distance, double *sine, int32_t w, int32_t h, int32_t cx, int32_t cy)
{
    if (distance)
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                int64_t dx = x - int64_t(cx), dy = y - int64_t(cy);
                distance[int64_t(y) * w + x] = qxIntSqrt(dx * dx + dy * dy);
            }
    qxSwirlSetup(sine, nullptr);
}

void qxRippleSource(double phase, int32_t x, int32_t y, qxDisplaceRecord *r, const int32_t *distance)
{
    const double v = rippleFactor(phase, *distance, r);
    r->sx = clampTo(x + (x - r->cx) * v, r->width);
    r->sy = clampTo(y + (y - r->cy) * v, r->height);
}

void qxSwirl32(qxDisplaceRecord *r, double angle) { swirl<qxPx32>(r, angle); }
void qxSwirl16(qxDisplaceRecord *r, double angle) { swirl<qxPx16>(r, angle); }
void qxWaterRipple32(qxDisplaceRecord *r, int32_t frame) { ripple<qxPx32>(r, frame); }
void qxWaterRipple16(qxDisplaceRecord *r, int32_t frame) { ripple<qxPx16>(r, frame); }
}
