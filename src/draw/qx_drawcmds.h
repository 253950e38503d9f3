// Commands of the "draw" library.
#pragma once
#include <cstdint>
#include <vector>

struct lua_State;

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
}

// The colour argument at arg (0 when absent): the low 32 bits of the number.
uint32_t qxDrawColourArg(lua_State *L, int arg);

// count pairs (0: up to the first nil, at most 999) of the table at arg,
// closed and moved to start at 0,0; the box of the rounded coordinates and
// the exact minimum.
int qxReadPolygonTable(lua_State *L, int arg, int32_t count, std::vector<double> &points, int32_t *width,
                       int32_t *height, double *minX, double *minY);
