// Font handles and the bitmap ".font" back-end: the records every text
// operation draws through, whatever the font's kind.
#pragma once
#include <cstddef>
#include <cstdint>

struct qxBitMap;

// Font kinds.
constexpr int32_t QX_FONT_BITMAP = 1, QX_FONT_COLORBITMAP = 2, QX_FONT_NATIVE = 3, QX_FONT_TRUETYPE = 4;

// Transparent key colour of colour bitmap fonts.
constexpr uint32_t QX_FONT_KEYCOLOR = 0xEEE6D2;

// Error codes of the font layer.
constexpr int QX_ERR_MEMORY = 1000, QX_ERR_UTF8 = 1003;

// One size of a bitmap font, tables in host order.
struct qxBitmapFont {
    int32_t ySize;
    uint32_t style, flags;
    int32_t xSize, baseline, boldSmear, accessors;
    uint32_t lowChar, highChar;
    uint8_t *strip; // ySize rows of modulo bytes, MSB first
    int32_t modulo;
    uint32_t *location; // high 16 bits first bit, low 16 bits width
    int16_t *space;     // or none
    int16_t *kern;      // or none
    uint32_t count;     // highChar - lowChar + 2
    qxBitMap *mask;     // kind 1: made from the strip once bitmaps exist
};

struct qxFontHandle {
    char name[1024];
    char path[1024];
    int32_t size;
    int32_t height, baseline;
    int32_t baseHeight, baseBaseline;
    int32_t kind;
    uint32_t scalable, antialias, usepoints, native;
    double xScale, yScale;
    void *backend; // qxBitmapFont for kinds 1 and 2
    qxBitMap *colorImage, *colorMask;
    uint32_t *pendingPixels; // colour glyph strip, ARGB
    int32_t pendingWidth, pendingHeight;
    void *vectorFonts;
};

// First six fields of the text extent record.
struct qxTextExtent {
    int32_t width, height, minX, minY, maxX, maxY;
};

// Style flags of the bitmap font header.
constexpr uint32_t QX_FSF_COLORFONT = 0x40;
constexpr uint32_t QX_FPF_PROPORTIONAL = 0x20, QX_FPF_DESIGNED = 0x40;

extern "C" {
// Decodes UTF-8 into code points; 0, or QX_ERR_UTF8 for a bad sequence or
// a clear utf8 flag.
int qxUtf8ToCodePoints(const char *text, size_t length, int utf8, uint32_t *buffer, size_t bufferBytes,
                       uint32_t **out, size_t *count, int *allocated);

// Finds the size file name for ySize in a contents file image; 1 and the
// entry's name, or 0.
int qxParseFontContents(const uint8_t *data, size_t size, int32_t ySize, char *name, size_t nameBytes);
// The name to open for a contents entry's size file: a path relative to
// the contents file, or a chunk of its container (":::chunk" at an offset
// of the container, "::linkedfont" at an offset from the contents file's
// start). 1, or 0 for a malformed entry or one that does not fit.
int qxFontSizeFileName(const char *contents, const char *entry, char *out, size_t capacity);
// Reads a size file image into a fresh record (and, for colour fonts, the
// handle's pending pixels); 1 or 0. Every offset is checked against size.
int qxParseBitmapFontSize(const uint8_t *data, size_t size, qxFontHandle *handle);
// Opens contentsPath (".font" appended when missing) at the given size.
int qxLoadBitmapFont(const char *contentsPath, int32_t size, qxFontHandle *handle, const char *displayName);
void qxFreeBitmapFont(qxFontHandle *handle);
// Colour fonts: pending pixels into the colour image and mask (0, or
// QX_ERR_MEMORY with the pixels kept); for one handle or every cached one.
int qxRealizeFontHandle(qxFontHandle *handle);
int qxRealizeFontBitmaps(void);
int qxFontBitmapsReady(void); // 1 once qxRealizeFontBitmaps has run
void qxFreeFontColourBitmaps(qxFontHandle *handle);
int qxBitmapFontMeasureText(qxFontHandle *handle, const char *text, size_t length, uint32_t style, int encoding,
                            qxTextExtent *extent);
// The start-up font's 8 rows of 188 glyph cells and the cell of each of
// its 225 location entries (characters 32 to 255, then the fall-back).
extern const uint8_t qxTopazStrip[8][188];
extern const uint8_t qxTopazCell[225];
// Index into the tables for a character.
uint32_t qxBitmapFontGlyph(const qxBitmapFont *font, uint32_t ch);
// The bytes a bitmap font draws: UTF-8 text converted to ISO-8859-1 (into
// buffer when it fits, else into *allocated, freed by the caller), other
// text as it is. 0 or QX_ERR_MEMORY.
int qxBitmapFontBytes(const char *text, size_t length, int encoding, char *buffer, size_t bufferBytes,
                      const char **out, size_t *count, char **allocated);
}

