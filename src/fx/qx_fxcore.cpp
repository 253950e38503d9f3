// Step sizes, frame counts, the random effect, the reverse map, the effect
// table lookup and the options table of the FX commands.
#include <cstdlib>
#include <initializer_list>

#include "core/commands/qx_args.h"
#include "core/vm/lua.h"
#include "fx/qx_transitionfx.h"

int32_t qxFXStepSize(int32_t speed, int32_t total, int32_t normalDivisor, int32_t fastDivisor, int32_t slowDivisor)
{
    int32_t divisor;
    switch (speed) {
    case QX_FX_NORMALSPEED: divisor = normalDivisor; break;
    case QX_FX_FASTSPEED: divisor = fastDivisor; break;
    case QX_FX_SLOWSPEED: divisor = slowDivisor; break;
    default: return speed > 0 ? speed : 1;
    }
    int32_t s = divisor > 0 ? total / divisor : 1;
    return s < 1 ? 1 : s;
}

int32_t qxFXFrameCount(int32_t total, int32_t step, int exact)
{
    if (total < 1) return 1;
    if (step < 1) step = 1;
    int64_t n = (int64_t(total) + step - 1) / step + (exact ? 0 : 1);
    return n > INT32_MAX ? INT32_MAX : int32_t(n);
}

int qxFXIsLayerOnly(int32_t id)
{
    return (id >= 74 && id <= 81) || (id >= 101 && id <= 104) || id == 111 || id == 112 || (id >= 118 && id <= 131) ||
           id == 133;
}

namespace {

bool in(int32_t id, int32_t lo, int32_t hi)
{
    return id >= lo && id <= hi;
}

} // namespace

int qxFXKeepsPlanes(int32_t id)
{
    return in(id, 47, 73) || in(id, 84, 87) || id == 99 || id == 100 || id == 116 || id == 117 || id == 132 ||
           id == 133;
}

int qxFXNeedsOldImage(int32_t id, int realtime)
{
    const bool always = id == 74 || id == 76 || in(id, 78, 81) || in(id, 101, 104) || id == 111 || id == 112 ||
                        id == 115 || in(id, 118, 131) || id == 133;
    const bool unlessRealtime = in(id, 55, 73) || in(id, 84, 87) || in(id, 97, 100) || id == 114 || id == 116 ||
                                id == 117 || id == 132 || in(id, 134, 139);
    return always || (unlessRealtime && !realtime) || ((id == 75 || id == 77) && realtime);
}

int qxFXIsFadeFamily(int32_t id)
{
    return in(id, 115, 117) || in(id, 134, 138);
}

int qxFXReverseNeedsRealtime(int32_t id)
{
    return in(id, 55, 73) || in(id, 84, 87) || id == 99 || id == 100 || id == 116 || id == 117 || id == 132 ||
           id == 133;
}

int qxFXSeeksDirectly(int32_t id)
{
    return in(id, 55, 81) || in(id, 84, 87) || in(id, 97, 104) || id == 111 || id == 112 || in(id, 114, 139);
}

int32_t qxFXRandomEffect(int restricted)
{
    for (;;) {
        int32_t id = int32_t(drand48() * 141.0);
        if (restricted && qxFXIsLayerOnly(id)) continue;
        if (id == QX_FX_RANDOMEFFECT || id == QX_FX_NOEFFECT || id > QX_FX_RANDOMEFFECT) continue;
        return id;
    }
}

int32_t qxFXReverseEffect(int32_t id)
{
    switch (id) {
    case 24: return 25;
    case 25: return 24;
    case 26: return 27;
    case 27: return 26;
    case 30: return 31;
    case 31: return 30;
    case 32: return 33;
    case 33: return 32;
    default: break;
    }
    if (id >= 38 && id <= 46) return id + 50;
    if (id >= 88 && id <= 96) return id - 50;
    return id;
}

const qxFXEffect *qxFXFindEffect(int32_t id)
{
    if (id < 0 || id >= QX_FX_COUNT || id == QX_FX_NOEFFECT) return nullptr;
    for (const qxFXEffectList *list : {&qxFXEffectsI, &qxFXEffectsII})
        for (size_t i = 0; i < list->count; i++)
            if (list->entries[i].id == id && list->entries[i].step) return &list->entries[i];
    return nullptr;
}

void qxFXReadOptions(lua_State *L, int t, qxTransitionFX *fx)
{
    fx->effect = QX_FX_RANDOMEFFECT;
    fx->speed = QX_FX_NORMALSPEED;
    fx->parameter = QX_FX_RANDOMPARAMETER;
    fx->undoLevel = 1;
    int v;
    if (qxGetFieldInt(L, t, "type", &v, nullptr)) fx->effect = v;
    if (qxGetFieldInt(L, t, "speed", &v, nullptr)) fx->speed = v;
    if (qxGetFieldInt(L, t, "parameter", &v, nullptr)) fx->parameter = v;
    if (qxGetFieldInt(L, t, "undolevel", &v, nullptr)) fx->undoLevel = v;
    if (qxGetFieldInt(L, t, "dx", &v, nullptr)) fx->x = v;
    if (qxGetFieldInt(L, t, "dy", &v, nullptr)) fx->y = v;
    if (qxGetFieldInt(L, t, "layers", &v, nullptr)) fx->layers = v != 0;
    if (qxGetFieldInt(L, t, "forcerealtimelayers", &v, nullptr)) fx->forceRealtime = v != 0;
    if (qxGetFieldInt(L, t, "async", &v, nullptr)) fx->async = v != 0;
    if (qxGetFieldInt(L, t, "noborderfade", &v, nullptr)) fx->noBorderFade = v != 0;
}
