// The "graphics" command library: opener, close function, command table,
// constants, the colour commands and the attribute getter and setter.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/commands/qx_objreg.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_framepacing.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_clipregion.h"
#include "display/qx_planesources.h"
#include "display/qx_pointer.h"
#include "display/qx_positions.h"
#include "display/qx_snapshot.h"
#include "imaging/qx_pixelformat.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_hooks.h"
#include "platform/qx_errcodes.h"

// Mask mode and alpha intensity used when drawing into the mask or alpha
// Select targets; 0xFFFFFFFF means no intensity was set.
static qxDisplay *gSpareDisplay = nullptr;

extern "C" {
lua_CFunction qxGraphicsSetDrawTagsDefault;
void (*qxGraphicsResetDrawTags)(void);
}

extern "C" qxDisplay *qxGraphicsSpareDisplay(void)
{
    return gSpareDisplay;
}

extern "C" uint32_t qxMixColor(uint32_t c1, uint32_t c2, int ratio)
{
    uint32_t out = 0;
    for (int shift = 16; shift >= 0; shift -= 8) {
        int a = (int)((c1 >> shift) & 255), b = (int)((c2 >> shift) & 255);
        int c = a + (((b - a) * ratio) >> 8);
        out |= (uint32_t)(c & 255) << shift;
    }
    return out;
}

extern "C" uint32_t qxRealColorForDepth(uint32_t colour, uint32_t depth)
{
    if (depth == 15)
        return colour & 0xF8F8F8u;
    if (depth == 16)
        return colour & 0xF8FCF8u;
    return colour;
}

extern "C" int qxIntersectRects(int x1, int y1, int w1, int h1, int x2, int y2, int w2, int h2,
                                int out[4])
{
    int64_t left = x1 > x2 ? x1 : x2, top = y1 > y2 ? y1 : y2;
    int64_t right = std::min<int64_t>((int64_t)x1 + w1, (int64_t)x2 + w2);
    int64_t bottom = std::min<int64_t>((int64_t)y1 + h1, (int64_t)y2 + h2);
    if (w1 <= 0 || h1 <= 0 || w2 <= 0 || h2 <= 0 || right <= left || bottom <= top) {
        out[0] = out[1] = out[2] = out[3] = 0;
        return 0;
    }
    out[0] = (int)left;
    out[1] = (int)top;
    out[2] = (int)(right - left);
    out[3] = (int)(bottom - top);
    return 1;
}

qxPlaneSourceHooks qxPlaneSources;

