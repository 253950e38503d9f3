// Fills the transition engine's hooks into the image objects: the BGPic
// switch of DisplayTransitionFX and ClearScreen, brushes as new pictures,
// ending double buffering and the Select-target check.
#include <algorithm>

#include "display/qx_adapter.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_display.h"
#include "display/qx_positions.h"
#include "fx/qx_fxhooks.h"
#include "fx/qx_fxpaint.h"
#include "layers/qx_layer.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_brush.h"
#include "objects/qx_output.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

// A mode-1 run is synchronous and the display cannot change under it, so
// one saved state is enough: whether the display owned its old BGPic.
struct {
    const qxTransitionFX *fx;
    qxDisplay *display;
    uint32_t oldOwned;
    uint32_t background; // the layers' background holds the old picture
} switchState;

bool hasPlanes(const qxBGPic *b)
{
    return b->alpha || b->transparentColour != 0xFFFFFFFFu;
}

// An expose or a redraw mid-transition must not show the new BGPic early:
// the work bitmap, and with layers the background they are drawn over,
// hold the old picture until the frames draw over it.
void keepOldPicture(qxDisplay *d, qxBGPic *prev, qxBGPic *next, qxBitMap *old, int32_t w, int32_t h)
{
    if (qxBitMap *work = qxDisplayWorkBitmap(d, 1))
        qxFXBlitClipped(old, 0, 0, work, 0, 0, w, h, w, h, int32_t(work->width), int32_t(work->height));
    // A background of the display's own (drawings kept by EnableLayers) stays.
    if (!d->layersEnabled || qxLayerBackground(d, next) != next->bitmap || qxLayerBackground(d, prev) != prev->bitmap)
        return;
    qxBitMap *bg = qxAllocBitMap(uint32_t(next->width), uint32_t(next->height), 0, nullptr);
    if (!bg) return; // the BGPic itself stays the background
    qxBltBitMapDirect(next->bitmap, 0, 0, bg, 0, 0, next->width, next->height);
    qxFXBlitClipped(old, 0, 0, bg, 0, 0, w, h, w, h, next->width, next->height);
    qxSetLayerBackground(d, next, bg);
    switchState.background = 1;
}

int switchOn(qxTransitionFX *fx)
{
    qxDisplay *d = qxCurrentDisplay;
    qxBGPic *next = qxFindBGPicRecord(fx->object);
    if (!d || !d->bgpic || !next) return ERR_WRONGUSAGE;
    if (hasPlanes(next) || hasPlanes(d->bgpic)) return ERR_WRONGUSAGE;
    fx->bgpic = d->bgpic;
    // The old record must outlive the switch so a failed run can go back.
    switchState = {fx, d, d->bgpicOwned, 0};
    d->bgpicOwned = 0;
    qxBitMap *picture = nullptr, *old = nullptr;
    if (int e = qxDisplayBGPicCmd(fx->L, fx->object, fx->posX, fx->posY, 1, &picture, &old)) {
        d->bgpicOwned = switchState.oldOwned;
        switchState = {};
        return e;
    }
    fx->newImage = picture, fx->ownsNewImage = 1;
    fx->bgpicImage = old;
    // A display that scales its layers shows the new BGPic rendered at the
    // window's size: the frames are drawn at that size.
    const bool atScale = picture && qxLayerScaling(d);
    fx->width = atScale ? int32_t(picture->width) : next->width;
    fx->height = atScale ? int32_t(picture->height) : next->height;
    fx->bgWidth = fx->width, fx->bgHeight = fx->height;
    // The window keeps the old picture until the effect draws over it.
    if (old) {
        const int32_t ow = int32_t(old->width), oh = int32_t(old->height);
        qxFXShowWhole(d, old, std::min(ow, fx->width), std::min(oh, fx->height));
        keepOldPicture(d, fx->bgpic, next, old, ow, oh);
    }
    return 0;
}

int bgpicSwitch(qxTransitionFX *fx, int op)
{
    if (op == 0) return switchOn(fx);
    const bool mine = switchState.fx == fx;
    qxDisplay *d = mine ? switchState.display : qxCurrentDisplay;
    const uint32_t oldOwned = mine ? switchState.oldOwned : 0;
    // The layers are drawn over the BGPic itself again.
    if (mine && switchState.background && d) qxSetLayerBackground(d, d->bgpic, nullptr);
    if (mine) switchState = {};
    if (!d || !fx->bgpic) return 0;
    if (op == 1) {
        // The window ends on the whole new picture, whatever the effect's
        // last frame left there.
        if (fx->newImage && d->state != QX_DISPSTATE_CLOSED) qxFXShowWhole(d, fx->newImage, fx->width, fx->height);
        // The display shows the new BGPic for good; the old one stays a
        // BGPic of the script, unless the script freed it while shown.
        if (qxCurrentOutput == fx->bgpic) qxCurrentOutput = d->bgpic;
        fx->bgpic = nullptr;
        if (qxLayerQueries.flushDeletedObjects) qxLayerQueries.flushDeletedObjects(fx->L, 8);
        return 0;
    }
    const qxObjectRef back{fx->bgpic->id, fx->bgpic->automatic};
    const int e = qxDisplayBGPicCmd(fx->L, back, 200000, 200000, 0, nullptr, nullptr);
    if (!e) d->bgpicOwned = oldOwned;
    return e;
}

