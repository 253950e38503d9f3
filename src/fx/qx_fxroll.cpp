// ROLLTOP, ROLLLEFT, WALLPAPERTOP, WALLPAPERLEFT: the new picture unrolls
// over the old one; a band behind the moving edge shows the paper wound
// back onto the roll (the roll kernel copies its lines by an angle table).
#include <algorithm>
#include <climits>
#include <cmath>

#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "fx/qx_fxpaint.h"
#include "fx/qx_fxrenderers.h"
#include "imaging/qx_transitionkernels.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

enum : int32_t { ROLLTOP = 84, ROLLLEFT, WALLPAPERTOP, WALLPAPERLEFT };
constexpr int32_t kNone = -100000;

struct RollData {
    qxBitMap *work, *compose;
    qxBitMap *mask, *alpha;
    qxCopyRecord record;
    double *angles;
    int32_t q, bandStart, bandCount, limit, bandEnd;
};

bool columnsOf(int32_t id) { return id == ROLLLEFT || id == WALLPAPERLEFT; }

// Real-time: lines [a, b) of source with its planes into the layer's
// planes (flag 4 with no source clears them there).
void layerLines(qxTransitionFX *fx, qxBitMap *source, qxBitMap *mask, qxBitMap *alpha, int32_t a, int32_t b,
                uint32_t flags)
{
    const bool columns = columnsOf(fx->effect);
    a = std::max(a, 0), b = std::min(b, columns ? fx->width : fx->height);
    qxFXPlanes p;
    if (b <= a || !qxFXLayerPlanes(fx, &p)) return;
    const int32_t sx = columns ? a : 0, sy = columns ? 0 : a;
    const int32_t w = columns ? b - a : fx->width, h = columns ? fx->height : b - a;
    const bool quiet = fx->phase == 2 || fx->drawing || fx->layerTransformed || fx->viaBackBuffer;
    qxFXDrawRect(source, sx, sy, p.image, p.mask, p.alpha, sx, sy, w, h, fx->width, fx->height, p.width, p.height,
                 mask, alpha, fx, flags | (quiet ? 8 : 0));
}

// Lines [a, b) of the new picture drawn flat, through its planes over the
// old picture when it has any.
void flatLines(qxTransitionFX *fx, RollData *d, int32_t a, int32_t b)
{
    const bool columns = columnsOf(fx->effect);
    const int32_t D = columns ? fx->width : fx->height;
    a = std::max(a, 0), b = std::min(b, D);
    if (b <= a) return;
    if (fx->realtime) return layerLines(fx, fx->newImage, fx->newMask, fx->newAlpha, a, b, 16);
    const int32_t sx = columns ? a : 0, sy = columns ? 0 : a;
    const int32_t w = columns ? b - a : fx->width, h = columns ? fx->height : b - a;
    if (fx->newMask || fx->newAlpha)
        qxFXBlitRegion(fx->newImage, sx, sy, nullptr, fx->x + sx, fx->y + sy, w, h, fx->width, fx->height,
                       fx->bgWidth, fx->bgHeight, fx->blitFlags, 0x10, fx->oldImage, fx->newMask, d->compose,
                       fx->newAlpha, fx);
    else qxFXPaint(fx, fx->newImage, sx, sy, w, h, sx, sy, nullptr, nullptr, true);
}

