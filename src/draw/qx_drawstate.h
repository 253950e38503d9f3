// The draw library's process-wide drawing style and the reading of the
// draw commands' options argument.
#pragma once
#include <cstdint>

#include "imaging/qx_gradient.h"
#include "platform/qx_objectref.h"

struct lua_State;
struct qxTransformOptions;
struct qxObjectStyle;

enum : uint32_t { QX_FILLNONE = 0, QX_FILLCOLOR = 1, QX_FILLGRADIENT = 2, QX_FILLTEXTURE = 3 };
enum : uint32_t { QX_FORM_NORMAL = 1, QX_FORM_ANTIALIAS = 16, QX_FORM_SHADOW = 32, QX_FORM_EDGE = 64 };

struct qxDrawState {
    uint32_t fillStyle;
    uint32_t formStyle;
    qxGradient gradient;
    qxObjectRef texture;
    int32_t borderSize;
    uint32_t borderColour;
    int32_t shadowSize;
    uint32_t shadowDirection;
    uint32_t shadowColour;
    int32_t lineWidth;
    int32_t textureX, textureY;
};

extern "C" {
qxDrawState *qxGetDrawState(void);
// Start values of the library's opener (kept between scripts afterwards).
void qxResetDrawState(void);
void qxClampDrawStyle(qxDrawState *state);
// The options argument (table or number) of a draw command; noPlainRotation
// forbids reading a number at the position as the rotation.
int qxReadDrawOptions(lua_State *L, int arg, int32_t width, int32_t height, qxTransformOptions *options,
                      qxObjectStyle *style, int noPlainRotation, uint32_t flags);
void qxReadDrawRotation(lua_State *L, int arg, int32_t width, int32_t height, qxTransformOptions *options);

int qxCmdSetFillStyle(lua_State *L);
int qxCmdGetFillStyle(lua_State *L);
int qxCmdSetFormStyle(lua_State *L);
int qxCmdGetFormStyle(lua_State *L);
int qxCmdSetLineWidth(lua_State *L);
int qxCmdGetLineWidth(lua_State *L);
}
