// Path arithmetic, the current directory, MatchPattern, temporary names,
// the environment and virtual files (parts of files and script strings
// that every file command accepts under a chunk name).
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/runtime/qx_lists.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "libs/qx_dos.h"
#include "libs/qx_dosfs.h"
#include "platform/qx_locale.h"
#include "platform/qx_memory.h"

namespace {

constexpr size_t kFullPath = 1024;
constexpr size_t kEmptyWritable = 65536;

qxVirtualStringFile *vfHead = nullptr;
// Undefined while a file was open on them: no name reaches them any more,
// but their data lives until the last such file is closed.
qxVirtualStringFile *vfUndefined = nullptr;
uint64_t nextSerial = 1;

qxVirtualStringFile *ownerOf(qxMemRecord *m)
{
    for (qxVirtualStringFile *v = vfHead; v; v = v->next)
        if (&v->memory == m) return v;
    return nullptr;
}

// The chunk-name parser asks this before it trusts a record reference. The
// name carries its record's serial: a reference (and address) that a later
// record took over must not reach it.
qxMemRecord *virtualFileCheck(void *block, uint32_t stamp)
{
    auto *v = static_cast<qxVirtualStringFile *>(block);
    return qxIsVirtualFile(block) && uint32_t(v->serial) == stamp ? &v->memory : nullptr;
}

void freeRecord(lua_State *L, qxVirtualStringFile *v)
{
    if (v->writable) qxFree(v->memory.data);
    if (L && v->stringRef >= 0) luaL_unref(L, LUA_REGISTRYINDEX, v->stringRef);
    if (L && v->recordRef >= 0) luaL_unref(L, LUA_REGISTRYINDEX, v->recordRef);
    qxFree(v);
}

// An integer argument within [lo, hi]; NaN and other values give 1055.
bool integerArg(lua_State *L, int idx, double lo, double hi, int64_t *out)
{
    double v = luaL_checknumber(L, idx);
    if (!(v >= lo && v <= hi)) return false;
    *out = static_cast<int64_t>(v);
    return true;
}

void freeUnused(lua_State *L)
{
    for (qxVirtualStringFile **link = &vfUndefined; *link;) {
        qxVirtualStringFile *v = *link;
        if (qxMemRecordInUse(&v->memory)) {
            link = &v->next;
            continue;
        }
        *link = v->next;
        freeRecord(L, v);
    }
}

} // namespace

extern "C" {

int qxIsVirtualFile(const void *record)
{
    for (qxVirtualStringFile *v = vfHead; v; v = v->next)
        if (v == record) return 1;
    return 0;
}

qxVirtualStringFile *qxVirtualFileOfName(const char *name)
{
    qxMemRecord *block = nullptr;
    if (!qxIsChunkName(name) || !qxParseChunkName(name, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, &block))
        return nullptr;
    return block ? ownerOf(block) : nullptr;
}

qxVirtualStringFile *qxVirtualFileBySerial(uint64_t serial)
{
    for (qxVirtualStringFile *v = vfHead; v; v = v->next)
        if (v->serial == serial) return v;
    return nullptr;
}

void qxDosInstallVirtualFiles(void) { qxSetVirtualFileCheck(virtualFileCheck); }

void qxDosFreeVirtualFiles(lua_State *L)
{
    while (vfHead) {
        qxVirtualStringFile *v = vfHead;
        vfHead = v->next;
        freeRecord(L, v);
    }
    while (vfUndefined) {
        qxVirtualStringFile *v = vfUndefined;
        vfUndefined = v->next;
        freeRecord(L, v);
    }
}

void qxDosFreeUnusedVirtualFiles(lua_State *L) { freeUnused(L); }

} // extern "C"

int qxCmdFilePart(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    lua_pushstring(L, qxChunkBaseName(luaL_checkstring(L, 1)));
    return 1;
}

int qxCmdPathPart(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const char *path = luaL_checkstring(L, 1);
    if (qxIsChunkName(path)) return ERR_WRONGUSAGE;
    lua_pushlstring(L, path, static_cast<size_t>(qxFilePart(path) - path));
    return 1;
}

int qxCmdFullPath(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    char buffer[kFullPath];
    if (!qxStrCopyN(buffer, sizeof buffer, luaL_checkstring(L, 1)) ||
        !qxAddPart(buffer, luaL_checkstring(L, 2), sizeof buffer))
        return ERR_MEM;
    lua_pushstring(L, buffer);
    return 1;
}

int qxCmdGetCurrentDirectory(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    char buffer[QX_PATH_MAX];
    lua_pushstring(L, qxFullPath(".", buffer, sizeof buffer) ? buffer : "");
    return 1;
}

int qxCmdChangeDirectory(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxFree(qxChangeDir(luaL_checkstring(L, 1)));
    return 0;
}

int qxCmdMatchPattern(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const char *s = luaL_checkstring(L, 1), *p = luaL_checkstring(L, 2);
    lua_pushnumber(L, qxMatchPatternList(s, p) == 1 ? 1 : 0);
    return 1;
}

int qxCmdGetTempFileName(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    char buffer[QX_PATH_MAX];
    if (!qxTempFileName(buffer, sizeof buffer)) {
        qxSetErrorString(qxGetTempDirectory()); // the report names where it could not write
        return ERR_WRITEFILE;
    }
    lua_pushstring(L, buffer);
    return 1;
}

