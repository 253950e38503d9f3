// The "memblock" command library: raw byte buffers as numbered objects,
// typed reads and writes, fills, copies, transfers to and from open files
// and arrays of numbers. A block may borrow a script's pointer or the data
// of a virtual string file, which it reaches through the file's record at
// every access.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "display/qx_displaylibs.h"
#include "libs/qx_corelibs.h"
#include "libs/qx_dos.h"
#include "libs/qx_dosfs.h"
#include "platform/qx_memory.h"

constexpr uint32_t QX_TYPE_MEMORY = 39;

struct qxMemBlock {
    qxObjectHeader header; // type 39, number, automatic identifier, next, attached data
    uint32_t size;         // 0: unknown (a borrowed pointer given without one)
    uint8_t *data;
    uint32_t borrowed;
    uint64_t virtualFile; // serial of the virtual string file it borrows, 0 for none
};

namespace {

qxMemBlock *blocks = nullptr;
bool registered = false;

enum : int { T_INTEGER = 1, T_STRING = 3, T_SHORT = 6, T_BYTE = 7, T_FLOAT = 11, T_DOUBLE = 12 };
enum : int { ORDER_BIG = 0, ORDER_NATIVE = 1, ORDER_LITTLE = 2 };

int widthOf(int type)
{
    switch (type) {
    case T_INTEGER: case T_FLOAT: return 4;
    case T_SHORT: return 2;
    case T_BYTE: return 1;
    case T_DOUBLE: return 8;
    default: return 0;
    }
}

// What a command sees of a block at this moment.
struct View {
    uint8_t *p;
    uint64_t size;
    bool known;
    bool writable;
    // offset + length inside the block (always, when the size is unknown).
    bool fits(int64_t offset, int64_t length) const
    {
        if (offset < 0 || length < 0) return false;
        return !known || static_cast<uint64_t>(offset) + static_cast<uint64_t>(length) <= size;
    }
};

int findBlock(qxObjectRef ref, qxMemBlock **out)
{
    for (qxObjectHeader *h = reinterpret_cast<qxObjectHeader *>(blocks); h; h = h->next)
        if (ref.automatic ? h->automatic == ref.automatic : (!h->automatic && h->id == ref.number)) {
            *out = reinterpret_cast<qxMemBlock *>(h);
            return 0;
        }
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(static_cast<int>(ref.number));
    return ERR_FINDMEMBLK;
}

// The block named by argument idx; a missing one is the command's failure,
// returned rather than raised so that status calls see it.
int blockArg(lua_State *L, int idx, qxMemBlock **out)
{
    return findBlock(qxGetObjectIDArg(L, idx), out);
}

// The block's bytes now; a virtual file that is gone gives 1146.
int viewOf(qxMemBlock *b, View *out)
{
    if (b->virtualFile) {
        qxVirtualStringFile *v = qxVirtualFileBySerial(b->virtualFile);
        if (!v) return ERR_MEMRANGE;
        *out = View{static_cast<uint8_t *>(v->memory.data), static_cast<uint64_t>(v->memory.size), true,
                    v->writable != 0};
        return 0;
    }
    *out = View{b->data, b->size, b->size != 0, true};
    return 0;
}

int writableView(qxMemBlock *b, View *out)
{
    if (int r = viewOf(b, out)) return r;
    return out->writable ? 0 : ERR_WRONGUSAGE; // a script string is shared
}

// The bytes of the block named by argument idx.
int blockViewArg(lua_State *L, int idx, View *out)
{
    qxMemBlock *b = nullptr;
    if (int r = blockArg(L, idx, &b)) return r;
    return viewOf(b, out);
}

// Integer arguments: NaN and values beyond 2^53 are refused before conversion.
int64_t intArg(lua_State *L, int idx)
{
    double v = luaL_checknumber(L, idx);
    if (!(std::fabs(v) <= 9007199254740992.0)) luaG_raisecode(L, ERR_WRONGUSAGE);
    return static_cast<int64_t>(v);
}

int64_t optIntArg(lua_State *L, int idx, int64_t def)
{
    return lua_gettop(L) >= idx && !lua_isnil(L, idx) ? intArg(L, idx) : def;
}

// A number as the low 32 bits of its integer part (NaN and huge values: 0).
uint32_t low32(double v)
{
    if (!(std::fabs(v) < 9.2e18)) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(v)));
}

