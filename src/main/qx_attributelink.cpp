#include "main/qx_attributelink.h"

#include "core/files/qx_file.h"
#include "core/vm/lua.h"
#include "display/qx_displaylibs.h"
#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"
#include "libs/qx_dos.h"
#include "libs/qx_dosfs.h"
#include "net/qx_net.h"
#include "platform/qx_errcodes.h"

namespace {

constexpr int kAttrMode = 42, kAttrAdapter = 87;

int pushAdapter(lua_State *L, const qxAdapterNode *adapter)
{
    lua_pushstring(L, adapter && adapter->name ? adapter->name : "inbuilt");
    return 1;
}

int fileAttribute(lua_State *L, void *object, int attribute)
{
    const auto *f = static_cast<const qxDosFile *>(object);
    if (attribute == kAttrMode) {
        lua_pushnumber(L, f->mode);
        return 1;
    }
    if (attribute == kAttrAdapter) return pushAdapter(L, f->handle ? f->handle->adapter : nullptr);
    return -ERR_UNKNOWNATTR;
}

int directoryAttribute(lua_State *L, void *object, int attribute)
{
    const auto *d = static_cast<const qxDirectory *>(object);
    if (attribute != kAttrAdapter) return -ERR_UNKNOWNATTR;
    // A monitored directory has no adapter of its own to name.
    if (d->monitor) return -ERR_WRONGUSAGE;
    return pushAdapter(L, d->handle ? d->handle->dirAdapter : nullptr);
}

int clientAttribute(lua_State *L, void *object, int attribute)
{
    if (attribute != kAttrAdapter) return -ERR_UNKNOWNATTR;
    const auto *h = static_cast<const qxObjectHeader *>(object);
    char name[256];
    qxNetAdapterName(qxObjectRef{h->id, h->automatic}, name, sizeof name);
    lua_pushstring(L, name);
    return 1;
}

const void *currentFont(void) { return qxGetCurrentFont(); }

int describeFont(const void *font, qxFontFacts *out)
{
    const auto *f = static_cast<const qxFontHandle *>(font);
    *out = {f->baseline, f->height, f->size, f->scalable, f->antialias, f->name};
    return 0;
}

} // namespace

extern "C" void qxLinkObjectAttributes(void)
{
    qxFontQueries = {currentFont, describeFont};
    qxObjectAttributes[QX_TYPE_CLIENT] = clientAttribute;
    qxObjectAttributes[QX_TYPE_FILE] = fileAttribute;
    qxObjectAttributes[QX_TYPE_DIRECTORY] = directoryAttribute;
}
