// The CLIPBOARD selection and Xdnd drops of the X11 back-end: owning and
// serving text and PNG pictures, reading them (TARGETS, INCR), and turning dropped URI lists
// into the name lists of the drop event.
#pragma once
#include <X11/Xlib.h>

#include <cstddef>
#include <cstdint>

#include "platform/x11/x11_display.h"

struct qxBitMap;

// What the clipboard commands hand in and get back.
struct qxClipboardData {
    char *text; // allocated by the reader (qxAlloc), then the caller's
    uint32_t width, height;
    qxBitMap *bitmap;
    qxBitMap *mask;
    qxBitMap *alpha;
};

// Limits on outside input: a whole INCR transfer and a drop's URI list.
constexpr size_t X11_MAX_SELECTION_BYTES = size_t(256) << 20;
// Seconds without a word from the owner before a read gives up.
constexpr double X11_CLIPBOARD_TIMEOUT = 5.0;

// The picture coding the clipboard borrows from the picture layer above;
// the top of the program fills it. Left empty, images give 1288.
struct x11ClipboardImageOps {
    // bitmap, mask, alpha, width and height as PNG bytes (malloc'd, *length).
    int (*encodePng)(const qxClipboardData *data, unsigned char **bytes, size_t *length);
    // PNG bytes into a new bitmap (and alpha when the picture has one),
    // width and height; 0 or an error code, nothing kept on failure.
    int (*decodePng)(const unsigned char *bytes, size_t length, qxClipboardData *data);
};

extern "C" {
extern x11ClipboardImageOps x11ClipboardImage;

// type 1 text, type 2 image (offered as image/png); any other type does
// nothing and returns 0.
int x11SetClipboard(int type, const qxClipboardData *data);
// out type 1 text, 2 image, 0 nothing usable.
int x11GetClipboard(lua_State *L, qxClipboardData *data, int *type);
int x11GetClipboardType(lua_State *L, int *type);
int x11ClearClipboard(void);
int x11ReadClipboard(lua_State *L, qxClipboardData *data, int *type);
void x11FreeClipboardData(x11DisplayData *x);

// Event pump hooks; each returns 1 when it took the event.
int x11HandleSelectionEvent(qxDisplay *display, x11DisplayData *x, XEvent *event);
int x11HandleDndMessage(qxDisplay *display, x11DisplayData *x, XClientMessageEvent *event);
int x11HandleDropData(qxDisplay *display, x11DisplayData *x, XSelectionEvent *event);

// The property of the record's window whole: its data (XFree), bytes in
// *length, type and format; NULL when absent or empty. With isIncr, an
// INCR property sets *isIncr and gives NULL.
unsigned char *x11GetWindowProperty(x11DisplayData *x, Atom property, size_t *length, int *isIncr,
                                    Atom *type, int *format);

// The target to ask for from a TARGETS list: UTF8_STRING, else text/plain,
// else image/png, else 0.
Atom x11ChooseTarget(const Atom *list, size_t count, Atom utf8, Atom textPlain, Atom png);

// A text/uri-list as the drop event's list: NUL-terminated names and an
// extra NUL; qxAlloc'd, size in *size. Names holding an encoded NUL are
// dropped. latin1: names converted from UTF-8 to ISO-8859-1. NULL when
// memory runs out.
char *x11DecodeUriList(const char *data, size_t length, int latin1, size_t *size);
}
