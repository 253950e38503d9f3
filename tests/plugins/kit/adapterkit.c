/* A display adapter plug-in in plain C that records every call it gets into
 * a log the script reads with AdLog(), with commands that drive the host's
 * satellite and adapter slots. Windows exist only as numbered handles. */
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <stdlib.h>
#include <string.h>

#include "core/plugins/qx_pluginapi.h"

typedef struct lua_State lua_State;

static const qxPluginBase *host;
static qxPluginInfo *self;
static char logText[16384];
static size_t logLength;
static int earlyInstall = -1;
static int requireInstall = -1;
static int quitOnPoll;
static int handles;
static uint32_t qualifiers;
static int buffering, frames, heldBlits; /* the adapter's double buffer */
static int showPixel; /* blits also log their source's first pixel */
static uint32_t readFormat = 10; /* the pixel format video bitmaps read back in */
static uint32_t openFlag; /* OpenDisplay's first out flag (a refresh-mode request) */

/* A video bitmap held here (adapter flag 0x10). */
typedef struct {
    uint32_t number, width, height;
    uint32_t pixels[];
} VideoBitMap;


#define VM(slot, type) ((type)host->vm[slot])
#define GFX(slot, type) ((type)host->graphics[slot])
#define NUMBER(i) VM(47, double (*)(lua_State *, int))(L, i)
#define PUSHNUMBER(v) VM(21, void (*)(lua_State *, double))(L, (double)(v))

static void say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    if (logLength < sizeof logText - 1) {
        int n = vsnprintf(logText + logLength, sizeof logText - logLength, format, args);
        if (n > 0) logLength += (size_t)n < sizeof logText - logLength ? (size_t)n : sizeof logText - 1 - logLength;
    }
    va_end(args);
}

/* ---- Plug-in frame ---- */

int InitPlugin(qxPluginInfo *info, const qxPluginBase *base, const char *path)
{
    (void)path;
    host = base;
    self = info;
    info->capabilities = QX_CAP_LIBRARY | QX_CAP_DISPLAYADAPTER | QX_CAP_EXTENSIONS | QX_CAP_REQUIRE;
    info->version = 8;
    info->revision = 0;
    info->name = "adapterkit";
    info->moduleName = "adapterkit";
    info->author = "Kit author";
    info->description = "Recording display adapter";
    info->copyright = "none";
    return 1;
}

void ClosePlugin(void) {}

/* The display adapter brings its main loop; the library has no extras. */
uint32_t GetExtensions(uint32_t capability, uint32_t reserved)
{
    (void)reserved;
    /* Bit 1: its own main loop, and (with video bitmaps, flag 0x10) it
     * scales them; built with KIT_TRANSFORMS it also transforms them (bit
     * 2), with KIT_TARGETS scripts may select them as brush and alpha (bit
     * 4) and mask (bit 8) drawing targets, with KIT_BLITS its blits turn
     * (bit 16) and blend (bit 32) their sources as their tags ask. */
    uint32_t flags = 1;
#ifdef KIT_TRANSFORMS
    flags |= 2;
#endif
#ifdef KIT_BLITS
    flags |= 16 | 32;
#endif
#ifdef KIT_TARGETS
    flags |= 4 | 8;
#endif
    return capability == QX_CAP_DISPLAYADAPTER ? flags : 0;
}

/* ---- Display adapter entry points ---- */

typedef struct {
    uint32_t tag;
    uint64_t value;
} Tag;

