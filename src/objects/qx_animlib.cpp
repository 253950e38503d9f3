// The "anim" command library: loading, making, copying, showing, playing,
// editing and saving anims.
#include "objects/qx_objectlibs.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <new>
#include <thread>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/files/qx_chunkname.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_display.h"
#include "core/vm/lauxlib.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_events.h"
#include "display/qx_gfxgeom.h"
#include "display/qx_positions.h"
#include "objects/formats/qx_animformats.h"
#include "objects/qx_anim.h"
#include "objects/qx_animstream.h"
#include "objects/qx_brush.h"
#include "objects/qx_brushimage.h"
#include "objects/qx_displaycore.h"
#include "objects/qx_objargs.h"
#include "objects/qx_objectuse.h"
#include "objects/qx_output.h"
#include "objects/qx_picsource.h"
#include "objects/qx_selection.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

bool listRegistered;

int freeOld(lua_State *L, const qxObjectRef &ref)
{
    return ref.automatic ? 0 : qxFreeAnim(L, ref, 0);
}

// Frame arrays under construction, freed unless handed to a record.
struct Frames {
    uint32_t count = 0;
    qxBitMap **bitmaps = nullptr, **masks = nullptr, **alphas = nullptr;
    int alloc(uint32_t n, bool mask, bool alpha)
    {
        count = n;
        bitmaps = static_cast<qxBitMap **>(qxAlloc(size_t(n) * sizeof(qxBitMap *), 1));
        masks = mask ? static_cast<qxBitMap **>(qxAlloc(size_t(n) * sizeof(qxBitMap *), 1)) : nullptr;
        alphas = alpha ? static_cast<qxBitMap **>(qxAlloc(size_t(n) * sizeof(qxBitMap *), 1)) : nullptr;
        return (!bitmaps || (mask && !masks) || (alpha && !alphas)) ? ERR_MEM : 0;
    }
    void release()
    {
        for (uint32_t i = 0; bitmaps && i < count; i++)
            qxFreeImagePlanes(bitmaps[i], masks ? masks[i] : nullptr, alphas ? alphas[i] : nullptr);
        qxFree(bitmaps), qxFree(masks), qxFree(alphas);
        bitmaps = masks = alphas = nullptr;
    }
    ~Frames() { release(); }
    int add(qxObjectRef *ref, uint32_t w, uint32_t h, uint32_t transparent, uint32_t loadAlpha, qxAnim **out)
    {
        if (int r = qxAddAnim(ref, w, h, bitmaps, masks, alphas, count, transparent, loadAlpha, 0, out))
            return r;
        bitmaps = masks = alphas = nullptr;
        return 0;
    }
};

// Cuts frames row by row out of a picture's planes (CreateAnim's back-end).
int cutFrames(qxBitMap *bm, qxBitMap *mask, qxBitMap *alpha, int64_t srcW, int64_t srcH, int64_t x, int64_t y,
              int64_t w, int64_t h, int64_t frames, int64_t fpr, Frames &out)
{
    if (w < 1 || h < 1 || frames < 1)
        return ERR_WRONGUSAGE;
    if (fpr < 1 || fpr > frames)
        fpr = frames;
    const int64_t rows = (frames + fpr - 1) / fpr;
    if (x < 0 || y < 0)
        return ERR_NEGCOORDS;
    if (x + fpr * w > srcW || y + rows * h > srcH)
        return ERR_BRUSHSIZE;
    if (int r = out.alloc(uint32_t(frames), mask != nullptr, alpha != nullptr))
        return r;
    for (int64_t i = 0; i < frames; i++) {
        const int32_t fx = int32_t(x + (i % fpr) * w), fy = int32_t(y + (i / fpr) * h);
        if (int r = qxCopyImageRect(bm, mask, alpha, fx, fy, int32_t(w), int32_t(h), 0, 0, 0, 0, &out.bitmaps[i],
                                    mask ? &out.masks[i] : nullptr, alpha ? &out.alphas[i] : nullptr))
            return r;
    }
    return 0;
}

struct LoadOptions {
    uint32_t transparent = 0xFFFFFFFFu;
    int loadAlpha = 0, loadTransparency = 0, fromDisk = 0, skipLoop = 0, deinterlace = 0, haveFrames = 0;
    int64_t x = 0, y = 0, width = 0, height = 0, fpr = 0, frames = 0;
    int cacheAlpha = 0;
    char loader[256] = "", adapter[256] = "", cache[512] = "", cachedLoad[512] = "";
};

