#include "platform/qx_libimports.h"

#include <dlfcn.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct LibraryDef {
    const char *soname;
    const char *group; // name in warnings; NULL: no warnings
};

const LibraryDef libraries[QX_LIB_COUNT] = {
    {"libasound.so.2", "alsa_base"},        {"libXfixes.so.3", "xfixes_base"},
    {"libXcursor.so.1", "xcursor_base"},    {"libXxf86vm.so.1", "xvidmode_base"},
    {"libpango-1.0.so.0", "pango_base"},    {"libXrandr.so.2", nullptr},
    {"libXss.so.1", "xscrnsaver_base"},     {"libnotify.so.4", "notify_base"},
    {"libgtk-x11-2.0.so.0", "gtk_base"},    {"libglib-2.0.so.0", "glib_base"},
    {"libgobject-2.0.so.0", "gobject_base"},
};

// Group names of the name list mapped to the libraries.
constexpr qxImportLib GTK = QX_LIB_GTK, GLIB = QX_LIB_GLIB, GOBJECT = QX_LIB_GOBJECT,
                      PANGO = QX_LIB_PANGO, ALSA = QX_LIB_ALSA, XFIXES = QX_LIB_XFIXES,
                      XCURSOR = QX_LIB_XCURSOR, XVIDMODE = QX_LIB_XVIDMODE,
                      XSCRNSAVER = QX_LIB_XSCRNSAVER, XRANDR = QX_LIB_XRANDR, NOTIFY = QX_LIB_NOTIFY;

struct ImportDef {
    qxImportLib lib;
    const char *name;
    int optional;
    size_t offset; // of the pointer in qxLibImportTable
};

const ImportDef imports[] = {
#define QX_IMPORT(group, name, optional) {group, #name, optional, offsetof(qxLibImportTable, name)},
#include "platform/qx_libimportnames.h"
#undef QX_IMPORT
};

std::string importDirectory;

// Libraries built on GObject register types that outlive a dlclose: they
// stay mapped until the process ends.
bool staysLoaded(int lib)
{
    return lib == QX_LIB_GTK || lib == QX_LIB_GLIB || lib == QX_LIB_GOBJECT || lib == QX_LIB_PANGO ||
           lib == QX_LIB_NOTIFY;
}

bool isDesktop(int lib)
{
    return lib == QX_LIB_PANGO || lib == QX_LIB_NOTIFY || lib == QX_LIB_GTK || lib == QX_LIB_GLIB ||
           lib == QX_LIB_GOBJECT;
}

// Libraries loaded and looked up together: opening a window uses XFixes
// and Xrandr, so they are the start-up group; each of the rest loads when
// first used, the desktop libraries all at once.
int groupOf(int lib)
{
    if (lib == QX_LIB_XFIXES || lib == QX_LIB_XRANDR)
        return QX_LIB_XFIXES;
    return isDesktop(lib) ? QX_LIB_GTK : lib;
}

// Set once the summary warning was printed: the two groups load apart.
bool warnedMissing;

void *openLibrary(int lib)
{
    int flags = RTLD_LAZY | (staysLoaded(lib) ? RTLD_NODELETE : 0);
    if (importDirectory.empty())
        return dlopen(libraries[lib].soname, flags);
    return dlopen((importDirectory + "/" + libraries[lib].soname).c_str(), flags);
}

qxImportFunc &slot(const ImportDef &def)
{
    return *reinterpret_cast<qxImportFunc *>(reinterpret_cast<char *>(&qxLibImports) + def.offset);
}

// Opens the libraries of a group and looks up their names, warning about
// required ones that are missing.
void importGroup(int group)
{
    qxLibImportTable &t = qxLibImports;
    for (int i = 0; i < QX_LIB_COUNT; i++)
        if (groupOf(i) == group) {
            t.imported[i] = 1;
            t.handle[i] = openLibrary(i);
        }
    // The requesters need all three; a partial set is of no use.
    if (group == groupOf(QX_LIB_GTK)) {
        if (t.handle[QX_LIB_GTK] && t.handle[QX_LIB_GLIB] && t.handle[QX_LIB_GOBJECT]) {
            t.gtkLoaded = 1;
        } else {
            for (int lib : {QX_LIB_GTK, QX_LIB_GLIB, QX_LIB_GOBJECT}) {
                if (t.handle[lib])
                    dlclose(t.handle[lib]);
                t.handle[lib] = nullptr;
            }
        }
    }
    for (int i = 0; i < QX_LIB_COUNT; i++)
        if (groupOf(i) == group)
            t.complete[i] = t.handle[i] != nullptr;
    bool missing = false;
    for (const ImportDef &def : imports) {
        void *handle = t.handle[def.lib];
        if (!handle || groupOf(def.lib) != group)
            continue;
        void *symbol = dlsym(handle, def.name);
        slot(def) = reinterpret_cast<qxImportFunc>(symbol);
        if (symbol || def.optional)
            continue;
        t.complete[def.lib] = 0;
        if (const char *name = libraries[def.lib].group) {
            std::printf("WARNING: Library function %s not found in %s!\n", def.name, name);
            missing = true;
        }
    }
    if (missing && !warnedMissing) {
        warnedMissing = true;
        std::printf("WARNING: Could not import all symbols -- Zephyrane might crash!\n");
    }
    std::fflush(stdout);
    if (group == groupOf(QX_LIB_GTK) &&
        (!t.complete[QX_LIB_GTK] || !t.complete[QX_LIB_GLIB] || !t.complete[QX_LIB_GOBJECT]))
        t.gtkLoaded = 0; // a missing GTK name would be called through a null pointer
    if (group == groupOf(QX_LIB_XRANDR))
        qxLibImports.xrandrAvailable = t.complete[QX_LIB_XRANDR];
}

} // namespace