int HandleEvents(lua_State *L, int flags, void *reserved)
{
    (void)L, (void)flags, (void)reserved;
    if (quitOnPoll) {
        say("HandleEvents quits\n");
        return 1003;
    }
    return 0;
}
int WaitEvents(lua_State *L, int mode, void *reserved, int *out)
{
    (void)L, (void)mode, (void)reserved, (void)out;
    return 0;
}
int ForceEventLoopIteration(void *reserved)
{
    (void)reserved;
    say("ForceEventLoopIteration\n");
    return 0;
}
int Sleep(lua_State *L, uint32_t ms)
{
    (void)L;
    say("Sleep %u\n", ms);
    return 0;
}
int VWait(void *handle, const Tag *tags, uint32_t argument)
{
    say("VWait %d tag1=%u %u\n", (int)(intptr_t)handle, (unsigned)tags[0].value, argument);
    return 0;
}
int DetermineBorderSizes(uint32_t flags, int32_t *left, int32_t *right, int32_t *top, int32_t *bottom)
{
    say("DetermineBorderSizes flags=%x\n", flags);
    *left = 1, *right = 2, *top = 20, *bottom = 3;
    return 0;
}
void *OpenDisplay(const char *title, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags, const Tag *tags)
{
    say("OpenDisplay \"%s\" %d,%d %dx%d flags=%x tags", title, x, y, w, h, flags);
    for (; tags->tag; tags++) {
        if (tags->tag == 3 || tags->tag == 4) *(uint32_t *)(uintptr_t)tags->value = tags->tag == 3 ? openFlag : 7;
        if (tags->tag == 5) say(" 5=%s", tags->value ? "L" : "none");
        else if (tags->tag != 3 && tags->tag != 4) say(" %u=%u", tags->tag, (unsigned)tags->value);
    }
    say("\n");
    return (void *)(intptr_t)++handles;
}
int CloseDisplay(void *handle)
{
    say("CloseDisplay %d\n", (int)(intptr_t)handle);
    return 0;
}
int ChangeBufferSize(void) { return 0; }
int ShowHideDisplay(void *handle, int show, void *reserved)
{
    (void)reserved;
    say("ShowHideDisplay %d %d\n", (int)(intptr_t)handle, show);
    return 0;
}
int SizeMoveDisplay(void *handle, int32_t x, int32_t y, int32_t w, int32_t h, void *r1, void *r2)
{
    (void)r1, (void)r2;
    say("SizeMoveDisplay %d %d,%d %dx%d\n", (int)(intptr_t)handle, x, y, w, h);
    return 0;
}
int SetDisplayTitle(void *handle, const char *title)
{
    say("SetDisplayTitle %d \"%s\"\n", (int)(intptr_t)handle, title);
    return 0;
}
int ActivateDisplay(void *handle, int flag)
{
    say("ActivateDisplay %d %d\n", (int)(intptr_t)handle, flag);
    return 0;
}
int SetDisplayAttributes(void *handle, const Tag *tags)
{
    say("SetDisplayAttributes %d", (int)(intptr_t)handle);
    for (; tags->tag; tags++) say(" %u=%u", tags->tag, (unsigned)tags->value);
    say("\n");
    return 0;
}
/* Logs what a pointer is made from and makes none: the player reports 1321. */
void *CreatePointer(const uint32_t *argb, int32_t hotX, int32_t hotY, int32_t *width, int32_t *height)
{
    say("CreatePointer %dx%d hot %d,%d first %08x\n", *width, *height, hotX, hotY, argb[0]);
    return NULL;
}
int FreePointer(void) { return 0; }
int SetPointer(void) { return 0; }
int ShowHidePointer(void *handle, int show)
{
    say("ShowHidePointer %d %d\n", (int)(intptr_t)handle, show);
    return 0;
}
int MovePointer(void *handle, int32_t x, int32_t y)
{
    say("MovePointer %d %d,%d\n", (int)(intptr_t)handle, x, y);
    return 0;
}
int GetMousePos(void *handle, int32_t *x, int32_t *y)
{
    (void)handle;
    *x = 11, *y = 22;
    return 0;
}
uint32_t GetQualifiers(void *handle)
{
    (void)handle;
    return qualifiers;
}

typedef struct {
    uint32_t sx, sy, dx, dy, width, height, scaledWidth, scaledHeight, smooth, reserved;
    void *mask, *alpha;
    const void *clipRects;
    uint32_t clipCount;
    int32_t clipX, clipY;
    uint8_t reserved2[12];
} BlitRecord;
_Static_assert(sizeof(BlitRecord) == 88, "blit record");

/* To 6 places, so that the log does not show sine rounding (nor -0). */
static double rounded(double v) { return (double)(long long)(v * 1e6 + (v < 0 ? -0.5 : 0.5)) / 1e6; }

