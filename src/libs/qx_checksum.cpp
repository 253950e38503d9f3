// CRC32 and MD5 of files, read in 64 KB pieces.
#include <zlib.h>

#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_dos.h"
#include "core/codecs/qx_md5.h"
#include "platform/qx_memory.h"

namespace {

constexpr int64_t kPiece = 65536;

// Opens the file of argument 1 and feeds every piece to f; 0 or an error.
template <typename F> int forEachPiece(lua_State *L, F f)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    size_t length;
    luaL_checklstring(L, 1, &length);
    if (length == 0) return ERR_WRONGUSAGE;
    std::string name = qxGetFileNameArg(L, 1, 0, nullptr);
    auto *buffer = static_cast<uint8_t *>(qxAlloc(kPiece, 0));
    if (!buffer) return ERR_MEM;
    qxFileHandle *h = qxOpen(name.c_str(), QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr);
    if (!h) {
        qxFree(buffer);
        qxSetErrorString(name.c_str());
        return ERR_READFILE;
    }
    int64_t got;
    while ((got = qxRead(h, buffer, kPiece)) > 0) f(buffer, static_cast<size_t>(got));
    // A read error is not the end of the file: the sum would be of part of it.
    int r = got < 0 || !qxEOF(h) ? ERR_READ : 0;
    qxClose(h);
    qxFree(buffer);
    return r;
}

} // namespace

int qxCmdCRC32(lua_State *L)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    int r = forEachPiece(L, [&](const uint8_t *p, size_t n) { crc = crc32(crc, p, static_cast<uInt>(n)); });
    if (r) return r;
    lua_pushnumber(L, static_cast<double>(crc & 0xFFFFFFFFu));
    return 1;
}

int qxCmdMD5(lua_State *L)
{
    qxMD5Context ctx;
    qxMD5Init(&ctx);
    int r = forEachPiece(L, [&](const uint8_t *p, size_t n) { qxMD5Update(&ctx, p, n); });
    if (r) return r;
    uint8_t digest[16];
    char hex[33];
    qxMD5Final(&ctx, digest);
    qxMD5Hex(digest, hex);
    lua_pushstring(L, hex);
    return 1;
}
