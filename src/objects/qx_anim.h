// Anim records: the list, lookup with find flags, creation, copying and
// freeing, and frame access for in-memory and disk anims.
#pragma once
#include <cstdint>

#include "core/commands/qx_objreg.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "platform/qx_objectref.h"

struct lua_State;
struct qxAnimReader;
struct qxPluginInfo;

struct qxAnim {
    // Same leading layout as qxObjectHeader.
    uint32_t type;
    uint32_t id;
    void *automatic;
    qxAnim *next;
    qxObjectDataItem *data;

    uint32_t width, height; // current frame size
    uint32_t frameCount;
    uint32_t disk;
    uint32_t baseWidth, baseHeight; // frame size in the file
    uint32_t smooth;
    uint32_t locked, pendingDeletion;
    uint32_t transparentColour; // 0xFFFFFFFF none
    uint32_t loadAlpha;
    qxAnimReader *reader;
    qxBitMap **bitmaps, **masks, **alphas;
    uint32_t **rawFrames;
    char *fileName;
    qxPluginInfo *loader;
    char adapter[256];
    uint32_t *delays; // 0xFFFFFFFF: ask the reader
    uint32_t loadTransparency;
};

static_assert(__builtin_offsetof(qxAnim, next) == __builtin_offsetof(qxObjectHeader, next) &&
              __builtin_offsetof(qxAnim, data) == __builtin_offsetof(qxObjectHeader, data));

extern "C" {
extern qxAnim *qxAnims;

// Appends an anim owning the given frame arrays (frameCount entries each,
// qxAlloc'd; masks and alphas may be none). An automatic request in *ref
// receives the record's address. 0 or 1000.
int qxAddAnim(qxObjectRef *ref, uint32_t width, uint32_t height, qxBitMap **bitmaps, qxBitMap **masks,
              qxBitMap **alphas, uint32_t frameCount, uint32_t transparentColour, uint32_t loadAlpha,
              uint32_t disk, qxAnim **out);
// Find flags as for brushes (1 modify with copy-on-write, 2 pending, 4 no copy).
int qxFindAnim(lua_State *L, qxObjectRef ref, qxAnim **out, uint32_t flags);
int qxFreeAnim(lua_State *L, qxObjectRef ref, int strict);
void qxFlushDeletedAnims(lua_State *L);
int qxCopyAnimData(lua_State *L, void *record, qxObjectRef *newRef);
// The frame's planes (0-based). Without copy an in-memory anim's own planes;
// otherwise new planes the caller frees (scaled to the current size unless
// unscaled is set).
// Makes a frame (0-based) of an in-memory anim ready for drawing into as a
// mask or alpha output target (qxPrepareTargetPlane); 0 or an error code.
int qxPrepareAnimFrameTarget(qxAnim *anim, uint32_t frame, uint32_t target);
int qxGetAnimFrameBitmap(qxAnim *anim, uint32_t frame, int copy, int unscaled, qxBitMap **bitmap, qxBitMap **mask,
                         qxBitMap **alpha);
uint32_t qxGetAnimFrameDelay(qxAnim *anim, uint32_t frame);
// Planes from one ARGB frame of the base size: mask from the transparent
// colour, or from the alpha byte with loadTransparency; alpha when asked.
int qxAnimPlanesFromARGB(const uint32_t *pixels, uint32_t width, uint32_t height, uint32_t transparentColour,
                         int alpha, int transparencyMask, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alphaOut);
void qxFreeAnimRecord(lua_State *L, qxAnim *anim);
// Run when a display opens: frames of in-memory anims made before the screen
// format was known are remade in that format (masks and alpha planes stay).
// The first error stops it: 1000, 1152 or 1522.
int qxRealizeAnims(void);
// Inserts count empty frames before frame position (0: at the end), or
// removes -count frames from position (0: the last ones). 0, 1000, 1055,
// 1338 or 1522.
int qxModifyAnimFrames(qxAnim *anim, int64_t count, int64_t position);
// Fills the display core's and the selection's anim hooks.
void qxLinkAnimHooks(void);
}
