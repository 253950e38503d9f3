// The layer engine against a full redraw: random layers with masks, alpha
// channels, transparency, shadows, borders and filters are added, moved, hidden, restacked and removed;
// after each refresh the work bitmap must equal a full Redraw bit for bit,
// so a missed dirty rectangle shows at once. The composite of opaque and
// alpha layers is checked against pixman's OVER.
#include <gtest/gtest.h>
#include <pixman.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_display.h"
#include "layers/qx_layer.h"
#include "layers/qx_layerfilters.h"
#include "layer_scene.h"
#include "objects/qx_output.h"

namespace {

using layertest::H;
using layertest::Pixels;
using layertest::W;

struct Engine : layertest::DisplayScene {
    void SetUp() override
    {
        DisplayScene::SetUp();
        d->layersEnabled = 1;
    }
    void TearDown() override
    {
        qxFreeBGPicLayers(nullptr, d->bgpic, 0, 0);
        DisplayScene::TearDown();
    }

    // A w x h layer at (x, y): kind 0 plain, 1 masked (a disc), 2 alpha.
    qxLayer *add(std::mt19937 &rng, int kind, int32_t x, int32_t y, int32_t w, int32_t h, int32_t position)
    {
        std::vector<uint32_t> px(size_t(w) * h);
        const uint32_t colour = rng() & 0xFFFFFF;
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) {
                const int dx = 2 * i - w, dy = 2 * j - h;
                const bool inside = dx * dx + dy * dy <= w * h;
                uint32_t a = kind == 2 ? uint32_t(255 * i / std::max(1, w - 1)) << 24 : 0xFF000000u;
                px[size_t(j) * w + i] = kind == 1 && !inside ? 0x00FF00FFu : a | (colour ^ uint32_t(i * 7 + j * 13));
            }
        qxBitMap *b = nullptr, *m = nullptr, *a = nullptr;
        const uint32_t key = kind == 1 ? 0xFF00FFu : kind == 2 ? 0xFFFFFFFEu : 0xFFFFFFFFu;
        EXPECT_EQ(qxBitMapFromARGB(px.data(), key, w, h, w, 0, 0, nullptr, &b, kind == 1 ? &m : nullptr, nullptr), 0);
        if (kind == 2) a = qxAlphaFromBuffer(px.data(), uint32_t(w), uint32_t(h), uint32_t(w));
        EXPECT_TRUE(kind != 1 || m);
        EXPECT_TRUE(kind != 2 || a);
        auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
        data->x = x, data->y = y, data->width = w, data->height = h;
        qxLayer *l = nullptr;
        EXPECT_EQ(qxAddLayer(nullptr, QX_TYPE_BRUSH, nullptr, x, y, w, h, nullptr, nullptr, b, m, a, data, position,
                             0, &l),
                  0);
        return l;
    }

    // One of the filters that change colours, blur or move pixels.
    static void randomFilter(std::mt19937 &rng, qxLayer *l)
    {
        const int ids[] = {0, 7, 11, 16, 18};
        const int id = ids[rng() % 5];
        qxFilterEntry &e = l->filters.filter[id];
        e.enabled = 1;
        e.fargs[0] = 2.0f;
        e.iargs[0] = id == 11 ? 3 : int32_t(rng() & 0xFFFFFF);
        e.iargs[1] = int32_t(rng() % 256);
        l->geometric = uint32_t(qxFiltersGeometric(&l->filters));
    }
    static void dropCaches(qxLayer *l)
    {
        qxLayerData *r = l->onscreen;
        qxFreeAlphaBitMap(r->shadowalpha);
        qxFreeAlphaBitMap(r->borderalpha);
        r->shadowalpha = r->borderalpha = nullptr;
    }