/* What a blit's tags ask: the opacity, the matrix and anchor to turn by. */
static void sayTags(const Tag *tags)
{
    for (const Tag *t = tags; t && t->tag; t++) {
        const double *d = (const double *)(uintptr_t)t->value;
        if (t->tag == 1) say(" opacity %u", (unsigned)t->value);
        if (t->tag == 2) say(" matrix %g %g %g %g", rounded(d[0]), rounded(d[1]), rounded(d[2]), rounded(d[3]));
        if (t->tag == 3) say(" anchor %g %g", d[0], d[1]);
    }
}

static int BufferBlit(void *source, const BlitRecord *r, uint32_t flags, const Tag *tags)
{
    if (flags & 1) { /* one of our video bitmaps */
        const VideoBitMap *v = source;
        say("held video bitmap %u %ux%u at %u,%u", v->number, r->width, r->height, r->dx, r->dy);
        sayTags(tags);
        say("\n");
        heldBlits++;
        return 0;
    }
    Tag rect[] = {{1, r->sx}, {2, r->sy}, {3, 1}, {4, 1}, {0, 0}};
    uint32_t *argb = GFX(25, uint32_t *(*)(void *, void *, void *, const Tag *))(source, NULL, NULL, rect);
    say("held %ux%u at %u,%u first %08x%s\n", r->width, r->height, r->dx, r->dy, argb ? argb[0] : 0,
        r->alpha ? " with alpha" : "");
    GFX(7, void (*)(void *))(argb);
    heldBlits++;
    return 0;
}

int BltBitMap(void *source, void *dest, const BlitRecord *r, uint32_t flags, const Tag *tags)
{
    if (buffering) return BufferBlit(source, r, flags, tags);
    /* Flag 4: the destination is one of our video bitmaps. */
    say("BltBitMap %s -> %s%d %u,%u %ux%u at %u,%u shown %ux%u smooth %u clip %d flags=%x\n",
        source ? "bitmap" : "none", flags & 4 ? "video " : "",
        flags & 4 ? (int)((const VideoBitMap *)dest)->number : (int)(intptr_t)dest, r->sx, r->sy, r->width, r->height, r->dx, r->dy,
        r->scaledWidth, r->scaledHeight, r->smooth, r->clipX, flags);
    if (tags && tags->tag) {
        say("tags");
        sayTags(tags);
        say("\n");
    }
    /* Flag 16: the blit draws into a plane target; what shapes it. */
    if (flags & 16) say("into the plane %s\n", r->mask ? "through a mask" : r->alpha ? "through an alpha channel" : "whole");
    if (showPixel) {
        Tag rect[] = {{1, r->sx}, {2, r->sy}, {3, 1}, {4, 1}, {0, 0}};
        uint32_t *argb = GFX(25, uint32_t *(*)(void *, void *, void *, const Tag *))(source, NULL, NULL, rect);
        say("first pixel %08x\n", argb ? argb[0] : 0);
        GFX(7, void (*)(void *))(argb);
    }
    return 0;
}
int RectFill(void *handle, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, uint32_t flags,
             const Tag *tags)
{
    (void)tags;
    /* Flag 2: the target is one of our video bitmaps. */
    say("RectFill %s%d %d,%d %dx%d colour=%08x flags=%u\n", flags & 2 ? "video " : "",
        flags & 2 ? (int)((const VideoBitMap *)handle)->number : (int)(intptr_t)handle, x, y, w, h, colour, flags);
    return 0;
}
int WritePixel(void *handle, int32_t x, int32_t y, uint32_t colour, uint32_t flags, const Tag *tags)
{
    (void)tags;
    say("WritePixel %d %d,%d colour=%08x flags=%u\n", (int)(intptr_t)handle, x, y, colour, flags);
    return 0;
}
int Line(void *handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint32_t flags,
         const Tag *tags)
{
    (void)tags;
    say("Line %d %d,%d to %d,%d colour=%08x flags=%u\n", (int)(intptr_t)handle, x1, y1, x2, y2, colour, flags);
    return 0;
}

