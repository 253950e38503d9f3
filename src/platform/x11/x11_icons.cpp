// The window icons: a reserved data area that the linker fills with icon
// records {width, height, ARGB pixels}, the items of _NET_WM_ICON.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/qx_errcodes.h"
#include "platform/qx_wakepipe.h"
#include "platform/x11/x11_builtinicon.h"
#include "platform/x11/x11_display.h"

namespace {

constexpr uint32_t areaSize = 278844;
constexpr uint32_t markerSize = 20;

// Writable and kept whole: the linker patches the records in after the marker.
// The build puts the player's own icons in (tools/icongen), so that a start
// neither draws them nor copies the area's pages to write them.
alignas(8) uint8_t iconArea[areaSize] = {
#include "x11_iconarea.inc"
};
static_assert(markerSize + x11BuiltInIconBytes == areaSize, "the built-in icons fill the area");
bool iconsReady; // the area holds the icons windows are given

void ensureBuiltInIcons()
{
    uint32_t first;
    std::memcpy(&first, iconArea + markerSize, 4);
    if (first)
        return;
    x11WriteBuiltInIcons(iconArea + markerSize);
}

// Calls f(offset of pixels, width, height) for each whole record.
template <typename F> void walkRecords(const uint8_t *area, uint32_t size, F f)
{
    uint64_t at = markerSize;
    while (at + 8 <= size) {
        uint32_t w, h;
        std::memcpy(&w, area + at, 4);
        std::memcpy(&h, area + at + 4, 4);
        uint64_t bytes = (uint64_t)w * h * 4;
        // An empty record ends the list; one claiming more than the area
        // is not an icon.
        if (!w || !h || at + 8 + bytes > size)
            break;
        f(at + 8, w, h);
        at += 8 + bytes;
    }
}

} // namespace

extern "C" {

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
    return x11ReadIcons(iconArea, areaSize, replacements);
}

qxIconNode *x11ReadIcons(uint8_t *records, uint32_t size, const qxIconNode *replacements)
{
    qxIconNode *head = nullptr, **tail = &head;
    bool failed = false;
    walkRecords(records, size, [&](uint64_t at, uint32_t w, uint32_t h) {
        if (failed)
            return;
        uint32_t *area = reinterpret_cast<uint32_t *>(records + at);
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
