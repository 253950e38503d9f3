// Sprites and embedded moves without a script: random sprite scenes must
// leave the work bitmap equal to a full redraw, and embedded moves must
// walk the ideal line and end exactly at their targets (and free
// everything, which ASan checks).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_display.h"
#include "layers/qx_layer.h"
#include "layers/qx_move.h"
#include "layers/qx_sprite.h"
#include "layer_scene.h"
#include "objects/qx_output.h"
#include "platform/qx_errcodes.h"

namespace {

using layertest::H;
using layertest::Pixels;
using layertest::W;

struct Scene : layertest::DisplayScene {
    void TearDown() override
    {
        while (qxSprites) qxFreeSpriteRecord(nullptr, qxSprites);
        qxFreeDisplaySpriteList(d->bgpic);
        DisplayScene::TearDown();
    }

    // A sprite of n frames: kind 0 plain, 1 masked (a disc), 2 alpha.
    qxSprite *make(std::mt19937 &rng, uint32_t number, int kind, int32_t w, int32_t h, int32_t n)
    {
        auto **bm = static_cast<qxBitMap **>(std::calloc(size_t(n), sizeof(qxBitMap *)));
        auto **mk = kind == 1 ? static_cast<qxBitMap **>(std::calloc(size_t(n), sizeof(qxBitMap *))) : nullptr;
        auto **al = kind == 2 ? static_cast<qxBitMap **>(std::calloc(size_t(n), sizeof(qxBitMap *))) : nullptr;
        for (int32_t f = 0; f < n; f++) {
            std::vector<uint32_t> px(size_t(w) * h);
            const uint32_t colour = rng() & 0xFFFFFF;
            for (int j = 0; j < h; ++j)
                for (int i = 0; i < w; ++i) {
                    const int dx = 2 * i - w, dy = 2 * j - h;
                    const uint32_t a = kind == 2 ? uint32_t(255 * i / std::max(1, w - 1)) << 24 : 0xFF000000u;
                    px[size_t(j) * w + i] = kind == 1 && dx * dx + dy * dy > w * h ? 0x00FF00FFu : a | colour;
                }
            const uint32_t key = kind == 1 ? 0xFF00FFu : 0xFFFFFFFFu;
            EXPECT_EQ(qxBitMapFromARGB(px.data(), key, w, h, w, 0, 0, nullptr, &bm[f], mk ? &mk[f] : nullptr, nullptr),
                      0);
            if (al) al[f] = qxAlphaFromBuffer(px.data(), uint32_t(w), uint32_t(h), uint32_t(w));
        }
        qxObjectRef ref{number, nullptr};
        qxSprite *s = nullptr;
        EXPECT_EQ(qxAddSprite(&ref, w, h, nullptr, nullptr, bm, mk, al, n, 0xFFFFFFFFu, nullptr, &s), 0);
        return s;
    }

