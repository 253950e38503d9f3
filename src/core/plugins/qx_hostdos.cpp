// Host table, sub-table 2: virtual files, directories and chunk names for
// plug-ins, with the records of the plug-in interface.
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>

#include "core/files/qx_chunkname.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/plugins/qx_hosttable.h"
#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_startup.h"
#include "platform/qx_locale.h"
#include "platform/qx_tempfiles.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"

const char *(*qxHostSubstituteName)(void) = nullptr;

namespace {

uint32_t openFlags(uint32_t flags)
{
    uint32_t f = (flags & 1) ? QX_OPEN_WRITE : (flags & 2) ? QX_OPEN_READWRITE : QX_OPEN_READ;
    if (!(flags & 8)) f |= QX_OPEN_ADAPTERS;
    if (flags & 16) f |= 16;
    if (flags & 32) f |= 32;
    return f;
}

// While an image loader reads data under a chunk name of the player's
// making, that name is opened whatever the plug-in asks for.
const char *substitute(const char *name)
{
    const char *own = qxHostSubstituteName ? qxHostSubstituteName() : nullptr;
    return own ? own : name;
}

qxFileHandle *hostOpen(const char *name, uint32_t flags)
{
    return name ? qxOpen(substitute(name), openFlags(flags), nullptr) : nullptr;
}

qxFileHandle *hostOpenTags(const char *name, uint32_t flags, const qxHostTag *tags)
{
    const char *list = nullptr;
    for (; tags && tags->tag; tags++)
        if (tags->tag == 1) list = reinterpret_cast<const char *>(tags->value);
    return name ? qxOpen(name, openFlags(flags), list) : nullptr;
}

int64_t hostSeek32(qxFileHandle *h, uint32_t offset, int whence) { return qxSeek(h, int64_t(offset), whence); }

qxDirHandle *hostOpenDir(const char *name, uint32_t flags)
{
    if (!name) return nullptr;
    uint32_t f = (flags & 1) ? QX_DIR_WRITELOCK : QX_DIR_READLOCK;
    if (!(flags & 4)) f |= QX_DIR_ADAPTERS;
    return qxOpenDir(substitute(name), f, nullptr);
}

void toRecord(const char *name, const qxFileInfo &fi, qxHostFileRecord *r)
{
    r->name = name;
    r->isDirectory = fi.isDirectory ? 1 : 0;
    r->size = uint32_t(fi.size);
    r->protection = fi.protection;
}

int hostExamineDir(qxDirHandle *h, qxHostFileRecord *r)
{
    qxFileInfo fi = {};
    if (!r || !qxExamineDir(h, &fi)) return 0;
    toRecord(nullptr, fi, r);
    return 1;
}

void nothing(void) {}

int hostNextEntry(qxDirHandle *h, void *reserved, qxHostFileRecord *r)
{
    const char *name = nullptr;
    int isDirectory = 0;
    qxFileInfo fi = {};
    if (!r || !qxReadDirEntry(h, reserved, &name, &isDirectory, &fi)) return 0;
    fi.isDirectory = uint32_t(isDirectory);
    toRecord(name, fi, r);
    return 1;
}

int hostGetCurrentDir(char *buffer, size_t size)
{
    if (!buffer || !size || !getcwd(buffer, size)) return ERR_DIRLOCK;
    return 0;
}

int hostTempName(char *buffer) { return qxTempFileName(buffer, 1024); }
int hostTempNameSized(char *buffer, size_t capacity)
{
    if (!buffer || !capacity) return 0;
    if (qxTempFileName(buffer, capacity)) return 1;
    buffer[0] = 0; // no name was made: the plug-in must not take the old text for one
    return 0;
}

int hostSplitChunk(const char *name, char *container, uint32_t capacity, int32_t *offset, int32_t *size)
{
    if (!name) return 0;
    if (!qxIsChunkName(name)) {
        if (offset) *offset = -1;
        if (size) *size = -1;
        return container ? qxStrCopyN(container, capacity, name) : 1;
    }
    uint32_t off = 0, sz = 0;
    if (!qxParseChunkName(name, &off, &sz, nullptr, 0, container, capacity, nullptr, 0, nullptr)) return 0;
    if (offset) *offset = int32_t(off);
    if (size) *size = int32_t(sz);
    return 1;
}

void localDate(uint64_t when, qxHostDateSix *d)
{
    time_t t = time_t(when);
    static_assert(sizeof(qxHostDateSix) == sizeof(qxDateRecord), "date record layout");
    qxTimeToDate(&t, reinterpret_cast<qxDateRecord *>(d), 0);
}

// The texts: fresh copies with flag 2, else one shared pair of buffers.
int fillExamine(const qxFileInfo &fi, const char *name, uint32_t flags, qxHostExamine *r)
{
    static char sharedName[1024], sharedComment[256];
    r->isDirectory = fi.isDirectory ? 1 : 0;
    r->size = fi.size;
    r->protection = fi.protection;
    const char *n = name ? name : "";
    if (flags & 2) {
        size_t ln = std::strlen(n) + 1;
        r->name = static_cast<char *>(qxAlloc(ln, 0));
        if (!r->name) return 0;
        std::memcpy(r->name, n, ln);
        r->comment = nullptr;
        if (fi.comment[0]) {
            size_t lc = strnlen(fi.comment, sizeof fi.comment - 1);
            r->comment = static_cast<char *>(qxAlloc(lc + 1, 1));
            if (!r->comment) {
                qxFree(r->name);
                r->name = nullptr;
                return 0;
            }
            std::memcpy(r->comment, fi.comment, lc);
        }
    } else {
        qxStrCopyN(sharedName, sizeof sharedName, n);
        qxStrCopyN(sharedComment, sizeof sharedComment, fi.comment);
        r->name = sharedName;
        r->comment = sharedComment;
    }
    return 1;
}

int hostExamineObject(const char *name, uint32_t flags, qxHostExamine *r)
{
    qxFileInfo fi = {};
    if (!name || !r || !qxExamineObject(name, &fi, !(flags & 1))) return 0;
    localDate(fi.modifyTime, &r->date[0]);
    localDate(fi.accessTime, &r->date[1]);
    localDate(fi.changeTime, &r->date[2]);
    return fillExamine(fi, fi.path ? fi.path : qxFilePart(name), flags, r);
}

int hostExamineFH(qxFileHandle *h, uint32_t flags, qxHostExamine *r)
{
    qxFileInfo fi = {};
    if (!h || !r || !qxExamineFH(h, &fi)) return 0;
    localDate(fi.modifyTime, &r->date[0]);
    localDate(fi.accessTime, &r->date[1]);
    localDate(fi.modifyTime, &r->date[2]);
    return fillExamine(fi, fi.path, flags, r);
}

int hostWriteData(const char *destination, const void *source, uint32_t offset, uint32_t size, uint32_t flags)
{
    if (!destination || !source) return ERR_WRONGUSAGE;
    if (flags & 1) {
        qxFileHandle *out = qxOpen(destination, QX_OPEN_WRITE, nullptr);
        if (!out) {
            qxSetErrorString(destination);
            return ERR_WRITEFILE;
        }
        int64_t written = qxWrite(out, source, size);
        qxClose(out);
        return written == int64_t(size) ? 0 : ERR_WRITE;
    }
    char chunk[1024];
    if (!qxMakeChunkName("foobar.dat", chunk, sizeof chunk, offset, size, 0, static_cast<const char *>(source)))
        return ERR_MEM;
    return qxCopyFile(chunk, nullptr, destination, nullptr);
}

int hostParseChunk(const char *name, qxHostChunkRecord *r)
{
    if (!name || !r || !qxIsChunkName(name)) return 0;
    uint32_t off = 0, sz = 0;
    qxMemRecord *block = nullptr;
    if (!qxParseChunkName(name, &off, &sz, r->innerName, r->innerName ? r->innerCapacity : 0, r->container,
                          r->container ? r->containerCapacity : 0, r->extension,
                          r->extension ? r->extensionCapacity : 0, &block))
        return 0;
    // The S form names a virtual string file: its data is handed over, as
    // for a memory descriptor.
    void *pointer = nullptr;
    uint32_t memSize = 0;
    r->memory = block ? block->data : qxReadMemoryName(name, &pointer, &memSize) ? pointer : nullptr;
    r->offset = off;
    r->size = sz;
    return 1;
}

int hostAddTempFile(const char *name) { return name ? qxAddTempFile(name) : 0; }

int hostMakeSourceName(char *buffer, size_t capacity, const qxHostSourceRecord *src)
{
    if (!buffer || !src) return 0;
    uint32_t size = uint32_t(src->size);
    if (!src->container && src->memory && src->extension) {
        if (capacity < sizeof(qxMemoryName)) return 0;
        qxMakeMemoryName(reinterpret_cast<qxMemoryName *>(buffer), src->memory, size);
        return 1;
    }
    if (src->container && !src->memory && src->extension) {
        std::string inner = std::string("foo.") + src->extension;
        return qxMakeChunkName(inner.c_str(), buffer, capacity, int64_t(uint32_t(src->offset)), size, 0,
                               src->container)
                   ? 1
                   : 0;
    }
    return 0;
}

} // namespace

#define F(x) reinterpret_cast<qxHostFunc>(x)

extern "C" const qxHostFunc qxHostDos[QX_HOST_DOS_SLOTS] = {
    F(hostOpen), F(qxClose), F(hostSeek32), F(qxRead), F(qxWrite), F(qxGetC), F(qxPutC), F(qxEOF),
    F(qxDeleteFile), F(hostOpenDir), F(qxCloseDir), F(qxGetDirName), F(hostExamineDir), F(qxCheckIsDir),
    F(nothing), F(hostNextEntry), F(qxMakeDir), F(qxRename), F(hostGetCurrentDir), F(hostTempName),
    F(qxAddPart), F(qxFilePart), F(qxChunkBaseName), F(hostSplitChunk), F(hostExamineObject), F(qxSeek),
    F(qxGetOpenFlags), F(hostExamineFH), F(hostWriteData), F(hostParseChunk), F(qxFlush), F(hostTempName),
    F(hostOpenTags), F(hostAddTempFile), F(hostMakeSourceName), F(hostTempNameSized),
};
