// The brush list: lookup with find flags, adding, freeing and flushing.
#include "objects/qx_brush.h"

#include <algorithm>

#include <cstdlib>

#include "objects/qx_objectuse.h"
#include "objects/qx_selection.h"
#include "display/qx_adapter.h"
#include "display/qx_bitmaptransform.h"
#include "objects/qx_picsource.h"
#include "platform/qx_hooks.h"
#include "objects/qx_brushinternal.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

extern "C" {
qxBrush *qxBrushes;
}

extern "C" {

int qxFindBrush(lua_State *L, qxObjectRef ref, qxBrush **out, uint32_t flags)
{
    *out = nullptr;
    qxBrush *found = nullptr;
    for (qxBrush *b = qxBrushes; b; b = b->next) {
        if (b->automatic != ref.automatic || b->id != ref.number)
            continue;
        if ((flags & QX_FIND_NOVECTOR) && b->kind == QX_BRUSH_VECTOR)
            return ERR_BRUSHTYPE;
        if (!(flags & QX_FIND_HARDWARE) && b->hardware)
            return ERR_HWBRUSH;
        if (b->pendingDeletion && !(flags & QX_FIND_PENDING))
            continue;
        found = b;
        break;
    }
    if (!found) {
        if (ref.automatic)
            return ERR_FINDARRAY;
        qxSetErrorNumber((int)ref.number);
        return ERR_FINDBRUSH;
    }
    if (flags & QX_FIND_MODIFY) {
        if (found->locked)
            return ERR_LOCKEDOBJ;
        if (!(flags & QX_FIND_NOCOPY)) {
            void *dup = nullptr;
            if (int r = qxCopyOnWrite(L, QX_TYPE_BRUSH, ref, qxCopyBrushCallback, found, &dup))
                return r;
            if (dup)
                static_cast<qxBrush *>(dup)->pendingDeletion = 1;
        }
    }
    *out = found;
    return 0;
}

int qxAddBrush(qxObjectRef *ref, uint32_t kind, uint32_t width, uint32_t height, uint32_t pitch, uint32_t scaled,
               qxPicSource *source, qxBitMap *bitmap, uint32_t transparentColour, qxBitMap *mask, qxBitMap *alpha,
               const qxObjectRef *hardwareDisplay, qxBrush **out)
{
    if (out)
        *out = nullptr;
    auto *b = static_cast<qxBrush *>(std::calloc(1, sizeof(qxBrush)));
    if (!b)
        return ERR_MEM;
    if (ref->automatic == QX_NEW_AUTOMATIC)
        *ref = {0, b};
    b->type = QX_TYPE_BRUSH;
    b->id = ref->number;
    b->automatic = ref->automatic;
    b->kind = kind;
    b->width = width;
    b->height = height;
    b->pitch = pitch;
    b->scaled = scaled;
    b->source = source;
    b->bitmap = bitmap;
    b->mask = mask;
    b->alpha = alpha;
    b->transparentColour = transparentColour;
    if (hardwareDisplay)
        b->hardwareDisplay = *hardwareDisplay;
    qxBrush **tail = &qxBrushes;
    while (*tail)
        tail = &(*tail)->next;
    *tail = b;
    if (out)
        *out = b;
    return 0;
}

int qxCopyBrushCallback(lua_State *L, void *brush, qxObjectRef *newRef)
{
    return qxCopyBrush(L, static_cast<qxBrush *>(brush), newRef, 0, 0, nullptr);
}

int qxCopyBrush(lua_State *L, qxBrush *brush, qxObjectRef *newRef, int hardware, int smooth,
                const qxObjectRef *display)
{
    const bool hw = hardware && qxPlatformHasCap(8);
    // The copy's display: the one named, else the source's.
    const qxObjectRef *displayRef = display ? display : &brush->hardwareDisplay;
    qxDisplay *target = nullptr;
    if (hw && brush->bitmap) {
        if (!display && brush->hardware && brush->display)
            target = brush->display;
        else if (int r = qxGetHardwareBitMapDisplay(displayRef, &target))
            return r;
    }
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    if (brush->bitmap) {
        const uint64_t sourceTag = brush->hardware && brush->display ? uint64_t(uintptr_t(brush->display->window)) : 0;
        const uint64_t targetTag = target ? uint64_t(uintptr_t(target->window)) : 0;
        if (int r = qxCopyImageRect(brush->bitmap, brush->mask, brush->alpha, 0, 0, int32_t(brush->width),
                                    int32_t(brush->height), hw, 0, sourceTag, targetTag, &bm,
                                    brush->mask ? &m : nullptr, brush->alpha ? &a : nullptr))
            return r;
    } else if (brush->alpha) {
        // Not realised yet: the alpha plane still covers the whole picture.
        a = qxCopyAlphaBitMap(brush->alpha, brush->alpha->width, brush->alpha->height);
        if (!a)
            return ERR_ALLOCALPHA;
    }
    auto release = [&](int code) {
        qxFreeImagePlanes(bm, m, a);
        return code;
    };
    qxObjectDataItem *data = nullptr;
    if (L && brush->data)
        if (int r = qxCopyNameList(L, brush->data, &data))
            return release(r);
    uint32_t kind = brush->kind;
    qxPicSource *source = brush->source;
    const bool video = bm && bm->video;
    if (hw && video && kind == QX_BRUSH_VECTOR)
        kind = QX_BRUSH_PIXELS, source = nullptr;
    qxBrush *copy = nullptr;
    if (int r = qxAddBrush(newRef, kind, brush->width, brush->height, brush->pitch, brush->scaled, source, bm,
                           brush->transparentColour, m, a, displayRef, &copy)) {
        if (L)
            qxFreeRefList(L, &data);
        return release(r);
    }
    if (source)
        qxPicSourceRetain(source);
    copy->data = data;
    copy->smooth = smooth != 0;
    copy->loader = brush->loader;
    copy->cropX = brush->cropX, copy->cropY = brush->cropY;
    copy->cropWidth = brush->cropWidth, copy->cropHeight = brush->cropHeight;
    copy->globalAlpha = brush->globalAlpha;
    copy->hasRenderMatrix = brush->hasRenderMatrix;
    std::copy(brush->renderMatrix, brush->renderMatrix + 4, copy->renderMatrix);
    if (video) {
        copy->hardware = 1;
        copy->display = target ? target : brush->display;
        copy->hardwareFlags = brush->hardware ? brush->hardwareFlags
                                              : (brush->mask ? QX_HWBRUSH_MASK : 0) | (brush->alpha ? QX_HWBRUSH_ALPHA : 0);
    }
    return 0;
}

int qxVectorBrushMatrix(const qxBrush *b, double m[4], uint32_t *nw, uint32_t *nh)
{
    *nw = *nh = 0;
    if (b->source)
        qxPicSourceSize(b->source, nw, nh);
    if (!*nw || !*nh)
        return 0;
    if (b->hasRenderMatrix)
        std::copy(b->renderMatrix, b->renderMatrix + 4, m);
    else
        m[0] = double(b->width) / *nw, m[1] = m[2] = 0, m[3] = double(b->height) / *nh;
    return 1;
}

void qxComposeMatrix(const double a[4], const double b[4], double m[4])
{
    const double r[4] = {a[0] * b[0] + a[2] * b[1], a[1] * b[0] + a[3] * b[1], a[0] * b[2] + a[2] * b[3],
                         a[1] * b[2] + a[3] * b[3]};
    std::copy(r, r + 4, m);
}

void qxFreeBrushData(lua_State *L, qxBrush *b)
{
    if (b->source)
        qxPicSourceRelease(b->source);
    qxFreeBitMap(b->bitmap);
    if (b->mask)
        qxFreeMaskBitMap(b->mask);
    if (b->alpha)
        qxFreeAlphaBitMap(b->alpha);
    qxFree(b->pixelBackup);
    if (L && b->data)
        qxFreeRefList(L, &b->data);
    b->source = nullptr;
    b->bitmap = b->mask = b->alpha = nullptr;
    b->pixelBackup = nullptr;
}

void qxUnlinkBrushRecord(lua_State *L, qxBrush *brush)
{
    for (qxBrush **p = &qxBrushes; *p; p = &(*p)->next)
        if (*p == brush) {
            *p = brush->next;
            break;
        }
    qxFreeBrushData(L, brush);
    std::free(brush);
}

int qxFreeBrush(lua_State *L, qxObjectRef ref, int strict)
{
    if (qxIsSelectedObject(QX_TYPE_BRUSH, ref))
        return ERR_MODIFYABR;
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, ref, &b, QX_FIND_MODIFY | QX_FIND_NOCOPY | QX_FIND_HARDWARE))
        return (r == ERR_LOCKEDOBJ || strict) ? r : 0;
    if (qxRepointLayers(QX_TYPE_BRUSH, ref, b)) {
        b->id = 0;
        b->automatic = b;
        b->pendingDeletion = 1;
        return 0;
    }
    qxUnlinkBrushRecord(L, b);
    return 0;
}

void qxFlushDeletedBrushes(lua_State *L)
{
    for (qxBrush *b = qxBrushes, *next; b; b = next) {
        next = b->next;
        if (b->pendingDeletion && !qxFindLayerUsing(QX_TYPE_BRUSH, {b->id, b->automatic}, nullptr, nullptr, nullptr)) {
            qxUnlinkBrushRecord(L, b);
        }
    }
}

void qxFreeAllBrushes(lua_State *L)
{
    while (qxBrushes) {
        qxBrush *b = qxBrushes;
        qxBrushes = b->next;
        qxFreeBrushData(L, b);
        std::free(b);
    }
}
}