bool hostLittle()
{
    uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// Copies width bytes, reversing them when swap is set.
void moveBytes(uint8_t *to, const uint8_t *from, int width, bool swap)
{
    for (int i = 0; i < width; i++) to[i] = from[swap ? width - 1 - i : i];
}

bool swapFor(int order)
{
    bool little = hostLittle();
    if (order == ORDER_NATIVE) return false;
    if (order == ORDER_LITTLE) return !little;
    return little;
}

void store(uint8_t *at, int type, double value, bool swap)
{
    uint8_t raw[8];
    int width = widthOf(type);
    if (type == T_FLOAT) {
        float f = static_cast<float>(value);
        std::memcpy(raw, &f, 4);
    } else if (type == T_DOUBLE) {
        std::memcpy(raw, &value, 8);
    } else {
        uint32_t u = low32(value);
        if (type == T_SHORT) {
            uint16_t s = static_cast<uint16_t>(u);
            std::memcpy(raw, &s, 2);
        } else if (type == T_BYTE) {
            raw[0] = static_cast<uint8_t>(u);
        } else {
            std::memcpy(raw, &u, 4);
        }
    }
    moveBytes(at, raw, width, swap);
}

double load(const uint8_t *at, int type, bool swap, bool isSigned)
{
    uint8_t raw[8];
    moveBytes(raw, at, widthOf(type), swap);
    switch (type) {
    case T_FLOAT: {
        float f;
        std::memcpy(&f, raw, 4);
        return f;
    }
    case T_DOUBLE: {
        double d;
        std::memcpy(&d, raw, 8);
        return d;
    }
    case T_SHORT: {
        uint16_t s;
        std::memcpy(&s, raw, 2);
        return isSigned ? static_cast<int16_t>(s) : s;
    }
    case T_BYTE: return isSigned ? static_cast<int8_t>(raw[0]) : raw[0];
    default: {
        uint32_t u;
        std::memcpy(&u, raw, 4);
        return u;
    }
    }
}

void unlinkBlock(qxMemBlock *b)
{
    for (qxObjectHeader **link = reinterpret_cast<qxObjectHeader **>(&blocks); *link; link = &(*link)->next)
        if (*link == &b->header) {
            *link = b->header.next;
            return;
        }
}

void freeBlock(lua_State *L, qxMemBlock *b)
{
    if (!b->borrowed) qxFree(b->data);
    if (L) qxFreeRefList(L, &b->header.data);
    qxFree(b);
}

// Makes a block for argument 1's identifier; pushes the automatic one.
int addBlock(lua_State *L, qxMemBlock *b)
{
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    if (!automatic) {
        qxMemBlock *old = nullptr;
        if (findBlock(qxObjectRef{number, nullptr}, &old) == 0) {
            unlinkBlock(old);
            freeBlock(L, old);
        }
        qxSetErrorNumber(0);
    }
    b->header.type = QX_TYPE_MEMORY;
    if (automatic) b->header.automatic = b;
    else b->header.id = number;
    qxObjectHeader **link = reinterpret_cast<qxObjectHeader **>(&blocks);
    while (*link) link = &(*link)->next;
    *link = &b->header;
    if (!automatic) return 0;
    lua_pushlightuserdata(L, b);
    return 1;
}

qxMemBlock *newBlock()
{
    return static_cast<qxMemBlock *>(qxAlloc(sizeof(qxMemBlock), 1));
}

int cmdAllocMem(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    int64_t size = intArg(L, 2);
    // Size 0 would make a block without bounds checks.
    if (size < 1 || size > INT32_MAX) return ERR_WRONGUSAGE;
    qxMemBlock *b = newBlock();
    if (!b) return ERR_MEM;
    b->data = static_cast<uint8_t *>(qxAlloc(static_cast<size_t>(size), 0));
    if (!b->data) {
        qxFree(b);
        return ERR_MEM;
    }
    b->size = static_cast<uint32_t>(size);
    return addBlock(L, b);
}

int cmdAllocMemFromPointer(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    if (!lua_isuserdata(L, 2)) {
        qxSetErrorNumber(2);
        return ERR_UDEXPECTED;
    }
    int64_t size = intArg(L, 3);
    if (size < 0 || size > UINT32_MAX) return ERR_WRONGUSAGE;
    qxMemBlock *b = newBlock();
    if (!b) return ERR_MEM;
    b->data = static_cast<uint8_t *>(lua_touserdata(L, 2));
    b->size = static_cast<uint32_t>(size);
    b->borrowed = 1;
    return addBlock(L, b);
}

int cmdAllocMemFromVirtualFile(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxVirtualStringFile *v = qxVirtualFileOfName(luaL_checkstring(L, 2));
    if (!v) return ERR_WRONGUSAGE;
    qxMemBlock *b = newBlock();
    if (!b) return ERR_MEM;
    b->borrowed = 1;
    b->virtualFile = v->serial;
    return addBlock(L, b);
}

int cmdFreeMem(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxMemBlock *b = nullptr;
    if (int r = blockArg(L, 1, &b)) return r;
    unlinkBlock(b);
    freeBlock(L, b);
    return 0;
}

int cmdGetMemPointer(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    View v;
    if (int r = blockViewArg(L, 1, &v)) return r;
    int64_t offset = optIntArg(L, 2, 0);
    if (offset < 0 || (v.known && static_cast<uint64_t>(offset) >= v.size)) return ERR_WRONGUSAGE;
    lua_pushlightuserdata(L, v.p + offset);
    return 1;
}

int cmdGetMemString(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    View v;
    if (int r = blockViewArg(L, 1, &v)) return r;
    int64_t offset = optIntArg(L, 2, 0), length = optIntArg(L, 3, 0);
    if (offset < 0 || length < 0) return ERR_WRONGUSAGE;
    if (v.known) {
        if (static_cast<uint64_t>(offset) >= v.size) return ERR_WRONGUSAGE;
        if (length == 0) length = static_cast<int64_t>(v.size) - offset;
        if (!v.fits(offset, length)) return ERR_WRONGUSAGE;
    } else if (length == 0) {
        return ERR_WRONGUSAGE;
    }
    lua_pushlstring(L, reinterpret_cast<const char *>(v.p + offset), static_cast<size_t>(length));
    return 1;
}

bool textByte(uint8_t c) { return (c >= 32 && c < 127) || c == 9 || c == 10 || c == 13; }

int cmdPeek(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    View v;
    if (int r = blockViewArg(L, 1, &v)) return r;
    int64_t offset = intArg(L, 2);
    int type = static_cast<int>(optIntArg(L, 3, T_INTEGER));
    int64_t fourth = optIntArg(L, 4, 0);
    if (offset < 0) return ERR_MEMRANGE;
    if (type == T_STRING) {
        if (fourth < 0) return ERR_WRONGUSAGE;
        if (fourth > 0) {
            if (!v.fits(offset, fourth)) return ERR_MEMRANGE;
            lua_pushlstring(L, reinterpret_cast<const char *>(v.p + offset), static_cast<size_t>(fourth));
            return 1;
        }
        if (v.known && static_cast<uint64_t>(offset) >= v.size) return ERR_MEMRANGE;
        size_t n = 0;
        while ((!v.known || static_cast<uint64_t>(offset) + n < v.size) && textByte(v.p[offset + n])) n++;
        lua_pushlstring(L, reinterpret_cast<const char *>(v.p + offset), n);
        return 1;
    }
    int width = widthOf(type);
    if (!width) return ERR_WRONGUSAGE;
    if (!v.fits(offset, width)) return ERR_MEMRANGE;
    lua_pushnumber(L, load(v.p + offset, type, swapFor(static_cast<int>(fourth)), false));
    return 1;
}

int cmdPoke(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    qxMemBlock *b = nullptr;
    if (int r = blockArg(L, 1, &b)) return r;
    int64_t offset = intArg(L, 2);
    int type = static_cast<int>(optIntArg(L, 4, T_INTEGER));
    int order = static_cast<int>(optIntArg(L, 5, 0));
    if (offset < 0) return ERR_MEMRANGE;
    View v;
    if (int r = writableView(b, &v)) return r;
    if (type == T_STRING) {
        size_t length = 0;
        const char *s = luaL_checklstring(L, 3, &length);
        if (!v.fits(offset, static_cast<int64_t>(length) + 1)) return ERR_MEMRANGE;
        std::memcpy(v.p + offset, s, length);
        v.p[offset + static_cast<int64_t>(length)] = 0;
        return 0;
    }
    int width = widthOf(type);
    if (!width) return ERR_WRONGUSAGE;
    double value = luaL_checknumber(L, 3);
    if (!v.fits(offset, width)) return ERR_MEMRANGE;
    store(v.p + offset, type, value, swapFor(order));
    return 0;
}

int cmdFillMem(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    qxMemBlock *b = nullptr;
    if (int r = blockArg(L, 1, &b)) return r;
    double value = luaL_checknumber(L, 2);
    int64_t length = intArg(L, 3), offset = optIntArg(L, 4, 0);
    int type = static_cast<int>(optIntArg(L, 5, T_BYTE));
    if (length < 1) return 0;
    if (offset < 0) return ERR_MEMRANGE;
    View v;
    if (int r = writableView(b, &v)) return r;
    if (!v.fits(offset, length)) return ERR_MEMRANGE;
    int width = type == T_BYTE ? 1 : type == T_SHORT ? 2 : type == T_INTEGER ? 4 : 0;
    if (!width || length % width || offset % width) return ERR_WRONGUSAGE;
    if (width == 1) {
        std::memset(v.p + offset, static_cast<uint8_t>(low32(value)), static_cast<size_t>(length));
        return 0;
    }
    uint8_t item[4];
    store(item, type, value, swapFor(ORDER_BIG));
    for (int64_t i = 0; i < length; i += width) std::memcpy(v.p + offset + i, item, static_cast<size_t>(width));
    return 0;
}

int cmdCopyMem(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    qxMemBlock *from = nullptr, *to = nullptr;
    if (int r = blockArg(L, 1, &from)) return r;
    if (int r = blockArg(L, 2, &to)) return r;
    int64_t length = intArg(L, 3), fromOffset = optIntArg(L, 4, 0), toOffset = optIntArg(L, 5, 0);
    if (length < 1) return 0;
    if (fromOffset < 0 || toOffset < 0) return ERR_MEMRANGE;
    if (from == to) return ERR_WRONGUSAGE;
    View src, dst;
    if (int r = viewOf(from, &src)) return r;
    if (int r = writableView(to, &dst)) return r;
    if (!src.fits(fromOffset, length) || !dst.fits(toOffset, length)) return ERR_MEMRANGE;
    std::memmove(dst.p + toOffset, src.p + fromOffset, static_cast<size_t>(length));
    return 0;
}

// ReadMem (read true) and WriteMem.
int transfer(lua_State *L, bool read)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, read ? 1 : 2, &file)) return r;
    qxMemBlock *b = nullptr;
    if (int r = blockArg(L, 2, &b)) return r;
    int64_t length = intArg(L, 3), offset = optIntArg(L, 4, 0);
    if (length < 1) return 0;
    if (offset < 0) return ERR_WRONGUSAGE;
    View v;
    if (int r = read ? writableView(b, &v) : viewOf(b, &v)) return r;
    if (!v.fits(offset, length)) return ERR_MEMRANGE;
    int64_t done = read ? qxRead(file->handle, v.p + offset, length) : qxWrite(file->handle, v.p + offset, length);
    if (done != length) return read ? ERR_READ : ERR_WRITE;
    return 0;
}

