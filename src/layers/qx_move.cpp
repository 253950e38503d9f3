// The move-object engine: preparing a move (checks, path, wave table),
// stepping it frame by frame and releasing it.
#include "layers/qx_move.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "display/qx_asyncdraw.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "display/qx_display.h"
#include "display/qx_events.h"
#include "display/qx_framepacing.h"
#include "display/qx_positions.h"
#include "layers/qx_layer.h"
#include "layers/qx_sprite.h"
#include "objects/qx_anim.h"
#include "objects/qx_brush.h"
#include "objects/qx_output.h"
#include "platform/qx_errcodes.h"

namespace {

// Paths longer than this are refused (1000) rather than allocated.
constexpr int64_t kMaxPath = int64_t(1) << 26;
// SafeBlt's flags: into the first work bitmap, not shown.
constexpr uint32_t kFirstWork = 4, kNoShow = 0x20;

qxBGPic *bgpicOf() { return qxCurrentDisplay ? qxCurrentDisplay->bgpic : nullptr; }

// The area a move places its object in: a layer moves in the BGPic's
// coordinates, a picture drawn into the display's own picture in that
// picture's (at the window's size when the display scales its layers).
void areaOf(const qxMoveState *s, int32_t *w, int32_t *h)
{
    qxBGPic *b = bgpicOf();
    if (s->type == QX_MOVE_LAYER || s->layer) *w = b ? b->width : 0, *h = b ? b->height : 0;
    else qxComposedSize(qxCurrentDisplay, b, w, h);
}

int checkOutput(const qxDisplay *d)
{
    if (!d || !d->bgpic) return ERR_WRONGUSAGE;
    if (int r = qxCheckSpriteOutput(); r && r != ERR_LAYERSOFF) return r;
    return d->refreshMode ? ERR_BEGINREFRESH : 0;
}

int32_t clamp32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

int64_t nowMs()
{
    qxTimeVal t;
    qxGetSysTime(&t);
    return int64_t(t.seconds) * 1000 + t.microseconds / 1000;
}

void setTime(qxTimeVal *t, int64_t ms) { *t = {uint32_t(ms / 1000), uint32_t(ms % 1000) * 1000}; }
int64_t timeMs(const qxTimeVal &t) { return int64_t(t.seconds) * 1000 + t.microseconds / 1000; }

// The anim's planes for the current frame; frames of a disk anim are
// loaded one at a time and freed again.
int loadAnimFrame(qxMoveState *s)
{
    auto *a = static_cast<qxAnim *>(s->anim);
    if (s->perframe && s->bitmap) qxFreeImagePlanes(s->bitmap, s->mask, s->alpha);
    s->bitmap = s->mask = s->alpha = nullptr;
    return qxGetAnimFrameBitmap(a, uint32_t(s->frame), s->perframe, 0, &s->bitmap, &s->mask, &s->alpha);
}

int objectFrame(qxMoveState *s)
{
    if (s->type == QX_MOVE_ANIM) return loadAnimFrame(s);
    if (s->type == QX_MOVE_SPRITE) {
        qxSprite *sp = nullptr;
        if (int r = qxFindSprite(s->id, &sp, 2)) return r;
        return qxGetSpriteFrame(sp, s->frame, &s->bitmap, &s->mask, &s->alpha);
    }
    return 0;
}

// Layers off: restore the union of the old and new rectangle from the
// saved background, draw the object into it, and show it.
void drawOff(qxMoveState *s)
{
    qxDisplay *d = qxCurrentDisplay;
    qxBGPic *b = bgpicOf();
    if (!d || !b || !s->background || !s->work || !s->bitmap) return;
    int32_t ux = s->prevx, uy = s->prevy, uw = s->width, uh = s->height;
    qxUnionRect(&ux, &uy, &uw, &uh, s->x, s->y, s->width, s->height);
    int32_t aw, ah;
    areaOf(s, &aw, &ah);
    const int32_t bw = std::min<int32_t>(aw, int32_t(s->work->width));
    const int32_t bh = std::min<int32_t>(ah, int32_t(s->work->height));
    if (!qxIntersectRect(&ux, &uy, &uw, &uh, 0, 0, bw, bh)) return;
    qxBltBitMapDirect(s->background, ux, uy, s->work, ux, uy, uw, uh);
    int32_t ox = s->x, oy = s->y, ow = s->width, oh = s->height;
    if (qxIntersectRect(&ox, &oy, &ow, &oh, 0, 0, bw, bh)) {
        const int32_t sx = ox - s->x, sy = oy - s->y;
        if (s->mask) qxBltBitMapMasked(s->bitmap, sx, sy, s->work, ox, oy, ow, oh, s->mask);
        else if (s->alpha) qxBltBitMapThroughAlpha(s->bitmap, sx, sy, s->work, ox, oy, ow, oh, s->alpha);
        else qxBltBitMapDirect(s->bitmap, sx, sy, s->work, ox, oy, ow, oh);
    }
    // Both go the way other drawing goes: under the sprites, staying in
    // what they uncover, and cut by the clip region.
    if (!s->embedded) {
        qxBlitToOutput(s->L, s->work, ux, uy, ux, uy, uw, uh, bw, bh, nullptr, nullptr);
        return;
    }
    // A transition's frame lands in the display's own picture (first work
    // bitmap) with the transition's flags; the window gets it here, unless
    // the transition builds its frames there and shows them itself.
    qxBitMap *shown = qxDisplayWorkBitmap(d, 1);
    if (!shown) return;
    SafeBlt(s->L, s->work, ux, uy, nullptr, ux, uy, uw, uh, bw, bh, bw, bh, s->blitflags | kFirstWork | kNoShow,
            nullptr, nullptr, nullptr);
    if (!(s->blitflags & kNoShow)) qxPutToWindow(d, shown, ux, uy, uw, uh);
}

// The driven layer, checked against the BGPic's list at every step.
qxLayer *drivenLayer(qxMoveState *s)
{
    qxBGPic *b = bgpicOf();
    if (!b || !s->layer) return nullptr;
    const int32_t index = qxLayerPosition(b, s->layer);
    if (index < 1) return nullptr;
    s->layerindex = index;
    return s->layer;
}

int draw(qxMoveState *s)
{
    if (s->type == QX_MOVE_SPRITE) {
        qxSprite *sp = nullptr;
        if (int r = qxFindSprite(s->id, &sp, 2)) return r;
        return qxShowSprite(s->L, sp, s->id, s->x, s->y, s->frame + 1);
    }
    if (s->layer) {
        qxLayer *l = drivenLayer(s);
        if (!l) return ERR_LAYERRANGE;
        // The move's redraw below shows the new frame.
        if (s->type == QX_MOVE_ANIM && l->type == QX_TYPE_ANIM && l->base->frame != s->frame)
            if (int r = qxLayerSetPosFrame(s->L, l, 100000, 100000, s->frame + 1, 1)) return r;
        qxMoveLayer(s->L, l, nullptr, s->x, s->y, 0, 0, nullptr);
        return 0;
    }
    if (s->type == QX_MOVE_ANIM && !s->bitmap)
        if (int r = loadAnimFrame(s)) return r;
    drawOff(s);
    return 0;
}

void advanceFrame(qxMoveState *s)
{
    if (s->framecount < 1) return;
    const int64_t now = nowMs();
    if (now < timeMs(s->nexttime)) return;
    s->frame = (s->frame + 1) % s->framecount;
    if (s->type == QX_MOVE_ANIM) {
        if (!s->layer) loadAnimFrame(s); // a layer takes the frame when it next moves
        if (s->delay == -4)
            return setTime(&s->nexttime, now + qxGetAnimFrameDelay(static_cast<qxAnim *>(s->anim), uint32_t(s->frame)));
    } else {
        objectFrame(s);
    }
    setTime(&s->nexttime, now + std::max(s->delay, 0));
}

// Where the path index starts: at the end the move leaves from, BOUNCE
// further in.
int32_t firstPathIndex(const qxMoveState *s)
{
    const int64_t length = s->pathlength, u = s->bounceunit;
    int64_t index = s->reverse ? length - 1 : 0;
    if (s->fx == QX_MOVE_BOUNCE) index += s->reverse ? -8 * u : 8 * u;
    return int32_t(std::clamp<int64_t>(index, 0, length - 1));
}

// Builds the path: a Bresenham walk from the end with the smaller major
// coordinate to the other, one minor coordinate per major pixel. BOUNCE
// and DAMPED go on past the larger end with the same slope; the minor steps
// near the end of that extension are counted and the whole path is moved
// back by them, as the index starts further in (BOUNCE) or runs from the
// extended end (reversed moves).
int buildPath(qxMoveState *s)
{
    const int64_t a0 = s->yaxis ? s->y : s->x, b0 = s->yaxis ? s->x : s->y;
    const int64_t a1 = s->yaxis ? s->targety : s->targetx, b1 = s->yaxis ? s->targetx : s->targety;
    const bool fromEnd = a1 < a0;
    const int64_t lowA = fromEnd ? a1 : a0, lowB = fromEnd ? b1 : b0;
    const int64_t highA = fromEnd ? a0 : a1, highB = fromEnd ? b0 : b1;
    const int64_t u = s->bounceunit;
    int64_t extension = 0, mark = 0;
    if (s->fx == QX_MOVE_BOUNCE) extension = 24 * u, mark = s->reverse ? -16 : -8;
    else if (s->fx == QX_MOVE_DAMPED) extension = 8 * u, mark = s->reverse ? -8 : 0;
    const int64_t dmajor = highA - lowA, dminor = std::llabs(highB - lowB), dir = highB < lowB ? -1 : 1;
    const int64_t length = dmajor + extension + 1;
    if (length > kMaxPath) return ERR_MEM;
    s->path = static_cast<int32_t *>(std::malloc(size_t(length) * sizeof(int32_t)));
    if (!s->path) return ERR_MEM;
    s->pathlength = int32_t(length);
    const int64_t counted = highA + extension + u * mark;
    int64_t minor = lowB, error = 2 * dminor - dmajor, steps = 0;
    for (int64_t i = 0; i < length; i++) {
        s->path[i] = clamp32(minor);
        if (i == length - 1) break;
        if (error >= 0) {
            minor += dir, error += 2 * (dminor - dmajor);
            if (extension && lowA + i >= counted) steps++;
        } else {
            error += 2 * dminor;
        }
    }
    if (steps)
        for (int64_t i = 0; i < length; i++) s->path[i] = clamp32(int64_t(s->path[i]) - dir * steps);
    s->pathindex = firstPathIndex(s);
    return 0;
}

// Where the wave table starts, so that the wave ends on the target line.
int32_t firstWaveIndex(const qxMoveState *s)
{
    if (s->fx > QX_MOVE_BIGSINE) return 0;
    const int64_t n = (std::llabs(int64_t(s->x2) - s->x1) + s->step - 1) / s->step * s->waveindexstep;
    return int32_t((QX_MOVE_WAVE_ENTRIES - n % QX_MOVE_WAVE_ENTRIES) % QX_MOVE_WAVE_ENTRIES);
}

int32_t &majorOf(qxMoveState *s) { return s->yaxis ? s->y : s->x; }
int32_t &minorOf(qxMoveState *s) { return s->yaxis ? s->x : s->y; }

// The wave moves (horizontal SINE, BIGSINE and the curves).
bool waveStep(qxMoveState *s)
{
    if (s->phase == 9) {
        s->y = s->targety;
        return true;
    }
    const int64_t dir = s->direction == 6 ? -1 : 1;
    int64_t x = int64_t(s->x) + dir * s->wavestep;
    const bool reached = dir > 0 ? x >= s->targetx : x <= s->targetx;
    if (reached) x = s->targetx;
    s->x = int32_t(x);
    if (s->fx == QX_MOVE_SINE || s->fx == QX_MOVE_BIGSINE) {
        s->y = int32_t(s->wave[s->waveindex]);
        s->waveindex += s->waveindexstep;
        while (s->waveindex > QX_MOVE_WAVE_ENTRIES - 1) s->waveindex -= QX_MOVE_WAVE_ENTRIES;
        if (reached) s->phase = 9;
        return false;
    }
    s->waveindex += s->wavestep;
    const double v = std::sin((s->waveindex + 1) * s->wave[0]) * 150.0;
    s->y = s->fx == QX_MOVE_LOWERCURVE ? clamp32(s->y1 + int64_t(v)) : clamp32(s->y1 - int64_t(v));
    if (reached) s->y = s->targety;
    return reached;
}

// Where BOUNCE turns, as multiples of the bounce unit from the target.
constexpr int32_t kBounceTurns[6] = {16, -8, 4, -2, 1, 0};

bool pathStep(qxMoveState *s)
{
    int32_t &major = majorOf(s);
    const int64_t target = s->yaxis ? s->targety : s->targetx;
    const int64_t sign = s->reverse ? -1 : 1; // toward the target at first
    const int64_t u = s->bounceunit;
    const int64_t moved = s->step; // the path index follows this frame's step
    int64_t m = int64_t(major) + s->step;
    if (s->fx == QX_MOVE_SMOOTHOUT && s->phase == 0 &&
        (sign > 0 ? m > target - s->slowdistance : m < target + s->slowdistance)) {
        const int32_t mag = std::max(1, std::abs(s->step) - s->slowamount);
        s->step = s->step < 0 ? -mag : mag;
    }
    bool done = false;
    auto passed = [&](int64_t point, int64_t towards) { return towards > 0 ? m >= point : m <= point; };
    if (s->phase == 0) {
        if (passed(target, sign)) {
            if (s->fx == QX_MOVE_BOUNCE) {
                s->phase = 1;
            } else if (s->fx == QX_MOVE_DAMPED) {
                const int32_t mag = std::max(1, std::abs(s->step) - std::abs(s->step) / 4);
                s->step = s->step < 0 ? -mag : mag;
                s->phase = 7;
            } else {
                m = target, done = true;
            }
        }
    }
    if (s->phase >= 1 && s->phase <= 6) {
        const int32_t off = kBounceTurns[s->phase - 1];
        const int64_t point = target + sign * off * u;
        // Odd phases move away from the start side, even ones back.
        const int64_t towards = (s->phase % 2) ? sign : -sign;
        if (passed(point, towards)) {
            m = point;
            if (s->phase == 6) done = true;
            else s->step = -s->step, s->phase++;
        }
    } else if (s->phase == 7) {
        const int64_t point = target + sign * 8 * u;
        if (passed(point, sign)) {
            m = point;
            const int32_t mag = std::max(1, (std::abs(s->step) + 1) / 2);
            s->step = s->step < 0 ? mag : -mag;
            s->phase = 8;
        }
    } else if (s->phase == 8 && passed(target, -sign)) {
        m = target, done = true;
    }
    major = clamp32(m);
    if (done) {
        minorOf(s) = s->yaxis ? s->targetx : s->targety;
        return true;
    }
    s->pathindex = int32_t(std::clamp<int64_t>(int64_t(s->pathindex) + moved, 0, s->pathlength - 1));
    minorOf(s) = s->path[s->pathindex];
    return false;
}

// Lowers the lock taken at the start. The object is looked up again: at
// shutdown its library may have freed it before the move goes.
void releaseObject(qxMoveState *s)
{
    if (!s->usecounter && !s->planes) return;
    s->usecounter = nullptr;
    s->planes = nullptr;
    switch (s->type) {
    case QX_MOVE_BRUSH:
        if (qxBrush *b = nullptr; !qxFindBrush(s->L, s->id, &b, QX_FIND_PENDING | QX_FIND_NOCOPY) && b->locked)
            b->locked--;
        break;
    case QX_MOVE_ANIM:
        if (qxAnim *a = nullptr; !qxFindAnim(s->L, s->id, &a, 2 | 4) && a->locked) a->locked--;
        break;
    case QX_MOVE_SPRITE:
        if (qxSprite *sp = nullptr; !qxFindSprite(s->id, &sp, 2)) qxLockSprite(sp, -1);
        break;
    case QX_MOVE_TEXTOBJECT:
        if (qxTextObjects.lock) qxTextObjects.lock(s->L, s->id, -1);
        break;
    default: break;
    }
}

// Looks the object up, takes its size and planes and raises its lock;
// *origin gets a text object's offset of its picture from its position.
int takeObject(qxMoveState *s, int32_t origin[2])
{
    lua_State *L = s->L;
    switch (s->type) {
    case QX_MOVE_BRUSH: {
        qxBrush *b = nullptr;
        if (int r = qxFindBrush(L, s->id, &b, 0)) return r;
        uint32_t w = 0, h = 0;
        if (b->kind == QX_BRUSH_VECTOR) return ERR_VECTORBRUSH;
        if (!qxGetBrushBitmaps(L, s->id, &s->bitmap, &s->mask, &s->alpha, &w, &h)) return ERR_BITMAP;
        s->width = int32_t(w), s->height = int32_t(h);
        s->usecounter = &b->locked;
        b->locked++;
        break;
    }
    case QX_MOVE_ANIM: {
        qxAnim *a = nullptr;
        if (int r = qxFindAnim(L, s->id, &a, 0)) return r;
        s->anim = a;
        s->width = int32_t(a->width), s->height = int32_t(a->height);
        s->framecount = int32_t(a->frameCount);
        s->perframe = a->disk;
        s->usecounter = &a->locked;
        a->locked++;
        break;
    }
    case QX_MOVE_TEXTOBJECT: {
        if (!qxTextObjects.image) return ERR_UNIMPLCMD;
        if (int r = qxTextObjects.image(L, s->id, &s->bitmap, &s->mask, &s->alpha, &s->width, &s->height, &origin[0],
                                        &origin[1]))
            return r;
        if (qxTextObjects.lock) qxTextObjects.lock(L, s->id, 1), s->planes = s->bitmap;
        break;
    }
    case QX_MOVE_LAYER: {
        qxDisplay *d = qxCurrentDisplay;
        qxBGPic *b = bgpicOf();
        if (!d || !d->layersEnabled || !b) return ERR_NOLAYERS;
        if (!s->layer) {
            s->layer = qxGetLayerByIndex(b, s->layerindex);
            if (!s->layer) return ERR_LAYERRANGE;
        }
        const qxLayerData *ld = s->layer->onscreen;
        s->width = ld->width, s->height = ld->height;
        auto rel = [](int32_t v, int32_t pos) {
            return v >= 95001 && v <= 104999 ? clamp32(int64_t(v) - 100000 + pos) : v;
        };
        s->x1 = rel(s->x1, ld->x), s->x2 = rel(s->x2, ld->x);
        s->y1 = rel(s->y1, ld->y), s->y2 = rel(s->y2, ld->y);
        break;
    }
    case QX_MOVE_SPRITE: {
        qxSprite *sp = nullptr;
        if (int r = qxFindSprite(s->id, &sp, 0)) return r;
        s->width = sp->width, s->height = sp->height, s->framecount = sp->frameCount;
        qxLockSprite(sp, 1);
        s->planes = sp;
        break;
    }
    case QX_MOVE_PICTURE: break; // the transition gave planes or a layer
    default: return ERR_WRONGUSAGE;
    }
    if (s->framecount == 1) s->framecount = 0;
    return objectFrame(s);
}

// A layer showing the moved object, found from the bottom or made on top.
int driveLayer(qxMoveState *s)
{
    qxBGPic *b = bgpicOf();
    const uint32_t type = s->type == QX_MOVE_ANIM ? QX_TYPE_ANIM : s->type;
    for (qxLayer *l = b->layers.first; l; l = l->next)
        if (l->type == type && l->sourceid.number == s->id.number && l->sourceid.automatic == s->id.automatic) {
            s->layer = l;
            break;
        }
    if (!s->layer && s->type == QX_MOVE_TEXTOBJECT) {
        if (!qxTextObjects.addLayer) return ERR_LAYERSUPPORT;
        if (int r = qxTextObjects.addLayer(s->L, s->id, s->x, s->y, &s->layer)) return r;
        if (!s->layer) return ERR_LAYERRANGE;
        qxDrawLayer(s->L, s->layer, 0);
    }
    if (!s->layer) {
        if (s->type != QX_MOVE_BRUSH && s->type != QX_MOVE_ANIM) return ERR_LAYERSUPPORT;
        qxBitMap *bm = nullptr, *m = nullptr, *al = nullptr;
        if (s->type == QX_MOVE_ANIM &&
            qxGetAnimFrameBitmap(static_cast<qxAnim *>(s->anim), 0, 1, 0, &bm, &m, &al))
            return ERR_LOADFRAME;
        qxTransformOptions options = qxTransformTemplate;
        qxObjectStyle style = qxStyleTemplate;
        const int32_t position = qxCountLayers(b) + 1;
        if (int r = qxAddImageLayer(s->L, type, s->id, 0, 0, s->x, s->y, s->width, s->height, &options, &style, bm, m,
                                    al, position, QX_AL_SCALED)) {
            qxFreeImagePlanes(bm, m, al);
            return r;
        }
        s->layer = qxGetLayerByIndex(b, position);
        if (!s->layer) return ERR_LAYERRANGE;
        qxDrawLayer(s->L, s->layer, 0);
    }
    s->layerindex = qxLayerPosition(b, s->layer);
    qxMoveLayer(s->L, s->layer, nullptr, s->x, s->y, 0, 0, nullptr);
    return 0;
}

int makeBitmaps(qxMoveState *s)
{
    qxDisplay *d = qxCurrentDisplay;
    qxBGPic *b = bgpicOf();
    if (!d || !b) return ERR_WRONGUSAGE;
    int32_t w, h;
    areaOf(s, &w, &h);
    qxFreeBitMap(s->background), qxFreeBitMap(s->work);
    s->background = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    s->work = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    qxBitMap *shown = qxDisplayWorkBitmap(d, 1);
    if (!s->background || !s->work || !shown) return ERR_BITMAP;
    // Under sprites the picture below them is what the move uncovers.
    if (qxBitMap *under = qxLayerBackground(d, b); b->sprites && under != b->bitmap && under != shown)
        shown = under;
    qxBltBitMapDirect(shown, 0, 0, s->background, 0, 0, w, h);
    qxBltBitMapDirect(shown, 0, 0, s->work, 0, 0, w, h);
    return 0;
}

int asyncDraw(void *data, uint32_t *finished)
{
    int done = 0;
    const int r = qxMoveStep(static_cast<qxMoveState *>(data), &done);
    *finished = done || r ? 1 : 0;
    return r;
}

void asyncFree(void *data, int) { qxFreeMoveState(static_cast<qxMoveState *>(data), 0); }

int prepare(qxMoveState *s)
{
    qxDisplay *d = qxCurrentDisplay;
    qxBGPic *b = bgpicOf();
    if (!s->embedded)
        if (int r = checkOutput(d)) return r;
    if (!d || !b) return ERR_WRONGUSAGE;
    if (s->type == QX_MOVE_SPRITE && (d->layersEnabled || b->layers.count)) return ERR_LAYERSOFF;
    switch (s->speed) {
    case -1: s->step = 10; break;
    case -2: s->step = 15; break;
    case -3: s->step = 5; break;
    default:
        if (s->speed < 1) return ERR_WRONGUSAGE;
        s->step = s->speed;
    }
    s->bounceunit = s->step;
    if (s->animspeed == -2) s->delay = 0;
    else if (s->animspeed == -1) s->delay = 60;
    else if (s->animspeed == -3) s->delay = 160;
    else if (s->animspeed == -4) s->delay = s->type == QX_MOVE_ANIM ? -4 : 60;
    else s->delay = s->animspeed >= 0 ? clamp32(int64_t(s->animspeed) * 20) : 0;
    int32_t origin[2] = {0, 0};
    if (int r = takeObject(s, origin)) return r;
    // Positions resolved for an object of this size; a text object's origin
    // goes on after, so named positions (#CENTER, ...) stay intact.
    const double ax = s->layer ? s->layer->anchorx : 0, ay = s->layer ? s->layer->anchory : 0;
    int32_t aw, ah;
    areaOf(s, &aw, &ah);
    s->x1 = clamp32(int64_t(qxResolvePosX(s->x1, s->width, aw, ax)) + origin[0]);
    s->x2 = clamp32(int64_t(qxResolvePosX(s->x2, s->width, aw, ax)) + origin[0]);
    s->y1 = clamp32(int64_t(qxResolvePosY(s->y1, s->height, ah, ay)) + origin[1]);
    s->y2 = clamp32(int64_t(qxResolvePosY(s->y2, s->height, ah, ay)) + origin[1]);
    if (s->x1 == s->x2 && s->y1 == s->y2) {
        if (!s->embedded) return -1;
        s->x1 -= 10, s->y1 -= 10;
    }
    s->x = s->x1, s->y = s->y1, s->targetx = s->x2, s->targety = s->y2;
    const int64_t dx = int64_t(s->x2) - s->x1, dy = int64_t(s->y2) - s->y1;
    static constexpr uint32_t kDirections[3][3] = {{7, 6, 5}, {0, 0, 4}, {1, 2, 3}};
    s->direction = kDirections[(dx > 0) - (dx < 0) + 1][(dy > 0) - (dy < 0) + 1];
    if (dx == 0) s->direction = dy < 0 ? 0 : 4;
    s->prevx = s->x, s->prevy = s->y;
    if (dy == 0 && s->fx >= QX_MOVE_SINE && s->fx <= QX_MOVE_UPPERCURVE) {
        s->wavestep = s->step;
        if (s->fx <= QX_MOVE_BIGSINE) {
            const double amplitude = s->fx == QX_MOVE_SINE ? 50.0 : double(ah / 2);
            for (int k = 0; k < QX_MOVE_WAVE_ENTRIES; k++) s->wave[k] = std::sin(0.08 * (k + 1)) * amplitude + s->y1;
            s->waveindexstep = std::max(1, s->step / 4);
        } else {
            s->wave[0] = M_PI / double(std::llabs(dx));
        }
        s->waveindex = firstWaveIndex(s);
    } else {
        s->yaxis = std::llabs(dx) < std::llabs(dy);
        s->reverse = (s->yaxis ? dy : dx) < 0;
        if (int r = buildPath(s)) return r;
        if (s->reverse) s->step = -s->step;
    }
    if (s->fx == QX_MOVE_SMOOTHOUT) {
        s->slowdistance = 6 * std::abs(s->step);
        s->slowamount = std::max(1, (std::abs(s->step) + 5) / 10);
    }
    // First display.
    const bool layers = d->layersEnabled && !(s->embedded && s->type != QX_MOVE_LAYER && !s->layer);
    if (s->type == QX_MOVE_SPRITE) {
        s->frame = 0;
        if (int r = draw(s)) return r;
    } else if (layers) {
        if (s->type == QX_MOVE_LAYER || s->layer) {
            if (!drivenLayer(s)) return ERR_LAYERRANGE;
            qxMoveLayer(s->L, s->layer, nullptr, s->x, s->y, 0, 0, nullptr);
        } else if (int r = driveLayer(s)) {
            return r;
        }
    } else if (int r = makeBitmaps(s)) {
        return r;
    }
    const int64_t first = s->delay == -4 ? qxGetAnimFrameDelay(static_cast<qxAnim *>(s->anim), 0) : s->delay;
    setTime(&s->nexttime, nowMs() + first);
    return 0;
}

// A prepared move back at its start, as the first step finds it.
void rewind(qxMoveState *s)
{
    s->x = s->x1, s->y = s->y1;
    s->phase = 0;
    if (s->path) {
        s->step = s->reverse ? -s->bounceunit : s->bounceunit;
        s->pathindex = firstPathIndex(s);
    } else {
        s->step = s->bounceunit;
        s->waveindex = firstWaveIndex(s);
    }
}

// One step along the path or wave without drawing; true at the end.
bool advance(qxMoveState *s) { return s->path ? pathStep(s) : waveStep(s); }

// No path is longer than this many steps (one pixel each, with bounces).
constexpr int64_t kMaxSteps = 64 * kMaxPath;

} // namespace

