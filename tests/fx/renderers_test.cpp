// Every registered renderer, off-screen: frame counts, the final picture
// and what stays untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <pixman.h>

#include <string>
#include <tuple>

#include "core/codecs/qx_crc32.h"
#include "fx/qx_fxmix.h"
#include "fx/qx_fxwipes.h"
#include "imaging/qx_blit.h"
#include "fxharness.h"

using fxtest::Planes;
using fxtest::FxRun;

namespace {

// The scroll effects (47-54) drive the move engine, which needs a running
// player: the scroll listings under tests/e2e/fx play them.
std::vector<int32_t> registeredIds()
{
    std::vector<int32_t> ids;
    for (int32_t id = 0; id < QX_FX_COUNT; id++)
        if (qxFXFindEffect(id) && (id < 47 || id > 54)) ids.push_back(id);
    return ids;
}

// QUADRECT on an area no longer than one step switches quadrant pairs in
// its only counted frame and finishes one frame later.
int32_t allowedExtra(int32_t id)
{
    return id == 107 ? 1 : 0;
}

// Wipes only ever add pixels of the new picture; moving and blending
// effects may match a pixel by chance and lose it again.
bool isWipe(int32_t id)
{
    for (size_t i = 0; i < qxFXEffectsI.count; i++)
        if (qxFXEffectsI.entries[i].id == id) return true;
    return false;
}

class EveryRenderer : public testing::TestWithParam<int32_t> {};

TEST_P(EveryRenderer, EndsOnTheNewPictureAfterItsFrames)
{
    const int32_t id = GetParam();
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {2, 3}, {7, 5}, {33, 17}, {200, 12}, {97, 61}, {640, 480},
                                                 {641, 481}};
    const int32_t speeds[] = {-1, -2, -3, 1, 7, 30, 500, 0, -4, INT32_MAX, INT32_MIN};
    for (auto [w, h] : sizes)
        for (int32_t speed : speeds)
            for (Planes planes : {Planes::Opaque, Planes::Masked, Planes::Alpha})
                for (bool reverse : {false, true}) {
                    if (w * h > 100000 && (planes != Planes::Opaque || (speed != -1 && speed != 500))) continue;
                    // These run backwards only on a real-time layer.
                    if (reverse && qxFXReverseNeedsRealtime(id)) continue;
                    FxRun run(id, w, h, speed, planes, reverse);
                    const bool small = w * h <= 1000 && isWipe(run.fx.effect);
                    size_t covered = 0;
                    bool monotone = true;
                    const bool done = run.play(1 << 20, [&](int32_t) {
                        if (!small) return;
                        auto now = fxtest::readPixels(run.target);
                        size_t c = 0;
                        for (size_t i = 0; i < now.size(); i++) c += now[i] == run.expected[i];
                        monotone = monotone && c >= covered;
                        covered = c;
                    });
                    const std::string what = "id " + std::to_string(run.fx.effect) + " " + std::to_string(w) + "x" +
                                             std::to_string(h) + " speed " + std::to_string(speed) +
                                             " planes " + std::to_string(int(planes)) + " reverse " +
                                             std::to_string(reverse);
                    ASSERT_TRUE(done) << what << " error " << run.error;
                    EXPECT_GE(run.steps, run.fx.frames) << what;
                    EXPECT_LE(run.steps, run.fx.frames + allowedExtra(run.fx.effect)) << what;
                    ASSERT_TRUE(fxtest::readPixels(run.target) == run.expected) << what;
                    EXPECT_TRUE(monotone) << what;
                }
}

TEST_P(EveryRenderer, LeavesEverythingOutsideAPartlyHiddenAreaAlone)
{
    // A 50x40 area at (-13, 29) on an 80x60 picture: 37x31 of it shows.
    // Effects that need the picture under a layer only ever run on a
    // whole BGPic.
    if (qxFXIsLayerOnly(GetParam())) GTEST_SKIP();
    FxRun run(GetParam(), 50, 40, -1, Planes::Masked, false, 80, 60, -13, 29);
    ASSERT_TRUE(run.play(1 << 20, [](int32_t) {}));
    EXPECT_TRUE(fxtest::readPixels(run.target) == run.expected);
}

