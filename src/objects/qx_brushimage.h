// The brush library's image commands: effects, geometry, mask and alpha
// channel edits, pixel access, colour replacement and conversions of other
// objects into brushes.
#pragma once
#include <cstdint>

#include "core/commands/qx_commands.h"
#include "display/qx_bitmap.h"
#include "platform/qx_objectref.h"

typedef struct lua_State lua_State;

// Copies of an object's planes for ConvertToBrush; the types that later
// libraries bring (text objects, layers, sprites, paths) fill their entry.
// frame is 1-based; selected picks an icon's selected image.
typedef int (*qxBrushSourceFn)(lua_State *L, int sourceArg, uint32_t frame, int selected, qxBitMap **bitmap,
                               qxBitMap **mask, qxBitMap **alpha, uint32_t *width, uint32_t *height,
                               uint32_t *transparentColour);

enum : uint32_t { QX_BRUSHSOURCE_SLOTS = 8 };

struct qxBrushSourceEntry {
    uint32_t type;
    qxBrushSourceFn convert;
};

extern "C" {
extern const qxCommandDef qxBrushImageCommands[];
// Runtime attributes 4 and 6 that drawing into masks and alpha channels
// follows: the mask mode (MASKVISIBLE ..) and the alpha intensity
// (0xFFFFFFFF while unset).
extern int32_t qxMaskDrawMode;
extern uint32_t qxAlphaIntensity;
// Registers a source type for ConvertToBrush and GetBrushLink; 0 or 1000
// when the table is full.
int qxRegisterBrushSource(uint32_t type, qxBrushSourceFn convert);
void qxLinkBrushSources(void);
}
