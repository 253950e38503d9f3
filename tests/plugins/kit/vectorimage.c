/* A scalable picture loader for the kit: a file "QXVEC w h" describes a
 * picture of natural size w x h that is drawn at any transform. Each pixel
 * encodes the point of the picture it shows, so that a re-rendering and a
 * pixel scaling of the same size differ. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/plugins/qx_pluginapi.h"

typedef struct {
    uint32_t width, height; /* in: wanted size; out: loaded size */
    uint32_t smooth;
    uint32_t flags;
    const char *adapters;
    uint32_t pitch;
    uint32_t hasAlpha;
    uint32_t alphaChannel;
    uint32_t scalable;
    uint32_t naturalWidth, naturalHeight;
    uint64_t reserved;
} KitLoaderRecord;

/* The picture as loaded stays valid for the host; each transform renders
 * into a second buffer. */
typedef struct {
    uint32_t naturalWidth, naturalHeight;
    uint32_t *loaded, *pixels;
    uint32_t width, height;
} KitVector;

extern const qxPluginBase *kitHostTable;

/* Linked data comes under a chunk name, which only the host's file slots
 * (dos 0, 3, 1) can open. */
static int readText(const char *file, char *text, size_t size)
{
    if (strncmp(file, ":::chunk", 8) == 0) {
        void *h = ((void *(*)(const char *, uint32_t))kitHostTable->dos[0])(file, 0);
        if (!h) return 0;
        int64_t n = ((int64_t (*)(void *, void *, int64_t))kitHostTable->dos[3])(h, text, (int64_t)size - 1);
        ((int (*)(void *))kitHostTable->dos[1])(h);
        text[n > 0 ? n : 0] = 0;
        return n > 0;
    }
    FILE *f = fopen(file, "rb");
    if (!f) return 0;
    size_t n = fread(text, 1, size - 1, f);
    fclose(f);
    text[n] = 0;
    return 1;
}

static int readHeader(const char *file, uint32_t *w, uint32_t *h)
{
    char text[64];
    if (!readText(file, text, sizeof text)) return 0;
    return sscanf(text, "QXVEC %u %u", w, h) == 2 && *w > 0 && *h > 0 && *w <= 4096 && *h <= 4096;
}

/* Output pixel (x, y) shows the picture point p with (x + 0.5, y + 0.5) =
 * M p + offset. */
static int render(KitVector *v, const double *block, int32_t width, int32_t height)
{
    if (width < 1 || height < 1 || width > 16384 || height > 16384) return 0;
    uint32_t *px = malloc((size_t)width * (size_t)height * 4);
    if (!px) return 0;
    const double m0 = block[0], m1 = block[1], m2 = block[2], m3 = block[3];
    const double det = m0 * m3 - m1 * m2;
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++) {
            const double dx = x + 0.5 - block[4], dy = y + 0.5 - block[5];
            /* On a grid of 2^-20, so that matrices a rounding apart agree. */
            const double X = round((m3 * dx - m2 * dy) / det * 1048576) / 1048576;
            const double Y = round((m0 * dy - m1 * dx) / det * 1048576) / 1048576;
            uint32_t c = 0;
            if (X >= 0 && Y >= 0 && X < v->naturalWidth && Y < v->naturalHeight && X + Y >= 4) {
                const uint32_t r = (uint32_t)((X - floor(X)) * 256), g = (uint32_t)((Y - floor(Y)) * 256);
                c = 0xFF000000u | r << 16 | g << 8 | (((uint32_t)X + (uint32_t)Y) & 0xFF);
            }
            px[(size_t)y * width + x] = c;
        }
    if (v->pixels != v->loaded) free(v->pixels);
    if (!v->loaded) v->loaded = px;
    v->pixels = px, v->width = (uint32_t)width, v->height = (uint32_t)height;
    return 1;
}

int IsImage(const char *file)
{
    uint32_t w, h;
    return readHeader(file, &w, &h);
}

void *LoadImage(const char *file, KitLoaderRecord *rec, const char *name)
{
    (void)name;
    uint32_t w, h;
    if (!readHeader(file, &w, &h)) return NULL;
    KitVector *v = calloc(1, sizeof *v);
    if (!v) return NULL;
    v->naturalWidth = w, v->naturalHeight = h;
    const uint32_t ow = rec->width ? rec->width : w, oh = rec->height ? rec->height : h;
    const double block[6] = {(double)ow / w, 0, 0, (double)oh / h, 0, 0};
    if (!render(v, block, (int32_t)ow, (int32_t)oh)) {
        free(v);
        return NULL;
    }
    rec->width = ow, rec->height = oh;
    rec->pitch = ow * 4;
    rec->hasAlpha = 1;
    rec->scalable = 1;
    rec->flags |= 1;
    rec->naturalWidth = w, rec->naturalHeight = h;
    return v;
}

void *GetImage(void *handle, KitLoaderRecord *rec, void *plugin, uint32_t width)
{
    (void)plugin, (void)width;
    KitVector *v = handle;
    rec->pitch = v->width * 4;
    rec->hasAlpha = 1;
    return v->pixels;
}

void FreeImage(void *handle)
{
    KitVector *v = handle;
    if (v->pixels != v->loaded) free(v->pixels);
    free(v->loaded);
    free(v);
}

int TransformImage(void *handle, const double *block, int32_t width, int32_t height, KitLoaderRecord *rec)
{
    (void)rec;
    return render(handle, block, width, height);
}
