// The application icon: the icon slots that the applet's icon block fills,
// and the choice among them.
#pragma once
#include <cstdint>

#include "core/runtime/qx_startup.h"

enum : uint32_t { QX_ICON_SLOTS = 20 };

// Ten normal rows (16 to 1024 pixels square), then the same ten for the
// selected state.
struct qxIconSlot {
    char *path; // chunk name of the image data, or null
    const char *name;
    uint32_t width, height;
    uint32_t isDefault;
};

extern "C" {
extern qxIconSlot qxIconSlots[QX_ICON_SLOTS];

// Fills the first free row of the entry's kind (flags bit 0: selected) whose
// size matches; bit 1 marks the default icon. 0 when out of memory, 1
// otherwise (also when no row matches).
int qxFillIconSlot(uint32_t width, uint32_t height, uint32_t flags, const char *chunkName);
void qxFreeIconSlots(void);
}