/* One 1920x1080 monitor and three modes, unsorted. */
static const int32_t monitors[] = {0, 0, 1920, 1080, 0, 0, 0, 0};
static const uint32_t modes[] = {1280, 720, 32, 800, 600, 32, 1920, 1080, 32, 0, 0, 0};
int GetMonitorInfo(uint32_t kind, uint32_t monitor, const void **out, void *reserved)
{
    (void)monitor, (void)reserved;
    *out = kind == 0 ? (const void *)monitors : (const void *)modes;
    return 0;
}
void FreeMonitorInfo(uint32_t kind, const void *array) { (void)kind, (void)array; }
int GrabScreenPixels(void) { return 0; }
int FreeGrabScreenPixels(void) { return 0; }

int AdapterMainLoop(lua_State *L, void (*run)(void *), void *arg, void *r1, void *r2)
{
    (void)L, (void)r1, (void)r2;
    say("AdapterMainLoop\n");
    run(arg);
    return 0;
}

/* Double buffering: while it is on, blits are held back and their first
 * pixel read through graphics slot 25; each Flip counts a frame and shows
 * how many blits it brings. */
int BeginDoubleBuffer(void *handle, uint32_t width, uint32_t height, const Tag *tags)
{
    say("BeginDoubleBuffer %d %ux%u flags=%x\n", (int)(intptr_t)handle, width, height, (unsigned)tags[0].value);
    buffering = 1;
    frames = heldBlits = 0;
    return 0;
}
int EndDoubleBuffer(void *handle, const Tag *tags)
{
    (void)tags;
    say("EndDoubleBuffer %d after %d frames\n", (int)(intptr_t)handle, frames);
    buffering = 0;
    return 0;
}
int Flip(void *handle, const Tag *tags)
{
    unsigned sync = 0;
    for (; tags->tag; tags++)
        if (tags->tag == 1) sync = (unsigned)tags->value;
    say("Flip %d frame %d sync %u shows %d blits\n", (int)(intptr_t)handle, ++frames, sync, heldBlits);
    heldBlits = 0;
    return 0;
}
int Cls(void *handle, uint32_t colour, void *reserved)
{
    (void)reserved;
    say("Cls %d colour=%08x\n", (int)(intptr_t)handle, colour);
    return 0;
}
/* Video bitmaps (adapter flag 0x10): ARGB copies held here, numbered in
 * the log; reading them back hands out the copy. */
