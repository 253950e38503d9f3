// SCROLL*: the new picture (or the layer) moves in from outside the display
// along the move engine's path, or out of it when the request runs in
// reverse. The move engine draws every frame; this only prepares and ends it.
#include "fx/qx_fxhooks.h"
#include "fx/qx_fxpaint.h"
#include "fx/qx_fxrenderers.h"
#include "layers/qx_layer.h"
#include "layers/qx_move.h"
#include "platform/qx_errcodes.h"

namespace {

// Positions just outside one side of the display.
enum : int32_t { LEFTOUT = -50000, RIGHTOUT = -40000, TOPOUT = -30000, BOTTOMOUT = -20000 };

// The off-screen point of effects 47-54; 0 keeps the request's coordinate.
struct OffPoint {
    int32_t x, y;
};
constexpr OffPoint kOffPoints[8] = {
    {LEFTOUT, 0},  {RIGHTOUT, 0},         {0, TOPOUT},         {0, BOTTOMOUT},
    {RIGHTOUT, TOPOUT}, {RIGHTOUT, BOTTOMOUT}, {LEFTOUT, BOTTOMOUT}, {LEFTOUT, TOPOUT},
};

// The layer, when it is still in a BGPic's list.
qxLayer *movedLayer(const qxTransitionFX *fx)
{
    return fx->layer && qxLayerOwner(fx->layer) ? fx->layer : nullptr;
}

int setUp(qxTransitionFX *fx)
{
    if (fx->effect < 47 || fx->effect > 54) return ERR_WRONGUSAGE;
    if (qxLayer *l = movedLayer(fx)) l->hidden = 0, l->queued = 0;
    if (int e = qxFXAllocData(fx, sizeof(qxMoveState))) return e;
    auto *m = static_cast<qxMoveState *>(fx->data);
    m->L = fx->L;
    m->type = QX_MOVE_PICTURE;
    m->embedded = 1;
    if (fx->layer) {
        m->layer = fx->layer;
    } else {
        m->bitmap = fx->newImage, m->mask = fx->newMask, m->alpha = fx->newAlpha;
    }
    m->width = fx->width, m->height = fx->height;
    const OffPoint off = kOffPoints[fx->effect - 47];
    const int32_t qx = off.x ? off.x : fx->x, qy = off.y ? off.y : fx->y;
    if (fx->reverse) {
        m->x1 = fx->x, m->y1 = fx->y, m->x2 = qx, m->y2 = qy;
    } else {
        m->x1 = qx, m->y1 = qy, m->x2 = fx->x, m->y2 = fx->y;
    }
    m->fx = uint32_t(fx->parameter == -1 ? 0 : fx->parameter);
    m->speed = fx->speed;
    // The frames go to the display as the other effects' do (the driver's
    // mark of a BGPic transition with layers on, 64, included).
    m->blitflags = fx->blitFlags;
    if (int e = qxMoveObject(m)) return e;
    // Frames and seeks are the move's steps.
    fx->frames = m->stepfn ? qxMoveStepCount(m) : 1;
    return 0;
}

} // namespace

int qxFXScrollStep(qxTransitionFX *fx, int *done)
{
    if (fx->phase == 0) return setUp(fx);
    auto *m = static_cast<qxMoveState *>(fx->data);
    if (!m || !m->stepfn) {
        if (done) *done = 1;
        return 0;
    }
    if (fx->bgpicEmu) {
        const int32_t w = fx->width, h = fx->height;
        fx->width = fx->tempW, fx->height = fx->tempH;
        const uint32_t redrawn = qxFXRefreshSources(fx, 2);
        fx->width = w, fx->height = h;
        // The moving layer shows a copy of the picture.
        qxBitMap *image = nullptr, *mask = nullptr, *alpha = nullptr;
        int32_t iw = 0, ih = 0;
        if ((redrawn & 2) && fx->layer && qxFXHook.layerImages &&
            !qxFXHook.layerImages(fx->layer, &image, &mask, &alpha, &iw, &ih))
            qxFXBlitClipped(fx->newImage, 0, 0, image, 0, 0, iw, ih, fx->tempW, fx->tempH, iw, ih);
        if (!fx->layer) m->bitmap = fx->newImage, m->mask = fx->newMask, m->alpha = fx->newAlpha;
    }
    int finished = 0;
    if (fx->phase == 2) {
        const int e = qxMoveRestart(m, fx->frame, &finished);
        if (done) *done = finished;
        return e;
    }
    const int e = m->stepfn(m, &finished);
    *done = finished;
    // A picture's frames built in the display's back buffer reach the
    // window whole, in refresh mode too, as the other effects' frames do.
    if (!fx->layer && fx->toBackBuffer && !fx->drawing) qxFXShowWorkWhole(fx);
    fx->frame++;
    return e;
}

int qxFXScrollFollowLayer(qxTransitionFX *fx, qxLayer *replaced)
{
    auto *m = static_cast<qxMoveState *>(fx->data);
    if (!fx->isScroll || !replaced || replaced != fx->layer) return 0;
    // The replacing record stands just before the one it replaces.
    fx->layer = replaced->previous;
    if (m) qxMoveMethod(0, replaced, m);
    return 1;
}

void qxFXScrollCleanup(qxTransitionFX *fx)
{
    if (qxLayer *l = movedLayer(fx))
        if (fx->isScroll) qxMoveLayer(fx->L, l, nullptr, fx->savedX, fx->savedY, 0, 0, nullptr);
    auto *m = static_cast<qxMoveState *>(fx->data);
    if (m && m->freefn) m->freefn(m, 0);
}