int readLoadOptions(lua_State *L, int arg, LoadOptions &o)
{
    if (lua_gettop(L) < arg || lua_isnil(L, arg))
        return 0;
    if (!lua_istable(L, arg)) {
        const double c = luaL_checknumber(L, arg);
        o.transparent = c < 0 ? 0xFFFFFFFFu : uint32_t(qxTruncToInt64(c)) & 0xFFFFFF;
        return 0;
    }
    int v = 0, found = 0;
    if (qxGetFieldColor(L, arg, "transparency", &v, &found) && found)
        o.transparent = uint32_t(v) & 0xFFFFFF;
    qxFlagField(L, arg, "loadalpha", &o.loadAlpha);
    qxFlagField(L, arg, "loadtransparency", &o.loadTransparency);
    qxFlagField(L, arg, "fromdisk", &o.fromDisk);
    qxFlagField(L, arg, "skiploopframes", &o.skipLoop);
    double d = 0;
    if (qxGetFieldNum(L, arg, "deinterlace", &d, nullptr))
        o.deinterlace = int(qxTruncToInt64(d));
    struct {
        const char *key;
        int64_t *out;
    } ints[] = {{"x", &o.x}, {"y", &o.y}, {"width", &o.width}, {"height", &o.height}, {"fpr", &o.fpr}};
    for (auto &i : ints)
        if (qxGetFieldNum(L, arg, i.key, &d, nullptr))
            *i.out = qxTruncToInt64(d);
    // Start-up declarations always carry "frames"; 0 there means none given.
    if (qxGetFieldNum(L, arg, "frames", &d, nullptr) && qxTruncToInt64(d) >= 1)
        o.frames = qxTruncToInt64(d), o.haveFrames = 1;
    qxGetFieldStr(L, arg, "loader", o.loader, sizeof o.loader, nullptr);
    qxGetFieldStr(L, arg, "adapter", o.adapter, sizeof o.adapter, nullptr);
    qxGetFieldStr(L, arg, "cache", o.cache, sizeof o.cache, nullptr);
    qxGetFieldStr(L, arg, "cachedload", o.cachedLoad, sizeof o.cachedLoad, nullptr);
    qxFlagField(L, arg, "cachealpha", &o.cacheAlpha);
    if (o.loadAlpha && o.loadTransparency)
        return ERR_WRONGUSAGE;
    if (o.loadAlpha && o.transparent != 0xFFFFFFFFu)
        return ERR_MASKNALPHA;
    if (o.loadTransparency && o.transparent != 0xFFFFFFFFu)
        return ERR_WRONGUSAGE;
    if (o.haveFrames && o.fromDisk)
        return ERR_WRONGUSAGE;
    return 0;
}

// Reads every frame of an open reader into planes.
int framesFromReader(qxAnimReader *reader, const char *file, uint32_t w, uint32_t h, uint32_t count,
                     const LoadOptions &o, uint32_t first, Frames &out, uint32_t *delays)
{
    const bool mask = o.transparent != 0xFFFFFFFFu || o.loadTransparency;
    if (int r = out.alloc(count, mask, o.loadAlpha != 0))
        return r;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t seen = 0;
        uint32_t *pixels = qxAnimReaderFrame(reader, int32_t(first + i), 0, &seen);
        if (!pixels)
            return ERR_LOADFRAME;
        int r = 0;
        if ((o.loadAlpha || o.loadTransparency) && !seen) {
            qxSetErrorString(file);
            r = o.loadAlpha ? ERR_NOALPHA : ERR_NOTRANSPARENCY;
        }
        qxBitMap *m = nullptr, *a = nullptr;
        if (!r)
            r = qxAnimPlanesFromARGB(pixels, w, h, o.transparent, o.loadAlpha, o.loadTransparency, &out.bitmaps[i],
                                     &m, &a);
        qxAnimReaderFreeFrame(reader, pixels);
        if (r)
            return r;
        if (out.masks)
            out.masks[i] = m;
        else if (m)
            qxFreeMaskBitMap(m);
        if (out.alphas)
            out.alphas[i] = a;
        else if (a)
            qxFreeAlphaBitMap(a);
        delays[i] = qxAnimReaderDelay(reader, int32_t(first + i));
    }
    return 0;
}

// A picture file cut into frames (or one frame).
int framesFromPicture(const std::string &file, const LoadOptions &o, Frames &out, uint32_t *w, uint32_t *h,
                      uint32_t *transparent)
{
    qxPicSource *source = nullptr;
    qxBitMap *alpha = nullptr;
    uint32_t pw = 0, ph = 0, pitch = 0, hasAlpha = 0, scalable = 0, found = 0xFFFFFFFFu;
    int r = 0;
    if (o.cachedLoad[0]) {
        // The named cache hands out a reference on its picture and a copy of its alpha channel.
        uint32_t flags = 0, extra = 0;
        if ((r = qxFindGfxCacheEntry(o.cachedLoad, o.loadAlpha, &pw, &ph, &flags, &source, &alpha, &extra)))
            return r;
        pitch = extra ? extra : pw * 4;
    } else {
        const int alphaMode = (o.loadAlpha || (o.cache[0] && o.cacheAlpha)) ? 1 : 0;
        r = qxOpenImage(file.c_str(), o.loader[0] ? o.loader : nullptr, o.adapter[0] ? o.adapter : nullptr, nullptr,
                        0xFFFFFFFFu, 0, alphaMode, o.loadTransparency, 0, 0, 0, &source,
                        reinterpret_cast<void **>(&alpha), nullptr, &found, &pw, &ph, &pitch, &hasAlpha, &scalable,
                        nullptr);
        if (r)
            return r == ERR_LOADPICTURE2 ? ERR_OPENANIM2 : r;
        if (o.cache[0] && (r = qxAddGfxCacheEntry(o.cache, pw, ph, scalable ? 1 : 0, source, alpha, pitch))) {
            if (alpha)
                qxFreeAlphaBitMap(alpha);
            qxPicSourceRelease(source);
            return r;
        }
        if (o.cacheAlpha && !o.loadAlpha && alpha) {
            qxFreeAlphaBitMap(alpha); // only the cache keeps it
            alpha = nullptr;
        }
    }
    *transparent = o.transparent;
    if (found != 0xFFFFFFFFu && (o.loadTransparency || o.transparent != 0xFFFFFFFFu))
        *transparent = found & 0xFFFFFF;
    qxBitMap *bm = nullptr, *mask = nullptr;
    const uint32_t *pixels = qxPicSourceBitMap(source);
    r = pixels ? qxBitMapFromARGB(pixels, *transparent, int32_t(pw), int32_t(ph), int32_t(pitch / 4), 0, 0, nullptr,
                                  &bm, &mask, nullptr)
               : ERR_BITMAP;
    qxPicSourceRelease(source);
    if (!r) {
        if (o.width > 0 && o.height >= 1) {
            r = cutFrames(bm, mask, alpha, pw, ph, o.x, o.y, o.width, o.height, o.haveFrames ? o.frames : 1, o.fpr,
                          out);
            *w = uint32_t(o.width), *h = uint32_t(o.height);
        } else {
            r = cutFrames(bm, mask, alpha, pw, ph, 0, 0, pw, ph, 1, 1, out);
            *w = pw, *h = ph;
        }
    }
    qxFreeImagePlanes(bm, mask, alpha);
    return r;
}

