// The application icon set built at start-up from the applet's icon slots,
// and the icon services of the plug-in host table (graphics slots 14, 15
// and 32 to 34).
#include "objects/qx_appicon.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/applet/qx_appicon.h"
#include "core/commands/qx_commands.h"
#include "core/files/qx_file.h"
#include "display/qx_bitmapplanes.h"
#include "imaging/qx_pixelformat.h"
#include "imaging/qx_scale.h"
#include "objects/qx_icon.h"
#include "objects/qx_picsource.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/x11/x11_display.h"

extern "C" {
qxIconNode *qxAppIcons;
}

namespace {

// Node of x11's list layout, so that one free function serves both.
qxIconNode *newNode(const uint32_t *pixels, uint32_t w, uint32_t h, uint32_t flags)
{
    auto *n = static_cast<qxIconNode *>(std::calloc(1, sizeof(qxIconNode)));
    auto *copy = static_cast<uint32_t *>(std::malloc(size_t(w) * h * 4));
    if (!n || !copy) {
        std::free(n), std::free(copy);
        return nullptr;
    }
    std::memcpy(copy, pixels, size_t(w) * h * 4);
    n->pixels = copy, n->width = w, n->height = h, n->flags = flags;
    return n;
}

// A slot's picture as ARGB of exactly the slot's size; alpha 255 without
// an alpha channel.
int slotPixels(const qxIconSlot &slot, uint32_t **out)
{
    qxPicSource *source = nullptr;
    qxBitMap *alpha = nullptr;
    uint32_t w = 0, h = 0, pitch = 0, hasAlpha = 0, scalable = 0, transparent = 0xFFFFFFFFu;
    int r = qxOpenImage(slot.path, nullptr, nullptr, nullptr, 0xFFFFFFFFu, 0, 1, 0, 0, 0, 0, &source,
                        reinterpret_cast<void **>(&alpha), nullptr, &transparent, &w, &h, &pitch, &hasAlpha,
                        &scalable, nullptr);
    if (r == ERR_NOALPHA)
        r = qxOpenImage(slot.path, nullptr, nullptr, nullptr, 0xFFFFFFFFu, 0, 0, 0, 0, 0, 0, &source, nullptr,
                        nullptr, &transparent, &w, &h, &pitch, &hasAlpha, &scalable, nullptr);
    if (r)
        return r;
    const uint32_t *pixels = qxPicSourceBitMap(source);
    if (w != slot.width || h != slot.height || !pixels) {
        if (alpha)
            qxFreeAlphaBitMap(alpha);
        qxPicSourceRelease(source);
        char size[32];
        std::snprintf(size, sizeof size, "%ux%u", slot.width, slot.height);
        qxSetErrorString(size);
        return pixels ? ERR_ICONDIMS : ERR_BITMAP;
    }
    qxPlane a = qxPlaneOf(alpha);
    *out = static_cast<uint32_t *>(std::malloc(size_t(w) * h * 4));
    if (*out)
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++) {
                const bool inside = a.bytes && int32_t(x) < a.width && int32_t(y) < a.height;
                (*out)[size_t(y) * w + x] = (pixels[size_t(y) * (pitch / 4) + x] & 0xFFFFFF) |
                                            uint32_t(inside ? a.bytes[int64_t(y) * a.bytesPerRow + x] : 255) << 24;
            }
    if (alpha)
        qxFreeAlphaBitMap(alpha);
    qxPicSourceRelease(source);
    return *out ? 0 : ERR_MEM;
}

// Slot 14: the platform's window icons, then the application's icons of
// sizes and kinds the platform list lacks.
qxIconNode *hostAppIcons(void)
{
    qxIconNode *head = x11ApplyIcons(nullptr), **tail = &head;
    while (*tail)
        tail = &(*tail)->next;
    for (const qxIconNode *a = qxAppIcons; a; a = a->next) {
        bool present = false;
        for (const qxIconNode *p = head; p; p = p->next)
            present |= p->width == a->width && p->height == a->height && ((p->flags ^ a->flags) & 2) == 0;
        if (present)
            continue;
        qxIconNode *n = newNode(a->pixels, a->width, a->height, a->flags);
        if (!n) {
            qxFreeIconList(head);
            return nullptr;
        }
        *tail = n, tail = &n->next;
    }
    return head;
}

