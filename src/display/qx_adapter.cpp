#include "display/qx_adapter.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/applet/qx_preproc.h"
#include "core/commands/qx_commands.h"
#include "core/plugins/qx_plugins.h"
#include "core/runtime/qx_startup.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_satellite.h"
#include "imaging/qx_lines.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"
#include "platform/qx_timerthread.h"
#include "platform/x11/x11_display.h"

extern "C" {
typedef int (*AdHandleEvents)(lua_State *L, int flags, void *reserved);
typedef int (*AdWaitEvents)(lua_State *L, int mode, void *reserved, int *out);
typedef int (*AdForce)(void *reserved);
typedef int (*AdSleep)(lua_State *L, uint32_t ms);
typedef int (*AdVWait)(void *handle, const qxHostTag *tags, uint32_t argument);
typedef int (*AdBorders)(uint32_t flags, int32_t *left, int32_t *right, int32_t *top, int32_t *bottom);
typedef void *(*AdOpen)(const char *title, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags,
                        const qxHostTag *tags);
typedef int (*AdClose)(void *handle);
typedef int (*AdShowHide)(void *handle, int show, void *reserved);
typedef int (*AdSizeMove)(void *handle, int32_t x, int32_t y, int32_t w, int32_t h, void *r1, void *r2);
typedef int (*AdTitle)(void *handle, const char *title);
typedef int (*AdActivate)(void *handle, int flag);
typedef int (*AdAttributes)(void *handle, const qxHostTag *tags);
typedef int (*AdShowPointer)(void *handle, int show);
typedef void *(*AdCreatePointer)(const uint32_t *argb, int32_t hotX, int32_t hotY, int32_t *w, int32_t *h);
typedef int (*AdFreePointer)(void *pointer, void *reserved);
typedef int (*AdSetPointer)(void *handle, int kind, void *pointer, int kind2);
typedef int (*AdMovePointer)(void *handle, int32_t x, int32_t y);
typedef int (*AdMousePos)(void *handle, int32_t *x, int32_t *y);
typedef uint32_t (*AdQualifiers)(void *handle);
typedef int (*AdCls)(void *handle, uint32_t colour, void *reserved);
typedef int (*AdMonitorInfo)(uint32_t kind, uint32_t monitor, void **out, void *reserved);
typedef void (*AdFreeMonitorInfo)(uint32_t kind, void *array);
typedef const uint32_t *(*AdGrab)(void *handle, int32_t x, int32_t y, int32_t w, int32_t h, void *r1, void *r2);
typedef void (*AdFreeGrab)(const uint32_t *pixels);
typedef int (*AdMainLoop)(lua_State *L, void (*run)(void *), void *arg, void *r1, void *r2);
}

namespace {

// The entry point of the installed adapter; NULL without one, for a slot
// it lacks, or for the kind-2 call path (which answers 0 here).
template <typename F> F entry(int slot) { return reinterpret_cast<F>(qxAdapterEntry(slot)); }

bool adapter() { return qxDisplayAdapter != nullptr; }

bool open(const qxDisplay *d) { return d->state != QX_DISPSTATE_CLOSED; }

qxDisplay *nextOf(const qxDisplay *d) { return static_cast<qxDisplay *>(d->header.next); }

uint32_t installExtra;
int formatBefore = -2; // the bitmap layer's format before the first adapter

} // namespace