int cmdReadMem(lua_State *L) { return transfer(L, true); }
int cmdWriteMem(lua_State *L) { return transfer(L, false); }

int cmdTableToMem(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    luaL_checktable(L, 1);
    qxMemBlock *b = nullptr;
    if (int r = blockArg(L, 2, &b)) return r;
    int type = static_cast<int>(intArg(L, 3));
    double offsetNum = 0;
    int endianSwitch = 0;
    if (lua_gettop(L) >= 4 && !lua_isnil(L, 4)) {
        luaL_checktable(L, 4);
        qxGetFieldNum(L, 4, "offset", &offsetNum, nullptr);
        qxGetFieldInt(L, 4, "endianswitch", &endianSwitch, nullptr);
    }
    if (!(offsetNum >= 0 && offsetNum <= 9007199254740992.0)) return ERR_WRONGUSAGE;
    int64_t offset = static_cast<int64_t>(offsetNum);
    int width = widthOf(type);
    if (!width) return ERR_WRONGUSAGE;
    View v;
    if (int r = writableView(b, &v)) return r;
    if (v.known && static_cast<uint64_t>(offset) > v.size) return ERR_MEMRANGE;
    for (int64_t i = 0;; i++) {
        lua_rawgeti(L, 1, static_cast<int>(i));
        if (lua_isnil(L, -1)) break;
        double value = lua_tonumber(L, -1);
        lua_pop(L, 1);
        int64_t at = offset + i * width;
        if (!v.known || !v.fits(at, width)) return ERR_MEMRANGE;
        store(v.p + at, type, value, endianSwitch != 0);
        if (i >= INT32_MAX) break;
    }
    return 0;
}

