// The display record: one script window and everything kept about it. The
// layout lives at the platform level because the X11 back-end reads and
// writes the window fields; the display list and its rules are in
// display/qx_display.h.
#pragma once
#include <cstdint>

#include "platform/qx_objectref.h"

struct qxBGPic;
struct qxBitMap;
struct qxMenu;
struct qxSatellite;
struct qxPointer;
struct qxRect;
struct qxPendingUpdate;

enum : uint32_t { QX_TYPE_DISPLAY = 21 };

// Display flags.
enum : uint32_t {
    QX_DISP_BORDERLESS = 0x1,
    QX_DISP_SIZEABLE = 0x2,
    QX_DISP_FIXED = 0x4,
    QX_DISP_NOMODESWITCH = 0x8,
    QX_DISP_HIDEPOINTER = 0x10,
    QX_DISP_NOHIDE = 0x20,
    QX_DISP_AUTOSCALE = 0x40,
    QX_DISP_SMOOTHSCALE = 0x80,
    QX_DISP_LAYERSCALE = 0x100,
    QX_DISP_ACTIVE = 0x400,
    QX_DISP_HIDDEN = 0x800,
    QX_DISP_LAYERS = 0x1000,
    QX_DISP_USEQUARTZ = 0x2000,
    QX_DISP_NOCLOSE = 0x4000,
    QX_DISP_KEEPPROPORTIONS = 0x8000,
    QX_DISP_FITSCALE = 0x10000,
    QX_DISP_NOLIVERESIZE = 0x20000,
    QX_DISP_KEEPSCREENON = 0x40000,
    QX_DISP_HIDEFROMTASKBAR = 0x80000,
    QX_DISP_HIDEOPTIONSMENU = 0x100000,
    QX_DISP_NOHARDWARESCALE = 0x200000,
    QX_DISP_ALWAYSONTOP = 0x400000,
    QX_DISP_SINGLEMENU = 0x800000,
    QX_DISP_DISABLEBLANKER = 0x1000000,
    QX_DISP_REMEMBERPOSITION = 0x8000000,
    QX_DISP_MAXIMIZED = 0x10000000,
    QX_DISP_TRAPRMB = 0x20000000,
    QX_DISP_NOSCALEENGINE = 0x40000000,
    QX_DISP_NATIVEUNITS = 0x80000000u,
};

enum : uint32_t { QX_DISPSTATE_CLOSED = 0, QX_DISPSTATE_OPEN = 1, QX_DISPSTATE_MINIMIZED = 2 };
enum : uint32_t { QX_WINMODE_WINDOWED = 1, QX_WINMODE_FULLSCREEN = 2 };

enum : uint32_t {
    QX_MAX_REGIONS = 64,
    QX_HANDLER_SLOTS = 35,
    QX_KEYSTATE_SIZE = 628, // vanilla codes below 314, raw codes at 314 + code
    QX_RAWKEY_BASE = 314,
    QX_NO_REF = 0xFFFFFFFFu,
};

// Handler slots the platform layer checks itself.
enum : uint32_t { QX_SLOT_CLOSEWINDOW = 3, QX_SLOT_CLIPBOARDCHANGE = 18 };

struct qxRegion {
    uint32_t kind; // always 14 (#BOX)
    int32_t x, y, width, height;
};

struct qxHandlerRef {
    uint32_t function; // VM registry reference, QX_NO_REF for none
    uint32_t userData;
};

// Last-known input of the window, kept by the event pump.
struct qxWindowInput {
    int32_t mouseX, mouseY;
    uint32_t leftButton, rightButton, middleButton;
    int32_t wheel;
    uint8_t keys[QX_KEYSTATE_SIZE];
    uint32_t pointerMoved;
    double pointerMovedAt; // qxGetSeconds
    double lastTime;
    uint32_t active;
};

struct qxDisplayHeader {
    uint32_t type;
    uint32_t id;
    void *automatic;
    void *next; // next display
    void *data; // registry references owned by the record
};

struct qxDisplay {
    qxDisplayHeader header;
    uint32_t layersEnabled;
    uint32_t targetType;
    qxBGPic *bgpic;
    uint32_t bgpicOwned;
    uint32_t doubleBuffer;
    uint32_t hardwareDoubleBuffer, doubleBufferState;
    uint32_t backfill, resourceMonitor;
    int32_t x, y, width, height;
    uint32_t state, activation;
    uint32_t fillStyle, fillColor;
    void *fillGradient;
    qxObjectRef fillTexture;
    int32_t fillTextureX, fillTextureY;
    uint32_t flags, flags2;
    char title[256];
    int32_t borderLeft, borderTop, borderWidth, borderHeight;
    uint32_t bordersKnown;
    qxRegion dragRegions[QX_MAX_REGIONS], dragRegionsCopy[QX_MAX_REGIONS];
    uint32_t dragRegionCount;
    qxRegion sizeRegions[QX_MAX_REGIONS], sizeRegionsCopy[QX_MAX_REGIONS];
    uint32_t sizeRegionCount;
    uint32_t dragRegionsGiven, sizeRegionsGiven;
    uint32_t autoScale, layerScale;
    int32_t marginLeft, marginTop, marginRight, marginBottom;
    uint32_t scaledWidth, scaledHeight;
    uint32_t smoothScale;
    double scaleX, scaleY;
    qxBitMap *scaledBitMap, *workBitMap, *cacheBitMap1, *cacheBitMap2, *maskPlane, *alphaPlane;
    qxRect *dirtyRects;
    uint32_t dirtyCount, dirtyCapacity;
    qxHandlerRef handlers[QX_HANDLER_SLOTS];
    qxWindowInput input;
    int32_t satelliteMouseX, satelliteMouseY;
    uint32_t satelliteQualifiers, satelliteKey;
    qxPointer *pointer;
    uint32_t pointerHidden;
    int32_t cursorX, cursorY, cursorLeftMargin, cursorRightMargin;
    int32_t savedCursor[4];
    uint32_t cursorSuspended; // savedCursor holds the display's own while output is redirected
    uint32_t savedLayersEnabled;
    qxBGPic *backBuffer;
    void *selectBuffer;
    qxSatellite *satellites, *redrawingSatellite;
    qxPendingUpdate *pendingUpdates;
    void *pendingMutex;
    uint32_t fullScreen, fakeFullScreen, monitor;
    int32_t savedX, savedY;
    uint32_t savedFlags, restorePosition;
    uint32_t mode, screenWidth, screenHeight, screenDepth, desktop;
    void *backfillDescription;
    qxMenu *menu;
    char *placement;
    uint32_t placementLength;
    uint32_t restoreWidth, restoreHeight;
    uint32_t orientation;
    uint32_t systemScale;
    double systemScaleFactor, scriptScaleFactor;
    uint32_t monitorRelativeX, monitorRelativeY;
    qxDisplay *backfillDisplay;
    qxObjectRef backfillBGPic, backfillBrush;
    char xServer[256];
    uint32_t adapterFlags[2];
    void *window; // adapter handle, or the x11DisplayData without an adapter
    // Frame pacing: the monotonic time of the last frame (ns, 0 none yet)
    // and the BeginRefresh flag.
    int64_t lastFrameNs;
    uint32_t refreshMode;
    // The output's clip region (a qxClipRegion of the graphics library).
    void *clipRegion;
    // The script handles a close request itself (a closewindow handler or
    // EnableEvent(#CLOSEWINDOW)): closing the window does not end it.
    uint32_t closeHandler;
};
