// The display-tag and backfill readers on tag tables built from the input:
// known keys with numbers, texts, tables and nested region lists of any
// shape. Error codes only, never more regions than the record holds, a
// known backfill type and a terminated brush file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/vm/lauxlib.h"
#include "core/runtime/qx_startup.h"
#include "display/qx_backfill.h"
#include "display/qx_displaycmds.h"

namespace {

const char *const kKeys[] = {"dragregion", "sizeregion", "width", "height", "scalewidth",
                             "scaleheight", "scalemode", "title", "mode", "x", "y", "color",
                             "fillstyle", "borderless", "keepproportions", "orientation",
                             "xserver", "sizeable", "backfill"};

struct Reader {
    const uint8_t *p;
    size_t n;
    uint8_t byte() { return n ? (n--, *p++) : 0; }
};

void pushValue(lua_State *L, Reader &r, int depth)
{
    uint8_t kind = r.byte();
    switch (kind % 5) {
    case 0:
        lua_pushnumber(L, (double)(int16_t)(r.byte() << 8 | r.byte()));
        break;
    case 1: {
        char text[8];
        size_t len = r.byte() % sizeof text;
        for (size_t i = 0; i < len; i++)
            text[i] = (char)r.byte();
        lua_pushlstring(L, text, len);
        break;
    }
    case 2:
        lua_pushnil(L);
        break;
    default:
        lua_newtable(L);
        if (depth < 3) {
            int count = r.byte() % 80;
            for (int i = 0; i < count && r.n; i++) {
                static const char *const fields[] = {"type", "x", "y", "width", "height",
                                                     "color", "endcolor", "brushfile"};
                if (r.byte() & 1) {
                    lua_pushstring(L, fields[r.byte() % 8]);
                    pushValue(L, r, depth + 1);
                    lua_settable(L, -3);
                } else {
                    pushValue(L, r, depth + 1);
                    lua_rawseti(L, -2, i);
                }
            }
        }
    }
}

struct Run {
    Reader r;
    int code, backfillCode;
    qxDisplay *d;
};

// Wrong value types raise inside the reader: it runs protected, as
// commands do.
int readTags(lua_State *L)
{
    auto *run = static_cast<Run *>(lua_touserdata(L, 1));
    lua_newtable(L);
    int t = lua_gettop(L);
    while (run->r.n) {
        lua_pushstring(L, kKeys[run->r.byte() % (sizeof kKeys / sizeof *kKeys)]);
        pushValue(L, run->r, 0);
        lua_settable(L, t);
    }
    run->code = qxReadDisplayTags(L, t, run->d, 1);
    run->backfillCode = qxReadBackfillTag(L, t, run->d);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static lua_State *L = lua_open();
    lua_settop(L, 0);
    qxDisplay *d = qxNewDisplayRecord(1);
    d->width = 640;
    d->height = 480;
    Run run{{data, size}, 0, 0, d};
    int status = lua_cpcall(L, readTags, &run);
    const auto *bf = static_cast<const qxBackfill *>(d->backfillDescription);
    if (bf && (bf->mode > 4 || !std::memchr(bf->imagePath, 0, sizeof bf->imagePath)))
        std::abort();
    if (run.code < 0 || run.backfillCode < 0 || d->dragRegionCount > QX_MAX_REGIONS || d->sizeRegionCount > QX_MAX_REGIONS)
        std::abort();
    if (!status && !run.code) {
        qxResetRegions(d);
        for (uint32_t i = 0; i < d->dragRegionCount; i++)
            if (d->dragRegions[i].width < 1 || d->dragRegions[i].x < 0)
                std::abort();
    }
    std::free(d->backfillDescription);
    std::free(d);
    return 0;
}
