// BGPic records: the list, the three plane sets (base as loaded, working at
// the script's size, current as a display shows it), the fill record and
// what layers, sprites and selections keep on a BGPic. The commands live in
// the BGPic library; displays use the record, the list and the creators here.
#pragma once
#include <cstdint>

#include "core/commands/qx_objreg.h"
#include "display/qx_bitmap.h"
#include "imaging/qx_gradient.h"
#include "platform/qx_objectref.h"

struct lua_State;
struct qxPicSource;
struct qxPluginInfo;
struct qxLayer;
struct qxBGPicButton;

// Object type codes shared by image objects, layers and output targets.
enum : uint32_t {
    QX_TYPE_BGPIC = 1,
    QX_TYPE_BRUSH = 3,
    QX_TYPE_ANIM = 4,
    QX_TYPE_NOOBJECT = 7,
    QX_TYPE_TEXTOBJECT = 8,
    QX_TYPE_BRUSHPART = 12,
    QX_TYPE_BGPICPART = 13,
    QX_TYPE_LAYER = 22,
    QX_TYPE_MASK = 28,
    QX_TYPE_ALPHACHANNEL = 30,
};

enum : uint32_t { QX_FILL_NONE = 0, QX_FILL_COLOR = 1, QX_FILL_GRADIENT = 2, QX_FILL_TEXTURE = 3 };

// How a BGPic (or display, or shape) is filled: colour, gradient or a tiled
// texture brush whose bitmap is cached here.
struct qxFillRecord {
    uint32_t style;
    uint32_t colour; // 0xRRGGBB
    qxGradient gradient;
    qxObjectRef textureBrush;
    qxBitMap *textureBitmap; // cached copy of the texture brush's bitmap
    int32_t textureX, textureY;
    uint32_t textureWidth, textureHeight;
    uint32_t filled; // a BGPic command filled the record
};

struct qxLayerListHead {
    qxLayer *first; // bottom
    qxLayer *last;
    uint32_t count;
};

// An identifier request of a creator: {0, QX_NEW_AUTOMATIC} asks for the
// record's own address as its automatic identifier.
#define QX_NEW_AUTOMATIC (reinterpret_cast<void *>(1))

struct qxBGPic {
    // Same leading layout as qxObjectHeader, so the object registry walks it.
    uint32_t type;
    uint32_t id;
    void *automatic;
    qxBGPic *next;
    qxObjectDataItem *data;

    qxPicSource *source; // vector pictures and pictures waiting for a display
    // Working planes: the BGPic at the size the script sees.
    qxBitMap *bitmap, *mask, *alpha;
    int32_t width, height;
    // Current planes: what a display shows (scaled with the display).
    qxBitMap *curBitmap, *curMask, *curAlpha;
    int32_t curWidth, curHeight;
    // Base planes: as loaded or created.
    qxBitMap *baseBitmap, *baseMask, *baseAlpha;
    int32_t baseWidth, baseHeight;
    uint32_t rowLength;
    uint32_t transparentColour; // 0xFFFFFFFF none
    uint32_t *palette;          // 256 entries and an end mark, or none
    qxLayerListHead layers;
    void *sprites; // on-screen sprite list
    uint32_t locked;
    uint32_t pendingDeletion;
    qxBGPicButton *buttons; // new ones first
    // Only meaningful in the current output record.
    uint32_t selectedType;
    uint32_t selectedFrame;
    void *selectedRecord;
    qxObjectRef selectedRef;
    uint32_t modified;

    qxFillRecord fill;
    uint32_t kind; // 0 pixels, 1 re-renderable (vector source or gradient/texture fill)
    qxPluginInfo *loader;
    uint32_t deferred; // loaded before a display existed: only the source is kept
    // Drawn into, or its layers changed, since a transition last composed it.
    uint32_t changed;
};

static_assert(__builtin_offsetof(qxBGPic, next) == __builtin_offsetof(qxObjectHeader, next) &&
              __builtin_offsetof(qxBGPic, data) == __builtin_offsetof(qxObjectHeader, data));

