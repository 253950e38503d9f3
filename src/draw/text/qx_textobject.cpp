// Text objects: text rendered once into an image that can be shown again.
#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/commands/qx_objreg.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_gfxgeom.h"
#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"
#include "layers/qx_layer.h"
#include "objects/qx_displayopts.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

static_assert(offsetof(qxTextObject, next) == offsetof(qxObjectHeader, next) &&
              offsetof(qxTextObject, data) == offsetof(qxObjectHeader, data));

namespace {

qxTextObject *head;

void freeRecord(lua_State *L, qxTextObject *o)
{
    qxFreeRefList(L, &o->data);
    qxFreeBitMap(o->image);
    qxFreeMaskBitMap(o->mask);
    qxFreeAlphaBitMap(o->alpha);
    qxFree(const_cast<char *>(o->request.text));
    qxFree(o->breakCopy);
    qxFree(o);
}

// A copy of count entries, or null for none.
int32_t *copyBreaks(const int32_t *from, int32_t count)
{
    if (!from || count <= 0) return nullptr;
    auto *to = static_cast<int32_t *>(qxAlloc(size_t(count) * sizeof(int32_t), 0));
    if (to) std::memcpy(to, from, size_t(count) * sizeof(int32_t));
    return to;
}

void append(qxTextObject *o)
{
    qxTextObject **tail = &head;
    while (*tail) tail = &(*tail)->next;
    *tail = o;
}

void unlink(qxTextObject *o)
{
    for (qxTextObject **p = &head; *p; p = &(*p)->next)
        if (*p == o) {
            *p = o->next;
            return;
        }
}

qxTextObject *byNumber(uint32_t number)
{
    for (qxTextObject *o = head; o; o = o->next)
        if (o->number == number && !o->released) return o;
    return nullptr;
}

// The object a new one of that number will replace; a locked one stops.
// It is freed only once the new one exists, so a failure keeps it.
int replacedBy(uint32_t number, qxTextObject **old)
{
    *old = number ? byNumber(number) : nullptr;
    return *old && (*old)->locked ? ERR_LOCKEDOBJ : 0;
}

qxObjectRef refOf(const qxTextObject *o)
{
    return o->automatic ? qxObjectRef{0, const_cast<qxTextObject *>(o)} : qxObjectRef{o->number, nullptr};
}


} // namespace

