// Image objects, each line against its peer in the same run:
// - LoadBrush and LoadBGPic (with FreeBrush / FreeBGPic) of 1080p PNG and
//   JPEG files through the VM against the picture loader alone
//   (qxLoadPictureAny and qxFreePictureHeader); target at most 1.15 times.
// - 1000 64x64 sprites with alpha per 1920x1080 frame through the bitmap
//   blit that a display core calls for each one, against pixman compositing
//   the same sprites OVER; target at least 0.8 times pixman's frame rate.
// The loads make a second 1080p buffer (the bitmap beside the decoded
// pixels); the heap is tuned as the player tunes it at start-up, so that
// freed pictures are not given back to the system and faulted in again.
#include <pixman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/commands/qx_commands.h"
#include "core/vm/lua.h"
#include "display/qx_bitmap.h"
#include "objects/formats/qx_picformats.h"
#include "objects/qx_objectlibs.h"
#include "platform/qx_memory.h"

namespace {

constexpr int W = 1920, H = 1080, SPRITE = 64, SPRITES = 1000;
const std::string dir = "/tmp/qx_bench_objects";

double seconds(const std::function<void()> &f, int runs)
{
    f(); // warm up
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

// A script command called by its global name with a number and a text.
bool call(lua_State *L, const char *name, double id, const char *file)
{
    lua_settop(L, 0);
    lua_pushstring(L, name);
    lua_gettable(L, LUA_GLOBALSINDEX);
    lua_pushnumber(L, id);
    int n = 1;
    if (file) {
        lua_pushstring(L, file);
        n++;
    }
    return lua_pcall(L, n, 0, 0) == 0;
}

void benchLoads(lua_State *L, const std::string &file)
{
    const char *f = file.c_str();
    bool ok = true;
    double loader = seconds(
        [&] {
            qxPictureHandle *h = nullptr;
            uint32_t w, hh;
            ok &= qxLoadPictureAny(f, nullptr, nullptr, nullptr, 0xFFFFFFFFu, 0, &h, nullptr, nullptr, &w, &hh,
                                   nullptr, nullptr, nullptr) == 0;
            qxFreePictureHeader(h);
        },
        5);
    double brush = seconds([&] { ok &= call(L, "loadbrush", 1, f) && call(L, "freebrush", 1, nullptr); }, 5);
    double bgpic = seconds([&] { ok &= call(L, "loadbgpic", 1, f) && call(L, "freebgpic", 1, nullptr); }, 5);
    std::printf("  %-28s loader %7.2f ms  LoadBrush %7.2f ms (ratio %.2f)  LoadBGPic %7.2f ms (ratio %.2f)%s\n",
                file.substr(dir.size() + 1).c_str(), loader * 1e3, brush * 1e3, brush / loader, bgpic * 1e3,
                bgpic / loader, ok ? "" : "  FAILED");
}

void benchSprites()
{
    std::mt19937 rng(5);
    std::vector<std::pair<int, int>> at(SPRITES);
    for (auto &p : at)
        p = {int(rng() % (W - SPRITE)), int(rng() % (H - SPRITE))};

    // Ours: a bitmap with an alpha channel, as a brush holds it.
    qxBitMap *dest = qxAllocBitMap(W, H, 0, nullptr);
    qxBitMap *sprite = qxAllocBitMap(SPRITE, SPRITE, 0, nullptr);
    qxBitMap *alpha = qxAllocAlphaBitMap(SPRITE, SPRITE, 0, nullptr, 0);
    std::vector<uint32_t> argb(SPRITE * SPRITE);
    qxBitMapLock lock;
    if (!dest || !sprite || !alpha || !qxLockBitMap(sprite, 0, &lock)) {
        std::printf("  sprites: cannot allocate\n");
        return;
    }
    auto *planeBytes = reinterpret_cast<uint8_t *>(uintptr_t(qxGetBitMapAttr(alpha, 3)));
    const uint32_t planeRow = uint32_t(qxGetBitMapAttr(alpha, 1));
    for (int y = 0; y < SPRITE; y++)
        for (int x = 0; x < SPRITE; x++) {
            uint32_t rgb = rng() & 0xFFFFFF, a = uint32_t((x * 4 + y * 2) & 0xFF);
            static_cast<uint32_t *>(lock.pixels)[y * lock.pixelsPerRow + x] = 0xFF000000u | rgb;
            planeBytes[y * planeRow + x] = uint8_t(a);
            // pixman wants premultiplied colour.
            uint32_t r = ((rgb >> 16) & 0xFF) * a / 255, g = ((rgb >> 8) & 0xFF) * a / 255, b = (rgb & 0xFF) * a / 255;
            argb[size_t(y) * SPRITE + x] = a << 24 | r << 16 | g << 8 | b;
        }
    qxUnLockBitMap(&lock);
    const int frames = 10;
    double ours = seconds(
        [&] {
            for (int f = 0; f < frames; f++)
                for (auto [x, y] : at)
                    qxBltBitMapThroughAlpha(sprite, 0, 0, dest, x, y, SPRITE, SPRITE, alpha);
        },
        5);

    std::vector<uint32_t> frame(size_t(W) * H, 0xFF204060u);
    pixman_image_t *pd = pixman_image_create_bits(PIXMAN_x8r8g8b8, W, H, frame.data(), W * 4);
    pixman_image_t *ps = pixman_image_create_bits(PIXMAN_a8r8g8b8, SPRITE, SPRITE, argb.data(), SPRITE * 4);
    double peer = seconds(
        [&] {
            for (int f = 0; f < frames; f++)
                for (auto [x, y] : at)
                    pixman_image_composite32(PIXMAN_OP_OVER, ps, nullptr, pd, 0, 0, 0, 0, x, y, SPRITE, SPRITE);
        },
        5);
    pixman_image_unref(ps);
    pixman_image_unref(pd);
    const double blits = double(frames) * SPRITES;
    std::printf("  %d sprites %dx%d with alpha per %dx%d frame:\n", SPRITES, SPRITE, SPRITE, W, H);
    std::printf("    ours   %9.0f blits/s  %6.1f frames/s\n", blits / ours, frames / ours);
    std::printf("    pixman %9.0f blits/s  %6.1f frames/s\n", blits / peer, frames / peer);
    std::printf("    frame rate ratio ours/pixman %.2f (target >= 0.80)\n", peer / ours);
    qxFreeAlphaBitMap(alpha);
    qxFreeBitMap(sprite);
    qxFreeBitMap(dest);
}

} // namespace

int main()
{
    qxTuneHeap();
    (void)!std::system(("mkdir -p " + dir).c_str());
    const std::string base = dir + "/photo";
    // A photo-like 1080p picture, made once.
    const std::string make = "test -s " + base + ".jpg || (convert -seed 7 -size " + std::to_string(W) + "x" +
                             std::to_string(H) + " plasma:fractal -blur 0x1 -attenuate 0.3 +noise Gaussian -depth 8 " +
                             base + ".png && convert " + base + ".png -quality 90 " + base + ".jpg)";
    if (std::system((make + " >/dev/null 2>&1").c_str()) != 0) {
        std::printf("ImageMagick could not make the pictures; skipping the load lines\n");
    } else {
        qxSetTag(QX_TAG_QUIET, 1); // no "Loading brush ..." lines
        lua_State *L = lua_open();
        if (!L || qxOpenBrushLib(L) || qxOpenBGPicLib(L)) {
            std::printf("cannot open the brush and bgpic libraries\n");
            return 1;
        }
        std::printf("Loading a 1080p picture, best of 5 (time ratio target <= 1.15):\n");
        benchLoads(L, base + ".png");
        benchLoads(L, base + ".jpg");
        qxFreeAllBGPics(L);
        qxFreeAllBrushes(L);
        lua_close(L);
    }
    std::printf("Sprites through the alpha blit, best of 5 runs of 10 frames:\n");
    benchSprites();
    return 0;
}