int qxCmdGetEnv(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const char *name = luaL_checkstring(L, 1);
    char *value = qxGetEnv(name);
    if (!value && std::getenv(name)) return ERR_MEM; // set, but no memory for the copy
    lua_pushstring(L, value ? value : "");
    lua_pushnumber(L, value ? 1 : 0);
    qxFree(value);
    return 2;
}

int qxCmdSetEnv(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    return qxSetEnv(luaL_checkstring(L, 1), luaL_checkstring(L, 2));
}

int qxCmdUnsetEnv(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    return qxUnsetEnv(luaL_checkstring(L, 1));
}

int qxCmdDefineVirtualFile(lua_State *L)
{
    qxCheckArgCount(L, 4, 4, 0, 0);
    std::string file = qxGetFileNameArg(L, 1, 0, nullptr);
    int64_t offset = 0, size = 0;
    if (!integerArg(L, 2, 0, UINT32_MAX, &offset) || !integerArg(L, 3, 0, UINT32_MAX, &size)) return ERR_WRONGUSAGE;
    const char *name = luaL_checkstring(L, 4);
    if (size == 0 || file.empty()) return ERR_WRONGUSAGE;
    std::string container = file;
    if (qxIsChunkName(file.c_str())) {
        uint32_t chunkOffset = 0, chunkSize = 0;
        char inner[QX_CHUNKNAME_MAX], from[QX_CHUNKNAME_MAX];
        qxMemRecord *block = nullptr;
        if (std::strncmp(file.c_str(), ":::chunkS", 9) == 0 ||
            !qxParseChunkName(file.c_str(), &chunkOffset, &chunkSize, inner, sizeof inner, from, sizeof from, nullptr,
                              0, &block))
            return ERR_WRONGUSAGE;
        if (offset + size > chunkSize) return ERR_WRONGUSAGE;
        offset += chunkOffset;
        container = from;
    }
    if (offset > UINT32_MAX) return ERR_WRONGUSAGE;
    char out[QX_CHUNKNAME_MAX];
    if (!qxMakeChunkName(name, out, sizeof out, offset, static_cast<uint32_t>(size), 0, container.c_str()))
        return ERR_MEM;
    lua_pushstring(L, out);
    return 1;
}

int qxCmdDefineVirtualFileFromString(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    size_t length = 0;
    const char *data = luaL_checklstring(L, 1, &length);
    size_t nameLength = 0;
    const char *name = luaL_checklstring(L, 2, &nameLength);
    int writable = luaL_optint(L, 3, 0);
    if (!nameLength) return ERR_WRONGUSAGE;
    freeUnused(L);
    size_t bytes;
    if (!qxAddSize(sizeof(qxVirtualStringFile), nameLength + 1, &bytes)) return ERR_MEM;
    auto *v = static_cast<qxVirtualStringFile *>(qxAlloc(bytes, 1));
    if (!v) return ERR_MEM;
    v->name = reinterpret_cast<char *>(v + 1);
    std::memcpy(v->name, name, nameLength);
    v->memory.name = v->name;
    v->stringRef = v->recordRef = -1;
    v->writable = writable;
    v->serial = nextSerial++;
    // Parked until it is complete: a memory error raised by a registry
    // reference below leaves it where the next clean-up frees it.
    v->next = vfUndefined;
    vfUndefined = v;
    auto unpark = [&] {
        for (qxVirtualStringFile **link = &vfUndefined; *link; link = &(*link)->next)
            if (*link == v) {
                *link = v->next;
                break;
            }
        v->next = nullptr;
    };
    if (writable) {
        size_t capacity = length ? length : kEmptyWritable;
        v->memory.data = qxAlloc(capacity, 1);
        if (!v->memory.data) {
            unpark();
            freeRecord(L, v);
            return ERR_MEM;
        }
        std::memcpy(v->memory.data, data, length);
        v->memory.capacity = static_cast<int64_t>(capacity);
        v->memory.writable = 1;
    } else {
        lua_pushvalue(L, 1);
        v->stringRef = luaL_ref(L, LUA_REGISTRYINDEX);
        v->memory.data = const_cast<char *>(data);
        v->memory.capacity = static_cast<int64_t>(length);
    }
    v->memory.size = static_cast<int64_t>(length);
    lua_pushlightuserdata(L, v);
    v->recordRef = luaL_ref(L, LUA_REGISTRYINDEX);
    char out[QX_CHUNKNAME_MAX];
    if (length > UINT32_MAX ||
        !qxMakeChunkName(v->name, out, sizeof out, -1, uint32_t(v->serial), v->recordRef, "unused")) {
        unpark();
        freeRecord(L, v);
        return ERR_MEM;
    }
    unpark();
    qxVirtualStringFile **link = &vfHead;
    while (*link) link = &(*link)->next;
    *link = v;
    lua_pushstring(L, out);
    return 1;
}

int qxCmdUndefineVirtualStringFile(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    // Only a reference that still names a listed record is released: a
    // stale one may belong to another value by now.
    qxVirtualStringFile *v = qxVirtualFileOfName(luaL_checkstring(L, 1));
    if (!v) return ERR_WRONGUSAGE;
    for (qxVirtualStringFile **link = &vfHead; *link; link = &(*link)->next)
        if (*link == v) {
            *link = v->next;
            break;
        }
    if (v->recordRef >= 0) luaL_unref(L, LUA_REGISTRYINDEX, v->recordRef);
    v->recordRef = -1;
    v->next = vfUndefined;
    vfUndefined = v;
    freeUnused(L);
    return 0;
}
