// The font system: the shared "topaz" handle, opening fonts by name with
// the default aliases and the fall-back between kinds, the open-font cache
// and the operations dispatched by kind.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "core/files/qx_file.h"
#include "draw/fonts/qx_font.h"
#include "platform/qx_errcodes.h"

namespace {

qxFontHandle *topaz;
qxFontCacheEntry *cacheList;

bool endsWithFont(const std::string &s) {
    return s.size() >= 5 && strcasecmp(s.c_str() + s.size() - 5, ".font") == 0;
}

bool canOpen(const std::string &path) {
    qxFileHandle *h = qxOpen(path.c_str(), 1, nullptr);
    if (h) qxClose(h);
    return h != nullptr;
}

void freeHandle(qxFontHandle *h) {
    if (!h) return;
    if (h->kind == QX_FONT_TRUETYPE) qxFtFreeFace(h);
    else if (h->kind == QX_FONT_BITMAP || h->kind == QX_FONT_COLORBITMAP) qxFreeBitmapFont(h);
    free(h);
}

// 1064 shows its error string as it is: the whole message goes there.
int openFailed(const char *name, int32_t size) {
    char text[QX_ERRORSTRING_SIZE];
    // The name is cut so that the size always fits.
    snprintf(text, sizeof text, "Cannot open font %.*s with size %d!", int(sizeof text - 64), name ? name : "",
             int(size));
    qxSetErrorString(text);
    qxSetErrorNumber(size);
    return ERR_OPENFONT;
}

uint32_t readBE32(qxFileHandle *f, bool *ok) {
    const uint32_t v = qxReadBE32(f);
    // The font data follows the word: an end of file here is a short file.
    *ok = *ok && !qxEOF(f);
    return v;
}

// The chunk name of what follows a linked font's flags word (and the block
// that bit 4 adds); 0, 1045, 1009 or 1000.
int linkedFontData(const char *chunk, char *out, size_t capacity, bool *trueType) {
    uint32_t offset = 0, size = 0;
    char inner[QX_CHUNKNAME_MAX], container[QX_CHUNKNAME_MAX];
    qxFileHandle *f = qxOpen(chunk, 1, nullptr);
    if (!f || !qxParseChunkName(chunk, &offset, &size, inner, sizeof inner, container, sizeof container, nullptr, 0,
                                nullptr)) {
        if (f) qxClose(f);
        qxSetErrorString(chunk);
        return ERR_READFILE;
    }
    bool ok = true;
    const int64_t real = qxFileSize(f);
    if (real >= 0 && uint64_t(real) < size) size = uint32_t(real);
    const uint32_t flags = readBE32(f, &ok);
    uint64_t skip = 4;
    if (ok && (flags & 6) == 6) skip = 8 + uint64_t(readBE32(f, &ok));
    qxClose(f);
    if (!ok || skip > size) return ERR_READ;
    *trueType = flags & 2;
    if (!qxMakeChunkName(inner, out, capacity, int64_t(skip), uint32_t(size - skip), offset, container)) return ERR_MEM;
    return 0;
}

} // namespace

extern "C" int qxOpenTopazFont(qxFontHandle **out) {
    auto *h = static_cast<qxFontHandle *>(calloc(1, sizeof(qxFontHandle)));
    auto *f = static_cast<qxBitmapFont *>(calloc(1, sizeof(qxBitmapFont)));
    if (f) {
        f->ySize = 8, f->xSize = 8, f->baseline = 6, f->boldSmear = 1, f->flags = QX_FPF_DESIGNED;
        f->lowChar = 32, f->highChar = 255, f->count = 225, f->modulo = 188;
        f->strip = static_cast<uint8_t *>(calloc(8, 188));
        f->location = static_cast<uint32_t *>(malloc(225 * 4));
    }
    if (!h || !f || !f->strip || !f->location) {
        if (f) free(f->strip), free(f->location);
        free(f);
        free(h);
        return ERR_MEM;
    }
    memcpy(f->strip, qxTopazStrip, sizeof qxTopazStrip);
    for (uint32_t i = 0; i < 225; ++i) f->location[i] = uint32_t(qxTopazCell[i]) * 8 << 16 | 8;
    h->backend = f;
    h->kind = QX_FONT_BITMAP;
    h->size = 8, h->height = 8, h->baseline = 6, h->baseHeight = 8, h->baseBaseline = 6;
    h->xScale = h->yScale = 1.0;
    strcpy(h->name, "topaz");
    strcpy(h->path, "topaz");
    *out = h;
    return 0;
}

