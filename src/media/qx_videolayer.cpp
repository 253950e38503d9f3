// Video layers: a layer of type 50 that shows a video's pictures, the
// commands of the layers library that drive it, and DisplayVideoFrame.
#include <algorithm>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "display/qx_adapter.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_display.h"
#include "layers/qx_layer.h"
#include "layers/qx_videolayercmds.h"
#include "media/qx_medialibs.h"
#include "media/qx_videoobject.h"
#include "objects/qx_displaycore.h"
#include "objects/qx_objargs.h"
#include "objects/qx_objectuse.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

qxObjectRef refOf(const qxVideoObject *o)
{
    return o->header.automatic ? qxObjectRef{0, o->header.automatic} : qxObjectRef{o->header.id, nullptr};
}

// The layer's own picture takes a delivered frame; the layer redraws its
// area through the layer engine, so layers above it stay on top.
int replaceFrame(void *target, qxBitMap *frame, int32_t, int32_t, int32_t w, int32_t h)
{
    qxVideoObject *o = qxVideoOfPlayer(static_cast<qxVideo *>(target));
    if (!o || !o->layer) return 0;
    qxLayer *l = o->layer;
    // A transition drawing the layer gives its planes back around the
    // change and then rebuilds its current frame over the new picture; the
    // hold keeps the rendition rebuild below from telling it again while
    // its planes are out (it would take them up into records that go).
    qxLayerAsyncHold hold(l);
    qxBitMap *own = l->base ? l->base->bitmap : nullptr;
    if (own && int32_t(own->width) == w && int32_t(own->height) == h) {
        qxBltBitMapDirect(frame, 0, 0, own, 0, 0, w, h);
        lua_State *L = qxMainState;
        if (l->onscreen != l->base) qxRebuildLayerTransform(L, l);
        if (hold.held) {
            hold.release();
        } else if (!l->hidden && qxLayerOwner(l) == qxLayerBGPic()) {
            int32_t x, y, sw, sh;
            qxLayerScreenRect(l, l->onscreen, &x, &y, &sw, &sh);
            qxRefreshDisplay(L, x, y, sw, sh, 0);
        }
    }
    hold.release();
    qxFreeBitMap(frame);
    return 2;
}

int outputActive(void) { return 1; }

int videoSize(lua_State *, qxObjectRef ref, int32_t *w, int32_t *h)
{
    qxVideoObject *o = nullptr;
    if (int r = qxFindVideo(ref, &o, QX_FINDVIDEO_TEMPORARY)) return r;
    *w = int32_t(o->reqWidth), *h = int32_t(o->reqHeight);
    return 0;
}

// A video layer going away stops its video; a temporary video goes with
// its last layer. One detached earlier (DisableLayers) is left to the
// deleted-object flush, which finds it named by no layer.
void freeVideoLayerData(lua_State *L, qxLayerData *data)
{
    // Only the base rendition stands for the layer itself.
    qxVideoObject *o = qxVideoOfLayerData(data);
    if (!o) return;
    const qxLayer *l = o->layer;
    qxDetachVideo(L, o);
    if (o->temporary && !qxFindLayerUsing(QX_TYPE_VIDEO, refOf(o), l, nullptr, nullptr)) qxFreeVideoObject(L, o);
}

const qxLayerTypeOps kVideoLayerOps = {nullptr, freeVideoLayerData, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr};

// The video a layer shows: the one attached to it, else the one it names.
int videoOfLayer(qxLayer *l, qxVideoObject **out)
{
    if (l->type != QX_LAYER_VIDEO) return ERR_BADLAYERTYPE;
    *out = qxVideoOfLayer(l);
    if (*out) return 0;
    if (int r = qxFindVideo(l->layerid, out, QX_FINDVIDEO_TEMPORARY)) return r;
    if ((*out)->layer && (*out)->layer != l) return ERR_DBVIDEOLAYER;
    (*out)->layer = l;
    return 0;
}