// Calls up into the layer engine about which layers show an object; filled
// by the top at start-up. Null entries answer "no layer".
struct qxLayerQueryHooks {
    // 1 when a layer other than skip shows (type, ref); the first BGPic and
    // layer found are stored where places are given.
    int (*findLayerUsing)(uint32_t type, qxObjectRef ref, const void *skip, qxBGPic **bgpicOut, void **layerOut);
    // Points every layer that shows (type, ref) at {0, newAutomatic}; 1 when one changed.
    int (*repointLayers)(uint32_t type, qxObjectRef ref, void *newAutomatic);
    // Frees a BGPic's layers (its layer list) before the BGPic goes.
    void (*freeBGPicLayers)(lua_State *L, qxBGPic *bgpic, int dropReferences);
    // Frees a BGPic's on-screen sprite list.
    void (*freeSpriteList)(lua_State *L, qxBGPic *bgpic);
    // The number of sprites shown on a BGPic.
    int (*countDisplayedSprites)(const qxBGPic *bgpic);
    // Frees the objects of the kinds (bits 1 brushes .. 16 videos) that the
    // script freed while layers showed them and no layer shows any longer.
    void (*flushDeletedObjects)(lua_State *L, uint32_t kinds);
    // Makes every layer rendition that refers to a clip region let go of it.
    void (*clearClipLinks)(const void *region);
    // 1 when a layer rendition still refers to a clip region.
    int (*clipRegionUsed)(const void *region);
    // Marks a layer's screen rectangle dirty on the current display.
    void (*markLayerDirty)(lua_State *L, const void *layer);
    // The object data list of the layer that argument arg names on the
    // current layer BGPic: 0, 1078 with layers off, else 1081.
    int (*layerDataList)(lua_State *L, int arg, qxObjectDataItem ***out);
    // Stores the positions of the current layer BGPic's layers into the
    // table on top of the stack from index 0; their count (0 with layers off).
    int (*pushLayerIDs)(lua_State *L);
    // Switches a display's layers on as EnableLayers does: 0 or its code.
    int (*enableLayers)(struct qxDisplay *display);
};

extern "C" {
extern qxBGPic *qxBGPics;
// Where drawing currently goes (a BGPic, or a record describing a selected
// brush, mask, alpha channel, anim frame or layer); none without output.
extern qxBGPic *qxCurrentOutput;
extern qxLayerQueryHooks qxLayerQueries;

// Allocates and appends a BGPic owning the given planes, palette and source
// (all three plane sets are these planes); copies fill when given (but not
// its cached texture). An automatic request in *ref receives the record's
// address. 0 or 1000; on failure nothing is taken over.
int qxAllocBGPic(qxObjectRef *ref, uint32_t kind, int32_t width, int32_t height, uint32_t rowLength,
                 qxPicSource *source, qxBitMap *bitmap, uint32_t *palette, uint32_t transparentColour,
                 qxBitMap *mask, qxBitMap *alpha, const qxFillRecord *fill, qxBGPic **out);
// Sets the record's type, identifier (when given), selection and the three
// plane sets; zeroFirst clears the record first.
void qxInitBGPicRecord(qxBGPic *record, uint32_t selectedType, void *selectedRecord, uint32_t selectedFrame,
                       const qxObjectRef *ref, qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width,
                       int32_t height, int zeroFirst);
// A width x height BGPic filled with colour (0xRRGGBB), fill style colour.
// 0, 1000, 1218 or 1522.
int qxCreateBGPicFromBitmap(qxObjectRef *ref, int32_t width, int32_t height, uint32_t colour, qxBGPic **out);
// Replaces all three plane sets with one new bitmap (display-made BGPics
// that follow the display's size); the old planes are freed.
void qxReplaceBGPicPlanes(qxBGPic *bgpic, qxBitMap *bitmap, int32_t width, int32_t height);
// Replaces all planes with a new width x height bitmap of one colour
// (0xRRGGBB), the BGPic's fill colour from then on. 0, 1152 or 1522.
int qxRefillBGPic(qxBGPic *bgpic, int32_t width, int32_t height, uint32_t colour);
// Frees a pixel bitmap with its mask and alpha channel; each may be none.
void qxFreeImagePlanes(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha);
// The record with this identifier, pending deletion or not; no rules.
qxBGPic *qxFindBGPicRecord(qxObjectRef ref);
// Frees separate current planes: the working planes are shown again.
void qxUseWorkingPlanes(qxBGPic *bgpic);
// Frees the separate working and current planes (those that are not the base ones).
void qxFreeBGPicWorkBitmaps(qxBGPic *bgpic);
// Frees everything the record owns, but not the record.
void qxFreeBGPicContents(lua_State *L, qxBGPic *bgpic, int dropReferences);
// Unlinks and frees a record at once; with L its buttons, layers and named
// values let go of their registry references.
void qxFreeBGPicRecord(lua_State *L, qxBGPic *bgpic);
// Frees every record, its named values included (with L), and empties the list.
void qxFreeBGPicList(lua_State *L);
// Fills a pixel bitmap with 0xRRGGBB (opaque); 1152 when it cannot be locked.
int qxFillBitMapColour(qxBitMap *bitmap, uint32_t colour);
}
