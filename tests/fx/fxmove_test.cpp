// The moving, scaling, blending, kernel and mask renderers, run off-screen
// into a target bitmap: frame counts, the last picture, what stays outside
// the area, direct seeks against playing, and key frames against
// independently computed pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "display/qx_bitmapdraw.h"
#include "fx/qx_fxrand.h"
#include "fx/qx_transitionfx.h"
#include "platform/qx_hooks.h"
#include "platform/qx_memory.h"

namespace {

uint32_t oldColour(int x, int y) { return uint32_t(x * 7 + y * 13) << 16 | uint32_t(x * 3) << 8 | uint32_t(y * 5); }
uint32_t newColour(int x, int y) { return uint32_t(255 - x) << 16 | uint32_t(y * 11 + x) << 8 | uint32_t(x ^ y); }

struct Bm {
    qxBitMap *bm = nullptr;
    Bm(int w, int h, uint32_t (*colour)(int, int), int ox = 0, int oy = 0)
    {
        bm = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) qxWritePixel(bm, x, y, colour(x + ox, y + oy), 0);
    }
    ~Bm() { qxFreeBitMap(bm); }
};

std::vector<uint32_t> pixels(qxBitMap *bm)
{
    std::vector<uint32_t> v;
    qxBitMapLock l;
    if (!qxLockBitMap(bm, 1, &l)) return v;
    for (uint32_t y = 0; y < l.height; ++y)
        for (uint32_t x = 0; x < l.width; ++x) v.push_back(qxReadPixelRGB(&l, int32_t(x), int32_t(y)) & 0xFFFFFF);
    qxUnLockBitMap(&l);
    return v;
}

// Where two pictures of the given width differ first, or "same".
std::string firstDifference(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b, int width)
{
    if (a.size() != b.size()) return "sizes differ";
    size_t count = 0, first = a.size();
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) count++, first = std::min(first, i);
    if (!count) return "same";
    char text[128];
    snprintf(text, sizeof text, "%zu differ, first at %zu,%zu: %06x vs %06x", count, first % width, first / width,
             a[first], b[first]);
    return text;
}

bool layerOnly(int id) { return qxFXIsLayerOnly(id) != 0; }

// One transition: a target showing the old picture with the area at
// (ax, ay), and the request over it.
struct FxRun {
    int W, H, ax, ay, tw, th;
    Bm target, oldPic, newPic;
    qxTransitionFX fx{};
    FxRun(int id, int w, int h, int speed, int param = 0x2040C0)
        : W(w), H(h), ax(layerOnly(id) ? 0 : 5), ay(layerOnly(id) ? 0 : 3), tw(W + 2 * ax), th(H + 2 * ay),
          target(tw, th, oldColour), oldPic(W, H, oldColour, ax, ay), newPic(W, H, newColour)
    {
        fx.effect = id, fx.width = W, fx.height = H, fx.x = ax, fx.y = ay;
        fx.bgWidth = tw, fx.bgHeight = th, fx.target = target.bm, fx.speed = speed, fx.requestedSpeed = speed;
        fx.parameter = param, fx.newImage = newPic.bm, fx.oldImage = oldPic.bm, fx.blitFlags = 4;
        const qxFXEffect *e = qxFXFindEffect(id);
        if (e) fx.step = e->step, fx.cleanup = e->cleanup;
    }
    ~FxRun()
    {
        if (fx.data) {
            if (fx.cleanup) fx.cleanup(&fx);
            qxFree(fx.data);
        }
    }
    int setUp()
    {
        srand(20261207); // the dissolve map, the same in both runs
        fx.phase = 0;
        int e = fx.step(&fx, nullptr);
        fx.phase = 1;
        return e;
    }
    // Frames until done (or a cap); -1 on an error.
    int play(int cap = 100000)
    {
        int done = 0, n = 0;
        while (!done && n < cap) {
            if (fx.step(&fx, &done)) return -1;
            ++n;
        }
        return n;
    }
    int seek(int frame)
    {
        fx.phase = 2, fx.frame = frame;
        int e = fx.step(&fx, nullptr);
        fx.phase = 1;
        return e;
    }
    // The expected target at the end: new picture in the area.
    std::vector<uint32_t> finalPicture() const
    {
        std::vector<uint32_t> v(size_t(tw) * th);
        for (int y = 0; y < th; ++y)
            for (int x = 0; x < tw; ++x) {
                bool in = x >= ax && y >= ay && x < ax + W && y < ay + H;
                v[size_t(y) * tw + x] = (in ? newColour(x - ax, y - ay) : oldColour(x, y)) & 0xFFFFFF;
            }
        return v;
    }
};

