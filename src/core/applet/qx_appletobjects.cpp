// The object section of an applet: records, their per-kind data and the
// display definitions, and the lists that keep them.
#include <cstring>
#include <memory>

#include "core/applet/qx_appletreader.h"
#include "core/files/qx_chunkname.h"
#include "core/errors/qx_errors.h"
#include "platform/qx_memory.h"

namespace qxapplet {

bool Reader::bytes(void *out, int64_t n)
{
    return n >= 0 && (n == 0 || qxRead(file, out, n) == n);
}

bool Reader::u8(uint32_t &v)
{
    uint8_t b;
    if (!bytes(&b, 1)) return false;
    v = b;
    return true;
}

bool Reader::u16(uint32_t &v)
{
    uint8_t b[2];
    if (!bytes(b, 2)) return false;
    v = uint32_t(b[0]) << 8 | b[1];
    return true;
}

bool Reader::u32(uint32_t &v)
{
    uint8_t b[4];
    if (!bytes(b, 4)) return false;
    v = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    return true;
}

bool Reader::i16(int32_t &v)
{
    uint32_t u;
    if (!u16(u)) return false;
    v = int16_t(uint16_t(u));
    return true;
}

bool Reader::f64(double &v)
{
    uint8_t b[8];
    if (!bytes(b, 8)) return false;
    uint64_t bits = 0;
    for (uint8_t x : b) bits = bits << 8 | x;
    std::memcpy(&v, &bits, 8);
    return true;
}

int64_t Reader::pos()
{
    return qxSeek(file, 0, 0);
}

bool Reader::skip(int64_t n)
{
    int64_t p = pos();
    if (n < 0 || p < 0 || n > size - p) return false;
    return qxSeek(file, n, 0) >= 0;
}

bool Reader::cstring(std::string &s, size_t limit)
{
    s.clear();
    for (;;) {
        int c = qxGetC(file);
        if (c < 0) return false;
        if (c == 0) return true;
        if (s.size() >= limit) return false;
        s.push_back(char(c));
    }
}

bool Reader::pstring(std::string &s)
{
    uint32_t n;
    if (!u16(n)) return false;
    s.assign(n, '\0');
    return bytes(s.data(), n);
}

void copyField(char *field, size_t size, const std::string &text)
{
    size_t n = text.size() < size ? text.size() : size - 1;
    if (n < text.size())
        while (n > 0 && (uint8_t(text[n]) & 0xC0) == 0x80) n--;
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

char *dupText(const std::string &text)
{
    auto *p = static_cast<char *>(qxAlloc(text.size() + 1, 0));
    if (!p) return nullptr;
    std::memcpy(p, text.data(), text.size());
    p[text.size()] = 0;
    return p;
}

bool readGradient(Reader &r, qxDeclaredGradient *g)
{
    uint32_t kind, v[4], n;
    if (!r.u8(kind) || !r.u32(v[0]) || !r.u32(v[1]) || !r.u32(v[2]) || !r.u32(v[3]) || !r.u8(n)) return false;
    g->kind = kind;
    g->centerX = v[0] / 1000000.0;
    g->centerY = v[1] / 1000000.0;
    g->balance = v[2] / 1000000.0;
    g->border = v[3] / 1000000.0;
    g->count = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t color, position;
        if (!r.u32(color) || !r.u32(position)) return false;
        // The record holds 64 entries; further ones are read and dropped.
        if (g->count < QX_GRADIENT_MAX) g->entries[g->count++] = {color, position / 1000000.0};
    }
    return true;
}

bool readBackfill(Reader &r, qxBackfill *bf)
{
    uint32_t kind, a = 0, b = 0, c = 0, d = 0, e = 0;
    if (!r.u8(kind)) return false;
    bf->mode = kind;
    switch (kind) {
    case 1:
        if (!r.u32(a)) return false;
        bf->startColor = int32_t(a);
        break;
    case 2:
        if (!r.u32(a) || !r.u32(b)) return false;
        bf->startColor = int32_t(a);
        bf->endColor = int32_t(b);
        break;
    case 3:
        if (!r.u32(a)) return false;
        bf->brushId = int32_t(a);
        break;
    case 4:
        if (!r.u32(a) || !r.u32(b) || !r.u32(c) || !r.u32(d) || !r.u32(e)) return false;
        bf->brushId = int32_t(a);
        bf->x = int32_t(b);
        bf->y = int32_t(c);
        bf->startColor = int32_t(d);
        bf->endColor = int32_t(e);
        if (r.atLeast(3, 2)) {
            if (!r.u8(a)) return false;
            bf->scale = a;
        }
        if (r.atLeast(6, 0)) {
            if (!r.u8(a)) return false;
            bf->smoothScale = a;
        }
        break;
    default:
        break;
    }
    return true;
}

static bool readRegions(Reader &r, qxDeclaredRegion *regions, uint32_t *count)
{
    uint32_t n;
    if (!r.u32(n)) return false;
    *count = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t v[5];
        for (uint32_t &x : v)
            if (!r.u32(x)) return false;
        if (*count < QX_REGION_MAX) regions[(*count)++] = {v[0], v[1], v[2], v[3], v[4]};
    }
    return true;
}

