// Openers and close functions of the command libraries of this folder.
#pragma once

struct lua_State;
struct qxTagItem;
struct qxDisplay;
struct qxCommandDef;
struct qxConstantDef;
typedef int (*lua_CFunction)(lua_State *L);
#include <cstddef>
#include <cstdint>

#include "platform/qx_objectref.h"

extern "C" {
// The player's start as qxGetSeconds gave it, recorded by the event
// library's opener; timestamps "since the start" count from it.
extern double qxEventStartTime;
int qxOpenGraphicsLib(lua_State *L);
void qxGraphicsLibFree(lua_State *L);
int qxOpenEventLib(lua_State *L);
void qxFreeEventLib(lua_State *L);
int qxOpenDisplayLib(lua_State *L);
void qxCloseDisplayLib(lua_State *L);
// Runtime attributes 4 and 6 (qxSetTags, qxGetTags) that drawing into
// masks and alpha channels follows: the mask mode (MASKVISIBLE ..) and the
// alpha intensity (0xFFFFFFFF while unset).
extern int32_t qxMaskDrawMode;
extern uint32_t qxAlphaIntensity;
int qxGraphicsAttrGetter(qxTagItem *item);
int qxGraphicsAttrSetter(qxTagItem *item);
// The zero-filled display record SafeBlt uses while no display exists.
qxDisplay *qxGraphicsSpareDisplay(void);
// SetDrawTagsDefault, filled by the image objects' linking; NULL refuses.
extern lua_CFunction qxGraphicsSetDrawTagsDefault;
// Puts the draw-tag templates back to their defaults when the library
// opens; filled by the image objects' linking.
extern void (*qxGraphicsResetDrawTags)(void);
// Per channel c1 + (((c2 - c1) * ratio) >> 8); the alpha byte is dropped.
uint32_t qxMixColor(uint32_t c1, uint32_t c2, int ratio);
// The colour as a display of this depth stores it (15: 5/5/5, 16: 5/6/5).
uint32_t qxRealColorForDepth(uint32_t colour, uint32_t depth);
// The overlap of two rectangles into out (x, y, w, h); zeros and 0 when none.
int qxIntersectRects(int x1, int y1, int w1, int h1, int x2, int y2, int w2, int h2, int out[4]);
// GetAttribute, and one display attribute pushed (1) or an error as a
// negative code.
int qxCmdGetAttribute(lua_State *L);
int qxDisplayAttribute(lua_State *L, const qxDisplay *display, int attribute);
// GetAttribute's answer for an object of a type whose records live above
// this folder: pushes and returns the value count, or returns -code (1080
// for an attribute the type does not know). The owning layer fills its slot.
typedef int (*qxObjectAttributeFunc)(lua_State *L, void *object, int attribute);
extern qxObjectAttributeFunc qxObjectAttributes[61];
// The same for types whose records are not in the object lists: the
// owning library finds the object itself (text objects, fonts).
typedef int (*qxObjectRefAttributeFunc)(lua_State *L, qxObjectRef ref, int attribute);
extern qxObjectRefAttributeFunc qxObjectRefAttributes[61];

// What GetAttribute's font rows read of a font.
struct qxFontFacts {
    int32_t ascender, height, size;
    uint32_t scalable, antialias;
    const char *name;
};
// Calls up into the text library, filled by the top at start-up; null
// entries mean no font.
struct qxFontQueryHooks {
    // The text state's current font (the font every display prints with).
    const void *(*currentFont)(void);
    // 0 with the facts of the font, else an error code.
    int (*describe)(const void *font, qxFontFacts *out);
};
extern qxFontQueryHooks qxFontQueries;
// Pushes font attribute 30-35 of font: ascender, descender (height -
// ascender), name, size, scalable, anti-aliased; returns 1 or an error.
int qxFontAttribute(lua_State *L, int attribute, const void *font);
}