extern "C" int qxInitFontSystem(qxFontHandle **out) {
    if (!topaz) {
        if (qxFtInit()) return ERR_FT2;
        if (int err = qxOpenTopazFont(&topaz)) return err;
    }
    if (out) *out = topaz;
    return 0;
}

extern "C" void qxCloseFontSystem(void) {
    while (cacheList) {
        qxFontCacheEntry *next = cacheList->next;
        qxCloseFontHandle(cacheList->handle);
        free(cacheList);
        cacheList = next;
    }
    freeHandle(topaz);
    topaz = nullptr;
    qxFtDone();
    qxFreeFontDb();
}

extern "C" int qxFindFontFile(const char *name, char *path, size_t size) {
    if (qxIsChunkName(name)) {
        snprintf(path, size, "%s", name);
        return 1;
    }
    std::string file = name;
    if (!endsWithFont(file)) file += ".font";
    struct Search {
        std::string file, found;
    } search = {file, ""};
    auto inDir = [](const char *dir, void *context) -> int {
        auto *s = static_cast<Search *>(context);
        std::string p = std::string(dir) + "/" + s->file;
        if (!canOpen(p)) return 0;
        s->found = p;
        return 1;
    };
    if (!qxForEachFontPath(inDir, &search)) {
        for (const char *form : {"%s", "Fonts/%s", "FONTS/%s", "fonts/%s"}) {
            char p[1100];
            snprintf(p, sizeof p, form, file.c_str());
            if (canOpen(p)) { search.found = p; break; }
        }
    }
    if (search.found.empty() || search.found.size() >= size) return 0;
    memcpy(path, search.found.c_str(), search.found.size() + 1);
    return 1;
}

extern "C" int qxOpenFont(const char *name, int32_t size, int32_t engine, uint32_t cache, uint32_t usepoints,
                          int linked, qxFontHandle **out) {
    if (int err = qxInitFontSystem(nullptr)) return err;
    // A linked font: a flags word, then a bitmap font's contents file or
    // (bit 2) a TrueType font, after a skipped block when bit 4 is set too.
    char data[QX_CHUNKNAME_MAX];
    bool trueType = false;
    if (linked) {
        if (int err = linkedFontData(name, data, sizeof data, &trueType)) return err;
        name = data;
    }
    if (engine == QX_FONTENGINE_NATIVE && !strcasecmp(name, "topaz") && size == 8) {
        *out = topaz;
        return 0;
    }
    auto *h = static_cast<qxFontHandle *>(calloc(1, sizeof(qxFontHandle)));
    if (!h) return ERR_MEM;
    h->usepoints = usepoints;
    h->xScale = h->yScale = 1.0;
    bool ok = false;
    if (engine == QX_FONTENGINE_NATIVE) {
        char path[1024];
        if (!usepoints && !trueType && qxFindFontFile(name, path, sizeof path))
            ok = qxLoadBitmapFont(path, size, h, linked ? qxChunkBaseName(name) : name);
        if (!ok) ok = qxFtOpenFont(name, size, cache, h);
    } else if (engine == QX_FONTENGINE_INBUILT) {
        ok = qxFtOpenFont(name, size, cache, h);
    }
    if (!ok) {
        free(h);
        return openFailed(name, size);
    }
    // A colour font opened once the display exists needs no waiting; if
    // its bitmaps cannot be made it still draws from the pending pixels.
    if (qxFontBitmapsReady()) qxRealizeFontHandle(h);
    *out = h;
    return 0;
}