static uint32_t videoBitMaps;
void *AllocVideoBitMap(uint32_t width, uint32_t height, uint32_t flags, const Tag *tags)
{
    const uint32_t *argb = NULL;
    const double *matrix = NULL;
    uint64_t sourceWidth = 0, sourceHeight = 0, smooth = 0, window = 0;
    for (const Tag *t = tags; t->tag; t++) {
        if (t->tag == 6) window = t->value;
        if (t->tag == 1) argb = (const uint32_t *)(uintptr_t)t->value;
        if (t->tag == 2) sourceWidth = t->value;
        if (t->tag == 3) sourceHeight = t->value;
        if (t->tag == 4) smooth = t->value;
        if (t->tag == 5) matrix = (const double *)(uintptr_t)t->value;
    }
    if (matrix && argb) { /* a transform of one of ours: filled with its first pixel */
        const VideoBitMap *from = (const VideoBitMap *)argb;
        VideoBitMap *v = width && height ? malloc(sizeof *v + (size_t)width * height * 4) : NULL;
        if (!v) return NULL;
        v->number = ++videoBitMaps, v->width = width, v->height = height;
        for (size_t i = 0; i < (size_t)width * height; i++) v->pixels[i] = from->pixels[0];
        say("AllocVideoBitMap %u %ux%u flags=%x transform of %u %ux%u matrix %g %g %g %g smooth %u\n", v->number,
            width, height, flags, from->number, (unsigned)sourceWidth, (unsigned)sourceHeight, rounded(matrix[0]),
            rounded(matrix[1]), rounded(matrix[2]), rounded(matrix[3]), (unsigned)smooth);
        return v;
    }
    if (sourceWidth && sourceHeight && argb) { /* a scaled copy of one of ours, nearest pixels */
        const VideoBitMap *from = (const VideoBitMap *)argb;
        VideoBitMap *v = width && height ? malloc(sizeof *v + (size_t)width * height * 4) : NULL;
        if (!v) return NULL;
        v->number = ++videoBitMaps, v->width = width, v->height = height;
        for (uint32_t y = 0; y < height; y++)
            for (uint32_t x = 0; x < width; x++)
                v->pixels[(size_t)y * width + x] =
                    from->pixels[(size_t)(y * from->height / height) * from->width + x * from->width / width];
        say("AllocVideoBitMap %u %ux%u flags=%x scale of %u %ux%u smooth %u\n", v->number, width, height, flags,
            from->number, (unsigned)sourceWidth, (unsigned)sourceHeight, (unsigned)smooth);
        return v;
    }
    VideoBitMap *v = argb && width && height ? malloc(sizeof *v + (size_t)width * height * 4) : NULL;
    if (!v) return NULL;
    v->number = ++videoBitMaps, v->width = width, v->height = height;
    if (flags & 2) { /* flag 2: a copy of one of ours */
        const VideoBitMap *from = (const VideoBitMap *)argb;
        for (uint32_t y = 0; y < height; y++)
            for (uint32_t x = 0; x < width; x++)
                v->pixels[(size_t)y * width + x] =
                    x < from->width && y < from->height ? from->pixels[(size_t)y * from->width + x] : 0;
        say("AllocVideoBitMap %u %ux%u copy of %u flags=%x window %d\n", v->number, width, height, from->number,
            flags, (int)window);
        return v;
    }
    memcpy(v->pixels, argb, (size_t)width * height * 4);
    if (flags & ~8u) /* more than the video flag */
        say("AllocVideoBitMap %u %ux%u first %08x flags=%x window %d\n", v->number, width, height, argb[0], flags,
            (int)window);
    else
        say("AllocVideoBitMap %u %ux%u first %08x\n", v->number, width, height, argb[0]);
    return v;
}
void FreeVideoBitMap(void *bitmap)
{
    VideoBitMap *v = bitmap;
    say("FreeVideoBitMap %u\n", v->number);
    free(v);
}
int ReadVideoPixels(void *bitmap, qxVideoPixelsRecord *record)
{
    VideoBitMap *v = bitmap;
    if (!v || record->version != 2) return 0;
    record->pixels = v->pixels, record->pixelFormat = readFormat, record->pixelsPerRow = v->width, record->synced = 1;
    say("ReadVideoPixels %u\n", v->number);
    return 1;
}
void FreeVideoPixels(void *bitmap, qxVideoPixelsRecord *record) { (void)bitmap, (void)record; }
uint64_t DoVideoBitMapMethod(void *bitmap, uint32_t method, uint64_t argument)
{
    (void)bitmap, (void)method, (void)argument;
    return 0;
}
int AllocBitMap(void) { return 0; }
int FreeBitMap(void) { return 0; }
int LockBitMap(void) { return 0; }
int UnLockBitMap(void) { return 0; }
int GetBitMapAttr(void) { return 0; }

/* ---- Satellites ---- */

typedef struct {
    uint32_t kind;
    void *bitmap;
    uint32_t width, height, bytesPerRow, pixelFormat;
    void *mask;
    uint32_t maskBytesPerRow;
    int32_t srcX, srcY, dstX, dstY, blitWidth, blitHeight;
} SatBlit;
_Static_assert(sizeof(SatBlit) == 72, "satellite block");

typedef struct {
    uint32_t number;
    void *automatic;
} ObjectRef;

/* Satellite "A" detaches itself on its first call; "B" and "C" record. */
static void *satellites[3];
static const char satNames[3] = {'A', 'B', 'C'};

static int satCallback(void *satellite, uint32_t op, void *params, void *user)
{
    int i = (int)(intptr_t)user;
    if (op == 0) {
        const SatBlit *b = (const SatBlit *)params;
        say("sat %c blit kind %u %ux%u rect %d,%d %dx%d\n", satNames[i], b->kind, b->width, b->height, b->srcX,
            b->srcY, b->blitWidth, b->blitHeight);
    } else {
        const int32_t *p = (const int32_t *)params;
        say("sat %c op %u %d %d\n", satNames[i], op, p ? p[0] : 0, p ? p[1] : 0);
    }
    if (i == 0 && satellites[0] == satellite) {
        GFX(9, void (*)(void *))(satellite);
        satellites[0] = NULL;
        say("sat A detached\n");
    }
    return 0;
}

