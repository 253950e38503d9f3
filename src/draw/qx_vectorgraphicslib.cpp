// The "vectorgraphics" command library: path objects built from items, the
// vector settings, and drawing paths through the current vector engine.
#include "draw/qx_drawlibs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/commands/qx_objreg.h"
#include "core/vm/lauxlib.h"
#include "draw/fonts/qx_font.h"
#include "draw/qx_drawcmds.h"
#include "draw/qx_drawstate.h"
#include "draw/qx_pathrender.h"
#include "draw/qx_shaperender.h"
#include "draw/qx_vectorengines.h"
#include "draw/qx_vectorpaths.h"
#include "draw/text/qx_text.h"
#include "objects/qx_brushimage.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_objargs.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

struct qxVectorStyle {
    qxVectorState vector;
    qxDrawState draw;
};

struct qxPath {
    qxObjectHeader header; // type 49
    qxPathBuffer buffer;
    qxVectorStyle *style; // taken by StartPath
};

constexpr uint32_t kPathType = 49;

qxPath *gPaths = nullptr;
qxVectorState gVector = {0, 0, 0.0, 0, nullptr, 0, 10.0};
const qxVectorEngine *gEngine = &qxInbuiltVectorEngine;

bool same(const qxObjectHeader &h, qxObjectRef ref)
{
    return ref.automatic ? h.automatic == ref.automatic : (!h.automatic && h.id == ref.number);
}

qxPath *lookup(qxObjectRef ref)
{
    for (qxPath *p = gPaths; p; p = reinterpret_cast<qxPath *>(p->header.next))
        if (same(p->header, ref)) return p;
    return nullptr;
}

int findPath(qxObjectRef ref, qxPath **out)
{
    if ((*out = lookup(ref))) return 0;
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(int(ref.number));
    return ERR_FINDPATH;
}

int pathArg(lua_State *L, int arg, qxPath **out) { return findPath(qxGetObjectIDArg(L, arg), out); }

int duplicateDashes(const qxVectorState &from, qxVectorState &to)
{
    to.dashArray = nullptr;
    if (!from.dashArray || from.dashCount <= 0) return 0;
    to.dashArray = static_cast<double *>(qxAlloc(size_t(from.dashCount) * sizeof(double), 0));
    if (!to.dashArray) return ERR_MEM;
    std::memcpy(to.dashArray, from.dashArray, size_t(from.dashCount) * sizeof(double));
    return 0;
}

qxVectorStyle *cloneStyle(const qxVectorState &vector, const qxDrawState &draw)
{
    auto *s = static_cast<qxVectorStyle *>(qxAlloc(sizeof(qxVectorStyle), 1));
    if (!s) return nullptr;
    s->vector = vector, s->draw = draw;
    if (duplicateDashes(vector, s->vector)) {
        qxFree(s);
        return nullptr;
    }
    return s;
}

void freeStyle(qxVectorStyle *s)
{
    if (!s) return;
    qxFree(s->vector.dashArray);
    qxFree(s);
}

void unlink(qxPath *p)
{
    for (qxObjectHeader **link = reinterpret_cast<qxObjectHeader **>(&gPaths); *link; link = &(*link)->next)
        if (*link == &p->header) {
            *link = p->header.next;
            return;
        }
}

void freePath(lua_State *L, qxPath *p)
{
    unlink(p);
    qxPathClear(&p->buffer);
    freeStyle(p->style);
    if (L) qxFreeRefList(L, &p->header.data);
    qxFree(p);
}

// A new path for the identifier argument at arg, at the tail of the list;
// a number first frees the path it names. Pushes an automatic identifier.
int addPath(lua_State *L, int arg, qxPath *p)
{
    int automatic = 0;
    const uint32_t number = qxGetNewIDArg(L, arg, &automatic);
    if (!automatic)
        if (qxPath *old = lookup(qxObjectRef{number, nullptr})) freePath(L, old);
    p->header.type = kPathType;
    if (automatic) p->header.automatic = p;
    else p->header.id = number;
    qxObjectHeader **link = reinterpret_cast<qxObjectHeader **>(&gPaths);
    while (*link) link = &(*link)->next;
    *link = &p->header;
    if (!automatic) return 0;
    lua_pushlightuserdata(L, p);
    return 1;
}

