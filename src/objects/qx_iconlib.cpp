// The "icon" command library: icons made from brushes or picture files,
// their entries edited, and icon sheets loaded and saved.
#include "objects/qx_objectlibs.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/files/qx_chunkname.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "objects/formats/qx_picformats.h"
#include "objects/qx_appicon.h"
#include "objects/qx_brush.h"
#include "objects/qx_brushimage.h"
#include "objects/qx_icon.h"
#include "objects/qx_objargs.h"
#include "objects/qx_picsource.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

bool listRegistered;

// One image of an entry: pixels (alpha byte always meaningful) or a vector source.
struct Image {
    uint32_t *pixels = nullptr;
    qxPicSource *source = nullptr;
    uint32_t width = 0, height = 0, transparency = 0;
    void release()
    {
        qxFree(pixels);
        if (source)
            qxPicSourceRelease(source);
        pixels = nullptr, source = nullptr;
    }
};

int imageFromBrush(lua_State *L, qxObjectRef ref, Image &out)
{
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, ref, &b, 0))
        return r;
    out.width = b->width, out.height = b->height;
    if (b->kind == QX_BRUSH_VECTOR && b->source) {
        qxPicSourceRetain(b->source);
        out.source = b->source;
        out.transparency = 1;
        return 0;
    }
    if (!b->bitmap)
        return ERR_BITMAP;
    out.pixels = qxBitMapToARGBMasked(b->bitmap, 0, 0, int32_t(b->width), int32_t(b->height), b->mask, b->alpha,
                                      b->transparentColour, 1, 0);
    if (!out.pixels)
        return ERR_MEM;
    out.transparency = b->mask || b->alpha;
    if (!out.transparency)
        for (size_t i = 0, n = size_t(b->width) * b->height; i < n; i++)
            out.pixels[i] |= 0xFF000000u;
    return 0;
}

int imageFromFile(const char *file, const char *loader, const char *adapter, Image &out)
{
    qxPicSource *source = nullptr;
    qxBitMap *alpha = nullptr;
    uint32_t w = 0, h = 0, pitch = 0, hasAlpha = 0, scalable = 0, transparent = 0xFFFFFFFFu;
    int r = qxOpenImage(file, loader, adapter, nullptr, 0xFFFFFFFFu, 0, 1, 0, 0, 0, 0, &source,
                        reinterpret_cast<void **>(&alpha), nullptr, &transparent, &w, &h, &pitch, &hasAlpha, &scalable,
                        nullptr);
    if (r == ERR_NOALPHA) // opaque pictures are welcome: every pixel gets alpha 255
        r = qxOpenImage(file, loader, adapter, nullptr, 0xFFFFFFFFu, 0, 0, 0, 0, 0, 0, &source, nullptr, nullptr,
                        &transparent, &w, &h, &pitch, &hasAlpha, &scalable, nullptr);
    if (r)
        return r;
    out.width = w, out.height = h;
    if (scalable) {
        if (alpha)
            qxFreeAlphaBitMap(alpha);
        out.source = source;
        out.transparency = 1;
        return 0;
    }
    const uint32_t *pixels = qxPicSourceBitMap(source);
    out.pixels = pixels ? static_cast<uint32_t *>(qxAlloc(size_t(w) * h * 4, 0)) : nullptr;
    qxPlane a = qxPlaneOf(alpha);
    if (out.pixels)
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++) {
                const bool inside = a.bytes && int32_t(x) < a.width && int32_t(y) < a.height;
                const uint32_t av = inside ? a.bytes[int64_t(y) * a.bytesPerRow + x] : 255;
                out.pixels[size_t(y) * w + x] = (pixels[size_t(y) * (pitch / 4) + x] & 0xFFFFFF) | av << 24;
            }
    out.transparency = hasAlpha && a.bytes;
    if (alpha)
        qxFreeAlphaBitMap(alpha);
    qxPicSourceRelease(source);
    return out.pixels ? 0 : ERR_MEM;
}

int readImage(lua_State *L, int t, const char *key, uint32_t type, const char *loader, const char *adapter,
              Image &out, bool *present)
{
    lua_pushstring(L, key);
    lua_gettable(L, t);
    *present = !lua_isnil(L, -1);
    int r = 0;
    if (*present) {
        if (type == QX_TYPE_BRUSH) {
            r = imageFromBrush(L, qxGetObjectIDArg(L, lua_gettop(L)), out);
        } else {
            std::string file = qxGetFileNameArg(L, lua_gettop(L), 0, nullptr);
            r = imageFromFile(file.c_str(), loader, adapter, out);
        }
    }
    lua_pop(L, 1);
    return r;
}

