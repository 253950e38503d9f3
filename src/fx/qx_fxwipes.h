// Step functions of the wipe effects and the helpers they share.
#pragma once
#include "fx/qx_transitionfx.h"

// The private data of a renderer, allocated in phase 0.
template <class T> inline T *qxFXData(qxTransitionFX *fx)
{
    return static_cast<T *>(fx->data);
}

// Private data of `bytes` zero-filled bytes and the record's phase check:
// a renderer returns at once for phases other than 0 and 1.
inline bool qxFXPhaseIgnored(const qxTransitionFX *fx)
{
    return fx->phase != 0 && fx->phase != 1;
}

extern "C" {
int qxFXStripesH(qxTransitionFX *fx, int *done);
int qxFXStripesV(qxTransitionFX *fx, int *done);
int qxFXQuarters(qxTransitionFX *fx, int *done);
int qxFXBlindsH(qxTransitionFX *fx, int *done);
int qxFXBlindsV(qxTransitionFX *fx, int *done);
int qxFXBars(qxTransitionFX *fx, int *done);
int qxFXCurtain(qxTransitionFX *fx, int *done);
int qxFXLines(qxTransitionFX *fx, int *done);
int qxFXLines2(qxTransitionFX *fx, int *done);
int qxFXReveal(qxTransitionFX *fx, int *done);
int qxFXRect(qxTransitionFX *fx, int *done);
int qxFXRectBack(qxTransitionFX *fx, int *done);
int qxFXPuzzle(qxTransitionFX *fx, int *done);
void qxFXPuzzleCleanup(qxTransitionFX *fx);
int qxFXDiagonal(qxTransitionFX *fx, int *done);
int qxFXUpNDown(qxTransitionFX *fx, int *done);
int qxFXSplit(qxTransitionFX *fx, int *done);
int qxFXQuadRect(qxTransitionFX *fx, int *done);
int qxFXSwiss(qxTransitionFX *fx, int *done);
int qxFXSpiral(qxTransitionFX *fx, int *done);
// The puzzle's drawing order: a permutation of 0..n-1 from drand48, each
// entry the largest free number at or below its draw, else the smallest
// above it. 1000 when out of memory.
int qxFXPuzzleOrder(int32_t *order, int32_t n);
}
