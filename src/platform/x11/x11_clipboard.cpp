// The CLIPBOARD selection: owning and serving our text or PNG picture,
// reading another owner's through TARGETS and, for large data, INCR.
#include "platform/x11/x11_clipboard.h"

#include <X11/Xatom.h>
#include <poll.h>

#include <cstdlib>
#include <cstring>

#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/qx_sync.h"
#include "platform/qx_text.h"
#include "platform/qx_upcalls.h"

namespace {

enum : int { CLIP_OPEN_FAILED = 1364, CLIP_READ_FAILED = 1365, CLIP_NO_MEMORY = 1000, CLIP_NO_IMAGES = 1288 };

// Bumped by every answer of the owner, so a read can tell a slow owner
// from a silent one.
uint64_t selectionProgress = 0;

qxDisplay *firstDisplay() { return qxUpcalls.displayList ? qxUpcalls.displayList() : nullptr; }

// The window of the first display that has one.
x11DisplayData *clipboardWindow()
{
    if (qxDisplayAdapterActive())
        return nullptr;
    for (qxDisplay *d = firstDisplay(); d; d = static_cast<qxDisplay *>(d->header.next)) {
        x11DisplayData *x = x11Data(d);
        if (x && x->display && x->window)
            return x;
    }
    return nullptr;
}

void freeIncr(x11DisplayData *x)
{
    std::free(x->incrBuffer);
    x->incrBuffer = nullptr;
    x->incrLength = 0;
    x->incrActive = 0;
}

void endRead(x11DisplayData *x, int error)
{
    if (error && !x->readError)
        x->readError = uint32_t(error);
    freeIncr(x);
    x->readPending = 0;
}

// The received bytes as the caller's text.
int deliverText(x11DisplayData *x, const unsigned char *bytes, size_t length)
{
    auto *data = static_cast<qxClipboardData *>(x->readDest);
    const size_t n = strnlen(reinterpret_cast<const char *>(bytes), length);
    char *copy = static_cast<char *>(qxAlloc(n + 1, 0));
    if (!copy)
        return CLIP_NO_MEMORY;
    std::memcpy(copy, bytes, n);
    copy[n] = 0;
    if (x->readTarget == x->atoms[X11_UTF8_STRING] && !qxTextModeUtf8) {
        char *latin = static_cast<char *>(qxAlloc(n + 1, 0));
        if (!latin) {
            qxFree(copy);
            return CLIP_NO_MEMORY;
        }
        qxUtf8ToLatin1(copy, latin, n, nullptr);
        qxFree(copy);
        copy = latin;
    }
    data->text = copy;
    return 0;
}

void deliver(x11DisplayData *x, const unsigned char *bytes, size_t length)
{
    int error = 0;
    if (x->readTarget == x->atoms[X11_UTF8_STRING] || x->readTarget == x->atoms[X11_TEXT_PLAIN])
        error = deliverText(x, bytes, length);
    else if (x->readTarget == x->atoms[X11_IMAGE_PNG])
        error = x11ClipboardImage.decodePng
                    ? x11ClipboardImage.decodePng(bytes, length, static_cast<qxClipboardData *>(x->readDest))
                    : CLIP_NO_IMAGES;
    endRead(x, error);
}

// An INCR chunk on XCLIP_OUT: append it, or finish on the empty one.
void receiveChunk(x11DisplayData *x)
{
    const Atom prop = x->atoms[X11_XCLIP_OUT];
    size_t length = 0;
    Atom type = None;
    int format = 0;
    unsigned char *chunk = x11GetWindowProperty(x, prop, &length, nullptr, &type, &format);
    XDeleteProperty(x->display, x->window, prop);
    XFlush(x->display);
    if (!chunk) {
        auto *all = static_cast<unsigned char *>(x->incrBuffer);
        x->incrBuffer = nullptr;
        const size_t total = x->incrLength;
        deliver(x, all ? all : reinterpret_cast<const unsigned char *>(""), total);
        std::free(all);
        return;
    }
    if (format != 8 || length > X11_MAX_SELECTION_BYTES - x->incrLength) {
        XFree(chunk);
        endRead(x, CLIP_NO_MEMORY);
        return;
    }
    auto *grown = static_cast<unsigned char *>(std::malloc(x->incrLength + length));
    if (!grown) {
        XFree(chunk);
        endRead(x, CLIP_NO_MEMORY);
        return;
    }
    if (x->incrLength)
        std::memcpy(grown, x->incrBuffer, x->incrLength);
    std::memcpy(grown + x->incrLength, chunk, length);
    XFree(chunk);
    std::free(x->incrBuffer);
    x->incrBuffer = grown;
    x->incrLength += uint32_t(length);
}

// The first answer holds the TARGETS list.
void receiveTargets(x11DisplayData *x)
{
    const Atom prop = x->atoms[X11_XCLIP_OUT];
    size_t length = 0;
    Atom type = None;
    int format = 0;
    unsigned char *list = x11GetWindowProperty(x, prop, &length, nullptr, &type, &format);
    XDeleteProperty(x->display, x->window, prop);
    if (!list) {
        endRead(x, 0);
        return;
    }
    Atom target = 0;
    if (format == 32)
        target = x11ChooseTarget(reinterpret_cast<const Atom *>(list), length / sizeof(long),
                                 x->atoms[X11_UTF8_STRING], x->atoms[X11_TEXT_PLAIN], x->atoms[X11_IMAGE_PNG]);
    XFree(list);
    x->readTarget = target;
    if (!x->readDest || !target) {
        endRead(x, 0);
        return;
    }
    XConvertSelection(x->display, x->atoms[X11_CLIPBOARD], target, prop, x->window, CurrentTime);
    XFlush(x->display);
}

void receiveData(x11DisplayData *x, Atom property)
{
    if (property == None) {
        endRead(x, CLIP_READ_FAILED);
        return;
    }
    const Atom prop = x->atoms[X11_XCLIP_OUT];
    size_t length = 0;
    int incr = 0, format = 0;
    Atom type = None;
    unsigned char *bytes = x11GetWindowProperty(x, prop, &length, &incr, &type, &format);
    if (incr) {
        freeIncr(x);
        x->incrActive = 1;
        XDeleteProperty(x->display, x->window, prop);
        XFlush(x->display);
        return;
    }
    if (!bytes || format != 8) {
        if (bytes)
            XFree(bytes);
        endRead(x, CLIP_READ_FAILED);
        return;
    }
    XDeleteProperty(x->display, x->window, prop);
    deliver(x, bytes, length);
    XFree(bytes);
}

void x11ReceiveSelection(x11DisplayData *x, const XEvent *ev)
{
    ++selectionProgress;
    if (ev->type == PropertyNotify) {
        receiveChunk(x);
        return;
    }
    if (!x->readTarget)
        receiveTargets(x);
    else
        receiveData(x, ev->xselection.property);
}

// Answers a SelectionRequest for CLIPBOARD from what we own.
void serve(x11DisplayData *x, const XSelectionRequestEvent &rq)
{
    const Atom offered = x->ownedType == 1   ? x->atoms[X11_UTF8_STRING]
                         : x->ownedType == 2 ? x->atoms[X11_IMAGE_PNG]
                                             : 0;
    Atom property = rq.property != None ? rq.property : rq.target; // obsolete requestors
    if (rq.target == x->atoms[X11_TARGETS]) {
        Atom list[2] = {x->atoms[X11_TARGETS], offered};
        XChangeProperty(x->display, rq.requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char *>(list), 2);
    } else if (offered && x->ownedData) {
        // One piece only: data the server cannot take in one request is
        // refused rather than reported as sent.
        long maxRequest = XExtendedMaxRequestSize(x->display);
        if (!maxRequest)
            maxRequest = XMaxRequestSize(x->display);
        if (uint64_t(x->ownedLength) + 64 > uint64_t(maxRequest) * 4)
            property = None;
        else
            XChangeProperty(x->display, rq.requestor, property, offered, 8, PropModeReplace,
                            static_cast<unsigned char *>(x->ownedData), int(x->ownedLength));
    } else {
        property = None;
    }
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.display = x->display;
    reply.xselection.requestor = rq.requestor;
    reply.xselection.selection = rq.selection;
    reply.xselection.target = rq.target;
    reply.xselection.property = property;
    reply.xselection.time = rq.time;
    XSendEvent(x->display, rq.requestor, False, 0, &reply);
    XFlush(x->display);
}

// Waits for the owner between polls without spinning.
void waitForServer(x11DisplayData *x)
{
    if (XPending(x->display) > 0)
        return;
    pollfd p{ConnectionNumber(x->display), POLLIN, 0};
    ::poll(&p, 1, 20);
}

// Takes CLIPBOARD for the clipboard window; 0 or 1364 when the server did
// not hand it over.
int takeSelection(x11DisplayData *x)
{
    XSetSelectionOwner(x->display, x->atoms[X11_CLIPBOARD], x->window, CurrentTime);
    return XGetSelectionOwner(x->display, x->atoms[X11_CLIPBOARD]) == x->window ? 0 : CLIP_OPEN_FAILED;
}

// Takes CLIPBOARD with bytes (malloc'd) that become the owned data.
int own(x11DisplayData *x, uint32_t type, void *bytes, size_t length)
{
    x11FreeClipboardData(x);
    if (const int error = takeSelection(x)) {
        std::free(bytes);
        return error;
    }
    x->ownedType = type;
    x->ownedData = bytes;
    x->ownedLength = uint32_t(length);
    return 0;
}

// A picture as PNG; sizes the server could never carry are refused here.
int setImage(x11DisplayData *x, const qxClipboardData *data)
{
    if (!x11ClipboardImage.encodePng)
        return CLIP_NO_IMAGES;
    if (!data || !data->bitmap)
        return CLIP_NO_MEMORY;
    unsigned char *png = nullptr;
    size_t length = 0;
    if (const int error = x11ClipboardImage.encodePng(data, &png, &length))
        return error;
    if (length > X11_MAX_SELECTION_BYTES) {
        std::free(png);
        return CLIP_NO_MEMORY;
    }
    return own(x, 2, png, length);
}

} // namespace