extern "C" {

int32_t qxMoveStepCount(const qxMoveState *state)
{
    qxMoveState s = *state;
    rewind(&s);
    int64_t n = 1;
    while (!advance(&s) && n < kMaxSteps) n++;
    return int32_t(std::min<int64_t>(n, INT32_MAX));
}

int qxMoveRestart(qxMoveState *s, int32_t n, int *done)
{
    rewind(s);
    bool finished = false;
    for (int32_t i = 0; i < n && !finished; i++) finished = advance(s);
    *done = finished;
    if (int r = draw(s)) return r;
    s->prevx = s->x, s->prevy = s->y;
    return 0;
}

int qxMoveObject(qxMoveState *s)
{
    int r = prepare(s);
    if (r == -1 || (r && !s->embedded)) {
        qxFreeMoveState(s, 0);
        return r == -1 ? 0 : r;
    }
    if (r) return r;
    if (s->embedded) {
        s->stepfn = qxMoveStep;
        s->freefn = qxFreeMoveState;
        return 0;
    }
    if (s->async) {
        qxAsyncDraw *o = nullptr;
        if ((r = qxAddAsyncDraw(1, asyncDraw, nullptr, nullptr, asyncFree, qxMoveMethod, s, &o))) {
            qxFreeMoveState(s, 0);
            return r;
        }
        lua_pushlightuserdata(s->L, o);
        return 0;
    }
    int done = 0;
    while (!done) {
        int error = 0;
        if (qxPollEvents(s->L, 2, 0, &error)) {
            r = error;
            break;
        }
        qxDisplay *d = qxCurrentDisplay;
        qxBGPic *b = bgpicOf();
        if (s->background && b && d && !d->scaledBitMap &&
            (int32_t(s->background->width) != b->width || int32_t(s->background->height) != b->height))
            if ((r = makeBitmaps(s))) break;
        if ((r = qxMoveStep(s, &done))) break;
        if ((r = qxVWaitCurrentDisplay(s->L, 0))) break;
    }
    qxFreeMoveState(s, 0);
    return r;
}

int qxMoveStep(qxMoveState *s, int *done)
{
    *done = 0;
    const bool finished = advance(s);
    if (int r = draw(s)) {
        *done = 1;
        return r;
    }
    s->prevx = s->x, s->prevy = s->y;
    if (!finished) advanceFrame(s);
    *done = finished;
    return 0;
}

void qxFreeMoveState(qxMoveState *s, int)
{
    if (!s) return;
    releaseObject(s);
    std::free(s->path);
    s->path = nullptr;
    qxFreeBitMap(s->background), qxFreeBitMap(s->work);
    s->background = s->work = nullptr;
    if (s->perframe && s->bitmap) qxFreeImagePlanes(s->bitmap, s->mask, s->alpha);
    if (s->type != QX_MOVE_PICTURE) s->bitmap = s->mask = s->alpha = nullptr;
    if (s->owned) std::free(s);
}

intptr_t qxMoveMethod(int op, void *argument, void *state)
{
    auto *s = static_cast<qxMoveState *>(state);
    if (op == 6 && argument) *static_cast<qxLayer **>(argument) = s->layer;
    else if (op == 0 && argument && argument == s->layer) s->layer = static_cast<qxLayer *>(argument)->previous;
    return 0;
}

} // extern "C"
