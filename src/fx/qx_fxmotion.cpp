// Effects that move whole pictures or strips of them: flows, push, slide,
// gates and cards.
#include <algorithm>
#include <climits>

#include "fx/qx_fxpaint.h"
#include "fx/qx_fxrenderers.h"
#include "platform/qx_errcodes.h"

namespace {

enum : int32_t {
    HFLOWTOP = 70, HFLOWBOTTOM, VFLOWLEFT, VFLOWRIGHT, HOPENGATE, HCLOSEGATE, VOPENGATE, VCLOSEGATE, PUSHLEFT,
    PUSHRIGHT, PUSHTOP, PUSHBOTTOM, SLIDELEFT = 101, SLIDERIGHT, SLIDETOP, SLIDEBOTTOM, CARDTOP = 111, CARDBOTTOM,
};

// Products of a step and a frame number stay in range.
int32_t clampI32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Lines [a, b) of a picture at line r, full width (rows) or height
// (columns), in area coordinates.
void paintLines(qxTransitionFX *fx, qxBitMap *picture, bool columns, int64_t a, int64_t b, int64_t r)
{
    if (a < 0) r -= a, a = 0;
    if (b <= a) return;
    const int64_t limit = columns ? fx->width : fx->height;
    b = std::min(b, limit);
    if (b <= a) return;
    int32_t n = int32_t(b - a);
    if (columns) qxFXPaint(fx, picture, int32_t(a), 0, n, fx->height, clampI32(r), 0, nullptr, nullptr, true);
    else qxFXPaint(fx, picture, 0, int32_t(a), fx->width, n, 0, clampI32(r), nullptr, nullptr, true);
}

struct FlowData {
    qxBitMap *work;
    int32_t p;
};

// Real-time: lines [a, b) of a picture (none: the planes cleared) at line
// r of the layer's image and planes.
void layerLines(qxTransitionFX *fx, qxBitMap *src, bool columns, int32_t a, int32_t b, int32_t r, qxBitMap *mask,
                qxBitMap *alpha, uint32_t flags)
{
    qxFXPlanes l;
    if (b <= a || !qxFXLayerPlanes(fx, &l)) return;
    const int32_t sx = columns ? a : 0, sy = columns ? 0 : a, dx = columns ? r : 0, dy = columns ? 0 : r;
    const int32_t w = columns ? b - a : fx->width, h = columns ? fx->height : b - a;
    qxFXDrawRect(src, sx, sy, l.image, l.mask, l.alpha, dx, dy, w, h, fx->width, fx->height, l.width, l.height, mask,
                 alpha, fx, flags);
}

// Lines [a, b) of one bitmap at line r of another (none: the real-time
// layer).
void composeLines(qxTransitionFX *fx, qxBitMap *src, qxBitMap *dst, bool columns, int32_t a, int32_t b, int32_t r,
                  qxBitMap *mask, qxBitMap *alpha)
{
    if (b <= a) return;
    if (!dst) return layerLines(fx, src, columns, a, b, r, mask, alpha, 0x18);
    if (columns) qxFXCompose(src, a, 0, dst, r, 0, b - a, fx->height, mask, alpha);
    else qxFXCompose(src, 0, a, dst, 0, r, fx->width, b - a, mask, alpha);
}

// Band [a, b) of the new picture and line `line` repeated over [r0, r1).
void flowCompose(qxTransitionFX *fx, FlowData *d, bool columns, int32_t a, int32_t b, int32_t line, int32_t r0,
                 int32_t r1)
{
    qxBitMap *m = fx->newMask, *al = fx->newAlpha;
    composeLines(fx, fx->newImage, d->work, columns, a, b, a, m, al);
    if (line < 0 || r1 <= r0) return;
    if (m || al || !d->work) {
        for (int32_t r = r0; r < r1; ++r) composeLines(fx, fx->newImage, d->work, columns, line, line + 1, r, m, al);
        return;
    }
    // Opaque: the line once, then doubling copies inside the work bitmap.
    composeLines(fx, fx->newImage, d->work, columns, line, line + 1, r0, nullptr, nullptr);
    for (int32_t done = 1; done < r1 - r0;) {
        int32_t n = std::min(done, r1 - r0 - done);
        composeLines(fx, d->work, d->work, columns, r0, r0 + n, r0 + done, nullptr, nullptr);
        done += n;
    }
}

void flowOutput(qxTransitionFX *fx, FlowData *d, bool columns, int32_t a, int32_t b)
{
    a = std::max(a, 0), b = std::min(b, columns ? fx->width : fx->height);
    if (b <= a) return;
    qxFXPlanes l;
    if (!d->work) {
        const int32_t sx = columns ? a : 0, sy = columns ? 0 : a;
        if (!fx->drawing && qxFXLayerPlanes(fx, &l))
            qxFXShowRect(fx, l.image, sx, sy, sx + fx->x, sy + fx->y, columns ? b - a : fx->width,
                         columns ? fx->height : b - a, l.width, l.height, l.mask, l.alpha, 0);
        return;
    }
    if (columns) qxFXPaint(fx, d->work, a, 0, b - a, fx->height, a, 0, nullptr, nullptr, true);
    else qxFXPaint(fx, d->work, 0, a, fx->width, b - a, 0, a, nullptr, nullptr, true);
}

} // namespace

