// TrueType and OpenType faces through FreeType: opening from the stored
// fonts or the virtual file layer, sizing, the glyph cache, bold and italic
// synthesis, kerning and measuring.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "core/files/qx_file.h"
#include "draw/fonts/qx_font.h"

#include FT_OUTLINE_H
#include FT_SYNTHESIS_H

namespace {

FT_Library library;

unsigned long streamRead(FT_Stream stream, unsigned long offset, unsigned char *buffer, unsigned long count) {
    auto *d = static_cast<qxFtStreamDesc *>(stream->descriptor.pointer);
    if (qxSeek(d->file, d->start + int64_t(offset), 1) < 0) return count ? 0 : 1; // seek failure
    if (!count) return 0;
    int64_t n = qxRead(d->file, buffer, int64_t(count));
    return n < 0 ? 0 : static_cast<unsigned long>(n);
}

void streamClose(FT_Stream) {}

bool endsWith(const char *s, const char *tail) {
    size_t a = strlen(s), b = strlen(tail);
    return a >= b && strcasecmp(s + a - b, tail) == 0;
}

bool plainStyle(const char *style) {
    for (const char *p : {"regular", "plain", "normal", "book", "roman"})
        if (!strcasecmp(style, p)) return true;
    return false;
}

// Decoded text: code points, or one per byte.
struct Codes {
    uint32_t local[256];
    uint32_t *codes = nullptr;
    size_t n = 0;
    int allocated = 0;
    const char *bytes;
    Codes(const char *text, size_t length, int utf8) : bytes(text) {
        if (!utf8 || qxUtf8ToCodePoints(text, length, 1, local, sizeof local, &codes, &n, &allocated) != 0) {
            codes = nullptr;
            n = length;
        }
    }
    ~Codes() { if (allocated) free(codes); }
    uint32_t operator[](size_t i) const { return codes ? codes[i] : uint8_t(bytes[i]); }
};

void freeRecord(qxTrueTypeFont *t) {
    if (t->face) FT_Done_Face(t->face);
    if (t->file) qxClose(t->file);
    if (t->deletePath) remove(t->path);
    free(t->memory);
    free(t);
}

} // namespace

extern "C" int qxFtInit(void) {
    if (library) return 0;
    return FT_Init_FreeType(&library) ? QX_ERR_FREETYPE : 0;
}

extern "C" void qxFtDone(void) {
    if (library) FT_Done_FreeType(library);
    library = nullptr;
}

extern "C" int qxFtComputeBaseline(FT_Face face, int32_t h) {
    int above = 0, below = 0;
    bool any = false;
    for (FT_ULong c : {FT_ULong('A'), FT_ULong(0xC0), FT_ULong(0xC4), FT_ULong('q')}) {
        FT_UInt index = FT_Get_Char_Index(face, c);
        if (!index || FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_NO_AUTOHINT)) continue;
        any = true;
        above = std::max(above, face->glyph->bitmap_top);
        below = std::max(below, int(face->glyph->bitmap.rows) - face->glyph->bitmap_top);
    }
    return any ? (above + h + 1 - below) / 2 : h * 3 / 4;
}

