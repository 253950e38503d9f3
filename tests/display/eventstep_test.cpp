// The event step over queued events: handler slots and key names, modifiers,
// events nobody handles, bindings that leave older events alone, displays
// gone from the list, scaled pointer moves and a flood of thread notices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_eventqueue.h"
#include "display/qx_events.h"
#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/plugins/qx_hosttable.h"
#include "core/plugins/qx_pluginapi.h"
#include "platform/qx_threadevents.h"
#include "platform/x11/x11_display.h"

extern "C" int qxCmdCreateKeyDown(lua_State *L);
extern "C" int qxCmdInstallEventHandler(lua_State *L);
extern "C" int qxCmdSetInterval(lua_State *L);
extern "C" int qxCmdSetTimeout(lua_State *L);
extern "C" int qxCmdChangeInterval(lua_State *L);

namespace {

std::vector<std::string> seen;

int record(lua_State *L)
{
    std::string line;
    for (const char *key : {"action", "key", "modifiers", "x", "y"}) {
        lua_pushstring(L, key);
        lua_gettable(L, 1);
        if (!lua_isnil(L, -1)) {
            if (!line.empty())
                line += "|";
            line += lua_tostring(L, -1);
        }
        lua_pop(L, 1);
    }
    seen.push_back(line);
    return 0;
}

class Step : public ::testing::Test {
protected:
    void SetUp() override
    {
        seen.clear();
        ASSERT_EQ(qxInitEventQueue(), 0);
        ASSERT_EQ(qxInitDisplayList(), 0);
        ASSERT_EQ(qxCreateThreadEventQueue(), 0);
        L = lua_open();
        ASSERT_EQ(qxOpenEventLib(L), 0);
        display = qxNewDisplayRecord(1);
        qxAppendDisplay(display);
        qxCurrentDisplay = display;
    }
    void TearDown() override
    {
        qxFreeEventLib(L);
        qxFreeEventQueue();
        qxDeleteEventQueueMutex();
        qxDisplays = nullptr;
        qxCurrentDisplay = nullptr;
        std::free(display);
        lua_close(L);
        qxQuitRequested = 0;
    }
    void handle(uint32_t slot)
    {
        lua_pushcfunction(L, record);
        display->handlers[slot].function = (uint32_t)luaL_ref(L, LUA_REGISTRYINDEX);
    }
    // Runs steps until one dispatches nothing; returns the first error.
    int drain()
    {
        for (;;) {
            int handled = 1;
            int r = qxEventStep(L, 0, 1, 0, &handled);
            if (r || handled)
                return r;
        }
    }
    lua_State *L = nullptr;
    qxDisplay *display = nullptr;
};

TEST_F(Step, KeysAreNamedAndUnhandledEventsSkipped)
{
    handle(0);
    handle(1);
    handle(31);
    qxPostEvent(display, 3, 1, 0, 274, nullptr);
    qxPostEvent(display, 6, 0, 0, 0, nullptr); // no inactivewindow handler
    qxPostEvent(display, 3, 1, 0, 275, nullptr);
    qxPostEvent(display, 3, 1, 0, 272, nullptr);
    qxPostEvent(display, 3, 1, 0, 'a', nullptr);
    qxPostEvent(display, 3, 0, 0, 298, nullptr);
    display->input.keys[QX_RAWKEY_BASE + 306] = 1;
    qxPostEvent(display, 29, 1, 0, 272, nullptr);
    EXPECT_EQ(drain(), 0);
    std::vector<std::string> want = {"OnKeyDown|\n",  "OnKeyDown|ESC", "OnKeyDown|        ",
                                     "OnKeyDown|a",   "OnKeyUp|NP7",   "OnRawKeyDown|TAB|1"};
    EXPECT_EQ(seen, want);
    EXPECT_EQ(qxEventQueue, nullptr);
}

TEST_F(Step, ReturnsTheStepTableAndStopsOnQuit)
{
    handle(10);
    qxPostEvent(display, 1, 5, 5, 1, nullptr);
    int handled = 1;
    int top = lua_gettop(L);
    ASSERT_EQ(qxEventStep(L, 0, 0, 0, &handled), 0);
    EXPECT_EQ(handled, 0);
    ASSERT_EQ(lua_gettop(L), top + 1);
    lua_pushstring(L, "action");
    lua_gettable(L, -2);
    EXPECT_STREQ(lua_tostring(L, -1), "OnMouseDown");
    lua_settop(L, top);
    qxPostEvent(display, 23, 0, 0, 0, nullptr);
    EXPECT_EQ(qxEventStep(L, 0, 1, 0, &handled), 1003);
}

TEST_F(Step, BoundKeyLeavesOlderEventsForTheirHandlers)
{
    handle(0);
    luaL_setlabel(L, "ONKEYDOWN7", 3);
    // CreateKeyDown(7, "x"), and 8 for a label that does not exist.
    lua_settop(L, 0);
    lua_pushnumber(L, 7);
    lua_pushstring(L, "x");
    ASSERT_EQ(qxCmdCreateKeyDown(L), 0);
    lua_settop(L, 0);
    lua_pushnumber(L, 8);
    lua_pushstring(L, "y");
    ASSERT_EQ(qxCmdCreateKeyDown(L), 0);
    lua_settop(L, 0);
    qxPostEvent(display, 3, 1, 0, 'b', nullptr);
    qxPostEvent(display, 3, 1, 0, 'x', nullptr);
    qxPostEvent(display, 3, 1, 0, 'y', nullptr);
    int handled = 1;
    EXPECT_EQ(qxEventStep(L, 0, 1, 0, &handled), -1); // the Gosub to ONKEYDOWN7
    EXPECT_EQ(qxEventCode, 7u);
    EXPECT_EQ(drain(), 0);
    std::vector<std::string> want = {"OnKeyDown|b", "OnKeyDown|y"};
    EXPECT_EQ(seen, want);
}

TEST_F(Step, BindingsByConstantNameAndTheirSwitches)
{
    luaL_setlabel(L, "SIZEWINDOW", 2);
    EXPECT_EQ(qxAddNamedBinding("sizeWindow", 4), 0);
    EXPECT_EQ(qxAddNamedBinding("ONKEYDOWNALL", 0), 0);
    EXPECT_EQ(qxKeyDownAll, 1u);
    EXPECT_EQ(qxAddNamedBinding("ONKEYDOWN", 0), 1055);
    EXPECT_EQ(qxAddNamedBinding(nullptr, 0), 1055);
    qxKeyDownAll = 0;
    qxPostEvent(display, 5, 0, 0, 0, nullptr); // sized
    int handled = 1;
    EXPECT_EQ(qxEventStep(L, 0, 1, 0, &handled), -1); // the Gosub to SIZEWINDOW
}

TEST_F(Step, EventsOfAnUnlistedDisplayAreDropped)
{
    handle(0);
    qxDisplay *gone = qxNewDisplayRecord(2);
    gone->handlers[0] = display->handlers[0];
    qxPostEvent(gone, 3, 1, 0, 'q', nullptr);
    qxPostEvent(display, 3, 1, 0, 'r', nullptr);
    EXPECT_EQ(drain(), 0);
    EXPECT_EQ(seen, std::vector<std::string>{"OnKeyDown|r"});
    std::free(gone);
}

TEST_F(Step, PointerMovesAreDividedByTheScale)
{
    handle(2);
    display->scaleX = 2.0;
    display->scaleY = 3.0;
    display->input.mouseX = 101;
    display->input.mouseY = 31;
    display->input.pointerMoved = 1;
    EXPECT_EQ(drain(), 0);
    EXPECT_EQ(seen, std::vector<std::string>{"OnMouseMove|50|10"});
    EXPECT_EQ(display->input.pointerMoved, 0u);
}

TEST_F(Step, UnhandledThreadNoticesDoNotPileUp)
{
    for (int i = 0; i < 100000; i++)
        qxPostThreadEvent(QX_THREADEVENT_SAMPLE_END, qxObjectRef{1, nullptr}, 1, 1, 0, 0);
    EXPECT_EQ(drain(), 0);
    EXPECT_EQ(qxThreadEventQueue, nullptr);
}

int freed;

void addFields(lua_State *L, void *data)
{
    qxSetFieldInt(L, "x", *static_cast<int *>(data));
}

int pushCall(lua_State *L, void *data)
{
    lua_pushcfunction(L, record);
    lua_newtable(L);
    qxSetFieldStr(L, "action", "pushed");
    qxSetFieldInt(L, "x", *static_cast<int *>(data));
    return 1;
}

int refusePush(lua_State *, void *) { return -1055; }

void freeData(void *data)
{
    freed++;
    std::free(data);
}

TEST_F(Step, CustomEventsOfBothKinds)
{
    using Simple = uint32_t (*)(const char *, void *);
    using Full = uint32_t (*)(const char *, uint32_t, const qxCustomEventFuncs *);
    using Dispatch = int (*)(lua_State *, uint32_t, void *);
    using HandlerOf = int (*)(const char *, qxTagItem *);
    auto simple = reinterpret_cast<Simple>(qxHostSystem[14]);
    auto full = reinterpret_cast<Full>(qxHostSystem[36]);
    uint32_t first = simple("MyEvent", reinterpret_cast<void *>(addFields));
    EXPECT_EQ(first, 32u);
    EXPECT_EQ(simple("myevent", reinterpret_cast<void *>(addFields)), 0u); // taken
    EXPECT_EQ(simple("OnKeyDown", reinterpret_cast<void *>(addFields)), 0u);
    qxCustomEventFuncs funcs{nullptr, pushCall, nullptr, freeData};
    uint32_t second = full("Pushed", 1, &funcs);
    EXPECT_EQ(second, 33u);
    qxCustomEventFuncs bad{nullptr, refusePush, nullptr, freeData};
    uint32_t third = full("Refused", 1, &bad);

    // InstallEventHandler({myevent = f}, "ud") by the lower-case name.
    lua_settop(L, 0);
    lua_newtable(L);
    lua_pushstring(L, "myevent");
    lua_pushcfunction(L, record);
    lua_settable(L, 1);
    lua_pushstring(L, "ud");
    ASSERT_EQ(qxCmdInstallEventHandler(L), 0);
    lua_settop(L, 0);
    uint32_t userData = QX_NO_REF;
    qxTagItem tags[] = {{1, reinterpret_cast<uintptr_t>(&userData)}, {0, 0}};
    EXPECT_GE(reinterpret_cast<HandlerOf>(qxHostSystem[48])("MYEVENT", tags), 0);
    EXPECT_NE(userData, QX_NO_REF);
    EXPECT_EQ(reinterpret_cast<HandlerOf>(qxHostSystem[48])("nothing", nullptr), -1);

    static int value = 5;
    qxPostEvent(display, first, 0, 0, 0, &value); // kind 0: the plug-in keeps it
    int *owned = static_cast<int *>(std::malloc(sizeof(int)));
    *owned = 9;
    qxPostEvent(display, second, 0, 0, 0, owned);
    EXPECT_EQ(drain(), 0);
    std::vector<std::string> want = {"MyEvent|5", "pushed|9"};
    EXPECT_EQ(seen, want);
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(reinterpret_cast<Dispatch>(qxHostSystem[46])(L, first, &value), 0);
    EXPECT_EQ(seen.size(), 3u);
    int *refused = static_cast<int *>(std::malloc(sizeof(int)));
    qxPostEvent(display, third, 0, 0, 0, refused);
    EXPECT_EQ(drain(), 1055);
    EXPECT_EQ(freed, 2);
}

} // namespace