extern "C" {

int qxFXFlowStep(qxTransitionFX *fx, int *done)
{
    const bool columns = fx->effect == VFLOWLEFT || fx->effect == VFLOWRIGHT;
    const bool fromStart = fx->effect == HFLOWTOP || fx->effect == VFLOWLEFT;
    const int32_t L = columns ? fx->width : fx->height;
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        auto *d = qxFXNewData<FlowData>(fx);
        if (!d) return ERR_MEM;
        if (!fx->realtime && !(d->work = qxFXNewWork(fx))) return ERR_BITMAP;
        int32_t s = columns ? qxFXStepSize(fx->speed, L, 30, 10, 80) : qxFXStepSize(fx->speed, L, 50, 20, 120);
        s = std::clamp(s, 1, 30);
        fx->speed = s;
        const bool startAtS = fromStart != bool(fx->reverse);
        d->p = startAtS ? s : L - s;
        fx->frames = fx->reverse ? qxFXFrameCount(L - 2 * s, s, 0) : qxFXFrameCount(L - s, s, 0);
        return 0;
    }
    auto *d = static_cast<FlowData *>(fx->data);
    const int32_t s = fx->speed;
    // Transparent parts show the old picture; a real-time layer shows what
    // lies under it by itself.
    const bool planes = (fx->newMask || fx->newAlpha) && d->work;
    if (fx->phase == 2) {
        if (!d->work) layerLines(fx, nullptr, columns, 0, L, 0, nullptr, nullptr, 12);
        int64_t dd = int64_t(fx->frame) * s;
        int32_t e = int32_t(std::clamp<int64_t>(fromStart != bool(fx->reverse) ? dd : L - dd, 0, L));
        if (planes) composeLines(fx, fx->oldImage, d->work, columns, 0, L, 0, nullptr, nullptr);
        // A hide's last frame clears the layer, as playing it does.
        const bool cleared = fx->reverse && (fromStart ? e <= s : e >= L - s);
        if (!cleared && fromStart) flowCompose(fx, d, columns, 0, e, e - 1, e, L);
        else if (!cleared) flowCompose(fx, d, columns, e, L, e - 1, 0, e);
        if (d->work) flowOutput(fx, d, columns, 0, L);
        const bool up = fromStart != bool(fx->reverse);
        d->p = clampI32(up ? int64_t(e) + s : int64_t(e) - s);
        return 0;
    }
    qxFXFrameStart(fx);
    int32_t &p = d->p;
    bool clear = false;
    if (!fx->reverse) {
        if (fromStart && p >= L) p = L, *done = 1;
        if (!fromStart && p < 1) p = 0, *done = 1;
    } else if (fromStart) {
        if (!(p > s)) p = s, *done = 1, clear = true;
    } else if (!(p < L - s)) {
        p = L - s, *done = 1, clear = true;
    }
    if (!clear) {
        if (planes) {
            int32_t from = fx->effect == HFLOWTOP ? p - s : 0;
            composeLines(fx, fx->oldImage, d->work, columns, std::max(from, 0), L, std::max(from, 0), nullptr,
                         nullptr);
        }
        if (fromStart) {
            flowCompose(fx, d, columns, std::max(p - s, 0), p, p - 1, p, L);
            flowOutput(fx, d, columns, p - s, L);
        } else {
            flowCompose(fx, d, columns, p, std::min(p + s, L), p - 1, 0, p);
            flowOutput(fx, d, columns, 0, p + s);
        }
    } else if (!d->work) {
        layerLines(fx, nullptr, columns, 0, L, 0, nullptr, nullptr, 4 | (fx->drawing || fx->viaBackBuffer ? 8 : 0));
    } else if (fx->oldImage) {
        // A hidden flow ends on what lay under the picture.
        qxFXPaintWhole(fx, fx->oldImage);
    }
    const bool up = fromStart != bool(fx->reverse);
    p = clampI32(up ? int64_t(p) + s : int64_t(p) - s);
    qxFXFrameEnd(fx);
    return 0;
}

