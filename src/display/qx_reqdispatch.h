// Requester dispatch: each kind goes to the requester adapter plug-in when
// one is installed and claims it, else to the platform requester (GTK or
// the console).
#pragma once
#include <cstdint>

#include "core/plugins/qx_pluginapi.h"
#include "platform/requesters/qx_requesters.h"

enum : uint32_t {
    QX_REQADAPTER_EXCLUSIVE = 0x1,
    QX_REQADAPTER_MESSAGE = 0x2,
    QX_REQADAPTER_FILE = 0x4,
    QX_REQADAPTER_PATH = 0x8,
    QX_REQADAPTER_STRING = 0x10,
    QX_REQADAPTER_LIST = 0x20,
    QX_REQADAPTER_FONT = 0x40,
    QX_REQADAPTER_COLOR = 0x80,
};

// A tag handed to the adapter; tag 0 ends a list.
struct qxReqTag {
    uint32_t tag;
    uintptr_t value;
};

extern "C" {
// The installed requester adapter, or null.
extern qxPluginInfo *qxRequesterAdapter;
// The adapter's message-box flags for a buttons text and icon kind.
uint32_t qxMessageBoxFlags(const char *buttons, int icon);
// Splits a file answer (one path, or NUL-separated paths ended by an empty
// one when multi) into directory, names and count; 0 or 1000.
int qxSplitFileAnswer(const char *answer, int multi, qxFileRequestResult *result);
// The requesters, shaped as the system library calls them; extra is the
// caller's own argument, handed to a requester adapter as tag 1 (the file
// requester's is its hide-icons flag).
int qxSystemRequest(lua_State *L, const char *title, const char *body, const char *buttons,
                    int icon, int extra, int *choice);
int qxPathRequest(lua_State *L, const char *title, int mode, const char *defaultPath, int extra,
                  char **path);
int qxFileRequest(lua_State *L, const char *title, const char *pattern, int mode,
                  const char *defaultDir, const char *defaultFile, int extra,
                  qxFileRequestResult *result);
int qxStringRequest(lua_State *L, const char *title, const char *body, const char *defaultText,
                    int inputKind, int maxLength, int password, int extra, char **text);
int qxListRequest(lua_State *L, const char *title, const char *body, const char *entries,
                  int preselected, int extra, int *index);
// The adapter's font answer: "name|size|number" and the style flags.
void qxParseFontAnswer(const char *answer, uint32_t flags, qxFontRequestResult *result);
// result comes in with the defaults (size, weight 80, number -1); extra is
// the adapter's tag 1.
int qxFontRequest(lua_State *L, const char *title, const char *defaultName, int extra,
                  qxFontRequestResult *result);
int qxColorRequest(lua_State *L, const char *title, int32_t defaultColor, int extra, int32_t *color);
// Requester host slots 0-3: a message box with the information icon, a
// file and a path copied into the caller's buffer (1, or 0 when nothing
// was chosen), and installing the requester adapter (0, 1055, 1518, 1566).
int qxHostSystemRequest(const char *title, const char *body, const char *buttons);
int qxHostFileRequest(const char *title, char *buffer, uint32_t capacity);
int qxHostPathRequest(const char *title, char *buffer, uint32_t capacity);
int qxInstallRequesterAdapter(qxPluginInfo *info, uint32_t flags);
// Flags the current display while a requester is open (open 1); when it
// closes, its input state is reset.
void qxRequesterOpen(lua_State *L, int open);
}
