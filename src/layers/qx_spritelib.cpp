// The "sprite" command library.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "core/commands/qx_commands.h"
#include "core/commands/qx_objreg.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapeffects.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_display.h"
#include "display/qx_positions.h"
#include "layers/qx_layer.h"
#include "layers/qx_layerlibs.h"
#include "layers/qx_sprite.h"
#include "objects/qx_anim.h"
#include "objects/qx_brush.h"
#include "objects/qx_objargs.h"
#include "objects/qx_output.h"
#include "platform/qx_errcodes.h"

namespace {

bool listRegistered;

// Frame planes under construction, freed unless handed to a sprite.
struct Planes {
    int32_t count = 0;
    qxBitMap **bitmaps = nullptr, **masks = nullptr, **alphas = nullptr;
    int alloc(int32_t n)
    {
        count = n;
        bitmaps = static_cast<qxBitMap **>(std::calloc(size_t(n), sizeof(qxBitMap *)));
        masks = static_cast<qxBitMap **>(std::calloc(size_t(n), sizeof(qxBitMap *)));
        alphas = static_cast<qxBitMap **>(std::calloc(size_t(n), sizeof(qxBitMap *)));
        return bitmaps && masks && alphas ? 0 : ERR_MEM;
    }
    // Arrays without any plane are dropped, so the sprite has none.
    void trim()
    {
        auto none = [&](qxBitMap **a) { return std::all_of(a, a + count, [](qxBitMap *p) { return !p; }); };
        if (masks && none(masks)) std::free(masks), masks = nullptr;
        if (alphas && none(alphas)) std::free(alphas), alphas = nullptr;
    }
    ~Planes()
    {
        for (int32_t i = 0; bitmaps && i < count; i++)
            qxFreeImagePlanes(bitmaps[i], masks ? masks[i] : nullptr, alphas ? alphas[i] : nullptr);
        std::free(bitmaps), std::free(masks), std::free(alphas);
    }
    int add(qxObjectRef *ref, int32_t w, int32_t h, uint32_t transparent, qxSprite **out)
    {
        trim();
        if (int r = qxAddSprite(ref, w, h, nullptr, nullptr, bitmaps, masks, alphas, count, transparent, nullptr,
                                out))
            return r;
        bitmaps = masks = alphas = nullptr;
        return 0;
    }
};

lua_CFunction libraryCommand(const char *library, const char *name)
{
    for (const qxLibraryEntry *lib = qxLibraryNames; lib; lib = lib->next)
        if (!strcasecmp(lib->name, library))
            for (const qxCommandDef *c = lib->commands; c && c->name; c++)
                if (!strcasecmp(c->name, name)) return c->func;
    return nullptr;
}

// Copies every frame of an anim into planes.
int framesOfAnim(qxAnim *a, Planes &p, uint32_t *transparent)
{
    if (int r = p.alloc(int32_t(a->frameCount))) return r;
    for (uint32_t i = 0; i < a->frameCount; i++)
        if (int r = qxGetAnimFrameBitmap(a, i, 1, 0, &p.bitmaps[i], &p.masks[i], &p.alphas[i])) return r;
    *transparent = a->transparentColour;
    return 0;
}

// Runs an anim library command that left a new automatic anim on the
// stack top, and takes its frames; the anim is freed again.
int framesFromAnimCommand(lua_State *L, const char *command, Planes &p, int32_t *w, int32_t *h, uint32_t *transparent)
{
    lua_CFunction f = libraryCommand("anim", command);
    if (!f) return ERR_UNIMPLCMD;
    const int r = f(L);
    if (r >= 1000) return r;
    if (r < 1 || !lua_islightuserdata(L, -1)) return ERR_INTERNAL;
    const qxObjectRef ref{0, lua_touserdata(L, -1)};
    qxAnim *a = nullptr;
    int e = qxFindAnim(L, ref, &a, 0);
    if (!e) {
        *w = int32_t(a->width), *h = int32_t(a->height);
        e = framesOfAnim(a, p, transparent);
    }
    qxFreeAnim(L, ref, 0);
    return e;
}

int freeExisting(lua_State *L, const qxObjectRef &ref)
{
    if (ref.automatic) return 0;
    qxSprite *s = nullptr;
    if (qxFindSprite(ref, &s, 0)) return 0;
    return qxFreeSpriteRecord(L, s);
}

int cmdCreateSprite(lua_State *L)
{
    qxCheckArgCount(L, 3, 0, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    const int64_t type = qxTruncToInt64(luaL_checknumber(L, 2));
    Planes planes;
    int32_t w = 0, h = 0;
    uint32_t transparent = 0xFFFFFFFFu;
    qxSprite **borrowed = nullptr;
    int32_t count = 0;
    switch (type) {
    case QX_TYPE_BRUSH: {
        if (lua_gettop(L) > 9) return ERR_TOOMANYARGS;
        // CreateAnim(nil, brush, width, height, frames, fpr, x, y).
        while (lua_gettop(L) < 9) lua_pushnumber(L, 0);
        // Without a frame size the whole brush is the one frame.
        qxBrush *brush = nullptr;
        if (int r = qxFindBrush(L, qxGetObjectIDArg(L, 3), &brush, 0)) return r;
        const double whole[3] = {double(brush->width), double(brush->height), 1};
        for (int i = 0; i < 3; i++)
            if (lua_tonumber(L, 4 + i) == 0) {
                lua_pushnumber(L, whole[i]);
                lua_replace(L, 4 + i);
            }
        lua_remove(L, 2);
        lua_pushnil(L);
        lua_replace(L, 1);
        if (int r = framesFromAnimCommand(L, "CreateAnim", planes, &w, &h, &transparent)) return r;
        break;
    }
    case QX_TYPE_ANIM: {
        if (lua_gettop(L) > 3) return ERR_TOOMANYARGS;
        qxAnim *a = nullptr;
        if (int r = qxFindAnim(L, qxGetObjectIDArg(L, 3), &a, 0)) return r;
        w = int32_t(a->width), h = int32_t(a->height);
        if (int r = framesOfAnim(a, planes, &transparent)) return r;
        break;
    }
    case QX_TYPE_TEXTOBJECT: {
        if (lua_gettop(L) > 3) return ERR_TOOMANYARGS;
        if (!qxTextObjects.image) return ERR_UNIMPLCMD;
        qxBitMap *bm = nullptr, *m = nullptr, *al = nullptr;
        int32_t ox = 0, oy = 0;
        if (int r = qxTextObjects.image(L, qxGetObjectIDArg(L, 3), &bm, &m, &al, &w, &h, &ox, &oy)) return r;
        if (int r = planes.alloc(1)) return r;
        if (int r = qxCopyImageRect(bm, m, al, 0, 0, w, h, 0, 0, 0, 0, &planes.bitmaps[0], m ? &planes.masks[0] : nullptr,
                                    al ? &planes.alphas[0] : nullptr))
            return r;
        break;
    }
    case QX_TYPE_SPRITE: {
        const int n = lua_gettop(L) - 2;
        borrowed = static_cast<qxSprite **>(std::calloc(size_t(n) + 1, sizeof(qxSprite *)));
        if (!borrowed) return ERR_MEM;
        for (int i = 0; i < n; i++) {
            qxSprite *s = nullptr;
            int r = qxFindSprite(qxGetObjectIDArg(L, 3 + i), &s, 0);
            if (!r && s->borrowed) r = ERR_SPRITELINK;
            if (!r && i && (s->width != w || s->height != h)) r = ERR_WRONGSPRITESIZE;
            if (!r && int64_t(count) + s->frameCount > INT32_MAX) r = ERR_WRONGUSAGE;
            if (r) {
                std::free(borrowed);
                return r;
            }
            w = s->width, h = s->height, count += s->frameCount;
            borrowed[i] = s;
        }
        break;
    }
    default: return ERR_WRONGUSAGE;
    }
    if (int r = freeExisting(L, ref)) {
        std::free(borrowed);
        return r;
    }
    qxSprite *s = nullptr;
    if (borrowed) {
        if (int r = qxAddSprite(&ref, w, h, nullptr, nullptr, nullptr, nullptr, nullptr, count, 0xFFFFFFFFu, borrowed,
                                &s)) {
            std::free(borrowed);
            return r;
        }
    } else if (int r = planes.add(&ref, w, h, transparent, &s)) {
        return r;
    }
    return qxPushNewID(L, ref);
}

int cmdLoadSprite(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    lua_pushnil(L);
    lua_replace(L, 1);
    Planes planes;
    int32_t w = 0, h = 0;
    uint32_t transparent = 0xFFFFFFFFu;
    if (int r = framesFromAnimCommand(L, "LoadAnim", planes, &w, &h, &transparent)) return r;
    if (int r = freeExisting(L, ref)) return r;
    if (int r = planes.add(&ref, w, h, transparent, nullptr)) return r;
    return qxPushNewID(L, ref);
}

int cmdCopySprite(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const qxObjectRef src = qxGetObjectIDArg(L, 1);
    qxObjectRef ref = qxNewIDRef(L, 2);
    qxSprite *s = nullptr;
    if (int r = qxFindSprite(src, &s, 0)) return r;
    if (!ref.automatic && !src.automatic && ref.number == src.number) return ERR_WRONGUSAGE;
    Planes planes;
    qxSprite **borrowed = nullptr;
    if (s->borrowed) {
        size_t n = 0;
        while (s->borrowed[n]) n++;
        borrowed = static_cast<qxSprite **>(std::calloc(n + 1, sizeof(qxSprite *)));
        if (!borrowed) return ERR_MEM;
        std::memcpy(borrowed, s->borrowed, n * sizeof(qxSprite *));
    } else {
        if (int r = planes.alloc(s->frameCount)) return r;
        for (int32_t i = 0; i < s->frameCount; i++) {
            qxBitMap *bm = nullptr, *m = nullptr, *al = nullptr;
            if (int r = qxGetSpriteFrame(s, i, &bm, &m, &al)) return r;
            if (int r = qxCopyImageRect(bm, m, al, 0, 0, s->width, s->height, 0, 0, 0, 0, &planes.bitmaps[i],
                                        m ? &planes.masks[i] : nullptr, al ? &planes.alphas[i] : nullptr))
                return r;
        }
    }
    if (int r = freeExisting(L, ref)) {
        std::free(borrowed);
        return r;
    }
    qxSprite *copy = nullptr;
    int r = borrowed ? qxAddSprite(&ref, s->width, s->height, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   s->frameCount, s->transparentColour, borrowed, &copy)
                     : planes.add(&ref, s->width, s->height, s->transparentColour, &copy);
    if (r) {
        std::free(borrowed);
        return r;
    }
    if ((r = qxCopyNameList(L, s->data, &copy->data))) return r;
    return qxPushNewID(L, ref);
}

int cmdFreeSprite(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxSprite *s = nullptr;
    if (int r = qxFindSprite(qxGetObjectIDArg(L, 1), &s, 1)) return r;
    return qxFreeSpriteRecord(L, s);
}

int cmdDisplaySprite(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    const qxObjectRef ref = qxGetObjectIDArg(L, 1);
    const int64_t x = qxTruncToInt64(luaL_checknumber(L, 2)), y = qxTruncToInt64(luaL_checknumber(L, 3));
    const int64_t frame = qxTruncToInt64(luaL_optnumber(L, 4, 0));
    if (int r = qxCheckSpriteOutput()) return r;
    qxSprite *s = nullptr;
    if (int r = qxFindSprite(ref, &s, 0)) return r;
    if (frame < 0 || frame > s->frameCount) return ERR_ANIMFRAME;
    return qxShowSprite(L, s, ref, int32_t(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX)),
                        int32_t(std::clamp<int64_t>(y, INT32_MIN, INT32_MAX)), int32_t(frame));
}

qxBGPic *shownBGPic() { return qxCurrentDisplay ? qxCurrentDisplay->bgpic : nullptr; }

void refresh(lua_State *L, int32_t x, int32_t y, int32_t w, int32_t h) { qxRefreshDisplay(L, x, y, w, h, 0); }

// Takes an entry out of the current BGPic's list.
void unlink(qxBGPic *b, qxSpriteOnScreen *e)
{
    for (auto **p = reinterpret_cast<qxSpriteOnScreen **>(&b->sprites); *p; p = &(*p)->next)
        if (*p == e) {
            *p = e->next;
            return;
        }
}

void afterLastRemoved(qxBGPic *b)
{
    if (!b->sprites && qxCurrentDisplay && !qxCurrentDisplay->layersEnabled && !b->layers.count)
        qxSetLayerBackground(qxCurrentDisplay, b, nullptr);
}

int cmdRemoveSprite(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const qxObjectRef ref = qxGetObjectIDArg(L, 1);
    if (int r = qxCheckSpriteOutput()) return r;
    qxSprite *s = nullptr;
    if (int r = qxFindSprite(ref, &s, 1)) return r;
    qxSpriteOnScreen *e = nullptr;
    if (int r = qxFindDisplayedSprite(ref, &e, nullptr)) return r;
    qxBGPic *b = shownBGPic();
    unlink(b, e);
    refresh(L, e->x, e->y, e->width, e->height);
    std::free(e);
    afterLastRemoved(b);
    return 0;
}

int cmdRemoveSprites(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    const int keep = lua_gettop(L) >= 1 && (lua_toboolean(L, 1) && !(lua_isnumber(L, 1) && lua_tonumber(L, 1) == 0));
    if (int r = qxCheckSpriteOutput()) return r;
    qxBGPic *b = shownBGPic();
    for (auto *e = static_cast<qxSpriteOnScreen *>(b->sprites); e; e = e->next)
        if (e->owner && e->owner->locked) return ERR_LOCKEDOBJ;
    qxDisplay *d = qxCurrentDisplay;
    if (keep) {
        // The composed picture becomes what lies below.
        refresh(L, 0, 0, b->width, b->height);
        qxBitMap *shown = qxDisplayWorkBitmap(d, 1), *bg = qxLayerBackground(d, b);
        if (shown && bg && bg != b->bitmap) qxBltBitMapDirect(shown, 0, 0, bg, 0, 0, b->width, b->height);
    }
    qxClearDisplayedSprites(L, b, !keep);
    afterLastRemoved(b);
    return 0;
}

int cmdSetSpriteZPos(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const qxObjectRef ref = qxGetObjectIDArg(L, 1);
    const int64_t pos = qxTruncToInt64(luaL_checknumber(L, 2));
    if (int r = qxCheckSpriteOutput()) return r;
    qxSprite *s = nullptr;
    if (int r = qxFindSprite(ref, &s, 0)) return r;
    qxSpriteOnScreen *e = nullptr;
    int32_t index = 0;
    if (int r = qxFindDisplayedSprite(ref, &e, &index)) return r;
    qxBGPic *b = shownBGPic();
    int32_t count = 0;
    for (auto *o = static_cast<qxSpriteOnScreen *>(b->sprites); o; o = o->next) count++;
    const bool top = !e->next;
    if (pos < 0 || pos == index || (pos == 0 && top)) return ERR_WRONGUSAGE;
    if (pos > count && top) return 0;
    unlink(b, e);
    auto **p = reinterpret_cast<qxSpriteOnScreen **>(&b->sprites);
    if (pos == 0 || pos > count) {
        while (*p) p = &(*p)->next;
    } else {
        for (int64_t i = 1; i < pos && *p; i++) p = &(*p)->next;
    }
    e->next = *p;
    *p = e;
    refresh(L, e->x, e->y, e->width, e->height);
    return 0;
}

// FlipSprite's and ScaleSprite's checks: not on screen, not linked, not
// borrowed from.
int modifiable(lua_State *L, qxSprite **out)
{
    qxSprite *s = nullptr;
    const qxObjectRef ref = qxGetObjectIDArg(L, 1);
    if (int r = qxFindSprite(ref, &s, 1)) return r;
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        for (auto *e = static_cast<qxSpriteOnScreen *>(b->sprites); e; e = e->next)
            if (e->owner == s) return ERR_MODIFYSPRITE;
    if (s->borrowed) return ERR_MODIFYSPRITE2;
    for (qxSprite *o = qxSprites; o; o = o->next)
        for (qxSprite **p = o->borrowed; p && *p; p++)
            if (*p == s) return ERR_MODIFYSPRITE2;
    if (!s->bitmaps) return ERR_LOCKBMAP;
    *out = s;
    return 0;
}

int cmdFlipSprite(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const int horizontal = luaL_checkint(L, 2) != 0;
    qxSprite *s = nullptr;
    if (int r = modifiable(L, &s)) return r;
    for (int32_t i = 0; i < s->frameCount; i++) {
        if (!s->bitmaps[i]) return ERR_LOCKBMAP;
        if (int r = qxFlipBitmap(s->bitmaps[i], s->masks ? s->masks[i] : nullptr, s->alphas ? s->alphas[i] : nullptr,
                                 s->width, s->height, horizontal))
            return r;
    }
    return 0;
}

int cmdScaleSprite(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    qxSprite *s = nullptr;
    if (int r = modifiable(L, &s)) return r;
    int w = int(std::clamp(qxGetNumberOrPercentArg(L, 2, s->width, 1, nullptr), -2e9, 2e9));
    int h = int(std::clamp(qxGetNumberOrPercentArg(L, 3, s->height, 1, nullptr), -2e9, 2e9));
    const int smooth = lua_toboolean(L, 4) && !(lua_isnumber(L, 4) && lua_tonumber(L, 4) == 0);
    if (int r = qxComputeScaledSize(s->width, s->height, &w, &h)) return r;
    if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
    if (w == s->width && h == s->height) return 0;
    // Every frame is scaled before any is replaced: a failure keeps the old planes.
    Planes planes;
    if (int r = planes.alloc(s->frameCount)) return r;
    for (int32_t i = 0; i < s->frameCount; i++) {
        qxBitMap *m = s->masks ? s->masks[i] : nullptr, *al = s->alphas ? s->alphas[i] : nullptr;
        if (int r = qxScalePixels(s->bitmaps[i], m, al, 0, 0, nullptr, s->width, s->height, w, h, uint32_t(smooth), 0,
                                  &planes.bitmaps[i], m ? &planes.masks[i] : nullptr, al ? &planes.alphas[i] : nullptr))
            return r;
    }
    std::swap(planes.bitmaps, s->bitmaps);
    std::swap(planes.masks, s->masks);
    std::swap(planes.alphas, s->alphas);
    s->width = w, s->height = h;
    return 0;
}

constexpr qxCommandDef spriteCommands[] = {
    {"CreateSprite", cmdCreateSprite},
    {"DisplaySprite", cmdDisplaySprite},
    {"RemoveSprite", cmdRemoveSprite},
    {"FreeSprite", cmdFreeSprite},
    {"LoadSprite", cmdLoadSprite},
    {"ScaleSprite", cmdScaleSprite},
    {"CopySprite", cmdCopySprite},
    {"FlipSprite", cmdFlipSprite},
    {"RemoveSprites", cmdRemoveSprites},
    {"SetSpriteZPos", cmdSetSpriteZPos},
    {nullptr, nullptr},
};

constexpr qxConstantDef spriteConstants[] = {
    {nullptr, nullptr, 0},
};

} // namespace

extern "C" int qxOpenSpriteLib(lua_State *L)
{
    if (!listRegistered) {
        if (int r = qxRegisterObjectList(&qxSprites, QX_TYPE_SPRITE)) return r;
        listRegistered = true;
    }
    return qxOpenCommandLibraryOf<spriteCommands, spriteConstants>(L, "sprite");
}

extern "C" void qxFreeAllSprites(lua_State *L)
{
    for (qxBGPic *b = qxBGPics; b; b = b->next) qxFreeDisplaySpriteList(b);
    // Links first, so no sprite is freed while a link still borrows it.
    while (qxSprites) {
        qxSprite *s = qxSprites;
        while (s && !s->borrowed) s = s->next;
        if (!s) s = qxSprites;
        s->locked = 0;
        qxFreeSpriteRecord(L, s);
    }
}
