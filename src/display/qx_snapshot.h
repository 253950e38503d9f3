// Saving pictures by image format, and SaveSnapshot.
#pragma once
#include <cstdint>

struct lua_State;

extern "C" {
// The picture writers live above this folder; the top fills this table.
struct qxPictureWriters {
    // 24-bit BMP of 0xAARRGGBB pixels: 0, 1000, 1005, 1052 or 1530.
    int (*saveBMP)(const char *fileName, const uint32_t *pixels, uint32_t width, uint32_t height);
};
extern qxPictureWriters qxPictureWriterTable;

struct qxSaveOptions {
    int hasAlpha, quality, colors, dither;
};

// Writes ARGB pixels in the format; 1288 for a writer not linked in, 1486
// for a format no writer knows.
int qxSaveImageFormat(int format, const uint32_t *pixels, int width, int height,
                      const char *fileName, uint32_t transparentColour,
                      const qxSaveOptions *options);
// Native grabs (2 bytes 5/6/5 at depth 16, else 4 bytes) to 0xFFRRGGBB.
uint32_t *qxGrabToARGB(const void *grab, uint32_t bytesPerPixel, int width, int height);
int qxCmdSaveSnapshot(lua_State *L);
}