namespace {

std::vector<int> adapterTimers; // 1 live, 0 freed, by handle - 1
int failRegister;

void *registerTimer(lua_State *, uint32_t, uint32_t)
{
    if (failRegister)
        return nullptr;
    adapterTimers.push_back(1);
    return reinterpret_cast<void *>((uintptr_t)adapterTimers.size());
}

void freeTimer(void *handle)
{
    adapterTimers[(uintptr_t)handle - 1] = 0;
}

TEST_F(Step, TimerAdapterRunsTimersAndRefusesAReplacement)
{
    adapterTimers.clear();
    failRegister = 0;
    using SetAdapter = int (*)(qxPluginInfo *, uint32_t);
    using Fired = void (*)(lua_State *, void *);
    auto setAdapter = reinterpret_cast<SetAdapter>(qxHostSystem[39]);
    auto fired = reinterpret_cast<Fired>(qxHostSystem[38]);
    static qxPluginInfo plain{}, adapter{}, second{};
    EXPECT_EQ(setAdapter(&plain, 0), 1055);
    adapter.capabilities = second.capabilities = QX_CAP_TIMERADAPTER;
    adapter.entry[QX_EP_RegisterTimer] = reinterpret_cast<void *>(registerTimer);
    adapter.entry[QX_EP_FreeTimer] = reinterpret_cast<void *>(freeTimer);
    ASSERT_EQ(setAdapter(&adapter, 1), 0);
    EXPECT_EQ(setAdapter(&second, 0), 1518); // exclusive

    auto start = [&](int id, lua_CFunction cmd) {
        lua_settop(L, 0);
        lua_pushnumber(L, id);
        lua_pushcfunction(L, record);
        lua_pushnumber(L, 50);
        int r = cmd(L);
        lua_settop(L, 0);
        return r;
    };
    ASSERT_EQ(start(1, qxCmdSetInterval), 0);
    ASSERT_EQ(start(2, qxCmdSetTimeout), 0);
    ASSERT_EQ(adapterTimers.size(), 2u);
    fired(L, reinterpret_cast<void *>(1));
    fired(L, reinterpret_cast<void *>(1));
    fired(L, reinterpret_cast<void *>(2));
    fired(L, reinterpret_cast<void *>(2));    // the timeout is gone
    fired(L, reinterpret_cast<void *>(0x99)); // unknown
    std::vector<std::string> want = {"Interval", "Interval", "Timeout"};
    EXPECT_EQ(seen, want);
    failRegister = 1;
    lua_settop(L, 0);
    lua_pushnumber(L, 1);
    lua_pushnumber(L, 20);
    EXPECT_EQ(qxCmdChangeInterval(L), 1297);
    EXPECT_EQ(adapterTimers[0], 1); // the old timer keeps running
    failRegister = 0;
    EXPECT_EQ(qxCmdChangeInterval(L), 0);
    EXPECT_EQ(adapterTimers[0], 0);
    lua_settop(L, 0);
}

} // namespace
