// Point colour effects: gray, invert, solarize, gamma, contrast, modulate,
// normalize, sepia, monochrome, tint and mix.
#include "imaging/qx_coloreffects.h"

#include <climits>
#include <cmath>

#include "imaging/qx_blit.h"
#include "imaging/qx_channels.h"

namespace {

// Native ARGB rows in a loop the compiler can vectorise: the same double
// sums as qxIntensity, without fused multiply-adds on any level.
__attribute__((always_inline)) inline void grayNativeBody(uint32_t *row, int32_t w)
{
    for (int32_t x = 0; x < w; ++x) {
        uint32_t p = row[x];
        double d = 0.299 * double(p >> 16 & 0xFF) + 0.587 * double(p >> 8 & 0xFF) + 0.114 * double(p & 0xFF);
        uint32_t g = uint32_t(int32_t(d));
        row[x] = g << 16 | g << 8 | g;
    }
}
void grayNativeBase(uint32_t *row, int32_t w) { grayNativeBody(row, w); }
QX_AVX2 void grayNativeAvx2(uint32_t *row, int32_t w) { grayNativeBody(row, w); }

template <class P> void gray(typename P::T *pixels, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int mono)
{
    if (!pixels || w < 1 || h < 1) return;
    if constexpr (sizeof(typename P::T) == 4)
        if (layout == QX_PIXFMT_ARGB32 && !mono) {
            const auto row = qxPickKernel(grayNativeBase, grayNativeAvx2);
            for (int32_t y = 0; y < h; ++y) row(pixels + int64_t(y) * pitch, w);
            return;
        }
    for (int32_t y = 0; y < h; ++y) {
        typename P::T *row = pixels + int64_t(y) * pitch;
        for (int32_t x = 0; x < w; ++x) {
            int32_t r, g, b;
            P::get(layout, row[x], r, g, b);
            int32_t i = qxIntensity(r, g, b);
            if (mono) row[x] = i < 129 ? 0 : (sizeof(typename P::T) == 4 ? 0xFFFFFF : 0xFFFF);
            else row[x] = P::put(layout, i, i, i);
        }
    }
}

template <class T> void invert(T *pixels, int32_t w, int32_t h, int32_t pitch)
{
    if (!pixels || w < 1 || h < 1) return;
    for (int32_t y = 0; y < h; ++y) {
        T *row = pixels + int64_t(y) * pitch;
        for (int32_t x = 0; x < w; ++x) row[x] = T(~row[x]);
    }
}

int32_t clampByte(int32_t t) { return t < 0 ? 0 : t > 255 ? 255 : t; }

template <class P> void solarize(typename P::T *pixels, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int32_t t)
{
    t = clampByte(t);
    qxMapChannels<P>(pixels, w, h, pitch, layout, [t](int32_t &r, int32_t &g, int32_t &b) {
        if (r > t) r = 255 - r;
        if (g > t) g = 255 - g;
        if (b > t) b = 255 - b;
    });
}

template <class P>
void gamma(typename P::T *pixels, int32_t w, int32_t h, int32_t pitch, uint32_t layout, const uint8_t *rt,
           const uint8_t *gt, const uint8_t *bt, uint32_t flags)
{
    if (((flags & 1) && !rt) || ((flags & 2) && !gt) || ((flags & 4) && !bt)) return;
    qxMapChannels<P>(pixels, w, h, pitch, layout, [=](int32_t &r, int32_t &g, int32_t &b) {
        if (flags & 1) r = rt[r];
        if (flags & 2) g = gt[g];
        if (flags & 4) b = bt[b];
    });
}

void contrastPixel(int32_t &r, int32_t &g, int32_t &b, double s)
{
    int32_t mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    int32_t mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
    if (mx == 0) {
        r = g = b = 0;
        return;
    }
    double br = mx * 0.00392156862745098;
    double delta = mx - mn;
    double sat = delta / mx;
    double hue = 0;
    if (delta != 0) {
        if (mx == r) hue = (g - b) / delta;
        else if (mx == g) hue = 2 + (b - r) / delta;
        else hue = 4 + (r - g) / delta;
    }
    hue /= 6;
    if (hue < 0) hue += 1;
    double nb = br + s * 0.5 * (0.5 * (std::sin(M_PI * (br - 0.5)) + 1) - br);
    if (nb < 0) nb = 0;
    if (nb > 1) nb = 1;
    if (sat == 0) {
        r = g = b = qxClampTrunc(nb * 255);
        return;
    }
    double k = (hue - std::floor(hue)) * 6, f = k - std::floor(k);
    int32_t i = int32_t(k);
    double p = (1 - sat) * nb, q = (1 - sat * f) * nb, t = (1 - sat * (1 - f)) * nb;
    double R, G, B;
    switch (i) {
    case 1: R = q, G = nb, B = p; break;
    case 2: R = p, G = nb, B = t; break;
    case 3: R = p, G = q, B = nb; break;
    case 4: R = t, G = p, B = nb; break;
    case 5: R = nb, G = p, B = q; break;
    default: R = nb, G = t, B = p; break;
    }
    r = qxClampTrunc(R * 255), g = qxClampTrunc(G * 255), b = qxClampTrunc(B * 255);
}

// Wraps into [0, 1] as repeated subtraction or addition of 1 would; each
// step is exact, so fmod gives the same value without the loop.
double wrapUnit(double h)
{
    if (h > 1) {
        h = std::fmod(h, 1.0);
        if (h == 0) h = 1;
    } else if (h < 0) {
        h = std::fmod(h, 1.0);
        if (h < 0) h += 1;
    }
    return h;
}

double hslValue(double m1, double m2, double h)
{
    if (h < 0) h += 1;
    else if (h > 1) h -= 1;
    if (6 * h < 1) return m1 + (m2 - m1) * 6 * h;
    if (2 * h < 1) return m2;
    if (3 * h < 2) return m1 + (m2 - m1) * 6 * (2.0 / 3.0 - h);
    return m1;
}

void modulatePixel(int32_t &ri, int32_t &gi, int32_t &bi, double bf, double sf, double hshift)
{
    double r = ri / 255.0, g = gi / 255.0, b = bi / 255.0;
    double mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    double mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
    double L = (mx + mn) / 2, H = 0, S = 0;
    if (mx != mn) {
        double delta = mx - mn;
        S = L < 0.5 ? delta / (mx + mn) : delta / (2 - mx - mn);
        double dr = ((mx - r) / 6 + delta / 2) / delta;
        double dg = ((mx - g) / 6 + delta / 2) / delta;
        double db = ((mx - b) / 6 + delta / 2) / delta;
        if (mx == r) H = db - dg;
        else if (mx == g) H = 1.0 / 3.0 + dr - db;
        else H = 2.0 / 3.0 + dg - dr;
        if (H < 0) H += 1;
        else if (H > 1) H -= 1;
    }
    H = wrapUnit(H + hshift);
    S *= sf;
    L *= bf;
    if (S == 0) {
        ri = gi = bi = qxClampTrunc(L * 255);
        return;
    }
    double m2 = L <= 0.5 ? L * (S + 1) : L + S - L * S;
    double m1 = 2 * L - m2;
    ri = qxClampTrunc(hslValue(m1, m2, H + 1.0 / 3.0) * 255);
    gi = qxClampTrunc(hslValue(m1, m2, H) * 255);
    bi = qxClampTrunc(hslValue(m1, m2, H - 1.0 / 3.0) * 255);
}

template <class P> void normalize(const qxNormalizeRecord *rec)
{
    auto *pixels = static_cast<typename P::T *>(rec->pixels);
    int32_t w = rec->width, h = rec->height;
    if (!pixels || w < 1 || h < 1) return;
    uint64_t hist[256] = {};
    for (int32_t y = 0; y < h; ++y) {
        const typename P::T *row = pixels + int64_t(y) * rec->pitch;
        for (int32_t x = 0; x < w; ++x) {
            int32_t r, g, b;
            P::get(rec->layout, row[x], r, g, b);
            ++hist[qxIntensity(r, g, b)];
        }
    }
    int64_t total = int64_t(w) * h;
    int32_t low = 0, high = 0;
    int64_t sum = 0;
    for (int32_t i = 0; i < 256; ++i)
        if ((sum += int64_t(hist[i])) > rec->blackCount) {
            low = i;
            break;
        }
    sum = 0;
    for (int32_t i = 255; i >= 1; --i)
        if ((sum += int64_t(hist[i])) > total - rec->whiteCount) {
            high = i;
            break;
        }
    if (low == high) return; // the three channels share the histogram
    uint8_t map[256];
    for (int32_t i = 0; i < 256; ++i)
        map[i] = uint8_t(i < low ? 0 : i > high ? 255 : (i - low) * 255 / (high - low));
    qxMapChannels<P>(pixels, w, h, rec->pitch, rec->layout, [&](int32_t &r, int32_t &g, int32_t &b) {
        r = map[r], g = map[g], b = map[b];
    });
}

template <class P> void sepia(typename P::T *pixels, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int32_t t)
{
    t = clampByte(t);
    double t76 = 7.0 * t / 6.0, t6 = t / 6.0, t7 = t / 7.0;
    int32_t t7i = t7 > 255 ? 255 : int32_t(t7);
    qxMapChannels<P>(pixels, w, h, pitch, layout, [=](int32_t &r, int32_t &g, int32_t &b) {
        double I = 0.299 * r + 0.587 * g + 0.114 * b;
        r = I > t ? 255 : qxClampTrunc(I + 255 - t);
        g = I > t76 ? 255 : qxClampTrunc(I + 255 - t76);
        b = I < t6 ? 0 : qxClampTrunc(I - t6);
        if (t7 > g) g = t7i;
        if (t7 > b) b = t7i;
    });
}

template <class P> void tint(const qxTintRecord *rec)
{
    if (!rec->pixels || rec->width < 1 || rec->height < 1) return;
    int32_t cr, cg, cb;
    if constexpr (sizeof(typename P::T) == 4)
        cr = int32_t((rec->colour >> 16) & 0xFF), cg = int32_t((rec->colour >> 8) & 0xFF), cb = int32_t(rec->colour & 0xFF);
    else
        cr = int32_t(qxRed16(rec->colour)), cg = int32_t(qxGreen16(rec->colour)), cb = int32_t(qxBlue16(rec->colour));
    int32_t level = rec->level;
    auto *base = static_cast<typename P::T *>(rec->pixels) + int64_t(rec->y) * rec->pitch + rec->x;
    qxMapChannels<P>(base, rec->width, rec->height, rec->pitch, rec->layout, [=](int32_t &r, int32_t &g, int32_t &b) {
        r += ((cr - r) * level) >> 8;
        g += ((cg - g) * level) >> 8;
        b += ((cb - b) * level) >> 8;
    });
}

template <class P>
void mix(const qxMixRecord *rec, int32_t w, int32_t h, int32_t level, uint32_t layout, int32_t sp, int32_t dp,
         int32_t mbpr)
{
    if (!rec || !rec->source || !rec->destination || w < 1 || h < 1) return;
    int32_t k = 255 - level;
    for (int32_t y = 0; y < h; ++y) {
        const auto *s = static_cast<const typename P::T *>(rec->source) + int64_t(y) * sp;
        auto *d = static_cast<typename P::T *>(rec->destination) + int64_t(y) * dp;
        const uint8_t *m = rec->mask ? rec->mask + int64_t(y) * mbpr : nullptr;
        for (int32_t x = 0; x < w; ++x) {
            if (m) {
                int64_t bit = int64_t(rec->maskStartBit) + x;
                if (!(m[bit >> 3] & (0x80 >> (bit & 7)))) continue;
            }
            int32_t sr, sg, sb, dr, dg, db;
            P::get(layout, s[x], sr, sg, sb);
            P::get(layout, d[x], dr, dg, db);
            d[x] = P::put(layout, sr + (((dr - sr) * k) >> 8), sg + (((dg - sg) * k) >> 8),
                          sb + (((db - sb) * k) >> 8));
        }
    }
}

} // namespace

