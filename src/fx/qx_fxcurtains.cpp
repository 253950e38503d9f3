// Curtains, lines and reveals: bands and single lines moving across the
// area along one axis.
#include "fx/qx_fxwipes.h"

namespace {

enum : int32_t {
    VOPENCURTAIN = 24, VCLOSECURTAIN = 25, HOPENCURTAIN = 26, HCLOSECURTAIN = 27, REVEALLEFT = 30, REVEALRIGHT = 31,
    REVEALTOP = 32, REVEALBOTTOM = 33, VLINES2 = 34, HLINES2 = 35, HLINES = 36, VLINES = 37,
};

struct Pair {
    int32_t a, b;
};

// The band [a, b) across the whole area: columns or rows.
void band(qxTransitionFX *fx, bool columns, int32_t a, int32_t b)
{
    if (columns) qxFXBlitPiece(fx, a, 0, b - a, fx->height);
    else qxFXBlitPiece(fx, 0, a, fx->width, b - a);
}

} // namespace

int qxFXCurtain(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const bool columns = fx->effect == VOPENCURTAIN || fx->effect == VCLOSECURTAIN;
    const bool open = fx->effect == VOPENCURTAIN || fx->effect == HOPENCURTAIN;
    const int32_t N = columns ? fx->width : fx->height;
    auto restart = [&](Pair *d) {
        d->a = open ? N / 2 : 0;
        d->b = open ? N / 2 - 1 : N - 1;
    };
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(Pair))) return e;
        restart(qxFXData<Pair>(fx));
        int32_t s = qxFXStepSize(fx->speed, N, 140, 60, 320);
        if (open) {
            if (s > N / 4) s = N / 4;
            fx->frames = qxFXFrameCount(N - 1 - s - (N / 2 - 1), s + 1, 0);
        } else {
            if (s > N / 2) s = 1;
            fx->frames = qxFXFrameCount(N / 2, s + 1, 0);
        }
        fx->speed = s;
        return 0;
    }
    auto *d = qxFXData<Pair>(fx);
    const int32_t s = fx->speed;
    if (fx->frame == 0) restart(d);
    qxFXFrameStart(fx);
    if (open) {
        if (d->b >= N - 1 - s) {
            d->b = N - 1 - s;
            *done = 1;
        }
        if (d->a - s < 0) d->a = s;
        band(fx, columns, d->b, d->b + s + 1);
        band(fx, columns, d->a - s, d->a + 1);
        d->b += s + 1;
        d->a -= s + 1;
    } else {
        if (d->a >= N / 2) {
            d->a = N / 2;
            *done = 1;
        }
        band(fx, columns, d->a, d->a + s + 1);
        band(fx, columns, d->b - s, d->b + 1);
        d->a += s + 1;
        d->b -= s + 1;
    }
    qxFXFrameEnd(fx);
    return 0;
}

int qxFXLines(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const bool columns = fx->effect == VLINES;
    const int32_t N = columns ? fx->width : fx->height;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(Pair))) return e;
        fx->frames = qxFXFrameCount(2 * N, 2, 0);
        return 0;
    }
    int32_t &k = qxFXData<Pair>(fx)->b;
    if (fx->frame == 0) k = 0;
    qxFXFrameStart(fx);
    if (k == 2 * N) *done = 1;
    int32_t c = k;
    if (k >= N) {
        c = 2 * N - k + 1;
        if (c >= N) c = N - 1;
        if (c < 0) c = 0;
    }
    band(fx, columns, c, c + 1);
    k += 2;
    qxFXFrameEnd(fx);
    return 0;
}

int qxFXLines2(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const bool columns = fx->effect == VLINES2;
    const int32_t N = columns ? fx->width : fx->height;
    const int32_t lastOdd = N % 2 == 0 ? N - 1 : N - 2;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(Pair))) return e;
        qxFXData<Pair>(fx)->a = lastOdd;
        fx->frames = qxFXFrameCount(N, 2, 0);
        return 0;
    }
    auto *d = qxFXData<Pair>(fx);
    int32_t &o = d->a, &e = d->b;
    if (fx->frame == 0) e = 0, o = lastOdd;
    qxFXFrameStart(fx);
    if (e >= N) *done = 1;
    if (o < 0) o = 0;
    if (e >= N) e = N - 1;
    band(fx, columns, e, e + 1);
    band(fx, columns, o, o + 1);
    e += 2;
    o -= 2;
    qxFXFrameEnd(fx);
    return 0;
}

int qxFXReveal(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const bool columns = fx->effect == REVEALLEFT || fx->effect == REVEALRIGHT;
    const bool backwards = fx->effect == REVEALRIGHT || fx->effect == REVEALBOTTOM;
    const int32_t N = columns ? fx->width : fx->height;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(int32_t))) return e;
        if (backwards) *qxFXData<int32_t>(fx) = N - 1;
        int32_t s = qxFXStepSize(fx->speed, N, 70, 30, 200);
        if (s > N / 2) s = columns ? 1 : N / 2;
        fx->speed = s;
        fx->frames = qxFXFrameCount(N - 1 - s, s + 1, 0);
        return 0;
    }
    int32_t &p = *qxFXData<int32_t>(fx);
    const int32_t s = fx->speed;
    if (fx->frame == 0) p = backwards ? N - 1 : 0;
    qxFXFrameStart(fx);
    if (!backwards) {
        if (p >= N - 1 - s) {
            p = N - 1 - s;
            *done = 1;
        }
        band(fx, columns, p, p + s + 1);
        p += s + 1;
    } else {
        if (p <= s) {
            p = s;
            *done = 1;
        }
        band(fx, columns, p - s, p + 1);
        p -= s + 1;
    }
    qxFXFrameEnd(fx);
    return 0;
}
