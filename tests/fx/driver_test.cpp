// The request helpers and the driver on a display record of the test's own,
// with the object and BGPic back-ends played by hooks written here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "display/qx_asyncdraw.h"
#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "fx/qx_fxhooks.h"
#include "fx/qx_fxrenderers.h"
#include "layers/qx_layer.h"
#include "layers/qx_move.h"
#include "fxharness.h"
#include "objects/qx_output.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_upcalls.h"

namespace {

TEST(FxRequest, StepSizesFrameCountsRandomAndReverse)
{
    struct Step {
        int32_t speed, total, want;
    };
    for (const Step &c : {Step{-1, 100, 10}, Step{-2, 100, 20}, Step{-3, 100, 5}, Step{-1, 5, 1}, Step{7, 3, 7},
                          Step{0, 100, 1}, Step{-4, 100, 1}, Step{INT32_MIN, 100, 1}, Step{INT32_MAX, 1, INT32_MAX}})
        EXPECT_EQ(qxFXStepSize(c.speed, c.total, 10, 5, 20), c.want) << c.speed << " " << c.total;
    EXPECT_EQ(qxFXFrameCount(100, 10, 1), 10);
    EXPECT_EQ(qxFXFrameCount(101, 10, 1), 11);
    EXPECT_EQ(qxFXFrameCount(100, 10, 0), 11);
    EXPECT_EQ(qxFXFrameCount(0, 10, 0), 1);
    EXPECT_EQ(qxFXFrameCount(-5, 3, 1), 1);
    EXPECT_EQ(qxFXFrameCount(INT32_MAX, 1, 0), INT32_MAX);
    srand48(3);
    std::vector<int> seen(141);
    for (int i = 0; i < 20000; i++) {
        const int32_t any = qxFXRandomEffect(0), restricted = qxFXRandomEffect(1);
        ASSERT_TRUE(any >= 0 && any < 140 && any != 113) << any;
        ASSERT_FALSE(qxFXIsLayerOnly(restricted)) << restricted;
        seen[size_t(any)]++;
    }
    for (int id = 0; id < 140; id++) EXPECT_EQ(seen[size_t(id)] > 0, id != 113) << id;
    const std::pair<int32_t, int32_t> pairs[] = {{24, 25}, {26, 27}, {30, 31}, {32, 33}, {38, 88}, {46, 96}};
    for (auto [a, b] : pairs) {
        EXPECT_EQ(qxFXReverseEffect(a), b);
        EXPECT_EQ(qxFXReverseEffect(b), a);
    }
    EXPECT_EQ(qxFXReverseEffect(82), 82);
    EXPECT_EQ(qxFXFindEffect(-1), nullptr);
    EXPECT_EQ(qxFXFindEffect(113), nullptr);
    EXPECT_EQ(qxFXFindEffect(140), nullptr);
}

// A display of 80x60 whose work bitmap stands for the window.
struct Driver : ::testing::Test {
    qxDisplay display{};
    qxDisplay *savedDisplay = nullptr, *savedList = nullptr;
    qxBitMapDisplayHooks savedHooks{};
    qxFXHooks savedFx{};
    qxBGPic *bgpic = nullptr;
    static inline qxBitMap *work = nullptr, *brush = nullptr, *brushMask = nullptr;
    static inline uint32_t inUse = 0;
    static inline std::vector<int> switchOps;

