// Loading an applet: the packed form, the section stream, linked files,
// the include-line map, labels, constants and the icon block.
#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/applet/qx_applet.h"
#include "core/applet/qx_appletreader.h"
#include "core/files/qx_chunkname.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errorreport.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/runtime/qx_startup.h"
#include "core/errors/qx_messages.h"
#include "core/runtime/qx_options.h"
#include "core/vm/lauxlib.h"
#include "core/codecs/qx_unpack.h"
#include "core/applet/qx_appicon.h"
#include "platform/qx_files.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"

using qxapplet::Reader;

extern "C" {
qxAppletState qxAppletLoad;
}

namespace {

// The include-line map in the form the error report reads.
std::vector<qxReportLineEntry> reportMap;

struct FileCloser {
    qxFileHandle *h = nullptr;
    ~FileCloser() { close(); }
    void close()
    {
        if (h) qxClose(h);
        h = nullptr;
    }
};

// State of one pass over the section stream.
struct Sections {
    Reader r;
    qxStartupInfo *startup;
    qxAppletInfo *applet;
    lua_State *L;
    qxDisplayDef *display = nullptr; // the definition sections 3 to 30 share
    std::string pendingTitle;
    bool titleGiven = false;
};

void appendLinkedFile(qxAppletInfo *applet, qxLinkedFile *f)
{
    qxLinkedFile **tail = &applet->linkedFiles;
    while (*tail) tail = &(*tail)->next;
    *tail = f;
}

void appendIncludeLine(qxAppletInfo *applet, qxIncludeLine *l)
{
    qxIncludeLine **tail = &applet->includeLines;
    while (*tail) tail = &(*tail)->next;
    *tail = l;
    applet->includeLineCount++;
}

int sharedDisplay(Sections &s, qxDisplayDef **out)
{
    if (!s.display) {
        s.display = qxFirstDisplayDef(s.applet, 1);
        if (!s.display) return ERR_MEM;
        if (s.titleGiven) qxapplet::copyField(s.display->title, sizeof s.display->title, s.pendingTitle);
    }
    *out = s.display;
    return 0;
}

int readLineMap(Sections &s, int form)
{
    uint32_t n;
    if (!s.r.u32(n)) return ERR_UNEXPECTEDEOF;
    for (uint32_t i = 0; i < n; i++) {
        auto *l = static_cast<qxIncludeLine *>(qxAlloc(sizeof(qxIncludeLine), 1));
        if (!l) return ERR_MEM;
        appendIncludeLine(s.applet, l);
        std::string name, source;
        if (!s.r.u32(l->first) || !s.r.u32(l->last) || !s.r.u32(l->offset)) return ERR_UNEXPECTEDEOF;
        if (form == 33) {
            // Names stored complemented, each ended by 0xFF.
            for (std::string *t : {&name, &source}) {
                for (;;) {
                    uint32_t c;
                    if (!s.r.u8(c)) return ERR_UNEXPECTEDEOF;
                    if (c == 0xFF) break;
                    if (t->size() >= 65536) return ERR_INTERNAL;
                    t->push_back(char(~c & 0xFF));
                }
            }
        } else {
            if (!s.r.cstring(name)) return ERR_UNEXPECTEDEOF;
            if (form == 27 && !s.r.cstring(source)) return ERR_UNEXPECTEDEOF;
        }
        if (form == 8) source = s.startup->appletPath;
        qxapplet::copyField(l->name, sizeof l->name, name);
        qxapplet::copyField(l->source, sizeof l->source, source);
    }
    return 0;
}

int readLinkedFiles(Sections &s)
{
    uint32_t n, ignored;
    if (!s.r.u32(n) || !s.r.u32(ignored)) return ERR_UNEXPECTEDEOF;
    for (uint32_t i = 0; i < n; i++) {
        std::string name;
        uint32_t size, offset;
        if (!s.r.cstring(name) || !s.r.u32(size)) return ERR_UNEXPECTEDEOF;
        if (size == 0xFFFFFFFE) continue;
        if (size == 0xFFFFFFFF) {
            if (!s.r.u32(size) || !s.r.u32(offset)) return ERR_UNEXPECTEDEOF;
        } else {
            int64_t at = s.r.pos() - s.r.base;
            if (at < 0 || at > UINT32_MAX || !s.r.skip(size)) return ERR_UNEXPECTEDEOF;
            offset = uint32_t(at);
        }
        auto *f = static_cast<qxLinkedFile *>(qxAlloc(sizeof(qxLinkedFile), 1));
        if (!f) return ERR_MEM;
        qxapplet::copyField(f->name, sizeof f->name, name);
        // The offsets point into the file that is read: the unpacked copy
        // of a packed applet, else the applet itself.
        qxapplet::copyField(f->container, sizeof f->container, s.r.dataPath);
        // Names resolve with the appended-data offset added (32-bit
        // arithmetic); the unpacked copy of a packed applet starts at 0 of
        // its own file, so its entries take that offset off beforehand.
        f->offset = qxAppletLoad.unpackedPath[0] ? offset - qxAppendedOffset : offset;
        f->size = size;
        appendLinkedFile(s.applet, f);
    }
    return 0;
}

int readLabels(Sections &s)
{
    uint32_t n;
    if (!s.r.u32(n)) return ERR_UNEXPECTEDEOF;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t value;
        std::string name;
        if (!s.r.u32(value) || !s.r.cstring(name)) return ERR_UNEXPECTEDEOF;
        if (s.L) luaL_setlabel(s.L, name.c_str(), int32_t(value));
    }
    return 0;
}

