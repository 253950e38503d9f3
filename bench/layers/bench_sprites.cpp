// Sprite moves without layers: DisplaySprite of a 64x64 masked sprite in
// steps of 10 pixels, and the step of an embedded move of the same picture,
// on 640x480 and 1920x1080 BGPics, against pixman doing the same three
// operations (restore the union from the background, OVER the sprite, copy
// the union). No window: both sides stop before the copy to the screen.
// Also the frame time of 100 sprites moved per frame at 1080p.
#include <pixman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_display.h"
#include "layers/qx_layer.h"
#include "layers/qx_move.h"
#include "layers/qx_sprite.h"
#include "objects/qx_output.h"

namespace {

constexpr int S = 64, MOVES = 20000;
using Clock = std::chrono::steady_clock;

double seconds(const auto &op)
{
    auto t0 = Clock::now();
    op();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::vector<uint32_t> disc()
{
    std::vector<uint32_t> px(S * S);
    for (int y = 0; y < S; ++y)
        for (int x = 0; x < S; ++x) {
            const int dx = x - S / 2, dy = y - S / 2;
            px[y * S + x] = dx * dx + dy * dy < 30 * 30 ? 0xFF000000u | uint32_t(x * 4 << 8 | y * 4) : 0x00FF00FFu;
        }
    return px;
}

// Positions walking the BGPic in steps of 10.
void position(int i, int W, int H, int32_t *x, int32_t *y)
{
    const int cols = (W - S) / 10;
    *x = (i % cols) * 10, *y = ((i / cols) * 10) % (H - S);
}

double pixmanMoves(int W, int H, const std::vector<uint32_t> &px)
{
    std::vector<uint32_t> bg(size_t(W) * H, 0xFF204060), work(bg), screen(bg);
    pixman_image_t *b = pixman_image_create_bits(PIXMAN_a8r8g8b8, W, H, bg.data(), W * 4);
    pixman_image_t *w = pixman_image_create_bits(PIXMAN_a8r8g8b8, W, H, work.data(), W * 4);
    pixman_image_t *s = pixman_image_create_bits(PIXMAN_x8r8g8b8, W, H, screen.data(), W * 4);
    std::vector<uint32_t> premul(px);
    for (uint32_t &p : premul) p = (p >> 24) ? p : 0;
    pixman_image_t *spr = pixman_image_create_bits(PIXMAN_a8r8g8b8, S, S, premul.data(), S * 4);
    int32_t ox = 0, oy = 0;
    const double t = seconds([&] {
        for (int i = 0; i < MOVES; i++) {
            int32_t x, y;
            position(i, W, H, &x, &y);
            const int32_t ux = std::min(ox, x), uy = std::min(oy, y);
            const int32_t uw = std::max(ox, x) + S - ux, uh = std::max(oy, y) + S - uy;
            pixman_image_composite32(PIXMAN_OP_SRC, b, nullptr, w, ux, uy, 0, 0, ux, uy, uw, uh);
            pixman_image_composite32(PIXMAN_OP_OVER, spr, nullptr, w, 0, 0, 0, 0, x, y, S, S);
            pixman_image_composite32(PIXMAN_OP_SRC, w, nullptr, s, ux, uy, 0, 0, ux, uy, uw, uh);
            ox = x, oy = y;
        }
    });
    for (auto *i : {b, w, s, spr}) pixman_image_unref(i);
    return MOVES / t;
}

qxDisplay *display(int W, int H)
{
    qxDisplay *d = qxNewDisplayRecord(1);
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    qxCreateBGPicFromBitmap(&ref, W, H, 0x204060, &d->bgpic);
    d->targetType = QX_OUT_DISPLAY;
    qxCurrentDisplay = d;
    qxDisplayWorkBitmap(d, 1);
    return d;
}

void drop(qxDisplay *d)
{
    while (qxSprites) qxFreeSpriteRecord(nullptr, qxSprites);
    qxFreeDisplaySpriteList(d->bgpic);
    qxFreeOutputState(d);
    qxFreeBGPicRecord(nullptr, d->bgpic);
    qxFreeLayerBackgrounds();
    qxCurrentDisplay = nullptr;
    std::free(d);
}

qxSprite *makeSprite(uint32_t number, const std::vector<uint32_t> &px)
{
    auto **bm = static_cast<qxBitMap **>(std::calloc(1, sizeof(qxBitMap *)));
    auto **mk = static_cast<qxBitMap **>(std::calloc(1, sizeof(qxBitMap *)));
    qxBitMapFromARGB(px.data(), 0xFF00FF, S, S, S, 0, 0, nullptr, &bm[0], &mk[0], nullptr);
    qxObjectRef ref{number, nullptr};
    qxSprite *s = nullptr;
    qxAddSprite(&ref, S, S, nullptr, nullptr, bm, mk, nullptr, 1, 0xFF00FF, nullptr, &s);
    return s;
}

void run(int W, int H)
{
    const std::vector<uint32_t> px = disc();
    const double peer = pixmanMoves(W, H, px);

    qxDisplay *d = display(W, H);
    qxSprite *s = makeSprite(1, px);
    const double sprites = MOVES / seconds([&] {
        for (int i = 0; i < MOVES; i++) {
            int32_t x, y;
            position(i, W, H, &x, &y);
            qxShowSprite(nullptr, s, {1, nullptr}, x, y, 1);
        }
    });
    drop(d);

    d = display(W, H);
    qxBitMap *bm = nullptr, *mk = nullptr;
    qxBitMapFromARGB(px.data(), 0xFF00FF, S, S, S, 0, 0, nullptr, &bm, &mk, nullptr);
    qxMoveState m{};
    m.type = QX_MOVE_PICTURE, m.embedded = 1, m.bitmap = bm, m.mask = mk, m.width = S, m.height = S;
    m.x1 = 0, m.y1 = 0, m.x2 = W - S, m.y2 = H - S, m.speed = 10, m.animspeed = -1;
    // Only the steps are timed; preparing (path, background copy) is not.
    int steps = 0;
    double moveTime = 0;
    while (steps < MOVES) {
        qxMoveState r = m;
        if (qxMoveObject(&r)) break;
        moveTime += seconds([&] {
            for (int done = 0; !done && steps < MOVES; steps++) qxMoveStep(&r, &done);
        });
        qxFreeMoveState(&r, 0);
    }
    qxFreeImagePlanes(bm, mk, nullptr);
    drop(d);

    std::printf("%dx%d, 64x64 masked, step 10: pixman %.0f moves/s\n", W, H, peer);
    std::printf("  DisplaySprite %.0f moves/s  ratio ours/pixman %.2f (target >= 0.8)\n", sprites, sprites / peer);
    std::printf("  move step     %.0f moves/s  ratio ours/pixman %.2f (target >= 0.8)\n", steps / moveTime,
                steps / moveTime / peer);
}

void hundred()
{
    constexpr int W = 1920, H = 1080, N = 100, FRAMES = 60;
    const std::vector<uint32_t> px = disc();
    qxDisplay *d = display(W, H);
    std::vector<qxSprite *> all;
    std::mt19937 rng(3);
    for (uint32_t i = 1; i <= N; i++) all.push_back(makeSprite(i, px));
    std::vector<int32_t> xs(N), ys(N);
    for (int i = 0; i < N; i++) xs[i] = int32_t(rng() % (W - S)), ys[i] = int32_t(rng() % (H - S));
    const double t = seconds([&] {
        for (int f = 0; f < FRAMES; f++)
            for (int i = 0; i < N; i++) {
                xs[i] = (xs[i] + 10) % (W - S);
                qxShowSprite(nullptr, all[i], {uint32_t(i + 1), nullptr}, xs[i], ys[i], 1);
            }
    });
    std::printf("1920x1080, 100 sprites moved per frame: %.2f ms per frame (goal < 16.7 ms)\n", t * 1e3 / FRAMES);
    drop(d);
}

} // namespace

int main()
{
    qxLinkLayerEngine();
    run(640, 480);
    run(1920, 1080);
    hundred();
    return 0;
}
