// The GTK requester thread: builds each dialog the script thread hands over
// in qxRequest. GTK, GLib and GObject are reached only through the run-time
// import table, so every widget is an opaque pointer here.
#include <X11/Xlib.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/qx_libimports.h"
#include "platform/qx_memory.h"
#include "platform/qx_sync.h"
#include "platform/qx_text.h"
#include "platform/requesters/qx_gtk.h"
#include "platform/requesters/qx_requesters.h"

namespace {

template <class F> F fn(qxImportFunc p) { return reinterpret_cast<F>(p); }
#define QXG(name, type) fn<type>(qxLibImports.name)

typedef void *W; // GtkWidget and friends

// The instance casts of GTK's C interface: a checked cast through GObject,
// which warns about an object of the wrong type.
W as(W object, unsigned long (*type)(void))
{
    return object ? qxGTypeCheckInstanceCast(object, type()) : nullptr;
}
using VoidW = void (*)(W);
using VoidWI = void (*)(W, int);
using VoidWS = void (*)(W, const char *);

enum {
    RESP_NONE = -1,
    RESP_ACCEPT = -3,
    RESP_DELETE = -4,
    RESP_OK = -5,
    RESP_CANCEL = -6,
    RESP_APPLY = -10,
    ICON_SIZE_DIALOG = 6,
};

// A GTK+ 2 before 2.14 lacks the getters of a dialog's parts; its
// structures are fixed ABI, and on x86-64 a GtkDialog keeps its vbox and
// action area right behind its GtkWindow (240 bytes), a
// GtkColorSelectionDialog its colorsel right behind its GtkDialog.
constexpr size_t kDialogVBox = 240, kDialogActionArea = 248, kColorSelDialogColorSel = 264;

W member(W object, size_t offset)
{
    W value;
    std::memcpy(&value, static_cast<const char *>(object) + offset, sizeof value);
    return value;
}

std::atomic<uint32_t> gtkQuit{0};
// The requester thread's own X connection for the transient hint: the
// parent's connection belongs to the script thread (Xlib is not set up for
// sharing a connection between threads).
Display *hintDisplay = nullptr;
std::atomic<int> gtkRunning{0};
pthread_t gtkThread;

void gFree(void *p)
{
    if (p)
        QXG(g_free, void (*)(void *))(p);
}

char *convert(const char *text, const char *to, const char *from)
{
    if (!text)
        text = "";
    if (qxTextModeUtf8) {
        size_t n = std::strlen(text) + 1;
        auto *copy = static_cast<char *>(QXG(g_malloc, void *(*)(size_t))(n));
        if (copy)
            std::memcpy(copy, text, n);
        return copy;
    }
    return QXG(g_convert, char *(*)(const char *, long, const char *, const char *, size_t *,
                                     size_t *, void **))(text, -1, to, from, nullptr, nullptr,
                                                         nullptr);
}

char *qxAllocCopy(const char *text, size_t length)
{
    auto *copy = static_cast<char *>(qxAlloc(length + 1, 0));
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = 0;
    }
    return copy;
}

int normalise(int response)
{
    return response == RESP_DELETE || response == RESP_NONE ? 0 : response;
}

W addButton(W dialog, const char *text, int response)
{
    return QXG(gtk_dialog_add_button, W (*)(W, const char *, int))(as(dialog, qxGtkDialogGetType), text, response);
}