/* AdAttach(display, which 0-2[, use source[, options]]): the size it must
 * draw. */
static int adAttach(lua_State *L)
{
    ObjectRef ref = {(uint32_t)NUMBER(1), NULL};
    int i = (int)NUMBER(2);
    Tag tags[] = {{1, 0}, {2, 0}, {5, 0}, {6, 0}, {7, 0}, {3, 0}, {0, 0}};
    if (VM(0, int (*)(lua_State *))(L) >= 3) tags[2].value = (uint64_t)NUMBER(3);
    if (VM(0, int (*)(lua_State *))(L) >= 4) tags[5].value = (uint64_t)NUMBER(4);
    satellites[i] = GFX(8, void *(*)(ObjectRef *, void *, void *, Tag *))(&ref, (void *)satCallback,
                                                                         (void *)(intptr_t)i, tags);
    say("attach %c %s %ux%u bgpic %ux%u\n", satNames[i], satellites[i] ? "ok" : "refused", (unsigned)tags[0].value,
        (unsigned)tags[1].value, (unsigned)tags[3].value, (unsigned)tags[4].value);
    return 0;
}

/* AdSatellite(which, op[, width, height]): 0 detach, 1 redraw, 2 resize. */
static int adSatellite(lua_State *L)
{
    int i = (int)NUMBER(1), op = (int)NUMBER(2), r = 0;
    if (op == 0) {
        GFX(9, void (*)(void *))(satellites[i]);
        satellites[i] = NULL;
    } else if (op == 1) {
        GFX(10, void (*)(void *))(satellites[i]);
    } else {
        r = GFX(11, int (*)(void *, int, int, const Tag *))(satellites[i], (int)NUMBER(3), (int)NUMBER(4), NULL);
    }
    PUSHNUMBER(r);
    return 1;
}

/* AdInput(op, a, b, c[, which]): system slot 16 from satellite "which"
 * (or none). */
static int adInput(lua_State *L)
{
    int32_t p[3] = {(int32_t)NUMBER(2), (int32_t)NUMBER(3), (int32_t)NUMBER(4)};
    void *s = VM(0, int (*)(lua_State *))(L) >= 5 ? satellites[(int)NUMBER(5)] : NULL;
    /* A drop (op 7) carries three names; the event queue owns the list. */
    static const char names[] = "a.txt\0b c.png\0d";
    void *list = NULL;
    if ((uint32_t)NUMBER(1) == 7 && (list = malloc(sizeof names + 1))) {
        memcpy(list, names, sizeof names);
        ((char *)list)[sizeof names] = 0;
    }
    PUSHNUMBER(((int (*)(void *, uint32_t, const int32_t *, void *))host->system[16])(s, (uint32_t)NUMBER(1), p, list));
    return 1;
}

/* Kind-4 callbacks hear whether a display takes dropped files. */
static void dropWatch(void *handle, int on, void *user)
{
    (void)user;
    say("drop handler %d on %d\n", (int)(intptr_t)handle, on);
}

/* AdDropWatch(): registers dropWatch as a kind-4 callback. */
static int adDropWatch(lua_State *L)
{
    (void)L;
    ((void *(*)(uint32_t, void (*)(void), void *))host->system[13])(4, (void (*)(void))dropWatch, NULL);
    return 0;
}

/* AdSlots(display): slots 20, 18 and 19 on the display's handle, and on a
 * handle no display has. */
