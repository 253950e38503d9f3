// Bitmap ".font" files: the contents file listing the sizes and the size
// files in the hunk layout. Both are outside input: every offset and count
// is checked against the file's size before use.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/files/qx_file.h"
#include "draw/fonts/qx_font.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

constexpr size_t kHunk = 32;          // pointers count from here
constexpr size_t kHeaderEnd = 142;    // end of the plain header
constexpr size_t kColorHeaderEnd = 186;
constexpr int64_t kMaxFontFile = 64 << 20;

uint16_t be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// The range [offset + 32, + bytes) inside the file, or null.
const uint8_t *at(const uint8_t *data, size_t size, uint32_t offset, uint64_t bytes) {
    uint64_t start = uint64_t(offset) + kHunk;
    if (start > size || bytes > size - start) return nullptr;
    return data + start;
}

void freeRecord(qxBitmapFont *f) {
    if (!f) return;
    free(f->strip);
    free(f->location);
    free(f->space);
    free(f->kern);
    free(f);
}

bool endsWithFont(const std::string &s) {
    return s.size() >= 5 && strcasecmp(s.c_str() + s.size() - 5, ".font") == 0;
}

// Whole file into memory, bounded.
uint8_t *readAll(const char *name, size_t *size) {
    qxFileHandle *h = qxOpen(name, 1, nullptr);
    if (!h) return nullptr;
    int64_t n = qxFileSize(h);
    uint8_t *data = nullptr;
    if (n >= 0 && n <= kMaxFontFile) {
        data = static_cast<uint8_t *>(malloc(n ? size_t(n) : 1));
        if (data && qxRead(h, data, n) != n) {
            free(data);
            data = nullptr;
        }
        *size = size_t(n);
    }
    qxClose(h);
    return data;
}

// The chunk name of a size file that an entry places inside the contents
// file's container: ":::chunk<offset>:<size>*<name>/..." at an offset of the
// container itself, "::linkedfont<offset>:<size>*<name>" at an offset from
// the start of the contents data (a font linked into an applet). A plain
// contents file is its own container. False for a malformed entry.
bool containedSizeFile(const std::string &contents, const char *entry, std::string &out) {
    const bool linked = !strncmp(entry, "::linkedfont", 12);
    const char *p = entry + (linked ? 12 : 8);
    char *end = nullptr;
    const unsigned long offset = strtoul(p, &end, 10);
    if (end == p || *end != ':' || offset > 0xFFFFFFFFul) return false;
    p = end + 1;
    const unsigned long size = strtoul(p, &end, 10);
    if (end == p || *end != '*' || size > 0xFFFFFFFFul) return false;
    std::string name = end + 1;
    if (!linked) name = name.substr(0, name.find('/'));
    char container[QX_CHUNKNAME_MAX];
    uint32_t start = 0;
    if (qxIsChunkName(contents.c_str())) {
        char inner[QX_CHUNKNAME_MAX];
        if (!strncmp(contents.c_str(), ":::chunkS", 9) ||
            !qxParseChunkName(contents.c_str(), &start, nullptr, inner, sizeof inner, container, sizeof container,
                              nullptr, 0, nullptr))
            return false;
    } else if (contents.size() < sizeof container) {
        memcpy(container, contents.c_str(), contents.size() + 1);
    } else {
        return false;
    }
    char chunk[QX_CHUNKNAME_MAX];
    if (!qxMakeChunkName(name.c_str(), chunk, sizeof chunk, int64_t(offset), uint32_t(size), linked ? start : 0,
                         container))
        return false;
    out = chunk;
    return true;
}

} // namespace

extern "C" int qxFontSizeFileName(const char *contents, const char *entry, char *out, size_t capacity) {
    std::string name;
    if (!strncmp(entry, ":::chunk", 8) || !strncmp(entry, "::linkedfont", 12)) {
        if (!containedSizeFile(contents, entry, name)) return 0;
    } else {
        // Relative to the contents file's directory.
        const char *slash = qxIsChunkName(contents) ? nullptr : strrchr(contents, '/');
        name = std::string(contents, slash ? size_t(slash - contents) + 1 : 0) + entry;
    }
    if (name.size() >= capacity) return 0;
    memcpy(out, name.c_str(), name.size() + 1);
    return 1;
}

extern "C" int qxParseFontContents(const uint8_t *data, size_t size, int32_t ySize, char *name, size_t nameBytes) {
    if (size < 4 || nameBytes == 0) return 0;
    if ((be16(data) & ~2u) != 0x0F00) return 0;
    int16_t n = int16_t(be16(data + 2));
    for (int i = 0; i < n; ++i) {
        size_t off = 4 + size_t(i) * 260;
        if (off + 260 > size) return 0;
        const uint8_t *e = data + off;
        if (int16_t(be16(e + 256)) != ySize) continue;
        size_t len = strnlen(reinterpret_cast<const char *>(e), 256);
        if (len == 256) continue; // no terminator: not a usable name
        if (len == 12 && memcmp(e, "::incomplete", 12) == 0) continue;
        if (len + 1 > nameBytes) return 0;
        memcpy(name, e, len);
        name[len] = 0;
        return 1;
    }
    return 0;
}