    // The work bitmap must equal a full redraw.
    void expectConsistent(const char *step, int i)
    {
        qxBitMap *work = qxDisplayWorkBitmap(d, 0);
        ASSERT_NE(work, nullptr);
        const int w = int(work->width), h = int(work->height); // a scaled display composes at its size
        qxBitMap *full = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
        Redraw(nullptr, d, d->bgpic, full, 0, 0, w, h, QX_RD_NOSPRITES);
        Pixels a(qxBitMapToARGB(work, 0, 0, w, h, 0)), b(qxBitMapToARGB(full, 0, 0, w, h, 0));
        for (int p = 0; p < w * h; ++p)
            if (a.get()[p] != b.get()[p]) {
                ADD_FAILURE() << step << " " << i << ": pixel " << p % w << "," << p / w << " " << std::hex
                              << a.get()[p] << " != " << b.get()[p];
                break;
            }
        qxFreeBitMap(full);
    }

    void randomRun(unsigned seed, int steps)
    {
        std::mt19937 rng(seed);
        qxBGPic *b = d->bgpic;
        qxDisplayWorkBitmap(d, 1);
        for (int i = 0; i < steps; ++i) {
            const int32_t n = qxCountLayers(b);
            const int op = n < 3 ? 0 : int(rng() % 7);
            qxLayer *l = n ? qxGetLayerByIndex(b, 1 + int32_t(rng() % uint32_t(n))) : nullptr;
            switch (op) {
            case 0: {
                qxLayer *added = add(rng, int(rng() % 3), int32_t(rng() % (W + 40)) - 20,
                                     int32_t(rng() % (H + 40)) - 20, 1 + int32_t(rng() % 40), 1 + int32_t(rng() % 40),
                                     int32_t(rng() % uint32_t(n + 3)) - 1);
                if (rng() % 3 == 0) added->transparency = rng() % 256;
                if (rng() % 3 == 0) {
                    added->shadow = 1;
                    added->shadowdir = rng() % 8;
                    added->shadowsize = rng() % 6;
                    added->shadowradius = 1 + rng() % 4;
                    added->shadowsigma = added->shadowradius / 3;
                    added->shadowcolor = (rng() % 256) << 24 | (rng() & 0xFFFFFF);
                }
                if (rng() % 4 == 0) {
                    added->border = 1;
                    added->bordersize = 1 + rng() % 5;
                    added->bordercolor = (rng() % 256) << 24 | (rng() & 0xFFFFFF);
                }
                if (rng() % 3 == 0) randomFilter(rng, added);
                if (added->transparency || added->shadow || added->border || qxHasActiveFilters(&added->filters))
                    qxDrawLayer(nullptr, added, 0);
                break;
            }
            case 6:
                // A filter change shows over the layer's whole area.
                qxFreeLayerXformImages(l);
                dropCaches(l);
                if (qxHasActiveFilters(&l->filters)) l->filters = qxFilterBlock{};
                else randomFilter(rng, l);
                qxDrawLayer(nullptr, l, 0);
                break;
            case 1: qxMoveLayer(nullptr, l, nullptr, int32_t(rng() % 41) - 20, int32_t(rng() % 41) - 20, 0, 3, nullptr); break;
            case 2:
                l->hidden = !l->hidden;
                qxDrawLayer(nullptr, l, 0);
                break;
            case 3:
                if (qxSetLayerZ(b, l, int32_t(rng() % uint32_t(n + 1)))) qxDrawLayer(nullptr, l, 0);
                break;
            case 4: qxRemoveLayerRecord(nullptr, b, l, 0, nullptr); break;
            case 5: qxMoveLayer(nullptr, l, nullptr, 100000 + int32_t(rng() % 21) - 10, int32_t(rng() % H), 0, 0, nullptr); break;
            }
            if (d->targetType == QX_OUT_BGPIC && rng() % 4 == 0) qxRefreshDirtyRects(nullptr);
            if (d->targetType == QX_OUT_DISPLAY) expectConsistent("step", i);
        }
        qxRefreshDirtyRects(nullptr);
        expectConsistent("end", steps);
    }
};

