// DisplayBrush of a 64x64 sprite with an alpha channel into a 1920x1080
// brush chosen with SelectBrush, called through the VM like a script does,
// against pixman compositing the same sprites OVER; and Flip of 100 dirty
// rectangles against a whole copy.
#include <pixman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_display.h"
#include "imaging/qx_blit.h"
#include "objects/qx_brush.h"
#include "objects/qx_displaycore.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"

namespace {

constexpr int W = 1920, H = 1080, S = 64, SPRITES = 1000;
using Clock = std::chrono::steady_clock;

// Best time of repeated runs of op, in seconds.
double best(const auto &op)
{
    op();
    double t = 1e30;
    auto end = Clock::now() + std::chrono::milliseconds(600);
    for (int runs = 0; Clock::now() < end || runs < 3; ++runs) {
        auto t0 = Clock::now();
        op();
        t = std::min(t, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return t;
}

struct Sprite {
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> alpha;
};

Sprite makeSprite()
{
    Sprite s{std::vector<uint32_t>(S * S), std::vector<uint8_t>(S * S)};
    std::mt19937 rng(1);
    for (int y = 0; y < S; ++y)
        for (int x = 0; x < S; ++x) {
            int dx = x - S / 2, dy = y - S / 2, d2 = dx * dx + dy * dy;
            s.pixels[y * S + x] = 0xFF000000u | (rng() & 0xFFFFFF);
            s.alpha[y * S + x] = uint8_t(d2 < 24 * 24 ? 255 : d2 < 30 * 30 ? 128 : 0);
        }
    return s;
}

int call(lua_State *L, lua_CFunction f, std::initializer_list<double> args)
{
    lua_pushcfunction(L, f);
    for (double a : args) lua_pushnumber(L, a);
    return lua_pcall(L, int(args.size()), 0, 0);
}

} // namespace

int main()
{
    const Sprite sprite = makeSprite();
    std::vector<std::pair<int, int>> at(SPRITES);
    std::mt19937 rng(2);
    for (auto &p : at) p = {int(rng() % (W - S)), int(rng() % (H - S))};

    // Ours: a display without a window, brush 1 the canvas, brush 2 the sprite.
    lua_State *L = lua_open();
    qxDisplay *d = qxNewDisplayRecord(1);
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    qxCreateBGPicFromBitmap(&ref, 640, 480, 0, &d->bgpic);
    qxCurrentDisplay = d;
    qxBitMapDisplay.currentView = qxOutputView;
    qxObjectRef canvas{1, nullptr}, spriteRef{2, nullptr};
    qxBitMap *cb = qxAllocBitMap(W, H, 0, nullptr);
    qxFillBitMapColour(cb, 0x204060);
    qxAddBrush(&canvas, 0, W, H, W, 0, nullptr, cb, 0xFFFFFFFFu, nullptr, nullptr, nullptr, nullptr);
    qxBitMap *sb = nullptr, *sm = nullptr;
    qxBitMapFromARGB(sprite.pixels.data(), 0xFFFFFFFFu, S, S, S, 0, 0, nullptr, &sb, &sm, nullptr);
    // The alpha plane: the sprite's coverage.
    qxBitMap *sa = qxAllocAlphaBitMap(S, S, 0, nullptr, 0);
    const qxPlane plane = qxPlaneOf(sa);
    for (int y = 0; y < S; ++y)
        for (int x = 0; x < S; ++x) plane.bytes[size_t(y) * plane.bytesPerRow + x] = sprite.alpha[y * S + x];
    qxAddBrush(&spriteRef, 0, S, S, S, 0, nullptr, sb, 0xFFFFFFFFu, nullptr, sa, nullptr, nullptr);
    if (call(L, qxCmdSelectBrush, {1})) {
        std::puts("SelectBrush failed");
        return 1;
    }
    const double ours = best([&] {
        for (auto [x, y] : at) call(L, qxCmdDisplayBrush, {2, double(x), double(y)});
    });

    {
        // Both sides must have drawn the same sprite centre.
        qxBitMapLock lock;
        auto [x, y] = at.back();
        if (qxLockBitMap(cb, 1, &lock)) {
            uint32_t got = static_cast<uint32_t *>(lock.pixels)[size_t(y + S / 2) * lock.pixelsPerRow + x + S / 2];
            uint32_t want = sprite.pixels[S / 2 * S + S / 2];
            if ((got & 0xFFFFFF) != (want & 0xFFFFFF)) std::printf("canvas pixel %08x, sprite %08x\n", got, want);
            qxUnLockBitMap(&lock);
        }
    }
    // pixman: the same pixels with the coverage as an a8 mask.
    std::vector<uint32_t> dst(size_t(W) * H, 0xFF204060u), spix = sprite.pixels;
    std::vector<uint8_t> amask(S * S);
    for (int i = 0; i < S * S; ++i) amask[i] = sprite.alpha[i];
    pixman_image_t *pd = pixman_image_create_bits(PIXMAN_x8r8g8b8, W, H, dst.data(), W * 4);
    pixman_image_t *ps = pixman_image_create_bits(PIXMAN_x8r8g8b8, S, S, spix.data(), S * 4);
    pixman_image_t *pm = pixman_image_create_bits(PIXMAN_a8, S, S, reinterpret_cast<uint32_t *>(amask.data()), S);
    const double theirs = best([&] {
        for (auto [x, y] : at) pixman_image_composite32(PIXMAN_OP_OVER, ps, pm, pd, 0, 0, 0, 0, x, y, S, S);
    });
    std::printf("DisplayBrush 64x64 alpha, %d per frame   ours %8.0f fps  pixman %8.0f fps   ratio %.2f\n", SPRITES,
                1 / ours, 1 / theirs, theirs / ours);
    std::printf("  per sprite: ours %.2f us, pixman %.2f us\n", ours / SPRITES * 1e6, theirs / SPRITES * 1e6);

    // The same sprite with a mask (its opaque disc) instead of the alpha
    // channel, against pixman with an a1 mask.
    {
        qxObjectRef masked{3, nullptr};
        qxBitMap *mb = nullptr, *mm = nullptr;
        qxBitMapFromARGB(sprite.pixels.data(), 0xFFFFFFFFu, S, S, S, 0, 0, nullptr, &mb, &mm, nullptr);
        mm = qxAllocMaskBitMap(mb, S, S, 1, nullptr, 0);
        const qxPlane mp = qxPlaneOf(mm);
        std::vector<uint32_t> a1(S * S / 32);
        for (int y = 0; y < S; ++y)
            for (int x = 0; x < S; ++x)
                if (sprite.alpha[y * S + x] == 255) {
                    qxSetMaskBit(mp.bytes + size_t(y) * mp.bytesPerRow, x, true);
                    a1[(y * S + x) / 32] |= 1u << (x & 31);
                }
        qxAddBrush(&masked, 0, S, S, S, 0, nullptr, mb, 0xFFFFFFFFu, mm, nullptr, nullptr, nullptr);
        const double oursMask = best([&] {
            for (auto [x, y] : at) call(L, qxCmdDisplayBrush, {3, double(x), double(y)});
        });
        pixman_image_t *p1 = pixman_image_create_bits(PIXMAN_a1, S, S, a1.data(), S / 8);
        const double theirsMask = best([&] {
            for (auto [x, y] : at) pixman_image_composite32(PIXMAN_OP_OVER, ps, p1, pd, 0, 0, 0, 0, x, y, S, S);
        });
        std::printf("DisplayBrush 64x64 mask, %d per frame    ours %8.0f fps  pixman %8.0f fps   ratio %.2f\n",
                    SPRITES, 1 / oursMask, 1 / theirsMask, theirsMask / oursMask);
        pixman_image_unref(p1);
    }

    // Flip: 100 small dirty rectangles against a full list (whole copy).
    call(L, qxCmdEndSelect, {});
    qxObjectRef big{0, QX_NEW_AUTOMATIC};
    qxBGPic *full = nullptr;
    qxCreateBGPicFromBitmap(&big, W, H, 0, &full);
    d->bgpic = full;
    if (call(L, qxCmdBeginDoubleBuffer, {})) {
        std::puts("BeginDoubleBuffer failed");
        return 1;
    }
    qxOutputState *s = qxOutputOf(d, 0);
    const double rects = best([&] {
        for (int i = 0; i < 100; ++i) qxAddDirtyRect(d, (i * 97) % (W - 32), (i * 53) % (H - 32), 32, 32);
        call(L, qxCmdFlip, {0});
    });
    const double whole = best([&] {
        for (uint32_t i = 0; i <= s->dirtyCapacity; ++i) qxAddDirtyRect(d, 0, 0, 1, 1);
        call(L, qxCmdFlip, {0});
    });
    std::printf("Flip 100 dirty 32x32 rectangles %.1f us, whole 1920x1080 copy %.1f us   ratio %.2f\n", rects * 1e6,
                whole * 1e6, whole / rects);
    qxFreeAllBrushes(L);
    lua_close(L);
    pixman_image_unref(pd);
    pixman_image_unref(ps);
    pixman_image_unref(pm);
    return 0;
}
