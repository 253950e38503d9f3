// The "sound" command library.
#include "media/qx_medialibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef soundCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef soundConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenSoundLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "sound", soundCommands, soundConstants);
}

extern "C" void qxCloseSoundLib(lua_State *)
{
}

extern "C" void qxFreeAllMusic(lua_State *)
{
}

extern "C" void qxFreeAudioOutput(void)
{
}

// Sound settings handed over as runtime tags at start-up.
static uintptr_t soundNoSound, soundSetting, soundForce;

static uintptr_t *soundTagSlot(uint32_t tag)
{
    switch (tag) {
    case QX_TAG_NOSOUND: return &soundNoSound;
    case QX_TAG_SOUNDSETTING: return &soundSetting;
    case QX_TAG_FORCESOUND: return &soundForce;
    default: return nullptr;
    }
}

extern "C" int qxSoundAttrSetter(qxTagItem *item)
{
    uintptr_t *slot = soundTagSlot(item->tag);
    if (!slot)
        return 0;
    *slot = item->data;
    return 1;
}

extern "C" int qxSoundAttrGetter(qxTagItem *item)
{
    uintptr_t *slot = soundTagSlot(item->tag);
    if (!slot)
        return 0;
    item->data = *slot;
    return 1;
}
