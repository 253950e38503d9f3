#include "core/commands/qx_commands.h"

#include <cstring>

#include "core/commands/qx_cmdcall.h"
#include "core/vm/lauxlib.h"

#include "platform/qx_memory.h"

extern "C" {

qxLibraryEntry *qxLibraryNames;

int qxRegisterLibName(const qxCommandDef *table, const char *name)
{
    auto *node = static_cast<qxLibraryEntry *>(qxAlloc(sizeof(qxLibraryEntry), 1));
    if (!node)
        return 1000;
    node->commands = table;
    std::strncpy(node->name, name, sizeof(node->name) - 1);
    qxLibraryEntry **tail = &qxLibraryNames;
    while (*tail)
        tail = &(*tail)->next;
    *tail = node;
    return 0;
}

} // extern "C"

void qxAddCommandRow(qxCommandSet *set, const qxCommandDef *table, const qxNames &names, size_t index)
{
    const qxNameKey &key = names.keys[index];
    set->rows.push_back(table[index]);
    set->keys.push_back({static_cast<uint32_t>(set->text.size()), key.length, key.hash});
    set->text.append(names.text + key.offset, key.length + 1);
}

void qxAddCommands(qxCommandSet *set, const qxCommandDef *table, const qxNames &names)
{
    for (size_t i = 0; table[i].name; i++)
        qxAddCommandRow(set, table, names, i);
}

void qxEndCommandSet(qxCommandSet *set)
{
    set->rows.push_back({nullptr, nullptr});
    set->names = {set->keys.data(), set->text.data()};
}

extern "C" {

int qxOpenCommandLibrary(lua_State *L, const char *name, const qxCommandDef *commands,
                         const qxConstantDef *constants, const qxNames *commandNames,
                         const qxNames *constantNames)
{
    if (L) {
        lua_pushvalue(L, LUA_GLOBALSINDEX);
        luaL_openlib(L, nullptr, commands, 0, commandNames);
        lua_pop(L, 1);
        luaL_registerconstants(L, constants, 0, constantNames);
    }
    return qxRegisterLibName(commands, name);
}

// Getter and setter chains of further tags, in registration order.
struct qxAttrNode {
    qxAttrNode *next;
    qxAttrFunc func;
};
static qxAttrNode *attrGetters, *attrSetters;

static int appendAttr(qxAttrNode **list, qxAttrFunc f)
{
    auto *node = static_cast<qxAttrNode *>(qxAlloc(sizeof(qxAttrNode), 1));
    if (!node)
        return 1000;
    node->func = f;
    while (*list)
        list = &(*list)->next;
    *list = node;
    return 0;
}

int qxRegisterAttrGetter(qxAttrFunc f) { return appendAttr(&attrGetters, f); }
int qxRegisterAttrSetter(qxAttrFunc f) { return appendAttr(&attrSetters, f); }

// The runtime's own tags; raise-on-error (11) and callback nesting (10)
// belong to the error state of command calls.
static uintptr_t tagQuiet, tagStored, tagMainRunning;

static uintptr_t *runtimeTag(uint32_t tag)
{
    switch (tag) {
    case QX_TAG_QUIET: return &tagQuiet;
    case QX_TAG_STORED: return &tagStored;
    case QX_TAG_RAISEONERROR: return &qxRaiseOnError;
    case QX_TAG_MAINRUNNING: return &tagMainRunning;
    default: return nullptr;
    }
}

static int dispatchAttr(qxAttrNode *chain, qxTagItem *item)
{
    for (; chain; chain = chain->next)
        if (chain->func(item))
            return 1;
    return 0;
}

int qxGetTags(qxTagItem *tags)
{
    int handled = 0;
    for (; tags && tags->tag != QX_TAG_END; tags++) {
        if (tags->tag == QX_TAG_CALLBACKNEST) {
            tags->data = qxCallbackNesting;
            handled++;
        } else if (uintptr_t *slot = runtimeTag(tags->tag)) {
            tags->data = *slot;
            handled++;
        } else {
            handled += dispatchAttr(attrGetters, tags);
        }
    }
    return handled;
}

int qxSetTags(qxTagItem *tags)
{
    int handled = 0;
    for (; tags && tags->tag != QX_TAG_END; tags++) {
        if (tags->tag == QX_TAG_CALLBACKNEST) {
            // Set with 1 enters a callback, with 0 leaves one.
            if (tags->data)
                qxCallbackNesting++;
            else if (qxCallbackNesting > 0)
                qxCallbackNesting--;
            handled++;
        } else if (uintptr_t *slot = runtimeTag(tags->tag)) {
            *slot = tags->data;
            handled++;
        } else {
            handled += dispatchAttr(attrSetters, tags);
        }
    }
    return handled;
}

uintptr_t qxGetTag(uint32_t tag)
{
    qxTagItem items[2] = {{tag, 0}, {QX_TAG_END, 0}};
    qxGetTags(items);
    return items[0].data;
}

void qxSetTag(uint32_t tag, uintptr_t value)
{
    qxTagItem items[2] = {{tag, value}, {QX_TAG_END, 0}};
    qxSetTags(items);
}

static void freeAttrList(qxAttrNode **list)
{
    while (*list) {
        qxAttrNode *next = (*list)->next;
        qxFree(*list);
        *list = next;
    }
}

void qxFreeCommandRegistries(void)
{
    freeAttrList(&attrGetters);
    freeAttrList(&attrSetters);
    while (qxLibraryNames) {
        qxLibraryEntry *next = qxLibraryNames->next;
        qxFree(qxLibraryNames);
        qxLibraryNames = next;
    }
}
}