    static int view(qxBitMap *, void *, qxSafeBltView *v)
    {
        *v = {};
        v->display = qxCurrentDisplay;
        v->outputType = 21;
        v->work1 = work;
        v->alphaIntensity = 0xFFFFFFFFu;
        return qxCurrentDisplay != nullptr;
    }
    static int source(qxTransitionFX *fx)
    {
        fx->newImage = brush, fx->newMask = brushMask;
        fx->width = 30, fx->height = 20;
        fx->inUse = &inUse;
        ++inUse;
        return 0;
    }
    static int bgpicSwitch(qxTransitionFX *fx, int op)
    {
        switchOps.push_back(op);
        if (op == 0) {
            fx->newImage = fxtest::noiseBitMap(80, 60, 3), fx->ownsNewImage = 1;
            fx->width = 80, fx->height = 60;
        }
        return 0;
    }
    void SetUp() override
    {
        savedDisplay = qxCurrentDisplay, savedList = qxDisplays;
        savedHooks = qxBitMapDisplay, savedFx = qxFXHook;
        qxObjectRef ref{0, QX_NEW_AUTOMATIC};
        ASSERT_EQ(qxCreateBGPicFromBitmap(&ref, 80, 60, 0x102030, &bgpic), 0);
        display.targetType = 21;
        display.bgpic = bgpic;
        qxDisplays = qxCurrentDisplay = &display;
        work = fxtest::noiseBitMap(80, 60, 1);
        brush = fxtest::noiseBitMap(30, 20, 2);
        brushMask = qxAllocMaskBitMap(brush, 30, 20, 1, nullptr, 0);
        qxMaskRowOp(brushMask, 0, 0, 15, 20, 0);
        qxBitMapDisplay.currentView = view;
        qxFXHook.objectSource = source;
        qxFXHook.bgpicSwitch = bgpicSwitch;
        switchOps.clear();
        inUse = 0;
    }
    void TearDown() override
    {
        qxCurrentDisplay = savedDisplay, qxDisplays = savedList;
        qxBitMapDisplay = savedHooks, qxFXHook = savedFx;
        qxFreeBitMap(work);
        qxFreeBitMap(brush);
        qxFreeMaskBitMap(brushMask);
        qxFreeBGPicRecord(nullptr, bgpic);
    }
    static qxTransitionFX request(uint32_t mode, int32_t effect)
    {
        qxTransitionFX fx{};
        fx.mode = mode, fx.effect = effect, fx.speed = 20, fx.parameter = -1;
        fx.object = {1, nullptr};
        fx.x = 55, fx.y = 50; // partly off the 80x60 picture
        return fx;
    }
};

TEST_F(Driver, BrushEndsOnTheFlattenedPictureAndReleasesItsObject)
{
    // The expected window: the left half of the brush over what was there.
    qxBitMap *exp = qxAllocBitMap(80, 60, 0, nullptr);
    qxBltBitMapDirect(work, 0, 0, exp, 0, 0, 80, 60);
    qxFXBlitClipped(brush, 0, 0, exp, 55, 50, 15, 10, 30, 20, 80, 60);
    auto expected = fxtest::readPixels(exp);
    qxFreeBitMap(exp);
    for (int32_t effect : {28, 82, 107, 78}) { // 78 needs a layer: runs as effect 0
        qxTransitionFX fx = request(QX_FXMODE_BRUSH, effect);
        ASSERT_EQ(qxFXRun(&fx), 0) << effect;
        EXPECT_TRUE(fxtest::readPixels(work) == expected) << effect;
        EXPECT_EQ(inUse, 0u);
    }
}

TEST_F(Driver, RefusesUnknownEffectsAndSelectTargets)
{
    for (int32_t effect : {-1, -5, 141, 1000}) {
        qxTransitionFX fx = request(QX_FXMODE_BRUSH, effect);
        EXPECT_EQ(qxFXRun(&fx), ERR_WRONGUSAGE) << effect;
        EXPECT_EQ(inUse, 0u);
    }
    const std::pair<uint32_t, int> targets[] = {{1, ERR_SELECTBG}, {3, ERR_SELECTBRUSH}, {28, ERR_SELECTMASK},
                                                {30, ERR_SELECTALPHACHANNEL}};
    for (auto [type, code] : targets) {
        display.targetType = type;
        qxTransitionFX fx = request(QX_FXMODE_BRUSH, 0);
        EXPECT_EQ(qxFXRun(&fx), code);
    }
    display.targetType = 40;
    display.refreshMode = 1;
    qxTransitionFX fx = request(QX_FXMODE_BRUSH, 0);
    EXPECT_EQ(qxFXRun(&fx), ERR_BEGINREFRESH);
}

TEST_F(Driver, AFailedBGPicTransitionPutsTheOldBGPicBack)
{
    qxTransitionFX bad = request(QX_FXMODE_BGPIC, 141);
    bad.object = {0, bgpic->automatic};
    bad.x = bad.y = 0;
    EXPECT_EQ(qxFXRun(&bad), ERR_WRONGUSAGE);
    EXPECT_EQ(switchOps, (std::vector<int>{0, 2}));
    switchOps.clear();
    qxTransitionFX good = bad;
    good.effect = 28;
    EXPECT_EQ(qxFXRun(&good), 0);
    EXPECT_EQ(switchOps, (std::vector<int>{0, 1}));
    qxTransitionFX missing = good;
    missing.object = {77, nullptr};
    EXPECT_EQ(qxFXRun(&missing), ERR_FINDBGPIC);
}

} // namespace