TEST_F(Engine, RefreshAtOnceEqualsFullRedraw)
{
    for (unsigned seed : {1u, 2u, 3u}) randomRun(seed, 300);
}

TEST_F(Engine, CollectedDirtyRectanglesEqualFullRedraw)
{
    // Output to the shown BGPic: changes are collected and refreshed later.
    d->targetType = QX_OUT_BGPIC;
    qxCurrentOutput = d->bgpic;
    qxOutputState *s = qxOutputOf(d, 1);
    s->dirty = static_cast<qxRectI *>(std::calloc(64, sizeof(qxRectI)));
    s->dirtyCapacity = 64; // small, so that it fills and means "everything"
    for (unsigned seed : {4u, 5u}) randomRun(seed, 400);
    qxCurrentOutput = nullptr;
}

TEST_F(Engine, ScaledDisplayRefreshEqualsFullRedraw)
{
    // Layers composed at 1.5 times the script size from their on-screen renditions.
    d->layerScale = 1, d->scaledWidth = W * 3 / 2, d->scaledHeight = H * 3 / 2;
    ASSERT_EQ(qxSyncLayerScale(nullptr, d), 0);
    EXPECT_EQ(d->scaleX, 1.5);
    randomRun(6, 300);
    EXPECT_EQ(qxDisplayWorkBitmap(d, 0)->width, uint32_t(W * 3 / 2));
    for (qxLayer *l = d->bgpic->layers.first; l; l = l->next) {
        EXPECT_NE(l->onscreen, l->base);
        EXPECT_EQ(l->onscreen->left, int32_t(l->base->left * 1.5));
    }
}

TEST(Renditions, AnalyzeXformFindsRotationWithUniformScale)
{
    static double cosines[361], sines[361];
    for (int i = 0; i <= 360; ++i) cosines[i] = std::cos((360 - i) * M_PI / 180), sines[i] = std::sin((360 - i) * M_PI / 180);
    qxLayerCosTable = cosines, qxLayerSinTable = sines;
    const double c = 2 * std::cos(M_PI / 6), s = 2 * std::sin(M_PI / 6);
    qxTransformOptions t{};
    t.m11 = c, t.m12 = s, t.m21 = -s, t.m22 = c;
    qxAnalyzeXform(&t);
    EXPECT_EQ(t.general, 0u);
    EXPECT_NEAR(t.scale1, 2, 1e-9);
    EXPECT_NEAR(t.scale2, 2, 1e-9);
    t = {};
    t.m11 = 0, t.m12 = -3, t.m21 = 3, t.m22 = 0; // an exact quarter turn
    qxAnalyzeXform(&t);
    EXPECT_EQ(t.general, 0u);
    EXPECT_NEAR(t.scale1, 3, 1e-9);
    EXPECT_NEAR(t.scale2, 3, 1e-9);
    t = {};
    t.m11 = 1, t.m12 = 0.5, t.m21 = 0, t.m22 = 1; // shear
    qxAnalyzeXform(&t);
    EXPECT_EQ(t.general, 1u);
    t = {};
    t.m11 = 2, t.m22 = 3, t.general = 7; // axis-aligned: left alone
    qxAnalyzeXform(&t);
    EXPECT_EQ(t.general, 7u);
}