int cmdLoadAnim(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    std::string file = qxGetFileNameArg(L, 2, 0, nullptr);
    LoadOptions o;
    if (int r = readLoadOptions(L, 3, o))
        return r;
    if (int r = freeOld(L, ref))
        return r;
    qxAnimReader *reader = nullptr;
    uint32_t w = 0, h = 0, count = 0;
    qxPluginInfo *plugin = nullptr;
    int r = o.haveFrames || o.cachedLoad[0] ? ERR_OPENANIM2
                         : qxOpenAnimReader(file.c_str(), o.loader[0] ? o.loader : nullptr, 0, uint32_t(o.deinterlace),
                                            o.loadAlpha || o.loadTransparency, &reader, &w, &h, &count, nullptr,
                                            &plugin);
    if (r && r != ERR_OPENANIM2)
        return r;
    if (reader)
        reader->loadAlpha = o.loadAlpha;
    Frames frames;
    uint32_t transparent = o.transparent;
    qxAnim *anim = nullptr;
    if (reader) {
        if (o.skipLoop && qxAnimReaderIsIff(reader)) {
            // The last two frames of an IFF ANIM repeat the first two for looping.
            if (count < 3) {
                qxCloseAnimReader(reader);
                return ERR_WRONGUSAGE;
            }
            count -= 2;
        }
        if (count < 1) {
            qxCloseAnimReader(reader);
            return ERR_OPENANIM2;
        }
        if (o.fromDisk) {
            char *name = strdup(file.c_str());
            if (!name || (r = qxAddAnim(&ref, w, h, nullptr, nullptr, nullptr, count, transparent, o.loadAlpha, 1,
                                        &anim))) {
                std::free(name);
                qxCloseAnimReader(reader);
                return name ? r : ERR_MEM;
            }
            anim->reader = reader;
            anim->fileName = name;
            anim->loader = plugin;
            anim->loadTransparency = o.loadTransparency;
            std::snprintf(anim->adapter, sizeof anim->adapter, "%s", o.adapter);
            return qxPushNewID(L, ref);
        }
        auto *delays = static_cast<uint32_t *>(qxAlloc(size_t(count) * 4, 1));
        r = delays ? framesFromReader(reader, file.c_str(), w, h, count, o, 0, frames, delays) : ERR_MEM;
        qxCloseAnimReader(reader);
        if (!r)
            r = frames.add(&ref, w, h, transparent, o.loadAlpha, &anim);
        if (!r)
            std::memcpy(anim->delays, delays, size_t(count) * 4);
        qxFree(delays);
        if (r)
            return r;
    } else {
        if ((r = framesFromPicture(file, o, frames, &w, &h, &transparent)))
            return r;
        if ((r = frames.add(&ref, w, h, transparent, o.loadAlpha, &anim)))
            return r;
    }
    anim->fileName = strdup(file.c_str());
    anim->loader = plugin;
    return qxPushNewID(L, ref);
}

int cmdCreateAnim(lua_State *L)
{
    qxCheckArgCount(L, 6, 8, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    const qxObjectRef src = qxGetObjectIDArg(L, 2);
    int64_t v[6] = {};
    for (int i = 0; i < 6; i++)
        v[i] = i < 4 ? qxTruncToInt64(luaL_checknumber(L, 3 + i)) : qxTruncToInt64(luaL_optnumber(L, 3 + i, 0));
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, src, &b, QX_FIND_NOVECTOR))
        return r;
    if (!b->bitmap)
        return ERR_BITMAP;
    Frames frames;
    if (int r = cutFrames(b->bitmap, b->mask, b->alpha, b->width, b->height, v[4], v[5], v[0], v[1], v[2], v[3],
                          frames))
        return r;
    if (int r = freeOld(L, ref))
        return r;
    qxAnim *anim = nullptr;
    if (int r = frames.add(&ref, uint32_t(v[0]), uint32_t(v[1]), b->transparentColour, b->alpha != nullptr, &anim))
        return r;
    return qxPushNewID(L, ref);
}

int cmdFreeAnim(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    return qxFreeAnim(L, qxGetObjectIDArg(L, 1), 1);
}

