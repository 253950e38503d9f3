// The text state every text operation reads, the style extent rules and
// the layout engine that turns tagged text into an image.
#pragma once
#include <cstddef>
#include <cstdint>

struct qxFontHandle;
struct qxBitMap;
typedef struct lua_State lua_State;

// Style flags.
constexpr uint32_t QX_TS_NORMAL = 1, QX_TS_BOLD = 2, QX_TS_ITALIC = 4, QX_TS_UNDERLINED = 8, QX_TS_ANTIALIAS = 16,
                   QX_TS_SHADOW = 32, QX_TS_EDGE = 64;

// Alignments.
constexpr int32_t QX_ALIGN_LEFT = -90000, QX_ALIGN_CENTER = -100000, QX_ALIGN_RIGHT = -80000,
                  QX_ALIGN_JUSTIFIED = -110001;

// The style block; copied whole into every request and run.
struct qxTextStyle {
    uint32_t style;
    uint32_t colour;
    uint32_t shadowColour;
    uint32_t edgeColour;
    int32_t shadowSize;
    int32_t shadowDir;
    int32_t edgeSize;
    qxFontHandle *font;
};

struct qxTextState {
    qxTextStyle block;
    uint32_t encoding;
};

// Measured run: advance, line height, ink box, pixel width and the extra
// margins of shadow and edge.
struct qxRunExtent {
    int32_t width, height, minX, minY, maxX, maxY, pixelWidth;
    int32_t top, bottom, left, right;
};

// What one layout call is asked to do.
struct qxTextRequest {
    qxTextStyle block;
    const char *text;
    size_t length;
    int32_t align;
    int32_t wrap;      // 0: no wrapping
    uint32_t encoding; // 0 ISO-8859-1, 1 UTF-8
    int tags;          // 0: brackets are literal (doubled ones still collapse)
    // Print: tabs go to the stops, the first line starts at startX.
    int print;
    int32_t startX, leftMargin;
    const int32_t *tabs;
    int32_t tabCount;
    // Word indices (counted from 0) that start new lines, ascending; given
    // by the script instead of the wrap width's own breaks.
    const int32_t *breaks;
    int32_t breakCount;
    // The breaks are an earlier rendering's (drawn again at another scale):
    // a line of several words that now passes the wrap width is not cut.
    uint32_t breaksKept;
    // Print's tab decisions of an earlier rendering, in order: a stop's
    // index, or -1 for a new line; none: decided from the stops.
    const int32_t *tabPicks;
    int32_t tabPickCount;
};

// The text cursor, margins and tab stops of one display.
struct qxTextCursor {
    int32_t x, y;
    int32_t left, right;
    int32_t tabs[32];
    int32_t tabCount;
};

// A rendered block: straight-alpha ARGB pixels and where the text origin
// lies inside it (offset x, y are at most 0).
struct qxTextImage {
    uint32_t *pixels; // qxFree
    int32_t width, height;
    int32_t originX, originY;
    int32_t endX, endY; // pen position after the text, for the text cursor
    // Anti-aliased or partly transparent: an alpha plane; else the text's
    // pixels are all or nothing and a mask holds them.
    int needsAlpha;
    // What this rendering decided where the request gave nothing (qxAlloc,
    // freed with the image): the words the wrap width broke before and
    // Print's tab decisions, so a rendering again breaks the same lines.
    int32_t *breaks, breakCount;
    int32_t *tabPicks, tabPickCount;
};

// Object type 8: text rendered once into an image.
struct qxObjectDataItem;

// Leads with the fields of qxObjectHeader, so the object registry walks it.
struct qxTextObject {
    uint32_t type;
    uint32_t number;
    uint64_t automatic;
    qxTextObject *next;
    qxObjectDataItem *data; // named script values, copied by CopyTextObject
    qxBitMap *image, *mask, *alpha;
    int32_t width, height;
    int32_t baseWidth, baseHeight;
    int32_t originX, originY;
    uint32_t locked, released;
    qxTextRequest request; // its text is the object's own copy
    // The object's transform: target size (0: the base size) and angle.
    int32_t targetWidth, targetHeight;
    double angle;
    // The request's word-wrap table: the script's or the one the first
    // rendering recorded, so a scaled rendering breaks the same lines.
    int32_t *breakCopy;
};

// The payload of TEXTOUT and PRINT layers: the request the layer was
// rendered from, with its own copies of the text and tab stops.
struct qxTextLayerData {
    int32_t x, y;
    qxTextRequest request;
    int32_t tabs[32];
    int32_t rightMargin;
    int32_t originX, originY; // where the request point lies in the picture
    // The payload's own copies of the request's break and tab tables.
    int32_t *breakCopy, *tabPickCopy;
};

struct qxLayer;
struct qxTransformOptions;
struct qxObjectStyle;

