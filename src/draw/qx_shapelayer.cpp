#include "draw/qx_shapelayer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_display.h"
#include "draw/qx_drawcmds.h"
#include "draw/qx_pathrender.h"
#include "draw/qx_shaperender.h"
#include "draw/qx_vectorengines.h"
#include "draw/qx_vectorpaths.h"
#include "layers/qx_layer.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_gradientopts.h"
#include "objects/qx_output.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

int qxShapeGoesToLayer(void) { return qxOutputTakesLayers(); }

namespace {

// A w x h alpha plane holding the coverage, or null.
qxBitMap *coveragePlane(const uint8_t *alpha, int32_t w, int32_t h)
{
    qxBitMap *a = qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 0, nullptr, 0);
    if (!a) return nullptr;
    auto *plane = static_cast<qxBitMapPlane *>(a->data);
    for (int32_t row = 0; row < h; row++)
        std::memcpy(plane->pixels + size_t(row) * plane->bytesPerRow, alpha + size_t(row) * size_t(w), size_t(w));
    return a;
}

} // namespace

int qxShapePlanes(const uint32_t *pixels, const uint8_t *alpha, int32_t w, int32_t h, qxBitMap **bitmap,
                  qxBitMap **alphaPlane)
{
    *bitmap = *alphaPlane = nullptr;
    qxBitMap *bm = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    if (!bm) return ERR_BITMAP;
    qxARGBToBitMap(pixels, 0, 0, w * 4, bm, 0, 0, w, h);
    qxBitMap *a = coveragePlane(alpha, w, h);
    if (!a) {
        qxFreeBitMap(bm);
        return ERR_ALLOCALPHA;
    }
    *bitmap = bm, *alphaPlane = a;
    return 0;
}

void qxFreeShapeLayerData(qxShapeLayerData *d)
{
    if (!d) return;
    qxFree(d->points);
    qxFree(d->items);
    qxFree(d->vector.dashArray);
    qxFree(d);
}

namespace {

template <typename T> bool duplicate(const T *from, size_t count, T **to)
{
    *to = nullptr;
    if (!from || !count) return true;
    size_t bytes = 0;
    if (!qxMulSize(count, sizeof(T), &bytes)) return false;
    *to = static_cast<T *>(qxAlloc(bytes, 0));
    if (!*to) return false;
    std::memcpy(*to, from, bytes);
    return true;
}

} // namespace

int qxCloneShapeLayerData(const qxShapeLayerData *from, qxShapeLayerData **to)
{
    *to = nullptr;
    auto *d = static_cast<qxShapeLayerData *>(qxAlloc(sizeof(qxShapeLayerData), 1));
    if (!d) return ERR_MEM;
    *d = *from;
    d->points = nullptr, d->items = nullptr, d->vector.dashArray = nullptr;
    const bool ok = duplicate(from->points, size_t(std::max(from->pointCount, 0)) * 2, &d->points) &&
                    duplicate(from->items, size_t(std::max(from->capacity, 0)), &d->items) &&
                    duplicate(from->vector.dashArray, size_t(std::max(from->vector.dashCount, 0)),
                              &d->vector.dashArray);
    if (!ok) {
        qxFreeShapeLayerData(d);
        return ERR_MEM;
    }
    *to = d;
    return 0;
}

