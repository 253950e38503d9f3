// The gradient walker and the three gradient shapes.
#include "imaging/qx_gradient.h"

#include <algorithm>
#include <cmath>

#include "imaging/qx_pixelformat.h"

namespace {

constexpr int64_t kMin = INT32_MIN, kMax = INT32_MAX;

qxWalkerStop stopOf(int32_t pos, uint32_t c)
{
    return {pos, uint16_t(((c >> 16) & 0xFF) * 0x101), uint16_t(((c >> 8) & 0xFF) * 0x101),
            uint16_t((c & 0xFF) * 0x101), 0xFFFF};
}

int32_t clampPos(double v)
{
    if (!(v == v)) return 0;
    return int32_t(std::clamp(v, double(kMin), double(kMax)));
}

void ends(const qxGradientWalker *w, int64_t q, int64_t &l, int64_t &r, const qxWalkerStop *&ls,
          const qxWalkerStop *&rs, bool reflect)
{
    int32_t i = 0;
    while (i < w->stopCount && w->stops[i].position <= q) ++i;
    const qxWalkerStop &first = w->stops[0], &last = w->stops[w->stopCount - 1];
    if (i == 0) ls = &first, l = reflect ? -int64_t(first.position) : kMin;
    else ls = &w->stops[i - 1], l = ls->position;
    if (i == w->stopCount) rs = &last, r = reflect ? 0x20000 - int64_t(last.position) : kMax;
    else rs = &w->stops[i], r = rs->position;
}

} // namespace

