// Stripes, quarters, blinds and bars: bands wiped in on a regular grid.
#include <cstdlib>

#include "fx/qx_fxwipes.h"

namespace {

struct Stripes {
    int32_t thickness, pos;
};

struct Quarters {
    int32_t hx, hy, pos, wodd;
};

struct Blinds {
    int32_t thickness, count, pos;
};

int32_t stripeThickness(const qxTransitionFX *fx, int32_t travel)
{
    static const int32_t fixed[] = {0, 2, 4, 8, 16, 32, 64};
    const int32_t k = fx->effect >= 7 ? fx->effect - 7 : fx->effect;
    int32_t b;
    if (k > 0 && k < 7) return fixed[k];
    if (fx->parameter == QX_FX_RANDOMPARAMETER) {
        const int r1 = rand(), r2 = rand();
        int32_t divisor = travel / (r2 % 8 + 2);
        b = r1 % (divisor < 1 ? 1 : divisor);
    } else {
        b = fx->parameter;
    }
    return b < 1 ? 1 : b;
}

int stripes(qxTransitionFX *fx, int *done, bool vertical)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const int32_t L = vertical ? fx->height : fx->width, other = vertical ? fx->width : fx->height;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(Stripes))) return e;
        auto *d = qxFXData<Stripes>(fx);
        d->thickness = stripeThickness(fx, L);
        int32_t s = qxFXStepSize(fx->speed, L, 70, 30, 200);
        if (s >= L) s = L > 1 ? L - 1 : 1;
        fx->speed = s;
        fx->frames = qxFXFrameCount(L - s, s, 0);
        return 0;
    }
    auto *d = qxFXData<Stripes>(fx);
    const int32_t s = fx->speed, b = d->thickness;
    if (fx->frame == 0) d->pos = 0;
    qxFXFrameStart(fx);
    if (d->pos >= L - s) {
        d->pos = L - s < 0 ? 0 : L - s;
        *done = 1;
    }
    const int32_t p = d->pos;
    for (int64_t r = 0; r < other; r += 2 * int64_t(b)) {
        const int32_t r1 = int32_t(r), r2 = r + b < other ? int32_t(r + b) : other;
        if (vertical) {
            qxFXBlitPiece(fx, r1, p, b, s);
            qxFXBlitPiece(fx, r2, fx->height - p - s, b, s);
        } else {
            qxFXBlitPiece(fx, p, r1, s, b);
            qxFXBlitPiece(fx, fx->width - p - s, r2, s, b);
        }
    }
    d->pos = p + s;
    qxFXFrameEnd(fx);
    return 0;
}

int blinds(qxTransitionFX *fx, int *done, bool vertical)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(Blinds))) return e;
        auto *d = qxFXData<Blinds>(fx);
        const int32_t first = vertical ? 19 : 14;
        d->thickness = 8 << (fx->effect - first);
        d->count = (vertical ? fx->width : fx->height) / d->thickness;
        int32_t s = qxFXStepSize(fx->speed, d->thickness, 8, 3, 20);
        if (s > d->thickness / 2) s = d->thickness / 2;
        fx->speed = s;
        d->pos = s;
        fx->frames = qxFXFrameCount(d->thickness - s, s, 0);
        return 0;
    }
    auto *d = qxFXData<Blinds>(fx);
    const int32_t s = fx->speed, t = d->thickness;
    if (fx->frame == 0) d->pos = s;
    qxFXFrameStart(fx);
    if (d->pos >= t) {
        d->pos = t;
        *done = 1;
    }
    for (int32_t i = 0; i <= d->count; i++) {
        const int32_t at = i * t + d->pos - s;
        if (vertical) qxFXBlitPiece(fx, at, 0, s, fx->height);
        else qxFXBlitPiece(fx, 0, at, fx->width, s);
    }
    d->pos += s;
    qxFXFrameEnd(fx);
    return 0;
}

} // namespace

int qxFXStripesH(qxTransitionFX *fx, int *done)
{
    return stripes(fx, done, false);
}

int qxFXStripesV(qxTransitionFX *fx, int *done)
{
    return stripes(fx, done, true);
}

int qxFXQuarters(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const int32_t W = fx->width, H = fx->height;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(Quarters))) return e;
        auto *d = qxFXData<Quarters>(fx);
        d->hx = W / 2, d->hy = H / 2, d->wodd = W % 2;
        int32_t s = qxFXStepSize(fx->speed, W, 70, 30, 200);
        if (s > H / 4) s = H / 4;
        fx->speed = s;
        fx->frames = qxFXFrameCount(H - 1 - d->hy - s, s + 1, 0);
        return 0;
    }
    auto *d = qxFXData<Quarters>(fx);
    const int32_t s = fx->speed, hx = d->hx, hy = d->hy, limit = H - 1 - hy - s;
    if (fx->frame == 0) d->pos = 0;
    qxFXFrameStart(fx);
    if (d->pos >= limit) {
        d->pos = limit;
        *done = 1;
    }
    const int32_t p = d->pos;
    qxFXBlitPiece(fx, 0, p, hx, s + 1);
    qxFXBlitPiece(fx, 0, hy + p, hx, s + 1);
    qxFXBlitPiece(fx, hx, H - p - hy - s - 1, hx, s + 1);
    qxFXBlitPiece(fx, hx, H - 1 - p - s, hx, s + 1);
    if (d->wodd) {
        qxFXBlitPiece(fx, 2 * hx, H - p - hy - s - 1, 1, s + 1);
        qxFXBlitPiece(fx, 2 * hx, H - 1 - p - s, 1, s + 1);
    }
    d->pos = p + s + 1;
    qxFXFrameEnd(fx);
    return 0;
}

int qxFXBlindsH(qxTransitionFX *fx, int *done)
{
    return blinds(fx, done, false);
}

int qxFXBlindsV(qxTransitionFX *fx, int *done)
{
    return blinds(fx, done, true);
}

int qxFXBars(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(int32_t))) return e;
        int32_t s = qxFXStepSize(fx->speed, 16, 16, 8, 40);
        if (s > 8) s = 8;
        fx->speed = s;
        fx->frames = qxFXFrameCount(23, s + 1, 0);
        return 0;
    }
    int32_t &q = *qxFXData<int32_t>(fx);
    const int32_t s = fx->speed, W = fx->width, H = fx->height;
    if (fx->frame == 0) q = 0;
    qxFXFrameStart(fx);
    if (q > 22) {
        q = 23;
        *done = 1;
    }
    if (q <= 8) {
        const int32_t c = W / 16, wr = W % 16;
        for (int32_t i = 0; i < c; i++) qxFXBlitPiece(fx, 16 * i, 0, q + 1, H);
        if (wr > 0) qxFXBlitPiece(fx, 16 * c, 0, wr, H);
    } else {
        const int32_t c = H / 16, hr = H % 16;
        for (int32_t i = 0; i < c; i++) qxFXBlitPiece(fx, 0, 16 * i, W, q - 7);
        if (hr > 0) qxFXBlitPiece(fx, 0, 16 * c, W, hr);
    }
    q += s + 1;
    qxFXFrameEnd(fx);
    return 0;
}