extern "C" {

x11ClipboardImageOps x11ClipboardImage = {};

unsigned char *x11GetWindowProperty(x11DisplayData *x, Atom property, size_t *length, int *isIncr,
                                    Atom *typeOut, int *formatOut)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    if (isIncr)
        *isIncr = 0;
    *length = 0;
    if (XGetWindowProperty(x->display, x->window, property, 0, 0, False, AnyPropertyType, &type, &format,
                           &items, &after, &data) != Success)
        return nullptr;
    if (data)
        XFree(data);
    data = nullptr;
    // Some owners (xclip) announce INCR with no size item at all.
    if (isIncr && type == x->atoms[X11_INCR]) {
        *isIncr = 1;
        return nullptr;
    }
    if (type == None || after == 0)
        return nullptr;
    if (after > X11_MAX_SELECTION_BYTES)
        return nullptr;
    if (XGetWindowProperty(x->display, x->window, property, 0, long((after + 3) / 4), False, AnyPropertyType,
                           &type, &format, &items, &after, &data) != Success ||
        !data)
        return nullptr;
    // Xlib hands 16- and 32-bit items out as shorts and longs.
    const size_t unit = format == 32 ? sizeof(long) : format == 16 ? sizeof(short) : 1;
    *length = size_t(items) * unit;
    if (typeOut)
        *typeOut = type;
    if (formatOut)
        *formatOut = format;
    return data;
}

