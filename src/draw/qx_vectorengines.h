// Vector engines by name: the inbuilt one and those of loaded plug-ins of
// the vector capability (0x20).
#pragma once
#include <cstdint>
#include <vector>

#include "draw/vector/qx_ftengine.h"

struct qxPluginInfo;

// "default" (any case) is the inbuilt engine; another name, with ".qxp"
// added unless it ends so, is the first loaded vector plug-in of that file
// name (any case). None: null, with the file name as the error text (1531).
const qxVectorEngine *qxFindVectorEngine(const char *name);
// The name SetVectorEngine takes for the engine (null: the inbuilt one).
const char *qxVectorEngineName(const qxVectorEngine *engine);
// The engine record of a vector plug-in: its eight entry points, or for a
// plug-in of ABI kind 2 stubs that call nothing and answer 0.
const qxVectorEngine *qxPluginVectorEngine(const qxPluginInfo *info, const char *fileName);

// The vector font of a FreeType face for the engine: the face itself for
// the inbuilt engine, else the engine's own, made once per face and engine
// and freed when the face closes or at qxFreeVectorFontLinks. Null with
// *error 1396 (the engine made none) or 1000.
void *qxPathVectorFont(void *face, const qxVectorEngine *engine, int *error);
// The face a vector font of any engine was made from.
void *qxFaceOfVectorFont(void *font);
// Frees every engine's vector fonts (engines of ABI kind 2 keep theirs).
void qxFreeVectorFontLinks(void);
// Text items carry the vector font of the engine current when they were
// added: *items becomes the buffer (capacity bytes), or a copy of it in
// copy whose Text items hold the engine's own fonts. 0, 1396 or 1000.
int qxItemsForEngine(const uint8_t *buffer, int32_t capacity, const qxVectorEngine *engine,
                     std::vector<uint8_t> &copy, const uint8_t **items);
