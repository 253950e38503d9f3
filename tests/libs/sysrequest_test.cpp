// The requester commands against a recording stand-in for the requester
// dispatch: what they hand the requester and how they turn answers into
// script values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/runtime/qx_startup.h"
#include "libs/qx_requestdispatch.h"
#include "libs/qx_systemlib.h"
#include "libtest.h"
#include "platform/qx_memory.h"

namespace {

using libtest::list;

struct Seen {
    std::string text, dir, file, entries;
    int mode = -9, hide = -9, preselected = -9, opened = 0, closed = 0;
};
Seen seen;
int systemResult;
qxFontRequestResult fontAnswer;

char *copy(const char *s) {
    auto *p = static_cast<char *>(qxAlloc(std::strlen(s) + 1, 0));
    std::strcpy(p, s);
    return p;
}

int stubSystem(lua_State *, const char *title, const char *, const char *, int, int, int *choice) {
    seen.text = title;
    *choice = 2;
    if (systemResult == ERR_USERABORT) qxVmAbort = 1;
    return systemResult;
}
int stubString(lua_State *, const char *, const char *, const char *def, int, int, int, int, char **text) {
    seen.text = def;
    *text = copy("typed");
    return 0;
}
int stubList(lua_State *, const char *, const char *, const char *entries, int preselected, int, int *index) {
    const char *p = entries;
    while (*p) p += std::strlen(p) + 1;
    seen.entries.assign(entries, static_cast<size_t>(p - entries) + 1);
    seen.preselected = preselected;
    *index = 1;
    return 0;
}
int stubPath(lua_State *, const char *, int, const char *def, int, char **path) {
    seen.text = def;
    *path = copy("/chosen/dir");
    return 0;
}
int stubFile(lua_State *, const char *, const char *, int mode, const char *dir, const char *file, int hide,
             qxFileRequestResult *r) {
    seen.mode = mode;
    seen.hide = hide;
    seen.dir = dir;
    seen.file = file;
    r->path = copy("/d/");
    r->file = static_cast<char *>(qxAlloc(6, 1));
    std::memcpy(r->file, "x\0yz\0", 6);
    r->count = 2;
    r->completed = 1;
    return 0;
}
int stubFont(lua_State *, const char *, const char *, int, qxFontRequestResult *a) {
    seen.preselected = a->weight;
    *a = fontAnswer;
    return 0;
}
void stubOpen(lua_State *, int open) { (open ? seen.opened : seen.closed)++; }

struct RequestTest : libtest::LibTest {
    qxRequesterDispatch saved = qxRequesters;
    qxAppletInfo applet{};
    void SetUp() override {
        LibTest::SetUp();
        ASSERT_EQ(qxOpenSystemLib(L), 0);
        std::strcpy(applet.header[0], "Applet Title");
        lua_pushstring(L, "applet");
        lua_pushlightuserdata(L, &applet);
        lua_settable(L, LUA_REGISTRYINDEX);
        qxRequesters = {stubSystem, stubPath, stubFile, stubString, stubList, stubFont, nullptr, stubOpen};
        seen = Seen{};
        systemResult = 0;
    }
    void TearDown() override {
        qxRequesters = saved;
        qxFreeSystemLib(L);
        LibTest::TearDown();
    }
};

TEST_F(RequestTest, SystemRequestTitleAndQuitDuringRequester) {
    EXPECT_EQ(num("SystemRequest", {"", "body", "OK|Cancel"}), 2);
    EXPECT_EQ(seen.text, "Applet Title");
    EXPECT_EQ(seen.opened, 1);
    EXPECT_EQ(seen.closed, 1);
    // A quit while the requester was open: the answer counts and the quit
    // flag stays for the script's next poll.
    systemResult = ERR_USERABORT;
    lua_settop(L, 0);
    pushCommand("SystemRequest");
    lua_pushstring(L, "t");
    lua_pushstring(L, "b");
    lua_pushstring(L, "OK");
    ASSERT_EQ(lua_pcall(L, 3, 1, 0), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 2);
    EXPECT_EQ(qxVmAbort, 1);
    qxVmAbort = 0;
    systemResult = ERR_WRONGUSAGE;
    EXPECT_EQ(status("SystemRequest", {"t", "b", "OK"}), ERR_WRONGUSAGE);
}

TEST_F(RequestTest, StringRequestCutsDefaultAtWholeCharacter) {
    qxTextModeUtf8 = 1;
    libtest::Result r = call("StringRequest", {"t", "b", "a\xC3\xA9z", 0, 2});
    EXPECT_EQ(seen.text, "a");
    EXPECT_EQ(r.str(0), "typed");
    EXPECT_EQ(r.num(1), 1);
    qxTextModeUtf8 = 0;
    call("StringRequest", {"t", "b", "a\xC3\xA9z", 0, 2});
    EXPECT_EQ(seen.text, "a\xC3");
    EXPECT_EQ(status("StringRequest", {"t", "b", "12abc", 3}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("StringRequest", {"t", "b", "12", 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("StringRequest", {"t", "b", "12", 0, -1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("StringRequest", {"t", "b", "12.5", 3}), 0);
}

TEST_F(RequestTest, ListRequestBlockAndDefault) {
    EXPECT_EQ(num("ListRequest", {"t", "b", list({"a", "", 7}), 5}), 1);
    EXPECT_EQ(seen.entries, std::string("a\0 \0" "7\0\0", 7));
    EXPECT_EQ(seen.preselected, -1);
    call("ListRequest", {"t", "b", list({"a", "b"}), 1});
    EXPECT_EQ(seen.preselected, 1);
    EXPECT_EQ(status("ListRequest", {"t", "b", list({})}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("ListRequest", {"t", "b", list({"a", list({})})}), ERR_WRONGUSAGE);
    std::vector<libtest::Arg> many(5000, libtest::Arg("entry"));
    EXPECT_EQ(num("ListRequest", {"t", "b", list(many), 4999}), 1);
    EXPECT_EQ(seen.preselected, 4999);
}

TEST_F(RequestTest, FileAndPathRequestsRememberTheirChoice) {
    lua_settop(L, 0);
    pushCommand("FileRequest");
    lua_pushstring(L, "t");
    lua_pushstring(L, "");
    lua_pushnumber(L, 65536 + 1);
    ASSERT_EQ(lua_pcall(L, 3, 1, 0), 0);
    EXPECT_EQ(seen.mode, 1);
    EXPECT_EQ(seen.hide, 1);
    lua_rawgeti(L, 1, 0);
    lua_rawgeti(L, 1, 1);
    lua_rawgeti(L, 1, 2);
    EXPECT_STREQ(lua_tostring(L, 2), "/d/x");
    EXPECT_STREQ(lua_tostring(L, 3), "/d/yz");
    EXPECT_STREQ(lua_tostring(L, 4), "");
    // The last chosen file gives both defaults.
    EXPECT_EQ(str("FileRequest", {"t"}), "/d/x");
    EXPECT_EQ(seen.dir, "/d/");
    EXPECT_EQ(seen.file, "x");
    EXPECT_EQ(seen.hide, 0);
    EXPECT_EQ(status("FileRequest", {"t", "", 3}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("FileRequest", {"t", "", 0.0 / 0.0}), ERR_WRONGUSAGE);

    EXPECT_EQ(str("PathRequest", {"t", 0, "/given"}), "/chosen/dir");
    EXPECT_EQ(seen.text, "/given");
    str("PathRequest", {"t"});
    EXPECT_EQ(seen.text, "/chosen/dir");
    EXPECT_EQ(status("PathRequest", {"t", 1}), ERR_WRONGUSAGE);
}

TEST_F(RequestTest, FontNameFromWordsTable) {
    char name[300];
    const struct {
        int weight, slant;
        const char *name;
    } cases[] = {{200, 100, "Sans Bold Italic"}, {80, 0, "Sans"},          {180, 0, "Sans Semibold"},
                 {205, 110, "Sans Extrabold Oblique"}, {40, 0, "Sans Extralight"}, {123, 7, "Sans"},
                 {0, 0, "Sans Thin"},          {210, 0, "Sans Heavy"}};
    for (const auto &c : cases) {
        qxFontDisplayName("Sans", c.weight, c.slant, name, sizeof name);
        EXPECT_STREQ(name, c.name) << c.weight << " " << c.slant;
    }
    fontAnswer = qxFontRequestResult{};
    std::strcpy(fontAnswer.name, "family");
    fontAnswer.size = 12;
    fontAnswer.weight = 200;
    fontAnswer.slant = 100;
    lua_settop(L, 0);
    pushCommand("FontRequest");
    lua_pushstring(L, "t");
    ASSERT_EQ(lua_pcall(L, 1, 1, 0), 0);
    EXPECT_EQ(seen.preselected, 80);
    lua_pushstring(L, "name");
    lua_gettable(L, 1);
    EXPECT_STREQ(lua_tostring(L, -1), "family Bold Italic");
    lua_pushstring(L, "size");
    lua_gettable(L, 1);
    EXPECT_EQ(lua_tonumber(L, -1), 12);
}

} // namespace
