// System-library commands on object data, object queries and tables.
#pragma once

#include "core/vm/lua.h"

// Object data and queries (qx_objdata.cpp).
int qxCmdSetObjectData(lua_State *L);
int qxCmdGetObjectData(lua_State *L);
int qxCmdHaveObjectData(lua_State *L);
int qxCmdClearObjectData(lua_State *L);
int qxCmdCopyObjectData(lua_State *L);
int qxCmdHaveObject(lua_State *L);
int qxCmdGetObjects(lua_State *L);
int qxCmdGetObjectType(lua_State *L);

// Tables (qx_tablecmds.cpp, qx_tablesort.cpp).
int qxCmdPack(lua_State *L);
int qxCmdUnpack(lua_State *L);
int qxCmdListItems(lua_State *L);
int qxCmdInsertItem(lua_State *L);
int qxCmdRemoveItem(lua_State *L);
int qxCmdConcat(lua_State *L);
int qxCmdSort(lua_State *L);
int qxCmdForEach(lua_State *L);
int qxCmdForEachI(lua_State *L);
int qxCmdNextItem(lua_State *L);
int qxCmdPairs(lua_State *L);
int qxCmdIPairs(lua_State *L);
int qxCmdIsTableEmpty(lua_State *L);
int qxCmdTableItems(lua_State *L);
int qxCmdHaveItem(lua_State *L);
int qxCmdRawGet(lua_State *L);
int qxCmdRawSet(lua_State *L);
int qxCmdRawEqual(lua_State *L);
int qxCmdGetMetaTable(lua_State *L);
int qxCmdSetMetaTable(lua_State *L);
int qxCmdCopyTable(lua_State *L);
int qxCmdIsNil(lua_State *L);
int qxCmdIIf(lua_State *L);
int qxCmdGetType(lua_State *L);
int qxCmdIncreasePointer(lua_State *L);
int qxCmdDecreasePointer(lua_State *L);

// Length of a list: entries from index 0 up to the first nil (and, when
// stopAtEmpty is set, the first empty string).
int qxListLength(lua_State *L, int t, bool stopAtEmpty = false);

// The rows above for the system library's command table.
#define QX_TABLE_COMMAND_ROWS                                                                      \
    {"SetObjectData", qxCmdSetObjectData}, {"GetObjectData", qxCmdGetObjectData},                  \
        {"HaveObjectData", qxCmdHaveObjectData}, {"ClearObjectData", qxCmdClearObjectData},        \
        {"CopyObjectData", qxCmdCopyObjectData}, {"HaveObject", qxCmdHaveObject},                  \
        {"GetObjects", qxCmdGetObjects}, {"GetObjectType", qxCmdGetObjectType},                    \
        {"Pack", qxCmdPack}, {"Unpack", qxCmdUnpack}, {"ListItems", qxCmdListItems},               \
        {"InsertItem", qxCmdInsertItem}, {"RemoveItem", qxCmdRemoveItem},                          \
        {"Concat", qxCmdConcat}, {"Sort", qxCmdSort}, {"ForEach", qxCmdForEach},                   \
        {"ForEachI", qxCmdForEachI}, {"NextItem", qxCmdNextItem}, {"Pairs", qxCmdPairs},           \
        {"IPairs", qxCmdIPairs}, {"IsTableEmpty", qxCmdIsTableEmpty},                              \
        {"TableItems", qxCmdTableItems}, {"HaveItem", qxCmdHaveItem}, {"RawGet", qxCmdRawGet},     \
        {"RawSet", qxCmdRawSet}, {"RawEqual", qxCmdRawEqual},                                      \
        {"GetMetaTable", qxCmdGetMetaTable}, {"SetMetaTable", qxCmdSetMetaTable},                  \
        {"CopyTable", qxCmdCopyTable}, {"IsNil", qxCmdIsNil}, {"IIf", qxCmdIIf},                   \
        {"GetType", qxCmdGetType}, {"IncreasePointer", qxCmdIncreasePointer},                      \
        {"DecreasePointer", qxCmdDecreasePointer}
