// _NET_WM_ICON sent straight from the icon area's 32-bit words.
// XChangeProperty takes format-32 items as longs: the area's 69,706 words
// would be widened into a buffer of their own, then narrowed again one by
// one as Xlib sends them. The request is built here as Xlib's own
// extension code builds its requests.
#include <vector>

#include "platform/x11/x11_display.h"

// Xlibint.h defines min and max as macros: it comes after the C++ headers.
#include <X11/Xatom.h>
#include <X11/Xlibint.h>

extern "C" void x11SetIconProperty(Display *dpy, Window window, Atom property, const uint32_t *items,
                                   uint32_t count)
{
    // Longer than the connection takes even with BIG-REQUESTS: Xlib's own
    // call decides what happens.
    const unsigned long limit = dpy->bigreq_size ? dpy->bigreq_size : dpy->max_request_size;
    if ((unsigned long)count + 7 > limit) {
        std::vector<long> wide(items, items + count);
        XChangeProperty(dpy, window, property, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(wide.data()), (int)count);
        return;
    }
    LockDisplay(dpy);
    xChangePropertyReq *req;
    GetReq(ChangeProperty, req);
    req->window = window;
    req->property = property;
    req->type = XA_CARDINAL;
    req->format = 32;
    req->mode = PropModeReplace;
    req->nUnits = count;
    long units = count;
    SetReqLen(req, units, units);
    _XSend(dpy, reinterpret_cast<const char *>(items), (long)count * 4);
    UnlockDisplay(dpy);
    SyncHandle();
}
