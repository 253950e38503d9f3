// Anim streams and SaveAnim: frames composed onto a stream-sized ARGB
// canvas, reduced to a palette for GIF, and handed to the GIF or AVI writer.
#include "objects/qx_animstream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "core/commands/qx_args.h"
#include "core/files/qx_chunkname.h"
#include "core/plugins/qx_plugins.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_positions.h"
#include "imaging/qx_pixelformat.h"
#include "imaging/qx_quantize.h"
#include "objects/formats/qx_animformats.h"
#include "objects/formats/qx_picformats.h"
#include "objects/qx_anim.h"
#include "objects/qx_brush.h"
#include "objects/qx_objargs.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

constexpr uint32_t TYPE_ANIMSTREAM = 52;
enum : uint32_t { FORMAT_GIF = 0, FORMAT_MJPEG = 1 };

using BeginFn = void *(*)(const char *file, int32_t width, int32_t height, uint32_t mode, int32_t quality,
                         int32_t fps);
using WriteFn = int (*)(void *handle, const qxAnimFrameRecord *frame);
using FinishFn = int (*)(void *handle);

struct Stream {
    uint32_t type, number;
    void *automatic;
    Stream *next;
    uint32_t width, height, format, palette, useAlpha;
    qxGifWriter *gif;
    qxAviWriter *avi;
    void *handle; // a saver plug-in's stream
    qxPluginInfo *saver;
    uint32_t formatFlags;
};

// The active anim saver offering the format number (its #ANMFMT_ constant).
qxPluginInfo *findSaver(lua_State *L, uint32_t format, uint32_t *flags)
{
    for (qxPluginNode *n = qxPluginList; n; n = n->next) {
        qxPluginInfo *info = n->handle ? n->handle->info : nullptr;
        if (!info || info->disabled || info->abiKind == 2 || !(n->capabilities & QX_CAP_ANIMSAVER) ||
            !info->animFormats || !info->entry[QX_EP_BeginAnimStream] || !info->entry[QX_EP_WriteAnimFrame] ||
            !info->entry[QX_EP_FinishAnimStream])
            continue;
        for (const qxSaverFormat *f = info->animFormats; f->name; f++) {
            const std::string name = std::string("#") + f->name;
            int consumed = 0;
            const char *text = nullptr;
            double number = 0;
            if (qxParseConstantName(L, name.c_str(), &consumed, &text, &number) == 0 && !text &&
                number == double(format)) {
                *flags = f->flags;
                return info;
            }
        }
    }
    return nullptr;
}

Stream *streams;

struct FrameOptions {
    int dither = 0, colors = 256, optimize = 1;
    uint32_t transparent = 0xFFFFFFFFu, delay = 0;
    int32_t x = 0, y = 0;
};

int readFrameOptions(lua_State *L, int t, FrameOptions &o)
{
    if (lua_gettop(L) < t || lua_isnil(L, t))
        return 0;
    luaL_checktable(L, t);
    double d = 0;
    int v = 0, found = 0;
    qxFlagField(L, t, "dither", &o.dither);
    qxFlagField(L, t, "optimize", &o.optimize);
    if (qxGetFieldNum(L, t, "colors", &d, nullptr))
        o.colors = int(std::clamp<int64_t>(qxTruncToInt64(d), -1, 100000));
    if (qxGetFieldColor(L, t, "transparency", &v, &found) && found && v >= 0)
        o.transparent = uint32_t(v) & 0xFFFFFF;
    if (qxGetFieldNum(L, t, "delay", &d, nullptr)) {
        const int64_t delay = qxTruncToInt64(d);
        if (delay < 0 || delay > 0xFFFFFFFLL)
            return ERR_WRONGUSAGE;
        o.delay = uint32_t(delay);
    }
    if (qxGetFieldNum(L, t, "x", &d, nullptr))
        o.x = int32_t(std::clamp<int64_t>(qxTruncToInt64(d), INT32_MIN, INT32_MAX));
    if (qxGetFieldNum(L, t, "y", &d, nullptr))
        o.y = int32_t(std::clamp<int64_t>(qxTruncToInt64(d), INT32_MIN, INT32_MAX));
    if (o.colors < 2 || o.colors > 256)
        return ERR_WRONGUSAGE;
    return 0;
}

