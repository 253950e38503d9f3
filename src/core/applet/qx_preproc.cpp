// Start-up steps around the main chunk: preparing it (constants, loading,
// display overrides) and creating the objects the applet declares by
// calling the script's own commands.
#include "core/applet/qx_preproc.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/applet/qx_applet.h"
#include "core/files/qx_chunkname.h"
#include "core/commands/qx_cmdcall.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_options.h"
#include "core/plugins/qx_plugins.h"
#include "core/vm/lauxlib.h"
#include "core/vm/qx_vmregs.h"
#include "core/applet/qx_appicon.h"
#include "platform/qx_files.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_text.h"

extern "C" {
uint32_t qxRequirePhase;
int (*qxPreprocLoadPrefs)(lua_State *L, int mode);
qxPreprocSteps qxPreprocHooks;

int qxAdapterInstallOpen(void)
{
    return qxRequirePhase || qxGetTag(QX_TAG_STORED) || qxGetTag(QX_TAG_MAINRUNNING);
}
}

// OpenFile's #MODE_READ: declared files are opened for reading.
constexpr int kOpenFileModeRead = 1005;

namespace {

// ---- Table building ----

void setNum(lua_State *L, const char *key, double v)
{
    lua_pushstring(L, key);
    lua_pushnumber(L, v);
    lua_settable(L, -3);
}

void setStr(lua_State *L, const char *key, const char *v)
{
    lua_pushstring(L, key);
    lua_pushstring(L, v ? v : "");
    lua_settable(L, -3);
}

// A stored size below 0 is a percentage ("50%" is kept as -50), handed on as
// the text CreateDisplay reads as one; #NATIVE stays the number it is.
void setSize(lua_State *L, const char *key, int32_t v)
{
    constexpr int32_t kNative = -110000;
    if (v >= 0 || v == kNative) {
        setNum(L, key, v);
        return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%ld%%", -static_cast<long>(v));
    setStr(L, key, text);
}

void setIndexTable(lua_State *L, int index)
{
    lua_rawseti(L, -2, index);
}

// A gradient in the form the drawing code's gradient tables have: style,
// centre, balance, border and the stops as colour, position, colour, ...
// from index 0.
void pushGradient(lua_State *L, const qxDeclaredGradient &g)
{
    lua_pushstring(L, "gradient");
    lua_newtable(L);
    setNum(L, "style", g.kind);
    setNum(L, "centerx", g.centerX);
    setNum(L, "centery", g.centerY);
    setNum(L, "balance", g.balance);
    setNum(L, "border", g.border);
    if (g.count) {
        lua_pushstring(L, "colors");
        lua_newtable(L);
        for (uint32_t i = 0; i < g.count; i++) {
            lua_pushnumber(L, g.entries[i].color);
            lua_rawseti(L, -2, int(2 * i));
            lua_pushnumber(L, g.entries[i].position);
            lua_rawseti(L, -2, int(2 * i + 1));
        }
        lua_settable(L, -3);
    }
    lua_settable(L, -3);
}

void pushMenu(lua_State *L, const qxDeclaredMenuItem *item, int depth)
{
    lua_newtable(L);
    int index = 0;
    for (; item; item = item->next) {
        lua_newtable(L);
        if (item->name) {
            lua_pushstring(L, item->name);
            lua_rawseti(L, -2, 0);
        }
        setNum(L, "flags", item->flags);
        if (item->id && *item->id) setStr(L, "id", item->id);
        if (item->hotkey && *item->hotkey) setStr(L, "hotkey", item->hotkey);
        if (item->submenu && depth < 64) {
            pushMenu(L, item->submenu, depth + 1);
            lua_rawseti(L, -2, 1);
        }
        setIndexTable(L, index++);
    }
}

void pushIcons(lua_State *L, const qxDeclaredIcon *e)
{
    lua_newtable(L);
    for (int index = 0; e; e = e->next, index++) {
        lua_newtable(L);
        setNum(L, "type", e->type);
        if (e->flags & 2) setNum(L, "standard", 1);
        if (e->type == 3) {
            setNum(L, "image", e->image);
            if (e->flags & 1) setNum(L, "selimage", e->selImage);
        } else if (e->type == 44) {
            setStr(L, "image", e->file);
            if (e->selFile) setStr(L, "selimage", e->selFile);
        }
        setIndexTable(L, index);
    }
}

// ---- Objects ----

const char *creatingCommand(uint32_t kind)
{
    switch (kind) {
    case QX_OBJ_BGPIC: return "LoadBGPic";
    case QX_OBJ_BRUSH: return "LoadBrush";
    case QX_OBJ_ANIM: return "LoadAnim";
    case QX_OBJ_MUSIC: return "OpenMusic";
    case QX_OBJ_SAMPLE: return "LoadSample";
    case QX_OBJ_BUTTON: return "CreateButton";
    case QX_OBJ_KEY: return "CreateKeyDown";
    case QX_OBJ_SPRITE: return "LoadSprite";
    case QX_OBJ_FILE: return "OpenFile";
    case QX_OBJ_FONT: return "OpenFont";
    case QX_OBJ_DISPLAY: return "CreateDisplay";
    case QX_OBJ_VIDEO: return "OpenVideo";
    case QX_OBJ_MENU: return "CreateMenu";
    case QX_OBJ_ICONFILE: return "LoadIcon";
    case QX_OBJ_ICON: return "CreateIcon";
    case QX_OBJ_DIRECTORY: return "OpenDirectory";
    default: return nullptr;
    }
}

bool isImage(const qxObjectRecord *o)
{
    return o->kind == QX_OBJ_BRUSH || o->kind == QX_OBJ_ANIM || o->kind == QX_OBJ_SPRITE;
}

// Frames and scaling decide whether two declarations can share one load.
bool shareable(const qxObjectRecord *o)
{
    if (!isImage(o) || (o->flags & 2) || !o->data) return false;
    if (o->kind == QX_OBJ_ANIM) return static_cast<const qxAnimData *>(o->data)->frames != 0;
    if (o->kind == QX_OBJ_SPRITE) return static_cast<const qxSpriteData *>(o->data)->frames != 0;
    return true;
}

void scaling(const qxObjectRecord *o, uint32_t out[3])
{
    out[0] = out[1] = out[2] = 0;
    if (o->kind == QX_OBJ_BRUSH) {
        auto *b = static_cast<const qxBrushData *>(o->data);
        out[0] = b->scaleWidth;
        out[1] = b->scaleHeight;
        out[2] = b->smoothScale;
    }
}

void markSharedFiles(qxAppletInfo *applet)
{
    for (qxObjectRecord *o = applet->objects; o; o = o->next) {
        if (!shareable(o) || o->cacheMark) continue;
        uint32_t s1[3];
        scaling(o, s1);
        for (qxObjectRecord *p = o->next; p; p = p->next) {
            if (!shareable(p) || p->cacheMark) continue;
            uint32_t s2[3];
            scaling(p, s2);
            if (strcasecmp(o->text, p->text) != 0 || std::memcmp(s1, s2, sizeof s1) != 0) continue;
            p->cacheMark = 2;
            o->cacheMark = 1;
            if ((p->flags & 1) && !(o->flags & 1)) o->cacheAlpha = 1;
        }
    }
}

// The file name an object's command gets: its chunk name when linked.
int objectFileName(const qxObjectRecord *o, std::string &out)
{
    if (!o->linked) {
        out = o->text ? o->text : "";
        return 0;
    }
    char name[QX_CHUNKNAME_MAX];
    const char *container = o->container[0] ? o->container : qxAppletLoad.dataPath;
    if (!qxMakeChunkName(o->text ? o->text : "", name, sizeof name, o->dataOffset, o->dataSize, qxAppletLoad.dataBase,
                         container)) {
        qxSetErrorString(o->text ? o->text : "");
        return ERR_NAMETOOLONG;
    }
    out = name;
    return 0;
}

void setLoaderKeys(lua_State *L, const qxObjectRecord *o)
{
    if (o->loader[0]) setStr(L, "loader", o->loader);
    if (o->adapter[0]) setStr(L, "adapter", o->adapter);
}

void pushImageTable(lua_State *L, const qxObjectRecord *o, const std::string &file)
{
    lua_newtable(L);
    if (o->valueA != -1) setNum(L, "transparency", uint32_t(o->valueA));
    if (o->flags & 1) setNum(L, "loadalpha", 1);
    else if (o->flags & 2) setNum(L, "loadtransparency", 1);
    if (o->kind == QX_OBJ_BGPIC && o->data) {
        auto *f = static_cast<const qxDeclaredFill *>(o->data);
        if (f->fillStyle) setNum(L, "fillstyle", f->fillStyle);
        if (f->fillStyle == 2) {
            pushGradient(L, f->gradient);
        } else if (f->fillStyle == 3) {
            setNum(L, "texturebrush", f->textureBrush);
            setNum(L, "texturex", f->textureX);
            setNum(L, "texturey", f->textureY);
        } else if (f->fillStyle == 1) {
            setNum(L, "fillcolor", f->fillColor);
        }
        setNum(L, "scalewidth", f->scaleWidth);
        setNum(L, "scaleheight", f->scaleHeight);
        setNum(L, "smoothscale", f->smoothScale);
    } else if (o->kind == QX_OBJ_BRUSH && o->data) {
        auto *b = static_cast<const qxBrushData *>(o->data);
        setNum(L, "width", b->width);
        setNum(L, "height", b->height);
        setNum(L, "x", b->x);
        setNum(L, "y", b->y);
        if (b->globalAlpha != -1) setNum(L, "globalalpha", b->globalAlpha);
        setNum(L, "hardware", b->hardware);
        setNum(L, "scalewidth", b->scaleWidth);
        setNum(L, "scaleheight", b->scaleHeight);
        setNum(L, "smoothscale", b->smoothScale);
        if (b->display) setNum(L, "display", b->display);
    } else if (o->kind == QX_OBJ_ANIM && o->data) {
        auto *a = static_cast<const qxAnimData *>(o->data);
        setNum(L, "width", a->width);
        setNum(L, "height", a->height);
        setNum(L, "x", a->x);
        setNum(L, "y", a->y);
        setNum(L, "frames", a->frames);
        setNum(L, "fpr", a->fpr);
        setNum(L, "fromdisk", a->fromDisk);
        setNum(L, "skiploopframes", a->skipLoopFrames);
        setNum(L, "deinterlace", a->deinterlace);
    } else if (o->kind == QX_OBJ_SPRITE && o->data) {
        auto *s = static_cast<const qxSpriteData *>(o->data);
        setNum(L, "width", s->width);
        setNum(L, "height", s->height);
        setNum(L, "x", s->x);
        setNum(L, "y", s->y);
        setNum(L, "frames", s->frames);
        setNum(L, "fpr", s->fpr);
    }
    if (o->cacheMark == 1) {
        setStr(L, "cache", file.c_str());
        if (o->cacheAlpha) setNum(L, "cachealpha", 1);
    } else if (o->cacheMark == 2) {
        setStr(L, "cachedload", file.c_str());
    }
    setLoaderKeys(L, o);
}

// Pushes the arguments of an object's command; their count.
int pushObjectArgs(lua_State *L, qxObjectRecord *o, const std::string &file)
{
    lua_pushnumber(L, o->id);
    switch (o->kind) {
    case QX_OBJ_BGPIC:
    case QX_OBJ_BRUSH:
    case QX_OBJ_ANIM:
    case QX_OBJ_SPRITE:
        lua_pushstring(L, file.c_str());
        pushImageTable(L, o, file);
        return 3;
    case QX_OBJ_MUSIC:
    case QX_OBJ_SAMPLE:
    case QX_OBJ_VIDEO:
    case QX_OBJ_ICONFILE:
        lua_pushstring(L, file.c_str());
        if (!o->loader[0] && !o->adapter[0]) return 2;
        lua_newtable(L);
        setLoaderKeys(L, o);
        return 3;
    case QX_OBJ_FILE:
        lua_pushstring(L, file.c_str());
        // Declared files are read; OpenFile takes only its own three modes.
        lua_pushnumber(L, kOpenFileModeRead);
        if (!o->adapter[0]) return 3;
        lua_newtable(L);
        setStr(L, "adapter", o->adapter);
        return 4;
    case QX_OBJ_FONT: {
        lua_pushstring(L, o->text);
        lua_pushnumber(L, o->valueA);
        lua_newtable(L);
        uint32_t engine = o->flags >> 16, fontFlags = o->flags & 0xFF;
        if (engine) setNum(L, "engine", engine);
        if (fontFlags & 1) setNum(L, "cache", 0);
        if (fontFlags & 2) setNum(L, "usepoints", 1);
        return 4;
    }
    case QX_OBJ_BUTTON: {
        auto *b = static_cast<const qxButtonData *>(o->data);
        for (int i = 0; i < 4; i++) lua_pushnumber(L, b ? b->value[i] : 0);
        return 5;
    }
    case QX_OBJ_KEY:
        lua_pushstring(L, o->text);
        return 2;
    case QX_OBJ_MENU:
        pushMenu(L, static_cast<const qxDeclaredMenuItem *>(o->data), 0);
        return 2;
    case QX_OBJ_ICON:
        pushIcons(L, static_cast<const qxDeclaredIcon *>(o->data));
        return 2;
    case QX_OBJ_DIRECTORY:
        lua_pushstring(L, o->text);
        lua_newtable(L);
        setNum(L, "recursive", o->valueA);
        if (!o->data) setNum(L, "__emptydir", 1);
        lua_pushstring(L, "__direntries");
        lua_pushlightuserdata(L, o->data);
        lua_settable(L, -3);
        return 3;
    default:
        return 1;
    }
}

bool commandExists(lua_State *L, const char *key)
{
    lua_pushstring(L, key);
    lua_gettable(L, LUA_GLOBALSINDEX);
    bool found = lua_isfunction(L, -1);
    lua_pop(L, 1);
    return found;
}

// Calls the global command name with the arguments that push leaves.
template <typename Push> int callCommand(lua_State *L, const char *command, Push push)
{
    std::string key(command);
    for (char &c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
    int top = lua_gettop(L);
    if (!lua_checkstack(L, 8)) return ERR_STACK;
    lua_pushstring(L, key.c_str());
    lua_gettable(L, LUA_GLOBALSINDEX);
    if (!lua_isfunction(L, -1)) {
        lua_settop(L, top);
        qxSetErrorString(key.c_str());
        return ERR_FUNCDECLA;
    }
    int n = push();
    int r = lua_pcall(L, n, 0, 0);
    lua_settop(L, top);
    return r;
}

// ---- Displays ----

const char *modeName(uint32_t mode)
{
    switch (mode) {
    case 2: return "fullscreen";
    case 3: return "ask";
    case 4: return "moderequester";
    case 6: return "fakefullscreen";
    case 7: return "fullscreenscale";
    case 8: return "systemscale";
    default: return "windowed";
    }
}

struct FlagKey {
    uint32_t bit;
    const char *key;
    int value;
};

const FlagKey kFlagKeys[] = {
    {0x1, "borderless", 1},        {0x2, "sizeable", 1},         {0x4, "fixed", 1},
    {0x8, "nomodeswitch", 1},      {0x10, "hidepointer", 1},     {0x20, "nohide", 1},
    {0x40, "scalemode", 1},        {0x80, "smoothscale", 1},     {0x100, "scalemode", 2},
    {0x800, "hidden", 1},          {0x1000, "layers", 1},        {0x4000, "noclose", 1},
    {0x8000, "keepproportions", 1}, {0x10000, "fitscale", 1},    {0x20000, "noliveresize", 1},
    {0x40000, "keepscreenon", 1},  {0x80000, "hidefromtaskbar", 1}, {0x100000, "hideoptionsmenu", 1},
    {0x200000, "nohardwarescale", 1}, {0x400000, "alwaysontop", 1}, {0x800000, "singlemenu", 1},
    {0x1000000, "disableblanker", 1}, {0x8000000, "rememberposition", 1}, {0x10000000, "maximized", 1},
    {0x20000000, "traprmb", 1},    {0x40000000, "noscaleengine", 1}, {0x80000000, "nativeunits", 1},
};

void pushRegions(lua_State *L, const char *key, const qxDeclaredRegion *regions, uint32_t count)
{
    if (!count) return;
    lua_pushstring(L, key);
    lua_newtable(L);
    for (uint32_t i = 0; i < count; i++) {
        lua_newtable(L);
        setNum(L, "type", regions[i].type);
        setNum(L, "x", regions[i].x);
        setNum(L, "y", regions[i].y);
        setNum(L, "width", regions[i].width);
        setNum(L, "height", regions[i].height);
        setIndexTable(L, int(i));
    }
    lua_settable(L, -3);
}

void pushBackfill(lua_State *L, const qxBackfill &bf)
{
    static const char *const names[] = {"", "color", "gradient", "texture", "picture"};
    lua_pushstring(L, "backfill");
    lua_newtable(L);
    setNum(L, "hidetitlebar", bf.hideTitleBar);
    if (bf.mode != 0) {
        setStr(L, "type", bf.mode < 5 ? names[bf.mode] : "");
        setNum(L, "color", uint32_t(bf.startColor));
        setNum(L, "startcolor", uint32_t(bf.startColor));
        setNum(L, "endcolor", uint32_t(bf.endColor));
        setNum(L, "x", bf.x);
        setNum(L, "y", bf.y);
        setNum(L, "brush", bf.brushId);
        setNum(L, "scalepicture", bf.scale);
        setNum(L, "smoothscale", bf.smoothScale);
        if (bf.imagePath[0]) setStr(L, "brushfile", bf.imagePath);
    }
    lua_settable(L, -3);
}

bool declaresBGPic1(const qxAppletInfo *applet)
{
    for (const qxObjectRecord *o = applet->objects; o; o = o->next)
        if (o->kind == QX_OBJ_BGPIC && o->id == 1) return true;
    return false;
}

int pushDisplayArgs(lua_State *L, const qxObjectRecord *o, const qxDisplayDef &d, bool bgpic1,
                    const std::string *placement)
{
    lua_pushnumber(L, o->id);
    lua_newtable(L);
    setStr(L, "title", d.title);
    setNum(L, "x", d.x);
    setNum(L, "y", d.y);
    if (d.scaleFactor != 1.0) setNum(L, "scalefactor", d.scaleFactor);
    if (d.scaleWidth) setSize(L, "scalewidth", d.scaleWidth);
    if (d.scaleHeight) setSize(L, "scaleheight", d.scaleHeight);
    if (d.flags & 0x400) setNum(L, "active", 1);
    if ((d.flags & 0x200) || (o->id == 1 && bgpic1)) {
        setNum(L, "bgpic", (d.flags & 0x200) ? d.bgpic : 1);
    } else {
        setNum(L, "width", d.width);
        setNum(L, "height", d.height);
        setNum(L, "fillstyle", d.fillStyle);
        if (d.fillStyle == 2) {
            pushGradient(L, d.gradient);
        } else if (d.fillStyle == 3) {
            setNum(L, "texturebrush", d.textureBrush);
            setNum(L, "texturex", d.textureX);
            setNum(L, "texturey", d.textureY);
        } else {
            setNum(L, "color", d.color);
        }
    }
    uint32_t asked = o->id == 1 ? qxAppletLoad.pluginScaleFlags : 0;
    for (const FlagKey &f : kFlagKeys)
        if (d.flags & f.bit) setNum(L, f.key, f.value);
    if (asked & 1) setNum(L, "hidden", 1);
    if (asked & 4) setNum(L, "smoothscale", 1);
    if (d.xServer[0]) setStr(L, "xserver", d.xServer);
    pushRegions(L, "dragregion", d.dragRegions, d.dragCount);
    pushRegions(L, "sizeregion", d.sizeRegions, d.sizeCount);
    setNum(L, "orientation", d.orientation);
    setNum(L, "monitor", d.monitor + 1);
    if (d.menu != -1) setNum(L, "menu", d.menu);
    setStr(L, "mode", (asked & 2) ? "systemscale" : modeName(d.displayMode));
    setNum(L, "scrwidth", d.scrWidth);
    setNum(L, "scrheight", d.scrHeight);
    setNum(L, "scrdepth", d.scrDepth);
    setNum(L, "desktop", d.desktop);
    setNum(L, "__restorewidth", d.restoreWidth);
    setNum(L, "__restoreheight", d.restoreHeight);
    if (placement) {
        lua_pushstring(L, "__placement");
        lua_pushlstring(L, placement->data(), placement->size());
        lua_settable(L, -3);
    }
    pushBackfill(L, d.backfill);
    return 2;
}

// Number of the field key of the table on the stack top; false when it is
// not a number.
bool placementNumber(lua_State *L, const char *key, double *out)
{
    lua_pushstring(L, key);
    lua_gettable(L, -2);
    const bool ok = lua_type(L, -1) == LUA_TNUMBER;
    if (ok) *out = lua_tonumber(L, -1);
    lua_pop(L, 1);
    return ok;
}

// The placement a "rememberposition" display stored when it last closed
// (the preferences entry "__placement"[id]) over its definition. Used only
// when it was stored while windowed and with the same scaling and sizing
// style; osdata receives the window system's own placement text.
bool applyStoredPlacement(lua_State *L, int32_t id, qxDisplayDef &d, std::string &osdata)
{
    if (!(d.flags & 0x8000000) || qxGlobalSettings.overridePlacement || d.displayMode == 6 ||
        d.displayMode == 7 || !qxPreprocLoadPrefs)
        return false;
    const int top = lua_gettop(L);
    bool used = false;
    if (!qxPreprocLoadPrefs(L, 0) && lua_istable(L, -1)) {
        lua_pushstring(L, "__placement");
        lua_gettable(L, -2);
        if (lua_istable(L, -1)) lua_rawgeti(L, -1, id);
        double active = 0, autoscale = 0, layerscale = 0, sizeable = 0;
        if (lua_istable(L, -1) && placementNumber(L, "active", &active) && active != 0 &&
            placementNumber(L, "autoscale", &autoscale) && placementNumber(L, "layerscale", &layerscale) &&
            placementNumber(L, "sizeable", &sizeable) && (autoscale != 0) == ((d.flags & 0x40) != 0) &&
            (layerscale != 0) == ((d.flags & 0x100) != 0) && (sizeable != 0) == ((d.flags & 0x2) != 0)) {
            double v;
            if (placementNumber(L, "x", &v)) d.x = int32_t(v);
            if (placementNumber(L, "y", &v)) d.y = int32_t(v);
            if (placementNumber(L, "scalewidth", &v)) d.scaleWidth = int32_t(v);
            if (placementNumber(L, "scaleheight", &v)) d.scaleHeight = int32_t(v);
            if (placementNumber(L, "scalefactor", &v) && v > 0) d.scaleFactor = v;
            if (placementNumber(L, "width", &v)) d.restoreWidth = int32_t(v);
            if (placementNumber(L, "height", &v)) d.restoreHeight = int32_t(v);
            lua_pushstring(L, "osdata");
            lua_gettable(L, -2);
            if (lua_type(L, -1) == LUA_TSTRING) osdata.assign(lua_tostring(L, -1), lua_strlen(L, -1));
            d.flags &= ~0x10000u; // "fitscale" would undo the stored size
            d.monitor = 0;
            used = true;
        }
    }
    lua_settop(L, top);
    return used;
}

// The command line's display settings over a definition.
void applyCommandLine(const qxAppletInfo *a, qxDisplayDef *d)
{
    if (a->displayMode != QX_DISPMODE_NONE) d->displayMode = a->displayMode;
    if (a->scrWidth != -1) d->scrWidth = a->scrWidth;
    if (a->scrHeight != -1) d->scrHeight = a->scrHeight;
    if (a->scrDepth != -1) d->scrDepth = a->scrDepth;
    if (a->scaleFactor != 1.0) d->scaleFactor = a->scaleFactor;
    if (a->scaleWidth) d->scaleWidth = a->scaleWidth;
    if (a->scaleHeight) d->scaleHeight = a->scaleHeight;
    if (a->winWidth) d->restoreWidth = a->winWidth;
    if (a->winHeight) d->restoreHeight = a->winHeight;
    if (a->monitor > 0) d->monitor = uint32_t(a->monitor); // both count from 0
    if (a->backfill.mode != 0) d->backfill = a->backfill;
    else if (a->backfill.hideTitleBar) d->backfill.hideTitleBar = 1;
    d->flags |= a->displayFlags;
    d->flags2 |= a->displayFlags2;
    if (a->xServer[0]) std::memcpy(d->xServer, a->xServer, sizeof d->xServer);
}

int loadRequiredPlugins(lua_State *L, qxAppletInfo *applet)
{
    const qxSettings &g = qxGlobalSettings;
    qxRequireTag *tags = nullptr;
    if (g.requireTags) {
        int e = qxRequireTagsFor(g.requireTags, nullptr, &tags);
        if (e) return e;
    }
    for (const char *name = g.requireList; name && *name; name += std::strlen(name) + 1) {
        // Tag groups name the plug-in as the loader does, without ".qxp".
        if (int e = qxRequireTagsFor(g.requireTags, qxPluginBaseName(name).c_str(), &tags)) return e;
        uint32_t flags = 0;
        int e = qxLoadPlugin(L, name, 0, 0, 0, 0, 0, tags, &flags);
        qxFreeRequireTags(tags);
        if (e) return e;
        qxAppletLoad.pluginScaleFlags |= flags;
    }
    for (qxObjectRecord *o = applet->objects; o; o = o->next) {
        if (o->kind != QX_OBJ_PLUGIN) continue;
        uint32_t flags = 0;
        int e = qxLoadPlugin(L, o->text, o->valueA, 0, 0, 0, 0, static_cast<qxRequireTag *>(o->data), &flags);
        if (e) return e;
        qxAppletLoad.pluginScaleFlags |= flags;
    }
    return 0;
}

// The report of a failing declaration names its command and line.
void markDeclaration(const qxObjectRecord *o, const char *command)
{
    qxSetErrorCommandName(command);
    qxVmErrorLine = int(o->line);
}

int createObjects(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet)
{
    for (qxObjectRecord *o = applet->objects; o; o = o->next) {
        if (o->kind == QX_OBJ_DISPLAY || o->kind == QX_OBJ_PLUGIN || o->kind == QX_OBJ_NOTHING ||
            o->kind == QX_OBJ_WARNING)
            continue;
        const char *command = creatingCommand(o->kind);
        if (!command) continue;
        if (startup->isApplet) qxSetTag(QX_TAG_QUIET, 1);
        markDeclaration(o, command);
        std::string file;
        if (int e = objectFileName(o, file)) return e;
        int r = callCommand(L, command, [&] { return pushObjectArgs(L, o, file) ; });
        if (r) {
            markDeclaration(o, command);
            return r;
        }
        if (o->kind == QX_OBJ_DIRECTORY) o->dataHandedOver = 1;
        qxSetErrorCommandName("----");
    }
    return 0;
}

int createDisplays(lua_State *L, qxAppletInfo *applet)
{
    bool bgpic1 = declaresBGPic1(applet);
    for (qxObjectRecord *o = applet->objects; o; o = o->next) {
        if (o->kind != QX_OBJ_DISPLAY || !o->data) continue;
        markDeclaration(o, "CreateDisplay");
        auto *d = static_cast<qxDisplayDef *>(o->data);
        // Without a display library the default display is left to the
        // first display that the script opens.
        if (o->implicit && !commandExists(L, "createdisplay")) continue;
        std::string osdata;
        const bool placed = applyStoredPlacement(L, o->id, *d, osdata);
        int r = callCommand(L, "CreateDisplay",
                            [&] { return pushDisplayArgs(L, o, *d, bgpic1, placed ? &osdata : nullptr); });
        if (r) {
            markDeclaration(o, "CreateDisplay");
            return r;
        }
        qxSetErrorCommandName("----");
    }
    return 0;
}

void convertInPlace(char *text, size_t capacity)
{
    if (!text || !*text) return;
    std::string copy(text);
    qxUtf8ToLatin1Buf(copy.c_str(), text, capacity);
}

} // namespace

extern "C" {

void qxSwitchToLatin1(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet)
{
    qxSetTextModeUtf8(0);
    if (qxAppletLoad.latin1Done) return;
    qxAppletLoad.latin1Done = 1;
    if (L) {
        if (const char *script = luaL_getregstr(L, "script")) {
            std::string copy(script);
            std::string out(copy.size() + 1, '\0');
            qxUtf8ToLatin1Buf(copy.c_str(), out.data(), out.size());
            luaL_setregstr(L, "script", out.c_str());
            luaL_setregnum(L, "beginline", 1);
        }
    }
    char temp[QX_TEMPDIR_SIZE];
    std::snprintf(temp, sizeof temp, "%s", qxGetTempDirectory());
    convertInPlace(temp, sizeof temp);
    qxSetTempDirectory(temp);
    if (startup) {
        convertInPlace(startup->appletPath, sizeof startup->appletPath);
        convertInPlace(startup->givenName, sizeof startup->givenName);
        convertInPlace(startup->programPath, sizeof startup->programPath);
    }
    if (applet) {
        convertInPlace(applet->backfill.imagePath, sizeof applet->backfill.imagePath);
        for (qxLinkedFile *f = applet->linkedFiles; f; f = f->next) convertInPlace(f->name, sizeof f->name);
    }
    if (char *tags = qxGlobalSettings.requireTags) convertInPlace(tags, std::strlen(tags) + 1);
    for (qxIconSlot &slot : qxIconSlots)
        if (slot.isDefault && slot.path) convertInPlace(slot.path, std::strlen(slot.path) + 1);
    // Plug-ins learn the new text mode (0: ISO-8859-1, as host slot 49 says it).
    qxRunCallbacks(L, 3, nullptr, 0);
}

int qxPrepareMainChunk(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet)
{
    if (qxGlobalSettings.setConstants) {
        if (int e = qxApplySetConstants(L, qxGlobalSettings.setConstants)) return e;
    }
    // ENCODING iso8859_1 set the mode already; the texts follow it here.
    // Plug-ins are told the text mode once here (the switch tells them 0).
    if (!qxTextModeUtf8) qxSwitchToLatin1(L, startup, applet);
    else qxRunCallbacks(L, 3, nullptr, 1);

    qxSetTag(QX_TAG_MAINRUNNING, 1);
    int r = luaL_loadbuffer(L, static_cast<const char *>(applet->mainChunk),
                            applet->mainChunk ? applet->mainChunkSize : 0, nullptr);
    qxSetTag(QX_TAG_MAINRUNNING, 0);
    if (r) return r;

    uint32_t backend = qxGlobalSettings.backendFlags;
    if ((backend & 0x8) && !qxGlobalSettings.noChdir && qxAppletLoad.savedDir) {
        char *previous = qxChangeDir(qxAppletLoad.savedDir);
        qxFree(previous);
    }
    if (backend & 0x10) qxGlobalSettings.noDebug = 1;

    const qxDisplayOverrides &ovr = qxAppletLoad.overrides;
    if (ovr.given) {
        qxDisplayDef *d = qxFirstDisplayDef(applet, 1);
        if (!d) return ERR_MEM;
        if (ovr.given & QX_OVR_MODE) d->displayMode = ovr.displayMode;
        if (ovr.given & QX_OVR_SCRSIZE) {
            d->scrWidth = ovr.scrWidth;
            d->scrHeight = ovr.scrHeight;
        }
        if (ovr.given & QX_OVR_SCRDEPTH) d->scrDepth = ovr.scrDepth;
        if (ovr.given & QX_OVR_DESKTOP) d->desktop = ovr.desktop;
        if (ovr.given & QX_OVR_BACKFILL) d->backfill = ovr.backfill;
        else if (ovr.given & QX_OVR_HIDETITLE) d->backfill.hideTitleBar = ovr.hideTitleBar;
    }
    return 0;
}

int qxRunPreprocessorObjects(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet, int)
{
    const qxPreprocSteps &steps = qxPreprocHooks;
    if (steps.buildAppIcons)
        if (int e = steps.buildAppIcons(!qxGetTag(QX_TAG_QUIET))) return e;
    qxRequirePhase = 1;
    int r = loadRequiredPlugins(L, applet);
    qxRequirePhase = 0;
    if (r) return r;
    // After the plug-ins, which may bring a font engine, and after the
    // applet chose its text mode.
    if (steps.openDefaultFont && (r = steps.openDefaultFont())) return r;

    // Display 1, appended with the defaults when the applet declares none.
    if (!qxFirstDisplayDef(applet, 1)) return ERR_MEM;
    if (!qxAppletLoad.noCmdLineDisplay) {
        for (qxObjectRecord *o = applet->objects; o; o = o->next)
            if (o->kind == QX_OBJ_DISPLAY && o->data && (o->id == 1 || startup->allDisplays))
                applyCommandLine(applet, static_cast<qxDisplayDef *>(o->data));
    }
    markSharedFiles(applet);

    qxSetTag(QX_TAG_STORED, 1);
    qxSetTag(QX_TAG_MAINRUNNING, 1);
    int savedLine = qxVmErrorLine;
    char *cwd = getcwd(nullptr, 0);
    r = createObjects(L, startup, applet);
    if (cwd) {
        if (chdir(cwd) != 0) { /* the objects are made; a lost directory only affects relative names */ }
        std::free(cwd);
    }
    if (!r) r = createDisplays(L, applet);
    qxSetTag(QX_TAG_STORED, 0);
    qxSetTag(QX_TAG_QUIET, startup->quiet);
    // A failure keeps tag 22 on: its report names the declaration's line.
    if (r) return r;
    if (!qxGlobalSettings.noDebug) {
        for (qxObjectRecord *o = applet->objects; o; o = o->next)
            if (o->kind == QX_OBJ_WARNING) qxPrintF("*** WARNING %s ***\n", o->text ? o->text : "");
    }
    qxVmErrorLine = savedLine;
    qxSetTag(QX_TAG_MAINRUNNING, 0);
    qxFreeObjectList(applet);
    // The shared files of the declarations are loaded: the cache goes.
    if (steps.freePictureCache) steps.freePictureCache();
    return 0;
}
}
