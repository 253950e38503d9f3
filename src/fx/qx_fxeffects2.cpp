// The effect table's second list: every effect that is not a wipe.
#include "fx/qx_transitionfx.h"

const qxFXEffectList qxFXEffectsII = {nullptr, 0};