extern "C" {

int qxAdapterDrawable(const qxDisplay *d)
{
    return open(d) || ((qxAdapterFlags() & QX_ADAPTER_CLOSEDDRAW) && d->window);
}

uint32_t qxAdapterDisplayFlags(const qxDisplay *d)
{
    return (d->flags & 7) | ((d->flags & QX_DISP_NOHIDE) ? 0x8 : 0) | ((d->flags & QX_DISP_NOCLOSE) ? 0x10 : 0) |
           (d->autoScale ? 0x20 : 0) | (d->layerScale ? 0x40 : 0) | (d->layersEnabled ? 0x80 : 0) |
           (d->doubleBuffer ? 0x100 : 0) | (d->hardwareDoubleBuffer ? 0x200 : 0) | (d->fullScreen ? 0x400 : 0) |
           ((d->flags & QX_DISP_DISABLEBLANKER) ? 0x800 : 0) | ((d->flags & QX_DISP_ALWAYSONTOP) ? 0x1000 : 0);
}

int qxInstallDisplayAdapter(qxPluginInfo *info, uint32_t flags, const qxHostTag *tags)
{
    if (!qxRequireVersion(6, 0))
        return ERR_OLDAPPLET;
    if (!info || !(info->capabilities & QX_CAP_DISPLAYADAPTER))
        return ERR_WRONGUSAGE;
    if (!qxAdapterInstallOpen())
        return ERR_SETADAPTER; // before start-up makes the declared objects
    // An exclusive adapter stays as it is, even for its own plug-in.
    if (qxDisplayAdapter && (qxDisplayAdapter->displayAdapterFlags & QX_ADAPTER_EXCLUSIVE))
        return ERR_SETADAPTER;
    // An open window belongs to whoever opened it and cannot change hands.
    for (qxDisplay *d = qxDisplays; d && qxDisplayAdapter != info; d = nextOf(d))
        if (open(d))
            return ERR_SETADAPTER;
    if (!qxDisplayAdapter)
        for (qxDisplay *d = qxDisplays; d; d = nextOf(d))
            if (x11Data(d)) {
                x11FreeDisplayData(d);
                d->window = nullptr;
            }
    qxAdapterDrawInfo drawInfo{10, 0};
    uint32_t extra = 0;
    for (const qxHostTag *t = tags; t && t->tag; t++) {
        switch (t->tag) {
        case 1: drawInfo.pixelFormat = uint32_t(t->value); break;
        case 2: drawInfo.drawFlags = uint32_t(t->value); break;
        case 3: extra = uint32_t(t->value); break;
        default: break;
        }
    }
    // Every bitmap made afterwards takes the format: it must be one we know.
    if (!qxBytesPerPixel(drawInfo.pixelFormat))
        return ERR_WRONGUSAGE;
    info->displayAdapterFlags = flags;
    qxAdapterInfo = drawInfo;
    // Bitmaps made from now on take the adapter's pixel format.
    if (formatBefore == -2)
        formatBefore = qxScreenPixelFormat;
    qxScreenPixelFormat = int(drawInfo.pixelFormat);
    installExtra = extra;
    qxDisplayAdapter = info;
    // Installed from the running script: the adapter's loop needs the
    // timer messages from now on.
    if (qxGetTag(QX_TAG_MAINRUNNING) && !qxGetTag(QX_TAG_STORED))
        if (int r = qxStartTimerMessageThread()) {
            qxRemoveDisplayAdapter();
            return r;
        }
    return 0;
}

void qxRemoveDisplayAdapter(void)
{
    qxDisplayAdapter = nullptr;
    qxAdapterInfo = {10, 0};
    installExtra = 0;
    if (formatBefore != -2)
        qxScreenPixelFormat = formatBefore;
    formatBefore = -2;
}

int qxRunMainLoop(lua_State *L, void (*run)(void *), void *arg, int (*direct)(lua_State *))
{
    if (auto loop = entry<AdMainLoop>(QX_EP_AdapterMainLoop))
        return loop(L, run, arg, nullptr, nullptr);
    return direct(L);
}

int qxForceEventLoopIteration(void)
{
    if (!adapter())
        return 0;
    if (auto f = entry<AdForce>(QX_EP_ForceEventLoopIteration))
        f(nullptr);
    return 1;
}

int qxAdapterHandleEvents(lua_State *L, int flags)
{
    if (!adapter())
        return -1;
    auto f = entry<AdHandleEvents>(QX_EP_HandleEvents);
    return f ? f(L, flags, nullptr) : 0;
}

int qxAdapterWaitEvents(lua_State *L, int mode)
{
    if (!adapter())
        return -1;
    int out = 0;
    auto f = entry<AdWaitEvents>(QX_EP_WaitEvents);
    return f ? f(L, mode, nullptr, &out) : 0;
}

int qxAdapterSleep(lua_State *L, uint32_t ms)
{
    if (!adapter() || !(qxAdapterFlags() & QX_ADAPTER_SLEEP))
        return 0;
    if (auto f = entry<AdSleep>(QX_EP_Sleep))
        f(L, ms);
    return 1;
}

int qxAdapterVWait(qxDisplay *d, uint32_t argument)
{
    if (!adapter() || !(qxAdapterFlags() & QX_ADAPTER_VWAIT) || !d || !d->window)
        return 0;
    const qxHostTag tags[] = {{1, argument}, {0, 0}};
    if (auto f = entry<AdVWait>(QX_EP_VWait))
        f(d->window, tags, argument);
    return 1;
}

int qxDispBorderSizes(qxDisplay *d)
{
    if (!adapter())
        return x11GetBorderSizes(d);
    int32_t l = 0, r = 0, t = 0, b = 0;
    if (auto f = entry<AdBorders>(QX_EP_DetermineBorderSizes))
        f(qxAdapterDisplayFlags(d), &l, &r, &t, &b);
    d->borderLeft = l;
    d->borderTop = t;
    d->borderWidth = l + r;
    d->borderHeight = t + b;
    d->bordersKnown = 1;
    return 0;
}

// The bytes of a shape plane that covers the whole window, or none.
static const qxBitMapPlane *shapePlane(const qxDisplay *d, qxBitMap *scaled, qxBitMap *own)
{
    qxBitMap *b = scaled ? scaled : own;
    const auto *p = b ? static_cast<const qxBitMapPlane *>(b->data) : nullptr;
    return p && p->pixels && (int64_t)p->width >= d->width && (int64_t)p->height >= d->height ? p : nullptr;
}

int qxDispOpenWindow(qxDisplay *d)
{
    if (!adapter()) {
        if (!x11Data(d))
            if (int r = x11AllocDisplayData(d))
                return r;
        // A BGPic with a mask or an alpha channel shapes the window.
        const qxBGPic *b = d->bgpic;
        const qxBitMapPlane *mask = b ? shapePlane(d, d->maskPlane, b->curMask) : nullptr;
        const qxBitMapPlane *alpha = b ? shapePlane(d, d->alphaPlane, b->curAlpha) : nullptr;
        return x11OpenDisplay(d, (int)d->activation, mask ? mask->pixels : nullptr, mask ? mask->bytesPerRow : 0,
                              alpha ? alpha->pixels : nullptr, alpha ? alpha->bytesPerRow : 0);
    }
    uint32_t out1 = 0, out2 = 0;
    qxHostTag tags[16];
    int n = 0;
    auto add = [&](uint32_t tag, uint64_t value) { tags[n++] = {tag, value}; };
    add(1, uint64_t(d->bgpic ? d->bgpic->width : d->width));
    add(2, uint64_t(d->bgpic ? d->bgpic->height : d->height));
    add(3, uint64_t(uintptr_t(&out1)));
    add(4, uint64_t(uintptr_t(&out2)));
    add(5, uint64_t(uintptr_t(qxMainState)));
    add(6, d->monitor);
    if (d->fullScreen) {
        add(7, d->screenWidth);
        add(8, d->screenHeight);
        add(9, d->screenDepth);
    }
    if (d->scaledWidth && d->scaledHeight) {
        add(10, d->scaledWidth);
        add(11, d->scaledHeight);
    }
    add(12, (d->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0);
    add(0, 0);
    auto f = entry<AdOpen>(QX_EP_OpenDisplay);
    void *handle = f ? f(d->title, d->x, d->y, d->width, d->height, qxAdapterDisplayFlags(d), tags) : nullptr;
    if (!handle)
        return ERR_WINDOW;
    d->window = handle;
    d->adapterFlags[0] = out1;
    d->adapterFlags[1] = out2;
    return 0;
}

qxHardwareBitMapHooks qxHardwareBitMaps;

int qxGetHardwareBitMapDisplay(const qxObjectRef *id, qxDisplay **display)
{
    qxDisplay *d = qxCurrentDisplay;
    if (id && id->number | uintptr_t(id->automatic))
        if (int r = qxFindDisplay(*id, &d))
            return r;
    if (!d || !d->window)
        return ERR_HWBMCLOSEDISP;
    *display = d;
    return 0;
}

int qxAdapterDoubleBufferHook(qxDisplay *d)
{
    if (!adapter())
        return qxBeginDoubleBufferHook(d);
    auto f = entry<qxBeginDoubleBufferFunc>(QX_EP_BeginDoubleBuffer);
    if (!f || !d->window || !d->bgpic)
        return ERR_PLUGINSUPPORT;
    const qxHostTag tags[] = {{1, qxAdapterDisplayFlags(d)}, {0, 0}};
    if (int r = f(d->window, uint32_t(d->bgpic->width), uint32_t(d->bgpic->height), tags))
        return r;
    d->doubleBufferState |= QX_DBSTATE_ADAPTER;
    return 0;
}

int qxAdapterFlip(qxDisplay *d, int sync)
{
    if (!(d->doubleBufferState & QX_DBSTATE_ADAPTER))
        return qxFlipHook(d);
    auto f = entry<qxFlipFunc>(QX_EP_Flip);
    if (!f || !d->window)
        return 0;
    const qxHostTag tags[] = {{1, uint64_t(sync != 0)}, {0, 0}};
    return f(d->window, tags);
}

int qxEndDoubleBufferCleanup(qxDisplay *d)
{
    if (!(d->doubleBufferState & QX_DBSTATE_ADAPTER))
        return qxEndDoubleBufferHook(d);
    d->doubleBufferState &= ~QX_DBSTATE_ADAPTER;
    auto f = entry<qxEndDoubleBufferFunc>(QX_EP_EndDoubleBuffer);
    const qxHostTag none[] = {{0, 0}};
    return f && d->window ? f(d->window, none) : 0;
}

int qxDispCloseWindow(qxDisplay *d)
{
    if (!adapter()) {
        if (x11Data(d))
            x11CloseDisplay(d);
        return 0;
    }
    if (!d->window)
        return 0;
    // The adapter's own double buffer ends before its window.
    if (d->doubleBufferState & QX_DBSTATE_ADAPTER)
        qxEndDoubleBufferCleanup(d);
    // Its hardware brushes leave the adapter with the window.
    if (qxHardwareBitMaps.backup)
        if (int r = qxHardwareBitMaps.backup(d))
            return r;
    if (auto f = entry<AdClose>(QX_EP_CloseDisplay))
        if (int r = f(d->window))
            return r;
    d->window = nullptr;
    d->adapterFlags[0] = d->adapterFlags[1] = 0;
    return 0;
}

void qxDispShowPointer(qxDisplay *d, int show)
{
    if (!adapter()) {
        show ? x11ShowPointer(d) : x11HidePointer(d);
    } else if (auto f = entry<AdShowPointer>(QX_EP_ShowHidePointer)) {
        f(d->window, show);
    }
}

int qxDispCreatePointer(const uint32_t *argb, int hotX, int hotY, int width, int height, void **out)
{
    *out = nullptr;
    if (!adapter()) {
        x11PointerImage *p = nullptr;
        int r = x11CreatePointer(argb, hotX, hotY, &p, width, height);
        *out = p;
        return r ? r : p ? 0 : ERR_POINTERIMG;
    }
    int32_t w = width, h = height;
    auto f = entry<AdCreatePointer>(QX_EP_CreatePointer);
    *out = f ? f(argb, hotX, hotY, &w, &h) : nullptr;
    return *out ? 0 : ERR_POINTERIMG;
}

void qxDispFreePointer(void *pointer)
{
    if (!pointer)
        return;
    if (!adapter())
        x11FreePointer(static_cast<x11PointerImage *>(pointer));
    else if (auto f = entry<AdFreePointer>(QX_EP_FreePointer))
        f(pointer, nullptr);
}

void qxDispSetPointer(qxDisplay *d, void *pointer, int kind)
{
    if (!adapter())
        x11SetPointer(d, static_cast<x11PointerImage *>(pointer), kind);
    else if (auto f = entry<AdSetPointer>(QX_EP_SetPointer))
        f(d->window, kind, pointer, kind);
}

void qxDispMovePointer(qxDisplay *d, int x, int y)
{
    if (!adapter())
        x11MovePointer(d, x, y);
    else if (auto f = entry<AdMovePointer>(QX_EP_MovePointer))
        f(d->window, x, y);
}

void qxDispSetTitle(qxDisplay *d)
{
    if (!adapter())
        x11SetTitle(d);
    else if (auto f = entry<AdTitle>(QX_EP_SetDisplayTitle))
        f(d->window, d->title);
}

void qxDispShowHide(qxDisplay *d, int hide)
{
    if (!adapter())
        x11ShowWindow(d, hide);
    else if (auto f = entry<AdShowHide>(QX_EP_ShowHideDisplay))
        f(d->window, !hide, nullptr);
}

void qxDispMove(qxDisplay *d)
{
    if (!adapter())
        x11MoveWindow(d);
    else if (auto f = entry<AdSizeMove>(QX_EP_SizeMoveDisplay))
        f(d->window, d->x, d->y, 0, 0, nullptr, nullptr);
}

void qxDispMoveSize(qxDisplay *d)
{
    if (!adapter())
        x11MoveSizeWindow(d);
    else if (auto f = entry<AdSizeMove>(QX_EP_SizeMoveDisplay))
        f(d->window, d->x, d->y, d->width, d->height, nullptr, nullptr);
}

void qxDispActivate(qxDisplay *d, int flag)
{
    if (!adapter())
        x11ActivateWindow(d);
    else if (auto f = entry<AdActivate>(QX_EP_ActivateDisplay))
        f(d->window, flag != 0);
}

void qxDispCloseHandlerChanged(qxDisplay *d)
{
    if (!adapter() || !d->window)
        return;
    const qxHostTag tags[] = {{1, d->closeHandler}, {0, 0}};
    if (auto f = entry<AdAttributes>(QX_EP_SetDisplayAttributes))
        f(d->window, tags);
}

void qxDispMousePos(qxDisplay *d, int *x, int *y)
{
    if (!adapter()) {
        *x = int(x11GetAttribute(d, 6));
        *y = int(x11GetAttribute(d, 7));
        return;
    }
    *x = d->satelliteMouseX;
    *y = d->satelliteMouseY;
    if (open(d))
        if (auto f = entry<AdMousePos>(QX_EP_GetMousePos)) {
            int32_t ax = *x, ay = *y;
            f(d->window, &ax, &ay);
            *x = ax;
            *y = ay;
        }
}

uint32_t qxDispQualifiers(qxDisplay *d)
{
    if (adapter()) {
        auto f = entry<AdQualifiers>(QX_EP_GetQualifiers);
        return open(d) && f ? f(d->window) : d->satelliteQualifiers;
    }
    // The modifier keys as the pump keeps them, in the key commands' bit
    // order: shift, alt, command and control, left and right.
    uint32_t q = 0x80000000u;
    for (uint32_t code = QX_KEY_LSHIFT; code <= QX_KEY_RCONTROL; code++)
        if (d->input.keys[code] || d->input.keys[QX_RAWKEY_BASE + code])
            q |= 0x10000u << (code - QX_KEY_LSHIFT);
    return q;
}

void qxDispRectFill(qxDisplay *d, int x, int y, int w, int h, uint32_t colour)
{
    if (adapter()) {
        if (qxAdapterDrawable(d))
            if (auto f = entry<qxAdapterRectFillFn>(QX_EP_RectFill))
                f(d->window, x, y, w, h, qxAdapterColor(colour, 0), 0, nullptr);
    } else if (open(d) && !d->hardwareDoubleBuffer) {
        x11FillRect(d, x, y, w, h, colour);
    }
    if (d->satellites) {
        int32_t p[5] = {x, y, w, h, int32_t(colour)};
        qxNotifySatellites(d, QX_SATOP_RECTFILL, p);
    }
}

void qxDispWritePixel(qxDisplay *d, int x, int y, uint32_t colour)
{
    if (adapter()) {
        if (qxAdapterDrawable(d))
            if (auto f = entry<qxAdapterWritePixelFn>(QX_EP_WritePixel))
                f(d->window, x, y, qxAdapterColor(colour, 0), 0, nullptr);
    } else if (open(d) && !d->hardwareDoubleBuffer) {
        x11WritePixel(d, x, y, colour);
    }
    if (d->satellites) {
        int32_t p[3] = {x, y, int32_t(colour)};
        qxNotifySatellites(d, QX_SATOP_PIXEL, p);
    }
}

void qxDispLine(qxDisplay *d, int x1, int y1, int x2, int y2, uint32_t colour)
{
    if (adapter()) {
        if (qxAdapterDrawable(d))
            if (auto f = entry<qxAdapterLineFn>(QX_EP_Line))
                f(d->window, x1, y1, x2, y2, qxAdapterColor(colour, 0), 0, nullptr);
    } else if (open(d) && !d->hardwareDoubleBuffer) {
        // The server's own line breaks ties otherwise than the bitmap's: the
        // window gets the bitmap's pixels, as runs along the major axis.
        // Runs of x, y, width, height: a flat list of four per run.
        std::vector<int32_t> runs;
        qxLinePoints(x1, y1, x2, y2, [](void *user, int64_t x, int64_t y) {
            auto &r = *static_cast<std::vector<int32_t> *>(user);
            if (x < INT32_MIN / 2 || x > INT32_MAX / 2 || y < INT32_MIN / 2 || y > INT32_MAX / 2)
                return;
            const int32_t px = int32_t(x), py = int32_t(y);
            // The walk only goes on along its major axis.
            int32_t *last = r.empty() ? nullptr : &r[r.size() - 4];
            if (last && last[3] == 1 && py == last[1] && px == last[0] + last[2])
                ++last[2];
            else if (last && last[2] == 1 && px == last[0] && py == last[1] + last[3])
                ++last[3];
            else
                r.insert(r.end(), {px, py, 1, 1});
        }, &runs);
        x11FillRects(d, reinterpret_cast<const int32_t(*)[4]>(runs.data()), int(runs.size() / 4), colour);
    }
    if (d->satellites) {
        int32_t p[5] = {x1, y1, x2, y2, int32_t(colour)};
        qxNotifySatellites(d, QX_SATOP_LINE, p);
    }
}

void qxDispCls(qxDisplay *d, uint32_t colour)
{
    if (adapter() && d->window)
        if (auto f = entry<AdCls>(QX_EP_Cls))
            f(d->window, colour, nullptr);
}

x11Monitor *qxDispGetMonitors(qxDisplay *d)
{
    if (!adapter() || !(qxAdapterFlags() & QX_ADAPTER_MONITORS))
        return x11GetMonitors(d);
    auto get = entry<AdMonitorInfo>(QX_EP_GetMonitorInfo);
    auto release = entry<AdFreeMonitorInfo>(QX_EP_FreeMonitorInfo);
    void *array = nullptr;
    if (!get || get(0, 0, &array, nullptr) || !array)
        return nullptr;
    x11Monitor *head = nullptr, **tail = &head;
    for (const int32_t *e = static_cast<const int32_t *>(array); e[2] > 0 && e[3] > 0; e += 4) {
        auto *m = static_cast<x11Monitor *>(std::calloc(1, sizeof(x11Monitor)));
        if (!m)
            break;
        *m = {nullptr, uint32_t(e[0]), uint32_t(e[1]), uint32_t(e[2]), uint32_t(e[3])};
        *tail = m;
        tail = &m->next;
    }
    if (release)
        release(0, array);
    return head;
}

int qxDispGetScreenModes(qxDisplay *d, x11ScreenMode *modes)
{
    if (!adapter() || !(qxAdapterFlags() & QX_ADAPTER_MONITORS))
        return x11GetScreenModes(d, modes);
    auto get = entry<AdMonitorInfo>(QX_EP_GetMonitorInfo);
    auto release = entry<AdFreeMonitorInfo>(QX_EP_FreeMonitorInfo);
    void *array = nullptr;
    if (!get || get(1, d ? d->monitor : 0, &array, nullptr) || !array)
        return 0;
    int n = 0;
    for (const uint32_t *e = static_cast<const uint32_t *>(array); e[0] && e[1]; e += 3, n++)
        if (modes)
            modes[n] = {e[0], e[1], 0, 0, e[2]};
    if (release)
        release(1, array);
    return n;
}

int qxAdapterGrabPixels(qxDisplay *d, int x, int y, int w, int h, uint32_t **out)
{
    *out = nullptr;
    if (!adapter() || !(qxAdapterFlags() & QX_ADAPTER_GRAB))
        return -1;
    if (w < 1 || h < 1 || uint64_t(w) * uint64_t(h) > (uint64_t(1) << 28))
        return ERR_WRONGUSAGE;
    auto grab = entry<AdGrab>(QX_EP_GrabScreenPixels);
    const uint32_t *pixels = grab ? grab(d ? d->window : nullptr, x, y, w, h, nullptr, nullptr) : nullptr;
    if (!pixels)
        return ERR_GRABSCREEN;
    const size_t bytes = size_t(w) * size_t(h) * 4;
    *out = static_cast<uint32_t *>(std::malloc(bytes));
    if (*out)
        std::memcpy(*out, pixels, bytes);
    if (auto release = entry<AdFreeGrab>(QX_EP_FreeGrabScreenPixels))
        release(pixels);
    return *out ? 0 : ERR_MEM;
}
}