int cmdCopyAnim(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const qxObjectRef src = qxGetObjectIDArg(L, 1);
    qxObjectRef ref = qxNewIDRef(L, 2);
    if (!ref.automatic && !src.automatic && ref.number == src.number)
        return ERR_WRONGUSAGE;
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, src, &a, 0))
        return r;
    if (int r = freeOld(L, ref))
        return r;
    if (int r = qxFindAnim(L, src, &a, 0))
        return r;
    if (int r = qxCopyAnimData(L, a, &ref))
        return r;
    return qxPushNewID(L, ref);
}

// A brush from a copy of a frame's planes; the brush owns them on success.
int brushFromPlanes(lua_State *L, qxObjectRef ref, qxBitMap *bm, qxBitMap *m, qxBitMap *a, uint32_t w, uint32_t h,
                    uint32_t transparent)
{
    if (!ref.automatic)
        if (int r = qxFreeBrush(L, ref, 0)) {
            qxFreeImagePlanes(bm, m, a);
            return r;
        }
    if (int r = qxAddBrush(&ref, QX_BRUSH_PIXELS, w, h, w, 0, nullptr, bm, m ? transparent : 0xFFFFFFFFu, m, a,
                           nullptr, nullptr)) {
        qxFreeImagePlanes(bm, m, a);
        return r;
    }
    return qxPushNewID(L, ref);
}

int cmdGetAnimFrame(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    const qxObjectRef brush = qxNewIDRef(L, 1);
    const int64_t frame = qxTruncToInt64(luaL_checknumber(L, 2));
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, qxGetObjectIDArg(L, 3), &a, 0))
        return r;
    if (frame < 1 || frame > int64_t(a->frameCount))
        return ERR_ANIMFRAME;
    qxBitMap *bm = nullptr, *m = nullptr, *al = nullptr;
    if (int r = qxGetAnimFrameBitmap(a, uint32_t(frame - 1), 1, 0, &bm, &m, &al))
        return r;
    return brushFromPlanes(L, brush, bm, m, al, a->width, a->height, a->transparentColour);
}

int cmdLoadAnimFrame(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    const qxObjectRef brush = qxNewIDRef(L, 1);
    const int64_t frame = qxTruncToInt64(luaL_checknumber(L, 2));
    std::string file = qxGetFileNameArg(L, 3, 0, nullptr);
    LoadOptions o;
    if (int r = readLoadOptions(L, 4, o))
        return r;
    qxAnimReader *reader = nullptr;
    uint32_t w = 0, h = 0, count = 0;
    if (int r = qxOpenAnimReader(file.c_str(), o.loader[0] ? o.loader : nullptr, 0, uint32_t(o.deinterlace),
                                 o.loadAlpha || o.loadTransparency, &reader, &w, &h, &count, nullptr, nullptr))
        return r;
    reader->loadAlpha = o.loadAlpha;
    const int64_t index = frame == -1 ? int64_t(count) : frame;
    if (index < 1 || index > int64_t(count)) {
        qxCloseAnimReader(reader);
        return ERR_ANIMFRAME;
    }
    Frames frames;
    uint32_t delay = 0;
    int r = framesFromReader(reader, file.c_str(), w, h, 1, o, uint32_t(index - 1), frames, &delay);
    qxCloseAnimReader(reader);
    if (r)
        return r;
    qxBitMap *bm = frames.bitmaps[0], *m = frames.masks ? frames.masks[0] : nullptr;
    qxBitMap *al = frames.alphas ? frames.alphas[0] : nullptr;
    frames.bitmaps[0] = nullptr;
    if (frames.masks)
        frames.masks[0] = nullptr;
    if (frames.alphas)
        frames.alphas[0] = nullptr;
    return brushFromPlanes(L, brush, bm, m, al, w, h, o.transparent);
}

int cmdSetAnimFrameDelay(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, qxGetObjectIDArg(L, 1), &a, 0))
        return r;
    const int64_t frame = qxTruncToInt64(luaL_checknumber(L, 2));
    const int64_t delay = qxTruncToInt64(luaL_checknumber(L, 3));
    if (delay < 0)
        return ERR_WRONGUSAGE;
    if (frame < 1 || frame > int64_t(a->frameCount))
        return ERR_ANIMFRAME;
    a->delays[frame - 1] = uint32_t(std::min<int64_t>(delay, 0xFFFFFFFEu));
    return 0;
}

int cmdIsAnim(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    std::string file = qxGetFileNameArg(L, 1, 0, nullptr);
    char loader[256] = "";
    if (lua_gettop(L) >= 2 && lua_istable(L, 2))
        qxGetFieldStr(L, 2, "loader", loader, sizeof loader, nullptr);
    lua_pushnumber(L, qxIsAnimFile(file.c_str(), loader[0] ? loader : nullptr, 0) ? 1 : 0);
    return 1;
}

int cmdDisplayAnimFrame(lua_State *L)
{
    qxCheckArgCount(L, 4, 5, 0, 0);
    const qxObjectRef ref = qxGetObjectIDArg(L, 1);
    const int32_t x = luaL_checkint(L, 2), y = luaL_checkint(L, 3);
    const int64_t frame = qxTruncToInt64(luaL_checknumber(L, 4));
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, ref, &a, 0))
        return r;
    if (frame < 1 || frame > int64_t(a->frameCount))
        return ERR_ANIMFRAME;
    return qxDisplayObject(L, nullptr, nullptr, QX_OBJ_ANIM, ref, nullptr, uint32_t(frame - 1), 0, 0, x, y, 0, 0, 0,
                           lua_gettop(L) >= 5 ? 5 : 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
}

