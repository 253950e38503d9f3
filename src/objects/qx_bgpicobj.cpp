// BGPic lookup and lifetime under the rules for objects that layers or
// displays still show.
#include "objects/qx_bgpicobj.h"

#include <cstdlib>

#include "display/qx_display.h"
#include "objects/qx_objectuse.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

bool shownByDisplay(const qxBGPic *b)
{
    return qxFindDisplayForBGPic(b) != nullptr;
}

void unlinkBGPic(qxBGPic *b)
{
    for (qxBGPic **p = &qxBGPics; *p; p = &(*p)->next)
        if (*p == b) {
            *p = b->next;
            return;
        }
}

void destroy(lua_State *L, qxBGPic *b)
{
    unlinkBGPic(b);
    qxFreeBGPicContents(L, b, 1);
    std::free(b);
}

void makeAnonymous(qxBGPic *b)
{
    b->id = 0;
    b->automatic = b;
    b->pendingDeletion = 1;
}

} // namespace

extern "C" {

int qxFindBGPic(lua_State *L, qxObjectRef ref, qxBGPic **out, uint32_t flags)
{
    *out = nullptr;
    qxBGPic *found = nullptr;
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        if (b->automatic == ref.automatic && b->id == ref.number && ((flags & 2) || !b->pendingDeletion)) {
            found = b;
            break;
        }
    if (!found) {
        if (ref.automatic)
            return ERR_FINDARRAY;
        qxSetErrorNumber((int)ref.number);
        return ERR_FINDBGPIC;
    }
    if (flags & 1) {
        if (found->locked)
            return ERR_LOCKEDOBJ;
        if (!(flags & 4)) {
            void *dup = nullptr;
            if (int r = qxCopyOnWrite(L, QX_TYPE_BGPICPART, ref, qxCopyBGPicData, found, &dup))
                return r;
            if (dup)
                static_cast<qxBGPic *>(dup)->pendingDeletion = 1;
        }
    }
    *out = found;
    return 0;
}

int qxFreeBGPic(lua_State *L, qxObjectRef ref, int reportMissing)
{
    if (qxIsCurrentOutputObject(QX_TYPE_BGPIC, ref))
        return ERR_MODIFYABGPIC;
    qxBGPic *b = nullptr;
    if (int r = qxFindBGPic(L, ref, &b, 1 | 4))
        return (r == ERR_LOCKEDOBJ || reportMissing) ? r : 0;
    if (shownByDisplay(b)) {
        qxRepointLayers(QX_TYPE_BGPICPART, ref, b);
        makeAnonymous(b);
        return 0;
    }
    if (qxRepointLayers(QX_TYPE_BGPICPART, ref, b)) {
        makeAnonymous(b);
        return 0;
    }
    destroy(L, b);
    return 0;
}

void qxFlushDeletedBGPics(lua_State *L)
{
    for (qxBGPic *b = qxBGPics, *next; b; b = next) {
        next = b->next;
        if (b->pendingDeletion && !shownByDisplay(b) &&
            !qxFindLayerUsing(QX_TYPE_BGPICPART, {b->id, b->automatic}, nullptr, nullptr, nullptr))
            destroy(L, b);
    }
}

void qxFreeAllBGPics(lua_State *L)
{
    qxFreeBGPicList(L);
}

int qxCountAllLayers(void)
{
    int n = 0;
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        n += (int)b->layers.count;
    return n;
}
}
