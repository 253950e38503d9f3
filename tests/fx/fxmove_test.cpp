// The moving, scaling, blending, kernel and mask renderers, run off-screen
// into a target bitmap: frame counts, the last picture, what stays outside
// the area, direct seeks against playing, and key frames against
// independently computed pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/qx_bitmapdraw.h"
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
    EXPECT_EQ(pixels(r.target.bm), pixels(r.target.bm)); // lockable
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
    for (int id : ids)
        for (auto [w, h] : {std::pair{97, 61}, std::pair{61, 97}})
            for (int s : {-1, -2, -3, 7}) v.push_back({id, w, h, s});
    for (int id : ids) v.push_back({id, 640, 480, -1});
    return v;
}

INSTANTIATE_TEST_SUITE_P(Effects, Renderer, testing::ValuesIn(allCases()), caseName);

} // namespace