TEST_F(Engine, PositionsNamesAndRectangles)
{
    std::mt19937 rng(9);
    qxBGPic *b = d->bgpic;
    qxLayer *a = add(rng, 0, 0, 0, 4, 4, 1);   // empty list: a single layer
    qxLayer *c = add(rng, 0, 0, 0, 4, 4, 5);   // beyond the count: top
    qxLayer *m = add(rng, 0, 0, 0, 4, 4, 2);   // before the second
    EXPECT_EQ(qxLayerPosition(b, a), 1);
    EXPECT_EQ(qxLayerPosition(b, m), 2);
    EXPECT_EQ(qxLayerPosition(b, c), 3);
    qxObjectStyle style{};
    style.insertpos = 9;
    auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
    ASSERT_EQ(qxAddLayer(nullptr, QX_TYPE_BRUSH, nullptr, 0, 0, 1, 1, nullptr, &style, nullptr, nullptr, nullptr, data,
                         -1, 0, nullptr),
              0);
    EXPECT_EQ(style.insertpos, 4);
    char *name = nullptr;
    ASSERT_EQ(qxAssignLayerName(b, &name, "Ship"), 0);
    a->name = name;
    EXPECT_EQ(qxAssignLayerName(b, &name, "SHIP"), 1161);
    std::snprintf(c->group, sizeof c->group, "fleet");
    EXPECT_EQ(qxAssignLayerName(b, &name, "Fleet"), 1161);
    EXPECT_EQ(qxAssignLayerName(b, &name, std::string(256, 'x').c_str()), 1373);
    EXPECT_EQ(qxFindLayerByName(b, "sHIP"), 1);
    EXPECT_EQ(qxSetLayerZ(b, a, 0), 1);
    EXPECT_EQ(qxLayerPosition(b, a), 4);
    EXPECT_EQ(qxSetLayerZ(b, a, 4), 0);

    // Near the 32-bit limits nothing wraps: moves saturate and the rectangles stay ordered.
    qxRefreshDisplay(nullptr, 0, 0, W, H, 0); // the restacking above was not drawn
    qxLayer *far = add(rng, 2, INT32_MAX - 10, INT32_MIN + 5, 30, 30, -1);
    qxMoveLayer(nullptr, far, nullptr, INT32_MAX, INT32_MIN, 0, 3, nullptr);
    EXPECT_EQ(far->base->x, INT32_MAX);
    EXPECT_EQ(far->base->y, INT32_MIN);
    far->shadow = 1;
    qxMoveLayer(nullptr, far, nullptr, 5, 5, 0, 0, nullptr);
    expectConsistent("far", 0);

    qxRectList list{static_cast<qxLayerRect *>(std::calloc(2, sizeof(qxLayerRect))), 0, 2};
    qxRectListAdd(&list, 0, 0, 10, 10, 0);
    qxRectListAdd(&list, 10, 0, 10, 10, 0);
    qxRectListAdd(&list, 30, 0, 1, 1, 0); // full, no growth: dropped
    EXPECT_EQ(list.count, 2);
    qxMergeRectList(&list);
    EXPECT_EQ(list.entries[0].x2, 19);
    EXPECT_EQ(list.entries[1].x1, QX_RECT_MERGED);
    qxRectListAdd(&list, 11, 20, 1, 1, 1); // grows
    qxRectListAdd(&list, INT32_MAX - 1, INT32_MAX - 1, INT32_MAX, INT32_MAX, 1);
    EXPECT_EQ(list.capacity, 1026);
    EXPECT_EQ(list.entries[3].x2, INT32_MAX);
    std::free(list.entries);
}

