// Resolution of a script's file name against the files linked into the applet.
#include <algorithm>
#include <cstring>
#include <string>
#include <strings.h>

#include "core/files/qx_chunkname.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "platform/qx_paths.h"
#include "platform/qx_text.h"

namespace {

constexpr char kFontPrefix[] = "::font:";
constexpr size_t kFontPrefixLength = sizeof kFontPrefix - 1;

bool endsWithNoCase(const std::string &s, const char *suffix)
{
    size_t n = std::strlen(suffix);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

std::string forwardSlashes(const char *s)
{
    std::string out(s);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

// A registry value stored as light userdata, or null.
void *registryPointer(lua_State *L, const char *key) { return L ? luaL_getregptr(L, key) : nullptr; }

} // namespace

extern "C" {

const char *qxResolveFileName(lua_State *L, const char *name, int fontMode, int *isFont)
{
    static char resolved[QX_CHUNKNAME_MAX];
    static std::string ordinary;
    if (isFont) *isFont = 0;
    if (!name) return name;

    // A script's name is never a memory-file descriptor; "./" keeps the
    // same file while taking it out of the descriptor's form.
    if (std::strncmp(name, ":::memory", 9) == 0) {
        ordinary = std::string("./") + name;
        return ordinary.c_str();
    }

    auto *applet = static_cast<qxAppletInfo *>(registryPointer(L, "applet"));
    if (!applet) applet = qxApplet;
    if (!applet || !applet->linkedFiles) return name;

    std::string wanted = name;
    bool font = fontMode && !endsWithNoCase(wanted, ".ttf") && !endsWithNoCase(wanted, ".otf");
    if (font && endsWithNoCase(wanted, ".font")) wanted.resize(wanted.size() - 5);
    if (!font) wanted = forwardSlashes(name);

    for (const qxLinkedFile *f = applet->linkedFiles; f; f = f->next) {
        bool fontEntry = std::strncmp(f->name, kFontPrefix, kFontPrefixLength) == 0;
        if (fontEntry != font) continue;
        const char *entryName = font ? f->name + kFontPrefixLength : f->name;
        bool match = font ? qxStrICmp(entryName, wanted.c_str()) == 0
                          : qxStrICmp(forwardSlashes(entryName).c_str(), wanted.c_str()) == 0;
        if (!match) continue;

        const char *container = f->container;
        if (!container[0]) {
            auto *startup = static_cast<qxStartupInfo *>(registryPointer(L, "clargs"));
            container = startup ? startup->programPath : qxGetProgramPath();
            if (!container) container = "";
        }
        if (!qxMakeChunkName(entryName, resolved, sizeof resolved, f->offset, f->size, qxAppendedOffset, container))
            return name;
        if (isFont) *isFont = font ? 1 : 0;
        return resolved;
    }
    return name;
}

const char *qxGetFileNameArg(lua_State *L, int index, int fontMode, int *isFont)
{
    const char *name = luaL_checkstring(L, index);
    return qxResolveFileName(L, name, fontMode, isFont);
}

} // extern "C"