// ---- TrueType back-end ----
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H

struct qxFileHandle;

// Sizes of the stored fonts, fixed by the plug-in interface.
constexpr uint32_t QX_VERA_SANS_BYTES = 65932, QX_VERA_SANSMONO_BYTES = 49224, QX_VERA_SERIF_BYTES = 60280;

constexpr int QX_ERR_FREETYPE = 1386;

// Text styles the back-ends honour.
constexpr uint32_t QX_STYLE_BOLD = 2, QX_STYLE_ITALIC = 4, QX_STYLE_ANTIALIAS = 16;

struct qxFtStreamDesc {
    qxFileHandle *file;
    int64_t start, size;
};

struct qxGlyphCacheEntry {
    FT_Glyph glyph;
    FT_Pos advance;
    FT_Int left, top;
};

struct qxTrueTypeFont {
    FT_StreamRec stream;
    qxFtStreamDesc desc;
    FT_Face face;
    qxFileHandle *file;
    void *memory;
    int32_t resX, resY;
    int32_t pixelSize;
    char path[1024];
    uint32_t deletePath;
    uint32_t cache;
    qxGlyphCacheEntry glyphs[2][256]; // anti-aliased, monochrome
    FT_UInt charIndex[256];           // glyph index + 1 of codes below 256; 0: not looked up
    // Synthesised bold, italic and bold italic glyphs of codes below 256,
    // [mode][style - 1][code], made at their first use; emptied with the two
    // caches above.
    qxGlyphCacheEntry (*styled)[3][256];
};

extern "C" {
extern const uint8_t qxVeraSans[QX_VERA_SANS_BYTES];
extern const uint8_t qxVeraSansMono[QX_VERA_SANSMONO_BYTES];
extern const uint8_t qxVeraSerif[QX_VERA_SERIF_BYTES];

int qxFtInit(void);
void qxFtDone(void);
int qxFtOpenFont(const char *name, int32_t size, uint32_t cache, qxFontHandle *handle);
int qxFtComputeBaseline(FT_Face face, int32_t h);
// 0, or -1 when the glyph cannot be loaded or rendered. The bitmap stays
// valid until the next load or the cache is emptied.
int qxFtLoadGlyph(qxTrueTypeFont *font, uint32_t code, FT_UInt index, uint32_t style, int *left, int *top,
                  FT_Pos *advance, FT_Bitmap *bitmap);
int qxFtMeasureText(qxFontHandle *handle, const char *text, size_t length, uint32_t style, int encoding,
                    qxTextExtent *extent);
int qxFtGetKerning(qxFontHandle *handle, const char *pair, size_t length, uint32_t style, int encoding);
void qxFtFreeGlyphCache(qxFontHandle *handle);
void qxFtFreeFace(qxFontHandle *handle);
}

// ---- Font directories and the font database ----
constexpr int QX_ERR_LOCK = 1286;

struct qxFontDbEntry {
    qxFontDbEntry *next;
    char name[1024];
    char family[512];
    char path[1024];
    uint32_t weight, slant;
    uint32_t offset, size;  // a "dfont" face inside its file
    uint32_t tableOffset;   // a collection face's table directory
    uint32_t bitmap;
    uint8_t *sizes;
    uint32_t sizeCount;
};

// Random access to a font file's bytes: 1 when all n bytes were read.
struct qxFontSource {
    int (*read)(void *context, uint64_t offset, void *buffer, size_t n);
    void *context;
};

extern "C" {
int qxAddFontPath(const char *path);   // 0 or QX_ERR_LOCK
void qxClearFontPaths(void);
int qxScanFontDirectories(int listing);
int qxScanFontDirectory(const char *dir, int listing); // 0 or QX_ERR_LOCK
// Adds the faces of one file (by its name's ending) read through source.
void qxScanFontSource(const char *path, const qxFontSource *source, int listing);
// The table directory at directory; table offsets count from base (0 in a
// collection, whose offsets count from the file's start).
int qxReadFontNames(const qxFontSource *source, uint64_t directory, uint64_t base, char *family, char *style);
void qxStyleWeightSlant(const char *style, uint32_t *weight, uint32_t *slant);
const qxFontDbEntry *qxFontDbFirst(void);
// The path to open, with offset and size (0: whole file) and whether it is
// a temporary extracted file; null when not found or extraction fails.
const char *qxFontDbFind(const char *name, int32_t weight, int32_t slant, int wantBitmap, uint32_t *offset,
                         uint32_t *size, int *temporary, char *buffer, size_t capacity);
void qxFreeFontDb(void);
}

