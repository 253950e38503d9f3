// Menu trees read from tables, nesting limits, flags and the item search.
#include <gtest/gtest.h>

#include "core/vm/lauxlib.h"
#include "display/qx_menu.h"
#include "platform/qx_errcodes.h"

namespace {

struct MenuTree : ::testing::Test {
    lua_State *L = lua_open();
    void TearDown() override { lua_close(L); }
    // {title, {children...}} or {title, nil, flags=, id=}
    void entry(const char *title, int flags = 0, const char *id = nullptr)
    {
        lua_newtable(L);
        if (title) {
            lua_pushstring(L, title);
            lua_rawseti(L, -2, 0);
        }
        if (flags) {
            lua_pushstring(L, "flags");
            lua_pushnumber(L, flags);
            lua_settable(L, -3);
        }
        if (id) {
            lua_pushstring(L, "id");
            lua_pushstring(L, id);
            lua_settable(L, -3);
        }
    }
    // Sets the table on top as key k of the table below it.
    void put(int k) { lua_rawseti(L, -2, k); }
    int read(qxMenuItem **items) { return qxReadMenuTree(L, lua_gettop(L), 0, items); }
};

TEST_F(MenuTree, FileOpenAndSeparators)
{
    lua_newtable(L);          // tree
    entry("File");            // tree[0]
    lua_newtable(L);          //   children
    entry("Open", 0, "open"); put(0);
    entry(nullptr);           put(1); // separator
    entry("", 0, "blank");    put(2); // also a separator
    put(1);
    put(0);
    qxMenuItem *items = nullptr;
    ASSERT_EQ(read(&items), 0);
    ASSERT_TRUE(items && items->submenu);
    EXPECT_STREQ(items->title, "File");
    EXPECT_EQ(items->next, nullptr);
    EXPECT_STREQ(items->submenu->title, "Open");
    EXPECT_EQ(items->submenu->next->title, nullptr);
    EXPECT_EQ(items->submenu->next->next->title, nullptr);
    qxMenuItem *head;
    EXPECT_EQ(qxFindMenuItem(items, "OPEN", &head), items->submenu);
    EXPECT_EQ(qxFindMenuItem(items, "nothing", &head), nullptr);
    qxFreeMenuItems(items);
}

TEST_F(MenuTree, Errors)
{
    lua_newtable(L);
    entry("");
    put(0);
    qxMenuItem *items = reinterpret_cast<qxMenuItem *>(1);
    EXPECT_EQ(read(&items), ERR_WRONGUSAGE);
    EXPECT_EQ(items, nullptr);
    lua_settop(L, 0);
    lua_newtable(L);
    lua_pushnumber(L, 3);
    put(0);
    EXPECT_EQ(read(&items), ERR_TABLEORNIL);
    lua_settop(L, 0);
    lua_newtable(L);
    entry("A", 1 | 8);
    put(0);
    EXPECT_EQ(read(&items), ERR_RADIOTOGGLEMENU);
    // Four levels are too many; three are fine.
    for (int depth : {2, 3}) { // submenus below the top: 3 or 4 levels
        lua_settop(L, 0);
        lua_newtable(L);
        for (int i = 0; i < depth; i++) {
            entry("X");
            lua_newtable(L);
        }
        entry("leaf");
        put(0);
        for (int i = 0; i < depth; i++) {
            put(1);
            put(0);
        }
        int r = read(&items);
        EXPECT_EQ(r, depth == 2 ? 0 : ERR_MENUCOMPLEXITY) << depth;
        qxFreeMenuItems(items);
    }
}

TEST_F(MenuTree, RadioRunHeadAndDepthFirstOrder)
{
    lua_newtable(L);
    entry("Top");
    lua_newtable(L);
    entry("plain", 0, "p");    put(0);
    entry("r1", 8, "r1");      put(1);
    entry("r2", 8, "r2");      put(2);
    entry("Sub");
    lua_newtable(L);
    entry("deep", 1, "r1"); put(0); // same id deeper: the shallower one wins
    put(1);
    put(3);
    put(1);
    put(0);
    qxMenuItem *items = nullptr;
    ASSERT_EQ(read(&items), 0);
    qxMenuItem *head = nullptr;
    qxMenuItem *r2 = qxFindMenuItem(items, "r2", &head);
    ASSERT_TRUE(r2);
    EXPECT_STREQ(head->title, "r1");
    EXPECT_STREQ(qxFindMenuItem(items, "r1", &head)->title, "r1");
    qxFindMenuItem(items, "p", &head);
    EXPECT_EQ(head, nullptr);
    qxFreeMenuItems(items);
}

} // namespace