// The frame shared by message, string and list dialogs; returns the dialog
// with `extra` (entry or list, may be NULL) packed under the label.
W buildFrame(const char *title, const char *body, int icon, W extra, char **t8, char **b8)
{
    W dialog = QXG(gtk_dialog_new, W (*)(void))();
    if (!dialog)
        return nullptr;
    *t8 = qxGtkToUtf8(title);
    *b8 = qxGtkToUtf8(body);
    QXG(gtk_window_set_title, VoidWS)(as(dialog, qxGtkWindowGetType), *t8 ? *t8 : (title ? title : ""));
    QXG(gtk_window_set_modal, VoidWI)(as(dialog, qxGtkWindowGetType), 1);
    QXG(gtk_window_set_resizable, VoidWI)(as(dialog, qxGtkWindowGetType), 0);
    W label = QXG(gtk_label_new, W (*)(const char *))(*b8 ? *b8 : (body ? body : ""));
    QXG(gtk_label_set_line_wrap, VoidWI)(as(label, qxGtkLabelGetType), 0);
    auto align = QXG(gtk_misc_set_alignment, void (*)(W, float, float));
    align(as(label, qxGtkMiscGetType), 0, 0);
    static const char *const stock[] = {nullptr, "gtk-dialog-info", "gtk-dialog-error",
                                        "gtk-dialog-warning", "gtk-dialog-question"};
    W image = nullptr;
    if (icon >= 1 && icon <= 4) {
        image = QXG(gtk_image_new_from_stock, W (*)(const char *, int))(stock[icon],
                                                                        ICON_SIZE_DIALOG);
        align(as(image, qxGtkMiscGetType), 0.5f, 0);
    }
    auto pack = QXG(gtk_box_pack_start, void (*)(W, W, int, int, unsigned));
    W hbox = QXG(gtk_hbox_new, W (*)(int, int))(0, 12);
    W vbox = QXG(gtk_vbox_new, W (*)(int, int))(0, 12);
    pack(as(vbox, qxGtkBoxGetType), label, 0, 0, 0);
    if (extra)
        pack(as(vbox, qxGtkBoxGetType), extra, 1, 1, 0);
    if (image)
        pack(as(hbox, qxGtkBoxGetType), image, 0, 0, 0);
    pack(as(hbox, qxGtkBoxGetType), vbox, 1, 1, 0);
    W content = qxGtkDialogContentArea(dialog);
    W actions = qxGtkDialogActionArea(dialog);
    auto border = QXG(gtk_container_set_border_width, void (*)(W, unsigned));
    auto spacing = QXG(gtk_box_set_spacing, VoidWI);
    border(as(dialog, qxGtkContainerGetType), 5);
    border(as(hbox, qxGtkContainerGetType), 5);
    if (content) {
        spacing(as(content, qxGtkBoxGetType), 14);
        pack(as(content, qxGtkBoxGetType), hbox, 1, 1, 0);
    }
    if (actions) {
        border(as(actions, qxGtkContainerGetType), 5);
        spacing(as(actions, qxGtkBoxGetType), 6);
    }
    QXG(gtk_widget_show_all, VoidW)(as(hbox, qxGtkWidgetGetType));
    return dialog;
}

int runDialog(W dialog)
{
    if (qxRequest.parentWindow)
        QXG(g_signal_connect_data, unsigned long (*)(W, const char *, void (*)(void), void *,
                                                     void *, int))(
            dialog, "map-event", reinterpret_cast<void (*)(void)>(qxGtkOnMap), nullptr, nullptr,
            0);
    return QXG(gtk_dialog_run, int (*)(W))(as(dialog, qxGtkDialogGetType));
}

void messageBox(void)
{
    char *t8 = nullptr, *b8 = nullptr;
    W dialog = buildFrame(qxRequest.title, qxRequest.body, qxRequest.icon, nullptr, &t8, &b8);
    if (!dialog) {
        qxRequest.status = -1;
        return;
    }
    std::string custom;
    switch (qxRequest.layout) {
    case 0: addButton(dialog, "gtk-ok", 1); addButton(dialog, "gtk-cancel", 0); break;
    case 1: addButton(dialog, "gtk-yes", 1); addButton(dialog, "gtk-no", 0); break;
    case 2:
        addButton(dialog, "gtk-yes", 1);
        addButton(dialog, "gtk-no", 2);
        addButton(dialog, "gtk-cancel", 0);
        break;
    case 3: addButton(dialog, "gtk-ok", 0); break;
    case 4: {
        custom = qxRequest.buttons ? qxRequest.buttons : "";
        // Each non-empty text answers its 1-based position, the last one 0.
        size_t count = 1;
        for (char c : custom)
            count += c == '|';
        size_t start = 0;
        for (size_t i = 0; i < count; i++) {
            size_t end = custom.find('|', start);
            if (end == std::string::npos)
                end = custom.size();
            std::string text = custom.substr(start, end - start);
            if (!text.empty()) {
                char *u = qxGtkToUtf8(text.c_str());
                addButton(dialog, u ? u : text.c_str(), i + 1 == count ? 0 : (int)(i + 1));
                gFree(u);
            }
            start = end + 1;
        }
        break;
    }
    default: break;
    }
    int response = normalise(runDialog(dialog));
    QXG(gtk_widget_destroy, VoidW)(as(dialog, qxGtkWidgetGetType));
    gFree(t8);
    gFree(b8);
    qxRequest.number = response;
    qxRequest.status = 1;
}

