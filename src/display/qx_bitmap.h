// Bitmap handles: pixel bitmaps, alpha channels and masks behind one small
// handle, whether the pixels live in a buffer of our own, in a display
// adapter or in its video memory; locks, blits and the picture cache.
#pragma once
#include <cstdint>

#include "imaging/qx_pixelformat.h"
#include "platform/qx_hooks.h"

struct lua_State;
struct qxPluginInfo;

enum : uint32_t { QX_BITMAP_PIXELS = 0, QX_BITMAP_ALPHA = 1, QX_BITMAP_MASK = 2 };

struct qxBitMap {
    uint32_t kind;
    void *data; // platform buffer, adapter bitmap, video bitmap or plane record
    uint32_t width;
    uint32_t height;
    uint32_t video;
    uint32_t synced;
};

// An alpha channel or mask held by us.
struct qxBitMapPlane {
    uint32_t kind;
    uint32_t width;
    uint32_t height;
    uint8_t *pixels;
    uint32_t bytesPerRow;
    uint32_t borrowed; // the bytes belong to the caller
};

struct qxBitMapLock {
    void *pixels;
    uint64_t handle; // adapter lock handle, 1 for ours, 0 failed
    uint32_t pixelFormat;
    uint32_t bytesPerPixel;
    uint32_t pixelsPerRow;
    uint32_t width;
    uint32_t height;
    uint32_t software; // 1 for a plane
};

// The record an adapter's LockBitMap fills (32 bytes).
struct qxAdapterLockRecord {
    void *pixels;
    uint32_t pitch;
    uint32_t reserved[2];
    uint32_t width;
    uint32_t height;
    uint32_t reserved2;
};
static_assert(sizeof(qxAdapterLockRecord) == 32);

// The record an adapter's BltBitMap receives (88 bytes).
struct qxAdapterBlitRecord {
    uint32_t sx, sy, dx, dy, width, height;
    uint32_t scaledWidth, scaledHeight; // window blits: the size to show
    uint32_t smooth;
    uint32_t reserved;
    void *mask;  // byte 40
    void *alpha; // byte 48
    const void *clipRects; // window blits: {x, y, width, height} each
    uint32_t clipCount;
    int32_t clipX, clipY;  // -1 without a clip
    uint8_t reserved2[12];
};
static_assert(sizeof(qxAdapterBlitRecord) == 88 && __builtin_offsetof(qxAdapterBlitRecord, mask) == 40 &&
              __builtin_offsetof(qxAdapterBlitRecord, alpha) == 48);

// A tag of the lists handed to the adapter.
struct qxBitMapTag {
    uint32_t tag;
    uint64_t value;
};

// Adapter flags and drawing flags.
enum : uint32_t {
    QX_ADAPTER_VIDEOBITMAPS = 0x10, QX_ADAPTER_OWNSBITMAPS = 0x20, QX_ADAPTER_INVERTALPHA = 0x80,
    QX_DRAW_BLIT = 1, QX_DRAW_MASKED = 2, QX_DRAW_ALPHA = 4, QX_DRAW_RECTFILL = 8, QX_DRAW_PIXEL = 16,
    QX_DRAW_LINE = 32,
};