// The band, lines [a, b), from the work bitmap (over the flat picture and
// the old one when the new picture has planes).
void bandLines(qxTransitionFX *fx, RollData *d, int32_t a, int32_t b)
{
    const bool columns = columnsOf(fx->effect);
    const int32_t D = columns ? fx->width : fx->height;
    a = std::max(a, 0), b = std::min(b, D);
    if (b <= a) return;
    if (fx->realtime) {
        // The paper over the new picture, both with their planes.
        if (fx->newMask || fx->newAlpha) layerLines(fx, fx->newImage, fx->newMask, fx->newAlpha, a, b, 16);
        return layerLines(fx, d->work, d->mask, d->alpha, a, b, 3);
    }
    const int32_t sx = columns ? a : 0, sy = columns ? 0 : a;
    const int32_t w = columns ? b - a : fx->width, h = columns ? fx->height : b - a;
    if (fx->newMask || fx->newAlpha) {
        qxFXCompose(fx->oldImage, sx, sy, d->compose, sx, sy, w, h, nullptr, nullptr);
        qxFXCompose(fx->newImage, sx, sy, d->compose, sx, sy, w, h, fx->newMask, fx->newAlpha);
        qxFXCompose(d->work, sx, sy, d->compose, sx, sy, w, h, d->alpha ? nullptr : d->mask, d->alpha);
        qxFXPaint(fx, d->compose, sx, sy, w, h, sx, sy, nullptr, nullptr, true);
    } else {
        qxFXPaint(fx, d->work, sx, sy, w, h, sx, sy, nullptr, nullptr, true);
    }
}

// Runs the roll kernel for edge p into the work planes.
void roll(qxTransitionFX *fx, RollData *d, int32_t p)
{
    qxCopyRecord &r = d->record;
    r.position = p, r.linesCopied = 0, r.firstLine = kNone, r.resultPosition = p;
    qxPlane sm = qxPlaneOf(fx->newMask), dm = qxPlaneOf(d->mask), sa = qxPlaneOf(fx->newAlpha),
            da = qxPlaneOf(d->alpha);
    const bool masks = sm.bytes && dm.bytes, alphas = sa.bytes && da.bytes;
    r.sourceMask = masks ? sm.bytes : nullptr, r.destMask = masks ? dm.bytes : nullptr;
    r.sourceMaskBytesPerRow = sm.bytesPerRow, r.destMaskBytesPerRow = dm.bytesPerRow;
    r.sourceAlpha = alphas ? sa.bytes : nullptr, r.destAlpha = alphas ? da.bytes : nullptr;
    r.sourceAlphaBytesPerRow = sa.bytesPerRow, r.destAlphaBytesPerRow = da.bytesPerRow;
    // A picture the kernel cannot walk leaves the band empty (count 0).
    qxFXRollKernel(fx->newImage, d->work, &r);
}

// A hide or remove (always real-time): the paper rolls back up, the layer's
// planes cleared behind the band.
void rollBack(qxTransitionFX *fx, RollData *d, bool seek, int *done)
{
    const int32_t D = columnsOf(fx->effect) ? fx->width : fx->height;
    if (d->q < 1) {
        layerLines(fx, nullptr, nullptr, nullptr, 0, D, 4);
        if (done) *done = 1;
        return;
    }
    roll(fx, d, d->q);
    const int32_t first = d->record.firstLine, count = d->record.linesCopied;
    if (seek) flatLines(fx, d, 0, count > 0 ? first : D);
    if (count <= 0) return;
    bandLines(fx, d, first, first + count);
    if (d->bandStart == kNone) d->bandStart = D - 1;
    // Cleared below the band down to where the previous band ended: a band
    // cut off at the top keeps its first line and shrinks, so how far its
    // first line moved does not say how many lines it left.
    const int32_t below = first + count;
    const int32_t end = seek ? D : std::max(below + d->bandStart - first + 2, d->bandEnd);
    layerLines(fx, nullptr, nullptr, nullptr, below, end, 4);
    d->bandStart = first, d->bandEnd = below;
}

} // namespace

