// Rectangle effects: a rectangle of the area's aspect ratio grows from a
// point (RECT), the old picture's rectangle shrinks towards one (RECTBACK),
// or four grow in the quadrants (QUADRECT).
#include <algorithm>

#include "fx/qx_fxwipes.h"

namespace {

struct RectState {
    int32_t n, px, py;
};

struct QuadState {
    int32_t pw, ph, t, t0, second, mirror;
};

// Anchors per direction, centre first, then N, NE, E, SE, S, SW, W, NW:
// 0 left/top, 1 centred, 2 right/bottom.
constexpr int32_t kAnchorX[9] = {1, 1, 2, 2, 2, 1, 0, 0, 0};
constexpr int32_t kAnchorY[9] = {1, 0, 0, 1, 2, 2, 2, 1, 0};

double ratio(int32_t W, int32_t H)
{
    return W <= H ? double(W) / H : double(H) / W;
}

// The rectangle for a length n along the longer side.
void sizeFor(int32_t W, int32_t H, double r, int32_t n, int32_t *w, int32_t *h)
{
    const int32_t shortSide = std::max<int32_t>(1, int32_t(n * r + 1.0));
    if (W < H) *w = shortSide, *h = n;
    else *w = n, *h = shortSide;
}

int32_t place(int32_t anchor, int32_t area, int32_t size)
{
    return anchor == 0 ? 0 : anchor == 1 ? (area - size) / 2 : area - size;
}

// A strip in target coordinates.
void strip(qxTransitionFX *fx, int32_t sx, int32_t sy, int32_t w, int32_t h)
{
    qxFXBlitPiece(fx, sx - fx->x, sy - fx->y, w, h);
}

int32_t rectStep(qxTransitionFX *fx, int32_t N)
{
    int32_t s = qxFXStepSize(fx->speed, N, 70, 30, 200);
    if (s > N / 4) s = 1;
    return s;
}

} // namespace

int qxFXRect(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const int32_t W = fx->width, H = fx->height, N = std::max(W, H);
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(RectState))) return e;
        const int32_t s = rectStep(fx, N);
        fx->speed = s;
        qxFXData<RectState>(fx)->n = s;
        fx->frames = qxFXFrameCount(N - s, s, 0);
        return 0;
    }
    auto *d = qxFXData<RectState>(fx);
    const int32_t s = fx->speed, dir = std::clamp(fx->effect - 38, 0, 8);
    const double r = ratio(W, H);
    if (fx->frame == 0) d->n = s;
    qxFXFrameStart(fx);
    int32_t rw, rh;
    if (d->n < N) {
        sizeFor(W, H, r, d->n, &rw, &rh);
    } else {
        *done = 1;
        rw = W, rh = H;
        d->n -= s;
    }
    const int32_t ax = kAnchorX[dir], ay = kAnchorY[dir];
    const int32_t rx = fx->x + place(ax, W, rw), ry = fx->y + place(ay, H, rh);
    if (ax == 1 && (W - rw) % 2 != 0) rw++;
    if (ay == 1 && (H - rh) % 2 != 0) rh++;
    int32_t pw, ph;
    sizeFor(W, H, r, d->n - s, &pw, &ph);
    const int32_t dw = rw - pw, dh = rh - ph;
    const int32_t lw = dw >> 1, rwd = dw - lw, th = dh >> 1, bh = dh - th;
    d->n += s;
    switch (dir) {
    case 0:
        strip(fx, rx, ry, lw, rh);
        strip(fx, rx + lw, ry + th + ph, rw - lw, bh);
        strip(fx, rx + lw, ry, rw - lw, th);
        strip(fx, rx + lw + pw, ry + th, rwd, ph);
        break;
    case 1:
        strip(fx, rx, ry, lw, rh);
        strip(fx, rx + lw + pw, ry, rwd, rh);
        strip(fx, rx + lw, ry + ph, pw, dh);
        break;
    case 2:
        strip(fx, rx, ry, dw, rh);
        strip(fx, rx + dw, ry + ph, pw, dh);
        break;
    case 3:
        strip(fx, rx, ry, rw, th);
        strip(fx, rx, ry + th + ph, rw, bh);
        strip(fx, rx, ry + th, dw, ph);
        break;
    case 4:
        strip(fx, rx, ry, dw, rh);
        strip(fx, rx + dw, ry, pw, dh);
        break;
    case 5:
        strip(fx, rx, ry, lw, rh);
        strip(fx, rx + lw + pw, ry, rwd, rh);
        strip(fx, rx + lw, ry, pw, dh);
        break;
    case 6:
        strip(fx, rx, ry, rw, dh);
        strip(fx, rx + pw, ry + dh, dw, ph);
        break;
    case 7:
        strip(fx, rx, ry, rw, th);
        strip(fx, rx, ry + th + ph, rw, bh);
        strip(fx, rx + pw, ry + th, dw, ph);
        break;
    default:
        strip(fx, rx, ry + ph, rw, dh);
        strip(fx, rx + pw, ry, dw, ph);
        break;
    }
    qxFXFrameEnd(fx);
    return 0;
}

