// Open-file objects: opening, closing, positions, attributes, the global
// switches, line iteration and whole-file conversions.
#include "libs/qx_dos.h"
#include "platform/qx_locale.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "core/commands/qx_args.h"
#include "core/files/qx_chunkname.h"
#include "core/errors/qx_errors.h"
#include "core/errors/qx_messages.h"
#include "libs/qx_dosfs.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "platform/qx_memory.h"

int qxDosCarriageReturn = 0;
int qxDosIOMode = 0;

namespace {

// Oldest file first; OpenFile appends at the tail.
qxDosFile *fileList = nullptr;
bool listRegistered = false;

constexpr int kLinePiece = 1024;
constexpr int64_t kWholePiece = 16384;

void unlinkFile(qxDosFile *file)
{
    qxObjectHeader **link = reinterpret_cast<qxObjectHeader **>(&fileList);
    while (*link) {
        if (*link == &file->header) {
            *link = file->header.next;
            return;
        }
        link = &(*link)->next;
    }
}

void appendFile(qxDosFile *file)
{
    qxObjectHeader **link = reinterpret_cast<qxObjectHeader **>(&fileList);
    while (*link) link = &(*link)->next;
    *link = &file->header;
}

// The handle a FileLines iterator owns, with its own read-ahead: nobody
// else sees the handle's position.
struct LinesState {
    qxFileHandle *handle;
    size_t start, end;
    char buffer[16384];
};

// Next byte of the iterator's file, -1 at the end.
int linesByte(LinesState *state)
{
    if (state->start == state->end) {
        int64_t got = qxRead(state->handle, state->buffer, sizeof state->buffer);
        if (got <= 0) return -1;
        state->start = 0;
        state->end = static_cast<size_t>(got);
    }
    return static_cast<unsigned char>(state->buffer[state->start++]);
}

bool linesAtEnd(LinesState *state) { return state->start == state->end && qxEOF(state->handle); }

int fileUserdataGc(lua_State *L)
{
    auto *state = static_cast<LinesState *>(lua_touserdata(L, 1));
    if (state && state->handle) {
        qxClose(state->handle);
        state->handle = nullptr;
    }
    return 0;
}

int dirUserdataGc(lua_State *L)
{
    auto *state = static_cast<qxDirItemsState *>(lua_touserdata(L, 1));
    if (state && state->handle) {
        qxCloseDir(state->handle);
        state->handle = nullptr;
        state->scan = nullptr;
    }
    return 0;
}

void newMetatable(lua_State *L, const char *name, lua_CFunction gc)
{
    luaL_newmetatable(L, name);
    luaL_getmetatable(L, name);
    int mt = lua_gettop(L);
    lua_pushstring(L, "__index");
    lua_pushvalue(L, mt);
    lua_rawset(L, mt);
    lua_pushstring(L, "__gc");
    lua_pushcfunction(L, gc);
    lua_rawset(L, mt);
    lua_settop(L, mt - 1);
}

int linesIterator(lua_State *L)
{
    auto *state = static_cast<LinesState *>(lua_touserdata(L, lua_upvalueindex(1)));
    if (!state || !state->handle) return 0; // called again after the end
    if (linesAtEnd(state)) {
        qxClose(state->handle);
        state->handle = nullptr;
        return 0;
    }
    char piece[kLinePiece];
    size_t stored = 0;
    int counted = 0;
    while (counted < kLinePiece) {
        // Whole runs up to a line end go at once.
        if (state->start < state->end) {
            const char *from = state->buffer + state->start;
            size_t room = static_cast<size_t>(kLinePiece - counted), avail = state->end - state->start;
            size_t scan = avail < room ? avail : room;
            const void *lf = std::memchr(from, '\n', scan);
            size_t run = lf ? static_cast<size_t>(static_cast<const char *>(lf) - from) : scan;
            std::memcpy(piece + stored, from, run);
            stored += qxDropCarriageReturns(piece + stored, run);
            counted += static_cast<int>(run);
            state->start += run;
            if (lf) {
                state->start++;
                break;
            }
            if (linesAtEnd(state)) break;
            continue;
        }
        int c = linesByte(state);
        if (c == '\n' || c < 0) break;
        counted++;
        if (c != '\r') piece[stored++] = static_cast<char>(c);
        if (linesAtEnd(state)) break;
    }
    size_t length = strnlen(piece, stored);
    lua_pushlstring(L, piece, length);
    return 1;
}

} // namespace

