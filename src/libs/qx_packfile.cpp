// Packed files: a 4-byte tag, four zero bytes and one zlib stream.
#include <zlib.h>

#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_dos.h"
#include "libs/qx_packfile.h"
#include "core/codecs/qx_unpack.h"
#include "platform/qx_memory.h"

namespace {

constexpr int64_t kBlock = 16384;

struct Buffers {
    uint8_t *in = static_cast<uint8_t *>(qxAlloc(kBlock, 0));
    uint8_t *out = static_cast<uint8_t *>(qxAlloc(kBlock, 0));
    ~Buffers()
    {
        qxFree(in);
        qxFree(out);
    }
};

struct Handle {
    qxFileHandle *h = nullptr;
    bool owned = true;
    ~Handle()
    {
        if (h && owned) qxClose(h);
    }
};

int packStream(qxFileHandle *src, qxFileHandle *dst, Buffers &buf)
{
    z_stream zs{};
    if (int z = deflateInit(&zs, Z_DEFAULT_COMPRESSION); z != Z_OK) return qxZlibError(z);
    int r = 0;
    for (int flush = Z_NO_FLUSH; flush != Z_FINISH && !r;) {
        int64_t got = qxRead(src, buf.in, kBlock);
        if (got < 0) got = 0;
        bool atEnd = qxEOF(src) != 0;
        if (got < kBlock && !atEnd) {
            r = ERR_READ;
            break;
        }
        flush = atEnd ? Z_FINISH : Z_NO_FLUSH;
        zs.next_in = buf.in;
        zs.avail_in = static_cast<uInt>(got);
        do {
            zs.next_out = buf.out;
            zs.avail_out = static_cast<uInt>(kBlock);
            int z = deflate(&zs, flush);
            if (z == Z_STREAM_ERROR) {
                r = qxZlibError(z);
                break;
            }
            int64_t have = kBlock - zs.avail_out;
            if (have && qxWrite(dst, buf.out, have) != have) {
                r = ERR_WRITE;
                break;
            }
        } while (zs.avail_out == 0);
    }
    deflateEnd(&zs);
    return r;
}

} // namespace

extern "C" int qxPackFile(const char tag[4], const char *source, const char *destination, qxFileHandle *destHandle,
                          int64_t *packedSize)
{
    if (packedSize) *packedSize = 0;
    Buffers buf;
    if (!buf.in || !buf.out) return ERR_MEM;
    Handle src, dst;
    src.h = qxOpen(source, QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr);
    if (!src.h) {
        qxSetErrorString(source);
        return ERR_READFILE;
    }
    if (destHandle) {
        dst.h = destHandle;
        dst.owned = false;
    } else {
        dst.h = qxOpen(destination, QX_OPEN_WRITE | QX_OPEN_ADAPTERS, nullptr);
        if (!dst.h) {
            qxSetErrorString(destination);
            return ERR_WRITEFILE;
        }
    }
    int64_t start = qxSeek(dst.h, 0, 0);
    uint8_t head[8] = {0};
    std::memcpy(head, tag, 4);
    if (qxWrite(dst.h, head, 8) != 8) return ERR_WRITE;
    if (int r = packStream(src.h, dst.h, buf)) return r;
    int64_t end = qxSeek(dst.h, 0, 0);
    if (packedSize) *packedSize = end - (start < 0 ? 0 : start);
    if (dst.owned) {
        int ok = qxClose(dst.h);
        dst.h = nullptr;
        if (!ok) return ERR_WRITE; // buffered data was lost
    }
    return 0;
}

int qxCmdCompressFile(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    std::string source = qxGetFileNameArg(L, 1, 0, nullptr);
    const char *destination = luaL_checkstring(L, 2);
    int64_t size = 0;
    if (int r = qxPackFile("QXPK", source.c_str(), destination, nullptr, &size)) return r;
    lua_pushnumber(L, static_cast<double>(size));
    return 1;
}

int qxCmdDecompressFile(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    std::string source = qxGetFileNameArg(L, 1, 0, nullptr);
    const char *destination = luaL_checkstring(L, 2);
    uint64_t produced = 0;
    if (int r = qxUnpackData("QXPK", source.c_str(), destination, nullptr, 0, nullptr, nullptr, 0, &produced))
        return r;
    lua_pushnumber(L, static_cast<double>(produced));
    return 1;
}
