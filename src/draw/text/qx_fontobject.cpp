// Font objects.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "core/commands/qx_objreg.h"
#include "draw/text/qx_text.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

// Leads with the fields of qxObjectHeader, so the object registry walks it.
struct qxFontObject {
    uint32_t type; // 43
    uint32_t number;
    uint64_t automatic;
    qxFontObject *next;
    qxObjectDataItem *data;
    qxFontHandle *font;
};

static_assert(offsetof(qxFontObject, next) == offsetof(qxObjectHeader, next) &&
              offsetof(qxFontObject, data) == offsetof(qxObjectHeader, data));

qxFontObject *head;

qxFontObject **find(uint32_t number, void *automatic)
{
    for (qxFontObject **p = &head; *p; p = &(*p)->next)
        if (automatic ? *p == automatic : ((*p)->number == number && !(*p)->automatic)) return p;
    return nullptr;
}

int missing(uint32_t number, void *automatic)
{
    if (automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(int(number));
    return ERR_FINDFONT2;
}

} // namespace

extern "C" {

int qxCreateFontObject(lua_State *L, uint32_t number, qxFontHandle *font, void **automatic)
{
    if (number) qxFreeFontObject(L, number, nullptr);
    auto *o = static_cast<qxFontObject *>(qxAlloc(sizeof(qxFontObject), 1));
    if (!o) return ERR_MEM;
    o->type = 43;
    o->number = number;
    o->automatic = number ? 0 : uint64_t(uintptr_t(o));
    o->font = font;
    qxFontObject **tail = &head;
    while (*tail) tail = &(*tail)->next;
    *tail = o;
    if (automatic) *automatic = number ? nullptr : o;
    return 0;
}

int qxFindFont(lua_State *, uint32_t number, void *automatic, qxFontHandle **out)
{
    qxFontObject **p = find(number, automatic);
    if (!p) return missing(number, automatic);
    *out = (*p)->font;
    return 0;
}

int qxFreeFontObject(lua_State *L, uint32_t number, void *automatic)
{
    qxFontObject **p = find(number, automatic);
    if (!p) return missing(number, automatic);
    qxFontObject *o = *p;
    *p = o->next;
    qxFreeRefList(L, &o->data);
    qxFree(o); // the cached font stays open
    return 0;
}

void qxFreeAllFontObjects(lua_State *L)
{
    while (head) {
        qxFontObject *next = head->next;
        qxFreeRefList(L, &head->data);
        qxFree(head);
        head = next;
    }
}

void *qxFontObjectList(void)
{
    return &head;
}
}