extern "C" {

int qxFindFile(qxObjectRef ref, qxDosFile **file)
{
    for (qxObjectHeader *h = reinterpret_cast<qxObjectHeader *>(fileList); h; h = h->next) {
        if (ref.automatic ? h->automatic == ref.automatic : (!h->automatic && h->id == ref.number)) {
            *file = reinterpret_cast<qxDosFile *>(h);
            return 0;
        }
    }
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(static_cast<int>(ref.number));
    return ERR_FINDFILE;
}

void qxFreeDosObject(lua_State *L, qxDosFile *file)
{
    if (!file) return;
    if (file->handle) qxClose(file->handle);
    if (L) qxFreeRefList(L, &file->header.data);
    qxFree(file);
}

int qxDosFileArg(lua_State *L, int idx, int need, qxDosFile **out)
{
    qxDosFile *file = nullptr;
    if (int r = qxFindFile(qxGetObjectIDArg(L, idx), &file)) return r;
    if (need == 1 && file->access == QX_ACCESS_WRITE) return ERR_WRITEONLY;
    if (need == 2 && file->access == QX_ACCESS_READ) return ERR_READONLY;
    if (out) *out = file;
    return 0;
}

void qxPushFileAttrTable(lua_State *L, const qxFileInfo *info)
{
    lua_newtable(L);
    qxSetFieldInt(L, "type", info->isDirectory ? 1 : 0);
    if (!info->isDirectory) qxSetFieldNum(L, "size", static_cast<double>(info->size));
    qxSetFieldUInt(L, "flags", info->protection);
    char date[64];
    qxFormatFileDate(info->modifyTime, date, sizeof date);
    qxSetFieldStr(L, "time", date);
    qxFormatFileDate(info->accessTime, date, sizeof date);
    qxSetFieldStr(L, "lastaccesstime", date);
}

void qxDosCreateMetatables(lua_State *L)
{
    newMetatable(L, "FILE*", fileUserdataGc);
    newMetatable(L, "DIR*", dirUserdataGc);
    if (!listRegistered && qxRegisterObjectList(&fileList, QX_TYPE_FILE) == 0) listRegistered = true;
}

void qxDosCloseFiles(lua_State *L)
{
    while (fileList) {
        qxDosFile *file = fileList;
        fileList = reinterpret_cast<qxDosFile *>(file->header.next);
        qxFreeDosObject(L, file);
    }
}

} // extern "C"

int qxCmdOpenFile(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    int mode = luaL_optint(L, 3, QX_MODE_READ);
    uint32_t access;
    const char *name;
    if (mode == QX_MODE_READ) {
        access = QX_ACCESS_READ;
        name = qxGetFileNameArg(L, 2, 0, nullptr);
    } else if (mode == QX_MODE_WRITE || mode == QX_MODE_READWRITE) {
        access = mode == QX_MODE_WRITE ? QX_ACCESS_WRITE : QX_ACCESS_READWRITE;
        name = luaL_checkstring(L, 2);
    } else {
        return ERR_WRONGUSAGE;
    }
    if (!name || !*name) return ERR_WRONGUSAGE;
    std::string nameCopy(name); // the resolution's buffer is shared
    char adapter[257] = "";
    bool haveAdapter = false;
    if (lua_gettop(L) >= 4 && lua_type(L, 4) != LUA_TNIL) {
        luaL_checktable(L, 4);
        int found = 0;
        qxGetFieldStr(L, 4, "adapter", adapter, sizeof adapter, &found);
        haveAdapter = found != 0;
    }
    if (!automatic) {
        qxDosFile *old = nullptr;
        if (qxFindFile({number, nullptr}, &old) == 0) {
            unlinkFile(old);
            qxFreeDosObject(L, old);
        }
    }
    qxDebugPrintLine(qxGetErrorText(QX_MSG_OPENINGFILE), nameCopy.c_str(), 1);
    qxFileHandle *h = qxOpen(nameCopy.c_str(), access | QX_OPEN_ADAPTERS, haveAdapter ? adapter : nullptr);
    if (!h) {
        qxPrintFailed();
        qxSetErrorString(nameCopy.c_str());
        return access == QX_ACCESS_READ ? ERR_READFILE : ERR_WRITEFILE;
    }
    auto *file = static_cast<qxDosFile *>(qxAlloc(sizeof(qxDosFile), 1));
    if (!file) {
        qxClose(h);
        return ERR_MEM;
    }
    file->header.type = QX_TYPE_FILE;
    file->header.id = automatic ? 0 : number;
    file->header.automatic = automatic ? file : nullptr;
    file->mode = static_cast<uint32_t>(mode);
    file->access = access;
    file->handle = h;
    appendFile(file);
    qxPrintDone();
    if (!automatic) return 0;
    lua_pushlightuserdata(L, file);
    return 1;
}

