// Argument readers the image-object libraries share: checked truncation of
// script numbers, sizes, on/off option fields and scale fields.
#pragma once
#include <cstdint>

#include "platform/qx_objectref.h"

struct lua_State;

extern "C" {
// Truncates toward zero; NaN gives 0 and values beyond +-2^53 are clamped,
// so the result is always defined and range checks see huge values as huge.
int64_t qxTruncToInt64(double value);
// A size argument truncated as above; 0 or an argument error raised by the VM.
int qxSizeArg(lua_State *L, int index, int64_t *out);
// A boolean or number field: true or non-zero sets *out to 1, false, nil
// or 0 to 0. Returns 1 when the field is present.
int qxFlagField(lua_State *L, int t, const char *key, int *out);
// "scalewidth"-style fields: a number, or "N%" stored as -N (the picture
// opener's percentage convention). 0, or 1522 for a size no bitmap can have;
// a malformed text raises 1502.
int qxScaleField(lua_State *L, int t, const char *key, int32_t *out);
// The identifier argument of a creator: Nil asks for an automatic
// identifier ({0, QX_NEW_AUTOMATIC}), a number is kept.
qxObjectRef qxNewIDRef(lua_State *L, int index);
// A creator's result: the automatic identifier it made (1 result), or none.
int qxPushNewID(lua_State *L, qxObjectRef ref);
// Lets the bitmap layer (picture cache, BGPic records) count references on
// image sources; the image-object libraries call it when they open.
void qxLinkPicSourceCounting(void);
}
