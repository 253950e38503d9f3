// The transition driver: checks the display, resolves the effect, prepares
// the new and old pictures, runs the renderer synchronously or as an
// async-draw object, and ends and frees the transition.
#include <algorithm>
#include <cstring>

#include "core/vm/lua.h"
#include "display/qx_adapter.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "display/qx_events.h"
#include "display/qx_framepacing.h"
#include "fx/qx_fxhooks.h"
#include "layers/qx_layer.h"
#include "objects/qx_selection.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

uint32_t qxFXBGPicTransition;

namespace {

constexpr uint32_t kOutputDisplay = 21, kOutputBGPic = 1, kOutputBrush = 3, kOutputMask = 28, kOutputAlpha = 30;

bool displayAlive(const qxDisplay *d)
{
    for (const qxDisplay *o = qxDisplays; o; o = static_cast<const qxDisplay *>(o->header.next))
        if (o == d) return true;
    return false;
}

int objectMissing(const qxTransitionFX *fx, int code)
{
    if (fx->object.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(int(fx->object.number));
    return code;
}

int targetRefusal(const qxDisplay *d)
{
    switch (d->targetType) {
    case kOutputBrush:
        if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
        return qxCurrentOutput && qxCurrentOutput->selectedType == QX_TYPE_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    case kOutputBGPic: return ERR_SELECTBG;
    case kOutputMask: return ERR_SELECTMASK;
    case kOutputAlpha: return ERR_SELECTALPHACHANNEL;
    default: return d->refreshMode ? ERR_BEGINREFRESH : 0;
    }
}

// Keeps a layer out of redraws for a scope.
struct qxLayerHiding {
    qxLayer *layer;
    uint32_t hidden;
    explicit qxLayerHiding(qxLayer *l) : layer(l), hidden(l ? l->hidden : 0)
    {
        if (layer) layer->hidden = 1;
    }
    ~qxLayerHiding()
    {
        if (layer) layer->hidden = hidden;
    }
};

// The area the frames are clipped to: on a display that scales its layers
// the BGPic and its layers lie at the display's scaled size.
void takeBGPicSize(qxTransitionFX *fx, const qxDisplay *d)
{
    const qxBGPic *b = d->bgpic;
    if (!b) return;
    const bool screen = qxLayerScaling(d) && b->curBitmap != b->bitmap;
    fx->bgWidth = screen ? b->curWidth : b->width;
    fx->bgHeight = screen ? b->curHeight : b->height;
}

// A display that scales its layers but is not at its scale yet would be
// rescaled by the first frame's redraw, which frees the planes the frames
// draw into: it is brought there, and shown so, before they are taken.
int bringToLayerScale(lua_State *L, qxDisplay *d)
{
    const qxBGPic *b = d->bgpic;
    if (!b || !qxLayerScaling(d)) return 0;
    const int32_t sw = int32_t(d->scaledWidth), sh = int32_t(d->scaledHeight);
    const bool atSize = b->curWidth == sw && b->curHeight == sh;
    const bool rendered = b->curBitmap != b->bitmap || (sw == b->width && sh == b->height);
    if (atSize && rendered) return 0;
    if (int e = qxRescaleDisplayLayers(L, d)) return e;
    return qxRefreshWholeDisplay(d, 0);
}

// What the display shows in a rectangle of the BGPic, into bitmap at the
// matching offset: with layers the BGPic and its layers are redrawn, else
// the work bitmap already holds it.
void grabScreen(qxTransitionFX *fx, qxBitMap *bitmap, int32_t x, int32_t y, int32_t w, int32_t h,
                bool withLayer = false)
{
    qxSafeBltView v{};
    const bool view = qxBitMapDisplay.currentView && qxBitMapDisplay.currentView(nullptr, nullptr, &v);
    qxBitMap *from = nullptr, *temp = nullptr;
    if (view && v.layersOn && qxBitMapDisplay.redraw && fx->bgWidth > 0 && fx->bgHeight > 0) {
        temp = qxAllocBitMap(uint32_t(fx->bgWidth), uint32_t(fx->bgHeight), 0, nullptr);
        // The layer being changed is left out of the picture under it.
        qxLayerHiding hide(withLayer ? nullptr : fx->layer);
        if (temp) qxBitMapDisplay.redraw(fx->L, temp, 0, 0, fx->bgWidth, fx->bgHeight, 0);
        from = temp;
    } else if (view && v.work1) {
        from = v.work1;
    } else if (qxCurrentDisplay && qxCurrentDisplay->bgpic) {
        from = qxCurrentDisplay->bgpic->bitmap;
    }
    if (from) qxFXBlitClipped(from, x, y, bitmap, 0, 0, w, h, fx->bgWidth, fx->bgHeight, w, h);
    if (temp) qxFreeBitMap(temp);
}

// A masked or translucent new picture drawn over what is shown, so that
// renderers copy plain rectangles.
int flatten(qxTransitionFX *fx, bool visible)
{
    qxBitMap *flat = qxAllocBitMap(uint32_t(fx->width), uint32_t(fx->height), 0, nullptr);
    if (!flat) return ERR_BITMAP;
    if (visible) grabScreen(fx, flat, fx->x, fx->y, fx->width, fx->height);
    if (fx->newMask) qxBltBitMapMasked(fx->newImage, 0, 0, flat, 0, 0, fx->width, fx->height, fx->newMask);
    else qxBltBitMapThroughAlpha(fx->newImage, 0, 0, flat, 0, 0, fx->width, fx->height, fx->newAlpha);
    if (fx->ownsNewImage) qxFreeBitMap(fx->newImage);
    if (fx->ownsNewMask) qxFreeMaskBitMap(fx->newMask);
    if (fx->ownsNewAlpha) qxFreeAlphaBitMap(fx->newAlpha);
    fx->newImage = flat, fx->ownsNewImage = 1;
    fx->newMask = fx->newAlpha = nullptr;
    fx->ownsNewMask = fx->ownsNewAlpha = 0;
    return 0;
}

int prepareSources(qxTransitionFX *fx, qxDisplay *d)
{
    const bool visible = fx->x + fx->width > 0 && fx->y + fx->height > 0 && fx->x < fx->bgWidth && fx->y < fx->bgHeight;
    if (!fx->realtime && fx->mode != QX_FXMODE_BGPIC && (fx->newMask || fx->newAlpha) && !qxFXKeepsPlanes(fx->effect))
        if (int e = flatten(fx, visible)) return e;
    if (qxFXNeedsOldImage(fx->effect, int(fx->realtime)) && !fx->oldImage) {
        if (fx->mode == QX_FXMODE_BGPIC) {
            fx->oldImage = fx->bgpicImage;
            fx->bgpicImage = nullptr;
        } else {
            fx->oldImage = qxAllocBitMap(uint32_t(fx->width), uint32_t(fx->height), 0, nullptr);
            if (!fx->oldImage) return ERR_BITMAP;
            // Nothing is shown beyond the BGPic: that part of the area,
            // which moving effects bring into view, is colour 0.
            qxRectFill(fx->oldImage, 0, 0, fx->width, fx->height, 0);
            // A hide or remove that blends keeps the layer in its old picture.
            const int32_t e = fx->effect;
            const bool withLayer = (fx->mode == QX_FXMODE_HIDELAYER || fx->mode == QX_FXMODE_REMOVELAYER) &&
                                   (e == 97 || e == 98 || e == 114 || e == 116 || e == 117 || (e >= 134 && e <= 139) ||
                                    (e == 115 && !fx->realtime));
            if (visible) grabScreen(fx, fx->oldImage, fx->x, fx->y, fx->width, fx->height, withLayer);
        }
    }
    fx->target = nullptr;
    takeBGPicSize(fx, d);
    if (d->autoScale && d->scaledWidth && d->scaledHeight) {
        fx->toBackBuffer = 1;
        fx->blitFlags = 0x24;
    } else {
        fx->blitFlags = 4;
    }
    if (fx->mode == QX_FXMODE_BGPIC && d->layersEnabled) fx->blitFlags |= 0x40;
    return 0;
}

int asyncFrame(void *user, uint32_t *finished)
{
    auto *fx = static_cast<qxTransitionFX *>(user);
    if (fx->bgpicEmu && !qxFXIsLayerOnly(fx->effect) && !fx->isScroll) {
        // The emulated BGPic was drawn into: the frame so far over its new picture.
        if (qxFXRefreshSources(fx, 2)) {
            if (int e = qxFXSeek(fx, fx->frame, 0)) return e;
            if (qxFXHook.layerMethod) qxFXHook.layerMethod(fx, 5, nullptr);
        }
    } else if (fx->realtime && fx->layer && qxFXHook.layerMethod) {
        qxFXHook.layerMethod(fx, -1, nullptr);
    }
    int done = 0;
    int e = fx->step(fx, &done);
    if (done) *finished = 1;
    return e;
}

void asyncFinish(void *user, uint32_t shown, uint32_t)
{
    qxFXFinish(static_cast<qxTransitionFX *>(user), int(shown));
}

void asyncFree(void *user, int completed)
{
    qxFXFree(static_cast<qxTransitionFX *>(user), completed);
}

intptr_t asyncMethod(int op, void *argument, void *user)
{
    auto *fx = static_cast<qxTransitionFX *>(user);
    switch (op) {
    case 0:
    case 1:
    case 5: return qxFXHook.layerMethod ? qxFXHook.layerMethod(fx, op, argument) : 0;
    case 2: return fx->frames;
    case 3: return fx->frame;
    case 4: return argument ? qxFXSeek(fx, *static_cast<int *>(argument), 0) : 0;
    case 6:
        if (argument) *static_cast<qxLayer **>(argument) = fx->layer;
        return 0;
    case 7:
        if (argument && fx->bgpicEmu) *static_cast<qxBGPic **>(argument) = fx->emuBGPic;
        return 0;
    case 8: fx->drawing = argument != nullptr; return 0;
    default: return 0;
    }
}

// One poll between synchronous frames. Callbacks may restyle or remove the
// layer: it shows its own planes while they run, and the transition takes
// it up again after (its picture read anew when something changed). A lost
// display gives 1055, a lost layer 1081; *stop holds the poll's end (a
// quit or its error, -1 for a quit without one).
int pollHoldingLayer(qxTransitionFX *fx, qxDisplay *d, int *stop)
{
    const bool hold = (fx->realtime || (fx->isScroll && fx->layerPrepared)) && fx->layer && qxFXHook.layerMethod;
    const uint32_t mark = d->bgpic ? d->bgpic->changed : 0;
    if (hold) {
        if (d->bgpic) d->bgpic->changed = 0;
        qxFXHook.layerMethod(fx, -2, nullptr);
    }
    int error = 0;
    const bool ended = qxPollEvents(fx->L, 2, 0, &error) != 0;
    if (!displayAlive(d) || qxCurrentDisplay != d) return ERR_WRONGUSAGE;
    if (hold) {
        int changed = d->bgpic && d->bgpic->changed;
        if (d->bgpic) d->bgpic->changed |= mark;
        if (intptr_t e = qxFXHook.layerMethod(fx, -3, changed ? &changed : nullptr)) return int(e);
    }
    if (ended) *stop = error ? error : -1;
    return 0;
}

// The synchronous loop; 0 or an error. The display may go away in a
// callback between frames: the run then ends with 1055.
int runFrames(qxTransitionFX *fx, qxTransitionFX *caller, qxDisplay *d, int *done)
{
    int32_t bgW = d->bgpic ? d->bgpic->width : 0, bgH = d->bgpic ? d->bgpic->height : 0;
    for (;;) {
        int stop = 0;
        if (int e = pollHoldingLayer(fx, d, &stop)) return e;
        if (stop) return stop > 0 ? stop : 0;
        const int32_t w = d->bgpic ? d->bgpic->width : 0, h = d->bgpic ? d->bgpic->height : 0;
        if (w != bgW || h != bgH) {
            if (d->autoScale) {
                bgW = w, bgH = h;
            } else {
                fx->stopped = 1;
                if (fx->mode != QX_FXMODE_BGPIC) caller->again = 1;
                if (fx->layer && qxFXHook.layerEnd) qxFXHook.layerEnd(fx, 3, 0);
                return 0;
            }
        }
        if (int e = fx->step(fx, done)) return e;
        if (int e = qxVWaitCurrentDisplay(fx->L, 0)) return e;
        if (*done) return 0;
    }
}

} // namespace

int qxFXRun(qxTransitionFX *request)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_WRONGUSAGE;
    auto *fx = static_cast<qxTransitionFX *>(qxAlloc(sizeof(qxTransitionFX), 0));
    if (!fx) return ERR_MEM;
    *fx = *request;
    fx->requestedSpeed = fx->speed;
    if (fx->effect == QX_FX_NOEFFECT) fx->effect = QX_FX_RANDOMEFFECT;
    bool switched = false;
    const uint32_t flagBefore = qxFXBGPicTransition;
    auto fail = [&](int code) {
        qxFXBGPicTransition = flagBefore;
        // A display switched to the new BGPic goes back to the old one.
        if (switched && qxFXHook.bgpicSwitch) qxFXHook.bgpicSwitch(fx, 2);
        qxFXFree(fx, 0);
        return code;
    };
    // The display must be able to take a transition.
    if (d->doubleBuffer) {
        if (!qxFXHook.endDoubleBuffer) return fail(ERR_ENDDOUBLEBUFFER);
        if (int e = qxFXHook.endDoubleBuffer(fx->L)) return fail(e);
    }
    const bool selected = d->targetType != kOutputDisplay && qxFXHook.selectedTarget && qxFXHook.selectedTarget(fx);
    if (d->targetType != kOutputDisplay && !selected) {
        if (int e = targetRefusal(d)) return fail(e);
        return fail(0);
    }
    if (fx->effect == QX_FX_RANDOMEFFECT)
        fx->effect = qxFXRandomEffect(fx->mode == QX_FXMODE_BGPIC ? 0 : fx->bgpicEmu == 0);
    if (fx->mode != QX_FXMODE_BGPIC && qxFXIsLayerOnly(fx->effect) &&
        !(fx->mode == QX_FXMODE_SHOWLAYER && fx->bgpicEmu))
        fx->effect = 0;
    // The effect shows on the display: a selected target it was admitted
    // for hands the output back first, unless an async draw works on the
    // very BGPic the display shows.
    if (d->targetType != kOutputDisplay && !(fx->async && d->targetType == kOutputBGPic)) {
        if (int e = qxDisplayBGPicCore(fx->L, d, 0)) return fail(e);
    }
    if (fx->reverse) fx->effect = qxFXReverseEffect(fx->effect);
    if (int e = bringToLayerScale(fx->L, d)) return fail(e);
    takeBGPicSize(fx, d);