// The output must be the display itself while an anim plays.
int checkOutputFree(qxDisplay *d)
{
    if (!d)
        return ERR_WRONGUSAGE;
    if (d->refreshMode)
        return ERR_BEGINREFRESH;
    switch (d->targetType) {
    case QX_OUT_BRUSH: {
        qxOutputState *s = qxOutputOf(d, 0);
        if (d->doubleBuffer)
            return ERR_ENDDOUBLEBUFFER;
        return s && s->record.selectedType == QX_OUT_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    }
    case QX_OUT_MASK: return ERR_SELECTMASK;
    case QX_OUT_ALPHA: return ERR_SELECTALPHACHANNEL;
    case QX_OUT_BGPIC: return ERR_SELECTBG;
    default: return 0;
    }
}

uint32_t speedDelay(int64_t speed, qxAnim *a, uint32_t frame)
{
    switch (speed) {
    case -1: return 60;
    case -2: return 0;
    case -3: return 160;
    case -4: return qxGetAnimFrameDelay(a, frame);
    default: return speed >= 0 ? uint32_t(std::min<int64_t>(speed * 20, 0xFFFFFFFu)) : 0;
    }
}

// One playback: frames numbered from 1, passes counted from 1; the anim
// stays locked until the record goes.
struct Playback {
    lua_State *L;
    qxObjectRef ref;
    int32_t x, y;
    int64_t speed, times, pass = 1;
    uint32_t frame = 0; // 0-based next frame
    std::chrono::steady_clock::time_point next{};
    // Without layers: the area under the anim, put back before every frame
    // that has transparent parts.
    qxBitMap *background = nullptr;
    int32_t bx = 0, by = 0, bw = 0, bh = 0;
    bool ownsAnim = false; // PlayAnimDisk's anim goes with its playback
    int32_t layer = 0;     // with layers: the anim layer's position
    // The draw tags every frame is shown with.
    qxTransformOptions options{};
    qxObjectStyle style{};
};

void unlockAnim(Playback *p)
{
    qxAnim *a = nullptr;
    if (qxFindAnim(p->L, p->ref, &a, QX_FIND_PENDING) == 0 && a->locked && !--a->locked && p->ownsAnim)
        qxFreeAnimRecord(p->L, a);
    qxFreeBitMap(p->background);
    p->background = nullptr;
}

// Resolves the position against the output and keeps a copy of what lies
// under the anim there.
int saveBackground(Playback *p, qxDisplay *d, const qxAnim *a)
{
    int32_t areaW = 0, areaH = 0;
    qxBitMap *out = qxOutputBitmap(d, &areaW, &areaH);
    // Under a clip region position constants place on the region.
    p->x = qxResolvePosX(p->x, int(a->width), d->clipRegion ? 0 : areaW, 0.0);
    p->y = qxResolvePosY(p->y, int(a->height), d->clipRegion ? 0 : areaH, 0.0);
    if (d->layersEnabled || !out)
        return 0;
    int32_t x = p->x, y = p->y, w = int32_t(a->width), h = int32_t(a->height);
    // A transformed frame covers the bounds of its transformed rectangle.
    if (!qxMatrixIsIdentity(&p->options)) {
        const double m[4] = {p->options.m11, p->options.m12, p->options.m21, p->options.m22};
        qxComputeTransformBounds(p->x, p->y, w, h, m, &x, &y, &w, &h, p->options.anchorx, p->options.anchory);
    }
    if (!qxClipToSize(&x, &y, &w, &h, areaW, areaH))
        return ERR_WRONGUSAGE;
    if (int r = qxCopyImageRect(out, nullptr, nullptr, x, y, w, h, 0, 0, 0, 0, &p->background, nullptr, nullptr))
        return r;
    p->bx = x, p->by = y, p->bw = w, p->bh = h;
    return 0;
}

// One frame step: draws the frame when its time has come. 1 when the last
// pass ended.
int playStep(Playback *p, int *finished)
{
    *finished = 0;
    if (std::chrono::steady_clock::now() < p->next)
        return 0;
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(p->L, p->ref, &a, QX_FIND_PENDING))
        return r;
    if (p->frame >= a->frameCount)
        p->frame = 0;
    const uint32_t f = p->frame;
    const bool transparent = !qxMatrixIsIdentity(&p->options) || p->style.transparency ||
                             (a->disk ? (a->loadAlpha || a->loadTransparency || a->transparentColour != 0xFFFFFFFFu)
                                      : ((a->masks && a->masks[f]) || (a->alphas && a->alphas[f])));
    if (p->background && transparent)
        qxBlitToOutput(p->L, p->background, 0, 0, p->bx, p->by, p->bw, p->bh, p->bw, p->bh, nullptr, nullptr);
    // With layers the anim layer made by the first frame shows the others.
    qxDisplay *d = qxCurrentDisplay;
    const bool layers = d && d->layersEnabled && qxDisplayCoreHook.setAnimLayerFrame;
    int stepped = -1;
    if (layers && p->layer > 0)
        stepped = qxDisplayCoreHook.setAnimLayerFrame(p->L, p->layer, p->ref, f);
    if (stepped > 0)
        return stepped;
    if (stepped < 0) {
        qxTransformOptions options = p->options;
        qxObjectStyle style = p->style;
        if (int r = qxDisplayObject(p->L, nullptr, nullptr, QX_OBJ_ANIM, p->ref, nullptr, f, 0, 0, p->x, p->y, 0, 0,
                                    0, 0, &options, &style, nullptr, nullptr, nullptr, 0))
            return r;
        if (layers && qxDisplayOptsHook.currentLayerCount)
            p->layer = int32_t(qxDisplayOptsHook.currentLayerCount());
    }
    p->next = std::max(p->next, std::chrono::steady_clock::now() - std::chrono::milliseconds(100)) +
              std::chrono::milliseconds(speedDelay(p->speed, a, f));
    if (++p->frame >= a->frameCount) {
        p->frame = 0;
        if (p->times != 0 && p->pass >= p->times)
            *finished = 1;
        p->pass++;
    }
    return 0;
}