static int adSlots(lua_State *L)
{
    ObjectRef ref = {(uint32_t)NUMBER(1), NULL}, back = {0, NULL};
    void *handle = GFX(20, void *(*)(ObjectRef *, void *))(&ref, NULL);
    void *again = GFX(20, void *(*)(ObjectRef *, void *))(&back, handle);
    Tag tags[] = {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}, {11, 0}, {99, 0}, {0, 0}};
    intptr_t known = GFX(18, intptr_t (*)(void *, Tag *))(handle, tags);
    double factor;
    memcpy(&factor, &tags[8].value, sizeof factor);
    say("handle %d back %d display %u; attrs %d: %u %u %u %u %x %u %u %u %.1f\n", (int)(intptr_t)handle,
        (int)(intptr_t)again, back.number, (int)known, (unsigned)tags[0].value, (unsigned)tags[1].value,
        (unsigned)tags[2].value, (unsigned)tags[3].value, (unsigned)tags[4].value, (unsigned)tags[5].value,
        (unsigned)tags[6].value, (unsigned)tags[7].value, factor);
    Tag none[] = {{1, 0}, {0, 0}};
    say("refresh %d, unknown handle: refresh %d attrs %d handle %d\n", GFX(19, int (*)(void *))(handle),
        GFX(19, int (*)(void *))((void *)(intptr_t)999), (int)GFX(18, intptr_t (*)(void *, Tag *))((void *)999, none),
        (int)(intptr_t)GFX(20, void *(*)(ObjectRef *, void *))(&back, (void *)(intptr_t)999));
    return 0;
}

/* AdInstall(flags[, pixel format]): graphics slot 13's result. */
static int adInstall(lua_State *L)
{
    Tag tags[] = {{1, 10}, {2, 8}, {3, 5}, {0, 0}};
    if (VM(0, int (*)(lua_State *))(L) >= 2) tags[0].value = (uint64_t)NUMBER(2);
    PUSHNUMBER(GFX(13, int (*)(qxPluginInfo *, uint32_t, const Tag *))(self, (uint32_t)NUMBER(1), tags));
    return 1;
}

/* The log without its last newline (the console adds one). */
static int adLog(lua_State *L)
{
    if (logLength && logText[logLength - 1] == '\n') logText[--logLength] = 0;
    VM(23, void (*)(lua_State *, const char *))(L, logText);
    logLength = 0;
    logText[0] = 0;
    return 1;
}

/* AdLogLine(start): the first logged line that begins so (or ""); the log
 * is emptied. */
static int adLogLine(lua_State *L)
{
    const char *start = VM(45, const char *(*)(lua_State *, int, size_t *))(L, 1, NULL);
    size_t n = strlen(start);
    const char *line = logText, *found = NULL;
    while (*line && !found) {
        if (!strncmp(line, start, n)) found = line;
        const char *end = strchr(line, '\n');
        line = end ? end + 1 : line + strlen(line);
    }
    const char *end = found ? strchr(found, '\n') : NULL;
    VM(22, void (*)(lua_State *, const char *, size_t))(L, found ? found : "",
                                                       found ? (end ? (size_t)(end - found) : strlen(found)) : 0);
    logLength = 0;
    logText[0] = 0;
    return 1;
}

static int adEarly(lua_State *L)
{
    PUSHNUMBER(earlyInstall);
    return 1;
}

static int adQuitOnPoll(lua_State *L)
{
    (void)L;
    quitOnPoll = 1;
    return 0;
}

/* ---- Input and system slots ---- */

typedef struct {
    uint64_t handle;
    uint32_t a, b, c, d;
} EventArgs;
_Static_assert(sizeof(EventArgs) == 24, "event record");

/* AdPost(code, handle, a, b, c, d[, through L]): the host event function,
 * system slot 15 or, with the seventh argument, slot 27; handle -1 passes
 * no record. */
static int adPost(lua_State *L)
{
    EventArgs args = {(uint64_t)NUMBER(2), (uint32_t)NUMBER(3), (uint32_t)NUMBER(4), (uint32_t)NUMBER(5),
                      (uint32_t)NUMBER(6)};
    EventArgs *record = NUMBER(2) < 0 ? NULL : &args;
    uint32_t code = (uint32_t)NUMBER(1);
    int r;
    if (VM(0, int (*)(lua_State *))(L) >= 7)
        r = ((int (*)(lua_State *, uint32_t, EventArgs *))host->system[27])(L, code, record);
    else
        r = ((int (*)(uint32_t, EventArgs *))host->system[15])(code, record);
    PUSHNUMBER(r);
    return 1;
}

/* AdAttributes(): system slot 0 with tags 32 (GTK), 35 (refresh rate), 46
 * (scale factor) and an unknown one. */