extern "C" int qxFtOpenFont(const char *name, int32_t size, uint32_t cache, qxFontHandle *handle) {
    if (qxFtInit() || size <= 0) return 0;
    auto *t = static_cast<qxTrueTypeFont *>(calloc(1, sizeof(qxTrueTypeFont)));
    if (!t) return 0;
    t->cache = cache;
    t->resX = t->resY = 72;
    const uint8_t *stored = nullptr;
    size_t storedBytes = 0;
    if (!qxIsChunkName(name)) {
        if (!strcasecmp(name, "Bitstream Vera Sans")) stored = qxVeraSans, storedBytes = sizeof qxVeraSans;
        else if (!strcasecmp(name, "Bitstream Vera Serif")) stored = qxVeraSerif, storedBytes = sizeof qxVeraSerif;
        else if (!strcasecmp(name, "Bitstream Vera Sans Mono")) stored = qxVeraSansMono, storedBytes = sizeof qxVeraSansMono;
    }
    FT_Error err;
    if (stored) {
        err = FT_New_Memory_Face(library, stored, FT_Long(storedBytes), 0, &t->face);
    } else {
        const char *path = name;
        uint32_t offset = 0, faceSize = 0;
        if (!qxIsChunkName(name) && !endsWith(name, ".ttf") && !endsWith(name, ".otf")) {
            int temporary = 0;
            path = qxFontDbFind(name, -1, 0, 0, &offset, &faceSize, &temporary, t->path, sizeof t->path);
            if (!path) { freeRecord(t); return 0; }
            t->deletePath = uint32_t(temporary);
        }
        t->file = qxOpen(path, 1, nullptr);
        if (!t->file) { freeRecord(t); return 0; }
        int64_t bytes = qxFileSize(t->file);
        if (faceSize) {
            if (bytes < 0 || uint64_t(offset) + faceSize > uint64_t(bytes)) { freeRecord(t); return 0; }
            bytes = faceSize;
        }
        if (bytes <= 0 || bytes > 0x7FFFFFFF) { freeRecord(t); return 0; }
        t->desc = {t->file, int64_t(offset), bytes};
        t->stream.size = static_cast<unsigned long>(bytes);
        t->stream.descriptor.pointer = &t->desc;
        t->stream.read = streamRead;
        t->stream.close = streamClose;
        FT_Open_Args args = {};
        args.flags = FT_OPEN_STREAM;
        args.stream = &t->stream;
        err = FT_Open_Face(library, &args, 0, &t->face);
    }
    if (err) { t->face = nullptr; freeRecord(t); return 0; }
    FT_Face face = t->face;

    bool sized = false;
    if (!handle->usepoints && !FT_Set_Char_Size(face, 0, 6400, 72, 72)) {
        int above = 0, below = 0;
        for (FT_ULong c = 33; c <= 255; ++c) {
            FT_UInt index = FT_Get_Char_Index(face, c);
            if (!index || FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_NO_AUTOHINT)) continue;
            above = std::max(above, face->glyph->bitmap_top);
            below = std::max(below, int(face->glyph->bitmap.rows) - face->glyph->bitmap_top);
        }
        if (above + below > 0) {
            t->pixelSize = std::max(2, int(int64_t(size) * 100 / (above + below)));
            if (FT_Set_Pixel_Sizes(face, FT_UInt(t->pixelSize - 1), 0)) { freeRecord(t); return 0; }
            handle->height = size;
            handle->baseline = qxFtComputeBaseline(face, size);
            sized = true;
        }
    }
    if (!sized) {
        // Points at the display's resolution (72 x 72 on this platform).
        t->pixelSize = size;
        if (FT_Set_Char_Size(face, 0, FT_F26Dot6(size) * 64, FT_UInt(t->resX), FT_UInt(t->resY))) {
            freeRecord(t);
            return 0;
        }
        FT_Fixed ys = face->size->metrics.y_scale;
        handle->height = int32_t((FT_MulFix(face->height, ys) + 32) / 64);
        handle->baseline = int32_t((FT_MulFix(face->ascender, ys) + 32) / 64);
    }
    handle->baseHeight = handle->height;
    handle->baseBaseline = handle->baseline;
    handle->kind = QX_FONT_TRUETYPE;
    handle->scalable = 1;
    handle->antialias = 1;
    handle->size = size;
    if (handle->xScale == 0) handle->xScale = handle->yScale = 1.0;
    const char *family = face->family_name ? face->family_name : "";
    const char *style = face->style_name ? face->style_name : "";
    if (plainStyle(style) || !*style) snprintf(handle->name, sizeof handle->name, "%s", family);
    else snprintf(handle->name, sizeof handle->name, "%s %s", family, style);
    handle->backend = t;
    return 1;
}

