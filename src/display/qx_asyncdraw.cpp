// The graphics library's async-draw objects and their three commands.
#include "display/qx_asyncdraw.h"

#include <cstdlib>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

constexpr uint32_t kTypeAsyncDraw = 37, kTypeBGPic = 1, kTypeBrush = 3, kTypeAnim = 4, kTypeMask = 28,
                   kTypeAlpha = 30;

qxAsyncDraw *gDraws = nullptr;

intptr_t ask(qxAsyncDraw *o, int op, void *arg)
{
    return o->method ? o->method(op, arg, o->userData) : -1;
}

// Output goes to a BGPic (selected with its layers): frames go into the
// drawn layer without being shown, and the layer is marked dirty instead.
bool toBGPic(const qxDisplay *d)
{
    return d && d->targetType == kTypeBGPic;
}

void markDrawn(lua_State *L, qxAsyncDraw *o)
{
    void *layer = nullptr;
    ask(o, QX_ADOP_DRAWN, &layer);
    if (layer && qxLayerQueries.markLayerDirty)
        qxLayerQueries.markLayerDirty(L, layer);
}

int step(lua_State *L, qxAsyncDraw *o, int finishNow)
{
    if (finishNow) {
        if (o->finish)
            o->finish(o->userData, 1, 1);
        qxRemoveAsyncDraw(o, 1);
        return 0;
    }
    if (!o->drawFrame)
        return 0;
    const bool bracket = toBGPic(o->display);
    if (bracket)
        ask(o, QX_ADOP_DRAWING, reinterpret_cast<void *>(1));
    const int e = o->drawFrame(o->userData, &o->finished);
    // The bracket closes on a failed frame too: the object must not stay
    // in its drawing state.
    if (bracket) {
        ask(o, QX_ADOP_DRAWING, nullptr);
        if (!e)
            markDrawn(L, o);
    }
    return e;
}

int targetError(const qxDisplay *d)
{
    switch (d->targetType) {
    case kTypeMask:
        return ERR_SELECTMASK;
    case kTypeAlpha:
        return ERR_SELECTALPHACHANNEL;
    case kTypeBrush:
        if (d->doubleBuffer)
            return ERR_ENDDOUBLEBUFFER;
        return qxCurrentOutput && qxCurrentOutput->selectedType == kTypeAnim ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    default:
        return 0;
    }
}

} // namespace

int qxAddAsyncDraw(uint32_t kind, int (*drawFrame)(void *, uint32_t *), void *second,
                   void (*finish)(void *, uint32_t, uint32_t), void (*free)(void *, int),
                   intptr_t (*method)(int, void *, void *), void *userData, qxAsyncDraw **out)
{
    auto *o = static_cast<qxAsyncDraw *>(std::calloc(1, sizeof(qxAsyncDraw)));
    if (!o)
        return ERR_MEM;
    *o = {kTypeAsyncDraw, {0, o}, nullptr, qxCurrentDisplay, kind, 0, drawFrame, second,
          finish, free, method, userData};
    qxAsyncDraw **tail = &gDraws;
    while (*tail)
        tail = &(*tail)->next;
    *tail = o;
    if (out)
        *out = o;
    return 0;
}

int qxFindAsyncDraw(qxObjectRef id, qxAsyncDraw **out)
{
    *out = nullptr;
    for (qxAsyncDraw *o = gDraws; o; o = o->next)
        if (o->id.automatic == id.automatic && o->id.number == id.number) {
            *out = o;
            return 0;
        }
    if (id.automatic)
        return ERR_FINDARRAY;
    qxSetErrorNumber((int)id.number);
    return ERR_FINDASYNCDRAW;
}

int qxRemoveAsyncDraw(qxAsyncDraw *object, int code)
{
    for (qxAsyncDraw **p = &gDraws; *p; p = &(*p)->next)
        if (*p == object) {
            *p = object->next;
            if (object->free)
                object->free(object->userData, code);
            std::free(object);
            return 0;
        }
    return ERR_FINDASYNCDRAW;
}

int qxIsAsyncDrawOnDisplay(const qxDisplay *display)
{
    for (qxAsyncDraw *o = gDraws; o; o = o->next)
        if (o->display == display)
            return 1;
    return 0;
}

void *qxAsyncDrawBusy(void)
{
    for (qxAsyncDraw *o = gDraws; o; o = o->next) {
        void *busy = nullptr;
        if (!o->finished && o->method)
            o->method(QX_ADOP_BUSY, &busy, o->userData);
        if (busy)
            return busy;
    }
    return nullptr;
}

