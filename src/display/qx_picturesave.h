// Saving pixels as a picture file by image format: the inbuilt writers (BMP,
// PNG, JPEG, GIF, ILBM), image saver plug-ins for the other codes, and the
// body of a 32-bit icon image.
#pragma once
#include <cstdint>

struct lua_State;
struct qxFileHandle;

extern "C" {
// The picture writers live above this folder; the top fills this table.
// Pixels are width x height words 0xAARRGGBB, top row first. Each returns
// 0 or an error code and names the file in the error text when it cannot
// open it.
struct qxPictureWriters {
    int (*saveBMP)(const char *fileName, const uint32_t *pixels, uint32_t width, uint32_t height);
    int (*savePNG)(const char *fileName, const uint32_t *pixels, uint32_t width, uint32_t height, int alpha);
    // Encodes into a qxAlloc'd block the caller frees.
    int (*encodeJPEG)(const uint32_t *pixels, uint32_t width, uint32_t height, int quality, uint8_t **data,
                      uint32_t *size);
    // One image of pens with its palette (0xRRGGBB, room for 256 entries)
    // and transparent pen (0xFFFFFFFF for none).
    int (*saveGIF)(const char *fileName, uint8_t *pens, uint32_t width, uint32_t height, uint32_t *palette,
                   uint32_t colours, uint32_t transparentPen);
    int (*saveILBM)(const char *fileName, const uint32_t *pixels, uint32_t width, uint32_t height);
    // The kind and size of a picture file, by the loaders and adapters the
    // lists admit (null or "" for the defaults); 0 when a loader knows it.
    int (*identify)(const char *fileName, const char *loaders, const char *adapters, uint32_t *format,
                    uint32_t *width, uint32_t *height, uint32_t *hasAlpha, uint32_t *transparency);
};
extern qxPictureWriters qxPictureWriterTable;

struct qxSaveOptions {
    int hasAlpha, quality, colors, dither;
};

// Fills quality, colors and dither from argument index when it is the last
// argument: a table with those fields, or a number (the quality).
void qxGetSaveOptions(lua_State *L, int index, qxSaveOptions *options);

// Writes ARGB pixels in the format. Codes 0-4 go to the inbuilt writers
// (1288 when one is not linked in); higher codes to the first image saver
// plug-in listing the code: 1487 when it fails, 1486 when none does.
int qxSaveImageFormat(int format, const uint32_t *pixels, int width, int height, const char *fileName,
                      uint32_t transparentColour, const qxSaveOptions *options);
int qxSaveImagePNG(const char *fileName, const uint32_t *pixels, int width, int height, int hasAlpha);

// The body of a 32-bit icon image: the rows last first, then a 1-bit mask
// (set where alpha is 0) whose rows are padded to four bytes. Into memory
// after a 40-byte header space, or without memory to file. 0, 1000 or 1005.
int qxWriteIconImage(const uint32_t *pixels, int width, int height, int pixelsPerRow, uint8_t *memory,
                     qxFileHandle *file);
}