extern "C" int qxFtLoadGlyph(qxTrueTypeFont *t, uint32_t code, FT_UInt index, uint32_t style, int *left, int *top,
                             FT_Pos *advance, FT_Bitmap *bitmap) {
    int mode = (style & QX_STYLE_ANTIALIAS) ? 0 : 1;
    const uint32_t synth = (style & (QX_STYLE_BOLD | QX_STYLE_ITALIC)) >> 1; // 0 plain, 1 bold, 2 italic, 3 both
    qxGlyphCacheEntry *entry = nullptr;
    if (t->cache && code < 256) {
        if (!synth) entry = &t->glyphs[mode][code];
        else {
            if (!t->styled) t->styled = static_cast<qxGlyphCacheEntry(*)[3][256]>(calloc(2, sizeof *t->styled));
            if (t->styled) entry = &t->styled[mode][synth - 1][code];
        }
    }
    if (entry && entry->glyph) {
        *bitmap = reinterpret_cast<FT_BitmapGlyph>(entry->glyph)->bitmap;
        *left = entry->left;
        *top = entry->top;
        *advance = entry->advance;
        return 0;
    }
    FT_Face face = t->face;
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_AUTOHINT)) return -1;
    FT_GlyphSlot slot = face->glyph;
    if (style & QX_STYLE_BOLD) FT_GlyphSlot_Embolden(slot);
    if ((style & QX_STYLE_ITALIC) && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
        FT_Matrix shear = {0x10000, 0x6000, 0, 0x10000};
        FT_Outline_Transform(&slot->outline, &shear);
    }
    if (FT_Render_Glyph(slot, mode ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL)) return -1;
    *bitmap = slot->bitmap;
    *left = slot->bitmap_left;
    *top = slot->bitmap_top;
    *advance = slot->advance.x;
    if (entry) {
        FT_Glyph glyph;
        if (!FT_Get_Glyph(slot, &glyph)) {
            entry->glyph = glyph;
            entry->advance = slot->advance.x;
            entry->left = slot->bitmap_left;
            entry->top = slot->bitmap_top;
            *bitmap = reinterpret_cast<FT_BitmapGlyph>(glyph)->bitmap;
        }
    }
    return 0;
}

namespace {

// Pen step of one glyph, in pixels, by the back-end's integer rule.
int32_t step(const qxFontHandle *h, const qxTrueTypeFont *t, FT_Pos advance, FT_Pos kern) {
    FT_Face face = t->face;
    int64_t ppem = std::max<int64_t>(1, face->size->metrics.x_ppem);
    int64_t upem = std::max<int64_t>(1, face->units_per_EM);
    int64_t v = (int64_t(advance) * 1024) / ppem - (-int64_t(kern) * 65536) / upem;
    v = v * (int64_t(t->pixelSize) * t->resX / 72) / 65536;
    // The face's transform already scales the advance: scaling it by the
    // handle's x scale again would space scaled text twice as wide.
    (void)h;
    return int32_t(v);
}

// The face's glyph index of a code; codes below 256 are looked up once.
FT_UInt charIndex(qxTrueTypeFont *t, uint32_t code) {
    if (code >= 256) return FT_Get_Char_Index(t->face, code);
    FT_UInt &slot = t->charIndex[code];
    if (!slot) slot = FT_Get_Char_Index(t->face, code) + 1;
    return slot - 1;
}

FT_Pos kerning(FT_Face face, FT_UInt left, FT_UInt right) {
    FT_Vector k = {0, 0};
    if (FT_HAS_KERNING(face) && left && right) FT_Get_Kerning(face, left, right, FT_KERNING_UNSCALED, &k);
    return k.x;
}

} // namespace

