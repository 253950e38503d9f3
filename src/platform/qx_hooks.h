// Platform hooks that keep one dispatcher shape on every platform: the
// memory behind bitmaps, capability questions, and the native back-ends
// (pictures, anims, video, progress, volumes) that
// have no work on Linux and return a constant.
#pragma once
#include <cstddef>
#include <cstdint>

// Memory behind a pixel bitmap.
struct qxPlatformBitMap {
    uint32_t reserved;
    uint32_t width;
    uint32_t height;
    void *pixels;
    uint32_t bytesPerRow;
    uint32_t bytesPerPixel;
    uint32_t pixelFormat;
    uint32_t isHardware; // 1 for a video bitmap
    // A fill not yet written: every pixel is 0xRRGGBB (opaque) until the
    // pixels are first handed out. Accessed atomically.
    uint32_t pendingFill;
    uint32_t fillColour;
};

struct qxBitMapInfo {
    void *pixels;
    uint32_t valid;
    uint32_t bytesPerPixel;
    uint32_t rowPixels; // row length in pixels
    uint32_t width;
    uint32_t height;
    uint32_t pixelFormat;
};

enum : uint32_t { QX_BITMAP_FRIEND = 0x2, QX_BITMAP_VIDEO = 0x8 };

extern "C" {
// The display's pixel format (set by the display back-end), -1 while unset.
extern int qxScreenPixelFormat;
// Bytes per pixel of a pixel format code (0 for an unknown code).
uint32_t qxPixelFormatBytes(int format);
uint32_t qxPixelFormatDepth(uint32_t format); // 0 above 13

// Rows are padded to a multiple of 4 pixels. NULL when the size is 0, too
// large or memory runs out.
qxPlatformBitMap *qxAllocBitMapBuffer(uint32_t width, uint32_t height, uint32_t flags,
                                      uint32_t *isFriend, uint32_t *isHardware, void *reserved);
void qxFreeBitMapBuffer(qxPlatformBitMap *buffer);
// 1, or 0 for NULL or a hardware buffer. Writes a pending fill first.
int qxGetBitMapInfo(const qxPlatformBitMap *buffer, qxBitMapInfo *info);
// Marks every pixel 0xRRGGBB without touching the memory: a large buffer
// that may never be drawn on (a display's own background) is then shown
// by a fill on the server instead of faulting in and sending its pages.
// The pixel of an opaque 0xRRGGBB fill in a buffer of 4 or 2 bytes a pixel.
inline uint32_t qxPlainPixel(uint32_t colour, uint32_t bytesPerPixel)
{
    return bytesPerPixel == 2 ? ((colour >> 8) & 0xF800) | ((colour >> 5) & 0x7E0) | ((colour & 0xFF) >> 3)
                              : 0xFF000000u | colour;
}
void qxDeferBitMapFill(qxPlatformBitMap *buffer, uint32_t colour);
// 1 with the colour while the fill is pending.
int qxBitMapPendingFill(const qxPlatformBitMap *buffer, uint32_t *colour);
// Writes a pending fill; every path that hands out the pixels calls it.
void qxRealiseBitMapFill(const qxPlatformBitMap *buffer);
// The subset of the capability bits the display back-end offers.
uint32_t qxPlatformHasCap(uint32_t capability);
// Bits per pixel of the display's pixel format; 32 when none is set.
int qxDisplayDepth(void);

// Hooks with nothing to do here.
int qxBeginDoubleBufferHook(void *display);
int qxEndDoubleBufferHook(void *display);
int qxFlipHook(void *display);
int qxNativeLoadPicture(void *file, const char *name, uint32_t openFlags, int headerOnly,
                        int paletteOverride, uint32_t onePlaneColor, int alphaRequired, void **state,
                        void **palette, uint32_t *transparent, int *width, int *height, int *hasAlpha);
void *qxNativePicturePixels(void *state);
void *qxNativeOpenAnim(const char *name, uint32_t openFlags, int *width, int *height, int *frames);
int qxNativeAnimFrame(void *anim, int frame, void **pixels);
int qxNativeAnimDelay(void *anim, int frame);
void qxNativeCloseAnim(void *anim);
// 1450 with the file name stored for the message.
int qxNativeVideoOpen(const char *name, void **video);
int qxProgressStepHook(int step);
// Writes "unimplemented"; returns 0.
int qxGetVolumeName(const char *path, char *buffer, size_t capacity);
int qxGetVolumeInfo(const char *path, uint64_t *freeBytes, uint64_t *totalBytes);
}