    // The object of the request becomes the new picture (or a layer).
    switch (fx->mode) {
    case QX_FXMODE_BRUSH:
    case QX_FXMODE_TEXTOBJECT:
    case QX_FXMODE_BGPICPART: {
        if (!qxFXHook.objectSource)
            return fail(objectMissing(fx, fx->mode == QX_FXMODE_BRUSH        ? ERR_FINDBRUSH
                                          : fx->mode == QX_FXMODE_TEXTOBJECT ? ERR_FINDTEXTOBJECT
                                                                             : ERR_FINDBGPIC));
        if (int e = qxFXHook.objectSource(fx)) return fail(e);
        break;
    }
    case QX_FXMODE_BGPIC: {
        if (!qxFindBGPicRecord(fx->object)) return fail(objectMissing(fx, ERR_FINDBGPIC));
        if (!qxFXHook.bgpicSwitch) return fail(ERR_UNSUPPORTEDFEAT);
        if (int e = qxFXHook.bgpicSwitch(fx, 0)) return fail(e);
        switched = true;
        break;
    }
    default: break;
    }
    if (fx->mode == QX_FXMODE_SHOWLAYER || fx->mode == QX_FXMODE_HIDELAYER || fx->mode == QX_FXMODE_REMOVELAYER) {
        if (!d->layersEnabled || !qxFXHook.layerSetup) return fail(ERR_NOLAYERS);
        // A layer that an async draw (a transition or a move) drives is not taken.
        if (!fx->object.automatic && qxIsObjectInAsyncDraw(qxGetLayerByIndex(d->bgpic, int32_t(fx->object.number))))
            return fail(ERR_ALREADYASYNC);
        if (int e = qxFXHook.layerSetup(fx)) return fail(e);
        if (int e = qxFXAllocWorkPlanes(fx)) return fail(e);
    }
    if (!fx->newImage || fx->width < 1 || fx->height < 1) return fail(ERR_WRONGUSAGE);
    if (int e = prepareSources(fx, d)) return fail(e);
    // Later drawings into the emulated BGPic are what the frames follow.
    if (fx->bgpicEmu && fx->emuBGPic) fx->emuBGPic->changed = 0;
    const qxFXEffect *entry = qxFXFindEffect(fx->effect);
    if (!entry) return fail(ERR_WRONGUSAGE);
    fx->step = entry->step, fx->cleanup = entry->cleanup;
    fx->phase = 0;
    if (int e = fx->step(fx, nullptr)) return fail(e);
    fx->phase = 1;