int readConstants(Sections &s)
{
    for (;;) {
        std::string name, value;
        uint32_t kind;
        if (!s.r.cstring(name)) return ERR_UNEXPECTEDEOF;
        if (name.empty()) return 0;
        qxConstantDef row[2] = {{name.c_str(), nullptr, 0}, {nullptr, nullptr, 0}};
        if (!s.r.u8(kind)) return ERR_UNEXPECTEDEOF;
        if (kind) {
            if (!s.r.cstring(value)) return ERR_UNEXPECTEDEOF;
            row[0].str = value.c_str();
        } else if (!s.r.f64(row[0].num)) {
            return ERR_UNEXPECTEDEOF;
        }
        if (s.L) luaL_registerconstants(s.L, row, 1);
    }
}

// The icon block after its 0x49 byte; positions are absolute in file.
int readIconBlock(Reader &r, const char *container)
{
    if (!r.skip(2)) return ERR_UNEXPECTEDEOF;
    for (;;) {
        uint32_t w, h, flags, size;
        if (!r.u16(w)) return ERR_UNEXPECTEDEOF;
        if (w == 0) return 0;
        if (!r.u16(h) || !r.u8(flags) || !r.u32(size)) return ERR_UNEXPECTEDEOF;
        int64_t at = r.pos();
        if (at < 0 || at > UINT32_MAX || !r.skip(size)) return ERR_UNEXPECTEDEOF;
        char name[32], chunk[QX_CHUNKNAME_MAX];
        std::snprintf(name, sizeof name, "%ux%u", w, h);
        if (!qxMakeChunkName(name, chunk, sizeof chunk, at, size, 0, container)) return ERR_NAMETOOLONG;
        if (!qxFillIconSlot(w, h, flags, chunk)) return ERR_MEM;
    }
}

// After the main chunk: zero bytes, then an icon block when "I" follows.
int readTrailer(Reader &r, const char *container)
{
    for (;;) {
        int c = qxGetC(r.file);
        if (c < 0) return 0;
        if (c == 0) continue;
        if (c == 0x49) return readIconBlock(r, container);
        return 0;
    }
}

int readMainChunk(Sections &s)
{
    uint32_t size;
    if (!s.r.u32(size)) return ERR_UNEXPECTEDEOF;
    int64_t p = s.r.pos();
    if (p < 0 || size > s.r.size - p) return ERR_UNEXPECTEDEOF;
    qxFree(s.applet->mainChunk);
    s.applet->mainChunk = nullptr;
    s.applet->mainChunkSize = 0;
    void *chunk = qxAlloc(size ? size : 1, 0);
    if (!chunk) return ERR_MEM;
    if (!s.r.bytes(chunk, size)) {
        qxFree(chunk);
        return ERR_UNEXPECTEDEOF;
    }
    s.applet->mainChunk = chunk;
    s.applet->mainChunkSize = size;
    return 0;
}

