// Frames put into windows and read back by a peer (XGetImage through
// python-xlib) at depths 24 and 16: offsets, hidden displays, videos cut
// out (any number of them), premultiplied alpha, and screen grabs past the root's edge.
#include "x11fixture.h"

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream &operator<<(std::ostream &os, const Rgb &c)
{
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

class X11Output : public X11Test, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        startServer(GetParam(), false);
        d = open(0, 0, 64, 48);
        ASSERT_NE(d, nullptr);
        format = GetParam() == 16 ? 4 : 10;
    }
    // The window's pixels as the peer reads them.
    std::vector<Rgb> readBack()
    {
        std::string ppm = server.run("/usr/bin/python3 " + tool("xprobe.py") + " " + id(d) +
                                     " 0 0 64 48");
        std::vector<Rgb> out;
        size_t header = ppm.find("255\n");
        if (header == std::string::npos)
            return out;
        const auto *p = reinterpret_cast<const uint8_t *>(ppm.data() + header + 4);
        for (size_t i = 0; i + 2 < ppm.size() - header - 4 + 1 && out.size() < 64 * 48; i += 3)
            out.push_back({p[i], p[i + 1], p[i + 2]});
        return out;
    }
    // A colour as it comes back through the server's pixel format.
    Rgb expected(int r, int g, int b) const
    {
        if (format != 4)
            return {r, g, b};
        auto scale = [](int v, int bits) { return ((v >> (8 - bits)) * 255 + (1 << (bits - 1)) - 1) / ((1 << bits) - 1); };
        return {scale(r, 5), scale(g, 6), scale(b, 5)};
    }
    // A w x h frame whose pixel (x, y) has red 4x, green 5y, blue 0x80.
    std::vector<uint32_t> pattern(int w, int h)
    {
        std::vector<uint32_t> px((size_t)w * h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                px[(size_t)y * w + x] = x11ColorToPixel(0xFF000000u | (uint32_t)(x * 4) << 16 |
                                                            (uint32_t)(y * 5) << 8 | 0x80,
                                                        format);
        return px;
    }
    void put(std::vector<uint32_t> &px, int w, int h, int sx, int sy, int dx, int dy, int pw, int ph,
             uint32_t flags = 0)
    {
        if (format == 4) {
            std::vector<uint16_t> narrow(px.begin(), px.end());
            x11BltBitMap(narrow.data(), (uint32_t)w * 2, (uint32_t)w, (uint32_t)h, 4, sx, sy, d, dx,
                         dy, pw, ph, flags);
        } else {
            x11BltBitMap(px.data(), (uint32_t)w * 4, (uint32_t)w, (uint32_t)h, 10, sx, sy, d, dx, dy,
                         pw, ph, flags);
        }
    }
    qxDisplay *d = nullptr;
    int format = 10;
};

TEST_P(X11Output, FrameWithPictureOffsets)
{
    x11FillRect(d, 0, 0, 64, 48, 0x102030);
    auto px = pattern(40, 30);
    d->marginLeft = 5;
    d->marginTop = 3;
    put(px, 40, 30, 2, 1, 0, 0, 30, 20);
    auto got = readBack();
    ASSERT_EQ(got.size(), 64u * 48u);
    EXPECT_EQ(got[(3 + 0) * 64 + 5 + 0], expected(2 * 4, 1 * 5, 0x80));
    EXPECT_EQ(got[(3 + 19) * 64 + 5 + 29], expected(31 * 4, 20 * 5, 0x80));
    // Outside the put the fill (at the same offsets) stays.
    EXPECT_EQ(got[(3 + 20) * 64 + 5 + 29], expected(0x10, 0x20, 0x30));
}

TEST_P(X11Output, HiddenDisplaysAndVideosAreLeftAlone)
{
    x11FillRect(d, 0, 0, 64, 48, 0x00FF00);
    std::vector<uint32_t> white(64 * 48, x11ColorToPixel(0xFFFFFFFF, format));
    d->state = QX_DISPSTATE_MINIMIZED;
    put(white, 64, 48, 0, 0, 0, 0, 64, 48);
    d->state = QX_DISPSTATE_OPEN;
    EXPECT_EQ(readBack()[100], expected(0, 0xFF, 0));
    // Two overlapping videos: both rectangles, overlap included, are kept.
    qxUpcalls.videoRects = [](qxDisplay *, int32_t (*r)[4], int max) {
        if (max < 2)
            return 0;
        const int32_t rects[2][4] = {{10, 10, 20, 10}, {20, 15, 20, 10}};
        std::memcpy(r, rects, sizeof rects);
        return 2;
    };
    put(white, 64, 48, 0, 0, 0, 0, 64, 48);
    auto got = readBack();
    Rgb green = expected(0, 0xFF, 0), whiteRgb = expected(0xFF, 0xFF, 0xFF);
    EXPECT_EQ(got[12 * 64 + 12], green);
    EXPECT_EQ(got[17 * 64 + 22], green); // the overlap
    EXPECT_EQ(got[22 * 64 + 38], green);
    EXPECT_EQ(got[5 * 64 + 5], whiteRgb);
    // Twenty videos: those past the sixteenth are cut out too. The list
    // fills at most the room it is given, as the video library's does.
    x11FillRect(d, 0, 0, 64, 48, 0x00FF00);
    qxUpcalls.videoRects = [](qxDisplay *, int32_t (*r)[4], int max) {
        int n = std::min(max, 20);
        for (int i = 0; i < n; i++) {
            const int32_t rect[4] = {(i % 8) * 8, (i / 8) * 8 + 24, 4, 4};
            std::memcpy(r[i], rect, sizeof rect);
        }
        return n;
    };
    put(white, 64, 48, 0, 0, 0, 0, 64, 48);
    got = readBack();
    for (int i = 0; i < 20; i++)
        EXPECT_EQ(got[((i / 8) * 8 + 24 + 2) * 64 + (i % 8) * 8 + 2], green) << "video " << i;
    EXPECT_EQ(got[(24 + 5) * 64 + 5], whiteRgb);
    // Flag 32: no clip region, the whole rectangle is drawn.
    std::vector<uint32_t> black(64 * 48, x11ColorToPixel(0xFF000000, format));
    put(black, 64, 48, 0, 0, 0, 0, 64, 48, 32);
    EXPECT_EQ(readBack()[17 * 64 + 22], expected(0, 0, 0));
}