struct Case {
    int id;
    int w, h;
    int speed;
};

std::string caseName(const testing::TestParamInfo<Case> &i)
{
    const Case &c = i.param;
    return "fx" + std::to_string(c.id) + "_" + std::to_string(c.w) + "x" + std::to_string(c.h) + "_s" +
           (c.speed < 0 ? "m" + std::to_string(-c.speed) : std::to_string(c.speed));
}

// Effects whose seek draws the whole frame directly.
bool directSeek(int id)
{
    return (id >= 55 && id <= 81) || (id >= 84 && id <= 87) || (id >= 97 && id <= 104) || id == 111 || id == 112 ||
           (id >= 114 && id <= 139);
}

class Renderer : public testing::TestWithParam<Case> {
protected:
    void SetUp() override { qxScreenPixelFormat = 10; }
};

TEST_P(Renderer, EndsOnTheNewPictureAfterItsFrames)
{
    const Case c = GetParam();
    FxRun r(c.id, c.w, c.h, c.speed);
    ASSERT_TRUE(r.fx.step) << "no renderer";
    ASSERT_EQ(r.setUp(), 0);
    ASSERT_GE(r.fx.frames, 1);
    // Phase 0 only sets up: the target still shows the old picture.
    std::vector<uint32_t> before(size_t(r.tw) * r.th);
    for (int y = 0; y < r.th; ++y)
        for (int x = 0; x < r.tw; ++x) before[size_t(y) * r.tw + x] = oldColour(x, y) & 0xFFFFFF;
    EXPECT_EQ(firstDifference(pixels(r.target.bm), before, r.tw), "same");
    int n = r.play();
    EXPECT_EQ(n, r.fx.frames);
    EXPECT_EQ(r.fx.frame, n);
    EXPECT_EQ(firstDifference(pixels(r.target.bm), r.finalPicture(), r.tw), "same");
}

TEST_P(Renderer, SeekDrawsWhatPlayingShows)
{
    const Case c = GetParam();
    if (!directSeek(c.id)) GTEST_SKIP();
    FxRun played(c.id, c.w, c.h, c.speed), sought(c.id, c.w, c.h, c.speed);
    ASSERT_EQ(played.setUp(), 0);
    ASSERT_EQ(sought.setUp(), 0);
    const int frames = played.fx.frames;
    for (int k : {1, frames / 3, frames / 2, frames - 1, frames}) {
        if (k < 1 || k > frames) continue;
        while (played.fx.frame < k) {
            int done = 0;
            ASSERT_EQ(played.fx.step(&played.fx, &done), 0);
        }
        ASSERT_EQ(sought.seek(k), 0);
        EXPECT_EQ(firstDifference(pixels(played.target.bm), pixels(sought.target.bm), played.tw), "same")
            << "frame " << k;
    }
}

std::vector<Case> allCases()
{
    std::vector<Case> v;
    std::vector<int> ids;
    for (int id = 55; id <= 81; ++id) ids.push_back(id);
    for (int id = 84; id <= 139; ++id)
        if (qxFXFindEffect(id) && !(id >= 105 && id <= 110) && !(id >= 88 && id <= 96)) ids.push_back(id);
    for (int id : ids) {
        for (int s : {-1, -2, -3, 7}) v.push_back({id, 97, 61, s});
        v.push_back({id, 61, 97, -1});
        v.push_back({id, 61, 97, 1000});
    }
    for (int id : {61, 78, 97, 114, 115, 120, 124, 128, 139}) v.push_back({id, 640, 480, -2});
    return v;
}

INSTANTIATE_TEST_SUITE_P(Effects, Renderer, testing::ValuesIn(allCases()), caseName);

} // namespace