int readVersion(Sections &s)
{
    uint32_t major, minor;
    if (!s.r.u8(major) || !s.r.u8(minor)) return ERR_UNEXPECTEDEOF;
    if (major > 8 || (major == 8 && minor >= 1)) {
        char text[16];
        std::snprintf(text, sizeof text, "%u.%u", major, minor);
        qxSetErrorString(text);
        return ERR_APPLETVERSION;
    }
    s.applet->versionMajor = s.r.major = major;
    s.applet->versionMinor = s.r.minor = minor;
    if (major <= 6) qxSwitchToLatin1(s.L, s.startup, s.applet);
    return 0;
}

int readHeaderString(Sections &s, char *field)
{
    std::string text;
    if (!s.r.cstring(text)) return ERR_UNEXPECTEDEOF;
    qxapplet::copyField(field, 256, text);
    return 0;
}

// One section after its tag; 1 in *done after the main chunk.
int readSection(Sections &s, uint32_t tag, bool *done)
{
    Reader &r = s.r;
    qxDisplayOverrides &ovr = qxAppletLoad.overrides;
    qxDisplayDef *d = nullptr;
    uint32_t a, b, c, e;
    int err;
    switch (tag) {
    case 0:
        if (!r.u32(a)) return ERR_UNEXPECTEDEOF;
        return r.skip(a) ? 0 : ERR_UNEXPECTEDEOF;
    case 1:
        *done = true;
        return readMainChunk(s);
    case 2:
        return qxapplet::readObjects(r, s.applet);
    case 3:
        if (!r.u16(a) || !r.u16(b)) return ERR_UNEXPECTEDEOF;
        if ((err = sharedDisplay(s, &d))) return err;
        d->width = int32_t(a);
        d->height = int32_t(b);
        return 0;
    case 4: {
        std::string title;
        if (!r.pstring(title)) return ERR_UNEXPECTEDEOF;
        s.pendingTitle = title;
        s.titleGiven = true;
        if (s.display) qxapplet::copyField(s.display->title, sizeof s.display->title, title);
        return 0;
    }
    case 5:
        if (!r.u32(a)) return ERR_UNEXPECTEDEOF;
        if ((err = sharedDisplay(s, &d))) return err;
        d->color = a;
        return 0;
    case 6:
        if (!r.u32(a) || !r.u32(b)) return ERR_UNEXPECTEDEOF;
        if ((err = sharedDisplay(s, &d))) return err;
        d->x = int32_t(a);
        d->y = int32_t(b);
        return 0;
    case 7:
        ovr.given |= QX_OVR_DESKTOP;
        ovr.desktop = 1;
        return 0;
    case 8:
    case 27:
    case 33:
        return readLineMap(s, int(tag));
    case 9:
        return readLabels(s);
    case 10:
        return readVersion(s);
    case 11: case 12: case 13: case 14: case 15: {
        char *field = s.applet->header[tag - 11];
        if ((err = readHeaderString(s, field))) return err;
        if (tag == 12 && uint8_t(field[0]) == 0xFF) field[0] = '$';
        return 0;
    }
    case 16:
        if (!r.u8(a)) return ERR_UNEXPECTEDEOF;
        ovr.given |= QX_OVR_MODE;
        ovr.displayMode = a;
        return 0;
    case 17:
        std::memset(&ovr.backfill, 0, sizeof ovr.backfill);
        ovr.backfill.startColor = ovr.backfill.endColor = ovr.backfill.transColor = -1;
        ovr.backfill.x = ovr.backfill.y = -100000;
        if (!qxapplet::readBackfill(r, &ovr.backfill)) return ERR_UNEXPECTEDEOF;
        ovr.given |= QX_OVR_BACKFILL;
        return 0;
    case 18: case 19: case 20: case 24: case 25: case 30: {
        static const uint32_t bits[] = {0x1, 0x4, 0x2, 0, 0, 0, 0x10, 0x8, 0, 0, 0, 0, 0x20};
        if (!r.u8(a)) return ERR_UNEXPECTEDEOF;
        if ((err = sharedDisplay(s, &d))) return err;
        if (a) d->flags |= bits[tag - 18];
        return 0;
    }
    case 21:
        if (!r.u8(a)) return ERR_UNEXPECTEDEOF;
        ovr.given |= QX_OVR_HIDETITLE;
        ovr.hideTitleBar = a;
        return 0;
    case 22: {
        int32_t w, h;
        if (!r.i16(w) || !r.i16(h)) return ERR_UNEXPECTEDEOF;
        ovr.given |= QX_OVR_SCRSIZE;
        ovr.scrWidth = w;
        ovr.scrHeight = h;
        return 0;
    }
    case 23:
        if (!r.u8(a)) return ERR_UNEXPECTEDEOF;
        ovr.given |= QX_OVR_SCRDEPTH;
        ovr.scrDepth = int32_t(a);
        return 0;
    case 26:
        return readLinkedFiles(s);
    case 28:
        if (!r.u8(a) || !r.u32(b) || !r.u32(c) || !r.u8(e)) return ERR_UNEXPECTEDEOF;
        if ((err = sharedDisplay(s, &d))) return err;
        d->flags |= a ? 0x100 : 0x40;
        d->scaleWidth = int32_t(b);
        d->scaleHeight = int32_t(c);
        if (e) d->flags |= 0x80;
        return 0;
    case 29:
        qxAppletLoad.noCmdLineDisplay = 1;
        return 0;
    case 31:
        return readConstants(s);
    case 32:
        if (!r.u32(a)) return ERR_UNEXPECTEDEOF;
        qxAppletLoad.backendFlags = a;
        qxGlobalSettings.backendFlags |= a;
        if (r.atLeast(6, 0) && (!r.u32(qxAppletLoad.backendValues[0]) || !r.u32(qxAppletLoad.backendValues[1]) ||
                                !r.u8(qxAppletLoad.backendValues[2])))
            return ERR_UNEXPECTEDEOF;
        return 0;
    case 34:
        return readHeaderString(s, s.applet->header[5]);
    case 35:
        if (!r.u8(a)) return ERR_UNEXPECTEDEOF;
        if (a == 0) qxSwitchToLatin1(s.L, s.startup, s.applet);
        return 0;
    default:
        return ERR_UNKNOWNSEC;
    }
}

