// The anim list: lookup with find flags, adding, copying, freeing, and the
// frames of in-memory and disk anims.
#include "objects/qx_anim.h"

#include <cstdlib>
#include <cstring>

#include "core/plugins/qx_pluginapi.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_bitmaptransform.h"
#include "imaging/qx_blit.h"
#include "objects/formats/qx_animformats.h"
#include "objects/qx_brush.h"
#include "objects/qx_displaycore.h"
#include "objects/qx_objectuse.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"
#include "platform/qx_memory.h"

extern "C" {
qxAnim *qxAnims;
}

namespace {

void freeFramePlanes(qxAnim *a)
{
    for (uint32_t i = 0; i < a->frameCount; i++) {
        qxFreeImagePlanes(a->bitmaps ? a->bitmaps[i] : nullptr, a->masks ? a->masks[i] : nullptr,
                          a->alphas ? a->alphas[i] : nullptr);
        if (a->rawFrames && a->rawFrames[i])
            qxAnimReaderFreeFrame(a->reader, a->rawFrames[i]);
    }
    qxFree(a->bitmaps);
    qxFree(a->masks);
    qxFree(a->alphas);
    qxFree(a->rawFrames);
    a->bitmaps = a->masks = a->alphas = nullptr;
    a->rawFrames = nullptr;
}

// The display core's frame source: stored planes, or a temporary copy
// read from the file for a disk anim.
int displayFrame(lua_State *L, qxObjectRef ref, uint32_t frame, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                 int32_t *width, int32_t *height, int *temporary)
{
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, ref, &a, QX_FIND_PENDING))
        return r;
    if (frame >= a->frameCount)
        return ERR_ANIMFRAME;
    *temporary = a->disk ? 1 : 0;
    if (int r = qxGetAnimFrameBitmap(a, frame, a->disk, 0, bitmap, mask, alpha))
        return r;
    *width = int32_t(a->width), *height = int32_t(a->height);
    return 0;
}

// Output redirected into a frame (1-based) of an in-memory anim.
int selectFrame(lua_State *L, qxObjectRef ref, uint32_t frame, int prepare, qxBitMap **bitmap, qxBitMap **mask,
                qxBitMap **alpha, int32_t *width, int32_t *height)
{
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, ref, &a, prepare ? uint32_t(QX_FIND_MODIFY) : 0u))
        return r;
    if (a->disk)
        return ERR_ANIMDISK;
    if (frame < 1 || frame > a->frameCount)
        return ERR_ANIMFRAME;
    if (prepare)
        if (int r = qxPrepareAnimFrameTarget(a, frame - 1, uint32_t(prepare)))
            return r;
    if (!a->bitmaps || !a->bitmaps[frame - 1])
        return ERR_BITMAP;
    *bitmap = a->bitmaps[frame - 1];
    *mask = a->masks ? a->masks[frame - 1] : nullptr;
    *alpha = a->alphas ? a->alphas[frame - 1] : nullptr;
    *width = int32_t(a->width), *height = int32_t(a->height);
    return 0;
}

template <typename T>
T *allocArray(uint32_t count)
{
    return static_cast<T *>(qxAlloc(size_t(count ? count : 1) * sizeof(T), 1));
}

} // namespace

