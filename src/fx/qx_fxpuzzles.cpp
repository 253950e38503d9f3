// Puzzle, diagonal, up-and-down, split, swiss and spiral: the new picture
// uncovered in pieces and strips.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "fx/qx_fxwipes.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

struct Puzzle {
    int32_t next, count, columns, rows;
    int32_t *order;
};

struct Diagonal {
    int32_t front, rows;
};

struct UpNDown {
    int32_t pos, pair;
};

struct Split {
    int32_t a, b;
};

struct Swiss {
    int32_t pos, a0, b0;
};

struct Spiral {
    int32_t pos, state, fixedX, fixedY;
    int32_t cw[8], rh[8];
    int32_t counting;
};

int32_t clampStep(int32_t s)
{
    return std::clamp(s, 1, 30);
}

// Path compression for "the nearest free number" in one direction.
int32_t findFree(std::vector<int32_t> &link, int32_t k)
{
    int32_t root = k;
    while (link[size_t(root)] != root) root = link[size_t(root)];
    while (link[size_t(k)] != root) {
        int32_t next = link[size_t(k)];
        link[size_t(k)] = root;
        k = next;
    }
    return root;
}

} // namespace

int qxFXPuzzleOrder(int32_t *order, int32_t n)
{
    // down[k + 1] leads to 1 + the largest free number <= k (0: none),
    // up[k] to the smallest free number >= k (n: none).
    std::vector<int32_t> down, up;
    try {
        down.resize(size_t(n) + 1);
        up.resize(size_t(n) + 1);
    } catch (...) {
        return ERR_MEM;
    }
    for (int32_t i = 0; i <= n; i++) down[size_t(i)] = up[size_t(i)] = i;
    for (int32_t j = 0; j < n; j++) {
        int32_t r0 = int32_t(drand48() * n);
        r0 = std::clamp(r0, 0, n - 1);
        int32_t k = findFree(down, r0 + 1) - 1;
        if (k < 0) k = findFree(up, r0 + 1);
        order[j] = k;
        down[size_t(k) + 1] = k;
        up[size_t(k)] = k + 1;
    }
    return 0;
}

int qxFXPuzzle(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(Puzzle))) return e;
        auto *p = qxFXData<Puzzle>(fx);
        int32_t b = qxFXStepSize(fx->speed, fx->width, 20, 10, 30);
        if (b < 5) b = 5;
        fx->speed = b;
        p->columns = fx->width / b + 1;
        p->rows = fx->height / b + 1;
        int64_t n = int64_t(p->columns) * p->rows;
        size_t bytes;
        if (n > INT32_MAX || !qxMulSize(size_t(n), sizeof(int32_t), &bytes)) return ERR_MEM;
        p->count = int32_t(n);
        p->order = static_cast<int32_t *>(qxAlloc(bytes, 0));
        if (!p->order) return ERR_MEM;
        if (int e = qxFXPuzzleOrder(p->order, p->count)) return e;
        fx->frames = qxFXFrameCount(p->count - 1, 1, 0);
        return 0;
    }
    auto *p = qxFXData<Puzzle>(fx);
    if (fx->frame == 0) {
        p->next = 0;
        if (p->count == 1) *done = 1;
    } else if (p->next >= p->count - 1) {
        *done = 1;
    }
    qxFXFrameStart(fx);
    const int32_t b = fx->speed;
    if (p->next < p->count) {
        const int32_t k = p->order[p->next];
        qxFXBlitPiece(fx, int32_t(int64_t(k % p->columns) * b), int32_t(int64_t(k / p->columns) * b), b, b);
    }
    p->next++;
    qxFXFrameEnd(fx);
    return 0;
}

void qxFXPuzzleCleanup(qxTransitionFX *fx)
{
    if (auto *p = qxFXData<Puzzle>(fx)) {
        qxFree(p->order);
        p->order = nullptr;
    }
}

int qxFXDiagonal(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const int32_t W = fx->width, H = fx->height;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(Diagonal))) return e;
        int32_t s = qxFXStepSize(fx->speed, W, 60, 20, 130);
        if (s > W / 4) s = 1;
        fx->speed = s;
        qxFXData<Diagonal>(fx)->front = s;
        fx->frames = qxFXFrameCount(W + H - s, s, 0);
        return 0;
    }
    auto *d = qxFXData<Diagonal>(fx);
    const int32_t s = fx->speed;
    if (fx->frame == 0) d->front = s;
    qxFXFrameStart(fx);
    if (d->front >= W + H) {
        d->front = W + H;
        *done = 1;
    }
    d->rows = std::min(d->rows + 1, H / s + 1);
    for (int32_t q = 0; q < d->rows; q++) qxFXBlitPiece(fx, d->front - (q + 1) * s, q * s, s, s);
    d->front += s;
    qxFXFrameEnd(fx);
    return 0;
}