extern "C" {

int32_t qxIntensity(int32_t r, int32_t g, int32_t b) { return int32_t(0.299 * r + 0.587 * g + 0.114 * b); }

void qxGrayPixels32(uint32_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int mono)
{
    gray<qxPx32>(p, w, h, pitch, layout, mono);
}
void qxGrayPixels16(uint16_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int mono)
{
    gray<qxPx16>(p, w, h, pitch, layout, mono);
}
void qxInvertPixels32(uint32_t *p, int32_t w, int32_t h, int32_t pitch) { invert(p, w, h, pitch); }
void qxInvertPixels16(uint16_t *p, int32_t w, int32_t h, int32_t pitch) { invert(p, w, h, pitch); }
void qxInvertBytePlane(uint8_t *plane, int32_t height, int32_t bytesPerRow)
{
    invert(plane, bytesPerRow, height, bytesPerRow);
}
void qxSolarize32(uint32_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int32_t t)
{
    solarize<qxPx32>(p, w, h, pitch, layout, t);
}
void qxSolarize16(uint16_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int32_t t)
{
    solarize<qxPx16>(p, w, h, pitch, layout, t);
}

void qxGammaTable(uint8_t table[256], double g)
{
    for (int i = 0; i < 256; ++i) {
        if (g == 0) {
            table[i] = 0;
            continue;
        }
        double v = 255 * std::pow(i / 255.0, 1 / g);
        table[i] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : int32_t(v + 0.5));
    }
}
void qxGamma32(uint32_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, const uint8_t *r, const uint8_t *g,
               const uint8_t *b, uint32_t flags)
{
    gamma<qxPx32>(p, w, h, pitch, layout, r, g, b, flags);
}
void qxGamma16(uint16_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, const uint8_t *r, const uint8_t *g,
               const uint8_t *b, uint32_t flags)
{
    gamma<qxPx16>(p, w, h, pitch, layout, r, g, b, flags);
}

