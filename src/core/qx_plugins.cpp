// Until the plug-in loader exists no plug-in is found, so every step here
// has nothing to do.
#include "core/qx_plugins.h"

#include <strings.h>

#include <string>

#include "core/qx_errors.h"

extern "C" {

int qxCountPluginFiles(qxStartupInfo *) { return 0; }
int qxLoadAllPlugins(lua_State *, qxStartupInfo *, qxAppletInfo *) { return 0; }
void qxFreeLibraryPlugins(lua_State *) {}
void qxUnloadPlugins(void) {}

// Nothing is loaded, so every requirement is missing.
int qxLoadPlugin(lua_State *, const char *name, int version, int revision, int, int, int, qxRequireTag *,
                 uint32_t *flags)
{
    if (flags) *flags = 0;
    std::string text = name ? name : "";
    if (text.size() > 4 && strcasecmp(text.c_str() + text.size() - 4, ".qxp") == 0) text.resize(text.size() - 4);
    if (version > 0)
        text += " " + std::to_string(version) + "." + std::to_string(revision);
    else
        text += ".qxp";
    qxSetErrorString(text.c_str());
    return ERR_REQUIREPLUGIN;
}
qxAdapterMainLoopFunc qxGetAdapterMainLoop(void) { return nullptr; }
}
