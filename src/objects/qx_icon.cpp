// Icon records and the icon sheet reader and writer.
#include "objects/qx_icon.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "display/qx_bitmap.h"
#include "display/qx_bitmapplanes.h"
#include "objects/formats/qx_picformats.h"
#include "objects/qx_picsource.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

extern "C" {
qxIcon *qxIcons;
}

namespace {

// "ZEPHYRANE" in the red, green and blue bytes of three clear pixels.
constexpr uint32_t marker[3] = {0x005A4550u, 0x00485952u, 0x00414E45u};

uint32_t *copyRows(const uint32_t *pixels, uint32_t pitch, uint32_t x, uint32_t y, uint32_t w, uint32_t h)
{
    auto *out = static_cast<uint32_t *>(qxAlloc(size_t(w) * h * 4, 0));
    if (out)
        for (uint32_t r = 0; r < h; r++)
            std::memcpy(out + size_t(r) * w, pixels + size_t(y + r) * pitch + x, size_t(w) * 4);
    return out;
}

} // namespace

extern "C" {

int qxFindIcon(qxObjectRef ref, qxIcon **out)
{
    *out = nullptr;
    for (qxIcon *i = qxIcons; i; i = i->next)
        if (i->automatic == ref.automatic && i->id == ref.number) {
            *out = i;
            return 0;
        }
    if (ref.automatic)
        return ERR_FINDARRAY;
    qxSetErrorNumber(int(ref.number));
    return ERR_FINDICON;
}

void qxFreeIconEntries(qxIconEntry *list)
{
    while (list) {
        qxIconEntry *next = list->next;
        qxFree(list->normal);
        qxFree(list->selected);
        if (list->normalSource)
            qxPicSourceRelease(list->normalSource);
        if (list->selectedSource)
            qxPicSourceRelease(list->selectedSource);
        std::free(list);
        list = next;
    }
}

uint32_t qxInsertIconEntry(qxIconEntry **list, qxIconEntry *entry)
{
    uint32_t position = 1;
    qxIconEntry **p = list;
    while (*p && (*p)->width <= entry->width)
        p = &(*p)->next, position++;
    entry->next = *p;
    *p = entry;
    return position;
}

int qxParseIconSheet(const uint32_t *pixels, uint32_t width, uint32_t height, uint32_t pitch, qxIconEntry **out)
{
    *out = nullptr;
    if (!pixels || width < 3 || height < 1 || pitch < width)
        return ERR_LOADICON;
    for (int i = 0; i < 3; i++)
        if (pixels[i] != marker[i])
            return ERR_LOADICON;
    qxIconEntry *list = nullptr, **tail = &list;
    uint32_t previousWidth = 0;
    auto fail = [&](int code) {
        qxFreeIconEntries(list);
        return code;
    };
    for (uint32_t row = 1; row < height;) {
        const uint32_t *header = pixels + size_t(row) * pitch;
        const uint32_t w = header[0], h = header[1], flags = header[2];
        const uint32_t below = height - row - 1;
        const uint32_t needed = (flags & QX_ICONSHEET_SELECTED) ? 2 : 1;
        // Widths never fall; an equal width needs another height.
        if (w == 0 || h == 0 || w > width || h > below || w < previousWidth || uint64_t(w) * needed > width)
            return fail(ERR_LOADICON);
        for (const qxIconEntry *e = list; e; e = e->next)
            if (e->width == w && e->height == h)
                return fail(ERR_LOADICON);
        auto *e = static_cast<qxIconEntry *>(std::calloc(1, sizeof(qxIconEntry)));
        if (!e)
            return fail(ERR_MEM);
        *tail = e, tail = &e->next;
        e->width = w, e->height = h;
        e->transparency = (flags & QX_ICONSHEET_TRANSPARENT) ? 1 : 0;
        e->standard = (flags & QX_ICONSHEET_STANDARD) ? 1 : 0;
        e->normal = copyRows(pixels, pitch, 0, row + 1, w, h);
        if (!e->normal)
            return fail(ERR_MEM);
        if (flags & QX_ICONSHEET_SELECTED) {
            e->selected = copyRows(pixels, pitch, w, row + 1, w, h);
            if (!e->selected)
                return fail(ERR_MEM);
        }
        previousWidth = w;
        row += 1 + h;
    }
    *out = list;
    return 0;
}

int qxIconSheet(const char *file, const char *loader, const char *adapter, qxIconEntry **out)
{
    *out = nullptr;
    qxPicSource *source = nullptr;
    qxBitMap *alpha = nullptr;
    uint32_t w = 0, h = 0, pitch = 0, hasAlpha = 0, scalable = 0, transparent = 0xFFFFFFFFu;
    if (int r = qxOpenImage(file, loader, adapter, nullptr, 0xFFFFFFFFu, 0, 1, 0, 0, 0, 0, &source,
                            reinterpret_cast<void **>(&alpha), nullptr, &transparent, &w, &h, &pitch, &hasAlpha,
                            &scalable, nullptr)) {
        // A picture without alpha channel is never a sheet.
        if (r == ERR_NOALPHA) {
            qxSetErrorString(file);
            return ERR_LOADICON;
        }
        return r;
    }
    int r = ERR_LOADICON;
    const uint32_t *pixels = qxPicSourceBitMap(source);
    qxPlane a = qxPlaneOf(alpha);
    if (pixels && hasAlpha && a.bytes && !scalable && a.width >= int32_t(w) && a.height >= int32_t(h)) {
        // The sheet's alpha channel arrives as a plane of its own.
        uint32_t *argb = static_cast<uint32_t *>(qxAlloc(size_t(w) * h * 4, 0));
        if (!argb) {
            r = ERR_MEM;
        } else {
            for (uint32_t y = 0; y < h; y++)
                for (uint32_t x = 0; x < w; x++)
                    argb[size_t(y) * w + x] = (pixels[size_t(y) * (pitch / 4) + x] & 0xFFFFFF) |
                                              uint32_t(a.bytes[int64_t(y) * a.bytesPerRow + x]) << 24;
            r = qxParseIconSheet(argb, w, h, w, out);
            qxFree(argb);
        }
    }
    if (alpha)
        qxFreeAlphaBitMap(alpha);
    qxPicSourceRelease(source);
    if (r == ERR_LOADICON)
        qxSetErrorString(file);
    return r;
}

int qxBuildIconSheet(const qxIconEntry *list, uint32_t **pixels, uint32_t *width, uint32_t *height)
{
    *pixels = nullptr;
    uint64_t w = 3, h = 1;
    for (const qxIconEntry *e = list; e; e = e->next) {
        if (e->normalSource || !e->normal)
            return ERR_WRONGUSAGE;
        w = std::max<uint64_t>(w, uint64_t(e->width) * (e->selected ? 2 : 1));
        h += 1 + uint64_t(e->height);
    }
    uint32_t *out = qxAllocPicture(w, h, 1);
    if (!out)
        return ERR_MEM;
    std::memcpy(out, marker, sizeof marker);
    uint64_t row = 1;
    for (const qxIconEntry *e = list; e; e = e->next) {
        uint32_t *header = out + row * w;
        header[0] = e->width, header[1] = e->height;
        header[2] = (e->selected ? QX_ICONSHEET_SELECTED : 0) | (e->transparency ? QX_ICONSHEET_TRANSPARENT : 0) |
                    (e->standard ? QX_ICONSHEET_STANDARD : 0);
        for (uint32_t y = 0; y < e->height; y++) {
            uint32_t *line = out + (row + 1 + y) * w;
            std::memcpy(line, e->normal + size_t(y) * e->width, size_t(e->width) * 4);
            if (e->selected)
                std::memcpy(line + e->width, e->selected + size_t(y) * e->width, size_t(e->width) * 4);
        }
        row += 1 + e->height;
    }
    *pixels = out, *width = uint32_t(w), *height = uint32_t(h);
    return 0;
}
}
