/* A configurable test plug-in in plain C. The build chooses its name,
 * version, capabilities and features with KIT_ macros; it reaches the player
 * only through the host table that InitPlugin receives. */
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zlib.h> /* types only: the functions come from the host table */

#include "core/plugins/qx_pluginapi.h"

#ifndef KIT_NAME
#define KIT_NAME "kitlib"
#endif
#ifndef KIT_VERSION
#define KIT_VERSION 8
#endif
#ifndef KIT_REVISION
#define KIT_REVISION 0
#endif
#ifndef KIT_CAPS
#define KIT_CAPS (QX_CAP_LIBRARY | QX_CAP_REQUIRE)
#endif
#ifndef KIT_BASE
#define KIT_BASE NULL
#endif
#ifndef KIT_EXTENSIONS
#define KIT_EXTENSIONS 0
#endif
#ifndef KIT_REQUIRE_FLAGS
#define KIT_REQUIRE_FLAGS 0
#endif

typedef struct lua_State lua_State;

/* The host table InitPlugin received; the kit's other checks use it too. */
const qxPluginBase *kitHostTable;
#define base kitHostTable
static qxPluginInfo *self;
/* Counters a test reads while it holds the library open itself. */
int KitClosePluginCalls;
int KitFreeLibraryCalls;
static int requireCalls;
static char firstTag[64];
#ifdef KIT_AUDIO
/* The result of installing the audio adapter from InitPlugin, before the
 * applet's objects exist. */
static int earlyInstall = -1;
#endif
static double firstTagNumber;

/* Host calls by sub-table and slot. */
#define HOST(table, slot, type) ((type)base->table[slot])
#define VM(slot, type) HOST(vm, slot, type)

#ifdef KIT_HOOKS
static void kitHooksInit(void);
#endif

#ifndef KIT_NO_INIT
static const qxPluginFileType fileTypes[] = {
    {1, "Kit picture", "kit", "image/x-kit", 77, 0},
    {0, NULL, NULL, NULL, 0, 0},
};
#endif

#ifndef KIT_NO_INIT
int InitPlugin(qxPluginInfo *info, const qxPluginBase *host, const char *path)
{
    (void)path;
    base = host;
    self = info;
    info->capabilities = KIT_CAPS;
    info->version = KIT_VERSION;
    info->revision = KIT_REVISION;
#ifdef KIT_TEXTS_BY_POSITION
    {
        /* The record's head as a plug-in written from the documentation
         * lays it out: every text names its own field. */
        struct documentedHead {
            uint32_t capabilities;
            int32_t version, revision;
            const char *name, *author, *description, *copyright, *url, *date, *settings, *helpFile,
                *moduleName;
            const qxPluginFileType *fileTypes;
        } *head = (struct documentedHead *)info;
        head->name = KIT_NAME;
        head->author = "author";
        head->description = "description";
        head->copyright = "copyright";
        head->url = "url";
        head->date = "date";
        head->settings = "settings";
        head->helpFile = "helpfile";
        head->moduleName = "modulename";
        head->fileTypes = fileTypes;
    }
#else
    info->name = KIT_NAME;
    info->moduleName = "testplugin";
    info->author = "Kit author";
    info->description = "Test plug-in";
    info->copyright = "none";
    info->url = NULL;
    info->fileTypes = fileTypes;
#endif
#ifdef KIT_ABI
    info->abiKind = KIT_ABI;
#endif
#ifdef KIT_HOOKS
    kitHooksInit();
#endif
#ifdef KIT_AUDIO
    earlyInstall = HOST(audio, 2, int (*)(qxPluginInfo *, uint32_t, const qxHostTag *))(info, 0, NULL);
#endif
#ifdef KIT_INIT_FAILS
    return 0;
#else
    return 1;
#endif
}
#endif

/* With KIT_REPORT the shutdown steps are printed through the host's own
 * stdout, so that a run shows their order. */
static void kitReport(const char *line)
{
#ifdef KIT_REPORT
    FILE *out = HOST(runtime, 53, FILE *(*)(void))();
    HOST(runtime, 56, int (*)(const char *, FILE *))(line, out);
    HOST(runtime, 42, int (*)(FILE *))(out);
#else
    (void)line;
#endif
}

void ClosePlugin(void)
{
    KitClosePluginCalls++;
    kitReport("kit closed\n");
}

uint32_t GetExtensions(uint32_t capability, uint32_t reserved)
{
    (void)capability;
    (void)reserved;
    return KIT_EXTENSIONS;
}

/* ---- Commands ---- */

static int kitAdd(lua_State *L)
{
    double a = VM(47, double (*)(lua_State *, int))(L, 1);
    double b = VM(47, double (*)(lua_State *, int))(L, 2);
    VM(21, void (*)(lua_State *, double))(L, a + b);
    return 1;
}

/* Number of RequirePlugin calls, the first tag's name and its number. */
static int kitRequired(lua_State *L)
{
    VM(21, void (*)(lua_State *, double))(L, requireCalls);
    VM(23, void (*)(lua_State *, const char *))(L, firstTag);
    VM(21, void (*)(lua_State *, double))(L, firstTagNumber);
    return 3;
}

static int kitFormat(char *buffer, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = HOST(runtime, 16, int (*)(char *, size_t, const char *, va_list))(buffer, size, format, args);
    va_end(args);
    return n;
}

/* Calls back through the host table; returns the number of the first
 * check that failed, 0 when all passed. The file at path must hold
 * expected. md5 receives the host's MD5 of "abc". */