extern "C" {

char *qxCopyTextBytes(const char *text, size_t length)
{
    size_t bytes;
    if (!qxAddSize(length, 1, &bytes)) return nullptr;
    auto *t = static_cast<char *>(qxAlloc(bytes, 0));
    if (!t) return nullptr;
    if (length) memcpy(t, text, length);
    t[length] = 0;
    return t;
}

int qxFindTextObject(lua_State *L, uint32_t number, void *automatic, uint32_t flags, qxTextObject **out)
{
    qxTextObject *found = nullptr;
    for (qxTextObject *o = head; o && !found; o = o->next) {
        if (o->released && !(flags & 2)) continue;
        if (automatic ? o == automatic : (o->number == number && !o->automatic)) found = o;
    }
    if (!found) {
        if (automatic) return ERR_FINDARRAY;
        qxSetErrorNumber(int(number));
        return ERR_FINDTEXTOBJECT;
    }
    if ((flags & 1) && found->locked) return ERR_LOCKEDOBJ;
    // Copy-on-write: layers showing the object keep a released copy.
    const qxObjectRef ref = refOf(found);
    if ((flags & 1) && !(flags & 4) && qxFindLayerShowing(QX_TYPE_TEXTOBJECT, ref, nullptr, nullptr, nullptr)) {
        qxTextObject *copy = nullptr;
        if (int r = qxCopyTextObject(L, found, 0, &copy)) return r;
        copy->released = 1;
        qxRepointObjectLayers(QX_TYPE_TEXTOBJECT, ref, copy);
    }
    *out = found;
    return 0;
}

int qxTextImagePlanes(const qxTextImage &im, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha)
{
    *mask = *alpha = nullptr;
    qxBitMap *a = nullptr;
    if (int r = qxBitMapFromARGB(im.pixels, 0xFFFFFFFFu, im.width, im.height, im.width, 0, 8, nullptr, bitmap,
                                 nullptr, &a))
        return r;
    if (im.needsAlpha) {
        *alpha = a;
        return 0;
    }
    *mask = qxAllocMaskBitMap(*bitmap, uint32_t(im.width), uint32_t(im.height), 1, nullptr, 0);
    if (*mask) qxAlphaToMask(a, 0, 0, *mask, 0, 0, im.width, im.height, 0);
    qxFreeAlphaBitMap(a);
    if (*mask) return 0;
    qxFreeBitMap(*bitmap);
    *bitmap = nullptr;
    return ERR_ALLOCMASK;
}

int qxCreateTextObject(uint32_t number, const qxTextRequest *request, lua_State *L, qxTextObject **out)
{
    qxTextObject *old;
    if (int r = replacedBy(number, &old)) return r;
    qxTextImage im;
    if (int r = qxLayoutTextL(L, request, &im)) return r;
    auto *o = static_cast<qxTextObject *>(qxAlloc(sizeof(qxTextObject), 1));
    char *text = o ? qxCopyTextBytes(request->text, request->length) : nullptr;
    int r = o && text ? 0 : ERR_MEM;
    if (!r)
        r = qxTextImagePlanes(im, &o->image, &o->mask, &o->alpha);
    const bool given = request->breakCount > 0;
    const int32_t breakCount = given ? request->breakCount : im.breakCount;
    int32_t *breaks = r ? nullptr : copyBreaks(given ? request->breaks : im.breaks, breakCount);
    if (!r && breakCount > 0 && !breaks) r = ERR_MEM;
    qxFreeTextImage(&im);
    if (r) {
        if (o) qxFreeImagePlanes(o->image, o->mask, o->alpha);
        qxFree(text);
        qxFree(o);
        return r;
    }
    o->type = QX_TYPE_TEXTOBJECT;
    o->number = number;
    o->automatic = number ? 0 : uint64_t(uintptr_t(o));
    o->request = *request;
    o->request.text = text;
    o->breakCopy = breaks;
    o->request.breaks = breaks, o->request.breakCount = breaks ? breakCount : 0;
    o->request.breaksKept = !given && o->request.breakCount > 0;
    o->request.tabPicks = nullptr, o->request.tabPickCount = 0;
    o->width = o->baseWidth = im.width;
    o->height = o->baseHeight = im.height;
    o->originX = im.originX, o->originY = im.originY;
    if (old) qxFreeTextObject(L, old);
    append(o);
    *out = o;
    return 0;
}

int qxCopyTextObject(lua_State *L, qxTextObject *source, uint32_t number, qxTextObject **out)
{
    if (number && number == source->number) return ERR_WRONGUSAGE;
    qxTextObject *old;
    if (int r = replacedBy(number, &old)) return r;
    auto *o = static_cast<qxTextObject *>(qxAlloc(sizeof(qxTextObject), 1));
    char *text = o ? qxCopyTextBytes(source->request.text, source->request.length) : nullptr;
    int r = o && text ? 0 : ERR_MEM;
    if (!r)
        r = qxCopyImageRect(source->image, source->mask, source->alpha, 0, 0, source->width, source->height, 0, 0, 0,
                            0, &o->image, source->mask ? &o->mask : nullptr, source->alpha ? &o->alpha : nullptr);
    int32_t *breaks = r ? nullptr : copyBreaks(source->breakCopy, source->request.breakCount);
    if (!r && source->breakCopy && !breaks) r = ERR_MEM;
    qxObjectDataItem *data = nullptr;
    if (!r) r = qxCopyNameList(L, source->data, &data);
    if (r) {
        qxFreeBitMap(o ? o->image : nullptr);
        qxFreeMaskBitMap(o ? o->mask : nullptr);
        qxFreeAlphaBitMap(o ? o->alpha : nullptr);
        qxFree(breaks);
        qxFree(text);
        qxFree(o);
        return r;
    }
    const qxTextObject keep = *o;
    *o = *source;
    o->image = keep.image, o->mask = keep.mask, o->alpha = keep.alpha;
    o->request.text = text;
    o->breakCopy = breaks, o->request.breaks = breaks;
    o->next = nullptr;
    o->number = number;
    o->automatic = number ? 0 : uint64_t(uintptr_t(o));
    o->locked = o->released = 0;
    o->data = data;
    if (old) qxFreeTextObject(L, old);
    append(o);
    *out = o;
    return 0;
}

// The list of text objects, for the registry of object lists.
void *qxTextObjectList(void)
{
    return &head;
}

int qxFreeTextObject(lua_State *L, qxTextObject *o)
{
    // A layer still showing it keeps it, detached from its number.
    const qxObjectRef ref = refOf(o);
    if (!o->released && qxFindLayerShowing(QX_TYPE_TEXTOBJECT, ref, nullptr, nullptr, nullptr)) {
        o->number = 0;
        o->automatic = uint64_t(uintptr_t(o));
        o->released = 1;
        qxRepointObjectLayers(QX_TYPE_TEXTOBJECT, ref, o);
        return 0;
    }
    unlink(o);
    freeRecord(L, o);
    return 0;
}

void qxFreeDetachedTextObjects(lua_State *L)
{
    for (qxTextObject *o = head; o;) {
        qxTextObject *next = o->next;
        if (o->released && !qxFindLayerShowing(QX_TYPE_TEXTOBJECT, refOf(o), nullptr, nullptr, nullptr)) {
            unlink(o);
            freeRecord(L, o);
        }
        o = next;
    }
}

void qxFreeAllTextObjects(lua_State *L)
{
    while (head) {
        qxTextObject *next = head->next;
        freeRecord(L, head);
        head = next;
    }
}
}

