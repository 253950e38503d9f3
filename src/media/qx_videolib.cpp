// The "video" command library: video objects, their states and the
// commands that drive their players.
#include <algorithm>
#include <cmath>
#include <atomic>
#include <pthread.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/commands/qx_objreg.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_chunkname.h"
#include "core/files/qx_file.h"
#include "core/runtime/qx_lists.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "display/qx_bitmap.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_picturesave.h"
#include "display/qx_positions.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_displayrecord.h"
#include "display/qx_adapter.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_bitmapdraw.h"
#include "media/qx_medialibs.h"
#include "media/qx_soundcmds.h"
#include "objects/qx_brush.h"
#include "objects/qx_objargs.h"
#include "objects/qx_objectuse.h"
#include "objects/qx_output.h"
#include "objects/qx_picsource.h"
#include "media/qx_video.h"
#include "media/qx_videoobject.h"
#include "media/qx_videosound.h"
#include "layers/qx_layer.h"
#include "platform/qx_memory.h"

namespace {

qxVideoObject *videoList;
bool listRegistered;
pthread_mutex_t listMutex = PTHREAD_MUTEX_INITIALIZER;
std::string defaultLoaders;

void onPlayerEnd(qxVideo *v) { qxSetVideoStateByPlayer(v, 4); }

// Calls fn for every video object under the list mutex until it returns true.
template <typename Fn> qxVideoObject *eachVideo(Fn fn)
{
    pthread_mutex_lock(&listMutex);
    qxObjectHeader *h = videoList ? &videoList->header : nullptr;
    while (h && !fn(reinterpret_cast<qxVideoObject *>(h))) h = h->next;
    pthread_mutex_unlock(&listMutex);
    return reinterpret_cast<qxVideoObject *>(h);
}

// Whether the video is drawn straight into the display's window.
bool drawnOn(const qxVideoObject *o, const qxDisplay *d)
{
    return !o->layer && o->player->display == d && o->player->threadRunning;
}

} // namespace

extern "C" void qxSetVideoStateByPlayer(qxVideo *player, uint32_t state)
{
    eachVideo([&](qxVideoObject *o) {
        // A suspended video ends into the state it returns to.
        if (o->player == player && o->state == 3) o->keptState = state;
        else if (o->player == player) o->state = state;
        return false;
    });
}

extern "C" void qxVideoScaleSize(qxDisplay *, qxVideoObject *o, int position, int size, int)
{
    // The player works in display pixels; the window blit puts each frame
    // where its rectangle lands in the display's scaled picture.
    qxVideo *v = o->player;
    int32_t x = v->x.load(), y = v->y.load();
    uint32_t w = v->outWidth.load(), h = v->outHeight.load();
    if (position) x = o->x, y = o->y;
    if (size) w = std::clamp<uint32_t>(o->reqWidth, 1, 65535), h = std::clamp<uint32_t>(o->reqHeight, 1, 65535);
    qxVideoMoveResize(v, x, y, w, h, o->smooth);
}

extern "C" int qxVideoRectsOfDisplay(qxDisplay *display, int32_t (*rects)[4], int max)
{
    // Window rectangles less the picture offsets, which the window side adds.
    int n = 0;
    eachVideo([&](qxVideoObject *o) {
        const uint32_t s = o->state;
        if (o->layer || o->player->display != display || s < 1 || s > 4) return false;
        const qxVideo *v = o->player;
        qxClipRect r;
        if (!qxDisplayRectInWindow(display, v->x.load(), v->y.load(),
                                   int32_t(v->outWidth.load() ? v->outWidth.load() : v->width),
                                   int32_t(v->outHeight.load() ? v->outHeight.load() : v->height), &r))
            return false;
        if (n < max) {
            rects[n][0] = r.x;
            rects[n][1] = r.y;
            rects[n][2] = r.width;
            rects[n][3] = r.height;
        }
        n++;
        return n >= max;
    });
    return n < max ? n : max;
}

extern "C" qxBitMap *qxVideoAreaMask(qxBitMap *displayBitMap, qxDisplay *display)
{
    if (!display) return nullptr;
    int32_t dw, dh;
    qxVideoOutputArea(display, &dw, &dh);
    std::vector<const qxVideo *> drawn;
    eachVideo([&](qxVideoObject *o) {
        if (drawnOn(o, display)) drawn.push_back(o->player);
        return false;
    });
    return qxVideoRectsMask(displayBitMap, dw, dh, drawn.data(), drawn.size(), display);
}

namespace {
// A suspended video plays on once its display is free again.
bool playsOn(const qxVideoObject *o, const qxDisplay *display)
{
    const uint32_t s = o->state == 3 ? uint32_t(o->keptState) : uint32_t(o->state);
    return s == 1 && drawnOn(o, display);
}
} // namespace

extern "C" int qxVideoPlaysOnDisplay(qxDisplay *display)
{
    return eachVideo([&](qxVideoObject *o) { return playsOn(o, display); }) != nullptr;
}