// Builds one entry from the table at t into the list; its position from 1.
int buildEntry(lua_State *L, int t, qxIconEntry **list, uint32_t *position)
{
    double d = 0;
    uint32_t type = QX_TYPE_BRUSH;
    if (qxGetFieldNum(L, t, "type", &d, nullptr))
        type = uint32_t(qxTruncToInt64(d));
    int standard = 0;
    qxFlagField(L, t, "standard", &standard);
    char loader[256] = "", adapter[256] = "";
    qxGetFieldStr(L, t, "loader", loader, sizeof loader, nullptr);
    qxGetFieldStr(L, t, "adapter", adapter, sizeof adapter, nullptr);
    if (standard)
        for (const qxIconEntry *e = *list; e; e = e->next)
            if (e->standard)
                return ERR_ICONSTANDARD;
    Image normal, selected;
    auto fail = [&](int code) {
        normal.release();
        selected.release();
        return code;
    };
    bool present = false, selPresent = false;
    if (int r = readImage(L, t, "image", type, loader[0] ? loader : nullptr, adapter[0] ? adapter : nullptr, normal,
                          &present))
        return fail(r);
    if (!present) {
        qxSetErrorString("Image");
        return ERR_MISSINGFIELD;
    }
    if (int r = readImage(L, t, "selimage", type, loader[0] ? loader : nullptr, adapter[0] ? adapter : nullptr,
                          selected, &selPresent))
        return fail(r);
    const bool vector = normal.source != nullptr;
    for (const qxIconEntry *e = *list; e; e = e->next) {
        if (vector || e->normalSource)
            return fail(ERR_ICONVECTOR);
        if (e->width == normal.width && e->height == normal.height)
            return fail(ERR_ICONSIZE);
    }
    if (selPresent && (selected.width != normal.width || selected.height != normal.height ||
                       selected.transparency != normal.transparency || (selected.source != nullptr) != vector))
        return fail(ERR_ICONPARMS);
    auto *e = static_cast<qxIconEntry *>(std::calloc(1, sizeof(qxIconEntry)));
    if (!e)
        return fail(ERR_MEM);
    e->width = normal.width, e->height = normal.height;
    e->transparency = normal.transparency;
    e->standard = standard || vector;
    e->normal = normal.pixels, e->normalSource = normal.source;
    e->selected = selected.pixels, e->selectedSource = selected.source;
    *position = qxInsertIconEntry(list, e);
    return 0;
}

int addIcon(qxObjectRef *ref, qxIconEntry *entries)
{
    auto *icon = static_cast<qxIcon *>(std::calloc(1, sizeof(qxIcon)));
    if (!icon)
        return ERR_MEM;
    if (ref->automatic == QX_NEW_AUTOMATIC)
        *ref = {0, icon};
    icon->type = QX_TYPE_ICON;
    icon->id = ref->number, icon->automatic = ref->automatic;
    icon->entries = entries;
    qxIcon **tail = &qxIcons;
    while (*tail)
        tail = &(*tail)->next;
    *tail = icon;
    return 0;
}

void freeIcon(lua_State *L, qxIcon *icon)
{
    for (qxIcon **p = &qxIcons; *p; p = &(*p)->next)
        if (*p == icon) {
            *p = icon->next;
            break;
        }
    qxFreeIconEntries(icon->entries);
    if (L && icon->data)
        qxFreeRefList(L, &icon->data);
    std::free(icon);
}

int freeOld(lua_State *L, qxObjectRef ref)
{
    qxIcon *old = nullptr;
    if (!ref.automatic && qxFindIcon(ref, &old) == 0)
        freeIcon(L, old);
    return 0;
}

int cmdCreateIcon(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 8, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    luaL_checktable(L, 2);
    qxIconEntry *list = nullptr;
    int count = 0;
    for (int i = 0;; i++, count++) {
        lua_rawgeti(L, 2, i);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            break;
        }
        if (!lua_istable(L, -1)) {
            lua_pop(L, 1);
            qxFreeIconEntries(list);
            return ERR_TABLEORNIL;
        }
        uint32_t position = 0;
        const int r = buildEntry(L, lua_gettop(L), &list, &position);
        lua_pop(L, 1);
        if (r) {
            qxFreeIconEntries(list);
            return r;
        }
    }
    if (count == 0)
        return ERR_WRONGUSAGE;
    freeOld(L, ref);
    if (int r = addIcon(&ref, list)) {
        qxFreeIconEntries(list);
        return r;
    }
    return qxPushNewID(L, ref);
}

int cmdFreeIcon(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxIcon *icon = nullptr;
    if (int r = qxFindIcon(qxGetObjectIDArg(L, 1), &icon))
        return r;
    freeIcon(L, icon);
    return 0;
}

int cmdLoadIcon(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 8, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    std::string file = qxGetFileNameArg(L, 2, 0, nullptr);
    char loader[256] = "", adapter[256] = "";
    if (lua_gettop(L) >= 3 && lua_istable(L, 3)) {
        qxGetFieldStr(L, 3, "loader", loader, sizeof loader, nullptr);
        qxGetFieldStr(L, 3, "adapter", adapter, sizeof adapter, nullptr);
    }
    qxIconEntry *list = nullptr;
    if (int r = qxIconSheet(file.c_str(), loader[0] ? loader : nullptr, adapter[0] ? adapter : nullptr, &list))
        return r;
    freeOld(L, ref);
    if (int r = addIcon(&ref, list)) {
        qxFreeIconEntries(list);
        return r;
    }
    return qxPushNewID(L, ref);
}