TEST(FxLayers, CountOverlapsSkipsHiddenAndApartLayersAndSnapshotsTheRest)
{
    qxLayerData data[4]{};
    qxLayer layers[4]{};
    const int32_t rects[4][4] = {{0, 0, 20, 20}, {5, 5, 20, 20}, {60, 60, 5, 5}, {10, 10, 20, 20}};
    for (int i = 0; i < 4; i++) {
        data[i].left = rects[i][0], data[i].top = rects[i][1];
        data[i].dwidth = rects[i][2], data[i].dheight = rects[i][3];
        data[i].bitmap = reinterpret_cast<qxBitMap *>(uintptr_t(0x100 * (i + 1)));
        layers[i].onscreen = &data[i], layers[i].type = QX_TYPE_BRUSH;
        if (i < 3) layers[i].next = &layers[i + 1];
    }
    layers[1].hidden = 1;
    qxFXOverlap out[4]{};
    EXPECT_EQ(qxFXCountOverlaps(&layers[0], &layers[3], nullptr), 1);
    ASSERT_EQ(qxFXCountOverlaps(&layers[0], &layers[3], out), 1);
    EXPECT_EQ(out[0].layer, &layers[0]);
    EXPECT_EQ(out[0].width, 20);
    EXPECT_EQ(out[0].data[0], data[0].bitmap);
    layers[1].hidden = 0;
    EXPECT_EQ(qxFXCountOverlaps(&layers[0], &layers[3], nullptr), 2);
}

TEST(FxScroll, FollowsTheRecordThatReplacesItsLayer)
{
    qxLayer fresh{}, old{}, other{};
    old.previous = &fresh;
    qxMoveState move{};
    move.layer = &old;
    qxTransitionFX fx{};
    fx.isScroll = 1, fx.layer = &old, fx.data = &move;
    EXPECT_EQ(qxFXScrollFollowLayer(&fx, &other), 0);
    EXPECT_EQ(qxFXScrollFollowLayer(&fx, &old), 1);
    EXPECT_EQ(fx.layer, &fresh);
    EXPECT_EQ(move.layer, &fresh);
}

namespace {
qxBitMap *gLayerImage, *gLayerMask, *gLayerAlpha;
int fakeLayerImages(qxLayer *, qxBitMap **image, qxBitMap **mask, qxBitMap **alpha, int32_t *w, int32_t *h)
{
    *image = gLayerImage, *mask = gLayerMask, *alpha = gLayerAlpha;
    *w = int32_t(gLayerImage->width), *h = int32_t(gLayerImage->height);
    return 0;
}
} // namespace

