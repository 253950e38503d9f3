// The registry of object lists through which generic commands reach the
// objects of every library, custom object types, and the per-object data
// lists kept by registry reference.
#pragma once
#include <cstdint>

#include "core/vm/lua.h"
#include "platform/qx_objectref.h"

// One key of an object's data list.
struct qxObjectDataItem {
    qxObjectDataItem *next;
    char *key;
    uint32_t ref; // registry reference of the value
};

// The leading fields of every object record.
struct qxObjectHeader {
    uint32_t type;
    uint32_t id;         // number chosen by the script, 0 with an automatic identifier
    void *automatic;     // the record's own address, or null
    qxObjectHeader *next;
    qxObjectDataItem *data;
};

// Handler of a custom object type.
typedef int (*qxObjectTypeHandler)(void *argument, intptr_t a, intptr_t b);

enum : uint32_t { QX_FIRST_CUSTOM_TYPE = 61 };

extern "C" {

// head points at the variable that holds the first record of a list whose
// records start with qxObjectHeader. type is informative (0: none).
int qxRegisterObjectList(void *head, uint32_t type);
// A custom type: takes the next type code from 61 into *type; 0 or 1000.
int qxRegisterObjectType(void *head, const char *name, qxObjectTypeHandler handler,
                         uint32_t *type, uint32_t flags);
int qxCountObjectsOfType(uint32_t type);
// Stores the identifiers into the table on the stack top from key 0.
int qxPushObjectIDsOfType(lua_State *L, uint32_t type);
// The type of the record whose automatic identifier this is; -1 when none.
int qxGetObjectTypeOf(const void *automatic);
qxObjectHeader *qxFindObjectData(uint32_t type, qxObjectRef ref);
int qxCountCustomObjectTypes(void);
const char *qxGetCustomTypeName(uint32_t type);
// 1055 when no custom type has that code.
int qxCallCustomTypeHandler(void *argument, uint32_t type, intptr_t a, intptr_t b);
void qxFreeObjectRegistry(void);

// Object data lists. Keys compare without regard to case.
int qxSetObjectDataItem(lua_State *L, const char *key, int index, qxObjectDataItem **list);
qxObjectDataItem *qxFindObjectDataItem(qxObjectDataItem *list, const char *key);
int qxRemoveObjectDataItem(lua_State *L, qxObjectDataItem **list, const char *key);
void qxFreeRefList(lua_State *L, qxObjectDataItem **list);
int qxCopyNameList(lua_State *L, qxObjectDataItem *source, qxObjectDataItem **copy);
}
