#include "display/qx_bgpic.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "display/qx_events.h"
#include "imaging/qx_blit.h"
#include "platform/qx_errcodes.h"

extern "C" {
qxBGPic *qxBGPics;
qxBGPic *qxCurrentOutput;
qxLayerQueryHooks qxLayerQueries;
}

namespace {

// Every new display is filled once at its opening: whole vector stores.
void fillRows(const qxBitMapLock &lock, uint32_t colour)
{
    if (lock.bytesPerPixel == 4) {
        qxFillPixelRows32(static_cast<uint32_t *>(lock.pixels), lock.width, lock.height, lock.pixelsPerRow,
                          qxPlainPixel(colour, 4));
    } else if (lock.bytesPerPixel == 2) {
        const auto v = (uint16_t)qxPlainPixel(colour, 2);
        for (uint32_t y = 0; y < lock.height; y++)
            std::fill_n(static_cast<uint16_t *>(lock.pixels) + (size_t)y * lock.pixelsPerRow, lock.width, v);
    }
}

int allocFilled(int32_t width, int32_t height, uint32_t colour, qxBitMap **out)
{
    *out = qxAllocBitMap((uint32_t)width, (uint32_t)height, 0, nullptr);
    if (!*out)
        return ERR_BITMAP;
    // Nobody holds the new pixels yet: the fill waits for their first lock.
    if (qxDeferBitMapColour(*out, colour))
        return 0;
    if (int r = qxFillBitMapColour(*out, colour)) {
        qxFreeBitMap(*out);
        *out = nullptr;
        return r;
    }
    return 0;
}

} // namespace