namespace {

const uint16_t kRandomColors[246] = {
    0xCCC, 0x000, 0xFFF, 0x888, 0xA20, 0xD50, 0xEB0, 0x080, 0x6B0, 0x170, 0x5BC, 0x367, 0x07B,
    0x048, 0xE88, 0xB55, 0xE72, 0xC64, 0x820, 0xFB7, 0x90F, 0x60C, 0xB70, 0x950, 0xFA5, 0xD84,
    0x9B9, 0x686, 0x4A7, 0x175, 0x333, 0xEEE, 0x666, 0x000, 0x777, 0x240, 0x620, 0x510, 0x750,
    0x540, 0x350, 0x030, 0x256, 0x133, 0x035, 0x024, 0x744, 0x522, 0x731, 0x632, 0x410, 0x753,
    0x407, 0x306, 0x530, 0x420, 0x752, 0x642, 0x454, 0x343, 0x253, 0x032, 0x111, 0x777, 0xFF0,
    0xEE0, 0xDD0, 0xCC0, 0xBB0, 0xAA0, 0x990, 0x880, 0x770, 0x660, 0x550, 0x440, 0x330, 0x220,
    0x110, 0xF00, 0xE00, 0xD00, 0xC00, 0xB00, 0xA00, 0x900, 0x800, 0x700, 0x600, 0x500, 0x400,
    0x300, 0x200, 0x0F0, 0x0E0, 0x0D0, 0x0C0, 0x0B0, 0x0A0, 0x090, 0x080, 0x070, 0x060, 0x050,
    0x040, 0x030, 0x020, 0x010, 0x00F, 0x00E, 0x00D, 0x00C, 0x00B, 0x00A, 0x009, 0x008, 0x007,
    0x006, 0x005, 0x004, 0x003, 0x002, 0x0FF, 0x0EE, 0x0DD, 0x0CC, 0x0BB, 0x0AA, 0x099, 0x088,
    0x077, 0x066, 0x055, 0x044, 0x033, 0x022, 0x011, 0xF0F, 0xE0E, 0xD0D, 0xC0C, 0xB0B, 0xA0A,
    0x909, 0x808, 0x707, 0x606, 0x505, 0x404, 0x303, 0x202, 0x101, 0xFFF, 0xFFE, 0xFFD, 0xFFC,
    0xFFB, 0xFFA, 0xFF9, 0xFF8, 0xFF7, 0xFF6, 0xFF5, 0xFF4, 0xFF3, 0xFF2, 0xFF1, 0xFF0, 0xFFF,
    0xEEE, 0xDDD, 0xCCC, 0xBBB, 0xAAA, 0x999, 0x888, 0x777, 0x666, 0x555, 0x444, 0x333, 0x222,
    0x111, 0xF77, 0xF87, 0xFA7, 0xFB7, 0xFC7, 0xFD7, 0xFF7, 0xEF7, 0xDF7, 0xBF7, 0xAF7, 0x9F7,
    0x8F7, 0x7F8, 0x7F9, 0x7FA, 0x7FC, 0x7FD, 0x7FE, 0x7EF, 0x7DF, 0x7CF, 0x7BF, 0x79F, 0x78F,
    0x77F, 0x97F, 0xA7F, 0xB7F, 0xC7F, 0xE7F, 0xF7F, 0xF00, 0xF20, 0xF50, 0xF70, 0xFA0, 0xFC0,
    0xFE0, 0xDF0, 0xBF0, 0x8F0, 0x6F0, 0x3F0, 0x1F0, 0x0F1, 0x0F4, 0x0F6, 0x0F9, 0x0FB, 0x0FD,
    0x0EF, 0x0BF, 0x09F, 0x07F, 0x04F, 0x02F, 0x00F, 0x30F, 0x50F, 0x80F, 0xA0F, 0xC0F,
};

// Script integers are doubles; colours wrap to 32 bits as the VM's integers do.
int64_t intArg(lua_State *L, int n)
{
    double v = luaL_checknumber(L, n);
    if (!std::isfinite(v))
        return 0;
    if (v > 9.2e18 || v < -9.2e18)
        return 0;
    return (int64_t)v;
}

int cmdRed(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    lua_pushnumber(L, (double)((intArg(L, 1) >> 16) & 255));
    return 1;
}

int cmdGreen(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    lua_pushnumber(L, (double)((intArg(L, 1) >> 8) & 255));
    return 1;
}

int cmdBlue(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    lua_pushnumber(L, (double)(intArg(L, 1) & 255));
    return 1;
}

// The parts are not masked: RGB(256, 0, 0) carries into the alpha byte.
int cmdRGB(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    int32_t r = (int32_t)intArg(L, 1), g = (int32_t)intArg(L, 2), b = (int32_t)intArg(L, 3);
    int32_t v = (int32_t)(((uint32_t)r << 16) | ((uint32_t)g << 8) | (uint32_t)b);
    lua_pushnumber(L, (double)v);
    return 1;
}

int cmdARGB(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    uint32_t v = ((uint32_t)intArg(L, 1) << 24) | (uint32_t)intArg(L, 2);
    lua_pushnumber(L, (double)v);
    return 1;
}

int cmdMixRGB(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    uint32_t c1 = (uint32_t)intArg(L, 1), c2 = (uint32_t)intArg(L, 2);
    double ratio = qxGetNumberOrPercentArg(L, 3, 255.0, 0, nullptr);
    if (ratio > 255.0)
        return ERR_WRONGUSAGE;
    lua_pushnumber(L, (double)qxMixColor(c1, c2, (int)ratio));
    return 1;
}

int cmdGetRandomColor(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    int index = (int)(drand48() * 246);
    if (index < 0 || index > 245)
        index = 0;
    uint32_t c = kRandomColors[index];
    uint32_t v = ((c >> 8) & 15) * 0x110000u + ((c >> 4) & 15) * 0x1100u + (c & 15) * 0x11u;
    lua_pushnumber(L, (double)v);
    return 1;
}

int cmdGetRealColor(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    uint32_t colour = (uint32_t)intArg(L, 1);
    lua_pushnumber(L, (double)qxRealColorForDepth(colour, (uint32_t)qxDisplayDepth()));
    return 1;
}

int cmdIntersection(lua_State *L)
{
    qxCheckArgCount(L, 8, 8, 0, 0);
    int a[8];
    for (int i = 0; i < 8; i++)
        a[i] = (int)(int32_t)intArg(L, i + 1);
    int out[4];
    qxIntersectRects(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], out);
    for (int v : out)
        lua_pushnumber(L, v);
    return 4;
}