TEST_P(X11Output, GrabPastTheRootEdge)
{
    x11FillRect(d, 0, 0, 64, 48, 0xC08040);
    uint32_t bpp = 0;
    void *grab = x11GrabScreen(d, -10, -5, 30, 20, &bpp);
    ASSERT_NE(grab, nullptr);
    ASSERT_EQ(bpp, GetParam() == 16 ? 2u : 4u);
    auto pixel = [&](int x, int y) {
        uint32_t v = 0;
        std::memcpy(&v, static_cast<uint8_t *>(grab) + ((size_t)y * 30 + x) * bpp, bpp);
        return v;
    };
    EXPECT_EQ(pixel(0, 0), 0u);
    EXPECT_EQ(pixel(9, 19), 0u);
    EXPECT_EQ(pixel(12, 7), x11ColorToPixel(0xC08040, format));
    std::free(grab);
}

INSTANTIATE_TEST_SUITE_P(Depth, X11Output, ::testing::Values(24, 16),
                         [](const auto &info) { return "depth" + std::to_string(info.param); });

TEST_F(X11Test, AlphaWindowGetsPremultipliedFrames)
{
    startServer(24, false);
    std::vector<uint8_t> alpha(32 * 16, 128);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 8; x++)
            alpha[(size_t)y * 32 + x] = 0; // a transparent band shapes the window
    qxDisplay *d = qxNewDisplayRecord(1);
    d->width = 32;
    d->height = 16;
    qxAppendDisplay(d);
    ASSERT_EQ(x11AllocDisplayData(d), 0);
    int r = x11OpenDisplay(d, 1, nullptr, 0, alpha.data(), 32);
    if (r == 1436 || r == 1437)
        GTEST_SKIP() << "no 32-bit visual or XFixes on this server";
    ASSERT_EQ(r, 0);
    std::vector<uint32_t> white(32 * 16, 0xFFFFFFFF);
    x11BltBitMap(white.data(), 32 * 4, 32, 16, 10, 0, 0, d, 0, 0, 32, 16, 0);
    x11DisplayData *x = x11Data(d);
    EXPECT_EQ(x->scratch[5 * 32 + 20], 0x80808080u);
    EXPECT_EQ(x->scratch[0], 0u);
    XImage *img = XGetImage(x->display, x->window, 20, 5, 1, 1, AllPlanes, ZPixmap);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(XGetPixel(img, 0, 0) & 0xFFFFFF, 0x808080u);
    XDestroyImage(img);
    std::string shape = server.run("xwininfo -shape -id " + id(d));
    EXPECT_NE(shape.find("Window shape extents:  24x16+8+0"), std::string::npos) << shape;
}

} // namespace

namespace {

TEST_F(X11Test, ExposeRedrawsWholeAndAlphaNeedsDepth24)
{
    startServer(16, false);
    static int refreshMode;
    refreshMode = 0;
    qxUpcalls.refreshWholeDisplay = [](qxDisplay *, int mode) {
        refreshMode = mode;
        return 0;
    };
    qxDisplay *d = open(0, 0, 40, 30);
    ASSERT_NE(d, nullptr);
    XClearArea(x11Data(d)->display, window(d), 0, 0, 0, 0, True); // an Expose
    pump(1000, 0.3);
    EXPECT_EQ(refreshMode, 2);
    std::vector<uint8_t> alpha(40 * 30, 255);
    qxDisplay *shaped = qxNewDisplayRecord(9);
    shaped->width = 40;
    shaped->height = 30;
    qxAppendDisplay(shaped);
    ASSERT_EQ(x11AllocDisplayData(shaped), 0);
    int r = x11OpenDisplay(shaped, 1, nullptr, 0, alpha.data(), 40);
    EXPECT_TRUE(r == 1435 || r == 1436) << r;
    EXPECT_EQ(x11Data(shaped)->window, 0u);
}

} // namespace
