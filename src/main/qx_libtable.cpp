#include "main/qx_libtable.h"

#include "display/qx_asyncdraw.h"
#include "display/qx_displaylibs.h"
#include "draw/qx_drawlibs.h"
#include "fx/qx_fxlibs.h"
#include "layers/qx_layerlibs.h"
#include "libs/qx_corelibs.h"
#include "media/qx_medialibs.h"
#include "net/qx_netlibs.h"
#include "objects/qx_objectlibs.h"

extern "C" {

// Opening order; later libraries may rely on earlier ones being open.
const qxLibraryDef qxLibraryTable[] = {
    {"string", qxOpenStringLib},
    {"math", qxOpenMathLib},
    {"graphics", qxOpenGraphicsLib},
    {"draw", qxOpenDrawLib},
    {"moveobject", qxOpenMoveObjectLib},
    {"dos", qxOpenDosLib},
    {"event", qxOpenEventLib},
    {"system", qxOpenSystemLib},
    {"layers", qxOpenLayersLib},
    {"text", qxOpenTextLib},
    {"anim", qxOpenAnimLib},
    {"display", qxOpenDisplayLib},
    {"sound", qxOpenSoundLib},
    {"brush", qxOpenBrushLib},
    {"bgpic", qxOpenBGPicLib},
    {"transitionfx", qxOpenTransitionFXLib},
    {"sprite", qxOpenSpriteLib},
    {"memblock", qxOpenMemBlockLib},
    {"vectorgraphics", qxOpenVectorGraphicsLib},
    {"icon", qxOpenIconLib},
    {"serial", qxOpenSerialLib},
    {"network", qxOpenNetworkLib},
    {"video", qxOpenVideoLib},
    {"arexx", qxOpenARexxLib},
    {nullptr, nullptr},
};


void qxCloseCommandLibraries(lua_State *L)
{
    // Libraries that others depend on close last.
    qxCloseSoundLib(L);
    // Async draws end while the objects they read and draw on still exist.
    qxFreeAllAsyncDraws();
    qxCloseDisplayLib(L);
    qxFreeNetObjects();
    qxGraphicsLibFree(L);
    qxFreeDrawLibrary();
    qxFreeIcons(L);
    qxFreeAllBrushes(L);
    qxFreeAllBGPics(L);
    qxFreeAllVideos(L);
    qxVectorLibClose(L);
    qxFreeAllSprites(L);
    qxFreeSerialPorts(L);
    qxFreeSystemLib(L);
    qxTextLibFree(L);
    qxFreeAllAnims(L);
    qxLayerLibClose();
    qxCloseDosLib(L);
    qxFreeAllMemBlocks(L);
    qxFreeEventLib(L);
    qxFreeAllMusic(L);
}
}