extern "C" int qxVideoAtPoint(qxDisplay *display, int32_t x, int32_t y)
{
    return eachVideo([&](qxVideoObject *o) {
               if (!playsOn(o, display)) return false;
               const qxVideo *v = o->player;
               const int64_t left = v->x.load(), top = v->y.load();
               const int64_t w = v->outWidth.load() ? v->outWidth.load() : v->width;
               const int64_t h = v->outHeight.load() ? v->outHeight.load() : v->height;
               return x >= left && y >= top && x < left + w && y < top + h;
           }) != nullptr;
}

extern "C" int qxReplaceVideosOfDisplay(qxDisplay *display)
{
    int n = 0;
    eachVideo([&](qxVideoObject *o) {
        if (drawnOn(o, display)) {
            qxVideoScaleSize(display, o, 1, 1, 0);
            n++;
        }
        return false;
    });
    return n;
}

extern "C" int qxIsVideoOnDisplay(qxDisplay *display, int skipLayers)
{
    return eachVideo([&](qxVideoObject *o) {
               if (o->layer) return !skipLayers && o->player->display == display && o->player->threadRunning;
               return drawnOn(o, display);
           }) != nullptr;
}

extern "C" void qxSuspendVideosOfDisplay(qxDisplay *display)
{
    eachVideo([&](qxVideoObject *o) {
        const uint32_t s = o->state;
        if (drawnOn(o, display) && (s == 1 || s == 2 || s == 4)) {
            {
                std::lock_guard out(o->player->outputMutex);
                o->player->suspended = 1;
            }
            o->keptState = s;
            o->state = 3;
        }
        return false;
    });
}

extern "C" void qxResumeVideosOfDisplay(qxDisplay *display)
{
    eachVideo([&](qxVideoObject *o) {
        if (o->state == 3 && o->player->display == display) {
            {
                std::lock_guard out(o->player->outputMutex);
                o->player->suspended = 0;
            }
            o->state = o->keptState;
        }
        return false;
    });
}

extern "C" int qxFindVideo(qxObjectRef ref, qxVideoObject **out, uint32_t flags)
{
    qxVideoObject *o = nullptr;
    for (qxObjectHeader *h = videoList ? &videoList->header : nullptr; h && !o; h = h->next) {
        if (reinterpret_cast<qxVideoObject *>(h)->temporary && !(flags & QX_FINDVIDEO_TEMPORARY)) continue;
        if (ref.automatic ? h->automatic == ref.automatic : (!h->automatic && h->id == ref.number))
            o = reinterpret_cast<qxVideoObject *>(h);
    }
    if (!o) {
        if (ref.automatic) return ERR_FINDARRAY;
        qxSetErrorNumber(int(ref.number));
        return ERR_FINDVIDEO;
    }
    // Videos are never copied for their layers: the commands refuse a
    // layer video wherever a change would reach its layer.
    if ((flags & QX_FINDVIDEO_MODIFY) && o->locked) return ERR_LOCKEDOBJ;
    *out = o;
    return 0;
}

extern "C" int qxFindVideoObject(qxObjectRef ref, qxVideoObject **out) { return qxFindVideo(ref, out, 0); }

extern "C" qxVideoObject *qxVideoOfPlayer(const qxVideo *player)
{
    pthread_mutex_lock(&listMutex);
    qxObjectHeader *h = videoList ? &videoList->header : nullptr;
    while (h && reinterpret_cast<qxVideoObject *>(h)->player != player) h = h->next;
    pthread_mutex_unlock(&listMutex);
    return reinterpret_cast<qxVideoObject *>(h);
}

extern "C" qxVideoObject *qxVideoOfLayer(const qxLayer *layer)
{
    pthread_mutex_lock(&listMutex);
    qxObjectHeader *h = videoList ? &videoList->header : nullptr;
    while (h && reinterpret_cast<qxVideoObject *>(h)->layer != layer) h = h->next;
    pthread_mutex_unlock(&listMutex);
    return layer ? reinterpret_cast<qxVideoObject *>(h) : nullptr;
}

extern "C" qxVideoObject *qxVideoOfLayerData(const void *data)
{
    pthread_mutex_lock(&listMutex);
    qxObjectHeader *h = videoList ? &videoList->header : nullptr;
    for (; h; h = h->next) {
        auto *o = reinterpret_cast<qxVideoObject *>(h);
        if (o->layer && o->layer->base == data) break;
    }
    pthread_mutex_unlock(&listMutex);
    return reinterpret_cast<qxVideoObject *>(h);
}

