// The effect table's second list: every effect that is not a wipe.
#include "fx/qx_fxrenderers.h"
#include "fx/qx_transitionfx.h"

namespace {

#define QX_FX4(first, step, cleanup)                                                                                 \
    {first, step, cleanup}, {first + 1, step, cleanup}, {first + 2, step, cleanup}, {first + 3, step, cleanup}

const qxFXEffect others[] = {
    QX_FX4(47, qxFXScrollStep, qxFXScrollCleanup),
    QX_FX4(51, qxFXScrollStep, qxFXScrollCleanup),
    QX_FX4(55, qxFXStretchStep, qxFXStretchCleanup),
    QX_FX4(59, qxFXStretchStep, qxFXStretchCleanup),
    QX_FX4(63, qxFXStretchStep, qxFXStretchCleanup),
    {67, qxFXStretchStep, qxFXStretchCleanup},
    {68, qxFXStretchStep, qxFXStretchCleanup},
    {69, qxFXStretchStep, qxFXStretchCleanup},
    QX_FX4(70, qxFXFlowStep, qxFXFlowCleanup),
    QX_FX4(74, qxFXGateStep, nullptr),
    QX_FX4(78, qxFXPushStep, nullptr),
    QX_FX4(84, qxFXRollStep, qxFXRollCleanup),
    {97, qxFXClockWipeStep, qxFXClockWipeCleanup},
    {98, qxFXStarStep, qxFXStarCleanup},
    {99, qxFXStrangePushStep, qxFXStrangePushCleanup},
    {100, qxFXStrangePushStep, qxFXStrangePushCleanup},
    QX_FX4(101, qxFXSlideStep, nullptr),
    {111, qxFXCardStep, nullptr},
    {112, qxFXCardStep, nullptr},
    {114, qxFXSunStep, qxFXSunCleanup},
    {115, qxFXCrossfadeStep, qxFXCrossfadeCleanup},
    {116, qxFXFadeStep, qxFXFadeCleanup},
    {117, qxFXFadeStep, qxFXFadeCleanup},
    {118, qxFXZoomInOutStep, nullptr},
    {119, qxFXZoomInOutStep, nullptr},
    QX_FX4(120, qxFXCrushStep, nullptr),
    QX_FX4(124, qxFXFlipCoinStep, nullptr),
    QX_FX4(128, qxFXTurnDownStep, nullptr),
    QX_FX4(134, qxFXWaterStep, qxFXWaterCleanup),
    {132, qxFXPixelZoomStep, qxFXPixelZoomCleanup},
    {133, qxFXPixelZoomStep, qxFXPixelZoomCleanup},
    {138, qxFXStrudelStep, qxFXStrudelCleanup},
    {139, qxFXDissolveStep, qxFXDissolveCleanup},
};

#undef QX_FX4

} // namespace

const qxFXEffectList qxFXEffectsII = {others, sizeof(others) / sizeof(others[0])};
