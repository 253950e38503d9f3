// A private server, the display list and the event queue for the X11 tests,
// with helpers to open displays, run the pump and read the queue.
#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "display/qx_display.h"
#include "display/qx_eventqueue.h"
#include "platform/qx_hooks.h"
#include "platform/qx_libimports.h"
#include "platform/qx_sync.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_wakepipe.h"
#include "platform/x11/x11_display.h"
#include "xserver.h"

struct QueuedEvent {
    uint32_t type, p1, p2, p3;
    bool operator==(const QueuedEvent &o) const
    {
        return type == o.type && p1 == o.p1 && p2 == o.p2 && p3 == o.p3;
    }
};

inline std::ostream &operator<<(std::ostream &os, const QueuedEvent &e)
{
    return os << "{" << e.type << "," << e.p1 << "," << e.p2 << "," << e.p3 << "}";
}

class X11Test : public ::testing::Test {
protected:
    void startServer(int depth, bool manager)
    {
        prepare();
        ASSERT_TRUE(server.startXvfb(depth, manager)) << "Xvfb did not start";
        setup();
    }
    // The process-wide state a test may change, kept to be put back: the
    // libraries are loaded first, so that the copy holds every handle.
    void prepare()
    {
        saved = qxUpcalls;
        qxScreenPixelFormat = -1;
        x11NoMouseHook = 1;
        qxImportLibraries();
        for (int lib : {QX_LIB_XCURSOR, QX_LIB_XVIDMODE, QX_LIB_XSCRNSAVER})
            qxLibraryComplete(lib);
        imports = qxLibImports;
        prepared = true;
    }
    void setup()
    {
        std::snprintf(x11DefaultServer, sizeof x11DefaultServer, "%s", server.name().c_str());
        ASSERT_EQ(qxInitEventQueue(), 0);
        ASSERT_EQ(qxInitDisplayList(), 0);
        ASSERT_EQ(qxCreateWakePipe(), 1);
        ASSERT_EQ(x11InitWindowing(nullptr), 0);
    }
    void TearDown() override
    {
        qxFreeAllDisplays(nullptr);
        x11ExitPlatform();
        qxFreeEventQueue();
        qxDeleteEventQueueMutex();
        close(qxWakePipeRead), close(qxWakePipeWrite);
        qxWakePipeRead = qxWakePipeWrite = -1;
        qxQuitRequested = 0;
        x11QuitEscape = x11QuitLeftMouse = 0;
        x11QuitCtrlC = 1;
        if (prepared) {
            qxUpcalls = saved;
            qxLibImports = imports;
        }
        server.stop();
        second.stop();
    }

    qxDisplay *open(int x, int y, int w, int h, uint32_t flags = 0, const char *title = "Probe",
                    const uint8_t *alpha = nullptr, const std::string &xServer = "")
    {
        qxDisplay *d = qxNewDisplayRecord(++ids);
        d->x = x;
        d->y = y;
        d->width = w;
        d->height = h;
        d->flags = flags;
        std::snprintf(d->title, sizeof d->title, "%s", title);
        std::snprintf(d->xServer, sizeof d->xServer, "%s", xServer.c_str());
        qxAppendDisplay(d);
        EXPECT_EQ(x11AllocDisplayData(d), 0);
        int r = x11OpenDisplay(d, 1, nullptr, 0, alpha, alpha ? (uint32_t)w : 0);
        EXPECT_EQ(r, 0);
        return r ? nullptr : d;
    }
    Window window(qxDisplay *d) { return x11Data(d)->window; }
    std::string id(qxDisplay *d) { return std::to_string(window(d)); }

    // Pumps until the queue holds at least n events or the time runs out.
    std::vector<QueuedEvent> pump(size_t n, double seconds = 3.0)
    {
        double end = qxGetSeconds() + seconds;
        int error = 0;
        for (;;) {
            x11HandleEvents(nullptr, &error);
            auto events = queued();
            if (events.size() >= n || qxGetSeconds() > end)
                return events;
            usleep(5000);
        }
    }
    std::vector<QueuedEvent> queued(bool onlyInput = false)
    {
        std::vector<QueuedEvent> out;
        for (qxQueuedEvent *e = qxEventQueue; e; e = e->next)
            if (e->type && (!onlyInput || isInput(e->type)))
                out.push_back({e->type, e->param1, e->param2, e->param3});
        return out;
    }
    static bool isInput(uint32_t t) { return t <= 3 || t == 11 || t == 12 || t == 16 || t >= 28; }
    // Drops what is queued after letting the server settle.
    void settle()
    {
        pump(1000, 0.2);
        qxFlushEvents(nullptr, 0xFFFFFFFFu, 1);
    }
    // The input events after a peer command.
    std::vector<QueuedEvent> inputAfter(const std::string &command, size_t n)
    {
        settle();
        server.run(command);
        pump(n + 100, 0.4);
        return queued(true);
    }

    XServer server;
    XServer second; // stopped only after the connections to it are closed
    qxPlatformUpcalls saved{};
    qxLibImportTable imports{};
    bool prepared = false;
    uint32_t ids = 0;
};

inline std::string tool(const char *name) { return std::string(QX_X11_TOOLS "/") + name; }