int qxCmdCloseFile(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 0, &file)) return r;
    unlinkFile(file);
    qxFreeDosObject(L, file);
    qxDosFreeUnusedVirtualFiles(L);
    return 0;
}

int qxCmdFlushFile(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 0, &file)) return r;
    qxFlush(file->handle);
    return 0;
}

int qxCmdFilePos(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 0, &file)) return r;
    lua_pushnumber(L, static_cast<double>(qxSeek(file->handle, 0, 0)));
    return 1;
}

int qxCmdFileLength(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 0, &file)) return r;
    lua_pushnumber(L, static_cast<double>(qxFileSize(file->handle)));
    return 1;
}

int qxCmdEof(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 0, &file)) return r;
    lua_pushnumber(L, qxEOF(file->handle) ? 1 : 0);
    return 1;
}

int qxCmdSeek(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 0, &file)) return r;
    double position = luaL_checknumber(L, 2);
    int mode = luaL_optint(L, 3, 1);
    if (!(position > -9.2e18 && position < 9.2e18)) return ERR_SEEKFILE;
    int64_t offset = static_cast<int64_t>(position);
    if (offset == -1 && mode == 1) {
        offset = 0;
        mode = 2;
    }
    if (qxSeek(file->handle, offset, mode) == -1) return ERR_SEEKFILE;
    return 0;
}

int qxCmdFileAttributes(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 0, &file)) return r;
    qxFileInfo info{};
    if (!qxExamineFH(file->handle, &info)) return ERR_STAT;
    qxPushFileAttrTable(L, &info);
    qxSetFieldStr(L, "path", info.path ? info.path : "");
    uint32_t flags = qxGetOpenFlags(file->handle);
    qxSetFieldInt(L, "streaming", (flags & 1) ? 1 : 0);
    qxSetFieldInt(L, "noseek", (flags & 2) ? 1 : 0);
    return 1;
}

int qxCmdUseCarriageReturn(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDosCarriageReturn = lua_toboolean(L, 1) && !(lua_type(L, 1) == LUA_TNUMBER && lua_tonumber(L, 1) == 0);
    return 0;
}

int qxCmdSetIOMode(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    int mode = luaL_checkint(L, 1);
    if (mode > 1) return ERR_WRONGUSAGE;
    qxDosIOMode = mode;
    return 0;
}

int qxCmdFileLines(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    std::string name = qxGetFileNameArg(L, 1, 0, nullptr);
    auto *state = static_cast<LinesState *>(lua_newuserdata(L, sizeof(LinesState)));
    state->handle = nullptr;
    state->start = state->end = 0;
    int ud = lua_gettop(L);
    state->handle = qxOpen(name.c_str(), QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr);
    if (!state->handle) {
        qxSetErrorString(name.c_str());
        return ERR_READFILE;
    }
    luaL_getmetatable(L, "FILE*");
    lua_setmetatable(L, ud);
    lua_pushcclosure(L, linesIterator, 1);
    return 1;
}

int qxCmdFileToString(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    std::string name = qxGetFileNameArg(L, 1, 0, nullptr);
    qxFileHandle *h = qxOpen(name.c_str(), QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr);
    if (!h) {
        qxSetErrorString(name.c_str());
        return ERR_READFILE;
    }
    std::string data;
    int64_t got;
    try {
        do {
            size_t old = data.size();
            data.resize(old + kWholePiece);
            got = qxRead(h, data.data() + old, kWholePiece);
            data.resize(old + static_cast<size_t>(got > 0 ? got : 0));
        } while (got == kWholePiece);
    } catch (const std::bad_alloc &) {
        qxClose(h);
        return ERR_MEM;
    }
    qxClose(h);
    lua_pushlstring(L, data.data(), data.size());
    lua_pushnumber(L, static_cast<double>(data.size()));
    return 2;
}

int qxCmdStringToFile(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    size_t length;
    const char *text = luaL_checklstring(L, 1, &length);
    const char *name = luaL_checkstring(L, 2);
    qxFileHandle *h = qxOpen(name, QX_OPEN_WRITE | QX_OPEN_ADAPTERS, nullptr);
    if (!h) {
        qxSetErrorString(name);
        return ERR_WRITEFILE;
    }
    int64_t n = static_cast<int64_t>(length);
    bool ok = n == 0 || qxWrite(h, text, n) == n;
    // A failing close loses buffered data just as a short write does.
    if (!qxClose(h)) ok = false;
    return ok ? 0 : ERR_WRITE;
}

int qxCmdGetAsset(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    luaL_checkstring(L, 1);
    lua_pushvalue(L, 1);
    return 1;
}
