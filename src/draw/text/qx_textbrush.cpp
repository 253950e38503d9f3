// Text objects as a source of ConvertToBrush and GetBrushLink: a copy of
// the rendered image with its mask or alpha channel.
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmaptransform.h"
#include "draw/text/qx_text.h"
#include "objects/qx_brushimage.h"
#include "core/commands/qx_args.h"
#include "platform/qx_errcodes.h"

namespace {

int textObjectSource(lua_State *L, int sourceArg, uint32_t, int, qxBitMap **bm, qxBitMap **m, qxBitMap **a,
                     uint32_t *w, uint32_t *h, uint32_t *transparent)
{
    const qxObjectRef ref = qxGetObjectIDArg(L, sourceArg);
    qxTextObject *t = nullptr;
    if (int r = qxFindTextObject(L, ref.number, ref.automatic, 0, &t))
        return r;
    if (!t->image || t->width < 1 || t->height < 1)
        return ERR_BITMAP;
    *w = uint32_t(t->width), *h = uint32_t(t->height), *transparent = 0xFFFFFFFFu;
    return qxCopyImageRect(t->image, t->mask, t->alpha, 0, 0, t->width, t->height, 0, 0, 0, 0, bm,
                           t->mask ? m : nullptr, t->alpha ? a : nullptr);
}

} // namespace

extern "C" void qxLinkTextBrushSource(void)
{
    qxRegisterBrushSource(QX_TYPE_TEXTOBJECT, textObjectSource);
}