TEST(FxCrossfade, AdapterFastPathHoldsUntilALayerAboveMovesOntoItAndSkipsAsyncDrawnLayersBelow)
{
    const qxPlatformUpcalls savedUp = qxUpcalls;
    const auto savedHook = qxFXHook;
    qxUpcalls.displayAdapterActive = [] { return 1; };
    qxUpcalls.adapterHasCap = [](uint32_t bits) { return bits & 2u; };
    qxFXHook.layerImages = fakeLayerImages;
    gLayerImage = qxAllocBitMap(32, 24, 0, nullptr);
    gLayerAlpha = qxAllocAlphaBitMap(32, 24, 1, nullptr, 0);
    for (int mode : {0, 1, 2}) { // alone, a layer above moves onto it, an async-drawn layer below
        const bool moveAbove = mode == 1;
        qxLayerData data[3]{};
        qxLayer layers[3]{};
        data[0] = {}, data[0].dwidth = 32, data[0].dheight = 24;
        data[1].left = 100, data[1].dwidth = 8, data[1].dheight = 8;
        data[2].left = 4, data[2].dwidth = 8, data[2].dheight = 8;
        for (int i = 0; i < 3; i++) {
            layers[i].onscreen = &data[i], layers[i].type = QX_TYPE_BRUSH;
            layers[i].transform.m11 = layers[i].transform.m22 = 1.0;
        }
        layers[0].next = &layers[1], layers[1].previous = &layers[0];
        qxAsyncDraw *below = nullptr;
        if (mode == 2) {
            layers[2].next = &layers[0], layers[0].previous = &layers[2];
            auto drawsBelow = [](int op, void *arg, void *user) -> intptr_t {
                if (op == 6) *static_cast<void **>(arg) = user;
                return 0;
            };
            ASSERT_EQ(qxAddAsyncDraw(0, nullptr, nullptr, nullptr, nullptr, drawsBelow, &layers[2], &below), 0);
        }
        fxtest::FxRun r(115, 32, 24, 120, fxtest::Planes::Opaque, false);
        r.fx.realtime = 1, r.fx.layer = &layers[0];
        std::vector<uint32_t> painted;
        ASSERT_TRUE(r.play(10, [&](int32_t n) {
            if (n == 1) painted = fxtest::readPixels(r.target);
            if (moveAbove) data[1].left = 10; // now it covers part of the fading layer
        }));
        // On the fast path the final picture goes to the adapter at once.
        EXPECT_EQ(painted == r.expected, mode != 2);
        const uint32_t flags[] = {4u, 3u, 0u}; // 0: the fast path never began
        EXPECT_EQ(r.fx.blitFlags, flags[mode]);
        if (below) qxRemoveAsyncDraw(below, 0);
    }
    qxFreeBitMap(gLayerImage), qxFreeAlphaBitMap(gLayerAlpha);
    qxUpcalls = savedUp, qxFXHook = savedHook;
}

namespace {
int gShows;
uint32_t gShowFlags;
void countShows(qxTransitionFX *, qxBitMap *, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                qxBitMap *, qxBitMap *, uint32_t flags)
{
    ++gShows;
    gShowFlags |= flags;
}
} // namespace

// Real-time push covers the whole layer with both pictures every frame:
// the layer is shown once at the frame end, not piece by piece; a seek of
// push, slide or cards only draws (its caller shows the layer after it).
TEST(FxMotion, RealTimePushShowsTheLayerOncePerFrameAndSeeksShowNothing)
{
    const auto savedHook = qxFXHook;
    qxFXHook.layerImages = fakeLayerImages;
    qxFXHook.showRect = countShows;
    gLayerImage = qxAllocBitMap(32, 24, 0, nullptr);
    gLayerAlpha = nullptr;
    qxLayerData data{};
    data.dwidth = 32, data.dheight = 24;
    qxLayer layer{};
    layer.onscreen = &data, layer.type = QX_TYPE_BRUSH;
    for (int32_t effect : {78, 80}) {
        fxtest::FxRun r(effect, 32, 24, 4, fxtest::Planes::Opaque, false);
        r.fx.realtime = 1, r.fx.layer = &layer, r.fx.target = nullptr;
        gShows = 0, gShowFlags = 0;
        int frames = 0;
        ASSERT_TRUE(r.play(100, [&](int32_t) { frames++; }));
        EXPECT_EQ(gShows, frames) << effect;
        EXPECT_EQ(gShowFlags, 32u) << effect;
    }
    for (int32_t effect : {78, 101, 111}) { // push, slide, cards
        fxtest::FxRun r(effect, 32, 24, 4, fxtest::Planes::Opaque, false);
        r.fx.realtime = 1, r.fx.layer = &layer, r.fx.target = nullptr;
        ASSERT_TRUE(r.play(1, [](int32_t) {}) || r.error == 0);
        gShows = 0;
        r.fx.phase = 2, r.fx.frame = 2;
        ASSERT_EQ(r.fx.step(&r.fx, nullptr), 0);
        EXPECT_EQ(gShows, 0) << effect;
        EXPECT_EQ(r.fx.drawing, 0u) << effect;
    }
    qxFreeBitMap(gLayerImage);
    qxFXHook = savedHook;
}