// A picture source rendered at a size into a packed copy (malloc'd, so
// that the icon lists free it like any node's pixels); null on failure.
uint32_t *renderSource(qxPicSource *source, uint32_t baseWidth, uint32_t baseHeight, uint32_t w, uint32_t h)
{
    if (!source || !baseWidth || !baseHeight || !w || !h)
        return nullptr;
    const double matrix[4] = {double(w) / baseWidth, 0, 0, double(h) / baseHeight};
    uint32_t *rendered = nullptr, pitch = 0;
    if (qxPicSourceTransform(nullptr, source, matrix, 0, 0, int32_t(w), int32_t(h), nullptr, nullptr, &rendered,
                             nullptr, nullptr, &pitch) ||
        !rendered)
        return nullptr;
    if (!pitch)
        pitch = w * 4;
    auto *copy = static_cast<uint32_t *>(std::malloc(size_t(w) * h * 4));
    if (copy) // the rendered rows stay the source's
        for (uint32_t y = 0; y < h; y++)
            std::memcpy(copy + size_t(y) * w, reinterpret_cast<const uint8_t *>(rendered) + size_t(y) * pitch,
                        size_t(w) * 4);
    return copy;
}

qxIcon *iconOf(const qxObjectRef *ref)
{
    qxIcon *icon = nullptr;
    return ref && qxFindIcon(*ref, &icon) == 0 ? icon : nullptr;
}

// Slot 32: one node per image of the icon; picture sources at scale 1.0.
qxIconNode *hostIconList(const qxObjectRef *ref)
{
    qxIcon *icon = iconOf(ref);
    if (!icon)
        return nullptr;
    qxIconNode *head = nullptr, **tail = &head;
    for (const qxIconEntry *e = icon->entries; e; e = e->next)
        for (int sel = 0; sel < 2; sel++) {
            const uint32_t *px = sel ? e->selected : e->normal;
            qxPicSource *source = sel ? e->selectedSource : e->normalSource;
            if (!px && !source)
                continue;
            const uint32_t flags = (e->standard ? 1u : 0u) | (sel ? 2u : 0u);
            qxIconNode *n = nullptr;
            if (px) {
                n = newNode(px, e->width, e->height, flags);
            } else if (uint32_t *rendered = renderSource(source, e->width, e->height, e->width, e->height)) {
                n = static_cast<qxIconNode *>(std::calloc(1, sizeof(qxIconNode)));
                if (n)
                    n->pixels = rendered, n->width = e->width, n->height = e->height, n->flags = flags;
                else
                    std::free(rendered);
            }
            if (!n) {
                qxFreeIconList(head);
                return nullptr;
            }
            *tail = n, tail = &n->next;
        }
    return head;
}

