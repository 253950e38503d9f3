#include "display/qx_menu.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/commands/qx_objreg.h"
#include "core/vm/lauxlib.h"
#include "display/qx_display.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_upcalls.h"

extern "C" {
qxMenu *qxMenus;
}

namespace {

char *copyText(const char *s)
{
    size_t n = std::strlen(s) + 1;
    auto *c = static_cast<char *>(std::malloc(n));
    if (c)
        std::memcpy(c, s, n);
    return c;
}

// The item's own fields "flags", "id" and "hotkey" of the entry at e.
int readOptions(lua_State *L, int e, qxMenuItem *item)
{
    lua_pushstring(L, "flags");
    lua_gettable(L, e);
    if (!lua_isnil(L, -1)) {
        if (!lua_isnumber(L, -1)) {
            lua_pop(L, 1);
            return ERR_WRONGUSAGE;
        }
        item->flags = (uint32_t)(int64_t)lua_tonumber(L, -1);
    }
    lua_pop(L, 1);
    if ((item->flags & QX_MENUITEM_TOGGLE) && (item->flags & QX_MENUITEM_RADIO))
        return ERR_RADIOTOGGLEMENU;
    const char *keys[2] = {"id", "hotkey"};
    char **fields[2] = {&item->id, &item->hotkey};
    for (int k = 0; k < 2; k++) {
        lua_pushstring(L, keys[k]);
        lua_gettable(L, e);
        if (!lua_isnil(L, -1)) {
            if (lua_type(L, -1) != LUA_TSTRING && !lua_isnumber(L, -1)) {
                lua_pop(L, 1);
                return ERR_STRINGEXPECTED;
            }
            if (!(*fields[k] = copyText(lua_tostring(L, -1)))) {
                lua_pop(L, 1);
                return ERR_MEM;
            }
        }
        lua_pop(L, 1);
    }
    return 0;
}

int readEntry(lua_State *L, int e, int level, qxMenuItem **out)
{
    *out = nullptr;
    lua_rawgeti(L, e, 0);
    const char *title = nullptr;
    size_t length = 0;
    int r = 0;
    // A top-level title must be a real string; deeper ones may be numbers.
    if (lua_type(L, -1) == LUA_TSTRING || (level > 0 && lua_isnumber(L, -1))) {
        title = lua_tostring(L, -1);
        length = lua_strlen(L, -1);
        if (!length && level == 0)
            r = ERR_WRONGUSAGE;
    } else if (level == 0 || !lua_isnil(L, -1)) {
        r = ERR_STRINGEXPECTED;
    }
    if (r) {
        lua_pop(L, 1);
        return r;
    }
    auto *item = static_cast<qxMenuItem *>(std::calloc(1, sizeof(qxMenuItem) + (length ? length + 1 : 0)));
    if (!item) {
        lua_pop(L, 1);
        return ERR_MEM;
    }
    if (length) {
        item->title = reinterpret_cast<char *>(item + 1);
        std::memcpy(item->title, title, length + 1);
    }
    lua_pop(L, 1);
    lua_rawgeti(L, e, 1);
    if (lua_istable(L, -1)) {
        r = level >= 2 ? ERR_MENUCOMPLEXITY
                       : qxReadMenuTree(L, lua_gettop(L), level + 1, &item->submenu);
    } else if (lua_isnil(L, -1)) {
        r = readOptions(L, e, item);
    } else {
        r = ERR_TABLEORNIL;
    }
    lua_pop(L, 1);
    if (r) {
        qxFreeMenuItems(item);
        return r;
    }
    *out = item;
    return 0;
}

qxMenuItem *findIn(qxMenuItem *items, const char *id, qxMenuItem **radioHead)
{
    qxMenuItem *head = nullptr;
    for (qxMenuItem *i = items; i; i = i->next) {
        head = (i->flags & QX_MENUITEM_RADIO) ? (head ? head : i) : nullptr;
        if (i->id && !strcasecmp(i->id, id)) {
            *radioHead = head;
            return i;
        }
    }
    for (qxMenuItem *i = items; i; i = i->next)
        if (i->submenu)
            if (qxMenuItem *f = findIn(i->submenu, id, radioHead))
                return f;
    return nullptr;
}

void freeMenu(lua_State *L, qxMenu *m)
{
    for (qxMenu **p = &qxMenus; *p; p = &(*p)->next)
        if (*p == m) {
            *p = m->next;
            break;
        }
    qxFreeMenuItems(m->items);
    auto **refs = reinterpret_cast<qxObjectDataItem **>(&m->data);
    if (L)
        qxFreeRefList(L, refs);
    std::free(m);
}

bool attached(const qxMenu *m)
{
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next))
        if (d->menu == m)
            return true;
    return false;
}