namespace {

// The cache front end; a script's open pins the entry for the rest of the
// run, a layer's open counts one reference instead.
int openCached(const char *name, int32_t size, int32_t engine, uint32_t cache, uint32_t usepoints, int linked,
               bool pin, qxFontHandle **out) {
    std::string n = name;
    if (!strcmp(name, ":::default_bitmap")) {
        if (usepoints) return ERR_WRONGUSAGE;
        n = "topaz";
        engine = QX_FONTENGINE_NATIVE;
    } else if (!strcmp(name, ":::default_truetype") || !strcmp(name, ":::default_sans")) {
        n = "Bitstream Vera Sans", engine = QX_FONTENGINE_INBUILT;
    } else if (!strcmp(name, ":::default_serif")) {
        n = "Bitstream Vera Serif", engine = QX_FONTENGINE_INBUILT;
    } else if (!strcmp(name, ":::default_mono")) {
        n = "Bitstream Vera Sans Mono", engine = QX_FONTENGINE_INBUILT;
    } else if (!linked && !qxIsChunkName(name)) {
        const char *slash = strrchr(name, '/');
        if (engine != QX_FONTENGINE_INBUILT && slash) return ERR_FONTPATH;
        if (n.size() > 511) n.resize(511);
        if (endsWithFont(n)) n.resize(n.size() - 5);
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (qxFontCacheEntry *e = cacheList; e; e = e->next)
            if (e->cache == cache && e->engine == engine && e->size == size && e->usepoints == usepoints &&
                !strcasecmp(e->name, n.c_str())) {
                e->handle->xScale = e->handle->yScale = 1.0;
                if (pin) e->pinned = 1;
                else ++e->layerRefs;
                *out = e->handle;
                return 0;
            }
        qxFontHandle *h = nullptr;
        int err = qxOpenFont(n.c_str(), size, engine, cache, usepoints, linked, &h);
        if (err) {
            if (engine == QX_FONTENGINE_INBUILT && err == ERR_OPENFONT) {
                engine = QX_FONTENGINE_NATIVE;
                continue;
            }
            return err;
        }
        auto *e = static_cast<qxFontCacheEntry *>(calloc(1, sizeof(qxFontCacheEntry)));
        if (!e) {
            qxCloseFontHandle(h);
            return ERR_MEM;
        }
        snprintf(e->name, sizeof e->name, "%s", n.c_str());
        e->size = size, e->engine = engine, e->cache = cache, e->usepoints = usepoints, e->handle = h;
        e->pinned = pin, e->layerRefs = pin ? 0 : 1;
        qxFontCacheEntry **tail = &cacheList;
        while (*tail) tail = &(*tail)->next;
        *tail = e;
        if (h != topaz) snprintf(h->path, sizeof h->path, "%s", n.c_str());
        *out = h;
        return 0;
    }
    return openFailed(name, size);
}

qxFontCacheEntry *entryOf(const qxFontHandle *h) {
    qxFontCacheEntry *e = cacheList;
    while (e && e->handle != h) e = e->next;
    return e;
}

} // namespace

extern "C" int qxOpenFontByName(const char *name, int32_t size, int32_t engine, uint32_t cache, uint32_t usepoints,
                                int linked, qxFontHandle **out) {
    if (size < 1) return openFailed(name, size); // FreeType never sees it
    return openCached(name, size, engine, cache, usepoints, linked, true, out);
}

extern "C" int qxOpenLayerFont(const char *name, int32_t size, int32_t engine, uint32_t cache, uint32_t usepoints,
                               qxFontHandle **out) {
    if (size < 1) return openFailed(name, size); // FreeType never sees it
    return openCached(name, size, engine, cache, usepoints, 0, false, out);
}

