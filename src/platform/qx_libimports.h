// The optional desktop libraries, loaded at run time and reached only
// through this table, so that the player starts on systems that lack them.
#pragma once
#include <cstdint>

typedef void (*qxImportFunc)(void);

// Libraries in the order they are opened.
enum qxImportLib {
    QX_LIB_ALSA,
    QX_LIB_XFIXES,
    QX_LIB_XCURSOR,
    QX_LIB_XVIDMODE,
    QX_LIB_PANGO,
    QX_LIB_XRANDR,
    QX_LIB_XSCRNSAVER,
    QX_LIB_NOTIFY,
    QX_LIB_GTK,
    QX_LIB_GLIB,
    QX_LIB_GOBJECT,
    QX_LIB_COUNT
};

struct qxLibImportTable {
    void *handle[QX_LIB_COUNT]; // NULL when the library did not load
    // Set when the library loaded and every name it must have was found;
    // features test this rather than the handle, so that no missing
    // function is ever called.
    uint32_t complete[QX_LIB_COUNT];
    // GTK, GLib and GObject loaded and complete; read it through
    // qxGtkAvailable, which loads them on first use.
    uint32_t gtkLoaded;
    uint32_t xrandrAvailable; // libXrandr loaded with all ten names
    // Set for each library once it was looked for. Only XFixes and Xrandr,
    // which opening a window uses, load at start-up; the others load on
    // first use (qxLibraryComplete): ALSA, Xcursor, XF86VidMode and
    // XScreenSaver one by one, the desktop group (Pango, libnotify, GTK,
    // GLib, GObject) together.
    uint32_t imported[QX_LIB_COUNT];
#define QX_IMPORT(group, name, optional) qxImportFunc name;
#include "platform/qx_libimportnames.h"
#undef QX_IMPORT
};

extern "C" {
extern qxLibImportTable qxLibImports;
// Loads the libraries of the start-up group and fills their part of
// qxLibImports; reports only on the console. The rest load on first use.
void qxImportLibraries(void);
// Loads the desktop group once (later calls do nothing).
void qxImportDesktopLibraries(void);
// After loading the library's group if need be: 1 when the GTK requesters
// can run, or when the library is loaded with every name it must have.
int qxGtkAvailable(void);
int qxLibraryComplete(int lib);
// dlcloses every library that is open and clears the table.
void qxCloseLibraries(void);
// When set, the libraries are opened only from this directory (tests).
void qxSetImportDirectory(const char *directory);

// The GType lookups and the instance cast, through the imported pointers,
// for the GTK instance casts of the requester code (0 / NULL when missing).
unsigned long qxGtkDialogGetType(void);
unsigned long qxGtkWindowGetType(void);
unsigned long qxGtkLabelGetType(void);
unsigned long qxGtkMiscGetType(void);
unsigned long qxGtkEntryGetType(void);
unsigned long qxGtkFileChooserGetType(void);
unsigned long qxGtkBoxGetType(void);
unsigned long qxGtkContainerGetType(void);
unsigned long qxGtkEditableGetType(void);
unsigned long qxGdkDrawableGetType(void);
unsigned long qxGdkWindowObjectGetType(void);
unsigned long qxGtkWidgetGetType(void);
unsigned long qxGtkColorSelectionDialogGetType(void);
unsigned long qxGtkColorSelectionGetType(void);
unsigned long qxGtkScrolledWindowGetType(void);
unsigned long qxGtkTreeViewGetType(void);
unsigned long qxGtkTreeModelGetType(void);
unsigned long qxGtkListStoreGetType(void);
unsigned long qxGtkFontSelectionDialogGetType(void);
void *qxGTypeCheckInstanceCast(void *instance, unsigned long type);
}