void qxFXFlowCleanup(qxTransitionFX *fx) { qxFXDrop(static_cast<FlowData *>(fx->data)->work); }

int qxFXPushStep(qxTransitionFX *fx, int *done)
{
    const bool columns = fx->effect == PUSHLEFT || fx->effect == PUSHRIGHT;
    const int32_t W = fx->width, H = fx->height, L = columns ? W : H;
    auto *p = static_cast<int32_t *>(fx->data);
    if (fx->phase == 0) {
        if (!(p = qxFXNewData<int32_t>(fx))) return ERR_MEM;
        int32_t s = qxFXStepSize(fx->speed, L, 40, 10, 100);
        fx->speed = s, *p = s;
        fx->frames = qxFXFrameCount(L - s, s, 0);
        return 0;
    }
    if (fx->phase != 1 && fx->phase != 2) return 0;
    const int32_t s = fx->speed;
    if (fx->phase == 2) *p = clampI32(int64_t(s) * fx->frame);
    else qxFXFrameStart(fx);
    // Drawings into the BGPic under the layer or into the emulated one
    // show in the pictures still moving.
    if (fx->bgpicEmu) qxFXRefreshSources(fx, 3);
    if (*p >= L) {
        *p = L;
        if (done) *done = 1;
    }
    const int32_t q = *p;
    int32_t nx = 0, ny = 0, ox = 0, oy = 0;
    switch (fx->effect) {
    case PUSHLEFT: nx = q - W, ox = q; break;
    case PUSHRIGHT: nx = W - q, ox = -q; break;
    case PUSHTOP: ny = q - H, oy = q; break;
    default: ny = H - q, oy = -q; break;
    }
    {
        // Both pictures cover the whole layer: it is shown once at the
        // frame end (or after the seek), not piece by piece.
        qxFXQuietPieces quiet(fx, true);
        qxFXPaint(fx, fx->newImage, 0, 0, W, H, nx, ny, nullptr, nullptr, true);
        qxFXPaint(fx, fx->oldImage, 0, 0, W, H, ox, oy, nullptr, nullptr, true);
    }
    *p = clampI32(int64_t(q) + s);
    if (fx->phase == 1) {
        qxFXShowBackBuffer(fx);
        fx->frame++;
    }
    return 0;
}

} // extern "C"

namespace {
struct SlideData {
    int32_t p, px, py;
};
} // namespace

