// Font directories and the font database: family and style names of every
// TrueType, OpenType, collection and "dfont" face, sizes of ".font" bitmap
// fonts. Font files are outside input: every offset is read through a
// bounded source and a failed read skips the face.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "core/files/qx_file.h"
#include "draw/fonts/qx_font.h"
#include "platform/qx_paths.h"
#include "platform/x11/x11_display.h"

namespace {

struct PathNode {
    PathNode *next;
    std::string name;
};
PathNode *fontPaths;
qxFontDbEntry *database;
bool scanned;

uint16_t be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

int fileRead(void *context, uint64_t offset, void *buffer, size_t n) {
    auto *h = static_cast<qxFileHandle *>(context);
    if (offset > INT64_MAX || qxSeek(h, int64_t(offset), 1) < 0) return 0;
    return qxRead(h, buffer, int64_t(n)) == int64_t(n);
}

bool endsWith(const char *s, const char *tail) {
    size_t a = strlen(s), b = strlen(tail);
    return a >= b && strcasecmp(s + a - b, tail) == 0;
}

bool plainStyle(const char *style) {
    for (const char *p : {"regular", "plain", "normal", "book", "roman"})
        if (!strcasecmp(style, p)) return true;
    return false;
}

void addEntry(const qxFontDbEntry &e) {
    qxFontDbEntry **tail = &database;
    for (; *tail; tail = &(*tail)->next)
        if (!strcasecmp((*tail)->name, e.name)) { free(e.sizes); return; }
    auto *copy = static_cast<qxFontDbEntry *>(malloc(sizeof e));
    if (!copy) { free(e.sizes); return; }
    *copy = e;
    copy->next = nullptr;
    *tail = copy;
}

void addFace(const char *path, const qxFontSource *src, uint64_t directory, uint64_t base, uint32_t offset,
             uint32_t size, uint32_t tableOffset, int listing) {
    char family[512], style[512];
    if (!qxReadFontNames(src, directory, base, family, style)) return;
    qxFontDbEntry e = {};
    snprintf(e.family, sizeof e.family, "%.511s", family);
    snprintf(e.path, sizeof e.path, "%s", path);
    if (*style) snprintf(e.name, sizeof e.name, "%s %s", family, style);
    else snprintf(e.name, sizeof e.name, "%s", family);
    qxStyleWeightSlant(style, &e.weight, &e.slant);
    e.offset = offset;
    e.size = size;
    e.tableOffset = tableOffset;
    addEntry(e);
    if (!listing && plainStyle(style)) {
        snprintf(e.name, sizeof e.name, "%s", family);
        addEntry(e);
    }
}

void addBitmapFont(const char *path, const qxFontSource *src) {
    uint8_t head[4];
    if (!src->read(src->context, 0, head, 4)) return;
    uint16_t id = be16(head);
    if (id != 0x0F00 && id != 0x0F02 && id != 0x0F03) return;
    qxFontDbEntry e = {};
    const char *base = strrchr(path, '/');
    base = base ? base + 1 : path;
    snprintf(e.name, sizeof e.name, "%.*s", int(strlen(base) - 5), base);
    snprintf(e.family, sizeof e.family, "%.511s", e.name);
    snprintf(e.path, sizeof e.path, "%s", path);
    e.weight = 80;
    if (id != 0x0F03) {
        e.bitmap = 1;
        int16_t n = int16_t(be16(head + 2));
        std::vector<uint8_t> sizes;
        for (int i = 0; i < n; ++i) {
            uint8_t ys[2];
            if (!src->read(src->context, 4 + uint64_t(i) * 260 + 256, ys, 2)) break;
            uint8_t s = uint8_t(be16(ys));
            bool seen = false;
            for (uint8_t t : sizes) seen |= t == s;
            if (!seen) sizes.push_back(s);
        }
        if (!sizes.empty()) {
            e.sizes = static_cast<uint8_t *>(malloc(sizes.size()));
            if (!e.sizes) return;
            memcpy(e.sizes, sizes.data(), sizes.size());
            e.sizeCount = uint32_t(sizes.size());
        }
    }
    addEntry(e);
}

// Copies a collection face into a single-face file.
bool extractFace(const qxFontDbEntry *e, char *out, size_t capacity) {
    qxFileHandle *in = qxOpen(e->path, 1, nullptr);
    if (!in) return false;
    bool ok = false;
    qxFileHandle *o = nullptr;
    uint8_t head[12];
    std::vector<uint8_t> dir, table;
    if (fileRead(in, e->tableOffset, head, 12) && qxTempFileName(out, capacity) && (o = qxOpen(out, 2, nullptr))) {
        uint32_t n = be16(head + 4);
        dir.resize(12 + size_t(n) * 16);
        memcpy(dir.data(), head, 12);
        ok = fileRead(in, e->tableOffset + 12, dir.data() + 12, size_t(n) * 16) &&
             qxWrite(o, dir.data(), int64_t(dir.size())) == int64_t(dir.size());
        uint64_t pos = dir.size();
        for (uint32_t i = 0; ok && i < n; ++i) {
            uint8_t *rec = dir.data() + 12 + i * 16;
            uint32_t off = be32(rec + 8), len = be32(rec + 12);
            if (len > (64u << 20) || pos + len > UINT32_MAX) { ok = false; break; }
            table.resize(len);
            ok = fileRead(in, off, table.data(), len) && qxWrite(o, table.data(), len) == int64_t(len);
            rec[8] = uint8_t(pos >> 24), rec[9] = uint8_t(pos >> 16), rec[10] = uint8_t(pos >> 8), rec[11] = uint8_t(pos);
            pos += len;
        }
        ok = ok && qxSeek(o, 0, 1) >= 0 && qxWrite(o, dir.data(), int64_t(dir.size())) == int64_t(dir.size());
    }
    if (o) qxClose(o);
    qxClose(in);
    if (!ok && *out) remove(out);
    return ok;
}

} // namespace