TEST_F(Engine, CompositeMatchesPixmanOver)
{
    std::mt19937 rng(7);
    std::vector<qxLayer *> layers;
    for (int i = 0; i < 20; ++i)
        layers.push_back(add(rng, i % 2 ? 2 : 0, int32_t(rng() % W) - 10, int32_t(rng() % H) - 10,
                             4 + int32_t(rng() % 30), 4 + int32_t(rng() % 30), -1));
    qxBitMap *ours = qxAllocBitMap(W, H, 0, nullptr);
    Redraw(nullptr, d, d->bgpic, ours, 0, 0, W, H, QX_RD_NOSPRITES);
    Pixels got(qxBitMapToARGB(ours, 0, 0, W, H, 0));
    qxFreeBitMap(ours);

    std::vector<uint32_t> want(size_t(W) * H, 0xFF204060u);
    pixman_image_t *dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, W, H, want.data(), W * 4);
    for (qxLayer *l : layers) {
        const qxLayerData *r = l->base;
        Pixels px(qxBitMapToARGBMasked(r->bitmap, 0, 0, r->width, r->height, nullptr, r->alpha, 0xFFFFFFFFu, 0, 0));
        ASSERT_TRUE(px);
        pixman_image_t *src = pixman_image_create_bits(r->alpha ? PIXMAN_a8r8g8b8 : PIXMAN_x8r8g8b8, r->width,
                                                       r->height, px.get(), r->width * 4);
        // Our pixels are straight alpha; pixman wants them premultiplied.
        if (r->alpha)
            for (int p = 0; p < r->width * r->height; ++p) {
                uint32_t v = px.get()[p], a = v >> 24;
                auto mul = [&](int s) { return (((v >> s) & 255) * a + 127) / 255 << s; };
                px.get()[p] = (a << 24) | mul(16) | mul(8) | mul(0);
            }
        pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, 0, 0, 0, r->left, r->top, r->width,
                                 r->height);
        pixman_image_unref(src);
    }
    pixman_image_unref(dst);
    int worst = 0;
    for (int p = 0; p < W * H; ++p)
        for (int s : {0, 8, 16})
            worst = std::max(worst, std::abs(int((got.get()[p] >> s) & 255) - int((want[p] >> s) & 255)));
    EXPECT_LE(worst, 3); // the blend kernel rounds unlike pixman
}

TEST_F(Engine, TransitionFadeScalesTheOpacity)
{
    std::mt19937 rng(3);
    qxLayer *l = add(rng, 2, 5, 5, 30, 20, -1);
    auto draw = [&] {
        qxBitMap *bm = qxAllocBitMap(W, H, 0, nullptr);
        Redraw(nullptr, d, d->bgpic, bm, 0, 0, W, H, QX_RD_NOSPRITES);
        Pixels p(qxBitMapToARGB(bm, 0, 0, W, H, 0));
        qxFreeBitMap(bm);
        return p;
    };
    l->transparency = 55, l->imagefade = 129; // opacity 200, faded to 128/255 of it
    Pixels faded = draw();
    l->transparency = 255 - 128 * 200 / 255, l->imagefade = 0;
    Pixels same = draw();
    EXPECT_EQ(std::memcmp(faded.get(), same.get(), size_t(W) * H * 4), 0);
}

} // namespace

namespace {

// A plane of random sparse coverage: a mask (1 bit) or an alpha channel, and
// the same coverage as 8-bit values for pixman.
struct Plane {
    qxBitMap *plane = nullptr;
    bool isMask = false;
    std::vector<uint8_t> a8; // row length rounded up to 4 bytes
    int stride = 0;
};

Plane randomPlane(std::mt19937 &rng, int w, int h, bool mask, unsigned density)
{
    Plane p;
    p.isMask = mask;
    p.stride = (w + 3) & ~3;
    p.a8.assign(size_t(p.stride) * h, 0);
    qxBitMap *owner = mask ? qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr) : nullptr;
    p.plane = mask ? qxAllocMaskBitMap(owner, uint32_t(w), uint32_t(h), 1, nullptr, 0)
                   : qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 1, nullptr, 0);
    qxFreeBitMap(owner);
    const qxPlane q = qxPlaneOf(p.plane);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (rng() % 1000 >= density) continue;
            const uint8_t v = uint8_t(1 + rng() % 255);
            p.a8[size_t(y) * p.stride + x] = mask ? 255 : v;
            if (mask) q.bytes[size_t(y) * q.bytesPerRow + x / 8] |= uint8_t(0x80 >> (x & 7));
            else q.bytes[size_t(y) * q.bytesPerRow + x] = v;
        }
    return p;
}