namespace {
// A real-time async run on a layer standing at (x, y): the layer's planes
// prepared as the driver prepares them (a hide from the whole picture with
// its holes, a show from nothing), and what the layer shows over a backdrop.
struct LayerRun {
    fxtest::FxRun r;
    qxBitMap *backdrop = fxtest::noiseBitMap(24, 16, 9);
    qxLayerData data{};
    qxLayer layer{};
    LayerRun(int32_t effect, fxtest::Planes planes, int32_t x, int32_t y, bool hide, int32_t speed = 3)
        : r(effect, 24, 16, speed, fxtest::Planes::Opaque, hide)
    {
        const int32_t w = 24, h = 16;
        data.left = x, data.top = y, data.dwidth = w, data.dheight = h;
        layer.onscreen = &data, layer.type = QX_TYPE_BRUSH;
        layer.transform.m11 = layer.transform.m22 = 1.0;
        r.fx.realtime = 1, r.fx.async = 1, r.fx.layer = &layer, r.fx.target = nullptr;
        r.fx.x = x, r.fx.y = y;
        r.fx.mode = r.fx.reverse ? QX_FXMODE_HIDELAYER : QX_FXMODE_SHOWLAYER;
        r.fx.parameter = 0x0000FF;
        // Real-time work grabs the old picture only for these.
        if (!qxFXIsLayerOnly(r.fx.effect) && r.fx.effect != 115) r.fx.oldImage = nullptr;
        if (planes == fxtest::Planes::Masked) {
            r.mask = qxAllocMaskBitMap(nullptr, w, h, 1, nullptr, 0);
            for (int32_t j = 0; j < h; j++) qxMaskRowOp(r.mask, (j * 5) % 7, j, 12, 1, 0);
        } else if (planes == fxtest::Planes::Alpha) {
            r.alpha = qxAllocAlphaBitMap(w, h, 1, nullptr, 0);
            for (int32_t j = 0; j < h; j++)
                for (int32_t i = 0; i < w; i++) qxFillBitMapRect(r.alpha, i, j, 1, 1, uint32_t((i * 29 + j * 13) & 255));
        }
        r.fx.newMask = r.mask, r.fx.newAlpha = r.alpha;
        gLayerImage = qxAllocBitMap(w, h, 0, nullptr);
        gLayerMask = gLayerAlpha = nullptr;
        if (qxFXIsFadeFamily(r.fx.effect) || r.alpha) gLayerAlpha = qxAllocAlphaBitMap(w, h, 1, nullptr, 0);
        else if (!qxFXIsLayerOnly(r.fx.effect)) gLayerMask = qxAllocMaskBitMap(nullptr, w, h, 1, nullptr, 0);
        if (r.fx.reverse) {
            qxBltBitMapDirect(r.newImage, 0, 0, gLayerImage, 0, 0, w, h);
            qxFXFillAlpha(gLayerAlpha, r.mask, r.alpha, w, h);
            if (gLayerMask && r.mask) qxMaskCopyOp(r.mask, 0, 0, gLayerMask, 0, 0, w, h, 0, nullptr, 0);
            else if (gLayerMask) qxMaskRowOp(gLayerMask, 0, 0, w, h, 0);
        }
        qxFXAllocWorkPlanes(&r.fx);
    }
    ~LayerRun()
    {
        qxFreeMaskBitMap(r.fx.workMask);
        qxFreeAlphaBitMap(r.fx.workAlpha);
        qxFreeBitMap(backdrop);
        qxFreeBitMap(gLayerImage);
        qxFreeMaskBitMap(gLayerMask);
        qxFreeAlphaBitMap(gLayerAlpha);
        gLayerImage = gLayerMask = gLayerAlpha = nullptr;
    }
    std::vector<uint32_t> shown() const
    {
        qxBitMap *b = qxAllocBitMap(24, 16, 0, nullptr);
        qxBltBitMapDirect(backdrop, 0, 0, b, 0, 0, 24, 16);
        if (gLayerMask) qxBltBitMapMasked(gLayerImage, 0, 0, b, 0, 0, 24, 16, gLayerMask);
        else if (gLayerAlpha) qxBltBitMapThroughAlpha(gLayerImage, 0, 0, b, 0, 0, 24, 16, gLayerAlpha);
        else qxBltBitMapDirect(gLayerImage, 0, 0, b, 0, 0, 24, 16);
        std::vector<uint32_t> px = fxtest::readPixels(b);
        qxFreeBitMap(b);
        return px;
    }
};
} // namespace