extern "C" void qxStyleWeightSlant(const char *style, uint32_t *weight, uint32_t *slant) {
    static const struct { const char *word; int kind; uint32_t value; } words[] = {
        {"Thin", 0, 0}, {"Extralight", 0, 40}, {"Extra-light", 0, 40}, {"Ultralight", 0, 40},
        {"Ultra-light", 0, 40}, {"Light", 0, 50}, {"Book", 0, 75}, {"Normal", 0, 80}, {"Regular", 0, 80},
        {"Medium", 0, 100}, {"Semibold", 0, 180}, {"Semi-bold", 0, 180}, {"Semi", 0, 180}, {"Demibold", 0, 180},
        {"Demi-bold", 0, 180}, {"Demi", 0, 180}, {"Bold", 0, 200}, {"Extrabold", 0, 205}, {"Extra-bold", 0, 205},
        {"Ultrabold", 0, 205}, {"Ultra-bold", 0, 205}, {"Heavy", 0, 210}, {"Black", 0, 210},
        {"Extrablack", 0, 215}, {"Extra-black", 0, 215}, {"Ultrablack", 0, 215}, {"Ultra-black", 0, 215},
        {"Roman", 1, 0}, {"Italic", 1, 100}, {"Oblique", 1, 110}};
    *weight = 80;
    *slant = 0;
    std::string s = style;
    size_t i = 0;
    while (i < s.size()) {
        size_t j = s.find(' ', i);
        if (j == std::string::npos) j = s.size();
        std::string word = s.substr(i, j - i);
        for (const auto &w : words)
            if (!strcasecmp(word.c_str(), w.word)) (w.kind ? *slant : *weight) = w.value;
        i = j + 1;
    }
}

