// Command libraries: their tables, the library-name registry, the library
// table in opening order and the runtime's attribute tags.
#pragma once
#include <cstdint>

struct lua_State;
typedef int (*lua_CFunction)(lua_State *L);

// One row of a command table; the table ends with a row whose name is null.
struct qxCommandDef {
    const char *name; // CamelCase, registered in lower case
    lua_CFunction func;
};

// One row of a constants table; the table ends with a row whose name is null.
struct qxConstantDef {
    const char *name;
    const char *str; // null: the constant is the number
    double num;
};

struct qxLibraryEntry {
    qxLibraryEntry *next;
    const qxCommandDef *commands;
    char name[64];
};

// A library in the library table: its name, opener and close function.
struct qxLibraryDef {
    const char *name;
    int (*open)(lua_State *L);
};

// Attribute tags: a list of {tag, data} ended by tag 0.
struct qxTagItem {
    uint32_t tag;
    uintptr_t data;
};

enum : uint32_t {
    QX_TAG_END = 0,
    QX_TAG_QUIET = 1,
    QX_TAG_NOSOUND = 2,
    QX_TAG_SOUNDSETTING = 3,
    QX_TAG_STORED = 5,
    QX_TAG_CALLBACKNEST = 10,
    QX_TAG_RAISEONERROR = 11,
    QX_TAG_MAINRUNNING = 22,
    QX_TAG_FORCESOUND = 33,
};

// A getter or setter of further tags: returns non-zero when it handled the tag.
typedef int (*qxAttrFunc)(qxTagItem *item);

extern "C" {
extern qxLibraryEntry *qxLibraryNames;

int qxRegisterLibName(const qxCommandDef *table, const char *name);
// Registers a command library's commands, constants and name (the common
// body of every library opener).
int qxOpenCommandLibrary(lua_State *L, const char *name, const qxCommandDef *commands,
                         const qxConstantDef *constants);
int qxRegisterAttrGetter(qxAttrFunc f);
int qxRegisterAttrSetter(qxAttrFunc f);
int qxGetTags(qxTagItem *tags);
int qxSetTags(qxTagItem *tags);
// Convenience for a single tag.
uintptr_t qxGetTag(uint32_t tag);
void qxSetTag(uint32_t tag, uintptr_t value);
void qxFreeCommandRegistries(void);
}