// Modes 3 and 13 with layers off: the brush's planes (not owned) or a cut
// of the BGPic's part (owned), placed by the position constants.
int objectSource(qxTransitionFX *fx)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_WRONGUSAGE;
    if (d->layersEnabled) return ERR_UNSUPPORTEDFEAT;
    if (fx->mode == QX_FXMODE_BRUSH) {
        qxBrush *brush = nullptr;
        if (int e = qxFindBrush(fx->L, fx->object, &brush, 0)) return e;
        if (!brush->bitmap) return ERR_BITMAP;
        fx->width = int32_t(brush->width), fx->height = int32_t(brush->height);
        fx->newImage = brush->bitmap, fx->newMask = brush->mask, fx->newAlpha = brush->alpha;
        fx->inUse = &brush->locked;
        ++brush->locked;
    } else if (fx->mode == QX_FXMODE_BGPICPART) {
        qxBGPic *b = nullptr;
        if (int e = qxFindBGPic(fx->L, fx->object, &b, 0)) return e;
        if (!b->bitmap || fx->width < 1 || fx->height < 1 || fx->srcX < 0 || fx->srcY < 0 ||
            fx->srcX > b->width - fx->width || fx->srcY > b->height - fx->height)
            return ERR_WRONGUSAGE;
        qxBitMap *part = nullptr, *mask = nullptr, *alpha = nullptr;
        if (int e = qxCopyImageRect(b->bitmap, b->mask, b->alpha, fx->srcX, fx->srcY, fx->width, fx->height, 0, 0, 0,
                                    0, &part, b->mask ? &mask : nullptr, b->alpha ? &alpha : nullptr))
            return e;
        fx->newImage = part, fx->ownsNewImage = 1;
        fx->newMask = mask, fx->ownsNewMask = mask != nullptr;
        fx->newAlpha = alpha, fx->ownsNewAlpha = alpha != nullptr;
        // Freeing the BGPic is refused while the effect runs, as with a brush.
        fx->inUse = &b->locked;
        ++b->locked;
    } else {
        // Text objects are not reachable from here yet: they answer as missing.
        if (fx->object.automatic) return ERR_FINDARRAY;
        qxSetErrorNumber(int(fx->object.number));
        return ERR_FINDTEXTOBJECT;
    }
    qxFXPlaceObject(fx->width, fx->height, &fx->x, &fx->y);
    return 0;
}

int endDoubleBuffer(lua_State *L)
{
    return qxEndDoubleBufferCore(L, qxCurrentDisplay);
}

// Mode 1 with SelectBGPic on the very BGPic, mode 3 with the brush
// selected as brush, mask or alpha target, or an async request on the
// shown BGPic selected with layers on.
int selectedTarget(qxTransitionFX *fx)
{
    const qxDisplay *d = qxCurrentDisplay;
    const qxBGPic *out = qxCurrentOutput;
    if (!d || !out) return 0;
    // SelectBGPic in layers mode makes the BGPic itself the output record;
    // every other selection describes its object in the output record.
    bool record = false;
    for (const qxBGPic *b = qxBGPics; b && !record; b = b->next) record = b == out;
    const uint32_t type = record ? uint32_t(QX_TYPE_BGPIC) : out->selectedType;
    const qxObjectRef sel = record ? qxObjectRef{out->id, out->automatic} : out->selectedRef;
    const bool same = sel.number == fx->object.number && sel.automatic == fx->object.automatic;
    const uint32_t target = d->targetType;
    // A BGPic selected in the other modes is drawn into like a brush.
    if (fx->mode == QX_FXMODE_BGPIC)
        return (target == QX_TYPE_BGPIC || target == QX_TYPE_BRUSH) && type == QX_TYPE_BGPIC && same;
    // An async draw may work on the layers of the BGPic the display shows
    // while that BGPic is selected.
    if (fx->async && d->layersEnabled && target == QX_TYPE_BGPIC && d->bgpic && type == QX_TYPE_BGPIC &&
        sel.number == d->bgpic->id && sel.automatic == d->bgpic->automatic)
        return 1;
    if (fx->mode == QX_FXMODE_BRUSH)
        return (target == QX_TYPE_BRUSH || target == QX_TYPE_MASK || target == QX_TYPE_ALPHACHANNEL) &&
               type == QX_TYPE_BRUSH && same;
    return 0;
}

// Pixels drawn for the current display go into its window; transitions
// and SafeBlt show their frames through this.
void showOnWindow(qxBitMap *bitmap, int32_t sx, int32_t sy, void *display, int32_t dx, int32_t dy, int32_t w,
                  int32_t h, uint32_t flags, qxBitMap *mask)
{
    auto *d = static_cast<qxDisplay *>(display);
    if (!d) return;
    // Plain rectangles take the display's one road, which places them at
    // the window's scale.
    if (!mask && !(flags & 64) && sx == dx && sy == dy) qxPutToWindow(d, bitmap, dx, dy, w, h);
    else qxBltToWindow(bitmap, sx, sy, d, dx, dy, w, h, 0, 0, flags & 64, mask, nullptr, nullptr);
}

} // namespace

void qxFXPlaceObject(int32_t w, int32_t h, int32_t *x, int32_t *y)
{
    const qxDisplay *d = qxCurrentDisplay;
    const qxBGPic *b = d ? d->bgpic : nullptr;
    // Area 0 resolves on the clip region (or the output without one).
    const bool onClip = !b || d->clipRegion;
    *x = qxResolvePosX(*x, w, onClip ? 0 : b->width, 0);
    *y = qxResolvePosY(*y, h, onClip ? 0 : b->height, 0);
}

void qxLinkFXObjects(void)
{
    qxFXHook.bgpicSwitch = bgpicSwitch;
    qxFXHook.objectSource = objectSource;
    qxFXHook.endDoubleBuffer = endDoubleBuffer;
    qxFXHook.selectedTarget = selectedTarget;
    if (!qxBitMapDisplay.bltToDisplay) qxBitMapDisplay.bltToDisplay = showOnWindow;
    qxLinkFXLayers();
    qxLinkFXSources();
}
