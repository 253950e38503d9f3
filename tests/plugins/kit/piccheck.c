/* The kit's use of the picture slots of the graphics sub-table: identify,
 * load with and without the ARGB tag, a scale, pixels, free. */
#include <math.h>
#include <stdint.h>

#include "core/plugins/qx_pluginapi.h"

extern const qxPluginBase *kitHostTable;

#define GFX(slot, type) ((type)kitHostTable->graphics[slot])

typedef struct {
    uint32_t tag;
    uintptr_t data;
} KitTag;

/* out: identified, width, height, has-alpha, first pixel as loaded,
 * first pixel with the ARGB tag, the width loaded at scale 2 (0 when it
 * failed), loaded with scale 0 (0/1), how many of the loads at an
 * infinite and at a huge scale gave a picture. */
void KitPictureSlots(const char *file, uint32_t out[9])
{
    uint32_t w = 0, h = 0, a = 0;
    out[0] = (uint32_t)GFX(0, int (*)(const char *, uint32_t *, uint32_t *, uint32_t *))(file, &w, &h, &a);
    KitTag plain[] = {{0, 0}};
    void *pic = GFX(1, void *(*)(const char *, const KitTag *, uint32_t *, uint32_t *, uint32_t *))(file, plain, &out[1],
                                                                                                    &out[2], &out[3]);
    if (pic) {
        out[4] = GFX(2, uint32_t * (*)(void *))(pic)[0];
        GFX(3, void (*)(void *))(pic);
    }
    KitTag keep[] = {{1, 1}, {0, 0}};
    pic = GFX(1, void *(*)(const char *, const KitTag *, uint32_t *, uint32_t *, uint32_t *))(file, keep, 0, 0, 0);
    if (pic) {
        out[5] = GFX(2, uint32_t * (*)(void *))(pic)[0];
        GFX(3, void (*)(void *))(pic);
    }
    double two = 2.0, zero = 0.0;
    KitTag scaled[] = {{2, (uintptr_t)&two}, {0, 0}};
    out[6] = 0;
    pic = GFX(1, void *(*)(const char *, const KitTag *, uint32_t *, uint32_t *, uint32_t *))(file, scaled, &out[6], 0, 0);
    if (pic) GFX(3, void (*)(void *))(pic);
    KitTag none[] = {{2, (uintptr_t)&zero}, {0, 0}};
    out[7] = GFX(1, void *(*)(const char *, const KitTag *, uint32_t *, uint32_t *, uint32_t *))(file, none, 0, 0, 0) != 0;
    double huge[2] = {INFINITY, 1e300};
    out[8] = 0;
    for (int i = 0; i < 2; i++) {
        KitTag big[] = {{2, (uintptr_t)&huge[i]}, {0, 0}};
        pic = GFX(1, void *(*)(const char *, const KitTag *, uint32_t *, uint32_t *, uint32_t *))(file, big, 0, 0, 0);
        if (pic) {
            out[8]++;
            GFX(3, void (*)(void *))(pic);
        }
    }
}
