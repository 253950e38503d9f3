/* Drives the bitmap slots of the graphics host table as a plug-in does:
 * through the table only. Returns 0 when every check passed, else the
 * number of the first failed check. */
#include <stdint.h>
#include <string.h>

#include "core/plugins/qx_pluginapi.h"

typedef struct {
    uint32_t tag;
    uintptr_t data;
} Tag;

typedef struct {
    uint32_t sx, sy, dx, dy, width, height, pixelFormat;
    const uint8_t *mask;
    const uint8_t *alpha;
    uint32_t sourcePixelsPerRow, destPixelsPerRow, maskBytesPerRow, alphaBytesPerRow;
} BlitRecord;

typedef struct {
    uint32_t sx, sy, dx, dy, sourceWidth, sourceHeight, destWidth, destHeight, pixelFormat, sourceRowLength,
        destRowLength;
} ConvertRecord;

typedef struct {
    int32_t x, y, w, h;
} Rect;

#define G(slot, type) ((type)base->graphics[slot])

int BitmapSlotsTest(const qxPluginBase *base)
{
    uint32_t src[8 * 8], dst[8 * 8];
    for (int i = 0; i < 64; i++) src[i] = 0xFF000000u | (uint32_t)i, dst[i] = 0;

    /* Slot 21 with a clip: the destination at (-2, 1) is trimmed to x 0 and
     * the source moves right by the same 2 columns. */
    BlitRecord b = {0, 0, (uint32_t)-2, 1, 5, 2, 10, NULL, NULL, 8, 8, 0, 0};
    Rect clip = {0, 0, 8, 8};
    Tag tags[] = {{1, (uintptr_t)&clip}, {0, 0}};
    G(21, void (*)(const void *, void *, const BlitRecord *, void *, const Tag *))(src, dst, &b, NULL, tags);
    if (dst[8 + 0] != src[2] || dst[8 + 2] != src[4] || dst[8 + 3] != 0 || dst[16 + 0] != src[10]) return 1;
    /* Trimmed at the top by a clip away from the origin: the source moves
     * down and right with it, so the copy stays aligned with its place. */
    memset(dst, 0, sizeof dst);
    BlitRecord top = {1, 0, 2, 0, 3, 3, 10, NULL, NULL, 8, 8, 0, 0};
    Rect lower = {3, 1, 5, 7};
    Tag lowerTags[] = {{1, (uintptr_t)&lower}, {0, 0}};
    G(21, void (*)(const void *, void *, const BlitRecord *, void *, const Tag *))(src, dst, &top, NULL, lowerTags);
    if (dst[1 * 8 + 3] != src[1 * 8 + 2] || dst[2 * 8 + 4] != src[2 * 8 + 3] || dst[0 * 8 + 3] != 0 ||
        dst[1 * 8 + 2] != 0 || dst[3 * 8 + 3] != 0)
        return 13;

    /* Slot 22: fill clipped to {x, y, width, height}; slot 23: one pixel
     * outside the clip draws nothing. */
    memset(dst, 0, sizeof dst);
    Rect fillClip = {2, 2, 3, 3};
    Tag fillTags[] = {{2, 8}, {3, (uintptr_t)&fillClip}, {0, 0}};
    G(22, void (*)(void *, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t, const Tag *))(
        dst, 0, 0, 8, 8, 0x123456, 0, fillTags);
    if (dst[2 * 8 + 2] != 0x123456 || dst[4 * 8 + 4] != 0x123456 || dst[5 * 8 + 5] != 0 || dst[1 * 8 + 2] != 0)
        return 2;
    G(23, void (*)(void *, int32_t, int32_t, uint32_t, uint32_t, const Tag *))(dst, 6, 6, 0xFFFFFF, 0, fillTags);
    if (dst[6 * 8 + 6] != 0) return 3;
    /* Without the pixels-per-row tag nothing is drawn. */
    Tag noPitch[] = {{1, 10}, {0, 0}};
    G(23, void (*)(void *, int32_t, int32_t, uint32_t, uint32_t, const Tag *))(dst, 0, 0, 0xFFFFFF, 0, noPitch);
    if (dst[0] != 0) return 4;
    /* Flag 1: the top byte is the opacity. */
    Tag pitchOnly[] = {{2, 8}, {0, 0}};
    G(23, void (*)(void *, int32_t, int32_t, uint32_t, uint32_t, const Tag *))(dst, 0, 0, 0x80FF0000u, 1, pitchOnly);
    if (dst[0] != 0x7F0000) return 5;

    /* Slot 24: {left, top, right, bottom}, right and bottom exclusive. */
    memset(dst, 0, sizeof dst);
    int32_t lineClip[4] = {0, 0, 4, 4};
    Tag lineTags[] = {{2, 8}, {3, (uintptr_t)lineClip}, {0, 0}};
    G(24, void (*)(void *, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t, const Tag *))(
        dst, -3, 2, 20, 2, 0xFFFFFF, 0, lineTags);
    if (dst[2 * 8 + 0] != 0xFFFFFF || dst[2 * 8 + 3] != 0xFFFFFF || dst[2 * 8 + 4] != 0) return 6;
    G(24, void (*)(void *, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t, const Tag *))(
        dst, 5, 5, 7, 7, 0xFFFFFF, 0, lineTags);
    if (dst[5 * 8 + 5] != 0) return 7;
    /* A diagonal through the clip keeps x and y from 0 to right/bottom - 1. */
    memset(dst, 0, sizeof dst);
    G(24, void (*)(void *, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t, const Tag *))(
        dst, -3, -3, 20, 20, 0xFFFFFF, 0, lineTags);
    if (dst[0] != 0xFFFFFF || dst[3 * 8 + 3] != 0xFFFFFF || dst[4 * 8 + 4] != 0) return 14;

    /* Slots 27 and 28: colours with their alpha. */
    if (G(27, uint32_t (*)(uint32_t, uint32_t))(0x80FF0000u, 12) != 0xFF000080u) return 8;
    if (G(28, uint32_t (*)(uint32_t, uint32_t))(0xFF000080u, 12) != 0x80FF0000u) return 9;
    if (G(27, uint32_t (*)(uint32_t, uint32_t))(0xFFFFFFu, 4) != 0xFFFF) return 10;

    /* Slot 35: 2x2 to 4x4 nearest into a buffer of ours. */
    uint32_t small[4] = {1, 2, 3, 4}, big[16];
    ConvertRecord c = {0, 0, 0, 0, 2, 2, 4, 4, 10, 2, 4};
    if (G(35, int (*)(const void *, void *, const ConvertRecord *, uint32_t))(small, big, &c, 0) != 1) return 11;
    if (big[0] != 1 || big[1] != 1 || big[2] != 2 || big[15] != 4) return 12;
    return 0;
}