int cmdMemToTable(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    View v;
    if (int r = blockViewArg(L, 1, &v)) return r;
    int type = static_cast<int>(intArg(L, 2));
    double itemsNum = 0, offsetNum = 0;
    int endianSwitch = 0, isSigned = 0;
    if (lua_gettop(L) >= 3 && !lua_isnil(L, 3)) {
        luaL_checktable(L, 3);
        qxGetFieldNum(L, 3, "items", &itemsNum, nullptr);
        qxGetFieldNum(L, 3, "offset", &offsetNum, nullptr);
        qxGetFieldInt(L, 3, "endianswitch", &endianSwitch, nullptr);
        qxGetFieldInt(L, 3, "signed", &isSigned, nullptr);
    }
    if (!(offsetNum >= 0 && offsetNum <= 9007199254740992.0)) return ERR_WRONGUSAGE;
    if (!(itemsNum >= 0 && itemsNum <= INT32_MAX)) return ERR_WRONGUSAGE;
    int width = widthOf(type);
    if (!width) return ERR_WRONGUSAGE;
    int64_t offset = static_cast<int64_t>(offsetNum), items = static_cast<int64_t>(itemsNum);
    if (items == 0) items = v.known ? static_cast<int64_t>(v.size / static_cast<uint64_t>(width)) : 0;
    if (items == 0) return ERR_WRONGUSAGE;
    if (!v.fits(offset, items * width)) return ERR_MEMRANGE;
    lua_newtable(L);
    for (int64_t i = 0; i < items; i++) {
        lua_pushnumber(L, load(v.p + offset + i * width, type, endianSwitch != 0, isSigned != 0 && type != T_INTEGER));
        lua_rawseti(L, -2, static_cast<int>(i));
    }
    return 1;
}