Atom x11ChooseTarget(const Atom *list, size_t count, Atom utf8, Atom textPlain, Atom png)
{
    bool hasUtf8 = false, hasPlain = false, hasPng = false;
    for (size_t i = 0; i < count; ++i) {
        const Atom a = list[i];
        if (!a)
            continue;
        hasUtf8 |= a == utf8;
        hasPlain |= a == textPlain;
        hasPng |= png && a == png;
    }
    return hasUtf8 ? utf8 : hasPlain ? textPlain : hasPng ? png : 0;
}

void x11FreeClipboardData(x11DisplayData *x)
{
    std::free(x->ownedData);
    x->ownedData = nullptr;
    x->ownedLength = 0;
    x->ownedType = 0;
    freeIncr(x);
}

int x11SetClipboard(int type, const qxClipboardData *data)
{
    x11DisplayData *x = clipboardWindow();
    if (!x)
        return CLIP_OPEN_FAILED;
    if (type == 2)
        return setImage(x, data);
    if (type != 1)
        return 0;
    if (!data || !data->text)
        return CLIP_NO_MEMORY;
    char *copy = qxTextModeUtf8 ? strdup(data->text) : nullptr;
    if (!qxTextModeUtf8) {
        // Converted into malloc'd memory: the owned data is freed with free().
        const size_t size = qxLatin1ToUtf8Size(data->text);
        copy = size ? static_cast<char *>(std::malloc(size)) : nullptr;
        if (copy)
            qxLatin1ToUtf8(data->text, copy);
    }
    if (!copy)
        return CLIP_NO_MEMORY;
    return own(x, 1, copy, std::strlen(copy));
}

