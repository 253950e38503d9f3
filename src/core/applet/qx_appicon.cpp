// The icon slots, filled by the applet loader's icon block; the image
// objects build the application icon set from them (qxBuildAppIcons).
#include "core/applet/qx_appicon.h"

#include <cstring>

#include "platform/qx_memory.h"

extern "C" {

qxIconSlot qxIconSlots[QX_ICON_SLOTS] = {
    {nullptr, "ic16x16", 16, 16, 0},          {nullptr, "ic24x24", 24, 24, 0},
    {nullptr, "ic32x32", 32, 32, 0},          {nullptr, "ic48x48", 48, 48, 0},
    {nullptr, "ic64x64", 64, 64, 0},          {nullptr, "ic96x96", 96, 96, 0},
    {nullptr, "ic128x128", 128, 128, 0},      {nullptr, "ic256x256", 256, 256, 0},
    {nullptr, "ic512x512", 512, 512, 0},      {nullptr, "ic1024x1024", 1024, 1024, 0},
    {nullptr, "ic16x16s", 16, 16, 0},         {nullptr, "ic24x24s", 24, 24, 0},
    {nullptr, "ic32x32s", 32, 32, 0},         {nullptr, "ic48x48s", 48, 48, 0},
    {nullptr, "ic64x64s", 64, 64, 0},         {nullptr, "ic96x96s", 96, 96, 0},
    {nullptr, "ic128x128s", 128, 128, 0},     {nullptr, "ic256x256s", 256, 256, 0},
    {nullptr, "ic512x512s", 512, 512, 0},     {nullptr, "ic1024x1024s", 1024, 1024, 0},
};

int qxFillIconSlot(uint32_t width, uint32_t height, uint32_t flags, const char *chunkName)
{
    uint32_t first = (flags & 1) ? 10 : 0;
    for (uint32_t i = first; i < first + 10; i++) {
        qxIconSlot &slot = qxIconSlots[i];
        if (slot.path || slot.width != width || slot.height != height) continue;
        size_t n = std::strlen(chunkName) + 1;
        slot.path = static_cast<char *>(qxAlloc(n, 0));
        if (!slot.path) return 0;
        std::memcpy(slot.path, chunkName, n);
        slot.isDefault = (flags & 2) ? 1 : 0;
        return 1;
    }
    return 1;
}

void qxFreeIconSlots(void)
{
    for (qxIconSlot &slot : qxIconSlots) {
        qxFree(slot.path);
        slot.path = nullptr;
        slot.isDefault = 0;
    }
}
}
