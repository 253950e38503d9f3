#include "display/qx_reqdispatch.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/applet/qx_preproc.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_messages.h"
#include "core/runtime/qx_lists.h"
#include "display/qx_display.h"
#include "platform/qx_catalog.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

extern "C" {
qxPluginInfo *qxRequesterAdapter;
}

namespace {

typedef int (*SystemFn)(void *, const char *, const char *, uint32_t, int *, const qxReqTag *);
typedef int (*PathFn)(void *, const char *, int, char **, const qxReqTag *, uintptr_t);
typedef int (*FileFn)(void *, const char *, int, char **, const qxReqTag *, const char *);
typedef int (*StringFn)(void *, const char *, const char *, uint32_t, char **, const qxReqTag *);
typedef int (*ListFn)(void *, const char *, const char *, const char *, int, int *, const qxReqTag *);
typedef int (*FontFn)(void *, const char *, uint32_t, uint32_t *, char **, const qxReqTag *);
typedef int (*ColorFn)(void *, const char *, int, int32_t *, const qxReqTag *, int32_t *);
typedef void (*FreeFn)(int, void *);

qxDisplay *requesterDisplay;

void *entry(uint32_t flag, int slot)
{
    const qxPluginInfo *a = qxRequesterAdapter;
    if (!a || a->abiKind == 2 || !(a->requesterAdapterFlags & flag))
        return nullptr;
    return a->entry[slot];
}

// An adapter of the calling convention this platform does not run still
// claims its kinds: the request answers 0 as cancelled, no requester shows.
bool unreachable(uint32_t flag)
{
    const qxPluginInfo *a = qxRequesterAdapter;
    return a && a->abiKind == 2 && (a->requesterAdapterFlags & flag);
}

void giveBack(int kind, void *result)
{
    if (auto fn = reinterpret_cast<FreeFn>(entry(~0u, QX_EP_FreeRequest)); fn && result)
        fn(kind, result);
}

// The window handle of the current display for the adapter.
void *handle()
{
    return qxCurrentDisplay && qxCurrentDisplay->state != QX_DISPSTATE_CLOSED
               ? qxCurrentDisplay->window
               : nullptr;
}

char *copyOf(const char *s)
{
    size_t n = std::strlen(s) + 1;
    auto *c = static_cast<char *>(std::malloc(n));
    if (c)
        std::memcpy(c, s, n);
    return c;
}

int requesterOpenOn(qxDisplay *d) { return d && d == requesterDisplay; }

} // namespace