    if (fx->async) {
        qxAsyncDraw *object = nullptr;
        if (int e = qxAddAsyncDraw(0, asyncFrame, nullptr, asyncFinish, asyncFree, asyncMethod, fx, &object))
            return fail(e);
        if (!fx->selfDriven) {
            lua_pushlightuserdata(fx->L, object);
            return 1;
        }
        for (;;) {
            int error = 0;
            if (qxPollEvents(fx->L, 2, 0, &error)) {
                qxRemoveAsyncDraw(object, 0);
                return error;
            }
            int pushed = 0;
            const uint32_t finished = object->finished;
            if (int e = qxAsyncDrawFrameOn(fx->L, d, object, -1, &pushed)) {
                qxRemoveAsyncDraw(object, 0);
                return e;
            }
            if (finished) return 0; // finished and freed by the step
            if (int e = qxVWaitCurrentDisplay(fx->L, 0)) {
                qxRemoveAsyncDraw(object, 0);
                return e;
            }
        }
    }
    if (fx->mode == QX_FXMODE_BGPIC) qxFXBGPicTransition = 1;
    int done = 0;
    // The display is busy with the frames: its videos wait (a callback
    // between frames may free the display).
    if (qxDisplayVideo.suspendVideos) qxDisplayVideo.suspendVideos(d);
    const int run = runFrames(fx, request, d, &done);
    if (qxDisplayVideo.resumeVideos && displayAlive(d)) qxDisplayVideo.resumeVideos(d);
    if (int e = run) return fail(e);
    if (done) qxFXFinish(fx, 1);
    qxFXBGPicTransition = flagBefore;
    if (fx->mode == QX_FXMODE_BGPIC && !fx->stopped && qxFXHook.bgpicSwitch) qxFXHook.bgpicSwitch(fx, 1);
    qxFXFree(fx, 1);
    return 0;
}

