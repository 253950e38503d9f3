// Object-list registry, custom object types and object data lists.
#include "core/commands/qx_objreg.h"

#include <cstring>

#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

struct ListNode {
    ListNode *next;
    char *name; // null for built-in lists
    qxObjectHeader **head;
    qxObjectTypeHandler handler;
    uint32_t flags;
    uint32_t type;
};

ListNode *lists;
uint32_t nextCustomType = QX_FIRST_CUSTOM_TYPE;

char *copyText(const char *s) {
    size_t len = std::strlen(s);
    size_t bytes;
    if (!qxAddSize(len, 1, &bytes)) return nullptr;
    char *c = static_cast<char *>(qxAlloc(bytes, 0));
    if (c) std::memcpy(c, s, bytes);
    return c;
}

ListNode *appendList(void *head, uint32_t type) {
    auto *node = static_cast<ListNode *>(qxAlloc(sizeof(ListNode), 1));
    if (!node) return nullptr;
    node->head = static_cast<qxObjectHeader **>(head);
    node->type = type;
    ListNode **tail = &lists;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return node;
}

template <typename F> void forEachRecord(F f) {
    for (ListNode *l = lists; l; l = l->next)
        for (qxObjectHeader *h = l->head ? *l->head : nullptr; h; h = h->next)
            if (!f(h)) return;
}

const ListNode *customType(uint32_t type) {
    for (const ListNode *l = lists; l; l = l->next)
        if (l->name && l->type == type) return l;
    return nullptr;
}

void freeItem(lua_State *L, qxObjectDataItem *item) {
    if (L) luaL_unref(L, LUA_REGISTRYINDEX, static_cast<int>(item->ref));
    qxFree(item->key);
    qxFree(item);
}

} // namespace

extern "C" {

int qxRegisterObjectList(void *head, uint32_t type) { return appendList(head, type) ? 0 : ERR_MEM; }

int qxRegisterObjectType(void *head, const char *name, qxObjectTypeHandler handler,
                         uint32_t *type, uint32_t flags) {
    char *copy = copyText(name ? name : "");
    if (!copy) return ERR_MEM;
    ListNode *node = appendList(head, nextCustomType);
    if (!node) {
        qxFree(copy);
        return ERR_MEM;
    }
    node->name = copy;
    node->handler = handler;
    node->flags = flags;
    if (type) *type = nextCustomType;
    nextCustomType++;
    return 0;
}

int qxCountObjectsOfType(uint32_t type) {
    int n = 0;
    forEachRecord([&](qxObjectHeader *h) {
        if (h->type == type) n++;
        return true;
    });
    return n;
}

int qxPushObjectIDsOfType(lua_State *L, uint32_t type) {
    int n = 0;
    forEachRecord([&](qxObjectHeader *h) {
        if (h->type != type) return true;
        if (h->automatic) lua_pushlightuserdata(L, h->automatic);
        else lua_pushnumber(L, h->id);
        lua_rawseti(L, -2, n++);
        return true;
    });
    return n;
}

int qxGetObjectTypeOf(const void *automatic) {
    if (!automatic) return -1;
    int type = -1;
    forEachRecord([&](qxObjectHeader *h) {
        if (h->automatic != automatic) return true;
        type = static_cast<int>(h->type);
        return false;
    });
    return type;
}

qxObjectHeader *qxFindObjectData(uint32_t type, qxObjectRef ref) {
    qxObjectHeader *found = nullptr;
    forEachRecord([&](qxObjectHeader *h) {
        if (h->type != type || h->automatic != ref.automatic || (!ref.automatic && h->id != ref.number))
            return true;
        found = h;
        return false;
    });
    return found;
}

int qxCountCustomObjectTypes(void) { return static_cast<int>(nextCustomType - QX_FIRST_CUSTOM_TYPE); }

const char *qxGetCustomTypeName(uint32_t type) {
    const ListNode *l = customType(type);
    return l ? l->name : nullptr;
}

int qxCallCustomTypeHandler(void *argument, uint32_t type, intptr_t a, intptr_t b) {
    const ListNode *l = customType(type);
    if (!l || !l->handler) return ERR_WRONGUSAGE;
    // Plug-in handlers share the native calling convention on this platform.
    return l->handler(argument, a, b);
}

void qxFreeObjectRegistry(void) {
    while (lists) {
        ListNode *next = lists->next;
        qxFree(lists->name);
        qxFree(lists);
        lists = next;
    }
    nextCustomType = QX_FIRST_CUSTOM_TYPE;
}

// Object data

qxObjectDataItem *qxFindObjectDataItem(qxObjectDataItem *list, const char *key) {
    for (; list; list = list->next)
        if (qxStrICmp(list->key, key) == 0) return list;
    return nullptr;
}

int qxSetObjectDataItem(lua_State *L, const char *key, int index, qxObjectDataItem **list) {
    lua_pushvalue(L, index);
    int ref = luaL_ref(L, LUA_REGISTRYINDEX);
    if (qxObjectDataItem *item = qxFindObjectDataItem(*list, key)) {
        luaL_unref(L, LUA_REGISTRYINDEX, static_cast<int>(item->ref));
        item->ref = static_cast<uint32_t>(ref);
        return 0;
    }
    auto *item = static_cast<qxObjectDataItem *>(qxAlloc(sizeof(qxObjectDataItem), 1));
    char *copy = item ? copyText(key) : nullptr;
    if (!copy) {
        qxFree(item);
        luaL_unref(L, LUA_REGISTRYINDEX, ref);
        return ERR_MEM;
    }
    item->key = copy;
    item->ref = static_cast<uint32_t>(ref);
    while (*list) list = &(*list)->next;
    *list = item;
    return 0;
}

int qxRemoveObjectDataItem(lua_State *L, qxObjectDataItem **list, const char *key) {
    for (; *list; list = &(*list)->next) {
        if (qxStrICmp((*list)->key, key) != 0) continue;
        qxObjectDataItem *item = *list;
        *list = item->next;
        freeItem(L, item);
        return 1;
    }
    return 0;
}

void qxFreeRefList(lua_State *L, qxObjectDataItem **list) {
    while (*list) {
        qxObjectDataItem *next = (*list)->next;
        freeItem(L, *list);
        *list = next;
    }
}

int qxCopyNameList(lua_State *L, qxObjectDataItem *source, qxObjectDataItem **copy) {
    *copy = nullptr;
    qxObjectDataItem **tail = copy;
    for (; source; source = source->next) {
        auto *item = static_cast<qxObjectDataItem *>(qxAlloc(sizeof(qxObjectDataItem), 1));
        char *key = item ? copyText(source->key) : nullptr;
        if (!key) {
            qxFree(item);
            qxFreeRefList(L, copy);
            return ERR_MEM;
        }
        item->key = key;
        lua_rawgeti(L, LUA_REGISTRYINDEX, static_cast<int>(source->ref));
        item->ref = static_cast<uint32_t>(luaL_ref(L, LUA_REGISTRYINDEX));
        *tail = item;
        tail = &item->next;
    }
    return 0;
}

} // extern "C"
