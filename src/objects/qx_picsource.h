// Image sources: the reference-counted record behind every image object
// loaded from a file, holding the decoder, the loaded pixels, a scaled copy
// and, for scalable pictures, the means to render them again.
#pragma once
#include <cstdint>

struct lua_State;
struct qxPluginInfo;

// What an image loader plug-in is handed and answers (56 bytes); GetImage
// and TransformImage report pitch and alpha through the same record.
struct qxImageLoaderRecord {
    uint32_t width, height; // in: the wanted size (0 natural); out: the loaded size
    uint32_t smooth;
    uint32_t flags;         // in: 2 a transparent colour is wanted; out: bit 0 natural size given
    const char *adapters;
    uint32_t pitch;
    uint32_t hasAlpha;
    uint32_t alphaChannel;
    uint32_t scalable;      // 1: a vector picture
    uint32_t naturalWidth, naturalHeight;
    uint64_t reserved;
};
static_assert(sizeof(qxImageLoaderRecord) == 56, "loader record");

// Entry points of image loader plug-ins as this file calls them.
typedef void *(*qxLoadImageFunc)(const char *file, qxImageLoaderRecord *record, const char *name);
typedef void *(*qxGetImageFunc)(void *handle, qxImageLoaderRecord *record, qxPluginInfo *plugin, uint32_t width);
typedef void (*qxFreeImageFunc)(void *handle);
typedef int (*qxTransformImageFunc)(void *handle, const double *block, int32_t width, int32_t height,
                                    qxImageLoaderRecord *record);

// Callbacks of a custom source.
typedef void *(*qxSourceGetImage)(void *handle, qxImageLoaderRecord *info);
typedef void (*qxSourceClose)(void *handle);
typedef int (*qxSourceRender)(void *handle, const double *block, int32_t width, int32_t height,
                              qxImageLoaderRecord *info);
typedef int (*qxSourceDirectTransform)(void *handle, const double *matrix, void *maskSource, void **alphaOut,
                                       uintptr_t result[2]);

struct qxPicSource {
    qxPluginInfo *plugin;
    void *decoder;
    uint32_t *pixels;
    uint32_t *scaled;
    uint32_t refCount;
    uint32_t ownsPixels;
    uint32_t custom;
    uint32_t callbackKind;
    qxSourceGetImage getImage;
    qxSourceClose close;
    qxSourceRender render;
    qxSourceDirectTransform directTransform;
    uint32_t width, height;
};

extern "C" {
qxPicSource *qxPicSourceNewCustom(void *handle, qxSourceGetImage getImage, qxSourceClose close, qxSourceRender render,
                                  qxSourceDirectTransform directTransform, uint32_t width, uint32_t height,
                                  uint32_t callbackKind);
void qxPicSourceRetain(qxPicSource *source);
void qxPicSourceRelease(qxPicSource *source);
void qxPicSourceFree(qxPicSource *source);
uint32_t *qxPicSourceBitMap(qxPicSource *source);
void qxPicSourceSize(qxPicSource *source, uint32_t *width, uint32_t *height);
uint32_t qxPicSourceOwnsPixels(qxPicSource *source);
// "inbuilt" for none, "native" for the value 1, else the plug-in's name.
const char *qxLoaderName(const qxPluginInfo *plugin);
// The caller's file name while an image plug-in reads a chunk name of our
// making; null otherwise.
const char *qxImageLoaderFileName(void);

// Renders a scalable source at a matrix and size. With pixelsOut the new
// buffer and its pitch are returned as they are.
int qxPicSourceTransform(lua_State *L, qxPicSource *source, const double matrix[4], double xOffset, double yOffset,
                         int32_t width, int32_t height, void *maskSource, void **maskOut, uint32_t **pixelsOut,
                         void **bitmapOut, void **alphaOut, uint32_t *pitchOut);

// reserved, legacyA and legacyB go to the loading dispatch as its palette
// override, one-plane colour and alpha mode (2 when a transparent colour is wanted).
int qxOpenImage(const char *file, const char *loaders, const char *adapters, const uint32_t *reserved,
                uint32_t legacyA, int legacyB, int alphaMode, int transparentWanted,
                int32_t wantedWidth, int32_t wantedHeight, int smooth, qxPicSource **sourceOut, void **alphaOut,
                uint32_t *reservedOut, uint32_t *transparentOut, uint32_t *widthOut, uint32_t *heightOut,
                uint32_t *pitchOut, uint32_t *hasAlphaOut, uint32_t *scalableOut, qxPluginInfo **pluginOut);
}
