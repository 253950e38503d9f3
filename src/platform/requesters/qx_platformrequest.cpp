// The platform requesters: GTK through the request block when the GTK
// requester thread runs, otherwise the console.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/qx_catalog.h"
#include "platform/qx_libimports.h"
#include "platform/qx_memory.h"
#include "platform/qx_sync.h"
#include "platform/qx_upcalls.h"
#include "platform/requesters/qx_gtk.h"
#include "platform/requesters/qx_requesters.h"
#include "platform/x11/x11_display.h"

namespace {

// The index of "All" in the player's message table, which its catalog
// translates.
constexpr unsigned kMessageAll = 658;

char *copyText(const char *text, size_t length)
{
    auto *copy = static_cast<char *>(qxAlloc(length + 1, 0));
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = 0;
    }
    return copy;
}

void clearRequest(void)
{
    qxRequest.title = qxRequest.body = qxRequest.buttons = qxRequest.pattern = qxRequest.allName = nullptr;
    qxRequest.defaultPath = qxRequest.defaultFile = qxRequest.defaultText = qxRequest.entries = nullptr;
    qxRequest.layout = qxRequest.icon = qxRequest.defaultNumber = qxRequest.maxLength = 0;
    qxRequest.password = qxRequest.inputKind = qxRequest.status = qxRequest.number = 0;
    qxRequest.flags = 0;
    qxRequest.color = -1;
    qxRequest.result = nullptr;
}

// Splits a chosen path into directory (up to the file part) and file name.
int splitPath(const char *full, qxFileRequestResult *result)
{
    const char *slash = std::strrchr(full, '/');
    size_t dirLength = slash ? (size_t)(slash + 1 - full) : 0;
    result->path = copyText(full, dirLength);
    result->file = copyText(full + dirLength, std::strlen(full + dirLength));
    if (!result->path || !result->file) {
        qxFreeFileResult(result);
        return 1000;
    }
    result->count = 1;
    result->completed = 1;
    return 0;
}

// A NUL-separated list of paths (ended by an empty one) from the GTK side.
int splitPathList(const char *list, qxFileRequestResult *result)
{
    if (!list[std::strlen(list) + 1])
        return splitPath(list, result);
    const char *slash = std::strrchr(list, '/');
    size_t dirLength = slash ? (size_t)(slash + 1 - list) : 0;
    std::string files;
    uint32_t count = 0;
    for (const char *p = list; *p; p += std::strlen(p) + 1, count++) {
        const char *s = std::strrchr(p, '/');
        files.append(s ? s + 1 : p);
        files.push_back('\0');
    }
    files.push_back('\0');
    result->path = copyText(list, dirLength);
    result->file = copyText(files.data(), files.size());
    if (!result->path || !result->file) {
        qxFreeFileResult(result);
        return 1000;
    }
    result->count = count;
    result->completed = 1;
    return 0;
}

} // namespace