extern "C" int qxParseBitmapFontSize(const uint8_t *data, size_t size, qxFontHandle *handle) {
    if (size < kHeaderEnd || be16(data + 50) != 0x0F80) return 0;
    auto *f = static_cast<qxBitmapFont *>(calloc(1, sizeof(qxBitmapFont)));
    if (!f) return 0;
    f->ySize = int16_t(be16(data + 110));
    f->style = data[112];
    f->flags = data[113];
    f->xSize = int16_t(be16(data + 114));
    f->baseline = int16_t(be16(data + 116));
    f->boldSmear = int16_t(be16(data + 118));
    f->accessors = int16_t(be16(data + 120));
    f->lowChar = data[122];
    f->highChar = data[123];
    f->modulo = int16_t(be16(data + 128));
    uint32_t stripOff = be32(data + 124), locOff = be32(data + 130), spaceOff = be32(data + 134),
             kernOff = be32(data + 138);
    bool color = f->style & QX_FSF_COLORFONT;
    if (f->ySize < 0 || f->modulo < 0 || f->highChar + 1 < f->lowChar) { freeRecord(f); return 0; }
    f->count = f->highChar - f->lowChar + 2;
    uint64_t stripBytes = uint64_t(f->ySize) * uint64_t(f->modulo);
    const uint8_t *loc = at(data, size, locOff, uint64_t(f->count) * 4);
    const uint8_t *space = spaceOff ? at(data, size, spaceOff, uint64_t(f->count) * 2) : nullptr;
    const uint8_t *kern = kernOff ? at(data, size, kernOff, uint64_t(f->count) * 2) : nullptr;
    if (!loc || (spaceOff && !space) || (kernOff && !kern)) { freeRecord(f); return 0; }

    f->location = static_cast<uint32_t *>(malloc(f->count * 4));
    if (space) f->space = static_cast<int16_t *>(malloc(f->count * 2));
    if (kern) f->kern = static_cast<int16_t *>(malloc(f->count * 2));
    if (!f->location || (space && !f->space) || (kern && !f->kern)) { freeRecord(f); return 0; }
    uint32_t stripBits = uint32_t(f->modulo) * 8;
    for (uint32_t i = 0; i < f->count; ++i) {
        uint32_t v = be32(loc + i * 4), first = v >> 16, width = v & 0xFFFF;
        // A glyph reaching past the strip would read beyond it when drawn:
        // trim it to the strip.
        if (first > stripBits) first = stripBits;
        width = std::min(width, stripBits - first);
        f->location[i] = first << 16 | width;
        if (space) f->space[i] = int16_t(be16(space + i * 2));
        if (kern) f->kern[i] = int16_t(be16(kern + i * 2));
    }

    handle->kind = QX_FONT_BITMAP;
    if (!color) {
        const uint8_t *strip = at(data, size, stripOff, stripBytes);
        if (!strip) { freeRecord(f); return 0; }
        f->strip = static_cast<uint8_t *>(malloc(stripBytes ? stripBytes : 1));
        if (!f->strip) { freeRecord(f); return 0; }
        memcpy(f->strip, strip, stripBytes);
    } else {
        // A strip larger than the file holds no real planes: refuse it
        // rather than expand it into an unbounded pixel array.
        if (size < kColorHeaderEnd || stripBytes > size) { freeRecord(f); return 0; }
        uint32_t depth = std::min<uint32_t>(data[144], 8), pick = data[148];
        const uint8_t *planes[8] = {};
        uint32_t k = 0;
        for (uint32_t p = 0; p < depth; ++p) {
            if (!(pick & (1u << p))) continue;
            uint32_t off = be32(data + 154 + k * 4);
            if (off) {
                planes[k] = at(data, size, off, stripBytes);
                if (!planes[k]) { freeRecord(f); return 0; }
            }
            ++k;
        }
        const uint8_t *rec = at(data, size, be32(data + 150), 8);
        if (!rec) { freeRecord(f); return 0; }
        uint32_t ncolors = be16(rec + 2);
        const uint8_t *table = at(data, size, be32(rec + 4), uint64_t(ncolors) * 2);
        if (!table) { freeRecord(f); return 0; }
        uint32_t colors[256];
        for (uint32_t i = 0; i < 256; ++i) {
            if (i >= ncolors) { colors[i] = QX_FONT_KEYCOLOR; continue; } // undefined index: key
            uint32_t v = be16(table + i * 2), r = v >> 8 & 15, g = v >> 4 & 15, b = v & 15;
            colors[i] = 0xFF000000u | (r * 17) << 16 | (g * 17) << 8 | b * 17;
        }
        uint64_t w = uint64_t(f->modulo) * 8, h = uint64_t(f->ySize);
        uint32_t *px = static_cast<uint32_t *>(malloc(w * h != 0 ? w * h * 4 : 4));
        if (!px) { freeRecord(f); return 0; }
        for (uint64_t y = 0; y < h; ++y)
            for (uint64_t x = 0; x < w; ++x) {
                if (!k) { px[y * w + x] = QX_FONT_KEYCOLOR; continue; }
                uint32_t index = 0;
                for (uint32_t p = 0; p < k; ++p)
                    if (planes[p] && planes[p][y * f->modulo + x / 8] & (0x80 >> (x & 7))) index |= 1u << p;
                px[y * w + x] = colors[index];
            }
        // Kept as pending pixels until bitmaps can be made from them.
        handle->pendingPixels = px;
        handle->pendingWidth = int32_t(w);
        handle->pendingHeight = int32_t(h);
        handle->kind = QX_FONT_COLORBITMAP;
    }
    handle->backend = f;
    handle->height = f->ySize;
    handle->baseline = f->baseline;
    handle->antialias = 0;
    return 1;
}