int checkedFree(lua_State *L, qxMenu *m)
{
    if (attached(m))
        return ERR_MENUATTACHED;
    freeMenu(L, m);
    return 0;
}

int cmdCreateMenu(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 6, 0);
    int automatic = 0;
    uint32_t id = qxGetNewIDArg(L, 1, &automatic);
    if (!lua_istable(L, 2))
        return ERR_TABLEORNIL;
    if (!automatic) {
        qxMenu *old = nullptr;
        if (!qxFindMenu({id, nullptr}, &old))
            if (int r = checkedFree(L, old))
                return r;
    }
    qxMenuItem *items = nullptr;
    if (int r = qxReadMenuTree(L, 2, 0, &items))
        return r;
    if (!items)
        return ERR_EMPTYMENUTREE;
    auto *m = static_cast<qxMenu *>(std::calloc(1, sizeof(qxMenu)));
    if (!m) {
        qxFreeMenuItems(items);
        return ERR_MEM;
    }
    m->type = QX_TYPE_MENU;
    m->id = automatic ? 0 : id;
    m->automatic = automatic ? m : nullptr;
    m->items = items;
    qxMenu **tail = &qxMenus;
    while (*tail)
        tail = &(*tail)->next;
    *tail = m;
    return automatic ? qxPushObjectID(L, {0, m}) : 0;
}

int cmdFreeMenu(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxMenu *m = nullptr;
    if (int r = qxFindMenu(qxGetObjectIDArg(L, 1), &m))
        return r;
    return checkedFree(L, m);
}

// The checks every item command makes; the item and its radio head.
int findItem(lua_State *L, qxMenuItem **item, qxMenuItem **head)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    if (qxDisplayAdapterActive())
        return ERR_DISPLAYADAPTERSUPPORT;
    qxObjectRef ref = qxGetObjectIDArg(L, 1);
    const char *id = luaL_checkstring(L, 2);
    if (!ref.automatic && ref.number == 0)
        return ERR_NOCONTEXTMENU;
    qxDisplay *d = nullptr;
    if (int r = qxFindDisplay(ref, &d))
        return r;
    if (!d->menu)
        return ERR_NOMENU;
    if (d->state == QX_DISPSTATE_CLOSED)
        return ERR_CLOSEDDISPLAY;
    if (d->fullScreen)
        return ERR_FULLSCREEN;
    *item = qxFindMenuItem(d->menu->items, id, head);
    if (!*item) {
        qxSetErrorString(id);
        return ERR_FINDMENUITEM;
    }
    return 0;
}

int checkable(const qxMenuItem *i)
{
    return (i->flags & (QX_MENUITEM_TOGGLE | QX_MENUITEM_RADIO)) ? 0 : ERR_WRONGUSAGE;
}

// The X11 back-end keeps no menu state: the item's own flags are the state.
int cmdSelectMenuItem(lua_State *L)
{
    qxMenuItem *i, *head;
    if (int r = findItem(L, &i, &head))
        return r;
    if (int r = checkable(i))
        return r;
    for (qxMenuItem *o = head; o && (o->flags & QX_MENUITEM_RADIO); o = o->next)
        o->flags &= ~QX_MENUITEM_SELECTED;
    i->flags |= QX_MENUITEM_SELECTED;
    return 0;
}