// A seek draws what playing shows, for every effect: hides and shows on a
// masked and on an alpha layer (whose holes stay holes), shows of the
// layer-only effects; all on a layer away from 0, 0, whose frames equal
// those of a layer at 0, 0 (the colour fills land in the layer's own
// picture). The ROLLs and WALLPAPERs also hide an opaque layer, and run
// fast too, where their band, cut off at the top, moves by several lines a
// frame: every frame is sought backwards from the last, then forwards.
TEST(FxSeek, DrawsWhatPlayingShowsOnMaskedAndAlphaLayersAwayFromTheOrigin)
{
    const auto savedHook = qxFXHook;
    qxFXHook = {};
    qxFXHook.layerImages = fakeLayerImages;
    for (int32_t effect = 0; effect < 140; effect++) {
        if (!qxFXFindEffect(effect) || (effect >= 47 && effect <= 54)) continue;
        const bool layerOnly = qxFXIsLayerOnly(effect), roll = effect >= 84 && effect <= 87;
        for (fxtest::Planes planes : {fxtest::Planes::Masked, fxtest::Planes::Alpha, fxtest::Planes::Opaque})
            for (bool hide : {true, false})
                for (int32_t speed : {3, -2}) {
                    const bool plain = speed == 3 && planes != fxtest::Planes::Opaque;
                    if (layerOnly ? planes != fxtest::Planes::Masked || hide || speed != 3
                                  : !plain && !(roll && hide))
                        continue;
                    const fxtest::Planes p = layerOnly ? fxtest::Planes::Opaque : planes;
                    std::vector<std::vector<uint32_t>> played, atOrigin;
                    {
                        LayerRun o(effect, p, 0, 0, hide, speed);
                        o.r.play(1000, [&](int32_t) { atOrigin.push_back(o.shown()); });
                    }
                    {
                        LayerRun a(effect, p, 4, 3, hide, speed); // the layer's picture is one at a time
                        ASSERT_TRUE(a.r.play(1000, [&](int32_t) { played.push_back(a.shown()); })) << effect;
                    }
                    ASSERT_EQ(played.size(), atOrigin.size()) << effect;
                    for (size_t n = 0; n < played.size(); n++)
                        ASSERT_TRUE(played[n] == atOrigin[n]) << "effect " << effect << " frame " << n + 1;
                    const int32_t last = int32_t(played.size());
                    // The last frame first: straight from an early frame, not
                    // only from the one before it.
                    std::vector<int32_t> order{last, last / 2, 1, 1, last - 1, last};
                    if (roll) {
                        for (int32_t n = last; n >= 1; n--) order.push_back(n);
                        for (int32_t n = 2; n <= last; n += 2) order.push_back(n);
                    }
                    LayerRun b(effect, p, 4, 3, hide, speed);
                    b.r.play(std::min(3, last), [](int32_t) {});
                    for (int32_t n : order) {
                        if (n < 1) continue;
                        ASSERT_EQ(qxFXSeek(&b.r.fx, n, 0), 0);
                        const std::vector<uint32_t> seen = b.shown(), want = played[size_t(n - 1)];
                        int differ = 0;
                        for (size_t i = 0; i < seen.size(); i++) differ += seen[i] != want[i];
                        EXPECT_EQ(differ, 0) << "effect " << effect << " planes " << int(p)
                                             << (hide ? " hide" : " show") << " speed " << speed << " seek to " << n
                                             << " of " << last;
                    }
                }
    }
    qxFXHook = savedHook;
}

