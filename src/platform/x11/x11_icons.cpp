// The window icons: a reserved data area that the linker fills with icon
// records {width, height, ARGB pixels}, the items of _NET_WM_ICON.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/qx_errcodes.h"
#include "platform/qx_wakepipe.h"
#include "platform/x11/x11_display.h"

namespace {

constexpr uint32_t areaSize = 278844;
constexpr uint32_t markerSize = 20;

// Writable and kept whole: the linker patches the records in after the marker.
alignas(8) uint8_t iconArea[areaSize] = "___QXSICONRESERVED__";
bool iconsReady; // the area holds the icons windows are given

// The player's own icon in the five sizes the area is laid out for (their
// records fill it exactly), written when the build left the area empty so
// that applet icons of these sizes have records to replace.
constexpr uint32_t builtInSizes[] = {16, 24, 32, 48, 256};

void drawBuiltInIcon(uint32_t *px, uint32_t size)
{
    // A blue disc with a light rim, antialiased over one pixel. Drawn at
    // every start, so only what needs it is computed: along the left half of
    // an upper row the squared distance to the centre only falls, so the
    // plain outside, rim and inside are runs, filled with their mirror
    // images in the right half; only the pixels near the rim's two edges
    // take a root. Each row is then copied to its mirror row below (the
    // offsets from the centre are exact halves, so the images are
    // identical). The squared bounds carry a margin for rounding.
    const double c = size / 2.0, r = size / 2.0 - 0.5;
    const uint32_t half = (size + 1) / 2;
    const double rimEdge = r * 0.8, solid = rimEdge * rimEdge * (1 - 1e-9),
                 clear = (r + 0.5) * (r + 0.5) * (1 + 1e-9),
                 rimInner = rimEdge * rimEdge * (1 + 1e-9), rimOuter = (r - 0.5) * (r - 0.5) * (1 - 1e-9);
    const bool solidInside = rimEdge < r - 0.5;
    constexpr uint32_t outside = 0xA0C8FFu, inside = 0xFF2050C0u, rim = 0xFFA0C8FFu;
    for (uint32_t y = 0; y < half; y++) {
        uint32_t *row = px + size_t(y) * size;
        const double dy = y + 0.5 - c, dy2 = dy * dy;
        auto dist2 = [&](uint32_t x) {
            const double dx = x + 0.5 - c;
            return dx * dx + dy2;
        };
        uint32_t x = 0;
        while (x < half && dist2(x) > clear)
            x++;
        std::fill(row, row + x, outside);
        std::fill(row + size - x, row + size, outside);
        for (; x < half; x++) {
            const double d2 = dist2(x);
            if (solidInside && d2 < solid)
                break;
            uint32_t v = rim;
            if (!(d2 > rimInner && d2 < rimOuter)) {
                const double d = std::sqrt(d2);
                const double cover = d <= r - 0.5 ? 1.0 : d >= r + 0.5 ? 0.0 : r + 0.5 - d;
                v = uint32_t(cover * 255 + 0.5) << 24 | (d > rimEdge ? outside : inside & 0xFFFFFFu);
            }
            row[x] = row[size - 1 - x] = v;
        }
        if (x < size - x)
            std::fill(row + x, row + size - x, inside);
        if (size - 1 - y != y)
            std::memcpy(px + size_t(size - 1 - y) * size, row, size_t(size) * 4);
    }
}

void ensureBuiltInIcons()
{
    uint32_t first;
    std::memcpy(&first, iconArea + markerSize, 4);
    if (first)
        return;
    uint64_t at = markerSize;
    for (uint32_t size : builtInSizes) {
        const uint32_t header[2] = {size, size};
        std::memcpy(iconArea + at, header, 8);
        drawBuiltInIcon(reinterpret_cast<uint32_t *>(iconArea + at + 8), size);
        at += 8 + uint64_t(size) * size * 4;
    }
}

// Calls f(offset of pixels, width, height) for each whole record.
template <typename F> void walkRecords(F f)
{
    uint64_t at = markerSize;
    while (at + 8 <= areaSize) {
        uint32_t w, h;
        std::memcpy(&w, iconArea + at, 4);
        std::memcpy(&h, iconArea + at + 4, 4);
        uint64_t bytes = (uint64_t)w * h * 4;
        // An empty record ends the list; one claiming more than the area
        // is not an icon.
        if (!w || !h || at + 8 + bytes > areaSize)
            break;
        f(at + 8, w, h);
        at += 8 + bytes;
    }
}


static_assert(markerSize + (8 + 16 * 16 * 4) + (8 + 24 * 24 * 4) + (8 + 32 * 32 * 4) + (8 + 48 * 48 * 4) +
                      (8 + 256 * 256 * 4) ==
                  areaSize,
              "the built-in icons fill the area");

} // namespace

extern "C" {

uint8_t *x11IconArea(uint32_t *size)
{
    *size = areaSize;
    return iconArea;
}

void qxFreeIconList(qxIconNode *list)
{
    while (list) {
        qxIconNode *next = list->next;
        std::free(list->pixels);
        std::free(list);
        list = next;
    }
}

qxIconNode *x11ApplyIcons(const qxIconNode *replacements)
{
    ensureBuiltInIcons();
    qxIconNode *head = nullptr, **tail = &head;
    bool failed = false;
    walkRecords([&](uint64_t at, uint32_t w, uint32_t h) {
        if (failed)
            return;
        uint32_t *area = reinterpret_cast<uint32_t *>(iconArea + at);
        size_t bytes = (size_t)w * h * 4;
        auto *node = static_cast<qxIconNode *>(std::calloc(1, sizeof(qxIconNode)));
        void *pixels = node ? std::malloc(bytes) : nullptr;
        if (!pixels) {
            std::free(node);
            failed = true;
            return;
        }
        node->pixels = static_cast<uint32_t *>(pixels);
        node->width = w;
        node->height = h;
        std::memcpy(node->pixels, area, bytes);
        for (const qxIconNode *r = replacements; r; r = r->next) {
            if (r->width == w && r->height == h && r->pixels) {
                std::memcpy(node->pixels, r->pixels, bytes);
                std::memcpy(area, r->pixels, bytes);
                break;
            }
        }
        *tail = node;
        tail = &node->next;
    });
    if (failed) {
        qxFreeIconList(head);
        return nullptr;
    }
    return head;
}

int x11InitWindowing(const qxIconNode *replacements)
{
    if (!qxCreateWakePipe())
        return ERR_PIPE;
    ensureBuiltInIcons();
    if (replacements)
        qxFreeIconList(x11ApplyIcons(replacements));
    iconsReady = true;
    return 0;
}

const uint32_t *x11IconItems(uint32_t *count)
{
    *count = iconsReady ? areaSize / 4 - markerSize / 4 : 0;
    return iconsReady ? reinterpret_cast<const uint32_t *>(iconArea + markerSize) : nullptr;
}

qxIconNode *qxHostGetIcons(void) { return x11ApplyIcons(nullptr); }

void qxHostFreeIcons(qxIconNode *list) { qxFreeIconList(list); }
}