extern "C" {

int qxFillBitMapColour(qxBitMap *bitmap, uint32_t colour)
{
    qxBitMapLock lock;
    if (!qxLockBitMap(bitmap, 0, &lock))
        return ERR_LOCKBMAP;
    if (!lock.width)
        lock.width = bitmap->width, lock.height = bitmap->height;
    fillRows(lock, colour & 0xFFFFFF);
    qxUnLockBitMap(&lock);
    return 0;
}

void qxInitBGPicRecord(qxBGPic *b, uint32_t selectedType, void *selectedRecord, uint32_t selectedFrame,
                       const qxObjectRef *ref, qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width,
                       int32_t height, int zeroFirst)
{
    if (zeroFirst)
        std::memset(b, 0, sizeof *b);
    b->type = QX_TYPE_BGPIC;
    if (ref) {
        b->id = ref->number;
        b->automatic = ref->automatic;
    }
    b->selectedType = selectedType;
    b->selectedRecord = selectedRecord;
    b->selectedFrame = selectedFrame;
    b->bitmap = b->curBitmap = b->baseBitmap = bitmap;
    b->mask = b->curMask = b->baseMask = mask;
    b->alpha = b->curAlpha = b->baseAlpha = alpha;
    b->width = b->curWidth = b->baseWidth = width;
    b->height = b->curHeight = b->baseHeight = height;
}

int qxAllocBGPic(qxObjectRef *ref, uint32_t kind, int32_t width, int32_t height, uint32_t rowLength,
                 qxPicSource *source, qxBitMap *bitmap, uint32_t *palette, uint32_t transparentColour,
                 qxBitMap *mask, qxBitMap *alpha, const qxFillRecord *fill, qxBGPic **out)
{
    if (out)
        *out = nullptr;
    auto *b = static_cast<qxBGPic *>(std::calloc(1, sizeof(qxBGPic)));
    if (!b)
        return ERR_MEM;
    if (ref->automatic == QX_NEW_AUTOMATIC)
        *ref = {0, b};
    qxInitBGPicRecord(b, 0, nullptr, 0, ref, bitmap, mask, alpha, width, height, 0);
    b->kind = kind;
    b->rowLength = rowLength;
    b->source = source;
    b->palette = palette;
    b->transparentColour = transparentColour;
    if (fill) {
        b->fill = *fill;
        b->fill.textureBitmap = nullptr; // handed over explicitly by the caller
    }
    qxBGPic **tail = &qxBGPics;
    while (*tail)
        tail = &(*tail)->next;
    *tail = b;
    if (out)
        *out = b;
    return 0;
}

int qxCreateBGPicFromBitmap(qxObjectRef *ref, int32_t width, int32_t height, uint32_t colour, qxBGPic **out)
{
    if (out)
        *out = nullptr;
    if (width < 1 || height < 1)
        return ERR_BADDIMENSIONS;
    qxBitMap *bm = nullptr;
    if (int r = allocFilled(width, height, colour, &bm))
        return r;
    qxFillRecord fill{};
    fill.style = QX_FILL_COLOR;
    fill.colour = colour & 0xFFFFFF;
    qxBGPic *b = nullptr;
    if (int r = qxAllocBGPic(ref, 0, width, height, (uint32_t)width, nullptr, bm, nullptr, 0xFFFFFFFFu, nullptr,
                             nullptr, &fill, &b)) {
        qxFreeBitMap(bm);
        return r;
    }
    if (out)
        *out = b;
    return 0;
}

void qxUseWorkingPlanes(qxBGPic *b)
{
    if (b->curBitmap != b->bitmap && b->curBitmap != b->baseBitmap)
        qxFreeBitMap(b->curBitmap);
    if (b->curMask != b->mask && b->curMask != b->baseMask && b->curMask)
        qxFreeMaskBitMap(b->curMask);
    if (b->curAlpha != b->alpha && b->curAlpha != b->baseAlpha && b->curAlpha)
        qxFreeAlphaBitMap(b->curAlpha);
    b->curBitmap = b->bitmap;
    b->curMask = b->mask;
    b->curAlpha = b->alpha;
    b->curWidth = b->width;
    b->curHeight = b->height;
}

void qxFreeBGPicWorkBitmaps(qxBGPic *b)
{
    // Current planes first: they may be the working ones, which may be the base ones.
    qxUseWorkingPlanes(b);
    if (b->bitmap != b->baseBitmap)
        qxFreeBitMap(b->bitmap);
    if (b->mask != b->baseMask && b->mask)
        qxFreeMaskBitMap(b->mask);
    if (b->alpha != b->baseAlpha && b->alpha)
        qxFreeAlphaBitMap(b->alpha);
    b->bitmap = b->curBitmap = b->baseBitmap;
    b->mask = b->curMask = b->baseMask;
    b->alpha = b->curAlpha = b->baseAlpha;
    b->width = b->curWidth = b->baseWidth;
    b->height = b->curHeight = b->baseHeight;
}

void qxReplaceBGPicPlanes(qxBGPic *b, qxBitMap *bitmap, int32_t width, int32_t height)
{
    qxFreeBGPicWorkBitmaps(b);
    qxFreeBitMap(b->baseBitmap);
    qxFreeImagePlanes(nullptr, b->baseMask, b->baseAlpha);
    qxInitBGPicRecord(b, b->selectedType, b->selectedRecord, b->selectedFrame, nullptr, bitmap, nullptr, nullptr,
                      width, height, 0);
    b->rowLength = (uint32_t)width;
}

int qxRefillBGPic(qxBGPic *b, int32_t width, int32_t height, uint32_t colour)
{
    qxBitMap *bm = nullptr;
    if (int r = allocFilled(width, height, colour, &bm))
        return r;
    qxReplaceBGPicPlanes(b, bm, width, height);
    b->fill.colour = colour & 0xFFFFFF;
    return 0;
}

void qxFreeImagePlanes(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha)
{
    qxFreeBitMap(bitmap);
    if (mask)
        qxFreeMaskBitMap(mask);
    if (alpha)
        qxFreeAlphaBitMap(alpha);
}

qxBGPic *qxFindBGPicRecord(qxObjectRef ref)
{
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        if (b->automatic == ref.automatic && b->id == ref.number)
            return b;
    return nullptr;
}

void qxFreeBGPicContents(lua_State *L, qxBGPic *b, int dropReferences)
{
    if (qxLayerQueries.freeBGPicLayers && b->layers.first)
        qxLayerQueries.freeBGPicLayers(L, b, dropReferences);
    if (qxLayerQueries.freeSpriteList && b->sprites)
        qxLayerQueries.freeSpriteList(L, b);
    qxFreeButtonList(L, b);
    if (b->source && qxPicSourceRef)
        qxPicSourceRef(b->source, -1);
    b->source = nullptr;
    qxFreeBGPicWorkBitmaps(b);
    qxFreeBitMap(b->baseBitmap);
    qxFreeImagePlanes(nullptr, b->baseMask, b->baseAlpha);
    b->bitmap = b->curBitmap = b->baseBitmap = nullptr;
    b->mask = b->curMask = b->baseMask = nullptr;
    b->alpha = b->curAlpha = b->baseAlpha = nullptr;
    std::free(b->palette);
    b->palette = nullptr;
    qxFreeBitMap(b->fill.textureBitmap);
    b->fill.textureBitmap = nullptr;
    if (L && b->data)
        qxFreeRefList(L, &b->data);
    if (qxCurrentOutput == b)
        qxCurrentOutput = nullptr;
}

void qxFreeBGPicRecord(lua_State *L, qxBGPic *bgpic)
{
    if (!bgpic)
        return;
    for (qxBGPic **p = &qxBGPics; *p; p = &(*p)->next) {
        if (*p == bgpic) {
            *p = bgpic->next;
            break;
        }
    }
    qxFreeBGPicContents(L, bgpic, 1);
    std::free(bgpic);
}

void qxFreeBGPicList(lua_State *L)
{
    while (qxBGPics) {
        qxBGPic *b = qxBGPics;
        qxBGPics = b->next;
        qxFreeBGPicContents(L, b, 0);
        std::free(b);
    }
    qxCurrentOutput = nullptr;
}
}