// Every SCROLL, shown and hidden, on an opaque and on a masked layer of a
// display of the test's own: seeks backwards from the last frame, then
// forwards, draw what playing to that frame shows (the diagonal ones walk
// their path again from its start).
TEST(FxSeek, ScrollsInEveryDirectionDrawWhatPlayingShows)
{
    qxLinkLayerEngine();
    qxDisplay *const saved = qxCurrentDisplay;
    qxDisplay *d = qxNewDisplayRecord(1);
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    ASSERT_EQ(qxCreateBGPicFromBitmap(&ref, 64, 48, 0x00A000, &d->bgpic), 0);
    d->targetType = QX_OUT_DISPLAY, d->layersEnabled = 1;
    qxCurrentDisplay = d;
    auto shown = [&] {
        qxBitMap *b = qxAllocBitMap(64, 48, 0, nullptr);
        Redraw(nullptr, d, d->bgpic, b, 0, 0, 64, 48, QX_RD_NOSPRITES);
        std::vector<uint32_t> px = fxtest::readPixels(b);
        qxFreeBitMap(b);
        return px;
    };
    for (bool masked : {false, true}) {
        qxBitMap *image = fxtest::noiseBitMap(24, 16, 5), *mask = nullptr;
        if (masked) {
            mask = qxAllocMaskBitMap(image, 24, 16, 1, nullptr, 0);
            for (int32_t j = 0; j < 16; j++) qxMaskRowOp(mask, (j * 5) % 7, j, 12, 1, 0);
        }
        auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
        data->x = 13, data->y = 9, data->width = 24, data->height = 16;
        qxLayer *l = nullptr;
        ASSERT_EQ(qxAddLayer(nullptr, QX_TYPE_BRUSH, nullptr, 13, 9, 24, 16, nullptr, nullptr, image, mask, nullptr,
                             data, 1, 0, &l),
                  0);
        for (int32_t effect = 47; effect <= 54; effect++)
            for (bool hide : {true, false}) {
                auto request = [&] {
                    qxTransitionFX fx{};
                    fx.effect = effect, fx.mode = hide ? QX_FXMODE_HIDELAYER : QX_FXMODE_SHOWLAYER;
                    fx.reverse = hide, fx.isScroll = 1, fx.layer = l, fx.async = 1;
                    fx.x = fx.savedX = 13, fx.y = fx.savedY = 9, fx.width = 24, fx.height = 16;
                    fx.bgWidth = 64, fx.bgHeight = 48, fx.speed = fx.requestedSpeed = -2, fx.parameter = -1;
                    fx.step = qxFXFindEffect(effect)->step, fx.cleanup = qxFXFindEffect(effect)->cleanup;
                    return fx;
                };
                auto end = [](qxTransitionFX &fx) {
                    fx.cleanup(&fx);
                    qxFree(fx.data);
                };
                std::vector<std::vector<uint32_t>> played;
                qxTransitionFX p = request();
                ASSERT_EQ(p.step(&p, nullptr), 0);
                p.phase = 1;
                for (int done = 0; !done && played.size() < 100;) {
                    ASSERT_EQ(p.step(&p, &done), 0);
                    played.push_back(shown());
                }
                end(p);
                qxTransitionFX s = request();
                ASSERT_EQ(s.step(&s, nullptr), 0);
                s.phase = 1;
                const int32_t frames = int32_t(played.size());
                ASSERT_EQ(s.frames, frames) << effect;
                std::vector<int32_t> order;
                for (int32_t n = frames; n >= 1; n--) order.push_back(n);
                for (int32_t n = 2; n <= frames; n += 2) order.push_back(n);
                for (int32_t n : order) {
                    ASSERT_EQ(qxFXSeek(&s, n, 0), 0);
                    const std::vector<uint32_t> seen = shown();
                    int differ = 0;
                    for (size_t i = 0; i < seen.size(); i++) differ += seen[i] != played[size_t(n - 1)][i];
                    EXPECT_EQ(differ, 0) << "effect " << effect << (hide ? " hide" : " show")
                                         << (masked ? " masked" : " opaque") << " seek to " << n << " of " << frames;
                }
                end(s);
            }
        qxRemoveLayerRecord(nullptr, d->bgpic, l, 1, nullptr);
    }
    qxCurrentDisplay = saved;
    qxFreeOutputState(d);
    qxFreeBGPicRecord(nullptr, d->bgpic);
    qxFreeLayerBackgrounds();
    std::free(d);
}
