// Menu strips: trees of items read from script tables, found by their
// identifier text, attached to displays.
#pragma once
#include <cstdint>

#include "core/vm/lua.h"
#include "platform/qx_objectref.h"

struct qxDisplay;

enum : uint32_t {
    QX_TYPE_MENU = 57,
    QX_MENUITEM_TOGGLE = 1,
    QX_MENUITEM_SELECTED = 2,
    QX_MENUITEM_DISABLED = 4,
    QX_MENUITEM_RADIO = 8,
};

struct qxMenuItem {
    qxMenuItem *next;
    char *title; // in the same allocation; null for a separator
    char *id;
    char *hotkey;
    uint32_t flags;
    qxMenuItem *submenu;
};

struct qxMenu {
    uint32_t type;
    uint32_t id;
    void *automatic;
    qxMenu *next;
    void *data;
    qxMenuItem *items;
};

extern "C" {
extern qxMenu *qxMenus;
// Reads the tree at stack index t (level 0); 0 or the tree's error code,
// with nothing kept on error.
int qxReadMenuTree(lua_State *L, int t, int level, qxMenuItem **out);
void qxFreeMenuItems(qxMenuItem *items);
// Depth first, each level compared before its submenus; *radioHead is the
// first item of the item's radio run, or null.
qxMenuItem *qxFindMenuItem(qxMenuItem *items, const char *id, qxMenuItem **radioHead);
// 0, 1041 or 1537 with the number stored.
int qxFindMenu(qxObjectRef ref, qxMenu **out);
void qxFreeAllMenus(lua_State *L);
extern const struct qxCommandDef *const qxMenuCommandTable;
extern const struct qxNames qxMenuCommandNames;
}
