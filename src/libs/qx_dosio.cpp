// Reading and writing open files: bytes, big-endian numbers, strings,
// UTF-8 characters and text lines.
#include "libs/qx_dos.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "platform/qx_text.h"

namespace {

void swapBytes(uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n / 2; i++) {
        uint8_t t = p[i];
        p[i] = p[n - 1 - i];
        p[n - 1 - i] = t;
    }
}

bool convertible(size_t size) { return size == 2 || size == 4 || size == 8; }

int64_t readRaw(qxFileHandle *h, void *buffer, int64_t n) { return qxRead(h, buffer, n); }

int64_t writeRaw(qxFileHandle *h, const void *buffer, int64_t n) { return qxWrite(h, buffer, n); }

// One byte in the I/O mode: -1 at the end.
int readOne(qxFileHandle *h)
{
    if (qxDosIOMode == 1) {
        uint8_t b;
        return readRaw(h, &b, 1) == 1 ? b : -1;
    }
    return qxGetC(h);
}

// One UTF-8 character from the file: its bytes into out, a byte-order mark
// skipped. 0, 1009 or 1585.
int readUtf8Char(qxFileHandle *h, char out[4], int *length)
{
    for (;;) {
        uint8_t seq[4];
        if (qxFileReadBytes(h, seq, 1, 1, 0, nullptr)) return ERR_READ;
        int more = (seq[0] & 0xE0) == 0xC0 ? 1 : (seq[0] & 0xF0) == 0xE0 ? 2 : (seq[0] & 0xF8) == 0xF0 ? 3 : 0;
        if (more && qxFileReadBytes(h, seq + 1, 1, static_cast<size_t>(more), 0, nullptr)) return ERR_READ;
        if (!qxUtf8Scan(reinterpret_cast<char *>(seq), static_cast<size_t>(more + 1), nullptr)) return ERR_INVALIDUTF8;
        if (more == 2 && seq[0] == 0xEF && seq[1] == 0xBB && seq[2] == 0xBF) continue;
        std::memcpy(out, seq, static_cast<size_t>(more + 1));
        *length = more + 1;
        return 0;
    }
}

// The length argument: 0 means the rest of the file.
int64_t lengthArg(lua_State *L, int idx, qxFileHandle *h)
{
    double d = luaL_optnumber(L, idx, 0);
    if (std::isnan(d)) return 0;
    if (d == 0) {
        int64_t position = qxSeek(h, 0, 0);
        return position < 0 ? 0 : qxFileSize(h) - position;
    }
    if (d >= 9.2e18) return INT64_MAX;
    return d < 0 ? -1 : static_cast<int64_t>(d);
}

int pushBytes(lua_State *L, const std::string &s)
{
    lua_pushlstring(L, s.data(), s.size());
    return 1;
}

int endianArg(lua_State *L, int idx) { return luaL_optint(L, idx, 0) != 0; }

} // namespace

extern "C" int qxFileReadBytes(qxFileHandle *h, void *destination, int raw, size_t size, int endian,
                               qxMemCursor *cursor)
{
    if (h) {
        if (size && readRaw(h, destination, static_cast<int64_t>(size)) != static_cast<int64_t>(size))
            return ERR_READ;
    } else {
        if (!cursor || static_cast<size_t>(cursor->end - cursor->p) < size) return ERR_READ;
        std::memcpy(destination, cursor->p, size);
        cursor->p += size;
    }
    if (!raw && !endian && convertible(size)) swapBytes(static_cast<uint8_t *>(destination), size);
    return 0;
}

extern "C" int qxFileWriteBytes(qxFileHandle *h, const void *source, int raw, size_t size, int endian,
                                qxMemCursor *cursor)
{
    uint8_t swapped[8];
    if (!raw && !endian && convertible(size)) {
        std::memcpy(swapped, source, size);
        swapBytes(swapped, size);
        source = swapped;
    }
    if (h) {
        if (size && writeRaw(h, source, static_cast<int64_t>(size)) != static_cast<int64_t>(size)) return ERR_WRITE;
        return 0;
    }
    if (!cursor || static_cast<size_t>(cursor->end - cursor->p) < size) return ERR_WRITE;
    std::memcpy(cursor->p, source, size);
    cursor->p += size;
    return 0;
}

