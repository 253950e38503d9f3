// Input through the pump into the queue: XTEST keys and buttons from
// xdotool and a window manager's close message, at depths 24 and 16, with
// and without openbox.
#include "x11fixture.h"

namespace {

using Events = std::vector<QueuedEvent>;

class X11Input : public X11Test, public ::testing::WithParamInterface<std::tuple<int, bool>> {
protected:
    void SetUp() override
    {
        startServer(std::get<0>(GetParam()), std::get<1>(GetParam()));
        d = open(40, 40, 200, 150);
        ASSERT_NE(d, nullptr);
        // Let the manager map and focus the window before typing.
        if (std::get<1>(GetParam()))
            server.run("xdotool windowactivate --sync " + id(d));
        server.run("xdotool mousemove --window " + id(d) + " 20 30");
        settle();
    }
    qxDisplay *d = nullptr;
};

TEST_P(X11Input, KeysByPass)
{
    EXPECT_EQ(inputAfter("xdotool key a", 5),
              (Events{{29, 1, 0, 65}, {3, 1, 0, 97}, {28, 0, 0, 97}, {29, 0, 0, 65}, {3, 0, 0, 97}}));
    EXPECT_EQ(inputAfter("xdotool key KP_Add", 5),
              (Events{{29, 1, 0, 302}, {3, 1, 0, 43}, {28, 0, 0, 43}, {29, 0, 0, 302}, {3, 0, 0, 43}}));
    // No raw key for a key whose first column is not a letter or digit.
    EXPECT_EQ(inputAfter("xdotool key comma", 3), (Events{{3, 1, 0, 44}, {28, 0, 0, 44}, {3, 0, 0, 44}}));
    EXPECT_EQ(inputAfter("xdotool key space", 5),
              (Events{{29, 1, 0, 276}, {3, 1, 0, 276}, {28, 0, 0, 32}, {29, 0, 0, 276}, {3, 0, 0, 276}}));
    EXPECT_EQ(inputAfter("xdotool key Home", 0), Events{});
    EXPECT_EQ(inputAfter("xdotool key F1", 4),
              (Events{{29, 1, 0, 261}, {3, 1, 0, 261}, {29, 0, 0, 261}, {3, 0, 0, 261}}));
    // Modifiers give raw keys only, and their state.
    EXPECT_EQ(inputAfter("xdotool keydown Shift_L", 1), (Events{{29, 1, 0, 306}}));
    EXPECT_EQ(x11Data(d)->leftShift, 1u);
    EXPECT_EQ(d->input.keys[QX_RAWKEY_BASE + 306], 1);
    EXPECT_EQ(inputAfter("xdotool keyup Shift_L", 1), (Events{{29, 0, 0, 306}}));
}

TEST_P(X11Input, ButtonsAndWheel)
{
    EXPECT_EQ(inputAfter("xdotool click 1", 2), (Events{{1, 20, 30, 1}, {1, 20, 30, 0}}));
    EXPECT_EQ(inputAfter("xdotool click 3", 2), (Events{{2, 20, 30, 1}, {2, 20, 30, 0}}));
    EXPECT_EQ(inputAfter("xdotool click 2", 2), (Events{{16, 20, 30, 1}, {16, 20, 30, 0}}));
    // The wheel reports its press only.
    EXPECT_EQ(inputAfter("xdotool click 4 click 5", 2), (Events{{11, 20, 30, 0}, {12, 20, 30, 0}}));
    // A held button grabs the pointer so a drag outside keeps reporting.
    Events drag = inputAfter("xdotool mousedown 1 mousemove 600 500 mouseup 1", 2);
    ASSERT_EQ(drag.size(), 2u);
    EXPECT_EQ(drag[1].type, 1u);
    EXPECT_EQ(drag[1].p3, 0u);
    EXPECT_GT((int)drag[1].p1, 200);
}

TEST_P(X11Input, AltReturnSwitchesModeOnRelease)
{
    static qxDisplay *switched;
    static int option;
    switched = nullptr;
    qxUpcalls.openDisplayWindow = [](qxDisplay *display, int opt) {
        switched = display;
        option = opt;
        return 0;
    };
    server.run("xdotool keydown alt keydown Return");
    pump(100, 0.4);
    EXPECT_EQ(switched, nullptr);
    server.run("xdotool keyup Return keyup alt");
    pump(100, 0.4);
    EXPECT_EQ(switched, d);
    EXPECT_EQ(option, 5);
    EXPECT_EQ(d->mode, (uint32_t)QX_WINMODE_FULLSCREEN);
    bool posted = false;
    for (auto &e : queued())
        posted |= e.type == 13;
    EXPECT_TRUE(posted);
}

TEST_P(X11Input, CloseWithAndWithoutHandler)
{
    std::string send = "/usr/bin/python3 " + tool("xclientmsg.py") + " " + id(d) +
                       " WM_PROTOCOLS WM_DELETE_WINDOW";
    d->handlers[QX_SLOT_CLOSEWINDOW].function = 7; // a handler: only the event
    settle();
    std::string said = server.run(send, true);
    int error = 0;
    EXPECT_EQ(pump(1).size(), 1u) << said;
    EXPECT_EQ(queued()[0].type, 7u);
    EXPECT_EQ(qxQuitRequested, 0u);
    d->handlers[QX_SLOT_CLOSEWINDOW].function = QX_NO_REF;
    settle();
    server.run(send);
    int stop = 0;
    for (double end = qxGetSeconds() + 3; !stop && qxGetSeconds() < end; usleep(5000))
        stop = x11HandleEvents(nullptr, &error);
    EXPECT_EQ(stop, 1) << "state " << d->state << ", queued " << ::testing::PrintToString(queued());
    EXPECT_EQ(qxQuitRequested, 1u);
    EXPECT_EQ(error, 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, X11Input,
                         ::testing::Combine(::testing::Values(24, 16), ::testing::Values(false, true)),
                         [](const auto &info) {
                             return "depth" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_openbox" : "_bare");
                         });

// A borderless window moves and sizes itself from its regions.
TEST_F(X11Test, BorderlessDragAndResize)
{
    startServer(24, false);
    qxDisplay *d = open(100, 100, 200, 150, QX_DISP_BORDERLESS | QX_DISP_SIZEABLE);
    ASSERT_NE(d, nullptr);
    d->dragRegions[0] = {14, 0, 0, 200, 20};
    d->dragRegionCount = 1;
    d->sizeRegions[0] = {14, 190, 140, 10, 10};
    d->sizeRegionCount = 1;
    std::string w = id(d);
    settle();
    server.run("xdotool mousemove 150 105 mousedown 1 mousemove 180 135 mousemove 190 145");
    pump(1000, 0.4);
    EXPECT_EQ(x11Data(d)->dragging, 1u);
    server.run("xdotool mouseup 1");
    pump(1000, 0.4);
    EXPECT_EQ(x11Data(d)->dragging, 0u);
    EXPECT_EQ(queued(true), Events{}); // a drag posts no button events
    std::string info = server.run("xwininfo -id " + w);
    EXPECT_NE(info.find("Absolute upper-left X:  140"), std::string::npos) << info;
    EXPECT_NE(info.find("Absolute upper-left Y:  140"), std::string::npos);
    // Bottom-right corner: 20 pixels wider and 10 higher, applied on release.
    server.run("xdotool mousemove 335 285 mousedown 1 mousemove 350 290 mousemove 355 295");
    pump(1000, 0.4);
    EXPECT_EQ(x11Data(d)->resizing, 1u);
    server.run("xdotool mouseup 1");
    pump(1000, 0.5);
    EXPECT_EQ(d->width, 220);
    EXPECT_EQ(d->height, 160);
    bool sized = false;
    for (auto &e : queued())
        sized |= e.type == 5;
    EXPECT_TRUE(sized);
}

} // namespace

namespace {

TEST_F(X11Test, QuitKeysAndGrabFocus)
{
    startServer(24, false);
    qxDisplay *d = open(0, 0, 100, 100);
    ASSERT_NE(d, nullptr);
    server.run("xdotool mousemove --window " + id(d) + " 10 10");
    settle();
    // A grab moves focus with a mode other than NotifyNormal: no event, the
    // key states stay.
    d->input.keys[97] = 1;
    x11GrabInput(x11Data(d)->conn, x11Data(d)->window);
    pump(1000, 0.3);
    XUngrabKeyboard(x11Data(d)->display, CurrentTime);
    XUngrabPointer(x11Data(d)->display, CurrentTime);
    pump(1000, 0.3);
    for (auto &e : queued())
        EXPECT_TRUE(e.type != 6 && e.type != 8) << e;
    EXPECT_EQ(d->input.keys[97], 1);
    int error = 0;
    x11SetQuitKey(d, 10, 1);
    server.run("xdotool key Escape");
    int stop = 0;
    for (double end = qxGetSeconds() + 3; !stop && qxGetSeconds() < end; usleep(5000))
        stop = x11HandleEvents(nullptr, &error);
    EXPECT_EQ(stop, 1);
    EXPECT_EQ(x11GetAttribute(d, 10), 1);
    qxQuitRequested = 0;
    x11SetQuitKey(d, 10, 0);
    settle();
    server.run("xdotool key ctrl+c");
    stop = 0;
    for (double end = qxGetSeconds() + 3; !stop && qxGetSeconds() < end; usleep(5000))
        stop = x11HandleEvents(nullptr, &error);
    EXPECT_EQ(stop, 1);
}

TEST_F(X11Test, FloodStopsAfterTheBudget)
{
    startServer(24, false);
    qxDisplay *d = open(0, 0, 100, 100);
    ASSERT_NE(d, nullptr);
    settle();
    Display *other = XOpenDisplay(server.name().c_str());
    ASSERT_NE(other, nullptr);
    XEvent ev{};
    ev.xkey.type = KeyPress;
    ev.xkey.window = window(d);
    ev.xkey.keycode = XKeysymToKeycode(other, 'a');
    for (int i = 0; i < 60000; i++)
        XSendEvent(other, window(d), False, 0, &ev);
    XSync(other, False);
    XCloseDisplay(other);
    int error = 0;
    double start = qxGetSeconds();
    x11HandleEvents(nullptr, &error);
    EXPECT_LT(qxGetSeconds() - start, 0.5);
    EXPECT_EQ(x11MoreEventsPending, 1u);
    x11WaitEvents(); // returns at once and clears the flag
    EXPECT_EQ(x11MoreEventsPending, 0u);
}

} // namespace