// Entry points of the display adapter used by the bitmap layer.
extern "C" {
typedef void *(*qxAdapterAllocBitMapFn)(uint32_t kind, uint32_t width, uint32_t height, uint32_t clear,
                                        const qxBitMapTag *tags);
typedef void (*qxAdapterFreeBitMapFn)(void *bitmap);
typedef uint64_t (*qxAdapterGetBitMapAttrFn)(void *bitmap, uint32_t attribute, const qxBitMapTag *tags);
typedef uint64_t (*qxAdapterLockBitMapFn)(void *bitmap, uint32_t read, qxAdapterLockRecord *out,
                                          const qxBitMapTag *tags);
typedef void (*qxAdapterUnLockBitMapFn)(uint64_t handle);
typedef void *(*qxAdapterAllocVideoBitMapFn)(uint32_t width, uint32_t height, uint32_t flags,
                                             const qxBitMapTag *tags);
typedef void (*qxAdapterFreeVideoBitMapFn)(void *bitmap);
typedef uint64_t (*qxAdapterVideoMethodFn)(void *bitmap, uint32_t method, uint64_t argument);
typedef int (*qxAdapterBltBitMapFn)(void *source, void *dest, qxAdapterBlitRecord *record, uint32_t flags,
                                    const qxBitMapTag *tags);
typedef int (*qxAdapterRectFillFn)(void *bitmap, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour,
                                   uint32_t flags, const qxBitMapTag *tags);
typedef int (*qxAdapterWritePixelFn)(void *bitmap, int32_t x, int32_t y, uint32_t colour, uint32_t flags,
                                     const qxBitMapTag *tags);
typedef int (*qxAdapterLineFn)(void *bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                               uint32_t flags, const qxBitMapTag *tags);
}

// What the adapter declared when it was installed (install tags 1 and 2).
struct qxAdapterDrawInfo {
    uint32_t pixelFormat; // 10 by default
    uint32_t drawFlags;
};

// The clip rectangle SafeBlt and the plane blits clip against.
struct qxClipRect {
    int32_t x, y, width, height;
};

// What SafeBlt needs to know of the current display, filled by the display
// layer for one call.
struct qxSafeBltView {
    void *display;             // handed back to the display blits
    uint32_t outputType;       // 21 the display itself; 28/30 a mask/alpha target
    uint32_t layersOn;
    uint32_t doubleBufferShown; // the display's second double-buffer state flag
    qxBitMap *work1, *work2;   // the display's work bitmaps
    uint32_t autoScaled;       // auto scaling with a scaled size
    qxBitMap *targetMask, *targetAlpha; // M and A of the output target, or none
    int32_t selectBlendMode;
    int32_t maskMode;
    uint32_t alphaIntensity;   // 0xFFFFFFFF while unset
    uint32_t hasClip;
    qxClipRect clip;           // the clip region's rectangle
    qxBitMap *clipMask;        // its mask, or none
};

// Calls up into the display layer, filled by it when it starts; a NULL
// entry means "no display": the bitmap layer then takes its own fall-back.
struct qxBitMapDisplayHooks {
    // The BltBitMap flags 8 and 16 (or RectFill flag 4 when rectFill) that a
    // drawing onto dest earns from the current Select target.
    uint32_t (*selectTargetFlags)(const struct qxBitMap *dest, int rectFill);
    // Shows a rectangle of a bitmap in the display's window (the display
    // blit behind qxBltBitMapToDisplay); mask may be none.
    void (*bltToDisplay)(struct qxBitMap *bitmap, int32_t sx, int32_t sy, void *display, int32_t dx, int32_t dy,
                         int32_t w, int32_t h, uint32_t flags, struct qxBitMap *mask);
    // Redraws and shows a rectangle of the display (qxBltToScreen).
    void (*bltToScreen)(lua_State *L, struct qxBitMap *bitmap, int32_t sx, int32_t sy, void *display, int32_t dx,
                        int32_t dy, int32_t w, int32_t h);
    // Fills the view of the current display for a SafeBlt onto target (none:
    // the display); 0 when there is no current display.
    int (*currentView)(struct qxBitMap *target, void *clipRegion, qxSafeBltView *view);
    // 1 when a sprite shown on the current output overlaps the rectangle.
    int (*spriteOverlap)(int32_t x, int32_t y, int32_t w, int32_t h);
    // Redraws a rectangle of the display's BGPic and layers into a bitmap,
    // with the sprites when withSprites (Redraw).
    void (*redraw)(lua_State *L, struct qxBitMap *into, int32_t x, int32_t y, int32_t w, int32_t h, int withSprites);
    // Brings the BGPic and layers of a display that scales its layers to
    // the display's new scale and composes them again.
    int (*rescaleLayers)(lua_State *L, struct qxDisplay *display);
    // The display's work bitmap composed again whole from its BGPic, layers
    // and sprites (at its scale when it scales its layers), as its window
    // shows it; the work bitmap is left alone when it shows neither.
    int (*composeDisplay)(lua_State *L, struct qxDisplay *display);
    // The display's new BGPic composed with its layers into the work
    // bitmap, its layers first rendered again when the display scales them.
    int (*showBGPic)(lua_State *L, struct qxDisplay *display);
};