INSTANTIATE_TEST_SUITE_P(Fx, EveryRenderer, testing::ValuesIn(registeredIds()),
                         [](const testing::TestParamInfo<int32_t> &i) { return "id" + std::to_string(i.param); });

// Frame counts worked out by hand from each effect's step and distance.
TEST(RendererFrames, MatchTheFormulas)
{
    struct Case {
        int32_t id, w, h, speed, frames, step;
    };
    const Case cases[] = {
        {4, 640, 480, -1, 72, 9},     // HSTRIPES16
        {20, 100, 50, -1, 8, 2},      // VBLINDS16
        {14, 100, 50, 100, 2, 4},     // HBLINDS8, step capped at t / 2
        {28, 64, 64, -1, 13, 1},      // BARS
        {28, 64, 64, 20, 4, 8},       // BARS, step capped at 8
        {26, 640, 480, -1, 61, 3},    // HOPENCURTAIN
        {27, 640, 480, 300, 121, 1},  // HCLOSECURTAIN, too large a step becomes 1
        {37, 4, 9, -1, 5, -1},        // VLINES
        {37, 5, 9, -1, 6, -1},        // VLINES
        {34, 5, 9, -1, 4, -1},        // VLINES2
        {30, 640, 480, -1, 64, 9},    // REVEALLEFT
        {30, 640, 480, 500, 320, 1},  // REVEALLEFT, large step becomes 1
        {32, 640, 480, 500, 2, 240},  // REVEALTOP, large step becomes N / 2
        {38, 640, 480, -1, 72, 9},    // RECTCENTER
        {38, 640, 480, 500, 640, 1},  // RECTCENTER, above N / 4 becomes 1
        {82, 640, 480, -1, 336, 32},  // PUZZLE
        {82, 40, 30, -1, 63, 5},      // PUZZLE, piece raised to 5
        {82, 4, 4, -1, 1, 5},         // PUZZLE, one piece
        {83, 640, 480, -1, 112, 10},  // DIAGONAL
        {83, 640, 480, 200, 1120, 1}, // DIAGONAL, above W / 4 becomes 1
        {110, 640, 480, -1, 193, 10}, // UPNDOWN
        {108, 640, 480, -1, 33, 5},   // HSPLIT
        {107, 640, 480, -1, 128, 5},  // QUADRECT
        {106, 640, 480, 100, 11, 30}, // SWISS, step capped at 30
        {29, 64, 3, -1, 2, 0},        // QUARTERS on 3 rows: s = 0
        {0, 640, 480, 5000, 2, 639},  // HSTRIPES, too large a step is L - 1
    };
    for (const Case &c : cases) {
        FxRun run(c.id, c.w, c.h, c.speed, Planes::Opaque, false);
        run.fx.parameter = 3;
        ASSERT_TRUE(run.play(1 << 20, [](int32_t) {})) << c.id;
        EXPECT_EQ(run.fx.frames, c.frames) << c.id << " " << c.w << "x" << c.h;
        EXPECT_EQ(run.steps, c.frames) << c.id;
        if (c.step >= 0) {
            EXPECT_EQ(run.fx.speed, c.step) << c.id;
        }
    }
}

// The puzzle order against the walk it replaces, for the same draws.
TEST(RendererPuzzle, OrderEqualsTheLiteralWalk)
{
    for (int32_t n : {1, 2, 7, 336, 1000}) {
        std::vector<int32_t> fast(static_cast<size_t>(n)), slow(static_cast<size_t>(n), -1);
        srand48(n);
        ASSERT_EQ(qxFXPuzzleOrder(fast.data(), n), 0);
        srand48(n);
        for (int32_t j = 0; j < n; j++) {
            const int32_t r0 = int32_t(drand48() * n);
            int32_t k = r0;
            bool down = true;
            for (bool hit = true; hit;) {
                hit = false;
                for (int32_t e : slow)
                    if (e == k) hit = true;
                if (hit) {
                    if (down && k >= 1) k--;
                    else if (down) k = r0 + 1, down = false;
                    else k++;
                }
            }
            slow[size_t(j)] = k;
        }
        EXPECT_EQ(fast, slow) << n;
    }
}

