// Reading command arguments: counts, versions, strings in the text mode,
// percentages, constant names, object identifiers and option-table fields.
// Every check raises its error code with the argument position (or the
// field name) stored for the message.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/vm/lua.h"
#include "platform/qx_objectref.h"

extern "C" {

// 1 when the applet was made by version major.minor or later (or carries
// no version), else 0 with "major.minor" stored as the error text (1566).
int qxRequireVersion(uint32_t major, uint32_t minor);
// min = max = 0 forbids arguments; max <= 0 with min > 0 means no upper
// limit; major > 0 asks for an applet made by major.minor (1566).
lua_State *qxCheckArgCount(lua_State *L, int min, int max, uint32_t major, uint32_t minor);

// A string argument; with encoding 1 (UTF-8) it must be valid UTF-8 (1588)
// and *length counts characters, else bytes. *byteLength (may be null)
// always counts bytes.
const char *qxCheckUTF8String(lua_State *L, int narg, size_t *length, int encoding,
                              size_t *byteLength);

// A number, or a text "N" or "N%"; a percentage gives value / 100 with base
// 0 (and *isPercent set), else base * value / 100. Above 100 only with
// allowAbove100; malformed or negative: 1184; other types: 1183.
double qxGetNumberOrPercentArg(lua_State *L, int narg, double base, int allowAbove100,
                               int *isPercent);

// The value of a constant written "#NAME": 0 and *str (null for a number)
// or *num; 1055 without "#", 1018 for a bad first character, 1042 when
// unknown. *consumed is the name length + 2.
int qxParseConstantName(lua_State *L, const char *text, int *consumed, const char **str,
                        double *num);

// Object identifiers: light userdata is an automatic identifier, anything
// else a number.
qxObjectRef qxGetObjectIDArg(lua_State *L, int narg);
// The identifier argument of a creating command: nil sets *automatic (the
// creator then uses the record's address), else the number is returned.
uint32_t qxGetNewIDArg(lua_State *L, int narg, int *automatic);
int qxPushObjectID(lua_State *L, qxObjectRef ref);

// Option-table fields of the table at index t. Each returns 1 when the
// field is present (not nil), also setting *found when found is not null;
// an absent field leaves the output as it was.
int qxFieldPresent(lua_State *L, int t, const char *key);
int qxGetFieldInt(lua_State *L, int t, const char *key, int *out, int *found);
int qxGetFieldNum(lua_State *L, int t, const char *key, double *out, int *found);
int qxGetFieldColor(lua_State *L, int t, const char *key, int *out, int *found);
// A number, or "N%" stored as -N; 1502 for a malformed or out-of-range text.
int qxGetFieldSize(lua_State *L, int t, const char *key, int allowAbove100, int *out,
                   int *found);
// Copied into buffer (size bytes, always terminated); 1247 for a non-string.
int qxGetFieldStr(lua_State *L, int t, const char *key, char *buffer, size_t size, int *found);
// A new allocation (qxFree) of the string, resolved as a file name when
// resolve is set; 1000 when out of memory.
int qxGetFieldFileName(lua_State *L, int t, const char *key, int resolve, char **out,
                       size_t *length, int *found);
int qxGetFieldID(lua_State *L, int t, const char *key, qxObjectRef *out, int *found);
int qxGetFieldNumOrPercent(lua_State *L, int t, const char *key, double base, int allowAbove100,
                           double *out, int *isPercent, int *found);
// A table of 4 numbers at keys 0 to 3; 1014 for a missing entry, 1189 for a
// non-number.
int qxGetFieldNumChecked(lua_State *L, int t, const char *key, double out[4], int *found);

// t[key] := value for the table on top of the stack.
void qxSetFieldInt(lua_State *L, const char *key, int value);
void qxSetFieldUInt(lua_State *L, const char *key, uint32_t value);
void qxSetFieldNum(lua_State *L, const char *key, double value);
void qxSetFieldStr(lua_State *L, const char *key, const char *value);
void qxSetFieldID(lua_State *L, const char *key, qxObjectRef value);
}