namespace {

// A position argument: a number or a position constant resolved against
// the video's shown size on the current display.
int32_t positionArg(lua_State *L, int idx, const qxVideoObject *o, int vertical)
{
    double v = lua_gettop(L) >= idx && !lua_isnil(L, idx) ? luaL_checknumber(L, idx) : 0;
    int32_t n = int32_t(std::clamp(v, double(INT32_MIN / 2), double(INT32_MAX / 2)));
    return vertical ? qxResolvePosY(n, int(o->reqHeight), 0, 0) : qxResolvePosX(n, int(o->reqWidth), 0, 0);
}

// Videos draw on the display: a brush, anim, mask or alpha channel chosen
// as the output refuses them. The back buffer of double buffering is no
// such choice: the video plays into the window beside it.
int outputRefused(const qxDisplay *d)
{
    switch (d->targetType) {
    case QX_OUT_BRUSH:
        if (d->doubleBuffer) return 0;
        return qxCurrentOutput && qxCurrentOutput->selectedType == QX_TYPE_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    case QX_OUT_MASK: return ERR_SELECTMASK;
    case QX_OUT_ALPHA: return ERR_SELECTALPHACHANNEL;
    default: return 0;
    }
}

int videoArg(lua_State *L, int idx, qxVideoObject **out, uint32_t flags)
{
    return qxFindVideo(qxGetObjectIDArg(L, idx), out, flags);
}

// Lookup of a command that changes the video: the lock test alone.
constexpr uint32_t MODIFY = QX_FINDVIDEO_MODIFY | QX_FINDVIDEO_NOCOPY;

// Stops the player and rewinds it unless it was already stopped (a seek on
// a stopped video keeps its position for the next start).
} // namespace

extern "C" void qxStopVideoObject(qxVideoObject *o)
{
    qxVideoStop(o->player);
    if (o->state != 0) qxVideoRewind(o->player);
    o->state = 0;
}

extern "C" void qxFreeVideoObject(lua_State *L, qxVideoObject *o)
{
    // A layer that showed the video keeps its last picture.
    if (o->layer) qxDetachVideo(L, o);
    qxStopVideoObject(o);
    pthread_mutex_lock(&listMutex);
    for (qxObjectHeader **p = reinterpret_cast<qxObjectHeader **>(&videoList); *p; p = &(*p)->next) {
        if (*p == &o->header) {
            *p = o->header.next;
            break;
        }
    }
    pthread_mutex_unlock(&listMutex);
    if (L) qxFreeRefList(L, &o->header.data);
    qxVideoClose(o->player);
    o->~qxVideoObject();
    qxFree(o);
}

namespace {

qxObjectRef refOf(const qxVideoObject *o) { return {o->header.id, o->header.automatic}; }

// A layer names the video, attached to it or left by DisableLayers.
bool shownByLayer(const qxVideoObject *o, const void *skipLayer)
{
    return (o->layer && o->layer != skipLayer) ||
           qxFindLayerUsing(QX_TYPE_VIDEO, refOf(o), skipLayer, nullptr, nullptr);
}

} // namespace

extern "C" void qxReleaseVideoObject(lua_State *L, qxVideoObject *o)
{
    if (!shownByLayer(o, nullptr)) {
        qxFreeVideoObject(L, o);
        return;
    }
    // The number is free for the script again; the layers follow the
    // object to its own address, and so does its end event.
    qxRepointLayers(QX_TYPE_VIDEO, refOf(o), o);
    pthread_mutex_lock(&listMutex);
    o->header.id = 0;
    o->header.automatic = o;
    o->temporary = 1;
    pthread_mutex_unlock(&listMutex);
    // Not nested in the list mutex: the end report takes that one while
    // holding this.
    std::lock_guard lock(o->player->pictureMutex);
    o->player->owner = {0, o};
}

extern "C" void qxFreeVideosOfDisplay(lua_State *L)
{
    for (qxObjectHeader *h = videoList ? &videoList->header : nullptr, *next; h; h = next) {
        next = h->next;
        auto *o = reinterpret_cast<qxVideoObject *>(h);
        if (o->temporary && !shownByLayer(o, nullptr)) qxFreeVideoObject(L, o);
    }
}

