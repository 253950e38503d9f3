// Step and cleanup functions of the moving, scaling, blending, kernel and
// mask effects, for the effect table.
#pragma once

#include "fx/qx_transitionfx.h"

extern "C" {
// FADE, BLEND
int qxFXFadeStep(qxTransitionFX *fx, int *done);
void qxFXFadeCleanup(qxTransitionFX *fx);
// CROSSFADE
int qxFXCrossfadeStep(qxTransitionFX *fx, int *done);
void qxFXCrossfadeCleanup(qxTransitionFX *fx);
// WATER1-4, STRUDEL
int qxFXWaterStep(qxTransitionFX *fx, int *done);
void qxFXWaterCleanup(qxTransitionFX *fx);
int qxFXStrudelStep(qxTransitionFX *fx, int *done);
void qxFXStrudelCleanup(qxTransitionFX *fx);
// ROLLTOP, ROLLLEFT, WALLPAPERTOP, WALLPAPERLEFT
int qxFXRollStep(qxTransitionFX *fx, int *done);
void qxFXRollCleanup(qxTransitionFX *fx);
// HFLOWTOP, HFLOWBOTTOM, VFLOWLEFT, VFLOWRIGHT
int qxFXFlowStep(qxTransitionFX *fx, int *done);
void qxFXFlowCleanup(qxTransitionFX *fx);
// PUSH*, SLIDE*, gates, cards
int qxFXPushStep(qxTransitionFX *fx, int *done);
int qxFXSlideStep(qxTransitionFX *fx, int *done);
int qxFXGateStep(qxTransitionFX *fx, int *done);
int qxFXCardStep(qxTransitionFX *fx, int *done);
// TURNDOWN*
int qxFXTurnDownStep(qxTransitionFX *fx, int *done);
// STRETCH*, ZOOM* (55-69)
int qxFXStretchStep(qxTransitionFX *fx, int *done);
void qxFXStretchCleanup(qxTransitionFX *fx);
// HSTRANGEPUSH, VSTRANGEPUSH; ZOOMIN, ZOOMOUT
int qxFXStrangePushStep(qxTransitionFX *fx, int *done);
void qxFXStrangePushCleanup(qxTransitionFX *fx);
int qxFXZoomInOutStep(qxTransitionFX *fx, int *done);
// DISSOLVE; PIXELZOOM1, PIXELZOOM2
int qxFXDissolveStep(qxTransitionFX *fx, int *done);
void qxFXDissolveCleanup(qxTransitionFX *fx);
int qxFXPixelZoomStep(qxTransitionFX *fx, int *done);
void qxFXPixelZoomCleanup(qxTransitionFX *fx);
// flip coin, crush
int qxFXFlipCoinStep(qxTransitionFX *fx, int *done);
int qxFXCrushStep(qxTransitionFX *fx, int *done);
// SCROLL* (47-54)
int qxFXScrollStep(qxTransitionFX *fx, int *done);
void qxFXScrollCleanup(qxTransitionFX *fx);
// Async method op 0: the scroll (and its move) follows the layer record
// that replaces its layer; 1 when it did.
int qxFXScrollFollowLayer(qxTransitionFX *fx, qxLayer *replaced);
// CLOCKWIPE, SUN, STAR
int qxFXClockWipeStep(qxTransitionFX *fx, int *done);
void qxFXClockWipeCleanup(qxTransitionFX *fx);
int qxFXSunStep(qxTransitionFX *fx, int *done);
void qxFXSunCleanup(qxTransitionFX *fx);
int qxFXStarStep(qxTransitionFX *fx, int *done);
void qxFXStarCleanup(qxTransitionFX *fx);
}