void stringRequester(void)
{
    W entry = QXG(gtk_entry_new, W (*)(void))();
    char *d8 = qxGtkToUtf8(qxRequest.defaultText);
    QXG(gtk_entry_set_text, VoidWS)(as(entry, qxGtkEntryGetType), d8 ? d8 : (qxRequest.defaultText ? qxRequest.defaultText : ""));
    gFree(d8);
    if (qxRequest.maxLength > 0)
        QXG(gtk_entry_set_max_length, VoidWI)(as(entry, qxGtkEntryGetType), qxRequest.maxLength);
    if (qxRequest.password)
        QXG(gtk_entry_set_visibility, VoidWI)(as(entry, qxGtkEntryGetType), 0);
    if (qxRequest.inputKind == QX_REQINPUT_NUMERICAL)
        QXG(g_signal_connect_data, unsigned long (*)(W, const char *, void (*)(void), void *,
                                                     void *, int))(
            entry, "insert_text", reinterpret_cast<void (*)(void)>(qxGtkNumericFilter), nullptr,
            nullptr, 0);
    char *t8 = nullptr, *b8 = nullptr;
    W dialog = buildFrame(qxRequest.title, qxRequest.body, 0, entry, &t8, &b8);
    if (!dialog) {
        qxRequest.status = -1;
        return;
    }
    addButton(dialog, "gtk-ok", 1);
    addButton(dialog, "gtk-cancel", 0);
    QXG(gtk_dialog_set_default_response, VoidWI)(as(dialog, qxGtkDialogGetType), 1);
    int response = normalise(runDialog(dialog));
    qxRequest.result = nullptr;
    qxRequest.status = 0;
    if (response == 1) {
        const char *text = QXG(gtk_entry_get_text, const char *(*)(W))(as(entry, qxGtkEntryGetType));
        char *back = qxGtkFromUtf8(text);
        const char *use = back ? back : (text ? text : "");
        qxRequest.result = qxAllocCopy(use, std::strlen(use));
        gFree(back);
        qxRequest.status = qxRequest.result ? 1 : -1;
    }
    QXG(gtk_widget_destroy, VoidW)(as(dialog, qxGtkWidgetGetType));
    gFree(t8);
    gFree(b8);
}