namespace {

int framesOf(int id, int w, int h, int speed, bool reverse = false)
{
    FxRun r(id, w, h, speed);
    r.fx.reverse = reverse;
    if (r.setUp()) return -1;
    return r.fx.frames;
}

TEST(RendererCounts, FramesFollowTheFormulas)
{
    EXPECT_EQ(framesOf(116, 64, 48, -1), 52);
    EXPECT_EQ(framesOf(116, 64, 48, 255), 3);
    EXPECT_EQ(framesOf(115, 64, 48, -2), 26);
    EXPECT_EQ(framesOf(115, 64, 48, 200), 3);
    EXPECT_EQ(framesOf(135, 64, 48, -1), 50);
    EXPECT_EQ(framesOf(135, 64, 48, 200), 200);
    EXPECT_EQ(framesOf(138, 64, 48, -1), 90);
    EXPECT_EQ(framesOf(138, 64, 48, -2), 45);
    EXPECT_EQ(framesOf(138, 64, 48, -3), 180);
    EXPECT_EQ(framesOf(138, 64, 48, 1), 360);
    EXPECT_EQ(framesOf(84, 640, 480, -1), 240);
    EXPECT_EQ(framesOf(70, 640, 480, -1), 54);
    EXPECT_EQ(framesOf(78, 640, 480, -1), 40);
    EXPECT_EQ(framesOf(78, 640, 480, 500), 2);
    EXPECT_EQ(framesOf(102, 640, 480, -1), 128);
    EXPECT_EQ(framesOf(74, 640, 480, -1), 40);
    EXPECT_EQ(framesOf(77, 640, 480, -2), 16);
    EXPECT_EQ(framesOf(111, 640, 480, -1), 48);
    EXPECT_EQ(framesOf(61, 400, 300, -1), 31);
    EXPECT_EQ(framesOf(139, 64, 48, -1), 64);
    EXPECT_EQ(framesOf(139, 64, 48, 100), 32);
    EXPECT_EQ(framesOf(132, 64, 48, -1), 25);
    EXPECT_EQ(framesOf(133, 64, 48, 9), 49);
    // Backwards it runs on real-time layers only; on the display it comes in.
    FxRun r(133, 64, 48, -1);
    r.fx.reverse = 1;
    ASSERT_EQ(r.setUp(), 0);
    EXPECT_EQ(r.fx.frames, 49);
    EXPECT_EQ(r.play(), 49);
}

// Key frames against pictures computed here from the formulas.
TEST(RendererFrames, CrossfadePushSlideAndDissolveMatchTheirFormulas)
{
    qxScreenPixelFormat = 10;
    const int W = 97, H = 61;
    {
        FxRun r(115, W, H, 30);
        ASSERT_EQ(r.setUp(), 0);
        int done = 0;
        for (int k = 0; k < 4; ++k) ASSERT_EQ(r.fx.step(&r.fx, &done), 0);
        const int v = 120;
        EXPECT_EQ(r.fx.level, v);
        std::vector<uint32_t> want = pixels(r.target.bm);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                uint32_t o = oldColour(x + r.ax, y + r.ay), n = newColour(x, y), m = 0;
                for (int sh = 0; sh < 24; sh += 8) {
                    int oc = int(o >> sh & 255), nc = int(n >> sh & 255);
                    m |= uint32_t(oc + (((nc - oc) * v) >> 8)) << sh;
                }
                want[size_t(y + r.ay) * r.tw + x + r.ax] = m;
            }
        EXPECT_EQ(firstDifference(pixels(r.target.bm), want, r.tw), "same");
    }
    {
        FxRun r(78, W, H, 10);
        ASSERT_EQ(r.setUp(), 0);
        int done = 0;
        for (int k = 0; k < 3; ++k) ASSERT_EQ(r.fx.step(&r.fx, &done), 0);
        const int p = 30;
        std::vector<uint32_t> want(size_t(W) * H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                want[size_t(y) * W + x] = (x < p ? newColour(x + W - p, y) : oldColour(x - p, y)) & 0xFFFFFF;
        EXPECT_EQ(firstDifference(pixels(r.target.bm), want, W), "same");
    }
    {
        // SLIDERIGHT: the old picture leaves to the left over the colour,
        // then the new one comes in from the left.
        FxRun r(102, W, H, 10);
        r.fx.parameter = 0x0000FF;
        ASSERT_EQ(r.setUp(), 0);
        int done = 0;
        for (int k = 1; k <= 13; ++k) {
            ASSERT_EQ(r.fx.step(&r.fx, &done), 0);
            const int p = 10 * k;
            if (k != 3 && k != 13) continue;
            std::vector<uint32_t> want(size_t(W) * H, 0x0000FF);
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < (p <= W ? W - p : p - W); ++x)
                    want[size_t(y) * W + x] = (p <= W ? oldColour(x + p, y) : newColour(x + 2 * W - p, y)) & 0xFFFFFF;
            EXPECT_EQ(firstDifference(pixels(r.target.bm), want, W), "same") << k;
        }
    }
    {
        FxRun r(139, W, H, 4);
        ASSERT_EQ(r.setUp(), 0);
        const int next = rand(); // the map leaves libc's generator as W * H calls would
        srand(20261207);
        std::vector<uint8_t> map(size_t(W) * H);
        for (auto &t : map) t = uint8_t(rand() % 255);
        EXPECT_EQ(rand(), next);
        int done = 0;
        for (int k = 0; k < 20; ++k) ASSERT_EQ(r.fx.step(&r.fx, &done), 0);
        std::vector<uint32_t> want = r.finalPicture();
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                if (map[size_t(y) * W + x] >= 80)
                    want[size_t(y + r.ay) * r.tw + x + r.ax] = oldColour(x + r.ax, y + r.ay) & 0xFFFFFF;
        EXPECT_EQ(firstDifference(pixels(r.target.bm), want, r.tw), "same");
    }
}

