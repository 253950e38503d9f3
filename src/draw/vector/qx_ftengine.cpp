#include "draw/vector/qx_ftengine.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_STROKER_H
#include FT_BBOX_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "draw/vector/qx_path.h"
#include "platform/qx_memory.h"

qxVectorEngine qxInbuiltVectorEngine = {0,
                                        1,
                                        qxFtGetPathExtents,
                                        qxFtDrawPath,
                                        qxFtTranslatePath,
                                        qxFtGetCurrentPoint,
                                        qxFtCreateVectorFont,
                                        qxFtFreeVectorFont,
                                        qxFtOpenVectorFont,
                                        qxFtCloseVectorFont};

int qxIsInbuiltVectorEngine(const qxVectorEngine *engine) { return engine == &qxInbuiltVectorEngine; }

namespace {

// The program's FreeType handle; the font layer will share it once it exists.
FT_Library ftLibrary()
{
    static FT_Library lib = nullptr;
    if (!lib && FT_Init_FreeType(&lib) != 0) lib = nullptr;
    return lib;
}

// Whatever a script passes stays inside what FreeType's 26.6 arithmetic can carry.
constexpr double kCoordLimit = 1 << 20;

template <typename T> T readAt(const uint8_t *p, size_t off)
{
    T v;
    std::memcpy(&v, p + off, sizeof v);
    return v;
}

template <typename T> void writeAt(uint8_t *p, size_t off, T v) { std::memcpy(p + off, &v, sizeof v); }

// Collects contours in 26.6. For the fill an open sub-path runs along the
// path and back, so it encloses no area; the stroke gets it as drawn.
struct Builder {
    std::vector<FT_Vector> pts;
    std::vector<char> tags;
    struct Contour {
        size_t first, last;
        bool open;
    };
    std::vector<Contour> contours;
    size_t start = 0;
    bool open = false;
    bool bad = false;

