// ApplyPatch: source bytes combined with patch bytes into a third file,
// with a progress callback and event polls between blocks.
#include <cstring>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_dos.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_memory.h"

// The event poll of the display library; absent in builds without one.

namespace {

constexpr int64_t kBlock = 65536;

struct Blocks {
    uint8_t *src = static_cast<uint8_t *>(qxAlloc(kBlock, 0));
    uint8_t *patch = static_cast<uint8_t *>(qxAlloc(kBlock, 0));
    ~Blocks()
    {
        qxFree(src);
        qxFree(patch);
    }
};

int reportProgress(lua_State *L, int function, int64_t percent)
{
    lua_pushvalue(L, function);
    lua_newtable(L);
    qxSetFieldNum(L, "progress", static_cast<double>(percent));
    // The attribute counts levels: 1 enters one, 0 leaves one.
    qxSetTag(QX_TAG_CALLBACKNEST, 1);
    int status = lua_pcall(L, 1, 0, 0);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    return status;
}

} // namespace

int qxCmdApplyPatch(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    qxDosFile *srcFile = nullptr;
    if (int r = qxDosFileArg(L, 1, 0, &srcFile)) return r;
    qxFileHandle *src = srcFile->handle;
    qxDosFile *patchFile = nullptr;
    if (int r = qxDosFileArg(L, 2, 0, &patchFile)) return r;
    qxFileHandle *patch = patchFile->handle;
    qxDosFile *dstFile = nullptr;
    if (int r = qxDosFileArg(L, 3, 0, &dstFile)) return r;
    qxFileHandle *dst = dstFile->handle;
    int function = 0;
    if (lua_gettop(L) >= 4 && lua_type(L, 4) != LUA_TNIL) {
        luaL_checkfunction(L, 4);
        function = 4;
    }
    int64_t size = qxFileSize(src);
    int64_t patchSize = qxFileSize(patch);
    if (size < 1) return 0;
    if (patchSize < 0) patchSize = 0;
    Blocks buf;
    if (!buf.src || !buf.patch) return ERR_MEM;
    int64_t done = 0, patchUsed = 0, reported = 0;
    while (done < size) {
        // A block ends where the next whole percentage begins, so that every
        // step is reported as it would be byte by byte.
        int64_t next = ((reported + 1) * size + 99) / 100;
        int64_t n = size - done;
        if (n > kBlock) n = kBlock;
        if (function && next > done && next - done < n) n = next - done;
        if (qxRead(src, buf.src, n) != n) return ERR_READ;
        int64_t fromPatch = patchSize - patchUsed < n ? patchSize - patchUsed : n;
        if (fromPatch > 0 && qxRead(patch, buf.patch, fromPatch) != fromPatch) return ERR_READ;
        if (fromPatch < 0) fromPatch = 0;
        for (int64_t i = 0; i < n; i++)
            buf.src[i] = static_cast<uint8_t>(i < fromPatch ? buf.src[i] ^ buf.patch[i] : ~buf.src[i]);
        if (qxWrite(dst, buf.src, n) != n) return ERR_WRITE;
        done += n;
        patchUsed += fromPatch;
        int64_t percent = done * 100 / size;
        if (percent != reported) {
            reported = percent;
            if (function)
                if (int status = reportProgress(L, function, percent)) return status;
        }
        // The event library's poll, once it is installed; 1003 when the user quits.
        if (qxUpcalls.pollEvents)
            if (int status = qxUpcalls.pollEvents(L, 2)) return status;
    }
    return 0;
}