int layerPlay(lua_State *L, qxLayer *l)
{
    qxVideoObject *o = nullptr;
    if (int r = videoOfLayer(l, &o)) return r;
    if (o->state == 4) qxStopVideoObject(o);
    if (o->state == 1) return ERR_VIDPLAYING;
    if (o->state == 2) return ERR_VIDPAUSED;
    return qxPlayVideoLayer(L, o, 0, 0, 0);
}

int layerStop(lua_State *L, qxLayer *l)
{
    qxVideoObject *o = nullptr;
    if (int r = videoOfLayer(l, &o)) return r;
    if (o->state == 0) return ERR_VIDSTOPPED;
    qxStopVideoObject(o);
    (void)L;
    return 0;
}

int layerPause(lua_State *, qxLayer *l)
{
    qxVideoObject *o = nullptr;
    if (int r = videoOfLayer(l, &o)) return r;
    return qxPauseVideo(o);
}

int layerResume(lua_State *, qxLayer *l)
{
    qxVideoObject *o = nullptr;
    if (int r = videoOfLayer(l, &o)) return r;
    return qxResumeVideo(o);
}

int layerSeek(lua_State *, qxLayer *l, double frame)
{
    qxVideoObject *o = nullptr;
    if (int r = videoOfLayer(l, &o)) return r;
    return qxSeekVideo(o, frame);
}

int layerVolume(lua_State *, qxLayer *l, double volume)
{
    qxVideoObject *o = nullptr;
    if (int r = videoOfLayer(l, &o)) return r;
    qxSetVideoVolume(o, volume);
    return 0;
}

int layerPlaying(qxLayer *l)
{
    const qxVideoObject *o = l->type == QX_LAYER_VIDEO ? qxVideoOfLayer(l) : nullptr;
    return o && o->state == 1;
}

void layerDetach(lua_State *L, qxLayer *l)
{
    if (qxVideoObject *o = qxVideoOfLayer(l)) qxDetachVideo(L, o);
}

// InsertLayer of a video: its current picture (the first when none was
// decoded yet) as a still layer; a video in use elsewhere is cloned.
int layerInsert(lua_State *L, qxObjectRef ref, int32_t x, int32_t y, qxLayer **out)
{
    qxVideoObject *o = nullptr;
    if (int r = qxFindVideoObject(ref, &o)) return r;
    if (o->state == 4) qxStopVideoObject(o);
    if (o->state != 0 || o->layer) {
        qxVideoObject *clone = nullptr;
        if (int r = qxCloneVideo(o, &clone)) return r;
        o = clone;
    }
    int r = o->player->position == 0 ? qxVideoDecodeFrame(o->player, 0, 0, 0) : 0;
    if (r == 1) r = ERR_VIDEOFRAME;
    if (!r) r = qxAddVideoLayer(L, o, x, y, 0, o->player->slot, o->player->slotPitch);
    if (r) {
        if (o->temporary) qxFreeVideoObject(L, o);
        return r;
    }
    *out = o->layer;
    return 0;
}

} // namespace