int KitSelfTest(const char *path, const char *expected, char *md5)
{
    char buffer[256];
    if (base->version != 8 || base->reserved != 0) return 1;

    /* Runtime functions. */
    char *copy = HOST(runtime, 4, char *(*)(const char *))("Kit");
    if (!copy || HOST(runtime, 23, int (*)(const char *, const char *))(copy, "kIT") != 0) return 2;
    HOST(runtime, 3, void (*)(void *))(copy);
    if (kitFormat(buffer, sizeof buffer, "%s%d", "a", 7) != 2 || strcmp(buffer, "a7") != 0) return 2;
    if (HOST(runtime, 43, int (*)(int, void *))(0, NULL) != -1) return 3;
    if (HOST(runtime, 36, long (*)(void *))(NULL) != -1) return 3;
    time_t now = 1000000;
    const qxHostDate *local = HOST(runtime, 32, const qxHostDate *(*)(const time_t *))(&now);
    const qxHostDate *utc = HOST(runtime, 33, const qxHostDate *(*)(const time_t *))(&now);
    if (!local || !utc || local == utc || local->size != sizeof(qxHostDate)) return 4;

    /* A file read through the virtual file layer. */
    void *fh = HOST(dos, 0, void *(*)(const char *, uint32_t))(path, 0);
    if (!fh) return 5;
    memset(buffer, 0, sizeof buffer);
    int64_t got = HOST(dos, 3, int64_t (*)(void *, void *, int64_t))(fh, buffer, sizeof buffer - 1);
    HOST(dos, 1, int (*)(void *))(fh);
    if (got != (int64_t)strlen(expected) || strcmp(buffer, expected) != 0) return 6;
    FILE *f = HOST(runtime, 5, FILE *(*)(const char *, const char *))(path, "rb");
    if (!f) return 7;
    int c = HOST(runtime, 11, int (*)(FILE *))(f);
    HOST(runtime, 6, int (*)(FILE *))(f);
    if (c != (unsigned char)expected[0]) return 7;
    int32_t off = 0, size = 0;
    if (!HOST(dos, 23, int (*)(const char *, char *, uint32_t, int32_t *, int32_t *))(path, buffer, sizeof buffer,
                                                                                      &off, &size) ||
        off != -1 || size != -1 || strcmp(buffer, path) != 0)
        return 8;

    /* A zlib round trip. */
    static const char text[] = "zephyrane zephyrane zephyrane zephyrane plug-in";
    unsigned char packed[256], unpacked[256];
    z_stream z;
    memset(&z, 0, sizeof z);
    if (HOST(zlib, 3, int (*)(z_stream *, int, const char *, int))(&z, 9, ZLIB_VERSION, (int)sizeof z) != Z_OK)
        return 9;
    z.next_in = (Bytef *)text;
    z.avail_in = sizeof text;
    z.next_out = packed;
    z.avail_out = sizeof packed;
    if (HOST(zlib, 4, int (*)(z_stream *, int))(&z, Z_FINISH) != Z_STREAM_END) return 9;
    uLong packedSize = z.total_out;
    HOST(zlib, 5, int (*)(z_stream *))(&z);
    memset(&z, 0, sizeof z);
    if (HOST(zlib, 0, int (*)(z_stream *, const char *, int))(&z, ZLIB_VERSION, (int)sizeof z) != Z_OK) return 10;
    z.next_in = packed;
    z.avail_in = (uInt)packedSize;
    z.next_out = unpacked;
    z.avail_out = sizeof unpacked;
    int r = HOST(zlib, 1, int (*)(z_stream *, int))(&z, Z_FINISH);
    HOST(zlib, 2, int (*)(z_stream *))(&z);
    if (r != Z_STREAM_END || z.total_out != sizeof text || memcmp(unpacked, text, sizeof text) != 0) return 10;

    /* Checksums: the host CRC agrees with zlib's through the table. */
    uint32_t crc = HOST(encoding, 2, uint32_t (*)(const void *, int32_t))(text, (int32_t)sizeof text);
    uLong zcrc = HOST(zlib, 12, uLong (*)(uLong, const Bytef *, uInt))(0, (const Bytef *)text, sizeof text);
    if (crc != (uint32_t)zcrc) return 11;
    if (HOST(encoding, 2, uint32_t (*)(const void *, int32_t))(text, 0) != 0xFFFFFFFFu) return 11;
    HOST(encoding, 3, void (*)(const void *, uint32_t, char *))("abc", 3, md5);

    /* Base64 both ways. */
    char b64[8];
    unsigned char raw[8];
    uint32_t encoded = 0, decoded = 0;
    if (HOST(encoding, 0, int (*)(const void *, uint32_t, char *, uint32_t *))("abc", 3, b64, &encoded) != 0 ||
        encoded != 4 || memcmp(b64, "YWJj", 4) != 0)
        return 17;
    if (!HOST(encoding, 1, int (*)(const char *, uint32_t, unsigned char *, uint32_t *))(b64, 4, raw, &decoded) ||
        decoded != 3 || memcmp(raw, "abc", 3) != 0)
        return 17;

    /* Unicode and text. */
    if (HOST(unicode, 0, long (*)(const char *))("\xff") != -1) return 12;
    if (HOST(unicode, 0, long (*)(const char *))("a\xc3\xa4z") != 3) return 12;
    if (HOST(system, 51, int (*)(const char *, const char *, uint32_t))("abc", "ABC", 0) == 0) return 13;

    /* The plug-in list holds this plug-in; the user value round-trips. */
    qxPluginInfoNode *list = HOST(pluginList, 0, qxPluginInfoNode *(*)(void))();
    int found = 0;
    for (qxPluginInfoNode *p = list; p; p = p->next) found |= p->info == self;
    HOST(pluginList, 1, void (*)(qxPluginInfoNode *))(list);
    if (!found) return 14;
    HOST(pluginList, 3, void (*)(qxPluginInfo *, uintptr_t))(self, 4711);
    if (HOST(pluginList, 4, uintptr_t (*)(qxPluginInfo *))(self) != 4711) return 14;

    /* A registered record and the memory slots. */
    if (!HOST(system, 19, int (*)(qxPluginInfo *, uint32_t, const char *, const char *, const char *, uint32_t,
                                  uint32_t))(self, 3, "one", NULL, "three", 5, 1))
        return 15;
    void *block = HOST(system, 11, void *(*)(size_t, uint32_t))(16, 1);
    if (!block || ((unsigned char *)block)[15] != 0) return 16;
    HOST(system, 12, void (*)(void *))(block);
    return 0;
}

/* Raises error code 1055 through the VM interface. */
static int kitRaise(lua_State *L)
{
    VM(44, void (*)(lua_State *, int))(L, 1055);
    return 0;
}

/* Works a VM state through sub-table 8 only; returns the number of the
 * first check that failed, 0 when all passed. The stack is left as found. */
int KitVmTest(lua_State *L)
{
    int top = VM(0, int (*)(lua_State *))(L);
    /* t = {[1] = "a", x = 2.5}, read back by key and index. */
    VM(29, void (*)(lua_State *))(L);
    VM(23, void (*)(lua_State *, const char *))(L, "x");
    VM(21, void (*)(lua_State *, double))(L, 2.5);
    VM(31, void (*)(lua_State *, int))(L, -3);
    VM(22, void (*)(lua_State *, const char *, size_t))(L, "abc", 1);
    VM(33, void (*)(lua_State *, int, int))(L, -2, 1);
    VM(23, void (*)(lua_State *, const char *))(L, "x");
    VM(26, void (*)(lua_State *, int))(L, -2);
    if (VM(10, int (*)(lua_State *, int))(L, -1) != 3 || VM(14, double (*)(lua_State *, int))(L, -1) != 2.5)
        return 1;
    VM(1, void (*)(lua_State *, int))(L, -2);
    VM(28, void (*)(lua_State *, int, int))(L, -1, 1);
    if (VM(16, size_t (*)(lua_State *, int))(L, -1) != 1 ||
        strcmp(VM(15, const char *(*)(lua_State *, int))(L, -1), "a") != 0)
        return 2;
    VM(1, void (*)(lua_State *, int))(L, -2);
    /* Two entries for lua_next. */
    int entries = 0;
    VM(20, void (*)(lua_State *))(L);
    while (VM(36, int (*)(lua_State *, int))(L, -2)) {
        entries++;
        VM(1, void (*)(lua_State *, int))(L, -2);
    }
    if (entries != 2) return 3;
    /* A registry reference keeps the table. */
    int ref = VM(54, int (*)(lua_State *, int))(L, -10000);
    if (VM(0, int (*)(lua_State *))(L) != top || ref < 0) return 4;
    VM(28, void (*)(lua_State *, int, int))(L, -10000, ref);
    if (VM(10, int (*)(lua_State *, int))(L, -1) != 5) return 4;
    VM(55, void (*)(lua_State *, int, int))(L, -10000, ref);
    VM(1, void (*)(lua_State *, int))(L, top);
    /* Concatenation, booleans and type names. */
    VM(23, void (*)(lua_State *, const char *))(L, "zeph");
    VM(21, void (*)(lua_State *, double))(L, 8);
    VM(37, void (*)(lua_State *, int))(L, 2);
    if (strcmp(VM(15, const char *(*)(lua_State *, int))(L, -1), "zeph8") != 0) return 5;
    VM(70, void (*)(lua_State *, int))(L, 1);
    if (!VM(71, int (*)(lua_State *, int))(L, -1)) return 6;
    if (strcmp(VM(73, const char *(*)(lua_State *, int))(L, 5), "table") != 0) return 7;
    VM(1, void (*)(lua_State *, int))(L, top);
    /* An error code raised inside a protected call comes back as the code. */
    VM(25, void (*)(lua_State *, int (*)(lua_State *), int))(L, kitRaise, 0);
    int code = VM(35, int (*)(lua_State *, int, int, int))(L, 0, 0, 0);
    VM(1, void (*)(lua_State *, int))(L, top);
    if (code != 1055) return 8;
    return 0;
}

#ifdef KIT_DISPLAY
/* A display adapter's entry points; AdapterMainLoop is left out on purpose. */
#define KIT_STUB(name) \
    int name(void) { return 0; }
KIT_STUB(HandleEvents) KIT_STUB(WaitEvents) KIT_STUB(ForceEventLoopIteration) KIT_STUB(Sleep) KIT_STUB(VWait)
KIT_STUB(DetermineBorderSizes) KIT_STUB(OpenDisplay) KIT_STUB(CloseDisplay) KIT_STUB(ChangeBufferSize)
KIT_STUB(ShowHideDisplay) KIT_STUB(SizeMoveDisplay) KIT_STUB(SetDisplayTitle) KIT_STUB(ActivateDisplay)
KIT_STUB(SetDisplayAttributes) KIT_STUB(CreatePointer) KIT_STUB(FreePointer) KIT_STUB(SetPointer)
KIT_STUB(ShowHidePointer) KIT_STUB(MovePointer) KIT_STUB(GetMousePos) KIT_STUB(GetQualifiers) KIT_STUB(BltBitMap)
KIT_STUB(RectFill) KIT_STUB(WritePixel) KIT_STUB(Line) KIT_STUB(GetMonitorInfo) KIT_STUB(FreeMonitorInfo)
KIT_STUB(GrabScreenPixels) KIT_STUB(FreeGrabScreenPixels) KIT_STUB(BeginDoubleBuffer) KIT_STUB(EndDoubleBuffer)
KIT_STUB(Flip) KIT_STUB(Cls) KIT_STUB(AllocVideoBitMap) KIT_STUB(FreeVideoBitMap) KIT_STUB(ReadVideoPixels)
KIT_STUB(FreeVideoPixels) KIT_STUB(DoVideoBitMapMethod) KIT_STUB(AllocBitMap) KIT_STUB(FreeBitMap)
KIT_STUB(LockBitMap) KIT_STUB(UnLockBitMap) KIT_STUB(GetBitMapAttr)
#endif

