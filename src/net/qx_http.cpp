#include "core/qx_errors.h"
#include "net/qx_net.h"
extern "C" int qxCmdDownloadFile(lua_State *) { return ERR_UNIMPLCMD; }
extern "C" int qxCmdUploadFile(lua_State *) { return ERR_UNIMPLCMD; }
