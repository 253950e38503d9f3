// The mouse pointer of a display's window: standard, busy, hidden, moved,
// and ARGB pointers kept per X connection.
#include <X11/Xcursor/Xcursor.h>

#include <cstdlib>

#include "platform/qx_errcodes.h"
#include "platform/qx_libimports.h"
#include "platform/x11/x11_display.h"

namespace {

template <typename F> F imported(qxImportFunc f) { return reinterpret_cast<F>(f); }

void define(x11DisplayData *x, Cursor cursor)
{
    XDefineCursor(x->display, x->window, cursor);
    XFlush(x->display);
}

} // namespace

extern "C" {

int x11CreatePointer(const uint32_t *argb, int hotX, int hotY, x11PointerImage **out, int width,
                     int height)
{
    *out = nullptr;
    if (!qxLibraryComplete(QX_LIB_XCURSOR))
        return ERR_XCURSOR;
    if (!argb || width <= 0 || height <= 0 || width > 0x7FFF || height > 0x7FFF)
        return ERR_ARGS;
    auto *p = static_cast<x11PointerImage *>(std::calloc(1, sizeof(x11PointerImage)));
    if (!p)
        return ERR_MEM;
    auto *image = imported<XcursorImage *(*)(int, int)>(qxLibImports.XcursorImageCreate)(width,
                                                                                         height);
    if (!image) {
        std::free(p);
        return ERR_MEM;
    }
    // Xcursor composes premultiplied pixels; the images given are not, and a
    // transparent pixel's colour would otherwise be added to the screen.
    for (size_t i = 0, n = (size_t)width * height; i < n; i++) {
        const uint32_t p = argb[i], a = p >> 24;
        image->pixels[i] = a << 24 | ((p >> 16 & 0xFF) * a / 255) << 16 | ((p >> 8 & 0xFF) * a / 255) << 8 |
                           (p & 0xFF) * a / 255;
    }
    image->xhot = (XcursorDim)(hotX < 0 ? 0 : hotX >= width ? width - 1 : hotX);
    image->yhot = (XcursorDim)(hotY < 0 ? 0 : hotY >= height ? height - 1 : hotY);
    p->image = image;
    *out = p;
    return 0;
}

void x11FreePointer(x11PointerImage *pointer)
{
    if (!pointer)
        return;
    if (pointer->image)
        imported<void (*)(XcursorImage *)>(qxLibImports.XcursorImageDestroy)(
            static_cast<XcursorImage *>(pointer->image));
    while (pointer) {
        x11PointerImage *next = pointer->next;
        if (pointer->conn && pointer->cursor)
            XFreeCursor(pointer->conn->display, pointer->cursor);
        std::free(pointer);
        pointer = next;
    }
}

void x11SetPointer(qxDisplay *display, x11PointerImage *pointer, int kind)
{
    x11DisplayData *x = x11Data(display);
    if (!x || !x->window)
        return;
    if (kind == 0) {
        define(x, None);
        x->pointer = 0;
        return;
    }
    if (kind == 1) {
        x->pointer = x11FontCursor(x->conn, X11_CURSOR_BUSY);
        define(x, x->pointer);
        return;
    }
    if (!pointer || !pointer->image || !qxLibraryComplete(QX_LIB_XCURSOR))
        return;
    x11PointerImage *node = pointer, *last = pointer;
    for (; node; last = node, node = node->next)
        if (node->conn == x->conn && node->cursor)
            break;
    if (!node) {
        // The first node serves the first connection; further servers get
        // nodes of their own.
        node = pointer->conn ? static_cast<x11PointerImage *>(std::calloc(1, sizeof(x11PointerImage)))
                             : pointer;
        if (!node)
            return;
        node->conn = x->conn;
        node->cursor = imported<Cursor (*)(Display *, const XcursorImage *)>(
            qxLibImports.XcursorImageLoadCursor)(x->display,
                                                 static_cast<XcursorImage *>(pointer->image));
        if (node != pointer)
            last->next = node;
    }
    define(x, node->cursor);
    x->pointer = node->cursor;
}

void x11ShowPointer(qxDisplay *display)
{
    if (x11DisplayData *x = x11Data(display); x && x->window)
        define(x, x->pointer);
}

void x11HidePointer(qxDisplay *display)
{
    if (x11DisplayData *x = x11Data(display); x && x->window)
        define(x, x11BlankCursor(x->conn));
}

void x11MovePointer(qxDisplay *display, int px, int py)
{
    if (x11DisplayData *x = x11Data(display); x && x->window) {
        XWarpPointer(x->display, None, x->window, 0, 0, 0, 0, px, py);
        XFlush(x->display);
    }
}
}