// The chosen name(s) as full paths, NUL-separated, an empty one last.
void fileOrPath(bool path)
{
    const char *title = qxRequest.title;
    bool save = qxRequest.flags & 2, multi = !path && (qxRequest.flags & 1);
    char *t8 = qxGtkToUtf8(title);
    int action = path ? (save ? 3 : 2) : (save ? 1 : 0);
    auto create = QXG(gtk_file_chooser_dialog_new, W (*)(const char *, W, int, const char *, ...));
    W dialog = create(t8 ? t8 : (title ? title : ""), nullptr, action, "gtk-cancel", RESP_CANCEL,
                      path ? "gtk-open" : (save ? "gtk-save" : "gtk-open"), RESP_ACCEPT, nullptr);
    qxRequest.result = nullptr;
    if (!dialog) {
        gFree(t8);
        qxRequest.status = -1;
        return;
    }
    char *dir8 = qxGtkToUtf8(qxRequest.defaultPath);
    if (path) {
        if (dir8 && *dir8)
            QXG(gtk_file_chooser_set_current_folder, int (*)(W, const char *))(as(dialog, qxGtkFileChooserGetType), dir8);
    } else {
        if (multi)
            QXG(gtk_file_chooser_set_select_multiple, VoidWI)(as(dialog, qxGtkFileChooserGetType), 1);
        if (save)
            QXG(gtk_file_chooser_set_do_overwrite_confirmation, VoidWI)(as(dialog, qxGtkFileChooserGetType), 1);
        W pattern = nullptr;
        if (qxRequest.pattern && *qxRequest.pattern) {
            auto newFilter = QXG(gtk_file_filter_new, W (*)(void));
            auto addPattern = QXG(gtk_file_filter_add_pattern, VoidWS);
            auto setName = QXG(gtk_file_filter_set_name, VoidWS);
            W all = newFilter();
            pattern = newFilter();
            if (all && pattern) {
                char *all8 = qxGtkToUtf8(qxRequest.allName ? qxRequest.allName : "All");
                setName(all, all8 ? all8 : "All");
                gFree(all8);
                addPattern(all, "*");
                addPattern(all, "*.*");
                setName(pattern, "Filter");
                std::string list = qxRequest.pattern;
                size_t start = 0;
                while (start <= list.size()) {
                    size_t end = list.find('|', start);
                    if (end == std::string::npos)
                        end = list.size();
                    std::string ext = list.substr(start, end - start);
                    if (!ext.empty() && ext[0] == '.')
                        ext.erase(0, 1);
                    if (!ext.empty()) {
                        char one[128];
                        std::snprintf(one, sizeof one, "*.%s", ext.c_str());
                        addPattern(pattern, one);
                    }
                    start = end + 1;
                }
                auto add = QXG(gtk_file_chooser_add_filter, void (*)(W, W));
                add(as(dialog, qxGtkFileChooserGetType), all);
                add(as(dialog, qxGtkFileChooserGetType), pattern);
            } else {
                pattern = nullptr;
            }
        }
        char *file8 = qxGtkToUtf8(qxRequest.defaultFile);
        std::string start = dir8 ? dir8 : "";
        if (file8 && *file8) {
            if (!start.empty() && start.back() != '/')
                start.push_back('/');
            start += file8;
        }
        gFree(file8);
        if (!start.empty() && start.size() <= 1024)
            QXG(gtk_file_chooser_set_filename, int (*)(W, const char *))(as(dialog, qxGtkFileChooserGetType), start.c_str());
        if (pattern)
            QXG(gtk_file_chooser_set_filter, void (*)(W, W))(as(dialog, qxGtkFileChooserGetType), pattern);
    }
    gFree(dir8);
    int response = runDialog(dialog);
    qxRequest.status = 0;
    if (response == RESP_ACCEPT) {
        std::string names;
        int count = 0;
        auto take = [&](char *name) {
            char *back = qxGtkFromUtf8(name);
            names += back ? back : name;
            names.push_back('\0');
            gFree(back);
            gFree(name);
            count++;
        };
        if (multi) {
            struct Node { void *data; Node *next; };
            auto *list = QXG(gtk_file_chooser_get_filenames, Node *(*)(W))(as(dialog, qxGtkFileChooserGetType));
            for (Node *n = list; n; n = n->next)
                take(static_cast<char *>(n->data));
            if (list)
                QXG(g_slist_free, void (*)(void *))(list);
        } else if (char *name = QXG(gtk_file_chooser_get_filename, char *(*)(W))(as(dialog, qxGtkFileChooserGetType))) {
            take(name);
        }
        if (count) {
            names.push_back('\0');
            qxRequest.result = qxAllocCopy(names.data(), names.size());
            qxRequest.status = qxRequest.result ? 1 : -1;
        } else {
            qxRequest.status = -1;
        }
    }
    QXG(gtk_widget_destroy, VoidW)(as(dialog, qxGtkWidgetGetType));
    gFree(t8);
}

struct TreeIter {
    int stamp;
    void *data[3];
};

