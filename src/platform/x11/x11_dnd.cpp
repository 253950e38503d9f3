// Xdnd version 5 drops of text/uri-list onto a display's window, reported
// as event 14 with the list of file names.
#include <X11/Xatom.h>

#include <cstdlib>
#include <cstring>

#include "platform/qx_text.h"
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_clipboard.h"

namespace {

constexpr uint32_t EV_DROPFILE = 14;
constexpr uint32_t SLOT_DROPFILE = 17;

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool typeListHasUriList(x11DisplayData *x, Window source)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(x->display, source, x->atoms[X11_XdndTypeList], 0, 0x8000000, False, XA_ATOM, &type,
                           &format, &items, &after, &data) != Success)
        return false;
    bool found = false;
    if (data && format == 32)
        for (unsigned long i = 0; i < items && !found; ++i)
            found = reinterpret_cast<const Atom *>(data)[i] == x->atoms[X11_TEXT_URI_LIST];
    if (data)
        XFree(data);
    return found;
}

void sendToSource(x11DisplayData *x, Window source, Atom message, long d1, long d2, long d4)
{
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.display = x->display;
    ev.xclient.window = source;
    ev.xclient.message_type = message;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = long(x->window);
    ev.xclient.data.l[1] = d1;
    ev.xclient.data.l[2] = d2;
    ev.xclient.data.l[4] = d4;
    XSendEvent(x->display, source, False, NoEventMask, &ev);
    XFlush(x->display);
}

bool wantsDrops(const qxDisplay *d) { return d->handlers[SLOT_DROPFILE].function != QX_NO_REF; }

// The dropped data arrived on PRIMARY of our window.
void receiveDrop(qxDisplay *d, x11DisplayData *x)
{
    size_t length = 0;
    Atom type = None;
    int format = 0;
    unsigned char *bytes = x11GetWindowProperty(x, x->atoms[X11_PRIMARY], &length, nullptr, &type, &format);
    bool accepted = false;
    if (bytes && format == 8) {
        size_t size = 0;
        char *list = x11DecodeUriList(reinterpret_cast<const char *>(bytes), length, !qxTextModeUtf8, &size);
        if (list) {
            Window root, child;
            int rx = 0, ry = 0, wx = 0, wy = 0;
            unsigned mask = 0;
            XQueryPointer(x->display, x->window, &root, &child, &rx, &ry, &wx, &wy, &mask);
            const int queued = qxUpcalls.postEvent
                                   ? qxUpcalls.postEvent(d, EV_DROPFILE, uint32_t(wx), uint32_t(wy), 0, list)
                                   : 0;
            if (queued != 1)
                std::free(list);
            accepted = queued == 1;
        }
    }
    if (bytes)
        XFree(bytes);
    XDeleteProperty(x->display, x->window, x->atoms[X11_PRIMARY]);
    sendToSource(x, x->dropSource, XInternAtom(x->display, "XdndFinished", False), accepted ? 1 : 0,
                 accepted ? long(x->atoms[X11_XdndActionCopy]) : 0, 0);
    x->dropType = 0;
}

} // namespace

extern "C" {

char *x11DecodeUriList(const char *data, size_t length, int latin1, size_t *size)
{
    char *out = static_cast<char *>(std::malloc(length + 2));
    if (!out)
        return nullptr;
    size_t o = 0, nameStart = 0;
    bool bad = false;
    auto endName = [&]() {
        // A name that held an encoded NUL cannot be a file name; an empty
        // one would end the list early.
        if (bad || o == nameStart) {
            o = nameStart;
        } else {
            out[o] = 0;
            if (latin1) {
                // Never longer than the UTF-8 it comes from.
                if (char *name = strdup(out + nameStart)) {
                    o = nameStart + qxUtf8ToLatin1Buf(name, out + nameStart, o - nameStart + 1);
                    out[o] = 0;
                    std::free(name);
                }
            }
            nameStart = ++o;
        }
        bad = false;
    };
    size_t i = 0;
    bool lineStart = true;
    while (i < length) {
        if (lineStart && length - i >= 7 && std::memcmp(data + i, "file://", 7) == 0) {
            i += 7;
            lineStart = false;
            continue;
        }
        lineStart = false;
        const char c = data[i];
        if (c == '\n') {
            endName();
            lineStart = true;
            ++i;
        } else if (c == '\r') {
            ++i;
        } else if (c == '%' && length - i >= 3 && hexValue(data[i + 1]) >= 0 && hexValue(data[i + 2]) >= 0) {
            const char byte = char(hexValue(data[i + 1]) << 4 | hexValue(data[i + 2]));
            if (byte == 0)
                bad = true;
            else
                out[o++] = byte;
            i += 3;
        } else if (c == 0) {
            bad = true;
            ++i;
        } else {
            out[o++] = c;
            ++i;
        }
    }
    endName();
    out[o++] = 0;
    *size = o;
    return out;
}

int x11HandleDndMessage(qxDisplay *d, x11DisplayData *x, XClientMessageEvent *ev)
{
    const Atom m = ev->message_type;
    if (ev->format != 32)
        return 0;
    if (m == x->atoms[X11_XdndEnter]) {
        x->dropType = 0;
        bool uri = false;
        if (ev->data.l[1] & 1)
            uri = typeListHasUriList(x, Window(ev->data.l[0]));
        else
            for (int i = 2; i <= 4; ++i)
                uri |= Atom(ev->data.l[i]) == x->atoms[X11_TEXT_URI_LIST];
        if (uri)
            x->dropType = x->atoms[X11_TEXT_URI_LIST];
        return 1;
    }
    if (m == x->atoms[X11_XdndPosition]) {
        const bool accept = x->dropType && wantsDrops(d);
        sendToSource(x, Window(ev->data.l[0]), x->atoms[X11_XdndStatus], accept ? 1 : 0, 0,
                     accept ? long(x->atoms[X11_XdndActionCopy]) : 0);
        return 1;
    }
    if (m == x->atoms[X11_XdndLeave])
        return 1;
    if (m == x->atoms[X11_XdndDrop]) {
        x->dropSource = Window(ev->data.l[0]);
        if (x->dropType) {
            XConvertSelection(x->display, x->atoms[X11_XdndSelection], x->dropType, x->atoms[X11_PRIMARY],
                              x->window, Time(ev->data.l[2]));
            XFlush(x->display);
        } else {
            // Refused drops are finished at once so the source does not wait.
            sendToSource(x, x->dropSource, XInternAtom(x->display, "XdndFinished", False), 0, 0, 0);
        }
        return 1;
    }
    return 0;
}

// The SelectionNotify that carries a drop's data.
int x11HandleDropData(qxDisplay *d, x11DisplayData *x, XSelectionEvent *ev)
{
    if (!x->dropType || x->readPending || ev->target != x->dropType)
        return 0;
    if (ev->property == None) {
        sendToSource(x, x->dropSource, XInternAtom(x->display, "XdndFinished", False), 0, 0, 0);
        x->dropType = 0;
        return 1;
    }
    receiveDrop(d, x);
    return 1;
}
}
