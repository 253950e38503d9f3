// Windows on a private server, with and without a window manager: the
// properties and geometry peers read back, frame sizes and states.
#include "x11fixture.h"

namespace {

class X11Window : public X11Test, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { startServer(24, GetParam()); }
};

TEST_P(X11Window, PropertiesAndGeometry)
{
    double before = qxGetSeconds();
    x11Connection *c = nullptr;
    ASSERT_EQ(x11OpenConnection(nullptr, &c), 0);
    // Without a manager the frame probe gives up after about 100 ms.
    EXPECT_LT(qxGetSeconds() - before, GetParam() ? 2.0 : 0.5);
    qxDisplay *d = open(50, 60, 320, 200, 0, "Zephyrane Probe");
    ASSERT_NE(d, nullptr);
    std::string props = server.run("xprop -id " + id(d));
    EXPECT_NE(props.find("WM_NAME(STRING) = \"Zephyrane Probe\""), std::string::npos) << props;
    EXPECT_NE(props.find("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x1, 0x13, 0x0, 0x0, 0x0"),
              std::string::npos);
    EXPECT_NE(props.find("WM_PROTOCOLS(ATOM): protocols  WM_DELETE_WINDOW"), std::string::npos);
    EXPECT_NE(props.find("program specified minimum size: 320 by 200"), std::string::npos);
    EXPECT_NE(props.find("program specified maximum size: 320 by 200"), std::string::npos);
    EXPECT_NE(props.find("XdndAware(ATOM)"), std::string::npos);
    EXPECT_NE(props.find("_NET_WM_ICON(CARDINAL)"), std::string::npos);
    EXPECT_EQ(props.find("_NET_WM_STATE(ATOM) = _NET_WM_STATE_FULLSCREEN"), std::string::npos);
    std::string info = server.run("xwininfo -id " + id(d));
    EXPECT_NE(info.find("Width: 320"), std::string::npos) << info;
    EXPECT_NE(info.find("Height: 200"), std::string::npos);
    EXPECT_NE(info.find("Map State: IsViewable"), std::string::npos);
    if (GetParam()) {
        // The frame sizes are the manager's _NET_FRAME_EXTENTS.
        unsigned l = 0, r = 0, t = 0, b = 0;
        std::string ext = server.run("xprop -id " + id(d) + " _NET_FRAME_EXTENTS");
        ASSERT_EQ(std::sscanf(ext.c_str(), "_NET_FRAME_EXTENTS(CARDINAL) = %u, %u, %u, %u", &l, &r,
                              &t, &b),
                  4)
            << ext;
        EXPECT_EQ(d->borderLeft, (int)l);
        EXPECT_EQ(d->borderTop, (int)t);
        EXPECT_EQ(d->borderWidth, (int)(l + r));
        EXPECT_EQ(d->borderHeight, (int)(t + b));
        EXPECT_GT(t, 0u);
    } else {
        EXPECT_EQ(d->borderLeft + d->borderTop + d->borderWidth + d->borderHeight, 0);
    }
}

TEST_P(X11Window, BorderlessFullMonitorIsFullScreen)
{
    qxDisplay *full = open(0, 0, 1024, 768, QX_DISP_BORDERLESS | QX_DISP_ALWAYSONTOP);
    qxDisplay *framed = open(0, 0, 1024, 768);
    ASSERT_TRUE(full && framed);
    EXPECT_NE(server.run("xprop -id " + id(full) + " _NET_WM_STATE")
                  .find("_NET_WM_STATE_FULLSCREEN, _NET_WM_STATE_ABOVE"),
              std::string::npos);
    EXPECT_EQ(server.run("xprop -id " + id(framed) + " _NET_WM_STATE").find("FULLSCREEN"),
              std::string::npos);
    std::string motif = server.run("xprop -id " + id(full) + " _MOTIF_WM_HINTS");
    EXPECT_NE(motif.find("0x3, 0x13, 0x0"), std::string::npos) << motif;
}

TEST_P(X11Window, CloseMoveAndTitle)
{
    qxDisplay *d = open(10, 10, 100, 80, QX_DISP_SIZEABLE);
    ASSERT_NE(d, nullptr);
    std::snprintf(d->title, sizeof d->title, "Renamed");
    x11SetTitle(d);
    d->x = 200;
    d->y = 150;
    d->width = 140;
    x11MoveSizeWindow(d);
    x11CheckErrors(x11Data(d)->display);
    EXPECT_NE(server.run("xprop -id " + id(d) + " WM_NAME").find("\"Renamed\""), std::string::npos);
    std::string before = id(d);
    double end = qxGetSeconds() + 2;
    std::string info;
    while (qxGetSeconds() < end) {
        info = server.run("xwininfo -id " + before);
        if (info.find("Width: 140") != std::string::npos)
            break;
        usleep(20000);
    }
    EXPECT_NE(info.find("Width: 140"), std::string::npos) << info;
    x11CloseDisplay(d);
    EXPECT_EQ(x11Data(d)->window, 0u);
    EXPECT_NE(server.run("xwininfo -id " + before + " 2>&1; echo done").find("done"),
              std::string::npos);
    EXPECT_EQ(server.run("xwininfo -id " + before).find("Width"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Manager, X11Window, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "openbox" : "bare"; });

TEST(X11Connection, UnreachableServerAndMissingWindows)
{
    x11Connection *c = nullptr;
    EXPECT_EQ(x11OpenConnection(":987654", &c), 1431);
    // Operations on a display without a window do nothing.
    qxDisplay *d = qxNewDisplayRecord(1);
    ASSERT_EQ(x11AllocDisplayData(d), 0);
    x11MoveWindow(d);
    x11ShowWindow(d, 1);
    x11FillRect(d, 0, 0, 5, 5, 0);
    uint32_t px = 0;
    EXPECT_EQ(x11BltBitMap(&px, 4, 1, 1, 10, 0, 0, d, 0, 0, 1, 1, 0), 0);
    x11CloseDisplay(d);
    x11FreeDisplayData(d);
    std::free(d);
}

} // namespace