    void expectConsistent(int step)
    {
        qxBitMap *work = qxDisplayWorkBitmap(d, 0);
        ASSERT_NE(work, nullptr);
        qxBitMap *full = qxAllocBitMap(W, H, 0, nullptr);
        Redraw(nullptr, d, d->bgpic, full, 0, 0, W, H, 0);
        Pixels a(qxBitMapToARGB(work, 0, 0, W, H, 0)), b(qxBitMapToARGB(full, 0, 0, W, H, 0));
        for (int p = 0; p < W * H; ++p)
            if (a.get()[p] != b.get()[p]) {
                ADD_FAILURE() << "step " << step << ": pixel " << p % W << "," << p / W;
                break;
            }
        qxFreeBitMap(full);
    }
};

TEST_F(Scene, RandomSpriteScenesEqualFullRedraw)
{
    std::mt19937 rng(24);
    qxDisplayWorkBitmap(d, 1);
    for (uint32_t n = 1; n <= 6; n++) make(rng, n, int(n % 3), 8 + int32_t(rng() % 40), 8 + int32_t(rng() % 40), 3);
    for (int i = 0; i < 400; i++) {
        const uint32_t n = 1 + rng() % 6;
        qxSprite *s = nullptr;
        ASSERT_EQ(qxFindSprite({n, nullptr}, &s, 0), 0);
        const int32_t x = int32_t(rng() % (W + 40)) - 20, y = int32_t(rng() % (H + 40)) - 20;
        if (rng() % 5 == 0) {
            qxSpriteOnScreen *e = nullptr;
            if (!qxFindDisplayedSprite({n, nullptr}, &e, nullptr)) {
                // Frame 0 at the same place advances; the picture changes all the same.
                ASSERT_EQ(qxShowSprite(nullptr, s, {n, nullptr}, e->x, e->y, 0), 0);
                const int32_t expected = e->frame;
                EXPECT_GE(expected, 1);
                EXPECT_LE(expected, 3);
            }
        } else {
            ASSERT_EQ(qxShowSprite(nullptr, s, {n, nullptr}, x, y, int32_t(rng() % 4)), 0);
        }
        expectConsistent(i);
    }
    EXPECT_EQ(qxCountDisplayedSprites(d->bgpic), 6);
}

TEST_F(Scene, FrameZeroAdvancesAndWraps)
{
    std::mt19937 rng(1);
    qxSprite *s = make(rng, 1, 0, 10, 10, 3);
    qxSpriteOnScreen *e = nullptr;
    for (int32_t expected : {1, 2, 3, 1}) {
        ASSERT_EQ(qxShowSprite(nullptr, s, {1, nullptr}, 5, 5, 0), 0);
        ASSERT_EQ(qxFindDisplayedSprite({1, nullptr}, &e, nullptr), 0);
        EXPECT_EQ(e->frame, expected);
    }
    EXPECT_EQ(qxShowSprite(nullptr, s, {1, nullptr}, 5, 5, 4), ERR_ANIMFRAME);
}

TEST_F(Scene, FreeingASourceFreesItsLinks)
{
    std::mt19937 rng(2);
    qxSprite *a = make(rng, 1, 0, 10, 10, 2);
    qxSprite *b = make(rng, 2, 1, 10, 10, 3);
    auto **borrowed = static_cast<qxSprite **>(std::calloc(3, sizeof(qxSprite *)));
    borrowed[0] = a, borrowed[1] = b;
    qxObjectRef ref{3, nullptr};
    qxSprite *link = nullptr;
    ASSERT_EQ(qxAddSprite(&ref, 10, 10, nullptr, nullptr, nullptr, nullptr, nullptr, 5, 0xFFFFFFFFu, borrowed, &link), 0);
    qxBitMap *bm = nullptr, *mask = nullptr, *alpha = nullptr;
    ASSERT_EQ(qxGetSpriteFrame(link, 3, &bm, &mask, &alpha), 0);
    EXPECT_EQ(bm, b->bitmaps[1]);
    EXPECT_EQ(mask, b->masks[1]);
    qxLockSprite(link, 1);
    EXPECT_EQ(qxFreeSpriteRecord(nullptr, b), ERR_LOCKEDOBJ); // the link's move holds b too
    qxLockSprite(link, -1);
    ASSERT_EQ(qxShowSprite(nullptr, link, ref, 0, 0, 4), 0);
    ASSERT_EQ(qxFreeSpriteRecord(nullptr, b), 0);
    EXPECT_EQ(qxFindSprite(ref, &link, 0), ERR_FINDSPRITE);
    EXPECT_EQ(qxCountDisplayedSprites(d->bgpic), 0);
}

// An embedded move of a transition's picture, stepped to its end.
struct Walk {
    std::vector<std::pair<int32_t, int32_t>> points;
};

Walk embeddedMove(qxBitMap *picture, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t fx, int32_t speed)
{
    qxMoveState s{};
    s.type = QX_MOVE_PICTURE, s.embedded = 1;
    s.bitmap = picture, s.width = 12, s.height = 9;
    s.x1 = x1, s.y1 = y1, s.x2 = x2, s.y2 = y2, s.fx = fx, s.speed = speed, s.animspeed = -1;
    Walk w;
    EXPECT_EQ(qxMoveObject(&s), 0);
    EXPECT_EQ(s.stepfn, qxMoveStep);
    int done = 0;
    for (int guard = 0; !done && guard < 100000; guard++) {
        EXPECT_EQ(s.stepfn(&s, &done), 0);
        w.points.emplace_back(s.x, s.y);
    }
    EXPECT_TRUE(done);
    s.freefn(&s, 0);
    return w;
}

TEST_F(Scene, EmbeddedMovesEndExactlyAndFollowTheLine)
{
    qxBitMap *picture = qxAllocBitMap(12, 9, 0, nullptr);
    std::mt19937 rng(7);
    for (int i = 0; i < 40; i++) {
        const int32_t x1 = int32_t(rng() % 300) - 70, y1 = int32_t(rng() % 300) - 70;
        const int32_t x2 = int32_t(rng() % 300) - 70, y2 = int32_t(rng() % 300) - 70;
        if (x1 == x2 && y1 == y2) continue;
        // Speed 1: every pixel of the major axis, at most one minor step each.
        Walk w = embeddedMove(picture, x1, y1, x2, y2, 0, 1);
        ASSERT_FALSE(w.points.empty());
        EXPECT_EQ(w.points.back(), std::make_pair(x2, y2));
        const bool yMajor = std::abs(x2 - x1) < std::abs(y2 - y1);
        int32_t prevMinor = yMajor ? x1 : y1;
        for (auto [x, y] : w.points) {
            const double t = yMajor ? double(y - y1) / (y2 - y1) : double(x - x1) / (x2 - x1);
            const double ideal = yMajor ? x1 + t * (x2 - x1) : y1 + t * (y2 - y1);
            const int32_t minor = yMajor ? x : y;
            EXPECT_LE(std::abs(minor - ideal), 0.5 + 1e-9) << x1 << "," << y1 << " -> " << x2 << "," << y2;
            EXPECT_LE(std::abs(minor - prevMinor), 1);
            prevMinor = minor;
        }
        for (uint32_t fx = 1; fx <= 7; fx++)
            EXPECT_EQ(embeddedMove(picture, x1, y1, x2, y2, fx, 1 + int32_t(rng() % 20)).points.back(),
                      std::make_pair(x2, y2))
                << "fx " << fx;
    }
    // The same start and end: embedded moves start 10 pixels up and left.
    EXPECT_EQ(embeddedMove(picture, 30, 30, 30, 30, 0, 10).points.back(), std::make_pair(30, 30));
    qxFreeBitMap(picture);
}

} // namespace