int qxDosReadBlock(qxFileHandle *h, qxMemCursor *cursor, uint64_t n, std::string &out)
{
    out.clear();
    if (!h) {
        if (!cursor || static_cast<uint64_t>(cursor->end - cursor->p) < n) return ERR_READ;
        try {
            out.assign(reinterpret_cast<char *>(cursor->p), static_cast<size_t>(n));
        } catch (const std::bad_alloc &) {
            return ERR_MEM;
        }
        cursor->p += n;
        return 0;
    }
    if (!qxIsStreamHandle(h)) {
        int64_t position = qxSeek(h, 0, 0), size = qxFileSize(h);
        if (position >= 0 && size >= position && n > static_cast<uint64_t>(size - position)) return ERR_READ;
    }
    constexpr uint64_t kPiece = 1 << 20;
    try {
        while (out.size() < n) {
            uint64_t want = n - out.size() < kPiece ? n - out.size() : kPiece;
            size_t old = out.size();
            out.resize(old + static_cast<size_t>(want));
            int64_t got = readRaw(h, out.data() + old, static_cast<int64_t>(want));
            if (got != static_cast<int64_t>(want)) {
                out.resize(old + static_cast<size_t>(got > 0 ? got : 0));
                return ERR_READ;
            }
        }
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    return 0;
}

int qxDosEncodingArg(lua_State *L, int idx) { return luaL_optint(L, idx, int(qxDefaultEncoding)); }

size_t qxDropCarriageReturns(char *p, size_t n)
{
    char *out = static_cast<char *>(std::memchr(p, '\r', n));
    if (!out) return n;
    for (const char *in = out; in < p + n; in++)
        if (*in != '\r') *out++ = *in;
    return static_cast<size_t>(out - p);
}

int qxCmdReadLine(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 1, &file)) return r;
    qxFileHandle *h = file->handle;
    if (qxDosIOMode == 0) {
        // Kept between calls so that a line costs no allocation; a buffer
        // grown by a huge line is given back.
        static char *buffer = nullptr;
        static size_t capacity = 0;
        int64_t got = qxReadUntil(h, '\n', &buffer, &capacity);
        if (got < 0) return ERR_READ;
        size_t n = static_cast<size_t>(got);
        bool ended = n && buffer[n - 1] == '\n';
        if (ended) n--;
        // The end value came back before the end of the file: a read error.
        if (!ended && !qxEOF(h)) return ERR_READ;
        n = qxDropCarriageReturns(buffer, n);
        lua_pushlstring(L, n ? buffer : "", n);
        if (capacity > 65536) {
            free(buffer);
            buffer = nullptr;
            capacity = 0;
        }
        return 1;
    }
    std::string line;
    for (;;) {
        int c = readOne(h);
        if (c == '\n') break;
        if (c >= 0 && c != '\r') line.push_back(static_cast<char>(c));
        if (qxEOF(h)) break;
        if (c < 0) return ERR_READ;
    }
    return pushBytes(L, line);
}

int qxCmdWriteLine(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 2, &file)) return r;
    qxFileHandle *h = file->handle;
    const char *text = luaL_checkstring(L, 2);
    int64_t n = static_cast<int64_t>(std::strlen(text));
    if (n && writeRaw(h, text, n) != n) return ERR_WRITE;
    const char *end = qxDosCarriageReturn ? "\r\n" : "\n";
    int64_t endLength = qxDosCarriageReturn ? 2 : 1;
    if (qxDosIOMode == 1) {
        if (writeRaw(h, end, endLength) != endLength) return ERR_WRITE;
    } else {
        for (int64_t i = 0; i < endLength; i++)
            if (qxPutC(h, end[i]) != 1) return ERR_WRITE;
    }
    return 0;
}

int qxCmdReadBytes(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 1, &file)) return r;
    qxFileHandle *h = file->handle;
    int64_t length = lengthArg(L, 2, h);
    if (length < 1) return pushBytes(L, "");
    std::string data;
    if (int r = qxDosReadBlock(h, nullptr, static_cast<uint64_t>(length), data)) return r;
    return pushBytes(L, data);
}

int qxCmdReadString(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 0, &file)) return r;
    qxFileHandle *h = file->handle;
    double given = luaL_optnumber(L, 2, 0);
    int encoding = qxDosEncodingArg(L, 3);
    bool characters = given != 0 && encoding == 1;
    if (!characters && file->access == QX_ACCESS_WRITE) return ERR_WRITEONLY;
    int64_t length = lengthArg(L, 2, h);
    if (length < 1) return pushBytes(L, "");
    std::string data;
    if (characters) {
        for (int64_t i = 0; i < length; i++) {
            char seq[4];
            int n = 0;
            if (int r = readUtf8Char(h, seq, &n)) return r;
            data.append(seq, static_cast<size_t>(n));
        }
        return pushBytes(L, data);
    }
    if (int r = qxDosReadBlock(h, nullptr, static_cast<uint64_t>(length), data)) return r;
    if (encoding == 1 && data.size() >= 3 && data.compare(0, 3, "\xEF\xBB\xBF") == 0) data.erase(0, 3);
    return pushBytes(L, data);
}

int qxCmdReadByte(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 1, &file)) return r;
    qxFileHandle *h = file->handle;
    uint8_t b;
    if (int r = qxFileReadBytes(h, &b, 1, 1, 0, nullptr)) return r;
    lua_pushnumber(L, b);
    return 1;
}

int qxCmdReadChr(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 1, &file)) return r;
    qxFileHandle *h = file->handle;
    int encoding = qxDosEncodingArg(L, 2);
    if (encoding == 0) {
        uint8_t b;
        if (int r = qxFileReadBytes(h, &b, 1, 1, 0, nullptr)) return r;
        lua_pushnumber(L, b);
        return 1;
    }
    char seq[4];
    int n = 0;
    if (int r = readUtf8Char(h, seq, &n)) return r;
    uint32_t code = 0;
    qxUtf8DecodeN(seq, seq + n, &code);
    lua_pushnumber(L, code);
    return 1;
}