namespace {

// The "loader" option of a table argument, else the default list.
std::string loaderArg(lua_State *L, int idx)
{
    if (lua_gettop(L) >= idx && !lua_isnil(L, idx)) {
        luaL_checktable(L, idx);
        lua_pushstring(L, "loader");
        lua_gettable(L, idx);
        std::string s = lua_isstring(L, -1) ? lua_tostring(L, -1) : defaultLoaders;
        lua_pop(L, 1);
        return s;
    }
    return defaultLoaders;
}

// A video object for an opened player, appended to the list; none (and
// the player closed) when memory runs out.
qxVideoObject *newObject(qxVideo *v, const std::string &name, const std::string &loaders, int automatic,
                         uint32_t number)
{
    auto *o = static_cast<qxVideoObject *>(qxAlloc(sizeof(qxVideoObject), 1));
    if (!o) {
        qxVideoClose(v);
        return nullptr;
    }
    new (o) qxVideoObject{};
    o->header.type = QX_TYPE_VIDEO;
    o->header.id = automatic ? 0 : number;
    o->header.automatic = automatic ? o : nullptr;
    o->player = v;
    o->width = o->reqWidth = v->width;
    o->height = o->reqHeight = v->height;
    o->frames = v->frames;
    o->seekable = v->seekable;
    o->volume = 64;
    v->volume = 64;
    o->fileName = name;
    o->loaders = loaders;
    v->owner = automatic ? qxObjectRef{0, o} : qxObjectRef{number, nullptr};
    v->onEnd = onPlayerEnd;
    if (!listRegistered && qxRegisterObjectList(&videoList, QX_TYPE_VIDEO) == 0) listRegistered = true;
    pthread_mutex_lock(&listMutex);
    qxObjectHeader **p = reinterpret_cast<qxObjectHeader **>(&videoList);
    while (*p) p = &(*p)->next;
    *p = &o->header;
    pthread_mutex_unlock(&listMutex);
    return o;
}

int qxCmdOpenVideo(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    std::string name = qxGetFileNameArg(L, 2, 0, nullptr);
    std::string loaders = loaderArg(L, 3);
    qxVideoObject *old = nullptr;
    if (!automatic) {
        const int r = qxFindVideo({number, nullptr}, &old, MODIFY);
        if (r == ERR_LOCKEDOBJ) return r;
        if (!r) qxReleaseVideoObject(L, old);
    }
    qxDebugPrintLine("Loading video %s", name.c_str(), 1);
    qxVideo *v = nullptr;
    if (int r = qxVideoOpen(name.c_str(), loaders.c_str(), &v)) {
        qxPrintFailed();
        if (r == ERR_LOADVIDEO) qxSetErrorString(name.c_str());
        return r;
    }
    qxVideoObject *o = newObject(v, name, loaders, automatic, number);
    if (!o) return ERR_MEM;
    qxPrintDone();
    if (!automatic) return 0;
    lua_pushlightuserdata(L, o);
    return 1;
}

int qxCmdCloseVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, MODIFY)) return r;
    qxReleaseVideoObject(L, o);
    return 0;
}

// The geometry of a video before a move or resize.
struct Geometry {
    int32_t x, y;
    uint32_t width, height;
};

Geometry snapshot(const qxVideoObject *o) { return {o->x, o->y, o->reqWidth, o->reqHeight}; }

// Puts the display's own pixels back where a directly drawn video showed
// its picture (display coordinates).
void restoreArea(qxDisplay *d, Geometry g)
{
    if (!d || !d->bgpic || d->state == QX_DISPSTATE_CLOSED) return;
    int32_t x = g.x, y = g.y, w = int32_t(g.width), h = int32_t(g.height);
    if (x < 0) w += x, x = 0;
    if (y < 0) h += y, y = 0;
    w = std::min(w, d->bgpic->width - x), h = std::min(h, d->bgpic->height - y);
    if (w <= 0 || h <= 0) return;
    qxBitMap *shown = qxShownBitmap(d);
    const qxBGPic *b = d->bgpic;
    // A display that scales its layers shows a picture composed at the
    // window's size: the video covered its rectangle scaled.
    const bool composed = qxLayerScaling(d) && b->curBitmap && b->curBitmap != b->bitmap;
    qxBitMap *picture = shown ? shown : composed ? b->curBitmap : b->bitmap;
    if (!picture) return;
    if (composed) {
        qxClipRect r;
        if (!qxDisplayRectInWindow(d, x, y, w, h, &r)) return;
        x = r.x, y = r.y;
        w = std::min(r.width, int32_t(picture->width) - x), h = std::min(r.height, int32_t(picture->height) - y);
        if (w <= 0 || h <= 0) return;
    }
    // The place the video leaves is still in the video mask: the
    // satellites must redraw it all the same.
    qxShowOnWindow(picture, x, y, d, x, y, w, h, QX_WBLT_NOVIDEOMASK | QX_WBLT_VIDEOFRAME, nullptr);
}

// Stops a directly drawn video; its rectangle shows the display again.
void stopDrawnVideo(qxVideoObject *o)
{
    qxDisplay *d = o->player->display;
    const bool shown = o->state != 0;
    qxStopVideoObject(o);
    if (shown) restoreArea(d, snapshot(o));
}

int qxCmdPlayVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, MODIFY)) return r;
    qxDisplay *d = qxCurrentDisplay;
    if (d)
        if (int r = outputRefused(d)) return r;
    const bool options = lua_gettop(L) >= 4 && !lua_isnil(L, 4);
    bool useLayer = false;
    if (options) {
        luaL_checktable(L, 4);
        lua_pushstring(L, "uselayer");
        lua_gettable(L, 4);
        useLayer = lua_toboolean(L, -1);
        lua_pop(L, 1);
    }
    if (useLayer && !qxRequireVersion(6, 0)) {
        return ERR_OLDAPPLET;
    }
    if (!d || (d->state == QX_DISPSTATE_CLOSED && !d->satellites)) return ERR_WRONGUSAGE;
    if (!d->layersEnabled && d->bgpic && (d->bgpic->baseMask || d->bgpic->baseAlpha)) return ERR_VIDEOTRANS;
    if (useLayer && !d->layersEnabled) return ERR_NOLAYERS;
    if (o->state == 4) qxStopVideoObject(o);
    if (!useLayer) {
        if (o->state == 1) return ERR_VIDPLAYING;
        if (o->state == 2) return ERR_VIDPAUSED;
        if (o->layer) return ERR_DBVIDEOLAYER;
    }
    int channel = -1, found = 0;
    if (options) {
        qxGetFieldInt(L, 4, "channel", &channel, &found);
        channel = found ? channel - 1 : -1;
    }
    const int sound = o->player->hasAudio ? qxSoundNeeded(L) : 1;
    if (sound > 1) return sound;
    // A video already shown keeps its layer or window; the new layer is
    // played by a second object, which the script cannot name.
    if (useLayer && (o->state != 0 || o->layer)) {
        qxVideoObject *clone = nullptr;
        if (int r = qxCloneVideo(o, &clone)) return r;
        o = clone;
    }
    o->player->display = d;
    o->player->channelIndex = channel;
    if (o->player->hasAudio) o->player->soundWanted = sound == 0;
    o->x = positionArg(L, 2, o, 0);
    o->y = positionArg(L, 3, o, 1);
    if (useLayer) {
        int r = qxPlayVideoLayer(L, o, o->x, o->y, options ? 4 : 0);
        if (r && o->temporary) qxFreeVideoObject(L, o);
        return r;
    }
    o->player->toLayer = 0;
    qxVideoScaleSize(d, o, 1, 1, 0);
    o->state = 1;
    if (int r = qxVideoStart(o->player)) {
        o->state = 0;
        return r;
    }
    return 0;
}

int qxCmdStopVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, MODIFY)) return r;
    if (o->state == 0) return ERR_VIDSTOPPED;
    // A layer video goes with its layer; the layer's end stops it. An
    // async draw still draws into that layer's planes: refused as
    // RemoveLayer refuses it.
    if (qxLayer *l = o->layer) {
        if (qxIsObjectInAsyncDraw(l)) return ERR_REMADLAYER;
        return qxRemoveLayerRecord(L, qxLayerOwner(l), l, 0, nullptr);
    }
    stopDrawnVideo(o);
    return 0;
}

int qxCmdPauseVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, MODIFY)) return r;
    return qxPauseVideo(o);
}

int qxCmdResumeVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, MODIFY)) return r;
    return qxResumeVideo(o);
}

int qxCmdSeekVideo(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, MODIFY)) return r;
    return qxSeekVideo(o, luaL_checknumber(L, 2));
}

int qxCmdIsVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    std::string name = qxGetFileNameArg(L, 1, 0, nullptr);
    qxVideo *v = nullptr;
    int ok = qxVideoOpen(name.c_str(), loaderArg(L, 2).c_str(), &v) == 0;
    qxVideoClose(v);
    lua_pushnumber(L, ok);
    return 1;
}

// Applies the object's geometry to its player. Whatever it showed - a
// playing picture, the still of a pause, the last one after the end - the
// old place gets the display's own pixels back before the player draws at
// the new one, which may overlap it.
void moveResize(qxVideoObject *o, Geometry before)
{
    qxDisplay *d = o->player->display;
    if (o->state != 0 && !o->layer) restoreArea(d, before);
    qxVideoScaleSize(d, o, 1, 1, 0);
}

int qxCmdSetVideoSize(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, MODIFY)) return r;
    if (o->layer) return ERR_VIDLAYERFUNC;
    int w = int(std::clamp(luaL_checknumber(L, 2), -1.0, 1e6));
    int h = int(std::clamp(luaL_checknumber(L, 3), -1.0, 1e6));
    // #KEEPASPRAT on one side follows the video's own proportions.
    if (int r = qxComputeScaledSize(int(o->width), int(o->height), &w, &h)) return r;
    const Geometry before = snapshot(o);
    o->reqWidth = uint32_t(std::min(w, 65535));
    o->reqHeight = uint32_t(std::min(h, 65535));
    o->smooth = lua_gettop(L) >= 4 && !lua_isnil(L, 4) && luaL_checknumber(L, 4) != 0;
    moveResize(o, before);
    return 0;
}

int qxCmdSetVideoPosition(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, MODIFY)) return r;
    if (o->layer) return ERR_VIDLAYERFUNC;
    const Geometry before = snapshot(o);
    o->x = positionArg(L, 2, o, 0);
    o->y = positionArg(L, 3, o, 1);
    moveResize(o, before);
    return 0;
}

int qxCmdSetVideoVolume(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, MODIFY)) return r;
    qxSetVideoVolume(o, luaL_checknumber(L, 2));
    return 0;
}

int qxCmdIsVideoPlaying(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, 0)) return r;
    lua_pushnumber(L, o->state == 1);
    return 1;
}

int qxCmdForceVideoMode(lua_State *)
{
    return ERR_UNSUPPORTEDFEAT;
}

int qxCmdForceVideoDriver(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    double d = luaL_checknumber(L, 1);
    if (d == 0) defaultLoaders = "native";
    else if (d == 1) defaultLoaders = "inbuilt|plugin";
    return 0;
}

