// The host table's sub-tables and the plug-in call wrappers.
#pragma once
#include "core/plugins/qx_pluginapi.h"
#include "core/vm/lua.h"

struct qxCallWrapper;
typedef int (*qxWrapperCallback)(qxCallWrapper *w, lua_State *L, lua_CFunction handler, void *user,
                                 qxCallWrapper *self);
typedef void (*qxWrapperErrorCallback)(qxCallWrapper *w, lua_State *L, int code, void *user, qxCallWrapper *self);

struct qxWatchedHandler {
    qxWatchedHandler *next;
    lua_CFunction handler;
};

// A plug-in call wrapper: claims the native command handlers it watches.
struct qxCallWrapper {
    qxCallWrapper *next;
    qxWrapperCallback callback;
    qxWrapperErrorCallback errorCallback;
    qxWatchedHandler *watched;
    uint32_t disabled;
    void *userData;
};

extern "C" {
extern const qxHostFunc qxHostRuntime[QX_HOST_RUNTIME_SLOTS];
// Writable: the event library fills its custom-event slots when it opens.
extern qxHostFunc qxHostSystem[QX_HOST_SYSTEM_SLOTS];
extern const qxHostFunc qxHostDos[QX_HOST_DOS_SLOTS];
// Writable: the graphics layers fill their slots at start-up.
extern qxHostFunc qxHostGraphics[QX_HOST_GRAPHICS_SLOTS];
extern qxHostFunc qxHostAudio[QX_HOST_AUDIO_SLOTS];
extern const qxHostFunc qxHostRequesters[QX_HOST_REQUESTER_SLOTS];
extern const qxHostFunc qxHostFontLookup[QX_HOST_FONTLOOKUP_SLOTS];
extern const qxHostFunc qxHostFreeType[QX_HOST_FREETYPE_SLOTS];
extern const qxHostFunc qxHostVM[QX_HOST_VM_SLOTS];
extern const qxHostFontData qxHostFonts;
extern const qxHostFunc qxHostZlib[QX_HOST_ZLIB_SLOTS];
extern const qxHostFunc qxHostJpeg[QX_HOST_JPEG_SLOTS];
extern const qxHostFunc qxHostPluginList[QX_HOST_PLUGINLIST_SLOTS];
extern const qxHostFunc qxHostEncoding[QX_HOST_ENCODING_SLOTS];
extern const qxHostFunc qxHostUnicode[QX_HOST_UNICODE_SLOTS];
extern const qxHostFunc qxHostLocale[QX_HOST_LOCALE_SLOTS];

// The chunk name dos slots 0 and 9 open in place of the given one, or null;
// the image loaders fill it.
extern const char *(*qxHostSubstituteName)(void);

extern qxCallWrapper *qxCallWrappers;
extern qxCallWrapper *qxCurrentWrapper;
// Hooks the wrappers into the VM's handler calls and throws.
void qxInstallCallWrappers(void);
void qxFreeCallWrappers(void);
}
