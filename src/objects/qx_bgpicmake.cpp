// BGPic images: pictures composed over fills, fills from a fill record,
// copies, and the gradient and texture creators.
#include "objects/qx_bgpicobj.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_display.h"
#include "platform/qx_displayrecord.h"
#include "objects/qx_brush.h"
#include "objects/qx_gradientopts.h"
#include "objects/qx_objargs.h"
#include "objects/qx_picsource.h"
#include "platform/qx_errcodes.h"

namespace {

// The default size of a created object: the current output's working size.
void defaultSize(lua_State *L, int index, int32_t *size, bool width)
{
    if (lua_gettop(L) >= index && !lua_isnil(L, index)) {
        const int64_t v = qxTruncToInt64(luaL_checknumber(L, index));
        *size = v > 0x7FFFFFFF ? 0x7FFFFFFF : v < 0 ? 0 : int32_t(v);
        return;
    }
    const qxBGPic *out = qxCurrentOutput;
    if (!out && qxCurrentDisplay)
        out = qxCurrentDisplay->bgpic;
    *size = out ? (width ? out->width : out->height) : 0;
}

int allocCanvas(int32_t width, int32_t height, qxBitMap **out)
{
    if (width < 1 || height < 1)
        return ERR_BADDIMENSIONS;
    if (int64_t(width) * height > int64_t(0x7FFFFFFF) / 4)
        return ERR_BITMAP;
    *out = qxAllocBitMap(uint32_t(width), uint32_t(height), 0, nullptr);
    return *out ? 0 : ERR_BITMAP;
}

} // namespace

