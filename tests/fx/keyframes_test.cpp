// Where single frames draw: the rectangle each key frame changes, worked
// out by hand from the effects' geometry.
#include <gtest/gtest.h>

#include <algorithm>

#include "fxharness.h"

namespace {

struct Box {
    int32_t x, y, w, h;
    bool operator==(const Box &) const = default;
};

std::ostream &operator<<(std::ostream &o, const Box &b)
{
    return o << b.x << "," << b.y << " " << b.w << "x" << b.h;
}

// Runs an effect up to frame `upTo` (1-based) and returns the box of the
// pixels that frame changed.
Box frameBox(int32_t id, int32_t w, int32_t h, int32_t speed, int32_t upTo, int32_t parameter = -1)
{
    fxtest::FxRun run(id, w, h, speed, fxtest::Planes::Opaque, false);
    run.fx.parameter = parameter;
    std::vector<uint32_t> before;
    Box box{-1, -1, 0, 0};
    run.play(upTo, [&](int32_t n) {
        auto now = fxtest::readPixels(run.target);
        if (n == upTo) {
            int32_t x0 = w, y0 = h, x1 = -1, y1 = -1;
            for (int32_t y = 0; y < h; y++)
                for (int32_t x = 0; x < w; x++)
                    if (now[size_t(y) * w + x] != before[size_t(y) * w + x])
                        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            if (x1 >= 0) box = {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
        }
        before = std::move(now);
    });
    // The first frame compares against the old picture.
    return box;
}

Box firstFrame(int32_t id, int32_t w, int32_t h, int32_t speed)
{
    fxtest::FxRun run(id, w, h, speed, fxtest::Planes::Opaque, false);
    auto before = fxtest::readPixels(run.target);
    Box box{-1, -1, 0, 0};
    run.play(1, [&](int32_t) {
        auto now = fxtest::readPixels(run.target);
        int32_t x0 = w, y0 = h, x1 = -1, y1 = -1;
        for (int32_t y = 0; y < h; y++)
            for (int32_t x = 0; x < w; x++)
                if (now[size_t(y) * w + x] != before[size_t(y) * w + x])
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        if (x1 >= 0) box = {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    });
    return box;
}

TEST(KeyFrames, FirstFrames)
{
    EXPECT_EQ(firstFrame(38, 640, 480, -1), (Box{315, 236, 10, 8}));   // RECTCENTER
    EXPECT_EQ(firstFrame(26, 640, 480, -1), (Box{0, 237, 640, 6}));    // HOPENCURTAIN: rows 237-240, 239-242
    EXPECT_EQ(firstFrame(107, 640, 480, -1), (Box{157, 118, 325, 244})); // QUADRECT: 5x4 rings at (157, 118), (477, 358)
    EXPECT_EQ(firstFrame(108, 640, 480, -1), (Box{160, 0, 325, 480})); // HSPLIT: columns 160-164, 480-484
    EXPECT_EQ(firstFrame(110, 100, 100, 30), (Box{0, 0, 26, 100}));    // UPNDOWN: rows 0-31 and 69-100
    EXPECT_EQ(firstFrame(30, 640, 480, -1), (Box{0, 0, 10, 480}));     // REVEALLEFT
    EXPECT_EQ(firstFrame(31, 640, 480, -1), (Box{630, 0, 10, 480}));   // REVEALRIGHT
    EXPECT_EQ(firstFrame(83, 640, 480, -1), (Box{0, 0, 10, 10}));      // DIAGONAL
    EXPECT_EQ(firstFrame(28, 40, 40, -1), (Box{0, 0, 40, 40}));        // BARS: the partial column is whole
}

TEST(KeyFrames, LaterFrames)
{
    const Box last = frameBox(30, 640, 480, -1, 64);
    EXPECT_EQ(last, (Box{630, 0, 10, 480})); // REVEALLEFT's last band
    // VLINES on 4 columns: 0, 2, 3, 3 (nothing new), 1.
    const int32_t columns[] = {0, 2, 3, -1, 1};
    for (int32_t f = 1; f <= 5; f++) {
        const Box b = f == 1 ? firstFrame(37, 4, 9, -1) : frameBox(37, 4, 9, -1, f);
        if (columns[f - 1] < 0) EXPECT_EQ(b, (Box{-1, -1, 0, 0})) << f;
        else EXPECT_EQ(b, (Box{columns[f - 1], 0, 1, 9})) << f;
    }
}

} // namespace