bool readDisplayDef(Reader &r, qxDisplayDef *def)
{
    uint32_t v[10], ignored;
    for (uint32_t &x : v)
        if (!r.u32(x)) return false;
    def->bgpic = int32_t(v[0]);
    def->x = int32_t(v[1]);
    def->y = int32_t(v[2]);
    def->width = int32_t(v[3]);
    def->height = int32_t(v[4]);
    def->color = v[5];
    def->flags = v[6];
    def->scaleWidth = int32_t(v[8]);
    def->scaleHeight = int32_t(v[9]);
    if (!readRegions(r, def->dragRegions, &def->dragCount) || !readRegions(r, def->sizeRegions, &def->sizeCount))
        return false;
    std::string s;
    if (!r.pstring(s)) return false;
    copyField(def->title, sizeof def->title, s);
    if (r.atLeast(4, 7)) {
        uint32_t style, tb, tx, ty;
        if (!r.u8(style) || !r.u32(ignored) || !r.u16(ignored) || !r.u32(tb) || !r.u32(tx) || !r.u32(ty))
            return false;
        def->fillStyle = style;
        def->textureBrush = tb;
        def->textureX = tx;
        def->textureY = ty;
    }
    if (r.atLeast(5, 0) && !readGradient(r, &def->gradient)) return false;
    if (r.atLeast(5, 2) && !r.pstring(s)) return false;
    if (r.atLeast(5, 3) && !r.u8(def->orientation)) return false;
    if (r.atLeast(6, 0)) {
        uint32_t monitor, hasMenu, menu, mode, desktop, depth, hideTitle;
        int32_t sw, sh;
        if (!r.u8(monitor) || !r.u8(hasMenu) || !r.u32(menu) || !r.u8(mode) || !r.u8(desktop) || !r.i16(sw) ||
            !r.i16(sh) || !r.u8(depth) || !r.u8(hideTitle) || !readBackfill(r, &def->backfill))
            return false;
        def->monitor = monitor;
        def->menu = hasMenu ? int32_t(menu) : -1;
        def->displayMode = mode;
        def->desktop = desktop;
        def->scrWidth = sw;
        def->scrHeight = sh;
        def->scrDepth = int32_t(depth);
        def->backfill.hideTitleBar = hideTitle;
        if (!r.pstring(s)) return false;
        copyField(def->xServer, sizeof def->xServer, s);
        if (!r.pstring(s) || !r.pstring(s)) return false;
    }
    if (r.atLeast(8, 0)) {
        uint32_t factor, flags2;
        if (!r.pstring(s) || !r.u32(factor) || !r.u32(flags2)) return false;
        def->scaleFactor = factor / 65536.0;
        def->flags2 = flags2;
    }
    return true;
}