int qxCmdReadShort(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 1, &file)) return r;
    qxFileHandle *h = file->handle;
    uint16_t v;
    if (int r = qxFileReadBytes(h, &v, 0, 2, endianArg(L, 2), nullptr)) return r;
    lua_pushnumber(L, v);
    return 1;
}

int qxCmdReadInt(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 1, &file)) return r;
    qxFileHandle *h = file->handle;
    int32_t v;
    if (int r = qxFileReadBytes(h, &v, 0, 4, endianArg(L, 2), nullptr)) return r;
    lua_pushnumber(L, v);
    return 1;
}

int qxCmdReadFloat(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 1, &file)) return r;
    qxFileHandle *h = file->handle;
    int size = luaL_optint(L, 2, 8);
    int endian = endianArg(L, 3);
    if (size == 8) {
        double d;
        if (int r = qxFileReadBytes(h, &d, 0, 8, endian, nullptr)) return r;
        lua_pushnumber(L, d);
    } else if (size == 4) {
        float f;
        if (int r = qxFileReadBytes(h, &f, 0, 4, endian, nullptr)) return r;
        lua_pushnumber(L, f);
    } else {
        return ERR_WRONGUSAGE;
    }
    return 1;
}

int qxCmdWriteBytes(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 2, &file)) return r;
    qxFileHandle *h = file->handle;
    size_t bytes;
    const char *text = luaL_checklstring(L, 2, &bytes);
    double length = luaL_optnumber(L, 3, 0);
    if (length != 0 && !(length > 0 && length <= static_cast<double>(bytes))) return ERR_STRTOOSHORT;
    int64_t n = length != 0 ? static_cast<int64_t>(length) : static_cast<int64_t>(bytes);
    if (n && writeRaw(h, text, n) != n) return ERR_WRITE;
    return 0;
}

int qxCmdWriteString(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 2, &file)) return r;
    qxFileHandle *h = file->handle;
    int encoding = qxDosEncodingArg(L, 4);
    size_t chars = 0, bytes = 0;
    const char *text = qxCheckUTF8String(L, 2, &chars, encoding == 1 ? 1 : 0, &bytes);
    double length = luaL_optnumber(L, 3, 0);
    if (length != 0 && !(length > 0 && length <= static_cast<double>(bytes))) return ERR_STRTOOSHORT;
    size_t n = bytes;
    if (length != 0) {
        size_t count = static_cast<size_t>(length);
        n = encoding == 1 ? qxUtf8Offset(text, count) : count;
        if (n > bytes) n = bytes;
    }
    if (n && writeRaw(h, text, static_cast<int64_t>(n)) != static_cast<int64_t>(n)) return ERR_WRITE;
    return 0;
}

namespace {

int writeValue(lua_State *L, const void *value, size_t size, int endian)
{
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 2, &file)) return r;
    qxFileHandle *h = file->handle;
    return qxFileWriteBytes(h, value, 0, size, endian, nullptr);
}

} // namespace

int qxCmdWriteByte(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    if (int r = qxDosFileArg(L, 1, 2, nullptr)) return r;
    uint8_t b = static_cast<uint8_t>(luaL_numbertoint(luaL_checknumber(L, 2)));
    return writeValue(L, &b, 1, 0);
}

int qxCmdWriteChr(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxDosFile *file = nullptr;
    if (int r = qxDosFileArg(L, 1, 2, &file)) return r;
    double value = luaL_checknumber(L, 2);
    int encoding = qxDosEncodingArg(L, 3);
    if (encoding == 0) {
        uint8_t b = static_cast<uint8_t>(luaL_numbertoint(value));
        return writeValue(L, &b, 1, 0);
    }
    if (!(value >= 0 && value <= 0x10FFFF)) return ERR_WRONGUSAGE;
    char seq[8];
    int n = qxUtf8Encode(seq, static_cast<uint32_t>(value));
    if (n <= 0) return ERR_WRONGUSAGE;
    return qxFileWriteBytes(file->handle, seq, 1, static_cast<size_t>(n), 0, nullptr);
}

int qxCmdWriteShort(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    if (int r = qxDosFileArg(L, 1, 2, nullptr)) return r;
    uint16_t v = static_cast<uint16_t>(luaL_numbertoint(luaL_checknumber(L, 2)));
    return writeValue(L, &v, 2, endianArg(L, 3));
}

int qxCmdWriteInt(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    if (int r = qxDosFileArg(L, 1, 2, nullptr)) return r;
    int32_t v = luaL_numbertoint(luaL_checknumber(L, 2));
    return writeValue(L, &v, 4, endianArg(L, 3));
}

int qxCmdWriteFloat(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    if (int r = qxDosFileArg(L, 1, 2, nullptr)) return r;
    double value = luaL_checknumber(L, 2);
    int size = luaL_optint(L, 3, 8);
    int endian = endianArg(L, 4);
    if (size == 8) return writeValue(L, &value, 8, endian);
    if (size != 4) return ERR_WRONGUSAGE;
    float f = static_cast<float>(value);
    return writeValue(L, &f, 4, endian);
}