void listRequester(void)
{
    W store = QXG(gtk_list_store_newv, W (*)(int, unsigned long *))(
        1, std::array<unsigned long, 1>{16 << 2}.data()); // G_TYPE_STRING
    W view = QXG(gtk_tree_view_new, W (*)(void))();
    QXG(gtk_tree_view_set_model, void (*)(W, W))(as(view, qxGtkTreeViewGetType), as(store, qxGtkTreeModelGetType));
    QXG(g_object_unref, VoidW)(store);
    QXG(gtk_tree_view_set_headers_visible, VoidWI)(as(view, qxGtkTreeViewGetType), 0);
    QXG(gtk_widget_set_size_request, void (*)(W, int, int))(as(view, qxGtkWidgetGetType), 250, 200);
    W renderer = QXG(gtk_cell_renderer_text_new, W (*)(void))();
    W column = QXG(gtk_tree_view_column_new_with_attributes,
                   W (*)(const char *, W, ...))("unnamed", renderer, "markup", 0, nullptr);
    QXG(gtk_tree_view_append_column, int (*)(W, W))(as(view, qxGtkTreeViewGetType), column);
    auto escape = QXG(g_markup_escape_text, char *(*)(const char *, long));
    int index = 0;
    for (const char *e = qxRequest.entries; e && *e; e += std::strlen(e) + 1, index++) {
        char *u = qxGtkToUtf8(e);
        char *m = escape(u ? u : e, -1);
        TreeIter iter{};
        QXG(gtk_list_store_insert, void (*)(W, TreeIter *, int))(as(store, qxGtkListStoreGetType), &iter, index);
        QXG(gtk_list_store_set, void (*)(W, TreeIter *, ...))(as(store, qxGtkListStoreGetType), &iter, 0, m ? m : "", -1);
        gFree(m);
        gFree(u);
    }
    W selection = QXG(gtk_tree_view_get_selection, W (*)(W))(as(view, qxGtkTreeViewGetType));
    int initial = qxRequest.defaultNumber;
    if (initial < 0 || initial >= index) {
        QXG(gtk_tree_selection_unselect_all, VoidW)(selection);
    } else {
        void *path = QXG(gtk_tree_path_new_from_indices, void *(*)(int, ...))(initial, -1);
        QXG(gtk_tree_selection_select_path, void (*)(W, void *))(selection, path);
        QXG(gtk_tree_view_scroll_to_cell, void (*)(W, void *, W, int, float, float))(as(view, qxGtkTreeViewGetType), path, nullptr, 0, 0, 0);
        QXG(gtk_tree_path_free, void (*)(void *))(path);
    }
    W scrolled = QXG(gtk_scrolled_window_new, W (*)(W, W))(nullptr, nullptr);
    QXG(gtk_scrolled_window_set_policy, void (*)(W, int, int))(as(scrolled, qxGtkScrolledWindowGetType), 1, 0);
    QXG(gtk_container_add, void (*)(W, W))(as(scrolled, qxGtkContainerGetType), view);
    char *t8 = nullptr, *b8 = nullptr;
    W dialog = buildFrame(qxRequest.title, qxRequest.body, 0, scrolled, &t8, &b8);
    if (!dialog) {
        qxRequest.status = -1;
        return;
    }
    addButton(dialog, "gtk-ok", 1);
    addButton(dialog, "gtk-cancel", 0);
    QXG(gtk_dialog_set_default_response, VoidWI)(as(dialog, qxGtkDialogGetType), 1);
    int response = normalise(runDialog(dialog));
    qxRequest.number = -1;
    TreeIter iter{};
    W model = nullptr;
    if (response == 1 &&
        QXG(gtk_tree_selection_get_selected, int (*)(W, W *, TreeIter *))(selection, &model, &iter)) {
        void *path = QXG(gtk_tree_model_get_path, void *(*)(W, TreeIter *))(as(model, qxGtkTreeModelGetType), &iter);
        if (path) {
            int *indices = QXG(gtk_tree_path_get_indices, int *(*)(void *))(path);
            if (indices)
                qxRequest.number = indices[0];
            QXG(gtk_tree_path_free, void (*)(void *))(path);
        }
    }
    qxRequest.status = response;
    QXG(gtk_widget_destroy, VoidW)(as(dialog, qxGtkWidgetGetType));
    gFree(t8);
    gFree(b8);
}

