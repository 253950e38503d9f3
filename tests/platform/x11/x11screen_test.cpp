// Monitors, modes and the screen saver. Xvfb has neither mode switching
// nor a second monitor; Xorg with the dummy driver has both (RandR and
// XF86VidMode), with the modes of the configuration below.
#include <sys/stat.h>

#include <fstream>
#include <regex>

#include "x11fixture.h"

namespace {

const char *const dummyConfig = R"(Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 64000
EndSection
Section "Monitor"
  Identifier "mon"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
  Modeline "1024x768_60" 65.00 1024 1048 1184 1344 768 771 777 806 -hsync -vsync
  Modeline "800x600_50" 33.00 800 840 968 1056 600 601 605 625 +hsync +vsync
  Modeline "800x600_60" 40.00 800 840 968 1056 600 601 605 628 +hsync +vsync
  Modeline "1280x720_60" 74.25 1280 1390 1430 1650 720 725 730 750 +hsync +vsync
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "mon"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Modes "1024x768_60" "800x600_50" "800x600_60" "1280x720_60"
    Virtual 2400 1024
  EndSubSection
EndSection
)";

TEST_F(X11Test, HeldMonitorsAreReadOnce)
{
    startServer(24, false);
    qxDisplay *d = open(0, 0, 100, 100);
    ASSERT_NE(d, nullptr);
    x11Connection *c = x11Data(d)->conn;
    x11HoldMonitors(c, 1);
    x11FreeMonitors(x11GetMonitors(d));
    const unsigned long before = NextRequest(c->display);
    x11Monitor *m = x11GetMonitors(d);
    EXPECT_EQ(NextRequest(c->display), before); // nothing asked of the server
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->width, 1024u);
    x11FreeMonitors(m);
    x11HoldMonitors(c, 0);
    x11FreeMonitors(x11GetMonitors(d));
    EXPECT_GT(NextRequest(c->display), before);
}

TEST_F(X11Test, XvfbHasOneMonitorAndNoSwitching)
{
    startServer(24, false);
    x11Monitor *m = x11GetMonitors(nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->width, 1024u);
    EXPECT_EQ(m->height, 768u);
    EXPECT_EQ(m->next, nullptr);
    x11FreeMonitors(m);
    qxDisplay *d = open(0, 0, 100, 100);
    ASSERT_NE(d, nullptr);
    qxLibImports.xrandrAvailable = 0; // as if libXrandr were missing
    x11Data(d)->conn->randr13 = 0;
    EXPECT_EQ(x11SetScreenMode(d, 800, 600, 24), 1442);
    m = x11GetMonitors(d); // the whole screen without RandR
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->width, 1024u);
    x11FreeMonitors(m);
}

TEST_F(X11Test, BlankerThroughTheCoreRequests)
{
    startServer(24, false);
    qxDisplay *d = open(0, 0, 50, 50);
    ASSERT_NE(d, nullptr);
    qxLibImports.complete[QX_LIB_XSCRNSAVER] = 0; // as if libXss were missing
    std::string before = server.run("xset q");
    ASSERT_NE(before.find("timeout:  600"), std::string::npos) << before;
    x11SuspendBlanker(x11Data(d), 0);
    x11SuspendBlanker(x11Data(d), 0); // already off: nothing
    EXPECT_NE(server.run("xset q").find("timeout:  0    cycle:  0"), std::string::npos);
    x11SuspendBlanker(x11Data(d), 1);
    EXPECT_EQ(server.run("xset q"), before);

    // Each server keeps its own saver and gets its own settings back.
    ASSERT_TRUE(second.startXvfb(24, false));
    server.run("xset s 300 10");
    qxDisplay *a = open(0, 0, 50, 50, QX_DISP_DISABLEBLANKER);
    qxDisplay *b = open(0, 0, 50, 50, QX_DISP_DISABLEBLANKER, "Probe", nullptr, second.name());
    ASSERT_TRUE(a && b);
    EXPECT_NE(server.run("xset q").find("timeout:  0    cycle:  0"), std::string::npos);
    EXPECT_NE(second.run("xset q").find("timeout:  0    cycle:  0"), std::string::npos);
    x11CloseDisplay(a);
    EXPECT_NE(server.run("xset q").find("timeout:  300    cycle:  10"), std::string::npos);
    EXPECT_NE(second.run("xset q").find("timeout:  0    cycle:  0"), std::string::npos);
    x11CloseDisplay(b);
    EXPECT_NE(second.run("xset q").find("timeout:  600    cycle:  600"), std::string::npos)
        << second.run("xset q");
}

