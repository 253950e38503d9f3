// Calls from the platform layer up into the layers above it (event library,
// display adapters, X11 event pump). Each layer installs its entries when it
// starts; an entry left NULL means "not available" and the platform takes
// its own fall-back path.
#pragma once
#include <cstddef>
#include <cstdint>

typedef struct lua_State lua_State;
struct qxDisplay;
struct qxFileRequestResult;

struct qxPlatformUpcalls {
    // 1 while a display adapter plug-in is installed. NULL: none.
    int (*displayAdapterActive)(void);
    // Wakes the script thread's event loop (x11WakeEventLoop).
    // NULL: a wake-only message {0, 0} goes into the wake-up pipe.
    void (*wakeEventLoop)(void);
    // The event library's blocking wait; returns an error code or 0.
    // NULL: waits on the wake-up pipe and hands timer messages on.
    int (*waitEvents)(lua_State *L);
    // One poll of events with the given flags; returns 0 to go on, else the
    // poll's error code (1003 for a quit request).
    // NULL: drains the wake-up pipe.
    int (*pollEvents)(lua_State *L, int flags);
    // The event library's creation and removal of the shared 20 ms system
    // interval. NULL: a bare system timer with the reserved identifier.
    int (*createSystemInterval)(lua_State *L, uint32_t ms);
    void (*deleteSystemInterval)(lua_State *L);
    // Drains the X events of every display connection (used while a
    // requester waits without a VM state).
    void (*drainDisplayEvents)(void);
    // Releases (grab 0) or retakes (grab 1) the pointer and keyboard grabs
    // of the display that holds them around a requester.
    void (*setInputGrabs)(int grab);
    // The display adapter's answer to a capability question, asked only
    // when it offers video bitmaps. NULL: no such adapter.
    uint32_t (*adapterHasCap)(uint32_t capability);
    // Reads a whole file through the virtual file layer (file adapters and
    // chunk names included) into a qxAlloc'd buffer with extra zero bytes
    // after the data; 0 or an error code. NULL: the native file is read.
    int (*readWholeFile)(const char *path, void **data, int64_t *length, size_t extra);

    // What the X11 event pump needs of the display and event libraries.
    // The head of the display list. NULL: no displays.
    qxDisplay *(*displayList)(void);
    // Queues a runtime event; 1 queued, 0 not, -1 out of memory.
    // NULL: the event is dropped.
    int (*postEvent)(qxDisplay *display, uint32_t type, uint32_t param1, uint32_t param2,
                     uint32_t param3, void *payload);
    // 1 unless a full-screen display hides this one. NULL: 1.
    int (*displayIsVisible)(qxDisplay *display);
    // Redraws the whole display (mode 2 from the pump). NULL: nothing.
    int (*refreshWholeDisplay)(qxDisplay *display, int mode);
    // Rescales the display to a new window size. NULL: the size is stored.
    int (*displayRescale)(qxDisplay *display, int width, int height, int x, int y);
    // Reopens the display's window (mode switch, option 5). NULL: 0.
    int (*openDisplayWindow)(qxDisplay *display, int option);
    // Puts the video frames queued by other threads; 0 or the error that
    // stopped the run. NULL: nothing.
    int (*flushPendingDisplayUpdates)(void);
    // Runs event steps until one has dispatched something; 0 or an error.
    // NULL: no event machinery, nothing to wait for.
    int (*waitEventsUntilHandled)(lua_State *L);
    // The frame rate vertical waits are timed at. NULL: 60.
    uint32_t (*frameRate)(void);
    // 1 while a requester is open on the display. NULL: 0.
    int (*requesterOpenOn)(qxDisplay *display);
    // Lets the audio layer reap finished channels. NULL: nothing.
    void (*reapChannels)(void);
    // Fills up to max rectangles {x, y, width, height} in which videos are
    // shown directly on the display; returns their count. NULL: none.
    int (*videoRects)(qxDisplay *display, int32_t (*rects)[4], int max);
    // Removes the temporary files before a lost X connection ends the
    // process. NULL: nothing.
    void (*deleteTempFiles)(void);
    // The display adapter's ForceEventLoopIteration. NULL: none.
    void (*adapterForceEventLoop)(void);
    // The display adapter's Sleep when it serves the script's waits; 1
    // when it slept. NULL: the platform waits itself.
    int (*adapterSleep)(lua_State *L, uint32_t ms);
    // The memory behind the display's work bitmap, or NULL (none yet, or
    // held by an adapter or in video memory). NULL: none.
    const struct qxPlatformBitMap *(*workBuffer)(qxDisplay *display);
    // Asks the running script to poll events before its next instruction
    // (qxVmRequestTrace); from any thread and from signal handlers.
    // NULL: nothing (the script polls on its own).
    void (*requestPoll)(void);
    // The requester dispatch (a requester adapter first) for the error
    // report and start-up's applet question. NULL: the platform requesters.
    int (*systemRequest)(lua_State *L, const char *title, const char *body, const char *buttons,
                         int icon, int extra, int *choice);
    int (*fileRequest)(lua_State *L, const char *title, const char *pattern, int mode,
                       const char *defaultDir, const char *defaultFile, int extra,
                       qxFileRequestResult *result);
};

extern "C" {
extern qxPlatformUpcalls qxUpcalls;
// 1 when a display adapter plug-in is installed.
int qxDisplayAdapterActive(void);
}
