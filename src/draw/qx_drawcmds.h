// Commands of the "draw" library.
#pragma once
#include <cstdint>
#include <vector>

struct lua_State;
struct qxDrawState;
struct qxTransformOptions;
struct qxObjectStyle;

extern "C" {
int qxCmdBox(lua_State *L);
int qxCmdCircle(lua_State *L);
int qxCmdEllipse(lua_State *L);
int qxCmdArc(lua_State *L);
int qxCmdPolygon(lua_State *L);
int qxCmdLine(lua_State *L);
int qxCmdPlot(lua_State *L);
int qxCmdReadPixel(lua_State *L);
int qxCmdCls(lua_State *L);

// A box at (x, y) with the draw state (null: the current one), on the
// output or as a layer of type 14; corners in percent (null: square).
// 1055 for a width or height below 1.
int qxDrawBox(lua_State *L, const qxDrawState *state, int32_t x, int32_t y, int32_t width, int32_t height,
              uint32_t colour, const int32_t corners[4], const qxTransformOptions *transform,
              const qxObjectStyle *style);
}

// The colour argument at arg (0 when absent): the low 32 bits of the number.
uint32_t qxDrawColourArg(lua_State *L, int arg);

// count pairs (0: up to the first nil, at most 999) of the table at arg,
// closed and moved to start at 0,0; the box of the rounded coordinates and
// the exact minimum.
int qxReadPolygonTable(lua_State *L, int arg, int32_t count, std::vector<double> &points, int32_t *width,
                       int32_t *height, double *minX, double *minY);