int qxCmdGetVideoFrame(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, MODIFY)) return r;
    double frame = luaL_checknumber(L, 2);
    qxObjectRef ref = qxNewIDRef(L, 3);
    double mode = lua_gettop(L) >= 4 ? luaL_checknumber(L, 4) : 0;
    const double accuracy = lua_gettop(L) >= 5 ? luaL_checknumber(L, 5) : 15;
    if (o->state != 0 && o->state != 4) return ERR_FGRABVIDSTATE;
    if (o->layer) return ERR_WRONGUSAGE;
    qxStopVideoObject(o);
    uint32_t index;
    if (mode == 0) {
        if (frame < 1 || frame > o->frames) return ERR_VIDEOFRAME;
        index = uint32_t(frame) - 1;
    } else if (mode == 1) {
        if (!o->seekable) return ERR_SEEKFORMAT;
        if (frame < 0 || frame > double(o->frames) - 1) return ERR_SEEKRANGE;
        index = uint32_t(frame);
    } else {
        return ERR_WRONGUSAGE;
    }
    int r = qxVideoDecodeFrame(o->player, index, mode == 1, uint32_t(std::clamp(accuracy, 0.0, 4294967295.0)));
    if (r == 1) return ERR_VIDEOFRAME; // the file ends before its counted frames
    if (r) return r;
    qxVideo *v = o->player;
    qxBitMap *bm = nullptr;
    if ((r = qxBitMapFromARGB(v->slot, 0xFFFFFFFFu, int32_t(v->width), int32_t(v->height), int32_t(v->slotPitch), 0,
                              0, nullptr, &bm, nullptr, nullptr)))
        return r;
    if ((!ref.automatic && (r = qxFreeBrush(L, ref, 0))) ||
        (r = qxBrushFromBitmap(&ref, bm, nullptr, nullptr, v->width, v->height, 0xFFFFFFFFu))) {
        qxFreeBitMap(bm);
        return r;
    }
    return qxPushNewID(L, ref);
}

// A 16-bit PCM RIFF WAVE file; the data is padded to a multiple of 4.
int writeWaveFile(const std::string &name, const std::vector<int16_t> &samples, uint32_t channels, uint32_t rate)
{
    FILE *f = std::fopen(name.c_str(), "wb");
    if (!f) return ERR_WRITEFILE;
    uint64_t bytes = uint64_t(samples.size()) * 2;
    uint64_t padded = (bytes + 3) & ~uint64_t(3);
    if (padded + 36 > 0xFFFFFFFFu) {
        std::fclose(f);
        return ERR_WRITEFILE;
    }
    uint32_t block = channels * 2;
    auto le32 = [](uint8_t *p, uint32_t v) { for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i)); };
    uint8_t h[44];
    std::memcpy(h, "RIFF", 4);
    le32(h + 4, uint32_t(padded + 36));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    le32(h + 16, 16);
    le32(h + 20, 1 | channels << 16);
    le32(h + 24, rate);
    le32(h + 28, rate * block);
    le32(h + 32, block | 16 << 16);
    std::memcpy(h + 36, "data", 4);
    le32(h + 40, uint32_t(bytes));
    bool ok = std::fwrite(h, 1, 44, f) == 44;
    for (int16_t s : samples) {
        uint8_t b[2] = {uint8_t(s), uint8_t(uint16_t(s) >> 8)};
        ok = ok && std::fwrite(b, 1, 2, f) == 2;
    }
    static const uint8_t zero[4] = {};
    ok = ok && std::fwrite(zero, 1, size_t(padded - bytes), f) == padded - bytes;
    ok = std::fclose(f) == 0 && ok;
    return ok ? 0 : ERR_WRITEFILE;
}

// The failure names the file as the script gave it, as a picture's does.
int writeWave(const std::string &name, const std::vector<int16_t> &samples, uint32_t channels, uint32_t rate)
{
    int r = writeWaveFile(name, samples, channels, rate);
    if (r) qxSetErrorString(name.c_str());
    return r;
}

// One dumped frame through the picture savers (quality 90, no alpha).
int savePicture(const qxVideo *v, const std::string &name, int format)
{
    std::vector<uint32_t> packed(size_t(v->width) * v->height);
    for (uint32_t y = 0; y < v->height; y++)
        std::memcpy(&packed[size_t(y) * v->width], v->slot + size_t(y) * v->slotPitch, size_t(v->width) * 4);
    const qxSaveOptions options{0, 90, 256, 0};
    return qxSaveImageFormat(format, packed.data(), int(v->width), int(v->height), name.c_str(), 0xFFFFFFFFu,
                             &options);
}