int qxFXRectBack(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const int32_t W = fx->width, H = fx->height, N = std::max(W, H);
    auto restart = [&](RectState *d, int32_t s) { *d = {N - s, fx->x, fx->y}; };
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(RectState))) return e;
        const int32_t s = rectStep(fx, N);
        fx->speed = s;
        restart(qxFXData<RectState>(fx), s);
        fx->frames = qxFXFrameCount(N - s, s, 0);
        return 0;
    }
    auto *d = qxFXData<RectState>(fx);
    const int32_t s = fx->speed, dir = std::clamp(fx->effect - 88, 0, 8);
    const double r = ratio(W, H);
    if (fx->frame == 0) restart(d, s);
    qxFXFrameStart(fx);
    int32_t rw = 0, rh = 0;
    if (d->n < 1) *done = 1;
    else sizeFor(W, H, r, d->n, &rw, &rh);
    // The remaining rectangle sits opposite the RECT anchor.
    const int32_t ax = 2 - kAnchorX[dir], ay = 2 - kAnchorY[dir];
    const int32_t cx = fx->x + place(ax, W, rw), cy = fx->y + place(ay, H, rh);
    const int32_t px = d->px, py = d->py;
    d->px = cx, d->py = dir == 4 ? cy + rh : cy;
    int32_t pw, ph;
    sizeFor(W, H, r, d->n + s, &pw, &ph);
    d->n -= s;
    const int32_t x = fx->x, y = fx->y;
    switch (dir) {
    case 0:
        strip(fx, px, py, pw, cy - py + 1);
        strip(fx, px, cy, cx - px + 1, rh);
        strip(fx, px, cy + rh, pw, cy - py + 1);
        strip(fx, cx + rw, cy, cx - px + 1, rh);
        break;
    case 1:
        strip(fx, px, py, pw, ph - rh);
        strip(fx, px, cy, cx - px + 1, rh);
        strip(fx, cx + rw, cy, cx - px + 1, rh);
        break;
    case 2:
        strip(fx, px, py, pw, cy - py + 1);
        strip(fx, px + rw, cy, pw - rw, rh);
        break;
    case 3:
        strip(fx, px, py, pw, cy - py + 1);
        strip(fx, px + rw, cy, pw - rw, rh);
        strip(fx, px, cy + rh, pw, cy - py + 1);
        break;
    case 4:
        strip(fx, x, y + rh, pw, ph - rh);
        strip(fx, x + rw, y, pw - rw, ph);
        break;
    case 5:
        strip(fx, px, py, cx - px + 1, ph);
        strip(fx, cx, py + rh, rw, ph - rh);
        strip(fx, cx + rw, py, cx - px + 1, ph);
        break;
    case 6:
        strip(fx, px, py, cx - px + 1, ph);
        strip(fx, cx, py + rh, rw, ph - rh);
        break;
    case 7:
        strip(fx, px, py, pw, cy - py + 1);
        strip(fx, px, cy, cx - px + 1, rh);
        strip(fx, px, cy + rh, pw, cy - py + 1);
        break;
    default:
        strip(fx, px, py, pw, ph - rh);
        strip(fx, px, py, pw - rw, ph);
        break;
    }
    qxFXFrameEnd(fx);
    return 0;
}

int qxFXQuadRect(qxTransitionFX *fx, int *done)
{
    if (qxFXPhaseIgnored(fx)) return 0;
    const int32_t W = fx->width, H = fx->height, D = std::max(W, H);
    if (fx->phase == 0) {
        if (int e = qxFXAllocData(fx, sizeof(QuadState))) return e;
        const int32_t s = std::clamp(qxFXStepSize(fx->speed, D, 120, 60, 240), 1, 30);
        fx->speed = s;
        fx->frames = qxFXFrameCount(D, s, 1);
        return 0;
    }
    auto *q = qxFXData<QuadState>(fx);
    const int32_t s = fx->speed, qw = W / 2, qh = H / 2;
    const double r = H < W ? double(H) / W : double(W) / H;
    if (fx->frame == 0) *q = {};
    qxFXFrameStart(fx);
    q->t += s;
    const int32_t dd = q->t - q->t0;
    int32_t rw, rh;
    sizeFor(W, H, r, dd, &rw, &rh);
    int32_t ox, oy;
    if (rw < qw) {
        ox = (qw - rw) / 2, oy = (qh - rh) / 2;
    } else {
        ox = oy = 0, rw = qw, rh = qh;
    }
    const int32_t dx = (rw - q->pw) / 2 + 1, dy = (rh - q->ph) / 2 + 1;
    if (q->mirror) ox += qw;
    for (int i = 0; i < 2; i++) {
        qxFXBlitPiece(fx, ox, oy, dx, rh);
        qxFXBlitPiece(fx, ox + dx, oy, q->pw, dy);
        qxFXBlitPiece(fx, ox + rw - dx, oy, dx, rh);
        qxFXBlitPiece(fx, ox + dx, oy + rh - dy, q->pw, dy);
        ox += q->mirror ? -(W - qw) : W - qw;
        oy += H - qh;
    }
    if (q->t < D / 2 || q->second) {
        if (q->t < D) {
            q->pw = rw, q->ph = rh;
        } else {
            *done = 1;
            qxFXBlitPiece(fx, 0, 0, W, H);
        }
    } else {
        q->t0 = q->t, q->second = 1, q->mirror = 1, q->pw = q->ph = 0;
    }
    qxFXFrameEnd(fx);
    return 0;
}