void freePlane(Plane &p)
{
    if (p.isMask) qxFreeMaskBitMap(p.plane);
    else qxFreeAlphaBitMap(p.plane);
}

TEST(Collision, PixelsMatchPixmanIn)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        const int w1 = 1 + int(rng() % 40), h1 = 1 + int(rng() % 40), w2 = 1 + int(rng() % 40), h2 = 1 + int(rng() % 40);
        const int x1 = int(rng() % 40), y1 = int(rng() % 40), x2 = int(rng() % 40), y2 = int(rng() % 40);
        const unsigned density = 5 + rng() % 60;
        Plane a = randomPlane(rng, w1, h1, rng() % 2, density), b = randomPlane(rng, w2, h2, rng() % 2, density);
        // pixman: b's coverage IN a's over a's rectangle; any non-zero pixel collides.
        std::vector<uint8_t> dst(a.a8);
        pixman_image_t *pd = pixman_image_create_bits(PIXMAN_a8, w1, h1, reinterpret_cast<uint32_t *>(dst.data()), a.stride);
        pixman_image_t *ps = pixman_image_create_bits(PIXMAN_a8, w2, h2, reinterpret_cast<uint32_t *>(b.a8.data()), b.stride);
        // Outside b everything is clear: clear dst first where b does not reach.
        std::vector<uint8_t> cover(size_t(a.stride) * h1, 0);
        for (int y = 0; y < h1; ++y)
            for (int x = 0; x < w1; ++x) {
                const int bx = x1 + x - x2, by = y1 + y - y2;
                if (bx >= 0 && by >= 0 && bx < w2 && by < h2) cover[size_t(y) * a.stride + x] = 255;
            }
        pixman_image_t *pc = pixman_image_create_bits(PIXMAN_a8, w1, h1, reinterpret_cast<uint32_t *>(cover.data()), a.stride);
        pixman_image_composite32(PIXMAN_OP_IN, pc, nullptr, pd, 0, 0, 0, 0, 0, 0, w1, h1);
        pixman_image_composite32(PIXMAN_OP_IN, ps, nullptr, pd, x1 - x2, y1 - y2, 0, 0, 0, 0, w1, h1);
        bool want = false;
        for (int y = 0; y < h1 && !want; ++y)
            for (int x = 0; x < w1; ++x) want |= dst[size_t(y) * a.stride + x] != 0;
        const int got = qxCollidePixels(x1, y1, w1, h1, a.isMask ? a.plane : nullptr, a.isMask ? nullptr : a.plane, 0, 0,
                                        x2, y2, w2, h2, b.isMask ? b.plane : nullptr, b.isMask ? nullptr : b.plane, 0, 0,
                                        nullptr, nullptr);
        EXPECT_EQ(got, want ? 1 : 0) << "round " << round;
        pixman_image_unref(pd);
        pixman_image_unref(ps);
        pixman_image_unref(pc);
        freePlane(a);
        freePlane(b);
    }
    // Boxes: touching edges do not collide, one pixel of overlap does.
    EXPECT_EQ(qxCollidePixels(0, 0, 10, 10, nullptr, nullptr, 0, 0, 10, 0, 10, 10, nullptr, nullptr, 0, 0, nullptr, nullptr), 0);
    EXPECT_EQ(qxCollidePixels(0, 0, 10, 10, nullptr, nullptr, 0, 0, 9, 0, 10, 10, nullptr, nullptr, 0, 0, nullptr, nullptr), 1);
}

