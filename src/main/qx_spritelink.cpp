#include "main/qx_spritelink.h"

#include "draw/text/qx_text.h"
#include "layers/qx_sprite.h"
#include "objects/qx_displayopts.h"

namespace {

int textObjectImage(lua_State *L, qxObjectRef ref, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                    int32_t *width, int32_t *height, int32_t *offx, int32_t *offy)
{
    qxTextObject *t = nullptr;
    if (int r = qxFindTextObject(L, ref.number, ref.automatic, 0, &t)) return r;
    *bitmap = t->image, *mask = t->mask, *alpha = t->alpha;
    *width = t->width, *height = t->height;
    *offx = t->originX, *offy = t->originY;
    return 0;
}

void textObjectLock(lua_State *L, qxObjectRef ref, int delta)
{
    qxTextObject *t = nullptr;
    if (qxFindTextObject(L, ref.number, ref.automatic, 2, &t)) return;
    if (delta > 0) t->locked++;
    else if (t->locked) t->locked--;
}

int textObjectLayer(lua_State *L, qxObjectRef ref, int32_t x, int32_t y, qxLayer **out)
{
    qxTextObject *t = nullptr;
    if (int r = qxFindTextObject(L, ref.number, ref.automatic, 0, &t)) return r;
    qxTransformOptions options;
    qxObjectStyle style;
    qxInitTransformOptions(&options);
    qxInitObjectStyle(&style);
    return qxAddTextLayer(L, t, x, y, &options, &style, out);
}

} // namespace

extern "C" void qxLinkSpriteTextObjects(void)
{
    qxTextObjects.image = textObjectImage;
    qxTextObjects.lock = textObjectLock;
    qxTextObjects.addLayer = textObjectLayer;
}