int qxAddShapeLayer(lua_State *L, const qxShapeLayerData *payload, const uint32_t *pixels, const uint8_t *alpha,
                    int32_t w, int32_t h, int32_t left, int32_t top, const qxTransformOptions *t,
                    const qxObjectStyle *style)
{
    qxShapeLayerData *own = nullptr;
    if (int e = qxCloneShapeLayerData(payload, &own)) return e;
    qxBitMap *bm = nullptr, *al = nullptr;
    if (int e = qxShapePlanes(pixels, alpha, w, h, &bm, &al)) {
        qxFreeShapeLayerData(own);
        return e;
    }
    auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
    if (!data) {
        qxFreeShapeLayerData(own);
        qxFreeBitMap(bm);
        qxFreeAlphaBitMap(al);
        return ERR_MEM;
    }
    // The layer keeps the point its anchor lies at; lines are placed by their corner.
    const double ax = t ? t->anchorx : 0, ay = t ? t->anchory : 0;
    const bool line = payload->type == QX_SHAPE_LINE;
    const int64_t x = line ? left : int64_t(left) + int64_t(std::trunc(w * ax));
    const int64_t y = line ? top : int64_t(top) + int64_t(std::trunc(h * ay));
    data->x = int32_t(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
    data->y = int32_t(std::clamp<int64_t>(y, INT32_MIN, INT32_MAX));
    data->width = w, data->height = h;
    data->typedata = own;
    qxObjectStyle copy{};
    if (style) copy = *style;
    qxObjectRef id = payload->type == QX_LAYER_VECTORPATH ? payload->path : qxObjectRef{0, nullptr};
    return qxAddLayer(L, payload->type, &id, data->x, data->y, w, h, t, &copy, bm, nullptr, al, data, -1, 0,
                      nullptr);
}

namespace {

void freeTypeData(lua_State *, qxLayerData *d)
{
    qxFreeShapeLayerData(static_cast<qxShapeLayerData *>(d->typedata));
    d->typedata = nullptr;
}

int cloneTypeData(const qxLayerData *from, qxLayerData *to)
{
    qxShapeLayerData *copy = nullptr;
    if (int e = qxCloneShapeLayerData(static_cast<const qxShapeLayerData *>(from->typedata), &copy)) return e;
    to->typedata = copy;
    return 0;
}

void pushFillKeys(lua_State *L, const qxShapeLayerData &s)
{
    qxSetFieldUInt(L, "color", s.colour);
    qxSetFieldUInt(L, "formstyle", s.state.formStyle);
    qxSetFieldUInt(L, "fillstyle", s.state.fillStyle);
    qxSetFieldInt(L, "gradientstyle", s.state.gradient.type);
    qxSetFieldInt(L, "gradientangle", s.state.gradient.angle);
    qxSetFieldUInt(L, "gradientstartcolor", s.state.gradient.startColour);
    qxSetFieldUInt(L, "gradientendcolor", s.state.gradient.endColour);
    qxSetFieldID(L, "texturebrush", s.state.texture);
    qxSetFieldInt(L, "texturex", s.state.textureX);
    qxSetFieldInt(L, "texturey", s.state.textureY);
}

// How far a line layer moved since its end points were stored: lines are
// placed by their picture's corner.
void lineShift(const qxLayer *l, const qxShapeLayerData &s, int32_t *dx, int32_t *dy)
{
    *dx = int32_t(std::clamp<int64_t>(int64_t(l->base->x) - s.x - s.imageX, INT32_MIN, INT32_MAX));
    *dy = int32_t(std::clamp<int64_t>(int64_t(l->base->y) - s.y - s.imageY, INT32_MIN, INT32_MAX));
}

void pushShapeKeys(lua_State *L, const qxLayer *layer)
{
    const auto *s = static_cast<const qxShapeLayerData *>(layer->base ? layer->base->typedata : nullptr);
    if (!s) return;
    pushFillKeys(L, *s);
    switch (s->type) {
    case QX_SHAPE_BOX: {
        qxSetFieldInt(L, "sizex", s->width);
        qxSetFieldInt(L, "sizey", s->height);
        const int32_t *c = s->corners;
        if (c[0] == c[1] && c[1] == c[2] && c[2] == c[3]) {
            qxSetFieldInt(L, "roundlevel", c[0]);
        } else {
            static const char *const keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
            for (int i = 0; i < 4; i++) qxSetFieldInt(L, keys[i], c[i]);
        }
        break;
    }
    case QX_SHAPE_CIRCLE: qxSetFieldInt(L, "radius", s->rx); break;
    case QX_SHAPE_ELLIPSE:
        qxSetFieldInt(L, "radiusa", s->rx);
        qxSetFieldInt(L, "radiusb", s->ry);
        break;
    case QX_SHAPE_LINE: {
        int32_t dx = 0, dy = 0;
        lineShift(layer, *s, &dx, &dy);
        qxSetFieldInt(L, "thickness", s->thickness);
        qxSetFieldInt(L, "x1", s->x1 + dx);
        qxSetFieldInt(L, "y1", s->y1 + dy);
        qxSetFieldInt(L, "x2", s->x2 + dx);
        qxSetFieldInt(L, "y2", s->y2 + dy);
        break;
    }
    case QX_SHAPE_POLYGON: {
        lua_pushstring(L, "vertices");
        lua_newtable(L);
        // The vertices as given: the stored ones start at 0,0 and end with the closing point.
        for (int32_t i = 0; i < 2 * s->pointCount; i++) {
            lua_pushnumber(L, s->points[i]);
            lua_rawseti(L, -2, i);
        }
        lua_settable(L, -3);
        qxSetFieldInt(L, "numvertices", s->pointCount);
        break;
    }
    case QX_SHAPE_ARC:
        qxSetFieldInt(L, "startangle", s->start);
        qxSetFieldInt(L, "endangle", s->end);
        qxSetFieldInt(L, "clockwise", int(s->clockwise));
        qxSetFieldInt(L, "radiusa", s->rx);
        qxSetFieldInt(L, "radiusb", s->ry);
        break;
    default: break;
    }
}

void pushPathKeys(lua_State *L, const qxLayer *layer)
{
    const auto *s = static_cast<const qxShapeLayerData *>(layer->base ? layer->base->typedata : nullptr);
    if (!s) return;
    qxSetFieldID(L, "id", s->path);
    pushFillKeys(L, *s);
    qxSetFieldInt(L, "linejoin", s->vector.lineJoin);
    qxSetFieldInt(L, "linecap", s->vector.lineCap);
    qxSetFieldInt(L, "fillrule", s->vector.fillRule);
    qxSetFieldNum(L, "dashoffset", s->vector.dashOffset);
    qxSetFieldNum(L, "miterlimit", s->vector.miterLimit);
    qxSetFieldStr(L, "vectorengine", qxVectorEngineName(s->engine));
    lua_pushstring(L, "dashes");
    lua_newtable(L);
    for (int32_t i = 0; s->vector.dashArray && i < s->vector.dashCount; i++) {
        lua_pushnumber(L, s->vector.dashArray[i]);
        lua_rawseti(L, -2, i);
    }
    lua_settable(L, -3);
}

// Reads an integer key into *out, counting it as a change when given.
bool intKey(lua_State *L, int table, const char *key, int32_t *out, bool *changed)
{
    int v = *out;
    if (!qxGetFieldInt(L, table, key, &v, nullptr)) return false;
    *out = v, *changed = true;
    return true;
}

bool uintKey(lua_State *L, int table, const char *key, uint32_t *out, bool *changed)
{
    int32_t v = int32_t(*out);
    if (!intKey(L, table, key, &v, changed)) return false;
    *out = uint32_t(v);
    return true;
}

// The colour and draw-style keys shapes and paths share. SHADOW and EDGE
// in the form style switch the layer's own shadow and border (unless the
// table sets those itself); the gradient's centre, balance, border and
// colour stops count for gradient fills.
int readFillKeys(lua_State *L, int table, qxShapeLayerData &p, qxObjectStyle *style, bool *changedOut)
{
    bool changed = false;
    int colour = int(p.colour);
    if (qxGetFieldColor(L, table, "color", &colour, nullptr)) p.colour = uint32_t(colour), changed = true;
    qxDrawState &st = p.state;
    const bool shadowKey = qxFieldPresent(L, table, "shadow"), borderKey = qxFieldPresent(L, table, "border");
    auto effects = [&](uint32_t bits, uint32_t on) {
        if ((bits & QX_FORM_SHADOW) && !shadowKey) style->shadow.shadow = on;
        if ((bits & QX_FORM_EDGE) && !borderKey) style->border.border = on;
    };
    const uint32_t effectBits = QX_FORM_SHADOW | QX_FORM_EDGE;
    uint32_t form = 0;
    if (uintKey(L, table, "formstyle", &form, &changed)) {
        effects(form, 1);
        if (form & QX_FORM_NORMAL) st.formStyle = QX_FORM_NORMAL;
        else st.formStyle = (st.formStyle & ~QX_FORM_NORMAL) | (form & ~effectBits);
    }
    form = 0;
    if (uintKey(L, table, "formstyleclear", &form, &changed)) {
        effects(form, 0);
        st.formStyle &= ~(form & ~effectBits);
    }
    st.formStyle &= ~effectBits;
    if (!st.formStyle) st.formStyle = QX_FORM_NORMAL;
    uintKey(L, table, "fillstyle", &st.fillStyle, &changed);
    intKey(L, table, "gradientstyle", &st.gradient.type, &changed);
    intKey(L, table, "gradientangle", &st.gradient.angle, &changed);
    // Other end colours replace the stops the gradient had; the same ones
    // (a table read back and handed over again) keep them.
    const uint32_t startColour = st.gradient.startColour, endColour = st.gradient.endColour;
    uintKey(L, table, "gradientstartcolor", &st.gradient.startColour, &changed);
    uintKey(L, table, "gradientendcolor", &st.gradient.endColour, &changed);
    if (st.gradient.startColour != startColour || st.gradient.endColour != endColour) st.gradient.stopCount = 0;
    if (st.fillStyle == QX_FILLGRADIENT) {
        const qxGradient before = st.gradient;
        if (int r = qxReadGradientOptions(L, table, &st.gradient, "gradientcenterx", "gradientcentery",
                                          "gradientbalance", "gradientborder", "gradientcolors", nullptr))
            return r;
        if (std::memcmp(&before, &st.gradient, sizeof before) != 0) changed = true;
    }
    qxObjectRef texture = st.texture;
    if (qxGetFieldID(L, table, "texturebrush", &texture, nullptr) &&
        (texture.number != st.texture.number || texture.automatic != st.texture.automatic))
        st.texture = texture, changed = true;
    intKey(L, table, "texturex", &st.textureX, &changed);
    intKey(L, table, "texturey", &st.textureY, &changed);
    *changedOut = *changedOut || changed;
    return st.fillStyle > QX_FILLTEXTURE ? ERR_WRONGUSAGE : 0;
}

// A fresh base rendition of payload p showing its picture with the anchor
// point at (x, y).
int freshRendition(const qxShapeLayerData &p, const qxShapeImage &im, int64_t x, int64_t y, qxLayerData **fresh)
{
    qxShapeLayerData *own = nullptr;
    if (int e = qxCloneShapeLayerData(&p, &own)) return e;
    qxBitMap *bm = nullptr, *al = nullptr;
    auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
    if (int e = data ? qxShapePlanes(im.pixels.data(), im.alpha.data(), im.w, im.h, &bm, &al) : ERR_MEM) {
        std::free(data);
        qxFreeShapeLayerData(own);
        return e;
    }
    data->x = int32_t(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
    data->y = int32_t(std::clamp<int64_t>(y, INT32_MIN, INT32_MAX));
    data->width = im.w, data->height = im.h;
    data->bitmap = bm, data->alpha = al;
    data->typedata = own;
    *fresh = data;
    return 0;
}

// A fresh base rendition of payload p from its picture (offset: where the
// picture starts relative to the shape's corner): the corner stays.
int freshShapeData(const qxLayer *l, const qxShapeLayerData *old, qxShapeLayerData &p, const qxShapeImage &im,
                   int32_t offX, int32_t offY, qxLayerData **fresh)
{
    p.imageX = offX, p.imageY = offY;
    // The anchor point follows the new size.
    const double ax = l->anchorx, ay = l->anchory;
    auto anchorOffset = [](double a, int32_t shapeSize, int32_t imageAt, int32_t imageSize) {
        return int64_t(imageAt) + int64_t(std::trunc(imageSize * a)) - int64_t(std::trunc(shapeSize * a));
    };
    // Paths measure from their picture: their shape size is the picture's.
    const bool path = p.type == QX_LAYER_VECTORPATH;
    const int64_t x = int64_t(l->base->x) -
                      anchorOffset(ax, path ? l->base->width : old->width, old->imageX, l->base->width) +
                      anchorOffset(ax, path ? im.w : p.width, offX, im.w);
    const int64_t y = int64_t(l->base->y) -
                      anchorOffset(ay, path ? l->base->height : old->height, old->imageY, l->base->height) +
                      anchorOffset(ay, path ? im.h : p.height, offY, im.h);
    return freshRendition(p, im, x, y, fresh);
}

// The keys of a line layer: its end points (where the screen has them) and
// thickness; the line is drawn again where the points say.
int restyleLine(lua_State *L, const qxLayer *l, int table, const qxShapeLayerData *old, qxObjectStyle *style,
                qxLayerData **fresh)
{
    qxShapeLayerData p = *old;
    bool changed = !l->base->bitmap; // a fresh record is always drawn
    if (int e = readFillKeys(L, table, p, style, &changed)) return e;
    int32_t dx = 0, dy = 0;
    lineShift(l, p, &dx, &dy);
    p.x1 += dx, p.y1 += dy, p.x2 += dx, p.y2 += dy;
    intKey(L, table, "x1", &p.x1, &changed);
    intKey(L, table, "y1", &p.y1, &changed);
    intKey(L, table, "x2", &p.x2, &changed);
    intKey(L, table, "y2", &p.y2, &changed);
    intKey(L, table, "thickness", &p.thickness, &changed);
    if (!changed) return 0;
    p.thickness = std::clamp(p.thickness, 1, 64);
    qxShapeImage im;
    try {
        if (int e = qxRenderLineImage(p.x1, p.y1, p.x2, p.y2, p.colour, p.thickness,
                                      (p.state.formStyle & QX_FORM_ANTIALIAS) != 0, nullptr, &im))
            return e;
    } catch (const std::bad_alloc &) {
        return ERR_BITMAP;
    }
    p.x = std::min(p.x1, p.x2), p.y = std::min(p.y1, p.y2);
    p.width = int32_t(std::min<int64_t>(std::llabs(int64_t(p.x2) - p.x1) + 1, INT32_MAX));
    p.height = int32_t(std::min<int64_t>(std::llabs(int64_t(p.y2) - p.y1) + 1, INT32_MAX));
    p.imageX = im.x, p.imageY = im.y;
    return freshRendition(p, im, int64_t(p.x) + im.x, int64_t(p.y) + im.y, fresh);
}

// "dashes": a table of lengths from key 0 (empty: solid lines); *given
// when the key holds a table.
int readDashes(lua_State *L, int table, std::vector<double> &dashes, bool *given)
{
    lua_pushstring(L, "dashes");
    lua_gettable(L, table);
    const int at = lua_gettop(L);
    int e = 0;
    if (lua_istable(L, at)) {
        *given = true;
        for (int i = 0; !e; i++) {
            lua_rawgeti(L, at, i);
            if (lua_isnil(L, -1)) {
                lua_pop(L, 1);
                break;
            }
            const bool number = lua_type(L, -1) == LUA_TNUMBER;
            const double v = number ? lua_tonumber(L, -1) : 0;
            lua_pop(L, 1);
            if (!number) qxSetErrorString("dashes"), e = ERR_NUMTABLEARG;
            else if (!std::isfinite(v) || v < 0 || i >= 1024) e = ERR_WRONGUSAGE;
            else dashes.push_back(v);
        }
    } else if (!lua_isnil(L, at)) {
        qxSetErrorString("dashes");
        e = ERR_NUMTABLEARG;
    }
    lua_pop(L, 1);
    return e;
}

// "vectorengine": the engine the path is drawn with from now on.
int readEngine(lua_State *L, int table, qxShapeLayerData *p, bool *changed)
{
    char name[256];
    if (!qxGetFieldStr(L, table, "vectorengine", name, sizeof name, nullptr)) return 0;
    const qxVectorEngine *e = qxFindVectorEngine(name);
    if (!e) return ERR_FINDPLUGIN; // the finder names the plug-in
    p->engine = qxIsInbuiltVectorEngine(e) ? nullptr : e;
    *changed = true;
    return 0;
}

// The keys of a path layer: colour, fill and the vector settings; the path
// is drawn again upright, the layer keeps turning it.
int restylePath(lua_State *L, const qxLayer *l, int table, qxObjectStyle *style, qxLayerData **fresh)
{
    const auto *old = static_cast<const qxShapeLayerData *>(l->base->typedata);
    if (!old) return 0;
    if (table < 0) table = lua_gettop(L) + table + 1;
    qxShapeLayerData p = *old;
    bool changed = !l->base->bitmap; // a fresh record is always drawn
    if (int e = readFillKeys(L, table, p, style, &changed)) return e;
    qxVectorState &v = p.vector;
    intKey(L, table, "linejoin", &v.lineJoin, &changed);
    intKey(L, table, "linecap", &v.lineCap, &changed);
    intKey(L, table, "fillrule", &v.fillRule, &changed);
    double n = 0;
    if (qxGetFieldNum(L, table, "dashoffset", &n, nullptr)) v.dashOffset = n, changed = true;
    if (qxGetFieldNum(L, table, "miterlimit", &n, nullptr)) v.miterLimit = n, changed = true;
    std::vector<double> dashes;
    bool dashesGiven = false;
    if (int e = readDashes(L, table, dashes, &dashesGiven)) return e;
    if (dashesGiven) {
        // An empty table means solid lines again.
        changed = true;
        v.dashArray = dashes.empty() ? nullptr : dashes.data(), v.dashCount = int32_t(dashes.size());
    }
    if (int e = readEngine(L, table, &p, &changed)) return e;
    qxObjectRef id{};
    if (qxGetFieldID(L, table, "id", &id, nullptr)) {
        // Another path's items: copied with the fresh rendition below.
        qxShapeLayerData other{};
        if (int e = qxPathSnapshot(id, &other)) return e;
        p.path = id, p.items = other.items, p.capacity = other.capacity, changed = true;
    }
    if (!changed) return 0;
    if (v.lineJoin < 0 || v.lineJoin > 2 || v.lineCap < 0 || v.lineCap > 2 || v.fillRule < 0 || v.fillRule > 1 ||
        !std::isfinite(v.dashOffset) || !std::isfinite(v.miterLimit))
        return ERR_WRONGUSAGE;
    qxShapeImage im;
    int32_t offX = 0, offY = 0;
    if (int e = qxRenderPathLayerImage(L, &p, &im, &offX, &offY)) return e;
    if (im.w < 1 || im.h < 1) return ERR_WRONGUSAGE;
    return freshShapeData(l, old, p, im, offX, offY, fresh);
}

qxShapeRecord recordOf(const qxShapeLayerData &p, const qxTransformOptions *upright);

// The shape rendered with its draw style clamped as the draw commands do;
// an empty picture is refused.
int renderClamped(lua_State *L, const qxShapeRecord &r, qxDrawState state, qxShapeImage *im)
{
    qxClampDrawStyle(&state);
    try {
        if (int e = qxRenderShapeImage(L, &r, &state, im)) return e;
    } catch (const std::bad_alloc &) {
        return ERR_BITMAP;
    }
    return im->w < 1 || im->h < 1 ? ERR_WRONGUSAGE : 0;
}

// The keys of a box, circle, ellipse, arc or polygon layer: the shape is
// rendered again, upright, as the draw command made it, its corner staying.
int restyleShape(lua_State *L, const qxLayer *l, int table, qxObjectStyle *style, qxLayerData **fresh)
{
    const auto *old = static_cast<const qxShapeLayerData *>(l->base->typedata);
    if (!old) return 0;
    if (table < 0) table = lua_gettop(L) + table + 1;
    if (old->type == QX_SHAPE_LINE) return restyleLine(L, l, table, old, style, fresh);
    qxShapeLayerData p = *old;
    std::vector<double> vertices;
    bool changed = !l->base->bitmap; // a fresh record is always drawn
    if (int e = readFillKeys(L, table, p, style, &changed)) return e;
    switch (p.type) {
    case QX_SHAPE_BOX: {
        intKey(L, table, "sizex", &p.width, &changed);
        intKey(L, table, "sizey", &p.height, &changed);
        int32_t round = 0;
        if (intKey(L, table, "roundlevel", &round, &changed)) std::fill_n(p.corners, 4, round);
        static const char *const keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
        for (int i = 0; i < 4; i++) intKey(L, table, keys[i], &p.corners[i], &changed);
        qxClampCorners(p.corners);
        break;
    }
    case QX_SHAPE_CIRCLE:
        if (intKey(L, table, "radius", &p.rx, &changed)) p.ry = p.rx;
        break;
    case QX_SHAPE_POLYGON: {
        lua_pushstring(L, "vertices");
        lua_gettable(L, table);
        const int at = lua_gettop(L);
        int e = 0;
        if (lua_istable(L, at)) {
            // The shape keeps its corner where it is.
            double mx = 0, my = 0;
            e = qxReadPolygonTable(L, at, 0, vertices, &p.width, &p.height, &mx, &my);
            p.points = vertices.data(), p.pointCount = int32_t(vertices.size() / 2), changed = true;
        } else if (!lua_isnil(L, at)) {
            qxSetErrorString("vertices");
            e = ERR_NUMTABLEARG;
        }
        lua_pop(L, 1);
        if (e) return e;
        break;
    }
    default:
        intKey(L, table, "radiusa", &p.rx, &changed);
        intKey(L, table, "radiusb", &p.ry, &changed);
        if (p.type == QX_SHAPE_ARC) {
            intKey(L, table, "startangle", &p.start, &changed);
            intKey(L, table, "endangle", &p.end, &changed);
            uintKey(L, table, "clockwise", &p.clockwise, &changed);
        }
        break;
    }
    if (!changed) return 0;
    if (p.type != QX_SHAPE_BOX && p.type != QX_SHAPE_POLYGON) {
        if (p.rx < 1 || p.ry < 1) return ERR_WRONGUSAGE;
        if (p.rx > 1000000 || p.ry > 1000000) return ERR_BITMAP;
        p.width = 2 * p.rx + 1, p.height = 2 * p.ry + 1;
    }
    if (p.width < 1 || p.height < 1) return ERR_WRONGUSAGE;
    // Drawn upright: the layer keeps turning it.
    qxTransformOptions upright = l->transform;
    upright.m11 = upright.m22 = 1, upright.m12 = upright.m21 = 0;
    const qxShapeRecord r = recordOf(p, &upright);
    qxShapeImage im;
    if (int e = renderClamped(L, r, p.state, &im)) return e;
    return freshShapeData(l, old, p, im, im.x, im.y, fresh);
}

// The upright record a shape layer's payload was drawn from.
qxShapeRecord recordOf(const qxShapeLayerData &p, const qxTransformOptions *upright)
{
    qxShapeRecord r{};
    r.type = p.type;
    r.width = p.width, r.height = p.height;
    r.rx = p.rx, r.ry = p.ry, r.start = p.start, r.end = p.end;
    std::copy_n(p.corners, 4, r.corners);
    r.points = p.points, r.pointCount = p.pointCount;
    r.colour = p.colour;
    r.clockwise = p.clockwise;
    r.transform = upright;
    return r;
}

// The coverage as a border image: where the layer's picture (at imageX,
// imageY from the shape's corner) starts in it.
int borderPlane(const qxShapeImage &im, double left, double top, const qxShapeLayerData &s, qxBitMap **alpha,
                int32_t *dx, int32_t *dy)
{
    if (im.w < 1 || im.h < 1) return ERR_WRONGUSAGE;
    *alpha = coveragePlane(im.alpha.data(), im.w, im.h);
    if (!*alpha) return ERR_ALLOCALPHA;
    *dx = int32_t(s.imageX - left), *dy = int32_t(s.imageY - top);
    return 0;
}

// The record that draws the shape under the transform t. With `bigger`, a
// plain scaling draws the shape at the bigger size, upright, as a bigger
// display would show it (a box then fills the scaled box exactly); scaled
// points live in `scaled`. Otherwise the shape is drawn under the matrix,
// as it is with layers off.
qxShapeRecord recordUnder(const qxShapeLayerData &p, const qxTransformOptions *t, bool bigger,
                          qxTransformOptions &upright, std::vector<double> &scaled)
{
    qxShapeRecord r = recordOf(p, t);
    const double sx = t ? t->m11 : 1, sy = t ? t->m22 : 1;
    if (!bigger || !t || t->m12 != 0 || t->m21 != 0 || !(sx > 0 && sy > 0 && sx < 1000 && sy < 1000)) return r;
    auto scale = [](int32_t v, double f) { return std::max(1, int32_t(std::lrint(v * f))); };
    if (r.type == QX_SHAPE_BOX) r.width = scale(r.width, sx), r.height = scale(r.height, sy);
    if (r.type == QX_SHAPE_POLYGON) {
        scaled.assign(r.points, r.points + 2 * std::max(r.pointCount, 0));
        for (size_t i = 0; i < scaled.size(); i++) scaled[i] = std::rint(scaled[i] * (i % 2 ? sy : sx));
        r.points = scaled.data();
        r.width = scale(r.width - 1, sx) + 1, r.height = scale(r.height - 1, sy) + 1;
    }
    if (r.type == QX_SHAPE_CIRCLE || r.type == QX_SHAPE_ELLIPSE || r.type == QX_SHAPE_ARC) {
        r.rx = scale(r.rx, sx), r.ry = scale(r.ry, sy);
        r.width = 2 * r.rx + 1, r.height = 2 * r.ry + 1;
    }
    upright = *t;
    upright.m11 = upright.m22 = 1;
    r.transform = &upright;
    return r;
}

// Whether a rendition's transform is the display's layer scaling alone:
// the layer itself is neither scaled nor turned.
bool scaledByDisplayOnly(const qxLayer *l)
{
    return qxMatrixIsIdentity(&l->transform);
}

// The shape's picture drawn again under t, its line width and shadow size
// scaled as a shape drawn under t with layers off has them.
int pictureUnder(lua_State *L, const qxShapeLayerData &p, const qxTransformOptions *t, bool bigger,
                 qxShapeImage *im)
{
    std::vector<double> scaled;
    qxTransformOptions upright;
    qxDrawState state = p.state;
    qxScaleDrawStyle(&state, t);
    return renderClamped(L, recordUnder(p, t, bigger, upright, scaled), state, im);
}

// A filled shape's layer border is its border polygon: the shape grown by
// the border size; an outline's is the outline drawn with the border's
// reach under the transform times two (at least 2) (lines take the
// engine's widened silhouette). A rendition drawn under a transform (its
// own, or the display's layer scaling) gets its border drawn under it too.
int borderUnder(lua_State *L, const qxShapeLayerData *s, qxTransformOptions t, bool bigger, int32_t size,
                qxBitMap **alpha, int32_t *dx, int32_t *dy)
{
    const double m[4] = {t.m11, t.m12, t.m21, t.m22};
    const bool identity = qxMatrixIsIdentity(&t);
    qxTransformOptions upright = t;
    upright.m11 = upright.m22 = 1, upright.m12 = upright.m21 = 0;
    std::vector<double> scaled;
    qxShapeRecord r = identity ? recordOf(*s, &upright) : recordUnder(*s, &t, bigger, upright, scaled);
    r.colour = 0; // the coverage, whatever the fill's transparency
    qxDrawState st = s->state;
    if (st.fillStyle == QX_FILLNONE) {
        st.formStyle = QX_FORM_NORMAL | (st.formStyle & QX_FORM_ANTIALIAS);
        st.lineWidth = std::max(2, qxXformBorderInset(m, std::max(s->width, 1), std::max(s->height, 1), 2 * size));
    } else {
        st.fillStyle = QX_FILLCOLOR;
        st.formStyle = QX_FORM_EDGE | (st.formStyle & QX_FORM_ANTIALIAS);
        // Drawn bigger upright, the border grows by the scale as the shape
        // does; under the matrix it is grown before it and scales anyway.
        st.borderSize = r.transform == &upright && !identity ? qxXformBorderInset(m, std::max(s->width, 1),
                                                                                  std::max(s->height, 1), size)
                                                             : size;
        st.borderColour = 0;
    }
    qxShapeImage im;
    if (int e = renderClamped(L, r, st, &im)) return e;
    if (identity) return borderPlane(im, im.x, im.y, *s, alpha, dx, dy);
    // Where the picture drawn under the same transform starts in the border.
    qxShapeImage picture;
    if (int e = pictureUnder(L, *s, &t, bigger, &picture)) return e;
    if (im.w < 1 || im.h < 1) return ERR_WRONGUSAGE;
    *alpha = coveragePlane(im.alpha.data(), im.w, im.h);
    if (!*alpha) return ERR_ALLOCALPHA;
    *dx = picture.x - im.x, *dy = picture.y - im.y;
    return 0;
}

int shapeBorder(lua_State *L, const qxLayer *l, const qxLayerData *data, int32_t, qxBitMap **alpha, int32_t *dx,
                int32_t *dy)
{
    const auto *s = static_cast<const qxShapeLayerData *>(data->typedata);
    if (!s || s->type == QX_SHAPE_LINE) return ERR_WRONGUSAGE;
    qxTransformOptions t;
    qxRenditionTransform(l, data, &t);
    return borderUnder(L, s, t, scaledByDisplayOnly(l), int32_t(std::min<uint32_t>(l->bordersize, 1 << 16)), alpha,
                       dx, dy);
}

// A turned picture's border: that of an anti-aliased box of its size, the
// picture lying 2 further in than the box's (the anti-aliasing margin).
int boxBorder(lua_State *L, const qxTransformOptions *t, int32_t width, int32_t height, int32_t size,
              qxBitMap **alpha, int32_t *dx, int32_t *dy)
{
    qxShapeLayerData p{};
    p.type = QX_SHAPE_BOX;
    p.width = std::max(width, 1), p.height = std::max(height, 1);
    p.state = *qxGetDrawState();
    p.state.fillStyle = QX_FILLCOLOR;
    p.state.formStyle = QX_FORM_ANTIALIAS;
    p.state.lineWidth = 1;
    if (int e = borderUnder(L, &p, *t, true, size, alpha, dx, dy)) return e;
    *dx += 2, *dy += 2;
    return 0;
}

// A path layer's border: the path's outline reaching size beyond what it
// shows, with the filled shape inside.
int pathBorder(lua_State *L, const qxLayer *, const qxLayerData *data, int32_t size, qxBitMap **alpha, int32_t *dx,
               int32_t *dy)
{
    const auto *s = static_cast<const qxShapeLayerData *>(data->typedata);
    if (!s || !s->items) return ERR_EMPTYPATH;
    qxShapeLayerData p = *s;
    const bool outline = p.state.fillStyle == QX_FILLNONE;
    p.state.fillStyle = QX_FILLCOLOR;
    p.state.formStyle = QX_FORM_EDGE | (p.state.formStyle & QX_FORM_ANTIALIAS);
    p.state.borderSize = size + (outline ? (std::clamp(p.state.lineWidth, 0, 1 << 20) + 1) / 2 : 0);
    p.state.borderColour = 0;
    qxShapeImage im;
    int32_t w = 0, h = 0;
    double left = 0, top = 0;
    if (int e = qxRenderPathImage(L, &p, nullptr, &im, &w, &h, &left, &top)) return e;
    return borderPlane(im, left, top, *s, alpha, dx, dy);
}

// The shape drawn again under a layer's transform (display scale
// included), so that a scaled or turned shape keeps crisp edges. Paths are
// drawn again by their own hook. A wider line reaches further out than
// the upright picture's did.
int renderShape(lua_State *L, const qxLayer *l, const qxTransformOptions *t, qxBitMap **bitmap, qxBitMap **mask,
                qxBitMap **alpha, int32_t *width, int32_t *height, int32_t *dx, int32_t *dy)
{
    const auto *p = static_cast<const qxShapeLayerData *>(l->base->typedata);
    if (!p || p->type == QX_SHAPE_LINE) return ERR_WRONGUSAGE;
    *mask = nullptr;
    qxShapeImage im;
    if (int e = pictureUnder(L, *p, t, scaledByDisplayOnly(l), &im)) return e;
    *width = im.w, *height = im.h;
    *dx = int32_t(std::clamp<int64_t>(int64_t(im.x) - p->imageX, -1000000, 1000000));
    *dy = int32_t(std::clamp<int64_t>(int64_t(im.y) - p->imageY, -1000000, 1000000));
    return qxShapePlanes(im.pixels.data(), im.alpha.data(), im.w, im.h, bitmap, alpha);
}

// A line drawn again under a layer's transform: its end points turned
// about the anchor point of their box, as a turned line is drawn without
// layers, its thickness scaled; placed from the upright picture's corner.
// An on-screen rendition's t carries the display's scale too: the turned
// line then lies at its layers-off place times that scale.
int redrawLine(lua_State *, const qxLayer *l, const qxLayerData *data, const qxTransformOptions *t,
               qxBitMap **bitmap, qxBitMap **alpha, int32_t *dx, int32_t *dy, int32_t *width, int32_t *height)
{
    const auto *p = static_cast<const qxShapeLayerData *>(data->typedata);
    if (!p) return ERR_WRONGUSAGE;
    qxShapeImage im;
    try {
        if (int e = qxRenderLineImage(p->x1, p->y1, p->x2, p->y2, p->colour, p->thickness,
                                      (p->state.formStyle & QX_FORM_ANTIALIAS) != 0, t, &im))
            return e;
    } catch (const std::bad_alloc &) {
        return ERR_BITMAP;
    }
    const qxTransformOptions &own = l->transform;
    const bool scaled = !(t->m11 == own.m11 && t->m12 == own.m12 && t->m21 == own.m21 && t->m22 == own.m22) &&
                        qxLayerScaling(qxCurrentDisplay);
    const double fx = scaled ? qxCurrentDisplay->scaleX : 1.0, fy = scaled ? qxCurrentDisplay->scaleY : 1.0;
    const double ax = std::trunc((std::llabs(int64_t(p->x2) - p->x1) + 1) * t->anchorx);
    const double ay = std::trunc((std::llabs(int64_t(p->y2) - p->y1) + 1) * t->anchory);
    const double ox = (fx - 1) * ax + im.x - fx * p->imageX, oy = (fy - 1) * ay + im.y - fy * p->imageY;
    if (!std::isfinite(ox) || !std::isfinite(oy)) return ERR_WRONGUSAGE;
    *dx = int32_t(std::lrint(std::clamp(ox, -1e6, 1e6))), *dy = int32_t(std::lrint(std::clamp(oy, -1e6, 1e6)));
    *width = im.w, *height = im.h;
    return qxShapePlanes(im.pixels.data(), im.alpha.data(), im.w, im.h, bitmap, alpha);
}

// A layer turned into a shape starts from the draw state, white, at the
// size it had; radii carry over between circles, ellipses and arcs. A
// line runs from the layer's place until its points are given.
int freshShape(lua_State *L, qxLayer *layer, uint32_t from, int table, void **typedata)
{
    if (table < 0) table = lua_gettop(L) + table + 1;
    const uint32_t type = layer->type;
    const bool round = from == QX_SHAPE_CIRCLE || from == QX_SHAPE_ELLIPSE || from == QX_SHAPE_ARC;
    const char *const *need = nullptr;
    static const char *const circle[] = {"radius", nullptr}, *const ellipse[] = {"radiusa", "radiusb", nullptr},
                             *const arc[] = {"startangle", "endangle", nullptr}, *const polygon[] = {"vertices", nullptr};
    if (type == QX_SHAPE_CIRCLE && !round) need = circle;
    if ((type == QX_SHAPE_ELLIPSE || type == QX_SHAPE_ARC) && !round) need = ellipse;
    if (type == QX_SHAPE_POLYGON) need = polygon;
    for (; need && *need; ++need)
        if (!qxFieldPresent(L, table, *need)) return ERR_MISSINGPARAMTR;
    if (type == QX_SHAPE_ARC)
        for (need = arc; *need; ++need)
            if (!qxFieldPresent(L, table, *need)) return ERR_MISSINGPARAMTR;
    qxShapeLayerData p{};
    p.type = type;
    p.state = *qxGetDrawState();
    p.colour = 0xFFFFFF;
    p.width = layer->base->width, p.height = layer->base->height;
    p.x = p.x1 = p.x2 = layer->base->x, p.y = p.y1 = p.y2 = layer->base->y;
    p.thickness = 1;
    const bool shape = from == QX_SHAPE_BOX || from == QX_SHAPE_POLYGON || round;
    if (const auto *old = static_cast<const qxShapeLayerData *>(layer->base->typedata); shape && old) {
        // The shape's corner stays where the old shape had it.
        p.width = old->width, p.height = old->height;
        p.imageX = old->imageX, p.imageY = old->imageY;
        if (round) p.rx = old->rx, p.ry = type == QX_SHAPE_CIRCLE ? old->rx : old->ry;
    }
    qxShapeLayerData *own = nullptr;
    if (int e = qxCloneShapeLayerData(&p, &own)) return e;
    *typedata = own;
    return 0;
}

// A layer turned into a path draws the path "id" names with the draw and
// vector state current now.
int freshPath(lua_State *L, qxLayer *layer, uint32_t, int table, void **typedata)
{
    if (table < 0) table = lua_gettop(L) + table + 1;
    qxObjectRef id{};
    if (!qxGetFieldID(L, table, "id", &id, nullptr)) return ERR_MISSINGPARAMTR;
    qxShapeLayerData p{};
    if (int e = qxPathSnapshot(id, &p)) return e;
    p.items = nullptr, p.capacity = 0; // the path's own items come with "id"
    p.colour = 0xFFFFFF;
    p.width = layer->base->width, p.height = layer->base->height;
    qxShapeLayerData *own = nullptr;
    if (int e = qxCloneShapeLayerData(&p, &own)) return e;
    layer->layerid = id;
    *typedata = own;
    return 0;
}

// An unfilled outline in the border's own colour shows as its border alone.
int outlineIsBorder(const qxLayer *l)
{
    const auto *p = l->base ? static_cast<const qxShapeLayerData *>(l->base->typedata) : nullptr;
    return p && p->state.fillStyle == QX_FILLNONE && (p->colour & 0xFFFFFF) == (l->bordercolor & 0xFFFFFF);
}

qxObjectRef *textureBrush(qxLayerData *d)
{
    auto *p = d ? static_cast<qxShapeLayerData *>(d->typedata) : nullptr;
    return p && p->state.fillStyle == QX_FILLTEXTURE ? &p->state.texture : nullptr;
}

// The layers own their composed planes; the payload says what they show.
const qxLayerTypeOps kShapeOps = {nullptr, freeTypeData, cloneTypeData, pushShapeKeys, shapeBorder, restyleShape,
                                  renderShape, freshShape, outlineIsBorder, textureBrush};
const qxLayerTypeOps kLineOps = {nullptr, freeTypeData, cloneTypeData, pushShapeKeys, shapeBorder, restyleShape,
                                 nullptr, freshShape, outlineIsBorder, textureBrush};
const qxLayerTypeOps kPathOps = {nullptr, freeTypeData, cloneTypeData, pushPathKeys, pathBorder, restylePath, nullptr,
                                 freshPath, outlineIsBorder, textureBrush};

} // namespace

void qxLinkShapeLayers(void)
{
    qxLayerBoxBorder = boxBorder;
    for (uint32_t type : {QX_SHAPE_BOX, QX_SHAPE_CIRCLE, QX_SHAPE_ELLIPSE, QX_SHAPE_POLYGON, QX_SHAPE_ARC})
        qxRegisterLayerType(type, &kShapeOps);
    qxRegisterLayerType(QX_SHAPE_LINE, &kLineOps);
    qxRegisterLayerRedraw(QX_SHAPE_LINE, redrawLine);
    qxRegisterLayerType(QX_LAYER_VECTORPATH, &kPathOps);
    qxRegisterLayerRedraw(QX_LAYER_VECTORPATH, qxPathTransform);
}