// ---- The font system: handles, the open-font cache, dispatch ----
constexpr int32_t QX_FONTENGINE_NATIVE = 0, QX_FONTENGINE_INBUILT = 4;

struct qxFontCacheEntry {
    qxFontCacheEntry *next;
    char name[1024];
    int32_t size;
    int32_t engine;
    uint32_t cache;
    uint32_t usepoints;
    qxFontHandle *handle;
    // Opened by the script (kept until shutdown), or only for layers: then
    // closed when the last layer holding it lets go.
    uint32_t pinned;
    uint32_t layerRefs;
};

extern "C" {
int qxForEachFontPath(int (*visit)(const char *dir, void *context), void *context);
int qxInitFontSystem(qxFontHandle **topaz);
void qxCloseFontSystem(void);
int qxOpenTopazFont(qxFontHandle **out);
int qxFindFontFile(const char *name, char *path, size_t size); // 1 when found
int qxOpenFont(const char *name, int32_t size, int32_t engine, uint32_t cache, uint32_t usepoints, int linked,
               qxFontHandle **out);
int qxOpenFontByName(const char *name, int32_t size, int32_t engine, uint32_t cache, uint32_t usepoints,
                     int linked, qxFontHandle **out);
void qxCloseFontHandle(qxFontHandle *handle);
// A font a layer opens for itself: through the cache with one reference
// counted (size below 1: 1064). Every layer payload holding a font retains
// it and releases it when freed; a font the script never opened closes with
// its last reference.
int qxOpenLayerFont(const char *name, int32_t size, int32_t engine, uint32_t cache, uint32_t usepoints,
                    qxFontHandle **out);
void qxRetainFont(qxFontHandle *handle);
void qxReleaseFont(qxFontHandle *handle);
const qxFontCacheEntry *qxFontCacheEntryOf(const qxFontHandle *handle);
int qxFontMeasureText(qxFontHandle *handle, const char *text, size_t length, uint32_t style, int encoding,
                      qxTextExtent *extent);
int qxFontHasNativeStyle(qxFontHandle *handle, uint32_t style);
void qxFontSetScale(qxFontHandle *handle, double xScale, double yScale);
int qxFontGetKerning(qxFontHandle *handle, const char *pair, size_t length, uint32_t style, int encoding);
void qxFontFreeGlyphCache(qxFontHandle *handle);
FT_Face qxFtGetFace(qxFontHandle *handle);
const qxFontCacheEntry *qxFontCacheFirst(void);
// Host sub-table 6: the font file for a name (weight 0xFFFFFFFF: by full
// name); the path stays valid until the next call.
const char *qxHostFindFontFile(const char *name, uint32_t weight, uint32_t slant, uint32_t bitmap,
                               uint32_t *offset, uint32_t *size, uint32_t *temporary);
}

// ---- Glyph drawing onto locked pixels ----
// A locked ARGB target and its 8-bit coverage plane (either may be absent).
struct qxGlyphTarget {
    uint32_t *pixels;
    int32_t pixelsPerRow;
    uint8_t *coverage;
    int32_t coverageBytesPerRow;
    int32_t width, height;
};
struct qxGlyphClip {
    int32_t x0, y0, x1, y1; // x1, y1 exclusive
};

extern "C" {
// 8-bit coverage glyph: colour -1 writes non-zero coverage into the plane,
// any other colour blends it into the pixels.
void qxBlitGlyphA8(const qxGlyphTarget *t, const qxGlyphClip *clip, int32_t x, int32_t y, const uint8_t *src,
                   int32_t pitch, int32_t w, int32_t h, int64_t colour);
// 1-bit glyph starting at bit firstBit of each row: colour -1 sets the
// plane to 255 under set bits, any other colour paints them.
void qxBlitGlyphMono(const qxGlyphTarget *t, const qxGlyphClip *clip, int32_t x, int32_t y, const uint8_t *src,
                     int32_t pitch, int32_t firstBit, int32_t w, int32_t h, int64_t colour);
int qxFtDrawText(qxFontHandle *handle, const qxGlyphTarget *target, int32_t x, int32_t y, const char *text,
                 size_t length, uint32_t style, int encoding, const qxGlyphClip *clip, int64_t colour);
int qxBitmapFontDrawText(qxFontHandle *handle, const qxGlyphTarget *target, int32_t x, int32_t y, const char *text,
                         size_t length, uint32_t style, int encoding, const qxGlyphClip *clip, int64_t colour);
// Draws by the handle's kind (none: "topaz"); colour -1 writes coverage
// only. 0 or an error code.
int qxFontDrawText(qxFontHandle *handle, const qxGlyphTarget *target, int32_t x, int32_t y, const char *text,
                   size_t length, uint32_t style, int encoding, const qxGlyphClip *clip, int64_t colour);
}