void qxFXFinish(qxTransitionFX *fx, int shown)
{
    if (fx->layerPrepared) {
        if (qxFXHook.layerEnd) qxFXHook.layerEnd(fx, 2, shown);
        fx->layerPrepared = 0;
    }
    if (fx->inUse) {
        --*fx->inUse;
        fx->inUse = nullptr;
    }
    if ((fx->mode == QX_FXMODE_HIDELAYER || fx->mode == QX_FXMODE_REMOVELAYER) && fx->layer && qxFXHook.layerEnd)
        qxFXHook.layerEnd(fx, 0, shown);
    fx->finished = 1;
}

void qxFXFree(qxTransitionFX *fx, int completed)
{
    if (fx->inUse) {
        --*fx->inUse;
        fx->inUse = nullptr;
    }
    if (fx->layerPrepared && qxFXHook.layerEnd) qxFXHook.layerEnd(fx, 2, completed);
    fx->layerPrepared = 0;
    if (fx->data) {
        if (fx->cleanup) fx->cleanup(fx);
        qxFree(fx->data);
        fx->data = nullptr;
    }
    if (fx->ownsNewImage) qxFreeBitMap(fx->newImage);
    if (fx->ownsNewAlpha) qxFreeAlphaBitMap(fx->newAlpha);
    if (fx->ownsNewMask) qxFreeMaskBitMap(fx->newMask);
    qxFreeBitMap(fx->oldImage);
    qxFreeBitMap(fx->bgpicImage);
    qxFreeMaskBitMap(fx->workMask);
    qxFreeAlphaBitMap(fx->workAlpha);
    if (qxFXHook.layerEnd) qxFXHook.layerEnd(fx, 1, completed);
    qxFree(fx);
}