extern "C" {

void qxLinkAnimHooks(void)
{
    qxDisplayCoreHook.animFrame = displayFrame;
    qxSelectionHook.findAnimFrame = selectFrame;
}

int qxAddAnim(qxObjectRef *ref, uint32_t width, uint32_t height, qxBitMap **bitmaps, qxBitMap **masks,
              qxBitMap **alphas, uint32_t frameCount, uint32_t transparentColour, uint32_t loadAlpha, uint32_t disk,
              qxAnim **out)
{
    if (out)
        *out = nullptr;
    auto *a = static_cast<qxAnim *>(std::calloc(1, sizeof(qxAnim)));
    uint32_t *delays = allocArray<uint32_t>(frameCount);
    if (!a || !delays) {
        std::free(a);
        qxFree(delays);
        return ERR_MEM;
    }
    std::memset(delays, 0xFF, size_t(frameCount) * sizeof(uint32_t));
    if (ref->automatic == QX_NEW_AUTOMATIC)
        *ref = {0, a};
    a->type = QX_TYPE_ANIM;
    a->id = ref->number;
    a->automatic = ref->automatic;
    a->width = a->baseWidth = width;
    a->height = a->baseHeight = height;
    a->frameCount = frameCount;
    a->disk = disk;
    a->transparentColour = transparentColour;
    a->loadAlpha = loadAlpha;
    a->bitmaps = bitmaps, a->masks = masks, a->alphas = alphas;
    a->delays = delays;
    qxAnim **tail = &qxAnims;
    while (*tail)
        tail = &(*tail)->next;
    *tail = a;
    if (out)
        *out = a;
    return 0;
}

int qxFindAnim(lua_State *L, qxObjectRef ref, qxAnim **out, uint32_t flags)
{
    *out = nullptr;
    qxAnim *found = nullptr;
    for (qxAnim *a = qxAnims; a; a = a->next) {
        if (a->automatic != ref.automatic || a->id != ref.number)
            continue;
        if (a->pendingDeletion && !(flags & QX_FIND_PENDING))
            continue;
        found = a;
        break;
    }
    if (!found) {
        if (ref.automatic)
            return ERR_FINDARRAY;
        qxSetErrorNumber(int(ref.number));
        return ERR_FINDANIM;
    }
    if (flags & QX_FIND_MODIFY) {
        if (found->locked)
            return ERR_LOCKEDOBJ;
        if (!(flags & QX_FIND_NOCOPY)) {
            void *dup = nullptr;
            if (int r = qxCopyOnWrite(L, QX_TYPE_ANIM, ref, qxCopyAnimData, found, &dup))
                return r;
            if (dup)
                static_cast<qxAnim *>(dup)->pendingDeletion = 1;
        }
    }
    *out = found;
    return 0;
}

void qxFreeAnimRecord(lua_State *L, qxAnim *a)
{
    for (qxAnim **p = &qxAnims; *p; p = &(*p)->next)
        if (*p == a) {
            *p = a->next;
            break;
        }
    freeFramePlanes(a);
    qxCloseAnimReader(a->reader);
    qxFree(a->delays);
    std::free(a->fileName);
    if (L && a->data)
        qxFreeRefList(L, &a->data);
    std::free(a);
}

int qxFreeAnim(lua_State *L, qxObjectRef ref, int strict)
{
    if (qxIsCurrentOutputObject(QX_TYPE_ANIM, ref))
        return ERR_MODIFYAANIM;
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, ref, &a, QX_FIND_MODIFY | QX_FIND_NOCOPY))
        return (r == ERR_LOCKEDOBJ || strict) ? r : 0;
    if (qxRepointLayers(QX_TYPE_ANIM, ref, a)) {
        a->id = 0;
        a->automatic = a;
        a->pendingDeletion = 1;
        return 0;
    }
    qxFreeAnimRecord(L, a);
    return 0;
}

void qxFlushDeletedAnims(lua_State *L)
{
    for (qxAnim *a = qxAnims, *next; a; a = next) {
        next = a->next;
        if (a->pendingDeletion && !qxFindLayerUsing(QX_TYPE_ANIM, {a->id, a->automatic}, nullptr, nullptr, nullptr))
            qxFreeAnimRecord(L, a);
    }
}

