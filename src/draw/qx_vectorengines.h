// Vector engines by name: the inbuilt one and those of loaded plug-ins of
// the vector capability (0x20).
#pragma once
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