// Slot 33: one image of an icon near a scale (flags: 1 selected, 2 keep
// the image's own size, 4 none unless exact, 8 smooth).
qxIconImage *hostIconImage(const qxObjectRef *ref, const double *scale, uint32_t flags)
{
    qxIcon *icon = iconOf(ref);
    if (!icon || !icon->entries)
        return nullptr;
    const qxIconEntry *reference = icon->entries;
    for (const qxIconEntry *e = icon->entries; e; e = e->next)
        if (e->standard) {
            reference = e;
            break;
        }
    const double s = scale ? *scale : (x11ScaleFactor > 0 ? x11ScaleFactor : 1.0);
    if (!(s > 0) || !std::isfinite(s))
        return nullptr;
    const double ww = std::floor(reference->width * s), wh = std::floor(reference->height * s);
    if (ww < 1 || wh < 1 || ww > 16384 || wh > 16384)
        return nullptr;
    if (reference->normalSource) {
        // A picture source is drawn at the wanted size itself.
        qxPicSource *source = (flags & 1) ? reference->selectedSource : reference->normalSource;
        uint32_t *rendered = renderSource(source, reference->width, reference->height, uint32_t(ww), uint32_t(wh));
        auto *image = rendered ? static_cast<qxIconImage *>(std::calloc(1, sizeof(qxIconImage))) : nullptr;
        if (!image) {
            std::free(rendered);
            return nullptr;
        }
        image->pixels = rendered, image->width = uint32_t(ww), image->height = uint32_t(wh);
        image->flags = 1u | ((flags & 1) ? 2u : 0u);
        return image;
    }
    const qxIconEntry *best = nullptr;
    for (const qxIconEntry *e = icon->entries; e; e = e->next)
        if (!best || std::fabs(double(e->width) - ww) < std::fabs(double(best->width) - ww))
            best = e;
    const uint32_t *px = (flags & 1) ? best->selected : best->normal;
    if (!px)
        return nullptr;
    uint32_t w = best->width, h = best->height;
    uint32_t *out = nullptr;
    if (w != uint32_t(ww) || h != uint32_t(wh)) {
        if (flags & 4)
            return nullptr;
        if (!(flags & 2)) {
            out = static_cast<uint32_t *>(qxConvertPixelBuffer(px, 0, 0, int32_t(w), int32_t(h), nullptr, 0, 0,
                                                               int32_t(ww), int32_t(wh), int32_t(w), 0,
                                                               QX_PIXFMT_ARGB32, (flags & 8) ? 1 : 0));
            if (!out)
                return nullptr;
            w = uint32_t(ww), h = uint32_t(wh);
        }
    }
    auto *image = static_cast<qxIconImage *>(std::calloc(1, sizeof(qxIconImage)));
    auto *copy = static_cast<uint32_t *>(std::malloc(size_t(w) * h * 4));
    if (!image || !copy) {
        std::free(image), std::free(copy), qxFree(out);
        return nullptr;
    }
    std::memcpy(copy, out ? out : px, size_t(w) * h * 4);
    qxFree(out);
    image->pixels = copy, image->width = w, image->height = h;
    image->flags = (best->standard ? 1u : 0u) | ((flags & 1) ? 2u : 0u);
    return image;
}

void hostFreeIconImage(qxIconImage *image)
{
    if (image)
        std::free(image->pixels);
    std::free(image);
}

} // namespace

extern "C" {

int qxBuildAppIcons(int showProgress)
{
    qxIconNode *head = nullptr, **tail = &head;
    for (uint32_t i = 0; i < QX_ICON_SLOTS; i++) {
        const qxIconSlot &slot = qxIconSlots[i];
        if (!slot.path)
            continue;
        if (showProgress)
            qxDebugPrintLine("Loading icon %s", slot.name, 1);
        uint32_t *pixels = nullptr;
        if (int r = slotPixels(slot, &pixels)) {
            qxFreeIconList(head);
            return r;
        }
        auto *n = static_cast<qxIconNode *>(std::calloc(1, sizeof(qxIconNode)));
        if (!n) {
            std::free(pixels);
            qxFreeIconList(head);
            return ERR_MEM;
        }
        n->pixels = pixels, n->width = slot.width, n->height = slot.height;
        n->flags = (slot.isDefault ? 1u : 0u) | (i >= 10 ? 2u : 0u);
        *tail = n, tail = &n->next;
    }
    qxFreeIconSlots();
    qxFreeIconList(qxAppIcons);
    qxAppIcons = head;
    return 0;
}

void qxFreeAppIcons(void)
{
    qxFreeIconList(qxAppIcons);
    qxAppIcons = nullptr;
}

void qxInstallIconHostSlots(qxHostFunc *g)
{
    g[14] = reinterpret_cast<qxHostFunc>(hostAppIcons);
    g[15] = reinterpret_cast<qxHostFunc>(qxFreeIconList);
    g[32] = reinterpret_cast<qxHostFunc>(hostIconList);
    g[33] = reinterpret_cast<qxHostFunc>(hostIconImage);
    g[34] = reinterpret_cast<qxHostFunc>(hostFreeIconImage);
}
}