void qxContrast32(uint32_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int sharpen)
{
    double s = sharpen ? 1 : -1;
    qxMapChannels<qxPx32>(p, w, h, pitch, layout,
                          [s](int32_t &r, int32_t &g, int32_t &b) { contrastPixel(r, g, b, s); });
}
void qxContrast16(uint16_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int sharpen)
{
    double s = sharpen ? 1 : -1;
    qxMapChannels<qxPx16>(p, w, h, pitch, layout,
                          [s](int32_t &r, int32_t &g, int32_t &b) { contrastPixel(r, g, b, s); });
}

int qxModulatePercent(double factor, int32_t *percent)
{
    if (!std::isfinite(factor)) return 0;
    double v = (factor > 0 ? factor : 0) * 100;
    *percent = v >= double(INT32_MAX) ? INT32_MAX : int32_t(v);
    return 1;
}

void qxModulate32(uint32_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int32_t bp, int32_t sp,
                  int32_t hp)
{
    double bf = bp * 0.01, sf = sp * 0.01, hs = (hp * 0.01 - 1) * 0.5;
    qxMapChannels<qxPx32>(p, w, h, pitch, layout,
                          [=](int32_t &r, int32_t &g, int32_t &b) { modulatePixel(r, g, b, bf, sf, hs); });
}
void qxModulate16(uint16_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int32_t bp, int32_t sp,
                  int32_t hp)
{
    double bf = bp * 0.01, sf = sp * 0.01, hs = (hp * 0.01 - 1) * 0.5;
    qxMapChannels<qxPx16>(p, w, h, pitch, layout,
                          [=](int32_t &r, int32_t &g, int32_t &b) { modulatePixel(r, g, b, bf, sf, hs); });
}