int cmdSaveIcon(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxIcon *icon = nullptr;
    if (int r = qxFindIcon(qxGetObjectIDArg(L, 1), &icon))
        return r;
    std::string file = qxGetFileNameArg(L, 2, 0, nullptr);
    uint32_t *pixels = nullptr, w = 0, h = 0;
    if (int r = qxBuildIconSheet(icon->entries, &pixels, &w, &h))
        return r;
    qxPngSaveRequest request{file.c_str(), pixels, int32_t(w * 4), w, h, 1, 0};
    qxSavePNG(&request);
    qxFree(pixels);
    return int(request.error);
}

int cmdAddIconImage(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxIcon *icon = nullptr;
    if (int r = qxFindIcon(qxGetObjectIDArg(L, 1), &icon))
        return r;
    luaL_checktable(L, 2);
    uint32_t position = 0;
    if (int r = buildEntry(L, 2, &icon->entries, &position))
        return r;
    lua_pushnumber(L, position);
    return 1;
}

int cmdRemoveIconImage(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxIcon *icon = nullptr;
    if (int r = qxFindIcon(qxGetObjectIDArg(L, 1), &icon))
        return r;
    const int64_t index = qxTruncToInt64(luaL_checknumber(L, 2));
    if (index == 1 && icon->entries && !icon->entries->next)
        return ERR_WRONGUSAGE;
    qxIconEntry **p = &icon->entries;
    for (int64_t i = 1; *p && i < index; i++)
        p = &(*p)->next;
    if (index < 1 || !*p)
        return ERR_ICONENTRY;
    qxIconEntry *gone = *p;
    *p = gone->next;
    gone->next = nullptr;
    qxFreeIconEntries(gone);
    return 0;
}

int cmdSetStandardIconImage(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxIcon *icon = nullptr;
    if (int r = qxFindIcon(qxGetObjectIDArg(L, 1), &icon))
        return r;
    const int64_t index = qxTruncToInt64(luaL_checknumber(L, 2));
    qxIconEntry *chosen = nullptr;
    int64_t i = 1;
    for (qxIconEntry *e = icon->entries; e; e = e->next, i++)
        if (i == index)
            chosen = e;
    if (index != 0 && !chosen)
        return ERR_ICONENTRY;
    for (qxIconEntry *e = icon->entries; e; e = e->next)
        e->standard = e == chosen;
    return 0;
}

// ConvertToBrush of an icon image (index from 1, normal or selected).
int iconSource(lua_State *L, int sourceArg, uint32_t index, int selected, qxBitMap **bm, qxBitMap **m,
               qxBitMap **a, uint32_t *w, uint32_t *h, uint32_t *transparent)
{
    qxIcon *icon = nullptr;
    if (int r = qxFindIcon(qxGetObjectIDArg(L, sourceArg), &icon))
        return r;
    const qxIconEntry *e = icon->entries;
    for (uint32_t i = 1; e && i < index; i++)
        e = e->next;
    if (index < 1 || !e)
        return ERR_ICONENTRY;
    const uint32_t *pixels = selected ? e->selected : e->normal;
    if (!pixels)
        return ERR_WRONGUSAGE; // vector entries and missing selected images have no pixels
    *w = e->width, *h = e->height, *transparent = 0xFFFFFFFFu;
    return qxBitMapFromARGB(pixels, 0xFFFFFFFFu, int32_t(e->width), int32_t(e->height), int32_t(e->width), 0,
                            e->transparency ? 8 : 0, nullptr, bm, m, a);
}

constexpr qxCommandDef iconCommands[] = {
    {"CreateIcon", cmdCreateIcon},
    {"FreeIcon", cmdFreeIcon},
    {"LoadIcon", cmdLoadIcon},
    {"SaveIcon", cmdSaveIcon},
    {"AddIconImage", cmdAddIconImage},
    {"RemoveIconImage", cmdRemoveIconImage},
    {"SetStandardIconImage", cmdSetStandardIconImage},
    {nullptr, nullptr},
};

constexpr qxConstantDef iconConstants[] = {
    {nullptr, nullptr, 0},
};

} // namespace

extern "C" int qxOpenIconLib(lua_State *L)
{
    if (!listRegistered && qxRegisterObjectList(&qxIcons, QX_TYPE_ICON) == 0)
        listRegistered = true;
    qxRegisterBrushSource(QX_TYPE_ICON, iconSource);
    return qxOpenCommandLibraryOf<iconCommands, iconConstants>(L, "icon");
}

extern "C" void qxFreeIcons(lua_State *L)
{
    while (qxIcons)
        freeIcon(L, qxIcons);
    qxFreeAppIcons();
}