// The current output's pen table is the palette its BGPic was given; an
// unset entry or no table reads 0xFFFFFFFF.
int cmdGetPen(lua_State *L)
{
    qxCheckArgCount(L, 0, 2, 0, 0);
    const double index = luaL_optnumber(L, 1, 0);
    // Drawing into the display goes to its BGPic; a Select target has its record.
    const qxDisplay *d = qxCurrentDisplay;
    const qxBGPic *out = d && d->targetType == 21 ? d->bgpic : qxCurrentOutput;
    const uint32_t *pens = out ? out->palette : nullptr;
    const int pen = index < 0 ? 0 : index >= 256 ? 255 : int(index);
    lua_pushnumber(L, pens ? pens[pen] : 4294967295.0);
    return 1;
}

// IsPicture(file$ [, {loader, adapter}]): whether a loader knows the file,
// and what it is.
int cmdIsPicture(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    const char *file = luaL_checkstring(L, 1);
    char loader[256] = "", adapter[256] = "";
    if (lua_gettop(L) >= 2 && lua_istable(L, 2)) {
        // Each answers whether the field was there; a wrong type raises.
        qxGetFieldStr(L, 2, "loader", loader, sizeof loader, nullptr);
        qxGetFieldStr(L, 2, "adapter", adapter, sizeof adapter, nullptr);
    }
    uint32_t format = 8, w = 0, h = 0, alpha = 0, transparency = 0;
    int known = 0;
    if (qxPictureWriterTable.identify) {
        uint32_t f = 8, pw = 0, ph = 0, pa = 0, pt = 0;
        if (qxPictureWriterTable.identify(file, loader, *adapter ? adapter : nullptr, &f, &pw, &ph, &pa, &pt) == 0) {
            known = 1;
            format = f, w = pw, h = ph, alpha = pa, transparency = pt;
        }
    }
    lua_pushnumber(L, known);
    lua_newtable(L);
    const struct {
        const char *key;
        uint32_t value;
    } fields[] = {{"format", format}, {"width", w}, {"height", h}, {"alpha", alpha}, {"vector", 0},
                  {"transparency", transparency}};
    for (const auto &f : fields) {
        lua_pushstring(L, f.key);
        lua_pushnumber(L, f.value);
        lua_settable(L, -3);
    }
    return 2;
}

// The draw-tag templates belong to the image objects above this layer.
int cmdSetDrawTagsDefault(lua_State *L)
{
    return qxGraphicsSetDrawTagsDefault ? qxGraphicsSetDrawTagsDefault(L) : ERR_UNSUPPORTEDFEAT;
}

} // namespace