extern "C" {
qxTextState *qxGetTextState(void);
qxFontHandle *qxGetCurrentFont(void);
void qxClampTextStyle(qxTextStyle *block);
// Makes the start-up font current and both encodings follow the text mode.
int qxOpenDefaultFont(void);
void qxCloseTextState(void);
int qxDrawRunText(qxFontHandle *font, uint32_t *pixels, uint8_t *coverage, int32_t width, int32_t height, int32_t x,
                  int32_t y, const char *text, size_t length, uint32_t style, uint32_t encoding);
// Measures a run in one style with the synthesis and effect margins.
int qxMeasureRun(const qxTextStyle *block, const char *text, size_t length, uint32_t encoding, qxRunExtent *out);
// Lays out and renders; 0 or an error code. Empty text renders one space.
int qxLayoutText(const qxTextRequest *request, qxTextImage *out);
// The same with the script state for "#NAME" values of tags.
int qxLayoutTextL(lua_State *L, const qxTextRequest *request, qxTextImage *out);
// The checks before any layout: 1255 for anti-aliasing a bitmap font, 1585
// for malformed UTF-8.
int qxCheckTextRequest(const qxTextRequest *request);
// One opaque colour, NORMAL or ANTIALIAS, no tags, tabs, wrapping or alignment.
int qxIsPlainText(const qxTextRequest *request);
// Plain text drawn line by line straight onto the current output at x, y
// (no position constants), tall glyphs whole: 0 or an error code, -1 when
// the text or the output needs the laid-out image.
int qxDrawPlainText(lua_State *L, const qxTextRequest *request, int32_t x, int32_t y);
void qxFreeTextImage(qxTextImage *image);

// The current display's text cursor, made with the defaults at first use
// (null without a display or memory).
qxTextCursor *qxCurrentTextCursor(void);
// Hands the cursor's position and margins back to the current display.
void qxStoreTextCursor(const qxTextCursor *c);
void qxForgetTextCursors(void);
// The rendered text as a bitmap with an alpha plane, or with a mask when its
// pixels are all or nothing.
int qxTextImagePlanes(const qxTextImage &image, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha);
// Blits a rendered block with its top-left text origin at x, y onto the
// current output.
int qxDrawTextImage(lua_State *L, const qxTextImage *image, int32_t x, int32_t y);
// A NUL-terminated copy of length bytes (qxFree); null without memory.
char *qxCopyTextBytes(const char *text, size_t length);
// Text objects. Flags: 1 refuses a locked object, 2 also finds released
// ones. 0, 1041 or 1175.
int qxFindTextObject(lua_State *L, uint32_t number, void *automatic, uint32_t flags, qxTextObject **out);
// Renders the request into a new object (replacing one with that number);
// a null number asks for an automatic identifier.
int qxCreateTextObject(uint32_t number, const qxTextRequest *request, lua_State *L, qxTextObject **out);
int qxCopyTextObject(lua_State *L, qxTextObject *source, uint32_t number, qxTextObject **out);
int qxFreeTextObject(lua_State *L, qxTextObject *object);
// The head variable of the text object list.
void *qxTextObjectList(void);
// Renders the stored request again at the object's target size and angle.
int qxRerenderTextObject(lua_State *L, qxTextObject *object);
void qxFreeAllTextObjects(lua_State *L);
// Frees the objects the script freed while layers showed them, once no
// layer shows them any more.
void qxFreeDetachedTextObjects(lua_State *L);

// Text layers. The types' entries in the layer engine's table.
void qxRegisterTextLayerTypes(void);
// Shows a text object as a layer of type 8 with its top-left corner at x, y.
int qxAddTextLayer(lua_State *L, qxTextObject *object, int32_t x, int32_t y, const qxTransformOptions *options,
                   qxObjectStyle *style, qxLayer **out);
// What a text layer's own image is rendered from: the request without
// SHADOW, EDGE and the colour's transparency, which the layer draws.
void qxStripLayerEffects(qxTextRequest *request);
// Makes a rendered block a TEXTOUT (9) or PRINT (11) layer whose text
// origin lies at x, y (rendered from the stripped request); SHADOW and EDGE become the layer's shadow and border
// and the colour's transparency the layer's. The image is the layer's then.
int qxAddTextImageLayer(lua_State *L, uint32_t type, const qxTextRequest *request, qxTextImage *image, int32_t x,
                        int32_t y, const qxTransformOptions *options, qxObjectStyle *style, qxLayer **out);
// The coverage of a text layer's border or shadow: the text's alpha
// square-dilated by size, in a plane grown by 2 size + 1 each way; 0,
// 1000, 1522 or 1564.
int qxBuildTextEffectMask(lua_State *L, const qxTextRequest *request, int32_t size, qxBitMap **alpha,
                          int32_t *width, int32_t *height);
// Reads a line typed by the user (InKeyStr).
int qxCmdInKeyStr(lua_State *L);
// Font objects: names for handles of the font cache.
int qxCreateFontObject(lua_State *L, uint32_t number, qxFontHandle *font, void **automatic);
// 0, 1041 (automatic identifier) or 1334 with the number.
int qxFindFont(lua_State *L, uint32_t number, void *automatic, qxFontHandle **out);
int qxFreeFontObject(lua_State *L, uint32_t number, void *automatic);
void qxFreeAllFontObjects(lua_State *L);
// The head variable of the font object list.
void *qxFontObjectList(void);
// Registers text objects (type 8) as a source of ConvertToBrush.
void qxLinkTextBrushSource(void);
// GetAttribute of text objects and font objects.
void qxLinkTextAttributes(void);
// Lays text out at the cursor as Print does, draws it and moves the cursor.
int qxPrintText(lua_State *L, const char *text, size_t length, int tags);
// The same; with layers on, the PRINT layer made goes to *layer.
int qxPrintTextLayer(lua_State *L, const char *text, size_t length, int tags, qxLayer **layer);
}
