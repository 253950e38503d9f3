// Satellites: plug-in objects attached to a display that are told of every
// blit, fill and size change, and feed input back into the display; the
// graphics host slots that serve them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/plugins/qx_pluginapi.h"
#include "display/qx_display.h"

extern "C" {

typedef int (*qxSatelliteCallback)(struct qxSatellite *satellite, uint32_t operation, void *params,
                                   void *userData);

struct qxSatellite {
    qxSatellite *next;
    qxSatelliteCallback callback;
    void *userData;
    uint32_t kind2;   // the callback goes through the kind-2 call path
    uint32_t visited; // during a notification
    uint32_t options;
    qxDisplay *display;
    uint32_t options2;
    uint32_t useSource; // wants the unscaled source bitmap
};

// Operation 0: a blit reached the display.
struct qxSatelliteBlit {
    uint32_t kind; // 1 pixel buffer, 2 adapter video bitmap, 3 adapter bitmap handle
    void *bitmap;
    uint32_t width, height, bytesPerRow, pixelFormat;
    void *mask;
    uint32_t maskBytesPerRow;
    int32_t srcX, srcY, dstX, dstY, blitWidth, blitHeight;
};
static_assert(sizeof(qxSatelliteBlit) == 72 && offsetof(qxSatelliteBlit, srcX) == 44);

enum : uint32_t {
    QX_SATOP_BLIT = 0,
    QX_SATOP_RECTFILL = 1,
    QX_SATOP_LINE = 2,
    QX_SATOP_PIXEL = 3,
    QX_SATOP_SIZE = 4,
    QX_SATOP_VWAIT = 5,
};

struct qxSatelliteTag {
    uint32_t tag;
    uintptr_t value;
};

// Calls every satellite of the display (only the one being redrawn while
// there is one) once; callbacks may attach or detach satellites.
void qxNotifySatellites(qxDisplay *display, uint32_t operation, void *params);
// The same, handing sourceParams to satellites that want the source bitmap.
void qxNotifySatellitesSplit(qxDisplay *display, uint32_t operation, void *params,
                             void *sourceParams);
// Host slots 8-11 and 18-20 of the graphics sub-table.
qxSatellite *qxAttachSatellite(const qxObjectRef *display, qxSatelliteCallback callback,
                               void *userData, qxSatelliteTag *tags);
void qxDetachSatellite(qxSatellite *satellite);
void qxRedrawSatellite(qxSatellite *satellite);
int qxResizeSatellite(qxSatellite *satellite, int width, int height, const qxSatelliteTag *tags);
intptr_t qxSatelliteDisplayAttrs(void *handleOrSatellite, qxSatelliteTag *tags);
int qxRefreshDisplayOfHandle(void *handle);
void *qxDisplayHandle(qxObjectRef *ref, void *handle);
// System slot 16: input from a satellite (or null: the first display).
int qxSatelliteInput(qxSatellite *satellite, uint32_t operation, const int32_t params[3],
                     void *payload);
// Fills graphics slots 8-11 and 18-20 of the host table.
void qxInstallDisplayHostSlots(qxHostFunc *graphics);
// Frees the satellites left on a display.
void qxFreeSatellites(qxDisplay *display);
}
