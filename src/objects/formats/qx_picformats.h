// Picture files: the inbuilt readers and writers of BMP, PNG, JPEG, GIF and
// IFF ILBM, the header probe and the loading dispatch. Decoded pictures are
// width x height words 0xAARRGGBB in machine order, top row first, qxAlloc'd.
#pragma once
#include <cstddef>
#include <cstdint>

struct qxFileHandle;
struct qxTagItem;

// Format codes; also the kinds of a picture handle.
enum : uint32_t {
    QX_IMGFMT_BMP = 0,
    QX_IMGFMT_PNG = 1,
    QX_IMGFMT_JPEG = 2,
    QX_IMGFMT_GIF = 3,
    QX_IMGFMT_ILBM = 4,
    QX_IMGFMT_TIFF = 5,
    QX_IMGFMT_NATIVE = 6,
    QX_IMGFMT_PLUGIN = 7,
    QX_IMGFMT_UNKNOWN = 8,
};

struct qxPictureHandle {
    uint32_t kind;
    uint32_t *pixels;
    void *nativeState;
};

struct qxPngSaveRequest {
    const char *fileName;
    const uint32_t *pixels;
    int32_t pitch;
    uint32_t width;
    uint32_t height;
    uint32_t alpha;
    uint32_t error;
};

struct qxJpegResult {
    uint8_t *data;
    uint32_t size;
};

struct qxJpegSaveRequest {
    const uint32_t *pixels;
    int32_t pitch;
    uint32_t width;
    uint32_t height;
    int32_t quality;
    uint32_t byteOrder; // 0: words 0xAARRGGBB in machine order; else bytes A, R, G, B
    qxJpegResult *result;
    uint8_t *encoded;
    uint32_t encodedSize;
    uint32_t error;
};

struct qxGifReader;
struct qxGifWriter;

extern "C" {
// ---- Shared picture size limit ----
// Pictures with more pixels are refused before anything is allocated.
uint64_t qxPictureLimit(void);
// Test hook: lowers (or restores with 0) the limit.
void qxSetPictureLimit(uint64_t pixels);
// A width x height x 4 byte buffer, or null when the size is zero, over the
// limit or memory runs out.
uint32_t *qxAllocPicture(uint64_t width, uint64_t height, int zero);

// ---- Handles ----
void qxClearPictureHandle(qxPictureHandle *handle);
void qxFreePictureHeader(qxPictureHandle *handle);
void qxWrapPicturePixels(qxPictureHandle *handle, uint32_t *pixels);
uint32_t *qxPictureFileHandle(qxPictureHandle *handle);

// ---- Graphics host slots 0 and 1 (slots 2 and 3 are the handle calls above) ----
int qxHostIdentifyPicture(const char *fileName, uint32_t *width, uint32_t *height, uint32_t *hasAlpha);
qxPictureHandle *qxHostLoadPicture(const char *fileName, const qxTagItem *tags, uint32_t *width, uint32_t *height,
                                   uint32_t *hasAlpha);
// Puts slots 0 to 3 into the graphics sub-table.
void qxInstallPictureHostSlots(void (**graphics)(void));

// ---- Dispatch and probe ----
int qxLoadPictureAny(const char *fileName, const char *loaders, const char *adapters, const uint32_t *paletteOverride,
                     uint32_t onePlaneColour, int alphaMode, qxPictureHandle **handleOut, uint32_t **paletteOut,
                     uint32_t *transparentOut, uint32_t *widthOut, uint32_t *heightOut, uint32_t *hasAlphaOut,
                     uint64_t *nativeUsedOut, uint32_t *formatOut);
int qxProbePictureHeader(qxFileHandle *file, uint32_t *format, uint32_t *width, uint32_t *height,
                         uint32_t *hasAlpha, uint32_t *transparency, uint32_t *orientation);

// ---- BMP ----
int qxLoadBMP(qxFileHandle *file, int headerOnly, uint32_t *width, uint32_t *height, uint32_t **pixels);
// 24-bit uncompressed file: 0, 1000, 1005, 1052 or 1530.
int qxSaveBMP(const char *fileName, const uint32_t *pixels, uint32_t width, uint32_t height);

// ---- PNG ----
void qxLoadPNG(qxFileHandle *file, int headerOnly, uint32_t *width, uint32_t *height, uint32_t **pixels,
               uint32_t *hasAlpha, int *error);
void qxSavePNG(qxPngSaveRequest *request);

// ---- JPEG ----
// source: a qxFileHandle when memorySize is 0, else memorySize bytes.
int qxLoadJPEG(void *source, uint32_t memorySize, int headerOnly, uint32_t orientation, uint32_t *width,
               uint32_t *height, uint32_t **pixels);
void qxSaveJPEG(qxJpegSaveRequest *request);

// ---- GIF ----
qxGifReader *qxGifOpen(qxFileHandle *file, uint32_t *width, uint32_t *height, uint32_t *frameCount,
                       int headerOnly, int pictureMode, int wantTransparency);
uint32_t *qxGifGetFrame(qxGifReader *reader, int32_t frame, uint32_t *transparency);
uint32_t qxGifFrameDelay(qxGifReader *reader, int32_t frame);
void qxGifClose(qxGifReader *reader);
int qxGifWriterOpen(const char *fileName, uint32_t width, uint32_t height, qxGifWriter **writer);
int qxGifWriteFrame(qxGifWriter *writer, uint8_t *pixels, uint32_t width, uint32_t height, uint32_t delay,
                    uint32_t *palette, uint32_t colourCount, uint32_t transparentIndex, int differencing,
                    int differencingTransparency);
// 0, or 1005 when a frame or the trailer could not be written in full.
int qxGifWriterClose(qxGifWriter *writer);

// ---- IFF ILBM ----
int qxLoadILBM(qxFileHandle *file, int headerOnly, const uint32_t *paletteOverride, uint32_t onePlaneColour,
               int modeIs1, int modeIs2, uint32_t *transparentOut, uint32_t *width, uint32_t *height,
               uint32_t **pixels, uint32_t **paletteOut);
int qxSaveILBM(const char *fileName, const uint32_t *pixels, uint32_t width, uint32_t height);
int qxIffFindChunk(qxFileHandle *file, const char *name);
}