int openStream(lua_State *L, Stream &s, const char *file, uint32_t fps, uint32_t quality)
{
    if (s.format == FORMAT_GIF) {
        // GIF sides are 16 bits: refuse rather than wrap the header.
        if (s.width > 65535 || s.height > 65535)
            return ERR_WRONGUSAGE;
        s.palette = 1;
        return qxGifWriterOpen(file, s.width, s.height, &s.gif);
    }
    if (s.format == FORMAT_MJPEG) {
        std::string title = file;
        const size_t slash = title.find_last_of("/:");
        if (slash != std::string::npos)
            title = title.substr(slash + 1);
        return qxAviWriterOpen(file, fps, 0, s.width, s.height, quality, 0, title.c_str(), &s.avi);
    }
    s.saver = findSaver(L, s.format, &s.formatFlags);
    if (!s.saver)
        return ERR_UNKNOWNANMOUT;
    if (s.useAlpha && !(s.formatFlags & 4))
        return ERR_SAVERALPHA;
    s.palette = (s.formatFlags & 1) ? 0 : 1;
    const uint32_t mode = (s.palette ? 1 : 0) | (s.useAlpha ? 4 : 0);
    s.handle = reinterpret_cast<BeginFn>(s.saver->entry[QX_EP_BeginAnimStream])(
        file, int32_t(s.width), int32_t(s.height), mode, int32_t(quality), int32_t(fps));
    return s.handle ? 0 : ERR_SAVEANIM;
}

int closeStream(Stream &s)
{
    int r = 0;
    if (s.gif)
        r = qxGifWriterClose(s.gif);
    if (s.avi)
        r = qxAviWriterClose(s.avi);
    if (s.handle && !reinterpret_cast<FinishFn>(s.saver->entry[QX_EP_FinishAnimStream])(s.handle))
        r = ERR_SAVEANIM;
    s.gif = nullptr, s.avi = nullptr, s.handle = nullptr;
    return r;
}

// Writes one frame of ARGB words (alpha 0 = transparent) of the stream's size.
int writeCanvas(Stream &s, uint32_t *canvas, const FrameOptions &o)
{
    const size_t count = size_t(s.width) * s.height;
    if (s.format == FORMAT_MJPEG)
        return qxAviWriteFrame(s.avi, canvas, int32_t(s.width * 4), 0);
    auto write = [&](qxAnimFrameRecord &record) {
        record.delay = o.delay, record.format = s.format;
        return reinterpret_cast<WriteFn>(s.saver->entry[QX_EP_WriteAnimFrame])(s.handle, &record) ? 0
                                                                                              : int(ERR_SAVEANIM);
    };
    if (s.handle && !s.palette) {
        qxAnimFrameRecord record{canvas, nullptr, s.width * 4, 0, 0, 0, s.useAlpha ? 1u : 0u, 0};
        if (!s.useAlpha)
            for (size_t i = 0; i < count; i++)
                canvas[i] |= 0xFF000000u;
        return write(record);
    }
    if (s.gif && o.delay / 10 > 65535)
        return ERR_WRONGUSAGE;
    std::unique_ptr<uint8_t[]> indices(new (std::nothrow) uint8_t[count]);
    if (!indices)
        return ERR_MEM;
    if (o.transparent != 0xFFFFFFFFu)
        for (size_t i = 0; i < count; i++)
            if (!(canvas[i] >> 24))
                canvas[i] = o.transparent;
    uint32_t palette[256] = {};
    int32_t colours = o.colors, transparentIndex = -1;
    if (!qxQuantizeToPalette(canvas, QX_PIXFMT_ARGB32, 4, int32_t(s.width), int32_t(s.height), int32_t(s.width),
                             indices.get(), palette, &colours, o.transparent, 0, o.dither ? 1 : 0,
                             &transparentIndex))
        return ERR_LOCKBMAP;
    const uint32_t tIndex = o.transparent != 0xFFFFFFFFu && transparentIndex >= 0 ? uint32_t(transparentIndex)
                                                                                  : 0xFFFFFFFFu;
    if (s.handle) {
        qxAnimFrameRecord record{indices.get(), palette, s.width, uint32_t(colours),
                                 tIndex == 0xFFFFFFFFu ? 0 : tIndex, 0, tIndex == 0xFFFFFFFFu ? 0u : 2u, 0};
        return write(record);
    }
    return qxGifWriteFrame(s.gif, indices.get(), s.width, s.height, o.delay, palette, uint32_t(colours), tIndex,
                           o.optimize, 0);
}

