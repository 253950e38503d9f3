// The brush services of the plug-ins' graphics host table.
#include "objects/qx_brushhost.h"

#include <cmath>

#include "core/commands/qx_commands.h"
#include "display/qx_bitmapdraw.h"
#include "imaging/qx_scale.h"
#include "objects/qx_brush.h"
#include "platform/qx_memory.h"
#include "platform/x11/x11_display.h"

namespace {

const qxTagItem *findTag(const qxTagItem *tags, uint32_t tag)
{
    for (; tags && tags->tag; ++tags)
        if (tags->tag == tag)
            return tags;
    return nullptr;
}

// Stores value where the tag's pointer points, when the caller gave one.
void answerTag(const qxTagItem *tags, uint32_t tag, uint32_t value)
{
    if (const qxTagItem *t = findTag(tags, tag); t && t->data)
        *reinterpret_cast<uint32_t *>(t->data) = value;
}

// Slot 4: locks the brush's image; the plane pointers come unlocked (ours
// are plain memory). The lock is freed by slot 5.
qxBitMapLock *lockBrush(const qxObjectRef *ref, const qxTagItem *tags, qxHostBrushLock *out)
{
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    uint32_t width = 0, height = 0;
    if (!ref || !qxGetBrushBitmaps(nullptr, *ref, &bitmap, &mask, &alpha, &width, &height) || !bitmap)
        return nullptr;
    auto *lock = static_cast<qxBitMapLock *>(qxAlloc(sizeof(qxBitMapLock), 1));
    if (!lock)
        return nullptr;
    const qxTagItem *read = findTag(tags, 1);
    if (!qxLockBitMap(bitmap, read && read->data ? 1 : 0, lock)) {
        qxFree(lock);
        return nullptr;
    }
    if (out) {
        *out = {};
        out->pixels = lock->pixels;
        out->pixelsPerRow = lock->pixelsPerRow;
        if (alpha) {
            out->alpha = reinterpret_cast<void *>(uintptr_t(qxGetBitMapAttr(alpha, 3)));
            out->alphaBytesPerRow = uint32_t(qxGetBitMapAttr(alpha, 1));
        }
        if (mask) {
            out->mask = reinterpret_cast<void *>(uintptr_t(qxGetBitMapAttr(mask, 4)));
            out->maskBytesPerRow = uint32_t(qxGetBitMapAttr(mask, 2));
        }
        out->pixelFormat = lock->pixelFormat;
        out->bytesPerPixel = lock->bytesPerPixel;
        out->width = width;
        out->height = height;
    }
    return lock;
}

void unlockBrush(qxBitMapLock *lock)
{
    if (!lock)
        return;
    qxUnLockBitMap(lock);
    qxFree(lock);
}

// Slot 6: an ARGB copy with the mask or alpha channel in the alpha byte;
// tag 4 flag 1 scales it by the system scale factor (smoothly with flag 2).
uint32_t *brushARGB(const qxObjectRef *ref, const qxTagItem *tags)
{
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    uint32_t width = 0, height = 0;
    if (!ref || !qxGetBrushBitmaps(nullptr, *ref, &bitmap, &mask, &alpha, &width, &height) || !bitmap)
        return nullptr;
    uint32_t *pixels =
        qxBitMapToARGBMasked(bitmap, 0, 0, int32_t(width), int32_t(height), mask, alpha, 0xFFFFFFFFu, 1, 0);
    if (!pixels)
        return nullptr;
    const qxTagItem *flagTag = findTag(tags, 4);
    const uintptr_t flags = flagTag ? flagTag->data : 0;
    if (flags & 1) {
        double factor = 1.0;
        qxGetScaleFactor(&factor);
        const double w = std::trunc(width * factor), h = std::trunc(height * factor);
        // A size that no buffer can hold fails instead of wrapping.
        if (!(w >= 1 && h >= 1 && w * h <= double(INT32_MAX) / 4)) {
            qxFree(pixels);
            return nullptr;
        }
        if (uint32_t(w) != width || uint32_t(h) != height) {
            auto *scaled = static_cast<uint32_t *>(qxConvertPixelBuffer(
                pixels, 0, 0, int32_t(width), int32_t(height), nullptr, 0, 0, int32_t(w), int32_t(h),
                int32_t(width), int32_t(w), 10, (flags & 2) ? 1 : 0));
            qxFree(pixels);
            if (!scaled)
                return nullptr;
            pixels = scaled;
            width = uint32_t(w), height = uint32_t(h);
        }
    }
    answerTag(tags, 1, width);
    answerTag(tags, 2, height);
    answerTag(tags, 3, !mask && !alpha ? 1 : 0);
    return pixels;
}

void freeARGB(void *pixels)
{
    qxFree(pixels);
}

int brushFromLayer(lua_State *L, qxObjectRef *ref, uint32_t width, uint32_t height, const qxBrushPixelRecord *record)
{
    return qxBrushFromLayer(L, ref, width, height, record);
}

int freeBrush(lua_State *L, const qxObjectRef *ref)
{
    if (!ref)
        return 0;
    return qxFreeBrush(L, *ref, 1);
}

void *hardwareHandle(qxObjectRef *ref, void *handle)
{
    return ref ? qxHardwareBrushHandle(ref, handle) : nullptr;
}

} // namespace

extern "C" void qxInstallBrushHostSlots(qxHostFunc *g)
{
    g[4] = reinterpret_cast<qxHostFunc>(lockBrush);
    g[5] = reinterpret_cast<qxHostFunc>(unlockBrush);
    g[6] = reinterpret_cast<qxHostFunc>(brushARGB);
    g[7] = reinterpret_cast<qxHostFunc>(freeARGB);
    g[12] = reinterpret_cast<qxHostFunc>(brushFromLayer);
    g[29] = reinterpret_cast<qxHostFunc>(freeBrush);
    g[30] = reinterpret_cast<qxHostFunc>(hardwareHandle);
}