int cmdStartPath(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    auto *p = static_cast<qxPath *>(qxAlloc(sizeof(qxPath), 1));
    if (!p) return ERR_MEM;
    if (!(p->style = cloneStyle(gVector, *qxGetDrawState()))) {
        qxFree(p);
        return ERR_MEM;
    }
    return addPath(L, 1, p);
}

int cmdFreePath(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxPath *p = nullptr;
    if (int e = pathArg(L, 1, &p)) return e;
    freePath(L, p);
    return 0;
}

int cmdClearPath(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxPath *p = nullptr;
    if (int e = pathArg(L, 1, &p)) return e;
    qxPathClear(&p->buffer);
    return 0;
}

int cmdIsPathEmpty(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxPath *p = nullptr;
    if (int e = pathArg(L, 1, &p)) return e;
    lua_pushnumber(L, p->buffer.items == nullptr ? 1 : 0);
    return 1;
}

int cmdCopyPath(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxPath *src = nullptr;
    if (int e_ = pathArg(L, 1, &src)) return e_;
    if (!lua_isnil(L, 2)) {
        const qxObjectRef dst = qxGetObjectIDArg(L, 2);
        if (!dst.automatic && same(src->header, dst)) return ERR_WRONGUSAGE;
    }
    auto *p = static_cast<qxPath *>(qxAlloc(sizeof(qxPath), 1));
    if (!p) return ERR_MEM;
    p->style = src->style ? cloneStyle(src->style->vector, src->style->draw) : nullptr;
    bool ok = !src->style || p->style;
    if (ok && src->buffer.items) {
        p->buffer.items = static_cast<uint8_t *>(qxAlloc(size_t(src->buffer.capacity), 0));
        ok = p->buffer.items != nullptr;
        if (ok) {
            std::memcpy(p->buffer.items, src->buffer.items, size_t(src->buffer.capacity));
            p->buffer.capacity = src->buffer.capacity;
            p->buffer.write = p->buffer.items + (src->buffer.write - src->buffer.items);
        }
    }
    if (!ok) {
        qxPathClear(&p->buffer);
        freeStyle(p->style);
        qxFree(p);
        return ERR_MEM;
    }
    return addPath(L, 2, p);
}

int cmdAppendPath(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxPath *dst = nullptr, *src = nullptr;
    if (int e = pathArg(L, 1, &dst)) return e;
    if (int e = pathArg(L, 2, &src)) return e;
    if (dst == src) return ERR_WRONGUSAGE;
    if (!src->buffer.items || src->buffer.write == src->buffer.items) return 0;
    const size_t bytes = size_t(src->buffer.write - src->buffer.items);
    if (int e = qxPathReserve(&dst->buffer, bytes + 4)) return e;
    std::memcpy(dst->buffer.write, src->buffer.items, bytes);
    dst->buffer.write += bytes;
    std::memset(dst->buffer.write, 0, 4);
    return 0;
}