int qxCmdDumpVideo(lua_State *L)
{
    qxCheckArgCount(L, 1, 5, 0, 0);
    qxVideoObject *o = nullptr;
    if (int r = videoArg(L, 1, &o, MODIFY)) return r;
    std::string base = lua_gettop(L) >= 4 && !lua_isnil(L, 4) ? luaL_checkstring(L, 4) : "";
    double format = lua_gettop(L) >= 5 ? luaL_checknumber(L, 5) : 0;
    if ((o->state != 0 && o->state != 4) || format < 0 || format > 4 || format != int(format))
        return ERR_WRONGUSAGE;
    static const char *const extensions[] = {"bmp", "png", "jpg", "gif", "iff"};
    qxStopVideoObject(o);
    qxVideo *v = o->player;
    // The frames are shown at x, y on the current display as they go by;
    // the video keeps its own place for PlayVideo.
    qxDisplay *d = qxCurrentDisplay;
    const bool show = d && d->state != QX_DISPSTATE_CLOSED;
    const Geometry kept = snapshot(o);
    qxDisplay *keptDisplay = v->display;
    if (show) {
        o->x = positionArg(L, 2, o, 0);
        o->y = positionArg(L, 3, o, 1);
        v->display = d;
        v->toLayer = 0;
        qxVideoScaleSize(d, o, 1, 1, 0);
    }
    qxVideoRewind(v);
    std::vector<int16_t> sound;
    v->soundOut = base.empty() ? nullptr : &sound;
    int r = 0;
    for (uint32_t n = 0; !r; n++) {
        r = qxVideoDecodeNext(v);
        if (r == 1) {
            r = 0;
            break;
        }
        // Names are built whole, however long the base name is.
        if (!r && !base.empty()) r = savePicture(v, base + std::to_string(n) + "." + extensions[int(format)], int(format));
        if (!r && show) {
            qxVideoDeliverFrame(v);
            qxFlushPendingDisplayUpdates();
        }
        // Events are served between frames; a quit ends the dump.
        if (!r && qxUpcalls.pollEvents) r = qxUpcalls.pollEvents(L, 2);
    }
    v->soundOut = nullptr;
    if (show) {
        qxVideoDropFrames(v);
        o->x = kept.x, o->y = kept.y;
        v->display = keptDisplay;
    }
    qxVideoRewind(v);
    if (!r && !base.empty() && v->hasAudio) r = writeWave(base + ".wav", sound, v->audioChannels, v->audioRate);
    return r;
}

constexpr qxCommandDef videoCommands[] = {
    {"OpenVideo", qxCmdOpenVideo},
    {"CloseVideo", qxCmdCloseVideo},
    {"PlayVideo", qxCmdPlayVideo},
    {"StopVideo", qxCmdStopVideo},
    {"PauseVideo", qxCmdPauseVideo},
    {"ResumeVideo", qxCmdResumeVideo},
    {"SeekVideo", qxCmdSeekVideo},
    {"IsVideo", qxCmdIsVideo},
    {"SetVideoSize", qxCmdSetVideoSize},
    {"SetVideoPosition", qxCmdSetVideoPosition},
    {"SetVideoVolume", qxCmdSetVideoVolume},
    {"GetVideoFrame", qxCmdGetVideoFrame},
    {"IsVideoPlaying", qxCmdIsVideoPlaying},
    {"ForceVideoMode", qxCmdForceVideoMode},
    {"ForceVideoDriver", qxCmdForceVideoDriver},
    {"DumpVideo", qxCmdDumpVideo},
    {"DisplayVideoFrame", qxCmdDisplayVideoFrame},
    {nullptr, nullptr},
};

constexpr qxConstantDef videoConstants[] = {
    {nullptr, nullptr, 0},
};

} // namespace

namespace {

// Where playback stands, in milliseconds.
double videoPosition(const qxVideoObject *o)
{
    qxVideo *v = o->player;
    const double fps = v->fps > 0 ? v->fps : 25;
    switch (o->state.load()) {
    case 1: case 2: case 3: return std::max(0.0, qxVideoClock(v) * 1000);
    case 4: return v->endPosition.load();
    default: return v->position * 1000.0 / fps;
    }
}

int videoObjectAttribute(lua_State *L, const qxVideoObject *o, int attribute)
{
    const qxVideo *v = o->player;
    const bool inbuilt = v->kind == QX_VIDEO_CDXL;
    double n;
    switch (attribute) {
    case 0: n = o->width; break;
    case 1: n = o->height; break;
    case 11: n = o->frames; break;
    case 14: n = v->durationMs; break;
    case 18: n = videoPosition(o); break;
    case 19: lua_pushstring(L, inbuilt ? "CDXL" : qxLoaderName(v->plugin)); return 1;
    case 43: n = o->smooth; break;
    case 44: n = o->reqWidth ? o->reqWidth : o->width; break;
    case 45: n = o->reqHeight ? o->reqHeight : o->height; break;
    case 72: n = o->seekable; break;
    case 75: n = 1; break; // always the program's own renderer
    case 83: n = o->state == 1; break;
    case 84: n = o->state == 2; break;
    case 91: lua_pushstring(L, inbuilt ? "inbuilt" : qxLoaderName(v->plugin)); return 1;
    default: return -ERR_UNKNOWNATTR;
    }
    lua_pushnumber(L, n);
    return 1;
}

int videoAttribute(lua_State *L, qxObjectRef ref, int attribute)
{
    qxVideoObject *o = nullptr;
    if (int r = qxFindVideoObject(ref, &o)) return -r;
    return videoObjectAttribute(L, o, attribute);
}

// A video layer answers for the video it shows.
int videoLayerAttribute(lua_State *L, const qxLayer *layer, int attribute)
{
    const qxVideoObject *o = qxVideoOfLayer(layer);
    if (!o) return -ERR_BADLAYERTYPE;
    return videoObjectAttribute(L, o, attribute);
}

} // namespace