void qxNormalizePixels(const qxNormalizeRecord *record)
{
    if (!record) return;
    if (record->bytesPerPixel == 4) normalize<qxPx32>(record);
    else if (record->bytesPerPixel == 2) normalize<qxPx16>(record);
}

void qxSepia32(uint32_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int32_t t)
{
    sepia<qxPx32>(p, w, h, pitch, layout, t);
}
void qxSepia16(uint16_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, int32_t t)
{
    sepia<qxPx16>(p, w, h, pitch, layout, t);
}

void qxIndexToMono32(uint32_t *p, const uint8_t *idx, int32_t w, int32_t h, int32_t pitch, uint32_t layout)
{
    if (!p || !idx || w < 1 || h < 1) return;
    uint32_t white = layout == 10 || layout == 13 ? 0xFFFFFFu : layout == 11 || layout == 12 ? 0xFFFFFF00u : 0u;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) p[int64_t(y) * pitch + x] = idx[int64_t(y) * w + x] ? white : 0;
}
void qxIndexToMono16(uint16_t *p, const uint8_t *idx, int32_t w, int32_t h, int32_t pitch)
{
    if (!p || !idx || w < 1 || h < 1) return;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) p[int64_t(y) * pitch + x] = idx[int64_t(y) * w + x] ? 0xFFFF : 0;
}

void qxTintRect32(const qxTintRecord *record)
{
    if (record) tint<qxPx32>(record);
}
void qxTintRect16(const qxTintRecord *record)
{
    if (record) tint<qxPx16>(record);
}

void qxMixPixels32(const qxMixRecord *r, int32_t w, int32_t h, int32_t level, uint32_t layout, int32_t sp,
                   int32_t dp, int32_t mbpr)
{
    mix<qxPx32>(r, w, h, level, layout, sp, dp, mbpr);
}
void qxMixPixels16(const qxMixRecord *r, int32_t w, int32_t h, int32_t level, uint32_t layout, int32_t sp,
                   int32_t dp, int32_t mbpr)
{
    mix<qxPx16>(r, w, h, level, layout, sp, dp, mbpr);
}
}
