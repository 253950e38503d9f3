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
#include "platform/qx_threadevents.h"
#include "platform/x11/x11_display.h"

extern "C" int qxCmdCreateKeyDown(lua_State *L);

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

} // namespace