extern "C" int qxAddVideoLayer(lua_State *L, qxVideoObject *o, int32_t x, int32_t y, int optArg,
                               const uint32_t *pixels, uint32_t pitch)
{
    qxBitMap *bm = qxVideoPictureBitmap(o->player, pixels, pitch, o->player->width, o->player->height);
    if (!bm) return ERR_BITMAP;
    const qxObjectRef ref = refOf(o);
    int r = qxDisplayObject(L, nullptr, nullptr, QX_OBJ_VIDEO, ref, bm, 0, 0, 0, x, y, int32_t(o->reqWidth),
                            int32_t(o->reqHeight), 0, optArg, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    if (r) return r;
    // The new layer: the topmost one naming the video that no video drives
    // (a layer left by DisableLayers may name it too).
    qxLayer *found = nullptr;
    qxBGPic *b = qxLayerBGPic();
    for (qxLayer *l = b ? b->layers.first : nullptr; l; l = l->next)
        if (l->type == QX_LAYER_VIDEO && l->layerid.number == ref.number && l->layerid.automatic == ref.automatic &&
            !qxVideoOfLayer(l))
            found = l;
    if (!found) return ERR_WRONGUSAGE;
    o->layer = found;
    return 0;
}

extern "C" int qxPlayVideoLayer(lua_State *L, qxVideoObject *o, int32_t x, int32_t y, int optArg)
{
    qxVideo *v = o->player;
    const bool made = !o->layer;
    if (made) {
        // Black until the first picture is due.
        std::vector<uint32_t> black(size_t(v->width) * v->height);
        if (int r = qxAddVideoLayer(L, o, x, y, optArg, black.data(), v->width)) return r;
    }
    v->display = qxCurrentDisplay;
    v->toLayer = 1;
    o->state = 1;
    if (int r = qxVideoStart(v)) {
        o->state = 0;
        if (made) {
            qxLayer *l = o->layer;
            o->layer = nullptr;
            qxRemoveLayerRecord(L, qxLayerOwner(l), l, 0, nullptr);
        }
        return r;
    }
    return 0;
}

extern "C" void qxDetachVideo(lua_State *, qxVideoObject *o)
{
    qxStopVideoObject(o);
    o->player->toLayer = 0;
    o->layer = nullptr;
}

extern "C" int qxCmdDisplayVideoFrame(lua_State *L)
{
    qxCheckArgCount(L, 4, 5, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = qxFindVideo(qxGetObjectIDArg(L, 1), &o, QX_FINDVIDEO_MODIFY | QX_FINDVIDEO_NOCOPY)) return r;
    const int32_t x = int32_t(luaL_checknumber(L, 2)), y = int32_t(luaL_checknumber(L, 3));
    const double frame = luaL_checknumber(L, 4);
    qxDisplay *d = qxCurrentDisplay;
    if (!d || !d->layersEnabled) return ERR_NOLAYERS;
    if (frame != 0 && !o->seekable) return ERR_SEEKFORMAT;
    if (!(frame >= 0 && frame <= double(o->frames) - 1)) return ERR_SEEKRANGE;
    if (o->state == 4) qxStopVideoObject(o);
    if (o->state != 0 || o->layer) {
        qxVideoObject *clone = nullptr;
        if (int r = qxCloneVideo(o, &clone)) return r;
        o = clone;
    }
    int r = qxVideoDecodeFrame(o->player, uint32_t(frame), int(o->seekable), 15);
    if (r == 1) r = ERR_VIDEOFRAME;
    if (!r) r = qxAddVideoLayer(L, o, x, y, lua_gettop(L) >= 5 && lua_istable(L, 5) ? 5 : 0, o->player->slot,
                                o->player->slotPitch);
    if (r && o->temporary) qxFreeVideoObject(L, o);
    return r;
}

extern "C" void qxLinkVideo(void)
{
    qxDisplayCoreHook.videoSize = videoSize;
    qxDisplayVideo.videoOutputActive = outputActive;
    qxDisplayVideo.replaceFrame = replaceFrame;
    qxDisplayVideo.videoAreaMask = qxVideoAreaMask;
    qxDisplayVideo.replaceVideos = qxReplaceVideosOfDisplay;
    qxDisplayVideo.suspendVideos = qxSuspendVideosOfDisplay;
    qxDisplayVideo.resumeVideos = qxResumeVideosOfDisplay;
    qxDisplayVideo.videoOnDisplay = qxIsVideoOnDisplay;
    qxDisplayVideo.videoAtPoint = qxVideoAtPoint;
    qxDisplayVideo.videoPlays = qxVideoPlaysOnDisplay;
    qxRegisterLayerType(QX_LAYER_VIDEO, &kVideoLayerOps);
    qxVideoLayerCalls = {layerPlay, layerStop,   layerPause,  layerResume,          layerSeek,
                         layerVolume, layerDetach, layerInsert, qxFreeVideosOfDisplay, layerPlaying};
}