namespace {

TEST_F(X11Test, DepthEightServerIsRefused)
{
    qxScreenPixelFormat = -1;
    x11NoMouseHook = 1;
    ASSERT_TRUE(server.startXvfb(8, false));
    setup();
    x11Connection *c = nullptr;
    EXPECT_EQ(x11OpenConnection(nullptr, &c), 1171);
    EXPECT_EQ(x11OpenConnection(nullptr, &c), 1171);
    qxDisplay *d = qxNewDisplayRecord(1);
    EXPECT_EQ(x11InitPixelFormat(d), 0); // falls back to native ARGB
    EXPECT_EQ(qxScreenPixelFormat, 10);
    std::free(d);
}

TEST_F(X11Test, ScaleFactorFromTheServersResources)
{
    startServer(24, false);
    std::string file = ::testing::TempDir() + "qxres" + std::to_string(getpid());
    FILE *f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("Xft.dpi: 144\n", f);
    std::fclose(f);
    server.run("xrdb -nocpp -merge " + file);
    unlink(file.c_str());
    ASSERT_EQ(x11InitPlatform(), 0);
    double factor = 0;
    qxGetScaleFactor(&factor);
    EXPECT_DOUBLE_EQ(factor, 1.5);
    int dx = 0, dy = 0;
    x11GetDPI(&dx, &dy);
    EXPECT_EQ(dx, 72);
}

} // namespace

namespace {

TEST_F(X11Test, GrabsHandedBetweenFullScreenDisplays)
{
    startServer(24, false);
    qxDisplay *first = qxNewDisplayRecord(1);
    first->width = 1024;
    first->height = 768;
    first->fullScreen = 1;
    first->flags = QX_DISP_BORDERLESS;
    qxAppendDisplay(first);
    ASSERT_EQ(x11AllocDisplayData(first), 0);
    ASSERT_EQ(x11OpenDisplay(first, 1, nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(x11Data(first)->grabbed, 1u);
    EXPECT_NE(server.run("xwininfo -id " + id(first)).find("Override Redirect State: yes"),
              std::string::npos);
    qxDisplay *second = qxNewDisplayRecord(2);
    *second = *first;
    second->header = {QX_TYPE_DISPLAY, 2, nullptr, nullptr, nullptr};
    second->window = nullptr;
    qxAppendDisplay(second);
    ASSERT_EQ(x11AllocDisplayData(second), 0);
    ASSERT_EQ(x11OpenDisplay(second, 1, nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(x11Data(first)->grabbed, 0u);
    EXPECT_EQ(x11Data(second)->grabbed, 0u);
}

TEST_F(X11Test, WindowBeyondSixteenBitsIsRefused)
{
    startServer(24, false);
    qxDisplay *d = qxNewDisplayRecord(1);
    d->width = 40000;
    d->height = 100;
    qxAppendDisplay(d);
    ASSERT_EQ(x11AllocDisplayData(d), 0);
    EXPECT_EQ(x11OpenDisplay(d, 1, nullptr, 0, nullptr, 0), 1085);
    EXPECT_EQ(x11Data(d)->window, 0u);
}

TEST_F(X11Test, FrameExtentsOfWrongTypeOrLength)
{
    startServer(24, false);
    qxDisplay *d = open(0, 0, 50, 50);
    ASSERT_NE(d, nullptr);
    Display *dpy = x11Data(d)->display;
    uint32_t l, t, w, h;
    server.run("xprop -id " + id(d) + " -f _NET_FRAME_EXTENTS 32c -set _NET_FRAME_EXTENTS '1,2,3'");
    x11GetFrameExtents(dpy, window(d), &l, &t, &w, &h);
    EXPECT_EQ(l + t + w + h, 0u);
    server.run("xprop -id " + id(d) + " -f _NET_FRAME_EXTENTS 8s -set _NET_FRAME_EXTENTS abcd");
    x11GetFrameExtents(dpy, window(d), &l, &t, &w, &h);
    EXPECT_EQ(l + t + w + h, 0u);
    server.run("xprop -id " + id(d) + " -f _NET_FRAME_EXTENTS 32c -set _NET_FRAME_EXTENTS '4,6,20,2'");
    x11GetFrameExtents(dpy, window(d), &l, &t, &w, &h);
    EXPECT_EQ(l, 4u);
    EXPECT_EQ(t, 20u);
    EXPECT_EQ(w, 10u);
    EXPECT_EQ(h, 22u);
    x11GetFrameExtents(dpy, 0x7FFFFF, &l, &t, &w, &h); // a dead window
    EXPECT_EQ(l + t + w + h, 0u);
    x11CheckErrors(dpy);
}

} // namespace