// A stream-sized canvas with the planes drawn at the position.
uint32_t *composeFrame(const Stream &s, qxBitMap *bm, qxBitMap *mask, qxBitMap *alpha, uint32_t w, uint32_t h,
                       uint32_t transparent, int32_t x, int32_t y)
{
    uint32_t *argb = qxBitMapToARGBMasked(bm, 0, 0, int32_t(w), int32_t(h), mask, alpha, transparent, 1, 0);
    if (!argb)
        return nullptr;
    if (!mask && !alpha)
        for (size_t i = 0, n = size_t(w) * h; i < n; i++)
            argb[i] |= 0xFF000000u;
    if (w == s.width && h == s.height && x == 0 && y == 0)
        return argb;
    auto *canvas = static_cast<uint32_t *>(qxAlloc(size_t(s.width) * s.height * 4, 1));
    if (canvas) {
        // Cut the brush to the stream.
        const int64_t x0 = std::max<int64_t>(0, x), y0 = std::max<int64_t>(0, y);
        const int64_t x1 = std::min<int64_t>(s.width, int64_t(x) + w), y1 = std::min<int64_t>(s.height, int64_t(y) + h);
        for (int64_t yy = y0; yy < y1; yy++)
            for (int64_t xx = x0; xx < x1; xx++)
                canvas[yy * s.width + xx] = argb[(yy - y) * w + (xx - x)];
    }
    qxFree(argb);
    return canvas;
}

Stream *findStream(qxObjectRef ref, int *error)
{
    for (Stream *s = streams; s; s = s->next)
        if (s->automatic == ref.automatic && s->number == ref.number)
            return s;
    if (ref.automatic) {
        *error = ERR_FINDARRAY;
    } else {
        qxSetErrorNumber(int(ref.number));
        *error = ERR_FINDANIMSTREAM;
    }
    return nullptr;
}

void unlinkStream(Stream *s)
{
    for (Stream **p = &streams; *p; p = &(*p)->next)
        if (*p == s) {
            *p = s->next;
            break;
        }
    std::free(s);
}

void readStreamOptions(lua_State *L, int t, int *quality, int *fps, int *useAlpha)
{
    if (lua_gettop(L) < t || !lua_istable(L, t))
        return;
    qxGetFieldInt(L, t, "quality", quality, nullptr);
    qxGetFieldInt(L, t, "fps", fps, nullptr);
    qxFlagField(L, t, "usealpha", useAlpha);
}

} // namespace