struct GColor {
    uint32_t pixel;
    uint16_t red, green, blue;
};

void colorRequester(void)
{
    char *t8 = qxGtkToUtf8(qxRequest.title);
    W dialog = QXG(gtk_color_selection_dialog_new, W (*)(const char *))(t8 ? t8 : "");
    gFree(t8);
    if (!dialog) {
        qxRequest.status = -1;
        return;
    }
    W selection = qxLibImports.gtk_color_selection_dialog_get_color_selection
                      ? QXG(gtk_color_selection_dialog_get_color_selection, W (*)(W))(as(dialog, qxGtkColorSelectionDialogGetType))
                      : member(dialog, kColorSelDialogColorSel);
    qxRequest.status = 0;
    if (selection) {
        uint32_t initial = (uint32_t)qxRequest.defaultNumber;
        if (initial != 0xFFFFFFFFu) {
            GColor c{0, (uint16_t)(((initial >> 16) & 255) << 8), (uint16_t)(((initial >> 8) & 255) << 8),
                     (uint16_t)((initial & 255) << 8)};
            QXG(gtk_color_selection_set_current_color, void (*)(W, const GColor *))(as(selection, qxGtkColorSelectionGetType), &c);
        }
        if (runDialog(dialog) == RESP_OK) {
            GColor c{};
            QXG(gtk_color_selection_get_current_color, void (*)(W, GColor *))(as(selection, qxGtkColorSelectionGetType), &c);
            qxRequest.color = (int32_t)(((c.red >> 8) << 16) | ((c.green >> 8) << 8) | (c.blue >> 8));
            qxRequest.status = 1;
        }
    } else {
        qxRequest.status = -1;
    }
    QXG(gtk_widget_destroy, VoidW)(as(dialog, qxGtkWidgetGetType));
}

// Pango's weight on the program's scale; unknown weights count as normal.
int programWeight(int pango)
{
    static const int table[][2] = {{100, 0},   {200, 40},  {300, 50},  {380, 75},  {400, 80}, {500, 100},
                                   {600, 180}, {700, 200}, {800, 205}, {900, 210}, {1000, 215}};
    for (const auto &row : table)
        if (row[0] == pango) return row[1];
    return 80;
}

void fontRequester(void)
{
    char *t8 = qxGtkToUtf8(qxRequest.title);
    W dialog = QXG(gtk_font_selection_dialog_new, W (*)(const char *))(t8 ? t8 : "");
    gFree(t8);
    qxRequest.result = nullptr;
    if (!dialog) {
        qxRequest.status = -1;
        return;
    }
    if (qxRequest.defaultText && *qxRequest.defaultText) {
        char start[300];
        std::snprintf(start, sizeof start, "%.255s %d", qxRequest.defaultText, qxRequest.defaultNumber);
        QXG(gtk_font_selection_dialog_set_font_name, int (*)(W, const char *))(as(dialog, qxGtkFontSelectionDialogGetType), start);
    }
    int response = runDialog(dialog);
    qxRequest.status = 0;
    if (response == RESP_OK || response == RESP_APPLY) {
        char *name = QXG(gtk_font_selection_dialog_get_font_name, char *(*)(W))(as(dialog, qxGtkFontSelectionDialogGetType));
        qxRequest.status = -1;
        if (name && qxLibraryComplete(QX_LIB_PANGO)) {
            void *desc = QXG(pango_font_description_from_string, void *(*)(const char *))(name);
            const char *family = desc ? QXG(pango_font_description_get_family, const char *(*)(void *))(desc) : nullptr;
            if (family) {
                qxRequest.result = qxAllocCopy(family, strnlen(family, 255));
                const char *blank = std::strrchr(name, ' ');
                qxRequest.number = blank ? std::atoi(blank + 1) : 0;
                qxRequest.weight = programWeight(QXG(pango_font_description_get_weight, int (*)(void *))(desc));
                // Pango's styles: 0 normal, 1 oblique, 2 italic.
                const int style = QXG(pango_font_description_get_style, int (*)(void *))(desc);
                qxRequest.slant = style == 1 ? 110 : style == 2 ? 100 : 0;
                qxRequest.status = qxRequest.result ? 1 : -1;
            }
            if (desc)
                QXG(pango_font_description_free, void (*)(void *))(desc);
        }
        gFree(name);
    }
    QXG(gtk_widget_destroy, VoidW)(as(dialog, qxGtkWidgetGetType));
}