extern "C" int qxRerenderTextObject(lua_State *L, qxTextObject *o)
{
    const double sx = o->targetWidth > 0 ? double(o->targetWidth) / o->baseWidth : 1.0;
    const double sy = o->targetHeight > 0 ? double(o->targetHeight) / o->baseHeight : 1.0;
    qxTextRequest rq = o->request;
    qxFontHandle *font = rq.block.font;
    const bool scalable = font && font->scalable;
    // A scalable font renders at the size itself; its margins grow alike.
    if (scalable && (sx != 1.0 || sy != 1.0)) {
        rq.wrap = int32_t(std::lrint(rq.wrap * sx));
        rq.block.shadowSize = int32_t(std::lrint(rq.block.shadowSize * sx));
        rq.block.edgeSize = int32_t(std::lrint(rq.block.edgeSize * sx));
        qxClampTextStyle(&rq.block);
        qxFontSetScale(font, sx, sy);
    }
    qxTextImage im;
    int r = qxLayoutTextL(L, &rq, &im);
    if (scalable) qxFontSetScale(font, 1.0, 1.0);
    if (r) return r;
    qxBitMap *bm = nullptr, *alpha = nullptr, *mask = nullptr;
    r = qxTextImagePlanes(im, &bm, &mask, &alpha);
    int32_t w = im.width, h = im.height;
    qxFreeTextImage(&im);
    if (r) return r;
    const double angle = std::fmod(o->angle, 360.0);
    const double fx = scalable ? 1.0 : sx, fy = scalable ? 1.0 : sy;
    if (angle != 0.0 || fx != 1.0 || fy != 1.0) {
        double m[4];
        qxSetupTransform(m, 0, 0, w, h, fx, fy, angle);
        qxBitMap *tb = nullptr, *tm = nullptr, *ta = nullptr;
        int32_t tw = 0, th = 0;
        r = qxTransformImage(L, 0, nullptr, bm, mask, alpha, 0, 0, w, h, 0.0, 0.0, m,
                             (o->request.block.style & QX_TS_ANTIALIAS) ? 1 : 0, &tb, &tm, &ta, nullptr, nullptr, &tw,
                             &th);
        qxFreeBitMap(bm);
        qxFreeMaskBitMap(mask);
        qxFreeAlphaBitMap(alpha);
        if (r) return r;
        bm = tb, mask = tm, alpha = ta, w = tw, h = th;
    }
    qxFreeBitMap(o->image);
    qxFreeMaskBitMap(o->mask);
    qxFreeAlphaBitMap(o->alpha);
    o->image = bm, o->mask = mask, o->alpha = alpha;
    o->width = w, o->height = h;
    if (angle == 0.0) o->originX = im.originX, o->originY = im.originY;
    else o->originX = o->originY = 0;
    return 0;
}