int qxIsObjectInAsyncDraw(const void *object)
{
    if (!object)
        return 0;
    for (qxAsyncDraw *o = gDraws; o; o = o->next) {
        // A move at its end no longer touches its layer; a transition
        // still shows its planes in it until the finishing call.
        if (o->finished && o->kind == 1)
            continue;
        void *drawn = nullptr;
        if (o->method && (o->method(6, &drawn, o->userData), drawn == object))
            return 1;
    }
    return 0;
}

int qxAsyncDrawBroadcast(int event, void *layer)
{
    for (qxAsyncDraw *o = gDraws; o; o = o->next)
        if (intptr_t e = o->method ? o->method(event, layer, o->userData) : 0)
            return int(e);
    return 0;
}

void qxFreeAllAsyncDraws(void)
{
    while (gDraws)
        qxRemoveAsyncDraw(gDraws, 0);
}

void qxFreeAsyncDrawsOfDisplay(const qxDisplay *display)
{
    for (qxAsyncDraw *o = gDraws; o;) {
        qxAsyncDraw *next = o->next;
        if (o->display == display)
            qxRemoveAsyncDraw(o, 0);
        o = next;
    }
}

uint32_t qxAsyncDrawCount(void)
{
    uint32_t n = 0;
    for (qxAsyncDraw *o = gDraws; o; o = o->next)
        n++;
    return n;
}

int qxAsyncDrawFrameOn(lua_State *L, qxDisplay *d, qxAsyncDraw *o, int64_t frame, int *pushed)
{
    *pushed = 0;
    if (!d)
        return ERR_WRONGUSAGE;
    if (int e = targetError(d))
        return e;
    if (o->display != d)
        return ERR_ADFWRONGDISP;
    if (frame < 0) {
        const uint32_t was = o->finished;
        *pushed = was ? 1 : 0;
        return step(L, o, (int)was);
    }
    if (!d->layersEnabled)
        return ERR_NOLAYERS;
    const int64_t cur = ask(o, QX_ADOP_CURRENT, nullptr), count = ask(o, QX_ADOP_COUNT, nullptr);
    if (count < frame || frame == 0) {
        if (o->finished) {
            *pushed = 1;
            return step(L, o, 1);
        }
        if (count < frame)
            return ERR_ANIMFRAME;
    }
    // 0 asks for the next frame; before the first frame cur is 0 as well,
    // and answering "already there" would stall the script's loop for ever.
    if (frame != 0 && frame == cur)
        return 0;
    if (frame != cur + 1 && frame != 0) {
        int target = (int)frame;
        if (intptr_t e = ask(o, QX_ADOP_SEEK, &target))
            return (int)e;
        if (toBGPic(d))
            markDrawn(L, o);
        else
            ask(o, QX_ADOP_SHOW, nullptr);
        o->finished = frame == count;
        *pushed = o->finished ? 1 : 0;
        return 0;
    }
    return step(L, o, 0);
}

int qxCmdAsyncDrawFrame(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    // The output is checked before the object is looked up.
    qxDisplay *d = qxCurrentDisplay;
    if (!d)
        return ERR_WRONGUSAGE;
    if (int e = targetError(d))
        return e;
    qxAsyncDraw *o;
    if (int e = qxFindAsyncDraw(qxGetObjectIDArg(L, 1), &o))
        return e;
    int64_t frame = -1;
    if (lua_gettop(L) >= 2) {
        double v = luaL_checknumber(L, 2);
        frame = v < 1 || v != v ? 0 : v > 2e9 ? 2000000000 : (int64_t)v;
    }
    int pushed;
    if (int e = qxAsyncDrawFrameOn(L, d, o, frame, &pushed))
        return e;
    lua_pushnumber(L, pushed);
    return 1;
}

int qxCmdFinishAsyncDraw(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxAsyncDraw *o;
    if (int e = qxFindAsyncDraw(qxGetObjectIDArg(L, 1), &o))
        return e;
    const uint32_t f = o->finished;
    if (o->finish)
        o->finish(o->userData, f, f);
    return qxRemoveAsyncDraw(o, (int)f);
}

int qxCmdCancelAsyncDraw(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxAsyncDraw *o;
    if (int e = qxFindAsyncDraw(qxGetObjectIDArg(L, 1), &o))
        return e;
    return qxRemoveAsyncDraw(o, 0);
}
