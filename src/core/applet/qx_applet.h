// Applet files: signature check, start-up preview and loading.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/runtime/qx_startup.h"

enum : size_t { QX_APPLET_PREVIEW_SIZE = 2048 };

extern "C" {
// Opens the applet file, checks its signature and, unless quiet, reads the
// header strings of its first 2048 bytes. 0 or an error code.
int qxCheckAppletFile(qxStartupInfo *startup, qxAppletInfo *applet, int quiet);
// Fills the header strings from the start of a plain applet (magic included).
void qxReadAppletPreview(const uint8_t *data, size_t size, qxAppletInfo *applet);
// Copies a zero-terminated string at *cursor (not past end) into a 256-byte
// header field, from ISO-8859-1 to UTF-8 unless keep; 0 when unterminated.
int qxReadHeaderString(const uint8_t **cursor, const uint8_t *end, char *field, int keep);

struct qxFileHandle;

int qxLoadApplet(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet);
int qxPrepareMainChunk(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet);
int qxRunPreprocessorObjects(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet, int flags);
void qxFreeAppletInfo(qxAppletInfo *applet);
void qxFreeSavedDirectory(void);
}