int qxFXUpNDown(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const int32_t W = fx->width, H = fx->height;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(UpNDown))) return e;
        const int32_t s = clampStep(qxFXStepSize(fx->speed, std::max(W, H), 60, 30, 120));
        fx->speed = s;
        fx->frames = qxFXFrameCount(4 * H, s, 0);
        return 0;
    }
    static const int32_t downStrip[4] = {0, 3, 4, 7}, upStrip[4] = {1, 2, 5, 6};
    auto *u = qxFXData<UpNDown>(fx);
    const int32_t s = fx->speed, cw = W / 8 + 1, band = s + 2;
    if (fx->frame == 0) *u = {};
    qxFXFrameStart(fx);
    int32_t k = 0, o = u->pos;
    if (u->pos >= H) {
        k = u->pos / H, o = u->pos % H;
        if (k != u->pair) {
            qxFXBlitPiece(fx, 0, o, cw, band);
            qxFXBlitPiece(fx, cw, 0, cw, band);
            if (k >= 4) {
                qxFXBlitPiece(fx, 0, 0, W, H);
                *done = 1;
                k = 0;
            } else {
                u->pair = k;
                qxFXBlitPiece(fx, downStrip[k] * cw, 0, cw, band);
                qxFXBlitPiece(fx, upStrip[k] * cw, H - s - 1, cw, band);
            }
        }
    }
    const int32_t t = std::max(1, H - o - s);
    qxFXBlitPiece(fx, downStrip[k] * cw, o, cw, band);
    qxFXBlitPiece(fx, upStrip[k] * cw, t - 1, cw, band);
    u->pos += s;
    qxFXFrameEnd(fx);
    return 0;
}

int qxFXSplit(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const int32_t W = fx->width, H = fx->height;
    const bool columns = fx->effect == 108;
    const int32_t N = columns ? W : H, q = N / 4;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(Split))) return e;
        const int32_t s = clampStep(qxFXStepSize(fx->speed, std::max(W, H), 120, 60, 240));
        fx->speed = s;
        *qxFXData<Split>(fx) = {q + s, q - s};
        fx->frames = qxFXFrameCount(q + s, s, 1);
        return 0;
    }
    auto *d = qxFXData<Split>(fx);
    const int32_t s = fx->speed, half = N / 2;
    if (fx->frame == 0) *d = {q + s, q - s};
    qxFXFrameStart(fx);
    d->a -= s;
    d->b += s;
    if (d->a < 1) {
        d->a = 0;
        *done = 1;
    }
    int32_t a = d->a, b = d->b;
    if (d->b > half) d->b = half;
    for (int i = 0; i < 2; i++) {
        if (columns) {
            qxFXBlitPiece(fx, a, 0, s, H);
            qxFXBlitPiece(fx, b, 0, s, H);
        } else {
            qxFXBlitPiece(fx, 0, a, W, s);
            qxFXBlitPiece(fx, 0, b, W, s);
        }
        a += half + N % 2;
        b += half + N % 2;
    }
    if (*done) qxFXBlitPiece(fx, 0, 0, W, H);
    qxFXFrameEnd(fx);
    return 0;
}

int qxFXSwiss(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const int32_t W = fx->width, H = fx->height, D = std::max(W, H);
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(Swiss))) return e;
        const int32_t s = clampStep(qxFXStepSize(fx->speed, D, 120, 60, 240));
        fx->speed = s;
        fx->frames = qxFXFrameCount(D / 2, s, 1);
        return 0;
    }
    auto *w = qxFXData<Swiss>(fx);
    if (fx->frame == 0) *w = {};
    qxFXFrameStart(fx);
    const double r = W > H ? double(H) / W : double(W) / H;
    w->pos += fx->speed;
    const int32_t p = w->pos, s = int32_t(p * r + 1.0);
    int32_t a, b;
    if (W < H) a = std::max(1, s), b = p;
    else a = p, b = std::max(1, s);
    const int32_t a0 = w->a0, b0 = w->b0;
    if (p < D / 2) {
        qxFXBlitPiece(fx, a0, 0, a - a0, b);
        qxFXBlitPiece(fx, 0, b0, a, b - b0);
        qxFXBlitPiece(fx, 0, H - b, a, b - b0);
        qxFXBlitPiece(fx, a0, H - b0, a - a0, b0);
        qxFXBlitPiece(fx, W - a, H - b, a, b - b0);
        qxFXBlitPiece(fx, W - a, H - b0, a - a0, b0);
        qxFXBlitPiece(fx, W - a, 0, a - a0, b);
        qxFXBlitPiece(fx, W - a, b0, a, b - b0);
    } else {
        *done = 1;
        qxFXBlitPiece(fx, 0, 0, W, H);
    }
    w->a0 = a, w->b0 = b;
    qxFXFrameEnd(fx);
    return 0;
}