#ifdef KIT_FILEADAPTER
/* A file adapter that serves every name beginning "kit:" for reading, its
 * contents the name itself. Examined, it gives only the size (and the
 * kind: "kit:dir" is a directory, the rest kind 7, a file), so the host's
 * defaults show through. */
typedef struct KitFile {
    const char *text;
    size_t length, pos;
} KitFile;

static int kitServes(const char *name) { return strncmp(name, "kit:", 4) == 0; }

void *FOpen(const char *name, uint32_t mode, void *tags)
{
    (void)tags;
    if (!kitServes(name) || mode != 4) return NULL;
    KitFile *f = calloc(1, sizeof *f);
    if (!f) return NULL;
    f->text = strdup(name);
    f->length = strlen(name);
    return f;
}
int FClose(KitFile *f)
{
    free((void *)f->text);
    free(f);
    return 1;
}
int64_t FRead(KitFile *f, void *buffer, int64_t n)
{
    size_t k = f->length - f->pos < (size_t)n ? f->length - f->pos : (size_t)n;
    memcpy(buffer, f->text + f->pos, k);
    f->pos += k;
    return (int64_t)k;
}
int FGetC(KitFile *f) { return f->pos < f->length ? (unsigned char)f->text[f->pos++] : -1; }
int64_t FWrite(KitFile *f, const void *b, int64_t n) { (void)f, (void)b, (void)n; return 0; }
int FPutC(KitFile *f, int c) { (void)f, (void)c; return 0; }
int64_t FSeek(KitFile *f, int64_t offset, int whence)
{
    int64_t before = (int64_t)f->pos, to = whence == 1 ? offset : whence == 2 ? (int64_t)f->length + offset : before + offset;
    if (to < 0 || to > (int64_t)f->length) return -1;
    f->pos = (size_t)to;
    return before;
}
int FFlush(KitFile *f) { (void)f; return 1; }
int FEof(KitFile *f) { return f->pos >= f->length; }
int FStat(KitFile *f, qxAdapterFileInfo *info)
{
    info->size = (int64_t)f->length;
    return 1;
}
int Stat(const char *name, qxAdapterFileInfo *info)
{
    if (!kitServes(name)) return 0;
    info->kind = strcmp(name, "kit:dir") == 0 ? 1 : 7;
    info->size = (int64_t)strlen(name);
    return 1;
}
#endif

#ifdef KIT_NETWORK
/* A network adapter that talks plain TCP to 127.0.0.1 whatever the host
 * (a stand-in for TLS), and answers address queries with what it was given. */
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

typedef struct KitConn {
    int fd;
    char seen[256];
} KitConn;