static constexpr qxCommandDef graphicsCommands[] = {
    {"Red", cmdRed},
    {"Green", cmdGreen},
    {"Blue", cmdBlue},
    {"RGB", cmdRGB},
    {"ARGB", cmdARGB},
    {"MovePointer", qxCmdMovePointer},
    {"HidePointer", qxCmdHidePointer},
    {"SetPointer", qxCmdSetPointer},
    {"ShowPointer", qxCmdShowPointer},
    {"GetAttribute", qxCmdGetAttribute},
    {"GetPen", cmdGetPen},
    {"VWait", qxCmdVWait},
    {"SetFPSLimit", qxCmdSetFPSLimit},
    {"GetFPSLimit", qxCmdGetFPSLimit},
    {"IsPicture", cmdIsPicture},
    {"GetRealColor", cmdGetRealColor},
    {"SaveSnapshot", qxCmdSaveSnapshot},
    {"MixRGB", cmdMixRGB},
    {"CreateClipRegion", qxCmdCreateClipRegion},
    {"SetClipRegion", qxCmdSetClipRegion},
    {"FreeClipRegion", qxCmdFreeClipRegion},
    {"CreatePointer", qxCmdCreatePointer},
    {"FreePointer", qxCmdFreePointer},
    {"AsyncDrawFrame", qxCmdAsyncDrawFrame},
    {"CancelAsyncDraw", qxCmdCancelAsyncDraw},
    {"FinishAsyncDraw", qxCmdFinishAsyncDraw},
    {"DumpVideoTime", qxCmdDumpVideoTime},
    {"GetRandomColor", cmdGetRandomColor},
    {"SetDrawTagsDefault", cmdSetDrawTagsDefault},
    {"BeginRefresh", qxCmdBeginRefresh},
    {"EndRefresh", qxCmdEndRefresh},
    {"Intersection", cmdIntersection},
    {nullptr, nullptr},
};
static constexpr qxConstantDef graphicsConstants[] = {
    {"CENTER", nullptr, -100000.0},
    {"LEFT", nullptr, -90000.0},
    {"RIGHT", nullptr, -80000.0},
    {"TOP", nullptr, -70000.0},
    {"BOTTOM", nullptr, -60000.0},
    {"LEFTOUT", nullptr, -50000.0},
    {"RIGHTOUT", nullptr, -40000.0},
    {"TOPOUT", nullptr, -30000.0},
    {"BOTTOMOUT", nullptr, -20000.0},
    {"BRUSH", nullptr, 3.0},
    {"TEXTOBJECT", nullptr, 8.0},
    {"ATTRWIDTH", nullptr, 0.0},
    {"ATTRHEIGHT", nullptr, 1.0},
    {"ATTRMAXWIDTH", nullptr, 2.0},
    {"ATTRMAXHEIGHT", nullptr, 3.0},
    {"DISPLAY", nullptr, 21.0},
    {"BGPIC", nullptr, 1.0},
    {"ANIM", nullptr, 4.0},
    {"BRUSHPART", nullptr, 12.0},
    {"BGPICPART", nullptr, 13.0},
    {"PRINT", nullptr, 11.0},
    {"TEXTOUT", nullptr, 9.0},
    {"ATTRBGPIC", nullptr, 4.0},
    {"ATTRTRANSPARENTCOLOR", nullptr, 5.0},
    {"LAYER", nullptr, 22.0},
    {"ATTRLAYERS", nullptr, 6.0},
    {"HIDEBRUSH", nullptr, 23.0},
    {"INSERTBRUSH", nullptr, 24.0},
    {"HIDELAYER", nullptr, 25.0},
    {"UNDO", nullptr, 10.0},
    {"REMOVELAYER", nullptr, 26.0},
    {"NOTRANSPARENCY", nullptr, 4294967295.0},
    {"ATTRXPOS", nullptr, 7.0},
    {"ATTRYPOS", nullptr, 8.0},
    {"ATTRTYPE", nullptr, 9.0},
    {"ATTRVISIBLE", nullptr, 10.0},
    {"USELAYERPOSITION", nullptr, 100000.0},
    {"NORMALSPEED", nullptr, -1.0},
    {"FASTSPEED", nullptr, -2.0},
    {"SLOWSPEED", nullptr, -3.0},
    {"KEEPASPRAT", nullptr, 100000.0},
    {"LINEAR", nullptr, 2.0},
    {"ATTRNUMFRAMES", nullptr, 11.0},
    {"ATTRCURFRAME", nullptr, 12.0},
    {"NEXTFRAME", nullptr, 29.0},
    {"SNAPWINDOW", nullptr, 0.0},
    {"SNAPDISPLAY", nullptr, 1.0},
    {"SNAPDESKTOP", nullptr, 2.0},
    {"SHAPE", nullptr, 28.0},
    {"NONE", nullptr, -1.0},
    {"ATTRLAYERID", nullptr, 13.0},
    {"ATTRDURATION", nullptr, 14.0},
    {"ATTRPITCH", nullptr, 15.0},
    {"SPRITE", nullptr, 32.0},
    {"ATTRHASMASK", nullptr, 16.0},
    {"ATTRHASALPHA", nullptr, 17.0},
    {"ATTRPOSITION", nullptr, 18.0},
    {"ATTRFORMAT", nullptr, 19.0},
    {"ATTRBITRATE", nullptr, 20.0},
    {"ATTRCURSORX", nullptr, 21.0},
    {"ATTRCURSORY", nullptr, 22.0},
    {"NEXTFRAME2", nullptr, 34.0},
    {"ATTRONSCREEN", nullptr, 23.0},
    {"ATTRBORDERLEFT", nullptr, 24.0},
    {"ATTRBORDERTOP", nullptr, 25.0},
    {"ATTRBORDERRIGHT", nullptr, 26.0},
    {"ATTRBORDERBOTTOM", nullptr, 27.0},
    {"ATTRHOSTWIDTH", nullptr, 28.0},
    {"ATTRHOSTHEIGHT", nullptr, 29.0},
    {"CLIPREGION", nullptr, 35.0},
    {"ATTRFONTASCENDER", nullptr, 30.0},
    {"ATTRFONTDESCENDER", nullptr, 31.0},
    {"ATTRFONTNAME", nullptr, 32.0},
    {"ATTRFONTSIZE", nullptr, 33.0},
    {"ATTRFONTSCALABLE", nullptr, 34.0},
    {"ATTRFONTAA", nullptr, 35.0},
    {"ATTRTEXT", nullptr, 36.0},
    {"POINTER", nullptr, 36.0},
    {"STDPTR_SYSTEM", nullptr, 0.0},
    {"STDPTR_BUSY", nullptr, 1.0},
    {"STDPTR_CUSTOM", nullptr, 2.0},
    {"ASYNCDRAW", nullptr, 37.0},
    {"ADF_FX", nullptr, 0.0},
    {"ADF_MOVEOBJECT", nullptr, 1.0},
    {"ADF_ANIM", nullptr, 2.0},
    {"ATTRFRAMEDELAY", nullptr, 37.0},
    {"DEFAULTSPEED", nullptr, -4.0},
    {"ANMFMT_GIF", nullptr, 0.0},
    {"ANMFMT_MJPEG", nullptr, 1.0},
    {"ATTRPOINTER", nullptr, 38.0},
    {"ATTRCLIPREGION", nullptr, 39.0},
    {"ATTRSTATE", nullptr, 40.0},
    {"ATTRACTIVE", nullptr, 41.0},
    {"ATTRMODE", nullptr, 42.0},
    {"ATTRSCALEMODE", nullptr, 43.0},
    {"ATTRSCALEWIDTH", nullptr, 44.0},
    {"ATTRSCALEHEIGHT", nullptr, 45.0},
    {"ATTRBORDERLESS", nullptr, 46.0},
    {"ATTRFIXED", nullptr, 47.0},
    {"ATTRSIZEABLE", nullptr, 48.0},
    {"ATTRNOHIDE", nullptr, 49.0},
    {"ATTRNOMODESWITCH", nullptr, 50.0},
    {"ATTRTITLE", nullptr, 51.0},
    {"ATTRMARGINLEFT", nullptr, 52.0},
    {"ATTRMARGINRIGHT", nullptr, 53.0},
    {"ATTROUTPUTDEVICE", nullptr, 54.0},
    {"ATTRDOUBLEBUFFER", nullptr, 55.0},
    {"DOUBLEBUFFER", nullptr, 38.0},
    {"MASK", nullptr, 28.0},
    {"ALPHACHANNEL", nullptr, 30.0},
    {"ATTRHOSTDEPTH", nullptr, 56.0},
    {"MEMORY", nullptr, 39.0},
    {"ATTRSIZE", nullptr, 57.0},
    {"EVENTHANDLER", nullptr, 40.0},
    {"ATTRFUNCTION", nullptr, 58.0},
    {"ATTRUSERDATA", nullptr, 59.0},
    {"INTERVAL", nullptr, 41.0},
    {"TIMEOUT", nullptr, 42.0},
    {"FONT", nullptr, 43.0},
    {"ATTRCOUNT", nullptr, 60.0},
    {"FILE", nullptr, 44.0},
    {"DIRECTORY", nullptr, 45.0},
    {"ATTRNOCLOSE", nullptr, 61.0},
    {"ATTRGROUP", nullptr, 62.0},
    {"ATTRMASKMODE", nullptr, 63.0},
    {"ATTRALPHAINTENSITY", nullptr, 64.0},
    {"BRUSH_VS_BOX", nullptr, 46.0},
    {"LAYER_VS_BOX", nullptr, 47.0},
    {"SPRITE_VS_BOX", nullptr, 48.0},
    {"SPRITE_VS_BRUSH", nullptr, 58.0},
    {"VECTORPATH", nullptr, 49.0},
    {"ATTRRAWXPOS", nullptr, 65.0},
    {"ATTRRAWYPOS", nullptr, 66.0},
    {"ATTRRAWWIDTH", nullptr, 67.0},
    {"ATTRRAWHEIGHT", nullptr, 68.0},
    {"IMAGETYPE_RASTER", nullptr, 0.0},
    {"IMAGETYPE_VECTOR", nullptr, 1.0},
    {"RADIAL", nullptr, 3.0},
    {"CONICAL", nullptr, 4.0},
    {"VIDEO", nullptr, 50.0},
    {"NOCOLOR", nullptr, 4294967295.0},
    {"ATTRLAYERSON", nullptr, 69.0},
    {"ATTRORIENTATION", nullptr, 70.0},
    {"ATTRKEYBOARD", nullptr, 71.0},
    {"ATTRCANSEEK", nullptr, 72.0},
    {"MOVELIST", nullptr, 51.0},
    {"ANIMSTREAM", nullptr, 52.0},
    {"TIMER", nullptr, 53.0},
    {"CLIENT", nullptr, 54.0},
    {"SERVER", nullptr, 55.0},
    {"UDPOBJECT", nullptr, 56.0},
    {"ATTRHARDWARE", nullptr, 73.0},
    {"ATTRZPOS", nullptr, 74.0},
    {"ATTRDRIVER", nullptr, 75.0},
    {"VIDDRV_OS", nullptr, 0.0},
    {"VIDDRV_ZEPHYRANE", nullptr, 1.0},
    {"ATTRPUBSCREEN", nullptr, 76.0},
    {"ATTRDENSITY", nullptr, 77.0},
    {"ATTRXDPI", nullptr, 78.0},
    {"ATTRYDPI", nullptr, 79.0},
    {"ATTRNUMSUBSONGS", nullptr, 80.0},
    {"ATTRCURSUBSONG", nullptr, 81.0},
    {"ATTRID", nullptr, 82.0},
    {"ATTRPLAYING", nullptr, 83.0},
    {"ATTRPAUSED", nullptr, 84.0},
    {"ATTRDISPLAY", nullptr, 85.0},
    {"ATTRMONITOR", nullptr, 86.0},
    {"ATTRADAPTER", nullptr, 87.0},
    {"MENU", nullptr, 57.0},
    {"ATTRMENU", nullptr, 88.0},
    {"ATTRHOSTMONITORS", nullptr, 89.0},
    {"ATTRXSERVER", nullptr, 90.0},
    {"ATTRLOADER", nullptr, 91.0},
    {"ATTRMAXIMIZED", nullptr, 92.0},
    {"ATTRHOSTTITLEBARHEIGHT", nullptr, 93.0},
    {"ATTRHOSTTASKBAR", nullptr, 94.0},
    {"ATTRSPRITES", nullptr, 95.0},
    {"NATIVE", nullptr, -110000.0},
    {"JUSTIFIED", nullptr, -110001.0},
    {"ATTRHOSTSCALEX", nullptr, 96.0},
    {"ATTRHOSTSCALEY", nullptr, 97.0},
    {"ATTRHOSTSCALE", nullptr, 100.0},
    {"ICON", nullptr, 59.0},
    {"ATTRNUMENTRIES", nullptr, 98.0},
    {"ATTRSTANDARD", nullptr, 99.0},
    {"IMGFMT_BMP", nullptr, 0.0},
    {"IMGFMT_PNG", nullptr, 1.0},
    {"IMGFMT_JPEG", nullptr, 2.0},
    {"IMGFMT_GIF", nullptr, 3.0},
    {"IMGFMT_ILBM", nullptr, 4.0},
    {"IMGFMT_TIFF", nullptr, 5.0},
    {"IMGFMT_NATIVE", nullptr, 6.0},
    {"IMGFMT_PLUGIN", nullptr, 7.0},
    {"IMGFMT_UNKNOWN", nullptr, 8.0},
    {"SERIAL", nullptr, 60.0},
    {nullptr, nullptr, 0},
};