extern "C" int qxFXSlideStep(qxTransitionFX *fx, int *done)
{
    const bool columns = fx->effect == SLIDELEFT || fx->effect == SLIDERIGHT;
    const int32_t W = fx->width, H = fx->height, L = columns ? W : H;
    auto *d = static_cast<SlideData *>(fx->data);
    if (fx->phase == 0) {
        if (!(d = qxFXNewData<SlideData>(fx))) return ERR_MEM;
        if (fx->parameter == -1) fx->parameter = 0;
        int32_t s = std::clamp(qxFXStepSize(fx->speed, L, 60, 30, 120), 1, 30);
        fx->speed = s, d->p = s;
        fx->frames = qxFXFrameCount(2 * L - s, s, 0);
        return 0;
    }
    if (fx->phase != 1 && fx->phase != 2) return 0;
    const int32_t s = fx->speed;
    const uint32_t colour = uint32_t(fx->parameter);
    if (fx->phase == 2) {
        qxFXAreaFill(fx, 0, 0, W, H, colour, 8);
        d->p = clampI32(int64_t(s) * fx->frame);
    } else {
        qxFXFrameStart(fx);
    }
    bool last = false;
    if (d->p >= 2 * L) {
        d->p = 2 * L, last = true;
        if (done) *done = 1;
    }
    const int32_t p = d->p;
    int32_t ox = 0, oy = 0, vw = W, vh = H;
    const bool first = p <= L;
    switch (fx->effect) {
    case SLIDELEFT:
        if (first) ox = p, vw = W - p;
        else ox = 2 * W - p, vw = p - W;
        break;
    case SLIDERIGHT:
        if (first) ox = -p, vw = W - p;
        else ox = p - 2 * W;
        break;
    case SLIDETOP:
        if (first) oy = p, vh = H - p;
        else oy = 2 * H - p, vh = p - H;
        break;
    default:
        if (first) oy = -p, vh = H - p;
        else oy = p - 2 * H;
        break;
    }
    // The old picture matters only while it is still moving out.
    if (fx->bgpicEmu) qxFXRefreshSources(fx, first ? 3 : 2);
    // A seek draws the layer whole before it is shown.
    qxFXQuietPieces quiet(fx, fx->phase == 2);
    if (last) {
        qxFXPaint(fx, fx->newImage, 0, 0, W, H, 0, 0, nullptr, nullptr, true);
    } else if (!first) {
        // When the step does not divide the side, the old picture was not
        // wholly out yet: the first frame of the second half clears it.
        if (fx->phase == 1 && p - s <= L) qxFXAreaFill(fx, 0, 0, W, H, colour, 0);
        if (vw > 0 && vh > 0) qxFXPaint(fx, fx->newImage, 0, 0, W, H, ox, oy, nullptr, nullptr, true);
    } else {
        if (fx->phase == 1) {
            switch (fx->effect) {
            case SLIDELEFT: qxFXAreaFill(fx, d->px, d->py, s, H, colour, 0); break;
            case SLIDERIGHT: qxFXAreaFill(fx, vw, oy, s, H, colour, 0); break;
            case SLIDETOP: qxFXAreaFill(fx, d->px, d->py, W, s, colour, 0); break;
            default: qxFXAreaFill(fx, ox, vh, W, s, colour, 0); break;
            }
        }
        if (vw > 0 && vh > 0) qxFXPaint(fx, fx->oldImage, 0, 0, W, H, ox, oy, nullptr, nullptr, true);
    }
    d->px = ox, d->py = oy, d->p = clampI32(int64_t(p) + s);
    if (fx->phase == 1) qxFXFrameEnd(fx);
    return 0;
}

namespace {
struct GateData {
    int32_t hi, lo;
};

// After a full redraw the whole area (or layer) is shown, as push does;
// otherwise the pieces showed themselves.
void gateFrameEnd(qxTransitionFX *fx, bool full)
{
    if (!full) return qxFXFrameEnd(fx);
    qxFXShowBackBuffer(fx);
    fx->frame++;
}
} // namespace