extern "C" {

uint32_t qxMessageBoxFlags(const char *buttons, int icon)
{
    // The standard layouts are known in English and in the user's language.
    auto text = [](uint32_t index, const char *english) { return qxGetCatalogString(index, english); };
    const std::string yes = text(QX_MSG_YES, "Yes"), no = text(QX_MSG_NO, "No");
    const std::string yesNo = yes + "|" + no, yesNoCancel = yesNo + "|" + text(QX_MSG_CANCEL, "Cancel");
    uint32_t f;
    if (!buttons || !*buttons || !strcasecmp(buttons, "OK"))
        f = 1;
    else if (!strcasecmp(buttons, "OK|Cancel") || !strcasecmp(buttons, text(QX_MSG_OKCANCEL, "OK|Cancel")))
        f = 2;
    else if (!strcasecmp(buttons, "Yes|No") || !strcasecmp(buttons, yesNo.c_str()))
        f = 4;
    else if (!strcasecmp(buttons, "Yes|No|Cancel") || !strcasecmp(buttons, yesNoCancel.c_str()))
        f = 8;
    else
        f = 16;
    static const uint32_t icons[5] = {32, 64, 128, 0x100, 0x200};
    if (icon >= 0 && icon < 5)
        f |= icons[icon];
    return f;
}

int qxSplitFileAnswer(const char *answer, int multi, qxFileRequestResult *result)
{
    *result = {};
    if (!answer) // cancelled
        return 0;
    const char *first = answer;
    const char *slash = std::strrchr(first, '/');
    std::string dir = slash ? std::string(first, (size_t)(slash - first + 1)) : std::string();
    std::string names;
    uint32_t count = 0;
    if (!multi) {
        names = slash ? slash + 1 : first;
        count = 1;
    } else {
        for (const char *p = answer; *p; p += std::strlen(p) + 1) {
            const char *s = std::strrchr(p, '/');
            names.append(s ? s + 1 : p).push_back('\0');
            count++;
        }
    }
    result->path = copyOf(dir.c_str());
    result->file = static_cast<char *>(std::malloc(names.size() + 1));
    if (!result->path || !result->file) {
        std::free(result->path);
        std::free(result->file);
        *result = {};
        return ERR_MEM;
    }
    std::memcpy(result->file, names.data(), names.size());
    result->file[names.size()] = '\0';
    result->count = count;
    result->completed = 1;
    return 0;
}

int qxSystemRequest(lua_State *L, const char *title, const char *body, const char *buttons,
                    int icon, int extra, int *choice)
{
    if (auto fn = reinterpret_cast<SystemFn>(entry(QX_REQADAPTER_MESSAGE, QX_EP_SystemRequest))) {
        uint32_t flags = qxMessageBoxFlags(buttons, icon);
        qxReqTag tags[3] = {{1, (uintptr_t)(intptr_t)extra}, {0, 0}, {0, 0}};
        if (flags & 16)
            tags[1] = {2, reinterpret_cast<uintptr_t>(buttons)};
        return fn(handle(), title, body, flags, choice, tags);
    }
    if (unreachable(QX_REQADAPTER_MESSAGE))
        return *choice = 0, 0;
    return qxPlatformMessageBox(L, title, body, buttons, icon, choice);
}

int qxPathRequest(lua_State *L, const char *title, int mode, const char *defaultPath, int extra, char **path)
{
    if (auto fn = reinterpret_cast<PathFn>(entry(QX_REQADAPTER_PATH, QX_EP_PathRequest))) {
        *path = nullptr;
        char *answer = nullptr;
        const uintptr_t x = (uintptr_t)(intptr_t)extra;
        qxReqTag tags[3] = {{1, x}, {2, reinterpret_cast<uintptr_t>(defaultPath)}, {0, 0}};
        if (int r = fn(handle(), title, mode == 2, &answer, tags, x))
            return r;
        int r = 0;
        if (answer && !(*path = copyOf(answer)))
            r = ERR_MEM;
        giveBack(1, answer);
        return r;
    }
    if (unreachable(QX_REQADAPTER_PATH))
        return *path = nullptr, 0;
    return qxPlatformPathRequest(L, title, mode, defaultPath, path);
}

int qxFileRequest(lua_State *L, const char *title, const char *pattern, int mode,
                  const char *defaultDir, const char *defaultFile, int extra,
                  qxFileRequestResult *result)
{
    if (auto fn = reinterpret_cast<FileFn>(entry(QX_REQADAPTER_FILE, QX_EP_FileRequest))) {
        *result = {};
        qxReqTag tags[5] = {{1, (uintptr_t)(intptr_t)extra}};
        int n = 1;
        if (pattern && *pattern && std::strcmp(pattern, "*") && std::strcmp(pattern, "#?"))
            tags[n++] = {2, reinterpret_cast<uintptr_t>(pattern)};
        tags[n++] = {3, reinterpret_cast<uintptr_t>(defaultDir)};
        tags[n++] = {4, reinterpret_cast<uintptr_t>(defaultFile)};
        tags[n] = {0, 0};
        char *answer = nullptr;
        if (int r = fn(handle(), title, mode, &answer, tags, defaultDir))
            return r;
        int r = qxSplitFileAnswer(answer, mode == 1, result);
        giveBack(0, answer);
        return r;
    }
    if (unreachable(QX_REQADAPTER_FILE))
        return *result = {}, 0;
    return qxPlatformFileRequest(L, title, pattern, mode, defaultDir, defaultFile, result);
}

int qxStringRequest(lua_State *L, const char *title, const char *body, const char *defaultText,
                    int inputKind, int maxLength, int password, int extra, char **text)
{
    if (auto fn = reinterpret_cast<StringFn>(entry(QX_REQADAPTER_STRING, QX_EP_StringRequest))) {
        *text = nullptr;
        static const uint32_t kinds[5] = {0, 1, 2, 4, 8};
        uint32_t flags = inputKind >= 1 && inputKind <= 4 ? kinds[inputKind] : 0;
        if (password)
            flags |= 16;
        qxReqTag tags[4] = {{1, (uintptr_t)(intptr_t)extra},
                            {2, reinterpret_cast<uintptr_t>(defaultText)},
                            {3, (uintptr_t)(intptr_t)maxLength},
                            {0, 0}};
        char *answer = nullptr;
        if (int r = fn(handle(), title, body, flags, &answer, tags))
            return r;
        int r = 0;
        if (answer && !(*text = copyOf(answer)))
            r = ERR_MEM;
        giveBack(2, answer);
        return r;
    }
    if (unreachable(QX_REQADAPTER_STRING))
        return *text = nullptr, 0;
    return qxPlatformStringRequest(L, title, body, defaultText, inputKind, maxLength, password,
                                   text);
}

int qxListRequest(lua_State *L, const char *title, const char *body, const char *entries,
                  int preselected, int extra, int *index)
{
    if (auto fn = reinterpret_cast<ListFn>(entry(QX_REQADAPTER_LIST, QX_EP_ListRequest))) {
        qxReqTag tags[3] = {{1, (uintptr_t)(intptr_t)extra}, {0, 0}, {0, 0}};
        if (preselected >= 0)
            tags[1] = {2, (uintptr_t)preselected};
        return fn(handle(), title, body, entries, 0, index, tags);
    }
    if (unreachable(QX_REQADAPTER_LIST))
        return *index = -1, 0;
    return qxPlatformListRequest(L, title, body, entries, preselected, index);
}

void qxParseFontAnswer(const char *answer, uint32_t flags, qxFontRequestResult *result)
{
    const char *bar = std::strchr(answer, '|');
    size_t n = bar ? (size_t)(bar - answer) : std::strlen(answer);
    if (n > sizeof result->name - 1)
        n = sizeof result->name - 1;
    std::memcpy(result->name, answer, n);
    result->name[n] = 0;
    if (bar) {
        result->size = (int32_t)std::strtol(bar + 1, nullptr, 10);
        if (const char *second = std::strchr(bar + 1, '|'))
            result->number = (int32_t)std::strtol(second + 1, nullptr, 10);
    }
    static const int32_t weights[11] = {0, 40, 50, 75, 80, 100, 180, 200, 205, 210, 215};
    for (int i = 0; i < 11; i++)
        if (flags & (1u << i)) {
            result->weight = weights[i];
            break;
        }
    if (flags & 0x800)
        result->slant = 0;
    else if (flags & 0x1000)
        result->slant = 100;
    else if (flags & 0x2000)
        result->slant = 110;
    result->underline = (flags & 0x4000) ? 1 : 0;
    result->strikeout = (flags & 0x8000) ? 1 : 0;
    result->bold = (flags & 0x10000) ? 1 : 0;
    result->italic = (flags & 0x20000) ? 1 : 0;
}

int qxFontRequest(lua_State *L, const char *title, const char *defaultName, int extra,
                  qxFontRequestResult *result)
{
    if (auto fn = reinterpret_cast<FontFn>(entry(QX_REQADAPTER_FONT, QX_EP_FontRequest))) {
        qxReqTag tags[4] = {{1, (uintptr_t)(intptr_t)extra},
                            {2, reinterpret_cast<uintptr_t>(defaultName)},
                            {3, (uintptr_t)(intptr_t)result->size},
                            {0, 0}};
        uint32_t flags = 0;
        char *answer = nullptr;
        if (int r = fn(handle(), title, 0, &flags, &answer, tags))
            return r;
        if (answer)
            qxParseFontAnswer(answer, flags, result);
        else
            result->name[0] = 0; // cancelled
        giveBack(3, answer);
        return 0;
    }
    if (unreachable(QX_REQADAPTER_FONT))
        return result->name[0] = 0, 0;
    int r = qxPlatformFontRequest(L, title, defaultName, result->size, result);
    result->number = -1; // the desktop's requester gives no further number
    return r;
}

int qxColorRequest(lua_State *L, const char *title, int32_t defaultColor, int extra, int32_t *color)
{
    if (auto fn = reinterpret_cast<ColorFn>(entry(QX_REQADAPTER_COLOR, QX_EP_ColorRequest))) {
        qxReqTag tags[3] = {{1, (uintptr_t)(intptr_t)extra}, {2, (uintptr_t)(uint32_t)defaultColor}, {0, 0}};
        return fn(handle(), title, 0, color, tags, color);
    }
    if (unreachable(QX_REQADAPTER_COLOR))
        return *color = -1, 0;
    return qxPlatformColorRequest(L, title, defaultColor, color);
}

void qxRequesterOpen(lua_State *, int open)
{
    qxUpcalls.requesterOpenOn = requesterOpenOn;
    if (open) {
        requesterDisplay = qxCurrentDisplay;
        return;
    }
    if (requesterDisplay)
        std::memset(&requesterDisplay->input, 0, sizeof requesterDisplay->input);
    requesterDisplay = nullptr;
}
}