int qxCopyAnimData(lua_State *L, void *record, qxObjectRef *newRef)
{
    auto *src = static_cast<qxAnim *>(record);
    const uint32_t n = src->frameCount;
    qxBitMap **bms = nullptr, **masks = nullptr, **alphas = nullptr;
    qxAnimReader *reader = nullptr;
    qxObjectDataItem *data = nullptr;
    auto fail = [&](int code) {
        for (uint32_t i = 0; i < n; i++)
            qxFreeImagePlanes(bms ? bms[i] : nullptr, masks ? masks[i] : nullptr, alphas ? alphas[i] : nullptr);
        qxFree(bms), qxFree(masks), qxFree(alphas);
        qxCloseAnimReader(reader);
        if (L && data)
            qxFreeRefList(L, &data);
        return code;
    };
    if (src->disk) {
        uint32_t w = 0, h = 0, count = 0;
        // The copy reads the file with the loader that read it first.
        const char *loaders = !src->loader                                             ? "inbuilt"
                              : src->loader == reinterpret_cast<qxPluginInfo *>(uintptr_t(1)) ? "native"
                                                                                         : src->loader->name;
        if (int r = qxOpenAnimReader(src->fileName, loaders, 0, 0, src->loadAlpha || src->loadTransparency, &reader, &w,
                                     &h, &count, nullptr, nullptr))
            return fail(r);
        reader->loadAlpha = src->loadAlpha;
    } else {
        bms = allocArray<qxBitMap *>(n);
        masks = src->masks ? allocArray<qxBitMap *>(n) : nullptr;
        alphas = src->alphas ? allocArray<qxBitMap *>(n) : nullptr;
        if (!bms || (src->masks && !masks) || (src->alphas && !alphas))
            return fail(ERR_MEM);
        for (uint32_t i = 0; i < n; i++) {
            qxBitMap *m = src->masks ? src->masks[i] : nullptr, *a = src->alphas ? src->alphas[i] : nullptr;
            if (int r = qxCopyImageRect(src->bitmaps[i], m, a, 0, 0, int32_t(src->width), int32_t(src->height), 0, 0,
                                        0, 0, &bms[i], m ? &masks[i] : nullptr, a ? &alphas[i] : nullptr))
                return fail(r);
        }
    }
    if (L && src->data)
        if (int r = qxCopyNameList(L, src->data, &data))
            return fail(r);
    char *name = src->fileName ? strdup(src->fileName) : nullptr;
    if (src->fileName && !name)
        return fail(ERR_MEM);
    qxAnim *copy = nullptr;
    if (int r = qxAddAnim(newRef, src->baseWidth, src->baseHeight, bms, masks, alphas, n, src->transparentColour,
                          src->loadAlpha, src->disk, &copy)) {
        std::free(name);
        return fail(r);
    }
    copy->width = src->width, copy->height = src->height;
    copy->smooth = src->smooth;
    copy->reader = reader;
    copy->fileName = name;
    copy->loader = src->loader;
    std::memcpy(copy->adapter, src->adapter, sizeof copy->adapter);
    copy->loadTransparency = src->loadTransparency;
    std::memcpy(copy->delays, src->delays, size_t(n) * sizeof(uint32_t));
    copy->data = data;
    return 0;
}

int qxAnimPlanesFromARGB(const uint32_t *pixels, uint32_t width, uint32_t height, uint32_t transparentColour,
                         int alpha, int transparencyMask, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alphaOut)
{
    *bitmap = *mask = *alphaOut = nullptr;
    if (int r = qxBitMapFromARGB(pixels, transparencyMask ? 0xFFFFFFFFu : transparentColour, int32_t(width),
                                 int32_t(height), int32_t(width), 0, alpha ? 8 : 0, nullptr, bitmap, mask, alphaOut))
        return r;
    if (transparencyMask) {
        // The frame's transparent pen arrives as alpha 0.
        qxBitMap *m = qxAllocMaskBitMap(*bitmap, width, height, 1, nullptr, 0);
        qxPlane p = qxPlaneOf(m);
        if (!p.bytes) {
            if (m)
                qxFreeMaskBitMap(m);
            qxFreeImagePlanes(*bitmap, nullptr, *alphaOut);
            *bitmap = *alphaOut = nullptr;
            return ERR_ALLOCMASK;
        }
        for (uint32_t y = 0; y < height; y++)
            for (uint32_t x = 0; x < width; x++)
                qxSetMaskBit(p.bytes + int64_t(y) * p.bytesPerRow, x, (pixels[size_t(y) * width + x] >> 24) != 0);
        *mask = m;
    }
    return 0;
}

int qxPrepareAnimFrameTarget(qxAnim *a, uint32_t frame, uint32_t target)
{
    if ((target != QX_OUT_MASK && target != QX_OUT_ALPHA) || a->disk)
        return 0;
    if (frame >= a->frameCount || !a->bitmaps || !a->bitmaps[frame])
        return ERR_BITMAP;
    // A frame's plane lives in the anim's list, made when the first comes.
    qxBitMap ***list = target == QX_OUT_MASK ? &a->masks : &a->alphas;
    if (!*list && !(*list = allocArray<qxBitMap *>(a->frameCount)))
        return target == QX_OUT_MASK ? ERR_ALLOCMASK : ERR_ALLOCALPHA;
    qxBitMap *none = nullptr;
    return qxPrepareTargetPlane(target, a->bitmaps[frame], int32_t(a->width), int32_t(a->height),
                                a->masks ? &a->masks[frame] : &none, a->alphas ? &a->alphas[frame] : &none);
}

