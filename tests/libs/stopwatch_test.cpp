// Stop-watch records: restarting a number releases the data's registry
// references, WaitTimer's reset keeps them, and bad numbers are refused
// before any conversion.
#include <gtest/gtest.h>

#include "libs/qx_systemlib.h"
#include "libtest.h"

namespace {

struct StopWatchTest : libtest::LibTest {
    void SetUp() override {
        LibTest::SetUp();
        ASSERT_EQ(qxOpenSystemLib(L), 0);
    }
    void TearDown() override {
        qxFreeSystemLib(L);
        LibTest::TearDown();
    }
    // The registry reference the next luaL_ref hands out (freed ones first).
    int nextRef() {
        lua_pushnumber(L, 0);
        int r = luaL_ref(L, LUA_REGISTRYINDEX);
        luaL_unref(L, LUA_REGISTRYINDEX, r);
        return r;
    }
};

TEST_F(StopWatchTest, RestartReleasesDataAndWaitResetKeepsIt) {
    ASSERT_EQ(status("StartTimer", {1}), 0);
    int expected = nextRef();
    ASSERT_EQ(status("SetObjectData", {53, 1, "k", "v"}), 0);
    EXPECT_NE(nextRef(), expected);
    ASSERT_EQ(status("WaitTimer", {1, 0}), 0);
    EXPECT_EQ(str("GetObjectData", {53, 1, "k"}), "v");
    ASSERT_EQ(status("StartTimer", {1}), 0);
    EXPECT_EQ(nextRef(), expected);
    EXPECT_EQ(num("HaveObjectData", {53, 1, "k"}), 0);
}

TEST_F(StopWatchTest, OutOfRangeMillisecondsAndUnknownTimers) {
    ASSERT_EQ(status("StartTimer", {2}), 0);
    for (double bad : {-1.0, 1e300, 0.0 / 0.0, 1.0 / 0.0}) {
        EXPECT_EQ(status("ResetTimer", {2, bad}), ERR_WRONGUSAGE) << bad;
        EXPECT_EQ(status("WaitTimer", {2, bad}), ERR_WRONGUSAGE) << bad;
    }
    EXPECT_EQ(status("ResetTimer", {2, 5000}), 0);
    double shown = num("GetTimer", {2});
    EXPECT_GE(shown, 5000);
    EXPECT_LT(shown, 5100);
    EXPECT_EQ(status("GetTimer", {3}), ERR_FINDTIMER);
    EXPECT_EQ(status("StopTimer", {2}), 0);
    EXPECT_EQ(status("PauseTimer", {2}), ERR_FINDTIMER);
}

} // namespace