int asyncStep(void *data, uint32_t *finished)
{
    int done = 0;
    const int r = playStep(static_cast<Playback *>(data), &done);
    if (done)
        *finished = 1;
    return r;
}

void asyncFree(void *data, int)
{
    auto *p = static_cast<Playback *>(data);
    unlockAnim(p);
    delete p;
}

// PlayAnim's body after the identifier: synchronously, events are polled
// before each frame and end the playback; with "async" an async-draw
// object steps it instead.
int playAnim(lua_State *L, qxObjectRef ref, int argBase, bool ownsAnim = false)
{
    const int n = lua_gettop(L);
    int32_t x = n >= argBase + 1 ? luaL_checkint(L, argBase + 1) : 0;
    int32_t y = n >= argBase + 2 ? luaL_checkint(L, argBase + 2) : 0;
    int64_t speed = 0, times = 1;
    int async = 0;
    const bool tagged = n == argBase + 3 && lua_istable(L, argBase + 3);
    if (tagged) {
        double d = 0;
        if (qxGetFieldNum(L, argBase + 3, "speed", &d, nullptr))
            speed = qxTruncToInt64(d);
        if (qxGetFieldNum(L, argBase + 3, "times", &d, nullptr))
            times = qxTruncToInt64(d);
        qxFlagField(L, argBase + 3, "async", &async);
    } else {
        if (n >= argBase + 3)
            speed = qxTruncToInt64(luaL_checknumber(L, argBase + 3));
        if (n >= argBase + 4)
            times = qxTruncToInt64(luaL_checknumber(L, argBase + 4));
    }
    qxDisplay *d = qxCurrentDisplay;
    if (d && qxIsCurrentOutputObject(QX_TYPE_ANIM, ref))
        if (int r = qxDisplayBGPicCore(L, d, 0))
            return r;
    if (int r = checkOutputFree(d))
        return r;
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, ref, &a, 0))
        return r;
    auto *p = new (std::nothrow) Playback{L, ref, x, y, speed, times};
    if (!p)
        return ERR_MEM;
    // The table's draw tags (or the templates) apply to every frame.
    if (int r = qxGetTransformOptions(L, tagged ? argBase + 3 : 0, int32_t(a->width), int32_t(a->height), 0, 0, 0,
                                      &p->options, &p->style, QX_OPT_RESET)) {
        delete p;
        return r;
    }
    p->next = std::chrono::steady_clock::now();
    p->ownsAnim = ownsAnim;
    if (int r = saveBackground(p, d, a)) {
        delete p;
        return r;
    }
    a->locked++;
    if (async) {
        qxAsyncDraw *o = nullptr;
        if (int r = qxAddAsyncDraw(2, asyncStep, nullptr, nullptr, asyncFree, nullptr, p, &o)) {
            asyncFree(p, 0);
            return r;
        }
        lua_pushlightuserdata(L, o);
        return 1;
    }
    int result = 0, finished = 0;
    while (!result && !finished) {
        int error = 0;
        if (qxPollEvents(L, 0, 0, &error)) {
            result = error;
            break;
        }
        std::this_thread::sleep_until(p->next);
        result = playStep(p, &finished);
    }
    std::this_thread::sleep_until(p->next);
    unlockAnim(p);
    delete p;
    return result;
}

int cmdPlayAnim(lua_State *L)
{
    qxCheckArgCount(L, 1, 5, 0, 0);
    return playAnim(L, qxGetObjectIDArg(L, 1), 1);
}