namespace {

// Walks a menu or directory tree at most this deep.
constexpr int kMaxDepth = 64;

void freeMenu(qxDeclaredMenuItem *m)
{
    while (m) {
        qxDeclaredMenuItem *next = m->next;
        freeMenu(m->submenu);
        qxFree(m->name);
        qxFree(m->id);
        qxFree(m->hotkey);
        qxFree(m);
        m = next;
    }
}

void freeIcons(qxDeclaredIcon *e)
{
    while (e) {
        qxDeclaredIcon *next = e->next;
        qxFree(e->file);
        qxFree(e->selFile);
        qxFree(e);
        e = next;
    }
}

void freeDirTree(qxDirEntry *e)
{
    while (e) {
        qxDirEntry *next = e->next;
        freeDirTree(e->entries);
        qxFree(e->name);
        qxFree(e);
        e = next;
    }
}

template <typename T> T *newRecord()
{
    return static_cast<T *>(qxAlloc(sizeof(T), 1));
}

int readMenu(Reader &r, qxDeclaredMenuItem **out, int depth)
{
    if (depth > kMaxDepth) return ERR_MENUCOMPLEXITY;
    qxDeclaredMenuItem **tail = out;
    for (;;) {
        uint32_t n;
        if (!r.u16(n)) return ERR_UNEXPECTEDEOF;
        auto *item = newRecord<qxDeclaredMenuItem>();
        if (!item) return ERR_MEM;
        *tail = item;
        tail = &item->next;
        std::string name, id, hotkey;
        bool named = n != 0 && n != 0xFFFF;
        if (named) {
            name.assign(n, '\0');
            if (!r.bytes(name.data(), n)) return ERR_UNEXPECTEDEOF;
        }
        uint32_t c;
        if (!r.pstring(id) || !r.pstring(hotkey) || !r.u32(item->flags) || !r.u8(c)) return ERR_UNEXPECTEDEOF;
        if ((named && !(item->name = dupText(name))) || !(item->id = dupText(id)) ||
            !(item->hotkey = dupText(hotkey)))
            return ERR_MEM;
        if (c == 2) {
            if (int e = readMenu(r, &item->submenu, depth + 1)) return e;
            if (!r.u8(c)) return ERR_UNEXPECTEDEOF;
        }
        if (c == 0) return 0;
    }
}

int readDirTree(Reader &r, qxDirEntry **out, int depth)
{
    if (depth > kMaxDepth) return ERR_INTERNAL;
    qxDirEntry **tail = out;
    for (;;) {
        uint32_t t;
        std::string name;
        if (!r.u8(t)) return ERR_UNEXPECTEDEOF;
        if (t == 0) return 0;
        if (!r.pstring(name)) return ERR_UNEXPECTEDEOF;
        auto *e = newRecord<qxDirEntry>();
        if (!e) return ERR_MEM;
        *tail = e;
        tail = &e->next;
        if (!(e->name = dupText(name))) return ERR_MEM;
        if (t == 1) {
            e->isFile = 1;
            if (!r.u32(e->value[0]) || !r.u32(e->value[1])) return ERR_UNEXPECTEDEOF;
        } else if (int err = readDirTree(r, &e->entries, depth + 1)) {
            return err;
        }
    }
}

// Reads size bytes (with their zero byte) at the applet offset, then goes
// back. 1009 on a short read.
int readInlineText(Reader &r, uint32_t offset, uint32_t size, std::string &text)
{
    text.clear();
    if (size == 0) return 0;
    int64_t back = r.pos();
    int64_t at = int64_t(r.base) + offset;
    if (back < 0 || at + int64_t(size) > r.size || qxSeek(r.file, at, 1) < 0) return ERR_READ;
    text.assign(size, '\0');
    bool ok = r.bytes(text.data(), size);
    qxSeek(r.file, back, 1);
    if (!ok) return ERR_READ;
    size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return 0;
}

// The name to open for linked data: its chunk name, else the inline text.
int imageName(Reader &r, uint32_t dataOffset, uint32_t dataSize, const std::string &text, char **out)
{
    if (dataSize) {
        char name[QX_CHUNKNAME_MAX];
        if (!qxMakeChunkName(text.c_str(), name, sizeof name, dataOffset, dataSize, r.base, r.dataPath))
            return ERR_NAMETOOLONG;
        *out = dupText(name);
    } else {
        *out = dupText(text);
    }
    return *out ? 0 : ERR_MEM;
}

int readImageRef(Reader &r, char **out)
{
    uint32_t to, ts, dof, ds;
    std::string loader, adapter, text;
    if (!r.u32(to) || !r.u32(ts) || !r.u32(dof) || !r.u32(ds) || !r.pstring(loader) || !r.pstring(adapter))
        return ERR_UNEXPECTEDEOF;
    if (int e = readInlineText(r, to, ts, text)) return e;
    return imageName(r, dof, ds, text, out);
}

int readIcons(Reader &r, qxDeclaredIcon **out)
{
    qxDeclaredIcon **tail = out;
    for (;;) {
        uint32_t type;
        if (!r.u8(type)) return ERR_UNEXPECTEDEOF;
        if (type == 0) return 0;
        auto *e = newRecord<qxDeclaredIcon>();
        if (!e) return ERR_MEM;
        *tail = e;
        tail = &e->next;
        e->type = type;
        if (!r.u32(e->flags)) return ERR_UNEXPECTEDEOF;
        if (type == 3) {
            if (!r.u32(e->image) || ((e->flags & 1) && !r.u32(e->selImage))) return ERR_UNEXPECTEDEOF;
        } else if (type == 44) {
            if (int err = readImageRef(r, &e->file)) return err;
            if ((e->flags & 1)) {
                if (int err = readImageRef(r, &e->selFile)) return err;
            }
        }
    }
}

int readPluginTags(Reader &r, qxRequireTag **out)
{
    if (!r.atLeast(6, 0)) return 0;
    uint32_t n;
    if (!r.u32(n)) return ERR_UNEXPECTEDEOF;
    qxRequireTag **tail = out;
    for (uint32_t i = 0; i < n; i++) {
        auto *t = newRecord<qxRequireTag>();
        if (!t) return ERR_MEM;
        *tail = t;
        tail = &t->next;
        std::string name, value;
        uint32_t kind;
        if (!r.u32(t->size) || !r.cstring(name) || !r.u8(kind)) return ERR_UNEXPECTEDEOF;
        if (!(t->name = dupText(name))) return ERR_MEM;
        if (kind) {
            if (!r.cstring(value)) return ERR_UNEXPECTEDEOF;
            if (!(t->text = dupText(value))) return ERR_MEM;
        } else if (!r.f64(t->number)) {
            return ERR_UNEXPECTEDEOF;
        }
    }
    return 0;
}

int readFill(Reader &r, qxDeclaredFill *f)
{
    uint32_t ignored;
    if (r.atLeast(4, 7)) {
        if (!r.u8(f->fillStyle) || !r.u32(f->fillColor) || !r.u32(ignored) || !r.u16(ignored) ||
            !r.u32(f->textureBrush) || !r.u32(f->textureX) || !r.u32(f->textureY))
            return ERR_UNEXPECTEDEOF;
    }
    if (r.atLeast(5, 0)) {
        if (!readGradient(r, &f->gradient)) return ERR_UNEXPECTEDEOF;
        if (r.atLeast(5, 3) && (!r.u32(f->scaleWidth) || !r.u32(f->scaleHeight) || !r.u32(f->smoothScale)))
            return ERR_UNEXPECTEDEOF;
    }
    return 0;
}

void initGradient(qxDeclaredGradient *g)
{
    g->kind = 2;
    g->centerX = g->centerY = g->balance = 0.5;
}

// The kind's payload into obj->data.
int readPayload(Reader &r, qxObjectRecord *obj)
{
    switch (obj->kind) {
    case QX_OBJ_BGPIC: {
        auto *f = newRecord<qxDeclaredFill>();
        if (!(obj->data = f)) return ERR_MEM;
        initGradient(&f->gradient);
        return readFill(r, f);
    }
    case QX_OBJ_BRUSH: {
        auto *b = newRecord<qxBrushData>();
        if (!(obj->data = b)) return ERR_MEM;
        if (!r.u16(b->width) || !r.u16(b->height) || !r.u16(b->x) || !r.u16(b->y) || !r.i16(b->globalAlpha))
            return ERR_UNEXPECTEDEOF;
        if (r.atLeast(5, 0) && !r.u8(b->hardware)) return ERR_UNEXPECTEDEOF;
        if (r.atLeast(5, 3) && (!r.u32(b->scaleWidth) || !r.u32(b->scaleHeight) || !r.u32(b->smoothScale)))
            return ERR_UNEXPECTEDEOF;
        if (r.atLeast(6, 0) && !r.u32(b->display)) return ERR_UNEXPECTEDEOF;
        return 0;
    }
    case QX_OBJ_ANIM: {
        auto *a = newRecord<qxAnimData>();
        if (!(obj->data = a)) return ERR_MEM;
        if (r.atLeast(3, 0) && !r.u8(a->fromDisk)) return ERR_UNEXPECTEDEOF;
        if (r.atLeast(4, 1) && (!r.u16(a->width) || !r.u16(a->height) || !r.u16(a->frames) || !r.u16(a->fpr) ||
                                !r.u16(a->x) || !r.i16(a->y)))
            return ERR_UNEXPECTEDEOF;
        if (r.atLeast(5, 3) && (!r.u8(a->skipLoopFrames) || !r.u8(a->deinterlace))) return ERR_UNEXPECTEDEOF;
        return 0;
    }
    case QX_OBJ_BUTTON: {
        auto *b = newRecord<qxButtonData>();
        if (!(obj->data = b)) return ERR_MEM;
        for (uint32_t &v : b->value)
            if (!r.u16(v)) return ERR_UNEXPECTEDEOF;
        return 0;
    }
    case QX_OBJ_SPRITE: {
        auto *s = newRecord<qxSpriteData>();
        if (!(obj->data = s)) return ERR_MEM;
        if (!r.u16(s->width) || !r.u16(s->height) || !r.u16(s->frames) || !r.u16(s->fpr) || !r.u16(s->x) ||
            !r.u16(s->y))
            return ERR_UNEXPECTEDEOF;
        return 0;
    }
    case QX_OBJ_DISPLAY: {
        auto *d = newRecord<qxDisplayDef>();
        if (!(obj->data = d)) return ERR_MEM;
        qxInitDisplayDef(d);
        return readDisplayDef(r, d) ? 0 : ERR_UNEXPECTEDEOF;
    }
    case QX_OBJ_PLUGIN: {
        qxRequireTag *tags = nullptr;
        int e = readPluginTags(r, &tags);
        obj->data = tags;
        return e;
    }
    case QX_OBJ_MENU: {
        qxDeclaredMenuItem *m = nullptr;
        int e = readMenu(r, &m, 0);
        obj->data = m;
        return e;
    }
    case QX_OBJ_ICON: {
        qxDeclaredIcon *e = nullptr;
        int err = readIcons(r, &e);
        obj->data = e;
        return err;
    }
    case QX_OBJ_DIRECTORY: {
        qxDirEntry *d = nullptr;
        int e = readDirTree(r, &d, 0);
        obj->data = d;
        return e;
    }
    default:
        return 0;
    }
}

void appendObject(qxAppletInfo *applet, qxObjectRecord *obj)
{
    qxObjectRecord **tail = &applet->objects;
    while (*tail) tail = &(*tail)->next;
    *tail = obj;
}

} // namespace

