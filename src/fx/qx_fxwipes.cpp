// The effect table's first list: the wipe effects.
#include "fx/qx_fxwipes.h"

static const qxFXEffect wipes[] = {
    {0, nullptr, nullptr},
};

const qxFXEffectList qxFXEffectsI = {wipes, 0};