extern "C" {

int qxInstallRequesterAdapter(qxPluginInfo *info, uint32_t flags)
{
    if (!qxRequireVersion(6, 0))
        return ERR_OLDAPPLET;
    if (!info || !(info->capabilities & QX_CAP_REQUESTERADAPTER))
        return ERR_WRONGUSAGE;
    if (!qxAdapterInstallOpen())
        return ERR_SETADAPTER; // before start-up makes the declared objects
    // An exclusive adapter stays as it is, even for its own plug-in.
    if (qxRequesterAdapter && (qxRequesterAdapter->requesterAdapterFlags & QX_REQADAPTER_EXCLUSIVE))
        return ERR_SETADAPTER;
    info->requesterAdapterFlags = flags;
    qxRequesterAdapter = info;
    return 0;
}

int qxHostSystemRequest(const char *title, const char *body, const char *buttons)
{
    int choice = 0;
    qxSystemRequest(nullptr, title, body, buttons, 1, 0, &choice);
    return choice;
}

int qxHostFileRequest(const char *title, char *buffer, uint32_t capacity)
{
    qxFileRequestResult r{};
    if (!buffer || !capacity || qxFileRequest(nullptr, title, "#?", 0, "", "", 0, &r))
        return 0;
    int ok = 0;
    if (r.completed && r.path && r.file && std::strlen(r.path) < capacity) {
        std::memcpy(buffer, r.path, std::strlen(r.path) + 1);
        ok = qxAddPart(buffer, r.file, capacity) ? 1 : 0;
    }
    qxFreeFileResult(&r);
    return ok;
}

int qxHostPathRequest(const char *title, char *buffer, uint32_t capacity)
{
    char *path = nullptr;
    if (!buffer || !capacity || qxPathRequest(nullptr, title, 0, "", 0, &path) || !path)
        return 0;
    int ok = std::strlen(path) < capacity;
    if (ok)
        std::memcpy(buffer, path, std::strlen(path) + 1);
    std::free(path);
    return ok;
}
}