extern "C" int qxFtMeasureText(qxFontHandle *h, const char *text, size_t length, uint32_t style, int encoding,
                               qxTextExtent *e) {
    auto *t = static_cast<qxTrueTypeFont *>(h->backend);
    Codes codes(text, length, encoding);
    *e = {};
    e->height = h->height;
    int32_t minX = 10000, minY = 10000, maxX = 0, maxY = 0, pen = 0;
    for (size_t i = 0; i < codes.n; ++i) {
        const FT_UInt index = charIndex(t, codes[i]);
        const FT_Pos k = i + 1 < codes.n ? kerning(t->face, index, charIndex(t, codes[i + 1])) : 0;
        int left, top;
        FT_Pos advance;
        FT_Bitmap bm;
        if (qxFtLoadGlyph(t, codes[i], index, style, &left, &top, &advance, &bm)) continue;
        if (codes[i] != ' ') {
            minX = std::min(minX, pen + left);
            maxX = std::max(maxX, pen + left + int32_t(bm.width));
            minY = std::min(minY, -top);
            maxY = std::max(maxY, int32_t(bm.rows) - top);
        }
        pen += step(h, t, advance, k);
    }
    e->width = pen;
    e->minX = minX == 10000 ? 0 : minX;
    e->minY = minY == 10000 ? 0 : minY;
    e->maxX = maxX;
    e->maxY = maxY;
    return 0;
}

extern "C" int qxFtGetKerning(qxFontHandle *h, const char *pair, size_t length, uint32_t, int encoding) {
    auto *t = static_cast<qxTrueTypeFont *>(h->backend);
    if (!FT_HAS_KERNING(t->face)) return 0;
    Codes codes(pair, length, encoding);
    if (codes.n != 2) return 0;
    FT_UInt a = charIndex(t, codes[0]), b = charIndex(t, codes[1]);
    if (!a || !b) return 0;
    int64_t k = kerning(t->face, a, b);
    int64_t upem = std::max<int64_t>(1, t->face->units_per_EM);
    return int(-(((-k * 65536) / upem) * (int64_t(t->pixelSize) * t->resX / 72)) / 65536);
}

extern "C" void qxFtFreeGlyphCache(qxFontHandle *h) {
    auto *t = static_cast<qxTrueTypeFont *>(h->backend);
    if (!t) return;
    for (auto &mode : t->glyphs)
        for (auto &entry : mode) {
            if (entry.glyph) FT_Done_Glyph(entry.glyph);
            entry = {};
        }
    if (t->styled) {
        for (int mode = 0; mode < 2; ++mode)
            for (auto &style : t->styled[mode])
                for (auto &entry : style)
                    if (entry.glyph) FT_Done_Glyph(entry.glyph);
        free(t->styled);
        t->styled = nullptr;
    }
}

extern "C" void qxFtFreeFace(qxFontHandle *h) {
    auto *t = static_cast<qxTrueTypeFont *>(h->backend);
    if (!t) return;
    qxFtFreeGlyphCache(h);
    freeRecord(t);
    h->backend = nullptr;
}

extern "C" int qxFtDrawText(qxFontHandle *h, const qxGlyphTarget *target, int32_t x, int32_t y, const char *text,
                            size_t length, uint32_t style, int encoding, const qxGlyphClip *clip, int64_t colour) {
    auto *t = static_cast<qxTrueTypeFont *>(h->backend);
    Codes codes(text, length, encoding);
    int32_t pen = 0;
    for (size_t i = 0; i < codes.n; ++i) {
        const FT_UInt index = charIndex(t, codes[i]);
        const FT_Pos k = i + 1 < codes.n ? kerning(t->face, index, charIndex(t, codes[i + 1])) : 0;
        int left, top;
        FT_Pos advance;
        FT_Bitmap bm;
        if (qxFtLoadGlyph(t, codes[i], index, style, &left, &top, &advance, &bm)) continue;
        int32_t gx = x + pen + left, gy = y + h->baseline - top;
        if (bm.pixel_mode == FT_PIXEL_MODE_GRAY)
            qxBlitGlyphA8(target, clip, gx, gy, bm.buffer, bm.pitch, int32_t(bm.width), int32_t(bm.rows), colour);
        else if (bm.pixel_mode == FT_PIXEL_MODE_MONO)
            qxBlitGlyphMono(target, clip, gx, gy, bm.buffer, bm.pitch, 0, int32_t(bm.width), int32_t(bm.rows), colour);
        pen += step(h, t, advance, k);
    }
    return 0;
}
