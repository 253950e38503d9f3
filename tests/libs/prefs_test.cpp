// The preferences file: where it lives, its bytes, and that a failed save
// leaves the old file as it was.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/runtime/qx_startup.h"
#include "libs/qx_dos.h"
#include "libs/qx_prefs.h"
#include "libs/qx_serialize.h"
#include "libtest.h"

namespace {

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct PrefsTest : libtest::LibTest {
    qxAppletInfo applet{};
    std::string home, savedHome;
    bool hadHome = false;
    void SetUp() override {
        LibTest::SetUp();
        if (const char *h = std::getenv("HOME")) {
            hadHome = true;
            savedHome = h;
        }
        char dir[] = "/tmp/qxprefstestXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        home = dir;
        setenv("HOME", dir, 1);
        std::strcpy(applet.header[5], "zephyr.test");
        lua_pushstring(L, "applet");
        lua_pushlightuserdata(L, &applet);
        lua_settable(L, LUA_REGISTRYINDEX);
    }
    void TearDown() override {
        std::system(("rm -rf " + home).c_str());
        if (hadHome) setenv("HOME", savedHome.c_str(), 1);
        else unsetenv("HOME");
        LibTest::TearDown();
    }
    std::string file() const { return home + "/.zephyrane-kit/preferences/zephyr.test"; }
    void pushSample() {
        lua_newtable(L);
        qxSetFieldStr(L, "name", "value");
        qxSetFieldNum(L, "n", 42.5);
        lua_pushstring(L, "sub");
        lua_newtable(L);
        qxSetFieldInt(L, "x", 1);
        lua_settable(L, -3);
    }
};

TEST_F(PrefsTest, IdentifierNamesAFileInsideTheDirectory) {
    char path[1024];
    for (const char *bad : {"", "a/b", "..", ".", "../x", "/abs", "..\\..\\x"})
        EXPECT_EQ(qxPrefsPath(bad, path, sizeof path), ERR_WRONGUSAGE) << bad;
    ASSERT_EQ(qxPrefsPath("ok.id", path, sizeof path), 0);
    EXPECT_EQ(std::string(path), home + "/.zephyrane-kit/preferences/ok.id");
    DIR *d = opendir((home + "/.zephyrane-kit/preferences").c_str());
    EXPECT_NE(d, nullptr);
    if (d) closedir(d);
    unsetenv("HOME");
    EXPECT_EQ(qxPrefsPath("ok.id", path, sizeof path), ERR_WRITEFILE);
    lua_settop(L, 0);
    pushSample();
    EXPECT_EQ(qxSavePrefsFile(L, 1), ERR_WRITEFILE);
    EXPECT_EQ(qxLoadPrefsFile(L, 0), ERR_READFILE);
}

TEST_F(PrefsTest, FileIsMagicAndTableStreamAndFailedSaveKeepsIt) {
    lua_settop(L, 0);
    pushSample();
    ASSERT_EQ(qxSavePrefsFile(L, 1), 0);
    std::string bytes = slurp(file());
    uint64_t size = 0;
    ASSERT_EQ(qxWriteTableStream(L, 1, nullptr, nullptr, &size), 0);
    std::vector<uint8_t> stream(size);
    qxMemCursor cursor{stream.data(), stream.data() + stream.size()};
    ASSERT_EQ(qxWriteTableStream(L, 1, nullptr, &cursor, nullptr), 0);
    EXPECT_EQ(bytes, "PRFS" + std::string(stream.begin(), stream.end()));

    // A value the writer refuses half-way: the old file stays, no leftovers.
    lua_settop(L, 0);
    pushSample();
    lua_pushstring(L, "zz");
    lua_pushcfunction(L, [](lua_State *) { return 0; });
    lua_settable(L, 1);
    EXPECT_NE(qxSavePrefsFile(L, 1), 0);
    EXPECT_EQ(slurp(file()), bytes);
    int entries = 0;
    DIR *d = opendir((home + "/.zephyrane-kit/preferences").c_str());
    ASSERT_NE(d, nullptr);
    while (dirent *e = readdir(d)) entries += e->d_name[0] != '.';
    closedir(d);
    EXPECT_EQ(entries, 1);

    // Mode 0 leaves a new table; mode 1 adds to the table at index 1.
    lua_settop(L, 0);
    ASSERT_EQ(qxLoadPrefsFile(L, 0), 0);
    ASSERT_EQ(lua_gettop(L), 1);
    lua_pushstring(L, "sub");
    lua_gettable(L, 1);
    lua_pushstring(L, "x");
    lua_gettable(L, -2);
    EXPECT_EQ(lua_tonumber(L, -1), 1);
    lua_settop(L, 0);
    lua_newtable(L);
    qxSetFieldStr(L, "mine", "kept");
    ASSERT_EQ(qxLoadPrefsFile(L, 1), 0);
    EXPECT_EQ(lua_gettop(L), 1);
    lua_pushstring(L, "mine");
    lua_gettable(L, 1);
    lua_pushstring(L, "name");
    lua_gettable(L, 1);
    EXPECT_STREQ(lua_tostring(L, -2), "kept");
    EXPECT_STREQ(lua_tostring(L, -1), "value");

    // Truncated stream: the reader's error, nothing left on the stack.
    std::ofstream(file(), std::ios::binary) << bytes.substr(0, bytes.size() - 3);
    lua_settop(L, 0);
    EXPECT_NE(qxLoadPrefsFile(L, 0), 0);
    EXPECT_EQ(lua_gettop(L), 0);
}

} // namespace