// Appends an item of doubles read from the arguments from 2 on, after the relative flag when rel >= 0.
int appendNumbers(lua_State *L, uint32_t opcode, int rel, int numbers)
{
    qxCheckArgCount(L, 1 + numbers, 1 + numbers, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    qxPathValue v[8];
    int n = 0;
    if (rel >= 0) v[n].type = 0, v[n++].u32 = uint32_t(rel);
    for (int i = 0; i < numbers; i++) v[n].type = 1, v[n++].f64 = luaL_checknumber(L, 2 + i);
    return qxPathAppend(&p->buffer, opcode, v, n);
}

int cmdMoveTo(lua_State *L) { return appendNumbers(L, QX_PATH_MOVETO, 0, 2); }
int cmdRelMoveTo(lua_State *L) { return appendNumbers(L, QX_PATH_MOVETO, 1, 2); }
int cmdLineTo(lua_State *L) { return appendNumbers(L, QX_PATH_LINETO, 0, 2); }
int cmdRelLineTo(lua_State *L) { return appendNumbers(L, QX_PATH_LINETO, 1, 2); }
int cmdCurveTo(lua_State *L) { return appendNumbers(L, QX_PATH_CURVETO, 0, 6); }
int cmdRelCurveTo(lua_State *L) { return appendNumbers(L, QX_PATH_CURVETO, 1, 6); }
int cmdClosePath(lua_State *L) { return appendNumbers(L, QX_PATH_CLOSEPATH, -1, 0); }
int cmdStartSubPath(lua_State *L) { return appendNumbers(L, QX_PATH_NEWSUBPATH, -1, 0); }

int appendArc(qxPath *p, double xc, double yc, double ra, double rb, double start, double end, uint32_t clockwise)
{
    qxPathValue v[7];
    const double d[6] = {xc, yc, ra, rb, start, end};
    for (int i = 0; i < 6; i++) v[i].type = 1, v[i].f64 = d[i];
    v[6].type = 0, v[6].u32 = clockwise;
    return qxPathAppend(&p->buffer, QX_PATH_ARC, v, 7);
}

int cmdAddArcToPath(lua_State *L)
{
    qxCheckArgCount(L, 7, 8, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    double d[6];
    for (int i = 0; i < 6; i++) d[i] = luaL_checknumber(L, 2 + i);
    const uint32_t cw = uint32_t(luaL_optint(L, 8, 1));
    return appendArc(p, d[0], d[1], d[2], d[3], d[4], d[5], cw);
}

int cmdAddCircleToPath(lua_State *L)
{
    qxCheckArgCount(L, 4, 4, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    const double x = luaL_checknumber(L, 2), y = luaL_checknumber(L, 3), r = luaL_checknumber(L, 4);
    return appendArc(p, x, y, r, r, 0, 360, 1);
}

int cmdAddEllipseToPath(lua_State *L)
{
    qxCheckArgCount(L, 5, 5, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    const double x = luaL_checknumber(L, 2), y = luaL_checknumber(L, 3);
    return appendArc(p, x, y, luaL_checknumber(L, 4), luaL_checknumber(L, 5), 0, 360, 1);
}

int appendBox(qxPath *p, double x, double y, double w, double h, int32_t corners[4])
{
    qxClampCorners(corners);
    qxPathValue v[8];
    const double d[4] = {x, y, w, h};
    for (int i = 0; i < 4; i++) v[i].type = 1, v[i].f64 = d[i];
    for (int i = 0; i < 4; i++) v[4 + i].type = 0, v[4 + i].u32 = uint32_t(corners[i]);
    return qxPathAppend(&p->buffer, QX_PATH_BOX, v, 8);
}

int cmdAddBoxToPath(lua_State *L)
{
    qxCheckArgCount(L, 5, 6, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    double d[4];
    for (int i = 0; i < 4; i++) d[i] = luaL_checknumber(L, 2 + i);
    int32_t corners[4] = {0, 0, 0, 0};
    if (lua_istable(L, 6)) {
        int level = 0;
        if (qxGetFieldInt(L, 6, "roundlevel", &level, nullptr)) std::fill_n(corners, 4, level);
        static const char *const keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
        for (int i = 0; i < 4; i++) qxGetFieldInt(L, 6, keys[i], &corners[i], nullptr);
    }
    return appendBox(p, d[0], d[1], d[2], d[3], corners);
}

int cmdAddTextToPath(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    size_t length = 0;
    const char *text = luaL_checklstring(L, 2, &length);
    qxFontHandle *font = qxGetCurrentFont();
    int encoding = int(qxGetTextState()->encoding);
    if (lua_istable(L, 3)) qxGetFieldInt(L, 3, "encoding", &encoding, nullptr);
    if (encoding != 0 && encoding != 1) return ERR_WRONGUSAGE;
    std::string utf8;
    if (encoding == 0) {
        for (size_t i = 0; i < length; i++) {
            const auto c = uint8_t(text[i]);
            if (c < 0x80) utf8 += char(c);
            else utf8 += char(0xC0 | (c >> 6)), utf8 += char(0x80 | (c & 0x3F));
        }
    } else {
        utf8.assign(text, std::strlen(text));
    }
    if (!font || font->kind != 4) return ERR_VFONTTYPE;
    int error = 0;
    void *vfont = qxPathVectorFont(qxFtGetFace(font), gEngine, &error);
    if (!vfont) return error;
    qxPathValue v[3];
    v[0].type = 3, v[0].u64 = uint64_t(reinterpret_cast<uintptr_t>(vfont));
    v[1].type = 0, v[1].u32 = uint32_t(font->size);
    v[2].type = 2, v[2].string = utf8.c_str();
    return qxPathAppend(&p->buffer, QX_PATH_TEXT, v, 3);
}

template <typename T> T at(const uint8_t *p, size_t off)
{
    T v;
    std::memcpy(&v, p + off, sizeof v);
    return v;
}

// The iterator keeps the path's identifier and a byte offset, and finds the
// path again at each call: a path changed or freed meanwhile ends it.
int pathItemsNext(lua_State *L)
{
    const qxObjectRef ref{uint32_t(lua_tonumber(L, lua_upvalueindex(1))), lua_touserdata(L, lua_upvalueindex(2))};
    const double offset = lua_tonumber(L, lua_upvalueindex(3));
    qxPath *path = lookup(ref);
    if (!path || !path->buffer.items) return 0;
    const size_t used = size_t(path->buffer.write - path->buffer.items);
    if (!(offset >= 0) || size_t(offset) >= used) return 0;
    const uint8_t *p = path->buffer.items + size_t(offset);
    const uint32_t op = at<uint32_t>(p, 0);
    const size_t size = qxPathItemSize(p);
    if (size_t(offset) + size > used) return 0;
    lua_newtable(L);
    auto num = [&](const char *key, size_t off) { qxSetFieldNum(L, key, at<double>(p, off)); };
    switch (op) {
    case QX_PATH_MOVETO:
    case QX_PATH_LINETO:
        qxSetFieldStr(L, "type", op == QX_PATH_MOVETO ? "MoveTo" : "LineTo");
        qxSetFieldInt(L, "rel", int(at<uint32_t>(p, 4)));
        num("x", 8), num("y", 16);
        break;
    case QX_PATH_CURVETO:
        qxSetFieldStr(L, "type", "CurveTo");
        qxSetFieldInt(L, "rel", int(at<uint32_t>(p, 4)));
        num("x1", 8), num("y1", 16), num("x2", 24), num("y2", 32), num("x3", 40), num("y3", 48);
        break;
    case QX_PATH_NEWSUBPATH: qxSetFieldStr(L, "type", "NewSubPath"); break;
    case QX_PATH_CLOSEPATH: qxSetFieldStr(L, "type", "ClosePath"); break;
    case QX_PATH_ARC:
        qxSetFieldStr(L, "type", "Arc");
        num("xc", 4), num("yc", 12), num("ra", 20), num("rb", 28), num("start", 36), num("end", 44);
        qxSetFieldInt(L, "clockwise", int(at<uint32_t>(p, 52)));
        break;
    case QX_PATH_BOX:
        qxSetFieldStr(L, "type", "Box");
        num("x", 4), num("y", 12), num("width", 20), num("height", 28);
        lua_pushstring(L, "round");
        lua_newtable(L);
        for (int i = 0; i < 4; i++) {
            lua_pushnumber(L, at<int32_t>(p, 36 + 4 * size_t(i)));
            lua_rawseti(L, -2, i);
        }
        lua_settable(L, -3);
        break;
    case QX_PATH_TEXT:
        qxSetFieldStr(L, "type", "Text");
        qxSetFieldInt(L, "size", int(at<uint32_t>(p, 12)));
        qxSetFieldStr(L, "text", reinterpret_cast<const char *>(p + 16));
        break;
    default: break;
    }
    lua_pushnumber(L, offset + double(size));
    lua_replace(L, lua_upvalueindex(3));
    return 1;
}

int cmdPathItems(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    lua_pushnumber(L, p->header.id);
    lua_pushlightuserdata(L, p->header.automatic);
    lua_pushnumber(L, 0);
    lua_pushcclosure(L, pathItemsNext, 3);
    return 1;
}

int cmdTranslatePath(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    const double dx = luaL_checknumber(L, 2), dy = luaL_checknumber(L, 3);
    if ((dx == 0 && dy == 0) || !p->buffer.items) return 0;
    qxPathTranslateRequest r{p->buffer.items, 0, dx, dy};
    if (gEngine->TranslatePath) gEngine->TranslatePath(&r);
    return 0;
}

void extentsOf(const qxPath *p, uint32_t fill, uint32_t width, double out[4])
{
    out[0] = out[1] = out[2] = out[3] = 0;
    std::vector<uint8_t> copy;
    const uint8_t *items = nullptr;
    if (qxItemsForEngine(p->buffer.items, int32_t(p->buffer.capacity), gEngine, copy, &items) || !items) return;
    qxEngineGetPathExtents(gEngine, items, &gVector, fill, width, 0, 0, nullptr, &out[0], &out[1], &out[2],
                           &out[3]);
}

int cmdNormalizePath(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    if (!p->buffer.items) return 0;
    double e[4];
    extentsOf(p, 1, 1, e);
    if (!std::isfinite(e[0]) || !std::isfinite(e[1]) || (e[0] == 0 && e[1] == 0)) return 0;
    qxPathTranslateRequest r{p->buffer.items, 0, -e[0], -e[1]};
    if (gEngine->TranslatePath) gEngine->TranslatePath(&r);
    return 0;
}

int cmdGetPathExtents(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    const qxDrawState *s = qxGetDrawState();
    double e[4];
    const bool filled = s->fillStyle != QX_FILLNONE;
    extentsOf(p, filled ? 1 : 0, uint32_t(std::max(s->lineWidth, 1)), e);
    for (double v : e) lua_pushnumber(L, v);
    return 4;
}

int cmdGetCurrentPoint(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    double x = 0, y = 0;
    std::vector<uint8_t> copy;
    const uint8_t *items = nullptr;
    if (!qxItemsForEngine(p->buffer.items, int32_t(p->buffer.capacity), gEngine, copy, &items) && items &&
        gEngine->GetCurrentPoint) {
        qxEngineState st{uint32_t(gVector.lineJoin), uint32_t(gVector.lineCap), uint32_t(gVector.fillRule), 0,
                         gVector.dashOffset, gVector.dashArray, uint32_t(std::max(gVector.dashCount, 0)), 0,
                         gVector.miterLimit};
        gEngine->GetCurrentPoint(items, &st, &x, &y);
    }
    lua_pushnumber(L, x);
    lua_pushnumber(L, y);
    return 2;
}

int cmdDrawPath(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    qxPath *p = nullptr;
    if (int e_ = pathArg(L, 1, &p)) return e_;
    const int32_t x = luaL_checkint(L, 2), y = luaL_checkint(L, 3);
    const uint32_t colour = qxDrawColourArg(L, 4);
    qxTransformOptions o{};
    qxObjectStyle st{};
    if (int e = qxReadDrawOptions(L, 5, 0, 0, &o, &st, 1, QX_OPT_NOSIZE)) return e;
    return qxDrawPathBuffer(L, &p->buffer, p->header.automatic ? qxObjectRef{0, p->header.automatic}
                                                               : qxObjectRef{p->header.id, nullptr},
                            x, y, colour, &o, &st);
}

// The path as the one entry of a path brush: at (0, 0), in colour 0 as
// DrawPath's default.
int cmdPathToBrush(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxPath *p = nullptr;
    if (int e = pathArg(L, 1, &p)) return e;
    const qxObjectRef target = qxNewIDRef(L, 2);
    lua_newtable(L);
    lua_newtable(L);
    const char *keys[3] = {"x", "y", "color"};
    for (const char *key : keys) {
        lua_pushstring(L, key);
        lua_pushnumber(L, 0);
        lua_settable(L, -3);
    }
    lua_pushstring(L, "id");
    lua_pushvalue(L, 1);
    lua_settable(L, -3);
    lua_rawseti(L, -2, 0);
    const int table = lua_gettop(L);
    return qxConvertToBrush(L, target, kPathType, table, table);
}

int setInt(lua_State *L, int32_t *field)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    *field = luaL_checkint(L, 1);
    return 0;
}

int getNumber(lua_State *L, double v)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, v);
    return 1;
}

int cmdSetLineJoin(lua_State *L) { return setInt(L, &gVector.lineJoin); }
int cmdSetLineCap(lua_State *L) { return setInt(L, &gVector.lineCap); }
int cmdSetFillRule(lua_State *L) { return setInt(L, &gVector.fillRule); }
int cmdGetLineJoin(lua_State *L) { return getNumber(L, gVector.lineJoin); }
int cmdGetLineCap(lua_State *L) { return getNumber(L, gVector.lineCap); }
int cmdGetFillRule(lua_State *L) { return getNumber(L, gVector.fillRule); }
int cmdGetMiterLimit(lua_State *L) { return getNumber(L, gVector.miterLimit); }

int cmdSetMiterLimit(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    gVector.miterLimit = luaL_checknumber(L, 1);
    lua_pushnumber(L, gVector.miterLimit);
    return 1;
}

int cmdSetDash(lua_State *L)
{
    qxCheckArgCount(L, 2, 0, 0, 0);
    const int n = lua_gettop(L);
    const double offset = luaL_checknumber(L, 1), first = luaL_checknumber(L, 2);
    std::vector<double> lengths;
    for (int i = 2; i <= n; i++) lengths.push_back(luaL_checknumber(L, i));
    qxFree(gVector.dashArray);
    gVector.dashArray = nullptr;
    gVector.dashCount = 0;
    gVector.dashOffset = 0;
    if (first < 0) return 0;
    // Without its array the count stays 0, so nothing reads a missing array.
    auto *a = static_cast<double *>(qxAlloc(lengths.size() * sizeof(double), 0));
    if (!a) return ERR_MEM;
    std::copy(lengths.begin(), lengths.end(), a);
    gVector.dashArray = a, gVector.dashCount = int32_t(lengths.size()), gVector.dashOffset = offset;
    return 0;
}

int cmdGetDash(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    if (gVector.dashCount == 0) {
        lua_pushnumber(L, -1);
        return 1;
    }
    lua_pushnumber(L, gVector.dashOffset);
    lua_newtable(L);
    for (int32_t i = 0; i < gVector.dashCount; i++) {
        lua_pushnumber(L, gVector.dashArray[i]);
        lua_rawseti(L, -2, i);
    }
    return 2;
}

int cmdForcePathUse(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxForcePathUse = luaL_checkint(L, 1);
    return 0;
}

int cmdSetVectorEngine(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const qxVectorEngine *e = qxFindVectorEngine(luaL_checkstring(L, 1));
    if (!e) return ERR_FINDPLUGIN;
    gEngine = e;
    return 0;
}

constexpr qxCommandDef vectorgraphicsCommands[] = {
    {"StartPath", cmdStartPath},
    {"FreePath", cmdFreePath},
    {"ClearPath", cmdClearPath},
    {"IsPathEmpty", cmdIsPathEmpty},
    {"CopyPath", cmdCopyPath},
    {"AppendPath", cmdAppendPath},
    {"MoveTo", cmdMoveTo},
    {"RelMoveTo", cmdRelMoveTo},
    {"LineTo", cmdLineTo},
    {"RelLineTo", cmdRelLineTo},
    {"CurveTo", cmdCurveTo},
    {"RelCurveTo", cmdRelCurveTo},
    {"ClosePath", cmdClosePath},
    {"StartSubPath", cmdStartSubPath},
    {"AddArcToPath", cmdAddArcToPath},
    {"AddCircleToPath", cmdAddCircleToPath},
    {"AddEllipseToPath", cmdAddEllipseToPath},
    {"AddBoxToPath", cmdAddBoxToPath},
    {"AddTextToPath", cmdAddTextToPath},
    {"PathItems", cmdPathItems},
    {"TranslatePath", cmdTranslatePath},
    {"NormalizePath", cmdNormalizePath},
    {"GetPathExtents", cmdGetPathExtents},
    {"GetCurrentPoint", cmdGetCurrentPoint},
    {"DrawPath", cmdDrawPath},
    {"PathToBrush", cmdPathToBrush},
    {"SetLineJoin", cmdSetLineJoin},
    {"SetLineCap", cmdSetLineCap},
    {"SetFillRule", cmdSetFillRule},
    {"GetLineJoin", cmdGetLineJoin},
    {"GetLineCap", cmdGetLineCap},
    {"GetFillRule", cmdGetFillRule},
    {"SetMiterLimit", cmdSetMiterLimit},
    {"GetMiterLimit", cmdGetMiterLimit},
    {"SetDash", cmdSetDash},
    {"GetDash", cmdGetDash},
    {"ForcePathUse", cmdForcePathUse},
    {"SetVectorEngine", cmdSetVectorEngine},
    {nullptr, nullptr},
};

constexpr qxConstantDef vectorgraphicsConstants[] = {
    {"JOINMITER", nullptr, 0},       {"JOINROUND", nullptr, 1},      {"JOINBEVEL", nullptr, 2},
    {"CAPBUTT", nullptr, 0},         {"CAPROUND", nullptr, 1},       {"CAPSQUARE", nullptr, 2},
    {"FILLRULEWINDING", nullptr, 0}, {"FILLRULEEVENODD", nullptr, 1}, {nullptr, nullptr, 0},
};

} // namespace

int qxForcePathUse = 0;

int qxPathSnapshot(qxObjectRef ref, qxShapeLayerData *out)
{
    qxPath *p = nullptr;
    if (int e = findPath(ref, &p)) return e;
    if (!p->buffer.items) return ERR_EMPTYPATH;
    *out = qxShapeLayerData{};
    out->type = kPathType;
    out->path = ref;
    out->items = p->buffer.items;
    out->capacity = int32_t(p->buffer.write - p->buffer.items) + 4;
    out->vector = p->style ? p->style->vector : gVector;
    out->state = p->style ? p->style->draw : *qxGetDrawState();
    out->engine = gEngine;
    return 0;
}

int qxDrawPathBuffer(lua_State *L, const qxPathBuffer *buffer, qxObjectRef id, int32_t x, int32_t y, uint32_t colour,
                     const qxTransformOptions *transform, const qxObjectStyle *style)
{
    qxShapeLayerData d{};
    d.type = 49;
    d.path = id;
    d.items = buffer->items;
    d.capacity = buffer->capacity;
    d.vector = gVector;
    d.state = *qxGetDrawState();
    d.colour = colour & 0xFFFFFF;
    d.engine = gEngine;
    return qxRenderPath(L, x, y, &d, transform, style);
}

int qxDrawShapeAsPath(lua_State *L, uint32_t type, int32_t x, int32_t y, uint32_t colour, int32_t width,
                      int32_t height, const int32_t corners[4], int32_t rx, int32_t ry, int32_t start, int32_t end,
                      uint32_t clockwise, const double *points, int32_t count, const qxTransformOptions *transform,
                      const qxObjectStyle *style)
{
    qxPathBuffer b{nullptr, 0, nullptr};
    int e = 0;
    qxPath tmp{};
    tmp.buffer = b;
    auto add = [&](uint32_t op, std::initializer_list<double> values, int rel) {
        if (e) return;
        qxPathValue v[8];
        int n = 0;
        if (rel >= 0) v[n].type = 0, v[n++].u32 = uint32_t(rel);
        for (double d : values) v[n].type = 1, v[n++].f64 = d;
        e = qxPathAppend(&tmp.buffer, op, v, n);
    };
    switch (type) {
    case 14: {
        int32_t c[4] = {corners[0], corners[1], corners[2], corners[3]};
        e = appendBox(&tmp, 0, 0, width, height, c);
        break;
    }
    case 15:
    case 16: e = appendArc(&tmp, rx, ry, rx, ry, 0, 360, 1); break;
    case 27:
        for (int32_t i = 0; i < count; i++) add(i ? QX_PATH_LINETO : QX_PATH_MOVETO, {points[2 * i], points[2 * i + 1]}, 0);
        break;
    case 31:
        add(QX_PATH_MOVETO, {double(rx), double(ry)}, 0);
        if (!e) e = appendArc(&tmp, rx, ry, rx, ry, start, end, clockwise);
        break;
    default: break;
    }
    add(QX_PATH_CLOSEPATH, {}, -1);
    if (!e) e = qxDrawPathBuffer(L, &tmp.buffer, qxObjectRef{0, nullptr}, x, y, colour, transform, style);
    qxPathClear(&tmp.buffer);
    return e;
}

extern "C" int qxOpenVectorGraphicsLib(lua_State *L)
{
    qxResetVectorState(&gVector);
    gEngine = &qxInbuiltVectorEngine;
    qxForcePathUse = 0;
    if (int e = qxRegisterObjectList(&gPaths, kPathType)) return e;
    qxLinkPathBrushSource();
    return qxOpenCommandLibraryOf<vectorgraphicsCommands, vectorgraphicsConstants>(L, "vectorgraphics");
}

extern "C" void qxVectorLibClose(lua_State *L)
{
    while (gPaths) freePath(L, gPaths);
    qxResetVectorState(&gVector);
    qxFreeVectorFontLinks();
}