extern "C" int qxReadFontNames(const qxFontSource *src, uint64_t directory, uint64_t base, char *family,
                               char *style) {
    *family = *style = 0;
    uint8_t head[12];
    if (!src->read(src->context, directory, head, 12)) return 0;
    uint32_t version = be32(head);
    if (version != 0x00010000 && memcmp(head, "OTTO", 4) && memcmp(head, "true", 4)) return 0;
    uint32_t tables = be16(head + 4);
    uint64_t nameOff = 0;
    bool found = false;
    for (uint32_t i = 0; i < tables && !found; ++i) {
        uint8_t rec[16];
        if (!src->read(src->context, directory + 12 + uint64_t(i) * 16, rec, 16)) return 0;
        if (!memcmp(rec, "name", 4)) nameOff = be32(rec + 8), found = true;
    }
    if (!found) return 0;
    uint64_t at = nameOff + base;
    uint8_t nh[6];
    if (!src->read(src->context, at, nh, 6)) return 0;
    uint32_t count = be16(nh + 2), strings = be16(nh + 4);
    bool haveFamily = false, haveStyle = false;
    static const uint16_t english[] = {0x0409, 0x0809, 0x0C09, 0x1009, 0x1409, 0x1809, 0x1C09, 0x4009};
    for (uint32_t i = 0; i < count && !(haveFamily && haveStyle); ++i) {
        uint8_t r[12];
        if (!src->read(src->context, at + 6 + uint64_t(i) * 12, r, 12)) return 0;
        uint16_t platform = be16(r), language = be16(r + 4), id = be16(r + 6), len = be16(r + 8), off = be16(r + 10);
        if (id != 1 && id != 2) continue;
        if (platform == 1 && language != 0) continue;
        if (platform == 3) {
            bool ok = false;
            for (uint16_t l : english) ok |= l == language;
            if (!ok) continue;
        }
        if (len > 511) break;
        char raw[512], text[512];
        if (!src->read(src->context, at + strings + off, raw, len)) return 0;
        size_t n = 0;
        for (size_t k = 0; k < len; ++k)
            if (raw[k]) text[n++] = raw[k];
        text[n] = 0;
        if (id == 1) memcpy(family, text, n + 1), haveFamily = true;
        else memcpy(style, text, n + 1), haveStyle = true;
    }
    return haveFamily;
}

extern "C" void qxScanFontSource(const char *path, const qxFontSource *src, int listing) {
    if (endsWith(path, ".font")) {
        addBitmapFont(path, src);
    } else if (endsWith(path, ".ttf") || endsWith(path, ".otf")) {
        addFace(path, src, 0, 0, 0, 0, 0, listing);
    } else if (endsWith(path, ".ttc")) {
        uint8_t head[12];
        if (!src->read(src->context, 0, head, 12) || memcmp(head, "ttcf", 4)) return;
        uint32_t faces = be32(head + 8);
        for (uint32_t i = 0; i < faces && i < 4096; ++i) {
            uint8_t off[4];
            if (!src->read(src->context, 12 + uint64_t(i) * 4, off, 4)) return;
            addFace(path, src, be32(off), 0, 0, 0, be32(off), listing);
        }
    } else if (endsWith(path, ".dfont")) {
        // Resources one after another from 256, each a length and an sfnt.
        uint64_t pos = 256;
        for (int i = 0; i < 4096; ++i) {
            uint8_t len[4];
            if (!src->read(src->context, pos, len, 4)) return;
            uint32_t n = be32(len);
            if (n == 0) return;
            addFace(path, src, pos + 4, pos + 4, uint32_t(pos + 4), n, 0, listing);
            pos += 4 + uint64_t(n);
        }
    }
}

extern "C" int qxScanFontDirectory(const char *dir, int listing) {
    qxDirHandle *d = qxOpenDir(dir, QX_DIR_READLOCK, nullptr);
    if (!d) return QX_ERR_LOCK;
    const char *name;
    int isDir;
    qxFileInfo info;
    std::vector<std::string> files;
    while (qxReadDirEntry(d, nullptr, &name, &isDir, &info) == 1) {
        if (isDir || strlen(name) < 6) continue;
        for (const char *ext : {".font", ".ttf", ".otf", ".ttc", ".dfont"})
            if (endsWith(name, ext)) { files.push_back(std::string(dir) + "/" + name); break; }
    }
    qxCloseDir(d);
    for (const std::string &f : files) {
        qxFileHandle *h = qxOpen(f.c_str(), 1, nullptr);
        if (!h) continue;
        qxFontSource src = {fileRead, h};
        qxScanFontSource(f.c_str(), &src, listing);
        qxClose(h);
    }
    return 0;
}