namespace {

void spiralRestart(Spiral *sp, int32_t W)
{
    sp->pos = 0, sp->state = 0, sp->fixedY = 0, sp->fixedX = W - sp->cw[6];
}

} // namespace

int qxFXSpiral(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const int32_t W = fx->width, H = fx->height;
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(Spiral))) return e;
        auto *sp = qxFXData<Spiral>(fx);
        int32_t s = fx->speed == QX_FX_FASTSPEED ? 15 : fx->speed == QX_FX_NORMALSPEED ? 10
                  : fx->speed == QX_FX_SLOWSPEED ? 5 : clampStep(fx->speed);
        fx->speed = s;
        for (int i = 0; i < 7; i++) sp->cw[i] = W / 7 + 1;
        for (int i = 0; i < 6; i++) sp->rh[i] = H / 6 + 1;
        spiralRestart(sp, W);
        fx->phase = 1;
        sp->counting = 1;
        int finished = 0;
        while (!finished) qxFXSpiral(fx, &finished);
        fx->frames = fx->frame;
        fx->phase = 0, fx->frame = 0, sp->counting = 0;
        spiralRestart(sp, W);
        return 0;
    }
    auto *sp = qxFXData<Spiral>(fx);
    const int32_t s = fx->speed;
    const int32_t *cw = sp->cw, *rh = sp->rh;
    if (fx->frame == 0) spiralRestart(sp, W);
    if (!sp->counting) qxFXFrameStart(fx);
    struct Leg {
        bool column, forward;
        int32_t size, limit;
    };
    const Leg legs[12] = {
        {true, true, cw[6], H - 1},
        {false, false, rh[5], 0},
        {true, false, cw[0], 0},
        {false, true, rh[0], W - cw[6]},
        {true, true, cw[5], H - rh[5]},
        {false, false, rh[4], cw[0]},
        {true, false, cw[1], rh[0]},
        {false, true, rh[1], W - cw[6] - cw[5]},
        {true, true, cw[4], H - rh[5] - rh[4]},
        {false, false, rh[3], cw[0] + cw[1]},
        {true, false, cw[2], rh[0] + rh[1]},
        {false, true, rh[3], W - cw[6] - cw[5] - cw[4]},
    };
    const Leg &leg = legs[std::clamp(sp->state, 0, 11)];
    if (!sp->counting) {
        // The outer ring's left column and top row lie on the edges.
        const int32_t fixedX = sp->state == 2 ? 0 : sp->fixedX, fixedY = sp->state == 3 ? 0 : sp->fixedY;
        if (leg.column) qxFXBlitPiece(fx, fixedX, sp->pos, leg.size, s);
        else qxFXBlitPiece(fx, sp->pos, fixedY, s, leg.size);
    }
    if (sp->pos != leg.limit) {
        sp->pos = leg.forward ? std::min(sp->pos + s, leg.limit) : std::max(sp->pos - s, leg.limit);
    } else {
        switch (sp->state) {
        case 0: sp->fixedY = H - rh[5], sp->pos = sp->fixedX - s; break;
        case 1: sp->pos = sp->fixedY - s; break;
        case 2: sp->pos = cw[0]; break;
        case 3: sp->fixedX = sp->pos - cw[5], sp->pos = rh[0]; break;
        case 4: sp->fixedY = sp->pos - rh[4], sp->pos = sp->fixedX - s; break;
        case 5: sp->fixedX = sp->pos, sp->pos = sp->fixedY - s; break;
        case 6: sp->fixedY = sp->pos, sp->pos = cw[0] + cw[1]; break;
        case 7: sp->fixedX = sp->pos - cw[4], sp->pos = rh[0] + rh[1]; break;
        case 8: sp->pos = sp->fixedX - s, sp->fixedY = rh[0] + rh[1] + rh[2]; break;
        case 9: sp->fixedX = sp->pos, sp->pos = sp->fixedY - s; break;
        case 10: sp->fixedY = sp->pos, sp->pos = cw[0] + cw[1] + cw[2]; break;
        default: *done = 1; break;
        }
        if (sp->state < 11) sp->state++;
    }
    if (sp->counting) fx->frame++;
    else qxFXFrameEnd(fx);
    return 0;
}