void *requesterThread(void *)
{
    QXG(g_main_loop_new, void *(*)(void *, int))(nullptr, 0);
    auto iterate = QXG(g_main_context_iteration, int (*)(void *, int));
    while (!gtkQuit.load(std::memory_order_acquire)) {
        iterate(nullptr, 0);
        uint32_t kind = qxRequest.kind.load(std::memory_order_acquire);
        switch (kind) {
        case QX_REQ_MESSAGE: messageBox(); break;
        case QX_REQ_FILE: fileOrPath(false); break;
        case QX_REQ_PATH: fileOrPath(true); break;
        case QX_REQ_STRING: stringRequester(); break;
        case QX_REQ_LIST: listRequester(); break;
        case QX_REQ_FONT: fontRequester(); break;
        case QX_REQ_COLOR: colorRequester(); break;
        default: usleep(20000); continue;
        }
        // The destroyed dialog leaves the screen before the answer is handed
        // back (each pass flushes GTK's connection), so the script never
        // meets it after its requester returned.
        for (int i = 0; i < 100 && iterate(nullptr, 0); i++) {
        }
        qxRequest.kind.store(QX_REQ_IDLE, std::memory_order_release);
    }
    if (hintDisplay)
        XCloseDisplay(hintDisplay);
    hintDisplay = nullptr;
    return nullptr;
}

} // namespace