int qxGetAnimFrameBitmap(qxAnim *a, uint32_t frame, int copy, int unscaled, qxBitMap **bitmap, qxBitMap **mask,
                         qxBitMap **alpha)
{
    *bitmap = *mask = *alpha = nullptr;
    if (frame >= a->frameCount)
        return ERR_ANIMFRAME;
    if (!a->disk) {
        qxBitMap *bm = a->bitmaps ? a->bitmaps[frame] : nullptr;
        qxBitMap *m = a->masks ? a->masks[frame] : nullptr, *al = a->alphas ? a->alphas[frame] : nullptr;
        if (!bm)
            return ERR_BITMAP;
        if (!copy) {
            *bitmap = bm, *mask = m, *alpha = al;
            return 0;
        }
        return qxCopyImageRect(bm, m, al, 0, 0, int32_t(a->width), int32_t(a->height), 0, 0, 0, 0, bitmap,
                               m ? mask : nullptr, al ? alpha : nullptr);
    }
    uint32_t seen = 0;
    uint32_t *pixels = qxAnimReaderFrame(a->reader, int32_t(frame), 0, &seen);
    if (!pixels)
        return ERR_LOADFRAME;
    if (a->loadTransparency && !seen) {
        qxAnimReaderFreeFrame(a->reader, pixels);
        qxSetErrorString(a->fileName ? a->fileName : "");
        return ERR_NOTRANSPARENCY;
    }
    qxBitMap *bm = nullptr, *m = nullptr, *al = nullptr;
    int r = qxAnimPlanesFromARGB(pixels, a->baseWidth, a->baseHeight, a->transparentColour, a->loadAlpha != 0,
                                 a->loadTransparency != 0, &bm, &m, &al);
    qxAnimReaderFreeFrame(a->reader, pixels);
    if (r)
        return r;
    if (!unscaled && (a->width != a->baseWidth || a->height != a->baseHeight)) {
        qxBitMap *sb = nullptr, *sm = nullptr, *sa = nullptr;
        r = qxScalePixels(bm, m, al, 0, 0, nullptr, int32_t(a->baseWidth), int32_t(a->baseHeight),
                          int32_t(a->width), int32_t(a->height), a->smooth, 0, &sb, m ? &sm : nullptr,
                          al ? &sa : nullptr);
        qxFreeImagePlanes(bm, m, al);
        if (r)
            return r;
        bm = sb, m = sm, al = sa;
    }
    *bitmap = bm, *mask = m, *alpha = al;
    return 0;
}

uint32_t qxGetAnimFrameDelay(qxAnim *a, uint32_t frame)
{
    if (frame >= a->frameCount)
        return 0;
    if (a->delays && a->delays[frame] != 0xFFFFFFFFu)
        return a->delays[frame];
    return a->disk ? qxAnimReaderDelay(a->reader, int32_t(frame)) : 0;
}
}

int qxRealizeAnims(void)
{
    if (qxScreenPixelFormat < 0) return 0;
    for (qxAnim *a = qxAnims; a; a = a->next) {
        if (a->disk || !a->bitmaps) continue;
        for (uint32_t i = 0; i < a->frameCount; i++) {
            qxBitMap *old = a->bitmaps[i];
            if (!old || old->video || int(qxGetBitMapAttr(old, 21)) == qxScreenPixelFormat) continue;
            const int32_t w = int32_t(old->width), h = int32_t(old->height);
            uint32_t synced = 0, *pixels = nullptr;
            if (int r = qxReadBitmapPixels(old, 0, 0, w, h, &synced, &pixels)) return r;
            qxBitMap *made = nullptr;
            int r = qxBitMapFromARGB(pixels, 0xFFFFFFFFu, w, h, w, 0, 0, nullptr, &made, nullptr, nullptr);
            delete[] pixels;
            if (r) return r;
            qxFreeBitMap(old);
            a->bitmaps[i] = made;
        }
    }
    return 0;
}