void *OpenConnection(const char *host, int port, const uint64_t *tags)
{
    uint64_t ssl = 9, timeout = 0;
    for (; tags[0]; tags += 2) {
        if (tags[0] == 1) ssl = tags[1];
        if (tags[0] == 2) timeout = tags[1];
    }
    if (strcmp(host, "refuse") == 0) return NULL;
    KitConn *c = calloc(1, sizeof *c);
    if (!c) return NULL;
    snprintf(c->seen, sizeof c->seen, "%s ssl=%d timeout=%d", host, (int)ssl, (int)timeout);
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons((unsigned short)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    c->fd = socket(AF_INET, SOCK_STREAM, 0);
    if (c->fd < 0 || connect(c->fd, (struct sockaddr *)&a, sizeof a) != 0) {
        if (c->fd >= 0) close(c->fd);
        free(c);
        return NULL;
    }
    return c;
}

void CloseConnection(void *handle)
{
    KitConn *c = handle;
    close(c->fd);
    free(c);
}

typedef struct { uint32_t what; void *answer; uint32_t zero; } KitInfoRequest;

int GetConnectionInfo(void *handle, KitInfoRequest *req)
{
    KitConn *c = handle;
    if (req->what == 3) snprintf(req->answer, 256, "%s", c->seen);
    else if (req->what == 4) *(uint32_t *)req->answer = 4242;
    else return 1288;
    return 0;
}

int ReceiveData(void *handle, void *buffer, int size, int *count, void *reserved)
{
    (void)reserved;
    KitConn *c = handle;
    ssize_t n = recv(c->fd, buffer, (size_t)size, MSG_DONTWAIT);
    *count = n > 0 ? (int)n : 0;
    if (n > 0) return 0;
    if (n == 0) return 1423;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 1422 : 1410;
}

int SendData(void *handle, const void *bytes, int size, int *count, void *reserved)
{
    (void)reserved;
    KitConn *c = handle;
    ssize_t n = send(c->fd, bytes, (size_t)size, MSG_DONTWAIT | MSG_NOSIGNAL);
    *count = n > 0 ? (int)n : 0;
    if (n >= 0) return 0;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 1623 : 1410;
}
#endif

#ifdef KIT_VECTOR
/* A vector engine that reads what it is handed at the fixed byte offsets
 * and refuses records that are off: extents are the box of the absolute
 * MoveTo and LineTo points, moved and mapped by the matrix; a drawing is a
 * plane whose rows are alternately 255 and 0. */
#define AT(p, off, type) (*(const type *)((const unsigned char *)(p) + (off)))
typedef unsigned char *kitBytes;
static int kitStateOk(const void *state)
{
    return state && AT(state, 0, uint32_t) <= 2 && AT(state, 8, uint32_t) <= 1 && AT(state, 40, double) == 10.0;
}
static int kitItemSize(const unsigned char *item)
{
    switch (AT(item, 0, uint32_t)) {
    case 1: case 2: return 24;
    case 3: case 7: return 56;
    case 8: return 52;
    case 9: return 16 + 4 * ((int)(strlen((const char *)item + 16) + 1) / 4 + 1);
    default: return 4;
    }
}
void GetPathExtents(void *r)
{
    const unsigned char *item = AT(r, 0, const unsigned char *);
    const double *m = AT(r, 72, const double *);
    double x1 = 1e9, y1 = 1e9, x2 = -1e9, y2 = -1e9;
    if (!item || !kitStateOk(AT(r, 8, void *)) || AT(r, 16, uint32_t) > 1 || !m) return;
    for (; AT(item, 0, uint32_t); item += kitItemSize(item)) {
        if (AT(item, 0, uint32_t) > 2 || AT(item, 4, uint32_t)) continue;
        double x = AT(item, 8, double) + AT(r, 24, double), y = AT(item, 16, double) + AT(r, 32, double);
        double mx = m[0] * x + m[2] * y, my = m[1] * x + m[3] * y;
        x1 = mx < x1 ? mx : x1, y1 = my < y1 ? my : y1, x2 = mx > x2 ? mx : x2, y2 = my > y2 ? my : y2;
    }
    if (x1 > x2) return;
    *(double *)((unsigned char *)r + 40) = x1, *(double *)((unsigned char *)r + 48) = y1;
    *(double *)((unsigned char *)r + 56) = x2, *(double *)((unsigned char *)r + 64) = y2;
}
int32_t DrawPath(void *r)
{
    unsigned char *target = AT(r, 32, kitBytes);
    uint32_t stride = AT(r, 40, uint32_t), width = AT(r, 44, uint32_t), height = AT(r, 48, uint32_t), y;
    const double *m = AT(r, 88, const double *);
    if (!AT(r, 0, void *) || !kitStateOk(AT(r, 8, void *)) || AT(r, 24, uint32_t) || !target || stride < width || !m)
        return 0;
    /* Upright, pair A is (0, 0) and pair B the corner of the extents. */
    if (m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1) {
        double x1 = 1e9, y1 = 1e9;
        const unsigned char *item = AT(r, 0, const unsigned char *);
        for (; AT(item, 0, uint32_t); item += kitItemSize(item)) {
            if (AT(item, 0, uint32_t) > 2 || AT(item, 4, uint32_t)) continue;
            x1 = AT(item, 8, double) < x1 ? AT(item, 8, double) : x1;
            y1 = AT(item, 16, double) < y1 ? AT(item, 16, double) : y1;
        }
        if (AT(r, 56, double) != 0 || AT(r, 64, double) != 0 ||
            (x1 < 1e9 && (AT(r, 72, double) != x1 || AT(r, 80, double) != y1)))
            return 0;
    }
    for (y = 0; y < height; y++) memset(target + (size_t)y * stride, y & 1 ? 0 : 255, width);
    return 1;
}
void TranslatePath(void *r)
{
    unsigned char *item = AT(r, 0, kitBytes);
    for (; item && AT(item, 0, uint32_t); item += kitItemSize(item))
        if (AT(item, 0, uint32_t) <= 2 && !AT(item, 4, uint32_t)) {
            *(double *)(item + 8) += AT(r, 16, double);
            *(double *)(item + 16) += AT(r, 24, double);
        }
}
void GetCurrentPoint(const unsigned char *item, const void *state, double *x, double *y)
{
    (void)state;
    for (; item && AT(item, 0, uint32_t); item += kitItemSize(item))
        if (AT(item, 0, uint32_t) <= 2) *x = AT(item, 8, double), *y = AT(item, 16, double);
}
/* A vector font of its own, so that a font handed to the wrong engine shows. */
void *CreateVectorFont(void *face)
{
    void **font = malloc(sizeof *font);
    if (font) *font = face;
    return font;
}
void FreeVectorFont(void *font) { free(font); }
void *OpenFont(const void *data, size_t size) { (void)data, (void)size; return NULL; }
void CloseFont(void *face) { (void)face; }
#undef AT
#endif

#ifdef KIT_IMAGELOADER
/* An image loader that recognises nothing: enough for the loader lists. */
int IsImage(void) { return 0; }
int LoadImage(void) { return 0; }
int GetImage(void) { return 0; }
int FreeImage(void) { return 0; }
int TransformImage(void) { return 0; }
#endif

#ifdef KIT_VIDEO
/* A video decoder for "KITV width height frames fps swapped [rate [key
 * [broken]]]" text files. With swapped set it makes each picture itself,
 * red = frame * 20, green = x * 4, blue = y * 4, as bytes 0, R, G, B;
 * otherwise its pictures are the YUV 4:2:0 frames of the file named like it
 * with ".yuv" added (black when there is none). With a rate, each picture
 * follows a stereo sound packet of rate / fps frames: left frame * 100 + i,
 * right its negation. Seeks land on the multiple of key frames before the
 * target. With broken = n, every read from picture n on fails, and closing
 * writes the number of failed reads to the file named like it with
 * ".fails". */
typedef struct KitVideo {
    unsigned width, height, frames, fps, swapped, rate, key, broken, failures, next, soundDone;
    char name[1024];
    uint32_t *pixels;
    uint8_t *yuv;
} KitVideo;

static size_t kitFrameBytes(const KitVideo *v)
{
    size_t cw = (v->width + 1) / 2, ch = (v->height + 1) / 2;
    return (size_t)v->width * v->height + 2 * cw * ch;
}

void *OpenVideo(const char *fileName, qxVideoStreamInfo *info)
{
    char magic[5] = {0}, planes[1100];
    KitVideo v = {0};
    FILE *f = fopen(fileName, "rb");
    if (!f) return NULL;
    int n = fscanf(f, "%4s %u %u %u %u %u %u %u %u", magic, &v.width, &v.height, &v.frames, &v.fps, &v.swapped,
                   &v.rate, &v.key, &v.broken);
    snprintf(v.name, sizeof v.name, "%.1000s", fileName);
    fclose(f);
    if (n < 6 || v.rate > 96000 || strcmp(magic, "KITV") || !v.width || !v.height || v.width > 4096 ||
        v.height > 4096 || !v.fps || v.frames > 1000)
        return NULL;
    KitVideo *h = malloc(sizeof *h);
    if (!h) return NULL;
    *h = v;
    h->pixels = malloc((size_t)v.width * v.height * 4);
    h->yuv = calloc(v.frames ? v.frames : 1, kitFrameBytes(&v));
    if (!h->pixels || !h->yuv) {
        free(h->pixels);
        free(h->yuv);
        free(h);
        return NULL;
    }
    snprintf(planes, sizeof planes, "%.1000s.yuv", fileName);
    if (!v.swapped && (f = fopen(planes, "rb"))) {
        size_t got = fread(h->yuv, 1, kitFrameBytes(&v) * v.frames, f);
        (void)got;
        fclose(f);
    }
    memset(info, 0, sizeof *info);
    info->width = v.width;
    info->height = v.height;
    info->frames = 0; /* asked through GetVideoFrames */
    info->seekable = 1;
    info->flags = (v.swapped ? 1 : 0) | 2;
    info->fps = v.fps;
    info->channels = v.rate ? 2 : 0;
    info->rate = v.rate;
    info->bits = 16;
    return h;
}
void CloseVideo(void *handle)
{
    KitVideo *v = handle;
    if (v->broken) {
        char fails[1100];
        snprintf(fails, sizeof fails, "%s.fails", v->name);
        FILE *f = fopen(fails, "w");
        if (f) fprintf(f, "%u\n", v->failures), fclose(f);
    }
    free(v->pixels);
    free(v->yuv);
    free(v);
}
int NextPacket(void *handle, void **packet, int *isAudio, uint32_t *size, double *time)
{
    KitVideo *v = handle;
    if (v->next >= v->frames) return -1;
    if (v->broken && v->next >= v->broken) {
        v->failures++;
        return 3;
    }
    unsigned *p = malloc(sizeof *p);
    if (!p) return -2;
    *p = v->next;
    *isAudio = v->rate && !v->soundDone;
    if (*isAudio) v->soundDone = 1;
    else v->next++, v->soundDone = 0;
    *packet = p;
    *size = *isAudio ? v->rate / v->fps * 4 : sizeof *p;
    *time = (double)*p / v->fps;
    return 0;
}
void FreePacket(void *handle, void *packet)
{
    (void)handle;
    free(packet);
}
int DecodeVideoFrame(void *handle, void *packet, qxVideoPictureRecord *frame, double *time)
{
    KitVideo *v = handle;
    unsigned n = *(unsigned *)packet;
    *time = (double)n / v->fps;
    if (!v->swapped) {
        const uint8_t *y = v->yuv + kitFrameBytes(v) * n;
        const size_t cw = (v->width + 1) / 2, ch = (v->height + 1) / 2;
        frame->planes[0] = y;
        frame->planes[1] = y + (size_t)v->width * v->height;
        frame->planes[2] = frame->planes[1] + cw * ch;
        frame->strides[0] = (int32_t)v->width;
        frame->strides[1] = frame->strides[2] = (int32_t)cw;
        return 0;
    }
    for (unsigned y = 0; y < v->height; y++)
        for (unsigned x = 0; x < v->width; x++) {
            uint32_t c = ((n * 20u) & 255u) << 16 | ((x * 4u) & 255u) << 8 | ((y * 4u) & 255u);
            v->pixels[(size_t)y * v->width + x] = __builtin_bswap32(c);
        }
    frame->planes[0] = (const uint8_t *)v->pixels;
    frame->strides[0] = (int32_t)(v->width * 4);
    return 0;
}
int DecodeAudioFrame(void *handle, void *packet, uint8_t *buffer, uint32_t *size)
{
    KitVideo *v = handle;
    unsigned n = *(unsigned *)packet, count = v->rate / v->fps;
    int16_t *out = (int16_t *)buffer;
    if (count * 4 > 0x40000) return -1;
    for (unsigned i = 0; i < count; i++) {
        out[2 * i] = (int16_t)(n * 100 + i);
        out[2 * i + 1] = (int16_t)-(int)(n * 100 + i);
    }
    *size = count * 4;
    return 0;
}
int SeekVideo(void *handle, int64_t milliseconds)
{
    KitVideo *v = handle;
    v->next = (unsigned)(milliseconds * v->fps / 1000);
    if (v->key > 1) v->next -= v->next % v->key;
    v->soundDone = 0;
    return 0;
}
void FlushAudio(void *handle) { (void)handle; }
void FlushVideo(void *handle) { (void)handle; }
int GetVideoFrames(void *handle) { return (int)((KitVideo *)handle)->frames; }
int GetVideoFormat(void *handle, qxVideoStreamInfo *info)
{
    (void)handle, (void)info;
    return 0;
}
#endif

#ifdef KIT_SOUND
/* A sound loader for "KITS" files: the magic, little-endian u32 rate, u16
 * channels and u16 bits, then interleaved PCM to the end (16-bit signed
 * little-endian or 8-bit unsigned); and a saver (format 80, "kitsnd") that
 * writes the same layout. Subsong 2 of a file is its second half. */
typedef struct KitSound {
    FILE *f;
    uint32_t frameBytes, frames, pos, first;
} KitSound;

void *OpenStream(const char *fileName, qxSoundStreamRequest *rq)
{
    unsigned char h[12];
    FILE *f = fopen(fileName, "rb");
    if (!f) return NULL;
    if (fread(h, 1, 12, f) != 12 || memcmp(h, "KITS", 4) || fseek(f, 0, SEEK_END)) {
        fclose(f);
        return NULL;
    }
    unsigned channels = h[8] | h[9] << 8, bits = h[10] | h[11] << 8;
    long size = ftell(f) - 12;
    KitSound *k = malloc(sizeof *k);
    if (!k || size < 0 || channels < 1 || channels > 2 || (bits != 8 && bits != 16)) {
        free(k);
        fclose(f);
        return NULL;
    }
    k->f = f;
    k->frameBytes = channels * bits / 8;
    k->frames = (uint32_t)(size / k->frameBytes);
    k->first = rq->subsong ? k->frames / 2 : 0;
    k->frames -= k->first;
    k->pos = 0;
    rq->subsongs = 2;
    rq->bits = bits;
    rq->channels = channels;
    rq->frequency = h[4] | h[5] << 8 | h[6] << 16 | (uint32_t)h[7] << 24;
    rq->length = rq->totalFrames = k->frames;
    rq->flags = (bits == 16 ? 2 : 0) | 4;
    return k;
}
void CloseStream(void *handle)
{
    fclose(((KitSound *)handle)->f);
    free(handle);
}
int SeekStream(void *handle, uint32_t frame)
{
    KitSound *k = handle;
    k->pos = frame < k->frames ? frame : k->frames;
    return 0;
}
uint32_t StreamSamples(void *handle, void *buffer, uint32_t frames, int *end)
{
    KitSound *k = handle;
    uint32_t n = frames < k->frames - k->pos ? frames : k->frames - k->pos;
    if (fseek(k->f, 12 + (long)(k->first + k->pos) * k->frameBytes, SEEK_SET)) n = 0;
    n = (uint32_t)fread(buffer, k->frameBytes, n, k->f);
    k->pos += n;
    *end = n < frames;
    return n;
}
const char *GetFormatName(void *handle)
{
    (void)handle;
    return "Kit sound";
}
int RegisterSampleSaver(qxSaverRegistration *record)
{
    record->identifier = 80;
    record->name = "kitsnd";
    record->flags = 0;
    return 1;
}
int SaveSample(const char *fileName, const qxSampleSaveRecord *r)
{
    unsigned char h[12] = {'K', 'I', 'T', 'S', r->frequency, r->frequency >> 8, r->frequency >> 16,
                           r->frequency >> 24, r->channels, 0, r->bits, 0};
    FILE *f = fopen(fileName, "wb");
    if (!f) return 0;
    int ok = fwrite(h, 1, 12, f) == 12;
    const unsigned char *d = r->data;
    for (uint32_t i = 0; ok && i < r->bytes; i++) {
        /* big-endian words swapped, signed bytes made unsigned */
        unsigned char c = r->bits == 16 && (r->flags & 1) ? d[i ^ 1] : d[i];
        if (r->bits == 8 && (r->flags & 2)) c ^= 0x80;
        ok = fputc(c, f) != EOF;
    }
    return fclose(f) == 0 && ok;
}
#endif

#ifdef KIT_ANIMSAVER
/* An anim saver with a palette format (70) and a true-colour format with
 * alpha (71); each frame becomes one text line describing its record. */
int RegisterAnimSaver(qxSaverRegistration *record)
{
    int next = (record->flags & 0x10) ? 1 : 0;
    record->identifier = (uint32_t)(70 + next);
    record->name = next ? "kitrgb" : "kitpal";
    record->flags = next ? (1 | 4) : 0x10;
    return 1;
}
void *BeginAnimStream(const char *file, int32_t width, int32_t height, uint32_t mode, int32_t quality, int32_t fps)
{
    FILE *f = fopen(file, "w");
    if (f) fprintf(f, "begin %d %d mode=%u quality=%d fps=%d\n", width, height, mode, quality, fps);
    return f;
}
int WriteAnimFrame(void *handle, const qxAnimFrameRecord *r)
{
    uint32_t first = r->palette ? r->palette[((const uint8_t *)r->pixels)[0]] : ((const uint32_t *)r->pixels)[0];
    fprintf((FILE *)handle, "frame row=%u colours=%u index=%u delay=%u flags=%u format=%u first=%08x\n",
            r->bytesPerRow, r->colourCount, r->transparentIndex, r->delay, r->flags, r->format, first);
    return 1;
}
int FinishAnimStream(void *handle) { return fclose((FILE *)handle) == 0; }
#endif

/* The interface records as a C compiler lays them out: natural alignment. */
_Static_assert(sizeof(qxPluginBase) == 8 + 16 * sizeof(void *), "host table frame");
_Static_assert(offsetof(qxPluginBase, runtime) == 8, "first sub-table pointer");
_Static_assert(sizeof(qxHostTag) == 16, "tag item");
_Static_assert(sizeof(qxHostDate) == 64 && offsetof(qxHostDate, gmtOffset) == 48, "date record");
_Static_assert(sizeof(qxHostStat) == 48 && offsetof(qxHostStat, size) == 16, "stat record");
_Static_assert(sizeof(qxHostFileRecord) == 32 && offsetof(qxHostFileRecord, protection) == 24, "file record");
_Static_assert(offsetof(qxHostExamine, date) == 20 && offsetof(qxHostExamine, name) == 96, "examine record");
_Static_assert(sizeof(qxHostChunkRecord) == 72, "chunk record");
_Static_assert(sizeof(qxHostSourceRecord) == 40, "source record");
_Static_assert(sizeof(qxHostReportLine) == 24, "report line record");
_Static_assert(sizeof(qxHostNewId) == 16, "new identifier record");
_Static_assert(offsetof(qxPluginHandle, info) == 8 && offsetof(qxPluginHandle, library) == 16, "handle");

/* Where the C compiler puts the fields the host reads, for the test to
 * compare with the player's view. */
size_t KitInfoLayout(int field)
{
    switch (field) {
    case 0: return sizeof(qxPluginInfo);
    case 1: return offsetof(qxPluginInfo, abiKind);
    case 2: return offsetof(qxPluginInfo, extensionFlags);
    case 3: return offsetof(qxPluginInfo, entry);
    default: return 0;
    }
}

/* The locale sub-table's answers: language, country, time zone. */
void KitLocale(uint32_t *language, uint32_t *country, int *zone, int *daylight)
{
    *language = HOST(locale, 0, uint32_t (*)(void))();
    *country = HOST(locale, 1, uint32_t (*)(void))();
    *zone = HOST(locale, 2, int (*)(int *))(daylight);
    HOST(locale, 2, int (*)(int *))(NULL); /* the flag is optional */
}

/* KitChunkData(name): dos slot 29 on a chunk name; the bytes its data
 * pointer gives at its offset and size, or "none". */
static int kitChunkData(lua_State *L)
{
    char inner[256], extension[32], container[1024];
    qxHostChunkRecord r = {inner, sizeof inner, extension, sizeof extension, container, sizeof container,
                           NULL, 0, 0};
    const char *name = VM(45, const char *(*)(lua_State *, int, size_t *))(L, 1, NULL);
    if (!HOST(dos, 29, int (*)(const char *, qxHostChunkRecord *))(name, &r) || !r.memory) {
        VM(23, void (*)(lua_State *, const char *))(L, "none");
        return 1;
    }
    VM(22, void (*)(lua_State *, const char *, size_t))(L, (const char *)r.memory + r.offset, (size_t)r.size);
    return 1;
}

typedef struct KitIconNode {
    struct KitIconNode *next;
    uint32_t *pixels;
    uint32_t width, height, flags;
} KitIconNode;
typedef struct {
    uint32_t *pixels;
    uint32_t width, height, flags;
} KitIconImage;

/* KitIconImage(icon, scale): graphics slot 32's list of the icon and slot
 * 33's image at the scale, as "n WxH last-pixel; WxH last-pixel". */
static int kitIconImage(lua_State *L)
{
    struct { uint32_t number; void *automatic; } ref = {(uint32_t)VM(47, double (*)(lua_State *, int))(L, 1), NULL};
    double scale = VM(47, double (*)(lua_State *, int))(L, 2);
    char text[128];
    int n = 0;
    KitIconNode *list = HOST(graphics, 32, KitIconNode *(*)(void *))(&ref), *first = list;
    for (KitIconNode *i = list; i; i = i->next) n++;
    KitIconImage *image = HOST(graphics, 33, KitIconImage *(*)(void *, double *, uint32_t))(&ref, &scale, 0);
    snprintf(text, sizeof text, "%d %ux%u %08x; %ux%u %08x", n, first ? first->width : 0, first ? first->height : 0,
             first ? first->pixels[first->width * first->height - 1] : 0, image ? image->width : 0,
             image ? image->height : 0, image ? image->pixels[image->width * image->height - 1] : 0);
    HOST(graphics, 15, void (*)(KitIconNode *))(list);
    HOST(graphics, 34, void (*)(KitIconImage *))(image);
    VM(23, void (*)(lua_State *, const char *))(L, text);
    return 1;
}

static int kitSelfTest(lua_State *L)
{
    char md5[33] = "";
    const char *path = VM(45, const char *(*)(lua_State *, int, size_t *))(L, 1, NULL);
    const char *expected = VM(45, const char *(*)(lua_State *, int, size_t *))(L, 2, NULL);
    VM(21, void (*)(lua_State *, double))(L, KitSelfTest(path, expected, md5));
    VM(23, void (*)(lua_State *, const char *))(L, md5);
    return 2;
}

/* Negates the 16-bit data of sample number arg 1 through audio slots 0 and
 * 1 on a private copy; the frames, or -1 when slot 0 refuses (a sample
 * that plays or does not exist). */
static int kitSampleNegate(lua_State *L)
{
    struct { uint32_t number; void *automatic; } ref;
    struct { int16_t *data; uint32_t bytes, frames, channels, bits, frequency, flags; } rec;
    void *handle;
    uint32_t i;
    ref.number = (uint32_t)VM(47, double (*)(lua_State *, int))(L, 1);
    ref.automatic = NULL;
    handle = HOST(audio, 0, void *(*)(void *, uint32_t, void *, void *))(&ref, 0, NULL, &rec);
    if (!handle || rec.bits != 16) {
        if (handle) HOST(audio, 1, void (*)(void *))(handle);
        VM(21, void (*)(lua_State *, double))(L, -1);
        return 1;
    }
    for (i = 0; i < rec.frames * rec.channels; i++) rec.data[i] = (int16_t)-rec.data[i];
    HOST(audio, 1, void (*)(void *))(handle);
    VM(21, void (*)(lua_State *, double))(L, rec.frames);
    return 1;
}

/* Takes a private copy of sample number arg 1 through audio slot 0, fills
 * it with 0x11 and keeps the handle for KitSampleRelease; the frames, or -1. */
static void *heldSample;
static int kitSampleHold(lua_State *L)
{
    struct { uint32_t number; void *automatic; } ref;
    struct { uint8_t *data; uint32_t bytes, frames, channels, bits, frequency, flags; } rec;
    ref.number = (uint32_t)VM(47, double (*)(lua_State *, int))(L, 1);
    ref.automatic = NULL;
    heldSample = HOST(audio, 0, void *(*)(void *, uint32_t, void *, void *))(&ref, 0, NULL, &rec);
    if (heldSample) memset(rec.data, 0x11, rec.bytes);
    VM(21, void (*)(lua_State *, double))(L, heldSample ? (double)rec.frames : -1);
    return 1;
}

/* Ends the held handle through audio slot 1; the slot's result. */
static int kitSampleRelease(lua_State *L)
{
    int r = HOST(audio, 1, int (*)(void *))(heldSample);
    heldSample = NULL;
    VM(21, void (*)(lua_State *, double))(L, r);
    return 1;
}

#ifdef KIT_SATELLITE
/* Presses key arg 1 on the first display as a satellite would (system
 * slot 16, operation 5); the slot's result. */
static int kitSatelliteKey(lua_State *L)
{
    int32_t params[3];
    params[0] = (int32_t)VM(47, double (*)(lua_State *, int))(L, 1);
    params[1] = 1;
    params[2] = 0;
    int r = HOST(system, 16, int (*)(void *, uint32_t, const int32_t *, void *))(NULL, 5, params, NULL);
    VM(21, void (*)(lua_State *, double))(L, r);
    return 1;
}
#endif

#ifdef KIT_AUDIO
/* Installs this plug-in as the audio adapter with flags arg 1 and, when
 * given, buffer size arg 2 and channel count arg 3 as tags; the result. */
static int kitAudioInstall(lua_State *L)
{
    qxHostTag tags[3];
    int n = 0, top = VM(0, int (*)(lua_State *))(L);
    uint32_t flags = (uint32_t)VM(47, double (*)(lua_State *, int))(L, 1);
    if (top >= 2 && VM(10, int (*)(lua_State *, int))(L, 2) == 3) {
        tags[n].tag = 1;
        tags[n++].value = (uint64_t)VM(47, double (*)(lua_State *, int))(L, 2);
    }
    if (top >= 3 && VM(10, int (*)(lua_State *, int))(L, 3) == 3) {
        tags[n].tag = 2;
        tags[n++].value = (uint64_t)VM(47, double (*)(lua_State *, int))(L, 3);
    }
    tags[n].tag = 0;
    tags[n].value = 0;
    int r = HOST(audio, 2, int (*)(qxPluginInfo *, uint32_t, const qxHostTag *))(self, flags, tags);
    VM(21, void (*)(lua_State *, double))(L, r);
    return 1;
}

static int kitAudioEarly(lua_State *L)
{
    VM(21, void (*)(lua_State *, double))(L, earlyInstall);
    return 1;
}
#endif

#ifdef KIT_EVENTS
/* Custom events of both kinds, dispatched at once; a handler looked up by
 * name; a timer adapter whose timers fire when the script asks. */
#define KIT_GLOBALS (-10001)
typedef struct {
    void (*fields)(lua_State *L, void *data);
    int (*push)(lua_State *L, void *data);
    void (*afterCall)(lua_State *L, void *data);
    void (*freeData)(void *data);
} kitEventFuncs;
static void *kitTimers[16];
static uint32_t kitOneShot[16];
static int kitTimerCount, kitFreed;

static void kitSetNumber(lua_State *L, const char *key, double value)
{
    VM(23, void (*)(lua_State *, const char *))(L, key);
    VM(21, void (*)(lua_State *, double))(L, value);
    VM(31, void (*)(lua_State *, int))(L, -3);
}

static void kitFields(lua_State *L, void *data) { kitSetNumber(L, "value", *(double *)data); }

/* The full kind calls the script's global "kitpushed" with its own table. */
static int kitPush(lua_State *L, void *data)
{
    VM(23, void (*)(lua_State *, const char *))(L, "kitpushed");
    VM(26, void (*)(lua_State *, int))(L, KIT_GLOBALS);
    VM(29, void (*)(lua_State *))(L);
    VM(23, void (*)(lua_State *, const char *))(L, "action");
    VM(23, void (*)(lua_State *, const char *))(L, "KitPushed");
    VM(31, void (*)(lua_State *, int))(L, -3);
    kitSetNumber(L, "value", *(double *)data);
    return 1;
}

static void kitFree(void *data)
{
    kitFreed++;
    free(data);
}

static const kitEventFuncs kitFull = {NULL, kitPush, NULL, kitFree};
static double kitSimpleValue;

/* KitEvents(): registers "KitSimple" and "KitFull"; their codes. */
static int kitEvents(lua_State *L)
{
    uint32_t simple = HOST(system, 14, uint32_t (*)(const char *, void *))("KitSimple", (void *)kitFields);
    uint32_t full = HOST(system, 36, uint32_t (*)(const char *, uint32_t, const void *))("KitFull", 1, &kitFull);
    VM(21, void (*)(lua_State *, double))(L, simple);
    VM(21, void (*)(lua_State *, double))(L, full);
    return 2;
}

/* KitDispatch(code, value, full): dispatches at once (the payload stays
 * the kit's); the slot's result and the number of payloads the host freed. */
static int kitDispatch(lua_State *L)
{
    uint32_t code = (uint32_t)VM(47, double (*)(lua_State *, int))(L, 1);
    double value = VM(47, double (*)(lua_State *, int))(L, 2);
    void *data = &kitSimpleValue;
    kitSimpleValue = value;
    if (VM(47, double (*)(lua_State *, int))(L, 3) != 0) {
        double *owned = (double *)malloc(sizeof *owned);
        *owned = value;
        data = owned;
    }
    int r = HOST(system, 46, int (*)(lua_State *, uint32_t, void *))(L, code, data);
    if (data != &kitSimpleValue)
        free(data);
    VM(21, void (*)(lua_State *, double))(L, r);
    VM(21, void (*)(lua_State *, double))(L, kitFreed);
    return 2;
}

/* KitHandler(name): the handler's index, -1 when none is installed. */
static int kitHandler(lua_State *L)
{
    const char *name = VM(45, const char *(*)(lua_State *, int, size_t *))(L, 1, NULL);
    VM(21, void (*)(lua_State *, double))(L, HOST(system, 48, int (*)(const char *, void *))(name, NULL));
    return 1;
}

void *RegisterTimer(lua_State *L, uint32_t ms, uint32_t oneShot)
{
    (void)L;
    (void)ms;
    if (kitTimerCount == 16)
        return NULL;
    kitOneShot[kitTimerCount] = oneShot;
    kitTimers[kitTimerCount] = (void *)(uintptr_t)(kitTimerCount + 1);
    return kitTimers[kitTimerCount++];
}

void FreeTimer(void *handle)
{
    uintptr_t i = (uintptr_t)handle;
    if (i >= 1 && i <= 16)
        kitTimers[i - 1] = NULL;
}

/* KitTimerAdapter(): installs the kit as the timer adapter; the code. */
static int kitTimerAdapter(lua_State *L)
{
    VM(21, void (*)(lua_State *, double))(L, HOST(system, 39, int (*)(qxPluginInfo *, uint32_t))(self, 1));
    return 1;
}

/* KitFireTimers(): fires every live adapter timer once (a one-shot one
 * ends), an unknown handle too; the number fired. */
static int kitFireTimers(lua_State *L)
{
    int fired = 0;
    for (int i = 0; i < kitTimerCount; i++)
        if (kitTimers[i]) {
            void *handle = kitTimers[i];
            if (kitOneShot[i])
                kitTimers[i] = NULL;
            HOST(system, 38, void (*)(lua_State *, void *))(L, handle);
            fired++;
        }
    HOST(system, 38, void (*)(lua_State *, void *))(L, (void *)(uintptr_t)0x999);
    VM(21, void (*)(lua_State *, double))(L, fired);
    return 1;
}
#endif

#ifdef KIT_OBJECTS
/* Objects of a type of the kit's own, registered at run time: the record
 * starts with the object header the registry walks. */
typedef struct kitThing {
    uint32_t type, id;
    void *automatic;
    struct kitThing *next;
    void *data;
    double size;
} kitThing;
static kitThing *kitThings;
static uint32_t kitThingType;

/* GetAttribute's call: (L, record, attribute). Width gives the size, type
 * a name, anything else "unknown attribute". */
static int kitThingAttribute(void *argument, intptr_t object, intptr_t attribute)
{
    lua_State *L = (lua_State *)argument;
    const kitThing *t = (const kitThing *)object;
    if (attribute == 0) {
        VM(21, void (*)(lua_State *, double))(L, t->size);
        return 1;
    }
    if (attribute == 9) {
        VM(23, void (*)(lua_State *, const char *))(L, "kitthing");
        return 1;
    }
    return 1080;
}

/* KitThing(id, size): registers the type on first use, adds an object;
 * returns the type code. */
static int kitThingNew(lua_State *L)
{
    if (!kitThingType)
        kitThingType = HOST(system, 17, uint32_t (*)(void *, const char *, void *, void *))(
            NULL, "KitThing", &kitThings, (void *)kitThingAttribute);
    kitThing *t = (kitThing *)calloc(1, sizeof *t);
    if (!t)
        return 1000;
    t->type = kitThingType;
    t->id = (uint32_t)VM(47, double (*)(lua_State *, int))(L, 1);
    t->size = VM(47, double (*)(lua_State *, int))(L, 2);
    t->next = kitThings;
    kitThings = t;
    VM(21, void (*)(lua_State *, double))(L, kitThingType);
    return 1;
}
#endif

#ifdef KIT_REQUESTERS
/* A requester adapter that records each call with its flags and tags and
 * answers with fixed choices; KitRequesters installs it with the script's
 * flags, KitRequesterLog hands the record over and clears it. */
typedef struct {
    uint32_t tag;
    uintptr_t value;
} kitReqTag;
static char reqLog[2048];
static size_t reqLogLength;

static void reqSay(const char *text)
{
    size_t n = strlen(text);
    if (n > sizeof reqLog - 1 - reqLogLength) n = sizeof reqLog - 1 - reqLogLength;
    memcpy(reqLog + reqLogLength, text, n);
    reqLogLength += n;
    reqLog[reqLogLength] = 0;
}

/* Numeric tags print as numbers, the tags in the mask (1 << tag) as text. */
static void reqTags(const kitReqTag *tags, unsigned textTags)
{
    char line[320];
    for (; tags && tags->tag; tags++) {
        if (tags->tag < 32 && (textTags >> tags->tag & 1))
            snprintf(line, sizeof line, " %u=\"%s\"", tags->tag, (const char *)tags->value);
        else
            snprintf(line, sizeof line, " %u=%ld", tags->tag, (long)tags->value);
        reqSay(line);
    }
    reqSay(";");
}

int SystemRequest(void *handle, const char *title, const char *body, uint32_t flags, int *button,
                  const kitReqTag *tags)
{
    char line[320];
    (void)handle;
    snprintf(line, sizeof line, "system \"%s\" \"%s\" flags=%u", title, body, flags);
    reqSay(line);
    reqTags(tags, 1u << 2);
    *button = 1;
    return 0;
}

int FontRequest(void *handle, const char *title, uint32_t zero, uint32_t *flags, char **answer,
                const kitReqTag *tags)
{
    char line[320];
    (void)handle;
    snprintf(line, sizeof line, "font \"%s\" %u", title, zero);
    reqSay(line);
    reqTags(tags, 1u << 2);
    /* Semibold (0x40) below bold (0x80): the lowest bit wins; oblique,
     * underlined, and the two further style flags. */
    *flags = 0x40 | 0x80 | 0x2000 | 0x4000 | 0x10000 | 0x20000;
    *answer = strdup("Kit Sans|17|4660");
    return 0;
}

void FreeRequest(int kind, void *result)
{
    char line[32];
    snprintf(line, sizeof line, "free %d;", kind);
    reqSay(line);
    free(result);
}

/* The file, path and colour requesters also log their trailing argument. */
int FileRequest(void *handle, const char *title, int mode, char **answer, const kitReqTag *tags,
                const char *initialPath)
{
    char line[320];
    (void)handle;
    snprintf(line, sizeof line, "file \"%s\" %d", title, mode);
    reqSay(line);
    reqTags(tags, 1u << 2 | 1u << 3 | 1u << 4);
    snprintf(line, sizeof line, " then \"%s\";", initialPath);
    reqSay(line);
    *answer = strdup("/kit/dir/chosen.txt");
    return 0;
}

int PathRequest(void *handle, const char *title, int save, char **answer, const kitReqTag *tags, uintptr_t extra)
{
    char line[320];
    (void)handle;
    snprintf(line, sizeof line, "path \"%s\" %d", title, save);
    reqSay(line);
    reqTags(tags, 1u << 2);
    snprintf(line, sizeof line, " then %ld;", (long)extra);
    reqSay(line);
    *answer = strdup("/kit/path");
    return 0;
}

int ColorRequest(void *handle, const char *title, int zero, int32_t *colour, const kitReqTag *tags, int32_t *out)
{
    char line[320];
    (void)handle;
    snprintf(line, sizeof line, "colour \"%s\" %d", title, zero);
    reqSay(line);
    reqTags(tags, 0);
    snprintf(line, sizeof line, " then %s;", out == colour ? "the answer" : "another pointer");
    reqSay(line);
    *out = 0x445566;
    return 0;
}

/* Picks the first entry. */
int ListRequest(void *handle, const char *title, const char *body, const char *choices, int zero,
                int *index, const kitReqTag *tags)
{
    char line[320];
    (void)handle;
    snprintf(line, sizeof line, "list \"%s\" \"%s\" %s %d", title, body, *choices ? "entries" : "none", zero);
    reqSay(line);
    reqTags(tags, 0);
    *index = 0;
    return 0;
}

int StringRequest(void) { return 1055; }

/* What no script read any more (an error report ends the run) goes to
 * stdout when the player exits. */
__attribute__((destructor)) static void reqLogAtExit(void)
{
    if (reqLogLength)
        printf("unread: %s\n", reqLog);
}

static int kitRequesters(lua_State *L)
{
    uint32_t flags = (uint32_t)VM(47, double (*)(lua_State *, int))(L, 1);
    int r = HOST(requesters, 3, int (*)(qxPluginInfo *, uint32_t))(self, flags);
    VM(21, void (*)(lua_State *, double))(L, r);
    return 1;
}

static int kitRequesterLog(lua_State *L)
{
    VM(23, void (*)(lua_State *, const char *))(L, reqLog);
    reqLogLength = 0;
    reqLog[0] = 0;
    return 1;
}
#endif

#ifdef KIT_HOOKS
/* The runtime's hooks as a plug-in sees them: a line callback that counts
 * the script's lines, a callback told about the text-mode switch, runtime
 * attributes and the script's error handler. */
static int kitLines, kitTextSwitches;
static long kitTextValue = -1;
static void *kitLineNode;

static int kitCountLine(lua_State *L, void *data)
{
    (void)L;
    (void)data;
    kitLines++;
    return 0;
}

static void kitTextMode(uintptr_t value, void *data, uintptr_t zero)
{
    (void)data;
    (void)zero;
    kitTextSwitches++;
    kitTextValue = (long)value;
}

static void kitHooksInit(void)
{
    HOST(system, 13, void *(*)(uint32_t, void *, void *))(3, (void *)kitTextMode, NULL);
}

/* KitLines(on): the lines counted since the last call; then the line
 * callback is registered (1), removed (0) or disabled (-1). */
static int kitLinesCmd(lua_State *L)
{
    int on = (int)VM(47, double (*)(lua_State *, int))(L, 1);
    int counted = kitLines;
    kitLines = 0;
    if (on != 0 && !kitLineNode)
        kitLineNode = HOST(system, 13, void *(*)(uint32_t, void *, void *))(1, (void *)kitCountLine, NULL);
    if (kitLineNode)
        HOST(system, 34, void (*)(void *, uint32_t))(kitLineNode, on < 0);
    if (on == 0 && kitLineNode) {
        HOST(system, 35, void (*)(void *))(kitLineNode);
        kitLineNode = NULL;
    }
    VM(21, void (*)(lua_State *, double))(L, counted);
    return 1;
}

/* KitTag(tag, value): system slot 0 with that one tag; the tags handled. */
static int kitTag(lua_State *L)
{
    qxHostTag tags[2];
    tags[0].tag = (uint32_t)VM(47, double (*)(lua_State *, int))(L, 1);
    tags[0].value = (uint64_t)VM(47, double (*)(lua_State *, int))(L, 2);
    tags[1].tag = 0;
    tags[1].value = 0;
    VM(21, void (*)(lua_State *, double))(L, HOST(system, 0, int (*)(qxHostTag *))(tags));
    return 1;
}

/* KitCallHandler(code): system slot 50's answer. */
static int kitCallHandler(lua_State *L)
{
    int code = (int)VM(47, double (*)(lua_State *, int))(L, 1);
    VM(21, void (*)(lua_State *, double))(L, HOST(system, 50, int (*)(lua_State *, int))(L, code));
    return 1;
}

/* KitTextMode(): how often the text mode was switched, the value told. */
static int kitTextModeCmd(lua_State *L)
{
    VM(21, void (*)(lua_State *, double))(L, kitTextSwitches);
    VM(21, void (*)(lua_State *, double))(L, kitTextValue);
    return 2;
}
#endif

static const qxPluginCommand commands[] = {
#ifdef KIT_HOOKS
    {"KitLines", kitLinesCmd},
    {"KitTag", kitTag},
    {"KitCallHandler", kitCallHandler},
    {"KitTextMode", kitTextModeCmd},
#endif
#ifdef KIT_OBJECTS
    {"KitThing", kitThingNew},
#endif
#ifdef KIT_AUDIO
    {"KitAudioInstall", kitAudioInstall},
    {"KitAudioEarly", kitAudioEarly},
#endif
#ifdef KIT_EVENTS
    {"KitEvents", kitEvents},
    {"KitDispatch", kitDispatch},
    {"KitHandler", kitHandler},
    {"KitTimerAdapter", kitTimerAdapter},
    {"KitFireTimers", kitFireTimers},
#endif
#ifdef KIT_SATELLITE
    {"KitSatelliteKey", kitSatelliteKey},
#endif
#ifdef KIT_REQUESTERS
    {"KitRequesters", kitRequesters},
    {"KitRequesterLog", kitRequesterLog},
#endif
    {"KitAdd", kitAdd},
    {"KitSampleNegate", kitSampleNegate},
    {"KitSampleHold", kitSampleHold},
    {"KitSampleRelease", kitSampleRelease},
    {"KitRequired", kitRequired},
    {"KitSelfTest", kitSelfTest},
    {"KitChunkData", kitChunkData},
    {"KitIconImage", kitIconImage},
    {NULL, NULL},
};

#ifndef KIT_NO_CONSTANTS
static const qxPluginConstant constants[] = {
    {"KIT_ANSWER", NULL, 42},
    {"KIT_TEXT", "kit", 0},
    {NULL, NULL, 0},
};
#endif

const char *GetBaseTable(void) { return KIT_BASE; }
const qxPluginCommand *GetCommands(void) { return commands; }
#ifndef KIT_NO_CONSTANTS
const qxPluginConstant *GetConstants(void) { return constants; }
#endif
#ifdef KIT_REPORT
/* Collected when the VM closes. */
static int kitGone(lua_State *L)
{
    (void)L;
    kitReport("kit vm closed\n");
    return 0;
}
#endif

int InitLibrary(lua_State *L)
{
#ifdef KIT_REPORT
    /* A userdata kept in the registry whose __gc reports the VM's end. */
    VM(41, void *(*)(lua_State *, size_t))(L, 4);
    VM(29, void (*)(lua_State *))(L);
    VM(23, void (*)(lua_State *, const char *))(L, "__gc");
    VM(25, void (*)(lua_State *, int (*)(lua_State *), int))(L, kitGone, 0);
    VM(31, void (*)(lua_State *, int))(L, -3);
    VM(42, int (*)(lua_State *, int))(L, -2);
    VM(54, int (*)(lua_State *, int))(L, -10000);
#else
    (void)L;
#endif
    return 0;
}
void FreeLibrary(lua_State *L)
{
    (void)L;
#ifdef KIT_OBJECTS
    while (kitThings) {
        kitThing *next = kitThings->next;
        free(kitThings);
        kitThings = next;
    }
#endif
    KitFreeLibraryCalls++;
    kitReport("kit library freed\n");
}
void GetHelpStrings(void) {}

int RequirePlugin(lua_State *L, int version, int revision, uint32_t flags, qxRequireRecord *record)
{
    (void)L;
    (void)version;
    (void)revision;
    (void)flags;
    if (requireCalls++ == 0 && record && record->tags) {
        snprintf(firstTag, sizeof firstTag, "%s", record->tags->name ? record->tags->name : "");
        firstTagNumber = record->tags->text ? -1 : record->tags->number;
    }
    if (record && record->displayFlags) *record->displayFlags = KIT_REQUIRE_FLAGS;
    return 0;
}

/* An image saver with two formats; the more-bit (8) asks for the next.
 * "xyz" takes ARGB with alpha, "abc" pens with a palette. */
int RegisterImageSaver(qxSaverRegistration *record)
{
    static const char *const names[] = {"xyz", "abc"};
    int next = (record->flags & 8) ? 1 : 0;
    record->identifier = (uint32_t)(7 + 2 * next);
    record->name = names[next];
    record->flags = next == 0 ? 8 | QX_SAVER_ARGB | QX_SAVER_ALPHA : 0;
    return 1;
}

/* The last SaveImage call: its record and the first pixel or pen. */
qxImageSaveRecord KitSaved;
uint32_t KitSavedFirst;
int KitSaveCalls;

int SaveImage(const char *fileName, qxImageSaveRecord *record)
{
    KitSaveCalls++;
    KitSaved = *record;
    KitSavedFirst = record->palette ? ((const uint8_t *)record->pixels)[0] : ((const uint32_t *)record->pixels)[0];
    return strstr(fileName, "fail") == NULL;
}