extern "C" {

char *qxGtkToUtf8(const char *text) { return convert(text, "UTF-8", "ISO-8859-1"); }
char *qxGtkFromUtf8(const char *text) { return convert(text, "ISO-8859-1", "UTF-8"); }

int qxGtkOnMap(void *widget, void *event, void *data)
{
    (void)widget;
    (void)data;
    // GdkEventAny: the event type, then the GdkWindow of the mapped widget.
    struct MapEvent {
        int type;
        void *window;
    };
    void *gdkWindow = event ? static_cast<MapEvent *>(event)->window : nullptr;
    if (!gdkWindow || !qxRequest.parentDisplay || !qxRequest.parentWindow)
        return 0;
    unsigned long xid = QXG(gdk_x11_drawable_get_xid, unsigned long (*)(void *))(as(as(gdkWindow, qxGdkWindowObjectGetType), qxGdkDrawableGetType));
    // The server GTK itself talks to (window ids are server-wide).
    if (!hintDisplay)
        hintDisplay = XOpenDisplay(nullptr);
    if (xid && hintDisplay) {
        XSetTransientForHint(hintDisplay, xid, qxRequest.parentWindow);
        XFlush(hintDisplay);
    }
    return 0;
}

void *qxGtkDialogContentArea(void *dialog)
{
    if (qxLibImports.gtk_dialog_get_content_area)
        return QXG(gtk_dialog_get_content_area, W (*)(W))(as(dialog, qxGtkDialogGetType));
    return dialog ? member(dialog, kDialogVBox) : nullptr;
}

void *qxGtkDialogActionArea(void *dialog)
{
    if (qxLibImports.gtk_dialog_get_action_area)
        return QXG(gtk_dialog_get_action_area, W (*)(W))(as(dialog, qxGtkDialogGetType));
    return dialog ? member(dialog, kDialogActionArea) : nullptr;
}

void qxGtkNumericFilter(void *editable, const char *text, int length, int *position, void *data)
{
    std::string kept;
    for (int i = 0; text && (length < 0 ? text[i] : i < length); i++)
        if ((text[i] >= '0' && text[i] <= '9') || text[i] == '-' || text[i] == '.')
            kept.push_back(text[i]);
    if (!kept.empty()) {
        // G_SIGNAL_MATCH_FUNC | G_SIGNAL_MATCH_DATA
        auto matched = [&](qxImportFunc f) {
            fn<unsigned (*)(void *, int, unsigned, unsigned, void *, void *, void *)>(f)(
                editable, 8 | 16, 0, 0, nullptr, reinterpret_cast<void *>(qxGtkNumericFilter),
                data);
        };
        matched(qxLibImports.g_signal_handlers_block_matched);
        QXG(gtk_editable_insert_text, void (*)(W, const char *, int, int *))(as(editable, qxGtkEditableGetType), kept.c_str(), (int)kept.size(), position);
        matched(qxLibImports.g_signal_handlers_unblock_matched);
    }
    QXG(g_signal_stop_emission_by_name, void (*)(W, const char *))(editable, "insert_text");
}

int qxGtkStartThread(void)
{
    if (gtkRunning.load())
        return 1;
    if (!qxGtkAvailable())
        return 0;
    // GTK would abort the process without a reachable X server.
    Display *probe = XOpenDisplay(nullptr);
    if (!probe)
        return 0;
    QXG(gtk_disable_setlocale, void (*)(void))();
    static int argc = 0;
    static char *args[] = {nullptr};
    static char **argv = args;
    // The probe stays connected until GTK has its own connection: a server
    // that resets when its last client leaves would refuse GTK meanwhile.
    // GTK installs an I/O error handler that exits without removing the
    // temporary files: the player's own handler stays.
    XIOErrorHandler own = XSetIOErrorHandler(nullptr);
    QXG(gtk_init, void (*)(int *, char ***))(&argc, &argv);
    XSetIOErrorHandler(own);
    XCloseDisplay(probe);
    gtkQuit.store(0);
    gtkThread = qxCreateThread(requesterThread, nullptr, 0);
    if (!gtkThread)
        return 0;
    gtkRunning.store(1);
    return 1;
}

int qxGtkThreadStarted(void) { return gtkRunning.load(); }

void qxGtkStopThread(void)
{
    if (!gtkRunning.load())
        return;
    gtkQuit.store(1, std::memory_order_release);
    pthread_join(gtkThread, nullptr);
    gtkRunning.store(0);
}
}

namespace {
std::atomic<int> notifyInitialised{0};
}

extern "C" void qxEndNotifications(void)
{
    if (notifyInitialised.exchange(0))
        QXG(notify_uninit, void (*)(void))();
}

extern "C" int qxShowNotification(const char *title, const char *text, int kind, int timeout,
                                  const char *appName)
{
    std::atomic<int> &initialised = notifyInitialised;
    if (!qxGtkAvailable() || !qxLibraryComplete(QX_LIB_NOTIFY))
        return 0;
    if (!initialised.load()) {
        if (!QXG(notify_init, int (*)(const char *))(appName && *appName ? appName : "Zephyrane"))
            return 1000;
        initialised.store(1);
    }
    char *t8 = qxGtkToUtf8(title);
    char *b8 = qxGtkToUtf8(text);
    static const char *const icons[] = {nullptr, "dialog-information", "dialog-error",
                                        "dialog-warning"};
    static const int urgency[] = {0, 0, 2, 1};
    bool known = kind >= 1 && kind <= 3;
    W note = QXG(notify_notification_new, W (*)(const char *, const char *, const char *))(
        t8 ? t8 : (title ? title : ""), b8 ? b8 : (text ? text : ""), known ? icons[kind] : nullptr);
    int r = 1000;
    if (note) {
        QXG(notify_notification_set_timeout, VoidWI)(note, timeout ? timeout : -1);
        QXG(notify_notification_set_urgency, VoidWI)(note, known ? urgency[kind] : 0);
        QXG(notify_notification_show, int (*)(W, void **))(note, nullptr);
        QXG(g_object_unref, VoidW)(note);
        r = 0;
    }
    gFree(t8);
    gFree(b8);
    return r;
}
