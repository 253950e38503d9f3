// SaveSnapshot: the window, the display's contents or the desktop to a file.
#pragma once
#include <cstdint>

#include "display/qx_picturesave.h"

struct lua_State;
struct qxDisplay;

extern "C" {
// Native grabs (2 bytes 5/6/5 at depth 16, else 4 bytes) to 0xFFRRGGBB.
uint32_t *qxGrabToARGB(const void *grab, uint32_t bytesPerPixel, int width, int height);
// The screen's pixels in a rectangle as a malloc'd 0xFFRRGGBB copy (the
// adapter's when it supplies them); 0 or an error code.
int qxGrabScreenARGB(qxDisplay *display, int x, int y, int w, int h, uint32_t **out);
int qxCmdSaveSnapshot(lua_State *L);
// The desktop spanning every monitor of the display's screen: its size, the
// 1-based monitor sharing most of the display's window (1 when none does); returns
// the number of monitors, 0 without a connection.
int qxDesktopArea(qxDisplay *display, int *width, int *height, int *monitor);
}