// The picture cache's reference-counted source (subsystem 5 owns it).
struct qxPicSource;
typedef void (*qxPicSourceRefFn)(qxPicSource *source, int delta);

extern "C" {

extern qxAdapterDrawInfo qxAdapterInfo;
extern qxBitMapDisplayHooks qxBitMapDisplay;
// Raises (+1) or releases (-1) a cached picture source; filled by the
// picture layer. NULL: sources are not counted.
extern qxPicSourceRefFn qxPicSourceRef;

// The installed display adapter with the given entry point, or NULL.
void *qxAdapterEntry(int slot);
uint32_t qxAdapterFlags(void);

qxBitMap *qxAllocBitMap(uint32_t width, uint32_t height, uint32_t flags, const qxBitMapTag *tags);
qxBitMap *qxAllocAlphaBitMap(uint32_t width, uint32_t height, int clear, void *buffer, uint32_t bytesPerRow);
qxBitMap *qxAllocMaskBitMap(qxBitMap *source, uint32_t width, uint32_t height, int clear, void *buffer,
                            uint32_t bytesPerRow);
void qxFreeBitMap(qxBitMap *bitmap);
void qxFreeAlphaBitMap(qxBitMap *alpha);
void qxFreeMaskBitMap(qxBitMap *mask);
qxBitMap *qxCopyAlphaBitMap(qxBitMap *alpha, uint32_t width, uint32_t height);
qxBitMap *qxAlphaFromBuffer(const uint32_t *argb, uint32_t width, uint32_t height, uint32_t pixelsPerRow);
void *qxGetBitMapData(qxBitMap *bitmap);
uint64_t qxGetBitMapAttr(qxBitMap *bitmap, uint32_t selector);
// A new pixel bitmap of ours filled with 0xRRGGBB (opaque) only when its
// pixels are first locked; 0 (nothing done) for any other bitmap.
int qxDeferBitMapColour(qxBitMap *bitmap, uint32_t colour);
// 1 with the colour while such a fill is pending: every pixel is that colour.
int qxBitMapPlainColour(const qxBitMap *bitmap, uint32_t *colour);
uint64_t qxAdapterGetBitMapAttr(void *plane, uint32_t attribute);
void qxBitMapSyncHardware(qxBitMap *bitmap);
uint32_t qxAlphaRowBytes(uint32_t width);
uint32_t qxMaskRowBytes(uint32_t width);

int qxFindGfxCacheEntry(const char *fileName, int wantAlpha, uint32_t *width, uint32_t *height, uint32_t *flags,
                        qxPicSource **source, qxBitMap **alpha, uint32_t *extra);
int qxAddGfxCacheEntry(const char *fileName, uint32_t width, uint32_t height, uint32_t flags, qxPicSource *source,
                       qxBitMap *alpha, uint32_t extra);
void qxFreeGfxCache(void);

// Locks and blits.
uint64_t qxLockBitMap(void *bitmap, uint32_t flags, qxBitMapLock *lock);
// The tag list the adapter's BltBitMap gets with blits of this source (a
// hardware brush the adapter blends or turns), until set again; NULL
// clears it. qxAdapterBlitTags: the list for a source, or NULL.
void qxSetAdapterBlitTags(const qxBitMap *source, const qxBitMapTag *tags);
const qxBitMapTag *qxAdapterBlitTags(const qxBitMap *source);
void qxUnLockBitMap(qxBitMapLock *lock);
void qxBltBitMapDirect(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy,
                       int32_t w, int32_t h);
void qxBltBitMapMasked(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy,
                       int32_t w, int32_t h, qxBitMap *mask);
void qxBltBitMapThroughAlpha(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy,
                             int32_t w, int32_t h, qxBitMap *alpha);
void qxBltLockedBitMaps(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy,
                        int32_t w, int32_t h, qxBitMap *sourceAlpha, qxBitMap *destAlpha, int32_t blendMode);
// Raw planes: pixels with their pitch in pixels, planes with their row size.
void qxBltPixelsByMode(const void *source, int32_t sx, int32_t sy, int32_t sourcePitch, void *dest, int32_t dx,
                       int32_t dy, int32_t destPitch, int32_t w, int32_t h, const uint8_t *alpha,
                       int32_t alphaBytesPerRow, const uint8_t *destAlpha, int32_t destAlphaBytesPerRow,
                       uint32_t bytesPerPixel, uint32_t layout, int32_t blendMode);
void qxBltSimplePixels(const void *source, int32_t sx, int32_t sy, int32_t sourcePitch, void *dest, int32_t dx,
                       int32_t dy, int32_t destPitch, int32_t w, int32_t h, uint32_t bytesPerPixel);
void qxBltMaskedPixels(const void *source, int32_t sx, int32_t sy, int32_t sourcePitch, void *dest, int32_t dx,
                       int32_t dy, int32_t destPitch, int32_t w, int32_t h, const uint8_t *mask,
                       int32_t maskBytesPerRow, uint32_t bytesPerPixel);
// Clips a blit rectangle; 0 when nothing is left.
int qxClipBltRect(const qxClipRect *clip, int32_t *sx, int32_t *sy, int32_t *dx, int32_t *dy, int32_t *w,
                  int32_t *h, int32_t sourceWidth, int32_t sourceHeight, int32_t targetWidth, int32_t targetHeight,
                  int useClip);
// Trims a rectangle to a clip rectangle {x, y, width, height}, moving the
// position by as much as the size shrinks on the left and top; returns
// the offsets through moveX and moveY (either may be NULL).
int qxClipRectToBounds(const qxClipRect *clip, int32_t *x, int32_t *y, int32_t *w, int32_t *h, int32_t *moveX,
                       int32_t *moveY);

// The common shape of a bitmap-level kernel front-end: lock (or use the
// caller's lock), run the 32-bit or 16-bit kernel by bytes per pixel (any
// other size does nothing and succeeds), unlock. 1152 when the lock fails.
typedef void (*qxLockedKernel)(const qxBitMapLock *lock, void *argument);
int qxRunKernel(qxBitMap *bitmap, uint32_t lockFlags, const qxBitMapLock *given, qxLockedKernel kernel32,
                qxLockedKernel kernel16, void *argument);

void qxBltToScreen(lua_State *L, qxBitMap *bitmap, int32_t sx, int32_t sy, void *display, int32_t dx, int32_t dy,
                   int32_t w, int32_t h);
// Skipped while the display (a qxDisplay) is in refresh mode, unless flags
// carry QX_BLT_FORCE.
#define QX_BLT_FORCE 0x80u
void qxBltBitMapToDisplay(qxBitMap *bitmap, int32_t sx, int32_t sy, void *display, int32_t dx, int32_t dy,
                          int32_t w, int32_t h, uint32_t flags);
void qxBltMaskedToDisplay(qxBitMap *bitmap, int32_t sx, int32_t sy, void *display, int32_t dx, int32_t dy,
                          int32_t w, int32_t h, uint32_t flags, qxBitMap *mask);
void SafeBlt(lua_State *L, qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *target, int32_t dx, int32_t dy,
             int32_t w, int32_t h, int32_t sourceWidth, int32_t sourceHeight, int32_t targetWidth,
             int32_t targetHeight, uint32_t flags, qxBitMap *mask, qxBitMap *alpha, void *clipRegion);
}