static int adAttributes(lua_State *L)
{
    uint32_t gtk = 7, rate = 0;
    double scale = 0;
    Tag tags[] = {{32, (uint64_t)(uintptr_t)&gtk}, {35, (uint64_t)(uintptr_t)&rate},
                  {46, (uint64_t)(uintptr_t)&scale}, {99, 0}, {0, 0}};
    int handled = ((int (*)(Tag *))host->system[0])(tags);
    char text[96];
    snprintf(text, sizeof text, "handled %d gtk %u rate %u scale %.2f", handled, gtk, rate, scale);
    VM(23, void (*)(lua_State *, const char *))(L, text);
    return 1;
}

/* AdSpecialPath(id): system slot 53, or "none". */
static int adSpecialPath(lua_State *L)
{
    char path[1024];
    int ok = ((int (*)(uint32_t, char *, size_t))host->system[53])((uint32_t)NUMBER(1), path, sizeof path);
    VM(23, void (*)(lua_State *, const char *))(L, ok ? path : "none");
    return 1;
}

/* AdRunEvents(flags): system slot 20. */
static int adRunEvents(lua_State *L)
{
    PUSHNUMBER(((int (*)(lua_State *, uint32_t))host->system[20])(L, (uint32_t)NUMBER(1)));
    return 1;
}

/* AdShowPixel(flag): blits log their source's first pixel from now on. */
static int adShowPixel(lua_State *L)
{
    showPixel = (int)NUMBER(1);
    return 0;
}

/* AdReadFormat(format): the pixel format ReadVideoPixels reports from now
 * on (the pixels stay ARGB). */
static int adReadFormat(lua_State *L)
{
    readFormat = (uint32_t)NUMBER(1);
    return 0;
}

/* AdQualifiers(bits): what GetQualifiers answers from now on. */
static int adQualifiers(lua_State *L)
{
    qualifiers = (uint32_t)NUMBER(1);
    return 0;
}

/* AdOpenFlag(v): the first out flag of the next OpenDisplay. */
static int adOpenFlag(lua_State *L)
{
    openFlag = (uint32_t)NUMBER(1);
    return 0;
}

static int adRequired(lua_State *L)
{
    PUSHNUMBER(requireInstall);
    return 1;
}

static const qxPluginCommand commands[] = {
    {"AdPost", adPost}, {"AdAttributes", adAttributes}, {"AdSpecialPath", adSpecialPath},
    {"AdRunEvents", adRunEvents}, {"AdRequired", adRequired}, {"AdQualifiers", adQualifiers},
    {"AdLogLine", adLogLine}, {"AdShowPixel", adShowPixel}, {"AdReadFormat", adReadFormat},
    {"AdInstall", adInstall}, {"AdLog", adLog},     {"AdEarly", adEarly},   {"AdAttach", adAttach},
    {"AdSatellite", adSatellite}, {"AdInput", adInput}, {"AdSlots", adSlots}, {"AdQuitOnPoll", adQuitOnPoll},
    {"AdDropWatch", adDropWatch}, {"AdOpenFlag", adOpenFlag},
    {NULL, NULL},
};
static const qxPluginConstant constants[] = {{NULL, NULL, 0}};

const char *GetBaseTable(void) { return NULL; }
const qxPluginCommand *GetCommands(void) { return commands; }
const qxPluginConstant *GetConstants(void) { return constants; }
int InitLibrary(lua_State *L)
{
    (void)L;
    /* Too early: start-up has not begun making the declared objects. */
    Tag none[] = {{0, 0}};
    earlyInstall = GFX(13, int (*)(qxPluginInfo *, uint32_t, const Tag *))(self, 0, none);
    return 0;
}
void FreeLibrary(lua_State *L) { (void)L; }
void GetHelpStrings(void) {}

/* Required at start-up: the adapter takes over before the first display. */
int RequirePlugin(lua_State *L, int version, int revision, uint32_t flags, void *record)
{
    (void)L, (void)version, (void)revision, (void)flags, (void)record;
    Tag none[] = {{0, 0}};
    requireInstall = GFX(13, int (*)(qxPluginInfo *, uint32_t, const Tag *))(self, 0, none);
    return 0;
}
