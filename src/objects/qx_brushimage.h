// The brush library's image commands: effects, geometry, mask and alpha
// channel edits, pixel access, colour replacement and conversions of other
// objects into brushes.
#pragma once
#include <cstdint>

#include "core/commands/qx_commands.h"
#include "display/qx_bitmap.h"
#include "platform/qx_objectref.h"

typedef struct lua_State lua_State;
struct qxPicSource;

struct qxPicSource;

// Copies of an object's planes for ConvertToBrush; the types that later
// libraries bring (text objects 8, layers 22, sprites 32, paths 49) fill
// their entry. frame is 1-based; selected picks an icon's selected image.
typedef int (*qxBrushSourceFn)(lua_State *L, int sourceArg, uint32_t frame, int selected, qxBitMap **bitmap,
                               qxBitMap **mask, qxBitMap **alpha, uint32_t *width, uint32_t *height,
                               uint32_t *transparentColour);
// A source that stays re-renderable (paths) also hands over a reference to
// its image source, and the brush becomes a vector brush.
typedef int (*qxBrushVectorSourceFn)(lua_State *L, int sourceArg, uint32_t frame, qxBitMap **bitmap,
                                     qxBitMap **alpha, uint32_t *width, uint32_t *height, qxPicSource **source);

enum : uint32_t { QX_BRUSHSOURCE_SLOTS = 8 };
// Flag of a vector source: the argument after the source is the
// converter's own (the path table of type 49), not a frame number.
enum : uint32_t { QX_BRUSHSOURCE_OWNARG = 1 };

struct qxBrushSourceEntry {
    uint32_t type;
    qxBrushSourceFn convert;
    qxBrushVectorSourceFn convertVector;
    uint32_t flags;
};

extern "C" {
extern const qxCommandDef *const qxBrushImageCommands;
extern const qxNames qxBrushImageCommandNames;
// Registers a source type for ConvertToBrush and GetBrushLink; 0 or 1000
// when the table is full.
int qxRegisterBrushSource(uint32_t type, qxBrushSourceFn convert);
int qxRegisterVectorBrushSource(uint32_t type, qxBrushVectorSourceFn convert, uint32_t flags);
// The conversion of ConvertToBrush for other libraries (PathToBrush):
// ownArg is the frame or the converter's own argument; pushes the new id
// when target is automatic.
int qxConvertToBrush(lua_State *L, qxObjectRef target, uint32_t type, int sourceArg, int ownArg);
void qxLinkBrushSources(void);
}