int readObjects(Reader &r, qxAppletInfo *applet)
{
    uint32_t count;
    if (!r.u32(count)) return ERR_UNEXPECTEDEOF;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t f[9];
        if (!r.u8(f[0])) return ERR_UNEXPECTEDEOF;
        for (int k = 1; k < 9; k++)
            if (!r.u32(f[k])) return ERR_UNEXPECTEDEOF;
        auto *obj = newRecord<qxObjectRecord>();
        if (!obj) return ERR_MEM;
        // Appended at once so that a failure below leaves it to be freed.
        appendObject(applet, obj);
        obj->kind = f[0];
        obj->id = int32_t(f[1]);
        obj->textOffset = f[2];
        obj->textSize = f[3];
        obj->dataOffset = f[4];
        obj->dataSize = f[5];
        obj->valueA = int32_t(f[6]);
        obj->flags = f[7];
        obj->line = f[8];
        obj->linked = f[5] != 0;
        copyField(obj->container, sizeof obj->container, r.dataPath);
        if (r.atLeast(6, 0)) {
            std::string loader, adapter;
            if (!r.pstring(loader) || !r.pstring(adapter)) return ERR_UNEXPECTEDEOF;
            copyField(obj->loader, sizeof obj->loader, loader);
            copyField(obj->adapter, sizeof obj->adapter, adapter);
        }
        if (int e = readPayload(r, obj)) return e;
        std::string text;
        if (int e = readInlineText(r, obj->textOffset, obj->textSize, text)) return e;
        if (!(obj->text = dupText(text))) return ERR_MEM;
    }
    return 0;
}

} // namespace qxapplet