extern "C" int qxFXGateStep(qxTransitionFX *fx, int *done)
{
    const bool columns = fx->effect == VOPENGATE || fx->effect == VCLOSEGATE;
    const bool open = fx->effect == HOPENGATE || fx->effect == VOPENGATE;
    const int32_t N = columns ? fx->width : fx->height, fh = N / 2, ch = N - fh;
    auto *d = static_cast<GateData *>(fx->data);
    if (fx->phase == 0) {
        if (!(d = qxFXNewData<GateData>(fx))) return ERR_MEM;
        int32_t s = qxFXStepSize(fx->speed, N, 80, 30, 200);
        fx->speed = s;
        if (open) {
            d->hi = clampI32(int64_t(ch) - s), d->lo = clampI32(int64_t(fh) + s);
            fx->frames = qxFXFrameCount(clampI32(int64_t(ch) - s), s, 0);
        } else {
            d->hi = s, d->lo = clampI32(int64_t(N) - s);
            fx->frames = qxFXFrameCount(clampI32(int64_t(fh) - s), s, 0);
            // The halves come in over the old picture, which the layer
            // must show from the first frame.
            qxFXOldIntoLayer(fx);
        }
        return 0;
    }
    if (fx->phase != 1 && fx->phase != 2) return 0;
    const int32_t s = fx->speed;
    const int64_t dd = int64_t(fx->frame) * s;
    if (open) {
        bool full = fx->phase == 2;
        if (full) d->lo = clampI32(fh + dd), d->hi = clampI32(ch - dd);
        else qxFXFrameStart(fx);
        if (d->lo >= N || d->hi < 1) {
            d->lo = N, d->hi = 0;
            if (done) *done = 1;
        }
        // A new picture read again is drawn whole between the halves.
        if (fx->bgpicEmu && (qxFXRefreshSources(fx, 3) & 2)) full = true;
        const int64_t hi = d->hi, lo = d->lo;
        {
            qxFXQuietPieces quiet(fx, full);
            if (full) paintLines(fx, fx->newImage, columns, hi, lo + 1, hi);
            paintLines(fx, fx->oldImage, columns, 0, fh, hi - fh);
            if (!full) {
                paintLines(fx, fx->newImage, columns, hi, hi + s, hi);
                paintLines(fx, fx->newImage, columns, lo - s, lo, lo - s);
            }
            paintLines(fx, fx->oldImage, columns, fh, N, lo);
        }
        d->hi = clampI32(hi - s), d->lo = clampI32(lo + s);
        if (fx->phase == 1) gateFrameEnd(fx, full);
        return 0;
    }
    const bool seek = fx->phase == 2;
    if (!seek) qxFXFrameStart(fx);
    if (d->lo <= ch || d->hi >= fh) d->hi = fh, d->lo = ch;
    // The old picture read again shows between the incoming halves.
    const uint32_t read = fx->bgpicEmu ? qxFXRefreshSources(fx, 3) : 0;
    const bool full = seek || (read & 1);
    {
        qxFXQuietPieces quiet(fx, full);
        if (seek) {
            paintLines(fx, fx->oldImage, columns, 0, N, 0);
            d->hi = clampI32(dd), d->lo = clampI32(N - dd);
            if (d->lo <= ch || d->hi >= fh) d->hi = fh, d->lo = ch;
        } else if (full) {
            paintLines(fx, fx->oldImage, columns, d->hi, int64_t(d->lo) + 1, d->hi);
        }
        const int64_t hi = d->hi, lo = d->lo;
        if (lo == ch && hi == fh) {
            if (done) *done = 1;
            paintLines(fx, fx->newImage, columns, 0, N, 0);
        } else {
            paintLines(fx, fx->newImage, columns, 0, fh, hi - fh);
            paintLines(fx, fx->newImage, columns, fh, N, lo);
        }
        d->hi = clampI32(hi + s), d->lo = clampI32(lo - s);
    }
    if (fx->phase == 1) gateFrameEnd(fx, full);
    return 0;
}

extern "C" int qxFXCardStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height;
    auto *p = static_cast<int32_t *>(fx->data);
    if (fx->phase == 0) {
        if (!(p = qxFXNewData<int32_t>(fx))) return ERR_MEM;
        int32_t s = std::clamp(qxFXStepSize(fx->speed, std::max(W, H), 60, 30, 120), 1, 30);
        fx->speed = s, *p = s;
        fx->frames = qxFXFrameCount(H - s, s, 0);
        return 0;
    }
    if (fx->phase != 1 && fx->phase != 2) return 0;
    const int32_t s = fx->speed;
    if (fx->phase == 2) *p = clampI32(int64_t(s) * fx->frame);
    else qxFXFrameStart(fx);
    if (*p >= H) {
        *p = H;
        if (done) *done = 1;
    }
    if (fx->bgpicEmu) qxFXRefreshSources(fx, 3);
    // The half is rounded up: on an odd height the second pair of pieces
    // would start one row above the old picture and leave a row undrawn.
    const int64_t q = *p, h2 = (int64_t(H) + 1) / 2;
    qxFXQuietPieces quiet(fx, fx->phase == 2); // a seek shows the layer whole afterwards
    if (fx->effect == CARDTOP) {
        if (q < h2) {
            paintLines(fx, fx->newImage, false, q, 2 * q, 0);
            paintLines(fx, fx->oldImage, false, 0, H - q, q);
        } else {
            paintLines(fx, fx->newImage, false, H - q, H, 0);
            paintLines(fx, fx->oldImage, false, 2 * q - H, q, q);
        }
    } else if (q < h2) {
        paintLines(fx, fx->oldImage, false, q, H, 0);
        paintLines(fx, fx->newImage, false, H - 2 * q, H - q, H - q);
    } else {
        paintLines(fx, fx->oldImage, false, H - q, 2 * H - 2 * q, 0);
        paintLines(fx, fx->newImage, false, 0, q, H - q);
    }
    *p = clampI32(q + s);
    if (fx->phase == 1) qxFXFrameEnd(fx);
    return 0;
}