TEST(Collision, ImageWithMaskAndAlphaIsSolidOnlyWhereBothAre)
{
    // Only the mask is set at (0, 0), only the alpha at (1, 0): neither is solid.
    qxBitMap *owner = qxAllocBitMap(2, 1, 0, nullptr);
    qxBitMap *mask = qxAllocMaskBitMap(owner, 2, 1, 1, nullptr, 0), *alpha = qxAllocAlphaBitMap(2, 1, 1, nullptr, 0);
    qxPlaneOf(mask).bytes[0] = 0x80;
    qxPlaneOf(alpha).bytes[1] = 200;
    EXPECT_EQ(qxCollidePixels(0, 0, 2, 1, mask, alpha, 0, 0, 0, 0, 2, 1, nullptr, nullptr, 0, 0, nullptr, nullptr), 0);
    qxPlaneOf(alpha).bytes[0] = 1;
    EXPECT_EQ(qxCollidePixels(0, 0, 2, 1, mask, alpha, 0, 0, 0, 0, 2, 1, nullptr, nullptr, 0, 0, nullptr, nullptr), 1);
    qxFreeMaskBitMap(mask);
    qxFreeAlphaBitMap(alpha);
    qxFreeBitMap(owner);
}

} // namespace

// Filters run from priority 255 down; equal priorities in filter order.
TEST(LayerFilters, RunInPriorityOrder)
{
    auto run = [](int tintPriority, int invertPriority) {
        qxBitMap *b = qxAllocBitMap(4, 4, 0, nullptr);
        qxFillBitMapColour(b, 0xFF0000);
        qxFilterBlock block{};
        block.filter[QX_FILTER_TINT] = {1, uint8_t(tintPriority), {0x0000FF, 255}, {}};
        block.filter[7] = {1, uint8_t(invertPriority), {}, {}};
        EXPECT_EQ(qxApplyFilters(&block, b, nullptr, nullptr, 4, 4, 0), 0);
        Pixels p(qxBitMapToARGB(b, 0, 0, 4, 4, 0));
        const uint32_t colour = p.get()[5] & 0xFFFFFF;
        qxFreeBitMap(b);
        return colour;
    };
    EXPECT_EQ(run(5, 200), 0x0000FFu); // inverted, then tinted blue
    EXPECT_EQ(run(200, 5), 0xFFFF00u); // tinted blue, then inverted
    EXPECT_EQ(run(9, 9), 0x0000FFu);   // invert comes before tint
    qxFilterBlock geometric{};
    geometric.filter[7].enabled = 1;
    qxBitMap *b = qxAllocBitMap(2, 1, 0, nullptr);
    qxFillBitMapColour(b, 0x102030);
    EXPECT_EQ(qxApplyFilters(&geometric, b, nullptr, nullptr, 2, 1, 1), 0); // invert is no geometric filter
    Pixels p(qxBitMapToARGB(b, 0, 0, 2, 1, 0));
    EXPECT_EQ(p.get()[0] & 0xFFFFFF, 0x102030u);
    qxFreeBitMap(b);
}

// Any argument a script can give leaves every filter safe and quick.
TEST(LayerFilters, ExtremeArgumentsAreSafe)
{
    const float floats[] = {0.0f, -1.0f, 1e30f, -1e30f, std::numeric_limits<float>::quiet_NaN()};
    const int32_t ints[] = {0, -1, INT32_MAX, INT32_MIN};
    for (int id = 0; id < int(QX_FILTER_COUNT); ++id)
        for (int k = 0; k < 5; ++k) {
            qxBitMap *b = qxAllocBitMap(9, 7, 0, nullptr);
            qxBitMap *a = qxAllocAlphaBitMap(9, 7, 1, nullptr, 0);
            qxFillBitMapColour(b, 0x336699);
            qxFilterBlock block{};
            qxFilterEntry &e = block.filter[id];
            e.enabled = 1;
            for (int i = 0; i < 4; ++i) e.iargs[i] = ints[(k + i) % 4], e.fargs[i] = floats[(k + i) % 5];
            const int r = qxApplyFilters(&block, b, nullptr, a, 9, 7, 0);
            EXPECT_TRUE(r == 0 || r == 1055) << qxFilterName(id) << " " << k << ": " << r;
            qxFreeAlphaBitMap(a);
            qxFreeBitMap(b);
        }
}
