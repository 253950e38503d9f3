// Display options (draw tags): the transform options and object style that
// every display command parses from its optional table, their program-wide
// templates, and the image transform routines that apply them.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"

typedef struct lua_State lua_State;
struct qxPicSource;

enum : uint32_t { QX_FILTER_COUNT = 21, QX_FILTER_TINT = 16 };

// One layer filter: on or off and its arguments (the layer engine reads
// the rest of the list with qxSetLayerFilters).
// Integer and percentage arguments fill iargs in the script's order,
// floats fargs; the tint keeps its colour in iargs[0] and level in iargs[1].
struct qxFilterEntry {
    uint8_t enabled;
    uint8_t priority;
    int32_t iargs[4];
    float fargs[4];
};

struct qxFilterBlock {
    qxFilterEntry filter[QX_FILTER_COUNT];
};

struct qxTransformOptions {
    double m11, m12, m21, m22;
    double scalex, scaley;
    uint32_t width, height;
    double rotate;
    double transform[4];
    uint32_t transformed;
    uint32_t smooth;
    uint32_t general;
    double scale1, scale2;
    double anchorx, anchory;
};

struct qxShadowFields {
    uint32_t shadow;
    uint32_t shadowcolor;
    uint32_t shadowsize;
    uint32_t shadowdir;
    double shadowradius;
    double shadowsigma;
};

struct qxBorderFields {
    uint32_t border;
    uint32_t bordercolor;
    uint32_t bordersize;
};

struct qxObjectStyle {
    char name[256];
    uint32_t hidden;
    int32_t insertpos;
    uint32_t transparency;
    qxShadowFields shadow;
    qxBorderFields border;
    qxFilterBlock filters;
    uint32_t needslayer;
};

// qxGetTransformOptions flags.
enum : uint32_t {
    QX_OPT_RESET = 1, QX_OPT_REQUIRED = 2, QX_OPT_NOSIZE = 4, QX_OPT_NOROTATE = 8, QX_OPT_ROTATESMOOTH = 16,
    QX_OPT_NONAME = 32, // "name" is not read (a style table names no layer)
};

// What the layer engine offers the parser until its own Parts fill them:
// the filter list reader and the current BGPic's layer count. NULL: the
// "filters" key is refused with 1078 and the count is 0.
struct qxDisplayOptsHooks {
    int (*setLayerFilters)(lua_State *L, int table, qxFilterBlock *filters);
    uint32_t (*currentLayerCount)(void);
    // Applies the active filters to a bitmap and its alpha (highest
    // priority first). NULL: 1078.
    int (*applyFilters)(lua_State *L, const qxFilterBlock *filters, qxBitMap **bitmap, qxBitMap **alpha,
                        int32_t width, int32_t height);
};

extern "C" {
extern qxDisplayOptsHooks qxDisplayOptsHook;
extern qxTransformOptions qxTransformTemplate;
extern qxObjectStyle qxStyleTemplate;

void qxInitTransformOptions(qxTransformOptions *options);
void qxInitObjectStyle(qxObjectStyle *style);
// Templates back to their start values (the graphics library's opening).
void qxResetDrawTagTemplates(void);
void qxApplyTransformOptions(qxTransformOptions *options, qxObjectStyle *style, uint32_t width, uint32_t height,
                             uint32_t smooth, uint32_t flags);
int qxGetTransformOptions(lua_State *L, int arg, int32_t sourceWidth, int32_t sourceHeight, int32_t targetWidth,
                          int32_t targetHeight, uint32_t defaultSmooth, qxTransformOptions *options,
                          qxObjectStyle *style, uint32_t flags);
// The shadow keys of the table at index t (read only when "shadow" is on).
int qxGetShadowOptions(lua_State *L, int t, qxShadowFields *shadow);
// The border keys; withEdge adds the text keys "edgecolor", "edgesize" and
// "outlinethickness".
int qxGetBorderOptions(lua_State *L, int t, int withEdge, qxBorderFields *border);
// 1 when any filter of the block is on.
int qxFiltersActive(const qxFilterBlock *filters);
int qxMatrixIsIdentity(const qxTransformOptions *options);
// SetDrawTagsDefault(table), a graphics library command.
int qxCmdSetDrawTagsDefault(lua_State *L);

void qxTransformedSize(const double matrix[4], int32_t width, int32_t height, int32_t *outWidth,
                       int32_t *outHeight);
// mode 0 pixels, 1 a scalable picture source, 2 the size only. The outputs
// are new handles owned by the caller (none for mode 2).
int qxTransformImage(lua_State *L, uint32_t mode, qxPicSource *source, qxBitMap *bitmap, qxBitMap *mask,
                     qxBitMap *alpha, int32_t x, int32_t y, int32_t width, int32_t height, double anchorx,
                     double anchory, const double matrix[4], uint32_t smooth, qxBitMap **outBitmap,
                     qxBitMap **outMask, qxBitMap **outAlpha, int32_t *outX, int32_t *outY, int32_t *outWidth,
                     int32_t *outHeight);
// Filters and transparency onto a drawn bitmap; *alpha may be replaced
// (an opaque one is made when there is none). 0, 1078 or 1564.
int qxBlendWithOptions(const qxObjectStyle *style, lua_State *L, qxBitMap **bitmap, qxBitMap **alpha,
                       int32_t width, int32_t height);
}
