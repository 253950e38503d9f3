// Position constants (#CENTER, #RIGHT ... with offsets) and #KEEPASPRAT sizes.
#pragma once

struct lua_State;

extern "C" {
// area 0: the current output's width (height).
// The width and height of where drawing goes now: the Select target, else
// the current display's BGPic.
void qxCurrentOutputSize(int *width, int *height);
int qxResolvePosX(int x, int width, int areaWidth, double anchor);
int qxResolvePosY(int y, int height, int areaHeight, double anchor);
// Whether v is a position constant with its offset: #CENTER, #LEFT or
// #RIGHT across, #CENTER, #TOP or #BOTTOM down.
int qxIsPosConstant(int v, int vertical);
// 0, 1218 for a size below 1, 1055 when both keep the aspect ratio.
int qxComputeScaledSize(int sourceWidth, int sourceHeight, int *width, int *height);
int qxCmdShowPointer(lua_State *L);
int qxCmdHidePointer(lua_State *L);
int qxCmdMovePointer(lua_State *L);
}