extern "C" int qxLoadBitmapFont(const char *contentsPath, int32_t size, qxFontHandle *handle,
                                const char *displayName) {
    std::string path = contentsPath;
    bool chunk = qxIsChunkName(contentsPath);
    if (!chunk && !endsWithFont(path)) path += ".font";
    size_t n = 0;
    uint8_t *contents = readAll(path.c_str(), &n);
    if (!contents) return 0;
    char entry[260];
    int found = qxParseFontContents(contents, n, size, entry, sizeof entry);
    free(contents);
    if (!found) return 0;
    char sizeName[QX_CHUNKNAME_MAX];
    if (!qxFontSizeFileName(path.c_str(), entry, sizeName, sizeof sizeName)) return 0;
    uint8_t *sizeFile = readAll(sizeName, &n);
    if (!sizeFile) return 0;
    int ok = qxParseBitmapFontSize(sizeFile, n, handle);
    free(sizeFile);
    if (!ok) return 0;
    handle->size = size;
    const char *base = strrchr(path.c_str(), '/');
    snprintf(handle->name, sizeof handle->name, "%s", displayName ? displayName : base ? base + 1 : path.c_str());
    return 1;
}

extern "C" void qxFreeBitmapFont(qxFontHandle *handle) {
    freeRecord(static_cast<qxBitmapFont *>(handle->backend));
    handle->backend = nullptr;
    free(handle->pendingPixels);
    handle->pendingPixels = nullptr;
    qxFreeFontColourBitmaps(handle);
}

extern "C" uint32_t qxBitmapFontGlyph(const qxBitmapFont *font, uint32_t ch) {
    if (ch >= font->lowChar && ch <= font->highChar) return ch - font->lowChar;
    return font->count - 1;
}

extern "C" int qxBitmapFontBytes(const char *text, size_t length, int encoding, char *buffer, size_t bufferBytes,
                                 const char **out, size_t *count, char **allocated) {
    *allocated = nullptr;
    if (!encoding) {
        *out = text, *count = length;
        return 0;
    }
    size_t need;
    if (!qxAddSize(length, 1, &need)) return QX_ERR_MEMORY;
    char *to = buffer;
    if (need > bufferBytes) {
        to = *allocated = static_cast<char *>(malloc(need));
        if (!to) return QX_ERR_MEMORY;
    }
    *count = qxUtf8ToLatin1(text, to, length, nullptr);
    *out = to;
    return 0;
}

extern "C" int qxBitmapFontMeasureText(qxFontHandle *handle, const char *text, size_t length, uint32_t,
                                       int encoding, qxTextExtent *e) {
    const auto *f = static_cast<const qxBitmapFont *>(handle->backend);
    *e = {};
    e->height = f->ySize;
    e->minY = -f->baseline;
    e->maxY = f->ySize - 1 - f->baseline;
    char local[512], *allocated = nullptr;
    const char *bytes;
    size_t n;
    if (int r = qxBitmapFontBytes(text, length, encoding, local, sizeof local, &bytes, &n, &allocated)) return r;
    auto charAt = [&](size_t i) { return uint32_t(uint8_t(bytes[i])); };
    if (!(f->flags & QX_FPF_PROPORTIONAL) && !f->space && !f->kern) {
        e->width = f->xSize * int32_t(n);
        e->minX = 0;
        e->maxX = e->width - 1;
    } else {
        int32_t pen = 0, lo = 0, hi = 0;
        for (size_t i = 0; i < n; ++i) {
            uint32_t g = qxBitmapFontGlyph(f, charAt(i));
            int32_t start = pen + (f->kern ? f->kern[g] : 0);
            int32_t end = start + int32_t(f->location[g] & 0xFFFF);
            pen = start + (f->space ? f->space[g] : f->xSize);
            lo = std::min({lo, start, end, pen});
            hi = std::max({hi, start, end, pen});
        }
        e->minX = lo;
        e->maxX = hi - 1;
        e->width = pen;
    }
    free(allocated);
    return 0;
}