TEST(RendererStripes, ThicknessFromParameterAndRandomDraws)
{
    FxRun zero(0, 640, 40, -1, Planes::Opaque, false);
    zero.fx.parameter = 0;
    ASSERT_TRUE(zero.play(1 << 20, [](int32_t) {}));
    FxRun random(0, 640, 40, -1, Planes::Opaque, false);
    const qxFXEffect *e = qxFXFindEffect(0);
    random.fx.step = e->step;
    srand(99);
    ASSERT_EQ(random.fx.step(&random.fx, nullptr), 0);
    const int32_t b = *static_cast<int32_t *>(random.fx.data);
    EXPECT_GE(b, 1);
    EXPECT_LT(b, 320);
}

// The water and strudel frames keep pinned checksums (wide and tall areas).
TEST(RendererDisplace, FramesKeepTheirChecksums)
{
    qxCrc32Init();
    uint32_t crc = 0;
    for (int32_t id : {134, 135, 137, 138})
        for (auto [w, h] : {std::pair{321, 203}, std::pair{150, 260}}) {
            FxRun run(id, w, h, -2, Planes::Opaque, false);
            ASSERT_TRUE(run.play(1 << 20, [&](int32_t) {
                auto now = fxtest::readPixels(run.target);
                crc = qxCrc32(now.data(), long(now.size() * 4)) ^ (crc * 31);
            }));
        }
    EXPECT_EQ(crc, 0xFF77E07Du);
}

// Every crossfade frame against pixman: a copy of the old picture, then the
// new one OVER it through a solid a8 mask of the frame's level.
TEST(Renderers, CrossfadeMatchesPixmanOver)
{
    const int w = 61, h = 37;
    FxRun run(115, w, h, 10, Planes::Opaque, false);
    auto old = fxtest::readPixels(run.old), fresh = fxtest::readPixels(run.newImage);
    std::vector<uint32_t> ref(old.size());
    alignas(4) uint8_t level[4] = {};
    pixman_image_t *src = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, fresh.data(), w * 4);
    pixman_image_t *oldImg = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, old.data(), w * 4);
    pixman_image_t *dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, ref.data(), w * 4);
    pixman_image_t *mask = pixman_image_create_bits(PIXMAN_a8, 1, 1, reinterpret_cast<uint32_t *>(level), 4);
    pixman_image_set_repeat(mask, PIXMAN_REPEAT_NORMAL);
    int worst = 0;
    ASSERT_TRUE(run.play(1 << 20, [&](int32_t) {
        level[0] = uint8_t(run.fx.level);
        pixman_image_composite32(PIXMAN_OP_SRC, oldImg, nullptr, dst, 0, 0, 0, 0, 0, 0, w, h);
        pixman_image_composite32(PIXMAN_OP_OVER, src, mask, dst, 0, 0, 0, 0, 0, 0, w, h);
        auto got = fxtest::readPixels(run.target);
        for (size_t i = 0; i < got.size(); i++)
            for (int sh = 0; sh < 24; sh += 8)
                worst = std::max(worst, std::abs(int(got[i] >> sh & 255) - int(ref[i] >> sh & 255)));
    }));
    EXPECT_EQ(run.steps, 26);
    EXPECT_LE(worst, 2);
    EXPECT_GE(worst, 1); // the two roundings differ: the check sees real pixels
    for (auto *img : {src, oldImg, dst, mask}) pixman_image_unref(img);
}

// The mix row's plain and AVX2 builds give the same bytes.
TEST(Renderers, CrossMixBuildsAgree)
{
    const int saved = qxKernelLevel();
    std::mt19937 rng(5);
    std::vector<uint32_t> o(100), n(100), a(100), b(100);
    for (int count : {1, 7, 8, 9, 64, 99})
        for (int32_t v : {0, 1, 128, 255, 256}) {
            for (int i = 0; i < 100; i++) o[i] = rng(), n[i] = rng();
            qxSetKernelLevel(1);
            qxFXCrossMix32(o.data(), n.data(), a.data(), count, v, 0x00FFFFFFu);
            qxSetKernelLevel(2);
            qxFXCrossMix32(o.data(), n.data(), b.data(), count, v, 0x00FFFFFFu);
            EXPECT_TRUE(std::equal(a.begin(), a.begin() + count, b.begin())) << count << " " << v;
        }
    qxSetKernelLevel(saved);
}

} // namespace