bool isAppletName(const char *path)
{
    size_t n = std::strlen(path);
    return n > 4 && strcasecmp(path + n - 4, ".qxa") == 0;
}

// Publishes the include-line map to the error report.
void publishLineMap(qxAppletInfo *applet)
{
    qxSetReportLineMap(nullptr, 0);
    reportMap.clear();
    for (qxIncludeLine *l = applet->includeLines; l; l = l->next)
        reportMap.push_back({int32_t(l->first), int32_t(l->last), int32_t(l->offset), l->name, l->source});
    if (!reportMap.empty()) qxSetReportLineMap(reportMap.data(), reportMap.size());
}

int openChecked(const char *path, FileCloser &f)
{
    f.h = qxOpen(path, QX_OPEN_READ, nullptr);
    if (!f.h) {
        qxSetErrorString(path);
        return ERR_READFILE;
    }
    return 0;
}

int loadBody(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet, FileCloser &file)
{
    char full[1024];
    if (!qxLinked) {
        if (!qxFullPath(startup->appletPath, full, sizeof full)) {
            qxSetErrorString(startup->appletPath);
            return ERR_NAMETOOLONG;
        }
        std::memcpy(startup->appletPath, full, std::strlen(full) + 1);
    }
    const char *path = startup->appletPath;
    if (qxFileHandle *probe = qxOpen(path, QX_OPEN_READ, nullptr)) {
        qxClose(probe);
    } else {
        qxSetErrorString(path);
        return ERR_FILEEXIST;
    }

    const char *slash = std::strrchr(path, '/');
    if (!qxGlobalSettings.noChdir && slash && !qxAppletLoad.savedDir) {
        std::string dir(path, slash == path ? 1 : size_t(slash - path));
        qxAppletLoad.savedDir = qxChangeDir(dir.c_str());
    }
    qxDebugPrintLine(qxGetErrorText(isAppletName(path) ? QX_MSG_LOADINGAPPLET : QX_MSG_OPENINGSCRIPT), path, 1);

    if (int e = openChecked(path, file)) return e;
    uint32_t base = qxLinked ? qxAppendedOffset : 0;
    int64_t size = qxFileSize(file.h);
    uint8_t magic[4] = {0, 0, 0, 0};
    const char *dataPath = path;
    int64_t packedEnd = -1;
    if (size >= int64_t(base) + 5 && qxSeek(file.h, base, 1) >= 0 && qxRead(file.h, magic, 4) == 4 &&
        std::memcmp(magic, "QXZ", 4) == 0) {
        char *copy = qxAppletLoad.unpackedPath;
        if (!qxTempFileName(copy, sizeof qxAppletLoad.unpackedPath)) {
            qxSetErrorString(qxGetTempDirectory()); // the report names where it could not write
            return ERR_WRITEFILE;
        }
        file.close();
        uint64_t used = 0;
        if (int e = qxUnpackData("QXZ", path, copy, nullptr, base, &used, nullptr, 0, nullptr)) return e;
        packedEnd = int64_t(base) + int64_t(used);
        if (int e = openChecked(copy, file)) return e;
        size = qxFileSize(file.h);
        base = 0;
        dataPath = copy;
        if (size < 5 || qxRead(file.h, magic, 4) != 4) std::memset(magic, 0, 4);
    }
    if (std::memcmp(magic, "QXA", 4) != 0) {
        qxSetErrorString(path);
        return ERR_NOAPPLET;
    }
    startup->isApplet = 1;
    qxapplet::copyField(qxAppletLoad.dataPath, sizeof qxAppletLoad.dataPath, dataPath);
    qxAppletLoad.dataBase = base;

    Sections s{};
    s.r.file = file.h;
    s.r.size = size;
    s.r.base = base;
    s.r.major = applet->versionMajor;
    s.r.minor = applet->versionMinor;
    s.r.dataPath = qxAppletLoad.dataPath;
    s.startup = startup;
    s.applet = applet;
    s.L = L;
    if (qxSeek(file.h, int64_t(base) + 4, 1) < 0) return ERR_UNEXPECTEDEOF;
    for (bool done = false; !done;) {
        uint32_t tag;
        if (!s.r.u8(tag)) return ERR_UNEXPECTEDEOF;
        if (int e = readSection(s, tag, &done)) return e;
    }
    if (packedEnd < 0) return readTrailer(s.r, path);
    // The icons of a packed applet follow its packed part in the packed file.
    file.close();
    if (int e = openChecked(path, file)) return e;
    Reader icons = s.r;
    icons.file = file.h;
    icons.size = qxFileSize(file.h);
    if (qxSeek(file.h, packedEnd, 1) < 0) return 0;
    return readTrailer(icons, path);
}

} // namespace