int cmdDumpMem(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    View v;
    if (int r = blockViewArg(L, 1, &v)) return r;
    int64_t length = optIntArg(L, 2, 0), offset = optIntArg(L, 3, 0);
    if (offset < 0 || length < 0) return ERR_WRONGUSAGE;
    if (length == 0) {
        if (!v.known) return ERR_WRONGUSAGE;
        if (static_cast<uint64_t>(offset) > v.size) return ERR_MEMRANGE;
        length = static_cast<int64_t>(v.size) - offset;
    }
    if (!v.fits(offset, length)) return ERR_MEMRANGE;
    for (int64_t line = 0; line < length; line += 16) {
        std::string text;
        char cell[16];
        std::snprintf(cell, sizeof cell, "%.8x: ", static_cast<unsigned>(offset + line));
        text += cell;
        for (int i = 0; i < 16; i++) {
            if (line + i < length) {
                std::snprintf(cell, sizeof cell, "%.2x ", v.p[offset + line + i]);
                text += cell;
            } else {
                text += "   ";
            }
        }
        for (int i = 0; i < 16 && line + i < length; i++) {
            uint8_t c = v.p[offset + line + i];
            text += (c < 128 && (c == ' ' || std::isgraph(c))) ? static_cast<char>(c) : '.';
        }
        text += "\n";
        qxPrintF("%s", text.c_str());
    }
    return 0;
}