extern "C" {

qxRequestBlock qxRequest;

int qxStandardButtons(const char *buttons)
{
    if (!buttons)
        return -1;
    static const char *const texts[] = {"OK|Cancel", "Yes|No", "Yes|No|Cancel", "OK"};
    for (int i = 0; i < 4; i++)
        if (!std::strcmp(buttons, texts[i]))
            return i;
    return -1;
}

int qxStartGtk(void)
{
    if (!qxGtkAvailable())
        return 0;
    return qxGtkStartThread();
}

void qxPostRequest(lua_State *L, uint32_t kind)
{
    // The dialog is made transient for the first active display.
    qxRequest.parentDisplay = nullptr;
    qxRequest.parentWindow = 0;
    bool adapter = qxDisplayAdapterActive();
    if (!adapter)
        for (qxDisplay *d = qxUpcalls.displayList ? qxUpcalls.displayList() : nullptr; d;
             d = static_cast<qxDisplay *>(d->header.next)) {
            x11DisplayData *x = x11Data(d);
            if (d->input.active && x && x->window) {
                qxRequest.parentDisplay = x->display;
                qxRequest.parentWindow = x->window;
                break;
            }
        }
    // A display adapter keeps its own grabs.
    bool grabs = !adapter && qxUpcalls.setInputGrabs;
    if (grabs)
        qxUpcalls.setInputGrabs(0);
    qxRequest.kind.store(kind, std::memory_order_release);
    while (qxRequest.kind.load(std::memory_order_acquire) == kind) {
        if (L && qxUpcalls.pollEvents)
            qxUpcalls.pollEvents(L, 2);
        else if (!L && qxUpcalls.drainDisplayEvents)
            qxUpcalls.drainDisplayEvents();
        usleep(20000);
    }
    if (grabs)
        qxUpcalls.setInputGrabs(1);
}

int qxPlatformMessageBox(lua_State *L, const char *title, const char *body, const char *buttons,
                         int icon, int *choice)
{
    *choice = 0;
    if (!qxStartGtk()) {
        *choice = qxConsoleMessageBox(body, buttons);
        return 0;
    }
    clearRequest();
    qxRequest.title = title;
    qxRequest.body = body;
    qxRequest.icon = icon;
    int layout = buttons && *buttons ? qxStandardButtons(buttons) : 3;
    qxRequest.layout = layout >= 0 ? layout : 4;
    if (layout < 0)
        qxRequest.buttons = buttons;
    qxPostRequest(L, QX_REQ_MESSAGE);
    if (qxRequest.status < 0) {
        qxConsoleMessageBox(body, nullptr); // GTK failed: the text still reaches the user
        return 0;
    }
    *choice = qxRequest.number;
    return 0;
}

void qxFreeFileResult(qxFileRequestResult *result)
{
    qxFree(result->path);
    qxFree(result->file);
    *result = qxFileRequestResult{};
}

int qxPlatformFileRequest(lua_State *L, const char *title, const char *pattern, int mode,
                          const char *defaultPath, const char *defaultFile,
                          qxFileRequestResult *result)
{
    *result = qxFileRequestResult{};
    if (!qxStartGtk()) {
        char line[1025];
        if (!qxConsoleAskPath(title, mode, line, 0))
            return 0;
        return splitPath(line, result);
    }
    clearRequest();
    qxRequest.title = title;
    bool noFilter = !pattern || !*pattern || !std::strcmp(pattern, "*") || !std::strcmp(pattern, "#?");
    qxRequest.pattern = noFilter ? nullptr : pattern;
    // Looked up here: the catalog belongs to the script thread.
    qxRequest.allName = qxGetCatalogString(kMessageAll, "All");
    qxRequest.flags = (mode == QX_REQMODE_MULTISELECT ? 1u : 0u) | (mode == QX_REQMODE_SAVE ? 2u : 0u);
    qxRequest.defaultPath = defaultPath;
    qxRequest.defaultFile = defaultFile;
    qxPostRequest(L, QX_REQ_FILE);
    int r = 0;
    if (qxRequest.status > 0 && qxRequest.result)
        r = splitPathList(qxRequest.result, result);
    qxFree(qxRequest.result);
    qxRequest.result = nullptr;
    return r;
}

int qxPlatformPathRequest(lua_State *L, const char *title, int mode, const char *defaultPath,
                          char **path)
{
    *path = nullptr;
    if (!qxStartGtk()) {
        char line[1025];
        if (!qxConsoleAskPath(title, mode, line, 1))
            return 0;
        *path = copyText(line, std::strlen(line));
        return *path ? 0 : 1000;
    }
    clearRequest();
    qxRequest.title = title;
    qxRequest.flags = mode == QX_REQMODE_SAVE ? 2u : 0u;
    qxRequest.defaultPath = defaultPath;
    qxPostRequest(L, QX_REQ_PATH);
    if (qxRequest.status > 0 && qxRequest.result) {
        *path = qxRequest.result; // allocated by qxAlloc on the GTK side
        qxRequest.result = nullptr;
        return 0;
    }
    qxFree(qxRequest.result);
    qxRequest.result = nullptr;
    return 0;
}

int qxPlatformStringRequest(lua_State *L, const char *title, const char *body,
                            const char *defaultText, int inputKind, int maxLength, int password,
                            char **text)
{
    *text = nullptr;
    if (!qxStartGtk()) {
        *text = qxConsoleAskString(body, inputKind, maxLength);
        return 0;
    }
    clearRequest();
    qxRequest.title = title;
    qxRequest.body = body;
    qxRequest.defaultText = defaultText;
    qxRequest.inputKind = inputKind;
    qxRequest.maxLength = maxLength;
    qxRequest.password = password;
    qxPostRequest(L, QX_REQ_STRING);
    if (qxRequest.status > 0)
        *text = qxRequest.result;
    else
        qxFree(qxRequest.result);
    qxRequest.result = nullptr;
    return 0;
}

int qxPlatformListRequest(lua_State *L, const char *title, const char *body, const char *entries,
                          int preselected, int *index)
{
    *index = -1;
    if (!qxStartGtk()) {
        *index = qxConsoleAskList(body, entries);
        return 0;
    }
    clearRequest();
    qxRequest.title = title;
    qxRequest.body = body;
    qxRequest.entries = entries;
    qxRequest.defaultNumber = preselected;
    qxPostRequest(L, QX_REQ_LIST);
    if (qxRequest.status > 0)
        *index = qxRequest.number;
    return 0;
}

int qxPlatformFontRequest(lua_State *L, const char *title, const char *defaultName, int defaultSize,
                          qxFontRequestResult *out)
{
    *out = qxFontRequestResult{};
    out->size = defaultSize;
    out->weight = 80;
    if (!qxStartGtk()) {
        qxConsoleAskFont(out->name, &out->size);
        return 0;
    }
    clearRequest();
    qxRequest.title = title;
    qxRequest.defaultText = defaultName;
    qxRequest.defaultNumber = defaultSize;
    qxPostRequest(L, QX_REQ_FONT);
    if (qxRequest.status > 0 && qxRequest.result) {
        std::snprintf(out->name, sizeof out->name, "%s", qxRequest.result);
        out->size = qxRequest.number;
        out->weight = qxRequest.weight;
        out->slant = qxRequest.slant;
        out->bold = out->weight == 180 || out->weight == 200 || out->weight == 205;
        out->italic = out->slant == 100 || out->slant == 110;
    }
    qxFree(qxRequest.result);
    qxRequest.result = nullptr;
    return 0;
}

int qxPlatformColorRequest(lua_State *L, const char *title, int32_t defaultColor, int32_t *color)
{
    *color = -1;
    if (!qxStartGtk()) {
        *color = qxConsoleAskColor();
        return 0;
    }
    clearRequest();
    qxRequest.title = title;
    qxRequest.defaultNumber = defaultColor;
    qxPostRequest(L, QX_REQ_COLOR);
    if (qxRequest.status > 0)
        *color = qxRequest.color;
    return 0;
}

int qxMessageRequest(const char *title, const char *body, const char *buttons, int kind)
{
    int choice = 0;
    if (qxUpcalls.systemRequest)
        qxUpcalls.systemRequest(nullptr, title, body, buttons, kind, 0, &choice);
    else
        qxPlatformMessageBox(nullptr, title, body, buttons, kind, &choice);
    return choice;
}

int qxFileRequestPath(const char *title, const char *pattern, char *out, size_t size)
{
    qxFileRequestResult result;
    if (int r = qxUpcalls.fileRequest
                    ? qxUpcalls.fileRequest(nullptr, title, pattern, QX_REQMODE_NORMAL, "",
                                            "", 0, &result)
                    : qxPlatformFileRequest(nullptr, title, pattern, QX_REQMODE_NORMAL, nullptr,
                                            nullptr, &result))
        return r;
    if (!result.completed)
        return 1003;
    int written = std::snprintf(out, size, "%s%s", result.path, result.file);
    qxFreeFileResult(&result);
    return written < 0 || (size_t)written >= size ? 1003 : 0;
}
}