extern "C" {

qxLibImportTable qxLibImports;

void qxSetImportDirectory(const char *directory) { importDirectory = directory ? directory : ""; }

void qxImportLibraries(void)
{
    if (!qxLibImports.imported[QX_LIB_XFIXES])
        importGroup(groupOf(QX_LIB_XFIXES));
}

void qxImportDesktopLibraries(void)
{
    if (!qxLibImports.imported[QX_LIB_GTK])
        importGroup(groupOf(QX_LIB_GTK));
}

int qxGtkAvailable(void)
{
    qxImportDesktopLibraries();
    return qxLibImports.gtkLoaded != 0;
}

int qxLibraryComplete(int lib)
{
    if (lib < 0 || lib >= QX_LIB_COUNT)
        return 0;
    if (!qxLibImports.imported[lib])
        importGroup(groupOf(lib));
    return qxLibImports.complete[lib] != 0;
}

void qxCloseLibraries(void)
{
    for (void *handle : qxLibImports.handle) {
        if (handle)
            dlclose(handle);
    }
    qxLibImports = qxLibImportTable{};
    warnedMissing = false;
}

#define QX_TYPE_STUB(function, name)                                                               \
    unsigned long function(void)                                                                   \
    {                                                                                              \
        auto f = reinterpret_cast<unsigned long (*)(void)>(qxLibImports.name);                      \
        return f ? f() : 0;                                                                        \
    }
QX_TYPE_STUB(qxGtkDialogGetType, gtk_dialog_get_type)
QX_TYPE_STUB(qxGtkWindowGetType, gtk_window_get_type)
QX_TYPE_STUB(qxGtkLabelGetType, gtk_label_get_type)
QX_TYPE_STUB(qxGtkMiscGetType, gtk_misc_get_type)
QX_TYPE_STUB(qxGtkEntryGetType, gtk_entry_get_type)
QX_TYPE_STUB(qxGtkFileChooserGetType, gtk_file_chooser_get_type)
QX_TYPE_STUB(qxGtkBoxGetType, gtk_box_get_type)
QX_TYPE_STUB(qxGtkContainerGetType, gtk_container_get_type)
QX_TYPE_STUB(qxGtkEditableGetType, gtk_editable_get_type)
QX_TYPE_STUB(qxGdkDrawableGetType, gdk_drawable_get_type)
QX_TYPE_STUB(qxGdkWindowObjectGetType, gdk_window_object_get_type)
QX_TYPE_STUB(qxGtkWidgetGetType, gtk_widget_get_type)
QX_TYPE_STUB(qxGtkColorSelectionDialogGetType, gtk_color_selection_dialog_get_type)
QX_TYPE_STUB(qxGtkColorSelectionGetType, gtk_color_selection_get_type)
QX_TYPE_STUB(qxGtkScrolledWindowGetType, gtk_scrolled_window_get_type)
QX_TYPE_STUB(qxGtkTreeViewGetType, gtk_tree_view_get_type)
QX_TYPE_STUB(qxGtkTreeModelGetType, gtk_tree_model_get_type)
QX_TYPE_STUB(qxGtkListStoreGetType, gtk_list_store_get_type)
QX_TYPE_STUB(qxGtkFontSelectionDialogGetType, gtk_font_selection_dialog_get_type)
#undef QX_TYPE_STUB

void *qxGTypeCheckInstanceCast(void *instance, unsigned long type)
{
    auto f = reinterpret_cast<void *(*)(void *, unsigned long)>(qxLibImports.g_type_check_instance_cast);
    return f ? f(instance, type) : nullptr;
}
}
