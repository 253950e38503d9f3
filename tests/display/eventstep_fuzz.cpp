// The event step over random streams of queued events: unknown and custom
// types, key bindings, handler slots set and cleared, a display leaving the
// list while its events wait.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_eventqueue.h"
#include "display/qx_events.h"
#include "platform/x11/x11_display.h"

extern "C" int qxCmdCreateKeyDown(lua_State *L);
extern "C" int qxCmdMakeButton(lua_State *L);

namespace {

int handler(lua_State *) { return 0; }

lua_State *L;

void setup()
{
    qxInitEventQueue();
    qxInitDisplayList();
    L = lua_open();
    qxOpenEventLib(L);
    luaL_setlabel(L, "ONKEYDOWN1", 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!L)
        setup();
    qxDisplay *displays[2] = {qxNewDisplayRecord(1), qxNewDisplayRecord(2)};
    for (qxDisplay *d : displays)
        qxAppendDisplay(d);
    qxCurrentDisplay = displays[0];
    lua_pushcfunction(L, handler);
    int ref = luaL_ref(L, LUA_REGISTRYINDEX);
    qxBGPic *bgpic = nullptr;
    qxObjectRef bgpicRef{1, nullptr};
    qxObjectRef bref{1, nullptr};
    if (size && qxCreateBGPicFromBitmap(&bref, 64, 64, 0, &bgpic) == 0) {
        displays[0]->bgpic = bgpic;
        // Two buttons that overlap, with functions for a few actions.
        for (int id = 1; id <= 2; id++) {
            lua_settop(L, 0);
            lua_pushnumber(L, id);
            lua_pushnumber(L, 0);
            lua_pushnumber(L, 4 * id);
            lua_pushnumber(L, 4 * id);
            lua_pushnumber(L, 40);
            lua_pushnumber(L, 40);
            lua_newtable(L);
            for (const char *name : {"onmousedown", "onmouseup", "onmouseout"}) {
                lua_pushstring(L, name);
                lua_pushcfunction(L, handler);
                lua_settable(L, 7);
            }
            qxCmdMakeButton(L);
        }
        lua_settop(L, 0);
    }
    for (size_t i = 0; i + 4 <= size; i += 4) {
        uint8_t op = data[i], a = data[i + 1], b = data[i + 2], c = data[i + 3];
        qxDisplay *d = displays[op & 1];
        switch (op >> 5) {
        case 0:
        case 1:
        case 2:
            qxPostEvent(d, a % 40, b, c, (uint32_t)b << 1, a % 40 >= 32 ? std::malloc(8) : nullptr);
            break;
        case 3: d->handlers[a % QX_HANDLER_SLOTS].function = b & 1 ? (uint32_t)ref : QX_NO_REF; break;
        case 4:
            lua_settop(L, 0);
            lua_pushnumber(L, b & 1);
            lua_pushlstring(L, reinterpret_cast<const char *>(&c), 1);
            qxCmdCreateKeyDown(L);
            lua_settop(L, 0);
            break;
        case 5:
            if (displays[1] && qxDisplays && qxDisplays->header.next == displays[1]) {
                qxForgetEventsOf(displays[1]);
                qxDisplays->header.next = nullptr;
            }
            break;
        default: {
            int handled = 1;
            int top = lua_gettop(L);
            qxEventStep(L, 0, a & 1, 0, &handled);
            lua_settop(L, top);
            break;
        }
        }
    }
    for (int n = 0; n < 10000; n++) {
        int handled = 1;
        int r = qxEventStep(L, 0, 1, 0, &handled);
        if (handled && !r)
            break;
    }
    qxFlushEvents(L, 0xFFFFFFFFu, 1);
    qxFreeBindings();
    // The BGPic's buttons go with it, their callback references too.
    if (bgpic)
        qxFreeBGPicRecord(L, bgpic);
    luaL_unref(L, LUA_REGISTRYINDEX, ref);
    qxDisplays = nullptr;
    qxCurrentDisplay = nullptr;
    qxQuitRequested = 0;
    std::free(displays[0]);
    std::free(displays[1]);
    return 0;
}