extern "C" {

void qxGradientWalkerInit(qxGradientWalker *w, const qxGradient *g)
{
    *w = {};
    w->needReset = 1;
    w->repeat = g->type == QX_GRADIENT_CONICAL ? QX_GRADIENT_REFLECT : QX_GRADIENT_PAD;
    if (g->stopCount > 0) {
        int32_t n = std::min(g->stopCount, 64);
        for (int32_t i = 0; i < n; ++i)
            w->stops[i] = stopOf(clampPos(g->stops[i].position * 65536.0), g->stops[i].colour);
        w->stopCount = n;
    } else if (g->type == QX_GRADIENT_CONICAL) {
        w->stops[0] = stopOf(0, g->endColour);
        w->stops[1] = stopOf(clampPos(g->middle * 65536.0), g->startColour);
        w->stops[2] = stopOf(0x10000, g->endColour);
        w->stopCount = 3;
    } else {
        w->stops[0] = stopOf(0, g->startColour);
        w->stops[1] = stopOf(0x10000, g->endColour);
        w->stopCount = 2;
    }
}

void qxGradientWalkerReset(qxGradientWalker *w, int64_t p)
{
    if (w->stopCount < 1) return;
    int64_t l, r;
    const qxWalkerStop *ls, *rs;
    if (w->repeat == QX_GRADIENT_REFLECT) {
        int64_t q = p & 0xFFFF;
        if (p & 0x10000) q = 0x10000 - q;
        ends(w, q, l, r, ls, rs, true);
        if (p & 0x10000) {
            std::swap(ls, rs);
            int64_t nl = 0x10000 - r, nr = 0x10000 - l;
            l = nl, r = nr;
        }
        l += p - q, r += p - q;
    } else {
        ends(w, p, l, r, ls, rs, false);
    }
    w->left = l, w->right = r;
    w->leftG = ls->green >> 8, w->leftRB = uint32_t((ls->red & 0xFF00) << 8) | (ls->blue >> 8);
    w->rightG = rs->green >> 8, w->rightRB = uint32_t((rs->red & 0xFF00) << 8) | (rs->blue >> 8);
    w->stepper = (r != l && (w->leftG != w->rightG || w->leftRB != w->rightRB))
                     ? ((r - l) / 2 + 0x1000000) / (r - l)
                     : 0;
    w->needReset = 0;
}

static void fetch(qxGradientWalker *w, int64_t p, uint32_t &rb, uint32_t &g)
{
    if (w->needReset || p < w->left || p >= w->right) qxGradientWalkerReset(w, p);
    int64_t d = std::clamp<int64_t>(((p - w->left) * w->stepper) >> 16, 0, 256);
    rb = w->leftRB * uint32_t(256 - d) + w->rightRB * uint32_t(d);
    g = w->leftG * uint32_t(256 - d) + w->rightG * uint32_t(d);
}

uint32_t qxGradientFetch32(qxGradientWalker *w, int64_t p)
{
    uint32_t rb, g;
    fetch(w, p, rb, g);
    return ((rb >> 8) & 0xFF00FF) | (g & 0xFF00);
}

uint32_t qxGradientFetch16(qxGradientWalker *w, int64_t p)
{
    uint32_t rb, g;
    fetch(w, p, rb, g);
    return (((rb >> 8) & 255) >> 3) | ((rb >> 16) & 0xF800) | ((g >> 5) & 0x07E0);
}

void qxDrawGradient(const qxGradientRender *rec)
{
    if (!rec || !rec->gradient || !rec->pixels || rec->width < 1 || rec->height < 1) return;
    if (rec->bytesPerPixel != 2 && rec->bytesPerPixel != 4) return;
    const qxGradient &g = *rec->gradient;
    const double W = rec->width, H = rec->height;
    qxGradientWalker walker;
    qxGradientWalkerInit(&walker, &g);
    auto put = [&](int32_t x, int32_t y, int32_t pos) {
        int64_t i = int64_t(rec->y + y) * rec->pitch + rec->x + x;
        if (rec->bytesPerPixel == 4)
            static_cast<uint32_t *>(rec->pixels)[i] = qxToLayout32(rec->layout, qxGradientFetch32(&walker, pos));
        else
            static_cast<uint16_t *>(rec->pixels)[i] =
                uint16_t(qxToLayout16(rec->layout, qxGradientFetch16(&walker, pos)));
    };
    if (g.type == QX_GRADIENT_RADIAL || g.type == QX_GRADIENT_CONICAL) {
        const double cx = W * g.centreX, cy = H * g.centreY;
        double R = 1.0;
        if (g.type == QX_GRADIENT_RADIAL) {
            double f = g.sizeFactor == 1.0 ? 0.99 : g.sizeFactor;
            int64_t sum = int64_t(rec->width) * rec->width + int64_t(rec->height) * rec->height;
            double r = (std::max(std::fabs(0.5 - g.centreX), std::fabs(0.5 - g.centreY)) + 0.5) *
                       std::sqrt(double(sum)) * (1.0 - f);
            // Kept in 16.16; at least one unit so that no division is by 0.
            int64_t r16 = int64_t(std::clamp(r * 65536.0, 1.0, 9.0e15));
            R = double(r16) / 65536.0;
        }
        for (int32_t y = 0; y < rec->height; ++y)
            for (int32_t x = 0; x < rec->width; ++x) {
                double ex = x + 0.5 - cx, ey = y + 0.5 - cy;
                if (g.type == QX_GRADIENT_RADIAL) {
                    put(x, y, clampPos(65536.0 * std::sqrt(ex * ex + ey * ey) / R));
                } else {
                    double phi = std::fmod(std::atan2(ey, ex) + 2 * M_PI + g.angle * M_PI / 180.0, 2 * M_PI);
                    put(x, y, clampPos((1.0 - phi / (2 * M_PI)) * 65536.0));
                }
            }
        return;
    }
    int32_t a = g.angle % 360;
    if (a < 0) a += 360;
    double px, py;
    switch (a) {
    case 90: px = W, py = 0; break;
    case 0: px = 0, py = -H; break;
    case 180: px = 0, py = H; break;
    case 270: px = -W, py = 0; break;
    default: {
        double t = std::tan(a * M_PI / 180.0);
        double X = a > 180 ? -W : W, Y = (a < 90 || a > 270) ? -H : H;
        double Yp = Y - X * t;
        px = Yp / (-1.0 / t - t);
        py = t * px + Yp;
    }
    }
    double p1x = 0, p1y = 0, p2x = 0, p2y = 0;
    if (px > 0 && py > 0) p1x = 0, p1y = H, p2x = px, p2y = H - py;
    else if (px >= 0 && py <= 0) p2x = px, p2y = -py;
    else if (px <= 0 && py >= 0) p1x = -px, p1y = py;
    else if (px < 0 && py < 0) p1x = W, p1y = 0, p2x = px + W, p2y = -py;
    const double dx = p2x - p1x, dy = p2y - p1y, L = dx * dx + dy * dy;
    for (int32_t y = 0; y < rec->height; ++y)
        for (int32_t x = 0; x < rec->width; ++x)
            put(x, y, L == 0 ? 0 : clampPos(65536.0 * ((x + 0.5 - p1x) * dx + (y + 0.5 - p1y) * dy) / L));
}
}