extern "C" {

int qxCmdBeginAnimStream(lua_State *L)
{
    qxCheckArgCount(L, 4, 6, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    std::string file = qxGetFileNameArg(L, 2, 0, nullptr);
    const int64_t w = qxTruncToInt64(luaL_checknumber(L, 3)), h = qxTruncToInt64(luaL_checknumber(L, 4));
    const int64_t format = qxTruncToInt64(luaL_optnumber(L, 5, 0));
    int quality = 90, fps = 25, useAlpha = 0;
    readStreamOptions(L, 6, &quality, &fps, &useAlpha);
    if (file.empty() || w < 1 || h < 1 || w > 0xFFFFFF || h > 0xFFFFFF)
        return ERR_WRONGUSAGE;
    if (!ref.automatic) {
        int unused = 0;
        if (Stream *old = findStream(ref, &unused)) {
            closeStream(*old);
            unlinkStream(old);
        }
    }
    auto *s = static_cast<Stream *>(std::calloc(1, sizeof(Stream)));
    if (!s)
        return ERR_MEM;
    s->type = TYPE_ANIMSTREAM;
    s->width = uint32_t(w), s->height = uint32_t(h);
    s->format = format < 0 || format > 0xFFFFFFFLL ? 0xFFFFFFFFu : uint32_t(format);
    s->useAlpha = useAlpha != 0;
    if (int r = openStream(L, *s, file.c_str(), uint32_t(std::clamp(fps, 0, 1000000)),
                           uint32_t(std::clamp(quality, 0, 100)))) {
        std::free(s);
        return r;
    }
    if (ref.automatic == QX_NEW_AUTOMATIC)
        ref = {0, s};
    s->number = ref.number, s->automatic = ref.automatic;
    Stream **tail = &streams;
    while (*tail)
        tail = &(*tail)->next;
    *tail = s;
    return qxPushNewID(L, ref);
}

int qxCmdWriteAnimFrame(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int error = 0;
    Stream *s = findStream(qxGetObjectIDArg(L, 1), &error);
    if (!s)
        return error;
    FrameOptions o;
    if (int r = readFrameOptions(L, 3, o))
        return r;
    if (o.transparent != 0xFFFFFFFFu && s->useAlpha)
        return ERR_MASKNALPHA;
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, qxGetObjectIDArg(L, 2), &b, QX_FIND_NOVECTOR))
        return r;
    if (!b->bitmap)
        return ERR_BITMAP;
    const int32_t x = qxResolvePosX(o.x, int(b->width), int(s->width), 0.0);
    const int32_t y = qxResolvePosY(o.y, int(b->height), int(s->height), 0.0);
    uint32_t *canvas = composeFrame(*s, b->bitmap, b->mask, b->alpha, b->width, b->height, b->transparentColour, x, y);
    if (!canvas)
        return ERR_BITMAP;
    const int r = writeCanvas(*s, canvas, o);
    qxFree(canvas);
    return r;
}

int qxCmdFinishAnimStream(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    int error = 0;
    Stream *s = findStream(qxGetObjectIDArg(L, 1), &error);
    if (!s)
        return error;
    const int r = closeStream(*s);
    unlinkStream(s);
    return r;
}

int qxCmdSaveAnim(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, qxGetObjectIDArg(L, 1), &a, 0))
        return r;
    std::string file = qxGetFileNameArg(L, 2, 0, nullptr);
    const int64_t format = qxTruncToInt64(luaL_optnumber(L, 3, 0));
    int quality = 90, fps = 25, useAlpha = 0;
    readStreamOptions(L, 4, &quality, &fps, &useAlpha);
    FrameOptions o;
    if (lua_gettop(L) >= 4 && lua_istable(L, 4))
        if (int r = readFrameOptions(L, 4, o))
            return r;
    Stream s{};
    s.width = a->width, s.height = a->height;
    s.format = format < 0 || format > 0xFFFFFFFLL ? 0xFFFFFFFFu : uint32_t(format);
    s.useAlpha = useAlpha != 0;
    if (int r = openStream(L, s, file.c_str(), uint32_t(std::clamp(fps, 0, 1000000)),
                           uint32_t(std::clamp(quality, 0, 100))))
        return r;
    int r = 0;
    for (uint32_t i = 0; i < a->frameCount && !r; i++) {
        qxBitMap *bm = nullptr, *m = nullptr, *al = nullptr;
        if ((r = qxGetAnimFrameBitmap(a, i, a->disk, 0, &bm, &m, &al)))
            break;
        uint32_t *canvas = composeFrame(s, bm, m, al, a->width, a->height, a->transparentColour, 0, 0);
        if (a->disk)
            qxFreeImagePlanes(bm, m, al); // disk frames arrive as copies
        if (!canvas) {
            r = ERR_BITMAP;
            break;
        }
        FrameOptions f = o;
        f.delay = qxGetAnimFrameDelay(a, i);
        if (f.transparent == 0xFFFFFFFFu && (m || al))
            f.transparent = a->transparentColour != 0xFFFFFFFFu ? a->transparentColour : 0xFF00FF;
        r = writeCanvas(s, canvas, f);
        qxFree(canvas);
    }
    const int c = closeStream(s);
    return r ? r : c;
}

void qxFinishAllAnimStreams(void)
{
    while (streams) {
        closeStream(*streams);
        unlinkStream(streams);
    }
}
}