int x11ClearClipboard(void)
{
    x11DisplayData *x = clipboardWindow();
    if (!x)
        return CLIP_OPEN_FAILED;
    x11FreeClipboardData(x);
    return takeSelection(x);
}

int x11ReadClipboard(lua_State *L, qxClipboardData *data, int *type)
{
    if (type)
        *type = 0;
    x11DisplayData *x = clipboardWindow();
    if (!x)
        return CLIP_OPEN_FAILED;
    XConvertSelection(x->display, x->atoms[X11_CLIPBOARD], x->atoms[X11_TARGETS], x->atoms[X11_XCLIP_OUT],
                      x->window, CurrentTime);
    XFlush(x->display);
    freeIncr(x);
    x->readError = 0;
    x->readPending = 1;
    x->readTarget = 0;
    x->readDest = data;
    uint64_t seen = selectionProgress;
    double lastProgress = qxGetSeconds();
    int stopError = 0;
    while (!x->readError && x->readPending) {
        int error = 0;
        const int stop = qxUpcalls.pollEvents ? (error = qxUpcalls.pollEvents(L, 2)) != 0
                                              : x11HandleEvents(L, &error);
        if (stop) {
            stopError = error;
            break;
        }
        if (selectionProgress != seen) {
            seen = selectionProgress;
            lastProgress = qxGetSeconds();
        } else if (qxGetSeconds() - lastProgress > X11_CLIPBOARD_TIMEOUT) {
            x->readError = CLIP_READ_FAILED;
            break;
        }
        // The record may be gone if the poll closed the display.
        if (clipboardWindow() != x)
            return stopError ? stopError : CLIP_READ_FAILED;
        waitForServer(x);
    }
    // A late answer must not write into the caller's record after we return.
    const bool finished = !x->readPending;
    x->readPending = 0;
    x->readDest = nullptr;
    freeIncr(x);
    if (stopError)
        return stopError;
    if (!finished && !x->readError)
        return 0;
    if (type && !x->readError) {
        const Atom t = x->readTarget;
        *type = (t == x->atoms[X11_UTF8_STRING] || t == x->atoms[X11_TEXT_PLAIN]) ? 1
                : (t && t == x->atoms[X11_IMAGE_PNG]) ? 2
                                                      : 0;
    }
    return int(x->readError);
}

int x11GetClipboard(lua_State *L, qxClipboardData *data, int *type)
{
    if (data)
        *data = {};
    return x11ReadClipboard(L, data, type);
}

int x11GetClipboardType(lua_State *L, int *type) { return x11ReadClipboard(L, nullptr, type); }

int x11HandleSelectionEvent(qxDisplay *, x11DisplayData *x, XEvent *ev)
{
    switch (ev->type) {
    case SelectionRequest:
        if (ev->xselectionrequest.selection == x->atoms[X11_CLIPBOARD])
            serve(x, ev->xselectionrequest);
        return 1;
    case SelectionClear:
        if (ev->xselectionclear.selection == x->atoms[X11_CLIPBOARD])
            x11FreeClipboardData(x);
        return 1;
    case SelectionNotify:
        if (x->readPending && ev->xselection.selection == x->atoms[X11_CLIPBOARD]) {
            x11ReceiveSelection(x, ev);
            return 1;
        }
        return 0;
    case PropertyNotify:
        if (x->readPending && x->incrActive && ev->xproperty.atom == x->atoms[X11_XCLIP_OUT] &&
            ev->xproperty.state == PropertyNewValue) {
            x11ReceiveSelection(x, ev);
            return 1;
        }
        return 0;
    default: return 0;
    }
}
}