extern "C" {

int qxLoadApplet(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet)
{
    FileCloser file;
    int r = loadBody(L, startup, applet, file);
    file.close();
    publishLineMap(applet);
    if (L) luaL_setregstr(L, "script", ":none:");
    if (r) return r;
    if (qxLinked || qxGetTag(QX_TAG_QUIET)) return 0;
    qxPrintDone();
    uint32_t objects = 0;
    for (qxObjectRecord *o = applet->objects; o; o = o->next) objects++;
    qxProgressStep = int(80 / (objects + 2));
    return 0;
}

void qxFreeAppletInfo(qxAppletInfo *applet)
{
    qxSetReportLineMap(nullptr, 0);
    reportMap.clear();
    if (!applet) return;
    qxFree(applet->mainChunk);
    qxFree(applet->secondChunk);
    qxFreeObjectList(applet);
    while (qxLinkedFile *f = applet->linkedFiles) {
        applet->linkedFiles = f->next;
        qxFree(f);
    }
    while (qxIncludeLine *l = applet->includeLines) {
        applet->includeLines = l->next;
        qxFree(l);
    }
    qxFree(applet);
}

void qxFreeSavedDirectory(void)
{
    qxFree(qxAppletLoad.savedDir);
    qxAppletLoad.savedDir = nullptr;
}
}