int cmdPlayAnimDisk(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    std::string file = qxGetFileNameArg(L, 1, 0, nullptr);
    LoadOptions o;
    if (lua_gettop(L) >= 4 && lua_istable(L, 4))
        if (int r = readLoadOptions(L, 4, o))
            return r;
    qxAnimReader *reader = nullptr;
    uint32_t w = 0, h = 0, count = 0;
    if (int r = qxOpenAnimReader(file.c_str(), o.loader[0] ? o.loader : nullptr, 0, uint32_t(o.deinterlace),
                                 o.loadAlpha || o.loadTransparency, &reader, &w, &h, &count, nullptr, nullptr))
        return r;
    reader->loadAlpha = o.loadAlpha;
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    qxAnim *a = nullptr;
    char *name = strdup(file.c_str());
    if (count < 1 || !name || qxAddAnim(&ref, w, h, nullptr, nullptr, nullptr, count, o.transparent, o.loadAlpha, 1, &a)) {
        std::free(name);
        qxCloseAnimReader(reader);
        return count < 1 ? ERR_OPENANIM2 : ERR_MEM;
    }
    a->reader = reader;
    a->fileName = name;
    a->loadTransparency = o.loadTransparency;
    // PlayAnim's arguments after the identifier: x, y and the table.
    const int n = lua_gettop(L);
    lua_pushnil(L);
    for (int i = 2; i <= n; i++)
        lua_pushvalue(L, i);
    const int r = playAnim(L, ref, n + 1, true);
    // Unless an async playback holds it now, the anim is done with.
    if (qxFindAnim(L, ref, &a, QX_FIND_PENDING) == 0 && !a->locked)
        qxFreeAnimRecord(L, a);
    return r;
}

int cmdScaleAnim(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    const qxObjectRef ref = qxGetObjectIDArg(L, 1);
    if (qxIsCurrentOutputObject(QX_TYPE_ANIM, ref))
        return ERR_MODIFYAANIM;
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, ref, &a, QX_FIND_MODIFY))
        return r;
    // Numbers, or texts relative to the current size ("50%").
    int w = int(std::clamp(qxGetNumberOrPercentArg(L, 2, a->width, 1, nullptr), -2e9, 2e9));
    int h = int(std::clamp(qxGetNumberOrPercentArg(L, 3, a->height, 1, nullptr), -2e9, 2e9));
    const int smooth = lua_toboolean(L, 4) || (lua_isnumber(L, 4) && lua_tonumber(L, 4) != 0);
    if (int r = qxComputeScaledSize(int(a->width), int(a->height), &w, &h))
        return r;
    if (w < 1 || h < 1)
        return ERR_WRONGUSAGE;
    if (uint32_t(w) == a->width && uint32_t(h) == a->height)
        return 0;
    if (!a->disk) {
        // All frames are scaled before any is replaced, so a failure leaves the anim as it was.
        Frames f;
        if (int r = f.alloc(a->frameCount, a->masks != nullptr, a->alphas != nullptr))
            return r;
        for (uint32_t i = 0; i < a->frameCount; i++) {
            qxBitMap *m = a->masks ? a->masks[i] : nullptr, *al = a->alphas ? a->alphas[i] : nullptr;
            if (int r = qxScalePixels(a->bitmaps[i], m, al, 0, 0, nullptr, int32_t(a->width), int32_t(a->height), w,
                                      h, smooth, 0, &f.bitmaps[i], m ? &f.masks[i] : nullptr,
                                      al ? &f.alphas[i] : nullptr))
                return r;
        }
        std::swap(f.bitmaps, a->bitmaps), std::swap(f.masks, a->masks), std::swap(f.alphas, a->alphas);
    }
    a->width = uint32_t(w), a->height = uint32_t(h);
    a->smooth = smooth;
    return 0;
}

int modifyFrames(qxAnim *a, int64_t count, int64_t position);

int cmdModifyAnimFrames(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    const qxObjectRef ref = qxGetObjectIDArg(L, 1);
    if (qxIsCurrentOutputObject(QX_TYPE_ANIM, ref))
        return ERR_MODIFYAANIM;
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, ref, &a, QX_FIND_MODIFY))
        return r;
    if (a->disk)
        return ERR_ANIMDISK;
    return modifyFrames(a, qxTruncToInt64(luaL_checknumber(L, 2)), qxTruncToInt64(luaL_optnumber(L, 3, 0)));
}

// The frame editor: count > 0 inserts empty frames before position (0: at
// the end), count < 0 removes frames from position (0: the last ones).
int modifyFrames(qxAnim *a, int64_t count, int64_t position)
{
    const int64_t n = a->frameCount;
    if (count == 0 || count <= -n || position < 0)
        return ERR_WRONGUSAGE;
    int64_t start = 0, total = 0;
    if (count > 0) {
        // Inserted before frame position; one past the last frame appends.
        if (position > n + 1)
            return ERR_WRONGUSAGE;
        start = position == 0 ? n : position - 1;
        total = n + count;
    } else {
        start = position == 0 ? n + count : position - 1;
        if (start + (-count) > n)
            return ERR_WRONGUSAGE;
        total = n + count;
    }
    if (total > 0xFFFFFFF)
        return ERR_WRONGUSAGE;
    Frames f;
    if (int r = f.alloc(uint32_t(total), a->masks != nullptr, a->alphas != nullptr))
        return r;
    auto *delays = static_cast<uint32_t *>(qxAlloc(size_t(total) * 4, 1));
    if (!delays)
        return ERR_MEM;
    if (count > 0) {
        for (int64_t i = start; i < start + count; i++) {
            f.bitmaps[i] = qxAllocBitMap(a->width, a->height, 1, nullptr);
            // New frames start black, not with whatever the memory held.
            if (f.bitmaps[i] && qxFillBitMapColour(f.bitmaps[i], 0))
                qxFreeBitMap(f.bitmaps[i]), f.bitmaps[i] = nullptr;
            if (f.masks)
                f.masks[i] = f.bitmaps[i] ? qxAllocMaskBitMap(f.bitmaps[i], a->width, a->height, 1, nullptr, 0)
                                          : nullptr;
            if (f.alphas)
                f.alphas[i] = qxAllocAlphaBitMap(a->width, a->height, 1, nullptr, 0);
            delays[i] = 0xFFFFFFFFu;
            if (!f.bitmaps[i] || (f.masks && !f.masks[i]) || (f.alphas && !f.alphas[i])) {
                qxFree(delays);
                for (int64_t j = 0; j < total; j++)
                    if (j < start || j >= start + count)
                        f.bitmaps[j] = nullptr, f.masks ? f.masks[j] = nullptr : nullptr,
                        f.alphas ? f.alphas[j] = nullptr : nullptr;
                return ERR_BITMAP;
            }
        }
    }
    // Old frames move into the new order; removed ones are freed.
    for (int64_t i = 0, to = 0; i < n; i++) {
        const bool removed = count < 0 && i >= start && i < start - count;
        if (removed) {
            qxFreeImagePlanes(a->bitmaps[i], a->masks ? a->masks[i] : nullptr, a->alphas ? a->alphas[i] : nullptr);
            continue;
        }
        if (count > 0 && to == start)
            to += count;
        f.bitmaps[to] = a->bitmaps[i];
        if (f.masks)
            f.masks[to] = a->masks[i];
        if (f.alphas)
            f.alphas[to] = a->alphas[i];
        delays[to] = a->delays[i];
        to++;
    }
    qxFree(a->bitmaps), qxFree(a->masks), qxFree(a->alphas), qxFree(a->delays);
    a->bitmaps = f.bitmaps, a->masks = f.masks, a->alphas = f.alphas;
    f.bitmaps = f.masks = f.alphas = nullptr;
    a->delays = delays;
    a->frameCount = uint32_t(total);
    return 0;
}