    FT_Vector fix(double x, double y)
    {
        if (!std::isfinite(x) || !std::isfinite(y)) bad = true;
        x = std::isfinite(x) ? std::clamp(x, -kCoordLimit, kCoordLimit) : 0;
        y = std::isfinite(y) ? std::clamp(y, -kCoordLimit, kCoordLimit) : 0;
        return {FT_Pos(x * 64), FT_Pos(y * 64)};
    }
    void begin(double x, double y)
    {
        if (open) end(false);
        start = pts.size();
        pts.push_back(fix(x, y));
        tags.push_back(FT_CURVE_TAG_ON);
        open = true;
    }
    void lineTo(double x, double y)
    {
        pts.push_back(fix(x, y));
        tags.push_back(FT_CURVE_TAG_ON);
    }
    void cubicTo(double x1, double y1, double x2, double y2, double x3, double y3)
    {
        pts.push_back(fix(x1, y1)), tags.push_back(FT_CURVE_TAG_CUBIC);
        pts.push_back(fix(x2, y2)), tags.push_back(FT_CURVE_TAG_CUBIC);
        pts.push_back(fix(x3, y3)), tags.push_back(FT_CURVE_TAG_ON);
    }
    void end(bool closed)
    {
        if (!open) return;
        open = false;
        contours.push_back({start, pts.size() - 1, !closed});
    }
    // A glyph's outline (y up) as closed contours, flipped onto the screen with its origin at (x, y).
    void glyph(const FT_Outline &o, double x, double y)
    {
        const FT_Vector at = fix(x, y);
        int first = 0;
        for (int c = 0; c < int(o.n_contours); c++) {
            const int last = o.contours[c];
            if (last < first || last >= int(o.n_points)) return;
            start = pts.size();
            for (int i = first; i <= last; i++) {
                pts.push_back({o.points[i].x + at.x, at.y - o.points[i].y});
                tags.push_back(char(FT_CURVE_TAG(o.tags[i])));
            }
            contours.push_back({start, pts.size() - 1, false});
            first = last + 1;
        }
    }
    // Fills o (made here); false when FreeType's point or contour count cannot hold it.
    bool outline(FT_Library lib, bool forFill, FT_Outline *o)
    {
        size_t np = 0;
        for (const Contour &c : contours) np += (c.last - c.first + 1) * (forFill && c.open ? 2 : 1);
        if (np > size_t(std::numeric_limits<short>::max()) || contours.size() > size_t(std::numeric_limits<short>::max()))
            return false;
        if (FT_Outline_New(lib, FT_UInt(np), FT_Int(contours.size()), o)) return false;
        size_t k = 0, ci = 0;
        for (const Contour &c : contours) {
            for (size_t i = c.first; i <= c.last; i++) o->points[k] = pts[i], o->tags[k++] = tags[i];
            if (forFill && c.open)
                for (size_t i = c.last + 1; i-- > c.first;) o->points[k] = pts[i], o->tags[k++] = tags[i];
            o->contours[ci++] = short(k - 1);
        }
        return true;
    }
};

// One cubic per piece of at most half a turn; angles in radians.
void arcSegments(Builder &b, bool clockwise, double xc, double yc, double ra, double rb, double a, double bb,
                 double *outX, double *outY, int depth = 0)
{
    if (bb - a > 4 * M_PI) bb -= 2 * M_PI * std::ceil((bb - a - 4 * M_PI) / (2 * M_PI));
    if (bb - a > M_PI && depth < 8) {
        double mid = (a + bb) / 2;
        if (clockwise) {
            arcSegments(b, clockwise, xc, yc, ra, rb, a, mid, outX, outY, depth + 1);
            arcSegments(b, clockwise, xc, yc, ra, rb, mid, bb, outX, outY, depth + 1);
        } else {
            arcSegments(b, clockwise, xc, yc, ra, rb, mid, bb, outX, outY, depth + 1);
            arcSegments(b, clockwise, xc, yc, ra, rb, a, mid, outX, outY, depth + 1);
        }
        return;
    }
    if (a == bb) return;
    double A = clockwise ? a : bb, B = clockwise ? bb : a;
    double h = 4.0 / 3.0 * std::tan((B - A) / 4);
    double ca = std::cos(A), sa = std::sin(A), cb = std::cos(B), sb = std::sin(B);
    b.cubicTo(xc + ra * ca - h * ra * sa, yc + rb * sa + h * rb * ca, xc + ra * cb + h * ra * sb,
              yc + rb * sb - h * rb * cb, xc + ra * cb, yc + rb * sb);
    *outX = xc + ra * cb, *outY = yc + rb * sb;
}

// An elliptic arc in degrees; begins a sub-path at its first point when asked, else joins it with a line.
void ftArc(Builder &b, bool fromCentre, bool clockwise, bool begin, bool join, double xc, double yc, double ra,
           double rb, double startDeg, double endDeg, double *outX, double *outY, double *firstX = nullptr,
           double *firstY = nullptr)
{
    bool full = startDeg == 0 && endDeg == 360;
    double s = startDeg * M_PI / 180, e = endDeg * M_PI / 180;
    if (!std::isfinite(s) || !std::isfinite(e)) {
        b.bad = true;
        return;
    }
    if (clockwise) {
        if (e < s) e += 2 * M_PI * std::ceil((s - e) / (2 * M_PI));
    } else if (e > s) {
        e -= 2 * M_PI * std::ceil((e - s) / (2 * M_PI));
    }
    // Huge angles keep their span but lose the turns that doubles cannot tell apart.
    double span = e - s;
    if (!std::isfinite(span)) span = clockwise ? 4 * M_PI : -4 * M_PI;
    if (std::fabs(span) > 4 * M_PI)
        span -= std::copysign(2 * M_PI * std::ceil((std::fabs(span) - 4 * M_PI) / (2 * M_PI)), span);
    s = std::fmod(s, 2 * M_PI);
    e = s + span;
    double sx = xc + ra * std::cos(s), sy = yc + rb * std::sin(s);
    bool pie = fromCentre && !full;
    double fx = pie ? xc : sx, fy = pie ? yc : sy;
    if (begin) b.begin(fx, fy);
    if (firstX) *firstX = fx, *firstY = fy;
    if (fx != sx || fy != sy || join) b.lineTo(sx, sy);
    *outX = sx, *outY = sy;
    if (clockwise)
        arcSegments(b, true, xc, yc, ra, rb, s, e, outX, outY);
    else
        arcSegments(b, false, xc, yc, ra, rb, e, s, outX, outY);
    if (pie) b.lineTo(xc, yc), *outX = xc, *outY = yc;
}

void roundBox(Builder &b, const int32_t level[4], bool begin, double x1, double y1, double x2, double y2,
              double *outX, double *outY)
{
    double half = std::min(std::trunc(x2 - x1), std::trunc(y2 - y1)) / 2;
    double r[4];
    for (int i = 0; i < 4; i++) r[i] = std::max(half, 0.0) * std::clamp(level[i], 0, 100) / 100.0;
    double ex, ey;
    if (begin)
        b.begin(x1 + r[0], y1);
    else
        b.lineTo(x1 + r[0], y1);
    *outX = x1 + r[0], *outY = y1;
    // Each corner: a line to where it starts, then its quarter turn counterclockwise on screen.
    const double cx[4] = {x1 + r[0], x1 + r[1], x2 - r[2], x2 - r[3]};
    const double cy[4] = {y1 + r[0], y2 - r[1], y2 - r[2], y1 + r[3]};
    const double from[4] = {270, 180, 90, 360}, corner[4][2] = {{x1, y1}, {x1, y2}, {x2, y2}, {x2, y1}};
    for (int i = 0; i < 4; i++) {
        if (r[i] <= 0) {
            b.lineTo(corner[i][0], corner[i][1]);
            continue;
        }
        double s = from[i] * M_PI / 180;
        if (i) b.lineTo(cx[i] + r[i] * std::cos(s), cy[i] + r[i] * std::sin(s));
        arcSegments(b, false, cx[i], cy[i], r[i], r[i], s - M_PI / 2, s, &ex, &ey);
    }
}

struct Walk {
    double x = 0, y = 0;
    bool lastOpen = false;
};

// Walks the items into b; mode 0 instead moves the absolute items by (dx, dy) in place.
void walkItems(int mode, uint8_t *items, Builder *b, Walk &w, double dx, double dy)
{
    double sx = 0, sy = 0;
    bool open = false, openEnds = false;
    for (uint8_t *p = items;; p += qxPathItemSize(p)) {
        uint32_t op = readAt<uint32_t>(p, 0);
        if (op == QX_PATH_END) break;
        const uint8_t *next = p + qxPathItemSize(p);
        if (mode == 0) {
            if ((op == QX_PATH_MOVETO || op == QX_PATH_LINETO || op == QX_PATH_CURVETO) && !readAt<uint32_t>(p, 4)) {
                int pairs = op == QX_PATH_CURVETO ? 3 : 1;
                for (int i = 0; i < pairs; i++) {
                    writeAt(p, 8 + 16 * i, readAt<double>(p, 8 + 16 * i) + dx);
                    writeAt(p, 16 + 16 * i, readAt<double>(p, 16 + 16 * i) + dy);
                }
            } else if (op == QX_PATH_ARC || op == QX_PATH_BOX) {
                writeAt(p, 4, readAt<double>(p, 4) + dx);
                writeAt(p, 12, readAt<double>(p, 12) + dy);
            }
            continue;
        }
        auto point = [&](size_t off, bool rel) {
            double px = readAt<double>(p, off), py = readAt<double>(p, off + 8);
            return rel ? std::pair{px + w.x, py + w.y} : std::pair{px + dx, py + dy};
        };
        auto finish = [&](bool closed) {
            if (!open) return;
            b->end(closed);
            openEnds = !closed;
            open = false;
        };
        switch (op) {
        case QX_PATH_MOVETO: {
            auto [px, py] = point(8, readAt<uint32_t>(p, 4));
            finish(false);
            if (readAt<uint32_t>(next, 0) != QX_PATH_TEXT) b->begin(px, py), open = true;
            w.x = sx = px, w.y = sy = py;
            break;
        }
        case QX_PATH_LINETO: {
            auto [px, py] = point(8, readAt<uint32_t>(p, 4));
            if (open) {
                b->lineTo(px, py);
            } else {
                b->begin(px, py), open = true;
                sx = w.x, sy = w.y;
            }
            w.x = px, w.y = py;
            break;
        }
        case QX_PATH_CURVETO: {
            bool rel = readAt<uint32_t>(p, 4);
            auto [x1, y1] = point(8, rel);
            auto [x2, y2] = point(24, rel);
            auto [x3, y3] = point(40, rel);
            if (!open) b->begin(x1, y1), open = true, sx = x1, sy = y1;
            b->cubicTo(x1, y1, x2, y2, x3, y3);
            w.x = x3, w.y = y3;
            break;
        }
        case QX_PATH_CLOSEPATH:
            if (open) finish(true), w.x = sx, w.y = sy;
            break;
        case QX_PATH_ARC: {
            double ex = 0, ey = 0, fx = 0, fy = 0;
            bool begin = !open;
            ftArc(*b, false, readAt<uint32_t>(p, 52) != 0, begin, !begin, readAt<double>(p, 4) + dx,
                  readAt<double>(p, 12) + dy, readAt<double>(p, 20), readAt<double>(p, 28), readAt<double>(p, 36),
                  readAt<double>(p, 44), &ex, &ey, &fx, &fy);
            if (begin) sx = fx, sy = fy;
            open = b->open;
            w.x = ex, w.y = ey;
            break;
        }
        case QX_PATH_BOX: {
            int32_t level[4];
            for (int i = 0; i < 4; i++) level[i] = readAt<int32_t>(p, 36 + 4 * i);
            double x1 = readAt<double>(p, 4) + dx, y1 = readAt<double>(p, 12) + dy;
            double ex = 0, ey = 0;
            roundBox(*b, level, !open, x1, y1, x1 + readAt<double>(p, 20), y1 + readAt<double>(p, 28), &ex, &ey);
            open = true;
            finish(true);
            w.x = ex, w.y = ey;
            break;
        }
        case QX_PATH_TEXT: {
            // The inbuilt engine's vector font is the face; a failing glyph ends the text.
            finish(false);
            auto face = reinterpret_cast<FT_Face>(uintptr_t(readAt<uint64_t>(p, 4)));
            const uint32_t size = readAt<uint32_t>(p, 12);
            if (!face || size < 1 || size > 4096 || FT_Set_Char_Size(face, 0, FT_F26Dot6(size) * 64, 72, 72)) break;
            const auto *text = p + 16;
            for (size_t i = 0; text[i];) {
                uint32_t c = text[i++];
                if (c >= 0xC0 && c < 0xE0 && (text[i] & 0xC0) == 0x80) c = ((c & 0x1F) << 6) | (text[i++] & 0x3F);
                if (FT_Load_Glyph(face, FT_Get_Char_Index(face, c & 0xFF), FT_LOAD_NO_BITMAP) ||
                    face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
                    break;
                b->glyph(face->glyph->outline, w.x, w.y);
                w.x += face->glyph->advance.x / 64.0;
            }
            break;
        }
        default: break;
        }
    }
    if (open) b->end(false), openEnds = true;
    w.lastOpen = openEnds;
}

bool identity(const double *m) { return !m || (m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1); }

FT_Fixed toFixed(double v) { return std::isfinite(v) ? FT_Fixed(std::clamp(v, -32767.0, 32767.0) * 65536) : 0; }

// Owns an FT_Outline made by FT_Outline_New.
struct Outline {
    FT_Outline o{};
    bool made = false;
    ~Outline()
    {
        if (made) FT_Outline_Done(ftLibrary(), &o);
    }
};

// The outline of the items: filled, or stroked with the state's cap, join and miter limit.
bool buildOutline(const uint8_t *items, const qxEngineState *st, uint32_t lineWidth, bool fill, double dx, double dy,
                  Outline &out, double *curX, double *curY)
{
    FT_Library lib = ftLibrary();
    if (!lib || !items) return false;
    Builder b;
    Walk w;
    try {
        walkItems(1, const_cast<uint8_t *>(items), &b, w, dx, dy);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (b.bad) return false;
    if (curX) *curX = w.x;
    if (curY) *curY = w.y;
    if (!b.outline(lib, fill, &out.o)) return false;
    out.made = true;
    if (st && st->fillRule == 1) out.o.flags |= FT_OUTLINE_EVEN_ODD_FILL;
    if (fill || b.pts.empty()) return true;
    FT_Stroker stroker = nullptr;
    if (FT_Stroker_New(lib, &stroker)) return false;
    uint32_t cap = st ? st->lineCap : 0, join = st ? st->lineJoin : 0;
    double miter = st ? st->miterLimit : 10.0;
    FT_Stroker_Set(stroker, FT_Fixed(std::min<uint32_t>(lineWidth, 1u << 16)) * 32,
                   cap == 1   ? FT_STROKER_LINECAP_ROUND
                   : cap == 2 ? FT_STROKER_LINECAP_SQUARE
                              : FT_STROKER_LINECAP_BUTT,
                   join == 1   ? FT_STROKER_LINEJOIN_ROUND
                   : join == 2 ? FT_STROKER_LINEJOIN_BEVEL
                               : FT_STROKER_LINEJOIN_MITER_FIXED,
                   toFixed(miter));
    FT_UInt np = 0, nc = 0;
    bool ok = FT_Stroker_ParseOutline(stroker, &out.o, w.lastOpen) == 0 &&
              FT_Stroker_GetCounts(stroker, &np, &nc) == 0 && np <= FT_UInt(std::numeric_limits<short>::max());
    if (ok) {
        FT_Outline_Done(lib, &out.o);
        out.made = false;
        ok = FT_Outline_New(lib, np, FT_Int(nc), &out.o) == 0;
        if (ok) {
            out.made = true;
            out.o.n_points = 0, out.o.n_contours = 0;
            FT_Stroker_Export(stroker, &out.o);
        }
    }
    FT_Stroker_Done(stroker);
    return ok;
}

void transform(Outline &o, const double *m)
{
    if (identity(m)) return;
    FT_Matrix fm = {toFixed(m[0]), toFixed(m[2]), toFixed(m[1]), toFixed(m[3])};
    FT_Outline_Transform(&o.o, &fm);
}

} // namespace

void qxFtGetPathExtents(qxPathExtentsRequest *r)
{
    Outline o;
    if (!r || !buildOutline(r->items, r->state, r->lineWidth, r->fill != 0, r->dx, r->dy, o, nullptr, nullptr)) return;
    transform(o, r->matrix);
    FT_BBox box{};
    if (FT_Outline_Get_BBox(&o.o, &box)) return;
    r->x1 = box.xMin / 64.0, r->y1 = box.yMin / 64.0, r->x2 = box.xMax / 64.0, r->y2 = box.yMax / 64.0;
}

int32_t qxFtDrawPath(qxPathDrawRequest *r)
{
    if (!r || !r->target || r->stride < r->width || r->stride > uint32_t(INT32_MAX) || r->height > uint32_t(INT32_MAX))
        return 0;
    Outline o;
    if (!buildOutline(r->items, r->state, r->lineWidth, r->fill != 0, -r->bx, -r->by, o, nullptr, nullptr)) return 0;
    transform(o, r->matrix);
    FT_BBox box{};
    if (FT_Outline_Get_BBox(&o.o, &box)) return 0;
    // To the whole pixel at the extents' corner: the path keeps its place within the pixel grid.
    FT_Outline_Translate(&o.o, -(box.xMin & ~FT_Pos(63)), -(box.yMin & ~FT_Pos(63)));
    if (!r->width || !r->height) return 1;
    FT_Bitmap bm{};
    bm.rows = r->height;
    bm.width = r->width;
    bm.num_grays = 256;
    bool aa = !r->state || r->state->antialias;
    if (aa) {
        bm.pitch = -int(r->stride);
        bm.buffer = r->target;
        bm.pixel_mode = FT_PIXEL_MODE_GRAY;
        return FT_Outline_Get_Bitmap(ftLibrary(), &o.o, &bm) == 0 ? 1 : 0;
    }
    size_t pitch = ((size_t(r->width) + 15) / 8) & ~size_t(1), bytes = 0;
    if (!qxMulSize(pitch, r->height, &bytes) || pitch > size_t(INT32_MAX)) return 0;
    auto *bits = static_cast<uint8_t *>(qxAlloc(bytes, 1));
    if (!bits) return 0;
    bm.pitch = -int(pitch);
    bm.buffer = bits;
    bm.pixel_mode = FT_PIXEL_MODE_MONO;
    bm.num_grays = 2;
    int32_t rc = FT_Outline_Get_Bitmap(ftLibrary(), &o.o, &bm) == 0 ? 1 : 0;
    for (uint32_t y = 0; rc && y < r->height; y++) {
        const uint8_t *src = bits + y * pitch;
        uint8_t *dst = r->target + size_t(y) * r->stride;
        for (uint32_t x = 0; x < r->width; x++) dst[x] = (src[x >> 3] >> (7 - (x & 7)) & 1) ? 255 : 0;
    }
    qxFree(bits);
    return rc;
}

void qxFtTranslatePath(qxPathTranslateRequest *r)
{
    if (!r || !r->items) return;
    Walk w;
    walkItems(0, r->items, nullptr, w, r->dx, r->dy);
}

void qxFtGetCurrentPoint(const uint8_t *items, const qxEngineState *state, double *x, double *y)
{
    Outline o;
    double cx = 0, cy = 0;
    if (buildOutline(items, state, 0, true, 0, 0, o, &cx, &cy)) *x = cx, *y = cy;
}

void *qxFtCreateVectorFont(void *face) { return face; }

void qxFtFreeVectorFont(void *) {}

void *qxFtOpenVectorFont(const void *data, size_t size)
{
    FT_Face face = nullptr;
    FT_Library lib = ftLibrary();
    if (!lib || !data || size > size_t(std::numeric_limits<FT_Long>::max())) return nullptr;
    if (FT_New_Memory_Face(lib, static_cast<const FT_Byte *>(data), FT_Long(size), 0, &face)) return nullptr;
    return face;
}

void qxFtCloseVectorFont(void *face)
{
    if (face) FT_Done_Face(static_cast<FT_Face>(face));
}

namespace {

bool shapeOutline(const qxFtShape &s, int32_t start, int32_t end, bool clockwise, Outline &out)
{
    FT_Library lib = ftLibrary();
    if (!lib) return false;
    Builder b;
    const double g = s.grow;
    double ex = 0, ey = 0;
    try {
        if (s.type == 14) {
            static const int32_t square[4] = {0, 0, 0, 0};
            roundBox(b, s.corners ? s.corners : square, true, 0, 0, s.width + 2 * g, s.height + 2 * g, &ex, &ey);
        } else {
            double rx = s.rx + g, ry = s.ry + g;
            ftArc(b, true, clockwise, true, false, rx, ry, rx, ry, start, end, &ex, &ey);
        }
        b.end(true);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (b.bad || !b.outline(lib, true, &out.o)) return false;
    out.made = true;
    transform(out, s.matrix);
    if (s.filled) return true;
    FT_Stroker stroker = nullptr;
    if (FT_Stroker_New(lib, &stroker)) return false;
    FT_Stroker_Set(stroker, FT_Fixed(std::min<uint32_t>(s.lineWidth, 1u << 16)) * 32, FT_STROKER_LINECAP_ROUND,
                   FT_STROKER_LINEJOIN_ROUND, 0);
    FT_UInt np = 0, nc = 0;
    bool ok = FT_Stroker_ParseOutline(stroker, &out.o, false) == 0 && FT_Stroker_GetCounts(stroker, &np, &nc) == 0 &&
              np <= FT_UInt(std::numeric_limits<short>::max());
    if (ok) {
        FT_Outline_Done(lib, &out.o);
        out.made = false;
        ok = FT_Outline_New(lib, np, FT_Int(nc), &out.o) == 0;
        if (ok) {
            out.made = true;
            out.o.n_points = 0, out.o.n_contours = 0;
            FT_Stroker_Export(stroker, &out.o);
        }
    }
    FT_Stroker_Done(stroker);
    return ok;
}

} // namespace

int32_t qxFtRenderShape(qxFtShape *s)
{
    if (!s) return 0;
    int32_t start = s->start, end = s->end;
    bool cw = s->clockwise != 0;
    Outline o;
    FT_BBox box{};
    if (s->type != 31 && s->type != 14) {
        start = 0, end = 360, cw = true; // circles and ellipses are whole
    } else if (s->type == 31) {
        if (cw && end < start) std::swap(start, end), cw = false;
        else if (!cw && start < end) std::swap(start, end), cw = true;
    }
    if (s->type == 31 && !(start == 0 && end == 360)) {
        // The arc keeps its place inside the full ellipse, and the plane is
        // the full ellipse's: the caller places it by the ellipse's corner.
        Outline full;
        if (!shapeOutline(*s, 0, 360, true, full) || FT_Outline_Get_BBox(&full.o, &box)) return 0;
        if (!shapeOutline(*s, start, end, cw, o)) return 0;
        FT_Outline_Translate(&o.o, -box.xMin, -box.yMin);
        box.xMax -= box.xMin, box.yMax -= box.yMin, box.xMin = box.yMin = 0;
    } else {
        if (!shapeOutline(*s, start, end, cw, o) || FT_Outline_Get_BBox(&o.o, &box)) return 0;
        FT_Outline_Translate(&o.o, -box.xMin, -box.yMin);
        if (FT_Outline_Get_BBox(&o.o, &box)) return 0;
    }
    if (!s->target) {
        s->planeWidth = uint32_t(std::max<FT_Pos>(0, ((box.xMax + 63) >> 6) - (box.xMin >> 6)));
        s->planeHeight = uint32_t(std::max<FT_Pos>(0, ((box.yMax + 63) >> 6) - (box.yMin >> 6)));
        return 1;
    }
    if (s->stride < s->planeWidth || s->stride > uint32_t(INT32_MAX) || s->planeHeight > uint32_t(INT32_MAX)) return 0;
    if (!s->planeWidth || !s->planeHeight) return 1;
    FT_Bitmap bm{};
    bm.rows = s->planeHeight;
    bm.width = s->planeWidth;
    bm.pitch = -int(s->stride);
    bm.buffer = s->target;
    bm.pixel_mode = FT_PIXEL_MODE_GRAY;
    bm.num_grays = 256;
    return FT_Outline_Get_Bitmap(ftLibrary(), &o.o, &bm) == 0 ? 1 : 0;
}