extern "C" {

int qxFXRollStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height, id = fx->effect;
    const bool columns = columnsOf(id);
    const int32_t D = columns ? W : H;
    auto *d = static_cast<RollData *>(fx->data);
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        if (!(d = qxFXNewData<RollData>(fx))) return ERR_MEM;
        const int32_t m = id == WALLPAPERTOP ? H / 2 : id == WALLPAPERLEFT ? W / 2 : id == ROLLTOP ? H / 12 : W / 12;
        const int32_t n = std::max(20, m);
        const int32_t s = fx->speed == -2 ? 5 : fx->speed == -1 ? 2 : fx->speed == -3 ? 1
                          : fx->speed > 0 ? std::clamp(fx->speed / 5, 1, 8) : 1;
        fx->speed = s;
        if (!(d->work = qxFXNewWork(fx)) || !(d->compose = qxFXNewWork(fx))) return ERR_BITMAP;
        if (fx->newMask && !(d->mask = qxAllocMaskBitMap(d->work, uint32_t(W), uint32_t(H), 1, nullptr, 0)))
            return ERR_ALLOCMASK;
        if (fx->newAlpha && !(d->alpha = qxAllocAlphaBitMap(uint32_t(W), uint32_t(H), 1, nullptr, 0)))
            return ERR_ALLOCALPHA;
        d->q = 0, d->bandStart = kNone, d->limit = D + s;
        if (fx->reverse) d->q = D, d->bandStart = D - 1, d->bandEnd = D;
        if (!(d->angles = static_cast<double *>(qxAlloc(sizeof(double) * size_t(n), 0)))) return ERR_MEM;
        double arg = 1.0;
        for (int32_t i = 0; i < n; ++i, arg -= 2.0 / n) d->angles[i] = std::asin(std::clamp(arg, -1.0, 1.0)) + M_PI / 2;
        qxCopyRecord &r = d->record;
        r.angles = d->angles, r.width = W, r.height = H, r.orientation = columns, r.count = n;
        fx->frames = qxFXFrameCount(D, s, 1);
        return 0;
    }
    const int32_t step = fx->speed;
    const bool seek = fx->phase == 2;
    if (seek) {
        d->q = std::clamp<int64_t>(int64_t(fx->frame) * step, 0, D);
        if (fx->reverse) d->q = D - d->q;
        if (fx->redrawn) {
        } else if (fx->realtime) layerLines(fx, nullptr, nullptr, nullptr, 0, D, 4);
        else qxFXPaint(fx, fx->oldImage, 0, 0, W, H, 0, 0, nullptr, nullptr, true);
    } else {
        qxFXFrameStart(fx);
        d->q = fx->reverse ? std::max(d->q - step, 0) : std::min<int64_t>(int64_t(d->q) + step, D);
    }
    if (fx->reverse) {
        rollBack(fx, d, seek, done);
    } else if (d->q >= D) {
        // The last frame: the rest of the picture lies flat.
        const int32_t from = !seek && d->bandEnd != kNone && d->q != step && d->bandStart != kNone ? d->bandEnd : 0;
        flatLines(fx, d, from, D);
        if (done) *done = 1;
    } else {
        const int32_t p = d->q;
        roll(fx, d, p);
        const int32_t first = d->record.firstLine, count = d->record.linesCopied;
        if (count > 0) {
            // Everything above the band lies flat: at once when seeking,
            // else the lines the band left since the previous frame.
            // The first band may start below the top when its upper lines
            // would show paper beyond the far edge.
            if (seek || d->bandStart == kNone) flatLines(fx, d, 0, first);
            else flatLines(fx, d, d->bandStart, first + 1);
            bandLines(fx, d, first, first + count);
            d->bandStart = d->bandEnd = first, d->bandCount = count;
        } else if (seek) {
            flatLines(fx, d, 0, p + 1);
            d->bandEnd = p, d->bandStart = kNone;
        } else if (d->bandEnd != kNone && d->bandEnd < D) {
            flatLines(fx, d, d->bandEnd, p + 1);
            d->bandEnd = p, d->bandStart = kNone;
        }
    }
    if (!seek) qxFXFrameEnd(fx);
    return 0;
}

void qxFXRollCleanup(qxTransitionFX *fx)
{
    auto *d = static_cast<RollData *>(fx->data);
    qxFXDrop(d->work), qxFXDrop(d->compose), qxFXDropMask(d->mask), qxFXDropAlpha(d->alpha);
    qxFree(d->angles);
    d->angles = nullptr;
}

} // extern "C"
