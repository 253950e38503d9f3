// Bounded strings, paths, callbacks, plug-in lists and the
// object registry with its object data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/runtime/qx_lists.h"
#include "core/commands/qx_objreg.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/qx_vmregs.h"
#include "platform/qx_memory.h"
#include "testlib.h"

namespace {

TEST(ListsTest, BoundedCopiesAndPaths) {
    char buf[16];
    EXPECT_EQ(qxStrCopyN(buf, 4, "abcdef"), 0);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(qxStrCopyN(buf, sizeof buf, "abcdef"), 1);
    std::strcpy(buf, "x");
    EXPECT_EQ(qxStrCopyN(buf, 0, "abc"), 0);
    EXPECT_STREQ(buf, "x");

    char path[16] = "dir/";
    EXPECT_EQ(qxAddPart(path, "file", sizeof path), 1);
    EXPECT_STREQ(path, "dir/file");
    char empty[16] = "";
    EXPECT_EQ(qxAddPart(empty, "file", sizeof empty), 1);
    EXPECT_STREQ(empty, "file");
    char dir[16] = "dir";
    EXPECT_EQ(qxAddPart(dir, "sub", sizeof dir), 1);
    EXPECT_STREQ(dir, "dir/sub");
    // A path that would be cut is refused and left as it was.
    char small[10] = "dir";
    EXPECT_EQ(qxAddPart(small, "longname", sizeof small), 0);
    EXPECT_STREQ(small, "dir");
    EXPECT_EQ(qxAddPart(small, "12345", sizeof small), 1); // "dir/12345" fits exactly
    EXPECT_STREQ(small, "dir/12345");

    EXPECT_STREQ(qxFilePart("PROGDIR:data/x.png"), "x.png");
    EXPECT_STREQ(qxFilePart("a:b"), "b");
    EXPECT_STREQ(qxFilePart("c:\\dir\\f.txt"), "f.txt");
    EXPECT_STREQ(qxFilePart("plain"), "plain");

    EXPECT_EQ(qxMulAdd(0x10000, 0x10000, 5), 5u);
}

int lineCalls;
int lineCallback(lua_State *, void *data) {
    lineCalls++;
    return *static_cast<int *>(data);
}
uintptr_t textModeSeen = 99;
void textModeCallback(uintptr_t value, void *, uintptr_t) { textModeSeen = value; }

TEST(ListsTest, CallbacksAndPluginLists) {
    auto f = [](auto fn) { return reinterpret_cast<qxCallbackFunc>(fn); };
    EXPECT_EQ(qxAddCallback(5, f(lineCallback), nullptr, 0), nullptr);
    int stop = 0, fail = 1077;
    qxCallbackNode *a = qxAddCallback(1, f(lineCallback), &stop, 1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->mode, 1u);
    // A line callback puts the interpreter on its per-line road while the
    // line hook is on.
    EXPECT_EQ(qxVmEveryLine, 1);
    qxSetLineHookDisabled(1);
    EXPECT_EQ(qxVmEveryLine, 0);
    qxSetLineHookDisabled(0);
    EXPECT_EQ(qxVmEveryLine, 1);
    qxCallbackNode *b = qxAddCallback(1, f(lineCallback), &fail, 0);
    qxAddCallback(3, f(textModeCallback), nullptr, 0);
    // The first non-zero result ends the walk; disabled ones are skipped.
    EXPECT_EQ(qxRunCallbacks(nullptr, 1, nullptr, 0), 1077);
    EXPECT_EQ(lineCalls, 2);
    qxSetCallbackDisabled(b, 1);
    EXPECT_EQ(qxRunCallbacks(nullptr, 1, nullptr, 0), 0);
    EXPECT_EQ(lineCalls, 3);
    qxRunCallbacks(nullptr, 3, nullptr, 0);
    EXPECT_EQ(textModeSeen, 0u);
    qxSetCallbackDisabled(a, 1);
    EXPECT_EQ(qxVmEveryLine, 0);
    EXPECT_EQ(qxHasCallbacks(1), 0);
    qxSetCallbackDisabled(a, 0);
    qxRemoveCallback(a);
    qxRemoveCallback(b);
    EXPECT_EQ(qxVmEveryLine, 0);

    qxAppletInfo applet{};
    qxAppletInfo *saved = qxApplet;
    qxApplet = &applet;
    applet.versionMajor = 5;
    qxPluginListNode *list = nullptr;
    int item;
    EXPECT_EQ(qxAddToPluginList(&list, &item), 1566);
    applet.versionMajor = 6;
    EXPECT_EQ(qxAddToPluginList(&list, &item), 0);
    EXPECT_EQ(qxAddToPluginList(&list, &item), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_NE(list->next, nullptr);
    qxAddCallback(1, f(lineCallback), &stop, 0);
    qxFreeRuntimeLists(nullptr);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(qxHasCallbacks(1), 0);
    EXPECT_EQ(qxHasCallbacks(3), 0);
    EXPECT_EQ(qxVmEveryLine, 0);
    qxApplet = saved;
}

struct Obj {
    qxObjectHeader h;
    int payload;
};

int typeHandler(void *argument, intptr_t a, intptr_t b) {
    return static_cast<int>(*static_cast<int *>(argument) + a + b);
}

TEST(ObjectRegistryTest, ListsTypesAndData) {
    testlib::resetErrorState();
    lua_State *L = lua_open();
    Obj o1{}, o2{}, o3{};
    o1.h = {3, 1, nullptr, &o2.h, nullptr};
    o2.h = {3, 0, &o2, nullptr, nullptr};
    Obj *brushes = &o1;
    o3.h = {62, 9, nullptr, nullptr, nullptr};
    Obj *widgets = nullptr, *customs = nullptr;
    ASSERT_EQ(qxRegisterObjectList(&brushes, 3), 0);
    uint32_t t1 = 0, t2 = 0;
    ASSERT_EQ(qxRegisterObjectType(&widgets, "widget", typeHandler, &t1, 0), 0);
    ASSERT_EQ(qxRegisterObjectType(&customs, "gadget", nullptr, &t2, 0), 0);
    EXPECT_EQ(t1, 61u);
    EXPECT_EQ(t2, 62u);
    customs = &o3;
    EXPECT_EQ(qxCountCustomObjectTypes(), 2);
    EXPECT_STREQ(qxGetCustomTypeName(62), "gadget");
    EXPECT_EQ(qxGetCustomTypeName(3), nullptr);
    int arg = 100;
    EXPECT_EQ(qxCallCustomTypeHandler(&arg, 61, 2, 3), 105);
    EXPECT_EQ(qxCallCustomTypeHandler(&arg, 70, 2, 3), 1055);

    EXPECT_EQ(qxCountObjectsOfType(3), 2);
    EXPECT_EQ(qxCountObjectsOfType(62), 1);
    lua_newtable(L);
    EXPECT_EQ(qxPushObjectIDsOfType(L, 3), 2);
    lua_rawgeti(L, 1, 0);
    EXPECT_EQ(lua_tonumber(L, -1), 1);
    lua_rawgeti(L, 1, 1);
    EXPECT_EQ(lua_touserdata(L, -1), &o2);
    lua_settop(L, 0);
    EXPECT_EQ(qxGetObjectTypeOf(&o2), 3);
    EXPECT_EQ(qxGetObjectTypeOf(nullptr), -1);
    EXPECT_EQ(qxGetObjectTypeOf(&o3), -1);
    EXPECT_EQ(qxFindObjectData(3, qxObjectRef{1, nullptr}), &o1.h);
    EXPECT_EQ(qxFindObjectData(3, qxObjectRef{0, &o2}), &o2.h);
    EXPECT_EQ(qxFindObjectData(4, qxObjectRef{1, nullptr}), nullptr);

    // Object data: keys ignore case; values are kept by reference.
    lua_pushstring(L, "first");
    lua_pushnumber(L, 2);
    ASSERT_EQ(qxSetObjectDataItem(L, "Name", 1, &o1.h.data), 0);
    ASSERT_EQ(qxSetObjectDataItem(L, "size", 2, &o1.h.data), 0);
    lua_settop(L, 0);
    lua_pushstring(L, "second");
    ASSERT_EQ(qxSetObjectDataItem(L, "NAME", 1, &o1.h.data), 0);
    lua_settop(L, 0);
    qxObjectDataItem *item = qxFindObjectDataItem(o1.h.data, "name");
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(item->key, "Name");
    lua_rawgeti(L, LUA_REGISTRYINDEX, static_cast<int>(item->ref));
    EXPECT_STREQ(lua_tostring(L, -1), "second");
    lua_settop(L, 0);

    qxObjectDataItem *copy = nullptr;
    ASSERT_EQ(qxCopyNameList(L, o1.h.data, &copy), 0);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->ref, o1.h.data->ref);
    EXPECT_EQ(qxRemoveObjectDataItem(L, &o1.h.data, "SIZE"), 1);
    EXPECT_EQ(qxRemoveObjectDataItem(L, &o1.h.data, "size"), 0);
    EXPECT_EQ(qxFindObjectDataItem(copy, "size") != nullptr, true);
    qxFreeRefList(L, &o1.h.data);
    qxFreeRefList(L, &copy);
    EXPECT_EQ(o1.h.data, nullptr);

    qxFreeObjectRegistry();
    EXPECT_EQ(qxCountObjectsOfType(3), 0);
    EXPECT_EQ(qxCountCustomObjectTypes(), 0);
    lua_close(L);
}

} // namespace
