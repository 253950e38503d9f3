// Brush records: the list, lookup with find flags, creation, copying,
// freeing, realisation of brushes loaded before a display, and hardware
// brushes held by a display adapter.
#pragma once
#include <cstdint>

#include "core/commands/qx_objreg.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "platform/qx_objectref.h"

struct lua_State;
struct qxPicSource;
struct qxPluginInfo;
struct qxDisplay;

enum : uint32_t { QX_BRUSH_PIXELS = 0, QX_BRUSH_VECTOR = 1 };

// Find flags of image objects.
enum : uint32_t {
    QX_FIND_MODIFY = 1,
    QX_FIND_PENDING = 2,
    QX_FIND_NOCOPY = 4,
    QX_FIND_NOVECTOR = 8,
    QX_FIND_HARDWARE = 16,
};

// Hardware flags of a brush.
constexpr uint32_t QX_HWBRUSH_MASK = 1, QX_HWBRUSH_ALPHA = 2;

struct qxBrushPathEntry; // vector path conversions

struct qxBrush {
    // Same leading layout as qxObjectHeader.
    uint32_t type;
    uint32_t id;
    void *automatic;
    qxBrush *next;
    qxObjectDataItem *data;

    qxPicSource *source; // vector brushes and brushes waiting for realisation
    qxBitMap *bitmap, *mask, *alpha;
    uint32_t width, height;
    uint32_t pitch; // pixels per row of the source pixels
    uint32_t locked;
    uint32_t pendingDeletion;
    uint32_t transparentColour; // 0xFFFFFFFF none
    uint32_t scaled;            // a vector brush loaded at "scalewidth"/"scaleheight"
    uint32_t kind;
    uint32_t cropX, cropY, cropWidth, cropHeight; // kept for deferred realisation
    uint32_t hardware;
    uint32_t smooth;
    uint32_t hardwareFlags;
    qxObjectRef hardwareDisplay;
    qxDisplay *display;
    uint32_t *pixelBackup; // ARGB of a hardware brush while its display is closed
    qxPluginInfo *loader;
    qxBrushPathEntry *paths;
    uint32_t globalAlpha;    // "globalalpha" waiting for realisation; 0xFFFFFFFF none
    // The matrix a vector brush is rendered at, against its source's
    // natural size, once ScaleBrush or TransformBrush changed it; before
    // that the brush's size over the natural size.
    double renderMatrix[4];
    uint32_t hasRenderMatrix;
};

static_assert(__builtin_offsetof(qxBrush, next) == __builtin_offsetof(qxObjectHeader, next) &&
              __builtin_offsetof(qxBrush, data) == __builtin_offsetof(qxObjectHeader, data));

// What plug-ins hand the brush creator (slot 12 of the graphics host table).
struct qxBrushPixelRecord {
    const uint32_t *pixels; // ARGB, or none for a blank brush
    uint32_t pitch;         // pixels per row
    uint32_t transparentColour;
    uint32_t flags; // QX_BRUSHPIX_*
    void *getImage, *close, *render, *directTransform;
    void *handle;
};

enum : uint32_t { QX_BRUSHPIX_ALPHA = 1, QX_BRUSHPIX_TRANSPARENT = 2, QX_BRUSHPIX_CUSTOM = 4 };

extern "C" {
extern qxBrush *qxBrushes;

int qxFindBrush(lua_State *L, qxObjectRef ref, qxBrush **out, uint32_t flags);
// Appends a brush owning the given planes and source; an automatic request
// in *ref receives the record's address. 0 or 1000.
int qxAddBrush(qxObjectRef *ref, uint32_t kind, uint32_t width, uint32_t height, uint32_t pitch, uint32_t scaled,
               qxPicSource *source, qxBitMap *bitmap, uint32_t transparentColour, qxBitMap *mask, qxBitMap *alpha,
               const qxObjectRef *hardwareDisplay, qxBrush **out);
int qxCopyBrush(lua_State *L, qxBrush *brush, qxObjectRef *newRef, int hardware, int smooth,
                const qxObjectRef *display);
int qxCopyBrushCallback(lua_State *L, void *brush, qxObjectRef *newRef);
int qxFreeBrush(lua_State *L, qxObjectRef ref, int strict);
void qxFreeBrushData(lua_State *L, qxBrush *brush);
// The matrix a vector brush is rendered at against its source's natural
// size, which goes into *naturalWidth and *naturalHeight; 0 when the
// source has no size.
int qxVectorBrushMatrix(const qxBrush *brush, double matrix[4], uint32_t *naturalWidth, uint32_t *naturalHeight);
// m = a after b, for points mapping as (x, y) -> (m0 x + m2 y, m1 x + m3 y).
void qxComposeMatrix(const double a[4], const double b[4], double m[4]);
void qxFlushDeletedBrushes(lua_State *L);
void qxFreeAllBrushes(lua_State *L);
// A brush's bitmap from ARGB rows (with its mask from the transparent
// colour): in the adapter's video memory, given the pixels with their mask
// or alpha plane, when hardware is asked for and offered (*display then the
// adapter's display); else an ordinary bitmap.
int qxBrushBitMapFromARGB(const uint32_t *pixels, uint32_t transparent, int32_t width, int32_t height,
                          int32_t pixelsPerRow, int smooth, qxBitMap *alpha, int hardware,
                          const qxObjectRef *hardwareDisplay, qxBitMap **bitmap, qxBitMap **mask, qxDisplay **display);
int qxFillBrushPixels(qxObjectRef *ref, int32_t width, int32_t height, uint32_t colour, int mask, int alpha,
                      int clear, int noFill, int hardware, int smooth, const qxObjectRef *hardwareDisplay);
int qxRealizeBrushes(int forceSoftware, int keepHardware);
int qxBackupHardwareBrushes(qxDisplay *display);
int qxRebuildBrushBitmaps(qxDisplay *display);
void qxFreeDeletedBrushes(lua_State *L, qxDisplay *display);
void *qxHardwareBrushHandle(qxObjectRef *ref, void *handle);
int qxBrushFromLayer(lua_State *L, qxObjectRef *ref, uint32_t width, uint32_t height,
                     const qxBrushPixelRecord *record);
int qxGetBrushBitmaps(lua_State *L, qxObjectRef ref, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                      uint32_t *width, uint32_t *height);
int qxGetBrushImage(lua_State *L, qxObjectRef ref, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                    uint32_t *width, uint32_t *height);
// A brush under an automatic identifier made from a bitmap and its optional
// mask or alpha; the brush owns them on success, the caller frees them on failure.
int qxBrushFromBitmap(qxObjectRef *ref, qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, uint32_t width,
                      uint32_t height, uint32_t transparentColour);
}
