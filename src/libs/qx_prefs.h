// The applet's preferences file: "PRFS" and one table entry stream, in the
// per-user preferences directory under the applet's identifier. The display
// library keeps its "__placement" entry in the same file.
#pragma once
#include <cstddef>

#include "core/vm/lua.h"

extern "C" {
// The file's path for an identifier: 0, or 1055 for an empty identifier or
// one that is not a plain file name, 1052 when the directory is unusable.
int qxPrefsPath(const char *identifier, char *buffer, size_t size);
// Mode 1: adds the file's entries to the table at stack index 1; mode 0:
// pushes a new table with them. 0 or an error code (1045 when the file
// cannot be opened for reading).
int qxLoadPrefsFile(lua_State *L, int mode);
// Writes the table at idx as the preferences file. The old file is
// replaced only once the new one is complete. 0 or an error code.
int qxSavePrefsFile(lua_State *L, int idx);

int qxCmdLoadPrefs(lua_State *L);
int qxCmdSavePrefs(lua_State *L);
int qxCmdDeletePrefs(lua_State *L);
}