int cmdDeselectMenuItem(lua_State *L)
{
    qxMenuItem *i, *head;
    if (int r = findItem(L, &i, &head))
        return r;
    if (int r = checkable(i))
        return r;
    if (i->flags & QX_MENUITEM_RADIO)
        return ERR_WRONGUSAGE;
    i->flags &= ~QX_MENUITEM_SELECTED;
    return 0;
}

int cmdIsMenuItemSelected(lua_State *L)
{
    qxMenuItem *i, *head;
    if (int r = findItem(L, &i, &head))
        return r;
    if (int r = checkable(i))
        return r;
    lua_pushnumber(L, (i->flags & QX_MENUITEM_SELECTED) ? 1 : 0);
    return 1;
}

int cmdEnableMenuItem(lua_State *L)
{
    qxMenuItem *i, *head;
    if (int r = findItem(L, &i, &head))
        return r;
    i->flags &= ~QX_MENUITEM_DISABLED;
    return 0;
}

int cmdDisableMenuItem(lua_State *L)
{
    qxMenuItem *i, *head;
    if (int r = findItem(L, &i, &head))
        return r;
    i->flags |= QX_MENUITEM_DISABLED;
    return 0;
}

int cmdIsMenuItemDisabled(lua_State *L)
{
    qxMenuItem *i, *head;
    if (int r = findItem(L, &i, &head))
        return r;
    lua_pushnumber(L, (i->flags & QX_MENUITEM_DISABLED) ? 1 : 0);
    return 1;
}

} // namespace

extern "C" {

// Apart from the exported name, whose declaration has no size: clang reads
// only a table of known size while compiling.
static constexpr qxCommandDef menuCommandTableRows[] = {
    {"CreateMenu", cmdCreateMenu},
    {"FreeMenu", cmdFreeMenu},
    {"SelectMenuItem", cmdSelectMenuItem},
    {"DeselectMenuItem", cmdDeselectMenuItem},
    {"IsMenuItemSelected", cmdIsMenuItemSelected},
    {"DisableMenuItem", cmdDisableMenuItem},
    {"EnableMenuItem", cmdEnableMenuItem},
    {"IsMenuItemDisabled", cmdIsMenuItemDisabled},
    {nullptr, nullptr},
};

const qxCommandDef *const qxMenuCommandTable = menuCommandTableRows;
constexpr qxNames qxMenuCommandNames = qxNamesOf<menuCommandTableRows>;

int qxReadMenuTree(lua_State *L, int t, int level, qxMenuItem **out)
{
    *out = nullptr;
    qxMenuItem **tail = out;
    for (int k = 0;; k++) {
        lua_rawgeti(L, t, k);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            return 0;
        }
        int r = lua_istable(L, -1) ? readEntry(L, lua_gettop(L), level, tail) : ERR_TABLEORNIL;
        lua_pop(L, 1);
        if (r) {
            qxFreeMenuItems(*out);
            *out = nullptr;
            return r;
        }
        tail = &(*tail)->next;
    }
}

void qxFreeMenuItems(qxMenuItem *items)
{
    while (items) {
        qxMenuItem *next = items->next;
        qxFreeMenuItems(items->submenu);
        std::free(items->id);
        std::free(items->hotkey);
        std::free(items);
        items = next;
    }
}

qxMenuItem *qxFindMenuItem(qxMenuItem *items, const char *id, qxMenuItem **radioHead)
{
    *radioHead = nullptr;
    return findIn(items, id, radioHead);
}

int qxFindMenu(qxObjectRef ref, qxMenu **out)
{
    *out = nullptr;
    for (qxMenu *m = qxMenus; m; m = m->next)
        if (m->automatic == ref.automatic && m->id == ref.number) {
            *out = m;
            return 0;
        }
    if (ref.automatic)
        return ERR_FINDARRAY;
    qxSetErrorNumber((int)ref.number);
    return ERR_FINDMENU;
}

void qxFreeAllMenus(lua_State *L)
{
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next))
        d->menu = nullptr;
    while (qxMenus)
        freeMenu(L, qxMenus);
}
}
