// Tables and functions in files: the entry stream "QXT0", function records
// "QXF0" and their Base64 forms "QXT1" and "QXF1".
#include "libs/qx_serialize.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/codecs/qx_base64.h"
#include "libs/qx_dos.h"

namespace {

enum : uint8_t { TAG_END = 0, TAG_NUMBER = 2, TAG_STRING = 3, TAG_TABLE = 4, TAG_FUNCTION = 5 };

constexpr size_t kDumpStep = 65536;

// Where a writer puts its bytes: a file, memory, or only a byte count.
struct Out {
    qxFileHandle *h;
    qxMemCursor *cursor;
    uint64_t *counter;

    int put(const void *p, size_t n, int raw = 1)
    {
        if (counter) {
            *counter += n;
            return 0;
        }
        return qxFileWriteBytes(h, p, raw, n, 0, cursor);
    }
    int tag(uint8_t t) { return put(&t, 1); }
    int number(double d) { return put(&d, 8, 0); }
    int u32(uint32_t v) { return put(&v, 4, 0); }
    int string(const char *s, size_t n)
    {
        if (n > UINT32_MAX) return ERR_WRONGUSAGE;
        if (int r = u32(static_cast<uint32_t>(n))) return r;
        return put(s, n);
    }
};

// Appends every dumped piece to a private buffer that grows in steps.
int dumpToBuffer(lua_State *, const void *p, size_t size, void *data)
{
    auto *buffer = static_cast<std::vector<uint8_t> *>(data);
    try {
        if (buffer->capacity() < buffer->size() + size)
            buffer->reserve((buffer->size() + size + kDumpStep - 1) / kDumpStep * kDumpStep);
        buffer->insert(buffer->end(), static_cast<const uint8_t *>(p), static_cast<const uint8_t *>(p) + size);
    } catch (const std::bad_alloc &) {
        return 1;
    }
    return 0;
}

struct FileDump {
    qxFileHandle *h;
    uint64_t written = 0;
    bool failed = false;
};

int dumpToFile(lua_State *, const void *p, size_t size, void *data)
{
    auto *d = static_cast<FileDump *>(data);
    if (d->failed) return 1;
    if (size && qxWrite(d->h, p, static_cast<int64_t>(size)) != static_cast<int64_t>(size)) {
        d->failed = true;
        return 1;
    }
    d->written += size;
    return 0;
}

// Writes value at the placeholder position and returns to end.
int patchAt(qxFileHandle *h, int64_t at, int64_t end, const void *value, size_t n)
{
    if (qxSeek(h, at, 1) == -1) return ERR_SEEKFILE;
    if (qxWrite(h, value, static_cast<int64_t>(n)) != static_cast<int64_t>(n)) return ERR_WRITE;
    if (qxSeek(h, end, 1) == -1) return ERR_SEEKFILE;
    return 0;
}

// Writes "%.8x" of count at the placeholder.
int patchCount(qxFileHandle *h, int64_t at, uint64_t count)
{
    if (count > UINT32_MAX) return ERR_WRONGUSAGE;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%.8x", static_cast<unsigned>(count));
    int64_t end = qxSeek(h, 0, 0);
    if (end < 0) return ERR_SEEKFILE;
    return patchAt(h, at, end, digits, 8);
}

// Base64 text of data into the file behind an 8-digit placeholder.
int writeEncoded(qxFileHandle *h, const void *data, size_t n, int noLineBreak)
{
    int64_t at = qxSeek(h, 0, 0);
    if (at < 0) return ERR_SEEKFILE;
    if (qxWrite(h, "00000000", 8) != 8) return ERR_WRITE;
    uint64_t chars = 0;
    if (int r = qxBase64Encode(h, nullptr, nullptr, data, n, &chars,
                                (noLineBreak ? QX_BASE64_NOBREAK : 0) | (qxDosCarriageReturn ? QX_BASE64_CRLF : 0))) return r;
    return patchCount(h, at, chars);
}

int readMagic(qxFileHandle *h, qxMemCursor *cursor, char magic[4])
{
    return qxFileReadBytes(h, magic, 1, 4, 0, cursor);
}

// The 8 hexadecimal digits of an encoded form.
int readCount(qxFileHandle *h, qxMemCursor *cursor, uint32_t *count)
{
    char digits[8];
    if (int r = qxFileReadBytes(h, digits, 1, 8, 0, cursor)) return r;
    uint32_t v = 0;
    for (char c : digits) {
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return ERR_FILEFORMAT;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    *count = v;
    return 0;
}

// Reads an encoded block: the count, the text, and its decoding.
int readEncoded(qxFileHandle *h, qxMemCursor *cursor, std::string &decoded)
{
    uint32_t n = 0;
    if (int r = readCount(h, cursor, &n)) return r;
    std::string text;
    if (int r = qxDosReadBlock(h, cursor, n, text)) return r;
    try {
        decoded.resize(text.size());
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    size_t length = 0;
    if (int r = qxBase64Decode(text.data(), reinterpret_cast<uint8_t *>(decoded.data()), nullptr, text.size(), &length))
        return r;
    decoded.resize(length);
    return 0;
}

int readString(lua_State *L, qxFileHandle *h, qxMemCursor *cursor)
{
    uint32_t n;
    if (int r = qxFileReadBytes(h, &n, 0, 4, 0, cursor)) return r;
    std::string s;
    if (int r = qxDosReadBlock(h, cursor, n, s)) return r;
    lua_pushlstring(L, s.data(), s.size());
    return 0;
}

int readNumber(lua_State *L, qxFileHandle *h, qxMemCursor *cursor, bool key)
{
    double d;
    if (int r = qxFileReadBytes(h, &d, 0, 8, 0, cursor)) return r;
    if (key && std::isnan(d)) return ERR_FILEFORMAT; // no table can hold it
    lua_pushnumber(L, d);
    return 0;
}

} // namespace

extern "C" int qxWriteFunctionData(lua_State *L, qxFileHandle *h, int idx, int encoded, int noLineBreak,
                                   qxMemCursor *cursor, uint64_t *counter)
{
    if (idx < 0 && idx > LUA_REGISTRYINDEX) idx = lua_gettop(L) + idx + 1;
    if (lua_type(L, idx) != LUA_TFUNCTION || lua_iscfunction(L, idx)) return ERR_NOQXFUNC;
    if (h && !cursor && !counter && !encoded) {
        int64_t at = qxSeek(h, 0, 0);
        if (at < 0) return ERR_SEEKFILE;
        if (qxWrite(h, "\0\0\0\0", 4) != 4) return ERR_WRITE;
        FileDump dump{h};
        int status = lua_dump(L, idx, dumpToFile, &dump);
        if (dump.failed) return ERR_WRITE;
        if (status) return status;
        if (dump.written > UINT32_MAX) return ERR_WRONGUSAGE;
        uint32_t length = static_cast<uint32_t>(dump.written);
        uint8_t be[4] = {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                         static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
        return patchAt(h, at, at + 4 + static_cast<int64_t>(length), be, 4);
    }
    std::vector<uint8_t> buffer;
    try {
        buffer.reserve(kDumpStep);
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    if (int status = lua_dump(L, idx, dumpToBuffer, &buffer)) return status == 1 ? ERR_MEM : status;
    if (buffer.size() > UINT32_MAX) return ERR_WRONGUSAGE;
    if (counter) {
        *counter += (encoded ? 8 : 4) + buffer.size();
        return 0;
    }
    if (encoded) {
        if (!h) return ERR_WRONGUSAGE;
        return writeEncoded(h, buffer.data(), buffer.size(), noLineBreak);
    }
    Out out{h, cursor, nullptr};
    if (int r = out.u32(static_cast<uint32_t>(buffer.size()))) return r;
    return out.put(buffer.data(), buffer.size());
}

extern "C" int qxReadFunctionData(lua_State *L, qxFileHandle *h, int encoded, qxMemCursor *cursor)
{
    std::string chunk;
    if (encoded) {
        if (int r = readEncoded(h, cursor, chunk)) return r;
    } else {
        uint32_t n;
        if (int r = qxFileReadBytes(h, &n, 0, 4, 0, cursor)) return r;
        if (int r = qxDosReadBlock(h, cursor, n, chunk)) return r;
    }
    return luaL_loadbuffer(L, chunk.data(), chunk.size(), nullptr);
}

extern "C" int qxWriteTableStream(lua_State *L, int idx, qxFileHandle *h, qxMemCursor *cursor, uint64_t *counter)
{
    if (idx < 0 && idx > LUA_REGISTRYINDEX) idx = lua_gettop(L) + idx + 1;
    // Each level keeps a key and a value; a table inside itself runs out here.
    if (!lua_checkstack(L, lua_gettop(L) + 1)) return ERR_STACK;
    Out out{h, cursor, counter};
    int base = lua_gettop(L);
    lua_pushnil(L);
    while (lua_next(L, idx)) {
        int key = base + 1, value = base + 2;
        int vtype = lua_type(L, value);
        if (vtype == LUA_TBOOLEAN) {
            lua_settop(L, key);
            continue;
        }
        int r = 0;
        switch (lua_type(L, key)) {
        case LUA_TNUMBER:
            if (!(r = out.tag(TAG_NUMBER))) r = out.number(lua_tonumber(L, key));
            break;
        case LUA_TSTRING:
            if (!(r = out.tag(TAG_STRING))) r = out.string(lua_tostring(L, key), lua_strlen(L, key));
            break;
        default:
            r = ERR_WRONGUSAGE;
        }
        if (!r) {
            switch (vtype) {
            case LUA_TNUMBER:
                if (!(r = out.tag(TAG_NUMBER))) r = out.number(lua_tonumber(L, value));
                break;
            case LUA_TSTRING:
                if (!(r = out.tag(TAG_STRING))) r = out.string(lua_tostring(L, value), lua_strlen(L, value));
                break;
            case LUA_TLIGHTUSERDATA:
            case LUA_TUSERDATA:
                if (!(r = out.tag(TAG_NUMBER))) r = out.number(0);
                break;
            case LUA_TTABLE:
                if (!(r = out.tag(TAG_TABLE))) r = qxWriteTableStream(L, value, h, cursor, counter);
                break;
            case LUA_TFUNCTION:
                if (!(r = out.tag(TAG_FUNCTION))) r = qxWriteFunctionData(L, h, value, 0, 0, cursor, counter);
                break;
            default:
                r = ERR_WRONGUSAGE;
            }
        }
        if (r) {
            lua_settop(L, base);
            return r;
        }
        lua_settop(L, key);
    }
    return out.tag(TAG_END);
}

extern "C" int qxReadTableStream(lua_State *L, qxFileHandle *h, qxMemCursor *cursor, int fillTop)
{
    if (!lua_checkstack(L, 4)) return ERR_STACK;
    if (!fillTop) lua_newtable(L);
    int t = lua_gettop(L);
    for (;;) {
        uint8_t tag;
        if (int r = qxFileReadBytes(h, &tag, 1, 1, 0, cursor)) return r;
        int r;
        if (tag == TAG_END) return 0;
        if (tag == TAG_NUMBER) r = readNumber(L, h, cursor, true);
        else if (tag == TAG_STRING) r = readString(L, h, cursor);
        else r = ERR_FILEFORMAT;
        if (r) return r;
        if ((r = qxFileReadBytes(h, &tag, 1, 1, 0, cursor))) return r;
        switch (tag) {
        case TAG_NUMBER: r = readNumber(L, h, cursor, false); break;
        case TAG_STRING: r = readString(L, h, cursor); break;
        case TAG_TABLE: r = qxReadTableStream(L, h, cursor, 0); break;
        case TAG_FUNCTION: r = qxReadFunctionData(L, h, 0, cursor); break;
        default: r = ERR_FILEFORMAT;
        }
        if (r) return r;
        lua_settable(L, t);
    }
}

int qxCmdWriteTable(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    luaL_checktable(L, 2);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 2, &file)) return r;
    qxFileHandle *h = file->handle;
    int encoded = luaL_optint(L, 3, 0);
    int noLineBreak = luaL_optint(L, 4, 0);
    lua_settop(L, 2);
    if (!encoded) {
        if (qxWrite(h, "QXT0", 4) != 4) return ERR_WRITE;
        return qxWriteTableStream(L, 2, h, nullptr, nullptr);
    }
    // Counting first means a table that cannot be written leaves the file alone.
    uint64_t size = 0;
    if (int r = qxWriteTableStream(L, 2, nullptr, nullptr, &size)) return r;
    std::vector<uint8_t> data;
    try {
        data.resize(static_cast<size_t>(size) + 4);
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    std::memcpy(data.data(), "QXT0", 4);
    qxMemCursor cursor{data.data() + 4, data.data() + data.size()};
    if (int r = qxWriteTableStream(L, 2, nullptr, &cursor, nullptr)) return r;
    if (qxWrite(h, "QXT1", 4) != 4) return ERR_WRITE;
    return writeEncoded(h, data.data(), data.size(), noLineBreak);
}

int qxCmdReadTable(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 1, &file)) return r;
    qxFileHandle *h = file->handle;
    std::string decoded;
    qxMemCursor memory{};
    qxMemCursor *cursor = nullptr;
    for (;;) {
        char magic[4];
        if (int r = readMagic(h, cursor, magic)) return r;
        if (std::memcmp(magic, "QXT0", 4) == 0) {
            if (int r = qxReadTableStream(L, h, cursor, 0)) return r;
            return 1;
        }
        if (std::memcmp(magic, "QXT1", 4) != 0) return ERR_READTABLE;
        std::string next;
        if (int r = readEncoded(h, cursor, next)) return r;
        decoded.swap(next);
        memory = {reinterpret_cast<uint8_t *>(decoded.data()), reinterpret_cast<uint8_t *>(decoded.data()) + decoded.size()};
        cursor = &memory;
        h = nullptr;
    }
}

int qxCmdWriteFunction(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    luaL_checkfunction(L, 2);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 2, &file)) return r;
    qxFileHandle *h = file->handle;
    int encoded = luaL_optint(L, 3, 0);
    int noLineBreak = luaL_optint(L, 4, 0);
    if (lua_iscfunction(L, 2)) return ERR_NOQXFUNC;
    if (qxWrite(h, encoded ? "QXF1" : "QXF0", 4) != 4) return ERR_WRITE;
    return qxWriteFunctionData(L, h, 2, encoded ? 1 : 0, noLineBreak, nullptr, nullptr);
}

int qxCmdReadFunction(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 1, &file)) return r;
    qxFileHandle *h = file->handle;
    char magic[4];
    if (int r = readMagic(h, nullptr, magic)) return r;
    int encoded;
    if (std::memcmp(magic, "QXF0", 4) == 0) encoded = 0;
    else if (std::memcmp(magic, "QXF1", 4) == 0) encoded = 1;
    else return ERR_READFUNC;
    if (int r = qxReadFunctionData(L, h, encoded, nullptr)) return r;
    return 1;
}