extern "C" const qxFontCacheEntry *qxFontCacheEntryOf(const qxFontHandle *h) { return entryOf(h); }

extern "C" void qxRetainFont(qxFontHandle *h) {
    if (qxFontCacheEntry *e = h ? entryOf(h) : nullptr) ++e->layerRefs;
}

extern "C" void qxReleaseFont(qxFontHandle *h) {
    qxFontCacheEntry *e = h ? entryOf(h) : nullptr;
    if (!e || !e->layerRefs || --e->layerRefs || e->pinned) return;
    qxFontCacheEntry **link = &cacheList;
    while (*link != e) link = &(*link)->next;
    *link = e->next;
    qxCloseFontHandle(e->handle);
    free(e);
}

extern "C" const qxFontCacheEntry *qxFontCacheFirst(void) { return cacheList; }

extern "C" void qxCloseFontHandle(qxFontHandle *h) {
    if (h && h != topaz) freeHandle(h);
}

extern "C" int qxFontMeasureText(qxFontHandle *h, const char *text, size_t length, uint32_t style, int encoding,
                                 qxTextExtent *extent) {
    if (!h) h = topaz;
    if (!h) return 0;
    switch (h->kind) {
    case QX_FONT_TRUETYPE: return qxFtMeasureText(h, text, length, style, encoding, extent);
    case QX_FONT_BITMAP:
    case QX_FONT_COLORBITMAP:
        if (h->native) return 0;
        return qxBitmapFontMeasureText(h, text, length, style, encoding, extent);
    default: return 0;
    }
}

extern "C" int qxFontDrawText(qxFontHandle *h, const qxGlyphTarget *target, int32_t x, int32_t y, const char *text,
                              size_t length, uint32_t style, int encoding, const qxGlyphClip *clip, int64_t colour) {
    if (!h) h = topaz;
    if (!h) return 0;
    switch (h->kind) {
    case QX_FONT_TRUETYPE: return qxFtDrawText(h, target, x, y, text, length, style, encoding, clip, colour);
    case QX_FONT_BITMAP:
    case QX_FONT_COLORBITMAP:
        if (h->native) return 0;
        return qxBitmapFontDrawText(h, target, x, y, text, length, style, encoding, clip, colour);
    default: return 0;
    }
}

extern "C" int qxFontHasNativeStyle(qxFontHandle *h, uint32_t) { return h && h->kind == QX_FONT_NATIVE ? 1 : 0; }

extern "C" void qxFontSetScale(qxFontHandle *h, double xs, double ys) {
    if (!h || !h->scalable || (h->xScale == xs && h->yScale == ys)) return;
    h->xScale = xs, h->yScale = ys;
    h->height = int32_t(std::ceil(h->baseHeight * ys));
    h->baseline = int32_t(std::ceil(h->baseBaseline * ys));
    if (h->kind == QX_FONT_TRUETYPE) {
        qxFtFreeGlyphCache(h);
        auto *t = static_cast<qxTrueTypeFont *>(h->backend);
        FT_Matrix m = {FT_Fixed(xs * 65536), 0, 0, FT_Fixed(ys * 65536)};
        FT_Set_Transform(t->face, &m, nullptr);
        h->baseline = qxFtComputeBaseline(t->face, h->height);
    }
}

extern "C" int qxFontGetKerning(qxFontHandle *h, const char *pair, size_t length, uint32_t style, int encoding) {
    if (h && h->kind == QX_FONT_TRUETYPE) return qxFtGetKerning(h, pair, length, style, encoding);
    return 0;
}

extern "C" void qxFontFreeGlyphCache(qxFontHandle *h) {
    if (h && h->kind == QX_FONT_TRUETYPE) qxFtFreeGlyphCache(h);
}

extern "C" FT_Face qxFtGetFace(qxFontHandle *h) {
    return h && h->kind == QX_FONT_TRUETYPE ? static_cast<qxTrueTypeFont *>(h->backend)->face : nullptr;
}