extern "C" int qxOpenVideoLib(lua_State *L)
{
    qxObjectRefAttributes[QX_TYPE_VIDEO] = videoAttribute;
    qxRegisterLayerAttribute(QX_LAYER_VIDEO, videoLayerAttribute);
    return qxOpenCommandLibraryOf<videoCommands, videoConstants>(L, "video");
}

extern "C" int qxPauseVideo(qxVideoObject *o)
{
    if (o->state != 1) return ERR_VIDNOTPLAYING;
    // The end came first: the video stays ended, which is not playing.
    if (qxVideoPause(o->player)) {
        o->state = 4;
        return ERR_VIDNOTPLAYING;
    }
    o->state = 2;
    return 0;
}

extern "C" int qxResumeVideo(qxVideoObject *o)
{
    if (o->state != 2) return ERR_VIDNOTPAUSED;
    qxVideoResume(o->player);
    o->state = 1;
    return 0;
}

extern "C" int qxSeekVideo(qxVideoObject *o, double frame)
{
    if (!o->seekable) return ERR_SEEKFORMAT;
    if (!(frame >= 0 && frame <= double(o->frames) - 1)) return ERR_SEEKRANGE;
    if (const uint32_t was = o->state; was == 1 || was == 2) {
        // An end reported just before the jump is over: the video plays on.
        if (qxVideoSeekPlaying(o->player, uint32_t(frame))) o->state = was;
        return 0;
    }
    if (o->state == 4) qxStopVideoObject(o);
    // Stopped: the next start begins at the frame asked for.
    qxVideoSeekDecoder(o->player, uint32_t(frame));
    return 0;
}

extern "C" void qxSetVideoVolume(qxVideoObject *o, double volume)
{
    // A volume that is no number is clamped as a low one: silence.
    o->volume = std::isnan(volume) ? 0 : uint32_t(std::clamp(volume, 0.0, 64.0));
    qxVideoSetVolume(o->player, o->volume);
}

extern "C" int qxCloneVideo(qxVideoObject *o, qxVideoObject **out)
{
    qxVideo *v = nullptr;
    if (int r = qxVideoOpen(o->fileName.c_str(), o->loaders.c_str(), &v)) return r;
    qxVideoObject *c = newObject(v, o->fileName, o->loaders, 1, 0);
    if (!c) return ERR_MEM;
    c->temporary = 1;
    c->reqWidth = o->reqWidth, c->reqHeight = o->reqHeight, c->smooth = o->smooth;
    c->volume = o->volume;
    v->outWidth = o->reqWidth, v->outHeight = o->reqHeight, v->smooth = o->smooth;
    v->volume = o->volume;
    *out = c;
    return 0;
}

// The object whose sound the channel plays; none when it has gone.
static qxVideoObject *videoOfChannel(const qxChannel *c)
{
    auto *fifo = static_cast<const qxVideoSoundFifo *>(c->video);
    return fifo && fifo->video ? qxVideoOfPlayer(static_cast<const qxVideo *>(fifo->video)) : nullptr;
}

// Stops a video as StopVideo does: a layer video goes with its layer.
// These roads report no error: a layer an async draw still draws into
// stays with the last picture, its video stopped.
static void stopVideo(lua_State *L, qxVideoObject *o)
{
    qxLayer *l = o->layer;
    if (l && L && qxIsObjectInAsyncDraw(l)) qxDetachVideo(L, o);
    else if (l && L) qxRemoveLayerRecord(L, qxLayerOwner(l), l, 0, nullptr);
    else stopDrawnVideo(o);
}

extern "C" int qxStopVideoOfChannel(lua_State *L, qxChannel *c)
{
    qxVideoObject *o = videoOfChannel(c);
    if (!o) return 0;
    stopVideo(L, o);
    return 1;
}

extern "C" int qxSetVideoVolumeOfChannel(qxChannel *c, uint32_t volume)
{
    qxVideoObject *o = videoOfChannel(c);
    if (!o) return 0;
    qxSetVideoVolume(o, volume);
    return 1;
}

extern "C" void qxStopAllVideos(lua_State *L)
{
    for (qxObjectHeader *h = videoList ? &videoList->header : nullptr, *next; h; h = next) {
        next = h->next;
        auto *o = reinterpret_cast<qxVideoObject *>(h);
        if (o->state != 0) stopVideo(L, o);
    }
}

extern "C" void qxStopVideosOfDisplay(qxDisplay *display)
{
    for (qxObjectHeader *h = videoList ? &videoList->header : nullptr; h; h = h->next) {
        auto *o = reinterpret_cast<qxVideoObject *>(h);
        if (o->player->display && (!display || o->player->display == display)) {
            qxStopVideoObject(o);
            o->player->display = nullptr;
        }
    }
}

extern "C" void qxFreeAllVideos(lua_State *L)
{
    while (videoList) qxFreeVideoObject(L, videoList);
    defaultLoaders.clear();
}
