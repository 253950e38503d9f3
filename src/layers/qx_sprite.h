// Sprites: multi-frame images floating above a BGPic while layers are off.
// One global list of sprites and, per BGPic, the list of what is on screen
// (first entry at the bottom; video entries stay above sprites).
#pragma once
#include <cstdint>

#include "core/commands/qx_objreg.h"
#include "platform/qx_objectref.h"

typedef struct lua_State lua_State;
struct qxBitMap;
struct qxBGPic;
struct qxLayer;
struct qxAnimReader;

enum : uint32_t { QX_TYPE_SPRITE = 32 };

struct qxSprite {
    // Same leading layout as qxObjectHeader.
    uint32_t type;
    uint32_t id;
    void *automatic;
    qxSprite *next;
    qxObjectDataItem *data;
    int32_t width, height;
    int32_t frameCount;
    int32_t locked;
    uint32_t internal;
    qxSprite **borrowed; // a linked sprite's sources, null-terminated
    uint32_t transparentColour;
    qxAnimReader *reader;
    qxBitMap **bitmaps, **masks, **alphas;
    uint32_t **pixels; // ARGB kept until a display can take bitmaps
};

struct qxSpriteOnScreen {
    qxSpriteOnScreen *next;
    qxObjectRef id;
    int32_t x, y, width, height;
    int32_t frame; // 1-based
    qxSprite *owner; // null for a video entry
    uint32_t video;
    void *clip;
};

// Text objects live above this folder; the top fills the table.
struct qxTextObjectHooks {
    // The planes of a text object, its size and origin offsets; 0 or an error.
    int (*image)(lua_State *L, qxObjectRef ref, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                 int32_t *width, int32_t *height, int32_t *offx, int32_t *offy);
    // Raises (+1) or lowers (-1) the object's lock.
    void (*lock)(lua_State *L, qxObjectRef ref, int delta);
    // A new top layer showing the object with its left edge at (x, y).
    int (*addLayer)(lua_State *L, qxObjectRef ref, int32_t x, int32_t y, qxLayer **out);
};

extern "C" {
extern qxSprite *qxSprites;
extern qxTextObjectHooks qxTextObjects;

// Flags: 1 refuses a locked sprite (1314), 2 also finds internal ones.
int qxFindSprite(qxObjectRef ref, qxSprite **out, uint32_t flags);
int qxFindDisplayedSprite(qxObjectRef ref, qxSpriteOnScreen **out, int32_t *index);
int qxAddSprite(qxObjectRef *ref, int32_t width, int32_t height, qxAnimReader *reader, uint32_t **pixels,
                qxBitMap **bitmaps, qxBitMap **masks, qxBitMap **alphas, int32_t frameCount,
                uint32_t transparentColour, qxSprite **borrowed, qxSprite **out);
int qxAddDisplayedSprite(qxBGPic *bgpic, int32_t x, int32_t y, int32_t width, int32_t height, int32_t frame,
                         qxSprite *owner, uint32_t video, void *clip, qxObjectRef id, qxSpriteOnScreen **out);
// frame is 0-based; a linked sprite runs through its sources' frames.
int qxGetSpriteFrame(qxSprite *sprite, int32_t frame, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha);
int32_t qxCountDisplayedSprites(const qxBGPic *bgpic);
// 1 when the mask of a sprite on the BGPic covers (x, y); a frame without
// mask or alpha covers its whole rectangle.
int qxSpriteCoversPoint(qxBGPic *bgpic, int32_t x, int32_t y);
void qxFreeDisplaySpriteList(qxBGPic *bgpic);
// Takes every sprite off the BGPic (video entries stay), redrawing their
// rectangles when asked.
void qxClearDisplayedSprites(lua_State *L, qxBGPic *bgpic, int redraw);
void qxRebuildSpriteMasks(void);
int qxFreeSpriteRecord(lua_State *L, qxSprite *sprite);
// 1229, 1339, 1082, 1056, 1147, 1167, then 1162 with layers.
int qxCheckSpriteOutput(void);
// The display rule: shows the sprite at (x, y) with frame (0 = next).
int qxShowSprite(lua_State *L, qxSprite *sprite, qxObjectRef ref, int32_t x, int32_t y, int32_t frame);
// Draws the on-screen sprites of a BGPic meeting the rectangle into dest.
void qxDrawSprites(const qxBGPic *bgpic, qxBitMap *dest, int32_t x, int32_t y, int32_t w, int32_t h);
// Raises (delta 1) or lowers (-1) the lock of a sprite and of those it borrows from.
void qxLockSprite(qxSprite *sprite, int delta);
void qxLinkSprites(void);
}