extern "C" {

int qxFillBitMapFromRecord(lua_State *L, qxBitMap *bm, qxFillRecord *fill, int32_t width, int32_t height)
{
    switch (fill ? fill->style : QX_FILL_NONE) {
    case QX_FILL_GRADIENT:
        DrawGradient(bm, 0, 0, width, height, &fill->gradient);
        return 0;
    case QX_FILL_TEXTURE:
        if (!fill->textureBitmap) {
            qxBrush *b = nullptr;
            if (int r = qxFindBrush(L, fill->textureBrush, &b, 0))
                return r;
            if (!b->bitmap)
                return ERR_BITMAP;
            if (int r = qxCopyImageRect(b->bitmap, nullptr, nullptr, 0, 0, int32_t(b->width), int32_t(b->height), 0,
                                        0, 0, 0, &fill->textureBitmap, nullptr, nullptr))
                return r;
            fill->textureWidth = b->width;
            fill->textureHeight = b->height;
        }
        qxTileFill(bm, 0, 0, width, height, fill->textureBitmap, fill->textureX, fill->textureY,
                   int32_t(fill->textureWidth), int32_t(fill->textureHeight), 0, 0);
        return 0;
    default:
        return qxFillBitMapColour(bm, fill ? fill->colour : 0);
    }
}

int qxRenderBGPicImage(lua_State *L, const uint32_t *pixels, qxFillRecord *fill, uint32_t transparentColour,
                       int32_t width, int32_t height, uint32_t rowLength, qxBitMap **bitmapOut, qxBitMap **maskOut,
                       qxBitMap **alpha)
{
    *bitmapOut = nullptr;
    if (maskOut)
        *maskOut = nullptr;
    qxBitMap *bm = nullptr, *mask = nullptr;
    if (pixels) {
        if (int r = qxBitMapFromARGB(pixels, transparentColour, width, height, int32_t(rowLength), 0, 0, nullptr,
                                     &bm, &mask, nullptr))
            return r;
        const bool noFill = !fill || fill->style == QX_FILL_NONE;
        if (noFill || (!mask && !*alpha)) {
            *bitmapOut = bm;
            if (maskOut)
                *maskOut = mask;
            else if (mask)
                qxFreeMaskBitMap(mask);
            return 0;
        }
    }
    qxBitMap *canvas = nullptr;
    if (int r = allocCanvas(width, height, &canvas)) {
        qxFreeImagePlanes(bm, mask, *alpha);
        *alpha = nullptr;
        return r == ERR_BADDIMENSIONS ? r : ERR_BITMAP;
    }
    if (int r = qxFillBitMapFromRecord(L, canvas, fill, width, height)) {
        qxFreeImagePlanes(canvas, nullptr, nullptr);
        qxFreeImagePlanes(bm, mask, *alpha);
        *alpha = nullptr;
        return r;
    }
    if (bm) {
        // The picture goes over the fill and the result is opaque.
        if (*alpha)
            qxBltBitMapThroughAlpha(bm, 0, 0, canvas, 0, 0, width, height, *alpha);
        else
            qxBltBitMapMasked(bm, 0, 0, canvas, 0, 0, width, height, mask);
        qxFreeImagePlanes(bm, mask, *alpha);
        *alpha = nullptr;
    }
    *bitmapOut = canvas;
    return 0;
}

int qxCopyBGPicData(lua_State *L, void *record, qxObjectRef *newRef)
{
    auto *src = static_cast<qxBGPic *>(record);
    struct Planes {
        qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    } base, work, cur;
    uint32_t *palette = nullptr;
    qxBitMap *texture = nullptr;
    qxObjectDataItem *data = nullptr;
    auto release = [&](int code) {
        for (Planes *p : {&base, &work, &cur})
            qxFreeImagePlanes(p->bitmap, p->mask, p->alpha);
        qxFreeBitMap(texture);
        std::free(palette);
        if (L && data)
            qxFreeRefList(L, &data);
        return code;
    };
    auto copyPlanes = [&](qxBitMap *bm, qxBitMap *m, qxBitMap *a, int32_t w, int32_t h, Planes *out) {
        if (!bm)
            return 0;
        return qxCopyImageRect(bm, m, a, 0, 0, w, h, 0, 0, 0, 0, &out->bitmap, m ? &out->mask : nullptr,
                               a ? &out->alpha : nullptr);
    };
    if (src->palette) {
        palette = static_cast<uint32_t *>(std::malloc(257 * sizeof(uint32_t)));
        if (!palette)
            return ERR_MEM;
        std::memcpy(palette, src->palette, 257 * sizeof(uint32_t));
    }
    if (int r = copyPlanes(src->baseBitmap, src->baseMask, src->baseAlpha, src->baseWidth, src->baseHeight, &base))
        return release(r);
    const bool separateWork = src->bitmap != src->baseBitmap;
    const bool separateCur = src->curBitmap != src->bitmap && src->curBitmap != src->baseBitmap;
    if (separateWork)
        if (int r = copyPlanes(src->bitmap, src->mask, src->alpha, src->width, src->height, &work))
            return release(r);
    if (separateCur)
        if (int r = copyPlanes(src->curBitmap, src->curMask, src->curAlpha, src->curWidth, src->curHeight, &cur))
            return release(r);
    if (src->fill.style == QX_FILL_TEXTURE && src->fill.textureBitmap)
        if (int r = qxCopyImageRect(src->fill.textureBitmap, nullptr, nullptr, 0, 0, int32_t(src->fill.textureWidth),
                                    int32_t(src->fill.textureHeight), 0, 0, 0, 0, &texture, nullptr, nullptr))
            return release(r);
    if (L && src->data)
        if (int r = qxCopyNameList(L, src->data, &data))
            return release(r);
    qxBGPic *b = nullptr;
    if (int r = qxAllocBGPic(newRef, src->kind, src->baseWidth, src->baseHeight, uint32_t(src->baseWidth),
                             src->source, base.bitmap, palette, src->transparentColour, base.mask, base.alpha,
                             &src->fill, &b))
        return release(r);
    if (src->source)
        qxPicSourceRetain(src->source);
    b->data = data;
    b->loader = src->loader;
    b->deferred = src->deferred;
    b->fill.textureBitmap = texture;
    if (separateWork) {
        b->bitmap = work.bitmap, b->mask = work.mask, b->alpha = work.alpha;
        b->width = src->width, b->height = src->height;
        if (!separateCur) {
            b->curBitmap = work.bitmap, b->curMask = work.mask, b->curAlpha = work.alpha;
            b->curWidth = src->curWidth, b->curHeight = src->curHeight;
        }
    }
    if (separateCur) {
        b->curBitmap = cur.bitmap, b->curMask = cur.mask, b->curAlpha = cur.alpha;
        b->curWidth = src->curWidth, b->curHeight = src->curHeight;
    }
    return 0;
}

int qxCreateGradientObject(lua_State *L, int first, int32_t *width, int32_t *height, qxFillRecord *fill,
                           qxBitMap **bitmapOut)
{
    *bitmapOut = nullptr;
    std::memset(fill, 0, sizeof *fill);
    fill->style = QX_FILL_GRADIENT;
    fill->filled = 1;
    qxGradient &g = fill->gradient;
    qxInitFillStyle(&g, 0);
    g.type = luaL_checkint(L, first);
    g.startColour = uint32_t(qxTruncToInt64(luaL_checknumber(L, first + 1))) & 0xFFFFFF;
    g.endColour = uint32_t(qxTruncToInt64(luaL_checknumber(L, first + 2))) & 0xFFFFFF;
    defaultSize(L, first + 3, width, true);
    defaultSize(L, first + 4, height, false);
    if (*width < 1 || *height < 1)
        return ERR_BADDIMENSIONS;
    if (int r = qxReadGradientTable(L, first + 5, &g))
        return r;
    if (int r = allocCanvas(*width, *height, bitmapOut))
        return r;
    DrawGradient(*bitmapOut, 0, 0, *width, *height, &g);
    return 0;
}

int qxCreateTexturedObject(lua_State *L, int first, int32_t *width, int32_t *height, qxFillRecord *fill,
                           qxBitMap **bitmapOut)
{
    *bitmapOut = nullptr;
    std::memset(fill, 0, sizeof *fill);
    fill->style = QX_FILL_TEXTURE;
    fill->filled = 1;
    fill->textureBrush = qxGetObjectIDArg(L, first);
    defaultSize(L, first + 1, width, true);
    defaultSize(L, first + 2, height, false);
    fill->textureX = int32_t(qxTruncToInt64(luaL_optnumber(L, first + 3, 0)) % 0x7FFFFFFF);
    fill->textureY = int32_t(qxTruncToInt64(luaL_optnumber(L, first + 4, 0)) % 0x7FFFFFFF);
    if (*width < 1 || *height < 1)
        return ERR_BADDIMENSIONS;
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, fill->textureBrush, &b, 0))
        return r;
    if (int r = allocCanvas(*width, *height, bitmapOut))
        return r;
    if (int r = qxFillBitMapFromRecord(L, *bitmapOut, fill, *width, *height)) {
        qxFreeBitMap(*bitmapOut);
        *bitmapOut = nullptr;
        return r;
    }
    return 0;
}

int qxRealizeBGPics(lua_State *L)
{
    for (qxBGPic *b = qxBGPics; b; b = b->next) {
        if (!b->deferred || b->baseBitmap || !b->source)
            continue;
        const uint32_t *pixels = qxPicSourceBitMap(b->source);
        if (!pixels)
            return ERR_BITMAP;
        qxBitMap *bm = nullptr, *mask = nullptr, *alpha = b->baseAlpha;
        if (int r = qxRenderBGPicImage(L, pixels, &b->fill, b->transparentColour, b->baseWidth, b->baseHeight,
                                       b->rowLength, &bm, &mask, &alpha)) {
            b->baseAlpha = b->alpha = b->curAlpha = nullptr; // the renderer freed it
            return r;
        }
        qxInitBGPicRecord(b, b->selectedType, b->selectedRecord, b->selectedFrame, nullptr, bm, mask, alpha,
                          b->baseWidth, b->baseHeight, 0);
        b->deferred = 0;
        if (b->kind == 0) {
            qxPicSourceRelease(b->source);
            b->source = nullptr;
        }
    }
    return 0;
}
}
