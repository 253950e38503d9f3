// The transition driver.
#include "fx/qx_fxhooks.h"
#include "platform/qx_errcodes.h"

uint32_t qxFXBGPicTransition;

int qxFXRun(qxTransitionFX *)
{
    return ERR_WRONGUSAGE;
}
void qxFXFinish(qxTransitionFX *, int) {}
void qxFXFree(qxTransitionFX *, int) {}
int qxFXSeek(qxTransitionFX *, int32_t, int)
{
    return 0;
}