extern "C" {

void qxInitDisplayDef(qxDisplayDef *def)
{
    std::memset(def, 0, sizeof *def);
    std::strcpy(def->title, "Zephyrane");
    def->x = def->y = -100000;
    def->width = 640;
    def->height = 480;
    def->scaleFactor = 1.0;
    def->fillStyle = 1;
    qxapplet::initGradient(&def->gradient);
    def->menu = -1;
    def->displayMode = QX_DISPMODE_WINDOW;
    def->scrWidth = def->scrHeight = def->scrDepth = -1;
    def->backfill.startColor = def->backfill.endColor = -1;
    def->backfill.x = def->backfill.y = -100000;
    def->backfill.transColor = -1;
}

void qxFreeObjectRecord(qxObjectRecord *obj)
{
    if (!obj) return;
    switch (obj->kind) {
    case QX_OBJ_PLUGIN: qxFreeRequireTags(static_cast<qxRequireTag *>(obj->data)); break;
    case QX_OBJ_MENU: qxapplet::freeMenu(static_cast<qxDeclaredMenuItem *>(obj->data)); break;
    case QX_OBJ_ICON: qxapplet::freeIcons(static_cast<qxDeclaredIcon *>(obj->data)); break;
    case QX_OBJ_DIRECTORY:
        // A directory object that was made owns the tree now.
        if (!obj->dataHandedOver) qxFreeDirTree(static_cast<qxDirEntry *>(obj->data));
        break;
    default: qxFree(obj->data); break;
    }
    qxFree(obj->text);
    qxFree(obj);
}

void qxFreeObjectList(qxAppletInfo *applet)
{
    while (applet && applet->objects) {
        qxObjectRecord *next = applet->objects->next;
        qxFreeObjectRecord(applet->objects);
        applet->objects = next;
    }
}

int qxAddPreprocessorObject(qxAppletInfo *applet, uint32_t kind, int32_t id, const char *text, int32_t valueA,
                            uint32_t flags, uint32_t line, const char *loader, const char *adapter,
                            const void *data, size_t size)
{
    auto *obj = qxapplet::newRecord<qxObjectRecord>();
    if (!obj) return ERR_MEM;
    obj->kind = kind;
    obj->id = id;
    obj->valueA = valueA;
    obj->flags = flags;
    obj->line = line;
    if (!(obj->text = qxapplet::dupText(text ? text : ""))) {
        qxFree(obj);
        return ERR_MEM;
    }
    qxapplet::copyField(obj->loader, sizeof obj->loader, loader ? loader : "");
    qxapplet::copyField(obj->adapter, sizeof obj->adapter, adapter ? adapter : "");
    if (data && size) {
        obj->data = qxAlloc(size, 0);
        if (!obj->data) {
            qxFreeObjectRecord(obj);
            return ERR_MEM;
        }
        std::memcpy(obj->data, data, size);
    }
    qxapplet::appendObject(applet, obj);
    return 0;
}

qxDisplayDef *qxFirstDisplayDef(qxAppletInfo *applet, int active)
{
    for (qxObjectRecord *o = applet->objects; o; o = o->next)
        if (o->kind == QX_OBJ_DISPLAY && o->id == 1 && o->data) return static_cast<qxDisplayDef *>(o->data);
    auto def = std::make_unique<qxDisplayDef>();
    qxInitDisplayDef(def.get());
    if (active) def->flags |= 0x400;
    if (qxAddPreprocessorObject(applet, QX_OBJ_DISPLAY, 1, "", -1, 0, 0, "", "", def.get(), sizeof *def)) return nullptr;
    qxObjectRecord *last = applet->objects;
    while (last->next) last = last->next;
    last->implicit = 1;
    return static_cast<qxDisplayDef *>(last->data);
}

void qxFreeDirTree(qxDirEntry *tree)
{
    qxapplet::freeDirTree(tree);
}

void qxFreeRequireTags(qxRequireTag *tags)
{
    while (tags) {
        qxRequireTag *next = tags->next;
        qxFree(tags->name);
        qxFree(tags->text);
        qxFree(tags);
        tags = next;
    }
}
}