int32_t qxMaskDrawMode = 0;
uint32_t qxAlphaIntensity = 0xFFFFFFFFu;

extern "C" int qxOpenGraphicsLib(lua_State *L)
{
    if (!gSpareDisplay) {
        gSpareDisplay = static_cast<qxDisplay *>(std::calloc(1, sizeof(qxDisplay)));
        if (!gSpareDisplay)
            return ERR_MEM;
        gSpareDisplay->targetType = 3;
    }
    qxMaskDrawMode = 0;
    qxAlphaIntensity = 0xFFFFFFFFu;
    if (qxGraphicsResetDrawTags)
        qxGraphicsResetDrawTags();
    return qxOpenCommandLibraryOf<graphicsCommands, graphicsConstants>(L, "graphics");
}

extern "C" void qxGraphicsLibFree(lua_State *)
{
    qxFreeAllAsyncDraws();
    qxFreeAllClipRegions();
    qxFreeAllPointers();
    qxFreeGfxCache();
    std::free(gSpareDisplay);
    gSpareDisplay = nullptr;
}

extern "C" int qxGraphicsAttrGetter(qxTagItem *item)
{
    if (item->tag == 4) {
        item->data = uint32_t(qxMaskDrawMode);
        return 1;
    }
    if (item->tag == 6) {
        item->data = qxAlphaIntensity;
        return 1;
    }
    return 0;
}

extern "C" int qxGraphicsAttrSetter(qxTagItem *item)
{
    if (item->tag == 4) {
        qxMaskDrawMode = int32_t(uint32_t(item->data));
        return 1;
    }
    if (item->tag == 6) {
        qxAlphaIntensity = uint32_t(item->data);
        return 1;
    }
    return 0;
}
