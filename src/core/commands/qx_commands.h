// Command libraries: their tables, the library-name registry, the library
// table in opening order and the runtime's attribute tags.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/vm/lua.h"

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

// Names of commands and constants are registered in lower case, cut at
// this many characters.
#define QX_NAME_MAX 127

// A row's name as registered, prepared when the program is built: its
// place in the text, its length and its string hash.
struct qxNameKey {
    uint32_t offset;
    uint32_t length;
    uint32_t hash;
};

// The prepared names of a table's rows, in row order.
struct qxNames {
    const qxNameKey *keys;
    const char *text;
};

namespace qxnames {
template <class Row, size_t M> constexpr size_t rows(const Row (&t)[M]) {
    size_t n = 0;
    while (n < M && t[n].name) n++;
    return n;
}
constexpr size_t length(const char *s) {
    size_t n = 0;
    while (n < QX_NAME_MAX && s[n]) n++;
    return n;
}
template <class Row, size_t M> constexpr size_t bytes(const Row (&t)[M]) {
    size_t b = 0;
    for (size_t i = 0; i < rows(t); i++) b += length(t[i].name) + 1;
    return b;
}
template <size_t N, size_t B> struct Block {
    qxNameKey keys[N + 1];
    char text[B + 1];
};
template <const auto &T> constexpr auto build() {
    Block<rows(T), bytes(T)> b{};
    uint32_t at = 0;
    for (size_t i = 0; i < rows(T); i++) {
        size_t n = length(T[i].name);
        for (size_t k = 0; k < n; k++) {
            char c = T[i].name[k];
            b.text[at + k] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        b.keys[i] = {at, static_cast<uint32_t>(n), lua_strhash(b.text + at, n)};
        at += static_cast<uint32_t>(n + 1);
    }
    return b;
}
template <const auto &T> inline constexpr auto block = build<T>();
} // namespace qxnames

// The names of a command or constants table, lowered and hashed when the
// program is built.
template <const auto &Table> inline constexpr qxNames qxNamesOf{qxnames::block<Table>.keys, qxnames::block<Table>.text};

// A command table put together at start from other tables' rows, with
// their prepared names copied beside them.
struct qxCommandSet {
    std::vector<qxCommandDef> rows;
    std::vector<qxNameKey> keys;
    std::string text;
    qxNames names; // set by qxEndCommandSet
};
// Appends row index of table, whose prepared names are names.
void qxAddCommandRow(qxCommandSet *set, const qxCommandDef *table, const qxNames &names, size_t index);
// Appends every row of table.
void qxAddCommands(qxCommandSet *set, const qxCommandDef *table, const qxNames &names);
// Ends the rows; the set's tables must not change after.
void qxEndCommandSet(qxCommandSet *set);

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
    // Whether the script handles these sound events (InstallEventHandler).
    QX_TAG_ONSAMPLELOOP = 12,
    QX_TAG_ONSAMPLEEND = 13,
    QX_TAG_ONMUSICEND = 18,
    QX_TAG_ONVIDEOEND = 23,
    QX_TAG_MAINRUNNING = 22,
    QX_TAG_FORCESOUND = 33,
};

// A getter or setter of further tags: returns non-zero when it handled the tag.
typedef int (*qxAttrFunc)(qxTagItem *item);

extern "C" {
extern qxLibraryEntry *qxLibraryNames;

int qxRegisterLibName(const qxCommandDef *table, const char *name);
// Registers a command library's commands, constants and name (the common
// body of every library opener); the tables' names when already prepared.
int qxOpenCommandLibrary(lua_State *L, const char *name, const qxCommandDef *commands,
                         const qxConstantDef *constants, const qxNames *commandNames = nullptr,
                         const qxNames *constantNames = nullptr);
int qxRegisterAttrGetter(qxAttrFunc f);
int qxRegisterAttrSetter(qxAttrFunc f);
int qxGetTags(qxTagItem *tags);
int qxSetTags(qxTagItem *tags);
// Convenience for a single tag.
uintptr_t qxGetTag(uint32_t tag);
void qxSetTag(uint32_t tag, uintptr_t value);
void qxFreeCommandRegistries(void);
}

// The opener of a library whose tables are constant: their names prepared
// when the program is built.
template <const auto &Commands, const auto &Constants> int qxOpenCommandLibraryOf(lua_State *L, const char *name)
{
    return qxOpenCommandLibrary(L, name, Commands, Constants, &qxNamesOf<Commands>, &qxNamesOf<Constants>);
}