int qxFXRestart(qxTransitionFX *fx)
{
    const int32_t oldFrame = fx->frame, oldFrames = fx->frames;
    if (fx->data) {
        if (fx->cleanup) fx->cleanup(fx);
        qxFree(fx->data);
        fx->data = nullptr;
    }
    fx->speed = fx->requestedSpeed;
    fx->phase = 0, fx->frame = 0, fx->frames = 0;
    if (int e = fx->step(fx, nullptr)) return e;
    fx->phase = 1;
    if (oldFrame < 1) return 0;
    const int64_t mapped =
        oldFrames > 0 ? (int64_t(fx->frames) * oldFrame * 2 + oldFrames) / (int64_t(oldFrames) * 2) : 1;
    const int32_t n = int32_t(std::clamp<int64_t>(mapped, 1, std::max(fx->frames, 1)));
    fx->redrawn = 1;
    const int e = qxFXSeek(fx, n, 1);
    fx->redrawn = 0;
    return e;
}

int qxFXSeek(qxTransitionFX *fx, int32_t n, int force)
{
    // A scroll is set to its frame by the move engine.
    if (qxFXSeeksDirectly(fx->effect) || fx->isScroll) {
        qxFXFrameStart(fx); // the layer shows the frame drawn
        fx->phase = 2, fx->frame = n;
        int done = 0;
        int e = fx->step(fx, &done);
        fx->phase = 1;
        return e;
    }
    if (n == fx->frame && !force) {
        qxFXRebuildFrame(fx);
        return 0;
    }
    if (fx->realtime && qxFXHook.layerImages && fx->layer) {
        qxBitMap *img = nullptr, *m = nullptr, *a = nullptr;
        int32_t w = 0, h = 0;
        if (!qxFXHook.layerImages(fx->layer, &img, &m, &a, &w, &h)) {
            qxFXDrawRect(fx->newImage, 0, 0, img, m, a, 0, 0, w, h, w, h, w, h, nullptr, nullptr, fx,
                         fx->reverse ? 76 : 12);
            // A hide starts from the whole picture, holes and all: the
            // planes set in full keep only what the layer's own planes show.
            if (fx->reverse && m && fx->newMask) qxMaskCopyOp(fx->newMask, 0, 0, m, 0, 0, w, h, 4, nullptr, 0);
            else if (fx->reverse && a && fx->newAlpha) qxBltAlpha(fx->newAlpha, 0, 0, a, 0, 0, w, h, 7, 0);
        }
    }
    fx->phase = 1, fx->drawing = 1, fx->frame = 0;
    int done = 0;
    for (int32_t i = 0; i < n && !done; i++)
        if (int e = fx->step(fx, &done)) {
            fx->drawing = 0;
            return e;
        }
    fx->frame = n, fx->drawing = 0;
    return 0;
}