TEST_F(X11Test, BlankerThroughTheExtension)
{
    startServer(24, false);
    qxDisplay *d = open(0, 0, 50, 50, QX_DISP_DISABLEBLANKER);
    ASSERT_NE(d, nullptr);
    // The extension suspends the saver without touching its settings.
    EXPECT_NE(server.run("xset q").find("timeout:  600"), std::string::npos);
    x11CloseDisplay(d);
    EXPECT_NE(server.run("xset q").find("timeout:  600"), std::string::npos);
}

class X11Dummy : public X11Test {
protected:
    void SetUp() override
    {
        if (access("/usr/lib/xorg/modules/drivers/dummy_drv.so", R_OK) || geteuid() != 0)
            GTEST_SKIP() << "Xorg's dummy driver needs root and xserver-xorg-video-dummy";
        prepare();
        dir = ::testing::TempDir() + "qxdummy" + std::to_string(getpid());
        mkdir(dir.c_str(), 0700);
        std::ofstream(dir + "/xorg.conf") << dummyConfig;
        ASSERT_TRUE(server.startXorg(dir + "/xorg.conf", dir + "/log")) << "Xorg did not start";
        setup();
    }
    // The CRTC geometry of an output as xrandr reports it ("" when off).
    std::string geometry(const std::string &output)
    {
        std::smatch m;
        std::string text = server.run("xrandr");
        std::regex line(output + " connected (primary )?([0-9]+x[0-9]+\\+[0-9]+\\+[0-9]+)");
        return std::regex_search(text, m, line) ? m[2].str() : "";
    }
    std::string dir;
};

TEST_F(X11Dummy, ModesNearest60HzAndSmallestFit)
{
    qxDisplay *d = open(0, 0, 200, 100);
    ASSERT_NE(d, nullptr);
    int n = x11GetScreenModes(d, nullptr);
    ASSERT_GT(n, 4);
    std::vector<x11ScreenMode> modes((size_t)n);
    n = x11GetScreenModes(d, modes.data());
    int eight = 0;
    for (int i = 0; i < n; i++) {
        if (modes[i].width == 800 && modes[i].height == 600) {
            eight++;
            EXPECT_EQ(modes[i].refresh, 60u);
        }
        if (modes[i].width == 1024 && modes[i].height == 768 && modes[i].refresh == 60) {
            EXPECT_EQ(modes[i].current, 1u);
        }
    }
    EXPECT_EQ(eight, 1);
    EXPECT_EQ(geometry("DUMMY0"), "1024x768+0+0");
    ASSERT_EQ(x11SetScreenMode(d, 800, 600, 24), 0);
    EXPECT_EQ(geometry("DUMMY0"), "800x600+0+0");
    d->fullScreen = 1; // a second switch keeps the saved desktop mode
    ASSERT_EQ(x11SetScreenMode(d, 1000, 500, 24), 0);
    // Smallest width first: 1024 wide beats 1280 x 720.
    EXPECT_EQ(geometry("DUMMY0").substr(0, 5), "1024x");
    EXPECT_EQ(x11RestoreDesktopMode(d), 0);
    EXPECT_EQ(geometry("DUMMY0"), "1024x768+0+0");
    EXPECT_EQ(x11SetScreenMode(d, 5000, 5000, 24), 1004);
}

TEST_F(X11Dummy, FullScreenHidesAndVidModeFallBack)
{
    // The dummy driver reports outputs added by xrandr as disconnected, so
    // a second monitor cannot be made here; one monitor is enough for the
    // visibility rule.
    qxDisplay *a = open(100, 100, 100, 100);
    qxDisplay *full = open(0, 0, 1024, 768, QX_DISP_BORDERLESS);
    ASSERT_TRUE(a && full);
    EXPECT_EQ(qxDisplayIsVisible(a), 1);
    full->fullScreen = 1;
    EXPECT_EQ(qxDisplayIsVisible(a), 0);
    EXPECT_EQ(qxDisplayIsVisible(full), 1);
    full->monitor = 1;
    EXPECT_EQ(qxDisplayIsVisible(a), 1);
    // Without RandR the switch goes through XF86VidMode.
    qxLibImports.xrandrAvailable = 0;
    x11Data(a)->conn->randr13 = 0;
    ASSERT_EQ(x11SetScreenMode(a, 800, 600, 24), 0);
    EXPECT_EQ(x11CheckErrors(x11Data(a)->display), 0);
    EXPECT_NE(server.run("xvidtune -show").find(" 800 "), std::string::npos)
        << server.run("xvidtune -show");
    EXPECT_EQ(x11RestoreDesktopMode(a), 0);
    EXPECT_EQ(geometry("DUMMY0"), "1024x768+0+0");
}

} // namespace
