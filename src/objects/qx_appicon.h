// The application icon set and the icon services of the plug-in host table.
#pragma once
#include <cstdint>

#include "core/plugins/qx_hosttable.h"

struct qxIconNode;

// One image of an icon handed to a plug-in (graphics slot 33).
struct qxIconImage {
    uint32_t *pixels; // ARGB, width x height
    uint32_t width, height, flags;
};

extern "C" {
// The set built at start-up: x11's icon node layout, flags bit 0 standard,
// bit 1 a selected image.
extern qxIconNode *qxAppIcons;

// Builds the set from the icon slots; 1387 names a slot whose picture has
// another size.
int qxBuildAppIcons(int showProgress);
void qxFreeAppIcons(void);
// Graphics slots 14, 15, 32, 33 and 34.
void qxInstallIconHostSlots(qxHostFunc *graphics);
}