extern "C" int qxScanFontDirectories(int listing) {
    if (scanned) return 0;
    scanned = true;
    for (PathNode *p = fontPaths; p; p = p->next) qxScanFontDirectory(p->name.c_str(), listing);
    for (const char *d : {"/usr/share/fonts/truetype", "/usr/local/share/fonts/truetype", "/usr/share/X11/fonts/TTF"})
        qxScanFontDirectory(d, listing);
    char home[QX_PATH_MAX];
    if (x11GetSystemDir(6, home, sizeof home) && home[0])
        qxScanFontDirectory((std::string(home) + "/.fonts/truetype").c_str(), listing);
    for (const char *d : {"Fonts", "FONTS", "fonts"}) qxScanFontDirectory(d, listing);
    return 0;
}

extern "C" int qxAddFontPath(const char *path) {
    PathNode **tail = &fontPaths;
    for (; *tail; tail = &(*tail)->next)
        if (!strcasecmp((*tail)->name.c_str(), path)) return 0;
    qxDirHandle *d = qxOpenDir(path, QX_DIR_READLOCK, nullptr);
    if (!d) return QX_ERR_LOCK;
    char full[1024];
    int ok = qxGetDirName(d, full, sizeof full);
    qxCloseDir(d);
    if (!ok) return QX_ERR_LOCK;
    for (PathNode *p = fontPaths; p; p = p->next)
        if (!strcasecmp(p->name.c_str(), full)) return 0;
    *tail = new PathNode{nullptr, full};
    qxFreeFontDb();
    return 0;
}

extern "C" void qxClearFontPaths(void) {
    while (fontPaths) {
        PathNode *next = fontPaths->next;
        delete fontPaths;
        fontPaths = next;
    }
    qxFreeFontDb();
}

extern "C" const qxFontDbEntry *qxFontDbFirst(void) { return database; }

extern "C" const char *qxFontDbFind(const char *name, int32_t weight, int32_t slant, int wantBitmap,
                                    uint32_t *offset, uint32_t *size, int *temporary, char *buffer,
                                    size_t capacity) {
    qxScanFontDirectories(0);
    *offset = *size = 0;
    *temporary = 0;
    for (const qxFontDbEntry *e = database; e; e = e->next) {
        if (int(e->bitmap) != (wantBitmap ? 1 : 0)) continue;
        bool match = weight < 0 ? !strcasecmp(e->name, name)
                                : !strcasecmp(e->family, name) && e->weight == uint32_t(weight) &&
                                      e->slant == uint32_t(slant);
        if (!match) continue;
        if (e->tableOffset) {
            if (!extractFace(e, buffer, capacity)) return nullptr;
            *temporary = 1;
            return buffer;
        }
        *offset = e->offset;
        *size = e->size;
        snprintf(buffer, capacity, "%s", e->path);
        return buffer;
    }
    return nullptr;
}

extern "C" void qxFreeFontDb(void) {
    while (database) {
        qxFontDbEntry *next = database->next;
        free(database->sizes);
        free(database);
        database = next;
    }
    scanned = false;
}

extern "C" int qxForEachFontPath(int (*visit)(const char *dir, void *context), void *context) {
    for (PathNode *p = fontPaths; p; p = p->next)
        if (visit(p->name.c_str(), context)) return 1;
    return 0;
}

extern "C" const char *qxHostFindFontFile(const char *name, uint32_t weight, uint32_t slant, uint32_t bitmap,
                                          uint32_t *offset, uint32_t *size, uint32_t *temporary) {
    static thread_local char path[1024];
    uint32_t off = 0, bytes = 0;
    int temp = 0;
    const char *found = qxFontDbFind(name, int32_t(weight), int32_t(slant), int(bitmap), &off, &bytes, &temp, path,
                                     sizeof path);
    if (offset) *offset = off;
    if (size) *size = bytes;
    if (temporary) *temporary = uint32_t(temp);
    return found;
}