// GetAttribute: ATTRSIZE, the bytes a command may reach now (0: unknown).
int memoryAttribute(lua_State *L, void *object, int attribute)
{
    constexpr int kAttrSize = 57;
    if (attribute != kAttrSize) return -ERR_UNKNOWNATTR;
    View v;
    if (int r = viewOf(static_cast<qxMemBlock *>(object), &v)) return -r;
    lua_pushnumber(L, v.known ? static_cast<double>(v.size) : 0);
    return 1;
}

constexpr qxCommandDef memblockCommands[] = {
    {"AllocMem", cmdAllocMem},
    {"AllocMemFromPointer", cmdAllocMemFromPointer},
    {"AllocMemFromVirtualFile", cmdAllocMemFromVirtualFile},
    {"FreeMem", cmdFreeMem},
    {"GetMemPointer", cmdGetMemPointer},
    {"GetMemString", cmdGetMemString},
    {"Peek", cmdPeek},
    {"Poke", cmdPoke},
    {"FillMem", cmdFillMem},
    {"CopyMem", cmdCopyMem},
    {"ReadMem", cmdReadMem},
    {"WriteMem", cmdWriteMem},
    {"TableToMem", cmdTableToMem},
    {"MemToTable", cmdMemToTable},
    {"DumpMem", cmdDumpMem},
    {nullptr, nullptr},
};

constexpr qxConstantDef memblockConstants[] = {
    {"BIGENDIAN", nullptr, 0},
    {"NATIVEENDIAN", nullptr, 1},
    {"LITTLEENDIAN", nullptr, 2},
    {nullptr, nullptr, 0},
};

} // namespace

extern "C" int qxMemBlockRange(qxObjectRef ref, int64_t offset, int64_t length, const uint8_t **out)
{
    qxMemBlock *b = nullptr;
    if (int r = findBlock(ref, &b)) return r;
    View v;
    if (int r = viewOf(b, &v)) return r;
    if (!v.fits(offset, length)) return ERR_MEMRANGE;
    *out = v.p + offset;
    return 0;
}

extern "C" int qxOpenMemBlockLib(lua_State *L)
{
    if (!registered && qxRegisterObjectList(&blocks, QX_TYPE_MEMORY) == 0) registered = true;
    qxObjectAttributes[QX_TYPE_MEMORY] = memoryAttribute;
    return qxOpenCommandLibraryOf<memblockCommands, memblockConstants>(L, "memblock");
}

extern "C" void qxFreeAllMemBlocks(lua_State *L)
{
    while (blocks) {
        qxMemBlock *b = blocks;
        blocks = reinterpret_cast<qxMemBlock *>(b->header.next);
        freeBlock(L, b);
    }
}
