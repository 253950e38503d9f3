// Pointers per connection, the pointer-watch thread feeding the poll, and
// the event wait returning for events already read into Xlib's queue.
#include <atomic>
#include <thread>

#include "x11fixture.h"

namespace {

TEST_F(X11Test, ImagePointersHideShowAndMove)
{
    startServer(24, false);
    qxDisplay *d = open(0, 0, 100, 100);
    ASSERT_NE(d, nullptr);
    std::vector<uint32_t> argb(16 * 16, 0xFFFF0000);
    x11PointerImage *p = nullptr;
    ASSERT_EQ(x11CreatePointer(argb.data(), 40, -3, &p, 16, 16), 0);
    x11SetPointer(d, p, 2);
    Cursor made = x11Data(d)->pointer;
    EXPECT_NE(made, 0u);
    x11SetPointer(d, p, 2); // reused on the same connection
    EXPECT_EQ(x11Data(d)->pointer, made);
    EXPECT_EQ(p->next, nullptr);
    EXPECT_EQ(x11Data(d)->conn->blankCursor, 0u); // made at the first hide
    x11HidePointer(d);
    EXPECT_NE(x11Data(d)->conn->blankCursor, 0u);
    x11ShowPointer(d);
    EXPECT_EQ(x11Data(d)->pointer, made);
    x11SetPointer(d, nullptr, 1);
    EXPECT_EQ(x11Data(d)->pointer, x11Data(d)->conn->busyCursor);
    x11SetPointer(d, nullptr, 0);
    EXPECT_EQ(x11Data(d)->pointer, 0u);
    x11MovePointer(d, 30, 40);
    EXPECT_EQ(x11GetAttribute(d, 6), 30);
    EXPECT_EQ(x11GetAttribute(d, 7), 40);
    EXPECT_EQ(x11CheckErrors(x11Data(d)->display), 0);
    x11FreePointer(p);
    qxLibImports.complete[QX_LIB_XCURSOR] = 0;
    EXPECT_EQ(x11CreatePointer(argb.data(), 0, 0, &p, 16, 16), 1438);
}

TEST_F(X11Test, PointerWatchThreadMarksTheActiveDisplay)
{
    startServer(24, false);
    x11NoMouseHook = 0;
    qxDisplay *d = open(0, 0, 200, 200);
    ASSERT_NE(d, nullptr);
    // Focus is given before input is selected: take it away and back.
    XSetInputFocus(x11Data(d)->display, PointerRoot, RevertToNone, CurrentTime);
    x11ActivateWindow(d);
    pump(1000, 0.3);
    ASSERT_EQ(d->input.active, 1u);
    d->input.pointerMoved = 0;
    server.run("xdotool mousemove 150 120");
    double end = qxGetSeconds() + 2;
    int error = 0;
    while (!d->input.pointerMoved && qxGetSeconds() < end) {
        x11HandleEvents(nullptr, &error);
        usleep(10000);
    }
    EXPECT_EQ(d->input.pointerMoved, 1u);
}

TEST_F(X11Test, WaitReturnsForEventsAlreadyQueued)
{
    startServer(24, false);
    qxDisplay *d = open(0, 0, 100, 100);
    ASSERT_NE(d, nullptr);
    settle();
    server.run("xdotool key a");
    // A round trip pulls the key events into Xlib's queue: the socket is
    // quiet from here on.
    usleep(100000);
    XSync(x11Data(d)->display, False);
    ASSERT_GT(XEventsQueued(x11Data(d)->display, QueuedAlready), 0);
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 300 && !done; i++)
            usleep(10000);
        qxSendWakeMessage(QX_WAKE_ONLY, 0);
    });
    double start = qxGetSeconds();
    x11WaitEvents();
    double waited = qxGetSeconds() - start;
    done = true;
    watchdog.join();
    EXPECT_LT(waited, 1.0);
}

TEST_F(X11Test, ErrorsAreRecordedNotFatal)
{
    startServer(24, false);
    qxDisplay *d = open(0, 0, 100, 100);
    ASSERT_NE(d, nullptr);
    Display *dpy = x11Data(d)->display;
    x11CheckErrors(dpy);
    XSetInputFocus(dpy, 0x7FFFFF, RevertToNone, CurrentTime); // a dead window
    XImage *img = XGetImage(dpy, x11Data(d)->window, 90, 90, 50, 50, AllPlanes, ZPixmap);
    EXPECT_EQ(img, nullptr); // BadMatch: off the window
    EXPECT_NE(x11CheckErrors(dpy), 0);
    EXPECT_EQ(x11CheckErrors(dpy), 0);
    // Input for a window that no display owns is dropped.
    Window stray = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 300, 300, 10, 10, 0, 0, 0);
    XSelectInput(dpy, stray, KeyPressMask);
    XMapWindow(dpy, stray);
    XDestroyWindow(dpy, stray);
    settle();
    EXPECT_TRUE(queued().empty());
}

} // namespace

namespace {

TEST_F(X11Test, SecondServerGetsItsOwnConnectionAndCursor)
{
    startServer(24, false);
    ASSERT_TRUE(second.startXvfb(24, false));
    qxDisplay *a = open(0, 0, 50, 50);
    qxDisplay *b = open(60, 0, 50, 50);
    qxDisplay *c = open(0, 0, 50, 50, 0, "Probe", nullptr, second.name());
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(x11Data(a)->conn, x11Data(b)->conn);
    EXPECT_NE(x11Data(a)->conn, x11Data(c)->conn);
    std::vector<uint32_t> argb(8 * 8, 0xFF00FF00);
    x11PointerImage *p = nullptr;
    ASSERT_EQ(x11CreatePointer(argb.data(), 1, 1, &p, 8, 8), 0);
    x11SetPointer(a, p, 2);
    x11SetPointer(c, p, 2);
    x11SetPointer(b, p, 2);
    ASSERT_NE(p->next, nullptr);
    EXPECT_EQ(p->next->next, nullptr); // one cursor per server, reused
    EXPECT_EQ(x11Data(b)->pointer, p->cursor);
    EXPECT_EQ(x11Data(c)->pointer, p->next->cursor);
    x11FreePointer(p);
}

} // namespace
