// Until the plug-in loader exists no plug-in is found, so every step here
// has nothing to do.
#include "core/qx_plugins.h"

extern "C" {

int qxExtractLinkedPlugins(const char *, uint32_t) { return 0; }
int qxCountPluginFiles(qxStartupInfo *) { return 0; }
int qxLoadAllPlugins(lua_State *, qxStartupInfo *, qxAppletInfo *) { return 0; }
void qxFreeLibraryPlugins(lua_State *) {}
void qxUnloadPlugins(void) {}
qxAdapterMainLoopFunc qxGetAdapterMainLoop(void) { return nullptr; }
}