// The bulk threshold map follows rand() whatever state buffer libc uses:
// the additive kind in a buffer of our own, and kinds it leaves to rand().
TEST(RendererFrames, DissolveMapFollowsRandInEveryStateSize)
{
    static char state[256];
    for (size_t size : {size_t(128), size_t(256), size_t(32)}) {
        char *old = initstate(7, state, size);
        std::vector<uint8_t> want(5000), got(want.size());
        for (auto &t : want) t = uint8_t(rand() % 255);
        const int next = rand();
        initstate(7, state, size);
        qxFXRandMod255(got.data(), got.size());
        EXPECT_EQ(got, want) << size;
        EXPECT_EQ(rand(), next) << size;
        setstate(old);
    }
}

// Sizes, speeds and pictures at the edges of what the renderers take.
TEST(RendererEdges, ThinAreasHugeSpeedsSixteenBitsAndMasks)
{
    std::vector<int> ids;
    for (int id = 55; id <= 139; ++id)
        if (qxFXFindEffect(id) && !(id >= 88 && id <= 96) && !(id >= 105 && id <= 110)) ids.push_back(id);
    for (int id : ids)
        for (auto [w, h, s] : {std::tuple{1, 1, -1}, std::tuple{1, 17, -2}, std::tuple{23, 1, 3},
                               std::tuple{9, 5, 2147483647}}) {
            FxRun r(id, w, h, s);
            ASSERT_EQ(r.setUp(), 0) << id;
            EXPECT_EQ(r.play(), r.fx.frames) << id << " " << w << "x" << h << " speed " << s;
            EXPECT_EQ(firstDifference(pixels(r.target.bm), r.finalPicture(), r.tw), "same")
                << id << " " << w << "x" << h << " speed " << s;
        }
    // 16-bit pixels: the kernels run on their 16-bit members.
    qxScreenPixelFormat = 4;
    for (int id : {61, 84, 115, 116, 124, 132, 135, 138, 139}) {
        FxRun r(id, 33, 21, -2);
        std::vector<uint32_t> want = pixels(r.newPic.bm);
        ASSERT_EQ(r.setUp(), 0);
        r.play();
        std::vector<uint32_t> got = pixels(r.target.bm), area;
        for (int y = 0; y < 21; ++y)
            for (int x = 0; x < 33; ++x) area.push_back(got[size_t(y + r.ay) * r.tw + x + r.ax]);
        EXPECT_EQ(firstDifference(area, want, 33), "same") << id;
    }
    qxScreenPixelFormat = 10;
    // A masked new picture ends over the old one where its mask is clear.
    for (int id : {55, 61, 70, 73, 84, 99, 116, 132}) {
        qxBitMap *mask = qxAllocMaskBitMap(nullptr, 40, 30, 1, nullptr, 0);
        qxMaskRowOp(mask, 0, 0, 40, 30, 0);
        qxMaskRowOp(mask, 10, 5, 12, 9, 1);
        {
        FxRun r(id, 40, 30, -2);
        r.fx.newMask = mask;
        ASSERT_EQ(r.setUp(), 0);
        EXPECT_EQ(r.play(), r.fx.frames) << id;
        std::vector<uint32_t> want = r.finalPicture();
        for (int y = 5; y < 14; ++y)
            for (int x = 10; x < 22; ++x)
                want[size_t(y + r.ay) * r.tw + x + r.ax] = oldColour(x + r.ax, y + r.ay) & 0xFFFFFF;
        EXPECT_EQ(firstDifference(pixels(r.target.bm), want, r.tw), "same") << id;
        }
        qxFreeMaskBitMap(mask);
    }
}

} // namespace
