// Reading gradients from command arguments and option tables, and writing
// them back into script tables. Gradient BGPics and brushes, the draw
// library's fills, display back-fills and layer styles share these.
#pragma once
#include <cstdint>

#include "imaging/qx_gradient.h"

struct lua_State;

// Gradient types of the positional form: 0 and 1 are linear at 0 and 90
// degrees, the others as the record stores them.
enum : int32_t { QX_GRADIENT_HORIZONTAL = 0, QX_GRADIENT_VERTICAL = 1 };

extern "C" {
// Type #LINEAR, border 0, centre and balance 0.5; unless keep, no stops and
// angle 0. The colours are left alone.
void qxInitFillStyle(qxGradient *gradient, int keep);
// Positional form: the type is already in gradient->type; for #LINEAR and
// #CONICAL the angle is the optional number at index; an argument after
// index must be an options table. 0 or an error code (1055, 1066, 1014,
// 1140, 1189, 1446).
int qxReadGradientTable(lua_State *L, int index, qxGradient *gradient);
// The "gradient..." keys of the option table at index; with initialise
// the record is reset first (keep: stops and angle survive).
int qxReadGradientFields(lua_State *L, int index, qxGradient *gradient, int keep, int initialise);
// Centre, balance and border (radial and conical only) and the colour
// stops of the table at index, under the given keys. outHasStops may be null.
int qxReadGradientOptions(lua_State *L, int index, qxGradient *gradient, const char *keyCenterX,
                          const char *keyCenterY, const char *keyBalance, const char *keyBorder,
                          const char *keyColors, int *outHasStops);
// Writes the gradient into the table on top of the stack under
// prefix + "style", "startcolor", ... and, with stops, "colors".
void qxPushGradientFields(lua_State *L, const char *prefix, const qxGradient *gradient);
}
