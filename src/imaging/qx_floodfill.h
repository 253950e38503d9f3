// Boundary fill on a locked colour plane.
#pragma once
#include <cstdint>

struct qxFloodFillArea {
    void *pixels; // the plane's base
    int32_t width, height; // of the fill area
    uint32_t pitch; // pixels
    uint32_t border, fill;
    int32_t left, top; // the fill area's top-left corner
};

extern "C" {
// Fills from (x, y); mask selects the bits compared (0xFFFFFF ignores the
// alpha byte). 0, or 1000 when the work stack cannot grow.
int qxFloodFill32(const qxFloodFillArea *record, int32_t x, int32_t y, uint32_t mask);
int qxFloodFill16(const qxFloodFillArea *record, int32_t x, int32_t y);
}