int cmdSelectAnim(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    const qxObjectRef ref = qxGetObjectIDArg(L, 1);
    const int64_t frame = qxTruncToInt64(luaL_checknumber(L, 2));
    const uint32_t mode = lua_gettop(L) >= 3 ? uint32_t(luaL_checkint(L, 3)) : 0;
    const uint32_t combo = lua_gettop(L) >= 4 ? uint32_t(luaL_checkint(L, 4)) : 0;
    // A frame out of range is refused once the anim is found (frame 0).
    return qxSelectTarget(L, QX_OUT_ANIM, ref, QX_OUT_BRUSH, frame < 1 || frame > 0xFFFFFFF ? 0u : uint32_t(frame),
                          mode, combo);
}

// ConvertToBrush and GetBrushLink of an anim frame (1-based).
int animSource(lua_State *L, int sourceArg, uint32_t frame, int, qxBitMap **bm, qxBitMap **m, qxBitMap **al,
               uint32_t *w, uint32_t *h, uint32_t *transparent)
{
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, qxGetObjectIDArg(L, sourceArg), &a, 0))
        return r;
    if (frame < 1 || frame > a->frameCount)
        return ERR_ANIMFRAME;
    *w = a->width, *h = a->height, *transparent = a->transparentColour;
    return qxGetAnimFrameBitmap(a, frame - 1, 1, 0, bm, m, al);
}

constexpr qxCommandDef animCommands[] = {
    {"PlayAnim", cmdPlayAnim},
    {"FreeAnim", cmdFreeAnim},
    {"ScaleAnim", cmdScaleAnim},
    {"PlayAnimDisk", cmdPlayAnimDisk},
    {"LoadAnimFrame", cmdLoadAnimFrame},
    {"LoadAnim", cmdLoadAnim},
    {"IsAnim", cmdIsAnim},
    {"CreateAnim", cmdCreateAnim},
    {"CopyAnim", cmdCopyAnim},
    {"GetAnimFrame", cmdGetAnimFrame},
    {"DisplayAnimFrame", cmdDisplayAnimFrame},
    {"ModifyAnimFrames", cmdModifyAnimFrames},
    {"SelectAnim", cmdSelectAnim},
    {"SaveAnim", qxCmdSaveAnim},
    {"BeginAnimStream", qxCmdBeginAnimStream},
    {"WriteAnimFrame", qxCmdWriteAnimFrame},
    {"FinishAnimStream", qxCmdFinishAnimStream},
    {"SetAnimFrameDelay", cmdSetAnimFrameDelay},
    {nullptr, nullptr},
};

constexpr qxConstantDef animConstants[] = {
    {"DEINTERLACE_DEFAULT", nullptr, 0},
    {"DEINTERLACE_DOUBLE", nullptr, 1},
    {nullptr, nullptr, 0},
};

} // namespace

extern "C" int qxOpenAnimLib(lua_State *L)
{
    if (!listRegistered && qxRegisterObjectList(&qxAnims, QX_TYPE_ANIM) == 0)
        listRegistered = true;
    qxLinkAnimHooks();
    qxRegisterBrushSource(QX_TYPE_ANIM, animSource);
    return qxOpenCommandLibraryOf<animCommands, animConstants>(L, "anim");
}

extern "C" void qxFreeAllAnims(lua_State *L)
{
    while (qxAnims)
        qxFreeAnimRecord(L, qxAnims);
    qxFinishAllAnimStreams();
}

extern "C" int qxModifyAnimFrames(qxAnim *anim, int64_t count, int64_t position)
{
    if (anim->disk) return ERR_ANIMDISK;
    return modifyFrames(anim, count, position);
}
